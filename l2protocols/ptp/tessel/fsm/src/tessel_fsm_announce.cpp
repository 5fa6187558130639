// Foreign-master data set: Announce receipt, qualification by announce ticks, ranking,
// time-outs and the best-foreign-master report.
#include "tessel_fsm_announce.h"

#include <cstring>
#include <ctime>

#include "eth_encap.h"
#include "ptp_address.h"
#include "ptp_alloc.h"
#include "ptp_clock.h"
#include "ptp_strings.h"
#include "ptp_time.h"
#include "ptp_trace_points.h"
#include "ptp_wire.h"
#include "tessel_alloc.h"
#include "tessel_fsm.h"
#include "tessel_fsm_log.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_rx.h"
#include "tessel_fsm_services.h"
#include "tessel_fsm_signaling.h"
#include "tessel_fsm_types.h"
#include "tessel_fsm_unicast.h"
#include "tessel_interop_config.h"
#include "tessel_master_db.h"
#include "tessel_stats.h"
#include "tessel_utils.h"

namespace {

// Node-wide suspension of foreign-master time-outs after a restart.
struct fm_timeout_state_type {
    bool suspended;
    ptp_timer_type resume_timer;
};
fm_timeout_state_type fm_timeouts;

bool mode_supervises_all(uint32_t mode)
{
    return mode == PTP_PROFILE_G8265_1 || mode == PTP_PROFILE_G8275_2;
}

bool is_g8275(uint32_t profile)
{
    return profile == PTP_PROFILE_G8275_1 || profile == PTP_PROFILE_G8275_2;
}

uint16_t ticks_since(uint16_t now, uint16_t then)
{
    return static_cast<uint16_t>(now - then);
}

} // namespace

bool ptp_announce_body_decode(const uint8_t *msg, size_t len, ptp_announce_body_type *out)
{
    if (msg == nullptr || len < PTP_ANNOUNCE_MIN_LEN) {
        return false;
    }
    out->current_utc_offset = static_cast<int16_t>(ptp_wire_get16(msg + 44));
    out->gm_priority1 = msg[47];
    out->gm_clock_class = msg[48];
    out->gm_clock_accuracy = msg[49];
    out->gm_oslv = ptp_wire_get16(msg + 50);
    out->gm_priority2 = msg[52];
    out->gm_identity = ptp_wire_get64(msg + 53);
    out->steps_removed = ptp_wire_get16(msg + 61);
    out->time_source = msg[63];
    return true;
}

// ---- Ranked list ----

ptp_fsm_foreign_master_type *ptp_fsm_announce_best_foreign_master(const tessel_proto_idb_type *port)
{
    if (port->fsm.is_held_passive) {
        return nullptr;
    }
    return port->fsm.foreign_master_ranked_list;
}

void ptp_fsm_announce_foreign_master_rank(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm)
{
    PTP_FSM_ASSERT(!fm->is_in_ranked_list);
    PTP_FSM_ASSERT(fm->is_listening || ptp_fsm_svc().get_issu_role() == TESSEL_ISSU_ROLE_SECONDARY);
    const uint32_t mode = ptp_fsm_svc().get_profile();
    ptp_fsm_foreign_master_type **link = &port->fsm.foreign_master_ranked_list;
    // Walk past every element F is worse than; an equal F goes in front.
    while (*link != nullptr && ptp_clock_compare(mode, &fm->master_clock, &(*link)->master_clock, nullptr) > 0) {
        link = &(*link)->ranked_next;
    }
    fm->ranked_next = *link;
    fm->ranked_prev = link;
    if (*link != nullptr) {
        (*link)->ranked_prev = &fm->ranked_next;
    }
    *link = fm;
    fm->is_in_ranked_list = 1;
}

void ptp_fsm_announce_foreign_master_unrank(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm)
{
    (void)port;
    PTP_FSM_ASSERT(fm->is_in_ranked_list);
    *fm->ranked_prev = fm->ranked_next;
    if (fm->ranked_next != nullptr) {
        fm->ranked_next->ranked_prev = fm->ranked_prev;
    }
    fm->ranked_prev = nullptr;
    fm->ranked_next = nullptr;
    fm->is_in_ranked_list = 0;
}

bool ptp_fsm_announce_foreign_master_is_eligible(const ptp_fsm_foreign_master_type *fm)
{
    if (!fm->is_listening || fm->ptsf_lossannounce) {
        return false;
    }
    const uint32_t mode = ptp_fsm_svc().get_profile();
    if (mode_supervises_all(mode) && (fm->ptsf_losssync_sync || fm->ptsf_losssync_delay_resp)) {
        return false;
    }
    if (mode == PTP_PROFILE_G8265_1 && ptp_clock_effective_class(&fm->master_clock) == 110) {
        return false;
    }
    return true;
}

void ptp_fsm_announce_foreign_master_update_rank(ptp_fsm_foreign_master_type *fm)
{
    const bool eligible = ptp_fsm_announce_foreign_master_is_eligible(fm);
    if (eligible && !fm->is_in_ranked_list) {
        ptp_fsm_announce_foreign_master_rank(fm->port, fm);
    } else if (!eligible && fm->is_in_ranked_list) {
        ptp_fsm_announce_foreign_master_unrank(fm->port, fm);
    }
}

