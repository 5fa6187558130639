// The agent's debug areas under "/debug/ptp": the one table its entry registers, and from which
// every module takes the index of the area it prints in.
#pragma once

#include <cstdint>
#include <iterator>
#include <string_view>

#include "ptp_debug.h"

// {index, name (the operator's word), label (the prefix of every print of the area)}.
inline constexpr ptp_debug_component_type tessel_debug_areas[] = {
    {0, "protocol", "PROTOCOL"},
    {1, "packet", "PACKET"},
    {2, "database", "DATABASE"},
    {3, "main", "MAIN"},
    {4, "im", "IM"},
    {5, "config", "CONFIG"},
    {6, "utils", "UTILS"},
    {7, "batch", "BATCH"},
    {8, "thread_ctrl", "THREAD-CTRL"},
    {9, "port_mgr", "PORT-MGR"},
    {10, "bmc", "BMC"},
    {11, "fsm", "FSM"},
    {12, "edm", "EDM"},
    {13, "comms", "COMMS"},
    {14, "offload", "OFFLOAD"},
    {15, "port_num", "PORT-NUM"},
    {16, "stats", "STATS"},
    {17, "fib", "FIB"},
    {18, "adjacency", "ADJACENCY"},
    {19, "issu", "ISSU"},
};

inline constexpr uint32_t TESSEL_DEBUG_AREA_COUNT = std::size(tessel_debug_areas);

// The registration gives row i the area index i.
consteval bool tessel_debug_areas_in_order()
{
    for (uint32_t i = 0; i < TESSEL_DEBUG_AREA_COUNT; i++) {
        if (tessel_debug_areas[i].index != i) {
            return false;
        }
    }
    return true;
}
static_assert(tessel_debug_areas_in_order());

// Index of the area called `name`. A name not in the table runs the search off the end of the
// table, which is not a constant expression: it does not compile.
consteval uint32_t tessel_debug_area(std::string_view name)
{
    uint32_t i = 0;
    while (name != tessel_debug_areas[i].name) {
        i++;
    }
    return static_cast<uint32_t>(tessel_debug_areas[i].index);
}
