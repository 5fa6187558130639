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
// The Sync interval up to which the gains per second hold (see steer).
constexpr double MAX_GAIN_INTERVAL_S = 0.5;
// Weight of a new delay measurement in the smoothed mean path delay.
constexpr double DELAY_WEIGHT = 1.0 / 8;
// After a step, samples heard within this time may have been measured before it (the agents
// forward them in batches) and are not used: paired with the stepped clock they would step it back.
constexpr uint64_t STEP_SETTLE_NS = 500'000'000;

uint32_t window_size(const ptp_servo_config_type &config)
{
    return std::clamp<uint32_t>(config.filter_samples, 1, PTP_SERVO_WINDOW_MAX);
}

void window_restart(ptp_servo_window_type *w)
{
    w->count = 0;
    w->next = 0;
    w->outlier_run = 0;
}

void window_push(ptp_servo_window_type *w, uint32_t size, int64_t sample)
{
    w->samples[w->next] = sample;
    w->next = (w->next + 1) % size;
    w->count = std::min(w->count + 1, size);
}

int64_t window_mean(const ptp_servo_window_type &w)
{
    if (w.count == 0) {
        return 0;
    }
    double sum = 0;
    for (uint32_t i = 0; i < w.count; i++) {
        sum += static_cast<double>(w.samples[i]);
    }
    return static_cast<int64_t>(std::llround(sum / w.count));
}

// Whether a sample `deviation` away from what its window expects is an outlier. Judged only on a
// full window (until then the servo has nothing to judge by); the last of a run of outliers is
// taken, the caller starting its window again from it.
bool is_outlier(ptp_servo_window_type *w, const ptp_servo_config_type &config, double deviation, double gate,
                bool *run_taken)
{
    *run_taken = false;
    if (w->count < window_size(config) || std::fabs(deviation) <= gate) {
        w->outlier_run = 0;
        return false;
    }
    if (++w->outlier_run >= std::max<uint32_t>(config.outlier_run, 1)) {
        *run_taken = true;
        return false;
    }
    return true;
}

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
    if (std::llabs(offset) > servo->config.step_threshold_ns) {
        result->step = true;
        result->step_ns = -offset;
        // Local timestamps taken before the step no longer pair with later ones.
        servo->have_sync = false;
        servo->have_master_to_slave = false;
        window_restart(&servo->offsets);
        servo->filtered_offset_ns = 0;
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
    // Slower than a Sync every half second (G.8275.2 sends one a second) the gains are those of
    // that interval per sample: the exchange heard a batch late was measured before the last
    // correction took effect, and a whole offset corrected once more per sample rang and then ran away.
    const double bound = servo->config.max_correction_ppb;
    const auto off = static_cast<double>(offset);
    const double scale = std::min(1.0, MAX_GAIN_INTERVAL_S / interval_s);
    servo->drift_ppb =
        std::clamp(servo->drift_ppb + servo->config.ki * scale * scale * off * interval_s, -bound, bound);
    set_correction(servo, -(servo->config.kp * scale * off + servo->drift_ppb), result);

    if (std::llabs(servo->filtered_offset_ns) < servo->config.lock_threshold_ns) {
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

// One offset measured by a Sync: an outlier is counted and left out; any other joins the window
// of the filtered offset and steers the clock.
void offset_measured(ptp_servo_type *servo, int64_t offset, double interval_s, uint64_t now_ns,
                     ptp_servo_result_type *result)
{
    servo->offset_ns = offset;
    servo->have_offset = true;
    result->offset_updated = true;
    // While the offset is still large the window trails it; it is gated by at least that much.
    const double gate = std::max(static_cast<double>(servo->config.outlier_gate_ns),
                                 static_cast<double>(std::llabs(servo->filtered_offset_ns)));
    bool run_taken = false;
    if (is_outlier(&servo->offsets, servo->config, static_cast<double>(offset - servo->filtered_offset_ns), gate,
                   &run_taken)) {
        servo->offset_outliers++;
        result->outlier = true;
        return;
    }
    if (run_taken) {
        window_restart(&servo->offsets);
    }
    window_push(&servo->offsets, window_size(servo->config), offset);
    servo->filtered_offset_ns = window_mean(servo->offsets);
    steer(servo, offset, interval_s, now_ns, result);
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
    servo->have_master_to_slave = false;
    servo->have_delay = false;
    servo->have_offset = false;
    servo->filtered_offset_ns = 0;
    window_restart(&servo->offsets);
    window_restart(&servo->delays);
    servo->locked_samples = 0;
    set_status(servo, PTP_SERVO_ACQUIRING, result);
}

void ptp_servo_stop(ptp_servo_type *servo, ptp_servo_result_type *result)
{
    *result = ptp_servo_result_type{};
    servo->running = false;
    servo->have_sync = false;
    servo->have_master_to_slave = false;
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
        servo->master_to_slave_ns = master_to_slave;
        servo->have_master_to_slave = true;
        return;
    }
    const auto offset =
        static_cast<int64_t>(std::llround(static_cast<double>(master_to_slave) - servo->mean_path_delay_ns));
    offset_measured(servo, offset, interval_s, now_ns, result);
    // A Sync left out must not spoil the path delay either.
    if (!result->outlier && !result->step) {
        servo->master_to_slave_ns = master_to_slave;
        servo->have_master_to_slave = true;
    }
}

void ptp_servo_delay(ptp_servo_type *servo, ptp_servo_timestamp_type t4, ptp_servo_timestamp_type t3, uint64_t now_ns,
                     ptp_servo_result_type *result)
{
    *result = ptp_servo_result_type{};
    int64_t slave_to_master = 0;
    if (!servo->running || now_ns < servo->settle_until_ns || !servo->have_master_to_slave ||
        !ptp_servo_timestamp_diff(t4, t3, &slave_to_master)) {
        return;
    }
    const double delay = (static_cast<double>(servo->master_to_slave_ns) + static_cast<double>(slave_to_master)) / 2;
    sampled(servo, now_ns);
    const uint32_t size = window_size(servo->config);
    if (!servo->have_delay) {
        servo->mean_path_delay_ns = delay;
        servo->have_delay = true;
        window_push(&servo->delays, size, std::llround(delay));
        return;
    }
    // A Delay-Req sent before a step pairs a stale local time with a new one.
    if (std::fabs(delay - servo->mean_path_delay_ns) > static_cast<double>(servo->config.step_threshold_ns)) {
        return;
    }
    bool run_taken = false;
    if (is_outlier(&servo->delays, servo->config, delay - servo->mean_path_delay_ns,
                   static_cast<double>(servo->config.outlier_gate_ns), &run_taken)) {
        servo->delay_outliers++;
        result->outlier = true;
        return;
    }
    if (run_taken) {
        // The path has changed: start again from it.
        window_restart(&servo->delays);
        servo->mean_path_delay_ns = delay;
    } else {
        servo->mean_path_delay_ns += (delay - servo->mean_path_delay_ns) * DELAY_WEIGHT;
    }
    window_push(&servo->delays, size, std::llround(delay));
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
