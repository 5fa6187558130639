// The process entry: start-up and teardown order as the modules see it, the decision to go
// active, failures at each step with their syslog text and exit status, the logical-router
// event, and a termination signal.
#include "tessel_main.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <future>
#include <thread>

#include "chassis.h"
#include "jotlog_test.h"
#include "qor_log.h"
#include "sysmgr_test.h"
#include "tessel_main_test_fake.h"

namespace {

using calls_type = std::vector<std::string>;

const calls_type TEARDOWN = {"edm_shutdown",    "cfg_shutdown",         "caps_shutdown", "im_shutdown",
                             "ipc_state_reset", "thread_ctrl_shutdown", "ipc_db_destroy"};

calls_type join(calls_type a, const calls_type &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const char *CHASSIS = R"(
[[node]]
name = "0/RP0/CPU0"
id = 0x0
role = "rp"
kvolm = true
[[node]]
name = "0/RP1/CPU0"
id = 0x10
role = "rp"
[[node]]
name = "0/0/CPU0"
id = 0x20
role = "lc"
)";

constexpr uint32_t RP_KVOLM = 0x0;
constexpr uint32_t RP_OTHER = 0x10;
constexpr uint32_t LC = 0x20;

std::vector<std::string> syslog_texts()
{
    std::vector<std::string> out;
    for (const qor_captured_msg &m : qor_errmsg_captured()) {
        out.push_back(m.text);
    }
    return out;
}

class Main : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::string error;
        ASSERT_EQ(chassis_load_text(CHASSIS, "test", &desc, &error), 0u) << error;
        // The entry's signal thread takes the termination signals; no other thread may.
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGINT);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
    }
    void SetUp() override
    {
        run_dir = jotlog_test_run_dir_create("tessel_main_test");
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();
        sysmgr_test_reset();
        sysmgr_test_set_chassis(desc);
        tessel_main_test_reset();
        std::lock_guard<std::mutex> g(main_fake_mutex);
        main_fake = main_fake_state_type{};
        main_fake.cfg_init_requests_exit = true;
    }
    void TearDown() override
    {
        sysmgr_test_reset();
        jotlog_test_run_dir_remove(run_dir);
    }
    void fail(const char *what, zerrno rc)
    {
        std::lock_guard<std::mutex> g(main_fake_mutex);
        main_fake.failing = what;
        main_fake.failing_result = rc;
    }
    static chassis_desc_type *desc;
    std::string run_dir;
};
chassis_desc_type *Main::desc;

// A line card (and the KVOLM node) goes active before configuration is taken in; the exit flag
// set during start-up skips the loop, and the process still returns 0.
TEST_F(Main, LineCardAndKvolmGoActiveAtOnce)
{
    for (uint32_t node : {LC, RP_KVOLM}) {
        SetUp();
        sysmgr_test_set_node(node);
        EXPECT_EQ(tessel_main(), 0);
        const calls_type expected =
            join({"chkpt_init", "caps_init", "thread_ctrl_init", "im_init", "edm_init", "ipc_db_init", "cfg_init"},
                 TEARDOWN);
        EXPECT_EQ(main_fake_calls(), expected) << std::hex << node;
        EXPECT_TRUE(tessel_main_is_active());
        EXPECT_EQ(sysmgr_test_ready_count(), 1u);
        EXPECT_EQ(sysmgr_test_exiting_count(), 1u);
        EXPECT_TRUE(syslog_texts().empty());
        // The process traces its start, going active and its exit.
        const std::vector<std::string> sum = jotlog_test_records("ptp/tessel/sum", nullptr);
        ASSERT_EQ(sum.size(), 3u);
        EXPECT_EQ(sum[0], "0x100000()");
        EXPECT_EQ(sum[1], "0x100002()");
        EXPECT_EQ(sum[2], "0x100001()");
        TearDown();
    }
}

// The packet module and the state machine trace into the packet buffer while the process runs,
// and no longer once it has closed its buffers.
TEST_F(Main, PacketTracesGoToThePacketBuffer)
{
    sysmgr_test_set_node(LC);
    EXPECT_EQ(tessel_main(), 0);
    EXPECT_EQ(jotlog_test_records("ptp/tessel/pkt", nullptr), (std::vector<std::string>{"0x1()", "0x2()"}));
    std::lock_guard<std::mutex> g(main_fake_mutex);
    EXPECT_EQ(main_fake.packet_trace, nullptr);
    EXPECT_EQ(main_fake.fsm_packet_trace, nullptr);
}

