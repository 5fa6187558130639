// The packet-I/O service: contexts, checksums, attribute blocks, frames, and connections over
// in-memory links.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ctx.h"
#include "epi.h"
#include "eth_encap.h"
#include "evm.h"
#include "evm_test.h"
#include "ip_helpers.h"
#include "pktio_linux.h"
#include "pktio_test.h"
#include "spio.h"

namespace {

// ---- IP helpers ----

TEST(IpHelpers, Ipv4HeaderChecksumMatchesKnownHeader)
{
    // A well-known header whose checksum is 0xb861.
    uint8_t h[20] = {0x45, 0x00, 0x00, 0x73, 0x00, 0x00, 0x40, 0x00, 0x40, 0x11,
                     0x00, 0x00, 0xc0, 0xa8, 0x00, 0x01, 0xc0, 0xa8, 0x00, 0xc7};
    EXPECT_EQ(ipv4_checksum(h, 20), 0xb861);
    h[10] = 0xb8;
    h[11] = 0x61;
    EXPECT_EQ(ipv4_checksum(h, 20), 0); // a correct header sums to zero
}

TEST(IpHelpers, UlpChecksumsVerifyAndNeverGiveZero)
{
    const uint8_t s4[4] = {10, 0, 0, 1}, d4[4] = {224, 0, 1, 129};
    std::vector<uint8_t> seg = {0x01, 0x40, 0x01, 0x40, 0x00, 0x0b, 0x00, 0x00, 0xab, 0xcd, 0xef};
    uint16_t c = ipv4_ulp_checksum(17, s4, d4, seg.data(), seg.size());
    seg[6] = static_cast<uint8_t>(c >> 8);
    seg[7] = static_cast<uint8_t>(c);
    // With the checksum in place the segment verifies (sum folds to zero, reported as 0xFFFF).
    EXPECT_EQ(ipv4_ulp_checksum(17, s4, d4, seg.data(), seg.size()), 0xFFFF);
    uint8_t s6[16] = {0xfd}, d6[16] = {0xff, 0x0e};
    d6[15] = 0x81;
    d6[14] = 0x01;
    seg[6] = seg[7] = 0;
    c = ipv6_ulp_checksum_heap(17, s6, d6, seg.data(), seg.size());
    seg[6] = static_cast<uint8_t>(c >> 8);
    seg[7] = static_cast<uint8_t>(c);
    EXPECT_EQ(ipv6_ulp_checksum_heap(17, s6, d6, seg.data(), seg.size()), 0xFFFF);
}

TEST(IpHelpers, Ipv6HeaderAndMartians)
{
    uint8_t h[40];
    const uint8_t s[16] = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const uint8_t d[16] = {0xff, 0x0e, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x81};
    ipv6_init_header(h, 0xb8, 0, 74, 17, 64, s, d);
    EXPECT_EQ(h[0], 0x6b);
    EXPECT_EQ(h[1], 0x80);
    EXPECT_EQ(h[5], 74);
    EXPECT_EQ(h[6], 17);
    EXPECT_EQ(h[7], 64);
    EXPECT_EQ(std::memcmp(h + 24, d, 16), 0);
    const uint8_t lo[4] = {127, 0, 0, 1}, ok4[4] = {10, 1, 2, 3}, mc[4] = {224, 0, 1, 129};
    EXPECT_TRUE(ipv4_addr_is_martian(lo));
    EXPECT_TRUE(ipv4_addr_is_martian(mc));
    EXPECT_FALSE(ipv4_addr_is_martian(ok4));
    EXPECT_TRUE(ipv6_addr_is_martian(d));
    EXPECT_FALSE(ipv6_addr_is_martian(s));
}

// ---- Attribute blocks ----

TEST(EthEncap, BlockRoundTripAndRefusals)
{
    const uint8_t mac[6] = {2, 0, 0, 0, 0, 9};
    const uint32_t tags[2] = {0x88a80064, 0x810000c8};
    uint8_t blk[32];
    uint32_t len = eth_encap_attr_build(mac, tags, 2, blk, sizeof blk);
    ASSERT_EQ(len, 15u);
    uint8_t got[6];
    ASSERT_EQ(eth_encap_attr_src_mac_get(blk, len, got), 0u);
    EXPECT_EQ(std::memcmp(got, mac, 6), 0);
    dot1q_rewritten_tag_stack_type st{};
    ASSERT_EQ(eth_encap_attr_dot1q_tag_stack_from_encap(blk, len, &st), 0u);
    EXPECT_EQ(st.count, 2u);
    EXPECT_EQ(st.tags[0], tags[0]);
    EXPECT_EQ(st.tags[1], tags[1]);
    char text[128];
    EXPECT_STREQ(eth_encap_attr_to_str(blk, len, text, sizeof text),
                 "source MAC 0200.0000.0009, 802.1Q tags 0x88a8:0x0064 0x8100:0x00c8");
    const uint32_t untagged = eth_encap_attr_build(mac, nullptr, 0, blk + 16, 16);
    EXPECT_STREQ(eth_encap_attr_to_str(blk + 16, untagged, text, sizeof text), "source MAC 0200.0000.0009, untagged");
    EXPECT_EQ(eth_encap_attr_to_str(blk, len - 1, text, sizeof text), nullptr);
    EXPECT_NE(eth_encap_attr_dot1q_tag_stack_from_encap(blk, len - 1, &st), 0u); // short
    blk[6] = 3;
    EXPECT_NE(eth_encap_attr_dot1q_tag_stack_from_encap(blk, len, &st), 0u); // too many
    EXPECT_EQ(eth_encap_attr_to_str(blk, len, text, sizeof text), nullptr);
    EXPECT_NE(eth_encap_attr_src_mac_get(blk, 5, got), 0u);
}

// ---- Contexts ----

TEST(Ctx, LayersOptionsAndBounds)
{
    ctx_api_type *api = nullptr;
    ASSERT_EQ(ctx_api_init(&api), 0u);
    ctx_packet_type *p = ctx_alloc(api, 10);
    ASSERT_NE(p, nullptr);
    const uint8_t bytes[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    size_t n = 0;
    ASSERT_EQ(ctx_write(p, CTX_LAYER_FRAME, 0, bytes, 12, &n), 0u);
    EXPECT_EQ(n, 10u); // capacity ends the write
    ASSERT_EQ(ctx_set_i16(p, CTX_OPT_APP_START, 4), 0u);
    uint8_t out[16] = {};
    ASSERT_EQ(ctx_read(p, CTX_LAYER_APPLICATION, 0, out, 16, &n), 0u);
    EXPECT_EQ(n, 6u);
    EXPECT_EQ(out[0], 5);
    EXPECT_NE(ctx_read(p, CTX_LAYER_APPLICATION, 7, out, 1, &n), 0u); // past the end
    EXPECT_NE(ctx_read(p, CTX_LAYER_NETWORK, 0, out, 1, &n), 0u);     // no such layer
    uint32_t v = 7;
    ASSERT_EQ(ctx_get_u32(p, CTX_OPT_PACKET_ID, &v), 0u);
    EXPECT_EQ(v, 0u);
    EXPECT_NE(ctx_get_varlength(p, CTX_OPT_TIMESTAMP, out, 10, &n), 0u);
    ASSERT_EQ(ctx_write(p, CTX_LAYER_FIB, 0, bytes, 3, &n), 0u);
    ASSERT_EQ(ctx_read(p, CTX_LAYER_FIB, 0, out, 16, &n), 0u);
    EXPECT_EQ(n, 3u);
    ctx_free(&p, 1);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(ctx_api_cleanup(api), 0u);
}

// Ended contexts serve later ones: whatever an ended context carried (bytes, options, stamp, FIB
// data, a network layer) is gone from the next one, which holds the zeros of its asked size.
TEST(Ctx, AReusedContextStartsAsNew)
{
    ctx_api_type *api = nullptr;
    ASSERT_EQ(ctx_api_init(&api), 0u);
    const uint8_t bytes[64] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    const uint8_t stamp[CTX_TIMESTAMP_LEN] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    for (size_t size : {size_t{64}, size_t{16}, size_t{5000}, size_t{0}}) {
        ctx_packet_type *used = ctx_alloc(api, 64);
        ASSERT_NE(used, nullptr);
        size_t n = 0;
        ASSERT_EQ(ctx_write(used, CTX_LAYER_FRAME, 0, bytes, sizeof bytes, &n), 0u);
        ASSERT_EQ(ctx_write(used, CTX_LAYER_FIB, 0, bytes, 8, &n), 0u);
        ASSERT_EQ(ctx_set_varlength(used, CTX_OPT_TIMESTAMP, stamp, sizeof stamp), 0u);
        for (uint32_t o = 0; o < CTX_OPT_COUNT; o++) {
            if (o != CTX_OPT_TIMESTAMP) {
                ASSERT_EQ(ctx_set_u32(used, o, 3), 0u) << o;
            }
        }
        ctx_free(&used, 1);

        ctx_packet_type *p = ctx_alloc(api, size);
        ASSERT_NE(p, nullptr) << size;
        uint8_t out[64] = {};
        ASSERT_EQ(ctx_read(p, CTX_LAYER_CONTEXT, 0, out, sizeof out, &n), 0u) << size;
        EXPECT_EQ(n, 0u) << size; // nothing written or delivered yet
        for (uint32_t o = 0; o < CTX_OPT_COUNT; o++) {
            uint32_t v = 7;
            if (o != CTX_OPT_TIMESTAMP) {
                ASSERT_EQ(ctx_get_u32(p, o, &v), 0u) << o;
                EXPECT_EQ(v, 0u) << size << " option " << o;
            }
        }
        EXPECT_NE(ctx_get_varlength(p, CTX_OPT_TIMESTAMP, out, sizeof out, &n), 0u) << size;
        EXPECT_NE(ctx_read(p, CTX_LAYER_NETWORK, 0, out, 1, &n), 0u) << size;
        ASSERT_EQ(ctx_read(p, CTX_LAYER_FIB, 0, out, sizeof out, &n), 0u) << size;
        EXPECT_EQ(n, 0u) << size;
        // The asked size, in zeros: a write of it all is taken whole and reads back as written.
        std::vector<uint8_t> big(size + 8, 0);
        ASSERT_EQ(ctx_write(p, CTX_LAYER_FRAME, 0, big.data(), big.size(), &n), 0u);
        EXPECT_EQ(n, size);
        ASSERT_EQ(ctx_read(p, CTX_LAYER_FRAME, 0, big.data(), big.size(), &n), 0u);
        EXPECT_EQ(n, size);
        ctx_free(&p, 1);
    }
    EXPECT_EQ(ctx_api_cleanup(api), 0u);
}

// Callers print the service's codes with zerr_strerror: every way into the service registers its
// texts, even after the registry was reset, and a code carrying another errno keeps its row's text.
TEST(PktioErrors, CodesPrintTheServiceTexts)
{
    struct entry_case {
        const char *name;
        zerrno (*call)();
        zerrno code;
    };
    const entry_case cases[] = {
        {"ctx_api_init", [] { return ctx_api_init(nullptr); }, PKTIO_ERR_INVALID},
        {"spio_init", [] { return spio_init(nullptr, nullptr); }, PKTIO_ERR_INVALID},
        {"epi_init", [] { return epi_init(nullptr, 0x88F7, nullptr); }, PKTIO_ERR_INVALID},
    };
    for (const entry_case &c : cases) {
        zerr_registry_reset();
        EXPECT_EQ(c.call(), c.code) << c.name;
        EXPECT_STREQ(zerr_strerror(c.code), "Invalid argument to the packet I/O service") << c.name;
    }
    EXPECT_STREQ(zerr_strerror(PKTIO_ERR_NOT_ATTACHED), "Interface not attached to this packet I/O connection");
    EXPECT_STREQ(zerr_strerror(PKTIO_ERR_IO | 0x1ff), "Packet I/O device failure");
    EXPECT_STREQ(zerr_strerror(PKTIO_ERR_EXISTS), "Already known to the packet I/O service");
}

TEST(Ctx, ClaimedLengthsAndOffsetsNeverReachPastTheBytes)
{
    ctx_api_type *api = nullptr;
    ASSERT_EQ(ctx_api_init(&api), 0u);
    ctx_packet_type *p = ctx_alloc(api, 8);
    ASSERT_NE(p, nullptr);
    const uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    size_t n = 0;
    ASSERT_EQ(ctx_write(p, CTX_LAYER_FRAME, 0, bytes, 8, &n), 0u);
    ASSERT_EQ(ctx_set_u32(p, CTX_OPT_CURRENT_LENGTH, 0xFFFFFFF0u), 0u);
    uint8_t out[32] = {};
    ASSERT_EQ(ctx_read(p, CTX_LAYER_FRAME, 0, out, sizeof out, &n), 0u);
    EXPECT_EQ(n, 8u);
    EXPECT_NE(ctx_read(p, CTX_LAYER_FRAME, 0xFFFFFFEFu, out, 1, &n), 0u);
    uint8_t *at = nullptr;
    ASSERT_EQ(ctx_ptr(p, CTX_LAYER_FRAME, 2, &at, &n), 0u);
    EXPECT_EQ(n, 6u);
    ASSERT_EQ(ctx_set_i16(p, CTX_OPT_APP_START, 4), 0u);
    EXPECT_NE(ctx_write(p, CTX_LAYER_APPLICATION, SIZE_MAX - 2, bytes, 8, &n), 0u);
    EXPECT_NE(ctx_write(p, CTX_LAYER_FRAME, SIZE_MAX, bytes, 8, &n), 0u);
    ctx_free(&p, 1);
    EXPECT_EQ(ctx_api_cleanup(api), 0u);
}

TEST(Epi, FramesCarryTagsAndOptions)
{
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    epi_handle_type *epi = nullptr;
    ASSERT_EQ(epi_init(evm, 0x88F7, &epi), 0u);
    const uint8_t tags[8] = {0x88, 0xa8, 0x00, 0x64, 0x81, 0x00, 0x00, 0xc8};
    const uint8_t payload[3] = {0xaa, 0xbb, 0xcc};
    epi_packet_request_type req{};
    req.out_ifhandle = 0x40;
    std::memset(req.dst_mac, 0x11, 6);
    std::memset(req.src_mac, 0x22, 6);
    req.tags = tags;
    req.tag_bytes = 8;
    req.cos = 5;
    req.payload = payload;
    req.payload_len = 3;
    ctx_packet_type *p = nullptr;
    ASSERT_EQ(epi_packet_generate(epi, &req, &p), 0u);
    uint8_t f[32];
    size_t n = 0;
    ASSERT_EQ(ctx_read(p, CTX_LAYER_FRAME, 0, f, sizeof f, &n), 0u);
    ASSERT_EQ(n, 25u);
    EXPECT_EQ(std::memcmp(f + 12, tags, 8), 0);
    EXPECT_EQ(f[20], 0x88);
    EXPECT_EQ(f[21], 0xF7);
    EXPECT_EQ(f[22], 0xaa);
    uint32_t layout = 0;
    ASSERT_EQ(ctx_get_u32(p, CTX_OPT_L2_TAG_LAYOUT, &layout), 0u);
    EXPECT_EQ(layout, 0x40004u);
    epi_packet_free(p);
    req.tag_bytes = 12;
    EXPECT_NE(epi_packet_generate(epi, &req, &p), 0u);
    epi_cleanup(epi);
    event_manager_destroy(evm);
}

// ---- Connections over in-memory links ----

std::vector<std::vector<uint8_t>> received;
std::vector<uint32_t> received_ifh;
uint32_t resyncs = 0;

void rx_cb(uint32_t count, ctx_packet_type **packets)
{
    for (uint32_t i = 0; i < count; i++) {
        uint8_t b[256];
        size_t n = 0;
        ctx_read(packets[i], CTX_LAYER_FRAME, 0, b, sizeof b, &n);
        received.emplace_back(b, b + n);
        uint32_t ifh = 0;
        ctx_get_u32(packets[i], CTX_OPT_IN_IFHANDLE, &ifh);
        received_ifh.push_back(ifh);
    }
    ctx_free(packets, count);
}
void resync_cb()
{
    resyncs++;
}

class SpioTest : public testing::Test {
protected:
    event_mgr_type *evm = nullptr;
    spio_conn_type *eth = nullptr;
    spio_conn_type *v4 = nullptr;
    ctx_api_type *api = nullptr;

    void SetUp() override
    {
        pktio_test_reset();
        received.clear();
        received_ifh.clear();
        resyncs = 0;
        evm = event_create_manager(nullptr, nullptr, 0);
        const uint8_t m1[6] = {2, 0, 0, 0, 0, 1}, m2[6] = {2, 0, 0, 0, 0, 2};
        ASSERT_EQ(pktio_test_intf_add("Gi0/0/0/1", 0x10, m1), 0u);
        ASSERT_EQ(pktio_test_intf_add("Gi0/0/0/2", 0x20, m2), 0u);
        ASSERT_EQ(pktio_test_link(0x10, 0x20), 0u);
        spio_init_params_type p{SPIO_PARAMS_VERSION, rx_cb, resync_cb, SPIO_CONN_KIND_ETHERNET, evm};
        ASSERT_EQ(spio_init(&p, &eth), 0u);
        p.kind = SPIO_CONN_KIND_IPV4;
        ASSERT_EQ(spio_init(&p, &v4), 0u);
        ASSERT_EQ(ctx_api_init(&api), 0u);
    }
    void TearDown() override
    {
        spio_close(eth);
        spio_close(v4);
        ctx_api_cleanup(api);
        event_manager_destroy(evm);
        pktio_test_reset();
    }
    void attach(spio_conn_type *c, std::vector<uint32_t> h, uint32_t dir = 1)
    {
        std::vector<uint32_t> dirs(h.size(), dir), st(h.size(), 99);
        ASSERT_EQ(spio_attach2(c, 0, static_cast<uint32_t>(h.size()), h.data(), dirs.data(), st.data()), 0u);
        for (uint32_t s : st) {
            EXPECT_EQ(s, 0u);
        }
    }
    ctx_packet_type *frame(uint32_t out_ifh, std::vector<uint8_t> bytes)
    {
        ctx_packet_type *p = ctx_alloc(api, bytes.size());
        size_t n = 0;
        ctx_write(p, CTX_LAYER_FRAME, 0, bytes.data(), bytes.size(), &n);
        ctx_set_u32(p, CTX_OPT_OUT_IFHANDLE, out_ifh);
        ctx_set_u32(p, CTX_OPT_CURRENT_LENGTH, static_cast<uint32_t>(bytes.size()));
        return p;
    }
};

TEST_F(SpioTest, LinkCarriesFramesToTheAttachedPeer)
{
    attach(eth, {0x10, 0x20});
    std::vector<uint8_t> f(60, 0x5a);
    ctx_packet_type *p = frame(0x10, f);
    ASSERT_EQ(spio_pd_intf_send(eth, 1, &p, 1, 0), 0u);
    evm_run_until_idle(evm);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], f);
    EXPECT_EQ(received_ifh[0], 0x20u);
    ASSERT_EQ(pktio_test_sent().size(), 1u);
    EXPECT_EQ(pktio_test_sent()[0].ifhandle, 0x10u);
}

