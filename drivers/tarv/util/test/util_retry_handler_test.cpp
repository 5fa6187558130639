#include "util_retry_handler_private.h"
#include "util_timer_mgd_private.h"

#include "evm_test.h"
#include "plat_clock_test.h"
#include "qor_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A manager run by the test thread on virtual time; times are ms since the fixture began.
struct util_fixture : ::testing::Test {
    event_mgr_type *evm = nullptr;
    uint64_t t0 = 0;

    void SetUp() override
    {
        plat_clock_use_virtual();
        t0 = fts_get_stamp_fast();
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_NE(evm, nullptr);
    }
    void TearDown() override
    {
        event_manager_destroy(evm);
        plat_clock_use_real();
    }
    uint64_t now_ns() const { return fts_get_stamp_fast() - t0; }
};

struct timer_log {
    std::vector<std::string> events;
    std::vector<uint64_t> fired_ns;
    uint64_t t0 = 0;
};

void hook(util_timer_mgr_h_type *, int after, void *context)
{
    static_cast<timer_log *>(context)->events.push_back(after != 0 ? "after" : "before");
}

void fired(util_timer_mgr_h_type *, util_timer_h_type *, uint64_t context)
{
    auto *log = reinterpret_cast<timer_log *>(static_cast<uintptr_t>(context));
    log->events.push_back("fired");
    log->fired_ns.push_back(fts_get_stamp_fast() - log->t0);
}

using timers = util_fixture;

TEST_F(timers, IntervalZeroFiresAtNextDispatchStartKeepsExpiryRestartMovesIt)
{
    timer_log log;
    log.t0 = t0;
    const util_timer_mgr_init_type init = {evm, hook, &log, fired};
    util_timer_mgr_h_type *mgr = nullptr;
    util_timer_mgd_mgr_create(&init, &mgr);
    util_timer_h_type *zero = nullptr, *t = nullptr;
    mgr->ops.create(mgr, 0, reinterpret_cast<uintptr_t>(&log), &zero);
    mgr->ops.create(mgr, 1500, reinterpret_cast<uintptr_t>(&log), &t);

    mgr->ops.restart(mgr, zero);
    ASSERT_EQ(plat_clock_advance_ns(1), ZERR_OK);
    EXPECT_EQ(log.events, (std::vector<std::string>{"before", "fired", "after"}));
    EXPECT_FALSE(mgr->ops.is_running(mgr, zero)); // one-shot

    mgr->ops.start(mgr, t); // due 1500 ms on
    ASSERT_EQ(plat_clock_advance_ms(1000), ZERR_OK);
    mgr->ops.start(mgr, t); // running: keeps its expiry
    ASSERT_EQ(plat_clock_advance_ms(501), ZERR_OK);
    ASSERT_EQ(log.fired_ns.size(), 2u);
    EXPECT_EQ(log.fired_ns[1], 1500000001u); // 1 ns after the zero-interval timer

    mgr->ops.start(mgr, t); // due 1500 ms on
    ASSERT_EQ(plat_clock_advance_ms(1000), ZERR_OK);
    mgr->ops.set_interval_ms(mgr, t, 250);
    EXPECT_EQ(mgr->ops.get_interval_ms(mgr, t), 250u);
    mgr->ops.restart(mgr, t); // moves it to 250 ms from now
    EXPECT_TRUE(mgr->ops.mgr_is_running(mgr));
    ASSERT_EQ(plat_clock_advance_ms(250), ZERR_OK);
    ASSERT_EQ(log.fired_ns.size(), 3u);
    EXPECT_EQ(log.fired_ns[2], 2751000001u);
    EXPECT_FALSE(mgr->ops.mgr_is_running(mgr));

    mgr->ops.start_and_fire(mgr, t);
    ASSERT_EQ(plat_clock_advance_ns(1), ZERR_OK);
    EXPECT_EQ(log.fired_ns.size(), 4u);

    mgr->ops.destroy(mgr, &zero);
    EXPECT_EQ(zero, nullptr);
    mgr->ops.destroy(mgr, &t);
    mgr->ops.mgr_destroy(&mgr);
    EXPECT_EQ(mgr, nullptr);
}

// A retry whose every attempt fails and starts the handler again, as its owners do.
struct retry_owner {
    util_retry_handler_type *handler = nullptr;
    std::vector<uint64_t> attempts_ms;
    uint64_t t0 = 0;
    bool restart = true;
    int long_retries = 0;

    static void attempt(util_retry_handler_type *h, void *context)
    {
        auto *o = static_cast<retry_owner *>(context);
        o->attempts_ms.push_back((fts_get_stamp_fast() - o->t0) / 1000000u);
        if (o->restart) {
            util_retry_handler_start(h);
        }
    }
    static void long_retry(util_retry_handler_type *h)
    {
        auto *o = static_cast<retry_owner *>(h->callback_context);
        o->long_retries++;
    }
};

using retry = util_fixture;

TEST_F(retry, IntervalsDoubleToTheCapAndLongRetriesAreReported)
{
    retry_owner o;
    o.t0 = t0;
    const util_retry_handler_init_type init = {evm, "test retry", retry_owner::attempt,
                                               &o,  nullptr,      retry_owner::long_retry};
    o.handler = util_retry_handler_create(&init);
    util_retry_handler_start(o.handler);
    ASSERT_EQ(plat_clock_advance_ms(127875 + 64000 + 64000), ZERR_OK);

    std::vector<uint64_t> gaps;
    for (size_t i = 0; i < o.attempts_ms.size(); i++) {
        gaps.push_back(o.attempts_ms[i] - (i == 0 ? 0 : o.attempts_ms[i - 1]));
    }
    EXPECT_EQ(gaps, (std::vector<uint64_t>{125, 250, 500, 1000, 2000, 4000, 8000, 16000, 32000, 64000, 64000, 64000}));
    EXPECT_EQ(o.handler->attempts, 12u);
    // Attempts at 127875 ms and before are within 120 s of the start only up to the 9th.
    EXPECT_EQ(o.long_retries, 3);
    util_retry_handler_destroy(&o.handler);
    EXPECT_EQ(o.handler, nullptr);
}

