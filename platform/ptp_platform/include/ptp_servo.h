// The software servo of the platform library: a PI controller over the two-way time exchange.
// Pure computation: it is fed timestamps and says how to steer the clock (step it, or set its
// frequency correction); the library applies that to the node clock.
//
// Offset from master = (t2 - t1) - mean path delay, the mean path delay being half the round
// trip ((t2 - t1) + (t4 - t3)) / 2, smoothed. An offset above the step threshold is stepped
// out at once; below it the frequency correction is
//     correction = -(kp * offset + drift),   drift += ki * offset * T
// for each Sync, T its interval, so that the drift term learns the clock's frequency error. The
// gains are per second, whatever the Sync rate and however the samples are grouped.
//
// Software timestamps carry the scheduling of every process between the two clocks: most
// exchanges agree within a microsecond or two, a few are tens or hundreds of microseconds off.
// Once the servo has a window of offsets, a sample further from their mean (the filtered offset)
// than the outlier gate, or a round trip further from the mean path delay, is an outlier: counted
// and not used, so that one late frame neither swings the clock nor spoils the path delay. A run
// of outliers is the clock or the path having moved and is taken. Phase alignment is judged on
// the filtered offset.
#pragma once

#include <cstdint>

// A timestamp of PTP time: seconds and nanoseconds.
struct ptp_servo_timestamp_type {
    uint64_t seconds;
    uint32_t nanoseconds;
};

struct ptp_servo_config_type {
    double kp;                  // per second: ppb of correction per ns of offset
    double ki;                  // per second squared: ppb of drift per ns of offset and second
    int64_t step_threshold_ns;  // a larger offset is stepped out
    int64_t lock_threshold_ns;  // a smaller filtered offset counts towards phase alignment
    uint32_t lock_samples;      // consecutive such offsets to be phase-aligned
    double max_correction_ppb;  // bound of the frequency correction and of the drift
    uint64_t holdover_after_ns; // no sample for this long: a phase-aligned servo is in holdover
    uint32_t filter_samples;    // offsets (and path delays) in the window the outlier gate judges by
    int64_t outlier_gate_ns;    // a sample further than this from the window's mean is an outlier
    uint32_t outlier_run;       // this many outliers in a row: the clock or the path moved, taken
};

// The lock threshold, gate and window come from the main job's offsets (platform/ptp_platform/
// README.md, "Servo noise").
inline constexpr ptp_servo_config_type PTP_SERVO_CONFIG_DEFAULT = {
    1.0, 0.25, 1'000'000, 1'000, 8, 500'000.0, 5'000'000'000ull, 16, 10'000, 4,
};

// Servo states (the values of ptp_platform_servo_status_type).
inline constexpr uint32_t PTP_SERVO_FREERUN = 1;
inline constexpr uint32_t PTP_SERVO_ACQUIRING = 2;
inline constexpr uint32_t PTP_SERVO_PHASE_ALIGNED = 4;
inline constexpr uint32_t PTP_SERVO_HOLDOVER = 5;

// The last samples taken, for the outlier gate and the filtered offset.
inline constexpr uint32_t PTP_SERVO_WINDOW_MAX = 64;
struct ptp_servo_window_type {
    int64_t samples[PTP_SERVO_WINDOW_MAX];
    uint32_t count; // filled, up to the window's size
    uint32_t next;
    uint32_t outlier_run; // outliers in a row
};

struct ptp_servo_type {
    ptp_servo_config_type config;
    uint32_t status;
    bool running;
    double nominal_interval_s; // 1 / Sync rate, until two Syncs give the real one
    bool have_sync;
    ptp_servo_timestamp_type t1, t2; // the last Sync
    bool have_master_to_slave;
    int64_t master_to_slave_ns; // t2 - t1 of the last Sync taken, for the next path delay
    bool have_delay;
    double mean_path_delay_ns;
    bool have_offset;
    int64_t offset_ns;          // the last offset measured, outlier or not
    int64_t filtered_offset_ns; // the mean of the window of offsets taken
    ptp_servo_window_type offsets;
    ptp_servo_window_type delays;
    uint64_t offset_outliers; // samples not used, since start
    uint64_t delay_outliers;
    double drift_ppb;
    double correction_ppb; // applied to the clock now
    uint32_t locked_samples;
    uint64_t last_sample_mono_ns;
    uint64_t settle_until_ns; // after a step: samples heard before this may predate it
    bool ever_sampled;
};

// What one sample asks of the clock and of the servo's users.
struct ptp_servo_result_type {
    bool step; // add step_ns to the clock
    int64_t step_ns;
    bool set_correction; // set the clock's frequency correction to correction_ppb
    double correction_ppb;
    bool status_changed;
    bool synced;         // the servo has just become phase-aligned
    bool fault;          // a phase-aligned servo lost alignment and stepped
    bool offset_updated; // a new offset from master was measured
    bool outlier;        // the sample was an outlier and not used
};

void ptp_servo_init(ptp_servo_type *servo, const ptp_servo_config_type &config);
// Start following a master at sync_rate Sync messages per second (0 taken as 1).
void ptp_servo_start(ptp_servo_type *servo, uint32_t sync_rate, ptp_servo_result_type *result);
// Stop following: a phase-aligned servo goes into holdover keeping its correction, any other is
// free-running.
void ptp_servo_stop(ptp_servo_type *servo, ptp_servo_result_type *result);
// One Sync (t1 master send, t2 local receive) or Delay-Resp (t4 master receive, t3 local send)
// at monotonic time now_ns. Ignored while not running. Samples whose timestamps cannot be
// subtracted (more than 2^31 s apart) and delay samples that disagree with the known delay by
// more than the step threshold are dropped.
void ptp_servo_sync(ptp_servo_type *servo, ptp_servo_timestamp_type t1, ptp_servo_timestamp_type t2, uint64_t now_ns,
                    ptp_servo_result_type *result);
void ptp_servo_delay(ptp_servo_type *servo, ptp_servo_timestamp_type t4, ptp_servo_timestamp_type t3, uint64_t now_ns,
                     ptp_servo_result_type *result);
// A phase-aligned servo that has had no sample for the holdover time goes into holdover.
void ptp_servo_check_holdover(ptp_servo_type *servo, uint64_t now_ns, ptp_servo_result_type *result);

// a - b in nanoseconds; false when the difference does not fit.
bool ptp_servo_timestamp_diff(ptp_servo_timestamp_type a, ptp_servo_timestamp_type b, int64_t *out);
