// The database hosted by the daemon loses no committed item and never keeps half a commit when
// the daemon is killed with -9, whenever that happens.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#include "nodra.h"
#include "nodra_test.h"

namespace {

class DurabilityTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/nodra_durability.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        socket_ = dir_ + "/run/platform.sock";
        setenv("PTP_NODRA_DB", (dir_ + "/nodra.db").c_str(), 1);
        nodra_test_use_socket(socket_.c_str());
    }

    void TearDown() override
    {
        if (daemon_ > 0) {
            kill(daemon_, SIGKILL);
            waitpid(daemon_, nullptr, 0);
        }
        nodra_test_use_socket(nullptr);
        ASSERT_EQ(system(("rm -rf " + dir_).c_str()), 0);
    }

    void start()
    {
        daemon_ = fork();
        ASSERT_GE(daemon_, 0);
        if (daemon_ == 0) {
            execl(PLATFORMD_PATH, PLATFORMD_PATH, "--socket", socket_.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        // Up once it answers.
        for (int i = 0; i < 5000; ++i) {
            std::vector<nodra_config_item_td> items;
            if (nodra_config_show("/", &items) == ZERR_OK)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        FAIL() << "the daemon did not come up";
    }

    void kill9()
    {
        kill(daemon_, SIGKILL);
        waitpid(daemon_, nullptr, 0);
        daemon_ = -1;
    }

    static zerrno commit(int round, uint32_t items)
    {
        nodra_commit_td *c = nullptr;
        nodra_commit_create(&c);
        for (uint32_t i = 0; i < items; ++i) {
            const std::string path = "/cfg/if/act/Gi0/0/0/" + std::to_string(i) + "/ptp/pi/round";
            const uint32_t v = static_cast<uint32_t>(round);
            nodra_commit_set(c, path.c_str(), NODRA_ITEM_DATATYPE_UINT32, &v, 4);
        }
        nodra_commit_result_td result{};
        const zerrno err = nodra_commit_apply(c, &result);
        nodra_commit_free(c);
        return err;
    }

    // How many items carry each round's value.
    static std::map<uint32_t, uint32_t> rounds()
    {
        std::vector<nodra_config_item_td> items;
        EXPECT_EQ(nodra_config_show("/cfg/", &items), ZERR_OK);
        std::map<uint32_t, uint32_t> count;
        for (const auto &item : items) {
            uint32_t v = 0;
            memcpy(&v, item.value.data(), 4);
            ++count[v];
        }
        return count;
    }

    std::string dir_;
    std::string socket_;
    pid_t daemon_ = -1;
};

TEST_F(DurabilityTest, KillDuringCommitKeepsAllOrNothingOfIt)
{
    constexpr uint32_t items = 3000;
    start();
    ASSERT_EQ(commit(1, items), ZERR_OK);
    for (int round = 2; round <= 7; ++round) {
        SCOPED_TRACE(round);
        // The commit goes out, and the daemon dies somewhere in it (or just after).
        std::thread committer([round] { commit(round, items); });
        std::this_thread::sleep_for(std::chrono::milliseconds(5 * (round - 1)));
        kill9();
        committer.join();
        start();
        std::map<uint32_t, uint32_t> seen = rounds();
        ASSERT_EQ(seen.size(), 1u) << "half a commit was kept";
        EXPECT_EQ(seen.begin()->second, items);
        // Whatever survived, a commit answered as done now survives the next kill.
        ASSERT_EQ(commit(100 + round, items), ZERR_OK);
        kill9();
        start();
        EXPECT_EQ(rounds(), (std::map<uint32_t, uint32_t>{{100 + round, items}}));
    }
}

} // namespace
