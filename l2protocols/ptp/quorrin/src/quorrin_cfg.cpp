// The controller's global configuration: registration with the database, the batch callback, the
// count of applied items that switches the platform clock on and off, the global item handlers and
// the getters. The per-profile handlers are in quorrin_cfg_profile.cpp.
#include "quorrin_cfg.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <string_view>

#include "ptp_alloc.h"
#include "ptp_cfg_schema.h"
#include "ptp_cfg_utils.h"
#include "ptp_strings.h"
#include "ptp_syslog.h"
#include "quorrin_bmc.h"
#include "quorrin_debug.h"
#include "quorrin_leap_seconds.h"
#include "quorrin_platform.h"
#include "quorrin_stats.h"
#include "sysmgr.h"
#include "tuple.h"

namespace {

constexpr uint32_t AREA = quorrin_debug_area("config");

constexpr const char *GL_BIND = "/cfg/gl/";
constexpr const char *FSYNC_BIND = "/cfg/gl/freqsync/";
constexpr const char *QL_OPTION_ITEM = "g/f/ql-option";
constexpr uint32_t ALL_EVENTS = NODRA_EVENT_CREATE | NODRA_EVENT_SET | NODRA_EVENT_DELETE;
constexpr uint32_t REGISTRATION_OPTION = 2;

constexpr uint32_t DEFAULT_PRIORITY = 128;
constexpr uint32_t DEFAULT_FREQ_PRIORITY = 254;
constexpr uint32_t DEFAULT_TOD_PRIORITY = 100;
constexpr uint32_t DELETED_TIME_SOURCE = 0x10;

// A stored value and whether it is configured.
struct value_type {
    uint32_t value;
    bool set;
    bool operator==(const value_type &) const = default;
};

// Configured global items (per-profile ones included): the platform clock is in use while above 0.
uint32_t quorrin_cfg_applied_config_counter = 0;

struct cfg_state_type {
    bool is_scanning = false;
    bool is_enabled = false;
    uint32_t any_successful_applies = 0;
    bool log_bmc_changes = false;
    uint32_t profile = PTP_PROFILE_DEFAULT;
    bool profile_set = false;
    uint32_t telecom_clock_type = PTP_TELECOM_CLOCK_T_BC;
    value_type domain{0, false};
    uint64_t clock_id = 0;
    value_type priority1{DEFAULT_PRIORITY, false};
    value_type priority2{DEFAULT_PRIORITY, false};
    value_type clock_class{0, false};
    value_type startup_clock_class{0, false};
    value_type freerun_clock_class{0, false};
    value_type uncalibrated_clock_class{0, false};
    uint32_t unless_from_holdover = 0;
    value_type deprecated_uncalibrated_clock_class{0, false};
    value_type holdover_clock_class{0, false};
    value_type double_failure_clock_class{0, false};
    value_type holdover_duration{0, false};
    bool holdover_time_traceable_override = false;
    bool uncal_time_traceable_override = false;
    value_type timescale{PTP_TIMESCALE_PTP, false};
    value_type time_source{0, false};
    value_type freq_priority{DEFAULT_FREQ_PRIORITY, false};
    value_type tod_priority{DEFAULT_TOD_PRIORITY, false};
    value_type servo_slow_tracking{0, false};
    value_type physical_layer_freq{0, false};
    value_type network_type{0, false};
    bool verify_checksum = false;
    bool apts = false;
    uint32_t ql_option = QUORRIN_CFG_QL_OPTION_1;
    bool vp_configured = false;
    value_type vp_priority1{DEFAULT_PRIORITY, false};
    value_type vp_priority2{DEFAULT_PRIORITY, false};
    value_type vp_clock_class{0, false};
    value_type vp_clock_accuracy{0, false};
    value_type vp_oslv{0, false};
    value_type vp_local_priority{0, false};

    nodra_conn_td *gl_conn = nullptr;
    nodra_conn_td *fsync_conn = nullptr;
    uint32_t reg_enable = 0, reg_log = 0, reg_pi = 0, reg_ql = 0;
    bool registered_enable = false, registered_log = false, registered_pi = false, registered_ql = false;
    int library_found = -1; // not probed yet
};

cfg_state_type st;

// The three "/cfg/gl/" registrations, most specific first. They overlap ("ptp/pi/enable" is also
// below "ptp/pi/"), and the database notifies every registration that matches an item, so an item
// is applied only from the batch of the first registration here that covers it: once.
struct registration_type {
    const char *pattern;
    bool subtree;
    uint32_t *id;
    bool *registered;
    uint32_t counter_ok;
    const char *failure_text;
};
const registration_type registrations[] = {
    {"ptp/pi/enable", false, &st.reg_enable, &st.registered_enable, QUORRIN_GL_EVENT_REG_ENABLE_VRFN,
     "Failed to register for notification of global enable item: "},
    {"ptp/log/pi/", true, &st.reg_log, &st.registered_log, QUORRIN_GL_EVENT_REG_GLOBAL_VRFN,
     "Failed to register for notification of global logging configuration: "},
    {"ptp/pi/", true, &st.reg_pi, &st.registered_pi, QUORRIN_GL_EVENT_REG_GLOBAL_VRFN,
     "Failed to register for notification of global configuration: "},
};

bool owned_by(const nodra_notify_event_info_td *item, uint32_t registration)
{
    const std::string_view path = item->path != nullptr ? item->path : "";
    for (const registration_type &r : registrations) {
        if (r.subtree ? path.starts_with(r.pattern) : path == r.pattern) {
            // The id is known before the registration's replay of existing items runs.
            return *r.id == registration;
        }
    }
    return true; // an item none of ours covers cannot come; let the dispatcher refuse it
}

bool nodra_library_present()
{
    if (st.library_found < 0) {
        st.library_found = access(nodra_client_library_path(), R_OK) == 0 ? 1 : 0;
    }
    return st.library_found == 1;
}

zerrno guarded_bind(nodra_conn_td **conn, const char *path)
{
    if (!nodra_library_present()) {
        return NODRA_ERR_BIND_NO_LIBRARY;
    }
    return nodra_bind(conn, path, 0);
}

zerrno guarded_register(nodra_conn_td *conn, const char *pattern, nodra_notify_fn callback, event_mgr_type *evm,
                        uint32_t *registration)
{
    if (!nodra_library_present()) {
        return NODRA_ERR_NFN_NO_LIBRARY;
    }
    return _nodra_register_notification(conn, pattern, ALL_EVENTS, REGISTRATION_OPTION, callback, evm, evm,
                                        quorrin_cfg_schema(), 0, registration);
}

// A failed bind or registration: syslog, debug print and trace point P with the error's text.
template <const ptp_trace_point_type &P>
zerrno init_failed(const char *text, zerrno rc)
{
    ptp_syslog_init_failed(text, zerr_strerror(rc));
    QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] %s%s", text, zerr_strerror(rc));
    ptp_trace<P>({quorrin_det(), quorrin_unq()}, zerr_strerror(rc));
    return rc;
}

// ---- Event and value helpers ----------------------------------------------------------------------

bool deleting(const nodra_notify_event_info_td *event)
{
    return (event->event & NODRA_EVENT_DELETE) != 0;
}

// The database sends a new item as Create alone and a changed one as Set: either gives the item its
// value.
bool giving_value(const nodra_notify_event_info_td *event)
{
    return !deleting(event) && (event->event & (NODRA_EVENT_CREATE | NODRA_EVENT_SET)) != 0;
}

const char *event_text(const nodra_notify_event_info_td *event)
{
    return ptp_cfg_event_to_str(event->event);
}

bool read_u32(const void *data, uint32_t length, uint32_t *out)
{
    if (data == nullptr || length != sizeof(uint32_t)) {
        return false;
    }
    std::memcpy(out, data, sizeof(uint32_t));
    return true;
}

// A single-value item's old and new values as the event carries them.
struct single_type {
    bool old_present = false;
    uint32_t old_value = 0;
    bool new_present = false;
    uint32_t new_value = 0;
};

single_type read_single(const nodra_notify_event_info_td *event)
{
    single_type v;
    v.old_present = read_u32(event->old_data, event->old_length, &v.old_value);
    if (!deleting(event)) {
        v.new_present = read_u32(event->new_data, event->new_length, &v.new_value);
    }
    return v;
}

const char *not_set(bool present)
{
    return present ? "" : "(Not Set) ";
}
const char *not_set_lower(bool present)
{
    return present ? "" : "(Not set) ";
}

// An item that cannot have passed verification before commit. The controller keeps running on the
// configuration it has: the item is left out and said so.
void refuse(const nodra_notify_event_info_td *event, const char *why)
{
    QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] Ignoring %s of configuration item '%s': %s", event_text(event),
                      event->path != nullptr ? event->path : "", why);
}

// The common frame of a handler: checked value (or none on delete) counted or removed.
void count_event(const nodra_notify_event_info_td *event)
{
    if (deleting(event)) {
        quorrin_cfg_remove();
    } else {
        quorrin_cfg_add(event->event);
    }
}

