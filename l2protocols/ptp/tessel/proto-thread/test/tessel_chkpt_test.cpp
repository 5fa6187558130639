// The checkpoint application, its five tables and the writers and deleters, against the
// platform's checkpoint service (an in-memory store of the test's own).
#include <algorithm>
#include <cerrno>
#include <functional>

#include "chkpt_test.h"
#include "evm_test.h"
#include "pktio_test.h"
#include "ptp_strings.h"
#include "ptp_trace_points.h"
#include "qor_log.h"
#include "sysmgr_test.h"
#include "tessel_alloc.h"
#include "tessel_chkpt.h"
#include "tessel_chkpt_test_fake.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_peer_index.h"
#include "tessel_pm_test_env.h"
#include "tessel_stats.h"

namespace {

constexpr zerrno FAIL = CHKPT_ERR_STORAGE;

// The point numbers of a trace buffer's records, in order.
std::vector<uint32_t> trace_numbers(const char *buffer)
{
    std::vector<uint32_t> out;
    for (const std::string &line : pm_trace_buffers::lines(buffer)) {
        out.push_back(static_cast<uint32_t>(std::stoull(line.substr(0, line.find('(')), nullptr, 16)) &
                      PTP_TRACE_NUMBER_MASK);
    }
    return out;
}

// One trace record as the buffer shows it.
std::string trace_line(const ptp_trace_point_type &point, const std::string &args)
{
    char id[32];
    snprintf(id, sizeof id, "0x%llx(", static_cast<unsigned long long>(ptp_trace_point_id(point)));
    return id + args + ")";
}

uint32_t node_counter(uint32_t kind)
{
    return tessel_stats_get_node_event_counters()->node[kind];
}

class ChkptTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        chkpt_test_reset(":memory:");
        issul_test_reset();
        issul_test_set_role(ISSUL_ROLE_PRIMARY);
        sysmgr_test_reset();
        pktio_test_reset();
        chkpt_fake_reset();
        tessel_chkpt_test_reset();
        tessel_stats_clear_node_event_counters();
        evm = event_create_manager(nullptr, nullptr, 0);
        pm_debug_setup(evm);
        debug_set_area(PTP_DEBUG_PATH, "port_mgr", nullptr);
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();
        trace.open();
    }
    void TearDown() override
    {
        trace.close();
        ptp_debug_cleanup();
        event_manager_destroy(evm);
        chkpt_test_reset(":memory:");
    }
    // The agent as primary with its tables: what the port manager's go-active step leaves.
    void primary_with_tables()
    {
        ASSERT_EQ(tessel_chkpt_init(evm), 0u);
        tessel_chkpt_go_primary_active();
        ASSERT_EQ(tessel_chkpt_tables_register(), 0u);
        debug_capture_clear();
    }
    tessel_proto_idb_type port(const char *name, uint32_t ifhandle, uint16_t if_type = 1)
    {
        tessel_proto_idb_type idb{};
        snprintf(idb.header.ifname, sizeof idb.header.ifname, "%s", name);
        idb.header.ifhandle = ifhandle;
        idb.if_type = if_type;
        return idb;
    }
    event_mgr_type *evm = nullptr;
    pm_trace_buffers trace;
};

// ---- Registration ----

TEST_F(ChkptTest, TheFiveTablesHoldTheirRecordCountsOfRecordsUpTo4068Bytes)
{
    primary_with_tables();
    EXPECT_EQ(tessel_chkpt_tables_are_registered(), 1u);
    struct row {
        uint32_t table;
        uint32_t max_records;
    };
    for (const row &r :
         {row{TESSEL_CHKPT_TABLE_IF, 2047}, row{TESSEL_CHKPT_TABLE_VIRTUAL_IF, 2047}, row{TESSEL_CHKPT_TABLE_GL, 1},
          row{TESSEL_CHKPT_TABLE_UNICAST_GRANT, 2047}, row{TESSEL_CHKPT_TABLE_PEER_INDEX, 4096}}) {
        SCOPED_TRACE(r.table);
        chkpt_tbl_type *table = tessel_chkpt_table(r.table);
        ASSERT_NE(table, nullptr);
        chkpt_objid id = 0;
        for (uint32_t i = 0; i < r.max_records; ++i) {
            ASSERT_EQ(chkpt_create(table, 0, &id), 0u);
        }
        EXPECT_EQ(chkpt_create(table, 0, &id), CHKPT_ERR_FULL);
        std::vector<uint8_t> bytes(TESSEL_CHKPT_RECORD_SIZE + 1);
        EXPECT_EQ(chkpt_save(table, id, bytes.data(), TESSEL_CHKPT_RECORD_SIZE), 0u);
        EXPECT_EQ(chkpt_save(table, id, bytes.data(), TESSEL_CHKPT_RECORD_SIZE + 1), CHKPT_ERR_TOO_BIG);
    }
}

