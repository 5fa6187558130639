// The group-services trace texts: every key of both tables against its golden text, records with
// fewer arguments than their text takes, unknown keys, a short buffer; and dgs_trace_show over
// buffers as the group-messaging library writes them.
#include "group_trace_format.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "jotlog_test.h"
#include "plat_clock_test.h"

namespace {

using formatter = int (*)(const jotlog_record_type *, uint64_t, char *, size_t);

jotlog_record_type record_of(uint64_t id, std::vector<uint64_t> args, std::vector<const char *> texts = {})
{
    jotlog_record_type r{};
    r.id = id;
    r.nargs = static_cast<uint16_t>(args.size());
    for (size_t i = 0; i < args.size(); ++i)
        r.args[i] = args[i];
    for (size_t i = 0; i < texts.size(); ++i)
        if (texts[i] != nullptr) {
            snprintf(r.text[i], sizeof r.text[i], "%s", texts[i]);
            r.text_mask = static_cast<uint16_t>(r.text_mask | (1u << i));
            r.args[i] = reinterpret_cast<uintptr_t>(r.text[i]);
        }
    return r;
}

std::string format(formatter f, const jotlog_record_type &r, size_t size = 512)
{
    std::vector<char> buf(size, '\0');
    buf[0] = '\0';
    EXPECT_EQ(f(&r, 0, buf.data(), buf.size()), 0);
    return buf.data();
}

TEST(GroupTraceFormat, EveryRecordAndErrorText)
{
    struct text_case {
        formatter f;
        jotlog_record_type record;
        const char *text;
    };
    const text_case cases[] = {
        {group_trace_format_record, record_of(0x10100000000, {0}, {"ptp"}), "dgs_bind: ptp"},
        {group_trace_format_record, record_of(0x10500000001, {0, 0x1a, 0x2b, 4000, 4010}, {"PTP"}),
         "dgs_bind: PTP created hdl 0x1a:0x2b Lo-port 4000 Hi-port 4010"},
        {group_trace_format_record, record_of(0x10400000002, {0, 1, 2, 3}, {"peer"}),
         "dgs_destroy: peer remote hdl 0x1:0x2 refcnt 3"},
        {group_trace_format_record, record_of(0x10400000003, {0, 0xff, 0x10, 0}, {"me"}),
         "dgs_unbind: me local hdl 0xff:0x10 refcnt 0"},
        {group_trace_format_record, record_of(0x200000004, {7, 2}), "dgs_input_handler: calling recv fd 7 cnt 2 "},
        {group_trace_format_record, record_of(0x10700000005, {0, 0x100, 1, 2, 3, 4, 5}, {"ep"}),
         "dgs_endp_to_hdl: created ep node 256 owner hdl 0x1:0x2 hdl 0x3:0x4 refcnt 5"},
        {group_trace_format_record, record_of(0x200000006, {7, 0}), "dgs_input_handler: done calling recv fd 7 cnt 0"},
        {group_trace_format_error, record_of(0x10300000000, {0, 1, 2}, {"ptp"}),
         "dgs_bind: ptp hdl 0x1:0x2 conflicting info"},
        {group_trace_format_error, record_of(0x10400000001, {0, 1, 2, 3}, {"ptp"}),
         "dgs_bind: ptp hdl 0x1: 0x2 already exist refcnt 3"},
        {group_trace_format_error, record_of(0x200000002, {0xa, 0xb}), "dgs_destroy: hdl 0xa:0xb does not exist"},
        {group_trace_format_error, record_of(0x100000003, {0xc, 0xd}), "dgs_endp_to_hdl: can't decode endp 0xc:0xd"},
        {group_trace_format_error, record_of(4, {}), "dgs_endp_to_hdl: missing args in endp"},
        {group_trace_format_error, record_of(0x10400000005, {0, 16, 1, 2}, {"ep"}),
         "dgs_endp_to_hdl: ep node 16 owner hdl 0x1:0x2 miss ports"},
        {group_trace_format_error, record_of(0x10300000006, {0, 120, static_cast<uint64_t>(-22)}, {"dgs.c"}),
         "dgs_error: dgs.c line  120 error -22"},
        // Arguments are read only up to the record's count; a %s argument only as a text.
        {group_trace_format_record, record_of(0x10500000001, {0, 0x1a}, {"PTP"}),
         "dgs_bind: PTP created hdl 0x1a:0x? Lo-port ? Hi-port ?"},
        {group_trace_format_record, record_of(0x10100000000, {}), "dgs_bind: ?"},
        {group_trace_format_record, record_of(0x10100000000, {0x7fff0000}), "dgs_bind: ?"},
        {group_trace_format_error, record_of(0x10300000006, {0}, {"x"}), "dgs_error: x line  ? error ?"},
    };
    for (const text_case &c : cases)
        EXPECT_EQ(format(c.f, c.record), c.text) << std::hex << c.record.id;
}

TEST(GroupTraceFormat, AnUnknownKeyLeavesTheBufferAndAShortBufferIsCut)
{
    struct unknown_case {
        formatter f;
        uint64_t id;
    };
    // Each table's keys are its own; the low word alone is not a key.
    const unknown_case cases[] = {
        {group_trace_format_record, 4},          {group_trace_format_record, 0x10100000007},
        {group_trace_format_record, 0},          {group_trace_format_error, 0x10100000000},
        {group_trace_format_error, 0x200000004}, {group_trace_format_error, 5},
    };
    for (const unknown_case &c : cases) {
        char buf[16] = "untouched";
        const jotlog_record_type r = record_of(c.id, {1, 2, 3});
        EXPECT_EQ(c.f(&r, 0, buf, sizeof buf), 0);
        EXPECT_STREQ(buf, "untouched") << std::hex << c.id;
    }
    EXPECT_EQ(format(group_trace_format_record, record_of(0x200000004, {7, 2}), 12), "dgs_input_h");
}

// Buffers as the group-messaging library writes them, read back by the tool.
class DgsTraceShow : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        dir = jotlog_test_run_dir_create("dgs-trace-show");
        ASSERT_FALSE(dir.empty());
        plat_clock_use_virtual(); // 2024-01-01T00:00:00Z
        jotlog_handle_type dgs = nullptr, err = nullptr;
        ASSERT_EQ(jotlog_init2("dgs", 0, 0, 16, 1024, 0, &dgs), ZERR_OK);
        ASSERT_EQ(jotlog_init2("dgs_err", 0, 0, 16, 1024, 0, &err), ZERR_OK);
        _jotlog1(dgs, 0x10100000000, 1, jotlog_text_arg("PTP"));
        plat_clock_advance_ms(1);
        _jotlog2(err, 0x200000002, 0, 0xa, 0xb);
        plat_clock_advance_ms(1);
        _jotlog2(dgs, 0x200000004, 0, 7, 2);
        plat_clock_advance_ms(1);
        _jotlog1(dgs, 0x30000000009, 0, 5); // a key the tool does not know
        plat_clock_advance_ms(1);
        _jotlog0(err, 4);
        jotlog_close(dgs);
        jotlog_close(err);
        plat_clock_use_real();
    }
    void TearDown() override { jotlog_test_run_dir_remove(dir); }

    std::string run(std::vector<std::string> args, int *status, std::string *err)
    {
        return jotlog_test_run_tool(dgs_trace_show_main, "dgs_trace_show", std::move(args), status, err);
    }
};

