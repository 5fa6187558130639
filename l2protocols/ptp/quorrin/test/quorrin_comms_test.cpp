// The controller's end of the "PTP" channel, against scripted agents on the in-process group
// messaging, on virtual time: the announce message's bytes, damping, retries and their limit,
// link loss, and the agents' clock reports and time messages (their bytes and their length
// checks). The platform driver is the real one over the library's scripted mode.
#include <gtest/gtest.h>

#include <cstring>

#include "chassis.h"
#include "comms.h"
#include "comms_test.h"
#include "evm.h"
#include "plat_clock_test.h"
#include "plat_debug.h"
#include "ptp_comms_msg.h"
#include "ptp_debug.h"
#include "ptp_platform_test.h"
#include "ptp_timer.h"
#include "qor_log.h"
#include "quorrin_cfg_items.h"
#include "quorrin_comms.h"
#include "quorrin_debug.h"
#include "quorrin_fakes.h"
#include "quorrin_platform.h"
#include "quorrin_stats.h"
#include "sysmgr_test.h"

namespace {

constexpr uint32_t RP = 0x100;
constexpr uint32_t LC1 = 0x010;
constexpr uint32_t LC2 = 0x020;

debug_event_type debug_table[QUORRIN_DEBUG_AREA_COUNT];

// What a scripted agent received: announces with the virtual time they arrived at.
struct received_type {
    uint64_t at_ms;
    std::vector<uint8_t> bytes;
};

struct agent_type {
    comms_conn_type *conn = nullptr;
    std::vector<received_type> announces;
};

void announce_cb(comms_conn_type *, void *context, const comms_member_type *, const void *msg, size_t length)
{
    auto *agent = static_cast<agent_type *>(context);
    const auto *p = static_cast<const uint8_t *>(msg);
    agent->announces.push_back({plat_clock_mono_ns() / 1'000'000, std::vector<uint8_t>(p, p + length)});
}

int exit_status = -1;

uint32_t counter(uint32_t index)
{
    return quorrin_stats_get_event_counters()[index];
}

std::vector<std::string> debug_lines_with(const std::string &part)
{
    std::vector<std::string> out;
    for (const std::string &line : debug_captured()) {
        if (line.find(part) != std::string::npos) {
            out.push_back(line);
        }
    }
    return out;
}

class ControllerLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat_clock_use_virtual();
        std::string error;
        ASSERT_EQ(chassis_load(chassis_sample_path(), &chassis, &error), 0u) << error;
        sysmgr_test_set_chassis(chassis);
        comms_test_reset();
        quorrin_fake_reset();
        quorrin_stats_clear_event_counters();
        ptp_platform_test_reset();
        ptp_platform_test_set_scripted(true);
        ptp_platform_capability_info_type caps{};
        caps.flags = PTP_PLATFORM_CAP_SLAVE | PTP_PLATFORM_CAP_PTP;
        ptp_platform_test_set_capability(2, caps);
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();
        exit_status = -1;
        quorrin_comms_test_set_exit([](int status) { exit_status = status; });

        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_EQ(ptp_debug_register(evm, debug_table, quorrin_debug_areas, QUORRIN_DEBUG_AREA_COUNT, nullptr), 0u);
        debug_set_area(PTP_DEBUG_PATH, "comms", nullptr);
        debug_capture_clear();
        ASSERT_EQ(ptp_timer_init(evm, 1000, 32, nullptr, nullptr, QUORRIN_AREA_MAIN, debug_table), 0u);
        ASSERT_EQ(quorrin_platform_capability_init(evm), 0u);

