// The offload plugin on in-memory links and virtual time: what master sessions send, the
// Delay-Resp answers, slave-session timestamps, and the statistics notifications.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "evm.h"
#include "evm_test.h"
#include "ip_helpers.h"
#include "pktio_test.h"
#include "plat_clock_test.h"
#include "ptpclock.h"
#include "ptpclock_test.h"
#include "spio.h"

namespace {

constexpr uint32_t IFH = 0x10, PEER_IFH = 0x20;
const uint8_t MAC[6] = {2, 0, 0, 0, 0, 1}, PEER_MAC[6] = {2, 0, 0, 0, 0, 2};
const uint8_t MCAST_MAC[6] = {0x01, 0x1b, 0x19, 0, 0, 0};
const uint8_t SRC4[4] = {10, 0, 0, 1}, PEER4[4] = {10, 0, 0, 2}, MCAST4[4] = {224, 0, 1, 129};
const uint8_t SRC6[16] = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
const uint8_t PEER6[16] = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
const uint8_t MCAST6[16] = {0xff, 0x0e, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x81};
constexpr uint64_t CLOCK = 0x0011223344556677ull, GM = 0xAABBCCDDEEFF0011ull, MASTER_CLOCK = 0x1122334455667788ull;
constexpr uint64_t PTP_BASE = 1800000000ull * 1000000000ull; // the PTP clock is set here at the start

struct rx_type {
    uint32_t ifhandle;
    uint8_t subtype;
    std::vector<uint8_t> bytes;
};
std::vector<rx_type> received;

void rx_cb(uint32_t count, ctx_packet_type **packets)
{
    for (uint32_t i = 0; i < count; i++) {
        uint32_t ifh = 0, len = 0;
        uint8_t subtype = 0;
        ctx_get_u32(packets[i], CTX_OPT_IN_IFHANDLE, &ifh);
        ctx_get_u32(packets[i], CTX_OPT_CURRENT_LENGTH, &len);
        ctx_get_u8(packets[i], CTX_OPT_SUBTYPE, &subtype);
        std::vector<uint8_t> b(len);
        size_t n = 0;
        ctx_read(packets[i], CTX_LAYER_CONTEXT, 0, b.data(), b.size(), &n);
        received.push_back({ifh, subtype, b});
    }
    ctx_free(packets, count);
}
void done_cb(uint32_t, uint32_t *, void *) {}

uint16_t rd16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
uint32_t rd32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}
uint64_t rd64(const uint8_t *p)
{
    uint64_t v = 0;
    for (int i = 0; i < 8; i++) {
        v = v << 8 | p[i];
    }
    return v;
}
uint64_t rd_ts(const uint8_t *p)
{
    uint64_t s = 0;
    for (int i = 0; i < 6; i++) {
        s = s << 8 | p[i];
    }
    uint32_t ns = 0;
    for (int i = 6; i < 10; i++) {
        ns = ns << 8 | p[i];
    }
    return s * 1000000000ull + ns;
}
void wr(std::vector<uint8_t> &b, size_t at, uint64_t v, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        b[at + i] = static_cast<uint8_t>(v >> (8 * (n - 1 - i)));
    }
}
void wr_ts(std::vector<uint8_t> &b, size_t at, uint64_t ns)
{
    wr(b, at, ns / 1000000000ull, 6);
    wr(b, at + 6, ns % 1000000000ull, 4);
}

uint8_t addr_type(uint32_t kind)
{
    return kind == SPIO_CONN_KIND_ETHERNET ? 1 : kind == SPIO_CONN_KIND_IPV4 ? 2 : 3;
}

std::vector<uint8_t> key_of(uint8_t session_kind, uint32_t kind, const uint8_t *addr)
{
    std::vector<uint8_t> k(kind == SPIO_CONN_KIND_IPV6 ? 24 : 8, 0);
    k[0] = session_kind;
    k[1] = addr_type(kind);
    if (kind == SPIO_CONN_KIND_ETHERNET) {
        std::memcpy(&k[2], addr, 6);
    } else if (kind == SPIO_CONN_KIND_IPV4) {
        std::memcpy(&k[4], addr, 4);
    } else {
        std::memcpy(&k[8], addr, 16);
    }
    return k;
}

// A master record: Announce every second, Sync four times a second (two-step unless said),
// Delay-Resp interval 2^-1.
std::vector<uint8_t> master_data(uint32_t kind, uint32_t tags, uint8_t flags = 0x07, uint8_t sync_flag0 = 0x02)
{
    std::vector<uint8_t> d(48, 0);
    wr(d, 0, CLOCK, 8);
    wr(d, 8, 3, 2);
    d[10] = 24; // domain
    d[11] = 5;
    d[12] = 3;
    wr(d, 16, GM, 8);
    d[24] = flags;
    d[25] = 100; // priority1
    d[26] = 120; // priority2
    d[27] = 0x21;
    d[28] = 6;
    d[29] = 0;
    d[30] = 0xFE;
    d[31] = 0x20;
    wr(d, 32, 37, 2);
    wr(d, 34, 0x4E5D, 2);
    wr(d, 36, 1, 2);
    wr(d, 38, 0x0014, 2);
    d[40] = sync_flag0;
    d[42] = 0;
    d[44] = 0xFF;
    if (kind == SPIO_CONN_KIND_ETHERNET) {
        d.resize(64 + 4 * tags, 0);
        const uint32_t tb = 4 * tags;
        std::memcpy(&d[48], &tb, 4);
        std::memcpy(&d[52], MAC, 6);
        const uint32_t stack[2] = {0x88a80064, 0x810000c8};
        for (uint32_t i = 0; i < tags; i++) {
            wr(d, 58 + 4 * i, stack[i], 4);
        }
    } else if (kind == SPIO_CONN_KIND_IPV4) {
        d.resize(64, 0);
        std::memcpy(&d[48], SRC4, 4);
        d[56] = 46;
        d[57] = 10;
        d[58] = 7;
    } else {
        d.resize(80, 0);
        std::memcpy(&d[48], SRC6, 16);
        d[68] = 46;
        d[69] = 10;
        d[70] = 9;
    }
    return d;
}

