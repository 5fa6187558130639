// Commit semantics, seen by a client whose callbacks run on its own event manager thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "evm_test.h"
#include "evm_test_thread.h"
#include "nodra.h"
#include "nodra_test.h"
#include "sockmsg.h"

namespace {

std::string value_text(uint32_t type, const void *data, uint32_t len)
{
    if (data == nullptr)
        return "-";
    if (type == NODRA_ITEM_DATATYPE_UINT32 && len == 4) {
        uint32_t v;
        memcpy(&v, data, 4);
        return std::to_string(v);
    }
    return std::string(static_cast<const char *>(data), len);
}

constexpr zerrno bad_code = 0x47f2c200;
constexpr zerrno warn_code = 0x47f2c400;

// What the client saw, in order.
struct recorder {
    std::mutex lock;
    std::vector<std::string> log;
    std::vector<const nodra_verify_event_info_td *> parked;
    bool ask_follows = false;

    void add(std::string line)
    {
        std::lock_guard guard(lock);
        log.push_back(std::move(line));
    }
    std::vector<std::string> take()
    {
        std::lock_guard guard(lock);
        return std::exchange(log, {});
    }
};

recorder rec;
// Runs once, at the next verification, while the commit waits for it.
std::function<void()> at_next_verify;

std::string describe(const char *what, const nodra_event_info_td *e)
{
    std::string line = std::string(what) + " r" + std::to_string(e->registration) + " " + e->path + " ev" +
                       std::to_string(e->event) + " " + std::to_string(e->index) + "/" + std::to_string(e->count) +
                       " " + value_text(e->datatype, e->old_data, e->old_length) + ">" +
                       value_text(e->datatype, e->new_data, e->new_length);
    if (rec.ask_follows && e->index == e->count) {
        bool follows = false;
        EXPECT_EQ(nodra_verification_batch_follows(e->sequence, &follows), ZERR_OK);
        line += follows ? " follows" : " last";
    }
    return line;
}

zerrno on_verify(const nodra_verify_event_info_td *e, char **text, nodra_verify_result_td *result, void *)
{
    rec.add(describe("verify", e));
    if (at_next_verify)
        std::exchange(at_next_verify, nullptr)();
    if (strstr(e->path, "bad") != nullptr) {
        *text = strdup((std::string("Failed to verify ") + e->path).c_str());
        result->result = NODRA_VERIFY_RESULT_FAIL;
        return bad_code;
    }
    return ZERR_OK;
}

zerrno on_apply(const nodra_verify_event_info_td *e, void *)
{
    rec.add(describe("apply", e));
    if (strstr(e->path, "warn") != nullptr)
        return warn_code;
    if (strstr(e->path, "park") != nullptr) {
        std::lock_guard guard(rec.lock);
        rec.parked.push_back(e);
        return NODRA_ERR_APPLY_PENDING;
    }
    return ZERR_OK;
}

void on_abort(const nodra_abort_info_td *a, void *)
{
    rec.add("abort r" + std::to_string(a->registration));
}

zerrno on_notify(const nodra_notify_event_info_td *e, void *, const void *)
{
    rec.add(describe("notify", e) + (e->batch ? " end" : ""));
    return ZERR_OK;
}

class CommitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        nodra_test_reset();
        rec.take();
        rec.ask_follows = false;
        rec.parked.clear();
        client_.run([this] {
            ASSERT_EQ(_nodra_bind(&ifc_, "/cfg/if/act/", 0), ZERR_OK);
            ASSERT_EQ(_nodra_bind(&gl_, "/cfg/gl/", 0), ZERR_OK);
            nodra_vrfn_fns_td fns;
            nodra_vrfn_fns_init(&fns);
            nodra_vrfn_fns_verify_init(&fns, on_verify);
            nodra_vrfn_fns_apply_init(&fns, on_apply);
            nodra_vrfn_fns_abort_init(&fns, on_abort);
            // The enable item goes to its own, more specific registration, whose batch goes first.
            const char *subtree[] = {".*/ptp/pi/"};
            const char *enable[] = {".*/ptp/pi/enable"};
            ASSERT_EQ(nodra_register_verification4(ifc_, subtree, 1, 7, &fns, client_.evm, 0, 0, 0x14, &subtree_),
                      ZERR_OK);
            ASSERT_EQ(nodra_register_verification4(ifc_, enable, 1, 7, &fns, client_.evm, 0, -1, 0x14, &enable_),
                      ZERR_OK);
            ASSERT_EQ(_nodra_register_notification(gl_, "ptp/pi/", 7, 2, on_notify, client_.evm, nullptr, nullptr, 0,
                                                   &notify_),
                      ZERR_OK);
        });
        names_ = {{"r" + std::to_string(subtree_), "SUB"},
                  {"r" + std::to_string(enable_), "EN"},
                  {"r" + std::to_string(notify_), "NFY"}};
    }

    void TearDown() override
    {
        client_.run([this] {
            EXPECT_EQ(nodra_verification_unregister(subtree_), ZERR_OK);
            EXPECT_EQ(nodra_verification_unregister(enable_), ZERR_OK);
            EXPECT_EQ(nodra_notification_unregister(notify_), ZERR_OK);
            _nodra_unbind(ifc_);
            _nodra_unbind(gl_);
        });
    }

    // Replaces registration ids by names, so that expectations read plainly.
    std::vector<std::string> seen()
    {
        // Notices come on the registrations' connection, the commit's answer on another: wait
        // until those sent before the answer are queued, then until their callbacks ran.
        EXPECT_EQ(nodra_test_sync(client_.evm), ZERR_OK);
        client_.drain();
        std::vector<std::string> out = rec.take();
        for (std::string &line : out)
            for (const auto &[id, name] : names_) {
                const size_t at = line.find(" " + id + " ");
                if (at != std::string::npos)
                    line.replace(at + 1, id.size(), name);
                else if (line.size() >= id.size() && line.ends_with(" " + id))
                    line.replace(line.size() - id.size(), id.size(), name);
            }
        return out;
    }

    struct op {
        const char *path;
        int value; // -1 deletes; otherwise a number
    };

    static nodra_commit_result_td commit(const std::vector<op> &ops)
    {
        nodra_commit_td *c = nullptr;
        EXPECT_EQ(nodra_commit_create(&c), ZERR_OK);
        for (const op &o : ops) {
            if (o.value < 0) {
                nodra_commit_delete(c, o.path);
            } else {
                const uint32_t v = static_cast<uint32_t>(o.value);
                nodra_commit_set(c, o.path, NODRA_ITEM_DATATYPE_UINT32, &v, 4);
            }
        }
        nodra_commit_result_td result{};
        EXPECT_EQ(nodra_commit_apply(c, &result), ZERR_OK);
        nodra_commit_free(c);
        return result;
    }

    // One more recording verifier of everything below an interface, called back on evm.
    zerrno register_verifier(event_mgr_type *evm, int32_t order, uint32_t *reg)
    {
        const char *all[] = {".*/ptp/pi/"};
        nodra_vrfn_fns_td fns;
        nodra_vrfn_fns_init(&fns);
        nodra_vrfn_fns_verify_init(&fns, on_verify);
        nodra_vrfn_fns_apply_init(&fns, on_apply);
        return nodra_register_verification4(ifc_, all, 1, 7, &fns, evm, 0, order, 0x14, reg);
    }

    static std::vector<std::string> stored()
    {
        std::vector<nodra_config_item_td> items;
        EXPECT_EQ(nodra_config_show("/cfg/", &items), ZERR_OK);
        std::vector<std::string> out;
        for (const auto &i : items)
            out.push_back(i.path + "=" + value_text(i.type, i.value.data(), static_cast<uint32_t>(i.value.size())));
        return out;
    }

    evm_thread client_;
    nodra_conn_td *ifc_ = nullptr;
    nodra_conn_td *gl_ = nullptr;
    uint32_t subtree_ = 0, enable_ = 0, notify_ = 0;
    std::vector<std::pair<std::string, std::string>> names_;
};