// A long-running process sends without end: only the last packets are kept for a test to see.
TEST_F(SpioTest, TheSentLogKeepsTheLastPacketsOnly)
{
    attach(eth, {0x10});
    constexpr uint32_t kept = 65536;
    for (uint32_t i = 0; i < kept + 3; ++i) {
        std::vector<uint8_t> f(60, 0);
        f[0] = static_cast<uint8_t>(i);
        ctx_packet_type *p = frame(0x10, f);
        ASSERT_EQ(spio_pd_intf_send(eth, 1, &p, 1, 0), 0u);
    }
    const auto sent = pktio_test_sent();
    ASSERT_EQ(sent.size(), kept);
    EXPECT_EQ(sent.front().bytes[0], 3u);
    EXPECT_EQ(sent.back().bytes[0], static_cast<uint8_t>(kept + 2));
}

TEST_F(SpioTest, SendFailuresAreReportedAndNothingLeaves)
{
    attach(eth, {0x10});
    ctx_packet_type *p = frame(0x20, std::vector<uint8_t>(60));
    EXPECT_EQ(spio_pd_intf_send(eth, 1, &p, 1, 0), PKTIO_ERR_NOT_ATTACHED);
    p = frame(0x10, std::vector<uint8_t>(60));
    EXPECT_EQ(spio_pd_intf_send(v4, 1, &p, 1, 0), PKTIO_ERR_NOT_ATTACHED); // other connection
    pktio_test_fail(pktio_test_op::SPIO_SEND, PKTIO_ERR_IO);
    p = frame(0x10, std::vector<uint8_t>(60));
    EXPECT_EQ(spio_pd_intf_send(eth, 1, &p, 1, 0), PKTIO_ERR_IO);
    EXPECT_TRUE(pktio_test_sent().empty());
}