void ptp_fsm_announce_foreign_master_rerank(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm)
{
    ptp_fsm_foreign_master_type *old_best = port->fsm.foreign_master_ranked_list;
    if (fm->is_in_ranked_list) {
        ptp_fsm_announce_foreign_master_unrank(port, fm);
    }
    ptp_fsm_announce_foreign_master_update_rank(fm);
    ptp_fsm_foreign_master_type *best = port->fsm.foreign_master_ranked_list;
    if (best != old_best || best == fm) {
        ptp_fsm_announce_best_foreign_master_changed(port);
    }
}

void ptp_fsm_announce_foreign_master_qualify(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm, int no_rank)
{
    fm->announce_count = 2;
    fm->announce_id_array[0] = port->fsm.current_announce_id;
    fm->announce_id_array[1] = port->fsm.current_announce_id;
    if (no_rank != 1) {
        ptp_fsm_announce_foreign_master_rank(port, fm);
    }
}

void ptp_fsm_announce_best_foreign_master_changed(tessel_proto_idb_type *port)
{
    if (ptp_fsm_postpone_if_locked(port, PTP_FSM_SCHEDULED_FUNCTION_FMC)) {
        return;
    }
    const ptp_fsm_foreign_master_type *best = ptp_fsm_announce_best_foreign_master(port);
    if (best != nullptr) {
        const ptp_clock_type &c = best->master_clock;
        PTP_FSM_DEBUG_PORT(PTP_FSM_AREA_PROTOCOL, port,
                           "%s: %s: [%s]: Best foreign master changed. Peer address %s.Parent "
                           "clock-id 0x%lx, port 0x%x. Grandmaster clock-id 0x%lx",
                           ptp_fsm_address_str(&best->peer_addr),
                           static_cast<unsigned long>(best->parent_port_id.clock_id), best->parent_port_id.port_num,
                           static_cast<unsigned long>(c.clock_id));
        ptp_fsm_trace_address<PTP_TRACE_TESSEL_FSM_BEST_FM_CHANGED>(PTP_FSM_TRACE_DET, port, &best->peer_addr);
        ptp_fsm_trace<PTP_TRACE_TESSEL_FSM_BEST_FM_CLOCKS>(
            PTP_FSM_TRACE_DET, ptp_fsm_port_ifhandle(port), port->fsm.PortState,
            ptp_clock_id_upper(best->parent_port_id.clock_id), ptp_clock_id_lower(best->parent_port_id.clock_id),
            best->parent_port_id.port_num, ptp_clock_id_upper(c.clock_id), ptp_clock_id_lower(c.clock_id));
    } else {
        PTP_FSM_DEBUG_PORT(PTP_FSM_AREA_PROTOCOL, port, "%s: %s: [%s]: No longer any best foreign master");
        ptp_fsm_trace<PTP_TRACE_TESSEL_FSM_BEST_FM_NONE>(PTP_FSM_TRACE_DET, ptp_fsm_port_ifhandle(port),
                                                         port->fsm.PortState);
    }
    ptp_fsm_client_foreign_master_change(port);
}

// ---- Listening ----

void ptp_fsm_announce_foreign_master_start_listening(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm)
{
    fm->is_listening = 1;
    fm->announce_count = 0;
    fm->announce_id_array[0] = port->fsm.current_announce_id;
    const uint32_t mode = ptp_fsm_svc().get_profile();
    if (mode_supervises_all(mode)) {
        fm->sync_received = 0;
        fm->delay_resp_received = 0;
        ptp_fsm_offload_slave_drrm_start(port);
        ptp_fsm_unicast_start_slaving(port, fm);
        if (!(fm->transport == PTP_TRANSPORT_UNICAST && !fm->is_nonnegotiated)) {
            ptp_fsm_offload_fm_sync_start(port, fm);
            if (fm->transport == PTP_TRANSPORT_MULTICAST) {
                ptp_fsm_offload_fm_delay_req_start(port, fm);
            }
        }
    } else if (fm->is_nonnegotiated) {
        ptp_fsm_offload_fm_sync_stop(port, fm);
        ptp_fsm_offload_fm_sync_start(port, fm);
    }
}

namespace {

struct any_listening_ctx {
    bool found;
};

bool any_listening_walker(avl2_node_type *node, void *context)
{
    if (reinterpret_cast<ptp_fsm_foreign_master_type *>(node)->is_listening) {
        static_cast<any_listening_ctx *>(context)->found = true;
        return false;
    }
    return true;
}

} // namespace

void ptp_fsm_announce_foreign_master_stop_listening(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm)
{
    const bool was_best = port->fsm.foreign_master_ranked_list == fm;
    if (fm->is_in_ranked_list) {
        ptp_fsm_announce_foreign_master_unrank(port, fm);
    }
    if (!fm->is_nonnegotiated) {
        fm->is_listening = 0;
    }
    fm->announce_count = 0;
    if (fm->transport == PTP_TRANSPORT_MULTICAST) {
        ptp_fsm_offload_fm_delay_req_stop(port, fm);
    }
    if (fm->is_nonnegotiated || fm->transport != PTP_TRANSPORT_UNICAST) {
        ptp_fsm_offload_fm_sync_stop(port, fm);
    }
    ptp_fsm_unicast_stop_slaving(port, fm);
    any_listening_ctx ctx{false};
    avl2_walk(&port->fsm.foreign_master_table, any_listening_walker, &ctx);
    if (!ctx.found) {
        ptp_fsm_offload_slave_drrm_stop(port);
    }
    fm->sync_received = 0;
    fm->delay_resp_received = 0;
    if (was_best) {
        ptp_fsm_announce_best_foreign_master_changed(port);
    }
}

