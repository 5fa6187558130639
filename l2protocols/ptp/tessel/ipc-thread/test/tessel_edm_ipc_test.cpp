// The registration of the agent's operational data: every registered path forwards its request
// to the protocol thread as the matching inter-thread message and answers with its reply; a
// missing database library or a failed step stops the start-up, and the shutdown undoes exactly
// what was registered.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "evm_test_thread.h"
#include "nodra.h"
#include "nodra_test.h"
#include "ptp_bags.h"
#include "qor_log.h"
#include "tessel_edm.h"
#include "tessel_edm_ipc.h"
#include "tessel_stats.h"
#include "tessel_thread_ctrl.h"

// Recording fakes of the inter-thread messages and the node event counter.
namespace {
struct forwarded_type {
    std::string message;
    std::string path; // as the database gave it to the provider
    nodra_edm_request_td *request;
};
std::vector<forwarded_type> forwarded;
zerrno reply_result; // what the protocol thread answers

// The protocol thread's side, run while the IPC thread waits: answers as a handler would.
zerrno answer(const char *message, void *r)
{
    auto *request = static_cast<nodra_edm_request_td *>(r);
    forwarded.push_back({message, request->path != nullptr ? request->path : "", request});
    if (reply_result != 0) {
        return reply_result;
    }
    const uint32_t value = 7;
    switch (request->op) {
    case 1: return nodra_edm_reply_set(request, NODRA_ITEM_DATATYPE_UINT32, &value, sizeof value);
    case 2: {
        zerrno rc = nodra_edm_list_create(request);
        return rc != 0 ? rc : nodra_edm_list_add(request, "Gi0/0/0/1", NODRA_ITEM_DATATYPE_NAME);
    }
    case 3: {
        zerrno rc = nodra_edm_datalist_create(request);
        return rc != 0 ? rc
                       : nodra_edm_datalist_add(request, "Gi0/0/0/1", NODRA_ITEM_DATATYPE_UINT32, &value, sizeof value);
    }
    default: return 0;
    }
}
} // namespace

zerrno tessel_thread_ctrl_send_edm_get(void *request)
{
    return answer("EDM Get", request);
}
zerrno tessel_thread_ctrl_send_edm_list(void *request)
{
    return answer("EDM List", request);
}
zerrno tessel_thread_ctrl_send_edm_datalist(void *request)
{
    return answer("EDM Datalist", request);
}
zerrno tessel_thread_ctrl_send_edm_set(void *request)
{
    return answer("EDM Set", request);
}
bool tessel_thread_ctrl_is_proto_thread()
{
    return false;
}
bool tessel_thread_ctrl_is_ipc_thread_blocked()
{
    return false;
}
// The protocol thread's item tables: the registration hands them to the database as they are.
namespace {
const backend_schema_td fake_schemas[TESSEL_EDM_IF_PATH_COUNT + 2] = {};
} // namespace
const backend_schema_td *const tessel_edm_if_schemas[TESSEL_EDM_IF_PATH_COUNT] = {
    &fake_schemas[0], &fake_schemas[1], &fake_schemas[2], &fake_schemas[3], &fake_schemas[4],  &fake_schemas[5],
    &fake_schemas[6], &fake_schemas[7], &fake_schemas[8], &fake_schemas[9], &fake_schemas[10],
};
const backend_schema_td tessel_edm_node_oper_schema{};
const backend_schema_td tessel_edm_node_action_schema{};

