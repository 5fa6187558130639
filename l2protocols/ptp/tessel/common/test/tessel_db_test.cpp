#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "jotlog.h"
#include "jotlog_test.h"
#include "plat_debug.h"
#include "ptp_debug.h"
#include "qor_log.h"
#include "tessel_alloc.h"
#include "tessel_db.h"
#include "tessel_debug_areas.h"
#include "tessel_hash.h"
#include "tessel_trace_buffers.h"

namespace {

struct rec {
    tessel_db_h_type header;
    uint32_t payload;
};

class DbTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db.name = "Test";
        ASSERT_EQ(tessel_db_init(&db), ZERR_OK);
    }
    void TearDown() override
    {
        std::vector<std::string> names;
        tessel_db_walk(
            [](void *idb, void *c) {
                static_cast<std::vector<std::string> *>(c)->push_back(static_cast<rec *>(idb)->header.ifname);
                return true;
            },
            &names, nullptr, false, &db);
        for (const std::string &n : names) {
            void *idb;
            ASSERT_EQ(tessel_db_get_by_ifname(n.c_str(), &db, &idb), ZERR_OK);
            auto *h = static_cast<tessel_db_h_type *>(idb);
            tessel_db_delete(&h, &db);
        }
        tessel_db_cleanup(&db);
    }
    rec *create(const std::string &name, ifhtype handle = 0)
    {
        void *idb = nullptr;
        EXPECT_EQ(tessel_db_create(name.c_str(), sizeof(rec), &db, &idb), ZERR_OK);
        if (handle != 0) {
            tessel_db_add_ifhandle(handle, &db, &static_cast<rec *>(idb)->header);
        }
        return static_cast<rec *>(idb);
    }
    std::vector<std::string> walk(const char *start, bool skip)
    {
        std::vector<std::string> out;
        tessel_db_walk(
            [](void *idb, void *c) {
                static_cast<std::vector<std::string> *>(c)->push_back(static_cast<rec *>(idb)->header.ifname);
                return true;
            },
            &out, start, skip, &db);
        return out;
    }
    tessel_db_info_type db{};
};

TEST(HashTableTest, CreateRefusesBadGeometry)
{
    struct row {
        uint16_t initial, max;
        bool own_hash;
        uint32_t key_len;
        int rc;
    };
    auto hash = [](const void *, uint32_t, void *) -> uint64_t { return 0; };
    for (const row &r : std::vector<row>{{0, 16, false, 4, EINVAL},
                                         {16, 16, false, 4, EINVAL}, // equal to the maximum
                                         {17, 16, false, 4, EINVAL},
                                         {8, 16, false, 8, EINVAL}, // default hash needs 4
                                         {8, 16, true, 8, 0},
                                         {15, 16, false, 4, 0}}) {
        ptp_hash_table_h_type t = nullptr;
        EXPECT_EQ(ptp_hash_table_create(1, r.initial, r.max, r.own_hash ? +hash : nullptr, nullptr, r.key_len, &t),
                  r.rc)
            << r.initial << "/" << r.max;
        EXPECT_EQ(t == nullptr, r.rc != 0);
        ptp_hash_table_free(t);
    }
    ptp_hash_table_h_type t = nullptr;
    tessel_alloc_test_fail(1, 1); // the bucket array
    EXPECT_EQ(ptp_hash_table_create(1, 8, 16, nullptr, nullptr, 4, &t), ENOMEM);
    EXPECT_EQ(t, nullptr);
}

struct hnode {
    ptp_hash_node_type node;
    uint32_t key;
};

