// Offload sessions, their data records, the plugin's notifications and the statistics requests,
// on the real packet-I/O service (recording offload calls) and virtual time.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "eth_encap.h"
#include "evm.h"
#include "evm_test.h"
#include "pktio_test.h"
#include "plat_clock_test.h"
#include "ptp_address.h"
#include "ptp_timer.h"
#include "ptp_zerr_codes.h"
#include "qor_log.h"
#include "shmwin.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_types.h"
#include "tessel_offload.h"
#include "tessel_offload_test_fake.h"
#include "tessel_packet.h"
#include "tessel_packet_test_fake.h"
#include "tessel_proto_db.h"
#include "tessel_stats.h"

namespace {

constexpr uint32_t IFH = 0x100;
constexpr uint32_t IFH2 = 0x300;
constexpr uint32_t IFH3 = 0x500;
const uint8_t MAC[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
const uint8_t MCAST_MAC[6] = {0x01, 0x1b, 0x19, 0x00, 0x00, 0x00};
const uint8_t V4[4] = {10, 0, 0, 1};
const uint8_t V6[16] = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
const uint8_t PEER_V4[4] = {10, 0, 0, 2};
const uint8_t V6_MCAST[16] = {0xff, 0x0e, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x81};

uint32_t kind_of(uint32_t encap)
{
    return encap == PTP_ENCAP_ETHERNET ? SPIO_CONN_KIND_ETHERNET
           : encap == PTP_ENCAP_IPV4   ? SPIO_CONN_KIND_IPV4
                                       : SPIO_CONN_KIND_IPV6;
}

std::vector<uint8_t> be(uint64_t v, size_t n)
{
    std::vector<uint8_t> b(n);
    for (size_t i = 0; i < n; i++) {
        b[i] = static_cast<uint8_t>(v >> (8 * (n - 1 - i)));
    }
    return b;
}
void put(std::vector<uint8_t> &b, size_t at, const std::vector<uint8_t> &v)
{
    if (b.size() < at + v.size()) {
        b.resize(at + v.size());
    }
    std::copy(v.begin(), v.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
}

class OffloadTest : public testing::Test {
protected:
    event_mgr_type *evm = nullptr;
    std::vector<tessel_proto_idb_type *> ports;

    static void SetUpTestSuite()
    {
        static const std::string prefix = "tessel_offload_test." + std::to_string(getpid()) + ".";
        shmwin_test_set_prefix(prefix.c_str());
        shmwin_test_unlink(TESSEL_STATS_SHMWIN_NAME);
        ASSERT_EQ(tessel_stats_init(), 0u);
    }
    static void TearDownTestSuite()
    {
        tessel_stats_close();
        shmwin_test_unlink(TESSEL_STATS_SHMWIN_NAME);
    }

    void SetUp() override
    {
        plat_clock_use_virtual();
        pkt_fake_reset();
        offload_fake_reset();
        tessel_stats_clear_node_packet_counters();
        pktio_test_reset();
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();
        ptp_clock_type &gm = offload_fake.advertised;
        gm.clock_id = 0xAABBCCDDEEFF0011ull;
        gm.priority1 = 128;
        gm.priority2 = 129;
        gm.accuracy = 0x21;
        gm.clock_class = 6;
        gm.offset_log_variance = 0x4E5D;
        gm.steps_removed = 1;
        gm.time_source = 0x20;
        gm.utc_offset = 37;
        gm.utc_offset_valid = 1;
        gm.time_traceable = 1;
        gm.timescale = PTP_TIMESCALE_PTP;
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_EQ(ptp_timer_init(evm, 16, 32, nullptr, nullptr, 9, nullptr), 0u);
        ASSERT_EQ(pktio_test_intf_add("Gi0/0/0/1", IFH, MAC), 0u);
        ASSERT_EQ(pktio_test_intf_add("Gi0/0/0/2", IFH2, MAC), 0u);
        ASSERT_EQ(pktio_test_intf_add("Gi0/0/0/3", IFH3, MAC), 0u);
        ASSERT_EQ(tessel_proto_db_init(), 0u);
        ASSERT_EQ(tessel_packet_init(evm), 0u);
        ASSERT_EQ(tessel_offload_init(evm), 0u);
    }
    void TearDown() override
    {
        tessel_offload_shutdown();
        tessel_packet_cleanup();
        for (auto *p : ports) {
            tessel_proto_db_delete(p);
        }
        tessel_proto_db_cleanup();
        ptp_timer_shutdown();
        event_manager_destroy(evm);
        pktio_test_reset();
        plat_clock_use_real();
    }

    // A ready port in Master on a multicast transport, attached in its encapsulation.
    tessel_proto_idb_type *make_port(const char *name, uint32_t ifh, uint32_t encap, uint32_t tags = 0)
    {
        tessel_proto_idb_type *p = nullptr;
        EXPECT_EQ(tessel_proto_db_create(name, &p), 0u);
        ports.push_back(p);
        tessel_proto_db_add_ifhandle(ifh, p);
        const uint32_t stack[2] = {0x88a80064, 0x810000c8};
        p->ether_info_len = eth_encap_attr_build(MAC, stack, tags, p->ether_info, sizeof p->ether_info);
        p->if_type = tags > 0 ? TESSEL_PACKET_IF_TYPE_TAGGED : 1;
        p->port_num = 7;
        p->config.encap = encap;
        p->config.transport = PTP_TRANSPORT_MULTICAST;
        p->config.announce_interval = 1;
        p->config.sync_interval = -3;
        p->config.delay_req_interval = -2;
        p->config.event_cos = 6;
        p->config.general_cos = 3;
        p->config.event_dscp = 46;
        p->config.general_dscp = 10;
        p->config.ipv4_ttl = 7;
        p->config.ipv6_hop_limit = 9;
        p->config.source_ip.address = 0xFFFFFFFFu;
        p->config.multicast_address.encap = PTP_ENCAP_ETHERNET;
        std::memcpy(p->config.multicast_address.value, MCAST_MAC, 6);
        std::memcpy(&p->ipv4_addr, V4, 4);
        p->ipv4_addr = static_cast<uint32_t>(V4[0]) << 24 | V4[1] << 16 | V4[2] << 8 | V4[3];
        std::memcpy(p->ipv6_addr, V6, 16);
        p->ipv4_vrf = 0x60000000;
        p->flags |= TESSEL_PROTO_IDB_PORT_MGR_READY;
        p->fsm.is_sending_multicast_announce = 1;
        p->fsm.is_master_drrm_running = 1;
        tessel_packet_attach(p);
        tessel_packet_process_attach();
        EXPECT_EQ(p->is_spio_attached, 1);
        return p;
    }
    std::vector<pktio_test_session_type> sessions(uint32_t encap) { return pktio_test_sessions(kind_of(encap)); }
};

// ---- Session data ------------------------------------------------------------------------------

TEST_F(OffloadTest, EthernetMasterRecordByteForByte)
{
    tessel_proto_idb_type *p = make_port("Gi0/0/0/1", IFH, PTP_ENCAP_ETHERNET);
    tessel_offload_if_session_update(p);
    ASSERT_EQ(plat_clock_advance_ms(TESSEL_OFFLOAD_BATCH_MS), 0u);
    auto s = sessions(PTP_ENCAP_ETHERNET);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].ifhandle, IFH);
    EXPECT_EQ(s[0].key, (std::vector<uint8_t>{1, 1, 0x01, 0x1b, 0x19, 0x00, 0x00, 0x00}));

    std::vector<uint8_t> want(64, 0);
    put(want, 0, be(0x0011223344556677ull, 8)); // local clock
    put(want, 8, be(7, 2));                     // port number
    put(want, 10, {24, 6, 3});                  // domain, event COS, general COS
    put(want, 16, be(0xAABBCCDDEEFF0011ull, 8));
    put(want, 24, {0x07, 128, 129, 0x21, 6, 1, 0xFD, 0x20}); // flags, p1, p2, accuracy, class, intervals, source
    put(want, 32, be(37, 2));
    put(want, 34, be(0x4E5D, 2));
    put(want, 36, be(1, 2));
    put(want, 38, be(0x0004 | 0x0008 | 0x0010, 2)); // UTC offset valid, PTP timescale, time traceable
    want[40] = 0x02;                                // two-step
    want[42] = 0x00;                                // Delay-Resp on a multicast port
    want[44] = 0xFE;                                // log Delay-Resp interval -2
    const uint32_t no_tags = 0;
    std::memcpy(&want[48], &no_tags, 4);
    put(want, 52, std::vector<uint8_t>(MAC, MAC + 6));
    EXPECT_EQ(s[0].data, want);

    tessel_offload_session_state_type st{};
    tessel_offload_if_session_state_get(p, &st);
    EXPECT_EQ(st.session_exists, 1u);
    EXPECT_EQ(st.on_update_list, 0u);
}

TEST_F(OffloadTest, RecordSizesAndL2HeadersPerEncapsulation)
{
    struct {
        uint32_t encap;
        uint32_t tags;
        bool platform_adjacency;
        size_t size;
        std::vector<uint8_t> l2; // IP sessions: the L2 header the record carries
    } cases[] = {
        {PTP_ENCAP_ETHERNET, 2, false, 72, {}},
        {PTP_ENCAP_IPV4,
         1,
         false,
         82,
         {0x01, 0x00, 0x5e, 0x00, 0x01, 0x81, 0x02, 0, 0, 0, 0, 1, 0x88, 0xa8, 0x00, 0x64, 0x08, 0x00}},
        {PTP_ENCAP_IPV4, 0, true, 64, {}},
        // IPv6 multicast carries its own group MAC and EtherType.
        {PTP_ENCAP_IPV6, 0, false, 94, {0x33, 0x33, 0x00, 0x00, 0x01, 0x81, 0x02, 0, 0, 0, 0, 1, 0x86, 0xdd}},
        {PTP_ENCAP_IPV6, 0, true, 80, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "encap " << c.encap << " tags " << c.tags);
        pkt_fake.platform_adjacency = c.platform_adjacency;
        tessel_proto_idb_type *p = make_port("Gi0/0/0/1", IFH, c.encap, c.tags);
        tessel_offload_if_session_update(p);
        ASSERT_EQ(plat_clock_advance_ms(TESSEL_OFFLOAD_BATCH_MS), 0u);
        auto s = sessions(c.encap);
        ASSERT_EQ(s.size(), 1u);
        EXPECT_EQ(s[0].data.size(), c.size);
        if (c.encap != PTP_ENCAP_ETHERNET) {
            const size_t at = c.encap == PTP_ENCAP_IPV4 ? 60 : 72;
            uint16_t l2_len = 0;
            std::memcpy(&l2_len, &s[0].data[at], 2);
            ASSERT_EQ(l2_len, c.l2.size());
            EXPECT_EQ(std::vector<uint8_t>(s[0].data.begin() + at + 2, s[0].data.begin() + at + 2 + l2_len), c.l2);
        }
        // The plugin's create result finds the session again by its key, IPv6 (ff0e::181) included.
        tessel_offload_session_state_type st{};
        tessel_offload_if_session_state_get(p, &st);
        EXPECT_EQ(st.session_exists, 1u);
        tessel_offload_if_sessions_cleanup(IFH);
        tessel_packet_detach(p);
        tessel_packet_process_attach();
        tessel_proto_db_delete(p);
        ports.clear();
        pktio_test_reset();
        ASSERT_EQ(pktio_test_intf_add("Gi0/0/0/1", IFH, MAC), 0u);
    }
}

TEST_F(OffloadTest, UnderProfileOneEveryRecordCarriesSourcePortOne)
{
    offload_fake.profile = 1;
    tessel_proto_idb_type *p = make_port("Gi0/0/0/1", IFH, PTP_ENCAP_IPV4);
    tessel_offload_if_session_update(p);
    ASSERT_EQ(plat_clock_advance_ms(TESSEL_OFFLOAD_BATCH_MS), 0u);
    auto s = sessions(PTP_ENCAP_IPV4);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].data[8], 0);
    EXPECT_EQ(s[0].data[9], 1);
}

