#include "comms.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "comms_test.h"
#include "evm_test.h"

namespace {

// What one member received.
struct inbox_type {
    std::vector<std::string> messages; // "node:type.version:body"
    std::vector<comms_notification_type> notices;
};

void on_msg(comms_conn_type *, void *context, const comms_member_type *sender, const void *msg, size_t length)
{
    auto *in = static_cast<inbox_type *>(context);
    in->messages.push_back(std::to_string(sender->node_id) + ":" + std::string(static_cast<const char *>(msg), length));
}

void on_notice(comms_conn_type *, void *context, const comms_notification_type *n)
{
    static_cast<inbox_type *>(context)->notices.push_back(*n);
}

class CommsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        comms_test_reset();
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_NE(evm, nullptr);
    }
    void TearDown() override
    {
        comms_test_reset();
        event_manager_destroy(evm);
    }
    // A member on a node with handlers for message (1, 1) and every notification.
    comms_conn_type *join(uint32_t node, inbox_type *in, const char *channel = "PTP")
    {
        comms_test_set_node(node);
        comms_conn_type *c = nullptr;
        EXPECT_EQ(comms_connect(evm, channel, 2, &c), 0u);
        EXPECT_EQ(comms_msg_handler_add(c, 1, 1, on_msg, in), 0u);
        for (int32_t e = 0; e < COMMS_EVENT_COUNT; ++e)
            EXPECT_EQ(comms_notification_handler_add(c, e, on_notice, in), 0u);
        return c;
    }
    const comms_member_type *group(comms_conn_type *c)
    {
        const comms_member_type *g = nullptr;
        EXPECT_EQ(comms_conn_get_group_member(c, &g), 0u);
        return g;
    }
    zerrno send(comms_conn_type *c, const comms_member_type *to, const std::string &body, uint32_t version = 1)
    {
        return comms_msg_send(c, to, 1, version, body.data(), body.size(), 0);
    }
    event_mgr_type *evm = nullptr;
};

std::vector<int32_t> events(const inbox_type &in)
{
    std::vector<int32_t> out;
    for (const auto &n : in.notices)
        out.push_back(n.event);
    return out;
}

TEST_F(CommsTest, MembersAreAnnouncedWhenTheyJoinAndLeave)
{
    inbox_type a, b;
    comms_conn_type *ca = join(0x100, &a);
    comms_conn_type *cb = join(0x10, &b);
    evm_run_until_idle(evm);
    ASSERT_EQ(events(a), std::vector<int32_t>{COMMS_EVENT_MEMBER_ADD});
    EXPECT_EQ(a.notices[0].node_id, 0x10u);
    const comms_member_type *mb = nullptr;
    ASSERT_EQ(comms_conn_get_member(cb, &mb), 0u);
    EXPECT_TRUE(comms_member_equal(&a.notices[0].member, mb));
    EXPECT_TRUE(b.notices.empty());
    const comms_member_type kept = *mb;

    ASSERT_EQ(comms_disconnect(cb), 0u);
    evm_run_until_idle(evm);
    ASSERT_EQ(events(a), (std::vector<int32_t>{COMMS_EVENT_MEMBER_ADD, COMMS_EVENT_MEMBER_DEL}));
    EXPECT_EQ(a.notices[1].node_id, 0x10u);
    EXPECT_EQ(comms_test_member_count("PTP"), 1u);
    // The member that left cannot be reached any more.
    EXPECT_EQ(send(ca, &kept, "x"), COMMS_ERR_NO_MEMBER);
}

TEST_F(CommsTest, GroupAndPointToPointSendsReachTheirReceiversInOrderPerSender)
{
    inbox_type a, b, c, other;
    comms_conn_type *ca = join(1, &a);
    comms_conn_type *cb = join(2, &b);
    join(3, &c);
    join(4, &other, "PTP_port_num"); // another channel hears nothing
    const comms_member_type *mc = nullptr;
    evm_run_until_idle(evm);
    a.notices.clear();
    b.notices.clear();
    c.notices.clear();
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(send(ca, group(ca), "a" + std::to_string(i)), 0u);
        ASSERT_EQ(send(cb, group(cb), "b" + std::to_string(i)), 0u);
    }
    ASSERT_EQ(comms_conn_get_member(ca, &mc), 0u);
    ASSERT_EQ(send(cb, mc, "direct"), 0u);
    ASSERT_EQ(send(cb, mc, "other version", 2), 0u); // no handler for (1, 2): dropped
    evm_run_until_idle(evm);

    EXPECT_EQ(a.messages.size(), 51u); // b's 50 and the direct one, not its own
    EXPECT_EQ(a.messages.back(), "2:direct");
    EXPECT_EQ(b.messages.size(), 50u);
    ASSERT_EQ(c.messages.size(), 100u);
    int next_a = 0, next_b = 0;
    for (const std::string &m : c.messages) {
        if (m.rfind("1:a", 0) == 0)
            EXPECT_EQ(m, "1:a" + std::to_string(next_a++));
        else
            EXPECT_EQ(m, "2:b" + std::to_string(next_b++));
    }
    EXPECT_TRUE(other.messages.empty());
    uint32_t node = 0;
    EXPECT_EQ(comms_member_get_nodeid(mc, &node), 0u);
    EXPECT_EQ(node, 1u);
    EXPECT_EQ(comms_member_get_nodeid(group(ca), &node), COMMS_ERR_INVALID);
}

