#include <stdlib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "jotlog_test.h"
#include "plat_clock_test.h"
#include "plat_debug.h"
#include "ptp_alloc.h"
#include "ptp_debug.h"
#include "ptp_trace_points.h"
#include "qor_log.h"

extern std::vector<std::string> fake_imc_lookups;

namespace {

const ptp_debug_component_type agent_areas[] = {
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
constexpr uint32_t area_count = std::size(agent_areas);
constexpr uint32_t utils_area = 6;
int im_context; // stands for the interface-manager connection

struct TraceRecord {
    uint64_t id;
    uint64_t arg0;
    std::string text1;
};

std::vector<TraceRecord> read_trace(const char *name)
{
    std::vector<TraceRecord> out;
    jotlog_read(
        name,
        [](const jotlog_record_type *r, void *ctx) {
            const char *text = jotlog_record_text(r, 1);
            static_cast<std::vector<TraceRecord> *>(ctx)->push_back(
                {r->id, r->nargs > 0 ? r->args[0] : 0, text != nullptr ? text : ""});
            return true;
        },
        &out);
    return out;
}

class PtpDebug : public ::testing::Test {
protected:
    void SetUp() override
    {
        run_dir = jotlog_test_run_dir_create("ptp_debug_test");
        ASSERT_FALSE(run_dir.empty());
        // Each test a fresh virtual hour, so that no rate limit carries over between tests.
        static uint64_t start_s = 100000;
        start_s += 3600;
        plat_clock_use_virtual_at(start_s * 1000000000ull, PLAT_CLOCK_VIRTUAL_WALL_START_S);
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();
        debug_capture_clear();
        fake_imc_lookups.clear();
        ASSERT_EQ(ptp_debug_register(nullptr, table, agent_areas, area_count, &im_context), ZERR_OK);
    }
    void TearDown() override
    {
        ptp_jotlog_close(buffers, std::size(buffers));
        ptp_utils_debug_init(nullptr, nullptr, 0, nullptr);
        ptp_jotlog_ctx_set({}, {}, {});
        ptp_debug_cleanup();
        jotlog_test_run_dir_remove(run_dir);
        plat_clock_use_real();
    }

    const ptp_debug_filter_type *filter(uint32_t area) const
    {
        return static_cast<const ptp_debug_filter_type *>(table[area].filter);
    }

    debug_event_type table[area_count]{};
    ptp_jotlog_buffer_type buffers[4] = {
        {"ptp/tessel/det", {1024, 8192, 0, 0}, nullptr},
        {"ptp/tessel/sum", {1024, 8192, 0, 0}, nullptr},
        {"ptp/tessel/unq", {1024, 8192, 64, 256}, nullptr},
        {"ptp/tessel/pkt", {1024, 8192, 0, 0}, nullptr},
    };
    std::string run_dir;
};

TEST_F(PtpDebug, FilterParsing)
{
    struct Case {
        const char *text;
        zerrno rc;
        uint32_t level;
        uint32_t has_interface;
        uint32_t ifhandle;
    };
    const Case cases[] = {
        {"support:", ZERR_OK, 1, 0, 0},
        {"internal:Gi0/0/0/1", ZERR_OK, 2, 1, 0x1234},
        {"internal:Gi0/0/0/1:anything after", ZERR_OK, 2, 1, 0x1234},
        {"support:Gi0/0/0/2", ZERR_OK, 1, 1, 0x5678}, // the "found" answer counts as success
        {":Gi0/0/0/1", ZERR_OK, 0, 1, 0x1234},
        {"verbose:", PTP_ZERR_NOMEM, 0, 0, 0},
        {"support", PTP_ZERR_NOMEM, 0, 0, 0},
        {"internal:NoSuchIf", PTP_ZERR_NOMEM, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_EQ(debug_clear_area(PTP_DEBUG_PATH, "fsm"), ZERR_OK);
        EXPECT_EQ(debug_set_area(PTP_DEBUG_PATH, "fsm", c.text), c.rc);
        if (c.rc != ZERR_OK) {
            EXPECT_EQ(table[11].enabled, 0u);
            continue;
        }
        ASSERT_NE(filter(11), nullptr);
        EXPECT_EQ(filter(11)->level, c.level);
        EXPECT_EQ(filter(11)->has_interface, c.has_interface);
        EXPECT_EQ(filter(11)->ifhandle, c.ifhandle);
    }
    // A value of another type than text is refused.
    uint64_t number = 1;
    EXPECT_EQ(debug_set_area_value(PTP_DEBUG_PATH, "fsm", DEBUG_VALUE_UINT, &number, sizeof number),
              PTP_ZERR_INVALID_ARG);
}

TEST_F(PtpDebug, FilterMatching)
{
    struct Case {
        ptp_debug_filter_type filter;
        ptp_debug_filter_params_type params;
        bool passes;
    };
    const Case cases[] = {
        {{0, 0, 1}, {0, 0}, true},                                         // support filter: error print
        {{0, 0, 1}, {0x10, 1}, true},                                      // support print
        {{0, 0, 1}, {0, 2}, false},                                        // internal print stopped
        {{0, 0, 2}, {0x10, 2}, true},     {{1, 0x10, 2}, {0x10, 2}, true}, // the filter's interface
        {{1, 0x10, 2}, {0x11, 0}, false},                                  // another interface
        {{1, 0x10, 2}, {0, 0}, false},                                     // no interface
    };
    for (const Case &c : cases)
        EXPECT_EQ(ptp_debug_filter_match_cb_fn(&c.params, &c.filter), c.passes)
            << c.filter.has_interface << "/" << c.filter.ifhandle << "/" << c.filter.level << " vs "
            << c.params.ifhandle << "/" << c.params.level;
}

TEST_F(PtpDebug, PrintsGatedByAreaAndFilter)
{
    auto print_all = [&] {
        ptp_debug_print(11, 0, PTP_DEBUG_LEVEL_ERROR, table, "%s: error", "FSM");
        ptp_debug_print(11, 0x1234, PTP_DEBUG_LEVEL_SUPPORT, table, "%s: support %s", "FSM", "Gi1");
        ptp_debug_print(11, 0x9999, PTP_DEBUG_LEVEL_SUPPORT, table, "%s: support other", "FSM");
        ptp_debug_print(11, 0x1234, PTP_DEBUG_LEVEL_INTERNAL, table, "%s: internal", "FSM");
    };
    print_all(); // area off
    EXPECT_TRUE(debug_captured().empty());

    ASSERT_EQ(debug_set_area(PTP_DEBUG_PATH, "fsm", "support:"), ZERR_OK);
    print_all();
    EXPECT_EQ(debug_captured(), (std::vector<std::string>{"FSM: error", "FSM: support Gi1", "FSM: support other"}));

    debug_capture_clear();
    ASSERT_EQ(debug_set_area(PTP_DEBUG_PATH, "fsm", "internal:Gi0/0/0/1"), ZERR_OK);
    print_all();
    EXPECT_EQ(debug_captured(), (std::vector<std::string>{"FSM: support Gi1", "FSM: internal"}));
}

TEST_F(PtpDebug, SecondRegistrationDoesNothing)
{
    debug_event_type other[area_count]{};
    EXPECT_EQ(ptp_debug_register(nullptr, other, agent_areas, area_count, &im_context), ZERR_OK);
    EXPECT_EQ(other[0].magic, 0u);
    EXPECT_STREQ(ptp_debug_area_label(9), "PORT-MGR");
    EXPECT_EQ(ptp_debug_table_get(), table);
}

// A process without an interface-manager context (the controller, sardo) refuses a filter that
// names an interface instead of using a context it does not have.
TEST_F(PtpDebug, InterfaceFilterWithoutContextIsRefused)
{
    ptp_debug_cleanup();
    debug_event_type plain[area_count]{};
    ASSERT_EQ(ptp_debug_register(nullptr, plain, agent_areas, area_count, nullptr), ZERR_OK);
    EXPECT_EQ(debug_set_area(PTP_DEBUG_PATH, "fsm", "support:Gi0/0/0/1"), PTP_ZERR_NOMEM);
    EXPECT_TRUE(fake_imc_lookups.empty());
    EXPECT_EQ(debug_set_area(PTP_DEBUG_PATH, "fsm", "support:"), ZERR_OK);
    ptp_debug_cleanup(); // before `plain` goes
}

TEST_F(PtpDebug, AllocationFailureReport)
{
    ASSERT_EQ(ptp_jotlog_init(buffers, std::size(buffers)), ZERR_OK);
    ptp_utils_debug_init(buffers[2].handle, buffers[0].handle, utils_area, table);
    ASSERT_EQ(debug_set_area(PTP_DEBUG_PATH, "utils", nullptr), ZERR_OK);

    ptp_alloc_failure_report(24, "Unicast peer list entry");

    auto msgs = qor_errmsg_captured();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].mnemonic, "MEM_ALLOC");
    EXPECT_EQ(msgs[0].text, "Failed to allocate 24 bytes for 'Unicast peer list entry'");
    EXPECT_EQ(debug_captured(),
              (std::vector<std::string>{"UTILS: [ERROR] Failed to allocate 24 bytes for 'Unicast peer list entry'"}));
    for (const char *name : {"ptp/tessel/unq", "ptp/tessel/det"}) {
        SCOPED_TRACE(name);
        auto records = read_trace(name);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].id, 0x20200800000u);
        EXPECT_EQ(records[0].arg0, 24u);
        EXPECT_EQ(records[0].text1, "Unicast peer list entry");
    }
    EXPECT_TRUE(read_trace("ptp/tessel/sum").empty());
}

