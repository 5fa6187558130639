// The process entry: start-up and teardown order per role, its failures with their syslog texts
// and exit statuses, the standby's wait for the checkpoint transfer, the KVOLM-active event and
// the dispatch of checkpoint notices. The other modules are recording fakes, except the
// configuration, which reads one seeded item from the in-process database: its start-up and
// teardown show as the platform's enable and disable. The platform services are the real ones,
// in-process.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "chassis.h"
#include "chkpt_test.h"
#include "issul.h"
#include "jotlog_test.h"
#include "nodra_test.h"
#include "plat_clock_test.h"
#include "qor_log.h"
#include "quorrin_fakes.h"
#include "quorrin_main.h"
#include "sysmgr_test.h"

namespace {

const std::vector<std::string> module_start = {
    "quorrin_ha_init",           "quorrin_platform_capability_init",
    "quorrin_leap_seconds_init", "quorrin_platform_enable", // the configuration's scan
    "quorrin_comms_init",        "quorrin_bmc_init",
    "quorrin_platform_start",    "quorrin_edm_init",
    "quorrin_port_num_init",     "quorrin_leap_seconds_start_updates",
};

constexpr size_t CFG_INDEX = 3;

// cfg_up: the configuration applied its item, so its shutdown disables the platform.
std::vector<std::string> teardown(bool normal, bool cfg_up = true)
{
    std::vector<std::string> out = {normal ? "quorrin_port_num_shutdown 1" : "quorrin_port_num_shutdown 0",
                                    "quorrin_edm_shutdown", "quorrin_comms_shutdown"};
    if (cfg_up) {
        out.push_back("quorrin_platform_disable");
    }
    out.insert(out.end(), {"quorrin_leap_seconds_shutdown", "quorrin_bmc_shutdown", "quorrin_platform_stop",
                           "quorrin_ha_shutdown"});
    return out;
}

std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> out;
    for (const std::vector<std::string> &part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

std::vector<std::string> syslog_lines()
{
    std::vector<std::string> out;
    for (const qor_captured_msg &m : qor_errmsg_captured()) {
        out.push_back(m.mnemonic + ": " + m.text);
    }
    return out;
}

class ProcessEntry : public ::testing::Test {
protected:
    void SetUp() override
    {
        run_dir = jotlog_test_run_dir_create("quorrin-main-test");
        quorrin_fake_reset();
        quorrin_fake_exit_when_running(true);
        chkpt_test_reset(":memory:");
        issul_test_reset();
        std::string error;
        ASSERT_EQ(chassis_load(chassis_sample_path(), &chassis, &error), 0u) << error;
        sysmgr_test_set_chassis(chassis);
        sysmgr_test_set_node(0x100);
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();
        nodra_test_reset();
        library = std::string(nodra_test_server_store()) + ".lib";
        std::fclose(std::fopen(library.c_str(), "w"));
        nodra_test_set_client_library_path(library.c_str());
        const uint32_t one = 1;
        ASSERT_EQ(nodra_test_item_set("/cfg/gl/ptp/pi/enable", NODRA_ITEM_DATATYPE_UINT32, &one, sizeof one), 0u);
    }
    void TearDown() override
    {
        EXPECT_EQ(nodra_test_open_bindings(), 0u);
        nodra_test_reset();
        std::remove(library.c_str());
        sysmgr_test_reset();
        chassis_free(chassis);
        issul_test_reset();
        chkpt_test_reset(":memory:");
        jotlog_test_run_dir_remove(run_dir);
    }

    std::string run_dir;
    std::string library;
    chassis_desc_type *chassis = nullptr;
};

// The KVOLM route processor and a line card (which never holds KVOLM) are both active at once:
// no wait for a transfer, no registration for the KVOLM event.
TEST_F(ProcessEntry, OnTheKvolmNodeAndOnALineCardStartsEveryModuleInOrderRunsAndTearsDownInReverse)
{
    const uint32_t nodes[] = {0x100, 0x010};
    for (uint32_t node : nodes) {
        SCOPED_TRACE(node);
        quorrin_fake_reset();
        quorrin_fake_exit_when_running(true);
        chkpt_test_reset(":memory:");
        sysmgr_test_reset();
        sysmgr_test_set_chassis(chassis);
        sysmgr_test_set_node(node);
        EXPECT_EQ(quorrin_main(0, nullptr), 0);
        EXPECT_EQ(quorrin_fake_calls(),
                  concat({module_start, {"quorrin_port_num_restore", "quorrin_edm_gl_init", "exit"}, teardown(true)}));
        EXPECT_EQ(sysmgr_test_ready_count(), 1u);
        EXPECT_EQ(sysmgr_test_exiting_count(), 1u);
        EXPECT_EQ(sysmgr_test_target_node(), UINT32_MAX);
        EXPECT_TRUE(syslog_lines().empty());
        EXPECT_TRUE(quorrin_main_is_kvolm_or_lc());
        EXPECT_EQ(quorrin_main_get_node_id(), node);
    }
}

TEST_F(ProcessEntry, AnUpgradeSecondaryReportsItsCheckpointMilestoneAndARetiringPrimaryLeavesThePlatformUp)
{
    quorrin_fake_ha_role() = 2;
    issul_test_set_role(1);
    EXPECT_EQ(quorrin_main(0, nullptr), 0);
    const std::vector<std::string> &calls = quorrin_fake_calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0], "quorrin_ha_init");
    EXPECT_EQ(calls[1], "quorrin_ha_milestone_met 2");

