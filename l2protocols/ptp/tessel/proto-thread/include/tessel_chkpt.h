// The agent's checkpoint tables and their writers: the application and the five tables of the
// platform checkpoint service, the in-memory records, and the writers and deleters the protocol
// thread calls on every change of the objects they mirror (ports, the node's global clock state,
// unicast grants, peer indices). Records are stored in their encoded form (tessel_gpb_*_encode).
//
// Protocol thread only, except tessel_chkpt_init, which the process entry runs on the IPC thread
// before the protocol thread exists.
#pragma once

#include <cstddef>
#include <cstdint>

#include "chkpt.h"
#include "evm.h"
#include "ptp_types.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_unicast.h"
#include "zerrno.h"

struct tessel_proto_idb_type;
struct ptp_fsm_peer_entry_type;
struct tessel_peer_index_entry_type;

// ---- The application and its tables ----

inline constexpr const char *TESSEL_CHKPT_APP_NAME = "ptp";
// The descriptor's two further words, after the flag word.
inline constexpr uint32_t TESSEL_CHKPT_APP_WORD1 = 3;
inline constexpr uint32_t TESSEL_CHKPT_APP_WORD2 = 2;

// Table ids.
inline constexpr uint32_t TESSEL_CHKPT_TABLE_IF = 0;
inline constexpr uint32_t TESSEL_CHKPT_TABLE_GL = 1;
inline constexpr uint32_t TESSEL_CHKPT_TABLE_UNICAST_GRANT = 2;
inline constexpr uint32_t TESSEL_CHKPT_TABLE_PEER_INDEX = 3;
inline constexpr uint32_t TESSEL_CHKPT_TABLE_VIRTUAL_IF = 4;
inline constexpr uint32_t TESSEL_CHKPT_TABLE_COUNT = 5;

// Every table's record size, and the buffer every record is encoded into.
inline constexpr uint32_t TESSEL_CHKPT_RECORD_SIZE = 4068;

// Interface types of virtual interfaces (the second only when the handle is a bundle).
inline constexpr uint16_t TESSEL_CHKPT_IFTYPE_VIRTUAL = 28;
inline constexpr uint16_t TESSEL_CHKPT_IFTYPE_BUNDLE_CANDIDATE = 25;

// ---- Records ----

inline constexpr size_t TESSEL_CHKPT_IFNAME_SIZE = 64;
inline constexpr size_t TESSEL_CHKPT_ETHER_INFO_MAX = 300;

// The node's global clock state; one per process (tessel_chkpt_gl).
struct tessel_chkpt_gl_type {
    uint32_t local_clock_present;
    uint64_t local_clock_id;
    uint32_t local_clock_domain;
    uint32_t bmc_present;
    ptp_clock_type bmc;
    ptp_clock_type advertised;
    uint32_t synced;
    uint32_t slave_supported;
    uint32_t reserved[2]; // always 0
    uint32_t selected;
    uint32_t profile;
    uint32_t profile_version;
    uint32_t min_clock_class_present;
    uint8_t min_clock_class;
};

// A port's applied configuration, member for member (without the delay asymmetry and the master
// and slave tables).
struct tessel_chkpt_config_type {
    uint32_t encap;
    int32_t announce_interval;
    uint32_t announce_timeout;
    int32_t sync_interval;
    int32_t delay_req_interval;
    uint32_t transport;
    uint32_t one_step;
    uint32_t port_state;
    struct {
        uint32_t enable;
        uint8_t ip_address[PTP_IPV4_ADDR_LEN];
    } source_ip;
    struct {
        uint32_t enable;
        uint8_t ip_address[PTP_IPV6_ADDR_LEN];
    } source_ipv6;
    uint32_t sync_timeout;
    uint32_t delay_resp_timeout;
    uint32_t deny_invalid_grants;
    uint32_t announce_grant_duration;
    uint32_t sync_grant_duration;
    uint32_t delay_resp_grant_duration;
    uint8_t local_priority;
    ptp_address_type multicast_address;
    uint32_t cos;
    uint32_t general_cos;
    uint32_t event_cos;
    uint32_t dscp;
    uint32_t general_dscp;
    uint32_t event_dscp;
    uint32_t ipv4_ttl;
    uint32_t ipv6_hop_limit;
};

