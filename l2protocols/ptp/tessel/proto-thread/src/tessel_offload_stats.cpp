// Offload notifications (timestamps, statistics) and the statistics requests: periodic,
// solicited by the packet-counter readers (with a time-out), before a session is deleted, and
// the resets of the clear actions.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ptp_strings.h"
#include "ptp_syslog.h"
#include "ptp_trace_points.h"
#include "ptp_wire.h"
#include "ptp_zerr_codes.h"
#include "spio.h"
#include "tessel_fsm.h"
#include "tessel_fsm_types.h"
#include "tessel_offload_private.h"
#include "tessel_packet.h"
#include "tessel_proto_db.h"
#include "tessel_stats.h"
#include "tessel_utils.h"

namespace {

// Solicited answers still awaited, per encapsulation and kind.
bool tessel_offload_ethernet_session_stats_pending = false;
bool tessel_offload_ethernet_if_gl_stats_pending = false;
bool tessel_offload_ipv4_session_stats_pending = false;
bool tessel_offload_ipv4_if_gl_stats_pending = false;
bool tessel_offload_ipv6_session_stats_pending = false;
bool tessel_offload_ipv6_if_gl_stats_pending = false;

// The flag of an encapsulation (1..3) and kind; a dummy for anything else.
bool &pending_flag(uint32_t encap, bool sessions)
{
    static bool none = false;
    switch (encap) {
    case PTP_ENCAP_ETHERNET:
        return sessions ? tessel_offload_ethernet_session_stats_pending : tessel_offload_ethernet_if_gl_stats_pending;
    case PTP_ENCAP_IPV4:
        return sessions ? tessel_offload_ipv4_session_stats_pending : tessel_offload_ipv4_if_gl_stats_pending;
    case PTP_ENCAP_IPV6:
        return sessions ? tessel_offload_ipv6_session_stats_pending : tessel_offload_ipv6_if_gl_stats_pending;
    default: none = false; return none;
    }
}

// The header of one statistics chunk, as read from the notification.
struct ptp_offload_notification_stats_header_type {
    uint8_t kind;   // 1 global, 2 interface, 3 session
    bool more;      // another chunk follows
    bool solicited; // the answer to a solicited request
    bool partial;   // not the last chunk of a complete answer
    uint16_t count; // entries (kinds 2 and 3)
};

ptp_offload_notification_stats_header_type stats_header_read(const uint8_t *c)
{
    return {c[1], ptp_wire_get32(c + 4) != 0, ptp_wire_get32(c + 8) != 0, ptp_wire_get32(c + 12) != 0,
            ptp_wire_get16(c + 16)};
}
ptp_timer_type timeout_timer;
bool timeout_timer_created = false;
ptp_timer_type periodic_timer;
bool periodic_timer_created = false;

constexpr size_t TS_NTFN_LEN = 68;
constexpr size_t CHUNK_HDR_LEN = 16;
constexpr size_t GLOBAL_CHUNK_LEN = 24;
constexpr size_t IF_CHUNK_HDR = 20;
constexpr size_t IF_ENTRY_LEN = 44;
constexpr size_t SESSION_CHUNK_HDR = 24;
constexpr size_t SESSION_ENTRY_LEN = 64;

// The counts of a session entry: where each stands, the packet class and the direction it adds to.
struct session_count_type {
    size_t offset;
    tessel_packet_counter_class_type counter_class;
    tessel_packet_direction_type direction;
};
constexpr session_count_type session_counts[] = {
    {28, TESSEL_PACKET_COUNTER_SYNC, TESSEL_PACKET_RECEIVED},
    {32, TESSEL_PACKET_COUNTER_SYNC, TESSEL_PACKET_SENT},
    {36, TESSEL_PACKET_COUNTER_FOLLOW_UP, TESSEL_PACKET_RECEIVED},
    {40, TESSEL_PACKET_COUNTER_FOLLOW_UP, TESSEL_PACKET_SENT},
    {44, TESSEL_PACKET_COUNTER_DELAY_REQ, TESSEL_PACKET_RECEIVED},
    {48, TESSEL_PACKET_COUNTER_DELAY_REQ, TESSEL_PACKET_SENT},
    {52, TESSEL_PACKET_COUNTER_DELAY_RESP, TESSEL_PACKET_RECEIVED},
    {56, TESSEL_PACKET_COUNTER_DELAY_RESP, TESSEL_PACKET_SENT},
    {60, TESSEL_PACKET_COUNTER_ANNOUNCE, TESSEL_PACKET_SENT},
};

jotlog_handle_type sum()
{
    return ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_SUM);
}
jotlog_handle_type unq()
{
    return ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_UNQ);
}

