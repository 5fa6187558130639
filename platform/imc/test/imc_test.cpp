#include "imc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "evm_test.h"
#include "imc_test.h"
#include "sysmgr_test.h"

namespace {

constexpr uint32_t GI0 = 0x01000100; // Gi0/1/0/0 of node 0x010 in the sample chassis
constexpr uint32_t GI1 = 0x01000101;

// One decoded entry of a notification.
struct entry_type {
    uint32_t handle = 0;
    uint32_t type = 0;
    uint16_t protocol = 0;
    std::vector<std::pair<uint16_t, std::vector<uint8_t>>> attrs;
};

struct received_type {
    std::vector<uint32_t> kinds;
    std::vector<entry_type> entries;
};

uint32_t be32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}

void on_notify(const imc_notify_type *n, void *context)
{
    auto *r = static_cast<received_type *>(context);
    r->kinds.push_back(n->kind);
    const uint8_t *p = n->entries;
    for (uint32_t i = 0; i < n->count; ++i) {
        const uint32_t len = be32(p);
        entry_type e;
        e.handle = be32(p + 4);
        e.type = be32(p + 8);
        e.protocol = static_cast<uint16_t>(p[12] << 8 | p[13]);
        const uint16_t attrs = static_cast<uint16_t>(p[14] << 8 | p[15]);
        const uint8_t *a = p + 16;
        for (uint16_t k = 0; k < attrs; ++k) {
            const uint16_t id = static_cast<uint16_t>(a[0] << 8 | a[1]);
            const uint16_t alen = static_cast<uint16_t>(a[2] << 8 | a[3]);
            e.attrs.emplace_back(id, std::vector<uint8_t>(a + 4, a + 4 + alen));
            a += 4 + alen;
        }
        r->entries.push_back(e);
        p += len;
    }
}

int open_cb(event_conn_type *, void *context)
{
    auto **ctx = static_cast<imc_ctx_type **>(context);
    const imc_bind_params_type params{9, 0};
    int32_t id = -1;
    if (imc_control_server_bind(&params, 1, ctx) != 0 || imc_conn_ctx_to_connid(*ctx, &id) != 0)
        return -1;
    return id;
}

int notify_cb(event_conn_type *, uint32_t event, void *context)
{
    static_cast<std::vector<uint32_t> *>(context)->push_back(event);
    return 0;
}

class ImcTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sysmgr_test_reset();
        imc_test_reset();
        std::string error;
        ASSERT_EQ(chassis_load(chassis_sample_path(), &desc, &error), 0u) << error;
        sysmgr_test_set_chassis(desc);
        sysmgr_test_set_node(0x010);
        evm = event_create_manager(nullptr, nullptr, 0);
        const imc_bind_params_type params{9, 0};
        ASSERT_EQ(imc_control_server_bind(&params, 1, &ctx), 0u);
        ASSERT_EQ(iparm_al_c_init(), 0u);
    }
    void TearDown() override
    {
        imc_test_reset();
        event_manager_destroy(evm);
        sysmgr_test_reset();
        chassis_free(desc);
    }
    imc_attr_reg_type element(uint32_t handle, uint16_t protocol, const uint16_t *attrs)
    {
        imc_attr_reg_type e{};
        e.ifhandle = handle;
        e.all_nodes = 0xFF;
        e.protocol[0] = protocol == IMC_PROTO_IPV4 ? 12 : protocol == IMC_PROTO_IPV6 ? 19 : 0;
        e.protocol[1] = protocol;
        e.attr_count = 2;
        e.attrs = attrs;
        return e;
    }
    chassis_desc_type *desc = nullptr;
    event_mgr_type *evm = nullptr;
    imc_ctx_type *ctx = nullptr;
};

