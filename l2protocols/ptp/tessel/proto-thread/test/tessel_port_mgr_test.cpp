// The port manager: start and stop order, global events, interface updates and readiness.
#include "ptp_zerr_codes.h"
#include "tessel_bmc.h"
#include "tessel_if_config.h"
#include "tessel_ipc_db.h"
#include "tessel_ipc_record_test.h"
#include "tessel_master_db.h"
#include "tessel_pm_test_env.h"
#include "tessel_port_mgr.h"
#include "tessel_port_mgr_deps.h"
#include "tessel_proto_db.h"
#include "tessel_slave_db.h"
#include "tessel_stats.h"

#include <unistd.h>

#include <map>

#include "plat_clock_test.h"
#include "shmwin.h"

namespace {

constexpr uint64_t GM_ID = 0x00AA00FFFE000001;
constexpr uint64_t LOCAL_ID = 0x00BB00FFFE000002;

const std::vector<std::string> init_order = {
    "packet_init",
    "offload_init",
    "fib_init",
    "adjacency_init",
    "comms_init",
    "edm_trap_init",
    "packet_resync_start",
    "chkpt_tables_register",
    "chkpt_read",
    "port_num_init",
    "offload_flush",
    "packet_resync_end",
};
// The reverse of the start: what go-active started, then each service newest first.
const std::vector<std::string> shutdown_order = {
    "port_num_cleanup",  "chkpt_shutdown", "edm_trap_cleanup", "comms_cleanup",
    "adjacency_cleanup", "fib_close",      "offload_shutdown", "packet_cleanup",
};

class PortMgrTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The counters' window of this program alone, created afresh: a window that another
        // program left on the machine must not decide what the port manager finds.
        shm_prefix = "tessel_pm_test." + std::to_string(getpid()) + ".";
        shmwin_test_set_prefix(shm_prefix.c_str());
        shmwin_test_unlink(TESSEL_STATS_SHMWIN_NAME);
        pm_fake_reset();
        issul_test_reset();
        issul_test_set_role(ISSUL_ROLE_PRIMARY);
        plat_clock_use_virtual(); // the port manager's own timers fire when the test settles
        evm = event_create_manager(nullptr, nullptr, 0);
        pm_debug_setup(evm);
        ASSERT_EQ(tessel_issu_init(evm), 0u);
        init_rc = tessel_port_mgr_init(evm);
        debug_set_area(PTP_DEBUG_PATH, "port_mgr", nullptr);
        debug_capture_clear();
    }
    void TearDown() override
    {
        for (auto &rec : records) {
            rec->r.flags |= TESSEL_IPC_FLAG_UPDATE_DELETED;
            tessel_port_mgr_if_update(&rec->r);
        }
        records.clear();
        tessel_port_mgr_ptp_disable();
        tessel_bmc_reset();
        pm_fake.calls.clear();
        tessel_port_mgr_shutdown();
        EXPECT_EQ(pm_fake.calls, shutdown_order);
        ptp_debug_cleanup();
        event_manager_destroy(evm);
        shmwin_test_unlink(TESSEL_STATS_SHMWIN_NAME);
        plat_clock_use_real();
    }
    std::string shm_prefix;
    tessel_proto_idb_type *create(const char *name, ifhtype ifh)
    {
        records.push_back(std::make_unique<ipc_record>(name, ifh));
        tessel_port_mgr_if_update(&records.back()->r);
        tessel_proto_idb_type *idb = nullptr;
        EXPECT_EQ(tessel_proto_db_get_by_ifname(name, &idb), 0u);
        return idb;
    }
    void globals()
    {
        tessel_port_mgr_ptp_enable();
        tessel_port_mgr_local_clock_type local{};
        local.clock_id = LOCAL_ID;
        local.domain = 24;
        tessel_port_mgr_local_clock_update(&local);
        global_update(1, 0);
    }
    void global_update(uint32_t selected, uint32_t synced)
    {
        const ptp_clock_type gm = pm_clock(GM_ID, 100, 1);
        const ptp_clock_type adv = pm_clock(LOCAL_ID, 128, 0);
        tessel_port_mgr_global_bmc_update(&gm, &adv, selected, synced, 1);
    }
    static void attached(tessel_proto_idb_type *idb)
    {
        idb->is_spio_attached = 1;
        idb->attached_encap = idb->config.encap;
        idb->attached_ifhandle = idb->header.ifhandle;
        tessel_port_mgr_spio_attach_event(idb);
    }
    tessel_proto_idb_type *ready_port(const char *name, ifhtype ifh)
    {
        tessel_proto_idb_type *idb = create(name, ifh);
        tessel_port_mgr_port_num_change(idb, static_cast<uint16_t>(ifh));
        attached(idb);
        EXPECT_NE(idb->flags & TESSEL_PROTO_IDB_PORT_MGR_READY, 0);
        return idb;
    }
    // A record of the IPC thread's own database (as a database sync walks it), with empty tables.
    static tessel_ipc_idb_type *ipc_db_record(const char *name)
    {
        pm_fake.on_ipc_thread = true;
        EXPECT_EQ(tessel_ipc_db_init(), 0u);
        tessel_ipc_idb_type *ipc = nullptr;
        EXPECT_EQ(tessel_ipc_db_create(name, &ipc), 0u);
        pm_fake.on_ipc_thread = false;
        if (ipc != nullptr) {
            tessel_master_db_init(&ipc->applied_config.master_table);
            tessel_slave_db_init(&ipc->applied_config.slave_table);
        }
        return ipc;
    }
    static void ipc_db_drop(tessel_ipc_idb_type *ipc)
    {
        pm_fake.on_ipc_thread = true;
        tessel_master_db_destroy(&ipc->applied_config.master_table);
        tessel_slave_db_destroy(&ipc->applied_config.slave_table);
        tessel_ipc_db_delete(ipc);
        tessel_ipc_db_destroy();
        pm_fake.on_ipc_thread = false;
    }
    event_mgr_type *evm = nullptr;
    zerrno init_rc = 0;
    std::vector<std::unique_ptr<ipc_record>> records;
};

