// Unicast negotiation, slave side: the requests a port sends to its unicast foreign masters,
// their retries and renewals, the split of the combined Sync/Delay-Resp retry, and the
// handling of the masters' Grant and Cancel TLVs.
#include <array>
#include <cstring>
#include <ctime>

#include "eth_encap.h"
#include "ptp_address.h"
#include "ptp_strings.h"
#include "ptp_trace_points.h"
#include "tessel_db.h"
#include "tessel_fsm.h"
#include "tessel_fsm_announce.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_log.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_rx.h"
#include "tessel_fsm_services.h"
#include "tessel_fsm_signaling.h"
#include "tessel_fsm_types.h"
#include "tessel_fsm_unicast.h"
#include "tessel_fsm_unicast_priv.h"
#include "tessel_stats.h"

namespace {

constexpr uint32_t AREA = PTP_FSM_AREA_PROTOCOL;
constexpr uint32_t K_ANN = PTP_FSM_FM_GRANT_ANNOUNCE;
constexpr uint32_t K_SYNC = PTP_FSM_FM_GRANT_SYNC;
constexpr uint32_t K_DR = PTP_FSM_FM_GRANT_DELAY_RESP;

static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_UNICAST_GRANT_NONNEGOTIATED) == 0x200100649ull);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_UNICAST_GRANT_TOO_SHORT) == 0x60010067eull);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_UNICAST_SYNC_DELAY_RESP_REQUEST_SENT) == 0x500100684ull);

mgd_timer_leaf *leaf(void *t)
{
    return static_cast<mgd_timer_leaf *>(t);
}
mgd_timer_leaf *grant_timer(ptp_fsm_foreign_master_type *fm, uint32_t k)
{
    return leaf(fm->grant[k].grant_timer);
}
mgd_timer_leaf *retry_timer(ptp_fsm_foreign_master_type *fm, uint32_t k)
{
    return leaf(fm->grant[k].retry_timer);
}
// The combined Sync/Delay-Resp retry timer.
mgd_timer_leaf *combined_timer(ptp_fsm_foreign_master_type *fm)
{
    return leaf(fm->grant_cancel_timer);
}

void start_s(mgd_timer_leaf *t, uint32_t seconds)
{
    if (t != nullptr) {
        const struct timespec ts {
            static_cast<time_t>(seconds), 0
        };
        mgd_timer_leaf_start(t, &ts);
    }
}
void start_ts(mgd_timer_leaf *t, const struct timespec &ts)
{
    if (t != nullptr) {
        mgd_timer_leaf_start(t, &ts);
    }
}
void stop(mgd_timer_leaf *t)
{
    if (t != nullptr) {
        mgd_timer_leaf_stop(t);
    }
}

bool granted(const ptp_fsm_foreign_master_type *fm, uint32_t k)
{
    return k == K_ANN ? fm->is_announce_granted : k == K_SYNC ? fm->is_sync_granted : fm->is_delay_resp_granted;
}
void set_granted(ptp_fsm_foreign_master_type *fm, uint32_t k, bool on)
{
    const uint8_t v = on ? 1 : 0;
    if (k == K_ANN) {
        fm->is_announce_granted = v;
    } else if (k == K_SYNC) {
        fm->is_sync_granted = v;
    } else {
        fm->is_delay_resp_granted = v;
    }
}

// What the port asks for, by kind.
int8_t port_interval(const tessel_proto_idb_type *port, uint32_t k)
{
    return static_cast<int8_t>(k == K_ANN    ? port->config.announce_interval
                               : k == K_SYNC ? port->config.sync_interval
                                             : port->config.delay_req_interval);
}
uint32_t port_duration(const tessel_proto_idb_type *port, uint32_t k)
{
    return k == K_ANN    ? port->config.announce_grant_duration
           : k == K_SYNC ? port->config.sync_grant_duration
                         : port->config.delay_resp_grant_duration;
}

bool mode_requests_everywhere(uint32_t mode)
{
    return mode == PTP_PROFILE_G8265_1 || mode == PTP_PROFILE_G8275_2;
}

