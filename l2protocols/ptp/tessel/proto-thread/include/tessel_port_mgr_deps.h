// Calls the port manager and the best-master list make into modules of the agent that have no
// header of their own yet: the controller link, the port-number client, offload sessions, FIB
// and adjacency, the slave-lost trap, peer indices, packet I/O attachment, the checkpoint code,
// the interface capabilities and the interface manager's names.
// Each declaration is the module's own function; the module defines it.
#pragma once

#include <cstdint>

#include "evm.h"
#include "ptp_types.h"
#include "zerrno.h"

struct tessel_proto_idb_type;
struct tessel_ipc_idb_type;
struct ptp_fsm_peer_entry_type;

// ---- Controller link ----
zerrno tessel_comms_init(event_mgr_type *evm);
void tessel_comms_cleanup(void);
void tessel_comms_time_update_add(const void *record);
void tessel_comms_bmc_msg_send_damped(void);
void tessel_comms_resync(void);

// ---- Port-number client ----
zerrno tessel_port_num_init(event_mgr_type *evm);
void tessel_port_num_cleanup(void);
zerrno tessel_port_num_batches_init(void);
void tessel_port_num_send_ma_resync_msg(void);
void tessel_port_num_request_add(tessel_proto_idb_type *idb);
void tessel_port_num_release_add(tessel_proto_idb_type *idb);

// ---- Offload sessions ----
zerrno tessel_offload_init(event_mgr_type *evm);
void tessel_offload_shutdown(void);
void tessel_offload_flush(void);

// ---- FIB and adjacency ----
zerrno tessel_fib_init(event_mgr_type *evm);
void tessel_fib_close(void);
zerrno tessel_adjacency_init(event_mgr_type *evm);
void tessel_adjacency_cleanup(void);

// ---- Slave-lost trap ----
zerrno tessel_proto_edm_trap_init(event_mgr_type *evm);
void tessel_proto_edm_trap_cleanup(void);
void tessel_proto_edm_trap_generate_slave_lost(const ptp_address_type *local, const ptp_address_type *peer,
                                               int present);

// ---- Peer indices ----
zerrno tessel_peer_index_idb_init(tessel_proto_idb_type *idb);
void tessel_peer_index_idb_cleanup(tessel_proto_idb_type *idb);
void tessel_peer_index_sweep(void);

// ---- Packet I/O attachment ----
zerrno tessel_packet_init(event_mgr_type *evm);
void tessel_packet_cleanup(void);
void tessel_packet_attach(tessel_proto_idb_type *idb);
void tessel_packet_detach(tessel_proto_idb_type *idb);
void tessel_packet_process_attach(void);
void tessel_packet_resync_start(void);
void tessel_packet_resync_end(void);

// ---- Checkpoint ----
extern uint32_t tessel_chkpt_recovering;
void tessel_chkpt_if_update(tessel_proto_idb_type *idb);
void tessel_chkpt_if_delete(tessel_proto_idb_type *idb);
zerrno tessel_chkpt_if_fsm_restore(tessel_proto_idb_type *idb);
void tessel_chkpt_unicast_grant_update(ptp_fsm_peer_entry_type *entry);
void tessel_chkpt_unicast_grant_delete(ptp_fsm_peer_entry_type *entry);
void tessel_chkpt_gl_local_clock_update(uint64_t clock_id, uint32_t domain);
void tessel_chkpt_gl_bmc_update(const ptp_clock_type *bmc, const ptp_clock_type *advertised, uint32_t selected,
                                uint32_t synced, uint32_t slave_supported);
void tessel_chkpt_gl_profile_update(uint32_t profile, uint32_t telecom_clock_type);
void tessel_chkpt_gl_min_clock_class_update(uint8_t min_clock_class);
zerrno tessel_chkpt_tables_register(void);
void tessel_chkpt_read(void);
zerrno tessel_chkpt_idt_timer_start(event_mgr_type *evm);
uint32_t tessel_chkpt_is_idt_timer_expired(void);
void tessel_chkpt_sweep_stale(void);
void tessel_chkpt_shutdown(void);

// ---- Interface capabilities ----
bool tessel_intf_caps_supports_slave(void);
bool tessel_intf_caps_supports_slave_ext(void);
bool tessel_intf_caps_supports_platform_adjacency(void);

// ---- Interface manager ----
const char *im_state_name(uint32_t state);
