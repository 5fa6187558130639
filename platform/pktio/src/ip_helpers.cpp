// IP header helpers.
#include "ip_helpers.h"

#include <cstring>

namespace {

// One's-complement sum of len bytes, big-endian words, an odd last byte padded with zero.
uint32_t sum_words(uint32_t sum, const uint8_t *p, size_t len)
{
    for (size_t i = 0; i + 1 < len; i += 2) {
        sum += static_cast<uint32_t>(p[i]) << 8 | p[i + 1];
    }
    if ((len & 1) != 0) {
        sum += static_cast<uint32_t>(p[len - 1]) << 8;
    }
    return sum;
}

uint16_t fold(uint32_t sum)
{
    while ((sum >> 16) != 0) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<uint16_t>(~sum & 0xFFFF);
}

// A zero UDP checksum means "none" on the wire, so a computed zero is sent as all ones.
uint16_t ulp_result(uint8_t protocol, uint16_t value)
{
    return protocol == IP_PROTO_UDP && value == 0 ? 0xFFFF : value;
}

} // namespace

uint16_t ipv4_checksum(const void *data, size_t len)
{
    return fold(sum_words(0, static_cast<const uint8_t *>(data), len));
}

uint16_t ipv4_ulp_checksum(uint8_t protocol, const uint8_t src[4], const uint8_t dst[4], const void *segment,
                           size_t len)
{
    uint32_t sum = sum_words(0, src, 4);
    sum = sum_words(sum, dst, 4);
    sum += protocol;
    sum += static_cast<uint32_t>(len & 0xFFFF);
    sum = sum_words(sum, static_cast<const uint8_t *>(segment), len);
    return ulp_result(protocol, fold(sum));
}

uint16_t ipv6_ulp_checksum_heap(uint8_t next_header, const uint8_t src[16], const uint8_t dst[16], const void *segment,
                                size_t len)
{
    uint32_t sum = sum_words(0, src, 16);
    sum = sum_words(sum, dst, 16);
    sum += static_cast<uint32_t>(len >> 16) + static_cast<uint32_t>(len & 0xFFFF);
    sum += next_header;
    sum = sum_words(sum, static_cast<const uint8_t *>(segment), len);
    return ulp_result(next_header, fold(sum));
}

void ipv6_init_header(uint8_t *header, uint8_t traffic_class, uint32_t flow_label, uint16_t payload_len,
                      uint8_t next_header, uint8_t hop_limit, const uint8_t src[16], const uint8_t dst[16])
{
    const uint32_t word = 6u << 28 | static_cast<uint32_t>(traffic_class) << 20 | (flow_label & 0xFFFFF);
    header[0] = static_cast<uint8_t>(word >> 24);
    header[1] = static_cast<uint8_t>(word >> 16);
    header[2] = static_cast<uint8_t>(word >> 8);
    header[3] = static_cast<uint8_t>(word);
    header[4] = static_cast<uint8_t>(payload_len >> 8);
    header[5] = static_cast<uint8_t>(payload_len);
    header[6] = next_header;
    header[7] = hop_limit;
    std::memcpy(header + 8, src, 16);
    std::memcpy(header + 24, dst, 16);
}

bool ipv4_addr_is_martian(const uint8_t addr[4])
{
    const bool broadcast = addr[0] == 255 && addr[1] == 255 && addr[2] == 255 && addr[3] == 255;
    return addr[0] == 0 || addr[0] == 127 || (addr[0] >= 224 && addr[0] <= 239) || broadcast;
}

bool ipv6_addr_is_martian(const uint8_t addr[16])
{
    static constexpr uint8_t zero[16] = {};
    static constexpr uint8_t loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return addr[0] == 0xFF || std::memcmp(addr, zero, 16) == 0 || std::memcmp(addr, loopback, 16) == 0;
}
