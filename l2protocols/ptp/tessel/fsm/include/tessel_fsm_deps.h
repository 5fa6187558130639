// Calls the state machine makes into modules of the agent that have no header of their own in
// reach of this library yet: the port manager, the upgrade client, the best-master list, FIB
// reachability, offload sessions, packet counters and the unicast peers. Each declaration is
// the module's own function; the module defines it.
#pragma once

#include <cstdint>

#include "ptp_types.h"
#include "zerrno.h"

struct tessel_proto_idb_type;
struct ptp_fsm_foreign_master_type;
struct ptp_fsm_peer_entry_type;
struct tessel_chkpt_foreign_master_type;

// The port manager, the upgrade client and the best-master list are defined in the protocol
// thread's library (tessel_port_mgr.h, tessel_issu.h, tessel_bmc.h), whose headers this library
// cannot include; those headers include this one, so both sides see one declaration.

// ---- Port manager ----
uint32_t tessel_port_mgr_get_profile(void);            // ptp_profile_type
uint32_t tessel_port_mgr_get_telecom_clock_type(void); // ptp_telecom_clock_type

// ---- In-service upgrade client ----
inline constexpr uint32_t TESSEL_ISSU_ROLE_NONE = 0;
inline constexpr uint32_t TESSEL_ISSU_ROLE_PRIMARY = 1;
inline constexpr uint32_t TESSEL_ISSU_ROLE_SECONDARY = 2;
inline constexpr uint32_t TESSEL_ISSU_ROLE_RETIRING = 3;
uint32_t tessel_issu_get_issu_role(void);

// ---- Best-master list ----
void tessel_bmc_if_update(tessel_proto_idb_type *port);

// ---- FIB reachability ----
void tessel_fib_idb_unregister(tessel_proto_idb_type *port);

// ---- Offload sessions ----
void tessel_offload_if_session_update(tessel_proto_idb_type *port);
void tessel_offload_foreign_master_session_update(ptp_fsm_foreign_master_type *fm);
void tessel_offload_unicast_peer_session_update(ptp_fsm_peer_entry_type *peer);
void tessel_offload_idb_sessions_update(tessel_proto_idb_type *port);

// ---- Unicast peers and grants ----
// ptp_fsm_proto_module_init/_deinit, ptp_fsm_unicast_port_init/_shutdown, _allow_grants,
// _end_grants, _peer_sweep, _delete_all_peers, _peer_entry_find, _peer_entry_delete.
#include "tessel_fsm_unicast.h"

// ---- Packet counters ----
inline constexpr uint32_t PTP_FSM_DROP_REASON_NOT_FOR_US = 9;
void tessel_stats_increment_packet_drop_counter(tessel_proto_idb_type *port, uint32_t counter_class, uint32_t amount);
void tessel_stats_increment_packet_drop_reason(uint32_t reason, uint32_t amount);

// ---- Receive dispatch module: slave side, restore ----
// (the module's own functions, as tessel_fsm_proto.h declares them; the slave-table change,
// ptp_fsm_proto_slave_config_change, is declared there only)
void ptp_fsm_proto_start_slave(tessel_proto_idb_type *port);
void ptp_fsm_proto_reset_slave(tessel_proto_idb_type *port);
void ptp_fsm_proto_stop_slave(tessel_proto_idb_type *port);
void ptp_fsm_proto_foreign_master_relisten(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm, bool slaving);
zerrno ptp_fsm_proto_best_foreign_master_restore(tessel_proto_idb_type *port,
                                                 const tessel_chkpt_foreign_master_type *record, bool slaving,
                                                 bool start_listening);