// A slave record towards a unicast master: take Sync, Delay-Req every 2^-1 s.
std::vector<uint8_t> slave_data(uint32_t kind, const uint8_t *master)
{
    std::vector<uint8_t> d(24, 0);
    wr(d, 0, CLOCK, 8);
    wr(d, 8, 3, 2);
    d[10] = 24;
    d[16] = 0x04;
    d[18] = 0x03;
    d[19] = 0xFF;
    if (kind == SPIO_CONN_KIND_ETHERNET) {
        d.resize(48, 0);
        std::memcpy(&d[24], master, 6);
        std::memcpy(&d[36], MAC, 6);
    } else if (kind == SPIO_CONN_KIND_IPV4) {
        d.resize(48, 0);
        std::memcpy(&d[24], master, 4);
        std::memcpy(&d[28], SRC4, 4);
        d[38] = 7;
    } else {
        d.resize(72, 0);
        std::memcpy(&d[24], master, 16);
        std::memcpy(&d[40], SRC6, 16);
        d[62] = 9;
    }
    return d;
}

// A message from the peer's side as the packet of its connection kind.
std::vector<uint8_t> wrap(uint32_t kind, const uint8_t *src, const uint8_t *dst, const std::vector<uint8_t> &msg,
                          uint16_t port)
{
    std::vector<uint8_t> b;
    if (kind == SPIO_CONN_KIND_ETHERNET) {
        b.assign(14, 0);
        std::memcpy(&b[0], dst, 6);
        std::memcpy(&b[6], src, 6);
        b[12] = 0x88;
        b[13] = 0xF7;
    } else if (kind == SPIO_CONN_KIND_IPV4) {
        b.assign(28, 0);
        b[0] = 0x45;
        wr(b, 2, 28 + msg.size(), 2);
        b[8] = 1;
        b[9] = 17;
        std::memcpy(&b[12], src, 4);
        std::memcpy(&b[16], dst, 4);
        wr(b, 20, port, 2);
        wr(b, 22, port, 2);
        wr(b, 24, 8 + msg.size(), 2);
    } else {
        b.assign(48, 0);
        b[0] = 0x60;
        wr(b, 4, 8 + msg.size(), 2);
        b[6] = 17;
        b[7] = 1;
        std::memcpy(&b[8], src, 16);
        std::memcpy(&b[24], dst, 16);
        wr(b, 40, port, 2);
        wr(b, 42, port, 2);
        wr(b, 44, 8 + msg.size(), 2);
    }
    b.insert(b.end(), msg.begin(), msg.end());
    return b;
}

std::vector<uint8_t> ptp_msg(uint8_t type, size_t len, uint16_t seq, uint64_t clock, uint8_t flag0 = 0)
{
    std::vector<uint8_t> m(len, 0);
    m[0] = type;
    m[1] = 2;
    wr(m, 2, len, 2);
    m[4] = 24;
    m[6] = flag0;
    wr(m, 20, clock, 8);
    wr(m, 28, 1, 2);
    wr(m, 30, seq, 2);
    return m;
}

struct sent_msg {
    uint32_t ifhandle;
    std::vector<uint8_t> frame;
    size_t ptp; // offset of the PTP message in the frame
    const uint8_t *msg() const { return frame.data() + ptp; }
};

class OffloadPlugin : public testing::TestWithParam<uint32_t> {
protected:
    event_mgr_type *evm = nullptr;
    spio_conn_type *agent = nullptr; // attached to IFH, opened first: it gets the notifications
    spio_conn_type *peer = nullptr;  // attached to PEER_IFH: sees what the plugin sends
    ptpclock_type *clk = nullptr;

    static void SetUpTestSuite()
    {
        static const std::string prefix = "offload_plugin_test." + std::to_string(getpid()) + ".";
        ptpclock_test_set_prefix(prefix.c_str());
    }
    static void TearDownTestSuite() { ptpclock_test_unlink("local"); }

    uint32_t kind() const { return GetParam(); }

