// The controller's system-wide port-number allocation: start-up, restore and checkpoint notices.
#pragma once

#include "chkpt.h"
#include "evm.h"
#include "zerrno.h"

zerrno quorrin_port_num_init(event_mgr_type *evm);
// The controller became active on the KVOLM node: rebuild the allocations.
void quorrin_port_num_restore(void);
// At exit; delete_entries: the loop ended normally, so the checkpoint entries go too.
void quorrin_port_num_shutdown(bool delete_entries);
void quorrin_port_num_chkpt_ndt(const chkpt_ndt_type *notice);

// On an upgrade role change: drop the entries that no allocation owns.
void quorrin_port_num_chkpt_delete_all(void);
// Port numbers in use across the system (always below 65536).
uint32_t quorrin_port_num_get_active_count(void);

// ---- Inspection, for the operational data and tests ----

inline constexpr uint32_t QUORRIN_PORT_NUM_TABLE_ID = 1;
inline constexpr uint32_t QUORRIN_PORT_NUM_CHKPT_ENTRY_SIZE = 12;
inline constexpr uint32_t QUORRIN_PORT_NUM_RESYNC_QUEUE_MS = 5000;
inline constexpr uint32_t QUORRIN_PORT_NUM_RESYNC_MS = 15000;
inline constexpr uint32_t QUORRIN_PORT_NUM_NODE_MS = 300000;
// The sweep's node id for every node.
inline constexpr uint32_t QUORRIN_PORT_NUM_ALL_NODES = 0xFFFFFFFFu;

// The number held for an interface, 0 for none; its owning node through node_id.
uint16_t quorrin_port_num_lookup(uint32_t ifhandle, uint32_t *node_id);
// Allocations counted on a node's record; false when the node has no record.
bool quorrin_port_num_node_count(uint32_t node_id, uint32_t *count);
uint32_t quorrin_port_num_node_record_count(void);
bool quorrin_port_num_is_resync_running(void);
bool quorrin_port_num_is_resync_queued(void);