TEST_F(ChkptTest, TheApplicationPtpIsFoundByAStandbyWhoseNoticesGoToTheProtocolThread)
{
    primary_with_tables();
    chkpt_fake.role = TESSEL_ISSU_ROLE_PRIMARY;
    tessel_chkpt_gl_profile_update(2, 1);

    // A standby instance of the same process and application: its transfer and change notices
    // reach the protocol thread through the inter-thread sends.
    chkpt_instance_type *standby = chkpt_test_instance_new(nullptr);
    chkpt_test_instance_use(standby);
    ASSERT_EQ(tessel_chkpt_init(evm), 0u);
    EXPECT_EQ(chkpt_test_record_count(TESSEL_CHKPT_TABLE_GL), 1u);
    tessel_chkpt_go_active();
    evm_run_until_idle(evm);
    for (uint32_t table = 0; table < TESSEL_CHKPT_TABLE_COUNT; ++table) {
        EXPECT_EQ(std::count(chkpt_fake.idt_sent.begin(), chkpt_fake.idt_sent.end(), table), 1) << table;
    }
    EXPECT_EQ(chkpt_fake.idt_sent.back(), CHKPT_IDT_END);

    chkpt_test_instance_use(nullptr);
    tessel_chkpt_gl_profile_update(3, 1);
    evm_run_until_idle(evm);
    EXPECT_EQ(chkpt_fake.ndt_sent, std::vector<uint32_t>{CHKPT_NDT_SAVE});
    chkpt_test_instance_free(standby);
}

TEST_F(ChkptTest, ARefusedApplicationRaisesInitFailed)
{
    chkpt_test_fail(chkpt_test_op::INIT, FAIL, 1);
    EXPECT_EQ(tessel_chkpt_init(evm), FAIL);
    ASSERT_EQ(qor_errmsg_captured().size(), 1u);
    EXPECT_EQ(qor_errmsg_captured()[0].text,
              std::string("Failed to initialize: Failed to initialize checkpoint: ") + zerr_strerror(FAIL));
}

TEST_F(ChkptTest, RegistrationStopsAtTheFirstRefusedTableAndALaterAttemptRegistersTheRest)
{
    struct row {
        uint32_t refused;
        const char *text;
        std::vector<uint32_t> registered_before;
    };
    const std::vector<row> rows = {
        {TESSEL_CHKPT_TABLE_IF, "Failed to register interface checkpoint table: ", {}},
        {TESSEL_CHKPT_TABLE_VIRTUAL_IF, "Failed to register virtual interface checkpoint table: ", {0}},
        {TESSEL_CHKPT_TABLE_GL, "Failed to register global checkpoint table: ", {0, 4}},
        {TESSEL_CHKPT_TABLE_UNICAST_GRANT, "Failed to register unicast grant checkpoint table: ", {0, 4, 1}},
        {TESSEL_CHKPT_TABLE_PEER_INDEX, "Failed to register peer index checkpoint table: ", {0, 4, 1, 2}},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.refused);
        chkpt_test_reset(":memory:");
        tessel_chkpt_test_reset();
        qor_errmsg_capture_clear();
        ASSERT_EQ(tessel_chkpt_init(evm), 0u);
        tessel_chkpt_go_primary_active();
        // The service refuses the table as one this instance has already.
        chkpt_tbldesc_type desc;
        chkpt_tbldesc_init(&desc);
        desc.table_id = r.refused;
        desc.record_size = 16;
        chkpt_tbl_type *taken = nullptr;
        ASSERT_EQ(chkpt_register(&desc, &taken), 0u);

        EXPECT_EQ(tessel_chkpt_tables_register(), CHKPT_ERR_EXISTS);
        EXPECT_EQ(tessel_chkpt_tables_are_registered(), 0u);
        ASSERT_EQ(qor_errmsg_captured().size(), 1u);
        EXPECT_EQ(qor_errmsg_captured()[0].text,
                  std::string("Failed to initialize: ") + r.text + zerr_strerror(CHKPT_ERR_EXISTS));
        for (uint32_t table = 0; table < TESSEL_CHKPT_TABLE_COUNT; ++table) {
            const bool before =
                std::find(r.registered_before.begin(), r.registered_before.end(), table) != r.registered_before.end();
            EXPECT_EQ(tessel_chkpt_table(table) != nullptr, before) << table;
        }

        ASSERT_EQ(chkpt_unregister(taken), 0u);
        EXPECT_EQ(tessel_chkpt_tables_register(), 0u);
        EXPECT_EQ(tessel_chkpt_tables_are_registered(), 1u);
    }
}

// ---- Global record ----

