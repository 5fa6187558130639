// The controller's driver of the platform PTP library.
#include "quorrin_platform.h"

#include <cstring>

#include "issul.h"
#include "ptp_strings.h"
#include "ptp_syslog.h"
#include "ptp_types.h"
#include "ptp_zerr_codes.h"
#include "quorrin_bmc.h"
#include "quorrin_cfg.h"
#include "quorrin_debug.h"
#include "quorrin_edm_traps.h"
#include "quorrin_ha.h"
#include "quorrin_main.h"

namespace {

// Versions this driver knows: capability API below 3, clock API below 2.
constexpr uint32_t CAPABILITY_API_VERSION_LIMIT = 3;
constexpr uint32_t CLOCK_API_VERSION_LIMIT = 2;
// Every property of a converted record is valid.
constexpr uint32_t CONVERTED_PROPS_MASK = 0xFFF;

constexpr uint8_t TIME_SOURCE_INTERNAL_OSCILLATOR = 0xA0;
constexpr uint8_t ACCURACY_UNKNOWN = 0xFE;
constexpr uint32_t PRIMARY_REF_TYPE_PRC = 1;
constexpr uint32_t PRIMARY_REF_TYPE_PRTC = 3;
constexpr uint32_t PRIMARY_REF_TYPE_EPRTC = 4;
// QL values from which the name table has no entry.
constexpr uint8_t QL_VALUE_LIMIT = 74;

struct driver_type {
    ptp_platform_capability_info_type capabilities{};
    uint32_t capability_version = 0;
    bool supports_seln_local_clock = false;

    bool enabled = false;
    bool ready = false;
    event_mgr_type *context = nullptr;
    bool servo_initialised = false;
    bool clock_initialised = false;
    bool platform_initialised = false;
    bool platform_active = false;
    bool servo_running = false;
    uint32_t servo_init_started = 0;
    uint32_t servo_init_synced = 0;

    bool utc_pending = false;
    uint8_t utc_pending_leap = 0;
    quorrin_platform_offset_info_type utc_pending_info{};

