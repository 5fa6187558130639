// Interface capabilities of this node, from its [node.capabilities] in the chassis description.
#include "ptp_platform_intf_capability.h"

#include <mutex>

#include "sysmgr_chassis.h"

struct ptp_platform_intf_capability_ctx_type {
    chassis_caps_type caps;
};

namespace {

struct state_type {
    std::mutex lock;
    zerrno fail_init = 0;
    bool overridden = false;
    chassis_caps_type caps;
    bool open = false;
    chassis_caps_type open_caps; // what init found, answered until shutdown
};

state_type &state()
{
    static state_type s;
    return s;
}

} // namespace

zerrno ptp_platform_intf_capability_init(ptp_platform_intf_capability_ctx_type **ctx, uint32_t *api_version)
{
    state_type &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    if (ctx == nullptr || api_version == nullptr)
        return PTP_PLATFORM_INTF_CAPS_ERR_INVALID;
    if (const zerrno rc = s.fail_init; rc != 0) {
        s.fail_init = 0;
        return rc;
    }
    chassis_caps_type caps = s.caps;
    if (!s.overridden) {
        const chassis_node_type *node = sysmgr_my_node();
        if (node == nullptr)
            return PTP_PLATFORM_INTF_CAPS_ERR_NO_NODE;
        caps = node->caps;
    }
    *ctx = new ptp_platform_intf_capability_ctx_type{caps};
    *api_version = caps.api_version;
    s.open = true;
    s.open_caps = caps;
    return 0;
}

zerrno ptp_platform_intf_capability_get(ptp_platform_intf_capability_type *caps)
{
    state_type &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    if (caps == nullptr)
        return PTP_PLATFORM_INTF_CAPS_ERR_INVALID;
    if (!s.open)
        return PTP_PLATFORM_INTF_CAPS_ERR_NOT_INIT;
    *caps = {s.open_caps.flags, s.open_caps.log_max_rate, 0};
    return 0;
}

void ptp_platform_intf_capability_shutdown(ptp_platform_intf_capability_ctx_type *ctx)
{
    state_type &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    if (ctx == nullptr)
        return;
    delete ctx;
    s.open = false;
}

void ptp_platform_intf_capability_test_fail_init(zerrno code)
{
    state_type &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    s.fail_init = code;
}

void ptp_platform_intf_capability_test_set(uint32_t api_version, uint16_t flags, uint8_t log_max_rate)
{
    state_type &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    s.overridden = true;
    s.caps = {api_version, flags, log_max_rate};
}

void ptp_platform_intf_capability_test_reset(void)
{
    state_type &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    s.fail_init = 0;
    s.overridden = false;
    s.open = false;
}