// One Unicast-Request for kind k with the port's interval and duration; signaling_id + 1.
void send_request(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm, uint32_t k)
{
    const uint32_t type = ptp_fsm_unicast_kind_msg_type(k);
    std::array<uint8_t, PTP_SIGNALING_HDR_LEN + PTP_TLV_REQUEST_LEN> msg{};
    ptp_unicast_request_tlv_encode({static_cast<uint8_t>(type), port_interval(port, k), port_duration(port, k)},
                                   msg.data() + PTP_SIGNALING_HDR_LEN, PTP_TLV_REQUEST_LEN);
    const zerrno err = ptp_fsm_unicast_signaling_send(port, msg.data(), msg.size(), fm->signaling_id, nullptr,
                                                      ptp_fsm_unicast_dest_fm(fm));
    fm->signaling_id++;
    if (err == 0) {
        PTP_FSM_DEBUG_PORT(AREA, port,
                           "%s: %s: [%s]: Sending Signaling message to peer %s containing "
                           "Unicast-Request TLV for message type %s",
                           ptp_fsm_address_str(&fm->peer_addr), ptp_msg_type_to_str(type));
        ptp_fsm_trace_address<PTP_TRACE_TESSEL_UNICAST_REQUEST_SENT>(PTP_FSM_TRACE_PKT, port, &fm->peer_addr, type);
    } else {
        PTP_FSM_DEBUG_PORT(AREA, port,
                           "%s: %s: [%s]: Failed to send Signaling message to peer %s containing "
                           "Unicast-Request TLV for message type %s: %s",
                           ptp_fsm_address_str(&fm->peer_addr), ptp_msg_type_to_str(type), zerr_strerror(err));
    }
}

// Sync and Delay-Resp in one message; signaling_id + 1; the combined retry timer restarts.
void send_combined_request(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm)
{
    std::array<uint8_t, PTP_SIGNALING_HDR_LEN + 2 * PTP_TLV_REQUEST_LEN> msg{};
    uint8_t *p = msg.data() + PTP_SIGNALING_HDR_LEN;
    p += ptp_unicast_request_tlv_encode({PTP_MSG_SYNC, port_interval(port, K_SYNC), port_duration(port, K_SYNC)}, p,
                                        PTP_TLV_REQUEST_LEN);
    ptp_unicast_request_tlv_encode({PTP_MSG_DELAY_RESP, port_interval(port, K_DR), port_duration(port, K_DR)}, p,
                                   PTP_TLV_REQUEST_LEN);
    const zerrno err = ptp_fsm_unicast_signaling_send(port, msg.data(), msg.size(), fm->signaling_id, nullptr,
                                                      ptp_fsm_unicast_dest_fm(fm));
    fm->signaling_id++;
    if (err == 0) {
        PTP_FSM_DEBUG_PORT(AREA, port,
                           "%s: %s: [%s]: Sending Signaling message to peer %s containing "
                           "Unicast-Request TLV for Sync and Delay-Resp",
                           ptp_fsm_address_str(&fm->peer_addr));
        ptp_fsm_trace_address<PTP_TRACE_TESSEL_UNICAST_SYNC_DELAY_RESP_REQUEST_SENT>(PTP_FSM_TRACE_PKT, port,
                                                                                     &fm->peer_addr);
    } else {
        PTP_FSM_DEBUG_PORT(AREA, port,
                           "%s: %s: [%s]: Failed to send signaling message to peer %s containing "
                           "Unicast-Request TLV for Sync and Delay-Resp: %s",
                           ptp_fsm_address_str(&fm->peer_addr), zerr_strerror(err));
    }
    start_s(combined_timer(fm), PTP_FSM_UNICAST_RETRY_S);
}

// A Unicast-Cancel for a message type to the master; signaling_id + 1. target: the port
// identity it goes to, null for the master's own. A master granted Announce may not have sent
// one yet: while its identity is unknown (clock identity 0) the Cancel goes to all ports of
// the master (all ones) rather than to an identity no port has.
void send_cancel(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm, uint32_t type,
                 const ptp_port_id_type *target = nullptr)
{
    if (target == nullptr && fm->parent_port_id.clock_id != 0) {
        target = &fm->parent_port_id;
    }
    ptp_fsm_unicast_send_cancel(port, PTP_MSG_TLV_CANCEL_UNICAST, type, &fm->signaling_id, target,
                                ptp_fsm_unicast_dest_fm(fm));
}

