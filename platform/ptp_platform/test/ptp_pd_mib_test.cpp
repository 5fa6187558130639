// The platform-dependent MIB library over the servo's saved state: the clock status and the offset
// and mean path delay once the servo measured them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "ptp_pd_mib.h"
#include "ptp_platform.h"
#include "ptp_platform_servo_store.h"

namespace {

struct PdMibTest : ::testing::Test {
    // The store is named after the node clock: this process's own, no other test's.
    static void SetUpTestSuite()
    {
        setenv("PTP_CLOCK_PREFIX", ("pd_mib_test." + std::to_string(getpid()) + ".").c_str(), 1);
    }
    void SetUp() override
    {
        ptp_pd_mib_test_reset();
        ptp_platform_servo_store_forget(true);
        const ptp_pd_mib_init_in_type in{nullptr};
        uint32_t result = 1;
        ASSERT_EQ(ptp_pd_mib_init(&in, &result), 0u);
        EXPECT_EQ(result, 0u);
    }
    void TearDown() override
    {
        ptp_pd_mib_shutdown();
        ptp_platform_servo_store_forget(true);
    }
};

TEST_F(PdMibTest, TheSavedServoGivesTheStatusAndWhatItMeasured)
{
    struct servo_case {
        bool running;
        uint32_t servo_status;
        bool have_offset;
        bool have_delay;
        uint32_t flags;
        uint32_t clock_status;
    };
    const servo_case cases[] = {
        {true, PTP_PLATFORM_SERVO_STATUS_PHASE_ALIGNED, true, true, PTP_PD_MIB_OFFSET_VALID | PTP_PD_MIB_DELAY_VALID,
         PTP_PD_MIB_CLOCK_STATUS_PHASE_ALIGNED},
        {true, PTP_PLATFORM_SERVO_STATUS_ACQUIRING, true, false, PTP_PD_MIB_OFFSET_VALID,
         PTP_PD_MIB_CLOCK_STATUS_ACQUIRING},
        {true, PTP_PLATFORM_SERVO_STATUS_HOLDOVER, false, false, 0, PTP_PD_MIB_CLOCK_STATUS_HOLDOVER},
        {true, PTP_PLATFORM_SERVO_STATUS_UNKNOWN, false, false, 0, PTP_PD_MIB_CLOCK_STATUS_FREERUN},
        {false, PTP_PLATFORM_SERVO_STATUS_PHASE_ALIGNED, true, true, 0, PTP_PD_MIB_CLOCK_STATUS_FREERUN},
    };
    for (const servo_case &c : cases) {
        ptp_servo_type servo{};
        servo.running = c.running;
        servo.status = c.servo_status;
        servo.have_offset = c.have_offset;
        servo.offset_ns = -120;
        servo.have_delay = c.have_delay;
        servo.mean_path_delay_ns = 60.4;
        ptp_platform_servo_store_save(&servo);
        uint8_t reserved = 0;
        ptp_pd_mib_system_info_type info{};
        ASSERT_EQ(ptp_pd_mib_get_system_info(&reserved, &info), 0u);
        EXPECT_EQ(info.flags, c.flags) << c.servo_status;
        EXPECT_EQ(info.clock_status, c.clock_status) << c.servo_status;
        EXPECT_EQ(info.offset_from_master_ns, (c.flags & PTP_PD_MIB_OFFSET_VALID) != 0 ? -120 : 0);
        EXPECT_EQ(info.mean_path_delay_ns, (c.flags & PTP_PD_MIB_DELAY_VALID) != 0 ? 60 : 0);
    }
}

TEST_F(PdMibTest, WithoutASavedServoTheClockIsFreeRunningAndUninitialisedTheLibraryAnswersNothing)
{
    uint8_t reserved = 0;
    ptp_pd_mib_system_info_type info{};
    ASSERT_EQ(ptp_pd_mib_get_system_info(&reserved, &info), 0u);
    EXPECT_EQ(info.flags, 0u);
    EXPECT_EQ(info.clock_status, static_cast<uint32_t>(PTP_PD_MIB_CLOCK_STATUS_FREERUN));
    ptp_pd_mib_shutdown();
    EXPECT_EQ(ptp_pd_mib_get_system_info(&reserved, &info), PTP_PLATFORM_ERR_NOT_INIT);
}

} // namespace