// A port. The record is one block: this fixed part, then num_ipv4_addr IPv4 addresses of 4 bytes
// and num_ipv6_addr IPv6 addresses of 16 bytes (tessel_chkpt_if_addr_list).
struct tessel_chkpt_if_type {
    char ifname[TESSEL_CHKPT_IFNAME_SIZE];
    uint32_t ifhandle;
    uint16_t iftype;
    uint16_t port_num;
    uint32_t port_state;
    uint32_t im_state;
    uint32_t ether_info_known;
    uint8_t ether_info[TESSEL_CHKPT_ETHER_INFO_MAX];
    uint32_t ether_info_len;
    uint8_t ip_address[PTP_IPV4_ADDR_LEN];
    uint8_t ipv6_address[PTP_IPV6_ADDR_LEN];
    uint32_t vrf_known;
    uint32_t ipv4_vrf;
    uint32_t foreign_master_present;
    tessel_chkpt_foreign_master_type foreign_master;
    tessel_chkpt_config_type config;
    uint32_t num_ipv4_addr;
    uint32_t num_ipv6_addr;
};

inline size_t tessel_chkpt_if_size(uint32_t num_ipv4_addr, uint32_t num_ipv6_addr)
{
    return sizeof(tessel_chkpt_if_type) + size_t{PTP_IPV4_ADDR_LEN} * num_ipv4_addr +
           size_t{PTP_IPV6_ADDR_LEN} * num_ipv6_addr;
}
inline uint8_t *tessel_chkpt_if_addr_list(tessel_chkpt_if_type *rec)
{
    return reinterpret_cast<uint8_t *>(rec + 1);
}
inline const uint8_t *tessel_chkpt_if_addr_list(const tessel_chkpt_if_type *rec)
{
    return reinterpret_cast<const uint8_t *>(rec + 1);
}

// A peer's index on a port.
struct tessel_chkpt_peer_index_type {
    char ifname[TESSEL_CHKPT_IFNAME_SIZE];
    ptp_address_type peer_addr;
    uint16_t peer_index;
};

// The unicast grant record is tessel_chkpt_unicast_grant_type (tessel_fsm_unicast.h), which the
// state machine restores its peers from.

// The in-memory global record: the setters change it, the recovery overwrites it.
extern tessel_chkpt_gl_type tessel_chkpt_gl;

// ---- Registration and roles ----

// Describes the application to the checkpoint service (IPC thread, at start). A failure raises
// INIT_FAILED and is returned; the caller decides what follows.
zerrno tessel_chkpt_init(event_mgr_type *evm);
// Registers the five tables that are not registered yet, in the order interface, virtual
// interface, global, unicast grant, peer index; stops at the first failure (INIT_FAILED) and
// returns it.
zerrno tessel_chkpt_tables_register(void);
// Whether all five tables are registered.
uint32_t tessel_chkpt_tables_are_registered(void);
// The handle of a registered table (null when not registered).
chkpt_tbl_type *tessel_chkpt_table(uint32_t table_id);
// The instance becomes a standby or the primary; a refusal ends the process.
void tessel_chkpt_go_active(void);
void tessel_chkpt_go_primary_active(void);

// ---- Writers and deleters (failures are logged, traced and counted, never returned) ----

void tessel_chkpt_gl_local_clock_update(uint64_t clock_id, uint32_t domain);
void tessel_chkpt_gl_local_clock_remove(void);
void tessel_chkpt_gl_bmc_update(const ptp_clock_type *bmc, const ptp_clock_type *advertised, uint32_t selected,
                                uint32_t synced, uint32_t slave_supported);
void tessel_chkpt_gl_bmc_remove(void);
void tessel_chkpt_gl_profile_update(uint32_t profile, uint32_t version);
void tessel_chkpt_gl_min_clock_class_update(uint8_t min_clock_class);
void tessel_chkpt_gl_save(void);
// The object id of the global record (0: none).
chkpt_objid tessel_chkpt_gl_objid(void);

