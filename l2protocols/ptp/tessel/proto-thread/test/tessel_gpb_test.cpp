// The checkpoint records' encoding glue on the real codec: every record kind comes back as it
// went in, and stored bytes that lack a required field or hold a byte string of the wrong length
// are refused with their result code, the caller's record untouched and nothing leaked.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ptp_trace_points.h"
#include "ptp_zerr_codes.h"
#include "tessel_alloc.h"
#include "tessel_gpb.h"
#include "tessel_pm_test_env.h"

namespace {

using bytes_type = std::vector<uint8_t>;

constexpr zerrno DECODE = PTP_ZERR2_GPB_DECODE;
constexpr zerrno MISSING = PTP_ZERR2_GPB_ELEMENT_MISSING;
constexpr zerrno SIZE = PTP_ZERR2_GPB_ELEMENT_SIZE;
static_assert(DECODE == 0x4F94A600u && MISSING == 0x4F94AA00u && SIZE == 0x4F94A800u);

ptp_address_type address(uint32_t encap, uint8_t first)
{
    ptp_address_type a;
    std::memset(&a, 0, sizeof a);
    a.encap = encap;
    for (uint8_t i = 0; i < (encap == PTP_ENCAP_IPV6 ? 16 : encap == PTP_ENCAP_IPV4 ? 4 : 6); ++i) {
        a.value[i] = static_cast<uint8_t>(first + i);
    }
    return a;
}

// A clock with every carried member set, negative UTC offset included.
ptp_clock_type clock(uint64_t id)
{
    ptp_clock_type c;
    std::memset(&c, 0, sizeof c);
    c.clock_id = id;
    c.priority1 = 12;
    c.clock_class = 248;
    c.accuracy = 0xFE;
    c.offset_log_variance = 0xFFFF;
    c.priority2 = 34;
    c.steps_removed = 513;
    c.time_source = 0xA0;
    c.utc_offset = -37;
    c.utc_offset_valid = 1;
    c.frequency_traceable = 1;
    c.time_traceable = 1;
    c.timescale = 1;
    c.leap_seconds = 2;
    // Members one by one: the records are compared byte for byte, padding included.
    c.sender.clock_id = id;
    c.sender.port_num = 7;
    c.receiver.clock_id = 0xFFFFFFFFFFFFFFFFull;
    c.receiver.port_num = 65535;
    c.local = 1;
    c.configured_clock_class = 6;
    c.configured_priority = 200;
    return c;
}

struct if_deleter {
    void operator()(tessel_chkpt_if_type *rec) const { tessel_free(rec); }
};
using if_ptr = std::unique_ptr<tessel_chkpt_if_type, if_deleter>;

if_ptr if_record(uint32_t num_ipv4, uint32_t num_ipv6)
{
    const size_t size = tessel_chkpt_if_size(num_ipv4, num_ipv6);
    if_ptr rec(static_cast<tessel_chkpt_if_type *>(tessel_calloc(1, size)));
    std::memset(rec->ifname, 'x', sizeof rec->ifname - 1); // the longest name, 63 characters
    rec->ifhandle = 0x1234;
    rec->iftype = 0xBEEF;
    rec->port_num = 65535;
    rec->port_state = 9;
    rec->im_state = 3;
    rec->ether_info_known = 1;
    for (size_t i = 0; i < sizeof rec->ether_info; ++i) {
        rec->ether_info[i] = static_cast<uint8_t>(i);
    }
    rec->ether_info_len = 300;
    std::memcpy(rec->ip_address, "\x0a\x00\x00\x01", 4);
    std::memset(rec->ipv6_address, 0xFE, sizeof rec->ipv6_address);
    rec->vrf_known = 1;
    rec->ipv4_vrf = 0x60000001;
    rec->foreign_master_present = 1;
    tessel_chkpt_foreign_master_type &fm = rec->foreign_master;
    fm.peer_addr = address(PTP_ENCAP_IPV4, 20);
    fm.sent_to_addr = address(PTP_ENCAP_ETHERNET, 0x10);
    fm.master_clock = clock(0x0011223344556677ull);
    fm.transport = 2;
    fm.delay_asymmetry = -1500;
    fm.configured_priority = 17;
    fm.is_priority_configured = 1;
    fm.configured_clock_class = 7;
    fm.is_clock_class_configured = 1;
    fm.is_nonnegotiated = 1;
    fm.is_in_master_table = 1;
    tessel_chkpt_config_type &cfg = rec->config;
    cfg.encap = 3;
    cfg.announce_interval = -3;
    cfg.announce_timeout = 10;
    cfg.sync_interval = -7;
    cfg.delay_req_interval = -7;
    cfg.transport = 1;
    cfg.one_step = 1;
    cfg.port_state = 2;
    cfg.source_ip.enable = 1;
    std::memcpy(cfg.source_ip.ip_address, "\xc0\xa8\x01\x02", 4);
    cfg.source_ipv6.enable = 1;
    std::memset(cfg.source_ipv6.ip_address, 0x20, sizeof cfg.source_ipv6.ip_address);
    cfg.sync_timeout = 1;
    cfg.delay_resp_timeout = 2;
    cfg.deny_invalid_grants = 1;
    cfg.announce_grant_duration = 60;
    cfg.sync_grant_duration = 61;
    cfg.delay_resp_grant_duration = 62;
    cfg.local_priority = 255;
    cfg.multicast_address = address(PTP_ENCAP_IPV6, 0xFF);
    cfg.cos = 1;
    cfg.general_cos = 2;
    cfg.event_cos = 3;
    cfg.dscp = 4;
    cfg.general_dscp = 5;
    cfg.event_dscp = 6;
    cfg.ipv4_ttl = 7;
    cfg.ipv6_hop_limit = 8;
    rec->num_ipv4_addr = num_ipv4;
    rec->num_ipv6_addr = num_ipv6;
    uint8_t *list = tessel_chkpt_if_addr_list(rec.get());
    for (size_t i = 0; i < 4 * num_ipv4 + 16 * num_ipv6; ++i) {
        list[i] = static_cast<uint8_t>(0x80 + i);
    }
    return rec;
}

tessel_chkpt_gl_type gl_record()
{
    tessel_chkpt_gl_type gl;
    std::memset(&gl, 0, sizeof gl);
    gl.local_clock_present = 1;
    gl.local_clock_id = 0xAABBCCFFFEDDEEFFull;
    gl.local_clock_domain = 44;
    gl.bmc_present = 1;
    gl.bmc = clock(0x1111);
    gl.advertised = clock(0x2222);
    gl.synced = 1;
    gl.slave_supported = 1;
    gl.selected = 1;
    gl.profile = 3;
    gl.profile_version = 2;
    gl.min_clock_class_present = 1;
    gl.min_clock_class = 165;
    return gl;
}

tessel_chkpt_unicast_grant_type grant_record()
{
    tessel_chkpt_unicast_grant_type g;
    std::memset(&g, 0, sizeof g);
    std::strcpy(g.ifname, "GigE0/0/0/1");
    g.ifhandle = 0x640;
    g.peer_addr = address(PTP_ENCAP_IPV6, 0x30);
    g.local_addr = address(PTP_ENCAP_IPV6, 0x40);
    g.peer_port_id.clock_id = 0x0102030405060708ull;
    g.peer_port_id.port_num = 3;
    g.grant_flags = TESSEL_CHKPT_GRANT_ANNOUNCE | TESSEL_CHKPT_GRANT_DELAY_RESP;
    g.log_interval[0] = -3;
    g.log_interval[1] = -7;
    g.log_interval[2] = 4;
    g.app_log_interval[0] = -128;
    g.app_log_interval[1] = 127;
    g.app_log_interval[2] = 0;
    g.duration[0] = 300;
    g.duration[1] = 1000;
    g.duration[2] = 0xFFFFFFFF;
    g.expiry[0] = 1700000000;
    g.expiry[1] = 0;
    g.expiry[2] = 0xFFFFFFFF;
    g.nonnegotiated_flags = 1;
    return g;
}

tessel_chkpt_peer_index_type peer_index_record()
{
    tessel_chkpt_peer_index_type p;
    std::memset(&p, 0, sizeof p);
    std::strcpy(p.ifname, "Bundle-Ether7");
    p.peer_addr = address(PTP_ENCAP_IPV4, 5);
    p.peer_index = 65535;
    return p;
}

template <typename Rec>
bytes_type encoded(void (*encode)(Rec *, uint8_t *, size_t *), Rec *rec)
{
    bytes_type buffer(TESSEL_CHKPT_RECORD_SIZE);
    size_t len = 0;
    encode(rec, buffer.data(), &len);
    buffer.resize(len);
    return buffer;
}

// The offset of the first byte where two records differ (their size when equal).
size_t first_difference(const void *a, const void *b, size_t size)
{
    const auto *x = static_cast<const uint8_t *>(a);
    const auto *y = static_cast<const uint8_t *>(b);
    size_t i = 0;
    while (i < size && x[i] == y[i]) {
        ++i;
    }
    return i;
}

// Stored bytes made from a valid record's message with one change: the record is encoded,
// unpacked, changed and packed again.
template <typename M>
struct mutation {
    int (*unpack)(M *, const uint8_t *, size_t, zidl_tessel_gpb_alloc_fn, void *);
    size_t (*pack)(const M *, uint8_t *, size_t);
    void (*free)(M *, zidl_tessel_gpb_free_fn, void *, uint32_t);

