// The FIB external client: a process registers host prefixes of its peers, per address family
// on one connection, and is told for each registered prefix the next-hop data of the route that
// covers it (again whenever that changes), so that packets to the peer can take the fast path.
// Routes come from the test control (fib_test.h) or, for prefixes on interface handles bound to
// Linux devices (nl_linux.h), from the kernel's routing table.
#pragma once

#include <cstdint>

#include "evm.h"
#include "zerrno.h"

inline constexpr uint32_t FIB_EXT_FAMILY_IPV4 = 12;
inline constexpr uint32_t FIB_EXT_FAMILY_IPV6 = 19;

// One prefix, 104 bytes.
struct fib_ext_client_prefix_st {
    uint32_t vrf_id;
    uint32_t family; // FIB_EXT_FAMILY_*
    uint32_t kind;   // the client's registration kind
    uint32_t ifhandle;
    uint8_t address[16]; // 4 or 16 bytes used, as on the wire
    uint16_t prefix_len;
    uint16_t reserved0;
    uint32_t reserved1[12];
    uint32_t nh_len; // in an update: the length of the next-hop data
    uint32_t reserved2[4];
};
static_assert(sizeof(fib_ext_client_prefix_st) == 104);
static_assert(__builtin_offsetof(fib_ext_client_prefix_st, nh_len) == 21 * 4);

struct fib_ext_client_conn_type;
using fib_ext_client_h = fib_ext_client_conn_type *;

// An update: the registered prefix (nh_len set) and its next-hop data, which stays valid while
// the prefix is registered (length 0: no route covers it any more).
using fib_ext_client_update_cb_fn = void (*)(const fib_ext_client_prefix_st *prefix, const uint8_t *nh_data);
// The service restarted: the new connection, on which nothing is registered.
using fib_ext_client_reconnect_cb_fn = void (*)(fib_ext_client_h handle);

struct fib_ext_client_params_st {
    event_mgr_type *evm;
    uint32_t family;
    uint32_t component_id;
    const char *client_name;
    fib_ext_client_update_cb_fn update_cb;
    fib_ext_client_reconnect_cb_fn reconnect_cb;
};

zerrno fib_ext_client_init_v2(const fib_ext_client_params_st *params, fib_ext_client_h *out);
// Registers count prefixes of the connection's family; updates follow on its event manager.
zerrno fib_ext_client_bulk_reg_notif(fib_ext_client_h handle, const fib_ext_client_prefix_st *prefixes, uint32_t count);
zerrno fib_ext_client_bulk_unreg_notif(fib_ext_client_h handle, const fib_ext_client_prefix_st *prefixes,
                                       uint32_t count);
// Drops every registration and pending update of the connection, which stays usable.
zerrno fib_ext_client_cleanup(fib_ext_client_h handle);
