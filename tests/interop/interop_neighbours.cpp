// Recording fakes of the neighbours of unicast negotiation that are not built yet (see
// interop_neighbours.h). Weak, so that a module's real definition takes precedence once linked;
// the packet module's own neighbours are the fakes of its unit test (tessel_packet_test_fake).
#include "interop_neighbours.h"

#include "tessel_fsm.h"
#include "tessel_fsm_deps.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_types.h"
#include "tessel_fsm_unicast.h"
#include "tessel_fsm_unicast_deps.h"
#include "tessel_stats.h"

#define FAKE __attribute__((weak))

nb_state_type nb;

void nb_reset()
{
    nb = nb_state_type{};
}

uint32_t nb_offload_confirm(tessel_proto_idb_type *port)
{
    static constexpr uint32_t MSG_TYPES[PTP_FSM_PEER_GRANT_KINDS] = {PTP_MSG_ANNOUNCE, PTP_MSG_SYNC,
                                                                     PTP_MSG_DELAY_RESP};
    uint32_t sent = 0;
    // A copy: nothing here deletes a peer, but the set must not be walked while it may change.
    const std::vector<ptp_fsm_peer_entry_type *> peers(nb.peer_sessions.begin(), nb.peer_sessions.end());
    for (ptp_fsm_peer_entry_type *e : peers) {
        if (e->port != port) {
            continue;
        }
        for (uint32_t k = 0; k < PTP_FSM_PEER_GRANT_KINDS; k++) {
            if (e->grant[k].reply_pending) {
                e->grant[k].app_log_interval = e->grant[k].log_interval;
                ptp_fsm_send_unicast_grant_reply(port, e, MSG_TYPES[k]);
                sent++;
            }
        }
    }
    return sent;
}

namespace {
void rec(const std::string &what)
{
    nb.calls.push_back(what);
}
} // namespace

// ---- Node values ----
FAKE const tessel_local_clock_type *tessel_port_mgr_get_local_clock(void)
{
    return &nb.local_clock;
}
FAKE uint32_t tessel_port_mgr_get_profile(void)
{
    return nb.profile;
}
FAKE uint32_t tessel_port_mgr_get_telecom_clock_type(void)
{
    return PTP_TELECOM_CLOCK_T_BC;
}
FAKE uint8_t tessel_port_mgr_get_min_clock_class(void)
{
    return 255;
}
FAKE uint32_t tessel_issu_get_issu_role(void)
{
    return TESSEL_ISSU_ROLE_PRIMARY;
}
FAKE uint8_t tessel_cfg_get_fsync_ql_option(void)
{
    return 1;
}
FAKE const ptp_clock_type *tessel_bmc_get_node_bmc(void)
{
    return nullptr;
}
FAKE void tessel_bmc_if_update(tessel_proto_idb_type *)
{
    rec("bmc_if_update");
}

// ---- Counters ----
FAKE void tessel_stats_increment_packet_counter(tessel_proto_idb_type *, const ptp_address_type *,
                                                uint32_t counter_class, uint32_t direction, uint32_t amount)
{
    if (counter_class == TESSEL_PACKET_COUNTER_SIGNALING) {
        (direction == TESSEL_PACKET_SENT ? nb.signaling_sent : nb.signaling_received) += amount;
    }
}

// ---- Peer indices, FIB, adjacency (the kernel resolves neighbours), checkpoint ----
FAKE zerrno tessel_peer_index_acquire(tessel_proto_idb_type *, const ptp_address_type *)
{
    return 0;
}
FAKE void tessel_peer_index_release(tessel_proto_idb_type *, const ptp_address_type *) {}
FAKE void tessel_fib_pulse(void) {}
FAKE void tessel_fib_unicast_peer_unregister(ptp_fsm_peer_entry_type *) {}
FAKE void tessel_fib_foreign_master_unregister(ptp_fsm_foreign_master_type *) {}
FAKE void tessel_fib_idb_unregister(tessel_proto_idb_type *) {}
FAKE void tessel_adjacency_unicast_peer_request(ptp_fsm_peer_entry_type *) {}
FAKE void tessel_adjacency_foreign_master_request(ptp_fsm_foreign_master_type *) {}
FAKE void tessel_adjacency_get(ifhtype, const ptp_address_type *, ptp_adjacency_type *out)
{
    *out = ptp_adjacency_type{};
}
FAKE void tessel_chkpt_unicast_grant_update(ptp_fsm_peer_entry_type *) {}
// The peer is about to be freed: its session goes with it.
FAKE void tessel_chkpt_unicast_grant_delete(ptp_fsm_peer_entry_type *peer)
{
    nb.peer_sessions.erase(peer);
}

// ---- Offload sessions ----
FAKE void tessel_offload_if_session_update(tessel_proto_idb_type *) {}
FAKE void tessel_offload_foreign_master_session_update(ptp_fsm_foreign_master_type *)
{
    rec("fm_session");
}
FAKE void tessel_offload_unicast_peer_session_update(ptp_fsm_peer_entry_type *peer)
{
    nb.peer_sessions.insert(peer);
}
FAKE void tessel_offload_idb_sessions_update(tessel_proto_idb_type *) {}
