// Configuration value checks: every PTP configuration item is turned from a database event into
// a validated value here, the same way in every process.
//
// Values arrive as bgen_value_td: a number (4 bytes), a text, or a packed tuple. Interface-item
// checks (ptp_cfg_check_*) return a code. Profile-item checks (ptp_cfg_profile_check_*) also
// read the profile name (key 0) and, when given a verify result, set it to 1 or 0 and hand back
// a newly allocated error text that the caller releases with free().
#pragma once

#include <cstddef>
#include <cstdint>

#include "bgen_args.h"
#include "ptp_enums.h" // the database event bits PTP_CFG_EVENT_*
#include "ptp_types.h"
#include "ptp_zerr_codes.h"
#include "zerrno.h"

// The checks return the named codes of the PTP error tables (PTP_ZERR_CFG_*, PTP_ZERR2_CFG_*).

// Longest profile name; name buffers hold one byte more.
inline constexpr size_t PTP_PROFILE_NAME_MAX = 256;

// Key positions of table items: profile or interface name, then the address key.
inline constexpr uint32_t PTP_CFG_KEY_NAME = 0;
inline constexpr uint32_t PTP_CFG_KEY_ADDR_KIND = 1;
inline constexpr uint32_t PTP_CFG_KEY_MAC = 2;
inline constexpr uint32_t PTP_CFG_KEY_IP = 3;
inline constexpr uint32_t PTP_CFG_KEY_FROM_CLASS = 1; // interop clock-class mapping

// The two PTP multicast MAC addresses; the first is the default.
inline constexpr uint8_t PTP_MULTICAST_MAC_DEFAULT[PTP_MAC_ADDR_LEN] = {0x01, 0x1B, 0x19, 0x00, 0x00, 0x00};
inline constexpr uint8_t PTP_MULTICAST_MAC_PEER[PTP_MAC_ADDR_LEN] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E};

// How the tuple items' values are written on the operator's command line: the schema rows' value
// forms, for the text that refuses a value of another kind (a plain number for an interval, say).
inline constexpr const char *PTP_CFG_FORM_INTERVAL = "(unit,value)"; // unit 0: 2^value seconds, 1: 2^value per second
inline constexpr const char *PTP_CFG_FORM_MULTICAST = "(mode,mac-given,mac)";
inline constexpr const char *PTP_CFG_FORM_SOURCE_IP = "(enable,address)";
inline constexpr const char *PTP_CFG_FORM_DELAY_ASYMMETRY = "(value,units)";

// ---- Interface-item checks: (event, new value, out value, out is-delete) ----
// A delete sets is-delete and succeeds without writing the value.

zerrno ptp_cfg_check_encap(uint32_t event, const bgen_value_td *nv, uint32_t *encap, bool *is_delete);
zerrno ptp_cfg_check_clock_operation(uint32_t event, const bgen_value_td *nv, uint32_t *one_step, bool *is_delete);
zerrno ptp_cfg_check_annce_ivl(uint32_t event, const bgen_value_td *nv, ptp_time_data_type *rate, bool *is_delete);
zerrno ptp_cfg_check_sync_ivl(uint32_t event, const bgen_value_td *nv, ptp_time_data_type *rate, bool *is_delete);
zerrno ptp_cfg_check_dr_min_ivl(uint32_t event, const bgen_value_td *nv, ptp_time_data_type *rate, bool *is_delete);
zerrno ptp_cfg_check_annce_tout(uint32_t event, const bgen_value_td *nv, uint32_t *timeout, bool *is_delete);
// prev (may be null): the previous tuple, decoded first into prev_mode and prev_addr.
zerrno ptp_cfg_check_multicast(uint32_t event, const bgen_value_td *nv, uint32_t *mode, ptp_address_type *addr,
                               bool *is_delete, const bgen_value_td *prev, uint32_t *prev_mode,
                               ptp_address_type *prev_addr);
