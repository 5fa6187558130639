// What the recording fakes of the packet module's neighbours saw, and how they answer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ptp_types.h"
#include "zerrno.h"

struct pkt_fake_rx_type {
    std::string port;
    std::vector<uint8_t> msg;
    bool has_ts;
    ptp_address_type src;
    bool has_dst;
    ptp_address_type dst;
};

struct pkt_fake_state_type {
    std::vector<pkt_fake_rx_type> rx;
    std::vector<std::string> calls;
    uint32_t drop_class[11] = {};
    uint32_t drop_reason[32] = {};
    bool platform_adjacency = false;
    bool verify_checksum = false;
    bool resync_timer_running = false;
    zerrno notification_result = 0;
    std::vector<std::vector<uint8_t>> notifications;
    std::vector<uint32_t> returned_ids;
};

extern pkt_fake_state_type pkt_fake;
void pkt_fake_reset();