TEST_F(CommitTest, CommitSemantics)
{
    struct case_type {
        const char *what;
        std::vector<op> ops;
        uint32_t outcome;
        std::vector<std::string> issues; // "path code text"
        std::vector<std::string> log;
        std::vector<std::string> store;
    };
    const std::vector<case_type> cases = {
        {"enable batch first, then the subtree; apply in the same order; notify with create bits",
         {{"/cfg/if/act/Gi0/0/0/1/ptp/pi/profile", 3},
          {"/cfg/if/act/Gi0/0/0/1/ptp/pi/enable", 1},
          {"/cfg/gl/ptp/pi/domain", 24}},
         NODRA_COMMIT_RESULT_APPLIED,
         {},
         {"verify EN Gi0/0/0/1/ptp/pi/enable ev1 1/1 ->1", "verify SUB Gi0/0/0/1/ptp/pi/profile ev1 1/1 ->3",
          "apply EN Gi0/0/0/1/ptp/pi/enable ev1 1/1 ->1", "apply SUB Gi0/0/0/1/ptp/pi/profile ev1 1/1 ->3",
          "notify NFY ptp/pi/domain ev1 1/1 ->24 end"},
         {"/cfg/gl/ptp/pi/domain=24", "/cfg/if/act/Gi0/0/0/1/ptp/pi/enable=1",
          "/cfg/if/act/Gi0/0/0/1/ptp/pi/profile=3"}},
        {"every item is verified even after a failure; the commit is rejected with each failure; store unchanged",
         {{"/cfg/if/act/Gi0/0/0/1/ptp/pi/bad-a", 1},
          {"/cfg/if/act/Gi0/0/0/1/ptp/pi/ok", 2},
          {"/cfg/if/act/Gi0/0/0/1/ptp/pi/bad-b", 3},
          {"/cfg/gl/ptp/pi/domain", 25}},
         NODRA_COMMIT_RESULT_REJECTED,
         {"/cfg/if/act/Gi0/0/0/1/ptp/pi/bad-a 1207091712 Failed to verify Gi0/0/0/1/ptp/pi/bad-a",
          "/cfg/if/act/Gi0/0/0/1/ptp/pi/bad-b 1207091712 Failed to verify Gi0/0/0/1/ptp/pi/bad-b"},
         {"verify SUB Gi0/0/0/1/ptp/pi/bad-a ev1 1/3 ->1", "verify SUB Gi0/0/0/1/ptp/pi/bad-b ev1 2/3 ->3",
          "verify SUB Gi0/0/0/1/ptp/pi/ok ev1 3/3 ->2", "abort SUB"},
         {"/cfg/gl/ptp/pi/domain=24", "/cfg/if/act/Gi0/0/0/1/ptp/pi/enable=1",
          "/cfg/if/act/Gi0/0/0/1/ptp/pi/profile=3"}},
        {"set and delete carry old and new values; an apply's warning is reported, the commit applied",
         {{"/cfg/if/act/Gi0/0/0/1/ptp/pi/profile", 4},
          {"/cfg/if/act/Gi0/0/0/1/ptp/pi/warn", 1},
          {"/cfg/gl/ptp/pi/domain", -1}},
         NODRA_COMMIT_RESULT_APPLIED,
         {"/cfg/if/act/Gi0/0/0/1/ptp/pi/warn 1207092224 "},
         {"verify SUB Gi0/0/0/1/ptp/pi/profile ev2 1/2 3>4", "verify SUB Gi0/0/0/1/ptp/pi/warn ev1 2/2 ->1",
          "apply SUB Gi0/0/0/1/ptp/pi/profile ev2 1/2 3>4", "apply SUB Gi0/0/0/1/ptp/pi/warn ev1 2/2 ->1",
          "notify NFY ptp/pi/domain ev4 1/1 24>- end"},
         {"/cfg/if/act/Gi0/0/0/1/ptp/pi/enable=1", "/cfg/if/act/Gi0/0/0/1/ptp/pi/profile=4",
          "/cfg/if/act/Gi0/0/0/1/ptp/pi/warn=1"}},
        {"an item no registration verifies is stored as given",
         {{"/cfg/other/thing", 9}},
         NODRA_COMMIT_RESULT_APPLIED,
         {},
         {},
         {"/cfg/if/act/Gi0/0/0/1/ptp/pi/enable=1", "/cfg/if/act/Gi0/0/0/1/ptp/pi/profile=4",
          "/cfg/if/act/Gi0/0/0/1/ptp/pi/warn=1", "/cfg/other/thing=9"}},
    };
    uint32_t last_seq = 0;
    for (const case_type &tc : cases) {
        SCOPED_TRACE(tc.what);
        nodra_commit_result_td result = commit(tc.ops);
        EXPECT_EQ(result.outcome, tc.outcome);
        std::vector<std::string> issues;
        for (const auto &i : result.outcome == NODRA_COMMIT_RESULT_REJECTED ? result.failures : result.warnings)
            issues.push_back(i.path + " " + std::to_string(i.code) + " " + i.text);
        EXPECT_EQ(issues, tc.issues);
        EXPECT_EQ(seen(), tc.log);
        EXPECT_EQ(stored(), tc.store);
        EXPECT_GT(result.sequence, last_seq);
        last_seq = result.sequence;
    }
}

