// The best-master list and each interface's best-master state.
#include <memory>

#include "tessel_bmc.h"
#include "tessel_pm_test_env.h"
#include "tessel_port_mgr.h"
#include "tessel_proto_db.h"

namespace {

struct report_type {
    tessel_proto_idb_type *idb;
    uint32_t state;
};
std::vector<report_type> reports;
int node_changes = 0;

void on_state(tessel_proto_idb_type *idb, tessel_bmc_if_state_type state)
{
    reports.push_back({idb, state});
}
void on_node()
{
    node_changes++;
}

constexpr uint64_t GM_ID = 0x00AA00FFFE000001;
constexpr uint64_t LOCAL_ID = 0x00BB00FFFE000002;

class BmcTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        pm_fake_reset();
        evm = event_create_manager(nullptr, nullptr, 0);
        pm_debug_setup(evm);
        issul_test_reset();
        issul_test_set_role(ISSUL_ROLE_PRIMARY);
        ASSERT_EQ(tessel_issu_init(evm), 0u);
        ASSERT_EQ(tessel_proto_db_init(), 0u);
        tessel_bmc_reset();
        const tessel_bmc_callbacks_type cb{on_state, on_node};
        tessel_bmc_register_callbacks(&cb);
        reports.clear();
        node_changes = 0;
        tessel_port_mgr_profile_change(PTP_PROFILE_DEFAULT, PTP_TELECOM_CLOCK_T_BC);
        debug_set_area(PTP_DEBUG_PATH, "bmc", nullptr);
        debug_capture_clear();
    }
    void TearDown() override
    {
        tessel_bmc_reset();
        for (tessel_proto_idb_type *idb : idbs) {
            tessel_proto_db_delete(idb);
        }
        tessel_proto_db_cleanup();
        tessel_issu_fini();
        ptp_debug_cleanup();
        event_manager_destroy(evm);
    }
    tessel_proto_idb_type *port(const char *name, uint32_t state, ptp_fsm_foreign_master_type *fm,
                                uint32_t port_state_cfg = PTP_RESTRICT_PORT_STATE_ANY)
    {
        tessel_proto_idb_type *idb = nullptr;
        EXPECT_EQ(tessel_proto_db_create(name, &idb), 0u);
        idb->header.ifhandle = 0x100 + static_cast<ifhtype>(idbs.size());
        idb->if_type = 1;
        idb->fsm.PortState = state;
        idb->fsm.foreign_master_ranked_list = fm;
        idb->config.port_state = port_state_cfg;
        idbs.push_back(idb);
        return idb;
    }
    ptp_fsm_foreign_master_type *fm(const ptp_clock_type &clock, uint8_t last_addr_byte = 1)
    {
        auto m = std::make_unique<ptp_fsm_foreign_master_type>();
        *m = ptp_fsm_foreign_master_type{};
        m->master_clock = clock;
        m->peer_addr.encap = PTP_ENCAP_IPV4;
        m->peer_addr.value[0] = 10;
        m->peer_addr.value[3] = last_addr_byte;
        fms.push_back(std::move(m));
        return fms.back().get();
    }
    void global(uint32_t selected, uint32_t synced)
    {
        const ptp_clock_type gm = pm_clock(GM_ID, 100, 1);
        const ptp_clock_type adv = pm_clock(LOCAL_ID, 128, 0);
        tessel_bmc_global_bmc_update(&gm, &adv, selected, synced);
    }
    event_mgr_type *evm = nullptr;
    std::vector<tessel_proto_idb_type *> idbs;
    std::vector<std::unique_ptr<ptp_fsm_foreign_master_type>> fms;
};

// The foreign master a port hears, relative to the global best master and the advertised clock.
enum class rel {
    none,
    gm_same,
    gm_changed,
    better,
    worse,
    held_passive,
    topology
};

struct state_case {
    const char *name;
    uint32_t profile;
    uint32_t clock_type;
    rel relation;
    uint32_t selected, synced;
    bool slave_support; // node flag and platform capability
    uint32_t port_state_cfg;
    uint32_t port_state;
    int expected; // -1: nothing reported
};