TEST_F(SpioTest, AttachStatusesDetachAndClose)
{
    pktio_test_fail(pktio_test_op::SPIO_ATTACH_STATUS, PKTIO_ERR_IO, 1, 0x20);
    std::vector<uint32_t> h = {0x10, 0x20, 0x99}, dirs = {1, 1, 1}, st(3, 7);
    ASSERT_EQ(spio_attach2(eth, 0, 3, h.data(), dirs.data(), st.data()), 0u);
    EXPECT_EQ(st, (std::vector<uint32_t>{0, PKTIO_ERR_IO, PKTIO_ERR_NOT_FOUND}));
    EXPECT_EQ(pktio_test_attached(SPIO_CONN_KIND_ETHERNET), std::vector<uint32_t>{0x10});
    pktio_test_fail(pktio_test_op::SPIO_ATTACH, PKTIO_ERR_IO);
    EXPECT_EQ(spio_attach2(eth, 0, 3, h.data(), dirs.data(), st.data()), PKTIO_ERR_IO);
    attach(eth, {0x10}, 0);
    EXPECT_TRUE(pktio_test_attached(SPIO_CONN_KIND_ETHERNET).empty());
    attach(eth, {0x20});
    // A packet for an interface nobody attached is unclaimed.
    pktio_test_rx_type in;
    in.kind = SPIO_CONN_KIND_ETHERNET;
    in.ifhandle = 0x10;
    in.bytes.assign(60, 0);
    EXPECT_FALSE(pktio_test_inject(in));
    EXPECT_EQ(pktio_test_unclaimed(), 1u);
    in.ifhandle = 0x20;
    EXPECT_TRUE(pktio_test_inject(in));
    spio_close(eth);
    eth = nullptr;
    evm_run_until_idle(evm); // the queued packet went with the connection
    EXPECT_TRUE(received.empty());
}

