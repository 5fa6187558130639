// The port-number client against a scripted controller on the "PTP_port_num" channel: requests
// and releases, the controller's allocate and resync messages, retries and the link.
#include "tessel_ctrl_peer_test_env.h"

namespace {

constexpr ifhtype IFH_A = 0x1001;
constexpr ifhtype IFH_B = 0x1002;
constexpr ifhtype IFH_C = 0x1003;
constexpr ifhtype IFH_GONE = 0x1F00;
constexpr zerrno SEND_ERROR = 0x47f29264;

class PortNumTest : public CtrlPeerTest {
protected:
    // Messages of one type from the agent on "PTP_port_num".
    std::vector<bytes> sent(uint32_t type) const { return ctrl.of(type, 1, true); }
    void alloc(const bytes &body) { ctrl.send(true, PTP_COMMS_MSG_PORT_NUM_ALLOC, 1, body); }
    void ctrlr_resync(const bytes &body) { ctrl.send(true, PTP_COMMS_MSG_PORT_NUM_CTRLR_RESYNC, 1, body); }
};

TEST_F(PortNumTest, StartupResyncsAndMeetsTheControllerResyncMilestone)
{
    // SetUp started the client: the empty resync went out at once (count 0, four zero bytes).
    EXPECT_EQ(tessel_port_num_is_initialised(), 1u);
    EXPECT_EQ(tessel_issu_is_milestone_met(TESSEL_ISSU_MILESTONE_CONTROLLER_RESYNC), 1u);
    tessel_port_num_send_ma_resync_msg();
    settle();
    ASSERT_EQ(sent(3).size(), 1u);
    EXPECT_EQ(sent(3)[0], be32(0));
}

TEST_F(PortNumTest, NewInterfacesAreRequestedAndTheAllocationIsApplied)
{
    tessel_proto_idb_type *a = create("GigE0/0/0/1", IFH_A);
    tessel_proto_idb_type *b = create("GigE0/0/0/2", IFH_B);
    tessel_port_num_process_batches();
    settle();
    ASSERT_EQ(sent(0).size(), 1u);
    EXPECT_EQ(sent(0)[0], cat({be32(2), be32(IFH_A), be32(IFH_B)}));

    // The answer names both, plus an interface that has gone meanwhile (skipped).
    alloc(cat({be32(3), entry(IFH_A, 7), entry(IFH_GONE, 9), entry(IFH_B, 0x0102)}));
    EXPECT_EQ(a->port_num, 7);
    EXPECT_EQ(b->port_num, 0x0102);
    EXPECT_EQ(
        pm_lines_with("PORT-NUM: 0x00001f00: Received port number 9 in alloc message but IDB does not exist").size(),
        1u);

    // The agent's resync lists what it holds.
    tessel_port_num_send_ma_resync_msg();
    settle();
    ASSERT_EQ(sent(3).size(), 1u);
    EXPECT_EQ(sent(3)[0], cat({be32(2), entry(IFH_A, 7), entry(IFH_B, 0x0102)}));

    // A deleted interface gives its number back.
    records[0]->r.flags |= TESSEL_IPC_FLAG_UPDATE_DELETED;
    tessel_port_mgr_if_update(&records[0]->r);
    records.erase(records.begin());
    tessel_port_num_process_batches();
    settle();
    ASSERT_EQ(sent(2).size(), 1u);
    EXPECT_EQ(sent(2)[0], cat({be32(1), be32(IFH_A)}));
}

// The controller's list wins: a different number is taken, an unknown handle is released, an
// interface it omits loses its number and is requested again in the same handling.
TEST_F(PortNumTest, ControllerResyncCorrectsTheAgent)
{
    tessel_proto_idb_type *a = create("GigE0/0/0/1", IFH_A);
    tessel_proto_idb_type *b = create("GigE0/0/0/2", IFH_B);
    tessel_proto_idb_type *c = create("GigE0/0/0/3", IFH_C);
    tessel_port_num_process_batches();
    alloc(cat({be32(3), entry(IFH_A, 4), entry(IFH_B, 5), entry(IFH_C, 6)}));
    ctrl.got.clear();
    debug_capture_clear();

    ctrlr_resync(cat({be32(3), entry(IFH_A, 4), entry(IFH_C, 16), entry(IFH_GONE, 30)}));
    EXPECT_EQ(a->port_num, 4);
    EXPECT_EQ(b->port_num, 0);
    EXPECT_EQ(c->port_num, 16);
    EXPECT_EQ(a->flags & port_num_mark, 0);
    EXPECT_EQ(b->flags & port_num_mark, 0);
    ASSERT_EQ(sent(0).size(), 1u);
    EXPECT_EQ(sent(0)[0], cat({be32(1), be32(IFH_B)}));
    ASSERT_EQ(sent(2).size(), 1u);
    EXPECT_EQ(sent(2)[0], cat({be32(1), be32(IFH_GONE)}));
    EXPECT_EQ(pm_lines_with("PORT-NUM: [ERROR] 0x00001003: Controller resync port number mismatch: Ctrlr port num 16, "
                            "Tessel port num 6")
                  .size(),
              1u);
    EXPECT_EQ(pm_lines_with("PORT-NUM: [ERROR] 0x00001002: Port number 5 missing from controller resync, clearing "
                            "port number")
                  .size(),
              1u);
}

// A failed send drops both batches and resyncs 2000 ms later; meanwhile nothing is queued or
// sent. The controller's resync, arriving during the retry, supersedes it.
TEST_F(PortNumTest, FailedSendDropsTheBatchesAndResyncsLater)
{
    create("GigE0/0/0/1", IFH_A);
    comms_test_fail_sends(1, SEND_ERROR);
    tessel_port_num_process_batches();
    settle();
    EXPECT_EQ(tessel_port_num_is_retry_pending(), 1u);
    tessel_proto_idb_type *b = create("GigE0/0/0/2", IFH_B); // not queued
    tessel_port_num_process_batches();
    settle();
    EXPECT_TRUE(ctrl.on(true).empty());
    advance_ms(TESSEL_PORT_NUM_RETRY_MS);
    ASSERT_EQ(sent(3).size(), 1u);
    EXPECT_EQ(sent(3)[0], be32(0));
    ASSERT_NE(b, nullptr);

    // Again, and this time the controller's resync arrives while the retry waits.
    ctrl.got.clear();
    comms_test_fail_sends(1, SEND_ERROR);
    tessel_port_num_send_ma_resync_msg();
    settle();
    ASSERT_EQ(tessel_port_num_is_retry_pending(), 1u);
    ctrlr_resync(be32(0));
    EXPECT_EQ(tessel_port_num_is_retry_pending(), 0u);
    ASSERT_EQ(sent(0).size(), 1u);
    EXPECT_EQ(sent(0)[0], cat({be32(2), be32(IFH_A), be32(IFH_B)}));
    advance_ms(TESSEL_PORT_NUM_RETRY_MS);
    EXPECT_TRUE(sent(3).empty()) << "the cancelled retry does not resync";
}

TEST_F(PortNumTest, LinkDownEmptiesTheBatchesAndLinkUpResyncs)
{
    create("GigE0/0/0/1", IFH_A);
    comms_test_set_link(AGENT_NODE, false);
    settle();
    EXPECT_EQ(tessel_port_num_gsp_up(), 0u);
    tessel_port_num_process_batches();
    comms_test_possible_lost(PTP_COMMS_PORT_NUM_CHANNEL); // no resync while down, no assertion
    settle();
    comms_test_set_link(AGENT_NODE, true);
    settle();
    EXPECT_EQ(tessel_port_num_gsp_up(), 1u);
    EXPECT_TRUE(sent(0).empty());
    ASSERT_EQ(sent(3).size(), 1u);
    EXPECT_EQ(sent(3)[0], be32(0));

    // A lost-message notice resyncs at once.
    comms_test_possible_lost(PTP_COMMS_PORT_NUM_CHANNEL);
    settle();
    EXPECT_EQ(sent(3).size(), 2u);
}

// Counts that do not fit the bytes received are counted drops; nothing is read or changed.
TEST_F(PortNumTest, MessagesWhoseCountOverrunsTheirLengthAreDropped)
{
    tessel_proto_idb_type *a = create("GigE0/0/0/1", IFH_A);
    const uint32_t before = tessel_port_num_dropped_msg_count();
    alloc(cat({be32(2), entry(IFH_A, 7)}));
    ctrlr_resync(cat({be32(0x20000000), entry(IFH_A, 7)}));
    alloc(bytes{0, 0});
    EXPECT_EQ(tessel_port_num_dropped_msg_count(), before + 3);
    EXPECT_EQ(a->port_num, 0);
    EXPECT_EQ(pm_lines_with("PORT-NUM: [ERROR] Dropped port number allocation message with 2 port numbers in 12 bytes")
                  .size(),
              1u);
}

} // namespace

