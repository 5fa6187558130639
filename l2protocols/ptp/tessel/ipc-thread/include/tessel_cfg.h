// The agent's configuration from the database, on the IPC thread.
//
// Intake (tessel_cfg.cpp): the bindings and registrations, the verify, apply and notify
// callbacks that hand each item to its row of the interface or global schema, and what happens
// at the end of a batch (interface update, sweep of empty records, the exit check).
//
// Interface record and merge (tessel_cfg_if.cpp): the IPC interface record's configuration,
// its creation with defaults, the merge of interface, profile and default values into
// applied_config, and the "enable" and "profile" items.
//
// Interface items (tessel_cfg_if_items.cpp): the scalar items, one descriptor per leaf.
//
// The profile database, the global items, the master and slave tables and the interoperation
// items are kept by their own modules (tessel_cfg_gl*, tessel_cfg_table*, tessel_cfg_interop*);
// what this side calls of them is declared at the end.
//
// IPC thread only.
#pragma once

#include <cstdint>

#include "avl2.h"
#include "bgen_args.h"
#include "evm.h"
#include "nodra.h"
#include "nodra_backend.h"
#include "ptp_cfg_utils.h"
#include "ptp_types.h"
#include "tessel_db.h"
#include "tessel_if_config.h"
#include "tessel_interop_config.h"
#include "zerrno.h"

// ---- Configured bits of tessel_if_config_flags_type ---------------------------------------------
inline constexpr uint32_t TESSEL_CFG_BIT_ENCAP = 0;
inline constexpr uint32_t TESSEL_CFG_BIT_CLOCK_OPERATION = 1;
inline constexpr uint32_t TESSEL_CFG_BIT_ANNOUNCE_INTERVAL = 2;
inline constexpr uint32_t TESSEL_CFG_BIT_SYNC_INTERVAL = 3;
inline constexpr uint32_t TESSEL_CFG_BIT_ANNOUNCE_TIMEOUT = 4;
inline constexpr uint32_t TESSEL_CFG_BIT_DELAY_REQ_INTERVAL = 5;
inline constexpr uint32_t TESSEL_CFG_BIT_TRANSPORT = 6;
inline constexpr uint32_t TESSEL_CFG_BIT_PORT_STATE = 7;
inline constexpr uint32_t TESSEL_CFG_BIT_SOURCE_IP = 8;
inline constexpr uint32_t TESSEL_CFG_BIT_SOURCE_IPV6 = 9;
inline constexpr uint32_t TESSEL_CFG_BIT_COS = 10;
inline constexpr uint32_t TESSEL_CFG_BIT_EVENT_COS = 11;
inline constexpr uint32_t TESSEL_CFG_BIT_GENERAL_COS = 12;
inline constexpr uint32_t TESSEL_CFG_BIT_DSCP = 13;
inline constexpr uint32_t TESSEL_CFG_BIT_EVENT_DSCP = 14;
inline constexpr uint32_t TESSEL_CFG_BIT_GENERAL_DSCP = 15;
inline constexpr uint32_t TESSEL_CFG_BIT_IPV4_TTL = 16;
inline constexpr uint32_t TESSEL_CFG_BIT_IPV6_HOP_LIMIT = 17;
inline constexpr uint32_t TESSEL_CFG_BIT_DELAY_ASYMMETRY = 18;
inline constexpr uint32_t TESSEL_CFG_BIT_SYNC_TIMEOUT = 19;
inline constexpr uint32_t TESSEL_CFG_BIT_DELAY_RESP_TIMEOUT = 20;
inline constexpr uint32_t TESSEL_CFG_BIT_DENY_INVALID_GRANTS = 21;
inline constexpr uint32_t TESSEL_CFG_BIT_ANNOUNCE_GRANT_DURATION = 22;
inline constexpr uint32_t TESSEL_CFG_BIT_SYNC_GRANT_DURATION = 23;
inline constexpr uint32_t TESSEL_CFG_BIT_DELAY_RESP_GRANT_DURATION = 24;
inline constexpr uint32_t TESSEL_CFG_BIT_LOCAL_PRIORITY = 25;
inline constexpr uint32_t TESSEL_CFG_BIT_MULTICAST_ADDRESS = 26;
inline constexpr uint32_t TESSEL_CFG_BIT_INTEROP = 27; // is_interop_cfg_set
// Every item bit but the multicast address, which always goes with the transport.
inline constexpr uint32_t TESSEL_CFG_IF_ITEM_MASK = 0x0BFFFFFF;