// ---- Batching ----------------------------------------------------------------------------------

TEST_F(OffloadTest, ChangesWithinTheBatchIntervalMakeOneRequestDeletesAskForTheLastCounts)
{
    tessel_proto_idb_type *a = make_port("Gi0/0/0/1", IFH, PTP_ENCAP_IPV4);
    tessel_proto_idb_type *b = make_port("Gi0/0/0/2", IFH2, PTP_ENCAP_IPV4);
    tessel_offload_if_session_update(a);
    ASSERT_EQ(plat_clock_advance_ms(60), 0u);
    tessel_offload_if_session_update(b);
    ASSERT_EQ(plat_clock_advance_ms(60), 0u);
    tessel_offload_if_session_update(a);
    ASSERT_EQ(plat_clock_advance_ms(99), 0u);
    EXPECT_EQ(pktio_test_calls(SPIO_CONN_KIND_IPV4).offload_creates, 0u);
    ASSERT_EQ(plat_clock_advance_ms(1), 0u);
    EXPECT_EQ(pktio_test_calls(SPIO_CONN_KIND_IPV4).offload_creates, 1u);
    EXPECT_EQ(sessions(PTP_ENCAP_IPV4).size(), 2u);

    // An existing session: its counts are asked for, then it is deleted in the next batch.
    a->fsm.is_sending_multicast_announce = 0;
    a->fsm.is_master_drrm_running = 0;
    tessel_offload_if_session_update(a);
    auto req = pktio_test_stats_requests(SPIO_CONN_KIND_IPV4);
    ASSERT_EQ(req.size(), 1u);
    EXPECT_EQ(req[0].kind, 0u);
    EXPECT_EQ(req[0].solicited, 0u);
    EXPECT_EQ(req[0].count, 1u);
    // Wanted again before the batch: an update of the same session, no delete.
    a->fsm.is_master_drrm_running = 1;
    tessel_offload_if_session_update(a);
    a->fsm.is_master_drrm_running = 0;
    tessel_offload_if_session_update(a);
    ASSERT_EQ(plat_clock_advance_ms(TESSEL_OFFLOAD_BATCH_MS), 0u);
    EXPECT_EQ(pktio_test_calls(SPIO_CONN_KIND_IPV4).offload_deletes, 1u);
    EXPECT_EQ(sessions(PTP_ENCAP_IPV4).size(), 1u);
    tessel_offload_session_state_type st{};
    tessel_offload_if_session_state_get(a, &st);
    EXPECT_EQ(st.session_entry_exists, 0u);

    // A create never sent is dropped without any plugin call.
    tessel_proto_idb_type *c = make_port("Gi0/0/0/3", IFH3, PTP_ENCAP_IPV4);
    tessel_offload_if_session_update(c);
    c->flags &= static_cast<uint16_t>(~TESSEL_PROTO_IDB_PORT_MGR_READY);
    tessel_offload_if_session_update(c);
    ASSERT_EQ(plat_clock_advance_ms(500), 0u);
    EXPECT_EQ(pktio_test_calls(SPIO_CONN_KIND_IPV4).offload_creates, 1u);
    EXPECT_EQ(pktio_test_calls(SPIO_CONN_KIND_IPV4).offload_deletes, 1u);
}