TEST_F(SpioTest, IpSendStripsTheRewriteAndResyncIsAsked)
{
    attach(v4, {0x10, 0x20});
    std::vector<uint8_t> bytes(14 + 28 + 40, 0);
    bytes[14] = 0x45;
    ctx_packet_type *p = frame(0x10, bytes);
    ctx_set_i16(p, CTX_OPT_APP_START, 14 + 28);
    ASSERT_EQ(spio_pd_intf_send(v4, 1, &p, 1, 0), 0u);
    evm_run_until_idle(evm);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].size(), 68u);
    EXPECT_EQ(received[0][0], 0x45);
    ASSERT_EQ(spio_force_resync(v4), 0u);
    pktio_test_request_resync(SPIO_CONN_KIND_IPV4);
    evm_run_until_idle(evm);
    EXPECT_EQ(resyncs, 2u);
}

uint32_t done_calls = 0;
void offload_done(uint32_t count, uint32_t *statuses, void *context)
{
    (void)statuses;
    done_calls += count;
    *static_cast<int *>(context) = 1;
}

TEST_F(SpioTest, OffloadSessionsAreRecorded)
{
    // A master session on the Ethernet multicast address that sends nothing (flags 0).
    const uint8_t k1[8] = {1, 1, 0x01, 0x1b, 0x19, 0, 0, 0};
    uint8_t d1[64] = {};
    const uint32_t ifh[1] = {0x10}, pv[1] = {0};
    const void *keys[1] = {k1};
    const void *data[1] = {d1};
    const uint16_t kl[1] = {8}, dl[1] = {64};
    spio_offload_request_type req{0, 1, ifh, pv, keys, kl, data, dl};
    uint32_t statuses[1] = {0};
    int ctx_flag = 0;
    spio_offload_completion_type done{statuses, offload_done, &ctx_flag};
    uint32_t id = 0;
    ASSERT_EQ(spio_offload_nb(eth, &req, &done, &id), 0u);
    evm_run_until_idle(evm);
    EXPECT_EQ(ctx_flag, 1);
    ASSERT_EQ(pktio_test_sessions(SPIO_CONN_KIND_ETHERNET).size(), 1u);
    EXPECT_EQ(statuses[0], 0u);
    EXPECT_EQ(pktio_test_sessions(SPIO_CONN_KIND_ETHERNET)[0].data, std::vector<uint8_t>(d1, d1 + 64));
    spio_offload_delete_request_type del{0, 1, ifh, pv, keys, kl};
    ASSERT_EQ(spio_offload_delete(eth, &del, statuses), 0u);
    EXPECT_EQ(statuses[0], 0u);
    ASSERT_EQ(spio_offload_delete(eth, &del, statuses), 0u);
    EXPECT_EQ(statuses[0], PKTIO_ERR_NOT_FOUND);
    EXPECT_TRUE(pktio_test_sessions(SPIO_CONN_KIND_ETHERNET).empty());
}

