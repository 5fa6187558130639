// Packet transmit: one built PTP message put on the wire of a port in its attached
// encapsulation, the packet dump of both directions, the VLAN tag stack and the L2 header of
// IPv4 multicast sessions.
#include "tessel_packet.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "ip_helpers.h"
#include "ptp_address.h"
#include "ptp_debug.h"
#include "ptp_strings.h"
#include "ptp_syslog.h"
#include "ptp_wire.h"
#include "tessel_assert.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_types.h"
#include "tessel_packet_deps.h"
#include "tessel_packet_private.h"

namespace tessel_pkt {

module_type &module()
{
    static module_type m{};
    return m;
}

bool debug_on()
{
    return ptp_debug_enabled(ptp_debug_table_get(), AREA_PACKET);
}

const char *label()
{
    return ptp_debug_area_label(AREA_PACKET);
}

void debug(uint32_t ifhandle, const char *format, ...)
{
    debug_event_type *table = ptp_debug_table_get();
    if (!ptp_debug_enabled(table, AREA_PACKET)) {
        return;
    }
    va_list args;
    va_start(args, format);
    ptp_debug_vprint(AREA_PACKET, ifhandle, PTP_DEBUG_LEVEL_SUPPORT, table, format, args);
    va_end(args);
}

jotlog_handle_type pkt_buffer()
{
    return module().pkt_trace;
}
jotlog_handle_type unq_buffer()
{
    return ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_UNQ);
}

} // namespace tessel_pkt

using namespace tessel_pkt;