// A single-value item: check, count, store (default on delete), follow-up outside the scan when the
// value or its set flag changed. False when the item was refused.
struct single_item_type {
    bool (*check)(uint32_t value);
    uint32_t deleted_value;
    void (*follow_up)();
};

bool apply_single(const nodra_notify_event_info_td *event, const single_item_type &item, value_type *stored,
                  single_type *v)
{
    *v = read_single(event);
    if (!deleting(event)) {
        if (!v->new_present) {
            refuse(event, "no value");
            return false;
        }
        if (item.check != nullptr && !item.check(v->new_value)) {
            refuse(event, "value out of range");
            return false;
        }
    }
    count_event(event);
    const value_type now = deleting(event) ? value_type{item.deleted_value, false} : value_type{v->new_value, true};
    if (now != *stored) {
        *stored = now;
        if (!st.is_scanning && item.follow_up != nullptr) {
            item.follow_up();
        }
    }
    return true;
}

// A flag item: set unless deleted.
bool apply_flag(const nodra_notify_event_info_td *event, bool *stored, void (*follow_up)())
{
    count_event(event);
    const bool now = !deleting(event);
    if (now != *stored) {
        *stored = now;
        if (!st.is_scanning && follow_up != nullptr) {
            follow_up();
        }
    }
    return true;
}

void finished()
{
    quorrin_cfg_set_any_successful_applies();
}

// A handler's trace record: only the first handler of a batch writes it (the flag is cleared as
// each batch starts); the items that always write theirs call ptp_trace themselves.
template <const ptp_trace_point_type &P, typename... A>
void first_trace(jotlog_handle_type buffer, A... args)
{
    if (st.any_successful_applies == 0) {
        ptp_trace<P>({buffer}, args...);
    }
}

// The record of a single-value item: event, then each value with its "(Not Set) " mark.
template <const ptp_trace_point_type &P>
void single_trace(const nodra_notify_event_info_td *event, const single_type &v, const char *(*mark)(bool) = not_set)
{
    first_trace<P>(quorrin_det(), event_text(event), mark(v.old_present), v.old_value, mark(v.new_present),
                   v.new_value);
}

bool clock_class_ok(uint32_t v)
{
    return ptp_clock_class_is_ok(v);
}

void settings_update()
{
    quorrin_platform_settings_update();
}

// The router's MAC address as an EUI-64 identity, or a configured one.
uint64_t mac_to_eui64(const uint8_t mac[PTP_MAC_ADDR_LEN])
{
    const uint8_t b[8] = {mac[0], mac[1], mac[2], 0xFF, 0xFE, mac[3], mac[4], mac[5]};
    uint64_t id = 0;
    for (uint8_t byte : b) {
        id = id << 8 | byte;
    }
    return id;
}

// The identity tuple "%d%d%d%d%S" into a record; false when it cannot be read.
bool unpack_identity(const void *data, uint32_t length, ptp_clock_id_type *id, uint32_t *mask)
{
    int32_t kind = PTP_CLOCK_ID_ROUTER_MAC;
    int32_t words[3] = {0, 0, 0};
    const char *eui = nullptr;
    *id = {};
    *mask = 0;
    if (data == nullptr || tuple_unpack_mask(static_cast<const tuple_type *>(data), length, "%d%d%d%d%S", mask, &kind,
                                             &words[0], &words[1], &words[2], &eui) != 0) {
        return false;
    }
    id->kind = static_cast<uint32_t>(kind);
    for (int i = 0; i < 3; i++) {
        id->mac[2 * i] = static_cast<uint8_t>(static_cast<uint32_t>(words[i]) >> 8);
        id->mac[2 * i + 1] = static_cast<uint8_t>(words[i]);
    }
    if (id->kind == PTP_CLOCK_ID_EUI64 && eui != nullptr && !ptp_get_eui_number(eui, id)) {
        *mask &= ~(1u << 4); // unreadable number: as if absent, which the check refuses
    }
    return true;
}

const char *ql_option_to_str(uint32_t option)
{
    switch (option) {
    case QUORRIN_CFG_QL_OPTION_1: return "Opt-1";
    case QUORRIN_CFG_QL_OPTION_2_1: return "Opt-II,1";
    case QUORRIN_CFG_QL_OPTION_2_2: return "Opt-II,2";
    default: return "Unknown QL option";
    }
}

const char *time_source_name(uint32_t value, bool present)
{
    static const char *const names[] = {"Atomic Clock", "GPS",     "Terrestrial Radio", "PTP",   "NTP",
                                        "Hand-set",     "Unknown", "Unknown",           "Other", "Internal Oscillator"};
    if (!present) {
        return "";
    }
    if (value < 0x10 || value > 0xA0 || value % 0x10 != 0) {
        return "Unknown";
    }
    return names[(value - 0x10) / 0x10];
}

void vp_update(const nodra_notify_event_info_td *event, quorrin_bmc_vp_field_type field, const value_type &before,
               const value_type &after)
{
    if (before != after && !st.is_scanning) {
        quorrin_bmc_virtual_port_update(field, deleting(event), after.value);
    }
}

// ---- The schema ------------------------------------------------------------------------------------

