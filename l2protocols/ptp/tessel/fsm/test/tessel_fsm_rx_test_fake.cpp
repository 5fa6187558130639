// Recording fakes of the modules the receive path calls and this test does not exercise. They
// are weak so that a module's real definition, once linked, takes precedence.
#include "tessel_fsm_rx_test_fake.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "../src/tessel_fsm_log.h"
#include "ptp_zerr_codes.h"
#include "tessel_fsm.h"
#include "tessel_fsm_announce.h"
#include "tessel_fsm_deps.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_types.h"

#define FAKE __attribute__((weak))

rx_fake_state_type rx_fake;

void rx_fake_reset()
{
    rx_fake = rx_fake_state_type{};
}

namespace {
void rec(const std::string &what)
{
    rx_fake.calls.push_back(what);
}
} // namespace

// ---- Node values ----
FAKE uint32_t tessel_port_mgr_get_profile(void)
{
    return rx_fake.profile;
}
FAKE uint32_t tessel_port_mgr_get_telecom_clock_type(void)
{
    return PTP_TELECOM_CLOCK_T_BC;
}
FAKE uint32_t tessel_issu_get_issu_role(void)
{
    return rx_fake.issu_role;
}
FAKE const tessel_local_clock_type *tessel_port_mgr_get_local_clock(void)
{
    return rx_fake.local_clock_known ? &rx_fake.local_clock : nullptr;
}
FAKE uint8_t tessel_port_mgr_get_min_clock_class(void)
{
    return rx_fake.min_clock_class;
}
FAKE uint8_t tessel_cfg_get_fsync_ql_option(void)
{
    return rx_fake.ql_option;
}
FAKE const ptp_clock_type *tessel_bmc_get_node_bmc(void)
{
    return nullptr;
}
FAKE void tessel_bmc_if_update(tessel_proto_idb_type *)
{
    rec("bmc_if_update");
}

// ---- Counters ----
FAKE void tessel_stats_increment_packet_counter(tessel_proto_idb_type *, const ptp_address_type *,
                                                uint32_t counter_class, uint32_t direction, uint32_t amount)
{
    if (direction == 1 && counter_class < 11) {
        rx_fake.received_class[counter_class] += amount;
    }
}
FAKE void tessel_stats_increment_packet_drop_counter(tessel_proto_idb_type *, uint32_t counter_class, uint32_t amount)
{
    if (counter_class < 11) {
        rx_fake.drop_class[counter_class] += amount;
    }
}
FAKE void tessel_stats_increment_packet_drop_reason(uint32_t reason, uint32_t amount)
{
    if (reason < 32) {
        rx_fake.drop_reason[reason] += amount;
    }
}

// ---- Peers, FIB, adjacency, packet I/O ----
FAKE zerrno tessel_peer_index_acquire(tessel_proto_idb_type *, const ptp_address_type *)
{
    rec("peer_index_acquire");
    return rx_fake.peer_index_result;
}
FAKE void tessel_peer_index_release(tessel_proto_idb_type *, const ptp_address_type *)
{
    rec("peer_index_release");
}
FAKE void tessel_fib_pulse(void)
{
    rec("fib_pulse");
}
FAKE void tessel_fib_foreign_master_unregister(ptp_fsm_foreign_master_type *)
{
    rec("fib_unreg");
}
FAKE void tessel_fib_idb_unregister(tessel_proto_idb_type *) {}
FAKE void tessel_adjacency_foreign_master_request(ptp_fsm_foreign_master_type *) {}
FAKE zerrno eth_encap_attr_src_mac_get(const uint8_t *, uint32_t, uint8_t mac[PTP_MAC_ADDR_LEN])
{
    for (size_t i = 0; i < PTP_MAC_ADDR_LEN; i++) {
        mac[i] = static_cast<uint8_t>(0xA0 + i);
    }
    return 0;
}
FAKE void tessel_offload_if_session_update(tessel_proto_idb_type *) {}
FAKE void tessel_offload_foreign_master_session_update(ptp_fsm_foreign_master_type *)
{
    rec("fm_session");
}
FAKE void tessel_offload_unicast_peer_session_update(ptp_fsm_peer_entry_type *) {}
FAKE void tessel_offload_idb_sessions_update(tessel_proto_idb_type *) {}

