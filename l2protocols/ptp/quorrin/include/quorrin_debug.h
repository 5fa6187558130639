// The controller's debug areas under "/debug/ptp" and its trace buffers: the one table its entry
// registers, from which every module takes the index of the area it prints in, and the print and
// trace helpers every module uses.
#pragma once

#include <cstdint>
#include <iterator>
#include <string_view>

#include "ptp_debug.h"
#include "ptp_trace.h"
#include "ptp_trace_points.h"

// {index, name (the operator's word), label (the prefix of every print of the area)}.
inline constexpr ptp_debug_component_type quorrin_debug_areas[] = {
    {0, "protocol", "PROTOCOL"},         {1, "main", "MAIN"},     {2, "edm", "EDM"}, {3, "comms", "COMMS"},
    {4, "platform", "PLATFORM"},         {5, "config", "CONFIG"}, {6, "bmc", "BMC"}, {7, "port_num", "PORT-NUM"},
    {8, "leap_seconds", "LEAP-SECONDS"}, {9, "ha", "HA"},
};

inline constexpr uint32_t QUORRIN_DEBUG_AREA_COUNT = std::size(quorrin_debug_areas);

// The registration gives row i the area index i.
consteval bool quorrin_debug_areas_in_order()
{
    for (uint32_t i = 0; i < QUORRIN_DEBUG_AREA_COUNT; i++) {
        if (quorrin_debug_areas[i].index != i) {
            return false;
        }
    }
    return true;
}
static_assert(quorrin_debug_areas_in_order());

// Index of the area called `name`; a name not in the table does not compile.
consteval uint32_t quorrin_debug_area(std::string_view name)
{
    uint32_t i = 0;
    while (name != quorrin_debug_areas[i].name) {
        i++;
    }
    return static_cast<uint32_t>(quorrin_debug_areas[i].index);
}

inline constexpr uint32_t QUORRIN_AREA_MAIN = quorrin_debug_area("main");
inline constexpr uint32_t QUORRIN_AREA_COMMS = quorrin_debug_area("comms");
inline constexpr uint32_t QUORRIN_AREA_PLATFORM = quorrin_debug_area("platform");

// One debug line on an area; format begins with "%s: ", filled with the area's label. The
// controller prints with interface handle 0.
#define QUORRIN_DEBUG_LEVEL(area, level, format, ...)                                                                  \
    do {                                                                                                               \
        debug_event_type *quorrin_table_ = ptp_debug_table_get();                                                      \
        if (ptp_debug_enabled(quorrin_table_, (area))) {                                                               \
            ptp_debug_print((area), 0, (level), quorrin_table_, format,                                                \
                            ptp_debug_area_label(area) __VA_OPT__(, ) __VA_ARGS__);                                    \
        }                                                                                                              \
    } while (0)

#define QUORRIN_DEBUG(area, format, ...)                                                                               \
    QUORRIN_DEBUG_LEVEL(area, PTP_DEBUG_LEVEL_SUPPORT, format __VA_OPT__(, ) __VA_ARGS__)
#define QUORRIN_DEBUG_ERR(area, format, ...)                                                                           \
    QUORRIN_DEBUG_LEVEL(area, PTP_DEBUG_LEVEL_ERROR, format __VA_OPT__(, ) __VA_ARGS__)

// The controller's trace buffers, in the order of its buffer table.
inline constexpr const char *QUORRIN_JOTLOG_DET = "ptp/quorrin/det";
inline constexpr const char *QUORRIN_JOTLOG_SUM = "ptp/quorrin/sum";
inline constexpr const char *QUORRIN_JOTLOG_UNQ = "ptp/quorrin/unq";

inline jotlog_handle_type quorrin_det()
{
    return ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_DET);
}
inline jotlog_handle_type quorrin_sum()
{
    return ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_SUM);
}
inline jotlog_handle_type quorrin_unq()
{
    return ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_UNQ);
}
