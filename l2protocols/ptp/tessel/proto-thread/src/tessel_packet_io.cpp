// Packet receive and packet-I/O attachment: the three connections, the batched attachment of
// ports to them, resynchronisation, and the receive callbacks.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "avl2.h"
#include "ip_helpers.h"
#include "ptp_address.h"
#include "ptp_alloc.h"
#include "ptp_debug.h"
#include "ptp_strings.h"
#include "ptp_syslog.h"
#include "ptp_wire.h"
#include "tessel_alloc.h"
#include "tessel_assert.h"
#include "tessel_fsm.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_types.h"
#include "tessel_packet.h"
#include "tessel_packet_deps.h"
#include "tessel_packet_private.h"
#include "tessel_proto_db.h"
#include "tessel_stats.h"

using namespace tessel_pkt;

namespace {

constexpr size_t IFNAME_LEN = TESSEL_DB_IFNAME_SIZE;
constexpr size_t RX_PAYLOAD_MAX = 1500;
constexpr size_t ERROR_DUMP_LEN = 84;

struct tessel_packet_attach_entry_type {
    avl2_node_type node; // first: the row of its tree
    char ifname[IFNAME_LEN];
    uint32_t ifhandle;
};

struct tessel_packet_attach_batch_type {
    avl2_tree_type attach_tree;
    uint32_t attach_tree_size;
    avl2_tree_type detach_tree;
    uint32_t detach_tree_size;
    bool is_init;
};

tessel_packet_attach_batch_type batches[4];
// Ports that want attachment, by name.
std::set<std::string> attach_requested;

// Copies a name, cut to fit, always terminated.
void name_copy(char (&dst)[IFNAME_LEN], const char *src)
{
    size_t i = 0;
    for (; i + 1 < IFNAME_LEN && src[i] != '\0'; i++) {
        dst[i] = src[i];
    }
    dst[i] = '\0';
}

int entry_compare(const void *a, const void *b, void *)
{
    return std::strcmp(static_cast<const tessel_packet_attach_entry_type *>(a)->ifname,
                       static_cast<const tessel_packet_attach_entry_type *>(b)->ifname);
}

tessel_packet_attach_entry_type key_of(const char *ifname)
{
    tessel_packet_attach_entry_type key{};
    name_copy(key.ifname, ifname);
    return key;
}

tessel_packet_attach_entry_type *entry_find(avl2_tree_type *tree, const char *ifname)
{
    tessel_packet_attach_entry_type key = key_of(ifname);
    return reinterpret_cast<tessel_packet_attach_entry_type *>(avl2_search(tree, &key));
}

bool entry_add(avl2_tree_type *tree, uint32_t *size, const char *ifname, uint32_t ifhandle)
{
    auto *e = static_cast<tessel_packet_attach_entry_type *>(tessel_calloc(1, sizeof(tessel_packet_attach_entry_type)));
    if (e == nullptr) {
        ptp_alloc_failure_report(sizeof(tessel_packet_attach_entry_type), "SPIO attach batch entry");
        return false;
    }
    name_copy(e->ifname, ifname);
    e->ifhandle = ifhandle;
    avl2_insert(tree, &e->node);
    (*size)++;
    return true;
}

void entry_remove(avl2_tree_type *tree, uint32_t *size, const char *ifname)
{
    tessel_packet_attach_entry_type key = key_of(ifname);
    avl2_node_type *row = avl2_delete(tree, &key);
    if (row != nullptr) {
        TESSEL_ASSERT(*size > 0);
        (*size)--;
        tessel_free(row);
    }
}

void entry_free(avl2_node_type *row)
{
    tessel_free(row);
}

void tree_clear(avl2_tree_type *tree, uint32_t *size)
{
    avl2_destroy(tree, entry_free);
    avl2_init(tree, entry_compare, nullptr);
    *size = 0;
}

void batches_destroy()
{
    for (uint32_t e = PTP_ENCAP_ETHERNET; e <= PTP_ENCAP_IPV6; e++) {
        tessel_packet_attach_batch_type &b = batches[e];
        if (b.is_init) {
            avl2_destroy(&b.attach_tree, entry_free);
            avl2_destroy(&b.detach_tree, entry_free);
        }
        b = tessel_packet_attach_batch_type{};
    }
    attach_requested.clear();
}

// One encapsulation's batch: both trees empty.
bool tessel_packet_attach_batch_init(tessel_packet_attach_batch_type *b)
{
    *b = tessel_packet_attach_batch_type{};
    if (!avl2_init(&b->attach_tree, entry_compare, nullptr) || !avl2_init(&b->detach_tree, entry_compare, nullptr)) {
        return false;
    }
    b->is_init = true;
    return true;
}

bool batches_init()
{
    for (uint32_t e = PTP_ENCAP_ETHERNET; e <= PTP_ENCAP_IPV6; e++) {
        if (!tessel_packet_attach_batch_init(&batches[e])) {
            return false;
        }
    }
    return true;
}

void clear_attached(tessel_proto_idb_type *idb)
{
    idb->is_spio_attached = 0;
    idb->attached_encap = PTP_ENCAP_UNKNOWN;
    idb->attached_ifhandle = 0;
}

// Whether the record's attachment is the one a detach of ifhandle under encap takes away (a
// resync may have attached it anew since, elsewhere; a record of a reused name is not attached).
bool attachment_is(const tessel_proto_idb_type *idb, uint32_t encap, uint32_t ifhandle)
{
    return idb->is_spio_attached != 0 && idb->attached_encap == encap && idb->attached_ifhandle == ifhandle;
}

tessel_proto_idb_type *find_by_name(const char *ifname)
{
    tessel_proto_idb_type *idb = nullptr;
    return tessel_proto_db_get_by_ifname(ifname, &idb) == 0 ? idb : nullptr;
}

const char *encap_word(uint32_t encap)
{
    return encap == PTP_ENCAP_ETHERNET ? "Ethernet" : encap == PTP_ENCAP_IPV4 ? "IPv4" : "IPv6";
}

// ---- Batches ----

// Copies the tree's entries, in key order, into the first n slots of the batch arrays; the
// number of slots filled.
uint32_t tessel_packet_attach_batch_collect(avl2_tree_type *tree, uint32_t n, int selector, uint32_t *handles,
                                            char (*names)[IFNAME_LEN], uint32_t *directions)
{
    uint32_t slot = 0;
    for (avl2_node_type *row = avl2_get_first(tree); row != nullptr && slot < n; row = avl2_get_next(tree, row)) {
        auto *e = reinterpret_cast<tessel_packet_attach_entry_type *>(row);
        std::memcpy(names[slot], e->ifname, IFNAME_LEN);
        handles[slot] = e->ifhandle;
        directions[slot] = selector == 1 ? 1 : 0;
        slot++;
    }
    return slot;
}

void tessel_packet_process_attach_internal(uint32_t encap, int selector)
{
    TESSEL_ASSERT(encap >= PTP_ENCAP_ETHERNET && encap <= PTP_ENCAP_IPV6);
    tessel_packet_attach_batch_type &b = batches[encap];
    if (!b.is_init) {
        return;
    }
    avl2_tree_type *tree = selector == 1 ? &b.attach_tree : &b.detach_tree;
    uint32_t *size = selector == 1 ? &b.attach_tree_size : &b.detach_tree_size;
    const uint32_t n = *size;
    if (n == 0) {
        return;
    }
    struct array_type {
        size_t element;
        const char *what;
        void *mem;
    };
    array_type arrays[4] = {{sizeof(uint32_t), "SPIO attach interface handle array", nullptr},
                            {IFNAME_LEN, "SPIO attach interface name array", nullptr},
                            {sizeof(uint32_t), "SPIO attach status array", nullptr},
                            {sizeof(uint32_t), "SPIO attach direction array", nullptr}};
    for (array_type &a : arrays) {
        a.mem = tessel_calloc(n, a.element);
        if (a.mem == nullptr) {
            ptp_alloc_failure_report(n * a.element, a.what);
            for (array_type &f : arrays) {
                tessel_free(f.mem);
            }
            return; // the batch stays for a later flush
        }
    }
    auto *handles = static_cast<uint32_t *>(arrays[0].mem);
    auto *names = static_cast<char(*)[IFNAME_LEN]>(arrays[1].mem);
    auto *statuses = static_cast<uint32_t *>(arrays[2].mem);
    auto *directions = static_cast<uint32_t *>(arrays[3].mem);
    const uint32_t slot = tessel_packet_attach_batch_collect(tree, n, selector, handles, names, directions);
    tree_clear(tree, size);
    spio_conn_type *conn = tessel_io_encap_to_spio_conn(encap);
    zerrno rc = spio_attach2(conn, 0, slot, handles, directions, statuses);
    if (rc != 0) {
        TESSEL_PKT_DEBUG(0, "%s: [ERROR] SPIO attach failed: %s", zerr_strerror(rc));
        if (selector == 1) {
            trace_fail<PTP_TRACE_TESSEL_PKT_ATTACH_FAILED>(rc);
        } else {
            trace_fail<PTP_TRACE_TESSEL_PKT_DETACH_FAILED>(rc);
        }
        ptp_syslog_spio("attaching to interface", zerr_strerror(rc));
        tessel_offload_resync_timers_start();
        for (uint32_t i = 0; i < slot; i++) {
            tessel_proto_idb_type *idb = find_by_name(names[i]);
            if (idb == nullptr) {
                continue;
            }
            if (selector == 0 && attachment_is(idb, encap, handles[i])) {
                clear_attached(idb);
            }
            tessel_port_mgr_spio_attach_event(idb);
        }
    } else {
        for (uint32_t i = 0; i < slot; i++) {
            tessel_proto_idb_type *idb = find_by_name(names[i]);
            if (statuses[i] != 0) {
                TESSEL_PKT_DEBUG(handles[i], "%s: [ERROR] SPIO attach failed for interface0x%8.8x: %s", handles[i],
                                 zerr_strerror(statuses[i]));
                if (selector == 1) {
                    trace_fail<PTP_TRACE_TESSEL_PKT_ATTACH_IF_FAILED>(handles[i], statuses[i]);
                } else {
                    trace_fail<PTP_TRACE_TESSEL_PKT_DETACH_IF_FAILED>(handles[i], statuses[i]);
                }
                ptp_syslog_spio("attaching to interface", zerr_strerror(statuses[i]));
                tessel_offload_resync_timers_start();
            }
            if (selector == 1) {
                // A deleted record withdraws its pending attach first, so it is here; a missing
                // one is left alone rather than trusted.
                if (idb == nullptr) {
                    continue;
                }
                if (statuses[i] == 0) {
                    idb->is_spio_attached = 1;
                    idb->attached_encap = encap;
                    idb->attached_ifhandle = handles[i];
                }
                tessel_port_mgr_spio_attach_event(idb);
            } else {
                tessel_offload_if_sessions_cleanup(handles[i]);
                if (idb != nullptr) {
                    if (attachment_is(idb, encap, handles[i])) {
                        clear_attached(idb);
                    }
                    tessel_port_mgr_spio_attach_event(idb);
                }
            }
        }
    }
    for (array_type &a : arrays) {
        tessel_free(a.mem);
    }
}

// ---- Resync ----

struct resync_walk_ctx {
    uint32_t encap;
};

bool tessel_packet_attach_resync_walker(tessel_proto_idb_type *idb, void *context)
{
    const uint32_t encap = static_cast<resync_walk_ctx *>(context)->encap;
    if (tessel_packet_attach_requested(idb) && idb->config.encap == encap) {
        clear_attached(idb);
        tessel_packet_attach(idb);
    } else if (idb->is_spio_attached != 0 && idb->attached_encap == encap) {
        // Its pending detach was dropped with the resync, which leaves it detached.
        clear_attached(idb);
        tessel_port_mgr_spio_attach_event(idb);
    }
    return true;
}

void tessel_packet_attach_resync_common(uint32_t encap)
{
    tessel_packet_attach_batch_type &b = batches[encap];
    if (b.is_init) {
        tree_clear(&b.detach_tree, &b.detach_tree_size);
    }
    resync_walk_ctx ctx{encap};
    tessel_proto_db_walk(tessel_packet_attach_resync_walker, &ctx, nullptr, false);
    tessel_packet_process_attach_internal(encap, 1);
}

void resync_req(uint32_t encap, bool (*timer_running)(void), void (*retry_request)(void))
{
    const char *word = encap_word(encap);
    TESSEL_PKT_DEBUG(0, "%s: Received %s SPIO resync req", word);
    spio_conn_type *conn = tessel_io_encap_to_spio_conn(encap);
    spio_resync_start(conn);
    tessel_packet_attach_resync_common(encap);
    tessel_offload_sessions_resync(encap);
    if (!timer_running()) {
        retry_request();
    }
    spio_resync_end(conn);
    TESSEL_PKT_DEBUG(0, "%s: Finished %s SPIO resync", word);
}

// ---- Receive ----

void tessel_packet_rx_error_dump(ctx_packet_type *pkt, uint32_t encap, uint32_t subtype)
{
    uint8_t b[ERROR_DUMP_LEN] = {};
    size_t n = 0;
    zerrno rc = ctx_read(pkt, CTX_LAYER_CONTEXT, 0, b, sizeof b, &n);
    if (rc != 0) {
        TESSEL_PKT_DEBUG_RAW(0, "Failed to read bad packet for dump: %s", zerr_strerror(rc));
        trace_fail<PTP_TRACE_TESSEL_PKT_RX_ERROR_DUMP_READ_FAILED>(rc);
        return;
    }
    if (debug_on()) {
        static constexpr char digits[] = "0123456789abcdef";
        std::string hex(2 * n, '0');
        for (size_t i = 0; i < n; i++) {
            hex[2 * i] = digits[b[i] >> 4];
            hex[2 * i + 1] = digits[b[i] & 0x0F];
        }
        TESSEL_PKT_DEBUG(0, "%s: Incoming packet error, len %zu, encap %s (%u), subtype %u, hex %s", n,
                         ptp_address_encap_to_str(encap), encap, subtype, hex.c_str());
    }
    jotlog_handle_type buf = pkt_buffer();
    ptp_trace<PTP_TRACE_TESSEL_PKT_RX_ERROR_DUMP>({buf}, n, encap, subtype);
    auto w = [&](size_t at) { return ptp_wire_get32(b + at); };
    static_assert(ERROR_DUMP_LEN == 84, "three records of seven words");
    ptp_trace<PTP_TRACE_TESSEL_PKT_RX_ERROR_BYTES_0>({buf}, w(0), w(4), w(8), w(12), w(16), w(20), w(24));
    ptp_trace<PTP_TRACE_TESSEL_PKT_RX_ERROR_BYTES_28>({buf}, w(28), w(32), w(36), w(40), w(44), w(48), w(52));
    ptp_trace<PTP_TRACE_TESSEL_PKT_RX_ERROR_BYTES_56>({buf}, w(56), w(60), w(64), w(68), w(72), w(76), w(80));
}

// A counted drop of a message of a known port (the caller has traced why).
// One counted receive drop, whole: its debug line (the area label and ": " go in front of the
// formatted text), its trace record, the drop counters (class Other and the node reason) and the
// error dump.
template <const ptp_trace_point_type &P, typename... T>
[[gnu::format(printf, 6, 7)]] void rx_drop(tessel_proto_idb_type *idb, ctx_packet_type *pkt, uint32_t encap,
                                           uint32_t reason, std::tuple<T...> trace_args, const char *format, ...)
{
    if (tessel_pkt::debug_on()) {
        char text[512];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        tessel_pkt::debug(idb->header.ifhandle, "%s: %s", tessel_pkt::label(), text);
    }
    std::apply([](auto... a) { trace_fail<P>(a...); }, trace_args);
    tessel_stats_increment_packet_drop_counter(idb, TESSEL_PACKET_COUNTER_OTHER, 1);
    tessel_stats_increment_packet_drop_reason(reason, 1);
    tessel_packet_rx_error_dump(pkt, encap, 0);
}

bool rx_ifhandle_and_timestamp(ctx_packet_type *pkt, uint32_t encap, uint32_t *ifh, ptp_timestamp_type ts)
{
    zerrno rc = ctx_get_u32(pkt, CTX_OPT_IN_IFHANDLE, ifh);
    if (rc != 0) {
        TESSEL_PKT_DEBUG_RAW(0, "Unable to obtain ifhandle for incoming packet: %s", zerr_strerror(rc));
        trace_fail<PTP_TRACE_TESSEL_PKT_RX_IFHANDLE_FAILED>(rc);
        tessel_packet_rx_error_dump(pkt, encap, 0);
        return false;
    }
    size_t n = 0;
    rc = ctx_get_varlength(pkt, CTX_OPT_TIMESTAMP, ts, CTX_TIMESTAMP_LEN, &n);
    if (rc != 0) {
        TESSEL_PKT_DEBUG_RAW(*ifh, "Unable to obtain timestamp for incoming packet: %s", zerr_strerror(rc));
        trace_fail<PTP_TRACE_TESSEL_PKT_RX_TIMESTAMP_FAILED>(*ifh, rc);
    } else if (n != CTX_TIMESTAMP_LEN) {
        TESSEL_PKT_DEBUG_RAW(*ifh, "Only able to read %zu bytes of timestamp for incoming packet", n);
        trace_fail<PTP_TRACE_TESSEL_PKT_RX_TIMESTAMP_SHORT>(*ifh, n);
        rc = PTP_ZERR_BAD_PACKET;
    }
    if (rc != 0) {
        tessel_packet_rx_error_dump(pkt, encap, 0);
        return false;
    }
    return true;
}

bool rx_port_encap_ok(tessel_proto_idb_type *idb, ctx_packet_type *pkt, uint32_t encap)
{
    if (idb->config.encap == encap) {
        return true;
    }
    rx_drop<PTP_TRACE_TESSEL_PKT_RX_WRONG_ENCAP>(
        idb, pkt, encap, TESSEL_PACKET_DROP_INVALID_PACKET,
        std::tuple{idb->header.ifhandle, encap, uint32_t{idb->config.encap}},
        "[ERROR] %s: Incoming packet has incorrect encap - is %s, should be %s", idb->header.ifname,
        ptp_address_encap_to_str(encap), ptp_address_encap_to_str(idb->config.encap));
    return false;
}

bool rx_length_ok(tessel_proto_idb_type *idb, ctx_packet_type *pkt, uint32_t encap, uint16_t msg_len)
{
    if (msg_len >= PTP_MSG_HDR_LEN) {
        return true;
    }
    rx_drop<PTP_TRACE_TESSEL_PKT_RX_LENGTH_TOO_SHORT>(
        idb, pkt, encap, TESSEL_PACKET_DROP_TOO_SHORT, std::tuple{idb->header.ifhandle, msg_len},
        "[ERROR] %s: Received message of length %u, shorter than the minimum length of %zu - dropping",
        idb->header.ifname, static_cast<unsigned>(msg_len), PTP_MSG_HDR_LEN);
    return false;
}

// Hands a checked message on with its header, decoded once here; the dump never reads past the
// bytes received.
void rx_deliver(tessel_proto_idb_type *idb, const ptp_msg_hdr_fields_type &hdr, const uint8_t *msg, size_t len,
                const uint8_t *ts, const ptp_address_type *src, const ptp_address_type *dst)
{
    const uint16_t msg_len = hdr.message_length;
    tessel_packet_dump(idb, 0, msg, msg_len < len ? msg_len : static_cast<uint32_t>(len), src);
    ptp_fsm_proto_decoded_packet_in(idb, hdr, msg, len, ts, src, dst);
}

// The PTP payload of an Ethernet frame, behind at most two 802.1Q tags, with the frame's tag
// layout recorded in the context. payload points into the frame, or into copy when the frame is
// not contiguous.
zerrno epi_packet_get_payload(ctx_packet_type *pkt, std::vector<uint8_t> &copy, const uint8_t **payload,
                              size_t *payload_len)
{
    uint32_t total = 0;
    uint8_t *frame = nullptr;
    size_t contig = 0;
    zerrno rc = ctx_get_u32(pkt, CTX_OPT_CURRENT_LENGTH, &total);
    if (rc == 0) {
        rc = ctx_ptr(pkt, CTX_LAYER_FRAME, 0, &frame, &contig);
    }
    size_t hdr = 0;
    uint32_t layout = 0;
    if (rc == 0 && contig < (total < 26 ? total : 26u)) {
        rc = PKTIO_ERR_RANGE;
    }
    if (rc == 0) {
        auto type_at = [&](size_t off) { return ptp_wire_get16(frame + off); };
        if (total >= 14 && type_at(12) == TESSEL_PACKET_ETHERTYPE) {
            hdr = 14;
        } else if (total >= 18 && type_at(16) == TESSEL_PACKET_ETHERTYPE) {
            hdr = 18;
            layout = 4;
        } else if (total >= 22 && type_at(20) == TESSEL_PACKET_ETHERTYPE) {
            hdr = 22;
            layout = 0x40004;
        } else {
            rc = PKTIO_ERR_NOT_FOUND;
        }
    }
    if (rc == 0) {
        *payload_len = total - hdr;
        if (contig >= total) {
            *payload = frame + hdr;
        } else {
            // The last byte the length claims must be there before a buffer is sized by it.
            uint8_t last = 0;
            size_t n = 0;
            rc = ctx_read(pkt, CTX_LAYER_FRAME, total - 1, &last, 1, &n);
            if (rc == 0 && n == 1) {
                copy.resize(*payload_len);
                rc = ctx_read(pkt, CTX_LAYER_FRAME, hdr, copy.data(), *payload_len, &n);
            }
            if (rc == 0 && n != *payload_len) {
                rc = PTP_ZERR_BAD_PACKET;
            }
            *payload = copy.data();
        }
    }
    if (rc == 0) {
        rc = ctx_set_u32(pkt, CTX_OPT_L2_TAG_LAYOUT, layout);
    }
    return rc;
}

void ethernet_rx_one(ctx_packet_type *pkt)
{
    const uint32_t encap = PTP_ENCAP_ETHERNET;
    uint32_t ifh = 0;
    ptp_timestamp_type ts;
    if (!rx_ifhandle_and_timestamp(pkt, encap, &ifh, ts)) {
        return;
    }
    std::vector<uint8_t> copy;
    const uint8_t *payload = nullptr;
    size_t payload_len = 0;
    zerrno rc = epi_packet_get_payload(pkt, copy, &payload, &payload_len);
    if (rc != 0) {
        TESSEL_PKT_DEBUG(ifh, "%s: [ERROR] Unable to obtain payload from EPI: %s", zerr_strerror(rc));
        trace_fail<PTP_TRACE_TESSEL_PKT_RX_PAYLOAD_FAILED>(ifh, rc);
        tessel_packet_rx_error_dump(pkt, encap, 0);
        return;
    }
    uint8_t *dmac = nullptr;
    uint8_t *smac = nullptr;
    size_t dlen = 0;
    size_t slen = 0;
    if (ctx_ptr(pkt, CTX_LAYER_FRAME, 0, &dmac, &dlen) != 0 || dlen < 6 ||
        ctx_ptr(pkt, CTX_LAYER_FRAME, 6, &smac, &slen) != 0 || slen < 6) {
        TESSEL_PKT_DEBUG_RAW(ifh, "Failed to obtain mac-addresses from packet");
        trace_fail<PTP_TRACE_TESSEL_PKT_RX_MAC_FAILED>(ifh);
        tessel_packet_rx_error_dump(pkt, encap, 0);
        return;
    }
    ptp_msg_hdr_fields_type hdr;
    if (!ptp_msg_hdr_decode(payload, payload_len, &hdr)) {
        TESSEL_PKT_DEBUG(ifh, "%s: [ERROR] Incoming packet too short - only %u bytes",
                         static_cast<unsigned>(payload_len));
        trace_fail<PTP_TRACE_TESSEL_PKT_RX_TOO_SHORT>(ifh, payload_len);
        tessel_packet_rx_error_dump(pkt, encap, 0);
        return;
    }
    tessel_proto_idb_type *idb = nullptr;
    if (tessel_proto_db_get_by_ifhandle(ifh, &idb) != 0 || idb == nullptr) {
        TESSEL_PKT_DEBUG(ifh, "%s: [ERROR] Packet received on unknown interface, dropping");
        trace_fail<PTP_TRACE_TESSEL_PKT_RX_UNKNOWN_INTERFACE>(ifh);
        tessel_packet_rx_error_dump(pkt, encap, 0);
        return;
    }
    if (!rx_port_encap_ok(idb, pkt, encap) || !rx_length_ok(idb, pkt, encap, hdr.message_length)) {
        return;
    }
    ptp_address_type src{};
    ptp_address_set_mac(&src, smac);
    rx_deliver(idb, hdr, payload, payload_len, ts, &src, nullptr);
}

bool port_owns_ipv4(const tessel_proto_idb_type *idb, const uint8_t addr[4])
{
    if (std::memcmp(addr, TESSEL_PACKET_IPV4_MCAST_ADDR, 4) == 0 ||
        (idb->ipv4_addr != TESSEL_PROTO_IDB_IPV4_ADDR_NONE && std::memcmp(addr, &idb->ipv4_addr, 4) == 0)) {
        return true;
    }
    for (uint32_t i = 0; i < idb->ipv4_addr_count; i++) {
        if (std::memcmp(addr, &idb->ipv4_addr_list[i], 4) == 0) {
            return true;
        }
    }
    return false;
}

bool port_owns_ipv6(const tessel_proto_idb_type *idb, const uint8_t addr[16])
{
    static constexpr uint8_t unset[16] = {};
    if (std::memcmp(addr, TESSEL_PACKET_IPV6_MCAST_ADDR, 16) == 0 ||
        (std::memcmp(idb->ipv6_addr, unset, 16) != 0 && std::memcmp(addr, idb->ipv6_addr, 16) == 0)) {
        return true;
    }
    for (uint32_t i = 0; i < idb->ipv6_addr_count; i++) {
        if (std::memcmp(addr, idb->ipv6_addr_list[i], 16) == 0) {
            return true;
        }
    }
    return false;
}

// The IPv4 and IPv6 receive paths differ only in these.
struct ip_kind_type {
    uint32_t encap;
    size_t hdr_len;
    size_t src_off;
    size_t dst_off;
    const char *short_hdr_text;
};

void ip_rx_one(ctx_packet_type *pkt, const ip_kind_type &k)
{
    const uint32_t encap = k.encap;
    uint8_t hdr[IPV6_HDR_LEN] = {};
    size_t n = 0;
    zerrno rc = ctx_read(pkt, CTX_LAYER_NETWORK, 0, hdr, k.hdr_len, &n);
    if (rc != 0) {
        TESSEL_PKT_DEBUG_RAW(0, "Error reading network header: %s", zerr_strerror(rc));
        trace_fail<PTP_TRACE_TESSEL_PKT_RX_NETWORK_HEADER_FAILED>(rc);
        tessel_packet_rx_error_dump(pkt, encap, 0);
        return;
    }
    if (n < k.hdr_len) {
        TESSEL_PKT_DEBUG_RAW(0, k.short_hdr_text, n);
        trace_fail<PTP_TRACE_TESSEL_PKT_RX_NETWORK_HEADER_SHORT>(encap, n);
        tessel_packet_rx_error_dump(pkt, encap, 0);
        return;
    }
    std::vector<uint8_t> payload(RX_PAYLOAD_MAX);
    size_t payload_len = 0;
    rc = ctx_read(pkt, CTX_LAYER_APPLICATION, 0, payload.data(), payload.size(), &payload_len);
    if (rc != 0) {
        TESSEL_PKT_DEBUG_RAW(0, "Error reading incoming packet: %s", zerr_strerror(rc));
        trace_fail<PTP_TRACE_TESSEL_PKT_RX_READ_FAILED>(rc);
        tessel_packet_rx_error_dump(pkt, encap, 0);
        return;
    }
    uint32_t ifh = 0;
    ptp_timestamp_type ts;
    if (!rx_ifhandle_and_timestamp(pkt, encap, &ifh, ts)) {
        return;
    }
    ptp_msg_hdr_fields_type msg_hdr;
    if (!ptp_msg_hdr_decode(payload.data(), payload_len, &msg_hdr)) {
        TESSEL_PKT_DEBUG(ifh, "%s: [ERROR] Incoming packet too short - only %zu bytes", payload_len);
        trace_fail<PTP_TRACE_TESSEL_PKT_RX_TOO_SHORT>(ifh, payload_len);
        tessel_packet_rx_error_dump(pkt, encap, 0);
        return;
    }
    tessel_proto_idb_type *idb = nullptr;
    if (tessel_proto_db_get_by_ifhandle(ifh, &idb) != 0) {
        idb = nullptr;
    }
    const uint16_t msg_len = msg_hdr.message_length;
    ptp_address_type src{};
    ptp_address_type dst{};
    if (msg_len >= PTP_MSG_HDR_LEN) {
        const bool v4 = encap == PTP_ENCAP_IPV4;
        if (v4) {
            ptp_address_set_ipv4(&src, hdr + k.src_off);
            ptp_address_set_ipv4(&dst, hdr + k.dst_off);
        } else {
            ptp_address_set_ipv6(&src, hdr + k.src_off);
            ptp_address_set_ipv6(&dst, hdr + k.dst_off);
        }
        const bool for_port =
            idb != nullptr && (v4 ? port_owns_ipv4(idb, hdr + k.dst_off) : port_owns_ipv6(idb, hdr + k.dst_off));
        if (!for_port) {
            // Addressed to another port of the node (a loopback, say): that port takes it.
            idb = nullptr;
            tessel_proto_db_get_by_addr(&dst, &idb);
        }
    }
    if (idb == nullptr) {
        TESSEL_PKT_DEBUG(ifh, "%s: [ERROR] Packet received on unknown interface, dropping on ifh: %u", ifh);
        trace_fail<PTP_TRACE_TESSEL_PKT_RX_UNKNOWN_INTERFACE>(ifh);
        tessel_packet_rx_error_dump(pkt, encap, 0);
        return;
    }
    if (!rx_length_ok(idb, pkt, encap, msg_len) || !rx_port_encap_ok(idb, pkt, encap)) {
        return;
    }
    if (encap == PTP_ENCAP_IPV4) {
        // Always checked: the header is this packet's own.
        const uint16_t stored = ptp_wire_get16(hdr + 10);
        hdr[10] = hdr[11] = 0;
        const uint16_t calculated = ipv4_checksum(hdr, IPV4_HDR_LEN);
        if (calculated != stored) {
            rx_drop<PTP_TRACE_TESSEL_PKT_RX_IPV4_CHECKSUM>(
                idb, pkt, encap, TESSEL_PACKET_DROP_IPV4_VERIFY_CHECKSUM,
                std::tuple{idb->header.ifhandle, stored, calculated},
                "[ERROR] %s: Incoming packet has bad IPv4 header checksum 0x%4.4x, expected 0x%4.4x - dropping",
                idb->header.ifname, static_cast<unsigned>(stored), static_cast<unsigned>(calculated));
            return;
        }
    } else if (tessel_cfg_get_verify_checksum()) {
        // The whole datagram, however long, is covered.
        std::vector<uint8_t> net(IPV6_HDR_LEN + UDP_HDR_LEN + RX_PAYLOAD_MAX);
        size_t got = 0;
        rc = ctx_read(pkt, CTX_LAYER_NETWORK, 0, net.data(), net.size(), &got);
        if (rc != 0 || got < IPV6_HDR_LEN + UDP_HDR_LEN) {
            TESSEL_PKT_DEBUG_RAW(idb->header.ifhandle, "Error reading packet to verify its checksum: %s",
                                 zerr_strerror(rc != 0 ? rc : PTP_ZERR_BAD_PACKET));
            trace_fail<PTP_TRACE_TESSEL_PKT_RX_NETWORK_HEADER_FAILED>(rc != 0 ? rc : PTP_ZERR_BAD_PACKET);
            tessel_packet_rx_error_dump(pkt, encap, 0);
            return;
        }
        uint8_t *udp = net.data() + IPV6_HDR_LEN;
        size_t udp_len = ptp_wire_get16(udp + 4);
        if (udp_len < UDP_HDR_LEN || udp_len > got - IPV6_HDR_LEN) {
            udp_len = 0; // a length the bytes do not hold cannot verify
        }
        const uint16_t stored = ptp_wire_get16(udp + 6);
        udp[6] = udp[7] = 0;
        const uint16_t calculated =
            udp_len == 0 ? 0 : ipv6_ulp_checksum_heap(IP_PROTO_UDP, net.data() + 8, net.data() + 24, udp, udp_len);
        if (udp_len == 0 || calculated != stored) {
            rx_drop<PTP_TRACE_TESSEL_PKT_RX_IPV6_CHECKSUM_MISMATCH>(
                idb, pkt, encap, TESSEL_PACKET_DROP_VERIFY_CHECKSUM_FAILED,
                std::tuple{idb->header.ifhandle, stored, calculated},
                "[ERROR] %s: Incoming packet has bad UDP checksum 0x%4.4x, expected 0x%4.4x - dropping",
                idb->header.ifname, static_cast<unsigned>(stored), static_cast<unsigned>(calculated));
            return;
        }
    }
    rx_deliver(idb, msg_hdr, payload.data(), payload_len, ts, &src, &dst);
}

void tessel_packet_tx_timestamp_rx(ctx_packet_type *pkt, uint32_t packet_id, uint32_t encap)
{
    ptp_timestamp_type ts;
    size_t n = 0;
    zerrno rc = ctx_get_varlength(pkt, CTX_OPT_TIMESTAMP, ts, sizeof ts, &n);
    if (rc != 0) {
        TESSEL_PKT_DEBUG_RAW(0, "Unable to obtain returned timestamp for packet-id %u: %s", packet_id,
                             zerr_strerror(rc));
        trace_fail<PTP_TRACE_TESSEL_PKT_RX_RETURNED_TS_FAILED>(packet_id, rc);
        return;
    }
    if (n != CTX_TIMESTAMP_LEN) {
        TESSEL_PKT_DEBUG_RAW(0, "Only able to read %zu bytes of returned timestamp for packet-id %u", n, packet_id);
        trace_fail<PTP_TRACE_TESSEL_PKT_RX_RETURNED_TS_SHORT>(n, packet_id);
        return;
    }
    ptp_fsm_proto_returned_timestamp_in(packet_id, encap, ts);
}

void tessel_packet_offload_notification_rx(ctx_packet_type *pkt, uint32_t encap)
{
    uint32_t len = 0;
    zerrno rc = ctx_get_u32(pkt, CTX_OPT_CURRENT_LENGTH, &len);
    if (rc != 0) {
        TESSEL_PKT_DEBUG_RAW(0, "Failed to get notification length: %s", zerr_strerror(rc));
        trace_fail<PTP_TRACE_TESSEL_PKT_RX_NTFN_LENGTH_FAILED>(rc);
        tessel_packet_rx_error_dump(pkt, encap, CTX_SUBTYPE_OFFLOAD_NOTIFICATION);
        return;
    }
    if (len == 0) {
        TESSEL_PKT_DEBUG_RAW(0, "Notification too short (%zu bytes)", static_cast<size_t>(len));
        trace_fail<PTP_TRACE_TESSEL_PKT_RX_NTFN_TOO_SHORT>(len);
        tessel_packet_rx_error_dump(pkt, encap, CTX_SUBTYPE_OFFLOAD_NOTIFICATION);
        return;
    }
    // A length the context does not hold is refused before a buffer is sized by it.
    uint8_t last = 0;
    size_t n = 0;
    rc = ctx_read(pkt, CTX_LAYER_CONTEXT, len - 1, &last, 1, &n);
    if (rc == 0 && n != 1) {
        rc = PTP_ZERR_BAD_PACKET;
    }
    uint8_t *buf = nullptr;
    if (rc == 0) {
        buf = static_cast<uint8_t *>(tessel_calloc(1, len));
        if (buf == nullptr) {
            ptp_alloc_failure_report(len, "Offload notification buffer");
            tessel_packet_rx_error_dump(pkt, encap, CTX_SUBTYPE_OFFLOAD_NOTIFICATION);
            return;
        }
        rc = ctx_read(pkt, CTX_LAYER_CONTEXT, 0, buf, len, &n);
    }
    if (rc != 0) {
        TESSEL_PKT_DEBUG_RAW(0, "Failed to read notification: %s", zerr_strerror(rc));
        trace_fail<PTP_TRACE_TESSEL_PKT_RX_NTFN_READ_FAILED>(rc);
    } else if (n != len) {
        TESSEL_PKT_DEBUG_RAW(0, "Failed to read full notification: expected %zu bytes, read %zu bytes",
                             static_cast<size_t>(len), n);
        trace_fail<PTP_TRACE_TESSEL_PKT_RX_NTFN_READ_SHORT>(len, n);
        rc = PTP_ZERR_BAD_PACKET;
    } else {
        // A bad notification is shown by the dump below.
        rc = tessel_offload_notification_process(encap, buf, len);
    }
    if (rc != 0) {
        tessel_packet_rx_error_dump(pkt, encap, CTX_SUBTYPE_OFFLOAD_NOTIFICATION);
    }
    tessel_free(buf);
}

// The common frame of the three receive callbacks.
void rx_common(uint32_t count, ctx_packet_type **packets, uint32_t encap, void (*one)(ctx_packet_type *))
{
    for (uint32_t i = 0; i < count; i++) {
        ctx_packet_type *pkt = packets[i];
        uint8_t subtype = 0;
        zerrno rc = ctx_get_u8(pkt, CTX_OPT_SUBTYPE, &subtype);
        if (rc != 0) {
            TESSEL_PKT_DEBUG_RAW(0, "Unable to get context subtype for incoming packet: %s", zerr_strerror(rc));
            trace_fail<PTP_TRACE_TESSEL_PKT_RX_SUBTYPE_FAILED>(rc);
            tessel_packet_rx_error_dump(pkt, encap, 0);
            continue;
        }
        if (subtype == CTX_SUBTYPE_OFFLOAD_NOTIFICATION) {
            tessel_packet_offload_notification_rx(pkt, encap);
            continue;
        }
        if (subtype != CTX_SUBTYPE_PACKET) {
            TESSEL_PKT_DEBUG(0, "%s: [ERROR] Unexpected context subtype %u", static_cast<unsigned>(subtype));
            trace_fail<PTP_TRACE_TESSEL_PKT_RX_SUBTYPE_UNEXPECTED>(subtype);
            continue;
        }
        uint32_t packet_id = 0;
        rc = ctx_get_u32(pkt, CTX_OPT_PACKET_ID, &packet_id);
        if (rc != 0) {
            TESSEL_PKT_DEBUG_RAW(0, "Unable to obtain packet-id for incoming packet: %s", zerr_strerror(rc));
            trace_fail<PTP_TRACE_TESSEL_PKT_RX_PACKET_ID_FAILED>(rc);
            tessel_packet_rx_error_dump(pkt, encap, 0);
            continue;
        }
        if (packet_id != 0) {
            tessel_packet_tx_timestamp_rx(pkt, packet_id, encap);
            continue;
        }
        one(pkt);
    }
    ctx_free(packets, count);
}

constexpr ip_kind_type IPV4_KIND{PTP_ENCAP_IPV4, IPV4_HDR_LEN, 12, 16,
                                 "Failed to read full IPv4 header - could only read %zu bytes"};
constexpr ip_kind_type IPV6_KIND{PTP_ENCAP_IPV6, IPV6_HDR_LEN, 8, 24,
                                 "Failed to read full IPv6 header - could only read %zu bytes"};

void ipv4_rx_one(ctx_packet_type *pkt)
{
    ip_rx_one(pkt, IPV4_KIND);
}
void ipv6_rx_one(ctx_packet_type *pkt)
{
    ip_rx_one(pkt, IPV6_KIND);
}

// The parts of the module that tessel_packet_cleanup_internal takes down.
constexpr uint32_t CLEANUP_EPI = 0x1;
constexpr uint32_t CLEANUP_CTX = 0x2;
constexpr uint32_t CLEANUP_CONNECTIONS = 0x4;
constexpr uint32_t CLEANUP_ALL = CLEANUP_EPI | CLEANUP_CTX | CLEANUP_CONNECTIONS;

// Takes down the given parts (those a failed init had not reached stay untouched), then every
// batch tree that was set up.
void tessel_packet_cleanup_internal(uint32_t parts)
{
    module_type &m = module();
    if ((parts & CLEANUP_EPI) != 0 && m.epi != nullptr) {
        epi_cleanup(m.epi);
        m.epi = nullptr;
    }
    if ((parts & CLEANUP_CTX) != 0 && m.ctx_api != nullptr) {
        zerrno rc = ctx_api_cleanup(m.ctx_api);
        if (rc != 0) {
            trace_fail<PTP_TRACE_TESSEL_PKT_CTX_CLEANUP_FAILED>(rc);
        }
        m.ctx_api = nullptr;
    }
    if ((parts & CLEANUP_CONNECTIONS) != 0) {
        for (uint32_t e = PTP_ENCAP_ETHERNET; e <= PTP_ENCAP_IPV6; e++) {
            if (m.conn[e] != nullptr) {
                spio_close(m.conn[e]);
                m.conn[e] = nullptr;
            }
        }
        m.resync_done = false;
    }
    batches_destroy();
}

} // namespace