namespace {

bool address_is_ip(const ptp_address_type *a)
{
    return a != nullptr && (a->encap == PTP_ENCAP_IPV4 || a->encap == PTP_ENCAP_IPV6);
}

bool ipv4_primary(const tessel_proto_idb_type *idb, ptp_address_type *out)
{
    if (idb->ipv4_addr == TESSEL_PROTO_IDB_IPV4_ADDR_NONE) {
        return false;
    }
    ptp_address_set_ipv4(out, reinterpret_cast<const uint8_t *>(&idb->ipv4_addr));
    return true;
}

bool ipv6_primary(const tessel_proto_idb_type *idb, ptp_address_type *out)
{
    static constexpr uint8_t zero[PTP_IPV6_ADDR_LEN] = {};
    if (std::memcmp(idb->ipv6_addr, zero, PTP_IPV6_ADDR_LEN) == 0) {
        return false;
    }
    ptp_address_set_ipv6(out, idb->ipv6_addr);
    return true;
}

bool configured_ipv4_source(const tessel_proto_idb_type *idb, ptp_address_type *out)
{
    if (idb->config.source_ip.enable == 0 || idb->config.source_ip.address == 0xFFFFFFFFu) {
        return false;
    }
    ptp_address_set_ipv4(out, reinterpret_cast<const uint8_t *>(&idb->config.source_ip.address));
    return true;
}

bool configured_ipv6_source(const tessel_proto_idb_type *idb, ptp_address_type *out)
{
    if (idb->config.source_ipv6.enable == 0) {
        return false;
    }
    ptp_address_set_ipv6(out, idb->config.source_ipv6.address);
    return true;
}

// Send step 2: the source address of the packet, or false for none.
bool source_choose(const tessel_proto_idb_type *idb, const ptp_address_type *given, ptp_address_type *out)
{
    if (configured_ipv4_source(idb, out) || configured_ipv6_source(idb, out)) {
        return true;
    }
    if (given != nullptr) {
        *out = *given;
        return true;
    }
    switch (idb->attached_encap) {
    case PTP_ENCAP_IPV6: return ipv6_primary(idb, out);
    case PTP_ENCAP_IPV4: return ipv4_primary(idb, out);
    default: return false;
    }
}

uint32_t cos_of(const tessel_proto_idb_type *idb, int is_event)
{
    return is_event != 0 ? idb->config.event_cos : idb->config.general_cos;
}

uint8_t tos_of(const tessel_proto_idb_type *idb, int is_event)
{
    const uint32_t dscp = is_event != 0 ? idb->config.event_dscp : idb->config.general_dscp;
    return static_cast<uint8_t>(dscp * 4);
}

uint16_t udp_port(int is_event)
{
    return is_event != 0 ? TESSEL_PACKET_EVENT_PORT : TESSEL_PACKET_GENERAL_PORT;
}

zerrno tessel_packet_ts_options_set(const tessel_proto_idb_type *idb, ctx_packet_type *pkt,
                                    const tessel_packet_ts_data_type *ts)
{
    const char *name = idb->header.ifname;
    const uint32_t option = ts != nullptr ? ts->ts_option : TESSEL_PACKET_TS_NONE;
    zerrno rc = ctx_set_u8(pkt, CTX_OPT_TS_OPTION, static_cast<uint8_t>(option));
    if (rc != 0) {
        TESSEL_PKT_DEBUG(idb->header.ifhandle, "%s: [ERROR] %s: Failed to set TS option to %u in packet: %s", name,
                         option, zerr_strerror(rc));
        trace_fail<PTP_TRACE_TESSEL_PKT_SET_TS_OPTION_FAILED>(idb->header.ifhandle, option, rc);
        return rc;
    }
    const uint32_t id = option == TESSEL_PACKET_TS_RETURNED ? ts->packet_id : 0;
    rc = ctx_set_u32(pkt, CTX_OPT_PACKET_ID, id);
    if (rc != 0) {
        TESSEL_PKT_DEBUG(idb->header.ifhandle, "%s: [ERROR] %s: Failed to set packet-id to %u in packet: %s", name, id,
                         zerr_strerror(rc));
        trace_fail<PTP_TRACE_TESSEL_PKT_SET_PACKET_ID_FAILED>(idb->header.ifhandle, id, rc);
        return rc;
    }
    const uint32_t offset = option == TESSEL_PACKET_TS_INSERT ? ts->offset : 0;
    rc = ctx_set_u32(pkt, CTX_OPT_TS_OFFSET, offset);
    if (rc != 0) {
        TESSEL_PKT_DEBUG(idb->header.ifhandle, "%s: [ERROR] %s: Failed to set offset to %u in packet: %s", name, offset,
                         zerr_strerror(rc));
        trace_fail<PTP_TRACE_TESSEL_PKT_SET_OFFSET_FAILED>(idb->header.ifhandle, offset, rc);
        return rc;
    }
    return 0;
}

zerrno tessel_packet_ethernet_build(tessel_proto_idb_type *idb, const uint8_t *msg, uint16_t msg_len, int is_event,
                                    const ptp_address_type *dst, const tessel_packet_ts_data_type *ts,
                                    ctx_packet_type **out)
{
    const char *name = idb->header.ifname;
    epi_packet_request_type req{};
    req.out_ifhandle = idb->attached_ifhandle;
    zerrno rc = eth_encap_attr_src_mac_get(idb->ether_info, idb->ether_info_len, req.src_mac);
    if (rc != 0) {
        TESSEL_PKT_DEBUG(idb->header.ifhandle, "%s: [ERROR] %s: Failed to get the source MAC address: %s", name,
                         zerr_strerror(rc));
        return rc;
    }
    if (dst != nullptr) {
        if (dst->encap != PTP_ENCAP_ETHERNET) {
            TESSEL_PKT_DEBUG(idb->header.ifhandle, "%s: [ERROR] %s: Destination %s is not an Ethernet address", name,
                             ptp_address_to_str(dst));
            return PTP_ZERR_INVALID_ARG;
        }
        std::memcpy(req.dst_mac, dst->value, PTP_MAC_ADDR_LEN);
    } else {
        std::memcpy(req.dst_mac, TESSEL_PACKET_ETH_DEST_MAC, PTP_MAC_ADDR_LEN);
    }
    std::array<uint8_t, 4 * DOT1Q_TAG_STACK_MAX> tag_bytes{};
    if (idb->if_type == TESSEL_PACKET_IF_TYPE_TAGGED) {
        dot1q_rewritten_tag_stack_type tags{};
        rc = tessel_io_vlan_tags_build(idb, &tags);
        if (rc != 0) {
            // Untagged, the frame would leave on the wrong VLAN.
            return rc;
        }
        for (uint32_t i = 0; i < tags.count; i++) {
            ptp_wire_put16(&tag_bytes[4 * i], static_cast<uint16_t>(tags.tags[i] >> 16));
            ptp_wire_put16(&tag_bytes[4 * i + 2], static_cast<uint16_t>(tags.tags[i]));
        }
        req.tags = tag_bytes.data();
        req.tag_bytes = 4 * tags.count;
        req.cos = static_cast<uint8_t>(cos_of(idb, is_event));
    } else {
        req.cos = 15;
    }
    req.payload = msg;
    req.payload_len = msg_len;
    ctx_packet_type *pkt = nullptr;
    rc = epi_packet_generate(module().epi, &req, &pkt);
    if (rc != 0) {
        TESSEL_PKT_DEBUG(idb->header.ifhandle, "%s: [ERROR] %s: Failed to generate packet using EPI: %s", name,
                         zerr_strerror(rc));
        trace_fail<PTP_TRACE_TESSEL_PKT_EPI_GENERATE_FAILED>(idb->header.ifhandle, rc);
        return rc;
    }
    rc = ctx_set_u8(pkt, CTX_OPT_PRIORITY, 4);
    if (rc != 0) {
        TESSEL_PKT_DEBUG(idb->header.ifhandle, "%s: [ERROR] %s: Failed to set priority to %u in packet: %s", name, 4u,
                         zerr_strerror(rc));
        trace_fail<PTP_TRACE_TESSEL_PKT_SET_PRIORITY_FAILED>(idb->header.ifhandle, 4u, rc);
    } else {
        rc = tessel_packet_ts_options_set(idb, pkt, ts);
    }
    if (rc != 0) {
        epi_packet_free(pkt);
        return rc;
    }
    *out = pkt;
    return 0;
}

// Options of an IP packet, in the order the packet path reads them.
zerrno ip_options_set(tessel_proto_idb_type *idb, ctx_packet_type *pkt, size_t total, size_t app_start, int is_event,
                      const tessel_packet_ts_data_type *ts)
{
    const char *name = idb->header.ifname;
    const uint32_t ifh = idb->header.ifhandle;
    zerrno rc = ctx_set_u32(pkt, CTX_OPT_CURRENT_LENGTH, static_cast<uint32_t>(total));
    if (rc != 0) {
        TESSEL_PKT_DEBUG(ifh, "%s: [ERROR] %s: Failed to set current-length to %zu in packet: %s", name, total,
                         zerr_strerror(rc));
        trace_fail<PTP_TRACE_TESSEL_PKT_SET_CURRENT_LENGTH_FAILED>(ifh, total, rc);
        return rc;
    }
    rc = ctx_set_u32(pkt, CTX_OPT_OUT_IFHANDLE, idb->attached_ifhandle);
    if (rc != 0) {
        TESSEL_PKT_DEBUG(ifh, "%s: [ERROR] %s: Failed to set output ifhandle to 0x%8.8x in packet: %s", name,
                         idb->attached_ifhandle, zerr_strerror(rc));
        trace_fail<PTP_TRACE_TESSEL_PKT_SET_IFHANDLE_FAILED>(ifh, idb->attached_ifhandle, rc);
        return rc;
    }
    rc = ctx_set_i16(pkt, CTX_OPT_APP_START, static_cast<int16_t>(app_start));
    if (rc != 0) {
        TESSEL_PKT_DEBUG(ifh, "%s: [ERROR] %s: Failed to set application start to %zu in packet: %s", name, app_start,
                         zerr_strerror(rc));
        trace_fail<PTP_TRACE_TESSEL_PKT_SET_APP_START_FAILED>(ifh, app_start, rc);
        return rc;
    }
    rc = ctx_set_u8(pkt, CTX_OPT_DIRECTION, 1);
    if (rc != 0) {
        TESSEL_PKT_DEBUG(ifh, "%s: [ERROR] %s: Failed to set direction to %u in packet: %s", name, 1u,
                         zerr_strerror(rc));
        trace_fail<PTP_TRACE_TESSEL_PKT_SET_DIRECTION_FAILED>(ifh, 1u, rc);
        return rc;
    }
    const uint32_t cos = cos_of(idb, is_event);
    rc = ctx_set_u8(pkt, CTX_OPT_COS, static_cast<uint8_t>(cos));
    if (rc != 0) {
        TESSEL_PKT_DEBUG(ifh, "%s: [ERROR] %s: Failed to set CoS to %u in packet: %s", name, cos, zerr_strerror(rc));
        trace_fail<PTP_TRACE_TESSEL_PKT_SET_COS_FAILED>(ifh, cos, rc);
        return rc;
    }
    rc = ctx_set_u8(pkt, CTX_OPT_PRIORITY, 4);
    if (rc != 0) {
        TESSEL_PKT_DEBUG(ifh, "%s: [ERROR] %s: Failed to set priority to %u in packet: %s", name, 4u,
                         zerr_strerror(rc));
        trace_fail<PTP_TRACE_TESSEL_PKT_SET_PRIORITY_FAILED>(ifh, 4u, rc);
        return rc;
    }
    rc = ctx_set_u32(pkt, CTX_OPT_VRF_ID, idb->ipv4_vrf);
    if (rc != 0) {
        TESSEL_PKT_DEBUG(ifh, "%s: [ERROR] %s: Failed to set VRF ID to %u in packet: %s", name, idb->ipv4_vrf,
                         zerr_strerror(rc));
        trace_fail<PTP_TRACE_TESSEL_PKT_SET_VRF_FAILED>(ifh, idb->ipv4_vrf, rc);
        return rc;
    }
    return tessel_packet_ts_options_set(idb, pkt, ts);
}

// Allocates the context and writes the rewrite (if any) and the packet behind it.
zerrno ip_packet_write(tessel_proto_idb_type *idb, const uint8_t *rewrite, size_t rewrite_len, const uint8_t *packet,
                       size_t len, ctx_packet_type **out)
{
    const char *name = idb->header.ifname;
    ctx_packet_type *pkt = ctx_alloc(module().ctx_api, rewrite_len + len);
    if (pkt == nullptr) {
        TESSEL_PKT_DEBUG(idb->header.ifhandle, "%s: [ERROR] %s: Failed to allocate a ctx packet: %s", name,
                         zerr_strerror(PTP_ZERR_NOMEM));
        trace_fail<PTP_TRACE_TESSEL_PKT_CTX_ALLOC_FAILED>(idb->header.ifhandle, PTP_ZERR_NOMEM);
        return PTP_ZERR_NOMEM;
    }
    struct piece {
        const uint8_t *bytes;
        size_t len;
        size_t offset;
    };
    for (const piece &p : {piece{rewrite, rewrite_len, 0}, piece{packet, len, rewrite_len}}) {
        if (p.len == 0) {
            continue;
        }
        size_t written = 0;
        zerrno rc = ctx_write(pkt, CTX_LAYER_FRAME, p.offset, p.bytes, p.len, &written);
        if (rc == 0 && written != p.len) {
            TESSEL_PKT_DEBUG(idb->header.ifhandle,
                             "%s: [ERROR] %s: ctx_write truncated packet to %zu bytes from %u bytes", name, written,
                             static_cast<unsigned>(p.len));
            trace_fail<PTP_TRACE_TESSEL_PKT_CTX_WRITE_TRUNCATED>(idb->header.ifhandle, written, p.len);
            rc = PTP_ZERR_BAD_PACKET;
        } else if (rc != 0) {
            TESSEL_PKT_DEBUG(idb->header.ifhandle, "%s: [ERROR] %s: ctx_write failed: %s", name, zerr_strerror(rc));
            trace_fail<PTP_TRACE_TESSEL_PKT_CTX_WRITE_FAILED>(idb->header.ifhandle, rc);
        }
        if (rc != 0) {
            ctx_free(&pkt, 1);
            return rc;
        }
    }
    *out = pkt;
    return 0;
}

zerrno tessel_packet_ipv4_build(tessel_proto_idb_type *idb, const uint8_t *msg, uint16_t msg_len, int is_event,
                                const ptp_address_type *dst, const ptp_address_type *src, bool has_src,
                                const tessel_packet_ts_data_type *ts, const ptp_adjacency_type *adj,
                                ctx_packet_type **out)
{
    TESSEL_ASSERT(msg_len <= TESSEL_PACKET_MSG_AREA);
    TESSEL_ASSERT(adj == nullptr || adj->rewrite_str_len <= ADJ_REWRITE_LEN);
    const char *name = idb->header.ifname;
    const size_t len = static_cast<size_t>(msg_len) + IPV4_HDR_LEN + UDP_HDR_LEN;
    // The L2 header in front: the peer's rewrite, or for multicast the multicast header, unless
    // the platform resolves adjacencies itself.
    uint8_t l2[ADJ_REWRITE_LEN] = {};
    size_t l2_len = 0;
    const bool platform_adj = tessel_intf_caps_supports_platform_adjacency();
    if (!platform_adj) {
        if (dst == nullptr) {
            uint32_t n = 0;
            zerrno rc = tessel_packet_ipv4_l2_header_build(idb, l2, &n);
            if (rc != 0) {
                return rc;
            }
            l2_len = n;
        } else if (adj == nullptr || adj->rewrite_str_len == 0) {
            TESSEL_PKT_DEBUG(idb->header.ifhandle, "%s: [ERROR] %s: Unable to send to %s: %s", name,
                             ptp_address_to_str(dst), zerr_strerror(PTP_ZERR2_NO_ADJACENCY));
            return PTP_ZERR2_NO_ADJACENCY;
        } else {
            std::memcpy(l2, adj->rewrite_str, adj->rewrite_str_len);
            l2_len = adj->rewrite_str_len;
        }
    }
    uint8_t src_ip[4] = {};
    uint8_t dst_ip[4] = {};
    if (dst != nullptr) {
        if (dst->encap != PTP_ENCAP_IPV4 || !has_src || src->encap != PTP_ENCAP_IPV4) {
            TESSEL_PKT_DEBUG(idb->header.ifhandle, "%s: [ERROR] %s: No IPv4 addresses to send from %s to %s", name,
                             has_src ? ptp_address_to_str(src) : "", ptp_address_to_str(dst));
            return PTP_ZERR_INVALID_ARG;
        }
        std::memcpy(dst_ip, dst->value, 4);
        std::memcpy(src_ip, src->value, 4);
    } else {
        ptp_address_type s{};
        if (!configured_ipv4_source(idb, &s)) {
            ipv4_primary(idb, &s);
        }
        std::memcpy(dst_ip, TESSEL_PACKET_IPV4_MCAST_ADDR, 4);
        std::memcpy(src_ip, s.value, 4);
    }
    uint8_t pkt[IPV4_HDR_LEN + UDP_HDR_LEN + TESSEL_PACKET_MSG_AREA] = {};
    uint8_t *ip = pkt;
    ip[0] = 0x45;
    ip[1] = tos_of(idb, is_event);
    ptp_wire_put16(ip + 2, static_cast<uint16_t>(len));
    ip[8] = static_cast<uint8_t>(idb->config.ipv4_ttl);
    ip[9] = IP_PROTO_UDP;
    std::memcpy(ip + 12, src_ip, 4);
    std::memcpy(ip + 16, dst_ip, 4);
    ptp_wire_put16(ip + 10, ipv4_checksum(ip, IPV4_HDR_LEN));
    uint8_t *udp = pkt + IPV4_HDR_LEN;
    ptp_wire_put16(udp, udp_port(is_event));
    ptp_wire_put16(udp + 2, udp_port(is_event));
    ptp_wire_put16(udp + 4, static_cast<uint16_t>(msg_len + UDP_HDR_LEN));
    std::memcpy(udp + UDP_HDR_LEN, msg, msg_len);
    const bool inserted_ts = ts != nullptr && ts->ts_option == TESSEL_PACKET_TS_INSERT;
    if (!inserted_ts) {
        ptp_wire_put16(udp + 6, ipv4_ulp_checksum(IP_PROTO_UDP, src_ip, dst_ip, udp, msg_len + UDP_HDR_LEN));
    }
    ctx_packet_type *ctx = nullptr;
    zerrno rc = ip_packet_write(idb, l2, l2_len, pkt, len, &ctx);
    if (rc != 0) {
        return rc;
    }
    rc = ip_options_set(idb, ctx, l2_len + len, l2_len + IPV4_HDR_LEN + UDP_HDR_LEN, is_event, ts);
    if (rc != 0) {
        ctx_free(&ctx, 1);
        return rc;
    }
    *out = ctx;
    return 0;
}

zerrno tessel_packet_ipv6_build(tessel_proto_idb_type *idb, const uint8_t *msg, uint16_t msg_len, int is_event,
                                const ptp_address_type *dst, const ptp_address_type *src, bool has_src,
                                const tessel_packet_ts_data_type *ts, ctx_packet_type **out)
{
    TESSEL_ASSERT(static_cast<size_t>(msg_len) + 2 <= TESSEL_PACKET_MSG_AREA);
    const char *name = idb->header.ifname;
    // Two zero bytes of padding follow the message (covered by the UDP length and checksum).
    const size_t udp_len = static_cast<size_t>(msg_len) + 2 + UDP_HDR_LEN;
    const size_t len = IPV6_HDR_LEN + udp_len;
    uint8_t src_ip[16] = {};
    uint8_t dst_ip[16] = {};
    if (dst != nullptr) {
        if (dst->encap != PTP_ENCAP_IPV6 || !has_src || src->encap != PTP_ENCAP_IPV6) {
            TESSEL_PKT_DEBUG(idb->header.ifhandle, "%s: [ERROR] %s: No IPv6 addresses to send from %s to %s", name,
                             has_src ? ptp_address_to_str(src) : "", ptp_address_to_str(dst));
            return PTP_ZERR_INVALID_ARG;
        }
        std::memcpy(dst_ip, dst->value, 16);
        std::memcpy(src_ip, src->value, 16);
    } else {
        ptp_address_type s{};
        if (!configured_ipv6_source(idb, &s)) {
            ipv6_primary(idb, &s);
        }
        std::memcpy(dst_ip, TESSEL_PACKET_IPV6_MCAST_ADDR, 16);
        std::memcpy(src_ip, s.value, 16);
    }
    uint8_t pkt[IPV6_HDR_LEN + UDP_HDR_LEN + TESSEL_PACKET_MSG_AREA] = {};
    ipv6_init_header(pkt, tos_of(idb, is_event), 0, static_cast<uint16_t>(udp_len), IP_PROTO_UDP,
                     static_cast<uint8_t>(idb->config.ipv6_hop_limit), src_ip, dst_ip);
    uint8_t *udp = pkt + IPV6_HDR_LEN;
    ptp_wire_put16(udp, udp_port(is_event));
    ptp_wire_put16(udp + 2, udp_port(is_event));
    ptp_wire_put16(udp + 4, static_cast<uint16_t>(udp_len));
    std::memcpy(udp + UDP_HDR_LEN, msg, msg_len);
    ptp_wire_put16(udp + 6, ipv6_ulp_checksum_heap(IP_PROTO_UDP, src_ip, dst_ip, udp, udp_len));
    ctx_packet_type *ctx = nullptr;
    zerrno rc = ip_packet_write(idb, nullptr, 0, pkt, len, &ctx);
    if (rc != 0) {
        return rc;
    }
    rc = ip_options_set(idb, ctx, len, IPV6_HDR_LEN + UDP_HDR_LEN, is_event, ts);
    if (rc != 0) {
        ctx_free(&ctx, 1);
        return rc;
    }
    *out = ctx;
    return 0;
}

// FIB next-hop data for the fast path; a failure only costs the fast path.
void tessel_packet_write_fib_update(tessel_proto_idb_type *idb, ctx_packet_type *pkt, const ptp_address_type *dst,
                                    const tessel_fib_update_type *fib)
{
    if (!address_is_ip(dst) || fib == nullptr || (fib->flags & TESSEL_FIB_UPDATE_PRESENT) == 0 ||
        fib->data == nullptr) {
        return;
    }
    const char *name = idb->header.ifname;
    const uint32_t ifh = idb->header.ifhandle;
    TESSEL_PKT_DEBUG(ifh, "%s: FIB update found for peer %s of size %u", ptp_address_to_str(dst), fib->length);
    size_t written = 0;
    zerrno rc = ctx_write(pkt, CTX_LAYER_FIB, 0, fib->data, fib->length, &written);
    if (rc != 0) {
        TESSEL_PKT_DEBUG(
            ifh,
            "%s: [ERROR] %s: Failed to add optimized FIB data to PTP packet. Will need to be sent via slowpath instead: %s",
            name, zerr_strerror(rc));
        trace_fail<PTP_TRACE_TESSEL_PKT_FIB_DATA_FAILED>(ifh, rc);
        return;
    }
    if (written != fib->length) {
        TESSEL_PKT_DEBUG(ifh, "%s: [ERROR] %s: ctx_write FIB data truncated packet to %zu bytes from %u bytes", name,
                         written, fib->length);
        trace_fail<PTP_TRACE_TESSEL_PKT_FIB_DATA_TRUNCATED>(ifh, written, fib->length);
        return;
    }
    TESSEL_PKT_DEBUG(ifh, "%s: ctx_write of %zu bytes with FIB next hop information for peer %s returned success",
                     written, ptp_address_to_str(dst));
    ptp_trace_address<PTP_TRACE_TESSEL_PKT_FIB_DATA_ADDED>({pkt_buffer(), unq_buffer()}, ifh, written,
                                                           ptp_address_trace_value(dst), ptp_address_trace_mac_low(dst),
                                                           ptp_address_encap_get(dst));
}

} // namespace