// ---- Announce receipt ----

namespace {

enum class fm_origin {
    existing,
    created,
    revived
};

// Validation of an Announce from a master other than this clock: builds the clock and returns
// -1 when it is accepted, else the reason of the drop it has made (logged, traced, counted).
int announce_validate(tessel_proto_idb_type *port, const ptp_fsm_foreign_master_type *fm,
                      const ptp_msg_hdr_fields_type &hdr, const ptp_announce_body_type &body, uint32_t rules_profile,
                      uint32_t node_mode, uint64_t local_clock_id, ptp_clock_type *c)
{
    const uint32_t state = port->fsm.PortState;
    std::memset(c, 0, sizeof(*c));
    c->clock_id = body.gm_identity;
    c->clock_class = body.gm_clock_class;
    c->accuracy = body.gm_clock_accuracy;
    c->offset_log_variance = body.gm_oslv;
    c->priority2 = body.gm_priority2;
    c->time_source = body.time_source;
    c->utc_offset = body.current_utc_offset;
    c->priority1 = is_g8275(rules_profile) ? 128 : body.gm_priority1;

    const tessel_interop_config_type *interop = port->config.interop_cfg;
    if (interop != nullptr) {
        const auto mode = static_cast<ptp_profile_type>(node_mode);
        c->priority1 = tessel_interop_convert_priority1(c->priority1, mode, TESSEL_INTEROP_INGRESS, *interop);
        c->priority2 = tessel_interop_convert_priority2(c->priority2, mode, TESSEL_INTEROP_INGRESS, *interop);
        c->accuracy = tessel_interop_convert_clock_accuracy(c->accuracy, mode, TESSEL_INTEROP_INGRESS, *interop);
        c->offset_log_variance =
            tessel_interop_convert_oslv(c->offset_log_variance, mode, TESSEL_INTEROP_INGRESS, *interop);
        c->clock_class = tessel_interop_convert_clock_class(c->clock_class, mode, ptp_fsm_svc().get_fsync_ql_option(),
                                                            TESSEL_INTEROP_INGRESS, *interop);
    }

    // stepsRemoved 255 is refused below; the stored value never wraps.
    c->steps_removed = static_cast<uint16_t>(body.steps_removed + 1);
    c->utc_offset_valid = (hdr.flags & PTP_FLAG_UTC_OFFSET_VALID) ? 1 : 0;
    c->frequency_traceable = (hdr.flags & PTP_FLAG_FREQUENCY_TRACEABLE) ? 1 : 0;
    c->time_traceable = (hdr.flags & PTP_FLAG_TIME_TRACEABLE) ? 1 : 0;
    c->timescale = (hdr.flags & PTP_FLAG_PTP_TIMESCALE) ? PTP_TIMESCALE_PTP : PTP_TIMESCALE_ARB;
    c->leap_seconds = (hdr.flags & PTP_FLAG_LEAP61)   ? PTP_LEAP_61
                      : (hdr.flags & PTP_FLAG_LEAP59) ? PTP_LEAP_59
                                                      : PTP_LEAP_NONE;
    c->sender = hdr.source_port_id;
    c->receiver.clock_id = local_clock_id;
    c->receiver.port_num = port->port_num;

    c->configured_priority_set = 0;
    if (fm->is_priority_configured) {
        // A master-table priority of 0 is a configured value and ranks as such.
        c->configured_priority = fm->configured_priority;
        c->configured_priority_set = 1;
    } else if (is_g8275(rules_profile)) {
        c->configured_priority = static_cast<uint8_t>(port->config.local_priority);
    } else {
        c->configured_priority = 128;
    }
    c->configured_clock_class = fm->is_clock_class_configured ? fm->configured_clock_class : 0;

    if (body.steps_removed >= 255) {
        ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_ANNOUNCE_STEPS_REMOVED>(
            port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_ANNOUNCE, TESSEL_PACKET_DROP_STEPS_REMOVED,
            PTP_FSM_TRACE_PKT, std::tuple{state, body.steps_removed, 254},
            "Steps removed %u higher than maximum allowed value %u", body.steps_removed, 254u);
        return TESSEL_PACKET_DROP_STEPS_REMOVED;
    }
    if (c->clock_class == 255) {
        ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_ANNOUNCE_SLAVE_ONLY_CLASS>(
            port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_ANNOUNCE, TESSEL_PACKET_DROP_BAD_CLOCK_CLASS,
            PTP_FSM_TRACE_PKT, std::tuple{state, c->clock_class, 255},
            "Received clock class %u should be slave-only clock.", c->clock_class);
        return TESSEL_PACKET_DROP_BAD_CLOCK_CLASS;
    }
    if (c->clock_id == UINT64_MAX) {
        ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_ANNOUNCE_RESERVED_CLOCK_ID>(
            port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_ANNOUNCE, TESSEL_PACKET_DROP_RESERVED_CLOCK_ID,
            PTP_FSM_TRACE_PKT, std::tuple{state}, "Received clock ID of reserved value");
        return TESSEL_PACKET_DROP_RESERVED_CLOCK_ID;
    }
    const uint8_t min_class = ptp_fsm_svc().get_min_clock_class();
    if (c->clock_class > min_class) {
        ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_ANNOUNCE_MIN_CLOCK_CLASS>(
            port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_ANNOUNCE, TESSEL_PACKET_DROP_MIN_CLOCK_CLASS,
            PTP_FSM_TRACE_PKT, std::tuple{state, c->clock_class, min_class},
            "Clock class %u lower than min clock class %u", c->clock_class, min_class);
        return TESSEL_PACKET_DROP_MIN_CLOCK_CLASS;
    }
    if (node_mode >= PTP_PROFILE_G8265_1 && node_mode <= PTP_PROFILE_G8275_2) {
        const zerrno rc = tessel_profile_clock_check(*c, static_cast<ptp_profile_type>(node_mode),
                                                     hdr.flags & PTP_FLAG_ALTERNATE_MASTER);
        if (rc != ZERR_OK) {
            const char *name = ptp_profile_to_str(node_mode);
            const uint32_t reason = node_mode == PTP_PROFILE_G8265_1   ? TESSEL_PACKET_DROP_G8265_1_INCOMPATIBLE
                                    : node_mode == PTP_PROFILE_G8275_1 ? TESSEL_PACKET_DROP_G8275_1_INCOMPATIBLE
                                                                       : TESSEL_PACKET_DROP_G8275_2_INCOMPATIBLE;
            switch (rc) {
            case PTP_ZERR2_CLOCK_CLASS_INCONSISTENT:
                ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_PROFILE_CLOCK_CLASS>(
                    port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_ANNOUNCE, reason, PTP_FSM_TRACE_PKT,
                    std::tuple{state, c->clock_class, node_mode}, "Clock class %u not allowed by %s", c->clock_class,
                    name);
                break;
            case PTP_ZERR2_CLOCK_ACCURACY_INCONSISTENT:
                ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_PROFILE_CLOCK_ACCURACY>(
                    port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_ANNOUNCE, reason, PTP_FSM_TRACE_PKT,
                    std::tuple{state, c->accuracy, node_mode}, "Clock accuracy 0x%x not allowed by %s", c->accuracy,
                    name);
                break;
            case PTP_ZERR2_OSLV_INCONSISTENT:
                ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_PROFILE_OSLV>(
                    port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_ANNOUNCE, reason, PTP_FSM_TRACE_PKT,
                    std::tuple{state, c->offset_log_variance, node_mode}, "OSLV 0x%x not allowed by %s",
                    c->offset_log_variance, name);
                break;
            default:
                ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_PROFILE_FLAG>(
                    port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_ANNOUNCE, reason, PTP_FSM_TRACE_PKT,
                    std::tuple{state, PTP_FLAG_ALTERNATE_MASTER, node_mode}, "Flag '%s' not allowed by %s",
                    ptp_msg_flag_to_str(PTP_FLAG_ALTERNATE_MASTER), name);
                break;
            }
            return static_cast<int>(reason);
        }
    }
    return -1;
}

// An Announce of this very clock: counted as a loop, and a lower-numbered sender holds the port
// Passive.
void announce_loop(tessel_proto_idb_type *port, uint16_t sender_port, uint16_t own_port)
{
    const uint32_t state = port->fsm.PortState;
    if (sender_port == own_port) {
        ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_ANNOUNCE_LOOPED_SAME_PORT>(
            port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_ANNOUNCE, TESSEL_PACKET_DROP_LOOPED_SAME_PORT,
            PTP_FSM_TRACE_PKT, std::tuple{state, sender_port},
            "Received an Announce from the same port which sent it, 0x%x", sender_port);
    } else if (own_port < sender_port) {
        ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_ANNOUNCE_LOOPED_HIGHER_PORT>(
            port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_ANNOUNCE, TESSEL_PACKET_DROP_LOOPED_HIGHER_PORT,
            PTP_FSM_TRACE_PKT, std::tuple{state, sender_port, own_port},
            "Received an Announce from ourselves from higher port number - dropping. Sent on port 0x%x, received "
            "on port 0x%x",
            sender_port, own_port);
    } else {
        if (!port->fsm.is_held_passive) {
            // Under the lock so that the change is reported once, after the transition.
            ptp_fsm_lock(port);
            ptp_fsm_hold_passive(port);
            ptp_fsm_announce_best_foreign_master_changed(port);
            ptp_fsm_unlock(port);
        }
        port->fsm.looped_port_num = sender_port;
        port->fsm.last_looped_announce_id = port->fsm.current_announce_id;
        // The trace keeps the state the Announce found, before the hold.
        ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_ANNOUNCE_LOOPED_LOWER_PORT>(
            port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_ANNOUNCE, TESSEL_PACKET_DROP_LOOPED_LOWER_PORT,
            PTP_FSM_TRACE_PKT, std::tuple{state, sender_port, own_port},
            "Received an Announce from ourselves from lower port number. Sent on port 0x%x, received on port 0x%x",
            sender_port, own_port);
    }
}

} // namespace