    bytes_type apply(const bytes_type &valid, const std::function<void(M &)> &change) const
    {
        M msg;
        EXPECT_EQ(unpack(&msg, valid.data(), valid.size(), ptp_gpb_calloc, nullptr), 0);
        change(msg);
        bytes_type out(pack(&msg, nullptr, 0));
        pack(&msg, out.data(), out.size());
        free(
            &msg, [](void *block, void *) { std::free(block); }, nullptr, 0);
        return out;
    }
};
const mutation<zidl_tessel_gpb_if> if_mutation{zidl_tessel_gpb_if_unpack, zidl_tessel_gpb_if_pack,
                                               zidl_tessel_gpb_if_free};
const mutation<zidl_tessel_gpb_gl> gl_mutation{zidl_tessel_gpb_gl_unpack, zidl_tessel_gpb_gl_pack,
                                               zidl_tessel_gpb_gl_free};
const mutation<zidl_tessel_gpb_unicast_grant> grant_mutation{
    zidl_tessel_gpb_unicast_grant_unpack, zidl_tessel_gpb_unicast_grant_pack, zidl_tessel_gpb_unicast_grant_free};
const mutation<zidl_tessel_gpb_peer_index> peer_index_mutation{
    zidl_tessel_gpb_peer_index_unpack, zidl_tessel_gpb_peer_index_pack, zidl_tessel_gpb_peer_index_free};

// Changes of a message.
void drop(uint32_t &present, unsigned field)
{
    present &= ~zidl_tessel_gpb_bit(field);
}
// A byte string of len bytes in place of the stored one (0: absent).
void resize(zidl_tessel_gpb_bytes &b, uint32_t &present, unsigned field, size_t len)
{
    std::free(b.data);
    b.data = len != 0 ? static_cast<uint8_t *>(std::calloc(1, len)) : nullptr;
    b.len = len;
    if (len == 0) {
        drop(present, field);
    }
}

class GpbTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        evm = event_create_manager(nullptr, nullptr, 0);
        pm_debug_setup(evm);
        debug_set_area(PTP_DEBUG_PATH, "port_mgr", nullptr);
        debug_capture_clear();
        trace.open();
    }
    void TearDown() override
    {
        tessel_alloc_test_fail(0, 0);
        trace.close();
        ptp_debug_cleanup();
        event_manager_destroy(evm);
    }
    // The one debug line of a refusal, without the area label.
    static std::string refusal_line()
    {
        const std::vector<std::string> lines = debug_captured();
        return lines.size() == 1 ? lines[0] : "(" + std::to_string(lines.size()) + " lines)";
    }
    event_mgr_type *evm = nullptr;
    pm_trace_buffers trace;
};