    void SetUp() override
    {
        plat_clock_use_virtual();
        pktio_test_reset();
        received.clear();
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_EQ(pktio_test_intf_add("Gi0/0/0/1", IFH, MAC), 0u);
        ASSERT_EQ(pktio_test_intf_add("Gi0/0/0/2", PEER_IFH, PEER_MAC), 0u);
        ASSERT_EQ(pktio_test_link(IFH, PEER_IFH), 0u);
        spio_init_params_type p{SPIO_PARAMS_VERSION, rx_cb, nullptr, kind(), evm};
        ASSERT_EQ(spio_init(&p, &agent), 0u);
        ASSERT_EQ(spio_init(&p, &peer), 0u);
        attach(agent, IFH);
        attach(peer, PEER_IFH);
        ASSERT_EQ(ptpclock_open(nullptr, &clk), 0u);
        ASSERT_EQ(ptpclock_set_freq(clk, 0), 0u);
        ASSERT_EQ(ptpclock_settime(clk, PTP_BASE), 0u);
    }
    void TearDown() override
    {
        spio_close(agent);
        spio_close(peer);
        event_manager_destroy(evm);
        ptpclock_close(clk);
        pktio_test_reset();
        plat_clock_use_real();
    }
    void attach(spio_conn_type *c, uint32_t ifh)
    {
        uint32_t dir = 1, status = 99;
        ASSERT_EQ(spio_attach2(c, 0, 1, &ifh, &dir, &status), 0u);
        ASSERT_EQ(status, 0u);
    }
    // Creates one session; its create status.
    uint32_t create(const std::vector<uint8_t> &key, const std::vector<uint8_t> &data)
    {
        const uint32_t ifh = IFH, pv = 0;
        const void *k = key.data();
        const void *d = data.data();
        const auto kl = static_cast<uint16_t>(key.size()), dl = static_cast<uint16_t>(data.size());
        spio_offload_request_type req{0, 1, &ifh, &pv, &k, &kl, &d, &dl};
        static uint32_t status;
        status = 0;
        spio_offload_completion_type done{&status, done_cb, nullptr};
        EXPECT_EQ(spio_offload_nb(agent, &req, &done, nullptr), 0u);
        evm_run_until_idle(evm);
        return status;
    }
    const uint8_t *mcast() const
    {
        return kind() == SPIO_CONN_KIND_ETHERNET ? MCAST_MAC : kind() == SPIO_CONN_KIND_IPV4 ? MCAST4 : MCAST6;
    }
    const uint8_t *peer_addr() const
    {
        return kind() == SPIO_CONN_KIND_ETHERNET ? PEER_MAC : kind() == SPIO_CONN_KIND_IPV4 ? PEER4 : PEER6;
    }
    const uint8_t *own_addr() const
    {
        return kind() == SPIO_CONN_KIND_ETHERNET ? MAC : kind() == SPIO_CONN_KIND_IPV4 ? SRC4 : SRC6;
    }
    size_t ptp_offset(const std::vector<uint8_t> &f) const
    {
        if (kind() == SPIO_CONN_KIND_ETHERNET) {
            size_t off = 12;
            while (rd16(&f[off]) == 0x8100 || rd16(&f[off]) == 0x88a8) {
                off += 4;
            }
            return off + 2;
        }
        return kind() == SPIO_CONN_KIND_IPV4 ? 28 : 48;
    }
    // What reached the peer's end, by PTP message type.
    std::vector<sent_msg> at_peer(uint8_t type)
    {
        std::vector<sent_msg> out;
        for (const auto &r : received) {
            if (r.ifhandle == PEER_IFH && r.subtype == 0) {
                sent_msg m{r.ifhandle, r.bytes, ptp_offset(r.bytes)};
                if ((m.msg()[0] & 0x0F) == type) {
                    out.push_back(m);
                }
            }
        }
        return out;
    }
    std::vector<std::vector<uint8_t>> notifications()
    {
        std::vector<std::vector<uint8_t>> out;
        for (const auto &r : received) {
            if (r.subtype == CTX_SUBTYPE_OFFLOAD_NOTIFICATION) {
                out.push_back(r.bytes);
            }
        }
        return out;
    }
    // A message from the peer's address arriving on the agent's interface at the PTP time given.
    void arrive(const std::vector<uint8_t> &msg, const uint8_t *dst, uint64_t at_ptp)
    {
        uint64_t now = 0;
        ASSERT_EQ(ptpclock_gettime(clk, &now), 0u);
        pktio_test_rx_type in;
        in.kind = kind();
        in.ifhandle = IFH;
        const bool event = (msg[0] & 0x0F) < 8;
        in.bytes = wrap(kind(), peer_addr(), dst, msg, event ? 319 : 320);
        // The platform clock's wall time that maps to at_ptp.
        std::vector<uint8_t> ts(10);
        wr_ts(ts, 0, static_cast<uint64_t>(plat_clock_wall_ns() - static_cast<int64_t>(now - at_ptp)));
        in.timestamp = ts;
        ASSERT_TRUE(pktio_test_inject(in));
        evm_run_until_idle(evm);
    }
};