// A verifier whose event manager was destroyed without unregistering (a thread of a process that
// ended) can answer nothing: the commit goes on without it, and a manager made afterwards (in the
// optimised build often at the freed manager's address) gets its own callbacks.
TEST_F(CommitTest, AVerifierWhoseManagerIsGoneHoldsNoCommitUp)
{
    uint32_t gone_reg = 0;
    {
        evm_thread gone;
        gone.run([&] { ASSERT_EQ(register_verifier(gone.evm, 1, &gone_reg), ZERR_OK); });
    }
    evm_thread next;
    uint32_t next_reg = 0;
    next.run([&] { ASSERT_EQ(register_verifier(next.evm, 2, &next_reg), ZERR_OK); });
    names_.emplace_back("r" + std::to_string(gone_reg), "GONE");
    names_.emplace_back("r" + std::to_string(next_reg), "NEXT");
    EXPECT_EQ(commit({{"/cfg/if/act/Gi0/0/0/4/ptp/pi/profile", 2}}).outcome, NODRA_COMMIT_RESULT_APPLIED);
    EXPECT_EQ(nodra_test_sync(next.evm), ZERR_OK);
    next.drain();
    EXPECT_EQ(seen(), (std::vector<std::string>{"verify SUB Gi0/0/0/4/ptp/pi/profile ev1 1/1 ->2",
                                                "verify NEXT Gi0/0/0/4/ptp/pi/profile ev1 1/1 ->2",
                                                "apply SUB Gi0/0/0/4/ptp/pi/profile ev1 1/1 ->2",
                                                "apply NEXT Gi0/0/0/4/ptp/pi/profile ev1 1/1 ->2"}));
    next.run([&] { EXPECT_EQ(nodra_verification_unregister(next_reg), ZERR_OK); });
    EXPECT_EQ(nodra_verification_unregister(gone_reg), NODRA_ERR_NOT_FOUND);
}

