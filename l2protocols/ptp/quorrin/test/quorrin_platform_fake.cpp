// Recording fake of the platform driver's calls the process entry, selection and the configuration make.
#include <cstring>

#include "quorrin_fakes.h"
#include "quorrin_platform.h"

namespace {

quorrin_fake_platform_type platform;
const bool registered = quorrin_fake_on_reset([] { platform = quorrin_fake_platform_type{}; });

} // namespace

quorrin_fake_platform_type &quorrin_fake_platform()
{
    (void)registered;
    return platform;
}

zerrno quorrin_platform_capability_init(event_mgr_type *)
{
    quorrin_fake_record("quorrin_platform_capability_init");
    return quorrin_fake_result("quorrin_platform_capability_init");
}

zerrno quorrin_platform_start(event_mgr_type *)
{
    quorrin_fake_record("quorrin_platform_start");
    return quorrin_fake_result("quorrin_platform_start");
}

void quorrin_platform_stop(void)
{
    quorrin_fake_record("quorrin_platform_stop");
}

zerrno quorrin_platform_servo_init(void)
{
    quorrin_fake_record("quorrin_platform_servo_init");
    return quorrin_fake_result("quorrin_platform_servo_init");
}

uint32_t quorrin_platform_servo_start(bool use_time, bool use_frequency, int32_t log_sync_interval,
                                      int32_t log_delay_req_interval, uint32_t profile, uint32_t clock_type,
                                      uint32_t servo_mode, uint32_t network_type)
{
    quorrin_fake_record("servo_start time=" + std::to_string(use_time) + " freq=" + std::to_string(use_frequency) +
                        " sync=" + std::to_string(log_sync_interval) +
                        " dreq=" + std::to_string(log_delay_req_interval) + " profile=" + std::to_string(profile) +
                        " type=" + std::to_string(clock_type) + " mode=" + std::to_string(servo_mode) +
                        " net=" + std::to_string(network_type));
    const bool started = !platform.servo_started;
    platform.servo_started = true;
    return started ? 1 : 0;
}

uint32_t quorrin_platform_servo_stop(void)
{
    quorrin_fake_record("servo_stop");
    const bool stopped = platform.servo_started;
    platform.servo_started = false;
    return stopped ? 1 : 0;
}

zerrno quorrin_platform_slave_update(void)
{
    quorrin_fake_record("slave_update");
    return 0;
}

void quorrin_platform_utc_offset_update(uint8_t leap_seconds, const quorrin_platform_offset_info_type *info)
{
    quorrin_fake_record("utc_offset_update " + std::to_string(leap_seconds) + " " + std::to_string(info->utc_offset) +
                        " " + std::to_string(info->offset_valid));
}

// The platform library's own time, which its test control sets or fails.
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

void quorrin_platform_get_capabilities(quorrin_platform_capabilities_type *record)
{
    *record = platform.capabilities;
}

bool quorrin_platform_report_holdover_post_spec(void)
{
    return platform.holdover_post_spec;
}

bool quorrin_platform_supports_seln_local_clock(void)
{
    return platform.seln_local_clock;
}

bool quorrin_platform_is_initialised(void)
{
    return platform.initialised;
}

bool quorrin_platform_is_servo_started(void)
{
    return platform.servo_started;
}

// What the driver makes of a record with no valid field.
ptp_platform_clock_props_type quorrin_platform_props_convert(const ptp_platform_clock_props_type &props)
{
    ptp_platform_clock_props_type out = props;
    if (props.mask == 0) {
        out = {};
        out.timescale = 1;
        out.time_source = 0xA0;
        out.sync_state = 2;
        out.accuracy = 0xFE;
        out.oslv = 0xFFFF;
        out.ql_option = 1;
        out.ql_value = 1;
    }
    out.mask = 0xFFF;
    return out;
}

zerrno quorrin_platform_enable(void)
{
    quorrin_fake_record("quorrin_platform_enable");
    return quorrin_fake_result("quorrin_platform_enable");
}

void quorrin_platform_disable(void)
{
    quorrin_fake_record("quorrin_platform_disable");
}

zerrno quorrin_platform_settings_update(void)
{
    quorrin_fake_record("quorrin_platform_settings_update");
    return 0;
}

zerrno quorrin_platform_transparent_clock_update(bool enable)
{
    quorrin_fake_record(std::string("quorrin_platform_transparent_clock_update ") + (enable ? "1" : "0"));
    return 0;
}

bool quorrin_platform_supports_ptp(void)
{
    return platform.supports_ptp;
}
bool quorrin_platform_supports_leap_seconds(void)
{
    return platform.supports_leap_seconds;
}
bool quorrin_platform_supports_transp_clock(void)
{
    return platform.supports_transp_clock;
}
bool quorrin_platform_supports_servo_slow_tracking(void)
{
    return platform.supports_servo_slow_tracking;
}
bool quorrin_platform_g8265_requires_clock_type(void)
{
    return platform.g8265_requires_clock_type;
}
bool quorrin_platform_supports_profile(uint32_t)
{
    return platform.supports_profile;
}
bool quorrin_platform_get_holdover_duration_range(uint32_t *min, uint32_t *max)
{
    if (platform.has_holdover_range) {
        *min = platform.holdover_min;
        *max = platform.holdover_max;
    }
    return platform.has_holdover_range;
}

void quorrin_platform_servo_status(int64_t *offset_from_master, int64_t *mean_path_delay, uint32_t *status)
{
    quorrin_fake_record("servo_status");
    if (offset_from_master != nullptr) {
        *offset_from_master = platform.offset_from_master;
    }
    if (mean_path_delay != nullptr) {
        *mean_path_delay = platform.mean_path_delay;
    }
    if (status != nullptr) {
        *status = platform.servo_status;
    }
}

int64_t quorrin_platform_offset_threshold_set(int64_t warning, int64_t critical)
{
    quorrin_fake_record("offset_threshold_set " + std::to_string(warning) + " " + std::to_string(critical));
    return platform.threshold_offset;
}

// Two names are enough for the tests that print one.
const char *quorrin_platform_time_source_to_str(uint32_t time_source)
{
    return time_source == 0x20 ? "GPS" : "Unknown";
}