TEST_P(OffloadPlugin, MasterSessionSendsAnnounceAndTwoStepSyncAtTheirIntervals)
{
    ASSERT_EQ(create(key_of(1, kind(), mcast()), master_data(kind(), 0)), 0u);
    ASSERT_EQ(plat_clock_advance_ms(999), 0u);
    evm_run_until_idle(evm);
    auto ann = at_peer(0xB), sync = at_peer(0x0), fup = at_peer(0x8);
    ASSERT_EQ(ann.size(), 1u); // at 0 (the next at 1 s)
    ASSERT_EQ(sync.size(), 4u);
    ASSERT_EQ(fup.size(), 4u);

    const uint8_t *a = ann[0].msg();
    EXPECT_EQ(rd16(a + 2), 64u);
    EXPECT_EQ(a[1], 2u);
    EXPECT_EQ(a[4], 24u);
    EXPECT_EQ(rd16(a + 6), 0x0014u);
    EXPECT_EQ(rd64(a + 20), CLOCK);
    EXPECT_EQ(rd16(a + 28), 3u);
    EXPECT_EQ(a[32], 5u);
    EXPECT_EQ(a[33], 0u);
    EXPECT_EQ(rd16(a + 44), 37u);
    EXPECT_EQ(a[47], 100u);
    EXPECT_EQ(a[48], 6u);
    EXPECT_EQ(a[49], 0x21u);
    EXPECT_EQ(rd16(a + 50), 0x4E5Du);
    EXPECT_EQ(a[52], 120u);
    EXPECT_EQ(rd64(a + 53), GM);
    EXPECT_EQ(rd16(a + 61), 1u);
    EXPECT_EQ(a[63], 0x20u);

    for (size_t i = 0; i < sync.size(); i++) {
        const uint8_t *s = sync[i].msg();
        const uint8_t *f = fup[i].msg();
        EXPECT_EQ(rd16(s + 30), i);
        EXPECT_EQ(rd16(f + 30), i);
        EXPECT_EQ(s[6], 0x02u);
        EXPECT_EQ(s[32], 0u);
        EXPECT_EQ(f[32], 2u);
        EXPECT_EQ(static_cast<int8_t>(s[33]), -2);
        EXPECT_EQ(rd_ts(s + 34), 0u); // two-step: the time is in the Follow-Up
        EXPECT_EQ(rd_ts(f + 34), PTP_BASE + 250000000ull * i);
    }
    // Over the encapsulation: addresses, ports and DSCP per message class, valid checksums.
    const std::vector<uint8_t> &sf = sync[0].frame, &af = ann[0].frame;
    if (kind() == SPIO_CONN_KIND_ETHERNET) {
        EXPECT_EQ(std::vector<uint8_t>(sf.begin(), sf.begin() + 6), std::vector<uint8_t>(MCAST_MAC, MCAST_MAC + 6));
        EXPECT_EQ(std::vector<uint8_t>(sf.begin() + 6, sf.begin() + 12), std::vector<uint8_t>(MAC, MAC + 6));
        EXPECT_EQ(rd16(&sf[12]), 0x88F7u);
    } else if (kind() == SPIO_CONN_KIND_IPV4) {
        EXPECT_EQ(sf[1], 46u << 2);
        EXPECT_EQ(af[1], 10u << 2);
        EXPECT_EQ(sf[8], 7u);
        EXPECT_EQ(std::vector<uint8_t>(sf.begin() + 16, sf.begin() + 20), std::vector<uint8_t>(MCAST4, MCAST4 + 4));
        EXPECT_EQ(ipv4_checksum(sf.data(), 20), 0u);
        EXPECT_EQ(rd16(&sf[22]), 319u);
        EXPECT_EQ(rd16(&af[22]), 320u);
        EXPECT_EQ(ipv4_ulp_checksum(17, &sf[12], &sf[16], &sf[20], sf.size() - 20), 0xFFFFu);
    } else {
        EXPECT_EQ(((sf[0] & 0x0F) << 4 | sf[1] >> 4), 46 << 2);
        EXPECT_EQ(sf[7], 9u);
        EXPECT_EQ(std::vector<uint8_t>(sf.begin() + 24, sf.begin() + 40), std::vector<uint8_t>(MCAST6, MCAST6 + 16));
        EXPECT_EQ(rd16(&sf[42]), 319u);
        EXPECT_EQ(rd16(&af[42]), 320u);
        EXPECT_EQ(ipv6_ulp_checksum_heap(17, &sf[8], &sf[24], &sf[40], sf.size() - 40), 0xFFFFu);
    }
    // The agent's connection saw none of it.
    for (const auto &r : received) {
        EXPECT_EQ(r.ifhandle, PEER_IFH);
    }
}

// Moving an interface to another encapsulation detaches it from this connection, and its sessions
// there go with it: nothing is sent for them any more.
TEST_P(OffloadPlugin, DetachingTheInterfaceEndsItsSessions)
{
    ASSERT_EQ(create(key_of(1, kind(), mcast()), master_data(kind(), 0)), 0u);
    ASSERT_EQ(plat_clock_advance_ms(100), 0u);
    evm_run_until_idle(evm);
    ASSERT_FALSE(at_peer(0x0).empty());
    uint32_t ifh = IFH, dir = 0, status = 99;
    ASSERT_EQ(spio_attach2(agent, 0, 1, &ifh, &dir, &status), 0u);
    EXPECT_TRUE(pktio_test_sessions(kind()).empty());
    received.clear();
    ASSERT_EQ(plat_clock_advance_s(2), 0u);
    evm_run_until_idle(evm);
    EXPECT_TRUE(at_peer(0xB).empty());
    EXPECT_TRUE(at_peer(0x0).empty());
}

