// The single entry of received PTP messages, the common header of sent ones, and the port's
// foreign-master records (tree, creation, deletion, listening start and end, master table).
#include "tessel_fsm_proto.h"
#include "tessel_fsm_signaling.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "eth_encap.h"
#include "ptp_address.h"
#include "ptp_alloc.h"
#include "ptp_clock.h"
#include "ptp_strings.h"
#include "ptp_trace_points.h"
#include "ptp_wire.h"
#include "tessel_alloc.h"
#include "tessel_fsm.h"
#include "tessel_fsm_announce.h"
#include "tessel_fsm_log.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_rx.h"
#include "tessel_fsm_services.h"
#include "tessel_fsm_signaling.h"
#include "tessel_fsm_types.h"
#include "tessel_fsm_unicast.h"
#include "tessel_interop_config.h"
#include "tessel_master_db.h"
#include "tessel_slave_db.h"
#include "tessel_stats.h"

namespace {

// Packet counter class by message type 0..15.
constexpr std::array<uint8_t, 16> msg_class_table{1, 3, 5, 6, 10, 10, 10, 10, 2, 4, 7, 0, 8, 9, 10, 10};

const char *msg_type_name(uint32_t type)
{
    switch (type) {
    case PTP_MSG_PDELAY_REQ: return "Pdelay-Req";
    case PTP_MSG_PDELAY_RESP: return "Pdelay-Resp";
    case PTP_MSG_PDELAY_RESP_FOLLOW_UP: return "Pdelay-Resp-Follow-Up";
    default: return "Unknown";
    }
}

} // namespace

uint32_t ptp_fsm_proto_msg_class(uint32_t message_type)
{
    return msg_class_table[message_type & 0x0F];
}

uint8_t ptp_fsm_proto_msg_control(uint32_t message_type)
{
    switch (message_type) {
    case PTP_MSG_SYNC: return 0;
    case PTP_MSG_DELAY_REQ: return 1;
    case PTP_MSG_FOLLOW_UP: return 2;
    case PTP_MSG_DELAY_RESP: return 3;
    case PTP_MSG_MANAGEMENT: return 4;
    default: return 5;
    }
}

ptp_fsm_proto_rx_check_type ptp_fsm_proto_rx_check(const ptp_msg_hdr_fields_type *hdr, size_t len,
                                                   uint8_t expected_domain)
{
    ptp_fsm_proto_rx_check_type r{};
    r.drop_reason = -1;
    r.drop_class = TESSEL_PACKET_COUNTER_OTHER;
    if (hdr == nullptr) {
        r.drop_reason = TESSEL_PACKET_DROP_TOO_SHORT;
        return r;
    }
    r.hdr = *hdr;
    // The message must fit in what was received: its own length is never trusted.
    if (r.hdr.message_length < PTP_MSG_HDR_LEN || r.hdr.message_length > len) {
        r.drop_reason = TESSEL_PACKET_DROP_TOO_SHORT;
        return r;
    }
    if (r.hdr.version != PTP_VERSION) {
        r.drop_reason = TESSEL_PACKET_DROP_INVALID_PACKET;
        return r;
    }
    if (r.hdr.domain != expected_domain) {
        r.drop_reason = TESSEL_PACKET_DROP_WRONG_DOMAIN;
        return r;
    }
    return r;
}

uint16_t ptp_fsm_proto_own_port_num(const tessel_proto_idb_type *port)
{
    return ptp_fsm_svc().get_profile() == PTP_PROFILE_G8265_1 ? 1 : port->port_num;
}

uint8_t ptp_fsm_proto_expected_domain(const tessel_proto_idb_type *port, const tessel_local_clock_type *local)
{
    const tessel_interop_config_type *interop = port->config.interop_cfg;
    if (interop != nullptr && (interop->presence & TESSEL_INTEROP_DOMAIN)) {
        return interop->domain;
    }
    return static_cast<uint8_t>(local->domain);
}

void ptp_fsm_proto_msg_hdr_build(tessel_proto_idb_type *port, ptp_msg_hdr_type *hdr, uint32_t message_type,
                                 uint16_t length, uint16_t flags, uint16_t sequence_id, int8_t log_interval)
{
    const tessel_local_clock_type *local = ptp_fsm_svc().get_local_clock();
    PTP_FSM_ASSERT(local != nullptr);
    uint8_t *o = hdr->octets;
    o[PTP_HDR_OFF_TYPE] |= static_cast<uint8_t>(message_type & 0x0F);
    o[PTP_HDR_OFF_VERSION] |= PTP_VERSION;
    ptp_wire_put16(o + PTP_HDR_OFF_LENGTH, length);
    o[PTP_HDR_OFF_DOMAIN] = ptp_fsm_proto_expected_domain(port, local);
    ptp_wire_put16(o + PTP_HDR_OFF_FLAGS, flags);
    ptp_wire_put64(o + PTP_HDR_OFF_SOURCE_CLOCK, local->clock_id);
    ptp_wire_put16(o + PTP_HDR_OFF_SOURCE_PORT, ptp_fsm_proto_own_port_num(port));
    ptp_wire_put16(o + PTP_HDR_OFF_SEQUENCE, sequence_id);
    o[PTP_HDR_OFF_CONTROL] = ptp_fsm_proto_msg_control(message_type);
    o[PTP_HDR_OFF_LOG_INTERVAL] = static_cast<uint8_t>(log_interval);
}

