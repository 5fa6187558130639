// Receive-path helpers shared by the dispatch and the foreign-master data set. Private to the
// library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <type_traits>

#include "ptp_trace.h"
#include "ptp_types.h"

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
