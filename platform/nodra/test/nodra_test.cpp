#include "nodra.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "nodra_test.h"

namespace {

class NodraTest : public ::testing::Test {
protected:
    void SetUp() override { nodra_test_reset(); }
    void TearDown() override
    {
        EXPECT_EQ(nodra_test_open_bindings(), 0u);
        EXPECT_EQ(nodra_test_open_lists(), 0u);
        nodra_test_reset();
    }

    static void seed(std::initializer_list<const char *> paths)
    {
        for (const char *p : paths)
            ASSERT_EQ(nodra_test_item_set(p, 7, "x", 1), ZERR_OK) << p;
    }

    // Lists path below a fresh binding of bind_path; the names, or the error.
    static zerrno list(const char *bind_path, const char *path, const char *pattern, std::vector<std::string> *names)
    {
        nodra_conn_td *conn = nullptr;
        zerrno err = _nodra_bind(&conn, bind_path, 4);
        if (err != ZERR_OK)
            return err;
        uint32_t count = 0xffffffffu;
        nodra_list_td *l = nullptr;
        err = nodra_list(conn, path, pattern, &count, &l, 0);
        if (err == ZERR_OK) {
            const char *name = nullptr;
            for (uint32_t i = 0; i < count; ++i) {
                EXPECT_EQ(nodra_list_next(l, &name), ZERR_OK);
                names->push_back(name);
            }
            EXPECT_EQ(nodra_list_next(l, &name), NODRA_ERR_NOT_FOUND);
            EXPECT_EQ(name, nullptr);
            nodra_list_free(l);
        } else {
            EXPECT_EQ(count, 0u);
            EXPECT_EQ(l, nullptr);
        }
        EXPECT_EQ(_nodra_unbind(conn), ZERR_OK);
        return err;
    }
};

TEST_F(NodraTest, ListGivesEachNameDirectlyBelowOnceInByteOrder)
{
    seed({"/oper/ptp/node/1a0/summary", "/oper/ptp/node/1a0/interface/if/Gi0", "/oper/ptp/node/2/summary",
          "/oper/ptp/node/1a0-x", "/oper/ptp/node/10", "/oper/ptp/nodes/3/summary", "/cfg/gl/ptp/pi/enable"});

    struct case_type {
        const char *bind;
        const char *path;
        const char *pattern;
        std::vector<std::string> names;
    } cases[] = {
        {"/oper/ptp/node/", "", "", {"10", "1a0", "1a0-x", "2"}},
        {"/oper/ptp/node/", nullptr, nullptr, {"10", "1a0", "1a0-x", "2"}},
        {"/oper/ptp/", "node/", "", {"10", "1a0", "1a0-x", "2"}},
        {"/oper/ptp/", "node", "", {"10", "1a0", "1a0-x", "2"}},
        {"/oper/ptp/", "node/1a0/", "", {"interface", "summary"}},
        {"/oper/", "", "", {"ptp"}},
        {"/oper/ptp/node/", "", "1*", {"10", "1a0", "1a0-x"}},
        {"/", "", "", {"cfg", "oper"}},
    };
    for (const auto &c : cases) {
        std::vector<std::string> names;
        EXPECT_EQ(list(c.bind, c.path, c.pattern, &names), ZERR_OK) << c.bind << (c.path ? c.path : "(null)");
        EXPECT_EQ(names, c.names) << c.bind << (c.path ? c.path : "(null)");
    }
}

TEST_F(NodraTest, NothingBelowIsNotFound)
{
    seed({"/oper/ptp/node/1a0/summary", "/oper/ptp/nodes/3/summary"});
    std::vector<std::string> names;
    EXPECT_EQ(list("/oper/ptp/gl/", "", "", &names), NODRA_ERR_NOT_FOUND);
    // A leaf is not a directory, and a longer sibling name is not below.
    EXPECT_EQ(list("/oper/ptp/node/1a0/summary/", "", "", &names), NODRA_ERR_NOT_FOUND);
    EXPECT_EQ(list("/oper/ptp/no/", "", "", &names), NODRA_ERR_NOT_FOUND);
    EXPECT_EQ(list("/oper/ptp/node/", "", "z*", &names), NODRA_ERR_NOT_FOUND);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(NODRA_ERR_NOT_FOUND, 0x40818600u);
    EXPECT_STREQ(zerr_strerror(NODRA_ERR_NOT_FOUND), "No such item in the database");
}

TEST_F(NodraTest, RemoveItemOrSubtree)
{
    seed({"/oper/ptp/node/1/summary", "/oper/ptp/node/1/packet-counters", "/oper/ptp/node/2/summary"});
    EXPECT_EQ(nodra_test_item_remove("/oper/ptp/node/1/summary"), ZERR_OK);
    EXPECT_EQ(nodra_test_item_remove("/oper/ptp/node/1/summary"), NODRA_ERR_NOT_FOUND);
    std::vector<std::string> names;
    EXPECT_EQ(list("/oper/ptp/node/", "", "", &names), ZERR_OK);
    EXPECT_EQ(names, (std::vector<std::string>{"1", "2"}));

    EXPECT_EQ(nodra_test_item_remove("/oper/ptp/node/1/"), ZERR_OK);
    EXPECT_EQ(nodra_test_item_remove("/oper/ptp/node/1/"), NODRA_ERR_NOT_FOUND);
    names.clear();
    EXPECT_EQ(list("/oper/ptp/node/", "", "", &names), ZERR_OK);
    EXPECT_EQ(names, std::vector<std::string>{"2"});
}

TEST_F(NodraTest, BadPathsAndArgumentsAreRefused)
{
    for (const char *p : {"", "oper/x", "/oper/x/", "/oper//x", "/"})
        EXPECT_EQ(nodra_test_item_set(p, 1, nullptr, 0), NODRA_ERR_INVALID) << p;
    EXPECT_EQ(nodra_test_item_set(nullptr, 1, nullptr, 0), NODRA_ERR_INVALID);
    EXPECT_EQ(nodra_test_item_set("/oper/x", 1, nullptr, 4), NODRA_ERR_INVALID);

    nodra_conn_td *conn = reinterpret_cast<nodra_conn_td *>(1);
    for (const char *p : {"", "/oper/ptp", "oper/ptp/", "/oper//ptp/"}) {
        EXPECT_EQ(_nodra_bind(&conn, p, 0), NODRA_ERR_INVALID) << p;
        EXPECT_EQ(conn, nullptr);
    }
    EXPECT_EQ(_nodra_bind(&conn, nullptr, 0), NODRA_ERR_INVALID);
    EXPECT_EQ(_nodra_bind(nullptr, "/oper/", 0), NODRA_ERR_INVALID);
    EXPECT_EQ(_nodra_unbind(nullptr), NODRA_ERR_INVALID);

    seed({"/oper/ptp/node/1/summary"});
    ASSERT_EQ(_nodra_bind(&conn, "/oper/ptp/", 4), ZERR_OK);
    uint32_t count = 7;
    nodra_list_td *l = nullptr;
    for (const char *p : {"/node/", "node//"})
        EXPECT_EQ(nodra_list(conn, p, "", &count, &l, 0), NODRA_ERR_INVALID) << p;
    EXPECT_EQ(nodra_list(conn, "node/", "", nullptr, &l, 0), NODRA_ERR_INVALID);
    EXPECT_EQ(nodra_list(conn, "node/", "", &count, nullptr, 0), NODRA_ERR_INVALID);
    EXPECT_EQ(nodra_list(nullptr, "node/", "", &count, &l, 0), NODRA_ERR_INVALID);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(l, nullptr);
    const char *name = nullptr;
    EXPECT_EQ(nodra_list_next(nullptr, &name), NODRA_ERR_INVALID);
    nodra_list_free(nullptr);
    EXPECT_EQ(_nodra_unbind(conn), ZERR_OK);
}

TEST_F(NodraTest, InjectedFailuresAndCallCount)
{
    seed({"/oper/ptp/node/1/summary"});
    nodra_test_fail(nodra_test_op::bind, NODRA_ERR_NO_MEMORY, 1);
    nodra_conn_td *conn = nullptr;
    EXPECT_EQ(_nodra_bind(&conn, "/oper/ptp/node/", 4), NODRA_ERR_NO_MEMORY);
    EXPECT_EQ(nodra_test_open_bindings(), 0u);
    ASSERT_EQ(_nodra_bind(&conn, "/oper/ptp/node/", 4), ZERR_OK);

    nodra_test_fail(nodra_test_op::list, 0x40818e00u, 1);
    uint32_t count = 9;
    nodra_list_td *l = nullptr;
    EXPECT_EQ(nodra_list(conn, "", "", &count, &l, 0), 0x40818e00u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(nodra_test_open_lists(), 0u);

    ASSERT_EQ(nodra_list(conn, "", "", &count, &l, 0), ZERR_OK);
    nodra_test_fail(nodra_test_op::list_next, 0x40818e00u, 1);
    const char *name = "stale";
    EXPECT_EQ(nodra_list_next(l, &name), 0x40818e00u);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(nodra_list_next(l, &name), ZERR_OK); // the failed call consumed nothing
    EXPECT_STREQ(name, "1");
    nodra_list_free(l);
    EXPECT_EQ(_nodra_unbind(conn), ZERR_OK);
    EXPECT_EQ(nodra_test_call_count(), 8u);
}

TEST_F(NodraTest, ClientLibraryPathDefaultEnvironmentAndOverride)
{
    unsetenv("PTP_NODRA_LIB");
    EXPECT_STREQ(nodra_client_library_path(), "/pkg/lib/libnodra.so");
    setenv("PTP_NODRA_LIB", "", 1);
    EXPECT_STREQ(nodra_client_library_path(), "/pkg/lib/libnodra.so");
    setenv("PTP_NODRA_LIB", "/tmp/chassis/libnodra.so", 1);
    EXPECT_STREQ(nodra_client_library_path(), "/tmp/chassis/libnodra.so");
    nodra_test_set_client_library_path("/nowhere/libnodra.so");
    EXPECT_STREQ(nodra_client_library_path(), "/nowhere/libnodra.so");
    nodra_test_set_client_library_path(nullptr);
    EXPECT_STREQ(nodra_client_library_path(), "/tmp/chassis/libnodra.so");
    unsetenv("PTP_NODRA_LIB");
    EXPECT_EQ(nodra_test_call_count(), 0u); // the guard is no database call
}

} // namespace