// A verifier that never answers (no thread serves its manager): the committer gets the database's
// time-out instead of waiting for ever, and the commit goes on when the verifier answers at last.
TEST_F(CommitTest, ACommitWhoseVerifierDoesNotAnswerTimesOut)
{
    event_mgr_type *unserved = event_create_manager(nullptr, nullptr, 0);
    uint32_t reg = 0;
    ASSERT_EQ(register_verifier(unserved, 1, &reg), ZERR_OK);
    names_.emplace_back("r" + std::to_string(reg), "LATE");

    nodra_commit_td *c = nullptr;
    ASSERT_EQ(nodra_commit_create(&c), ZERR_OK);
    const uint32_t v = 5;
    ASSERT_EQ(nodra_commit_set(c, "/cfg/if/act/Gi0/0/0/5/ptp/pi/profile", NODRA_ITEM_DATATYPE_UINT32, &v, 4), ZERR_OK);
    nodra_commit_result_td result{};
    sockmsg_set_timeout_ms(100);
    EXPECT_EQ(nodra_commit_apply(c, &result), NODRA_ERR_TIMEOUT);
    sockmsg_set_timeout_ms(0);
    nodra_commit_free(c);
    EXPECT_STREQ(zerr_strerror(NODRA_ERR_TIMEOUT), "The database did not answer in time");

    // Its verification, then its apply, as the manager is served at last.
    const auto lines = [] {
        std::lock_guard guard(rec.lock);
        return rec.log.size();
    };
    for (int i = 0; i < 5000 && lines() < 4; ++i) {
        evm_run_until_idle(unserved);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(seen(), (std::vector<std::string>{"verify SUB Gi0/0/0/5/ptp/pi/profile ev1 1/1 ->5",
                                                "verify LATE Gi0/0/0/5/ptp/pi/profile ev1 1/1 ->5",
                                                "apply SUB Gi0/0/0/5/ptp/pi/profile ev1 1/1 ->5",
                                                "apply LATE Gi0/0/0/5/ptp/pi/profile ev1 1/1 ->5"}));
    const std::vector<std::string> items = stored();
    EXPECT_NE(std::find(items.begin(), items.end(), "/cfg/if/act/Gi0/0/0/5/ptp/pi/profile=5"), items.end());
    EXPECT_EQ(nodra_verification_unregister(reg), ZERR_OK);
    event_manager_destroy(unserved);
}

// A verifier that registers while a commit is being verified (an agent starting as the operator
// commits) was too late for its verification and too early for the replay: it applies the commit
// with the others.
TEST_F(CommitTest, AVerifierThatComesDuringACommitAppliesIt)
{
    evm_thread late;
    nodra_conn_td *conn = nullptr;
    uint32_t reg = 0;
    at_next_verify = [&] {
        late.run([&] {
            ASSERT_EQ(_nodra_bind(&conn, "/cfg/if/act/", 0), ZERR_OK);
            nodra_vrfn_fns_td fns;
            nodra_vrfn_fns_init(&fns);
            nodra_vrfn_fns_verify_init(&fns, on_verify);
            nodra_vrfn_fns_apply_init(&fns, on_apply);
            const char *all[] = {".*/ptp/pi/"};
            ASSERT_EQ(nodra_register_verification4(conn, all, 1, 7, &fns, late.evm, 0, 0, 0x14, &reg), ZERR_OK);
        });
    };
    EXPECT_EQ(commit({{"/cfg/if/act/Gi0/0/0/1/ptp/pi/profile", 7}}).outcome, NODRA_COMMIT_RESULT_APPLIED);
    EXPECT_EQ(nodra_test_sync(late.evm), ZERR_OK);
    late.drain();
    const std::vector<std::string> lines = seen();
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [&](const std::string &l) {
                               return l.starts_with("apply r" + std::to_string(reg) + " ") &&
                                      l.find("Gi0/0/0/1/ptp/pi/profile") != std::string::npos;
                           }),
              lines.end())
        << ::testing::PrintToString(lines);
    late.run([&] {
        EXPECT_EQ(nodra_verification_unregister(reg), ZERR_OK);
        _nodra_unbind(conn);
    });
}

