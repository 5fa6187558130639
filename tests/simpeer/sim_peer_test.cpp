// The simulated grandmaster and slave over an in-memory link on virtual time: the link has no
// delay, so the slave must measure exactly the difference of the two clocks and a zero path delay.
// Over UDP/IPv4 they negotiate unicast grants first; what they send is checked on the wire.
#include "sim_peer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ctx.h"
#include "evm_test.h"
#include "ip_helpers.h"
#include "pktio_test.h"
#include "plat_clock_test.h"
#include "ptp_wire.h"
#include "spio.h"

namespace {

constexpr uint32_t GM_IFH = 0x100, SLAVE_IFH = 0x200;
constexpr uint8_t GM_MAC[6] = {2, 0, 0, 0, 0x0b, 1};
constexpr uint8_t SLAVE_MAC[6] = {2, 0, 0, 0, 0x0c, 1};
constexpr uint64_t GM_ID = 0x020000fffe000b01ull, SLAVE_ID = 0x020000fffe000c01ull;
constexpr simpeer::ipv4_type GM_IP = {10, 0, 0, 1}, SLAVE_IP = {10, 0, 0, 2};

class SimPeerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat_clock_use_virtual_at(PLAT_CLOCK_VIRTUAL_MONO_START_NS, 1800000000);
        pktio_test_reset();
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_EQ(pktio_test_intf_add("gm0", GM_IFH, GM_MAC), 0u);
        ASSERT_EQ(pktio_test_intf_add("slave0", SLAVE_IFH, SLAVE_MAC), 0u);
        ASSERT_EQ(pktio_test_link(GM_IFH, SLAVE_IFH), 0u);
    }
    void TearDown() override
    {
        simpeer::endpoint_stop(gm);
        simpeer::endpoint_stop(slave);
        if (raw != nullptr) {
            spio_close(raw);
            ctx_api_cleanup(api);
        }
        evm_run_until_idle(evm);
        event_manager_destroy(evm);
        pktio_test_reset();
        plat_clock_use_real();
    }
    void start(int64_t gm_offset, int64_t slave_offset)
    {
        simpeer::gm_config_type g;
        g.clock_id = GM_ID;
        g.clock_offset_ns = gm_offset;
        ASSERT_EQ(simpeer::gm_start(evm, GM_IFH, GM_MAC, g, nullptr, &gm), 0u);
        start_slave(slave_offset);
    }
    void start_slave(int64_t slave_offset = 0)
    {
        simpeer::slave_config_type s;
        s.clock_id = SLAVE_ID;
        s.clock_offset_ns = slave_offset;
        ASSERT_EQ(simpeer::slave_start(
                      evm, SLAVE_IFH, SLAVE_MAC, s, [this](const std::string &l) { lines.push_back(l); }, &slave),
                  0u);
    }
    void start_unicast_gm(int64_t offset = 0)
    {
        simpeer::gm_config_type g;
        g.clock_id = GM_ID;
        g.clock_offset_ns = offset;
        g.transport = simpeer::transport_type::UDP_IPV4;
        g.ipv4 = GM_IP;
        ASSERT_EQ(simpeer::gm_start(
                      evm, GM_IFH, GM_MAC, g, [this](const std::string &l) { gm_lines.push_back(l); }, &gm),
                  0u);
    }
    void start_unicast_slave(int64_t offset = 0, uint32_t duration = 300)
    {
        simpeer::slave_config_type s;
        s.clock_id = SLAVE_ID;
        s.clock_offset_ns = offset;
        s.transport = simpeer::transport_type::UDP_IPV4;
        s.ipv4 = SLAVE_IP;
        s.master_ipv4 = GM_IP;
        s.grant_duration_s = duration;
        ASSERT_EQ(simpeer::slave_start(
                      evm, SLAVE_IFH, SLAVE_MAC, s, [this](const std::string &l) { lines.push_back(l); }, &slave),
                  0u);
    }
    // The Signaling messages sent out of an interface so far: their PTP bytes.
    static std::vector<std::vector<uint8_t>> signaling_sent(uint32_t ifhandle)
    {
        std::vector<std::vector<uint8_t>> out;
        for (const pktio_test_sent_type &p : pktio_test_sent()) {
            if (p.ifhandle == ifhandle && p.kind == SPIO_CONN_KIND_IPV4 && p.bytes.size() > 28 &&
                (p.bytes[28] & 0x0F) == 0xC) {
                out.emplace_back(p.bytes.begin() + 28, p.bytes.end());
            }
        }
        return out;
    }
    bool said(const std::vector<std::string> &of, const std::string &line)
    {
        return std::find(of.begin(), of.end(), line) != of.end();
    }
    void pass_ms(uint64_t ms)
    {
        for (uint64_t t = 0; t < ms; t += 5) {
            evm_run_until_idle(evm);
            plat_clock_advance_ms(5);
        }
        evm_run_until_idle(evm);
    }
    // Frames sent as if by another endpoint on the grandmaster's interface.
    void open_raw()
    {
        spio_init_params_type params{SPIO_PARAMS_VERSION, [](uint32_t n, ctx_packet_type **p) { ctx_free(p, n); },
                                     nullptr, SPIO_CONN_KIND_ETHERNET, evm};
        uint32_t ifh = GM_IFH, dir = 1, status = 1;
        ASSERT_EQ(ctx_api_init(&api), 0u);
        ASSERT_EQ(spio_init(&params, &raw), 0u);
        ASSERT_EQ(spio_attach2(raw, 0, 1, &ifh, &dir, &status), 0u);
        ASSERT_EQ(status, 0u);
    }
    void send_raw(const std::vector<uint8_t> &f)
    {
        ctx_packet_type *p = ctx_alloc(api, f.size() + 1);
        size_t n = 0;
        ctx_write(p, CTX_LAYER_FRAME, 0, f.data(), f.size(), &n);
        ctx_set_u32(p, CTX_OPT_OUT_IFHANDLE, GM_IFH);
        ctx_set_u32(p, CTX_OPT_CURRENT_LENGTH, static_cast<uint32_t>(f.size()));
        ASSERT_EQ(spio_pd_intf_send(raw, 1, &p, 1, 1), 0u);
        evm_run_until_idle(evm);
    }

    event_mgr_type *evm = nullptr;
    simpeer::endpoint_type *gm = nullptr;
    simpeer::endpoint_type *slave = nullptr;
    spio_conn_type *raw = nullptr;
    ctx_api_type *api = nullptr;
    std::vector<std::string> lines;    // the slave's
    std::vector<std::string> gm_lines; // the grandmaster's
};

