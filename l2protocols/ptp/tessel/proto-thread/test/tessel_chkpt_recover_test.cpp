// Reading the agent's checkpoint back: a restart as primary, a standby's initial transfer and
// change notices, the switchover of a standby to primary, the stale-record sweeps and the IDT
// timer, against the platform's checkpoint service (a primary and a standby instance of the test's
// own), the real record encoding and the real interface database, on virtual time.
#include <algorithm>
#include <cstring>
#include <functional>

#include "chkpt_test.h"
#include "evm_test.h"
#include "pktio_test.h"
#include "plat_clock_test.h"
#include "ptp_timer.h"
#include "qor_log.h"
#include "sysmgr_test.h"
#include "tessel_chkpt.h"
#include "tessel_chkpt_recover_test_fake.h"
#include "tessel_chkpt_test_fake.h"
#include "tessel_fsm.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_master_db.h"
#include "tessel_peer_index.h"
#include "tessel_pm_test_env.h"
#include "tessel_proto_db.h"
#include "tessel_stats.h"

namespace {

constexpr const char *PORT = "Gi0/0/0/1";
constexpr const char *OTHER = "Gi0/0/0/2";

ptp_address_type ipv4(uint8_t last)
{
    ptp_address_type a{};
    a.encap = PTP_ENCAP_IPV4;
    a.value[0] = 192;
    a.value[1] = 0;
    a.value[2] = 2;
    a.value[3] = last;
    return a;
}

tessel_chkpt_gl_type gl_record()
{
    tessel_chkpt_gl_type gl{};
    gl.local_clock_present = 1;
    gl.local_clock_id = 0x11;
    gl.local_clock_domain = 24;
    gl.bmc_present = 1;
    gl.bmc.clock_id = 0x22;
    gl.advertised.clock_id = 0x33;
    gl.selected = 1;
    gl.synced = 1;
    gl.slave_supported = 1;
    gl.profile = 2;
    gl.profile_version = 1;
    gl.min_clock_class_present = 1;
    gl.min_clock_class = 6;
    return gl;
}

// An interface record with one IPv4 and one IPv6 address in its lists.
std::vector<uint8_t> if_record(const char *name, uint16_t port_num, uint32_t port_state = 6)
{
    std::vector<uint8_t> block(tessel_chkpt_if_size(1, 1));
    auto *rec = reinterpret_cast<tessel_chkpt_if_type *>(block.data());
    std::snprintf(rec->ifname, sizeof rec->ifname, "%s", name);
    rec->ifhandle = 0x100;
    rec->iftype = 1;
    rec->port_num = port_num;
    rec->port_state = port_state;
    rec->im_state = 3;
    rec->ether_info_known = 1;
    rec->ether_info_len = 2;
    rec->ether_info[0] = 0xAB;
    rec->ip_address[0] = 10;
    rec->vrf_known = 1;
    rec->ipv4_vrf = 0x60000000;
    rec->foreign_master_present = 1;
    rec->foreign_master.peer_addr = ipv4(7);
    rec->foreign_master.transport = 2;
    rec->foreign_master.configured_priority = 9;
    rec->foreign_master.is_priority_configured = 1;
    rec->foreign_master.is_nonnegotiated = 1;
    rec->foreign_master.is_in_master_table = 1;
    rec->config.encap = 2;
    rec->config.local_priority = 77;
    rec->config.cos = 5;
    rec->num_ipv4_addr = 1;
    rec->num_ipv6_addr = 1;
    uint8_t *list = tessel_chkpt_if_addr_list(rec);
    list[0] = 10;
    list[PTP_IPV4_ADDR_LEN] = 0xFE;
    return block;
}

tessel_chkpt_unicast_grant_type grant_record(const char *name, uint8_t last)
{
    tessel_chkpt_unicast_grant_type g{};
    std::snprintf(g.ifname, sizeof g.ifname, "%s", name);
    g.peer_addr = ipv4(last);
    g.grant_flags = TESSEL_CHKPT_GRANT_ANNOUNCE;
    return g;
}

tessel_chkpt_peer_index_type peer_index_record(const char *name, uint8_t last, uint16_t index)
{
    tessel_chkpt_peer_index_type p{};
    std::snprintf(p.ifname, sizeof p.ifname, "%s", name);
    p.peer_addr = ipv4(last);
    p.peer_index = index;
    return p;
}

std::string if_token(const char *name, uint16_t port_num, uint32_t port_state = 6)
{
    const std::vector<uint8_t> block = if_record(name, port_num, port_state);
    return chkpt_recover_fake_encode(*reinterpret_cast<const tessel_chkpt_if_type *>(block.data()));
}

bool collect_port(tessel_proto_idb_type *idb, void *context)
{
    static_cast<std::vector<tessel_proto_idb_type *> *>(context)->push_back(idb);
    return true;
}

class ChkptRecoverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat_clock_use_virtual();
        chkpt_test_reset(":memory:");
        issul_test_reset();
        issul_test_set_role(ISSUL_ROLE_PRIMARY);
        sysmgr_test_reset();
        pktio_test_reset();
        chkpt_fake_reset();
        chkpt_recover_fake_reset();
        tessel_chkpt_test_reset();
        tessel_chkpt_recover_test_reset();
        tessel_stats_clear_node_event_counters();
        evm = event_create_manager(nullptr, nullptr, 0);
        pm_debug_setup(evm);
        debug_set_area(PTP_DEBUG_PATH, "port_mgr", nullptr);
        ASSERT_EQ(ptp_timer_init(evm, 512, 64, nullptr, nullptr, 0, pm_debug_table), 0u);
        ASSERT_EQ(tessel_proto_db_init(), 0u);
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();
    }
    void TearDown() override
    {
        chkpt_recover_fake_release_ports();
        std::vector<tessel_proto_idb_type *> ports;
        tessel_proto_db_walk(collect_port, &ports, nullptr, false);
        for (tessel_proto_idb_type *idb : ports) {
            tessel_master_db_destroy(&idb->config.master_table);
            tessel_proto_db_delete(idb);
        }
        tessel_proto_db_cleanup();
        tessel_chkpt_recover_test_reset();
        chkpt_test_instance_use(nullptr);
        for (chkpt_instance_type *instance : instances) {
            chkpt_test_instance_free(instance);
        }
        ptp_timer_shutdown();
        ptp_debug_cleanup();
        event_manager_destroy(evm);
        chkpt_test_reset(":memory:");
    }

    // The agent's own instance as primary with its tables.
    void primary_with_tables()
    {
        ASSERT_EQ(tessel_chkpt_init(evm), 0u);
        tessel_chkpt_go_primary_active();
        ASSERT_EQ(tessel_chkpt_tables_register(), 0u);
    }
    // The node's primary agent in another instance; the agent under test stays the standby.
    chkpt_instance_type *other_primary()
    {
        chkpt_instance_type *primary = chkpt_test_instance_new(nullptr);
        instances.push_back(primary);
        return primary;
    }
    // A record written in the current instance (which must be primary-active).
    chkpt_objid store(uint32_t table_id, const std::string &bytes)
    {
        chkpt_objid id = 0;
        EXPECT_EQ(chkpt_create(table(table_id), 0, &id), 0u);
        if (!bytes.empty()) {
            EXPECT_EQ(chkpt_save(table(table_id), id, bytes.data(), bytes.size()), 0u);
        }
        return id;
    }
    chkpt_tbl_type *table(uint32_t table_id)
    {
        if (other_tables[table_id] != nullptr && current_is_other) {
            return other_tables[table_id];
        }
        return tessel_chkpt_table(table_id);
    }
    // Registers the tables in the other primary instance, which then is current.
    void use_other(chkpt_instance_type *primary)
    {
        chkpt_test_instance_use(primary);
        current_is_other = true;
        if (other_tables[0] != nullptr) {
            return;
        }
        chkpt_appdesc_type desc;
        chkpt_appdesc_init(&desc);
        std::strncpy(desc.name, TESSEL_CHKPT_APP_NAME, sizeof desc.name - 1);
        ASSERT_EQ(chkpt_init(evm, &desc), 0u);
        ASSERT_EQ(chkpt_go_primary_active(), 0u);
        for (uint32_t id = 0; id < TESSEL_CHKPT_TABLE_COUNT; ++id) {
            chkpt_tbldesc_type t;
            chkpt_tbldesc_init(&t);
            t.table_id = id;
            t.record_size = TESSEL_CHKPT_RECORD_SIZE;
            ASSERT_EQ(chkpt_register(&t, &other_tables[id]), 0u);
        }
    }
    void use_own()
    {
        chkpt_test_instance_use(nullptr);
        current_is_other = false;
    }
    // A port the standby has from its own configuration.
    tessel_proto_idb_type *standby_port(const char *name)
    {
        tessel_proto_idb_type *idb = nullptr;
        EXPECT_EQ(tessel_proto_db_create(name, &idb), 0u);
        EXPECT_EQ(tessel_master_db_init(&idb->config.master_table), 0u);
        ptp_fsm_init(idb);
        tessel_peer_index_idb_init(idb);
        idb->if_type = 5;
        recover_fake.calls.clear();
        return idb;
    }
    static tessel_proto_idb_type *port(const char *name)
    {
        tessel_proto_idb_type *idb = nullptr;
        return tessel_proto_db_get_by_ifname(name, &idb) == 0 ? idb : nullptr;
    }
    void become_standby()
    {
        chkpt_fake.role = TESSEL_ISSU_ROLE_SECONDARY;
        issul_test_set_role(ISSUL_ROLE_SECONDARY);
        chkpt_fake.idt_forward = tessel_chkpt_idt_received;
        chkpt_fake.ndt_forward = tessel_chkpt_ndt_received;
    }
    std::vector<std::string> lines_with(const std::string &part) const { return pm_lines_with(part); }

    event_mgr_type *evm = nullptr;
    std::vector<chkpt_instance_type *> instances;
    chkpt_tbl_type *other_tables[TESSEL_CHKPT_TABLE_COUNT] = {};
    bool current_is_other = false;
};

