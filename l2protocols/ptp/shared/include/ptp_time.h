// Message-interval and delay-asymmetry conversions and the per-profile value rules.
#pragma once

#include <cstdint>

#include "ptp_types.h"

// log2 interval of a configured rate: n for an interval, -n for a frequency. Any other kind
// stops the process.
int ptp_convert_to_log_time(ptp_time_data_type rate);

// Negative log2: a frequency of 2^-log per second; zero or positive: an interval of 2^log
// seconds (value = low 8 bits).
void ptp_convert_from_log_time(int log_interval, ptp_time_data_type *out);

// Milliseconds of a log2 message interval: 1000 << n for n >= 0 (saturating at UINT32_MAX
// once it no longer fits), 16, 32, 64, 125, 250, 500 for n = -6 .. -1. Below -6 the process
// stops.
uint32_t ptp_log_interval_to_msecs(int log_interval);

// Largest magnitudes that still convert to nanoseconds within 32 bits.
inline constexpr int64_t PTP_DELAY_ASYMMETRY_MAX_US = 2147482;
inline constexpr int64_t PTP_DELAY_ASYMMETRY_MAX_MS = 2146;
inline constexpr ptp_delay_asymmetry_type PTP_DELAY_ASYMMETRY_SATURATED = 0x7FFFFFFF;

// A configured delay asymmetry in nanoseconds; magnitudes beyond the limits above give
// PTP_DELAY_ASYMMETRY_SATURATED (positive, whatever the sign). Units above 2 stop the process.
ptp_delay_asymmetry_type ptp_delay_asymmetry_to_nanoseconds(int32_t value, uint32_t units);

// Domain range of a profile: G.8265.1 4..23, G.8275.1 24..43, G.8275.2 44..63, else 0..255.
void ptp_profile_domain_range_get(uint32_t profile, uint8_t *low, uint8_t *high);

// The predicates take the configured value unnarrowed, so 280 is never taken for 24.
bool ptp_profile_domain_is_ok(uint32_t profile, uint32_t domain);
bool ptp_profile_clock_class_is_ok(uint32_t profile, uint32_t clock_class);
bool ptp_profile_clock_accuracy_is_ok(uint32_t profile, uint32_t accuracy);
bool ptp_profile_oslv_is_ok(uint32_t profile, uint32_t oslv);
bool ptp_profile_priority1_is_ok(uint32_t profile, uint32_t priority1);
bool ptp_profile_priority2_is_ok(uint32_t profile, uint32_t priority2, uint32_t clock_type);