zerrno tessel_packet_send(tessel_proto_idb_type *idb, const uint8_t *msg, uint16_t msg_len, int is_event,
                          const ptp_address_type *dst, const ptp_address_type *src,
                          const tessel_packet_ts_data_type *ts, const ptp_adjacency_type *adj,
                          const tessel_fib_update_type *fib)
{
    tessel_packet_dump(idb, 1, msg, msg_len, dst);
    ptp_address_type source{};
    const bool has_src = source_choose(idb, src, &source);
    if (idb->is_spio_attached == 0) {
        return 0;
    }
    ctx_packet_type *pkt = nullptr;
    zerrno rc = 0;
    switch (idb->attached_encap) {
    case PTP_ENCAP_ETHERNET: rc = tessel_packet_ethernet_build(idb, msg, msg_len, is_event, dst, ts, &pkt); break;
    case PTP_ENCAP_IPV4:
        rc = tessel_packet_ipv4_build(idb, msg, msg_len, is_event, dst, &source, has_src, ts, adj, &pkt);
        break;
    case PTP_ENCAP_IPV6:
        rc = tessel_packet_ipv6_build(idb, msg, msg_len, is_event, dst, &source, has_src, ts, &pkt);
        break;
    default: TESSEL_ASSERT(!"Unknown encap type");
    }
    if (rc != 0) {
        return rc;
    }
    tessel_packet_write_fib_update(idb, pkt, dst, fib);
    spio_conn_type *conn = tessel_io_encap_to_spio_conn(idb->attached_encap);
    // The service takes the packet whatever the result; a refused send is the caller's failure.
    rc = spio_pd_intf_send(conn, 1, &pkt, 1, 0);
    if (rc != 0) {
        TESSEL_PKT_DEBUG(idb->header.ifhandle, "%s: [ERROR] %s: Failed to send packet: %s", idb->header.ifname,
                         zerr_strerror(rc));
        return rc;
    }
    return 0;
}