// The streams each kind's grant starts and stops.
void stream_start(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm, uint32_t k)
{
    if (k == K_ANN) {
        ptp_fsm_announce_foreign_master_start_listening(port, fm);
    } else if (k == K_SYNC) {
        ptp_fsm_offload_fm_sync_start(port, fm);
    } else {
        ptp_fsm_offload_fm_delay_req_start(port, fm);
    }
}
void stream_stop(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm, uint32_t k)
{
    if (k == K_ANN) {
        if (fm->is_listening || fm->is_in_ranked_list) {
            ptp_fsm_announce_foreign_master_stop_listening(port, fm);
        }
    } else if (k == K_SYNC) {
        ptp_fsm_offload_fm_sync_stop(port, fm);
    } else {
        ptp_fsm_offload_fm_delay_req_stop(port, fm);
    }
}

// ---- Timer handlers (context: the foreign master) ----

void retry_expired(ptp_fsm_foreign_master_type *fm, uint32_t k)
{
    send_request(fm->port, fm, k);
    start_s(retry_timer(fm, k), PTP_FSM_UNICAST_RETRY_S);
}
void announce_retry_cb(void *c)
{
    retry_expired(static_cast<ptp_fsm_foreign_master_type *>(c), K_ANN);
}
void sync_retry_cb(void *c)
{
    retry_expired(static_cast<ptp_fsm_foreign_master_type *>(c), K_SYNC);
}
void delay_resp_retry_cb(void *c)
{
    retry_expired(static_cast<ptp_fsm_foreign_master_type *>(c), K_DR);
}
void combined_retry_cb(void *c)
{
    auto *fm = static_cast<ptp_fsm_foreign_master_type *>(c);
    send_combined_request(fm->port, fm);
}

// The master's grant ran out: ask again.
void grant_expired(ptp_fsm_foreign_master_type *fm, uint32_t k)
{
    tessel_proto_idb_type *port = fm->port;
    set_granted(fm, k, false);
    stream_stop(port, fm, k);
    send_request(port, fm, k);
    start_s(retry_timer(fm, k), PTP_FSM_UNICAST_RETRY_S);
}
void announce_grant_cb(void *c)
{
    grant_expired(static_cast<ptp_fsm_foreign_master_type *>(c), K_ANN);
}
void sync_grant_cb(void *c)
{
    grant_expired(static_cast<ptp_fsm_foreign_master_type *>(c), K_SYNC);
}
void delay_resp_grant_cb(void *c)
{
    grant_expired(static_cast<ptp_fsm_foreign_master_type *>(c), K_DR);
}

// The combined retry runs while neither half is granted; a grant of one half hands what is left
// of it to the other half's own retry (or asks for that half at once).
void split_combined_retry(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm, uint32_t other)
{
    mgd_timer_leaf *combined = combined_timer(fm);
    if (combined == nullptr || !mgd_timer_leaf_running(combined)) {
        return;
    }
    struct timespec left {};
    mgd_timer_leaf_remaining(combined, &left);
    stop(combined);
    if (left.tv_sec > 0 || left.tv_nsec > 0) {
        start_ts(retry_timer(fm, other), left);
    } else {
        send_request(port, fm, other);
        start_s(retry_timer(fm, other), PTP_FSM_UNICAST_RETRY_S);
    }
}

// The Cancel goes back to the port that sent the grant.
void grant_rejected(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm, uint32_t type,
                    const ptp_address_type *src, const ptp_port_id_type *sender, bool not_slaving)
{
    if (not_slaving) {
        PTP_FSM_DEBUG_PORT(AREA, port,
                           "%s: %s: [%s]: Unicast-grant TLV for message-type %s received from "
                           "master %s when not slaving",
                           ptp_msg_type_to_str(type), ptp_fsm_address_str(src));
        ptp_fsm_trace_address<PTP_TRACE_TESSEL_UNICAST_GRANT_NOT_SLAVING>(PTP_FSM_TRACE_PKT, port, src, type);
    } else {
        PTP_FSM_DEBUG_PORT(AREA, port,
                           "%s: %s: [%s]: Unicast-grant TLV for message-type %s received from "
                           "multicast master %s",
                           ptp_msg_type_to_str(type), ptp_fsm_address_str(src));
        ptp_fsm_trace_address<PTP_TRACE_TESSEL_UNICAST_GRANT_MULTICAST_MASTER>(PTP_FSM_TRACE_PKT, port, src, type);
    }
    send_cancel(port, fm, type, sender);
}

