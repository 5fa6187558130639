// What the offload test's fakes saw, and how they answer.
#pragma once

#include <cstdint>
#include <vector>

#include "ptp_types.h"
#include "tessel_node_values.h"
#include "tessel_offload.h"

struct ptp_fsm_peer_entry_type;

struct offload_fake_count_type {
    ifhtype ifhandle;
    ptp_address_type peer;
    uint32_t counter_class;
    uint32_t direction; // 99: a drop counter
    uint32_t amount;
};

struct offload_fake_timing_type {
    ptp_fsm_foreign_master_type *fm;
    tessel_offload_timing_record_type record;
};

struct offload_fake_state_type {
    tessel_local_clock_type local_clock{0x0011223344556677ull, 24};
    uint32_t profile = 0;
    ptp_clock_type advertised{};
    std::vector<uint32_t> grant_replies;
    std::vector<ptp_fsm_peer_entry_type *> peers;
    std::vector<offload_fake_timing_type> timings;
    std::vector<offload_fake_count_type> counts;
};

extern offload_fake_state_type offload_fake;
void offload_fake_reset();
