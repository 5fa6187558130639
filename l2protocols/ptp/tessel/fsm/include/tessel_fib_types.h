// What a foreign master or unicast peer keeps of its FIB registration: the next-hop data that
// packet transmit attaches for the platform's fast path, and whether the peer's host prefix is
// registered (and under which VRF).
#pragma once

#include <cstdint>

// Next-hop data of a peer for the fast path (flags: TESSEL_FIB_UPDATE_*).
inline constexpr uint32_t TESSEL_FIB_UPDATE_PRESENT = 0x1;
struct tessel_fib_update_type {
    uint32_t flags;
    uint32_t length;
    const uint8_t *data; // owned by the FIB client library
};

inline constexpr uint32_t TESSEL_FIB_INFO_REGISTERED = 0x1;
struct tessel_fib_info_type {
    uint32_t vrf_id; // the VRF the prefix was registered under
    tessel_fib_update_type update;
    uint32_t reg_flags; // TESSEL_FIB_INFO_*
};

inline bool tessel_fib_info_registered(const tessel_fib_info_type *info)
{
    return (info->reg_flags & TESSEL_FIB_INFO_REGISTERED) != 0;
}
