// The node's PTP clock: a software clock kept as an offset and a frequency over the platform's
// monotonic clock (plat_clock), so it runs on virtual time in tests like every other time.
//
// The clock lives in a small POSIX shared-memory object per node, so every process of the node
// (the agent's offload plugin that timestamps with it, the controller's servo that steers it, a
// test) reads and steers the same clock. Readers never block; writers are serialised between
// threads and processes, and a writer killed part-way leaves the clock as it was before.
//
// Time is PTP time: nanoseconds since 1970-01-01T00:00:00 TAI. A clock created afresh starts at
// the wall clock plus PTPCLOCK_INITIAL_UTC_OFFSET_S.
//
// Results are zerrno values: 0, or a code of facility PTPCLOCK_ZERR_FACILITY.
#pragma once

#include <cstdint>
#include <string>

#include "zerrno.h"

struct ptpclock_type;

inline constexpr uint32_t PTPCLOCK_ZERR_FACILITY = 0x7f16;
inline constexpr zerrno PTPCLOCK_ERR_INVALID = zerr_make(PTPCLOCK_ZERR_FACILITY, 1, 22 /*EINVAL*/);
inline constexpr zerrno PTPCLOCK_ERR_RANGE = zerr_make(PTPCLOCK_ZERR_FACILITY, 2, 34 /*ERANGE*/);
inline constexpr zerrno PTPCLOCK_ERR_SYSTEM = zerr_make(PTPCLOCK_ZERR_FACILITY, 3); // | errno
inline constexpr zerrno PTPCLOCK_ERR_NO_MEMORY = zerr_make(PTPCLOCK_ZERR_FACILITY, 4, 12 /*ENOMEM*/);

// TAI - UTC when the clock is created (it has no source of its own for the offset).
inline constexpr int64_t PTPCLOCK_INITIAL_UTC_OFFSET_S = 37;
// Largest frequency offset the clock takes, in parts per billion either way.
inline constexpr double PTPCLOCK_MAX_FREQ_PPB = 500000.0;

// Open the clock of node `node` (a node name such as "0/1/CPU0"), creating it when it does not
// exist. Null or "" means this process's node: $PTP_NODE, else "local".
zerrno ptpclock_open(const char *node, ptpclock_type **out);
// Unmap the clock from this process; the clock itself stays for the node's other processes.
void ptpclock_close(ptpclock_type *clk);
// The shared-memory name of node's clock ("/<prefix><node>", null or "" as for ptpclock_open),
// for the objects kept beside it.
std::string ptpclock_object_name(const char *node);

// The clock's time now.
zerrno ptpclock_gettime(const ptpclock_type *clk, uint64_t *ptp_ns);
// The clock's time at a monotonic time stamp (plat_clock_mono_ns / fts_get_stamp_fast).
zerrno ptpclock_mono_to_ptp(const ptpclock_type *clk, uint64_t mono_ns, uint64_t *ptp_ns);
// The clock's time at a wall-clock time stamp (plat_clock_wall_ns; the kernel's software
// timestamps and the packet-I/O receive timestamps are on this clock).
zerrno ptpclock_wall_to_ptp(const ptpclock_type *clk, int64_t wall_ns, uint64_t *ptp_ns);

// Step the clock by delta nanoseconds; PTPCLOCK_ERR_RANGE when it would go below 0.
zerrno ptpclock_step(ptpclock_type *clk, int64_t delta_ns);
// Set the clock's time.
zerrno ptpclock_settime(ptpclock_type *clk, uint64_t ptp_ns);
// Make the clock read what `from` reads, now and from now on until either is steered: its time
// and frequency are taken over as one, so no time passes between reading one and setting the other.
zerrno ptpclock_follow(ptpclock_type *clk, const ptpclock_type *from);
// Set the frequency offset (positive runs faster than the monotonic clock), from now on.
// PTPCLOCK_ERR_RANGE beyond +-PTPCLOCK_MAX_FREQ_PPB (nothing changes).
zerrno ptpclock_set_freq(ptpclock_type *clk, double ppb);
// Change the frequency offset by delta_ppb (same limit).
zerrno ptpclock_adjust_freq(ptpclock_type *clk, double delta_ppb);
// The frequency offset in effect.
zerrno ptpclock_get_freq(const ptpclock_type *clk, double *ppb);