// The readiness lines, without the state machine's own reports in between.
std::vector<std::string> lines()
{
    std::vector<std::string> out;
    for (const std::string &l : debug_captured()) {
        if (l.find("Port state change") == std::string::npos) {
            out.push_back(l);
        }
    }
    return out;
}
std::string last_line()
{
    return lines().empty() ? "" : lines().back();
}

TEST_F(PortMgrTest, ServicesStartInTheirFixedOrder)
{
    EXPECT_EQ(init_rc, 0u);
    EXPECT_EQ(pm_fake.calls, init_order);
    EXPECT_EQ(tessel_port_mgr_is_active(), 1u);
    // A second attempt to go active starts nothing twice.
    pm_fake.calls.clear();
    EXPECT_EQ(tessel_port_mgr_go_active(), 0u);
    EXPECT_TRUE(pm_fake.calls.empty());
}

TEST_F(PortMgrTest, FailedCheckpointRegistrationStillStartsThePortNumberClient)
{
    tessel_port_mgr_shutdown();
    pm_fake_reset();
    pm_fake.tables_register_result = PTP_ZERR_DB_NO_ENTRY;
    issul_test_set_role(ISSUL_ROLE_PRIMARY);
    ASSERT_EQ(tessel_issu_init(evm), 0u);
    EXPECT_EQ(tessel_port_mgr_init(evm), PTP_ZERR_DB_NO_ENTRY);
    EXPECT_EQ(pm_count("chkpt_read"), 0);
    EXPECT_EQ(pm_count("port_num_batches_init"), 1);
    EXPECT_EQ(pm_count("packet_process_attach"), 1);
    EXPECT_EQ(pm_count("port_num_init"), 1);
    EXPECT_EQ(tessel_port_mgr_is_active(), 1u);
}

// A service that fails to start stops the start there: the services started before it are
// undone, newest first, and a later shutdown undoes nothing twice.
TEST_F(PortMgrTest, FailedStartUndoesTheServicesStartedBeforeIt)
{
    const std::vector<std::string> starts = {"packet_init",    "offload_init", "fib_init",
                                             "adjacency_init", "comms_init",   "edm_trap_init"};
    const std::map<std::string, std::string> undo = {
        {"packet_init", "packet_cleanup"}, {"offload_init", "offload_shutdown"},
        {"fib_init", "fib_close"},         {"adjacency_init", "adjacency_cleanup"},
        {"comms_init", "comms_cleanup"},   {"edm_trap_init", "edm_trap_cleanup"},
    };
    for (size_t failing = 0; failing < starts.size(); failing++) {
        SCOPED_TRACE(starts[failing]);
        tessel_port_mgr_shutdown();
        pm_fake_reset();
        pm_fake.failing_init = starts[failing];
        pm_fake.failing_init_result = 0x47F28C00u;
        ASSERT_EQ(tessel_issu_init(evm), 0u);
        EXPECT_EQ(tessel_port_mgr_init(evm), 0x47F28C00u);
        std::vector<std::string> expected(starts.begin(), starts.begin() + static_cast<long>(failing) + 1);
        for (size_t i = failing; i-- > 0;) {
            expected.push_back(undo.at(starts[i]));
        }
        EXPECT_EQ(pm_fake.calls, expected);
        EXPECT_EQ(tessel_port_mgr_is_active(), 0u);
        // Nothing is left for the shutdown but what go-active would have started.
        pm_fake.calls.clear();
        tessel_port_mgr_shutdown();
        EXPECT_EQ(pm_fake.calls, (std::vector<std::string>{"port_num_cleanup", "chkpt_shutdown"}));
        // The real services were undone too: a new start succeeds.
        pm_fake_reset();
        ASSERT_EQ(tessel_issu_init(evm), 0u);
        ASSERT_EQ(tessel_port_mgr_init(evm), 0u);
    }
}

// A counters window that cannot be opened leaves the agent running PTP without packet counters.
TEST_F(PortMgrTest, CountersWindowThatCannotBeOpenedLeavesPtpRunning)
{
    tessel_port_mgr_shutdown();
    pm_fake_reset();
    ASSERT_EQ(tessel_issu_init(evm), 0u);
    shmwin_test_fail(shmwin_test_op::open, EACCES, 1);
    ASSERT_EQ(tessel_port_mgr_init(evm), 0u);
    EXPECT_EQ(pm_fake.calls, init_order);
    EXPECT_EQ(tessel_port_mgr_is_active(), 1u);
    EXPECT_EQ(tessel_stats_get_node_packet_counters(), nullptr);
    globals();
    tessel_proto_idb_type *idb = ready_port("Gi0/0/0/0", 0x101);
    EXPECT_EQ(idb->packet_counters, nullptr);
    tessel_stats_increment_packet_drop_reason(TESSEL_PACKET_DROP_NOT_READY, 1); // finds no window
}

TEST_F(PortMgrTest, SecondaryStartsTheTransferTimerAndGoesActiveOnlyWithItsMilestones)
{
    tessel_port_mgr_shutdown();
    pm_fake_reset();
    issul_test_set_role(ISSUL_ROLE_SECONDARY);
    ASSERT_EQ(tessel_issu_init(evm), 0u);
    ASSERT_EQ(tessel_port_mgr_init(evm), 0u);
    EXPECT_EQ(pm_count("chkpt_idt_timer_start"), 1);
    EXPECT_EQ(tessel_port_mgr_is_active(), 0u);
    EXPECT_EQ(tessel_port_mgr_go_active(), 0u);
    EXPECT_EQ(tessel_port_mgr_is_active(), 0u);
    tessel_issu_milestone_met(TESSEL_ISSU_MILESTONE_CHKPT);
    tessel_issu_milestone_met(TESSEL_ISSU_MILESTONE_THREAD_RESYNC);
    EXPECT_EQ(tessel_port_mgr_go_active(), 0u);
    EXPECT_EQ(tessel_port_mgr_is_active(), 1u);
    EXPECT_EQ(issul_test_milestone_status(TESSEL_ISSU_MILESTONE_CONTROLLER_RESYNC), ISSUL_MILESTONE_STARTED);
}

