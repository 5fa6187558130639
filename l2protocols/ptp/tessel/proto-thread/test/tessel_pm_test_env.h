// Shared set-up of the port-manager tests: an event manager, the agent's debug areas, the
// upgrade role, clocks and foreign masters built by hand.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "evm.h"
#include "issul.h"
#include "jotlog.h"
#include "plat_debug.h"
#include "ptp_debug.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_types.h"
#include "tessel_issu.h"
#include "tessel_pm_test_fakes.h"

inline debug_event_type pm_debug_table[20];

inline void pm_debug_setup(event_mgr_type *evm)
{
    static const ptp_debug_component_type areas[20] = {
        {0, "protocol", "PROTOCOL"}, {1, "packet", "PACKET"},   {2, "database", "DATABASE"},
        {3, "main", "MAIN"},         {4, "im", "IM"},           {5, "config", "CONFIG"},
        {6, "utils", "UTILS"},       {7, "batch", "BATCH"},     {8, "thread_ctrl", "THREAD-CTRL"},
        {9, "port_mgr", "PORT-MGR"}, {10, "bmc", "BMC"},        {11, "fsm", "FSM"},
        {12, "edm", "EDM"},          {13, "comms", "COMMS"},    {14, "offload", "OFFLOAD"},
        {15, "port_num", "PORT-NUM"}, {16, "stats", "STATS"},   {17, "fib", "FIB"},
        {18, "adjacency", "ADJACENCY"}, {19, "issu", "ISSU"},
    };
    ASSERT_EQ(ptp_debug_register(evm, pm_debug_table, areas, 20, nullptr), 0u);
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
    ptp_jotlog_buffer_type buffers[3] = {
        {"ptp/tessel/det", {1024, 8192, 0, 0}, nullptr},
        {"ptp/tessel/sum", {1024, 8192, 0, 0}, nullptr},
        {"ptp/tessel/unq", {1024, 8192, 64, 256}, nullptr},
    };
    std::string run_dir;

    void open()
    {
        char dir[] = "/tmp/tessel_pm_test.XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        run_dir = dir;
        jotlog_set_run_dir(dir);
        ASSERT_EQ(ptp_jotlog_init(buffers, 3), 0u);
        ptp_jotlog_ctx_set(buffers[0], buffers[1], buffers[2]);
    }
    void close()
    {
        ptp_jotlog_close(buffers, 3);
        ptp_jotlog_ctx_set({}, {}, {});
        jotlog_set_run_dir(nullptr);
        std::filesystem::remove_all(run_dir);
    }
    // Each record of a buffer as "0x<id>(<arg>,...)".
    static std::vector<std::string> lines(const char *buffer)
    {
        std::vector<std::string> out;
        jotlog_read(
            buffer,
            [](const jotlog_record_type *r, void *c) {
                char id[32];
                std::snprintf(id, sizeof id, "0x%llx(", static_cast<unsigned long long>(r->id));
                std::string line = id;
                for (uint32_t i = 0; i < r->nargs; i++) {
                    line += (i > 0 ? "," : "") + std::to_string(r->args[i]);
                }
                static_cast<std::vector<std::string> *>(c)->push_back(line + ")");
                return true;
            },
            &out);
        return out;
    }
};
