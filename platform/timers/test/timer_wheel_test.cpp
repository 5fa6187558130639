#include "timer_wheel.h"

#include "evm_alarm.h"
#include "evm_test.h"
#include "plat_clock_test.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// A wheel attached to a manager that the test thread runs, on virtual time.
struct wheel_fixture : ::testing::Test {
    event_mgr_type *evm = nullptr;
    tw_wheel_type *wheel = nullptr;
    uint64_t t0 = 0;

    struct fired_type {
        int id;
        uint64_t at_ms;
    };
    std::vector<fired_type> fired;

    // Per-timer behaviour inside its callback.
    struct timer_rec {
        wheel_fixture *fx;
        int id;
        tw_handle_type handle = 0;
        uint32_t rearm_ms = 0;  // periodic when non-zero
        bool rearm_now = false; // re-armed for 0 ms at each firing
        int stop_after = -1;    // stop itself at this many firings
        bool free_itself = false;
        int count = 0;
    };

    void SetUp() override
    {
        plat_clock_use_virtual();
        t0 = fts_get_stamp_fast();
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_EQ(tw_create_wheel_2(16, 32, 0, &wheel, nullptr, nullptr, nullptr, nullptr, 2), ZERR_OK);
        ASSERT_EQ(tw_evm_attach(wheel, evm), ZERR_OK);
    }
    void TearDown() override
    {
        tw_evm_detach(wheel);
        tw_destroy_wheel(wheel);
        event_manager_destroy(evm);
        plat_clock_use_real();
    }
    uint64_t now_ms() const { return (fts_get_stamp_fast() - t0) / 1000000ull; }

    static int on_expiry(tw_wheel_type *w, tw_handle_type handle, void *ctx)
    {
        auto *t = static_cast<timer_rec *>(ctx);
        EXPECT_EQ(handle, t->handle);
        EXPECT_EQ(tw_sleeping_2(w, handle), 1); // disarmed before its callback
        ++t->count;
        t->fx->fired.push_back({t->id, t->fx->now_ms()});
        if (t->free_itself) {
            EXPECT_EQ(tw_untimeout(w, handle), ZERR_OK);
            return 0;
        }
        if (t->rearm_ms != 0 || t->rearm_now) {
            EXPECT_EQ(tw_update(w, handle, t->rearm_ms, 0), ZERR_OK);
        }
        if (t->count == t->stop_after) {
            EXPECT_EQ(tw_stop_2(w, handle), ZERR_OK);
        }
        return 0;
    }
    void arm(timer_rec &t, uint32_t ms)
    {
        ASSERT_EQ(tw_alloc(wheel, on_expiry, &t.handle, &t), ZERR_OK);
        ASSERT_EQ(tw_update(wheel, t.handle, ms, 0), ZERR_OK);
    }
};

} // namespace

TEST_F(wheel_fixture, TimersFireInDeadlineOrderThenArmingOrder)
{
    const struct {
        int id;
        uint32_t ms;
    } table[] = {{1, 300}, {2, 100}, {3, 200}, {4, 100}, {5, 0}, {6, 250}};
    std::vector<timer_rec> timers;
    timers.reserve(std::size(table));
    for (const auto &row : table) {
        timers.push_back({this, row.id});
        arm(timers.back(), row.ms);
    }
    // The 0 ms timer is due at once but nothing fires before the clock is touched.
    EXPECT_TRUE(fired.empty());
    ASSERT_EQ(plat_clock_advance_ms(199), ZERR_OK);
    ASSERT_EQ(fired.size(), 3u);
    ASSERT_EQ(plat_clock_advance_ms(1000), ZERR_OK);
    std::vector<std::pair<int, uint64_t>> got;
    for (const auto &f : fired)
        got.emplace_back(f.id, f.at_ms);
    EXPECT_EQ(got, (std::vector<std::pair<int, uint64_t>>{{5, 0}, {2, 100}, {4, 100}, {3, 200}, {6, 250}, {1, 300}}));
    EXPECT_EQ(tw_armed_count(wheel), 0u);
    EXPECT_EQ(tw_allocated_count(wheel), 6u);
}

TEST_F(wheel_fixture, PeriodicTimerReArmsUntilItStopsItself)
{
    timer_rec t{this, 1};
    t.rearm_ms = 1000;
    t.stop_after = 3;
    arm(t, 1000);
    ASSERT_EQ(plat_clock_advance_s(10), ZERR_OK);
    ASSERT_EQ(fired.size(), 3u);
    EXPECT_EQ(fired[0].at_ms, 1000u);
    EXPECT_EQ(fired[1].at_ms, 2000u);
    EXPECT_EQ(fired[2].at_ms, 3000u);
    EXPECT_EQ(tw_sleeping_2(wheel, t.handle), 1);
    // Stopped, not freed: it can be started again.
    ASSERT_EQ(tw_update(wheel, t.handle, 500, 0), ZERR_OK);
    ASSERT_EQ(plat_clock_advance_ms(500), ZERR_OK);
    EXPECT_EQ(fired.size(), 4u);
}

