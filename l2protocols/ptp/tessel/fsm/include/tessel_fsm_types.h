// The records of a PTP port: the state machine's sub-record (tessel_proto_idb_fsm) and the
// protocol thread's interface record that holds it (tessel_proto_idb_type). They live here, at
// the lowest level that holds the state machine, because the state machine, the protocol
// thread's services and the counters all work on the same record. The operations on the
// protocol thread's database of these records are in tessel_proto_db.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "avl2.h"
#include "ptp_timer.h"
#include "ptp_types.h"
#include "tessel_db.h"
#include "tessel_if_config.h"

struct ptp_fsm_foreign_master_type;
struct tessel_offload_data_type;
struct tessel_stats_intf_entry_type;

// Bits of tessel_proto_idb_fsm::scheduled_functions (changes postponed while the port is locked).
inline constexpr uint16_t TESSEL_FSM_SCHEDULED_FUNCTION_FMC = 0x0001;

// The port state machine's record of a port.
struct tessel_proto_idb_fsm {
    uint32_t PortState; // ptp_port_state_type
    ptp_timer_type qualification_timer;
    uint8_t qualification_timer_running : 1;
    uint8_t is_held_passive : 1;
    ptp_timer_type announce_timer;
    ptp_timer_type sync_receive_timer;
    ptp_timer_type delay_resp_receive_timer;
    uint16_t current_announce_id;                            // announce-timer ticks since init; wraps
    avl2_tree_type foreign_master_table;                     // by peer address
    ptp_fsm_foreign_master_type *foreign_master_ranked_list; // qualified, best first
    ptp_fsm_foreign_master_type *slaving_master;
    uint8_t announce_timeout_counter;
    uint16_t looped_port_num;
    uint16_t last_looped_announce_id;
    // flag byte 1
    uint8_t is_listening : 1;
    uint8_t is_sending_multicast_announce : 1;
    uint8_t is_announce_timeout_running : 1;
    uint8_t announce_timer_running : 1;
    uint8_t sync_receive_timer_running : 1;
    uint8_t delay_resp_receive_timer_running : 1;
    // flag byte 2
    uint8_t is_master_drrm_running : 1;
    uint8_t is_slave_drrm_running : 1;
    uint8_t sync_timer_running : 1;
    uint16_t scheduled_functions; // TESSEL_FSM_SCHEDULED_FUNCTION_*
    // flag byte 3
    uint8_t is_fsm_init : 1;
    uint8_t is_locked : 1;
    avl2_tree_type unicast_peer_tree; // ptp_fsm_peer_entry_type by peer address
    uint32_t unicast_peer_count;
    uint8_t is_unicast_grant_allowed;
};

// Bits of tessel_proto_idb_type::flags.
inline constexpr uint16_t TESSEL_PROTO_IDB_PORT_MGR_MARK = 0x0001;  // rebuilt from checkpoint, not yet seen
inline constexpr uint16_t TESSEL_PROTO_IDB_PORT_MGR_READY = 0x0002; // ready; its state machine runs
inline constexpr uint16_t TESSEL_PROTO_IDB_ETHER_INFO_KNOWN = 0x0004;
inline constexpr uint16_t TESSEL_PROTO_IDB_VRF_ID_KNOWN = 0x0008;
// 0x0010 is the port-number client's resync mark. CHKPT_PENDING: the port's checkpoint record is
// written once the current event is handled.
inline constexpr uint16_t TESSEL_PROTO_IDB_CHKPT_PENDING = 0x0020;

inline constexpr uint32_t TESSEL_PROTO_IDB_ETHER_INFO_MAX = 300;
inline constexpr uint32_t TESSEL_PROTO_IDB_IPV4_ADDR_NONE = 0xFFFFFFFFu;
// Protocol-thread interface event counters.
inline constexpr uint32_t TESSEL_PROTO_IDB_EVENT_COUNT = 5;

// One PTP port of the node, owned by the protocol thread.
struct tessel_proto_idb_type {
    tessel_db_h_type header; // name, handle (0 while unknown)
    uint16_t if_type;        // 0 while unknown
    uint16_t port_num;       // 0 = not assigned
    uint32_t im_state;       // 3 is up
    uint32_t ether_info_len;
    uint8_t ether_info[TESSEL_PROTO_IDB_ETHER_INFO_MAX];
    tessel_if_config_type config; // the applied configuration; source addresses stay zero
    uint32_t ipv4_addr;           // TESSEL_PROTO_IDB_IPV4_ADDR_NONE when not known
    uint32_t ipv4_addr_count;
    uint32_t *ipv4_addr_list;             // owned
    uint8_t ipv6_addr[PTP_IPV6_ADDR_LEN]; // all zero when not known
    uint32_t ipv6_addr_count;
    uint8_t (*ipv6_addr_list)[PTP_IPV6_ADDR_LEN]; // owned
    uint32_t ipv4_vrf;                            // valid with TESSEL_PROTO_IDB_VRF_ID_KNOWN
    tessel_proto_idb_fsm fsm;
    uint8_t is_spio_attached;
    uint32_t attached_encap; // ptp_encap_type
    ifhtype attached_ifhandle;
    uint16_t flags;                                // TESSEL_PROTO_IDB_*
    uint64_t chkpt_obj_id;                         // 0 while there is no checkpoint record
    tessel_stats_intf_entry_type *packet_counters; // in the counters window; null when none
    tessel_offload_data_type *offload_entry;
    tessel_proto_idb_type *bmc_prev;
    tessel_proto_idb_type *bmc_next;
    avl2_tree_type peer_index_tree;
    uint32_t event_counters[TESSEL_PROTO_IDB_EVENT_COUNT];
};
