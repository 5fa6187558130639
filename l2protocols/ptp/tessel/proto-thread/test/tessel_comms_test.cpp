// The controller link against a scripted controller on the "PTP" channel: what goes out and
// when (damping, retry, link down and up), what comes in (the announce message).
#include "ptp_zerr_codes.h"
#include "tessel_ctrl_peer_test_env.h"

namespace {

constexpr uint64_t GM_ID = 0x00AA00FFFE000001;
constexpr uint64_t LOCAL_ID = 0x00BB00FFFE000002;

using CommsTest = CtrlPeerTest;

size_t bmc_count(const ctrl_peer &c)
{
    return c.of(2, 2).size();
}

// The announce request is an empty type 1; with no best master the node's report is 136 zero
// bytes of type 2 version 2.
TEST_F(CommsTest, ResyncSendsAnnounceRequestThenAnEmptyBmcMessage)
{
    tessel_comms_resync();
    settle();
    const std::vector<ctrl_msg> got = ctrl.on(false);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].type, 1u);
    EXPECT_EQ(got[0].version, 1u);
    EXPECT_TRUE(got[0].body.empty());
    EXPECT_EQ(got[0].from_node, AGENT_NODE);
    EXPECT_EQ(got[1].type, 2u);
    EXPECT_EQ(got[1].version, 2u);
    EXPECT_EQ(got[1].body, bytes(136, 0));
}

TEST_F(CommsTest, DampedRequestsSendOnceTwoSecondsAfterTheLastAndAForcedOneCancelsTheWait)
{
    tessel_comms_bmc_msg_send_damped();
    advance_ms(1500);
    tessel_comms_bmc_msg_send_damped();
    advance_ms(1999);
    EXPECT_EQ(bmc_count(ctrl), 0u);
    advance_ms(1);
    EXPECT_EQ(bmc_count(ctrl), 1u);
    advance_ms(10000);
    EXPECT_EQ(bmc_count(ctrl), 1u);

    tessel_comms_bmc_msg_send_damped();
    advance_ms(500);
    tessel_comms_bmc_msg_send(1);
    settle();
    EXPECT_EQ(bmc_count(ctrl), 2u);
    advance_ms(5000);
    EXPECT_EQ(bmc_count(ctrl), 2u) << "the forced send cancelled the damped one";
}

int exit_status = -1;
void fake_exit(int status)
{
    exit_status = status;
}

// Sixty failed sends arm the retry sixty times; the sixty-first ends the process with status 1
// after COMMS_RETRY_FAILED. A successful announce request starts the count again.
TEST_F(CommsTest, RetryLimitEndsTheProcessAndASuccessfulRequestResetsTheCount)
{
    exit_status = -1;
    tessel_comms_exit_fn_set(fake_exit);
    const zerrno down = 0x47f29264; // any send error

    // 30 failures, then the retry's send succeeds: the count starts again.
    comms_test_fail_sends(30, down);
    tessel_comms_announce_request_msg_send();
    for (int i = 0; i < 30; i++) {
        advance_ms(TESSEL_COMMS_RETRY_MS);
    }
    EXPECT_EQ(ctrl.of(1, 1).size(), 1u);
    EXPECT_EQ(exit_status, -1);

    // Then 61 failures in a row.
    ctrl.got.clear();
    qor_errmsg_capture_clear();
    comms_test_fail_sends(61, down);
    tessel_comms_announce_request_msg_send();
    for (int i = 0; i < 59; i++) {
        advance_ms(TESSEL_COMMS_RETRY_MS);
    }
    EXPECT_EQ(exit_status, -1) << "sixty failures so far";
    // A damped request while the retry waits is left to the retry (its pending bit).
    tessel_comms_bmc_msg_send_damped();
    advance_ms(TESSEL_COMMS_RETRY_MS);
    EXPECT_EQ(exit_status, 1);
    ASSERT_EQ(qor_errmsg_captured().size(), 1u);
    EXPECT_EQ(qor_errmsg_captured()[0].mnemonic, "COMMS_RETRY_FAILED");
    EXPECT_EQ(qor_errmsg_captured()[0].text, "Communications retry failed: Max message-send retry count reached");
    EXPECT_EQ(ctrl.of(1, 1).size(), 0u);
}

TEST_F(CommsTest, ARetryCarriesTheRequestsMadeWhileItWaits)
{
    comms_test_fail_sends(1, 0x47f29264);
    tessel_comms_announce_request_msg_send();
    tessel_comms_bmc_msg_send_damped(); // the retry waits: pending, no damping
    settle();
    EXPECT_TRUE(ctrl.on(false).empty());
    advance_ms(TESSEL_COMMS_RETRY_MS);
    const std::vector<ctrl_msg> got = ctrl.on(false);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].type, 1u);
    EXPECT_EQ(got[1].type, 2u);
}

