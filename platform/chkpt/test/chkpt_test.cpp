#include "chkpt.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "chkpt_test.h"
#include "evm_test.h"

namespace {

// What the notices of one instance delivered, in order.
struct notice_log {
    std::vector<uint32_t> idt;
    std::vector<chkpt_ndt_type> ndt;
    std::vector<std::string> ndt_bytes;
};
notice_log *current_log = nullptr;

int on_idt(uint32_t event)
{
    current_log->idt.push_back(event);
    return 0;
}

int on_ndt(const chkpt_ndt_type *n)
{
    current_log->ndt.push_back(*n);
    current_log->ndt_bytes.emplace_back(reinterpret_cast<const char *>(n->data), n->length);
    return 0;
}

chkpt_appdesc_type app_desc(const char *name)
{
    chkpt_appdesc_type d;
    chkpt_appdesc_init(&d);
    strncpy(d.name, name, sizeof d.name - 1);
    d.flags = 1;
    d.word1 = 3;
    d.word2 = 2;
    d.idt_cb = on_idt;
    d.ndt_cb = on_ndt;
    return d;
}

chkpt_tbl_type *register_table(uint32_t id, uint32_t size = 64, uint32_t max = 0)
{
    chkpt_tbldesc_type d;
    chkpt_tbldesc_init(&d);
    d.table_id = id;
    d.record_size = size;
    d.max_records = max;
    chkpt_tbl_type *t = nullptr;
    EXPECT_EQ(chkpt_register(&d, &t), 0u);
    return t;
}

chkpt_objid create_saved(chkpt_tbl_type *t, const std::string &bytes)
{
    chkpt_objid id = 0;
    EXPECT_EQ(chkpt_create(t, 0, &id), 0u);
    EXPECT_EQ(chkpt_save(t, id, bytes.data(), bytes.size()), 0u);
    return id;
}

// Walks a table: (id, bytes) in order.
std::vector<std::pair<chkpt_objid, std::string>> walk(chkpt_tbl_type *t)
{
    std::vector<std::pair<chkpt_objid, std::string>> out;
    chkpt_iter_type *it = nullptr;
    EXPECT_EQ(chkpt_iterate_start(t, &it), 0u);
    for (;;) {
        char buf[64];
        uint16_t len = sizeof buf;
        chkpt_objid id = 0;
        EXPECT_EQ(chkpt_iterate_next(it, &id, buf, &len), 0u);
        if (id == 0)
            break;
        out.emplace_back(id, std::string(buf, len));
    }
    chkpt_iterate_end(it);
    return out;
}

class ChkptTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        chkpt_test_reset(":memory:");
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_NE(evm, nullptr);
        current_log = &log;
    }
    void TearDown() override
    {
        chkpt_test_reset(nullptr);
        event_manager_destroy(evm);
    }
    // The calling thread's instance as the primary of application "ptp".
    void primary()
    {
        const chkpt_appdesc_type d = app_desc("ptp");
        ASSERT_EQ(chkpt_init(evm, &d), 0u);
        ASSERT_EQ(chkpt_go_primary_active(), 0u);
    }
    event_mgr_type *evm = nullptr;
    notice_log log;
};

TEST_F(ChkptTest, ObjectIdsAreNeverZeroAndUniqueAcrossTheApplicationsTables)
{
    primary();
    chkpt_tbl_type *a = register_table(0);
    chkpt_tbl_type *b = register_table(1);
    std::vector<chkpt_objid> ids;
    for (int i = 0; i < 3; ++i) {
        chkpt_objid x = 0, y = 0;
        ASSERT_EQ(chkpt_create(a, 0, &x), 0u);
        ASSERT_EQ(chkpt_create(b, 0, &y), 0u);
        ids.push_back(x);
        ids.push_back(y);
    }
    for (size_t i = 0; i < ids.size(); ++i) {
        EXPECT_NE(ids[i], 0u);
        for (size_t j = 0; j < i; ++j)
            EXPECT_NE(ids[i], ids[j]);
    }
    // A deleted id is not handed out again.
    ASSERT_EQ(chkpt_delete(a, ids.back() - 1), 0u);
    chkpt_objid next = 0;
    ASSERT_EQ(chkpt_create(a, 0, &next), 0u);
    EXPECT_GT(next, ids.back());
    // Another application has ids of its own, from 1.
    chkpt_instance_type *other = chkpt_test_instance_new("other");
    chkpt_test_instance_use(other);
    const chkpt_appdesc_type d = app_desc("ptp");
    ASSERT_EQ(chkpt_init(evm, &d), 0u);
    ASSERT_EQ(chkpt_go_primary_active(), 0u);
    chkpt_objid first = 0;
    ASSERT_EQ(chkpt_create(register_table(0), 0, &first), 0u);
    EXPECT_EQ(first, 1u);
    chkpt_test_instance_use(nullptr);
}