// ---- Interfaces ------------------------------------------------------------------------------

zerrno tessel_packet_init(event_mgr_type *evm)
{
    module_type &m = module();
    if (!batches_init()) {
        batches_destroy();
        ptp_syslog_init_failed("Failed to initialize SPIO attach batches: ", zerr_strerror(PTP_ZERR_NOMEM));
        return PTP_ZERR_NOMEM;
    }
    static constexpr struct {
        uint32_t kind;
        spio_rx_fn rx;
        spio_resync_req_fn resync;
    } kinds[] = {{SPIO_CONN_KIND_ETHERNET, tessel_packet_ethernet_rx, tessel_packet_ethernet_resync_req},
                 {SPIO_CONN_KIND_IPV4, tessel_packet_ipv4_rx, tessel_packet_ipv4_resync_req},
                 {SPIO_CONN_KIND_IPV6, tessel_packet_ipv6_rx, tessel_packet_ipv6_resync_req}};
    for (uint32_t i = 0; i < 3; i++) {
        spio_init_params_type params{SPIO_PARAMS_VERSION, kinds[i].rx, kinds[i].resync, kinds[i].kind, evm};
        zerrno rc = spio_init(&params, &m.conn[PTP_ENCAP_ETHERNET + i]);
        if (rc != 0) {
            m.conn[PTP_ENCAP_ETHERNET + i] = nullptr;
            ptp_syslog_init_failed("Failed to initialize SPIO connection: ", zerr_strerror(rc));
            trace_fail<PTP_TRACE_TESSEL_PKT_SPIO_INIT_FAILED>(kinds[i].kind, rc);
            tessel_packet_cleanup_internal(CLEANUP_CONNECTIONS);
            return rc;
        }
    }
    zerrno rc = ctx_api_init(&m.ctx_api);
    if (rc != 0) {
        m.ctx_api = nullptr;
        ptp_syslog_init_failed("Failed to initialize ctx library: ", zerr_strerror(rc));
        tessel_packet_cleanup_internal(CLEANUP_CONNECTIONS);
        return rc;
    }
    rc = epi_init(evm, TESSEL_PACKET_ETHERTYPE, &m.epi);
    if (rc != 0) {
        m.epi = nullptr;
        ptp_syslog_init_failed("Failed to initialize EPI: ", zerr_strerror(rc));
        tessel_packet_cleanup_internal(CLEANUP_CTX | CLEANUP_CONNECTIONS);
        return rc;
    }
    return 0;
}