void ptp_fsm_announce_in(tessel_proto_idb_type *port, const uint8_t *msg, size_t msg_len,
                         const ptp_msg_hdr_fields_type &hdr, const ptp_address_type *src, const ptp_address_type *dst)
{
    const uint32_t state = port->fsm.PortState;
    const uint32_t node_mode = ptp_fsm_svc().get_profile();
    const tessel_interop_config_type *interop = port->config.interop_cfg;
    const uint32_t rules_profile =
        (interop != nullptr && (interop->presence & TESSEL_INTEROP_PROFILE)) ? interop->profile : node_mode;

    if (!port->fsm.is_listening) {
        ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_ANNOUNCE_NOT_LISTENING>(
            port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_ANNOUNCE, TESSEL_PACKET_DROP_NOT_LISTENING,
            PTP_FSM_TRACE_PKT, std::tuple{state},
            "Announce message received when not listening on the interface - ignoring");
        return;
    }
    ptp_announce_body_type body;
    if (hdr.message_length < PTP_ANNOUNCE_MIN_LEN || hdr.message_length > msg_len ||
        !ptp_announce_body_decode(msg, msg_len, &body)) {
        const unsigned length = hdr.message_length;
        ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_MSG_TOO_SHORT>(
            port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_ANNOUNCE, TESSEL_PACKET_DROP_TOO_SHORT,
            PTP_FSM_TRACE_DET | PTP_FSM_TRACE_UNQ, std::tuple{state, PTP_MSG_ANNOUNCE, length, PTP_ANNOUNCE_MIN_LEN},
            "%s message is too short - length is %u, should be at least %u", "Announce", length,
            static_cast<unsigned>(PTP_ANNOUNCE_MIN_LEN));
        return;
    }
    const uint16_t flags =
        rules_profile == PTP_PROFILE_G8275_2 ? static_cast<uint16_t>(hdr.flags | PTP_FLAG_UNICAST) : hdr.flags;
    const bool unicast = (flags & PTP_FLAG_UNICAST) != 0;

    // The receive path always names the sender, in the port's encapsulation; anything else is
    // not a message this port can attribute.
    if (src == nullptr || src->encap != port->config.encap) {
        ptp_fsm_proto_rx_drop(port, TESSEL_PACKET_COUNTER_ANNOUNCE, TESSEL_PACKET_DROP_INVALID_PACKET);
        return;
    }

    ptp_fsm_foreign_master_type *fm = ptp_fsm_proto_foreign_master_find(port, src);
    fm_origin origin = fm_origin::existing;
    bool unknown = false;
    if (fm == nullptr) {
        if (unicast) {
            unknown = true;
        } else {
            const uint64_t held = avl2_count(&port->fsm.foreign_master_table);
            if (held >= uint64_t{PTP_FSM_FM_LEARNED_MAX} + port->config.master_table.count) {
                ptp_fsm_rx_drop(port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_ANNOUNCE,
                                TESSEL_PACKET_DROP_UNKNOWN_MASTER,
                                "Announce message received from new master %s when %u foreign masters are already "
                                "known - dropping",
                                ptp_fsm_address_str(src), static_cast<unsigned>(held));
                return;
            }
            if (ptp_fsm_proto_foreign_master_add(port, src, nullptr, false, &fm) != ZERR_OK) {
                return;
            }
            fm->transport = PTP_TRANSPORT_MULTICAST;
            fm->grant[PTP_FSM_FM_GRANT_DELAY_RESP].log_interval = static_cast<int8_t>(port->config.delay_req_interval);
            origin = fm_origin::created;
        }
    } else if (fm->is_nonnegotiated && fm->is_timed_out) {
        fm->grant[PTP_FSM_FM_GRANT_DELAY_RESP].log_interval = static_cast<int8_t>(port->config.delay_req_interval);
        origin = fm_origin::revived;
    } else if (!fm->is_listening) {
        unknown = true;
    } else if (dst != nullptr && unicast && !ptp_address_equal(dst, &fm->sent_to_addr)) {
        if (fm->is_nonnegotiated) {
            fm->sent_to_addr = *dst;
            ptp_fsm_svc().offload_foreign_master_session_update(fm);
        } else {
            ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_ANNOUNCE_INCORRECT_ADDRESS>(
                port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_ANNOUNCE, TESSEL_PACKET_DROP_INCORRECT_ADDRESS,
                PTP_FSM_TRACE_PKT | PTP_FSM_TRACE_UNQ, std::tuple{src},
                "Announce message received from master %s that was sent to incorrect address: sent to %s, "
                "expected %s ",
                ptp_fsm_address_str(src), ptp_fsm_address_str(dst), ptp_fsm_address_str(&fm->sent_to_addr));
            return;
        }
    }
    if (unknown) {
        ptp_fsm_rx_drop<PTP_TRACE_TESSEL_FSM_ANNOUNCE_UNKNOWN_MASTER>(
            port, PTP_FSM_AREA_PACKET, TESSEL_PACKET_COUNTER_ANNOUNCE, TESSEL_PACKET_DROP_UNKNOWN_MASTER,
            PTP_FSM_TRACE_PKT | PTP_FSM_TRACE_UNQ, std::tuple{src},
            "Announce message received on master %s, which is not being listened to", ptp_fsm_address_str(src));
        return;
    }

    // Validation.
    const tessel_local_clock_type *local = ptp_fsm_svc().get_local_clock();
    PTP_FSM_ASSERT(local != nullptr);
    const uint16_t own_port = node_mode == PTP_PROFILE_G8265_1 ? 1 : port->port_num;
    ptp_clock_type c;
    bool dropped;
    if (hdr.source_port_id.clock_id == local->clock_id) {
        announce_loop(port, hdr.source_port_id.port_num, own_port);
        dropped = true;
    } else {
        dropped = announce_validate(port, fm, hdr, body, rules_profile, node_mode, local->clock_id, &c) >= 0;
    }
    if (origin != fm_origin::existing) {
        if (dropped) {
            ptp_fsm_proto_foreign_master_delete(port, fm, PTP_FSM_PROTO_PEER_DEL_NONE);
            return;
        }
        ptp_fsm_announce_foreign_master_start_listening(port, fm);
        fm->is_timed_out = 0;
    }
    if (dropped) {
        return;
    }

    if (interop != nullptr) {
        if (fm->last_announce == nullptr) {
            fm->last_announce = static_cast<uint8_t *>(tessel_calloc(1, PTP_FSM_LAST_ANNOUNCE_LEN));
            if (fm->last_announce == nullptr) {
                ptp_alloc_failure_report(PTP_FSM_LAST_ANNOUNCE_LEN, "Last recieved announce message");
                ptp_fsm_internal_error("Last recieved announce message", __FILE__, __LINE__);
            }
        }
        std::memcpy(fm->last_announce, msg, PTP_FSM_LAST_ANNOUNCE_LEN);
    }

    const uint16_t now = port->fsm.current_announce_id;
    if (fm->announce_count == 0) {
        fm->parent_port_id = hdr.source_port_id;
        fm->master_clock = c;
        fm->announce_count = 1;
        fm->announce_id_array[0] = now;
        clock_gettime(CLOCK_REALTIME, &fm->first_announce_time);
        PTP_FSM_DEBUG_PORT(PTP_FSM_AREA_PACKET, port, "%s: %s: [%s]: New foreign master %s received",
                           ptp_fsm_address_str(src));
        ptp_fsm_trace_address<PTP_TRACE_TESSEL_FSM_FM_NEW>(PTP_FSM_TRACE_DET, port, src);
        return;
    }
    if (fm->announce_count == 1) {
        fm->announce_count = 2;
    }
    fm->announce_id_array[1] = fm->announce_id_array[0];
    fm->announce_id_array[0] = now;

    // The head of the ranked list, held Passive or not: a held port must not run its counter
    // down while its best master is still heard, or it would time out the moment it is released.
    if ((state == PTP_PORT_STATE_PASSIVE || state == PTP_PORT_STATE_UNCALIBRATED || state == PTP_PORT_STATE_SLAVE) &&
        port->fsm.foreign_master_ranked_list == fm) {
        port->fsm.announce_timeout_counter = port->config.announce_timeout;
    }

    if (!ptp_clock_equal(&c, &fm->master_clock)) {
        fm->master_clock = c;
        ptp_fsm_announce_foreign_master_rerank(port, fm);
    }
}