        comms_test_set_node(RP);
        ASSERT_EQ(quorrin_comms_init(evm), 0u);
        connect(lc1, LC1);
        // The damped announce of that member add goes out first.
        ASSERT_EQ(plat_clock_advance_ms(QUORRIN_COMMS_DAMPING_MS), 0u);
        lc1.announces.clear();
        quorrin_stats_clear_event_counters();
        quorrin_fake_calls().clear();
        debug_capture_clear();
    }
    void TearDown() override
    {
        quorrin_comms_shutdown();
        quorrin_cfg_shutdown();
        for (agent_type *agent : {&lc1, &lc2}) {
            if (agent->conn != nullptr) {
                comms_disconnect(agent->conn);
                agent->conn = nullptr;
            }
        }
        quorrin_platform_disable();
        quorrin_platform_stop();
        ptp_timer_shutdown();
        ptp_debug_cleanup();
        event_manager_destroy(evm);
        comms_test_reset();
        ptp_platform_test_reset();
        quorrin_comms_test_set_exit(nullptr);
        sysmgr_test_reset();
        chassis_free(chassis);
        plat_clock_use_real();
    }

    void connect(agent_type &agent, uint32_t node)
    {
        comms_test_set_node(node);
        ASSERT_EQ(comms_connect(evm, PTP_COMMS_CHANNEL, 0, &agent.conn), 0u);
        ASSERT_EQ(comms_msg_handler_add(agent.conn, PTP_COMMS_MSG_ANNOUNCE, PTP_COMMS_MSG_ANNOUNCE_VERSION, announce_cb,
                                        &agent),
                  0u);
        comms_test_set_node(RP);
    }
    // An agent's message to the controller.
    void send(agent_type &agent, uint32_t type, uint32_t version, const std::vector<uint8_t> &bytes)
    {
        const comms_member_type *group = nullptr;
        ASSERT_EQ(comms_conn_get_group_member(agent.conn, &group), 0u);
        ASSERT_EQ(comms_msg_send(agent.conn, group, type, version, bytes.data(), bytes.size(), 0), 0u);
        settle();
    }
    void settle() { ASSERT_EQ(plat_clock_advance_ms(0), 0u); }
    // The servo runs, so that time entries reach the library.
    void servo_running()
    {
        ASSERT_EQ(quorrin_platform_enable(), 0u);
        ASSERT_EQ(quorrin_platform_start(evm), 0u);
        ASSERT_EQ(quorrin_platform_servo_start(true, true, -4, -4, 0, 0, 0, 0), 1u);
    }

    chassis_desc_type *chassis = nullptr;
    event_mgr_type *evm = nullptr;
    agent_type lc1;
    agent_type lc2;
};

// ---- The announce message -----------------------------------------------------------------

TEST_F(ControllerLink, AnAnnounceRequestIsAnsweredToItsSenderWithTheAnnounceBytes)
{
    cfg_create("ptp/pi/clock/identity", cfg_tuple("%d%d%d%d%S", 0x11, 2, 0, 0, 0, "0011223344556677"));
    cfg_create("ptp/pi/clock/domain", cfg_number(24));
    quorrin_fake_bmc_type &bmc = quorrin_fake_bmc();
    bmc.has_gm = true;
    bmc.gm.active = 1;
    bmc.gm.using_ptp_for_time = 1;
    ptp_clock_type &gm = bmc.gm_clock;
    gm.clock_id = 0x0102030405060708;
    gm.priority1 = 0x11;
    gm.clock_class = 0x12;
    gm.accuracy = 0x13;
    gm.offset_log_variance = 0x1415;
    gm.priority2 = 0x16;
    gm.steps_removed = 0x1718;
    gm.time_source = 0x19;
    gm.utc_offset = -2;
    gm.utc_offset_valid = 1;
    gm.frequency_traceable = 1;
    gm.timescale = 0;
    gm.leap_seconds = 2;
    gm.sender = {0x2122232425262728, 0x292A};
    gm.receiver = {0x3132333435363738, 0x393A};
    gm.configured_clock_class = 0x3B;
    gm.configured_priority = 0x3C;
    ptp_clock_type &adv = bmc.advertised;
    adv.clock_id = 0x0011223344556677;
    adv.priority1 = 128;
    adv.clock_class = 248;
    adv.accuracy = 0xFE;
    adv.offset_log_variance = 0xFFFF;
    adv.priority2 = 128;
    adv.time_source = 0xA0;
    adv.utc_offset = 37;
    adv.time_traceable = 1;
    adv.timescale = 1;
    adv.local = 1;

    connect(lc2, LC2);
    send(lc1, PTP_COMMS_MSG_ANNOUNCE_REQUEST, PTP_COMMS_MSG_ANNOUNCE_REQUEST_VERSION, {});

    ASSERT_EQ(lc1.announces.size(), 1u);
    EXPECT_TRUE(lc2.announces.empty()) << "answered to the sender only";
    const std::vector<uint8_t> expected = {
        // local clock identity, domain, reserved
        0x00,
        0x11,
        0x22,
        0x33,
        0x44,
        0x55,
        0x66,
        0x77,
        24,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        // best foreign clock
        0x01,
        0x02,
        0x03,
        0x04,
        0x05,
        0x06,
        0x07,
        0x08,
        0x11,
        0x12,
        0x13,
        0,
        0x14,
        0x15,
        0x16,
        0, //
        0x17,
        0x18,
        0x19,
        0,
        0xFF,
        0xFE,
        0,
        0,
        0,
        0,
        0,
        1,
        0,
        0,
        0,
        1, //
        0,
        0,
        0,
        0,
        0,
        2,
        0,
        0,
        0x21,
        0x22,
        0x23,
        0x24,
        0x25,
        0x26,
        0x27,
        0x28, //
        0x29,
        0x2A,
        0,
        0,
        0,
        0,
        0,
        0,
        0x31,
        0x32,
        0x33,
        0x34,
        0x35,
        0x36,
        0x37,
        0x38, //
        0x39,
        0x3A,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0x3B,
        0x3C,
        0,
        0, //
        // synchronised, reserved
        0,
        0,
        0,
        1,
        0,
        0,
        0,
        0,
        // advertised clock
        0x00,
        0x11,
        0x22,
        0x33,
        0x44,
        0x55,
        0x66,
        0x77,
        128,
        248,
        0xFE,
        0,
        0xFF,
        0xFF,
        128,
        0, //
        0,
        0,
        0xA0,
        0,
        0,
        37,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0, //
        0,
        0,
        0,
        1,
        1,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0, //
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0, //
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        1,
        0,
        0,
        0,
        0, //
        // slave supported, a best master is selected
        0,
        0,
        0,
        1,
        0,
        0,
        0,
        1,
    };
    EXPECT_EQ(lc1.announces[0].bytes, expected);
    EXPECT_EQ(counter(QUORRIN_GL_EVENT_ANNOUNCE_REQUEST_RECEIVED), 1u);
    EXPECT_EQ(counter(QUORRIN_GL_EVENT_ANNOUNCE_SENT), 1u);
    EXPECT_EQ(debug_lines_with("announce message to"),
              (std::vector<std::string>{"COMMS: Successfully sent announce message to 0/1/CPU0."}));
}

