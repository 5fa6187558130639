// The controller's upgrade roles against the in-process upgrade service: start-up in each role,
// the checkpoint milestone, and what each role change does (the modules it calls are faked and
// recorded), with the exact debug and syslog texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "evm_test.h"
#include "issul.h"
#include "plat_debug.h"
#include "ptp_debug.h"
#include "ptp_zerr.h"
#include "ptp_zerr_codes.h"
#include "qor_log.h"
#include "quorrin_debug.h"
#include "quorrin_fakes.h"
#include "quorrin_ha.h"

namespace {

using strings = std::vector<std::string>;

debug_event_type debug_table[QUORRIN_DEBUG_AREA_COUNT];

constexpr zerrno SERVICE_DOWN = ISSUL_ERR_EVENT;

// The debug lines of the module, from the area label on.
strings ha_lines()
{
    strings out;
    for (const std::string &line : debug_captured()) {
        const size_t at = line.find("HA: ");
        if (at != std::string::npos) {
            out.push_back(line.substr(at));
        }
    }
    return out;
}

strings syslog_texts()
{
    strings out;
    for (const qor_captured_msg &m : qor_errmsg_captured()) {
        out.push_back(m.mnemonic + ": " + m.text);
    }
    return out;
}

std::string err(zerrno rc)
{
    return zerr_strerror(rc);
}

class Ha : public ::testing::Test {
protected:
    void SetUp() override
    {
        ptp_zerr_register_all();
        quorrin_fake_reset();
        issul_test_reset();
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_EQ(ptp_debug_register(evm, debug_table, quorrin_debug_areas, QUORRIN_DEBUG_AREA_COUNT, nullptr), 0u);
        debug_set_area(PTP_DEBUG_PATH, "ha", nullptr);
        debug_capture_clear();
    }
    void TearDown() override
    {
        quorrin_ha_shutdown();
        ptp_debug_cleanup();
        event_manager_destroy(evm);
        issul_test_reset();
    }
    void start(uint32_t role)
    {
        issul_test_set_role(role);
        ASSERT_EQ(quorrin_ha_init(evm), 0u);
        forget();
    }
    void forget()
    {
        quorrin_fake_calls().clear();
        qor_errmsg_capture_clear();
        debug_capture_clear();
    }
    void fire(uint32_t role)
    {
        issul_test_fire_role_change(role);
        evm_run_until_idle(evm);
    }

