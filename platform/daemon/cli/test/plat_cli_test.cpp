// The chassis commands of the operator's command line, run as the operator runs them (nodractl)
// against a daemon serving the sample chassis, with an agent-shaped process on each line card.
#include "plat_cli.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

#include "chassis.h"
#include "daemon_test_child.h"
#include "sockmsg.h"

namespace {

class PlatCliTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char tmpl[] = "/tmp/plat_cli_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        socket = dir + "/run/platform.sock";
        const std::string chassis = dir + "/chassis.toml";
        std::ofstream out(chassis);
        copy_chassis_without_programs(chassis_sample_path(), out);
        out << "[[process]]\nname = \"agent\"\nprogram = \"" << SYSMGR_AGENT_PATH << "\"\nnodes = \"lc\"\n";
        out.close();
        daemon = spawn({PLATFORMD_PATH, "--socket", socket},
                       {{"PTP_CHASSIS", chassis}, {"PTP_NODRA_DB", dir + "/db"}, {"PTP_RUN_DIR", dir}});
        ASSERT_TRUE(wait_for_daemon(socket)) << "the daemon did not come up";
        ASSERT_TRUE(wait_for("show processes", "0/2/CPU0 agent PID ready 0"));
    }
    static void TearDownTestSuite()
    {
        stop(daemon);
        std::filesystem::remove_all(dir);
    }
    // What one command prints, pids shown as PID; the exit status in *status.
    static std::string run(const std::string &command, int *status = nullptr)
    {
        const std::string line = std::string(NODRACTL_PATH) + " --socket " + socket + " " + command;
        FILE *p = popen(line.c_str(), "r");
        std::string out;
        char buf[512];
        while (p != nullptr && fgets(buf, sizeof buf, p) != nullptr)
            out += buf;
        const int rc = p != nullptr ? pclose(p) : -1;
        if (status != nullptr)
            *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        return std::regex_replace(out, std::regex("(agent) [0-9-]+ "), "$1 PID ");
    }
    static bool wait_for(const std::string &command, const std::string &text)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (run(command).find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    static std::string dir, socket;
    static child_type daemon;
};
std::string PlatCliTest::dir, PlatCliTest::socket;
child_type PlatCliTest::daemon;

TEST_F(PlatCliTest, ListsNodesAndProcessesAndKillsStopsAndRestartsAProcess)
{
    EXPECT_EQ(run("show nodes"), "name id role redundancy kvolm\n"
                                 "0/RP0/CPU0 0x100 rp active kvolm\n"
                                 "0/1/CPU0 0x10 lc active -\n"
                                 "0/2/CPU0 0x20 lc active -\n");
    ASSERT_TRUE(wait_for("show processes", "0/1/CPU0 agent PID ready 0"));
    EXPECT_EQ(run("show processes"), "node name pid state restarts last\n"
                                     "0/1/CPU0 agent PID ready 0 -\n"
                                     "0/2/CPU0 agent PID ready 0 -\n");

    EXPECT_EQ(run("process kill 0/1/CPU0 agent"), ""); // the manager starts it again
    EXPECT_TRUE(wait_for("show processes", "0/1/CPU0 agent PID ready 1 signal=KILL\n"));
    EXPECT_EQ(run("process stop 0x20 agent"), "");
    EXPECT_TRUE(wait_for("show processes", "0/2/CPU0 agent PID stopped 0 signal=KILL\n"));
    EXPECT_EQ(run("process restart 0/2/CPU0 agent"), "");
    EXPECT_TRUE(wait_for("show processes", "0/2/CPU0 agent PID ready 1 signal=KILL\n"));
}

TEST_F(PlatCliTest, ChangesInterfacesAndFiresPlatformEvents)
{
    EXPECT_EQ(run("interface down 0/1/CPU0 Gi0/1/0/0"), "");
    EXPECT_EQ(run("interface ipv4 0/1/CPU0 Gi0/1/0/0 10.9.9.9,10.9.9.10"), "");
    EXPECT_EQ(run("interface ipv6 0/1/CPU0 Gi0/1/0/1 2001:db8::9"), "");
    EXPECT_EQ(run("interface state 0/1/CPU0 Gi0/1/0/1 admin-down"), "");
    EXPECT_EQ(run("show interfaces 0/1/CPU0"),
              "node name handle state ipv4 ipv6\n"
              "0/1/CPU0 Gi0/1/0/0 0x1000100 down 10.9.9.9,10.9.9.10 "
              "2001:db8:12:0:0:0:0:1\n"
              "0/1/CPU0 Gi0/1/0/1 0x1000101 admin-down 10.1.9.1 2001:db8:0:0:0:0:0:9\n");
    EXPECT_EQ(run("interface ipv4 0/1/CPU0 Gi0/1/0/0 none"), "");
    EXPECT_EQ(run("interface up 0/1/CPU0 Gi0/1/0/0"), "");
    EXPECT_NE(run("show interfaces 0x10").find("\n0/1/CPU0 Gi0/1/0/0 0x1000100 up - 2001:db8:12:0:0:0:0:1\n"),
              std::string::npos);

    EXPECT_EQ(run("event lr 0/RP0/CPU0 4"), "told 0\n"); // nobody registered for it
    EXPECT_EQ(run("link down 0/1/CPU0"), "");
    EXPECT_EQ(run("link up 0/1/CPU0"), "");
    EXPECT_EQ(run("interface drop all"), "told 0\n");
    EXPECT_EQ(run("show links"), "relayed 0 dropped 0\n");
}

TEST_F(PlatCliTest, ErrorsNameTheLineAndTheReason)
{
    struct error_case {
        const char *command;
        const char *reason;
    };
    const error_case cases[] = {
        {"process kill 0/9/CPU0 agent", "no node 0/9/CPU0"},
        {"process kill 0/1/CPU0 nobody", "no such process"},
        {"process bury 0/1/CPU0 agent", "usage: process kill|stop|restart NODE NAME"},
        {"interface up 0/1/CPU0 Gi9/9", "no interface Gi9/9 on 0/1/CPU0"},
        {"interface state 0/1/CPU0 Gi0/1/0/0 sideways", "usage: a line state: up, down, admin-down or a number"},
        {"interface ipv4 0/1/CPU0 Gi0/1/0/0 10.1.1", "usage: addresses separated by commas, or none"},
        {"event lr all four", "usage: event lr NODE|all KIND (a number)"},
        {"show everything", "usage: show nodes|processes|links|interfaces [NODE]"},
    };
    for (const error_case &c : cases) {
        int status = 0;
        EXPECT_EQ(run(c.command, &status), "error: " + std::string(c.command) + ": " + c.reason + "\n");
        EXPECT_EQ(status, 1) << c.command;
    }
    // Not a chassis command at all: left to the database's command line.
    std::string out, error;
    EXPECT_EQ(plat_cli_run({"show", "config"}, &out, &error), -1);
    EXPECT_EQ(plat_cli_run({"commit"}, &out, &error), -1);
}

} // namespace
