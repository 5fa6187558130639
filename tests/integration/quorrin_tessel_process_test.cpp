// The chassis as processes: the platform daemon's process manager starts the controller on the
// route processor and an agent on a line card, and the operator configures them with the command
// line. Seen from outside, through the processes' trace buffers and debug logs: the controller's
// announce crosses group messaging and its clock becomes the agent's local clock; a G.8275.2
// unicast port asks the master of its master table for Announce; failures are logged with their
// texts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "chassis_test_util.h"
#include "daemon_test_child.h"
#include "jotlog.h"
#include "jotlog_test.h"
#include "ptp_trace_points.h"
#include "sockmsg.h"
#include "sysmgr_host.h"

namespace {

// The local clock identity the controller makes of the chassis' MAC address below (an EUI-64).
constexpr const char *CONTROLLER_CLOCK_ID = "0x2005efffe100001";
constexpr uint32_t RP_NODE = 0x100;

// Lines of a program's debug logs (one file per process start) that hold `text`.
std::vector<std::string> debug_lines(const std::string &dir, const std::string &program, const std::string &text)
{
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(dir + "/debug", ec)) {
        if (entry.path().filename().string().rfind(program + ".", 0) != 0) {
            continue;
        }
        std::ifstream in(entry.path());
        for (std::string line; std::getline(in, line);) {
            if (line.find(text) != std::string::npos) {
                out.push_back(line);
            }
        }
    }
    return out;
}

// The chassis under the daemon: the controller on the route processor and an agent on a line card
// with `interfaces` (its [[node.interface]] tables), each in a private run directory, database,
// clocks and counters window. The test commits configuration with the operator's command line.
class ChassisProcesses : public ::testing::Test {
protected:
    void start(const std::string &interfaces)
    {
        char tmpl[] = "/tmp/quorrin_tessel_process_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        socket_ = dir_ + "/run/platform.sock";
        prefix_ = "quorrin_tessel_process_test." + std::to_string(getpid()) + ".";
        std::ofstream(dir_ + "/chassis.toml")
            << "[chassis]\nlr_mac = \"02:00:5e:10:00:01\"\n"
            << "[[node]]\nname = \"0/RP0/CPU0\"\nid = 0x100\nrole = \"rp\"\nkvolm = true\n"
            << "[[node]]\nname = \"0/1/CPU0\"\nid = 0x10\nrole = \"lc\"\n"
            << interfaces << "[[process]]\nname = \"quorrin\"\nprogram = \"" << QUORRIN_PATH << "\"\nnodes = \"rp\"\n"
            << "[[process]]\nname = \"tessel\"\nprogram = \"" << TESSEL_PATH << "\"\nnodes = \"lc\"\n";
        // The database client library the agent looks for before it binds.
        const std::string library = dir_ + "/libnodra.so";
        std::ofstream(library) << "";
        daemon_ = spawn({PLATFORMD_PATH, "--socket", socket_}, {{"PTP_CHASSIS", dir_ + "/chassis.toml"},
                                                                {"PTP_RUN_DIR", dir_},
                                                                {"PTP_SYSLOG", "0"},
                                                                {"PTP_CLOCK_PREFIX", prefix_},
                                                                {"SHMWIN_PREFIX", prefix_},
                                                                {"PTP_NODRA_LIB", library},
                                                                {"PTP_NODRA_DB", dir_ + "/nodra.db"},
                                                                {"PTP_DEBUG", "/debug/ptp:port_mgr,protocol,config"}});
        // Both say they are ready once registered with the database: before that, the database
        // refuses the agent's interface items as items nobody knows.
        for (const char *process : {"quorrin", "tessel"}) {
            ASSERT_TRUE(wait_for([&] { return state_of(socket_, process) == "ready"; }))
                << process << ": " << state_of(socket_, process);
        }
    }