    ptp_platform_servo_status_fn status_fn = nullptr;
    ptp_platform_offset_threshold_set_fn offset_threshold_set_fn = nullptr;
};

driver_type driver;

const char *yes_no(uint32_t flag)
{
    return flag != 0 ? "yes" : "no";
}

const char *not_word(uint32_t flag)
{
    return flag != 0 ? "" : "not ";
}

bool capability(uint16_t bit)
{
    return (driver.capabilities.flags & bit) != 0;
}

// The servo and the clock are driven only by the controller that holds the active role: the
// primary of an upgrade, on the KVOLM node.
bool active_role()
{
    return quorrin_main_is_kvolm_or_lc() && quorrin_ha_get_issu_role() == ISSUL_ROLE_PRIMARY;
}

// A rate in packets per second from a log2 interval: 2^-interval for negative intervals, else 1.
uint8_t packet_rate(int32_t log_interval)
{
    if (log_interval >= 0) {
        return 1;
    }
    const int32_t shift = -log_interval;
    return shift >= 8 ? 0 : static_cast<uint8_t>(1u << shift);
}

const char *servo_mode_to_str(uint32_t mode)
{
    switch (mode) {
    case 0: return "Packet";
    case 1: return "Hybrid";
    default: return "Unknown";
    }
}

const char *network_type_to_str(uint32_t type)
{
    switch (type) {
    case 0: return "Default";
    case 1: return "High PDV";
    default: return "Unknown";
    }
}

const char *ql_to_str(uint8_t option, uint8_t value)
{
    if (option == 0) {
        return "None";
    }
    if (option > 3) {
        return "Invalid";
    }
    if (value >= QL_VALUE_LIMIT) {
        return "Unknown QL";
    }
    return quorrin_bmc_ql_value_to_str(value);
}

const char *best_source_to_str(uint32_t source)
{
    switch (source) {
    case PTP_PLATFORM_BEST_SOURCE_FOREIGN_MASTER: return "foreign master";
    case PTP_PLATFORM_BEST_SOURCE_LOCAL_CLOCK: return "local clock";
    case PTP_PLATFORM_BEST_SOURCE_VIRTUAL_PORT: return "virtual port";
    default: return "unknown";
    }
}

zerrno init_failed(const char *prefix, const char *text, zerrno rc)
{
    ptp_syslog_init_failed(prefix, text);
    return rc;
}

// The grandmaster part of a slave update (and of the clock init), when there is a grandmaster
// the platform is to follow. Returns the best source, or false when there is none to send.
bool slave_gm_fill(ptp_platform_slave_info_type *slave, uint32_t *best_source)
{
    quorrin_bmc_gm_type gm{};
    const ptp_clock_type *clock = quorrin_bmc_get_gm(&gm);
    *best_source = gm.best_source;
    if (clock == nullptr || (gm.best_source != PTP_PLATFORM_BEST_SOURCE_FOREIGN_MASTER &&
                             !capability(PTP_PLATFORM_CAP_GM_WHILE_LOCAL_BEST))) {
        return false;
    }
    slave->gm_available = 1;
    slave->has_frequency = clock->frequency_traceable != 0 ? 1 : 0;
    slave->has_time = clock->time_traceable != 0 ? 1 : 0;
    slave->timescale = clock->timescale;
    slave->tod_priority = quorrin_cfg_get_tod_priority();
    slave->freq_priority = quorrin_cfg_get_freq_priority();
    slave->ql_option = gm.ql.option;
    slave->ql_value = gm.ql.value;
    slave->delay_asymmetry = gm.delay_asymmetry;
    slave->ifhandle = gm.ifhandle;
    return true;
}

void props_print(const char *intro, const ptp_platform_clock_props_type &p)
{
    QUORRIN_DEBUG(QUORRIN_AREA_PLATFORM,
                  "%s: %sProps mask 0x%x: Timescale %s, Time-Source %s, Primary Ref %s, Sync %s, Acc 0x%x, OSLV %u, "
                  "Offset Valid %s, Offset %u, Freq traceable %s, Time traceable %s, Leap seconds %s, QL option %u, "
                  "QL value %u, Primary ref type %s",
                  intro, p.mask, ptp_clock_timescale_to_str(p.timescale),
                  quorrin_platform_time_source_to_str(p.time_source), yes_no(p.primary_ref),
                  quorrin_platform_sync_state_to_str(p.sync_state), p.accuracy, p.oslv, yes_no(p.utc_offset_valid),
                  static_cast<uint32_t>(p.utc_offset), yes_no(p.frequency_traceable), yes_no(p.time_traceable),
                  ptp_leap_second_to_str(p.leap_seconds), p.ql_option, p.ql_value,
                  quorrin_platform_primary_ref_type_to_str(p.primary_ref_type));
}

// The platform's clock state handed to selection: at init and at each clock update.
void clock_state_to_bmc(const ptp_platform_clock_info_type &clock, uint32_t from_init)
{
    const ptp_platform_clock_props_type local = quorrin_platform_props_convert(clock.local_props);
    ptp_platform_clock_props_type selection{};
    if (driver.supports_seln_local_clock) {
        selection = quorrin_platform_props_convert(clock.selection_props);
    }
    const uint32_t utc_bits = PTP_PLATFORM_PROPS_UTC_OFFSET | PTP_PLATFORM_PROPS_LEAP;
    const uint32_t utc_info_valid = (clock.local_props.mask & utc_bits) == utc_bits ? 1 : 0;
    const uint32_t vp_connected =
        driver.supports_seln_local_clock && clock.selection_vp_present != 0 && clock.selection_vp_connected != 0 ? 1
                                                                                                                 : 0;
    quorrin_bmc_platform_clock_update(clock.clock_active, clock.using_ptp_for_frequency, clock.using_ptp_for_time,
                                      &local, driver.supports_seln_local_clock ? &selection : nullptr, vp_connected,
                                      utc_info_valid, from_init);
}

void send_utc_offset(uint8_t leap_seconds, const quorrin_platform_offset_info_type &info)
{
    QUORRIN_DEBUG(QUORRIN_AREA_PLATFORM, "%s: Sending UTC offset update to platform. Leap seconds: %s, UTC offset: %s",
                  ptp_leap_second_to_str(leap_seconds), ptp_utc_offset_to_str(info.utc_offset, info.offset_valid));
    ptp_platform_clock_leap_second_update_in_type in{};
    ptp_platform_clock_leap_second_update_info_type out{};
    in.leap_seconds = leap_seconds;
    in.utc_offset = info.utc_offset;
    in.utc_offset_valid = info.offset_valid;
    ptp_platform_clock_leap_second_update(&in, &out);
}

// ---- Callbacks of the library --------------------------------------------------------------

void servo_sync_cb()
{
    if (!driver.servo_running) {
        QUORRIN_DEBUG(QUORRIN_AREA_PLATFORM, "%s: Servo not running, dropping sync notification from platform");
        ptp_trace<PTP_TRACE_QUORRIN_PLATFORM_SYNC_DROPPED>({quorrin_det()});
        return;
    }
    QUORRIN_DEBUG(QUORRIN_AREA_PLATFORM, "%s: Received notification of servo-sync from platform");
    ptp_trace<PTP_TRACE_QUORRIN_PLATFORM_SYNC>({quorrin_det()});
    quorrin_bmc_gm_synced();
}

void servo_fault_cb()
{
    QUORRIN_DEBUG(QUORRIN_AREA_PLATFORM, "%s: Received servo fault notification from platform");
    quorrin_bmc_gm_sync_lost();
}

void clock_state_cb(uint32_t status)
{
    quorrin_edm_trap_generate_clock_state(status);
}

void offset_threshold_cb(const ptp_platform_offset_threshold_info_type *info)
{
    quorrin_edm_trap_generate_threshold_breach(info->offset_from_master, info->sub_ns);
}

void clock_update_cb(const ptp_platform_clock_info_type *info)
{
    QUORRIN_DEBUG(
        QUORRIN_AREA_PLATFORM,
        "%s: Received clock update from platform. Clock %sactive, %susing PTP for frequency, %susing PTP for "
        "time. Props mask 0x%x: Timescale %s, Time-Source %s, Primary Ref %s, Sync %s, Acc 0x%x, OSLV %u, "
        "Offset Valid %s, Offset %u, Freq traceable %s, Time traceable %s, Leap seconds %s, QL option %u, "
        "QL value %u, Primary ref type %s",
        not_word(info->clock_active), not_word(info->using_ptp_for_frequency), not_word(info->using_ptp_for_time),
        info->local_props.mask, ptp_clock_timescale_to_str(info->local_props.timescale),
        quorrin_platform_time_source_to_str(info->local_props.time_source), yes_no(info->local_props.primary_ref),
        quorrin_platform_sync_state_to_str(info->local_props.sync_state), info->local_props.accuracy,
        info->local_props.oslv, yes_no(info->local_props.utc_offset_valid),
        static_cast<uint32_t>(info->local_props.utc_offset), yes_no(info->local_props.frequency_traceable),
        yes_no(info->local_props.time_traceable), ptp_leap_second_to_str(info->local_props.leap_seconds),
        info->local_props.ql_option, info->local_props.ql_value,
        quorrin_platform_primary_ref_type_to_str(info->local_props.primary_ref_type));
    props_print("Received clock update from platform. Selection Input Clock:  ", info->selection_props);
    clock_state_to_bmc(*info, 0);
}

void resync_request_cb()
{
    QUORRIN_DEBUG(QUORRIN_AREA_PLATFORM, "%s: Received resync request from the platform");
    quorrin_platform_slave_update();
}

// ---- Init and shutdown ---------------------------------------------------------------------

zerrno clock_init()
{
    ptp_platform_clock_init_in_type in{};
    ptp_platform_clock_init_info_type out{};
    in.context = reinterpret_cast<uint64_t>(driver.context);
    uint32_t best_source = 0;
    slave_gm_fill(&in.slave, &best_source);
    in.clock_update_cb = clock_update_cb;
    in.resync_request_cb = resync_request_cb;
    const zerrno rc = ptp_platform_clock_init(&in, &out);
    if (rc != 0) {
        ptp_trace<PTP_TRACE_QUORRIN_PLATFORM_CLOCK_INIT_FAILED>({quorrin_det(), quorrin_sum()}, rc);
        return init_failed("Failed to initialize platform clock: ", zerr_strerror(rc), rc);
    }
    const ptp_platform_clock_props_type &p = out.clock.local_props;
    QUORRIN_DEBUG(QUORRIN_AREA_PLATFORM,
                  "%s: Initialized platform clock. Slave %savailable. Has freq %s, Has time %s, Timescale %s, Freq "
                  "Pri %u, ToD Pri %u, QL %s, Delay Asymmetry %u, Interface handle %#8.8x. Clock %sactive, %susing "
                  "PTP for freq, %susing PTP for time. Props mask 0x%x: Timescale %s, Time-Source %s, Primary Ref "
                  "%s, Sync %s, Acc 0x%x, OSLV %u, Offset Valid %s, Offset %u, Freq traceable %s, Time traceable %s, "
                  "Leap seconds %s, QL option %u, QL value %u, Primary ref type %s",
                  not_word(in.slave.gm_available), yes_no(in.slave.has_frequency), yes_no(in.slave.has_time),
                  ptp_clock_timescale_to_str(in.slave.timescale), in.slave.freq_priority, in.slave.tod_priority,
                  ql_to_str(in.slave.ql_option, in.slave.ql_value), static_cast<uint32_t>(in.slave.delay_asymmetry),
                  in.slave.ifhandle, not_word(out.clock.clock_active), not_word(out.clock.using_ptp_for_frequency),
                  not_word(out.clock.using_ptp_for_time), p.mask, ptp_clock_timescale_to_str(p.timescale),
                  quorrin_platform_time_source_to_str(p.time_source), yes_no(p.primary_ref),
                  quorrin_platform_sync_state_to_str(p.sync_state), p.accuracy, p.oslv, yes_no(p.utc_offset_valid),
                  static_cast<uint32_t>(p.utc_offset), yes_no(p.frequency_traceable), yes_no(p.time_traceable),
                  ptp_leap_second_to_str(p.leap_seconds), p.ql_option, p.ql_value,
                  quorrin_platform_primary_ref_type_to_str(p.primary_ref_type));
    props_print("Initialized platform clock. Selection Input Clock:  ", out.clock.selection_props);
    // Checked before the clock counts as initialised: a clock of an unknown version must not be
    // taken as up by a later enable, which would then skip its init.
    if (out.version >= CLOCK_API_VERSION_LIMIT) {
        ptp_trace<PTP_TRACE_QUORRIN_PLATFORM_CLOCK_VERSION>({quorrin_det(), quorrin_sum()}, CLOCK_API_VERSION_LIMIT - 1,
                                                            out.version);
        ptp_platform_clock_shutdown();
        return init_failed("Failed to initialize platform clock:", " Unsupported API version", PTP_ZERR_INVALID_ARG);
    }
    driver.clock_initialised = true;
    driver.supports_seln_local_clock = out.version == 1;
    ptp_trace<PTP_TRACE_QUORRIN_PLATFORM_CLOCK_INITIALIZED>({quorrin_det()}, out.version);
    clock_state_to_bmc(out.clock, 1);
    return 0;
}

zerrno platform_init()
{
    zerrno rc = 0;
    if (active_role()) {
        rc = quorrin_platform_servo_init();
    }
    if (rc == 0 && !driver.clock_initialised) {
        rc = clock_init();
    }
    if (rc == 0) {
        driver.platform_initialised = true;
        ptp_trace<PTP_TRACE_QUORRIN_PLATFORM_INITIALIZED>({quorrin_det()});
    }
    if (driver.utc_pending && driver.platform_initialised) {
        driver.utc_pending = false;
        send_utc_offset(driver.utc_pending_leap, driver.utc_pending_info);
    }
    if (rc == 0) {
        quorrin_platform_settings_update();
        driver.platform_active = true;
    }
    return rc;
}

void platform_shutdown()
{
    driver.platform_initialised = false;
    driver.supports_seln_local_clock = false;
    ptp_platform_capability_shutdown();
    if (driver.servo_running && active_role()) {
        QUORRIN_DEBUG(QUORRIN_AREA_PLATFORM, "%s: Stopping servo");
        ptp_trace<PTP_TRACE_QUORRIN_PLATFORM_SERVO_STOP>({quorrin_det()});
        ptp_platform_servo_stop_in_type in{};
        ptp_platform_servo_stop_info_type out{};
        ptp_platform_servo_stop(&in, &out);
        driver.servo_running = false;
    }
    ptp_platform_clock_shutdown();
    ptp_platform_servo_shutdown();
    driver.platform_active = false;
    driver.servo_initialised = false;
    driver.clock_initialised = false;
    driver.status_fn = nullptr;
    driver.offset_threshold_set_fn = nullptr;
}

} // namespace