// ---- Linux devices ----

int sh(const std::string &cmd)
{
    return std::system((cmd + " >/dev/null 2>&1").c_str());
}

// A veth pair between two namespaces of this test: "a" for the backend, "b" for the sender.
struct veth_ns {
    std::string ns_a, ns_b, dev_a, dev_b;
    bool ok = false;
    veth_ns()
    {
        const std::string id = std::to_string(getpid() % 100000);
        ns_a = "tspA" + id;
        ns_b = "tspB" + id;
        dev_a = "tpa" + id;
        dev_b = "tpb" + id;
        teardown();
        ok = geteuid() == 0 && sh("ip netns add " + ns_a) == 0 && sh("ip netns add " + ns_b) == 0 &&
             sh("ip link add " + dev_a + " netns " + ns_a + " type veth peer name " + dev_b + " netns " + ns_b) == 0 &&
             sh("ip -n " + ns_a + " addr add 10.98.0.1/24 dev " + dev_a) == 0 &&
             sh("ip -n " + ns_a + " -6 addr add fd98::1/64 dev " + dev_a + " nodad") == 0 &&
             sh("ip -n " + ns_b + " addr add 10.98.0.2/24 dev " + dev_b) == 0 &&
             sh("ip -n " + ns_b + " -6 addr add fd98::2/64 dev " + dev_b + " nodad") == 0 &&
             sh("ip -n " + ns_a + " link set " + dev_a + " up") == 0 &&
             sh("ip -n " + ns_b + " link set " + dev_b + " up") == 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    ~veth_ns() { teardown(); }
    void teardown()
    {
        sh("ip netns del " + ns_a);
        sh("ip netns del " + ns_b);
    }
    // Sends one UDP datagram from namespace b through the host's own stack (which leaves the
    // checksum to the device on veth).
    bool send_from_b(int family, const char *dst, const std::vector<uint8_t> &payload) const
    {
        bool sent = false;
        in_b([&] {
            const int fd = socket(family, SOCK_DGRAM, 0);
            sockaddr_storage a{};
            socklen_t alen = 0;
            if (family == AF_INET) {
                auto *a4 = reinterpret_cast<sockaddr_in *>(&a);
                a4->sin_family = AF_INET;
                a4->sin_port = htons(319);
                inet_pton(AF_INET, dst, &a4->sin_addr);
                alen = sizeof *a4;
            } else {
                auto *a6 = reinterpret_cast<sockaddr_in6 *>(&a);
                a6->sin6_family = AF_INET6;
                a6->sin6_port = htons(319);
                inet_pton(AF_INET6, dst, &a6->sin6_addr);
                alen = sizeof *a6;
            }
            sent = fd >= 0 && sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr *>(&a), alen) ==
                                  static_cast<ssize_t>(payload.size());
            if (fd >= 0) {
                close(fd);
            }
        });
        return sent;
    }
    // Sends Ethernet frames as they are from namespace b's end, one after the other.
    bool send_frames_from_b(const std::vector<std::vector<uint8_t>> &frames) const
    {
        bool sent = false;
        in_b([&] {
            const int fd = socket(AF_PACKET, SOCK_RAW, 0);
            sockaddr_ll sll{};
            sll.sll_family = AF_PACKET;
            sll.sll_ifindex = static_cast<int>(if_nametoindex(dev_b.c_str()));
            sent = fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&sll), sizeof sll) == 0;
            for (const std::vector<uint8_t> &f : frames) {
                sent = sent && send(fd, f.data(), f.size(), 0) == static_cast<ssize_t>(f.size());
            }
            if (fd >= 0) {
                close(fd);
            }
        });
        return sent;
    }
    // Runs fn on a thread of its own in namespace b (not when the namespace cannot be entered).
    void in_b(const std::function<void()> &fn) const
    {
        std::thread t([&] {
            const int ns = open(("/var/run/netns/" + ns_b).c_str(), O_RDONLY | O_CLOEXEC);
            if (ns < 0 || setns(ns, CLONE_NEWNET) != 0) {
                return;
            }
            close(ns);
            fn();
        });
        t.join();
    }
};