    quorrin_fake_reset();
    quorrin_fake_exit_when_running(true);
    chkpt_test_reset(":memory:");
    quorrin_fake_ha_role() = 3;
    EXPECT_EQ(quorrin_main(0, nullptr), 0);
    std::vector<std::string> expected = teardown(true);
    std::erase(expected, "quorrin_platform_stop");
    const std::vector<std::string> tail(quorrin_fake_calls().end() - static_cast<long>(expected.size()),
                                        quorrin_fake_calls().end());
    EXPECT_EQ(tail, expected);
}

TEST_F(ProcessEntry, AModuleThatFailsToStartEndsStartUpWithStatusOneAfterTheFullTeardown)
{
    for (size_t failing = 1; failing < module_start.size(); failing++) {
        SCOPED_TRACE(module_start[failing]);
        quorrin_fake_reset();
        chkpt_test_reset(":memory:");
        // The configuration fails at its bind, before its scan enables anything.
        const bool cfg = failing == CFG_INDEX;
        if (cfg) {
            nodra_test_fail(nodra_test_op::bind, NODRA_ERR_STORE, 1);
        } else {
            quorrin_fake_fail(module_start[failing], 0x47f29000);
        }
        EXPECT_EQ(quorrin_main(0, nullptr), 1);
        const std::vector<std::string> started(module_start.begin(),
                                               module_start.begin() + static_cast<long>(failing) + (cfg ? 0 : 1));
        EXPECT_EQ(quorrin_fake_calls(), concat({started, teardown(false, failing > CFG_INDEX)}));
        EXPECT_EQ(sysmgr_test_ready_count(), 0u);
    }
}

TEST_F(ProcessEntry, TheEntrysOwnStartUpFailuresRaiseTheirTextAndExitWithStatusOne)
{
    struct case_type {
        const char *what;
        void (*arrange)();
        std::string line;
    } cases[] = {
        {"checkpoint", [] { chkpt_test_fail(chkpt_test_op::INIT, CHKPT_ERR_STORAGE, 1); },
         "INIT_FAILED: Failed to initialize: Failed to initialize checkpoint: " +
             std::string(zerr_strerror(CHKPT_ERR_STORAGE))},
        {"node unknown", [] { sysmgr_test_set_node(0x999); },
         "INIT_FAILED: Failed to initialize: Failed to find KVOLM state: " +
             std::string(zerr_strerror(SYSMGR_ERR_NO_NODE))},
    };
    for (const case_type &c : cases) {
        SCOPED_TRACE(c.what);
        quorrin_fake_reset();
        chkpt_test_reset(":memory:");
        qor_errmsg_capture_clear();
        c.arrange();
        EXPECT_EQ(quorrin_main(0, nullptr), 1);
        EXPECT_EQ(syslog_lines(), (std::vector<std::string>{c.line}));
        EXPECT_EQ(quorrin_fake_calls(), teardown(false, false)) << "no module was started";
        EXPECT_EQ(sysmgr_test_ready_count(), 0u);
        sysmgr_test_set_node(0x100);
    }

    // The global operational data of the KVOLM node is part of start-up.
    quorrin_fake_reset();
    chkpt_test_reset(":memory:");
    qor_errmsg_capture_clear();
    quorrin_fake_fail("quorrin_edm_gl_init", 0x47f29000);
    EXPECT_EQ(quorrin_main(0, nullptr), 1);
    EXPECT_EQ(quorrin_fake_calls(),
              concat({module_start, {"quorrin_port_num_restore", "quorrin_edm_gl_init"}, teardown(false)}));
}

