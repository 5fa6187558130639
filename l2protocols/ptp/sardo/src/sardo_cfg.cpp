// The global verifier's configuration: the registrations for the global PTP subtrees under
// "/cfg/gl/", the verify and apply batches, the count of applied items that decides the exit, and
// the rule of every global item. The values are applied by the controller and the agents; the
// apply handlers here only track what the rules of later items depend on.
#include "sardo_cfg.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "nodra_schema.h"
#include "ptp_alloc.h"
#include "ptp_cfg_schema.h"
#include "ptp_cfg_utils.h"
#include "ptp_strings.h"
#include "ptp_syslog.h"
#include "ptp_types.h"
#include "ptp_zerr_codes.h"
#include "sardo_debug.h"
#include "sardo_main.h"
#include "sardo_platform.h"
#include "sysmgr.h"
#include "tuple.h"

namespace {

constexpr uint32_t AREA = SARDO_DEBUG_CONFIG;

constexpr const char *GL_BIND = "/cfg/gl/";
constexpr const char *ENABLE_ITEM = "ptp/pi/enable";
constexpr uint32_t ALL_EVENTS = NODRA_EVENT_CREATE | NODRA_EVENT_SET | NODRA_EVENT_DELETE;
constexpr uint32_t REGISTRATION_OPTIONS = 20;
// The database hands out the batches of one commit in increasing order: the global enable's batch
// goes first, so that the items of the same commit are verified with PTP enabled.
constexpr int32_t ORDER_ENABLE = 0;
constexpr int32_t ORDER_SUBTREES = 1;
constexpr int64_t NOT_REGISTERED = -1;

// The last apply of the batch that ends the process, completed by sardo_cfg_shutdown.
struct shutdown_apply_type {
    const nodra_verify_event_info_td *event = nullptr;
    zerrno result = 0;
};
shutdown_apply_type sardo_cfg_shutdown_apply;

struct cfg_state_type {
    bool enabled = false;     // as last applied
    int32_t item_count = 0;   // applied items other than the global enable
    bool registering = false; // the registrations replay the stored items
    int64_t registration_enable = NOT_REGISTERED;
    int64_t registration_subtrees = NOT_REGISTERED;
    nodra_conn_td *bind = nullptr;
    // A global enable verified in the commit being verified (its sequence number), with the value it
    // gives: the commit's other items are verified against it, since the flag moves only at apply.
    bool enable_pending = false;
    uint32_t enable_pending_sequence = 0;
    bool enable_pending_value = false;
    // Leap-second sources: applied, and verified in the batch under way.
    bool file_applied = false;
    bool file_pending = false;
    uint32_t offsets_applied = 0; // the offset item and each scheduled offset
    bool offset_pending = false;
};
cfg_state_type st;

// ---- Values and texts -------------------------------------------------------------------------------

bool deleting(const nodra_verify_event_info_td *event)
{
    return (event->event & NODRA_EVENT_DELETE) != 0;
}

bool enabled_for(const nodra_verify_event_info_td *event)
{
    if (st.enable_pending && event->sequence == st.enable_pending_sequence) {
        return st.enable_pending_value;
    }
    return st.enabled;
}

bool read_u32(const void *data, uint32_t length, uint32_t *out)
{
    if (data == nullptr || length != sizeof(uint32_t)) {
        return false;
    }
    std::memcpy(out, data, sizeof(uint32_t));
    return true;
}

bgen_value_td new_value(const nodra_verify_event_info_td *event)
{
    return bgen_value_td{event->new_data, event->new_length};
}

// Hands out a copy of `text` as the item's error text; nothing on the apply path (no result
// record). A failed copy is reported and leaves the text unset.
void give_text(char **error_text, const nodra_verify_result_td *result, const std::string &text)
{
    if (result == nullptr || error_text == nullptr) {
        return;
    }
    *error_text = ptp_strdup(text.c_str(), "Config error message");
}

zerrno refuse(zerrno code, char **error_text, nodra_verify_result_td *result, const std::string &text)
{
    if (result != nullptr) {
        result->result = NODRA_VERIFY_RESULT_FAIL;
    }
    give_text(error_text, result, text);
    return code;
}

zerrno pass(nodra_verify_result_td *result)
{
    if (result != nullptr) {
        result->result = NODRA_VERIFY_RESULT_PASS;
    }
    return 0;
}

std::string not_enabled_text(const char *label)
{
    return std::string("Failed to verify the ") + label + " value. PTP has not been globally enabled";
}

// Steps 1 and 2 of the common rule: true when the item goes on to its check; else *rc is the
// outcome (0 for a delete).
bool common_rule(const nodra_verify_event_info_td *event, char **error_text, nodra_verify_result_td *result,
                 const std::string &not_enabled, zerrno *rc)
{
    if (deleting(event)) {
        *rc = pass(result);
        return false;
    }
    if (!enabled_for(event)) {
        *rc = refuse(PTP_ZERR_CFG_GLOBAL_ENABLE, error_text, result, not_enabled);
        return false;
    }
    return true;
}

// ---- Items with a plain value rule ----------------------------------------------------------------

bool below_256(uint32_t value)
{
    return value < 256;
}

// label: the word of the not-enabled text; own: the text that replaces it. ok null: no value check.
struct value_rule_type {
    const char *path;
    const char *label;
    const char *own;
    bool (*ok)(uint32_t);
    zerrno code;
    const char *text;
};

// clang-format off
const value_rule_type value_rules[] = {
    {"ptp/pi/clock/domain", "clock domain", nullptr, ptp_clock_domain_is_ok, PTP_ZERR_CFG_DOMAIN,
     "Failed to verify the clock domain value. The clock domain must be a value within the specified range"},
    {"ptp/pi/clock/priority1", "clock priority", nullptr, ptp_priority_is_ok, PTP_ZERR_CFG_PRIORITY,
     "Failed to verify the clock priority value. The clock priority must be a value within the specified range"},
    {"ptp/pi/clock/priority2", "clock priority", nullptr, ptp_priority_is_ok, PTP_ZERR_CFG_PRIORITY,
     "Failed to verify the clock priority value. The clock priority must be a value within the specified range"},
    {"ptp/pi/clock/clock-class", "clock class", nullptr, ptp_clock_class_is_ok, PTP_ZERR_CFG_CLOCK_CLASS,
     "Failed to verify the clock class value. The clock class must be a value within the specified range"},
    {"ptp/pi/clock/timescale", "clock timescale", nullptr, ptp_timescale_is_ok, PTP_ZERR_CFG_TIMESCALE,
     "Failed to verify the clock timescale value. The value must be PTP or ARB."},
    {"ptp/pi/clock/timesource", "clock time source", nullptr, ptp_time_source_is_ok, PTP_ZERR_CFG_TIME_SOURCE,
     "Failed to verify the clock time source value."},
    {"ptp/pi/frequencypriority", "freq priority", nullptr, ptp_freq_priority_is_ok, PTP_ZERR_CFG_FREQ_PRIORITY,
     "Failed to verify the frequency priority value. The frequency priority must be a value within the specified range"},
    {"ptp/pi/timeofdaypriority", "tod priority", nullptr, ptp_tod_priority_is_ok, PTP_ZERR_CFG_TOD_PRIORITY,
     "Failed to verify the time-of-day priority value. The time-of-day priority must be a value within the specified range"},
    {"ptp/pi/min-clock-class", "min clock class", nullptr, below_256, PTP_ZERR_CFG_CLOCK_CLASS,
     "Failed to verify the minimum clock class value. The minimum clock class must be a value within the specified range."},
    {"ptp/pi/startup-clock-class", "startup clock class", nullptr, below_256, PTP_ZERR_CFG_CLOCK_CLASS,
     "Failed to verify the startup clock class value. The startup clock class must be a value within the specified range"},
    {"ptp/pi/freerun-clock-class", "freerun clock class", nullptr, below_256, PTP_ZERR_CFG_CLOCK_CLASS,
     "Failed to verify the freerun clock class value. The freerun clock class must be a value within the specified range"},
    {"ptp/pi/double-failure-clock-class", "double failure clock class", nullptr, below_256, PTP_ZERR_CFG_CLOCK_CLASS,
     "Failed to verify the double failure clock class value. The double failure clock class must be a value within the specified range"},
    {"ptp/pi/holdover-clock-class", "holdover clock class", nullptr, below_256, PTP_ZERR_CFG_CLOCK_CLASS,
     "Failed to verify the holdover clock class value. The holdover clock class must be a value within the specified range"},
    {"ptp/pi/uncal-clock-class-deprecated", "deprecated uncalibrated clock class", nullptr, below_256, PTP_ZERR_CFG_CLOCK_CLASS,
     "Failed to verify the deprecated uncalibrated clock class value. The clock class must be a value within the specified range"},
    {"ptp/pi/physical-layer-freq", nullptr,
     "Failed to verify the physical layer frequency item. PTP must be globally enabled", nullptr, 0, nullptr},
    {"ptp/pi/network-type", nullptr, "Failed to verify the network type item. PTP must be globally enabled", nullptr, 0,
     nullptr},
    {"ptp/pi/holdover-time-traceable-override", nullptr,
     "Failed to verify the holdover time-traceability override item. PTP must be globally enabled", nullptr, 0, nullptr},
    {"ptp/pi/uncal-time-traceable-override", nullptr,
     "Failed to verify the uncalibrated time-traceability override item. PTP must be globally enabled", nullptr, 0,
     nullptr},
    {"ptp/pi/virtual-port/enable", nullptr, "Failed to verify the virtual port enable item.", nullptr, 0, nullptr},
    {"ptp/pi/virtual-port/priority1", "virtual port priority", nullptr, ptp_priority_is_ok, PTP_ZERR_CFG_PRIORITY,
     "Failed to verify the virtual port priority value. The virtual port priority must be a value within the specified range"},
    {"ptp/pi/virtual-port/priority2", "virtual port priority", nullptr, ptp_priority_is_ok, PTP_ZERR_CFG_PRIORITY,
     "Failed to verify the virtual port priority value. The virtual port priority must be a value within the specified range"},
    {"ptp/pi/virtual-port/clock-class", "clock class", nullptr, ptp_clock_class_is_ok, PTP_ZERR_CFG_CLOCK_CLASS,
     "Failed to verify the clock class value. The clock class must be a value within the specified range"},
    {"ptp/pi/virtual-port/clock-accuracy", "virtual_port clock accuracy", nullptr, ptp_clock_accuracy_is_ok,
     PTP_ZERR2_CFG_CLOCK_ACCURACY,
     "Failed to verify the virtual port clock accuracy value. The clock accuracy must be a value between 32 and 49, or 254, as specified by the IEEE 1588 standard"},
    {"ptp/pi/virtual-port/oslv", "virtual_port oslv", nullptr, ptp_clock_oslv_is_ok, PTP_ZERR2_CFG_OSLV,
     "Failed to verify the virtual port clock oslv value. The oslv must be a value within the specified range"},
    {"ptp/pi/virtual-port/local-priority", "virtual port local priority", nullptr, ptp_local_priority_is_ok,
     PTP_ZERR_CFG_LOCAL_PRIORITY,
     "Failed to verify the virtual port clock local priority value. The local priority must be a value within the specified range"},
};
// clang-format on

const value_rule_type *value_rule_of(const char *path)
{
    for (const value_rule_type &rule : value_rules) {
        if (path != nullptr && std::strcmp(rule.path, path) == 0) {
            return &rule;
        }
    }
    return nullptr;
}

// ---- Tuples ---------------------------------------------------------------------------------------

// Unpacks `length` bytes of `data` as `format`; false when there is no value or it does not unpack.
template <typename... Out>
bool unpack(const void *data, uint32_t length, const char *format, uint32_t *mask, Out... out)
{
    if (data == nullptr || length == 0) {
        return false;
    }
    return tuple_unpack_mask(static_cast<const tuple_type *>(data), length, format, mask, out...) == 0;
}

// ---- The leap-second checks, shared by verify and apply --------------------------------------------

const char *const LEAP_FILE_TEXT = "Failed to verify the leap second file item.";
const char *const UTC_OFFSET_TEXT = "Failed to verify the UTC offset item.";

struct leap_file_type {
    const char *url = nullptr;
    int32_t poll = 0;
};

zerrno leap_file_check(const nodra_verify_event_info_td *event, leap_file_type *old_file, leap_file_type *new_file)
{
    if (!deleting(event) && !enabled_for(event)) {
        return PTP_ZERR_CFG_GLOBAL_ENABLE;
    }
    if (!sardo_platform_has_capability(PTP_PLATFORM_CAP_LEAP_SECONDS)) {
        return PTP_ZERR2_LEAP_NOT_SUPPORTED;
    }
    uint32_t mask = 0;
    if (deleting(event)) {
        return unpack(event->old_data, event->old_length, "%S%d", &mask, &old_file->url, &old_file->poll)
                   ? 0
                   : PTP_ZERR_CFG_TUPLE;
    }
    if (event->old_data != nullptr &&
        !unpack(event->old_data, event->old_length, "%S%d", &mask, &old_file->url, &old_file->poll)) {
        return PTP_ZERR_CFG_TUPLE;
    }
    if (!unpack(event->new_data, event->new_length, "%S%d", &mask, &new_file->url, &new_file->poll)) {
        return PTP_ZERR_CFG_TUPLE;
    }
    // The error's own text names an empty URL as well as a missing one.
    if ((mask & 1u) == 0 || new_file->url == nullptr || new_file->url[0] == '\0') {
        return PTP_ZERR2_CFG_LEAP_FILE_URL;
    }
    if (st.offsets_applied != 0 || st.offset_pending) {
        return PTP_ZERR_LEAP_FILE_WITH_UTC_OFFSET;
    }
    return 0;
}

struct leap_offset_type {
    bool present = false;
    int16_t offset = 0;
};

// The scheduled date of a key "%Y-%m-%d" in seconds since the epoch; false when the key does not
// name a real date (2024-02-30 parses, but prints back as another day).
bool leap_date(const char *key, time_t *seconds)
{
    setenv("TZ", "UTC", 1);
    tzset();
    tm parsed{};
    const char *end = strptime(key, "%Y-%m-%d", &parsed);
    if (end == nullptr || *end != '\0') {
        return false;
    }
    const time_t t = mktime(&parsed);
    if (t == static_cast<time_t>(-1)) {
        return false;
    }
    int length = 0;
    const char *printed = ptp_date_to_str(t, &length);
    if (printed == nullptr || length <= 0 || std::strncmp(printed, key, static_cast<size_t>(length)) != 0) {
        return false;
    }
    *seconds = t;
    return true;
}

bool read_offset(const void *data, uint32_t length, leap_offset_type *out)
{
    uint32_t raw = 0;
    if (!read_u32(data, length, &raw)) {
        return false;
    }
    out->present = true;
    out->offset = static_cast<int16_t>(raw);
    return true;
}

zerrno leap_offset_check(const nodra_verify_event_info_td *event, const bgen_args_td *args,
                         leap_offset_type *old_offset, leap_offset_type *new_offset, time_t *date)
{
    if (!deleting(event) && !enabled_for(event)) {
        return PTP_ZERR_CFG_GLOBAL_ENABLE;
    }
    if (!sardo_platform_has_capability(PTP_PLATFORM_CAP_LEAP_SECONDS)) {
        return PTP_ZERR2_LEAP_NOT_SUPPORTED;
    }
    if (deleting(event)) {
        if (!read_offset(event->old_data, event->old_length, old_offset)) {
            return PTP_ZERR_CFG_ARGUMENT;
        }
    } else {
        if (!read_offset(event->new_data, event->new_length, new_offset)) {
            return PTP_ZERR_CFG_ARGUMENT;
        }
        read_offset(event->old_data, event->old_length, old_offset);
    }
    const bgen_arg_td *key = bgen_args_get(args, 0, BGEN_ARG_STRING);
    if (key != nullptr && !leap_date(key->text, date)) {
        return PTP_ZERR_INVALID_DATE;
    }
    if (!deleting(event) && (st.file_applied || st.file_pending)) {
        return PTP_ZERR_UTC_OFFSET_WITH_LEAP_FILE;
    }
    return 0;
}

bool is_enable_item(const nodra_verify_event_info_td *event)
{
    return event->path != nullptr && std::strcmp(event->path, ENABLE_ITEM) == 0;
}

zerrno init_failed(const char *prefix, zerrno rc, void (*trace)(zerrno))
{
    st.registering = false;
    ptp_syslog_init_failed(prefix, zerr_strerror(rc));
    trace(rc);
    return rc;
}

template <const ptp_trace_point_type &P>
void trace_failure(zerrno rc)
{
    ptp_trace<P>({sardo_det(), sardo_unq()}, rc);
}

zerrno vrfn_fns_init(nodra_vrfn_fns_td *fns)
{
    zerrno rc = nodra_vrfn_fns_init(fns);
    if (rc == 0) {
        rc = nodra_vrfn_fns_verify_init(fns, sardo_cfg_verify);
    }
    if (rc == 0) {
        rc = nodra_vrfn_fns_apply_init(fns, sardo_cfg_apply);
    }
    if (rc == 0) {
        rc = nodra_vrfn_fns_abort_init(fns, sardo_cfg_abort);
    }
    return rc;
}

} // namespace