TEST_F(ChkptTest, GlobalSettersUpdateTheRecordAndSaveItUnderOneId)
{
    primary_with_tables();
    const ptp_clock_type bmc = pm_clock(0x1111, 10);
    const ptp_clock_type adv = pm_clock(0x2222, 20);
    struct row {
        const char *what;
        std::function<void()> call;
        std::string debug;
        std::function<bool(const tessel_chkpt_gl_type &)> check;
    };
    const std::vector<row> rows = {
        {"local clock", [] { tessel_chkpt_gl_local_clock_update(0xabc, 24); },
         "PORT-MGR: Updating local clock information in checkpoint, local clock id abc, domain 24",
         [](const tessel_chkpt_gl_type &g) {
             return g.local_clock_present == 1 && g.local_clock_id == 0xabc && g.local_clock_domain == 24;
         }},
        {"bmc", [&] { tessel_chkpt_gl_bmc_update(&bmc, &adv, 1, 0, 1); },
         "PORT-MGR: Updating best master clock information in checkpoint, BMC id 0x1111, advertised id 0x2222",
         [](const tessel_chkpt_gl_type &g) {
             return g.bmc_present == 1 && g.bmc.clock_id == 0x1111 && g.advertised.clock_id == 0x2222 &&
                    g.selected == 1 && g.synced == 0 && g.slave_supported == 1;
         }},
        {"profile", [] { tessel_chkpt_gl_profile_update(2, 1); }, "PORT-MGR: Updating profile in checkpoint: G.8275.1",
         [](const tessel_chkpt_gl_type &g) { return g.profile == 2 && g.profile_version == 1; }},
        {"min clock class", [] { tessel_chkpt_gl_min_clock_class_update(135); },
         "PORT-MGR: Updating min clock-class in checkpoint: 135",
         [](const tessel_chkpt_gl_type &g) { return g.min_clock_class_present == 1 && g.min_clock_class == 135; }},
        {"local clock removed", [] { tessel_chkpt_gl_local_clock_remove(); },
         "PORT-MGR: Removing local clock information from checkpoint",
         [](const tessel_chkpt_gl_type &g) { return g.local_clock_present == 0 && g.local_clock_id == 0xabc; }},
        {"bmc removed", [] { tessel_chkpt_gl_bmc_remove(); },
         "PORT-MGR: Removing best master clock information from checkpoint",
         [](const tessel_chkpt_gl_type &g) { return g.bmc_present == 0 && g.bmc.clock_id == 0x1111; }},
    };
    chkpt_objid first_id = 0;
    uint32_t saves = 0;
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        debug_capture_clear();
        r.call();
        EXPECT_EQ(debug_captured(), std::vector<std::string>{r.debug});
        EXPECT_TRUE(r.check(tessel_chkpt_gl));
        EXPECT_TRUE(r.check(chkpt_fake.gl)); // the record as encoded
        EXPECT_EQ(chkpt_fake.gl.reserved[0] | chkpt_fake.gl.reserved[1], 0u);
        EXPECT_EQ(node_counter(TESSEL_NODE_EVENT_GLOBAL_CHKPT_UPDATES), ++saves);
        if (first_id == 0) {
            first_id = tessel_chkpt_gl_objid();
            ASSERT_NE(first_id, 0u);
        }
        EXPECT_EQ(tessel_chkpt_gl_objid(), first_id);
        EXPECT_EQ(chkpt_fake_stored(TESSEL_CHKPT_TABLE_GL, first_id), chkpt_fake.encoded.back());
        EXPECT_EQ(chkpt_test_record_count(TESSEL_CHKPT_TABLE_GL), 1u);
    }
}

TEST_F(ChkptTest, OutsideThePrimaryRoleNoWriterChangesAnything)
{
    primary_with_tables();
    tessel_chkpt_gl_profile_update(1, 1);
    tessel_proto_idb_type idb = port("Gi0/0/0/1", 0x100);
    ptp_fsm_peer_entry_type entry{};
    entry.port = &idb;
    entry.is_announce_granted = 1;
    tessel_peer_index_entry_type pi{};
    pi.peer_index = 7;
    const std::vector<std::string> encoded_before = chkpt_fake.encoded;
    for (uint32_t role : {TESSEL_ISSU_ROLE_SECONDARY, TESSEL_ISSU_ROLE_NONE}) {
        SCOPED_TRACE(role);
        chkpt_fake.role = role;
        tessel_chkpt_gl_profile_update(3, 1);
        tessel_chkpt_gl_local_clock_update(0xabc, 1);
        tessel_chkpt_gl_min_clock_class_update(6);
        tessel_chkpt_if_update(&idb);
        tessel_chkpt_unicast_grant_update(&entry);
        tessel_chkpt_peer_index_update(&idb, &pi);
        EXPECT_EQ(tessel_chkpt_gl.profile, 1u);
        EXPECT_EQ(tessel_chkpt_gl.local_clock_present, 0u);
        EXPECT_EQ(tessel_chkpt_gl.min_clock_class_present, 0u);
        EXPECT_EQ(idb.chkpt_obj_id | entry.chkpt_id | pi.chkpt_obj_id, 0u);
        EXPECT_EQ(chkpt_fake.encoded, encoded_before);
    }
}

