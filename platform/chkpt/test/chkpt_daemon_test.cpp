// The checkpoint store served by the platform daemon to processes of their own.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
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
        daemon = fork();
        ASSERT_GE(daemon, 0);
        if (daemon == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            setenv("PTP_CHKPT_DB", (dir + "/chkpt.db").c_str(), 1);
            execl(PLATFORMD_PATH, PLATFORMD_PATH, "--socket", socket.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        ASSERT_TRUE(wait_for_daemon(socket)) << "the daemon did not come up";
    }
    void TearDown() override
    {
        kill(daemon, SIGKILL);
        waitpid(daemon, nullptr, 0);
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
    child_type writer = client({"write", "100"});
    ASSERT_EQ(read_line(writer), "done");
    stop(writer); // kill -9
    child_type reader = client({"read"});
    EXPECT_EQ(read_line(reader), "count 100 last record 99");
    stop(reader);
}

TEST_F(ChkptDaemonTest, AStandbyInAnotherProcessGetsTheTransferAndEveryChange)
{
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

} // namespace
