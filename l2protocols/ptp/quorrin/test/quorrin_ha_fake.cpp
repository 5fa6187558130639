// Recording fake of the upgrade-role client.
#include "quorrin_fakes.h"
#include "quorrin_ha.h"

namespace {

uint32_t role = 1;
const bool registered = quorrin_fake_on_reset([] { role = 1; });

} // namespace

uint32_t &quorrin_fake_ha_role()
{
    (void)registered;
    return role;
}

zerrno quorrin_ha_init(event_mgr_type *)
{
    quorrin_fake_record("quorrin_ha_init");
    return quorrin_fake_result("quorrin_ha_init");
}

void quorrin_ha_shutdown(void)
{
    quorrin_fake_record("quorrin_ha_shutdown");
}

uint32_t quorrin_ha_get_issu_role(void)
{
    return role;
}

void quorrin_ha_milestone_met(uint32_t milestone)
{
    quorrin_fake_record("quorrin_ha_milestone_met " + std::to_string(milestone));
}