// ---- Restart as primary ----

TEST_F(ChkptRecoverTest, ARestartAsPrimaryRebuildsPortsGlobalStateGrantsAndPeerIndices)
{
    primary_with_tables();
    const chkpt_objid gl_id = store(TESSEL_CHKPT_TABLE_GL, chkpt_recover_fake_encode(gl_record()));
    const chkpt_objid if_id = store(TESSEL_CHKPT_TABLE_IF, if_token(PORT, 7));
    const chkpt_objid grant_id =
        store(TESSEL_CHKPT_TABLE_UNICAST_GRANT, chkpt_recover_fake_encode(grant_record(PORT, 9)));
    const chkpt_objid index_id =
        store(TESSEL_CHKPT_TABLE_PEER_INDEX, chkpt_recover_fake_encode(peer_index_record(PORT, 9, 5)));
    recover_fake.port_num_running = 1;
    debug_capture_clear();

    tessel_chkpt_read();

    const std::string id = std::to_string(if_id);
    EXPECT_EQ(recover_fake.calls,
              (std::vector<std::string>{
                  "bmc_slave_support:1", "bmc_update:34:51:1:1", "local_clock:17:24", "profile:2:1",
                  "min_clock_class:6", "fsm_init:Gi0/0/0/1", "peer_index_idb_init:Gi0/0/0/1", "attach:Gi0/0/0/1",
                  "port_num_resync", "port_num_batches", "attach_flush", "bmc_restore", "stats_recover",
                  "grant_restore:Gi0/0/0/1:" + std::to_string(grant_id), "peer_index_clear",
                  "peer_index_restore:Gi0/0/0/1:5:" + std::to_string(index_id), "peer_index_sweep"}));
    EXPECT_EQ(tessel_chkpt_recovering, 0u);
    EXPECT_EQ(tessel_chkpt_gl_objid(), gl_id);
    EXPECT_EQ(tessel_chkpt_gl.profile, 2u);

    tessel_proto_idb_type *idb = port(PORT);
    ASSERT_NE(idb, nullptr);
    EXPECT_EQ(idb->port_num, 7);
    EXPECT_EQ(idb->chkpt_obj_id, if_id);
    EXPECT_EQ(idb->flags, TESSEL_PROTO_IDB_PORT_MGR_MARK | TESSEL_PROTO_IDB_PORT_MGR_READY |
                              TESSEL_PROTO_IDB_ETHER_INFO_KNOWN | TESSEL_PROTO_IDB_VRF_ID_KNOWN);
    EXPECT_EQ(idb->header.ifhandle, 0x100u);
    EXPECT_EQ(idb->ether_info_len, 2u);
    EXPECT_EQ(idb->ipv4_vrf, 0x60000000u);
    EXPECT_EQ(idb->config.local_priority, 77u);
    EXPECT_EQ(idb->config.cos, 5u);
    ASSERT_EQ(idb->ipv4_addr_count, 1u);
    ASSERT_EQ(idb->ipv6_addr_count, 1u);
    EXPECT_EQ(idb->ipv6_addr_list[0][0], 0xFE);
    EXPECT_EQ(lines_with("Recovered"),
              (std::vector<std::string>{
                  "PORT-MGR: Recovered interface Gi0/0/0/1 (0x00000100), with port number 0x0007, from checkpoint",
                  "PORT-MGR: Recovered unicast grant for peer IPv4 192.0.2.9 oninterface Gi0/0/0/1, from checkpoint"}));

    // The packet I/O attach completes: the state machine resumes from the record, and the best
    // master's entry is put back in the master table.
    recover_fake.calls.clear();
    EXPECT_EQ(tessel_chkpt_if_fsm_restore(idb), 0u);
    EXPECT_EQ(recover_fake.calls, std::vector<std::string>{"resume:Gi0/0/0/1:6:fm"});
    const ptp_address_type master = ipv4(7);
    tessel_master_db_type *entry = nullptr;
    ASSERT_EQ(tessel_master_db_find(&idb->config.master_table, &master, &entry), 0u);
    EXPECT_EQ(entry->flags, TESSEL_MASTER_DB_ENABLE_SET | TESSEL_MASTER_DB_PRIORITY_SET |
                                TESSEL_MASTER_DB_NON_NEGOTIATED | TESSEL_MASTER_DB_NON_NEGOTIATED_SET);
    EXPECT_EQ(entry->priority, 9u);
    EXPECT_EQ(entry->multicast, 2u);
}