namespace {

// The receive dispatch of a message whose header is decoded (hdr null: fewer bytes than a
// header).
void packet_in(tessel_proto_idb_type *port, const ptp_msg_hdr_fields_type *decoded, const uint8_t *msg, size_t len,
               const ptp_address_type *src, const ptp_address_type *dst)
{
    const uint32_t state = port->fsm.PortState;
    if (ptp_fsm_svc().get_issu_role() != TESSEL_ISSU_ROLE_PRIMARY || state == PTP_PORT_STATE_INITIALIZING ||
        state == PTP_PORT_STATE_FAULTY) {
        ptp_fsm_rx_drop(port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_OTHER, TESSEL_PACKET_DROP_NOT_READY,
                        "Dropping message received when not ready");
        return;
    }

    const tessel_local_clock_type *local = ptp_fsm_svc().get_local_clock();
    PTP_FSM_ASSERT(local != nullptr);
    const uint8_t domain = ptp_fsm_proto_expected_domain(port, local);
    const ptp_fsm_proto_rx_check_type check = ptp_fsm_proto_rx_check(decoded, len, domain);
    const auto reason = static_cast<uint32_t>(check.drop_reason);
    switch (check.drop_reason) {
    case -1: break;
    case TESSEL_PACKET_DROP_WRONG_DOMAIN:
        ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_WRONG_DOMAIN>(
            port, PTP_FSM_AREA_PACKET, check.drop_class, reason, PTP_FSM_TRACE_UNQ,
            std::tuple{state, check.hdr.domain, domain},
            "Dropping PTP messages for a different clock domain %u. Our domain is %u", check.hdr.domain, domain);
        return;
    case TESSEL_PACKET_DROP_INVALID_PACKET:
        ptp_fsm_rx_drop(port, PTP_FSM_AREA_PACKET, check.drop_class, reason, "Dropping PTP message of version %u",
                        check.hdr.version);
        return;
    default:
        ptp_fsm_rx_drop(port, PTP_FSM_AREA_PACKET, check.drop_class, reason,
                        "Dropping PTP message of length %u, %zu bytes received", check.hdr.message_length, len);
        return;
    }
    const ptp_msg_hdr_fields_type &hdr = check.hdr;
    const uint16_t msg_len = hdr.message_length;

    if (src != nullptr) {
        ptp_fsm_svc().count_packet(port, src, ptp_fsm_proto_msg_class(hdr.message_type), TESSEL_PACKET_RECEIVED, 1);
    }

    switch (hdr.message_type) {
    case PTP_MSG_SYNC: ptp_fsm_offload_sync_in(port, msg, src); break;
    case PTP_MSG_DELAY_REQ: ptp_fsm_offload_delay_req_in(port, msg, src); break;
    case PTP_MSG_FOLLOW_UP: ptp_fsm_offload_follow_up_in(port, msg, src); break;
    case PTP_MSG_DELAY_RESP: ptp_fsm_offload_delay_resp_in(port, msg, src); break;
    case PTP_MSG_PDELAY_REQ:
    case PTP_MSG_PDELAY_RESP:
    case PTP_MSG_PDELAY_RESP_FOLLOW_UP:
        ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_PDELAY_NOT_SUPPORTED>(
            port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_OTHER, TESSEL_PACKET_DROP_NOT_SUPPORTED, PTP_FSM_TRACE_PKT,
            std::tuple{state, hdr.message_type}, "Peer-delay messages are not supported - dropping %s",
            msg_type_name(hdr.message_type));
        break;
    case PTP_MSG_ANNOUNCE: ptp_fsm_announce_in(port, msg, msg_len, hdr, src, dst); break;
    case PTP_MSG_SIGNALING: ptp_fsm_proto_signaling_in(port, msg, msg_len, hdr, src, dst); break;
    case PTP_MSG_MANAGEMENT:
        ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_MANAGEMENT_NOT_SUPPORTED>(
            port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_OTHER, TESSEL_PACKET_DROP_NOT_SUPPORTED, PTP_FSM_TRACE_PKT,
            std::tuple{state}, "Management messages not supported - dropping");
        break;
    default:
        ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_UNKNOWN_MSG_TYPE>(
            port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_OTHER, TESSEL_PACKET_DROP_NOT_SUPPORTED, PTP_FSM_TRACE_PKT,
            std::tuple{state, hdr.message_type}, "Unknown message type 0x%x received - dropping", hdr.message_type);
        break;
    }
}

} // namespace

void ptp_fsm_proto_packet_in(tessel_proto_idb_type *port, const uint8_t *msg, size_t len, const uint8_t *timestamp,
                             const ptp_address_type *src, const ptp_address_type *dst)
{
    (void)timestamp; // event messages are timed by the offload plugin
    ptp_msg_hdr_fields_type hdr;
    const bool decoded = ptp_msg_hdr_decode(msg, len, &hdr);
    packet_in(port, decoded ? &hdr : nullptr, msg, len, src, dst);
}

void ptp_fsm_proto_decoded_packet_in(tessel_proto_idb_type *port, const ptp_msg_hdr_fields_type &hdr,
                                     const uint8_t *msg, size_t len, const uint8_t *timestamp,
                                     const ptp_address_type *src, const ptp_address_type *dst)
{
    (void)timestamp;
    packet_in(port, &hdr, msg, len, src, dst);
}

