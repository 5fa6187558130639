// Global PTP items and configuration profiles, as the agent's IPC thread takes them in by
// notification (the global configuration process verified them before the commit).
//
// Global items go to the IPC-side cache of the thread control, which forwards them to the
// protocol thread. A profile is a named set of the per-interface items; every interface that
// names the profile takes from it each item it does not set itself, so a change of a profile
// item re-merges every interface in the profile's list.
//
// Notify handlers take (event, context, key arguments); the context is the caller's result word
// (a zerrno), which a handler sets when the item fails.
#pragma once

#include <cstdint>

#include "avl2.h"
#include "bgen_args.h"
#include "nodra.h"
#include "nodra_backend.h"
#include "ptp_cfg_utils.h"
#include "tessel_cfg.h"
#include "tessel_if_config.h"
#include "zerrno.h"

// The configured bits as masks of tessel_if_config_flags_type (from the bit numbers of tessel_cfg.h).
inline constexpr uint32_t TESSEL_CFG_MASK_ENCAP = 1u << TESSEL_CFG_BIT_ENCAP;
inline constexpr uint32_t TESSEL_CFG_MASK_CLOCK_OPERATION = 1u << TESSEL_CFG_BIT_CLOCK_OPERATION;
inline constexpr uint32_t TESSEL_CFG_MASK_ANNOUNCE_INTERVAL = 1u << TESSEL_CFG_BIT_ANNOUNCE_INTERVAL;
inline constexpr uint32_t TESSEL_CFG_MASK_SYNC_INTERVAL = 1u << TESSEL_CFG_BIT_SYNC_INTERVAL;
inline constexpr uint32_t TESSEL_CFG_MASK_ANNOUNCE_TIMEOUT = 1u << TESSEL_CFG_BIT_ANNOUNCE_TIMEOUT;
inline constexpr uint32_t TESSEL_CFG_MASK_DELAY_REQ_INTERVAL = 1u << TESSEL_CFG_BIT_DELAY_REQ_INTERVAL;
inline constexpr uint32_t TESSEL_CFG_MASK_TRANSPORT = 1u << TESSEL_CFG_BIT_TRANSPORT;
inline constexpr uint32_t TESSEL_CFG_MASK_PORT_STATE = 1u << TESSEL_CFG_BIT_PORT_STATE;
inline constexpr uint32_t TESSEL_CFG_MASK_SOURCE_IP = 1u << TESSEL_CFG_BIT_SOURCE_IP;
inline constexpr uint32_t TESSEL_CFG_MASK_SOURCE_IPV6 = 1u << TESSEL_CFG_BIT_SOURCE_IPV6;
inline constexpr uint32_t TESSEL_CFG_MASK_COS = 1u << TESSEL_CFG_BIT_COS;
inline constexpr uint32_t TESSEL_CFG_MASK_EVENT_COS = 1u << TESSEL_CFG_BIT_EVENT_COS;
inline constexpr uint32_t TESSEL_CFG_MASK_GENERAL_COS = 1u << TESSEL_CFG_BIT_GENERAL_COS;
inline constexpr uint32_t TESSEL_CFG_MASK_DSCP = 1u << TESSEL_CFG_BIT_DSCP;
inline constexpr uint32_t TESSEL_CFG_MASK_EVENT_DSCP = 1u << TESSEL_CFG_BIT_EVENT_DSCP;
inline constexpr uint32_t TESSEL_CFG_MASK_GENERAL_DSCP = 1u << TESSEL_CFG_BIT_GENERAL_DSCP;
inline constexpr uint32_t TESSEL_CFG_MASK_IPV4_TTL = 1u << TESSEL_CFG_BIT_IPV4_TTL;
inline constexpr uint32_t TESSEL_CFG_MASK_IPV6_HOP_LIMIT = 1u << TESSEL_CFG_BIT_IPV6_HOP_LIMIT;
inline constexpr uint32_t TESSEL_CFG_MASK_DELAY_ASYMMETRY = 1u << TESSEL_CFG_BIT_DELAY_ASYMMETRY;
inline constexpr uint32_t TESSEL_CFG_MASK_SYNC_TIMEOUT = 1u << TESSEL_CFG_BIT_SYNC_TIMEOUT;
inline constexpr uint32_t TESSEL_CFG_MASK_DELAY_RESP_TIMEOUT = 1u << TESSEL_CFG_BIT_DELAY_RESP_TIMEOUT;
inline constexpr uint32_t TESSEL_CFG_MASK_DENY_INVALID_GRANTS = 1u << TESSEL_CFG_BIT_DENY_INVALID_GRANTS;
inline constexpr uint32_t TESSEL_CFG_MASK_ANNOUNCE_GRANT_DURATION = 1u << TESSEL_CFG_BIT_ANNOUNCE_GRANT_DURATION;
inline constexpr uint32_t TESSEL_CFG_MASK_SYNC_GRANT_DURATION = 1u << TESSEL_CFG_BIT_SYNC_GRANT_DURATION;
inline constexpr uint32_t TESSEL_CFG_MASK_DELAY_RESP_GRANT_DURATION = 1u << TESSEL_CFG_BIT_DELAY_RESP_GRANT_DURATION;
inline constexpr uint32_t TESSEL_CFG_MASK_LOCAL_PRIORITY = 1u << TESSEL_CFG_BIT_LOCAL_PRIORITY;
inline constexpr uint32_t TESSEL_CFG_MASK_MULTICAST_ADDRESS = 1u << TESSEL_CFG_BIT_MULTICAST_ADDRESS;
inline constexpr uint32_t TESSEL_CFG_MASK_INTEROP = 1u << TESSEL_CFG_BIT_INTEROP;

