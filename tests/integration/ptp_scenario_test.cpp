// The main job's scenario as a test: the agent's port, driven by the real port manager,
// best-master list, state machine, receive dispatch, packet module and checkpoint code, goes
// Listen -> Passive -> Uncalibrated -> Slave of the master the controller selects, and Master by
// Announce-Timeout once that master stops; its checkpoint record is stored while it lives and
// removed with it. In memory on virtual time always; against ptp4l over L2, UDP/IPv4
// and UDP/IPv6 where the machine allows it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "qor_log.h"
#include "scenario.h"

namespace {

// Runs one scenario with its steps in a temporary file, shown when the run fails.
template <typename Run>
scenario::result_type run_and_show(Run run, std::string *log)
{
    FILE *f = std::tmpfile();
    const scenario::result_type r = run(f != nullptr ? f : stdout);
    if (f != nullptr) {
        std::rewind(f);
        char buf[4096];
        size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
            log->append(buf, n);
        }
        std::fclose(f);
    }
    return r;
}

void expect_whole_way(const scenario::result_type &r, const std::string &log)
{
    EXPECT_EQ(r.error, "") << log;
    EXPECT_TRUE(r.ready) << "the port manager did not make the port ready\n" << log;
    EXPECT_TRUE(r.passive) << "the master did not reach the best-master list as Passive\n" << log;
    EXPECT_TRUE(r.slave) << "the port did not become Slave of the master\n" << log;
    EXPECT_TRUE(r.master_after_stop) << "no Master by Announce-Timeout after the master stopped\n" << log;
    EXPECT_TRUE(r.checkpointed)
        << "the port's checkpoint record was not stored while it lived, or not removed with it\n"
        << log;
}

TEST(PtpScenario, SimulatedMasterNodeInMemory)
{
    qor_errmsg_set_syslog(false);
    std::string log;
    const scenario::result_type r = run_and_show([](FILE *f) { return scenario::run_memory(f); }, &log);
    expect_whole_way(r, log);
    // What the port manager, the best-master list and the state machine reported, in this order.
    size_t at = 0;
    for (const char *text :
         {"not ready as port number not assigned", "not ready as SPIO not attached", "is now ready", "Ready-event",
          "to PASSIVE", "BMC-Passive-event", "Node BMC changed: new 0x20000fffe000b02", "to SLAVE (2)",
          "BMC-Slave-event", "to SLAVE SYNCED", "Master-Clock-Selected-event", "Change to state Slave",
          "Announce-Timeout-event", "Change to state Master", "Multicast foreign master", "Node BMC changed: new 0x0",
          "to MASTER", "BMC-Master-event", "Not-Ready-event"}) {
        const size_t found = log.find(text, at);
        ASSERT_NE(found, std::string::npos) << "\"" << text << "\" missing (in this order) from\n" << log;
        at = found;
    }
}

class PtpScenarioPtp4l : public testing::TestWithParam<scenario::transport_type> {};

TEST_P(PtpScenarioPtp4l, SlaveThenMasterAfterItStops)
{
    const std::string why = scenario::ptp4l_missing_prerequisite();
    if (!why.empty()) {
        GTEST_SKIP() << why;
    }
    qor_errmsg_set_syslog(false);
    std::string log;
    const scenario::transport_type t = GetParam();
    const scenario::result_type r = run_and_show([&t](FILE *f) { return scenario::run_ptp4l(t, f); }, &log);
    expect_whole_way(r, log);
}

INSTANTIATE_TEST_SUITE_P(Transports, PtpScenarioPtp4l, testing::ValuesIn(scenario::TRANSPORTS),
                         [](const testing::TestParamInfo<scenario::transport_type> &i) {
                             const std::string n = i.param.name;
                             return n == "L2"         ? std::string("L2")
                                    : n == "UDP/IPv4" ? std::string("UDPv4")
                                                      : std::string("UDPv6");
                         });

} // namespace
