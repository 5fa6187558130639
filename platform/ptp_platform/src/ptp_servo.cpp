// The software PI servo.
#include "ptp_servo.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr double NS_PER_S = 1e9;
// Bounds of a measured Sync interval, seconds.
constexpr double MIN_INTERVAL_S = 1.0 / 256;
constexpr double MAX_INTERVAL_S = 16.0;
// Weight of a new delay measurement in the smoothed mean path delay.
constexpr double DELAY_WEIGHT = 1.0 / 8;
// After a step, samples heard within this time may have been measured before it (the agents
// forward them in batches) and are not used: paired with the stepped clock they would step it back.
constexpr uint64_t STEP_SETTLE_NS = 500'000'000;

void set_status(ptp_servo_type *servo, uint32_t status, ptp_servo_result_type *result)
{
    if (servo->status != status) {
        servo->status = status;
        result->status_changed = true;
    }
}

void set_correction(ptp_servo_type *servo, double ppb, ptp_servo_result_type *result)
{
    const double bound = servo->config.max_correction_ppb;
    servo->correction_ppb = std::clamp(ppb, -bound, bound);
    result->set_correction = true;
    result->correction_ppb = servo->correction_ppb;
}

// The offset of a Sync measured against the known delay: a step when it is too large, else one
// PI step of the frequency correction.
void steer(ptp_servo_type *servo, int64_t offset, double interval_s, uint64_t now_ns, ptp_servo_result_type *result)
{
    servo->offset_ns = offset;
    servo->have_offset = true;
    result->offset_updated = true;

    if (std::llabs(offset) > servo->config.step_threshold_ns) {
        result->step = true;
        result->step_ns = -offset;
        // Local timestamps taken before the step no longer pair with later ones.
        servo->have_sync = false;
        servo->settle_until_ns = now_ns + STEP_SETTLE_NS;
        servo->locked_samples = 0;
        if (servo->status == PTP_SERVO_PHASE_ALIGNED) {
            result->fault = true;
        }
        set_status(servo, PTP_SERVO_ACQUIRING, result);
        return;
    }

    // Gains per second, not per sample: the agents forward exchanges in batches, so the servo often
    // hears of several at once, after it last steered; a per-sample gain would correct the same
    // offset once for each of them and swing.
    const double bound = servo->config.max_correction_ppb;
    const auto off = static_cast<double>(offset);
    servo->drift_ppb = std::clamp(servo->drift_ppb + servo->config.ki * off * interval_s, -bound, bound);
    set_correction(servo, -(servo->config.kp * off + servo->drift_ppb), result);

    if (std::llabs(offset) < servo->config.lock_threshold_ns) {
        servo->locked_samples++;
    } else {
        servo->locked_samples = 0;
    }
    if (servo->locked_samples >= servo->config.lock_samples && servo->status != PTP_SERVO_PHASE_ALIGNED) {
        set_status(servo, PTP_SERVO_PHASE_ALIGNED, result);
        result->synced = true;
    } else if (servo->status == PTP_SERVO_HOLDOVER) {
        set_status(servo, PTP_SERVO_ACQUIRING, result);
    }
}

void sampled(ptp_servo_type *servo, uint64_t now_ns)
{
    servo->last_sample_mono_ns = now_ns;
    servo->ever_sampled = true;
}

} // namespace

bool ptp_servo_timestamp_diff(ptp_servo_timestamp_type a, ptp_servo_timestamp_type b, int64_t *out)
{
    // Seconds 2^31 apart still fit in nanoseconds; anything further is no sample of ours.
    const int64_t seconds = static_cast<int64_t>(a.seconds - b.seconds);
    if (seconds > INT64_C(0x7fffffff) || seconds < -INT64_C(0x7fffffff) || a.nanoseconds >= 1'000'000'000 ||
        b.nanoseconds >= 1'000'000'000) {
        return false;
    }
    *out = seconds * 1'000'000'000 + (static_cast<int64_t>(a.nanoseconds) - static_cast<int64_t>(b.nanoseconds));
    return true;
}

