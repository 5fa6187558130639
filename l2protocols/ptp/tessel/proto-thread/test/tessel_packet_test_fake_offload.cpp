// Recording fakes of the offload sessions and notifications, for the packet module's unit test,
// which links the packet modules without the offload modules.
#include "tessel_packet_test_fake.h"

#include "tessel_packet_deps.h"

namespace {
void rec(const std::string &what)
{
    pkt_fake.calls.push_back(what);
}
} // namespace

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