// One row per item, by its path relative to the binding; the profile's items as the agents and the
// verifier declare them.
constexpr const char *PRF = PTP_CFG_PROFILE_PREFIX;
#define PRF_(item, fn) backend_item_mount_notify(PRF, item, quorrin_cfg_notify_##fn)
constexpr uint32_t S = BACKEND_VALUE_SINGLE;
constexpr uint32_t T = BACKEND_VALUE_TUPLE;
constexpr uint32_t N = BACKEND_VALUE_NONE;
// clang-format off
constexpr auto own_items = std::to_array<backend_item_td>({
    {"ptp/pi/enable", {.kind = N, .notify = quorrin_cfg_notify_enable}},
    {"ptp/log/pi/bmc/changes", {.kind = N, .notify = quorrin_cfg_notify_log_bmc_changes}},
    {"ptp/pi/clock/identity", {.kind = T, .notify = quorrin_cfg_notify_clock_identity}},
    {"ptp/pi/clock/domain", {.kind = S, .notify = quorrin_cfg_notify_clock_domain}},
    {"ptp/pi/clock/priority1", {.kind = S, .notify = quorrin_cfg_notify_clock_priority}},
    {"ptp/pi/clock/priority2", {.kind = S, .bg_ident = 1, .notify = quorrin_cfg_notify_clock_priority}},
    {"ptp/pi/clock/clock-class", {.kind = S, .notify = quorrin_cfg_notify_clock_class}},
    {"ptp/pi/clock/timescale", {.kind = S, .notify = quorrin_cfg_notify_clock_timescale}},
    {"ptp/pi/clock/timesource", {.kind = S, .notify = quorrin_cfg_notify_clock_time_source}},
    {"ptp/pi/frequencypriority", {.kind = S, .notify = quorrin_cfg_notify_freq_priority}},
    {"ptp/pi/timeofdaypriority", {.kind = S, .notify = quorrin_cfg_notify_tod_priority}},
    {"ptp/pi/clock/profile", {.kind = T, .notify = quorrin_cfg_notify_clock_profile}},
    {"ptp/pi/min-clock-class", {.kind = S, .notify = quorrin_cfg_notify_min_clock_class}},
    {"ptp/pi/leap-second/source-file", {.kind = T, .notify = quorrin_cfg_notify_leap_second_file}},
    {"ptp/pi/leap-second/offset", {.kind = S, .notify = quorrin_cfg_notify_leap_second_offset}},
    {"ptp/pi/leap-second/scheduled-offset/<s>", {.kind = S, .notify = quorrin_cfg_notify_leap_second_offset}},
    {"ptp/pi/virtual-port/enable", {.kind = N, .notify = quorrin_cfg_notify_virtual_port}},
    {"ptp/pi/virtual-port/priority1", {.kind = S, .notify = quorrin_cfg_notify_virtual_port_priority}},
    {"ptp/pi/virtual-port/priority2", {.kind = S, .bg_ident = 1, .notify = quorrin_cfg_notify_virtual_port_priority}},
    {"ptp/pi/virtual-port/clock-class", {.kind = S, .notify = quorrin_cfg_notify_virtual_port_clock_class}},
    {"ptp/pi/virtual-port/clock-accuracy", {.kind = S, .notify = quorrin_cfg_notify_virtual_port_clock_accuracy}},
    {"ptp/pi/virtual-port/oslv", {.kind = S, .notify = quorrin_cfg_notify_virtual_port_clock_oslv}},
    {"ptp/pi/virtual-port/local-priority", {.kind = S, .notify = quorrin_cfg_notify_virtual_port_local_priority}},
    {"ptp/pi/uncalibrated-clock-class", {.kind = T, .notify = quorrin_cfg_notify_uncalibrated_clock_class}},
    {"ptp/pi/uncal-clock-class-deprecated", {.kind = S, .notify = quorrin_cfg_notify_deprecated_uncalibrated_clock_class}},
    {"ptp/pi/uncal-time-traceable-override", {.kind = N, .notify = quorrin_cfg_notify_uncalibrated_time_traceable_override}},
    {"ptp/pi/startup-clock-class", {.kind = S, .notify = quorrin_cfg_notify_startup_clock_class}},
    {"ptp/pi/freerun-clock-class", {.kind = S, .notify = quorrin_cfg_notify_freerun_clock_class}},
    {"ptp/pi/double-failure-clock-class", {.kind = S, .notify = quorrin_cfg_notify_double_failure_clock_class}},
    {"ptp/pi/holdover-clock-class", {.kind = S, .notify = quorrin_cfg_notify_holdover_clock_class}},
    {"ptp/pi/holdover-duration", {.kind = S, .notify = quorrin_cfg_notify_holdover_duration}},
    {"ptp/pi/holdover-time-traceable-override", {.kind = N, .notify = quorrin_cfg_notify_time_traceable_override}},
    {"ptp/pi/physical-layer-freq", {.kind = S, .notify = quorrin_cfg_notify_physical_layer_frequency}},
    {"ptp/pi/network-type", {.kind = S, .notify = quorrin_cfg_notify_network_type}},
    {"ptp/pi/servo-slow-tracking", {.kind = S, .notify = quorrin_cfg_notify_servo_slow_tracking}},
    {"ptp/pi/verify-checksum", {.kind = N, .notify = quorrin_cfg_notify_verify_checksum}},
    {"ptp/pi/transparent-clock/domain/<s>", {.kind = N, .notify = quorrin_cfg_notify_transparent_clock}},
    {"ptp/pi/apts", {.kind = N, .notify = quorrin_cfg_notify_apts}},
    {QL_OPTION_ITEM, {.kind = N, .notify = quorrin_cfg_notify_fsync_ql_option}},
    backend_item_mount_notify(PRF, PTP_CFG_PRF_AZA, nullptr),
    PRF_(PTP_CFG_PRF_TRANSPORT, encap),
    PRF_(PTP_CFG_PRF_CLOCK_OPERATION, clock_operation),
    PRF_(PTP_CFG_PRF_ANNOUNCE_INTERVAL, annce_ivl),
    PRF_(PTP_CFG_PRF_SYNC_INTERVAL, sync_ivl),
    PRF_(PTP_CFG_PRF_ANNOUNCE_TIMEOUT, annce_tout),
    PRF_(PTP_CFG_PRF_DELAY_REQ_INTERVAL, dr_min_ivl),
    PRF_(PTP_CFG_PRF_MULTICAST, multicast),
    PRF_(PTP_CFG_PRF_PORT_STATE, port_state),
    PRF_(PTP_CFG_PRF_LOCAL_PRIORITY, local_priority),
    PRF_(PTP_CFG_PRF_SOURCE_IPV4, source_ip),
    PRF_(PTP_CFG_PRF_SOURCE_IPV6, source_ipv6),
    PRF_(PTP_CFG_PRF_COS, cos),
    PRF_(PTP_CFG_PRF_GENERAL_COS, cos),
    PRF_(PTP_CFG_PRF_EVENT_COS, cos),
    PRF_(PTP_CFG_PRF_DSCP, dscp),
    PRF_(PTP_CFG_PRF_GENERAL_DSCP, dscp),
    PRF_(PTP_CFG_PRF_EVENT_DSCP, dscp),
    PRF_(PTP_CFG_PRF_IPV4_TTL, ttl),
    PRF_(PTP_CFG_PRF_IPV6_HOP_LIMIT, hop_limit),
    PRF_(PTP_CFG_PRF_ANNOUNCE_GRANT, unicast_grant_duration),
    PRF_(PTP_CFG_PRF_SYNC_GRANT, unicast_grant_duration),
    PRF_(PTP_CFG_PRF_DELAY_RESP_GRANT, unicast_grant_duration),
    PRF_(PTP_CFG_PRF_SYNC_TIMEOUT, message_timeout),
    PRF_(PTP_CFG_PRF_DELAY_RESP_TIMEOUT, message_timeout),
    PRF_(PTP_CFG_PRF_INVALID_GRANT, invalid_grant_deny),
    PRF_(PTP_CFG_PRF_DELAY_ASYMMETRY, delay_asymmetry),
    PRF_(PTP_CFG_MASTER_ENABLE, master_enable),
    PRF_(PTP_CFG_MASTER_PRIORITY, master_priority),
    PRF_(PTP_CFG_MASTER_CLOCK_CLASS, master_clock_class),
    PRF_(PTP_CFG_MASTER_NONNEGOTIATED, master_nonnegotiated),
    PRF_(PTP_CFG_MASTER_MULTICAST, master_multicast),
    PRF_(PTP_CFG_MASTER_DELAY_ASYMMETRY, master_delay_asymmetry),
    PRF_(PTP_CFG_SLAVE_NONNEGOTIATED, slave_nonnegotiated),
});
constexpr ptp_cfg_interop_rows_td interop_rows{
    .profile = {.notify = quorrin_cfg_notify_interop_profile},
    .domain = {.notify = quorrin_cfg_notify_interop_domain},
    .priority = {.notify = quorrin_cfg_notify_interop_priority},
    .clock_accuracy = {.notify = quorrin_cfg_notify_interop_clock_accuracy},
    .oslv = {.notify = quorrin_cfg_notify_interop_oslv},
    .clock_class_default = {.notify = quorrin_cfg_notify_interop_clock_class_default},
    .clock_class_mapping = {.notify = quorrin_cfg_notify_interop_clock_class_mapping},
};
constexpr auto items = backend_items_join(
    own_items,
    ptp_cfg_interop_items(PRF, interop_rows));
// clang-format on
#undef PRF_

using schema = backend_schema_of<items, backend_schema_options_td{.root = true}>;
static_assert(schema::rows.size() == 87);

// ---- The batch -------------------------------------------------------------------------------------

// One item handed to its handler: empty values as none, and no batch count.
void dispatch(const nodra_notify_event_info_td *item)
{
    nodra_notify_event_info_td copy = *item;
    if (copy.old_length == 0) {
        copy.old_data = nullptr;
    }
    if (copy.new_length == 0) {
        copy.new_data = nullptr;
    }
    copy.count = 0;
    const zerrno rc = backend_notify(quorrin_cfg_schema(), &copy, &st.any_successful_applies);
    if (rc != 0) {
        QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] Failed to apply configuration item '%s': %s", copy.path,
                          zerr_strerror(rc));
    }
}

} // namespace

// ---- Lifecycle -------------------------------------------------------------------------------------

const backend_schema_td *quorrin_cfg_schema(void)
{
    return &schema::schema;
}

uint64_t quorrin_cfg_generate_clock_id(const ptp_clock_id_type *data)
{
    switch (data->kind) {
    case PTP_CLOCK_ID_ROUTER_MAC: {
        uint8_t mac[PTP_MAC_ADDR_LEN] = {};
        const zerrno rc = lrd_get_lr_mac_address(mac);
        if (rc != 0) {
            QUORRIN_DEBUG_ERR(AREA,
                              "%s: [ERROR] Failed to get the router's MAC address when attempting to generate the "
                              "PTP clock ID: %s",
                              zerr_strerror(rc));
            ptp_trace<PTP_TRACE_QUORRIN_CFG_FAILED_GET_ROUTERS_MAC>({quorrin_det(), quorrin_sum()}, zerr_strerror(rc));
            return 0;
        }
        return mac_to_eui64(mac);
    }
    case PTP_CLOCK_ID_USER_MAC: return mac_to_eui64(data->mac);
    default: return data->eui;
    }
}