// The profile record (tessel_prf_db_type), its interface list and the entry-remove context are
// declared with the rest of the configuration in tessel_cfg.h.

// The profile tree is created by the configuration init and destroyed at its shutdown (every
// profile freed by tessel_cfg_prf_db_tree_delete_walker).
// Finds the profile by name (at most PTP_PROFILE_NAME_MAX characters), or creates it.
zerrno tessel_cfg_get_prf_db(const char *name, tessel_prf_db_type **out_prf);
// The profile by name, or null.
tessel_prf_db_type *tessel_cfg_prf_db_find(const char *name);
uint32_t tessel_cfg_prf_db_count(void);
// Deletes a profile that has no items and no interfaces and nulls the caller's pointer.
void tessel_cfg_prf_db_delete(tessel_prf_db_type **prf);
void tessel_cfg_prf_db_tree_delete_walker(avl2_node_type *node);

bool tessel_cfg_prf_master_entry_remove_walker(tessel_master_db_type *entry, void *context);
bool tessel_cfg_prf_slave_entry_remove_walker(tessel_slave_db_type *entry, void *context);

// IPC database walker: the three packet rates the clock profile decides (context: the clock
// profile, a uint32_t). Always goes on.
bool tessel_cfg_set_profile_packet_rates(tessel_ipc_idb_type *idb, void *context);
// The clock-profile default of each rate (log2 seconds).
int32_t tessel_cfg_default_announce_interval(uint32_t clock_profile);
int32_t tessel_cfg_default_sync_interval(uint32_t clock_profile);
int32_t tessel_cfg_default_delay_req_interval(uint32_t clock_profile);

// ---- Global values ------------------------------------------------------------------------------
bool tessel_cfg_get_verify_checksum(void);
uint8_t tessel_cfg_get_fsync_ql_option(void);
// Back to the start-up values (verify-checksum 0, QL option 1).
void tessel_cfg_gl_reset(void);

// The global schema: the rows of the global and profile items with their notify handlers.
extern const backend_schema_td tessel_cfg_gl_schema;

// ---- Global notify handlers ----------------------------------------------------------------------
void tessel_cfg_gl_notify_enable(const nodra_notify_event_info_td *event, void *context, const bgen_args_td *args);
void tessel_cfg_gl_notify_clock_profile(const nodra_notify_event_info_td *event, void *context,
                                        const bgen_args_td *args);
void tessel_cfg_gl_notify_min_clock_class(const nodra_notify_event_info_td *event, void *context,
                                          const bgen_args_td *args);
void tessel_cfg_gl_notify_verify_checksum(const nodra_notify_event_info_td *event, void *context,
                                          const bgen_args_td *args);
void tessel_cfg_gl_notify_fsync_ql_option(const nodra_notify_event_info_td *event, void *context,
                                          const bgen_args_td *args);

// ---- Profile notify handlers (items under "ptp/pi/profile/<name>/") ---------------------------------
void tessel_cfg_gl_prf_notify_transport(const nodra_notify_event_info_td *event, void *context,
                                        const bgen_args_td *args);
void tessel_cfg_gl_prf_notify_clock_operation(const nodra_notify_event_info_td *event, void *context,
                                              const bgen_args_td *args);
void tessel_cfg_gl_prf_notify_annce_ivl(const nodra_notify_event_info_td *event, void *context,
                                        const bgen_args_td *args);
void tessel_cfg_gl_prf_notify_sync_ivl(const nodra_notify_event_info_td *event, void *context,
                                       const bgen_args_td *args);
void tessel_cfg_gl_prf_notify_annce_tout(const nodra_notify_event_info_td *event, void *context,
                                         const bgen_args_td *args);