void ptp_fsm_proto_signaling_in(tessel_proto_idb_type *port, const uint8_t *msg, uint16_t msg_len,
                                const ptp_msg_hdr_fields_type &hdr, const ptp_address_type *src,
                                const ptp_address_type *dst)
{
    const uint32_t state = port->fsm.PortState;
    if (msg_len < PTP_SIGNALING_HDR_LEN) {
        ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_MSG_TOO_SHORT>(
            port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_SIGNALING, TESSEL_PACKET_DROP_TOO_SHORT,
            PTP_FSM_TRACE_DET | PTP_FSM_TRACE_UNQ, std::tuple{state, PTP_MSG_SIGNALING, msg_len, PTP_SIGNALING_HDR_LEN},
            "%s message is too short - length is %u, should be at least %u", "Signaling", msg_len,
            static_cast<unsigned>(PTP_SIGNALING_HDR_LEN));
        return;
    }

    const tessel_local_clock_type *local = ptp_fsm_svc().get_local_clock();
    PTP_FSM_ASSERT(local != nullptr);
    const bool g8265_1 = ptp_fsm_svc().get_profile() == PTP_PROFILE_G8265_1;
    const uint16_t own_port = ptp_fsm_proto_own_port_num(port);
    const ptp_port_id_type &sender = hdr.source_port_id;
    if (sender.clock_id == local->clock_id) {
        uint32_t reason;
        if (sender.port_num == own_port) {
            reason = TESSEL_PACKET_DROP_LOOPED_SAME_PORT;
        } else if (g8265_1) {
            reason =
                sender.port_num != 0 ? TESSEL_PACKET_DROP_LOOPED_HIGHER_PORT : TESSEL_PACKET_DROP_LOOPED_LOWER_PORT;
        } else {
            reason = own_port > sender.port_num ? TESSEL_PACKET_DROP_LOOPED_LOWER_PORT
                                                : TESSEL_PACKET_DROP_LOOPED_HIGHER_PORT;
        }
        ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_SIG_FROM_SELF>(
            port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_SIGNALING, reason, PTP_FSM_TRACE_DET | PTP_FSM_TRACE_UNQ,
            std::tuple{state, sender.port_num, own_port},
            "Received a Signaling message from ourselves - sent on port 0x%x, received on port 0x%x", sender.port_num,
            own_port);
        return;
    }

    if (src == nullptr) {
        return;
    }

    const uint64_t target_clock = ptp_wire_get64(msg + ptp_signaling_msg_type::target_clock_off);
    const uint16_t target_port = ptp_wire_get16(msg + ptp_signaling_msg_type::target_port_off);
    const bool clock_ok = target_clock == local->clock_id || target_clock == UINT64_MAX;
    const bool port_ok = target_port == 0xFFFF || target_port == own_port;
    if (!clock_ok || !port_ok) {
        ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_SIG_NOT_FOR_US>(
            port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_SIGNALING, TESSEL_PACKET_DROP_NOT_FOR_US,
            PTP_FSM_TRACE_PKT, std::tuple{src, target_port},
            "Received a Signaling message not meant for us - target clock 0x%lx (%s), port 0x%x",
            static_cast<unsigned long>(target_clock), ptp_fsm_address_str(src), target_port);
        return;
    }

    // TLVs: every length is checked against what is left of the message before it is read. The
    // Cancels and Ack-Cancels they call for leave as one reply when the walk ends, however it ends.
    struct replies_scope {
        tessel_proto_idb_type *port;
        explicit replies_scope(tessel_proto_idb_type *p) : port(p) { ptp_fsm_unicast_replies_begin(port); }
        ~replies_scope() { ptp_fsm_unicast_replies_end(port); }
    } replies(port);
    uint32_t pos = 0;
    uint32_t remaining = msg_len - PTP_SIGNALING_HDR_LEN;
    const uint8_t *tlvs = msg + PTP_SIGNALING_HDR_LEN;
    while (remaining != 0) {
        if (remaining < PTP_MSG_TLV_HDR_LEN) {
            ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_SIG_NO_TLV_HEADER_SPACE>(
                port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_SIGNALING, TESSEL_PACKET_DROP_INVALID_TLVS,
                PTP_FSM_TRACE_DET | PTP_FSM_TRACE_UNQ, std::tuple{state, pos, remaining},
                "Received a Signaling message with insufficient space for next TLV header. Current position %u, "
                "remaining length %u",
                pos, remaining);
            return;
        }
        const uint16_t tlv_type = ptp_wire_get16(tlvs + pos);
        const size_t tlv_len = size_t{ptp_wire_get16(tlvs + pos + 2)} + PTP_MSG_TLV_HDR_LEN;
        if (tlv_len > remaining) {
            ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_SIG_NO_TLV_SPACE>(
                port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_SIGNALING, TESSEL_PACKET_DROP_INVALID_TLVS,
                PTP_FSM_TRACE_DET | PTP_FSM_TRACE_UNQ, std::tuple{state, tlv_len, remaining},
                "Received a Signaling message with insufficient space for current TLV. TLV length %zu, remaining "
                "length %u",
                tlv_len, remaining);
            return;
        }
        switch (tlv_type) {
        case PTP_MSG_TLV_GRANT_UNICAST:
        case PTP_MSG_TLV_CANCEL_UNICAST:
        case PTP_MSG_TLV_ACK_CANCEL_UNICAST:
            ptp_fsm_unicast_tlv_handle(port, tlv_type, src, &sender, tlvs + pos, tlv_len);
            break;
        case PTP_MSG_TLV_REQUEST_UNICAST: break;
        default:
            PTP_FSM_DEBUG_PORT(PTP_FSM_AREA_PACKET, port,
                               "%s: %s: [%s]: Received a Signaling message containing an "
                               "unsupported TLV, type %u - dropping",
                               tlv_type);
            ptp_fsm_trace<PTP_TRACE_TESSEL_FSM_SIG_UNSUPPORTED_TLV>(PTP_FSM_TRACE_DET | PTP_FSM_TRACE_UNQ,
                                                                    ptp_fsm_port_ifhandle(port), state, tlv_type);
            break;
        }
        pos += static_cast<uint32_t>(tlv_len);
        remaining -= static_cast<uint32_t>(tlv_len);
    }
    ptp_fsm_unicast_replies_end(port);
    ptp_fsm_unicast_handle_request_tlvs(port, src, dst, msg, msg_len, &sender);
}

// ---- Foreign-master records ----