// The grants both ends hold after a negotiation with the slave's defaults (the intervals a
// G.8275.2-style port defaults to), by peer and then kind.
std::vector<simpeer::grant_type> default_grants(const simpeer::ipv4_type &peer, uint32_t duration = 300)
{
    return {{peer, 0xB, 1, duration}, {peer, 0x0, 0, duration}, {peer, 0x9, 0, duration}};
}

TEST_F(SimPeerTest, SlaveMeasuresExactlyTheDifferenceOfTheClocks)
{
    struct case_type {
        int64_t gm_offset, slave_offset;
    };
    const case_type cases[] = {{0, 0}, {1500000, 0}, {-2000000000, 250000}, {0, -37000000123}};
    for (const case_type &c : cases) {
        SCOPED_TRACE(std::to_string(c.gm_offset) + " " + std::to_string(c.slave_offset));
        start(c.gm_offset, c.slave_offset);
        pass_ms(2000);
        const simpeer::slave_status_type s = simpeer::slave_status(slave);
        EXPECT_TRUE(s.has_master);
        EXPECT_EQ(s.master_id, GM_ID);
        // Sync every 125 ms; the first Announce (at once) selects the master.
        EXPECT_GE(s.exchanges, 15u);
        for (int64_t o : s.offsets_ns) {
            ASSERT_EQ(o, c.slave_offset - c.gm_offset);
        }
        EXPECT_EQ(s.last_delay_ns, 0);
        EXPECT_EQ(simpeer::endpoint_counts(slave).dropped, 0u);
        EXPECT_EQ(simpeer::endpoint_counts(gm).dropped, 0u);
        simpeer::endpoint_stop(gm);
        simpeer::endpoint_stop(slave);
        gm = slave = nullptr;
    }
}

