// The frame around the port state machine: the client operations, per-port initialisation and
// shutdown, the per-port lock, the offload hooks, and the handlers of event messages and
// returned timestamps that belong to the offload plugin.

#include <cstdint>
#include <cstring>

#include "ptp_timer.h"
#include "ptp_trace_points.h"
#include "ptp_zerr_codes.h"
#include "tessel_fsm.h"
#include "tessel_fsm_announce.h"
#include "tessel_fsm_log.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_rx.h"
#include "tessel_fsm_services.h"
#include "tessel_fsm_types.h"
#include "tessel_fsm_unicast.h"
#include "tessel_stats.h"

namespace {

ptp_fsm_callbacks_type callbacks{};

static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_INIT) == 0x20010066d);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_SHUTDOWN) == 0x20010066e);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_POSTPONED_FMC) == 0x20010066f);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_FM_TREE_INIT_FAILED) == 0x20010065e);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_RETURNED_TIMESTAMP) == 0x10065f);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_SYNC_OFFLOADED) == 0x20010064d);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_FOLLOW_UP_OFFLOADED) == 0x20010064c);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_DELAY_REQ_OFFLOADED) == 0x20010064b);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_DELAY_RESP_OFFLOADED) == 0x20010064a);

// A point of a port that carries the interface and the current state only.
template <const ptp_trace_point_type &P>
void trace_port(uint32_t buffers, const tessel_proto_idb_type *port)
{
    ptp_fsm_trace<P>(buffers, ptp_fsm_port_ifhandle(port), uint32_t{port->fsm.PortState});
}

int qualification_timer_cb(ptp_timer_type *, void *context, int *)
{
    auto *port = static_cast<tessel_proto_idb_type *>(context);
    port->fsm.qualification_timer_running = 0;
    ptp_fsm_qualification_timeout_event(port);
    return 0;
}

// One event message handed to the agent although the offload plugin owns it: a drop of class
// counter_class as not for us.
template <const ptp_trace_point_type &P>
void offloaded_msg_drop(tessel_proto_idb_type *port, const char *name, uint32_t counter_class)
{
    ptp_fsm_rx_drop<P>(port, PTP_FSM_AREA_PACKET, counter_class, TESSEL_PACKET_DROP_NOT_FOR_US, PTP_FSM_TRACE_PKT,
                       std::tuple{uint32_t{port->fsm.PortState}}, "%s message should be offloaded - ignoring", name);
}

bool update_peer_session(avl2_node_type *row, void *)
{
    ptp_fsm_svc().offload_unicast_peer_session_update(reinterpret_cast<ptp_fsm_peer_entry_type *>(row));
    return true;
}

} // namespace

// ---- Module and client operations ----

zerrno ptp_fsm_module_init(const ptp_fsm_callbacks_type *cb)
{
    callbacks = cb != nullptr ? *cb : ptp_fsm_callbacks_type{};
    const zerrno err = ptp_fsm_proto_module_init();
    if (err != 0) {
        callbacks = {};
    }
    return err;
}

void ptp_fsm_module_deinit(void)
{
    ptp_fsm_proto_module_deinit();
    callbacks = {};
}

const ptp_fsm_callbacks_type *ptp_fsm_callbacks_get(void)
{
    return &callbacks;
}

void ptp_fsm_client_foreign_master_change(tessel_proto_idb_type *port)
{
    if (callbacks.foreign_master_change != nullptr) {
        callbacks.foreign_master_change(port);
    }
}

void ptp_fsm_client_unicast_grant_change(ptp_fsm_peer_entry_type *entry, int any_left)
{
    if (callbacks.unicast_grant_change != nullptr) {
        callbacks.unicast_grant_change(entry, any_left);
    }
}

// ---- Per-port life ----

zerrno ptp_fsm_init(tessel_proto_idb_type *port)
{
    PTP_FSM_DEBUG_PORT(PTP_FSM_AREA_FSM, port, "%s: %s: [%s]: Initializing FSM");
    trace_port<PTP_TRACE_TESSEL_FSM_INIT>(PTP_FSM_TRACE_DET, port);

    port->fsm.PortState = PTP_PORT_STATE_INITIALIZING;
    port->fsm.is_held_passive = 0;
    port->fsm.qualification_timer_running = 0;
    zerrno err = ptp_timer_create(&port->fsm.qualification_timer, qualification_timer_cb, port);
    if (err != 0) {
        port->fsm.is_fsm_init = 0;
        return err;
    }

    if (!ptp_fsm_proto_foreign_master_tree_init(port)) {
        ptp_fsm_debug(PTP_FSM_AREA_FSM, ptp_fsm_port_ifhandle(port),
                      "%s: [ERROR] %s: Failed to initialise foreign master tree for this interface",
                      ptp_fsm_area_label(PTP_FSM_AREA_FSM), ptp_fsm_port_name(port));
        trace_port<PTP_TRACE_TESSEL_FSM_FM_TREE_INIT_FAILED>(PTP_FSM_TRACE_DET | PTP_FSM_TRACE_UNQ, port);
        err = PTP_ZERR_DB_INIT;
    } else if ((err = ptp_fsm_announce_timers_create(port)) != 0) {
        ptp_fsm_proto_foreign_master_tree_destroy(port);
    } else if ((err = ptp_fsm_unicast_port_init(port)) != 0) {
        ptp_fsm_announce_timers_destroy(port);
        ptp_fsm_proto_foreign_master_tree_destroy(port);
    }
    if (err != 0) {
        port->fsm.is_fsm_init = 0;
        ptp_timer_destroy(&port->fsm.qualification_timer);
        return err;
    }
    port->fsm.is_fsm_init = 1;
    return 0;
}