// ---- Round trips ----

TEST_F(GpbTest, EveryRecordKindComesBackAsItWentIn)
{
    for (const auto &[v4, v6] : std::vector<std::pair<uint32_t, uint32_t>>{{0, 0}, {2, 1}, {0, 3}}) {
        SCOPED_TRACE(std::to_string(v4) + " IPv4, " + std::to_string(v6) + " IPv6 addresses");
        if_ptr rec = if_record(v4, v6);
        const bytes_type stored = encoded(tessel_gpb_if_encode, rec.get());
        tessel_chkpt_if_type *out = nullptr;
        ASSERT_EQ(tessel_gpb_if_unserialize(stored.data(), stored.size(), 0, &out), 0u);
        if_ptr back(out);
        const size_t size = tessel_chkpt_if_size(v4, v6);
        EXPECT_EQ(first_difference(back.get(), rec.get(), size), size);
    }

    tessel_chkpt_gl_type gl = gl_record();
    bytes_type stored = encoded(tessel_gpb_gl_encode, &gl);
    tessel_chkpt_gl_type gl_back;
    ASSERT_EQ(tessel_gpb_gl_unserialize(stored.data(), stored.size(), &gl_back), 0u);
    EXPECT_EQ(first_difference(&gl_back, &gl, sizeof gl), sizeof gl);

    tessel_chkpt_unicast_grant_type grant = grant_record();
    stored = encoded(tessel_gpb_unicast_grant_encode, &grant);
    tessel_chkpt_unicast_grant_type grant_back;
    ASSERT_EQ(tessel_gpb_unicast_grant_unserialize(stored.data(), stored.size(), &grant_back), 0u);
    EXPECT_EQ(first_difference(&grant_back, &grant, sizeof grant), sizeof grant);

    tessel_chkpt_peer_index_type pi = peer_index_record();
    stored = encoded(tessel_gpb_peer_index_encode, &pi);
    tessel_chkpt_peer_index_type pi_back;
    ASSERT_EQ(tessel_gpb_peer_index_unserialize(stored.data(), stored.size(), &pi_back), 0u);
    EXPECT_EQ(first_difference(&pi_back, &pi, sizeof pi), sizeof pi);
    EXPECT_TRUE(debug_captured().empty());
}

