// A services table for tests of the state machine: every slot answers as a quiet, healthy
// neighbour (nothing recorded). A test starts from it and replaces the slots it watches, then
// installs the result with ptp_fsm_services_set.
#pragma once

#include "ptp_types.h"
#include "tessel_fsm_services.h"

inline ptp_fsm_services_type ptp_fsm_test_services_quiet()
{
    ptp_fsm_services_type s{};
    s.get_profile = [] { return uint32_t{PTP_PROFILE_DEFAULT}; };
    s.get_telecom_clock_type = [] { return uint32_t{PTP_TELECOM_CLOCK_T_BC}; };
    s.get_local_clock = []() -> const tessel_local_clock_type * { return nullptr; };
    s.get_min_clock_class = [] { return uint8_t{255}; };
    s.get_fsync_ql_option = [] { return uint8_t{1}; };
    s.get_issu_role = [] { return TESSEL_ISSU_ROLE_PRIMARY; };
    s.bmc_if_update = [](tessel_proto_idb_type *) {};
    s.bmc_get_node_bmc = []() -> const ptp_clock_type * { return nullptr; };
    s.count_packet = [](tessel_proto_idb_type *, const ptp_address_type *, uint32_t, uint32_t, uint32_t) {};
    s.count_packet_drop = [](tessel_proto_idb_type *, uint32_t, uint32_t) {};
    s.count_drop_reason = [](uint32_t, uint32_t) {};
    s.packet_send = [](tessel_proto_idb_type *, const uint8_t *, uint16_t, int, const ptp_address_type *,
                       const ptp_address_type *, const tessel_packet_ts_data_type *, const ptp_adjacency_type *,
                       const tessel_fib_update_type *) { return zerrno{0}; };
    s.offload_if_session_update = [](tessel_proto_idb_type *) {};
    s.offload_foreign_master_session_update = [](ptp_fsm_foreign_master_type *) {};
    s.offload_unicast_peer_session_update = [](ptp_fsm_peer_entry_type *) {};
    s.offload_idb_sessions_update = [](tessel_proto_idb_type *) {};
    s.fib_pulse = [] {};
    s.fib_idb_unregister = [](tessel_proto_idb_type *) {};
    s.fib_foreign_master_unregister = [](ptp_fsm_foreign_master_type *) {};
    s.fib_unicast_peer_unregister = [](ptp_fsm_peer_entry_type *) {};
    s.peer_index_acquire = [](tessel_proto_idb_type *, const ptp_address_type *) { return zerrno{0}; };
    s.peer_index_release = [](tessel_proto_idb_type *, const ptp_address_type *) {};
    s.adjacency_foreign_master_request = [](ptp_fsm_foreign_master_type *) {};
    s.adjacency_unicast_peer_request = [](ptp_fsm_peer_entry_type *) {};
    s.adjacency_get = [](ifhtype, const ptp_address_type *, ptp_adjacency_type *out) { *out = ptp_adjacency_type{}; };
    s.chkpt_unicast_grant_delete = [](ptp_fsm_peer_entry_type *) {};
    return s;
}