// The load rule: grow when entries * 100 / buckets (integer) is above 100, shrink below 12 but
// never under the initial count; the interface-handle hash only ever sees powers of two.
TEST(HashTableTest, GrowsAndShrinksByTheLoadRule)
{
    ptp_hash_table_h_type t = nullptr;
    ASSERT_EQ(ptp_hash_table_create(1, 256, 16192, nullptr, nullptr, 4, &t), 0);
    std::vector<hnode> nodes(20000);
    for (uint32_t i = 0; i < nodes.size(); i++) {
        nodes[i].key = 0x1000 + i * 8;
    }
    for (uint32_t i = 0; i < 258; i++) {
        ptp_hash_table_insert(t, &nodes[i].node);
    }
    EXPECT_EQ(t->cur_buckets, 256); // 258 * 100 / 256 == 100: not above
    ptp_hash_table_insert(t, &nodes[258].node);
    EXPECT_EQ(t->cur_buckets, 512);
    for (uint32_t i = 259; i < nodes.size(); i++) {
        ptp_hash_table_insert(t, &nodes[i].node);
    }
    EXPECT_EQ(t->cur_buckets, 8192); // 16192 is no power of two: the table stops at 8192
    for (const hnode &n : nodes) {
        ASSERT_EQ(ptp_hash_table_lookup(t, &n.key), &n.node);
    }
    uint32_t missing = 7;
    EXPECT_EQ(ptp_hash_table_lookup(t, &missing), nullptr);
    for (uint32_t i = 0; i < nodes.size() - 10; i++) {
        ptp_hash_table_remove(t, &nodes[i].node);
        EXPECT_EQ(nodes[i].node.pprev, nullptr);
    }
    EXPECT_EQ(t->cur_buckets, 256);
    EXPECT_EQ(t->entry_count, 10u);
    for (size_t i = nodes.size() - 10; i < nodes.size(); i++) {
        EXPECT_EQ(ptp_hash_table_lookup(t, &nodes[i].key), &nodes[i].node);
    }
    int emptied = 0;
    ptp_hash_table_destroy(
        t,
        [](ptp_hash_node_type *n, void *c) {
            ++*static_cast<int *>(c);
            EXPECT_EQ(n->pprev, nullptr);
        },
        &emptied);
    EXPECT_EQ(emptied, 10);
}

TEST(HashTableTest, FailedGrowthKeepsEveryEntry)
{
    ptp_hash_table_h_type t = nullptr;
    ASSERT_EQ(ptp_hash_table_create(1, 4, 64, nullptr, nullptr, 4, &t), 0);
    std::vector<hnode> nodes(40);
    tessel_alloc_test_fail(0, 1000);
    for (uint32_t i = 0; i < nodes.size(); i++) {
        nodes[i].key = i + 1;
        ptp_hash_table_insert(t, &nodes[i].node);
    }
    tessel_alloc_test_fail(0, 0);
    EXPECT_EQ(t->cur_buckets, 4);
    for (const hnode &n : nodes) {
        EXPECT_EQ(ptp_hash_table_lookup(t, &n.key), &n.node);
    }
    ptp_hash_table_insert(t, &(new hnode{{}, 999})->node); // growth works again
    EXPECT_EQ(t->cur_buckets, 8);
    ptp_hash_table_destroy(
        t,
        [](ptp_hash_node_type *n, void *) {
            if (reinterpret_cast<hnode *>(n)->key == 999) {
                delete reinterpret_cast<hnode *>(n);
            }
        },
        nullptr);
}

TEST_F(DbTest, LookupsByNameAndHandleThroughGrowthAndDeletes)
{
    std::vector<rec *> recs;
    for (uint32_t i = 0; i < 3000; i++) {
        recs.push_back(create("Gi0/0/0/" + std::to_string(i), 0x4000 + i * 64));
    }
    EXPECT_EQ(db.count, 3000u);
    EXPECT_EQ(db.hash->cur_buckets, 4096);
    // Delete every other one, then look everything up both ways.
    for (uint32_t i = 0; i < 3000; i += 2) {
        tessel_db_h_type *h = &recs[i]->header;
        tessel_db_delete(&h, &db);
        EXPECT_EQ(h, nullptr);
    }
    for (uint32_t i = 0; i < 3000; i++) {
        void *by_name = nullptr;
        void *by_handle = nullptr;
        std::string name = "Gi0/0/0/" + std::to_string(i);
        zerrno rn = tessel_db_get_by_ifname(name.c_str(), &db, &by_name);
        zerrno rh = tessel_db_get_by_ifhandle(0x4000 + i * 64, &db, &by_handle);
        if (i % 2 == 0) {
            EXPECT_EQ(rn, PTP_ZERR_DB_NO_ENTRY);
            EXPECT_EQ(rh, PTP_ZERR_DB_NO_ENTRY);
            EXPECT_EQ(by_handle, nullptr);
        } else {
            EXPECT_EQ(by_name, recs[i]);
            EXPECT_EQ(by_handle, recs[i]);
        }
    }
    EXPECT_EQ(db.count, 1500u);
    EXPECT_EQ(db.hash->cur_buckets, 4096); // load 36: no shrink yet
}

