// The state machine's services for the negotiation tests (see interop_neighbours.h); what the
// tests play of the agent's entry and IPC thread is in interop_agent_threads.cpp.
#include "interop_neighbours.h"

#include <iterator>

#include "tessel_bmc.h"
#include "tessel_fsm.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_services.h"
#include "tessel_fsm_test_services.h"
#include "tessel_fsm_types.h"
#include "tessel_fsm_unicast.h"
#include "tessel_packet.h"
#include "tessel_peer_index.h"
#include "tessel_port_mgr.h"
#include "tessel_stats.h"

nb_state_type nb;

namespace {
void install_services(bool port_manager);
} // namespace

void nb_reset()
{
    nb = nb_state_type{};
    install_services(false);
}

void nb_use_port_manager()
{
    install_services(true);
    tessel_port_mgr_profile_change(nb.profile, PTP_TELECOM_CLOCK_T_BC);
    tessel_port_mgr_min_clock_class_change(255);
    tessel_port_mgr_local_clock_update(&nb.local_clock);
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

namespace {
void install_services(bool port_manager)
{
    ptp_fsm_services_type s = ptp_fsm_test_services_quiet();
    // Packet transmit and the best-master list are the protocol thread's own.
    s.packet_send = tessel_packet_send;
    s.bmc_if_update = tessel_bmc_if_update;
    s.bmc_get_node_bmc = [] { return tessel_bmc_get_node_bmc(); };
    // The counters window is not opened here: drops and Signaling counts are kept in nb.
    s.count_drop_reason = [](uint32_t reason, uint32_t amount) {
        if (reason < std::size(nb.drop_reason)) {
            nb.drop_reason[reason] += amount;
        }
    };
    s.count_packet_drop = [](tessel_proto_idb_type *, uint32_t counter_class, uint32_t amount) {
        if (counter_class < std::size(nb.drop_class)) {
            nb.drop_class[counter_class] += amount;
        }
    };
    if (port_manager) {
        s.get_local_clock = tessel_port_mgr_get_local_clock;
        s.get_profile = tessel_port_mgr_get_profile;
        s.get_telecom_clock_type = tessel_port_mgr_get_telecom_clock_type;
        s.get_min_clock_class = tessel_port_mgr_get_min_clock_class;
    } else {
        s.get_local_clock = []() -> const tessel_local_clock_type * { return &nb.local_clock; };
        s.get_profile = [] { return nb.profile; };
    }
    // The upgrade client is not started here: the agent runs as the primary (the quiet table's).
    s.count_packet = [](tessel_proto_idb_type *, const ptp_address_type *, uint32_t counter_class, uint32_t direction,
                        uint32_t amount) {
        if (counter_class == TESSEL_PACKET_COUNTER_SIGNALING) {
            (direction == TESSEL_PACKET_SENT ? nb.signaling_sent : nb.signaling_received) += amount;
        }
    };
    // Peer indices are the protocol thread's own (each port's tree set up by its test).
    s.peer_index_acquire = tessel_peer_index_acquire;
    s.peer_index_release = tessel_peer_index_release;
    // FIB, adjacency (the kernel resolves neighbours), grant checkpoint.
    s.fib_pulse = [] {};
    s.fib_unicast_peer_unregister = [](ptp_fsm_peer_entry_type *) {};
    s.fib_foreign_master_unregister = [](ptp_fsm_foreign_master_type *) {};
    s.fib_idb_unregister = [](tessel_proto_idb_type *) {};
    s.adjacency_unicast_peer_request = [](ptp_fsm_peer_entry_type *) {};
    s.adjacency_foreign_master_request = [](ptp_fsm_foreign_master_type *) {};
    s.adjacency_get = [](ifhtype, const ptp_address_type *, ptp_adjacency_type *out) { *out = ptp_adjacency_type{}; };
    // The peer is about to be freed: its session goes with it.
    s.chkpt_unicast_grant_delete = [](ptp_fsm_peer_entry_type *peer) { nb.peer_sessions.erase(peer); };
    // Offload sessions: a peer's session exists from its first update.
    s.offload_if_session_update = [](tessel_proto_idb_type *) {};
    s.offload_foreign_master_session_update = [](ptp_fsm_foreign_master_type *) { rec("fm_session"); };
    s.offload_unicast_peer_session_update = [](ptp_fsm_peer_entry_type *peer) { nb.peer_sessions.insert(peer); };
    s.offload_idb_sessions_update = [](tessel_proto_idb_type *) {};
    ptp_fsm_services_set(&s);
}
} // namespace
