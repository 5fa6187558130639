// Unicast negotiation, master side: the port's unicast peers and their grants, the answer to
// Unicast-Request TLVs, grant expiry, cancels, the end of grants and the restore from
// checkpoint; and what both sides share: the Signaling senders and the dispatch of received
// Grant, Cancel and Ack-Cancel TLVs.
#include "tessel_fsm_unicast.h"
#include "mgd_timer.h"
#include "tessel_adjacency_types.h"
#include "tessel_fsm_services.h"
#include "tessel_mgd_timer.h"

#include <array>
#include <cstring>
#include <ctime>

#include "eth_encap.h"
#include "plat_clock.h"
#include "ptp_address.h"
#include "ptp_alloc.h"
#include "ptp_strings.h"
#include "ptp_trace_points.h"
#include "ptp_wire.h"
#include "ptp_zerr_codes.h"
#include "tessel_alloc.h"
#include "tessel_db.h"
#include "tessel_fsm.h"
#include "tessel_fsm_log.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_rx.h"
#include "tessel_fsm_signaling.h"
#include "tessel_fsm_types.h"
#include "tessel_fsm_unicast_priv.h"
#include "tessel_stats.h"
#include "zerrno.h"

uint32_t ptp_fsm_unicast_peer_count = 0;

namespace {

constexpr uint32_t AREA = PTP_FSM_AREA_PROTOCOL;

static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_UNICAST_TLV_BAD_LENGTH) == 0x500100648ull);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_UNICAST_REQUEST_SENT) == 0x600100683ull);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_UNICAST_GRANT_REPLY_SENT) == 0x700100682ull);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_UNICAST_PEER_TREE_INIT_FAILED) == 0x200100677ull);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_UNICAST_ANNOUNCE_EXPIRED) == 0x50010068aull);

mgd_timer_parent *grant_timer_parent = nullptr;

template <const ptp_trace_point_type &P>
void trace_granted(const tessel_proto_idb_type *port, const ptp_address_type *peer, int8_t interval)
{
    ptp_fsm_trace_address<P>(PTP_FSM_TRACE_DET, port, peer, int64_t{interval});
}
template <const ptp_trace_point_type &P>
void trace_expired(const tessel_proto_idb_type *port, const ptp_address_type *peer)
{
    ptp_fsm_trace_address<P>(PTP_FSM_TRACE_DET, port, peer);
}

struct kind_info_type {
    uint32_t msg_type;
    const char *name;
    const char *timer_name;
    void (*granted)(const tessel_proto_idb_type *port, const ptp_address_type *peer, int8_t interval);
    void (*expired)(const tessel_proto_idb_type *port, const ptp_address_type *peer);
    tessel_mgd_timer_handler_fn_type expire;
};
const std::array<kind_info_type, PTP_FSM_PEER_GRANT_KINDS> kinds{{
    {PTP_MSG_ANNOUNCE, "Announce", "Announce grant timer", trace_granted<PTP_TRACE_TESSEL_UNICAST_ANNOUNCE_GRANTED>,
     trace_expired<PTP_TRACE_TESSEL_UNICAST_ANNOUNCE_EXPIRED>, ptp_fsm_unicast_grant_announce_expire},
    {PTP_MSG_SYNC, "Sync", "Sync grant timer", trace_granted<PTP_TRACE_TESSEL_UNICAST_SYNC_GRANTED>,
     trace_expired<PTP_TRACE_TESSEL_UNICAST_SYNC_EXPIRED>, ptp_fsm_unicast_grant_sync_expire},
    {PTP_MSG_DELAY_RESP, "Delay-Resp", "Delay-Resp grant timer",
     trace_granted<PTP_TRACE_TESSEL_UNICAST_DELAY_RESP_GRANTED>,
     trace_expired<PTP_TRACE_TESSEL_UNICAST_DELAY_RESP_EXPIRED>, ptp_fsm_unicast_grant_delay_resp_expire},
}};

bool granted(const ptp_fsm_peer_entry_type *e, uint32_t kind)
{
    switch (kind) {
    case PTP_FSM_PEER_GRANT_ANNOUNCE: return e->is_announce_granted;
    case PTP_FSM_PEER_GRANT_SYNC: return e->is_sync_granted;
    default: return e->is_delay_resp_granted;
    }
}

void set_granted(ptp_fsm_peer_entry_type *e, uint32_t kind, bool on)
{
    const uint8_t v = on ? 1 : 0;
    switch (kind) {
    case PTP_FSM_PEER_GRANT_ANNOUNCE: e->is_announce_granted = v; break;
    case PTP_FSM_PEER_GRANT_SYNC: e->is_sync_granted = v; break;
    default: e->is_delay_resp_granted = v; break;
    }
}

// The port's limits of one kind: longest duration and fastest log interval it grants.
uint32_t port_max_duration(const tessel_proto_idb_type *port, uint32_t kind)
{
    switch (kind) {
    case PTP_FSM_PEER_GRANT_ANNOUNCE: return port->config.announce_grant_duration;
    case PTP_FSM_PEER_GRANT_SYNC: return port->config.sync_grant_duration;
    default: return port->config.delay_resp_grant_duration;
    }
}

int32_t port_min_interval(const tessel_proto_idb_type *port, uint32_t kind)
{
    switch (kind) {
    case PTP_FSM_PEER_GRANT_ANNOUNCE: return port->config.announce_interval;
    case PTP_FSM_PEER_GRANT_SYNC: return port->config.sync_interval;
    default: return port->config.delay_req_interval;
    }
}

void timer_start_s(mgd_timer_leaf *leaf, uint64_t seconds)
{
    if (leaf != nullptr) {
        const struct timespec t {
            static_cast<time_t>(seconds), 0
        };
        mgd_timer_leaf_start(leaf, &t);
    }
}

void timer_stop(mgd_timer_leaf *leaf)
{
    if (leaf != nullptr) {
        mgd_timer_leaf_stop(leaf);
    }
}

uint64_t wall_now()
{
    return static_cast<uint64_t>(plat_time(nullptr));
}

// The offload hook that starts, changes or stops a peer's stream of one kind.
void stream_start(tessel_proto_idb_type *port, ptp_fsm_peer_entry_type *e, uint32_t kind)
{
    if (kind == PTP_FSM_PEER_GRANT_DELAY_RESP) {
        ptp_fsm_offload_peer_delay_req_reply_start(port, e);
    } else {
        ptp_fsm_offload_peer_session_update(port, e);
    }
}

void stream_stop(tessel_proto_idb_type *port, ptp_fsm_peer_entry_type *e, uint32_t kind)
{
    if (kind == PTP_FSM_PEER_GRANT_DELAY_RESP) {
        ptp_fsm_offload_peer_delay_req_reply_stop(port, e);
    } else {
        ptp_fsm_offload_peer_session_update(port, e);
    }
}

