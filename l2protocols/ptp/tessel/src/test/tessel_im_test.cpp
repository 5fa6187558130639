// The interface-manager client against the platform's interface manager: handles resolved,
// attributes registered by encapsulation, attribute, state and address changes applied to the
// IPC records, a dropped connection and its return.
#include "tessel_im.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "chassis.h"
#include "evm.h"
#include "evm_test.h"
#include "imc_test.h"
#include "ptp_platform_intf_capability.h"
#include "qor_log.h"
#include "sysmgr_test.h"
#include "tessel_if_config.h"
#include "tessel_intf_caps.h"
#include "tessel_ipc_db.h"
#include "tessel_port_mgr.h"
#include "tessel_stats.h"

extern std::vector<std::string> im_fake_calls;

namespace {

const char *CHASSIS = R"(
[[node]]
name = "0/2/CPU0"
id = 0x20
role = "lc"
[[node.interface]]
name = "Gi0/2/0/0"
handle = 0x02000100
type = 15
mac = "02:00:00:02:01:00"
ipv4 = ["10.2.0.1", "10.2.9.1"]
ipv6 = ["2001:db8::1", "2001:db8::2"]
vrf = 0
[[node.interface]]
name = "Gi0/2/0/1"
handle = 0x02000101
type = 15
mac = "02:00:00:02:01:01"
ipv4 = ["10.2.1.1"]
)";

constexpr uint32_t GI0 = 0x02000100;
constexpr uint64_t ENABLED = 1ull << 27;

uint32_t ip4(uint8_t a, uint8_t b, uint8_t c, uint8_t d)
{
    const uint8_t bytes[4] = {a, b, c, d};
    uint32_t v;
    memcpy(&v, bytes, 4);
    return v;
}

uint32_t count(const std::string &what)
{
    return static_cast<uint32_t>(std::count(im_fake_calls.begin(), im_fake_calls.end(), what));
}

class Im : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::string error;
        ASSERT_EQ(chassis_load_text(CHASSIS, "test", &desc, &error), 0u) << error;
    }
    void SetUp() override
    {
        qor_errmsg_set_syslog(false);
        sysmgr_test_reset();
        sysmgr_test_set_chassis(desc);
        sysmgr_test_set_node(0x20);
        imc_test_reset();
        im_fake_calls.clear();
        tessel_stats_clear_node_event_counters();
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_EQ(tessel_ipc_db_init(), 0u);
    }
    void TearDown() override
    {
        tessel_im_shutdown();
        tessel_intf_caps_shutdown();
        ptp_platform_intf_capability_test_reset();
        while (tessel_ipc_db_get_count() > 0) {
            tessel_ipc_idb_type *first = nullptr;
            tessel_ipc_db_walk(
                [](tessel_ipc_idb_type *idb, void *c) {
                    *static_cast<tessel_ipc_idb_type **>(c) = idb;
                    return false;
                },
                &first, nullptr, false);
            tessel_ipc_db_delete(first);
        }
        tessel_ipc_db_destroy();
        event_manager_destroy(evm);
        imc_test_reset();
        sysmgr_test_reset();
    }
    void caps(uint16_t flags)
    {
        ptp_platform_intf_capability_test_set(2, flags, 4);
        ASSERT_EQ(tessel_intf_caps_init(evm), 0u);
    }
    tessel_ipc_idb_type *record(const char *name, uint32_t encap)
    {
        tessel_ipc_idb_type *idb = nullptr;
        EXPECT_EQ(tessel_ipc_db_create(name, &idb), 0u);
        idb->flags = ENABLED;
        idb->applied_config.encap = encap;
        idb->applied_ipv4_addr = 0xFFFFFFFFu;
        return idb;
    }
    void run() { evm_run_until_idle(evm); }
    uint32_t node_event(uint32_t type) { return tessel_stats_get_node_event_counters()->node[type]; }
    static chassis_desc_type *desc;
    event_mgr_type *evm = nullptr;
};
chassis_desc_type *Im::desc;