bool any_pending()
{
    for (uint32_t e = PTP_ENCAP_ETHERNET; e <= PTP_ENCAP_IPV6; e++) {
        if (pending_flag(e, true) || pending_flag(e, false)) {
            return true;
        }
    }
    return false;
}

void clear_all_pending()
{
    for (uint32_t e = PTP_ENCAP_ETHERNET; e <= PTP_ENCAP_IPV6; e++) {
        pending_flag(e, true) = false;
        pending_flag(e, false) = false;
    }
}

// Signed units of 2^-16 ns to whole nanoseconds, toward zero.
int64_t correction_ns(const uint8_t *p)
{
    return static_cast<int64_t>(ptp_wire_get64(p)) / 65536;
}

zerrno timestamps_process(const uint8_t *b, size_t len)
{
    // A Sync carries two corrections, a Delay-Resp one.
    if (len < 2 || len < (b[1] == 1 ? TS_NTFN_LEN : TS_NTFN_LEN - 8)) {
        TESSEL_OFFLOAD_DEBUG_ERR(0, "%s: Offload notification cut short: %zu bytes", len);
        ptp_trace<PTP_TRACE_TESSEL_OFFLOAD_NTFN_SHORT>({sum()}, len);
        return PTP_ZERR_INVALID_ARG;
    }
    const ifhtype ifhandle = ptp_wire_get32(b + 4);
    tessel_offload_data_type *s = tessel_offload_session_find_by_key(ifhandle, b + 8, TESSEL_OFFLOAD_KEY_MAX);
    if (s == nullptr) {
        TESSEL_OFFLOAD_DEBUG_ERR(ifhandle, "%s: Received timestamp for an unknown session");
        ptp_trace<PTP_TRACE_TESSEL_OFFLOAD_TS_UNKNOWN_SESSION>({sum()});
        return PTP_ZERR_INVALID_ARG;
    }
    if (s->data_type != TESSEL_OFFLOAD_DATA_FOREIGN_MASTER || s->foreign_master == nullptr) {
        TESSEL_OFFLOAD_DEBUG_ERR(ifhandle, "%s: Timestamps only expected on foreign-master sessions");
        ptp_trace<PTP_TRACE_TESSEL_OFFLOAD_TS_NOT_FM>({sum()});
        return PTP_ZERR_INVALID_ARG;
    }
    if ((s->flags & TESSEL_OFFLOAD_DELETE_PENDING) != 0) {
        TESSEL_OFFLOAD_DEBUG_ERR(ifhandle, "%s: Received timestamp for a session scheduled to be deleted");
        ptp_trace<PTP_TRACE_TESSEL_OFFLOAD_TS_DELETE_PENDING>({sum()});
        return PTP_ZERR_INVALID_ARG;
    }
    tessel_offload_timing_record_type rec{};
    std::memcpy(rec.t1, b + 32, 10);
    std::memcpy(rec.t2, b + 42, 10);
    switch (b[1]) {
    case 1: // Sync: both corrections
        rec.message = 0;
        tessel_timestamp_add_ns(correction_ns(b + 52), rec.t1);
        tessel_timestamp_add_ns(correction_ns(b + 60), rec.t1);
        break;
    case 2: // Delay-Resp: the first
        rec.message = 1;
        tessel_timestamp_add_ns(correction_ns(b + 52), rec.t1);
        break;
    default: rec.message = 0; break;
    }
    ptp_fsm_offload_timestamps_in(s->foreign_master, &rec, nullptr);
    return 0;
}

const char *kind_text(uint8_t kind)
{
    switch (kind) {
    case 1: return "global";
    case 2: return "interface";
    case 3: return "session";
    default: return "unknown";
    }
}