TEST_F(ChkptRecoverTest, ARestartAsPrimaryWithoutGlobalInformationDiscardsEveryRecordWithOneLinePerTable)
{
    primary_with_tables();
    store(TESSEL_CHKPT_TABLE_IF, if_token(PORT, 7));
    store(TESSEL_CHKPT_TABLE_IF, if_token(OTHER, 8));
    store(TESSEL_CHKPT_TABLE_VIRTUAL_IF, if_token("BE1", 9));
    store(TESSEL_CHKPT_TABLE_UNICAST_GRANT, chkpt_recover_fake_encode(grant_record(PORT, 9)));
    store(TESSEL_CHKPT_TABLE_PEER_INDEX, chkpt_recover_fake_encode(peer_index_record(PORT, 9, 5)));
    store(TESSEL_CHKPT_TABLE_PEER_INDEX, chkpt_recover_fake_encode(peer_index_record(PORT, 10, 6)));
    debug_capture_clear();

    tessel_chkpt_read();

    EXPECT_EQ(lines_with("Global PTP"),
              (std::vector<std::string>{
                  "PORT-MGR: [ERROR] Global PTP information not recovered from checkpoint, discarding virtual "
                  "interface checkpoint",
                  "PORT-MGR: [ERROR] Global PTP information not recovered from checkpoint, discarding interface "
                  "checkpoint",
                  "PORT-MGR: [ERROR] Global PTP information not recovered from checkpoint, discarding unicast grant "
                  "checkpoint",
                  "PORT-MGR: [ERROR] Global PTP information not recovered from checkpoint, discarding peer index "
                  "checkpoint"}));
    for (uint32_t t = 0; t < TESSEL_CHKPT_TABLE_COUNT; ++t) {
        EXPECT_EQ(chkpt_test_record_count(t), 0u) << t;
    }
    EXPECT_EQ(port(PORT), nullptr);
}

