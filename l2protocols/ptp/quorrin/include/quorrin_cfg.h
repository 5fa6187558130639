// The controller's applied global configuration: the items under "/cfg/gl/" (and the QL option under
// "/cfg/gl/freqsync/") as the database notifies them after commit, one handler per item through the
// schema below, the count of applied items that decides whether the platform clock is in use, and
// the getters every other controller module reads.
//
// Event bits as the database delivers them (NODRA_EVENT_*, nodra.h): a new item comes as Create
// alone, with no old value; a changed item as Set, with both values; a removed item as Delete, with
// the old value only; items that already exist when a registration is made are replayed to it as
// Create. No event carries Create and Set together. Handlers therefore take Create or Set as "the
// item has this value" wherever a value is stored.
#pragma once

#include <cstdint>

#include "bgen_args.h"
#include "evm.h"
#include "nodra.h"
#include "nodra_backend.h"
#include "ptp_types.h"
#include "zerrno.h"

// Frequency-synchronisation QL options.
inline constexpr uint32_t QUORRIN_CFG_QL_OPTION_1 = 1;
inline constexpr uint32_t QUORRIN_CFG_QL_OPTION_2_1 = 2;
inline constexpr uint32_t QUORRIN_CFG_QL_OPTION_2_2 = 3;

// The virtual port as configured: enabled, and each value set with its presence bit in `mask`
// (bit 0 priority1, 1 priority2, 2 clock class, 3 clock accuracy, 4 OSLV, 5 local priority).
struct quorrin_cfg_applied_globals_type {
    bool configured;
    uint32_t mask;
    uint8_t priority1;
    uint8_t priority2;
    uint8_t clock_class;
    uint8_t clock_accuracy;
    uint16_t oslv;
    uint8_t local_priority;
};

// ---- Lifecycle -----------------------------------------------------------------------------------

// Computes the default identity, binds and registers; the items that exist are applied inside it
// (the scan), before it returns.
zerrno quorrin_cfg_init(event_mgr_type *evm);
void quorrin_cfg_shutdown(void);

// The schema every item is dispatched through (paths relative to "/cfg/gl/", and "g/f/ql-option"
// relative to "/cfg/gl/freqsync/").
const backend_schema_td *quorrin_cfg_schema(void);

// The batch callback of the three "/cfg/gl/" registrations: acts at a batch's last item, applying
// its deletes first, then its creates and sets.
zerrno quorrin_cfg_notify_batch(const nodra_notify_event_info_td *event, void *context, const void *parse_data);

// The EUI-64 identity of a configured identity source (kind 0: the router's MAC address).
uint64_t quorrin_cfg_generate_clock_id(const ptp_clock_id_type *data);

// The delete step every handler shares: one item fewer; the platform is disabled at none.
void quorrin_cfg_remove(void);
// The count step of every handler on a create or set: one item more on a create (or any item during
// the scan); the platform is enabled at the first.
void quorrin_cfg_add(uint32_t event);
// A handler finished: the batch had a successful apply.
void quorrin_cfg_set_any_successful_applies(void);

// ---- Item handlers (event info, dispatcher context, key arguments) --------------------------------

#define QUORRIN_CFG_HANDLER(name)                                                                                      \
    void name(const nodra_notify_event_info_td *event, void *ctx, const bgen_args_td *args)

QUORRIN_CFG_HANDLER(quorrin_cfg_notify_enable);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_log_bmc_changes);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_clock_identity);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_clock_domain);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_clock_priority);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_clock_class);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_clock_timescale);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_clock_time_source);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_freq_priority);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_tod_priority);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_clock_profile);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_min_clock_class);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_leap_second_file);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_leap_second_offset);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_virtual_port);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_virtual_port_priority);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_virtual_port_clock_class);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_virtual_port_clock_accuracy);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_virtual_port_clock_oslv);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_virtual_port_local_priority);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_uncalibrated_clock_class);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_deprecated_uncalibrated_clock_class);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_uncalibrated_time_traceable_override);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_startup_clock_class);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_freerun_clock_class);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_double_failure_clock_class);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_holdover_clock_class);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_holdover_duration);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_time_traceable_override);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_physical_layer_frequency);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_network_type);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_servo_slow_tracking);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_verify_checksum);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_transparent_clock);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_apts);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_fsync_ql_option);