// ---- Names -----------------------------------------------------------------------------------

const char *quorrin_platform_time_source_to_str(uint32_t time_source)
{
    switch (time_source) {
    case 0x10: return "Atomic Clock";
    case 0x20: return "GPS";
    case 0x30: return "Terrestrial Radio";
    case 0x40: return "PTP";
    case 0x50: return "NTP";
    case 0x60: return "Hand-set";
    case 0x90: return "Other";
    case 0xA0: return "Internal Oscillator";
    default: return "Unknown";
    }
}

const char *quorrin_platform_sync_state_to_str(uint32_t sync_state)
{
    switch (sync_state) {
    case 0: return "Sync";
    case 1: return "Holdover specification";
    case 2: return "No-sync";
    case 3: return "Holdover post-specification";
    case 4: return "Double failure";
    default: return "Unknown";
    }
}

const char *quorrin_platform_primary_ref_type_to_str(uint32_t type)
{
    switch (type) {
    case 0: return "None";
    case 1: return "PRC";
    case 2: return "EPRC";
    case 3: return "PRTC";
    case 4: return "EPRTC";
    default: return "Unknown";
    }
}

ptp_platform_clock_props_type quorrin_platform_props_convert(const ptp_platform_clock_props_type &in)
{
    auto has = [&in](uint32_t bit) { return (in.mask & bit) != 0; };
    const bool typed_reference =
        has(PTP_PLATFORM_PROPS_PRIMARY_REF_TYPE) && in.primary_ref_type != 0; // a reference type says it is one
    ptp_platform_clock_props_type out{};
    out.mask = CONVERTED_PROPS_MASK;
    out.timescale = has(PTP_PLATFORM_PROPS_TIMESCALE) ? in.timescale : static_cast<uint8_t>(PTP_TIMESCALE_ARB);
    out.time_source = has(PTP_PLATFORM_PROPS_TIME_SOURCE) ? in.time_source : TIME_SOURCE_INTERNAL_OSCILLATOR;
    out.sync_state =
        has(PTP_PLATFORM_PROPS_SYNC_STATE) ? in.sync_state : static_cast<uint8_t>(PTP_PLATFORM_SYNC_STATE_NO_SYNC);
    out.accuracy = has(PTP_PLATFORM_PROPS_ACCURACY) ? in.accuracy : ACCURACY_UNKNOWN;
    out.oslv = has(PTP_PLATFORM_PROPS_OSLV) ? in.oslv : 0xFFFF;
    if (has(PTP_PLATFORM_PROPS_UTC_OFFSET)) {
        out.utc_offset = in.utc_offset;
        out.utc_offset_valid = in.utc_offset_valid;
    }
    out.leap_seconds = has(PTP_PLATFORM_PROPS_LEAP) ? in.leap_seconds : 0;
    if (has(PTP_PLATFORM_PROPS_QL)) {
        out.ql_option = in.ql_option;
        out.ql_value = in.ql_value;
    } else {
        out.ql_option = 1;
        out.ql_value = 1;
    }
    if (has(PTP_PLATFORM_PROPS_PRIMARY_REF)) {
        out.primary_ref = in.primary_ref;
    } else {
        out.primary_ref = typed_reference ? 1 : 0;
    }
    if (has(PTP_PLATFORM_PROPS_TRACEABLE)) {
        out.frequency_traceable = in.frequency_traceable;
        out.time_traceable = in.time_traceable;
    } else if (typed_reference &&
               (in.primary_ref_type == PRIMARY_REF_TYPE_PRTC || in.primary_ref_type == PRIMARY_REF_TYPE_EPRTC)) {
        out.frequency_traceable = 1;
        out.time_traceable = 1;
    }
    if (has(PTP_PLATFORM_PROPS_PRIMARY_REF_TYPE)) {
        out.primary_ref_type = in.primary_ref_type;
    } else if (out.primary_ref != 0) {
        out.primary_ref_type =
            out.frequency_traceable != 0 && out.time_traceable != 0 ? PRIMARY_REF_TYPE_PRTC : PRIMARY_REF_TYPE_PRC;
    }
    return out;
}

