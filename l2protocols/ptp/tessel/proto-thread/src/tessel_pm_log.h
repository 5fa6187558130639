// Debug lines and trace records of the port manager, the best-master list and the upgrade
// client, on the agent's debug areas and trace buffers. Private to the library.
#pragma once

#include <cstdint>

#include "ptp_debug.h"
#include "ptp_trace.h"
#include "ptp_trace_points.h"
#include "tessel_debug_areas.h"

// The agent's debug areas these modules print in.
inline constexpr uint32_t TESSEL_AREA_PORT_MGR = tessel_debug_area("port_mgr");
inline constexpr uint32_t TESSEL_AREA_BMC = tessel_debug_area("bmc");
inline constexpr uint32_t TESSEL_AREA_ISSU = tessel_debug_area("issu");

// One debug line on an area; format begins with "%s: ", filled with the area's label.
#define TESSEL_PM_DEBUG_LEVEL(area, level, ifhandle, format, ...)                                                      \
    do {                                                                                                               \
        debug_event_type *pm_table_ = ptp_debug_table_get();                                                           \
        if (ptp_debug_enabled(pm_table_, (area))) {                                                                    \
            ptp_debug_print((area), (ifhandle), (level), pm_table_, format,                                            \
                            ptp_debug_area_label(area) __VA_OPT__(, ) __VA_ARGS__);                                    \
        }                                                                                                              \
    } while (0)

// One fixed line printed as it stands, without the area's label.
#define TESSEL_PM_DEBUG_TEXT(area, ifhandle, text)                                                                     \
    do {                                                                                                               \
        debug_event_type *pm_table_ = ptp_debug_table_get();                                                           \
        if (ptp_debug_enabled(pm_table_, (area))) {                                                                    \
            ptp_debug_print((area), (ifhandle), PTP_DEBUG_LEVEL_SUPPORT, pm_table_, "%s", text);                       \
        }                                                                                                              \
    } while (0)

#define TESSEL_PM_DEBUG(area, ifhandle, format, ...)                                                                   \
    TESSEL_PM_DEBUG_LEVEL(area, PTP_DEBUG_LEVEL_SUPPORT, ifhandle, format __VA_OPT__(, ) __VA_ARGS__)
#define TESSEL_PM_DEBUG_ERR(area, ifhandle, format, ...)                                                               \
    TESSEL_PM_DEBUG_LEVEL(area, PTP_DEBUG_LEVEL_ERROR, ifhandle, format __VA_OPT__(, ) __VA_ARGS__)

inline jotlog_handle_type tessel_pm_det()
{
    return ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_DET);
}
inline jotlog_handle_type tessel_pm_sum()
{
    return ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_SUM);
}
inline jotlog_handle_type tessel_pm_unq()
{
    return ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_UNQ);
}
