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
