// Recording fake of the link to the agents.
#include "quorrin_comms.h"
#include "quorrin_fakes.h"

zerrno quorrin_comms_init(event_mgr_type *)
{
    quorrin_fake_record("quorrin_comms_init");
    return quorrin_fake_result("quorrin_comms_init");
}

void quorrin_comms_shutdown(void)
{
    quorrin_fake_record("quorrin_comms_shutdown");
}

void quorrin_comms_clock_updated(bool force)
{
    quorrin_fake_record(force ? "announce forced" : "announce damped");
}
