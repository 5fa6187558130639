// Calls the protocol thread makes into modules of the agent that have no header of their own
// yet (the checkpoint code, the global configuration, the interface manager's names), and the two
// thread-control calls, whose header lives with the IPC thread above this library. Modules with a
// header of their own are included. Each declaration is the module's own function; the module
// defines it. The state machine reaches the per-peer ones through its services table
// (tessel_proto_fsm_services.h).
#pragma once

#include <cstdint>

#include "evm.h"
#include "ptp_types.h"
#include "tessel_adjacency.h"
#include "tessel_comms.h"
#include "tessel_edm_trap.h"
#include "tessel_fib.h"
#include "tessel_intf_caps.h"
#include "tessel_offload.h"
#include "tessel_peer_index.h"
#include "tessel_port_num.h"
#include "zerrno.h"

struct tessel_proto_idb_type;
struct tessel_ipc_idb_type;
struct ptp_fsm_peer_entry_type;
struct ptp_fsm_foreign_master_type;

// ---- Inter-thread messages ----
bool tessel_thread_ctrl_is_proto_thread();
// Sends the parked reply of the message being answered later.
void tessel_thread_ctrl_reply(zerrno result);

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

// ---- Interface manager (its client library, which the agent program links) ----
const char *im_state_name(uint32_t state);
