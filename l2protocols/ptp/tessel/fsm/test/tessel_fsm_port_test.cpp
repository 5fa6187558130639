// The port state machine: its action table over every (event, state) cell, what each state has
// running after its entry action, the announce timeout, the qualification timeout, configuration
// changes, held Passive, the lock, and resume from a checkpoint.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "evm.h"
#include "evm_test.h"
#include "plat_clock_test.h"
#include "plat_debug.h"
#include "ptp_debug.h"
#include "ptp_timer.h"
#include "ptp_zerr_codes.h"
#include "tessel_debug_areas.h"
#include "tessel_fsm.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_port_test_fake.h"
#include "tessel_fsm_types.h"

namespace {

using S = ptp_port_state_type;
constexpr S INIT = PTP_PORT_STATE_INITIALIZING;
constexpr S LISTEN = PTP_PORT_STATE_LISTEN;
constexpr S PASSIVE = PTP_PORT_STATE_PASSIVE;
constexpr S PREMASTER = PTP_PORT_STATE_PRE_MASTER;
constexpr S MASTER = PTP_PORT_STATE_MASTER;
constexpr S UNCAL = PTP_PORT_STATE_UNCALIBRATED;
constexpr S SLAVE = PTP_PORT_STATE_SLAVE;
constexpr S FAULTY = PTP_PORT_STATE_FAULTY;

const char *state_name(uint32_t s)
{
    static constexpr std::array<const char *, 8> names{"Initializing", "Listen",       "Passive", "Pre-Master",
                                                       "Master",       "Uncalibrated", "Slave",   "Faulty"};
    return names.at(s);
}

ptp_clock_type advertised{};

void on_state_change(tessel_proto_idb_type *port)
{
    fsm_fake.calls.push_back(std::string("state:") + state_name(port->fsm.PortState));
}

const ptp_clock_type *get_advertised(const ptp_clock_type **out)
{
    *out = &advertised;
    return &advertised;
}

int fmc_delivered = 0;
void on_fmc(tessel_proto_idb_type *)
{
    fmc_delivered++;
}

event_mgr_type *evm = nullptr;

class FsmPort : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        plat_clock_use_virtual();
        evm = event_create_manager(nullptr, "fsm-test", 0);
        ASSERT_NE(evm, nullptr);
        ASSERT_EQ(ptp_timer_init(evm, 16, 32, nullptr, nullptr, 9, nullptr), 0u);
    }
    static void TearDownTestSuite()
    {
        ptp_timer_shutdown();
        event_manager_destroy(evm);
        plat_clock_use_real();
    }

    void SetUp() override
    {
        fsm_fake_reset();
        advertised = {};
        advertised.steps_removed = 0;
        fmc_delivered = 0;
        const ptp_fsm_callbacks_type cb{on_fmc, nullptr, on_state_change, get_advertised, nullptr, nullptr};
        ASSERT_EQ(ptp_fsm_module_init(&cb), 0u);
        port = static_cast<tessel_proto_idb_type *>(std::calloc(1, sizeof(tessel_proto_idb_type)));
        std::strcpy(port->header.ifname, "Gi0/0/0/1");
        port->header.ifhandle = 0x100;
        port->config.announce_timeout = 3;
        port->config.announce_interval = 0;
        port->config.transport = PTP_TRANSPORT_MULTICAST;
        ASSERT_EQ(ptp_fsm_init(port), 0u);
        fsm_fake.calls.clear();
    }

    void TearDown() override
    {
        ptp_fsm_shutdown(port);
        std::free(port);
        ptp_fsm_module_deinit();
    }

    // Brings the port into a state as its entry action leaves it, then forgets the calls.
    void enter(S state)
    {
        switch (state) {
        case INIT: break;
        case LISTEN: ptp_fsm_ready(port); break;
        case PASSIVE:
            ptp_fsm_ready(port);
            ptp_fsm_bmc_passive(port);
            break;
        case PREMASTER:
            enter(PASSIVE);
            ptp_fsm_bmc_master(port);
            break;
        case MASTER:
            ptp_fsm_ready(port);
            ptp_fsm_lock(port);
            ptp_fsm_announce_timeout_event(port);
            ptp_fsm_unlock(port);
            break;
        case UNCAL:
            ptp_fsm_ready(port);
            ptp_fsm_bmc_slave(port);
            break;
        case SLAVE:
            ptp_fsm_ready(port);
            ptp_fsm_master_clock_selected(port);
            break;
        case FAULTY:
            ptp_fsm_ready(port);
            ptp_fsm_fault_detected(port);
            break;
        }
        ASSERT_EQ(port->fsm.PortState, state);
        fsm_fake.calls.clear();
    }

    // What each state has running after its entry action.
    void expect_running_parts(S state)
    {
        SCOPED_TRACE(state_name(state));
        const bool listens = state != INIT && state != FAULTY;
        EXPECT_EQ(port->fsm.is_listening, listens);
        EXPECT_EQ(port->fsm.is_announce_timeout_running,
                  state == LISTEN || state == PASSIVE || state == UNCAL || state == SLAVE);
        EXPECT_EQ(port->fsm.qualification_timer_running, state == PREMASTER);
        EXPECT_EQ(port->fsm.is_sending_multicast_announce, state == MASTER);
        EXPECT_EQ(port->fsm.is_master_drrm_running, state == MASTER);
    }

    tessel_proto_idb_type *port = nullptr;
};