TEST_F(ControllerLink, WithoutAReportingNodeTheBestClockIsZeroAndNothingIsSelected)
{
    send(lc1, PTP_COMMS_MSG_ANNOUNCE_REQUEST, PTP_COMMS_MSG_ANNOUNCE_REQUEST_VERSION, {});
    ASSERT_EQ(lc1.announces.size(), 1u);
    const std::vector<uint8_t> &bytes = lc1.announces[0].bytes;
    ASSERT_EQ(bytes.size(), PTP_COMMS_MSG_ANNOUNCE_SIZE);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 16, bytes.begin() + 104), std::vector<uint8_t>(88, 0));
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 188, bytes.end()), std::vector<uint8_t>(4, 0));
}

TEST_F(ControllerLink, MemberAddsAreDampedIntoOneAnnounceToAllNodes)
{
    connect(lc2, LC2); // a member add: damping starts at 0
    ASSERT_EQ(plat_clock_advance_ms(1500), 0u);
    comms_disconnect(lc2.conn);
    lc2 = agent_type{};
    connect(lc2, LC2); // another add at 1.5 s: the damping timer restarts
    const uint64_t start_ms = plat_clock_mono_ns() / 1'000'000;
    ASSERT_EQ(plat_clock_advance_ms(1999), 0u);
    EXPECT_TRUE(lc1.announces.empty());
    ASSERT_EQ(plat_clock_advance_ms(1), 0u);
    ASSERT_EQ(lc1.announces.size(), 1u);
    ASSERT_EQ(lc2.announces.size(), 1u);
    EXPECT_EQ(lc1.announces[0].at_ms, start_ms + 2000);
    EXPECT_EQ(debug_lines_with("damping timer"),
              (std::vector<std::string>{"COMMS: Started announce message damping timer",
                                        "COMMS: Reset announce message damping timer"}));
    EXPECT_EQ(counter(QUORRIN_GL_EVENT_ANNOUNCE_SENT), 1u);
    EXPECT_EQ(quorrin_fake_calls(), (std::vector<std::string>{"quorrin_bmc_resync_request 32"}));
}