TEST_F(CommsTest, WhileTheLinkIsDownSendsAreDroppedAndNothingIsResentOnLinkUp)
{
    tessel_comms_bmc_msg_send_damped(); // damping running when the link goes
    comms_test_set_link(AGENT_NODE, false);
    settle();
    tessel_comms_bmc_msg_send(1);
    tessel_comms_announce_request_msg_send();
    comms_test_possible_lost(PTP_COMMS_CHANNEL); // asks for the announce: dropped too
    const ptp_comms_time_record_type rec{};
    tessel_comms_time_update_add(&rec);
    advance_ms(3000);
    comms_test_set_link(AGENT_NODE, true);
    settle();
    advance_ms(10000);
    EXPECT_TRUE(ctrl.on(false).empty()) << "no pending bit was set while the link was down";
    EXPECT_FALSE(pm_lines_with("Skipping sending 1 time updates. Local GSP down, Retry timer inactive").empty());

    tessel_comms_bmc_msg_send(1);
    settle();
    EXPECT_EQ(bmc_count(ctrl), 1u);
    // A lost-message notice asks the controller again.
    comms_test_possible_lost(PTP_COMMS_CHANNEL);
    settle();
    EXPECT_EQ(ctrl.of(1, 1).size(), 1u);
}

TEST_F(CommsTest, TimeRecordsGoOutInOneBatchEveryTick)
{
    ptp_comms_time_record_type recs[2]{};
    recs[0].message = 0;
    recs[1].message = 1;
    for (uint8_t i = 0; i < PTP_COMMS_TIME_RECORD_STAMPS_SIZE; i++) {
        recs[0].timestamps[i] = i;
        recs[1].timestamps[i] = static_cast<uint8_t>(0x80 | i);
    }
    tessel_comms_time_update_add(&recs[0]);
    tessel_comms_time_update_add(&recs[1]);
    advance_ms(TESSEL_COMMS_TIME_UPDATE_MS);
    const std::vector<bytes> sent = ctrl.of(3, 1);
    ASSERT_EQ(sent.size(), 1u);
    bytes want = cat({be32(2), be32(0)});
    want.insert(want.end(), recs[0].timestamps, recs[0].timestamps + 20);
    want = cat({want, be32(1)});
    want.insert(want.end(), recs[1].timestamps, recs[1].timestamps + 20);
    EXPECT_EQ(sent[0], want);
    advance_ms(1000);
    EXPECT_EQ(ctrl.of(3, 1).size(), 1u) << "an empty tick stops the timer and sends nothing";
}

bytes announce_bytes(size_t len)
{
    ptp_comms_msg_announce a{};
    a.local_clock_id = LOCAL_ID;
    a.domain = 24;
    a.global_bmc = pm_clock(GM_ID, 100);
    a.advertised = pm_clock(LOCAL_ID, 128, 0);
    a.bmc_selected = 1;
    a.slave_supported = 1;
    bytes b(PTP_COMMS_MSG_ANNOUNCE_SIZE);
    ptp_comms_msg_announce_encode(&a, b.data());
    b.resize(len);
    return b;
}

// The controller's announce reaches the port manager and is answered with the node's report;
// a short one is a counted drop that changes nothing.
TEST_F(CommsTest, AnnounceIsAppliedAndAnsweredAndAShortOneIsDropped)
{
    const uint32_t dropped = tessel_comms_dropped_msg_count();
    ctrl.send(false, 0, 3, announce_bytes(191));
    EXPECT_EQ(tessel_comms_dropped_msg_count(), dropped + 1);
    EXPECT_EQ(tessel_bmc_get_global_bmc(), nullptr);
    EXPECT_TRUE(ctrl.on(false).empty());
    EXPECT_EQ(pm_lines_with("COMMS: [ERROR] Dropped announce message of 191 bytes, shorter than 192").size(), 1u);

    ctrl.send(false, 0, 3, announce_bytes(192));
    ASSERT_NE(tessel_bmc_get_global_bmc(), nullptr);
    EXPECT_EQ(tessel_bmc_get_global_bmc()->clock_id, GM_ID);
    ASSERT_NE(tessel_port_mgr_get_local_clock(), nullptr);
    EXPECT_EQ(tessel_port_mgr_get_local_clock()->clock_id, LOCAL_ID);
    EXPECT_EQ(tessel_port_mgr_get_local_clock()->domain, 24u);
    settle();
    EXPECT_EQ(bmc_count(ctrl), 1u);
    EXPECT_EQ(pm_lines_with("COMMS: Received announce message from node").size(), 1u);
}

// The controller going away is only noted.
TEST_F(CommsTest, MemberLossIsOnlyNoted)
{
    ctrl.close();
    settle();
    EXPECT_EQ(pm_lines_with("COMMS: Received member del from node").size(), 1u);
    tessel_comms_bmc_msg_send(1); // the group send still succeeds, with nobody to hear it
    settle();
    EXPECT_FALSE(pm_lines_with("COMMS: Successfully sent BMC message.").empty());
}

} // namespace

namespace {

class CommsSecondaryTest : public CtrlPeerTest {
protected:
    void SetUp() override
    {
        role = ISSUL_ROLE_SECONDARY;
        CtrlPeerTest::SetUp();
    }
};

// The secondary follows the primary's checkpoint, not the controller.
TEST_F(CommsSecondaryTest, AnnounceIsDroppedAndNothingIsSent)
{
    ctrl.send(false, 0, 3, announce_bytes(192));
    EXPECT_EQ(tessel_bmc_get_global_bmc(), nullptr);
    EXPECT_EQ(tessel_port_mgr_get_local_clock(), nullptr);
    settle();
    EXPECT_TRUE(ctrl.on(false).empty());
    EXPECT_EQ(pm_lines_with("COMMS: Announce messsage dropped as ISSU role is secondary").size(), 1u);
}

} // namespace