    event_mgr_type *evm = nullptr;
};

TEST_F(Ha, StartUpTakesTheServicesRoleAndASecondaryStartsItsCheckpointMilestone)
{
    issul_test_set_role(ISSUL_ROLE_PRIMARY);
    ASSERT_EQ(quorrin_ha_init(evm), 0u);
    EXPECT_EQ(quorrin_ha_get_issu_role(), ISSUL_ROLE_PRIMARY);
    EXPECT_EQ(ha_lines(),
              (strings{"HA: Received ISSU role from ZURO Vuri: Primary", "HA: Module initialization complete"}));
    EXPECT_EQ(issul_test_registered_count(), 0u);
    EXPECT_EQ(issul_test_calls(issul_test_op::START), 0u);

    quorrin_ha_shutdown();
    EXPECT_EQ(quorrin_ha_get_issu_role(), ISSUL_ROLE_NONE);
    EXPECT_EQ(issul_test_clients(), 0u);
    forget();

    issul_test_set_role(ISSUL_ROLE_SECONDARY);
    ASSERT_EQ(quorrin_ha_init(evm), 0u);
    EXPECT_EQ(quorrin_ha_get_issu_role(), ISSUL_ROLE_SECONDARY);
    EXPECT_EQ(ha_lines(),
              (strings{"HA: Received ISSU role from ZURO Vuri: Secondary", "HA: Registering ZURO Vuri milestones",
                       "HA: Started milestone 'Checkpoint", "HA: Module initialization complete"}));
    EXPECT_EQ(issul_test_registered_count(), 1u);
    EXPECT_STREQ(issul_test_registered_script(), "ptp_issu_debug_script");
    EXPECT_EQ(issul_test_milestone_status(ISSUL_MILESTONE_CHECKPOINT), ISSUL_MILESTONE_STARTED);
    EXPECT_FALSE(quorrin_ha_is_milestone_met(ISSUL_MILESTONE_CHECKPOINT));
    EXPECT_TRUE(syslog_texts().empty());
}

TEST_F(Ha, StartUpFailuresAreRaisedAndReturned)
{
    const struct {
        const char *name;
        issul_test_op op; // COUNT: no failure injected
        uint32_t role;
        zerrno expected;
        std::string syslog;
    } rows[] = {
        {"connect", issul_test_op::INIT, ISSUL_ROLE_PRIMARY, SERVICE_DOWN,
         "INIT_FAILED: Failed to initialize: Failed to register with ZURO Vuri: " + err(SERVICE_DOWN)},
        {"role notices", issul_test_op::REGISTER_ROLE, ISSUL_ROLE_PRIMARY, SERVICE_DOWN,
         "INIT_FAILED: Failed to initialize: Failed to register with ZURO Vuri for role change notifications: " +
             err(SERVICE_DOWN)},
        {"no role", issul_test_op::COUNT, ISSUL_ROLE_NONE, PTP_ZERR2_NO_ISSU_ROLE,
         "INIT_FAILED: Failed to initialize: Unable to get NG ISSU role from ZURO Vuri"},
        {"milestones", issul_test_op::REGISTER_MILESTONES, ISSUL_ROLE_SECONDARY, SERVICE_DOWN,
         "INIT_FAILED: Failed to initialize: Failed to register ZURO Vuri milestones: " + err(SERVICE_DOWN)},
        {"milestone start", issul_test_op::START, ISSUL_ROLE_SECONDARY, 0,
         "MILESTONE_COMM_FAILED: Failed to inform ZURO Vuri that milestone Checkpoint has been started: " +
             err(SERVICE_DOWN)},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        quorrin_ha_shutdown();
        issul_test_reset();
        forget();
        issul_test_set_role(row.role);
        if (row.op != issul_test_op::COUNT) {
            issul_test_fail(row.op, SERVICE_DOWN);
        }
        EXPECT_EQ(quorrin_ha_init(evm), row.expected);
        EXPECT_EQ(syslog_texts(), strings{row.syslog});
    }
    const strings lines = ha_lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "HA: Failed to mark milestone 'Checkpoint' as started: " + err(SERVICE_DOWN)),
              lines.end());
    EXPECT_EQ(issul_test_milestone_status(ISSUL_MILESTONE_CHECKPOINT), ISSUL_MILESTONE_NOT_STARTED);
}

TEST_F(Ha, TheCheckpointMilestoneIsMetOnceAndOnlyBySecondary)
{
    start(ISSUL_ROLE_PRIMARY);
    quorrin_ha_milestone_met(ISSUL_MILESTONE_CHECKPOINT);
    EXPECT_EQ(issul_test_calls(issul_test_op::MET), 0u);
    EXPECT_FALSE(quorrin_ha_is_milestone_met(ISSUL_MILESTONE_CHECKPOINT));
    quorrin_ha_shutdown();

    start(ISSUL_ROLE_SECONDARY);
    quorrin_ha_milestone_met(ISSUL_MILESTONE_CHECKPOINT);
    EXPECT_TRUE(quorrin_ha_is_milestone_met(ISSUL_MILESTONE_CHECKPOINT));
    EXPECT_EQ(issul_test_milestone_status(ISSUL_MILESTONE_CHECKPOINT), ISSUL_MILESTONE_MET);
    quorrin_ha_milestone_met(ISSUL_MILESTONE_CHECKPOINT);
    EXPECT_EQ(ha_lines(), (strings{"HA: Met milestone 'Checkpoint', ISSU ready: yes",
                                   "HA: Milestone met called for milestone 'Checkpoint'when it has already been met"}));
    EXPECT_EQ(issul_test_calls(issul_test_op::MET), 1u);
}

