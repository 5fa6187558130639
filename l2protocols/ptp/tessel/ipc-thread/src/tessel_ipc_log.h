// Debug lines and trace records of the agent's entry and IPC-thread modules, on the agent's
// debug areas and trace buffers. Private to these modules.
#pragma once

#include <cstdint>

#include "ptp_debug.h"
#include "ptp_trace.h"
#include "ptp_trace_points.h"
#include "tessel_debug_areas.h"

// One debug line on an area; format begins with "%s: ", filled with the area's label.
#define TESSEL_IPC_DEBUG_LEVEL(area, level, ifhandle, format, ...)                                                     \
    do {                                                                                                               \
        debug_event_type *ipc_table_ = ptp_debug_table_get();                                                          \
        if (ptp_debug_enabled(ipc_table_, (area))) {                                                                   \
            ptp_debug_print((area), (ifhandle), (level), ipc_table_, format,                                           \
                            ptp_debug_area_label(area) __VA_OPT__(, ) __VA_ARGS__);                                    \
        }                                                                                                              \
    } while (0)

#define TESSEL_IPC_DEBUG(area, format, ...)                                                                            \
    TESSEL_IPC_DEBUG_LEVEL(area, PTP_DEBUG_LEVEL_SUPPORT, 0, format __VA_OPT__(, ) __VA_ARGS__)
#define TESSEL_IPC_DEBUG_ERR(area, format, ...)                                                                        \
    TESSEL_IPC_DEBUG_LEVEL(area, PTP_DEBUG_LEVEL_ERROR, 0, format __VA_OPT__(, ) __VA_ARGS__)

inline jotlog_handle_type tessel_ipc_det()
{
    return ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_DET);
}
inline jotlog_handle_type tessel_ipc_sum()
{
    return ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_SUM);
}
inline jotlog_handle_type tessel_ipc_unq()
{
    return ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_UNQ);
}