TEST_F(ChkptRecoverTest, CorruptOrEmptyStoredRecordsAreDroppedWithoutHarm)
{
    primary_with_tables();
    store(TESSEL_CHKPT_TABLE_GL, chkpt_recover_fake_encode(gl_record()));
    const std::string junk("\xff\x01junk", 6);
    struct row {
        uint32_t table;
        std::string bytes;
        bool kept; // a port record that does not decode is left in place
    };
    const std::vector<row> rows = {
        {TESSEL_CHKPT_TABLE_IF, junk, true},
        {TESSEL_CHKPT_TABLE_IF, "", false},
        {TESSEL_CHKPT_TABLE_VIRTUAL_IF, chkpt_recover_fake_encode(grant_record(PORT, 1)), true}, // wrong kind
        {TESSEL_CHKPT_TABLE_UNICAST_GRANT, junk, false},
        {TESSEL_CHKPT_TABLE_UNICAST_GRANT, "", false},
        {TESSEL_CHKPT_TABLE_UNICAST_GRANT, chkpt_recover_fake_encode(grant_record("Gi9/9/9/9", 1)), false}, // no port
        {TESSEL_CHKPT_TABLE_PEER_INDEX, junk, false},
        {TESSEL_CHKPT_TABLE_PEER_INDEX, chkpt_recover_fake_encode(peer_index_record("Gi9/9/9/9", 1, 3)), false},
    };
    std::vector<chkpt_objid> ids;
    for (const row &r : rows) {
        ids.push_back(store(r.table, r.bytes));
    }
    debug_capture_clear();

    tessel_chkpt_read();

    for (size_t i = 0; i < rows.size(); ++i) {
        uint8_t buffer[TESSEL_CHKPT_RECORD_SIZE];
        uint32_t len = sizeof buffer;
        EXPECT_EQ(chkpt_get(tessel_chkpt_table(rows[i].table), ids[i], buffer, &len) == 0, rows[i].kept) << i;
    }
    EXPECT_EQ(port(PORT), nullptr);
    EXPECT_EQ(lines_with("no IDB"), std::vector<std::string>{"PORT-MGR: [ERROR] Failed to recover unicast grant for "
                                                             "interface Gi9/9/9/9 from checkpoint - no IDB"});
    EXPECT_EQ(tessel_chkpt_recovering, 0u);
}

