#include "ptpclock_test.h"
#include "ptpclock.h"

#include "plat_clock.h"
#include "plat_clock_test.h"

#include <gtest/gtest.h>

#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uint64_t NS = 1000000000ull;

struct ptp_clock : ::testing::Test {
    ptpclock_type *clk = nullptr;

    void SetUp() override
    {
        plat_clock_use_virtual();
        ptpclock_test_set_prefix(("ptpclock-test." + std::to_string(getpid()) + ".").c_str());
        ptpclock_test_unlink("0/1/CPU0");
        ASSERT_EQ(ptpclock_open("0/1/CPU0", &clk), ZERR_OK);
    }
    void TearDown() override
    {
        ptpclock_close(clk);
        ptpclock_test_unlink("0/1/CPU0");
        plat_clock_use_real();
    }
    uint64_t now()
    {
        uint64_t t = 0;
        EXPECT_EQ(ptpclock_gettime(clk, &t), ZERR_OK);
        return t;
    }
};

TEST_F(ptp_clock, StartsAtWallClockPlusUtcOffsetAndRunsWithTheMonotonicClock)
{
    const uint64_t start = (PLAT_CLOCK_VIRTUAL_WALL_START_S + PTPCLOCK_INITIAL_UTC_OFFSET_S) * NS;
    EXPECT_EQ(now(), start);
    ASSERT_EQ(plat_clock_advance_ms(1500), ZERR_OK);
    EXPECT_EQ(now(), start + 1500000000ull);
}

TEST_F(ptp_clock, FrequencyAppliesFromWhenItIsSet)
{
    struct {
        double ppb;
        uint64_t advance_ms;
        int64_t expect_gain_ns;
    } cases[] = {
        {100.0, 1000, 100},
        {-250000.0, 2000, -500000},
        {0.25, 4000, 1}, // fractions of a ppb count
        {-0.25, 4000, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.ppb);
        ASSERT_EQ(plat_clock_advance_ms(333), ZERR_OK); // time before the change is not scaled
        const uint64_t before = now();
        ASSERT_EQ(ptpclock_set_freq(clk, c.ppb), ZERR_OK);
        double ppb = 0;
        ASSERT_EQ(ptpclock_get_freq(clk, &ppb), ZERR_OK);
        EXPECT_DOUBLE_EQ(ppb, c.ppb);
        ASSERT_EQ(plat_clock_advance_ms(c.advance_ms), ZERR_OK);
        EXPECT_EQ(static_cast<int64_t>(now() - before),
                  static_cast<int64_t>(c.advance_ms * 1000000) + c.expect_gain_ns);
    }
}

// A steered clock is rebased at every change of its frequency; what each rebase leaves below the
// nanosecond is kept, so a clock rebased a thousand times is where one never rebased is.
TEST_F(ptp_clock, RebasesLoseNothingBelowTheNanosecond)
{
    ptpclock_test_unlink("0/2/CPU0");
    ptpclock_type *other = nullptr;
    ASSERT_EQ(ptpclock_open("0/2/CPU0", &other), ZERR_OK);
    for (ptpclock_type *c : {clk, other}) {
        ASSERT_EQ(ptpclock_set_freq(c, 123.456789), ZERR_OK);
    }
    for (int i = 0; i < 1000; i++) {
        ASSERT_EQ(plat_clock_advance_ms(7), ZERR_OK); // 0.864 ns of correction each time
        ASSERT_EQ(ptpclock_set_freq(clk, 123.456789), ZERR_OK);
    }
    uint64_t rebased = 0, never = 0;
    ASSERT_EQ(ptpclock_mono_to_ptp(clk, plat_clock_mono_ns(), &rebased), ZERR_OK);
    ASSERT_EQ(ptpclock_mono_to_ptp(other, plat_clock_mono_ns(), &never), ZERR_OK);
    EXPECT_EQ(rebased, never);
    ptpclock_close(other);
    ptpclock_test_unlink("0/2/CPU0");
}

TEST_F(ptp_clock, OutOfRangeChangesAreRefusedAndChangeNothing)
{
    ASSERT_EQ(ptpclock_set_freq(clk, 1000.0), ZERR_OK);
    EXPECT_EQ(ptpclock_set_freq(clk, PTPCLOCK_MAX_FREQ_PPB + 1), PTPCLOCK_ERR_RANGE);
    EXPECT_EQ(ptpclock_set_freq(clk, 0.0 / 0.0), PTPCLOCK_ERR_RANGE);
    EXPECT_EQ(ptpclock_adjust_freq(clk, PTPCLOCK_MAX_FREQ_PPB), PTPCLOCK_ERR_RANGE);
    ASSERT_EQ(ptpclock_adjust_freq(clk, -1500.0), ZERR_OK);
    double ppb = 0;
    ASSERT_EQ(ptpclock_get_freq(clk, &ppb), ZERR_OK);
    EXPECT_DOUBLE_EQ(ppb, -500.0);

    const uint64_t t = now();
    EXPECT_EQ(ptpclock_step(clk, -static_cast<int64_t>(t) - 1), PTPCLOCK_ERR_RANGE);
    EXPECT_EQ(now(), t);
    EXPECT_EQ(ptpclock_open("0/1/CPU0", nullptr), PTPCLOCK_ERR_INVALID);
}

