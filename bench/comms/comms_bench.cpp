// Group messaging through the platform daemon: the round trip to a member in another process
// (which sends each message back), and messages per second relayed by the daemon.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "comms.h"
#include "daemon_test_child.h"
#include "evm_test.h"
#include "sockmsg.h"

namespace {

struct counts_type {
    uint64_t received = 0;
    comms_member_type peer{};
    bool has_peer = false;
};

void on_msg(comms_conn_type *, void *context, const comms_member_type *, const void *, size_t)
{
    static_cast<counts_type *>(context)->received++;
}

void on_add(comms_conn_type *, void *context, const comms_notification_type *n)
{
    auto *c = static_cast<counts_type *>(context);
    c->peer = n->member;
    c->has_peer = true;
}

// A daemon, an echoing member in another process, and this process's member.
struct chassis_type {
    std::string dir;
    pid_t daemon = -1;
    pid_t echo = -1;
    event_mgr_type *evm = nullptr;
    comms_conn_type *conn = nullptr;
    counts_type counts;

    bool pump_until(uint64_t received)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (counts.received < received) {
            evm_run_until_idle(evm);
            if (std::chrono::steady_clock::now() > end)
                return false;
        }
        return true;
    }

    bool up()
    {
        char tmpl[] = "/tmp/comms_bench.XXXXXX";
        if (mkdtemp(tmpl) == nullptr)
            return false;
        dir = tmpl;
        const std::string socket = dir + "/platform.sock";
        setenv("PTP_PLATFORM_SOCKET", socket.c_str(), 1);
        setenv("PTP_NODE", "0x100", 1);
        daemon = spawn_quiet({PLATFORMD_PATH, "--socket", socket}, nullptr);
        if (!wait_for_daemon(socket))
            return false;
        evm = event_create_manager(nullptr, nullptr, 0);
        if (comms_connect(evm, "BENCH", 2, &conn) != 0 || comms_msg_handler_add(conn, 1, 1, on_msg, &counts) != 0 ||
            comms_notification_handler_add(conn, COMMS_EVENT_MEMBER_ADD, on_add, &counts) != 0)
            return false;
        echo = spawn_quiet({COMMS_PEER_PATH, "BENCH", "echo"}, "0x10");
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!counts.has_peer && std::chrono::steady_clock::now() < end)
            evm_run_until_idle(evm);
        return counts.has_peer;
    }

    ~chassis_type()
    {
        if (conn != nullptr)
            comms_disconnect(conn);
        for (pid_t p : {echo, daemon}) {
            if (p > 0) {
                kill(p, SIGKILL);
                waitpid(p, nullptr, 0);
            }
        }
        if (evm != nullptr)
            event_manager_destroy(evm);
        if (!dir.empty())
            std::filesystem::remove_all(dir);
    }
};

// One message to the member in the other process and its echo back, both through the daemon.
void BM_CommsRoundTrip(benchmark::State &state)
{
    chassis_type c;
    if (!c.up()) {
        state.SkipWithError("chassis did not come up");
        return;
    }
    const std::string body(static_cast<size_t>(state.range(0)), 'x');
    for (auto _ : state) {
        const uint64_t want = c.counts.received + 1;
        comms_msg_send(c.conn, &c.counts.peer, 1, 1, body.data(), body.size(), 0);
        if (!c.pump_until(want)) {
            state.SkipWithError("no echo");
            return;
        }
    }
}
BENCHMARK(BM_CommsRoundTrip)->Arg(64)->Arg(1024)->UseRealTime();

// Messages relayed by the daemon per second: a burst of sends to this process's own member.
void BM_CommsRelayRate(benchmark::State &state)
{
    chassis_type c;
    if (!c.up()) {
        state.SkipWithError("chassis did not come up");
        return;
    }
    const comms_member_type *self = nullptr;
    comms_conn_get_member(c.conn, &self);
    const std::string body(64, 'x');
    constexpr int burst = 1000;
    for (auto _ : state) {
        const uint64_t want = c.counts.received + burst;
        for (int i = 0; i < burst; ++i)
            comms_msg_send(c.conn, self, 1, 1, body.data(), body.size(), 0);
        if (!c.pump_until(want)) {
            state.SkipWithError("messages lost");
            return;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * burst);
}
BENCHMARK(BM_CommsRelayRate)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