void tessel_packet_dump(tessel_proto_idb_type *idb, int direction, const uint8_t *msg, uint32_t msg_len,
                        const ptp_address_type *peer)
{
    TESSEL_ASSERT(msg_len >= PTP_MSG_HDR_LEN);
    const uint32_t ifh = idb->header.ifhandle;
    if (debug_on()) {
        static constexpr char digits[] = "0123456789abcdef";
        const uint32_t n = msg_len < 1500 ? msg_len : 1500;
        std::string hex(2 * static_cast<size_t>(n), '0');
        for (uint32_t i = 0; i < n; i++) {
            hex[2 * i] = digits[msg[i] >> 4];
            hex[2 * i + 1] = digits[msg[i] & 0x0F];
        }
        const char *name = idb->header.ifname;
        const char *state = ptp_port_state_to_str(idb->fsm.PortState);
        const char *dir = direction == 1 ? "O" : "I";
        const uint64_t clock_id = ptp_wire_get64(msg + PTP_HDR_OFF_SOURCE_CLOCK);
        TESSEL_PKT_DEBUG(ifh, "%s: %s [%s]: %s %s len %u domain %u, to peer %s ", name, state, dir,
                         ptp_msg_type_to_str(msg[PTP_HDR_OFF_TYPE] & 0x0F), msg_len,
                         static_cast<unsigned>(msg[PTP_HDR_OFF_DOMAIN]),
                         peer != nullptr ? ptp_address_to_str(peer) : "");
        TESSEL_PKT_DEBUG(ifh, "%s: %s [%s]:    flags 0x%x clock-id 0x%lx port 0x%x seq-id %u log-interval %i", name,
                         state, static_cast<unsigned>(ptp_wire_get16(msg + PTP_HDR_OFF_FLAGS)),
                         static_cast<unsigned long>(clock_id),
                         static_cast<unsigned>(ptp_wire_get16(msg + PTP_HDR_OFF_SOURCE_PORT)),
                         static_cast<unsigned>(ptp_wire_get16(msg + PTP_HDR_OFF_SEQUENCE)),
                         static_cast<int>(static_cast<int8_t>(msg[PTP_HDR_OFF_LOG_INTERVAL])));
        TESSEL_PKT_DEBUG(ifh, "%s: %s [%s]:    (0x%s)", name, state, hex.c_str());
    }
    uint8_t b[72] = {};
    std::memcpy(b, msg, msg_len < sizeof b ? msg_len : sizeof b);
    jotlog_handle_type buf = pkt_buffer();
    if (buf == nullptr) {
        return;
    }
    // The message's records go in together: one lock and one clock reading for the lot.
    jotlog_entry_type group[4];
    uint32_t n = 0;
    group[n++] = ptp_trace_address_entry<PTP_TRACE_TESSEL_PKT_DUMP>(
        ifh, static_cast<uint32_t>(direction), msg_len, ptp_address_trace_value(peer), ptp_address_trace_mac_low(peer),
        ptp_address_encap_get(peer));
    group[n++] = ptp_trace_entry<PTP_TRACE_TESSEL_PKT_DUMP_BYTES_0>(
        ptp_wire_get32(b), ptp_wire_get32(b + 4), ptp_wire_get32(b + 8), ptp_wire_get32(b + 12), ptp_wire_get32(b + 16),
        ptp_wire_get32(b + 20), ptp_wire_get32(b + 24));
    if (msg_len >= 29) {
        group[n++] = ptp_trace_entry<PTP_TRACE_TESSEL_PKT_DUMP_BYTES_28>(
            ptp_wire_get32(b + 28), ptp_wire_get32(b + 32), ptp_wire_get32(b + 36), ptp_wire_get32(b + 40),
            ptp_wire_get32(b + 44), ptp_wire_get32(b + 48), ptp_wire_get32(b + 52));
    }
    if (msg_len >= 57) {
        group[n++] = ptp_trace_entry<PTP_TRACE_TESSEL_PKT_DUMP_BYTES_56>(
            ptp_wire_get32(b + 56), ptp_wire_get32(b + 60), ptp_wire_get32(b + 64), ptp_wire_get32(b + 68));
    }
    ptp_trace_group(buf, group, n);
}