int ptp_fsm_proto_foreign_master_compare(const void *a, const void *b, void *)
{
    const ptp_address_type &x = static_cast<const ptp_fsm_foreign_master_type *>(a)->peer_addr;
    const ptp_address_type &y = static_cast<const ptp_fsm_foreign_master_type *>(b)->peer_addr;
    if (x.encap != y.encap) {
        return x.encap < y.encap ? -1 : 1;
    }
    switch (x.encap) {
    case PTP_ENCAP_ETHERNET: return std::memcmp(x.value, y.value, PTP_MAC_ADDR_LEN);
    case PTP_ENCAP_IPV4: {
        uint32_t wx;
        uint32_t wy;
        std::memcpy(&wx, x.value, sizeof(wx));
        std::memcpy(&wy, y.value, sizeof(wy));
        return wx < wy ? -1 : (wx > wy ? 1 : 0);
    }
    case PTP_ENCAP_IPV6:
        for (int half = 0; half < 2; half++) {
            const uint64_t hx = ptp_wire_get64(x.value + 8 * half);
            const uint64_t hy = ptp_wire_get64(y.value + 8 * half);
            if (hx != hy) {
                return hx < hy ? -1 : 1;
            }
        }
        return 0;
    default: ptp_fsm_internal_error("Unknown foreign-master address type", __FILE__, __LINE__);
    }
}

bool ptp_fsm_proto_foreign_master_tree_init(tessel_proto_idb_type *port)
{
    return avl2_init(&port->fsm.foreign_master_table, ptp_fsm_proto_foreign_master_compare, nullptr);
}

ptp_fsm_foreign_master_type *ptp_fsm_proto_foreign_master_find(tessel_proto_idb_type *port,
                                                               const ptp_address_type *addr)
{
    // Addresses of another kind than the tree's can be asked for; only known kinds are keys.
    if (addr->encap < PTP_ENCAP_ETHERNET || addr->encap > PTP_ENCAP_IPV6) {
        return nullptr;
    }
    ptp_fsm_foreign_master_type key;
    key.peer_addr = *addr;
    return reinterpret_cast<ptp_fsm_foreign_master_type *>(avl2_search(&port->fsm.foreign_master_table, &key));
}

zerrno ptp_fsm_proto_foreign_master_add(tessel_proto_idb_type *port, const ptp_address_type *peer,
                                        const ptp_address_type *sent_to, bool skip_peer_index,
                                        ptp_fsm_foreign_master_type **out)
{
    PTP_FSM_ASSERT(out != nullptr);
    *out = nullptr;
    auto *fm = static_cast<ptp_fsm_foreign_master_type *>(tessel_calloc(1, sizeof(ptp_fsm_foreign_master_type)));
    if (fm == nullptr) {
        ptp_alloc_failure_report(sizeof(ptp_fsm_foreign_master_type), "Foreign-master record");
        return PTP_ZERR_NOMEM;
    }
    zerrno rc = ptp_fsm_unicast_fm_timers_create(fm);
    if (rc == ZERR_OK && !skip_peer_index) {
        rc = ptp_fsm_svc().peer_index_acquire(port, peer);
        if (rc != ZERR_OK) {
            ptp_fsm_unicast_fm_timers_delete(fm);
        }
    }
    if (rc != ZERR_OK) {
        tessel_free(fm);
        return rc;
    }

    fm->peer_addr = *peer;
    if (sent_to != nullptr) {
        fm->sent_to_addr = *sent_to;
    } else {
        switch (port->config.encap) {
        case PTP_ENCAP_IPV6: ptp_address_set_ipv6(&fm->sent_to_addr, port->ipv6_addr); break;
        case PTP_ENCAP_IPV4: {
            uint8_t ip[PTP_IPV4_ADDR_LEN];
            std::memcpy(ip, &port->ipv4_addr, sizeof(ip));
            ptp_address_set_ipv4(&fm->sent_to_addr, ip);
            break;
        }
        default: {
            uint8_t mac[PTP_MAC_ADDR_LEN] = {};
            eth_encap_attr_src_mac_get(port->ether_info, port->ether_info_len, mac);
            ptp_address_set_mac(&fm->sent_to_addr, mac);
            break;
        }
        }
    }
    fm->delay_asymmetry = port->config.delay_asymmetry;
    fm->port = port;
    if (avl2_insert(&port->fsm.foreign_master_table, &fm->tree_link) == nullptr) {
        ptp_fsm_internal_error("Duplicate foreign-master entry", __FILE__, __LINE__);
    }
    if (ptp_fsm_debug_on(PTP_FSM_AREA_FSM)) {
        ptp_fsm_debug(PTP_FSM_AREA_FSM, ptp_fsm_port_ifhandle(port), "%s: New foreign-master entry for address %s",
                      ptp_fsm_area_label(PTP_FSM_AREA_FSM), ptp_fsm_address_str(peer));
    }
    ptp_fsm_trace_address<PTP_TRACE_TESSEL_FSM_FM_CREATED>(PTP_FSM_TRACE_DET, port, peer);
    *out = fm;

    ptp_fsm_svc().adjacency_foreign_master_request(fm);
    if (peer->encap == PTP_ENCAP_IPV4 || peer->encap == PTP_ENCAP_IPV6) {
        ptp_fsm_svc().fib_pulse();
    }
    return ZERR_OK;
}

namespace {

// What deletion and destruction share once the record is out of the tree.
void foreign_master_release(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm, uint32_t options)
{
    if (!(options & PTP_FSM_PROTO_PEER_DEL_KEEP_PEER_INDEX)) {
        ptp_fsm_svc().peer_index_release(port, &fm->peer_addr);
    }
    tessel_free(fm->last_announce);
    fm->last_announce = nullptr;
    if (tessel_fib_info_registered(&fm->fib_info)) {
        ptp_fsm_svc().fib_foreign_master_unregister(fm);
    }
    ptp_fsm_unicast_fm_timers_delete(fm);
    // Nothing of the port may point at a record that is gone.
    if (port->fsm.slaving_master == fm) {
        port->fsm.slaving_master = nullptr;
    }
    tessel_free(fm);
}

} // namespace

