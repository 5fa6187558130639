// Adjacency and ARP resolution on the in-memory adjacency table and ARP client, on virtual
// time: adjacency at creation or an ARP request 1.5 s later, AIB changes and removals reaching
// the peers and their offload sessions, over-long rewrites, partial and total ARP failures,
// failure notifications, init failures and platform adjacency resolution.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "aib_test.h"
#include "arp_test.h"
#include "evm.h"
#include "plat_clock_test.h"
#include "plat_debug.h"
#include "ptp_address.h"
#include "ptp_debug.h"
#include "ptp_timer.h"
#include "ptp_zerr.h"
#include "ptp_zerr_codes.h"
#include "tessel_adjacency.h"
#include "tessel_adjacency_test_fake.h"
#include "tessel_debug_areas.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_types.h"
#include "tessel_proto_db.h"

namespace {

debug_event_type debug_table[TESSEL_DEBUG_AREA_COUNT];
constexpr ifhtype IFH = 0x101;

ptp_address_type v4(uint8_t last)
{
    ptp_address_type a{};
    const uint8_t ip[4] = {192, 0, 2, last};
    ptp_address_set_ipv4(&a, ip);
    return a;
}

std::vector<uint8_t> rewrite(uint8_t tag, size_t len = 14)
{
    std::vector<uint8_t> r(len, tag);
    r[len - 2] = 0x08;
    r[len - 1] = 0x00;
    return r;
}

bool adjacency_is(const ptp_adjacency_type &a, const std::vector<uint8_t> &bytes)
{
    return a.rewrite_str_len == bytes.size() &&
           (bytes.empty() || std::memcmp(a.rewrite_str, bytes.data(), bytes.size()) == 0);
}

class AdjacencyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat_clock_use_virtual();
        ptp_zerr_register_all();
        aib_test_reset();
        arp_test_reset();
        adj_fake = adj_fake_state_type{};
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_EQ(ptp_debug_register(evm, debug_table, tessel_debug_areas, TESSEL_DEBUG_AREA_COUNT, nullptr), 0u);
        ASSERT_EQ(debug_set_area(PTP_DEBUG_PATH, "adjacency", nullptr), 0u);
        ASSERT_EQ(ptp_timer_init(evm, 512, 64, nullptr, nullptr, 0, debug_table), 0u);
        ASSERT_EQ(tessel_proto_db_init(), 0u);
        ASSERT_EQ(tessel_proto_db_create("Gi0/0/0/1", &port), 0u);
        tessel_proto_db_add_ifhandle(IFH, port);
        avl2_init(&port->fsm.unicast_peer_tree, adj_fake_peer_compare, nullptr);
        avl2_init(&port->fsm.foreign_master_table, adj_fake_peer_compare, nullptr);
    }
    void TearDown() override
    {
        tessel_adjacency_cleanup();
        for (auto *p : peers) {
            delete p;
        }
        for (auto *f : fms) {
            delete f;
        }
        tessel_proto_db_delete(port);
        tessel_proto_db_cleanup();
        ptp_timer_shutdown();
        ptp_debug_cleanup();
        event_manager_destroy(evm);
        aib_test_reset();
        arp_test_reset();
        plat_clock_use_real();
    }

    void init() { ASSERT_EQ(tessel_adjacency_init(evm), 0u); }

    ptp_fsm_peer_entry_type *new_peer(const ptp_address_type &a)
    {
        auto *e = new ptp_fsm_peer_entry_type{};
        e->peer_addr = a;
        e->port = port;
        avl2_insert(&port->fsm.unicast_peer_tree, &e->tree_link);
        peers.push_back(e);
        tessel_adjacency_unicast_peer_request(e);
        return e;
    }
    ptp_fsm_foreign_master_type *new_fm(const ptp_address_type &a)
    {
        auto *fm = new ptp_fsm_foreign_master_type{};
        fm->peer_addr = a;
        fm->port = port;
        avl2_insert(&port->fsm.foreign_master_table, &fm->tree_link);
        fms.push_back(fm);
        tessel_adjacency_foreign_master_request(fm);
        return fm;
    }
    static void aib_set(uint8_t last, const std::vector<uint8_t> &r)
    {
        const ptp_address_type a = v4(last);
        aib_test_set(IFH, a.value, r.data(), static_cast<uint32_t>(r.size()));
    }
    // The addresses (last byte) of each ARP update sent so far.
    static std::vector<std::vector<uint8_t>> arp_sent()
    {
        std::vector<std::vector<uint8_t>> out;
        for (const auto &update : arp_test_updates()) {
            std::vector<uint8_t> one;
            for (const arp_client_request_type &r : update) {
                EXPECT_EQ(r.family, 2u);
                EXPECT_EQ(r.ifhandle, IFH);
                EXPECT_EQ(r.request, 3);
                one.push_back(reinterpret_cast<const uint8_t *>(&r.address)[3]);
            }
            out.push_back(one);
        }
        return out;
    }

    event_mgr_type *evm = nullptr;
    tessel_proto_idb_type *port = nullptr;
    std::vector<ptp_fsm_peer_entry_type *> peers;
    std::vector<ptp_fsm_foreign_master_type *> fms;
};