// ---- Capabilities ----------------------------------------------------------------------------

zerrno quorrin_platform_capability_init(event_mgr_type *context)
{
    ptp_platform_capability_init_in_type in{};
    ptp_platform_capability_init_info_type out{};
    in.context = reinterpret_cast<uint64_t>(context);
    zerrno rc = ptp_platform_capability_init(&in, &out);
    if (rc != 0) {
        ptp_trace<PTP_TRACE_QUORRIN_PLATFORM_CAPABILITY_INIT_FAILED>({quorrin_det(), quorrin_sum()}, rc);
        return init_failed("Failed to initialize platform capabilities: ", zerr_strerror(rc), rc);
    }
    driver.capability_version = out.version;
    if (out.version >= CAPABILITY_API_VERSION_LIMIT) {
        ptp_trace<PTP_TRACE_QUORRIN_PLATFORM_CAPABILITY_VERSION>({quorrin_det(), quorrin_sum()},
                                                                 CAPABILITY_API_VERSION_LIMIT - 1, out.version);
        return init_failed("Failed to initialize platform capabilities: ", "Unsupported API version",
                           PTP_ZERR_INVALID_ARG);
    }
    ptp_platform_capability_get_in_type get_in{};
    rc = ptp_platform_capability_get(&get_in, &driver.capabilities);
    if (rc != 0) {
        driver.capabilities = {};
        ptp_trace<PTP_TRACE_QUORRIN_PLATFORM_CAPABILITY_INIT_FAILED>({quorrin_det(), quorrin_sum()}, rc);
        return init_failed("Failed to initialize platform capabilities: ", zerr_strerror(rc), rc);
    }
    // The first version of the library knew no profile bits: it supports every profile.
    if (out.version == 0) {
        driver.capabilities.flags |=
            PTP_PLATFORM_CAP_PROFILE_G8265_1 | PTP_PLATFORM_CAP_PROFILE_G8275_1 | PTP_PLATFORM_CAP_PROFILE_G8275_2;
    }
    return 0;
}

