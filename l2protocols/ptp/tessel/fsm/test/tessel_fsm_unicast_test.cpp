// Unicast negotiation: the TLV codec against hand-checked bytes, the master's decisions,
// renewal, expiry and cancel on virtual time, and the slave's requests, retries and renewals.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "evm.h"
#include "jotlog.h"
#include "jotlog_test.h"
#include "plat_clock.h"
#include "plat_clock_test.h"
#include "plat_debug.h"
#include "ptp_debug.h"
#include "ptp_trace_points.h"
#include "ptp_zerr_codes.h"
#include "tessel_debug_areas.h"
#include "tessel_fsm.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_services.h"
#include "tessel_fsm_signaling.h"
#include "tessel_fsm_types.h"
#include "tessel_fsm_unicast.h"
#include "tessel_fsm_unicast_test_fake.h"
#include "tessel_slave_db.h"
#include "tessel_stats.h"
#include "tessel_trace_buffers.h"

namespace {

using bytes = std::vector<uint8_t>;

// ---- TLV codec --------------------------------------------------------------------------------

TEST(SignalingCodec, BuildersWriteTheWireBytes)
{
    uint8_t b[12] = {};
    ASSERT_EQ(ptp_unicast_request_tlv_encode({PTP_MSG_SYNC, -4, 300}, b, sizeof b), 10u);
    EXPECT_EQ(bytes(b, b + 10), (bytes{0x00, 0x04, 0x00, 0x06, 0x00, 0xFC, 0x00, 0x00, 0x01, 0x2C}));

    ASSERT_EQ(
        ptp_unicast_grant_tlv_encode({PTP_MSG_ANNOUNCE, 1, 0x01020304, PTP_GRANT_FLAG_RENEWAL_INVITED}, b, sizeof b),
        12u);
    EXPECT_EQ(bytes(b, b + 12), (bytes{0x00, 0x05, 0x00, 0x08, 0xB0, 0x01, 0x01, 0x02, 0x03, 0x04, 0x00, 0x01}));

    ASSERT_EQ(ptp_unicast_cancel_tlv_encode(PTP_MSG_TLV_CANCEL_UNICAST, {PTP_MSG_DELAY_RESP}, b, sizeof b), 6u);
    EXPECT_EQ(bytes(b, b + 6), (bytes{0x00, 0x06, 0x00, 0x02, 0x90, 0x00}));
    ASSERT_EQ(ptp_unicast_cancel_tlv_encode(PTP_MSG_TLV_ACK_CANCEL_UNICAST, {PTP_MSG_SYNC}, b, sizeof b), 6u);
    EXPECT_EQ(bytes(b, b + 6), (bytes{0x00, 0x07, 0x00, 0x02, 0x00, 0x00}));

    // Too little room, or a type that is not a cancel: nothing written.
    EXPECT_EQ(ptp_unicast_grant_tlv_encode({PTP_MSG_SYNC, 0, 1, 0}, b, 11), 0u);
    EXPECT_EQ(ptp_unicast_cancel_tlv_encode(PTP_MSG_TLV_GRANT_UNICAST, {PTP_MSG_SYNC}, b, sizeof b), 0u);

    uint8_t msg[44] = {};
    ptp_signaling_target_encode(msg, nullptr);
    EXPECT_EQ(bytes(msg + 34, msg + 44), bytes(10, 0xFF));
    const ptp_port_id_type id{0x0102030405060708ull, 0x0A0B};
    ptp_signaling_target_encode(msg, &id);
    EXPECT_EQ(bytes(msg + 34, msg + 44), (bytes{1, 2, 3, 4, 5, 6, 7, 8, 0x0A, 0x0B}));
}

TEST(SignalingCodec, ParsersReadTheWireBytesAndRejectWrongLengths)
{
    const bytes req{0x00, 0x04, 0x00, 0x06, 0x90, 0xF9, 0x00, 0x00, 0x02, 0x58};
    ptp_unicast_request_tlv_type r{};
    ASSERT_TRUE(ptp_unicast_request_tlv_decode(req.data(), req.size(), &r));
    EXPECT_EQ(r.message_type, PTP_MSG_DELAY_RESP);
    EXPECT_EQ(r.log_interval, -7);
    EXPECT_EQ(r.duration, 600u);

    const bytes grant{0x00, 0x05, 0x00, 0x08, 0x00, 0xFE, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x01};
    ptp_unicast_grant_tlv_type g{};
    ASSERT_TRUE(ptp_unicast_grant_tlv_decode(grant.data(), grant.size(), &g));
    EXPECT_EQ(g.message_type, PTP_MSG_SYNC);
    EXPECT_EQ(g.log_interval, -2);
    EXPECT_EQ(g.duration, 60u);
    EXPECT_EQ(g.flags, PTP_GRANT_FLAG_RENEWAL_INVITED);

    const bytes cancel{0x00, 0x06, 0x00, 0x02, 0xB0, 0x00};
    ptp_unicast_cancel_tlv_type c{};
    ASSERT_TRUE(ptp_unicast_cancel_tlv_decode(cancel.data(), cancel.size(), &c));
    EXPECT_EQ(c.message_type, PTP_MSG_ANNOUNCE);

    struct bad_case {
        const char *what;
        bytes tlv;
    };
    const bad_case bad_grants[] = {
        {"lengthField 6", {0x00, 0x05, 0x00, 0x06, 0x00, 0xFE, 0x00, 0x00, 0x00, 0x3C}},
        {"lengthField 10 with 14 bytes", {0x00, 0x05, 0x00, 0x0A, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0}},
        {"12 bytes given for lengthField 6", {0x00, 0x05, 0x00, 0x06, 0, 0, 0, 0, 0, 1, 0, 1}},
        {"request type", {0x00, 0x04, 0x00, 0x08, 0, 0, 0, 0, 0, 1, 0, 1}},
        {"header only", {0x00, 0x05, 0x00, 0x08}},
    };
    for (const auto &b : bad_grants) {
        EXPECT_FALSE(ptp_unicast_grant_tlv_decode(b.tlv.data(), b.tlv.size(), &g)) << b.what;
    }
    const bytes short_req{0x00, 0x04, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x01};
    EXPECT_FALSE(ptp_unicast_request_tlv_decode(short_req.data(), short_req.size(), &r));
    const bytes long_cancel{0x00, 0x06, 0x00, 0x04, 0xB0, 0x00, 0x00, 0x00};
    EXPECT_FALSE(ptp_unicast_cancel_tlv_decode(long_cancel.data(), long_cancel.size(), &c));
    EXPECT_FALSE(ptp_unicast_cancel_tlv_decode(cancel.data(), 3, &c));

    EXPECT_STREQ(tessel_tlv_type_to_string(5), "Unicast-Grant");
    EXPECT_STREQ(tessel_tlv_type_to_string(9), "Alternate Time Offset Indicator");
    EXPECT_STREQ(tessel_tlv_type_to_string(0), "Unknown");
    EXPECT_STREQ(tessel_tlv_type_to_string(10), "Unknown");
}

TEST(SignalingCodec, RenewalTimes)
{
    struct row {
        uint32_t duration;
        uint32_t renew_after;
    };
    for (const row &r : {row{4, 3}, row{100, 75}, row{239, 179}, row{240, 180}, row{300, 240}, row{1000, 940}}) {
        EXPECT_EQ(ptp_fsm_unicast_renewal_time(r.duration), r.renew_after) << r.duration;
    }
}

// ---- Messages as the tests build and read them ------------------------------------------------

constexpr uint64_t LOCAL_ID = 0x0011223344556677ull;
constexpr uint16_t OWN_PORT = 3;
const ptp_port_id_type SLAVE_ID{0x0A0B0C0D0E0F1011ull, 7};

ptp_address_type ipv4(uint8_t last)
{
    ptp_address_type a{};
    a.encap = PTP_ENCAP_IPV4;
    a.value[0] = 10;
    a.value[3] = last;
    return a;
}

struct tlv_spec {
    uint16_t type;
    bytes body;
};

bytes request_body(uint32_t type, int8_t interval, uint32_t duration)
{
    return {static_cast<uint8_t>(type << 4),      static_cast<uint8_t>(interval),
            static_cast<uint8_t>(duration >> 24), static_cast<uint8_t>(duration >> 16),
            static_cast<uint8_t>(duration >> 8),  static_cast<uint8_t>(duration)};
}

// A Signaling message from `from` with these TLVs (lengthField = body size unless given).
bytes signaling(const std::vector<tlv_spec> &tlvs, const ptp_port_id_type &from = SLAVE_ID)
{
    bytes m(44, 0);
    m[0] = 0x0C;
    m[1] = 2;
    for (int i = 0; i < 8; i++) {
        m[20 + i] = static_cast<uint8_t>(from.clock_id >> (56 - 8 * i));
    }
    m[28] = static_cast<uint8_t>(from.port_num >> 8);
    m[29] = static_cast<uint8_t>(from.port_num);
    for (int i = 34; i < 44; i++) {
        m[i] = 0xFF;
    }
    for (const auto &t : tlvs) {
        m.push_back(static_cast<uint8_t>(t.type >> 8));
        m.push_back(static_cast<uint8_t>(t.type));
        m.push_back(static_cast<uint8_t>(t.body.size() >> 8));
        m.push_back(static_cast<uint8_t>(t.body.size()));
        m.insert(m.end(), t.body.begin(), t.body.end());
    }
    m[2] = static_cast<uint8_t>(m.size() >> 8);
    m[3] = static_cast<uint8_t>(m.size());
    return m;
}

uint16_t rd16(const bytes &b, size_t o)
{
    return static_cast<uint16_t>(b[o] << 8 | b[o + 1]);
}
uint32_t rd32(const bytes &b, size_t o)
{
    return uint32_t{rd16(b, o)} << 16 | rd16(b, o + 2);
}
uint64_t rd64(const bytes &b, size_t o)
{
    return uint64_t{rd32(b, o)} << 32 | rd32(b, o + 4);
}

// A sent Signaling message as read back from its bytes.
struct decoded_msg {
    uint16_t length;
    uint16_t flags;
    uint16_t seq;
    ptp_port_id_type target;
    std::vector<ptp_unicast_grant_tlv_type> grants;
    std::vector<ptp_unicast_request_tlv_type> requests;
    std::vector<std::pair<uint16_t, uint8_t>> cancels; // (tlv type, message type)
};

decoded_msg decode(const bytes &m)
{
    decoded_msg d{};
    EXPECT_GE(m.size(), 44u);
    EXPECT_EQ(m[0], 0x0C);
    EXPECT_EQ(m[1], 2);
    EXPECT_EQ(m[32], 5);    // controlField "other"
    EXPECT_EQ(m[33], 0x7F); // logMessageInterval
    EXPECT_EQ(rd64(m, 20), LOCAL_ID);
    EXPECT_EQ(rd16(m, 28), OWN_PORT);
    d.length = rd16(m, 2);
    EXPECT_EQ(d.length, m.size());
    d.flags = rd16(m, 6);
    d.seq = rd16(m, 30);
    d.target = {rd64(m, 34), rd16(m, 42)};
    size_t pos = 44;
    while (pos + 4 <= m.size()) {
        const uint16_t type = rd16(m, pos);
        const size_t len = rd16(m, pos + 2) + 4u;
        if (type == PTP_MSG_TLV_GRANT_UNICAST) {
            ptp_unicast_grant_tlv_type g{};
            EXPECT_TRUE(ptp_unicast_grant_tlv_decode(m.data() + pos, len, &g));
            d.grants.push_back(g);
        } else if (type == PTP_MSG_TLV_REQUEST_UNICAST) {
            ptp_unicast_request_tlv_type r{};
            EXPECT_TRUE(ptp_unicast_request_tlv_decode(m.data() + pos, len, &r));
            d.requests.push_back(r);
        } else {
            EXPECT_EQ(len, 6u);
            d.cancels.emplace_back(type, m[pos + 4] >> 4);
        }
        pos += len;
    }
    EXPECT_EQ(pos, m.size());
    return d;
}

void grant_changed(ptp_fsm_peer_entry_type *entry, int any_left)
{
    uc_fake.grant_changes.emplace_back(entry, any_left);
}

struct port_deleter {
    void operator()(tessel_proto_idb_type *p) const { ::operator delete(p); }
};

// A port of this node on virtual time, with its peer tree and foreign-master tree.
class Unicast : public testing::Test {
protected:
    static inline event_mgr_type *evm = nullptr;
    std::unique_ptr<tessel_proto_idb_type, port_deleter> holder;
    tessel_proto_idb_type *port = nullptr;
    ptp_address_type slave = ipv4(20);
    ptp_address_type local = ipv4(1);

