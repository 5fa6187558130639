// Offload sessions and their data: which sessions should exist, the batched create, update and
// delete requests to the plugin, the session keys and data records, and the create results.
#include "tessel_offload.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "eth_encap.h"
#include "ptp_alloc.h"
#include "ptp_clock.h"
#include "ptp_strings.h"
#include "ptp_syslog.h"
#include "ptp_trace_points.h"
#include "ptp_wire.h"
#include "ptp_zerr_codes.h"
#include "spio.h"
#include "tessel_assert.h"
#include "tessel_bmc.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_types.h"
#include "tessel_fsm_unicast.h"
#include "tessel_interop_config.h"
#include "tessel_offload_private.h"
#include "tessel_packet.h"
#include "tessel_packet_deps.h"
#include "tessel_port_mgr.h"
#include "tessel_port_mgr_deps.h"
#include "tessel_utils.h"

namespace {

constexpr uint8_t IPV4_MCAST[4] = {224, 0, 1, 129};
constexpr uint8_t IPV6_MCAST[16] = {0xFF, 0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x81};
// The L2 header of IPv6 multicast PTP towards ff0e::181 (the IPv4 one would carry the IPv4
// group's MAC and EtherType).
constexpr uint8_t IPV6_MCAST_MAC[6] = {0x33, 0x33, 0x00, 0x00, 0x01, 0x81};
constexpr uint16_t ETHERTYPE_IPV6 = 0x86DD;

tessel_offload_state_type state;
tessel_offload_data_type update_head; // sentinel: members' prev is never null
ptp_timer_type batch_timer;
bool batch_timer_created = false;
util_retry_handler_type *resync_handler[4] = {};
const char *const resync_names[4] = {nullptr, "Tessel offload ethernet resync", "Tessel offload ipv4 resync",
                                     "Tessel offload ipv6 resync"};
const char *const resync_doing[4] = {nullptr, "requesting ethernet resync", "requesting ipv4 resync",
                                     "requesting ipv6 resync"};

jotlog_handle_type sum()
{
    return ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_SUM);
}
jotlog_handle_type unq()
{
    return ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_UNQ);
}
jotlog_handle_type det()
{
    return ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_DET);
}

const char *ifname_of(const tessel_offload_data_type *s)
{
    return s->proto_idb != nullptr ? s->proto_idb->header.ifname : "";
}

size_t addr_len(uint32_t encap)
{
    switch (encap) {
    case PTP_ENCAP_ETHERNET: return PTP_MAC_ADDR_LEN;
    case PTP_ENCAP_IPV4: return 4;
    case PTP_ENCAP_IPV6: return PTP_IPV6_ADDR_LEN;
    default: return 0;
    }
}

// ---- Session tree ----

int tessel_offload_session_info_cmp(const void *a_row, const void *b_row, void *)
{
    const auto *a = static_cast<const tessel_offload_data_type *>(a_row);
    const auto *b = static_cast<const tessel_offload_data_type *>(b_row);
    if (a->data_type != b->data_type) {
        return a->data_type < b->data_type ? -1 : 1;
    }
    if (a->ifhandle != b->ifhandle) {
        return a->ifhandle < b->ifhandle ? -1 : 1;
    }
    if (a->data_type == TESSEL_OFFLOAD_DATA_IF) {
        return 0; // one interface session per interface
    }
    if (a->dest_address.encap != b->dest_address.encap) {
        return a->dest_address.encap < b->dest_address.encap ? -1 : 1;
    }
    switch (a->dest_address.encap) {
    case PTP_ENCAP_ETHERNET: return std::memcmp(a->dest_address.value, b->dest_address.value, PTP_MAC_ADDR_LEN);
    case PTP_ENCAP_IPV4: {
        uint32_t x, y;
        std::memcpy(&x, a->dest_address.value, 4);
        std::memcpy(&y, b->dest_address.value, 4);
        return x == y ? 0 : (x < y ? -1 : 1);
    }
    case PTP_ENCAP_IPV6:
        for (size_t half = 0; half < 16; half += 8) {
            const uint64_t x = ptp_wire_get64(a->dest_address.value + half);
            const uint64_t y = ptp_wire_get64(b->dest_address.value + half);
            if (x != y) {
                return x < y ? -1 : 1;
            }
        }
        return 0;
    default: tessel_internal_error("!\"Unknown address type\"", __FILE__, __LINE__);
    }
}

tessel_offload_data_type *session_find(uint32_t cls, ifhtype ifhandle, const ptp_address_type *dest)
{
    if (!state.tree_created) {
        return nullptr;
    }
    tessel_offload_data_type key{};
    key.data_type = cls;
    key.ifhandle = ifhandle;
    if (dest != nullptr) {
        key.dest_address = *dest;
    }
    return reinterpret_cast<tessel_offload_data_type *>(avl2_search(&state.tree, &key));
}

// ---- Update list ----

bool on_update_list(const tessel_offload_data_type *s)
{
    return s->prev != nullptr;
}

void update_list_push(tessel_offload_data_type *s)
{
    if (on_update_list(s)) {
        return;
    }
    s->next = update_head.next;
    s->prev = &update_head;
    if (update_head.next != nullptr) {
        update_head.next->prev = s;
    }
    update_head.next = s;
}

void update_list_remove(tessel_offload_data_type *s)
{
    if (!on_update_list(s)) {
        return;
    }
    s->prev->next = s->next;
    if (s->next != nullptr) {
        s->next->prev = s->prev;
    }
    s->next = nullptr;
    s->prev = nullptr;
}

void session_free(tessel_offload_data_type *s)
{
    update_list_remove(s);
    avl2_delete(&state.tree, s);
    if (s->data_type == TESSEL_OFFLOAD_DATA_IF && s->proto_idb != nullptr && s->proto_idb->offload_entry == s) {
        s->proto_idb->offload_entry = nullptr;
    }
    if (s->data_type == TESSEL_OFFLOAD_DATA_UNICAST_PEER && s->peer_entry != nullptr &&
        s->peer_entry->offload_entry == s) {
        s->peer_entry->offload_entry = nullptr;
    }
    std::free(s);
}

void batch_timer_restart()
{
    if (!batch_timer_created) {
        return;
    }
    TESSEL_OFFLOAD_DEBUG(0, "%s: Starting batch timer");
    (void)ptp_timer_start(&batch_timer, TESSEL_OFFLOAD_BATCH_MS, false);
}

// ---- Whether a session is wanted, and its addresses ----

bool adjacency_ok(const ptp_address_type &addr, uint32_t rewrite_len)
{
    return addr.encap == PTP_ENCAP_ETHERNET || tessel_intf_caps_supports_platform_adjacency() || rewrite_len != 0;
}

bool if_session_wanted(const tessel_proto_idb_type *idb)
{
    return idb->config.transport != PTP_TRANSPORT_UNICAST && (idb->flags & TESSEL_PROTO_IDB_PORT_MGR_READY) != 0 &&
           (idb->fsm.is_sending_multicast_announce || idb->fsm.is_master_drrm_running);
}

bool peer_session_wanted(const ptp_fsm_peer_entry_type *p)
{
    return (p->is_announce_granted || p->is_sync_granted || p->is_delay_resp_granted || p->is_nonnegotiated) &&
           adjacency_ok(p->peer_addr, p->adjacency.rewrite_str_len);
}

