// The neighbours of unicast negotiation as the negotiation interop tests see them, set in the
// state machine's services table in place of the port manager's: packet counters, FIB,
// adjacency, the grant checkpoint and the offload sessions, so that the tests drive the
// negotiation on its own; the peer indices are the protocol thread's own. The offload sessions are where a grant waits: the test plays the
// offload plugin, confirming the intervals the negotiation asked for and, once an Announce grant
// stands, sending the Announce stream it would send.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "ptp_types.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_node_values.h"

struct tessel_proto_idb_type;

struct nb_state_type {
    tessel_local_clock_type local_clock{0x020000fffe000a01ull, 0};
    uint32_t profile = PTP_PROFILE_DEFAULT;
    // Signaling packets the agent counted as sent and received.
    uint32_t signaling_sent = 0;
    uint32_t signaling_received = 0;
    // Packets dropped, by reason and by counter class (the counters window is not opened here).
    uint32_t drop_reason[32] = {};
    uint32_t drop_class[11] = {};
    // Unicast peers with an offload session (created by the first session update, gone with the
    // peer's checkpoint record).
    std::set<ptp_fsm_peer_entry_type *> peer_sessions;
    std::vector<std::string> calls;
};

extern nb_state_type nb;
// Clears nb and installs the state machine's services: the protocol thread's packet transmit,
// the recording neighbours above, and node values (profile, local clock) taken from nb.
void nb_reset();
// From now on the node values are the real port manager's, set from nb's.
void nb_use_port_manager();

// The offload plugin's report for every session: it applies the intervals the negotiation
// granted, which sends the grants that wait for it. Returns the number of grant replies sent.
uint32_t nb_offload_confirm(tessel_proto_idb_type *port);
