// The daemon's process manager starts the chassis' processes, restarts one that is killed, and
// leaves one that said it was leaving.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "evm_test.h"
#include "nodra.h"
#include "sockmsg.h"
#include "sysmgr.h"
#include "sysmgr_host.h"
#include "sysmgr_test.h"

namespace {

struct proc_row {
    std::string node, name, state;
    int pid = 0;
    unsigned restarts = 0;
    std::string last; // how it last ended
};

// The row of a process in the daemon's table (empty name when absent), of a node when given.
proc_row row_of(sockmsg_client_type *c, const std::string &name, const std::string &node = "")
{
    uint32_t status = 0;
    std::vector<uint8_t> reply;
    if (sockmsg_client_call(c, SYSMGR_SERVICE_ID, SYSMGR_WIRE_LIST, nullptr, 0, &status, &reply) != 0 || status != 0)
        return {};
    std::istringstream in(std::string(reply.begin(), reply.end()));
    proc_row r;
    while (in >> r.node >> r.name >> r.pid >> r.state >> r.restarts >> r.last)
        if (r.name == name && (node.empty() || r.node == node))
            return r;
    return {};
}

// The log the manager keeps of a process in the run folder, its times as TIME and pids as PID.
std::string log_of(const std::string &dir, const std::string &file)
{
    std::ifstream in(dir + "/" + file);
    std::stringstream s;
    s << in.rdbuf();
    const std::string text = std::regex_replace(s.str(), std::regex("[0-9-]{10} [0-9:.]{15} "), "TIME ");
    return std::regex_replace(text, std::regex("(pid |\\[)[0-9]+"), "$1PID");
}

// How many times the manager started the process whose log this is.
unsigned starts_in(const std::string &dir, const std::string &file)
{
    const std::string log = log_of(dir, file);
    unsigned n = 0;
    for (size_t at = log.find(" started, pid "); at != std::string::npos; at = log.find(" started, pid ", at + 1))
        ++n;
    return n;
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
        setenv("PTP_RUN_DIR", dir.c_str(), 1);
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
    EXPECT_EQ(leaver.last, "exit=0");
    EXPECT_EQ(agent.last, "-");
    // Its log: the manager's lines, what it wrote on standard error, and its syslog messages.
    EXPECT_EQ(log_of(dir, "0_1_CPU0.leaver.log"), "TIME process manager: 0/1/CPU0 leaver started, pid PID\n"
                                                  "sysmgr_agent: leaving by itself\n"
                                                  "TIME sysmgr_agent[PID]: %PLAT-SYSMGR-6-LEAVING : leaving by itself\n"
                                                  "TIME process manager: 0/1/CPU0 leaver stopped (exit=0)\n");

    kill(agent.pid, SIGKILL);
    proc_row again;
    ASSERT_TRUE(wait_for([&] {
        again = row_of(c, "agent");
        return again.state == "ready" && again.pid != agent.pid;
    })) << again.state;
    EXPECT_EQ(again.restarts, 1u);
    EXPECT_EQ(again.last, "signal=KILL");
    EXPECT_EQ(row_of(c, "leaver").restarts, 0u); // it left by itself: not started again
    EXPECT_EQ(starts_in(dir, "0_1_CPU0.leaver.log"), 1u);

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
    // The daemon's stop is the agent's: SIGTERM, which it does not catch.
    const std::string log = log_of(dir, "0_1_CPU0.agent.log");
    EXPECT_EQ(log.substr(log.rfind('\n', log.size() - 2) + 1),
              "TIME process manager: 0/1/CPU0 agent stopped (signal=TERM)\n");
    std::filesystem::remove_all(dir);
}

zerrno commit_item(const std::string &path, bool set)
{
    nodra_commit_td *c = nullptr;
    nodra_commit_create(&c);
    const uint32_t one = 1;
    if (set)
        nodra_commit_set(c, path.c_str(), NODRA_ITEM_DATATYPE_UINT32, &one, 4);
    else
        nodra_commit_delete(c, path.c_str());
    nodra_commit_result_td result{};
    const zerrno rc = nodra_commit_apply(c, &result);
    nodra_commit_free(c);
    return rc;
}

// The daemon with two line cards, an interface each, and an agent on each card started with the
// given arguments; the test's own database calls go to it.
class TwoCards : public ::testing::Test {
protected:
    void start(const std::string &agent)
    {
        char tmpl[] = "/tmp/sysmgr_daemon_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        const std::string chassis = dir + "/chassis.toml", socket = dir + "/run/platform.sock";
        std::ofstream(chassis) << "[[node]]\nname = \"0/1/CPU0\"\nid = 0x10\nrole = \"lc\"\n"
                               << "[[node.interface]]\nname = \"Gi0/1/0/0\"\nhandle = 1\n"
                               << "[[node]]\nname = \"0/2/CPU0\"\nid = 0x20\nrole = \"lc\"\n"
                               << "[[node.interface]]\nname = \"Gi0/2/0/0\"\nhandle = 1\n"
                               << "[[process]]\nname = \"agent\"\nprogram = \"" << SYSMGR_AGENT_PATH << "\"\n"
                               << agent;
        daemon = fork();
        ASSERT_GE(daemon, 0);
        if (daemon == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            setenv("PTP_CHASSIS", chassis.c_str(), 1);
            setenv("PTP_NODRA_DB", (dir + "/nodra.db").c_str(), 1);
            setenv("PTP_RUN_DIR", dir.c_str(), 1);
            execl(PLATFORMD_PATH, PLATFORMD_PATH, "--socket", socket.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        ASSERT_TRUE(wait_for(
            [&] { return sockmsg_client_connect(socket.c_str(), nullptr, nullptr, nullptr, nullptr, &c) == 0; }));
        setenv("PTP_PLATFORM_SOCKET", socket.c_str(), 1);
    }
    void TearDown() override
    {
        if (c != nullptr)
            sockmsg_client_close(c);
        if (daemon > 0) {
            kill(daemon, SIGTERM);
            int ws = 0;
            ASSERT_EQ(waitpid(daemon, &ws, 0), daemon);
            EXPECT_TRUE(WIFEXITED(ws) && WEXITSTATUS(ws) == 0);
        }
        unsetenv("PTP_PLATFORM_SOCKET");
        std::filesystem::remove_all(dir);
    }
    std::string dir;
    pid_t daemon = -1;
    sockmsg_client_type *c = nullptr;
};

// The agent leaves by itself when its node has no PTP interface left; configuration for one of
// the node's interfaces appearing again starts it again, on that node only. A start of a process
// that left by design is no restart.
TEST_F(TwoCards, ConfigurationForANodeStartsItsAgentAgain)
{
    start("args = [\"exit\"]\nrestart_on_config = true\n");
    for (const char *node : {"0/1/CPU0", "0/2/CPU0"})
        ASSERT_TRUE(wait_for([&] { return row_of(c, "agent", node).state == "stopped"; })) << node;

    ASSERT_EQ(commit_item("/cfg/if/act/Gi0/1/0/0/ptp/pi/enable", true), 0u);
    ASSERT_TRUE(wait_for([&] { // started, and left again
        return starts_in(dir, "0_1_CPU0.agent.log") == 2 && row_of(c, "agent", "0/1/CPU0").state == "stopped";
    }));
    // A change of an item is configuration too; a delete, or an interface no node has, is not.
    ASSERT_EQ(commit_item("/cfg/if/act/Gi0/1/0/0/ptp/pi/enable", false), 0u);
    ASSERT_EQ(commit_item("/cfg/if/act/Gi0/9/0/0/ptp/pi/enable", true), 0u);
    ASSERT_EQ(commit_item("/cfg/if/act/Gi0/1/0/0/ptp/pi/profile", true), 0u);
    ASSERT_TRUE(wait_for([&] {
        return starts_in(dir, "0_1_CPU0.agent.log") == 3 && row_of(c, "agent", "0/1/CPU0").state == "stopped";
    }));
    EXPECT_EQ(starts_in(dir, "0_2_CPU0.agent.log"), 1u);
    const proc_row r = row_of(c, "agent", "0/1/CPU0");
    EXPECT_EQ(r.restarts, 0u);
    EXPECT_EQ(r.last, "exit=0");
}

// A process that leaves with the last global item is started again, on every node, when global
// configuration appears; interface configuration does not start it.
TEST_F(TwoCards, GlobalConfigurationStartsAgainWhatLeftWithTheLastGlobalItem)
{
    start("args = [\"exit\"]\nrestart_on_global_config = true\n");
    for (const char *node : {"0/1/CPU0", "0/2/CPU0"})
        ASSERT_TRUE(wait_for([&] { return row_of(c, "agent", node).state == "stopped"; })) << node;
    ASSERT_EQ(commit_item("/cfg/if/act/Gi0/1/0/0/ptp/pi/enable", true), 0u);
    ASSERT_EQ(commit_item("/cfg/gl/ptp/pi/enable", true), 0u);
    for (const char *node : {"0/1/CPU0", "0/2/CPU0"}) {
        std::string log = std::string(node) + ".agent.log";
        std::replace(log.begin(), log.end(), '/', '_');
        EXPECT_TRUE(wait_for([&] { // started, and left again
            return starts_in(dir, log) == 2 && row_of(c, "agent", node).state == "stopped";
        })) << node;
        EXPECT_EQ(row_of(c, "agent", node).restarts, 0u) << node;
    }
}

// The items of an interface reach the processes of the interface's node only, and its operational
// items are asked of them; the items of an interface the chassis does not name reach every node's.
TEST_F(TwoCards, AnInterfacesConfigurationReachesTheProcessesOfItsNode)
{
    start("args = [\"leave-on-config\"]\n");
    for (const char *node : {"0/1/CPU0", "0/2/CPU0"})
        ASSERT_TRUE(wait_for([&] { return row_of(c, "agent", node).state == "ready"; })) << node;

    // Each interface's operational items are asked of its own node's agent.
    for (const auto &[interface, node] : {std::pair{"Gi0/1/0/0", 0x10u}, std::pair{"Gi0/2/0/0", 0x20u}}) {
        nodra_conn_td *oper = nullptr;
        ASSERT_EQ(nodra_bind(&oper, "/oper/if/", 0), 0u);
        uint32_t type = NODRA_ITEM_DATATYPE_UINT32, length = 0;
        void *data = nullptr;
        ASSERT_EQ(nodra_item_get(oper, interface, &type, &data, &length, 0), 0u) << interface;
        uint32_t answered = 0;
        ASSERT_EQ(length, sizeof answered);
        memcpy(&answered, data, sizeof answered);
        free(data);
        EXPECT_EQ(answered, node) << interface;
        nodra_unbind(oper);
    }

    ASSERT_EQ(commit_item("/cfg/if/act/Gi0/2/0/0/ptp/pi/enable", true), 0u);
    EXPECT_TRUE(wait_for([&] { return row_of(c, "agent", "0/2/CPU0").state == "stopped"; }));
    EXPECT_EQ(row_of(c, "agent", "0/1/CPU0").state, "ready");
    ASSERT_EQ(commit_item("/cfg/if/act/Gi0/9/0/0/ptp/pi/enable", true), 0u);
    EXPECT_TRUE(wait_for([&] { return row_of(c, "agent", "0/1/CPU0").state == "stopped"; }));
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

int on_lr(const sysmgr_lr_event_type *event, void *context)
{
    static_cast<std::vector<sysmgr_lr_event_type> *>(context)->push_back(*event);
    return 0;
}

uint32_t fire(sockmsg_client_type *c, uint32_t node, uint32_t kind)
{
    const uint8_t req[8] = {static_cast<uint8_t>(node >> 24),
                            static_cast<uint8_t>(node >> 16),
                            static_cast<uint8_t>(node >> 8),
                            static_cast<uint8_t>(node),
                            0,
                            0,
                            0,
                            static_cast<uint8_t>(kind)};
    uint32_t status = 1;
    std::vector<uint8_t> reply;
    if (sockmsg_client_call(c, SYSMGR_SERVICE_ID, SYSMGR_WIRE_LR_FIRE, req, sizeof req, &status, &reply) != 0 ||
        status != 0 || reply.size() != 4)
        return UINT32_MAX;
    return reply[3];
}

// A logical-router event fired at the daemon reaches the processes of that node that asked for it.
TEST(SysmgrDaemon, LogicalRouterEventsReachTheProcessesOfTheirNode)
{
    char tmpl[] = "/tmp/sysmgr_daemon_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl, socket = dir + "/platform.sock";
    const pid_t daemon = fork();
    ASSERT_GE(daemon, 0);
    if (daemon == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        execl(PLATFORMD_PATH, PLATFORMD_PATH, "--socket", socket.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    sockmsg_client_type *c = nullptr;
    ASSERT_TRUE(
        wait_for([&] { return sockmsg_client_connect(socket.c_str(), nullptr, nullptr, nullptr, nullptr, &c) == 0; }));

    // This process plays a process of node 0x10.
    setenv("PTP_PLATFORM_SOCKET", socket.c_str(), 1);
    setenv("PTP_NODE", "0x10", 1);
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    std::vector<sysmgr_lr_event_type> seen;
    ASSERT_EQ(sysmgr_register_lr_event(evm, SYSMGR_LR_EVENT_KVOLM_ACTIVE, on_lr, &seen), 0u);
    EXPECT_EQ(fire(c, 0x20, SYSMGR_LR_EVENT_KVOLM_ACTIVE), 0u); // another node's
    EXPECT_EQ(fire(c, 0x10, 3), 0u);                            // a kind nobody asked for
    EXPECT_EQ(fire(c, 0x10, SYSMGR_LR_EVENT_KVOLM_ACTIVE), 1u);
    ASSERT_TRUE(wait_for([&] {
        evm_run_until_idle(evm);
        return !seen.empty();
    }));
    EXPECT_EQ(seen[0].kind, SYSMGR_LR_EVENT_KVOLM_ACTIVE);
    EXPECT_EQ(seen[0].node_id, 0x10u);

    // A client the manager did not start names its node once per connection.
    const uint8_t other_node[8] = {0, 0, 0, 0x20, 0, 0, 0, 4}, same_node[8] = {0, 0, 0, 0x10, 0, 0, 0, 3};
    uint32_t status = 0;
    ASSERT_EQ(sockmsg_client_call(c, SYSMGR_SERVICE_ID, SYSMGR_WIRE_LR_REGISTER, same_node, 8, &status, nullptr), 0u);
    EXPECT_EQ(status, 0u);
    ASSERT_EQ(sockmsg_client_call(c, SYSMGR_SERVICE_ID, SYSMGR_WIRE_LR_REGISTER, other_node, 8, &status, nullptr), 0u);
    EXPECT_EQ(status, SYSMGR_ERR_INVALID);

    sysmgr_test_reset(); // the registration and its connection
    sockmsg_client_close(c);
    kill(daemon, SIGTERM);
    waitpid(daemon, nullptr, 0);
    event_manager_destroy(evm);
    std::filesystem::remove_all(dir);
}

} // namespace
