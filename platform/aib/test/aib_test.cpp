// The adjacency table: bind, map and registration, lookups, and notifications of changes and
// removals delivered on the client's event manager.
#include <gtest/gtest.h>

#include <vector>

#include "aib.h"
#include "aib_test.h"
#include "evm.h"
#include "evm_test.h"

namespace {

std::vector<std::pair<uint32_t, aib_adj_entry_type>> seen;

void on_notification(const aib_notification_type *n)
{
    seen.emplace_back(n->kind, *n->entry);
}

class AibTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        aib_test_reset();
        seen.clear();
        evm = event_create_manager(nullptr, nullptr, 0);
    }
    void TearDown() override
    {
        aib_test_reset();
        event_manager_destroy(evm);
    }
    event_mgr_type *evm = nullptr;
};

const uint8_t ip1[4] = {10, 0, 0, 1};
const uint8_t mac1[14] = {0, 1, 2, 3, 4, 5, 0xa, 0xb, 0xc, 0xd, 0xe, 0xf, 0x08, 0x00};

TEST_F(AibTest, BindMapRegisterLookupAndNotify)
{
    EXPECT_EQ(aib_get_shm_table(AIB_FAMILY_IPV4), nullptr);
    ASSERT_EQ(aib_server_bind(), 0u);
    ASSERT_EQ(aib_map_table(AIB_FAMILY_IPV4), 0u);
    EXPECT_EQ(aib_map_table(AIB_FAMILY_IPV4), AIB_ALREADY_MAPPED);
    aib_adj_tbl_type *table = aib_get_shm_table(AIB_FAMILY_IPV4);
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(aib_register_callback_v3("PTP", evm, on_notification, AIB_FAMILY_IPV4), 0u);

    aib_adj_entry_type e{};
    EXPECT_EQ(aib_client_adj_tbl_lookup(table, 7, AIB_FAMILY_IPV4, ip1, 4, &e), static_cast<zerrno>(ENOENT));
    aib_test_set(7, ip1, mac1, sizeof mac1);
    aib_test_set(7, ip1, mac1, sizeof mac1); // the same rewrite again is no change
    ASSERT_EQ(aib_client_adj_tbl_lookup(table, 7, AIB_FAMILY_IPV4, ip1, 4, &e), 0u);
    EXPECT_EQ(e.rewrite_len, 14u);
    EXPECT_EQ(aib_client_adj_tbl_lookup(table, 8, AIB_FAMILY_IPV4, ip1, 4, &e), static_cast<zerrno>(ENOENT));
    EXPECT_TRUE(seen.empty()); // delivered on the client's event manager only
    aib_test_remove(7, ip1);
    evm_run_until_idle(evm);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].first, AIB_NOTIFICATION_UPDATE);
    EXPECT_EQ(seen[1].first, AIB_NOTIFICATION_DELETE);
    EXPECT_EQ(seen[1].second.rewrite_len, 14u);

    aib_server_unbind();
    EXPECT_EQ(aib_test_client_count(), 0u);
    EXPECT_EQ(aib_get_shm_table(AIB_FAMILY_IPV4), nullptr);
}

TEST_F(AibTest, InjectedFailures)
{
    aib_test_fail(aib_test_call::bind, 5);
    EXPECT_EQ(aib_server_bind(), 5u);
    ASSERT_EQ(aib_server_bind(), 0u);
    aib_test_fail(aib_test_call::map, 6);
    EXPECT_EQ(aib_map_table(AIB_FAMILY_IPV4), 6u);
    ASSERT_EQ(aib_map_table(AIB_FAMILY_IPV4), 0u);
    aib_test_fail(aib_test_call::get_table, 1);
    EXPECT_EQ(aib_get_shm_table(AIB_FAMILY_IPV4), nullptr);
    EXPECT_NE(aib_get_shm_table(AIB_FAMILY_IPV4), nullptr);
    aib_test_fail(aib_test_call::register_callback, 7);
    EXPECT_EQ(aib_register_callback_v3("PTP", evm, on_notification, AIB_FAMILY_IPV4), 7u);
}

} // namespace
