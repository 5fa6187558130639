// In-memory links between processes: this test process is node 0/1/CPU0 of the sample chassis,
// whose Gi0/1/0/0 is linked to Gi0/2/0/0 of node 0/2/CPU0 and whose Gi0/1/0/1 has the simulated
// peer "grandmaster", each served by a process that sends back what it receives. The daemon
// relays the frames; no privilege is needed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "chassis.h"
#include "ctx.h"
#include "daemon_test_child.h"
#include "evm_test.h"
#include "pktio_relay.h"
#include "sockmsg.h"
#include "spio.h"

namespace {

constexpr uint32_t GI0 = 0x01000100; // Gi0/1/0/0, linked to Gi0/2/0/0
constexpr uint32_t GI1 = 0x01000101; // Gi0/1/0/1, the simulated peer "grandmaster"'s
constexpr uint32_t FAR = 0x02000100; // Gi0/2/0/0
constexpr uint32_t ETHERNET = SPIO_CONN_KIND_ETHERNET;

struct frame_type {
    uint32_t ifhandle;
    std::vector<uint8_t> bytes;
    bool timestamped;
    uint8_t stamp[CTX_TIMESTAMP_LEN];
};
std::vector<frame_type> received;

void on_rx(uint32_t count, ctx_packet_type **packets)
{
    for (uint32_t i = 0; i < count; ++i) {
        frame_type f{};
        uint32_t length = 0;
        ctx_get_u32(packets[i], CTX_OPT_IN_IFHANDLE, &f.ifhandle);
        ctx_get_u32(packets[i], CTX_OPT_CURRENT_LENGTH, &length);
        f.bytes.resize(length);
        size_t n = 0;
        ctx_read(packets[i], CTX_LAYER_FRAME, 0, f.bytes.data(), length, &n);
        size_t ts_len = 0;
        f.timestamped = ctx_get_varlength(packets[i], CTX_OPT_TIMESTAMP, f.stamp, sizeof f.stamp, &ts_len) == 0;
        received.push_back(f);
    }
    ctx_free(packets, count);
}

// An Ethernet frame of PTP's EtherType whose payload names its number.
std::vector<uint8_t> frame(uint32_t n, size_t size = 64)
{
    std::vector<uint8_t> f(size, 0);
    const uint8_t head[14] = {1, 0x1b, 0x19, 0, 0, 0, 2, 0, 0x5e, 0x10, 1, 0, 0x88, 0xf7};
    memcpy(f.data(), head, sizeof head);
    f[14] = static_cast<uint8_t>(n >> 8);
    f[15] = static_cast<uint8_t>(n);
    return f;
}

class RelayTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char tmpl[] = "/tmp/pktio_relay_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        socket = dir + "/run/platform.sock";
        chassis = dir + "/chassis.toml";
        std::ofstream out(chassis);
        copy_chassis_without_programs(chassis_sample_path(), out);
        out.close();
        setenv("PTP_PLATFORM_SOCKET", socket.c_str(), 1);
        setenv("PTP_CHASSIS", chassis.c_str(), 1);
        setenv("PTP_NODE", "0/1/CPU0", 1);
        daemon = spawn({PLATFORMD_PATH, "--socket", socket}, {{"PTP_NODRA_DB", dir + "/nodra.db"}});
        ASSERT_TRUE(wait_for_daemon(socket)) << "the daemon did not come up";
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_EQ(ctx_api_init(&api), 0u);
        spio_init_params_type params{SPIO_PARAMS_VERSION, on_rx, nullptr, ETHERNET, evm};
        ASSERT_EQ(spio_init(&params, &conn), 0u); // sets up this node's interfaces from the chassis
        const uint32_t handles[2] = {GI0, GI1}, directions[2] = {1, 1};
        uint32_t statuses[2] = {1, 1};
        ASSERT_EQ(spio_attach2(conn, 0, 2, handles, directions, statuses), 0u);
        ASSERT_EQ(statuses[0], 0u);
        ASSERT_EQ(statuses[1], 0u);
    }
    static void TearDownTestSuite()
    {
        spio_close(conn);
        ctx_api_cleanup(api);
        event_manager_destroy(evm);
        stop(daemon);
        std::filesystem::remove_all(dir);
    }
    void SetUp() override { received.clear(); }
    void TearDown() override { stop(peer); }
    void start_peer()
    {
        peer = spawn({RELAY_PEER_PATH, std::to_string(FAR)},
                     {{"PTP_NODE", "0/2/CPU0"}, {"PTP_PLATFORM_SOCKET", socket}, {"PTP_CHASSIS", chassis}});
        ASSERT_EQ(read_line(peer), "ready");
    }
    // A process outside the chassis (no node in its environment) serving a simulated peer.
    void start_simulated_peer(const std::string &name, const std::string &expect = "ready")
    {
        peer = spawn({RELAY_PEER_PATH, "--peer", name}, {{"PTP_PLATFORM_SOCKET", socket}, {"PTP_CHASSIS", chassis}});
        ASSERT_EQ(read_line(peer), expect);
    }
    static zerrno send(uint32_t ifhandle, const std::vector<uint8_t> &bytes)
    {
        ctx_packet_type *p = ctx_alloc(api, bytes.size());
        size_t n = 0;
        ctx_write(p, CTX_LAYER_FRAME, 0, bytes.data(), bytes.size(), &n);
        ctx_set_u32(p, CTX_OPT_OUT_IFHANDLE, ifhandle);
        ctx_set_u32(p, CTX_OPT_CURRENT_LENGTH, static_cast<uint32_t>(bytes.size()));
        return spio_pd_intf_send(conn, 1, &p, 1, 0);
    }
    static pktio_relay_counts_type counts()
    {
        sockmsg_client_type *c = nullptr;
        pktio_relay_counts_type out{UINT64_MAX, UINT64_MAX};
        if (sockmsg_client_connect(socket.c_str(), nullptr, nullptr, nullptr, nullptr, &c) != 0)
            return out;
        uint32_t status = 1;
        std::vector<uint8_t> reply;
        if (sockmsg_client_call(c, PKTIO_RELAY_SERVICE_ID, PKTIO_RELAY_WIRE_COUNTS, nullptr, 0, &status, &reply) == 0 &&
            status == 0 && reply.size() == 16) {
            out = {};
            for (int i = 0; i < 8; ++i) {
                out.relayed = out.relayed << 8 | reply[static_cast<size_t>(i)];
                out.dropped = out.dropped << 8 | reply[static_cast<size_t>(8 + i)];
            }
        }
        sockmsg_client_close(c);
        return out;
    }
    static std::string dir, socket, chassis;
    static child_type daemon;
    static event_mgr_type *evm;
    static ctx_api_type *api;
    static spio_conn_type *conn;
    child_type peer;
};
std::string RelayTest::dir, RelayTest::socket, RelayTest::chassis;
child_type RelayTest::daemon;
event_mgr_type *RelayTest::evm;
ctx_api_type *RelayTest::api;
spio_conn_type *RelayTest::conn;