zerrno tessel_io_vlan_tags_build(tessel_proto_idb_type *idb, dot1q_rewritten_tag_stack_type *tags)
{
    *tags = dot1q_rewritten_tag_stack_type{};
    if (idb->if_type != TESSEL_PACKET_IF_TYPE_TAGGED) {
        return 0;
    }
    bool is_l2 = false;
    zerrno rc = platform_ifhandle_is_l2(idb->attached_ifhandle, &is_l2);
    if (rc == 0) {
        rc = eth_encap_attr_dot1q_tag_stack_from_encap(idb->ether_info, idb->ether_info_len, tags);
    }
    if (rc != 0) {
        *tags = dot1q_rewritten_tag_stack_type{};
        ptp_syslog_vlan_tag_gen_failed(idb->header.ifname);
    }
    return rc;
}

zerrno tessel_packet_ipv4_l2_header_build(tessel_proto_idb_type *idb, uint8_t *buffer, uint32_t *length)
{
    uint8_t mac[PTP_MAC_ADDR_LEN] = {};
    zerrno rc = eth_encap_attr_src_mac_get(idb->ether_info, idb->ether_info_len, mac);
    dot1q_rewritten_tag_stack_type tags{};
    if (rc == 0) {
        rc = tessel_io_vlan_tags_build(idb, &tags);
    }
    if (rc != 0) {
        *length = 0;
        return rc;
    }
    std::memcpy(buffer, TESSEL_PACKET_IPV4_MCAST_MAC, 6);
    std::memcpy(buffer + 6, mac, 6);
    size_t at = 12;
    for (uint32_t i = 0; i < tags.count; i++) {
        ptp_wire_put16(buffer + at, static_cast<uint16_t>(tags.tags[i] >> 16));
        ptp_wire_put16(buffer + at + 2, static_cast<uint16_t>(tags.tags[i]));
        at += 4;
    }
    ptp_wire_put16(buffer + at, 0x0800);
    *length = static_cast<uint32_t>(at + 2);
    return 0;
}