TEST_P(OffloadPlugin, DelayReqIsAnsweredWithItsReceiveTimeAndNeverReachesTheHost)
{
    ASSERT_EQ(create(key_of(1, kind(), mcast()), master_data(kind(), 0, 0x04)), 0u);
    auto req = ptp_msg(0x1, 44, 77, MASTER_CLOCK);
    wr(req, 8, 0x12345, 8); // the request's correction comes back
    arrive(req, mcast(), PTP_BASE + 123456789);
    auto resp = at_peer(0x9);
    ASSERT_EQ(resp.size(), 1u);
    const uint8_t *r = resp[0].msg();
    EXPECT_EQ(rd16(r + 2), 54u);
    EXPECT_EQ(rd16(r + 30), 77u);
    EXPECT_EQ(r[32], 3u);
    EXPECT_EQ(static_cast<int8_t>(r[33]), -1);
    EXPECT_EQ(rd64(r + 8), 0x12345u);
    EXPECT_EQ(rd_ts(r + 34), PTP_BASE + 123456789);
    EXPECT_EQ(rd64(r + 44), MASTER_CLOCK);
    EXPECT_EQ(rd16(r + 52), 1u);
    for (const auto &x : received) {
        EXPECT_NE(x.ifhandle, IFH) << "the Delay-Req reached the host";
    }
    // Another domain is dropped; without the Delay-Resp flag the host gets the request.
    req[4] = 25;
    received.clear();
    arrive(req, mcast(), PTP_BASE);
    EXPECT_TRUE(received.empty());
    ASSERT_EQ(create(key_of(1, kind(), mcast()), master_data(kind(), 0, 0x01)), 0u);
    req[4] = 24;
    received.clear();
    arrive(req, mcast(), PTP_BASE);
    EXPECT_TRUE(at_peer(0x9).empty());
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.back().ifhandle, IFH);
}

TEST_P(OffloadPlugin, UnicastPeerSessionSendsToThePeerOnly)
{
    ASSERT_EQ(create(key_of(1, kind(), peer_addr()), master_data(kind(), 0, 0x02, 0x06)), 0u);
    ASSERT_EQ(plat_clock_advance_ms(100), 0u);
    auto sync = at_peer(0x0);
    ASSERT_EQ(sync.size(), 1u);
    EXPECT_TRUE(at_peer(0xB).empty());
    const auto &f = sync[0].frame;
    if (kind() == SPIO_CONN_KIND_ETHERNET) {
        EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 6), std::vector<uint8_t>(PEER_MAC, PEER_MAC + 6));
    } else if (kind() == SPIO_CONN_KIND_IPV4) {
        EXPECT_EQ(std::vector<uint8_t>(f.begin() + 16, f.begin() + 20), std::vector<uint8_t>(PEER4, PEER4 + 4));
    } else {
        EXPECT_EQ(std::vector<uint8_t>(f.begin() + 24, f.begin() + 40), std::vector<uint8_t>(PEER6, PEER6 + 16));
    }
    // The Follow-Up keeps the unicast flag only.
    EXPECT_EQ(sync[0].msg()[6], 0x06u);
    auto fup = at_peer(0x8);
    ASSERT_EQ(fup.size(), 1u);
    EXPECT_EQ(fup[0].msg()[6], 0x04u);
    // One-step: the Sync carries its own time and no Follow-Up follows.
    ASSERT_EQ(create(key_of(1, kind(), peer_addr()), master_data(kind(), 0, 0x02, 0x04)), 0u);
    received.clear();
    ASSERT_EQ(plat_clock_advance_ms(250), 0u);
    sync = at_peer(0x0);
    ASSERT_EQ(sync.size(), 1u);
    EXPECT_EQ(rd_ts(sync[0].msg() + 34), PTP_BASE + 250000000ull); // the update kept the phase
    EXPECT_TRUE(at_peer(0x8).empty());
}

