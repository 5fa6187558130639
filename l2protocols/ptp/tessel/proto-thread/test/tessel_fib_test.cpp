// FIB reachability on the in-memory FIB client, on virtual time: one registration pass per
// burst of new peers, shared prefixes of a foreign master and a unicast peer, family failures
// and their retries, next-hop updates, unregistration, reconnects and init failures.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "evm.h"
#include "fib_test.h"
#include "plat_clock_test.h"
#include "plat_debug.h"
#include "ptp_address.h"
#include "ptp_debug.h"
#include "qor_log.h"
#include "tessel_debug_areas.h"
#include "tessel_fib.h"
#include "tessel_fib_test_fake.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_types.h"
#include "tessel_proto_db.h"

namespace {

debug_event_type debug_table[TESSEL_DEBUG_AREA_COUNT];
constexpr ifhtype IFH = 0x101;
constexpr uint32_t VRF = 0x60000000;

ptp_address_type v4(uint8_t last)
{
    ptp_address_type a{};
    const uint8_t ip[4] = {192, 0, 2, last};
    ptp_address_set_ipv4(&a, ip);
    return a;
}

ptp_address_type v6(uint8_t last)
{
    ptp_address_type a{};
    uint8_t ip[16] = {0x20, 0x01, 0x0d, 0xb8};
    ip[15] = last;
    ptp_address_set_ipv6(&a, ip);
    return a;
}

const uint8_t NET4[4] = {192, 0, 2, 0};
const uint8_t NET6[16] = {0x20, 0x01, 0x0d, 0xb8};

class FibTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat_clock_use_virtual();
        fib_test_reset();
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_EQ(ptp_debug_register(evm, debug_table, tessel_debug_areas, TESSEL_DEBUG_AREA_COUNT, nullptr), 0u);
        ASSERT_EQ(debug_set_area(PTP_DEBUG_PATH, "fib", nullptr), 0u);
        ASSERT_EQ(tessel_proto_db_init(), 0u);
        ASSERT_EQ(tessel_proto_db_create("Gi0/0/0/1", &port), 0u);
        tessel_proto_db_add_ifhandle(IFH, port);
        port->ipv4_vrf = VRF;
        avl2_init(&port->fsm.unicast_peer_tree, fib_fake_peer_compare, nullptr);
        avl2_init(&port->fsm.foreign_master_table, fib_fake_peer_compare, nullptr);
        qor_errmsg_capture_clear();
    }
    void TearDown() override
    {
        tessel_fib_close();
        while (avl2_node_type *n = avl2_get_first(&port->fsm.unicast_peer_tree)) {
            avl2_delete(&port->fsm.unicast_peer_tree, n);
            delete reinterpret_cast<ptp_fsm_peer_entry_type *>(n);
        }
        while (avl2_node_type *n = avl2_get_first(&port->fsm.foreign_master_table)) {
            avl2_delete(&port->fsm.foreign_master_table, n);
            delete reinterpret_cast<ptp_fsm_foreign_master_type *>(n);
        }
        tessel_proto_db_delete(port);
        tessel_proto_db_cleanup();
        ptp_debug_cleanup();
        fib_test_reset();
        event_manager_destroy(evm);
        plat_clock_use_real();
    }

    void init() { ASSERT_EQ(tessel_fib_init(evm), 0u); }

    // A new peer as the state machine makes it: in its tree, then a pulse.
    ptp_fsm_peer_entry_type *new_peer(const ptp_address_type &a)
    {
        auto *e = new ptp_fsm_peer_entry_type{};
        e->peer_addr = a;
        e->port = port;
        avl2_insert(&port->fsm.unicast_peer_tree, &e->tree_link);
        tessel_fib_pulse();
        return e;
    }
    ptp_fsm_foreign_master_type *new_fm(const ptp_address_type &a)
    {
        auto *fm = new ptp_fsm_foreign_master_type{};
        fm->peer_addr = a;
        fm->port = port;
        avl2_insert(&port->fsm.foreign_master_table, &fm->tree_link);
        tessel_fib_pulse();
        return fm;
    }
    // Deletion as the state machine does it: out of the tree, then the unregister.
    void delete_peer(ptp_fsm_peer_entry_type *e)
    {
        avl2_delete(&port->fsm.unicast_peer_tree, e);
        tessel_fib_unicast_peer_unregister(e);
        delete e;
    }
    void delete_fm(ptp_fsm_foreign_master_type *fm)
    {
        avl2_delete(&port->fsm.foreign_master_table, fm);
        tessel_fib_foreign_master_unregister(fm);
        delete fm;
    }
    static size_t bulk_calls(uint32_t family) { return fib_test_bulk_registrations(family).size(); }
    static size_t registered(uint32_t family) { return fib_test_registered(family).size(); }

    event_mgr_type *evm = nullptr;
    tessel_proto_idb_type *port = nullptr;
};

