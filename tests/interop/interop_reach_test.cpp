// A unicast peer on a veth in a network namespace, resolved through the kernel: its FIB
// registration answers with the kernel's route (the veth, no gateway), and its adjacency, missing
// at first, follows the ARP request that the batch sends 1.5 s later, as the neighbour shows in
// the kernel's table.
#include <gtest/gtest.h>
#include <net/if.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "aib_test.h"
#include "arp_test.h"
#include "evm_test_thread.h"
#include "fib_test.h"
#include "interop_env.h"
#include "nl_linux.h"
#include "ptp_address.h"
#include "ptp_timer.h"
#include "tessel_adjacency.h"
#include "tessel_fib.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_types.h"
#include "tessel_proto_db.h"

namespace {

constexpr ifhtype IFH = 0x501;

int peer_compare(const void *a, const void *b, void *)
{
    const auto *x =
        reinterpret_cast<const ptp_address_type *>(static_cast<const uint8_t *>(a) + sizeof(avl2_node_type));
    const auto *y =
        reinterpret_cast<const ptp_address_type *>(static_cast<const uint8_t *>(b) + sizeof(avl2_node_type));
    return ptp_address_compare(x, y);
}

// The interface index of a device in a namespace, as the kernel numbers it there.
int ifindex_in(const std::string &ns, const std::string &dev)
{
    const std::string out = interop::capture_output("ip netns exec " + ns + " cat /sys/class/net/" + dev + "/ifindex");
    return out.empty() ? 0 : std::stoi(out);
}

TEST(InteropReach, UnicastPeerResolvedThroughTheKernel)
{
    const std::string why = interop::missing_prerequisite(false, false);
    if (!why.empty()) {
        GTEST_SKIP() << why;
    }
    interop::veth_pair veth;
    ASSERT_TRUE(veth.ok);
    ASSERT_EQ(nl_linux_intf_add(veth.dev_a.c_str(), IFH, veth.ns_a.c_str()), 0u);
    fib_test_reset();
    aib_test_reset();
    arp_test_reset();

    evm_thread loop;
    tessel_proto_idb_type *port = nullptr;
    auto *peer = new ptp_fsm_peer_entry_type{};
    const uint8_t ip[4] = {10, 99, 0, 2};
    ptp_address_set_ipv4(&peer->peer_addr, ip);
    loop.run([&] {
        ASSERT_EQ(ptp_timer_init(loop.evm, 512, 64, nullptr, nullptr, 0, nullptr), 0u);
        ASSERT_EQ(tessel_proto_db_init(), 0u);
        ASSERT_EQ(tessel_proto_db_create("veth0", &port), 0u);
        tessel_proto_db_add_ifhandle(IFH, port);
        avl2_init(&port->fsm.unicast_peer_tree, peer_compare, nullptr);
        avl2_init(&port->fsm.foreign_master_table, peer_compare, nullptr);
        ASSERT_EQ(tessel_fib_init(loop.evm), 0u);
        ASSERT_EQ(tessel_adjacency_init(loop.evm), 0u);
        peer->port = port;
        avl2_insert(&port->fsm.unicast_peer_tree, &peer->tree_link);
        // As the state machine creates a unicast peer.
        tessel_adjacency_unicast_peer_request(peer);
        tessel_fib_pulse();
    });

    bool fib_known = false;
    bool adjacency_known = false;
    std::vector<uint8_t> nh;
    ptp_adjacency_type adjacency{};
    for (int i = 0; i < 100 && !(fib_known && adjacency_known); i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        loop.run([&] {
            fib_known = (peer->fib_info.update.flags & TESSEL_FIB_UPDATE_PRESENT) != 0;
            if (fib_known) {
                nh.assign(peer->fib_info.update.data, peer->fib_info.update.data + peer->fib_info.update.length);
            }
            adjacency = peer->adjacency;
            adjacency_known = adjacency.rewrite_str_len != 0;
        });
    }
    ASSERT_TRUE(fib_known);
    const int ifindex = ifindex_in(veth.ns_a, veth.dev_a);
    ASSERT_NE(ifindex, 0);
    EXPECT_EQ(nh, (std::vector<uint8_t>{static_cast<uint8_t>(ifindex >> 24), static_cast<uint8_t>(ifindex >> 16),
                                        static_cast<uint8_t>(ifindex >> 8), static_cast<uint8_t>(ifindex), 0}));
    ASSERT_TRUE(adjacency_known);
    const uint8_t expect[14] = {0x02, 0, 0, 0, 0x0b, 0x02, 0x02, 0, 0, 0, 0x0a, 0x01, 0x08, 0x00};
    ASSERT_EQ(adjacency.rewrite_str_len, 14);
    EXPECT_EQ(std::memcmp(adjacency.rewrite_str, expect, 14), 0);
    // One ARP request went out for it.
    const auto updates = arp_test_updates();
    ASSERT_FALSE(updates.empty());
    EXPECT_EQ(updates[0].size(), 1u);

    loop.run([&] {
        avl2_delete(&port->fsm.unicast_peer_tree, peer);
        tessel_fib_unicast_peer_unregister(peer);
        tessel_adjacency_cleanup();
        tessel_fib_close();
        tessel_proto_db_delete(port);
        tessel_proto_db_cleanup();
        ptp_timer_shutdown();
    });
    delete peer;
    nl_linux_intf_remove(IFH);
    fib_test_reset();
}

} // namespace
