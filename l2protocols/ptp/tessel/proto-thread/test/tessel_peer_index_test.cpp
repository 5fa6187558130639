// Peer indices: allocation from the moving hint, sharing by reference, release, wrap and
// exhaustion of the pool; checkpoint restore, the sweep that recounts users and the clear.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "evm.h"
#include "plat_debug.h"
#include "ptp_address.h"
#include "ptp_debug.h"
#include "ptp_zerr_codes.h"
#include "qor_log.h"
#include "tessel_debug_areas.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_types.h"
#include "tessel_issu.h"
#include "tessel_peer_index.h"
#include "tessel_peer_index_test_fake.h"
#include "tessel_proto_db.h"

namespace {

debug_event_type debug_table[TESSEL_DEBUG_AREA_COUNT];

ptp_address_type v4(uint8_t last)
{
    ptp_address_type a{};
    const uint8_t ip[4] = {192, 0, 2, last};
    ptp_address_set_ipv4(&a, ip);
    return a;
}

ptp_address_type mac(uint8_t last)
{
    ptp_address_type a{};
    const uint8_t m[6] = {0x00, 0x11, 0x22, 0x33, 0x44, last};
    ptp_address_set_mac(&a, m);
    return a;
}

class PeerIndexTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_NE(evm, nullptr);
        ASSERT_EQ(ptp_debug_register(evm, debug_table, tessel_debug_areas, TESSEL_DEBUG_AREA_COUNT, nullptr), 0u);
        ASSERT_EQ(debug_set_area(PTP_DEBUG_PATH, "fsm", nullptr), 0u);
        ASSERT_EQ(tessel_proto_db_init(), 0u);
        std::memset(tessel_peer_index_bitmap, 0, sizeof tessel_peer_index_bitmap);
        tessel_peer_index_hint = 1;
        pi_fake = pi_fake_state_type{};
        p1 = port("Gi0/0/0/1", 0x101);
        p2 = port("Gi0/0/0/2", 0x102);
        debug_capture_clear();
        qor_errmsg_capture_clear();
    }
    void TearDown() override
    {
        for (tessel_proto_idb_type *p : {p1, p2}) {
            drop_peers(p);
            while (avl2_node_type *n = avl2_get_first(&p->peer_index_tree)) {
                auto *e = reinterpret_cast<tessel_peer_index_entry_type *>(n);
                e->ref_count = 0;
                tessel_peer_index_delete(p, e);
            }
            tessel_peer_index_idb_cleanup(p);
            tessel_proto_db_delete(p);
        }
        tessel_proto_db_cleanup();
        ptp_debug_cleanup();
        event_manager_destroy(evm);
    }

    static tessel_proto_idb_type *port(const char *name, ifhtype handle)
    {
        tessel_proto_idb_type *idb = nullptr;
        EXPECT_EQ(tessel_proto_db_create(name, &idb), 0u);
        tessel_proto_db_add_ifhandle(handle, idb);
        EXPECT_EQ(tessel_peer_index_idb_init(idb), 0u);
        avl2_init(&idb->fsm.unicast_peer_tree, pi_fake_peer_compare, nullptr);
        avl2_init(&idb->fsm.foreign_master_table, pi_fake_peer_compare, nullptr);
        return idb;
    }
    static void drop_peers(tessel_proto_idb_type *p)
    {
        while (avl2_node_type *n = avl2_get_first(&p->fsm.unicast_peer_tree)) {
            avl2_delete(&p->fsm.unicast_peer_tree, n);
            delete reinterpret_cast<ptp_fsm_peer_entry_type *>(n);
        }
        while (avl2_node_type *n = avl2_get_first(&p->fsm.foreign_master_table)) {
            avl2_delete(&p->fsm.foreign_master_table, n);
            delete reinterpret_cast<ptp_fsm_foreign_master_type *>(n);
        }
    }
    // A peer record in a port's tree, as the state machine keeps it (no reference taken).
    static void add_unicast_peer(tessel_proto_idb_type *p, const ptp_address_type &a)
    {
        auto *e = new ptp_fsm_peer_entry_type{};
        e->peer_addr = a;
        e->port = p;
        ASSERT_NE(avl2_insert(&p->fsm.unicast_peer_tree, &e->tree_link), nullptr);
    }
    static void add_foreign_master(tessel_proto_idb_type *p, const ptp_address_type &a)
    {
        auto *fm = new ptp_fsm_foreign_master_type{};
        fm->peer_addr = a;
        fm->port = p;
        ASSERT_NE(avl2_insert(&p->fsm.foreign_master_table, &fm->tree_link), nullptr);
    }

    static uint32_t index_of(tessel_proto_idb_type *p, const ptp_address_type &a)
    {
        ptp_peer_index_type i = 0;
        return tessel_peer_index_get(p, &a, &i) == 0 ? i : 0;
    }
    static int refs_of(tessel_proto_idb_type *p, const ptp_address_type &a)
    {
        tessel_peer_index_entry_type key{};
        key.address = a;
        auto *e = reinterpret_cast<tessel_peer_index_entry_type *>(avl2_search(&p->peer_index_tree, &key));
        return e == nullptr ? -1 : e->ref_count;
    }

    event_mgr_type *evm = nullptr;
    tessel_proto_idb_type *p1 = nullptr;
    tessel_proto_idb_type *p2 = nullptr;
};

