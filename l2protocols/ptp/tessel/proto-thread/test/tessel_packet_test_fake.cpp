// Recording fakes of the packet module's neighbours that its tests do not link: interface
// capabilities, global configuration, thread control, the interface manager's hash and the
// packet-counter reader. The offload tests (unit and interop) link this file with their own
// fakes; the packet module's unit test adds tessel_packet_test_fake_neighbours.cpp and the
// offload fakes of tessel_packet_test_fake_offload.cpp.
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

// The packet-counter reader that waits for offload statistics.
void tessel_edm_resume_packet_counters_request(void)
{
    rec("resume_packet_counters");
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
