// Receive dispatch, Announce receipt, qualification, ranking and time-outs of foreign masters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "evm.h"
#include "evm_test.h"
#include "plat_clock_test.h"
#include "ptp_clock.h"
#include "ptp_strings.h"
#include "ptp_timer.h"
#include "tessel_fsm_announce.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_rx_test_fake.h"
#include "tessel_fsm_signaling.h"
#include "tessel_fsm_types.h"
#include "tessel_interop_config.h"
#include "tessel_stats.h"

namespace {

constexpr uint64_t LOCAL_ID = 0x0011223344556677ull;
constexpr uint16_t OWN_PORT = 2;

// A PTP message under construction, big-endian fields at their offsets.
struct msg_builder {
    std::vector<uint8_t> b;

    explicit msg_builder(uint8_t type, size_t len) : b(len < 34 ? 34 : len, 0)
    {
        b[0] = type;
        b[1] = 2;
        set16(2, static_cast<uint16_t>(len));
        set64(20, 0xAABBCCDDEEFF0011ull);
        set16(28, 1);
    }
    msg_builder &set16(size_t off, uint16_t v)
    {
        b[off] = static_cast<uint8_t>(v >> 8);
        b[off + 1] = static_cast<uint8_t>(v);
        return *this;
    }
    msg_builder &set64(size_t off, uint64_t v)
    {
        for (int i = 7; i >= 0; i--) {
            b[off + i] = static_cast<uint8_t>(v);
            v >>= 8;
        }
        return *this;
    }
    msg_builder &set8(size_t off, uint8_t v)
    {
        b[off] = v;
        return *this;
    }
};

// An Announce from grandmaster gm with the given class and steps removed.
msg_builder announce(uint64_t gm = 0x1000, uint8_t clock_class = 6, uint16_t steps = 1)
{
    msg_builder m(PTP_MSG_ANNOUNCE, 64);
    m.set8(47, 128).set8(48, clock_class).set8(49, 0x21).set16(50, 0x4E5D).set8(52, 128);
    m.set64(53, gm).set16(61, steps).set8(63, 0xA0);
    return m;
}

unsigned rd_steps(const msg_builder &m)
{
    return unsigned{m.b[61]} << 8 | m.b[62];
}

ptp_address_type mac(uint8_t last)
{
    ptp_address_type a{};
    a.encap = PTP_ENCAP_ETHERNET;
    a.value[0] = 0x02;
    a.value[5] = last;
    return a;
}

struct port_deleter {
    void operator()(tessel_proto_idb_type *p) const { ::operator delete(p); }
};

class RxTest : public testing::Test {
protected:
    std::unique_ptr<tessel_proto_idb_type, port_deleter> holder;
    tessel_proto_idb_type *port = nullptr;

    void SetUp() override
    {
        rx_fake_reset();
        rx_fake.local_clock = {LOCAL_ID, 0};
        void *mem = ::operator new(sizeof(tessel_proto_idb_type));
        std::memset(mem, 0, sizeof(tessel_proto_idb_type));
        holder.reset(static_cast<tessel_proto_idb_type *>(mem));
        port = holder.get();
        std::strcpy(port->header.ifname, "Gi0/0/0/1");
        port->header.ifhandle = 0x100;
        port->port_num = OWN_PORT;
        port->config.encap = PTP_ENCAP_ETHERNET;
        port->config.announce_timeout = 3;
        port->fsm.PortState = PTP_PORT_STATE_LISTEN;
        port->fsm.is_listening = 1;
        ASSERT_TRUE(ptp_fsm_proto_foreign_master_tree_init(port));
    }

    void TearDown() override
    {
        // Nothing ranked may be deleted: unrank first, as the tree destroy does.
        ptp_fsm_proto_foreign_master_tree_destroy(port);
    }