bool fm_session_wanted(const ptp_fsm_foreign_master_type *fm)
{
    return (fm->is_sending_delay_req || fm->is_handling_sync) &&
           adjacency_ok(fm->peer_addr, fm->adjacency.rewrite_str_len);
}

ptp_address_type if_destination(const tessel_proto_idb_type *idb)
{
    ptp_address_type a{};
    a.encap = idb->attached_encap != PTP_ENCAP_UNKNOWN ? idb->attached_encap : idb->config.encap;
    switch (a.encap) {
    case PTP_ENCAP_IPV4: std::memcpy(a.value, IPV4_MCAST, 4); break;
    case PTP_ENCAP_IPV6: std::memcpy(a.value, IPV6_MCAST, 16); break;
    case PTP_ENCAP_ETHERNET: std::memcpy(a.value, idb->config.multicast_address.value, PTP_MAC_ADDR_LEN); break;
    default: break;
    }
    return a;
}

ptp_address_type if_source(const tessel_proto_idb_type *idb)
{
    ptp_address_type a{};
    a.encap = idb->config.encap;
    switch (a.encap) {
    case PTP_ENCAP_IPV4: ptp_wire_put32(a.value, idb->ipv4_addr); break;
    case PTP_ENCAP_IPV6: std::memcpy(a.value, idb->ipv6_addr, PTP_IPV6_ADDR_LEN); break;
    case PTP_ENCAP_ETHERNET: (void)eth_encap_attr_src_mac_get(idb->ether_info, idb->ether_info_len, a.value); break;
    default: break;
    }
    return a;
}

ptp_address_type peer_source(const tessel_proto_idb_type *idb, const ptp_address_type &held)
{
    ptp_address_type a{};
    if (idb->config.source_ip.enable != 0 && idb->config.source_ip.address != 0xFFFFFFFFu) {
        a.encap = PTP_ENCAP_IPV4;
        ptp_wire_put32(a.value, idb->config.source_ip.address);
        return a;
    }
    if (idb->config.source_ipv6.enable != 0) {
        a.encap = PTP_ENCAP_IPV6;
        std::memcpy(a.value, idb->config.source_ipv6.address, PTP_IPV6_ADDR_LEN);
        return a;
    }
    return held;
}

const char *class_text(uint32_t cls)
{
    switch (cls) {
    case TESSEL_OFFLOAD_DATA_IF: return "interface";
    case TESSEL_OFFLOAD_DATA_UNICAST_PEER: return "Unicast Peer";
    default: return "Foreign Master";
    }
}

// ---- Create/update and delete ----

tessel_offload_data_type *tessel_offload_session_info_create(uint32_t cls, tessel_proto_idb_type *idb,
                                                             const ptp_address_type &dest)
{
    auto *s = static_cast<tessel_offload_data_type *>(std::calloc(1, sizeof(tessel_offload_data_type)));
    if (s == nullptr) {
        ptp_alloc_failure_report(sizeof(tessel_offload_data_type), "Offload session info");
        return nullptr;
    }
    s->data_type = cls;
    s->ifhandle = idb->header.ifhandle;
    s->proto_idb = idb;
    s->dest_address = dest;
    if (avl2_insert(&state.tree, &s->avl_node) == nullptr) {
        tessel_internal_error("duplicate offload session", __FILE__, __LINE__);
    }
    return s;
}

void session_create_or_update(uint32_t cls, tessel_proto_idb_type *idb, const ptp_address_type &dest,
                              const ptp_address_type &source, ptp_fsm_peer_entry_type *peer,
                              ptp_fsm_foreign_master_type *fm)
{
    tessel_offload_data_type *s = session_find(cls, idb->header.ifhandle, &dest);
    if (s == nullptr) {
        s = tessel_offload_session_info_create(cls, idb, dest);
        if (s == nullptr) {
            return;
        }
    }
    TESSEL_OFFLOAD_DEBUG(idb->header.ifhandle, "%s: [%s %s] Creating or updating session for %s", idb->header.ifname,
                         ptp_address_to_str(&dest), class_text(cls));
    if (cls == TESSEL_OFFLOAD_DATA_IF) {
        s->dest_address = dest; // the key ignores it: a new encapsulation updates the same session
        idb->offload_entry = s;
    }
    s->source_address = source;
    s->proto_idb = idb;
    s->peer_entry = peer;
    s->foreign_master = fm;
    if (peer != nullptr) {
        peer->offload_entry = s;
    }
    s->flags = static_cast<uint8_t>((s->flags | TESSEL_OFFLOAD_CREATE_UPDATE_PENDING) & ~TESSEL_OFFLOAD_DELETE_PENDING);
    update_list_push(s);
    batch_timer_restart();
}

void tessel_offload_session_schedule_delete(tessel_offload_data_type *s)
{
    TESSEL_OFFLOAD_DEBUG(s->ifhandle, "%s: [%s %s] Deleting session", ifname_of(s),
                         ptp_address_to_str(&s->dest_address));
    bool request_stats = false;
    if ((s->flags & TESSEL_OFFLOAD_CREATE_UPDATE_PENDING) != 0) {
        s->flags &= static_cast<uint8_t>(~TESSEL_OFFLOAD_CREATE_UPDATE_PENDING);
        if ((s->flags & TESSEL_OFFLOAD_SESSION_EXISTS) != 0) {
            s->flags |= TESSEL_OFFLOAD_DELETE_PENDING;
            request_stats = true;
        }
    } else if ((s->flags & TESSEL_OFFLOAD_DELETE_PENDING) == 0) {
        s->flags |= TESSEL_OFFLOAD_DELETE_PENDING;
        request_stats = true;
    }
    const ifhtype ifhandle = s->ifhandle;
    const uint32_t encap = s->dest_address.encap;
    if ((s->flags & (TESSEL_OFFLOAD_CREATE_UPDATE_PENDING | TESSEL_OFFLOAD_DELETE_PENDING)) == 0) {
        update_list_remove(s);
        if ((s->flags & TESSEL_OFFLOAD_SESSION_EXISTS) == 0) {
            session_free(s);
        }
    } else {
        update_list_push(s);
    }
    if (request_stats) {
        // The last counts of the session, before the plugin forgets it.
        (void)tessel_offload_get_stats_internal(encap, ifhandle, true, true);
    }
    if (update_head.next == nullptr) {
        TESSEL_OFFLOAD_DEBUG(0, "%s: Stopping batch timer");
        if (batch_timer_created) {
            (void)ptp_timer_stop(&batch_timer);
        }
    } else {
        batch_timer_restart();
    }
}

int batch_timer_expired(ptp_timer_type *, void *, int *)
{
    for (uint32_t encap = PTP_ENCAP_ETHERNET; encap <= PTP_ENCAP_IPV6; encap++) {
        tessel_offload_process_creates(encap, false);
    }
    return 0;
}

// ---- Retry handlers ----