// Per-profile items (ptp/pi/profile/<name>/...): checked and counted, nothing kept.
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_encap);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_clock_operation);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_annce_ivl);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_sync_ivl);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_annce_tout);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_dr_min_ivl);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_multicast);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_port_state);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_local_priority);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_source_ip);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_source_ipv6);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_cos);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_dscp);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_ttl);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_hop_limit);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_unicast_grant_duration);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_message_timeout);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_invalid_grant_deny);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_delay_asymmetry);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_master_enable);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_master_priority);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_master_clock_class);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_master_nonnegotiated);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_master_multicast);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_master_delay_asymmetry);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_slave_nonnegotiated);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_interop_profile);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_interop_domain);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_interop_priority);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_interop_clock_accuracy);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_interop_oslv);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_interop_clock_class_default);
QUORRIN_CFG_HANDLER(quorrin_cfg_notify_interop_clock_class_mapping);

#undef QUORRIN_CFG_HANDLER

// ---- Getters ---------------------------------------------------------------------------------------

uint32_t quorrin_cfg_get_applied_config_counter(void);
bool quorrin_cfg_is_scanning(void);
bool quorrin_cfg_is_enabled(void);
bool quorrin_cfg_get_log_bmc_changes(void);
uint32_t quorrin_cfg_get_any_successful_applies(void);
bool quorrin_cfg_is_profile_set(void);
bool quorrin_cfg_is_priority1_set(void);
bool quorrin_cfg_is_priority2_set(void);
uint32_t quorrin_cfg_get_profile(void);
uint32_t quorrin_cfg_get_telecom_clock_type(void);
uint8_t quorrin_cfg_get_domain(void);
uint64_t quorrin_cfg_get_clock_id(void);
uint8_t quorrin_cfg_get_priority1(void);
uint8_t quorrin_cfg_get_priority2(void);
uint32_t quorrin_cfg_get_servo_slow_tracking(void);
// (set flag, class); clock_class may be null except for the plain clock class.
void quorrin_cfg_get_clock_class(bool *set, uint8_t *clock_class);
void quorrin_cfg_get_startup_clock_class(bool *set, uint8_t *clock_class);
void quorrin_cfg_get_freerun_clock_class(bool *set, uint8_t *clock_class);
void quorrin_cfg_get_double_failure_clock_class(bool *set, uint8_t *clock_class);
void quorrin_cfg_get_holdover_clock_class(bool *set, uint8_t *clock_class);
// The uncalibrated clock class item, or the deprecated one while only that is set (its
// unless-from-holdover then 0); every output may be null.
void quorrin_cfg_get_uncalibrated_clock_class(bool *set, uint8_t *clock_class, uint32_t *unless_from_holdover);
// Whether a holdover duration is set, and its seconds.
void quorrin_cfg_get_holdover_duration(bool *set, uint32_t *seconds);
bool quorrin_cfg_get_holdover_time_traceable_override(void);
bool quorrin_cfg_get_uncal_time_traceable_override(void);
void quorrin_cfg_get_timescale(bool *set, uint8_t *timescale);
void quorrin_cfg_get_time_source(bool *set, uint8_t *time_source);
uint8_t quorrin_cfg_get_freq_priority(void);
uint8_t quorrin_cfg_get_tod_priority(void);
uint32_t quorrin_cfg_get_physical_layer_freq(void);
uint32_t quorrin_cfg_get_network_type(void);
uint32_t quorrin_cfg_get_ql_option(void);
bool quorrin_cfg_get_verify_checksum(void);
bool quorrin_cfg_get_apts(void);
void quorrin_cfg_get_applied_globals(quorrin_cfg_applied_globals_type *record);