void tessel_cfg_gl_prf_notify_dr_min_ivl(const nodra_notify_event_info_td *event, void *context,
                                         const bgen_args_td *args);
void tessel_cfg_gl_prf_notify_multicast(const nodra_notify_event_info_td *event, void *context,
                                        const bgen_args_td *args);
void tessel_cfg_gl_prf_notify_port_state(const nodra_notify_event_info_td *event, void *context,
                                         const bgen_args_td *args);
void tessel_cfg_gl_prf_notify_source_ip(const nodra_notify_event_info_td *event, void *context,
                                        const bgen_args_td *args);
void tessel_cfg_gl_prf_notify_source_ipv6(const nodra_notify_event_info_td *event, void *context,
                                          const bgen_args_td *args);
// Argument 0 both classes, 1 general, 2 event.
void tessel_cfg_gl_prf_notify_cos(const nodra_notify_event_info_td *event, void *context, const bgen_args_td *args);
// Argument 0 both classes, 1 general, 2 event.
void tessel_cfg_gl_prf_notify_dscp(const nodra_notify_event_info_td *event, void *context, const bgen_args_td *args);
void tessel_cfg_gl_prf_notify_ipv4_ttl(const nodra_notify_event_info_td *event, void *context,
                                       const bgen_args_td *args);
void tessel_cfg_gl_prf_notify_ipv6_hop_limit(const nodra_notify_event_info_td *event, void *context,
                                             const bgen_args_td *args);
// Argument: message type 11, 0 or 9.
void tessel_cfg_gl_prf_notify_unicast_grant_duration(const nodra_notify_event_info_td *event, void *context,
                                                     const bgen_args_td *args);
// Argument: message type 0 or 9.
void tessel_cfg_gl_prf_notify_message_timeout(const nodra_notify_event_info_td *event, void *context,
                                              const bgen_args_td *args);
void tessel_cfg_gl_prf_notify_unicast_grant_invalid_request(const nodra_notify_event_info_td *event, void *context,
                                                            const bgen_args_td *args);
void tessel_cfg_gl_prf_notify_local_priority(const nodra_notify_event_info_td *event, void *context,
                                             const bgen_args_td *args);
void tessel_cfg_gl_prf_notify_delay_asymmetry(const nodra_notify_event_info_td *event, void *context,
                                              const bgen_args_td *args);
void tessel_cfg_gl_prf_notify_master_enable(const nodra_notify_event_info_td *event, void *context,
                                            const bgen_args_td *args);
void tessel_cfg_gl_prf_notify_master_priority(const nodra_notify_event_info_td *event, void *context,
                                              const bgen_args_td *args);
void tessel_cfg_gl_prf_notify_master_multicast(const nodra_notify_event_info_td *event, void *context,
                                               const bgen_args_td *args);
void tessel_cfg_gl_prf_notify_master_clock_class(const nodra_notify_event_info_td *event, void *context,
                                                 const bgen_args_td *args);
void tessel_cfg_gl_prf_notify_master_delay_asymmetry(const nodra_notify_event_info_td *event, void *context,
                                                     const bgen_args_td *args);
void tessel_cfg_gl_prf_notify_master_nonnegotiated(const nodra_notify_event_info_td *event, void *context,
                                                   const bgen_args_td *args);
void tessel_cfg_gl_prf_notify_slave_nonnegotiated(const nodra_notify_event_info_td *event, void *context,
                                                  const bgen_args_td *args);
void tessel_cfg_gl_prf_notify_interop_profile(const nodra_notify_event_info_td *event, void *context,
                                              const bgen_args_td *args);
void tessel_cfg_gl_prf_notify_interop_domain(const nodra_notify_event_info_td *event, void *context,
                                             const bgen_args_td *args);
// Argument 0, 1 ingress / 6, 7 egress.
void tessel_cfg_gl_prf_notify_interop_priority(const nodra_notify_event_info_td *event, void *context,
                                               const bgen_args_td *args);
// Argument 2 / 8.
void tessel_cfg_gl_prf_notify_interop_clock_accuracy(const nodra_notify_event_info_td *event, void *context,
                                                     const bgen_args_td *args);
// Argument 3 / 9.
void tessel_cfg_gl_prf_notify_interop_oslv(const nodra_notify_event_info_td *event, void *context,
                                           const bgen_args_td *args);
// Argument 4 / 10.
void tessel_cfg_gl_prf_notify_interop_clock_class_default(const nodra_notify_event_info_td *event, void *context,
                                                          const bgen_args_td *args);
// Argument 5 / 11.
void tessel_cfg_gl_prf_notify_interop_clock_class_mapping(const nodra_notify_event_info_td *event, void *context,
                                                          const bgen_args_td *args);
