// The checkpoint store served by the platform daemon to processes of their own.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "daemon_test_child.h"
#include "sockmsg.h"

namespace {

// The store's processes run as an agent of node 0x10.
child_type spawn_agent(const std::vector<std::string> &args, const std::string &socket)
{
    return spawn(args, {{"PTP_NODE", "0x10"}, {"PTP_PROC_NAME", "agent"}, {"PTP_PLATFORM_SOCKET", socket}});
}

class ChkptDaemonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/chkpt_daemon_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        socket = dir + "/run/platform.sock";
    }
    // The daemon, with a chassis whose processes it starts when one is given.
    void start_daemon(const std::string &chassis = "")
    {
        if (!chassis.empty())
            std::ofstream(dir + "/chassis.toml") << chassis;
        daemon = fork();
        ASSERT_GE(daemon, 0);
        if (daemon == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            setenv("PTP_CHKPT_DB", (dir + "/chkpt.db").c_str(), 1);
            if (!chassis.empty())
                setenv("PTP_CHASSIS", (dir + "/chassis.toml").c_str(), 1);
            execl(PLATFORMD_PATH, PLATFORMD_PATH, "--socket", socket.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        ASSERT_TRUE(wait_for_daemon(socket)) << "the daemon did not come up";
    }
    void TearDown() override
    {
        if (daemon > 0) {
            kill(daemon, SIGTERM); // it stops the processes it started
            waitpid(daemon, nullptr, 0);
        }
        std::filesystem::remove_all(dir);
    }
    child_type client(std::vector<std::string> args)
    {
        args.insert(args.begin(), CHKPT_CLIENT_PATH);
        return spawn_agent(args, socket);
    }
    std::string dir, socket;
    pid_t daemon = -1;
};

TEST_F(ChkptDaemonTest, RecordsOfAWriterKilledWithMinus9AreAllThereForItsNextInstance)
{
    start_daemon();
    child_type writer = client({"write", "100"});
    ASSERT_EQ(read_line(writer), "done");
    stop(writer); // kill -9
    child_type reader = client({"read"});
    EXPECT_EQ(read_line(reader), "count 100 last record 99");
    stop(reader);
}

TEST_F(ChkptDaemonTest, AStandbyInAnotherProcessGetsTheTransferAndEveryChange)
{
    start_daemon();
    child_type first = client({"write", "1"});
    ASSERT_EQ(read_line(first), "done");
    child_type standby = client({"standby"});
    EXPECT_EQ(read_line(standby), "idt 0");
    EXPECT_EQ(read_line(standby), "idt -1");
    stop(first);
    child_type writer = client({"write", "2"});
    ASSERT_EQ(read_line(writer), "done");
    EXPECT_EQ(read_line(standby), "ndt 5 0 ");
    EXPECT_EQ(read_line(standby), "ndt 5 0 record 0");
    EXPECT_EQ(read_line(standby), "ndt 5 0 ");
    EXPECT_EQ(read_line(standby), "ndt 5 0 record 1");
    stop(writer);
    stop(standby);
}

// The same program on every node: each line card's instance has records of its own, the route
// processor's are the program's (its standby would share them).
TEST_F(ChkptDaemonTest, EachLineCardsInstanceOfAProgramKeepsRecordsOfItsOwn)
{
    std::string chassis;
    for (const char *node :
         {"name = \"0/RP0/CPU0\"\nid = 0x100\nrole = \"rp\"\n", "name = \"0/1/CPU0\"\nid = 0x10\nrole = \"lc\"\n",
          "name = \"0/2/CPU0\"\nid = 0x20\nrole = \"lc\"\n"})
        chassis += std::string("[[node]]\n") + node;
    chassis += std::string("[[process]]\nname = \"writer\"\nprogram = \"") + CHKPT_CLIENT_PATH +
               "\"\nargs = [\"write\", \"1\"]\n";
    start_daemon(chassis);
    for (const char *owner : {"writer", "writer@10", "writer@20"}) {
        // The daemon starts the writers itself: wait for each, with a limit on failure only.
        std::string seen;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (seen != "count 1 last record 0" && std::chrono::steady_clock::now() < end) {
            child_type reader =
                spawn({CHKPT_CLIENT_PATH, "read"},
                      {{"PTP_NODE", "0x100"}, {"PTP_PROC_NAME", owner}, {"PTP_PLATFORM_SOCKET", socket}});
            seen = read_line(reader);
            stop(reader);
            if (seen != "count 1 last record 0")
                std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        EXPECT_EQ(seen, "count 1 last record 0") << owner;
    }
}

} // namespace