TEST_F(CommitTest, BatchFollowsAnswersTruthfully)
{
    rec.ask_follows = true;
    commit({{"/cfg/if/act/Gi0/0/0/2/ptp/pi/enable", 1}, {"/cfg/if/act/Gi0/0/0/2/ptp/pi/profile", 1}});
    EXPECT_EQ(seen(), (std::vector<std::string>{
                          "verify EN Gi0/0/0/2/ptp/pi/enable ev1 1/1 ->1 follows",
                          "verify SUB Gi0/0/0/2/ptp/pi/profile ev1 1/1 ->1 follows",
                          "apply EN Gi0/0/0/2/ptp/pi/enable ev1 1/1 ->1 follows",
                          "apply SUB Gi0/0/0/2/ptp/pi/profile ev1 1/1 ->1 last",
                      }));
}

TEST_F(CommitTest, ParkedApplyCompletesWhenResumed)
{
    nodra_commit_result_td result =
        commit({{"/cfg/if/act/Gi0/0/0/3/ptp/pi/a-park", 1}, {"/cfg/if/act/Gi0/0/0/3/ptp/pi/b-warn", 2}});
    EXPECT_EQ(result.outcome, NODRA_COMMIT_RESULT_PENDING);
    EXPECT_EQ(seen(), (std::vector<std::string>{"verify SUB Gi0/0/0/3/ptp/pi/a-park ev1 1/2 ->1",
                                                "verify SUB Gi0/0/0/3/ptp/pi/b-warn ev1 2/2 ->2",
                                                "apply SUB Gi0/0/0/3/ptp/pi/a-park ev1 1/2 ->1"}));
    ASSERT_EQ(rec.parked.size(), 1u);
    auto status = [&] {
        nodra_commit_result_td st{};
        EXPECT_EQ(nodra_commit_status(result.sequence, &st), ZERR_OK);
        std::string out = std::to_string(st.outcome);
        for (const auto &w : st.warnings)
            out += " " + w.path + "=" + std::to_string(w.code);
        return out;
    };
    EXPECT_EQ(status(), "1"); // pending
    // The parked item stays readable until resumed; the rest of its batch follows then, and the
    // resumed result and the later warnings complete the commit's record.
    EXPECT_STREQ(rec.parked[0]->path, "Gi0/0/0/3/ptp/pi/a-park");
    client_.run([] { EXPECT_EQ(nodra_resume_apply(rec.parked[0], bad_code), ZERR_OK); });
    EXPECT_EQ(seen(), (std::vector<std::string>{"apply SUB Gi0/0/0/3/ptp/pi/b-warn ev1 2/2 ->2"}));
    EXPECT_EQ(status(), "0 /cfg/if/act/Gi0/0/0/3/ptp/pi/a-park=" + std::to_string(bad_code) +
                            " /cfg/if/act/Gi0/0/0/3/ptp/pi/b-warn=" + std::to_string(warn_code));
    client_.run([] { EXPECT_EQ(nodra_resume_apply(rec.parked[0], ZERR_OK), NODRA_ERR_NOT_FOUND); });
    // The next commit is not held up by the parked one.
    const nodra_commit_result_td next = commit({{"/cfg/if/act/Gi0/0/0/3/ptp/pi/c", 3}});
    EXPECT_EQ(next.outcome, NODRA_COMMIT_RESULT_APPLIED);
    nodra_commit_result_td st{};
    EXPECT_EQ(nodra_commit_status(next.sequence, &st), ZERR_OK);
    EXPECT_EQ(st.outcome, NODRA_COMMIT_RESULT_APPLIED);
    EXPECT_EQ(nodra_commit_status(next.sequence + 1000, &st), NODRA_ERR_NOT_FOUND);
}