TEST_F(wheel_fixture, TimerFreedInItsOwnCallbackIsGoneAndItsHandleRefused)
{
    timer_rec gone{this, 1};
    gone.free_itself = true;
    gone.rearm_ms = 100;
    timer_rec other{this, 2};
    arm(gone, 100);
    arm(other, 100);
    ASSERT_EQ(plat_clock_advance_ms(500), ZERR_OK);
    EXPECT_EQ(gone.count, 1);
    EXPECT_EQ(other.count, 1);
    EXPECT_EQ(tw_allocated_count(wheel), 1u);
    EXPECT_EQ(tw_sleeping_2(wheel, gone.handle), -1);
    EXPECT_EQ(tw_update(wheel, gone.handle, 10, 0), TW_ERR_BAD_TIMER);
    EXPECT_EQ(tw_untimeout(wheel, gone.handle), TW_ERR_BAD_TIMER);
    // The freed slot is reused under a new handle; the old one stays refused.
    timer_rec again{this, 3};
    arm(again, 10);
    EXPECT_NE(again.handle, gone.handle);
    EXPECT_EQ(tw_stop_2(wheel, gone.handle), TW_ERR_BAD_TIMER);
    EXPECT_EQ(tw_sleeping_2(wheel, again.handle), 0);
}

TEST_F(wheel_fixture, ReArmingAnArmedTimerMovesItsExpiry)
{
    timer_rec t{this, 1};
    arm(t, 1000);
    ASSERT_EQ(plat_clock_advance_ms(600), ZERR_OK);
    ASSERT_EQ(tw_update(wheel, t.handle, 1000, 0), ZERR_OK);
    uint64_t left = 0;
    ASSERT_EQ(tw_remaining_ms(wheel, t.handle, &left), ZERR_OK);
    EXPECT_EQ(left, 1000u);
    ASSERT_EQ(plat_clock_advance_ms(999), ZERR_OK);
    EXPECT_TRUE(fired.empty());
    ASSERT_EQ(plat_clock_advance_ms(1), ZERR_OK);
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(fired[0].at_ms, 1600u);
}

TEST_F(wheel_fixture, DetachedWheelDoesNotFireAndExpiryCallbackDrivesProcessing)
{
    timer_rec t{this, 1};
    arm(t, 10);
    ASSERT_EQ(tw_evm_detach(wheel), ZERR_OK);
    ASSERT_EQ(plat_clock_advance_ms(20), ZERR_OK);
    EXPECT_TRUE(fired.empty());
    bool more = true;
    ASSERT_EQ(tw_process_next_expired_timer(wheel, &more), ZERR_OK);
    EXPECT_FALSE(more);
    EXPECT_EQ(t.count, 1);
    ASSERT_EQ(tw_evm_attach(wheel, evm), ZERR_OK);
    EXPECT_EQ(tw_evm_attach(wheel, evm), TW_ERR_ATTACHED);
}

// A timer re-armed for 0 ms from its callback, or one armed there, is due at once but belongs to
// the next pass: a pass that took it again would never end while it keeps re-arming, and would
// starve the rest of the event loop.
TEST_F(wheel_fixture, TimerArmedDuringAnExpiryPassWaitsForTheNextPass)
{
    ASSERT_EQ(tw_evm_detach(wheel), ZERR_OK);
    timer_rec again{this, 1};
    again.rearm_now = true;
    again.stop_after = 3;
    timer_rec plain{this, 2};
    timer_rec late{this, 3};
    arm(again, 10);
    arm(plain, 10);
    ASSERT_EQ(plat_clock_advance_ms(10), ZERR_OK);
    // Each pass: the calls up to the one that says no more is due.
    auto pass = [this] {
        std::vector<int> ids;
        const size_t before = fired.size();
        bool more = true;
        for (int calls = 0; more && calls < 10; ++calls)
            EXPECT_EQ(tw_process_next_expired_timer(wheel, &more), ZERR_OK);
        EXPECT_FALSE(more);
        for (size_t i = before; i < fired.size(); ++i)
            ids.push_back(fired[i].id);
        return ids;
    };
    EXPECT_EQ(pass(), (std::vector<int>{1, 2}));
    // Armed between passes for 0 ms: due in the next one, after the timer armed before it.
    arm(late, 0);
    EXPECT_EQ(pass(), (std::vector<int>{1, 3}));
    EXPECT_EQ(pass(), (std::vector<int>{1}));
    EXPECT_EQ(pass(), (std::vector<int>{}));
    EXPECT_EQ(tw_armed_count(wheel), 0u);
}

