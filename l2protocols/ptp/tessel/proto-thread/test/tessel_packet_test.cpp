// Packet transmit and receive over in-memory links: framing of every encapsulation, the
// receive checks and drops, and the batched attachment with its resync.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "eth_encap.h"
#include "evm.h"
#include "evm_test.h"
#include "ip_helpers.h"
#include "jotlog_test.h"
#include "pktio_test.h"
#include "plat_debug.h"
#include "ptp_address.h"
#include "ptp_debug.h"
#include "ptp_trace_points.h"
#include "qor_log.h"
#include "shmwin.h"
#include "tessel_debug_areas.h"
#include "tessel_fsm_types.h"
#include "tessel_packet.h"
#include "tessel_packet_test_fake.h"
#include "tessel_proto_db.h"
#include "tessel_stats.h"
#include "tessel_trace_buffers.h"

namespace {

constexpr uint32_t IFH = 0x100;
constexpr uint32_t IFH2 = 0x300;
constexpr uint32_t PEER_IFH = 0x200;
const uint8_t MAC[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
const uint8_t PEER_MAC[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02};
const uint8_t V4[4] = {10, 0, 0, 1};
const uint8_t PEER_V4[4] = {10, 0, 0, 2};
const uint8_t V6[16] = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
const uint8_t PEER_V6[16] = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};

uint16_t rd16(const std::vector<uint8_t> &b, size_t at)
{
    return static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
}

// A PTP message of len bytes with messageLength msg_len (len when 0).
std::vector<uint8_t> ptp_msg(size_t len, uint16_t msg_len = 0, uint8_t type = 0x0C)
{
    std::vector<uint8_t> m(len, 0);
    m[0] = type;
    m[1] = 2;
    const uint16_t l = msg_len != 0 ? msg_len : static_cast<uint16_t>(len);
    m[2] = static_cast<uint8_t>(l >> 8);
    m[3] = static_cast<uint8_t>(l);
    for (size_t i = 34; i < len; i++) {
        m[i] = static_cast<uint8_t>(i);
    }
    return m;
}

ptp_address_type addr4(const uint8_t *a)
{
    ptp_address_type x{};
    ptp_address_set_ipv4(&x, a);
    return x;
}
ptp_address_type addr6(const uint8_t *a)
{
    ptp_address_type x{};
    ptp_address_set_ipv6(&x, a);
    return x;
}

class PacketTest : public testing::Test {
protected:
    event_mgr_type *evm = nullptr;
    tessel_proto_idb_type *port = nullptr;

    // The node's drop reasons are the counters module's own, in a window of this program.
    static void SetUpTestSuite()
    {
        static const std::string prefix = "tessel_packet_test." + std::to_string(getpid()) + ".";
        shmwin_test_set_prefix(prefix.c_str());
        shmwin_test_unlink(TESSEL_STATS_SHMWIN_NAME);
        ASSERT_EQ(tessel_stats_init(), 0u);
    }
    static void TearDownTestSuite()
    {
        tessel_stats_close();
        shmwin_test_unlink(TESSEL_STATS_SHMWIN_NAME);
    }
    static uint32_t drop_reason(uint32_t reason)
    {
        const uint32_t *reasons = tessel_stats_get_node_drop_reasons();
        return reasons != nullptr ? reasons[reason] : 0;
    }

    void SetUp() override
    {
        pkt_fake_reset();
        tessel_stats_clear_node_packet_counters();
        pktio_test_reset();
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_EQ(pktio_test_intf_add("Gi0/0/0/1", IFH, MAC), 0u);
        ASSERT_EQ(pktio_test_intf_add("Gi0/0/0/3", IFH2, MAC), 0u);
        ASSERT_EQ(pktio_test_intf_add("peer", PEER_IFH, PEER_MAC), 0u);
        ASSERT_EQ(pktio_test_link(IFH, PEER_IFH), 0u);
        ASSERT_EQ(tessel_proto_db_init(), 0u);
        ASSERT_EQ(tessel_packet_init(evm), 0u);
        port = make_port("Gi0/0/0/1", IFH, PTP_ENCAP_ETHERNET);
    }
    void TearDown() override
    {
        tessel_packet_cleanup();
        for (auto *p : ports) {
            tessel_proto_db_delete(p);
        }
        tessel_proto_db_cleanup();
        event_manager_destroy(evm);
        pktio_test_reset();
    }

