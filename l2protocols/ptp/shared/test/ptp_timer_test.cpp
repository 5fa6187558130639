#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "evm.h"
#include "plat_clock_test.h"
#include "ptp_timer.h"
#include "qor_log.h"

namespace {

// Runs the wheel on a manager of the test thread, on virtual time.
class PtpTimer : public ::testing::Test {
protected:
    void SetUp() override
    {
        static uint64_t start_s = 100000;
        start_s += 3600; // no rate limit carries over between tests
        plat_clock_use_virtual_at(start_s * 1000000000ull, PLAT_CLOCK_VIRTUAL_WALL_START_S);
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_NE(evm, nullptr);
        ASSERT_EQ(ptp_timer_init(evm, 16, 32, nullptr, nullptr, 9, nullptr), ZERR_OK);
    }
    void TearDown() override
    {
        ptp_timer_shutdown();
        event_manager_destroy(evm);
        plat_clock_use_real();
    }

    // Milliseconds since the test started at which a callback ran.
    static uint64_t now_ms(uint64_t base_ns) { return (plat_clock_mono_ns() - base_ns) / 1000000; }

    event_mgr_type *evm = nullptr;
};

struct Owner {
    ptp_timer_type timer{};
    uint64_t base_ns = 0;
    std::vector<uint64_t> fired_at;
    int stop_after = -1; // set the stop flag at this firing
    enum class Action {
        none,
        stop,
        restart,
        destroy
    } action = Action::none;
    uint32_t restart_ms = 0;
};

int owner_cb(ptp_timer_type *timer, void *context, int *stop)
{
    auto *o = static_cast<Owner *>(context);
    EXPECT_EQ(timer, &o->timer);
    o->fired_at.push_back((plat_clock_mono_ns() - o->base_ns) / 1000000);
    if (static_cast<int>(o->fired_at.size()) == o->stop_after)
        *stop = 1;
    switch (o->action) {
    case Owner::Action::stop: ptp_timer_stop(timer); break;
    case Owner::Action::restart:
        ptp_timer_start(timer, o->restart_ms, false);
        o->action = Owner::Action::none;
        break;
    case Owner::Action::destroy: ptp_timer_destroy(timer); break;
    case Owner::Action::none: break;
    }
    return 0;
}

TEST_F(PtpTimer, PeriodicTimerRearmsUntilItStopsItself)
{
    Owner a, b;
    a.base_ns = b.base_ns = plat_clock_mono_ns();
    b.stop_after = 3;
    ASSERT_EQ(ptp_timer_create_and_start(&a.timer, 1000, true, owner_cb, &a), ZERR_OK);
    ASSERT_EQ(ptp_timer_create_and_start(&b.timer, 1000, true, owner_cb, &b), ZERR_OK);
    ASSERT_EQ(plat_clock_advance_ms(5500), ZERR_OK);
    EXPECT_EQ(a.fired_at, (std::vector<uint64_t>{1000, 2000, 3000, 4000, 5000}));
    EXPECT_EQ(b.fired_at, (std::vector<uint64_t>{1000, 2000, 3000}));
    EXPECT_TRUE(ptp_timer_is_running(&a.timer));
    EXPECT_FALSE(ptp_timer_is_running(&b.timer));

    // Stopped for good until started again.
    ASSERT_EQ(ptp_timer_start(&b.timer, 200, true), ZERR_OK);
    ASSERT_EQ(plat_clock_advance_ms(400), ZERR_OK);
    EXPECT_EQ(b.fired_at, (std::vector<uint64_t>{1000, 2000, 3000, 5700, 5900}));
    ptp_timer_destroy(&a.timer);
    ptp_timer_destroy(&b.timer);
}

TEST_F(PtpTimer, OneShotAndRestartWithNewPeriod)
{
    Owner o;
    o.base_ns = plat_clock_mono_ns();
    ASSERT_EQ(ptp_timer_create_and_start(&o.timer, 1000, false, owner_cb, &o), ZERR_OK);
    ASSERT_EQ(plat_clock_advance_ms(500), ZERR_OK);
    ASSERT_EQ(ptp_timer_start(&o.timer, 2000, false), ZERR_OK); // re-arm while armed
    ASSERT_EQ(plat_clock_advance_ms(5000), ZERR_OK);
    EXPECT_EQ(o.fired_at, (std::vector<uint64_t>{2500}));
    EXPECT_FALSE(ptp_timer_is_running(&o.timer));
    ptp_timer_destroy(&o.timer);
}

// A callback that stops, restarts or destroys its own periodic timer decides its fate; the
// wrapper neither re-arms it over the callback's choice nor touches it after a destroy.
TEST_F(PtpTimer, CallbackOwnsItsTimerFate)
{
    Owner stopper, restarter, destroyer;
    for (Owner *o : {&stopper, &restarter, &destroyer})
        o->base_ns = plat_clock_mono_ns();
    stopper.action = Owner::Action::stop;
    restarter.action = Owner::Action::restart;
    restarter.restart_ms = 300;
    destroyer.action = Owner::Action::destroy;
    for (Owner *o : {&stopper, &restarter, &destroyer})
        ASSERT_EQ(ptp_timer_create_and_start(&o->timer, 1000, true, owner_cb, o), ZERR_OK);

    ASSERT_EQ(plat_clock_advance_ms(3500), ZERR_OK);
    EXPECT_EQ(stopper.fired_at, (std::vector<uint64_t>{1000}));
    EXPECT_EQ(restarter.fired_at, (std::vector<uint64_t>{1000, 1300})); // one-shot restart
    EXPECT_EQ(destroyer.fired_at, (std::vector<uint64_t>{1000}));
    EXPECT_EQ(destroyer.timer.flags & PTP_TIMER_FLAG_ALLOCATED, 0);
    EXPECT_TRUE(qor_errmsg_captured().empty());
    ptp_timer_destroy(&stopper.timer);
    ptp_timer_destroy(&restarter.timer);
}

TEST_F(PtpTimer, FailuresAreReported)
{
    ptp_timer_type never_created{};
    zerrno rc = ptp_timer_start(&never_created, 100, false);
    EXPECT_NE(rc, ZERR_OK);
    auto msgs = qor_errmsg_captured();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].mnemonic, "TIMER");
    EXPECT_EQ(msgs[0].text, std::string("Unexpected error encountered whilst starting timer: ") + zerr_strerror(rc));

    // Destroying an unallocated timer, or a timer twice, reports nothing.
    Owner o;
    ASSERT_EQ(ptp_timer_create(&o.timer, owner_cb, &o), ZERR_OK);
    ptp_timer_destroy(&o.timer);
    ptp_timer_destroy(&o.timer);
    ptp_timer_destroy(&never_created);
    EXPECT_EQ(qor_errmsg_captured().size(), 1u);
}

// After the wheel is gone its timers can still be destroyed safely by their owners.
TEST_F(PtpTimer, DestroyAfterShutdown)
{
    Owner o;
    ASSERT_EQ(ptp_timer_create_and_start(&o.timer, 1000, true, owner_cb, &o), ZERR_OK);
    ptp_timer_shutdown();
    EXPECT_FALSE(ptp_timer_is_running(&o.timer));
    ptp_timer_destroy(&o.timer);
    EXPECT_EQ(o.timer.flags & PTP_TIMER_FLAG_ALLOCATED, 0);
    EXPECT_TRUE(qor_errmsg_captured().empty());
}

} // namespace
