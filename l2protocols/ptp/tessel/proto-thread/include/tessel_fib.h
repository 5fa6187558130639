// FIB reachability of IP peers: every foreign master and unicast peer with an IPv4 or IPv6
// address has its host prefix registered with the platform's FIB client (one connection per
// family) and receives the route's next-hop data, which its sends carry for the fast path.
// Registration is batched: creators pulse, and one pass later registers every peer not yet
// registered in one bulk call per family. Failed passes are retried with back-off; a client
// reconnect registers everything again.
//
// Protocol thread only.
#pragma once

#include <cstdint>

#include "evm.h"
#include "fib_ext_client.h"
#include "ptp_types.h"
#include "tessel_fib_types.h"
#include "zerrno.h"

struct tessel_proto_idb_type;
struct ptp_fsm_foreign_master_type;
struct ptp_fsm_peer_entry_type;

// Kind of the prefixes this program registers.
inline constexpr uint32_t TESSEL_FIB_PREFIX_KIND = 3;

zerrno tessel_fib_init(event_mgr_type *evm);
void tessel_fib_close(void);

// Asks for a registration pass (creation of an IP peer).
void tessel_fib_pulse(void);
// Unregisters every IP peer of the port, then pulses (its configuration changed).
void tessel_fib_idb_unregister(tessel_proto_idb_type *idb);
// Unregisters a peer that is being deleted, unless a peer of the other kind on the port has
// the same address (the prefix is theirs too).
void tessel_fib_foreign_master_unregister(ptp_fsm_foreign_master_type *fm);
void tessel_fib_unicast_peer_unregister(ptp_fsm_peer_entry_type *peer);
bool tessel_fib_address_is_ip(const ptp_address_type *addr);

// One pass: all = 1 registers every IP peer, 0 those not registered.
void tessel_fib_register_peers(uint32_t all);

// Walk state of a pass.
enum tessel_fib_walk_mode_type : uint32_t {
    TESSEL_FIB_WALK_COUNT = 0,
    TESSEL_FIB_WALK_FILL = 1,
    TESSEL_FIB_WALK_MARK = 2,
    TESSEL_FIB_WALK_UNREGISTER = 3,
};
struct tessel_fib_walk_ctx_type {
    uint32_t all;
    uint32_t mode; // tessel_fib_walk_mode_type
    uint32_t ipv4_count;
    uint32_t ipv6_count;
    fib_ext_client_prefix_st *ipv4_prefixes;
    fib_ext_client_prefix_st *ipv6_prefixes;
    tessel_proto_idb_type *idb; // the one port of an unregister walk
    uint32_t mark_family;       // the family (PTP_ENCAP_IPV4/IPV6) a mark walk marks
};

bool tessel_fib_idb_walker(tessel_proto_idb_type *idb, void *context);
void tessel_fib_foreign_master_walker(tessel_proto_idb_type *idb, ptp_fsm_foreign_master_type *fm,
                                      tessel_fib_walk_ctx_type *ctx);
void tessel_fib_unicast_peer_walker(tessel_proto_idb_type *idb, ptp_fsm_peer_entry_type *peer,
                                    tessel_fib_walk_ctx_type *ctx);
void tessel_fib_prepare_fec_prefix(fib_ext_client_prefix_st *prefix, const ptp_address_type *addr, ifhtype ifhandle,
                                   uint32_t vrf_id);
zerrno tessel_fib_bulk_register(fib_ext_client_h handle, fib_ext_client_prefix_st *prefixes,
                                const tessel_fib_walk_ctx_type *ctx);
void tessel_fib_unregister_peer(const ptp_address_type *addr, ifhtype ifhandle, tessel_fib_info_type *info);

// Callbacks of the FIB client library and the pulser.
void tessel_fib_extract_fec_prefix(const fib_ext_client_prefix_st *prefix, const uint8_t *nh_data);
void tessel_fib_ipv4_reconnect_cb(fib_ext_client_h handle);
void tessel_fib_ipv6_reconnect_cb(fib_ext_client_h handle);
void tessel_fib_reconnect_cb_internal(fib_ext_client_h handle, uint32_t protocol);
void tessel_fib_pulser_cb(void *context);
void tessel_fib_client_cleanup(fib_ext_client_h handle, uint32_t version);
