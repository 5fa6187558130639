// Where the servo's state outlives the controller: a small shared-memory object of the node,
// beside the node clock the servo steers. A hardware servo keeps running while the process that
// drives it restarts; this one does too, so that a controller restarted after a crash finds its
// servo started (and phase-aligned, if it was) instead of starting it again from free-run.
#pragma once

#include "ptp_servo.h"

// The state saved last, into servo (whose configuration stays); false when there is none, or
// when what is there was cut short by a writer that died part-way or is of another layout.
bool ptp_platform_servo_store_load(ptp_servo_type *servo);
// Saves the servo's state (a no-op when the object cannot be opened).
void ptp_platform_servo_store_save(const ptp_servo_type *servo);
// Forgets the saved state and closes the object (tests). Unless `always`, only when this process
// has used the object (a test process that never did touches no other's).
void ptp_platform_servo_store_forget(bool always);