// The controller and sardo set no library context: the report goes to the buffers they
// published, and with nothing published it still raises the message and nothing else.
TEST_F(PtpDebug, AllocationFailureReportWithoutLibraryContext)
{
    ASSERT_EQ(ptp_jotlog_init(buffers, 3), ZERR_OK);
    ptp_jotlog_ctx_set(buffers[0], buffers[1], buffers[2]);
    ptp_alloc_failure_report(16, "x");
    EXPECT_EQ(read_trace("ptp/tessel/unq").size(), 1u);
    EXPECT_EQ(read_trace("ptp/tessel/det").size(), 1u);

    // Closing the buffers also withdraws them from the published context.
    ptp_jotlog_close(buffers, 3);
    EXPECT_EQ(ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_UNQ), nullptr);
    ptp_alloc_failure_report(16, nullptr);
    EXPECT_EQ(read_trace("ptp/tessel/unq").size(), 1u);
}

TEST_F(PtpDebug, FailedJotlogInitClosesEarlierBuffers)
{
    ptp_jotlog_buffer_type table_with_bad_row[] = {
        {"ptp/tessel/det", {1024, 8192, 0, 0}, nullptr},
        {"ptp/tessel/sum", {1024, 8192, 0, 0}, nullptr},
        {"ptp/../escape", {1024, 8192, 0, 0}, nullptr},
    };
    zerrno rc = ptp_jotlog_init(table_with_bad_row, 3);
    EXPECT_NE(rc, ZERR_OK);
    for (const auto &row : table_with_bad_row)
        EXPECT_EQ(row.handle, nullptr) << row.name;
    auto msgs = qor_errmsg_captured();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].mnemonic, "INIT_FAILED");
    EXPECT_EQ(msgs[0].text, std::string("Failed to initialize: Failed to initialize jotlog: ") + zerr_strerror(rc));
    // Nothing was left open: the same buffers open again.
    EXPECT_EQ(ptp_jotlog_init(buffers, 2), ZERR_OK);
}

TEST(PtpTracePoints, IdsFollowTheScheme)
{
    EXPECT_EQ(ptp_trace_point_id(PTP_TRACE_TESSEL_MGD_TIMER_ERROR), 0x102001004D6u);
    EXPECT_EQ(ptp_trace_point_id(PTP_TRACE_UTIL_ISSU_MILESTONE_START_FAILED), 0x2008000D3u);
    EXPECT_EQ(ptp_trace_point_find(0x20200800000u), &ptp_trace_points_util[0]);
    EXPECT_EQ(ptp_trace_point_find(0x100800000u | 999), nullptr);
    EXPECT_EQ(ptp_trace_point_find(0x400000u), nullptr);
    EXPECT_EQ(ptp_trace_points_util.size(), 24u);
    EXPECT_EQ(ptp_jotlog_addr_fmt_get(3, 2), 0xA02u);
    EXPECT_EQ(ptp_jotlog_addr_fmt_get(6, 3), 0x24u);
    EXPECT_EQ(ptp_jotlog_addr_fmt_get(7, 3), 0u);
}

} // namespace
