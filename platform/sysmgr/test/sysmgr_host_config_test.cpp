// The process manager, hosted in this process, starts a process that left by itself again only
// for configuration committed after it said it was leaving: the notification of a commit it had
// seen, come late from the database's watch, leaves it stopped.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "evm.h"
#include "sockmsg.h"
#include "sysmgr_host.h"

namespace {

struct proc_row {
    std::string state;
    int pid = 0;
    unsigned restarts = 0;
};

proc_row row_of(const std::string &name)
{
    std::istringstream table(sysmgr_host_process_table());
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream in(line);
        std::string node, proc;
        proc_row r;
        if (in >> node >> proc >> r.pid >> r.state >> r.restarts && proc == name)
            return r;
    }
    return {};
}

template <typename F>
bool wait_for(F done)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The configuration's last commit as the manager reads it when a process says it is leaving.
std::atomic<uint32_t> last_commit{0};
uint32_t config_sequence(void)
{
    return last_commit.load();
}

// Two processes of one line card that say they are leaving and wait to be killed: one started
// again by interface configuration of its node, one by global configuration.
class HostedManager : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/sysmgr_host_config_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        const std::string chassis = dir + "/chassis.toml", socket = dir + "/run/platform.sock";
        std::ofstream(chassis) << "[[node]]\nname = \"0/1/CPU0\"\nid = 0x10\nrole = \"lc\"\n"
                               << "[[node.interface]]\nname = \"Gi0/1/0/0\"\nhandle = 1\n"
                               << "[[process]]\nname = \"agent\"\nprogram = \"" << SYSMGR_AGENT_PATH << "\"\n"
                               << "args = [\"linger\"]\nrestart_on_config = true\n"
                               << "[[process]]\nname = \"verifier\"\nprogram = \"" << SYSMGR_AGENT_PATH << "\"\n"
                               << "args = [\"linger\"]\nrestart_on_global_config = true\n";
        setenv("PTP_CHASSIS", chassis.c_str(), 1);
        setenv("PTP_PLATFORM_SOCKET", socket.c_str(), 1);
        setenv("PTP_RUN_DIR", dir.c_str(), 1); // the processes' logs
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_NE(evm, nullptr);
        ASSERT_EQ(sockmsg_server_create(evm, socket.c_str(), &server), 0u);
        last_commit = 7;
        sysmgr_host_set_config_sequence(config_sequence);
        ASSERT_EQ(sysmgr_host_init(evm, server), 0u);
        loop = std::thread([this] {
            while (!stop) {
                if (event_type *e = event_block(evm))
                    zq_event_dispatch(e);
            }
            sockmsg_server_destroy(server);
        });
    }
    void TearDown() override
    {
        stop = true;
        event_manager_wakeup(evm);
        if (loop.joinable())
            loop.join();
        sysmgr_host_shutdown();
        sysmgr_host_set_config_sequence(nullptr);
        event_manager_destroy(evm);
        unsetenv("PTP_PLATFORM_SOCKET");
        unsetenv("PTP_RUN_DIR");
        std::filesystem::remove_all(dir);
    }
    std::string dir;
    event_mgr_type *evm = nullptr;
    sockmsg_server_type *server = nullptr;
    std::thread loop;
    std::atomic<bool> stop{false};
};

TEST_F(HostedManager, OnlyConfigurationCommittedAfterAProcessLeftStartsItAgain)
{
    struct case_type {
        const char *process;
        uint32_t (*appeared)(uint32_t sequence);
    };
    const case_type cases[] = {
        {"agent", [](uint32_t sequence) { return sysmgr_host_config_appeared(0x10, sequence); }},
        {"verifier", [](uint32_t sequence) { return sysmgr_host_global_config_appeared(sequence); }},
    };
    // Both have said they are leaving on commit 7 before the first case moves the configuration
    // on: one saying so later would have left on commit 8.
    for (const case_type &c : cases)
        ASSERT_TRUE(wait_for([&] { return row_of(c.process).state == "exiting"; })) << c.process;
    for (const case_type &c : cases) {
        SCOPED_TRACE(c.process);
        last_commit = 7;
        ASSERT_TRUE(wait_for([&] { return row_of(c.process).state == "exiting"; })) << row_of(c.process).state;
        const proc_row leaving = row_of(c.process);

        // Commit 7's notification while it is leaving, and again once it is gone: it left on that
        // configuration.
        EXPECT_EQ(c.appeared(7), 0u);
        ASSERT_EQ(kill(leaving.pid, SIGKILL), 0);
        ASSERT_TRUE(wait_for([&] { return row_of(c.process).state == "stopped"; })) << row_of(c.process).state;
        EXPECT_EQ(c.appeared(6), 0u);
        EXPECT_EQ(c.appeared(7), 0u);
        EXPECT_EQ(row_of(c.process).state, "stopped");

        // Commit 8 came after: it is started, and says again it is leaving.
        last_commit = 8;
        EXPECT_EQ(c.appeared(8), 1u);
        ASSERT_TRUE(wait_for([&] {
            const proc_row r = row_of(c.process);
            return r.state == "exiting" && r.pid != leaving.pid;
        })) << row_of(c.process).state;

        // Commit 9 while it is leaving: it is started again once it is gone.
        const proc_row again = row_of(c.process);
        EXPECT_EQ(c.appeared(9), 1u);
        ASSERT_EQ(kill(again.pid, SIGKILL), 0);
        EXPECT_TRUE(wait_for([&] {
            const proc_row r = row_of(c.process);
            return r.state == "exiting" && r.pid != again.pid;
        })) << row_of(c.process).state;
    }
}

} // namespace
