// IP header helpers of the packet path.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t IPV4_HDR_LEN = 20;
inline constexpr size_t IPV6_HDR_LEN = 40;
inline constexpr size_t UDP_HDR_LEN = 8;
inline constexpr uint8_t IP_PROTO_UDP = 17;

// The Internet checksum of len bytes (an IPv4 header with its checksum field zero), as the
// 16-bit value to store big-endian.
uint16_t ipv4_checksum(const void *data, size_t len);
// The checksum of an upper-layer segment of len bytes (its checksum field zero) with the IPv4
// pseudo-header; addresses in network order. A UDP result of 0 is given as 0xFFFF.
uint16_t ipv4_ulp_checksum(uint8_t protocol, const uint8_t src[4], const uint8_t dst[4], const void *segment,
                           size_t len);
// The same with the IPv6 pseudo-header.
uint16_t ipv6_ulp_checksum_heap(uint8_t next_header, const uint8_t src[16], const uint8_t dst[16], const void *segment,
                                size_t len);
// Writes a 40-byte IPv6 header.
void ipv6_init_header(uint8_t *header, uint8_t traffic_class, uint32_t flow_label, uint16_t payload_len,
                      uint8_t next_header, uint8_t hop_limit, const uint8_t src[16], const uint8_t dst[16]);

// Addresses that never appear as a packet's source on the wire: unspecified, loopback,
// multicast, limited broadcast and 0/8 (IPv4); unspecified, loopback and multicast (IPv6).
bool ipv4_addr_is_martian(const uint8_t addr[4]);
bool ipv6_addr_is_martian(const uint8_t addr[16]);