// ---- Interface record ----

TEST_F(ChkptTest, APortGoesToTheVirtualTableWhenOfType28OrABundleOfType25)
{
    primary_with_tables();
    const uint8_t mac[6] = {0, 1, 2, 3, 4, 5};
    ASSERT_EQ(pktio_test_intf_add("BE1", 0x250, mac, false, true), 0u);
    ASSERT_EQ(pktio_test_intf_add("Gi0/0/0/2", 0x251, mac, false, false), 0u);
    struct row {
        const char *name;
        uint32_t ifhandle;
        uint16_t if_type;
        uint32_t table;
        const char *virtual_word;
    };
    for (const row &r : {row{"BVI1", 0x280, 28, TESSEL_CHKPT_TABLE_VIRTUAL_IF, "virtual "},
                         row{"BE1", 0x250, 25, TESSEL_CHKPT_TABLE_VIRTUAL_IF, "virtual "},
                         row{"Gi0/0/0/2", 0x251, 25, TESSEL_CHKPT_TABLE_IF, ""},
                         row{"Gi0/0/0/3", 0x252, 25, TESSEL_CHKPT_TABLE_IF, ""}, // unknown to the platform
                         row{"Gi0/0/0/4", 0x253, 1, TESSEL_CHKPT_TABLE_IF, ""}}) {
        SCOPED_TRACE(r.name);
        tessel_proto_idb_type idb = port(r.name, r.ifhandle, r.if_type);
        idb.fsm.PortState = 4;
        debug_capture_clear();
        tessel_chkpt_if_update(&idb); // created
        const chkpt_objid id = idb.chkpt_obj_id;
        ASSERT_NE(id, 0u);
        idb.fsm.PortState = 6;
        tessel_chkpt_if_update(&idb); // overwritten in place
        EXPECT_EQ(idb.chkpt_obj_id, id);
        EXPECT_EQ(chkpt_fake_stored(r.table, id), "if:" + std::string(r.name) + ":6");
        EXPECT_EQ(idb.event_counters[TESSEL_PROTO_IDB_EVENT_CHKPT_UPDATES], 2u);
        char ifh[16];
        snprintf(ifh, sizeof ifh, "0x%8.8x", r.ifhandle);
        const std::string saved = "PORT-MGR: Saved checkpoint record for " + std::string(r.virtual_word) +
                                  "interface " + r.name + " (" + ifh + ")";
        EXPECT_EQ(debug_captured(), (std::vector<std::string>{saved, saved}));

        tessel_chkpt_if_delete(&idb);
        EXPECT_EQ(idb.chkpt_obj_id, 0u);
        EXPECT_EQ(chkpt_fake_stored(r.table, id), "<none>");
        EXPECT_EQ(debug_captured().back(), "PORT-MGR: Deleted checkpoint record for " + std::string(r.virtual_word) +
                                               "interface " + r.name + " (" + ifh + ")");
    }
    EXPECT_EQ(chkpt_test_record_count(TESSEL_CHKPT_TABLE_IF) + chkpt_test_record_count(TESSEL_CHKPT_TABLE_VIRTUAL_IF),
              0u);
    // Going primary-active is bracketed; saved: created now, then overwritten; deleted: handle and
    // virtual flag.
    const std::vector<std::string> det = pm_trace_buffers::lines("ptp/tessel/det");
    ASSERT_GE(det.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(det.begin(), det.begin() + 5),
              (std::vector<std::string>{trace_line(PTP_TRACE_TESSEL_CHKPT_GO_ACTIVE_START, ""),
                                        trace_line(PTP_TRACE_TESSEL_CHKPT_GO_ACTIVE_FIN, ""),
                                        trace_line(PTP_TRACE_TESSEL_CHKPT_IF_SAVED, "640,1,1"),
                                        trace_line(PTP_TRACE_TESSEL_CHKPT_IF_SAVED, "640,0,1"),
                                        trace_line(PTP_TRACE_TESSEL_CHKPT_IF_DELETED, "640,1")}));
}

