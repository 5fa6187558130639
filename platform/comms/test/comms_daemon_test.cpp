// Group messaging between processes through the platform daemon.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "comms.h"
#include "comms_host.h"
#include "daemon_test_child.h"
#include "evm_test.h"
#include "sockmsg.h"

namespace {

struct inbox_type {
    std::vector<std::string> messages;
    std::vector<comms_notification_type> notices;
};

void on_msg(comms_conn_type *, void *context, const comms_member_type *sender, const void *msg, size_t length)
{
    static_cast<inbox_type *>(context)->messages.push_back(std::to_string(sender->node_id) + ":" +
                                                           std::string(static_cast<const char *>(msg), length));
}

void on_notice(comms_conn_type *, void *context, const comms_notification_type *n)
{
    static_cast<inbox_type *>(context)->notices.push_back(*n);
}

// One daemon per test suite; this process is a member on node 0x100.
class CommsDaemonTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char tmpl[] = "/tmp/comms_daemon_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        socket = dir + "/run/platform.sock";
        daemon = spawn({PLATFORMD_PATH, "--socket", socket}, {});
        setenv("PTP_PLATFORM_SOCKET", socket.c_str(), 1);
        setenv("PTP_NODE", "0x100", 1);
        ASSERT_TRUE(wait_for_daemon(socket)) << "the daemon did not come up";
    }
    static void TearDownTestSuite()
    {
        stop(daemon);
        std::filesystem::remove_all(dir);
    }
    void SetUp() override
    {
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_EQ(comms_connect(evm, channel(), 2, &conn), 0u);
        ASSERT_EQ(comms_msg_handler_add(conn, 1, 1, on_msg, &in), 0u);
        for (int32_t e = 0; e < COMMS_EVENT_COUNT; ++e)
            ASSERT_EQ(comms_notification_handler_add(conn, e, on_notice, &in), 0u);
    }
    void TearDown() override
    {
        for (child_type &c : children)
            stop(c);
        comms_disconnect(conn);
        event_manager_destroy(evm);
    }
    // Each test on a channel of its own.
    static const char *channel() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }
    child_type &peer(const char *node, std::vector<std::string> args)
    {
        args.insert(args.begin(), {COMMS_PEER_PATH, channel()});
        children.push_back(spawn(args, {{"PTP_NODE", node}, {"PTP_PLATFORM_SOCKET", socket}}));
        EXPECT_EQ(read_line(children.back()), "ready");
        return children.back();
    }
    static std::string dir, socket;
    static child_type daemon;
    event_mgr_type *evm = nullptr;
    comms_conn_type *conn = nullptr;
    inbox_type in;
    std::deque<child_type> children; // references stay valid as it grows
};
std::string CommsDaemonTest::dir, CommsDaemonTest::socket;
child_type CommsDaemonTest::daemon;

TEST_F(CommsDaemonTest, AKilledProcessLeavesItsChannelsAndTheOthersAreTold)
{
    child_type &p = peer("0x10", {"listen"});
    ASSERT_TRUE(run_until(evm, [&] { return !in.notices.empty(); }));
    EXPECT_EQ(in.notices[0].event, COMMS_EVENT_MEMBER_ADD);
    EXPECT_EQ(in.notices[0].node_id, 0x10u);

    // It hears the group, with this process's node as the sender.
    const comms_member_type *group = nullptr;
    ASSERT_EQ(comms_conn_get_group_member(conn, &group), 0u);
    ASSERT_EQ(comms_msg_send(conn, group, 1, 1, "hello", 5, 0), 0u);
    EXPECT_EQ(read_line(p), "256:hello");

    kill(p.pid, SIGKILL);
    ASSERT_TRUE(run_until(evm, [&] { return in.notices.size() >= 2; }));
    EXPECT_EQ(in.notices[1].event, COMMS_EVENT_MEMBER_DEL);
    EXPECT_EQ(in.notices[1].node_id, 0x10u);
    EXPECT_TRUE(comms_member_equal(&in.notices[1].member, &in.notices[0].member));
    // The member is gone with the process.
    EXPECT_EQ(comms_msg_send(conn, &in.notices[0].member, 1, 1, "x", 1, 0), COMMS_ERR_NO_MEMBER);
}