// ---- Standby ----

TEST_F(ChkptRecoverTest, AStandbyFollowsTheTransferThenTheChangeNoticesButNeverCreatesPorts)
{
    chkpt_instance_type *primary = other_primary();
    use_other(primary);
    const chkpt_objid gl_id = store(TESSEL_CHKPT_TABLE_GL, chkpt_recover_fake_encode(gl_record()));
    const chkpt_objid if_id = store(TESSEL_CHKPT_TABLE_IF, if_token(PORT, 7));
    store(TESSEL_CHKPT_TABLE_IF, if_token(OTHER, 8));
    use_own();

    become_standby();
    tessel_proto_idb_type *idb = standby_port(PORT);
    ASSERT_EQ(tessel_chkpt_init(evm), 0u);
    debug_capture_clear();
    tessel_chkpt_go_active();
    evm_run_until_idle(evm);

    // Milestone 2 and the go-active step at the first table end; each later table end reads the
    // tables again.
    const size_t ends = lines_with("Received a table end IDT").size();
    EXPECT_EQ(ends, TESSEL_CHKPT_TABLE_COUNT);
    EXPECT_EQ(chkpt_recover_fake_calls("milestone_met"), std::vector<std::string>{"milestone_met:2"});
    EXPECT_EQ(chkpt_recover_fake_calls("go_active").size(), 1u);
    EXPECT_EQ(chkpt_recover_fake_calls("bmc_restore").size(), ends);
    EXPECT_EQ(lines_with("Received an interface table IDT"),
              std::vector<std::string>{"PORT-MGR: Received an interface table IDT"});
    // The standby applies the global clocks, never the profile; it updates its port and makes none.
    EXPECT_TRUE(chkpt_recover_fake_calls("profile").empty());
    EXPECT_EQ(tessel_chkpt_gl_objid(), gl_id);
    EXPECT_EQ(idb->port_num, 7);
    EXPECT_EQ(idb->chkpt_obj_id, if_id);
    EXPECT_EQ(idb->if_type, 5); // not the record's
    EXPECT_EQ(idb->flags, TESSEL_PROTO_IDB_PORT_MGR_MARK | TESSEL_PROTO_IDB_VRF_ID_KNOWN);
    EXPECT_EQ(port(OTHER), nullptr);
    EXPECT_TRUE(chkpt_recover_fake_calls("fsm_init").empty());

    // Change notices from the primary.
    struct step {
        const char *what;
        std::function<void()> act;
        std::vector<std::string> calls; // of the fakes, by prefix below
        std::vector<std::string> lines; // debug lines
    };
    chkpt_objid grant_id = 0;
    chkpt_objid index_id = 0;
    use_other(primary);
    const chkpt_objid unknown_index = store(TESSEL_CHKPT_TABLE_PEER_INDEX, ""); // created, never filled
    use_own();
    evm_run_until_idle(evm);
    const std::vector<step> steps = {
        {"interface save",
         [&] {
             const std::string bytes = if_token(PORT, 9, 4);
             ASSERT_EQ(chkpt_save(table(TESSEL_CHKPT_TABLE_IF), if_id, bytes.data(), bytes.size()), 0u);
         },
         {"secondary_update:Gi0/0/0/1:4:fm"},
         {"PORT-MGR: Received an interface NDT - NDT type is 5",
          "PORT-MGR: Recovered interface Gi0/0/0/1 (0x00000100), with port number 0x0009, from checkpoint"}},
        {"grant save",
         [&] { grant_id = store(TESSEL_CHKPT_TABLE_UNICAST_GRANT, chkpt_recover_fake_encode(grant_record(PORT, 9))); },
         {"grant_restore:Gi0/0/0/1:"},
         {"PORT-MGR: Received a unicast grant NDT - NDT type is 5",
          "PORT-MGR: Received a unicast grant NDT - NDT type is 5",
          "PORT-MGR: Recovered unicast grant for peer IPv4 192.0.2.9 oninterface Gi0/0/0/1, from checkpoint"}},
        {"grant delete",
         [&] { ASSERT_EQ(chkpt_delete(table(TESSEL_CHKPT_TABLE_UNICAST_GRANT), grant_id), 0u); },
         {"peer_delete:"},
         {"PORT-MGR: Received a unicast grant NDT - NDT type is 6",
          "PORT-MGR: Received checkpoint delete for unicast grant entry with address IPv4 192.0.2.9"}},
        {"peer index save",
         [&] {
             index_id = store(TESSEL_CHKPT_TABLE_PEER_INDEX, chkpt_recover_fake_encode(peer_index_record(PORT, 9, 5)));
         },
         {"peer_index_restore:Gi0/0/0/1:5:"},
         {"PORT-MGR: Received a peer index NDT - NDT type is 5", "PORT-MGR: Received a peer index NDT - NDT type is 5",
          "PORT-MGR: Received peer index restore NDT for peer IPv4 192.0.2.9 on interface Gi0/0/0/1"}},
        {"peer index delete",
         [&] { ASSERT_EQ(chkpt_delete(table(TESSEL_CHKPT_TABLE_PEER_INDEX), index_id), 0u); },
         {"peer_index_release:Gi0/0/0/1"},
         {"PORT-MGR: Received a peer index NDT - NDT type is 6",
          "PORT-MGR: Received peer index delete NDT for peer IPv4 192.0.2.9 on interface Gi0/0/0/1"}},
        {"unknown peer index delete",
         [&] { ASSERT_EQ(chkpt_delete(table(TESSEL_CHKPT_TABLE_PEER_INDEX), unknown_index), 0u); },
         {},
         {"PORT-MGR: Received a peer index NDT - NDT type is 6",
          "PORT-MGR: [ERROR] Received checkpoint delete for unknown peer index entry on with checkpoint ID " +
              std::to_string(unknown_index) + " "}},
        {"global save",
         [&] {
             tessel_chkpt_gl_type gl = gl_record();
             gl.bmc.clock_id = 0x44;
             const std::string bytes = chkpt_recover_fake_encode(gl);
             ASSERT_EQ(chkpt_save(table(TESSEL_CHKPT_TABLE_GL), gl_id, bytes.data(), bytes.size()), 0u);
         },
         {"bmc_update:68:51:1:1"},
         {"PORT-MGR: Received a global NDT - NDT type is 5"}},
        {"interface delete",
         [&] { ASSERT_EQ(chkpt_delete(table(TESSEL_CHKPT_TABLE_IF), if_id), 0u); },
         {"secondary_update:Gi0/0/0/1:0:-"},
         {"PORT-MGR: Received an interface NDT - NDT type is 6"}},
        {"unknown interface delete",
         [&] { ASSERT_EQ(chkpt_delete(table(TESSEL_CHKPT_TABLE_IF), if_id + 1), 0u); },
         {},
         {"PORT-MGR: Received an interface NDT - NDT type is 6",
          "PORT-MGR: [ERROR] Received checkpoint delete for unknown interface with chkpt ID " +
              std::to_string(if_id + 1)}},
    };
    for (const step &s : steps) {
        SCOPED_TRACE(s.what);
        recover_fake.calls.clear();
        debug_capture_clear();
        use_other(primary);
        s.act();
        use_own();
        evm_run_until_idle(evm);
        std::vector<std::string> seen;
        for (const std::string &c : recover_fake.calls) {
            for (const std::string &want : s.calls) {
                if (c.rfind(want, 0) == 0) {
                    seen.push_back(want);
                }
            }
        }
        EXPECT_EQ(seen, s.calls);
        EXPECT_EQ(debug_captured(), s.lines);
    }
    EXPECT_EQ(idb->port_num, 9);
    EXPECT_TRUE(avl2_is_empty(&idb->fsm.unicast_peer_tree));
    EXPECT_TRUE(avl2_is_empty(&idb->peer_index_tree));
}