zerrno quorrin_cfg_init(event_mgr_type *evm)
{
    const ptp_clock_id_type router{};
    st.clock_id = quorrin_cfg_generate_clock_id(&router);
    st.is_scanning = true;

    zerrno rc = guarded_bind(&st.gl_conn, GL_BIND);
    if (rc != 0) {
        st.gl_conn = nullptr;
        quorrin_stats_increment_event_counter(QUORRIN_GL_EVENT_BIND_GLOBAL_FAILED);
        st.is_scanning = false;
        return init_failed<PTP_TRACE_QUORRIN_CFG_FAILED_BIND_GLOBAL_NODRA_344>(
            "Failed to bind to global Nodra bindpoint: ", rc);
    }
    quorrin_stats_increment_event_counter(QUORRIN_GL_EVENT_BIND_GLOBAL);
    ptp_trace<PTP_TRACE_QUORRIN_MAIN_INIT_CFG_BIND>({quorrin_det()});

    for (const registration_type &r : registrations) {
        rc = guarded_register(st.gl_conn, r.pattern, quorrin_cfg_notify_batch, evm, r.id);
        if (rc != 0) {
            quorrin_stats_increment_event_counter(r.counter_ok == QUORRIN_GL_EVENT_REG_ENABLE_VRFN
                                                      ? QUORRIN_GL_EVENT_REG_ENABLE_VRFN_FAILED
                                                      : QUORRIN_GL_EVENT_REG_GLOBAL_VRFN_FAILED);
            st.is_scanning = false;
            return r.counter_ok == QUORRIN_GL_EVENT_REG_ENABLE_VRFN
                       ? init_failed<PTP_TRACE_QUORRIN_CFG_FAILED_REGISTER_VERIFICATION_GLOBAL>(r.failure_text, rc)
                       : init_failed<PTP_TRACE_QUORRIN_CFG_FAILED_REGISTER_VERIFICATION_PROFILE>(r.failure_text, rc);
        }
        *r.registered = true;
        quorrin_stats_increment_event_counter(r.counter_ok);
    }

    rc = guarded_bind(&st.fsync_conn, FSYNC_BIND);
    if (rc != 0) {
        st.fsync_conn = nullptr;
        st.is_scanning = false;
        return init_failed<PTP_TRACE_QUORRIN_CFG_FAILED_BIND_GLOBAL_FSYNC_357>(
            "Failed to bind to FSync global Nodra bindpoint: ", rc);
    }
    ptp_trace<PTP_TRACE_QUORRIN_MAIN_INIT_CFG_FSYNC_BIND>({quorrin_det()});
    if (!nodra_library_present()) {
        rc = NODRA_ERR_NFN_NO_LIBRARY;
    } else {
        rc = _nodra_register_notification(st.fsync_conn, QL_OPTION_ITEM, ALL_EVENTS, REGISTRATION_OPTION,
                                          backend_notification, evm, evm, quorrin_cfg_schema(), 0, &st.reg_ql);
    }
    if (rc != 0) {
        st.is_scanning = false;
        return init_failed<PTP_TRACE_QUORRIN_CFG_FAILED_REGISTER_NOTIFICATION_FSYNC_358>(
            "Failed to register for notification of FSync GL QL option config: ", rc);
    }
    st.registered_ql = true;
    ptp_trace<PTP_TRACE_QUORRIN_MAIN_INIT_CFG_FSYNC_BIND>({quorrin_det()});
    st.is_scanning = false;
    return 0;
}

void quorrin_cfg_shutdown(void)
{
    st.is_scanning = false;
    st.any_successful_applies = 0;
    quorrin_cfg_applied_config_counter = 0;
    if (st.is_enabled) {
        st.is_enabled = false;
        quorrin_platform_disable();
    }
    if (st.registered_ql) {
        nodra_notification_unregister(st.reg_ql);
        st.registered_ql = false;
        st.reg_ql = 0;
    }
    if (st.fsync_conn != nullptr && nodra_library_present()) {
        nodra_unbind(st.fsync_conn);
    }
    st.fsync_conn = nullptr;
    for (const registration_type &r : registrations) {
        if (*r.registered) {
            nodra_notification_unregister(*r.id);
            *r.registered = false;
            *r.id = 0;
        }
    }
    if (st.gl_conn != nullptr && nodra_library_present()) {
        nodra_unbind(st.gl_conn);
        quorrin_stats_increment_event_counter(QUORRIN_GL_EVENT_UNBIND_GLOBAL);
    }
    st.gl_conn = nullptr;
    // The stored values (and the library probe) start afresh with the next start-up.
    st = cfg_state_type{};
    quorrin_cfg_applied_config_counter = 0;
}

zerrno quorrin_cfg_notify_batch(const nodra_notify_event_info_td *event, void *, const void *)
{
    quorrin_stats_increment_event_counter(QUORRIN_GL_EVENT_NOTIFY_BATCH);
    if (event == nullptr || event->batch == 0) {
        return 0;
    }
    st.any_successful_applies = 0;

    auto **deletes = new (std::nothrow) const nodra_notify_event_info_td *[event->count + 1];
    if (deletes == nullptr) {
        ptp_alloc_failure_report(sizeof(void *) * (event->count + 1), "Batch of delete notifications");
        return 0;
    }
    nodra_notify_batch_td *list = nullptr;
    zerrno rc = nodra_notify_batch_list_create(event, &list);
    if (rc != 0) {
        QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] Failed to create list of notification items: %s", zerr_strerror(rc));
        delete[] deletes;
        return 0;
    }
    rc = nodra_notify_batch_list_start(list);
    if (rc != 0) {
        QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] Failed to start list of notification items: %s", zerr_strerror(rc));
        nodra_notify_batch_list_free(list);
        delete[] deletes;
        return 0;
    }

    // Deletes first, so that a batch that removes and adds the same item ends with it there.
    uint32_t delete_count = 0, total = 0;
    const nodra_notify_event_info_td *item = nullptr;
    bool read_ok = true;
    while ((rc = nodra_notify_batch_list_next(list, &item)) == 0) {
        total++;
        if ((item->event & NODRA_EVENT_DELETE) != 0 && delete_count < event->count &&
            owned_by(item, event->registration)) {
            deletes[delete_count++] = item;
        }
    }
    if (rc != NODRA_ERR_NOT_FOUND) {
        QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] Failed to get next item in batch: %s", zerr_strerror(rc));
        read_ok = false;
    }
    if (read_ok) {
        if (delete_count > 0) {
            QUORRIN_DEBUG(AREA, "%s: Processing %u nodra delete notifications", delete_count);
            for (uint32_t i = 0; i < delete_count; i++) {
                dispatch(deletes[i]);
            }
        }
        if (delete_count < total) {
            QUORRIN_DEBUG(AREA, "%s: Processing NODRA_EVENT_CREATE/SET notifications");
            rc = nodra_notify_batch_list_start(list);
            while (rc == 0 && (rc = nodra_notify_batch_list_next(list, &item)) == 0) {
                if ((item->event & NODRA_EVENT_DELETE) == 0 &&
                    (item->event & (NODRA_EVENT_CREATE | NODRA_EVENT_SET)) != 0 &&
                    owned_by(item, event->registration)) {
                    dispatch(item);
                }
            }
            if (rc != NODRA_ERR_NOT_FOUND) {
                QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] Failed to get next item in batch: %s", zerr_strerror(rc));
            }
        }
    }
    rc = nodra_notify_batch_list_free(list);
    if (rc != 0) {
        QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] Failed to free memory allocated for list: %s", zerr_strerror(rc));
    }
    delete[] deletes;
    return 0;
}

// ---- The applied-item count ------------------------------------------------------------------------

void quorrin_cfg_add(uint32_t event)
{
    if (st.is_scanning || (event & NODRA_EVENT_CREATE) != 0) {
        quorrin_cfg_applied_config_counter++;
    }
    if (!st.is_enabled) {
        st.is_enabled = true;
        quorrin_platform_enable();
    }
}

void quorrin_cfg_remove(void)
{
    if (quorrin_cfg_applied_config_counter == 0) {
        // Never below zero: a delete of an item that was never counted changes nothing.
        QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] Delete of a configuration item while none is counted");
        return;
    }
    quorrin_cfg_applied_config_counter--;
    if (quorrin_cfg_applied_config_counter == 0 && st.is_enabled) {
        st.is_enabled = false;
        quorrin_platform_disable();
    }
}

void quorrin_cfg_set_any_successful_applies(void)
{
    st.any_successful_applies = 1;
}

// ---- Global item handlers --------------------------------------------------------------------------

void quorrin_cfg_notify_enable(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    if (!deleting(event) && !quorrin_platform_supports_ptp()) {
        refuse(event, "the platform does not support PTP");
        return;
    }
    count_event(event);
    QUORRIN_DEBUG(AREA, "%s: Global Enable config %s event.", event_text(event));
    first_trace<PTP_TRACE_QUORRIN_CFG_GLOBAL_ENABLE_CONFIG_EVENT>(quorrin_sum(), event_text(event));
    finished();
}

void quorrin_cfg_notify_log_bmc_changes(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    apply_flag(event, &st.log_bmc_changes, nullptr);
    QUORRIN_DEBUG(AREA, "%s: Global log BMC changes config %s event.", event_text(event));
    ptp_trace<PTP_TRACE_QUORRIN_CFG_GLOBAL_LOG_BMC_CHANGES>({quorrin_sum()}, event_text(event));
    finished();
}

