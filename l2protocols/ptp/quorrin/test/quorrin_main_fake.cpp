// Recording fake of the process entry.
#include "quorrin_fakes.h"
#include "quorrin_main.h"

namespace {

quorrin_fake_main_type main_state;
const bool registered = quorrin_fake_on_reset([] { main_state = quorrin_fake_main_type{}; });

} // namespace

quorrin_fake_main_type &quorrin_fake_main()
{
    (void)registered;
    return main_state;
}

uint32_t quorrin_main_get_node_id(void)
{
    return main_state.node_id;
}

bool quorrin_main_is_kvolm_or_lc(void)
{
    return main_state.kvolm_or_lc;
}

void quorrin_main_exiting(void)
{
    quorrin_fake_record("quorrin_main_exiting");
}

bool quorrin_main_idt_timer_not_expired(void)
{
    return !main_state.idt_timer_expired;
}