// Ends one grant without telling the peer.
void grant_clear(ptp_fsm_peer_entry_type *e, uint32_t kind)
{
    set_granted(e, kind, false);
    e->grant[kind].reply_pending = 0;
    timer_stop(e->grant[kind].grant_timer);
}

void own_address(tessel_proto_idb_type *port, ptp_address_type *out)
{
    *out = ptp_address_type{};
    switch (port->config.encap) {
    case PTP_ENCAP_IPV6: ptp_address_set_ipv6(out, port->ipv6_addr); break;
    case PTP_ENCAP_IPV4: {
        uint8_t ip[PTP_IPV4_ADDR_LEN];
        std::memcpy(ip, &port->ipv4_addr, sizeof(ip));
        ptp_address_set_ipv4(out, ip);
        break;
    }
    default: {
        uint8_t mac[PTP_MAC_ADDR_LEN] = {};
        eth_encap_attr_src_mac_get(port->ether_info, port->ether_info_len, mac);
        ptp_address_set_mac(out, mac);
        break;
    }
    }
}

void timers_free(ptp_fsm_peer_entry_type *e)
{
    for (auto &g : e->grant) {
        if (g.grant_timer != nullptr) {
            tessel_mgd_timer_leaf_free(g.grant_timer);
            g.grant_timer = nullptr;
        }
    }
}

// Everything after the entry left its tree.
void ptp_fsm_unicast_peer_entry_cleanup(ptp_fsm_peer_entry_type *e, uint32_t options)
{
    tessel_proto_idb_type *port = e->port;
    if (!(options & PTP_FSM_PROTO_PEER_DEL_KEEP_PEER_INDEX)) {
        ptp_fsm_svc().peer_index_release(port, &e->peer_addr);
    }
    timers_free(e);
    if (tessel_fib_info_registered(&e->fib_info)) {
        ptp_fsm_svc().fib_unicast_peer_unregister(e);
    }
    PTP_FSM_ASSERT(port->fsm.unicast_peer_count > 0);
    PTP_FSM_ASSERT(ptp_fsm_unicast_peer_count > 0);
    port->fsm.unicast_peer_count--;
    ptp_fsm_unicast_peer_count--;
    ptp_fsm_svc().chkpt_unicast_grant_delete(e);
    tessel_free(e);
}

void grants_changed(ptp_fsm_peer_entry_type *e)
{
    ptp_fsm_client_unicast_grant_change(e, ptp_fsm_unicast_peer_entry_in_use(e) ? 1 : 0);
}

// Cancels every grant of the entry (each with a Unicast-Cancel), then reports it and frees it.
void peer_entry_end(tessel_proto_idb_type *port, ptp_fsm_peer_entry_type *e)
{
    for (uint32_t k = 0; k < PTP_FSM_PEER_GRANT_KINDS; k++) {
        if (!granted(e, k)) {
            continue;
        }
        timer_stop(e->grant[k].grant_timer);
        ptp_fsm_unicast_send_cancel(port, PTP_MSG_TLV_CANCEL_UNICAST, kinds[k].msg_type, &e->peer_sequence_id,
                                    &e->peer_port_id, ptp_fsm_unicast_dest_peer(e));
        grant_clear(e, k);
        stream_stop(port, e, k);
    }
    grants_changed(e);
    ptp_fsm_unicast_peer_entry_cleanup(e, PTP_FSM_PROTO_PEER_DEL_NONE);
}

bool peer_tree_init(tessel_proto_idb_type *port)
{
    return avl2_init(&port->fsm.unicast_peer_tree, ptp_fsm_unicast_peer_entry_compare, nullptr);
}

void grant_expire(ptp_fsm_peer_entry_type *e, uint32_t kind)
{
    tessel_proto_idb_type *port = e->port;
    if (ptp_fsm_debug_on(AREA)) {
        char text[64];
        std::snprintf(text, sizeof text, "%%s: %s grant to peer %%s has expired", kinds[kind].name);
        ptp_fsm_debug(AREA, ptp_fsm_port_ifhandle(port), text, ptp_fsm_area_label(AREA),
                      ptp_fsm_address_str(&e->peer_addr));
    }
    kinds[kind].expired(port, &e->peer_addr);
    grant_clear(e, kind);
    stream_stop(port, e, kind);
    grants_changed(e);
    if (!ptp_fsm_unicast_peer_entry_in_use(e)) {
        ptp_fsm_unicast_peer_entry_delete(e, PTP_FSM_PROTO_PEER_DEL_NONE);
    }
}

} // namespace

// ---- Shared helpers ----

int ptp_fsm_unicast_kind(uint32_t message_type)
{
    switch (message_type) {
    case PTP_MSG_ANNOUNCE: return PTP_FSM_PEER_GRANT_ANNOUNCE;
    case PTP_MSG_SYNC: return PTP_FSM_PEER_GRANT_SYNC;
    case PTP_MSG_DELAY_RESP: return PTP_FSM_PEER_GRANT_DELAY_RESP;
    default: return -1;
    }
}

uint32_t ptp_fsm_unicast_kind_msg_type(uint32_t kind)
{
    return kinds[kind % 3].msg_type;
}

uint32_t ptp_fsm_unicast_renewal_time(uint32_t duration)
{
    return duration < 240 ? duration * 3 / 4 : duration - 60;
}

ptp_fsm_unicast_dest_type ptp_fsm_unicast_dest_fm(const ptp_fsm_foreign_master_type *fm)
{
    ptp_fsm_unicast_dest_type d{&fm->peer_addr, &fm->sent_to_addr, {}, {}};
    if (fm->adjacency.rewrite_str_len <= ADJ_REWRITE_LEN) {
        d.adjacency = fm->adjacency;
    }
    d.fib = fm->fib_info.update;
    return d;
}

ptp_fsm_unicast_dest_type ptp_fsm_unicast_dest_peer(const ptp_fsm_peer_entry_type *entry)
{
    ptp_fsm_unicast_dest_type d{&entry->peer_addr, &entry->local_addr, {}, {}};
    if (entry->adjacency.rewrite_str_len <= ADJ_REWRITE_LEN) {
        d.adjacency = entry->adjacency;
    }
    d.fib = entry->fib_info.update;
    return d;
}

ptp_fsm_unicast_dest_type ptp_fsm_unicast_dest_unknown(const tessel_proto_idb_type *port, const ptp_address_type *peer)
{
    ptp_fsm_unicast_dest_type d{peer, nullptr, {}, {}};
    ptp_fsm_svc().adjacency_get(port->header.ifhandle, peer, &d.adjacency);
    if (d.adjacency.rewrite_str_len > ADJ_REWRITE_LEN) {
        d.adjacency = {};
    }
    return d;
}

