// The controller's applied global configuration: start-up and the getters other modules read.
#pragma once

#include <cstdint>

#include "evm.h"
#include "zerrno.h"

zerrno quorrin_cfg_init(event_mgr_type *evm);
void quorrin_cfg_shutdown(void);

uint32_t quorrin_cfg_get_profile(void);
uint32_t quorrin_cfg_get_telecom_clock_type(void);
uint8_t quorrin_cfg_get_domain(void);
uint64_t quorrin_cfg_get_clock_id(void);
uint32_t quorrin_cfg_get_servo_slow_tracking(void);
// Whether a holdover duration is set, and its seconds.
void quorrin_cfg_get_holdover_duration(bool *set, uint32_t *seconds);
uint8_t quorrin_cfg_get_freq_priority(void);
uint8_t quorrin_cfg_get_tod_priority(void);
bool quorrin_cfg_get_apts(void);

// Change logging of best-master changes is configured.
bool quorrin_cfg_get_log_bmc_changes(void);
bool quorrin_cfg_is_priority1_set(void);
bool quorrin_cfg_is_priority2_set(void);
uint8_t quorrin_cfg_get_priority1(void);
uint8_t quorrin_cfg_get_priority2(void);
// (set, class); the class pointer may be null, except for the plain clock class.
void quorrin_cfg_get_clock_class(bool *set, uint8_t *clock_class);
void quorrin_cfg_get_startup_clock_class(bool *set, uint8_t *clock_class);
void quorrin_cfg_get_freerun_clock_class(bool *set, uint8_t *clock_class);
void quorrin_cfg_get_double_failure_clock_class(bool *set, uint8_t *clock_class);
void quorrin_cfg_get_holdover_clock_class(bool *set, uint8_t *clock_class);
// (set, class, unless-from-holdover), each output optional.
void quorrin_cfg_get_uncalibrated_clock_class(bool *set, uint8_t *clock_class, uint32_t *unless_from_holdover);
bool quorrin_cfg_get_holdover_time_traceable_override(void);
bool quorrin_cfg_get_uncal_time_traceable_override(void);
// (set, value).
void quorrin_cfg_get_timescale(bool *set, uint8_t *timescale);
void quorrin_cfg_get_time_source(bool *set, uint8_t *time_source);
uint32_t quorrin_cfg_get_physical_layer_freq(void);
uint32_t quorrin_cfg_get_network_type(void);
// The frequency-synchronisation QL option: 1 Option I, 2 Option II gen 1, 3 Option II gen 2.
uint32_t quorrin_cfg_get_ql_option(void);

// The virtual port as configured: enabled, and each value set with its presence bit (bit 0
// priority1, 1 priority2, 2 clock class, 3 clock accuracy, 4 OSLV, 5 local priority).
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
void quorrin_cfg_get_applied_globals(quorrin_cfg_applied_globals_type *record);