// ---- The action table ----

using A = ptp_fsm_action_type;
struct cell_case {
    ptp_fsm_event_type event;
    std::array<const char *, 8> actions; // by state; "bad" for an impossible pair
};

// The table as the state machine is specified: per event, the action of each state.
const std::array<cell_case, PTP_FSM_EVENT_COUNT> expected_table{{
    {PTP_FSM_EVENT_ANNOUNCE_TIMEOUT,
     {"bad", "listen_to_master", "listen_to_master", "bad", "bad", "slave_to_master", "slave_to_master", "bad"}},
    {PTP_FSM_EVENT_QUALIFICATION_TIMEOUT, {"bad", "bad", "bad", "premaster_to_master", "bad", "bad", "bad", "bad"}},
    {PTP_FSM_EVENT_BMC_MASTER,
     {"bad", "ignore", "passive_to_premaster", "ignore", "master_refresh", "slave_to_premaster", "slave_to_premaster",
      "bad"}},
    {PTP_FSM_EVENT_BMC_PASSIVE,
     {"bad", "listen_to_passive", "ignore", "premaster_to_passive", "master_to_passive", "slave_to_passive",
      "slave_to_passive", "bad"}},
    {PTP_FSM_EVENT_FAULT_DETECTED,
     {"bad", "listen_to_faulty", "listen_to_faulty", "premaster_to_faulty", "master_to_faulty", "slave_to_faulty",
      "slave_to_faulty", "ignore"}},
    {PTP_FSM_EVENT_FAULT_CLEARED, {"bad", "bad", "bad", "bad", "bad", "bad", "bad", "to_listen"}},
    {PTP_FSM_EVENT_READY, {"to_listen", "bad", "bad", "bad", "bad", "bad", "bad", "bad"}},
    {PTP_FSM_EVENT_NOT_READY,
     {"ignore", "listen_to_init", "listen_to_init", "premaster_to_init", "master_to_init", "slave_to_init",
      "slave_to_init", "faulty_to_init"}},
    {PTP_FSM_EVENT_SYNCHRONIZATION_FAULT, {"bad", "bad", "bad", "bad", "bad", "bad", "slave_to_uncalibrated", "bad"}},
    {PTP_FSM_EVENT_BMC_SLAVE,
     {"bad", "listen_to_uncalibrated", "listen_to_uncalibrated", "premaster_to_uncalibrated", "master_to_uncalibrated",
      "slave_reselect", "slave_reselect", "bad"}},
    {PTP_FSM_EVENT_MASTER_CLOCK_SELECTED, {"bad", "bad", "bad", "bad", "bad", "uncalibrated_to_slave", "bad", "bad"}},
}};

