// Recording fakes of the modules the packet module calls and this test does not exercise. Weak,
// so that a module's real definition takes precedence once linked.
#include "tessel_packet_test_fake.h"

#include "tessel_fsm_types.h"
#include "tessel_packet_deps.h"

#define FAKE __attribute__((weak))

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

FAKE bool tessel_thread_ctrl_is_proto_thread()
{
    return true;
}

FAKE void ptp_fsm_proto_packet_in(tessel_proto_idb_type *port, const uint8_t *msg, size_t len, const uint8_t *timestamp,
                                  const ptp_address_type *src, const ptp_address_type *dst)
{
    pkt_fake_rx_type r{port->header.ifname,  std::vector<uint8_t>(msg, msg + len),
                       timestamp != nullptr, src != nullptr ? *src : ptp_address_type{},
                       dst != nullptr,       dst != nullptr ? *dst : ptp_address_type{}};
    pkt_fake.rx.push_back(r);
}
FAKE void ptp_fsm_proto_returned_timestamp_in(uint32_t packet_id, uint32_t, const void *)
{
    pkt_fake.returned_ids.push_back(packet_id);
}
FAKE void tessel_stats_increment_packet_drop_counter(tessel_proto_idb_type *, uint32_t counter_class, uint32_t amount)
{
    if (counter_class < 11) {
        pkt_fake.drop_class[counter_class] += amount;
    }
}
FAKE void tessel_stats_increment_packet_drop_reason(uint32_t reason, uint32_t amount)
{
    if (reason < 32) {
        pkt_fake.drop_reason[reason] += amount;
    }
}
FAKE void tessel_offload_sessions_resync(uint32_t encap)
{
    rec("sessions_resync " + std::to_string(encap));
}
FAKE void tessel_offload_if_sessions_cleanup(ifhtype ifhandle)
{
    rec("sessions_cleanup " + std::to_string(ifhandle));
}
FAKE void tessel_offload_resync_timers_start(void)
{
    rec("resync_timers_start");
}
FAKE bool tessel_offload_ethernet_resync_timer_running(void)
{
    return pkt_fake.resync_timer_running;
}
FAKE bool tessel_offload_ipv4_resync_timer_running(void)
{
    return pkt_fake.resync_timer_running;
}
FAKE bool tessel_offload_ipv6_resync_timer_running(void)
{
    return pkt_fake.resync_timer_running;
}
FAKE void tessel_offload_ethernet_resync_request(void)
{
    rec("resync_request 1");
}
FAKE void tessel_offload_ipv4_resync_request(void)
{
    rec("resync_request 2");
}
FAKE void tessel_offload_ipv6_resync_request(void)
{
    rec("resync_request 3");
}
FAKE zerrno tessel_offload_notification_process(uint32_t, const uint8_t *buffer, size_t length)
{
    pkt_fake.notifications.emplace_back(buffer, buffer + length);
    return pkt_fake.notification_result;
}
FAKE void tessel_port_mgr_spio_attach_event(tessel_proto_idb_type *idb)
{
    rec(std::string("attach_event ") + idb->header.ifname + (idb->is_spio_attached != 0 ? " A" : " N"));
}
FAKE bool tessel_intf_caps_supports_platform_adjacency(void)
{
    return pkt_fake.platform_adjacency;
}
FAKE bool tessel_cfg_get_verify_checksum(void)
{
    return pkt_fake.verify_checksum;
}

// Interface manager: the handle's hash bucket.
FAKE uint32_t imc_ifhandle_to_hash(ifhtype ifhandle, uint32_t key_bits)
{
    return (ifhandle ^ (ifhandle >> 16)) & ((1u << key_bits) - 1u);
}
