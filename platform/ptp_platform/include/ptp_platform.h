// The controller's platform PTP library: what the platform's clock can do (capabilities), the
// servo that steers the clock towards the grandmaster from the time samples the agents forward,
// and the clock itself (its properties, the grandmaster it follows, leap seconds, settings).
//
// Every call but the shutdowns takes an input and an output record by address (zero-fill both
// before setting fields) and returns a zerrno, 0 on success. Callbacks run on the thread of the
// event manager handed over as the context of the init calls, never inside a library call.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zerrno.h"

inline constexpr uint32_t PTP_PLATFORM_ZERR_FACILITY = 0x7f14;
inline constexpr zerrno PTP_PLATFORM_ERR_INVALID = zerr_make(PTP_PLATFORM_ZERR_FACILITY, 1, 22 /*EINVAL*/);
inline constexpr zerrno PTP_PLATFORM_ERR_NO_NODE = zerr_make(PTP_PLATFORM_ZERR_FACILITY, 2, 6 /*ENXIO*/);
inline constexpr zerrno PTP_PLATFORM_ERR_NOT_INIT = zerr_make(PTP_PLATFORM_ZERR_FACILITY, 3, 22 /*EINVAL*/);
inline constexpr zerrno PTP_PLATFORM_ERR_NOT_RUNNING = zerr_make(PTP_PLATFORM_ZERR_FACILITY, 4, 1 /*EPERM*/);
inline constexpr zerrno PTP_PLATFORM_ERR_NO_CLOCK = zerr_make(PTP_PLATFORM_ZERR_FACILITY, 5, 19 /*ENODEV*/);

// API versions this library answers with.
inline constexpr uint32_t PTP_PLATFORM_CAPABILITY_API_VERSION = 2;
inline constexpr uint32_t PTP_PLATFORM_CLOCK_API_VERSION = 1;

// ---- Capabilities -----------------------------------------------------------------------------

// Capability bits of ptp_platform_capability_info_type.flags.
inline constexpr uint16_t PTP_PLATFORM_CAP_SLAVE = 1u << 0;
inline constexpr uint16_t PTP_PLATFORM_CAP_PTP = 1u << 1;
inline constexpr uint16_t PTP_PLATFORM_CAP_TRANSP_CLOCK = 1u << 2;
inline constexpr uint16_t PTP_PLATFORM_CAP_LEAP_SECONDS = 1u << 3;
inline constexpr uint16_t PTP_PLATFORM_CAP_PROFILE_G8265_1 = 1u << 4;
inline constexpr uint16_t PTP_PLATFORM_CAP_PROFILE_G8275_1 = 1u << 5;
inline constexpr uint16_t PTP_PLATFORM_CAP_PROFILE_G8275_2 = 1u << 6;
inline constexpr uint16_t PTP_PLATFORM_CAP_G8265_LOCAL_CLOCK = 1u << 7;
inline constexpr uint16_t PTP_PLATFORM_CAP_SERVO_SLOW_TRACK = 1u << 8;
inline constexpr uint16_t PTP_PLATFORM_CAP_HOLDOVER_DURATION = 1u << 9;
inline constexpr uint16_t PTP_PLATFORM_CAP_APTS = 1u << 10;
inline constexpr uint16_t PTP_PLATFORM_CAP_HOLDOVER_POST_SPEC = 1u << 11;
inline constexpr uint16_t PTP_PLATFORM_CAP_GM_WHILE_LOCAL_BEST = 1u << 12;

struct ptp_platform_capability_init_in_type {
    uint64_t context; // the caller's event manager
    uint64_t reserved;
};
struct ptp_platform_capability_init_info_type {
    uint32_t version;
};

struct ptp_platform_capability_get_in_type {
    uint64_t reserved;
};
struct ptp_platform_capability_info_type {
    uint16_t flags;
    uint8_t o1_value;               // internal clock QL, SSM option 1
    uint8_t o2_g1_value;            // option 2, generation 1
    uint8_t o2_g2_value;            // option 2, generation 2
    uint32_t holdover_duration_min; // seconds, valid with PTP_PLATFORM_CAP_HOLDOVER_DURATION
    uint32_t holdover_duration_max;
};