// ---- Handlers of the items ---------------------------------------------------------------------------

namespace {

using event_type_ = nodra_verify_event_info_td;
using result_type_ = nodra_verify_result_td;

const char *const ENABLE_TEXT = "Failed to verify the global enable item.";

zerrno enable_check(const event_type_ *event)
{
    if (!sardo_platform_has_capability(PTP_PLATFORM_CAP_PTP)) {
        return PTP_ZERR_SYSTEM_NO_PTP;
    }
    if (deleting(event) && st.item_count != 0) {
        return PTP_ZERR_DISABLE_WITH_CONFIG;
    }
    return 0;
}

} // namespace

zerrno sardo_cfg_verify_enable(const event_type_ *event, char **error_text, result_type_ *result, void *,
                               const bgen_args_td *)
{
    const zerrno rc = enable_check(event);
    if (rc != 0) {
        return refuse(rc, error_text, result, ENABLE_TEXT);
    }
    if (result != nullptr) {
        st.enable_pending = true;
        st.enable_pending_sequence = event->sequence;
        st.enable_pending_value = !deleting(event);
    }
    return pass(result);
}

zerrno sardo_cfg_apply_enable(const event_type_ *event, char **, result_type_ *, void *, const bgen_args_td *)
{
    const zerrno rc = enable_check(event);
    if (rc != 0) {
        return rc;
    }
    st.enabled = !deleting(event);
    ptp_trace<PTP_TRACE_SARDO_CFG_GLOBAL_ENABLE>({sardo_sum()}, event->event, static_cast<uint32_t>(st.item_count));
    SARDO_DEBUG(AREA, "%s: Global Enable config %s event.", ptp_cfg_event_to_str(event->event));
    return 0;
}