TEST_F(ChkptRecoverTest, TheIdtTimerStartsTheStandbyWithoutItsCheckpointUnlessTheTransferEndedFirst)
{
    struct row {
        const char *what;
        bool transfer_ended;
        bool fires;
    };
    for (const row &r : {row{"no transfer", false, true}, row{"transfer ended", true, false}}) {
        SCOPED_TRACE(r.what);
        chkpt_recover_fake_reset();
        tessel_chkpt_recover_test_reset();
        recover_fake.go_active_reads = false;
        qor_errmsg_capture_clear();
        debug_capture_clear();
        become_standby();
        ASSERT_EQ(tessel_chkpt_idt_timer_start(evm), 0u);
        if (r.transfer_ended) {
            tessel_chkpt_idt_received(CHKPT_IDT_END);
        }
        plat_clock_advance_ms(TESSEL_CHKPT_IDT_TIMER_MS - 1);
        EXPECT_EQ(tessel_chkpt_is_idt_timer_expired(), 0u);
        plat_clock_advance_ms(1);
        EXPECT_EQ(tessel_chkpt_is_idt_timer_expired(), r.fires ? 1u : 0u);
        EXPECT_EQ(chkpt_recover_fake_calls("go_active").size(), 1u);
        EXPECT_EQ(chkpt_recover_fake_calls("milestone_met"), std::vector<std::string>{"milestone_met:2"});
        std::vector<std::string> syslog;
        for (const qor_captured_msg &m : qor_errmsg_captured()) {
            syslog.push_back(m.mnemonic + ": " + m.text);
        }
        EXPECT_EQ(syslog, r.fires ? std::vector<std::string>{"IDT_TIMER_FIRED: PTP Agent has not received all IDTs"}
                                  : std::vector<std::string>{});
        EXPECT_EQ(lines_with("IDT Timer").size(), r.fires ? 1u : 0u);
    }
}