// The logging long-retry callback: one system-log line at each attempt after the first 120 s.
TEST_F(retry, TheLoggingCallbackNamesTheHandlerItsAttemptsAndTheirTime)
{
    qor_errmsg_set_syslog(false);
    qor_errmsg_capture_clear();
    retry_owner o;
    o.t0 = t0;
    const util_retry_handler_init_type init = {evm,     "FIB_Retry_All_Reg",   retry_owner::attempt, &o,
                                               nullptr, util_retry_handler_log};
    o.handler = util_retry_handler_create(&init);
    util_retry_handler_start(o.handler);
    ASSERT_EQ(plat_clock_advance_ms(127875 + 64000), ZERR_OK);
    std::vector<std::string> lines;
    for (const qor_captured_msg &m : qor_errmsg_captured()) {
        lines.push_back(m.mnemonic + " " + std::to_string(m.severity) + " " + m.text);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "COMMS_RETRY_FAILED 4 Communications retry failed: FIB_Retry_All_Reg, still failing after 10 "
                         "attempts over 127 seconds",
                         "COMMS_RETRY_FAILED 4 Communications retry failed: FIB_Retry_All_Reg, still failing after 11 "
                         "attempts over 191 seconds"}));
    util_retry_handler_destroy(&o.handler);
}

TEST_F(retry, RequestWhileRunningRestartsAtTheShortestInterval)
{
    retry_owner o;
    o.t0 = t0;
    const util_retry_handler_init_type init = {evm, "test retry", retry_owner::attempt, &o, nullptr, nullptr};
    o.handler = util_retry_handler_create(&init);
    util_retry_handler_start(o.handler);
    ASSERT_EQ(plat_clock_advance_ms(125 + 250 + 100), ZERR_OK); // next due at 875 ms (500 interval)
    ASSERT_EQ(o.attempts_ms, (std::vector<uint64_t>{125, 375}));

    util_retry_handler_request(o.handler);
    EXPECT_TRUE(util_retry_handler_is_running(o.handler)); // takes effect at the next start
    util_retry_handler_start(o.handler);
    ASSERT_EQ(plat_clock_advance_ms(125), ZERR_OK);
    EXPECT_EQ(o.attempts_ms, (std::vector<uint64_t>{125, 375, 600}));

    util_retry_handler_reset(o.handler);
    EXPECT_FALSE(util_retry_handler_is_running(o.handler));
    EXPECT_EQ(o.handler->attempts, 0u);
    EXPECT_EQ(o.handler->interval_ms, 125u);
    util_retry_handler_destroy(&o.handler);
}

TEST_F(retry, SkippedExpiryMakesNoAttemptAndKeepsTheInterval)
{
    retry_owner o;
    o.t0 = t0;
    o.restart = false;
    const util_retry_handler_init_type init = {evm, "test retry", retry_owner::attempt, &o, nullptr, nullptr};
    o.handler = util_retry_handler_create(&init);
    util_retry_handler_start(o.handler);
    util_retry_handler_skip_next(o.handler);
    ASSERT_EQ(plat_clock_advance_ms(125), ZERR_OK);
    EXPECT_TRUE(o.attempts_ms.empty());
    EXPECT_EQ(o.handler->interval_ms, 125u);
    EXPECT_EQ(o.handler->skip, 0);
    EXPECT_FALSE(util_retry_handler_is_running(o.handler)); // an attempt does not re-arm it
    util_retry_handler_start(o.handler);
    ASSERT_EQ(plat_clock_advance_ms(125), ZERR_OK);
    EXPECT_EQ(o.attempts_ms, (std::vector<uint64_t>{250}));
    util_retry_handler_destroy(&o.handler);
}

TEST_F(retry, HandlersShareAGivenManagerWhichOutlivesThem)
{
    const util_timer_mgr_init_type mgr_init = {evm, nullptr, nullptr, util_retry_handler_timer_fired};
    util_timer_mgr_h_type *mgr = nullptr;
    util_timer_mgd_mgr_create(&mgr_init, &mgr);
    retry_owner a, b;
    a.t0 = b.t0 = t0;
    a.restart = b.restart = false;
    const util_retry_handler_init_type ia = {evm, "a", retry_owner::attempt, &a, mgr, nullptr};
    const util_retry_handler_init_type ib = {evm, "b", retry_owner::attempt, &b, mgr, nullptr};
    a.handler = util_retry_handler_create(&ia);
    b.handler = util_retry_handler_create(&ib);
    util_retry_handler_start(a.handler);
    ASSERT_EQ(plat_clock_advance_ms(100), ZERR_OK);
    util_retry_handler_start(b.handler);
    ASSERT_EQ(plat_clock_advance_ms(200), ZERR_OK);
    EXPECT_EQ(a.attempts_ms, (std::vector<uint64_t>{125}));
    EXPECT_EQ(b.attempts_ms, (std::vector<uint64_t>{225}));
    util_retry_handler_destroy(&a.handler);
    util_retry_handler_start(b.handler);
    EXPECT_TRUE(util_timer_mgd_mgr_is_running(mgr));
    util_retry_handler_destroy(&b.handler);
    EXPECT_FALSE(util_timer_mgd_mgr_is_running(mgr));
    util_timer_mgd_mgr_destroy(&mgr);
}

} // namespace
