// Recording fakes of the modules that the receive path's unit test does not link: the state
// machine's frame (lock, client operation 0, Hold-Passive, offload hooks, debug and trace) and
// unicast negotiation. The build links only the receive path's real modules into that program,
// so none of these can stand in for a real definition silently.
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "../src/tessel_fsm_log.h"
#include "ptp_zerr_codes.h"
#include "tessel_fsm.h"
#include "tessel_fsm_announce.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_rx_test_fake.h"
#include "tessel_fsm_services.h"
#include "tessel_fsm_types.h"
#include "tessel_fsm_unicast.h"

namespace {
void rec(const std::string &what)
{
    rx_fake_record(what);
}
} // namespace

// ---- Unicast negotiation ----
zerrno ptp_fsm_proto_module_init(void)
{
    return 0;
}
void ptp_fsm_proto_module_deinit(void) {}
zerrno ptp_fsm_unicast_port_init(tessel_proto_idb_type *)
{
    return 0;
}
void ptp_fsm_unicast_port_shutdown(tessel_proto_idb_type *) {}
void ptp_fsm_unicast_allow_grants(tessel_proto_idb_type *) {}
void ptp_fsm_unicast_end_grants(tessel_proto_idb_type *) {}
void ptp_fsm_unicast_peer_sweep(tessel_proto_idb_type *) {}
void ptp_fsm_unicast_delete_all_peers(tessel_proto_idb_type *) {}
ptp_fsm_peer_entry_type *ptp_fsm_unicast_peer_entry_find(tessel_proto_idb_type *, const ptp_address_type *)
{
    return nullptr;
}
void ptp_fsm_unicast_peer_entry_delete(ptp_fsm_peer_entry_type *, uint32_t) {}
zerrno ptp_fsm_unicast_peer_entry_create(tessel_proto_idb_type *, const ptp_address_type *, const ptp_address_type *,
                                         const ptp_port_id_type *, bool, bool, ptp_fsm_peer_entry_type **out)
{
    *out = nullptr;
    return PTP_ZERR_NOMEM;
}
void ptp_fsm_offload_peer_session_update(tessel_proto_idb_type *, ptp_fsm_peer_entry_type *) {}
void ptp_fsm_offload_peer_delay_req_reply_start(tessel_proto_idb_type *, ptp_fsm_peer_entry_type *) {}
zerrno ptp_fsm_unicast_fm_timers_create(ptp_fsm_foreign_master_type *)
{
    return 0;
}
void ptp_fsm_unicast_fm_timers_delete(ptp_fsm_foreign_master_type *) {}
void ptp_fsm_unicast_start_master_listen(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *)
{
    rec("unicast_start_master_listen");
}
void ptp_fsm_unicast_end_master_listen(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *)
{
    rec("unicast_end_master_listen");
}
void ptp_fsm_unicast_start_slaving(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *) {}
void ptp_fsm_unicast_stop_slaving(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *) {}
void ptp_fsm_unicast_cancel_announce_grant(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *)
{
    rec("cancel_announce_grant");
}
void ptp_fsm_unicast_restore_master_negotiation(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *, bool) {}
void ptp_fsm_unicast_tlv_handle(tessel_proto_idb_type *, uint16_t tlv_type, const ptp_address_type *,
                                const ptp_port_id_type *, const uint8_t *, size_t tlv_len)
{
    rx_fake.tlvs_handled++;
    rec("tlv:" + std::to_string(tlv_type) + ":" + std::to_string(tlv_len));
}
void ptp_fsm_unicast_replies_begin(tessel_proto_idb_type *)
{
    rec("replies_begin");
}
void ptp_fsm_unicast_replies_end(tessel_proto_idb_type *)
{
    rec("replies_end");
}
void ptp_fsm_unicast_handle_request_tlvs(tessel_proto_idb_type *, const ptp_address_type *, const ptp_address_type *,
                                         const uint8_t *, size_t, const ptp_port_id_type *)
{
    rx_fake.request_walks++;
    rec("request_tlvs");
}