struct timer_row_type {
    uint32_t kind;
    bool retry;
    const char *name;
    tessel_mgd_timer_handler_fn_type handler;
};
constexpr std::array<timer_row_type, 6> fm_timer_rows{{
    {K_ANN, true, "Announce grant retry timer", announce_retry_cb},
    {K_ANN, false, "Announce grant timer", announce_grant_cb},
    {K_SYNC, true, "Sync grant retry timer", sync_retry_cb},
    {K_SYNC, false, "Sync grant timer", sync_grant_cb},
    {K_DR, true, "Delay-Resp grant retry timer", delay_resp_retry_cb},
    {K_DR, false, "Delay-Resp grant timer", delay_resp_grant_cb},
}};

void free_timer(void *&t)
{
    if (t != nullptr) {
        tessel_mgd_timer_leaf_free(leaf(t));
        t = nullptr;
    }
}

} // namespace

// ---- Timers ----

zerrno ptp_fsm_unicast_fm_timers_create(ptp_fsm_foreign_master_type *fm)
{
    mgd_timer_parent *parent = ptp_fsm_unicast_timer_parent();
    for (const timer_row_type &row : fm_timer_rows) {
        mgd_timer_leaf *t = nullptr;
        const zerrno err = tessel_mgd_timer_leaf_new(parent, row.handler, fm, row.name, &t);
        if (err != 0) {
            ptp_fsm_unicast_fm_timers_delete(fm);
            return err;
        }
        (row.retry ? fm->grant[row.kind].retry_timer : fm->grant[row.kind].grant_timer) = t;
    }
    mgd_timer_leaf *t = nullptr;
    const zerrno err =
        tessel_mgd_timer_leaf_new(parent, combined_retry_cb, fm, "Sync/Delay-Resp grant retry timer", &t);
    if (err != 0) {
        ptp_fsm_unicast_fm_timers_delete(fm);
        return err;
    }
    fm->grant_cancel_timer = t;
    return 0;
}

void ptp_fsm_unicast_fm_timers_delete(ptp_fsm_foreign_master_type *fm)
{
    for (auto &g : fm->grant) {
        free_timer(g.grant_timer);
        free_timer(g.retry_timer);
    }
    free_timer(fm->grant_cancel_timer);
}

// ---- Operations of the state machine and foreign-master code ----

void ptp_fsm_unicast_start_master_listen(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm)
{
    PTP_FSM_ASSERT(fm->transport == PTP_TRANSPORT_UNICAST && !fm->is_nonnegotiated);
    send_request(port, fm, K_ANN);
    start_s(retry_timer(fm, K_ANN), PTP_FSM_UNICAST_RETRY_S);
}

void ptp_fsm_unicast_end_master_listen(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm)
{
    PTP_FSM_ASSERT(fm->transport == PTP_TRANSPORT_UNICAST && !fm->is_nonnegotiated);
    stream_stop(port, fm, K_ANN);
    if (fm->is_announce_granted) {
        send_cancel(port, fm, PTP_MSG_ANNOUNCE);
        fm->is_announce_granted = 0;
    }
    stop(grant_timer(fm, K_ANN));
    stop(retry_timer(fm, K_ANN));
}

void ptp_fsm_unicast_restart_announce_request(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm)
{
    if (!fm->is_announce_granted) {
        return;
    }
    stop(grant_timer(fm, K_ANN));
    stop(retry_timer(fm, K_ANN));
    fm->is_announce_granted = 0;
    send_request(port, fm, K_ANN);
    start_s(retry_timer(fm, K_ANN), PTP_FSM_UNICAST_RETRY_S);
}

void ptp_fsm_unicast_cancel_announce_grant(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm)
{
    ptp_fsm_unicast_restart_announce_request(port, fm);
}

void ptp_fsm_unicast_start_slaving(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm)
{
    switch (fm->transport) {
    case PTP_TRANSPORT_UNICAST:
        if (fm->is_nonnegotiated) {
            ptp_fsm_offload_fm_delay_req_start(port, fm);
        } else {
            send_combined_request(port, fm);
        }
        break;
    case PTP_TRANSPORT_MIXED:
        if (fm->is_nonnegotiated) {
            ptp_fsm_offload_fm_delay_req_start(port, fm);
        } else {
            send_request(port, fm, K_DR);
            start_s(retry_timer(fm, K_DR), PTP_FSM_UNICAST_RETRY_S);
        }
        break;
    default: ptp_fsm_offload_fm_delay_req_start(port, fm); break;
    }
}

