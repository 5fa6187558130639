// The trace-point tables: the ids the agent's emitters write (fixed, since records outlive the
// programs that wrote them) and the checks that keep every row's text and arguments in step.
#include <gtest/gtest.h>

#include <cstdint>

#include "ptp_trace_points.h"

namespace {

struct id_case {
    const ptp_trace_point_type &point;
    ptp_trace_id id;
};

TEST(TracePoints, AgentIdsAreTheRecordedOnes)
{
    const id_case cases[] = {
        {PTP_TRACE_TESSEL_FSM_SIG_FROM_SELF, 0x400100642},
        {PTP_TRACE_TESSEL_FSM_SIG_NOT_FOR_US, 0x600100643},
        {PTP_TRACE_TESSEL_FSM_SIG_NO_TLV_HEADER_SPACE, 0x400100644},
        {PTP_TRACE_TESSEL_FSM_SIG_NO_TLV_SPACE, 0x400100645},
        {PTP_TRACE_TESSEL_FSM_SIG_UNSUPPORTED_TLV, 0x300100646},
        {PTP_TRACE_TESSEL_FSM_MSG_TOO_SHORT, 0x500100647},
        {PTP_TRACE_TESSEL_FSM_ANNOUNCE_NOT_LISTENING, 0x20010064e},
        {PTP_TRACE_TESSEL_FSM_ANNOUNCE_UNKNOWN_MASTER, 0x50010064f},
        {PTP_TRACE_TESSEL_FSM_ANNOUNCE_LOOPED_SAME_PORT, 0x300100650},
        {PTP_TRACE_TESSEL_FSM_ANNOUNCE_LOOPED_HIGHER_PORT, 0x400100651},
        {PTP_TRACE_TESSEL_FSM_ANNOUNCE_LOOPED_LOWER_PORT, 0x400100652},
        {PTP_TRACE_TESSEL_FSM_ANNOUNCE_STEPS_REMOVED, 0x400100653},
        {PTP_TRACE_TESSEL_FSM_ANNOUNCE_MIN_CLOCK_CLASS, 0x400100654},
        {PTP_TRACE_TESSEL_FSM_ANNOUNCE_INCORRECT_ADDRESS, 0x500100655},
        {PTP_TRACE_TESSEL_FSM_ANNOUNCE_SLAVE_ONLY_CLASS, 0x400100656},
        {PTP_TRACE_TESSEL_FSM_ANNOUNCE_RESERVED_CLOCK_ID, 0x200100657},
        {PTP_TRACE_TESSEL_FSM_FM_NO_SYNC, 0x500100658},
        {PTP_TRACE_TESSEL_FSM_FM_NO_DELAY_RESP, 0x500100659},
        {PTP_TRACE_TESSEL_FSM_WRONG_DOMAIN, 0x40010065a},
        {PTP_TRACE_TESSEL_FSM_PDELAY_NOT_SUPPORTED, 0x30010065b},
        {PTP_TRACE_TESSEL_FSM_MANAGEMENT_NOT_SUPPORTED, 0x20010065c},
        {PTP_TRACE_TESSEL_FSM_UNKNOWN_MSG_TYPE, 0x30010065d},
        {PTP_TRACE_TESSEL_FSM_FM_CREATED, 0x500100670},
        {PTP_TRACE_TESSEL_FSM_FM_DELETED, 0x500100671},
        {PTP_TRACE_TESSEL_FSM_FM_NEW, 0x500100672},
        {PTP_TRACE_TESSEL_FSM_FM_TIMED_OUT, 0x500100673},
        {PTP_TRACE_TESSEL_FSM_BEST_FM_CHANGED, 0x500100674},
        {PTP_TRACE_TESSEL_FSM_BEST_FM_CLOCKS, 0x700100675},
        {PTP_TRACE_TESSEL_FSM_BEST_FM_NONE, 0x200100676},
        {PTP_TRACE_TESSEL_FSM_PROFILE_CLOCK_CLASS, 0x400100690},
        {PTP_TRACE_TESSEL_FSM_PROFILE_CLOCK_ACCURACY, 0x400100691},
        {PTP_TRACE_TESSEL_FSM_PROFILE_OSLV, 0x400100692},
        {PTP_TRACE_TESSEL_FSM_PROFILE_FLAG, 0x400100693},
        {PTP_TRACE_TESSEL_FSM_FM_TIMEOUTS_SUSPENDED, 0x200100696},
        {PTP_TRACE_TESSEL_FSM_FM_TIMEOUTS_RESUMED, 0x200100697},
        {PTP_TRACE_TESSEL_PM_IF_READY, 0x1001004cd},
        {PTP_TRACE_TESSEL_PM_IF_NOT_READY, 0x1001004ce},
        {PTP_TRACE_TESSEL_PM_IF_CREATE, 0x2001004cf},
        {PTP_TRACE_TESSEL_PM_IF_CREATE_FAILED, 0x3001004d0},
        {PTP_TRACE_TESSEL_PM_IF_DELETE, 0x2001004d1},
        {PTP_TRACE_TESSEL_PM_IF_DELETE_LOOKUP_FAILED, 0x3001004d2},
        {PTP_TRACE_TESSEL_PM_IF_SWEPT, 0x1001004d3},
        {PTP_TRACE_TESSEL_PM_IF_UPDATE_LOOKUP_FAILED, 0x3001004d4},
        {PTP_TRACE_TESSEL_PM_DB_SYNC_START, 0x101001004d5},
        {PTP_TRACE_TESSEL_PM_INIT_PRE_DB, 0x1004f5},
        {PTP_TRACE_TESSEL_PM_INIT_PRE_TIMER, 0x1004f6},
        {PTP_TRACE_TESSEL_PM_INIT_PRE_MGD_TIMER, 0x1004f7},
        {PTP_TRACE_TESSEL_PM_INIT_PRE_FSM, 0x1004f8},
        {PTP_TRACE_TESSEL_PM_INIT_PRE_OFFLOAD, 0x1004f9},
        {PTP_TRACE_TESSEL_FSM_STATE_CHANGE, 0x300100640},
        {PTP_TRACE_TESSEL_FSM_EV_READY, 0x200100660},
        {PTP_TRACE_TESSEL_FSM_FM_TREE_INIT_FAILED, 0x20010065e},
        {PTP_TRACE_TESSEL_FSM_SYNC_OFFLOADED, 0x20010064d},
        {PTP_TRACE_TESSEL_FSM_ISSU_SECONDARY_UPDATE, 0x600100695},
        {PTP_TRACE_TESSEL_UNICAST_TLV_BAD_LENGTH, 0x500100648},
        {PTP_TRACE_TESSEL_UNICAST_GRANT_NONNEGOTIATED, 0x200100649},
        {PTP_TRACE_TESSEL_UNICAST_PEER_TREE_INIT_FAILED, 0x200100677},
        {PTP_TRACE_TESSEL_UNICAST_GRANT_TOO_SHORT, 0x60010067e},
        {PTP_TRACE_TESSEL_UNICAST_GRANT_REPLY_SENT, 0x700100682},
        {PTP_TRACE_TESSEL_UNICAST_REQUEST_SENT, 0x600100683},
        {PTP_TRACE_TESSEL_UNICAST_SYNC_DELAY_RESP_REQUEST_SENT, 0x500100684},
        {PTP_TRACE_TESSEL_UNICAST_ANNOUNCE_EXPIRED, 0x50010068a},
        {PTP_TRACE_TESSEL_BMC_IF_INSERTED, 0x300100578},
        {PTP_TRACE_TESSEL_BMC_IF_REMOVED, 0x200100579},
        {PTP_TRACE_TESSEL_BMC_GLOBAL_RECEIVED, 0x50010057a},
        {PTP_TRACE_TESSEL_BMC_NODE_CHANGED, 0x70010057b},
        {PTP_TRACE_TESSEL_BMC_SLAVE_SUPPORT, 0x10010057c},
        {PTP_TRACE_TESSEL_ISSU_MILESTONE_STARTED, 0x100100af0},
        {PTP_TRACE_TESSEL_ISSU_MILESTONE_START_FAILED, 0x200100af1},
        {PTP_TRACE_TESSEL_ISSU_MILESTONE_MET, 0x300100af2},
        {PTP_TRACE_TESSEL_ISSU_REGISTER_MILESTONES, 0x100af4},
        {PTP_TRACE_TESSEL_ISSU_START_CHKPT_DONE, 0x100af9},
        {PTP_TRACE_TESSEL_DB_IDB_CREATED, 0x30200100192},
        {PTP_TRACE_TESSEL_PKT_RX_IFHANDLE_FAILED, 0x100100708},
        {PTP_TRACE_TESSEL_PKT_SPIO_INIT_FAILED, 0x200100709},
        {PTP_TRACE_TESSEL_PKT_DUMP, 0x600100734},
        {PTP_TRACE_TESSEL_PKT_RX_ERROR_DUMP, 0x300100739},
        {PTP_TRACE_TESSEL_PKT_RX_ERROR_DUMP_READ_FAILED, 0x10010073d},
        // Interface configuration: handle, event and the four values, none of them texts.
        {PTP_TRACE_TESSEL_CFG_IF_ENCAP, 0x600100334},
        {PTP_TRACE_TESSEL_CFG_IF_CLOCK_OPERATION, 0x600100335},
        {PTP_TRACE_TESSEL_CFG_IF_MULTICAST, 0x40010033a},
        {PTP_TRACE_TESSEL_CFG_IF_PORT_STATE, 0x60010033b},
        {PTP_TRACE_TESSEL_CFG_IF_SOURCE_IPV6, 0x3c060010033e},
        {PTP_TRACE_TESSEL_CFG_IF_COS, 0x70010033f},
        {PTP_TRACE_TESSEL_CFG_IF_DSCP, 0x700100340},
        {PTP_TRACE_TESSEL_CFG_IF_DELAY_ASYMMETRY, 0x600100343},
        {PTP_TRACE_TESSEL_CFG_MASTER_PRIORITY, 0x600100345},
        {PTP_TRACE_TESSEL_CFG_MASTER_CLOCK_CLASS, 0x600100346},
        {PTP_TRACE_TESSEL_CFG_IF_GRANT_DURATION, 0x70010034c},
        {PTP_TRACE_TESSEL_CFG_IF_MESSAGE_TIMEOUT, 0x70010034d},
        {PTP_TRACE_TESSEL_CFG_IF_INVALID_GRANT, 0x60010034e},
        {PTP_TRACE_TESSEL_CFG_PLATVERIFY_MISSING, 0x100363},
        {PTP_TRACE_TESSEL_CFG_PLATVERIFY_LOADED, 0x100362},
        {PTP_TRACE_TESSEL_OFFLOAD_STATS_TIMEOUT, 0x6001008a5},
        {PTP_TRACE_TESSEL_OFFLOAD_STATS_NO_IDB, 0x1001008ac},
        {PTP_TRACE_TESSEL_OFFLOAD_RESULT_NO_SESSION, 0x202001008af},
    };
    for (const id_case &c : cases) {
        SCOPED_TRACE(c.point.format != nullptr ? c.point.format : "(no text)");
        EXPECT_EQ(ptp_trace_point_id(c.point), c.id);
        // The display tool finds the row from a record's id, address-format bits included.
        const ptp_trace_point_type *row = ptp_trace_point_find(c.id | uint64_t{0xA02} << PTP_TRACE_ADDR_FMT_SHIFT);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(ptp_trace_point_id(*row), c.id);
        EXPECT_EQ(row->format, c.point.format);
    }
}

// Rows as a table might hold them by mistake, and the checks that refuse them.
constexpr ptp_trace_point_type ok_port = {
    PTP_TRACE_CLASS_TESSEL, 1, "Port %lu of %s", {PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARGS_ADDR}};
constexpr ptp_trace_point_type lead_in_text = {
    PTP_TRACE_CLASS_TESSEL, 2, "%s: %s: Port %lu", {PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_UINT}};
constexpr ptp_trace_point_type one_short = {PTP_TRACE_CLASS_TESSEL, 3, "Sent %lu of %lu", {PTP_TRACE_ARG_UINT}};
constexpr ptp_trace_point_type percent = {PTP_TRACE_CLASS_TESSEL, 4, "100%% of %lu", {PTP_TRACE_ARG_UINT}};
constexpr ptp_trace_point_type clock_halves = {
    PTP_TRACE_CLASS_TESSEL, 5, "Clock 0x%lx, unshown extra", {PTP_TRACE_ARGS_CLOCK_ID, PTP_TRACE_ARG_UNSHOWN}};
constexpr ptp_trace_point_type no_text = {PTP_TRACE_CLASS_TESSEL, 6, nullptr, {PTP_TRACE_ARG_UINT}};

TEST(TracePoints, ChecksRefuseATextThatDoesNotFitItsArguments)
{
    static_assert(ptp_trace_point_format_ok(ok_port));
    static_assert(!ptp_trace_point_format_ok(lead_in_text));
    static_assert(!ptp_trace_point_format_ok(one_short));
    static_assert(ptp_trace_point_format_ok(percent));
    static_assert(ptp_trace_point_format_ok(clock_halves));
    static_assert(ptp_trace_point_format_ok(no_text));
    static_assert(ptp_trace_point_arg_pos(ok_port, PTP_TRACE_ARG_ADDR) == 3);
    static_assert(ptp_trace_point_arg_pos(one_short, PTP_TRACE_ARG_ADDR) == PTP_TRACE_MAX_ARGS);

    constexpr std::array<ptp_trace_point_type, 3> distinct = {{ok_port, percent, no_text}};
    constexpr std::array<ptp_trace_point_type, 3> repeated = {{ok_port, percent, {PTP_TRACE_CLASS_TESSEL, 4, "", {}}}};
    static_assert(ptp_trace_points_numbers_unique(distinct));
    static_assert(!ptp_trace_points_numbers_unique(repeated));
    static_assert(!ptp_trace_points_formats_ok(std::array<ptp_trace_point_type, 2>{{ok_port, one_short}}));
    EXPECT_TRUE(ptp_trace_points_formats_ok(ptp_trace_points_tessel));
}

// Placeholders against the kinds of the arguments they take: a number's placeholder for a text
// (or the other way round) would show a pointer or read a number as one.
TEST(TracePoints, PlaceholdersMatchTheirArgumentsKinds)
{
    struct kinds_case {
        ptp_trace_point_type point;
        bool ok;
    };
    constexpr kinds_case cases[] = {
        {{PTP_TRACE_CLASS_TESSEL, 1, "Port %lu of %s", {PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARGS_ADDR}},
         true},
        {{PTP_TRACE_CLASS_TESSEL, 2, "Port %s", {PTP_TRACE_ARG_UINT}}, false},
        {{PTP_TRACE_CLASS_TESSEL, 3, "Error %lu", {PTP_TRACE_ARG_ZERR}}, false},
        {{PTP_TRACE_CLASS_TESSEL, 4, "Name %#8.8lx", {PTP_TRACE_ARG_TEXT}}, false},
        {{PTP_TRACE_CLASS_TESSEL, 5, "encap %s (%lu)", {PTP_TRACE_ARG_ENCAP_NAME_NUM}}, true},
        {{PTP_TRACE_CLASS_TESSEL, 6, "encap %lu (%s)", {PTP_TRACE_ARG_ENCAP_NAME_NUM}}, false},
        {{PTP_TRACE_CLASS_TESSEL,
          7,
          "Clock 0x%lx of %s",
          {PTP_TRACE_ARGS_CLOCK_ID, PTP_TRACE_ARG_UNSHOWN, PTP_TRACE_ARG_TEXT}},
         true},
        {{PTP_TRACE_CLASS_TESSEL, 8, "%n written", {PTP_TRACE_ARG_UINT}}, false},
        {{PTP_TRACE_CLASS_TESSEL, 9, "100%% of %lu, best is %", {PTP_TRACE_ARG_UINT}}, true},
    };
    for (const kinds_case &c : cases) {
        SCOPED_TRACE(c.point.format);
        EXPECT_EQ(ptp_trace_point_kinds_ok(c.point), c.ok);
    }
    EXPECT_TRUE(ptp_trace_points_kinds_ok(ptp_trace_points_tessel));
    EXPECT_TRUE(ptp_trace_points_kinds_ok(ptp_trace_points_quorrin));
}

// Kinds whose word the text prints twice, or not at all, and an interface named by text.
TEST(TracePoints, KindsThatDoNotPrintOncePerWord)
{
    // "encap %s (%lu)": one word, its name and its number.
    static_assert(ptp_trace_arg_conversions(PTP_TRACE_ARG_ENCAP_NAME_NUM) == 2);
    constexpr ptp_trace_point_type encap_once = {PTP_TRACE_CLASS_TESSEL, 7, "encap %s", {PTP_TRACE_ARG_ENCAP_NAME_NUM}};
    static_assert(!ptp_trace_point_format_ok(encap_once));
    static_assert(ptp_trace_point_format_ok(PTP_TRACE_TESSEL_PKT_RX_ERROR_DUMP));
    // "%s %s": an address's encapsulation and the bare address, from one address group.
    static_assert(ptp_trace_point_addr_pos(PTP_TRACE_TESSEL_PKT_DUMP) == 3);
    static_assert(ptp_trace_point_addr_ok(PTP_TRACE_TESSEL_PKT_DUMP));
    constexpr ptp_trace_point_type cut_group = {
        PTP_TRACE_CLASS_TESSEL, 8, "%s", {PTP_TRACE_ARG_ADDR, PTP_TRACE_ARG_ADDR_WORD2}};
    static_assert(!ptp_trace_point_addr_ok(cut_group));
    // Four optional values in one word, each a marker and a number; an offset, its date and a
    // marker in one word, the date a floating-point number.
    static_assert(ptp_trace_arg_conversions(PTP_TRACE_ARG_OPT_VALUES4) == 8);
    static_assert(ptp_trace_point_nargs(PTP_TRACE_TESSEL_CFG_MASTER_CLOCK_CLASS) == 6);
    constexpr ptp_trace_point_type leap = {PTP_TRACE_CLASS_QUORRIN, 9, "%lu(%f)%s", {PTP_TRACE_ARG_LEAP_OFFSET}};
    constexpr ptp_trace_point_type leap_as_number = {
        PTP_TRACE_CLASS_QUORRIN, 10, "%lu(%lu)%s", {PTP_TRACE_ARG_LEAP_OFFSET}};
    constexpr ptp_trace_point_type float_of_a_number = {PTP_TRACE_CLASS_QUORRIN, 11, "%f", {PTP_TRACE_ARG_UINT}};
    static_assert(ptp_trace_point_kinds_ok(leap));
    static_assert(!ptp_trace_point_kinds_ok(leap_as_number));
    static_assert(!ptp_trace_point_kinds_ok(float_of_a_number));
    static_assert(ptp_trace_point_kinds_ok(PTP_TRACE_QUORRIN_CFG_LEAP_SECOND_OFFSET_CONFIG));
    // The "answered" word only tells whether the ready flag after it is known.
    static_assert(ptp_trace_point_nargs(PTP_TRACE_TESSEL_ISSU_MILESTONE_MET) == 3);
    static_assert(ptp_trace_point_format_ok(PTP_TRACE_TESSEL_ISSU_MILESTONE_MET));
    // A name recorded as text leads the text like a handle, and travels as text.
    static_assert(ptp_trace_point_lead_args(PTP_TRACE_TESSEL_DB_IDB_CREATED) == 1);
    static_assert(ptp_trace_point_text_mask(PTP_TRACE_TESSEL_DB_IDB_CREATED) == 0x3);
    EXPECT_STREQ(PTP_TRACE_TESSEL_DB_IDB_CREATED.format, "Creating and inserting a new idb into %s database");
    EXPECT_TRUE(ptp_trace_points_addrs_ok(ptp_trace_points_tessel));
}

} // namespace
