// Recording fakes of the packet module's neighbours that are not built yet: offload sessions
// and notifications, interface capabilities, global configuration, thread control and the
// interface manager's hash. Programs that run the real agent modules (interop, fuzz) link this
// file alone; the packet module's unit test adds tessel_packet_test_fake_neighbours.cpp.
#include "tessel_packet_test_fake.h"

#include "tessel_fsm_types.h"
#include "tessel_packet_deps.h"

pkt_fake_state_type pkt_fake;

void pkt_fake_reset()
{
    pkt_fake = pkt_fake_state_type{};
}

namespace {
void rec(const std::string &what)
{
    pkt_fake.calls.push_back(what);
}
} // namespace

bool tessel_thread_ctrl_is_proto_thread()
{
    return true;
}
bool tessel_thread_ctrl_is_ipc_thread_blocked()
{
    return true;
}

void tessel_offload_sessions_resync(uint32_t encap)
{
    rec("sessions_resync " + std::to_string(encap));
}
void tessel_offload_if_sessions_cleanup(ifhtype ifhandle)
{
    rec("sessions_cleanup " + std::to_string(ifhandle));
}
void tessel_offload_resync_timers_start(void)
{
    rec("resync_timers_start");
}
bool tessel_offload_ethernet_resync_timer_running(void)
{
    return pkt_fake.resync_timer_running;
}
bool tessel_offload_ipv4_resync_timer_running(void)
{
    return pkt_fake.resync_timer_running;
}
bool tessel_offload_ipv6_resync_timer_running(void)
{
    return pkt_fake.resync_timer_running;
}
void tessel_offload_ethernet_resync_request(void)
{
    rec("resync_request 1");
}
void tessel_offload_ipv4_resync_request(void)
{
    rec("resync_request 2");
}
void tessel_offload_ipv6_resync_request(void)
{
    rec("resync_request 3");
}
zerrno tessel_offload_notification_process(uint32_t, const uint8_t *buffer, size_t length)
{
    pkt_fake.notifications.emplace_back(buffer, buffer + length);
    return pkt_fake.notification_result;
}
bool tessel_intf_caps_supports_platform_adjacency(void)
{
    return pkt_fake.platform_adjacency;
}
bool tessel_cfg_get_verify_checksum(void)
{
    return pkt_fake.verify_checksum;
}

// Interface manager: the handle's hash bucket.
uint32_t imc_ifhandle_to_hash(ifhtype ifhandle, uint32_t key_bits)
{
    return (ifhandle ^ (ifhandle >> 16)) & ((1u << key_bits) - 1u);
}