zerrno ptp_platform_capability_init(const ptp_platform_capability_init_in_type *in,
                                    ptp_platform_capability_init_info_type *out);
zerrno ptp_platform_capability_get(const ptp_platform_capability_get_in_type *in,
                                   ptp_platform_capability_info_type *out);
void ptp_platform_capability_shutdown(void);

// ---- Servo ------------------------------------------------------------------------------------

enum ptp_platform_servo_status_type : uint32_t {
    PTP_PLATFORM_SERVO_STATUS_UNKNOWN = 0,
    PTP_PLATFORM_SERVO_STATUS_FREERUN = 1,
    PTP_PLATFORM_SERVO_STATUS_ACQUIRING = 2,
    PTP_PLATFORM_SERVO_STATUS_FREQ_LOCKED = 3,
    PTP_PLATFORM_SERVO_STATUS_PHASE_ALIGNED = 4,
    PTP_PLATFORM_SERVO_STATUS_HOLDOVER = 5,
};

struct ptp_platform_servo_status_info_type {
    int64_t offset_from_master;   // ns, the last measured
    int64_t mean_path_delay;      // ns
    uint32_t status;              // ptp_platform_servo_status_type
    int64_t filtered_offset = 0;  // ns, what phase alignment is judged on
    uint64_t offset_outliers = 0; // Syncs not used since the servo started (ptp_servo.h)
    uint64_t delay_outliers = 0;  // round trips not used
};

// An offset from the master that crossed a configured threshold.
struct ptp_platform_offset_threshold_info_type {
    int64_t offset_from_master; // ns
    uint16_t sub_ns;            // fraction of a nanosecond, in 2^-16 ns
};

using ptp_platform_servo_sync_cb_fn = void (*)(void);
using ptp_platform_servo_fault_cb_fn = void (*)(void);
using ptp_platform_clock_state_cb_fn = void (*)(uint32_t status);
using ptp_platform_offset_threshold_cb_fn = void (*)(const ptp_platform_offset_threshold_info_type *info);
using ptp_platform_servo_status_fn = zerrno (*)(ptp_platform_servo_status_info_type *out);
// Sets the warning and critical thresholds (ns, 0 = none) and gives the current offset.
using ptp_platform_offset_threshold_set_fn = zerrno (*)(int64_t warning, int64_t critical, int64_t *current_offset);

struct ptp_platform_servo_init_in_type {
    uint64_t context; // the caller's event manager: callbacks run on its thread
    ptp_platform_servo_sync_cb_fn servo_sync_cb;
    ptp_platform_servo_fault_cb_fn servo_fault_cb;
    ptp_platform_clock_state_cb_fn clock_state_cb;
    ptp_platform_offset_threshold_cb_fn offset_threshold_cb;
};
struct ptp_platform_servo_init_info_type {
    uint32_t servo_started;
    uint32_t servo_synced;
    ptp_platform_servo_status_fn status_fn;
    ptp_platform_offset_threshold_set_fn offset_threshold_set_fn;
};

// Use flags of the servo start.
inline constexpr uint8_t PTP_PLATFORM_SERVO_USE_FREQ = 1u << 0;
inline constexpr uint8_t PTP_PLATFORM_SERVO_USE_TIME = 1u << 1;

struct ptp_platform_servo_start_in_type {
    uint8_t use_flags;
    uint8_t sync_rate;      // Sync packets per second
    uint8_t delay_req_rate; // Delay-Request packets per second
    uint32_t profile;
    uint32_t clock_type;
    uint32_t servo_mode;
    uint32_t network_type;
};
struct ptp_platform_servo_start_info_type {
    uint32_t reserved;
};
struct ptp_platform_servo_stop_in_type {
    uint32_t reserved;
};
struct ptp_platform_servo_stop_info_type {
    uint32_t reserved;
};

// One timing record as an agent forwards it: the message word (0 Sync, 1 Delay-Resp; host
// order, the controller converted it), then the master's and the local timestamp, each 48-bit
// seconds and 32-bit nanoseconds, big-endian. Sync carries (t1, t2), Delay-Resp (t4, t3).
inline constexpr size_t PTP_PLATFORM_TIME_ENTRY_LEN = 24;
inline constexpr uint32_t PTP_PLATFORM_TIME_ENTRY_SYNC = 0;
inline constexpr uint32_t PTP_PLATFORM_TIME_ENTRY_DELAY_RESP = 1;
struct ptp_platform_servo_time_update_in_type {
    uint8_t entry[PTP_PLATFORM_TIME_ENTRY_LEN];
};
struct ptp_platform_servo_time_update_info_type {
    uint32_t reserved;
};