void ptp_fsm_unicast_stop_slaving(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm)
{
    if (fm->is_sync_granted) {
        ptp_fsm_offload_fm_sync_stop(port, fm);
        send_cancel(port, fm, PTP_MSG_SYNC);
        fm->is_sync_granted = 0;
    }
    stop(grant_timer(fm, K_SYNC));
    stop(retry_timer(fm, K_SYNC));
    if (fm->is_delay_resp_granted) {
        ptp_fsm_offload_fm_delay_req_stop(port, fm);
        send_cancel(port, fm, PTP_MSG_DELAY_RESP);
        fm->is_delay_resp_granted = 0;
    } else if (fm->is_nonnegotiated) {
        ptp_fsm_offload_fm_delay_req_stop(port, fm);
    }
    stop(grant_timer(fm, K_DR));
    stop(retry_timer(fm, K_DR));
    stop(combined_timer(fm));
}

void ptp_fsm_unicast_restore_master_negotiation(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm,
                                                bool force)
{
    if (fm->transport == PTP_TRANSPORT_UNICAST) {
        fm->is_announce_granted = 1;
        stream_start(port, fm, K_ANN);
        send_request(port, fm, K_ANN);
        start_s(retry_timer(fm, K_ANN), PTP_FSM_UNICAST_RETRY_S);
        start_s(grant_timer(fm, K_ANN), port_duration(port, K_ANN));
    }
    if (!force && !mode_requests_everywhere(ptp_fsm_svc().get_profile())) {
        return;
    }
    if (fm->transport == PTP_TRANSPORT_UNICAST || fm->transport == PTP_TRANSPORT_MIXED) {
        if (fm->transport == PTP_TRANSPORT_MIXED) {
            send_request(port, fm, K_DR);
            start_s(retry_timer(fm, K_DR), PTP_FSM_UNICAST_RETRY_S);
        } else {
            send_combined_request(port, fm);
            fm->is_sync_granted = 1;
            start_s(grant_timer(fm, K_SYNC), port_duration(port, K_SYNC));
        }
        fm->is_delay_resp_granted = 1;
        start_s(grant_timer(fm, K_DR), port_duration(port, K_DR));
    }
    fm->grant[K_DR].log_interval = port_interval(port, K_DR);
    ptp_fsm_offload_fm_sync_start(port, fm);
    ptp_fsm_offload_fm_delay_req_start(port, fm);
}

// ---- Received Grant and Cancel TLVs ----