void resync_attempt(util_retry_handler_type *h, void *)
{
    for (uint32_t encap = PTP_ENCAP_ETHERNET; encap <= PTP_ENCAP_IPV6; encap++) {
        if (resync_handler[encap] != h) {
            continue;
        }
        spio_conn_type *conn = tessel_io_encap_to_spio_conn(encap);
        const zerrno rc = conn != nullptr ? spio_force_resync(conn) : PTP_ZERR_INVALID_ARG;
        if (rc != 0) {
            ptp_syslog_spio(resync_doing[encap], zerr_strerror(rc));
            // A failed attempt runs again later, so the back-off keeps growing.
            util_retry_handler_start(h);
        }
    }
}

bool resync_running(uint32_t encap)
{
    return resync_handler[encap] != nullptr && util_retry_handler_is_running(resync_handler[encap]);
}

void resync_request(uint32_t encap)
{
    if (resync_handler[encap] != nullptr) {
        util_retry_handler_request(resync_handler[encap]);
    }
}

// ---- Session data ----

void put_l2_header(uint8_t *len_field, uint8_t *hdr, const uint8_t *src, uint32_t len)
{
    const auto l = static_cast<uint16_t>(len);
    std::memcpy(len_field, &l, 2); // host order
    std::memcpy(hdr, src, len);
}

// The L2 header of an IP session: none when the platform resolves adjacencies, the multicast
// header for multicast destinations, else the adjacency rewrite.
zerrno l2_header(const tessel_offload_data_type *s, bool multicast, uint8_t *out, uint32_t *len)
{
    *len = 0;
    if (multicast) {
        if (tessel_intf_caps_supports_platform_adjacency()) {
            return 0;
        }
        if (s->dest_address.encap == PTP_ENCAP_IPV6) {
            uint8_t src[6] = {};
            (void)eth_encap_attr_src_mac_get(s->proto_idb->ether_info, s->proto_idb->ether_info_len, src);
            dot1q_rewritten_tag_stack_type tags{};
            (void)tessel_io_vlan_tags_build(s->proto_idb, &tags);
            size_t off = 0;
            std::memcpy(out, IPV6_MCAST_MAC, 6);
            std::memcpy(out + 6, src, 6);
            off = 12;
            for (uint32_t i = 0; i < tags.count && i < DOT1Q_TAG_STACK_MAX; i++) {
                ptp_wire_put32(out + off, tags.tags[i]);
                off += 4;
            }
            ptp_wire_put16(out + off, ETHERTYPE_IPV6);
            *len = static_cast<uint32_t>(off + 2);
            return 0;
        }
        return tessel_packet_ipv4_l2_header_build(s->proto_idb, out, len);
    }
    const uint8_t *rw = nullptr;
    uint32_t rw_len = 0;
    if (s->peer_entry != nullptr) {
        rw = s->peer_entry->adjacency.rewrite_str;
        rw_len = s->peer_entry->adjacency.rewrite_str_len;
    } else if (s->foreign_master != nullptr) {
        rw = s->foreign_master->adjacency.rewrite_str;
        rw_len = s->foreign_master->adjacency.rewrite_str_len;
    }
    if (rw_len > TESSEL_OFFLOAD_ADJ_REWRITE_LEN) {
        tessel_internal_error("rewrite length <= ADJ_REWRITE_LEN", __FILE__, __LINE__);
    }
    if (rw_len > 0 && rw != nullptr) {
        std::memcpy(out, rw, rw_len);
        *len = rw_len;
    }
    return 0;
}

uint8_t domain_of(const tessel_proto_idb_type *idb, const tessel_port_mgr_local_clock_type *lc)
{
    const tessel_interop_config_type *interop = idb->config.interop_cfg;
    if (interop != nullptr && (interop->presence & TESSEL_INTEROP_DOMAIN) != 0) {
        return interop->domain;
    }
    return static_cast<uint8_t>(lc->domain);
}

void put_common_head(uint8_t *b, const tessel_proto_idb_type *idb, const tessel_port_mgr_local_clock_type *lc)
{
    ptp_wire_put64(b, lc->clock_id);
    ptp_wire_put16(b + 8, tessel_port_mgr_get_profile() == 1 ? 1 : idb->port_num);
    b[10] = domain_of(idb, lc);
    b[11] = static_cast<uint8_t>(idb->config.event_cos);
    b[12] = static_cast<uint8_t>(idb->config.general_cos);
}

// IP encapsulation part of either record at b: source, VRF, DSCPs, TTL/hop limit, L2 header.
zerrno put_ip_part(const tessel_offload_data_type *s, uint8_t *b, bool multicast, uint16_t *len)
{
    const tessel_proto_idb_type *idb = s->proto_idb;
    const bool v6 = s->dest_address.encap == PTP_ENCAP_IPV6;
    if (s->source_address.encap != s->dest_address.encap) {
        tessel_internal_error("session source address of the wrong type", __FILE__, __LINE__);
    }
    const size_t alen = v6 ? 16 : 4;
    std::memcpy(b, s->source_address.value, alen);
    uint8_t *p = b + alen;
    ptp_wire_put32(p, idb->ipv4_vrf);
    p[4] = static_cast<uint8_t>(idb->config.event_dscp);
    p[5] = static_cast<uint8_t>(idb->config.general_dscp);
    p[6] = static_cast<uint8_t>(v6 ? idb->config.ipv6_hop_limit : idb->config.ipv4_ttl);
    uint8_t l2[TESSEL_OFFLOAD_ADJ_REWRITE_LEN + 8] = {};
    uint32_t l2_len = 0;
    const zerrno rc = l2_header(s, multicast, l2, &l2_len);
    if (rc != 0) {
        return rc;
    }
    put_l2_header(p + 8, p + 10, l2, l2_len);
    *len = static_cast<uint16_t>((p + 10 - b) + l2_len);
    return 0;
}

uint16_t announce_flag_field(const ptp_clock_type *gm, bool unicast)
{
    uint16_t f = 0;
    if (gm->leap_seconds == PTP_LEAP_61) {
        f |= 0x0001;
    } else if (gm->leap_seconds == PTP_LEAP_59) {
        f |= 0x0002;
    }
    f |= gm->utc_offset_valid != 0 ? 0x0004 : 0;
    f |= gm->timescale == PTP_TIMESCALE_PTP ? 0x0008 : 0;
    f |= gm->time_traceable != 0 ? 0x0010 : 0;
    f |= gm->frequency_traceable != 0 ? 0x0020 : 0;
    f |= unicast ? 0x0400 : 0;
    return f;
}

// Per-session entry of a create request's context, kept until the results arrive.
struct create_ctx_entry {
    uint32_t unicast_peer;
    uint8_t announce_interval;
    uint32_t confirm_announce;
    uint8_t sync_interval;
    uint32_t confirm_sync;
    uint8_t delay_resp_interval;
    uint32_t confirm_delay_resp;
    // What the result is matched on.
    ifhtype ifhandle;
    tessel_offload_session_key_type key;
};

struct create_ctx {
    uint32_t count;
    create_ctx_entry *entries;
};