    static void SetUpTestSuite()
    {
        plat_clock_use_virtual();
        evm = event_create_manager(nullptr, nullptr, 0);
        uc_fake_timers_start(evm);
    }
    static void TearDownTestSuite() { uc_fake_timers_stop(); }

    void SetUp() override
    {
        uc_fake_reset();
        ptp_fsm_callbacks_type cb{};
        cb.unicast_grant_change = grant_changed;
        ASSERT_EQ(ptp_fsm_module_init(&cb), 0u);
        void *mem = ::operator new(sizeof(tessel_proto_idb_type));
        std::memset(mem, 0, sizeof(tessel_proto_idb_type));
        holder.reset(static_cast<tessel_proto_idb_type *>(mem));
        port = holder.get();
        std::strcpy(port->header.ifname, "Gi0/0/0/1");
        port->header.ifhandle = 0x100;
        port->port_num = OWN_PORT;
        port->config.encap = PTP_ENCAP_IPV4;
        port->config.transport = PTP_TRANSPORT_UNICAST;
        port->config.announce_interval = 0;
        port->config.sync_interval = -4;
        port->config.delay_req_interval = -4;
        port->config.announce_timeout = 3;
        port->config.announce_grant_duration = 300;
        port->config.sync_grant_duration = 300;
        port->config.delay_resp_grant_duration = 300;
        port->fsm.PortState = PTP_PORT_STATE_MASTER;
        ASSERT_EQ(ptp_fsm_unicast_port_init(port), 0u);
        ASSERT_TRUE(ptp_fsm_proto_foreign_master_tree_init(port));
        ptp_fsm_unicast_allow_grants(port);
    }

    void TearDown() override
    {
        ptp_fsm_proto_foreign_master_tree_destroy(port);
        ptp_fsm_unicast_port_shutdown(port);
        EXPECT_EQ(port->fsm.unicast_peer_count, 0u);
        EXPECT_EQ(ptp_fsm_unicast_peer_count, 0u);
        ptp_fsm_module_deinit();
    }