// ---- The state machine's frame (lock, client operation 0, Hold-Passive, hooks, log) ----
void ptp_fsm_lock(tessel_proto_idb_type *port)
{
    if (port->fsm.is_locked) {
        std::abort();
    }
    port->fsm.is_locked = 1;
}
void ptp_fsm_unlock(tessel_proto_idb_type *port)
{
    if (!port->fsm.is_locked) {
        std::abort();
    }
    port->fsm.is_locked = 0;
    const uint16_t postponed = port->fsm.scheduled_functions;
    port->fsm.scheduled_functions = 0;
    if (postponed & PTP_FSM_SCHEDULED_FUNCTION_FMC) {
        ptp_fsm_announce_best_foreign_master_changed(port);
    }
}
int ptp_fsm_postpone_if_locked(tessel_proto_idb_type *port, uint16_t bits)
{
    if (!port->fsm.is_locked) {
        return 0;
    }
    port->fsm.scheduled_functions |= bits;
    return 1;
}
void ptp_fsm_client_foreign_master_change(tessel_proto_idb_type *)
{
    rx_fake.fmc_reports++;
}
void ptp_fsm_hold_passive(tessel_proto_idb_type *port)
{
    rec("hold_passive");
    port->fsm.is_held_passive = 1;
}
void ptp_fsm_unhold_passive(tessel_proto_idb_type *port)
{
    rec("unhold_passive");
    port->fsm.is_held_passive = 0;
}
void ptp_fsm_announce_timeout_event(tessel_proto_idb_type *)
{
    rec("announce_timeout");
}
void ptp_fsm_offload_slave_drrm_start(tessel_proto_idb_type *) {}
void ptp_fsm_offload_slave_drrm_stop(tessel_proto_idb_type *) {}
void ptp_fsm_offload_slave_drrm_reset(tessel_proto_idb_type *) {}
void ptp_fsm_offload_fm_delay_req_start(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *) {}
void ptp_fsm_offload_fm_delay_req_stop(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *) {}
void ptp_fsm_offload_fm_sync_start(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *) {}
void ptp_fsm_offload_fm_sync_stop(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *) {}

namespace {
void event_drop(tessel_proto_idb_type *port, uint32_t cls)
{
    ptp_fsm_svc().count_packet_drop(port, cls, 1);
    ptp_fsm_svc().count_drop_reason(9 /* NotForUs */, 1);
}
} // namespace
void ptp_fsm_offload_sync_in(tessel_proto_idb_type *port, const uint8_t *, const ptp_address_type *)
{
    event_drop(port, 1);
}
void ptp_fsm_offload_follow_up_in(tessel_proto_idb_type *port, const uint8_t *, const ptp_address_type *)
{
    event_drop(port, 2);
}
void ptp_fsm_offload_delay_req_in(tessel_proto_idb_type *port, const uint8_t *, const ptp_address_type *)
{
    event_drop(port, 3);
}
void ptp_fsm_offload_delay_resp_in(tessel_proto_idb_type *port, const uint8_t *, const ptp_address_type *)
{
    event_drop(port, 4);
}

const char *ptp_fsm_area_label(uint32_t area)
{
    switch (area) {
    case PTP_FSM_AREA_PROTOCOL:
    case PTP_FSM_AREA_PACKET:
    case PTP_FSM_AREA_FSM: return tessel_debug_areas[area].label;
    default: return "OTHER";
    }
}
bool ptp_fsm_debug_on(uint32_t)
{
    return rx_fake.debug_on;
}
void ptp_fsm_debug(uint32_t, ifhtype, const char *format, ...)
{
    if (!rx_fake.debug_on) {
        return;
    }
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    rx_fake.debug_lines.emplace_back(line);
}
void ptp_fsm_trace_args(uint32_t, uint64_t id, const uint64_t *args, uint32_t count)
{
    std::vector<uint64_t> record{id};
    record.insert(record.end(), args, args + count);
    rx_fake.traces.push_back(record);
    rx_fake.trace_text_masks.push_back(0);
}
void ptp_fsm_trace_args_text(uint32_t buffers, uint64_t id, uint32_t text_mask, const uint64_t *args, uint32_t count)
{
    ptp_fsm_trace_args(buffers, id, args, count);
    rx_fake.trace_text_masks.back() = text_mask;
}
void ptp_fsm_internal_error(const char *what, const char *file, int line)
{
    std::fprintf(stderr, "internal error: %s (%s:%d)\n", what, file, line);
    std::abort();
}
const char *ptp_fsm_port_name(const tessel_proto_idb_type *port)
{
    return port->header.ifname;
}
const char *ptp_fsm_port_state_name(const tessel_proto_idb_type *)
{
    return "state";
}
ifhtype ptp_fsm_port_ifhandle(const tessel_proto_idb_type *port)
{
    return port->header.ifhandle;
}