void tessel_packet_cleanup(void)
{
    tessel_packet_cleanup_internal(CLEANUP_ALL);
}

void tessel_packet_trace_set(jotlog_handle_type handle)
{
    module().pkt_trace = handle;
}

spio_conn_type *tessel_io_encap_to_spio_conn(uint32_t encap)
{
    return encap >= PTP_ENCAP_ETHERNET && encap <= PTP_ENCAP_IPV6 ? module().conn[encap] : nullptr;
}

bool tessel_packet_attach_requested(const tessel_proto_idb_type *idb)
{
    return attach_requested.count(idb->header.ifname) != 0;
}

void tessel_packet_attach(tessel_proto_idb_type *idb)
{
    const uint32_t encap = idb->config.encap;
    TESSEL_ASSERT(encap >= PTP_ENCAP_ETHERNET && encap <= PTP_ENCAP_IPV6);
    attach_requested.insert(idb->header.ifname);
    tessel_packet_attach_batch_type &b = batches[encap];
    if (!b.is_init) {
        return;
    }
    tessel_packet_attach_entry_type *pending = entry_find(&b.detach_tree, idb->header.ifname);
    // Only a detach of this record's own attachment, under the handle it still has, is undone; a
    // stale handle, or the attachment of a deleted record of the same name, still goes.
    if (pending != nullptr && pending->ifhandle == idb->header.ifhandle &&
        attachment_is(idb, encap, pending->ifhandle)) {
        entry_remove(&b.detach_tree, &b.detach_tree_size, idb->header.ifname);
    }
    if (idb->is_spio_attached != 0 && idb->attached_encap == encap && idb->attached_ifhandle == idb->header.ifhandle &&
        entry_find(&b.detach_tree, idb->header.ifname) == nullptr) {
        return;
    }
    if (entry_find(&b.attach_tree, idb->header.ifname) == nullptr) {
        entry_add(&b.attach_tree, &b.attach_tree_size, idb->header.ifname, idb->header.ifhandle);
    }
}

