// The interface records the two agent threads share knowledge of: one set of per-interface
// configuration values (tessel_if_config_type; the IPC record holds its own and its merged set,
// a profile holds one, the protocol-thread record a copy of the merged set) and the IPC
// thread's interface record, which the protocol thread reads while the IPC thread waits on an
// inter-thread message.
#pragma once

#include <cstdint>

#include "ptp_types.h"
#include "tessel_db.h"
#include "tessel_master_db.h"
#include "tessel_slave_db.h"

struct tessel_interop_config_type;
struct tessel_prf_db_type;

// One set of per-interface configuration values.
struct tessel_if_config_type {
    uint32_t encap;             // ptp_encap_type
    int32_t announce_interval;  // log2 seconds
    uint32_t announce_timeout;  // announce intervals
    int32_t sync_interval;      // log2 seconds
    int32_t delay_req_interval; // log2 seconds
    uint32_t transport;         // ptp_transport_type
    uint32_t clock_operation;   // 0 two-step, 1 one-step
    uint32_t port_state;        // ptp_restrict_port_state_type
    struct {
        uint32_t enable;
        uint32_t address; // 0xFFFFFFFF when none
    } source_ip;
    struct {
        uint32_t enable;
        uint8_t address[PTP_IPV6_ADDR_LEN];
    } source_ipv6;
    uint32_t cos;
    uint32_t general_cos;
    uint32_t event_cos;
    uint32_t dscp;
    uint32_t general_dscp;
    uint32_t event_dscp;
    uint32_t ipv4_ttl;
    uint32_t ipv6_hop_limit;
    ptp_delay_asymmetry_type delay_asymmetry; // nanoseconds
    tessel_master_table_type master_table;
    tessel_slave_table_type slave_table;
    uint32_t sync_timeout;              // milliseconds
    uint32_t delay_resp_timeout;        // milliseconds
    uint32_t deny_invalid_grants;       // 0 reduce, otherwise deny
    uint32_t announce_grant_duration;   // seconds
    uint32_t sync_grant_duration;       // seconds
    uint32_t delay_resp_grant_duration; // seconds
    uint32_t local_priority;
    ptp_address_type multicast_address;
    tessel_interop_config_type *interop_cfg; // none when not configured
};

// One bit per item of tessel_if_config_type, set while the item is configured in that set.
using tessel_if_config_flags_type = uint32_t;

// IPC-thread interface event counters.
inline constexpr uint32_t TESSEL_IPC_IDB_EVENT_COUNT = 12;

// The IPC thread's interface record.
struct tessel_ipc_idb_type {
    tessel_db_h_type header;
    uint32_t if_type;  // interface-manager type
    uint32_t im_state; // interface-manager line state
    uint32_t ether_info_len;
    uint8_t ether_info[300];
    tessel_if_config_type if_config;
    tessel_if_config_flags_type if_config_flags;
    tessel_prf_db_type *profile_db;
    tessel_if_config_type applied_config;
    tessel_if_config_flags_type applied_config_flags;
    uint32_t registered_encap;
    uint32_t *ipv4_addr_list; // owned
    uint32_t ipv4_addr_count;
    uint32_t applied_ipv4_addr;                   // 0xFFFFFFFF when none
    uint8_t (*ipv6_addr_list)[PTP_IPV6_ADDR_LEN]; // owned
    uint32_t ipv6_addr_count;
    uint8_t applied_ipv6_addr[PTP_IPV6_ADDR_LEN];
    uint32_t ipv4_vrf;
    uint64_t flags;
    uint32_t event_counters[TESSEL_IPC_IDB_EVENT_COUNT];
};