TEST_F(PortMgrTest, ReadinessConditionsInOrderAndTheLastOneStartsThePortOnce)
{
    tessel_proto_idb_type *idb = create("Gi0/0/0/0", 0x101);
    EXPECT_EQ(last_line(), "PORT-MGR: Interface Gi0/0/0/0 (0x00000101) not ready as PTP is not enabled");
    tessel_port_mgr_ptp_enable();
    EXPECT_EQ(last_line(), "PORT-MGR: Interface Gi0/0/0/0 (0x00000101) not ready as local clock is not known");
    tessel_port_mgr_local_clock_type local{};
    local.clock_id = LOCAL_ID;
    tessel_port_mgr_local_clock_update(&local);
    EXPECT_EQ(last_line(), "PORT-MGR: Interface Gi0/0/0/0 (0x00000101) not ready as best master clock is not known");
    global_update(1, 0);
    EXPECT_EQ(last_line(), "PORT-MGR: Interface Gi0/0/0/0 (0x00000101) not ready as port number not assigned");
    tessel_port_mgr_port_num_change(idb, 7);
    EXPECT_EQ(
        last_line(),
        "PORT-MGR: Interface Gi0/0/0/0 (0x00000101) not ready as SPIO not attached with correct encap and handle");
    EXPECT_EQ(idb->flags & TESSEL_PROTO_IDB_PORT_MGR_READY, 0);
    attached(idb);
    EXPECT_EQ(last_line(), "PORT-MGR: Interface Gi0/0/0/0 (0x00000101) is now ready");
    EXPECT_EQ(idb->fsm.PortState, static_cast<uint32_t>(PTP_PORT_STATE_LISTEN));
    EXPECT_EQ(idb->event_counters[TESSEL_PROTO_IDB_EVENT_READY_TRANSITIONS], 1u);
    tessel_port_mgr_spio_attach_event(idb);
    EXPECT_EQ(last_line(), "PORT-MGR: Interface Gi0/0/0/0 (0x00000101) ready update. Change flags 0x0");
    EXPECT_EQ(idb->event_counters[TESSEL_PROTO_IDB_EVENT_READY_TRANSITIONS], 1u);
    EXPECT_EQ(idb->event_counters[TESSEL_PROTO_IDB_EVENT_READY_UPDATES], 1u);
}

struct condition_case {
    const char *text;
    void (*brk)(tessel_proto_idb_type *idb);
    void (*mend)(tessel_proto_idb_type *idb);
};

const condition_case condition_cases[] = {
    {"interface handle is not known", [](tessel_proto_idb_type *i) { i->header.ifhandle = 0; },
     [](tessel_proto_idb_type *i) { i->header.ifhandle = 0x101; }},
    {"interface type is not known", [](tessel_proto_idb_type *i) { i->if_type = 0; },
     [](tessel_proto_idb_type *i) { i->if_type = 1; }},
    {"state is down", [](tessel_proto_idb_type *i) { i->im_state = 2; },
     [](tessel_proto_idb_type *i) { i->im_state = 3; }},
    {"Ethernet info isn't known",
     [](tessel_proto_idb_type *i) { i->flags &= static_cast<uint16_t>(~TESSEL_PROTO_IDB_ETHER_INFO_KNOWN); },
     [](tessel_proto_idb_type *i) { i->flags |= TESSEL_PROTO_IDB_ETHER_INFO_KNOWN; }},
    {"IPv4 address isn't known", [](tessel_proto_idb_type *i) { i->ipv4_addr = 0xFFFFFFFF; },
     [](tessel_proto_idb_type *i) { i->ipv4_addr = 0x0A000001; }},
    {"VRF ID isn't known",
     [](tessel_proto_idb_type *i) { i->flags &= static_cast<uint16_t>(~TESSEL_PROTO_IDB_VRF_ID_KNOWN); },
     [](tessel_proto_idb_type *i) { i->flags |= TESSEL_PROTO_IDB_VRF_ID_KNOWN; }},
    {"IPv6 address isn't known", [](tessel_proto_idb_type *i) { i->config.encap = PTP_ENCAP_IPV6; },
     [](tessel_proto_idb_type *i) { i->config.encap = PTP_ENCAP_IPV4; }},
    {"this instance of PTP is not in Primary ISSU role",
     [](tessel_proto_idb_type *) { tessel_issu_role_change_cb(nullptr, TESSEL_ISSU_ROLE_RETIRING); },
     [](tessel_proto_idb_type *) { issul_test_reset(); }},
};

TEST_F(PortMgrTest, EachMissingConditionGivesItsTextAndStopsThePort)
{
    globals();
    tessel_proto_idb_type *idb = ready_port("Gi0/0/0/0", 0x101);
    for (const condition_case &c : condition_cases) {
        SCOPED_TRACE(c.text);
        if (std::string(c.text).find("ISSU") != std::string::npos) {
            break; // last row: the role does not come back in this process
        }
        c.brk(idb);
        debug_capture_clear();
        tessel_port_mgr_readiness_check(idb, 0, true);
        EXPECT_EQ(lines(),
                  (std::vector<std::string>{
                      "PORT-MGR: Checking readiness of interface Gi0/0/0/0 (0x" +
                          std::string(idb->header.ifhandle == 0 ? "00000000" : "00000101") + ")",
                      "PORT-MGR: Interface Gi0/0/0/0 (0x" +
                          std::string(idb->header.ifhandle == 0 ? "00000000" : "00000101") + ") not ready as " + c.text,
                      "PORT-MGR: Interface Gi0/0/0/0 (0x" +
                          std::string(idb->header.ifhandle == 0 ? "00000000" : "00000101") + ") no longer ready"}));
        EXPECT_EQ(idb->fsm.PortState, static_cast<uint32_t>(PTP_PORT_STATE_INITIALIZING));
        c.mend(idb);
        tessel_port_mgr_readiness_check(idb, 0, true);
        EXPECT_EQ(last_line(), "PORT-MGR: Interface Gi0/0/0/0 (0x00000101) is now ready");
    }
    const condition_case &role = condition_cases[std::size(condition_cases) - 1];
    role.brk(idb);
    EXPECT_EQ(idb->flags & TESSEL_PROTO_IDB_PORT_MGR_READY, 0);
    EXPECT_EQ(pm_lines_with("not ready as this instance").size(), 1u);
    issul_test_set_role(ISSUL_ROLE_PRIMARY);
    tessel_issu_fini();
    ASSERT_EQ(tessel_issu_init(evm), 0u);
}