// The interface manager can give an interface more addresses than a record holds: nothing is
// packed (and the agent lives on), while the most that fits is packed whole.
TEST_F(GpbTest, AnInterfaceWithMoreAddressesThanARecordHoldsPacksNothing)
{
    EXPECT_TRUE(encoded(tessel_gpb_if_encode, if_record(0, 400).get()).empty());
    EXPECT_FALSE(encoded(tessel_gpb_if_encode, if_record(8, 8).get()).empty());
}

TEST_F(GpbTest, APeerIndexRecordIsStoredInItsExactBytes)
{
    tessel_chkpt_peer_index_type pi;
    std::memset(&pi, 0, sizeof pi);
    std::strcpy(pi.ifname, "Gi0");
    pi.peer_addr = address(PTP_ENCAP_IPV4, 10);
    pi.peer_index = 5;
    bytes_type expected = {0x0A, 0x40, 'G', 'i', '0'};
    expected.resize(2 + 64);
    for (uint8_t b : {0x12, 0x14, 0x08, 0x02, 0x12, 0x10, 10, 11, 12, 13}) {
        expected.push_back(b);
    }
    expected.resize(expected.size() + 12);
    expected.insert(expected.end(), {0x18, 0x05});
    EXPECT_EQ(encoded(tessel_gpb_peer_index_encode, &pi), expected);
}

// ---- Refused stored bytes ----

struct refusal_row {
    const char *name;
    std::function<bytes_type(const bytes_type &)> stored; // from the valid record's bytes
    zerrno rc;
    const char *line; // the debug line after "PORT-MGR: [ERROR] "
};

TEST_F(GpbTest, AnInterfaceRecordWithoutARequiredFieldOrOfTheWrongSizeIsRefused)
{
    using M = zidl_tessel_gpb_if;
    auto change = [](std::function<void(M &)> f) {
        return [f](const bytes_type &valid) { return if_mutation.apply(valid, f); };
    };
    const std::vector<refusal_row> rows = {
        {"not an encoding", [](const bytes_type &v) { return bytes_type(v.begin(), v.begin() + 40); }, DECODE,
         "tessel_gpb_if_decode: A checkpoint entry could not be decoded, rv: -1"},
        {"name of 63 bytes", change([](M &m) { resize(m.ifname, m.present, 1, 63); }), SIZE,
         "tessel_gpb_if_check: A checkpoint entry for value ifname was of the wrong size"},
        {"name of 65 bytes", change([](M &m) { resize(m.ifname, m.present, 1, 65); }), SIZE,
         "tessel_gpb_if_check: A checkpoint entry for value ifname was of the wrong size"},
        {"no name", change([](M &m) { resize(m.ifname, m.present, 1, 0); }), SIZE,
         "tessel_gpb_if_check: A checkpoint entry for value ifname was of the wrong size"},
        {"no handle", change([](M &m) { drop(m.present, 2); }), MISSING,
         "tessel_gpb_if_check: A checkpoint entry was missing a ifhandle value"},
        {"no type", change([](M &m) { drop(m.present, 3); }), MISSING,
         "tessel_gpb_if_check: A checkpoint entry was missing a iftype value"},
        {"no port number", change([](M &m) { drop(m.present, 4); }), MISSING,
         "tessel_gpb_if_check: A checkpoint entry was missing a port_num value"},
        {"no port state", change([](M &m) { drop(m.present, 5); }), MISSING,
         "tessel_gpb_if_check: A checkpoint entry was missing a port_state value"},
        {"no line state", change([](M &m) { drop(m.present, 6); }), MISSING,
         "tessel_gpb_if_check: A checkpoint entry was missing a im_state value"},
        {"known ether information of 301 bytes", change([](M &m) { resize(m.ether_info, m.present, 8, 301); }), SIZE,
         "tessel_gpb_if_check: A checkpoint entry for value ether_info was of the wrong size"},
        {"known ether information longer than its buffer", change([](M &m) { m.ether_info_len = 301; }), SIZE,
         "tessel_gpb_if_check: A checkpoint entry for value ether_info was of the wrong size"},
        {"IPv4 address of 16 bytes", change([](M &m) { resize(m.ip_address, m.present, 10, 16); }), SIZE,
         "tessel_gpb_if_check: A checkpoint entry for value ip_address was of the wrong size"},
        {"IPv6 address of 4 bytes", change([](M &m) { resize(m.ipv6_address, m.present, 11, 4); }), SIZE,
         "tessel_gpb_if_check: A checkpoint entry for value ipv6_address was of the wrong size"},
        {"no configuration", change([](M &m) {
             zidl_tessel_gpb_config_free(
                 &m.config, [](void *b, void *) { std::free(b); }, nullptr, 0);
             m.config = {};
             drop(m.present, 16);
         }),
         MISSING, "tessel_gpb_clock_operation_check: A checkpoint entry was missing a one_step value"},
        {"source IPv4 address of 5 bytes",
         change([](M &m) { resize(m.config.source_ip.ip_address, m.config.source_ip.present, 2, 5); }), SIZE,
         "tessel_gpb_source_ip_check: A checkpoint entry for value ip_address was of the wrong size"},
        {"no source IPv6 address",
         change([](M &m) { resize(m.config.source_ipv6.ip_address, m.config.source_ipv6.present, 2, 0); }), SIZE,
         "tessel_gpb_source_ipv6_check: A checkpoint entry for value ip_address was of the wrong size"},
        {"multicast address of 17 bytes",
         change([](M &m) { resize(m.config.multicast_address.address, m.config.multicast_address.present, 2, 17); }),
         SIZE, "tessel_gpb_address_check: A checkpoint entry for value address was of the wrong size"},
        {"multicast address without its kind", change([](M &m) { drop(m.config.multicast_address.present, 1); }),
         MISSING, "tessel_gpb_address_check: A checkpoint entry was missing a address_type value"},
        {"address lists one byte short", change([](M &m) { resize(m.addr_list, m.present, 19, m.addr_list.len - 1); }),
         SIZE, "tessel_gpb_if_check: A checkpoint entry for value addr_list was of the wrong size"},
        {"one IPv6 address more than stored", change([](M &m) { m.num_ipv6_addr++; }), SIZE,
         "tessel_gpb_if_check: A checkpoint entry for value addr_list was of the wrong size"},
        {"counts that wrap 32 bits", change([](M &m) {
             // 4 x 0x40000000 + 16 x 0x10000000 is 0 in 32 bits: the length of no list.
             m.num_ipv4_addr = 0x40000000;
             m.num_ipv6_addr = 0x10000000;
             resize(m.addr_list, m.present, 19, 0);
         }),
         SIZE, "tessel_gpb_if_check: A checkpoint entry for value addr_list was of the wrong size"},
    };
    if_ptr rec = if_record(2, 1);
    const bytes_type valid = encoded(tessel_gpb_if_encode, rec.get());
    for (const refusal_row &r : rows) {
        SCOPED_TRACE(r.name);
        const bytes_type stored = r.stored(valid);
        debug_capture_clear();
        tessel_chkpt_if_type *out = reinterpret_cast<tessel_chkpt_if_type *>(&out);
        EXPECT_EQ(tessel_gpb_if_unserialize(stored.data(), stored.size(), 0, &out), r.rc);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(refusal_line(), std::string("PORT-MGR: [ERROR] ") + r.line);
    }
    // Each refusal leaves its code in the detail buffer.
    EXPECT_EQ(pm_trace_buffers::lines("ptp/tessel/det").size(), rows.size());
}