TEST_F(AdjacencyTest, KnownAdjacencyAtCreationMissingOneAskedOfArpLater)
{
    init();
    aib_set(1, rewrite(0xA1));
    debug_capture_clear();
    ptp_fsm_peer_entry_type *known = new_peer(v4(1));
    EXPECT_TRUE(adjacency_is(known->adjacency, rewrite(0xA1)));
    EXPECT_EQ(adj_fake.peer_session_updates, std::vector<ptp_fsm_peer_entry_type *>{known});
    EXPECT_EQ(debug_captured(),
              (std::vector<std::string>{"ADJACENCY: Received adjacency request for unicast peer IPv4 192.0.2.1",
                                        "ADJACENCY: Found adjacency for IPv4 address 'IPv4 192.0.2.1'"}));

    ptp_fsm_foreign_master_type *missing = new_fm(v4(2));
    EXPECT_EQ(missing->adjacency.rewrite_str_len, 0);
    EXPECT_TRUE(adj_fake.fm_session_updates.empty()); // empty before and after
    plat_clock_advance_ms(1499);
    EXPECT_TRUE(arp_sent().empty());
    plat_clock_advance_ms(1);
    EXPECT_EQ(arp_sent(), (std::vector<std::vector<uint8_t>>{{2}}));
    plat_clock_advance_ms(5000); // nothing pending: the timer stays off
    EXPECT_EQ(arp_sent().size(), 1u);

    // Resolution shows as an AIB notification.
    aib_set(2, rewrite(0xB2));
    plat_clock_settle();
    EXPECT_TRUE(adjacency_is(missing->adjacency, rewrite(0xB2)));
    EXPECT_EQ(adj_fake.fm_session_updates, std::vector<ptp_fsm_foreign_master_type *>{missing});
}

TEST_F(AdjacencyTest, AibChangesAndRemovalsReachBothPeersOfAnAddress)
{
    init();
    aib_set(1, rewrite(0xA1));
    ptp_fsm_peer_entry_type *peer = new_peer(v4(1));
    ptp_fsm_foreign_master_type *fm = new_fm(v4(1));
    adj_fake = adj_fake_state_type{};

    struct step_type {
        const char *what;
        bool remove;
        std::vector<uint8_t> rewrite;
        std::vector<uint8_t> expect;
        size_t session_updates;
    };
    const step_type steps[] = {
        {"a changed rewrite", false, rewrite(0xC1), rewrite(0xC1), 1},
        {"a removal empties it", true, {}, {}, 1},
        {"a new one after removal", false, rewrite(0xD1, 18), rewrite(0xD1, 18), 1},
        {"61 bytes count as none", false, rewrite(0xE1, 61), rewrite(0xD1, 18), 0},
        {"60 bytes are taken", false, rewrite(0xF1, 60), rewrite(0xF1, 60), 1},
    };
    for (const step_type &s : steps) {
        SCOPED_TRACE(s.what);
        adj_fake = adj_fake_state_type{};
        if (s.remove) {
            aib_test_remove(IFH, v4(1).value);
        } else {
            aib_set(1, s.rewrite);
        }
        plat_clock_settle();
        EXPECT_TRUE(adjacency_is(peer->adjacency, s.expect));
        EXPECT_TRUE(adjacency_is(fm->adjacency, s.expect));
        EXPECT_EQ(adj_fake.peer_session_updates.size(), s.session_updates);
        EXPECT_EQ(adj_fake.fm_session_updates.size(), s.session_updates);
    }

    // A notification identical to what the peer holds changes nothing (the AIB itself only
    // notifies changes, so one is handed over directly).
    adj_fake = adj_fake_state_type{};
    aib_adj_entry_type same{};
    same.family = AIB_FAMILY_IPV4;
    same.ifhandle = IFH;
    same.key_len = 4;
    std::memcpy(same.key, v4(1).value, 4);
    same.rewrite_len = 60;
    std::memcpy(same.rewrite, rewrite(0xF1, 60).data(), 60);
    const aib_notification_type n{AIB_NOTIFICATION_UPDATE, &same};
    tessel_adjacency_aib_notification_cb(&n);
    EXPECT_TRUE(adj_fake.peer_session_updates.empty());
    EXPECT_TRUE(adj_fake.fm_session_updates.empty());
    // Notifications for other interfaces, other addresses and without entry are ignored.
    same.ifhandle = 0x999;
    tessel_adjacency_aib_notification_cb(&n);
    const aib_notification_type empty{AIB_NOTIFICATION_UPDATE, nullptr};
    tessel_adjacency_aib_notification_cb(&empty);
    EXPECT_TRUE(adj_fake.peer_session_updates.empty());
}