void tessel_chkpt_if_update(tessel_proto_idb_type *idb);
void tessel_chkpt_if_delete(tessel_proto_idb_type *idb);
// The table of a port's record: TESSEL_CHKPT_TABLE_VIRTUAL_IF or TESSEL_CHKPT_TABLE_IF.
uint32_t tessel_chkpt_if_table(const tessel_proto_idb_type *idb);

void tessel_chkpt_unicast_grant_update(ptp_fsm_peer_entry_type *entry);
void tessel_chkpt_unicast_grant_delete(ptp_fsm_peer_entry_type *entry);

void tessel_chkpt_peer_index_update(tessel_proto_idb_type *idb, tessel_peer_index_entry_type *entry);
void tessel_chkpt_peer_index_delete(tessel_proto_idb_type *idb, tessel_peer_index_entry_type *entry);

// ---- Shared with the recovery (tessel_chkpt_recover) ----

// Deletes a stored record by the deleters' common rule (only when this process is the primary
// and active, else the record-not-deleted trace point); *objid becomes 0 in any case. False when
// the record was not deleted (*rc holds the service's error, 0 when the rule kept it).
bool tessel_chkpt_record_delete(uint32_t table_id, chkpt_objid *objid, zerrno *rc);
// The process's global record id, as the recovery finds it.
void tessel_chkpt_gl_objid_set(chkpt_objid objid);
// Clears the tables-registered flag and unregisters the tables in the order unicast grant,
// global, interface, virtual interface, peer index.
void tessel_chkpt_tables_unregister(void);

// Test control: forget the tables, the global record and its id, and the in-use flag.
void tessel_chkpt_test_reset(void);

// ---- Record encoding (the encoding glue's functions) ----
// Each packs a record into buffer (at least TESSEL_CHKPT_RECORD_SIZE bytes) and stores the
// packed length in *len; encoding cannot fail.
// *len 0: the interface record does not fit a table record (too many addresses); nothing packed.
void tessel_gpb_if_encode(tessel_chkpt_if_type *rec, uint8_t *buffer, size_t *len);
void tessel_gpb_gl_encode(tessel_chkpt_gl_type *rec, uint8_t *buffer, size_t *len);
void tessel_gpb_unicast_grant_encode(tessel_chkpt_unicast_grant_type *rec, uint8_t *buffer, size_t *len);
void tessel_gpb_peer_index_encode(tessel_chkpt_peer_index_type *rec, uint8_t *buffer, size_t *len);

// ---- Recovery, standby and switchover (tessel_chkpt_recover) ----

// Set from the start to the end of a full read: a port whose packet I/O attach completes then has
// its state machine restored from its record.
extern uint32_t tessel_chkpt_recovering;
inline constexpr uint32_t TESSEL_CHKPT_IDT_TIMER_MS = 120000;
inline constexpr int32_t TESSEL_CHKPT_IDT_TABLE_END = -1;

// The checkpoint service's callbacks (IPC thread): they hand the notice to the protocol thread.
int tessel_chkpt_idt_callback(uint32_t table);
int tessel_chkpt_ndt_callback(const chkpt_ndt_type *notice);
// The protocol thread's handling of the forwarded notices (notice: a 64-byte chkpt_ndt_type).
void tessel_chkpt_idt_received(uint32_t table);
void tessel_chkpt_ndt_received(const void *notice);

zerrno tessel_chkpt_idt_timer_start(event_mgr_type *evm);
uint32_t tessel_chkpt_is_idt_timer_expired(void);
void tessel_chkpt_read(void);
void tessel_chkpt_gl_read(void);
void tessel_chkpt_if_read(bool is_virtual);
void tessel_chkpt_unicast_grant_read(void);
void tessel_chkpt_if_rebuild(const uint8_t *bytes, size_t length, chkpt_objid objid, bool *created);
void tessel_chkpt_unicast_grant_record_restore(const uint8_t *bytes, size_t length, chkpt_objid objid);
zerrno tessel_chkpt_if_fsm_restore(tessel_proto_idb_type *idb);
void tessel_chkpt_sweep_stale(void);
void tessel_chkpt_if_sweep(bool is_virtual);
void tessel_chkpt_shutdown(void);
// Test control: forget the recovery's flags and its timer (destroyed when it was made).
void tessel_chkpt_recover_test_reset(void);
