// Baselines of the platform core: timers armed and fired on virtual time, asynchronous events
// posted and dispatched (same thread and across threads), blocking message round trips.

#include "evm.h"
#include "evm_test.h"
#include "mgd_timer.h"
#include "plat_clock_test.h"
#include "timer_wheel.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

namespace {

int count_expiry(tw_wheel_type *, tw_handle_type, void *ctx)
{
    ++*static_cast<uint64_t *>(ctx);
    return 0;
}

// N wheel timers with deadlines spread over 1..1000 ms in random order, armed, then fired by
// advancing virtual time 1 s (1000 expiry instants).
void BM_WheelArmAndFire(benchmark::State &state)
{
    const auto n = static_cast<uint32_t>(state.range(0));
    plat_clock_use_virtual();
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    tw_wheel_type *wheel = nullptr;
    tw_create_wheel_2(16, 32, 0, &wheel, nullptr, nullptr, nullptr, nullptr, 2);
    tw_evm_attach(wheel, evm);
    uint64_t fired = 0;
    std::vector<tw_handle_type> handles(n);
    for (auto &h : handles)
        tw_alloc(wheel, count_expiry, &h, &fired);
    std::mt19937 rng(1);
    std::vector<uint32_t> periods(n);
    for (auto &p : periods)
        p = 1 + rng() % 1000;
    for (auto _ : state) {
        for (uint32_t i = 0; i < n; ++i)
            tw_update(wheel, handles[i], periods[i], 0);
        plat_clock_advance_ms(1000);
    }
    if (fired != static_cast<uint64_t>(n) * state.iterations())
        state.SkipWithError("not every timer fired");
    state.SetItemsProcessed(static_cast<int64_t>(fired));
    tw_destroy_wheel(wheel);
    event_manager_destroy(evm);
    plat_clock_use_real();
}
BENCHMARK(BM_WheelArmAndFire)->Arg(100000)->Unit(benchmark::kMillisecond);

// The same with every timer at its own deadline (N expiry instants, one advance step each).
void BM_WheelArmAndFireDistinct(benchmark::State &state)
{
    const auto n = static_cast<uint32_t>(state.range(0));
    plat_clock_use_virtual();
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    tw_wheel_type *wheel = nullptr;
    tw_create_wheel_2(16, 32, 0, &wheel, nullptr, nullptr, nullptr, nullptr, 2);
    tw_evm_attach(wheel, evm);
    uint64_t fired = 0;
    std::vector<tw_handle_type> handles(n);
    for (auto &h : handles)
        tw_alloc(wheel, count_expiry, &h, &fired);
    for (auto _ : state) {
        for (uint32_t i = 0; i < n; ++i)
            tw_update(wheel, handles[i], n - i, 0);
        plat_clock_advance_ms(n);
    }
    state.SetItemsProcessed(static_cast<int64_t>(fired));
    tw_destroy_wheel(wheel);
    event_manager_destroy(evm);
    plat_clock_use_real();
}
BENCHMARK(BM_WheelArmAndFireDistinct)->Arg(100000)->Unit(benchmark::kMillisecond);

struct mgd_bench {
    mgd_timer_tree *tree = nullptr;
    uint64_t fired = 0;
};

int mgd_expired(const event_async_ctx_type *, int32_t, void *ctx)
{
    auto *b = static_cast<mgd_bench *>(ctx);
    while (mgd_timer_leaf *leaf = mgd_timer_tree_first_expired(b->tree)) {
        mgd_timer_leaf_stop(leaf);
        ++b->fired;
    }
    return 0;
}

// N managed leaves over 1..1000 ms, started, then fired by advancing virtual time 1 s.
void BM_MgdLeavesStartAndFire(benchmark::State &state)
{
    const auto n = static_cast<uint32_t>(state.range(0));
    plat_clock_use_virtual();
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    mgd_bench b;
    event_async_ctx_type ev{};
    event_async_attach_event(evm, 128, mgd_expired, &b, &ev);
    b.tree = mgd_timer_tree_new(&ev, 1);
    std::vector<mgd_timer_leaf *> leaves(n);
    std::vector<struct timespec> timeouts(n);
    std::mt19937 rng(1);
    for (uint32_t i = 0; i < n; ++i) {
        leaves[i] = mgd_timer_leaf_new(b.tree, nullptr, 0, nullptr);
        const uint32_t ms = 1 + rng() % 1000;
        timeouts[i] = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    }
    for (auto _ : state) {
        for (uint32_t i = 0; i < n; ++i)
            mgd_timer_leaf_start(leaves[i], &timeouts[i]);
        plat_clock_advance_ms(1000);
    }
    if (b.fired != static_cast<uint64_t>(n) * state.iterations())
        state.SkipWithError("not every leaf fired");
    state.SetItemsProcessed(static_cast<int64_t>(b.fired));
    mgd_timer_tree_free(b.tree);
    event_manager_destroy(evm);
    plat_clock_use_real();
}
BENCHMARK(BM_MgdLeavesStartAndFire)->Arg(100000)->Unit(benchmark::kMillisecond);

int count_async(const event_async_ctx_type *, int32_t, void *ctx)
{
    static_cast<std::atomic<uint64_t> *>(ctx)->fetch_add(1, std::memory_order_relaxed);
    return 0;
}

// Post N events and dispatch them on the same thread.
void BM_PostDispatchSameThread(benchmark::State &state)
{
    const auto n = static_cast<int32_t>(state.range(0));
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    std::atomic<uint64_t> seen{0};
    event_async_ctx_type ev{};
    event_async_attach_event(evm, 128, count_async, &seen, &ev);
    for (auto _ : state) {
        for (int32_t i = 0; i < n; ++i)
            event_send_async(ev.coid, ev.code, i);
        evm_run_until_idle(evm);
    }
    state.SetItemsProcessed(static_cast<int64_t>(seen.load()));
    event_manager_destroy(evm);
}
BENCHMARK(BM_PostDispatchSameThread)->Arg(100000)->Unit(benchmark::kMillisecond);

// Post N events from the benchmark thread to a manager served by another thread; an iteration
// ends when the server has dispatched them all.
void BM_PostDispatchCrossThread(benchmark::State &state)
{
    const auto n = static_cast<int32_t>(state.range(0));
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    std::atomic<uint64_t> seen{0};
    std::atomic<bool> stop{false};
    event_async_ctx_type ev{};
    event_async_attach_event(evm, 128, count_async, &seen, &ev);
    std::thread server([&] {
        while (!stop.load()) {
            event_type *e = event_block(evm);
            if (e != nullptr)
                zq_event_dispatch(e);
        }
    });
    uint64_t target = 0;
    for (auto _ : state) {
        for (int32_t i = 0; i < n; ++i)
            event_send_async(ev.coid, ev.code, i);
        target += static_cast<uint64_t>(n);
        while (seen.load(std::memory_order_relaxed) < target)
            std::this_thread::yield();
    }
    stop = true;
    event_manager_wakeup(evm);
    server.join();
    state.SetItemsProcessed(static_cast<int64_t>(seen.load()));
    event_manager_destroy(evm);
}
BENCHMARK(BM_PostDispatchCrossThread)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// One blocking message and its reply between two threads.
void BM_MsgSendRoundTrip(benchmark::State &state)
{
    event_mgr_type *evm = event_create_manager(nullptr, "/dev/bench", 0);
    event_message_attach(
        evm, 0x8001, 0x0FE5, [](msg_client_type c, void *, size_t, void *) { return msg_reply(c, 0, nullptr, 0); },
        nullptr);
    std::atomic<bool> stop{false};
    std::thread server([&] {
        while (!stop.load()) {
            event_type *e = event_block(evm);
            if (e != nullptr)
                zq_event_dispatch(e);
        }
    });
    int32_t chan = 0;
    msg_chan_connect("/dev/bench", 0, 0, &chan);
    struct {
        uint16_t code = 0x8001;
        uint16_t facility = 0x0FE5;
        uint8_t rest[44] = {};
    } msg;
    for (auto _ : state)
        benchmark::DoNotOptimize(msg_send(chan, &msg, sizeof msg, nullptr, 0));
    stop = true;
    event_manager_wakeup(evm);
    server.join();
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    event_manager_destroy(evm);
}
BENCHMARK(BM_MsgSendRoundTrip)->UseRealTime();

} // namespace