TEST_F(CommsDaemonTest, MessagesOfEachSenderArriveInTheOrderSent)
{
    constexpr int count = 500;
    child_type &a = peer("0x10", {"send", std::to_string(count), "a"});
    child_type &b = peer("0x20", {"send", std::to_string(count), "b"});
    EXPECT_EQ(read_line(a), "sent");
    EXPECT_EQ(read_line(b), "sent");
    ASSERT_TRUE(run_until(evm, [&] { return in.messages.size() >= 2 * count; }));
    int next_a = 0, next_b = 0;
    for (const std::string &m : in.messages) {
        if (m.rfind("16:a", 0) == 0)
            EXPECT_EQ(m, "16:a" + std::to_string(next_a++));
        else
            EXPECT_EQ(m, "32:b" + std::to_string(next_b++));
    }
    EXPECT_EQ(next_a, count);
    EXPECT_EQ(next_b, count);
}

// The operator takes this node's link down and up again through the daemon.
TEST_F(CommsDaemonTest, ALinkDownOfTheNodeIsNotifiedToItsMembers)
{
    sockmsg_client_type *op = nullptr;
    ASSERT_EQ(sockmsg_client_connect(socket.c_str(), nullptr, nullptr, nullptr, nullptr, &op), 0u);
    for (uint8_t up : {0, 1}) {
        const uint8_t req[8] = {0, 0, 1, 0, 0, 0, 0, up};
        uint32_t status = 1;
        ASSERT_EQ(sockmsg_client_call(op, COMMS_SERVICE_ID, COMMS_WIRE_LINK, req, sizeof req, &status, nullptr), 0u);
        EXPECT_EQ(status, 0u);
    }
    sockmsg_client_close(op);
    ASSERT_TRUE(run_until(evm, [&] { return in.notices.size() >= 2; }));
    EXPECT_EQ(in.notices[0].event, COMMS_EVENT_LOCAL_DOWN);
    EXPECT_EQ(in.notices[0].node_id, 0x100u);
    EXPECT_EQ(in.notices[1].event, COMMS_EVENT_LOCAL_UP);
}

// Frames that are well formed for the transport but not for the service are refused to that
// client only; the daemon goes on serving the others.
TEST_F(CommsDaemonTest, BadRequestsAreRefusedToTheirClientOnly)
{
    sockmsg_client_type *raw = nullptr;
    ASSERT_EQ(sockmsg_client_connect(socket.c_str(), nullptr, nullptr, nullptr, nullptr, &raw), 0u);
    struct bad_case {
        uint16_t type;
        std::vector<uint8_t> payload;
        zerrno status;
    };
    std::vector<uint8_t> long_name(4 + COMMS_MAX_CHANNEL_NAME + 1, 'x');
    const bad_case cases[] = {
        {COMMS_WIRE_SEND, std::vector<uint8_t>(24), COMMS_ERR_NO_MEMBER}, // not a member yet
        {COMMS_WIRE_CONNECT, {0, 0, 1}, COMMS_ERR_INVALID},               // truncated
        {COMMS_WIRE_CONNECT, long_name, COMMS_ERR_INVALID},
        {COMMS_WIRE_CONNECT, {0, 0, 0, 1, 'a', 0, 'b'}, COMMS_ERR_INVALID}, // NUL in the name
        {COMMS_WIRE_CONNECT, {0, 0, 0, 1, 'B', 'a', 'd'}, 0},
        {COMMS_WIRE_CONNECT, {0, 0, 0, 1, 'B', 'a', 'd'}, COMMS_ERR_EXISTS}, // one member per client
        {COMMS_WIRE_SEND, std::vector<uint8_t>(23), COMMS_ERR_INVALID},
        {COMMS_WIRE_SEND, std::vector<uint8_t>(24), COMMS_ERR_INVALID}, // channel 0: not its channel
    };
    for (const bad_case &c : cases) {
        uint32_t status = 0;
        ASSERT_EQ(sockmsg_client_call(raw, COMMS_SERVICE_ID, c.type, c.payload.data(),
                                      static_cast<uint32_t>(c.payload.size()), &status, nullptr),
                  0u);
        EXPECT_EQ(status, c.status) << c.type << " " << c.payload.size();
    }
    sockmsg_client_close(raw);
    // The others are served as before.
    child_type &p = peer("0x10", {"listen"});
    const comms_member_type *group = nullptr;
    ASSERT_EQ(comms_conn_get_group_member(conn, &group), 0u);
    ASSERT_EQ(comms_msg_send(conn, group, 1, 1, "still", 5, 0), 0u);
    EXPECT_EQ(read_line(p), "256:still");
}

} // namespace