// Between two passes the manager serves what was queued meanwhile: here another alarm due at the
// same time fires after the first run of a timer that keeps re-arming for 0 ms, not after all of
// them.
TEST_F(wheel_fixture, OtherEventsRunBetweenPassesOfATimerReArmedForNoTime)
{
    timer_rec again{this, 1};
    again.rearm_now = true;
    again.stop_after = 3;
    arm(again, 10);
    evm_alarm_type *other = evm_alarm_new(
        evm,
        [](evm_alarm_type *, void *c) {
            auto *fx = static_cast<wheel_fixture *>(c);
            fx->fired.push_back({9, fx->now_ms()});
        },
        this);
    ASSERT_NE(other, nullptr);
    evm_alarm_set(other, t0 + 10000000ull);
    ASSERT_EQ(plat_clock_advance_ms(10), ZERR_OK);
    std::vector<int> ids;
    for (const auto &f : fired)
        ids.push_back(f.id);
    EXPECT_EQ(ids, (std::vector<int>{1, 9, 1, 1}));
    evm_alarm_free(other);
}

TEST(TimerWheel, WheelsOnTwoThreadsFireInTimeOrderEachOnItsOwnThread)
{
    plat_clock_use_virtual();
    struct side {
        event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
        tw_wheel_type *wheel = nullptr;
        std::thread thread;
        std::atomic<bool> exit{false};
    } sides[2];
    struct log_type {
        std::mutex mu;
        std::vector<std::pair<uint64_t, int>> order; // (time, side)
        side *sides;
    } log{{}, {}, sides};
    struct ctx_type {
        log_type *log;
        int side;
    } ctxs[2] = {{&log, 0}, {&log, 1}};
    auto cb = [](tw_wheel_type *, tw_handle_type, void *c) {
        auto *ctx = static_cast<ctx_type *>(c);
        EXPECT_EQ(std::this_thread::get_id(), ctx->log->sides[ctx->side].thread.get_id());
        std::lock_guard guard(ctx->log->mu);
        ctx->log->order.emplace_back(fts_get_stamp_fast(), ctx->side);
        return 0;
    };
    const uint64_t t0 = fts_get_stamp_fast();
    for (int s = 0; s < 2; ++s) {
        ASSERT_EQ(tw_create_wheel_2(16, 32, 0, &sides[s].wheel, nullptr, nullptr, nullptr, nullptr, 2), ZERR_OK);
        ASSERT_EQ(tw_evm_attach(sides[s].wheel, sides[s].evm), ZERR_OK);
        for (uint32_t ms = 10 + 10 * static_cast<uint32_t>(s); ms <= 100; ms += 20) {
            tw_handle_type h = 0;
            ASSERT_EQ(tw_alloc(sides[s].wheel, cb, &h, &ctxs[s]), ZERR_OK);
            ASSERT_EQ(tw_update(sides[s].wheel, h, ms, 0), ZERR_OK);
        }
        sides[s].thread = std::thread([&sd = sides[s]] {
            while (!sd.exit.load()) {
                event_type *ev = event_block(sd.evm);
                if (ev != nullptr)
                    zq_event_dispatch(ev);
            }
        });
        evm_wait_until_served(sides[s].evm);
    }
    ASSERT_EQ(plat_clock_advance_ms(100), ZERR_OK);
    {
        std::lock_guard guard(log.mu);
        ASSERT_EQ(log.order.size(), 10u);
        for (size_t i = 0; i < log.order.size(); ++i) {
            EXPECT_EQ(log.order[i].first, t0 + (i + 1) * 10000000ull);
            EXPECT_EQ(log.order[i].second, static_cast<int>(i % 2));
        }
    }
    for (auto &sd : sides) {
        sd.exit = true;
        event_manager_wakeup(sd.evm);
        sd.thread.join();
        tw_destroy_wheel(sd.wheel);
        event_manager_destroy(sd.evm);
    }
    plat_clock_use_real();
}

TEST(TimerWheel, RealTimeTimerFiresOnTheServingThread)
{
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    tw_wheel_type *wheel = nullptr;
    ASSERT_EQ(tw_create_wheel_2(16, 32, 0, &wheel, nullptr, nullptr, nullptr, nullptr, 2), ZERR_OK);
    ASSERT_EQ(tw_evm_attach(wheel, evm), ZERR_OK);
    bool fired = false;
    tw_handle_type h = 0;
    ASSERT_EQ(tw_alloc(
                  wheel, [](tw_wheel_type *, tw_handle_type, void *c) { return *static_cast<bool *>(c) = true, 0; }, &h,
                  &fired),
              ZERR_OK);
    const uint64_t start = fts_get_stamp_fast();
    ASSERT_EQ(tw_update(wheel, h, 5, 0), ZERR_OK);
    while (!fired) {
        event_type *ev = event_block(evm);
        ASSERT_NE(ev, nullptr);
        zq_event_dispatch(ev);
    }
    EXPECT_GE(fts_get_stamp_fast() - start, 5000000u);
    tw_destroy_wheel(wheel);
    event_manager_destroy(evm);
}