constexpr uint32_t ANY = PTP_RESTRICT_PORT_STATE_ANY;
constexpr uint32_t SO = PTP_RESTRICT_PORT_STATE_SLAVE_ONLY;
constexpr uint32_t MO = PTP_RESTRICT_PORT_STATE_MASTER_ONLY;
constexpr uint32_t LISTEN = PTP_PORT_STATE_LISTEN;
constexpr int M = TESSEL_BMC_IF_STATE_MASTER, P = TESSEL_BMC_IF_STATE_PASSIVE, S = TESSEL_BMC_IF_STATE_SLAVE,
              SS = TESSEL_BMC_IF_STATE_SLAVE_SYNCED, NONE = -1;

const state_case state_cases[] = {
    {"default: worse than advertised", 0, 1, rel::worse, 1, 1, true, ANY, LISTEN, M},
    {"default: better than advertised", 0, 1, rel::better, 1, 1, true, ANY, LISTEN, P},
    {"default: no foreign master", 0, 1, rel::none, 1, 1, true, ANY, LISTEN, M},
    {"default: on the global path, synced", 0, 1, rel::gm_same, 1, 1, true, ANY, LISTEN, SS},
    {"default: on the global path, not synced", 0, 1, rel::gm_same, 1, 0, true, ANY, LISTEN, S},
    {"default: properties changed, not selected", 0, 1, rel::gm_changed, 0, 0, true, ANY, LISTEN, S},
    // On the path, unchanged, but not selected: ranked against the advertised clock instead.
    {"default: on the global path, not selected", 0, 1, rel::gm_same, 0, 1, true, ANY, LISTEN, P},
    {"default: held passive", 0, 1, rel::held_passive, 1, 1, true, ANY, LISTEN, M},
    {"default: advertised clock, worse only by topology", 0, 1, rel::topology, 1, 1, true, ANY, LISTEN, P},
    {"G.8275.2 T-TSC: held passive", 3, 2, rel::held_passive, 1, 1, true, ANY, LISTEN, P},
    {"default: slave not supported", 0, 1, rel::gm_same, 1, 1, false, ANY, LISTEN, P},
    {"default: slave already uncalibrated", 0, 1, rel::gm_same, 1, 0, true, ANY, PTP_PORT_STATE_UNCALIBRATED, NONE},
    {"default: slave synced already slave", 0, 1, rel::gm_same, 1, 1, true, ANY, PTP_PORT_STATE_SLAVE, NONE},
    {"default: slave reported in Slave", 0, 1, rel::gm_same, 1, 0, true, ANY, PTP_PORT_STATE_SLAVE, S},
    {"default: master already master", 0, 1, rel::worse, 1, 1, true, ANY, PTP_PORT_STATE_MASTER, NONE},
    {"default: passive already passive", 0, 1, rel::better, 1, 1, true, ANY, PTP_PORT_STATE_PASSIVE, NONE},
    {"default: master-only on the global path", 0, 1, rel::gm_same, 1, 1, true, MO, LISTEN, M},
    {"default: slave-only would be master", 0, 1, rel::worse, 1, 1, true, SO, LISTEN, P},
    {"default: initializing", 0, 1, rel::worse, 1, 1, true, ANY, PTP_PORT_STATE_INITIALIZING, NONE},
    {"default: faulty", 0, 1, rel::worse, 1, 1, true, ANY, PTP_PORT_STATE_FAULTY, NONE},
    {"G.8275.1 T-GM: always master", 2, 0, rel::gm_same, 1, 1, true, ANY, LISTEN, M},
    {"G.8275.1 T-GM: slave-only", 2, 0, rel::worse, 1, 1, true, SO, LISTEN, P},
    {"G.8275.1 T-TSC: worse foreign master never master", 2, 2, rel::worse, 1, 1, true, ANY, LISTEN, P},
    {"G.8275.1 T-TSC: slave synced", 2, 2, rel::gm_same, 1, 1, true, ANY, LISTEN, SS},
    {"G.8275.1 T-TSC: master-only slave", 2, 2, rel::gm_same, 1, 1, true, MO, LISTEN, P},
    {"G.8275.2 T-BC: other rules", 3, 1, rel::worse, 1, 1, true, MO, LISTEN, M},
    {"G.8265.1 Slave: worse is passive", 1, 2, rel::worse, 1, 1, true, ANY, LISTEN, P},
    {"G.8265.1 Master: always master", 1, 0, rel::better, 1, 1, true, ANY, LISTEN, M},
};