zerrno build_master(const tessel_offload_data_type *s, uint8_t *b, uint16_t *len, create_ctx_entry *ctx)
{
    const tessel_proto_idb_type *idb = s->proto_idb;
    const tessel_port_mgr_local_clock_type *lc = tessel_port_mgr_get_local_clock();
    const ptp_clock_type *gm = tessel_bmc_get_advertised_clock();
    if (lc == nullptr) {
        tessel_internal_error("local_clock != ((void*)0)", __FILE__, __LINE__);
    }
    if (gm == nullptr) {
        tessel_internal_error("gm != ((void*)0)", __FILE__, __LINE__);
    }
    const bool peer = s->data_type == TESSEL_OFFLOAD_DATA_UNICAST_PEER;
    const ptp_fsm_peer_entry_type *pe = s->peer_entry;
    std::memset(b, 0, TESSEL_OFFLOAD_DATA_MAX);
    put_common_head(b, idb, lc);
    ptp_wire_put64(b + 16, gm->clock_id);

    const bool announce =
        peer ? (pe->is_announce_granted || pe->is_nonnegotiated) : idb->fsm.is_sending_multicast_announce != 0;
    const bool sync = peer ? (pe->is_sync_granted || pe->is_nonnegotiated)
                           : (idb->fsm.is_master_drrm_running && idb->config.transport != PTP_TRANSPORT_UNICAST);
    const bool delay_resp = peer
                                ? (pe->is_delay_req_replying || pe->is_nonnegotiated)
                                : (idb->fsm.is_master_drrm_running && idb->config.transport == PTP_TRANSPORT_MULTICAST);
    uint8_t flags = (announce ? 0x01 : 0) | (sync ? 0x02 : 0) | (delay_resp ? 0x04 : 0);
    if (s->dest_address.encap == PTP_ENCAP_IPV6 && tessel_cfg_get_verify_checksum()) {
        flags |= 0x08;
    }
    b[24] = flags;

    uint8_t p1 = gm->priority1, p2 = gm->priority2, acc = gm->accuracy, cls = ptp_clock_effective_class(gm);
    uint16_t oslv = gm->offset_log_variance;
    if (idb->config.interop_cfg != nullptr) {
        const auto mode = static_cast<ptp_profile_type>(tessel_port_mgr_get_profile());
        const tessel_interop_config_type &io = *idb->config.interop_cfg;
        p1 = tessel_interop_convert_priority1(p1, mode, TESSEL_INTEROP_EGRESS, io);
        p2 = tessel_interop_convert_priority2(p2, mode, TESSEL_INTEROP_EGRESS, io);
        acc = tessel_interop_convert_clock_accuracy(acc, mode, TESSEL_INTEROP_EGRESS, io);
        oslv = tessel_interop_convert_oslv(oslv, mode, TESSEL_INTEROP_EGRESS, io);
        cls =
            tessel_interop_convert_clock_class(cls, mode, tessel_cfg_get_fsync_ql_option(), TESSEL_INTEROP_EGRESS, io);
    }
    const auto granted = [&](uint32_t kind, int32_t configured) {
        return static_cast<int8_t>(peer ? pe->grant[kind].log_interval : configured);
    };
    const int8_t ann_int = granted(PTP_FSM_PEER_GRANT_ANNOUNCE, idb->config.announce_interval);
    const int8_t sync_int = granted(PTP_FSM_PEER_GRANT_SYNC, idb->config.sync_interval);
    const int8_t dresp_int = granted(PTP_FSM_PEER_GRANT_DELAY_RESP, idb->config.delay_req_interval);
    b[25] = p1;
    b[26] = p2;
    b[27] = acc;
    b[28] = cls;
    b[29] = static_cast<uint8_t>(ann_int);
    b[30] = static_cast<uint8_t>(sync_int);
    b[31] = gm->time_source;
    ptp_wire_put16(b + 32, static_cast<uint16_t>(gm->utc_offset));
    ptp_wire_put16(b + 34, oslv);
    ptp_wire_put16(b + 36, gm->steps_removed);
    ptp_wire_put16(b + 38, announce_flag_field(gm, peer));
    b[40] = static_cast<uint8_t>((idb->config.clock_operation == 0 ? 0x02 : 0) | (peer ? 0x04 : 0));
    b[42] = (!peer && idb->config.transport == PTP_TRANSPORT_MULTICAST) ? 0 : 0x04;
    b[44] = static_cast<uint8_t>(dresp_int);

    if (ctx != nullptr && peer) {
        ctx->unicast_peer = 1;
        ctx->announce_interval = static_cast<uint8_t>(ann_int);
        ctx->sync_interval = static_cast<uint8_t>(sync_int);
        ctx->delay_resp_interval = static_cast<uint8_t>(dresp_int);
        ctx->confirm_announce = announce ? 1 : 0;
        ctx->confirm_sync = sync ? 1 : 0;
        ctx->confirm_delay_resp = delay_resp ? 1 : 0;
    }

    uint8_t *e = b + TESSEL_OFFLOAD_MASTER_COMMON_LEN;
    switch (s->dest_address.encap) {
    case PTP_ENCAP_ETHERNET: {
        dot1q_rewritten_tag_stack_type tags{};
        (void)tessel_io_vlan_tags_build(s->proto_idb, &tags);
        const uint32_t tag_bytes = 4 * tags.count;
        std::memcpy(e, &tag_bytes, 4); // host order
        (void)eth_encap_attr_src_mac_get(idb->ether_info, idb->ether_info_len, e + 4);
        for (uint32_t i = 0; i < tags.count && i < DOT1Q_TAG_STACK_MAX; i++) {
            ptp_wire_put32(e + 10 + 4 * i, tags.tags[i]);
        }
        *len = static_cast<uint16_t>(64 + tag_bytes);
        return 0;
    }
    case PTP_ENCAP_IPV4:
    case PTP_ENCAP_IPV6: {
        uint16_t part = 0;
        const zerrno rc = put_ip_part(s, e, !peer, &part);
        // Fixed part 64 (IPv4) or 80 (IPv6) bytes, then the L2 header.
        const size_t l2_at = s->dest_address.encap == PTP_ENCAP_IPV4 ? 62 : 74;
        *len = static_cast<uint16_t>(part + TESSEL_OFFLOAD_MASTER_COMMON_LEN - l2_at +
                                     (s->dest_address.encap == PTP_ENCAP_IPV4 ? 64 : 80));
        return rc;
    }
    default: tessel_internal_error("!\"Unknown encap type\"", __FILE__, __LINE__);
    }
}

