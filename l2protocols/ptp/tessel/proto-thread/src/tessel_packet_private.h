// State and reporting shared by the transmit and receive halves of the packet module. Private.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "ctx.h"
#include "epi.h"
#include "jotlog.h"
#include "ptp_trace_points.h"
#include "spio.h"
#include "tessel_debug_areas.h"

struct tessel_proto_idb_type;

namespace tessel_pkt {

// The agent's debug area "packet".
inline constexpr uint32_t AREA_PACKET = tessel_debug_area("packet");

struct module_type {
    spio_conn_type *conn[4]; // by encapsulation 1..3
    ctx_api_type *ctx_api;
    epi_handle_type *epi;
    bool resync_done;
    jotlog_handle_type pkt_trace;
};
module_type &module();

bool debug_on();
const char *label();
void debug(uint32_t ifhandle, const char *format, ...) __attribute__((format(printf, 2, 3)));

// The packet and unique-event trace buffers.
jotlog_handle_type pkt_buffer();
jotlog_handle_type unq_buffer();

// A failure or drop: point P into the packet and unique-event buffers.
template <const ptp_trace_point_type &P, typename... A>
inline void trace_fail(A... args)
{
    ptp_trace<P>({pkt_buffer(), unq_buffer()}, args...);
}

} // namespace tessel_pkt

// A debug line on the packet area whose first "%s: " is the area label.
#define TESSEL_PKT_DEBUG(ifh, format, ...)                                                                             \
    do {                                                                                                               \
        if (tessel_pkt::debug_on()) {                                                                                  \
            tessel_pkt::debug((ifh), format, tessel_pkt::label() __VA_OPT__(, ) __VA_ARGS__);                          \
        }                                                                                                              \
    } while (0)
// A debug line on the packet area as it stands.
#define TESSEL_PKT_DEBUG_RAW(ifh, format, ...)                                                                         \
    do {                                                                                                               \
        if (tessel_pkt::debug_on()) {                                                                                  \
            tessel_pkt::debug((ifh), format __VA_OPT__(, ) __VA_ARGS__);                                               \
        }                                                                                                              \
    } while (0)
