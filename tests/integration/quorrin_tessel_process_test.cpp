// The chassis as processes: the platform daemon's process manager starts the controller on the
// route processor and an agent on a line card; the controller's announce message crosses group
// messaging and reaches the agent's port manager, which takes the controller's clock as the
// node's local clock. Seen from outside, as an operator would: the agent's trace buffer records
// the announce from the route processor, and its port-manager debug log the local clock it got.
// The agent runs with the stand-ins of its modules not built yet (tessel_with_stand_ins), the
// controller with those of its own (quorrin_standins).
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

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

// The state of a process in the daemon's table ("" when absent).
std::string state_of(const std::string &socket, const std::string &name)
{
    sockmsg_client_type *c = nullptr;
    if (sockmsg_client_connect(socket.c_str(), nullptr, nullptr, nullptr, nullptr, &c) != 0) {
        return "";
    }
    uint32_t status = 0;
    std::vector<uint8_t> reply;
    std::string found;
    if (sockmsg_client_call(c, SYSMGR_SERVICE_ID, SYSMGR_WIRE_LIST, nullptr, 0, &status, &reply) == 0 && status == 0) {
        std::istringstream in(std::string(reply.begin(), reply.end()));
        std::string node, proc, state;
        int pid = 0;
        unsigned restarts = 0;
        while (in >> node >> proc >> pid >> state >> restarts) {
            if (proc == name) {
                found = state;
            }
        }
    }
    sockmsg_client_close(c);
    return found;
}

template <typename F>
bool wait_for(F done)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Lines of the agent's debug logs (one file per process start) that hold `text`.
std::vector<std::string> agent_debug_lines(const std::string &dir, const std::string &text)
{
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(dir + "/debug", ec)) {
        if (entry.path().filename().string().rfind("tessel", 0) != 0) {
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

TEST(ChassisProcesses, TheControllersAnnounceReachesTheAgentsPortManager)
{
    char tmpl[] = "/tmp/quorrin_tessel_process_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string chassis = dir + "/chassis.toml", socket = dir + "/run/platform.sock";
    std::ofstream(chassis) << "[chassis]\nlr_mac = \"02:00:5e:10:00:01\"\n"
                           << "[[node]]\nname = \"0/RP0/CPU0\"\nid = 0x100\nrole = \"rp\"\nkvolm = true\n"
                           << "[[node]]\nname = \"0/1/CPU0\"\nid = 0x10\nrole = \"lc\"\n"
                           << "[[node.interface]]\nname = \"Gi0/1/0/0\"\nhandle = 0x01000100\ntype = 15\n"
                           << "[[process]]\nname = \"quorrin\"\nprogram = \"" << QUORRIN_PATH << "\"\nnodes = \"rp\"\n"
                           << "[[process]]\nname = \"tessel\"\nprogram = \"" << TESSEL_PATH << "\"\nnodes = \"lc\"\n";
    const std::string prefix = "quorrin_tessel_process_test." + std::to_string(getpid()) + ".";
    // The database client library the agent looks for before it binds.
    const std::string library = dir + "/libnodra.so";
    std::ofstream(library) << "";
    child_type daemon = spawn({PLATFORMD_PATH, "--socket", socket}, {{"PTP_CHASSIS", chassis},
                                                                     {"PTP_RUN_DIR", dir},
                                                                     {"PTP_SYSLOG", "0"},
                                                                     {"PTP_CLOCK_PREFIX", prefix},
                                                                     {"SHMWIN_PREFIX", prefix},
                                                                     {"PTP_NODRA_LIB", library},
                                                                     {"PTP_NODRA_DB", dir + "/nodra.db"},
                                                                     {"PTP_DEBUG", "/debug/ptp:port_mgr"}});
    ASSERT_TRUE(wait_for([&] { return state_of(socket, "quorrin") == "ready"; })) << state_of(socket, "quorrin");
    // PTP is configured: the controller's platform clock comes up and it announces.
    std::ofstream(dir + "/commands") << "set /cfg/gl/ptp/pi/enable 1\ncommit\n";
    ASSERT_EQ(std::system((std::string(NODRACTL_PATH) + " --socket " + socket + " -f " + dir + "/commands").c_str()),
              0);
    ASSERT_TRUE(wait_for([&] { return state_of(socket, "tessel") == "ready"; })) << state_of(socket, "tessel");

    const std::string local_clock = std::string("Received local clock information. ID ") + CONTROLLER_CLOCK_ID;
    EXPECT_TRUE(wait_for([&] { return !agent_debug_lines(dir, local_clock).empty(); }))
        << "the agent's port manager got no local clock from the controller";

    // The agent's comms module traced the announce as coming from the route processor.
    jotlog_set_run_dir(dir.c_str());
    const std::string from_rp = [] {
        std::ostringstream id;
        id << "0x" << std::hex << ptp_trace_point_id(PTP_TRACE_TESSEL_COMMS_ANNOUNCE_RECEIVED) << std::dec << "("
           << RP_NODE << ")";
        return id.str();
    }();
    const std::vector<std::string> records = jotlog_test_records("ptp/tessel/sum");
    EXPECT_NE(std::find(records.begin(), records.end(), from_rp), records.end()) << from_rp;
    jotlog_set_run_dir(nullptr);

    EXPECT_EQ(state_of(socket, "quorrin"), "ready") << "the controller kept running";
    EXPECT_EQ(state_of(socket, "tessel"), "ready") << "the agent kept running";
    stop(daemon);
    // The node clocks and the agent's counters window outlive the processes by design; these are
    // the test's own.
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
        if (entry.path().filename().string().rfind(prefix, 0) == 0) {
            shm_unlink(("/" + entry.path().filename().string()).c_str());
        }
    }
    // Kept when the test failed: the processes' traces and debug logs say why.
    if (!::testing::Test::HasFailure()) {
        std::filesystem::remove_all(dir);
    } else {
        std::cerr << "kept " << dir << "\n";
    }
}

} // namespace