zerrno build_slave(const tessel_offload_data_type *s, uint8_t *b, uint16_t *len)
{
    const tessel_proto_idb_type *idb = s->proto_idb;
    const ptp_fsm_foreign_master_type *fm = s->foreign_master;
    const tessel_port_mgr_local_clock_type *lc = tessel_port_mgr_get_local_clock();
    if (lc == nullptr) {
        tessel_internal_error("local_clock != ((void*)0)", __FILE__, __LINE__);
    }
    std::memset(b, 0, TESSEL_OFFLOAD_DATA_MAX);
    put_common_head(b, idb, lc);
    const bool mcast = fm->transport == PTP_TRANSPORT_MULTICAST;
    b[16] = mcast ? 0 : 0x04;
    uint8_t flags = (fm->is_handling_sync ? 0x01 : 0) | (fm->is_sending_delay_req ? 0x02 : 0);
    if (s->dest_address.encap == PTP_ENCAP_IPV6 && tessel_cfg_get_verify_checksum()) {
        flags |= 0x04;
    }
    b[18] = flags;
    if (fm->is_sending_delay_req) {
        b[19] = static_cast<uint8_t>(fm->grant[PTP_FSM_FM_GRANT_DELAY_RESP].log_interval);
    }
    uint8_t *e = b + TESSEL_OFFLOAD_SLAVE_COMMON_LEN;
    const bool port_mcast = idb->config.transport == PTP_TRANSPORT_MULTICAST;
    switch (s->dest_address.encap) {
    case PTP_ENCAP_ETHERNET: {
        std::memcpy(e, port_mcast ? idb->config.multicast_address.value : fm->peer_addr.value, PTP_MAC_ADDR_LEN);
        dot1q_rewritten_tag_stack_type tags{};
        (void)tessel_io_vlan_tags_build(s->proto_idb, &tags);
        const uint32_t tag_bytes = 4 * tags.count;
        std::memcpy(e + 8, &tag_bytes, 4);
        (void)eth_encap_attr_src_mac_get(idb->ether_info, idb->ether_info_len, e + 12);
        for (uint32_t i = 0; i < tags.count && i < DOT1Q_TAG_STACK_MAX; i++) {
            ptp_wire_put32(e + 18 + 4 * i, tags.tags[i]);
        }
        *len = static_cast<uint16_t>(48 + tag_bytes);
        return 0;
    }
    case PTP_ENCAP_IPV4:
    case PTP_ENCAP_IPV6: {
        const bool v6 = s->dest_address.encap == PTP_ENCAP_IPV6;
        const size_t alen = v6 ? 16 : 4;
        std::memcpy(e, port_mcast ? (v6 ? IPV6_MCAST : IPV4_MCAST) : fm->peer_addr.value, alen);
        uint16_t part = 0;
        const zerrno rc = put_ip_part(s, e + alen, port_mcast, &part);
        // Fixed part 48 (IPv4) or 72 (IPv6) bytes, then the L2 header.
        const size_t l2_at = v6 ? 66 : 42;
        *len = static_cast<uint16_t>(TESSEL_OFFLOAD_SLAVE_COMMON_LEN + alen + part - l2_at + (v6 ? 72 : 48));
        return rc;
    }
    default: tessel_internal_error("!\"Unknown encap type\"", __FILE__, __LINE__);
    }
}

bool interval_applied(ptp_fsm_peer_entry_type *pe, uint32_t kind, uint8_t sent)
{
    return pe->grant[kind].app_log_interval == static_cast<int8_t>(sent) &&
           pe->grant[kind].log_interval == static_cast<int8_t>(sent);
}

// The deferred grant replies of a unicast peer whose intervals the plugin already applies are
// sent at once; the others wait for the result.
void grant_replies_now(tessel_offload_data_type *s, create_ctx_entry *c)
{
    ptp_fsm_peer_entry_type *pe = s->peer_entry;
    struct {
        uint32_t *confirm;
        uint8_t interval;
        uint32_t kind;
        uint32_t msg_type;
    } rows[] = {{&c->confirm_announce, c->announce_interval, PTP_FSM_PEER_GRANT_ANNOUNCE, 11},
                {&c->confirm_sync, c->sync_interval, PTP_FSM_PEER_GRANT_SYNC, 0},
                {&c->confirm_delay_resp, c->delay_resp_interval, PTP_FSM_PEER_GRANT_DELAY_RESP, 9}};
    for (auto &r : rows) {
        if (*r.confirm != 0 && interval_applied(pe, r.kind, r.interval)) {
            *r.confirm = 0;
            ptp_fsm_send_unicast_grant_reply(s->proto_idb, pe, r.msg_type);
        }
    }
}

void process_deletes(uint32_t encap, bool resync)
{
    std::vector<tessel_offload_data_type *> batch;
    for (tessel_offload_data_type *s = update_head.next; s != nullptr; s = s->next) {
        if ((s->flags & TESSEL_OFFLOAD_DELETE_PENDING) != 0 && s->dest_address.encap == encap) {
            batch.push_back(s);
        }
    }
    if (batch.empty()) {
        return;
    }
    if (resync) {
        // The resynchronised plugin holds none of them.
        for (tessel_offload_data_type *s : batch) {
            session_free(s);
        }
        return;
    }
    const auto n = static_cast<uint32_t>(batch.size());
    std::vector<uint32_t> ifh(n), plat(n, 0), status(n, 0);
    std::vector<tessel_offload_session_key_type> keys(n);
    std::vector<const void *> key_ptrs(n);
    std::vector<uint16_t> key_lens(n);
    for (uint32_t i = 0; i < n; i++) {
        ifh[i] = batch[i]->ifhandle;
        status[i] = tessel_offload_session_key_create(batch[i], &keys[i]);
        key_ptrs[i] = keys[i].bytes;
        key_lens[i] = keys[i].len;
    }
    const spio_offload_delete_request_type req = {0, n, ifh.data(), plat.data(), key_ptrs.data(), key_lens.data()};
    spio_conn_type *conn = tessel_io_encap_to_spio_conn(encap);
    const zerrno rc = conn != nullptr ? spio_offload_delete(conn, &req, status.data()) : PTP_ZERR_INVALID_ARG;
    if (rc == 0) {
        TESSEL_OFFLOAD_DEBUG(0, "%s: Successfully deleted %u offload sessions", n);
        ptp_trace<PTP_TRACE_TESSEL_OFFLOAD_DELETED>({sum()}, n);
    } else {
        TESSEL_OFFLOAD_DEBUG_ERR(0, "%s: Failed to delete %u offload sessions: %s", n, zerr_strerror(rc));
        ptp_trace<PTP_TRACE_TESSEL_OFFLOAD_DELETE_FAILED>({sum(), unq()}, n, rc);
    }
    for (uint32_t i = 0; i < n; i++) {
        tessel_offload_data_type *s = batch[i];
        if (rc == 0 && status[i] == 0) {
            TESSEL_OFFLOAD_DEBUG(s->ifhandle, "%s: [%s %s] Deleted offload session", ifname_of(s),
                                 ptp_address_to_str(&s->dest_address));
            s->flags = 0;
            session_free(s);
            continue;
        }
        const zerrno err = rc != 0 ? rc : status[i];
        if (err != PTP_ZERR_NOMEM) {
            TESSEL_OFFLOAD_DEBUG_ERR(s->ifhandle, "%s: [%s %s] Failed to delete session: %s", ifname_of(s),
                                     ptp_address_to_str(&s->dest_address), zerr_strerror(err));
            ptp_trace<PTP_TRACE_TESSEL_OFFLOAD_SESSION_DELETE_FAILED>({det(), unq()}, s->ifhandle,
                                                                      ptp_address_to_str(&s->dest_address), err);
        }
        tessel_offload_resync_timers_start();
    }
}

} // namespace

tessel_offload_state_type &tessel_offload_state()
{
    return state;
}

const char *tessel_offload_encap_name(uint32_t encap)
{
    switch (encap) {
    case PTP_ENCAP_ETHERNET: return "Ethernet";
    case PTP_ENCAP_IPV4: return "IPv4";
    case PTP_ENCAP_IPV6: return "IPv6";
    default: return "Unknown";
    }
}

// ---- Init and shutdown ----