void quorrin_platform_get_capabilities(quorrin_platform_capabilities_type *record)
{
    *record = {};
    record->supports_ptp = capability(PTP_PLATFORM_CAP_PTP);
    record->supports_slave = capability(PTP_PLATFORM_CAP_SLAVE);
    record->supports_transp_clock = capability(PTP_PLATFORM_CAP_TRANSP_CLOCK);
    record->supports_leap_seconds = capability(PTP_PLATFORM_CAP_LEAP_SECONDS);
    record->supports_profile = quorrin_platform_supports_profile(quorrin_cfg_get_profile());
    record->supports_seln_local_clock = driver.supports_seln_local_clock;
    record->supports_servo_slow_track = capability(PTP_PLATFORM_CAP_SERVO_SLOW_TRACK);
    record->supports_holdover_duration = capability(PTP_PLATFORM_CAP_HOLDOVER_DURATION);
    record->g8265_requires_local_clock = capability(PTP_PLATFORM_CAP_G8265_LOCAL_CLOCK);
    record->supports_apts = capability(PTP_PLATFORM_CAP_APTS);
    record->report_holdover_post_spec = capability(PTP_PLATFORM_CAP_HOLDOVER_POST_SPEC);
    record->send_gm_while_local_best = capability(PTP_PLATFORM_CAP_GM_WHILE_LOCAL_BEST);
    record->o1_value = driver.capabilities.o1_value;
    record->o2_g1_value = driver.capabilities.o2_g1_value;
    record->o2_g2_value = driver.capabilities.o2_g2_value;
    quorrin_platform_get_holdover_duration_range(&record->holdover_duration_min, &record->holdover_duration_max);
    record->capability_version = driver.capability_version;
    record->servo_started = driver.servo_init_started;
    record->servo_synced = driver.servo_init_synced;
}