void tessel_packet_detach(tessel_proto_idb_type *idb)
{
    attach_requested.erase(idb->header.ifname);
    // A queued attach is withdrawn wherever it waits (the encapsulation may have changed since it
    // was queued); the port may still be attached under an older handle, which the detach below
    // takes away.
    for (uint32_t e = PTP_ENCAP_ETHERNET; e <= PTP_ENCAP_IPV6; e++) {
        tessel_packet_attach_batch_type &b = batches[e];
        if (b.is_init) {
            entry_remove(&b.attach_tree, &b.attach_tree_size, idb->header.ifname);
        }
    }
    if (idb->is_spio_attached != 0) {
        const uint32_t at = idb->attached_encap;
        TESSEL_ASSERT(at >= PTP_ENCAP_ETHERNET && at <= PTP_ENCAP_IPV6);
        tessel_packet_attach_batch_type &b = batches[at];
        if (b.is_init && entry_find(&b.detach_tree, idb->header.ifname) == nullptr) {
            entry_add(&b.detach_tree, &b.detach_tree_size, idb->header.ifname, idb->attached_ifhandle);
        }
    }
}

void tessel_packet_process_attach(void)
{
    for (int selector : {0, 1}) {
        for (uint32_t e = PTP_ENCAP_ETHERNET; e <= PTP_ENCAP_IPV6; e++) {
            tessel_packet_process_attach_internal(e, selector);
        }
    }
}