TEST_F(SimPeerTest, SlaveLosesAMasterThatStopsAnnouncing)
{
    start(0, 0);
    pass_ms(500);
    ASSERT_TRUE(simpeer::slave_status(slave).has_master);
    simpeer::endpoint_stop(gm);
    gm = nullptr;
    pass_ms(350); // three announce intervals of 125 ms have not passed yet
    EXPECT_TRUE(simpeer::slave_status(slave).has_master);
    pass_ms(50);
    EXPECT_FALSE(simpeer::slave_status(slave).has_master);
    EXPECT_EQ(lines.back(), "slave: master 0x020000fffe000b01 lost (no Announce for 3 announce intervals), state "
                            "LISTENING");
    EXPECT_EQ(simpeer::endpoint_counts(slave).master_losses, 1u);
}

// Each end follows the other's stream: the slave its master's Syncs, the grandmaster the
// slave's Delay-Reqs, with the worst gap between two and none late while both keep their rates;
// the gaps start again from a reset.
TEST_F(SimPeerTest, EachEndFollowsTheOthersStreamAndItsGaps)
{
    start(0, 0);
    pass_ms(2000);
    const simpeer::counts_type s = simpeer::endpoint_counts(slave);
    const simpeer::counts_type g = simpeer::endpoint_counts(gm);
    EXPECT_GE(s.followed, 30u);
    EXPECT_EQ(g.followed, simpeer::slave_status(slave).exchanges);
    EXPECT_NE(s.first_followed_mono_ns, 0u);
    for (const simpeer::counts_type &c : {s, g}) {
        EXPECT_EQ(c.worst_gap_ns, 62500000); // the Sync interval (16 a second), on virtual time
        EXPECT_EQ(c.late, 0u);
    }
    simpeer::endpoint_gaps_reset(slave);
    EXPECT_EQ(simpeer::endpoint_counts(slave).worst_gap_ns, 0);
    EXPECT_EQ(simpeer::endpoint_counts(slave).followed, s.followed);
}

// A frame whose lengths lie, or that is not for this slave, is dropped or ignored without being read
// past its end (the sanitizers watch) and changes nothing.
TEST_F(SimPeerTest, MalformedAndForeignFramesChangeNothing)
{
    start_slave();
    open_raw();
    auto frame = [](uint8_t type, size_t len, size_t claimed, uint8_t domain = 0, uint8_t version = 2) {
        std::vector<uint8_t> f(14 + len, 0);
        const uint8_t eth[14] = {1, 0x1b, 0x19, 0, 0, 0, 2, 0, 0, 0, 0x0d, 1, 0x88, 0xf7};
        std::memcpy(f.data(), eth, sizeof eth);
        if (len >= 34) {
            f[14] = type;
            f[15] = version;
            ptp_wire_put16(&f[16], static_cast<uint16_t>(claimed));
            f[18] = domain;
            ptp_wire_put64(&f[34], 0x0a0a0a0a0a0a0a0aull);
        }
        return f;
    };
    struct case_type {
        const char *what;
        std::vector<uint8_t> bytes;
        uint64_t dropped; // counted as dropped, else ignored
    };
    std::vector<uint8_t> not_ptp = frame(0xb, 64, 64);
    not_ptp[13] = 0x00;
    const case_type cases[] = {
        {"runt", std::vector<uint8_t>(10, 1), 1},           {"another EtherType", not_ptp, 1},
        {"header cut short", frame(0xb, 20, 64), 1},        {"length beyond the bytes", frame(0xb, 40, 64), 1},
        {"length below a header", frame(0xb, 64, 12), 1},   {"version 1", frame(0xb, 64, 64, 0, 1), 1},
        {"another domain", frame(0xb, 64, 64, 4), 1},       {"Announce too short", frame(0xb, 50, 50), 1},
        {"Delay-Resp too short", frame(0x9, 44, 44), 1},    {"Follow-Up of no master", frame(0x8, 44, 44), 0},
        {"Delay-Resp of no master", frame(0x9, 54, 54), 0}, {"Delay-Req of another slave", frame(0x1, 44, 44), 0},
    };
    for (const case_type &c : cases) {
        SCOPED_TRACE(c.what);
        const uint64_t before = simpeer::endpoint_counts(slave).dropped;
        send_raw(c.bytes);
        EXPECT_EQ(simpeer::endpoint_counts(slave).dropped, before + c.dropped);
        EXPECT_FALSE(simpeer::slave_status(slave).has_master);
        EXPECT_EQ(simpeer::slave_status(slave).exchanges, 0u);
    }
}