// ---- Create results and deferred grant replies ---------------------------------------------------

TEST_F(OffloadTest, GrantRepliesAtOnceWhenAppliedElseAfterTheResult)
{
    tessel_proto_idb_type *p = make_port("Gi0/0/0/1", IFH, PTP_ENCAP_IPV4);
    p->config.transport = PTP_TRANSPORT_UNICAST;
    ptp_fsm_peer_entry_type peer{};
    ptp_address_set_ipv4(&peer.peer_addr, PEER_V4);
    ptp_address_set_ipv4(&peer.local_addr, V4);
    peer.port = p;
    peer.is_sync_granted = 1;
    peer.grant[PTP_FSM_PEER_GRANT_SYNC].log_interval = -4;
    peer.grant[PTP_FSM_PEER_GRANT_SYNC].app_log_interval = -4; // applied already
    peer.is_announce_granted = 1;
    peer.grant[PTP_FSM_PEER_GRANT_ANNOUNCE].log_interval = 1;
    peer.grant[PTP_FSM_PEER_GRANT_ANNOUNCE].app_log_interval = 0;
    peer.adjacency.rewrite_str_len = 14; // adjacency resolved
    offload_fake.peers.push_back(&peer);

    tessel_offload_unicast_peer_session_update(&peer);
    ASSERT_EQ(plat_clock_advance_ms(TESSEL_OFFLOAD_BATCH_MS - 1), 0u);
    EXPECT_TRUE(offload_fake.grant_replies.empty());
    // The batch: Sync's reply while the request is built, Announce's after the plugin's result.
    ASSERT_EQ(plat_clock_advance_ms(1), 0u);
    EXPECT_EQ(offload_fake.grant_replies, (std::vector<uint32_t>{0, 11}));
    EXPECT_EQ(peer.grant[PTP_FSM_PEER_GRANT_ANNOUNCE].app_log_interval, 1);
    auto s = sessions(PTP_ENCAP_IPV4);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].key, (std::vector<uint8_t>{1, 2, 0, 0, 10, 0, 0, 2}));
    EXPECT_EQ(s[0].data[24], 0x03);        // Announce and Sync
    EXPECT_EQ(s[0].data[40], 0x02 | 0x04); // two-step, unicast
    EXPECT_EQ(s[0].data[38], 0x04);        // unicast Announce flag
    tessel_offload_if_sessions_cleanup(IFH);
}