// Per action: the state it leaves the port in (none: the state it was in) and the calls its steps
// make (with a Multicast port, no slave-only mode, an advertised clock that is not the local one).
struct action_case {
    int next; // -1: unchanged
    std::vector<std::string> calls;
};
const std::map<std::string, action_case> expected_actions{
    {"ignore", {-1, {}}},
    {"listen_to_master", {MASTER, {"state:Master", "if_session", "slave_table", "if_session", "allow_grants"}}},
    {"slave_to_master",
     {MASTER, {"slave_stop", "state:Master", "if_session", "slave_table", "if_session", "allow_grants"}}},
    {"premaster_to_master", {MASTER, {"state:Master", "if_session", "slave_table", "if_session", "allow_grants"}}},
    {"to_listen", {LISTEN, {"state:Listen", "listen"}}},
    {"listen_to_init", {INIT, {"end_listen", "state:Initializing"}}},
    {"premaster_to_init", {INIT, {"end_listen", "state:Initializing"}}},
    {"master_to_init", {INIT, {"if_session", "end_grants", "if_session", "end_listen", "state:Initializing"}}},
    {"slave_to_init", {INIT, {"slave_stop", "end_listen", "state:Initializing"}}},
    {"faulty_to_init", {INIT, {"state:Initializing"}}},
    {"passive_to_premaster", {PREMASTER, {"state:Pre-Master"}}},
    {"master_refresh", {-1, {"if_session", "if_session"}}},
    {"slave_to_premaster", {PREMASTER, {"slave_stop", "state:Pre-Master"}}},
    {"listen_to_passive", {PASSIVE, {"state:Passive"}}},
    {"premaster_to_passive", {PASSIVE, {"state:Passive"}}},
    {"master_to_passive", {PASSIVE, {"if_session", "end_grants", "if_session", "state:Passive"}}},
    {"slave_to_passive", {PASSIVE, {"slave_stop", "state:Passive"}}},
    {"listen_to_faulty", {FAULTY, {"end_listen", "state:Faulty"}}},
    {"premaster_to_faulty", {FAULTY, {"end_listen", "state:Faulty"}}},
    {"master_to_faulty", {FAULTY, {"if_session", "end_grants", "if_session", "end_listen", "state:Faulty"}}},
    {"slave_to_faulty", {FAULTY, {"slave_stop", "end_listen", "state:Faulty"}}},
    {"slave_to_uncalibrated", {UNCAL, {"state:Uncalibrated"}}},
    {"listen_to_uncalibrated", {UNCAL, {"state:Uncalibrated", "slave_start"}}},
    {"premaster_to_uncalibrated", {UNCAL, {"state:Uncalibrated", "slave_start"}}},
    {"master_to_uncalibrated",
     {UNCAL, {"if_session", "end_grants", "if_session", "state:Uncalibrated", "slave_start"}}},
    {"slave_reselect", {UNCAL, {"state:Uncalibrated", "slave_reset"}}},
    {"uncalibrated_to_slave", {SLAVE, {"state:Slave"}}},
};

TEST_F(FsmPort, ActionTableHasEveryCellAsSpecified)
{
    for (const cell_case &row : expected_table) {
        for (uint32_t s = 0; s < PTP_FSM_STATE_COUNT; s++) {
            SCOPED_TRACE(std::string(ptp_fsm_event_to_str(row.event)) + " in " + state_name(s));
            const ptp_fsm_port_action_cell_type *cell = ptp_fsm_port_action_get(row.event, s);
            ASSERT_NE(cell, nullptr);
            EXPECT_STREQ(ptp_fsm_action_to_str(cell->action), row.actions[s]);
            if (cell->action != A::BAD) {
                const action_case &a = expected_actions.at(row.actions[s]);
                EXPECT_EQ(cell->next_state, a.next < 0 ? s : static_cast<uint32_t>(a.next));
            }
        }
    }
    EXPECT_EQ(ptp_fsm_port_action_get(PTP_FSM_EVENT_COUNT, 0), nullptr);
    EXPECT_EQ(ptp_fsm_port_action_get(0, PTP_FSM_STATE_COUNT), nullptr);
}

TEST_F(FsmPort, EveryPossibleCellRunsItsStepsAndLeavesTheStateRunning)
{
    for (const cell_case &row : expected_table) {
        for (uint32_t s = 0; s < PTP_FSM_STATE_COUNT; s++) {
            if (std::string(row.actions[s]) == "bad") {
                continue;
            }
            SCOPED_TRACE(std::string(ptp_fsm_event_to_str(row.event)) + " in " + state_name(s));
            TearDown();
            SetUp();
            enter(static_cast<S>(s));
            if (row.event == PTP_FSM_EVENT_QUALIFICATION_TIMEOUT) {
                // Raised by the expiry of the qualification timer.
                ASSERT_EQ(plat_clock_advance_ms(1000), 0u);
                evm_run_until_idle(evm);
            } else {
                ptp_fsm_port_event_run(port, row.event);
            }
            const action_case &a = expected_actions.at(row.actions[s]);
            const S next = a.next < 0 ? static_cast<S>(s) : static_cast<S>(a.next);
            std::vector<std::string> want;
            for (const std::string &c : a.calls) {
                if (c != std::string("state:") + state_name(s)) {
                    want.push_back(c);
                }
            }
            EXPECT_EQ(fsm_fake.calls, want);
            EXPECT_EQ(port->fsm.PortState, next);
            expect_running_parts(next);
        }
    }
}