// A failing step of the go-active chain stops the chain but not the start-up.
TEST_F(Main, GoActiveFailureDoesNotStopStartUp)
{
    sysmgr_test_set_node(LC);
    fail("thread_ctrl_init", 0x47f29400);
    EXPECT_EQ(tessel_main(), 0);
    EXPECT_EQ(main_fake_calls(),
              join({"chkpt_init", "caps_init", "thread_ctrl_init", "ipc_db_init", "cfg_init"}, TEARDOWN));
}

struct failure_case {
    const char *step;
    calls_type before; // the calls up to and with the failing one
};

// Every start-up failure: teardown in full order and exit status 1.
TEST_F(Main, StartUpFailuresTearDownAndReturnOne)
{
    const failure_case cases[] = {
        {"chkpt_init", {"chkpt_init"}},
        {"caps_init", {"chkpt_init", "caps_init"}},
        {"ipc_db_init", {"chkpt_init", "caps_init", "thread_ctrl_init", "im_init", "edm_init", "ipc_db_init"}},
        {"cfg_init", {"chkpt_init", "caps_init", "thread_ctrl_init", "im_init", "edm_init", "ipc_db_init", "cfg_init"}},
    };
    for (const failure_case &c : cases) {
        SetUp();
        sysmgr_test_set_node(LC);
        fail(c.step, 0x47f28200);
        EXPECT_EQ(tessel_main(), 1) << c.step;
        EXPECT_EQ(main_fake_calls(), join(c.before, TEARDOWN)) << c.step;
        EXPECT_EQ(sysmgr_test_ready_count(), 0u) << c.step;
        TearDown();
    }
}

TEST_F(Main, KvolmQueryFailureEndsStartUp)
{
    // A node the chassis does not describe: the logical-router daemon cannot answer.
    sysmgr_test_set_node(0x999);
    EXPECT_EQ(tessel_main(), 1);
    EXPECT_EQ(main_fake_calls(), join({"chkpt_init", "caps_init"}, TEARDOWN));
    const std::vector<std::string> texts = syslog_texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].rfind("Failed to initialize: Failed to find KVOLM satet: ", 0), 0u) << texts[0];
}

// Elsewhere the agent takes configuration in and waits: the logical-router event of kind 4 makes
// it active, once; other kinds and repeats change nothing. A termination signal then stops it
// through the normal teardown.
TEST_F(Main, OtherNodeWaitsForTheLogicalRouterEvent)
{
    sysmgr_test_set_node(RP_OTHER);
    {
        std::lock_guard<std::mutex> g(main_fake_mutex);
        main_fake.cfg_init_requests_exit = false;
    }
    std::future<int> status = std::async(std::launch::async, [] { return tessel_main(); });
    auto wait_for = [](size_t n) {
        for (int i = 0; i < 5000 && main_fake_calls().size() < n; i++) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    wait_for(4);
    for (int i = 0; i < 5000 && sysmgr_test_ready_count() == 0; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const calls_type started = {"chkpt_init", "caps_init", "ipc_db_init", "cfg_init"};
    EXPECT_EQ(main_fake_calls(), started);
    EXPECT_EQ(sysmgr_test_target_node(), 0u);
    EXPECT_FALSE(tessel_main_is_active());

    sysmgr_test_fire_lr_event(3);
    sysmgr_test_fire_lr_event(4);
    wait_for(7);
    sysmgr_test_fire_lr_event(4);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(main_fake_calls(), join(started, {"thread_ctrl_init", "im_init", "edm_init"}));

    kill(getpid(), SIGTERM);
    ASSERT_EQ(status.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(status.get(), 0);
    EXPECT_EQ(main_fake_calls(), join(join(started, {"thread_ctrl_init", "im_init", "edm_init"}), TEARDOWN));
    // Stopped by a signal, not leaving by itself: the process manager may start it again.
    EXPECT_EQ(sysmgr_test_exiting_count(), 0u);
}

// The event's chain stops at the first failure and returns it.
TEST_F(Main, LogicalRouterEventReturnsTheFailingStep)
{
    fail("im_init", 0x47f29000);
    const sysmgr_lr_event_type other{3, 0};
    EXPECT_EQ(tessel_main_lr_event(&other, nullptr), 0);
    EXPECT_TRUE(main_fake_calls().empty());
    const sysmgr_lr_event_type ev{4, 0};
    EXPECT_EQ(static_cast<uint32_t>(tessel_main_lr_event(&ev, nullptr)), 0x47f29000u);
    EXPECT_EQ(main_fake_calls(), (calls_type{"thread_ctrl_init", "im_init"}));
    // Already active: a repeated event starts nothing.
    EXPECT_EQ(tessel_main_lr_event(&ev, nullptr), 0);
    EXPECT_EQ(main_fake_calls().size(), 2u);
}

} // namespace