// ---- Switchover ----

TEST_F(ChkptRecoverTest, AStandbyBecomingPrimaryKeepsTheRecordsOfLiveObjectsAndRemovesTheStaleOnes)
{
    chkpt_instance_type *primary = other_primary();
    use_other(primary);
    store(TESSEL_CHKPT_TABLE_GL, chkpt_recover_fake_encode(gl_record()));
    const chkpt_objid live_if = store(TESSEL_CHKPT_TABLE_IF, if_token(PORT, 7));
    const chkpt_objid stale_if = store(TESSEL_CHKPT_TABLE_IF, if_token(OTHER, 8));
    const chkpt_objid empty_if = store(TESSEL_CHKPT_TABLE_VIRTUAL_IF, "");
    const chkpt_objid live_grant =
        store(TESSEL_CHKPT_TABLE_UNICAST_GRANT, chkpt_recover_fake_encode(grant_record(PORT, 9)));
    const chkpt_objid stale_grant =
        store(TESSEL_CHKPT_TABLE_UNICAST_GRANT, chkpt_recover_fake_encode(grant_record(OTHER, 9)));
    const chkpt_objid live_index =
        store(TESSEL_CHKPT_TABLE_PEER_INDEX, chkpt_recover_fake_encode(peer_index_record(PORT, 9, 5)));
    const chkpt_objid stale_index =
        store(TESSEL_CHKPT_TABLE_PEER_INDEX, chkpt_recover_fake_encode(peer_index_record(OTHER, 9, 6)));
    use_own();

    become_standby();
    standby_port(PORT);
    ASSERT_EQ(tessel_chkpt_init(evm), 0u);
    tessel_chkpt_go_active();
    evm_run_until_idle(evm);
    // The standby deletes nothing: the stale records wait for the role change.
    EXPECT_EQ(chkpt_test_record_count(TESSEL_CHKPT_TABLE_UNICAST_GRANT), 2u);

    // The primary goes; this agent takes over.
    chkpt_test_instance_free(primary);
    instances.clear();
    chkpt_fake.role = TESSEL_ISSU_ROLE_PRIMARY;
    issul_test_set_role(ISSUL_ROLE_PRIMARY);
    tessel_chkpt_sweep_stale();

    auto has = [](uint32_t t, chkpt_objid id) {
        uint8_t buffer[TESSEL_CHKPT_RECORD_SIZE];
        uint32_t len = sizeof buffer;
        return chkpt_get(tessel_chkpt_table(t), id, buffer, &len) == 0;
    };
    struct row {
        uint32_t table;
        chkpt_objid id;
        bool kept;
    };
    for (const row &r :
         {row{TESSEL_CHKPT_TABLE_IF, live_if, true}, row{TESSEL_CHKPT_TABLE_IF, stale_if, false},
          row{TESSEL_CHKPT_TABLE_VIRTUAL_IF, empty_if, false}, row{TESSEL_CHKPT_TABLE_UNICAST_GRANT, live_grant, true},
          row{TESSEL_CHKPT_TABLE_UNICAST_GRANT, stale_grant, false},
          row{TESSEL_CHKPT_TABLE_PEER_INDEX, live_index, true},
          row{TESSEL_CHKPT_TABLE_PEER_INDEX, stale_index, false}}) {
        EXPECT_EQ(has(r.table, r.id), r.kept) << r.table << " " << r.id;
    }
    EXPECT_EQ(chkpt_test_record_count(TESSEL_CHKPT_TABLE_GL), 1u);

    // As primary the agent writes: its global record is saved under the recovered id.
    tessel_chkpt_gl_profile_update(3, 2);
    EXPECT_EQ(chkpt_test_record_count(TESSEL_CHKPT_TABLE_GL), 1u);

    tessel_chkpt_shutdown();
    EXPECT_EQ(tessel_chkpt_tables_are_registered(), 0u);
    EXPECT_EQ(tessel_chkpt_table(TESSEL_CHKPT_TABLE_IF), nullptr);
}

