// One unicast slave of a PTP port (the port is its master): its address, port identity and up
// to three grants. Entries live in the port's unicast peer tree, keyed by peer address.
#pragma once

#include <cstdint>

#include "avl2.h"
#include "mgd_timer.h"
#include "ptp_types.h"
#include "tessel_adjacency_types.h"
#include "tessel_fib_types.h"

struct tessel_proto_idb_type;

enum ptp_fsm_peer_grant_kind_type : uint32_t {
    PTP_FSM_PEER_GRANT_ANNOUNCE = 0,
    PTP_FSM_PEER_GRANT_SYNC = 1,
    PTP_FSM_PEER_GRANT_DELAY_RESP = 2,
    PTP_FSM_PEER_GRANT_KINDS = 3,
};

// One granted message stream.
struct ptp_fsm_peer_grant_type {
    uint64_t expiry;             // wall-clock seconds
    mgd_timer_leaf *grant_timer; // null for a non-negotiated peer
    uint32_t duration;           // seconds
    int8_t log_interval;         // granted
    int8_t app_log_interval;     // applied by the offload session (its caller stores it)
    uint8_t reply_pending : 1;   // the Grant TLV waits for the offload session
};

struct ptp_fsm_peer_entry_type {
    avl2_node_type tree_link; // first: the row of the port's unicast peer tree

    ptp_address_type peer_addr;  // the slave's address (tree key)
    ptp_address_type local_addr; // the local address used towards it
    ptp_port_id_type peer_port_id;
    uint16_t peer_sequence_id; // of the next Signaling message to it
    uint64_t chkpt_id;         // checkpoint object of its grant record; 0 while none

    ptp_fsm_peer_grant_type grant[PTP_FSM_PEER_GRANT_KINDS];

    uint8_t is_announce_granted : 1;
    uint8_t is_sync_granted : 1;
    uint8_t is_delay_resp_granted : 1;
    uint8_t is_delay_req_replying : 1; // the offload session answers its Delay-Req
    uint8_t is_nonnegotiated : 1;
    uint8_t is_resync_pending : 1;

    // Adjacency towards the peer: the L2 header in front of its IPv4 packets (length 0: none),
    // written by the adjacency module.
    ptp_adjacency_type adjacency;
    tessel_fib_info_type fib_info; // registration and next-hop data (the FIB module's)

    tessel_proto_idb_type *port; // owning port
    void *offload_entry;         // the offload module's session state
};
