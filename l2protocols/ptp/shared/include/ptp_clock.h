// Clock data-set comparison and the helpers around ptp_clock_type. All functions are pure and
// may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ptp_types.h"
#include "zerrno.h"

// Local priority that a record without a configured priority (0, its set flag clear) is ranked
// with: the default local priority of ports and masters.
inline constexpr uint8_t PTP_CLOCK_DEFAULT_LOCAL_PRIORITY = 128;

// Ranks a against b under one clock-selection mode (ptp_profile_type): negative when a is the
// better master, positive when b is, 0 when equal on every compared field. topology (may be
// null) is set to 1 when the decision was taken by topology, else 0. A mode above 3 stops the
// process ("Unknown clock selection mode").
int ptp_clock_compare(uint32_t mode, const ptp_clock_type *a, const ptp_clock_type *b, int *topology);

// The configured clock class when non-zero, else the received one.
uint8_t ptp_clock_effective_class(const ptp_clock_type *clock);

// The local priority the comparison uses: the configured priority, or the default when none.
uint8_t ptp_clock_effective_priority(const ptp_clock_type *clock);

void ptp_clock_copy(ptp_clock_type *dst, const ptp_clock_type *src);

// 1 when both are absent, 0 when one is, else 1 only when all nineteen fields and the
// priority-set flag are equal.
int ptp_clock_equal(const ptp_clock_type *a, const ptp_clock_type *b);

// Same absent rules; else equal when clock identity, steps removed, sender clock identity and
// receiver port number are equal.
int ptp_clock_path_equal(const ptp_clock_type *a, const ptp_clock_type *b);

// -1 / +1 by unsigned clock identity, else port number(a) - port number(b).
int ptp_port_id_compare(const ptp_port_id_type *a, const ptp_port_id_type *b);

constexpr uint32_t ptp_clock_id_upper(uint64_t id)
{
    return static_cast<uint32_t>(id >> 32);
}
constexpr uint32_t ptp_clock_id_lower(uint64_t id)
{
    return static_cast<uint32_t>(id);
}
constexpr uint64_t ptp_clock_id_join(uint32_t upper, uint32_t lower)
{
    return uint64_t{upper} << 32 | lower;
}

// The 80-byte clock wire form of the controller channel and the checkpoints: the record's
// fields at their record offsets, multi-byte fields big-endian, reserved bytes zero. Byte 78
// carries the priority-set flag (0 from a sender that has none: the old rule, 0 means "none").
inline constexpr size_t PTP_CLOCK_WIRE_SIZE = 80;

void ptp_clock_to_wire(const ptp_clock_type *clock, uint8_t out[PTP_CLOCK_WIRE_SIZE]);

// Decodes len bytes at in; fewer than 80 bytes fail with PTP_ZERR_INVALID_ARG and
// leave *out untouched. Reserved bytes are ignored.
zerrno ptp_clock_from_wire(const uint8_t *in, size_t len, ptp_clock_type *out);
