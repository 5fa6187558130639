// The checkpoint records' codec: every message survives pack and unpack, the four record kinds
// pack to the bytes the checkpoint tables hold, and malformed stored bytes give their result
// codes without reading past the input or leaking a block (the sanitizer build runs these).
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zidl_tessel_gpb.h"

namespace {

using bytes_t = std::vector<uint8_t>;

// Allocations and frees through a context, so that tests see the context handed down.
struct heap_count {
    int allocs = 0;
    int frees = 0;
    int fail_at = 0; // the n-th allocation returns null; 0 never
};

void *test_alloc(size_t size, void *context)
{
    auto *h = static_cast<heap_count *>(context);
    if (h != nullptr && ++h->allocs == h->fail_at) {
        return nullptr;
    }
    return std::calloc(size == 0 ? 1 : size, 1);
}

void test_free(void *block, void *context)
{
    auto *h = static_cast<heap_count *>(context);
    if (h != nullptr) {
        h->frees++;
    }
    std::free(block);
}

// One message type's operations under one name, allocating or not.
template <typename M>
struct ops;
#define OPS(type, unpack_call)                                                                                         \
    template <>                                                                                                        \
    struct ops<zidl_tessel_gpb_##type> {                                                                               \
        using M = zidl_tessel_gpb_##type;                                                                              \
        static size_t pack(const M *m, uint8_t *b, size_t c) { return zidl_tessel_gpb_##type##_pack(m, b, c); }        \
        static int unpack(M *m, const uint8_t *b, size_t l, heap_count *h) { return unpack_call; }                     \
        static void free(M *m, void *h) { zidl_tessel_gpb_##type##_free(m, test_free, h, 0); }                         \
    };
#define ALLOCATING(type) OPS(type, zidl_tessel_gpb_##type##_unpack(m, b, l, test_alloc, h))
#define PLAIN(type) OPS(type, ((void)h, zidl_tessel_gpb_##type##_unpack(m, b, l)))
ALLOCATING(if)
ALLOCATING(gl)
ALLOCATING(unicast_grant)
ALLOCATING(peer_index)
ALLOCATING(foreign_master)
ALLOCATING(config)
ALLOCATING(address)
ALLOCATING(source_ip)
ALLOCATING(source_ipv6)
PLAIN(clock)
PLAIN(utc_offset)
PLAIN(traceable)
PLAIN(port_id)
PLAIN(local_clock)
PLAIN(clock_operation)

bytes_t cat(std::initializer_list<bytes_t> parts)
{
    bytes_t out;
    for (const auto &p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

bytes_t raw(const uint8_t *p, size_t n)
{
    return bytes_t(p, p + n);
}

template <typename M>
bytes_t pack(const M &m)
{
    const size_t size = ops<M>::pack(&m, nullptr, 0);
    bytes_t out(size);
    EXPECT_EQ(ops<M>::pack(&m, out.data(), out.size()), size);
    return out;
}

// A message unpacked from a copy of exactly the given bytes, freed on the way out.
template <typename M>
struct decoded {
    M m{};
    heap_count heap;
    int rc = 0;
    explicit decoded(const bytes_t &in, int fail_at = 0)
    {
        heap.fail_at = fail_at;
        // A heap block of exactly the input, so that a read past it is caught.
        bytes_t copy(in);
        rc = ops<M>::unpack(&m, copy.empty() ? nullptr : copy.data(), copy.size(), &heap);
    }
    ~decoded()
    {
        ops<M>::free(&m, &heap);
        EXPECT_EQ(heap.frees, heap.allocs - (heap.fail_at != 0 && heap.allocs >= heap.fail_at ? 1 : 0));
    }
};

constexpr uint32_t all(unsigned fields)
{
    return fields == 32 ? ~0u : (1u << fields) - 1;
}

uint8_t NAME[64] = "ptp-port-1";
uint8_t ETHER[300] = {0x01, 0x1b, 0x19, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x01, 0x88, 0xf7};
uint8_t IPV4[16] = {192, 0, 2, 1};
uint8_t IPV6[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01};
uint8_t ADDR_LIST[4 + 2 * 16] = {192, 0, 2, 7, 0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x07};

zidl_tessel_gpb_bytes borrow(uint8_t *data, uint64_t len)
{
    return {data, len};
}

zidl_tessel_gpb_address address(uint32_t kind, uint8_t *value)
{
    return {kind, borrow(value, 16), all(2)};
}

zidl_tessel_gpb_port_id port_id(uint64_t id, uint32_t port)
{
    return {id, port, all(2)};
}

// Every field set, at the edges of its range where that matters.
zidl_tessel_gpb_clock clock()
{
    zidl_tessel_gpb_clock c{};
    c.clock_id = 0xFFFFFFFFFFFFFFFFull;
    c.priority1 = 128;
    c.clock_class = 6;
    c.accuracy = 0x21;
    c.offset_log_variance = 0x4E5D;
    c.priority2 = 0;
    c.steps_removed = 0xFFFF;
    c.time_source = 0x20;
    c.utc_offset = {0xFFFFFFDB, 1, all(2)}; // -37 widened
    c.traceable = {1, 0, all(2)};
    c.timescale = 1;
    c.leap_seconds = 0x03;
    c.sender = port_id(0x0011223344556677ull, 1);
    c.receiver = port_id(0x8899AABBCCDDEEFFull, 0xFFFF);
    c.local = 1;
    c.configured_clock_class = 0;
    c.configured_priority = 255;
    c.present = all(17);
    return c;
}

zidl_tessel_gpb_foreign_master foreign_master()
{
    zidl_tessel_gpb_foreign_master f{};
    f.address = address(2, IPV4);
    f.second_address = address(3, IPV6);
    f.clock = clock();
    f.master_word_1 = 0xFFFFFFFF;
    f.configured_priority = 7;
    f.master_word_3 = 0;
    f.priority_configured = 1;
    f.configured_clock_class = 13;
    f.clock_class_configured = 1;
    f.master_state_flag = 0;
    f.in_master_table = 1;
    f.present = all(11);
    return f;
}

zidl_tessel_gpb_config config()
{
    zidl_tessel_gpb_config c{};
    c.encapsulation = 2;
    c.log_announce_interval = 0xFFFFFFFD;
    c.announce_timeout = 3;
    c.log_sync_interval = 0xFFFFFFFA;
    c.log_min_delay_req_interval = 0;
    c.transport = 1;
    c.clock_operation = {1, all(1)};
    c.port_state_config = 2;
    c.source_ip = {1, borrow(IPV4, 4), all(2)};
    c.source_ipv6 = {0, borrow(IPV6, 16), all(2)};
    c.sync_receive_timeout = 5000;
    c.delay_resp_receive_timeout = 5000;
    c.deny_invalid_grants = 1;
    c.announce_grant_duration = 300;
    c.sync_grant_duration = 60;
    c.delay_resp_grant_duration = 1000;
    c.local_priority = 128;
    c.multicast_address = address(1, IPV6);
    c.cos = 6;
    c.general_cos = 5;
    c.event_cos = 7;
    c.dscp = 46;
    c.general_dscp = 0;
    c.event_dscp = 63;
    c.ipv4_ttl = 255;
    c.ipv6_hop_limit = 1;
    c.present = all(26);
    return c;
}

zidl_tessel_gpb_if interface()
{
    zidl_tessel_gpb_if m{};
    m.ifname = borrow(NAME, 64);
    m.ifhandle = 0x80001234;
    m.iftype = 0xFFFF;
    m.port_num = 1;
    m.port_state = 9;
    m.im_state = 3;
    m.ether_info_known = 1;
    m.ether_info = borrow(ETHER, 300);
    m.ether_info_len = 14;
    m.ip_address = borrow(IPV4, 4);
    m.ipv6_address = borrow(IPV6, 16);
    m.vrf_known = 1;
    m.vrf = 0x60000000;
    m.foreign_master_present = 1;
    m.foreign_master = foreign_master();
    m.config = config();
    m.num_ipv4_addr = 1;
    m.num_ipv6_addr = 2;
    m.addr_list = borrow(ADDR_LIST, sizeof(ADDR_LIST));
    m.present = all(19);
    return m;
}

zidl_tessel_gpb_gl global()
{
    zidl_tessel_gpb_gl g{};
    g.local_clock_present = 1;
    g.local_clock = {0x0011223344556677ull, 24, all(2)};
    g.bmc_present = 1;
    g.bmc = clock();
    g.advertised = clock();
    g.advertised.local = 0;
    g.synced = 1;
    g.supports_slave = 1;
    g.reserved_1 = 0;
    g.reserved_2 = 0;
    g.selected = 1;
    g.profile = 3;
    g.profile_version = 1;
    g.min_clock_class_present = 1;
    g.min_clock_class = 255;
    g.present = all(14);
    return g;
}

zidl_tessel_gpb_unicast_grant grant()
{
    zidl_tessel_gpb_unicast_grant u{};
    u.ifname = borrow(NAME, 64);
    u.ifhandle = 0x80001234;
    u.peer_addr = address(2, IPV4);
    u.second_address = address(3, IPV6);
    u.peer_port_id = port_id(0x0011223344556677ull, 3);
    u.is_announce_granted = 1;
    u.is_sync_granted = 1;
    u.is_delay_resp_granted = 0;
    u.announce_grant_duration = 300;
    u.sync_grant_duration = 300;
    u.delay_resp_grant_duration = 0;
    u.announce_expiry_time = 0xFFFFFFFF;
    u.sync_expiry_time = 1;
    u.delay_resp_expiry_time = 0;
    u.is_nonnegotiated = 0;
    u.log_announce_interval = 0xFFFFFFFD;
    u.log_sync_interval = 0xFFFFFFF9;
    u.log_delay_resp_interval = 0xFFFFFFFC;
    u.req_log_announce_interval = 1;
    u.req_log_sync_interval = 0xFFFFFFFF;
    u.req_log_delay_resp_interval = 0;
    u.present = all(21);
    return u;
}

zidl_tessel_gpb_peer_index peer_index()
{
    return {borrow(NAME, 64), address(2, IPV4), 5, all(3)};
}

template <typename M>
void expect_round_trip(const M &m)
{
    const bytes_t packed = pack(m);
    decoded<M> d(packed);
    ASSERT_EQ(d.rc, ZIDL_TESSEL_GPB_OK);
    EXPECT_EQ(d.m, m);
    EXPECT_EQ(pack(d.m), packed);
}

TEST(ZidlTesselGpb, EveryMessageRoundTripsWithItsPresenceBits)
{
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        {"if", [] { expect_round_trip(interface()); }},
        {"gl", [] { expect_round_trip(global()); }},
        {"unicast_grant", [] { expect_round_trip(grant()); }},
        {"peer_index", [] { expect_round_trip(peer_index()); }},
        {"foreign_master", [] { expect_round_trip(foreign_master()); }},
        {"config", [] { expect_round_trip(config()); }},
        {"clock", [] { expect_round_trip(clock()); }},
        {"utc_offset",
         [] {
             expect_round_trip(zidl_tessel_gpb_utc_offset{0xFFFF8000, 0, all(2)});
         }},
        {"traceable",
         [] {
             expect_round_trip(zidl_tessel_gpb_traceable{0, 1, all(2)});
         }},
        {"port_id", [] { expect_round_trip(port_id(0, 0)); }},
        {"local_clock",
         [] {
             expect_round_trip(zidl_tessel_gpb_local_clock{1, 0xFFFFFFFF, all(2)});
         }},
        {"address", [] { expect_round_trip(address(3, IPV6)); }},
        {"source_ip",
         [] {
             expect_round_trip(zidl_tessel_gpb_source_ip{1, borrow(IPV4, 4), all(2)});
         }},
        {"source_ipv6",
         [] {
             expect_round_trip(zidl_tessel_gpb_source_ipv6{1, borrow(IPV6, 16), all(2)});
         }},
        {"clock_operation",
         [] {
             expect_round_trip(zidl_tessel_gpb_clock_operation{0, all(1)});
         }},
        // Zero values, an empty byte string and empty sub-messages are sent when marked present.
        {"zeros present",
         [] {
             zidl_tessel_gpb_if m{};
             m.ifname = borrow(NAME, 0);
             m.present = all(19);
             expect_round_trip(m);
         }},
        {"some fields absent",
         [] {
             zidl_tessel_gpb_unicast_grant u = grant();
             u.present &= ~(zidl_tessel_gpb_bit(1) | zidl_tessel_gpb_bit(9) | zidl_tessel_gpb_bit(21));
             u.ifname = {};
             u.announce_grant_duration = 0;
             u.req_log_delay_resp_interval = 0;
             expect_round_trip(u);
         }},
        {"nothing present", [] { expect_round_trip(zidl_tessel_gpb_gl{}); }},
    };
    for (const auto &[name, run] : cases) {
        SCOPED_TRACE(name);
        run();
    }
}

// The stored form of each record kind, written out by hand.
template <typename M>
void expect_bytes(const M &m, const bytes_t &expected)
{
    EXPECT_EQ(pack(m), expected);
    decoded<M> d(expected);
    ASSERT_EQ(d.rc, ZIDL_TESSEL_GPB_OK);
    EXPECT_EQ(d.m, m);
}

TEST(ZidlTesselGpb, RecordsPackToTheirExactBytes)
{
    {
        SCOPED_TRACE("peer index: an IPv4 peer with index 5");
        const bytes_t expected =
            cat({{0x0A, 0x40}, raw(NAME, 64), {0x12, 0x14, 0x08, 0x02, 0x12, 0x10}, raw(IPV4, 16), {0x18, 0x05}});
        ASSERT_EQ(expected.size(), 90u);
        expect_bytes(peer_index(), expected);
    }
    {
        SCOPED_TRACE("global: an absent empty best master is left out, a zero flag is sent");
        zidl_tessel_gpb_gl g{};
        g.local_clock_present = 1;
        g.local_clock = {0x0011223344556677ull, 24, all(2)};
        g.advertised.clock_id = 0xFFFFFFFFFFFFFFFFull;
        g.advertised.present = zidl_tessel_gpb_bit(1);
        g.supports_slave = 0;
        g.selected = 1;
        g.present = zidl_tessel_gpb_bit(1) | zidl_tessel_gpb_bit(2) | zidl_tessel_gpb_bit(5) | zidl_tessel_gpb_bit(7) |
                    zidl_tessel_gpb_bit(10);
        expect_bytes(g,
                     {0x08, 0x01, 0x12, 0x0B, 0x08, 0xF7, 0xCC, 0xD5, 0xA2, 0xB4, 0xC6, 0xC8, 0x08, 0x10, 0x18, 0x2A,
                      0x0B, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x38, 0x00, 0x50, 0x01});
    }
    {
        SCOPED_TRACE("unicast grant: a granted log interval of -3 behind a two-byte tag");
        zidl_tessel_gpb_unicast_grant u{};
        u.ifhandle = 0x1234;
        u.peer_port_id = port_id(1, 2);
        u.is_nonnegotiated = 1;
        u.log_announce_interval = 0xFFFFFFFD;
        u.present = zidl_tessel_gpb_bit(2) | zidl_tessel_gpb_bit(5) | zidl_tessel_gpb_bit(15) | zidl_tessel_gpb_bit(16);
        expect_bytes(u, {0x10, 0xB4, 0x24, 0x2A, 0x04, 0x08, 0x01, 0x10, 0x02, 0x78, 0x01, 0x80, 0x01, 0xFD, 0xFF, 0xFF,
                         0xFF, 0x0F});
        EXPECT_EQ(static_cast<int8_t>(u.log_announce_interval), -3);
    }
    {
        SCOPED_TRACE("interface: a present empty foreign master, config field 16, the address list");
        zidl_tessel_gpb_if m{};
        m.ifhandle = 0x1234;
        m.foreign_master_present = 0;
        m.config.delay_resp_grant_duration = 1;
        m.config.present = zidl_tessel_gpb_bit(16);
        m.num_ipv4_addr = 1;
        m.addr_list = borrow(ADDR_LIST, 4);
        m.present = zidl_tessel_gpb_bit(2) | zidl_tessel_gpb_bit(14) | zidl_tessel_gpb_bit(15) |
                    zidl_tessel_gpb_bit(16) | zidl_tessel_gpb_bit(17) | zidl_tessel_gpb_bit(19);
        expect_bytes(m, {0x10, 0xB4, 0x24, 0x70, 0x00, 0x7A, 0x00, 0x82, 0x01, 0x03, 0x80, 0x01,
                         0x01, 0x88, 0x01, 0x01, 0x9A, 0x01, 0x04, 192,  0,    2,    7});
    }
}

TEST(ZidlTesselGpb, PackNeverWritesAtOrPastTheCapacity)
{
    const zidl_tessel_gpb_peer_index m = peer_index();
    const bytes_t full = pack(m);
    for (size_t capacity = 0; capacity <= full.size(); capacity++) {
        SCOPED_TRACE(capacity);
        bytes_t buffer(full.size() + 8, 0xEE);
        EXPECT_EQ(zidl_tessel_gpb_peer_index_pack(&m, buffer.data(), capacity), full.size());
        for (size_t i = 0; i < buffer.size(); i++) {
            // Below the capacity a byte is the packed one, or untouched where a payload did not fit whole.
            EXPECT_TRUE(i < capacity ? buffer[i] == full[i] || buffer[i] == 0xEE : buffer[i] == 0xEE) << i;
        }
    }
    bytes_t buffer(full.size(), 0xEE);
    zidl_tessel_gpb_peer_index_pack(&m, buffer.data(), full.size() - 1);
    EXPECT_EQ(bytes_t(buffer.begin(), buffer.end() - 1), bytes_t(full.begin(), full.end() - 1));
    EXPECT_EQ(buffer.back(), 0xEE);
    // The name does not fit whole below 50 bytes: only its tag and length are written.
    std::fill(buffer.begin(), buffer.end(), 0xEE);
    zidl_tessel_gpb_peer_index_pack(&m, buffer.data(), 50);
    EXPECT_EQ(bytes_t(buffer.begin(), buffer.begin() + 50), cat({{0x0A, 0x40}, bytes_t(48, 0xEE)}));
}

// Where each top-level field of a well-formed record ends.
std::vector<size_t> field_ends(const bytes_t &in)
{
    std::vector<size_t> ends{0};
    size_t pos = 0;
    auto varint = [&] {
        uint64_t v = 0;
        for (unsigned shift = 0;; shift += 7) {
            const uint8_t b = in[pos++];
            v |= uint64_t{b & 0x7Fu} << shift;
            if ((b & 0x80) == 0) {
                return v;
            }
        }
    };
    while (pos < in.size()) {
        const uint64_t tag = varint();
        const uint64_t value = varint();
        pos += (tag & 7) == 2 ? value : 0;
        ends.push_back(pos);
    }
    return ends;
}

template <typename M>
void expect_every_truncation_refused(const M &m)
{
    const bytes_t full = pack(m);
    const std::vector<size_t> ends = field_ends(full);
    for (size_t cut = 0; cut < full.size(); cut++) {
        SCOPED_TRACE(cut);
        const bool at_field_end = std::find(ends.begin(), ends.end(), cut) != ends.end();
        decoded<M> d(bytes_t(full.begin(), full.begin() + cut));
        EXPECT_EQ(d.rc, at_field_end ? ZIDL_TESSEL_GPB_OK : ZIDL_TESSEL_GPB_TRUNCATED);
    }
}

TEST(ZidlTesselGpb, RecordsCutShortAtAnyByteAreRefused)
{
    expect_every_truncation_refused(interface());
    expect_every_truncation_refused(global());
    expect_every_truncation_refused(grant());
    expect_every_truncation_refused(peer_index());
}

struct malformed_case {
    const char *name;
    bytes_t in;
    int rc;
    std::function<void(const zidl_tessel_gpb_unicast_grant &)> check;
};

TEST(ZidlTesselGpb, MalformedStoredBytesGiveTheirResults)
{
    const auto ifhandle = [](uint32_t v) {
        return [v](const zidl_tessel_gpb_unicast_grant &u) {
            EXPECT_EQ(u.ifhandle, v);
            EXPECT_EQ(u.present, zidl_tessel_gpb_bit(2));
        };
    };
    const bytes_t eight_ff(8, 0xFF);
    const std::vector<malformed_case> cases = {
        {"empty input", {}, 0, [](const auto &u) { EXPECT_EQ(u, zidl_tessel_gpb_unicast_grant{}); }},
        {"tag cut short", {0x80}, -1, nullptr},
        {"two-byte tag cut short", {0x10, 0x01, 0x80}, -1, nullptr},
        {"value cut short", {0x10, 0x80}, -1, nullptr},
        {"varint running to the end", cat({{0x10}, bytes_t(20, 0x80)}), -1, nullptr},
        {"u32 as a ten-byte varint keeps the low 32 bits",
         {0x10, 0xFD, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01},
         0,
         ifhandle(0xFFFFFFFD)},
        {"continuation bytes past the tenth are skipped", cat({{0x10, 0x85}, bytes_t(11, 0x80), {0x00}}), 0,
         ifhandle(5)},
        {"bool written as 2 reads as 1", {0x30, 0x02}, 0, [](const auto &u) { EXPECT_EQ(u.is_announce_granted, 1); }},
        {"bytes length one past the end", {0x0A, 0x03, 'a', 'b'}, -1, nullptr},
        {"bytes length overflowing", {0x0A, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 'a'}, -1, nullptr},
        {"sub-message length past the end", {0x1A, 0x05, 0x08, 0x02}, -1, nullptr},
        {"sub-message cut short inside", {0x1A, 0x02, 0x08, 0x80}, -1, nullptr},
        {"u32 field length-delimited", {0x12, 0x01, 0x00}, -3, nullptr},
        {"bytes field as a varint", {0x08, 0x01}, -3, nullptr},
        {"sub-message field as a varint", {0x18, 0x01}, -3, nullptr},
        {"bool field as fixed32", {0x35, 0x00, 0x00, 0x00, 0x00}, -3, nullptr},
        {"known field with a group wire type", {0x13}, -3, nullptr},
        {"wrong wire type inside a sub-message comes up unchanged", {0x1A, 0x02, 0x0A, 0x00}, -3, nullptr},
        {"unknown varint skipped", {0xB0, 0x01, 0x96, 0x01, 0x10, 0x07}, 0, ifhandle(7)},
        {"unknown fixed64 skipped", cat({{0xB1, 0x01}, eight_ff, {0x10, 0x07}}), 0, ifhandle(7)},
        {"unknown length-delimited skipped", {0xB2, 0x01, 0x02, 0xAA, 0xBB, 0x10, 0x07}, 0, ifhandle(7)},
        {"unknown fixed32 skipped", {0xB5, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x10, 0x07}, 0, ifhandle(7)},
        {"field number 0 skipped", {0x00, 0x05, 0x10, 0x07}, 0, ifhandle(7)},
        {"unknown varint cut short", {0xB0, 0x01, 0x96}, -1, nullptr},
        {"unknown fixed64 cut short", {0xB1, 0x01, 1, 2, 3}, -1, nullptr},
        {"unknown length past the end", {0xB2, 0x01, 0x05, 0xAA}, -1, nullptr},
        {"unknown fixed32 cut short", {0xB5, 0x01, 1, 2, 3}, -1, nullptr},
        {"unknown start group", {0xB3, 0x01}, -2, nullptr},
        {"unknown end group", {0xB4, 0x01}, -2, nullptr},
        {"unknown wire type 6", {0xB6, 0x01}, -2, nullptr},
        {"unknown wire type 7", {0xB7, 0x01}, -2, nullptr},
        {"bytes field twice", {0x0A, 0x01, 'a', 0x0A, 0x01, 'b'}, -1, nullptr},
        {"u32 field twice keeps the second", {0x10, 0x01, 0x10, 0x02}, 0, ifhandle(2)},
        {"sub-message twice keeps the second",
         {0x2A, 0x02, 0x08, 0x01, 0x2A, 0x02, 0x10, 0x02},
         0,
         [](const auto &u) {
             EXPECT_EQ(u.peer_port_id, (zidl_tessel_gpb_port_id{0, 2, zidl_tessel_gpb_bit(2)}));
         }},
        // Replacing the first would lose its block.
        {"sub-message holding a block twice", {0x1A, 0x03, 0x12, 0x01, 0xAA, 0x1A, 0x02, 0x08, 0x02}, -1, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        decoded<zidl_tessel_gpb_unicast_grant> d(c.in);
        EXPECT_EQ(d.rc, c.rc);
        if (c.check) {
            c.check(d.m);
        }
    }
}

TEST(ZidlTesselGpb, AllocatorFailureIsRefusedAndDecodedBlocksStayFreeable)
{
    const bytes_t packed = pack(grant());
    // The name, then the two addresses inside sub-messages: the context reaches them all.
    {
        decoded<zidl_tessel_gpb_unicast_grant> d(packed);
        EXPECT_EQ(d.rc, 0);
        EXPECT_EQ(d.heap.allocs, 3);
    }
    for (int fail_at = 1; fail_at <= 3; fail_at++) {
        SCOPED_TRACE(fail_at);
        decoded<zidl_tessel_gpb_unicast_grant> d(packed, fail_at);
        EXPECT_EQ(d.rc, ZIDL_TESSEL_GPB_NO_MEMORY);
        EXPECT_EQ(d.heap.allocs, fail_at);
    }
    zidl_tessel_gpb_unicast_grant m{};
    EXPECT_EQ(zidl_tessel_gpb_unicast_grant_unpack(&m, packed.data(), packed.size(), nullptr, nullptr),
              ZIDL_TESSEL_GPB_NO_MEMORY);
    zidl_tessel_gpb_unicast_grant_free(&m, test_free, nullptr, 0);
}

TEST(ZidlTesselGpb, FreeReturnsEveryBlockUnlessBorrowed)
{
    const bytes_t packed = pack(interface());
    zidl_tessel_gpb_if m{};
    heap_count heap;
    ASSERT_EQ(zidl_tessel_gpb_if_unpack(&m, packed.data(), packed.size(), test_alloc, &heap), 0);
    // Name, ether information, two addresses, the list; two foreign-master and three config addresses.
    EXPECT_EQ(heap.allocs, 10);
    zidl_tessel_gpb_if_free(&m, test_free, &heap, ZIDL_TESSEL_GPB_FREE_BORROWED);
    EXPECT_EQ(heap.frees, 0);
    zidl_tessel_gpb_if_free(&m, test_free, &heap, 0);
    EXPECT_EQ(heap.frees, 10);
    EXPECT_EQ(m.ifname.data, nullptr);
    EXPECT_EQ(m.config.multicast_address.address.data, nullptr);
    zidl_tessel_gpb_if_free(&m, test_free, &heap, 0);
    EXPECT_EQ(heap.frees, 10);
}

} // namespace