TEST_F(FibTest, BurstOfNewPeersIsOnePassWithOneBulkCall)
{
    init();
    std::vector<ptp_fsm_peer_entry_type *> peers;
    for (uint8_t i = 1; i <= 10; i++) {
        peers.push_back(new_peer(v4(i)));
    }
    new_peer([] {
        ptp_address_type mac{};
        const uint8_t m[6] = {0, 1, 2, 3, 4, 5};
        ptp_address_set_mac(&mac, m);
        return mac;
    }());
    EXPECT_EQ(bulk_calls(FIB_EXT_FAMILY_IPV4), 0u); // never inside the creator's flow
    plat_clock_settle();
    const auto calls = fib_test_bulk_registrations(FIB_EXT_FAMILY_IPV4);
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_EQ(calls[0].size(), 10u); // the Ethernet peer never takes part
    const fib_ext_client_prefix_st &p = calls[0][0];
    EXPECT_EQ(p.vrf_id, VRF);
    EXPECT_EQ(p.family, FIB_EXT_FAMILY_IPV4);
    EXPECT_EQ(p.kind, 3u);
    EXPECT_EQ(p.ifhandle, IFH);
    EXPECT_EQ(p.prefix_len, 32);
    EXPECT_EQ(bulk_calls(FIB_EXT_FAMILY_IPV6), 0u);
    for (const auto *e : peers) {
        EXPECT_TRUE(tessel_fib_info_registered(&e->fib_info));
        EXPECT_EQ(e->fib_info.vrf_id, VRF);
    }
    // Nothing new: a pulse registers nothing.
    tessel_fib_pulse();
    plat_clock_settle();
    EXPECT_EQ(bulk_calls(FIB_EXT_FAMILY_IPV4), 1u);
}

TEST_F(FibTest, NextHopUpdatesReachEveryPeerOfTheAddress)
{
    fib_test_route_set(VRF, FIB_EXT_FAMILY_IPV4, NET4, 24, {7, 7, 7});
    init();
    ptp_fsm_peer_entry_type *peer = new_peer(v4(1));
    ptp_fsm_foreign_master_type *fm = new_fm(v4(1));
    plat_clock_settle();
    ASSERT_EQ(fib_test_bulk_registrations(FIB_EXT_FAMILY_IPV4).at(0).size(), 2u);
    for (const tessel_fib_info_type *info : {&peer->fib_info, &fm->fib_info}) {
        EXPECT_EQ(info->update.flags, TESSEL_FIB_UPDATE_PRESENT);
        ASSERT_EQ(info->update.length, 3u);
        EXPECT_EQ(info->update.data[0], 7);
    }
    // The route changes: both follow.
    fib_test_route_set(VRF, FIB_EXT_FAMILY_IPV4, NET4, 24, {9});
    plat_clock_settle();
    EXPECT_EQ(peer->fib_info.update.length, 1u);
    EXPECT_EQ(fm->fib_info.update.data[0], 9);

    // Deleting one keeps the prefix registered; deleting both unregisters it.
    delete_fm(fm);
    EXPECT_EQ(registered(FIB_EXT_FAMILY_IPV4), 1u);
    delete_peer(peer);
    EXPECT_EQ(registered(FIB_EXT_FAMILY_IPV4), 0u);
}

TEST_F(FibTest, UpdateWithoutPeerUnregistersThePrefix)
{
    init();
    new_peer(v4(1));
    plat_clock_settle();
    // The peer goes without the module hearing of it; the route's update then finds nobody.
    auto *e = reinterpret_cast<ptp_fsm_peer_entry_type *>(avl2_get_first(&port->fsm.unicast_peer_tree));
    avl2_delete(&port->fsm.unicast_peer_tree, e);
    delete e;
    debug_capture_clear();
    fib_test_route_set(VRF, FIB_EXT_FAMILY_IPV4, NET4, 24, {1});
    plat_clock_settle();
    EXPECT_EQ(registered(FIB_EXT_FAMILY_IPV4), 0u);
    const std::vector<std::string> lines = debug_captured();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "FIB: Received next hop for IPv4 peer with address IPv4 192.0.2.1 from FIB, but no matching "
                        "peer; unregistering this peer from FIB.");
}

