// The global verifier as a process of the chassis: the platform daemon's process manager starts it
// and the controller on the route processor, and the operator configures them with the command
// line. A refused global value is refused with its text and changes nothing, a valid one is
// applied; the global operational items are read through the verifier from the controller's node;
// and with the last global item removed the verifier leaves by itself.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "bag.h"
#include "chassis_test_util.h"
#include "daemon_test_child.h"
#include "ptp_bags.h"
#include "sockmsg.h"
#include "sysmgr_host.h"

namespace {

// The bytes of a bag as the command line prints them with --hex: "<type 7 0x...>".
std::vector<uint8_t> printed_bag(const std::string &out)
{
    std::vector<uint8_t> bytes;
    const size_t at = out.find("<type 7 0x");
    if (at == std::string::npos) {
        return bytes;
    }
    for (size_t i = at + 10; i + 1 < out.size() && std::isxdigit(static_cast<unsigned char>(out[i])) != 0; i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(out.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

class VerifierProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/sardo_process_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        socket_ = dir_ + "/run/platform.sock";
        prefix_ = "sardo_process_test." + std::to_string(getpid()) + ".";
        std::ofstream(dir_ + "/chassis.toml")
            << "[chassis]\nlr_mac = \"02:00:5e:10:00:01\"\n"
            << "[[node]]\nname = \"0/RP0/CPU0\"\nid = 0x100\nrole = \"rp\"\nkvolm = true\n"
            << "[[process]]\nname = \"quorrin\"\nprogram = \"" << QUORRIN_PATH << "\"\nnodes = \"rp\"\n"
            << "[[process]]\nname = \"sardo\"\nprogram = \"" << SARDO_PATH << "\"\nnodes = \"rp\"\n";
        // The database client library the processes look for before they bind.
        const std::string library = dir_ + "/libnodra.so";
        std::ofstream(library) << "";
        daemon_ = spawn({PLATFORMD_PATH, "--socket", socket_}, {{"PTP_CHASSIS", dir_ + "/chassis.toml"},
                                                                {"PTP_RUN_DIR", dir_},
                                                                {"PTP_SYSLOG", "0"},
                                                                {"PTP_CLOCK_PREFIX", prefix_},
                                                                {"SHMWIN_PREFIX", prefix_},
                                                                {"PTP_NODRA_LIB", library},
                                                                {"PTP_NODRA_DB", dir_ + "/nodra.db"}});
        ASSERT_TRUE(wait_for([&] { return state_of(socket_, "sardo") == "ready"; })) << state_of(socket_, "sardo");
        ASSERT_TRUE(wait_for([&] { return state_of(socket_, "quorrin") == "ready"; })) << state_of(socket_, "quorrin");
    }

    void TearDown() override
    {
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

    // The operator's command line with `commands` (one per line); what it printed.
    std::string ctl(const std::string &commands)
    {
        std::ofstream(dir_ + "/commands") << commands;
        const std::string cmd = std::string(NODRACTL_PATH) + " --hex --socket " + socket_ + " -f " + dir_ + "/commands";
        std::string out;
        if (FILE *p = popen(cmd.c_str(), "r")) {
            char buf[512];
            while (fgets(buf, sizeof buf, p) != nullptr) {
                out += buf;
            }
            pclose(p);
        }
        return out;
    }

    std::string dir_, socket_, prefix_;
    child_type daemon_;
};

TEST_F(VerifierProcess, RefusesAnInvalidGlobalValueWithItsTextAndAppliesAValidOne)
{
    EXPECT_NE(ctl("set /cfg/gl/ptp/pi/enable 1\nset /cfg/gl/ptp/pi/clock/domain 24\ncommit\n").find(": applied\n"),
              std::string::npos);

    // A domain out of range: refused as a whole, with the item's code and text; nothing changes.
    const std::string refused = ctl("set /cfg/gl/ptp/pi/clock/domain 300\nset /cfg/gl/ptp/pi/clock/priority1 9\n"
                                    "commit\n");
    EXPECT_NE(refused.find(": rejected\n  /cfg/gl/ptp/pi/clock/domain: 0x47f2c200 Failed to verify the clock domain "
                           "value. The clock domain must be a value within the specified range\n"),
              std::string::npos)
        << refused;
    // A profile the command line gives whole, but a clock type the default profile does not take.
    const std::string profile = ctl("set /cfg/gl/ptp/pi/clock/profile (0,1)\ncommit\n");
    EXPECT_NE(profile.find("  /cfg/gl/ptp/pi/clock/profile: 0x4f948a00 Failed to verify the clock profile item.\n"),
              std::string::npos)
        << profile;

    // A valid value is applied.
    EXPECT_NE(ctl("set /cfg/gl/ptp/pi/clock/domain 25\ncommit\n").find(": applied\n"), std::string::npos);
    const std::string config = ctl("show config /cfg/gl/\n");
    EXPECT_NE(config.find("/cfg/gl/ptp/pi/clock/domain 25\n"), std::string::npos) << config;
    EXPECT_EQ(config.find("priority1"), std::string::npos) << "nothing of the refused commit was kept";
    EXPECT_EQ(config.find("profile"), std::string::npos) << "nothing of the refused commit was kept";
    EXPECT_EQ(state_of(socket_, "sardo"), "ready");
}

// The global items are read through the verifier from the controller's node: the controller's
// local clock carries the domain just applied, and the summary of the nodes (no agent runs) is all
// zeros rather than an error.
TEST_F(VerifierProcess, ServesTheControllersGlobalItems)
{
    ASSERT_EQ(bag_register_all_ptp_bags(), 0u);
    ASSERT_NE(ctl("set /cfg/gl/ptp/pi/enable 1\nset /cfg/gl/ptp/pi/clock/domain 24\ncommit\n").find(": applied\n"),
              std::string::npos);
    std::string out;
    ptp_local_clock_info local{};
    EXPECT_TRUE(wait_for([&] {
        out = ctl("get /oper/ptp/gl/local-clock\n");
        const std::vector<uint8_t> bytes = printed_bag(out);
        bag_free_indirections(&local, ptp_local_clock_info_bag_getfn());
        return bag_decode(bytes.data(), static_cast<uint32_t>(bytes.size()), &local,
                          ptp_local_clock_info_bag_getfn()) == 0 &&
               local.Domain == 24;
    })) << out;
    bag_free_indirections(&local, ptp_local_clock_info_bag_getfn());

    out = ctl("get /oper/ptp/gl/summary\n");
    const std::vector<uint8_t> bytes = printed_bag(out);
    ptp_summary_info summary{};
    summary.TotalInterfaces = 1;
    ASSERT_EQ(bag_decode(bytes.data(), static_cast<uint32_t>(bytes.size()), &summary, ptp_summary_info_bag_getfn()), 0u)
        << out;
    EXPECT_EQ(summary.TotalInterfaces, 0u);
}

// With the last global item removed, the verifier leaves by itself and is not restarted.
TEST_F(VerifierProcess, LeavesWhenTheLastItemIsRemoved)
{
    ASSERT_NE(ctl("set /cfg/gl/ptp/pi/enable 1\nset /cfg/gl/ptp/pi/clock/domain 24\ncommit\n").find(": applied\n"),
              std::string::npos);
    // PTP cannot be disabled while an item is configured.
    const std::string refused = ctl("delete /cfg/gl/ptp/pi/enable\ncommit\n");
    EXPECT_NE(refused.find("  /cfg/gl/ptp/pi/enable: 0x47f29c00 Failed to verify the global enable item.\n"),
              std::string::npos)
        << refused;
    EXPECT_NE(ctl("delete /cfg/gl/ptp/pi/clock/domain\ncommit\n").find(": applied\n"), std::string::npos);
    EXPECT_EQ(state_of(socket_, "sardo"), "ready");
    EXPECT_NE(ctl("delete /cfg/gl/ptp/pi/enable\ncommit\n").find(": applied (completion pending)\n"),
              std::string::npos);
    EXPECT_TRUE(wait_for([&] { return state_of(socket_, "sardo") == "stopped"; })) << state_of(socket_, "sardo");
}

} // namespace