zerrno ptp_fsm_unicast_signaling_send(tessel_proto_idb_type *port, uint8_t *msg, uint16_t len, uint16_t sequence_id,
                                      const ptp_port_id_type *target, const ptp_fsm_unicast_dest_type &dest)
{
    // A timer may fire before the controller has told us the local clock: no header, no send. The
    // error table has no row for that; the sender has always reported the local clock's entry as
    // missing.
    if (ptp_fsm_svc().get_local_clock() == nullptr) {
        return PTP_ZERR_DB_NO_ENTRY;
    }
    ptp_msg_hdr_type hdr{};
    ptp_fsm_proto_msg_hdr_build(port, &hdr, PTP_MSG_SIGNALING, len, PTP_SIGNALING_FLAGS, sequence_id,
                                PTP_SIGNALING_LOG_INTERVAL);
    std::memcpy(msg, hdr.octets, PTP_MSG_HDR_LEN);
    ptp_signaling_target_encode(msg, target);
    const zerrno err =
        ptp_fsm_svc().packet_send(port, msg, len, 0, dest.peer, dest.local, nullptr, &dest.adjacency, &dest.fib);
    if (err == 0) {
        ptp_fsm_svc().count_packet(port, dest.peer, TESSEL_PACKET_COUNTER_SIGNALING, TESSEL_PACKET_SENT, 1);
    }
    return err;
}

namespace {

// The Cancel and Ack-Cancel TLVs answering one received Signaling message, gathered into one
// reply: a message of many TLVs from a forged source must not turn into as many messages. TLVs
// past what the reply holds are still acted on but not answered.
constexpr uint32_t CANCEL_REPLY_MAX_TLVS = PTP_FSM_UNICAST_CANCEL_REPLY_MAX_TLVS;

struct cancel_reply_type {
    tessel_proto_idb_type *port = nullptr; // the port whose received message is being answered
    uint32_t count = 0;
    uint16_t sequence_id = 0;
    bool has_target = false;
    ptp_port_id_type target{};
    ptp_address_type peer{};
    ptp_address_type local{};
    bool has_local = false;
    ptp_adjacency_type adjacency{};
    std::array<uint8_t, PTP_SIGNALING_HDR_LEN + PTP_TLV_CANCEL_LEN * CANCEL_REPLY_MAX_TLVS> msg{};
    std::array<std::pair<uint16_t, uint32_t>, CANCEL_REPLY_MAX_TLVS> tlvs{}; // (tlv type, message type)
};
cancel_reply_type cancel_reply;

bool same_target(const ptp_port_id_type *a, bool has_b, const ptp_port_id_type &b)
{
    return a == nullptr ? !has_b : has_b && a->clock_id == b.clock_id && a->port_num == b.port_num;
}

void cancel_sent_log(tessel_proto_idb_type *port, uint16_t tlv_type, uint32_t message_type,
                     const ptp_address_type *peer, zerrno err)
{
    const bool ack = tlv_type == PTP_MSG_TLV_ACK_CANCEL_UNICAST;
    const char *type_name = ptp_msg_type_to_str(message_type);
    if (err == 0) {
        if (ack) {
            PTP_FSM_DEBUG_PORT(AREA, port,
                               "%s: %s: [%s]: Sending Signaling message to peer %s containing "
                               "Unicast-Ack-Cancel TLV for message type %s",
                               ptp_fsm_address_str(peer), type_name);
        } else {
            PTP_FSM_DEBUG_PORT(AREA, port,
                               "%s: %s: [%s]: Sending Signaling message to peer %s containing "
                               "Unicast-Cancel TLV for message type %s",
                               ptp_fsm_address_str(peer), type_name);
        }
        if (ack) {
            ptp_fsm_trace_address<PTP_TRACE_TESSEL_UNICAST_ACK_CANCEL_SENT>(PTP_FSM_TRACE_PKT, port, peer,
                                                                            message_type);
        } else {
            ptp_fsm_trace_address<PTP_TRACE_TESSEL_UNICAST_CANCEL_SENT>(PTP_FSM_TRACE_PKT, port, peer, message_type);
        }
    } else if (ack) {
        PTP_FSM_DEBUG_PORT(AREA, port,
                           "%s: %s: [%s]: Failed to send signaling message to peer %s containing "
                           "Unicast-Ack-Cancel TLV for message type %s: %s",
                           ptp_fsm_address_str(peer), type_name, zerr_strerror(err));
    } else {
        PTP_FSM_DEBUG_PORT(AREA, port,
                           "%s: %s: [%s]: Failed to send Signaling message to peer %s containing "
                           "Unicast-Cancel TLV for message type %s: %s",
                           ptp_fsm_address_str(peer), type_name, zerr_strerror(err));
    }
}

} // namespace

zerrno ptp_fsm_unicast_send_cancel(tessel_proto_idb_type *port, uint16_t tlv_type, uint32_t message_type,
                                   uint16_t *sequence_id, const ptp_port_id_type *target,
                                   const ptp_fsm_unicast_dest_type &dest)
{
    cancel_reply_type &r = cancel_reply;
    if (r.port == port) {
        // Answering a received message: to the same peer and port identity, the TLV joins the
        // reply; anything else goes on its own.
        if (r.count != 0 && ptp_address_equal(&r.peer, dest.peer) && same_target(target, r.has_target, r.target)) {
            if (r.count < CANCEL_REPLY_MAX_TLVS) {
                ptp_unicast_cancel_tlv_encode(tlv_type, {static_cast<uint8_t>(message_type)},
                                              r.msg.data() + PTP_SIGNALING_HDR_LEN + PTP_TLV_CANCEL_LEN * r.count,
                                              PTP_TLV_CANCEL_LEN);
                r.tlvs[r.count++] = {tlv_type, message_type};
            }
            return 0;
        }
        if (r.count == 0) {
            r.sequence_id = sequence_id != nullptr ? (*sequence_id)++ : 0;
            r.has_target = target != nullptr;
            r.target = target != nullptr ? *target : ptp_port_id_type{};
            r.peer = *dest.peer;
            r.has_local = dest.local != nullptr;
            r.local = dest.local != nullptr ? *dest.local : ptp_address_type{};
            r.adjacency = dest.adjacency;
            ptp_unicast_cancel_tlv_encode(tlv_type, {static_cast<uint8_t>(message_type)},
                                          r.msg.data() + PTP_SIGNALING_HDR_LEN, PTP_TLV_CANCEL_LEN);
            r.tlvs[r.count++] = {tlv_type, message_type};
            return 0;
        }
    }
    std::array<uint8_t, PTP_SIGNALING_HDR_LEN + PTP_TLV_CANCEL_LEN> msg{};
    ptp_unicast_cancel_tlv_encode(tlv_type, {static_cast<uint8_t>(message_type)}, msg.data() + PTP_SIGNALING_HDR_LEN,
                                  PTP_TLV_CANCEL_LEN);
    const uint16_t seq = sequence_id != nullptr ? (*sequence_id)++ : 0;
    const zerrno err = ptp_fsm_unicast_signaling_send(port, msg.data(), msg.size(), seq, target, dest);
    cancel_sent_log(port, tlv_type, message_type, dest.peer, err);
    return err;
}

