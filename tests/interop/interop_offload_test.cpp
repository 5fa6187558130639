// The offload plugin on a veth pair against ptp4l (software timestamps, its own namespace, the
// host clock never touched): the agent's port in Master hands its interface session to the
// plugin, ptp4l as slave reports offsets, and the packet analyser dissects every message the
// plugin sent without a malformed field; ptp4l as master feeds the agent's slave session, whose
// timestamps reach the state machine as timing records. Over L2, UDP/IPv4 and UDP/IPv6.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <regex>
#include <set>

#include "interop_agent.h"
#include "plat_clock.h"
#include "ptp_timer.h"
#include "ptpclock_test.h"
#include "shmwin.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_offload.h"
#include "tessel_offload_test_fake.h"
#include "tessel_packet_test_fake.h"
#include "tessel_stats.h"

namespace {

using namespace interop;

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

class InteropOffload : public testing::TestWithParam<transport_case> {
protected:
    static void SetUpTestSuite()
    {
        static const std::string prefix = "interop_offload." + std::to_string(getpid()) + ".";
        shmwin_test_set_prefix(prefix.c_str());
        shmwin_test_unlink(TESSEL_STATS_SHMWIN_NAME);
        ASSERT_EQ(tessel_stats_init(), 0u);
        // A PTP clock of this test's own, so that nothing else steers it meanwhile.
        ptpclock_test_set_prefix(prefix.c_str());
    }
    static void TearDownTestSuite()
    {
        tessel_stats_close();
        shmwin_test_unlink(TESSEL_STATS_SHMWIN_NAME);
        ptpclock_test_unlink("local");
    }

    veth_pair v;
    agent_port agent;
    tessel_proto_idb_type *port = nullptr;