TEST_F(DgsTraceShow, OptionsOutputStreamsAndStatus)
{
    setenv("TZ", "UTC", 1);
    const std::string records = "2024-01-01 00:00:00.000000 dgs PID: dgs_bind: PTP\n"
                                "2024-01-01 00:00:00.002000 dgs PID: dgs_input_handler: calling recv fd 7 cnt 2 \n"
                                "2024-01-01 00:00:00.003000 dgs PID: id 0x0000030000000009 0x5\n";
    const std::string errors = "2024-01-01 00:00:00.001000 dgs_err PID: dgs_destroy: hdl 0xa:0xb does not exist\n"
                               "2024-01-01 00:00:00.004000 dgs_err PID: dgs_endp_to_hdl: missing args in endp\n";
    struct option_case {
        std::vector<std::string> args;
        std::string out;
    };
    const option_case cases[] = {
        {{}, records},          {{"-E"}, errors},
        {{"-x", "-E"}, errors}, // options the tool does not know are the reader's or nobody's
        {{"-xE"}, errors},      {{"--", "-E"}, records},
    };
    for (const option_case &c : cases) {
        int status = -1;
        std::string err;
        EXPECT_EQ(run(c.args, &status, &err), c.out) << testing::PrintToString(c.args);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(err, "");
    }
    // No buffer files: nothing to show, still status 0.
    jotlog_test_run_dir_remove(dir);
    dir = jotlog_test_run_dir_create("dgs-trace-show");
    int status = -1;
    std::string err;
    EXPECT_EQ(run({"-E"}, &status, &err), "");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(err, "");
}

} // namespace
