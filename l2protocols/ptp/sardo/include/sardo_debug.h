// The global verifier's debug components under "/debug/ptp" and its trace buffers: the one table
// its entry registers, and the print and trace helpers its modules use.
#pragma once

#include <cstdint>
#include <iterator>
#include <string_view>

#include "evm.h"
#include "ptp_debug.h"
#include "ptp_trace.h"
#include "ptp_trace_points.h"
#include "zerrno.h"

// {index, name (the operator's word), label (the prefix of every print of the component)}.
inline constexpr ptp_debug_component_type sardo_debug_components[] = {
    {0, "main", "MAIN"},
    {1, "edm", "EDM"},
    {2, "platform", "PLATFORM"},
    {3, "config", "CONFIG"},
};

inline constexpr uint32_t SARDO_DEBUG_COMPONENT_COUNT = std::size(sardo_debug_components);

// Index of the component called `name`; a name not in the table does not compile.
consteval uint32_t sardo_debug_component(std::string_view name)
{
    uint32_t i = 0;
    while (name != sardo_debug_components[i].name) {
        i++;
    }
    return static_cast<uint32_t>(sardo_debug_components[i].index);
}

// The registration gives row i the component index i.
consteval bool sardo_debug_components_in_order()
{
    for (uint32_t i = 0; i < SARDO_DEBUG_COMPONENT_COUNT; i++) {
        if (sardo_debug_components[i].index != i) {
            return false;
        }
    }
    return true;
}
static_assert(sardo_debug_components_in_order());

inline constexpr uint32_t SARDO_DEBUG_MAIN = sardo_debug_component("main");
inline constexpr uint32_t SARDO_DEBUG_EDM = sardo_debug_component("edm");
inline constexpr uint32_t SARDO_DEBUG_PLATFORM = sardo_debug_component("platform");
inline constexpr uint32_t SARDO_DEBUG_CONFIG = sardo_debug_component("config");

// One debug line of a component, written only while that component's debugging is on; format
// begins with "%s: ", filled with the component's label.
#define SARDO_DEBUG_LEVEL(component, level, format, ...)                                                               \
    do {                                                                                                               \
        debug_event_type *sardo_table_ = ptp_debug_table_get();                                                        \
        if (ptp_debug_enabled(sardo_table_, (component))) {                                                            \
            ptp_debug_print((component), 0, (level), sardo_table_, format,                                             \
                            ptp_debug_area_label(component) __VA_OPT__(, ) __VA_ARGS__);                               \
        }                                                                                                              \
    } while (0)

#define SARDO_DEBUG(component, format, ...)                                                                            \
    SARDO_DEBUG_LEVEL(component, PTP_DEBUG_LEVEL_SUPPORT, format __VA_OPT__(, ) __VA_ARGS__)
#define SARDO_DEBUG_ERR(component, format, ...)                                                                        \
    SARDO_DEBUG_LEVEL(component, PTP_DEBUG_LEVEL_ERROR, format __VA_OPT__(, ) __VA_ARGS__)

// The trace buffers, in the order of the buffer table.
inline constexpr const char *SARDO_JOTLOG_DET = "ptp/sardo/det";
inline constexpr const char *SARDO_JOTLOG_SUM = "ptp/sardo/sum";
inline constexpr const char *SARDO_JOTLOG_UNQ = "ptp/sardo/unq";

inline jotlog_handle_type sardo_det()
{
    return ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_DET);
}
inline jotlog_handle_type sardo_sum()
{
    return ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_SUM);
}
inline jotlog_handle_type sardo_unq()
{
    return ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_UNQ);
}

// Registers the four components (on a table the entry owns) / releases them.
zerrno sardo_debug_init(event_mgr_type *evm);
void sardo_debug_cleanup(void);
// Opens the three trace buffers and publishes them as the process's trace context / closes them.
zerrno sardo_jotlog_init(void);
void sardo_jotlog_close(void);