// ---- Announce ticks and time-outs ----

namespace {

struct timeout_walk_ctx {
    tessel_proto_idb_type *port;
    timeout_list collected;
};

bool ptp_fsm_announce_timeout_walker(avl2_node_type *node, void *context)
{
    auto *ctx = static_cast<timeout_walk_ctx *>(context);
    auto *fm = reinterpret_cast<ptp_fsm_foreign_master_type *>(node);
    tessel_proto_idb_type *port = ctx->port;
    const uint16_t now = port->fsm.current_announce_id;

    if (fm->announce_count >= 2 && ticks_since(now, fm->announce_id_array[1]) < PTP_FSM_ANNOUNCE_WINDOW) {
        fm->ptsf_lossannounce = 0;
        ptp_fsm_announce_foreign_master_update_rank(fm);
        return true;
    }
    fm->ptsf_lossannounce = 1;
    std::memset(&fm->master_clock, 0, sizeof(fm->master_clock));

    if (ticks_since(now, fm->announce_id_array[0]) >= PTP_FSM_ANNOUNCE_WINDOW && !fm->is_timed_out) {
        if (fm->transport == PTP_TRANSPORT_UNICAST) {
            if (fm->is_listening) {
                if (fm->is_nonnegotiated) {
                    fm->is_timed_out = 1;
                }
                PTP_FSM_DEBUG_PORT(PTP_FSM_AREA_PROTOCOL, port, "%s: %s: [%s]: Foreign master %s timed out",
                                   ptp_fsm_address_str(&fm->peer_addr));
                ptp_fsm_trace_address<PTP_TRACE_TESSEL_FSM_FM_TIMED_OUT>(PTP_FSM_TRACE_DET, port, &fm->peer_addr);
                ptp_fsm_announce_foreign_master_stop_listening(port, fm);
                ptp_fsm_unicast_cancel_announce_grant(port, fm);
            }
        } else if (!tessel_master_db_contains(&port->config.master_table, &fm->peer_addr)) {
            PTP_FSM_DEBUG_PORT(PTP_FSM_AREA_PROTOCOL, port, "%s: %s: [%s]: Multicast foreign master %s timed out",
                               ptp_fsm_address_str(&fm->peer_addr));
            ptp_fsm_trace_address<PTP_TRACE_TESSEL_FSM_FM_TIMED_OUT>(PTP_FSM_TRACE_DET, port, &fm->peer_addr);
            ctx->collected.add(fm, "Foreign master free list entry");
        }
    }
    ptp_fsm_announce_foreign_master_update_rank(fm);
    return true;
}

int ptp_fsm_announce_timer_cb_fn(ptp_timer_type *, void *context, int *)
{
    ptp_fsm_announce_timer_tick(static_cast<tessel_proto_idb_type *>(context));
    return 0;
}

int sync_receive_timer_cb(ptp_timer_type *, void *context, int *)
{
    ptp_fsm_announce_receive_timer_tick(static_cast<tessel_proto_idb_type *>(context), 1);
    return 0;
}

int delay_resp_receive_timer_cb(ptp_timer_type *, void *context, int *)
{
    ptp_fsm_announce_receive_timer_tick(static_cast<tessel_proto_idb_type *>(context), 0);
    return 0;
}

int resume_timer_cb(ptp_timer_type *, void *, int *stop)
{
    *stop = 1;
    ptp_fsm_announce_resume_foreign_master_timeouts();
    return 0;
}

} // namespace