// One step of an allocation scenario: acquire or release an address on port 1 or 2, then the
// index the address holds on that port (0: none) and its reference count (-1: no entry).
struct step_type {
    const char *what;
    bool acquire;
    int port;
    uint8_t peer;
    uint32_t index;
    int refs;
};

TEST_F(PeerIndexTest, AllocationSharingAndRelease)
{
    const step_type steps[] = {
        {"the first index ever given is 1", true, 1, 1, 1, 1},
        {"then 2", true, 1, 2, 2, 1},
        {"then 3", true, 1, 3, 3, 1},
        {"a second user of an address shares its index", true, 1, 1, 1, 2},
        {"releasing one of two users keeps the index", false, 1, 1, 1, 1},
        {"releasing 2 frees it", false, 1, 2, 0, -1},
        {"the hint does not move back: the next new peer gets 4", true, 1, 4, 4, 1},
        {"the same address on another port has its own index", true, 2, 1, 5, 1},
        {"releasing the last user frees the index", false, 1, 1, 0, -1},
        {"the other port's entry stays", false, 2, 9, 0, -1},
        {"releasing an address without an entry changes nothing", false, 1, 7, 0, -1},
    };
    for (const step_type &s : steps) {
        SCOPED_TRACE(s.what);
        tessel_proto_idb_type *p = s.port == 1 ? p1 : p2;
        const ptp_address_type a = v4(s.peer);
        if (s.acquire) {
            ASSERT_EQ(tessel_peer_index_acquire(p, &a), 0u);
        } else {
            tessel_peer_index_release(p, &a);
        }
        EXPECT_EQ(index_of(p, a), s.index);
        EXPECT_EQ(refs_of(p, a), s.refs);
    }
    EXPECT_EQ(index_of(p2, v4(1)), 5u);
    // Every new entry wrote its checkpoint record; every freed one deleted it.
    EXPECT_EQ(pi_fake.chkpt_updates, (std::vector<uint32_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(pi_fake.chkpt_deletes, (std::vector<uint64_t>{2, 1}));
}

TEST_F(PeerIndexTest, FreedIndexIsGivenAgainOnlyAfterTheHintWraps)
{
    for (uint8_t i = 1; i <= 3; i++) {
        const ptp_address_type a = v4(i);
        ASSERT_EQ(tessel_peer_index_acquire(p1, &a), 0u);
    }
    const ptp_address_type two = v4(2);
    tessel_peer_index_release(p1, &two);
    // Everything from 4 to 65535 is taken: the next candidate after 65535 is 1, then 2.
    for (uint32_t i = 4; i <= TESSEL_PEER_INDEX_MAX; i++) {
        tessel_peer_index_bitmap[(i - 1) / 32] |= 1u << ((i - 1) % 32);
    }
    tessel_peer_index_hint = TESSEL_PEER_INDEX_MAX;
    const ptp_address_type a = mac(1);
    ASSERT_EQ(tessel_peer_index_acquire(p1, &a), 0u);
    EXPECT_EQ(index_of(p1, a), 2u);
    // The hint only moves forward from below the index given.
    EXPECT_EQ(tessel_peer_index_hint, TESSEL_PEER_INDEX_MAX);

    // Index 65535 moves the hint to 1.
    std::memset(tessel_peer_index_bitmap, 0, sizeof tessel_peer_index_bitmap);
    const ptp_address_type last = mac(2);
    ASSERT_EQ(tessel_peer_index_entry_create(p1, &last, TESSEL_PEER_INDEX_MAX, 7, nullptr), 0u);
    EXPECT_EQ(tessel_peer_index_hint, 1u);
}

TEST_F(PeerIndexTest, ExhaustedPoolFailsEveryAttemptWithItsSyslog)
{
    std::memset(tessel_peer_index_bitmap, 0xFF, sizeof tessel_peer_index_bitmap);
    // Index 0 has no bit: the last word's top bit stands for 65536, never given.
    tessel_peer_index_bitmap[TESSEL_PEER_INDEX_BITMAP_WORDS - 1] &= 0x7FFFFFFFu;
    tessel_peer_index_hint = 12345;
    const ptp_address_type a = v4(9);
    EXPECT_EQ(tessel_peer_index_acquire(p1, &a), PTP_ZERR_NOMEM);
    EXPECT_EQ(refs_of(p1, a), -1);
    EXPECT_TRUE(pi_fake.chkpt_updates.empty());
    const auto msgs = qor_errmsg_captured();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].mnemonic, "PEER_INDEX_EXHAUST");
    EXPECT_EQ(msgs[0].text, "Failed to allocate PTP peer index");
    EXPECT_EQ(tessel_peer_index_hint, 12345u);
}

