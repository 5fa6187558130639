// The one clock of the process: monotonic and wall-clock time, on the real clocks or on virtual
// time. Product code takes every time from here and never reads the system clocks itself.
//
// Thread-safe: every call may be made from any thread.
#pragma once

#include <cstdint>
#include <ctime>

#include "zerrno.h"

// Monotonic time stamp in nanoseconds. Never 0 and never goes backwards within a process.
uint64_t fts_get_stamp_fast(void);

// clock_gettime on the platform clock. CLOCK_MONOTONIC, CLOCK_MONOTONIC_RAW,
// CLOCK_MONOTONIC_COARSE and CLOCK_BOOTTIME give the monotonic time; CLOCK_REALTIME and
// CLOCK_REALTIME_COARSE give the wall-clock time (UTC seconds since 1970). 0 on success; -1 with
// errno EINVAL for another clock id or a null result pointer.
int plat_clock_gettime(clockid_t clock_id, struct timespec *ts);

// Wall-clock seconds since 1970, like time(); stored through out when it is not null.
time_t plat_time(time_t *out);

// Monotonic and wall-clock time in nanoseconds.
uint64_t plat_clock_mono_ns(void);
int64_t plat_clock_wall_ns(void);

// Whether the process runs on virtual time (see plat_clock_test.h).
bool plat_clock_is_virtual(void);

// Error codes of the clock (facility PLAT_CLOCK_ZERR_FACILITY, errno in the low bits).
inline constexpr uint32_t PLAT_CLOCK_ZERR_FACILITY = 0x7f03;
inline constexpr zerrno PLAT_CLOCK_ERR_NOT_VIRTUAL = zerr_make(PLAT_CLOCK_ZERR_FACILITY, 1, 95 /*EOPNOTSUPP*/);
inline constexpr zerrno PLAT_CLOCK_ERR_INVALID = zerr_make(PLAT_CLOCK_ZERR_FACILITY, 2, 22 /*EINVAL*/);

// Scheduler hook: the event-manager layer registers itself here so that advancing virtual time
// fires every due timer of the process in time order (see README.md). Not for product code.
struct plat_clock_sched_ops_type {
    // Earliest armed deadline (monotonic ns) strictly after `after`; false when there is none.
    bool (*next_deadline_after)(uint64_t after, uint64_t *deadline);
    // Run every event manager of the process until it is idle (each on the thread that owns it).
    void (*settle)(void);
};
void plat_clock_register_scheduler(const plat_clock_sched_ops_type *ops);