TEST_F(GpbTest, TheOtherRecordsWithoutARequiredFieldOrOfTheWrongSizeAreRefusedAndTheCallersRecordKept)
{
    using G = zidl_tessel_gpb_gl;
    using U = zidl_tessel_gpb_unicast_grant;
    using P = zidl_tessel_gpb_peer_index;
    auto gl = [](std::function<void(G &)> f) {
        return [f](const bytes_type &valid) { return gl_mutation.apply(valid, f); };
    };
    auto grant = [](std::function<void(U &)> f) {
        return [f](const bytes_type &valid) { return grant_mutation.apply(valid, f); };
    };
    auto pi = [](std::function<void(P &)> f) {
        return [f](const bytes_type &valid) { return peer_index_mutation.apply(valid, f); };
    };
    auto cut = [](const bytes_type &v) { return bytes_type(v.begin(), v.end() - 1); };
    const std::vector<refusal_row> gl_rows = {
        {"not an encoding", cut, DECODE, "tessel_gpb_gl_decode: A checkpoint entry could not be decoded, rv: -1"},
        {"no advertised clock", gl([](G &m) {
             m.advertised = {};
             drop(m.present, 5);
         }),
         MISSING, "tessel_gpb_gl_check: A checkpoint entry was missing a advertised value"},
        {"no slave support flag", gl([](G &m) { drop(m.present, 7); }), MISSING,
         "tessel_gpb_gl_check: A checkpoint entry was missing a supports_slave value"},
        {"no selected flag", gl([](G &m) { drop(m.present, 10); }), MISSING,
         "tessel_gpb_gl_check: A checkpoint entry was missing a selected value"},
        {"local clock without its identity", gl([](G &m) { drop(m.local_clock.present, 1); }), MISSING,
         "tessel_gpb_local_clock_check: A checkpoint entry was missing a clock_id value"},
        {"best master without its identity", gl([](G &m) { drop(m.bmc.present, 1); }), MISSING,
         "tessel_gpb_clock_check: A checkpoint entry was missing a clock_id value"},
        {"advertised clock's sender without its port", gl([](G &m) { drop(m.advertised.sender.present, 2); }), MISSING,
         "tessel_gpb_port_id_check: A checkpoint entry was missing a port_num value"},
    };
    const std::vector<refusal_row> grant_rows = {
        {"not an encoding", cut, DECODE,
         "tessel_gpb_unicast_grant_decode: A checkpoint entry could not be decoded, rv: -1"},
        {"name of 8 bytes", grant([](U &m) { resize(m.ifname, m.present, 1, 8); }), SIZE,
         "tessel_gpb_unicast_grant_check: A checkpoint entry for value ifname was of the wrong size"},
        {"no handle", grant([](U &m) { drop(m.present, 2); }), MISSING,
         "tessel_gpb_unicast_grant_check: A checkpoint entry was missing a ifhandle value"},
        {"peer address of 20 bytes", grant([](U &m) { resize(m.peer_addr.address, m.peer_addr.present, 2, 20); }), SIZE,
         "tessel_gpb_address_check: A checkpoint entry for value address was of the wrong size"},
        {"second address without its kind", grant([](U &m) { drop(m.second_address.present, 1); }), MISSING,
         "tessel_gpb_address_check: A checkpoint entry was missing a address_type value"},
        {"peer port without its identity", grant([](U &m) { drop(m.peer_port_id.present, 1); }), MISSING,
         "tessel_gpb_port_id_check: A checkpoint entry was missing a clock_id value"},
        {"no Sync grant flag", grant([](U &m) { drop(m.present, 7); }), MISSING,
         "tessel_gpb_unicast_grant_check: A checkpoint entry was missing a is_sync_granted value"},
        {"no Delay-Resp expiry", grant([](U &m) { drop(m.present, 14); }), MISSING,
         "tessel_gpb_unicast_grant_check: A checkpoint entry was missing a delay_resp_expiry_time value"},
    };
    const std::vector<refusal_row> pi_rows = {
        {"not an encoding", [](const bytes_type &) { return bytes_type{0x0F}; }, DECODE,
         "tessel_gpb_peer_index_decode: A checkpoint entry could not be decoded, rv: -3"},
        {"name of 64 bytes and a NUL", pi([](P &m) { resize(m.ifname, m.present, 1, 65); }), SIZE,
         "tessel_gpb_peer_index_check: A checkpoint entry for value ifname was of the wrong size"},
        {"no address", pi([](P &m) { resize(m.address.address, m.address.present, 2, 0); }), SIZE,
         "tessel_gpb_address_check: A checkpoint entry for value address was of the wrong size"},
        {"no index", pi([](P &m) { drop(m.present, 3); }), MISSING,
         "tessel_gpb_peer_index_check: A checkpoint entry was missing a peer_index value"},
    };

    auto run = [](const std::vector<refusal_row> &rows, const bytes_type &valid, auto unserialize, auto *out) {
        for (const refusal_row &r : rows) {
            SCOPED_TRACE(r.name);
            const bytes_type stored = r.stored(valid);
            std::memset(out, 0xA5, sizeof *out);
            debug_capture_clear();
            EXPECT_EQ(unserialize(stored.data(), stored.size(), out), r.rc);
            EXPECT_TRUE(std::all_of(reinterpret_cast<uint8_t *>(out), reinterpret_cast<uint8_t *>(out + 1),
                                    [](uint8_t b) { return b == 0xA5; }));
            EXPECT_EQ(refusal_line(), std::string("PORT-MGR: [ERROR] ") + r.line);
        }
    };
    tessel_chkpt_gl_type gl_rec = gl_record();
    tessel_chkpt_gl_type gl_out;
    run(gl_rows, encoded(tessel_gpb_gl_encode, &gl_rec), tessel_gpb_gl_unserialize, &gl_out);
    tessel_chkpt_unicast_grant_type grant_rec = grant_record();
    tessel_chkpt_unicast_grant_type grant_out;
    run(grant_rows, encoded(tessel_gpb_unicast_grant_encode, &grant_rec), tessel_gpb_unicast_grant_unserialize,
        &grant_out);
    tessel_chkpt_peer_index_type pi_rec = peer_index_record();
    tessel_chkpt_peer_index_type pi_out;
    run(pi_rows, encoded(tessel_gpb_peer_index_encode, &pi_rec), tessel_gpb_peer_index_unserialize, &pi_out);

    std::vector<uint32_t> numbers;
    for (const std::string &line : pm_trace_buffers::lines("ptp/tessel/det")) {
        numbers.push_back(static_cast<uint32_t>(std::stoull(line.substr(0, line.find('(')), nullptr, 16)) &
                          PTP_TRACE_NUMBER_MASK);
    }
    std::vector<uint32_t> expected(gl_rows.size(), 1263);
    expected.insert(expected.end(), grant_rows.size(), 1264);
    expected.insert(expected.end(), pi_rows.size(), 1265);
    EXPECT_EQ(numbers, expected);
}

