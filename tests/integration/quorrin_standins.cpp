// The controller's modules not built yet, as the least that lets the process run in a chassis for
// the tests of this folder: every start-up succeeds, and nothing is served or trapped. Test code
// only.
#include "quorrin_edm_traps.h"
#include "quorrin_platform.h"

zerrno quorrin_edm_init(event_mgr_type *)
{
    return 0;
}
zerrno quorrin_edm_gl_init(event_mgr_type *)
{
    return 0;
}
void quorrin_edm_shutdown(void) {}
void quorrin_edm_trap_generate_clock_state(uint32_t) {}
void quorrin_edm_trap_generate_threshold_breach(int64_t, uint16_t) {}
void quorrin_edm_trap_generate_clock_class(ptp_clock_type) {}
void quorrin_edm_trap_generate_time_source(void) {}
void quorrin_edm_trap_generate_utc_offset(void) {}
void quorrin_edm_trap_generate_master_lost(const ptp_address_type *, bool) {}
