// The slave-lost trap against the database: the operator's trap-enable items switch it, each
// change raises one notification with the addresses and the present flag.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "evm.h"
#include "evm_test.h"
#include "nodra.h"
#include "nodra_test.h"
#include "ptp_bags.h"
#include "ptp_debug.h"
#include "ptp_strings.h"
#include "tessel_debug_areas.h"
#include "tessel_edm_trap.h"

namespace {

debug_event_type trap_debug_table[TESSEL_DEBUG_AREA_COUNT];

struct seen_trap {
    std::string item;
    uint32_t present;
    bool has_addr;
    bool has_peer;
    uint32_t peer_ipv4;
    uint32_t addr_encap;
};
std::vector<seen_trap> seen;

zerrno on_trap(const nodra_notify_event_info_td *event, void *, const void *)
{
    ptp_trap_slave_lost bag{};
    if (bag_decode(static_cast<const uint8_t *>(event->new_data), event->new_length, &bag,
                   ptp_trap_slave_lost_bag_getfn()) != 0) {
        ADD_FAILURE() << "undecodable trap on " << event->path;
        return 0;
    }
    seen.push_back({event->path, bag.present, bag.addr != nullptr, bag.peer != nullptr,
                    bag.peer != nullptr ? bag.peer->value.IPv4Address : 0,
                    bag.addr != nullptr ? static_cast<uint32_t>(bag.addr->Encapsulation) : 0});
    bag_free_indirections(&bag, ptp_trap_slave_lost_bag_getfn());
    return 0;
}

ptp_address_type ipv4(uint8_t last)
{
    ptp_address_type a{};
    a.encap = PTP_ENCAP_IPV4;
    const uint8_t bytes[4] = {10, 0, 0, last};
    std::memcpy(a.value, bytes, sizeof bytes);
    return a;
}

class SlaveLostTrapTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char name[] = "/tmp/tessel_trap_libXXXXXX";
        const int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        close(fd);
        library = name;
    }
    static void TearDownTestSuite() { unlink(library.c_str()); }
    void SetUp() override
    {
        nodra_test_reset();
        nodra_test_set_client_library_path(library.c_str());
        ASSERT_EQ(bag_register_all_ptp_bags(), 0u);
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_EQ(ptp_debug_register(evm, trap_debug_table, tessel_debug_areas, TESSEL_DEBUG_AREA_COUNT, nullptr), 0u);
        seen.clear();
        ASSERT_EQ(nodra_bind(&listener, "/oper/ptp/&&/snmp-traps/", 0), 0u);
        ASSERT_EQ(
            nodra_register_notification(listener, "slave-lost", 7, 0, on_trap, evm, nullptr, nullptr, 0, &listen_id),
            0u);
    }
    void TearDown() override
    {
        tessel_proto_edm_trap_cleanup();
        nodra_notification_unregister(listen_id);
        nodra_unbind(listener);
        ptp_debug_cleanup();
        event_manager_destroy(evm);
        EXPECT_EQ(nodra_test_open_bindings(), 0u);
        nodra_test_reset();
    }
    void settle()
    {
        ASSERT_EQ(nodra_test_sync(evm), 0u);
        evm_run_until_idle(evm);
    }
    void enable(const char *item, bool on)
    {
        nodra_commit_td *commit = nullptr;
        ASSERT_EQ(nodra_commit_create(&commit), 0u);
        const std::string path = std::string("/cfg/gl/snmp/enable/traps/ptp/") + item;
        const uint32_t one = 1;
        if (on) {
            ASSERT_EQ(nodra_commit_set(commit, path.c_str(), NODRA_ITEM_DATATYPE_UINT32, &one, sizeof one), 0u);
        } else {
            ASSERT_EQ(nodra_commit_delete(commit, path.c_str()), 0u);
        }
        nodra_commit_result_td result;
        ASSERT_EQ(nodra_commit_apply(commit, &result), 0u);
        nodra_commit_free(commit);
        settle();
    }
    void raise(uint8_t peer, int present)
    {
        const ptp_address_type local = ipv4(1);
        const ptp_address_type remote = ipv4(peer);
        tessel_proto_edm_trap_generate_slave_lost(&local, &remote, present);
        settle();
    }
    static inline std::string library;
    event_mgr_type *evm = nullptr;
    nodra_conn_td *listener = nullptr;
    uint32_t listen_id = 0;
};

// First: the library's presence is remembered once it was found.
TEST_F(SlaveLostTrapTest, WithoutTheDatabaseLibraryInitFailsAndNothingIsRaised)
{
    nodra_test_set_client_library_path("/nonexistent/libnodra.so");
    EXPECT_EQ(tessel_proto_edm_trap_init(evm), 0x8081c200u);
    nodra_test_set_client_library_path(library.c_str());
    raise(7, 0);
    EXPECT_TRUE(seen.empty());
}

TEST_F(SlaveLostTrapTest, RaisedOncePerChangeOnlyWhileATrapIsEnabled)
{
    ASSERT_EQ(tessel_proto_edm_trap_init(evm), 0u);
    settle();
    raise(7, 0);
    EXPECT_TRUE(seen.empty()) << "no trap is enabled";

    enable("slave-lost", true);
    raise(7, 0);
    raise(8, 1);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].item, "slave-lost");
    EXPECT_EQ(seen[0].present, 0u);
    EXPECT_TRUE(seen[0].has_addr);
    EXPECT_EQ(seen[0].addr_encap, static_cast<uint32_t>(PTP_ENCAP_IPV4));
    ASSERT_TRUE(seen[0].has_peer);
    ptp_bag_address conv{};
    const ptp_address_type a7 = ipv4(7);
    ptp_address_to_bag(&a7, &conv);
    EXPECT_EQ(seen[0].peer_ipv4, conv.value.IPv4Address);
    EXPECT_EQ(seen[1].present, 1u);

    enable("slave-lost", false);
    seen.clear();
    raise(7, 0);
    EXPECT_TRUE(seen.empty()) << "the removed item turns the trap off";

    enable("all-slaves-lost", true);
    raise(9, 0);
    EXPECT_EQ(seen.size(), 1u) << "either trap enables the notification";
}

TEST_F(SlaveLostTrapTest, EnabledBeforeStartIsReadFromTheReplay)
{
    enable("slave-lost", true);
    ASSERT_EQ(tessel_proto_edm_trap_init(evm), 0u);
    settle();
    raise(7, 0);
    EXPECT_EQ(seen.size(), 1u);
}

} // namespace
