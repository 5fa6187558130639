// The simulated grandmaster and slave over an in-memory link on virtual time: the link has no
// delay, so the slave must measure exactly the difference of the two clocks and a zero path delay.
#include "sim_peer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ctx.h"
#include "evm_test.h"
#include "pktio_test.h"
#include "plat_clock_test.h"
#include "ptp_wire.h"
#include "spio.h"

namespace {

constexpr uint32_t GM_IFH = 0x100, SLAVE_IFH = 0x200;
constexpr uint8_t GM_MAC[6] = {2, 0, 0, 0, 0x0b, 1};
constexpr uint8_t SLAVE_MAC[6] = {2, 0, 0, 0, 0x0c, 1};
constexpr uint64_t GM_ID = 0x020000fffe000b01ull, SLAVE_ID = 0x020000fffe000c01ull;

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
    std::vector<std::string> lines;
};

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

TEST(SimPeerPercentile, NearestRankOfAbsoluteValues)
{
    EXPECT_EQ(simpeer::abs_percentile({}, 50), 0);
    EXPECT_EQ(simpeer::abs_percentile({-5, 1, 3, -2}, 50), 2);
    EXPECT_EQ(simpeer::abs_percentile({-5, 1, 3, -2}, 99), 5);
    EXPECT_EQ(simpeer::abs_percentile({7}, 0), 7);
}

} // namespace