void ptp_fsm_proto_foreign_master_delete(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm, uint32_t options)
{
    PTP_FSM_ASSERT(!fm->is_in_ranked_list);
    PTP_FSM_DEBUG_PORT(PTP_FSM_AREA_PROTOCOL, port, "%s: %s: [%s]: Foreign-master entry for address %s deleted",
                       ptp_fsm_address_str(&fm->peer_addr));
    ptp_fsm_trace_address<PTP_TRACE_TESSEL_FSM_FM_DELETED>(PTP_FSM_TRACE_DET, port, &fm->peer_addr);
    avl2_node_type *removed = avl2_delete(&port->fsm.foreign_master_table, fm);
    PTP_FSM_ASSERT(removed == &fm->tree_link);
    foreign_master_release(port, fm, options);
}

namespace {

bool is_negotiated_unicast(const ptp_fsm_foreign_master_type *fm)
{
    return fm->transport == PTP_TRANSPORT_UNICAST && !fm->is_nonnegotiated;
}

// Takes a record out of its slave-side negotiation or out of listening.
void foreign_master_unlisten(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm)
{
    if (is_negotiated_unicast(fm)) {
        ptp_fsm_unicast_end_master_listen(port, fm);
    } else {
        ptp_fsm_announce_foreign_master_stop_listening(port, fm);
    }
}

} // namespace

void ptp_fsm_proto_foreign_master_tree_destroy(tessel_proto_idb_type *port)
{
    avl2_tree_type *tree = &port->fsm.foreign_master_table;
    // One at a time so that each record's teardown still sees a consistent port.
    while (avl2_node_type *node = avl2_get_first(tree)) {
        auto *fm = reinterpret_cast<ptp_fsm_foreign_master_type *>(node);
        foreign_master_unlisten(port, fm);
        if (fm->is_in_ranked_list) {
            ptp_fsm_announce_foreign_master_unrank(port, fm);
        }
        avl2_delete(tree, fm);
        foreign_master_release(port, fm, PTP_FSM_PROTO_PEER_DEL_NONE);
    }
}

namespace {

struct master_walk_ctx {
    tessel_proto_idb_type *port;
};

void foreign_master_setup_from_entry(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm,
                                     const tessel_master_db_type *entry)
{
    fm->is_priority_configured = (entry->flags & TESSEL_MASTER_DB_PRIORITY_SET) != 0;
    fm->configured_priority = fm->is_priority_configured ? static_cast<uint8_t>(entry->priority) : 0;
    fm->is_clock_class_configured = (entry->flags & TESSEL_MASTER_DB_CLOCK_CLASS_SET) != 0;
    fm->configured_clock_class = fm->is_clock_class_configured ? static_cast<uint8_t>(entry->clock_class) : 0;
    fm->transport = (entry->flags & TESSEL_MASTER_DB_MULTICAST_SET) ? entry->multicast : PTP_TRANSPORT_UNICAST;
    fm->is_nonnegotiated =
        (entry->flags & TESSEL_MASTER_DB_NON_NEGOTIATED) && (entry->flags & TESSEL_MASTER_DB_NON_NEGOTIATED_SET);
    fm->ptsf_lossannounce = 1;
    fm->announce_count = 0;
    fm->signaling_id = 0;
    fm->is_announce_granted = 0;
    if (entry->flags & TESSEL_MASTER_DB_DELAY_ASYMMETRY_SET) {
        fm->delay_asymmetry = entry->delay_asymmetry;
    }
    if (!is_negotiated_unicast(fm)) {
        fm->grant[PTP_FSM_FM_GRANT_DELAY_RESP].log_interval = static_cast<int8_t>(port->config.delay_req_interval);
        ptp_fsm_announce_foreign_master_start_listening(port, fm);
    } else {
        ptp_fsm_unicast_start_master_listen(port, fm);
    }
}

bool master_table_listen_walker(tessel_master_db_type *entry, void *context)
{
    tessel_proto_idb_type *port = static_cast<master_walk_ctx *>(context)->port;
    if (!(entry->flags & TESSEL_MASTER_DB_ENABLE_SET) || entry->address.encap != port->config.encap ||
        ptp_fsm_proto_foreign_master_find(port, &entry->address) != nullptr) {
        return true;
    }
    ptp_fsm_foreign_master_type *fm = nullptr;
    if (ptp_fsm_proto_foreign_master_add(port, &entry->address, nullptr, false, &fm) != ZERR_OK) {
        return true; // skip this entry
    }
    foreign_master_setup_from_entry(port, fm, entry);
    return true;
}

void master_table_listen(tessel_proto_idb_type *port)
{
    master_walk_ctx ctx{port};
    if (!tessel_master_db_walk(master_table_listen_walker, &port->config.master_table, &ctx)) {
        ptp_fsm_internal_error("Master table walk failed", __FILE__, __LINE__);
    }
}

} // namespace

void ptp_fsm_proto_start_listening(tessel_proto_idb_type *port)
{
    master_table_listen(port);
    ptp_fsm_announce_start_listening(port);
}

void ptp_fsm_proto_end_listening(tessel_proto_idb_type *port)
{
    ptp_fsm_announce_end_listening(port);
    ptp_fsm_proto_foreign_master_tree_destroy(port);
    ptp_fsm_proto_foreign_master_tree_init(port);
}

// ---- Collected records ----

timeout_list::~timeout_list()
{
    tessel_free(items);
}

bool timeout_list::add(ptp_fsm_foreign_master_type *fm, const char *label)
{
    if (count == capacity) {
        const size_t grown_capacity = capacity == 0 ? 8 : capacity * 2;
        void *grown = tessel_realloc(items, grown_capacity * sizeof(*items));
        if (grown == nullptr) {
            ptp_alloc_failure_report(sizeof(*items), label);
            return false;
        }
        items = static_cast<ptp_fsm_foreign_master_type **>(grown);
        capacity = grown_capacity;
    }
    items[count++] = fm;
    return true;
}