namespace {

class EdmRegistrationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char name[] = "/tmp/tessel_edm_ipc_libXXXXXX";
        const int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        close(fd);
        library = name;
    }
    static void TearDownTestSuite() { unlink(library.c_str()); }

    void SetUp() override
    {
        nodra_test_reset();
        bag_registry_reset();
        nodra_test_set_client_library_path(library.c_str());
        qor_errmsg_capture_clear();
        forwarded.clear();
        reply_result = 0;
        node_events_before = tessel_stats_get_node_event_counters()->node[TESSEL_NODE_EVENT_XTHREAD_EDM_REQUESTS];
        ASSERT_EQ(nodra_bind(&oper, "/oper/ptp/", 0), 0u);
        ASSERT_EQ(nodra_bind(&action, "/action/ptp/", 0), 0u);
        base_bindings = nodra_test_open_bindings();
    }
    void TearDown() override
    {
        ipc.run([] { tessel_edm_shutdown(); });
        EXPECT_EQ(nodra_test_open_bindings(), base_bindings) << "every binding of the registration is undone";
        nodra_unbind(oper);
        nodra_unbind(action);
        nodra_test_reset();
    }

    zerrno init()
    {
        zerrno rc = 1;
        ipc.run([&] { rc = tessel_edm_init(ipc.evm); });
        return rc;
    }

    std::vector<std::string> init_failures()
    {
        std::vector<std::string> out;
        for (const qor_captured_msg &m : qor_errmsg_captured()) {
            if (m.mnemonic == "INIT_FAILED") {
                out.push_back(m.text);
            }
        }
        return out;
    }

    // "node/<id>/": the node's own prefix below "/oper/ptp/", as the database names it.
    std::string node_prefix()
    {
        nodra_conn_td *conn = nullptr;
        EXPECT_EQ(nodra_bind(&conn, "/oper/ptp/&&/", 17), 0u);
        std::string path = std::string(nodra_conn_path(conn)).substr(std::strlen("/oper/ptp/"));
        nodra_unbind(conn);
        return path;
    }

    static inline std::string library;
    evm_thread ipc;
    nodra_conn_td *oper = nullptr;
    nodra_conn_td *action = nullptr;
    uint32_t base_bindings = 0;
    uint32_t node_events_before = 0;
};

// First of all: once the library has been found, the process remembers it.
TEST_F(EdmRegistrationTest, MissingDatabaseLibraryFailsTheFirstBind)
{
    nodra_test_set_client_library_path("/nonexistent/libnodra.so");
    EXPECT_EQ(init(), 0x8081c200u);
    const std::vector<std::string> expected = {
        "Failed to initialize: Failed to bind to Nodra for per-interface EDMs: " +
        std::string(zerr_strerror(0x8081c200u))};
    EXPECT_EQ(init_failures(), expected);
    EXPECT_EQ(nodra_test_open_bindings(), base_bindings);
}

TEST_F(EdmRegistrationTest, EveryReadPathForwardsGetListAndDatalist)
{
    ASSERT_EQ(init(), 0u);
    EXPECT_TRUE(bag_is_registered("ptp_if_info"));
    const std::string node = node_prefix();
    const std::vector<std::string> dirs = {
        "interface/if/",
        "foreign-masters/if/",
        "packet-counters/if/",
        "idb/if/",
        "event-counters/if/",
        "unicast-peers/if/",
        "gl/dataset/port-ds/if/",
        "config-errors/if/",
        "interop/if/",
        node + "interface/if/",
        node + "foreign-masters/if/",
        node + "idb/if/",
        node + "unicast-peers/if/",
        node + "config-errors/if/",
    };
    for (const std::string &dir : dirs) {
        forwarded.clear();
        uint32_t type = 0;
        void *data = nullptr;
        uint32_t length = 0;
        ASSERT_EQ(nodra_item_get(oper, (dir + "Gi0/0/0/1").c_str(), &type, &data, &length, 0), 0u) << dir;
        ASSERT_EQ(length, 4u);
        uint32_t value = 0;
        std::memcpy(&value, data, sizeof value);
        EXPECT_EQ(value, 7u) << "the protocol thread's answer is the database's";
        free(data);

        uint32_t count = 0;
        nodra_list_td *list = nullptr;
        ASSERT_EQ(nodra_list(oper, dir.c_str(), "", &count, &list, 0), 0u) << dir;
        EXPECT_EQ(count, 1u);
        nodra_list_free(list);
        nodra_datalist_td *dlist = nullptr;
        ASSERT_EQ(nodra_datalist(oper, dir.c_str(), "", &count, &dlist, 0), 0u) << dir;
        EXPECT_EQ(count, 1u);
        nodra_datalist_free(dlist);

        ASSERT_EQ(forwarded.size(), 3u) << dir;
        EXPECT_EQ(forwarded[0].message, "EDM Get");
        EXPECT_EQ(forwarded[1].message, "EDM List");
        EXPECT_EQ(forwarded[2].message, "EDM Datalist");
    }
    for (const char *item : {"packet-counters", "ma-event-counters", "summary"}) {
        forwarded.clear();
        uint32_t type = 0;
        void *data = nullptr;
        uint32_t length = 0;
        ASSERT_EQ(nodra_item_get(oper, (node + item).c_str(), &type, &data, &length, 0), 0u) << item;
        free(data);
        ASSERT_EQ(forwarded.size(), 1u);
        EXPECT_EQ(forwarded[0].message, "EDM Get");
    }
    EXPECT_EQ(tessel_stats_get_node_event_counters()->node[TESSEL_NODE_EVENT_XTHREAD_EDM_REQUESTS] - node_events_before,
              3 * dirs.size() + 3)
        << "every request counted once";

    // The protocol thread's failure is the database's result.
    reply_result = 0x40828600;
    uint32_t type = 0;
    void *data = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(nodra_item_get(oper, "interface/if/Gi0/0/0/9", &type, &data, &length, 0), 0x40828600u);
    free(data);
}

