#include "ptp_clock.h"

#include <cstdio>
#include <cstdlib>

#include "ptp_wire.h"
#include "ptp_zerr_codes.h"

namespace {

[[noreturn]] void clock_assert_fail(const char *text)
{
    fprintf(stderr, "%s\n", text);
    abort();
}

// The lower value is the better one; the difference of two 8/16-bit fields fits an int.
inline int diff(unsigned a, unsigned b)
{
    return static_cast<int>(a) - static_cast<int>(b);
}

inline int id_order(uint64_t a, uint64_t b)
{
    return a < b ? -1 : (a > b ? 1 : 0);
}

inline bool port_id_greater(const ptp_port_id_type &x, const ptp_port_id_type &y)
{
    return x.clock_id != y.clock_id ? x.clock_id > y.clock_id : x.port_num > y.port_num;
}

inline unsigned eff_class(const ptp_clock_type &c)
{
    return c.configured_clock_class != 0 ? c.configured_clock_class : c.clock_class;
}

inline unsigned eff_priority(const ptp_clock_type &c)
{
    if (c.configured_priority_set != 0 || c.configured_priority != 0) {
        return c.configured_priority;
    }
    return PTP_CLOCK_DEFAULT_LOCAL_PRIORITY;
}

// Steps removed differ by exactly one: the record with fewer steps wins; the decision counts
// as topology when the loser heard the grandmaster through a port whose identity is below its
// own receiving port's.
inline int one_step_apart(const ptp_clock_type &a, const ptp_clock_type &b, int d, int *topo)
{
    if (d < 0) {
        *topo = port_id_greater(b.receiver, b.sender) ? 1 : 0;
        return -1;
    }
    *topo = port_id_greater(a.receiver, a.sender) ? 1 : 0;
    return 1;
}

// Same grandmaster, same steps removed: sender identity, then sender and receiver port numbers.
// Sets *topo to 1 when a field decides; *last_topo is the flag for a full tie.
inline int same_path_length(const ptp_clock_type &a, const ptp_clock_type &b, int *topo, int tie_topo)
{
    *topo = 1;
    if (int r = id_order(a.sender.clock_id, b.sender.clock_id))
        return r;
    if (int r = diff(a.sender.port_num, b.sender.port_num))
        return r;
    if (int r = diff(a.receiver.port_num, b.receiver.port_num))
        return r;
    *topo = tie_topo;
    return 0;
}

int compare_default(const ptp_clock_type &a, const ptp_clock_type &b, int *topo)
{
    if (int r = diff(eff_priority(a), eff_priority(b)))
        return r;
    if (int r = diff(a.priority1, b.priority1))
        return r;
    if (int r = diff(eff_class(a), eff_class(b)))
        return r;
    if (int r = diff(a.accuracy, b.accuracy))
        return r;
    if (int r = diff(a.offset_log_variance, b.offset_log_variance))
        return r;
    if (int r = diff(a.priority2, b.priority2))
        return r;
    if (int r = id_order(a.clock_id, b.clock_id))
        return r;
    int d = diff(a.steps_removed, b.steps_removed);
    if (d >= 2 || d <= -2)
        return d;
    if (d != 0)
        return one_step_apart(a, b, d, topo);
    return same_path_length(a, b, topo, 0);
}

int compare_g8265_1(const ptp_clock_type &a, const ptp_clock_type &b)
{
    if (int r = diff(eff_class(a), eff_class(b)))
        return r;
    if (int r = diff(eff_priority(a), eff_priority(b)))
        return r;
    if (int r = id_order(a.clock_id, b.clock_id))
        return r;
    return diff(a.receiver.port_num, b.receiver.port_num);
}

int compare_g8275(const ptp_clock_type &a, const ptp_clock_type &b, int *topo)
{
    unsigned cls = eff_class(a);
    if (int r = diff(cls, eff_class(b)))
        return r;
    if (int r = diff(a.accuracy, b.accuracy))
        return r;
    if (int r = diff(a.offset_log_variance, b.offset_log_variance))
        return r;
    if (int r = diff(a.priority2, b.priority2))
        return r;
    if (int r = diff(eff_priority(a), eff_priority(b)))
        return r;
    // Below class 128 (locked grandmasters) the identity is deliberately not looked at.
    if (cls >= 128) {
        if (int r = id_order(a.clock_id, b.clock_id))
            return r;
    }
    int sa = a.steps_removed;
    int sb = b.steps_removed;
    if (sa + 1 < sb)
        return -1;
    if (sb + 1 < sa)
        return 1;
    if (sa != sb)
        return one_step_apart(a, b, sa - sb, topo);
    return same_path_length(a, b, topo, 1);
}

} // namespace

int ptp_clock_compare(uint32_t mode, const ptp_clock_type *a, const ptp_clock_type *b, int *topology)
{
    int scratch = 0;
    int *topo = topology != nullptr ? topology : &scratch;
    *topo = 0;
    switch (mode) {
    case PTP_PROFILE_DEFAULT: return compare_default(*a, *b, topo);
    case PTP_PROFILE_G8265_1: return compare_g8265_1(*a, *b);
    case PTP_PROFILE_G8275_1:
    case PTP_PROFILE_G8275_2: return compare_g8275(*a, *b, topo);
    default: clock_assert_fail("Unknown clock selection mode");
    }
}