// ---- Debug helpers ----

const char *ptp_fsm_address_str(const ptp_address_type *addr)
{
    // Addresses read the same in every debug line of every PTP process.
    return ptp_address_to_str(addr);
}

void ptp_fsm_trace_address_point(uint32_t buffers, const ptp_trace_point_type &point, const tessel_proto_idb_type *port,
                                 const ptp_address_type *addr, std::initializer_list<uint64_t> others)
{
    const uint32_t row = ptp_trace_point_arg_pos(point, PTP_TRACE_ARG_ADDR);
    const uint32_t encap = ptp_address_encap_get(addr);
    const uint64_t fmt = ptp_jotlog_addr_fmt_get(row, encap);
    const uint32_t nargs = ptp_trace_point_nargs(point);
    // The address words as the trace display reads them back (ptp_address_trace_to_str). An
    // IPv6 address is its text, which the record must carry: the reader is another process.
    std::array<uint64_t, PTP_TRACE_MAX_ARGS> words{};
    uint32_t n = 0;
    words[n++] = ptp_fsm_port_ifhandle(port);
    words[n++] = port->fsm.PortState;
    const uint64_t *other = others.begin();
    while (n < nargs) {
        if (n == row && n + 3 <= nargs) {
            words[n++] = ptp_address_trace_value(addr);
            words[n++] = ptp_address_trace_mac_low(addr);
            words[n++] = encap;
        } else {
            words[n++] = other != others.end() ? *other++ : 0;
        }
    }
    const uint32_t text_mask = row < PTP_TRACE_MAX_ARGS && encap == PTP_ENCAP_IPV6 && words[row] != 0 ? 1u << row : 0;
    ptp_fsm_trace_args_text(buffers, ptp_trace_point_id(point) | fmt << PTP_TRACE_ADDR_FMT_SHIFT, text_mask,
                            words.data(), n);
}

// ---- Slave side ----

namespace {

bool mode_slaving_only(uint32_t mode)
{
    return mode == PTP_PROFILE_DEFAULT || mode == PTP_PROFILE_G8275_1;
}

// Starts the slave-side streams of the master the port now slaves to (modes 0 and 2).
void slaving_streams_start(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm)
{
    ptp_fsm_unicast_start_slaving(port, fm);
    if (fm->transport != PTP_TRANSPORT_UNICAST) {
        ptp_fsm_offload_fm_sync_start(port, fm);
    }
}

} // namespace

void ptp_fsm_proto_start_slave(tessel_proto_idb_type *port)
{
    ptp_fsm_foreign_master_type *best = port->fsm.foreign_master_ranked_list;
    PTP_FSM_ASSERT(best != nullptr);
    if (mode_slaving_only(ptp_fsm_svc().get_profile())) {
        port->fsm.is_slave_drrm_running = 1;
        port->fsm.slaving_master = best;
        if (!best->is_slaving) {
            slaving_streams_start(port, best);
        }
    } else {
        port->fsm.slaving_master = best;
    }
    best->is_slaving = 1;
}

void ptp_fsm_proto_reset_slave(tessel_proto_idb_type *port)
{
    ptp_fsm_foreign_master_type *best = port->fsm.foreign_master_ranked_list;
    PTP_FSM_ASSERT(best != nullptr);
    const bool streams = mode_slaving_only(ptp_fsm_svc().get_profile());
    ptp_fsm_foreign_master_type *old = port->fsm.slaving_master;
    if (old != nullptr) {
        if (streams) {
            if (old->transport != PTP_TRANSPORT_UNICAST) {
                ptp_fsm_offload_fm_sync_stop(port, old);
            }
            ptp_fsm_unicast_stop_slaving(port, old);
        }
        old->is_slaving = 0;
        port->fsm.slaving_master = nullptr;
    }
    ptp_fsm_offload_slave_drrm_reset(port);
    port->fsm.slaving_master = best;
    best->is_slaving = 1;
    if (streams) {
        slaving_streams_start(port, best);
    }
}

void ptp_fsm_proto_stop_slave(tessel_proto_idb_type *port)
{
    const bool streams = mode_slaving_only(ptp_fsm_svc().get_profile());
    ptp_fsm_foreign_master_type *fm = port->fsm.slaving_master;
    if (fm != nullptr) {
        if (streams) {
            if (fm->transport != PTP_TRANSPORT_UNICAST) {
                ptp_fsm_offload_fm_sync_stop(port, fm);
                if (fm->transport == PTP_TRANSPORT_MULTICAST) {
                    ptp_fsm_offload_fm_delay_req_stop(port, fm);
                }
            } else {
                ptp_fsm_unicast_stop_slaving(port, fm);
            }
        }
        fm->is_slaving = 0;
        port->fsm.slaving_master = nullptr;
    }
    if (streams) {
        port->fsm.is_slave_drrm_running = 0;
    }
}

void ptp_fsm_proto_foreign_master_relisten(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm, bool slaving)
{
    ptp_fsm_unicast_restore_master_negotiation(port, fm, slaving);
    if (fm->transport != PTP_TRANSPORT_UNICAST) {
        ptp_fsm_announce_foreign_master_start_listening(port, fm);
    }
}

