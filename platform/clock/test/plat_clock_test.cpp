#include "plat_clock_test.h"
#include "plat_clock.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

struct virtual_clock : ::testing::Test {
    void SetUp() override { plat_clock_use_virtual(); }
    void TearDown() override { plat_clock_use_real(); }
};

} // namespace

TEST_F(virtual_clock, MovesOnlyWhenAdvancedAndWallFollowsMonotonic)
{
    const uint64_t start = fts_get_stamp_fast();
    EXPECT_EQ(start, PLAT_CLOCK_VIRTUAL_MONO_START_NS);
    EXPECT_EQ(plat_time(nullptr), PLAT_CLOCK_VIRTUAL_WALL_START_S);
    EXPECT_EQ(fts_get_stamp_fast(), start);

    ASSERT_EQ(plat_clock_advance_ms(1500), ZERR_OK);
    EXPECT_EQ(fts_get_stamp_fast(), start + 1500000000ull);
    struct timespec mono {
    }, wall{};
    ASSERT_EQ(plat_clock_gettime(CLOCK_MONOTONIC, &mono), 0);
    ASSERT_EQ(plat_clock_gettime(CLOCK_REALTIME, &wall), 0);
    EXPECT_EQ(mono.tv_sec, 1001);
    EXPECT_EQ(mono.tv_nsec, 500000000);
    EXPECT_EQ(wall.tv_sec, PLAT_CLOCK_VIRTUAL_WALL_START_S + 1);
    EXPECT_EQ(wall.tv_nsec, 500000000);
}

TEST_F(virtual_clock, SetWallMovesOnlyTheWallClock)
{
    const uint64_t mono = fts_get_stamp_fast();
    // One second before a UTC midnight.
    ASSERT_EQ(plat_clock_set_wall(1719791999, 0), ZERR_OK);
    EXPECT_EQ(fts_get_stamp_fast(), mono);
    ASSERT_EQ(plat_clock_advance_s(1), ZERR_OK);
    time_t now = 0;
    EXPECT_EQ(plat_time(&now), 1719792000);
    EXPECT_EQ(now, 1719792000);
    EXPECT_EQ(plat_clock_set_wall(0, 1000000000), PLAT_CLOCK_ERR_INVALID);
}

TEST(PlatClock, RealTimeRefusesTestControlAndStaysMonotonic)
{
    plat_clock_use_real();
    EXPECT_EQ(plat_clock_advance_ms(1), PLAT_CLOCK_ERR_NOT_VIRTUAL);
    EXPECT_EQ(plat_clock_set_wall(0, 0), PLAT_CLOCK_ERR_NOT_VIRTUAL);
    uint64_t last = fts_get_stamp_fast();
    EXPECT_NE(last, 0u);
    for (int i = 0; i < 1000; ++i) {
        const uint64_t now = fts_get_stamp_fast();
        EXPECT_GE(now, last);
        last = now;
    }
}

TEST(PlatClock, GettimeClockIds)
{
    struct timespec ts {};
    const clockid_t good[] = {CLOCK_MONOTONIC, CLOCK_MONOTONIC_RAW, CLOCK_MONOTONIC_COARSE,
                              CLOCK_BOOTTIME,  CLOCK_REALTIME,      CLOCK_REALTIME_COARSE};
    for (clockid_t id : good)
        EXPECT_EQ(plat_clock_gettime(id, &ts), 0) << id;
    errno = 0;
    EXPECT_EQ(plat_clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts), -1);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(plat_clock_gettime(CLOCK_MONOTONIC, nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
}