zerrno ptp_platform_servo_init(const ptp_platform_servo_init_in_type *in, ptp_platform_servo_init_info_type *out);
zerrno ptp_platform_servo_start(const ptp_platform_servo_start_in_type *in, ptp_platform_servo_start_info_type *out);
zerrno ptp_platform_servo_stop(const ptp_platform_servo_stop_in_type *in, ptp_platform_servo_stop_info_type *out);
zerrno ptp_platform_servo_time_update(const ptp_platform_servo_time_update_in_type *in,
                                      ptp_platform_servo_time_update_info_type *out);
void ptp_platform_servo_shutdown(void);

// ---- Clock ------------------------------------------------------------------------------------

// Validity bits of ptp_platform_clock_props_type.mask.
inline constexpr uint32_t PTP_PLATFORM_PROPS_TIMESCALE = 1u << 0;
inline constexpr uint32_t PTP_PLATFORM_PROPS_TIME_SOURCE = 1u << 1;
inline constexpr uint32_t PTP_PLATFORM_PROPS_PRIMARY_REF = 1u << 2;
inline constexpr uint32_t PTP_PLATFORM_PROPS_SYNC_STATE = 1u << 3;
inline constexpr uint32_t PTP_PLATFORM_PROPS_ACCURACY = 1u << 4;
inline constexpr uint32_t PTP_PLATFORM_PROPS_OSLV = 1u << 5;
inline constexpr uint32_t PTP_PLATFORM_PROPS_UTC_OFFSET = 1u << 6;
inline constexpr uint32_t PTP_PLATFORM_PROPS_TRACEABLE = 1u << 7;
inline constexpr uint32_t PTP_PLATFORM_PROPS_LEAP = 1u << 8;
inline constexpr uint32_t PTP_PLATFORM_PROPS_QL = 1u << 9;
inline constexpr uint32_t PTP_PLATFORM_PROPS_PRIMARY_REF_TYPE = 1u << 10;

// Sync states of a clock.
enum ptp_platform_sync_state_type : uint8_t {
    PTP_PLATFORM_SYNC_STATE_SYNC = 0,
    PTP_PLATFORM_SYNC_STATE_HOLDOVER_SPEC = 1,
    PTP_PLATFORM_SYNC_STATE_NO_SYNC = 2,
    PTP_PLATFORM_SYNC_STATE_HOLDOVER_POST_SPEC = 3,
    PTP_PLATFORM_SYNC_STATE_DOUBLE_FAILURE = 4,
};

// A clock's properties as the platform reports them; only the fields whose mask bit is set
// are meaningful.
struct ptp_platform_clock_props_type {
    uint32_t mask;
    uint8_t timescale;   // 0 PTP, 1 arbitrary
    uint8_t time_source; // IEEE 1588 time source code
    uint32_t primary_ref;
    uint8_t sync_state; // ptp_platform_sync_state_type
    uint8_t accuracy;
    uint16_t oslv;
    int32_t utc_offset;
    uint32_t utc_offset_valid;
    uint32_t frequency_traceable;
    uint32_t time_traceable;
    uint8_t leap_seconds; // 0 none, 1 leap 59, 2 leap 61
    uint8_t ql_option;
    uint8_t ql_value;
    uint32_t primary_ref_type; // 0 none, 1 PRC, 2 EPRC, 3 PRTC, 4 EPRTC
};
static_assert(sizeof(ptp_platform_clock_props_type) == 40);

// What the clock reports at init and in each clock update. The selection input clock (from
// version 1 on) is the local clock as selection sees it; the two connection fields say that a
// virtual port feeds it and is connected.
struct ptp_platform_clock_info_type {
    uint32_t clock_active;
    uint32_t using_ptp_for_frequency;
    uint32_t using_ptp_for_time;
    ptp_platform_clock_props_type local_props;
    ptp_platform_clock_props_type selection_props;
    uint32_t selection_vp_present;
    uint32_t selection_vp_connected;
};

