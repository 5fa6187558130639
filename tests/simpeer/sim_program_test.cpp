// The simulated grandmaster and slave programs as simulated peers of a chassis interface, their
// frames relayed by the platform daemon: this test process is node 0/1/CPU0 of the sample chassis
// and runs the other end (a slave, then a grandmaster) on Gi0/1/0/1, whose peer is "grandmaster".
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "chassis.h"
#include "daemon_test_child.h"
#include "sim_peer.h"

namespace {

constexpr uint32_t GI1 = 0x01000101;
constexpr uint8_t MAC[6] = {0x02, 0x00, 0x5e, 0x10, 0x01, 0x01};
constexpr uint64_t LOCAL_ID = 0x02005efffe100101ull;
// Real time over the daemon: each relay hop costs well under a millisecond on a quiet machine, but
// a loaded one delays single frames by tens of milliseconds; the median of several exchanges must
// be within the bound.
constexpr int64_t OFFSET_BOUND_NS = 20000000;

int64_t median(std::vector<int64_t> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? INT64_MAX : v[v.size() / 2];
}

class SimProgramTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char tmpl[] = "/tmp/sim_program_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        socket = dir + "/run/platform.sock";
        chassis = dir + "/chassis.toml";
        std::ofstream out(chassis);
        copy_chassis_without_programs(chassis_sample_path(), out);
        out.close();
        setenv("PTP_PLATFORM_SOCKET", socket.c_str(), 1);
        setenv("PTP_CHASSIS", chassis.c_str(), 1);
        setenv("PTP_NODE", "0/1/CPU0", 1);
        daemon = spawn({PLATFORMD_PATH, "--socket", socket}, {{"PTP_NODRA_DB", dir + "/nodra.db"}});
        ASSERT_TRUE(wait_for_daemon(socket)) << "the daemon did not come up";
        evm = event_create_manager(nullptr, nullptr, 0);
    }
    static void TearDownTestSuite()
    {
        event_manager_destroy(evm);
        stop(daemon);
        std::filesystem::remove_all(dir);
    }
    void TearDown() override
    {
        simpeer::endpoint_stop(local);
        stop(program);
    }
    void start_program(const char *path, const std::string &offset, std::vector<std::string> more = {})
    {
        std::vector<std::string> argv = {path, "--peer", "grandmaster", "--offset-ns", offset};
        argv.insert(argv.end(), more.begin(), more.end());
        program = spawn(argv, {{"PTP_PLATFORM_SOCKET", socket}, {"PTP_CHASSIS", chassis}, {"PTP_NODE", ""}});
    }
    // SIGINT, then the program's last lines until it exits; its exit status through *status.
    std::vector<std::string> interrupt(int *status)
    {
        kill(program.pid, SIGINT);
        std::vector<std::string> lines;
        for (std::string l = read_line(program); !l.empty(); l = read_line(program))
            lines.push_back(l);
        waitpid(program.pid, status, 0);
        program.pid = -1;
        return lines;
    }
    static std::string dir, socket, chassis;
    static child_type daemon;
    static event_mgr_type *evm;
    simpeer::endpoint_type *local = nullptr;
    child_type program;
};
std::string SimProgramTest::dir, SimProgramTest::socket, SimProgramTest::chassis;
child_type SimProgramTest::daemon;
event_mgr_type *SimProgramTest::evm;