void quorrin_cfg_notify_clock_identity(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    ptp_clock_id_type new_data{}, old_data{};
    uint32_t new_mask = 0, old_mask = 0;
    bool old_present = false;
    if (!deleting(event)) {
        if (!unpack_identity(event->new_data, event->new_length, &new_data, &new_mask)) {
            refuse(event, "the identity cannot be read");
            return;
        }
        if (!ptp_clock_id_data_is_ok(&new_data, new_mask) ||
            (new_data.kind == PTP_CLOCK_ID_EUI64 && new_data.eui == UINT64_MAX)) {
            refuse(event, "not a valid identity");
            return;
        }
    }
    uint64_t old_id = 0;
    if ((event->event & NODRA_EVENT_CREATE) == 0 && event->old_data != nullptr) {
        old_present = unpack_identity(event->old_data, event->old_length, &old_data, &old_mask);
        if (old_present && ptp_clock_id_data_is_ok(&old_data, old_mask)) {
            old_id = quorrin_cfg_generate_clock_id(&old_data);
        }
    }
    count_event(event);
    const uint64_t new_id = quorrin_cfg_generate_clock_id(&new_data); // kind 0 on delete: the router's MAC
    if (new_id != st.clock_id) {
        st.clock_id = new_id;
        if (!st.is_scanning) {
            quorrin_bmc_clock_id_update();
        }
    }
    QUORRIN_DEBUG(AREA, "%s: Clock identity config %s event: %s%lx -> %s%lx.", event_text(event), not_set(old_present),
                  static_cast<unsigned long>(old_id), not_set(!deleting(event)),
                  static_cast<unsigned long>(deleting(event) ? 0 : new_id));
    first_trace<PTP_TRACE_QUORRIN_CFG_CLOCK_IDENTITY_CONFIG_EVENT>(
        quorrin_det(), event_text(event), not_set(old_present), old_id, not_set(!deleting(event)),
        deleting(event) ? uint64_t{0} : new_id);
    finished();
}

void quorrin_cfg_notify_clock_domain(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    single_type v;
    if (!apply_single(event, {ptp_clock_domain_is_ok, 0, quorrin_bmc_domain_update}, &st.domain, &v)) {
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Clock domain config %s event: %s%u -> %s%u.", event_text(event), not_set(v.old_present),
                  v.old_value, not_set(v.new_present), v.new_value);
    single_trace<PTP_TRACE_QUORRIN_CFG_CLOCK_DOMAIN_CONFIG_EVENT>(event, v);
    finished();
}

void quorrin_cfg_notify_clock_priority(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    const bool second = args != nullptr && args->bg_ident == 1;
    single_type v;
    if (!apply_single(event, {ptp_priority_is_ok, DEFAULT_PRIORITY, quorrin_bmc_priority_update},
                      second ? &st.priority2 : &st.priority1, &v)) {
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Clock priority%u config %s event: %s%u -> %s%u.", second ? 2u : 1u, event_text(event),
                  not_set(v.old_present), v.old_value, not_set(v.new_present), v.new_value);
    first_trace<PTP_TRACE_QUORRIN_CFG_CLOCK_PRIORITY_CONFIG_EVENT>(quorrin_det(), second ? 2u : 1u, event_text(event),
                                                                   not_set(v.old_present), v.old_value,
                                                                   not_set(v.new_present), v.new_value);
    finished();
}

void quorrin_cfg_notify_clock_class(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    single_type v;
    if (!apply_single(event, {clock_class_ok, 0, quorrin_bmc_clock_class_update}, &st.clock_class, &v)) {
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Clock class config %s event: %s%u -> %s%u.", event_text(event), not_set(v.old_present),
                  v.old_value, not_set(v.new_present), v.new_value);
    single_trace<PTP_TRACE_QUORRIN_CFG_CLOCK_CLASS_CONFIG_EVENT>(event, v);
    finished();
}

void quorrin_cfg_notify_clock_timescale(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    single_type v;
    if (!apply_single(event, {ptp_timescale_is_ok, PTP_TIMESCALE_ARB, quorrin_bmc_timescale_update}, &st.timescale,
                      &v)) {
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Clock timescale config %s event: %s%s -> %s%s.", event_text(event), not_set(v.old_present),
                  v.old_present ? ptp_clock_timescale_to_str(v.old_value) : "", not_set(v.new_present),
                  v.new_present ? ptp_clock_timescale_to_str(v.new_value) : "");
    first_trace<PTP_TRACE_QUORRIN_CFG_CLOCK_TIMESCALE_CONFIG_EVENT>(
        quorrin_det(), event_text(event), not_set(v.old_present),
        v.old_present ? ptp_clock_timescale_to_str(v.old_value) : "", not_set(v.new_present),
        v.new_present ? ptp_clock_timescale_to_str(v.new_value) : "");
    finished();
}

void quorrin_cfg_notify_clock_time_source(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    single_type v;
    if (!apply_single(event, {ptp_time_source_is_ok, DELETED_TIME_SOURCE, quorrin_bmc_time_source_update},
                      &st.time_source, &v)) {
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Clock time source config %s event: %s%s -> %s%s.", event_text(event),
                  not_set(v.old_present), time_source_name(v.old_value, v.old_present), not_set(v.new_present),
                  time_source_name(v.new_value, v.new_present));
    first_trace<PTP_TRACE_QUORRIN_CFG_CLOCK_TIME_SOURCE_CONFIG>(
        quorrin_det(), event_text(event), not_set(v.old_present), time_source_name(v.old_value, v.old_present),
        not_set(v.new_present), time_source_name(v.new_value, v.new_present));
    finished();
}

void quorrin_cfg_notify_freq_priority(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    single_type v;
    if (!apply_single(
            event,
            {[](uint32_t p) { return ptp_freq_priority_is_ok(p & 0xFF); }, DEFAULT_FREQ_PRIORITY, settings_update},
            &st.freq_priority, &v)) {
        return;
    }
    st.freq_priority.value &= 0xFF;
    QUORRIN_DEBUG(AREA, "%s: Frequency priority config %s event: %s%u -> %s%u.", event_text(event),
                  not_set(v.old_present), v.old_value, not_set(v.new_present), v.new_value);
    single_trace<PTP_TRACE_QUORRIN_CFG_FREQUENCY_PRIORITY_CONFIG_EVENT>(event, v);
    finished();
}

void quorrin_cfg_notify_tod_priority(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    single_type v;
    if (!apply_single(event, {ptp_tod_priority_is_ok, DEFAULT_TOD_PRIORITY, settings_update}, &st.tod_priority, &v)) {
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Time-of-day priority config %s event: %s%u -> %s%u.", event_text(event),
                  not_set(v.old_present), v.old_value, not_set(v.new_present), v.new_value);
    single_trace<PTP_TRACE_QUORRIN_CFG_TIMEOFDAY_PRIORITY_CONFIG_EVENT>(event, v);
    finished();
}

void quorrin_cfg_notify_clock_profile(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    // (profile, telecom clock type); the type is there when mask bit 1 is set.
    auto unpack = [](const void *data, uint32_t length, uint32_t *profile, uint32_t *type, bool *has_type) {
        int32_t p = 0, t = 0;
        uint32_t mask = 0;
        if (data == nullptr ||
            tuple_unpack_mask(static_cast<const tuple_type *>(data), length, "%d%d", &mask, &p, &t) != 0 ||
            (mask & 1u) == 0) {
            return false;
        }
        *profile = static_cast<uint32_t>(p);
        *type = static_cast<uint32_t>(t);
        *has_type = (mask & 2u) != 0;
        return true;
    };
    uint32_t profile = PTP_PROFILE_DEFAULT, type = PTP_TELECOM_CLOCK_T_BC;
    if (!deleting(event)) {
        bool has_type = false;
        if (!unpack(event->new_data, event->new_length, &profile, &type, &has_type)) {
            refuse(event, "the profile cannot be read");
            return;
        }
        bool ok = ptp_clock_profile_is_ok(profile) && quorrin_platform_supports_profile(profile);
        if (ok) {
            switch (profile) {
            case PTP_PROFILE_G8275_1:
            case PTP_PROFILE_G8275_2: ok = has_type && ptp_clock_type_is_ok(type, profile); break;
            case PTP_PROFILE_G8265_1:
                if (has_type) {
                    ok = ptp_clock_type_is_ok(type, profile);
                } else {
                    ok = !quorrin_platform_g8265_requires_clock_type();
                    type = 3; // any port state
                }
                break;
            default:
                ok = !has_type;
                type = PTP_TELECOM_CLOCK_T_BC;
                break;
            }
        }
        if (!ok) {
            refuse(event, "not a valid profile and clock type");
            return;
        }
    }
    uint32_t old_profile = 0, old_type = 0;
    bool old_has_type = false;
    const bool old_present = unpack(event->old_data, event->old_length, &old_profile, &old_type, &old_has_type);
    count_event(event);
    st.profile_set = !deleting(event);
    if (profile != st.profile || type != st.telecom_clock_type) {
        st.profile = profile;
        st.telecom_clock_type = type;
        if (!st.is_scanning) {
            quorrin_bmc_profile_update();
            quorrin_platform_settings_update();
        }
    }
    quorrin_leap_seconds_profile_update(profile);
    std::string old_text = old_present ? ptp_profile_clock_type_to_str(old_profile, old_type) : "Not Set";
    QUORRIN_DEBUG(AREA, "%s: Clock profile config %s event: %s%s -> %s%s.", event_text(event), "", old_text.c_str(), "",
                  deleting(event) ? "Not Set" : ptp_profile_clock_type_to_str(profile, type));
    first_trace<PTP_TRACE_QUORRIN_CFG_CLOCK_PROFILE_CONFIG_EVENT>(
        quorrin_det(), event_text(event), "", old_text.c_str(), "",
        deleting(event) ? "Not Set" : ptp_profile_clock_type_to_str(profile, type));
    finished();
}