TEST_F(ImcTest, InterfacesAreFoundByNameInTheNodesTable)
{
    char names[3][IMC_NAME_SIZE] = {"Gi0/1/0/1", "Gi0/1/0/0", "Gi0/2/0/0"}; // the last is another node's
    uint32_t handles[3];
    zerrno errors[3];
    EXPECT_EQ(imc_interface_find(ctx, names, 3, handles, errors), IMC_ERR_NO_INTERFACE);
    EXPECT_EQ(handles[0], GI1);
    EXPECT_EQ(handles[1], GI0);
    EXPECT_EQ(errors[2], IMC_ERR_NO_INTERFACE);
    // A name that fills its 64 bytes without a NUL is not read past.
    memset(names[0], 'x', IMC_NAME_SIZE);
    EXPECT_EQ(imc_interface_find(ctx, names, 1, handles, nullptr), IMC_ERR_NO_INTERFACE);

    uint32_t h = 0, type = 0;
    ASSERT_EQ(imc_s_interface_find(ctx, "Gi0/1/0/0", &h), 0u);
    EXPECT_EQ(h, GI0);
    ASSERT_EQ(imc_s_interface_get_type(ctx, GI0, &type), 0u);
    EXPECT_EQ(type, 15u);
    char name[16];
    ASSERT_EQ(imc_s_interface_name(ctx, GI1, name, sizeof name), 0u);
    EXPECT_STREQ(name, "Gi0/1/0/1");
    EXPECT_STREQ(imc_display_namestring(0x999, name, sizeof name), "<unknown>");
}

// A display tool's name map: the names of its node's handles while it is built, nothing before
// or after.
TEST_F(ImcTest, TheNameMapNamesTheNodesHandlesWhileItIsBuilt)
{
    char name[IMC_NAME_SIZE];
    EXPECT_EQ(im_name_from_timestamp(GI1, 0, name, sizeof name), nullptr);
    EXPECT_EQ(im_build_name_timestamp_map(nullptr), IMC_ERR_INVALID);
    ASSERT_EQ(im_build_name_timestamp_map(ctx), 0u);
    ASSERT_NE(im_name_from_timestamp(GI1, 123, name, sizeof name), nullptr);
    EXPECT_STREQ(name, "Gi0/1/0/1");
    EXPECT_EQ(im_name_from_timestamp(0x999, 123, name, sizeof name), nullptr);
    char small[4];
    ASSERT_NE(im_name_from_timestamp(GI0, 0, small, sizeof small), nullptr);
    EXPECT_STREQ(small, "Gi0");
    im_cleanup_name_timestamp_map();
    EXPECT_EQ(im_name_from_timestamp(GI1, 123, name, sizeof name), nullptr);
}

TEST_F(ImcTest, RegistrationReplaysThenStateAndAddressChangesAreNotified)
{
    received_type got;
    imc_reg_type *reg = nullptr;
    ASSERT_EQ(imc_register_callback(evm, IMC_NOTIFY_CLASS_BULK, on_notify, &got, &reg), 0u);
    static const uint16_t eth_attrs[2] = {IMC_ATTR_LINE_STATE, IMC_ATTR_ETHER};
    static const uint16_t ip_attrs[2] = {IMC_ATTR_LINE_STATE, IMC_ATTR_IP};
    const imc_attr_reg_type elements[2] = {element(GI0, 0xFFFF, eth_attrs), element(GI0, IMC_PROTO_IPV4, ip_attrs)};
    zerrno results[2];
    ASSERT_EQ(imc_attr_register(reg, IMC_ATTR_OP_REGISTER, elements, 2, results), 0u);
    evm_run_until_idle(evm);
    ASSERT_EQ(got.kinds,
              (std::vector<uint32_t>{IMC_NOTIFY_REPLAY_DONE, IMC_NOTIFY_ATTRIBUTES, IMC_NOTIFY_REPLAY_DONE}));
    ASSERT_EQ(got.entries.size(), 2u);
    EXPECT_EQ(got.entries[0].attrs[1].second,
              (std::vector<uint8_t>{0x02, 0x00, 0x5e, 0x10, 0x01, 0x00, 0})); // MAC, no tags
    iparm_al_c_list_type *list = nullptr;
    const auto &ip = got.entries[1].attrs[1].second;
    ASSERT_EQ(iparm_al_c_tlv2addr(ip.data(), static_cast<uint32_t>(ip.size()), &list), 0u);
    ASSERT_EQ(list->count, 1u);
    EXPECT_EQ(list->protocol, IMC_PROTO_IPV4);
    EXPECT_EQ(list->addrs[0].addr[3], 1);
    iparm_al_c_free(list);

    // The operator takes the line down and changes the addresses.
    got = {};
    ASSERT_EQ(imc_test_set_line_state(GI0, 2), 0u);
    ASSERT_EQ(imc_test_set_ipv4(GI0, {{10, 9, 9, 9}, {10, 9, 9, 10}}), 0u);
    ASSERT_EQ(imc_test_set_line_state(GI1, 2), 0u); // nobody registered for it
    evm_run_until_idle(evm);
    ASSERT_EQ(got.entries.size(), 3u); // line state to both registrations, addresses to the IPv4 one
    EXPECT_EQ(got.entries[0].attrs[0].second, (std::vector<uint8_t>{0, 0, 0, 2}));
    const auto &ip2 = got.entries[2].attrs[1].second;
    ASSERT_EQ(iparm_al_c_tlv2addr(ip2.data(), static_cast<uint32_t>(ip2.size()), &list), 0u);
    EXPECT_EQ(list->count, 2u);
    iparm_al_c_free(list);

    // Unregistered, nothing more arrives.
    ASSERT_EQ(imc_attr_register(reg, IMC_ATTR_OP_UNREGISTER, elements, 2, nullptr), 0u);
    EXPECT_EQ(imc_test_registrations(GI0), 0u);
    got = {};
    imc_test_set_line_state(GI0, 3);
    evm_run_until_idle(evm);
    EXPECT_TRUE(got.entries.empty());
}