TEST_F(SimPeerTest, UnicastSlaveIsGrantedItsStreamsAndMeasuresExactlyTheDifferenceOfTheClocks)
{
    ASSERT_EQ(pktio_test_link(GM_IFH, SLAVE_IFH), 0u);
    start_unicast_gm(1500000);
    start_unicast_slave(-250000);
    pass_ms(10000);
    EXPECT_EQ(simpeer::endpoint_grants(slave), default_grants(GM_IP));
    EXPECT_EQ(simpeer::endpoint_grants(gm), default_grants(SLAVE_IP));
    const simpeer::slave_status_type s = simpeer::slave_status(slave);
    EXPECT_EQ(s.master_id, GM_ID);
    // One Sync a second once Sync and Delay-Resp are granted, just after the first Announce.
    EXPECT_GE(s.exchanges, 8u);
    for (int64_t o : s.offsets_ns) {
        ASSERT_EQ(o, -250000 - 1500000);
    }
    EXPECT_EQ(s.last_delay_ns, 0);
    EXPECT_EQ(simpeer::endpoint_counts(slave).dropped, 0u);
    EXPECT_EQ(simpeer::endpoint_counts(gm).dropped, 0u);
    EXPECT_TRUE(said(lines, "slave: granted Announce every 2^1 s for 300 s by 10.0.0.1"));
    EXPECT_TRUE(said(gm_lines, "grandmaster: granted Delay-Resp every 2^0 s for 300 s to 10.0.0.2"));
    // What the grandmaster streams it streams to the slave's address, at the granted intervals.
    size_t announces = 0, syncs = 0;
    for (const pktio_test_sent_type &p : pktio_test_sent()) {
        if (p.ifhandle != GM_IFH || p.bytes.size() < 28 + 34)
            continue;
        ASSERT_EQ(std::vector<uint8_t>(p.bytes.begin() + 16, p.bytes.begin() + 20),
                  std::vector<uint8_t>(SLAVE_IP.begin(), SLAVE_IP.end()));
        announces += (p.bytes[28] & 0x0F) == 0xB;
        syncs += (p.bytes[28] & 0x0F) == 0x0;
    }
    EXPECT_NEAR(static_cast<double>(announces), 5, 1); // every 2 s for 10 s
    EXPECT_NEAR(static_cast<double>(syncs), 10, 1);
}

// Several unicast slaves on one interface, each at an address of its own: each is granted its
// streams and measures its own offset; one that stops takes only its own grants with it.
TEST_F(SimPeerTest, UnicastSlavesShareAnInterface)
{
    ASSERT_EQ(pktio_test_link(GM_IFH, SLAVE_IFH), 0u);
    start_unicast_gm();
    start_unicast_slave(100000);
    simpeer::endpoint_type *second = nullptr;
    simpeer::slave_config_type s;
    s.clock_id = SLAVE_ID + 1;
    s.clock_offset_ns = -300000;
    s.transport = simpeer::transport_type::UDP_IPV4;
    s.ipv4 = {10, 0, 0, 3};
    s.master_ipv4 = GM_IP;
    ASSERT_EQ(simpeer::slave_start(evm, SLAVE_IFH, SLAVE_MAC, s, nullptr, &second), 0u);
    simpeer::endpoint_type *again = nullptr;
    EXPECT_NE(simpeer::slave_start(evm, SLAVE_IFH, SLAVE_MAC, s, nullptr, &again), 0u); // its address is taken
    pass_ms(5000);
    std::vector<simpeer::grant_type> both = default_grants(SLAVE_IP);
    for (const simpeer::grant_type &g : default_grants(s.ipv4)) {
        both.push_back(g);
    }
    EXPECT_EQ(simpeer::endpoint_grants(gm), both);
    EXPECT_EQ(simpeer::endpoint_grants(second), default_grants(GM_IP));
    for (const auto &[end, offset] : {std::pair{slave, int64_t{100000}}, std::pair{second, int64_t{-300000}}}) {
        const simpeer::slave_status_type st = simpeer::slave_status(end);
        EXPECT_GE(st.exchanges, 3u);
        EXPECT_EQ(st.last_offset_ns, offset);
        EXPECT_EQ(simpeer::endpoint_counts(end).dropped, 0u);
    }
    simpeer::endpoint_stop(second);
    const uint64_t before = simpeer::slave_status(slave).exchanges;
    pass_ms(3000);
    EXPECT_EQ(simpeer::endpoint_grants(gm), default_grants(SLAVE_IP));
    EXPECT_GE(simpeer::slave_status(slave).exchanges, before + 2); // its interface still attached
}