TEST_F(ControllerLink, AnInactiveNodeCountsRequestsButSendsNothing)
{
    quorrin_fake_bmc().node_active = false;
    send(lc1, PTP_COMMS_MSG_ANNOUNCE_REQUEST, PTP_COMMS_MSG_ANNOUNCE_REQUEST_VERSION, {});
    EXPECT_TRUE(lc1.announces.empty());
    EXPECT_EQ(counter(QUORRIN_GL_EVENT_ANNOUNCE_REQUEST_RECEIVED), 1u);
    EXPECT_EQ(debug_lines_with("Skipping"),
              (std::vector<std::string>{"COMMS: Skipping sending announce message to 0/1/CPU0. Comms inactive, Local "
                                        "GSP up, Retry timer inactive"}));
}

TEST_F(ControllerLink, AFailedSendIsRetriedEveryFiveSecondsAndBlocksOtherSendsMeanwhile)
{
    comms_test_fail_sends(1, COMMS_ERR_NO_MEMORY);
    quorrin_comms_clock_updated(true);
    EXPECT_EQ(counter(QUORRIN_GL_EVENT_SEND_ERRORS), 1u);
    quorrin_comms_clock_updated(true); // blocked by the pending retry
    settle();
    EXPECT_TRUE(lc1.announces.empty());
    ASSERT_EQ(plat_clock_advance_ms(5000), 0u);
    ASSERT_EQ(lc1.announces.size(), 1u);
    EXPECT_EQ(counter(QUORRIN_GL_EVENT_ANNOUNCE_SENT), 1u);
    EXPECT_EQ(debug_lines_with("Queued"),
              (std::vector<std::string>{"COMMS: Queued message send retry. Retry count is 1"}));
    EXPECT_EQ(debug_lines_with("Retry timer expired"),
              (std::vector<std::string>{"COMMS: Retry timer expired, sending announce message to all nodes"}));
}

TEST_F(ControllerLink, TheSixtyFirstFailureInARowEndsTheProcessWithStatusOne)
{
    comms_test_fail_sends(61, COMMS_ERR_NO_MEMORY);
    quorrin_comms_clock_updated(true);
    ASSERT_EQ(plat_clock_advance_s(59 * 5), 0u);
    EXPECT_EQ(exit_status, -1) << "60 failures so far";
    ASSERT_EQ(plat_clock_advance_s(5), 0u);
    EXPECT_EQ(exit_status, 1);
    EXPECT_EQ(counter(QUORRIN_GL_EVENT_SEND_ERRORS), 61u);
    ASSERT_EQ(qor_errmsg_captured().size(), 1u);
    EXPECT_EQ(qor_errmsg_captured()[0].line,
              "%L2-PTP-4-COMMS_RETRY_FAILED : Communications retry failed: Max retry count reached");
}

TEST_F(ControllerLink, LosingTheLocalLinkCancelsRetryAndDampingAndItsReturnAnnouncesAtOnce)
{
    comms_test_fail_sends(1, COMMS_ERR_NO_MEMORY);
    quorrin_comms_clock_updated(true); // retry pending
    quorrin_comms_clock_updated(false);
    comms_test_set_link(RP, false);
    settle();
    EXPECT_EQ(debug_lines_with("Cancelling"),
              (std::vector<std::string>{"COMMS: Cancelling message-send retries", "COMMS: Cancelling damping"}));
    ASSERT_EQ(plat_clock_advance_s(10), 0u);
    EXPECT_TRUE(lc1.announces.empty());
    quorrin_comms_clock_updated(true);
    EXPECT_EQ(debug_lines_with("Local GSP down").size(), 1u);

    comms_test_set_link(RP, true);
    settle();
    ASSERT_EQ(lc1.announces.size(), 1u);
    // Another node's link going down changes nothing here.
    comms_test_set_link(LC2, false);
    quorrin_comms_clock_updated(true);
    settle();
    EXPECT_EQ(lc1.announces.size(), 2u);
}

TEST_F(ControllerLink, DroppedMessagesAreAnsweredWithAForcedAnnounceToAll)
{
    comms_test_possible_lost(PTP_COMMS_CHANNEL);
    settle();
    EXPECT_EQ(lc1.announces.size(), 1u);
}

// ---- The agents' messages ----------------------------------------------------------------------