bool quorrin_platform_supports_slave(void)
{
    return capability(PTP_PLATFORM_CAP_SLAVE);
}
bool quorrin_platform_supports_ptp(void)
{
    return capability(PTP_PLATFORM_CAP_PTP);
}
bool quorrin_platform_supports_transp_clock(void)
{
    return capability(PTP_PLATFORM_CAP_TRANSP_CLOCK);
}
bool quorrin_platform_supports_leap_seconds(void)
{
    return capability(PTP_PLATFORM_CAP_LEAP_SECONDS);
}
bool quorrin_platform_supports_profile(uint32_t profile)
{
    switch (profile) {
    case PTP_PROFILE_DEFAULT: return true;
    case PTP_PROFILE_G8265_1: return capability(PTP_PLATFORM_CAP_PROFILE_G8265_1);
    case PTP_PROFILE_G8275_1: return capability(PTP_PLATFORM_CAP_PROFILE_G8275_1);
    case PTP_PROFILE_G8275_2: return capability(PTP_PLATFORM_CAP_PROFILE_G8275_2);
    default: return false;
    }
}
bool quorrin_platform_g8265_requires_clock_type(void)
{
    return capability(PTP_PLATFORM_CAP_G8265_LOCAL_CLOCK);
}
bool quorrin_platform_supports_servo_slow_tracking(void)
{
    return capability(PTP_PLATFORM_CAP_SERVO_SLOW_TRACK);
}
bool quorrin_platform_get_holdover_duration_range(uint32_t *min, uint32_t *max)
{
    const bool supported = capability(PTP_PLATFORM_CAP_HOLDOVER_DURATION);
    if (supported) {
        if (min != nullptr) {
            *min = driver.capabilities.holdover_duration_min;
        }
        if (max != nullptr) {
            *max = driver.capabilities.holdover_duration_max;
        }
    }
    return supported;
}
bool quorrin_platform_supports_apts(void)
{
    return capability(PTP_PLATFORM_CAP_APTS);
}
bool quorrin_platform_report_holdover_post_spec(void)
{
    return capability(PTP_PLATFORM_CAP_HOLDOVER_POST_SPEC);
}
bool quorrin_platform_supports_seln_local_clock(void)
{
    return driver.supports_seln_local_clock;
}
bool quorrin_platform_is_initialised(void)
{
    return driver.platform_initialised;
}
bool quorrin_platform_is_servo_started(void)
{
    return driver.servo_running;
}

// ---- Bring-up and take-down --------------------------------------------------------------------

zerrno quorrin_platform_enable(void)
{
    driver.enabled = true;
    return driver.ready ? platform_init() : 0;
}

zerrno quorrin_platform_start(event_mgr_type *context)
{
    driver.context = context;
    driver.ready = true;
    return driver.enabled ? platform_init() : 0;
}

void quorrin_platform_disable(void)
{
    driver.enabled = false;
    if (driver.platform_active) {
        platform_shutdown();
    }
}

void quorrin_platform_stop(void)
{
    driver.ready = false;
    if (driver.platform_active) {
        platform_shutdown();
    }
}

zerrno quorrin_platform_servo_init(void)
{
    if (driver.servo_initialised) {
        return 0;
    }
    ptp_platform_servo_init_in_type in{};
    ptp_platform_servo_init_info_type out{};
    in.context = reinterpret_cast<uint64_t>(driver.context);
    in.servo_sync_cb = servo_sync_cb;
    in.servo_fault_cb = servo_fault_cb;
    in.clock_state_cb = clock_state_cb;
    in.offset_threshold_cb = offset_threshold_cb;
    const zerrno rc = ptp_platform_servo_init(&in, &out);
    if (rc != 0) {
        ptp_trace<PTP_TRACE_QUORRIN_PLATFORM_SERVO_INIT_FAILED>({quorrin_det(), quorrin_sum()}, rc);
        return init_failed("Failed to initialize platform servo: ", zerr_strerror(rc), rc);
    }
    driver.servo_initialised = true;
    driver.servo_init_started = out.servo_started;
    driver.servo_init_synced = out.servo_synced;
    driver.status_fn = out.status_fn;
    driver.offset_threshold_set_fn = out.offset_threshold_set_fn;
    QUORRIN_DEBUG(QUORRIN_AREA_PLATFORM, "%s: Initialized servo, Servo was %sstarted, %ssynced",
                  not_word(out.servo_started), not_word(out.servo_synced));
    ptp_trace<PTP_TRACE_QUORRIN_PLATFORM_SERVO_INITIALIZED>({quorrin_det()}, out.servo_started, out.servo_synced);
    if (out.servo_started != 0) {
        driver.servo_running = true;
        quorrin_bmc_servo_started();
        if (out.servo_synced != 0) {
            servo_sync_cb();
        }
    }
    return 0;
}

// ---- Servo -----------------------------------------------------------------------------------------

