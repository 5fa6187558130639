// The platform's capabilities as the global verifier's item rules ask for them: read once at
// start-up from the controller's platform library.
#include "sardo_platform.h"

#include "ptp_syslog.h"
#include "ptp_types.h"
#include "ptp_zerr_codes.h"
#include "sardo_debug.h"

namespace {

// The newest capability API this process knows.
constexpr uint32_t CAPABILITY_API_VERSION_MAX = 2;
// Marks the caller as a client of the capability calls only (no servo or clock of its own).
constexpr uint64_t CAPABILITY_CLIENT = 1;

struct platform_state_type {
    uint32_t version = 0;
    ptp_platform_capability_info_type capabilities{};
};
platform_state_type platform;

zerrno capability_init_failed(const char *text, zerrno rc)
{
    ptp_syslog_init_failed("Failed to initialize platform capabilities: ", text);
    return rc;
}

} // namespace

zerrno sardo_platform_capability_init(event_mgr_type *evm)
{
    platform = platform_state_type{};
    ptp_platform_capability_init_in_type in{};
    ptp_platform_capability_init_info_type out{};
    in.context = reinterpret_cast<uint64_t>(evm);
    in.reserved = CAPABILITY_CLIENT;
    zerrno rc = ptp_platform_capability_init(&in, &out);
    if (rc != 0) {
        ptp_trace<PTP_TRACE_SARDO_PLATFORM_CAPABILITY_INIT_FAILED>({sardo_sum()}, rc);
        return capability_init_failed(zerr_strerror(rc), rc);
    }
    if (out.version > CAPABILITY_API_VERSION_MAX) {
        ptp_trace<PTP_TRACE_SARDO_PLATFORM_CAPABILITY_VERSION>({sardo_sum()}, CAPABILITY_API_VERSION_MAX, out.version);
        return capability_init_failed("Unsupported API version", PTP_ZERR_INVALID_ARG);
    }
    ptp_platform_capability_get_in_type get_in{};
    ptp_platform_capability_info_type capabilities{};
    rc = ptp_platform_capability_get(&get_in, &capabilities);
    if (rc != 0) {
        ptp_trace<PTP_TRACE_SARDO_PLATFORM_CAPABILITY_INIT_FAILED>({sardo_sum()}, rc);
        return capability_init_failed(zerr_strerror(rc), rc);
    }
    // The first version of the library knew no profile bits: it supports every profile.
    if (out.version == 0) {
        capabilities.flags |=
            PTP_PLATFORM_CAP_PROFILE_G8265_1 | PTP_PLATFORM_CAP_PROFILE_G8275_1 | PTP_PLATFORM_CAP_PROFILE_G8275_2;
    }
    platform.version = out.version;
    platform.capabilities = capabilities;
    SARDO_DEBUG(SARDO_DEBUG_PLATFORM, "%s: Platform capability API version %u, capabilities 0x%x", out.version,
                static_cast<unsigned>(capabilities.flags));
    return 0;
}

void sardo_platform_capability_shutdown(void)
{
    ptp_platform_capability_shutdown();
    platform = platform_state_type{};
}

bool sardo_platform_has_capability(uint16_t bit)
{
    return (platform.capabilities.flags & bit) != 0;
}

bool sardo_platform_supports_profile(uint32_t profile)
{
    switch (profile) {
    case PTP_PROFILE_DEFAULT: return true;
    case PTP_PROFILE_G8265_1: return sardo_platform_has_capability(PTP_PLATFORM_CAP_PROFILE_G8265_1);
    case PTP_PROFILE_G8275_1: return sardo_platform_has_capability(PTP_PLATFORM_CAP_PROFILE_G8275_1);
    case PTP_PROFILE_G8275_2: return sardo_platform_has_capability(PTP_PLATFORM_CAP_PROFILE_G8275_2);
    default: return false;
    }
}

void sardo_platform_holdover_range(uint32_t *min, uint32_t *max)
{
    *min = platform.capabilities.holdover_duration_min;
    *max = platform.capabilities.holdover_duration_max;
}