TEST_F(FsmPort, ImpossibleCellsEndTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const cell_case &row : expected_table) {
        for (uint32_t s = 0; s < PTP_FSM_STATE_COUNT; s++) {
            if (std::string(row.actions[s]) != "bad") {
                continue;
            }
            SCOPED_TRACE(std::string(ptp_fsm_event_to_str(row.event)) + " in " + state_name(s));
            port->fsm.PortState = s;
            EXPECT_DEATH(ptp_fsm_port_event_run(port, row.event), "internal error");
        }
    }
}

// ---- Event entry points ----

TEST_F(FsmPort, SlaveSyncedFromListenPassesThroughUncalibratedToSlave)
{
    enter(LISTEN);
    ptp_fsm_master_clock_selected(port);
    EXPECT_EQ(fsm_fake.calls, (std::vector<std::string>{"state:Uncalibrated", "slave_start", "state:Slave"}));
    fsm_fake.calls.clear();
    ptp_fsm_master_clock_selected(port); // in Slave: nothing at all
    EXPECT_TRUE(fsm_fake.calls.empty());
    ptp_fsm_bmc_slave(port); // SLAVE while Slave: a synchronisation fault
    EXPECT_EQ(port->fsm.PortState, UNCAL);
    ptp_fsm_master_clock_selected(port);
    EXPECT_EQ(port->fsm.PortState, SLAVE);
}

TEST_F(FsmPort, ReadyInTheSecondaryUpgradeRoleEndsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    fsm_fake.issu_role = 2;
    EXPECT_DEATH(ptp_fsm_ready(port), "internal error");
}

// ---- Held Passive ----

TEST_F(FsmPort, HeldPassiveIgnoresEventsUntilReleased)
{
    enter(MASTER);
    ptp_fsm_lock(port);
    ptp_fsm_hold_passive(port);
    ptp_fsm_unlock(port);
    EXPECT_EQ(port->fsm.PortState, PASSIVE);
    EXPECT_TRUE(port->fsm.is_held_passive);
    expect_running_parts(PASSIVE);

    fsm_fake.calls.clear();
    ptp_fsm_bmc_master(port);
    ptp_fsm_bmc_passive(port);
    ptp_fsm_bmc_slave(port);
    ptp_fsm_master_clock_selected(port);
    ptp_fsm_lock(port);
    ptp_fsm_announce_timeout_event(port);
    ptp_fsm_unlock(port);
    ptp_fsm_qualification_timeout_event(port);
    EXPECT_TRUE(fsm_fake.calls.empty());
    EXPECT_EQ(port->fsm.PortState, PASSIVE);

    ptp_fsm_lock(port);
    ptp_fsm_unhold_passive(port);
    ptp_fsm_unlock(port);
    ptp_fsm_bmc_master(port);
    EXPECT_EQ(port->fsm.PortState, PREMASTER);
}

TEST_F(FsmPort, NotReadyClearsTheHold)
{
    enter(LISTEN);
    ptp_fsm_lock(port);
    ptp_fsm_hold_passive(port);
    ptp_fsm_unlock(port);
    ptp_fsm_not_ready(port);
    EXPECT_EQ(port->fsm.PortState, INIT);
    EXPECT_FALSE(port->fsm.is_held_passive);
}

TEST_F(FsmPort, HoldPassiveOnAPortThatIsNotListeningDoesNothing)
{
    // A looped Announce cannot reach such a port; it must not stop the process either.
    for (S s : {INIT, FAULTY}) {
        TearDown();
        SetUp();
        enter(s);
        ptp_fsm_lock(port);
        ptp_fsm_hold_passive(port);
        ptp_fsm_unlock(port);
        EXPECT_EQ(port->fsm.PortState, s);
        EXPECT_FALSE(port->fsm.is_held_passive);
    }
}