// One chunk at b (avail bytes left). Its size in *size, 0 when it cannot be read whole.
zerrno chunk_apply(uint32_t encap, const uint8_t *b, size_t avail, size_t *size)
{
    *size = 0;
    zerrno rc = 0;
    const uint8_t kind = b[1];
    switch (kind) {
    case 1:
        if (avail < GLOBAL_CHUNK_LEN) {
            return PTP_ZERR_INVALID_ARG;
        }
        tessel_stats_increment_packet_drop_reason(TESSEL_PACKET_DROP_NO_OFFLOAD_SESSION, ptp_wire_get32(b + 16));
        tessel_stats_increment_packet_drop_reason(TESSEL_PACKET_DROP_INVALID_PACKET, ptp_wire_get32(b + 20));
        *size = GLOBAL_CHUNK_LEN;
        return 0;
    case 2:
    case 3: {
        const size_t hdr = kind == 2 ? IF_CHUNK_HDR : SESSION_CHUNK_HDR;
        const size_t entry_len = kind == 2 ? IF_ENTRY_LEN : SESSION_ENTRY_LEN;
        if (avail < hdr) {
            return PTP_ZERR_INVALID_ARG;
        }
        const uint16_t count = stats_header_read(b).count;
        // A count that overruns what arrived is refused whole: no entry of it is applied.
        if ((avail - hdr) / entry_len < count) {
            return PTP_ZERR_INVALID_ARG;
        }
        for (uint16_t i = 0; i < count; i++) {
            const uint8_t *e = b + hdr + static_cast<size_t>(i) * entry_len;
            const ifhtype ifhandle = ptp_wire_get32(e + (kind == 2 ? 0 : 24));
            tessel_proto_idb_type *idb = nullptr;
            if (tessel_proto_db_get_by_ifhandle(ifhandle, &idb) != 0 || idb == nullptr) {
                if (kind == 3) {
                    TESSEL_OFFLOAD_DEBUG_ERR(ifhandle, "%s: Stats update: IDB not found for if 0x%8.8x", ifhandle);
                } else {
                    TESSEL_OFFLOAD_DEBUG_ERR(ifhandle, "%s: Dropping stats update: interface 0x%8.8x not found",
                                             ifhandle);
                }
                ptp_trace<PTP_TRACE_TESSEL_OFFLOAD_STATS_NO_IDB>({sum()}, ifhandle);
                rc = PTP_ZERR_INVALID_ARG;
                continue;
            }
            if (kind == 2) {
                tessel_stats_increment_packet_drop_counter(idb, TESSEL_PACKET_COUNTER_SYNC, ptp_wire_get32(e + 4));
                tessel_stats_increment_packet_drop_counter(idb, TESSEL_PACKET_COUNTER_FOLLOW_UP, ptp_wire_get32(e + 8));
                tessel_stats_increment_packet_drop_counter(idb, TESSEL_PACKET_COUNTER_DELAY_REQ,
                                                           ptp_wire_get32(e + 12));
                tessel_stats_increment_packet_drop_counter(idb, TESSEL_PACKET_COUNTER_DELAY_RESP,
                                                           ptp_wire_get32(e + 16));
                tessel_stats_increment_packet_drop_reason(TESSEL_PACKET_DROP_TOO_SHORT, ptp_wire_get32(e + 28));
                tessel_stats_increment_packet_drop_reason(TESSEL_PACKET_DROP_INVALID_PACKET, ptp_wire_get32(e + 32));
                tessel_stats_increment_packet_drop_reason(TESSEL_PACKET_DROP_WRONG_SEQUENCE_ID, ptp_wire_get32(e + 36));
                tessel_stats_increment_packet_drop_reason(TESSEL_PACKET_DROP_WRONG_DOMAIN, ptp_wire_get32(e + 40));
                continue;
            }
            ptp_address_type peer{};
            peer.encap = e[1];
            switch (peer.encap) {
            case PTP_ENCAP_ETHERNET: std::memcpy(peer.value, e + 2, 6); break;
            case PTP_ENCAP_IPV4: std::memcpy(peer.value, e + 4, 4); break;
            case PTP_ENCAP_IPV6: std::memcpy(peer.value, e + 8, 16); break;
            default:
                ptp_trace<PTP_TRACE_TESSEL_OFFLOAD_STATS_BAD_ADDR>({sum()}, ifhandle);
                rc = PTP_ZERR_INVALID_ARG;
                continue;
            }
            for (const session_count_type &c : session_counts) {
                tessel_stats_increment_packet_counter(idb, &peer, c.counter_class, c.direction,
                                                      ptp_wire_get32(e + c.offset));
            }
        }
        *size = hdr + static_cast<size_t>(count) * entry_len;
        (void)encap;
        return rc;
    }
    default:
        TESSEL_OFFLOAD_DEBUG_ERR(0, "%s: Dropping stats update: unknown stats session type %u", kind);
        ptp_trace<PTP_TRACE_TESSEL_OFFLOAD_STATS_UNKNOWN_KIND>({sum()}, kind);
        return PTP_ZERR_INVALID_ARG;
    }
}