// ---- Accepted with defaults ----

TEST_F(GpbTest, AnInterfaceRecordKeepsItselfWhenItsBestForeignMasterFailsItsChecks)
{
    using M = zidl_tessel_gpb_if;
    const std::vector<std::pair<const char *, std::function<void(M &)>>> rows = {
        {"master clock without its identity", [](M &m) { drop(m.foreign_master.clock.present, 1); }},
        {"master address of 4 bytes",
         [](M &m) { resize(m.foreign_master.address.address, m.foreign_master.address.present, 2, 4); }},
        {"no best foreign master",
         [](M &m) {
             zidl_tessel_gpb_foreign_master_free(
                 &m.foreign_master, [](void *b, void *) { std::free(b); }, nullptr, 0);
             m.foreign_master = {};
             drop(m.present, 15);
         }},
    };
    if_ptr rec = if_record(1, 0);
    const bytes_type valid = encoded(tessel_gpb_if_encode, rec.get());
    for (const auto &[name, f] : rows) {
        SCOPED_TRACE(name);
        const bytes_type stored = if_mutation.apply(valid, f);
        tessel_chkpt_if_type *out = nullptr;
        ASSERT_EQ(tessel_gpb_if_unserialize(stored.data(), stored.size(), 0, &out), 0u);
        if_ptr back(out);
        EXPECT_EQ(back->foreign_master_present, 0u);
        EXPECT_EQ(back->port_state, 9u);
        EXPECT_EQ(std::memcmp(tessel_chkpt_if_addr_list(back.get()), tessel_chkpt_if_addr_list(rec.get()), 4), 0);
    }
}