// The slave's first Request, byte for byte as IEEE 1588 has it: the IPv4 and UDP headers (to the
// general port, checksums right), the Signaling header (unicast flag, control 5, no interval, all
// ports targeted) and a Request TLV for Announce every 2^1 s for 300 s.
TEST_F(SimPeerTest, UnicastRequestOnTheWire)
{
    start_unicast_slave();
    evm_run_until_idle(evm);
    const std::vector<pktio_test_sent_type> sent = pktio_test_sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].app_start, 28);
    const std::vector<uint8_t> expected = {
        // IPv4: version 4, 5 words, DSCP 46; 82 bytes; don't fragment; TTL 64, UDP; checksum
        0x45, 0xb8, 0x00, 0x52, 0x00, 0x00, 0x40, 0x00, 0x40, 0x11, 0x25, 0xe1, 10, 0, 0, 2, 10, 0, 0, 1,
        // UDP: 320 to 320, 62 bytes, checksum
        0x01, 0x40, 0x01, 0x40, 0x00, 0x3e, 0x14, 0xff,
        // Signaling, version 2, 54 bytes, domain 0; unicast flag; no correction
        0x0c, 0x02, 0x00, 0x36, 0x00, 0x00, 0x04, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        // the slave's port 1, sequence 0, control 5 (other), interval 0x7F
        0x02, 0x00, 0x00, 0xff, 0xfe, 0x00, 0x0c, 0x01, 0x00, 0x01, 0x00, 0x00, 0x05, 0x7f,
        // target: every port of every clock
        0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
        // REQUEST_UNICAST_TRANSMISSION, 6 bytes: Announce, 2^1 s, 300 s
        0x00, 0x04, 0x00, 0x06, 0xb0, 0x01, 0x00, 0x00, 0x01, 0x2c};
    EXPECT_EQ(sent[0].bytes, expected);
    EXPECT_EQ(ipv4_checksum(sent[0].bytes.data(), IPV4_HDR_LEN), 0);
}

// Each end ends its grants when it stops, with a Cancel the other acknowledges; the other then
// sends nothing more (the grandmaster) or asks again (the slave).
TEST_F(SimPeerTest, UnicastGrantsEndWithACancel)
{
    ASSERT_EQ(pktio_test_link(GM_IFH, SLAVE_IFH), 0u);
    start_unicast_gm();
    start_unicast_slave();
    pass_ms(3000);
    ASSERT_EQ(simpeer::endpoint_grants(gm).size(), 3u);
    pktio_test_sent_clear();
    simpeer::endpoint_stop(slave);
    slave = nullptr;
    evm_run_until_idle(evm);
    EXPECT_TRUE(simpeer::endpoint_grants(gm).empty());
    EXPECT_TRUE(said(gm_lines, "grandmaster: Announce to 10.0.0.2 cancelled by the slave"));
    // The slave's Cancel of its three grants, and the Acknowledge of each.
    const auto from_slave = signaling_sent(SLAVE_IFH), from_gm = signaling_sent(GM_IFH);
    ASSERT_EQ(from_slave.size(), 1u);
    EXPECT_EQ(std::vector<uint8_t>(from_slave[0].begin() + 44, from_slave[0].end()),
              (std::vector<uint8_t>{0, 6, 0, 2, 0xb0, 0, 0, 6, 0, 2, 0x00, 0, 0, 6, 0, 2, 0x90, 0}));
    ASSERT_EQ(from_gm.size(), 1u);
    EXPECT_EQ(std::vector<uint8_t>(from_gm[0].begin() + 44, from_gm[0].end()),
              (std::vector<uint8_t>{0, 7, 0, 2, 0xb0, 0, 0, 7, 0, 2, 0x00, 0, 0, 7, 0, 2, 0x90, 0}));
    pktio_test_sent_clear();
    pass_ms(3000);
    EXPECT_TRUE(pktio_test_sent().empty());

    start_unicast_slave();
    pass_ms(3000);
    ASSERT_EQ(simpeer::endpoint_grants(slave).size(), 3u);
    simpeer::endpoint_stop(gm);
    gm = nullptr;
    evm_run_until_idle(evm);
    EXPECT_TRUE(simpeer::endpoint_grants(slave).empty());
    EXPECT_TRUE(said(lines, "slave: Sync by 10.0.0.1 cancelled by the master"));
    pktio_test_sent_clear();
    pass_ms(1000);
    ASSERT_EQ(signaling_sent(SLAVE_IFH).size(), 1u); // Announce asked for again
}