zerrno sardo_cfg_verify_value(const event_type_ *event, char **error_text, result_type_ *result, void *,
                              const bgen_args_td *)
{
    const value_rule_type *rule = value_rule_of(event->path);
    if (rule == nullptr) {
        return refuse(PTP_ZERR_CFG_ARGUMENT, error_text, result,
                      std::string("Unknown configuration item '") + (event->path != nullptr ? event->path : "") + "'");
    }
    zerrno rc = 0;
    if (!common_rule(event, error_text, result, rule->own != nullptr ? rule->own : not_enabled_text(rule->label),
                     &rc)) {
        return rc;
    }
    if (rule->ok != nullptr) {
        uint32_t value = 0;
        if (!read_u32(event->new_data, event->new_length, &value) || !rule->ok(value)) {
            return refuse(rule->code, error_text, result, rule->text);
        }
    }
    return pass(result);
}

zerrno sardo_cfg_verify_log_bmc_changes(const event_type_ *event, char **error_text, result_type_ *result, void *,
                                        const bgen_args_td *)
{
    zerrno rc = 0;
    common_rule(event, error_text, result, not_enabled_text("log BMC changes"), &rc);
    return rc == 0 ? pass(result) : rc;
}

zerrno sardo_cfg_verify_clock_identity(const event_type_ *event, char **error_text, result_type_ *result, void *,
                                       const bgen_args_td *)
{
    const char *const text =
        "Failed to verify the clock identity value. The clock identity must be an eui-64 value or a mac-address, "
        "either the router's or a user-specified one. Additionally a eui-64 value may not be all ones.";
    zerrno rc = 0;
    if (!common_rule(event, error_text, result, not_enabled_text("clock identity"), &rc)) {
        return rc;
    }
    uint32_t mask = 0;
    int32_t kind = -1;
    int32_t mac[3] = {};
    const char *eui = nullptr;
    if (!unpack(event->new_data, event->new_length, "%d%d%d%d%S", &mask, &kind, &mac[0], &mac[1], &mac[2], &eui)) {
        return refuse(PTP_ZERR_CFG_TUPLE, error_text, result, text);
    }
    ptp_clock_id_type id{};
    id.kind = (mask & 1u) != 0 ? static_cast<uint32_t>(kind) : UINT32_MAX;
    if (id.kind == PTP_CLOCK_ID_EUI64 && ((mask & 0x10u) == 0 || !ptp_get_eui_number(eui, &id))) {
        return refuse(PTP_ZERR_CFG_CLOCK_ID, error_text, result, text);
    }
    if (!ptp_clock_id_data_is_ok(&id, mask)) {
        return refuse(PTP_ZERR_CFG_CLOCK_ID, error_text, result, text);
    }
    if (id.kind == PTP_CLOCK_ID_EUI64 && id.eui == UINT64_MAX) {
        return refuse(PTP_ZERR2_CLOCK_ID_ALL_ONES, error_text, result, text);
    }
    return pass(result);
}

