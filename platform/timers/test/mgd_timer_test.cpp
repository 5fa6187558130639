#include "mgd_timer.h"

#include "evm_test.h"
#include "plat_clock_test.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

// A tree on an asynchronous event of a manager run by the test thread, on virtual time. The
// event handler works like the agent's: at most `slice` leaves per turn, then it posts the event
// again when it used the whole slice.
struct mgd_fixture : ::testing::Test {
    event_mgr_type *evm = nullptr;
    event_async_ctx_type event{};
    mgd_timer_tree *tree = nullptr;
    uint64_t t0 = 0;
    unsigned slice = 100;
    std::vector<unsigned> turns;  // leaves handled per turn of the handler
    std::vector<std::string> log; // what ran, in order
    using leaf_fn = void (*)(mgd_fixture *fx, mgd_timer_leaf *leaf);

    void SetUp() override
    {
        plat_clock_use_virtual();
        t0 = fts_get_stamp_fast();
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_GE(event_async_attach_event(evm, 128, on_event, this, &event), 0);
        tree = mgd_timer_tree_new(&event, 1);
        ASSERT_NE(tree, nullptr);
    }
    void TearDown() override
    {
        if (tree != nullptr)
            mgd_timer_tree_free(tree);
        event_manager_destroy(evm);
        plat_clock_use_real();
    }
    uint64_t now_ms() const { return (fts_get_stamp_fast() - t0) / 1000000ull; }

    static int on_event(const event_async_ctx_type *ev, int32_t, void *ctx)
    {
        auto *fx = static_cast<mgd_fixture *>(ctx);
        unsigned handled = 0;
        while (handled < fx->slice) {
            mgd_timer_leaf *leaf = mgd_timer_tree_first_expired(fx->tree);
            if (leaf == nullptr)
                break;
            EXPECT_EQ(mgd_timer_leaf_stop(leaf), ZERR_OK);
            auto fn = reinterpret_cast<leaf_fn>(mgd_timer_leaf_get_addl_context(leaf, 0));
            fn(fx, leaf);
            ++handled;
        }
        fx->turns.push_back(handled);
        if (handled == fx->slice)
            event_send_async(ev->coid, ev->code, 0);
        return 0;
    }
    static void note(mgd_fixture *fx, mgd_timer_leaf *leaf)
    {
        fx->log.push_back(std::to_string(reinterpret_cast<uintptr_t>(mgd_timer_leaf_get_context(leaf))) + "@" +
                          std::to_string(fx->now_ms()));
    }
    mgd_timer_leaf *leaf(uintptr_t id, leaf_fn fn = note, mgd_timer_parent *parent = nullptr)
    {
        mgd_timer_leaf *l = mgd_timer_leaf_new(tree, parent, 0, reinterpret_cast<void *>(id));
        EXPECT_NE(l, nullptr);
        EXPECT_EQ(mgd_timer_leaf_set_addl_context(l, 0, reinterpret_cast<void *>(fn)), ZERR_OK);
        return l;
    }
    static void start(mgd_timer_leaf *l, time_t s, long ns)
    {
        struct timespec t {
            s, ns
        };
        EXPECT_EQ(mgd_timer_leaf_start(l, &t), ZERR_OK);
    }
};

} // namespace

TEST_F(mgd_fixture, LeavesExpireInOrderOnePostPerBurst)
{
    const struct {
        uintptr_t id;
        time_t s;
        long ns;
    } table[] = {{1, 5, 0}, {2, 1, 500000000}, {3, 0, 1}, {4, 1, 500000000}, {5, 3, 0}};
    for (const auto &row : table)
        start(leaf(row.id), row.s, row.ns);
    EXPECT_TRUE(mgd_timer_tree_running(tree));
    ASSERT_EQ(plat_clock_advance_s(10), ZERR_OK);
    EXPECT_EQ(log, (std::vector<std::string>{"3@0", "2@1500", "4@1500", "5@3000", "1@5000"}));
    // Four distinct expiry instants, one post (and one turn) each.
    EXPECT_EQ(turns, (std::vector<unsigned>{1, 2, 1, 1}));
    EXPECT_FALSE(mgd_timer_tree_running(tree));
    EXPECT_EQ(mgd_timer_tree_leaf_count(tree), 5u);
}