// Sessions of one connection due at different times: each keeps its own interval and phase
// through the others' firings, an update that shortens its interval, and the deletion of another,
// which sends nothing after it.
TEST_P(OffloadPlugin, SessionsKeepTheirOwnPhasesThroughUpdatesAndDeletions)
{
    const auto mkey = key_of(1, kind(), mcast()), ukey = key_of(1, kind(), peer_addr());
    auto sync_only = [this](int8_t log_sync) {
        auto d = master_data(kind(), 0, 0x02);
        d[30] = static_cast<uint8_t>(log_sync);
        return d;
    };
    // The Follow-Ups' times (ms since the start) of the sessions to the multicast and the unicast
    // address, in order.
    auto times = [this](const uint8_t *dst) {
        const size_t at = kind() == SPIO_CONN_KIND_ETHERNET ? 0 : kind() == SPIO_CONN_KIND_IPV4 ? 16 : 24;
        const size_t n = kind() == SPIO_CONN_KIND_ETHERNET ? 6 : kind() == SPIO_CONN_KIND_IPV4 ? 4 : 16;
        std::vector<uint64_t> out;
        for (const auto &m : at_peer(0x8)) {
            if (std::memcmp(&m.frame[at], dst, n) == 0) {
                out.push_back((rd_ts(m.msg() + 34) - PTP_BASE) / 1000000ull);
            }
        }
        return out;
    };
    ASSERT_EQ(create(mkey, sync_only(-2)), 0u); // 250 ms from 0
    ASSERT_EQ(plat_clock_advance_ms(100), 0u);
    evm_run_until_idle(evm);
    ASSERT_EQ(create(ukey, sync_only(-3)), 0u); // 125 ms from 100
    ASSERT_EQ(plat_clock_advance_ms(400), 0u);
    evm_run_until_idle(evm);
    EXPECT_EQ(times(mcast()), (std::vector<uint64_t>{0, 250, 500}));
    EXPECT_EQ(times(peer_addr()), (std::vector<uint64_t>{100, 225, 350, 475}));

    // Shortened: the next is one new interval from now (at 500 + 125 rather than 750).
    ASSERT_EQ(create(mkey, sync_only(-3)), 0u);
    received.clear();
    ASSERT_EQ(plat_clock_advance_ms(250), 0u);
    evm_run_until_idle(evm);
    EXPECT_EQ(times(mcast()), (std::vector<uint64_t>{625, 750}));
    EXPECT_EQ(times(peer_addr()), (std::vector<uint64_t>{600, 725}));

    const uint32_t ifh = IFH, pv = 0;
    const void *k = ukey.data();
    const auto kl = static_cast<uint16_t>(ukey.size());
    spio_offload_delete_request_type del{0, 1, &ifh, &pv, &k, &kl};
    uint32_t status = 99;
    ASSERT_EQ(spio_offload_delete(agent, &del, &status), 0u);
    ASSERT_EQ(status, 0u);
    received.clear();
    ASSERT_EQ(plat_clock_advance_ms(250), 0u);
    evm_run_until_idle(evm);
    EXPECT_EQ(times(mcast()), (std::vector<uint64_t>{875, 1000}));
    EXPECT_TRUE(times(peer_addr()).empty());
}

TEST_P(OffloadPlugin, VlanTagsStandBetweenTheAddressesAndTheEtherType)
{
    if (kind() != SPIO_CONN_KIND_ETHERNET) {
        GTEST_SKIP() << "tags are carried by Ethernet sessions";
    }
    ASSERT_EQ(create(key_of(1, kind(), mcast()), master_data(kind(), 2, 0x01)), 0u);
    evm_run_until_idle(evm);
    auto ann = at_peer(0xB);
    ASSERT_EQ(ann.size(), 1u);
    const auto &f = ann[0].frame;
    ASSERT_EQ(f.size(), 14u + 8u + 64u);
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + 12, f.begin() + 22),
              (std::vector<uint8_t>{0x88, 0xa8, 0x00, 0x64, 0x81, 0x00, 0x00, 0xc8, 0x88, 0xf7}));
}

TEST_P(OffloadPlugin, SlaveSessionTimestampsTheMastersExchanges)
{
    const auto key = key_of(2, kind(), peer_addr());
    ASSERT_EQ(create(key, slave_data(kind(), peer_addr())), 0u);
    evm_run_until_idle(evm);
    // The first Delay-Req leaves at once (t3 is the clock's start), to the master.
    auto dreq = at_peer(0x1);
    ASSERT_EQ(dreq.size(), 1u);
    const uint8_t *q = dreq[0].msg();
    EXPECT_EQ(q[6], 0x04u);
    EXPECT_EQ(q[32], 1u);
    EXPECT_EQ(q[33], 0x7Fu);
    EXPECT_EQ(rd64(q + 20), CLOCK);
    const uint16_t dreq_seq = rd16(q + 30);

    auto sync = ptp_msg(0x0, 44, 5, MASTER_CLOCK, 0x02);
    wr(sync, 8, 3u << 16, 8);
    auto fup = ptp_msg(0x8, 44, 5, MASTER_CLOCK);
    wr(fup, 8, 1u << 16, 8);
    wr_ts(fup, 34, PTP_BASE - 5000);
    auto stale = fup;
    wr(stale, 30, 4, 2);
    auto resp = ptp_msg(0x9, 54, dreq_seq, MASTER_CLOCK);
    wr(resp, 8, 2u << 16, 8);
    wr_ts(resp, 34, PTP_BASE + 7000);
    wr(resp, 44, CLOCK, 8);
    wr(resp, 52, 3, 2);
    auto others = resp; // the answer to another slave of the master
    wr(others, 52, 4, 2);
    const uint8_t *to = kind() == SPIO_CONN_KIND_ETHERNET ? MAC : own_addr();
    arrive(sync, to, PTP_BASE + 1000);
    arrive(stale, to, PTP_BASE + 1100);
    arrive(fup, to, PTP_BASE + 1200);
    arrive(others, to, PTP_BASE + 1300);
    arrive(resp, to, PTP_BASE + 1400);

    struct {
        uint8_t message;
        uint64_t first, second;
        int64_t c1, c2;
    } want[] = {
        {1, PTP_BASE - 5000, PTP_BASE + 1000, 3 << 16, 1 << 16},
        {2, PTP_BASE + 7000, PTP_BASE, -(2 << 16), 0},
    };
    auto n = notifications();
    ASSERT_EQ(n.size(), 2u);
    for (size_t i = 0; i < n.size(); i++) {
        SCOPED_TRACE(i);
        const auto &b = n[i];
        ASSERT_EQ(b.size(), 68u);
        EXPECT_EQ(b[0], 1u);
        EXPECT_EQ(b[1], want[i].message);
        EXPECT_EQ(rd32(&b[4]), IFH);
        EXPECT_EQ(std::vector<uint8_t>(b.begin() + 8, b.begin() + 8 + static_cast<std::ptrdiff_t>(key.size())), key);
        EXPECT_EQ(rd_ts(&b[32]), want[i].first);
        EXPECT_EQ(rd_ts(&b[42]), want[i].second);
        EXPECT_EQ(static_cast<int64_t>(rd64(&b[52])), want[i].c1);
        EXPECT_EQ(static_cast<int64_t>(rd64(&b[60])), want[i].c2);
    }
    // Only notifications reached the host.
    for (const auto &r : received) {
        EXPECT_TRUE(r.ifhandle == PEER_IFH || r.subtype == CTX_SUBTYPE_OFFLOAD_NOTIFICATION);
    }
    // Delay-Req goes on at its interval.
    ASSERT_EQ(plat_clock_advance_ms(1000), 0u);
    EXPECT_EQ(at_peer(0x1).size(), 3u);
}

