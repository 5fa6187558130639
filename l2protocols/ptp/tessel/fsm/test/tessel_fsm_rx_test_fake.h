// What the recording fakes of the receive path's neighbours saw, and how they answer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ptp_types.h"
#include "tessel_node_values.h"
#include "zerrno.h"

struct rx_fake_state_type {
    std::vector<std::string> calls;
    uint32_t profile = PTP_PROFILE_DEFAULT;
    uint32_t issu_role = 1;
    uint8_t min_clock_class = 255;
    uint8_t ql_option = 1;
    tessel_local_clock_type local_clock{0x0011223344556677ull, 0};
    bool local_clock_known = true;
    zerrno peer_index_result = 0;
    // Counters as the stats fakes saw them.
    uint32_t drop_class[11] = {};
    uint32_t drop_reason[32] = {};
    uint32_t received_class[11] = {};
    // Best-foreign-master reports through client operation 0.
    uint32_t fmc_reports = 0;
    uint32_t tlvs_handled = 0;
    uint32_t request_walks = 0;
    // Debug lines as printed ("AREA: interface: [state]: text") while debug_on is set.
    bool debug_on = false;
    std::vector<std::string> debug_lines;
    // Trace records: id and argument words, and which words are texts.
    std::vector<std::vector<uint64_t>> traces;
    std::vector<uint32_t> trace_text_masks;
};

extern rx_fake_state_type rx_fake;

// Clears the state and installs the services table that answers from it.
void rx_fake_reset();
void rx_fake_record(const std::string &what);