void ptp_fsm_shutdown(tessel_proto_idb_type *port)
{
    PTP_FSM_DEBUG_PORT(PTP_FSM_AREA_FSM, port, "%s: %s: [%s]: Shutting down FSM");
    trace_port<PTP_TRACE_TESSEL_FSM_SHUTDOWN>(PTP_FSM_TRACE_DET, port);
    port->fsm.is_fsm_init = 0;
    ptp_fsm_unicast_port_shutdown(port);
    ptp_fsm_announce_timers_destroy(port);
    ptp_fsm_proto_foreign_master_tree_destroy(port);
    ptp_timer_destroy(&port->fsm.qualification_timer);
    port->fsm.qualification_timer_running = 0;
}

// ---- Lock ----

void ptp_fsm_lock(tessel_proto_idb_type *port)
{
    PTP_FSM_ASSERT(!port->fsm.is_locked);
    port->fsm.is_locked = 1;
}

void ptp_fsm_unlock(tessel_proto_idb_type *port)
{
    PTP_FSM_ASSERT(port->fsm.is_locked);
    port->fsm.is_locked = 0;
    const uint16_t postponed = port->fsm.scheduled_functions;
    if (postponed == 0) {
        return;
    }
    port->fsm.scheduled_functions = 0;
    if ((postponed & PTP_FSM_SCHEDULED_FUNCTION_FMC) != 0) {
        PTP_FSM_DEBUG_PORT(PTP_FSM_AREA_FSM, port, "%s: %s: [%s]: Perform postponed foreign-master change");
        trace_port<PTP_TRACE_TESSEL_FSM_POSTPONED_FMC>(PTP_FSM_TRACE_DET, port);
        ptp_fsm_announce_best_foreign_master_changed(port);
    }
}

int ptp_fsm_postpone_if_locked(tessel_proto_idb_type *port, uint16_t bits)
{
    if (!port->fsm.is_locked) {
        return 0;
    }
    port->fsm.scheduled_functions = static_cast<uint16_t>(port->fsm.scheduled_functions | bits);
    return 1;
}

// ---- Offload hooks ----

void ptp_fsm_offload_master_drrm_start(tessel_proto_idb_type *port)
{
    if (!port->fsm.is_master_drrm_running) {
        port->fsm.is_master_drrm_running = 1;
        if (port->config.transport != PTP_TRANSPORT_UNICAST) {
            ptp_fsm_svc().offload_if_session_update(port);
        }
    }
}

void ptp_fsm_offload_master_drrm_stop(tessel_proto_idb_type *port)
{
    if (port->fsm.is_master_drrm_running) {
        port->fsm.is_master_drrm_running = 0;
        ptp_fsm_svc().offload_if_session_update(port);
    }
}

void ptp_fsm_offload_master_sessions_update(tessel_proto_idb_type *port)
{
    ptp_fsm_svc().offload_if_session_update(port);
    avl2_walk(&port->fsm.unicast_peer_tree, update_peer_session, nullptr);
}

void ptp_fsm_offload_slave_drrm_start(tessel_proto_idb_type *port)
{
    port->fsm.is_slave_drrm_running = 1;
}

void ptp_fsm_offload_slave_drrm_stop(tessel_proto_idb_type *port)
{
    port->fsm.is_slave_drrm_running = 0;
}

void ptp_fsm_offload_slave_drrm_reset(tessel_proto_idb_type *) {}

void ptp_fsm_offload_fm_delay_req_start(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *fm)
{
    if (!fm->is_sending_delay_req) {
        fm->is_sending_delay_req = 1;
        ptp_fsm_svc().offload_foreign_master_session_update(fm);
    }
}