TEST_F(BmcTest, InterfaceStateTable)
{
    for (const state_case &c : state_cases) {
        SCOPED_TRACE(c.name);
        tessel_bmc_reset();
        reports.clear();
        tessel_port_mgr_profile_change(c.profile, c.clock_type);
        pm_fake.caps_slave = c.slave_support;
        global(c.selected, c.synced);
        ptp_fsm_foreign_master_type *m = nullptr;
        switch (c.relation) {
        case rel::none: break;
        case rel::gm_same: m = fm(pm_clock(GM_ID, 100, 1)); break;
        case rel::gm_changed: m = fm(pm_clock(GM_ID, 90, 1)); break;
        case rel::better: m = fm(pm_clock(0x0011, 50, 2)); break;
        case rel::worse: m = fm(pm_clock(0xFF11, 200, 2)); break;
        case rel::held_passive: m = fm(pm_clock(GM_ID, 100, 1)); break;
        case rel::topology:
            m = fm(pm_clock(LOCAL_ID, 128, 0, LOCAL_ID + 1)); // decided by the sender identity
            break;
        }
        tessel_proto_idb_type *idb =
            port(("Gi0/0/0/" + std::to_string(idbs.size())).c_str(), c.port_state, m, c.port_state_cfg);
        idb->fsm.is_held_passive = c.relation == rel::held_passive ? 1 : 0;
        tessel_bmc_if_update(idb);
        if (c.expected == NONE) {
            EXPECT_TRUE(reports.empty());
        } else {
            ASSERT_EQ(reports.size(), 1u);
            EXPECT_EQ(reports[0].idb, idb);
            EXPECT_EQ(reports[0].state, static_cast<uint32_t>(c.expected));
        }
        tessel_bmc_reset();
        tessel_proto_db_delete(idb);
        idbs.pop_back();
    }
}

TEST_F(BmcTest, ListIsSortedBestFirstAndNodeBestMasterFollowsTheHead)
{
    tessel_proto_idb_type *a = port("Gi0/0/0/1", LISTEN, fm(pm_clock(0x30, 120), 1));
    tessel_proto_idb_type *b = port("Gi0/0/0/2", LISTEN, fm(pm_clock(0x20, 110), 2));
    tessel_proto_idb_type *c = port("Gi0/0/0/3", LISTEN, fm(pm_clock(0x10, 130), 3));
    tessel_bmc_if_update(a);
    tessel_bmc_if_update(b);
    tessel_bmc_if_update(c);
    EXPECT_EQ(node_changes, 2); // a, then b became the head; c went to the tail
    ASSERT_EQ(tessel_bmc_list_head(), b);
    EXPECT_EQ(b->bmc_next, a);
    EXPECT_EQ(a->bmc_next, c);
    tessel_bmc_info_type info{};
    ASSERT_NE(tessel_bmc_get_node_bmc(&info), nullptr);
    EXPECT_EQ(info.ifhandle, b->header.ifhandle);
    EXPECT_EQ(tessel_bmc_get_node_bmc()->clock_id, 0x20u);
    EXPECT_EQ(pm_lines_with("into BMC list").back(),
              "BMC: Inserted interface Gi0/0/0/3 (0x00000102) into BMC list at position 2");

    // The head loses its foreign master: it leaves, and the next entry becomes the node's best.
    b->fsm.foreign_master_ranked_list = nullptr;
    tessel_bmc_if_update(b);
    EXPECT_EQ(node_changes, 3);
    EXPECT_EQ(tessel_bmc_list_head(), a);
    EXPECT_EQ(b->bmc_next, nullptr);
    EXPECT_EQ(b->bmc_prev, nullptr);
    EXPECT_EQ(tessel_bmc_get_node_bmc()->clock_id, 0x30u);

    // A non-head change leaves the node's best alone.
    c->fsm.is_held_passive = 1;
    tessel_bmc_if_update(c);
    EXPECT_EQ(node_changes, 3);
    EXPECT_EQ(a->bmc_next, nullptr);
}

