// The platform-dependent MIB library: the clock's running state, offset from master and mean
// path delay as the MIB plug-ins serve them. This stand-in reads the node's software servo (its
// state saved beside the node clock), or what a test set.
#pragma once

#include <cstdint>

#include "evm.h"
#include "zerrno.h"

inline constexpr uint32_t PTP_PD_MIB_VERSION = 1;

struct ptp_pd_mib_init_in_type {
    event_mgr_type *evm;
};

enum ptp_pd_mib_clock_status_type : uint32_t {
    PTP_PD_MIB_CLOCK_STATUS_FREERUN = 0,
    PTP_PD_MIB_CLOCK_STATUS_ACQUIRING = 1,
    PTP_PD_MIB_CLOCK_STATUS_FREQ_LOCKED = 2,
    PTP_PD_MIB_CLOCK_STATUS_PHASE_ALIGNED = 3,
    PTP_PD_MIB_CLOCK_STATUS_HOLDOVER = 4,
};

inline constexpr uint32_t PTP_PD_MIB_OFFSET_VALID = 1u << 0;
inline constexpr uint32_t PTP_PD_MIB_DELAY_VALID = 1u << 1;

struct ptp_pd_mib_system_info_type {
    uint32_t flags;
    uint32_t clock_status; // ptp_pd_mib_clock_status_type
    int64_t offset_from_master_ns;
    int64_t mean_path_delay_ns;
};
static_assert(sizeof(ptp_pd_mib_system_info_type) == 24);

// 0 on success; *result non-zero: the library is of a version the caller does not support.
zerrno ptp_pd_mib_init(const ptp_pd_mib_init_in_type *in, uint32_t *result);
zerrno ptp_pd_mib_get_system_info(uint8_t *reserved, ptp_pd_mib_system_info_type *info);
void ptp_pd_mib_shutdown();

// Test control: what init and get_system_info answer from now on (instead of the servo), and
// whether the library is initialised.
void ptp_pd_mib_test_set_init(zerrno rc, uint32_t result);
void ptp_pd_mib_test_set_system_info(zerrno rc, const ptp_pd_mib_system_info_type &info);
void ptp_pd_mib_test_reset();
bool ptp_pd_mib_test_initialised();