    void request(const std::vector<tlv_spec> &tlvs, const ptp_address_type &from, const ptp_port_id_type &id = SLAVE_ID)
    {
        const bytes m = signaling(tlvs, id);
        ptp_fsm_unicast_handle_request_tlvs(port, &from, &local, m.data(), m.size(), &id);
    }
    void request(uint32_t type, int8_t interval, uint32_t duration)
    {
        request({{PTP_MSG_TLV_REQUEST_UNICAST, request_body(type, interval, duration)}}, slave);
    }
    // A received unicast TLV other than a request, with lengthField = body size.
    void tlv_in(uint16_t type, const bytes &body, const ptp_address_type &from, const ptp_port_id_type &id = SLAVE_ID)
    {
        bytes t{static_cast<uint8_t>(type >> 8), static_cast<uint8_t>(type), 0, static_cast<uint8_t>(body.size())};
        t.insert(t.end(), body.begin(), body.end());
        ptp_fsm_unicast_tlv_handle(port, type, &from, &id, t.data(), t.size());
    }
    ptp_fsm_peer_entry_type *peer() { return ptp_fsm_unicast_peer_entry_find(port, &slave); }
    decoded_msg last_sent()
    {
        EXPECT_FALSE(uc_fake.sent.empty());
        return uc_fake.sent.empty() ? decoded_msg{} : decode(uc_fake.sent.back().msg);
    }
    // Offload reports the applied interval, and the deferred grant goes out.
    void confirm(uint32_t type)
    {
        ptp_fsm_peer_entry_type *e = peer();
        ASSERT_NE(e, nullptr);
        const int k = type == PTP_MSG_ANNOUNCE ? 0 : type == PTP_MSG_SYNC ? 1 : 2;
        e->grant[k].app_log_interval = e->grant[k].log_interval;
        ptp_fsm_send_unicast_grant_reply(port, e, type);
    }
};

// ---- Master: decisions ------------------------------------------------------------------------

TEST_F(Unicast, MasterDecisionsAsATable)
{
    enum class outcome {
        deferred,
        denied
    };
    struct row {
        const char *what;
        uint32_t deny_setting;
        uint32_t transport;
        bool allowed;
        uint32_t type;
        int8_t interval;
        uint32_t duration;
        outcome result;
        int8_t granted_interval; // deferred: what the entry holds
        uint32_t granted_duration;
    };
    const row rows[] = {
        {"Sync as configured", 0, PTP_TRANSPORT_UNICAST, true, PTP_MSG_SYNC, -4, 300, outcome::deferred, -4, 300},
        {"Sync faster, reduce", 0, PTP_TRANSPORT_UNICAST, true, PTP_MSG_SYNC, -7, 300, outcome::deferred, -4, 300},
        {"Sync faster, deny", 1, PTP_TRANSPORT_UNICAST, true, PTP_MSG_SYNC, -7, 300, outcome::denied, 0, 0},
        {"Delay-Resp faster, reduce", 0, PTP_TRANSPORT_UNICAST, true, PTP_MSG_DELAY_RESP, -6, 60, outcome::deferred, -4,
         60},
        {"Announce faster, reduce", 0, PTP_TRANSPORT_UNICAST, true, PTP_MSG_ANNOUNCE, -3, 300, outcome::denied, 0, 0},
        {"Announce slower", 1, PTP_TRANSPORT_UNICAST, true, PTP_MSG_ANNOUNCE, 2, 100, outcome::deferred, 2, 100},
        {"600 s, reduce", 0, PTP_TRANSPORT_UNICAST, true, PTP_MSG_SYNC, -4, 600, outcome::deferred, -4, 300},
        {"600 s, deny", 1, PTP_TRANSPORT_UNICAST, true, PTP_MSG_SYNC, -4, 600, outcome::denied, 0, 0},
        {"duration 0", 0, PTP_TRANSPORT_UNICAST, true, PTP_MSG_SYNC, -4, 0, outcome::denied, 0, 0},
        {"Delay-Req is not negotiated", 0, PTP_TRANSPORT_UNICAST, true, PTP_MSG_DELAY_REQ, -4, 60, outcome::denied, 0,
         0},
        {"mixed-mode Sync", 0, PTP_TRANSPORT_MIXED, true, PTP_MSG_SYNC, -4, 60, outcome::denied, 0, 0},
        {"mixed-mode Announce", 0, PTP_TRANSPORT_MIXED, true, PTP_MSG_ANNOUNCE, 0, 60, outcome::denied, 0, 0},
        {"mixed-mode Delay-Resp", 0, PTP_TRANSPORT_MIXED, true, PTP_MSG_DELAY_RESP, -4, 60, outcome::deferred, -4, 60},
        {"grants not allowed", 0, PTP_TRANSPORT_UNICAST, false, PTP_MSG_SYNC, -4, 60, outcome::denied, 0, 0},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        port->config.deny_invalid_grants = r.deny_setting;
        port->config.transport = r.transport;
        port->fsm.is_unicast_grant_allowed = r.allowed ? 1 : 0;
        uc_fake.sent.clear();
        request(r.type, r.interval, r.duration);
        if (r.result == outcome::denied) {
            ASSERT_EQ(uc_fake.sent.size(), 1u);
            const decoded_msg d = last_sent();
            EXPECT_EQ(d.length, 56u);
            EXPECT_EQ(d.flags, 0x0400);
            EXPECT_EQ(d.seq, 0u); // no peer entry
            EXPECT_EQ(d.target.clock_id, SLAVE_ID.clock_id);
            EXPECT_EQ(d.target.port_num, SLAVE_ID.port_num);
            ASSERT_EQ(d.grants.size(), 1u);
            EXPECT_EQ(d.grants[0].message_type, r.type);
            EXPECT_EQ(d.grants[0].log_interval, r.interval); // as requested
            EXPECT_EQ(d.grants[0].duration, 0u);
            EXPECT_EQ(d.grants[0].flags, 0u);
            EXPECT_EQ(peer(), nullptr);
        } else {
            EXPECT_TRUE(uc_fake.sent.empty()); // waits for the offload session
            ptp_fsm_peer_entry_type *e = peer();
            ASSERT_NE(e, nullptr);
            const int k = r.type == PTP_MSG_ANNOUNCE ? 0 : r.type == PTP_MSG_SYNC ? 1 : 2;
            EXPECT_EQ(e->grant[k].log_interval, r.granted_interval);
            EXPECT_EQ(e->grant[k].duration, r.granted_duration);
            EXPECT_TRUE(e->grant[k].reply_pending);
            ptp_fsm_unicast_delete_all_peers(port);
        }
    }
}

TEST_F(Unicast, NewGrantIsAnsweredOnceTheOffloadSessionAppliesIt)
{
    request(PTP_MSG_SYNC, -5, 120);
    ASSERT_TRUE(uc_fake.sent.empty());
    ptp_fsm_peer_entry_type *e = peer();
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(e->is_sync_granted);
    EXPECT_EQ(e->local_addr.value[3], 1);
    confirm(PTP_MSG_SYNC);
    ASSERT_EQ(uc_fake.sent.size(), 1u);
    const decoded_msg d = last_sent();
    EXPECT_EQ(d.length, 56u);
    EXPECT_EQ(d.seq, 0u);
    EXPECT_EQ(d.target.clock_id, SLAVE_ID.clock_id);
    ASSERT_EQ(d.grants.size(), 1u);
    EXPECT_EQ(d.grants[0].log_interval, -4);
    EXPECT_EQ(d.grants[0].duration, 120u);
    EXPECT_EQ(d.grants[0].flags, PTP_GRANT_FLAG_RENEWAL_INVITED);
    EXPECT_EQ(e->peer_sequence_id, 1u);
    EXPECT_EQ(uc_fake.sent_signaling, 1u);
    ASSERT_FALSE(uc_fake.grant_changes.empty());
    EXPECT_EQ(uc_fake.grant_changes.back(), std::make_pair(e, 1));
    // A second report of the same interval needs no answer.
    confirm(PTP_MSG_SYNC);
    EXPECT_EQ(uc_fake.sent.size(), 1u);
}

TEST_F(Unicast, RenewalAtTheSameIntervalIsAnsweredAtOnceAnotherIntervalWaits)
{
    request(PTP_MSG_SYNC, -4, 300);
    confirm(PTP_MSG_SYNC);
    uc_fake.sent.clear();
    ASSERT_EQ(plat_clock_advance_s(200), 0u);

    request(PTP_MSG_SYNC, -4, 300);
    ASSERT_EQ(uc_fake.sent.size(), 1u);
    decoded_msg d = last_sent();
    EXPECT_EQ(d.seq, 1u);
    ASSERT_EQ(d.grants.size(), 1u);
    EXPECT_EQ(d.grants[0].duration, 300u);
    EXPECT_EQ(d.grants[0].flags, PTP_GRANT_FLAG_RENEWAL_INVITED);
    // The renewal restarted the grant timer: 200 s later the grant still stands.
    ASSERT_EQ(plat_clock_advance_s(200), 0u);
    ASSERT_NE(peer(), nullptr);
    EXPECT_TRUE(peer()->is_sync_granted);

    uc_fake.sent.clear();
    request(PTP_MSG_SYNC, -3, 300);
    EXPECT_TRUE(uc_fake.sent.empty());
    EXPECT_EQ(peer()->grant[1].log_interval, -3);
    confirm(PTP_MSG_SYNC);
    ASSERT_EQ(uc_fake.sent.size(), 1u);
    d = last_sent();
    EXPECT_EQ(d.seq, 2u);
    EXPECT_EQ(d.grants[0].log_interval, -3);
}

TEST_F(Unicast, ThreeRequestsAndAPathTraceGetOneReplyOf80Bytes)
{
    for (uint32_t t : {PTP_MSG_ANNOUNCE, PTP_MSG_SYNC, PTP_MSG_DELAY_RESP}) {
        request(t, t == PTP_MSG_ANNOUNCE ? 0 : -4, 300);
        confirm(t);
    }
    uc_fake.sent.clear();
    request({{PTP_MSG_TLV_REQUEST_UNICAST, request_body(PTP_MSG_ANNOUNCE, 0, 300)},
             {PTP_MSG_TLV_PATH_TRACE, bytes(8, 0x11)},
             {PTP_MSG_TLV_REQUEST_UNICAST, request_body(PTP_MSG_SYNC, -4, 300)},
             {PTP_MSG_TLV_REQUEST_UNICAST, request_body(PTP_MSG_DELAY_RESP, -4, 300)}},
            slave);
    ASSERT_EQ(uc_fake.sent.size(), 1u);
    const decoded_msg d = last_sent();
    EXPECT_EQ(d.length, 80u);
    ASSERT_EQ(d.grants.size(), 3u);
    EXPECT_EQ(d.grants[0].message_type, PTP_MSG_ANNOUNCE);
    EXPECT_EQ(d.grants[1].message_type, PTP_MSG_SYNC);
    EXPECT_EQ(d.grants[2].message_type, PTP_MSG_DELAY_RESP);
}

TEST_F(Unicast, ManyRequestTlvsGetRepliesThatFitAndOneGrantEach)
{
    port->config.deny_invalid_grants = 1;
    std::vector<tlv_spec> tlvs;
    for (int i = 0; i < 9; i++) {
        tlvs.push_back({PTP_MSG_TLV_REQUEST_UNICAST, request_body(PTP_MSG_SYNC, -7, 60)}); // all denied
    }
    request(tlvs, slave);
    ASSERT_EQ(uc_fake.sent.size(), 3u);
    size_t grants = 0;
    for (const auto &s : uc_fake.sent) {
        EXPECT_LE(s.msg.size(), 92u);
        grants += decode(s.msg).grants.size();
    }
    EXPECT_EQ(grants, 9u);
    EXPECT_EQ(decode(uc_fake.sent[2].msg).length, 56u);
}

TEST_F(Unicast, RequestTlvOfTheWrongLengthIsACountedDropWithoutAGrant)
{
    bytes body = request_body(PTP_MSG_SYNC, -4, 60);
    body.push_back(0); // lengthField 7
    port->fsm.is_unicast_grant_allowed = 0;
    request({{PTP_MSG_TLV_REQUEST_UNICAST, body}, {PTP_MSG_TLV_REQUEST_UNICAST, request_body(PTP_MSG_ANNOUNCE, 0, 60)}},
            slave);
    ASSERT_EQ(uc_fake.sent.size(), 1u);
    const decoded_msg d = last_sent();
    ASSERT_EQ(d.grants.size(), 1u);
    EXPECT_EQ(d.grants[0].message_type, PTP_MSG_ANNOUNCE);
    EXPECT_EQ(uc_fake.drop_signaling, 1u);
    EXPECT_EQ(uc_fake.drop_reason[TESSEL_PACKET_DROP_INVALID_TLVS], 1u);
}

TEST_F(Unicast, GrantTlvOfTheWrongLengthIsSkippedWithItsText)
{
    static debug_event_type table[TESSEL_DEBUG_AREA_COUNT];
    ASSERT_EQ(ptp_debug_register(evm, table, tessel_debug_areas, TESSEL_DEBUG_AREA_COUNT, nullptr), 0u);
    ASSERT_EQ(debug_set_area(PTP_DEBUG_PATH, "protocol", nullptr), 0u);
    debug_capture_clear();
    tlv_in(PTP_MSG_TLV_GRANT_UNICAST, {0x00, 0xFC, 0x00, 0x00, 0x00, 0x3C}, slave);
    EXPECT_EQ(
        debug_captured(),
        (std::vector<std::string>{
            "PROTOCOL: Gi0/0/0/1: [Master]: Unicast-Grant TLV is incorrect length - length is 10, should be 12"}));
    debug_clear_area(PTP_DEBUG_PATH, "protocol");
    EXPECT_EQ(uc_fake.drop_signaling, 1u);
    EXPECT_EQ(uc_fake.drop_reason[TESSEL_PACKET_DROP_INVALID_TLVS], 1u);
    EXPECT_TRUE(uc_fake.sent.empty());
}

TEST_F(Unicast, SignalingFromTheReceivePathIsAnsweredPastABadGrantTlv)
{
    port->fsm.is_unicast_grant_allowed = 0;
    const bytes m = signaling({{PTP_MSG_TLV_GRANT_UNICAST, {0x00, 0xFC, 0x00, 0x00, 0x00, 0x3C}},
                               {PTP_MSG_TLV_REQUEST_UNICAST, request_body(PTP_MSG_SYNC, -4, 60)}});
    ptp_msg_hdr_fields_type hdr{};
    ASSERT_TRUE(ptp_msg_hdr_decode(m.data(), m.size(), &hdr));
    ptp_fsm_proto_signaling_in(port, m.data(), static_cast<uint16_t>(m.size()), hdr, &slave, &local);
    EXPECT_EQ(uc_fake.drop_signaling, 1u);
    ASSERT_EQ(uc_fake.sent.size(), 1u);
    const decoded_msg d = last_sent();
    EXPECT_EQ(d.target.clock_id, SLAVE_ID.clock_id);
    EXPECT_EQ(d.target.port_num, SLAVE_ID.port_num);
    ASSERT_EQ(d.grants.size(), 1u);
    EXPECT_EQ(d.grants[0].duration, 0u);
}

TEST_F(Unicast, NodeLimitDeniesThe2501stPeer)
{
    uc_fake.record_calls = false;
    for (uint32_t i = 0; i < PTP_FSM_UNICAST_MAX_PEERS; i++) {
        ptp_address_type a = ipv4(0);
        a.value[1] = static_cast<uint8_t>(i >> 8);
        a.value[2] = static_cast<uint8_t>(i);
        request({{PTP_MSG_TLV_REQUEST_UNICAST, request_body(PTP_MSG_SYNC, -4, 60)}}, a);
    }
    EXPECT_EQ(ptp_fsm_unicast_peer_count, PTP_FSM_UNICAST_MAX_PEERS);
    EXPECT_TRUE(uc_fake.sent.empty());
    request(PTP_MSG_SYNC, -4, 60);
    ASSERT_EQ(uc_fake.sent.size(), 1u);
    EXPECT_EQ(last_sent().grants[0].duration, 0u);
    EXPECT_EQ(peer(), nullptr);
    EXPECT_EQ(ptp_fsm_unicast_peer_count, PTP_FSM_UNICAST_MAX_PEERS);
}

// ---- Master: expiry, cancel, end of grants, restore --------------------------------------------

TEST_F(Unicast, GrantExpiresOnVirtualTimeAndTheEntryGoes)
{
    request(PTP_MSG_ANNOUNCE, 0, 60);
    request(PTP_MSG_SYNC, -4, 90);
    ptp_fsm_peer_entry_type *e = peer();
    ASSERT_NE(e, nullptr);
    ASSERT_EQ(plat_clock_advance_s(59), 0u);
    EXPECT_TRUE(e->is_announce_granted);
    ASSERT_EQ(plat_clock_advance_s(1), 0u);
    EXPECT_FALSE(e->is_announce_granted);
    EXPECT_EQ(uc_fake.grant_changes.back(), std::make_pair(e, 1));
    ASSERT_EQ(plat_clock_advance_s(30), 0u);
    EXPECT_EQ(uc_fake.grant_changes.back().second, 0);
    EXPECT_EQ(peer(), nullptr);
    EXPECT_EQ(uc_fake.chkpt_deletes, 1u);
    EXPECT_TRUE(uc_fake.sent.empty()); // expiry tells nobody
}

TEST_F(Unicast, CancelFromTheSlaveIsAcknowledgedAndEndsTheGrant)
{
    request(PTP_MSG_SYNC, -4, 300);
    confirm(PTP_MSG_SYNC);
    uc_fake.sent.clear();
    tlv_in(PTP_MSG_TLV_CANCEL_UNICAST, {0x00, 0x00}, slave);
    ASSERT_EQ(uc_fake.sent.size(), 1u);
    const decoded_msg d = last_sent();
    EXPECT_EQ(d.length, 50u);
    EXPECT_EQ(d.seq, 1u);
    ASSERT_EQ(d.cancels.size(), 1u);
    EXPECT_EQ(d.cancels[0], std::make_pair(uint16_t{PTP_MSG_TLV_ACK_CANCEL_UNICAST}, uint8_t{PTP_MSG_SYNC}));
    EXPECT_EQ(peer(), nullptr);

    // Unknown sender: acknowledged with sequence id 0.
    uc_fake.sent.clear();
    tlv_in(PTP_MSG_TLV_CANCEL_UNICAST, {0xB0, 0x00}, ipv4(99));
    ASSERT_EQ(uc_fake.sent.size(), 1u);
    EXPECT_EQ(last_sent().seq, 0u);

    // A received Ack-Cancel changes nothing and sends nothing.
    uc_fake.sent.clear();
    tlv_in(PTP_MSG_TLV_ACK_CANCEL_UNICAST, {0x00, 0x00}, slave);
    EXPECT_TRUE(uc_fake.sent.empty());
}

TEST_F(Unicast, CancelFromAPeerThatIsBothMasterAndSlaveIsIgnored)
{
    request(PTP_MSG_SYNC, -4, 300);
    ptp_fsm_foreign_master_type *fm = nullptr;
    ASSERT_EQ(ptp_fsm_proto_foreign_master_add(port, &slave, nullptr, false, &fm), 0u);
    fm->transport = PTP_TRANSPORT_MULTICAST;
    uc_fake.sent.clear();
    tlv_in(PTP_MSG_TLV_CANCEL_UNICAST, {0x00, 0x00}, slave);
    EXPECT_TRUE(uc_fake.sent.empty());
    ASSERT_NE(peer(), nullptr);
    EXPECT_TRUE(peer()->is_sync_granted);
}

TEST_F(Unicast, RepliesToAKnownPeerCarryItsSequenceIdDenialsToo)
{
    request(PTP_MSG_SYNC, -4, 300);
    confirm(PTP_MSG_SYNC); // sequence id 0
    uc_fake.sent.clear();
    uc_fake.calls.clear();
    request(PTP_MSG_SYNC, -4, 0); // a renewal of duration 0: denied
    ASSERT_EQ(uc_fake.sent.size(), 1u);
    const decoded_msg d = last_sent();
    EXPECT_EQ(d.seq, 1u);
    ASSERT_EQ(d.grants.size(), 1u);
    EXPECT_EQ(d.grants[0].duration, 0u);
    EXPECT_EQ(peer()->peer_sequence_id, 2u);
    EXPECT_TRUE(peer()->is_sync_granted); // the standing grant is untouched
    // The peer's own adjacency: nothing is looked up for this reply.
    EXPECT_EQ(std::count(uc_fake.calls.begin(), uc_fake.calls.end(), "adjacency_get"), 0);
}

// The port manager checkpoints a peer's grants from the grants-changed report: every change
// has to reach it.
TEST_F(Unicast, EveryGrantChangeIsReported)
{
    struct step {
        const char *what;
        std::function<void()> act;
        int any_left; // of the last report
    };
    const std::vector<step> steps{
        {"new grant, once answered",
         [&] {
             request(PTP_MSG_SYNC, -4, 300);
             confirm(PTP_MSG_SYNC);
         },
         1},
        {"renewal answered at once", [&] { request(PTP_MSG_SYNC, -4, 300); }, 1},
        {"second grant",
         [&] {
             request(PTP_MSG_ANNOUNCE, 0, 60);
             confirm(PTP_MSG_ANNOUNCE);
         },
         1},
        {"cancel by the slave",
         [&] {
             tlv_in(PTP_MSG_TLV_CANCEL_UNICAST, {0xB0, 0x00}, slave);
         },
         1},
        {"expiry of the last grant", [&] { ASSERT_EQ(plat_clock_advance_s(300), 0u); }, 0},
    };
    for (const step &st : steps) {
        SCOPED_TRACE(st.what);
        const size_t before = uc_fake.grant_changes.size();
        st.act();
        ASSERT_GT(uc_fake.grant_changes.size(), before);
        EXPECT_EQ(uc_fake.grant_changes.back().second, st.any_left);
    }
    EXPECT_EQ(peer(), nullptr);

    request(PTP_MSG_DELAY_RESP, -4, 300);
    const size_t before = uc_fake.grant_changes.size();
    ptp_fsm_unicast_end_grants(port);
    ASSERT_EQ(uc_fake.grant_changes.size(), before + 1);
    EXPECT_EQ(uc_fake.grant_changes.back().second, 0);
}

TEST_F(Unicast, EndOfGrantsCancelsEveryGrant)
{
    request(PTP_MSG_ANNOUNCE, 0, 300);
    request(PTP_MSG_DELAY_RESP, -4, 300);
    uc_fake.sent.clear();
    ptp_fsm_unicast_end_grants(port);
    ASSERT_EQ(uc_fake.sent.size(), 2u);
    EXPECT_EQ(decode(uc_fake.sent[0].msg).cancels[0].second, PTP_MSG_ANNOUNCE);
    EXPECT_EQ(decode(uc_fake.sent[1].msg).cancels[0].second, PTP_MSG_DELAY_RESP);
    EXPECT_EQ(decode(uc_fake.sent[1].msg).target.port_num, SLAVE_ID.port_num);
    EXPECT_EQ(peer(), nullptr);
    EXPECT_FALSE(port->fsm.is_unicast_grant_allowed);
}

TEST_F(Unicast, RestoreDropsGrantsThatExpiredWhileDown)
{
    const uint64_t now = static_cast<uint64_t>(plat_time(nullptr));
    tessel_chkpt_unicast_grant_type rec{};
    rec.peer_addr = slave;
    rec.local_addr = local;
    rec.peer_port_id = SLAVE_ID;
    rec.grant_flags = TESSEL_CHKPT_GRANT_SYNC | TESSEL_CHKPT_GRANT_ANNOUNCE;
    rec.duration[0] = rec.duration[1] = 300;
    rec.expiry[0] = now + 100; // Announce still valid
    rec.expiry[1] = now - 1;   // Sync expired
    ASSERT_EQ(ptp_fsm_unicast_grant_restore(port, &rec, 77), 0u);
    ptp_fsm_peer_entry_type *e = peer();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->chkpt_id, 77u);
    EXPECT_TRUE(e->is_announce_granted);
    EXPECT_FALSE(e->is_sync_granted);
    ASSERT_FALSE(uc_fake.grant_changes.empty()); // the dropped grant reaches the checkpoint
    EXPECT_EQ(uc_fake.grant_changes.back(), std::make_pair(e, 1));
    ASSERT_EQ(plat_clock_advance_s(100), 0u); // the rest of the Announce grant
    EXPECT_EQ(peer(), nullptr);