TEST_F(ChkptTest, WritesAreRefusedOutsidePrimaryActive)
{
    const chkpt_appdesc_type d = app_desc("ptp");
    ASSERT_EQ(chkpt_init(evm, &d), 0u);
    chkpt_tbl_type *t = register_table(0);
    chkpt_objid id = 0;
    EXPECT_EQ(chkpt_create(t, 0, &id), CHKPT_ERR_NOT_PRIMARY); // not active at all
    ASSERT_EQ(chkpt_go_active(), 0u);
    EXPECT_EQ(chkpt_create(t, 0, &id), CHKPT_ERR_NOT_PRIMARY); // a standby
    EXPECT_EQ(chkpt_save(t, 1, "x", 1), CHKPT_ERR_NOT_PRIMARY);
    EXPECT_EQ(chkpt_delete(t, 1), CHKPT_ERR_NOT_PRIMARY);
    ASSERT_EQ(chkpt_go_primary_active(), 0u);
    id = create_saved(t, "abc");
    char buf[8];
    uint32_t len = sizeof buf;
    ASSERT_EQ(chkpt_get(t, id, buf, &len), 0u);
    EXPECT_EQ(std::string(buf, len), "abc");
}

TEST_F(ChkptTest, IterationIsInIdOrderAndToleratesDeletingTheCurrentRecord)
{
    primary();
    chkpt_tbl_type *t = register_table(3);
    chkpt_tbl_type *other = register_table(4);
    std::vector<chkpt_objid> ids;
    for (const char *s : {"a", "b", "c", "d"}) {
        ids.push_back(create_saved(t, s));
        create_saved(other, "z"); // interleaved ids of another table are not seen
    }
    chkpt_objid empty = 0;
    ASSERT_EQ(chkpt_create(t, 0, &empty), 0u); // created, never saved: length 0

    chkpt_iter_type *it = nullptr;
    ASSERT_EQ(chkpt_iterate_start(t, &it), 0u);
    std::string seen;
    std::vector<chkpt_objid> order;
    for (;;) {
        char buf[16];
        uint16_t len = sizeof buf;
        chkpt_objid id = 0;
        ASSERT_EQ(chkpt_iterate_next(it, &id, buf, &len), 0u);
        if (id == 0)
            break;
        order.push_back(id);
        seen += len == 0 ? std::string("-") : std::string(buf, len);
        if (id == ids[1]) {
            ASSERT_EQ(chkpt_delete(t, id), 0u);     // the current one
            ASSERT_EQ(chkpt_delete(t, ids[2]), 0u); // and the next one
        }
    }
    chkpt_iterate_end(it);
    EXPECT_EQ(seen, "abd-");
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_EQ(walk(t).size(), 3u);
}

TEST_F(ChkptTest, SizesAndLimitsAreChecked)
{
    primary();
    chkpt_tbl_type *t = register_table(0, 4, 2);
    const chkpt_objid id = create_saved(t, "abcd");
    EXPECT_EQ(chkpt_save(t, id, "abcde", 5), CHKPT_ERR_TOO_BIG);
    char buf[2];
    uint32_t len = sizeof buf;
    EXPECT_EQ(chkpt_get(t, id, buf, &len), CHKPT_ERR_TOO_BIG);
    EXPECT_EQ(len, 4u);
    chkpt_objid x = 0;
    ASSERT_EQ(chkpt_create(t, 0, &x), 0u);
    EXPECT_EQ(chkpt_create(t, 0, &x), CHKPT_ERR_FULL);
    EXPECT_EQ(chkpt_save(t, 999, "a", 1), CHKPT_ERR_NOT_FOUND);
    EXPECT_EQ(chkpt_delete(t, 999), CHKPT_ERR_NOT_FOUND);
    len = sizeof buf;
    EXPECT_EQ(chkpt_get(t, 999, buf, &len), CHKPT_ERR_NOT_FOUND);
    chkpt_tbldesc_type d;
    chkpt_tbldesc_init(&d);
    d.record_size = 4;
    chkpt_tbl_type *again = nullptr;
    EXPECT_EQ(chkpt_register(&d, &again), CHKPT_ERR_EXISTS);
}

