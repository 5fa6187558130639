#include "ptp_time.h"

#include <array>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void time_assert_fail(const char *text)
{
    fprintf(stderr, "%s\n", text);
    abort();
}

bool is_g8275(uint32_t profile)
{
    return profile == PTP_PROFILE_G8275_1 || profile == PTP_PROFILE_G8275_2;
}

template <size_t N>
bool one_of(const std::array<uint32_t, N> &set, uint32_t v)
{
    for (uint32_t x : set)
        if (x == v)
            return true;
    return false;
}

constexpr std::array<uint32_t, 10> default_classes{6, 7, 13, 14, 52, 58, 187, 193, 248, 255};
constexpr std::array<uint32_t, 9> g8275_classes{6, 7, 135, 140, 150, 160, 165, 248, 255};
constexpr std::array<uint32_t, 3> g8275_accuracies{0x20, 0x21, 0xFE};
constexpr std::array<uint32_t, 3> g8275_oslvs{0xFFFF, 0x4E5D, 0x4B32};
constexpr std::array<uint32_t, 6> sub_second_msecs{16, 32, 64, 125, 250, 500};

} // namespace

int ptp_convert_to_log_time(ptp_time_data_type rate)
{
    switch (rate.kind) {
    case PTP_TIME_DATA_INTERVAL: return rate.value;
    case PTP_TIME_DATA_FREQUENCY: return -static_cast<int>(rate.value);
    default: time_assert_fail("Unknown message interval kind");
    }
}

void ptp_convert_from_log_time(int log_interval, ptp_time_data_type *out)
{
    if (log_interval < 0) {
        out->kind = PTP_TIME_DATA_FREQUENCY;
        out->value = static_cast<uint8_t>(-static_cast<int64_t>(log_interval));
    } else {
        out->kind = PTP_TIME_DATA_INTERVAL;
        out->value = static_cast<uint8_t>(log_interval);
    }
}

uint32_t ptp_log_interval_to_msecs(int log_interval)
{
    if (log_interval >= 0) {
        if (log_interval > 21) // 1000 << 22 no longer fits 32 bits
            return UINT32_MAX;
        return 1000u << log_interval;
    }
    if (log_interval < -6)
        time_assert_fail("Log message interval below -6");
    return sub_second_msecs[static_cast<size_t>(log_interval + 6)];
}

ptp_delay_asymmetry_type ptp_delay_asymmetry_to_nanoseconds(int32_t value, uint32_t units)
{
    // Widen first: the magnitude of INT32_MIN does not fit 32 bits.
    int64_t v = value;
    int64_t mag = v < 0 ? -v : v;
    switch (units) {
    case PTP_DELAY_ASYMMETRY_NANOSECONDS: return value;
    case PTP_DELAY_ASYMMETRY_MICROSECONDS:
        return mag <= PTP_DELAY_ASYMMETRY_MAX_US ? static_cast<int32_t>(v * 1000) : PTP_DELAY_ASYMMETRY_SATURATED;
    case PTP_DELAY_ASYMMETRY_MILLISECONDS:
        return mag <= PTP_DELAY_ASYMMETRY_MAX_MS ? static_cast<int32_t>(v * 1000000) : PTP_DELAY_ASYMMETRY_SATURATED;
    default: time_assert_fail("Unknown delay asymmetry units");
    }
}

void ptp_profile_domain_range_get(uint32_t profile, uint8_t *low, uint8_t *high)
{
    switch (profile) {
    case PTP_PROFILE_G8265_1:
        *low = 4;
        *high = 23;
        break;
    case PTP_PROFILE_G8275_1:
        *low = 24;
        *high = 43;
        break;
    case PTP_PROFILE_G8275_2:
        *low = 44;
        *high = 63;
        break;
    default:
        *low = 0;
        *high = 255;
        break;
    }
}

bool ptp_profile_domain_is_ok(uint32_t profile, uint32_t domain)
{
    uint8_t low = 0;
    uint8_t high = 0;
    ptp_profile_domain_range_get(profile, &low, &high);
    return domain >= low && domain <= high;
}

bool ptp_profile_clock_class_is_ok(uint32_t profile, uint32_t clock_class)
{
    switch (profile) {
    case PTP_PROFILE_DEFAULT: return one_of(default_classes, clock_class);
    case PTP_PROFILE_G8265_1: return clock_class >= 80 && clock_class <= 110 && clock_class % 2 == 0;
    case PTP_PROFILE_G8275_1:
    case PTP_PROFILE_G8275_2: return one_of(g8275_classes, clock_class);
    default: return false;
    }
}

bool ptp_profile_clock_accuracy_is_ok(uint32_t profile, uint32_t accuracy)
{
    return is_g8275(profile) && one_of(g8275_accuracies, accuracy);
}

bool ptp_profile_oslv_is_ok(uint32_t profile, uint32_t oslv)
{
    return is_g8275(profile) && one_of(g8275_oslvs, oslv);
}

bool ptp_profile_priority1_is_ok(uint32_t profile, uint32_t /*priority1*/)
{
    // Priority1 cannot be set under the G.8275 profiles, whatever its value.
    return !is_g8275(profile);
}

bool ptp_profile_priority2_is_ok(uint32_t profile, uint32_t priority2, uint32_t clock_type)
{
    if (!is_g8275(profile))
        return true;
    return priority2 == 255 || clock_type != PTP_TELECOM_CLOCK_T_TSC;
}
