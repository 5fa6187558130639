// The controller's operational data and trap notifications: start-up, and the traps other
// modules raise.
#pragma once

#include <cstdint>

#include "evm.h"
#include "zerrno.h"

zerrno quorrin_edm_init(event_mgr_type *evm);
// The global operational data and the traps, on the KVOLM node (later calls do nothing).
zerrno quorrin_edm_gl_init(event_mgr_type *evm);
void quorrin_edm_shutdown(void);

// ptp_platform_servo_status_type of the clock.
void quorrin_edm_trap_generate_clock_state(uint32_t state);
void quorrin_edm_trap_generate_threshold_breach(int64_t offset, uint16_t sub_ns);
