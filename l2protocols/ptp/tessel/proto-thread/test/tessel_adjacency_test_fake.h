// What the adjacency tests' fakes record and answer.
#pragma once

#include <vector>

struct ptp_fsm_foreign_master_type;
struct ptp_fsm_peer_entry_type;

struct adj_fake_state_type {
    bool platform_adjacency = false;
    std::vector<ptp_fsm_foreign_master_type *> fm_session_updates;
    std::vector<ptp_fsm_peer_entry_type *> peer_session_updates;
};
extern adj_fake_state_type adj_fake;

// The order of the hand-filled foreign-master and unicast-peer trees.
int adj_fake_peer_compare(const void *a, const void *b, void *context);