TEST_F(PeerIndexTest, GetWithoutEntryFailsWithItsCodeAndDebug)
{
    const ptp_address_type a = v4(3);
    ptp_peer_index_type i = 99;
    EXPECT_EQ(tessel_peer_index_get(p1, &a, &i), PTP_ZERR_NO_PEER_INDEX);
    EXPECT_EQ(i, 99);
    EXPECT_EQ(debug_captured(),
              (std::vector<std::string>{"FSM: [ERROR] Failed to find peer index for interface Gi0/0/0/1 (0x00000101), "
                                        "peer IPv4 192.0.2.3"}));
}

TEST_F(PeerIndexTest, OrderIsByTypeThenValue)
{
    // IPv4 by its 32-bit value as stored; Ethernet and IPv6 by bytes; kinds by their number.
    const ptp_address_type addrs[] = {v4(1), mac(2), v4(2), mac(1)};
    for (const ptp_address_type &a : addrs) {
        ASSERT_EQ(tessel_peer_index_acquire(p1, &a), 0u);
    }
    std::vector<ptp_address_type> order;
    for (avl2_node_type *n = avl2_get_first(&p1->peer_index_tree); n != nullptr;
         n = avl2_get_next(&p1->peer_index_tree, n)) {
        order.push_back(reinterpret_cast<tessel_peer_index_entry_type *>(n)->address);
    }
    ASSERT_EQ(order.size(), 4u);
    EXPECT_EQ(ptp_address_compare(&order[0], &addrs[3]), 0);
    EXPECT_EQ(ptp_address_compare(&order[1], &addrs[1]), 0);
    EXPECT_EQ(order[2].encap, static_cast<uint32_t>(PTP_ENCAP_IPV4));
    EXPECT_EQ(order[3].encap, static_cast<uint32_t>(PTP_ENCAP_IPV4));
}

