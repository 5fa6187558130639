// The agent as a process of the chassis: the platform daemon's process manager starts it on a
// line card, it signals readiness, and after a kill -9 it is started again and ready again.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "daemon_test_child.h"
#include "sockmsg.h"
#include "sysmgr_host.h"

namespace {

struct proc_row {
    std::string state;
    int pid = 0;
    unsigned restarts = 0;
};

// The agent's row in the daemon's process table (empty state when absent).
proc_row row_of(const std::string &socket, const std::string &name)
{
    proc_row out;
    sockmsg_client_type *c = nullptr;
    if (sockmsg_client_connect(socket.c_str(), nullptr, nullptr, nullptr, nullptr, &c) != 0) {
        return out;
    }
    uint32_t status = 0;
    std::vector<uint8_t> reply;
    if (sockmsg_client_call(c, SYSMGR_SERVICE_ID, SYSMGR_WIRE_LIST, nullptr, 0, &status, &reply) == 0 && status == 0) {
        std::istringstream in(std::string(reply.begin(), reply.end()));
        std::string node, proc, state, last;
        int pid = 0;
        unsigned restarts = 0;
        while (in >> node >> proc >> pid >> state >> restarts >> last) {
            if (proc == name) {
                out = proc_row{state, pid, restarts};
            }
        }
    }
    sockmsg_client_close(c);
    return out;
}

template <typename F>
bool wait_for(F done)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

TEST(TesselProcess, StartedReadyKilledRestartedReady)
{
    char tmpl[] = "/tmp/tessel_process_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string chassis = dir + "/chassis.toml", socket = dir + "/run/platform.sock";
    std::ofstream(chassis) << "[[node]]\nname = \"0/RP0/CPU0\"\nid = 0x100\nrole = \"rp\"\nkvolm = true\n"
                           << "[[node]]\nname = \"0/1/CPU0\"\nid = 0x10\nrole = \"lc\"\n"
                           << "[[node.interface]]\nname = \"Gi0/1/0/0\"\nhandle = 0x01000100\ntype = 15\n"
                           << "[[process]]\nname = \"tessel\"\nprogram = \"" << TESSEL_PATH << "\"\nnodes = \"lc\"\n";
    const std::string prefix = "tessel_process_test." + std::to_string(getpid()) + ".";
    // The database client library the agent looks for before it binds.
    const std::string library = dir + "/libnodra.so";
    std::ofstream(library) << "";
    child_type daemon = spawn({PLATFORMD_PATH, "--socket", socket}, {{"PTP_CHASSIS", chassis},
                                                                     {"PTP_RUN_DIR", dir},
                                                                     {"PTP_SYSLOG", "0"},
                                                                     {"PTP_CLOCK_PREFIX", prefix},
                                                                     {"PTP_NODRA_LIB", library},
                                                                     {"PTP_NODRA_DB", dir + "/nodra.db"},
                                                                     {"SHMWIN_PREFIX", prefix}});
    ASSERT_TRUE(wait_for([&] { return row_of(socket, "tessel").state == "ready"; })) << row_of(socket, "tessel").state;
    const proc_row first = row_of(socket, "tessel");
    ASSERT_GT(first.pid, 0);

    ASSERT_EQ(kill(first.pid, SIGKILL), 0);
    ASSERT_TRUE(wait_for([&] {
        const proc_row r = row_of(socket, "tessel");
        return r.state == "ready" && r.pid != first.pid;
    })) << row_of(socket, "tessel").state;
    EXPECT_EQ(row_of(socket, "tessel").restarts, first.restarts + 1);

    stop(daemon);
    std::filesystem::remove_all(dir);
    shm_remove_prefixed(prefix);
}

} // namespace