std::vector<std::vector<uint8_t>> received_net;
void rx_net_cb(uint32_t count, ctx_packet_type **packets)
{
    for (uint32_t i = 0; i < count; i++) {
        uint8_t b[512];
        size_t n = 0;
        ctx_read(packets[i], CTX_LAYER_NETWORK, 0, b, sizeof b, &n);
        received_net.emplace_back(b, b + n);
    }
    ctx_free(packets, count);
}

// A datagram sent by a host over veth reaches the backend before its UDP checksum was computed
// (the kernel says so in its packet status); it must be handed on with the checksum it would
// have carried on a wire, not as a corrupted one.
TEST(SpioLinux, DatagramsWithTheChecksumLeftToTheDeviceVerify)
{
    veth_ns env;
    if (!env.ok) {
        GTEST_SKIP() << "needs root and 'ip netns'";
    }
    pktio_test_reset();
    received_net.clear();
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    spio_conn_type *v4 = nullptr;
    spio_conn_type *v6 = nullptr;
    spio_init_params_type p{SPIO_PARAMS_VERSION, rx_net_cb, resync_cb, SPIO_CONN_KIND_IPV4, evm};
    ASSERT_EQ(spio_init(&p, &v4), 0u);
    p.kind = SPIO_CONN_KIND_IPV6;
    ASSERT_EQ(spio_init(&p, &v6), 0u);
    ASSERT_EQ(pktio_linux_intf_add(env.dev_a.c_str(), 0x30, env.ns_a.c_str()), 0u);
    uint32_t h = 0x30, dir = 1, st = 99;
    ASSERT_EQ(spio_attach2(v4, 0, 1, &h, &dir, &st), 0u);
    ASSERT_EQ(spio_attach2(v6, 0, 1, &h, &dir, &st), 0u);

    const std::vector<uint8_t> payload(46, 0x5c);
    ASSERT_TRUE(env.send_from_b(AF_INET6, "fd98::1", payload));
    ASSERT_TRUE(env.send_from_b(AF_INET, "10.98.0.1", payload));
    for (int waited = 0; received_net.size() < 2 && waited < 3000; waited += 20) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        evm_run_until_idle(evm);
    }
    ASSERT_EQ(received_net.size(), 2u);
    for (std::vector<uint8_t> &ip : received_net) {
        SCOPED_TRACE(ip[0] >> 4);
        const bool v6pkt = (ip[0] >> 4) == 6;
        const size_t hlen = v6pkt ? IPV6_HDR_LEN : IPV4_HDR_LEN;
        ASSERT_EQ(ip.size(), hlen + UDP_HDR_LEN + payload.size());
        uint8_t *udp = ip.data() + hlen;
        const uint16_t stored = static_cast<uint16_t>(udp[6] << 8 | udp[7]);
        udp[6] = udp[7] = 0;
        const size_t udp_len = UDP_HDR_LEN + payload.size();
        const uint16_t calculated =
            v6pkt ? ipv6_ulp_checksum_heap(IP_PROTO_UDP, ip.data() + 8, ip.data() + 24, udp, udp_len)
                  : ipv4_ulp_checksum(IP_PROTO_UDP, ip.data() + 12, ip.data() + 16, udp, udp_len);
        EXPECT_EQ(stored, calculated);
    }
    pktio_linux_intf_remove(0x30);
    spio_close(v4);
    spio_close(v6);
    event_manager_destroy(evm);
    pktio_test_reset();
}

