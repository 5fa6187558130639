// The controller's operational data and trap notifications: start-up, and the traps other
// modules raise.
#pragma once

#include <cstdint>

#include "evm.h"
#include "ptp_types.h"
#include "zerrno.h"

zerrno quorrin_edm_init(event_mgr_type *evm);
// The global operational data and the traps, on the KVOLM node (later calls do nothing).
zerrno quorrin_edm_gl_init(event_mgr_type *evm);
void quorrin_edm_shutdown(void);

// ptp_platform_servo_status_type of the clock.
void quorrin_edm_trap_generate_clock_state(uint32_t state);
void quorrin_edm_trap_generate_threshold_breach(int64_t offset, uint16_t sub_ns);
// The advertised clock's class changed (with that clock), its time source or UTC offset changed.
void quorrin_edm_trap_generate_clock_class(ptp_clock_type clock);
void quorrin_edm_trap_generate_time_source(void);
void quorrin_edm_trap_generate_utc_offset(void);
// A master found (present 1, no peer) or lost (present 0, with the master's address).
void quorrin_edm_trap_generate_master_lost(const ptp_address_type *peer, bool present);
