// Offload sessions: the agent's table of sessions handed to the platform's offload plugin (which
// sends and times the event messages), brought in line with the plugin in batches per
// encapsulation; the session data records; the plugin's notifications (timestamps, statistics)
// and the statistics requests. Protocol thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "avl2.h"
#include "evm.h"
#include "ptp_types.h"
#include "zerrno.h"

struct tessel_proto_idb_type;
struct ptp_fsm_peer_entry_type;
struct ptp_fsm_foreign_master_type;
struct spio_conn_type;

// ---- Sessions ----------------------------------------------------------------------------------

enum tessel_offload_data_class_type : uint32_t {
    TESSEL_OFFLOAD_DATA_IF = 0,
    TESSEL_OFFLOAD_DATA_UNICAST_PEER = 1,
    TESSEL_OFFLOAD_DATA_FOREIGN_MASTER = 2,
};

// Bits of tessel_offload_data_type::flags.
inline constexpr uint8_t TESSEL_OFFLOAD_SESSION_EXISTS = 0x01;
inline constexpr uint8_t TESSEL_OFFLOAD_CREATE_UPDATE_PENDING = 0x02;
inline constexpr uint8_t TESSEL_OFFLOAD_DELETE_PENDING = 0x04;

inline constexpr uint32_t TESSEL_OFFLOAD_BATCH_MS = 100;

struct tessel_offload_data_type {
    avl2_node_type avl_node;
    uint32_t data_type; // tessel_offload_data_class_type
    ifhtype ifhandle;
    ptp_address_type dest_address;
    ptp_address_type source_address;
    uint8_t flags;
    tessel_proto_idb_type *proto_idb;
    ptp_fsm_peer_entry_type *peer_entry;         // class 1 only
    ptp_fsm_foreign_master_type *foreign_master; // class 2 only
    tessel_offload_data_type *next;              // update list
    tessel_offload_data_type *prev;              // non-null exactly while on the update list
};

// The five booleans of the interface dump's offload entry.
struct tessel_offload_session_state_type {
    uint32_t session_entry_exists;
    uint32_t session_exists;
    uint32_t create_update_pending;
    uint32_t delete_pending;
    uint32_t on_update_list;
};

zerrno tessel_offload_init(event_mgr_type *evm);
void tessel_offload_shutdown(void);

void tessel_offload_if_session_update(tessel_proto_idb_type *idb);
void tessel_offload_unicast_peer_session_update(ptp_fsm_peer_entry_type *peer);
void tessel_offload_foreign_master_session_update(ptp_fsm_foreign_master_type *fm);
void tessel_offload_idb_sessions_update(tessel_proto_idb_type *idb);
void tessel_offload_flush(void);
void tessel_offload_sessions_resync(uint32_t encap);
void tessel_offload_if_sessions_cleanup(ifhtype ifhandle);

void tessel_offload_ethernet_resync_request(void);
void tessel_offload_ipv4_resync_request(void);
void tessel_offload_ipv6_resync_request(void);
bool tessel_offload_ethernet_resync_timer_running(void);
bool tessel_offload_ipv4_resync_timer_running(void);
bool tessel_offload_ipv6_resync_timer_running(void);
void tessel_offload_resync_timers_start(void);

void tessel_offload_if_session_state_get(tessel_proto_idb_type *idb, tessel_offload_session_state_type *out);
void tessel_offload_unicast_peer_session_state_get(ptp_fsm_peer_entry_type *peer,
                                                   tessel_offload_session_state_type *out);
void tessel_offload_foreign_master_session_state_get(ptp_fsm_foreign_master_type *fm,
                                                     tessel_offload_session_state_type *out);

// ---- Session data ------------------------------------------------------------------------------

// Session key: kind (1 master, 2 slave), address type, then the address (8 or 24 bytes in all).
inline constexpr uint8_t TESSEL_OFFLOAD_KEY_MASTER = 1;
inline constexpr uint8_t TESSEL_OFFLOAD_KEY_SLAVE = 2;
inline constexpr size_t TESSEL_OFFLOAD_KEY_MAX = 24;
struct tessel_offload_session_key_type {
    uint8_t bytes[TESSEL_OFFLOAD_KEY_MAX];
    uint16_t len;
};

// Master and slave session data sizes: common part, then the encapsulation part.
inline constexpr size_t TESSEL_OFFLOAD_MASTER_COMMON_LEN = 48;
inline constexpr size_t TESSEL_OFFLOAD_SLAVE_COMMON_LEN = 24;
inline constexpr size_t TESSEL_OFFLOAD_ADJ_REWRITE_LEN = 60;
inline constexpr size_t TESSEL_OFFLOAD_DATA_MAX = 80 + 2 + TESSEL_OFFLOAD_ADJ_REWRITE_LEN;

zerrno tessel_offload_session_key_create(const tessel_offload_data_type *session, tessel_offload_session_key_type *key);
// The session of a key received from the plugin: null for unknown kinds, address types or keys.
tessel_offload_data_type *tessel_offload_session_find_by_key(ifhtype ifhandle, const uint8_t *key, size_t key_len);
// Builds the data record of a session into buf (TESSEL_OFFLOAD_DATA_MAX bytes); *len its size.
zerrno tessel_offload_session_data_build(const tessel_offload_data_type *session, uint8_t *buf, uint16_t *len);
void tessel_offload_process_creates(uint32_t encap, bool resync);
// Create results of one create request: count sessions, each with its handle, key and result.
struct tessel_offload_create_results_type;
void tessel_offload_create_results_cb(uint32_t count, uint32_t *statuses, void *context);

// ---- Notifications and statistics ---------------------------------------------------------------

inline constexpr uint32_t TESSEL_OFFLOAD_STATS_TIMEOUT_MS = 5000;
inline constexpr uint32_t TESSEL_OFFLOAD_STATS_PERIOD_MS = 60000;

// One notification of length bytes from the plugin. 0, or PTP_ZERR_INVALID_ARG when it, or part
// of it, was not applied (short, corrupt, unknown sessions or interfaces).
zerrno tessel_offload_notification_process(uint32_t encap, const uint8_t *buffer, size_t length);
// Solicited statistics of every encapsulation; *pending 1 while answers are awaited.
zerrno tessel_offload_get_stats(uint32_t *pending);
// One request: sessions (1) or interfaces and global (0) of an encapsulation, one interface or all.
zerrno tessel_offload_get_stats_internal(uint32_t encap, ifhtype ifhandle, bool sessions, bool unsolicited);
void tessel_offload_clear_stats(ifhtype ifhandle);
// Whether any solicited statistics answer is awaited.
bool tessel_offload_stats_pending(void);

// Timing record handed to the state machine: u32 message (0 Sync, 1 Delay-Resp), then the two
// wire timestamps (48-bit seconds, 32-bit nanoseconds, big-endian).
struct tessel_offload_timing_record_type {
    uint32_t message;
    uint8_t t1[10];
    uint8_t t2[10];
};
static_assert(sizeof(tessel_offload_timing_record_type) == 24);
