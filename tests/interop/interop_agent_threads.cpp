// What a program that runs the agent's protocol-thread modules on one thread of its own plays of
// the agent's process entry and IPC thread. The modules these calls reach are real where they can
// run here (the interface capabilities, see interop_agent_threads.h); what stays is the entry and
// the IPC thread themselves:
// - the entry has started the agent;
// - the thread control: the one thread is the protocol thread, with the IPC thread (the program)
//   waiting on it, and the checkpoint service's notices reach the protocol thread's handlers at
//   once;
// - the global configuration's getters answer the IPC thread's defaults (the program gives the
//   port manager the global configuration itself);
// - the operational data's packet-counter reader, which resumes a database request parked in the
//   IPC thread: no program here reads the operational data, so none is ever parked.
#include "interop_agent_threads.h"

#include <cstdint>

#include "ptp_platform_intf_capability.h"
#include "tessel_chkpt.h"
#include "tessel_intf_caps.h"

bool tessel_main_is_active(void)
{
    return true;
}

bool tessel_thread_ctrl_is_proto_thread()
{
    return true;
}

bool tessel_thread_ctrl_is_ipc_thread_blocked()
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

bool tessel_cfg_get_verify_checksum(void)
{
    return false;
}

uint8_t tessel_cfg_get_fsync_ql_option(void)
{
    return 1;
}

void tessel_edm_resume_packet_counters_request(void) {}

namespace interop {

zerrno intf_caps_start(bool platform_adjacency)
{
    constexpr uint16_t ALL = 0x3ff;
    const uint16_t flags = platform_adjacency ? ALL : static_cast<uint16_t>(ALL & ~TESSEL_INTF_CAPS_PLATFORM_ADJACENCY);
    ptp_platform_intf_capability_test_set(TESSEL_INTF_CAPS_MAX_API_VERSION, flags, 7);
    return tessel_intf_caps_init(nullptr);
}

void intf_caps_stop()
{
    tessel_intf_caps_shutdown();
    ptp_platform_intf_capability_test_reset();
}

} // namespace interop