// ---- Bits of tessel_ipc_idb_type::flags set here (the interface manager's are in tessel_im.h) ----
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_ENCAP = 1ull << 2;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_CLOCK_OPERATION = 1ull << 3;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_ANNOUNCE_INTERVAL = 1ull << 4;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_SYNC_INTERVAL = 1ull << 5;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_ANNOUNCE_TIMEOUT = 1ull << 6;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_DELAY_RESP_MIN_INTERVAL = 1ull << 7;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_MASTER_TABLE = 1ull << 8;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_TRANSPORT = 1ull << 9;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_PORT_STATE = 1ull << 10;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_COS = 1ull << 11;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_DSCP = 1ull << 12;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_SYNC_RECEIVE_TIMEOUT = 1ull << 20;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_DELAY_RESP_RECEIVE_TIMEOUT = 1ull << 21;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_ANNOUNCE_GRANT_DURATION = 1ull << 22;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_SYNC_GRANT_DURATION = 1ull << 23;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_DELAY_RESP_GRANT_DURATION = 1ull << 24;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_GRANT_REDUCE_DENY = 1ull << 25;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_LOCAL_PRIORITY = 1ull << 26;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_SLAVE_TABLE = 1ull << 33;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_INTEROP = 1ull << 34;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_IPV4_TTL = 1ull << 35;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_IPV6_HOP_LIMIT = 1ull << 36;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_DELAY_ASYMMETRY = 1ull << 37;
// UpdateCreated, UpdateDeleted and Enabled are named in tessel_port_mgr.h, which reads them.

// Values of the records at creation, and what a delete of the item restores.
inline constexpr uint32_t TESSEL_CFG_IM_STATE_INITIAL = 17;
inline constexpr uint32_t TESSEL_CFG_REGISTERED_ENCAP_INITIAL = 2;
inline constexpr uint32_t TESSEL_CFG_MAX_ENABLED_INTERFACES = 2000;

// ---- Intake --------------------------------------------------------------------------------------

zerrno tessel_cfg_init(event_mgr_type *evm);
void tessel_cfg_shutdown(void);

// The database's callbacks, once per item.
zerrno tessel_cfg_gl_notify(const nodra_notify_event_info_td *event, void *context, const void *parse_data);
zerrno tessel_cfg_verify(const nodra_verify_event_info_td *event, char **error_text, nodra_verify_result_td *result,
                         void *context);
zerrno tessel_cfg_apply(const nodra_verify_event_info_td *event, void *context);

// Requests the process exit when no interface record is left and no batch of the commit
// follows; true when it did.
bool tessel_cfg_check_exit(uint32_t sequence);

// Interface names are at most this long (the interface databases' limit).
inline constexpr size_t TESSEL_CFG_IFNAME_SIZE = TESSEL_DB_IFNAME_SIZE;
// The interface name of an item's path (key 0) must start with a supported interface type.
// ifname (TESSEL_CFG_IFNAME_SIZE bytes) gets the name, or is cleared on failure.
zerrno tessel_cfg_if_type_is_supported(const bgen_args_td *args, char *ifname);
// The supported interface-type prefixes (a platform table; null-terminated).
extern const char *const tessel_cfg_if_type_prefixes[];

// Copies every value the source has set into the target, mapping entries one by one.
void tessel_cfg_interop_merge(tessel_interop_config_type *target, const tessel_interop_config_type *source);

// The platform verification library: loaded at init from $PTP_PLATVERIFY_LIB, else
// "libplatverify.dll"; each entry point may be missing (null).
using ptp_pd_vrfn_init_fn = zerrno (*)(event_mgr_type *evm);
using ptp_pd_vrfn_shutdown_fn = void (*)(void);
// Hands back a malloc'ed text on refusal (the caller frees it).
using ptp_pd_verify_encap_fn = zerrno (*)(const char *ifname, uint32_t encap, char **error_text);
extern ptp_pd_verify_encap_fn ptp_pd_verify_encap;

// Batch-wide state.
extern bool tessel_cfg_verify_batch_has_valid_item;
extern uint32_t tessel_cfg_if_enable_pending;
extern uint32_t tessel_cfg_apply_batch_state;
extern bool tessel_cfg_sweep_needed;
extern uint8_t tessel_cfg_default_clock_operation;

// Bits of tessel_cfg_apply_batch_state.
inline constexpr uint32_t TESSEL_CFG_BATCH_ITEM_TRACED = 1u << 0;

// The interface schema: 68 nodes, 49 rows.
extern const backend_schema_td tessel_cfg_if_schema;

// ---- Interface record and merge -------------------------------------------------------------------

extern uint32_t tessel_cfg_if_enable_count;

zerrno tessel_cfg_get_create_idb(const char *ifname, tessel_ipc_idb_type **out_idb);
// The defaults of one set of values (the intervals follow the clock profile the IPC side holds).
void tessel_cfg_if_config_defaults(tessel_if_config_type *config);