void ptp_fsm_unicast_replies_begin(tessel_proto_idb_type *port)
{
    cancel_reply = {};
    cancel_reply.port = port;
}

void ptp_fsm_unicast_replies_end(tessel_proto_idb_type *port)
{
    cancel_reply_type &r = cancel_reply;
    if (r.port != port) {
        return;
    }
    r.port = nullptr;
    if (r.count == 0) {
        return;
    }
    const ptp_fsm_unicast_dest_type dest{&r.peer, r.has_local ? &r.local : nullptr, r.adjacency, {}};
    const auto len = static_cast<uint16_t>(PTP_SIGNALING_HDR_LEN + PTP_TLV_CANCEL_LEN * r.count);
    const zerrno err = ptp_fsm_unicast_signaling_send(port, r.msg.data(), len, r.sequence_id,
                                                      r.has_target ? &r.target : nullptr, dest);
    for (uint32_t i = 0; i < r.count; i++) {
        cancel_sent_log(port, r.tlvs[i].first, r.tlvs[i].second, &r.peer, err);
    }
    r.count = 0;
}

// ---- Module and port ----

zerrno ptp_fsm_proto_module_init(void)
{
    if (grant_timer_parent != nullptr) {
        return 0;
    }
    return tessel_mgd_timer_parent_new(nullptr, "Unicast grant timers", &grant_timer_parent);
}

void ptp_fsm_proto_module_deinit(void)
{
    if (grant_timer_parent != nullptr) {
        tessel_mgd_timer_parent_free(grant_timer_parent);
        grant_timer_parent = nullptr;
    }
}

mgd_timer_parent *ptp_fsm_unicast_timer_parent(void)
{
    return grant_timer_parent;
}

zerrno ptp_fsm_unicast_port_init(tessel_proto_idb_type *port)
{
    port->fsm.unicast_peer_count = 0;
    port->fsm.is_unicast_grant_allowed = 0;
    if (!peer_tree_init(port)) {
        ptp_fsm_debug(AREA, ptp_fsm_port_ifhandle(port),
                      "%s: [ERROR] %s: Failed to initialise unicast grant tree for this interface",
                      ptp_fsm_area_label(AREA), ptp_fsm_port_name(port));
        ptp_fsm_trace<PTP_TRACE_TESSEL_UNICAST_PEER_TREE_INIT_FAILED>(PTP_FSM_TRACE_DET | PTP_FSM_TRACE_UNQ,
                                                                      ptp_fsm_port_ifhandle(port), port->fsm.PortState);
        return PTP_ZERR_DB_INIT;
    }
    return 0;
}

void ptp_fsm_unicast_port_shutdown(tessel_proto_idb_type *port)
{
    avl2_tree_type *tree = &port->fsm.unicast_peer_tree;
    while (auto *row = avl2_get_first(tree)) {
        avl2_delete(tree, row);
        peer_entry_end(port, reinterpret_cast<ptp_fsm_peer_entry_type *>(row));
    }
    port->fsm.is_unicast_grant_allowed = 0;
}

// ---- Peer entries ----

int ptp_fsm_unicast_peer_entry_compare(const void *a, const void *b, void *)
{
    const auto *x = static_cast<const ptp_fsm_peer_entry_type *>(a);
    const auto *y = static_cast<const ptp_fsm_peer_entry_type *>(b);
    return ptp_address_compare(&x->peer_addr, &y->peer_addr);
}

bool ptp_fsm_unicast_peer_entry_in_use(const ptp_fsm_peer_entry_type *e)
{
    return e->is_announce_granted || e->is_sync_granted || e->is_delay_resp_granted || e->is_nonnegotiated;
}

zerrno ptp_fsm_unicast_peer_entry_create(tessel_proto_idb_type *port, const ptp_address_type *peer,
                                         const ptp_address_type *local, const ptp_port_id_type *peer_port_id,
                                         bool from_chkpt, bool nonnegotiated, ptp_fsm_peer_entry_type **out)
{
    PTP_FSM_ASSERT(out != nullptr && peer != nullptr);
    *out = nullptr;
    if (ptp_fsm_debug_on(AREA)) {
        ptp_fsm_debug(AREA, ptp_fsm_port_ifhandle(port),
                      "%s: [0x%x:%s] Creating unicast peer (%sfrom chkpt): address %s, clock 0x%lx, "
                      "port %u",
                      ptp_fsm_area_label(AREA), ptp_fsm_port_ifhandle(port), ptp_fsm_port_name(port),
                      from_chkpt ? "" : "not ", ptp_fsm_address_str(peer),
                      static_cast<unsigned long>(peer_port_id != nullptr ? peer_port_id->clock_id : 0),
                      peer_port_id != nullptr ? unsigned{peer_port_id->port_num} : 0u);
    }
    // The node limit is checked by the request path; configuration and checkpoint paths get a
    // refusal here rather than a stop.
    if (ptp_fsm_unicast_peer_count >= PTP_FSM_UNICAST_MAX_PEERS) {
        return PTP_ZERR_NOMEM;
    }
    auto *e = static_cast<ptp_fsm_peer_entry_type *>(tessel_calloc(1, sizeof(ptp_fsm_peer_entry_type)));
    if (e == nullptr) {
        ptp_alloc_failure_report(sizeof(ptp_fsm_peer_entry_type), "Peer-entry");
        return PTP_ZERR_NOMEM;
    }
    port->fsm.unicast_peer_count++;
    ptp_fsm_unicast_peer_count++;
    auto undo = [&](bool in_tree) {
        if (in_tree) {
            avl2_delete(&port->fsm.unicast_peer_tree, e);
        }
        timers_free(e);
        port->fsm.unicast_peer_count--;
        ptp_fsm_unicast_peer_count--;
        tessel_free(e);
    };
    if (!nonnegotiated) {
        for (uint32_t k = 0; k < PTP_FSM_PEER_GRANT_KINDS; k++) {
            const zerrno err = tessel_mgd_timer_leaf_new(grant_timer_parent, kinds[k].expire, e, kinds[k].timer_name,
                                                         &e->grant[k].grant_timer);
            if (err != 0) {
                e->grant[k].grant_timer = nullptr;
                undo(false);
                return err;
            }
        }
    }
    e->peer_addr = *peer;
    if (local != nullptr) {
        e->local_addr = *local;
    } else {
        own_address(port, &e->local_addr);
    }
    if (peer_port_id != nullptr) {
        e->peer_port_id = *peer_port_id;
    }
    e->port = port;
    e->is_nonnegotiated = nonnegotiated ? 1 : 0;
    for (uint32_t k = 0; k < PTP_FSM_PEER_GRANT_KINDS; k++) {
        const auto interval = static_cast<int8_t>(port_min_interval(port, k));
        e->grant[k].log_interval = interval;
        e->grant[k].app_log_interval = interval;
    }
    if (avl2_insert(&port->fsm.unicast_peer_tree, &e->tree_link) == nullptr) {
        undo(false);
        return PTP_ZERR_DB_ENTRY_EXISTS;
    }
    ptp_fsm_svc().adjacency_unicast_peer_request(e);
    if (peer->encap == PTP_ENCAP_IPV4 || peer->encap == PTP_ENCAP_IPV6) {
        ptp_fsm_svc().fib_pulse();
    }
    if (!from_chkpt) {
        const zerrno err = ptp_fsm_svc().peer_index_acquire(port, peer);
        if (err != 0) {
            undo(true);
            return err;
        }
    }
    *out = e;
    return 0;
}

