// The node list with the database client library present.
#include "ptp_nodes.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "nodra_test.h"

namespace {

class PtpNodesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char name[] = "/tmp/ptp_nodes_libXXXXXX";
        const int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        close(fd);
        library_ = name;
    }
    static void TearDownTestSuite() { unlink(library_.c_str()); }

    void SetUp() override
    {
        nodra_test_reset();
        nodra_test_set_client_library_path(library_.c_str());
    }
    void TearDown() override
    {
        // Every path releases its binding and its list.
        EXPECT_EQ(nodra_test_open_bindings(), 0u);
        EXPECT_EQ(nodra_test_open_lists(), 0u);
        nodra_test_reset();
    }

    static void seed_nodes(std::initializer_list<const char *> names)
    {
        for (const char *n : names)
            ASSERT_EQ(nodra_test_item_set(("/oper/ptp/node/" + std::string(n) + "/summary").c_str(), 7, "b", 1),
                      ZERR_OK);
    }

    // Calls the list; checks that a result without ids carries no array; returns the ids.
    static std::vector<uint32_t> nodes(zerrno expected)
    {
        uint32_t *array = reinterpret_cast<uint32_t *>(8);
        uint32_t count = 99;
        EXPECT_EQ(ptp_nodes_list(&array, &count), expected);
        std::vector<uint32_t> ids(array, array + (array != nullptr ? count : 0));
        if (count == 0) {
            EXPECT_EQ(array, nullptr);
        }
        free(array);
        return ids;
    }

    static std::string library_;
};

std::string PtpNodesTest::library_;

TEST_F(PtpNodesTest, EntriesGiveTheirIdsInNameOrder)
{
    seed_nodes({"2", "1a0", "ffffffff", "0"});
    ASSERT_EQ(nodra_test_item_set("/oper/ptp/gl/dataset/default-ds", 7, "b", 1), ZERR_OK);
    EXPECT_EQ(nodes(ZERR_OK), (std::vector<uint32_t>{0, 0x1a0, 2, 0xffffffffu}));
}

TEST_F(PtpNodesTest, NoEntriesIsSuccessWithNoArray)
{
    ASSERT_EQ(nodra_test_item_set("/oper/ptp/gl/dataset/default-ds", 7, "b", 1), ZERR_OK);
    EXPECT_TRUE(nodes(ZERR_OK).empty());
    EXPECT_GT(nodra_test_call_count(), 0u);
}

TEST_F(PtpNodesTest, NamesThatAreNoNodeIdAreSkipped)
{
    struct case_type {
        std::initializer_list<const char *> names;
        std::vector<uint32_t> ids;
    } cases[] = {
        {{"xyz", "1a0g", "0x10", "-1", "+1", "1 ", "100000000", "fffffffff"}, {}},
        {{"zz", "1a0", "123456789", "3"}, {0x1a0, 3}},
        {{"00000000ab", "CAFE"}, {0xab, 0xcafe}},
    };
    for (const auto &c : cases) {
        nodra_test_item_remove("/oper/ptp/node/");
        seed_nodes(c.names);
        EXPECT_EQ(nodes(ZERR_OK), c.ids) << *c.names.begin();
    }
}

TEST_F(PtpNodesTest, DatabaseFailureGivesItsCodeAndNoArray)
{
    seed_nodes({"1", "2", "3"});
    constexpr zerrno failure = 0x40818e00u;
    struct case_type {
        nodra_test_op op;
        uint32_t after; // calls of op that succeed first
    } cases[] = {
        {nodra_test_op::bind, 0},
        {nodra_test_op::list, 0},
        {nodra_test_op::list_next, 0},
        {nodra_test_op::list_next, 2}, // ids already read are dropped with the array
    };
    for (const auto &c : cases) {
        nodra_test_fail(c.op, failure, 1, c.after);
        EXPECT_TRUE(nodes(failure).empty()) << static_cast<int>(c.op) << "/" << c.after;
        EXPECT_EQ(nodra_test_open_bindings(), 0u);
        EXPECT_EQ(nodra_test_open_lists(), 0u);
    }
    EXPECT_EQ(nodes(ZERR_OK), (std::vector<uint32_t>{1, 2, 3}));
}

TEST_F(PtpNodesTest, FoundLibraryIsRemembered)
{
    seed_nodes({"5"});
    EXPECT_EQ(nodes(ZERR_OK), std::vector<uint32_t>{5});
    nodra_test_set_client_library_path("/nonexistent/ptp_nodes_test/libnodra.so");
    EXPECT_EQ(nodes(ZERR_OK), std::vector<uint32_t>{5});
}

TEST_F(PtpNodesTest, NullOutputsAreRefused)
{
    uint32_t *array = nullptr;
    uint32_t count = 0;
    EXPECT_EQ(ptp_nodes_list(nullptr, &count), static_cast<zerrno>(EINVAL));
    EXPECT_EQ(ptp_nodes_list(&array, nullptr), static_cast<zerrno>(EINVAL));
    EXPECT_EQ(nodra_test_call_count(), 0u);
}

} // namespace