uint32_t quorrin_platform_servo_start(bool use_time, bool use_frequency, int32_t log_sync_interval,
                                      int32_t log_delay_req_interval, uint32_t profile, uint32_t clock_type,
                                      uint32_t servo_mode, uint32_t network_type)
{
    if (driver.servo_running || !active_role()) {
        return 0;
    }
    ptp_platform_servo_start_in_type in{};
    ptp_platform_servo_start_info_type out{};
    in.use_flags = static_cast<uint8_t>((use_frequency ? PTP_PLATFORM_SERVO_USE_FREQ : 0) |
                                        (use_time ? PTP_PLATFORM_SERVO_USE_TIME : 0));
    in.sync_rate = packet_rate(log_sync_interval);
    in.delay_req_rate = packet_rate(log_delay_req_interval);
    in.profile = profile;
    in.clock_type = clock_type;
    in.servo_mode = servo_mode;
    in.network_type = network_type;
    const char *time_word = use_time ? "Using" : "Not using";
    const char *freq_word = use_frequency ? "using" : "not using";
    QUORRIN_DEBUG(QUORRIN_AREA_PLATFORM,
                  "%s: Starting servo. %s time, %s freq, sync packet rate %u, delay request packet rate %u, profile "
                  "%s, clock_type %s, servo mode %s",
                  time_word, freq_word, in.sync_rate, in.delay_req_rate, ptp_profile_to_str(profile),
                  ptp_telecom_clock_type_to_str(clock_type, profile), servo_mode_to_str(servo_mode));
    QUORRIN_DEBUG(QUORRIN_AREA_PLATFORM, "%s: Starting servo - continued. Network type %s",
                  network_type_to_str(network_type));
    ptp_trace<PTP_TRACE_QUORRIN_PLATFORM_SERVO_START>(
        {quorrin_det()}, time_word, freq_word, in.sync_rate, in.delay_req_rate, profile,
        ptp_telecom_clock_type_to_str(clock_type, profile), servo_mode_to_str(servo_mode));
    ptp_trace<PTP_TRACE_QUORRIN_PLATFORM_SERVO_START_NETWORK>({quorrin_det()}, network_type_to_str(network_type));
    ptp_platform_servo_start(&in, &out);
    driver.servo_running = true;
    return 1;
}

uint32_t quorrin_platform_servo_stop(void)
{
    if (!driver.servo_running || !active_role()) {
        return 0;
    }
    QUORRIN_DEBUG(QUORRIN_AREA_PLATFORM, "%s: Stopping servo");
    ptp_trace<PTP_TRACE_QUORRIN_PLATFORM_SERVO_STOP>({quorrin_det()});
    ptp_platform_servo_stop_in_type in{};
    ptp_platform_servo_stop_info_type out{};
    ptp_platform_servo_stop(&in, &out);
    driver.servo_running = false;
    return 1;
}

void quorrin_platform_servo_time_update(const uint8_t *entry)
{
    if (!driver.servo_running) {
        return;
    }
    ptp_platform_servo_time_update_in_type in{};
    ptp_platform_servo_time_update_info_type out{};
    std::memcpy(in.entry, entry, sizeof in.entry);
    ptp_platform_servo_time_update(&in, &out);
}

void quorrin_platform_servo_status(int64_t *offset_from_master, int64_t *mean_path_delay, uint32_t *status)
{
    if (offset_from_master != nullptr) {
        *offset_from_master = 0;
    }
    if (mean_path_delay != nullptr) {
        *mean_path_delay = 0;
    }
    if (status != nullptr) {
        *status = 0;
    }
    if (driver.status_fn == nullptr) {
        return;
    }
    ptp_platform_servo_status_info_type info{};
    const zerrno rc = driver.status_fn(&info);
    if (rc != 0) {
        QUORRIN_DEBUG(QUORRIN_AREA_PLATFORM, "%s: PD servo status query failed: %s", zerr_strerror(rc));
        return;
    }
    if (offset_from_master != nullptr) {
        *offset_from_master = info.offset_from_master;
    }
    if (mean_path_delay != nullptr) {
        *mean_path_delay = info.mean_path_delay;
    }
    if (status != nullptr) {
        *status = info.status;
    }
}

int64_t quorrin_platform_offset_threshold_set(int64_t warning, int64_t critical)
{
    if (driver.offset_threshold_set_fn == nullptr) {
        return 0;
    }
    int64_t current = 0;
    return driver.offset_threshold_set_fn(warning, critical, &current) == 0 ? current : 0;
}

// ---- Clock -----------------------------------------------------------------------------------------