ptp_fsm_peer_entry_type *ptp_fsm_unicast_peer_entry_find(tessel_proto_idb_type *port, const ptp_address_type *peer)
{
    if (port == nullptr || peer == nullptr) {
        return nullptr;
    }
    ptp_fsm_peer_entry_type key;
    key.peer_addr = *peer;
    return reinterpret_cast<ptp_fsm_peer_entry_type *>(avl2_search(&port->fsm.unicast_peer_tree, &key));
}

void ptp_fsm_unicast_peer_entry_delete(ptp_fsm_peer_entry_type *entry, uint32_t options)
{
    avl2_node_type *removed = avl2_delete(&entry->port->fsm.unicast_peer_tree, entry);
    PTP_FSM_ASSERT(removed == &entry->tree_link);
    ptp_fsm_unicast_peer_entry_cleanup(entry, options);
}

void ptp_fsm_unicast_delete_all_peers(tessel_proto_idb_type *port)
{
    avl2_tree_type *tree = &port->fsm.unicast_peer_tree;
    while (auto *row = avl2_get_first(tree)) {
        avl2_delete(tree, row);
        ptp_fsm_unicast_peer_entry_cleanup(reinterpret_cast<ptp_fsm_peer_entry_type *>(row),
                                           PTP_FSM_PROTO_PEER_DEL_NONE);
    }
    peer_tree_init(port);
}

void ptp_fsm_unicast_end_grants(tessel_proto_idb_type *port)
{
    ptp_fsm_unicast_port_shutdown(port);
    peer_tree_init(port);
}

void ptp_fsm_unicast_allow_grants(tessel_proto_idb_type *port)
{
    if (port->config.transport != PTP_TRANSPORT_MULTICAST) {
        port->fsm.is_unicast_grant_allowed = 1;
    }
}

void ptp_fsm_unicast_peer_sweep(tessel_proto_idb_type *port)
{
    const uint64_t now = wall_now();
    avl2_tree_type *tree = &port->fsm.unicast_peer_tree;
    auto *row = avl2_get_first(tree);
    while (row != nullptr) {
        auto *e = reinterpret_cast<ptp_fsm_peer_entry_type *>(row);
        row = avl2_get_next(tree, e);
        if (e->is_nonnegotiated) {
            ptp_fsm_offload_peer_session_update(port, e);
            ptp_fsm_offload_peer_delay_req_reply_start(port, e);
            continue;
        }
        bool cleared = false;
        for (uint32_t k = 0; k < PTP_FSM_PEER_GRANT_KINDS; k++) {
            if (!granted(e, k)) {
                continue;
            }
            if (e->grant[k].expiry > now) {
                timer_start_s(e->grant[k].grant_timer, e->grant[k].expiry - now);
                stream_start(port, e, k);
            } else {
                grant_clear(e, k);
                e->grant[k].log_interval = static_cast<int8_t>(port_min_interval(port, k));
                cleared = true;
            }
        }
        if (cleared) {
            grants_changed(e);
        }
        if (!ptp_fsm_unicast_peer_entry_in_use(e)) {
            ptp_fsm_unicast_peer_entry_delete(e, PTP_FSM_PROTO_PEER_DEL_NONE);
        }
    }
}

zerrno ptp_fsm_unicast_grant_restore(tessel_proto_idb_type *port, const tessel_chkpt_unicast_grant_type *record,
                                     uint64_t chkpt_id)
{
    const bool secondary = ptp_fsm_svc().get_issu_role() == TESSEL_ISSU_ROLE_SECONDARY;
    if (!secondary && !port->fsm.is_unicast_grant_allowed) {
        ptp_fsm_debug(AREA, ptp_fsm_port_ifhandle(port),
                      "%s: [ERROR] %s: Not restoring unicast-grant, since unicast grant not yet "
                      "allowed",
                      ptp_fsm_area_label(AREA), ptp_fsm_port_name(port));
        ptp_fsm_trace<PTP_TRACE_TESSEL_UNICAST_RESTORE_REFUSED>(PTP_FSM_TRACE_DET | PTP_FSM_TRACE_UNQ,
                                                                ptp_fsm_port_ifhandle(port), port->fsm.PortState);
        return PTP_ZERR_RESTORE_NOT_ALLOWED;
    }
    const bool nonneg = (record->nonnegotiated_flags & 0x1) != 0;
    ptp_fsm_peer_entry_type *e = nullptr;
    const zerrno err = ptp_fsm_unicast_peer_entry_create(port, &record->peer_addr, &record->local_addr,
                                                         &record->peer_port_id, true, nonneg, &e);
    if (err != 0) {
        return err;
    }
    e->chkpt_id = chkpt_id;
    const uint64_t now = wall_now();
    bool dropped = false;
    for (uint32_t k = 0; k < PTP_FSM_PEER_GRANT_KINDS; k++) {
        if (nonneg) {
            e->grant[k].log_interval = record->log_interval[k];
            e->grant[k].app_log_interval = record->app_log_interval[k];
            continue;
        }
        if (!(record->grant_flags & (1u << k))) {
            continue;
        }
        if (!secondary && record->expiry[k] <= now) {
            dropped = true;
            continue;
        }
        set_granted(e, k, true);
        e->grant[k].log_interval = record->log_interval[k];
        e->grant[k].app_log_interval = record->app_log_interval[k];
        e->grant[k].duration = record->duration[k];
        e->grant[k].expiry = record->expiry[k];
        if (!secondary) {
            timer_start_s(e->grant[k].grant_timer, record->expiry[k] - now);
            stream_start(port, e, k);
        }
    }
    if (nonneg && !secondary) {
        ptp_fsm_offload_peer_session_update(port, e);
        ptp_fsm_offload_peer_delay_req_reply_start(port, e);
    }
    if (dropped) {
        grants_changed(e);
    }
    if (!ptp_fsm_unicast_peer_entry_in_use(e)) {
        // Restored entries did not take a peer index reference of their own.
        ptp_fsm_unicast_peer_entry_delete(e, PTP_FSM_PROTO_PEER_DEL_KEEP_PEER_INDEX);
    }
    return 0;
}