    rec.grant_flags = TESSEL_CHKPT_GRANT_SYNC;
    ASSERT_EQ(ptp_fsm_unicast_grant_restore(port, &rec, 78), 0u);
    EXPECT_EQ(peer(), nullptr);

    port->fsm.is_unicast_grant_allowed = 0;
    EXPECT_EQ(ptp_fsm_unicast_grant_restore(port, &rec, 79), PTP_ZERR_RESTORE_NOT_ALLOWED);
}

// ---- Slave side -------------------------------------------------------------------------------

class UnicastSlave : public Unicast {
protected:
    ptp_address_type master = ipv4(50);
    ptp_fsm_foreign_master_type *fm = nullptr;

    void SetUp() override
    {
        Unicast::SetUp();
        port->fsm.PortState = PTP_PORT_STATE_SLAVE;
        ASSERT_EQ(ptp_fsm_proto_foreign_master_add(port, &master, nullptr, false, &fm), 0u);
        fm->transport = PTP_TRANSPORT_UNICAST;
        fm->parent_port_id = {0x7777, 1};
    }
    void grant_in(uint32_t type, int8_t interval, uint32_t duration)
    {
        tlv_in(PTP_MSG_TLV_GRANT_UNICAST,
               {static_cast<uint8_t>(type << 4), static_cast<uint8_t>(interval), static_cast<uint8_t>(duration >> 24),
                static_cast<uint8_t>(duration >> 16), static_cast<uint8_t>(duration >> 8),
                static_cast<uint8_t>(duration), 0, 1},
               master, {0x7777, 1});
    }
    // Sent requests for the type since the last clear.
    size_t requests_for(uint32_t type)
    {
        size_t n = 0;
        for (const auto &s : uc_fake.sent) {
            for (const auto &r : decode(s.msg).requests) {
                n += r.message_type == type ? 1 : 0;
            }
        }
        return n;
    }
};

