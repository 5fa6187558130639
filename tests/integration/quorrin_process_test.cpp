// The controller as a process of the chassis: the platform daemon's process manager starts it on
// the route processor, it signals readiness, and its announce message reaches the port manager
// of an agent on a line card (the agent's protocol-thread modules, run here as members of that
// node in the daemon); a clock domain and priority committed with the command line change the
// announce the agent gets.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "chassis_test_util.h"
#include "daemon_test_child.h"
#include "evm_test.h"
#include "interop_agent_threads.h"
#include "issul.h"
#include "plat_debug.h"
#include "ptp_debug.h"
#include "scenario.h"
#include "shmwin.h"
#include "sockmsg.h"
#include "sysmgr_host.h"
#include "tessel_bmc.h"
#include "tessel_debug_areas.h"
#include "tessel_issu.h"
#include "tessel_port_mgr.h"
#include "tessel_stats.h"

namespace {

// The local clock identity the controller makes of the chassis' MAC address below.
constexpr uint64_t CONTROLLER_CLOCK_ID = 0x0200'5EFF'FE10'0001;

debug_event_type debug_table[TESSEL_DEBUG_AREA_COUNT];

// Runs the operator's command lines through the database's command line; its exit status.
int nodractl(const std::string &dir, const std::string &socket, const std::string &lines)
{
    const std::string commands = dir + "/commands";
    std::ofstream(commands) << lines;
    const std::string command = std::string(NODRACTL_PATH) + " --socket " + socket + " -f " + commands;
    return std::system(command.c_str());
}

TEST(QuorrinProcess, RunsUnderTheProcessManagerAndItsAnnounceFollowsTheCommittedDomainAndPriority)
{
    char tmpl[] = "/tmp/quorrin_process_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string chassis = dir + "/chassis.toml", socket = dir + "/run/platform.sock";
    const std::string library = dir + "/libnodra.so";
    std::ofstream(library) << "";
    std::ofstream(chassis) << "[chassis]\nlr_mac = \"02:00:5e:10:00:01\"\n"
                           << "[[node]]\nname = \"0/RP0/CPU0\"\nid = 0x100\nrole = \"rp\"\nkvolm = true\n"
                           << "[[node]]\nname = \"0/1/CPU0\"\nid = 0x10\nrole = \"lc\"\n"
                           << "[[process]]\nname = \"quorrin\"\nprogram = \"" << QUORRIN_PATH << "\"\nnodes = \"rp\"\n";
    const std::string prefix = "quorrin_process_test." + std::to_string(getpid()) + ".";
    child_type daemon = spawn({PLATFORMD_PATH, "--socket", socket}, {{"PTP_CHASSIS", chassis},
                                                                     {"PTP_RUN_DIR", dir},
                                                                     {"PTP_SYSLOG", "0"},
                                                                     {"PTP_CLOCK_PREFIX", prefix},
                                                                     {"PTP_NODRA_LIB", library},
                                                                     {"PTP_NODRA_DB", dir + "/nodra.db"}});
    ASSERT_TRUE(wait_for([&] { return state_of(socket, "quorrin") == "ready"; })) << state_of(socket, "quorrin");
    // PTP is configured: the controller's platform clock comes up and it announces.
    ASSERT_EQ(nodractl(dir, socket, "set /cfg/gl/ptp/pi/enable 1\ncommit\n"), 0);

    // The agent of the line card joins the controller's channel.
    setenv("PTP_PLATFORM_SOCKET", socket.c_str(), 1);
    setenv("PTP_CHASSIS", chassis.c_str(), 1);
    setenv("PTP_NODE", "0x10", 1);
    shmwin_test_set_prefix(prefix.c_str());
    shmwin_test_unlink(TESSEL_STATS_SHMWIN_NAME);
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    ASSERT_EQ(ptp_debug_register(evm, debug_table, tessel_debug_areas, TESSEL_DEBUG_AREA_COUNT, nullptr), 0u);
    issul_test_reset();
    issul_test_set_role(ISSUL_ROLE_PRIMARY);
    ASSERT_EQ(tessel_issu_init(evm), 0u);
    ASSERT_EQ(interop::intf_caps_start(false), 0u);
    ASSERT_EQ(scenario::start_checkpoint(evm), 0u); // the daemon's checkpoint store
    scenario::use_database_library(dir);            // the slave-lost trap binds to the daemon's database
    ASSERT_EQ(tessel_port_mgr_init(evm), 0u);
    tessel_port_mgr_ptp_enable();

    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (tessel_port_mgr_get_local_clock() == nullptr && std::chrono::steady_clock::now() < end) {
        if (evm_run_until_idle(evm) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ASSERT_NE(tessel_port_mgr_get_local_clock(), nullptr) << "no announce from the controller";
    EXPECT_EQ(tessel_port_mgr_get_local_clock()->clock_id, CONTROLLER_CLOCK_ID);
    EXPECT_EQ(tessel_port_mgr_get_local_clock()->domain, 0u);
    ASSERT_NE(tessel_bmc_get_advertised_clock(), nullptr);
    EXPECT_EQ(tessel_bmc_get_advertised_clock()->priority1, 128u);

    // The operator commits a domain and a priority; the next announce carries them.
    ASSERT_EQ(
        nodractl(dir, socket, "set /cfg/gl/ptp/pi/clock/domain 24\nset /cfg/gl/ptp/pi/clock/priority1 10\ncommit\n"),
        0);
    const auto changed = [] {
        const ptp_clock_type *advertised = tessel_bmc_get_advertised_clock();
        return tessel_port_mgr_get_local_clock()->domain == 24 && advertised != nullptr && advertised->priority1 == 10;
    };
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!changed() && std::chrono::steady_clock::now() < until) {
        if (evm_run_until_idle(evm) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    EXPECT_EQ(tessel_port_mgr_get_local_clock()->domain, 24u);
    EXPECT_EQ(tessel_bmc_get_advertised_clock()->priority1, 10u);
    EXPECT_EQ(tessel_port_mgr_get_local_clock()->clock_id, CONTROLLER_CLOCK_ID);
    EXPECT_EQ(state_of(socket, "quorrin"), "ready") << "the controller kept running";

    tessel_port_mgr_ptp_disable();
    tessel_bmc_reset();
    tessel_port_mgr_shutdown();
    scenario::stop_checkpoint();
    interop::intf_caps_stop();
    ptp_debug_cleanup();
    event_manager_destroy(evm);
    shmwin_test_unlink(TESSEL_STATS_SHMWIN_NAME);
    stop(daemon);
    unsetenv("PTP_NODE");
    unsetenv("PTP_CHASSIS");
    unsetenv("PTP_PLATFORM_SOCKET");
    shm_remove_prefixed(prefix);
    std::filesystem::remove_all(dir);
}

} // namespace
