// Recording fake of the platform driver's calls the process entry makes.
#include "quorrin_fakes.h"
#include "quorrin_platform.h"

zerrno quorrin_platform_capability_init(event_mgr_type *)
{
    quorrin_fake_record("quorrin_platform_capability_init");
    return quorrin_fake_result("quorrin_platform_capability_init");
}

zerrno quorrin_platform_start(event_mgr_type *)
{
    quorrin_fake_record("quorrin_platform_start");
    return quorrin_fake_result("quorrin_platform_start");
}

void quorrin_platform_stop(void)
{
    quorrin_fake_record("quorrin_platform_stop");
}