TEST_F(UnicastSlave, AnnounceRequestRetriesEvery4sUntilGranted)
{
    ptp_fsm_unicast_start_master_listen(port, fm);
    ASSERT_EQ(uc_fake.sent.size(), 1u);
    decoded_msg d = last_sent();
    EXPECT_EQ(d.length, 54u);
    EXPECT_EQ(d.flags, 0x0400);
    EXPECT_EQ(d.target.clock_id, UINT64_MAX);
    EXPECT_EQ(d.target.port_num, 0xFFFF);
    EXPECT_EQ(d.seq, 0u);
    ASSERT_EQ(d.requests.size(), 1u);
    EXPECT_EQ(d.requests[0].message_type, PTP_MSG_ANNOUNCE);
    EXPECT_EQ(d.requests[0].duration, 300u);
    ASSERT_EQ(plat_clock_advance_s(12), 0u);
    ASSERT_EQ(uc_fake.sent.size(), 4u);
    EXPECT_EQ(last_sent().seq, 3u);

    // A denial changes nothing: the retries go on.
    grant_in(PTP_MSG_ANNOUNCE, 0, 0);
    ASSERT_EQ(plat_clock_advance_s(4), 0u);
    EXPECT_EQ(uc_fake.sent.size(), 5u);
    EXPECT_FALSE(fm->is_announce_granted);
}