// The slave renews each grant before it lapses (three quarters into a short one), so it never
// lapses; a grandmaster whose slave goes silent lets the grants lapse and stops streaming.
TEST_F(SimPeerTest, UnicastGrantsAreRenewedAndLapseWithoutRenewal)
{
    ASSERT_EQ(pktio_test_link(GM_IFH, SLAVE_IFH), 0u);
    start_unicast_gm();
    start_unicast_slave(0, 20);
    pass_ms(2000);
    ASSERT_EQ(simpeer::endpoint_grants(gm), default_grants(SLAVE_IP, 20));
    for (int i = 0; i < 12; ++i) { // 60 s: three renewals
        pass_ms(5000);
        ASSERT_EQ(simpeer::endpoint_grants(gm), default_grants(SLAVE_IP, 20)) << i;
        ASSERT_EQ(simpeer::endpoint_grants(slave), default_grants(GM_IP, 20)) << i;
    }
    const uint64_t exchanges = simpeer::slave_status(slave).exchanges;
    EXPECT_GE(exchanges, 58u);
    for (const std::string &l : lines)
        EXPECT_EQ(l.find("expired"), std::string::npos) << l;

    // Cut the link both ways: neither hears the other from now on.
    ASSERT_EQ(pktio_test_intf_add("void0", 0x300, GM_MAC), 0u);
    ASSERT_EQ(pktio_test_intf_add("void1", 0x301, SLAVE_MAC), 0u);
    ASSERT_EQ(pktio_test_link(GM_IFH, 0x300), 0u);
    ASSERT_EQ(pktio_test_link(SLAVE_IFH, 0x301), 0u);
    pass_ms(21000);
    EXPECT_TRUE(simpeer::endpoint_grants(gm).empty());
    EXPECT_TRUE(said(gm_lines, "grandmaster: grant of Announce to 10.0.0.2 expired"));
    EXPECT_TRUE(simpeer::endpoint_grants(slave).empty());
    EXPECT_TRUE(said(lines, "slave: grant of Announce by 10.0.0.1 expired"));
    pktio_test_sent_clear();
    pass_ms(3000);
    for (const pktio_test_sent_type &p : pktio_test_sent())
        EXPECT_NE(p.ifhandle, GM_IFH);
}

// A PTP message of the slave's master as the network would carry it: IPv4 and UDP headers with
// their checksums, from the grandmaster's address to the slave's.
std::vector<uint8_t> udp_ipv4(const std::vector<uint8_t> &msg, uint16_t port = 320)
{
    std::vector<uint8_t> f(28 + msg.size(), 0);
    f[0] = 0x45;
    ptp_wire_put16(&f[2], static_cast<uint16_t>(f.size()));
    f[8] = 64;
    f[9] = 17;
    std::memcpy(&f[12], GM_IP.data(), 4);
    std::memcpy(&f[16], SLAVE_IP.data(), 4);
    ptp_wire_put16(&f[10], ipv4_checksum(f.data(), 20));
    ptp_wire_put16(&f[20], port);
    ptp_wire_put16(&f[22], port);
    ptp_wire_put16(&f[24], static_cast<uint16_t>(8 + msg.size()));
    std::memcpy(&f[28], msg.data(), msg.size());
    ptp_wire_put16(&f[26], ipv4_ulp_checksum(17, &f[12], &f[16], &f[20], 8 + msg.size()));
    return f;
}

