#include "sysmgr.h"

#include <gtest/gtest.h>

#include <vector>

#include "evm_test.h"
#include "sysmgr_test.h"

namespace {

class SysmgrTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sysmgr_test_reset();
        std::string error;
        ASSERT_EQ(chassis_load(chassis_sample_path(), &desc, &error), 0u) << error;
        sysmgr_test_set_chassis(desc);
    }
    void TearDown() override
    {
        sysmgr_test_reset();
        chassis_free(desc);
    }
    chassis_desc_type *desc = nullptr;
};

TEST_F(SysmgrTest, NodeIdentityComesFromTheChassis)
{
    struct node_case {
        uint32_t id;
        bool rp;
        bool kvolm;
        const char *name;
    };
    for (const node_case &c :
         {node_case{0x100, true, true, "0/RP0/CPU0"}, node_case{0x010, false, false, "0/1/CPU0"}}) {
        sysmgr_test_set_node(c.id);
        uint32_t id = 0;
        ASSERT_EQ(platform_get_my_nodeid(&id), 0u);
        EXPECT_EQ(id, c.id);
        EXPECT_EQ(platform_am_i_rp(), c.rp);
        EXPECT_EQ(platform_am_i_lc(), !c.rp);
        bool kvolm = !c.kvolm;
        ASSERT_EQ(lrd_am_i_kvolm(&kvolm), 0u);
        EXPECT_EQ(kvolm, c.kvolm);
        char name[32];
        ASSERT_EQ(nodeid_to_str_external(c.id, name, sizeof name), 0u);
        EXPECT_STREQ(name, c.name);
    }
    char small[4];
    EXPECT_EQ(nodeid_to_str_external(0x100, small, sizeof small), SYSMGR_ERR_TOO_SMALL);
    EXPECT_EQ(nodeid_to_str_external(0x999, small, sizeof small), SYSMGR_ERR_NO_NODE);
    uint32_t rack = 9, slot = 9, cpu = 9;
    ASSERT_EQ(nodeid_extract_fields(0x30121, &rack, &slot, &cpu), 0u);
    EXPECT_EQ(rack, 3u);
    EXPECT_EQ(slot, 0x12u);
    EXPECT_EQ(cpu, 1u);
    uint8_t mac[6];
    ASSERT_EQ(lrd_get_lr_mac_address(mac), 0u);
    EXPECT_EQ(mac[5], 1);
}

TEST_F(SysmgrTest, WithoutANodeNothingIsAnswered)
{
    uint32_t id = 0;
    EXPECT_EQ(platform_get_my_nodeid(&id), SYSMGR_ERR_NO_NODE);
    bool kvolm = false;
    EXPECT_EQ(lrd_am_i_kvolm(&kvolm), SYSMGR_ERR_NO_NODE);
    EXPECT_FALSE(platform_am_i_lc());
    EXPECT_FALSE(platform_am_i_rp());
}

int on_lr(const sysmgr_lr_event_type *event, void *context)
{
    static_cast<std::vector<sysmgr_lr_event_type> *>(context)->push_back(*event);
    return 0;
}

TEST_F(SysmgrTest, LogicalRouterEventsArriveOnTheRegisteredManagerAndMakeTheNodeKvolm)
{
    sysmgr_test_set_node(0x010);
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    std::vector<sysmgr_lr_event_type> seen;
    ASSERT_EQ(sysmgr_set_target_node(0), 0u);
    ASSERT_EQ(sysmgr_register_lr_event(evm, SYSMGR_LR_EVENT_KVOLM_ACTIVE, on_lr, &seen), 0u);
    sysmgr_test_fire_lr_event(3); // nobody registered for it
    sysmgr_test_fire_lr_event(SYSMGR_LR_EVENT_KVOLM_ACTIVE);
    EXPECT_TRUE(seen.empty());
    evm_run_until_idle(evm);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, SYSMGR_LR_EVENT_KVOLM_ACTIVE);
    EXPECT_EQ(seen[0].node_id, 0x010u);
    bool kvolm = false;
    ASSERT_EQ(lrd_am_i_kvolm(&kvolm), 0u);
    EXPECT_TRUE(kvolm);
    EXPECT_EQ(sysmgr_test_target_node(), 0u);
    EXPECT_EQ(sysmgr_proc_ready(), 0u);
    EXPECT_EQ(sysmgr_proc_exiting(), 0u);
    EXPECT_EQ(sysmgr_test_ready_count(), 1u);
    EXPECT_EQ(sysmgr_test_exiting_count(), 1u);
    sysmgr_test_reset();
    event_manager_destroy(evm);
}

} // namespace
