#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "sockmsg.h"

namespace {

// The daemon program comes up on the socket it is given and leaves nothing behind on SIGTERM.
TEST(PlatformDaemon, ServesOnItsSocketAndStopsCleanlyOnSigterm)
{
    char tmpl[] = "/tmp/platformd_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string path = std::string(tmpl) + "/run/platform.sock";
    setenv("PTP_NODRA_DB", (std::string(tmpl) + "/db/nodra.db").c_str(), 1);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        execl(PLATFORMD_PATH, PLATFORMD_PATH, "--socket", path.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    sockmsg_client_type *c = nullptr;
    for (int i = 0; i < 5000 && c == nullptr; ++i) {
        if (sockmsg_client_connect(path.c_str(), nullptr, nullptr, nullptr, nullptr, &c) != ZERR_OK) {
            c = nullptr;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ASSERT_NE(c, nullptr);
    uint32_t status = 0;
    ASSERT_EQ(sockmsg_client_call(c, 0xfffe, 1, nullptr, 0, &status, nullptr), ZERR_OK);
    EXPECT_EQ(status, SOCKMSG_ERR_NO_SERVICE);
    sockmsg_client_close(c);

    kill(child, SIGTERM);
    int wstatus = 0;
    ASSERT_EQ(waitpid(child, &wstatus, 0), child);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0);
    struct stat st {};
    EXPECT_NE(stat(path.c_str(), &st), 0);
    ASSERT_EQ(system(("rm -rf " + std::string(tmpl)).c_str()), 0);
}

} // namespace