    void SetUp() override
    {
        const std::string why = missing_prerequisite(true, true);
        if (!why.empty()) {
            GTEST_SKIP() << why;
        }
        ASSERT_TRUE(v.ok) << "could not create the namespaces and veth pair";
        pkt_fake_reset();
        pkt_fake.platform_adjacency = true;
        offload_fake_reset();
        offload_fake.local_clock = {AGENT_CLOCK_ID, 0};
        ptp_clock_type &gm = offload_fake.advertised;
        gm.clock_id = AGENT_CLOCK_ID;
        gm.priority1 = 100;
        gm.priority2 = 100;
        gm.accuracy = 0x21;
        gm.clock_class = 6;
        gm.offset_log_variance = 0x4E5D;
        gm.time_source = 0x20;
        gm.utc_offset = 37;
        gm.utc_offset_valid = 1;
        gm.timescale = PTP_TIMESCALE_PTP;
        ASSERT_TRUE(agent.open(v, GetParam().encap)) << agent.error;
        port = agent.port;
        ASSERT_EQ(ptp_timer_init(agent.evm, 16, 32, nullptr, nullptr, 9, nullptr), 0u);
        ASSERT_EQ(tessel_offload_init(agent.evm), 0u);
        port->config.transport = PTP_TRANSPORT_MULTICAST;
        port->config.announce_interval = 0;
        port->config.sync_interval = -3;
        port->config.delay_req_interval = -2;
        port->config.multicast_address.encap = PTP_ENCAP_ETHERNET;
        const uint8_t mcast[6] = {0x01, 0x1b, 0x19, 0x00, 0x00, 0x00};
        std::memcpy(port->config.multicast_address.value, mcast, 6);
        port->ipv4_addr = 0x0a630001; // 10.99.0.1
        port->flags |= TESSEL_PROTO_IDB_PORT_MGR_READY;
    }
    void TearDown() override
    {
        if (port != nullptr) {
            tessel_offload_if_sessions_cleanup(AGENT_IFH);
            tessel_offload_shutdown();
            ptp_timer_shutdown();
        }
        agent.close();
    }
    // Runs the agent's event manager for ms of real time (the plugin sends from it).
    void run_for(int ms, const std::function<bool()> &done = nullptr)
    {
        for (int waited = 0; waited < ms; waited += 10) {
            evm_run_until_idle(agent.evm);
            if (done && done()) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    std::string conf(const std::string &name, const std::string &body)
    {
        const std::string path = temp_path(name);
        std::ofstream f(path);
        f << "[global]\n" << body;
        return path;
    }
};

// "master offset <ns> s<state> freq <ppb> path delay <ns>" lines of ptp4l's log.
std::vector<std::pair<long long, long long>> offsets(const std::string &log)
{
    std::vector<std::pair<long long, long long>> out;
    static const std::regex re(R"(master offset\s+(-?\d+) s\d freq\s+[-+]?\d+ path delay\s+(-?\d+))");
    for (std::sregex_iterator it(log.begin(), log.end(), re), end; it != end; ++it) {
        out.emplace_back(std::stoll((*it)[1]), std::stoll((*it)[2]));
    }
    return out;
}

TEST_P(InteropOffload, Ptp4lSlaveOfTheMasterPortReportsOffsets)
{
    const transport_case &tc = GetParam();
    port->fsm.is_sending_multicast_announce = 1;
    port->fsm.is_master_drrm_running = 1;
    tessel_offload_if_session_update(port);
    tessel_offload_flush();
    evm_run_until_idle(agent.evm);
    tessel_offload_session_state_type st{};
    tessel_offload_if_session_state_get(port, &st);
    ASSERT_EQ(st.session_exists, 1u);

    const std::string pcap = temp_path("offload.pcap");
    ns_process cap(v.ns_b, "tshark -i " + v.dev_b + " -w " + pcap, temp_path("offload-tshark.log"));
    // tshark takes its time to start when the machine is busy.
    ASSERT_TRUE(cap.wait_for("Capturing on", 30000)) << cap.output();
    // ptp4l never steers the host clock: it only measures.
    const std::string cfg = conf("ptp4l-slave.conf", "slaveOnly 1\nfree_running 1\ndomainNumber 0\n"
                                                     "logMinDelayReqInterval -2\nsummary_interval -3\n");
    ns_process ptp4l(v.ns_b, std::string("ptp4l -i ") + v.dev_b + " -S " + tc.flag + " -m -f " + cfg,
                     temp_path("ptp4l-slave.log"));
    run_for(20000, [&] { return offsets(ptp4l.output()).size() >= 5; });
    const auto seen = offsets(ptp4l.output());
    ASSERT_GE(seen.size(), 5u) << "ptp4l reported no offsets over " << tc.name << "; it said:\n" << ptp4l.output();
    // The path delay of a veth under software timestamps: positive and well below a millisecond
    // (the two clocks' difference cancels out of it).
    // The master's time is the node's PTP clock, the UTC offset it announces taken off by ptp4l:
    // on the host's time within a millisecond.
    EXPECT_LT(std::llabs(seen.back().first), 1000000) << ptp4l.output();
    const long long delay = seen.back().second;
    EXPECT_GT(delay, -100000) << ptp4l.output();
    EXPECT_LT(delay, 1000000) << ptp4l.output();
    EXPECT_NE(ptp4l.output().find(std::string("selected best master clock ") + "020000.fffe.000a01"), std::string::npos)
        << ptp4l.output();
    ptp4l.stop();
    cap.stop();

    // The plugin's counts of the master session reach the counters in the directions the plugin
    // sent and received them.
    offload_fake.counts.clear();
    ASSERT_EQ(tessel_offload_get_stats_internal(tc.encap, AGENT_IFH, true, true), 0u);
    run_for(5000, [&] { return !offload_fake.counts.empty(); });
    std::set<std::pair<uint32_t, uint32_t>> counted;
    for (const offload_fake_count_type &c : offload_fake.counts) {
        counted.insert({c.counter_class, c.direction});
    }
    EXPECT_EQ(counted,
              (std::set<std::pair<uint32_t, uint32_t>>{{TESSEL_PACKET_COUNTER_ANNOUNCE, TESSEL_PACKET_SENT},
                                                       {TESSEL_PACKET_COUNTER_SYNC, TESSEL_PACKET_SENT},
                                                       {TESSEL_PACKET_COUNTER_FOLLOW_UP, TESSEL_PACKET_SENT},
                                                       {TESSEL_PACKET_COUNTER_DELAY_REQ, TESSEL_PACKET_RECEIVED},
                                                       {TESSEL_PACKET_COUNTER_DELAY_RESP, TESSEL_PACKET_SENT}}));

    // Every message the plugin sent dissects cleanly, and each kind was sent.
    const std::string filter = "ptp && eth.src == " + std::string(veth_pair::MAC_A);
    const std::string rows =
        capture_output("tshark -r " + pcap + " -o ip.check_checksum:TRUE -o udp.check_checksum:TRUE -Y \"" + filter +
                       "\" -T fields -e ptp.v2.messagetype -e _ws.malformed -e _ws.expert.severity 2>/dev/null");
    std::set<std::string> types;
    for (const std::string &line : split_lines(rows)) {
        const std::string type = line.substr(0, line.find('\t'));
        types.insert(type);
        EXPECT_EQ(line.find_first_not_of("0123456789xabcdef\t"), std::string::npos) << "flagged: " << line;
    }
    EXPECT_EQ(types, (std::set<std::string>{"0x00", "0x08", "0x09", "0x0b"})) << rows;
    EXPECT_EQ(capture_output("tshark -r " + pcap + " -Y _ws.malformed 2>/dev/null"), "");
    if (!HasFailure()) {
        remove_files({pcap, cap.log, cfg, ptp4l.log});
    }
}

TEST_P(InteropOffload, SlaveSessionTimesPtp4lsSync)
{
    const transport_case &tc = GetParam();
    const std::string cfg = conf("ptp4l-master.conf", "masterOnly 1\nfree_running 1\ndomainNumber 0\n"
                                                      "logSyncInterval -3\nlogAnnounceInterval -2\n");
    ns_process ptp4l(v.ns_b, std::string("ptp4l -i ") + v.dev_b + " -S " + tc.flag + " -m -f " + cfg,
                     temp_path("ptp4l-master.log"));
    // The foreign master as the state machine would have it after ptp4l's Announces.
    ptp_fsm_foreign_master_type fm{};
    fm.port = port;
    fm.transport = PTP_TRANSPORT_MULTICAST;
    fm.is_handling_sync = 1;
    fm.is_sending_delay_req = 1;
    fm.grant[PTP_FSM_FM_GRANT_DELAY_RESP].log_interval = -2;
    const uint8_t mac_b[6] = {0x02, 0x00, 0x00, 0x00, 0x0b, 0x02};
    const uint8_t v4_b[4] = {10, 99, 0, 2};
    uint8_t v6_b[16] = {0xfd, 0x99};
    v6_b[15] = 2;
    if (tc.encap == PTP_ENCAP_ETHERNET) {
        ptp_address_set_mac(&fm.peer_addr, mac_b);
    } else if (tc.encap == PTP_ENCAP_IPV4) {
        ptp_address_set_ipv4(&fm.peer_addr, v4_b);
        const uint8_t v4_a[4] = {10, 99, 0, 1};
        ptp_address_set_ipv4(&fm.sent_to_addr, v4_a);
    } else {
        ptp_address_set_ipv6(&fm.peer_addr, v6_b);
        uint8_t v6_a[16] = {0xfd, 0x99};
        v6_a[15] = 1;
        ptp_address_set_ipv6(&fm.sent_to_addr, v6_a);
    }
    tessel_offload_foreign_master_session_update(&fm);
    tessel_offload_flush();
    evm_run_until_idle(agent.evm);

    auto count = [](uint32_t message) {
        size_t n = 0;
        for (const auto &t : offload_fake.timings) {
            n += t.record.message == message ? 1 : 0;
        }
        return n;
    };
    run_for(20000, [&] { return count(0) >= 8 && count(1) >= 4; });
    ASSERT_GE(count(0), 8u) << "no Sync timing records over " << tc.name << "; ptp4l said:\n" << ptp4l.output();
    ASSERT_GE(count(1), 4u) << "no Delay-Resp timing records; ptp4l said:\n" << ptp4l.output();
    auto ns_of = [](const uint8_t *t) {
        uint64_t s = 0;
        for (int i = 0; i < 6; i++) {
            s = s << 8 | t[i];
        }
        return static_cast<long double>(s) * 1e9L + (static_cast<uint32_t>(t[6]) << 24 | t[7] << 16 | t[8] << 8 | t[9]);
    };
    // Master-to-slave and slave-to-master differences carry the same clock offset with opposite
    // signs: half their sum is the path delay, small on a veth.
    long double sync_diff = 0, resp_diff = 0;
    for (const auto &t : offload_fake.timings) {
        EXPECT_EQ(t.fm, &fm);
        const long double d = ns_of(t.record.t2) - ns_of(t.record.t1); // Sync: t2 - t1; Delay-Resp: t3 - t4
        (t.record.message == 0 ? sync_diff : resp_diff) = d;
    }
    const long double delay = (sync_diff - resp_diff) / 2;
    EXPECT_GT(delay, -100000.0L);
    EXPECT_LT(delay, 1000000.0L);
    ptp4l.stop();
    if (!HasFailure()) {
        remove_files({cfg, ptp4l.log});
    }
}

INSTANTIATE_TEST_SUITE_P(Transports, InteropOffload,
                         testing::Values(transport_case{"L2", PTP_ENCAP_ETHERNET, "-2"},
                                         transport_case{"UDPv4", PTP_ENCAP_IPV4, "-4"},
                                         transport_case{"UDPv6", PTP_ENCAP_IPV6, "-6"}),
                         [](const testing::TestParamInfo<transport_case> &i) { return std::string(i.param.name); });

} // namespace