// The statistics request of one kind for the sessions (kind 0) or interfaces (kind 1) given.
spio_offload_stats_request_type stats_req(uint32_t what, uint32_t solicited, std::vector<uint32_t> &ifhs,
                                          std::vector<const void *> &keys, std::vector<uint16_t> &lens)
{
    return {what,
            solicited,
            static_cast<uint32_t>(ifhs.size()),
            ifhs.data(),
            what == 0 ? keys.data() : nullptr,
            what == 0 ? lens.data() : nullptr};
}

struct chunk_view {
    uint8_t kind;
    uint32_t more, solicited, partial;
    uint16_t count;
    std::vector<uint8_t> body;
};

// The chunks of a statistics notification, read back to back.
std::vector<chunk_view> chunks(const std::vector<uint8_t> &n)
{
    std::vector<chunk_view> out;
    size_t at = 0;
    while (at + 16 <= n.size()) {
        const uint8_t *c = &n[at];
        chunk_view v{c[1], rd32(c + 4), rd32(c + 8), rd32(c + 12), 0, {}};
        const size_t hdr = v.kind == 1 ? 16 : v.kind == 2 ? 20 : 24;
        const size_t entry = v.kind == 1 ? 0 : v.kind == 2 ? 44 : 64;
        v.count = v.kind == 1 ? 0 : rd16(c + 16);
        const size_t len = v.kind == 1 ? 24 : hdr + entry * v.count;
        EXPECT_LE(at + len, n.size());
        v.body.assign(n.begin() + static_cast<std::ptrdiff_t>(at + hdr),
                      n.begin() + static_cast<std::ptrdiff_t>(std::min(n.size(), at + len)));
        out.push_back(v);
        at += len;
        if (v.more == 0) {
            break;
        }
    }
    EXPECT_EQ(at, n.size());
    return out;
}

uint32_t u32_at(const std::vector<uint8_t> &b, size_t at)
{
    return rd32(&b[at]);
}

