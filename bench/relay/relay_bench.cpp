// In-memory links between processes, relayed by the platform daemon: the round trip of a frame
// to the far end's process (which sends it back) and frames relayed per second. This process is
// node 0/1/CPU0 of the sample chassis; its Gi0/1/0/0 is linked to Gi0/2/0/0 of 0/2/CPU0.
#include <benchmark/benchmark.h>
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

#include "chassis.h"
#include "ctx.h"
#include "daemon_test_child.h"
#include "evm_test.h"
#include "sockmsg.h"
#include "spio.h"

namespace {

constexpr uint32_t GI0 = 0x01000100;
uint64_t received = 0;

void on_rx(uint32_t count, ctx_packet_type **packets)
{
    received += count;
    ctx_free(packets, count);
}

// A daemon serving the sample chassis, an echoing process on the far node, and this process's
// connection on the near end. Set up once for every benchmark (this process's node is fixed).
struct chassis_type {
    std::string dir;
    pid_t daemon = -1;
    pid_t echo = -1;
    event_mgr_type *evm = nullptr;
    ctx_api_type *api = nullptr;
    spio_conn_type *conn = nullptr;
    bool ok = false;

    chassis_type()
    {
        char tmpl[] = "/tmp/relay_bench.XXXXXX";
        if (mkdtemp(tmpl) == nullptr)
            return;
        dir = tmpl;
        const std::string socket = dir + "/platform.sock", chassis = dir + "/chassis.toml";
        std::ofstream out(chassis);
        copy_chassis_without_programs(chassis_sample_path(), out);
        out.close();
        setenv("PTP_PLATFORM_SOCKET", socket.c_str(), 1);
        setenv("PTP_CHASSIS", chassis.c_str(), 1);
        setenv("PTP_NODRA_DB", (dir + "/nodra.db").c_str(), 1);
        daemon = spawn_quiet({PLATFORMD_PATH, "--socket", socket}, nullptr);
        if (!wait_for_daemon(socket))
            return;
        echo = spawn_quiet({RELAY_PEER_PATH, std::to_string(0x02000100)}, "0/2/CPU0");
        setenv("PTP_NODE", "0/1/CPU0", 1);
        evm = event_create_manager(nullptr, nullptr, 0);
        spio_init_params_type params{SPIO_PARAMS_VERSION, on_rx, nullptr, SPIO_CONN_KIND_ETHERNET, evm};
        uint32_t direction = 1, status = 1;
        ok = ctx_api_init(&api) == 0 && spio_init(&params, &conn) == 0 &&
             spio_attach2(conn, 0, 1, &GI0, &direction, &status) == 0 && status == 0;
        // Until the echo is there.
        for (int i = 0; ok && i < 500 && received == 0; ++i) {
            send(64);
            pump_until(received + 1, std::chrono::milliseconds(20));
        }
        ok = ok && received > 0;
    }

    ~chassis_type()
    {
        spio_close(conn);
        ctx_api_cleanup(api);
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

    void send(size_t size)
    {
        std::vector<uint8_t> frame(size, 0);
        frame[12] = 0x88;
        frame[13] = 0xf7;
        ctx_packet_type *p = ctx_alloc(api, size);
        size_t n = 0;
        ctx_write(p, CTX_LAYER_FRAME, 0, frame.data(), size, &n);
        ctx_set_u32(p, CTX_OPT_OUT_IFHANDLE, GI0);
        ctx_set_u32(p, CTX_OPT_CURRENT_LENGTH, static_cast<uint32_t>(size));
        spio_pd_intf_send(conn, 1, &p, 1, 0);
    }

    bool pump_until(uint64_t want, std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (received < want) {
            evm_run_until_idle(evm);
            if (std::chrono::steady_clock::now() > end)
                return false;
        }
        return true;
    }
};

chassis_type &chassis()
{
    static chassis_type c;
    return c;
}

// One frame to the far end's process and back: two relays by the daemon.
void BM_RelayRoundTrip(benchmark::State &state)
{
    chassis_type &c = chassis();
    if (!c.ok) {
        state.SkipWithError("chassis did not come up");
        return;
    }
    for (auto _ : state) {
        const uint64_t want = received + 1;
        c.send(static_cast<size_t>(state.range(0)));
        if (!c.pump_until(want)) {
            state.SkipWithError("no echo");
            return;
        }
    }
}
BENCHMARK(BM_RelayRoundTrip)->Arg(64)->Arg(1500)->UseRealTime();

// Frames relayed per second: a burst to the far end, each echoed back (two relays per frame).
void BM_RelayRate(benchmark::State &state)
{
    chassis_type &c = chassis();
    if (!c.ok) {
        state.SkipWithError("chassis did not come up");
        return;
    }
    constexpr int burst = 1000;
    for (auto _ : state) {
        const uint64_t want = received + burst;
        for (int i = 0; i < burst; ++i)
            c.send(128);
        if (!c.pump_until(want)) {
            state.SkipWithError("frames lost");
            return;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * burst * 2);
}
BENCHMARK(BM_RelayRate)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