// ---- Unicast negotiation ----
FAKE zerrno ptp_fsm_proto_module_init(void)
{
    return 0;
}
FAKE void ptp_fsm_proto_module_deinit(void) {}
FAKE zerrno ptp_fsm_unicast_port_init(tessel_proto_idb_type *)
{
    return 0;
}
FAKE void ptp_fsm_unicast_port_shutdown(tessel_proto_idb_type *) {}
FAKE void ptp_fsm_unicast_allow_grants(tessel_proto_idb_type *) {}
FAKE void ptp_fsm_unicast_end_grants(tessel_proto_idb_type *) {}
FAKE void ptp_fsm_unicast_peer_sweep(tessel_proto_idb_type *) {}
FAKE void ptp_fsm_unicast_delete_all_peers(tessel_proto_idb_type *) {}
FAKE ptp_fsm_peer_entry_type *ptp_fsm_unicast_peer_entry_find(tessel_proto_idb_type *, const ptp_address_type *)
{
    return nullptr;
}
FAKE void ptp_fsm_unicast_peer_entry_delete(ptp_fsm_peer_entry_type *, uint32_t) {}
FAKE zerrno ptp_fsm_unicast_peer_entry_create(tessel_proto_idb_type *, const ptp_address_type *,
                                              const ptp_address_type *, const ptp_port_id_type *, bool, bool,
                                              ptp_fsm_peer_entry_type **out)
{
    *out = nullptr;
    return PTP_ZERR_NOMEM;
}
FAKE void ptp_fsm_offload_peer_session_update(tessel_proto_idb_type *, ptp_fsm_peer_entry_type *) {}
FAKE void ptp_fsm_offload_peer_delay_req_reply_start(tessel_proto_idb_type *, ptp_fsm_peer_entry_type *) {}
FAKE zerrno ptp_fsm_unicast_fm_timers_create(ptp_fsm_foreign_master_type *)
{
    return 0;
}
FAKE void ptp_fsm_unicast_fm_timers_delete(ptp_fsm_foreign_master_type *) {}
FAKE void ptp_fsm_unicast_start_master_listen(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *)
{
    rec("unicast_start_master_listen");
}
FAKE void ptp_fsm_unicast_end_master_listen(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *)
{
    rec("unicast_end_master_listen");
}
FAKE void ptp_fsm_unicast_start_slaving(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *) {}
FAKE void ptp_fsm_unicast_stop_slaving(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *) {}
FAKE void ptp_fsm_unicast_cancel_announce_grant(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *)
{
    rec("cancel_announce_grant");
}
FAKE void ptp_fsm_unicast_restore_master_negotiation(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *, bool) {}
FAKE void ptp_fsm_unicast_tlv_handle(tessel_proto_idb_type *, uint16_t tlv_type, const ptp_address_type *,
                                     const ptp_port_id_type *, const uint8_t *, size_t tlv_len)
{
    rx_fake.tlvs_handled++;
    rec("tlv:" + std::to_string(tlv_type) + ":" + std::to_string(tlv_len));
}
FAKE void ptp_fsm_unicast_handle_request_tlvs(tessel_proto_idb_type *, const ptp_address_type *,
                                              const ptp_address_type *, const uint8_t *, size_t,
                                              const ptp_port_id_type *)
{
    rx_fake.request_walks++;
    rec("request_tlvs");
}