void ptp_fsm_unicast_handle_grant(tessel_proto_idb_type *port, const ptp_address_type *src,
                                  const ptp_port_id_type *sender, const uint8_t *tlv, size_t len)
{
    ptp_unicast_grant_tlv_type g{};
    if (!ptp_unicast_grant_tlv_decode(tlv, len, &g)) {
        return;
    }
    const uint32_t type = g.message_type;
    ptp_fsm_foreign_master_type *fm = ptp_fsm_proto_foreign_master_find(port, src);
    if (fm == nullptr) {
        ptp_fsm_rx_drop<PTP_TRACE_TESSEL_UNICAST_GRANT_UNKNOWN_MASTER>(
            port, AREA, TESSEL_PACKET_COUNTER_SIGNALING, TESSEL_PACKET_DROP_UNKNOWN_MASTER, PTP_FSM_TRACE_PKT,
            std::tuple{src}, "Unicast-grant TLV received from unknown master %s", ptp_fsm_address_str(src));
        ptp_fsm_unicast_send_cancel(port, PTP_MSG_TLV_CANCEL_UNICAST, type, nullptr, sender,
                                    ptp_fsm_unicast_dest_unknown(port, src));
        return;
    }
    if (fm->is_nonnegotiated) {
        ptp_fsm_rx_drop<PTP_TRACE_TESSEL_UNICAST_GRANT_NONNEGOTIATED>(
            port, AREA, TESSEL_PACKET_COUNTER_SIGNALING, TESSEL_PACKET_DROP_NON_NEGOTIATED,
            PTP_FSM_TRACE_DET | PTP_FSM_TRACE_UNQ, std::tuple{port->fsm.PortState},
            "Unicast grant request received when non negotiated.");
        return;
    }
    if (g.duration == 0) {
        PTP_FSM_DEBUG_PORT(AREA, port, "%s: %s: [%s]: Unicast-grant denial received from master %s",
                           ptp_fsm_address_str(src));
        ptp_fsm_trace_address<PTP_TRACE_TESSEL_UNICAST_GRANT_DENIED>(PTP_FSM_TRACE_PKT, port, src);
        return;
    }
    if (g.duration <= 3) {
        PTP_FSM_DEBUG_PORT(AREA, port, "%s: %s: [%s]: Unicast-grant TLV from master %s has too short a duration %u",
                           ptp_fsm_address_str(src), g.duration);
        ptp_fsm_trace_address<PTP_TRACE_TESSEL_UNICAST_GRANT_TOO_SHORT>(PTP_FSM_TRACE_PKT, port, src, g.duration);
        return;
    }
    const uint32_t renew = ptp_fsm_unicast_renewal_time(g.duration);
    const bool slaving_checked = !mode_requests_everywhere(ptp_fsm_svc().get_profile());
    switch (type) {
    case PTP_MSG_ANNOUNCE:
        if (fm->transport != PTP_TRANSPORT_UNICAST) {
            grant_rejected(port, fm, type, src, sender, false);
            return;
        }
        fm->grant[K_ANN].duration = g.duration;
        fm->grant[K_ANN].log_interval = g.log_interval;
        if (!fm->is_announce_granted) {
            fm->is_announce_granted = 1;
            stream_start(port, fm, K_ANN);
        }
        start_s(retry_timer(fm, K_ANN), renew);
        start_s(grant_timer(fm, K_ANN), g.duration);
        return;
    case PTP_MSG_SYNC:
        if (slaving_checked && !fm->is_slaving) {
            grant_rejected(port, fm, type, src, sender, true);
            return;
        }
        if (fm->transport != PTP_TRANSPORT_UNICAST) {
            grant_rejected(port, fm, type, src, sender, false);
            return;
        }
        fm->grant[K_SYNC].duration = g.duration;
        fm->grant[K_SYNC].log_interval = g.log_interval;
        if (!fm->is_sync_granted) {
            fm->is_sync_granted = 1;
            stream_start(port, fm, K_SYNC);
        }
        split_combined_retry(port, fm, K_DR);
        start_s(retry_timer(fm, K_SYNC), renew);
        start_s(grant_timer(fm, K_SYNC), g.duration);
        return;
    case PTP_MSG_DELAY_RESP:
        if (slaving_checked && !fm->is_slaving) {
            grant_rejected(port, fm, type, src, sender, true);
            return;
        }
        if (fm->transport == PTP_TRANSPORT_MULTICAST) {
            grant_rejected(port, fm, type, src, sender, false);
            return;
        }
        fm->grant[K_DR].duration = g.duration;
        if (!fm->is_delay_resp_granted) {
            fm->is_delay_resp_granted = 1;
            fm->grant[K_DR].log_interval = g.log_interval;
            stream_start(port, fm, K_DR);
        } else if (fm->grant[K_DR].log_interval != g.log_interval) {
            fm->grant[K_DR].log_interval = g.log_interval;
            ptp_fsm_offload_fm_delay_req_update(port, fm);
        }
        split_combined_retry(port, fm, K_SYNC);
        start_s(retry_timer(fm, K_DR), renew);
        start_s(grant_timer(fm, K_DR), g.duration);
        return;
    default:
        PTP_FSM_DEBUG_PORT(AREA, port,
                           "%s: %s: [%s]: Received unicast-grant TLV for invalid message type %s - "
                           "denying",
                           ptp_msg_type_to_str(type));
        ptp_fsm_trace<PTP_TRACE_TESSEL_UNICAST_GRANT_INVALID_TYPE>(
            PTP_FSM_TRACE_DET | PTP_FSM_TRACE_UNQ, ptp_fsm_port_ifhandle(port), port->fsm.PortState, type);
        return;
    }
}

void ptp_fsm_unicast_fm_cancel_received(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm,
                                        uint32_t message_type)
{
    const int k = ptp_fsm_unicast_kind(message_type);
    if (k < 0 || !granted(fm, static_cast<uint32_t>(k))) {
        return;
    }
    const auto kind = static_cast<uint32_t>(k);
    set_granted(fm, kind, false);
    stop(grant_timer(fm, kind));
    stream_stop(port, fm, kind);
    send_request(port, fm, kind);
    start_s(retry_timer(fm, kind), PTP_FSM_UNICAST_RETRY_S);
}