zerrno sardo_cfg_verify_clock_profile(const event_type_ *event, char **error_text, result_type_ *result, void *,
                                      const bgen_args_td *)
{
    const char *const text = "Failed to verify the clock profile item.";
    uint32_t mask = 0;
    int32_t old_profile = PTP_PROFILE_DEFAULT;
    int32_t old_clock_type = PTP_TELECOM_CLOCK_T_BC;
    if (deleting(event)) {
        // Back to the default profile, which every platform supports.
        if (!unpack(event->old_data, event->old_length, "%d%d", &mask, &old_profile, &old_clock_type)) {
            return refuse(PTP_ZERR_CFG_TUPLE, error_text, result, text);
        }
        return pass(result);
    }
    if (!enabled_for(event)) {
        return refuse(PTP_ZERR_CFG_GLOBAL_ENABLE, error_text, result, text);
    }
    int32_t profile = PTP_PROFILE_DEFAULT;
    int32_t clock_type = 0;
    if (!unpack(event->new_data, event->new_length, "%d%d", &mask, &profile, &clock_type)) {
        return refuse(PTP_ZERR_CFG_TUPLE, error_text, result, text);
    }
    const bool has_clock_type = (mask & 2u) != 0;
    uint32_t old_mask = 0;
    if (event->old_data != nullptr &&
        !unpack(event->old_data, event->old_length, "%d%d", &old_mask, &old_profile, &old_clock_type)) {
        return refuse(PTP_ZERR_CFG_TUPLE, error_text, result, text);
    }
    const auto p = static_cast<uint32_t>(profile);
    const auto ct = static_cast<uint32_t>(clock_type);
    if (!ptp_clock_profile_is_ok(p)) {
        return refuse(PTP_ZERR_CFG_PROFILE, error_text, result, text);
    }
    switch (p) {
    case PTP_PROFILE_G8275_1:
    case PTP_PROFILE_G8275_2:
        if (!has_clock_type || !ptp_clock_type_is_ok(ct, p)) {
            return refuse(PTP_ZERR_CFG_CLOCK_TYPE, error_text, result, text);
        }
        break;
    case PTP_PROFILE_DEFAULT:
        if (has_clock_type) {
            return refuse(PTP_ZERR2_CFG_CLOCK_TYPE_NOT_ALLOWED, error_text, result, text);
        }
        break;
    default: // G.8265.1: T-GM or T-TSC, or none where the platform allows it
        if (has_clock_type && !ptp_clock_type_is_ok(ct, p)) {
            return refuse(PTP_ZERR2_CFG_CLOCK_TYPE_GM_TSC, error_text, result, text);
        }
        if (!has_clock_type && sardo_platform_has_capability(PTP_PLATFORM_CAP_G8265_LOCAL_CLOCK)) {
            return refuse(PTP_ZERR2_PROFILE_NEEDS_CLOCK_TYPE, error_text, result, text);
        }
        break;
    }
    if (!sardo_platform_supports_profile(p)) {
        return refuse(PTP_ZERR2_PROFILE_NOT_SUPPORTED, error_text, result, text);
    }
    return pass(result);
}

zerrno sardo_cfg_verify_uncalibrated_clock_class(const event_type_ *event, char **error_text, result_type_ *result,
                                                 void *, const bgen_args_td *)
{
    const char *const text = "Failed to verify the uncalibrated clock class value. The uncalibrated clock class must "
                             "be a value within the specified range";
    zerrno rc = 0;
    if (!common_rule(event, error_text, result, not_enabled_text("uncalibrated clock class"), &rc)) {
        return rc;
    }
    uint32_t mask = 0;
    int32_t clock_class = 0;
    int32_t second = 0; // absent counts as 0
    if (event->old_data != nullptr &&
        !unpack(event->old_data, event->old_length, "%d%d", &mask, &clock_class, &second)) {
        return refuse(PTP_ZERR_CFG_TUPLE, error_text, result, text);
    }
    clock_class = 0;
    second = 0;
    if (!unpack(event->new_data, event->new_length, "%d%d", &mask, &clock_class, &second)) {
        return refuse(PTP_ZERR_CFG_TUPLE, error_text, result, text);
    }
    if (!below_256(static_cast<uint32_t>(clock_class))) {
        return refuse(PTP_ZERR_CFG_CLOCK_CLASS, error_text, result, text);
    }
    return pass(result);
}

zerrno sardo_cfg_verify_servo_slow_tracking(const event_type_ *event, char **error_text, result_type_ *result, void *,
                                            const bgen_args_td *)
{
    const char *const text = "Failed to verify the servo slow tracking value.";
    zerrno rc = 0;
    if (!common_rule(event, error_text, result, not_enabled_text("servo slow tracking"), &rc)) {
        return rc;
    }
    if (!sardo_platform_has_capability(PTP_PLATFORM_CAP_SERVO_SLOW_TRACK)) {
        return refuse(PTP_ZERR2_SLOW_TRACKING_NOT_SUPPORTED, error_text, result, text);
    }
    uint32_t rate = 0;
    if (!read_u32(event->new_data, event->new_length, &rate) || rate < 8 || rate > 984 || rate % 8 != 0) {
        return refuse(PTP_ZERR2_CFG_SLOW_TRACKING_RATE, error_text, result, text);
    }
    return pass(result);
}

zerrno sardo_cfg_verify_holdover_duration(const event_type_ *event, char **error_text, result_type_ *result, void *,
                                          const bgen_args_td *)
{
    // Enabled first: a delete while PTP is not enabled is refused too.
    if (!enabled_for(event)) {
        return refuse(PTP_ZERR_CFG_GLOBAL_ENABLE, error_text, result, not_enabled_text("holdover duration"));
    }
    if (deleting(event)) {
        return pass(result);
    }
    if (!sardo_platform_has_capability(PTP_PLATFORM_CAP_HOLDOVER_DURATION)) {
        if (result != nullptr) {
            result->result = NODRA_VERIFY_RESULT_FAIL;
        }
        return PTP_ZERR2_HOLDOVER_NOT_SUPPORTED;
    }
    uint32_t min = 0;
    uint32_t max = 0;
    sardo_platform_holdover_range(&min, &max);
    uint32_t seconds = 0;
    if (!read_u32(event->new_data, event->new_length, &seconds) || seconds < min || seconds > max) {
        char text[128];
        std::snprintf(text, sizeof text, "The duration must be within the platform supported range (%u - %u seconds)",
                      min, max);
        return refuse(PTP_ZERR2_CFG_HOLDOVER_DURATION, error_text, result, text);
    }
    return pass(result);
}

zerrno sardo_cfg_verify_transparent_clock(const event_type_ *event, char **error_text, result_type_ *result, void *,
                                          const bgen_args_td *args)
{
    const char *const text = "Failed to verify the transparent clock enable item";
    const bgen_arg_td *domain = bgen_args_get(args, 0, BGEN_ARG_STRING);
    if (domain == nullptr) {
        return refuse(PTP_ZERR_CFG_ARGUMENT, error_text, result, text);
    }
    if (std::strcmp(domain->text, "all") != 0) {
        return refuse(PTP_ZERR2_TC_SOME_DOMAINS, error_text, result, text);
    }
    zerrno rc = 0;
    if (!common_rule(event, error_text, result, text, &rc)) {
        return rc;
    }
    if (!sardo_platform_has_capability(PTP_PLATFORM_CAP_TRANSP_CLOCK)) {
        return refuse(PTP_ZERR2_TC_NOT_SUPPORTED, error_text, result, text);
    }
    return pass(result);
}

zerrno sardo_cfg_verify_apts(const event_type_ *event, char **error_text, result_type_ *result, void *,
                             const bgen_args_td *)
{
    const char *const text = "Failed to verify the assisted partial timing support item. PTP must be globally enabled";
    if (!deleting(event) && !enabled_for(event)) {
        return refuse(PTP_ZERR_CFG_GLOBAL_ENABLE, error_text, result, text);
    }
    if (!sardo_platform_has_capability(PTP_PLATFORM_CAP_APTS)) {
        return refuse(PTP_ZERR2_APTS_NOT_SUPPORTED, error_text, result, text);
    }
    return pass(result);
}

