// ptp4l as a multicast master over L2, UDP/IPv4 and UDP/IPv6 (software timestamps, its own
// namespace and veth end): the agent's port, listening on the other end, qualifies it as a
// foreign master with ptp4l's clock identity, priorities and class, and ranks it.
#include <gtest/gtest.h>

#include <fstream>

#include "interop_agent.h"
#include "interop_agent_threads.h"
#include "tessel_bmc.h"
#include "tessel_fsm_announce.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_rx_test_fake.h"
#include "tessel_fsm_services.h"
#include "tessel_fsm_unicast.h"
#include "tessel_mgd_timer.h"

namespace {

using namespace interop;

// ptp4l's clock identity: the EUI-64 of its end's MAC.
constexpr uint64_t PTP4L_CLOCK_ID = 0x020000fffe000b02ull;

struct transport_case {
    const char *name;
    uint32_t encap;
    const char *flag;
};

void PrintTo(const transport_case &c, std::ostream *os)
{
    *os << c.name;
}

class InteropPtp4lMaster : public testing::TestWithParam<transport_case> {};

TEST_P(InteropPtp4lMaster, PortQualifiesAndRanksIt)
{
    const std::string why = missing_prerequisite(true, false);
    if (!why.empty()) {
        GTEST_SKIP() << why;
    }
    const transport_case &tc = GetParam();
    veth_pair v;
    ASSERT_TRUE(v.ok) << "could not create the namespaces and veth pair";
    const std::string conf = temp_path("ptp4l-master.conf");
    {
        std::ofstream f(conf);
        f << "[global]\npriority1 100\npriority2 120\nclockClass 13\ndomainNumber 0\n"
             "logAnnounceInterval -2\nlogSyncInterval -2\nmasterOnly 1\n";
    }
    ns_process ptp4l(v.ns_b, std::string("ptp4l -i ") + v.dev_b + " -S " + tc.flag + " -m -f " + conf,
                     temp_path("ptp4l-master.log"));

    ASSERT_EQ(intf_caps_start(true), 0u); // the kernel resolves neighbours on this backend
    rx_fake_reset();
    rx_fake.local_clock = {AGENT_CLOCK_ID, 0};
    {
        // The node's best-master list is the real one.
        ptp_fsm_services_type s = ptp_fsm_svc();
        s.bmc_if_update = tessel_bmc_if_update;
        ptp_fsm_services_set(&s);
    }
    agent_port agent;
    ASSERT_TRUE(agent.open(v, tc.encap)) << agent.error;
    tessel_proto_idb_type *port = agent.port;
    port->config.announce_timeout = 3;
    port->config.transport = PTP_TRANSPORT_MULTICAST;
    port->flags |= TESSEL_PROTO_IDB_PORT_MGR_READY;
    port->fsm.PortState = PTP_PORT_STATE_LISTEN;
    port->fsm.is_listening = 1;
    // The real state machine around the receive path: its managed timers and grant-timer parent
    // (each foreign master gets its slave-side timers).
    ASSERT_EQ(tessel_mgd_timer_init(agent.evm), 0u);
    ASSERT_EQ(ptp_fsm_proto_module_init(), 0u);
    ASSERT_TRUE(ptp_fsm_proto_foreign_master_tree_init(port));

    // Announces every 250 ms; the port's announce timer ticks at the same rate.
    ptp_fsm_foreign_master_type *best = nullptr;
    for (int i = 0; i < 60 && best == nullptr; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        evm_run_until_idle(agent.evm);
        ptp_fsm_announce_timer_tick(port);
        best = port->fsm.foreign_master_ranked_list;
    }
    ASSERT_NE(best, nullptr) << "no foreign master qualified over " << tc.name << "; ptp4l said:\n" << ptp4l.output();
    EXPECT_EQ(best->master_clock.clock_id, PTP4L_CLOCK_ID);
    EXPECT_EQ(best->parent_port_id.clock_id, PTP4L_CLOCK_ID);
    EXPECT_EQ(best->master_clock.priority1, 100);
    EXPECT_EQ(best->master_clock.priority2, 120);
    EXPECT_EQ(best->master_clock.clock_class, 13);
    EXPECT_EQ(best->peer_addr.encap, tc.encap);
    EXPECT_EQ(best->is_in_ranked_list, 1);
    EXPECT_EQ(ptp_fsm_announce_best_foreign_master(port), best);

    ptp_fsm_proto_foreign_master_tree_destroy(port);
    ptp_fsm_proto_module_deinit();
    tessel_mgd_timer_shutdown();
    agent.close();
    intf_caps_stop();
    ptp4l.stop();
    if (!HasFailure()) {
        std::remove(conf.c_str());
        std::remove(ptp4l.log.c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(Transports, InteropPtp4lMaster,
                         testing::Values(transport_case{"L2", PTP_ENCAP_ETHERNET, "-2"},
                                         transport_case{"UDPv4", PTP_ENCAP_IPV4, "-4"},
                                         transport_case{"UDPv6", PTP_ENCAP_IPV6, "-6"}),
                         [](const testing::TestParamInfo<transport_case> &i) { return std::string(i.param.name); });

} // namespace