int64_t wall_now_ns()
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

std::vector<int64_t> received_stamps;
void rx_stamped_cb(uint32_t count, ctx_packet_type **packets)
{
    for (uint32_t i = 0; i < count; i++) {
        uint8_t ts[CTX_TIMESTAMP_LEN] = {};
        size_t n = 0;
        ctx_get_varlength(packets[i], CTX_OPT_TIMESTAMP, ts, sizeof ts, &n);
        int64_t sec = 0;
        int64_t nsec = 0;
        for (int b = 0; b < 6; b++) {
            sec = sec << 8 | ts[b];
        }
        for (int b = 6; b < 10; b++) {
            nsec = nsec << 8 | ts[b];
        }
        received_stamps.push_back(n == sizeof ts ? sec * 1000000000 + nsec : 0);
    }
    rx_cb(count, packets);
}

// A burst of PTP frames, untagged, behind one tag and behind two, reaches the Ethernet connection
// whole and in order: a tag the kernel takes out of a frame is put back where it stood, and each
// frame carries the time it arrived (not the time it was handed over).
TEST(SpioLinux, FramesArriveWholeInOrderWithTagsAndStamps)
{
    veth_ns env;
    if (!env.ok) {
        GTEST_SKIP() << "needs root and 'ip netns'";
    }
    pktio_test_reset();
    received.clear();
    received_stamps.clear();
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    spio_conn_type *eth = nullptr;
    spio_init_params_type p{SPIO_PARAMS_VERSION, rx_stamped_cb, resync_cb, SPIO_CONN_KIND_ETHERNET, evm};
    ASSERT_EQ(spio_init(&p, &eth), 0u);
    ASSERT_EQ(pktio_linux_intf_add(env.dev_a.c_str(), 0x31, env.ns_a.c_str()), 0u);
    uint32_t h = 0x31, dir = 1, st = 99;
    ASSERT_EQ(spio_attach2(eth, 0, 1, &h, &dir, &st), 0u);

    std::vector<std::vector<uint8_t>> frames;
    for (uint32_t i = 0; i < 300; i++) {
        std::vector<uint8_t> f = {0x01, 0x1b, 0x19, 0, 0, 0, 0x02, 0, 0, 0, 0x0b, 0x0b};
        if (i % 3 == 2) {
            f.insert(f.end(), {0x88, 0xa8, 0x00, 0xc8}); // an outer tag of another kind
        }
        if (i % 3 != 0) {
            f.insert(f.end(), {0x81, 0x00, 0x20, static_cast<uint8_t>(i % 100)});
        }
        f.insert(f.end(), {0x88, 0xf7});
        std::vector<uint8_t> msg(44, 0);
        msg[0] = 0x0b;
        msg[1] = 2;
        msg[30] = static_cast<uint8_t>(i >> 8);
        msg[31] = static_cast<uint8_t>(i);
        f.insert(f.end(), msg.begin(), msg.end());
        frames.push_back(f);
    }
    const int64_t before = wall_now_ns();
    ASSERT_TRUE(env.send_frames_from_b(frames));
    const int64_t sent = wall_now_ns();
    for (int waited = 0; received.size() < frames.size() && waited < 3000; waited += 20) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        evm_run_until_idle(evm);
    }
    ASSERT_EQ(received.size(), frames.size());
    for (size_t i = 0; i < frames.size(); i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(received[i], frames[i]);
        EXPECT_GE(received_stamps[i], before);
        EXPECT_LE(received_stamps[i], sent);
        if (i > 0) {
            EXPECT_GE(received_stamps[i], received_stamps[i - 1]);
        }
    }
    pktio_linux_intf_remove(0x31);
    spio_close(eth);
    event_manager_destroy(evm);
    pktio_test_reset();
}