TEST_F(UnicastSlave, RenewalTimesAsATable)
{
    struct row {
        uint32_t duration;
        uint32_t renew_after; // 0: the grant is ignored
    };
    for (const row &r : {row{300, 240}, row{1000, 940}, row{100, 75}, row{3, 0}}) {
        SCOPED_TRACE(r.duration);
        ptp_fsm_unicast_start_master_listen(port, fm);
        grant_in(PTP_MSG_ANNOUNCE, 0, r.duration);
        uc_fake.sent.clear();
        if (r.renew_after == 0) {
            EXPECT_FALSE(fm->is_announce_granted);
            ASSERT_EQ(plat_clock_advance_s(4), 0u); // the retry goes on at 4 s
            EXPECT_EQ(requests_for(PTP_MSG_ANNOUNCE), 1u);
        } else {
            EXPECT_TRUE(fm->is_announce_granted);
            ASSERT_EQ(plat_clock_advance_s(r.renew_after - 1), 0u);
            EXPECT_EQ(requests_for(PTP_MSG_ANNOUNCE), 0u);
            ASSERT_EQ(plat_clock_advance_s(1), 0u);
            EXPECT_EQ(requests_for(PTP_MSG_ANNOUNCE), 1u);
        }
        ptp_fsm_unicast_end_master_listen(port, fm);
    }
}

TEST_F(UnicastSlave, UnrenewedGrantExpiresAndTheRequestStartsAgain)
{
    ptp_fsm_unicast_start_master_listen(port, fm);
    grant_in(PTP_MSG_ANNOUNCE, 0, 60);
    EXPECT_TRUE(fm->is_announce_granted);
    uc_fake.send_result = PTP_ZERR2_NO_ADJACENCY; // nothing gets through: no renewal
    ASSERT_EQ(plat_clock_advance_s(60), 0u);
    EXPECT_FALSE(fm->is_announce_granted);
    uc_fake.send_result = 0;
    uc_fake.sent.clear();
    ASSERT_EQ(plat_clock_advance_s(4), 0u);
    EXPECT_EQ(requests_for(PTP_MSG_ANNOUNCE), 1u);
}

TEST_F(UnicastSlave, CombinedRetrySplitsWhenOneHalfIsGranted)
{
    fm->is_slaving = 1;
    ptp_fsm_unicast_start_slaving(port, fm);
    ASSERT_EQ(uc_fake.sent.size(), 1u);
    decoded_msg d = last_sent();
    EXPECT_EQ(d.length, 64u);
    ASSERT_EQ(d.requests.size(), 2u);
    EXPECT_EQ(d.requests[0].message_type, PTP_MSG_SYNC);
    EXPECT_EQ(d.requests[0].log_interval, -4);
    EXPECT_EQ(d.requests[1].message_type, PTP_MSG_DELAY_RESP);

    // Delay-Resp granted with 3 s of the combined retry left: Sync alone is asked for then.
    ASSERT_EQ(plat_clock_advance_s(1), 0u);
    grant_in(PTP_MSG_DELAY_RESP, -4, 300);
    EXPECT_TRUE(fm->is_delay_resp_granted);
    EXPECT_TRUE(fm->is_sending_delay_req);
    uc_fake.sent.clear();
    ASSERT_EQ(plat_clock_advance_s(2), 0u);
    EXPECT_TRUE(uc_fake.sent.empty());
    ASSERT_EQ(plat_clock_advance_s(1), 0u);
    ASSERT_EQ(uc_fake.sent.size(), 1u);
    d = last_sent();
    EXPECT_EQ(d.length, 54u);
    EXPECT_EQ(d.requests[0].message_type, PTP_MSG_SYNC);
    ptp_fsm_unicast_stop_slaving(port, fm);
}

TEST_F(UnicastSlave, CombinedRetryWithNoTimeLeftAsksForTheOtherHalfAtOnce)
{
    fm->is_slaving = 1;
    ptp_fsm_unicast_start_slaving(port, fm);
    // Expire the combined retry without letting it run: its leaf is then due with nothing left.
    mgd_timer_leaf *combined = static_cast<mgd_timer_leaf *>(fm->grant_cancel_timer);
    const struct timespec zero {
        0, 0
    };
    mgd_timer_leaf_start(combined, &zero);
    uc_fake.sent.clear();
    grant_in(PTP_MSG_SYNC, -4, 300);
    EXPECT_TRUE(fm->is_sync_granted);
    ASSERT_EQ(uc_fake.sent.size(), 1u);
    EXPECT_EQ(last_sent().requests.at(0).message_type, PTP_MSG_DELAY_RESP);
    EXPECT_FALSE(mgd_timer_leaf_running(combined));
    ptp_fsm_unicast_stop_slaving(port, fm);
}

TEST_F(UnicastSlave, SyncGrantFromAMasterNotSlavedToIsCancelled)
{
    uc_fake.profile = PTP_PROFILE_G8275_1;
    fm->is_slaving = 0;
    grant_in(PTP_MSG_SYNC, -4, 300);
    EXPECT_FALSE(fm->is_sync_granted);
    ASSERT_EQ(uc_fake.sent.size(), 1u);
    const decoded_msg d = last_sent();
    ASSERT_EQ(d.cancels.size(), 1u);
    EXPECT_EQ(d.cancels[0], std::make_pair(uint16_t{PTP_MSG_TLV_CANCEL_UNICAST}, uint8_t{PTP_MSG_SYNC}));
    EXPECT_EQ(d.target.clock_id, 0x7777u);
    EXPECT_EQ(fm->signaling_id, 1u);

    // Under G.8265.1 every master may grant Sync.
    uc_fake.profile = PTP_PROFILE_G8265_1;
    grant_in(PTP_MSG_SYNC, -4, 300);
    EXPECT_TRUE(fm->is_sync_granted);
    ptp_fsm_unicast_stop_slaving(port, fm);
}

TEST_F(UnicastSlave, GrantFromAnUnknownMasterIsDroppedAndCancelled)
{
    tlv_in(PTP_MSG_TLV_GRANT_UNICAST, {0xB0, 0x00, 0, 0, 1, 0x2C, 0, 1}, ipv4(77), {0x99, 2});
    EXPECT_EQ(uc_fake.drop_signaling, 1u);
    EXPECT_EQ(uc_fake.drop_reason[TESSEL_PACKET_DROP_UNKNOWN_MASTER], 1u);
    ASSERT_EQ(uc_fake.sent.size(), 1u);
    const decoded_msg d = last_sent();
    EXPECT_EQ(d.seq, 0u);
    EXPECT_EQ(d.target.clock_id, 0x99u);
    EXPECT_EQ(d.cancels.at(0).second, PTP_MSG_ANNOUNCE);
}

TEST_F(UnicastSlave, CancelFromTheMasterRequestsAgainAndAcknowledges)
{
    fm->is_slaving = 1;
    ptp_fsm_unicast_start_slaving(port, fm);
    grant_in(PTP_MSG_SYNC, -4, 300);
    grant_in(PTP_MSG_DELAY_RESP, -4, 300);
    uc_fake.sent.clear();
    tlv_in(PTP_MSG_TLV_CANCEL_UNICAST, {0x00, 0x00}, master, {0x7777, 1});
    EXPECT_FALSE(fm->is_sync_granted);
    EXPECT_FALSE(fm->is_handling_sync);
    ASSERT_EQ(uc_fake.sent.size(), 2u);
    EXPECT_EQ(decode(uc_fake.sent[0].msg).requests.at(0).message_type, PTP_MSG_SYNC);
    const decoded_msg ack = decode(uc_fake.sent[1].msg);
    EXPECT_EQ(ack.cancels.at(0).first, PTP_MSG_TLV_ACK_CANCEL_UNICAST);
    EXPECT_EQ(ack.seq, decode(uc_fake.sent[0].msg).seq + 1);
    ptp_fsm_unicast_stop_slaving(port, fm);
}

