// Interface configuration through the operator's command line to the agent under the chassis:
// a commit creates the port with its applied values, a refused value leaves it alone, the agent
// leaves with its last interface and is started again, with the configuration replayed, when
// configuration for its node comes back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "daemon_test_child.h"
#include "jotlog.h"
#include "nodra_cli.h"
#include "ptp_trace_points.h"
#include "sockmsg.h"
#include "sysmgr_host.h"

namespace {

struct proc_row {
    std::string state;
    int pid = 0;
};

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
                out = proc_row{state, pid};
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

std::string cli(const std::vector<std::string> &lines)
{
    std::string out;
    nodra_cli_run(lines, &out);
    return out;
}

// The agent's trace records of one point written by process pid: their arguments.
struct trace_search {
    uint64_t id;
    int pid;
    std::vector<std::vector<uint64_t>> found;
};

std::vector<std::vector<uint64_t>> traces(uint64_t id, int pid)
{
    trace_search search{id, pid, {}};
    jotlog_read(
        "0_1_CPU0/ptp/tessel/det", // each node keeps its own buffers: the agent's node's
        [](const jotlog_record_type *r, void *context) {
            auto *s = static_cast<trace_search *>(context);
            if (r->id == s->id && static_cast<int>(r->pid) == s->pid) {
                s->found.emplace_back(r->args, r->args + r->nargs);
            }
            return true;
        },
        &search);
    return search.found;
}

constexpr uint64_t TTL_POINT = ptp_trace_id_of<PTP_TRACE_TESSEL_CFG_IF_IPV4_TTL>;
constexpr uint64_t PORT_CREATED = ptp_trace_id_of<PTP_TRACE_TESSEL_PM_IF_CREATE>;
constexpr uint64_t GI0 = 0x01000100;

TEST(TesselCfgProcess, CommitCreatesThePortExitAndRestartWithReplay)
{
    char tmpl[] = "/tmp/tessel_cfg_process_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string chassis = dir + "/chassis.toml", socket = dir + "/run/platform.sock";
    std::ofstream(chassis) << "[[node]]\nname = \"0/RP0/CPU0\"\nid = 0x100\nrole = \"rp\"\nkvolm = true\n"
                           << "[[node]]\nname = \"0/1/CPU0\"\nid = 0x10\nrole = \"lc\"\n"
                           << "[[node.interface]]\nname = \"Gi0/1/0/0\"\nhandle = 0x01000100\ntype = 15\n"
                           << "ipv4 = [\"10.1.0.1\"]\n"
                           << "[[process]]\nname = \"tessel\"\nprogram = \"" << TESSEL_PATH
                           << "\"\nnodes = \"lc\"\nrestart_on_config = true\n";
    const std::string shm_prefix = "tessel_cfg_process_test." + std::to_string(getpid()) + ".";
    const std::string library = dir + "/libnodra.so";
    std::ofstream(library) << "";
    child_type daemon = spawn({PLATFORMD_PATH, "--socket", socket},
                              {{"PTP_CHASSIS", chassis},
                               {"PTP_RUN_DIR", dir},
                               {"PTP_NODRA_DB", dir + "/nodra.db"},
                               // The agent's counters window outlives it: one of this test's own.
                               {"SHMWIN_PREFIX", shm_prefix},
                               {"PTP_SYSLOG", "0"},
                               {"PTP_CLOCK_PREFIX", "tessel_cfg_process_test." + std::to_string(getpid()) + "."},
                               {"PTP_NODRA_LIB", library}});
    setenv("PTP_PLATFORM_SOCKET", socket.c_str(), 1);
    jotlog_set_run_dir(dir.c_str());
    ASSERT_TRUE(wait_for([&] { return row_of(socket, "tessel").state == "ready"; })) << row_of(socket, "tessel").state;
    const int first = row_of(socket, "tessel").pid;

    const std::string item = "/cfg/if/act/Gi0/1/0/0/ptp/pi/";
    std::string out = cli({"set " + item + "enable 1", "set " + item + "ipv4-ttl 9", "commit"});
    EXPECT_NE(out.find(": applied"), std::string::npos) << out;
    // The port is created on the protocol thread and the item applied with its value.
    EXPECT_TRUE(wait_for([&] { return !traces(PORT_CREATED, first).empty(); }));
    auto ttl = traces(TTL_POINT, first);
    ASSERT_EQ(ttl.size(), 1u);
    // handle, event, old and new interface value, old and new applied value
    EXPECT_EQ(ttl[0][3], 9u);
    EXPECT_EQ(ttl[0][4], 255u);
    EXPECT_EQ(ttl[0][5], 9u);
    // The agent serves the interface's counters (a bag; this process has no bag descriptions).
    out = cli({"get /oper/ptp/event-counters/if/Gi0/1/0/0"});
    EXPECT_EQ(out.rfind("<type 7 ", 0), 0u) << out;

    // A refused value: its text reaches the operator and nothing is applied.
    const size_t applied = traces(TTL_POINT, first).size();
    out = cli({"set " + item + "ipv4-ttl 0", "commit"});
    EXPECT_NE(out.find("rejected"), std::string::npos) << out;
    EXPECT_NE(out.find("Failed to verify the IPv4 TTL value. It must be within the specified range"), std::string::npos)
        << out;
    EXPECT_EQ(traces(TTL_POINT, first).size(), applied);

    // The last interface goes: the agent leaves by itself, and the commit completes.
    out = cli({"delete " + item + "enable", "delete " + item + "ipv4-ttl", "commit"});
    EXPECT_NE(out.find("applied"), std::string::npos) << out;
    ASSERT_TRUE(wait_for([&] { return row_of(socket, "tessel").state == "stopped"; }))
        << row_of(socket, "tessel").state;

    // Configuration for the node comes back: the agent starts again and takes it in.
    out = cli({"set " + item + "enable 1", "set " + item + "ipv4-ttl 12", "commit"});
    EXPECT_NE(out.find(": applied"), std::string::npos) << out;
    ASSERT_TRUE(wait_for([&] {
        const proc_row r = row_of(socket, "tessel");
        return r.state == "ready" && r.pid != first;
    })) << row_of(socket, "tessel").state;
    const int second = row_of(socket, "tessel").pid;
    // No commit's answer waits for the replay: the protocol thread creates the port, then the
    // IPC thread applies the item, and a read between the two would see no item applied.
    EXPECT_TRUE(wait_for([&] { return !traces(PORT_CREATED, second).empty() && !traces(TTL_POINT, second).empty(); }));
    ttl = traces(TTL_POINT, second);
    ASSERT_FALSE(ttl.empty());
    EXPECT_EQ(ttl.back()[5], 12u);
    EXPECT_EQ(traces(PORT_CREATED, second)[0][0], GI0);

    stop(daemon);
    jotlog_set_run_dir(nullptr);
    unsetenv("PTP_PLATFORM_SOCKET");
    std::filesystem::remove_all(dir);
    shm_remove_prefixed(shm_prefix);
}

} // namespace