TEST_F(PortMgrTest, GlobalBestMasterUpdateReachesEveryPortOnce)
{
    globals();
    std::vector<tessel_proto_idb_type *> ports = {ready_port("Gi0/0/0/0", 0x101), ready_port("Gi0/0/0/1", 0x102),
                                                  ready_port("Gi0/0/0/2", 0x103)};
    std::vector<uint32_t> before;
    for (tessel_proto_idb_type *p : ports) {
        before.push_back(p->event_counters[TESSEL_PROTO_IDB_EVENT_BMC_STATE_CHANGES]);
    }
    pm_fake.calls.clear();
    global_update(1, 1);
    for (size_t i = 0; i < ports.size(); i++) {
        EXPECT_EQ(ports[i]->event_counters[TESSEL_PROTO_IDB_EVENT_BMC_STATE_CHANGES], before[i] + 1);
    }
    EXPECT_EQ(pm_count("chkpt_gl_bmc"), 1);
    // The same update again changes no port's state.
    global_update(1, 1);
    for (size_t i = 0; i < ports.size(); i++) {
        EXPECT_EQ(ports[i]->event_counters[TESSEL_PROTO_IDB_EVENT_BMC_STATE_CHANGES], before[i] + 1);
    }
}

TEST_F(PortMgrTest, EnableTwiceAndTheSameLocalClockTwiceReevaluateOnce)
{
    globals();
    tessel_proto_idb_type *idb = ready_port("Gi0/0/0/0", 0x101);
    pm_fake.calls.clear();
    tessel_port_mgr_ptp_enable();
    EXPECT_EQ(pm_count("port_num_resync"), 0);
    const uint32_t updates = idb->event_counters[TESSEL_PROTO_IDB_EVENT_READY_UPDATES];
    const uint32_t changes = tessel_stats_get_node_event_counters()->node[TESSEL_NODE_EVENT_LOCAL_CLOCK_CHANGES];
    tessel_port_mgr_local_clock_type local{};
    local.clock_id = LOCAL_ID;
    local.domain = 24;
    tessel_port_mgr_local_clock_update(&local);
    EXPECT_EQ(idb->event_counters[TESSEL_PROTO_IDB_EVENT_READY_UPDATES], updates);
    EXPECT_EQ(tessel_stats_get_node_event_counters()->node[TESSEL_NODE_EVENT_LOCAL_CLOCK_CHANGES], changes + 1);
    tessel_port_mgr_ptp_disable();
    EXPECT_EQ(idb->port_num, 0u);
    EXPECT_EQ(idb->flags & TESSEL_PROTO_IDB_PORT_MGR_READY, 0);
    EXPECT_EQ(tessel_port_mgr_get_local_clock(), nullptr);
}

TEST_F(PortMgrTest, EnableAfterDisableSendsTheAgentsListEachTime)
{
    // Each enable that follows a disable tells the controller which numbers the agent holds: the
    // disable dropped them all.
    pm_fake.calls.clear();
    for (int round = 1; round <= 2; round++) {
        SCOPED_TRACE(round);
        tessel_port_mgr_ptp_enable();
        EXPECT_EQ(pm_count("port_num_resync"), round);
        tessel_port_mgr_ptp_disable();
    }
}

TEST_F(PortMgrTest, CheckpointRecordsAreWrittenOnceEachWhenTheEventIsHandled)
{
    // More ports than one turn of the event loop writes, and one that stops being ready (its
    // record is deleted then, and not written again).
    globals();
    std::vector<tessel_proto_idb_type *> ports;
    for (int i = 0; i < 150; i++) {
        ports.push_back(ready_port(("Gi0/0/0/" + std::to_string(i)).c_str(), static_cast<ifhtype>(0x200 + i)));
    }
    pm_fake.calls.clear();
    global_update(1, 0); // every port is looked at again
    tessel_port_mgr_port_num_change(ports[0], 0);
    EXPECT_EQ(pm_count("chkpt_if_update"), 0);
    plat_clock_settle();
    EXPECT_EQ(pm_count("chkpt_if_update"), 149);
    for (const tessel_proto_idb_type *idb : ports) {
        EXPECT_EQ(idb->flags & TESSEL_PROTO_IDB_CHKPT_PENDING, 0);
    }
}

TEST_F(PortMgrTest, CreationConsumesEveryUpdateFlagSoNoneComesBackLater)
{
    globals();
    records.push_back(std::make_unique<ipc_record>("Gi0/0/0/0", 0x101));
    tessel_ipc_idb_type &ipc = records.back()->r;
    // Items the IPC thread marked while the interface was being created.
    ipc.flags |= 1ull << 8 | 1ull << 20 | 1ull << 25 | 1ull << 33 | 1ull << 37 | 1ull << 38;
    tessel_port_mgr_if_update(&ipc);
    EXPECT_EQ(ipc.flags & TESSEL_IPC_FLAG_UPDATE_ALL, 0u);
    EXPECT_NE(ipc.flags & TESSEL_IPC_FLAG_ENABLED, 0u);
    tessel_proto_idb_type *idb = nullptr;
    ASSERT_EQ(tessel_proto_db_get_by_ifname("Gi0/0/0/0", &idb), 0u);
    tessel_port_mgr_port_num_change(idb, 1);
    attached(idb);
    // A line-state change alone later is a ready update with no change flag.
    ipc.flags |= 1ull << 14;
    debug_capture_clear();
    tessel_port_mgr_if_update(&ipc);
    EXPECT_EQ(last_line(), "PORT-MGR: Interface Gi0/0/0/0 (0x00000101) ready update. Change flags 0x0");
    // The same with a real change carries just its flag.
    ipc.applied_config.sync_interval = -3;
    ipc.flags |= 1ull << 5;
    tessel_port_mgr_if_update(&ipc);
    EXPECT_EQ(last_line(), "PORT-MGR: Interface Gi0/0/0/0 (0x00000101) ready update. Change flags 0x40");
    EXPECT_EQ(idb->config.sync_interval, -3);
    // A changed encapsulation is never a ready update: the port waits for the new attachment.
    ipc.applied_config.encap = PTP_ENCAP_ETHERNET;
    ipc.flags |= 1ull << 2;
    tessel_port_mgr_if_update(&ipc);
    EXPECT_EQ(idb->flags & TESSEL_PROTO_IDB_PORT_MGR_READY, 0);
    EXPECT_TRUE(pm_lines_with("ready update. Change flags 0x8").empty());
}