size_t thread_count()
{
    size_t n = 0;
    if (DIR *d = opendir("/proc/self/task")) {
        while (dirent *e = readdir(d)) {
            n += e->d_name[0] != '.' ? 1 : 0;
        }
        closedir(d);
    }
    return n;
}

std::atomic<std::thread::id> rx_thread;
std::atomic<size_t> rx_count{0};
void rx_thread_cb(uint32_t count, ctx_packet_type **packets)
{
    rx_thread = std::this_thread::get_id();
    rx_count += count;
    ctx_free(packets, count);
}

// The connection's own thread, blocked in its manager, reads the device: binding one starts no
// thread, and what arrives is handed over on that thread. Frames that came while no connection
// was open are not handed over late.
TEST(SpioLinux, TheConnectionsManagerWaitsOnTheDeviceItself)
{
    veth_ns env;
    if (!env.ok) {
        GTEST_SKIP() << "needs root and 'ip netns'";
    }
    pktio_test_reset();
    rx_count = 0;
    const std::vector<uint8_t> frame = {
        0x01, 0x1b, 0x19, 0, 0, 0, 0x02, 0, 0, 0, 0x0b, 0x0b, 0x88, 0xf7, 0x0b, 2, 0, 44, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0,    0,    0,    0, 0, 0, 0,    0, 0, 0, 0,    0,    0,    0,    0,    0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const size_t threads_before = thread_count();
    ASSERT_EQ(pktio_linux_intf_add(env.dev_a.c_str(), 0x32, env.ns_a.c_str()), 0u);
    EXPECT_EQ(thread_count(), threads_before);
    ASSERT_TRUE(env.send_frames_from_b({frame, frame})); // nobody waits on the ring yet
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    spio_conn_type *eth = nullptr;
    spio_init_params_type p{SPIO_PARAMS_VERSION, rx_thread_cb, resync_cb, SPIO_CONN_KIND_ETHERNET, evm};
    ASSERT_EQ(spio_init(&p, &eth), 0u);
    uint32_t h = 0x32, dir = 1, st = 99;
    ASSERT_EQ(spio_attach2(eth, 0, 1, &h, &dir, &st), 0u);
    event_async_ctx_type stop{};
    std::atomic<bool> stopping{false};
    ASSERT_GE(event_async_attach_event(
                  evm, 0,
                  [](const event_async_ctx_type *, int32_t, void *ctx) {
                      *static_cast<std::atomic<bool> *>(ctx) = true;
                      return 0;
                  },
                  &stopping, &stop),
              0);
    std::thread server([evm, &stopping] {
        while (!stopping) {
            if (event_type *e = event_block(evm)) {
                zq_event_dispatch(e);
            }
        }
    });
    evm_wait_until_served(evm);
    ASSERT_TRUE(env.send_frames_from_b({frame, frame, frame}));
    for (int waited = 0; rx_count < 3 && waited < 3000; waited += 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // anything further would be late
    EXPECT_EQ(rx_count, 3u);
    EXPECT_EQ(rx_thread.load(), server.get_id());
    EXPECT_EQ(thread_count(), threads_before + 1);
    event_send_async(stop.coid, stop.code, 0);
    server.join();
    pktio_linux_intf_remove(0x32);
    spio_close(eth);
    event_manager_destroy(evm);
    pktio_test_reset();
}

} // namespace