// A Signaling message of the grandmaster to the slave's port with the given TLV bytes.
std::vector<uint8_t> signaling(const std::vector<uint8_t> &tlvs, size_t claimed = 0)
{
    std::vector<uint8_t> m(44 + tlvs.size(), 0);
    std::copy(tlvs.begin(), tlvs.end(), m.begin() + 44);
    m[0] = 0x0c;
    m[1] = 2;
    ptp_wire_put16(&m[2], static_cast<uint16_t>(claimed != 0 ? claimed : 44 + tlvs.size()));
    ptp_wire_put16(&m[6], 0x0400);
    ptp_wire_put64(&m[20], GM_ID);
    ptp_wire_put16(&m[28], 1);
    m[32] = 5;
    m[33] = 0x7f;
    ptp_wire_put64(&m[34], SLAVE_ID);
    ptp_wire_put16(&m[42], 1);
    return m;
}

bool inject(uint32_t ifhandle, const std::vector<uint8_t> &bytes)
{
    pktio_test_rx_type p{};
    p.kind = SPIO_CONN_KIND_IPV4;
    p.ifhandle = ifhandle;
    p.bytes = bytes;
    return pktio_test_inject(p);
}

const std::vector<uint8_t> ANNOUNCE_GRANT = {0, 5, 0, 8, 0xb0, 1, 0, 0, 1, 0x2c, 0, 1};

// What reaches the slave from its master's address is taken only when every length in it holds:
// a frame that lies about a length, is not for it, or is not a well-formed Signaling message is
// dropped without being read past its end (the sanitizers watch) and grants nothing; a denial is
// reported once and asked again a query later.
TEST_F(SimPeerTest, UnicastSlaveTakesOnlyWellFormedSignaling)
{
    start_unicast_slave();
    evm_run_until_idle(evm);
    auto mutated = [](std::vector<uint8_t> f, size_t at, uint8_t value) {
        f[at] = value;
        return f;
    };
    const std::vector<uint8_t> good = udp_ipv4(signaling(ANNOUNCE_GRANT));
    std::vector<uint8_t> bad_udp_sum = good;
    bad_udp_sum[27] ^= 1;
    std::vector<uint8_t> udp_len_beyond = good;
    ptp_wire_put16(&udp_len_beyond[24], static_cast<uint16_t>(good.size()));
    ptp_wire_put16(&udp_len_beyond[26], 0); // no checksum: the length alone is wrong
    std::vector<uint8_t> other_sender = good;
    other_sender[15] = 9;
    ptp_wire_put16(&other_sender[10], 0);
    ptp_wire_put16(&other_sender[10], ipv4_checksum(other_sender.data(), 20));
    ptp_wire_put16(&other_sender[26], 0);
    struct case_type {
        const char *what;
        std::vector<uint8_t> bytes;
        uint64_t dropped;
    };
    const case_type cases[] = {
        {"runt", std::vector<uint8_t>(20, 0x45), 1},
        {"IPv6 version", mutated(good, 0, 0x65), 1},
        {"header of 4 words", mutated(good, 0, 0x44), 1},
        {"total length beyond the bytes", mutated(good, 3, static_cast<uint8_t>(good.size() + 1)), 1},
        {"not UDP", mutated(good, 9, 6), 1},
        {"for another address", mutated(good, 19, 7), 1},
        {"bad header checksum", mutated(good, 11, good[11] ^ 1), 1},
        {"another port", udp_ipv4(signaling(ANNOUNCE_GRANT), 5000), 1},
        {"UDP length beyond the packet", udp_len_beyond, 1},
        {"bad UDP checksum", bad_udp_sum, 1},
        {"from another sender", other_sender, 1},
        {"Signaling shorter than its header", udp_ipv4(signaling({}, 40)), 1},
        {"TLV beyond the message", udp_ipv4(signaling({0, 5, 0, 20, 0xb0, 1, 0, 0, 1, 0x2c, 0, 1})), 1},
        {"TLV header cut short", udp_ipv4(signaling({0, 5})), 1},
        {"Grant of a wrong length", udp_ipv4(signaling({0, 5, 0, 6, 0xb0, 1, 0, 0, 1, 0x2c})), 1},
        {"message length beyond the datagram", udp_ipv4(signaling(ANNOUNCE_GRANT, 60)), 1},
        {"Grant for Management", udp_ipv4(signaling({0, 5, 0, 8, 0xd0, 1, 0, 0, 1, 0x2c, 0, 1})), 0},
        {"for another port", udp_ipv4(mutated(signaling(ANNOUNCE_GRANT), 43, 2)), 0},
    };
    for (const case_type &c : cases) {
        SCOPED_TRACE(c.what);
        const uint64_t before = simpeer::endpoint_counts(slave).dropped;
        ASSERT_TRUE(inject(SLAVE_IFH, c.bytes));
        evm_run_until_idle(evm);
        EXPECT_EQ(simpeer::endpoint_counts(slave).dropped, before + c.dropped);
        EXPECT_TRUE(simpeer::endpoint_grants(slave).empty());
    }
    // The well-formed one grants Announce; a denial of Sync is said once however often it comes.
    ASSERT_TRUE(inject(SLAVE_IFH, good));
    evm_run_until_idle(evm);
    EXPECT_EQ(simpeer::endpoint_grants(slave), (std::vector<simpeer::grant_type>{{GM_IP, 0xB, 1, 300}}));
    const std::vector<uint8_t> sync_denied = udp_ipv4(signaling({0, 5, 0, 8, 0x00, 0, 0, 0, 0, 0, 0, 0}));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(inject(SLAVE_IFH, sync_denied));
        evm_run_until_idle(evm);
    }
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "slave: Sync denied by 10.0.0.1, asking again every 1 s"), 1);
    pktio_test_sent_clear();
    pass_ms(1000);
    const auto asked = signaling_sent(SLAVE_IFH);
    ASSERT_EQ(asked.size(), 1u); // Sync and Delay-Resp again; Announce is held
    EXPECT_EQ(std::vector<uint8_t>(asked[0].begin() + 44, asked[0].end()),
              (std::vector<uint8_t>{0, 4, 0, 6, 0x00, 0, 0, 0, 1, 0x2c, 0, 4, 0, 6, 0x90, 0, 0, 0, 1, 0x2c}));
}