zerrno sardo_cfg_verify_leap_second_file(const event_type_ *event, char **error_text, result_type_ *result, void *,
                                         const bgen_args_td *)
{
    leap_file_type old_file;
    leap_file_type new_file;
    const zerrno rc = leap_file_check(event, &old_file, &new_file);
    if (rc != 0) {
        return refuse(rc, error_text, result, LEAP_FILE_TEXT);
    }
    if (!deleting(event)) {
        st.file_pending = true;
    }
    return pass(result);
}

zerrno sardo_cfg_apply_leap_second_file(const event_type_ *event, char **, result_type_ *, void *, const bgen_args_td *)
{
    leap_file_type old_file;
    leap_file_type new_file;
    const zerrno rc = leap_file_check(event, &old_file, &new_file);
    if (rc != 0) {
        return rc;
    }
    st.file_applied = !deleting(event);
    SARDO_DEBUG(AREA, "%s: Leap second file config %s event: %s %u -> %s %u.", ptp_cfg_event_to_str(event->event),
                old_file.url != nullptr ? old_file.url : "(Not Set)", static_cast<unsigned>(old_file.poll),
                new_file.url != nullptr ? new_file.url : "(Not Set)", static_cast<unsigned>(new_file.poll));
    return 0;
}

zerrno sardo_cfg_verify_leap_second_offset(const event_type_ *event, char **error_text, result_type_ *result, void *,
                                           const bgen_args_td *args)
{
    leap_offset_type old_offset;
    leap_offset_type new_offset;
    time_t date = 0;
    const zerrno rc = leap_offset_check(event, args, &old_offset, &new_offset, &date);
    if (rc != 0) {
        return refuse(rc, error_text, result, UTC_OFFSET_TEXT);
    }
    if (!deleting(event)) {
        st.offset_pending = true;
    }
    return pass(result);
}

zerrno sardo_cfg_apply_leap_second_offset(const event_type_ *event, char **, result_type_ *, void *,
                                          const bgen_args_td *args)
{
    leap_offset_type old_offset;
    leap_offset_type new_offset;
    time_t date = 0;
    const zerrno rc = leap_offset_check(event, args, &old_offset, &new_offset, &date);
    if (rc != 0) {
        return rc;
    }
    // Counted per item: the offset and each scheduled offset keep out a file while any remains.
    if (deleting(event)) {
        if (st.offsets_applied != 0) {
            st.offsets_applied--;
        }
    } else if ((event->event & NODRA_EVENT_CREATE) != 0 || st.registering) {
        st.offsets_applied++;
    }
    const double when = static_cast<double>(date);
    SARDO_DEBUG(AREA, "%s: Leap second offset config %s event: %u(%f)%s -> %u(%f)%s",
                ptp_cfg_event_to_str(event->event), static_cast<unsigned>(old_offset.offset), when,
                old_offset.present ? "" : " (Not Set)", static_cast<unsigned>(new_offset.offset), when,
                new_offset.present ? "" : " (Not Set)");
    return 0;
}

// ---- Profile items: the not-enabled step here, the rest in the common library's profile checks ------

namespace {

// check(event flags, new value, verify word or null, error text or null) -> code.
template <typename Check>
zerrno prf_verify(const event_type_ *event, char **error_text, result_type_ *result, const char *label, Check check)
{
    if (!deleting(event) && !enabled_for(event)) {
        return refuse(PTP_ZERR_CFG_GLOBAL_ENABLE, error_text, result, not_enabled_text(label));
    }
    pass(result);
    const bgen_value_td nv = new_value(event);
    return check(event->event, &nv, result != nullptr ? &result->result : nullptr,
                 result != nullptr ? error_text : nullptr);
}

// The profile checks in one form: (event flags, new value, verify word or null, error text or
// null, key arguments) -> code; the value read is not kept.
using prf_check_fn = zerrno (*)(uint32_t ev, const bgen_value_td *nv, uint32_t *vr, char **text,
                                const bgen_args_td *args);

zerrno prf_verify(const event_type_ *event, char **error_text, result_type_ *result, const bgen_args_td *args,
                  const char *label, prf_check_fn check)
{
    return prf_verify(
        event, error_text, result, label,
        [&](uint32_t ev, const bgen_value_td *nv, uint32_t *vr, char **text) { return check(ev, nv, vr, text, args); });
}

// The shapes of the profile checks' value arguments: one value; a value and the previous one; the
// message type first; a value and the table entry's address; the address alone.
template <typename V, auto Check>
zerrno plain(uint32_t ev, const bgen_value_td *nv, uint32_t *vr, char **text, const bgen_args_td *args)
{
    V value{};
    return Check(ev, nv, vr, text, &value, args, nullptr, nullptr);
}
template <typename V, auto Check>
zerrno with_prev(uint32_t ev, const bgen_value_td *nv, uint32_t *vr, char **text, const bgen_args_td *args)
{
    V value{};
    V prev{};
    return Check(ev, nv, vr, text, &value, &prev, nullptr, args, nullptr, nullptr);
}
template <auto Check>
zerrno by_message(uint32_t ev, const bgen_value_td *nv, uint32_t *vr, char **text, const bgen_args_td *args)
{
    uint32_t value = 0;
    return Check(args->bg_ident, ev, nv, vr, text, &value, args, nullptr, nullptr);
}
template <typename V, auto Check>
zerrno with_addr(uint32_t ev, const bgen_value_td *nv, uint32_t *vr, char **text, const bgen_args_td *args)
{
    V value{};
    ptp_address_type addr{};
    return Check(ev, nv, vr, text, &value, &addr, args, nullptr, nullptr);
}
template <auto Check>
zerrno addr_only(uint32_t ev, const bgen_value_td *nv, uint32_t *vr, char **text, const bgen_args_td *args)
{
    ptp_address_type addr{};
    return Check(ev, nv, vr, text, &addr, args, nullptr, nullptr);
}

// The hop-limit items' check hands out no text; this one names the item.
zerrno prf_ttl(const event_type_ *event, char **error_text, result_type_ *result, const bgen_args_td *args,
               const char *label)
{
    if (!deleting(event) && !enabled_for(event)) {
        return refuse(PTP_ZERR_CFG_GLOBAL_ENABLE, error_text, result, not_enabled_text(label));
    }
    const bgen_value_td nv = new_value(event);
    uint32_t ttl = 0;
    const zerrno rc = ptp_cfg_profile_check_ttl(event->event, &nv, &ttl, args, nullptr, nullptr);
    if (const char *name_text = ptp_cfg_profile_name_text(rc); name_text != nullptr) {
        return refuse(rc, error_text, result, name_text);
    }
    if (rc != 0) {
        return refuse(rc, error_text, result,
                      std::string("Failed to verify the ") + label + " value. It must be within the specified range");
    }
    return pass(result);
}

} // namespace

#define SARDO_PRF_ARGS                                                                                                 \
    const event_type_ *event, char **error_text, result_type_ *result, void *, const bgen_args_td *args
#define SARDO_PRF_CHECK [&](uint32_t ev, const bgen_value_td *nv, uint32_t *vr, char **text)

zerrno sardo_cfg_verify_prf_encap(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "encap", plain<uint32_t, ptp_cfg_profile_check_encap>);
}

zerrno sardo_cfg_verify_prf_clock_operation(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "clock-operation",
                      with_prev<uint32_t, ptp_cfg_profile_check_clock_operation>);
}