TEST_F(RelayTest, FramesCrossTheLinkBetweenProcessesInOrder)
{
    start_peer();
    constexpr uint32_t count = 300;
    for (uint32_t i = 0; i < count; ++i)
        ASSERT_EQ(send(GI0, frame(i)), 0u);
    ASSERT_TRUE(run_until(evm, [] { return received.size() >= count; })) << received.size();
    for (uint32_t i = 0; i < count; ++i) {
        EXPECT_EQ(received[i].ifhandle, GI0);
        EXPECT_EQ(received[i].bytes, frame(i)) << i;
        EXPECT_TRUE(received[i].timestamped);
    }
    // Nobody serves the simulated peer: what its interface sends is lost, as on an unplugged cable.
    EXPECT_EQ(send(GI1, frame(1)), 0u);
    // A frame larger than the relay carries is refused to its sender.
    EXPECT_EQ(send(GI0, frame(1, PKTIO_RELAY_MAX_FRAME + 1)), PKTIO_ERR_TOO_BIG);
}

// A client's death frees its end of the link; frames to it are dropped and counted, and a new
// process at that end gets them again.
TEST_F(RelayTest, APeerThatDiesLeavesItsEndAndANewOneTakesIt)
{
    start_peer();
    ASSERT_EQ(send(GI0, frame(7)), 0u);
    ASSERT_TRUE(run_until(evm, [] { return received.size() == 1; }));
    stop(peer);
    const pktio_relay_counts_type before = counts();
    ASSERT_TRUE(run_until(evm, [&] {
        send(GI0, frame(8)); // until the daemon has seen the peer go
        return counts().dropped > before.dropped;
    }));
    start_peer();
    received.clear();
    ASSERT_EQ(send(GI0, frame(9)), 0u);
    ASSERT_TRUE(run_until(evm, [] { return !received.empty(); }));
    EXPECT_EQ(received.back().bytes, frame(9));
}