zerrno ptp_fsm_proto_best_foreign_master_restore(tessel_proto_idb_type *port,
                                                 const tessel_chkpt_foreign_master_type *rec, bool slaving,
                                                 bool start_listening)
{
    PTP_FSM_ASSERT(rec != nullptr);
    ptp_fsm_foreign_master_type *fm = nullptr;
    const zerrno rc = ptp_fsm_proto_foreign_master_add(port, &rec->peer_addr, &rec->sent_to_addr, true, &fm);
    if (rc != ZERR_OK) {
        return rc;
    }
    fm->master_clock = rec->master_clock;
    fm->parent_port_id = rec->master_clock.sender;
    fm->transport = rec->transport;
    fm->configured_priority = rec->configured_priority;
    fm->is_priority_configured = rec->is_priority_configured ? 1 : 0;
    fm->configured_clock_class = rec->configured_clock_class;
    fm->is_clock_class_configured = rec->is_clock_class_configured ? 1 : 0;
    fm->is_nonnegotiated = rec->is_nonnegotiated ? 1 : 0;
    fm->is_slaving = slaving ? 1 : 0;
    clock_gettime(CLOCK_REALTIME, &fm->first_announce_time);
    if (start_listening) {
        ptp_fsm_proto_foreign_master_relisten(port, fm, slaving);
    }
    fm->delay_asymmetry = rec->delay_asymmetry;
    ptp_fsm_announce_foreign_master_qualify(port, fm, 0);
    return ZERR_OK;
}

void ptp_fsm_proto_best_foreign_master_get_chkpt(tessel_proto_idb_type *port, int *present,
                                                 tessel_chkpt_foreign_master_type *rec)
{
    const ptp_fsm_foreign_master_type *best = ptp_fsm_announce_best_foreign_master(port);
    if (best == nullptr) {
        *present = 0;
        return;
    }
    *present = 1;
    std::memset(rec, 0, sizeof(*rec));
    rec->peer_addr = best->peer_addr;
    rec->sent_to_addr = best->sent_to_addr;
    rec->master_clock = best->master_clock;
    rec->master_clock.sender = best->parent_port_id;
    rec->transport = best->transport;
    rec->delay_asymmetry = best->delay_asymmetry;
    rec->configured_priority = best->configured_priority;
    rec->is_priority_configured = best->is_priority_configured;
    rec->configured_clock_class = best->configured_clock_class;
    rec->is_clock_class_configured = best->is_clock_class_configured;
    rec->is_nonnegotiated = best->is_nonnegotiated;
    rec->is_in_master_table = tessel_master_db_contains(&port->config.master_table, &best->peer_addr) ? 1 : 0;
}

// ---- Master-table change ----

namespace {

struct config_walk_ctx {
    tessel_proto_idb_type *port;
    const ptp_clock_type *node_bmc;
    timeout_list collected;
};

void reannounce(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm, const ptp_clock_type *node_bmc)
{
    if (ptp_clock_equal(&fm->master_clock, node_bmc)) {
        if (fm->is_in_ranked_list) {
            ptp_fsm_announce_foreign_master_unrank(port, fm);
        }
        ptp_fsm_announce_foreign_master_update_rank(fm);
        ptp_fsm_announce_best_foreign_master_changed(port);
    }
}

void leave_mode(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm)
{
    if (!is_negotiated_unicast(fm)) {
        if (fm->transport == PTP_TRANSPORT_UNICAST) {
            ptp_fsm_offload_fm_sync_stop(port, fm);
            ptp_fsm_offload_fm_delay_req_stop(port, fm);
        }
        ptp_fsm_announce_foreign_master_stop_listening(port, fm);
    } else {
        ptp_fsm_unicast_end_master_listen(port, fm);
    }
}

void enter_mode(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm)
{
    if (!is_negotiated_unicast(fm)) {
        ptp_fsm_announce_foreign_master_start_listening(port, fm);
    } else {
        fm->is_listening = 0;
        ptp_fsm_unicast_start_master_listen(port, fm);
    }
}

bool master_config_walker(avl2_node_type *node, void *context)
{
    auto *ctx = static_cast<config_walk_ctx *>(context);
    tessel_proto_idb_type *port = ctx->port;
    auto *fm = reinterpret_cast<ptp_fsm_foreign_master_type *>(node);
    tessel_master_db_type *entry = nullptr;
    if (tessel_master_db_find(&port->config.master_table, &fm->peer_addr, &entry) != ZERR_OK) {
        entry = nullptr;
    }
    if (entry == nullptr && fm->transport == PTP_TRANSPORT_MULTICAST) {
        const bool was_configured = fm->is_priority_configured || fm->is_clock_class_configured;
        fm->is_priority_configured = 0;
        fm->is_clock_class_configured = 0;
        fm->is_nonnegotiated = 0;
        if (fm->delay_asymmetry != port->config.delay_asymmetry) {
            fm->delay_asymmetry = port->config.delay_asymmetry;
            reannounce(port, fm, ctx->node_bmc);
        } else if (was_configured) {
            reannounce(port, fm, ctx->node_bmc);
        }
        return true;
    }
    if (entry == nullptr) {
        if (!is_negotiated_unicast(fm)) {
            ptp_fsm_offload_fm_sync_stop(port, fm);
        }
        ptp_fsm_unicast_stop_slaving(port, fm);
        fm->is_slaving = 0;
        if (port->fsm.slaving_master == fm) {
            port->fsm.slaving_master = nullptr;
        }
        if (is_negotiated_unicast(fm)) {
            ptp_fsm_unicast_end_master_listen(port, fm);
        } else {
            ptp_fsm_announce_foreign_master_stop_listening(port, fm);
        }
        if (!ctx->collected.add(fm, "Foreign master list entry")) {
            return true; // kept
        }
        return true;
    }
    if (!(entry->flags & TESSEL_MASTER_DB_ENABLE_SET) || entry->address.encap != port->config.encap) {
        return true;
    }
    const uint32_t transport =
        (entry->flags & TESSEL_MASTER_DB_MULTICAST_SET) ? entry->multicast : PTP_TRANSPORT_UNICAST;
    const uint8_t nonneg =
        (entry->flags & TESSEL_MASTER_DB_NON_NEGOTIATED) && (entry->flags & TESSEL_MASTER_DB_NON_NEGOTIATED_SET);
    if (transport != fm->transport || nonneg != fm->is_nonnegotiated) {
        leave_mode(port, fm);
        fm->transport = transport;
        fm->is_nonnegotiated = nonneg;
        enter_mode(port, fm);
    }
    bool changed = false;
    const bool prio_set = (entry->flags & TESSEL_MASTER_DB_PRIORITY_SET) != 0;
    const uint8_t prio = prio_set ? static_cast<uint8_t>(entry->priority) : 0;
    if (prio_set != static_cast<bool>(fm->is_priority_configured) || prio != fm->configured_priority) {
        fm->is_priority_configured = prio_set;
        fm->configured_priority = prio;
        changed = true;
    }
    const bool class_set = (entry->flags & TESSEL_MASTER_DB_CLOCK_CLASS_SET) != 0;
    const uint8_t cls = class_set ? static_cast<uint8_t>(entry->clock_class) : 0;
    if (class_set != static_cast<bool>(fm->is_clock_class_configured) || cls != fm->configured_clock_class) {
        fm->is_clock_class_configured = class_set;
        fm->configured_clock_class = cls;
        changed = true;
    }
    const ptp_delay_asymmetry_type asym =
        (entry->flags & TESSEL_MASTER_DB_DELAY_ASYMMETRY_SET) ? entry->delay_asymmetry : port->config.delay_asymmetry;
    if (asym != fm->delay_asymmetry) {
        fm->delay_asymmetry = asym;
        changed = true;
    }
    if (changed) {
        reannounce(port, fm, ctx->node_bmc);
    }
    return true;
}

} // namespace