void ptp_fsm_announce_timer_tick(tessel_proto_idb_type *port)
{
    PTP_FSM_ASSERT(port->fsm.is_listening);
    port->fsm.current_announce_id = static_cast<uint16_t>(port->fsm.current_announce_id + 1);
    if (fm_timeouts.suspended) {
        return;
    }
    ptp_fsm_lock(port);
    ptp_fsm_foreign_master_type *old_best = ptp_fsm_announce_best_foreign_master(port);
    timeout_walk_ctx ctx{port, {}};
    avl2_walk(&port->fsm.foreign_master_table, ptp_fsm_announce_timeout_walker, &ctx);
    if (ptp_fsm_announce_best_foreign_master(port) != old_best) {
        ptp_fsm_announce_best_foreign_master_changed(port);
    }
    if (port->fsm.is_announce_timeout_running) {
        if (port->fsm.announce_timeout_counter != 0) {
            port->fsm.announce_timeout_counter--;
        } else {
            ptp_fsm_announce_timeout_event(port);
        }
    }
    if (port->fsm.is_held_passive &&
        ticks_since(port->fsm.current_announce_id, port->fsm.last_looped_announce_id) >= PTP_FSM_ANNOUNCE_WINDOW) {
        ptp_fsm_unhold_passive(port);
        ptp_fsm_announce_best_foreign_master_changed(port);
    }
    ptp_fsm_unlock(port);
    for (size_t i = 0; i < ctx.collected.count; i++) {
        ptp_fsm_foreign_master_type *fm = ctx.collected.items[i];
        // The unlock's report may have reshaped the port; only unranked records go.
        if (fm->is_in_ranked_list) {
            ptp_fsm_announce_foreign_master_unrank(port, fm);
        }
        ptp_fsm_proto_foreign_master_delete(port, fm, PTP_FSM_PROTO_PEER_DEL_NONE);
    }
}

