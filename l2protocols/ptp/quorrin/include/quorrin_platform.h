// The controller's driver of the platform PTP library: capabilities, servo and clock. The only
// module that calls the library; the others ask it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "evm.h"
#include "ptp_platform.h"
#include "zerrno.h"

// A UTC offset and whether it is valid.
struct quorrin_platform_offset_info_type {
    int16_t utc_offset;
    uint32_t offset_valid;
};

// What the controller database shows of the platform, in this order.
struct quorrin_platform_capabilities_type {
    bool supports_ptp;
    bool supports_slave;
    bool supports_transp_clock;
    bool supports_leap_seconds;
    bool supports_profile; // the configured profile
    bool supports_seln_local_clock;
    bool supports_servo_slow_track;
    bool supports_holdover_duration;
    bool g8265_requires_local_clock;
    bool supports_apts;
    bool report_holdover_post_spec;
    bool send_gm_while_local_best;
    uint8_t o1_value;
    uint8_t o2_g1_value;
    uint8_t o2_g2_value;
    uint32_t holdover_duration_min; // 0 without the holdover-duration capability
    uint32_t holdover_duration_max;
    uint32_t capability_version;
    uint32_t servo_started; // as the servo init reported it
    uint32_t servo_synced;
};

// Start-up: the platform's capabilities, read once per process.
zerrno quorrin_platform_capability_init(event_mgr_type *context);
// The process finished start-up (start) or is leaving or lost the active role (stop).
zerrno quorrin_platform_start(event_mgr_type *context);
void quorrin_platform_stop(void);
// PTP configuration appeared (enable) or the last item went (disable).
zerrno quorrin_platform_enable(void);
void quorrin_platform_disable(void);
// The servo init again, on a role change to active.
zerrno quorrin_platform_servo_init(void);

// 1 when it started (stopped) the servo, else 0.
uint32_t quorrin_platform_servo_start(bool use_time, bool use_frequency, int32_t log_sync_interval,
                                      int32_t log_delay_req_interval, uint32_t profile, uint32_t clock_type,
                                      uint32_t servo_mode, uint32_t network_type);
uint32_t quorrin_platform_servo_stop(void);
// One 24-byte time entry of an agent's time message (its message word in host order).
void quorrin_platform_servo_time_update(const uint8_t *entry);
// Each output may be null; every given one is set to 0 first.
void quorrin_platform_servo_status(int64_t *offset_from_master, int64_t *mean_path_delay, uint32_t *status);
// The current offset from master that the platform answers, 0 without a setter or on failure.
int64_t quorrin_platform_offset_threshold_set(int64_t warning, int64_t critical);

zerrno quorrin_platform_slave_update(void);
void quorrin_platform_utc_offset_update(uint8_t leap_seconds, const quorrin_platform_offset_info_type *info);
zerrno quorrin_platform_transparent_clock_update(bool enable);
// On success the 10-byte PTP timestamp (48-bit seconds, 32-bit nanoseconds, big-endian).
zerrno quorrin_platform_get_current_timestamp(uint8_t timestamp[PTP_PLATFORM_TIMESTAMP_LEN]);
zerrno quorrin_platform_settings_update(void);

// Capability queries.
void quorrin_platform_get_capabilities(quorrin_platform_capabilities_type *record);
bool quorrin_platform_supports_slave(void);
bool quorrin_platform_supports_ptp(void);
bool quorrin_platform_supports_transp_clock(void);
bool quorrin_platform_supports_leap_seconds(void);
bool quorrin_platform_supports_profile(uint32_t profile);
bool quorrin_platform_g8265_requires_clock_type(void);
bool quorrin_platform_supports_servo_slow_tracking(void);
// Whether the platform has a holdover-duration range; when it has, the limits go to the given
// outputs.
bool quorrin_platform_get_holdover_duration_range(uint32_t *min, uint32_t *max);
bool quorrin_platform_supports_apts(void);
bool quorrin_platform_report_holdover_post_spec(void);
bool quorrin_platform_supports_seln_local_clock(void);
bool quorrin_platform_is_initialised(void);
bool quorrin_platform_is_servo_started(void);

// Names of the platform's clock property values.
const char *quorrin_platform_time_source_to_str(uint32_t time_source);
const char *quorrin_platform_sync_state_to_str(uint32_t sync_state);
const char *quorrin_platform_primary_ref_type_to_str(uint32_t type);

// The platform's properties of a clock as the controller uses them: every field valid (mask
// 0xFFF), defaults for those the platform left out.
ptp_platform_clock_props_type quorrin_platform_props_convert(const ptp_platform_clock_props_type &props);
