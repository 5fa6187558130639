// Peer-address helpers shared by the agent, the controller and the checkpoint code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ptp_types.h"
#include "zerrno.h"

// Number of value bytes an address kind uses: 6, 4 or 16; 16 for an unknown kind.
size_t ptp_address_len(uint32_t encap);

// Orders by kind, then by the kind's value bytes (unsigned, first byte most significant):
// negative, 0 or positive. Bytes beyond the kind's length are not looked at.
int ptp_address_compare(const ptp_address_type *a, const ptp_address_type *b);

// 1 when both addresses are equal (or both absent), else 0.
int ptp_address_equal(const ptp_address_type *a, const ptp_address_type *b);

// Builders; unused value bytes are zero.
void ptp_address_set_mac(ptp_address_type *addr, const uint8_t mac[PTP_MAC_ADDR_LEN]);
void ptp_address_set_ipv4(ptp_address_type *addr, const uint8_t ip[PTP_IPV4_ADDR_LEN]);
void ptp_address_set_ipv6(ptp_address_type *addr, const uint8_t ip[PTP_IPV6_ADDR_LEN]);

// The 24-byte address form of channel messages: the kind as a big-endian u32, 4 reserved zero
// bytes, the 16 value bytes as held.
inline constexpr size_t PTP_ADDRESS_WIRE_SIZE = 24;
void ptp_address_to_wire(const ptp_address_type *addr, uint8_t out[PTP_ADDRESS_WIRE_SIZE]);
// Fewer than 24 bytes fail with PTP_ZERR_INVALID_ARG and leave *out untouched.
zerrno ptp_address_from_wire(const uint8_t *in, size_t len, ptp_address_type *out);
