#include "issul.h"

#include <gtest/gtest.h>

#include "evm_test.h"
#include "sysmgr_test.h"

namespace {

struct notice_log {
    int count = 0;
    uint32_t last = 0;
};

void on_role(void *context, uint32_t role)
{
    auto *log = static_cast<notice_log *>(context);
    log->count++;
    log->last = role;
}

class IssulTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        issul_test_reset();
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_NE(evm, nullptr);
        ASSERT_EQ(issul_init(evm, "Test", &h), 0u);
    }
    void TearDown() override
    {
        issul_fini(h);
        event_manager_destroy(evm);
    }
    event_mgr_type *evm = nullptr;
    issul_handle_type *h = nullptr;
};

TEST_F(IssulTest, RoleChangeNoticeArrivesOnTheClientsEventManager)
{
    notice_log log;
    ASSERT_EQ(issul_register_role(h, on_role, &log), 0u);
    issul_test_fire_role_change(ISSUL_ROLE_PRIMARY);
    EXPECT_EQ(log.count, 0); // not before the manager dispatches
    evm_run_until_idle(evm);
    EXPECT_EQ(log.count, 1);
    EXPECT_EQ(log.last, ISSUL_ROLE_PRIMARY);
    EXPECT_EQ(issul_get_issu_role(h), ISSUL_ROLE_PRIMARY);
}

TEST_F(IssulTest, MilestonesExistOnceRegisteredAndOnlyMoveForward)
{
    uint32_t status = 9;
    EXPECT_EQ(issul_milestone_start(h, 513), ISSUL_ERR_NO_MILESTONE);
    const issul_milestone_type ms[] = {{513, "Controller Resync"}, {514, "Thread Resync"}};
    const issul_milestone_set_type set{2, ms, "script"};
    ASSERT_EQ(issul_register_milestones(h, &set), 0u);
    EXPECT_STREQ(issul_milestone_to_string(514), "Thread Resync");
    EXPECT_STREQ(issul_test_registered_script(), "script");
    ASSERT_EQ(issul_milestone_met(h, 513), 0u);
    ASSERT_EQ(issul_milestone_start(h, 513), 0u);
    ASSERT_EQ(issul_get_milestone_status(h, 513, &status), 0u);
    EXPECT_EQ(status, ISSUL_MILESTONE_MET);
    uint32_t ready = 9;
    ASSERT_EQ(issul_am_i_issu_ready(h, &ready), 0u);
    EXPECT_EQ(ready, 0u);
    issul_milestone_met(h, 514);
    issul_milestone_met(h, ISSUL_MILESTONE_CHECKPOINT);
    ASSERT_EQ(issul_am_i_issu_ready(h, &ready), 0u);
    EXPECT_EQ(ready, 1u);
}

TEST_F(IssulTest, InjectedFailureHitsTheNextCallOnly)
{
    issul_test_set_role(ISSUL_ROLE_SECONDARY);
    issul_test_fail(issul_test_op::GET_ROLE, ISSUL_ERR_INVALID);
    EXPECT_EQ(issul_get_issu_role(h), ISSUL_ROLE_NONE);
    EXPECT_EQ(issul_get_issu_role(h), ISSUL_ROLE_SECONDARY);
    EXPECT_EQ(issul_test_calls(issul_test_op::GET_ROLE), 2u);
}

} // namespace

namespace {

// Without a role given, the role is the node's in the chassis description.
TEST(IssulChassisTest, TheRoleComesFromTheNodesRedundancy)
{
    chassis_desc_type *desc = nullptr;
    std::string error;
    ASSERT_EQ(chassis_load_text("[[node]]\nname = \"a\"\nid = 1\nrole = \"rp\"\n"
                                "[[node]]\nname = \"b\"\nid = 2\nrole = \"rp\"\nredundancy = \"standby\"\n",
                                "c.toml", &desc, &error),
              0u)
        << error;
    issul_test_reset();
    sysmgr_test_reset();
    EXPECT_EQ(issul_get_issu_role(nullptr), ISSUL_ROLE_NONE); // no chassis: no answer
    sysmgr_test_set_chassis(desc);
    sysmgr_test_set_node(1);
    EXPECT_EQ(issul_get_issu_role(nullptr), ISSUL_ROLE_PRIMARY);
    sysmgr_test_set_node(2);
    EXPECT_EQ(issul_get_issu_role(nullptr), ISSUL_ROLE_SECONDARY);
    issul_test_set_role(ISSUL_ROLE_PRIMARY); // a given role wins
    EXPECT_EQ(issul_get_issu_role(nullptr), ISSUL_ROLE_PRIMARY);
    issul_test_reset();
    sysmgr_test_reset();
    chassis_free(desc);
}

} // namespace
