// Test control of the platform clock: switch to virtual time, advance it, set the wall clock.
//
// On virtual time nothing moves by itself. plat_clock_advance_* moves the clock forward in steps,
// to each armed timer deadline in turn, and at every step runs every event manager of the process
// until it is idle, so that due timers fire in time order, each on the thread that owns its
// event manager. Only one thread advances at a time (calls are serialised); do not advance from
// inside an event callback.
#pragma once

#include <cstdint>

#include "plat_clock.h"

// Default start of virtual time: monotonic 1000 s, wall clock 2024-01-01T00:00:00Z.
inline constexpr uint64_t PLAT_CLOCK_VIRTUAL_MONO_START_NS = 1000ull * 1000000000ull;
inline constexpr int64_t PLAT_CLOCK_VIRTUAL_WALL_START_S = 1704067200;

// Switch the process to virtual time, starting at the defaults or at the given values. Switch
// before timers are armed (a switch does not move armed deadlines).
void plat_clock_use_virtual(void);
void plat_clock_use_virtual_at(uint64_t mono_ns, int64_t wall_s);
// Back to the real clocks (the default).
void plat_clock_use_real(void);

// Advance virtual time, firing due timers on the way. PLAT_CLOCK_ERR_NOT_VIRTUAL on real time.
zerrno plat_clock_advance_ns(uint64_t ns);
zerrno plat_clock_advance_ms(uint64_t ms);
zerrno plat_clock_advance_s(uint64_t s);

// Set the virtual wall clock (the monotonic clock does not move). PLAT_CLOCK_ERR_NOT_VIRTUAL on
// real time; PLAT_CLOCK_ERR_INVALID for nanoseconds outside 0..999999999.
zerrno plat_clock_set_wall(int64_t sec, int64_t nsec);

// Run every event manager until idle without moving the clock (real or virtual time).
void plat_clock_settle(void);
