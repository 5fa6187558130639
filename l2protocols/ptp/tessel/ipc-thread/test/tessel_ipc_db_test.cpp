#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tessel_ipc_db.h"

extern bool fake_is_proto_thread;

namespace {

class IpcDbTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake_is_proto_thread = false;
        ASSERT_EQ(tessel_ipc_db_init(), ZERR_OK);
    }
    void TearDown() override
    {
        fake_is_proto_thread = false;
        std::vector<tessel_ipc_idb_type *> all;
        tessel_ipc_db_walk(
            [](tessel_ipc_idb_type *idb, void *c) {
                static_cast<std::vector<tessel_ipc_idb_type *> *>(c)->push_back(idb);
                return true;
            },
            &all, nullptr, false);
        for (tessel_ipc_idb_type *idb : all) {
            tessel_ipc_db_delete(idb);
        }
        EXPECT_EQ(tessel_ipc_db_get_count(), 0u);
        tessel_ipc_db_destroy();
    }
};

TEST_F(IpcDbTest, RecordsByNameAndHandleWithTheirAddressLists)
{
    EXPECT_EQ(tessel_ipc_db_get_count(), 0u);
    tessel_ipc_idb_type *a = nullptr;
    ASSERT_EQ(tessel_ipc_db_create("Gi0/0/0/1", &a), ZERR_OK);
    EXPECT_EQ(a->ipv4_addr_list, nullptr);
    EXPECT_EQ(a->ipv4_addr_count, 0u);
    EXPECT_EQ(a->ipv6_addr_list, nullptr);
    tessel_ipc_db_add_ifhandle(0x77, a);
    tessel_ipc_idb_type *b = nullptr;
    ASSERT_EQ(tessel_ipc_db_create("Gi0/0/0/0", &b), ZERR_OK);
    EXPECT_EQ(tessel_ipc_db_get_count(), 2u);

    // The protocol thread may read while the IPC thread waits on it.
    fake_is_proto_thread = true;
    tessel_ipc_idb_type *found = nullptr;
    EXPECT_EQ(tessel_ipc_db_get_by_ifhandle(0x77, &found), ZERR_OK);
    EXPECT_EQ(found, a);
    EXPECT_EQ(tessel_ipc_db_get_by_ifname("Gi0/0/0/0", &found), ZERR_OK);
    EXPECT_EQ(found, b);
    EXPECT_EQ(tessel_ipc_db_get_by_ifhandle(0x78, &found), PTP_ZERR_DB_NO_ENTRY);
    EXPECT_DEATH(tessel_ipc_db_delete(a), "tessel_thread_ctrl_is_proto_thread");
    fake_is_proto_thread = false;

    // Deleting frees the address lists with the record (checked by the sanitizer build).
    a->ipv4_addr_list = static_cast<uint32_t *>(std::calloc(3, sizeof(uint32_t)));
    a->ipv4_addr_count = 3;
    a->ipv6_addr_list = static_cast<uint8_t(*)[16]>(std::calloc(2, 16));
    a->ipv6_addr_count = 2;
    tessel_ipc_db_delete(a);
    EXPECT_EQ(tessel_ipc_db_get_by_ifhandle(0x77, &found), PTP_ZERR_DB_NO_ENTRY);
    EXPECT_EQ(tessel_ipc_db_get_count(), 1u);
}

} // namespace