// ---- Timestamps ----------------------------------------------------------------------------------

class OffloadSlaveTest : public OffloadTest {
protected:
    tessel_proto_idb_type *port = nullptr;
    ptp_fsm_foreign_master_type fm{};

    void SetUp() override
    {
        OffloadTest::SetUp();
        port = make_port("Gi0/0/0/1", IFH, PTP_ENCAP_IPV4);
        ptp_address_set_ipv4(&fm.peer_addr, PEER_V4);
        ptp_address_set_ipv4(&fm.sent_to_addr, V4);
        fm.port = port;
        fm.transport = PTP_TRANSPORT_UNICAST;
        fm.is_handling_sync = 1;
        fm.adjacency.rewrite_str_len = 0;
        pkt_fake.platform_adjacency = true;
        tessel_offload_foreign_master_session_update(&fm);
        tessel_offload_flush();
        evm_run_until_idle(evm);
    }
    void TearDown() override
    {
        tessel_offload_if_sessions_cleanup(IFH);
        OffloadTest::TearDown();
    }
    static std::vector<uint8_t> ts_ntfn(uint8_t msg, int64_t corr1, int64_t corr2, size_t len = 68)
    {
        std::vector<uint8_t> n(68, 0);
        n[0] = 1;
        n[1] = msg;
        put(n, 4, be(IFH, 4));
        put(n, 8, {2, 2, 0, 0, 10, 0, 0, 2});
        put(n, 32, be(100, 6)); // t1 = 100 s
        put(n, 42, be(200, 6));
        put(n, 48, be(5, 4));
        put(n, 52, be(static_cast<uint64_t>(corr1), 8));
        put(n, 60, be(static_cast<uint64_t>(corr2), 8));
        n.resize(len);
        return n;
    }
};