zerrno tessel_offload_init(event_mgr_type *evm)
{
    state.evm = evm;
    zerrno rc = 0;
    if (!avl2_init(&state.tree, tessel_offload_session_info_cmp, nullptr)) {
        rc = PTP_ZERR_NOMEM;
    } else {
        state.tree_created = true;
        rc = ptp_timer_create(&batch_timer, batch_timer_expired, nullptr);
        batch_timer_created = rc == 0;
    }
    for (uint32_t encap = PTP_ENCAP_ETHERNET; rc == 0 && encap <= PTP_ENCAP_IPV6; encap++) {
        const util_retry_handler_init_type init = {evm, resync_names[encap], resync_attempt, nullptr, nullptr, nullptr};
        resync_handler[encap] = util_retry_handler_create(&init);
    }
    if (rc == 0) {
        rc = tessel_offload_stats_init();
    }
    if (rc != 0) {
        ptp_syslog_init_failed("Failed to initialize offload module: ", zerr_strerror(rc));
        ptp_trace<PTP_TRACE_TESSEL_OFFLOAD_INIT_FAILED>({sum(), unq()}, rc);
    }
    return rc;
}

void tessel_offload_shutdown(void)
{
    tessel_offload_stats_shutdown();
    for (auto &h : resync_handler) {
        util_retry_handler_destroy(&h);
    }
    if (batch_timer_created) {
        ptp_timer_destroy(&batch_timer);
        batch_timer_created = false;
    }
    if (state.tree_created) {
        // Sessions still there are not deleted in the plugin.
        avl2_destroy(&state.tree, [](avl2_node_type *row) { std::free(row); });
        state.tree_created = false;
    }
    update_head.next = nullptr;
}

// ---- Update operations ----

void tessel_offload_if_session_update(tessel_proto_idb_type *idb)
{
    if (idb == nullptr || !state.tree_created) {
        return;
    }
    if (if_session_wanted(idb)) {
        session_create_or_update(TESSEL_OFFLOAD_DATA_IF, idb, if_destination(idb), if_source(idb), nullptr, nullptr);
        return;
    }
    tessel_offload_data_type *s = session_find(TESSEL_OFFLOAD_DATA_IF, idb->header.ifhandle, nullptr);
    if (s != nullptr) {
        tessel_offload_session_schedule_delete(s);
    }
}

void tessel_offload_unicast_peer_session_update(ptp_fsm_peer_entry_type *peer)
{
    if (peer == nullptr || peer->port == nullptr || !state.tree_created) {
        return;
    }
    tessel_proto_idb_type *idb = peer->port;
    if (peer_session_wanted(peer)) {
        session_create_or_update(TESSEL_OFFLOAD_DATA_UNICAST_PEER, idb, peer->peer_addr,
                                 peer_source(idb, peer->local_addr), peer, nullptr);
        return;
    }
    tessel_offload_data_type *s =
        session_find(TESSEL_OFFLOAD_DATA_UNICAST_PEER, idb->header.ifhandle, &peer->peer_addr);
    if (s != nullptr) {
        s->peer_entry = nullptr; // the entry may go away; a delete needs only the key
        peer->offload_entry = nullptr;
        tessel_offload_session_schedule_delete(s);
    }
}

void tessel_offload_foreign_master_session_update(ptp_fsm_foreign_master_type *fm)
{
    if (fm == nullptr || fm->port == nullptr || !state.tree_created) {
        return;
    }
    tessel_proto_idb_type *idb = fm->port;
    if (fm_session_wanted(fm)) {
        session_create_or_update(TESSEL_OFFLOAD_DATA_FOREIGN_MASTER, idb, fm->peer_addr,
                                 peer_source(idb, fm->sent_to_addr), nullptr, fm);
        return;
    }
    tessel_offload_data_type *s =
        session_find(TESSEL_OFFLOAD_DATA_FOREIGN_MASTER, idb->header.ifhandle, &fm->peer_addr);
    if (s != nullptr) {
        s->foreign_master = nullptr;
        tessel_offload_session_schedule_delete(s);
    }
}

void tessel_offload_idb_sessions_update(tessel_proto_idb_type *idb)
{
    if (idb == nullptr) {
        return;
    }
    tessel_offload_if_session_update(idb);
    for (avl2_node_type *n = avl2_get_first(&idb->fsm.unicast_peer_tree); n != nullptr;
         n = avl2_get_next(&idb->fsm.unicast_peer_tree, n)) {
        tessel_offload_unicast_peer_session_update(reinterpret_cast<ptp_fsm_peer_entry_type *>(n));
    }
    for (avl2_node_type *n = avl2_get_first(&idb->fsm.foreign_master_table); n != nullptr;
         n = avl2_get_next(&idb->fsm.foreign_master_table, n)) {
        tessel_offload_foreign_master_session_update(reinterpret_cast<ptp_fsm_foreign_master_type *>(n));
    }
}

void tessel_offload_flush(void)
{
    if (batch_timer_created) {
        (void)ptp_timer_stop(&batch_timer);
    }
    for (uint32_t encap = PTP_ENCAP_ETHERNET; encap <= PTP_ENCAP_IPV6; encap++) {
        tessel_offload_process_creates(encap, false);
    }
}

void tessel_offload_sessions_resync(uint32_t encap)
{
    if (!state.tree_created) {
        return;
    }
    for (avl2_node_type *n = avl2_get_first(&state.tree); n != nullptr; n = avl2_get_next(&state.tree, n)) {
        auto *s = reinterpret_cast<tessel_offload_data_type *>(n);
        if (s->dest_address.encap == encap && !on_update_list(s)) {
            s->flags = static_cast<uint8_t>((s->flags | TESSEL_OFFLOAD_CREATE_UPDATE_PENDING) &
                                            ~TESSEL_OFFLOAD_DELETE_PENDING);
            update_list_push(s);
            batch_timer_restart();
        }
    }
    tessel_offload_process_creates(encap, true);
}

void tessel_offload_if_sessions_cleanup(ifhtype ifhandle)
{
    if (!state.tree_created) {
        return;
    }
    std::vector<tessel_offload_data_type *> gone;
    for (avl2_node_type *n = avl2_get_first(&state.tree); n != nullptr; n = avl2_get_next(&state.tree, n)) {
        auto *s = reinterpret_cast<tessel_offload_data_type *>(n);
        if (s->ifhandle == ifhandle) {
            update_list_remove(s);
            gone.push_back(s);
        }
    }
    for (tessel_offload_data_type *s : gone) {
        s->flags &= static_cast<uint8_t>(~TESSEL_OFFLOAD_SESSION_EXISTS);
        session_free(s);
    }
}

// ---- Retry handlers ----

void tessel_offload_ethernet_resync_request(void)
{
    resync_request(PTP_ENCAP_ETHERNET);
}
void tessel_offload_ipv4_resync_request(void)
{
    resync_request(PTP_ENCAP_IPV4);
}
void tessel_offload_ipv6_resync_request(void)
{
    resync_request(PTP_ENCAP_IPV6);
}
bool tessel_offload_ethernet_resync_timer_running(void)
{
    return resync_running(PTP_ENCAP_ETHERNET);
}
bool tessel_offload_ipv4_resync_timer_running(void)
{
    return resync_running(PTP_ENCAP_IPV4);
}
bool tessel_offload_ipv6_resync_timer_running(void)
{
    return resync_running(PTP_ENCAP_IPV6);
}
void tessel_offload_resync_timers_start(void)
{
    for (auto *h : resync_handler) {
        if (h != nullptr) {
            util_retry_handler_start(h);
        }
    }
}

