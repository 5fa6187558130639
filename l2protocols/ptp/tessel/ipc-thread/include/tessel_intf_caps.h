// What this node's interfaces can do for PTP, read once from the platform's capability library
// at start-up and kept in one flag word. Configuration checks, adjacency resolution and the
// interface bags ask through the getters, from either thread.
#pragma once

#include <cstdint>

#include "evm.h"
#include "zerrno.h"

// Bits of the capability word.
inline constexpr uint16_t TESSEL_INTF_CAPS_PTP = 1u << 0;
inline constexpr uint16_t TESSEL_INTF_CAPS_ONE_STEP = 1u << 1;
inline constexpr uint16_t TESSEL_INTF_CAPS_SLAVE = 1u << 2;
inline constexpr uint16_t TESSEL_INTF_CAPS_IPV6 = 1u << 3;
inline constexpr uint16_t TESSEL_INTF_CAPS_ETHERNET = 1u << 4;
inline constexpr uint16_t TESSEL_INTF_CAPS_MULTICAST = 1u << 5;
inline constexpr uint16_t TESSEL_INTF_CAPS_SOURCE_IP = 1u << 6;
inline constexpr uint16_t TESSEL_INTF_CAPS_TWO_STEP = 1u << 7;
inline constexpr uint16_t TESSEL_INTF_CAPS_PLATFORM_ADJACENCY = 1u << 8;
inline constexpr uint16_t TESSEL_INTF_CAPS_SLAVE_EXT = 1u << 9;

// The newest capability API version this agent understands.
inline constexpr uint32_t TESSEL_INTF_CAPS_MAX_API_VERSION = 2;

zerrno tessel_intf_caps_init(event_mgr_type *evm);
// Closes the platform library; every capability reads false afterwards.
void tessel_intf_caps_shutdown(void);

bool tessel_intf_caps_supports_ptp(void);
bool tessel_intf_caps_supports_one_step(void);
bool tessel_intf_caps_supports_slave(void);
bool tessel_intf_caps_supports_ipv6(void);
bool tessel_intf_caps_supports_ethernet(void);
bool tessel_intf_caps_supports_multicast(void);
bool tessel_intf_caps_supports_source_ip(void);
bool tessel_intf_caps_supports_two_step(void);
bool tessel_intf_caps_supports_platform_adjacency(void);
// Slave operation for interfaces that need the extended slave capability: bits 2 and 9.
bool tessel_intf_caps_supports_slave_ext(void);
// The fastest packet rate per second (0 when its log2 does not fit a byte), and its log2.
uint8_t tessel_intf_caps_get_max_sync_rate(void);
uint8_t tessel_intf_caps_get_log_max_sync_rate(void);
// The whole word, as the getters read it.
uint16_t tessel_intf_caps_get_flags(void);