TEST_F(Ha, AMilestoneThatCannotBeMarkedMetIsRaisedAndAnUnansweredReadinessIsUnknown)
{
    start(ISSUL_ROLE_SECONDARY);
    issul_test_fail(issul_test_op::MET, SERVICE_DOWN);
    quorrin_ha_milestone_met(ISSUL_MILESTONE_CHECKPOINT);
    EXPECT_EQ(ha_lines(), strings{"HA: Failed to mark milestone 'Checkpoint' as met: " + err(SERVICE_DOWN)});
    EXPECT_EQ(syslog_texts(), strings{"MILESTONE_COMM_FAILED: Failed to inform ZURO Vuri that milestone Checkpoint "
                                      "has been met: " +
                                      err(SERVICE_DOWN)});
    forget();

    issul_test_fail(issul_test_op::AM_I_READY, SERVICE_DOWN);
    quorrin_ha_milestone_met(ISSUL_MILESTONE_CHECKPOINT);
    EXPECT_EQ(ha_lines(), strings{"HA: Met milestone 'Checkpoint', ISSU ready: unknown"});
}

TEST_F(Ha, RoleChanges)
{
    const strings takeover = {"quorrin_bmc_go_primary_active", "quorrin_leap_seconds_chkpt_delete_all",
                              "quorrin_port_num_chkpt_delete_all", "quorrin_platform_servo_init", "slave_update"};
    const struct {
        const char *name;
        uint32_t from; // the role at start-up (0: the service had none)
        uint32_t to;
        bool servo_init_fails;
        uint32_t role; // afterwards
        strings calls;
        const char *unexpected; // the rest of the "Did not expect" line, or null
    } rows[] = {
        {"takeover", ISSUL_ROLE_SECONDARY, ISSUL_ROLE_PRIMARY, false, ISSUL_ROLE_PRIMARY, takeover, nullptr},
        {"takeover, servo init fails",
         ISSUL_ROLE_SECONDARY,
         ISSUL_ROLE_PRIMARY,
         true,
         ISSUL_ROLE_PRIMARY,
         {takeover.begin(), takeover.end() - 1},
         nullptr},
        {"retiring",
         ISSUL_ROLE_PRIMARY,
         ISSUL_ROLE_RETIRING,
         false,
         ISSUL_ROLE_RETIRING,
         {"quorrin_platform_stop"},
         nullptr},
        {"no role yet", ISSUL_ROLE_NONE, ISSUL_ROLE_SECONDARY, false, ISSUL_ROLE_SECONDARY, {}, nullptr},
        {"the same role", ISSUL_ROLE_PRIMARY, ISSUL_ROLE_PRIMARY, false, ISSUL_ROLE_PRIMARY, {}, nullptr},
        {"role none", ISSUL_ROLE_PRIMARY, ISSUL_ROLE_NONE, false, ISSUL_ROLE_PRIMARY, {}, nullptr},
        {"primary to secondary",
         ISSUL_ROLE_PRIMARY,
         ISSUL_ROLE_SECONDARY,
         false,
         ISSUL_ROLE_PRIMARY,
         {},
         "Secondary from ZURO Vuri (current ISSU role is Primary). Ignoring"},
        {"secondary to retiring",
         ISSUL_ROLE_SECONDARY,
         ISSUL_ROLE_RETIRING,
         false,
         ISSUL_ROLE_SECONDARY,
         {},
         "Retiring from ZURO Vuri (current ISSU role is Secondary). Ignoring"},
        {"retired back",
         ISSUL_ROLE_RETIRING,
         ISSUL_ROLE_PRIMARY,
         false,
         ISSUL_ROLE_RETIRING,
         {},
         "Primary from ZURO Vuri (current ISSU role is Retiring). Ignoring"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        quorrin_ha_shutdown();
        quorrin_fake_reset();
        issul_test_reset();
        issul_test_set_role(row.from);
        quorrin_ha_init(evm);
        forget();
        if (row.servo_init_fails) {
            quorrin_fake_fail("quorrin_platform_servo_init", SERVICE_DOWN);
        }
        fire(row.to);
        EXPECT_EQ(quorrin_ha_get_issu_role(), row.role);
        EXPECT_EQ(quorrin_fake_calls(), row.calls);
        strings lines = {std::string("HA: Received NG ISSU role from ZURO Vuri - new role: ") +
                         issul_issu_role_to_string(row.to) + ", old role: " + issul_issu_role_to_string(row.from)};
        if (row.unexpected != nullptr) {
            lines.push_back(std::string("HA: Did not expect ISSU role ") + row.unexpected);
        }
        EXPECT_EQ(ha_lines(), lines);
    }
}

} // namespace
