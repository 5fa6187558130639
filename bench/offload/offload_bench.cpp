// The offload plugin's cost: messages per second it sends for 2000 master sessions on one core
// (Announce every second, two-step Sync 128 times a second each, on virtual time), and the CPU
// for one received Sync of a slave session (taken, timed and posted as a notification).
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "evm.h"
#include "evm_test.h"
#include "pktio_test.h"
#include "plat_clock_test.h"
#include "ptpclock_test.h"
#include "spio.h"

namespace {

const uint8_t MCAST_MAC[6] = {0x01, 0x1b, 0x19, 0, 0, 0};
const uint8_t MASTER_MAC[6] = {0x02, 0, 0, 0, 0x0b, 0x02};

uint64_t notified = 0;
void rx_cb(uint32_t count, ctx_packet_type **packets)
{
    notified += count;
    ctx_free(packets, count);
}
void done_cb(uint32_t, uint32_t *, void *) {}

void put(std::vector<uint8_t> &b, size_t at, uint64_t v, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        b[at + i] = static_cast<uint8_t>(v >> (8 * (n - 1 - i)));
    }
}

struct bench_env {
    event_mgr_type *evm = nullptr;
    spio_conn_type *conn = nullptr;

    bench_env()
    {
        static const std::string prefix = "offload_bench." + std::to_string(getpid()) + ".";
        ptpclock_test_set_prefix(prefix.c_str());
        plat_clock_use_virtual();
        pktio_test_reset();
        pktio_test_offload_log(false);
        evm = event_create_manager(nullptr, nullptr, 0);
        spio_init_params_type p{SPIO_PARAMS_VERSION, rx_cb, nullptr, SPIO_CONN_KIND_ETHERNET, evm};
        spio_init(&p, &conn);
    }
    ~bench_env()
    {
        spio_close(conn);
        event_manager_destroy(evm);
        pktio_test_reset();
        plat_clock_use_real();
        ptpclock_test_unlink("local");
    }
    // One interface (and the far end of its link) per handle.
    void interface(uint32_t ifh)
    {
        const uint8_t mac[6] = {
            2, 0, static_cast<uint8_t>(ifh >> 16), static_cast<uint8_t>(ifh >> 8), static_cast<uint8_t>(ifh), 1};
        pktio_test_intf_add(("Gi0/0/0/" + std::to_string(ifh)).c_str(), ifh, mac);
        pktio_test_intf_add(("peer" + std::to_string(ifh)).c_str(), ifh | 0x800000, mac);
        pktio_test_link(ifh, ifh | 0x800000);
        uint32_t dir = 1, status = 0;
        spio_attach2(conn, 0, 1, &ifh, &dir, &status);
    }
    void create(uint32_t ifh, const std::vector<uint8_t> &key, const std::vector<uint8_t> &data)
    {
        const uint32_t pv = 0;
        const void *k = key.data();
        const void *d = data.data();
        const auto kl = static_cast<uint16_t>(key.size()), dl = static_cast<uint16_t>(data.size());
        spio_offload_request_type req{0, 1, &ifh, &pv, &k, &kl, &d, &dl};
        uint32_t status = 0;
        spio_offload_completion_type done{&status, done_cb, nullptr};
        spio_offload_nb(conn, &req, &done, nullptr);
        evm_run_until_idle(evm);
    }
};

std::vector<uint8_t> master_data(uint8_t log_sync)
{
    std::vector<uint8_t> d(64, 0);
    put(d, 0, 0x0011223344556677ull, 8);
    put(d, 8, 1, 2);
    put(d, 16, 0x0011223344556677ull, 8);
    d[24] = 0x07; // Announce, Sync, Delay-Resp
    d[25] = 128;
    d[26] = 128;
    d[28] = 6;
    d[29] = 0;
    d[30] = log_sync;
    d[40] = 0x02; // two-step
    d[44] = 0;
    return d;
}

// 2000 interface sessions, each on its own interface linked to a peer; every iteration is 100 ms
// of virtual time. items/s is the messages sent per second of CPU. Second argument 1: the
// sessions start at times spread over a Sync interval (as ports that came up one after the other),
// so that each firing has a few sessions due rather than all of them.
void BM_MasterSessionsSend(benchmark::State &state)
{
    const auto sessions = static_cast<uint32_t>(state.range(0));
    const bool spread = state.range(1) != 0;
    bench_env env;
    std::vector<uint8_t> key(8, 0);
    key[0] = 1;
    key[1] = 1;
    std::memcpy(&key[2], MCAST_MAC, 6);
    for (uint32_t i = 1; i <= sessions; i++) {
        env.interface(i);
        env.create(i, key, master_data(0xF9)); // 2^-7 s
        if (spread) {
            plat_clock_advance_ns(7812500 / sessions);
        }
    }
    uint64_t sent = 0;
    for (auto _ : state) {
        const uint64_t before = pktio_test_unclaimed();
        plat_clock_advance_ms(100);
        sent += pktio_test_unclaimed() - before;
    }
    state.SetItemsProcessed(static_cast<int64_t>(sent));
    state.counters["msgs_per_session_s"] =
        benchmark::Counter(static_cast<double>(sent) / sessions / (0.1 * static_cast<double>(state.iterations())));
}
BENCHMARK(BM_MasterSessionsSend)->Args({2000, 0})->Args({2000, 1})->Unit(benchmark::kMillisecond);

// One slave session; each iteration is one one-step Sync from its master arriving on the
// interface: located, matched, timed and posted to the host as a timestamp notification.
void BM_SlaveSyncReceive(benchmark::State &state)
{
    bench_env env;
    env.interface(1);
    std::vector<uint8_t> key(8, 0);
    key[0] = 2;
    key[1] = 1;
    std::memcpy(&key[2], MASTER_MAC, 6);
    std::vector<uint8_t> data(48, 0);
    put(data, 0, 0x0011223344556677ull, 8);
    put(data, 8, 1, 2);
    data[18] = 0x01; // take Sync
    std::memcpy(&data[24], MASTER_MAC, 6);
    env.create(1, key, data);
    pktio_test_rx_type in;
    in.kind = SPIO_CONN_KIND_ETHERNET;
    in.ifhandle = 1;
    in.bytes.assign(14 + 44, 0);
    std::memcpy(&in.bytes[0], MCAST_MAC, 6);
    std::memcpy(&in.bytes[6], MASTER_MAC, 6);
    in.bytes[12] = 0x88;
    in.bytes[13] = 0xF7;
    in.bytes[14 + 1] = 2;
    in.bytes[14 + 3] = 44;
    notified = 0;
    for (auto _ : state) {
        pktio_test_inject(in);
        evm_run_until_idle(env.evm);
    }
    state.SetItemsProcessed(static_cast<int64_t>(notified));
}
BENCHMARK(BM_SlaveSyncReceive);

} // namespace