zerrno ptp_cfg_check_port_state(uint32_t event, const bgen_value_td *nv, uint32_t *state, bool *is_delete);
zerrno ptp_cfg_check_local_priority(uint32_t event, const bgen_value_td *nv, uint32_t *priority, bool *is_delete);
// disabled_allowed: whether an item that disables the source address is acceptable.
zerrno ptp_cfg_check_source_ip(uint32_t event, const bgen_value_td *nv, ptp_source_ip_data_type *source,
                               bool *is_delete, bool disabled_allowed);
zerrno ptp_cfg_check_source_ipv6(uint32_t event, const bgen_value_td *nv, ptp_source_ipv6_data_type *source,
                                 bool *is_delete, bool disabled_allowed);
zerrno ptp_cfg_check_cos(uint32_t event, const bgen_value_td *nv, uint32_t *cos, bool *is_delete);
zerrno ptp_cfg_check_dscp(uint32_t event, const bgen_value_td *nv, uint32_t *dscp, bool *is_delete);
zerrno ptp_cfg_check_ttl(uint32_t event, const bgen_value_td *nv, uint32_t *ttl, bool *is_delete);
zerrno ptp_cfg_check_delay_asymmetry(uint32_t event, const bgen_value_td *nv, ptp_delay_asymmetry_type *nanoseconds,
                                     bool *is_delete);
zerrno ptp_cfg_check_master_priority(uint32_t event, const bgen_value_td *nv, uint32_t *priority, bool *is_delete);
zerrno ptp_cfg_check_master_clock_class(uint32_t event, const bgen_value_td *nv, uint32_t *clock_class,
                                        bool *is_delete);
zerrno ptp_cfg_check_master_multicast(uint32_t event, const bgen_value_td *nv, uint32_t *mode, bool *is_delete);
// Flag items: 1 when set, 0 on delete; never fail.
zerrno ptp_cfg_check_master_nonnegotiated(uint32_t event, uint32_t *flag, bool *is_delete);
zerrno ptp_cfg_check_slave_nonnegotiated(uint32_t event, uint32_t *flag, bool *is_delete);
// msg_type: Announce, Sync or Delay-Resp (grant duration); Sync or Delay-Resp (timeout).
// Any other type stops the process.
zerrno ptp_cfg_check_unicast_grant_duration(uint32_t msg_type, uint32_t event, const bgen_value_td *nv,
                                            uint32_t *seconds, bool *is_delete);
zerrno ptp_cfg_check_message_timeout(uint32_t msg_type, uint32_t event, const bgen_value_td *nv, uint32_t *msecs,
                                     bool *is_delete);
// name: PTP_PROFILE_NAME_MAX + 1 bytes.
zerrno ptp_cfg_check_profile_name(uint32_t event, const bgen_value_td *nv, char *name, bool *is_delete);

// Reads a table entry's address key (kind, MAC text "%x.%x.%x", IP address).
zerrno ptp_cfg_extract_addr_info(const bgen_args_td *args, ptp_address_type *addr);

// Parses "%x.%x.%x": three groups of hexadecimal digits, each at most 0xFFFF, nothing after.
bool ptp_cfg_parse_mac(const char *text, uint8_t mac[PTP_MAC_ADDR_LEN]);

bool ptp_cfg_check_addr_is_multicast(const ptp_address_type *addr);

// ---- Profile-item checks ----
// Common arguments: event, new value, verify result (null: only the code is returned), error
// text out (may be null), the item's outputs, key arguments, profile name out (may be null;
// PTP_PROFILE_NAME_MAX + 1 bytes), is-delete out (may be null). Items with a previous value
// decode it (prev may be null) on every event but a create; multicast decodes it on every event.
// A check refused for its profile-name key hands out the name's text, whichever item it checks.

// The text of a refusal of the profile-name key (absent: PTP_ZERR_CFG_ARGUMENT; too short or too
// long: PTP_ZERR_CFG_PROFILE_NAME); null for any other code.
const char *ptp_cfg_profile_name_text(zerrno rc);

zerrno ptp_cfg_profile_check_encap(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result, char **err_text,
                                   uint32_t *encap, const bgen_args_td *args, char *name, bool *is_delete);
zerrno ptp_cfg_profile_check_clock_operation(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                             char **err_text, uint32_t *one_step, uint32_t *prev_one_step,
                                             const bgen_value_td *prev, const bgen_args_td *args, char *name,
                                             bool *is_delete);
