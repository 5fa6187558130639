// Ethernet encapsulation attributes of an interface, as the interface manager hands them out
// (the opaque "ether info" block), and the interface-kind questions the packet code asks.
//
// Block layout: bytes 0-5 the interface's source MAC, byte 6 the number of 802.1Q tags it
// carries (0..DOT1Q_TAG_STACK_MAX), then each tag as 4 bytes (TPID, TCI; big-endian), outermost
// first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zerrno.h"

inline constexpr uint32_t DOT1Q_TAG_STACK_MAX = 2;
inline constexpr uint32_t ETH_ENCAP_ATTR_HDR_LEN = 7;

// A rewritten 802.1Q tag stack: each tag as TPID << 16 | TCI, outermost first.
struct dot1q_rewritten_tag_stack_type {
    uint32_t tags[DOT1Q_TAG_STACK_MAX];
    uint32_t count;
};

zerrno eth_encap_attr_src_mac_get(const uint8_t *ether_info, uint32_t ether_info_len, uint8_t mac[6]);
// Fails (nothing written) when the block is short or names more tags than a stack holds.
zerrno eth_encap_attr_dot1q_tag_stack_from_encap(const uint8_t *ether_info, uint32_t ether_info_len,
                                                 dot1q_rewritten_tag_stack_type *out);
// The block as text for diagnostics: "source MAC 001b.2c3d.4e5f, untagged" or "..., 802.1Q tags
// 0x8100:0x0064 0x88a8:0x00c8" (outermost first) in buffer; null when the block is short or
// names more tags than a stack holds.
const char *eth_encap_attr_to_str(const uint8_t *ether_info, uint32_t ether_info_len, char *buffer, size_t size);
// Builds a block (for the interface-manager side and tests); returns its length, 0 when the
// buffer is too small or there are too many tags.
uint32_t eth_encap_attr_build(const uint8_t mac[6], const uint32_t *tags, uint32_t tag_count, uint8_t *out,
                              uint32_t out_len);

// Whether the interface is an L2 (sub)interface / a bundle. Unknown handles fail.
zerrno platform_ifhandle_is_l2(uint32_t ifhandle, bool *out);
zerrno platform_ifhandle_is_bundle(uint32_t ifhandle, bool *out);