void quorrin_cfg_notify_min_clock_class(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    const single_type v = read_single(event);
    if (!deleting(event) && !v.new_present) {
        refuse(event, "no value");
        return;
    }
    count_event(event);
    QUORRIN_DEBUG(AREA, "%s: Min clock class config %s event: %u", event_text(event), v.new_value);
    ptp_trace<PTP_TRACE_QUORRIN_CFG_MIN_CLOCK_CLASS_CONFIG>({quorrin_det()}, event_text(event), v.new_value);
}

void quorrin_cfg_notify_leap_second_file(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    auto unpack = [](const void *data, uint32_t length, const char **url, uint32_t *days) {
        int32_t d = 0;
        uint32_t mask = 0;
        *url = nullptr;
        if (data == nullptr ||
            tuple_unpack_mask(static_cast<const tuple_type *>(data), length, "%S%d", &mask, url, &d) != 0 ||
            (mask & 1u) == 0) {
            return false;
        }
        *days = (mask & 2u) != 0 ? static_cast<uint32_t>(d) : 0;
        return true;
    };
    if (!quorrin_platform_supports_leap_seconds()) {
        refuse(event, "the platform does not support leap seconds");
        return;
    }
    const char *url = nullptr, *old_url = nullptr;
    uint32_t days = 0, old_days = 0;
    const bool old_present = unpack(event->old_data, event->old_length, &old_url, &old_days);
    if (!deleting(event)) {
        if (!unpack(event->new_data, event->new_length, &url, &days)) {
            refuse(event, "the source file cannot be read");
            return;
        }
        count_event(event);
        quorrin_leap_seconds_file_cfg_apply(url, days);
    } else {
        quorrin_leap_seconds_file_cfg_delete();
        quorrin_cfg_remove();
    }
    QUORRIN_DEBUG(AREA, "%s: Leap second file config %s event: %s %u -> %s %u.", event_text(event),
                  old_present ? old_url : "(Not Set)", old_days, url != nullptr ? url : "(Not Set)", days);
    first_trace<PTP_TRACE_QUORRIN_CFG_LEAP_SECOND_FILE_CONFIG>(quorrin_det(), event_text(event),
                                                               old_present ? old_url : "(Not Set)", old_days,
                                                               url != nullptr ? url : "(Not Set)", days);
    finished();
}

void quorrin_cfg_notify_leap_second_offset(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    if (!quorrin_platform_supports_leap_seconds()) {
        refuse(event, "the platform does not support leap seconds");
        return;
    }
    time_t start = 0;
    const bgen_arg_td *date = args != nullptr ? bgen_args_get(args, 0, BGEN_ARG_STRING) : nullptr;
    if (date != nullptr) {
        struct tm tm {};
        const char *end = strptime(date->text, "%Y-%m-%d", &tm);
        start = end != nullptr && *end == '\0' ? timegm(&tm) : -1;
        const char *back = start >= 0 ? ptp_date_to_str(start, nullptr) : nullptr;
        if (back == nullptr || std::strcmp(back, date->text) != 0) {
            refuse(event, "not a date");
            return;
        }
    }
    const single_type v = read_single(event);
    if (!deleting(event)) {
        if (!v.new_present) {
            refuse(event, "no value");
            return;
        }
        count_event(event);
        quorrin_leap_seconds_cfg_offset_apply(static_cast<int16_t>(v.new_value), start);
    } else {
        quorrin_leap_seconds_cfg_offset_delete(start);
        quorrin_cfg_remove();
    }
    QUORRIN_DEBUG(AREA, "%s: Leap second offset config %s event: %u(%f)%s -> %u(%f)%s", event_text(event), v.old_value,
                  static_cast<double>(start), v.old_present ? "" : " (Not Set)", v.new_value,
                  static_cast<double>(start), v.new_present ? "" : " (Not Set)");
    first_trace<PTP_TRACE_QUORRIN_CFG_LEAP_SECOND_OFFSET_CONFIG>(
        quorrin_det(), event->event,
        ptp_trace_leap_offset_pack(static_cast<int16_t>(v.old_value), static_cast<uint64_t>(start), v.old_present),
        ptp_trace_leap_offset_pack(static_cast<int16_t>(v.new_value), static_cast<uint64_t>(start), v.new_present));
    finished();
}

void quorrin_cfg_notify_virtual_port(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    st.vp_configured = !deleting(event);
    if (deleting(event)) {
        if (!st.is_scanning) {
            quorrin_bmc_virtual_port_configured(false);
        }
        quorrin_cfg_remove();
    } else {
        quorrin_cfg_add(event->event);
        if (!st.is_scanning) {
            quorrin_bmc_virtual_port_configured(true);
        }
    }
    first_trace<PTP_TRACE_QUORRIN_CFG_VIRTUAL_PORT_ENABLE_CONFIG>(quorrin_sum(), event_text(event));
    finished();
}

void quorrin_cfg_notify_virtual_port_priority(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    const bool second = args != nullptr && args->bg_ident == 1;
    value_type *stored = second ? &st.vp_priority2 : &st.vp_priority1;
    const value_type before = *stored;
    single_type v;
    if (!apply_single(event, {ptp_priority_is_ok, DEFAULT_PRIORITY, nullptr}, stored, &v)) {
        return;
    }
    vp_update(event, second ? QUORRIN_BMC_VP_PRIORITY2 : QUORRIN_BMC_VP_PRIORITY1, before, *stored);
    QUORRIN_DEBUG(AREA, "%s: Virtual Port priority%u config %s event: %s%u -> %s%u.", second ? 2u : 1u,
                  event_text(event), not_set(v.old_present), v.old_value, not_set(v.new_present), v.new_value);
    first_trace<PTP_TRACE_QUORRIN_CFG_VIRTUAL_PORT_PRIORITY_CONFIG>(quorrin_det(), second ? 2u : 1u, event_text(event),
                                                                    not_set(v.old_present), v.old_value,
                                                                    not_set(v.new_present), v.new_value);
    finished();
}

namespace {

// The four single-valued virtual-port fields.
template <const ptp_trace_point_type &P>
void vp_field(const nodra_notify_event_info_td *event, bool (*check)(uint32_t), value_type *stored,
              quorrin_bmc_vp_field_type field, const char *name)
{
    const value_type before = *stored;
    single_type v;
    if (!apply_single(event, {check, 0, nullptr}, stored, &v)) {
        return;
    }
    vp_update(event, field, before, *stored);
    QUORRIN_DEBUG(AREA, "%s: Virtual Port %s config %s event: %s%u -> %s%u.", name, event_text(event),
                  not_set(v.old_present), v.old_value, not_set(v.new_present), v.new_value);
    single_trace<P>(event, v);
    finished();
}

// The configured clock classes that only re-derive the local clock.
void class_item(const nodra_notify_event_info_td *event, value_type *stored, single_type *v, bool *ok)
{
    *ok = apply_single(event, {clock_class_ok, 0, quorrin_bmc_clock_class_update}, stored, v);
}

} // namespace

void quorrin_cfg_notify_virtual_port_clock_class(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    vp_field<PTP_TRACE_QUORRIN_CFG_VIRTUAL_PORT_CLOCK_CLASS>(event, clock_class_ok, &st.vp_clock_class,
                                                             QUORRIN_BMC_VP_CLOCK_CLASS, "clock class");
}

void quorrin_cfg_notify_virtual_port_clock_accuracy(const nodra_notify_event_info_td *event, void *,
                                                    const bgen_args_td *)
{
    vp_field<PTP_TRACE_QUORRIN_CFG_VIRTUAL_PORT_CLOCK_ACCURACY>(event, ptp_clock_accuracy_is_ok, &st.vp_clock_accuracy,
                                                                QUORRIN_BMC_VP_CLOCK_ACCURACY, "clock accuracy");
}

void quorrin_cfg_notify_virtual_port_clock_oslv(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    vp_field<PTP_TRACE_QUORRIN_CFG_VIRTUAL_PORT_CLOCK_OSLV>(event, ptp_clock_oslv_is_ok, &st.vp_oslv,
                                                            QUORRIN_BMC_VP_OSLV, "oslv");
}

void quorrin_cfg_notify_virtual_port_local_priority(const nodra_notify_event_info_td *event, void *,
                                                    const bgen_args_td *)
{
    vp_field<PTP_TRACE_QUORRIN_CFG_VIRTUAL_PORT_LOCAL_PRIORITY>(event, ptp_local_priority_is_ok, &st.vp_local_priority,
                                                                QUORRIN_BMC_VP_LOCAL_PRIORITY, "local priority");
}