void ptp_fsm_unicast_grant_announce_expire(void *entry)
{
    grant_expire(static_cast<ptp_fsm_peer_entry_type *>(entry), PTP_FSM_PEER_GRANT_ANNOUNCE);
}

void ptp_fsm_unicast_grant_sync_expire(void *entry)
{
    grant_expire(static_cast<ptp_fsm_peer_entry_type *>(entry), PTP_FSM_PEER_GRANT_SYNC);
}

void ptp_fsm_unicast_grant_delay_resp_expire(void *entry)
{
    grant_expire(static_cast<ptp_fsm_peer_entry_type *>(entry), PTP_FSM_PEER_GRANT_DELAY_RESP);
}

// ---- Requests (master side) ----

namespace {

// The replies to one request message: at most PTP_FSM_UNICAST_REPLY_MAX_TLVS Grant TLVs each.
struct request_reply_type {
    tessel_proto_idb_type *port;
    const ptp_address_type *src;
    const ptp_port_id_type *sender;
    ptp_fsm_peer_entry_type *entry = nullptr;
    bool dest_known = false;
    ptp_fsm_unicast_dest_type dest{};
    std::array<uint8_t, PTP_SIGNALING_HDR_LEN + PTP_TLV_GRANT_LEN * PTP_FSM_UNICAST_REPLY_MAX_TLVS> msg{};
    uint32_t count = 0;
    uint32_t accepts = 0;
    uint32_t denies = 0;
    bool sent_any = false;
    bool at_limit = false;

    void add(uint32_t message_type, int8_t interval, uint32_t duration)
    {
        const ptp_unicast_grant_tlv_type g{static_cast<uint8_t>(message_type), interval, duration,
                                           duration != 0 ? PTP_GRANT_FLAG_RENEWAL_INVITED : uint8_t{0}};
        ptp_unicast_grant_tlv_encode(g, msg.data() + PTP_SIGNALING_HDR_LEN + PTP_TLV_GRANT_LEN * count,
                                     PTP_TLV_GRANT_LEN);
        count++;
        (duration != 0 ? accepts : denies)++;
        if (count == PTP_FSM_UNICAST_REPLY_MAX_TLVS) {
            flush();
        }
    }