// A configured interface is known by name: once connected, its handle is found, its attributes
// registered, and the manager's values land in the record.
TEST_F(Im, ConnectResolvesRegistersAndApplies)
{
    caps(0x00ff); // no platform adjacency: an IPv4 port needs the Ethernet details as well
    tessel_ipc_idb_type *idb = record("Gi0/2/0/0", 2);
    ASSERT_EQ(tessel_im_init(evm), 0u);
    run();
    EXPECT_TRUE(tessel_im_is_connected());
    EXPECT_NE(tessel_im_ctrl_ctx(), nullptr);
    EXPECT_EQ(idb->header.ifhandle, GI0);
    EXPECT_NE(idb->flags & TESSEL_IPC_FLAG_UPDATE_IFHANDLE, 0u);
    EXPECT_NE(idb->flags & TESSEL_IPC_FLAG_IM_REGISTERED, 0u);
    EXPECT_EQ(idb->registered_encap, 2u);
    EXPECT_EQ(imc_test_registrations(GI0), 2u);
    EXPECT_EQ(idb->event_counters[TESSEL_IPC_IDB_EVENT_IFHANDLE_GET_BATCH], 1u);
    EXPECT_EQ(idb->event_counters[TESSEL_IPC_IDB_EVENT_IM_UDP_REGISTER_BATCH], 1u);
    tessel_ipc_idb_type *by_handle = nullptr;
    EXPECT_EQ(tessel_ipc_db_get_by_ifhandle(GI0, &by_handle), 0u);
    EXPECT_EQ(by_handle, idb);

    // The values: type, line state, Ethernet details, the IPv4 list (primary first) and the
    // source address taken from it.
    EXPECT_EQ(idb->if_type, 15u);
    EXPECT_EQ(idb->im_state, 3u);
    ASSERT_EQ(idb->ether_info_len, 7u);
    const uint8_t mac[6] = {0x02, 0, 0, 0x02, 0x01, 0};
    EXPECT_EQ(memcmp(idb->ether_info, mac, 6), 0);
    ASSERT_EQ(idb->ipv4_addr_count, 2u);
    EXPECT_EQ(idb->ipv4_addr_list[0], ip4(10, 2, 0, 1));
    EXPECT_EQ(idb->ipv4_addr_list[1], ip4(10, 2, 9, 1));
    EXPECT_EQ(idb->applied_ipv4_addr, ip4(10, 2, 0, 1));
    const uint64_t set = TESSEL_IPC_FLAG_UPDATE_IM_STATE | TESSEL_IPC_FLAG_UPDATE_ETHER_INFO |
                         TESSEL_IPC_FLAG_UPDATE_IP_ADDRESS | TESSEL_IPC_FLAG_IPV4_LIST_CHANGED |
                         TESSEL_IPC_FLAG_UPDATE_VRF_ID | TESSEL_IPC_FLAG_VRF_ID_KNOWN |
                         TESSEL_IPC_FLAG_ETHER_INFO_KNOWN | TESSEL_IPC_FLAG_UPDATE_IF_TYPE;
    EXPECT_EQ(idb->flags & set, set);
    EXPECT_GE(count("if_update_add"), 1u);
    EXPECT_GE(count("if_update_flush"), 1u);
    EXPECT_GE(count("db_sync_check"), 1u);
    EXPECT_EQ(node_event(TESSEL_NODE_EVENT_IM_BINDED), 1u);
    EXPECT_EQ(node_event(TESSEL_NODE_EVENT_IFHANDLE_BATCH_GOT), 1u);
}

// Line state and address changes arrive as notifications; all addresses gone leaves one entry
// of all ones, and a configured source address wins over the interface's.
TEST_F(Im, StateAndAddressChanges)
{
    caps(0x01ff);
    tessel_ipc_idb_type *idb = record("Gi0/2/0/0", 2);
    ASSERT_EQ(tessel_im_init(evm), 0u);
    run();
    EXPECT_EQ(imc_test_registrations(GI0), 1u) << "the platform resolves adjacencies: IP attributes only";

    idb->flags &= ENABLED | TESSEL_IPC_FLAG_IM_REGISTERED | TESSEL_IPC_FLAG_VRF_ID_KNOWN;
    ASSERT_EQ(imc_test_set_line_state(GI0, 2), 0u);
    run();
    EXPECT_EQ(idb->im_state, 2u);
    EXPECT_NE(idb->flags & TESSEL_IPC_FLAG_UPDATE_IM_STATE, 0u);

    ASSERT_EQ(imc_test_set_ipv4(GI0, {}), 0u);
    run();
    ASSERT_EQ(idb->ipv4_addr_count, 1u);
    EXPECT_EQ(idb->ipv4_addr_list[0], 0xFFFFFFFFu);
    EXPECT_EQ(idb->applied_ipv4_addr, 0xFFFFFFFFu);

    idb->applied_config.source_ip.enable = 1;
    idb->applied_config.source_ip.address = ip4(192, 0, 2, 7);
    ASSERT_EQ(imc_test_set_ipv4(GI0, {{10, 2, 5, 5}}), 0u);
    run();
    ASSERT_EQ(idb->ipv4_addr_count, 1u);
    EXPECT_EQ(idb->ipv4_addr_list[0], ip4(10, 2, 5, 5));
    EXPECT_EQ(idb->applied_ipv4_addr, ip4(192, 0, 2, 7));
    idb->flags &= ~TESSEL_IPC_FLAG_UPDATE_IP_ADDRESS;
    ASSERT_EQ(imc_test_set_ipv4(GI0, {{10, 2, 6, 6}}), 0u);
    run();
    EXPECT_EQ(idb->ipv4_addr_list[0], ip4(10, 2, 6, 6));
    EXPECT_EQ(idb->flags & TESSEL_IPC_FLAG_UPDATE_IP_ADDRESS, 0u) << "the source address did not change";
}

