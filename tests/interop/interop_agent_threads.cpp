// What a program that runs the agent's protocol-thread modules on one thread of its own plays of
// the agent's process entry and IPC thread (the scenario, the interop tests against ptp4l): the
// entry has started the agent, and the thread control's hand-off of the checkpoint service's
// notices reaches the protocol thread's handlers at once, the one thread being both.
#include <cstdint>

#include "tessel_chkpt.h"

bool tessel_main_is_active(void)
{
    return true;
}

void tessel_thread_ctrl_send_idt(uint32_t notice)
{
    tessel_chkpt_idt_received(notice);
}

void tessel_thread_ctrl_send_ndt(const void *notice)
{
    tessel_chkpt_ndt_received(notice);
}