TEST_F(BmcTest, GlobalUpdateReachesEveryPortOnceAndRepeatsNothing)
{
    port("Gi0/0/0/1", PTP_PORT_STATE_MASTER, fm(pm_clock(0xFF01, 200, 2)));
    port("Gi0/0/0/2", PTP_PORT_STATE_PASSIVE, fm(pm_clock(0x0001, 50, 2)));
    port("Gi0/0/0/3", LISTEN, nullptr);
    global(1, 0);
    ASSERT_EQ(reports.size(), 3u); // forced: even ports already in that state hear it
    EXPECT_EQ(reports[0].state, static_cast<uint32_t>(M));
    EXPECT_EQ(reports[1].state, static_cast<uint32_t>(P));
    EXPECT_EQ(reports[2].state, static_cast<uint32_t>(M));
    EXPECT_EQ(pm_lines_with("Updating state").front(),
              "BMC: Updating state for interface Gi0/0/0/1 (0x00000100) to MASTER (0);");
    reports.clear();
    global(1, 0);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(
        pm_lines_with("BMC has").back(),
        "BMC: Received global best master clock aa00fffe000001 and advertised clock bb00fffe000002. BMC has not changed");
    global(1, 1);
    EXPECT_EQ(reports.size(), 3u);
}

TEST_F(BmcTest, NoStateBeforeTheFirstGlobalUpdateOrOutsideThePrimaryRole)
{
    tessel_proto_idb_type *a = port("Gi0/0/0/1", LISTEN, fm(pm_clock(GM_ID, 100, 1)));
    tessel_bmc_if_update(a);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(tessel_bmc_list_head(), a); // the list is kept meanwhile
    EXPECT_EQ(tessel_bmc_get_global_bmc(), nullptr);
    EXPECT_EQ(tessel_bmc_get_advertised_clock(), nullptr);
    tessel_issu_role_change_cb(nullptr, TESSEL_ISSU_ROLE_RETIRING);
    global(1, 1);
    EXPECT_TRUE(reports.empty());
}

TEST_F(BmcTest, SlaveSupportOffEmptiesTheListAndTheSlaveTurnsPassive)
{
    tessel_proto_idb_type *a = port("Gi0/0/0/1", PTP_PORT_STATE_UNCALIBRATED, fm(pm_clock(GM_ID, 100, 1)));
    global(1, 0);
    tessel_bmc_if_update(a);
    ASSERT_EQ(tessel_bmc_list_head(), a);
    reports.clear();
    node_changes = 0;
    tessel_bmc_slave_support_change(0);
    EXPECT_EQ(tessel_bmc_list_head(), nullptr);
    EXPECT_EQ(tessel_bmc_get_node_bmc(), nullptr);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].state, static_cast<uint32_t>(P));
    EXPECT_EQ(node_changes, 1);
    EXPECT_EQ(tessel_bmc_is_slave_supported(1), 0u);
    tessel_bmc_slave_support_change(1);
    EXPECT_EQ(tessel_bmc_list_head(), a);
    EXPECT_EQ(node_changes, 2);
    // Type 10 needs the extended capability.
    EXPECT_EQ(tessel_bmc_is_slave_supported(10), 0u);
    pm_fake.caps_slave_ext = true;
    EXPECT_EQ(tessel_bmc_is_slave_supported(10), 1u);
}

TEST_F(BmcTest, TracePointsIntoTheDetailBuffer)
{
    tessel_proto_idb_type *a = port("Gi0/0/0/1", LISTEN, fm(pm_clock(0x30, 120), 1));
    pm_trace_buffers trace;
    trace.open();
    tessel_bmc_if_update(a); // inserted at 0, and the node's best master is now a's
    global(1, 0);
    global(1, 0);                                          // unchanged
    tessel_bmc_slave_support_change(0);                    // a leaves the list
    const std::string addr0 = std::to_string(0x0A000001u); // 10.0.0.1 in trace form
    const std::string gm = std::to_string(GM_ID >> 32) + "," + std::to_string(GM_ID & 0xFFFFFFFF);
    const std::string adv = std::to_string(LOCAL_ID >> 32) + "," + std::to_string(LOCAL_ID & 0xFFFFFFFF);
    EXPECT_EQ(pm_trace_buffers::lines("ptp/tessel/det"),
              (std::vector<std::string>{
                  "0x300100578(256,0,256)",
                  // New clock, the master's address (IPv4 in third place), old clock.
                  "0x800070010057b(0,48," + addr0 + ",0," + std::to_string(PTP_ENCAP_IPV4) + ",0,0)",
                  "0x50010057a(" + gm + "," + adv + ",1)",
                  "0x50010057a(" + gm + "," + adv + ",0)",
                  "0x10010057c(0)",
                  "0x200100579(256,0)",
              }));
    trace.close();
}

} // namespace