void ptp_servo_init(ptp_servo_type *servo, const ptp_servo_config_type &config)
{
    *servo = ptp_servo_type{};
    servo->config = config;
    servo->status = PTP_SERVO_FREERUN;
    servo->nominal_interval_s = 1.0;
}

void ptp_servo_start(ptp_servo_type *servo, uint32_t sync_rate, ptp_servo_result_type *result)
{
    *result = ptp_servo_result_type{};
    servo->running = true;
    servo->nominal_interval_s = 1.0 / std::max<uint32_t>(sync_rate, 1);
    servo->have_sync = false;
    servo->have_delay = false;
    servo->have_offset = false;
    servo->locked_samples = 0;
    set_status(servo, PTP_SERVO_ACQUIRING, result);
}

void ptp_servo_stop(ptp_servo_type *servo, ptp_servo_result_type *result)
{
    *result = ptp_servo_result_type{};
    servo->running = false;
    servo->have_sync = false;
    servo->have_offset = false;
    set_status(servo, servo->status == PTP_SERVO_PHASE_ALIGNED ? PTP_SERVO_HOLDOVER : PTP_SERVO_FREERUN, result);
}

void ptp_servo_sync(ptp_servo_type *servo, ptp_servo_timestamp_type t1, ptp_servo_timestamp_type t2, uint64_t now_ns,
                    ptp_servo_result_type *result)
{
    *result = ptp_servo_result_type{};
    int64_t master_to_slave = 0;
    if (!servo->running || now_ns < servo->settle_until_ns || !ptp_servo_timestamp_diff(t2, t1, &master_to_slave)) {
        return;
    }
    double interval_s = servo->nominal_interval_s;
    int64_t since_last = 0;
    if (servo->have_sync && ptp_servo_timestamp_diff(t2, servo->t2, &since_last) && since_last > 0) {
        interval_s = std::clamp(static_cast<double>(since_last) / NS_PER_S, MIN_INTERVAL_S, MAX_INTERVAL_S);
    }
    servo->t1 = t1;
    servo->t2 = t2;
    servo->have_sync = true;
    sampled(servo, now_ns);
    if (!servo->have_delay) {
        return;
    }
    const auto offset =
        static_cast<int64_t>(std::llround(static_cast<double>(master_to_slave) - servo->mean_path_delay_ns));
    steer(servo, offset, interval_s, now_ns, result);
}

void ptp_servo_delay(ptp_servo_type *servo, ptp_servo_timestamp_type t4, ptp_servo_timestamp_type t3, uint64_t now_ns,
                     ptp_servo_result_type *result)
{
    *result = ptp_servo_result_type{};
    int64_t master_to_slave = 0;
    int64_t slave_to_master = 0;
    if (!servo->running || now_ns < servo->settle_until_ns || !servo->have_sync ||
        !ptp_servo_timestamp_diff(servo->t2, servo->t1, &master_to_slave) ||
        !ptp_servo_timestamp_diff(t4, t3, &slave_to_master)) {
        return;
    }
    const double delay = (static_cast<double>(master_to_slave) + static_cast<double>(slave_to_master)) / 2;
    sampled(servo, now_ns);
    if (!servo->have_delay) {
        servo->mean_path_delay_ns = delay;
        servo->have_delay = true;
        return;
    }
    // A Delay-Req sent before a step pairs a stale local time with a new one.
    if (std::fabs(delay - servo->mean_path_delay_ns) > static_cast<double>(servo->config.step_threshold_ns)) {
        return;
    }
    servo->mean_path_delay_ns += (delay - servo->mean_path_delay_ns) * DELAY_WEIGHT;
}

void ptp_servo_check_holdover(ptp_servo_type *servo, uint64_t now_ns, ptp_servo_result_type *result)
{
    *result = ptp_servo_result_type{};
    if (servo->status == PTP_SERVO_PHASE_ALIGNED && servo->ever_sampled &&
        now_ns - servo->last_sample_mono_ns >= servo->config.holdover_after_ns) {
        servo->locked_samples = 0;
        set_status(servo, PTP_SERVO_HOLDOVER, result);
    }
}