TEST_F(CommsTest, FailuresDropsAndLinkChangesAreNotified)
{
    inbox_type a, b;
    comms_conn_type *ca = join(1, &a);
    comms_conn_type *cb = join(2, &b);
    evm_run_until_idle(evm);
    a.notices.clear();

    comms_test_fail_sends(2, COMMS_ERR_NO_MEMORY);
    EXPECT_EQ(send(ca, group(ca), "x"), COMMS_ERR_NO_MEMORY);
    EXPECT_EQ(send(ca, group(ca), "x"), COMMS_ERR_NO_MEMORY);
    EXPECT_EQ(send(ca, group(ca), "ok"), 0u);

    comms_test_drop_messages(1);
    EXPECT_EQ(send(ca, group(ca), "lost"), 0u);
    EXPECT_EQ(send(ca, group(ca), "after"), 0u);
    evm_run_until_idle(evm);
    EXPECT_EQ(b.messages, (std::vector<std::string>{"1:ok", "1:after"}));
    ASSERT_EQ(events(b), std::vector<int32_t>{COMMS_EVENT_DROPPED_MSGS});
    EXPECT_EQ(b.notices[0].node_id, 1u);

    // Node 2's link goes down: its member is told, sends from it fail, the group skips it.
    b.notices.clear();
    comms_test_set_link(2, false);
    EXPECT_EQ(send(cb, group(cb), "x"), COMMS_ERR_LINK_DOWN);
    EXPECT_EQ(send(ca, group(ca), "unheard"), 0u);
    comms_test_set_link(2, true);
    comms_test_possible_lost("PTP");
    evm_run_until_idle(evm);
    EXPECT_EQ(events(b),
              (std::vector<int32_t>{COMMS_EVENT_LOCAL_DOWN, COMMS_EVENT_LOCAL_UP, COMMS_EVENT_POSSIBLE_LOST_MSG}));
    EXPECT_EQ(b.notices[0].node_id, 2u);
    EXPECT_EQ(events(a), std::vector<int32_t>{COMMS_EVENT_POSSIBLE_LOST_MSG});
    EXPECT_EQ(b.messages.size(), 2u);
}

TEST_F(CommsTest, BadCallsAreRefused)
{
    inbox_type a, b;
    comms_conn_type *ca = join(1, &a);
    comms_conn_type *cb = join(2, &b, "PTP_port_num");
    std::string big(COMMS_MAX_MSG + 1, 'x');
    EXPECT_EQ(send(ca, group(ca), big), COMMS_ERR_TOO_BIG);
    EXPECT_EQ(send(ca, group(cb), "x"), COMMS_ERR_INVALID); // another channel's group
    EXPECT_EQ(comms_msg_handler_add(ca, 1, 1, on_msg, &a), COMMS_ERR_EXISTS);
    EXPECT_EQ(comms_msg_handler_remove(ca, 1, 1), 0u);
    EXPECT_EQ(comms_msg_handler_remove(ca, 1, 1), COMMS_ERR_NOT_FOUND);
    EXPECT_EQ(comms_notification_handler_add(ca, COMMS_EVENT_COUNT, on_notice, &a), COMMS_ERR_INVALID);
    EXPECT_EQ(comms_notification_handler_remove(ca, 5), 0u);
    EXPECT_EQ(comms_notification_handler_remove(ca, 5), COMMS_ERR_NOT_FOUND);
    comms_member_type *dup = nullptr;
    ASSERT_EQ(comms_member_dup(group(ca), &dup), 0u);
    EXPECT_TRUE(comms_member_equal(dup, group(ca)));
    comms_member_free(dup);
}

// A receiver that does not keep up loses what does not fit, and is told.
TEST_F(CommsTest, AFullReceiverDropsAndIsTold)
{
    inbox_type a, b;
    comms_conn_type *ca = join(1, &a);
    join(2, &b);
    evm_run_until_idle(evm);
    b.notices.clear();
    for (size_t i = 0; i < COMMS_MAX_QUEUED + 3; ++i)
        ASSERT_EQ(send(ca, group(ca), "m"), 0u);
    evm_run_until_idle(evm);
    EXPECT_EQ(b.messages.size(), COMMS_MAX_QUEUED);
    EXPECT_EQ(events(b), std::vector<int32_t>(3, COMMS_EVENT_DROPPED_MSGS));
}

} // namespace