// ---- State for the interface dump ----

namespace {

void state_fill(const tessel_offload_data_type *s, tessel_offload_session_state_type *out)
{
    *out = {};
    if (s == nullptr) {
        return;
    }
    out->session_entry_exists = 1;
    out->session_exists = (s->flags & TESSEL_OFFLOAD_SESSION_EXISTS) != 0;
    out->create_update_pending = (s->flags & TESSEL_OFFLOAD_CREATE_UPDATE_PENDING) != 0;
    out->delete_pending = (s->flags & TESSEL_OFFLOAD_DELETE_PENDING) != 0;
    out->on_update_list = on_update_list(s);
}

} // namespace

void tessel_offload_if_session_state_get(tessel_proto_idb_type *idb, tessel_offload_session_state_type *out)
{
    state_fill(idb != nullptr ? session_find(TESSEL_OFFLOAD_DATA_IF, idb->header.ifhandle, nullptr) : nullptr, out);
}

void tessel_offload_unicast_peer_session_state_get(ptp_fsm_peer_entry_type *peer,
                                                   tessel_offload_session_state_type *out)
{
    state_fill(peer != nullptr && peer->port != nullptr
                   ? session_find(TESSEL_OFFLOAD_DATA_UNICAST_PEER, peer->port->header.ifhandle, &peer->peer_addr)
                   : nullptr,
               out);
}

void tessel_offload_foreign_master_session_state_get(ptp_fsm_foreign_master_type *fm,
                                                     tessel_offload_session_state_type *out)
{
    state_fill(fm != nullptr && fm->port != nullptr
                   ? session_find(TESSEL_OFFLOAD_DATA_FOREIGN_MASTER, fm->port->header.ifhandle, &fm->peer_addr)
                   : nullptr,
               out);
}

// ---- Keys, data, batches, results ----

zerrno tessel_offload_session_key_create(const tessel_offload_data_type *s, tessel_offload_session_key_type *key)
{
    *key = {};
    key->bytes[0] =
        s->data_type == TESSEL_OFFLOAD_DATA_FOREIGN_MASTER ? TESSEL_OFFLOAD_KEY_SLAVE : TESSEL_OFFLOAD_KEY_MASTER;
    key->bytes[1] = static_cast<uint8_t>(s->dest_address.encap);
    switch (s->dest_address.encap) {
    case PTP_ENCAP_ETHERNET:
        std::memcpy(key->bytes + 2, s->dest_address.value, 6);
        key->len = 8;
        return 0;
    case PTP_ENCAP_IPV4:
        std::memcpy(key->bytes + 4, s->dest_address.value, 4);
        key->len = 8;
        return 0;
    case PTP_ENCAP_IPV6:
        std::memcpy(key->bytes + 8, s->dest_address.value, 16);
        key->len = 24;
        return 0;
    default: return PTP_ZERR_INVALID_ARG;
    }
}

tessel_offload_data_type *tessel_offload_session_find_by_key(ifhtype ifhandle, const uint8_t *key, size_t key_len)
{
    if (key == nullptr || key_len < 8) {
        return nullptr;
    }
    ptp_address_type addr{};
    addr.encap = key[1];
    size_t need = 0;
    bool multicast = false;
    switch (addr.encap) {
    case PTP_ENCAP_ETHERNET:
        need = 8;
        std::memcpy(addr.value, key + 2, 6);
        multicast = (addr.value[0] & 1) != 0;
        break;
    case PTP_ENCAP_IPV4:
        need = 8;
        std::memcpy(addr.value, key + 4, 4);
        multicast = addr.value[0] >= 224 && addr.value[0] <= 239;
        break;
    case PTP_ENCAP_IPV6:
        need = 24;
        if (key_len >= need) {
            std::memcpy(addr.value, key + 8, 16);
        }
        // Every IPv6 multicast address, ff0e::181 of the interface sessions included.
        multicast = addr.value[0] == 0xFF;
        break;
    default: return nullptr;
    }
    if (key_len < need) {
        return nullptr;
    }
    uint32_t cls;
    if (key[0] == TESSEL_OFFLOAD_KEY_SLAVE) {
        cls = TESSEL_OFFLOAD_DATA_FOREIGN_MASTER;
    } else if (key[0] == TESSEL_OFFLOAD_KEY_MASTER) {
        cls = multicast ? TESSEL_OFFLOAD_DATA_IF : TESSEL_OFFLOAD_DATA_UNICAST_PEER;
    } else {
        return nullptr;
    }
    tessel_offload_data_type *s = session_find(cls, ifhandle, &addr);
    // An interface session matches whatever its destination; the key must still name it.
    if (s != nullptr && cls == TESSEL_OFFLOAD_DATA_IF &&
        (s->dest_address.encap != addr.encap ||
         std::memcmp(s->dest_address.value, addr.value, addr_len(addr.encap)) != 0)) {
        return nullptr;
    }
    return s;
}

zerrno tessel_offload_session_data_build(const tessel_offload_data_type *s, uint8_t *buf, uint16_t *len)
{
    return s->data_type == TESSEL_OFFLOAD_DATA_FOREIGN_MASTER ? build_slave(s, buf, len)
                                                              : build_master(s, buf, len, nullptr);
}