TEST_F(DbTest, NamesHandlesAndDuplicates)
{
    rec *a = create("Gi0/0/0/1");
    void *idb = nullptr;
    EXPECT_EQ(tessel_db_create("Gi0/0/0/1", sizeof(rec), &db, &idb), PTP_ZERR_DB_ENTRY_EXISTS);
    EXPECT_EQ(idb, nullptr);
    EXPECT_EQ(db.count, 1u);

    // Without a handle: found by name only.
    EXPECT_EQ(tessel_db_get_by_ifhandle(0, &db, &idb), PTP_ZERR_DB_NO_ENTRY);
    tessel_db_add_ifhandle(0x100, &db, &a->header);
    tessel_db_add_ifhandle(0x100, &db, &a->header);
    EXPECT_EQ(db.hash->entry_count, 1u);
    // A new handle for an indexed record moves it.
    tessel_db_add_ifhandle(0x200, &db, &a->header);
    EXPECT_EQ(db.hash->entry_count, 1u);
    EXPECT_EQ(tessel_db_get_by_ifhandle(0x100, &db, &idb), PTP_ZERR_DB_NO_ENTRY);
    EXPECT_EQ(tessel_db_get_by_ifhandle(0x200, &db, &idb), ZERR_OK);
    tessel_db_remove_ifhandle(&db, &a->header);
    EXPECT_EQ(a->header.ifhandle, 0u);
    EXPECT_EQ(db.hash->entry_count, 0u);
    tessel_db_remove_ifhandle(&db, &a->header); // not there: harmless

    std::string long_name(70, 'x');
    rec *b = create(long_name);
    EXPECT_EQ(std::string(b->header.ifname), long_name.substr(0, 63));
    EXPECT_EQ(tessel_db_get_by_ifname(long_name.c_str(), &db, &idb), ZERR_OK);
    EXPECT_EQ(idb, b);

    tessel_alloc_test_fail(0, 1);
    EXPECT_EQ(tessel_db_create("Gi0/0/0/9", sizeof(rec), &db, &idb), PTP_ZERR_NOMEM);
    EXPECT_EQ(db.count, 2u);
}

TEST_F(DbTest, WalkFromAStartName)
{
    const std::string x63(63, 'x');
    const std::string x70(70, 'x');
    for (const std::string &n : {std::string("a"), std::string("c"), std::string("e"), std::string("g"), x63}) {
        create(n);
    }
    struct row {
        std::string start;
        bool skip;
        std::vector<std::string> visited;
    };
    const row rows[] = {
        {"c", false, {"c", "e", "g", x63}},
        {"c", true, {"e", "g", x63}},
        {"d", true, {"e", "g", x63}},
        {"d", false, {"e", "g", x63}},
        {"h", true, {x63}},
        {"z", false, {}},
        // Compared over 64 bytes: the IDB kept under the first 63 characters sorts before it.
        {x70, false, {}},
        {x63, false, {x63}},
        {x63, true, {}},
    };
    for (const row &r : rows) {
        EXPECT_EQ(walk(r.start.c_str(), r.skip), r.visited) << r.start << " skip " << r.skip;
    }
    EXPECT_EQ(walk(nullptr, false), (std::vector<std::string>{"a", "c", "e", "g", x63}));
    // From the start the callback's answer stops the walk.
    int seen = 0;
    tessel_db_walk([](void *, void *c) { return ++*static_cast<int *>(c) < 2; }, &seen, nullptr, false, &db);
    EXPECT_EQ(seen, 2);
}

TEST_F(DbTest, AddressListsCompareInOrder)
{
    uint32_t a[] = {1, 2, 3};
    uint32_t b[] = {1, 3, 2};
    EXPECT_TRUE(tessel_db_ipv4_addr_list_equal(nullptr, 0, nullptr, 0));
    EXPECT_TRUE(tessel_db_ipv4_addr_list_equal(a, 3, a, 3));
    EXPECT_FALSE(tessel_db_ipv4_addr_list_equal(a, 3, b, 3));
    EXPECT_FALSE(tessel_db_ipv4_addr_list_equal(a, 3, a, 2));
    uint8_t v6a[2][16] = {{1}, {2}};
    uint8_t v6b[2][16] = {{1}, {3}};
    EXPECT_TRUE(tessel_db_ipv6_addr_list_equal(v6a, 2, v6a, 2));
    EXPECT_FALSE(tessel_db_ipv6_addr_list_equal(v6a, 2, v6b, 2));
}