void tessel_cfg_if_merge_config(tessel_ipc_idb_type *idb, uint32_t changed);
uint32_t tessel_cfg_if_merge_transport(tessel_ipc_idb_type *idb, uint32_t *old_applied);
uint32_t tessel_cfg_if_merge_clock_operation(tessel_ipc_idb_type *idb, uint32_t *old_applied);
uint32_t tessel_cfg_if_merge_annce_ivl(tessel_ipc_idb_type *idb, int32_t *old_applied);
uint32_t tessel_cfg_if_merge_sync_ivl(tessel_ipc_idb_type *idb, int32_t *old_applied);
uint32_t tessel_cfg_if_merge_annce_tout(tessel_ipc_idb_type *idb, uint32_t *old_applied);
uint32_t tessel_cfg_if_merge_dr_min_ivl(tessel_ipc_idb_type *idb, int32_t *old_applied);
// The transport with the multicast address; old_applied gets the old transport.
uint32_t tessel_cfg_if_merge_multicast(tessel_ipc_idb_type *idb, uint32_t *old_applied);
uint32_t tessel_cfg_if_merge_port_state(tessel_ipc_idb_type *idb, uint32_t *old_applied);
void tessel_cfg_if_merge_source_ip(tessel_ipc_idb_type *idb, uint32_t *old_applied);
void tessel_cfg_if_merge_source_ipv6(tessel_ipc_idb_type *idb, uint8_t *old_applied);
// update_type: 0 plain, 1 general, 2 event.
void tessel_cfg_cos_change_check(tessel_ipc_idb_type *idb, uint32_t update_type, uint32_t *old_applied,
                                 uint32_t *changed);
void tessel_cfg_dscp_change_check(tessel_ipc_idb_type *idb, uint32_t update_type, uint32_t *old_applied,
                                  uint32_t *changed);
// One of the items without a platform rule (ipv4_ttl, grant durations, ...), by configured bit;
// 1 when the applied value changed.
uint32_t tessel_cfg_if_merge_plain_item(tessel_ipc_idb_type *idb, uint32_t bit, uint64_t *old_applied);

// No PTP, no own item, no profile and empty own tables: such a record gets UpdateDeleted and
// the end-of-batch sweep is requested. True when it was empty.
bool tessel_cfg_if_empty_check(tessel_ipc_idb_type *idb);

void tessel_cfg_if_detach_profile(tessel_ipc_idb_type *idb);

zerrno tessel_cfg_if_verify_enable(const nodra_verify_event_info_td *event, char **error_text,
                                   nodra_verify_result_td *result, void *context, const bgen_args_td *args);
zerrno tessel_cfg_if_apply_enable(const nodra_verify_event_info_td *event, void *context, const bgen_args_td *args);
zerrno tessel_cfg_if_check_profile(const nodra_verify_event_info_td *event, uint32_t *verify_result, char **error_text,
                                   char *name, const bgen_args_td *args, char *ifname, bool *is_delete);
zerrno tessel_cfg_if_verify_profile(const nodra_verify_event_info_td *event, char **error_text,
                                    nodra_verify_result_td *result, void *context, const bgen_args_td *args);
zerrno tessel_cfg_if_apply_profile(const nodra_verify_event_info_td *event, void *context, const bgen_args_td *args);

// The record's configuration and tables are released and it leaves its profile (shutdown and
// the sweep); the record itself stays.
void tessel_cfg_if_release_config(tessel_ipc_idb_type *idb);

// ---- Interface items (rows 2 to 27) ----------------------------------------------------------------

// Each row's verify and apply handler.
#define TESSEL_CFG_IF_ITEM_HANDLERS_(verify, apply)                                                                    \
    zerrno verify(const nodra_verify_event_info_td *event, char **error_text, nodra_verify_result_td *result,          \
                  void *context, const bgen_args_td *args);                                                            \
    zerrno apply(const nodra_verify_event_info_td *event, void *context, const bgen_args_td *args);
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_transport, tessel_cfg_if_apply_transport)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_clock_operation, tessel_cfg_if_apply_clock_operation)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_annce_ivl, tessel_cfg_if_apply_annce_ivl)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_sync_ivl, tessel_cfg_if_apply_sync_ivl)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_annce_tout, tessel_cfg_if_apply_annce_tout)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_dr_min_ivl, tessel_cfg_if_apply_dr_min_ivl)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_multicast, tessel_cfg_if_apply_multicast)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_port_state, tessel_cfg_if_apply_port_state)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_source_ip, tessel_cfg_if_apply_source_ip)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_source_ipv6, tessel_cfg_if_apply_source_ipv6)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_cos, tessel_cfg_if_apply_cos)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_dscp, tessel_cfg_if_apply_dscp)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_ipv4_ttl, tessel_cfg_if_apply_ipv4_ttl)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_ipv6_hop_limit, tessel_cfg_if_apply_ipv6_hop_limit)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_unicast_grant_duration, tessel_cfg_if_apply_unicast_grant_duration)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_message_timeout, tessel_cfg_if_apply_message_timeout)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_unicast_grant_invalid_request,
                             tessel_cfg_if_apply_unicast_grant_invalid_request)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_local_priority, tessel_cfg_if_apply_local_priority)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_delay_asymmetry, tessel_cfg_if_apply_delay_asymmetry)

