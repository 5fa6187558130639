// Shared set-up of the port-manager tests: an event manager, the agent's debug areas, the
// upgrade role, clocks and foreign masters built by hand.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "evm.h"
#include "issul.h"
#include "jotlog.h"
#include "jotlog_test.h"
#include "plat_debug.h"
#include "ptp_debug.h"
#include "tessel_debug_areas.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_types.h"
#include "tessel_issu.h"
#include "tessel_pm_test_fakes.h"
#include "tessel_trace_buffers.h"

inline debug_event_type pm_debug_table[TESSEL_DEBUG_AREA_COUNT];

inline void pm_debug_setup(event_mgr_type *evm)
{
    ASSERT_EQ(ptp_debug_register(evm, pm_debug_table, tessel_debug_areas, TESSEL_DEBUG_AREA_COUNT, nullptr), 0u);
}

// The debug lines captured since the last clear that contain `part`.
inline std::vector<std::string> pm_lines_with(const std::string &part)
{
    std::vector<std::string> out;
    for (const std::string &line : debug_captured()) {
        if (line.find(part) != std::string::npos) {
            out.push_back(line);
        }
    }
    return out;
}

inline ptp_clock_type pm_clock(uint64_t id, uint8_t priority1, uint16_t steps = 1, uint64_t sender = 0,
                               uint16_t receiver_port = 1)
{
    ptp_clock_type c{};
    c.clock_id = id;
    c.priority1 = priority1;
    c.priority2 = 128;
    c.clock_class = 6;
    c.accuracy = 0x21;
    c.offset_log_variance = 0x4E5D;
    c.steps_removed = steps;
    c.sender.clock_id = sender != 0 ? sender : id;
    c.sender.port_num = 1;
    c.receiver.port_num = receiver_port;
    return c;
}

inline int pm_count(const std::string &call)
{
    int n = 0;
    for (const std::string &c : pm_fake.calls) {
        n += c == call ? 1 : 0;
    }
    return n;
}

// The agent's three trace buffers, open in a private run directory for one test.
struct pm_trace_buffers {
    ptp_jotlog_buffer_type buffers[3] = {tessel_trace_buffers[TESSEL_TRACE_BUFFER_DET],
                                         tessel_trace_buffers[TESSEL_TRACE_BUFFER_SUM],
                                         tessel_trace_buffers[TESSEL_TRACE_BUFFER_UNQ]};
    std::string run_dir;

    void open()
    {
        run_dir = jotlog_test_run_dir_create("tessel_pm_test");
        ASSERT_FALSE(run_dir.empty());
        ASSERT_EQ(ptp_jotlog_init(buffers, 3), 0u);
        ptp_jotlog_ctx_set(buffers[0], buffers[1], buffers[2]);
    }
    void close()
    {
        ptp_jotlog_close(buffers, 3);
        ptp_jotlog_ctx_set({}, {}, {});
        jotlog_test_run_dir_remove(run_dir);
    }
    // Each record of a buffer as "0x<id>(<arg>,...)".
    static std::vector<std::string> lines(const char *buffer) { return jotlog_test_records(buffer); }
};
