// Calls the protocol thread makes into modules of the agent that have no header of their own
// yet: offload sessions, FIB and adjacency, peer indices, the checkpoint
// code, the global configuration and the interface manager's names (the controller link, the
// port-number client and the interface capabilities have their own headers, included here).
// Each declaration is the module's own function; the module defines it. The state machine
// reaches the per-peer ones through its services table (tessel_proto_fsm_services.h).
// Each declaration is the module's own function; the module defines it.
#pragma once

#include <cstdint>

#include "evm.h"
#include "ptp_types.h"
#include "tessel_adjacency_types.h"
#include "tessel_comms.h"
#include "tessel_edm_trap.h"
#include "tessel_intf_caps.h"
#include "tessel_port_num.h"
#include "zerrno.h"

struct tessel_proto_idb_type;
struct tessel_ipc_idb_type;
struct ptp_fsm_peer_entry_type;
struct ptp_fsm_foreign_master_type;

// ---- Offload sessions ----
zerrno tessel_offload_init(event_mgr_type *evm);
void tessel_offload_shutdown(void);
void tessel_offload_flush(void);
void tessel_offload_if_session_update(tessel_proto_idb_type *idb);
void tessel_offload_foreign_master_session_update(ptp_fsm_foreign_master_type *fm);
void tessel_offload_unicast_peer_session_update(ptp_fsm_peer_entry_type *peer);
void tessel_offload_idb_sessions_update(tessel_proto_idb_type *idb);
// Asks the plugin for fresh statistics of every encapsulation; *pending: answers outstanding.
zerrno tessel_offload_get_stats(uint32_t *pending);
// Resets the plugin's session statistics of the interface (0: of every interface).
void tessel_offload_clear_stats(ifhtype ifhandle);

// ---- Inter-thread messages ----
bool tessel_thread_ctrl_is_proto_thread();
// Sends the parked reply of the message being answered later.
void tessel_thread_ctrl_reply(zerrno result);

// ---- FIB and adjacency ----
zerrno tessel_fib_init(event_mgr_type *evm);
void tessel_fib_close(void);
void tessel_fib_pulse(void);
void tessel_fib_idb_unregister(tessel_proto_idb_type *idb);
void tessel_fib_foreign_master_unregister(ptp_fsm_foreign_master_type *fm);
void tessel_fib_unicast_peer_unregister(ptp_fsm_peer_entry_type *peer);
zerrno tessel_adjacency_init(event_mgr_type *evm);
void tessel_adjacency_cleanup(void);
void tessel_adjacency_foreign_master_request(ptp_fsm_foreign_master_type *fm);
void tessel_adjacency_unicast_peer_request(ptp_fsm_peer_entry_type *peer);
void tessel_adjacency_get(ifhtype ifhandle, const ptp_address_type *addr, ptp_adjacency_type *out);

// ---- Peer indices ----
zerrno tessel_peer_index_idb_init(tessel_proto_idb_type *idb);
void tessel_peer_index_idb_cleanup(tessel_proto_idb_type *idb);
void tessel_peer_index_sweep(void);
zerrno tessel_peer_index_acquire(tessel_proto_idb_type *idb, const ptp_address_type *addr);
void tessel_peer_index_release(tessel_proto_idb_type *idb, const ptp_address_type *addr);

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

// ---- Global configuration ----
uint8_t tessel_cfg_get_fsync_ql_option(void);

// ---- Interface manager ----
const char *im_state_name(uint32_t state);