TEST_F(GpbTest, AbsentOptionalFieldsTakeTheirDefaults)
{
    // A configuration of one_step, the two source addresses and the multicast address only.
    if_ptr rec = if_record(0, 0);
    const bytes_type stored = if_mutation.apply(encoded(tessel_gpb_if_encode, rec.get()), [](zidl_tessel_gpb_if &m) {
        m.config.present =
            zidl_tessel_gpb_bit(7) | zidl_tessel_gpb_bit(9) | zidl_tessel_gpb_bit(10) | zidl_tessel_gpb_bit(18);
        m.config.source_ip.present = zidl_tessel_gpb_bit(2);
        drop(m.present, 9); // no ether information length: the information is not known
        drop(m.present, 12);
        drop(m.present, 13);
    });
    tessel_chkpt_if_type *out = nullptr;
    ASSERT_EQ(tessel_gpb_if_unserialize(stored.data(), stored.size(), 0, &out), 0u);
    if_ptr back(out);
    const tessel_chkpt_config_type &c = back->config;
    EXPECT_EQ(c.encap, 2u);
    EXPECT_EQ(c.announce_interval, 1);
    EXPECT_EQ(c.announce_timeout, 3u);
    EXPECT_EQ(c.sync_interval, 0);
    EXPECT_EQ(c.sync_timeout, 5000u);
    EXPECT_EQ(c.delay_resp_timeout, 5000u);
    EXPECT_EQ(c.announce_grant_duration, 300u);
    EXPECT_EQ(c.sync_grant_duration, 300u);
    EXPECT_EQ(c.delay_resp_grant_duration, 300u);
    EXPECT_EQ(c.local_priority, 128u);
    EXPECT_EQ(c.source_ip.enable, 0u);
    EXPECT_EQ(c.source_ipv6.enable, 1u);
    EXPECT_EQ(std::vector<uint32_t>({c.cos, c.general_cos, c.event_cos, c.dscp, c.general_dscp, c.event_dscp,
                                     c.ipv4_ttl, c.ipv6_hop_limit}),
              std::vector<uint32_t>({6, 6, 6, 46, 46, 46, 255, 255}));
    EXPECT_EQ(c.multicast_address.encap, uint32_t{PTP_ENCAP_IPV6});
    EXPECT_EQ(back->ether_info_known, 0u);
    EXPECT_EQ(back->ether_info_len, 0u);
    EXPECT_EQ(back->vrf_known, 0u);
    EXPECT_EQ(back->ipv4_vrf, 0u);

    tessel_chkpt_gl_type gl = gl_record();
    bytes_type gl_stored = gl_mutation.apply(encoded(tessel_gpb_gl_encode, &gl), [](zidl_tessel_gpb_gl &m) {
        drop(m.present, 12); // profile version
        // No local clock and no best master: not present, whatever their flags say.
        m.local_clock = {};
        drop(m.present, 2);
        m.bmc = {};
        drop(m.present, 4);
    });
    tessel_chkpt_gl_type gl_back;
    ASSERT_EQ(tessel_gpb_gl_unserialize(gl_stored.data(), gl_stored.size(), &gl_back), 0u);
    EXPECT_EQ(gl_back.profile_version, 1u);
    EXPECT_EQ(gl_back.local_clock_present, 0u);
    EXPECT_EQ(gl_back.bmc_present, 0u);
    EXPECT_EQ(gl_back.profile, 3u);

    tessel_chkpt_unicast_grant_type grant = grant_record();
    bytes_type grant_stored =
        grant_mutation.apply(encoded(tessel_gpb_unicast_grant_encode, &grant), [](zidl_tessel_gpb_unicast_grant &m) {
            for (unsigned field : {9u, 10u, 11u, 15u, 16u, 17u, 18u, 19u, 20u, 21u}) {
                drop(m.present, field);
            }
        });
    tessel_chkpt_unicast_grant_type grant_back;
    ASSERT_EQ(tessel_gpb_unicast_grant_unserialize(grant_stored.data(), grant_stored.size(), &grant_back), 0u);
    EXPECT_EQ(std::vector<int>(grant_back.log_interval, grant_back.log_interval + 3), std::vector<int>({1, 0, 0}));
    EXPECT_EQ(std::vector<int>(grant_back.app_log_interval, grant_back.app_log_interval + 3),
              std::vector<int>({1, 0, 0}));
    EXPECT_EQ(std::vector<uint32_t>(grant_back.duration, grant_back.duration + 3),
              std::vector<uint32_t>({300, 300, 300}));
    EXPECT_EQ(grant_back.nonnegotiated_flags, 0u);
}