zerrno stats_process(uint32_t encap, const uint8_t *b, size_t len)
{
    if (encap < PTP_ENCAP_ETHERNET || encap > PTP_ENCAP_IPV6) {
        return PTP_ZERR_INVALID_ARG;
    }
    zerrno rc = 0;
    bool solicited = false;
    bool complete = false;
    uint8_t last_kind = 0;
    size_t off = 0;
    bool first = true;
    for (;;) {
        if (len - off < CHUNK_HDR_LEN || b[off] != 2) {
            rc = PTP_ZERR_INVALID_ARG; // cut short or corrupt: what follows is not read
            break;
        }
        const uint8_t *c = b + off;
        const ptp_offload_notification_stats_header_type h = stats_header_read(c);
        const bool more = h.more;
        if (first) {
            solicited = h.solicited;
            first = false;
        }
        TESSEL_OFFLOAD_DEBUG(0, "%s: Received %s %s stats from offload plugin. More stats %sexpected",
                             tessel_offload_encap_name(encap), kind_text(h.kind), more ? "" : "not ");
        size_t size = 0;
        const zerrno crc = chunk_apply(encap, c, len - off, &size);
        if (crc != 0) {
            rc = crc;
        }
        if (size == 0) {
            break; // unknown kind or overrunning chunk: stop here
        }
        last_kind = h.kind;
        complete = !h.partial;
        off += size;
        if (!more) {
            break;
        }
    }
    if (solicited && complete && last_kind != 0 && any_pending()) {
        pending_flag(encap, last_kind == 3) = false;
        if (!any_pending()) {
            TESSEL_OFFLOAD_DEBUG(0, "%s: Stopping stats timer");
            if (timeout_timer_created) {
                (void)ptp_timer_stop(&timeout_timer);
            }
            tessel_edm_resume_packet_counters_request();
        }
    }
    return rc;
}

void tessel_offload_stats_request_cb(zerrno result, bool has_result)
{
    if (!has_result) {
        TESSEL_OFFLOAD_DEBUG_ERR(0, "%s: Received error from SPIO async callback following stats request: %s",
                                 "No result provided");
        ptp_trace<PTP_TRACE_TESSEL_OFFLOAD_STATS_CB_FAILED>({sum()}, "No result provided");
    } else if (result == 0) {
        TESSEL_OFFLOAD_DEBUG(0, "%s: Received async callback from SPIO following stats request");
        ptp_trace<PTP_TRACE_TESSEL_OFFLOAD_STATS_CB>({sum()});
    } else {
        TESSEL_OFFLOAD_DEBUG_ERR(0, "%s: Received error from SPIO async callback following stats request: %s",
                                 zerr_strerror(result));
        ptp_trace<PTP_TRACE_TESSEL_OFFLOAD_STATS_CB_FAILED>({sum()}, zerr_strerror(result));
    }
}

// The targets of one request or reset: sessions existing in the plugin, or ports.
struct stats_targets {
    std::vector<uint32_t> ifhandles;
    std::vector<tessel_offload_session_key_type> keys;
    std::vector<const void *> key_ptrs;
    std::vector<uint16_t> key_lens;
};

struct port_walk_ctx {
    stats_targets *t;
    uint32_t encap;
    ifhtype ifhandle;
};

zerrno targets_gather(uint32_t encap, ifhtype ifhandle, bool sessions, stats_targets *t)
{
    tessel_offload_state_type &st = tessel_offload_state();
    try {
        if (sessions) {
            if (!st.tree_created) {
                return 0;
            }
            for (avl2_node_type *n = avl2_get_first(&st.tree); n != nullptr; n = avl2_get_next(&st.tree, n)) {
                auto *s = reinterpret_cast<tessel_offload_data_type *>(n);
                if (s->dest_address.encap != encap || (ifhandle != 0 && s->ifhandle != ifhandle) ||
                    (s->flags & TESSEL_OFFLOAD_SESSION_EXISTS) == 0) {
                    continue;
                }
                tessel_offload_session_key_type k{};
                if (tessel_offload_session_key_create(s, &k) != 0) {
                    continue;
                }
                t->ifhandles.push_back(s->ifhandle);
                t->keys.push_back(k);
            }
            for (auto &k : t->keys) {
                t->key_ptrs.push_back(k.bytes);
                t->key_lens.push_back(k.len);
            }
            return 0;
        }
        port_walk_ctx ctx{t, encap, ifhandle};
        tessel_proto_db_walk(
            [](tessel_proto_idb_type *idb, void *context) {
                auto *c = static_cast<port_walk_ctx *>(context);
                if (idb->config.encap == c->encap && idb->header.ifhandle != 0 &&
                    (c->ifhandle == 0 || idb->header.ifhandle == c->ifhandle)) {
                    c->t->ifhandles.push_back(idb->header.ifhandle);
                }
                return true;
            },
            &ctx, nullptr, false);
        return 0;
    } catch (const std::bad_alloc &) {
        return PTP_ZERR_NOMEM;
    }
}