    std::vector<tessel_proto_idb_type *> ports;
    tessel_proto_idb_type *make_port(const char *name, uint32_t ifh, uint32_t encap, uint32_t tags = 0)
    {
        tessel_proto_idb_type *p = nullptr;
        EXPECT_EQ(tessel_proto_db_create(name, &p), 0u);
        ports.push_back(p);
        tessel_proto_db_add_ifhandle(ifh, p);
        const uint32_t stack[2] = {0x88a80064, 0x810000c8};
        p->ether_info_len = eth_encap_attr_build(MAC, stack, tags, p->ether_info, sizeof p->ether_info);
        p->if_type = tags > 0 ? TESSEL_PACKET_IF_TYPE_TAGGED : 1;
        p->config.encap = encap;
        p->config.event_cos = 6;
        p->config.general_cos = 3;
        p->config.event_dscp = 46;
        p->config.general_dscp = 10;
        p->config.ipv4_ttl = 7;
        p->config.ipv6_hop_limit = 9;
        p->config.source_ip.address = 0xFFFFFFFFu;
        std::memcpy(&p->ipv4_addr, V4, 4);
        std::memcpy(p->ipv6_addr, V6, 16);
        p->ipv4_vrf = 0x60000000;
        return p;
    }
    void attach(tessel_proto_idb_type *p)
    {
        tessel_packet_attach(p);
        tessel_packet_process_attach();
        ASSERT_EQ(p->is_spio_attached, 1);
    }
    void set_encap(uint32_t encap)
    {
        port->config.encap = encap;
        attach(port);
    }
    pktio_test_sent_type send_one(const std::vector<uint8_t> &m, int is_event, const ptp_address_type *dst = nullptr,
                                  const tessel_packet_ts_data_type *ts = nullptr,
                                  const ptp_adjacency_type *adj = nullptr)
    {
        pktio_test_sent_clear();
        EXPECT_EQ(tessel_packet_send(port, m.data(), static_cast<uint16_t>(m.size()), is_event, dst, nullptr, ts, adj,
                                     nullptr),
                  0u);
        auto sent = pktio_test_sent();
        EXPECT_EQ(sent.size(), 1u);
        return sent.empty() ? pktio_test_sent_type{} : sent[0];
    }
    void inject(uint32_t kind, std::vector<uint8_t> bytes, uint32_t ifh = IFH)
    {
        pktio_test_rx_type in;
        in.kind = kind;
        in.ifhandle = ifh;
        in.bytes = std::move(bytes);
        ASSERT_TRUE(pktio_test_inject(in));
        evm_run_until_idle(evm);
    }
    uint32_t drops() const
    {
        uint32_t n = 0;
        for (uint32_t r = 0; r < TESSEL_PACKET_DROP_REASON_COUNT; r++) {
            n += drop_reason(r);
        }
        return n;
    }
};

// ---- Transmit ---------------------------------------------------------------------------------

TEST_F(PacketTest, EthernetUntaggedAndDoubleTagged)
{
    attach(port);
    const auto m = ptp_msg(44);
    auto s = send_one(m, 0);
    ASSERT_EQ(s.bytes.size(), 14u + 44u);
    EXPECT_EQ(std::vector<uint8_t>(s.bytes.begin(), s.bytes.begin() + 6),
              std::vector<uint8_t>(TESSEL_PACKET_ETH_DEST_MAC, TESSEL_PACKET_ETH_DEST_MAC + 6));
    EXPECT_EQ(std::memcmp(s.bytes.data() + 6, MAC, 6), 0);
    EXPECT_EQ(rd16(s.bytes, 12), 0x88F7);
    EXPECT_EQ(s.cos, 15);
    EXPECT_EQ(s.priority, 4);
    EXPECT_EQ(std::vector<uint8_t>(s.bytes.begin() + 14, s.bytes.end()), m);

    tessel_proto_idb_type *sub = make_port("Gi0/0/0/3.100", IFH2, PTP_ENCAP_ETHERNET, 2);
    attach(sub);
    pktio_test_sent_clear();
    ptp_address_type peer{};
    ptp_address_set_mac(&peer, PEER_MAC);
    ASSERT_EQ(tessel_packet_send(sub, m.data(), 44, 1, &peer, nullptr, nullptr, nullptr, nullptr), 0u);
    ASSERT_EQ(pktio_test_sent().size(), 1u);
    s = pktio_test_sent()[0];
    EXPECT_EQ(std::memcmp(s.bytes.data(), PEER_MAC, 6), 0);
    EXPECT_EQ(rd16(s.bytes, 12), 0x88a8);
    EXPECT_EQ(rd16(s.bytes, 14), 0x0064);
    EXPECT_EQ(rd16(s.bytes, 16), 0x8100);
    EXPECT_EQ(rd16(s.bytes, 18), 0x00c8);
    EXPECT_EQ(rd16(s.bytes, 20), 0x88F7);
    EXPECT_EQ(s.cos, 6); // event CoS on a tagged interface
}

TEST_F(PacketTest, Ipv4MulticastHeaderAndChecksums)
{
    pkt_fake.platform_adjacency = true;
    set_encap(PTP_ENCAP_IPV4);
    const auto m = ptp_msg(44);
    auto s = send_one(m, 0);
    ASSERT_EQ(s.bytes.size(), 72u);
    const auto &b = s.bytes;
    EXPECT_EQ(b[0], 0x45);
    EXPECT_EQ(b[1], 10 * 4);
    EXPECT_EQ(rd16(b, 2), 72);
    EXPECT_EQ(b[8], 7);
    EXPECT_EQ(b[9], 17);
    EXPECT_EQ(ipv4_checksum(b.data(), 20), 0);
    EXPECT_EQ(std::memcmp(b.data() + 12, V4, 4), 0);
    EXPECT_EQ(std::memcmp(b.data() + 16, TESSEL_PACKET_IPV4_MCAST_ADDR, 4), 0);
    EXPECT_EQ(rd16(b, 20), 320);
    EXPECT_EQ(rd16(b, 22), 320);
    EXPECT_EQ(rd16(b, 24), 52);
    EXPECT_EQ(ipv4_ulp_checksum(17, b.data() + 12, b.data() + 16, b.data() + 20, 52), 0xFFFF);
    EXPECT_EQ(s.app_start, 28);
    EXPECT_EQ(s.current_length, 72u);
    EXPECT_EQ(s.vrf_id, 0x60000000u);
    EXPECT_EQ(s.cos, 3);
    EXPECT_EQ(s.direction, 1);
}

TEST_F(PacketTest, Ipv4TimestampOptions)
{
    pkt_fake.platform_adjacency = true;
    set_encap(PTP_ENCAP_IPV4);
    const auto m = ptp_msg(44);
    tessel_packet_ts_data_type insert{TESSEL_PACKET_TS_INSERT, 77, 40};
    auto s = send_one(m, 1, nullptr, &insert);
    EXPECT_EQ(rd16(s.bytes, 26), 0);
    EXPECT_EQ(rd16(s.bytes, 20), 319);
    EXPECT_EQ(s.ts_option, 1);
    EXPECT_EQ(s.ts_offset, 40u);
    EXPECT_EQ(s.packet_id, 0u);
    tessel_packet_ts_data_type ret{TESSEL_PACKET_TS_RETURNED, 77, 40};
    s = send_one(m, 1, nullptr, &ret);
    EXPECT_NE(rd16(s.bytes, 26), 0);
    EXPECT_EQ(ipv4_ulp_checksum(17, s.bytes.data() + 12, s.bytes.data() + 16, s.bytes.data() + 20, 52), 0xFFFF);
    EXPECT_EQ(s.packet_id, 77u);
    EXPECT_EQ(s.ts_offset, 0u);
}

TEST_F(PacketTest, Ipv4UnicastAdjacency)
{
    set_encap(PTP_ENCAP_IPV4);
    const auto m = ptp_msg(44);
    const auto dst = addr4(PEER_V4);
    pktio_test_sent_clear();
    EXPECT_EQ(tessel_packet_send(port, m.data(), 44, 0, &dst, nullptr, nullptr, nullptr, nullptr),
              PTP_ZERR2_NO_ADJACENCY);
    ptp_adjacency_type empty{};
    EXPECT_EQ(tessel_packet_send(port, m.data(), 44, 0, &dst, nullptr, nullptr, &empty, nullptr),
              PTP_ZERR2_NO_ADJACENCY);
    EXPECT_TRUE(pktio_test_sent().empty());

    ptp_adjacency_type adj{};
    adj.rewrite_str_len = 14;
    std::memcpy(adj.rewrite_str, PEER_MAC, 6);
    std::memcpy(adj.rewrite_str + 6, MAC, 6);
    adj.rewrite_str[12] = 0x08;
    auto s = send_one(m, 0, &dst, nullptr, &adj);
    ASSERT_EQ(s.bytes.size(), 14u + 72u);
    EXPECT_EQ(std::memcmp(s.bytes.data(), adj.rewrite_str, 14), 0);
    EXPECT_EQ(s.bytes[14], 0x45);
    EXPECT_EQ(s.app_start, 14 + 28);
    EXPECT_EQ(std::memcmp(s.bytes.data() + 14 + 16, PEER_V4, 4), 0);

    pkt_fake.platform_adjacency = true;
    s = send_one(m, 0, &dst, nullptr, nullptr);
    EXPECT_EQ(s.bytes.size(), 72u); // the platform puts the L2 header in front
}

TEST_F(PacketTest, Ipv6PaddingLengthsAndChecksum)
{
    set_encap(PTP_ENCAP_IPV6);
    const auto m = ptp_msg(64);
    const auto dst = addr6(PEER_V6);
    auto s = send_one(m, 1, &dst);
    const auto &b = s.bytes;
    ASSERT_EQ(b.size(), 114u);
    EXPECT_EQ(b[0] >> 4, 6);
    EXPECT_EQ(static_cast<uint8_t>((b[0] << 4) | (b[1] >> 4)), 46 * 4);
    EXPECT_EQ(rd16(b, 4), 74);
    EXPECT_EQ(b[7], 9);
    EXPECT_EQ(rd16(b, 44), 74);
    EXPECT_EQ(b[112], 0);
    EXPECT_EQ(b[113], 0);
    EXPECT_EQ(std::memcmp(b.data() + 8, V6, 16), 0);
    EXPECT_EQ(ipv6_ulp_checksum_heap(17, b.data() + 8, b.data() + 24, b.data() + 40, 74), 0xFFFF);
    EXPECT_EQ(s.app_start, 48);
    // Sent over the link, it arrives as a message the peer side can read.
}

TEST_F(PacketTest, NotAttachedSendsNothingAndFailuresAreReported)
{
    const auto m = ptp_msg(44);
    EXPECT_EQ(tessel_packet_send(port, m.data(), 44, 0, nullptr, nullptr, nullptr, nullptr, nullptr), 0u);
    EXPECT_TRUE(pktio_test_sent().empty());
    attach(port);
    // The packet-I/O send itself refused: a failure, never a success.
    pktio_test_fail(pktio_test_op::SPIO_SEND, PKTIO_ERR_IO);
    EXPECT_EQ(tessel_packet_send(port, m.data(), 44, 0, nullptr, nullptr, nullptr, nullptr, nullptr), PKTIO_ERR_IO);
    // A refused option frees the generated packet (the sanitizer sees a leak otherwise).
    pktio_test_fail(pktio_test_op::CTX_SET_OPTION, PKTIO_ERR_IO, 1, CTX_OPT_PACKET_ID);
    EXPECT_EQ(tessel_packet_send(port, m.data(), 44, 0, nullptr, nullptr, nullptr, nullptr, nullptr), PKTIO_ERR_IO);
    pktio_test_fail(pktio_test_op::EPI_GENERATE, PKTIO_ERR_NO_MEMORY);
    EXPECT_EQ(tessel_packet_send(port, m.data(), 44, 0, nullptr, nullptr, nullptr, nullptr, nullptr),
              PKTIO_ERR_NO_MEMORY);
    EXPECT_TRUE(pktio_test_sent().empty());
}

TEST_F(PacketTest, Ipv4BuildFailuresFreeTheContext)
{
    pkt_fake.platform_adjacency = true;
    set_encap(PTP_ENCAP_IPV4);
    const auto m = ptp_msg(44);
    pktio_test_fail(pktio_test_op::CTX_ALLOC, 0);
    EXPECT_EQ(tessel_packet_send(port, m.data(), 44, 0, nullptr, nullptr, nullptr, nullptr, nullptr), PTP_ZERR_NOMEM);
    pktio_test_fail(pktio_test_op::CTX_WRITE, 0); // short write
    EXPECT_EQ(tessel_packet_send(port, m.data(), 44, 0, nullptr, nullptr, nullptr, nullptr, nullptr),
              PTP_ZERR_BAD_PACKET);
    for (uint32_t opt : {CTX_OPT_CURRENT_LENGTH, CTX_OPT_OUT_IFHANDLE, CTX_OPT_APP_START, CTX_OPT_DIRECTION,
                         CTX_OPT_COS, CTX_OPT_PRIORITY, CTX_OPT_VRF_ID, CTX_OPT_TS_OPTION, CTX_OPT_TS_OFFSET}) {
        pktio_test_fail(pktio_test_op::CTX_SET_OPTION, PKTIO_ERR_IO, 1, opt);
        EXPECT_EQ(tessel_packet_send(port, m.data(), 44, 0, nullptr, nullptr, nullptr, nullptr, nullptr), PKTIO_ERR_IO)
            << opt;
    }
    EXPECT_TRUE(pktio_test_sent().empty());
}

TEST_F(PacketTest, FibDataRidesAlongAndNeverStopsASend)
{
    pkt_fake.platform_adjacency = true;
    set_encap(PTP_ENCAP_IPV4);
    const auto m = ptp_msg(44);
    const auto dst = addr4(PEER_V4);
    const uint8_t nh[5] = {1, 2, 3, 4, 5};
    tessel_fib_update_type fib{TESSEL_FIB_UPDATE_PRESENT, 5, nh};
    pktio_test_sent_clear();
    ASSERT_EQ(tessel_packet_send(port, m.data(), 44, 0, &dst, nullptr, nullptr, nullptr, &fib), 0u);
    ASSERT_EQ(pktio_test_sent().size(), 1u);
    EXPECT_EQ(pktio_test_sent()[0].fib_data, std::vector<uint8_t>(nh, nh + 5));
    // Too long for the FIB layer: a short write, and the packet still leaves.
    std::vector<uint8_t> big(CTX_FIB_DATA_MAX + 10, 7);
    tessel_fib_update_type too_big{TESSEL_FIB_UPDATE_PRESENT, static_cast<uint32_t>(big.size()), big.data()};
    pktio_test_sent_clear();
    ASSERT_EQ(tessel_packet_send(port, m.data(), 44, 0, &dst, nullptr, nullptr, nullptr, &too_big), 0u);
    ASSERT_EQ(pktio_test_sent().size(), 1u);
    EXPECT_EQ(pktio_test_sent()[0].fib_data.size(), CTX_FIB_DATA_MAX);
}

TEST_F(PacketTest, L2HeaderOfIpv4MulticastSessions)
{
    tessel_proto_idb_type *sub = make_port("Gi0/0/0/3.100", IFH2, PTP_ENCAP_IPV4, 1);
    attach(sub);
    uint8_t buf[TESSEL_PACKET_IPV4_L2_HDR_MAX];
    uint32_t len = 0;
    ASSERT_EQ(tessel_packet_ipv4_l2_header_build(sub, buf, &len), 0u);
    ASSERT_EQ(len, 18u);
    EXPECT_EQ(std::memcmp(buf, TESSEL_PACKET_IPV4_MCAST_MAC, 6), 0);
    EXPECT_EQ(std::memcmp(buf + 6, MAC, 6), 0);
    EXPECT_EQ(buf[12], 0x88);
    EXPECT_EQ(buf[13], 0xa8);
    EXPECT_EQ(buf[16], 0x08);
    EXPECT_EQ(buf[17], 0x00);
    // A block that names more tags than it holds: no tags, and the failure is raised.
    sub->ether_info_len = 8;
    dot1q_rewritten_tag_stack_type tags{};
    EXPECT_NE(tessel_io_vlan_tags_build(sub, &tags), 0u);
    EXPECT_EQ(tags.count, 0u);
    auto msgs = qor_errmsg_captured();
    ASSERT_FALSE(msgs.empty());
    EXPECT_EQ(msgs.back().mnemonic, "VLAN_TAG_GEN_FAILED");
    EXPECT_EQ(msgs.back().text, "Failed to generate VLAN tag stack for Gi0/0/0/3.100");
}

// ---- Receive ----------------------------------------------------------------------------------

std::vector<uint8_t> eth_frame(const std::vector<uint8_t> &payload, int tags)
{
    std::vector<uint8_t> f(PEER_MAC, PEER_MAC + 6);
    f.insert(f.end(), MAC, MAC + 6);
    for (int i = 0; i < tags; i++) {
        f.insert(f.end(), {0x81, 0x00, 0x00, static_cast<uint8_t>(i + 1)});
    }
    f.insert(f.end(), {0x88, 0xF7});
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

std::vector<uint8_t> ipv4_packet(const std::vector<uint8_t> &msg, const uint8_t *src, const uint8_t *dst)
{
    std::vector<uint8_t> p(28, 0);
    p[0] = 0x45;
    p[2] = static_cast<uint8_t>((28 + msg.size()) >> 8);
    p[3] = static_cast<uint8_t>(28 + msg.size());
    p[8] = 1;
    p[9] = 17;
    std::memcpy(p.data() + 12, src, 4);
    std::memcpy(p.data() + 16, dst, 4);
    const uint16_t c = ipv4_checksum(p.data(), 20);
    p[10] = static_cast<uint8_t>(c >> 8);
    p[11] = static_cast<uint8_t>(c);
    p[21] = p[23] = 0x40;
    p[20] = p[22] = 0x01;
    p[25] = static_cast<uint8_t>(8 + msg.size());
    p.insert(p.end(), msg.begin(), msg.end());
    return p;
}

std::vector<uint8_t> ipv6_packet(const std::vector<uint8_t> &msg, const uint8_t *src, const uint8_t *dst)
{
    std::vector<uint8_t> p(48, 0);
    ipv6_init_header(p.data(), 0, 0, static_cast<uint16_t>(8 + msg.size()), 17, 1, src, dst);
    p[40] = p[42] = 0x01;
    p[41] = p[43] = 0x40;
    p[45] = static_cast<uint8_t>(8 + msg.size());
    p.insert(p.end(), msg.begin(), msg.end());
    const uint16_t c = ipv6_ulp_checksum_heap(17, src, dst, p.data() + 40, 8 + msg.size());
    p[46] = static_cast<uint8_t>(c >> 8);
    p[47] = static_cast<uint8_t>(c);
    return p;
}

TEST_F(PacketTest, EthernetTagsUpToTwoAndNoMore)
{
    attach(port);
    const auto m = ptp_msg(64, 0, 0x0B);
    inject(SPIO_CONN_KIND_ETHERNET, eth_frame(m, 2));
    ASSERT_EQ(pkt_fake.rx.size(), 1u);
    EXPECT_EQ(pkt_fake.rx[0].msg, m);
    EXPECT_TRUE(pkt_fake.rx[0].has_ts);
    EXPECT_EQ(pkt_fake.rx[0].src.encap, PTP_ENCAP_ETHERNET);
    EXPECT_EQ(std::memcmp(pkt_fake.rx[0].src.value, MAC, 6), 0);
    EXPECT_FALSE(pkt_fake.rx[0].has_dst);
    inject(SPIO_CONN_KIND_ETHERNET, eth_frame(m, 3));
    EXPECT_EQ(pkt_fake.rx.size(), 1u);
    EXPECT_EQ(drops(), 0u);
}

TEST_F(PacketTest, EthernetFragmentedFrameIsCopiedOut)
{
    attach(port);
    const auto m = ptp_msg(64, 0, 0x0B);
    pktio_test_rx_type in;
    in.kind = SPIO_CONN_KIND_ETHERNET;
    in.ifhandle = IFH;
    in.bytes = eth_frame(m, 1);
    in.contiguous = 30;
    ASSERT_TRUE(pktio_test_inject(in));
    evm_run_until_idle(evm);
    ASSERT_EQ(pkt_fake.rx.size(), 1u);
    EXPECT_EQ(pkt_fake.rx[0].msg, m);
}

struct drop_case {
    const char *name;
    size_t payload;
    uint16_t msg_len;
    uint32_t port_encap;
    int reason; // -1: dropped uncounted
};

TEST_F(PacketTest, EthernetShortAndMisencapsulatedMessages)
{
    const drop_case cases[] = {
        {"payload shorter than a header", 33, 33, PTP_ENCAP_ETHERNET, -1},
        {"messageLength shorter than a header", 34, 20, PTP_ENCAP_ETHERNET, TESSEL_PACKET_DROP_TOO_SHORT},
        {"port of another encapsulation", 44, 44, PTP_ENCAP_IPV4, TESSEL_PACKET_DROP_INVALID_PACKET},
    };
    attach(port);
    for (const auto &c : cases) {
        pkt_fake_reset();
        tessel_stats_clear_node_packet_counters();
        port->config.encap = c.port_encap;
        inject(SPIO_CONN_KIND_ETHERNET, eth_frame(ptp_msg(c.payload, c.msg_len), 0));
        EXPECT_TRUE(pkt_fake.rx.empty()) << c.name;
        if (c.reason < 0) {
            EXPECT_EQ(drops(), 0u) << c.name;
        } else {
            EXPECT_EQ(drop_reason(c.reason), 1u) << c.name;
            EXPECT_EQ(pkt_fake.drop_class[TESSEL_PACKET_COUNTER_OTHER], 1u) << c.name;
        }
    }
}

TEST_F(PacketTest, OverlongMessageLengthIsBoundedByTheBytesReceived)
{
    attach(port);
    auto m = ptp_msg(44, 1400);
    inject(SPIO_CONN_KIND_ETHERNET, eth_frame(m, 0));
    ASSERT_EQ(pkt_fake.rx.size(), 1u); // the dispatcher drops it; nothing here reads past 44 bytes
    EXPECT_EQ(pkt_fake.rx[0].msg.size(), 44u);
}

TEST_F(PacketTest, Ipv4ChecksumAlwaysAndIpv6ChecksumWhenVerifying)
{
    set_encap(PTP_ENCAP_IPV4);
    const auto m = ptp_msg(44);
    auto good = ipv4_packet(m, PEER_V4, TESSEL_PACKET_IPV4_MCAST_ADDR);
    inject(SPIO_CONN_KIND_IPV4, good);
    ASSERT_EQ(pkt_fake.rx.size(), 1u);
    EXPECT_EQ(pkt_fake.rx[0].src.encap, PTP_ENCAP_IPV4);
    EXPECT_EQ(std::memcmp(pkt_fake.rx[0].dst.value, TESSEL_PACKET_IPV4_MCAST_ADDR, 4), 0);
    auto bad = good;
    bad[10] ^= 0xFF;
    inject(SPIO_CONN_KIND_IPV4, bad);
    EXPECT_EQ(pkt_fake.rx.size(), 1u);
    EXPECT_EQ(drop_reason(TESSEL_PACKET_DROP_IPV4_VERIFY_CHECKSUM), 1u);

    pkt_fake_reset();
    tessel_stats_clear_node_packet_counters();
    set_encap(PTP_ENCAP_IPV6);
    auto v6 = ipv6_packet(m, PEER_V6, TESSEL_PACKET_IPV6_MCAST_ADDR);
    v6[47] ^= 0xFF;
    inject(SPIO_CONN_KIND_IPV6, v6);
    EXPECT_EQ(pkt_fake.rx.size(), 1u); // not verifying: delivered
    pkt_fake.verify_checksum = true;
    inject(SPIO_CONN_KIND_IPV6, v6);
    EXPECT_EQ(pkt_fake.rx.size(), 1u);
    EXPECT_EQ(drop_reason(TESSEL_PACKET_DROP_VERIFY_CHECKSUM_FAILED), 1u);
    // A datagram longer than the first bytes of the network layer still verifies whole.
    v6 = ipv6_packet(ptp_msg(150), PEER_V6, TESSEL_PACKET_IPV6_MCAST_ADDR);
    inject(SPIO_CONN_KIND_IPV6, v6);
    EXPECT_EQ(pkt_fake.rx.size(), 2u);
}

TEST_F(PacketTest, Ipv4UnicastToAnotherPortsAddressGoesToThatPort)
{
    set_encap(PTP_ENCAP_IPV4);
    tessel_proto_idb_type *lo = make_port("Loopback0", IFH2, PTP_ENCAP_IPV4);
    const uint8_t lo_addr[4] = {192, 0, 2, 1};
    lo->ipv4_addr_list = static_cast<uint32_t *>(calloc(1, sizeof(uint32_t)));
    std::memcpy(&lo->ipv4_addr_list[0], lo_addr, 4);
    lo->ipv4_addr_count = 1;
    inject(SPIO_CONN_KIND_IPV4, ipv4_packet(ptp_msg(44), PEER_V4, lo_addr));
    ASSERT_EQ(pkt_fake.rx.size(), 1u);
    EXPECT_EQ(pkt_fake.rx[0].port, "Loopback0");
    const uint8_t nobody[4] = {192, 0, 2, 99};
    inject(SPIO_CONN_KIND_IPV4, ipv4_packet(ptp_msg(44), PEER_V4, nobody));
    EXPECT_EQ(pkt_fake.rx.size(), 1u);
    EXPECT_EQ(drops(), 0u);
}

TEST_F(PacketTest, ReturnedTimestampsAndNotifications)
{
    attach(port);
    pktio_test_rx_type in;
    in.kind = SPIO_CONN_KIND_ETHERNET;
    in.ifhandle = IFH;
    in.bytes = eth_frame(ptp_msg(44), 0);
    in.packet_id = 9;
    ASSERT_TRUE(pktio_test_inject(in));
    in.packet_id = 0;
    in.subtype = CTX_SUBTYPE_OFFLOAD_NOTIFICATION;
    in.bytes = {1, 2, 3};
    ASSERT_TRUE(pktio_test_inject(in));
    in.subtype = 5;
    ASSERT_TRUE(pktio_test_inject(in));
    evm_run_until_idle(evm);
    EXPECT_TRUE(pkt_fake.rx.empty());
    EXPECT_EQ(pkt_fake.returned_ids, std::vector<uint32_t>{9});
    ASSERT_EQ(pkt_fake.notifications.size(), 1u);
    EXPECT_EQ(pkt_fake.notifications[0], (std::vector<uint8_t>{1, 2, 3}));
}

// ---- Attachment -------------------------------------------------------------------------------

TEST_F(PacketTest, AttachDetachBatchesAndTheirEvents)
{
    tessel_packet_attach(port);
    EXPECT_EQ(tessel_packet_batch_size(PTP_ENCAP_ETHERNET, 1), 1u);
    tessel_packet_process_attach();
    EXPECT_EQ(port->is_spio_attached, 1);
    EXPECT_EQ(port->attached_encap, PTP_ENCAP_ETHERNET);
    EXPECT_EQ(port->attached_ifhandle, IFH);
    EXPECT_EQ(pkt_fake.calls.back(), "attach_event Gi0/0/0/1 A");
    // Detach then attach again before a flush: nothing is sent.
    const uint32_t calls = pktio_test_calls(SPIO_CONN_KIND_ETHERNET).attach_calls;
    tessel_packet_detach(port);
    tessel_packet_attach(port);
    tessel_packet_process_attach();
    EXPECT_EQ(pktio_test_calls(SPIO_CONN_KIND_ETHERNET).attach_calls, calls);
    // A changed encapsulation moves the port in one flush: detach under the old, attach under the new.
    port->config.encap = PTP_ENCAP_IPV4;
    tessel_packet_detach(port);
    tessel_packet_attach(port);
    tessel_packet_process_attach();
    EXPECT_EQ(port->attached_encap, PTP_ENCAP_IPV4);
    EXPECT_TRUE(pktio_test_attached(SPIO_CONN_KIND_ETHERNET).empty());
    EXPECT_EQ(pktio_test_attached(SPIO_CONN_KIND_IPV4), std::vector<uint32_t>{IFH});
    EXPECT_NE(std::find(pkt_fake.calls.begin(), pkt_fake.calls.end(), "sessions_cleanup 256"), pkt_fake.calls.end());
}

TEST_F(PacketTest, ChangedHandleDetachesTheOldOne)
{
    attach(port);
    tessel_packet_detach(port);
    tessel_proto_db_remove_ifhandle(port);
    tessel_proto_db_add_ifhandle(IFH2, port);
    tessel_packet_attach(port);
    tessel_packet_process_attach();
    EXPECT_EQ(port->attached_ifhandle, IFH2);
    EXPECT_EQ(pktio_test_attached(SPIO_CONN_KIND_ETHERNET), std::vector<uint32_t>{IFH2});
    // Queued for the new handle while still attached under the old one, then withdrawn.
    tessel_proto_db_remove_ifhandle(port);
    tessel_proto_db_add_ifhandle(IFH, port);
    tessel_packet_attach(port);
    tessel_packet_detach(port);
    tessel_packet_process_attach();
    EXPECT_EQ(port->is_spio_attached, 0);
    EXPECT_TRUE(pktio_test_attached(SPIO_CONN_KIND_ETHERNET).empty());
}

TEST_F(PacketTest, AttachFailuresLeaveThePortDetachedAndAskForResync)
{
    pktio_test_fail(pktio_test_op::SPIO_ATTACH_STATUS, PKTIO_ERR_IO, 1, IFH);
    tessel_packet_attach(port);
    tessel_packet_process_attach();
    EXPECT_EQ(port->is_spio_attached, 0);
    EXPECT_EQ(pkt_fake.calls.back(), "attach_event Gi0/0/0/1 N");
    EXPECT_NE(std::find(pkt_fake.calls.begin(), pkt_fake.calls.end(), "resync_timers_start"), pkt_fake.calls.end());
    auto msgs = qor_errmsg_captured();
    ASSERT_FALSE(msgs.empty());
    EXPECT_EQ(msgs.back().mnemonic, "SPIO");
    pktio_test_fail(pktio_test_op::SPIO_ATTACH, PKTIO_ERR_IO);
    tessel_packet_attach(port);
    tessel_packet_process_attach();
    EXPECT_EQ(port->is_spio_attached, 0);
    EXPECT_EQ(tessel_packet_batch_size(PTP_ENCAP_ETHERNET, 1), 0u);
}

TEST_F(PacketTest, ResyncReattachesWantedPortsAndDropsPendingDetaches)
{
    tessel_proto_idb_type *other = make_port("Gi0/0/0/3", IFH2, PTP_ENCAP_ETHERNET);
    attach(port);
    attach(other);
    tessel_packet_detach(other);
    EXPECT_EQ(tessel_packet_batch_size(PTP_ENCAP_ETHERNET, 0), 1u);
    pkt_fake.calls.clear();
    pktio_test_request_resync(SPIO_CONN_KIND_ETHERNET);
    evm_run_until_idle(evm);
    EXPECT_EQ(tessel_packet_batch_size(PTP_ENCAP_ETHERNET, 0), 0u);
    EXPECT_EQ(port->is_spio_attached, 1);
    EXPECT_EQ(other->is_spio_attached, 0);
    EXPECT_EQ(pktio_test_attached(SPIO_CONN_KIND_ETHERNET), std::vector<uint32_t>{IFH});
    const auto c = pktio_test_calls(SPIO_CONN_KIND_ETHERNET);
    EXPECT_EQ(c.resync_starts, 1u);
    EXPECT_EQ(c.resync_ends, 1u);
    EXPECT_NE(std::find(pkt_fake.calls.begin(), pkt_fake.calls.end(), "sessions_resync 1"), pkt_fake.calls.end());
    EXPECT_NE(std::find(pkt_fake.calls.begin(), pkt_fake.calls.end(), "resync_request 1"), pkt_fake.calls.end());
}

TEST_F(PacketTest, InitFailuresUndoWhatWasOpened)
{
    tessel_packet_cleanup();
    const struct {
        pktio_test_op op;
        uint32_t option;
        const char *prefix;
    } cases[] = {
        {pktio_test_op::SPIO_INIT, SPIO_CONN_KIND_IPV6, "Failed to initialize SPIO connection: "},
        {pktio_test_op::CTX_API_INIT, 0, "Failed to initialize ctx library: "},
        {pktio_test_op::EPI_INIT, 0, "Failed to initialize EPI: "},
    };
    for (const auto &c : cases) {
        qor_errmsg_capture_clear();
        pktio_test_fail(c.op, PKTIO_ERR_IO, 1, c.option);
        EXPECT_EQ(tessel_packet_init(evm), PKTIO_ERR_IO);
        EXPECT_EQ(tessel_io_encap_to_spio_conn(PTP_ENCAP_ETHERNET), nullptr);
        auto msgs = qor_errmsg_captured();
        ASSERT_EQ(msgs.size(), 1u);
        EXPECT_EQ(msgs[0].text, std::string("Failed to initialize: ") + c.prefix + zerr_strerror(PKTIO_ERR_IO));
    }
    ASSERT_EQ(tessel_packet_init(evm), 0u);
}

// ---- Trace records ----------------------------------------------------------------------------

// The packet and unique-event buffers of the agent, open for one test.
struct pkt_trace_buffers {
    ptp_jotlog_buffer_type buffers[2] = {tessel_trace_buffers[TESSEL_TRACE_BUFFER_PKT],
                                         tessel_trace_buffers[TESSEL_TRACE_BUFFER_UNQ]};
    std::string run_dir;

    pkt_trace_buffers()
    {
        run_dir = jotlog_test_run_dir_create("tessel_pkt_test");
        EXPECT_FALSE(run_dir.empty());
        EXPECT_EQ(ptp_jotlog_init(buffers, 2), 0u);
        tessel_packet_trace_set(buffers[0].handle);
        ptp_jotlog_ctx_set({}, {}, buffers[1]);
    }
    ~pkt_trace_buffers()
    {
        tessel_packet_trace_set(nullptr);
        ptp_jotlog_ctx_set({}, {}, {});
        ptp_jotlog_close(buffers, 2);
        jotlog_test_run_dir_remove(run_dir);
    }
    // Each record of a buffer as "0x<id>(<arg>,...)".
    static std::vector<std::string> lines(const char *buffer) { return jotlog_test_records(buffer); }
};

uint32_t be32(const std::vector<uint8_t> &b, size_t at)
{
    return static_cast<uint32_t>(b[at]) << 24 | static_cast<uint32_t>(b[at + 1]) << 16 |
           static_cast<uint32_t>(b[at + 2]) << 8 | b[at + 3];
}

// Seven (or four) words of the message from the given byte, as the dump records them.
std::string words(const std::vector<uint8_t> &m, size_t at, size_t n)
{
    std::string out;
    for (size_t i = 0; i < n; i++) {
        out += (i > 0 ? "," : "") + std::to_string(be32(m, at + 4 * i));
    }
    return out;
}

TEST_F(PacketTest, ReceivedMessageIsDumpedToThePacketBuffer)
{
    attach(port);
    pkt_trace_buffers trace;
    const auto m = ptp_msg(44);
    inject(SPIO_CONN_KIND_ETHERNET, eth_frame(m, 0));
    ASSERT_EQ(pkt_fake.rx.size(), 1u);
    // Interface, in, length, the sender's MAC in trace form (an Ethernet address in fourth place
    // in the id), then bytes 0-27 and 28-55 (44 bytes, zero-filled); bytes 56-71 only from 57.
    EXPECT_EQ(pkt_trace_buffers::lines("ptp/tessel/pkt"),
              (std::vector<std::string>{"0x20600100734(256,0,44," + std::to_string(be32({2, 0, 0, 0}, 0)) + ",1,1)",
                                        "0x700100735(" + words(m, 0, 7) + ")",
                                        "0x700100736(" + words(m, 28, 4) + ",0,0,0)"}));
    EXPECT_TRUE(pkt_trace_buffers::lines("ptp/tessel/unq").empty());
    // What the display tool prints for them.
    EXPECT_STREQ(PTP_TRACE_TESSEL_PKT_DUMP.format, "%s len %lu %s %s");
    EXPECT_STREQ(PTP_TRACE_TESSEL_PKT_DUMP_BYTES_0.format, "%08lx%08lx%08lx%08lx%08lx%08lx%08lx");
}

TEST_F(PacketTest, DropsAreTracedWithTheirOwnPoints)
{
    pkt_trace_buffers trace;
    attach(port);
    port->config.encap = PTP_ENCAP_IPV4; // an Ethernet message for an IPv4 port
    inject(SPIO_CONN_KIND_ETHERNET, eth_frame(ptp_msg(44), 0));
    set_encap(PTP_ENCAP_IPV4);
    auto bad = ipv4_packet(ptp_msg(44), PEER_V4, TESSEL_PACKET_IPV4_MCAST_ADDR);
    const uint32_t stored = static_cast<uint32_t>(bad[10] ^ 0xFF) << 8 | bad[11];
    const uint32_t calculated = static_cast<uint32_t>(bad[10]) << 8 | bad[11];
    bad[10] ^= 0xFF;
    inject(SPIO_CONN_KIND_IPV4, bad);
    EXPECT_EQ(pkt_fake.rx.size(), 0u);
    EXPECT_EQ(pkt_trace_buffers::lines("ptp/tessel/unq"),
              (std::vector<std::string>{"0x30010072c(256,1,2)", "0x300100740(256," + std::to_string(stored) + "," +
                                                                    std::to_string(calculated) + ")"}));
    struct text_case {
        uint64_t id;
        const char *text;
    } texts[] = {
        {0x30010072c, "[ERROR] Incoming packet has incorrect encap - is %s, should be %s"},
        {0x300100740, "IPv4 packet received with checksum: %lx and calculated checksum: %lx"},
        {0x300100739, "Incoming packet error, len %lu, encap %s (%lu), subtype %lu"},
    };
    for (const text_case &c : texts) {
        const ptp_trace_point_type *row = ptp_trace_point_find(c.id);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(ptp_trace_point_id(*row), c.id);
        EXPECT_STREQ(row->format, c.text);
    }
    // Each drop is dumped: the context's length, encapsulation and subtype, then 84 bytes.
    const auto pkt = pkt_trace_buffers::lines("ptp/tessel/pkt");
    const auto dumps =
        std::count_if(pkt.begin(), pkt.end(), [](const std::string &l) { return l.rfind("0x300100739(", 0) == 0; });
    EXPECT_EQ(dumps, 2);
    for (const char *cont : {"0x70010073a(", "0x70010073b(", "0x70010073c("}) {
        EXPECT_EQ(std::count_if(pkt.begin(), pkt.end(), [cont](const std::string &l) { return l.rfind(cont, 0) == 0; }),
                  2)
            << cont;
    }
}

TEST_F(PacketTest, TransmitFailuresNameTheFailedStep)
{
    set_encap(PTP_ENCAP_IPV4);
    pkt_trace_buffers trace;
    pktio_test_fail(pktio_test_op::CTX_SET_OPTION, PKTIO_ERR_IO, 1, CTX_OPT_VRF_ID);
    const auto m = ptp_msg(44);
    EXPECT_NE(tessel_packet_send(port, m.data(), 44, 1, nullptr, nullptr, nullptr, nullptr, nullptr), 0u);
    // Interface, the VRF it tried, the code.
    EXPECT_EQ(pkt_trace_buffers::lines("ptp/tessel/unq"),
              (std::vector<std::string>{"0x300100716(256," + std::to_string(port->ipv4_vrf) + "," +
                                        std::to_string(PKTIO_ERR_IO) + ")"}));
    EXPECT_STREQ(PTP_TRACE_TESSEL_PKT_SET_VRF_FAILED.format, "Failed to set VRF ID to %lu in packet: %s");
}

// ---- Lengths the platform reports -------------------------------------------------------------

TEST_F(PacketTest, ClaimedLengthsBeyondTheBytesAreDroppedBeforeAnythingIsSizedByThem)
{
    attach(port);
    const auto frame = eth_frame(ptp_msg(64, 0, 0x0B), 0);
    const struct {
        const char *name;
        uint8_t subtype;
        size_t contiguous;
        int64_t claimed;
    } cases[] = {
        {"frame in pieces, length a little past the bytes", CTX_SUBTYPE_PACKET, 30,
         static_cast<int64_t>(frame.size()) + 10},
        {"frame in pieces, length near 4 GB", CTX_SUBTYPE_PACKET, 30, 0xFFFFFFF0},
        {"notification, length near 4 GB", CTX_SUBTYPE_OFFLOAD_NOTIFICATION, SIZE_MAX, 0xFFFFFFF0},
    };
    for (const auto &c : cases) {
        pkt_fake_reset();
        tessel_stats_clear_node_packet_counters();
        pktio_test_rx_type in;
        in.kind = SPIO_CONN_KIND_ETHERNET;
        in.ifhandle = IFH;
        in.bytes = frame;
        in.subtype = c.subtype;
        in.contiguous = c.contiguous;
        in.current_length = c.claimed;
        ASSERT_TRUE(pktio_test_inject(in));
        evm_run_until_idle(evm);
        EXPECT_TRUE(pkt_fake.rx.empty()) << c.name;
        EXPECT_TRUE(pkt_fake.notifications.empty()) << c.name;
        EXPECT_EQ(drops(), 0u) << c.name;
    }
}

TEST_F(PacketTest, Ipv6UnsetPrimaryAddressIsNotThePortsOwn)
{
    set_encap(PTP_ENCAP_IPV6);
    std::memset(port->ipv6_addr, 0, sizeof port->ipv6_addr);
    const uint8_t unspecified[16] = {};
    inject(SPIO_CONN_KIND_IPV6, ipv6_packet(ptp_msg(44), PEER_V6, unspecified));
    EXPECT_TRUE(pkt_fake.rx.empty());
    inject(SPIO_CONN_KIND_IPV6, ipv6_packet(ptp_msg(44), PEER_V6, TESSEL_PACKET_IPV6_MCAST_ADDR));
    EXPECT_EQ(pkt_fake.rx.size(), 1u);
}

// ---- Attachment across encapsulation changes, resyncs and reused names ------------------------

TEST_F(PacketTest, QueuedAttachFollowsAChangedEncapsulation)
{
    tessel_packet_attach(port); // queued under Ethernet, not yet sent
    port->config.encap = PTP_ENCAP_IPV4;
    tessel_packet_detach(port);
    tessel_packet_attach(port);
    EXPECT_EQ(tessel_packet_batch_size(PTP_ENCAP_ETHERNET, 1), 0u);
    tessel_packet_process_attach();
    EXPECT_EQ(port->attached_encap, PTP_ENCAP_IPV4);
    EXPECT_TRUE(pktio_test_attached(SPIO_CONN_KIND_ETHERNET).empty());
    EXPECT_EQ(pktio_test_attached(SPIO_CONN_KIND_IPV4), std::vector<uint32_t>{IFH});
}

TEST_F(PacketTest, OldDetachAfterAResyncLeavesTheNewAttachment)
{
    attach(port);
    port->config.encap = PTP_ENCAP_IPV4;
    tessel_packet_detach(port);
    tessel_packet_attach(port);
    // The IPv4 connection resyncs before the flush and attaches the port there.
    pktio_test_request_resync(SPIO_CONN_KIND_IPV4);
    evm_run_until_idle(evm);
    ASSERT_EQ(port->attached_encap, PTP_ENCAP_IPV4);
    tessel_packet_process_attach(); // the Ethernet detach still goes out
    EXPECT_EQ(port->is_spio_attached, 1);
    EXPECT_EQ(port->attached_encap, PTP_ENCAP_IPV4);
    EXPECT_EQ(port->attached_ifhandle, IFH);
    EXPECT_EQ(pkt_fake.calls.back(), "attach_event Gi0/0/0/1 A");
    EXPECT_TRUE(pktio_test_attached(SPIO_CONN_KIND_ETHERNET).empty());
    EXPECT_EQ(pktio_test_attached(SPIO_CONN_KIND_IPV4), std::vector<uint32_t>{IFH});
}

TEST_F(PacketTest, NameReusedBeforeTheFlushDetachesTheOldAndAttachesTheNew)
{
    attach(port);
    tessel_packet_detach(port);
    ports.erase(std::find(ports.begin(), ports.end(), port));
    tessel_proto_db_delete(port);
    tessel_proto_idb_type *again = make_port("Gi0/0/0/1", IFH2, PTP_ENCAP_ETHERNET);
    tessel_packet_attach(again);
    tessel_packet_process_attach();
    EXPECT_EQ(again->is_spio_attached, 1);
    EXPECT_EQ(again->attached_ifhandle, IFH2);
    EXPECT_EQ(pktio_test_attached(SPIO_CONN_KIND_ETHERNET), std::vector<uint32_t>{IFH2});
}

// ---- Debug lines of the receive drops ---------------------------------------------------------

TEST_F(PacketTest, ReceiveDropsPrintTheirDebugLines)
{
    // The agent's areas (the modules under test print on theirs); only "packet" is switched on.
    static debug_event_type table[TESSEL_DEBUG_AREA_COUNT];
    ASSERT_EQ(ptp_debug_register(evm, table, tessel_debug_areas, TESSEL_DEBUG_AREA_COUNT, nullptr), 0u);
    ASSERT_EQ(debug_set_area("/debug/ptp", "packet", nullptr), 0u);
    attach(port);
    auto bad_v4 = ipv4_packet(ptp_msg(44), PEER_V4, TESSEL_PACKET_IPV4_MCAST_ADDR);
    const uint16_t good_sum = rd16(bad_v4, 10);
    bad_v4[10] ^= 0xFF;
    const uint8_t nobody[4] = {192, 0, 2, 99};
    char v4_line[160];
    std::snprintf(
        v4_line, sizeof v4_line,
        "PACKET: [ERROR] Gi0/0/0/1: Incoming packet has bad IPv4 header checksum 0x%4.4x, expected 0x%4.4x - dropping",
        static_cast<unsigned>(good_sum ^ 0xFF00), static_cast<unsigned>(good_sum));
    const struct {
        uint32_t port_encap;
        uint32_t kind;
        std::vector<uint8_t> bytes;
        std::string line;
    } cases[] = {
        {PTP_ENCAP_ETHERNET, SPIO_CONN_KIND_ETHERNET, eth_frame(ptp_msg(33), 0),
         "PACKET: [ERROR] Incoming packet too short - only 33 bytes"},
        {PTP_ENCAP_ETHERNET, SPIO_CONN_KIND_ETHERNET, eth_frame(ptp_msg(34, 20), 0),
         "PACKET: [ERROR] Gi0/0/0/1: Received message of length 20, shorter than the minimum length of 34 - dropping"},
        {PTP_ENCAP_IPV4, SPIO_CONN_KIND_ETHERNET, eth_frame(ptp_msg(44), 0),
         "PACKET: [ERROR] Gi0/0/0/1: Incoming packet has incorrect encap - is Ethernet, should be IPv4"},
        {PTP_ENCAP_IPV4, SPIO_CONN_KIND_ETHERNET, eth_frame(ptp_msg(44), 3),
         "PACKET: [ERROR] Unable to obtain payload from EPI: " + std::string(zerr_strerror(PKTIO_ERR_NOT_FOUND))},
        {PTP_ENCAP_IPV4, SPIO_CONN_KIND_IPV4, ipv4_packet(ptp_msg(44), PEER_V4, nobody),
         "PACKET: [ERROR] Packet received on unknown interface, dropping on ifh: 256"},
        {PTP_ENCAP_IPV4, SPIO_CONN_KIND_IPV4, bad_v4, v4_line},
    };
    for (const auto &c : cases) {
        if (c.kind != SPIO_CONN_KIND_ETHERNET && port->attached_encap != PTP_ENCAP_IPV4) {
            set_encap(PTP_ENCAP_IPV4);
        }
        port->config.encap = c.port_encap;
        debug_capture_clear();
        inject(c.kind, c.bytes);
        const auto lines = debug_captured();
        EXPECT_NE(std::find(lines.begin(), lines.end(), c.line), lines.end()) << c.line;
        // Every drop also shows the bytes that came in.
        EXPECT_EQ(
            std::count_if(lines.begin(), lines.end(),
                          [](const std::string &l) { return l.rfind("PACKET: Incoming packet error, len ", 0) == 0; }),
            1)
            << c.line;
    }
    EXPECT_TRUE(pkt_fake.rx.empty());
    debug_clear_area("/debug/ptp", "packet");
    ptp_debug_cleanup();
}

} // namespace

// Under the address sanitizer, a buffer sized by a claimed length of gigabytes ends the test
// instead of passing slowly.
extern "C" const char *__asan_default_options()
{
    return "max_allocation_size_mb=256";
}