TEST_F(UnicastSlave, StopSlavingCancelsWhatWasGranted)
{
    fm->is_slaving = 1;
    ptp_fsm_unicast_start_slaving(port, fm);
    grant_in(PTP_MSG_SYNC, -4, 300);
    grant_in(PTP_MSG_DELAY_RESP, -4, 300);
    uc_fake.sent.clear();
    ptp_fsm_unicast_stop_slaving(port, fm);
    ASSERT_EQ(uc_fake.sent.size(), 2u);
    EXPECT_EQ(decode(uc_fake.sent[0].msg).cancels.at(0).second, PTP_MSG_SYNC);
    EXPECT_EQ(decode(uc_fake.sent[1].msg).cancels.at(0).second, PTP_MSG_DELAY_RESP);
    EXPECT_FALSE(fm->is_sending_delay_req);
    uc_fake.sent.clear();
    ASSERT_EQ(plat_clock_advance_s(600), 0u);
    EXPECT_TRUE(uc_fake.sent.empty()); // no timer of the slaving side is left
}

TEST_F(UnicastSlave, CancelsGoToTheMastersIdentityToAllPortsWhileUnknownAndRejectionsToTheSender)
{
    fm->parent_port_id = {}; // granted Announce, but none received yet
    ptp_fsm_unicast_start_master_listen(port, fm);
    grant_in(PTP_MSG_ANNOUNCE, 0, 300);
    uc_fake.sent.clear();
    ptp_fsm_unicast_end_master_listen(port, fm);
    ASSERT_EQ(uc_fake.sent.size(), 1u);
    decoded_msg d = last_sent();
    EXPECT_EQ(d.cancels.at(0).second, PTP_MSG_ANNOUNCE);
    EXPECT_EQ(d.target.clock_id, UINT64_MAX);
    EXPECT_EQ(d.target.port_num, 0xFFFF);

    // Known identity: the Cancel goes to it.
    fm->parent_port_id = {0x7777, 1};
    ptp_fsm_unicast_start_master_listen(port, fm);
    grant_in(PTP_MSG_ANNOUNCE, 0, 300);
    uc_fake.sent.clear();
    ptp_fsm_unicast_end_master_listen(port, fm);
    ASSERT_EQ(uc_fake.sent.size(), 1u);
    d = last_sent();
    EXPECT_EQ(d.target.clock_id, 0x7777u);
    EXPECT_EQ(d.target.port_num, 1u);

    // A grant refused (Announce from a mixed-mode master) is cancelled back to its sender.
    fm->transport = PTP_TRANSPORT_MIXED;
    uc_fake.sent.clear();
    tlv_in(PTP_MSG_TLV_GRANT_UNICAST, {0xB0, 0x00, 0, 0, 1, 0x2C, 0, 1}, master, {0x8888, 9});
    ASSERT_EQ(uc_fake.sent.size(), 1u);
    d = last_sent();
    EXPECT_EQ(d.cancels.at(0), std::make_pair(uint16_t{PTP_MSG_TLV_CANCEL_UNICAST}, uint8_t{PTP_MSG_ANNOUNCE}));
    EXPECT_EQ(d.target.clock_id, 0x8888u);
    EXPECT_EQ(d.target.port_num, 9u);
    EXPECT_FALSE(fm->is_announce_granted);
}

TEST_F(UnicastSlave, NoLocalClockMeansNoSendAndNoStop)
{
    uc_fake.local_clock_known = false;
    ptp_fsm_unicast_start_master_listen(port, fm);
    ASSERT_EQ(plat_clock_advance_s(8), 0u);
    EXPECT_TRUE(uc_fake.sent.empty());
    EXPECT_EQ(fm->signaling_id, 3u);
}

// ---- Replies to one received message ----------------------------------------------------------

// A received message of many Cancel or Grant TLVs is answered by one message at most, whatever
// it holds: its Cancels and Ack-Cancels go together, as many as fit the transmit area.
TEST_F(UnicastSlave, OneReceivedMessageGetsOneCancelReplyAtMost)
{
    const auto signaling_in = [&](const std::vector<tlv_spec> &tlvs, const ptp_address_type &from,
                                  const ptp_port_id_type &id) {
        const bytes m = signaling(tlvs, id);
        ptp_msg_hdr_fields_type hdr{};
        ASSERT_TRUE(ptp_msg_hdr_decode(m.data(), m.size(), &hdr));
        ptp_fsm_proto_signaling_in(port, m.data(), static_cast<uint16_t>(m.size()), hdr, &from, &local);
    };
    const bytes grant_body{0xB0, 0x00, 0, 0, 1, 0x2C, 0, 1};
    struct row {
        const char *name;
        uint16_t tlv_type;
        bytes body;
        size_t tlvs_in;
        uint16_t reply_tlv;
        size_t tlvs_out;
    };
    for (const row &r : {
             row{"one Cancel from an unknown sender",
                 PTP_MSG_TLV_CANCEL_UNICAST,
                 {0xB0, 0},
                 1,
                 PTP_MSG_TLV_ACK_CANCEL_UNICAST,
                 1},
             row{"200 Cancels from an unknown sender",
                 PTP_MSG_TLV_CANCEL_UNICAST,
                 {0xB0, 0},
                 200,
                 PTP_MSG_TLV_ACK_CANCEL_UNICAST,
                 PTP_FSM_UNICAST_CANCEL_REPLY_MAX_TLVS},
             row{"5 Grants from an unknown master", PTP_MSG_TLV_GRANT_UNICAST, grant_body, 5,
                 PTP_MSG_TLV_CANCEL_UNICAST, 5},
             row{"100 Grants from an unknown master", PTP_MSG_TLV_GRANT_UNICAST, grant_body, 100,
                 PTP_MSG_TLV_CANCEL_UNICAST, PTP_FSM_UNICAST_CANCEL_REPLY_MAX_TLVS},
         }) {
        SCOPED_TRACE(r.name);
        uc_fake.sent.clear();
        uc_fake.sent_signaling = 0;
        signaling_in(std::vector<tlv_spec>(r.tlvs_in, tlv_spec{r.tlv_type, r.body}), ipv4(99), {0x99, 2});
        ASSERT_EQ(uc_fake.sent.size(), 1u);
        EXPECT_EQ(uc_fake.sent_signaling, 1u);
        const decoded_msg d = last_sent();
        EXPECT_EQ(d.length, 44 + 6 * r.tlvs_out);
        EXPECT_LE(d.length, 98u);
        EXPECT_EQ(d.seq, 0u);
        EXPECT_EQ(d.target.clock_id, 0x99u);
        EXPECT_EQ(d.target.port_num, 2u);
        ASSERT_EQ(d.cancels.size(), r.tlvs_out);
        for (const auto &c : d.cancels) {
            EXPECT_EQ(c, std::make_pair(r.reply_tlv, uint8_t{PTP_MSG_ANNOUNCE}));
        }
    }

    // A slave cancelling two grants in one message: one acknowledgement of both, and its
    // sequence id used once.
    request({{PTP_MSG_TLV_REQUEST_UNICAST, request_body(PTP_MSG_SYNC, -4, 300)},
             {PTP_MSG_TLV_REQUEST_UNICAST, request_body(PTP_MSG_DELAY_RESP, -4, 300)}},
            slave);
    ptp_fsm_peer_entry_type *e = peer();
    ASSERT_NE(e, nullptr);
    const uint16_t seq = e->peer_sequence_id;
    uc_fake.sent.clear();
    signaling_in({{PTP_MSG_TLV_CANCEL_UNICAST, {0x00, 0}}, {PTP_MSG_TLV_CANCEL_UNICAST, {0x90, 0}}}, slave, SLAVE_ID);
    ASSERT_EQ(uc_fake.sent.size(), 1u);
    const decoded_msg d = last_sent();
    EXPECT_EQ(d.seq, seq);
    EXPECT_EQ(d.cancels,
              (std::vector<std::pair<uint16_t, uint8_t>>{{PTP_MSG_TLV_ACK_CANCEL_UNICAST, PTP_MSG_SYNC},
                                                         {PTP_MSG_TLV_ACK_CANCEL_UNICAST, PTP_MSG_DELAY_RESP}}));
    EXPECT_EQ(peer(), nullptr);
}

