// What the recording fakes around unicast negotiation saw, and how they answer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "evm.h"
#include "ptp_types.h"
#include "tessel_node_values.h"
#include "zerrno.h"

struct ptp_fsm_peer_entry_type;

// One message handed to the packet transmit.
struct uc_sent_type {
    std::vector<uint8_t> msg;
    ptp_address_type dst;
    uint16_t adjacency_len;
};

struct uc_fake_state_type {
    std::vector<std::string> calls;
    std::vector<uc_sent_type> sent;
    uint32_t profile = PTP_PROFILE_DEFAULT;
    uint32_t issu_role = 1;
    tessel_local_clock_type local_clock{0x0011223344556677ull, 0};
    bool local_clock_known = true;
    zerrno send_result = 0;
    zerrno peer_index_result = 0;
    uint32_t sent_signaling = 0; // counted sent Signaling packets
    uint32_t drop_signaling = 0; // counted Signaling drops
    uint32_t drop_reason[32] = {};
    // Grants-changed reports: (entry, any_left).
    std::vector<std::pair<ptp_fsm_peer_entry_type *, int>> grant_changes;
    uint32_t chkpt_deletes = 0;
    bool record_calls = true;
    bool record_sent = true; // off: sends succeed without being kept
};

extern uc_fake_state_type uc_fake;
void uc_fake_reset();

// The protocol thread's managed-timer tree, on a virtual-time event manager of the test.
void uc_fake_timers_start(event_mgr_type *evm);
void uc_fake_timers_stop();
