// Global PTP items: enable, clock profile, minimum clock class, verify-checksum and the
// frequency-synchronisation QL option; and the packet rates the clock profile decides.
#include "tessel_cfg_gl.h"

#include <cstring>

#include "nodra_schema.h"
#include "ptp_cfg_schema.h"
#include "ptp_strings.h"
#include "tessel_assert.h"
#include "tessel_cfg_private.h"
#include "tessel_ipc_db.h"
#include "tessel_ipc_log.h"
#include "tessel_port_mgr.h"
#include "tessel_thread_ctrl.h"
#include "tuple.h"

namespace {

constexpr uint32_t AREA = tessel_debug_area("config");

// The IPC thread's global values of this module.
bool verify_checksum = false;
uint8_t fsync_ql_option = 1;

// A (clock profile, telecom clock type) pair from an item's tuple; false when there is none, the
// caller's default stays. *ok is false when the bytes do not read as the pair.
bool unpack_clock_profile(const void *data, uint32_t length, uint32_t *profile, uint32_t *clock_type, bool *ok)
{
    if (data == nullptr) {
        return false;
    }
    int32_t p = static_cast<int32_t>(*profile);
    int32_t t = static_cast<int32_t>(*clock_type);
    uint32_t mask = 0;
    if (tuple_unpack_mask(static_cast<const tuple_type *>(data), length, "%d%d", &mask, &p, &t) != 0) {
        *ok = false;
        return false;
    }
    *profile = static_cast<uint32_t>(p);
    *clock_type = static_cast<uint32_t>(t);
    return true;
}

const char *ql_option_to_str(uint32_t option)
{
    switch (option) {
    case 1: return "Opt-1";
    case 2: return "Opt-II,1";
    case 3: return "Opt-II,2";
    default: return "Unknown QL option";
    }
}

// One rate of tessel_cfg_set_profile_packet_rates: the default goes into the interface's own
// value, the applied value follows the profile or the default. True when the applied value
// changed.
bool packet_rate_update(tessel_ipc_idb_type *idb, int32_t tessel_if_config_type::*field, uint32_t bit, uint64_t update,
                        int32_t dflt)
{
    if ((idb->if_config_flags & bit) != 0) {
        return false;
    }
    idb->if_config.*field = dflt;
    int32_t value = dflt;
    uint32_t source_flags = idb->if_config_flags;
    const tessel_prf_db_type *prf = idb->profile_db;
    if (prf != nullptr && (prf->prf_config_flags & bit) != 0) {
        value = prf->prf_config.*field;
        source_flags = prf->prf_config_flags;
    }
    if (idb->applied_config.*field == value) {
        return false;
    }
    idb->applied_config.*field = value;
    idb->applied_config_flags = (idb->applied_config_flags & ~bit) | (source_flags & bit);
    idb->flags |= update;
    return true;
}

} // namespace

// ---- Getters -----------------------------------------------------------------------------------

bool tessel_cfg_get_verify_checksum(void)
{
    return verify_checksum;
}

uint8_t tessel_cfg_get_fsync_ql_option(void)
{
    return fsync_ql_option;
}

void tessel_cfg_gl_reset(void)
{
    verify_checksum = false;
    fsync_ql_option = 1;
}

// ---- Packet rates by clock profile ------------------------------------------------------------------

int32_t tessel_cfg_default_announce_interval(uint32_t clock_profile)
{
    return clock_profile == PTP_PROFILE_G8275_1 ? -3 : 1;
}

int32_t tessel_cfg_default_sync_interval(uint32_t clock_profile)
{
    return clock_profile == PTP_PROFILE_G8275_1 ? -4 : 0;
}

int32_t tessel_cfg_default_delay_req_interval(uint32_t clock_profile)
{
    return clock_profile == PTP_PROFILE_G8275_1 ? -4 : 0;
}

bool tessel_cfg_set_profile_packet_rates(tessel_ipc_idb_type *idb, void *context)
{
    TESSEL_ASSERT(context != nullptr);
    const uint32_t clock_profile = *static_cast<const uint32_t *>(context);
    bool changed = packet_rate_update(idb, &tessel_if_config_type::announce_interval, TESSEL_CFG_MASK_ANNOUNCE_INTERVAL,
                                      TESSEL_IPC_FLAG_UPDATE_ANNOUNCE_INTERVAL,
                                      tessel_cfg_default_announce_interval(clock_profile));
    changed |=
        packet_rate_update(idb, &tessel_if_config_type::sync_interval, TESSEL_CFG_MASK_SYNC_INTERVAL,
                           TESSEL_IPC_FLAG_UPDATE_SYNC_INTERVAL, tessel_cfg_default_sync_interval(clock_profile));
    changed |= packet_rate_update(idb, &tessel_if_config_type::delay_req_interval, TESSEL_CFG_MASK_DELAY_REQ_INTERVAL,
                                  TESSEL_IPC_FLAG_UPDATE_DELAY_RESP_MIN_INTERVAL,
                                  tessel_cfg_default_delay_req_interval(clock_profile));
    if (changed && (idb->flags & TESSEL_IPC_FLAG_ENABLED) != 0) {
        tessel_ipc_if_update_add(idb);
    }
    return true;
}

