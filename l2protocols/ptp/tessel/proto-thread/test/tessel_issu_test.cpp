// The upgrade client: role, milestones and role changes.
#include "evm_test.h"
#include "qor_log.h"
#include "tessel_pm_test_env.h"
#include "tessel_proto_db.h"

namespace {

class IssuTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        pm_fake_reset();
        issul_test_reset();
        evm = event_create_manager(nullptr, nullptr, 0);
        pm_debug_setup(evm);
        debug_set_area(PTP_DEBUG_PATH, "issu", nullptr);
        debug_capture_clear();
        ASSERT_EQ(tessel_proto_db_init(), 0u);
    }
    void TearDown() override
    {
        tessel_issu_fini();
        tessel_proto_db_cleanup();
        ptp_debug_cleanup();
        event_manager_destroy(evm);
    }
    event_mgr_type *evm = nullptr;
};

TEST_F(IssuTest, SecondaryRegistersItsMilestonesAndStartsThem)
{
    issul_test_set_role(ISSUL_ROLE_SECONDARY);
    ASSERT_EQ(tessel_issu_init(evm), 0u);
    EXPECT_EQ(tessel_issu_get_issu_role(), TESSEL_ISSU_ROLE_SECONDARY);
    EXPECT_EQ(issul_test_registered_count(), 2u);
    EXPECT_STREQ(issul_test_registered_script(), "ptp_issu_debug_script");
    EXPECT_STREQ(issul_milestone_to_string(513), "Controller Resync");
    EXPECT_STREQ(issul_milestone_to_string(514), "Thread Resync");
    EXPECT_EQ(issul_test_milestone_status(514), ISSUL_MILESTONE_STARTED);
    EXPECT_EQ(issul_test_milestone_status(2), ISSUL_MILESTONE_STARTED);
    EXPECT_EQ(debug_captured().front(), "ISSU: Received ISSU role from ZURO Vuri: Secondary");
}

TEST_F(IssuTest, PrimaryMilestonesOnlySetTheLocalFlags)
{
    issul_test_set_role(ISSUL_ROLE_PRIMARY);
    ASSERT_EQ(tessel_issu_init(evm), 0u);
    EXPECT_EQ(issul_test_registered_count(), 0u);
    tessel_issu_milestone_met(TESSEL_ISSU_MILESTONE_THREAD_RESYNC);
    EXPECT_EQ(tessel_issu_is_milestone_met(TESSEL_ISSU_MILESTONE_THREAD_RESYNC), 1u);
    EXPECT_EQ(tessel_issu_is_milestone_met(TESSEL_ISSU_MILESTONE_CHKPT), 0u);
    EXPECT_EQ(tessel_issu_is_milestone_met(600), 0u);
    EXPECT_EQ(issul_test_calls(issul_test_op::START), 0u);
    EXPECT_EQ(issul_test_calls(issul_test_op::MET), 0u);
    EXPECT_EQ(issul_test_calls(issul_test_op::GET_STATUS), 0u);
    tessel_issu_fini();
    EXPECT_EQ(tessel_issu_is_milestone_met(TESSEL_ISSU_MILESTONE_THREAD_RESYNC), 0u);
    EXPECT_EQ(tessel_issu_get_issu_role(), TESSEL_ISSU_ROLE_NONE);
}

TEST_F(IssuTest, SecondaryReportsMetOnceAndSaysWhetherTheUpgradeIsReady)
{
    issul_test_set_role(ISSUL_ROLE_SECONDARY);
    ASSERT_EQ(tessel_issu_init(evm), 0u);
    issul_test_set_milestone_status(2, ISSUL_MILESTONE_MET);
    debug_capture_clear();
    tessel_issu_milestone_met(2);
    EXPECT_EQ(tessel_issu_is_milestone_met(2), 1u);
    EXPECT_EQ(issul_test_calls(issul_test_op::MET), 0u);
    EXPECT_TRUE(debug_captured().empty());
    tessel_issu_milestone_met(513); // not started yet: started, then met
    EXPECT_EQ(debug_captured(), (std::vector<std::string>{"ISSU: Started milestone 'Controller Resync'",
                                                          "ISSU: Met milestone 'Controller Resync', ISSU ready: no"}));
    EXPECT_EQ(issul_test_milestone_status(513), ISSUL_MILESTONE_MET);
}

TEST_F(IssuTest, InitFailuresAreReturned)
{
    issul_test_set_role(ISSUL_ROLE_PRIMARY);
    // The role notice is an event attached to the protocol thread: its failure is a failed init.
    issul_test_fail(issul_test_op::REGISTER_ROLE, ISSUL_ERR_EVENT);
    EXPECT_EQ(tessel_issu_init(evm), ISSUL_ERR_EVENT);
    tessel_issu_fini();
    issul_test_set_role(ISSUL_ROLE_NONE);
    EXPECT_EQ(tessel_issu_init(evm), PTP_ZERR2_NO_ISSU_ROLE);
    tessel_issu_fini();
    issul_test_set_role(ISSUL_ROLE_SECONDARY);
    issul_test_fail(issul_test_op::START, ISSUL_ERR_INVALID);
    EXPECT_EQ(tessel_issu_init(evm), ISSUL_ERR_INVALID);
}