namespace {

bool receive_walker(avl2_node_type *node, void *context)
{
    auto *fm = reinterpret_cast<ptp_fsm_foreign_master_type *>(node);
    const bool sync = *static_cast<int *>(context) != 0;
    tessel_proto_idb_type *port = fm->port;
    const bool received = sync ? fm->sync_received : fm->delay_resp_received;
    const bool lost = sync ? fm->ptsf_losssync_sync : fm->ptsf_losssync_delay_resp;
    if (!received && !lost) {
        if (sync) {
            PTP_FSM_DEBUG_PORT(PTP_FSM_AREA_PROTOCOL, port,
                               "%s: %s: [%s]: No sync messages received for foreign master %s - "
                               "moving to loss-sync state",
                               ptp_fsm_address_str(&fm->peer_addr));
            ptp_fsm_trace_address<PTP_TRACE_TESSEL_FSM_FM_NO_SYNC>(PTP_FSM_TRACE_DET, port, &fm->peer_addr);
            fm->ptsf_losssync_sync = 1;
        } else {
            PTP_FSM_DEBUG_PORT(PTP_FSM_AREA_PROTOCOL, port,
                               "%s: %s: [%s]: No delay-response messages received for foreign "
                               "master %s - moving to loss-sync state",
                               ptp_fsm_address_str(&fm->peer_addr));
            ptp_fsm_trace_address<PTP_TRACE_TESSEL_FSM_FM_NO_DELAY_RESP>(PTP_FSM_TRACE_DET, port, &fm->peer_addr);
            fm->ptsf_losssync_delay_resp = 1;
        }
    } else if (received) {
        if (sync) {
            fm->ptsf_losssync_sync = 0;
        } else {
            fm->ptsf_losssync_delay_resp = 0;
        }
    }
    if (sync) {
        fm->sync_received = 0;
    } else {
        fm->delay_resp_received = 0;
    }
    ptp_fsm_announce_foreign_master_update_rank(fm);
    return true;
}

} // namespace

void ptp_fsm_announce_receive_timer_tick(tessel_proto_idb_type *port, int sync)
{
    PTP_FSM_ASSERT(mode_supervises_all(ptp_fsm_svc().get_profile()));
    PTP_FSM_ASSERT(port->fsm.is_listening);
    if (fm_timeouts.suspended) {
        return;
    }
    ptp_fsm_lock(port);
    ptp_fsm_foreign_master_type *old_best = ptp_fsm_announce_best_foreign_master(port);
    avl2_walk(&port->fsm.foreign_master_table, receive_walker, &sync);
    if (ptp_fsm_announce_best_foreign_master(port) != old_best) {
        ptp_fsm_announce_best_foreign_master_changed(port);
    }
    ptp_fsm_unlock(port);
}