// ---- Notify handlers -----------------------------------------------------------------------------

void tessel_cfg_gl_notify_enable(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    const bool deleting = tessel_cfg_event_is_delete(event);
    if (deleting) {
        TESSEL_IPC_DEBUG(AREA, "%s: Received global enable config delete.");
        ptp_trace<PTP_TRACE_TESSEL_CFG_GL_ENABLE_DELETE>({tessel_ipc_sum(), tessel_ipc_unq()});
    } else {
        TESSEL_IPC_DEBUG(AREA, "%s: Received global enable config set.");
        ptp_trace<PTP_TRACE_TESSEL_CFG_GL_ENABLE_SET>({tessel_ipc_sum(), tessel_ipc_unq()});
    }
    tessel_ipc_set_ptp_enable(deleting ? 0 : 1);
}

void tessel_cfg_gl_notify_clock_profile(const nodra_notify_event_info_td *event, void *context, const bgen_args_td *)
{
    uint32_t old_profile = PTP_PROFILE_DEFAULT;
    uint32_t old_type = PTP_TELECOM_CLOCK_T_BC;
    uint32_t new_profile = PTP_PROFILE_DEFAULT;
    uint32_t new_type = PTP_TELECOM_CLOCK_T_BC;
    bool ok = true;
    const bool old_present = unpack_clock_profile(event->old_data, event->old_length, &old_profile, &old_type, &ok);
    bool new_present = false;
    if (!tessel_cfg_event_is_delete(event)) {
        new_present = unpack_clock_profile(event->new_data, event->new_length, &new_profile, &new_type, &ok);
    }
    if (!ok) {
        tessel_cfg_result_set(context, PTP_ZERR_CFG_TUPLE);
        return;
    }
    ptp_trace<PTP_TRACE_TESSEL_CFG_GL_CLOCK_PROFILE>({tessel_ipc_sum(), tessel_ipc_unq()}, event->event,
                                                     old_present ? 1u : 0u, new_present ? 1u : 0u, old_profile,
                                                     old_type, new_profile, new_type);
    TESSEL_IPC_DEBUG(
        AREA, "%s: Received clock profile config %s: %s%s -> %s%s", ptp_cfg_event_to_str(event->event),
        old_present ? "" : "Not Set", old_present ? ptp_profile_clock_type_to_str(old_profile, old_type) : "",
        new_present ? "" : "Not Set", new_present ? ptp_profile_clock_type_to_str(new_profile, new_type) : "");
    tessel_ipc_db_walk(tessel_cfg_set_profile_packet_rates, &new_profile, nullptr, false);
    tessel_ipc_set_clock_profile(new_profile, new_type);
}

void tessel_cfg_gl_notify_min_clock_class(const nodra_notify_event_info_td *event, void *context, const bgen_args_td *)
{
    uint32_t value = 255;
    if (!tessel_cfg_event_is_delete(event) && !tessel_cfg_event_u32(event, &value)) {
        tessel_cfg_result_set(context, PTP_ZERR_CFG_TUPLE);
        return;
    }
    ptp_trace<PTP_TRACE_TESSEL_CFG_GL_MIN_CLOCK_CLASS>({tessel_ipc_sum(), tessel_ipc_unq()}, event->event, value);
    TESSEL_IPC_DEBUG(AREA, "%s: Received min clock class config %s: %u", ptp_cfg_event_to_str(event->event), value);
    tessel_ipc_set_min_clock_class(static_cast<uint8_t>(value & 0xFF));
}

void tessel_cfg_gl_notify_verify_checksum(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    verify_checksum = !tessel_cfg_event_is_delete(event);
}

void tessel_cfg_gl_notify_fsync_ql_option(const nodra_notify_event_info_td *event, void *context, const bgen_args_td *)
{
    uint32_t value = 1;
    if (!tessel_cfg_event_is_delete(event) && !tessel_cfg_event_u32(event, &value)) {
        tessel_cfg_result_set(context, PTP_ZERR_CFG_TUPLE);
        return;
    }
    fsync_ql_option = static_cast<uint8_t>(value);
    ptp_trace<PTP_TRACE_TESSEL_CFG_FSYNC_QL_OPTION>({tessel_ipc_det()}, event->event, value);
    TESSEL_IPC_DEBUG(AREA, "%s: FSync QL option config %s event. New value %s", ptp_cfg_event_to_str(event->event),
                     ql_option_to_str(value));
}

// ---- The global schema ---------------------------------------------------------------------------
// Paths below "/cfg/gl/" ("ptp/pi/...") and below "/cfg/gl/freqsync/" ("g/f/ql-option"); a profile's
// items are the interface's, below the profile's name.

