// State and helpers the offload modules (sessions and data; notifications and statistics)
// share. Private to the library.
#pragma once

#include <cstdint>

#include "ptp_debug.h"
#include "ptp_timer.h"
#include "tessel_debug_areas.h"
#include "tessel_offload.h"
#include "util_retry_handler_private.h"

inline constexpr uint32_t TESSEL_AREA_OFFLOAD = tessel_debug_area("offload");

#define TESSEL_OFFLOAD_DEBUG_LEVEL(level, ifhandle, format, ...)                                                       \
    do {                                                                                                               \
        debug_event_type *offload_table_ = ptp_debug_table_get();                                                      \
        if (ptp_debug_enabled(offload_table_, TESSEL_AREA_OFFLOAD)) {                                                  \
            ptp_debug_print(TESSEL_AREA_OFFLOAD, (ifhandle), (level), offload_table_, format,                          \
                            ptp_debug_area_label(TESSEL_AREA_OFFLOAD) __VA_OPT__(, ) __VA_ARGS__);                     \
        }                                                                                                              \
    } while (0)
#define TESSEL_OFFLOAD_DEBUG(ifhandle, format, ...)                                                                    \
    TESSEL_OFFLOAD_DEBUG_LEVEL(PTP_DEBUG_LEVEL_SUPPORT, ifhandle, format __VA_OPT__(, ) __VA_ARGS__)
#define TESSEL_OFFLOAD_DEBUG_ERR(ifhandle, format, ...)                                                                \
    TESSEL_OFFLOAD_DEBUG_LEVEL(PTP_DEBUG_LEVEL_ERROR, ifhandle, format __VA_OPT__(, ) __VA_ARGS__)

// Module state of the sessions side that the statistics side reads.
struct tessel_offload_state_type {
    avl2_tree_type tree;
    bool tree_created;
    event_mgr_type *evm;
};
tessel_offload_state_type &tessel_offload_state();

// The statistics side's part of init and shutdown (timers).
zerrno tessel_offload_stats_init(void);
void tessel_offload_stats_shutdown(void);

// Encapsulation names as the debug lines print them.
const char *tessel_offload_encap_name(uint32_t encap);

// Calls out of this module into Parts with no header of their own yet.
// The packet-counter reader waiting for solicited statistics may answer now.
void tessel_edm_resume_packet_counters_request(void);