int timeout_expired(ptp_timer_type *, void *, int *)
{
    auto nt = [](bool b) { return b ? "" : "not "; };
    TESSEL_OFFLOAD_DEBUG(0,
                         "%s: Stats offload request timed out. Ethernet session stats %spending. Ethernet IF/GL stats "
                         "%spending. IPv4 session stats %spending. IPV4 IF/GL stats %spending. IPV6 session stats "
                         "%spending. IPV6 IF/GL stats %spending.",
                         nt(tessel_offload_ethernet_session_stats_pending),
                         nt(tessel_offload_ethernet_if_gl_stats_pending), nt(tessel_offload_ipv4_session_stats_pending),
                         nt(tessel_offload_ipv4_if_gl_stats_pending), nt(tessel_offload_ipv6_session_stats_pending),
                         nt(tessel_offload_ipv6_if_gl_stats_pending));
    ptp_trace<PTP_TRACE_TESSEL_OFFLOAD_STATS_TIMEOUT>(
        {sum()}, tessel_offload_ethernet_session_stats_pending, tessel_offload_ethernet_if_gl_stats_pending,
        tessel_offload_ipv4_session_stats_pending, tessel_offload_ipv4_if_gl_stats_pending,
        tessel_offload_ipv6_session_stats_pending, tessel_offload_ipv6_if_gl_stats_pending);
    clear_all_pending();
    tessel_edm_resume_packet_counters_request();
    return 0;
}

int periodic_expired(ptp_timer_type *, void *, int *)
{
    if (!tessel_packet_resync_done()) {
        return 0;
    }
    TESSEL_OFFLOAD_DEBUG(0, "%s: Requesting stats from offload plugin.");
    for (uint32_t e = PTP_ENCAP_ETHERNET; e <= PTP_ENCAP_IPV6; e++) {
        (void)tessel_offload_get_stats_internal(e, 0, true, true);
    }
    for (uint32_t e = PTP_ENCAP_ETHERNET; e <= PTP_ENCAP_IPV6; e++) {
        (void)tessel_offload_get_stats_internal(e, 0, false, true);
    }
    return 0;
}

} // namespace

zerrno tessel_offload_stats_init(void)
{
    zerrno rc = ptp_timer_create(&timeout_timer, timeout_expired, nullptr);
    timeout_timer_created = rc == 0;
    if (rc == 0) {
        rc = ptp_timer_create_and_start(&periodic_timer, TESSEL_OFFLOAD_STATS_PERIOD_MS, true, periodic_expired,
                                        nullptr);
        periodic_timer_created = rc == 0;
    }
    clear_all_pending();
    return rc;
}

void tessel_offload_stats_shutdown(void)
{
    if (periodic_timer_created) {
        (void)ptp_timer_stop(&periodic_timer);
        ptp_timer_destroy(&periodic_timer);
        periodic_timer_created = false;
    }
    if (timeout_timer_created) {
        ptp_timer_destroy(&timeout_timer);
        timeout_timer_created = false;
    }
    clear_all_pending();
}

bool tessel_offload_stats_pending(void)
{
    return any_pending();
}

zerrno tessel_offload_notification_process(uint32_t encap, const uint8_t *buffer, size_t length)
{
    if (buffer == nullptr || length < 1) {
        return PTP_ZERR_INVALID_ARG;
    }
    switch (buffer[0]) {
    case 1: return timestamps_process(buffer, length);
    case 2: return stats_process(encap, buffer, length);
    default:
        TESSEL_OFFLOAD_DEBUG_ERR(0, "%s: Unknown notification type %u received from offload plugin", buffer[0]);
        ptp_trace<PTP_TRACE_TESSEL_OFFLOAD_UNKNOWN_NTFN>({sum()}, buffer[0]);
        return PTP_ZERR_INVALID_ARG;
    }
}