uint8_t ptp_clock_effective_class(const ptp_clock_type *clock)
{
    return static_cast<uint8_t>(eff_class(*clock));
}

uint8_t ptp_clock_effective_priority(const ptp_clock_type *clock)
{
    return static_cast<uint8_t>(eff_priority(*clock));
}

void ptp_clock_copy(ptp_clock_type *dst, const ptp_clock_type *src)
{
    *dst = *src;
}

int ptp_clock_equal(const ptp_clock_type *a, const ptp_clock_type *b)
{
    if (a == nullptr || b == nullptr)
        return a == b ? 1 : 0;
    // Field by field: the record has padding, so a byte comparison could differ on equal clocks.
    return a->clock_id == b->clock_id && a->priority1 == b->priority1 && a->clock_class == b->clock_class &&
                   a->accuracy == b->accuracy && a->offset_log_variance == b->offset_log_variance &&
                   a->priority2 == b->priority2 && a->steps_removed == b->steps_removed &&
                   a->time_source == b->time_source && a->utc_offset == b->utc_offset &&
                   a->utc_offset_valid == b->utc_offset_valid && a->frequency_traceable == b->frequency_traceable &&
                   a->time_traceable == b->time_traceable && a->timescale == b->timescale &&
                   a->leap_seconds == b->leap_seconds && a->sender.clock_id == b->sender.clock_id &&
                   a->sender.port_num == b->sender.port_num && a->receiver.clock_id == b->receiver.clock_id &&
                   a->receiver.port_num == b->receiver.port_num && a->local == b->local &&
                   a->configured_clock_class == b->configured_clock_class &&
                   a->configured_priority == b->configured_priority &&
                   a->configured_priority_set == b->configured_priority_set
               ? 1
               : 0;
}

int ptp_clock_path_equal(const ptp_clock_type *a, const ptp_clock_type *b)
{
    if (a == nullptr || b == nullptr)
        return a == b ? 1 : 0;
    return a->clock_id == b->clock_id && a->steps_removed == b->steps_removed &&
                   a->sender.clock_id == b->sender.clock_id && a->receiver.port_num == b->receiver.port_num
               ? 1
               : 0;
}

int ptp_port_id_compare(const ptp_port_id_type *a, const ptp_port_id_type *b)
{
    if (int r = id_order(a->clock_id, b->clock_id))
        return r;
    return diff(a->port_num, b->port_num);
}

void ptp_clock_to_wire(const ptp_clock_type *c, uint8_t out[PTP_CLOCK_WIRE_SIZE])
{
    for (size_t i = 0; i < PTP_CLOCK_WIRE_SIZE; i++)
        out[i] = 0;
    ptp_wire_put64(out + 0, c->clock_id);
    out[8] = c->priority1;
    out[9] = c->clock_class;
    out[10] = c->accuracy;
    ptp_wire_put16(out + 12, c->offset_log_variance);
    out[14] = c->priority2;
    ptp_wire_put16(out + 16, c->steps_removed);
    out[18] = c->time_source;
    ptp_wire_put16(out + 20, static_cast<uint16_t>(c->utc_offset));
    ptp_wire_put32(out + 24, c->utc_offset_valid);
    ptp_wire_put32(out + 28, c->frequency_traceable);
    ptp_wire_put32(out + 32, c->time_traceable);
    out[36] = c->timescale;
    out[37] = c->leap_seconds;
    ptp_wire_put64(out + 40, c->sender.clock_id);
    ptp_wire_put16(out + 48, c->sender.port_num);
    ptp_wire_put64(out + 56, c->receiver.clock_id);
    ptp_wire_put16(out + 64, c->receiver.port_num);
    ptp_wire_put32(out + 72, c->local);
    out[76] = c->configured_clock_class;
    out[77] = c->configured_priority;
    out[78] = c->configured_priority_set != 0 ? 1 : 0;
}

zerrno ptp_clock_from_wire(const uint8_t *in, size_t len, ptp_clock_type *out)
{
    if (in == nullptr || out == nullptr || len < PTP_CLOCK_WIRE_SIZE)
        return PTP_ZERR_INVALID_ARG;
    ptp_clock_type c{};
    c.clock_id = ptp_wire_get64(in + 0);
    c.priority1 = in[8];
    c.clock_class = in[9];
    c.accuracy = in[10];
    c.offset_log_variance = ptp_wire_get16(in + 12);
    c.priority2 = in[14];
    c.steps_removed = ptp_wire_get16(in + 16);
    c.time_source = in[18];
    c.utc_offset = static_cast<int16_t>(ptp_wire_get16(in + 20));
    c.utc_offset_valid = ptp_wire_get32(in + 24);
    c.frequency_traceable = ptp_wire_get32(in + 28);
    c.time_traceable = ptp_wire_get32(in + 32);
    c.timescale = in[36];
    c.leap_seconds = in[37];
    c.sender.clock_id = ptp_wire_get64(in + 40);
    c.sender.port_num = ptp_wire_get16(in + 48);
    c.receiver.clock_id = ptp_wire_get64(in + 56);
    c.receiver.port_num = ptp_wire_get16(in + 64);
    c.local = ptp_wire_get32(in + 72);
    c.configured_clock_class = in[76];
    c.configured_priority = in[77];
    c.configured_priority_set = in[78] != 0 ? 1 : 0;
    *out = c;
    return ZERR_OK;
}