// The checks that an item's verify and apply share: the interface-type test, the PTP capability,
// the value check, the platform's rule. values gets the new value in the item's field;
// verify_result and error_text (both or neither) the verify's outcome and text.
#define TESSEL_CFG_IF_CHECK_(check)                                                                                    \
    zerrno check(const nodra_verify_event_info_td *event, uint32_t *verify_result, char **error_text,                  \
                 tessel_if_config_type *values, const bgen_args_td *args, char *ifname, bool *is_delete);
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_transport)
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_clock_operation)
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_annce_ivl)
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_sync_ivl)
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_dr_min_ivl)
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_multicast)
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_port_state)
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_source_ip)
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_source_ipv6)
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_unicast_grant_duration)
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_message_timeout)
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_local_priority)
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_delay_asymmetry)
#undef TESSEL_CFG_IF_CHECK_

// ---- Of the profile, table and interoperation modules ----------------------------------------------

// A configuration profile. Interface records point to it; the profile database owns it.
struct tessel_prf_db_idb_item_type {
    tessel_prf_db_idb_item_type *next;
    tessel_prf_db_idb_item_type *prev;
    tessel_ipc_idb_type *idb;
};
struct tessel_prf_db_type {
    avl2_node_type node; // the profile database's tree, by name
    char name[PTP_PROFILE_NAME_MAX + 1];
    uint32_t has_config;
    tessel_if_config_type prf_config;
    tessel_if_config_flags_type prf_config_flags;
    tessel_prf_db_idb_item_type *idb_list_head; // new items at the head
};

// The profile database (created by the intake's init, destroyed by its shutdown).
zerrno tessel_cfg_prf_db_init(void);
void tessel_cfg_prf_db_destroy(void);
zerrno tessel_cfg_get_prf_db(const char *name, tessel_prf_db_type **out_prf);
void tessel_cfg_prf_db_delete(tessel_prf_db_type **prf);
// Context of the entry-remove walkers: the interface whose applied table loses the profile's
// entries, and whether any went.
struct tessel_cfg_prf_entry_remove_ctx_type {
    tessel_ipc_idb_type *idb;
    bool changed;
};
bool tessel_cfg_prf_master_entry_remove_walker(tessel_master_db_type *entry, void *context);
bool tessel_cfg_prf_slave_entry_remove_walker(tessel_slave_db_type *entry, void *context);

// The global schema (75 nodes, 52 rows) with the global and profile notify handlers.
extern const backend_schema_td tessel_cfg_gl_schema;

// Master and slave tables.
zerrno tessel_cfg_if_check_slave_capability(const char *ifname);
uint32_t tessel_cfg_if_merge_master_entry(tessel_ipc_idb_type *idb, const ptp_address_type *addr);
uint32_t tessel_cfg_if_merge_slave_entry(tessel_ipc_idb_type *idb, const ptp_address_type *addr);
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_master_enable, tessel_cfg_if_apply_master_enable)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_master_priority, tessel_cfg_if_apply_master_priority)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_master_multicast, tessel_cfg_if_apply_master_multicast)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_master_clock_class, tessel_cfg_if_apply_master_clock_class)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_master_delay_asymmetry, tessel_cfg_if_apply_master_delay_asymmetry)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_master_nonnegotiated, tessel_cfg_if_apply_master_nonnegotiated)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_slave_nonnegotiated, tessel_cfg_if_apply_slave_nonnegotiated)

// Interoperation configuration. Records are allocated with tessel_calloc and freed with
// tessel_free.
void tessel_cfg_if_reconcile_interop_config(tessel_ipc_idb_type *idb, bool *changed);
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_interop_profile, tessel_cfg_if_apply_interop_profile)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_interop_domain, tessel_cfg_if_apply_interop_domain)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_interop_priority, tessel_cfg_if_apply_interop_priority)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_interop_clock_accuracy, tessel_cfg_if_apply_interop_clock_accuracy)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_interop_oslv, tessel_cfg_if_apply_interop_oslv)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_interop_clock_class_default,
                             tessel_cfg_if_apply_interop_clock_class_default)
TESSEL_CFG_IF_ITEM_HANDLERS_(tessel_cfg_if_verify_interop_clock_class_mapping,
                             tessel_cfg_if_apply_interop_clock_class_mapping)
#undef TESSEL_CFG_IF_ITEM_HANDLERS_
