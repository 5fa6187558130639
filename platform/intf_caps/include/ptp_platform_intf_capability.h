// The platform's PTP interface-capability library: what this node's interfaces can do for PTP.
#pragma once

#include <cstdint>

#include "zerrno.h"

inline constexpr uint32_t PTP_PLATFORM_INTF_CAPS_ZERR_FACILITY = 0x7f09;
inline constexpr zerrno PTP_PLATFORM_INTF_CAPS_ERR_INVALID =
    zerr_make(PTP_PLATFORM_INTF_CAPS_ZERR_FACILITY, 1, 22 /*EINVAL*/);
inline constexpr zerrno PTP_PLATFORM_INTF_CAPS_ERR_NO_NODE =
    zerr_make(PTP_PLATFORM_INTF_CAPS_ZERR_FACILITY, 2, 6 /*ENXIO*/);
inline constexpr zerrno PTP_PLATFORM_INTF_CAPS_ERR_NOT_INIT =
    zerr_make(PTP_PLATFORM_INTF_CAPS_ZERR_FACILITY, 3, 22 /*EINVAL*/);

struct ptp_platform_intf_capability_ctx_type;

// The capabilities: a flag word (bit 0 PTP, 1 one-step, 2 slave, 3 IPv6, 4 Ethernet,
// 5 multicast, 6 source IP, 7 two-step, 8 platform adjacency, 9 extended slave) and the log2 of
// the fastest packet rate per second.
struct ptp_platform_intf_capability_type {
    uint16_t flags;
    uint8_t log_max_rate;
    uint8_t reserved;
};

// Open the library for this node: a context and the API version of the answers.
zerrno ptp_platform_intf_capability_init(ptp_platform_intf_capability_ctx_type **ctx, uint32_t *api_version);
zerrno ptp_platform_intf_capability_get(ptp_platform_intf_capability_type *caps);
// Close the library; null is ignored.
void ptp_platform_intf_capability_shutdown(ptp_platform_intf_capability_ctx_type *ctx);

// ---- Test control ------------------------------------------------------------------------------

// The next init fails with code.
void ptp_platform_intf_capability_test_fail_init(zerrno code);
// Answer these instead of the chassis description's (until reset).
void ptp_platform_intf_capability_test_set(uint32_t api_version, uint16_t flags, uint8_t log_max_rate);
void ptp_platform_intf_capability_test_reset(void);