TEST_F(mgd_fixture, ExpiryBurstIsHandledInSlices)
{
    const struct {
        unsigned leaves;
        std::vector<unsigned> turns;
    } cases[] = {
        {250, {100, 100, 50}},
        {100, {100, 0}}, // the re-post finds nothing
        {99, {99}},
    };
    for (const auto &c : cases) {
        turns.clear();
        std::vector<mgd_timer_leaf *> leaves;
        for (unsigned i = 0; i < c.leaves; ++i) {
            leaves.push_back(leaf(i, [](mgd_fixture *, mgd_timer_leaf *) {}));
            start(leaves.back(), 2, 0);
        }
        ASSERT_EQ(plat_clock_advance_ms(1999), ZERR_OK);
        EXPECT_TRUE(turns.empty());
        ASSERT_EQ(plat_clock_advance_ms(1), ZERR_OK);
        EXPECT_EQ(turns, c.turns) << c.leaves;
        EXPECT_EQ(mgd_timer_tree_running_count(tree), 0u);
        for (mgd_timer_leaf *l : leaves)
            mgd_timer_leaf_free(l);
    }
}

TEST_F(mgd_fixture, OtherEventsRunBetweenSlices)
{
    static event_async_ctx_type other;
    ASSERT_GE(event_async_attach_event(
                  evm, 128,
                  [](const event_async_ctx_type *, int32_t, void *ctx) {
                      static_cast<mgd_fixture *>(ctx)->log.push_back("other");
                      return 0;
                  },
                  this, &other),
              0);
    for (uintptr_t i = 0; i < 250; ++i)
        start(leaf(i,
                   [](mgd_fixture *fx, mgd_timer_leaf *l) {
                       // Something else arrives while the first slice runs.
                       if (mgd_timer_leaf_get_context(l) == nullptr)
                           event_send_async(other.coid, other.code, 0);
                       fx->log.push_back("leaf");
                   }),
              1, 0);
    ASSERT_EQ(plat_clock_advance_s(1), ZERR_OK);
    ASSERT_EQ(log.size(), 251u);
    EXPECT_EQ(log[100], "other");
    EXPECT_EQ(turns, (std::vector<unsigned>{100, 100, 50}));
}

TEST_F(mgd_fixture, HandlerMayRestartOrFreeItsOwnLeaf)
{
    static mgd_timer_leaf *periodic;
    static mgd_timer_leaf *once;
    periodic = leaf(1, [](mgd_fixture *fx, mgd_timer_leaf *l) {
        EXPECT_FALSE(mgd_timer_leaf_running(l)); // stopped before its handler
        note(fx, l);
        start(l, 2, 0);
    });
    once = leaf(2, [](mgd_fixture *fx, mgd_timer_leaf *l) {
        note(fx, l);
        EXPECT_EQ(mgd_timer_leaf_free(l), ZERR_OK);
        once = nullptr;
    });
    start(periodic, 2, 0);
    start(once, 3, 0);
    ASSERT_EQ(plat_clock_advance_s(7), ZERR_OK);
    EXPECT_EQ(log, (std::vector<std::string>{"1@2000", "2@3000", "1@4000", "1@6000"}));
    EXPECT_EQ(once, nullptr);
    EXPECT_EQ(mgd_timer_tree_leaf_count(tree), 1u);
    struct timespec left {};
    ASSERT_EQ(mgd_timer_leaf_remaining(periodic, &left), ZERR_OK);
    EXPECT_EQ(left.tv_sec, 1);
    EXPECT_EQ(left.tv_nsec, 0);
}