    void rx(const msg_builder &m, const ptp_address_type *src)
    {
        ptp_fsm_proto_packet_in(port, m.b.data(), m.b.size(), nullptr, src, nullptr);
    }
    void rx_bytes(const std::vector<uint8_t> &b, const ptp_address_type *src)
    {
        ptp_fsm_proto_packet_in(port, b.data(), b.size(), nullptr, src, nullptr);
    }
    void tick(unsigned n = 1)
    {
        for (unsigned i = 0; i < n; i++) {
            ptp_fsm_announce_timer_tick(port);
        }
    }
    uint32_t total_drops() const
    {
        uint32_t n = 0;
        for (uint32_t r : rx_fake.drop_reason) {
            n += r;
        }
        return n;
    }
    size_t fm_count() const { return avl2_count(&port->fsm.foreign_master_table); }
    ptp_fsm_foreign_master_type *best() const { return port->fsm.foreign_master_ranked_list; }
};

// ---- Header checks and dispatch: (message bytes) -> (counter class, drop reason) ----

struct dispatch_case {
    const char *name;
    std::vector<uint8_t> bytes;
    int drop_class; // -1: no drop
    int drop_reason;
    int received_class; // -1: not counted as received
};

std::vector<uint8_t> truncated(const msg_builder &m, size_t len)
{
    return std::vector<uint8_t>(m.b.begin(), m.b.begin() + static_cast<long>(len));
}

TEST_F(RxTest, HeaderCheckAndDispatchTable)
{
    using C = dispatch_case;
    const uint64_t other_clock = 0xAABBCCDDEEFF0011ull;
    const std::vector<C> cases = {
        {"shorter than a header", std::vector<uint8_t>(10, 0), 10, TESSEL_PACKET_DROP_TOO_SHORT, -1},
        {"messageLength below a header", msg_builder(PTP_MSG_ANNOUNCE, 64).set16(2, 20).b, 10,
         TESSEL_PACKET_DROP_TOO_SHORT, -1},
        {"messageLength beyond the bytes received", truncated(announce(), 50), 10, TESSEL_PACKET_DROP_TOO_SHORT, -1},
        {"version 1", msg_builder(PTP_MSG_ANNOUNCE, 64).set8(1, 1).b, 10, TESSEL_PACKET_DROP_INVALID_PACKET, -1},
        {"other domain", msg_builder(PTP_MSG_ANNOUNCE, 64).set8(4, 5).b, 10, TESSEL_PACKET_DROP_WRONG_DOMAIN, -1},
        {"Pdelay-Req", msg_builder(PTP_MSG_PDELAY_REQ, 54).b, 10, TESSEL_PACKET_DROP_NOT_SUPPORTED, 5},
        {"Pdelay-Resp-Follow-Up", msg_builder(PTP_MSG_PDELAY_RESP_FOLLOW_UP, 54).b, 10,
         TESSEL_PACKET_DROP_NOT_SUPPORTED, 7},
        {"Management", msg_builder(PTP_MSG_MANAGEMENT, 48).b, 10, TESSEL_PACKET_DROP_NOT_SUPPORTED, 9},
        {"unknown type 0xE", msg_builder(0x0E, 44).b, 10, TESSEL_PACKET_DROP_NOT_SUPPORTED, 10},
        {"Delay-Req", msg_builder(PTP_MSG_DELAY_REQ, 44).b, 3, TESSEL_PACKET_DROP_NOT_FOR_US, 3},
        {"Sync", msg_builder(PTP_MSG_SYNC, 44).b, 1, TESSEL_PACKET_DROP_NOT_FOR_US, 1},
        {"Announce of 60 bytes", msg_builder(PTP_MSG_ANNOUNCE, 60).b, 0, TESSEL_PACKET_DROP_TOO_SHORT, 0},
        {"Signaling of 40 bytes", msg_builder(PTP_MSG_SIGNALING, 40).b, 8, TESSEL_PACKET_DROP_TOO_SHORT, 8},
        {"Signaling from this port", msg_builder(PTP_MSG_SIGNALING, 44).set64(20, LOCAL_ID).set16(28, OWN_PORT).b, 8,
         TESSEL_PACKET_DROP_LOOPED_SAME_PORT, 8},
        {"Signaling from a higher port", msg_builder(PTP_MSG_SIGNALING, 44).set64(20, LOCAL_ID).set16(28, 9).b, 8,
         TESSEL_PACKET_DROP_LOOPED_HIGHER_PORT, 8},
        {"Signaling from a lower port", msg_builder(PTP_MSG_SIGNALING, 44).set64(20, LOCAL_ID).set16(28, 1).b, 8,
         TESSEL_PACKET_DROP_LOOPED_LOWER_PORT, 8},
        {"Signaling for another clock", msg_builder(PTP_MSG_SIGNALING, 44).set64(34, 0x42).set16(42, 0xFFFF).b, 8,
         TESSEL_PACKET_DROP_NOT_FOR_US, 8},
        {"Signaling for another port", msg_builder(PTP_MSG_SIGNALING, 44).set64(34, LOCAL_ID).set16(42, 7).b, 8,
         TESSEL_PACKET_DROP_NOT_FOR_US, 8},
        {"Signaling, 2 bytes left for a TLV header",
         msg_builder(PTP_MSG_SIGNALING, 46).set64(34, UINT64_MAX).set16(42, 0xFFFF).b, 8,
         TESSEL_PACKET_DROP_INVALID_TLVS, 8},
        {"Signaling, TLV overruns the message",
         msg_builder(PTP_MSG_SIGNALING, 52).set64(34, UINT64_MAX).set16(42, 0xFFFF).set16(44, 5).set16(46, 200).b, 8,
         TESSEL_PACKET_DROP_INVALID_TLVS, 8},
        {"Signaling of exactly 44 bytes to all ones",
         msg_builder(PTP_MSG_SIGNALING, 44).set64(34, UINT64_MAX).set16(42, 0xFFFF).b, -1, 0, 8},
    };
    (void)other_clock;
    const ptp_address_type src = mac(1);
    for (const C &c : cases) {
        SCOPED_TRACE(c.name);
        rx_fake_reset();
        rx_fake.local_clock = {LOCAL_ID, 0};
        rx_bytes(c.bytes, &src);
        if (c.drop_class < 0) {
            EXPECT_EQ(0u, total_drops());
        } else {
            EXPECT_EQ(1u, rx_fake.drop_class[c.drop_class]);
            EXPECT_EQ(1u, rx_fake.drop_reason[c.drop_reason]);
            EXPECT_EQ(1u, total_drops());
        }
        uint32_t received = 0;
        for (uint32_t r : rx_fake.received_class) {
            received += r;
        }
        if (c.received_class < 0) {
            EXPECT_EQ(0u, received);
        } else {
            EXPECT_EQ(1u, rx_fake.received_class[c.received_class]);
            EXPECT_EQ(1u, received);
        }
    }
}

TEST_F(RxTest, NotReadyAndNoSourceAddress)
{
    port->fsm.PortState = PTP_PORT_STATE_INITIALIZING;
    rx(announce(), nullptr);
    EXPECT_EQ(1u, rx_fake.drop_class[10]);
    EXPECT_EQ(1u, rx_fake.drop_reason[TESSEL_PACKET_DROP_NOT_READY]);

    rx_fake_reset();
    port->fsm.PortState = PTP_PORT_STATE_LISTEN;
    rx_fake.issu_role = 2;
    rx(announce(), nullptr);
    EXPECT_EQ(1u, rx_fake.drop_reason[TESSEL_PACKET_DROP_NOT_READY]);

    // A Signaling message without a source address: not counted as received, nothing walked.
    rx_fake_reset();
    rx(msg_builder(PTP_MSG_SIGNALING, 44).set64(34, UINT64_MAX).set16(42, 0xFFFF), nullptr);
    EXPECT_EQ(0u, rx_fake.received_class[8]);
    EXPECT_EQ(0u, rx_fake.request_walks);
    EXPECT_EQ(0u, total_drops());
}

TEST_F(RxTest, SignalingTlvsBeforeAnOverrunStayHandled)
{
    // Grant (10 bytes of value), an unsupported Path Trace, then a TLV that overruns.
    msg_builder m(PTP_MSG_SIGNALING, 44 + 14 + 4 + 8);
    m.set64(34, UINT64_MAX).set16(42, 0xFFFF);
    m.set16(44, PTP_MSG_TLV_GRANT_UNICAST).set16(46, 10);
    m.set16(58, 8).set16(60, 0);
    m.set16(62, PTP_MSG_TLV_CANCEL_UNICAST).set16(64, 30);
    const ptp_address_type src = mac(1);
    rx(m, &src);
    EXPECT_EQ(1u, rx_fake.tlvs_handled);
    EXPECT_EQ(1u, rx_fake.drop_reason[TESSEL_PACKET_DROP_INVALID_TLVS]);
    EXPECT_EQ(0u, rx_fake.request_walks);

    // The same with a well-formed last TLV walks the requests.
    rx_fake_reset();
    rx_fake.local_clock = {LOCAL_ID, 0};
    m.set16(64, 4);
    rx(m, &src);
    EXPECT_EQ(2u, rx_fake.tlvs_handled);
    EXPECT_EQ(1u, rx_fake.request_walks);
    EXPECT_EQ(0u, total_drops());
}

TEST_F(RxTest, InteropDomainIsTheExpectedDomain)
{
    auto interop = std::make_unique<tessel_interop_config_type>();
    std::memset(interop.get(), 0, sizeof(*interop));
    interop->presence = TESSEL_INTEROP_DOMAIN;
    interop->domain = 44;
    port->config.interop_cfg = interop.get();
    const ptp_address_type src = mac(1);
    rx(announce(), &src);
    EXPECT_EQ(1u, rx_fake.drop_reason[TESSEL_PACKET_DROP_WRONG_DOMAIN]);
    rx_fake_reset();
    rx_fake.local_clock = {LOCAL_ID, 0};
    rx(announce().set8(4, 44), &src);
    EXPECT_EQ(0u, total_drops());
    EXPECT_EQ(1u, fm_count());
    port->config.interop_cfg = nullptr;
}

// ---- Announce validation ----

struct validation_case {
    const char *name;
    uint32_t profile;
    uint8_t min_class;
    msg_builder msg;
    int drop_reason; // -1: accepted
};

TEST_F(RxTest, AnnounceValidationTable)
{
    const std::vector<validation_case> cases = {
        {"steps removed 254", PTP_PROFILE_DEFAULT, 255, announce(0x1000, 6, 254), -1},
        {"steps removed 255", PTP_PROFILE_DEFAULT, 255, announce(0x1000, 6, 255), TESSEL_PACKET_DROP_STEPS_REMOVED},
        {"steps removed 65535", PTP_PROFILE_DEFAULT, 255, announce(0x1000, 6, 65535), TESSEL_PACKET_DROP_STEPS_REMOVED},
        {"class 255 with minimum 255", PTP_PROFILE_DEFAULT, 255, announce(0x1000, 255, 1),
         TESSEL_PACKET_DROP_BAD_CLOCK_CLASS},
        {"reserved identity", PTP_PROFILE_DEFAULT, 255, announce(UINT64_MAX, 6, 1),
         TESSEL_PACKET_DROP_RESERVED_CLOCK_ID},
        {"class above the minimum", PTP_PROFILE_DEFAULT, 6, announce(0x1000, 7, 1), TESSEL_PACKET_DROP_MIN_CLOCK_CLASS},
        {"class at the minimum", PTP_PROFILE_DEFAULT, 7, announce(0x1000, 7, 1), -1},
        {"G.8275.1 class 84", PTP_PROFILE_G8275_1, 255, announce(0x1000, 84, 1).set8(4, 24),
         TESSEL_PACKET_DROP_G8275_1_INCOMPATIBLE},
        {"G.8265.1 class 6", PTP_PROFILE_G8265_1, 255, announce(0x1000, 6, 1), TESSEL_PACKET_DROP_G8265_1_INCOMPATIBLE},
        // Under G.8275.2 every Announce counts as unicast: an unknown master is not created.
        {"G.8275.2 unknown master", PTP_PROFILE_G8275_2, 255, announce(0x1000, 6, 1),
         TESSEL_PACKET_DROP_UNKNOWN_MASTER},
    };
    for (const validation_case &c : cases) {
        SCOPED_TRACE(c.name);
        rx_fake_reset();
        rx_fake.local_clock = {LOCAL_ID, c.msg.b[4]};
        rx_fake.profile = c.profile;
        rx_fake.min_clock_class = c.min_class;
        const ptp_address_type src = mac(7);
        rx(c.msg, &src);
        if (c.drop_reason < 0) {
            EXPECT_EQ(0u, total_drops());
            ASSERT_EQ(1u, fm_count());
            ptp_fsm_foreign_master_type *fm = ptp_fsm_proto_foreign_master_find(port, &src);
            ASSERT_NE(nullptr, fm);
            EXPECT_EQ(1u, fm->announce_count);
            EXPECT_EQ(rd_steps(c.msg) + 1u, fm->master_clock.steps_removed);
        } else {
            EXPECT_EQ(1u, rx_fake.drop_class[TESSEL_PACKET_COUNTER_ANNOUNCE]);
            EXPECT_EQ(1u, rx_fake.drop_reason[c.drop_reason]);
            // A new master whose first Announce is refused is not kept.
            EXPECT_EQ(0u, fm_count());
        }
        ptp_fsm_proto_foreign_master_tree_destroy(port);
    }
}

TEST_F(RxTest, TelecomPriority1IsRecordedAs128)
{
    rx_fake.profile = PTP_PROFILE_G8275_1;
    rx_fake.local_clock = {LOCAL_ID, 24};
    const ptp_address_type src = mac(7);
    rx(announce(0x1000, 6, 1).set8(4, 24).set8(47, 10), &src);
    ptp_fsm_foreign_master_type *fm = ptp_fsm_proto_foreign_master_find(port, &src);
    ASSERT_NE(nullptr, fm);
    EXPECT_EQ(128, fm->master_clock.priority1);
}

// ---- Loops ----

TEST_F(RxTest, LoopedAnnounceOnSameHigherAndLowerPort)
{
    const ptp_address_type src = mac(9);
    rx(announce().set64(20, LOCAL_ID).set16(28, OWN_PORT), &src);
    EXPECT_EQ(1u, rx_fake.drop_reason[TESSEL_PACKET_DROP_LOOPED_SAME_PORT]);
    rx(announce().set64(20, LOCAL_ID).set16(28, OWN_PORT + 1), &src);
    EXPECT_EQ(1u, rx_fake.drop_reason[TESSEL_PACKET_DROP_LOOPED_HIGHER_PORT]);
    EXPECT_FALSE(port->fsm.is_held_passive);
    EXPECT_EQ(0u, rx_fake.fmc_reports);

    rx(announce().set64(20, LOCAL_ID).set16(28, OWN_PORT - 1), &src);
    EXPECT_EQ(1u, rx_fake.drop_reason[TESSEL_PACKET_DROP_LOOPED_LOWER_PORT]);
    EXPECT_TRUE(port->fsm.is_held_passive);
    EXPECT_EQ(1u, rx_fake.fmc_reports);
    EXPECT_EQ(OWN_PORT - 1, port->fsm.looped_port_num);
    // Every looped Announce is a counted drop of the Announce class; no master is kept.
    EXPECT_EQ(3u, rx_fake.drop_class[TESSEL_PACKET_COUNTER_ANNOUNCE]);
    EXPECT_EQ(0u, fm_count());
    EXPECT_FALSE(port->fsm.is_locked);
}

TEST_F(RxTest, HeldPassiveUntilFiveQuietTicksAcrossTheWrap)
{
    for (uint16_t start : {uint16_t{100}, uint16_t{65533}}) {
        SCOPED_TRACE(start);
        rx_fake_reset();
        rx_fake.local_clock = {LOCAL_ID, 0};
        port->fsm.current_announce_id = start;
        const ptp_address_type src = mac(9);
        const msg_builder looped = announce().set64(20, LOCAL_ID).set16(28, 1);
        rx(looped, &src);
        ASSERT_TRUE(port->fsm.is_held_passive);
        tick(3);
        rx(looped, &src); // renews the hold; no second report
        EXPECT_EQ(1u, rx_fake.fmc_reports);
        tick(4);
        EXPECT_TRUE(port->fsm.is_held_passive);
        tick(1);
        EXPECT_FALSE(port->fsm.is_held_passive);
        EXPECT_EQ(2u, rx_fake.fmc_reports);
    }
}

// ---- Qualification, ranking, best-master report ----

TEST_F(RxTest, QualifiedAtTheTickAfterTheSecondAnnounce)
{
    const ptp_address_type src = mac(1);
    rx(announce(), &src);
    tick();
    EXPECT_EQ(nullptr, best());
    rx(announce(), &src);
    EXPECT_EQ(nullptr, best()); // two Announces, not yet ranked
    EXPECT_EQ(0u, rx_fake.fmc_reports);
    tick();
    ASSERT_NE(nullptr, best());
    EXPECT_EQ(0, std::memcmp(&src, &best()->peer_addr, sizeof(src)));
    EXPECT_EQ(1u, rx_fake.fmc_reports); // reported once, at the unlock
    EXPECT_FALSE(port->fsm.is_locked);

    // Unchanged Announces keep it ranked without further reports.
    for (int i = 0; i < 10; i++) {
        rx(announce(), &src);
        tick();
    }
    EXPECT_NE(nullptr, best());
    EXPECT_EQ(1u, rx_fake.fmc_reports);
}

TEST_F(RxTest, RankingAndBestChangeReportedOnce)
{
    const ptp_address_type a = mac(1);
    const ptp_address_type b = mac(2);
    for (int i = 0; i < 2; i++) {
        rx(announce(0x2000, 13), &a);
        rx(announce(0x3000, 7), &b);
    }
    tick();
    ASSERT_NE(nullptr, best());
    EXPECT_EQ(0x3000u, best()->master_clock.clock_id); // class 7 beats 13
    EXPECT_EQ(1u, rx_fake.fmc_reports);

    // A's clock improves: one re-rank, one report.
    rx(announce(0x2000, 6), &a);
    EXPECT_EQ(0x2000u, best()->master_clock.clock_id);
    EXPECT_EQ(2u, rx_fake.fmc_reports);
    ASSERT_NE(nullptr, best()->ranked_next);
    EXPECT_EQ(0x3000u, best()->ranked_next->master_clock.clock_id);

    // B worsens behind A: the best is unchanged, nothing reported.
    rx(announce(0x3000, 13), &b);
    EXPECT_EQ(2u, rx_fake.fmc_reports);

    // The announce-timeout counter is reloaded only from the best master while slaving.
    port->fsm.PortState = PTP_PORT_STATE_SLAVE;
    port->fsm.announce_timeout_counter = 0;
    rx(announce(0x3000, 13), &b);
    EXPECT_EQ(0, port->fsm.announce_timeout_counter);
    rx(announce(0x2000, 6), &a);
    EXPECT_EQ(3, port->fsm.announce_timeout_counter);
}

// A master-table priority of 0 is a configured value: that master ranks first by it, not as an
// unconfigured master would (the default local priority).
TEST_F(RxTest, MasterTablePriorityZeroRanksByItsValue)
{
    const ptp_address_type a = mac(1);
    const ptp_address_type b = mac(2);
    for (int i = 0; i < 2; i++) {
        rx(announce(0x2000, 13), &a);
        rx(announce(0x3000, 7), &b);
    }
    tick();
    ASSERT_NE(nullptr, best());
    ASSERT_EQ(0x3000u, best()->master_clock.clock_id);

    ptp_fsm_foreign_master_type *fm = ptp_fsm_proto_foreign_master_find(port, &a);
    ASSERT_NE(nullptr, fm);
    fm->is_priority_configured = 1;
    fm->configured_priority = 0;
    rx(announce(0x2000, 13), &a);
    EXPECT_EQ(0x2000u, best()->master_clock.clock_id);
    EXPECT_EQ(0, best()->master_clock.configured_priority);
    EXPECT_EQ(1, best()->master_clock.configured_priority_set);
}

// A flood of Announces from ever new senders stops at a bound per port (above the master
// table), each refused sender a counted drop; the masters already known go on being heard.
TEST_F(RxTest, NewSendersBeyondTheBoundAreCountedDrops)
{
    port->config.master_table.count = 4; // configured masters never take the learned ones' room
    const size_t bound = PTP_FSM_FM_LEARNED_MAX + 4;
    const auto sender = [](uint32_t i) {
        ptp_address_type a = mac(0);
        a.value[3] = static_cast<uint8_t>(i >> 16);
        a.value[4] = static_cast<uint8_t>(i >> 8);
        a.value[5] = static_cast<uint8_t>(i);
        return a;
    };
    for (uint32_t i = 0; i < bound + 40; i++) {
        const ptp_address_type a = sender(i);
        rx(announce(0x1000 + i), &a);
    }
    EXPECT_EQ(bound, fm_count());
    EXPECT_EQ(40u, rx_fake.drop_reason[TESSEL_PACKET_DROP_UNKNOWN_MASTER]);
    EXPECT_EQ(40u, rx_fake.drop_class[TESSEL_PACKET_COUNTER_ANNOUNCE]);

    const ptp_address_type first = sender(0);
    rx(announce(0x1000), &first);
    tick();
    EXPECT_EQ(bound, fm_count());
    EXPECT_EQ(40u, total_drops());
    ASSERT_NE(nullptr, best());
    EXPECT_EQ(0x1000u, best()->master_clock.clock_id);
}

TEST_F(RxTest, EqualClocksLaterRankedGoesAhead)
{
    ptp_fsm_foreign_master_type *x = nullptr;
    ptp_fsm_foreign_master_type *y = nullptr;
    const ptp_address_type ax = mac(1);
    const ptp_address_type ay = mac(2);
    ASSERT_EQ(0u, ptp_fsm_proto_foreign_master_add(port, &ax, nullptr, false, &x));
    ASSERT_EQ(0u, ptp_fsm_proto_foreign_master_add(port, &ay, nullptr, false, &y));
    x->is_listening = y->is_listening = 1;
    ptp_fsm_announce_foreign_master_rank(port, x);
    ptp_fsm_announce_foreign_master_rank(port, y);
    EXPECT_EQ(y, best());
    EXPECT_EQ(x, best()->ranked_next);
    ptp_fsm_announce_foreign_master_unrank(port, y);
    EXPECT_EQ(x, best());
    EXPECT_EQ(nullptr, x->ranked_next);
}

TEST_F(RxTest, G8265_1Class110IsListenedToButNeverRanked)
{
    rx_fake.profile = PTP_PROFILE_G8265_1;
    const ptp_address_type src = mac(1);
    rx(announce(0x1000, 110), &src);
    rx(announce(0x1000, 110), &src);
    tick(2);
    ptp_fsm_foreign_master_type *fm = ptp_fsm_proto_foreign_master_find(port, &src);
    ASSERT_NE(nullptr, fm);
    EXPECT_EQ(110, fm->master_clock.clock_class);
    EXPECT_EQ(nullptr, best());
}

// ---- Time-outs ----

TEST_F(RxTest, MulticastMasterTimesOutAndLeavesNoDanglingSlavingMaster)
{
    const ptp_address_type src = mac(1);
    rx(announce(), &src);
    tick();
    rx(announce(), &src);
    tick();
    ASSERT_NE(nullptr, best());
    ptp_fsm_proto_start_slave(port);
    ASSERT_EQ(best(), port->fsm.slaving_master);
    tick(3);
    EXPECT_EQ(nullptr, best()); // lost its clock data and rank
    EXPECT_EQ(1u, fm_count());
    tick(1);
    EXPECT_EQ(0u, fm_count()); // newest Announce 5 ticks old: deleted
    EXPECT_EQ(nullptr, port->fsm.slaving_master);
    EXPECT_EQ(2u, rx_fake.fmc_reports); // ranked, then gone
}

TEST_F(RxTest, NoTimeOutWhileSuspended)
{
    const ptp_address_type src = mac(1);
    rx(announce(), &src);
    ptp_fsm_announce_suspend_foreign_master_timeouts(port);
    const uint16_t before = port->fsm.current_announce_id;
    tick(10);
    EXPECT_EQ(before + 10, port->fsm.current_announce_id);
    EXPECT_EQ(1u, fm_count());
    ptp_fsm_announce_resume_foreign_master_timeouts();
    tick(1);
    EXPECT_EQ(0u, fm_count());
}

} // namespace