// The re-entrant path: a port's best foreign master changes -> the port manager -> the
// best-master list -> the port's best-master state -> an event into the same port's state
// machine, which acts on it before the first call returns.
struct reentrant_case {
    const char *name;
    ptp_clock_type clock; // the port's new best foreign master
    uint32_t synced;      // the controller's synced flag (the global best master is selected)
    const char *event;    // what the state machine hears
    uint32_t end_state;
};

const reentrant_case reentrant_cases[] = {
    // Listen x BMC-Master is ignored: the port stays in Listen until its announce timeout.
    {"worse than the advertised clock", pm_clock(0xFF11, 200, 2), 0, "BMC-Master-event", PTP_PORT_STATE_LISTEN},
    {"better than the advertised clock", pm_clock(0x0011, 50, 2), 0, "BMC-Passive-event", PTP_PORT_STATE_PASSIVE},
    {"the global best master, not synced", pm_clock(GM_ID, 100, 1), 0, "BMC-Slave-event", PTP_PORT_STATE_UNCALIBRATED},
    {"the global best master, synced", pm_clock(GM_ID, 100, 1), 1, "Master-Clock-Selected-event", PTP_PORT_STATE_SLAVE},
};

TEST_F(PortMgrTest, BestForeignMasterChangeReachesTheListAndThePortsStateMachine)
{
    globals();
    for (const reentrant_case &c : reentrant_cases) {
        SCOPED_TRACE(c.name);
        global_update(1, c.synced);
        tessel_proto_idb_type *idb = ready_port("Gi0/0/0/0", 0x101);
        ASSERT_EQ(idb->fsm.PortState, static_cast<uint32_t>(PTP_PORT_STATE_LISTEN));
        ptp_fsm_foreign_master_type fm{};
        fm.master_clock = c.clock;
        fm.peer_addr.encap = PTP_ENCAP_IPV4;
        const uint32_t before = idb->event_counters[TESSEL_PROTO_IDB_EVENT_BMC_STATE_CHANGES];
        pm_fake.calls.clear();
        debug_set_area(PTP_DEBUG_PATH, "protocol", nullptr);
        debug_capture_clear();
        idb->fsm.foreign_master_ranked_list = &fm;
        tessel_port_mgr_foreign_master_change(idb);
        EXPECT_EQ(tessel_bmc_list_head(), idb);
        EXPECT_EQ(pm_count("comms_bmc_send"), 1); // the node's best master changed
        EXPECT_EQ(idb->event_counters[TESSEL_PROTO_IDB_EVENT_BMC_STATE_CHANGES], before + 1);
        EXPECT_EQ(pm_lines_with(c.event).size(), 1u);
        EXPECT_EQ(idb->fsm.PortState, c.end_state);
        // The port changed more than once in this one event; its record is written once, after it.
        EXPECT_EQ(pm_count("chkpt_if_update"), 0);
        plat_clock_settle();
        EXPECT_EQ(pm_count("chkpt_if_update"), 1);
        // Stop the port while its foreign master still exists, then take the record away.
        tessel_port_mgr_ptp_disable();
        EXPECT_EQ(idb->fsm.slaving_master, nullptr);
        tessel_bmc_if_delete(idb);
        idb->fsm.foreign_master_ranked_list = nullptr;
        EXPECT_EQ(tessel_bmc_list_head(), nullptr);
        records.back()->r.flags |= TESSEL_IPC_FLAG_UPDATE_DELETED;
        tessel_port_mgr_if_update(&records.back()->r);
        records.pop_back();
        globals();
    }
}

// The controller's announce message, byte by byte as the controller writes it.
std::vector<uint8_t> announce_msg(uint64_t local_id, uint8_t domain, uint32_t synced, uint32_t slave_supported,
                                  uint32_t selected)
{
    std::vector<uint8_t> m(TESSEL_PORT_MGR_ANNOUNCE_MSG_LEN, 0);
    auto put = [&m](size_t at, uint64_t v, size_t n) {
        for (size_t i = 0; i < n; i++) {
            m[at + i] = static_cast<uint8_t>(v >> (8 * (n - 1 - i)));
        }
    };
    put(0, local_id, 8);
    m[8] = domain;
    // Global best master at 16: identity, priority1, class, steps removed, sender port identity.
    put(16 + 0, GM_ID, 8);
    m[16 + 8] = 100;
    m[16 + 9] = 6;
    put(16 + 12, 0x4E5D, 2);
    m[16 + 14] = 128;
    put(16 + 16, 3, 2);
    put(16 + 24, 1, 4);
    put(16 + 40, 0x1122334455667788, 8);
    put(16 + 48, 0x0203, 2);
    put(16 + 56, LOCAL_ID, 8);
    put(16 + 64, 7, 2);
    put(96, synced, 4);
    // Advertised clock at 104.
    put(104 + 0, LOCAL_ID, 8);
    m[104 + 8] = 128;
    put(104 + 16, 0, 2);
    put(184, slave_supported, 4);
    put(188, selected, 4);
    return m;
}