// ---- Lock ----

TEST_F(FsmPort, ChangesPostponedUnderTheLockAreDeliveredOnceOnUnlock)
{
    enter(SLAVE);
    fsm_fake.fmc_postpones_in_slave_stop = 2; // two best-master changes on the way
    ptp_fsm_bmc_passive(port);
    EXPECT_EQ(port->fsm.PortState, PASSIVE);
    EXPECT_EQ(std::count(fsm_fake.calls.begin(), fsm_fake.calls.end(), "fmc"), 1);
    EXPECT_EQ(fsm_fake.calls.back(), "fmc"); // after the transition, not inside it
    EXPECT_EQ(port->fsm.scheduled_functions, 0);
    EXPECT_FALSE(port->fsm.is_locked);

    fsm_fake.calls.clear();
    EXPECT_EQ(ptp_fsm_postpone_if_locked(port, PTP_FSM_SCHEDULED_FUNCTION_FMC), 0);
    ptp_fsm_lock(port);
    ptp_fsm_unlock(port);
    EXPECT_TRUE(fsm_fake.calls.empty());
}

TEST_F(FsmPort, LockingALockedPortEndsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ptp_fsm_lock(port);
    EXPECT_DEATH(ptp_fsm_lock(port), "internal error");
    ptp_fsm_unlock(port);
    EXPECT_DEATH(ptp_fsm_unlock(port), "internal error");
}

// ---- Announce timeout ----

TEST_F(FsmPort, AnnounceTimeoutFiresOnTheTickAfterTheConfiguredCount)
{
    for (uint32_t timeout = 2; timeout <= 10; timeout++) {
        SCOPED_TRACE(timeout);
        TearDown();
        SetUp();
        port->config.announce_timeout = timeout;
        enter(LISTEN);
        for (uint32_t tick = 1; tick <= timeout; tick++) {
            ptp_fsm_lock(port);
            ptp_fsm_port_announce_timeout_tick(port);
            ptp_fsm_unlock(port);
            ASSERT_EQ(port->fsm.PortState, LISTEN) << "tick " << tick;
        }
        ptp_fsm_lock(port);
        ptp_fsm_port_announce_timeout_tick(port);
        ptp_fsm_unlock(port);
        EXPECT_EQ(port->fsm.PortState, MASTER);
    }
}

TEST_F(FsmPort, AnnounceTimeoutNeverFiresInSlaveOnlyMode)
{
    struct slave_only_case {
        uint32_t port_state, profile, clock_type;
    };
    for (const slave_only_case &c : {slave_only_case{PTP_RESTRICT_PORT_STATE_SLAVE_ONLY, 0, 1},
                                     slave_only_case{0, PTP_PROFILE_G8275_1, PTP_TELECOM_CLOCK_T_TSC},
                                     slave_only_case{0, PTP_PROFILE_G8275_2, PTP_TELECOM_CLOCK_T_TSC},
                                     slave_only_case{0, PTP_PROFILE_G8265_1, 2}}) {
        TearDown();
        SetUp();
        port->config.port_state = c.port_state;
        fsm_fake.profile = c.profile;
        fsm_fake.telecom_clock_type = c.clock_type;
        enter(LISTEN);
        for (int tick = 0; tick < 50; tick++) {
            ptp_fsm_lock(port);
            ptp_fsm_port_announce_timeout_tick(port);
            ptp_fsm_unlock(port);
        }
        EXPECT_EQ(port->fsm.PortState, LISTEN);
    }
}

TEST_F(FsmPort, LeavingSlaveOnlyStartsTheTimeoutWithAFullCounter)
{
    port->config.port_state = PTP_RESTRICT_PORT_STATE_SLAVE_ONLY;
    enter(LISTEN);
    EXPECT_FALSE(port->fsm.is_announce_timeout_running);
    port->config.port_state = PTP_RESTRICT_PORT_STATE_ANY;
    ptp_fsm_port_config_change(port, PTP_FSM_CHANGE_PORT_STATE);
    EXPECT_TRUE(port->fsm.is_announce_timeout_running);
    EXPECT_EQ(port->fsm.announce_timeout_counter, 3);
}

// ---- Qualification timeout ----

