#include "ptp_platform_intf_capability.h"

#include <gtest/gtest.h>

#include "sysmgr_test.h"

namespace {

class IntfCapsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sysmgr_test_reset();
        ptp_platform_intf_capability_test_reset();
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

TEST_F(IntfCapsTest, EachNodeAnswersItsOwnCapabilities)
{
    struct node_case {
        uint32_t node;
        uint16_t flags;
        uint8_t log_rate;
    };
    for (const node_case &c : {node_case{0x010, 0x03ff, 7}, node_case{0x020, 0x01bd, 6}}) {
        sysmgr_test_set_node(c.node);
        ptp_platform_intf_capability_ctx_type *ctx = nullptr;
        uint32_t version = 9;
        ASSERT_EQ(ptp_platform_intf_capability_init(&ctx, &version), 0u);
        EXPECT_EQ(version, 2u);
        ptp_platform_intf_capability_type caps{};
        ASSERT_EQ(ptp_platform_intf_capability_get(&caps), 0u);
        EXPECT_EQ(caps.flags, c.flags);
        EXPECT_EQ(caps.log_max_rate, c.log_rate);
        ptp_platform_intf_capability_shutdown(ctx);
        EXPECT_EQ(ptp_platform_intf_capability_get(&caps), PTP_PLATFORM_INTF_CAPS_ERR_NOT_INIT);
    }
}

TEST_F(IntfCapsTest, WithoutANodeOrWithAnInjectedFailureInitFails)
{
    ptp_platform_intf_capability_ctx_type *ctx = nullptr;
    uint32_t version = 0;
    EXPECT_EQ(ptp_platform_intf_capability_init(&ctx, &version), PTP_PLATFORM_INTF_CAPS_ERR_NO_NODE);
    sysmgr_test_set_node(0x010);
    ptp_platform_intf_capability_test_fail_init(PTP_PLATFORM_INTF_CAPS_ERR_INVALID);
    EXPECT_EQ(ptp_platform_intf_capability_init(&ctx, &version), PTP_PLATFORM_INTF_CAPS_ERR_INVALID);
    ptp_platform_intf_capability_test_set(0, 0x0009, 4);
    ASSERT_EQ(ptp_platform_intf_capability_init(&ctx, &version), 0u);
    EXPECT_EQ(version, 0u);
    ptp_platform_intf_capability_type caps{};
    ASSERT_EQ(ptp_platform_intf_capability_get(&caps), 0u);
    EXPECT_EQ(caps.flags, 0x0009);
    ptp_platform_intf_capability_shutdown(ctx);
}

} // namespace