TEST_P(OffloadPlugin, StatisticsAreAnsweredInChunksHeldAndReset)
{
    const auto mkey = key_of(1, kind(), mcast()), skey = key_of(2, kind(), peer_addr());
    ASSERT_EQ(create(mkey, master_data(kind(), 0)), 0u);
    ASSERT_EQ(create(skey, slave_data(kind(), peer_addr())), 0u);
    ASSERT_EQ(plat_clock_advance_ms(999), 0u);
    arrive(ptp_msg(0x1, 44, 1, MASTER_CLOCK), mcast(), PTP_BASE);
    auto wrong = ptp_msg(0x0, 44, 1, MASTER_CLOCK);
    wrong[4] = 99;
    const uint8_t *to = kind() == SPIO_CONN_KIND_ETHERNET ? MAC : own_addr();
    arrive(wrong, to, PTP_BASE);
    received.clear();

    std::vector<uint32_t> ifhs = {IFH, IFH, IFH};
    const auto unknown = key_of(2, kind(), mcast());
    std::vector<const void *> keys = {mkey.data(), skey.data(), unknown.data()};
    std::vector<uint16_t> lens = {static_cast<uint16_t>(mkey.size()), static_cast<uint16_t>(skey.size()),
                                  static_cast<uint16_t>(unknown.size())};
    auto req = stats_req(0, 1, ifhs, keys, lens);
    ASSERT_EQ(spio_offload_stats_request_nb(agent, &req), 0u);
    evm_run_until_idle(evm);
    auto n = notifications();
    ASSERT_EQ(n.size(), 1u);
    auto c = chunks(n[0]);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].kind, 3u);
    EXPECT_EQ(c[0].solicited, 1u);
    EXPECT_EQ(c[0].partial, 0u);
    ASSERT_EQ(c[0].count, 2u); // the unknown session has no entry
    // Master: Sync, Follow-Up and Delay-Resp sent, Delay-Req received, Announce sent.
    const std::vector<uint8_t> &e = c[0].body;
    EXPECT_EQ(std::vector<uint8_t>(e.begin(), e.begin() + static_cast<std::ptrdiff_t>(mkey.size())), mkey);
    EXPECT_EQ(u32_at(e, 24), IFH);
    const uint32_t master_counts[9] = {0, 4, 0, 4, 1, 0, 0, 1, 1};
    const uint32_t slave_counts[9] = {0, 0, 0, 0, 0, 2, 0, 0, 0};
    for (size_t i = 0; i < 9; i++) {
        EXPECT_EQ(u32_at(e, 28 + 4 * i), master_counts[i]) << "master count " << i;
        EXPECT_EQ(u32_at(e, 64 + 28 + 4 * i), slave_counts[i]) << "slave count " << i;
    }

    // Interfaces and global: the interface's drops, then the global chunk last.
    std::vector<uint32_t> one = {IFH};
    auto ireq = stats_req(1, 0, one, keys, lens);
    received.clear();
    ASSERT_EQ(spio_offload_stats_request_nb(agent, &ireq), 0u);
    evm_run_until_idle(evm);
    n = notifications();
    ASSERT_EQ(n.size(), 1u);
    c = chunks(n[0]);
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].kind, 2u);
    EXPECT_EQ(c[0].more, 1u);
    EXPECT_EQ(c[0].partial, 1u);
    EXPECT_EQ(c[0].solicited, 0u);
    EXPECT_EQ(u32_at(c[0].body, 0), IFH);
    EXPECT_EQ(u32_at(c[0].body, 4), 1u);  // a Sync dropped
    EXPECT_EQ(u32_at(c[0].body, 40), 1u); // for its domain
    EXPECT_EQ(c[1].kind, 1u);
    EXPECT_EQ(c[1].more, 0u);
    EXPECT_EQ(c[1].partial, 0u);

    // Split one entry per chunk and notification; held, then answered late in order.
    pktio_test_offload_stats_split(1, 1);
    pktio_test_offload_stats_hold(true);
    received.clear();
    ASSERT_EQ(spio_offload_stats_request_nb(agent, &req), 0u);
    evm_run_until_idle(evm);
    EXPECT_TRUE(notifications().empty());
    EXPECT_EQ(pktio_test_offload_stats_release(), 2u);
    evm_run_until_idle(evm);
    n = notifications();
    ASSERT_EQ(n.size(), 2u);
    EXPECT_EQ(chunks(n[0])[0].partial, 1u);
    EXPECT_EQ(chunks(n[1])[0].partial, 0u);
    EXPECT_EQ(chunks(n[1])[0].count, 1u);
    ASSERT_EQ(spio_offload_stats_request_nb(agent, &req), 0u);
    EXPECT_EQ(pktio_test_offload_stats_drop_held(), 2u);
    pktio_test_offload_stats_hold(false);

    // A reset zeroes the sessions it names.
    ASSERT_EQ(spio_offload_stats_reset(agent, &req), 0u);
    pktio_test_offload_stats_split(0, 0);
    received.clear();
    ASSERT_EQ(spio_offload_stats_request_nb(agent, &req), 0u);
    evm_run_until_idle(evm);
    n = notifications();
    ASSERT_EQ(n.size(), 1u);
    c = chunks(n[0]);
    ASSERT_EQ(c.size(), 1u);
    for (size_t entry = 0; entry < 2; entry++) {
        for (size_t i = 0; i < 9; i++) {
            EXPECT_EQ(u32_at(c[0].body, 64 * entry + 28 + 4 * i), 0u) << "entry " << entry << " count " << i;
        }
    }
}

TEST_P(OffloadPlugin, MalformedSessionsAreRefused)
{
    auto good = master_data(kind(), 0);
    auto key = key_of(1, kind(), mcast());
    struct {
        const char *what;
        std::vector<uint8_t> key, data;
    } cases[] = {
        {"short data", key, std::vector<uint8_t>(good.begin(), good.end() - 1)},
        {"short key", std::vector<uint8_t>(key.begin(), key.begin() + 4), good},
        {"unknown session kind",
         [&] {
             auto k = key;
             k[0] = 3;
             return k;
         }(),
         good},
        {"address of another encapsulation",
         [&] {
             auto k = key;
             k[1] = k[1] == 1 ? 2 : 1;
             return k;
         }(),
         good},
        {"short slave data", key_of(2, kind(), peer_addr()), std::vector<uint8_t>(20, 0)},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(create(c.key, c.data), PKTIO_ERR_INVALID) << c.what;
    }
    EXPECT_TRUE(pktio_test_sessions(kind()).empty());
    ASSERT_EQ(plat_clock_advance_s(2), 0u);
    EXPECT_TRUE(received.empty());
}

INSTANTIATE_TEST_SUITE_P(Encapsulations, OffloadPlugin,
                         testing::Values(SPIO_CONN_KIND_ETHERNET, SPIO_CONN_KIND_IPV4, SPIO_CONN_KIND_IPV6),
                         [](const testing::TestParamInfo<uint32_t> &i) {
                             return std::string(i.param == SPIO_CONN_KIND_ETHERNET ? "Ethernet"
                                                : i.param == SPIO_CONN_KIND_IPV4   ? "IPv4"
                                                                                   : "IPv6");
                         });

} // namespace