// Polls (real time) until cond holds or ten seconds passed.
template <typename Cond>
bool eventually(Cond cond)
{
    // Evaluated until it first holds and never again: a condition may act (the standby's
    // transfer is started by the first go-active that succeeds).
    for (int i = 0; i < 10000; i++) {
        if (cond()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

bool called(const std::string &call)
{
    const std::vector<std::string> calls = quorrin_fake_calls_copy();
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

TEST_F(ProcessEntry, AStandbyWithoutTheTransferGoesOnAfterTheIdtTimerAsAStandby)
{
    plat_clock_use_virtual();
    sysmgr_test_set_kvolm(false);
    std::atomic<bool> done{false};
    std::thread clock([&done] {
        while (!done) {
            plat_clock_advance_s(1);
        }
    });
    const int status = quorrin_main(0, nullptr);
    done = true;
    clock.join();
    plat_clock_use_real();

    EXPECT_EQ(status, 0);
    EXPECT_EQ(syslog_lines(), (std::vector<std::string>{"IDT_TIMER_FIRED: PTP Controller has not received all IDTs"}));
    // A standby binds no global operational data; it waits for the KVOLM role.
    EXPECT_EQ(quorrin_fake_calls(), concat({module_start, {"exit"}, teardown(true)}));
    EXPECT_EQ(sysmgr_test_target_node(), 0u);
    EXPECT_FALSE(quorrin_main_is_kvolm_or_lc());
    EXPECT_FALSE(quorrin_main_idt_timer_not_expired());
}

TEST_F(ProcessEntry, AStandbyThatReceivesTheTransferGoesOnAtOnceAndBecomesActiveOnTheKvolmEvent)
{
    // The primary registered the tables the standby waits for.
    chkpt_instance_type *primary = chkpt_test_instance_new(program_invocation_short_name);
    chkpt_test_instance_use(primary);
    event_mgr_type *primary_evm = event_create_manager(nullptr, nullptr, 0);
    chkpt_appdesc_type desc;
    chkpt_appdesc_init(&desc);
    std::strncpy(desc.name, "ptp", sizeof desc.name - 1);
    ASSERT_EQ(chkpt_init(primary_evm, &desc), 0u);
    ASSERT_EQ(chkpt_go_primary_active(), 0u);
    for (uint32_t table : {1u, 2u}) {
        chkpt_tbldesc_type tdesc;
        chkpt_tbldesc_init(&tdesc);
        tdesc.table_id = table;
        tdesc.record_size = 64;
        chkpt_tbl_type *handle = nullptr;
        ASSERT_EQ(chkpt_register(&tdesc, &handle), 0u);
    }
    chkpt_test_instance_use(nullptr);

    sysmgr_test_set_kvolm(false);
    quorrin_fake_exit_when_running(false);
    int status = -1;
    std::thread process([&status] { status = quorrin_main(0, nullptr); });
    // The standby goes active once its checkpoint is up: the transfer starts.
    ASSERT_TRUE(eventually([] { return chkpt_go_active() == 0; }));
    ASSERT_TRUE(eventually([] { return sysmgr_test_ready_count() == 1; }));
    EXPECT_EQ(quorrin_fake_calls_copy(), module_start);

    sysmgr_test_fire_lr_event(SYSMGR_LR_EVENT_KVOLM_ACTIVE);
    ASSERT_TRUE(eventually([] { return called("quorrin_edm_gl_init"); }));
    quorrin_fake_post_exit();
    process.join();

    EXPECT_EQ(status, 0);
    EXPECT_TRUE(syslog_lines().empty()) << "the transfer arrived before the timer";
    EXPECT_EQ(quorrin_fake_calls(),
              concat({module_start,
                      {"quorrin_bmc_go_primary_active", "quorrin_port_num_restore", "quorrin_edm_gl_init", "exit"},
                      teardown(true)}));
    EXPECT_TRUE(quorrin_main_is_kvolm_or_lc());
    EXPECT_TRUE(quorrin_main_idt_timer_not_expired());
    // Each table's transfer (traced by table), and each table's end once, seen before initialisation
    // was done.
    std::vector<std::string> tables, ends;
    for (const std::string &r : jotlog_test_records("ptp/quorrin/det")) {
        if (r.find("20001b(") != std::string::npos) {
            tables.push_back(r);
        } else if (r.find("20001c(") != std::string::npos || r.find("20001d(") != std::string::npos) {
            ends.push_back(r);
        }
    }
    EXPECT_NE(std::find(tables.begin(), tables.end(), "0x10020001b(1)"), tables.end());
    EXPECT_NE(std::find(tables.begin(), tables.end(), "0x10020001b(2)"), tables.end());
    EXPECT_EQ(ends, (std::vector<std::string>{"0x10020001c(0)", "0x10020001d(0)"}));

    chkpt_test_instance_free(primary);
    event_manager_destroy(primary_evm);
}

TEST_F(ProcessEntry, CheckpointNoticesGoToTheirTablesOwnerByUpgradeRole)
{
    struct case_type {
        uint32_t role;
        uint32_t table;
        const char *call; // null: ignored
    } cases[] = {
        {1, 0, "quorrin_bmc_chkpt_clock_ndt 0"},
        {1, 1, "quorrin_port_num_chkpt_ndt 1"},
        {1, 2, "quorrin_bmc_chkpt_clock_ndt 2"},
        {1, 3, "quorrin_leap_seconds_chkpt_gm_ndt 3"},
        {1, 4, nullptr},
        {2, 2, "quorrin_bmc_chkpt_global_ndt 2"},
        {2, 0, nullptr},
        {2, 1, nullptr},
        {3, 2, nullptr},
    };
    for (const case_type &c : cases) {
        quorrin_fake_reset();
        quorrin_fake_ha_role() = c.role;
        chkpt_ndt_type notice{};
        notice.type = CHKPT_NDT_SAVE;
        notice.table_id = c.table;
        EXPECT_EQ(quorrin_main_chkpt_ndt_cb(&notice), 0);
        const std::vector<std::string> expected =
            c.call != nullptr ? std::vector<std::string>{c.call} : std::vector<std::string>{};
        EXPECT_EQ(quorrin_fake_calls(), expected) << "role " << c.role << " table " << c.table;
    }
}

} // namespace