void ptp_fsm_offload_fm_delay_req_stop(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *fm)
{
    if (fm->is_sending_delay_req) {
        fm->is_sending_delay_req = 0;
        ptp_fsm_svc().offload_foreign_master_session_update(fm);
    }
}

void ptp_fsm_offload_fm_delay_req_update(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *fm)
{
    if (fm->is_sending_delay_req) {
        ptp_fsm_svc().offload_foreign_master_session_update(fm);
    }
}

void ptp_fsm_offload_fm_sync_start(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *fm)
{
    if (!fm->is_handling_sync) {
        fm->is_handling_sync = 1;
        ptp_fsm_svc().offload_foreign_master_session_update(fm);
    }
}

void ptp_fsm_offload_fm_sync_stop(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *fm)
{
    if (fm->is_handling_sync) {
        fm->is_handling_sync = 0;
        ptp_fsm_svc().offload_foreign_master_session_update(fm);
    }
}

void ptp_fsm_offload_peer_delay_req_reply_start(tessel_proto_idb_type *, ptp_fsm_peer_entry_type *peer)
{
    peer->is_delay_req_replying = 1;
    ptp_fsm_svc().offload_unicast_peer_session_update(peer);
}

void ptp_fsm_offload_peer_delay_req_reply_stop(tessel_proto_idb_type *, ptp_fsm_peer_entry_type *peer)
{
    peer->is_delay_req_replying = 0;
    ptp_fsm_svc().offload_unicast_peer_session_update(peer);
}

void ptp_fsm_offload_peer_session_update(tessel_proto_idb_type *, ptp_fsm_peer_entry_type *peer)
{
    ptp_fsm_svc().offload_unicast_peer_session_update(peer);
}

void ptp_fsm_offload_timestamps_in(ptp_fsm_foreign_master_type *fm, const void *record, void *extra)
{
    if (fm == nullptr || record == nullptr) {
        return;
    }
    uint32_t kind = 0;
    std::memcpy(&kind, record, sizeof(kind));
    if (kind == 0) {
        fm->sync_received = 1;
    } else {
        fm->delay_resp_received = 1;
    }
    if (fm->is_slaving && callbacks.time_record != nullptr) {
        callbacks.time_record(fm->port, record, extra);
    }
}

// ---- Messages the offload plugin owns ----

void ptp_fsm_offload_sync_in(tessel_proto_idb_type *port, const uint8_t *, const ptp_address_type *)
{
    offloaded_msg_drop<PTP_TRACE_TESSEL_FSM_SYNC_OFFLOADED>(port, "Sync", TESSEL_PACKET_COUNTER_SYNC);
}

void ptp_fsm_offload_follow_up_in(tessel_proto_idb_type *port, const uint8_t *, const ptp_address_type *)
{
    offloaded_msg_drop<PTP_TRACE_TESSEL_FSM_FOLLOW_UP_OFFLOADED>(port, "Follow-Up", TESSEL_PACKET_COUNTER_FOLLOW_UP);
}

void ptp_fsm_offload_delay_req_in(tessel_proto_idb_type *port, const uint8_t *, const ptp_address_type *)
{
    offloaded_msg_drop<PTP_TRACE_TESSEL_FSM_DELAY_REQ_OFFLOADED>(port, "Delay-Req", TESSEL_PACKET_COUNTER_DELAY_REQ);
}

void ptp_fsm_offload_delay_resp_in(tessel_proto_idb_type *port, const uint8_t *, const ptp_address_type *)
{
    offloaded_msg_drop<PTP_TRACE_TESSEL_FSM_DELAY_RESP_OFFLOADED>(port, "Delay-resp", TESSEL_PACKET_COUNTER_DELAY_RESP);
}

void ptp_fsm_offload_returned_timestamp_in(uint32_t, uint32_t, const void *)
{
    ptp_fsm_debug(PTP_FSM_AREA_FSM, 0, "%s: [ERROR] Returned timestamp should be offloaded - ignoring",
                  ptp_fsm_area_label(PTP_FSM_AREA_FSM));
    ptp_fsm_trace<PTP_TRACE_TESSEL_FSM_RETURNED_TIMESTAMP>(PTP_FSM_TRACE_DET | PTP_FSM_TRACE_UNQ);
}

void ptp_fsm_proto_returned_timestamp_in(uint32_t packet_id, uint32_t encap, const void *timestamp)
{
    ptp_fsm_offload_returned_timestamp_in(packet_id, encap, timestamp);
}

const ptp_port_id_type *ptp_fsm_unicast_peer_port_id_find(tessel_proto_idb_type *port, const ptp_address_type *peer)
{
    ptp_fsm_peer_entry_type *entry = ptp_fsm_unicast_peer_entry_find(port, peer);
    return entry != nullptr ? &entry->peer_port_id : nullptr;
}