TEST_F(ptp_clock, StepSetAndStampMapping)
{
    const uint64_t mono_then = plat_clock_mono_ns();
    const int64_t wall_then = plat_clock_wall_ns();
    const uint64_t ptp_then = now();
    ASSERT_EQ(plat_clock_advance_ms(10), ZERR_OK);

    // Stamps taken before a change map under the settings of the moment of the mapping.
    ASSERT_EQ(ptpclock_step(clk, -2000), ZERR_OK);
    uint64_t t = 0;
    ASSERT_EQ(ptpclock_mono_to_ptp(clk, mono_then, &t), ZERR_OK);
    EXPECT_EQ(t, ptp_then - 2000);
    ASSERT_EQ(ptpclock_wall_to_ptp(clk, wall_then, &t), ZERR_OK);
    EXPECT_EQ(t, ptp_then - 2000);
    EXPECT_EQ(now(), ptp_then + 10000000 - 2000);

    ASSERT_EQ(ptpclock_settime(clk, 5 * NS), ZERR_OK);
    EXPECT_EQ(now(), 5 * NS);
    ASSERT_EQ(ptpclock_mono_to_ptp(clk, plat_clock_mono_ns() + 7, &t), ZERR_OK);
    EXPECT_EQ(t, 5 * NS + 7);
    // A stamp that maps before the clock's origin has no PTP time.
    EXPECT_EQ(ptpclock_mono_to_ptp(clk, plat_clock_mono_ns() - 6 * NS, &t), PTPCLOCK_ERR_RANGE);
}

// A clock that follows another reads what it reads at every instant after, stamps taken before
// the following included, until one of them is steered.
TEST_F(ptp_clock, AFollowingClockTakesOverTimeAndFrequencyAsOne)
{
    ptpclock_type *other = nullptr;
    ptpclock_test_unlink("0/2/CPU0");
    ASSERT_EQ(ptpclock_open("0/2/CPU0", &other), ZERR_OK);
    ASSERT_EQ(ptpclock_settime(clk, 42 * NS + 123), ZERR_OK);
    ASSERT_EQ(ptpclock_set_freq(clk, -3000.5), ZERR_OK);
    const uint64_t mono_before = plat_clock_mono_ns();
    ASSERT_EQ(plat_clock_advance_ms(250), ZERR_OK);

    ASSERT_EQ(ptpclock_follow(other, clk), ZERR_OK);
    for (const uint64_t mono : {mono_before, plat_clock_mono_ns(), plat_clock_mono_ns() + 7 * NS + 1}) {
        uint64_t mine = 0, its = 0;
        ASSERT_EQ(ptpclock_mono_to_ptp(clk, mono, &mine), ZERR_OK);
        ASSERT_EQ(ptpclock_mono_to_ptp(other, mono, &its), ZERR_OK);
        EXPECT_EQ(its, mine) << "at " << mono;
    }
    double ppb = 0;
    ASSERT_EQ(ptpclock_get_freq(other, &ppb), ZERR_OK);
    EXPECT_EQ(ppb, -3000.5);
    ASSERT_EQ(plat_clock_advance_s(3), ZERR_OK);
    uint64_t t = 0;
    ASSERT_EQ(ptpclock_gettime(other, &t), ZERR_OK);
    EXPECT_EQ(t, now());
    EXPECT_EQ(ptpclock_follow(other, nullptr), PTPCLOCK_ERR_INVALID);
    EXPECT_EQ(ptpclock_follow(nullptr, clk), PTPCLOCK_ERR_INVALID);

    ptpclock_close(other);
    ptpclock_test_unlink("0/2/CPU0");
}

TEST_F(ptp_clock, EveryProcessAndHandleOfTheNodeSharesOneClockOtherNodesHaveTheirOwn)
{
    ptpclock_type *same = nullptr, *other = nullptr;
    ASSERT_EQ(ptpclock_open("0/1/CPU0", &same), ZERR_OK);
    ASSERT_EQ(ptpclock_open("0/2/CPU0", &other), ZERR_OK);

    // Another process steers the clock; this process sees it (the child's monotonic clock is
    // the same virtual one, inherited at fork).
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ptpclock_type *c = nullptr;
        bool ok = ptpclock_open("0/1/CPU0", &c) == ZERR_OK && ptpclock_settime(c, 42 * NS) == ZERR_OK &&
                  ptpclock_set_freq(c, 1000.0) == ZERR_OK;
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_EQ(status, 0);

    uint64_t t = 0;
    ASSERT_EQ(ptpclock_gettime(same, &t), ZERR_OK);
    EXPECT_EQ(t, 42 * NS);
    ASSERT_EQ(plat_clock_advance_s(1), ZERR_OK);
    EXPECT_EQ(now(), 43 * NS + 1000);
    ASSERT_EQ(ptpclock_gettime(other, &t), ZERR_OK);
    EXPECT_EQ(t, (PLAT_CLOCK_VIRTUAL_WALL_START_S + PTPCLOCK_INITIAL_UTC_OFFSET_S + 1) * NS);

    ptpclock_close(same);
    ptpclock_close(other);
    ptpclock_test_unlink("0/2/CPU0");
}

} // namespace