TEST_F(FsmPort, QualificationTimerLengthFollowsIntervalAndStepsRemoved)
{
    struct qual_case {
        int32_t log_interval;
        uint16_t steps_removed;
        uint32_t ms;
    };
    for (const qual_case &c : {qual_case{-3, 2, 375}, qual_case{0, 0, 1000}, qual_case{1, 3, 8000},
                               qual_case{-6, 0, 16}, qual_case{-1, 1, 1000}}) {
        SCOPED_TRACE(c.ms);
        TearDown();
        SetUp();
        port->config.announce_interval = c.log_interval;
        advertised.steps_removed = c.steps_removed;
        enter(PREMASTER);
        EXPECT_TRUE(port->fsm.qualification_timer_running);
        EXPECT_EQ(port->fsm.qualification_timer.period_ms, c.ms);

        ASSERT_EQ(plat_clock_advance_ms(c.ms - 1), 0u);
        evm_run_until_idle(evm);
        EXPECT_EQ(port->fsm.PortState, PREMASTER);
        ASSERT_EQ(plat_clock_advance_ms(1), 0u);
        evm_run_until_idle(evm);
        EXPECT_EQ(port->fsm.PortState, MASTER);
        EXPECT_FALSE(port->fsm.qualification_timer_running);
    }
}

TEST_F(FsmPort, AdvertisingTheLocalClockSkipsQualification)
{
    advertised.local = 1;
    enter(PASSIVE);
    ptp_fsm_bmc_master(port);
    EXPECT_EQ(port->fsm.PortState, MASTER);
    EXPECT_FALSE(port->fsm.qualification_timer_running);
}

// ---- Configuration change ----

TEST_F(FsmPort, ResetFlagTakesASlavePortThroughInitializingToListen)
{
    enter(SLAVE);
    ptp_fsm_port_config_change(port, PTP_FSM_CHANGE_ANNOUNCE_INTERVAL | PTP_FSM_CHANGE_SYNC_TIMEOUT);
    EXPECT_EQ(fsm_fake.calls,
              (std::vector<std::string>{"slave_stop", "end_listen", "state:Initializing", "state:Listen", "listen"}));
    EXPECT_EQ(port->fsm.PortState, LISTEN);
    expect_running_parts(LISTEN);
    EXPECT_FALSE(port->fsm.is_locked);

    fsm_fake.calls.clear();
    ptp_fsm_port_config_change(port, PTP_FSM_CHANGE_ADDRESS);
    EXPECT_EQ(fsm_fake.calls.back(), "fib_unreg");
}

TEST_F(FsmPort, NonResetFlagsActByTheirOwnRules)
{
    enter(MASTER);
    ptp_fsm_port_config_change(port, PTP_FSM_CHANGE_CLOCK_OPERATION | PTP_FSM_CHANGE_COS | PTP_FSM_CHANGE_MASTER_TABLE |
                                         PTP_FSM_CHANGE_SLAVE_TABLE | PTP_FSM_CHANGE_ADDRESS_LIST);
    EXPECT_EQ(fsm_fake.calls,
              (std::vector<std::string>{"if_session", "sessions_update", "master_table", "slave_table"}));
    EXPECT_EQ(port->fsm.PortState, MASTER);
}

// ---- Resume and start ----

TEST_F(FsmPort, ResumeMapsTheCheckpointedState)
{
    struct resume_case {
        uint32_t checkpointed;
        bool with_record;
        zerrno restore_result;
        S running;
        const char *restore_call; // null: no restore
    };
    static const int record = 0;
    const auto *rec = reinterpret_cast<const tessel_chkpt_foreign_master_type *>(&record);
    for (const resume_case &c : {
             resume_case{PREMASTER, true, 0, LISTEN, nullptr},
             resume_case{FAULTY, true, 0, LISTEN, nullptr},
             resume_case{INIT, false, 0, LISTEN, nullptr},
             resume_case{42, true, 0, LISTEN, nullptr},
             resume_case{MASTER, true, 0, MASTER, "restore:listening"},
             resume_case{PASSIVE, true, 0, PASSIVE, "restore:listening"},
             resume_case{SLAVE, true, 0, SLAVE, "restore:slaving:listening"},
             resume_case{UNCAL, true, 0, UNCAL, "restore:slaving:listening"},
             resume_case{SLAVE, true, PTP_ZERR_DB_INIT, LISTEN, "restore:slaving:listening"},
             resume_case{SLAVE, false, 0, LISTEN, nullptr},
         }) {
        SCOPED_TRACE(c.checkpointed);
        TearDown();
        SetUp();
        fsm_fake.restore_result = c.restore_result;
        ptp_fsm_resume(port, static_cast<S>(c.checkpointed), c.with_record ? rec : nullptr);
        EXPECT_EQ(port->fsm.PortState, c.running);
        expect_running_parts(c.running);
        const bool restored = std::find(fsm_fake.calls.begin(), fsm_fake.calls.end(),
                                        c.restore_call ? c.restore_call : "") != fsm_fake.calls.end();
        EXPECT_EQ(restored, c.restore_call != nullptr);
    }
}