// A failed family stays unregistered and its peers are not marked; the retry of new peers
// registers them, and its success stops the retry.
TEST_F(FibTest, FamilyFailuresAreRetriedWithBackOff)
{
    init();
    fib_test_fail(fib_test_call::bulk_reg, FIB_EXT_FAMILY_IPV6, 5, 2);
    ptp_fsm_peer_entry_type *p4 = new_peer(v4(1));
    ptp_fsm_peer_entry_type *p6 = new_peer(v6(1));
    plat_clock_settle();
    EXPECT_TRUE(tessel_fib_info_registered(&p4->fib_info));
    EXPECT_FALSE(tessel_fib_info_registered(&p6->fib_info));
    EXPECT_EQ(fib_test_calls(fib_test_call::bulk_reg, FIB_EXT_FAMILY_IPV6), 1u);

    // First retry after 125 ms (fails again), the next 250 ms later (succeeds).
    plat_clock_advance_ms(124);
    EXPECT_EQ(fib_test_calls(fib_test_call::bulk_reg, FIB_EXT_FAMILY_IPV6), 1u);
    plat_clock_advance_ms(1);
    EXPECT_EQ(fib_test_calls(fib_test_call::bulk_reg, FIB_EXT_FAMILY_IPV6), 2u);
    plat_clock_advance_ms(249);
    EXPECT_EQ(fib_test_calls(fib_test_call::bulk_reg, FIB_EXT_FAMILY_IPV6), 2u);
    plat_clock_advance_ms(1);
    EXPECT_EQ(fib_test_calls(fib_test_call::bulk_reg, FIB_EXT_FAMILY_IPV6), 3u);
    EXPECT_TRUE(tessel_fib_info_registered(&p6->fib_info));
    // The IPv4 peer, registered already, was not registered again by the retries.
    EXPECT_EQ(fib_test_calls(fib_test_call::bulk_reg, FIB_EXT_FAMILY_IPV4), 1u);
    plat_clock_advance_s(120);
    EXPECT_EQ(fib_test_calls(fib_test_call::bulk_reg, FIB_EXT_FAMILY_IPV6), 3u);

    // An IPv4 failure skips IPv6 in the same pass; the retry registers both. The success above
    // came from the retry's own expiry, when its timer was not running, so the handler kept its
    // back-off: the next retry waits 500 ms.
    fib_test_fail(fib_test_call::bulk_reg, FIB_EXT_FAMILY_IPV4, 5, 1);
    ptp_fsm_peer_entry_type *q4 = new_peer(v4(2));
    ptp_fsm_peer_entry_type *q6 = new_peer(v6(2));
    plat_clock_settle();
    EXPECT_FALSE(tessel_fib_info_registered(&q4->fib_info));
    EXPECT_FALSE(tessel_fib_info_registered(&q6->fib_info));
    EXPECT_EQ(fib_test_calls(fib_test_call::bulk_reg, FIB_EXT_FAMILY_IPV6), 3u);
    plat_clock_advance_ms(499);
    EXPECT_FALSE(tessel_fib_info_registered(&q4->fib_info));
    plat_clock_advance_ms(1);
    EXPECT_TRUE(tessel_fib_info_registered(&q4->fib_info));
    EXPECT_TRUE(tessel_fib_info_registered(&q6->fib_info));
}

TEST_F(FibTest, ReconnectRegistersEveryPeerAgain)
{
    init();
    new_peer(v4(1));
    new_peer(v6(1));
    new_fm(v4(2));
    plat_clock_settle();
    fib_test_reconnect(FIB_EXT_FAMILY_IPV4);
    EXPECT_EQ(registered(FIB_EXT_FAMILY_IPV4), 0u);
    plat_clock_settle();
    EXPECT_EQ(registered(FIB_EXT_FAMILY_IPV4), 2u);
    // An all-peers pass: the IPv6 peer is registered again too.
    EXPECT_EQ(bulk_calls(FIB_EXT_FAMILY_IPV6), 2u);
}

TEST_F(FibTest, PortUnregisterThenRegisterAgainWithItsNewValues)
{
    init();
    ptp_fsm_peer_entry_type *peer = new_peer(v4(1));
    plat_clock_settle();
    port->ipv4_vrf = VRF + 1;
    tessel_fib_idb_unregister(port);
    EXPECT_FALSE(tessel_fib_info_registered(&peer->fib_info));
    EXPECT_EQ(registered(FIB_EXT_FAMILY_IPV4), 0u);
    plat_clock_settle();
    const auto now = fib_test_registered(FIB_EXT_FAMILY_IPV4);
    ASSERT_EQ(now.size(), 1u);
    EXPECT_EQ(now[0].vrf_id, VRF + 1);
    EXPECT_EQ(peer->fib_info.vrf_id, VRF + 1);
}

TEST_F(FibTest, InitFailureRaisesItsSyslogAndLeavesNothing)
{
    fib_test_fail(fib_test_call::init, FIB_EXT_FAMILY_IPV6, 22);
    EXPECT_EQ(tessel_fib_init(evm), 22u);
    const auto msgs = qor_errmsg_captured();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].mnemonic, "INIT_FAILED");
    EXPECT_EQ(msgs[0].text,
              "Failed to initialize: Failed to initialize connection to FIB  external client library (IPv6): "
              "Invalid argument");
    init();
}

} // namespace