TEST_F(GpbTest, StoredNamesEndInANulAndAStandbyTakesNoEtherInformation)
{
    if_ptr rec = if_record(0, 0);
    const bytes_type stored = if_mutation.apply(encoded(tessel_gpb_if_encode, rec.get()), [](zidl_tessel_gpb_if &m) {
        std::memset(m.ifname.data, 'y', m.ifname.len); // 64 characters and no NUL
    });
    tessel_chkpt_if_type *out = nullptr;
    ASSERT_EQ(tessel_gpb_if_unserialize(stored.data(), stored.size(), 1, &out), 0u);
    if_ptr back(out);
    EXPECT_EQ(std::string(back->ifname), std::string(63, 'y'));
    EXPECT_EQ(back->ether_info_known, 0u);
    EXPECT_EQ(back->ether_info_len, 0u);
    EXPECT_EQ(back->ether_info[1], 0u);
    EXPECT_EQ(back->vrf_known, 1u);
}

// ---- Out of memory ----

TEST_F(GpbTest, AnAllocationFailureWhileDecodingRefusesTheRecordAndLeaksNothing)
{
    // Ten byte strings to unpack, then the record itself.
    if_ptr rec = if_record(2, 1);
    const bytes_type stored = encoded(tessel_gpb_if_encode, rec.get());
    std::vector<zerrno> results;
    for (uint32_t after = 0; after < 20; ++after) {
        tessel_alloc_test_fail(after, 1);
        tessel_chkpt_if_type *out = nullptr;
        const zerrno rc = tessel_gpb_if_unserialize(stored.data(), stored.size(), 0, &out);
        tessel_free(out);
        tessel_alloc_test_fail(0, 0);
        results.push_back(rc);
        if (rc == 0) {
            break;
        }
    }
    std::vector<zerrno> expected(10, DECODE);
    expected.push_back(ENOMEM);
    expected.push_back(0);
    EXPECT_EQ(results, expected);
    EXPECT_EQ(pm_lines_with("tessel_gpb_if_decode: A checkpoint entry could not be decoded, rv: -4").size(), 10u);

    tessel_chkpt_gl_type gl = gl_record();
    const bytes_type gl_stored = encoded(tessel_gpb_gl_encode, &gl);
    tessel_alloc_test_fail(0, 1); // the global record holds no byte string
    tessel_chkpt_gl_type gl_back;
    EXPECT_EQ(tessel_gpb_gl_unserialize(gl_stored.data(), gl_stored.size(), &gl_back), 0u);
    tessel_chkpt_peer_index_type pi = peer_index_record();
    const bytes_type pi_stored = encoded(tessel_gpb_peer_index_encode, &pi);
    tessel_chkpt_peer_index_type pi_back;
    EXPECT_EQ(tessel_gpb_peer_index_unserialize(pi_stored.data(), pi_stored.size(), &pi_back), DECODE);
}

} // namespace