TEST_F(ChkptRecoverTest, OutsideTheSecondaryRoleANoticeOnlyCleansUpStaleRecords)
{
    primary_with_tables();
    chkpt_fake.role = TESSEL_ISSU_ROLE_PRIMARY;
    tessel_chkpt_gl_profile_update(2, 1); // the agent's own global record
    const chkpt_objid own_gl = tessel_chkpt_gl_objid();
    tessel_proto_idb_type *idb = standby_port(PORT);
    idb->chkpt_obj_id = store(TESSEL_CHKPT_TABLE_IF, if_token(PORT, 7));
    struct row {
        const char *what;
        uint32_t table;
        uint32_t type;
        chkpt_objid id;
        bool kept;
        const char *line;
    };
    const chkpt_objid stale_if = store(TESSEL_CHKPT_TABLE_IF, if_token(OTHER, 1));
    const chkpt_objid stale_index = store(TESSEL_CHKPT_TABLE_PEER_INDEX, "x");
    const chkpt_objid stale_grant = store(TESSEL_CHKPT_TABLE_UNICAST_GRANT, "x");
    const chkpt_objid deleted_only = store(TESSEL_CHKPT_TABLE_VIRTUAL_IF, "x");
    for (const row &r : {
             row{"live port", TESSEL_CHKPT_TABLE_IF, CHKPT_NDT_SAVE, idb->chkpt_obj_id, true,
                 "PORT-MGR: Dropped an interface NDT as not in Secondary role - NDT type is 5"},
             row{"stale port", TESSEL_CHKPT_TABLE_IF, CHKPT_NDT_SAVE, stale_if, false,
                 "PORT-MGR: Dropped an interface NDT as not in Secondary role - NDT type is 5"},
             row{"stale peer index", TESSEL_CHKPT_TABLE_PEER_INDEX, CHKPT_NDT_SAVE, stale_index, false,
                 "PORT-MGR: Dropped a peer index NDT as not in Secondary role - NDT type is 5"},
             row{"stale grant", TESSEL_CHKPT_TABLE_UNICAST_GRANT, CHKPT_NDT_SAVE, stale_grant, false, nullptr},
             row{"a delete changes nothing", TESSEL_CHKPT_TABLE_VIRTUAL_IF, CHKPT_NDT_DELETE, deleted_only, true,
                 "PORT-MGR: Dropped a virtual interface NDT as not in Secondary role - NDT type is 6"},
             row{"own global", TESSEL_CHKPT_TABLE_GL, CHKPT_NDT_SAVE, own_gl, true,
                 "PORT-MGR: Dropped a global NDT as not in Secondary role - NDT type is 5"},
         }) {
        SCOPED_TRACE(r.what);
        debug_capture_clear();
        const uint32_t saves = tessel_stats_get_node_event_counters()->node[TESSEL_NODE_EVENT_GLOBAL_CHKPT_UPDATES];
        chkpt_ndt_type ndt{};
        ndt.type = r.type;
        ndt.table_id = r.table;
        ndt.objid = r.id;
        tessel_chkpt_ndt_received(&ndt);
        uint8_t buffer[TESSEL_CHKPT_RECORD_SIZE];
        uint32_t len = sizeof buffer;
        EXPECT_EQ(chkpt_get(tessel_chkpt_table(r.table), r.id, buffer, &len) == 0, r.kept);
        EXPECT_EQ(debug_captured(), r.line != nullptr ? std::vector<std::string>{r.line} : std::vector<std::string>{});
        // Its own global record is saved again.
        EXPECT_EQ(tessel_stats_get_node_event_counters()->node[TESSEL_NODE_EVENT_GLOBAL_CHKPT_UPDATES] - saves,
                  r.table == TESSEL_CHKPT_TABLE_GL ? 1u : 0u);
    }
}

} // namespace
