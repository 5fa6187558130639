// The daemon's process manager starts the chassis' processes, restarts one that is killed, and
// leaves one that said it was leaving.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "sockmsg.h"
#include "sysmgr_host.h"

namespace {

struct proc_row {
    std::string node, name, state;
    int pid = 0;
    unsigned restarts = 0;
};

// The row of a process in the daemon's table (empty name when absent).
proc_row row_of(sockmsg_client_type *c, const std::string &name)
{
    uint32_t status = 0;
    std::vector<uint8_t> reply;
    if (sockmsg_client_call(c, SYSMGR_SERVICE_ID, SYSMGR_WIRE_LIST, nullptr, 0, &status, &reply) != 0 || status != 0)
        return {};
    std::istringstream in(std::string(reply.begin(), reply.end()));
    proc_row r;
    while (in >> r.node >> r.name >> r.pid >> r.state >> r.restarts)
        if (r.name == name)
            return r;
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

TEST(SysmgrDaemon, StartsWatchesAndRestartsTheChassisProcesses)
{
    char tmpl[] = "/tmp/sysmgr_daemon_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string chassis = dir + "/chassis.toml", socket = dir + "/run/platform.sock";
    std::ofstream(chassis) << "[[node]]\nname = \"0/1/CPU0\"\nid = 0x10\nrole = \"lc\"\n"
                           << "[[process]]\nname = \"agent\"\nprogram = \"" << SYSMGR_AGENT_PATH << "\"\n"
                           << "[[process]]\nname = \"leaver\"\nprogram = \"" << SYSMGR_AGENT_PATH
                           << "\"\nargs = [\"exit\"]\n";
    const pid_t daemon = fork();
    ASSERT_GE(daemon, 0);
    if (daemon == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        setenv("PTP_CHASSIS", chassis.c_str(), 1);
        execl(PLATFORMD_PATH, PLATFORMD_PATH, "--socket", socket.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    sockmsg_client_type *c = nullptr;
    ASSERT_TRUE(
        wait_for([&] { return sockmsg_client_connect(socket.c_str(), nullptr, nullptr, nullptr, nullptr, &c) == 0; }));

    proc_row agent;
    ASSERT_TRUE(wait_for([&] { return (agent = row_of(c, "agent")).state == "ready"; })) << agent.state;
    EXPECT_EQ(agent.node, "0/1/CPU0");
    EXPECT_EQ(agent.restarts, 0u);
    ASSERT_GT(agent.pid, 0);
    proc_row leaver;
    ASSERT_TRUE(wait_for([&] { return (leaver = row_of(c, "leaver")).state == "stopped"; })) << leaver.state;

    kill(agent.pid, SIGKILL);
    proc_row again;
    ASSERT_TRUE(wait_for([&] {
        again = row_of(c, "agent");
        return again.state == "ready" && again.pid != agent.pid;
    })) << again.state;
    EXPECT_EQ(again.restarts, 1u);
    EXPECT_EQ(row_of(c, "leaver").restarts, 0u); // it left by itself: not started again

    // Killing by name through the daemon restarts it too.
    std::vector<uint8_t> req = {0, 0, 0, 0x10, 'a', 'g', 'e', 'n', 't'};
    uint32_t status = 1;
    ASSERT_EQ(sockmsg_client_call(c, SYSMGR_SERVICE_ID, SYSMGR_WIRE_KILL, req.data(), 9, &status, nullptr), 0u);
    EXPECT_EQ(status, 0u);
    ASSERT_TRUE(wait_for([&] { return row_of(c, "agent").restarts == 2 && row_of(c, "agent").state == "ready"; }));

    sockmsg_client_close(c);
    kill(daemon, SIGTERM);
    int ws = 0;
    ASSERT_EQ(waitpid(daemon, &ws, 0), daemon);
    EXPECT_TRUE(WIFEXITED(ws) && WEXITSTATUS(ws) == 0);
    std::filesystem::remove_all(dir);
}

// A chassis description with an error stops the daemon before it serves, with the error's line.
TEST(SysmgrDaemon, ABadChassisDescriptionStopsTheDaemon)
{
    char tmpl[] = "/tmp/sysmgr_daemon_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string chassis = dir + "/chassis.toml", err = dir + "/stderr";
    std::ofstream(chassis) << "[[node]]\nname = \"0/1/CPU0\"\nid = 0x10\nrole = \"xx\"\n";
    const pid_t daemon = fork();
    ASSERT_GE(daemon, 0);
    if (daemon == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        setenv("PTP_CHASSIS", chassis.c_str(), 1);
        if (freopen(err.c_str(), "w", stderr) == nullptr)
            _exit(126);
        execl(PLATFORMD_PATH, PLATFORMD_PATH, "--socket", (dir + "/platform.sock").c_str(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    int ws = 0;
    ASSERT_EQ(waitpid(daemon, &ws, 0), daemon);
    EXPECT_TRUE(WIFEXITED(ws) && WEXITSTATUS(ws) == 1);
    std::ifstream in(err);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, chassis + ":4: node[0].role: \"xx\" is not rp or lc");
    std::filesystem::remove_all(dir);
}

} // namespace