TEST_F(SimProgramTest, GrandmasterProgramServesASlaveAcrossTheDaemon)
{
    start_program(SIM_GRANDMASTER_PATH, "-3000000");
    EXPECT_EQ(read_line(program), "grandmaster: clock 0x020000fffe000b01, domain 0, priority1 128, class 6, "
                                  "announcing every 2^-3 s, two-step Sync every 2^-4 s");
    simpeer::slave_config_type c;
    c.clock_id = LOCAL_ID;
    ASSERT_EQ(simpeer::slave_start(evm, GI1, MAC, c, nullptr, &local), 0u);
    ASSERT_TRUE(run_until(evm, [&] { return simpeer::slave_status(local).exchanges >= 5; }));
    const simpeer::slave_status_type s = simpeer::slave_status(local);
    EXPECT_EQ(s.master_id, 0x020000fffe000b01ull);
    EXPECT_LT(std::llabs(median(s.offsets_ns) - 3000000), OFFSET_BOUND_NS);
    int status = -1;
    const std::vector<std::string> last = interrupt(&status);
    ASSERT_FALSE(last.empty());
    EXPECT_EQ(last.back().rfind("grandmaster: stopped; ", 0), 0u) << last.back();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Over UDP/IPv4 the daemon carries the IP packets as it does the frames: the grants are
// negotiated across it and the streams follow.
TEST_F(SimProgramTest, GrandmasterProgramGrantsAUnicastSlaveAcrossTheDaemon)
{
    start_program(SIM_GRANDMASTER_PATH, "-3000000", {"--ipv4", "10.1.9.2"});
    EXPECT_EQ(read_line(program), "grandmaster: clock 0x020000fffe000b01, domain 0, priority1 128, class 6, UDP/IPv4 "
                                  "unicast from 10.1.9.2, granting Announce, two-step Sync and Delay-Resp for up to "
                                  "300 s");
    simpeer::slave_config_type c;
    c.clock_id = LOCAL_ID;
    c.transport = simpeer::transport_type::UDP_IPV4;
    c.ipv4 = {10, 1, 9, 1};
    c.master_ipv4 = {10, 1, 9, 2};
    ASSERT_EQ(simpeer::slave_start(evm, GI1, MAC, c, nullptr, &local), 0u);
    ASSERT_TRUE(run_until(evm, [&] { return simpeer::slave_status(local).exchanges >= 3; }));
    EXPECT_EQ(simpeer::endpoint_grants(local).size(), 3u);
    EXPECT_LT(std::llabs(median(simpeer::slave_status(local).offsets_ns) - 3000000), OFFSET_BOUND_NS);
    for (const char *line : {"grandmaster: granted Announce every 2^1 s for 300 s to 10.1.9.1",
                             "grandmaster: granted Sync every 2^0 s for 300 s to 10.1.9.1",
                             "grandmaster: granted Delay-Resp every 2^0 s for 300 s to 10.1.9.1"})
        EXPECT_EQ(read_line(program), line);
    simpeer::endpoint_stop(local); // its Cancel ends the grants there
    local = nullptr;
    EXPECT_EQ(read_line(program), "grandmaster: Announce to 10.1.9.1 cancelled by the slave");
}

TEST_F(SimProgramTest, SlaveProgramReportsItsOffsetsAndASummary)
{
    simpeer::gm_config_type c;
    c.clock_id = LOCAL_ID;
    c.clock_offset_ns = 5000000;
    ASSERT_EQ(simpeer::gm_start(evm, GI1, MAC, c, nullptr, &local), 0u);
    start_program(SIM_SLAVE_PATH, "0");
    EXPECT_EQ(read_line(program), "slave: clock 0x020000fffe000c01, domain 0, free-running, state LISTENING");
    run_until(evm, [] { return false; }); // lets the exchanges run (the helper stops after 10 s)
    EXPECT_EQ(read_line(program), "slave: state SLAVE, master 0x02005efffe100101 (priority1 128, class 6, steps "
                                  "removed 0)");
    std::vector<int64_t> offsets;
    while (offsets.size() < 5) {
        const std::string offset = read_line(program);
        ASSERT_EQ(offset.rfind("slave: offset from master ", 0), 0u) << offset;
        offsets.push_back(std::atoll(offset.c_str() + 26));
    }
    EXPECT_LT(std::llabs(median(offsets) + 5000000), OFFSET_BOUND_NS);
    int status = -1;
    const std::vector<std::string> last = interrupt(&status);
    ASSERT_GE(last.size(), 2u);
    EXPECT_EQ(last[last.size() - 2].rfind("slave: summary: ", 0), 0u) << last[last.size() - 2];
    EXPECT_EQ(last.back().rfind("slave: stopped; ", 0), 0u) << last.back();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(SimProgramTest, APeerNoInterfaceNamesIsRefused)
{
    program = spawn({SIM_SLAVE_PATH, "--peer", "nobody"}, {{"PTP_PLATFORM_SOCKET", socket}, {"PTP_NODE", ""}});
    int status = -1;
    waitpid(program.pid, &status, 0);
    program.pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
}

} // namespace