TEST_F(IssuTest, RoleChangesArriveOnTheEventManager)
{
    issul_test_set_role(ISSUL_ROLE_SECONDARY);
    ASSERT_EQ(tessel_issu_init(evm), 0u);
    debug_capture_clear();
    issul_test_fire_role_change(ISSUL_ROLE_RETIRING);
    evm_run_until_idle(evm);
    EXPECT_EQ(tessel_issu_get_issu_role(), TESSEL_ISSU_ROLE_SECONDARY);
    EXPECT_EQ(debug_captured().back(),
              "ISSU: Did not expect ISSU role Retiring from ZURO Vuri (current ISSU role is Secondary). Ignoring");
    EXPECT_TRUE(pm_fake.calls.empty());
    issul_test_fire_role_change(ISSUL_ROLE_PRIMARY);
    evm_run_until_idle(evm);
    EXPECT_EQ(tessel_issu_get_issu_role(), TESSEL_ISSU_ROLE_PRIMARY);
    EXPECT_EQ(pm_fake.calls, (std::vector<std::string>{"offload_flush", "packet_resync_end", "chkpt_sweep_stale",
                                                       "peer_index_sweep", "port_num_resync", "comms_resync"}));
}

TEST_F(IssuTest, TracePointsAndFailureReports)
{
    pm_trace_buffers trace;
    trace.open();
    qor_errmsg_set_syslog(false);
    qor_errmsg_capture_clear();
    issul_test_set_role(ISSUL_ROLE_SECONDARY);
    ASSERT_EQ(tessel_issu_init(evm), 0u);
    // Registration and the two starts, each between a trace before and after.
    EXPECT_EQ(
        pm_trace_buffers::lines("ptp/tessel/det"),
        (std::vector<std::string>{"0x100af4()", "0x100af5()", "0x100af6()", "0x100af7()", "0x100af8()", "0x100af9()"}));

    // A failed start: the error line, its trace and MILESTONE_COMM_FAILED; the agent goes on.
    issul_test_fail(issul_test_op::START, ISSUL_ERR_INVALID);
    debug_capture_clear();
    tessel_issu_milestone_start(TESSEL_ISSU_MILESTONE_CONTROLLER_RESYNC);
    EXPECT_EQ(debug_captured(), (std::vector<std::string>{"ISSU: [ERROR] Failed to mark milestone 'Controller Resync' "
                                                          "as started: " +
                                                          std::string(zerr_strerror(ISSUL_ERR_INVALID))}));
    const std::vector<qor_captured_msg> msgs = qor_errmsg_captured();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].mnemonic, "MILESTONE_COMM_FAILED");
    EXPECT_EQ(msgs[0].text, "Failed to inform ZURO Vuri that milestone Controller Resync has been started: " +
                                std::string(zerr_strerror(ISSUL_ERR_INVALID)));
    // Then started and met, with the ready answer (514 is only started, so not ready).
    tessel_issu_milestone_met(TESSEL_ISSU_MILESTONE_CONTROLLER_RESYNC);
    EXPECT_EQ(pm_trace_buffers::lines("ptp/tessel/unq"),
              (std::vector<std::string>{"0x200100af1(513," + std::to_string(ISSUL_ERR_INVALID) + ")",
                                        "0x100100af0(513)", "0x300100af2(513,1,0)"}));

    // A failed report of met is raised with "met".
    qor_errmsg_capture_clear();
    issul_test_fail(issul_test_op::MET, ISSUL_ERR_INVALID);
    tessel_issu_milestone_met(TESSEL_ISSU_MILESTONE_THREAD_RESYNC);
    ASSERT_EQ(qor_errmsg_captured().size(), 1u);
    EXPECT_EQ(qor_errmsg_captured()[0].text, "Failed to inform ZURO Vuri that milestone Thread Resync has been met: " +
                                                 std::string(zerr_strerror(ISSUL_ERR_INVALID)));
    EXPECT_EQ(tessel_issu_is_milestone_met(TESSEL_ISSU_MILESTONE_THREAD_RESYNC), 1u);

    // Role received, then an unexpected change: both into the summary buffer.
    tessel_issu_role_change_cb(nullptr, TESSEL_ISSU_ROLE_RETIRING);
    EXPECT_EQ(pm_trace_buffers::lines("ptp/tessel/sum"),
              (std::vector<std::string>{"0x1008000ca(2)", "0x2008000c8(3,2)", "0x2008000c9(3,2)"}));
    trace.close();
}

} // namespace