TEST_F(PortMgrTest, AnnounceMessageIsReadBigEndianAtItsOffsetsAndAShortOneIsDropped)
{
    tessel_port_mgr_ptp_enable();
    // One byte short (its own allocation, so that a read past it would be caught): nothing changes.
    std::vector<uint8_t> full = announce_msg(LOCAL_ID, 24, 0, 0, 1);
    const std::vector<uint8_t> shorter(full.begin(), full.end() - 1);
    debug_capture_clear();
    EXPECT_EQ(tessel_port_mgr_announce_msg_receive(shorter.data(), shorter.size()), PTP_ZERR_INVALID_ARG);
    EXPECT_EQ(tessel_port_mgr_announce_msg_receive(nullptr, 0), PTP_ZERR_INVALID_ARG);
    EXPECT_EQ(tessel_bmc_get_global_bmc(), nullptr);
    EXPECT_EQ(tessel_port_mgr_get_local_clock(), nullptr);
    EXPECT_TRUE(debug_captured().empty());

    ASSERT_EQ(tessel_port_mgr_announce_msg_receive(full.data(), full.size()), 0u);
    const ptp_clock_type *gm = tessel_bmc_get_global_bmc();
    ASSERT_NE(gm, nullptr);
    EXPECT_EQ(gm->clock_id, GM_ID);
    EXPECT_EQ(gm->priority1, 100);
    EXPECT_EQ(gm->clock_class, 6);
    EXPECT_EQ(gm->offset_log_variance, 0x4E5D);
    EXPECT_EQ(gm->steps_removed, 3);
    EXPECT_EQ(gm->utc_offset_valid, 1u);
    EXPECT_EQ(gm->sender.clock_id, 0x1122334455667788u);
    EXPECT_EQ(gm->sender.port_num, 0x0203);
    EXPECT_EQ(gm->receiver.port_num, 7);
    ASSERT_NE(tessel_bmc_get_advertised_clock(), nullptr);
    EXPECT_EQ(tessel_bmc_get_advertised_clock()->clock_id, LOCAL_ID);
    const tessel_port_mgr_local_clock_type *local = tessel_port_mgr_get_local_clock();
    ASSERT_NE(local, nullptr);
    EXPECT_EQ(local->clock_id, LOCAL_ID);
    EXPECT_EQ(local->domain, 24u);
    // The flags from 96, 184 and 188; the global update comes before the local clock (slave
    // support switched off on the way, so the node's best master is sent again too).
    const std::vector<std::string> got = lines();
    const std::vector<std::string> want = {
        "PORT-MGR: Received global BMC update. BMC clock ID 0xaa00fffe000001, advertised clock ID 0xbb00fffe000002. "
        "BMC is selected, not synced. Slave operation is not supported",
        "PORT-MGR: Received local clock information. ID 0xbb00fffe000002, domain 24",
    };
    std::vector<std::string> received;
    for (const std::string &l : got) {
        if (l.rfind("PORT-MGR: Received", 0) == 0) {
            received.push_back(l);
        }
    }
    EXPECT_EQ(received, want);
    std::vector<uint8_t> other = announce_msg(LOCAL_ID, 24, 1, 1, 0);
    other.resize(200); // a longer message is read up to its known end
    debug_capture_clear();
    ASSERT_EQ(tessel_port_mgr_announce_msg_receive(other.data(), other.size()), 0u);
    EXPECT_EQ(pm_lines_with("Received global BMC update").front(),
              "PORT-MGR: Received global BMC update. BMC clock ID 0xaa00fffe000001, advertised clock ID "
              "0xbb00fffe000002. BMC is not selected, synced. Slave operation is supported");
}

TEST_F(PortMgrTest, NodeBestMasterChangeIsCountedAndSentDamped)
{
    const uint32_t before = tessel_stats_get_node_event_counters()->node[TESSEL_NODE_EVENT_NODE_BMC_CHANGE];
    pm_fake.calls.clear();
    tessel_port_mgr_node_bmc_change();
    EXPECT_EQ(debug_captured(), (std::vector<std::string>{"Received node BMC change"}));
    EXPECT_EQ(tessel_stats_get_node_event_counters()->node[TESSEL_NODE_EVENT_NODE_BMC_CHANGE], before + 1);
    EXPECT_EQ(pm_fake.calls, (std::vector<std::string>{"comms_bmc_send"}));
}

TEST_F(PortMgrTest, AFailedCreationLeavesNoRecordBehind)
{
    globals();
    pm_fake.peer_index_init_result = PTP_ZERR_NOMEM;
    records.push_back(std::make_unique<ipc_record>("Gi0/0/0/0", 0x101));
    tessel_ipc_idb_type &ipc = records.back()->r;
    tessel_master_db_type *entry = nullptr;
    ptp_address_type addr{};
    addr.encap = PTP_ENCAP_IPV4;
    addr.value[0] = 10;
    ASSERT_EQ(tessel_master_db_add(&ipc.applied_config.master_table, &addr, &entry), 0u);
    tessel_port_mgr_if_update(&ipc);
    EXPECT_EQ(last_line(),
              "PORT-MGR: [ERROR] Failed to create protocol thread IDB for interface Gi0/0/0/0 (0x00000101)");
    tessel_proto_idb_type *idb = nullptr;
    EXPECT_NE(tessel_proto_db_get_by_ifname("Gi0/0/0/0", &idb), 0u);
    EXPECT_NE(tessel_proto_db_get_by_ifhandle(0x101, &idb), 0u);
    // The next update of that interface finds nothing to run a state machine on.
    ipc.flags |= 1ull << 14;
    tessel_port_mgr_if_update(&ipc);
    EXPECT_EQ(last_line().rfind("PORT-MGR: [ERROR] Failed to get protocol thread DB IDB to update for interface "
                                "Gi0/0/0/0 (0x00000101): ",
                                0),
              0u);
    // The interface comes back once creation works.
    pm_fake.peer_index_init_result = 0;
    ipc.flags |= TESSEL_IPC_FLAG_UPDATE_CREATED;
    tessel_port_mgr_if_update(&ipc);
    EXPECT_EQ(tessel_proto_db_get_by_ifname("Gi0/0/0/0", &idb), 0u);
    EXPECT_EQ(tessel_master_db_count(&idb->config.master_table), 1u);
}