void ptp_fsm_announce_start_listening(tessel_proto_idb_type *port)
{
    if (port->fsm.is_listening) {
        return;
    }
    if (!port->fsm.announce_timer_running) {
        const uint32_t ms = ptp_log_interval_to_msecs(port->config.announce_interval);
        if (ptp_timer_start(&port->fsm.announce_timer, ms, true) == ZERR_OK) {
            port->fsm.announce_timer_running = 1;
        }
    }
    if (mode_supervises_all(ptp_fsm_svc().get_profile())) {
        if (!port->fsm.sync_receive_timer_running &&
            ptp_timer_start(&port->fsm.sync_receive_timer, port->config.sync_timeout, true) == ZERR_OK) {
            port->fsm.sync_receive_timer_running = 1;
        }
        if (!port->fsm.delay_resp_receive_timer_running &&
            ptp_timer_start(&port->fsm.delay_resp_receive_timer, port->config.delay_resp_timeout, true) == ZERR_OK) {
            port->fsm.delay_resp_receive_timer_running = 1;
        }
    }
    port->fsm.is_listening = 1;
}

void ptp_fsm_announce_end_listening(tessel_proto_idb_type *port)
{
    if (!port->fsm.is_listening) {
        return;
    }
    port->fsm.is_listening = 0;
    ptp_timer_stop(&port->fsm.announce_timer);
    port->fsm.announce_timer_running = 0;
    ptp_timer_stop(&port->fsm.sync_receive_timer);
    port->fsm.sync_receive_timer_running = 0;
    ptp_timer_stop(&port->fsm.delay_resp_receive_timer);
    port->fsm.delay_resp_receive_timer_running = 0;
}

zerrno ptp_fsm_announce_timers_create(tessel_proto_idb_type *port)
{
    port->fsm.current_announce_id = 0;
    port->fsm.announce_timer_running = 0;
    port->fsm.sync_receive_timer_running = 0;
    port->fsm.delay_resp_receive_timer_running = 0;
    zerrno rc = ptp_timer_create(&port->fsm.announce_timer, ptp_fsm_announce_timer_cb_fn, port);
    if (rc == ZERR_OK) {
        rc = ptp_timer_create(&port->fsm.sync_receive_timer, sync_receive_timer_cb, port);
    }
    if (rc == ZERR_OK) {
        rc = ptp_timer_create(&port->fsm.delay_resp_receive_timer, delay_resp_receive_timer_cb, port);
    }
    // One resume timer for the node: an armed one is kept, whichever port created it, and so is
    // the suspension it will end (a port created meanwhile must not end it for every port).
    if (!ptp_timer_is_running(&fm_timeouts.resume_timer)) {
        fm_timeouts.suspended = false;
    }
    if (rc == ZERR_OK && !(fm_timeouts.resume_timer.flags & PTP_TIMER_FLAG_ALLOCATED)) {
        rc = ptp_timer_create(&fm_timeouts.resume_timer, resume_timer_cb, nullptr);
    }
    if (rc != ZERR_OK) {
        ptp_fsm_announce_timers_destroy(port);
    }
    return rc;
}

void ptp_fsm_announce_timers_destroy(tessel_proto_idb_type *port)
{
    ptp_timer_destroy(&port->fsm.announce_timer);
    ptp_timer_destroy(&port->fsm.sync_receive_timer);
    ptp_timer_destroy(&port->fsm.delay_resp_receive_timer);
    port->fsm.announce_timer_running = 0;
    port->fsm.sync_receive_timer_running = 0;
    port->fsm.delay_resp_receive_timer_running = 0;
    if (!ptp_timer_is_running(&fm_timeouts.resume_timer)) {
        ptp_timer_destroy(&fm_timeouts.resume_timer);
        fm_timeouts.suspended = false;
    }
}

void ptp_fsm_announce_suspend_foreign_master_timeouts(tessel_proto_idb_type *port)
{
    fm_timeouts.suspended = true;
    if (!(fm_timeouts.resume_timer.flags & PTP_TIMER_FLAG_ALLOCATED)) {
        ptp_timer_create(&fm_timeouts.resume_timer, resume_timer_cb, nullptr);
    }
    ptp_timer_start(&fm_timeouts.resume_timer, PTP_FSM_FM_TIMEOUT_RESUME_MS, false);
    if (ptp_fsm_debug_on(PTP_FSM_AREA_FSM)) {
        ptp_fsm_debug(PTP_FSM_AREA_FSM, ptp_fsm_port_ifhandle(port), "%s: Foreign master timeouts suspended",
                      ptp_fsm_area_label(PTP_FSM_AREA_FSM));
    }
    ptp_fsm_trace<PTP_TRACE_TESSEL_FSM_FM_TIMEOUTS_SUSPENDED>(PTP_FSM_TRACE_DET, ptp_fsm_port_ifhandle(port),
                                                              port->fsm.PortState);
}

void ptp_fsm_announce_resume_foreign_master_timeouts(void)
{
    fm_timeouts.suspended = false;
    if (ptp_fsm_debug_on(PTP_FSM_AREA_FSM)) {
        ptp_fsm_debug(PTP_FSM_AREA_FSM, 0, "%s: Foreign master timeouts resumed", ptp_fsm_area_label(PTP_FSM_AREA_FSM));
    }
    // Node-wide: no interface, no state.
    ptp_fsm_trace<PTP_TRACE_TESSEL_FSM_FM_TIMEOUTS_RESUMED>(PTP_FSM_TRACE_DET, ifhtype{0}, uint32_t{0});
}

bool ptp_fsm_announce_foreign_master_timeouts_suspended(void)
{
    return fm_timeouts.suspended;
}