zerrno sardo_cfg_verify_prf_annce_ivl(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "announce interval",
                      with_prev<int, ptp_cfg_profile_check_annce_ivl>);
}

zerrno sardo_cfg_verify_prf_sync_ivl(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "sync interval", with_prev<int, ptp_cfg_profile_check_sync_ivl>);
}

zerrno sardo_cfg_verify_prf_annce_tout(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "announce timeout",
                      plain<uint32_t, ptp_cfg_profile_check_annce_tout>);
}

zerrno sardo_cfg_verify_prf_dr_min_ivl(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "delay-request minimum interval",
                      with_prev<int, ptp_cfg_profile_check_dr_min_ivl>);
}

zerrno sardo_cfg_verify_prf_multicast(SARDO_PRF_ARGS)
{
    return prf_verify(
        event, error_text, result, "multicast", SARDO_PRF_CHECK {
            uint32_t mode = 0;
            uint32_t prev_mode = 0;
            ptp_address_type addr{};
            ptp_address_type prev_addr{};
            return ptp_cfg_profile_check_multicast(ev, nv, vr, text, &mode, &addr, &prev_mode, &prev_addr, nullptr,
                                                   args, nullptr, nullptr);
        });
}

zerrno sardo_cfg_verify_prf_port_state(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "port state", plain<uint32_t, ptp_cfg_profile_check_port_state>);
}

zerrno sardo_cfg_verify_prf_source_ip(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "source IP address",
                      plain<ptp_source_ip_data_type, ptp_cfg_profile_check_source_ip>);
}

zerrno sardo_cfg_verify_prf_source_ipv6(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "source IPv6 address",
                      plain<ptp_source_ipv6_data_type, ptp_cfg_profile_check_source_ipv6>);
}

zerrno sardo_cfg_verify_prf_cos(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "CoS", plain<uint32_t, ptp_cfg_profile_check_cos>);
}

zerrno sardo_cfg_verify_prf_dscp(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "DSCP", plain<uint32_t, ptp_cfg_profile_check_dscp>);
}

zerrno sardo_cfg_verify_prf_ipv4_ttl(SARDO_PRF_ARGS)
{
    return prf_ttl(event, error_text, result, args, "IPv4 TTL");
}

zerrno sardo_cfg_verify_prf_ipv6_hop_limit(SARDO_PRF_ARGS)
{
    return prf_ttl(event, error_text, result, args, "IPv6 hop limit");
}

zerrno sardo_cfg_verify_prf_unicast_grant_duration(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "Unicast Grant Duration",
                      by_message<ptp_cfg_profile_check_unicast_grant_duration>);
}

zerrno sardo_cfg_verify_prf_message_timeout(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "Message Timeout",
                      by_message<ptp_cfg_profile_check_message_timeout>);
}

zerrno sardo_cfg_verify_prf_invalid_grant(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "invalid grant deny",
                      plain<uint32_t, ptp_cfg_profile_check_unicast_grant_invalid_request>);
}

zerrno sardo_cfg_verify_prf_local_priority(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "local priority",
                      plain<uint32_t, ptp_cfg_profile_check_local_priority>);
}

zerrno sardo_cfg_verify_prf_delay_asymmetry(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "interface delay asymmetry",
                      with_prev<ptp_delay_asymmetry_type, ptp_cfg_profile_check_delay_asymmetry>);
}

zerrno sardo_cfg_verify_prf_master_enable(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "master enable", addr_only<ptp_cfg_profile_check_master_enable>);
}

zerrno sardo_cfg_verify_prf_master_priority(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "master priority",
                      with_addr<uint32_t, ptp_cfg_profile_check_master_priority>);
}

zerrno sardo_cfg_verify_prf_master_multicast(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "master multicast",
                      with_addr<uint32_t, ptp_cfg_profile_check_master_multicast>);
}

zerrno sardo_cfg_verify_prf_master_clock_class(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "master clock class",
                      with_addr<uint32_t, ptp_cfg_profile_check_master_clock_class>);
}

zerrno sardo_cfg_verify_prf_master_delay_asymmetry(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "master delay asymmetry",
                      with_addr<ptp_delay_asymmetry_type, ptp_cfg_profile_check_master_delay_asymmetry>);
}

zerrno sardo_cfg_verify_prf_master_nonnegotiated(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "master non-negotiated unicast",
                      with_addr<uint32_t, ptp_cfg_profile_check_master_nonnegotiated>);
}

zerrno sardo_cfg_verify_prf_slave_nonnegotiated(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "slave non-negotiated unicast",
                      with_addr<uint32_t, ptp_cfg_profile_check_slave_nonnegotiated>);
}

zerrno sardo_cfg_verify_prf_interop_profile(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "interop profile",
                      plain<uint32_t, ptp_cfg_profile_check_interop_profile>);
}

zerrno sardo_cfg_verify_prf_interop_domain(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "interop domain",
                      plain<uint32_t, ptp_cfg_profile_check_interop_domain>);
}

zerrno sardo_cfg_verify_prf_interop_priority(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "interop priority",
                      plain<uint32_t, ptp_cfg_profile_check_interop_priority>);
}

zerrno sardo_cfg_verify_prf_interop_clock_accuracy(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "interop clock accuracy",
                      plain<uint32_t, ptp_cfg_profile_check_interop_clock_accuracy>);
}

zerrno sardo_cfg_verify_prf_interop_oslv(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "interop OSLV",
                      plain<uint32_t, ptp_cfg_profile_check_interop_oslv>);
}

zerrno sardo_cfg_verify_prf_interop_clock_class_default(SARDO_PRF_ARGS)
{
    return prf_verify(event, error_text, result, args, "interop default clock class",
                      plain<uint32_t, ptp_cfg_profile_check_interop_clock_class_default>);
}

zerrno sardo_cfg_verify_prf_interop_clock_class_mapping(SARDO_PRF_ARGS)
{
    return prf_verify(
        event, error_text, result, "interop clock class mapping", SARDO_PRF_CHECK {
            uint32_t from = 0;
            uint32_t to = 0;
            return ptp_cfg_profile_check_interop_clock_class_mapping(ev, nv, vr, text, &from, &to, args, nullptr,
                                                                     nullptr);
        });
}

#undef SARDO_PRF_CHECK
#undef SARDO_PRF_ARGS

// The interoperation items are applied by the agents; nothing here depends on them.
zerrno sardo_cfg_apply_interop(const event_type_ *, char **, result_type_ *, void *, const bgen_args_td *)
{
    return 0;
}

// ---- The schema ------------------------------------------------------------------------------------

