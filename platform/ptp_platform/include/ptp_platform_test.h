// Test control of the platform PTP library.
//
// Every call is recorded in both modes (its name in order, and the input record of the last call
// of each kind). In the scripted mode the library does nothing by itself: each call answers with
// the result and output record set here, and the callbacks run only when a test fires them, at
// once on the calling thread. In the real mode (the default) the software servo steers the node
// clock, and callbacks are posted to the context's event manager.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ptp_platform.h"
#include "ptp_servo.h"

enum class ptp_platform_test_op : uint32_t {
    CAPABILITY_INIT,
    CAPABILITY_GET,
    CAPABILITY_SHUTDOWN,
    SERVO_INIT,
    SERVO_START,
    SERVO_STOP,
    SERVO_TIME_UPDATE,
    SERVO_SHUTDOWN,
    SERVO_STATUS,
    OFFSET_THRESHOLD_SET,
    CLOCK_INIT,
    CLOCK_SLAVE_UPDATE,
    CLOCK_LEAP_SECOND_UPDATE,
    CLOCK_TRANSPARENT_CLOCK_UPDATE,
    CLOCK_SETTINGS_UPDATE,
    CLOCK_GET_CURRENT_TIMESTAMP,
    CLOCK_SHUTDOWN,
    COUNT
};
// "capability_init", "servo_start", "clock_slave_update", ...
const char *ptp_platform_test_op_name(ptp_platform_test_op op);

// Back to the real mode with nothing recorded, no results or outputs set, no callbacks, the
// default servo configuration and the node clock, and no saved servo state.
void ptp_platform_test_reset();
// What a restart of the process leaves: nothing of the library in memory (the clock, the servo
// configuration and the store setting below stay, as a new process would have them), the node's
// clocks and the saved servo state as they are.
void ptp_platform_test_restart_process();
void ptp_platform_test_set_scripted(bool scripted);

// ---- Recorded calls ------------------------------------------------------------------------------

// Names of the calls so far, in order (the last 4096).
std::vector<std::string> ptp_platform_test_calls();
void ptp_platform_test_calls_clear();
uint32_t ptp_platform_test_call_count(ptp_platform_test_op op);
// The input of the last call of each kind (zero before the first).
ptp_platform_capability_init_in_type ptp_platform_test_last_capability_init();
ptp_platform_servo_init_in_type ptp_platform_test_last_servo_init();
ptp_platform_servo_start_in_type ptp_platform_test_last_servo_start();
ptp_platform_clock_init_in_type ptp_platform_test_last_clock_init();
ptp_platform_clock_slave_update_in_type ptp_platform_test_last_slave_update();
ptp_platform_clock_leap_second_update_in_type ptp_platform_test_last_leap_second_update();
ptp_platform_clock_transparent_clock_update_in_type ptp_platform_test_last_transparent_clock_update();
ptp_platform_clock_settings_update_in_type ptp_platform_test_last_settings_update();
// The last thresholds passed to the setter: warning, critical.
void ptp_platform_test_last_thresholds(int64_t *warning, int64_t *critical);
// The time entries given to the servo, in order (the last 4096).
std::vector<ptp_platform_servo_time_update_in_type> ptp_platform_test_time_updates();

// ---- Scripted replies ------------------------------------------------------------------------------

// The next calls of op return code (0: success), in either mode.
void ptp_platform_test_set_result(ptp_platform_test_op op, zerrno code);
void ptp_platform_test_set_capability(uint32_t version, const ptp_platform_capability_info_type &info);
// servo_started and servo_synced of the servo init, and whether it hands out the status query
// and the threshold setter.
void ptp_platform_test_set_servo_init(uint32_t started, uint32_t synced, bool status_fn, bool threshold_fn);
void ptp_platform_test_set_clock_init(const ptp_platform_clock_init_info_type &info);
void ptp_platform_test_set_status(const ptp_platform_servo_status_info_type &status);
// The offset the threshold setter answers.
void ptp_platform_test_set_current_offset(int64_t offset);
void ptp_platform_test_set_timestamp(const uint8_t timestamp[PTP_PLATFORM_TIMESTAMP_LEN]);

// ---- Firing callbacks (scripted mode: at once, on the calling thread) ------------------------

void ptp_platform_test_fire_servo_sync();
void ptp_platform_test_fire_servo_fault();
void ptp_platform_test_fire_clock_state(uint32_t status);
void ptp_platform_test_fire_offset_threshold(int64_t offset, uint16_t sub_ns);
void ptp_platform_test_fire_clock_update(const ptp_platform_clock_info_type &info);
void ptp_platform_test_fire_resync_request();

// ---- The real mode ---------------------------------------------------------------------------

// The clock the servo steers: its PTP time now, a step, and the frequency correction (ppb).
struct ptp_platform_clock_ops_type {
    bool (*now)(ptp_servo_timestamp_type *out);
    bool (*step)(int64_t ns);
    bool (*set_correction)(double ppb);
};
// Steer this clock instead of the node clock (null: the node clock again).
void ptp_platform_test_set_clock_ops(const ptp_platform_clock_ops_type *ops);
// Keep the servo's state in the node's store even while steering a test's clock (by default only
// the node clock's servo is kept).
void ptp_platform_test_set_servo_store(bool keep);
void ptp_platform_test_set_servo_config(const ptp_servo_config_type &config);
// The servo's state.
ptp_servo_type ptp_platform_test_servo();