    void flush()
    {
        if (count == 0) {
            return;
        }
        if (entry != nullptr) {
            dest = ptp_fsm_unicast_dest_peer(entry);
        } else if (!dest_known) {
            dest = ptp_fsm_unicast_dest_unknown(port, src);
            dest_known = true;
        }
        const auto len = static_cast<uint16_t>(PTP_SIGNALING_HDR_LEN + PTP_TLV_GRANT_LEN * count);
        const uint16_t seq = entry != nullptr ? entry->peer_sequence_id : 0;
        const zerrno err = ptp_fsm_unicast_signaling_send(port, msg.data(), len, seq, sender, dest);
        if (err == 0) {
            PTP_FSM_DEBUG_PORT(AREA, port,
                               "%s: %s: [%s]: Sending signaling message to peer %s countaining %u "
                               "Unicast-Grant TLVs and %u Unicast-Grant deny TLVs",
                               ptp_fsm_address_str(src), accepts, denies);
            ptp_fsm_trace_address<PTP_TRACE_TESSEL_UNICAST_GRANT_REPLY_SENT>(PTP_FSM_TRACE_PKT, port, src, accepts,
                                                                             denies);
        } else {
            PTP_FSM_DEBUG_PORT(AREA, port,
                               "%s: %s: [%s]: Failed to send signaling message to peer %s "
                               "countaining %u Unicast-Grant TLVs and %u Unicast-Grant deny TLVs: %s",
                               ptp_fsm_address_str(src), accepts, denies, zerr_strerror(err));
        }
        if (entry != nullptr) {
            entry->peer_sequence_id++;
        }
        sent_any = true;
        msg.fill(0);
        count = accepts = denies = 0;
    }
};

// The sender's entry for a request that passed the port's checks (e: the entry the message
// found, or null): created when new and the node has room; null: deny.
ptp_fsm_peer_entry_type *request_entry(tessel_proto_idb_type *port, ptp_fsm_peer_entry_type *e,
                                       const ptp_address_type *src, const ptp_address_type *dst,
                                       const ptp_port_id_type *sender, bool *at_limit)
{
    if (e == nullptr) {
        if (ptp_fsm_unicast_peer_count >= PTP_FSM_UNICAST_MAX_PEERS) {
            *at_limit = true;
            return nullptr;
        }
        if (ptp_fsm_unicast_peer_entry_create(port, src, dst, sender, false, false, &e) != 0) {
            return nullptr;
        }
    } else if (dst != nullptr && !ptp_address_equal(&e->local_addr, dst)) {
        e->local_addr = *dst;
        ptp_fsm_offload_peer_session_update(port, e);
    }
    return e;
}

void handle_request(tessel_proto_idb_type *port, request_reply_type &reply, bool &looked_up,
                    const ptp_address_type *dst, const ptp_unicast_request_tlv_type &req)
{
    const uint32_t type = req.message_type;
    const int8_t requested = req.log_interval;
    const int k = ptp_fsm_unicast_kind(type);
    if (!port->fsm.is_unicast_grant_allowed) {
        PTP_FSM_DEBUG_PORT(AREA, port,
                           "%s: %s: [%s]: Received unicast-request TLV when not allowing grants - "
                           "denying");
        reply.add(type, requested, 0);
        return;
    }
    if (port->config.transport == PTP_TRANSPORT_MIXED && (type == PTP_MSG_ANNOUNCE || type == PTP_MSG_SYNC)) {
        PTP_FSM_DEBUG_PORT(AREA, port,
                           "%s: %s: [%s]: Received unicast-request TLV for Announce or Sync for "
                           "mixed-mode port - denying");
        reply.add(type, requested, 0);
        return;
    }
    if (k < 0) {
        PTP_FSM_DEBUG_PORT(AREA, port,
                           "%s: %s: [%s]: Received unicast-request TLV for invalid message type %s "
                           "- denying",
                           ptp_msg_type_to_str(type));
        ptp_fsm_trace<PTP_TRACE_TESSEL_UNICAST_REQUEST_INVALID_TYPE>(
            PTP_FSM_TRACE_DET | PTP_FSM_TRACE_UNQ, ptp_fsm_port_ifhandle(port), port->fsm.PortState, type);
        reply.add(type, requested, 0);
        return;
    }
    const bool deny_invalid = port->config.deny_invalid_grants != 0;
    const uint32_t max_duration = port_max_duration(port, k);
    uint32_t duration = req.duration;
    if (duration > max_duration) {
        PTP_FSM_DEBUG_PORT(AREA, port,
                           "%s: %s: [%s]: Requested unicast grant duration %u exceeds maximum "
                           "supported %u - %s",
                           duration, max_duration, deny_invalid ? "denying" : "reducing");
        if (deny_invalid) {
            reply.add(type, requested, 0);
            return;
        }
        duration = max_duration;
    }
    if (duration == 0) {
        PTP_FSM_DEBUG_PORT(AREA, port,
                           "%s: %s: [%s]: Received unicast grant request with duration zero - "
                           "denying");
        reply.add(type, requested, 0);
        return;
    }
    int8_t interval = requested;
    const int32_t min_interval = port_min_interval(port, k);
    if (interval < min_interval) {
        const bool deny = deny_invalid || k == PTP_FSM_PEER_GRANT_ANNOUNCE;
        PTP_FSM_DEBUG_PORT(AREA, port,
                           "%s: %s: [%s]: Reqeusted unicast grant log message interval %u lower "
                           "than minimum supported %u - %s",
                           static_cast<unsigned>(interval), static_cast<unsigned>(min_interval),
                           deny ? "denying" : "increasing");
        if (deny) {
            reply.add(type, requested, 0);
            return;
        }
        interval = static_cast<int8_t>(min_interval);
    }

    if (!looked_up) {
        looked_up = true;
        reply.entry = request_entry(port, reply.entry, reply.src, dst, reply.sender, &reply.at_limit);
    }
    ptp_fsm_peer_entry_type *e = reply.entry;
    if (e == nullptr) {
        if (reply.at_limit) {
            PTP_FSM_DEBUG_PORT(AREA, port,
                               "%s: %s: [%s]: Reached maximum number of unicast peers - denying "
                               "new grant");
        }
        reply.add(type, requested, 0);
        return;
    }
    if (e->is_nonnegotiated) {
        PTP_FSM_DEBUG_PORT(AREA, port,
                           "%s: %s: [%s]: Unicast-grant request received for non-negotiated "
                           "unicast peer %s",
                           ptp_fsm_address_str(reply.src));
        ptp_fsm_trace_address<PTP_TRACE_TESSEL_UNICAST_REQUEST_NONNEGOTIATED>(PTP_FSM_TRACE_DET | PTP_FSM_TRACE_UNQ,
                                                                              port, reply.src);
        return;
    }
    // Grants go to the slave's current identity (it may have restarted with another one).
    e->peer_port_id = *reply.sender;
    ptp_fsm_peer_grant_type &g = e->grant[k];
    g.duration = duration;
    g.expiry = wall_now() + duration;
    timer_start_s(g.grant_timer, duration);
    if (!granted(e, k)) {
        if (ptp_fsm_debug_on(AREA)) {
            char text[80];
            std::snprintf(text, sizeof text, "%%s: Granting %s messages to peer %%s at log interval %%d",
                          kinds[k].name);
            ptp_fsm_debug(AREA, ptp_fsm_port_ifhandle(port), text, ptp_fsm_area_label(AREA),
                          ptp_fsm_address_str(reply.src), int{interval});
        }
        kinds[k].granted(port, reply.src, interval);
        set_granted(e, k, true);
        g.log_interval = interval;
        g.reply_pending = 1;
        stream_start(port, e, k);
    } else if (g.log_interval == interval) {
        reply.add(type, interval, duration);
    } else {
        g.log_interval = interval;
        g.reply_pending = 1;
        ptp_fsm_offload_peer_session_update(port, e);
    }
}

} // namespace

void ptp_fsm_unicast_handle_request_tlvs(tessel_proto_idb_type *port, const ptp_address_type *src,
                                         const ptp_address_type *dst, const uint8_t *msg, size_t msg_len,
                                         const ptp_port_id_type *sender)
{
    if (port == nullptr || src == nullptr || sender == nullptr || msg == nullptr || msg_len < PTP_SIGNALING_HDR_LEN) {
        return;
    }
    request_reply_type reply{port, src, sender};
    // A known sender's replies, denials included, carry its sequence id and go by its adjacency.
    reply.entry = ptp_fsm_unicast_peer_entry_find(port, src);
    bool looked_up = false;
    size_t pos = PTP_SIGNALING_HDR_LEN;
    while (msg_len - pos >= PTP_MSG_TLV_HDR_LEN) {
        const uint16_t type = ptp_wire_get16(msg + pos);
        const size_t total = size_t{ptp_wire_get16(msg + pos + 2)} + PTP_MSG_TLV_HDR_LEN;
        if (total > msg_len - pos) {
            break; // the receive path stops at such a TLV; never read past the message
        }
        const uint8_t *tlv = msg + pos;
        pos += total;
        if (type != PTP_MSG_TLV_REQUEST_UNICAST ||
            !ptp_fsm_unicast_tlv_length_check(port, PTP_TLV_REQUEST_LEN, total, type)) {
            continue;
        }
        ptp_unicast_request_tlv_type req{};
        if (ptp_unicast_request_tlv_decode(tlv, total, &req)) {
            handle_request(port, reply, looked_up, dst, req);
        }
    }
    reply.flush();
    if (reply.sent_any && reply.entry != nullptr) {
        grants_changed(reply.entry);
    }
}