TEST_F(mgd_fixture, ZeroTimeOutStartedAfterAPostStillFires)
{
    mgd_timer_leaf *a = leaf(1);
    start(a, 1, 0);
    ASSERT_EQ(plat_clock_advance_s(1), ZERR_OK);
    ASSERT_EQ(log.size(), 1u);
    // Same instant as the last post, started from outside the tree's handler.
    mgd_timer_leaf *b = leaf(2);
    start(b, 0, 0);
    plat_clock_settle();
    EXPECT_EQ(log, (std::vector<std::string>{"1@1000", "2@1000"}));
}

TEST_F(mgd_fixture, StartingARunningLeafMovesItsExpiryAndStopKeepsItQuiet)
{
    mgd_timer_leaf *l = leaf(1);
    start(l, 5, 0);
    ASSERT_EQ(plat_clock_advance_s(3), ZERR_OK);
    start(l, 5, 0);
    ASSERT_EQ(plat_clock_advance_s(4), ZERR_OK);
    EXPECT_TRUE(log.empty());
    ASSERT_EQ(plat_clock_advance_s(1), ZERR_OK);
    EXPECT_EQ(log, (std::vector<std::string>{"1@8000"}));
    start(l, 1, 0);
    EXPECT_EQ(mgd_timer_leaf_stop(l), ZERR_OK);
    EXPECT_EQ(mgd_timer_leaf_stop(l), ZERR_OK);
    struct timespec left {};
    EXPECT_EQ(mgd_timer_leaf_remaining(l, &left), MGD_TIMER_ERR_NOT_RUNNING);
    ASSERT_EQ(plat_clock_advance_s(5), ZERR_OK);
    EXPECT_EQ(log.size(), 1u);
}

TEST_F(mgd_fixture, ParentsAndTreeFreeWhatIsBelowThem)
{
    mgd_timer_parent *grants = mgd_timer_parent_new(tree, nullptr);
    ASSERT_NE(grants, nullptr);
    mgd_timer_parent *inner = mgd_timer_parent_new(tree, grants);
    ASSERT_NE(inner, nullptr);
    start(leaf(1, note, inner), 1, 0);
    start(leaf(2, note, grants), 1, 0);
    mgd_timer_leaf *kept = leaf(3);
    start(kept, 1, 0);
    EXPECT_EQ(mgd_timer_parent_free(grants), MGD_TIMER_ERR_NOT_EMPTY);
    EXPECT_EQ(mgd_timer_tree_leaf_count(tree), 1u);
    ASSERT_EQ(plat_clock_advance_s(2), ZERR_OK);
    EXPECT_EQ(log, (std::vector<std::string>{"3@1000"}));

    mgd_timer_parent *empty = mgd_timer_parent_new(tree, nullptr);
    EXPECT_EQ(mgd_timer_parent_free(empty), ZERR_OK);
    EXPECT_EQ(mgd_timer_tree_free(tree), MGD_TIMER_ERR_NOT_EMPTY);
    tree = nullptr;
}

TEST_F(mgd_fixture, InvalidArguments)
{
    mgd_timer_leaf *l = leaf(1);
    const struct timespec bad[] = {{-1, 0}, {0, -1}, {0, 1000000000}};
    for (const auto &t : bad)
        EXPECT_EQ(mgd_timer_leaf_start(l, &t), MGD_TIMER_ERR_INVALID);
    EXPECT_EQ(mgd_timer_leaf_start(l, nullptr), MGD_TIMER_ERR_INVALID);
    EXPECT_EQ(mgd_timer_leaf_set_addl_context(l, MGD_TIMER_ADDL_CONTEXTS, nullptr), MGD_TIMER_ERR_INVALID);
    errno = 0;
    EXPECT_EQ(mgd_timer_tree_new(nullptr, 1), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(mgd_timer_leaf_new(nullptr, nullptr, 0, nullptr), nullptr);
}
