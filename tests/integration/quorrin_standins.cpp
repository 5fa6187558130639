// The controller's modules not built yet, as the least that lets the process run in a chassis for
// the tests of this folder: every start-up succeeds, and nothing is checkpointed, served or
// trapped. Test code only.
#include "issul.h"
#include "quorrin_bmc.h"
#include "quorrin_edm_traps.h"
#include "quorrin_ha.h"
#include "quorrin_platform.h"

// The selection's checkpoint half: nothing is recovered or written.
zerrno quorrin_bmc_chkpt_register(void)
{
    return 0;
}
void quorrin_bmc_chkpt_clock_save(quorrin_bmc_clock_type *) {}
void quorrin_bmc_chkpt_clock_delete(quorrin_bmc_clock_type *) {}
void quorrin_bmc_chkpt_global_write(void) {}
void quorrin_bmc_chkpt_shutdown(void) {}
void quorrin_bmc_go_primary_active(void) {}
void quorrin_bmc_chkpt_global_recover(void) {}
void quorrin_bmc_chkpt_global_ndt(const chkpt_ndt_type *) {}
void quorrin_bmc_chkpt_clock_ndt(const chkpt_ndt_type *) {}

namespace {
uint32_t standin_role = 0;
}
zerrno quorrin_ha_init(event_mgr_type *)
{
    standin_role = issul_get_issu_role(nullptr);
    return 0;
}
void quorrin_ha_shutdown(void) {}
uint32_t quorrin_ha_get_issu_role(void)
{
    return standin_role;
}
void quorrin_ha_milestone_met(uint32_t) {}

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
