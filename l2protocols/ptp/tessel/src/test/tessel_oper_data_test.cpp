// The running agent's operational data read with the operator's command line: the agent on a
// line card registers its items with the chassis' database, and the command line's get, list and
// action reach its protocol thread and print the bags decoded, before and after the operator
// configures an interface.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "daemon_test_child.h"
#include "nodra_cli.h"
#include "ptp_bags.h"
#include "sockmsg.h"
#include "sysmgr_host.h"

namespace {

template <typename F>
bool wait_for(F done)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::string run(const std::vector<std::string> &lines, int *rc = nullptr)
{
    std::string out;
    const int r = nodra_cli_run(lines, &out);
    if (rc != nullptr) {
        *rc = r;
    }
    return out;
}

// The value of "Name: value" in the command line's output of one bag; empty when absent.
std::string field(const std::string &text, const std::string &name)
{
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const size_t start = line.find_first_not_of(' ');
        if (start != std::string::npos && line.compare(start, name.size() + 2, name + ": ") == 0) {
            return line.substr(start + name.size() + 2);
        }
    }
    return "";
}

TEST(TesselOperData, CommandLineReadsTheRunningAgentsData)
{
    char tmpl[] = "/tmp/tessel_oper_data_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string chassis = dir + "/chassis.toml", socket = dir + "/run/platform.sock";
    std::ofstream(chassis) << "[[node]]\nname = \"0/RP0/CPU0\"\nid = 0x100\nrole = \"rp\"\nkvolm = true\n"
                           << "[[node]]\nname = \"0/1/CPU0\"\nid = 0x10\nrole = \"lc\"\n"
                           << "[[node.interface]]\nname = \"Gi0/1/0/0\"\nhandle = 0x01000100\ntype = 15\n"
                           << "[[process]]\nname = \"tessel\"\nprogram = \"" << TESSEL_PATH << "\"\nnodes = \"lc\"\n";
    // Its own database store, client library file and counters window: nothing of the machine's
    // is read or left.
    const std::string library = dir + "/libnodra.so";
    std::ofstream(library) << "";
    const std::string prefix = "tessel_oper_data_test." + std::to_string(getpid()) + ".";
    child_type daemon = spawn({PLATFORMD_PATH, "--socket", socket}, {{"PTP_CHASSIS", chassis},
                                                                     {"PTP_RUN_DIR", dir},
                                                                     {"PTP_SYSLOG", "0"},
                                                                     {"PTP_CLOCK_PREFIX", prefix},
                                                                     {"PTP_NODRA_LIB", library},
                                                                     {"PTP_NODRA_DB", dir + "/nodra.db"},
                                                                     {"SHMWIN_PREFIX", prefix}});
    setenv("PTP_PLATFORM_SOCKET", socket.c_str(), 1);
    // The operator's side decodes the agent's bags through their descriptions.
    ASSERT_EQ(bag_register_all_ptp_bags(), 0u);

    // The agent's node is 0x10; its items appear once it has registered them.
    const std::string node = "/oper/ptp/node/10/";
    std::string summary;
    ASSERT_TRUE(wait_for([&] {
        int rc = 1;
        summary = run({"get " + node + "summary"}, &rc);
        return rc == 0;
    })) << summary;
    EXPECT_EQ(field(summary, "TotalInterfaces"), "0") << summary;
    EXPECT_EQ(field(summary, "PortStateSlaveCount"), "0") << summary;

    // Without configured interfaces an interface read is answered "not found" by the agent.
    int rc = 0;
    const std::string none = run({"get /oper/ptp/interface/if/Gi0/1/0/0"}, &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_NE(none.find("error: "), std::string::npos) << none;

    // The operator configures the interface; the agent then answers for it.
    const std::string committed = run({"set /cfg/if/act/Gi0/1/0/0/ptp/pi/enable 1", "commit"}, &rc);
    ASSERT_EQ(rc, 0) << committed;
    // It answers as soon as it has the configuration; the interface manager's attributes (line
    // state, type) follow a moment later.
    std::string info;
    ASSERT_TRUE(wait_for([&] {
        int got = 1;
        info = run({"get /oper/ptp/interface/if/Gi0/1/0/0"}, &got);
        return got == 0 && field(info, "LineState") == "3";
    })) << info;
    EXPECT_EQ(field(info, "Name"), "Gi0/1/0/0") << info;
    EXPECT_EQ(field(info, "InterfaceType"), "15") << info;
    EXPECT_EQ(field(info, "LineState"), "3") << info;
    EXPECT_EQ(field(info, "AnnounceTimeout"), "3") << info;
    const std::string names = run({"list /oper/ptp/event-counters/if"}, &rc);
    EXPECT_EQ(rc, 0) << names;
    EXPECT_EQ(names, "Gi0/1/0/0\n");
    ASSERT_TRUE(wait_for([&] {
        summary = run({"get " + node + "summary"});
        return field(summary, "TotalInterfaces") == "1";
    })) << summary;

    // Node counters and their clear through the action path.
    const std::string counters = run({"get " + node + "packet-counters"}, &rc);
    EXPECT_EQ(rc, 0) << counters;
    EXPECT_EQ(field(counters, "TotalPacketsReceived"), "0") << counters;
    const std::string cleared = run({"action /action/ptp/node/10/ma-event-counters 1"}, &rc);
    EXPECT_EQ(rc, 0) << cleared;

    unsetenv("PTP_PLATFORM_SOCKET");
    stop(daemon);
    std::filesystem::remove_all(dir);
    shm_remove_prefixed(prefix);
}

} // namespace