void ptp_fsm_send_unicast_grant_reply(tessel_proto_idb_type *port, ptp_fsm_peer_entry_type *entry,
                                      uint32_t message_type)
{
    const int k = ptp_fsm_unicast_kind(message_type);
    PTP_FSM_ASSERT(k >= 0);
    ptp_fsm_peer_grant_type &g = entry->grant[k];
    if (!g.reply_pending) {
        PTP_FSM_DEBUG_PORT(AREA, port,
                           "%s: %s: [%s]: Peer %s does not require a response. Grant accept not "
                           "sent.",
                           ptp_fsm_address_str(&entry->peer_addr));
        return;
    }
    std::array<uint8_t, PTP_SIGNALING_HDR_LEN + PTP_TLV_GRANT_LEN> msg{};
    ptp_unicast_grant_tlv_encode(
        {static_cast<uint8_t>(message_type), g.app_log_interval, g.duration, PTP_GRANT_FLAG_RENEWAL_INVITED},
        msg.data() + PTP_SIGNALING_HDR_LEN, PTP_TLV_GRANT_LEN);
    const zerrno err = ptp_fsm_unicast_signaling_send(port, msg.data(), msg.size(), entry->peer_sequence_id,
                                                      &entry->peer_port_id, ptp_fsm_unicast_dest_peer(entry));
    if (err != 0) {
        PTP_FSM_DEBUG_PORT(AREA, port, "%s: %s: [%s]: Failed to send grant accept to peer %s: %s",
                           ptp_fsm_address_str(&entry->peer_addr), zerr_strerror(err));
        return;
    }
    PTP_FSM_DEBUG_PORT(AREA, port, "%s: %s: [%s]: Sent grant %s to peer %s", "accept",
                       ptp_fsm_address_str(&entry->peer_addr));
    ptp_fsm_trace_address<PTP_TRACE_TESSEL_UNICAST_DEFERRED_GRANT_SENT>(PTP_FSM_TRACE_PKT, port, &entry->peer_addr,
                                                                        1u /* accept */, g.duration);
    entry->peer_sequence_id++;
    g.reply_pending = 0;
    grants_changed(entry);
}

// ---- Received TLVs ----

bool ptp_fsm_unicast_tlv_length_check(tessel_proto_idb_type *port, size_t expected, size_t received, uint16_t tlv_type)
{
    if (expected == received) {
        return true;
    }
    ptp_fsm_rx_drop<PTP_TRACE_TESSEL_UNICAST_TLV_BAD_LENGTH>(
        port, AREA, TESSEL_PACKET_COUNTER_SIGNALING, TESSEL_PACKET_DROP_INVALID_TLVS,
        PTP_FSM_TRACE_DET | PTP_FSM_TRACE_UNQ, std::tuple{port->fsm.PortState, tlv_type, received, expected},
        "%s TLV is incorrect length - length is %u, should be %u", tessel_tlv_type_to_string(tlv_type),
        static_cast<unsigned>(received), static_cast<unsigned>(expected));
    return false;
}

namespace {

void handle_cancel(tessel_proto_idb_type *port, const ptp_address_type *src, const ptp_port_id_type *sender,
                   uint32_t type)
{
    ptp_fsm_foreign_master_type *fm = ptp_fsm_proto_foreign_master_find(port, src);
    ptp_fsm_peer_entry_type *e = ptp_fsm_unicast_peer_entry_find(port, src);
    if (fm != nullptr && e != nullptr) {
        PTP_FSM_DEBUG_PORT(AREA, port,
                           "%s: %s: [%s]: Received %s unicast grant cancel from peer %s for which "
                           "we have two grants. Ignoring",
                           ptp_msg_type_to_str(type), ptp_fsm_address_str(src));
        ptp_fsm_trace_address<PTP_TRACE_TESSEL_UNICAST_CANCEL_IGNORED>(PTP_FSM_TRACE_PKT, port, src, type);
        return;
    }
    if (fm == nullptr && e == nullptr) {
        ptp_fsm_unicast_send_cancel(port, PTP_MSG_TLV_ACK_CANCEL_UNICAST, type, nullptr, sender,
                                    ptp_fsm_unicast_dest_unknown(port, src));
        return;
    }
    const int k = ptp_fsm_unicast_kind(type);
    if (k < 0) {
        PTP_FSM_DEBUG_PORT(AREA, port,
                           "%s: %s: [%s]: Received unicast-cancel TLV for invalid message type %s "
                           "- dropping",
                           ptp_msg_type_to_str(type));
        ptp_fsm_trace<PTP_TRACE_TESSEL_UNICAST_CANCEL_INVALID_TYPE>(
            PTP_FSM_TRACE_DET | PTP_FSM_TRACE_UNQ, ptp_fsm_port_ifhandle(port), port->fsm.PortState, type);
        return;
    }
    if (fm != nullptr) {
        ptp_fsm_unicast_fm_cancel_received(port, fm, type);
        ptp_fsm_unicast_send_cancel(port, PTP_MSG_TLV_ACK_CANCEL_UNICAST, type, &fm->signaling_id, sender,
                                    ptp_fsm_unicast_dest_fm(fm));
        return;
    }
    if (granted(e, k)) {
        grant_clear(e, k);
        stream_stop(port, e, k);
    }
    ptp_fsm_unicast_send_cancel(port, PTP_MSG_TLV_ACK_CANCEL_UNICAST, type, &e->peer_sequence_id, sender,
                                ptp_fsm_unicast_dest_peer(e));
    grants_changed(e);
    if (!ptp_fsm_unicast_peer_entry_in_use(e)) {
        ptp_fsm_unicast_peer_entry_delete(e, PTP_FSM_PROTO_PEER_DEL_NONE);
    }
}

} // namespace

void ptp_fsm_unicast_tlv_handle(tessel_proto_idb_type *port, uint16_t tlv_type, const ptp_address_type *src,
                                const ptp_port_id_type *sender, const uint8_t *tlv, size_t tlv_len)
{
    if (port == nullptr || src == nullptr || sender == nullptr || tlv == nullptr) {
        return;
    }
    switch (tlv_type) {
    case PTP_MSG_TLV_ACK_CANCEL_UNICAST:
        // Nothing waits for it; only its length is held to the rule.
        ptp_fsm_unicast_tlv_length_check(port, PTP_TLV_ACK_CANCEL_LEN, tlv_len, tlv_type);
        return;
    case PTP_MSG_TLV_CANCEL_UNICAST: {
        ptp_unicast_cancel_tlv_type c{};
        if (ptp_fsm_unicast_tlv_length_check(port, PTP_TLV_CANCEL_LEN, tlv_len, tlv_type) &&
            ptp_unicast_cancel_tlv_decode(tlv, tlv_len, &c)) {
            handle_cancel(port, src, sender, c.message_type);
        }
        return;
    }
    case PTP_MSG_TLV_GRANT_UNICAST:
        if (ptp_fsm_unicast_tlv_length_check(port, PTP_TLV_GRANT_LEN, tlv_len, tlv_type)) {
            ptp_fsm_unicast_handle_grant(port, src, sender, tlv, tlv_len);
        }
        return;
    default:
        // The receive path calls this with the three types above only (it chooses the type,
        // whatever the peer sent).
        PTP_FSM_ASSERT(false && "unicast TLV type");
        return;
    }
}
