// The controller's modules not built yet, as the least that lets the process run in a chassis for
// the tests of this folder: the configuration is the defaults with the local clock identity
// below, every start-up succeeds, nothing is checkpointed, served or trapped. Test code only.
#include "issul.h"
#include "quorrin_bmc.h"
#include "quorrin_cfg.h"
#include "quorrin_edm_traps.h"
#include "quorrin_ha.h"
#include "quorrin_leap_seconds.h"
#include "quorrin_platform.h"

// The identity the stand-in configuration gives the local clock.
constexpr uint64_t STANDIN_CLOCK_ID = 0x0200'5EFF'FE10'0001;

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

// As if the global enable item were configured: the platform clock comes up at start.
zerrno quorrin_cfg_init(event_mgr_type *)
{
    return quorrin_platform_enable();
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
bool quorrin_cfg_get_log_bmc_changes(void)
{
    return true;
}
bool quorrin_cfg_is_priority1_set(void)
{
    return false;
}
bool quorrin_cfg_is_priority2_set(void)
{
    return false;
}
uint8_t quorrin_cfg_get_priority1(void)
{
    return 128;
}
uint8_t quorrin_cfg_get_priority2(void)
{
    return 128;
}
namespace {
void not_set(bool *set, uint8_t *value)
{
    *set = false;
    if (value != nullptr) {
        *value = 0;
    }
}
} // namespace
void quorrin_cfg_get_clock_class(bool *set, uint8_t *clock_class)
{
    not_set(set, clock_class);
}
void quorrin_cfg_get_startup_clock_class(bool *set, uint8_t *clock_class)
{
    not_set(set, clock_class);
}
void quorrin_cfg_get_freerun_clock_class(bool *set, uint8_t *clock_class)
{
    not_set(set, clock_class);
}
void quorrin_cfg_get_double_failure_clock_class(bool *set, uint8_t *clock_class)
{
    not_set(set, clock_class);
}
void quorrin_cfg_get_holdover_clock_class(bool *set, uint8_t *clock_class)
{
    not_set(set, clock_class);
}
void quorrin_cfg_get_uncalibrated_clock_class(bool *set, uint8_t *clock_class, uint32_t *unless_from_holdover)
{
    if (set != nullptr) {
        *set = false;
    }
    if (clock_class != nullptr) {
        *clock_class = 0;
    }
    if (unless_from_holdover != nullptr) {
        *unless_from_holdover = 0;
    }
}
bool quorrin_cfg_get_holdover_time_traceable_override(void)
{
    return false;
}
bool quorrin_cfg_get_uncal_time_traceable_override(void)
{
    return false;
}
void quorrin_cfg_get_timescale(bool *set, uint8_t *timescale)
{
    not_set(set, timescale);
}
void quorrin_cfg_get_time_source(bool *set, uint8_t *time_source)
{
    not_set(set, time_source);
}
uint32_t quorrin_cfg_get_physical_layer_freq(void)
{
    return 0;
}
uint32_t quorrin_cfg_get_network_type(void)
{
    return 0;
}
uint32_t quorrin_cfg_get_ql_option(void)
{
    return 1;
}
void quorrin_cfg_get_applied_globals(quorrin_cfg_applied_globals_type *record)
{
    *record = {};
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
void quorrin_leap_seconds_gm_update(int16_t, uint32_t, uint8_t) {}
void quorrin_leap_seconds_gm_lost(void) {}
void quorrin_leap_seconds_timescale_update(uint8_t) {}
void quorrin_leap_seconds_platform_update(bool, int16_t, uint32_t, uint8_t) {}

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