TEST_F(OffloadSlaveTest, TimestampCorrectionsRoundTowardZero)
{
    struct {
        uint8_t msg;
        int64_t corr1, corr2;
        uint32_t want_message;
        uint64_t want_sec;
        uint32_t want_ns;
    } cases[] = {
        {1, 65536, -131072, 0, 99, 999999999}, // +1 ns - 2 ns
        {1, -1, 0, 0, 100, 0},                 // under a nanosecond: nothing
        {2, 5 * 65536, 7 * 65536, 1, 100, 5},  // Delay-Resp: the first correction only
        {9, 65536, 65536, 0, 100, 0},          // another message: no correction
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "msg " << int(c.msg) << " corr " << c.corr1 << "/" << c.corr2);
        offload_fake.timings.clear();
        const auto n = ts_ntfn(c.msg, c.corr1, c.corr2);
        ASSERT_EQ(tessel_offload_notification_process(PTP_ENCAP_IPV4, n.data(), n.size()), 0u);
        ASSERT_EQ(offload_fake.timings.size(), 1u);
        const auto &r = offload_fake.timings[0].record;
        EXPECT_EQ(offload_fake.timings[0].fm, &fm);
        EXPECT_EQ(r.message, c.want_message);
        uint64_t sec = 0;
        for (int i = 0; i < 6; i++) {
            sec = sec << 8 | r.t1[i];
        }
        const uint32_t ns = static_cast<uint32_t>(r.t1[6]) << 24 | r.t1[7] << 16 | r.t1[8] << 8 | r.t1[9];
        EXPECT_EQ(sec, c.want_sec);
        EXPECT_EQ(ns, c.want_ns);
        EXPECT_EQ(r.t2[5], 200); // the second timestamp as received
    }
}

TEST_F(OffloadSlaveTest, ShortOrUnknownTimestampNotificationsAreRefused)
{
    auto unknown = ts_ntfn(1, 0, 0);
    unknown[15] = 3; // another master
    auto master_key = ts_ntfn(1, 0, 0);
    master_key[8] = 1; // a master session key
    const std::vector<std::vector<uint8_t>> bad = {ts_ntfn(1, 0, 0, 67), ts_ntfn(2, 0, 0, 59), unknown, master_key, {1},
                                                   {7, 0, 0, 0}};
    for (const auto &n : bad) {
        EXPECT_EQ(tessel_offload_notification_process(PTP_ENCAP_IPV4, n.data(), n.size()), PTP_ZERR_INVALID_ARG);
    }
    EXPECT_TRUE(offload_fake.timings.empty());
    // A Delay-Resp needs no second correction.
    const auto dresp = ts_ntfn(2, 0, 0, 60);
    EXPECT_EQ(tessel_offload_notification_process(PTP_ENCAP_IPV4, dresp.data(), dresp.size()), 0u);
}

// ---- Statistics ------------------------------------------------------------------------------------