TEST_F(PortMgrTest, PortStateChangeWithANewEncapsulationStillLeavesTheList)
{
    globals();
    tessel_proto_idb_type *idb = ready_port("Gi0/0/0/0", 0x101);
    ptp_fsm_foreign_master_type fm{};
    fm.master_clock = pm_clock(0x0011, 50, 2);
    fm.peer_addr.encap = PTP_ENCAP_IPV4;
    idb->fsm.foreign_master_ranked_list = &fm;
    tessel_bmc_if_update(idb);
    ASSERT_EQ(tessel_bmc_list_head(), idb);
    tessel_ipc_idb_type &ipc = records.back()->r;
    ipc.applied_config.encap = PTP_ENCAP_ETHERNET;
    ipc.applied_config.port_state = PTP_RESTRICT_PORT_STATE_MASTER_ONLY;
    ipc.flags |= 1ull << 2 | 1ull << 10;
    tessel_port_mgr_if_update(&ipc);
    EXPECT_EQ(idb->config.port_state, static_cast<uint32_t>(PTP_RESTRICT_PORT_STATE_MASTER_ONLY));
    EXPECT_EQ(idb->flags & TESSEL_PROTO_IDB_PORT_MGR_READY, 0);
    EXPECT_EQ(tessel_bmc_list_head(), nullptr);
    idb->fsm.foreign_master_ranked_list = nullptr;
}

TEST_F(PortMgrTest, SecondaryRecoveryGivesARecordWithoutCheckpointTheInitialState)
{
    globals();
    tessel_proto_idb_type *idb = create("Gi0/0/0/0", 0x101);
    tessel_issu_fini();
    issul_test_set_role(ISSUL_ROLE_SECONDARY);
    ASSERT_EQ(tessel_issu_init(evm), 0u);
    idb->fsm.PortState = PTP_PORT_STATE_MASTER; // what the secondary's view held before
    tessel_chkpt_recovering = 1;
    debug_capture_clear();
    tessel_port_mgr_spio_attach_event(idb);
    tessel_chkpt_recovering = 0;
    EXPECT_EQ(idb->fsm.PortState, static_cast<uint32_t>(PTP_PORT_STATE_INITIALIZING));
    EXPECT_EQ(
        last_line(),
        "PORT-MGR: Interface Gi0/0/0/0 (0x00000101) not ready as this instance of PTP is not in Primary ISSU role");
    tessel_issu_fini();
    issul_test_set_role(ISSUL_ROLE_PRIMARY);
    ASSERT_EQ(tessel_issu_init(evm), 0u);
}

// ---- Trace points ----

// The port manager's records of a buffer (numbers 1200-1399) as "0x<id>(<arg>,...)", texts quoted.
std::vector<std::string> pm_records(const char *buffer)
{
    std::vector<std::string> out;
    jotlog_read(
        buffer,
        [](const jotlog_record_type *r, void *c) {
            const uint32_t number = static_cast<uint32_t>(r->id) & 0xFFFFF;
            if (number < 1200 || number >= 1400) {
                return true;
            }
            static_cast<std::vector<std::string> *>(c)->push_back(jotlog_test_record_line(r, "'"));
            return true;
        },
        &out);
    return out;
}

TEST_F(PortMgrTest, InitialisationStepsAreTracedInOrder)
{
    pm_trace_buffers trace;
    trace.open();
    tessel_port_mgr_shutdown();
    ASSERT_EQ(tessel_port_mgr_init(evm), 0u);
    EXPECT_EQ(pm_records("ptp/tessel/det"),
              (std::vector<std::string>{"0x1004f5()", "0x1004f6()", "0x1004f7()", "0x1004f8()", "0x1004f9()"}));
    trace.close();
}

// A database sync that clears a ready port's handle leaves it without handle, attachment or
// counter entry: the port is not ready by the readiness conditions.
TEST_F(PortMgrTest, DbSyncThatClearsTheHandleMakesThePortNotReady)
{
    globals();
    tessel_proto_idb_type *idb = ready_port("Gi0/0/0/0", 0x101);
    ASSERT_NE(idb->packet_counters, nullptr);
    tessel_ipc_idb_type *ipc = ipc_db_record("Gi0/0/0/0");
    ASSERT_NE(ipc, nullptr);
    ipc->if_type = 1;
    ipc->im_state = 3;
    ipc->ether_info_len = 6;
    ipc->applied_config.encap = PTP_ENCAP_IPV4;
    ipc->applied_config.announce_timeout = 3;
    ipc->applied_ipv4_addr = records.back()->r.applied_ipv4_addr;
    ipc->flags = TESSEL_IPC_FLAG_ENABLED | TESSEL_IPC_FLAG_VRF_ID_KNOWN | TESSEL_IPC_FLAG_ETHER_INFO_KNOWN;
    pm_fake.calls.clear();
    debug_capture_clear();
    tessel_port_mgr_db_sync_start(1, 0, 0, PTP_PROFILE_DEFAULT, 0, 0);

    EXPECT_EQ(idb->header.ifhandle, 0u);
    EXPECT_EQ(idb->flags & TESSEL_PROTO_IDB_PORT_MGR_READY, 0);
    EXPECT_EQ(idb->packet_counters, nullptr);
    EXPECT_EQ(pm_count("packet_detach"), 1);
    EXPECT_EQ(pm_count("packet_attach"), 0);
    const std::vector<std::string> l = lines();
    EXPECT_NE(std::find(l.begin(), l.end(), "PORT-MGR: Interface Gi0/0/0/0 (0x00000000) no longer ready"), l.end());
    EXPECT_NE(std::find(l.begin(), l.end(),
                        "PORT-MGR: Interface Gi0/0/0/0 (0x00000000) not ready as interface handle is not known"),
              l.end());
    ipc_db_drop(ipc);
}

