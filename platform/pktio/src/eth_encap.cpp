// Ethernet encapsulation attribute blocks. Kept in a file of their own: the only calls here are
// the block readers and the builder.
#include <cstdio>
#include <cstring>

#include "ctx.h"
#include "eth_encap.h"

zerrno eth_encap_attr_src_mac_get(const uint8_t *ether_info, uint32_t ether_info_len, uint8_t mac[6])
{
    if (ether_info == nullptr || mac == nullptr || ether_info_len < 6) {
        return PKTIO_ERR_INVALID;
    }
    std::memcpy(mac, ether_info, 6);
    return 0;
}

zerrno eth_encap_attr_dot1q_tag_stack_from_encap(const uint8_t *ether_info, uint32_t ether_info_len,
                                                 dot1q_rewritten_tag_stack_type *out)
{
    if (ether_info == nullptr || out == nullptr || ether_info_len < ETH_ENCAP_ATTR_HDR_LEN) {
        return PKTIO_ERR_INVALID;
    }
    const uint32_t count = ether_info[6];
    if (count > DOT1Q_TAG_STACK_MAX || ether_info_len < ETH_ENCAP_ATTR_HDR_LEN + 4 * count) {
        return PKTIO_ERR_INVALID;
    }
    dot1q_rewritten_tag_stack_type stack{};
    for (uint32_t i = 0; i < count; i++) {
        const uint8_t *t = ether_info + ETH_ENCAP_ATTR_HDR_LEN + 4 * i;
        stack.tags[i] = static_cast<uint32_t>(t[0]) << 24 | static_cast<uint32_t>(t[1]) << 16 |
                        static_cast<uint32_t>(t[2]) << 8 | t[3];
    }
    stack.count = count;
    *out = stack;
    return 0;
}

const char *eth_encap_attr_to_str(const uint8_t *ether_info, uint32_t ether_info_len, char *buffer, size_t size)
{
    uint8_t mac[6];
    dot1q_rewritten_tag_stack_type stack{};
    if (buffer == nullptr || size == 0 || eth_encap_attr_src_mac_get(ether_info, ether_info_len, mac) != 0 ||
        eth_encap_attr_dot1q_tag_stack_from_encap(ether_info, ether_info_len, &stack) != 0) {
        return nullptr;
    }
    int used = snprintf(buffer, size, "source MAC %02x%02x.%02x%02x.%02x%02x, %s", mac[0], mac[1], mac[2], mac[3],
                        mac[4], mac[5], stack.count == 0 ? "untagged" : "802.1Q tags");
    for (uint32_t i = 0; i < stack.count && used > 0 && static_cast<size_t>(used) < size; i++) {
        used += snprintf(buffer + used, size - static_cast<size_t>(used), " 0x%04x:0x%04x", stack.tags[i] >> 16,
                         stack.tags[i] & 0xffff);
    }
    return buffer;
}

uint32_t eth_encap_attr_build(const uint8_t mac[6], const uint32_t *tags, uint32_t tag_count, uint8_t *out,
                              uint32_t out_len)
{
    const uint32_t len = ETH_ENCAP_ATTR_HDR_LEN + 4 * tag_count;
    if (tag_count > DOT1Q_TAG_STACK_MAX || out == nullptr || out_len < len) {
        return 0;
    }
    std::memcpy(out, mac, 6);
    out[6] = static_cast<uint8_t>(tag_count);
    for (uint32_t i = 0; i < tag_count; i++) {
        uint8_t *t = out + ETH_ENCAP_ATTR_HDR_LEN + 4 * i;
        t[0] = static_cast<uint8_t>(tags[i] >> 24);
        t[1] = static_cast<uint8_t>(tags[i] >> 16);
        t[2] = static_cast<uint8_t>(tags[i] >> 8);
        t[3] = static_cast<uint8_t>(tags[i]);
    }
    return len;
}
