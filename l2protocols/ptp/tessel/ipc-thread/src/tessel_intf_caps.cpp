#include "tessel_intf_caps.h"

#include <atomic>

#include "ptp_platform_intf_capability.h"
#include "ptp_syslog.h"
#include "tessel_ipc_log.h"

namespace {

ptp_platform_intf_capability_ctx_type *caps_ctx;
// Read by the protocol thread while the IPC thread tears down (the capabilities are closed
// before the protocol thread is joined), so the words are atomic.
std::atomic<uint16_t> caps_flags;
std::atomic<uint8_t> caps_max_rate;
std::atomic<uint8_t> caps_log_max_rate;

bool has(uint16_t bits)
{
    return (caps_flags.load(std::memory_order_relaxed) & bits) == bits;
}

} // namespace

zerrno tessel_intf_caps_init(event_mgr_type *)
{
    uint32_t version = 0;
    zerrno rc = ptp_platform_intf_capability_init(&caps_ctx, &version);
    if (rc != 0) {
        ptp_syslog_init_failed("Failed to bind to initialise the interface platform capabilities module: ",
                               zerr_strerror(rc));
        ptp_trace<PTP_TRACE_TESSEL_CAPS_INIT_FAILED>({tessel_ipc_det(), tessel_ipc_unq()}, rc);
        return rc;
    }
    if (version > TESSEL_INTF_CAPS_MAX_API_VERSION) {
        ptp_syslog_init_failed("The platform specified an invalid version for the interface capabilities API.", "");
        ptp_trace<PTP_TRACE_TESSEL_CAPS_BAD_VERSION>({tessel_ipc_det(), tessel_ipc_unq()}, version);
    }

    ptp_platform_intf_capability_type caps{};
    rc = ptp_platform_intf_capability_get(&caps);
    if (rc != 0) {
        // The library answered init but not the question: run with nothing supported rather
        // than with capabilities nobody reported.
        caps = ptp_platform_intf_capability_type{};
    }
    uint16_t flags = caps.flags;
    if (version == 0) {
        // The first API version had no word for these: every such platform did both.
        flags |= TESSEL_INTF_CAPS_TWO_STEP | TESSEL_INTF_CAPS_PLATFORM_ADJACENCY;
    }
    if ((flags & TESSEL_INTF_CAPS_PLATFORM_ADJACENCY) == 0) {
        // The agent resolves IPv6 neighbours only through the platform.
        flags &= static_cast<uint16_t>(~TESSEL_INTF_CAPS_IPV6);
    }
    const uint8_t log_rate = caps.log_max_rate;
    const uint8_t rate = log_rate >= 8 ? 0 : static_cast<uint8_t>(1u << log_rate);
    caps_log_max_rate.store(log_rate, std::memory_order_relaxed);
    caps_max_rate.store(rate, std::memory_order_relaxed);
    caps_flags.store(flags, std::memory_order_relaxed);
    ptp_trace<PTP_TRACE_TESSEL_CAPS>({tessel_ipc_det(), tessel_ipc_unq()}, version, flags, rate, log_rate);
    return 0;
}

void tessel_intf_caps_shutdown(void)
{
    ptp_platform_intf_capability_shutdown(caps_ctx);
    caps_ctx = nullptr;
    caps_flags.store(0, std::memory_order_relaxed);
}

bool tessel_intf_caps_supports_ptp(void)
{
    return has(TESSEL_INTF_CAPS_PTP);
}
bool tessel_intf_caps_supports_one_step(void)
{
    return has(TESSEL_INTF_CAPS_ONE_STEP);
}
bool tessel_intf_caps_supports_slave(void)
{
    return has(TESSEL_INTF_CAPS_SLAVE);
}
bool tessel_intf_caps_supports_ipv6(void)
{
    return has(TESSEL_INTF_CAPS_IPV6);
}
bool tessel_intf_caps_supports_ethernet(void)
{
    return has(TESSEL_INTF_CAPS_ETHERNET);
}
bool tessel_intf_caps_supports_multicast(void)
{
    return has(TESSEL_INTF_CAPS_MULTICAST);
}
bool tessel_intf_caps_supports_source_ip(void)
{
    return has(TESSEL_INTF_CAPS_SOURCE_IP);
}
bool tessel_intf_caps_supports_two_step(void)
{
    return has(TESSEL_INTF_CAPS_TWO_STEP);
}
bool tessel_intf_caps_supports_platform_adjacency(void)
{
    return has(TESSEL_INTF_CAPS_PLATFORM_ADJACENCY);
}
bool tessel_intf_caps_supports_slave_ext(void)
{
    return has(TESSEL_INTF_CAPS_SLAVE | TESSEL_INTF_CAPS_SLAVE_EXT);
}
uint8_t tessel_intf_caps_get_max_sync_rate(void)
{
    return caps_max_rate.load(std::memory_order_relaxed);
}
uint8_t tessel_intf_caps_get_log_max_sync_rate(void)
{
    return caps_log_max_rate.load(std::memory_order_relaxed);
}
uint16_t tessel_intf_caps_get_flags(void)
{
    return caps_flags.load(std::memory_order_relaxed);
}