namespace {

constexpr const char *PRF = PTP_CFG_PROFILE_PREFIX;
constexpr uint32_t SINGLE = BACKEND_VALUE_SINGLE;
constexpr uint32_t TUPLE = BACKEND_VALUE_TUPLE;
constexpr uint32_t ANY = BACKEND_VALUE_NONE;
// clang-format off
constexpr auto gl_items_own = std::to_array<backend_item_td>({
    {"ptp/pi/enable", {.kind = ANY, .notify = tessel_cfg_gl_notify_enable}},
    {"ptp/pi/clock/profile", {.kind = TUPLE, .notify = tessel_cfg_gl_notify_clock_profile}},
    {"ptp/pi/min-clock-class", {.kind = SINGLE, .notify = tessel_cfg_gl_notify_min_clock_class}},
    // The agents number verify-checksum after the profile's first item.
    {"ptp/pi/verify-checksum", {.kind = ANY, .notify = tessel_cfg_gl_notify_verify_checksum}, nullptr, 4},
});
constexpr auto gl_items_last = std::to_array<backend_item_td>({
    {"g/f/ql-option", {.kind = SINGLE, .notify = tessel_cfg_gl_notify_fsync_ql_option}},
});
constexpr ptp_cfg_profile_rows_td gl_profile_rows{
    .transport = {.notify = tessel_cfg_gl_prf_notify_transport},
    .clock_operation = {.notify = tessel_cfg_gl_prf_notify_clock_operation},
    .annce_ivl = {.notify = tessel_cfg_gl_prf_notify_annce_ivl},
    .sync_ivl = {.notify = tessel_cfg_gl_prf_notify_sync_ivl},
    .annce_tout = {.notify = tessel_cfg_gl_prf_notify_annce_tout},
    .dr_min_ivl = {.notify = tessel_cfg_gl_prf_notify_dr_min_ivl},
    .multicast = {.notify = tessel_cfg_gl_prf_notify_multicast},
    .port_state = {.notify = tessel_cfg_gl_prf_notify_port_state},
    .source_ip = {.notify = tessel_cfg_gl_prf_notify_source_ip},
    .source_ipv6 = {.notify = tessel_cfg_gl_prf_notify_source_ipv6},
    .cos = {.notify = tessel_cfg_gl_prf_notify_cos},
    .dscp = {.notify = tessel_cfg_gl_prf_notify_dscp},
    .ipv4_ttl = {.notify = tessel_cfg_gl_prf_notify_ipv4_ttl},
    .ipv6_hop_limit = {.notify = tessel_cfg_gl_prf_notify_ipv6_hop_limit},
    .unicast_grant_duration = {.notify = tessel_cfg_gl_prf_notify_unicast_grant_duration},
    .message_timeout = {.notify = tessel_cfg_gl_prf_notify_message_timeout},
    .unicast_grant_invalid_request = {.notify = tessel_cfg_gl_prf_notify_unicast_grant_invalid_request},
    .local_priority = {.notify = tessel_cfg_gl_prf_notify_local_priority},
    .delay_asymmetry = {.notify = tessel_cfg_gl_prf_notify_delay_asymmetry},
};
constexpr ptp_cfg_table_rows_td gl_table_rows{
    .master_enable = {.notify = tessel_cfg_gl_prf_notify_master_enable},
    .master_priority = {.notify = tessel_cfg_gl_prf_notify_master_priority},
    .master_multicast = {.notify = tessel_cfg_gl_prf_notify_master_multicast},
    .master_clock_class = {.notify = tessel_cfg_gl_prf_notify_master_clock_class},
    .master_delay_asymmetry = {.notify = tessel_cfg_gl_prf_notify_master_delay_asymmetry},
    .master_nonnegotiated = {.notify = tessel_cfg_gl_prf_notify_master_nonnegotiated},
    .slave_nonnegotiated = {.notify = tessel_cfg_gl_prf_notify_slave_nonnegotiated},
};
constexpr ptp_cfg_interop_rows_td gl_interop_rows{
    .profile = {.notify = tessel_cfg_gl_prf_notify_interop_profile},
    .domain = {.notify = tessel_cfg_gl_prf_notify_interop_domain},
    .priority = {.notify = tessel_cfg_gl_prf_notify_interop_priority},
    .clock_accuracy = {.notify = tessel_cfg_gl_prf_notify_interop_clock_accuracy},
    .oslv = {.notify = tessel_cfg_gl_prf_notify_interop_oslv},
    .clock_class_default = {.notify = tessel_cfg_gl_prf_notify_interop_clock_class_default},
    .clock_class_mapping = {.notify = tessel_cfg_gl_prf_notify_interop_clock_class_mapping},
};
// The profile's first item is row 3, before verify-checksum.
constexpr auto gl_items = backend_items_join(
    gl_items_own,
    backend_items_renumber(ptp_cfg_profile_items(PRF, gl_profile_rows, true), 0, 3),
    ptp_cfg_table_items(PRF, gl_table_rows, true),
    ptp_cfg_interop_items(PRF, gl_interop_rows),
    gl_items_last);
// clang-format on

using gl_schema = backend_schema_of<gl_items>;
static_assert(gl_schema::nodes.size() == 75 && gl_schema::rows.size() == 52);

} // namespace

const backend_schema_td tessel_cfg_gl_schema = gl_schema::schema;