// In the secondary upgrade role the primary owns the numbers: the controller's messages never
// change a number a port already has, but ports the controller's resync omits still lose theirs
// and are requested again.
class PortNumSecondaryTest : public PortNumTest {
protected:
    void SetUp() override
    {
        role = ISSUL_ROLE_SECONDARY;
        PortNumTest::SetUp();
        // The secondary's port manager starts the client once the checkpoint is read; here at once.
        ASSERT_EQ(tessel_port_num_init(evm), 0u);
        settle();
        ctrl.got.clear();
    }
};

TEST_F(PortNumSecondaryTest, NumbersAlreadyHeldAreKept)
{
    tessel_proto_idb_type *a = create("GigE0/0/0/1", IFH_A);
    tessel_proto_idb_type *b = create("GigE0/0/0/2", IFH_B);
    alloc(cat({be32(2), entry(IFH_A, 4), entry(IFH_B, 5)}));
    ASSERT_EQ(a->port_num, 4);
    ASSERT_EQ(b->port_num, 5);

    alloc(cat({be32(1), entry(IFH_A, 40)}));
    EXPECT_EQ(a->port_num, 4);
    ctrl.got.clear();
    ctrlr_resync(cat({be32(1), entry(IFH_A, 41)}));
    EXPECT_EQ(a->port_num, 4) << "no mismatch correction in the secondary role";
    EXPECT_EQ(b->port_num, 0) << "omitted: cleared all the same";
    ASSERT_EQ(sent(0).size(), 1u);
    EXPECT_EQ(sent(0)[0], cat({be32(1), be32(IFH_B)}));
}