TEST_F(ChkptTest, TheInterfaceRecordCopiesThePort)
{
    primary_with_tables();
    const std::string long_name(70, 'x');
    tessel_proto_idb_type idb = port(long_name.c_str(), 0x300, 1);
    idb.port_num = 12;
    idb.im_state = 3;
    idb.fsm.PortState = 9;
    idb.ipv4_addr = 0x0a000001;
    idb.ipv6_addr[15] = 1;
    idb.config.encap = 2;
    idb.config.announce_interval = -3;
    idb.config.clock_operation = 1;
    idb.config.source_ip.enable = 1;
    idb.config.source_ip.address = 0x0100000a;
    idb.config.local_priority = 77;
    idb.config.ipv6_hop_limit = 64;
    uint32_t v4[2] = {0x01020304, 0x05060708};
    uint8_t v6[1][PTP_IPV6_ADDR_LEN] = {{0xfe, 0x80}};
    idb.ipv4_addr_list = v4;
    idb.ipv4_addr_count = 2;
    idb.ipv6_addr_list = v6;
    idb.ipv6_addr_count = 1;
    idb.ether_info_len = 5; // not known: not copied
    idb.ether_info[0] = 0xee;
    idb.ipv4_vrf = 9; // not known: not copied
    chkpt_fake.fm_present = 1;
    chkpt_fake.fm.configured_priority = 42;
    chkpt_fake.fm.is_in_master_table = 1;

    tessel_chkpt_if_update(&idb);
    ASSERT_EQ(chkpt_fake.if_rec.size(), tessel_chkpt_if_size(2, 1));
    const auto *rec = reinterpret_cast<const tessel_chkpt_if_type *>(chkpt_fake.if_rec.data());
    EXPECT_EQ(std::string(rec->ifname), long_name.substr(0, 63));
    EXPECT_EQ(rec->ifhandle, 0x300u);
    EXPECT_EQ(rec->iftype, 1u);
    EXPECT_EQ(rec->port_num, 12u);
    EXPECT_EQ(rec->port_state, 9u);
    EXPECT_EQ(rec->im_state, 3u);
    EXPECT_EQ(rec->ether_info_known | rec->ether_info_len | rec->ether_info[0], 0u);
    EXPECT_EQ(rec->vrf_known | rec->ipv4_vrf, 0u);
    EXPECT_EQ(memcmp(rec->ip_address, &idb.ipv4_addr, 4), 0);
    EXPECT_EQ(rec->ipv6_address[15], 1u);
    EXPECT_EQ(rec->foreign_master_present, 1u);
    EXPECT_EQ(rec->foreign_master.configured_priority, 42u);
    EXPECT_EQ(rec->foreign_master.is_in_master_table, 1u);
    EXPECT_EQ(rec->config.encap, 2u);
    EXPECT_EQ(rec->config.announce_interval, -3);
    EXPECT_EQ(rec->config.one_step, 1u);
    EXPECT_EQ(rec->config.source_ip.enable, 1u);
    EXPECT_EQ(memcmp(rec->config.source_ip.ip_address, &idb.config.source_ip.address, 4), 0);
    EXPECT_EQ(rec->config.local_priority, 77u);
    EXPECT_EQ(rec->config.ipv6_hop_limit, 64u);
    EXPECT_EQ(rec->num_ipv4_addr, 2u);
    EXPECT_EQ(rec->num_ipv6_addr, 1u);
    const uint8_t *list = tessel_chkpt_if_addr_list(rec);
    EXPECT_EQ(memcmp(list, v4, 8), 0);
    EXPECT_EQ(memcmp(list + 8, v6[0], 16), 0);

    // Known ether information and VRF id are carried.
    idb.flags = TESSEL_PROTO_IDB_ETHER_INFO_KNOWN | TESSEL_PROTO_IDB_VRF_ID_KNOWN;
    chkpt_fake.fm_present = 0;
    tessel_chkpt_if_update(&idb);
    rec = reinterpret_cast<const tessel_chkpt_if_type *>(chkpt_fake.if_rec.data());
    EXPECT_EQ(rec->ether_info_known, 1u);
    EXPECT_EQ(rec->ether_info_len, 5u);
    EXPECT_EQ(rec->ether_info[0], 0xeeu);
    EXPECT_EQ(rec->vrf_known, 1u);
    EXPECT_EQ(rec->ipv4_vrf, 9u);
    EXPECT_EQ(rec->foreign_master_present, 0u);
}