std::vector<uint8_t> bmc_bytes()
{
    std::vector<uint8_t> b = {
        0,
        0,
        0,
        1,
        0,
        0,
        0,
        0,
        // clock
        0x01,
        0x02,
        0x03,
        0x04,
        0x05,
        0x06,
        0x07,
        0x08,
        6,
        7,
        0x21,
        0,
        0x4E,
        0x5D,
        128,
        0, //
        0,
        1,
        0x20,
        0,
        0,
        37,
        0,
        0,
        0,
        0,
        0,
        1,
        0,
        0,
        0,
        1, //
        0,
        0,
        0,
        1,
        0,
        0,
        0,
        0,
        0x01,
        0x02,
        0x03,
        0x04,
        0x05,
        0x06,
        0x07,
        0x08, //
        0,
        1,
        0,
        0,
        0,
        0,
        0,
        0,
        0xAA,
        0xBB,
        0xCC,
        0xDD,
        0xEE,
        0xFF,
        0x00,
        0x11, //
        0x00,
        0x05,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0, //
        // interface handle, reserved
        0x01,
        0x00,
        0x01,
        0x00,
        0,
        0,
        0,
        0,
        // foreign master address: IPv4 10.1.9.2
        0,
        0,
        0,
        2,
        0,
        0,
        0,
        0,
        10,
        1,
        9,
        2,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        0,
        // log Sync, log Delay-Req, delay asymmetry, reserved
        0xFF,
        0xFF,
        0xFF,
        0xFC,
        0xFF,
        0xFF,
        0xFF,
        0xFD,
        0xFF,
        0xFF,
        0xFF,
        0x9C,
        0,
        0,
        0,
        0,
    };
    return b;
}

TEST_F(ControllerLink, AClockReportIsReadFieldByFieldAndHandedToSelection)
{
    send(lc1, PTP_COMMS_MSG_BMC, PTP_COMMS_MSG_BMC_VERSION, bmc_bytes());
    ASSERT_EQ(quorrin_fake_bmc().reports.size(), 1u);
    const quorrin_fake_bmc_type::report_type &r = quorrin_fake_bmc().reports[0];
    EXPECT_TRUE(r.present);
    EXPECT_EQ(r.node_id, LC1);
    EXPECT_EQ(r.ifhandle, 0x01000100u);
    EXPECT_EQ(r.log_sync_interval, -4);
    EXPECT_EQ(r.log_delay_req_interval, -3);
    EXPECT_EQ(r.delay_asymmetry, -100);
    EXPECT_EQ(r.address.encap, PTP_ENCAP_IPV4);
    EXPECT_EQ(r.address.value[0], 10);
    EXPECT_EQ(r.address.value[3], 2);
    EXPECT_EQ(r.clock.clock_id, 0x0102030405060708u);
    EXPECT_EQ(r.clock.clock_class, 7);
    EXPECT_EQ(r.clock.offset_log_variance, 0x4E5D);
    EXPECT_EQ(r.clock.steps_removed, 1);
    EXPECT_EQ(r.clock.utc_offset, 37);
    EXPECT_EQ(r.clock.time_traceable, 1u);
    EXPECT_EQ(r.clock.receiver.port_num, 5);
    EXPECT_EQ(counter(QUORRIN_GL_EVENT_BMC_RECEIVED), 1u);
}

TEST_F(ControllerLink, AWithdrawnShortOrUnsupportedClockReportIsHandledAsSuch)
{
    std::vector<uint8_t> withdraw = bmc_bytes();
    withdraw[3] = 0;
    send(lc1, PTP_COMMS_MSG_BMC, PTP_COMMS_MSG_BMC_VERSION, withdraw);
    ASSERT_EQ(quorrin_fake_bmc().reports.size(), 1u);
    EXPECT_FALSE(quorrin_fake_bmc().reports[0].present);

    std::vector<uint8_t> short_report = bmc_bytes();
    short_report.pop_back();
    send(lc1, PTP_COMMS_MSG_BMC, PTP_COMMS_MSG_BMC_VERSION, short_report);
    EXPECT_EQ(quorrin_fake_bmc().reports.size(), 1u);
    EXPECT_EQ(debug_lines_with("malformed"),
              (std::vector<std::string>{"COMMS: [ERROR] Ignored BMC message as it is malformed (135 bytes)"}));

    ptp_platform_capability_info_type caps{};
    ptp_platform_test_set_capability(2, caps);
    ASSERT_EQ(quorrin_platform_capability_init(evm), 0u);
    send(lc1, PTP_COMMS_MSG_BMC, PTP_COMMS_MSG_BMC_VERSION, bmc_bytes());
    EXPECT_EQ(quorrin_fake_bmc().reports.size(), 1u);
    EXPECT_EQ(debug_lines_with("slave support"),
              (std::vector<std::string>{"COMMS: Ignored BMC message due to lack of slave support"}));
    EXPECT_EQ(counter(QUORRIN_GL_EVENT_BMC_RECEIVED), 3u);
}