void quorrin_cfg_notify_uncalibrated_clock_class(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    // (class, unless-from-holdover); the flag counts only when mask bit 1 is set.
    auto unpack = [](const void *data, uint32_t length, uint32_t *cls, uint32_t *flag) {
        int32_t c = 0, f = 0;
        uint32_t mask = 0;
        if (data == nullptr || length == 0 ||
            tuple_unpack_mask(static_cast<const tuple_type *>(data), length, "%d%d", &mask, &c, &f) != 0 ||
            (mask & 1u) == 0) {
            return false;
        }
        *cls = static_cast<uint32_t>(c);
        *flag = (mask & 2u) != 0 ? static_cast<uint32_t>(f) : 0;
        return true;
    };
    uint32_t cls = 0, flag = 0, old_cls = 0, old_flag = 0;
    if (!deleting(event) && (!unpack(event->new_data, event->new_length, &cls, &flag) || !ptp_clock_class_is_ok(cls))) {
        refuse(event, "not a valid clock class");
        return;
    }
    const bool old_present = unpack(event->old_data, event->old_length, &old_cls, &old_flag);
    count_event(event);
    const value_type now = deleting(event) ? value_type{0, false} : value_type{cls, true};
    const uint32_t now_flag = deleting(event) ? 0 : flag;
    if (now != st.uncalibrated_clock_class || now_flag != st.unless_from_holdover) {
        st.uncalibrated_clock_class = now;
        st.unless_from_holdover = now_flag;
        if (!st.is_scanning) {
            quorrin_bmc_clock_class_update();
        }
    }
    QUORRIN_DEBUG(AREA, "%s: Uncalibrated clock class config %s event: %s(%u,%s) -> %s(%u,%s).", event_text(event),
                  not_set_lower(old_present), old_cls, old_flag != 0 ? "TRUE" : "FALSE",
                  not_set_lower(!deleting(event)), cls, flag != 0 ? "TRUE" : "FALSE");
    first_trace<PTP_TRACE_QUORRIN_CFG_UNCALIBRATED_CLOCK_CLASS_CONFIG>(
        quorrin_det(), event_text(event), not_set_lower(old_present), old_cls, old_flag != 0 ? "TRUE" : "FALSE",
        not_set_lower(!deleting(event)), cls, flag != 0 ? "TRUE" : "FALSE");
    finished();
}

void quorrin_cfg_notify_deprecated_uncalibrated_clock_class(const nodra_notify_event_info_td *event, void *,
                                                            const bgen_args_td *)
{
    single_type v;
    bool ok = false;
    class_item(event, &st.deprecated_uncalibrated_clock_class, &v, &ok);
    if (!ok) {
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Deprecated uncalibrated clock class config %s event: %s%u -> %s%u", event_text(event),
                  not_set_lower(v.old_present), v.old_value, not_set_lower(v.new_present), v.new_value);
    single_trace<PTP_TRACE_QUORRIN_CFG_DEPRECATED_UNCALIBRATED_CLOCK_CLASS>(event, v, not_set_lower);
    finished();
}

void quorrin_cfg_notify_uncalibrated_time_traceable_override(const nodra_notify_event_info_td *event, void *,
                                                             const bgen_args_td *)
{
    apply_flag(event, &st.uncal_time_traceable_override, quorrin_bmc_time_traceable_update);
    QUORRIN_DEBUG(AREA, "%s: Uncalibrated time-traceable override config %s event.", event_text(event));
    first_trace<PTP_TRACE_QUORRIN_CFG_UNCALIBRATED_TIMETRACEABLE_OVERRIDE_CONFIG>(quorrin_det(), event_text(event));
    finished();
}

void quorrin_cfg_notify_startup_clock_class(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    single_type v;
    bool ok = false;
    class_item(event, &st.startup_clock_class, &v, &ok);
    if (ok) {
        QUORRIN_DEBUG(AREA, "%s: Startup clock class config %s event: %s%u -> %s%u.", event_text(event),
                      not_set(v.old_present), v.old_value, not_set(v.new_present), v.new_value);
        single_trace<PTP_TRACE_QUORRIN_CFG_STARTUP_CLOCK_CLASS_CONFIG>(event, v);
        finished();
    }
}

void quorrin_cfg_notify_freerun_clock_class(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    single_type v;
    bool ok = false;
    class_item(event, &st.freerun_clock_class, &v, &ok);
    if (ok) {
        QUORRIN_DEBUG(AREA, "%s: Freerun clock class config %s event: %s%u -> %s%u.", event_text(event),
                      not_set(v.old_present), v.old_value, not_set(v.new_present), v.new_value);
        single_trace<PTP_TRACE_QUORRIN_CFG_FREERUN_CLASS_CONFIG_EVENT>(event, v);
        finished();
    }
}

void quorrin_cfg_notify_double_failure_clock_class(const nodra_notify_event_info_td *event, void *,
                                                   const bgen_args_td *)
{
    single_type v;
    bool ok = false;
    class_item(event, &st.double_failure_clock_class, &v, &ok);
    if (ok) {
        QUORRIN_DEBUG(AREA, "%s: Double failure clock class config %s event: %s%u -> %s%u.", event_text(event),
                      not_set(v.old_present), v.old_value, not_set(v.new_present), v.new_value);
        single_trace<PTP_TRACE_QUORRIN_CFG_DOUBLEFAILURE_CLOCK_CLASS_CONFIG>(event, v);
        finished();
    }
}

void quorrin_cfg_notify_holdover_clock_class(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    single_type v;
    bool ok = false;
    class_item(event, &st.holdover_clock_class, &v, &ok);
    if (ok) {
        QUORRIN_DEBUG(AREA, "%s: Holdover clock class config %s event: %s%u -> %s%u.", event_text(event),
                      not_set(v.old_present), v.old_value, not_set(v.new_present), v.new_value);
        single_trace<PTP_TRACE_QUORRIN_CFG_HOLDOVER_CLOCK_CLASS_CONFIG>(event, v);
        finished();
    }
}

void quorrin_cfg_notify_holdover_duration(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    single_type v;
    if (!apply_single(event,
                      {[](uint32_t seconds) {
                           uint32_t min = 0, max = 0;
                           return quorrin_platform_get_holdover_duration_range(&min, &max) && seconds >= min &&
                                  seconds <= max;
                       },
                       0, settings_update},
                      &st.holdover_duration, &v)) {
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Holdover duration config %s event: %s%u -> %s%u.", event_text(event),
                  not_set(v.old_present), v.old_value, not_set(v.new_present), v.new_value);
    single_trace<PTP_TRACE_QUORRIN_CFG_HOLDOVER_DURATION_CONFIG_EVENT>(event, v);
    finished();
}

void quorrin_cfg_notify_time_traceable_override(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    apply_flag(event, &st.holdover_time_traceable_override, quorrin_bmc_time_traceable_update);
    QUORRIN_DEBUG(AREA, "%s: Holdover time-traceable override config %s event.", event_text(event));
    first_trace<PTP_TRACE_QUORRIN_CFG_HOLDOVER_TIMETRACEABLE_OVERRIDE_CONFIG>(quorrin_det(), event_text(event));
    finished();
}

void quorrin_cfg_notify_physical_layer_frequency(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    const value_type before = st.physical_layer_freq;
    single_type v;
    if (!apply_single(event, {nullptr, 0, nullptr}, &st.physical_layer_freq, &v)) {
        return;
    }
    // The servo's options follow the frequency also during the scan: selection starts from them.
    if (before != st.physical_layer_freq && quorrin_bmc_network_options_update() && !st.is_scanning) {
        quorrin_platform_settings_update();
    }
    QUORRIN_DEBUG(AREA, "%s: Physical layer frequency config %s event.", event_text(event));
    first_trace<PTP_TRACE_QUORRIN_CFG_PHYSICAL_LAYER_FREQUENCY_CONFIG>(quorrin_det(), event_text(event));
    finished();
}

void quorrin_cfg_notify_network_type(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    const value_type before = st.network_type;
    single_type v;
    if (!apply_single(event, {nullptr, 0, nullptr}, &st.network_type, &v)) {
        return;
    }
    if (before != st.network_type && !st.is_scanning && quorrin_bmc_network_options_update()) {
        quorrin_platform_settings_update();
    }
    QUORRIN_DEBUG(AREA, "%s: Network type config %s event.", event_text(event));
    first_trace<PTP_TRACE_QUORRIN_CFG_NETWORK_TYPE_CONFIG_EVENT>(quorrin_det(), event_text(event));
    finished();
}

void quorrin_cfg_notify_servo_slow_tracking(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    single_type v;
    if (!apply_single(event,
                      {[](uint32_t rate) {
                           return quorrin_platform_supports_servo_slow_tracking() && rate >= 8 && rate <= 984 &&
                                  rate % 8 == 0;
                       },
                       0, settings_update},
                      &st.servo_slow_tracking, &v)) {
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Servo slow tracking config %s event: %s%u -> %s%u.", event_text(event),
                  not_set(v.old_present), v.old_value, not_set(v.new_present), v.new_value);
    single_trace<PTP_TRACE_QUORRIN_CFG_SERVO_SLOW_TRACKING_CONFIG>(event, v);
    finished();
}