namespace {

TEST_F(RxTest, G8275_2AlternateMasterFlagFromAKnownMaster)
{
    rx_fake.profile = PTP_PROFILE_G8275_2;
    rx_fake.local_clock = {LOCAL_ID, 44};
    const ptp_address_type src = mac(3);
    ptp_fsm_foreign_master_type *fm = nullptr;
    ASSERT_EQ(0u, ptp_fsm_proto_foreign_master_add(port, &src, nullptr, false, &fm));
    fm->is_nonnegotiated = 1;
    ptp_fsm_announce_foreign_master_start_listening(port, fm);
    rx(announce(0x1000, 6, 1).set8(4, 44).set16(6, 0x0100), &src);
    EXPECT_EQ(1u, rx_fake.drop_reason[TESSEL_PACKET_DROP_G8275_2_INCOMPATIBLE]);
    rx(announce(0x1000, 6, 1).set8(4, 44), &src);
    EXPECT_EQ(1u, total_drops());
    EXPECT_EQ(1u, fm->announce_count);
}

} // namespace

namespace {

// ---- Held Passive and the announce timeout ----

TEST_F(RxTest, HeldPassivePortKeepsItsTimeoutLoadedByItsBestMaster)
{
    // A port held Passive still hears its best master; released, it must not time out at once.
    const ptp_address_type best_src = mac(1);
    const ptp_address_type loop_src = mac(9);
    const msg_builder looped = announce().set64(20, LOCAL_ID).set16(28, 1);
    rx(announce(), &best_src);
    rx(announce(), &best_src);
    tick();
    ASSERT_NE(nullptr, best());
    port->fsm.PortState = PTP_PORT_STATE_PASSIVE;
    port->fsm.is_announce_timeout_running = 1;
    port->fsm.announce_timeout_counter = 3;

    for (int i = 0; i < 10; i++) { // held: looped Announces keep coming
        rx(looped, &loop_src);
        ASSERT_TRUE(port->fsm.is_held_passive);
        rx(announce(), &best_src);
        EXPECT_EQ(3, port->fsm.announce_timeout_counter) << "tick " << i;
        tick();
    }
    for (int i = 0; i < 10; i++) { // released after five quiet ticks
        rx(announce(), &best_src);
        tick();
    }
    EXPECT_FALSE(port->fsm.is_held_passive);
    EXPECT_EQ(0, std::count(rx_fake.calls.begin(), rx_fake.calls.end(), "announce_timeout"));
}

// ---- Texts and trace words of Announce receipt ----

TEST_F(RxTest, AnnounceReceiptTextsAndAddressWords)
{
    struct text_case {
        const char *name;
        uint32_t profile;
        msg_builder msg;
        const char *line; // one of the debug lines
    };
    const std::vector<text_case> cases = {
        {"new master", PTP_PROFILE_DEFAULT, announce(),
         "PACKET: Gi0/0/0/1: [state]: New foreign master Ethernet 0200.0000.0007 received"},
        {"class refused by the profile", PTP_PROFILE_G8275_1, announce(0x1000, 84, 1),
         "PACKET: Gi0/0/0/1: [state]: Clock class 84 not allowed by G.8275.1"},
        {"alternate master under G.8275.2", PTP_PROFILE_G8275_2, announce(0x1000, 6, 1).set16(6, 0x0100),
         "PACKET: Gi0/0/0/1: [state]: Flag 'alternativeMasterFlag' not allowed by G.8275.2"},
    };
    const ptp_address_type src = mac(7);
    for (const text_case &c : cases) {
        SCOPED_TRACE(c.name);
        rx_fake_reset();
        rx_fake.debug_on = true;
        rx_fake.profile = c.profile;
        if (c.profile == PTP_PROFILE_G8275_2) {
            // Every Announce counts as unicast here: the master must be known already.
            ptp_fsm_foreign_master_type *fm = nullptr;
            ASSERT_EQ(0u, ptp_fsm_proto_foreign_master_add(port, &src, nullptr, false, &fm));
            fm->is_nonnegotiated = 1;
            ptp_fsm_announce_foreign_master_start_listening(port, fm);
        }
        rx(c.msg, &src);
        EXPECT_NE(rx_fake.debug_lines.end(), std::find(rx_fake.debug_lines.begin(), rx_fake.debug_lines.end(), c.line));
        ptp_fsm_proto_foreign_master_tree_destroy(port);
    }

    // The address words of a trace record read back as the same address.
    rx_fake_reset();
    rx(announce(), &src);
    const auto rec = std::find_if(rx_fake.traces.begin(), rx_fake.traces.end(),
                                  [](const std::vector<uint64_t> &r) { return r[0] == 0x500100672ull; });
    ASSERT_NE(rx_fake.traces.end(), rec);
    ASSERT_EQ(6u, rec->size());
    EXPECT_EQ(PTP_ENCAP_ETHERNET, (*rec)[5]);
    EXPECT_STREQ("Ethernet 0200.0000.0007", ptp_address_trace_to_str(PTP_ENCAP_ETHERNET, (*rec)[3], (*rec)[4]));
}

TEST_F(RxTest, AnIpv6AddressIsRecordedAsText)
{
    // The reader is another process: the address text must travel in the record, not as a
    // pointer into this one.
    ptp_address_type src{};
    src.encap = PTP_ENCAP_IPV6;
    src.value[0] = 0xFE;
    src.value[1] = 0x80;
    src.value[15] = 7;
    rx_fake_reset();
    ptp_fsm_foreign_master_type *fm = nullptr;
    ASSERT_EQ(0u, ptp_fsm_proto_foreign_master_add(port, &src, nullptr, false, &fm));
    ptp_fsm_proto_foreign_master_tree_destroy(port);
    const uint64_t id = 0x80500100670ull; // address-format code of an IPv6 address in third place
    const auto rec = std::find_if(rx_fake.traces.begin(), rx_fake.traces.end(),
                                  [id](const std::vector<uint64_t> &r) { return r[0] == id; });
    ASSERT_NE(rx_fake.traces.end(), rec);
    EXPECT_EQ(PTP_ENCAP_IPV6, (*rec)[5]);
    EXPECT_EQ(1u << 2, rx_fake.trace_text_masks[static_cast<size_t>(rec - rx_fake.traces.begin())]);
}

// ---- Suspension of foreign-master time-outs across port creation ----

event_mgr_type *timer_evm = nullptr;

class RxTimerTest : public RxTest {
protected:
    static void SetUpTestSuite()
    {
        plat_clock_use_virtual();
        timer_evm = event_create_manager(nullptr, "fsm-rx-test", 0);
        ASSERT_NE(timer_evm, nullptr);
        ASSERT_EQ(ptp_timer_init(timer_evm, 16, 32, nullptr, nullptr, 9, nullptr), 0u);
    }
    static void TearDownTestSuite()
    {
        ptp_timer_shutdown();
        event_manager_destroy(timer_evm);
        plat_clock_use_real();
    }
};

TEST_F(RxTimerTest, APortCreatedDuringTheSuspensionDoesNotEndIt)
{
    const ptp_address_type src = mac(1);
    rx(announce(), &src);
    ptp_fsm_announce_suspend_foreign_master_timeouts(port);

    // Another port's state machine starts while the 10 s run.
    void *mem = ::operator new(sizeof(tessel_proto_idb_type));
    std::memset(mem, 0, sizeof(tessel_proto_idb_type));
    std::unique_ptr<tessel_proto_idb_type, port_deleter> other(static_cast<tessel_proto_idb_type *>(mem));
    ASSERT_EQ(0u, ptp_fsm_announce_timers_create(other.get()));
    EXPECT_TRUE(ptp_fsm_announce_foreign_master_timeouts_suspended());

    tick(10);
    EXPECT_EQ(1u, fm_count());

    ASSERT_EQ(0u, plat_clock_advance_ms(PTP_FSM_FM_TIMEOUT_RESUME_MS));
    evm_run_until_idle(timer_evm);
    EXPECT_FALSE(ptp_fsm_announce_foreign_master_timeouts_suspended());
    tick(1);
    EXPECT_EQ(0u, fm_count());
    ptp_fsm_announce_timers_destroy(other.get());
}

} // namespace