TEST_F(ChkptTest, ARecordIsDeletedOnlyByTheActivePrimaryButItsIdIsAlwaysForgotten)
{
    primary_with_tables();
    struct row {
        const char *what;
        uint32_t platform_role;
        bool active;
        bool deleted;
    };
    for (const row &r : {row{"primary, active", ISSUL_ROLE_PRIMARY, true, true},
                         row{"primary, not yet active", ISSUL_ROLE_PRIMARY, false, false},
                         row{"platform says secondary", ISSUL_ROLE_SECONDARY, true, false}}) {
        SCOPED_TRACE(r.what);
        issul_test_set_role(ISSUL_ROLE_PRIMARY);
        chkpt_fake.active = true;
        tessel_proto_idb_type idb = port("Gi0/0/0/1", 0x100);
        ptp_fsm_peer_entry_type entry{};
        entry.port = &idb;
        tessel_peer_index_entry_type pi{};
        tessel_chkpt_if_update(&idb);
        tessel_chkpt_unicast_grant_update(&entry);
        tessel_chkpt_peer_index_update(&idb, &pi);
        const chkpt_objid ids[3] = {idb.chkpt_obj_id, entry.chkpt_id, pi.chkpt_obj_id};
        const uint32_t tables[3] = {TESSEL_CHKPT_TABLE_IF, TESSEL_CHKPT_TABLE_UNICAST_GRANT,
                                    TESSEL_CHKPT_TABLE_PEER_INDEX};

        issul_test_set_role(r.platform_role);
        chkpt_fake.active = r.active;
        const size_t skipped_before = trace_numbers("ptp/tessel/sum").size();
        tessel_chkpt_if_delete(&idb);
        tessel_chkpt_unicast_grant_delete(&entry);
        tessel_chkpt_peer_index_delete(&idb, &pi);
        EXPECT_EQ(idb.chkpt_obj_id | entry.chkpt_id | pi.chkpt_obj_id, 0u);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(chkpt_fake_stored(tables[i], ids[i]) == "<none>", r.deleted) << i;
        }
        const std::vector<uint32_t> sum = trace_numbers("ptp/tessel/sum");
        EXPECT_EQ(sum.size() - skipped_before, r.deleted ? 0u : 3u);
        if (!r.deleted) {
            EXPECT_EQ(sum.back(), 3207u);
        }
        // Nothing left to delete: nothing more happens.
        tessel_chkpt_if_delete(&idb);
        tessel_chkpt_unicast_grant_delete(&entry);
        tessel_chkpt_peer_index_delete(&idb, &pi);
        EXPECT_EQ(trace_numbers("ptp/tessel/sum").size(), sum.size());
    }
}

// ---- Unicast grant and peer index records ----

TEST_F(ChkptTest, TheGrantRecordCopiesThePeerAndItsPort)
{
    primary_with_tables();
    tessel_proto_idb_type idb = port("Gi0/0/0/1", 0x100);
    ptp_fsm_peer_entry_type entry{};
    entry.port = &idb;
    entry.peer_addr.encap = PTP_ENCAP_IPV4;
    entry.peer_addr.value[0] = 10;
    entry.local_addr.encap = PTP_ENCAP_IPV4;
    entry.local_addr.value[0] = 11;
    entry.peer_port_id = {0xabcdef, 3};
    entry.is_announce_granted = 1;
    entry.is_delay_resp_granted = 1;
    entry.is_nonnegotiated = 1;
    for (uint32_t k = 0; k < PTP_FSM_PEER_GRANT_KINDS; ++k) {
        entry.grant[k].log_interval = static_cast<int8_t>(-1 - static_cast<int>(k));
        entry.grant[k].app_log_interval = static_cast<int8_t>(k);
        entry.grant[k].duration = 300 + k;
        entry.grant[k].expiry = 1000 + k;
    }
    tessel_chkpt_unicast_grant_update(&entry);
    const chkpt_objid id = entry.chkpt_id;
    ASSERT_NE(id, 0u);
    EXPECT_EQ(chkpt_fake_stored(TESSEL_CHKPT_TABLE_UNICAST_GRANT, id), "grant:Gi0/0/0/1:5");
    const tessel_chkpt_unicast_grant_type &g = chkpt_fake.grant;
    EXPECT_STREQ(g.ifname, "Gi0/0/0/1");
    EXPECT_EQ(g.ifhandle, 0x100u);
    EXPECT_EQ(g.peer_addr.value[0], 10u);
    EXPECT_EQ(g.local_addr.value[0], 11u);
    EXPECT_EQ(g.peer_port_id.clock_id, 0xabcdefu);
    EXPECT_EQ(g.peer_port_id.port_num, 3u);
    EXPECT_EQ(g.grant_flags, TESSEL_CHKPT_GRANT_ANNOUNCE | TESSEL_CHKPT_GRANT_DELAY_RESP);
    EXPECT_EQ(g.log_interval[2], -3);
    EXPECT_EQ(g.app_log_interval[1], 1);
    EXPECT_EQ(g.duration[2], 302u);
    EXPECT_EQ(g.expiry[0], 1000u);
    EXPECT_EQ(g.nonnegotiated_flags, 1u);
    EXPECT_EQ(debug_captured(),
              std::vector<std::string>{
                  "PORT-MGR: Saved unicast grant checkpoint record for interface Gi0/0/0/1 (0x00000100)"});
    entry.is_sync_granted = 1;
    tessel_chkpt_unicast_grant_update(&entry);
    EXPECT_EQ(entry.chkpt_id, id);
    EXPECT_EQ(chkpt_fake_stored(TESSEL_CHKPT_TABLE_UNICAST_GRANT, id), "grant:Gi0/0/0/1:7");
    EXPECT_EQ(idb.event_counters[TESSEL_PROTO_IDB_EVENT_CHKPT_UPDATES], 2u);

    // The last grant gone: deleted in any role of the agent (the platform's role decides).
    chkpt_fake.role = TESSEL_ISSU_ROLE_SECONDARY;
    debug_capture_clear();
    tessel_chkpt_unicast_grant_delete(&entry);
    EXPECT_EQ(entry.chkpt_id, 0u);
    EXPECT_EQ(chkpt_test_record_count(TESSEL_CHKPT_TABLE_UNICAST_GRANT), 0u);
    EXPECT_EQ(debug_captured(),
              std::vector<std::string>{
                  "PORT-MGR: Deleted unicast grant checkpoint record for interface Gi0/0/0/1 (0x00000100)"});
}