// Recovery: entries come back from checkpoint with no users counted; the peers are re-created
// without taking references; the sweep counts them and deletes the unused ones.
TEST_F(PeerIndexTest, RestoreThenSweepOnPrimaryRecountsAndDeletesUnused)
{
    const ptp_address_type a1 = v4(1), a2 = v4(2), a3 = v4(3);
    ASSERT_EQ(tessel_peer_index_restore("Gi0/0/0/1", &a1, 10, 501), 0u);
    ASSERT_EQ(tessel_peer_index_restore("Gi0/0/0/1", &a2, 11, 502), 0u);
    ASSERT_EQ(tessel_peer_index_restore("Gi0/0/0/1", &a3, 12, 503), 0u);
    EXPECT_NE(tessel_peer_index_restore("Gi0/0/0/9", &a3, 13, 504), 0u);
    EXPECT_TRUE(pi_fake.chkpt_updates.empty()); // restored entries keep their records
    EXPECT_EQ(tessel_peer_index_hint, 13u);

    add_foreign_master(p1, a1);
    add_unicast_peer(p1, a1);
    add_unicast_peer(p1, a2);
    add_foreign_master(p1, v4(4)); // a peer the checkpoint did not know

    // Clear before the sweep must not take restored entries that hold no reference.
    tessel_peer_index_clear();
    EXPECT_EQ(refs_of(p1, a1), 0);
    EXPECT_EQ(refs_of(p1, a2), 0);

    tessel_peer_index_sweep();
    EXPECT_EQ(index_of(p1, a1), 10u);
    EXPECT_EQ(refs_of(p1, a1), 2);
    EXPECT_EQ(index_of(p1, a2), 11u);
    EXPECT_EQ(refs_of(p1, a2), 1);
    EXPECT_EQ(refs_of(p1, a3), -1);
    EXPECT_EQ(pi_fake.chkpt_deletes, (std::vector<uint64_t>{503}));
    EXPECT_EQ(index_of(p1, v4(4)), 13u);
    EXPECT_EQ(refs_of(p1, v4(4)), 1);

    // Shared after recovery as before: one user going keeps the index.
    tessel_peer_index_release(p1, &a1);
    EXPECT_EQ(index_of(p1, a1), 10u);
}

TEST_F(PeerIndexTest, SweepOffPrimaryKeepsEntriesAndCounts)
{
    pi_fake.role = TESSEL_ISSU_ROLE_SECONDARY;
    const ptp_address_type a1 = v4(1), a3 = v4(3);
    ASSERT_EQ(tessel_peer_index_restore("Gi0/0/0/1", &a3, 12, 503), 0u);
    add_unicast_peer(p1, a1);
    tessel_peer_index_sweep();
    EXPECT_EQ(refs_of(p1, a3), 0);
    EXPECT_EQ(refs_of(p1, a1), 1);
    EXPECT_TRUE(pi_fake.chkpt_deletes.empty());
}

TEST_F(PeerIndexTest, SweepDeletesPeersThatCannotHaveAnIndex)
{
    add_unicast_peer(p1, v4(1));
    add_foreign_master(p1, v4(2));
    std::memset(tessel_peer_index_bitmap, 0xFF, sizeof tessel_peer_index_bitmap);
    tessel_peer_index_sweep();
    EXPECT_EQ(pi_fake.deleted_peers.size(), 1u);
    EXPECT_EQ(pi_fake.deleted_fms.size(), 1u);
    EXPECT_TRUE(avl2_is_empty(&p1->fsm.unicast_peer_tree));
    EXPECT_TRUE(avl2_is_empty(&p1->fsm.foreign_master_table));
}

TEST_F(PeerIndexTest, ClearDropsOneReferenceOfEachHolder)
{
    const ptp_address_type a1 = v4(1), a2 = v4(2);
    ASSERT_EQ(tessel_peer_index_acquire(p1, &a1), 0u);
    ASSERT_EQ(tessel_peer_index_acquire(p1, &a1), 0u);
    ASSERT_EQ(tessel_peer_index_acquire(p2, &a2), 0u);
    tessel_peer_index_clear();
    EXPECT_EQ(refs_of(p1, a1), 1);
    EXPECT_EQ(refs_of(p2, a2), -1);
}

} // namespace