void ptp_fsm_proto_master_config_change(tessel_proto_idb_type *port)
{
    master_table_listen(port);
    config_walk_ctx ctx{port, ptp_fsm_svc().bmc_get_node_bmc(), {}};
    avl2_walk(&port->fsm.foreign_master_table, master_config_walker, &ctx);
    for (size_t i = 0; i < ctx.collected.count; i++) {
        ptp_fsm_foreign_master_type *fm = ctx.collected.items[i];
        if (fm->is_in_ranked_list) {
            ptp_fsm_announce_foreign_master_unrank(port, fm);
        }
        ptp_fsm_proto_foreign_master_delete(port, fm, PTP_FSM_PROTO_PEER_DEL_NONE);
    }
}

// ---- Slave-table change ----

namespace {

// A slave-table entry that asks for a non-negotiated slave: the value and its set bit.
bool slave_entry_nonnegotiated(const tessel_slave_db_type *entry)
{
    constexpr uint8_t both = TESSEL_SLAVE_DB_CONFIGURED | TESSEL_SLAVE_DB_NON_NEGOTIATED;
    return (entry->flags & both) == both;
}

// The peer is served without negotiation from now on, its Delay-Req answered.
void peer_make_nonnegotiated(tessel_proto_idb_type *port, ptp_fsm_peer_entry_type *peer)
{
    ptp_fsm_offload_peer_session_update(port, peer);
    peer->is_nonnegotiated = 1;
    ptp_fsm_offload_peer_session_update(port, peer);
    ptp_fsm_offload_peer_delay_req_reply_start(port, peer);
}

bool slave_config_walker(tessel_slave_db_type *entry, void *context)
{
    auto *port = static_cast<tessel_proto_idb_type *>(context);
    // A slave configured as negotiated asks for its grants like any other slave: the table
    // neither creates a peer for it nor keeps a non-negotiated one.
    if (entry->address.encap != port->config.encap || !slave_entry_nonnegotiated(entry)) {
        return true;
    }
    ptp_fsm_peer_entry_type *peer = ptp_fsm_unicast_peer_entry_find(port, &entry->address);
    if (peer != nullptr) {
        peer->is_resync_pending = 0;
        if (!peer->is_nonnegotiated) {
            peer_make_nonnegotiated(port, peer);
        }
        return true;
    }
    // The slave's port identity is learnt from nothing it sends: any port of any clock. A node
    // already holding its limit of peers refuses the entry; the next table change tries again.
    const ptp_port_id_type any_port{UINT64_MAX, 0xFFFF};
    if (ptp_fsm_unicast_peer_entry_create(port, &entry->address, nullptr, &any_port, false, true, &peer) == 0) {
        peer_make_nonnegotiated(port, peer);
    }
    return true;
}

} // namespace

void ptp_fsm_proto_slave_config_change(tessel_proto_idb_type *port)
{
    avl2_tree_type *peers = &port->fsm.unicast_peer_tree;
    for (avl2_node_type *row = avl2_get_first(peers); row != nullptr; row = avl2_get_next(peers, row)) {
        auto *peer = reinterpret_cast<ptp_fsm_peer_entry_type *>(row);
        peer->is_resync_pending = peer->is_nonnegotiated;
    }
    tessel_slave_db_walk(slave_config_walker, &port->config.slave_table, port);
    // Whatever is still marked left the table. The next row is taken before a row goes, so no
    // list (and no allocation that could fail) is needed.
    avl2_node_type *row = avl2_get_first(peers);
    while (row != nullptr) {
        auto *peer = reinterpret_cast<ptp_fsm_peer_entry_type *>(row);
        row = avl2_get_next(peers, row);
        if (!peer->is_resync_pending) {
            continue;
        }
        PTP_FSM_ASSERT(peer->is_nonnegotiated);
        peer->is_resync_pending = 0;
        peer->is_nonnegotiated = 0;
        ptp_fsm_offload_peer_session_update(port, peer);
        ptp_fsm_unicast_peer_entry_delete(peer, PTP_FSM_PROTO_PEER_DEL_NONE);
    }
}
