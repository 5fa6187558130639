// The adjacency of an IPv4 unicast peer, shared by unicast negotiation (which stores it per peer)
// and packet transmit (which puts it in front of the packet).
#pragma once

#include <cstdint>

inline constexpr uint32_t ADJ_REWRITE_LEN = 60;

// The complete L2 header to put in front of an IPv4 packet towards a peer (length 0: none).
struct ptp_adjacency_type {
    uint8_t rewrite_str[ADJ_REWRITE_LEN];
    uint16_t rewrite_str_len;
};