namespace {

constexpr const char *PRF = PTP_CFG_PROFILE_PREFIX;
// The interoperation rows give the apply too, which has nothing to track.
#define INTEROP_ROW_(item)                                                                                             \
    {                                                                                                                  \
        .verify = sardo_cfg_verify_prf_interop_##item, .apply_verify_form = sardo_cfg_apply_interop                    \
    }

constexpr uint32_t S = BACKEND_VALUE_SINGLE;
constexpr uint32_t T = BACKEND_VALUE_TUPLE;
constexpr uint32_t N = BACKEND_VALUE_NONE;
// The items in schema row order. The value kinds are the controller's, which applies the same
// items: a value one accepts the other must read.
// clang-format off
constexpr auto items_own = std::to_array<backend_item_td>({
    {"ptp/pi/enable", {.kind = N, .verify = sardo_cfg_verify_enable, .apply_verify_form = sardo_cfg_apply_enable}},
    {"ptp/pi/clock/identity", {.kind = T, .verify = sardo_cfg_verify_clock_identity}},
    {"ptp/pi/clock/domain", {.kind = S, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/clock/priority1", {.kind = S, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/clock/priority2", {.kind = S, .bg_ident = 1, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/clock/clock-class", {.kind = S, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/clock/timescale", {.kind = S, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/clock/timesource", {.kind = S, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/clock/profile", {.kind = T, .verify = sardo_cfg_verify_clock_profile}},
    {"ptp/pi/frequencypriority", {.kind = S, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/timeofdaypriority", {.kind = S, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/min-clock-class", {.kind = S, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/leap-second/source-file", {.kind = T, .verify = sardo_cfg_verify_leap_second_file, .apply_verify_form = sardo_cfg_apply_leap_second_file}},
    {"ptp/pi/leap-second/offset", {.kind = S, .verify = sardo_cfg_verify_leap_second_offset, .apply_verify_form = sardo_cfg_apply_leap_second_offset}},
    {"ptp/pi/leap-second/scheduled-offset/<s>", {.kind = S, .verify = sardo_cfg_verify_leap_second_offset, .apply_verify_form = sardo_cfg_apply_leap_second_offset}},
    {"ptp/pi/virtual-port/enable", {.kind = N, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/virtual-port/priority1", {.kind = S, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/virtual-port/priority2", {.kind = S, .bg_ident = 1, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/virtual-port/clock-class", {.kind = S, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/virtual-port/clock-accuracy", {.kind = S, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/virtual-port/oslv", {.kind = S, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/virtual-port/local-priority", {.kind = S, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/uncalibrated-clock-class", {.kind = T, .verify = sardo_cfg_verify_uncalibrated_clock_class}},
    {"ptp/pi/uncal-clock-class-deprecated", {.kind = S, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/uncal-time-traceable-override", {.kind = N, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/startup-clock-class", {.kind = S, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/freerun-clock-class", {.kind = S, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/double-failure-clock-class", {.kind = S, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/holdover-clock-class", {.kind = S, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/holdover-duration", {.kind = S, .verify = sardo_cfg_verify_holdover_duration}},
    {"ptp/pi/holdover-time-traceable-override", {.kind = N, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/physical-layer-freq", {.kind = S, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/network-type", {.kind = S, .verify = sardo_cfg_verify_value}},
    {"ptp/pi/servo-slow-tracking", {.kind = S, .verify = sardo_cfg_verify_servo_slow_tracking}},
    backend_item_mount(PRF, PTP_CFG_PRF_AZA, {}),
});
constexpr auto items_last = std::to_array<backend_item_td>({
    {"ptp/pi/verify-checksum", {.kind = N}},
    {"ptp/pi/transparent-clock/domain/<s>", {.kind = N, .verify = sardo_cfg_verify_transparent_clock}},
    {"ptp/pi/apts", {.kind = N, .verify = sardo_cfg_verify_apts}},
    {"ptp/log/pi/bmc/changes", {.kind = N, .verify = sardo_cfg_verify_log_bmc_changes}},
});
constexpr ptp_cfg_profile_rows_td profile_rows{
    .transport = {.verify = sardo_cfg_verify_prf_encap},
    .clock_operation = {.verify = sardo_cfg_verify_prf_clock_operation},
    .annce_ivl = {.verify = sardo_cfg_verify_prf_annce_ivl},
    .sync_ivl = {.verify = sardo_cfg_verify_prf_sync_ivl},
    .annce_tout = {.verify = sardo_cfg_verify_prf_annce_tout},
    .dr_min_ivl = {.verify = sardo_cfg_verify_prf_dr_min_ivl},
    .multicast = {.verify = sardo_cfg_verify_prf_multicast},
    .port_state = {.verify = sardo_cfg_verify_prf_port_state},
    .source_ip = {.verify = sardo_cfg_verify_prf_source_ip},
    .source_ipv6 = {.verify = sardo_cfg_verify_prf_source_ipv6},
    .cos = {.verify = sardo_cfg_verify_prf_cos},
    .dscp = {.verify = sardo_cfg_verify_prf_dscp},
    .ipv4_ttl = {.verify = sardo_cfg_verify_prf_ipv4_ttl},
    .ipv6_hop_limit = {.verify = sardo_cfg_verify_prf_ipv6_hop_limit},
    .unicast_grant_duration = {.verify = sardo_cfg_verify_prf_unicast_grant_duration},
    .message_timeout = {.verify = sardo_cfg_verify_prf_message_timeout},
    .unicast_grant_invalid_request = {.verify = sardo_cfg_verify_prf_invalid_grant},
    .local_priority = {.verify = sardo_cfg_verify_prf_local_priority},
    .delay_asymmetry = {.verify = sardo_cfg_verify_prf_delay_asymmetry},
};
constexpr ptp_cfg_table_rows_td table_rows{
    .master_enable = {.verify = sardo_cfg_verify_prf_master_enable},
    .master_priority = {.verify = sardo_cfg_verify_prf_master_priority},
    .master_multicast = {.verify = sardo_cfg_verify_prf_master_multicast},
    .master_clock_class = {.verify = sardo_cfg_verify_prf_master_clock_class},
    .master_delay_asymmetry = {.verify = sardo_cfg_verify_prf_master_delay_asymmetry},
    .master_nonnegotiated = {.verify = sardo_cfg_verify_prf_master_nonnegotiated},
    .slave_nonnegotiated = {.verify = sardo_cfg_verify_prf_slave_nonnegotiated},
};
constexpr ptp_cfg_interop_rows_td interop_rows{
    .profile = INTEROP_ROW_(profile),
    .domain = INTEROP_ROW_(domain),
    .priority = INTEROP_ROW_(priority),
    .clock_accuracy = INTEROP_ROW_(clock_accuracy),
    .oslv = INTEROP_ROW_(oslv),
    .clock_class_default = INTEROP_ROW_(clock_class_default),
    .clock_class_mapping = INTEROP_ROW_(clock_class_mapping),
};
constexpr auto items = backend_items_join(
    items_own,
    ptp_cfg_profile_items(PRF, profile_rows, false),
    ptp_cfg_table_items(PRF, table_rows, false),
    ptp_cfg_interop_items(PRF, interop_rows),
    items_last);
// clang-format on
#undef INTEROP_ROW_

// A key level that ends a path is a table of entries.
using schema = backend_schema_of<items, backend_schema_options_td{.leaf_key_container = 2}>;
static_assert(schema::nodes.size() == 115 && schema::rows.size() == 86);

// The items as the schema's tests read them: whole paths, in row order.
constexpr std::array<sardo_cfg_item_type, items.size()> make_item_view()
{
    std::array<sardo_cfg_item_type, items.size()> view{};
    for (size_t i = 0; i < items.size(); i++) {
        const backend_row_td &row = schema::rows[i];
        view[i] = {schema::paths[i], row.kind, row.bg_ident, row.verify, row.apply_verify_form, row.value_form};
    }
    return view;
}
constexpr std::array<sardo_cfg_item_type, items.size()> item_view = make_item_view();

} // namespace

const backend_schema_td *sardo_cfg_schema(void)
{
    return &schema::schema;
}

const sardo_cfg_item_type *sardo_cfg_items(uint32_t *count)
{
    *count = static_cast<uint32_t>(item_view.size());
    return item_view.data();
}

// ---- Registration and batches -------------------------------------------------------------------------

zerrno sardo_cfg_init(event_mgr_type *evm)
{
    uint8_t mac[6] = {};
    zerrno rc = lrd_get_lr_mac_address(mac);
    if (rc != 0) {
        SARDO_DEBUG_ERR(AREA,
                        "%s: [ERROR] Failed to get the router's MAC address when attempting to generate the PTP "
                        "clock ID: %s",
                        zerr_strerror(rc));
        ptp_trace<PTP_TRACE_SARDO_CFG_NO_ROUTER_MAC>({sardo_det(), sardo_unq()}, rc);
    }

    st.registering = true;
    rc = sardo_main_nodra_library_present() ? _nodra_bind(&st.bind, GL_BIND, 0) : NODRA_ERR_BIND_NO_LIBRARY;
    if (rc != 0) {
        st.bind = nullptr;
        return init_failed("Failed to bind to global Nodra bindpoint: ", rc,
                           trace_failure<PTP_TRACE_SARDO_CFG_BIND_FAILED>);
    }
    ptp_trace<PTP_TRACE_SARDO_MAIN_INIT_CFG_BIND>({sardo_det()});

    nodra_vrfn_fns_td enable_fns{};
    if ((rc = vrfn_fns_init(&enable_fns)) != 0) {
        return init_failed("Failed to initialize Nodra verification functions: ", rc,
                           trace_failure<PTP_TRACE_SARDO_CFG_VRFN_FNS_FAILED>);
    }
    const char *const enable_paths[] = {ENABLE_ITEM};
    uint32_t id = 0;
    rc = nodra_register_verification4(st.bind, enable_paths, 1, ALL_EVENTS, &enable_fns, evm, 0, ORDER_ENABLE,
                                      REGISTRATION_OPTIONS, &id);
    if (rc != 0) {
        return init_failed("Failed to register for verification of global enable item: ", rc,
                           trace_failure<PTP_TRACE_SARDO_CFG_REGISTER_ENABLE_FAILED>);
    }
    st.registration_enable = id;

    nodra_vrfn_fns_td subtree_fns{};
    if ((rc = vrfn_fns_init(&subtree_fns)) != 0) {
        return init_failed("Failed to initialize Nodra verification functions: ", rc,
                           trace_failure<PTP_TRACE_SARDO_CFG_VRFN_FNS_FAILED>);
    }
    const char *const subtree_paths[] = {"ptp/pi/", "ptp/log/pi/"};
    rc = nodra_register_verification4(st.bind, subtree_paths, 2, ALL_EVENTS, &subtree_fns, evm, 0, ORDER_SUBTREES,
                                      REGISTRATION_OPTIONS, &id);
    if (rc != 0) {
        return init_failed("Failed to register for verification of interface configuration: ", rc,
                           trace_failure<PTP_TRACE_SARDO_CFG_REGISTER_SUBTREES_FAILED>);
    }
    st.registration_subtrees = id;
    ptp_trace<PTP_TRACE_SARDO_MAIN_INIT_CFG_VRFN>({sardo_det()});
    st.registering = false;
    return 0;
}

void sardo_cfg_shutdown(void)
{
    st.item_count = 0;
    st.registering = false;
    st.enabled = false;
    if (sardo_cfg_shutdown_apply.event != nullptr) {
        nodra_resume_apply(sardo_cfg_shutdown_apply.event, sardo_cfg_shutdown_apply.result);
        sardo_cfg_shutdown_apply = shutdown_apply_type{};
    }
    if (st.bind != nullptr) {
        for (int64_t *registration : {&st.registration_enable, &st.registration_subtrees}) {
            if (*registration != NOT_REGISTERED) {
                nodra_verification_unregister(static_cast<uint32_t>(*registration));
                *registration = NOT_REGISTERED;
            }
        }
        if (sardo_main_nodra_library_present()) {
            _nodra_unbind(st.bind);
        }
        st.bind = nullptr;
    }
    st = cfg_state_type{};
}

zerrno sardo_cfg_verify(const nodra_verify_event_info_td *event, char **error_text, nodra_verify_result_td *result,
                        void *context)
{
    if (event->index == 1) {
        SARDO_DEBUG(AREA, "%s: Received verify batch of %u items", event->count);
        ptp_trace<PTP_TRACE_SARDO_CFG_VERIFY_BATCH>({sardo_det()}, event->count);
        st.file_pending = false;
        st.offset_pending = false;
    }
    const zerrno rc = backend_verifyonly(sardo_cfg_schema(), event, error_text, result, context);
    if (rc != 0) {
        SARDO_DEBUG_ERR(AREA, "%s: [ERROR] %s: Verify batch item failed: %s", event->path, zerr_strerror(rc));
        ptp_trace<PTP_TRACE_SARDO_CFG_VERIFY_ITEM_FAILED>({sardo_det(), sardo_unq()}, event->path, rc);
    }
    return rc;
}

zerrno sardo_cfg_apply(const nodra_verify_event_info_td *event, void *context)
{
    if (event->index == 1) {
        SARDO_DEBUG(AREA, "%s: Received apply batch of %u items", event->count);
        ptp_trace<PTP_TRACE_SARDO_CFG_APPLY_BATCH>({sardo_det()}, event->count);
        st.file_pending = false;
        st.offset_pending = false;
    }
    char *scratch = nullptr;
    zerrno rc = backend_verifyonly(sardo_cfg_schema(), event, &scratch, nullptr, context);
    std::free(scratch);
    if (rc == 0) {
        rc = backend_apply(sardo_cfg_schema(), event, context);
    }
    if (rc == 0 && !is_enable_item(event)) {
        // Never below 0: an item stored before a restart that its rule now refuses was not counted.
        if (deleting(event)) {
            if (st.item_count > 0) {
                st.item_count--;
            }
        } else if ((event->event & NODRA_EVENT_CREATE) != 0 || st.registering) {
            st.item_count++;
        }
    }
    if (event->index == event->count && sardo_cfg_exit_check(event->sequence)) {
        if (sardo_cfg_shutdown_apply.event == nullptr) {
            sardo_cfg_shutdown_apply.event = event;
            sardo_cfg_shutdown_apply.result = rc;
            return NODRA_ERR_APPLY_PENDING;
        }
        // Only one apply completes at shut-down; a later one is answered now.
        SARDO_DEBUG_ERR(AREA, "%s: [ERROR] %s: An apply is already waiting for the exit", event->path);
    }
    return rc;
}

void sardo_cfg_abort(const nodra_abort_info_td *abort, void *)
{
    if (abort != nullptr && sardo_cfg_exit_check(abort->sequence)) {
        ptp_trace<PTP_TRACE_SARDO_CFG_ABORT_EXIT>({sardo_sum()});
        sardo_main_request_exit();
        return;
    }
    SARDO_DEBUG(AREA, "%s: Nodra abort notification received. PTP Global not exiting");
}

bool sardo_cfg_exit_check(uint32_t sequence)
{
    SARDO_DEBUG(AREA, "%s: Checking whether to exit");
    if (st.item_count != 0 || st.enabled) {
        return false;
    }
    bool follows = false;
    const zerrno rc = nodra_verification_batch_follows(sequence, &follows);
    if (rc != 0) {
        ptp_syslog_shutdown_check_failed(zerr_strerror(rc));
        ptp_trace<PTP_TRACE_SARDO_CFG_EXIT_CHECK_FAILED>({sardo_det(), sardo_unq()}, rc);
        return false;
    }
    if (follows) {
        SARDO_DEBUG(AREA, "%s: Batch follows for sequence %u. Not exiting", sequence);
        return false;
    }
    sardo_main_request_exit();
    SARDO_DEBUG(AREA, "%s: Exiting");
    return true;
}