void tessel_offload_process_creates(uint32_t encap, bool resync)
{
    TESSEL_OFFLOAD_DEBUG(0, "%s: Processing %s batch (%sresync)", tessel_offload_encap_name(encap),
                         resync ? "" : "not ");
    std::vector<tessel_offload_data_type *> batch;
    for (tessel_offload_data_type *s = update_head.next; s != nullptr; s = s->next) {
        if ((s->flags & TESSEL_OFFLOAD_CREATE_UPDATE_PENDING) != 0 && s->dest_address.encap == encap) {
            batch.push_back(s);
        }
    }
    if (!batch.empty()) {
        const auto n = static_cast<uint32_t>(batch.size());
        std::vector<uint32_t> ifh(n), plat(n, 0);
        std::vector<tessel_offload_session_key_type> keys(n);
        std::vector<const void *> key_ptrs(n), data_ptrs(n);
        std::vector<uint16_t> key_lens(n), data_lens(n);
        std::vector<std::vector<uint8_t>> data(n);
        auto *ctx = static_cast<create_ctx *>(std::calloc(1, sizeof(create_ctx)));
        auto *entries = static_cast<create_ctx_entry *>(std::calloc(n, sizeof(create_ctx_entry)));
        auto *status = static_cast<uint32_t *>(std::calloc(n, sizeof(uint32_t)));
        if (ctx == nullptr || entries == nullptr || status == nullptr) {
            ptp_alloc_failure_report(n * sizeof(create_ctx_entry), ctx == nullptr       ? "Offload context"
                                                                   : entries == nullptr ? "Offload context array"
                                                                                        : "Offload status array");
            std::free(ctx);
            std::free(entries);
            std::free(status);
            return; // the sessions stay pending
        }
        ctx->count = n;
        ctx->entries = entries;
        for (uint32_t i = 0; i < n; i++) {
            tessel_offload_data_type *s = batch[i];
            ifh[i] = s->ifhandle;
            status[i] = tessel_offload_session_key_create(s, &keys[i]);
            key_ptrs[i] = keys[i].bytes;
            key_lens[i] = keys[i].len;
            entries[i].ifhandle = s->ifhandle;
            entries[i].key = keys[i];
            data[i].assign(TESSEL_OFFLOAD_DATA_MAX, 0);
            uint16_t len = 0;
            zerrno rc = 0;
            if (s->proto_idb == nullptr ||
                (s->data_type == TESSEL_OFFLOAD_DATA_UNICAST_PEER && s->peer_entry == nullptr) ||
                (s->data_type == TESSEL_OFFLOAD_DATA_FOREIGN_MASTER && s->foreign_master == nullptr)) {
                rc = PTP_ZERR_INVALID_ARG;
            } else if (s->data_type == TESSEL_OFFLOAD_DATA_FOREIGN_MASTER) {
                rc = build_slave(s, data[i].data(), &len);
            } else {
                rc = build_master(s, data[i].data(), &len, &entries[i]);
                if (rc == 0 && s->data_type == TESSEL_OFFLOAD_DATA_UNICAST_PEER) {
                    grant_replies_now(s, &entries[i]);
                }
            }
            if (status[i] == 0 && rc != 0) {
                status[i] = rc;
            }
            data_ptrs[i] = data[i].data();
            data_lens[i] = len;
        }
        const spio_offload_request_type req = {
            0, n, ifh.data(), plat.data(), key_ptrs.data(), key_lens.data(), data_ptrs.data(), data_lens.data()};
        const spio_offload_completion_type done = {status, tessel_offload_create_results_cb, ctx};
        spio_conn_type *conn = tessel_io_encap_to_spio_conn(encap);
        uint32_t request_id = 0;
        const zerrno rc = conn != nullptr ? spio_offload_nb(conn, &req, &done, &request_id) : PTP_ZERR_INVALID_ARG;
        if (rc != 0) {
            TESSEL_OFFLOAD_DEBUG_ERR(0, "%s: Failed to create %u offload sessions: %s", n, zerr_strerror(rc));
            ptp_trace<PTP_TRACE_TESSEL_OFFLOAD_CREATE_FAILED>({sum(), unq()}, n, rc);
            tessel_offload_resync_timers_start();
            std::free(entries);
            std::free(ctx);
            std::free(status);
        } else {
            for (tessel_offload_data_type *s : batch) {
                s->flags &= static_cast<uint8_t>(~TESSEL_OFFLOAD_CREATE_UPDATE_PENDING);
                if ((s->flags & TESSEL_OFFLOAD_DELETE_PENDING) == 0) {
                    update_list_remove(s);
                }
            }
        }
    }
    process_deletes(encap, resync);
}

void tessel_offload_create_results_cb(uint32_t count, uint32_t *statuses, void *context)
{
    auto *ctx = static_cast<create_ctx *>(context);
    if (ctx == nullptr) {
        std::free(statuses);
        return;
    }
    const uint32_t n = count < ctx->count ? count : ctx->count;
    for (uint32_t i = 0; i < n; i++) {
        const create_ctx_entry &e = ctx->entries[i];
        const zerrno result = statuses != nullptr ? statuses[i] : PTP_ZERR_INVALID_ARG;
        tessel_offload_data_type *s = tessel_offload_session_find_by_key(e.ifhandle, e.key.bytes, e.key.len);
        if (s == nullptr) {
            char text[81];
            const char *kind = e.key.bytes[0] == 1 ? "master" : e.key.bytes[0] == 2 ? "slave" : "unknown";
            const uint8_t *k = e.key.bytes;
            if (k[1] == PTP_ENCAP_IPV6) {
                ptp_address_type a{PTP_ENCAP_IPV6, {}};
                std::memcpy(a.value, k + 8, 16);
                std::snprintf(text, sizeof text, "IPv6 %s session on address %s", kind, ptp_address_to_str(&a) + 5);
            } else if (k[1] == PTP_ENCAP_IPV4) {
                std::snprintf(text, sizeof text, "IPv4 %s session on address %u.%u.%u.%u", kind, k[4], k[5], k[6],
                              k[7]);
            } else {
                std::snprintf(text, sizeof text, "ethernet %s session on address %.2x%.2x.%.2x%.2x.%.2x%.2x", kind,
                              k[2], k[3], k[4], k[5], k[6], k[7]);
            }
            TESSEL_OFFLOAD_DEBUG_ERR(e.ifhandle,
                                     "%s: Failed to retreive session data for offload create on interface 0x%8.8x: %s",
                                     e.ifhandle, text);
            ptp_trace<PTP_TRACE_TESSEL_OFFLOAD_RESULT_NO_SESSION>({det(), unq()}, e.ifhandle,
                                                                  static_cast<const char *>(text));
            continue;
        }
        if (result == 0) {
            s->flags |= TESSEL_OFFLOAD_SESSION_EXISTS;
            ptp_fsm_peer_entry_type *pe = nullptr;
            if (s->data_type == TESSEL_OFFLOAD_DATA_UNICAST_PEER && s->proto_idb != nullptr) {
                pe = ptp_fsm_unicast_peer_entry_find(s->proto_idb, &s->dest_address);
            }
            if (pe != nullptr && e.unicast_peer != 0) {
                struct {
                    uint32_t confirm;
                    uint8_t interval;
                    uint32_t kind;
                    uint32_t msg_type;
                } rows[] = {{e.confirm_announce, e.announce_interval, PTP_FSM_PEER_GRANT_ANNOUNCE, 11},
                            {e.confirm_sync, e.sync_interval, PTP_FSM_PEER_GRANT_SYNC, 0},
                            {e.confirm_delay_resp, e.delay_resp_interval, PTP_FSM_PEER_GRANT_DELAY_RESP, 9}};
                for (auto &r : rows) {
                    const auto sent = static_cast<int8_t>(r.interval);
                    if (r.confirm == 0 || pe->grant[r.kind].app_log_interval == sent) {
                        continue;
                    }
                    pe->grant[r.kind].app_log_interval = sent;
                    if (pe->grant[r.kind].log_interval == sent) {
                        ptp_fsm_send_unicast_grant_reply(s->proto_idb, pe, r.msg_type);
                    }
                }
            }
            char source[64];
            std::snprintf(source, sizeof source, "%s", ptp_address_to_str(&s->source_address));
            ptp_trace<PTP_TRACE_TESSEL_OFFLOAD_CREATED>({det()}, s->ifhandle, class_text(s->data_type),
                                                        static_cast<const char *>(source),
                                                        ptp_address_to_str(&s->dest_address));
            continue;
        }
        if (result != PTP_ZERR_NOMEM && result != 0x46AB2400u) {
            TESSEL_OFFLOAD_DEBUG_ERR(s->ifhandle, "%s: [%s %s] Failed to create session: %s", ifname_of(s),
                                     ptp_address_to_str(&s->dest_address), zerr_strerror(result));
            ptp_trace<PTP_TRACE_TESSEL_OFFLOAD_SESSION_CREATE_FAILED>({det(), unq()}, s->ifhandle,
                                                                      ptp_address_to_str(&s->dest_address), result);
        }
        tessel_offload_resync_timers_start();
    }
    std::free(ctx->entries);
    std::free(ctx);
    std::free(statuses);
}
