// The controller's modules not built yet, as the least that lets the process run in a chassis for
// the tests of this folder: no clock reports are kept (no grandmaster), the node is active, the
// advertised clock is a bare local clock with the identity below, every start-up succeeds and
// nothing is checkpointed or served. Test code only.
#include "issul.h"
#include "quorrin_bmc.h"
#include "quorrin_cfg.h"
#include "quorrin_edm_traps.h"
#include "quorrin_ha.h"
#include "quorrin_leap_seconds.h"

// The identity the stand-in configuration gives the local clock.
constexpr uint64_t STANDIN_CLOCK_ID = 0x0200'5EFF'FE10'0001;

zerrno quorrin_bmc_init(event_mgr_type *)
{
    return 0;
}
void quorrin_bmc_shutdown(void) {}
void quorrin_bmc_clock_update(const ptp_clock_type *, uint32_t, uint32_t, int32_t, int32_t, int32_t,
                              const ptp_address_type *)
{
}
void quorrin_bmc_resync_request(uint32_t) {}
const ptp_clock_type *quorrin_bmc_get_gm(quorrin_bmc_gm_type *gm)
{
    if (gm != nullptr) {
        *gm = {};
    }
    return nullptr;
}
void quorrin_bmc_get_advertised_clock(ptp_clock_type *clock, void *)
{
    *clock = {};
    clock->clock_id = STANDIN_CLOCK_ID;
    clock->priority1 = 128;
    clock->clock_class = 248;
    clock->priority2 = 128;
    clock->local = 1;
}
void quorrin_bmc_get_servo_options(uint32_t *servo_mode, uint32_t *network_type)
{
    *servo_mode = 0;
    *network_type = 0;
}
void quorrin_bmc_platform_clock_update(uint32_t, uint32_t, uint32_t, const ptp_platform_clock_props_type *,
                                       const ptp_platform_clock_props_type *, uint32_t, uint32_t)
{
}
bool quorrin_bmc_is_node_active(void)
{
    return true;
}
void quorrin_bmc_servo_started(void) {}
void quorrin_bmc_gm_synced(void) {}
void quorrin_bmc_gm_sync_lost(void) {}
void quorrin_bmc_go_primary_active(void) {}
void quorrin_bmc_chkpt_global_recover(void) {}
void quorrin_bmc_chkpt_global_ndt(const chkpt_ndt_type *) {}
void quorrin_bmc_chkpt_clock_ndt(const chkpt_ndt_type *) {}
const char *quorrin_bmc_ql_value_to_str(uint8_t)
{
    return "Unknown QL";
}

zerrno quorrin_cfg_init(event_mgr_type *)
{
    return 0;
}
void quorrin_cfg_shutdown(void) {}
uint32_t quorrin_cfg_get_profile(void)
{
    return 0;
}
uint32_t quorrin_cfg_get_telecom_clock_type(void)
{
    return 0;
}
uint8_t quorrin_cfg_get_domain(void)
{
    return 0;
}
uint64_t quorrin_cfg_get_clock_id(void)
{
    return STANDIN_CLOCK_ID;
}
uint32_t quorrin_cfg_get_servo_slow_tracking(void)
{
    return 0;
}
void quorrin_cfg_get_holdover_duration(bool *set, uint32_t *seconds)
{
    *set = false;
    *seconds = 0;
}
uint8_t quorrin_cfg_get_freq_priority(void)
{
    return 128;
}
uint8_t quorrin_cfg_get_tod_priority(void)
{
    return 128;
}
bool quorrin_cfg_get_apts(void)
{
    return false;
}

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

zerrno quorrin_leap_seconds_init(event_mgr_type *)
{
    return 0;
}
zerrno quorrin_leap_seconds_start_updates(void)
{
    return 0;
}
void quorrin_leap_seconds_shutdown(void) {}
void quorrin_leap_seconds_chkpt_gm_ndt(const chkpt_ndt_type *) {}

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