// Frames that are well formed for the transport but not for the service are dropped and
// counted, or refused, for that client only; the link goes on carrying the others.
TEST_F(RelayTest, BadFramesAndRegistrationsAreRefusedToTheirClientOnly)
{
    start_peer();
    sockmsg_client_type *raw = nullptr;
    ASSERT_EQ(sockmsg_client_connect(socket.c_str(), nullptr, nullptr, nullptr, nullptr, &raw), 0u);
    auto call = [raw](uint16_t type, const std::vector<uint8_t> &req) {
        uint32_t status = 0;
        const zerrno rc = sockmsg_client_call(raw, PKTIO_RELAY_SERVICE_ID, type, req.data(),
                                              static_cast<uint32_t>(req.size()), &status, nullptr);
        return rc != 0 ? rc : status;
    };
    const pktio_relay_counts_type before = counts();
    EXPECT_EQ(call(PKTIO_RELAY_WIRE_FRAME, {0, 0, 1}), PKTIO_ERR_INVALID); // truncated
    EXPECT_EQ(call(PKTIO_RELAY_WIRE_FRAME, {2, 0, 1, 0, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0, 0, 1}),
              PKTIO_ERR_INVALID);                                                                   // not its end
    EXPECT_EQ(call(PKTIO_RELAY_WIRE_FRAME, {1, 0, 1, 0, 0, 0, 0, 20, 0, 0, 0}), PKTIO_ERR_INVALID); // no send time
    EXPECT_EQ(call(PKTIO_RELAY_WIRE_REGISTER, {0, 0, 0}), PKTIO_ERR_INVALID);                       // truncated
    EXPECT_EQ(call(PKTIO_RELAY_WIRE_REGISTER, {0, 0, 0, 0x10, 1, 0, 1, 9}), PKTIO_ERR_NO_LINK);     // no such end
    EXPECT_EQ(call(PKTIO_RELAY_WIRE_REGISTER_PEER, {}), PKTIO_ERR_INVALID);                         // no name
    EXPECT_EQ(call(PKTIO_RELAY_WIRE_REGISTER, {0, 0, 0, 0x20, 2, 0, 1, 0}), PKTIO_ERR_INVALID);     // another node
    EXPECT_EQ(call(PKTIO_RELAY_WIRE_REGISTER, {0, 0, 0, 0x10, 1, 0, 1, 0}), 0u);                    // Gi0/1/0/0
    EXPECT_EQ(call(PKTIO_RELAY_WIRE_REGISTER_PEER, {'g', 'r', 'a', 'n', 'd', 'm', 'a', 's', 't', 'e', 'r'}),
              PKTIO_ERR_INVALID); // a node's connection cannot also be a peer
    std::vector<uint8_t> big = {1, 0, 1, 0, 0, 0, 0, 20};
    big.resize(PKTIO_RELAY_FRAME_HEADER + PKTIO_RELAY_MAX_FRAME + 1);
    EXPECT_EQ(call(PKTIO_RELAY_WIRE_FRAME, big), PKTIO_ERR_INVALID);
    EXPECT_EQ(call(PKTIO_RELAY_WIRE_FRAME, {1, 0, 1, 0, 0, 0, 0, 99, 0, 0, 0, 0, 0, 0, 0, 0, 1}),
              PKTIO_ERR_INVALID); // no such kind
    EXPECT_EQ(counts().dropped, before.dropped + 5);
    sockmsg_client_close(raw);

    ASSERT_EQ(send(GI0, frame(3)), 0u);
    ASSERT_TRUE(run_until(evm, [] { return !received.empty(); }));
    EXPECT_EQ(received[0].bytes, frame(3));
}