// ---- The state machine's frame (lock, client operation 0, Hold-Passive, hooks, log) ----
FAKE void ptp_fsm_lock(tessel_proto_idb_type *port)
{
    if (port->fsm.is_locked) {
        std::abort();
    }
    port->fsm.is_locked = 1;
}
FAKE void ptp_fsm_unlock(tessel_proto_idb_type *port)
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
FAKE int ptp_fsm_postpone_if_locked(tessel_proto_idb_type *port, uint16_t bits)
{
    if (!port->fsm.is_locked) {
        return 0;
    }
    port->fsm.scheduled_functions |= bits;
    return 1;
}
FAKE void ptp_fsm_client_foreign_master_change(tessel_proto_idb_type *)
{
    rx_fake.fmc_reports++;
}
FAKE void ptp_fsm_hold_passive(tessel_proto_idb_type *port)
{
    rec("hold_passive");
    port->fsm.is_held_passive = 1;
}
FAKE void ptp_fsm_unhold_passive(tessel_proto_idb_type *port)
{
    rec("unhold_passive");
    port->fsm.is_held_passive = 0;
}
FAKE void ptp_fsm_announce_timeout_event(tessel_proto_idb_type *)
{
    rec("announce_timeout");
}
FAKE void ptp_fsm_offload_slave_drrm_start(tessel_proto_idb_type *) {}
FAKE void ptp_fsm_offload_slave_drrm_stop(tessel_proto_idb_type *) {}
FAKE void ptp_fsm_offload_slave_drrm_reset(tessel_proto_idb_type *) {}
FAKE void ptp_fsm_offload_fm_delay_req_start(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *) {}
FAKE void ptp_fsm_offload_fm_delay_req_stop(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *) {}
FAKE void ptp_fsm_offload_fm_sync_start(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *) {}
FAKE void ptp_fsm_offload_fm_sync_stop(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *) {}

namespace {
void event_drop(tessel_proto_idb_type *port, uint32_t cls)
{
    tessel_stats_increment_packet_drop_counter(port, cls, 1);
    tessel_stats_increment_packet_drop_reason(9 /* NotForUs */, 1);
}
} // namespace
FAKE void ptp_fsm_offload_sync_in(tessel_proto_idb_type *port, const uint8_t *, const ptp_address_type *)
{
    event_drop(port, 1);
}
FAKE void ptp_fsm_offload_follow_up_in(tessel_proto_idb_type *port, const uint8_t *, const ptp_address_type *)
{
    event_drop(port, 2);
}
FAKE void ptp_fsm_offload_delay_req_in(tessel_proto_idb_type *port, const uint8_t *, const ptp_address_type *)
{
    event_drop(port, 3);
}
FAKE void ptp_fsm_offload_delay_resp_in(tessel_proto_idb_type *port, const uint8_t *, const ptp_address_type *)
{
    event_drop(port, 4);
}

FAKE const char *ptp_fsm_area_label(uint32_t area)
{
    switch (area) {
    case PTP_FSM_AREA_PROTOCOL:
    case PTP_FSM_AREA_PACKET:
    case PTP_FSM_AREA_FSM: return tessel_debug_areas[area].label;
    default: return "OTHER";
    }
}
FAKE bool ptp_fsm_debug_on(uint32_t)
{
    return rx_fake.debug_on;
}
FAKE void ptp_fsm_debug(uint32_t, ifhtype, const char *format, ...)
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
FAKE void ptp_fsm_trace_args(uint32_t, uint64_t id, const uint64_t *args, uint32_t count)
{
    std::vector<uint64_t> record{id};
    record.insert(record.end(), args, args + count);
    rx_fake.traces.push_back(record);
    rx_fake.trace_text_masks.push_back(0);
}
FAKE void ptp_fsm_trace_args_text(uint32_t buffers, uint64_t id, uint32_t text_mask, const uint64_t *args,
                                  uint32_t count)
{
    ptp_fsm_trace_args(buffers, id, args, count);
    rx_fake.trace_text_masks.back() = text_mask;
}
FAKE void ptp_fsm_internal_error(const char *what, const char *file, int line)
{
    std::fprintf(stderr, "internal error: %s (%s:%d)\n", what, file, line);
    std::abort();
}
FAKE const char *ptp_fsm_port_name(const tessel_proto_idb_type *port)
{
    return port->header.ifname;
}
FAKE const char *ptp_fsm_port_state_name(const tessel_proto_idb_type *)
{
    return "state";
}
FAKE ifhtype ptp_fsm_port_ifhandle(const tessel_proto_idb_type *port)
{
    return port->header.ifhandle;
}