    // Commits `commands` (one per line, without the final commit) with the command line.
    void commit(const std::string &commands)
    {
        std::ofstream(dir_ + "/commands") << commands << "commit\n";
        ASSERT_EQ(
            std::system((std::string(NODRACTL_PATH) + " --socket " + socket_ + " -f " + dir_ + "/commands").c_str()),
            0);
        ASSERT_TRUE(wait_for([&] { return state_of(socket_, "tessel") == "ready"; })) << state_of(socket_, "tessel");
    }

    // Whether the agent's trace buffer `buffer` holds a record of `point` (whatever the format of
    // an address it carries) with the arguments `args` ("" takes any).
    bool agent_traced(const char *buffer, const ptp_trace_point_type &point, const std::string &args = "") const
    {
        return !agent_trace_positions(buffer, point, args).empty();
    }
    // Where in the buffer, oldest first, such records are.
    std::vector<size_t> agent_trace_positions(const char *buffer, const ptp_trace_point_type &point,
                                              const std::string &args = "") const
    {
        // The address-format code sits above bit 40 of a record's id.
        constexpr uint64_t WITHOUT_ADDRESS_FORMAT = (uint64_t{1} << 40) - 1;
        jotlog_set_run_dir(dir_.c_str());
        // Each node keeps its own buffers: the agent's are its line card's.
        const std::vector<std::string> records = jotlog_test_records(("0_1_CPU0/" + std::string(buffer)).c_str());
        jotlog_set_run_dir(nullptr);
        std::vector<size_t> out;
        for (size_t i = 0; i < records.size(); i++) {
            const std::string &r = records[i];
            const size_t open = r.find('(');
            const uint64_t id = std::stoull(r.substr(0, open), nullptr, 16);
            if ((id & WITHOUT_ADDRESS_FORMAT) == (ptp_trace_point_id(point) & WITHOUT_ADDRESS_FORMAT) &&
                (args.empty() || r.substr(open) == "(" + args + ")")) {
                out.push_back(i);
            }
        }
        return out;
    }

    void TearDown() override
    {
        if (!dir_.empty()) {
            EXPECT_EQ(state_of(socket_, "quorrin"), "ready") << "the controller kept running";
            EXPECT_EQ(state_of(socket_, "tessel"), "ready") << "the agent kept running";
        }
        stop(daemon_);
        shm_remove_prefixed(prefix_);
        // Kept when the test failed: the processes' traces and debug logs say why.
        if (!HasFailure()) {
            std::error_code ec;
            std::filesystem::remove_all(dir_, ec);
        } else if (!dir_.empty()) {
            std::cerr << "kept " << dir_ << "\n";
        }
    }

    std::string dir_, socket_, prefix_;
    child_type daemon_;
};

TEST_F(ChassisProcesses, TheControllersAnnounceReachesTheAgentsPortManager)
{
    ASSERT_NO_FATAL_FAILURE(start("[[node.interface]]\nname = \"Gi0/1/0/0\"\nhandle = 0x01000100\ntype = 15\n"));
    // PTP is configured: the controller's platform clock comes up and it announces.
    ASSERT_NO_FATAL_FAILURE(commit("set /cfg/gl/ptp/pi/enable 1\n"));

    const std::string local_clock = std::string("Received local clock information. ID ") + CONTROLLER_CLOCK_ID;
    EXPECT_TRUE(wait_for([&] { return !debug_lines(dir_, "tessel", local_clock).empty(); }))
        << "the agent's port manager got no local clock from the controller";
    // The agent's comms module traced the announce as coming from the route processor.
    EXPECT_TRUE(agent_traced("ptp/tessel/sum", PTP_TRACE_TESSEL_COMMS_ANNOUNCE_RECEIVED, std::to_string(RP_NODE)));
}