zerrno tessel_offload_get_stats_internal(uint32_t encap, ifhtype ifhandle, bool sessions, bool unsolicited)
{
    stats_targets t;
    zerrno rc = targets_gather(encap, ifhandle, sessions, &t);
    if (rc == 0 && t.ifhandles.empty()) {
        return 0;
    }
    const auto n = static_cast<uint32_t>(t.ifhandles.size());
    if (rc == 0) {
        const spio_offload_stats_request_type req = {sessions ? 0u : 1u,
                                                     unsolicited ? 0u : 1u,
                                                     n,
                                                     t.ifhandles.data(),
                                                     sessions ? t.key_ptrs.data() : nullptr,
                                                     sessions ? t.key_lens.data() : nullptr};
        spio_conn_type *conn = tessel_io_encap_to_spio_conn(encap);
        rc = conn != nullptr ? spio_offload_stats_request_nb(conn, &req) : PTP_ZERR_INVALID_ARG;
        tessel_offload_stats_request_cb(rc, true);
    }
    if (rc != 0) {
        ptp_syslog_spio("requesting offload stats", zerr_strerror(rc));
        ptp_trace<PTP_TRACE_TESSEL_OFFLOAD_STATS_REQUEST_FAILED>({sum(), unq()}, n, rc);
        return rc;
    }
    TESSEL_OFFLOAD_DEBUG(0, "%s: Requested %u offload stats", n);
    if (!unsolicited) {
        pending_flag(encap, sessions) = true;
    }
    return 0;
}

zerrno tessel_offload_get_stats(uint32_t *pending)
{
    if (any_pending()) {
        // A reader that asks again before the answers arrived: the earlier request stands.
        if (pending != nullptr) {
            *pending = 1;
        }
        return 0;
    }
    zerrno rc = 0;
    for (uint32_t e = PTP_ENCAP_ETHERNET; e <= PTP_ENCAP_IPV6 && rc == 0; e++) {
        rc = tessel_offload_get_stats_internal(e, 0, true, false);
        if (rc == 0) {
            rc = tessel_offload_get_stats_internal(e, 0, false, false);
        }
    }
    if (rc != 0) {
        // Answers to the requests sent before the error would set nothing worth waiting for:
        // nobody waits, so no flag may stay set.
        clear_all_pending();
        if (pending != nullptr) {
            *pending = 0;
        }
        return rc;
    }
    if (any_pending()) {
        if (pending != nullptr) {
            *pending = 1;
        }
        TESSEL_OFFLOAD_DEBUG(0, "%s: Starting stats timer");
        if (timeout_timer_created) {
            (void)ptp_timer_start(&timeout_timer, TESSEL_OFFLOAD_STATS_TIMEOUT_MS, false);
        }
    } else if (pending != nullptr) {
        *pending = 0;
    }
    return 0;
}

void tessel_offload_clear_stats(ifhtype ifhandle)
{
    for (uint32_t e = PTP_ENCAP_ETHERNET; e <= PTP_ENCAP_IPV6; e++) {
        for (bool sessions : {true, false}) {
            stats_targets t;
            zerrno rc = targets_gather(e, ifhandle, sessions, &t);
            if (rc == 0 && t.ifhandles.empty()) {
                continue;
            }
            const auto n = static_cast<uint32_t>(t.ifhandles.size());
            if (rc == 0) {
                const spio_offload_stats_request_type req = {sessions ? 0u : 1u,
                                                             0,
                                                             n,
                                                             t.ifhandles.data(),
                                                             sessions ? t.key_ptrs.data() : nullptr,
                                                             sessions ? t.key_lens.data() : nullptr};
                spio_conn_type *conn = tessel_io_encap_to_spio_conn(e);
                rc = conn != nullptr ? spio_offload_stats_reset(conn, &req) : PTP_ZERR_INVALID_ARG;
            }
            if (rc != 0) {
                ptp_syslog_spio("clearing offload stats", zerr_strerror(rc));
                ptp_trace<PTP_TRACE_TESSEL_OFFLOAD_STATS_CLEAR_FAILED>({sum(), unq()}, n, rc);
                continue;
            }
            TESSEL_OFFLOAD_DEBUG(0, "%s: Cleared %u offload stats", n);
            ptp_trace<PTP_TRACE_TESSEL_OFFLOAD_STATS_CLEARED>({sum()}, n);
        }
    }
}