TEST_F(ImcTest, ADroppedConnectionClosesTheClientsConnectionWhichOpensAgain)
{
    imc_ctx_type *conn_ctx = nullptr;
    event_conn_type *conn = nullptr;
    std::vector<uint32_t> events;
    ASSERT_EQ(event_conn_create(evm, open_cb, 14, &conn_ctx, &conn), 0u);
    ASSERT_EQ(event_conn_notify(conn, 0x7000, notify_cb, &events), 0u);
    ASSERT_EQ(event_conn_open(conn), 0u);
    evm_run_until_idle(evm);
    EXPECT_EQ(events, std::vector<uint32_t>{EVENT_CONN_UP});
    imc_ctx_type *first = conn_ctx;

    imc_test_drop_connection();
    uint32_t h = 0;
    EXPECT_EQ(imc_s_interface_find(first, "Gi0/1/0/0", &h), IMC_ERR_INVALID);
    evm_run_until_idle(evm);
    EXPECT_EQ(events, (std::vector<uint32_t>{EVENT_CONN_UP, EVENT_CONN_CLOSED, EVENT_CONN_UP}));
    EXPECT_NE(conn_ctx, first);
    EXPECT_EQ(imc_s_interface_find(conn_ctx, "Gi0/1/0/0", &h), 0u);
    event_conn_destroy(conn);
}

TEST_F(ImcTest, MalformedAddressListsAreRefused)
{
    const uint8_t short_tlv[4] = {};
    iparm_al_c_list_type *list = nullptr;
    EXPECT_EQ(iparm_al_c_tlv2addr(short_tlv, sizeof short_tlv, &list), IMC_ERR_INVALID);
    uint8_t claims_two[8 + 18] = {0, 0, 0, 0, 0, 26, 0, 2}; // says 2 addresses, holds 1
    EXPECT_EQ(iparm_al_c_tlv2addr(claims_two, sizeof claims_two, &list), IMC_ERR_INVALID);
    EXPECT_EQ(list, nullptr);
}

// The line states' names, as the agent prints a port that is not ready.
TEST(ImcStateName, NamesTheLineStatesOfTheChassis)
{
    EXPECT_STREQ(im_state_name(CHASSIS_LINE_ADMIN_DOWN), "admin-down");
    EXPECT_STREQ(im_state_name(CHASSIS_LINE_DOWN), "down");
    EXPECT_STREQ(im_state_name(CHASSIS_LINE_UP), "up");
    EXPECT_STREQ(im_state_name(0), "unknown");
    EXPECT_STREQ(im_state_name(77), "unknown");
}

} // namespace