// Interfaces configured in the same commit as the global enable: their requests for numbers may be
// on the way when the enable sends the agent's list, which then names none of them. The numbers
// the controller grants are kept all the same: it asks the agent again rather than sweep them.
TEST_F(ChassisProcesses, NumbersRequestedBeforeTheEnableAreKept)
{
    std::string interfaces, commands = "set /cfg/gl/ptp/pi/enable 1\n";
    constexpr int COUNT = 16;
    for (int i = 0; i < COUNT; i++) {
        interfaces += "[[node.interface]]\nname = \"Gi0/1/0/" + std::to_string(i) +
                      "\"\nhandle = " + std::to_string(0x01000100 + i) + "\ntype = 15\n";
        commands += "set /cfg/if/act/Gi0/1/0/" + std::to_string(i) + "/ptp/pi/enable 1\n";
    }
    ASSERT_NO_FATAL_FAILURE(start(interfaces));
    ASSERT_NO_FATAL_FAILURE(commit(commands));
    ASSERT_TRUE(wait_for([&] {
        return agent_traced("ptp/tessel/sum", PTP_TRACE_TESSEL_PORT_NUM_ALLOC_RECEIVED, std::to_string(COUNT));
    })) << "the agent got no numbers";
    // Where the enable's list followed the request, the controller's answer comes once the agent
    // has answered its question again, and names every granted number.
    const std::vector<size_t> requests =
        agent_trace_positions("ptp/tessel/sum", PTP_TRACE_TESSEL_PORT_NUM_REQUEST_SENT);
    const std::vector<size_t> lists = agent_trace_positions("ptp/tessel/sum", PTP_TRACE_TESSEL_PORT_NUM_RESYNC_SENT);
    ASSERT_FALSE(requests.empty());
    ASSERT_FALSE(lists.empty());
    if (lists.back() > requests.front()) {
        EXPECT_TRUE(wait_for([&] {
            return agent_traced("ptp/tessel/sum", PTP_TRACE_TESSEL_PORT_NUM_CTRLR_RESYNC_RECEIVED,
                                std::to_string(COUNT));
        })) << "the controller's list never named the granted numbers";
    }
    EXPECT_FALSE(agent_traced("ptp/tessel/det", PTP_TRACE_TESSEL_PORT_NUM_MISSING));
}

// The trace display tool run as an operator runs it on the agent's node, over the buffers the
// running agent writes: each line "<buffer>: <text>" without its time and pid.
std::vector<std::string> show_jotlog(const std::string &dir, const std::string &args, int *status)
{
    const std::string cmd =
        "PTP_RUN_DIR='" + dir + "' PTP_NODE=0/1/CPU0 '" + PTP_SHOW_JOTLOG_PATH + "' " + args + " 2>&1";
    std::vector<std::string> lines;
    FILE *p = popen(cmd.c_str(), "r");
    if (p == nullptr) {
        return lines;
    }
    char buf[4096];
    while (std::fgets(buf, sizeof buf, p) != nullptr) {
        std::string line(buf);
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
        }
        // "<date> <time> <buffer> <pid>: <text>"
        std::istringstream in(line);
        std::string date, time, buffer, pid;
        in >> date >> time >> buffer >> pid;
        const size_t text = line.find(pid) + pid.size() + 1;
        lines.push_back(buffer + ": " + (text <= line.size() ? line.substr(text) : ""));
    }
    *status = pclose(p);
    return lines;
}