// ---- Slave table -------------------------------------------------------------------------------

constexpr uint8_t NONNEG = TESSEL_SLAVE_DB_CONFIGURED | TESSEL_SLAVE_DB_NON_NEGOTIATED;

class SlaveTable : public Unicast {
protected:
    void SetUp() override
    {
        Unicast::SetUp();
        ASSERT_EQ(tessel_slave_db_init(&port->config.slave_table), 0u);
    }
    void TearDown() override
    {
        tessel_slave_db_destroy(&port->config.slave_table);
        Unicast::TearDown();
    }
    void table_add(const ptp_address_type &a, uint8_t flags)
    {
        tessel_slave_db_type *e = nullptr;
        ASSERT_EQ(tessel_slave_db_add(&port->config.slave_table, &a, &e), 0u);
        e->flags = flags;
    }
};

TEST_F(SlaveTable, TableAgainstExistingPeersAsATable)
{
    struct existing {
        uint8_t last;
        bool nonneg; // else: a negotiated peer holding a Sync grant
    };
    struct slave_row {
        ptp_address_type addr;
        uint8_t flags;
    };
    struct result {
        uint8_t last;
        bool nonneg;
        bool replying; // answers its Delay-Req through the offload session
        bool sync_granted;
        bool any_port; // the all-ones port identity of a peer the table created
        bool operator==(const result &) const = default;
    };
    ptp_address_type mac{};
    mac.encap = PTP_ENCAP_ETHERNET;
    mac.value[3] = 40;
    struct row {
        const char *what;
        std::vector<slave_row> table;
        std::vector<existing> peers;
        std::vector<result> after;
    };
    const row rows[] = {
        {"new non-negotiated slave", {{ipv4(21), NONNEG}}, {}, {{21, true, true, false, true}}},
        {"negotiated peer turns non-negotiated and keeps its grant",
         {{ipv4(21), NONNEG}},
         {{21, false}},
         {{21, true, true, true, false}}},
        {"non-negotiated peer that left the table goes", {}, {{21, true}}, {}},
        {"negotiated peer outside the table stays", {}, {{21, false}}, {{21, false, false, true, false}}},
        {"slave configured as negotiated: none created, none kept",
         {{ipv4(21), TESSEL_SLAVE_DB_NON_NEGOTIATED}, {ipv4(22), TESSEL_SLAVE_DB_CONFIGURED}},
         {{21, true}},
         {}},
        {"entry of another encapsulation", {{mac, NONNEG}}, {}, {}},
        {"mixed",
         {{ipv4(21), NONNEG}, {ipv4(23), NONNEG}},
         {{21, true}, {22, true}, {24, false}},
         {{21, true, false, false, false}, {23, true, true, false, true}, {24, false, false, true, false}}},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        for (const slave_row &t : r.table) {
            table_add(t.addr, t.flags);
        }
        for (const existing &p : r.peers) {
            if (p.nonneg) {
                const ptp_address_type a = ipv4(p.last);
                ptp_fsm_peer_entry_type *e = nullptr;
                ASSERT_EQ(ptp_fsm_unicast_peer_entry_create(port, &a, nullptr, &SLAVE_ID, false, true, &e), 0u);
            } else {
                request({{PTP_MSG_TLV_REQUEST_UNICAST, request_body(PTP_MSG_SYNC, -4, 300)}}, ipv4(p.last));
            }
        }
        uc_fake.sent.clear();

        ptp_fsm_proto_slave_config_change(port);

        std::vector<result> got;
        for (avl2_node_type *n = avl2_get_first(&port->fsm.unicast_peer_tree); n != nullptr;
             n = avl2_get_next(&port->fsm.unicast_peer_tree, n)) {
            const auto *e = reinterpret_cast<const ptp_fsm_peer_entry_type *>(n);
            EXPECT_FALSE(e->is_resync_pending);
            got.push_back({e->peer_addr.value[3], static_cast<bool>(e->is_nonnegotiated),
                           static_cast<bool>(e->is_delay_req_replying), static_cast<bool>(e->is_sync_granted),
                           e->peer_port_id.clock_id == UINT64_MAX && e->peer_port_id.port_num == 0xFFFF});
        }
        EXPECT_EQ(got, r.after);
        EXPECT_EQ(port->fsm.unicast_peer_count, r.after.size());
        EXPECT_TRUE(uc_fake.sent.empty()); // nobody is told

        ptp_fsm_unicast_delete_all_peers(port);
        tessel_slave_db_destroy(&port->config.slave_table);
        ASSERT_EQ(tessel_slave_db_init(&port->config.slave_table), 0u);
    }
}

TEST_F(SlaveTable, SessionsFollowTheChangeAndARemovedPeerLeavesNothingBehind)
{
    table_add(ipv4(21), NONNEG);
    request(PTP_MSG_SYNC, -4, 300); // the negotiated peer .20
    const ptp_address_type gone_addr = ipv4(22);
    ptp_fsm_peer_entry_type *gone = nullptr;
    ASSERT_EQ(ptp_fsm_unicast_peer_entry_create(port, &gone_addr, nullptr, &SLAVE_ID, false, true, &gone), 0u);
    table_add(ipv4(20), NONNEG);
    uc_fake.calls.clear();
    uc_fake.chkpt_deletes = 0;

    ptp_fsm_proto_slave_config_change(port);

    // .20 converted (its session before and after, then Delay-Req answering), .21 created the
    // same way, .22 rebuilt as negotiated before it goes with its peer index.
    EXPECT_EQ(uc_fake.calls,
              (std::vector<std::string>{"peer_session:20:neg", "peer_session:20:nonneg", "peer_session:20:nonneg",
                                        "adjacency_request", "fib_pulse", "peer_index_acquire",
                                        "peer_session:21:nonneg", "peer_session:21:nonneg", "peer_session:21:nonneg",
                                        "peer_session:22:neg", "peer_index_release"}));
    EXPECT_EQ(uc_fake.chkpt_deletes, 1u);
    EXPECT_EQ(ptp_fsm_unicast_peer_entry_find(port, &gone_addr), nullptr);
    EXPECT_EQ(ptp_fsm_unicast_peer_count, 2u);

    // Applied again unchanged: nothing moves.
    uc_fake.calls.clear();
    ptp_fsm_proto_slave_config_change(port);
    EXPECT_TRUE(uc_fake.calls.empty());
    EXPECT_EQ(ptp_fsm_unicast_peer_count, 2u);
}

// ---- Trace records ----

// The peer's address travels in trace form where the point's text shows it: after the port,
// before the words the text prints after it.
TEST_F(Unicast, GrantTracesCarryThePeerAddressInTraceForm)
{
    const std::string dir = jotlog_test_run_dir_create("tessel_fsm_unicast_test");
    ASSERT_FALSE(dir.empty());
    ptp_jotlog_buffer_type det = tessel_trace_buffers[TESSEL_TRACE_BUFFER_DET];
    ASSERT_EQ(ptp_jotlog_init(&det, 1), 0u);
    ptp_jotlog_ctx_set(det, {}, {});

    request(PTP_MSG_ANNOUNCE, 0, 60);
    ASSERT_NE(peer(), nullptr);
    EXPECT_TRUE(peer()->is_announce_granted);
    ASSERT_EQ(plat_clock_advance_s(60), 0u);

    const std::vector<std::string> lines = jotlog_test_records("ptp/tessel/det");
    ptp_jotlog_ctx_set({}, {}, {});
    ptp_jotlog_close(&det, 1);
    jotlog_test_run_dir_remove(dir);

    // 10.0.0.20 as one word, no low MAC word, IPv4; the address-format code of an IPv4
    // address in third place in the id.
    const std::string peer = std::to_string(0x0A000014) + ",0," + std::to_string(PTP_ENCAP_IPV4);
    const std::string state = std::to_string(PTP_PORT_STATE_MASTER);
    EXPECT_EQ(lines, (std::vector<std::string>{"0x8000600100687(256," + state + "," + peer + ",0)",
                                               "0x800050010068a(256," + state + "," + peer + ")"}));
    EXPECT_STREQ(PTP_TRACE_TESSEL_UNICAST_ANNOUNCE_GRANTED.format,
                 "Granting Announce messages to peer %s at log interval %ld");
    EXPECT_STREQ(PTP_TRACE_TESSEL_UNICAST_ANNOUNCE_EXPIRED.format, "Announce grant to peer %s has expired");
}

} // namespace
