#include <gtest/gtest.h>

#include <climits>
#include <set>

#include "ptp_time.h"

namespace {

TEST(LogTime, ConvertsBothWays)
{
    EXPECT_EQ(ptp_convert_to_log_time({PTP_TIME_DATA_FREQUENCY, 4}), -4);
    EXPECT_EQ(ptp_convert_to_log_time({PTP_TIME_DATA_INTERVAL, 4}), 4);
    EXPECT_EQ(ptp_convert_to_log_time({PTP_TIME_DATA_FREQUENCY, 0}), 0);
    struct {
        int log;
        uint8_t kind;
        uint8_t value;
    } back[] = {{-4, PTP_TIME_DATA_FREQUENCY, 4}, {0, PTP_TIME_DATA_INTERVAL, 0},        {4, PTP_TIME_DATA_INTERVAL, 4},
                {-7, PTP_TIME_DATA_FREQUENCY, 7}, {INT_MIN, PTP_TIME_DATA_FREQUENCY, 0}, // low 8 bits of 2^31
                {257, PTP_TIME_DATA_INTERVAL, 1}};
    for (auto c : back) {
        ptp_time_data_type out{9, 9};
        ptp_convert_from_log_time(c.log, &out);
        EXPECT_EQ(out.kind, c.kind) << c.log;
        EXPECT_EQ(out.value, c.value) << c.log;
    }
}

TEST(LogTimeDeathTest, UnknownKindStops)
{
    EXPECT_DEATH(ptp_convert_to_log_time({2, 0}), "interval kind");
}

TEST(LogTime, IntervalToMilliseconds)
{
    struct {
        int log;
        uint32_t msecs;
    } cases[] = {{-6, 16},
                 {-5, 32},
                 {-4, 64},
                 {-3, 125},
                 {-2, 250},
                 {-1, 500},
                 {0, 1000},
                 {4, 16000},
                 {21, 1000u << 21},
                 {22, UINT32_MAX},
                 {INT_MAX, UINT32_MAX}};
    for (auto c : cases)
        EXPECT_EQ(ptp_log_interval_to_msecs(c.log), c.msecs) << c.log;
    EXPECT_DEATH(ptp_log_interval_to_msecs(-7), "below -6");
}

TEST(DelayAsymmetry, ConvertsAtItsLimits)
{
    struct {
        int32_t value;
        uint32_t units;
        int32_t ns;
    } cases[] = {
        {INT32_MIN, PTP_DELAY_ASYMMETRY_NANOSECONDS, INT32_MIN},
        {INT32_MAX, PTP_DELAY_ASYMMETRY_NANOSECONDS, INT32_MAX},
        {2147482, PTP_DELAY_ASYMMETRY_MICROSECONDS, 2147482000},
        {-2147482, PTP_DELAY_ASYMMETRY_MICROSECONDS, -2147482000},
        {2147483, PTP_DELAY_ASYMMETRY_MICROSECONDS, 0x7FFFFFFF},
        {-2147483, PTP_DELAY_ASYMMETRY_MICROSECONDS, 0x7FFFFFFF},
        {INT32_MIN, PTP_DELAY_ASYMMETRY_MICROSECONDS, 0x7FFFFFFF}, // |INT32_MIN| is not negative
        {2146, PTP_DELAY_ASYMMETRY_MILLISECONDS, 2146000000},
        {-2146, PTP_DELAY_ASYMMETRY_MILLISECONDS, -2146000000},
        {2147, PTP_DELAY_ASYMMETRY_MILLISECONDS, 0x7FFFFFFF},
        {INT32_MIN, PTP_DELAY_ASYMMETRY_MILLISECONDS, 0x7FFFFFFF},
        {5000, PTP_DELAY_ASYMMETRY_MICROSECONDS, 5000000},
    };
    for (auto c : cases)
        EXPECT_EQ(ptp_delay_asymmetry_to_nanoseconds(c.value, c.units), c.ns) << c.value << " units " << c.units;
    EXPECT_DEATH(ptp_delay_asymmetry_to_nanoseconds(1, 3), "units");
}

TEST(ProfileRules, DomainRanges)
{
    struct {
        uint32_t profile;
        uint8_t low, high;
    } ranges[] = {{PTP_PROFILE_DEFAULT, 0, 255},
                  {PTP_PROFILE_G8265_1, 4, 23},
                  {PTP_PROFILE_G8275_1, 24, 43},
                  {PTP_PROFILE_G8275_2, 44, 63},
                  {7, 0, 255}};
    for (auto r : ranges) {
        uint8_t low = 1, high = 1;
        ptp_profile_domain_range_get(r.profile, &low, &high);
        EXPECT_EQ(low, r.low);
        EXPECT_EQ(high, r.high);
        EXPECT_TRUE(ptp_profile_domain_is_ok(r.profile, r.low));
        EXPECT_TRUE(ptp_profile_domain_is_ok(r.profile, r.high));
        if (r.low > 0) {
            EXPECT_FALSE(ptp_profile_domain_is_ok(r.profile, r.low - 1u));
        }
        EXPECT_FALSE(ptp_profile_domain_is_ok(r.profile, r.high + 1u));
    }
    // Never judged on the low byte: 280 is not 24.
    EXPECT_FALSE(ptp_profile_domain_is_ok(PTP_PROFILE_G8275_1, 280));
    EXPECT_FALSE(ptp_profile_domain_is_ok(PTP_PROFILE_DEFAULT, 256));
}

TEST(ProfileRules, ValueTables)
{
    // Clock classes: every value 0..300 against the allowed sets.
    const std::set<uint32_t> dflt{6, 7, 13, 14, 52, 58, 187, 193, 248, 255};
    const std::set<uint32_t> telecom{6, 7, 135, 140, 150, 160, 165, 248, 255};
    for (uint32_t c = 0; c <= 300; c++) {
        EXPECT_EQ(ptp_profile_clock_class_is_ok(PTP_PROFILE_DEFAULT, c), dflt.count(c) == 1) << c;
        EXPECT_EQ(ptp_profile_clock_class_is_ok(PTP_PROFILE_G8265_1, c), c >= 80 && c <= 110 && c % 2 == 0) << c;
        EXPECT_EQ(ptp_profile_clock_class_is_ok(PTP_PROFILE_G8275_1, c), telecom.count(c) == 1);
        EXPECT_EQ(ptp_profile_clock_class_is_ok(PTP_PROFILE_G8275_2, c), telecom.count(c) == 1);
        EXPECT_FALSE(ptp_profile_clock_class_is_ok(4, c));
    }
    EXPECT_FALSE(ptp_profile_clock_class_is_ok(PTP_PROFILE_DEFAULT, 6 + 256));

    for (uint32_t p : {PTP_PROFILE_G8275_1, PTP_PROFILE_G8275_2}) {
        for (uint32_t a : {0x20u, 0x21u, 0xFEu})
            EXPECT_TRUE(ptp_profile_clock_accuracy_is_ok(p, a));
        EXPECT_FALSE(ptp_profile_clock_accuracy_is_ok(p, 0x22));
        EXPECT_FALSE(ptp_profile_clock_accuracy_is_ok(p, 0x121));
        for (uint32_t v : {0xFFFFu, 0x4E5Du, 0x4B32u})
            EXPECT_TRUE(ptp_profile_oslv_is_ok(p, v));
        EXPECT_FALSE(ptp_profile_oslv_is_ok(p, 0x4E5E));
        EXPECT_FALSE(ptp_profile_priority1_is_ok(p, 128));
        EXPECT_FALSE(ptp_profile_priority2_is_ok(p, 128, PTP_TELECOM_CLOCK_T_TSC));
        EXPECT_TRUE(ptp_profile_priority2_is_ok(p, 255, PTP_TELECOM_CLOCK_T_TSC));
        EXPECT_TRUE(ptp_profile_priority2_is_ok(p, 128, PTP_TELECOM_CLOCK_T_BC));
    }
    for (uint32_t p : {PTP_PROFILE_DEFAULT, PTP_PROFILE_G8265_1}) {
        EXPECT_FALSE(ptp_profile_clock_accuracy_is_ok(p, 0x21));
        EXPECT_FALSE(ptp_profile_oslv_is_ok(p, 0xFFFF));
        EXPECT_TRUE(ptp_profile_priority1_is_ok(p, 0));
        EXPECT_TRUE(ptp_profile_priority2_is_ok(p, 0, PTP_TELECOM_CLOCK_T_TSC));
    }
}

} // namespace