TEST_F(ChassisProcesses, TheTraceToolShowsTheRunningAgentsBuffers)
{
    ASSERT_NO_FATAL_FAILURE(start("[[node.interface]]\nname = \"Gi0/1/0/0\"\nhandle = 0x01000100\ntype = 15\n"));
    ASSERT_NO_FATAL_FAILURE(commit("set /cfg/gl/ptp/pi/enable 1\n"));
    EXPECT_TRUE(wait_for([&] { return agent_traced("ptp/tessel/sum", PTP_TRACE_TESSEL_COMMS_ANNOUNCE_RECEIVED); }));

    int status = -1;
    const std::vector<std::string> all = show_jotlog(dir_, "", &status);
    EXPECT_EQ(status, 0);
    const std::vector<std::string> no_pkt = show_jotlog(dir_, "-B", &status);
    EXPECT_EQ(status, 0);
    const std::vector<std::string> pkt = show_jotlog(dir_, "-A", &status);
    EXPECT_EQ(status, 0);
    // Every record of the agent decodes; the selections split the buffers between them.
    ASSERT_FALSE(no_pkt.empty());
    EXPECT_EQ(all.size(), no_pkt.size() + pkt.size());
    for (const std::string &line : all) {
        EXPECT_EQ(line.find(": id 0x"), std::string::npos) << line;
        EXPECT_NE(line.find(": ["), std::string::npos) << line;
    }
    for (const std::string &line : pkt) {
        EXPECT_EQ(line.rfind("ptp/tessel/pkt: ", 0), 0u) << line;
    }
    for (const std::string &line : no_pkt) {
        EXPECT_NE(line.rfind("ptp/tessel/pkt: ", 0), 0u) << line;
    }
    // The agent's buffer of one-off events, whole.
    std::vector<std::string> unq;
    std::copy_if(all.begin(), all.end(), std::back_inserter(unq),
                 [](const std::string &line) { return line.rfind("ptp/tessel/unq: ", 0) == 0; });
    EXPECT_EQ(unq, (std::vector<std::string>{
                       "ptp/tessel/unq: [Main] Tessel is (re)starting.",
                       "ptp/tessel/unq: [Unknown] The platform specified the following interface capabilities API: 2, "
                       "Flags: 1023, Max Sync Rate: 128, Log Sync Rate: 7",
                       "ptp/tessel/unq: [Config] Received global enable config set.",
                   }));

    show_jotlog(dir_, "-A -B", &status);
    EXPECT_NE(status, 0);
}

// A failure is logged with its text, not its bare code: a profile's multicast value that is not
// the tuple it should be, which the controller ignores.
TEST_F(ChassisProcesses, FailuresAreLoggedWithTheirText)
{
    ASSERT_NO_FATAL_FAILURE(start(""));
    ASSERT_NO_FATAL_FAILURE(commit("set /cfg/gl/ptp/pi/enable 1\nset /cfg/gl/ptp/pi/profile/p/multicast (0,)\n"));
    EXPECT_TRUE(wait_for([&] {
        return !debug_lines(dir_, "quorrin",
                            "'ptp/pi/profile/p/multicast': Failed to unpack the tuple received from Nodra")
                    .empty();
    }));
}

// A G.8275.2 unicast configuration: the port asks the master of its master table for Announce.
TEST_F(ChassisProcesses, AUnicastPortRequestsAnnounceFromItsConfiguredMaster)
{
    ASSERT_NO_FATAL_FAILURE(
        start("[[node.interface]]\nname = \"Gi0/1/0/0\"\nhandle = 0x01000100\ntype = 15\nstate = \"up\"\n"
              "mac = \"02:00:5e:10:01:00\"\nipv4 = [\"10.1.2.1\"]\n"));
    ASSERT_NO_FATAL_FAILURE(commit("set /cfg/gl/ptp/pi/enable 1\n"
                                   "set /cfg/gl/ptp/pi/clock/profile (3,1)\n"
                                   "set /cfg/gl/ptp/pi/profile/ipv4-8275-2/transport 2\n"
                                   "set /cfg/gl/ptp/pi/profile/ipv4-8275-2/multicast (0,0,)\n"
                                   "set /cfg/if/act/Gi0/1/0/0/ptp/pi/enable 1\n"
                                   "set /cfg/if/act/Gi0/1/0/0/ptp/pi/profile ipv4-8275-2\n"
                                   "set /cfg/if/act/Gi0/1/0/0/ptp/pi/master-table/2/-/10.1.2.2/enable 1\n"));

    EXPECT_TRUE(wait_for([&] { return agent_traced("ptp/tessel/pkt", PTP_TRACE_TESSEL_UNICAST_REQUEST_SENT); }))
        << "no Unicast-Request sent to the configured master";
}

} // namespace