TEST_F(ChkptTest, StandbyGetsTheInitialTransferThenEveryChange)
{
    primary();
    chkpt_tbl_type *t0 = register_table(0);
    register_table(2);
    const chkpt_objid kept = create_saved(t0, "kept");

    chkpt_instance_type *standby = chkpt_test_instance_new(nullptr);
    chkpt_test_instance_use(standby);
    notice_log slog;
    current_log = &slog;
    const chkpt_appdesc_type d = app_desc("ptp");
    ASSERT_EQ(chkpt_init(evm, &d), 0u);
    ASSERT_EQ(chkpt_go_active(), 0u);
    evm_run_until_idle(evm);
    EXPECT_EQ(slog.idt, (std::vector<uint32_t>{0, CHKPT_IDT_END, 2, CHKPT_IDT_END}));
    int32_t count = 0;
    ASSERT_EQ(chkpt_get_stby_idt_count(2, &count), 0u);
    EXPECT_EQ(count, 1);
    // The standby reads what the primary wrote.
    chkpt_tbl_type *s0 = register_table(0);
    ASSERT_EQ(walk(s0).size(), 1u);
    EXPECT_EQ(walk(s0)[0].second, "kept");

    chkpt_test_instance_use(nullptr);
    chkpt_objid id = 0;
    ASSERT_EQ(chkpt_create(t0, 0, &id), 0u);
    ASSERT_EQ(chkpt_save(t0, id, "new", 3), 0u);
    ASSERT_EQ(chkpt_delete(t0, kept), 0u);
    evm_run_until_idle(evm);
    ASSERT_EQ(slog.ndt.size(), 3u);
    EXPECT_EQ(slog.ndt[0].type, CHKPT_NDT_SAVE);
    EXPECT_EQ(slog.ndt[0].objid, id);
    EXPECT_EQ(slog.ndt_bytes[0], "");
    EXPECT_EQ(slog.ndt[1].type, CHKPT_NDT_SAVE);
    EXPECT_EQ(slog.ndt_bytes[1], "new");
    EXPECT_EQ(slog.ndt[2].type, CHKPT_NDT_DELETE);
    EXPECT_EQ(slog.ndt[2].objid, kept);
    EXPECT_EQ(slog.ndt[2].table_id, 0u);
    EXPECT_TRUE(log.ndt.empty()); // the writer is not told of its own writes

    // A table the primary registers later is transferred at once.
    register_table(3);
    evm_run_until_idle(evm);
    EXPECT_EQ(slog.idt.size(), 6u);
    EXPECT_EQ(slog.idt[4], 3u);
    current_log = &log;
}

TEST_F(ChkptTest, InjectedFailuresHitTheNextCallsOnly)
{
    primary();
    chkpt_tbl_type *t = register_table(0);
    const chkpt_objid id = create_saved(t, "a");
    chkpt_test_fail(chkpt_test_op::SAVE, CHKPT_ERR_STORAGE, 2);
    EXPECT_EQ(chkpt_save(t, id, "b", 1), CHKPT_ERR_STORAGE);
    EXPECT_EQ(chkpt_save(t, id, "b", 1), CHKPT_ERR_STORAGE);
    EXPECT_EQ(chkpt_save(t, id, "c", 1), 0u);
    chkpt_test_fail(chkpt_test_op::ITERATE_NEXT, CHKPT_ERR_STORAGE, 1);
    chkpt_iter_type *it = nullptr;
    ASSERT_EQ(chkpt_iterate_start(t, &it), 0u);
    char buf[4];
    uint16_t len = sizeof buf;
    chkpt_objid got = 7;
    EXPECT_EQ(chkpt_iterate_next(it, &got, buf, &len), CHKPT_ERR_STORAGE);
    EXPECT_EQ(got, 0u);
    chkpt_iterate_end(it);
}

// A writer killed with -9 right after its writes returned loses none of them, and a restarted
// writer goes on with new ids.
TEST_F(ChkptTest, RecordsSurviveAKillOfTheWriter)
{
    char dir[] = "/tmp/chkpt_test_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/store.db";
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        chkpt_test_reset(path.c_str());
        chkpt_test_instance_use(chkpt_test_instance_new("writer"));
        event_mgr_type *e = event_create_manager(nullptr, nullptr, 0);
        const chkpt_appdesc_type d = app_desc("ptp");
        if (chkpt_init(e, &d) != 0 || chkpt_go_primary_active() != 0)
            _exit(1);
        chkpt_tbldesc_type td;
        chkpt_tbldesc_init(&td);
        td.record_size = 64;
        chkpt_tbl_type *t = nullptr;
        chkpt_objid id = 0;
        for (int i = 0; i < 100; ++i) {
            const std::string v = "record " + std::to_string(i);
            if ((t == nullptr && chkpt_register(&td, &t) != 0) || chkpt_create(t, 0, &id) != 0 ||
                chkpt_save(t, id, v.data(), v.size()) != 0)
                _exit(1);
        }
        if (write(ready[1], "k", 1) != 1)
            _exit(1);
        for (;;)
            pause();
    }
    close(ready[1]);
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    chkpt_test_reset(path.c_str());
    chkpt_test_instance_use(chkpt_test_instance_new("writer"));
    const chkpt_appdesc_type d = app_desc("ptp");
    ASSERT_EQ(chkpt_init(evm, &d), 0u);
    chkpt_tbl_type *t = register_table(0);
    const auto records = walk(t);
    ASSERT_EQ(records.size(), 100u);
    EXPECT_EQ(records[99].second, "record 99");
    ASSERT_EQ(chkpt_go_primary_active(), 0u);
    chkpt_objid id = 0;
    ASSERT_EQ(chkpt_create(t, 0, &id), 0u);
    EXPECT_GT(id, records.back().first);
    chkpt_test_reset(":memory:");
    std::filesystem::remove_all(dir);
}

} // namespace
