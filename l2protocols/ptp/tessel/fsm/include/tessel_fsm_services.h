// What the state machine asks of the agent around it: the port manager's node values, the
// upgrade role, the best-master list, the counters, packet transmit, and the neighbours that
// keep per-peer state (offload sessions, FIB, peer indices, adjacency, grant checkpoint). The
// state machine calls them only through this table, so that it depends on nothing above it.
//
// The port manager installs the protocol thread's table before the module's init; a test
// installs one of its own (recording fakes, real modules, or a mix it chooses). Every slot must
// be set. Protocol thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ptp_types.h"
#include "tessel_adjacency_types.h"
#include "tessel_node_values.h"
#include "zerrno.h"

struct tessel_proto_idb_type;
struct ptp_fsm_foreign_master_type;
struct ptp_fsm_peer_entry_type;
struct tessel_packet_ts_data_type;
struct tessel_fib_update_type;

struct ptp_fsm_services_type {
    // ---- Port manager: node values ----
    uint32_t (*get_profile)(void);                           // ptp_profile_type
    uint32_t (*get_telecom_clock_type)(void);                // ptp_telecom_clock_type
    const tessel_local_clock_type *(*get_local_clock)(void); // null while not known
    uint8_t (*get_min_clock_class)(void);
    // ---- Global configuration ----
    uint8_t (*get_fsync_ql_option)(void);
    // ---- In-service upgrade client ----
    uint32_t (*get_issu_role)(void); // TESSEL_ISSU_ROLE_*
    // ---- Best-master list ----
    void (*bmc_if_update)(tessel_proto_idb_type *port);
    const ptp_clock_type *(*bmc_get_node_bmc)(void); // null while none is known
    // ---- Packet and drop counters ----
    void (*count_packet)(tessel_proto_idb_type *port, const ptp_address_type *peer, uint32_t counter_class,
                         uint32_t direction, uint32_t amount);
    void (*count_packet_drop)(tessel_proto_idb_type *port, uint32_t counter_class, uint32_t amount);
    void (*count_drop_reason)(uint32_t reason, uint32_t amount);
    // ---- Packet transmit: one built message on the port (dst null: the multicast address) ----
    zerrno (*packet_send)(tessel_proto_idb_type *port, const uint8_t *msg, uint16_t msg_len, int is_event,
                          const ptp_address_type *dst, const ptp_address_type *src,
                          const tessel_packet_ts_data_type *ts, const ptp_adjacency_type *adj,
                          const tessel_fib_update_type *fib);
    // ---- Offload sessions ----
    void (*offload_if_session_update)(tessel_proto_idb_type *port);
    void (*offload_foreign_master_session_update)(ptp_fsm_foreign_master_type *fm);
    void (*offload_unicast_peer_session_update)(ptp_fsm_peer_entry_type *peer);
    void (*offload_idb_sessions_update)(tessel_proto_idb_type *port);
    // ---- FIB reachability ----
    void (*fib_pulse)(void);
    void (*fib_idb_unregister)(tessel_proto_idb_type *port);
    void (*fib_foreign_master_unregister)(ptp_fsm_foreign_master_type *fm);
    void (*fib_unicast_peer_unregister)(ptp_fsm_peer_entry_type *peer);
    // ---- Peer indices ----
    zerrno (*peer_index_acquire)(tessel_proto_idb_type *port, const ptp_address_type *addr);
    void (*peer_index_release)(tessel_proto_idb_type *port, const ptp_address_type *addr);
    // ---- Adjacency ----
    void (*adjacency_foreign_master_request)(ptp_fsm_foreign_master_type *fm);
    // Resolves and stores the adjacency of a newly created unicast peer.
    void (*adjacency_unicast_peer_request)(ptp_fsm_peer_entry_type *peer);
    // The current adjacency towards an address, for a send (empty when there is none).
    void (*adjacency_get)(ifhtype ifhandle, const ptp_address_type *addr, ptp_adjacency_type *out);
    // ---- Checkpoint of unicast grants (written by client operation 4, deleted here) ----
    void (*chkpt_unicast_grant_delete)(ptp_fsm_peer_entry_type *peer);
};

// Stores the table (copied); every slot must be set. Null clears it.
void ptp_fsm_services_set(const ptp_fsm_services_type *services);
// The installed table; calling the state machine before one is installed is an internal error.
const ptp_fsm_services_type &ptp_fsm_svc(void);
