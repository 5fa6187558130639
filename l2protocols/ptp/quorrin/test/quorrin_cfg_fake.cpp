// Recording fake of the controller's configuration.
#include "quorrin_cfg.h"
#include "quorrin_fakes.h"

namespace {

quorrin_fake_cfg_type cfg;
const bool registered = quorrin_fake_on_reset([] { cfg = quorrin_fake_cfg_type{}; });

} // namespace

quorrin_fake_cfg_type &quorrin_fake_cfg()
{
    (void)registered;
    return cfg;
}

zerrno quorrin_cfg_init(event_mgr_type *)
{
    quorrin_fake_record("quorrin_cfg_init");
    return quorrin_fake_result("quorrin_cfg_init");
}

void quorrin_cfg_shutdown(void)
{
    quorrin_fake_record("quorrin_cfg_shutdown");
}

uint32_t quorrin_cfg_get_profile(void)
{
    return cfg.profile;
}
uint32_t quorrin_cfg_get_telecom_clock_type(void)
{
    return cfg.clock_type;
}
uint8_t quorrin_cfg_get_domain(void)
{
    return cfg.domain;
}
uint64_t quorrin_cfg_get_clock_id(void)
{
    return cfg.clock_id;
}
uint32_t quorrin_cfg_get_servo_slow_tracking(void)
{
    return cfg.slow_tracking;
}
void quorrin_cfg_get_holdover_duration(bool *set, uint32_t *seconds)
{
    *set = cfg.holdover_set;
    *seconds = cfg.holdover_seconds;
}
uint8_t quorrin_cfg_get_freq_priority(void)
{
    return cfg.freq_priority;
}
uint8_t quorrin_cfg_get_tod_priority(void)
{
    return cfg.tod_priority;
}
bool quorrin_cfg_get_apts(void)
{
    return cfg.apts;
}
bool quorrin_cfg_get_log_bmc_changes(void)
{
    return cfg.log_bmc_changes;
}
bool quorrin_cfg_is_priority1_set(void)
{
    return cfg.priority1.set;
}
bool quorrin_cfg_is_priority2_set(void)
{
    return cfg.priority2.set;
}
uint8_t quorrin_cfg_get_priority1(void)
{
    return cfg.priority1.set ? cfg.priority1.value : 128;
}
uint8_t quorrin_cfg_get_priority2(void)
{
    return cfg.priority2.set ? cfg.priority2.value : 128;
}

namespace {

void item(const quorrin_fake_cfg_type::item_type &i, bool *set, uint8_t *value)
{
    if (set != nullptr) {
        *set = i.set;
    }
    if (value != nullptr) {
        *value = i.value;
    }
}

} // namespace

void quorrin_cfg_get_clock_class(bool *set, uint8_t *clock_class)
{
    item(cfg.clock_class, set, clock_class);
}
void quorrin_cfg_get_startup_clock_class(bool *set, uint8_t *clock_class)
{
    item(cfg.startup_class, set, clock_class);
}
void quorrin_cfg_get_freerun_clock_class(bool *set, uint8_t *clock_class)
{
    item(cfg.freerun_class, set, clock_class);
}
void quorrin_cfg_get_double_failure_clock_class(bool *set, uint8_t *clock_class)
{
    item(cfg.double_failure_class, set, clock_class);
}
void quorrin_cfg_get_holdover_clock_class(bool *set, uint8_t *clock_class)
{
    item(cfg.holdover_class, set, clock_class);
}
void quorrin_cfg_get_uncalibrated_clock_class(bool *set, uint8_t *clock_class, uint32_t *unless_from_holdover)
{
    item(cfg.uncalibrated_class, set, clock_class);
    if (unless_from_holdover != nullptr) {
        *unless_from_holdover = cfg.unless_from_holdover;
    }
}
bool quorrin_cfg_get_holdover_time_traceable_override(void)
{
    return cfg.holdover_tt_override;
}
bool quorrin_cfg_get_uncal_time_traceable_override(void)
{
    return cfg.uncal_tt_override;
}
void quorrin_cfg_get_timescale(bool *set, uint8_t *timescale)
{
    item(cfg.timescale, set, timescale);
}
void quorrin_cfg_get_time_source(bool *set, uint8_t *time_source)
{
    item(cfg.time_source, set, time_source);
}
uint32_t quorrin_cfg_get_physical_layer_freq(void)
{
    return cfg.physical_layer_freq;
}
uint32_t quorrin_cfg_get_network_type(void)
{
    return cfg.network_type;
}
uint32_t quorrin_cfg_get_ql_option(void)
{
    return cfg.ql_option;
}
void quorrin_cfg_get_applied_globals(quorrin_cfg_applied_globals_type *record)
{
    *record = cfg.globals;
}
uint32_t quorrin_cfg_get_applied_config_counter(void)
{
    return cfg.applied_config_counter;
}
bool quorrin_cfg_is_scanning(void)
{
    return cfg.scanning;
}
bool quorrin_cfg_is_enabled(void)
{
    return cfg.enabled;
}
uint32_t quorrin_cfg_get_any_successful_applies(void)
{
    return cfg.any_successful_applies;
}
bool quorrin_cfg_is_profile_set(void)
{
    return cfg.profile_set;
}
bool quorrin_cfg_get_verify_checksum(void)
{
    return cfg.verify_checksum;
}