// Interval items hand out log2 intervals.
zerrno ptp_cfg_profile_check_annce_ivl(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                       char **err_text, int *log_ivl, int *prev_log_ivl, const bgen_value_td *prev,
                                       const bgen_args_td *args, char *name, bool *is_delete);
zerrno ptp_cfg_profile_check_sync_ivl(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result, char **err_text,
                                      int *log_ivl, int *prev_log_ivl, const bgen_value_td *prev,
                                      const bgen_args_td *args, char *name, bool *is_delete);
zerrno ptp_cfg_profile_check_dr_min_ivl(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                        char **err_text, int *log_ivl, int *prev_log_ivl, const bgen_value_td *prev,
                                        const bgen_args_td *args, char *name, bool *is_delete);
zerrno ptp_cfg_profile_check_annce_tout(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                        char **err_text, uint32_t *timeout, const bgen_args_td *args, char *name,
                                        bool *is_delete);
zerrno ptp_cfg_profile_check_multicast(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                       char **err_text, uint32_t *mode, ptp_address_type *addr, uint32_t *prev_mode,
                                       ptp_address_type *prev_addr, const bgen_value_td *prev, const bgen_args_td *args,
                                       char *name, bool *is_delete);
zerrno ptp_cfg_profile_check_port_state(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                        char **err_text, uint32_t *state, const bgen_args_td *args, char *name,
                                        bool *is_delete);
zerrno ptp_cfg_profile_check_local_priority(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                            char **err_text, uint32_t *priority, const bgen_args_td *args, char *name,
                                            bool *is_delete);
zerrno ptp_cfg_profile_check_source_ip(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                       char **err_text, ptp_source_ip_data_type *source, const bgen_args_td *args,
                                       char *name, bool *is_delete);
zerrno ptp_cfg_profile_check_source_ipv6(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                         char **err_text, ptp_source_ipv6_data_type *source, const bgen_args_td *args,
                                         char *name, bool *is_delete);
zerrno ptp_cfg_profile_check_cos(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result, char **err_text,
                                 uint32_t *cos, const bgen_args_td *args, char *name, bool *is_delete);
zerrno ptp_cfg_profile_check_dscp(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result, char **err_text,
                                  uint32_t *dscp, const bgen_args_td *args, char *name, bool *is_delete);
// No verify result: returns the code only.
zerrno ptp_cfg_profile_check_ttl(uint32_t event, const bgen_value_td *nv, uint32_t *ttl, const bgen_args_td *args,
                                 char *name, bool *is_delete);
zerrno ptp_cfg_profile_check_delay_asymmetry(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                             char **err_text, ptp_delay_asymmetry_type *nanoseconds,
                                             ptp_delay_asymmetry_type *prev_nanoseconds, const bgen_value_td *prev,
                                             const bgen_args_td *args, char *name, bool *is_delete);

// Master- and slave-table items also hand out the entry's address, read on every event
// (deletes included, so the caller can find the entry).
zerrno ptp_cfg_profile_check_master_enable(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                           char **err_text, ptp_address_type *addr, const bgen_args_td *args,
                                           char *name, bool *is_delete);
zerrno ptp_cfg_profile_check_master_priority(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                             char **err_text, uint32_t *priority, ptp_address_type *addr,
                                             const bgen_args_td *args, char *name, bool *is_delete);
zerrno ptp_cfg_profile_check_master_clock_class(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                                char **err_text, uint32_t *clock_class, ptp_address_type *addr,
                                                const bgen_args_td *args, char *name, bool *is_delete);
zerrno ptp_cfg_profile_check_master_nonnegotiated(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                                  char **err_text, uint32_t *flag, ptp_address_type *addr,
                                                  const bgen_args_td *args, char *name, bool *is_delete);
zerrno ptp_cfg_profile_check_master_multicast(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                              char **err_text, uint32_t *mode, ptp_address_type *addr,
                                              const bgen_args_td *args, char *name, bool *is_delete);
zerrno ptp_cfg_profile_check_master_delay_asymmetry(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                                    char **err_text, ptp_delay_asymmetry_type *nanoseconds,
                                                    ptp_address_type *addr, const bgen_args_td *args, char *name,
                                                    bool *is_delete);