// IPv6: room for one address fewer than reported when more than one is reported; nothing
// reported leaves one all-zero address.
TEST_F(Im, Ipv6AddressList)
{
    caps(0x01ff);
    tessel_ipc_idb_type *idb = record("Gi0/2/0/0", 3);
    ASSERT_EQ(tessel_im_init(evm), 0u);
    run();
    ASSERT_EQ(idb->ipv6_addr_count, 1u);
    const uint8_t first[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(memcmp(idb->ipv6_addr_list[0], first, 16), 0);
    EXPECT_EQ(memcmp(idb->applied_ipv6_addr, first, 16), 0);
    ASSERT_EQ(imc_test_set_ipv6(GI0, {}), 0u);
    run();
    ASSERT_EQ(idb->ipv6_addr_count, 1u);
    const uint8_t zero[16] = {};
    EXPECT_EQ(memcmp(idb->ipv6_addr_list[0], zero, 16), 0);
    EXPECT_EQ(memcmp(idb->applied_ipv6_addr, zero, 16), 0);
}

// From IPv4 to Ethernet: the IP (and, without platform adjacency, Ethernet) attributes go, the
// line state is unknown until the Ethernet registration reports it.
TEST_F(Im, EncapsulationChangeReregisters)
{
    caps(0x00ff);
    tessel_ipc_idb_type *idb = record("Gi0/2/0/0", 2);
    ASSERT_EQ(tessel_im_init(evm), 0u);
    run();
    ASSERT_EQ(imc_test_registrations(GI0), 2u);
    idb->applied_config.encap = 1;
    tessel_im_if_enable(idb);
    EXPECT_EQ(idb->im_state, TESSEL_IM_STATE_REREGISTERING);
    EXPECT_EQ(idb->event_counters[TESSEL_IPC_IDB_EVENT_IM_UDP_UNREGISTER_BATCH], 1u);
    EXPECT_EQ(idb->event_counters[TESSEL_IPC_IDB_EVENT_IM_ETHER_REGISTER_BATCH], 1u);
    tessel_im_process_batches();
    run();
    EXPECT_EQ(imc_test_registrations(GI0), 1u);
    EXPECT_EQ(idb->registered_encap, 1u);
    EXPECT_EQ(idb->im_state, 3u) << "the Ethernet registration reported the line state";

    // Disabled: unregistered and its address lists freed.
    tessel_im_if_disable(idb);
    tessel_im_process_batches();
    run();
    EXPECT_EQ(imc_test_registrations(GI0), 0u);
    EXPECT_EQ(idb->ipv4_addr_list, nullptr);
    EXPECT_EQ(idb->ipv4_addr_count, 0u);
}

// The manager goes away: the client binds again and registers every enabled interface again.
TEST_F(Im, DroppedConnectionReturnsAndReregisters)
{
    caps(0x01ff);
    tessel_ipc_idb_type *idb = record("Gi0/2/0/0", 2);
    record("Gi0/2/0/1", 1);
    ASSERT_EQ(tessel_im_init(evm), 0u);
    run();
    ASSERT_EQ(imc_test_registrations(GI0), 1u);
    ASSERT_EQ(imc_test_registrations(0x02000101), 1u);

    imc_test_drop_connection();
    run();
    EXPECT_TRUE(tessel_im_is_connected());
    EXPECT_EQ(node_event(TESSEL_NODE_EVENT_IM_UNBINDED), 1u);
    EXPECT_EQ(node_event(TESSEL_NODE_EVENT_IM_BINDED), 2u);
    EXPECT_EQ(node_event(TESSEL_NODE_EVENT_IM_NOTIFY_REGISTERED), 2u);
    EXPECT_EQ(imc_test_registrations(GI0), 1u);
    EXPECT_EQ(imc_test_registrations(0x02000101), 1u);
    EXPECT_NE(idb->flags & TESSEL_IPC_FLAG_IM_REGISTERED, 0u);

    // It works as before: a change reaches the record.
    ASSERT_EQ(imc_test_set_line_state(GI0, 2), 0u);
    run();
    EXPECT_EQ(idb->im_state, 2u);
}

// An interface the manager does not know fails its resolution; the connection is errored and
// comes back, and the others are resolved.
TEST_F(Im, UnknownInterfaceErrorsTheConnection)
{
    caps(0x01ff);
    tessel_ipc_idb_type *ghost = record("Gi9/9/9/9", 2);
    ASSERT_EQ(tessel_im_init(evm), 0u);
    run();
    EXPECT_EQ(ghost->header.ifhandle, 0u);
    EXPECT_GE(node_event(TESSEL_NODE_EVENT_IFHANDLE_BATCH_FAILED), 1u);
    // Removing it clears it from the resolution batch: nothing is left to resolve.
    tessel_im_if_disable(ghost);
    tessel_ipc_db_delete(ghost);
    tessel_ipc_idb_type *idb = record("Gi0/2/0/1", 2);
    tessel_im_if_enable(idb);
    tessel_im_process_batches();
    run();
    EXPECT_EQ(idb->header.ifhandle, 0x02000101u);
}

} // namespace