TEST_F(FsmPort, StartRestartsTheStateAndSweepsOrDeletesPeers)
{
    ptp_fsm_foreign_master_type best{};
    port->fsm.PortState = SLAVE;
    port->fsm.foreign_master_ranked_list = &best;
    port->fsm.is_unicast_grant_allowed = 1;
    ptp_fsm_start(port);
    EXPECT_EQ(fsm_fake.calls,
              (std::vector<std::string>{"listen", "relisten:slaving", "qualify:no_rank", "slave_start", "sweep"}));
    port->fsm.foreign_master_ranked_list = nullptr;

    fsm_fake.calls.clear();
    port->fsm.PortState = PREMASTER;
    port->fsm.is_unicast_grant_allowed = 0;
    port->fsm.is_announce_timeout_running = 0;
    ptp_fsm_start(port);
    EXPECT_EQ(port->fsm.PortState, LISTEN);
    EXPECT_EQ(fsm_fake.calls.back(), "delete_all_peers");
}

// ---- Timing records ----

TEST_F(FsmPort, TimingRecordsMarkTheMasterAndReachOnlyTheSlavingOne)
{
    ptp_fsm_foreign_master_type fm{};
    fm.port = port;
    const uint32_t sync_record[6] = {0};
    const uint32_t delay_resp_record[6] = {1};
    ptp_fsm_offload_timestamps_in(&fm, sync_record, nullptr);
    ptp_fsm_offload_timestamps_in(&fm, delay_resp_record, nullptr);
    EXPECT_TRUE(fm.sync_received);
    EXPECT_TRUE(fm.delay_resp_received);
}

TEST_F(FsmPort, OffloadedDelayReqIsCountedAsDropped)
{
    enter(MASTER);
    ptp_fsm_offload_delay_req_in(port, nullptr, nullptr);
    EXPECT_EQ(fsm_fake.calls, (std::vector<std::string>{"drop_class:3x1", "drop_reason:9x1"}));
}

// ---- Debug lines ----

TEST_F(FsmPort, DebugLinesNameTheAreaInterfaceAndState)
{
    static debug_event_type table[TESSEL_DEBUG_AREA_COUNT];
    ASSERT_EQ(ptp_debug_register(evm, table, tessel_debug_areas, TESSEL_DEBUG_AREA_COUNT, nullptr), 0u);
    ASSERT_EQ(debug_set_area(PTP_DEBUG_PATH, "protocol", nullptr), 0u);
    debug_capture_clear();

    ptp_fsm_ready(port);
    ptp_fsm_bmc_master(port);
    ptp_fsm_lock(port);
    ptp_fsm_hold_passive(port);
    ptp_fsm_unlock(port);
    ptp_fsm_bmc_slave(port);
    EXPECT_EQ(debug_captured(), (std::vector<std::string>{
                                    "PROTOCOL: Gi0/0/0/1: [Initializing]: Ready-event",
                                    "PROTOCOL: Gi0/0/0/1: [Initializing]: Change to state Listen",
                                    "PROTOCOL: Gi0/0/0/1: [Listen]: BMC-Master-event",
                                    "PROTOCOL: Gi0/0/0/1: [Listen]: Ignoring FSM event",
                                    "PROTOCOL: Gi0/0/0/1: [Listen]: Hold-Passive-event",
                                    "PROTOCOL: Gi0/0/0/1: [Listen]: Change to state Passive",
                                    "PROTOCOL: Gi0/0/0/1: [Passive]: Ignoring BMC-Slave-event when held Passive",
                                }));
    debug_clear_area(PTP_DEBUG_PATH, "protocol");
}

} // namespace
