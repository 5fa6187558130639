// The state machine's services as the protocol thread provides them.
#include "tessel_proto_fsm_services.h"

#include "tessel_bmc.h"
#include "tessel_issu.h"
#include "tessel_packet.h"
#include "tessel_port_mgr.h"
#include "tessel_port_mgr_deps.h"
#include "tessel_stats.h"

namespace {
const ptp_clock_type *node_bmc(void)
{
    return tessel_bmc_get_node_bmc();
}

constexpr ptp_fsm_services_type proto_services{
    .get_profile = tessel_port_mgr_get_profile,
    .get_telecom_clock_type = tessel_port_mgr_get_telecom_clock_type,
    .get_local_clock = tessel_port_mgr_get_local_clock,
    .get_min_clock_class = tessel_port_mgr_get_min_clock_class,
    .get_fsync_ql_option = tessel_cfg_get_fsync_ql_option,
    .get_issu_role = tessel_issu_get_issu_role,
    .bmc_if_update = tessel_bmc_if_update,
    .bmc_get_node_bmc = node_bmc,
    .count_packet = tessel_stats_increment_packet_counter,
    .count_packet_drop = tessel_stats_increment_packet_drop_counter,
    .count_drop_reason = tessel_stats_increment_packet_drop_reason,
    .packet_send = tessel_packet_send,
    .offload_if_session_update = tessel_offload_if_session_update,
    .offload_foreign_master_session_update = tessel_offload_foreign_master_session_update,
    .offload_unicast_peer_session_update = tessel_offload_unicast_peer_session_update,
    .offload_idb_sessions_update = tessel_offload_idb_sessions_update,
    .fib_pulse = tessel_fib_pulse,
    .fib_idb_unregister = tessel_fib_idb_unregister,
    .fib_foreign_master_unregister = tessel_fib_foreign_master_unregister,
    .fib_unicast_peer_unregister = tessel_fib_unicast_peer_unregister,
    .peer_index_acquire = tessel_peer_index_acquire,
    .peer_index_release = tessel_peer_index_release,
    .adjacency_foreign_master_request = tessel_adjacency_foreign_master_request,
    .adjacency_unicast_peer_request = tessel_adjacency_unicast_peer_request,
    .adjacency_get = tessel_adjacency_get,
    .chkpt_unicast_grant_delete = tessel_chkpt_unicast_grant_delete,
};
} // namespace

const ptp_fsm_services_type *tessel_proto_fsm_services(void)
{
    return &proto_services;
}