// A callback that acts once per batch: at the last item it reads the whole batch, deletes first,
// then the rest, as the global configuration's consumers do.
zerrno on_notify_batch(const nodra_notify_event_info_td *e, void *, const void *)
{
    if (e->batch == 0)
        return ZERR_OK;
    nodra_notify_batch_td *list = nullptr;
    EXPECT_EQ(nodra_notify_batch_list_create(e, &list), ZERR_OK);
    std::string line = "batch";
    for (bool deletes : {true, false}) {
        EXPECT_EQ(nodra_notify_batch_list_start(list), ZERR_OK);
        const nodra_notify_event_info_td *item = nullptr;
        while (nodra_notify_batch_list_next(list, &item) == ZERR_OK)
            if (((item->event & NODRA_EVENT_DELETE) != 0) == deletes)
                line +=
                    " " + std::string(item->path) + "=" + value_text(item->datatype, item->new_data, item->new_length);
        EXPECT_EQ(item, nullptr);
    }
    rec.add(line);
    EXPECT_EQ(nodra_notify_batch_list_free(list), ZERR_OK);
    return ZERR_OK;
}

TEST_F(CommitTest, NotificationCallbacksReadTheirWholeBatch)
{
    commit({{"/cfg/gl/ptp/pi/a", 1}, {"/cfg/gl/ptp/pi/b", 2}});
    seen();
    uint32_t id = 0;
    client_.run([&] {
        ASSERT_EQ(
            _nodra_register_notification(gl_, "ptp/pi/", 7, 2, on_notify_batch, client_.evm, nullptr, nullptr, 0, &id),
            ZERR_OK);
    });
    // The replay at registration is a batch too.
    EXPECT_EQ(rec.take(), std::vector<std::string>{"batch ptp/pi/a=1 ptp/pi/b=2"});
    commit({{"/cfg/gl/ptp/pi/c", 3}, {"/cfg/gl/ptp/pi/a", -1}, {"/cfg/gl/ptp/pi/b", 4}});
    const std::vector<std::string> log = seen();
    EXPECT_EQ(std::count(log.begin(), log.end(), "batch ptp/pi/a=- ptp/pi/b=4 ptp/pi/c=3"), 1);
    nodra_notify_batch_td *list = nullptr;
    nodra_notify_event_info_td stranger{};
    EXPECT_EQ(nodra_notify_batch_list_create(&stranger, &list), NODRA_ERR_NOT_FOUND);
    EXPECT_EQ(list, nullptr);
    client_.run([&] { EXPECT_EQ(nodra_notification_unregister(id), ZERR_OK); });
}