std::vector<uint8_t> time_bytes(uint32_t count, uint32_t records)
{
    std::vector<uint8_t> b = {static_cast<uint8_t>(count >> 24), static_cast<uint8_t>(count >> 16),
                              static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)};
    for (uint32_t i = 0; i < records; i++) {
        const uint8_t record[24] = {0,    0,
                                    0,    static_cast<uint8_t>(i), // message: Sync, Delay-Resp
                                    0x00, 0x00,
                                    0x65, 0x53,
                                    0xF1, 0x00,
                                    0x00, 0x00,
                                    0x01, static_cast<uint8_t>(i),
                                    0x00, 0x00,
                                    0x65, 0x53,
                                    0xF1, 0x00,
                                    0x00, 0x00,
                                    0x02, 0x00};
        b.insert(b.end(), record, record + sizeof record);
    }
    return b;
}

TEST_F(ControllerLink, TimeMessagesReachTheServoEntryByEntryOnlyWhenTheirLengthIsExact)
{
    servo_running();
    send(lc1, PTP_COMMS_MSG_TIME_UPDATE, PTP_COMMS_MSG_TIME_UPDATE_VERSION, time_bytes(2, 2));
    const std::vector<ptp_platform_servo_time_update_in_type> entries = ptp_platform_test_time_updates();
    ASSERT_EQ(entries.size(), 2u);
    for (uint32_t i = 0; i < 2; i++) {
        uint32_t message = 0;
        std::memcpy(&message, entries[i].entry, sizeof message);
        EXPECT_EQ(message, i) << "the message word in host order";
        const std::vector<uint8_t> sent = time_bytes(2, 2);
        EXPECT_EQ(0, std::memcmp(entries[i].entry + 4, sent.data() + 4 + 24 * i + 4, 20)) << "timestamps as sent";
    }
    EXPECT_EQ(counter(QUORRIN_GL_EVENT_TIME_RECEIVED), 1u);

    struct case_type {
        uint32_t count;
        uint32_t records;
        bool accepted;
    } cases[] = {
        {0, 0, true},           // nothing to do, but received
        {2, 1, false},          // the count does not fit the bytes
        {1, 2, false},          // bytes beyond the count
        {0xFFFFFFFF, 0, false}, // a count whose size would overflow
        {0x0AAAAAAB, 1, false}, // 24 x count wraps to 8 in 32 bits
    };
    for (const case_type &c : cases) {
        quorrin_stats_clear_event_counters();
        send(lc1, PTP_COMMS_MSG_TIME_UPDATE, PTP_COMMS_MSG_TIME_UPDATE_VERSION, time_bytes(c.count, c.records));
        EXPECT_EQ(counter(QUORRIN_GL_EVENT_TIME_RECEIVED), c.accepted ? 1u : 0u) << c.count;
        EXPECT_EQ(counter(QUORRIN_GL_EVENT_TIME_IGNORED), c.accepted ? 0u : 1u) << c.count;
    }
    EXPECT_EQ(ptp_platform_test_time_updates().size(), 2u);
    EXPECT_EQ(debug_lines_with("malformed").size(), 4u);

    ptp_platform_capability_info_type caps{};
    ptp_platform_test_set_capability(2, caps);
    ASSERT_EQ(quorrin_platform_capability_init(evm), 0u);
    quorrin_stats_clear_event_counters();
    send(lc1, PTP_COMMS_MSG_TIME_UPDATE, PTP_COMMS_MSG_TIME_UPDATE_VERSION, time_bytes(1, 1));
    EXPECT_EQ(counter(QUORRIN_GL_EVENT_TIME_IGNORED), 1u);
    EXPECT_EQ(ptp_platform_test_time_updates().size(), 2u);
}

} // namespace