zerrno ptp_cfg_profile_check_slave_nonnegotiated(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                                 char **err_text, uint32_t *flag, ptp_address_type *addr,
                                                 const bgen_args_td *args, char *name, bool *is_delete);

zerrno ptp_cfg_profile_check_unicast_grant_duration(uint32_t msg_type, uint32_t event, const bgen_value_td *nv,
                                                    uint32_t *verify_result, char **err_text, uint32_t *seconds,
                                                    const bgen_args_td *args, char *name, bool *is_delete);
zerrno ptp_cfg_profile_check_message_timeout(uint32_t msg_type, uint32_t event, const bgen_value_td *nv,
                                             uint32_t *verify_result, char **err_text, uint32_t *msecs,
                                             const bgen_args_td *args, char *name, bool *is_delete);
zerrno ptp_cfg_profile_check_unicast_grant_invalid_request(uint32_t event, const bgen_value_td *nv,
                                                           uint32_t *verify_result, char **err_text, uint32_t *deny,
                                                           const bgen_args_td *args, char *name, bool *is_delete);

zerrno ptp_cfg_profile_check_interop_profile(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                             char **err_text, uint32_t *profile, const bgen_args_td *args, char *name,
                                             bool *is_delete);
zerrno ptp_cfg_profile_check_interop_domain(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                            char **err_text, uint32_t *domain, const bgen_args_td *args, char *name,
                                            bool *is_delete);
zerrno ptp_cfg_profile_check_interop_priority(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                              char **err_text, uint32_t *priority, const bgen_args_td *args, char *name,
                                              bool *is_delete);
zerrno ptp_cfg_profile_check_interop_clock_accuracy(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                                    char **err_text, uint32_t *accuracy, const bgen_args_td *args,
                                                    char *name, bool *is_delete);
zerrno ptp_cfg_profile_check_interop_oslv(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result,
                                          char **err_text, uint32_t *oslv, const bgen_args_td *args, char *name,
                                          bool *is_delete);
zerrno ptp_cfg_profile_check_interop_clock_class_default(uint32_t event, const bgen_value_td *nv,
                                                         uint32_t *verify_result, char **err_text,
                                                         uint32_t *clock_class, const bgen_args_td *args, char *name,
                                                         bool *is_delete);
// from_class: key 1 of the item's path; to_class: the value.
zerrno ptp_cfg_profile_check_interop_clock_class_mapping(uint32_t event, const bgen_value_td *nv,
                                                         uint32_t *verify_result, char **err_text, uint32_t *from_class,
                                                         uint32_t *to_class, const bgen_args_td *args, char *name,
                                                         bool *is_delete);

// ---- Predicates of the global and interoperation items (true = acceptable) ----
bool ptp_clock_domain_is_ok(uint32_t domain);
bool ptp_priority_is_ok(uint32_t priority);
bool ptp_local_priority_is_ok(uint32_t priority);
bool ptp_timescale_is_ok(uint32_t timescale);
bool ptp_time_source_is_ok(uint32_t time_source);
bool ptp_clock_class_is_ok(uint32_t clock_class);
bool ptp_clock_accuracy_is_ok(uint32_t accuracy);
bool ptp_clock_oslv_is_ok(uint32_t oslv);
bool ptp_freq_priority_is_ok(uint32_t priority);
bool ptp_tod_priority_is_ok(uint32_t priority);
bool ptp_announce_timeout_is_ok(uint32_t timeout);
bool ptp_clock_profile_is_ok(uint32_t profile);
bool ptp_clock_type_is_ok(uint32_t clock_type, uint32_t profile);
// The whole text is one hexadecimal number of at most 64 bits; it becomes id->eui.
bool ptp_get_eui_number(const char *text, ptp_clock_id_type *id);
// mask: presence mask of the identity tuple (field 0 kind, 1-3 MAC words, 4 EUI-64 text).
bool ptp_clock_id_data_is_ok(const ptp_clock_id_type *id, uint32_t mask);
bool ptp_message_timeout_is_ok(uint32_t msg_type, uint32_t msecs);