TEST_F(CommitTest, RegistrationReplaysTheMatchingConfiguration)
{
    commit({{"/cfg/if/act/Gi0/0/0/4/ptp/pi/enable", 1},
            {"/cfg/if/act/Gi0/0/0/4/ptp/pi/profile", 5},
            {"/cfg/gl/ptp/pi/domain", 7},
            {"/cfg/gl/ptp/pi/clock/priority1", 9},
            {"/cfg/gl/other", 1}});
    seen();
    evm_thread late;
    late.run([&] {
        nodra_conn_td *gl = nullptr;
        ASSERT_EQ(_nodra_bind(&gl, "/cfg/gl/", 0), ZERR_OK);
        uint32_t id = 0;
        ASSERT_EQ(_nodra_register_notification(gl, "ptp/pi/domain|other", 7, 2, on_notify, late.evm, nullptr, nullptr,
                                               0, &id),
                  ZERR_OK);
        // Replayed before the registration returned.
        std::vector<std::string> log = rec.take();
        const std::string r = "r" + std::to_string(id);
        EXPECT_EQ(log, (std::vector<std::string>{"notify " + r + " ptp/pi/domain ev1 1/1 ->7 end"}));
        uint32_t id2 = 0;
        ASSERT_EQ(
            _nodra_register_notification(gl, "ptp/.*/priority1", 7, 2, on_notify, late.evm, nullptr, nullptr, 0, &id2),
            ZERR_OK);
        EXPECT_EQ(rec.take(), (std::vector<std::string>{"notify r" + std::to_string(id2) +
                                                        " ptp/pi/clock/priority1 ev1 1/1 ->9 end"}));
        EXPECT_EQ(nodra_notification_unregister(id), ZERR_OK);
        EXPECT_EQ(nodra_notification_unregister(id2), ZERR_OK);
        _nodra_unbind(gl);
    });
}

TEST_F(CommitTest, BadRequestsChangeNothing)
{
    nodra_commit_td *c = nullptr;
    ASSERT_EQ(nodra_commit_create(&c), ZERR_OK);
    nodra_commit_set(c, "relative/path", NODRA_ITEM_DATATYPE_UINT32, "abcd", 4);
    nodra_commit_result_td result{};
    EXPECT_EQ(nodra_commit_apply(c, &result), NODRA_ERR_INVALID);
    nodra_commit_free(c);
    EXPECT_TRUE(stored().empty());
    EXPECT_TRUE(seen().empty());
}

} // namespace