std::vector<uint8_t> chunk(uint8_t kind, bool more, bool solicited, bool partial, uint16_t count)
{
    std::vector<uint8_t> c(kind == 1 ? 24 : kind == 2 ? 20 : 24, 0);
    c[0] = 2;
    c[1] = kind;
    put(c, 4, be(more, 4));
    put(c, 8, be(solicited, 4));
    put(c, 12, be(partial, 4));
    put(c, 16, be(count, 2));
    return c;
}
std::vector<uint8_t> session_entry(uint32_t ifh, uint32_t sync_rx)
{
    std::vector<uint8_t> e(64, 0);
    put(e, 0, {2, 2, 0, 0, 10, 0, 0, 2});
    put(e, 24, be(ifh, 4));
    put(e, 28, be(sync_rx, 4));
    put(e, 60, be(3, 4)); // Announce sent
    return e;
}
std::vector<uint8_t> if_entry(uint32_t ifh, uint32_t sync_drops)
{
    std::vector<uint8_t> e(44, 0);
    put(e, 0, be(ifh, 4));
    put(e, 4, be(sync_drops, 4));
    put(e, 28, be(2, 4)); // TooShort
    return e;
}
std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto &p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

TEST_F(OffloadSlaveTest, StatisticsChunksAreCheckedAgainstTheLengthReceived)
{
    const auto two = cat(
        {chunk(3, true, false, false, 1), session_entry(IFH, 5), chunk(2, false, false, false, 1), if_entry(IFH, 4)});
    const auto overrun = cat({chunk(3, false, false, false, 2), session_entry(IFH, 5)});
    const auto missing_next = cat({chunk(3, true, false, false, 1), session_entry(IFH, 5)});
    const auto unknown_if = cat({chunk(2, false, false, false, 1), if_entry(0x999, 4)});
    struct {
        const char *name;
        std::vector<uint8_t> n;
        size_t cut; // bytes kept (0: all)
        zerrno rc;
        size_t counts; // counter updates applied
    } cases[] = {
        {"session then interface", two, 0, 0, 3},
        {"count overruns the notification", overrun, 0, PTP_ZERR_INVALID_ARG, 0},
        {"second chunk missing", missing_next, 0, PTP_ZERR_INVALID_ARG, 2},
        {"entry cut short", two, 24 + 63, PTP_ZERR_INVALID_ARG, 0},
        {"header cut short", two, 10, PTP_ZERR_INVALID_ARG, 0},
        {"unknown interface", unknown_if, 0, PTP_ZERR_INVALID_ARG, 0},
        {"unknown kind", cat({chunk(5, false, false, false, 0)}), 0, PTP_ZERR_INVALID_ARG, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        offload_fake.counts.clear();
        const size_t len = c.cut != 0 ? c.cut : c.n.size();
        EXPECT_EQ(tessel_offload_notification_process(PTP_ENCAP_IPV4, c.n.data(), len), c.rc);
        EXPECT_EQ(offload_fake.counts.size(), c.counts);
    }
    offload_fake.counts.clear();
    ASSERT_EQ(tessel_offload_notification_process(PTP_ENCAP_IPV4, two.data(), two.size()), 0u);
    ASSERT_EQ(offload_fake.counts.size(), 3u);
    EXPECT_EQ(offload_fake.counts[0].amount, 5u); // Sync received from 10.0.0.2
    EXPECT_EQ(offload_fake.counts[0].peer.encap, static_cast<uint32_t>(PTP_ENCAP_IPV4));
    EXPECT_EQ(offload_fake.counts[1].amount, 3u); // Announce sent
    EXPECT_EQ(offload_fake.counts[2].direction, 99u);
    EXPECT_EQ(offload_fake.counts[2].amount, 4u); // Sync drops of the interface
}

// Each count of a session entry goes to its own class and direction: what the plugin sent as
// sent, what it received as received.
TEST_F(OffloadSlaveTest, SessionCountsLandInTheirClassAndDirection)
{
    const struct {
        size_t offset;
        const char *name;
        uint32_t counter_class;
        uint32_t direction;
    } fields[] = {
        {28, "Sync received", TESSEL_PACKET_COUNTER_SYNC, TESSEL_PACKET_RECEIVED},
        {32, "Sync sent", TESSEL_PACKET_COUNTER_SYNC, TESSEL_PACKET_SENT},
        {36, "Follow-Up received", TESSEL_PACKET_COUNTER_FOLLOW_UP, TESSEL_PACKET_RECEIVED},
        {40, "Follow-Up sent", TESSEL_PACKET_COUNTER_FOLLOW_UP, TESSEL_PACKET_SENT},
        {44, "Delay-Req received", TESSEL_PACKET_COUNTER_DELAY_REQ, TESSEL_PACKET_RECEIVED},
        {48, "Delay-Req sent", TESSEL_PACKET_COUNTER_DELAY_REQ, TESSEL_PACKET_SENT},
        {52, "Delay-Resp received", TESSEL_PACKET_COUNTER_DELAY_RESP, TESSEL_PACKET_RECEIVED},
        {56, "Delay-Resp sent", TESSEL_PACKET_COUNTER_DELAY_RESP, TESSEL_PACKET_SENT},
        {60, "Announce sent", TESSEL_PACKET_COUNTER_ANNOUNCE, TESSEL_PACKET_SENT},
    };
    for (size_t i = 0; i < std::size(fields); i++) {
        SCOPED_TRACE(fields[i].name);
        std::vector<uint8_t> e(64, 0);
        put(e, 0, {2, 2, 0, 0, 10, 0, 0, 2});
        put(e, 24, be(IFH, 4));
        put(e, fields[i].offset, be(10 + static_cast<uint32_t>(i), 4));
        const auto n = cat({chunk(3, false, false, false, 1), e});
        offload_fake.counts.clear();
        ASSERT_EQ(tessel_offload_notification_process(PTP_ENCAP_IPV4, n.data(), n.size()), 0u);
        ASSERT_EQ(offload_fake.counts.size(), 1u);
        const offload_fake_count_type &c = offload_fake.counts[0];
        EXPECT_EQ(c.counter_class, fields[i].counter_class);
        EXPECT_EQ(c.direction, fields[i].direction);
        EXPECT_EQ(c.amount, 10 + i);
        EXPECT_EQ(c.ifhandle, IFH);
    }
}

TEST_F(OffloadSlaveTest, SolicitedAnswersClearTheirFlagsAndResumeTheReader)
{
    // The plugin's own answers are held back: the test answers by hand, or not at all.
    pktio_test_offload_stats_hold(true);
    uint32_t pending = 0;
    ASSERT_EQ(tessel_offload_get_stats(&pending), 0u);
    EXPECT_EQ(pending, 1u);
    EXPECT_TRUE(tessel_offload_stats_pending());
    // IPv4: session statistics (the one session) and interface statistics (the port).
    const auto sess = cat({chunk(3, false, true, false, 1), session_entry(IFH, 1)});
    const auto intf = cat({chunk(2, true, true, true, 1), if_entry(IFH, 0), chunk(1, false, true, false, 0)});
    ASSERT_EQ(tessel_offload_notification_process(PTP_ENCAP_IPV4, sess.data(), sess.size()), 0u);
    EXPECT_TRUE(pkt_fake.calls.empty());
    ASSERT_EQ(tessel_offload_notification_process(PTP_ENCAP_IPV4, intf.data(), intf.size()), 0u);
    EXPECT_FALSE(tessel_offload_stats_pending());
    EXPECT_EQ(pkt_fake.calls, (std::vector<std::string>{"resume_packet_counters"}));

    // Unanswered: the time-out clears the flags and resumes the reader.
    ASSERT_EQ(tessel_offload_get_stats(&pending), 0u);
    EXPECT_EQ(pending, 1u);
    ASSERT_EQ(plat_clock_advance_ms(TESSEL_OFFLOAD_STATS_TIMEOUT_MS), 0u);
    EXPECT_FALSE(tessel_offload_stats_pending());
    EXPECT_EQ(pkt_fake.calls.size(), 2u);
    // An answer after the time-out only adds its counts.
    offload_fake.counts.clear();
    ASSERT_EQ(tessel_offload_notification_process(PTP_ENCAP_IPV4, sess.data(), sess.size()), 0u);
    EXPECT_EQ(offload_fake.counts.size(), 2u);
    EXPECT_EQ(pkt_fake.calls.size(), 2u);
}

TEST_F(OffloadSlaveTest, ThePluginsAnswersReachTheCountersAndResumeTheReader)
{
    // The master's Sync, taken by the plugin for the foreign master's session.
    const uint8_t ip_udp[28] = {0x45, 0, 0,  72, 0, 0, 0, 0,    1, 17,   0, 0,  10, 0,
                                0,    2, 10, 0,  0, 1, 1, 0x3f, 1, 0x3f, 0, 52, 0,  0};
    pktio_test_rx_type in;
    in.kind = SPIO_CONN_KIND_IPV4;
    in.ifhandle = IFH;
    in.bytes.assign(28 + 44, 0);
    std::memcpy(in.bytes.data(), ip_udp, sizeof ip_udp);
    in.bytes[28 + 1] = 2;  // version
    in.bytes[28 + 3] = 44; // length
    ASSERT_TRUE(pktio_test_inject(in));
    evm_run_until_idle(evm);
    // Answers split one entry per chunk and notification: only the last clears its flag.
    make_port("Gi0/0/0/2", IFH2, PTP_ENCAP_IPV4);
    pktio_test_offload_stats_split(1, 1);
    pktio_test_offload_stats_hold(true);
    uint32_t pending = 0;
    ASSERT_EQ(tessel_offload_get_stats(&pending), 0u);
    EXPECT_EQ(pending, 1u);
    // Session answer (one notification), interface answer (two ports, then the global chunk).
    EXPECT_EQ(pktio_test_offload_stats_release(3), 3u);
    evm_run_until_idle(evm);
    EXPECT_TRUE(tessel_offload_stats_pending());
    EXPECT_TRUE(pkt_fake.calls.empty());
    EXPECT_EQ(pktio_test_offload_stats_release(), 1u);
    evm_run_until_idle(evm);
    EXPECT_FALSE(tessel_offload_stats_pending());
    EXPECT_EQ(pkt_fake.calls, (std::vector<std::string>{"resume_packet_counters"}));
    ASSERT_EQ(offload_fake.counts.size(), 1u);
    EXPECT_EQ(offload_fake.counts[0].ifhandle, IFH);
    EXPECT_EQ(offload_fake.counts[0].counter_class, 1u); // Sync
    EXPECT_EQ(offload_fake.counts[0].amount, 1u);
}

TEST_F(OffloadSlaveTest, AFailedRequestLeavesNothingPending)
{
    // The IPv4 session request goes out, the IPv4 interface request fails.
    pktio_test_fail(pktio_test_op::OFFLOAD_STATS, PTP_ZERR_NOMEM, 1, SPIO_CONN_KIND_IPV4);
    uint32_t pending = 7;
    EXPECT_NE(tessel_offload_get_stats(&pending), 0u);
    EXPECT_EQ(pending, 0u);
    EXPECT_FALSE(tessel_offload_stats_pending());
    // The next reader asks again, and nothing is left to time out.
    ASSERT_EQ(tessel_offload_get_stats(&pending), 0u);
    EXPECT_EQ(pending, 1u);
    ASSERT_EQ(plat_clock_advance_ms(TESSEL_OFFLOAD_STATS_TIMEOUT_MS), 0u);
    EXPECT_FALSE(tessel_offload_stats_pending());
}

TEST_F(OffloadSlaveTest, ClearingOneInterfaceSendsOnlyItsSessionsAndHandle)
{
    make_port("Gi0/0/0/2", IFH2, PTP_ENCAP_IPV4);
    tessel_offload_clear_stats(IFH);
    auto req = pktio_test_stats_requests(SPIO_CONN_KIND_IPV4);
    ASSERT_EQ(req.size(), 2u);
    EXPECT_EQ(req[0].kind, 0u);
    EXPECT_EQ(req[0].count, 1u);
    EXPECT_EQ(req[1].kind, 1u);
    EXPECT_EQ(req[1].count, 1u);
    EXPECT_TRUE(pktio_test_stats_requests(SPIO_CONN_KIND_ETHERNET).empty());
}

// ---- Resync retries ------------------------------------------------------------------------------

TEST_F(OffloadTest, FailedResyncRequestsAreRetriedWithAGrowingInterval)
{
    pktio_test_fail(pktio_test_op::FORCE_RESYNC, PTP_ZERR_NOMEM, 3, SPIO_CONN_KIND_IPV4);
    tessel_offload_resync_timers_start();
    // Attempts at 125 ms (fails), 375 (fails), 875 (fails), 1875 (succeeds).
    ASSERT_EQ(plat_clock_advance_ms(1874), 0u);
    EXPECT_EQ(pktio_test_calls(SPIO_CONN_KIND_IPV4).forced_resyncs, 0u);
    EXPECT_TRUE(tessel_offload_ipv4_resync_timer_running());
    ASSERT_EQ(plat_clock_advance_ms(1), 0u);
    EXPECT_EQ(pktio_test_calls(SPIO_CONN_KIND_IPV4).forced_resyncs, 1u);
    EXPECT_FALSE(tessel_offload_ipv4_resync_timer_running());
    EXPECT_EQ(pktio_test_calls(SPIO_CONN_KIND_ETHERNET).forced_resyncs, 1u); // at 125 ms
    size_t spio = 0;
    for (const auto &m : qor_errmsg_captured()) {
        spio += m.text == std::string("Unexpected error encountered whilst requesting ipv4 resync: ") +
                              zerr_strerror(PTP_ZERR_NOMEM);
    }
    EXPECT_GE(spio, 1u);
}

} // namespace