// The grandmaster grants only the three streams it has, and no longer than its longest duration.
TEST_F(SimPeerTest, UnicastGrandmasterDeniesWhatItCannotGrant)
{
    start_unicast_gm();
    evm_run_until_idle(evm);
    // Requests from the slave's address to the grandmaster's: Pdelay-Resp, and Announce for 4000 s.
    std::vector<uint8_t> m = signaling({0, 4, 0, 6, 0x30, 0, 0, 0, 0, 60, 0, 4, 0, 6, 0xb0, 1, 0, 0, 0x0f, 0xa0});
    ptp_wire_put64(&m[20], SLAVE_ID);
    ptp_wire_put64(&m[34], ~0ull);
    ptp_wire_put16(&m[42], 0xffff);
    std::vector<uint8_t> f = udp_ipv4(m);
    std::memcpy(&f[12], SLAVE_IP.data(), 4);
    std::memcpy(&f[16], GM_IP.data(), 4);
    ptp_wire_put16(&f[10], 0);
    ptp_wire_put16(&f[10], ipv4_checksum(f.data(), 20));
    ptp_wire_put16(&f[26], 0);
    ASSERT_TRUE(inject(GM_IFH, f));
    evm_run_until_idle(evm);
    EXPECT_EQ(simpeer::endpoint_grants(gm), (std::vector<simpeer::grant_type>{{SLAVE_IP, 0xB, 1, 300}}));
    const auto answers = signaling_sent(GM_IFH);
    ASSERT_EQ(answers.size(), 1u);
    // Addressed to the slave's port; a denial (duration 0), then the grant, renewal invited.
    EXPECT_EQ(std::vector<uint8_t>(answers[0].begin() + 34, answers[0].end()),
              (std::vector<uint8_t>{0x02, 0x00, 0x00, 0xff, 0xfe, 0x00, 0x0c, 0x01, 0x00, 0x01,       //
                                    0,    5,    0,    8,    0x30, 0,    0,    0,    0,    0,    0, 0, //
                                    0,    5,    0,    8,    0xb0, 1,    0,    0,    1,    0x2c, 0, 1}));
    EXPECT_TRUE(said(gm_lines, "grandmaster: denied Pdelay-Resp to 10.0.0.2"));
}

TEST(SimPeerPercentile, NearestRankOfAbsoluteValues)
{
    EXPECT_EQ(simpeer::abs_percentile({}, 50), 0);
    EXPECT_EQ(simpeer::abs_percentile({-5, 1, 3, -2}, 50), 2);
    EXPECT_EQ(simpeer::abs_percentile({-5, 1, 3, -2}, 99), 5);
    EXPECT_EQ(simpeer::abs_percentile({7}, 0), 7);
}

} // namespace
