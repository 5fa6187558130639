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