// The far end's receive stamp is the time the frame left, however long the relay took: the link
// is a cable of no length.
TEST_F(RelayTest, ARelayedFrameIsStampedWithTheTimeItLeft)
{
    sockmsg_client_type *far = nullptr;
    ASSERT_EQ(sockmsg_client_connect(socket.c_str(), nullptr, nullptr, nullptr, nullptr, &far), 0u);
    auto call = [far](uint16_t type, const std::vector<uint8_t> &req) {
        uint32_t status = 0;
        const zerrno rc = sockmsg_client_call(far, PKTIO_RELAY_SERVICE_ID, type, req.data(),
                                              static_cast<uint32_t>(req.size()), &status, nullptr);
        return rc != 0 ? rc : status;
    };
    ASSERT_EQ(call(PKTIO_RELAY_WIRE_REGISTER, {0, 0, 0, 0x20, 2, 0, 1, 0}), 0u); // Gi0/2/0/0
    // Left at 1000 s and 5 ns past the epoch, long before it arrives.
    std::vector<uint8_t> req = {2, 0, 1, 0, 0, 0, 0, 20, 0, 0, 0, 0xe8, 0xd4, 0xa5, 0x10, 0x05};
    const std::vector<uint8_t> f = frame(4);
    req.insert(req.end(), f.begin(), f.end());
    ASSERT_EQ(call(PKTIO_RELAY_WIRE_FRAME, req), 0u);
    ASSERT_TRUE(run_until(evm, [] { return !received.empty(); }));
    sockmsg_client_close(far);
    EXPECT_EQ(received[0].bytes, f);
    ASSERT_TRUE(received[0].timestamped);
    const uint8_t seconds_1000_plus_5_ns[CTX_TIMESTAMP_LEN] = {0, 0, 0, 0, 0x03, 0xe8, 0, 0, 0, 5};
    EXPECT_EQ(std::vector<uint8_t>(received[0].stamp, received[0].stamp + CTX_TIMESTAMP_LEN),
              std::vector<uint8_t>(seconds_1000_plus_5_ns, seconds_1000_plus_5_ns + CTX_TIMESTAMP_LEN));
}

// A process outside the chassis names itself as the simulated peer of an interface and exchanges
// frames with the node's process over the daemon; a name no interface gives is refused.
TEST_F(RelayTest, ASimulatedPeerServesTheInterfaceThatNamesIt)
{
    start_simulated_peer("nobody", "setup failed");
    stop(peer);
    start_simulated_peer("grandmaster");
    for (uint32_t i = 0; i < 20; ++i)
        ASSERT_EQ(send(GI1, frame(i)), 0u);
    ASSERT_TRUE(run_until(evm, [] { return received.size() >= 20; })) << received.size();
    for (uint32_t i = 0; i < 20; ++i) {
        EXPECT_EQ(received[i].ifhandle, GI1);
        EXPECT_EQ(received[i].bytes, frame(i)) << i;
    }
}

} // namespace