zerrno quorrin_platform_slave_update(void)
{
    ptp_platform_clock_slave_update_in_type in{};
    ptp_platform_clock_slave_update_info_type out{};
    uint32_t best_source = 0;
    const bool gm = slave_gm_fill(&in.slave, &best_source);
    in.apts_enabled = quorrin_cfg_get_apts() ? 1 : 0;
    const char *apts = in.apts_enabled != 0 ? "enabled" : "disabled";
    if (gm) {
        in.best_source = best_source;
        QUORRIN_DEBUG(QUORRIN_AREA_PLATFORM,
                      "%s: Sending slave update to platform. Grandmaster available: Has freq %s, Has time %s, "
                      "Timescale %s, Freq Pri %u, ToD Pri %u QL %s, Delay Asymmetry %d, Interface handle %#8.8x, "
                      "APTS %s, best source is %s",
                      yes_no(in.slave.has_frequency), yes_no(in.slave.has_time),
                      ptp_clock_timescale_to_str(in.slave.timescale), in.slave.freq_priority, in.slave.tod_priority,
                      ql_to_str(in.slave.ql_option, in.slave.ql_value), in.slave.delay_asymmetry, in.slave.ifhandle,
                      apts, best_source_to_str(best_source));
        const uint32_t freq_time = (in.slave.has_frequency != 0 ? 1u : 0u) | (in.slave.has_time != 0 ? 2u : 0u);
        const uint32_t ql = static_cast<uint32_t>(in.slave.ql_option) << 16 | in.slave.ql_value;
        ptp_trace<PTP_TRACE_QUORRIN_PLATFORM_SLAVE_UPDATE_GM>(
            {quorrin_det()}, freq_time, ptp_clock_timescale_to_str(in.slave.timescale), in.slave.freq_priority,
            in.slave.tod_priority, ql, in.slave.delay_asymmetry, in.slave.ifhandle, apts);
    } else {
        const char *why = quorrin_bmc_get_gm(nullptr) != nullptr ? "local clock is best source" : "not present";
        QUORRIN_DEBUG(QUORRIN_AREA_PLATFORM,
                      "%s: Sending slave update to platform. Not sending grandmaster info (%s), APTS %s", why, apts);
        ptp_trace<PTP_TRACE_QUORRIN_PLATFORM_SLAVE_UPDATE_NO_GM>({quorrin_det()}, why, apts);
    }
    return ptp_platform_clock_slave_update(&in, &out);
}

void quorrin_platform_utc_offset_update(uint8_t leap_seconds, const quorrin_platform_offset_info_type *info)
{
    if (!driver.platform_initialised) {
        // Only the newest is kept: it is the one the platform must end with.
        driver.utc_pending = true;
        driver.utc_pending_leap = leap_seconds;
        driver.utc_pending_info = *info;
        QUORRIN_DEBUG(QUORRIN_AREA_PLATFORM,
                      "%s: Queuing a UTC offset update to be sent to platform once initialised. Leap seconds: %s, "
                      "UTC offset: %s",
                      ptp_leap_second_to_str(leap_seconds),
                      ptp_utc_offset_to_str(info->utc_offset, info->offset_valid));
        return;
    }
    send_utc_offset(leap_seconds, *info);
}

zerrno quorrin_platform_transparent_clock_update(bool enable)
{
    const char *word = enable ? "enable" : "disable";
    QUORRIN_DEBUG(QUORRIN_AREA_PLATFORM, "%s: Sending transparent clock %s update to platform.", word);
    ptp_trace<PTP_TRACE_QUORRIN_PLATFORM_TRANSPARENT_CLOCK>({quorrin_det()}, word);
    ptp_platform_clock_transparent_clock_update_in_type in{};
    ptp_platform_clock_transparent_clock_update_info_type out{};
    in.enable = enable ? 1 : 0;
    return ptp_platform_clock_transparent_clock_update(&in, &out);
}

zerrno quorrin_platform_get_current_timestamp(uint8_t timestamp[PTP_PLATFORM_TIMESTAMP_LEN])
{
    ptp_platform_clock_get_current_timestamp_in_type in{};
    ptp_platform_clock_get_current_timestamp_info_type out{};
    const zerrno rc = ptp_platform_clock_get_current_timestamp(&in, &out);
    if (rc == 0) {
        std::memcpy(timestamp, out.timestamp, PTP_PLATFORM_TIMESTAMP_LEN);
    }
    return rc;
}

zerrno quorrin_platform_settings_update(void)
{
    if (!driver.platform_initialised) {
        return 0;
    }
    ptp_platform_clock_settings_update_in_type in{};
    ptp_platform_clock_settings_update_info_type out{};
    in.profile = quorrin_cfg_get_profile();
    in.clock_type = quorrin_cfg_get_telecom_clock_type();
    quorrin_bmc_get_servo_options(&in.servo_mode, &in.network_type);
    in.servo_slow_tracking = static_cast<uint16_t>(quorrin_cfg_get_servo_slow_tracking());
    bool holdover_set = false;
    quorrin_cfg_get_holdover_duration(&holdover_set, &in.holdover_duration);
    in.holdover_duration_set = holdover_set ? 1 : 0;
    const char *clock_type = ptp_telecom_clock_type_to_str(in.clock_type, in.profile);
    const char *slow_tracking = ptp_slow_tracking_to_str(in.servo_slow_tracking);
    const char *set_word = holdover_set ? "(SET)" : "(NOT SET)";
    QUORRIN_DEBUG(QUORRIN_AREA_PLATFORM,
                  "%s: Sending clock settings update to platform: Profile %s, Clock Type %s, Servo Mode %s, Network "
                  "Type %s, Servo Slow Tracking %s, Holdover Duration (secs) %u %s",
                  ptp_profile_to_str(in.profile), clock_type, servo_mode_to_str(in.servo_mode),
                  network_type_to_str(in.network_type), slow_tracking, in.holdover_duration, set_word);
    ptp_trace<PTP_TRACE_QUORRIN_PLATFORM_SETTINGS>(
        {quorrin_det()}, in.profile, clock_type, servo_mode_to_str(in.servo_mode), network_type_to_str(in.network_type),
        slow_tracking, in.holdover_duration, set_word);
    return ptp_platform_clock_settings_update(&in, &out);
}
