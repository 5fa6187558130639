#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "evm.h"
#include "mgd_timer.h"
#include "plat_clock_test.h"
#include "ptp_zerr_codes.h"
#include "qor_log.h"
#include "tessel_mgd_timer.h"

namespace {

// What the handlers and the other event of the thread did, in order: 'L' per leaf handled,
// 'O' per other event.
std::string event_log;
size_t leaves_handled = 0;
size_t leaves_total = 0;
event_async_ctx_type other_event{};

// Another event of the protocol thread: it re-posts itself while leaves are still to run, so
// the log shows where other events got their turn.
int other_event_cb(const event_async_ctx_type *event, int32_t, void *)
{
    event_log.push_back('O');
    if (leaves_handled < leaves_total)
        event_send_async(event->coid, event->code, 0);
    return 0;
}

void burst_handler(void *)
{
    event_log.push_back('L');
    if (leaves_handled++ == 0)
        event_send_async(other_event.coid, other_event.code, 0);
}

// The protocol thread's manager, served by the test thread on virtual time.
class TesselMgdTimer : public ::testing::Test {
protected:
    void SetUp() override
    {
        static uint64_t start_s = 100000;
        start_s += 3600; // no rate limit carries over between tests
        plat_clock_use_virtual_at(start_s * 1000000000ull, PLAT_CLOCK_VIRTUAL_WALL_START_S);
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();
        event_log.clear();
        leaves_handled = leaves_total = 0;
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_NE(evm, nullptr);
        ASSERT_EQ(tessel_mgd_timer_init(evm), ZERR_OK);
    }
    void TearDown() override
    {
        tessel_mgd_timer_shutdown();
        event_manager_destroy(evm);
        plat_clock_use_real();
    }

    static void start(mgd_timer_leaf *leaf, time_t sec)
    {
        timespec timeout{sec, 0};
        ASSERT_EQ(mgd_timer_leaf_start(leaf, &timeout), ZERR_OK);
    }

    event_mgr_type *evm = nullptr;
};

std::vector<size_t> leaf_runs(const std::string &log)
{
    std::vector<size_t> runs;
    size_t run = 0;
    for (char c : log + 'O') {
        if (c == 'L') {
            ++run;
        } else if (run != 0) {
            runs.push_back(run);
            run = 0;
        }
    }
    return runs;
}

TEST_F(TesselMgdTimer, BurstRunsInSlicesOfHundred)
{
    ASSERT_GE(event_async_attach_event(evm, 1, other_event_cb, nullptr, &other_event), 0);
    mgd_timer_parent *grants = nullptr;
    ASSERT_EQ(tessel_mgd_timer_parent_new(nullptr, "Unicast grant", &grants), ZERR_OK);
    leaves_total = 250;
    std::vector<mgd_timer_leaf *> leaves(leaves_total);
    for (auto &leaf : leaves) {
        ASSERT_EQ(tessel_mgd_timer_leaf_new(grants, burst_handler, nullptr, "Announce grant", &leaf), ZERR_OK);
        start(leaf, 1);
    }
    ASSERT_EQ(plat_clock_advance_ms(1000), ZERR_OK);

    EXPECT_EQ(leaf_runs(event_log), (std::vector<size_t>{100, 100, 50})) << event_log;
    for (mgd_timer_leaf *leaf : leaves)
        EXPECT_FALSE(mgd_timer_leaf_running(leaf));
    tessel_mgd_timer_parent_free(grants);
}

struct SelfManaged {
    mgd_timer_leaf *leaf = nullptr;
    int runs = 0;
    bool running_on_entry = true;
    bool free_it = false;
};

void self_handler(void *context)
{
    auto *s = static_cast<SelfManaged *>(context);
    ++s->runs;
    s->running_on_entry = mgd_timer_leaf_running(s->leaf);
    if (s->free_it) {
        tessel_mgd_timer_leaf_free(s->leaf);
        s->leaf = nullptr;
    } else if (s->runs < 3) {
        timespec timeout{2, 0};
        mgd_timer_leaf_start(s->leaf, &timeout);
    }
}

// A handler sees its leaf stopped on entry, so that restarting it takes effect; freeing it there
// is safe too.
TEST_F(TesselMgdTimer, HandlerRestartsOrFreesItsLeaf)
{
    SelfManaged restarter, freer;
    freer.free_it = true;
    for (SelfManaged *s : {&restarter, &freer}) {
        ASSERT_EQ(tessel_mgd_timer_leaf_new(nullptr, self_handler, s, "test", &s->leaf), ZERR_OK);
        start(s->leaf, 1);
    }
    ASSERT_EQ(plat_clock_advance_s(1), ZERR_OK);
    EXPECT_EQ(restarter.runs, 1);
    EXPECT_FALSE(restarter.running_on_entry);
    EXPECT_TRUE(mgd_timer_leaf_running(restarter.leaf));
    ASSERT_EQ(plat_clock_advance_s(10), ZERR_OK);
    EXPECT_EQ(restarter.runs, 3); // at 1 s, 3 s and 5 s
    EXPECT_EQ(freer.runs, 1);
    EXPECT_EQ(freer.leaf, nullptr);
}

TEST_F(TesselMgdTimer, FailuresAndShutdown)
{
    mgd_timer_leaf *leaf = nullptr;
    EXPECT_EQ(tessel_mgd_timer_leaf_new(nullptr, nullptr, nullptr, "no handler", &leaf), PTP_ZERR_INVALID_ARG);

    tessel_mgd_timer_shutdown();
    tessel_mgd_timer_shutdown(); // tolerated
    EXPECT_EQ(tessel_mgd_timer_process(nullptr, 0, nullptr), 0);

    mgd_timer_parent *parent = reinterpret_cast<mgd_timer_parent *>(1);
    zerrno rc = tessel_mgd_timer_parent_new(nullptr, "Unicast grant", &parent);
    EXPECT_EQ(rc, static_cast<zerrno>(EINVAL));
    EXPECT_EQ(parent, nullptr);
    rc = tessel_mgd_timer_leaf_new(
        nullptr, [](void *) {}, nullptr, "Sync grant", &leaf);
    EXPECT_EQ(rc, static_cast<zerrno>(EINVAL));
    EXPECT_EQ(leaf, nullptr);

    auto msgs = qor_errmsg_captured();
    ASSERT_EQ(msgs.size(), 1u); // the second is held back by the message's rate limit
    EXPECT_EQ(msgs[0].mnemonic, "MGD_TIMER");
    EXPECT_EQ(msgs[0].text, "Unexpected error encountered whilst creating the Unicast grant timer parent: "
                            "Invalid argument");
}

} // namespace