TEST_F(EdmRegistrationTest, ClearActionsForwardAsSets)
{
    ASSERT_EQ(init(), 0u);
    const std::string node = node_prefix();
    const uint32_t one = 1;
    for (const std::string &path :
         {std::string("packet-counters/if/Gi0/0/0/1"), std::string("event-counters/if/Gi0/0/0/1"),
          node + "packet-counters", node + "ma-event-counters"}) {
        forwarded.clear();
        ASSERT_EQ(nodra_item_set(action, path.c_str(), NODRA_ITEM_DATATYPE_UINT32, &one, sizeof one, 0), 0u) << path;
        ASSERT_EQ(forwarded.size(), 1u) << path;
        EXPECT_EQ(forwarded[0].message, "EDM Set");
    }
    // A read path takes no set, a clear path no get.
    forwarded.clear();
    EXPECT_NE(nodra_item_set(oper, "interface/if/Gi0/0/0/1", NODRA_ITEM_DATATYPE_UINT32, &one, sizeof one, 0), 0u);
    uint32_t type = 0;
    void *data = nullptr;
    uint32_t length = 0;
    EXPECT_NE(nodra_item_get(action, "packet-counters/if/Gi0/0/0/1", &type, &data, &length, 0), 0u);
    free(data);
    EXPECT_TRUE(forwarded.empty());
}

// Each failing step stops there with its text; the shutdown (TearDown) then unbinds what was
// bound, and a read path registered before the failure answered until then.
TEST_F(EdmRegistrationTest, FailedStepStopsAndShutdownUndoesOnlyWhatWasDone)
{
    struct row_type {
        uint32_t binds_before; // successful binds before the failing one
        const char *text;
    } const rows[] = {
        {0, "Failed to bind to Nodra for per-interface EDMs: "},
        {9, "Failed to bind to Nodra for per-interface EDMs: "}, // the first clear action
        {11, "Failed to bind to Nodra for node oper EDM: "},
        {12, "Failed to bind to Nodra for node act EDM: "},
    };
    for (const row_type &row : rows) {
        qor_errmsg_capture_clear();
        nodra_test_fail(nodra_test_op::bind, NODRA_ERR_UNREACHABLE, 1, row.binds_before);
        EXPECT_EQ(init(), NODRA_ERR_UNREACHABLE) << row.text;
        nodra_test_fail(nodra_test_op::bind, 0, 0);
        const std::vector<std::string> texts = init_failures();
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0].rfind(std::string("Failed to initialize: ") + row.text, 0), 0u) << texts[0];
        EXPECT_EQ(nodra_test_open_bindings(), base_bindings + row.binds_before);
        if (row.binds_before >= 9) {
            uint32_t type = 0;
            void *data = nullptr;
            uint32_t length = 0;
            EXPECT_EQ(nodra_item_get(oper, "interface/if/Gi0/0/0/1", &type, &data, &length, 0), 0u);
            free(data);
        }
        ipc.run([] { tessel_edm_shutdown(); });
        EXPECT_EQ(nodra_test_open_bindings(), base_bindings) << row.text;
        uint32_t type = 0;
        void *data = nullptr;
        uint32_t length = 0;
        EXPECT_NE(nodra_item_get(oper, "interface/if/Gi0/0/0/1", &type, &data, &length, 0), 0u) << "unregistered";
        free(data);
    }
}

TEST_F(EdmRegistrationTest, BagRegistrationFailureIsTheLastStep)
{
    bag_test_fail_register(1, 0x1234);
    EXPECT_EQ(init(), 0x1234u);
    const std::vector<std::string> texts = init_failures();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].rfind("Failed to initialize: Failed to register bags: ", 0), 0u) << texts[0];
}

} // namespace