TEST_F(ChkptTest, ThePeerIndexRecordNamesPortPeerAndIndex)
{
    primary_with_tables();
    tessel_proto_idb_type idb = port("Gi0/0/0/1", 0x100);
    tessel_peer_index_entry_type pi{};
    pi.address.encap = PTP_ENCAP_IPV4;
    pi.address.value[0] = 10;
    pi.address.value[3] = 1;
    pi.peer_index = 7;
    tessel_chkpt_peer_index_update(&idb, &pi);
    ASSERT_NE(pi.chkpt_obj_id, 0u);
    EXPECT_EQ(chkpt_fake_stored(TESSEL_CHKPT_TABLE_PEER_INDEX, pi.chkpt_obj_id), "peer_index:Gi0/0/0/1:7");
    EXPECT_EQ(chkpt_fake.peer_index.peer_addr.value[3], 1u);
    EXPECT_EQ(debug_captured(),
              std::vector<std::string>{"PORT-MGR: Saved peer index checkpoint record for interface 0x00000100, peer " +
                                       std::string(ptp_address_to_str(&pi.address))});
    // Deleted in any role of the agent.
    chkpt_fake.role = TESSEL_ISSU_ROLE_SECONDARY;
    tessel_chkpt_peer_index_delete(&idb, &pi);
    EXPECT_EQ(pi.chkpt_obj_id, 0u);
    EXPECT_EQ(chkpt_test_record_count(TESSEL_CHKPT_TABLE_PEER_INDEX), 0u);
}

// ---- Failures: logged, traced, counted; the object is kept and its next change tries again ----