TEST_F(AdjacencyTest, ArpFailuresRequeueOnlyTheFailedRequests)
{
    init();
    new_peer(v4(1));
    new_peer(v4(2));
    new_peer(v4(3));
    arp_test_fail_next_update(ARP_CLIENT_PARTIAL_FAILURE, {0, 5, 0});
    plat_clock_advance_ms(1500);
    // Only .2 goes again, 1.5 s later; then a total failure sends it once more.
    arp_test_fail_next_update(EIO);
    new_peer(v4(4));
    plat_clock_advance_ms(1500);
    plat_clock_advance_ms(1500);
    plat_clock_advance_ms(1500);
    EXPECT_EQ(arp_sent(), (std::vector<std::vector<uint8_t>>{{1, 2, 3}, {2, 4}, {2, 4}}));

    // A failure notification re-queues the addresses with a non-zero status.
    arp_client_request_type r1{}, r2{};
    r1.ifhandle = r2.ifhandle = IFH;
    r1.address = *reinterpret_cast<const uint32_t *>(v4(1).value);
    r2.address = *reinterpret_cast<const uint32_t *>(v4(3).value);
    arp_test_notify_failure({r1, r2}, {0, 7});
    plat_clock_settle();
    plat_clock_advance_ms(1500);
    EXPECT_EQ(arp_sent().back(), std::vector<uint8_t>{3});
}

TEST_F(AdjacencyTest, CleanupWithRequestsPendingFreesTheBatches)
{
    init();
    new_peer(v4(1));
    tessel_adjacency_cleanup();
    EXPECT_FALSE(aib_test_bound());
    EXPECT_EQ(arp_test_client_count(), 0u);
    // A second cleanup (the shutdown's) is harmless; the timer never fires.
    plat_clock_advance_ms(3000);
    EXPECT_TRUE(arp_sent().empty());
}

TEST_F(AdjacencyTest, InitFailuresStopTheSequence)
{
    aib_test_fail(aib_test_call::get_table, 1);
    debug_capture_clear();
    EXPECT_EQ(tessel_adjacency_init(evm), PTP_ZERR2_NO_AIB_TABLE);
    EXPECT_EQ(debug_captured(),
              (std::vector<std::string>{
                  "ADJACENCY: [ERROR] Failed to initalise adjacency module: Could not get the AIB lookup table"}));
    EXPECT_EQ(aib_test_client_count(), 0u);
    tessel_adjacency_cleanup();

    // A table this process mapped before counts as mapped.
    ASSERT_EQ(aib_server_bind(), 0u);
    ASSERT_EQ(aib_map_table(AIB_FAMILY_IPV4), 0u);
    EXPECT_EQ(tessel_adjacency_init(evm), 0u);
    tessel_adjacency_cleanup();

    arp_test_fail_next_register(EAGAIN);
    EXPECT_EQ(tessel_adjacency_init(evm), static_cast<zerrno>(EAGAIN));
}

TEST_F(AdjacencyTest, PlatformResolutionMakesTheModuleInactive)
{
    adj_fake.platform_adjacency = true;
    init();
    EXPECT_FALSE(aib_test_bound());
    EXPECT_EQ(arp_test_client_count(), 0u);
    aib_set(1, rewrite(0xA1));
    ptp_fsm_peer_entry_type *peer = new_peer(v4(1));
    EXPECT_EQ(peer->adjacency.rewrite_str_len, 0);
    ptp_adjacency_type out{};
    out.rewrite_str_len = 9;
    const ptp_address_type a = v4(1);
    tessel_adjacency_get(IFH, &a, &out);
    EXPECT_EQ(out.rewrite_str_len, 0);
    plat_clock_advance_ms(3000);
    EXPECT_TRUE(arp_sent().empty());
}

TEST_F(AdjacencyTest, GetForASend)
{
    init();
    aib_set(1, rewrite(0xA1));
    ptp_adjacency_type out{};
    const ptp_address_type a = v4(1);
    tessel_adjacency_get(IFH, &a, &out);
    EXPECT_TRUE(adjacency_is(out, rewrite(0xA1)));
    ptp_address_type mac{};
    const uint8_t m[6] = {0, 1, 2, 3, 4, 5};
    ptp_address_set_mac(&mac, m);
    tessel_adjacency_get(IFH, &mac, &out);
    EXPECT_EQ(out.rewrite_str_len, 0);
}

} // namespace