TEST_F(DbTest, DeletingFromAnEmptyDatabaseIsAnInternalError)
{
    rec r{};
    tessel_db_h_type *h = &r.header;
    EXPECT_DEATH(tessel_db_delete(&h, &db), "count > 0");
}

// ---- Debug lines and trace points --------------------------------------------------------

// The database with the agent's debug areas registered and its trace buffers open.
class DbLogTest : public DbTest {
protected:
    void SetUp() override
    {
        run_dir = jotlog_test_run_dir_create("tessel_db_test");
        ASSERT_FALSE(run_dir.empty());
        ASSERT_EQ(ptp_debug_register(nullptr, areas, tessel_debug_areas, std::size(tessel_debug_areas), nullptr),
                  ZERR_OK);
        ASSERT_EQ(ptp_jotlog_init(buffers, std::size(buffers)), ZERR_OK);
        ptp_jotlog_ctx_set(buffers[0], buffers[1], buffers[2]);
        ASSERT_EQ(debug_set_area(PTP_DEBUG_PATH, "database", nullptr), ZERR_OK);
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();
        debug_capture_clear();
        DbTest::SetUp();
    }
    void TearDown() override
    {
        DbTest::TearDown();
        ptp_jotlog_close(buffers, std::size(buffers));
        ptp_jotlog_ctx_set({}, {}, {});
        ptp_debug_cleanup();
        jotlog_test_run_dir_remove(run_dir);
    }

    debug_event_type areas[std::size(tessel_debug_areas)]{};
    ptp_jotlog_buffer_type buffers[3] = {tessel_trace_buffers[TESSEL_TRACE_BUFFER_DET],
                                         tessel_trace_buffers[TESSEL_TRACE_BUFFER_SUM],
                                         tessel_trace_buffers[TESSEL_TRACE_BUFFER_UNQ]};
    std::string run_dir;
};

TEST_F(DbLogTest, LifeOfARecordOnTheDatabaseArea)
{
    struct step {
        std::function<void()> run;
        const char *line; // what the step prints, or null
    };
    rec *r = nullptr;
    const step steps[] = {
        {[&] { r = create("Gi0/0/0/1"); }, "DATABASE: Gi0/0/0/1: Creating and inserting a new idb into Test database"},
        {[&] { tessel_db_add_ifhandle(0x1a2b, &db, &r->header); },
         "DATABASE: Gi0/0/0/1: Added interface handle 0x00001a2b to Test hash table"},
        {[&] { tessel_db_add_ifhandle(0x1a2b, &db, &r->header); }, nullptr}, // already there
        {[&] { tessel_db_remove_ifhandle(&db, &r->header); },
         "DATABASE: Gi0/0/0/1: Removed interface from Test hash table"},
        {[&] { tessel_db_remove_ifhandle(&db, &r->header); }, nullptr}, // not indexed
        {[&] {
             tessel_db_h_type *h = &r->header;
             tessel_db_delete(&h, &db);
         },
         "DATABASE: Gi0/0/0/1: Deleting interface from Test database"},
    };
    for (const step &s : steps) {
        debug_capture_clear();
        s.run();
        EXPECT_EQ(debug_captured(), s.line != nullptr ? std::vector<std::string>{s.line} : std::vector<std::string>{});
    }
    // Created and deleted go to the detail buffer only, with the interface and database names.
    EXPECT_EQ(jotlog_test_records("ptp/tessel/det"),
              (std::vector<std::string>{"0x30200100192(Gi0/0/0/1,Test)", "0x30200100193(Gi0/0/0/1,Test)"}));
    EXPECT_TRUE(jotlog_test_records("ptp/tessel/unq").empty());
}

TEST_F(DbLogTest, HashTableFailureIsRaisedAndTraced)
{
    tessel_db_info_type other{};
    other.name = "Other";
    tessel_alloc_test_fail(0, 1); // the table's record
    EXPECT_EQ(tessel_db_init(&other), static_cast<zerrno>(ENOMEM));
    ASSERT_EQ(qor_errmsg_captured().size(), 1u);
    EXPECT_EQ(qor_errmsg_captured()[0].text,
              std::string("Failed to initialize: Failed to initialise the interface hash table") +
                  zerr_strerror(static_cast<zerrno>(ENOMEM)));
    for (const char *buffer : {"ptp/tessel/det", "ptp/tessel/unq"}) {
        EXPECT_EQ(jotlog_test_records(buffer), std::vector<std::string>{"0x100190()"}) << buffer;
    }
    avl2_destroy(&other.tree, nullptr);
}

} // namespace