TEST_F(ChkptTest, AFailedCreateOrSaveIsReportedAndTheNextChangeTriesAgain)
{
    primary_with_tables();
    tessel_proto_idb_type idb = port("Gi0/0/0/1", 0x100);
    ptp_fsm_peer_entry_type entry{};
    entry.port = &idb;
    tessel_peer_index_entry_type pi{};
    pi.address.encap = PTP_ENCAP_IPV4;
    pi.peer_index = 7;
    const std::string err = zerr_strerror(FAIL);
    const std::string peer = ptp_address_to_str(&pi.address);
    struct row {
        const char *what;
        std::function<void()> write;
        std::function<chkpt_objid()> id;
        std::function<uint32_t()> fails; // the failure counter (none for peer indices)
        uint32_t trace;
        uint32_t table;
        std::string create_text;
        std::string save_text;
    };
    const std::vector<row> rows = {
        {"global", [] { tessel_chkpt_gl_profile_update(2, 1); }, [] { return tessel_chkpt_gl_objid(); },
         [] { return node_counter(TESSEL_NODE_EVENT_GLOBAL_CHKPT_UPDATE_FAILS); }, 1204, TESSEL_CHKPT_TABLE_GL,
         "PORT-MGR: [ERROR] Failed to create checkpoint record for global PTP information: " + err,
         "PORT-MGR: [ERROR] Failed to save checkpoint record for global PTP information: " + err},
        {"interface", [&] { tessel_chkpt_if_update(&idb); }, [&] { return idb.chkpt_obj_id; },
         [&] { return idb.event_counters[TESSEL_PROTO_IDB_EVENT_CHKPT_UPDATE_FAILS]; }, 1208, TESSEL_CHKPT_TABLE_IF,
         "PORT-MGR: [ERROR] Failed to create checkpoint record for interface Gi0/0/0/1 (0x00000100): " + err,
         "PORT-MGR: [ERROR] Failed to save checkpoint record for interface Gi0/0/0/1 (0x00000100): " + err},
        {"unicast grant", [&] { tessel_chkpt_unicast_grant_update(&entry); }, [&] { return entry.chkpt_id; }, nullptr,
         1218, TESSEL_CHKPT_TABLE_UNICAST_GRANT,
         "PORT-MGR: [ERROR] Failed to create unicast grant checkpoint record for interface Gi0/0/0/1 (0x00000100): " +
             err,
         "PORT-MGR: [ERROR] Failed to save unicast grant checkpoint record for interface Gi0/0/0/1 (0x00000100): " +
             err},
        {"peer index", [&] { tessel_chkpt_peer_index_update(&idb, &pi); }, [&] { return pi.chkpt_obj_id; }, nullptr,
         1225, TESSEL_CHKPT_TABLE_PEER_INDEX,
         "PORT-MGR: [ERROR] Failed to create peer index checkpoint record for interface 0x00000100, peer " + peer +
             ": " + err,
         "PORT-MGR: [ERROR] Failed to save peer index checkpoint record for interface 0x00000100, peer " + peer + ": " +
             err},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        const uint32_t grant_fails_before = idb.event_counters[TESSEL_PROTO_IDB_EVENT_CHKPT_UPDATE_FAILS];
        const uint32_t fails_before = r.fails ? r.fails() : 0;
        // Create refused: no id, nothing stored.
        chkpt_test_fail(chkpt_test_op::CREATE, FAIL, 1);
        debug_capture_clear();
        r.write();
        EXPECT_EQ(r.id(), 0u);
        EXPECT_EQ(pm_lines_with("[ERROR]"), std::vector<std::string>{r.create_text});
        EXPECT_EQ(trace_numbers("ptp/tessel/unq").back(), r.trace);
        // Save refused: the record exists, its id is kept.
        chkpt_test_fail(chkpt_test_op::SAVE, FAIL, 1);
        debug_capture_clear();
        r.write();
        const chkpt_objid id = r.id();
        EXPECT_NE(id, 0u);
        EXPECT_EQ(pm_lines_with("[ERROR]"), std::vector<std::string>{r.save_text});
        EXPECT_EQ(trace_numbers("ptp/tessel/unq").back(), r.trace);
        if (r.fails) {
            EXPECT_EQ(r.fails(), fails_before + 2);
        }
        // The next change writes under the same id.
        r.write();
        EXPECT_EQ(r.id(), id);
        EXPECT_EQ(chkpt_fake_stored(r.table, id), chkpt_fake.encoded.back());
        if (r.what == std::string("unicast grant")) {
            // A refused grant save counts on the port; a refused create does not.
            EXPECT_EQ(idb.event_counters[TESSEL_PROTO_IDB_EVENT_CHKPT_UPDATE_FAILS], grant_fails_before + 1);
        }
    }
}

TEST_F(ChkptTest, AFailedAllocationOfTheInterfaceRecordIsReportedAndNothingIsSaved)
{
    primary_with_tables();
    tessel_proto_idb_type idb = port("Gi0/0/0/1", 0x100);
    tessel_alloc_test_fail(0, 1);
    tessel_chkpt_if_update(&idb);
    EXPECT_NE(idb.chkpt_obj_id, 0u);
    EXPECT_TRUE(chkpt_fake.encoded.empty());
    EXPECT_EQ(idb.event_counters[TESSEL_PROTO_IDB_EVENT_CHKPT_UPDATE_FAILS], 1u);
    ASSERT_FALSE(qor_errmsg_captured().empty());
    EXPECT_EQ(qor_errmsg_captured().back().text, "Failed to allocate " + std::to_string(tessel_chkpt_if_size(0, 0)) +
                                                     " bytes for 'PTP checkpoint to save'");
    // The next change saves under the id created then.
    const chkpt_objid id = idb.chkpt_obj_id;
    tessel_chkpt_if_update(&idb);
    EXPECT_EQ(chkpt_fake_stored(TESSEL_CHKPT_TABLE_IF, id), "if:Gi0/0/0/1:0");
}

// An interface with more addresses than a record holds is reported like a refused save, and the
// agent goes on.
TEST_F(ChkptTest, AnInterfaceRecordThatDoesNotFitIsReportedAndNotSaved)
{
    primary_with_tables();
    tessel_proto_idb_type idb = port("Gi0/0/0/1", 0x100);
    chkpt_fake.if_too_big = true;
    debug_capture_clear();
    tessel_chkpt_if_update(&idb);
    EXPECT_EQ(pm_lines_with("[ERROR]"),
              std::vector<std::string>{"PORT-MGR: [ERROR] Failed to save checkpoint record for interface Gi0/0/0/1 "
                                       "(0x00000100): " +
                                       std::string(zerr_strerror(EMSGSIZE))});
    EXPECT_EQ(idb.event_counters[TESSEL_PROTO_IDB_EVENT_CHKPT_UPDATE_FAILS], 1u);
    chkpt_fake.if_too_big = false;
    tessel_chkpt_if_update(&idb);
    EXPECT_EQ(chkpt_fake_stored(TESSEL_CHKPT_TABLE_IF, idb.chkpt_obj_id), "if:Gi0/0/0/1:0");
}

} // namespace
