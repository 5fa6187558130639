// Debug lines and trace records of the state-machine modules, and their internal-error stop.
// Private to the library.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>

#include "ptp_trace.h"
#include "ptp_types.h"
#include "tessel_debug_areas.h"

struct tessel_proto_idb_type;

// The agent's debug areas this module prints in.
enum ptp_fsm_area_type : uint32_t {
    PTP_FSM_AREA_PROTOCOL = tessel_debug_area("protocol"),
    PTP_FSM_AREA_PACKET = tessel_debug_area("packet"),
    PTP_FSM_AREA_FSM = tessel_debug_area("fsm"),
};

// The agent's trace buffers, as a set.
enum ptp_fsm_trace_buf_type : uint32_t {
    PTP_FSM_TRACE_DET = 0x1,
    PTP_FSM_TRACE_SUM = 0x2,
    PTP_FSM_TRACE_UNQ = 0x4,
    PTP_FSM_TRACE_PKT = 0x8,
};

// Upper-case label of an area ("PROTOCOL", "PACKET", "FSM").
const char *ptp_fsm_area_label(uint32_t area);

// True while the area is switched on (so that callers skip formatting otherwise).
bool ptp_fsm_debug_on(uint32_t area);

// One debug line on an area about an interface (0: none).
void ptp_fsm_debug(uint32_t area, ifhtype ifhandle, const char *format, ...) __attribute__((format(printf, 3, 4)));

// One trace record with the given argument words into each buffer of the set.
void ptp_fsm_trace_args(uint32_t buffers, uint64_t id, const uint64_t *args, uint32_t count);
// The same where some words are texts (bit i of text_mask: word i points at a text that the
// record must carry, since the reader runs in another process).
void ptp_fsm_trace_args_text(uint32_t buffers, uint64_t id, uint32_t text_mask, const uint64_t *args, uint32_t count);

// One record of trace point P (ptp_trace_points.h): its id comes from the point, and the
// arguments are checked against the point's definition at compile time.
template <const ptp_trace_point_type &P, typename... A>
inline void ptp_fsm_trace(uint32_t buffers, A... args)
{
    static_assert(ptp_trace_detail::args_ok<P, A...>(), "trace arguments differ from the trace point's definition");
    static_assert(ptp_trace_point_text_mask(P) == 0, "state-machine points carry no texts");
    const std::array<uint64_t, sizeof...(A) == 0 ? 1 : sizeof...(A)> words{ptp_trace_detail::word(args)...};
    ptp_fsm_trace_args(buffers, ptp_trace_id_of<P>, words.data(), sizeof...(A));
}

// An internal error: prints the reason and ends the process.
[[noreturn]] void ptp_fsm_internal_error(const char *what, const char *file, int line);

#define PTP_FSM_ASSERT(cond)                                                                                           \
    do {                                                                                                               \
        if (!(cond)) {                                                                                                 \
            ptp_fsm_internal_error(#cond, __FILE__, __LINE__);                                                         \
        }                                                                                                              \
    } while (0)

// Name and current state text of a port, for the "%s: %s: [%s]: " prefix.
const char *ptp_fsm_port_name(const tessel_proto_idb_type *port);
const char *ptp_fsm_port_state_name(const tessel_proto_idb_type *port);
ifhtype ptp_fsm_port_ifhandle(const tessel_proto_idb_type *port);

// A debug line with the prefix "%s: %s: [%s]: " filled with the area label, the interface name
// and the current state; format is the whole text, prefix included.
#define PTP_FSM_DEBUG_PORT(area, port, format, ...)                                                                    \
    do {                                                                                                               \
        if (ptp_fsm_debug_on(area)) {                                                                                  \
            ptp_fsm_debug((area), ptp_fsm_port_ifhandle(port), format, ptp_fsm_area_label(area),                       \
                          ptp_fsm_port_name(port), ptp_fsm_port_state_name(port) __VA_OPT__(, ) __VA_ARGS__);          \
        }                                                                                                              \
    } while (0)
