// Receive-path helpers shared by the dispatch and the foreign-master data set. Private to the
// library.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <tuple>
#include <type_traits>

#include "ptp_trace.h"
#include "ptp_types.h"
#include "tessel_fsm_log.h"

struct tessel_proto_idb_type;
struct tessel_local_clock_type;

// One dropped packet of the class on the port and one node drop reason.
void ptp_fsm_proto_rx_drop(tessel_proto_idb_type *port, uint32_t drop_class, uint32_t reason);

// Source port number of this port's messages: 1 under G.8265.1, else its port number.
uint16_t ptp_fsm_proto_own_port_num(const tessel_proto_idb_type *port);

// Domain of the port's messages: its interop domain when set, else the local clock's.
uint8_t ptp_fsm_proto_expected_domain(const tessel_proto_idb_type *port, const tessel_local_clock_type *local);

// Text of an address for debug lines: ptp_address_to_str, from the shared text pool.
const char *ptp_fsm_address_str(const ptp_address_type *addr);

// A trace record of a point of a port that carries an address: the interface handle, the state,
// then the point's other words in order, the address taking the place of its group (three
// words in trace form, with the address-format code in the id; no address records zeros).
void ptp_fsm_trace_address_point(uint32_t buffers, const ptp_trace_point_type &point, const tessel_proto_idb_type *port,
                                 const ptp_address_type *addr, std::initializer_list<uint64_t> others);

template <const ptp_trace_point_type &P, typename... A>
inline void ptp_fsm_trace_address(uint32_t buffers, const tessel_proto_idb_type *port, const ptp_address_type *addr,
                                  A... others)
{
    static_assert(P.args[0] == PTP_TRACE_ARG_IFHANDLE && P.args[1] == PTP_TRACE_ARG_PORT_STATE &&
                      ptp_trace_point_arg_pos(P, PTP_TRACE_ARG_ADDR) != PTP_TRACE_MAX_ARGS &&
                      ptp_trace_point_addr_ok(P) && ptp_trace_point_nargs(P) == 5 + sizeof...(A) &&
                      ptp_trace_point_text_mask(P) == 0,
                  "the trace point is not one of a port and an address");
    static_assert((... && (std::is_integral_v<A> || std::is_enum_v<A>)), "trace words are integers");
    ptp_fsm_trace_address_point(buffers, P, port, addr, {ptp_trace_detail::word(others)...});
}

struct ptp_fsm_foreign_master_type;

// Records collected during a tree walk for deletion after it. An entry that cannot be
// allocated is reported under the label and the record stays.
struct timeout_list {
    ptp_fsm_foreign_master_type **items = nullptr;
    size_t count = 0;
    size_t capacity = 0;

    timeout_list() = default;
    timeout_list(const timeout_list &) = delete;
    timeout_list &operator=(const timeout_list &) = delete;
    ~timeout_list();
    bool add(ptp_fsm_foreign_master_type *fm, const char *label);
};

// ---- Counted receive drops ----
//
// A drop of a received message is one call: its debug line, its trace record (where the drop has
// one) and its counters (one dropped packet of the class on the port, one node drop reason), in
// that order. format is the debug text after the "%s: %s: [%s]: " prefix (area label, interface,
// current state), which the helper puts in front.

// The debug line of a drop, prefix added (nothing while the area is off).
void ptp_fsm_rx_drop_debug(tessel_proto_idb_type *port, uint32_t area, const char *format, va_list args)
    __attribute__((format(printf, 3, 0)));

// A drop without a trace record.
void ptp_fsm_rx_drop(tessel_proto_idb_type *port, uint32_t area, uint32_t drop_class, uint32_t reason,
                     const char *format, ...) __attribute__((format(printf, 5, 6)));

// A drop with a record of trace point P into the buffers. trace_args are the point's words after
// the interface handle: for a point of a port and an address, the address and then its further
// words (the state is the port's); for any other point, the state and its further words.
template <const ptp_trace_point_type &P, typename... T>
__attribute__((format(printf, 7, 8))) void ptp_fsm_rx_drop(tessel_proto_idb_type *port, uint32_t area,
                                                           uint32_t drop_class, uint32_t reason, uint32_t buffers,
                                                           std::tuple<T...> trace_args, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    ptp_fsm_rx_drop_debug(port, area, format, args);
    va_end(args);
    if constexpr (ptp_trace_point_arg_pos(P, PTP_TRACE_ARG_ADDR) != PTP_TRACE_MAX_ARGS) {
        std::apply([&](const ptp_address_type *addr,
                       auto... others) { ptp_fsm_trace_address<P>(buffers, port, addr, others...); },
                   trace_args);
    } else {
        std::apply([&](auto... words) { ptp_fsm_trace<P>(buffers, ptp_fsm_port_ifhandle(port), words...); },
                   trace_args);
    }
    ptp_fsm_proto_rx_drop(port, drop_class, reason);
}
