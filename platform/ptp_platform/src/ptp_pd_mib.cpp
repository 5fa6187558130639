// The platform-dependent MIB library over the software servo's saved state.
#include "ptp_pd_mib.h"

#include <mutex>

#include "ptp_platform.h"
#include "ptp_platform_servo_store.h"

namespace {

struct pd_mib_type {
    bool initialised = false;
    zerrno init_rc = 0;
    uint32_t init_result = 0;
    bool scripted = false;
    zerrno info_rc = 0;
    ptp_pd_mib_system_info_type info{};
};

std::mutex lock;
pd_mib_type pd;

// The servo's status as the library's clock status (unknown counts as free-running).
uint32_t clock_status_of(uint32_t servo_status)
{
    switch (servo_status) {
    case PTP_PLATFORM_SERVO_STATUS_ACQUIRING: return PTP_PD_MIB_CLOCK_STATUS_ACQUIRING;
    case PTP_PLATFORM_SERVO_STATUS_FREQ_LOCKED: return PTP_PD_MIB_CLOCK_STATUS_FREQ_LOCKED;
    case PTP_PLATFORM_SERVO_STATUS_PHASE_ALIGNED: return PTP_PD_MIB_CLOCK_STATUS_PHASE_ALIGNED;
    case PTP_PLATFORM_SERVO_STATUS_HOLDOVER: return PTP_PD_MIB_CLOCK_STATUS_HOLDOVER;
    default: return PTP_PD_MIB_CLOCK_STATUS_FREERUN;
    }
}

} // namespace

zerrno ptp_pd_mib_init(const ptp_pd_mib_init_in_type *in, uint32_t *result)
{
    if (in == nullptr || result == nullptr) {
        return PTP_PLATFORM_ERR_INVALID;
    }
    std::lock_guard<std::mutex> g(lock);
    *result = pd.init_result;
    if (pd.init_rc == 0 && pd.init_result == 0) {
        pd.initialised = true;
    }
    return pd.init_rc;
}

zerrno ptp_pd_mib_get_system_info(uint8_t *, ptp_pd_mib_system_info_type *info)
{
    if (info == nullptr) {
        return PTP_PLATFORM_ERR_INVALID;
    }
    std::lock_guard<std::mutex> g(lock);
    if (!pd.initialised) {
        return PTP_PLATFORM_ERR_NOT_INIT;
    }
    if (pd.scripted) {
        *info = pd.info;
        return pd.info_rc;
    }
    *info = {};
    static ptp_servo_type servo{};
    if (!ptp_platform_servo_store_load(&servo)) {
        info->clock_status = PTP_PD_MIB_CLOCK_STATUS_FREERUN;
        return 0;
    }
    info->clock_status = servo.running ? clock_status_of(servo.status) : PTP_PD_MIB_CLOCK_STATUS_FREERUN;
    if (servo.running && servo.have_offset) {
        info->flags |= PTP_PD_MIB_OFFSET_VALID;
        info->offset_from_master_ns = servo.offset_ns;
    }
    if (servo.running && servo.have_delay) {
        info->flags |= PTP_PD_MIB_DELAY_VALID;
        info->mean_path_delay_ns = static_cast<int64_t>(servo.mean_path_delay_ns);
    }
    return 0;
}

void ptp_pd_mib_shutdown()
{
    std::lock_guard<std::mutex> g(lock);
    pd.initialised = false;
}

void ptp_pd_mib_test_set_init(zerrno rc, uint32_t result)
{
    std::lock_guard<std::mutex> g(lock);
    pd.init_rc = rc;
    pd.init_result = result;
}

void ptp_pd_mib_test_set_system_info(zerrno rc, const ptp_pd_mib_system_info_type &info)
{
    std::lock_guard<std::mutex> g(lock);
    pd.scripted = true;
    pd.info_rc = rc;
    pd.info = info;
}

void ptp_pd_mib_test_reset()
{
    std::lock_guard<std::mutex> g(lock);
    pd = pd_mib_type{};
}

bool ptp_pd_mib_test_initialised()
{
    std::lock_guard<std::mutex> g(lock);
    return pd.initialised;
}