uint32_t tessel_packet_batch_size(uint32_t encap, int selector)
{
    if (encap < PTP_ENCAP_ETHERNET || encap > PTP_ENCAP_IPV6) {
        return 0;
    }
    return selector == 1 ? batches[encap].attach_tree_size : batches[encap].detach_tree_size;
}

void tessel_packet_resync_start(void)
{
    for (uint32_t e = PTP_ENCAP_ETHERNET; e <= PTP_ENCAP_IPV6; e++) {
        spio_resync_start(module().conn[e]);
    }
}

void tessel_packet_resync_end(void)
{
    for (uint32_t e = PTP_ENCAP_IPV6; e >= PTP_ENCAP_ETHERNET; e--) {
        spio_resync_end(module().conn[e]);
    }
    module().resync_done = true;
}

bool tessel_packet_resync_done(void)
{
    return module().resync_done;
}

void tessel_packet_ethernet_rx(uint32_t count, ctx_packet_type **packets)
{
    rx_common(count, packets, PTP_ENCAP_ETHERNET, ethernet_rx_one);
}

void tessel_packet_ipv4_rx(uint32_t count, ctx_packet_type **packets)
{
    rx_common(count, packets, PTP_ENCAP_IPV4, ipv4_rx_one);
}

void tessel_packet_ipv6_rx(uint32_t count, ctx_packet_type **packets)
{
    rx_common(count, packets, PTP_ENCAP_IPV6, ipv6_rx_one);
}

void tessel_packet_ethernet_resync_req(void)
{
    resync_req(PTP_ENCAP_ETHERNET, tessel_offload_ethernet_resync_timer_running,
               tessel_offload_ethernet_resync_request);
}

void tessel_packet_ipv4_resync_req(void)
{
    resync_req(PTP_ENCAP_IPV4, tessel_offload_ipv4_resync_timer_running, tessel_offload_ipv4_resync_request);
}

void tessel_packet_ipv6_resync_req(void)
{
    resync_req(PTP_ENCAP_IPV6, tessel_offload_ipv6_resync_timer_running, tessel_offload_ipv6_resync_request);
}