// A restarted agent syncs its databases before the interface manager has answered for the
// configured interfaces: the IPC record knows no type or line state yet. A port rebuilt from the
// checkpoint keeps its own and stays ready (its state machine resumed as it was); a port without
// a checkpoint record takes the unknown values and is not ready, as before.
TEST_F(PortMgrTest, DbSyncBeforeTheInterfaceManagerHasAnsweredKeepsARecoveredPortReady)
{
    struct case_type {
        const char *what;
        uint64_t chkpt_obj_id;
        bool ready_after;
        uint32_t if_type_after, im_state_after;
    };
    const case_type cases[] = {
        {"recovered from the checkpoint", 7, true, 1, 3},
        {"no checkpoint record", 0, false, 0, 0},
    };
    for (const case_type &c : cases) {
        SCOPED_TRACE(c.what);
        globals();
        tessel_proto_idb_type *idb = ready_port("Gi0/0/0/0", 0x101);
        idb->chkpt_obj_id = c.chkpt_obj_id;
        tessel_ipc_idb_type *ipc = ipc_db_record("Gi0/0/0/0");
        ASSERT_NE(ipc, nullptr);
        // What the restarted IPC thread has: the configuration and the handle, nothing from the
        // interface manager yet (no type, line state, Ethernet information, VRF or address).
        const tessel_ipc_idb_type &created = records.back()->r;
        ipc->header.ifhandle = 0x101;
        ipc->applied_config.encap = created.applied_config.encap;
        ipc->applied_config.announce_timeout = created.applied_config.announce_timeout;
        ipc->applied_ipv4_addr = TESSEL_PROTO_IDB_IPV4_ADDR_NONE;
        ipc->flags = TESSEL_IPC_FLAG_ENABLED;
        const uint32_t state_before = idb->fsm.PortState;
        debug_capture_clear();
        tessel_port_mgr_db_sync_start(1, 0, 0, PTP_PROFILE_DEFAULT, 0, 0);

        EXPECT_EQ(idb->flags & TESSEL_PROTO_IDB_PORT_MGR_READY ? true : false, c.ready_after);
        EXPECT_EQ(idb->if_type, c.if_type_after);
        EXPECT_EQ(idb->im_state, c.im_state_after);
        EXPECT_EQ(idb->ipv4_addr, c.ready_after ? created.applied_ipv4_addr : TESSEL_PROTO_IDB_IPV4_ADDR_NONE);
        EXPECT_EQ((idb->flags & TESSEL_PROTO_IDB_ETHER_INFO_KNOWN) != 0, c.ready_after);
        const std::vector<std::string> l = lines();
        const bool went_down =
            std::find(l.begin(), l.end(), "PORT-MGR: Interface Gi0/0/0/0 (0x00000101) no longer ready") != l.end();
        EXPECT_EQ(went_down, !c.ready_after);
        if (c.ready_after) {
            EXPECT_EQ(idb->fsm.PortState, state_before);
        }
        ipc_db_drop(ipc);
        idb->chkpt_obj_id = 0;
        records.back()->r.flags |= TESSEL_IPC_FLAG_UPDATE_DELETED;
        tessel_port_mgr_if_update(&records.back()->r);
        records.clear();
        tessel_port_mgr_ptp_disable();
    }
}

// The interface manager's first report to a restarted agent repeats what its ports were rebuilt
// with: the port goes on as it is. A report of a new address restarts it (through Initializing).
TEST_F(PortMgrTest, AnInterfaceManagerReportRestartsAPortOnlyWhenItChangesSomething)
{
    struct case_type {
        const char *what;
        uint32_t ipv4_addr;
        bool restarted;
    };
    const case_type cases[] = {
        {"the values the port has", 0x0A000001, false},
        {"a new IPv4 address", 0x0A000002, true},
    };
    for (const case_type &c : cases) {
        SCOPED_TRACE(c.what);
        globals();
        tessel_proto_idb_type *idb = ready_port("Gi0/0/0/0", 0x101);
        tessel_ipc_idb_type &ipc = records.back()->r;
        ipc.applied_ipv4_addr = c.ipv4_addr;
        ipc.flags |= 1ull << 13 | 1ull << 14 | 1ull << 15 | 1ull << 17 | 1ull << 19;
        debug_capture_clear();
        tessel_port_mgr_if_update(&ipc);
        const std::vector<std::string> all = debug_captured();
        const bool through_initializing =
            std::find_if(all.begin(), all.end(), [](const std::string &l) {
                return l.find("Gi0/0/0/0 (0x00000101): now Initializing") != std::string::npos;
            }) != all.end();
        EXPECT_EQ(through_initializing, c.restarted);
        EXPECT_NE(idb->flags & TESSEL_PROTO_IDB_PORT_MGR_READY, 0);
        EXPECT_EQ(idb->ipv4_addr, c.ipv4_addr);
        ipc.flags |= TESSEL_IPC_FLAG_UPDATE_DELETED;
        tessel_port_mgr_if_update(&ipc);
        records.clear();
        tessel_port_mgr_ptp_disable();
    }
}

TEST_F(PortMgrTest, InterfaceLifeAndLookupFailuresAreTraced)
{
    globals();
    pm_trace_buffers trace;
    trace.open();
    tessel_proto_idb_type *idb = ready_port("Gi0/0/0/0", 0x101);
    idb->im_state = 2;
    tessel_port_mgr_readiness_check(idb, 0, true);

    // Updates and deletions of an interface the protocol thread does not know.
    tessel_proto_idb_type *none = nullptr;
    const zerrno missing = tessel_proto_db_get_by_ifname("Gi0/0/0/9", &none);
    ASSERT_NE(missing, 0u);
    ipc_record stray("Gi0/0/0/9", 0x109);
    stray.r.flags = 1ull << 14;
    tessel_port_mgr_if_update(&stray.r);
    stray.r.flags = TESSEL_IPC_FLAG_UPDATE_DELETED;
    tessel_port_mgr_if_update(&stray.r);

    records.back()->r.flags |= TESSEL_IPC_FLAG_UPDATE_DELETED;
    tessel_port_mgr_if_update(&records.back()->r);
    records.clear();
    tessel_port_mgr_db_sync_start(0, 0, 0, PTP_PROFILE_DEFAULT, 0, 255);

    const std::string err = std::to_string(missing);
    EXPECT_EQ(pm_records("ptp/tessel/det"),
              (std::vector<std::string>{"0x2001004cf(257,257)", "0x1001004cd(257)", "0x1001004ce(257)",
                                        "0x3001004d4(265,265," + err + ")", "0x3001004d2(265,265," + err + ")",
                                        "0x2001004d1(257,257)", "0x101001004d5('not ')"}));
    EXPECT_EQ(pm_records("ptp/tessel/unq"),
              (std::vector<std::string>{"0x3001004d4(265,265," + err + ")", "0x3001004d2(265,265," + err + ")"}));
    trace.close();
}

} // namespace
