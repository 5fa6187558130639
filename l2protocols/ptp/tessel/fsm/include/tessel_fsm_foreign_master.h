// One foreign master of a PTP port: a master heard on the port or configured in its master
// table. Records live in the port's foreign-master tree (keyed by peer address) and, while
// eligible, in its ranked list (best first).
#pragma once

#include <cstdint>
#include <ctime>

#include "avl2.h"
#include "ptp_types.h"
#include "tessel_adjacency_types.h"
#include "tessel_fib_types.h"

struct tessel_proto_idb_type;

// Slave-side grant state of one message type (Announce, Sync, Delay-Resp) requested from this
// master; the timers belong to the unicast negotiation code.
struct ptp_fsm_fm_grant_state_type {
    void *grant_timer;
    void *retry_timer;
    uint32_t duration;
    int8_t log_interval;
};

enum ptp_fsm_fm_grant_kind_type : uint32_t {
    PTP_FSM_FM_GRANT_ANNOUNCE = 0,
    PTP_FSM_FM_GRANT_SYNC = 1,
    PTP_FSM_FM_GRANT_DELAY_RESP = 2,
    PTP_FSM_FM_GRANT_KINDS = 3,
};

// Bytes of a received Announce kept for ports with interoperation configuration.
inline constexpr size_t PTP_FSM_LAST_ANNOUNCE_LEN = 64;

struct ptp_fsm_foreign_master_type {
    avl2_node_type tree_link; // first: the row of the port's foreign-master tree

    ptp_address_type peer_addr;    // the master's source address (tree key)
    ptp_address_type sent_to_addr; // local address the master's messages must be sent to

    uint8_t configured_priority;
    uint8_t configured_clock_class;

    ptp_port_id_type parent_port_id; // sourcePortIdentity of its first Announce
    ptp_clock_type master_clock;     // the clock its Announces describe

    tessel_proto_idb_type *port; // owning port

    uint32_t transport; // ptp_transport_type
    ptp_delay_asymmetry_type delay_asymmetry;

    // The L2 header towards the master for IPv4 sends (written by the adjacency module), and
    // its FIB registration and next-hop data (the FIB module's).
    ptp_adjacency_type adjacency;
    tessel_fib_info_type fib_info;

    uint8_t is_priority_configured : 1;
    uint8_t is_clock_class_configured : 1;
    uint8_t is_in_ranked_list : 1;
    uint8_t is_slaving : 1;
    uint8_t is_listening : 1;
    uint8_t is_resync_pending : 1;

    // Ranked list: the link that points at this record, and the next (worse) record.
    ptp_fsm_foreign_master_type **ranked_prev;
    ptp_fsm_foreign_master_type *ranked_next;

    uint8_t announce_count;
    uint16_t announce_id_array[2]; // announce tick of the newest and the previous Announce

    struct timespec first_announce_time; // realtime clock

    uint8_t sync_received : 1;
    uint8_t delay_resp_received : 1;
    uint8_t ptsf_lossannounce : 1;
    uint8_t ptsf_losssync_sync : 1;
    uint8_t ptsf_losssync_delay_resp : 1;

    uint8_t *last_announce; // PTP_FSM_LAST_ANNOUNCE_LEN bytes while the port has interop

    uint16_t signaling_id;
    ptp_fsm_fm_grant_state_type grant[PTP_FSM_FM_GRANT_KINDS];
    void *grant_cancel_timer; // the seventh timer of the slave-side negotiation

    uint8_t is_announce_granted : 1;
    uint8_t is_sync_granted : 1;
    uint8_t is_delay_resp_granted : 1;
    uint8_t is_nonnegotiated : 1;
    uint8_t is_timed_out : 1; // a non-negotiated master whose Announces stopped

    uint16_t delay_req_id;
    uint8_t is_sending_delay_req : 1;
    uint8_t is_handling_sync : 1;
};

// The checkpoint form of a port's best foreign master.
struct tessel_chkpt_foreign_master_type {
    ptp_address_type peer_addr;
    ptp_address_type sent_to_addr;
    ptp_clock_type master_clock; // its sender is the parent port identity
    uint32_t transport;          // ptp_transport_type
    ptp_delay_asymmetry_type delay_asymmetry;
    uint8_t configured_priority;
    uint8_t is_priority_configured;
    uint8_t configured_clock_class;
    uint8_t is_clock_class_configured;
    uint8_t is_nonnegotiated;
    uint8_t is_in_master_table;
};