using ptp_platform_clock_update_cb_fn = void (*)(const ptp_platform_clock_info_type *info);
using ptp_platform_resync_request_cb_fn = void (*)(void);

// Best sources of a slave update.
inline constexpr uint32_t PTP_PLATFORM_BEST_SOURCE_FOREIGN_MASTER = 0;
inline constexpr uint32_t PTP_PLATFORM_BEST_SOURCE_LOCAL_CLOCK = 1;
inline constexpr uint32_t PTP_PLATFORM_BEST_SOURCE_VIRTUAL_PORT = 2;

// The grandmaster the clock is to follow.
struct ptp_platform_slave_info_type {
    uint32_t gm_available;
    uint32_t has_frequency;
    uint32_t has_time;
    uint8_t timescale;
    uint8_t tod_priority;
    uint8_t freq_priority;
    uint8_t ql_option;
    uint8_t ql_value;
    int32_t delay_asymmetry; // ns
    uint32_t ifhandle;       // the interface the grandmaster is received on
};

struct ptp_platform_clock_init_in_type {
    uint64_t context; // the caller's event manager: callbacks run on its thread
    ptp_platform_slave_info_type slave;
    ptp_platform_clock_update_cb_fn clock_update_cb;
    ptp_platform_resync_request_cb_fn resync_request_cb;
};
struct ptp_platform_clock_init_info_type {
    uint32_t version;
    ptp_platform_clock_info_type clock;
};

struct ptp_platform_clock_slave_update_in_type {
    ptp_platform_slave_info_type slave;
    uint32_t best_source; // PTP_PLATFORM_BEST_SOURCE_*
    uint32_t apts_enabled;
};
struct ptp_platform_clock_slave_update_info_type {
    uint32_t reserved;
};

struct ptp_platform_clock_leap_second_update_in_type {
    uint8_t leap_seconds;
    int16_t utc_offset;
    uint16_t reserved;
    uint32_t utc_offset_valid;
};
struct ptp_platform_clock_leap_second_update_info_type {
    uint32_t reserved;
};

struct ptp_platform_clock_transparent_clock_update_in_type {
    uint32_t enable; // 1 enable, else disable
};
struct ptp_platform_clock_transparent_clock_update_info_type {
    uint32_t reserved;
};

struct ptp_platform_clock_settings_update_in_type {
    uint32_t profile;
    uint32_t clock_type;
    uint32_t servo_mode;
    uint32_t network_type;
    uint16_t servo_slow_tracking; // ns/s, 0 = not set
    uint32_t holdover_duration;   // seconds
    uint32_t holdover_duration_set;
};
struct ptp_platform_clock_settings_update_info_type {
    uint32_t reserved;
};

inline constexpr size_t PTP_PLATFORM_TIMESTAMP_LEN = 10;
struct ptp_platform_clock_get_current_timestamp_in_type {
    uint32_t reserved;
};
// 48-bit seconds and 32-bit nanoseconds of PTP time, big-endian.
struct ptp_platform_clock_get_current_timestamp_info_type {
    uint8_t timestamp[PTP_PLATFORM_TIMESTAMP_LEN];
};

zerrno ptp_platform_clock_init(const ptp_platform_clock_init_in_type *in, ptp_platform_clock_init_info_type *out);
zerrno ptp_platform_clock_slave_update(const ptp_platform_clock_slave_update_in_type *in,
                                       ptp_platform_clock_slave_update_info_type *out);
zerrno ptp_platform_clock_leap_second_update(const ptp_platform_clock_leap_second_update_in_type *in,
                                             ptp_platform_clock_leap_second_update_info_type *out);
zerrno ptp_platform_clock_transparent_clock_update(const ptp_platform_clock_transparent_clock_update_in_type *in,
                                                   ptp_platform_clock_transparent_clock_update_info_type *out);
zerrno ptp_platform_clock_settings_update(const ptp_platform_clock_settings_update_in_type *in,
                                          ptp_platform_clock_settings_update_info_type *out);
zerrno ptp_platform_clock_get_current_timestamp(const ptp_platform_clock_get_current_timestamp_in_type *in,
                                                ptp_platform_clock_get_current_timestamp_info_type *out);
void ptp_platform_clock_shutdown(void);