void quorrin_cfg_notify_verify_checksum(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    apply_flag(event, &st.verify_checksum, nullptr);
    QUORRIN_DEBUG(AREA, "%s: Verify checksum config %s event occurred", event_text(event));
    first_trace<PTP_TRACE_QUORRIN_CFG_VERIFY_CHECKSUM_EVENT_OCCURRED>(quorrin_det(), event_text(event));
    finished();
}

void quorrin_cfg_notify_transparent_clock(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    const bgen_arg_td *domain = args != nullptr ? bgen_args_get(args, 0, BGEN_ARG_STRING) : nullptr;
    if (domain == nullptr || std::strcmp(domain->text, "all") != 0) {
        refuse(event, "the transparent-clock domain is not \"all\"");
        return;
    }
    if (deleting(event)) {
        quorrin_platform_transparent_clock_update(false);
        quorrin_cfg_remove();
    } else {
        if (!quorrin_platform_supports_transp_clock()) {
            refuse(event, "the platform has no transparent clock");
            return;
        }
        quorrin_cfg_add(event->event);
        quorrin_platform_transparent_clock_update(true);
    }
    finished();
}

void quorrin_cfg_notify_apts(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    apply_flag(event, &st.apts, quorrin_bmc_apts_update);
    QUORRIN_DEBUG(AREA, "%s: Assisted partial timing support config %s event.", event_text(event));
    first_trace<PTP_TRACE_QUORRIN_CFG_ASSISTED_PARTIAL_TIMING_SUPPORT>(quorrin_det(), event_text(event));
    finished();
}

void quorrin_cfg_notify_fsync_ql_option(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    // A new item comes as Create alone: its value counts as much as a Set's.
    uint32_t option = QUORRIN_CFG_QL_OPTION_1;
    uint32_t value = 0;
    if (giving_value(event) && read_u32(event->new_data, event->new_length, &value)) {
        option = value;
    }
    if (option < QUORRIN_CFG_QL_OPTION_1 || option > QUORRIN_CFG_QL_OPTION_2_2) {
        refuse(event, "not a QL option");
        return;
    }
    if (option != st.ql_option) {
        st.ql_option = option;
        if (!st.is_scanning) {
            quorrin_bmc_ql_option_update();
        }
    }
    QUORRIN_DEBUG(AREA, "%s: FSync QL option config %s event. New value %s", event_text(event),
                  ql_option_to_str(option));
    ptp_trace<PTP_TRACE_QUORRIN_CFG_FSYNC_QL_OPTION_CONFIG>({quorrin_det()}, event_text(event),
                                                            ql_option_to_str(option));
}

// ---- Getters -------------------------------------------------------------------------------------

uint32_t quorrin_cfg_get_applied_config_counter(void)
{
    return quorrin_cfg_applied_config_counter;
}
bool quorrin_cfg_is_scanning(void)
{
    return st.is_scanning;
}
bool quorrin_cfg_is_enabled(void)
{
    return st.is_enabled;
}
bool quorrin_cfg_get_log_bmc_changes(void)
{
    return st.log_bmc_changes;
}
uint32_t quorrin_cfg_get_any_successful_applies(void)
{
    return st.any_successful_applies;
}
bool quorrin_cfg_is_profile_set(void)
{
    return st.profile_set;
}
bool quorrin_cfg_is_priority1_set(void)
{
    return st.priority1.set;
}
bool quorrin_cfg_is_priority2_set(void)
{
    return st.priority2.set;
}
uint32_t quorrin_cfg_get_profile(void)
{
    return st.profile;
}
uint32_t quorrin_cfg_get_telecom_clock_type(void)
{
    return st.telecom_clock_type;
}
uint8_t quorrin_cfg_get_domain(void)
{
    return static_cast<uint8_t>(st.domain.value);
}
uint64_t quorrin_cfg_get_clock_id(void)
{
    return st.clock_id;
}
uint8_t quorrin_cfg_get_priority1(void)
{
    return static_cast<uint8_t>(st.priority1.value);
}
uint8_t quorrin_cfg_get_priority2(void)
{
    return static_cast<uint8_t>(st.priority2.value);
}
uint32_t quorrin_cfg_get_servo_slow_tracking(void)
{
    return st.servo_slow_tracking.value;
}

namespace {
void get_class(const value_type &v, bool *set, uint8_t *clock_class)
{
    if (set != nullptr) {
        *set = v.set;
    }
    if (clock_class != nullptr) {
        *clock_class = static_cast<uint8_t>(v.value);
    }
}
} // namespace

void quorrin_cfg_get_clock_class(bool *set, uint8_t *clock_class)
{
    get_class(st.clock_class, set, clock_class);
}
void quorrin_cfg_get_startup_clock_class(bool *set, uint8_t *clock_class)
{
    get_class(st.startup_clock_class, set, clock_class);
}
void quorrin_cfg_get_freerun_clock_class(bool *set, uint8_t *clock_class)
{
    get_class(st.freerun_clock_class, set, clock_class);
}
void quorrin_cfg_get_double_failure_clock_class(bool *set, uint8_t *clock_class)
{
    get_class(st.double_failure_clock_class, set, clock_class);
}
void quorrin_cfg_get_holdover_clock_class(bool *set, uint8_t *clock_class)
{
    get_class(st.holdover_clock_class, set, clock_class);
}
void quorrin_cfg_get_uncalibrated_clock_class(bool *set, uint8_t *clock_class, uint32_t *unless_from_holdover)
{
    const bool deprecated = !st.uncalibrated_clock_class.set && st.deprecated_uncalibrated_clock_class.set;
    get_class(deprecated ? st.deprecated_uncalibrated_clock_class : st.uncalibrated_clock_class, set, clock_class);
    if (unless_from_holdover != nullptr) {
        *unless_from_holdover = deprecated ? 0 : st.unless_from_holdover;
    }
}
void quorrin_cfg_get_holdover_duration(bool *set, uint32_t *seconds)
{
    *set = st.holdover_duration.set;
    *seconds = st.holdover_duration.value;
}
bool quorrin_cfg_get_holdover_time_traceable_override(void)
{
    return st.holdover_time_traceable_override;
}
bool quorrin_cfg_get_uncal_time_traceable_override(void)
{
    return st.uncal_time_traceable_override;
}
void quorrin_cfg_get_timescale(bool *set, uint8_t *timescale)
{
    get_class(st.timescale, set, timescale);
}
void quorrin_cfg_get_time_source(bool *set, uint8_t *time_source)
{
    get_class(st.time_source, set, time_source);
}
uint8_t quorrin_cfg_get_freq_priority(void)
{
    return static_cast<uint8_t>(st.freq_priority.value);
}
uint8_t quorrin_cfg_get_tod_priority(void)
{
    return static_cast<uint8_t>(st.tod_priority.value);
}
uint32_t quorrin_cfg_get_physical_layer_freq(void)
{
    return st.physical_layer_freq.value;
}
uint32_t quorrin_cfg_get_network_type(void)
{
    return st.network_type.value;
}
uint32_t quorrin_cfg_get_ql_option(void)
{
    return st.ql_option;
}
bool quorrin_cfg_get_verify_checksum(void)
{
    return st.verify_checksum;
}
bool quorrin_cfg_get_apts(void)
{
    return st.apts;
}
void quorrin_cfg_get_applied_globals(quorrin_cfg_applied_globals_type *record)
{
    *record = {};
    record->configured = st.vp_configured;
    // In the order of the presence bits.
    const value_type *fields[QUORRIN_BMC_VP_FIELD_COUNT] = {&st.vp_priority1,   &st.vp_priority2,
                                                            &st.vp_clock_class, &st.vp_clock_accuracy,
                                                            &st.vp_oslv,        &st.vp_local_priority};
    for (uint32_t f = 0; f < QUORRIN_BMC_VP_FIELD_COUNT; f++) {
        if (fields[f]->set) {
            record->mask |= 1u << f;
        }
    }
    if (st.vp_priority1.set) {
        record->priority1 = static_cast<uint8_t>(st.vp_priority1.value);
    }
    if (st.vp_priority2.set) {
        record->priority2 = static_cast<uint8_t>(st.vp_priority2.value);
    }
    if (st.vp_clock_class.set) {
        record->clock_class = static_cast<uint8_t>(st.vp_clock_class.value);
    }
    if (st.vp_clock_accuracy.set) {
        record->clock_accuracy = static_cast<uint8_t>(st.vp_clock_accuracy.value);
    }
    if (st.vp_oslv.set) {
        record->oslv = static_cast<uint16_t>(st.vp_oslv.value);
    }
    if (st.vp_local_priority.set) {
        record->local_priority = static_cast<uint8_t>(st.vp_local_priority.value);
    }
}
