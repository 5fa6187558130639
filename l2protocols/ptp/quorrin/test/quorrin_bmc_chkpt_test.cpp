// Best-master selection's checkpoint on the in-memory checkpoint store, with the real selection:
// the global record's codec, the writing rule, recovery after a restart and on a standby, change
// notices, going primary active, shut-down and registration, on virtual time. A second instance
// of the application plays the previous controller that left entries, and reads what is there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "chkpt_test.h"
#include "issul.h"
#include "plat_clock_test.h"
#include "plat_debug.h"
#include "ptp_address.h"
#include "ptp_debug.h"
#include "ptp_enums.h"
#include "ptp_timer.h"
#include "qor_log.h"
#include "quorrin_bmc.h"
#include "quorrin_debug.h"
#include "quorrin_fakes.h"

namespace {

using bytes = std::vector<uint8_t>;
using strings = std::vector<std::string>;
using entries_type = std::map<chkpt_objid, bytes>;

constexpr uint32_t CLOCK = PTP_CHKPT_TABLE_BMC_CLOCK;
constexpr uint32_t GLOBAL = PTP_CHKPT_TABLE_BMC_GLOBAL;
constexpr uint32_t N1 = 0x10;
constexpr uint32_t N2 = 0x20;
constexpr uint32_t N3 = 0x30;
constexpr uint32_t N4 = 0x40;
constexpr zerrno STORE_DOWN = CHKPT_ERR_STORAGE;

debug_event_type debug_table[QUORRIN_DEBUG_AREA_COUNT];

ptp_clock_type master(uint64_t id, uint8_t priority1 = 128)
{
    ptp_clock_type c{};
    c.clock_id = id;
    c.priority1 = priority1;
    c.clock_class = 6;
    c.accuracy = 0x21;
    c.offset_log_variance = 0x4E5D;
    c.priority2 = 128;
    c.steps_removed = 1;
    c.time_source = 0x20;
    c.utc_offset = -37;
    c.utc_offset_valid = 1;
    c.sender = {id, 1};
    c.receiver = {0x0200'5EFF'FE00'0000 | id, 7};
    c.configured_priority = 128;
    return c;
}

ptp_address_type address_of(uint32_t node)
{
    ptp_address_type a{};
    const uint8_t ip[4] = {10, 0, 0, static_cast<uint8_t>(node)};
    ptp_address_set_ipv4(&a, ip);
    return a;
}

void report(uint32_t node, uint8_t priority1 = 128)
{
    const ptp_clock_type clock = master(node, priority1);
    const ptp_address_type a = address_of(node);
    quorrin_bmc_clock_update(&clock, node, 0x1000 + node, -4, -3, -250, &a);
}

void withdraw(uint32_t node)
{
    const ptp_address_type a = address_of(node);
    quorrin_bmc_clock_update(nullptr, node, 0, 0, 0, 0, &a);
}

std::vector<uint32_t> ranked()
{
    std::vector<uint32_t> out;
    quorrin_bmc_for_each_ranked([](const quorrin_bmc_clock_type *r,
                                   void *ctx) { static_cast<std::vector<uint32_t> *>(ctx)->push_back(r->node_id); },
                                &out);
    return out;
}

// A "BMC clock" entry as a controller writes it for a report of the node (host order).
bytes clock_entry(uint32_t node, uint8_t priority1 = 128)
{
    quorrin_bmc_clock_type r{};
    r.node_id = node;
    r.clock = master(node, priority1);
    r.ifhandle = 0x1000 + node;
    r.address = address_of(node);
    bytes out(QUORRIN_BMC_CHKPT_CLOCK_ENTRY_SIZE, 0);
    auto put = [&](size_t at, const void *v, size_t n) { std::memcpy(out.data() + at, v, n); };
    const int32_t log_sync = -4, log_delay_req = -3, asymmetry = -250;
    put(0, &r.node_id, 4);
    put(8, &r.clock.clock_id, 8);
    out[16] = r.clock.priority1;
    out[17] = r.clock.clock_class;
    out[18] = r.clock.accuracy;
    put(20, &r.clock.offset_log_variance, 2);
    out[22] = r.clock.priority2;
    put(24, &r.clock.steps_removed, 2);
    out[26] = r.clock.time_source;
    put(28, &r.clock.utc_offset, 2);
    put(32, &r.clock.utc_offset_valid, 4);
    put(48, &r.clock.sender.clock_id, 8);
    put(56, &r.clock.sender.port_num, 2);
    put(64, &r.clock.receiver.clock_id, 8);
    put(72, &r.clock.receiver.port_num, 2);
    out[8 + 77] = r.clock.configured_priority;
    put(88, &r.ifhandle, 4);
    put(96, &r.address.encap, 4);
    put(104, r.address.value, 16);
    put(120, &log_sync, 4);
    put(124, &log_delay_req, 4);
    put(128, &asymmetry, 4);
    return out;
}

bytes global_entry(bool seen_prtc, bool servo_ever_synced, bool local_clock_gm)
{
    return {0x08, seen_prtc, 0x10, servo_ever_synced, 0x18, local_clock_gm};
}

bool debug_has(const std::string &text)
{
    const strings lines = debug_captured();
    return std::any_of(lines.begin(), lines.end(), [&](const std::string &l) {
        return l.size() >= text.size() && l.compare(l.size() - text.size(), text.size(), text) == 0;
    });
}

strings syslog_texts()
{
    strings out;
    for (const qor_captured_msg &m : qor_errmsg_captured()) {
        out.push_back(m.mnemonic + ": " + m.text);
    }
    return out;
}

// ---- The global record's codec ----------------------------------------------------------------

TEST(BmcGlobalRecord, TheWriterSetsEveryFieldInSixBytes)
{
    const quorrin_bmc_global_chkpt_type record{true, false, true, 7};
    EXPECT_EQ(quorrin_bmc_gpb_global_pack(&record, nullptr, 0), 6u);
    uint8_t out[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(quorrin_bmc_gpb_global_pack(&record, out, 5), 0u);
    EXPECT_EQ(out[0], 0xEE);
    ASSERT_EQ(quorrin_bmc_gpb_global_pack(&record, out, sizeof(out)), 6u);
    EXPECT_EQ(bytes(out, out + 6), global_entry(true, false, true));
    const quorrin_bmc_global_chkpt_type only_gm{false, false, true, QUORRIN_BMC_GLOBAL_HAS_LOCAL_CLOCK_GM};
    ASSERT_EQ(quorrin_bmc_gpb_global_pack(&only_gm, out, sizeof(out)), 2u);
    EXPECT_EQ(bytes(out, out + 2), (bytes{0x18, 0x01}));
}

TEST(BmcGlobalRecord, DecodesByTheWireRules)
{
    const struct {
        const char *name;
        bytes in;
        int rv;
        bool seen_prtc, servo_ever_synced, local_clock_gm;
        uint8_t present;
    } rows[] = {
        {"the writer's form", global_entry(true, false, true), 0, true, false, true, 7},
        {"only field 2", {0x10, 0x01}, 0, false, true, false, 2},
        {"empty", {}, 0, false, false, false, 0},
        {"a long value is true when not zero", {0x08, 0x80, 0x80, 0x01, 0x18, 0x80, 0x00}, 0, true, false, false, 5},
        {"a two-byte tag", {0x90, 0x00, 0x05}, 0, false, true, false, 2},
        {"unknown varint skipped", {0x20, 0x96, 0x01, 0x10, 0x01}, 0, false, true, false, 2},
        {"unknown fixed64 skipped", {0x21, 1, 2, 3, 4, 5, 6, 7, 8, 0x10, 0x01}, 0, false, true, false, 2},
        {"unknown bytes skipped", {0x2A, 0x02, 0x08, 0x01, 0x10, 0x01}, 0, false, true, false, 2},
        {"unknown fixed32 skipped", {0x2D, 1, 2, 3, 4, 0x10, 0x01}, 0, false, true, false, 2},
        {"field 1 as bytes", {0x0A, 0x01, 0x01}, QUORRIN_BMC_GPB_BAD_WIRE_TYPE, false, false, false, 0},
        {"field 3 as fixed32", {0x1D, 0, 0, 0, 1}, QUORRIN_BMC_GPB_BAD_WIRE_TYPE, false, false, false, 0},
        {"unknown wire type 3", {0x23, 0x10, 0x01}, QUORRIN_BMC_GPB_BAD_UNKNOWN_WIRE_TYPE, false, false, false, 0},
        {"unknown wire type 4", {0x24}, QUORRIN_BMC_GPB_BAD_UNKNOWN_WIRE_TYPE, false, false, false, 0},
        {"unknown wire type 6", {0x26}, QUORRIN_BMC_GPB_BAD_UNKNOWN_WIRE_TYPE, false, false, false, 0},
        {"unknown wire type 7", {0x27}, QUORRIN_BMC_GPB_BAD_UNKNOWN_WIRE_TYPE, false, false, false, 0},
        {"no value", {0x08}, QUORRIN_BMC_GPB_TRUNCATED, false, false, false, 0},
        {"value cut short", {0x08, 0x80}, QUORRIN_BMC_GPB_TRUNCATED, false, false, false, 0},
        {"tag cut short", {0x88}, QUORRIN_BMC_GPB_TRUNCATED, false, false, false, 0},
        {"a six-byte tag",
         {0x88, 0x80, 0x80, 0x80, 0x80, 0x00, 0x01},
         QUORRIN_BMC_GPB_TRUNCATED,
         false,
         false,
         false,
         0},
        {"bytes beyond the end", {0x2A, 0x05, 0x01}, QUORRIN_BMC_GPB_TRUNCATED, false, false, false, 0},
        {"a length past any buffer",
         {0x2A, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01},
         QUORRIN_BMC_GPB_TRUNCATED,
         false,
         false,
         false,
         0},
        {"fixed64 cut short", {0x21, 0, 0, 0}, QUORRIN_BMC_GPB_TRUNCATED, false, false, false, 0},
        {"fixed32 cut short", {0x2D, 0, 0}, QUORRIN_BMC_GPB_TRUNCATED, false, false, false, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        quorrin_bmc_global_chkpt_type record{};
        // An exact-size copy, so that a read past the end is caught.
        const std::unique_ptr<uint8_t[]> in(new uint8_t[row.in.size() + 1]);
        std::copy(row.in.begin(), row.in.end(), in.get());
        ASSERT_EQ(quorrin_bmc_gpb_global_unpack(&record, in.get(), row.in.size(), nullptr), row.rv);
        if (row.rv == 0) {
            EXPECT_EQ(record.seen_prtc, row.seen_prtc);
            EXPECT_EQ(record.servo_ever_synced, row.servo_ever_synced);
            EXPECT_EQ(record.local_clock_gm, row.local_clock_gm);
            EXPECT_EQ(record.present, row.present);
        }
    }
}

// ---- Entries ------------------------------------------------------------------------------------

class BmcChkpt : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat_clock_use_virtual();
        quorrin_fake_reset();
        chkpt_test_reset(":memory:");
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_EQ(ptp_debug_register(evm, debug_table, quorrin_debug_areas, QUORRIN_DEBUG_AREA_COUNT, nullptr), 0u);
        debug_set_area(PTP_DEBUG_PATH, "bmc", nullptr);
        ASSERT_EQ(ptp_timer_init(evm, 1000, 32, nullptr, nullptr, quorrin_debug_area("main"), debug_table), 0u);
        join(nullptr);
        previous = chkpt_test_instance_new(nullptr);
        join(previous);
        chkpt_test_instance_use(nullptr);
    }
    void TearDown() override
    {
        if (started) {
            quorrin_bmc_shutdown();
        }
        chkpt_test_instance_use(nullptr);
        chkpt_test_instance_free(previous);
        ptp_timer_shutdown();
        ptp_debug_cleanup();
        event_manager_destroy(evm);
        chkpt_test_reset(":memory:");
        plat_clock_use_real();
    }

    // An instance of the controller's application, primary-active (the writing rule, not the
    // service, keeps a standby or secondary from writing).
    void join(chkpt_instance_type *instance)
    {
        chkpt_test_instance_use(instance);
        chkpt_appdesc_type desc;
        chkpt_appdesc_init(&desc);
        std::strcpy(desc.name, "ptp");
        desc.flags = 1;
        ASSERT_EQ(chkpt_init(evm, &desc), 0u);
        ASSERT_EQ(chkpt_go_primary_active(), 0u);
    }

    // Start-up, the platform's first clock update and a selection: with no clock reported the
    // local clock becomes the grandmaster, a change of a checkpointed flag.
    void start()
    {
        ASSERT_EQ(quorrin_bmc_init(evm), 0u);
        started = true;
        ptp_platform_clock_props_type p{};
        p.mask = 0xFFF;
        p.timescale = 1;
        p.time_source = 0xA0;
        p.accuracy = 0xFE;
        p.oslv = 0xFFFF;
        quorrin_bmc_platform_clock_update(1, 0, 0, &p, nullptr, 0, 0, 0);
        quorrin_bmc_select_gm(QUORRIN_BMC_REASON_LOCAL_CLOCK);
    }
    void stop()
    {
        quorrin_bmc_shutdown();
        started = false;
    }
    void forget()
    {
        quorrin_fake_calls().clear();
        qor_errmsg_capture_clear();
        debug_capture_clear();
    }
    void role(uint32_t issu_role, bool kvolm_or_lc = true)
    {
        quorrin_fake_ha_role() = issu_role;
        quorrin_fake_main().kvolm_or_lc = kvolm_or_lc;
    }

    // Runs fn as the previous controller, on the table.
    template <typename Fn>
    void as_previous(uint32_t table_id, Fn fn)
    {
        chkpt_test_instance_use(previous);
        chkpt_tbldesc_type desc;
        chkpt_tbldesc_init(&desc);
        desc.table_id = table_id;
        desc.record_size = QUORRIN_BMC_CHKPT_GLOBAL_MAX_SIZE;
        chkpt_tbl_type *table = nullptr;
        ASSERT_EQ(chkpt_register(&desc, &table), 0u);
        fn(table);
        ASSERT_EQ(chkpt_unregister(table), 0u);
        chkpt_test_instance_use(nullptr);
    }
    // Entries left as a previous controller would (an empty entry: created, never written).
    std::vector<chkpt_objid> seed(uint32_t table_id, const std::vector<bytes> &contents)
    {
        std::vector<chkpt_objid> ids;
        as_previous(table_id, [&](chkpt_tbl_type *table) {
            for (const bytes &b : contents) {
                chkpt_objid id = 0;
                ASSERT_EQ(chkpt_create(table, 0, &id), 0u);
                if (!b.empty()) {
                    ASSERT_EQ(chkpt_save(table, id, b.data(), b.size()), 0u);
                }
                ids.push_back(id);
            }
        });
        return ids;
    }
    void overwrite(uint32_t table_id, chkpt_objid id, const bytes &b)
    {
        as_previous(table_id, [&](chkpt_tbl_type *table) { ASSERT_EQ(chkpt_save(table, id, b.data(), b.size()), 0u); });
    }
    entries_type entries(uint32_t table_id)
    {
        entries_type out;
        as_previous(table_id, [&](chkpt_tbl_type *table) {
            chkpt_iter_type *iter = nullptr;
            ASSERT_EQ(chkpt_iterate_start(table, &iter), 0u);
            for (;;) {
                chkpt_objid id = 0;
                uint8_t buffer[QUORRIN_BMC_CHKPT_GLOBAL_MAX_SIZE];
                uint16_t length = sizeof(buffer);
                ASSERT_EQ(chkpt_iterate_next(iter, &id, buffer, &length), 0u);
                if (id == 0) {
                    break;
                }
                out[id] = bytes(buffer, buffer + length);
            }
            chkpt_iterate_end(iter);
        });
        return out;
    }
    std::vector<bytes> contents(uint32_t table_id)
    {
        std::vector<bytes> out;
        for (const auto &[id, b] : entries(table_id)) {
            out.push_back(b);
        }
        return out;
    }
    uint64_t record_id(uint32_t node)
    {
        const quorrin_bmc_clock_type *r = quorrin_bmc_find_clock(node);
        return r == nullptr ? 0 : r->chkpt_id;
    }

    event_mgr_type *evm = nullptr;
    chkpt_instance_type *previous = nullptr;
    bool started = false;
};

TEST_F(BmcChkpt, OnlyThePrimaryOnTheKvolmNodeOrALineCardWrites)
{
    const struct {
        const char *name;
        uint32_t role;
        bool kvolm_or_lc;
        bool writes;
    } rows[] = {
        {"primary", ISSUL_ROLE_PRIMARY, true, true},
        {"standby", ISSUL_ROLE_PRIMARY, false, false},
        {"secondary", ISSUL_ROLE_SECONDARY, true, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        role(row.role, row.kvolm_or_lc);
        start();
        report(N1, 100);
        report(N2, 120);
        report(N3, 130);
        withdraw(N3);
        EXPECT_EQ(ranked(), (std::vector<uint32_t>{N1, N2}));
        EXPECT_FALSE(quorrin_bmc_get_local_clock_gm());
        if (row.writes) {
            EXPECT_EQ(contents(CLOCK), (std::vector<bytes>{clock_entry(N1, 100), clock_entry(N2, 120)}));
            EXPECT_EQ(contents(GLOBAL), (std::vector<bytes>{global_entry(false, false, false)}));
            EXPECT_TRUE(debug_has(
                "BMC: Writing global checkpoint. Seen-PRTC: FALSE.Servo ever synced: FALSE, Local clock GM: FALSE"));
            EXPECT_TRUE(debug_has("BMC: Deleted checkpoint record for clock 30 (IPv4 10.0.0.48) from node 0x30(0x30)"));
        } else {
            EXPECT_EQ(chkpt_test_record_count(CLOCK), 0u);
            EXPECT_EQ(chkpt_test_record_count(GLOBAL), 0u);
            EXPECT_EQ(record_id(N1), 0u);
        }
        stop();
        EXPECT_EQ(chkpt_test_record_count(CLOCK), 0u);
        EXPECT_EQ(chkpt_test_record_count(GLOBAL), 0u);
        forget();
    }
}

TEST_F(BmcChkpt, ARestartedPrimaryRecoversItsClocksAndFlagsWithoutWritingThemBack)
{
    role(ISSUL_ROLE_PRIMARY);
    start();
    report(N1, 120);
    report(N2, 100);
    const entries_type written = entries(CLOCK);
    ASSERT_EQ(written.size(), 2u);
    ASSERT_EQ(contents(GLOBAL), (std::vector<bytes>{global_entry(false, false, false)}));
    // A shut-down off the KVOLM node deletes nothing, as a crash would.
    quorrin_fake_main().kvolm_or_lc = false;
    stop();
    quorrin_fake_main().kvolm_or_lc = true;
    forget();

    // The recovered head is the grandmaster.
    ASSERT_EQ(quorrin_bmc_init(evm), 0u);
    started = true;
    EXPECT_EQ(ranked(), (std::vector<uint32_t>{N2, N1}));
    EXPECT_EQ(entries(CLOCK), written);
    EXPECT_EQ(record_id(N2), written.rbegin()->first);
    quorrin_bmc_gm_type gm{};
    const ptp_clock_type *gm_clock = quorrin_bmc_get_gm(&gm);
    ASSERT_NE(gm_clock, nullptr);
    EXPECT_EQ(gm_clock->clock_id, N2);
    EXPECT_EQ(gm.log_sync_interval, -4);
    EXPECT_EQ(gm.delay_asymmetry, -250);
    char line[160];
    std::snprintf(line, sizeof(line),
                  "BMC: Recovered clock 20 (IPv4 10.0.0.32) from node 0x20(0x20) from checkpoint. Checkpoint ID 0x%lx",
                  static_cast<unsigned long>(written.rbegin()->first));
    EXPECT_TRUE(debug_has(line));
    EXPECT_TRUE(
        debug_has("BMC: Recovered global checkpoint. Seen-PRTC FALSE,Servo ever synced: FALSE, Local clock GM: FALSE"));
    const strings lines = debug_captured();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string &l) { return l.find("Writing global") != std::string::npos; }),
              0);

    // Nodes that never report again lose their records and entries.
    ASSERT_EQ(plat_clock_advance_ms(QUORRIN_BMC_RESYNC_MS), 0u);
    EXPECT_TRUE(ranked().empty());
    EXPECT_EQ(chkpt_test_record_count(CLOCK), 0u);
}

TEST_F(BmcChkpt, RecoveryDropsEntriesThatCannotBeRecordsAndIgnoresASecondClockOfANode)
{
    bytes local = clock_entry(N4);
    local[8 + 72] = 1; // the local flag
    bytes unknown_kind = clock_entry(N3);
    unknown_kind[96] = 9;
    const std::vector<chkpt_objid> ids =
        seed(CLOCK, {clock_entry(N1), clock_entry(N1, 90), {}, bytes(100, 0), local, unknown_kind});
    const std::vector<chkpt_objid> global_ids = seed(GLOBAL, {{}, {0x10, 0x01}});
    role(ISSUL_ROLE_PRIMARY);
    ASSERT_EQ(quorrin_bmc_init(evm), 0u);
    started = true;

    EXPECT_EQ(ranked(), std::vector<uint32_t>{N1});
    EXPECT_EQ(record_id(N1), ids[0]);
    EXPECT_EQ(quorrin_bmc_find_clock(N1)->clock.priority1, 128);
    EXPECT_EQ(entries(CLOCK), (entries_type{{ids[0], clock_entry(N1)}, {ids[1], clock_entry(N1, 90)}}));
    char line[160];
    std::snprintf(
        line, sizeof(line),
        "BMC: Ignored extra clock 10 (IPv4 10.0.0.16) from node 0x10(0x10) from checkpoint. Checkpoint ID 0x%lx",
        static_cast<unsigned long>(ids[1]));
    EXPECT_TRUE(debug_has(line));

    EXPECT_EQ(entries(GLOBAL), (entries_type{{global_ids[1], {0x10, 0x01}}}));
    EXPECT_FALSE(quorrin_bmc_get_seen_prtc());
    EXPECT_TRUE(quorrin_bmc_get_servo_ever_synced());
    EXPECT_FALSE(quorrin_bmc_get_local_clock_gm());
    EXPECT_TRUE(
        debug_has("BMC: Recovered global checkpoint. Seen-PRTC FALSE,Servo ever synced: TRUE, Local clock GM: FALSE"));
}

TEST_F(BmcChkpt, AGlobalEntryThatCannotBeDecodedIsLeftAndItsFlagsStayFalse)
{
    seed(GLOBAL, {{0x08, 0x01, 0x0A, 0x01, 0x01}});
    role(ISSUL_ROLE_PRIMARY);
    ASSERT_EQ(quorrin_bmc_init(evm), 0u);
    started = true;
    EXPECT_FALSE(quorrin_bmc_get_seen_prtc());
    EXPECT_EQ(contents(GLOBAL), (std::vector<bytes>{{0x08, 0x01, 0x0A, 0x01, 0x01}}));
    EXPECT_TRUE(
        debug_has("BMC: [ERROR] quorrin_bmc_chkpt_gpb_global_decode: A checkpoint entry could not be decoded, rv: -3"));
}

TEST_F(BmcChkpt, NoticesAsPrimaryWriteOwnEntriesAgainAndDeleteOthers)
{
    role(ISSUL_ROLE_PRIMARY);
    start();
    report(N1);
    const chkpt_objid own = record_id(N1);
    const chkpt_objid global = entries(GLOBAL).begin()->first;
    const std::vector<chkpt_objid> stray = seed(CLOCK, {clock_entry(N2), clock_entry(N3)});
    const std::vector<chkpt_objid> stray_global = seed(GLOBAL, {global_entry(true, true, true)});
    overwrite(CLOCK, own, bytes(QUORRIN_BMC_CHKPT_CLOCK_ENTRY_SIZE, 0));
    overwrite(GLOBAL, global, {0x08, 0x01});

    auto notice = [](uint32_t type, uint32_t table, chkpt_objid id, const bytes &data) {
        chkpt_ndt_type n{};
        n.type = type;
        n.table_id = table;
        n.objid = id;
        n.data = data.empty() ? nullptr : data.data();
        n.length = static_cast<uint32_t>(data.size());
        quorrin_bmc_chkpt_clock_ndt(&n);
    };
    notice(CHKPT_NDT_SAVE, CLOCK, own, clock_entry(N1));
    notice(CHKPT_NDT_SAVE, CLOCK, stray[0], clock_entry(N2));
    notice(CHKPT_NDT_DELETE, CLOCK, stray[1], {});
    notice(CHKPT_NDT_SAVE, GLOBAL, global, {});
    notice(CHKPT_NDT_SAVE, GLOBAL, stray_global[0], global_entry(true, true, true));
    EXPECT_EQ(entries(CLOCK), (entries_type{{own, clock_entry(N1)}, {stray[1], clock_entry(N3)}}));
    EXPECT_EQ(entries(GLOBAL), (entries_type{{global, global_entry(false, false, false)}}));
}

TEST_F(BmcChkpt, ASecondaryReadsTheGlobalEntryOnItsNoticeAndWritesNothing)
{
    role(ISSUL_ROLE_SECONDARY);
    start();
    const chkpt_objid id = seed(GLOBAL, {global_entry(true, true, false)})[0];
    chkpt_ndt_type n{};
    n.type = CHKPT_NDT_DELETE;
    n.table_id = GLOBAL;
    n.objid = id;
    quorrin_bmc_chkpt_global_ndt(&n);
    EXPECT_FALSE(quorrin_bmc_get_seen_prtc());

    n.type = CHKPT_NDT_SAVE;
    quorrin_bmc_chkpt_global_ndt(&n);
    EXPECT_TRUE(quorrin_bmc_get_seen_prtc());
    EXPECT_TRUE(quorrin_bmc_get_servo_ever_synced());
    EXPECT_FALSE(quorrin_bmc_get_local_clock_gm());
    stop();
    EXPECT_EQ(contents(GLOBAL), (std::vector<bytes>{global_entry(true, true, false)}));
}

TEST_F(BmcChkpt, GoingPrimaryActiveKeepsOnlyTheEntriesOfItsRecords)
{
    // A standby that gave up waiting for the transfer: the clocks are recovered, the global table
    // is not read.
    const std::vector<chkpt_objid> ids = seed(CLOCK, {clock_entry(N1), clock_entry(N2), {}, clock_entry(N1, 90)});
    seed(GLOBAL, {global_entry(true, true, true)});
    role(ISSUL_ROLE_PRIMARY, false);
    quorrin_fake_main().idt_timer_expired = true;
    start();
    EXPECT_FALSE(quorrin_bmc_get_seen_prtc());
    withdraw(N2);
    report(N4);
    EXPECT_EQ(chkpt_test_record_count(CLOCK), 4u);

    quorrin_fake_main().kvolm_or_lc = true;
    chkpt_test_fail(chkpt_test_op::GO_PRIMARY_ACTIVE, STORE_DOWN, 3);
    quorrin_bmc_go_primary_active();
    EXPECT_EQ(entries(CLOCK), (entries_type{{ids[0], clock_entry(N1)}}));
    // The table holds one entry: the previous one goes before this controller's can be made.
    EXPECT_EQ(contents(GLOBAL), (std::vector<bytes>{global_entry(false, false, false)}));

    report(N4);
    EXPECT_EQ(chkpt_test_record_count(CLOCK), 2u);
    stop();
    EXPECT_EQ(chkpt_test_record_count(CLOCK), 0u);
    EXPECT_EQ(chkpt_test_record_count(GLOBAL), 0u);
}

TEST_F(BmcChkpt, ThePrimaryCannotGoOnWithoutThePrimaryRoleOfTheCheckpoint)
{
    role(ISSUL_ROLE_PRIMARY);
    start();
    chkpt_test_fail(chkpt_test_op::GO_PRIMARY_ACTIVE, STORE_DOWN, 10);
    EXPECT_DEATH(quorrin_bmc_go_primary_active(), "chkpt_go_primary_active");
}

TEST_F(BmcChkpt, ExitingWhileBeingReplacedKeepsTheGlobalEntry)
{
    role(ISSUL_ROLE_PRIMARY);
    start();
    quorrin_fake_ha_role() = ISSUL_ROLE_RETIRING;
    stop();
    EXPECT_EQ(contents(GLOBAL), (std::vector<bytes>{global_entry(false, false, true)}));
}

TEST_F(BmcChkpt, RegistrationIsTriedTenTimes)
{
    role(ISSUL_ROLE_PRIMARY);
    chkpt_test_fail(chkpt_test_op::REGISTER, STORE_DOWN, 9);
    ASSERT_EQ(quorrin_bmc_init(evm), 0u);
    started = true;
    const std::string retry =
        std::string("BMC: [ERROR] Failed to register with checkpoint: ") + zerr_strerror(STORE_DOWN) + ", retrying.";
    const strings lines = debug_captured();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [&](const std::string &l) { return l.find(retry) != std::string::npos; }),
              9);
    EXPECT_TRUE(syslog_texts().empty());
    stop();

    chkpt_test_fail(chkpt_test_op::REGISTER, STORE_DOWN, 10);
    EXPECT_EQ(quorrin_bmc_init(evm), STORE_DOWN);
    EXPECT_EQ(syslog_texts(),
              strings{std::string("INIT_FAILED: Failed to initialize: Failed to register clock checkpoint table after "
                                  "max retries: ") +
                      zerr_strerror(STORE_DOWN)});
    quorrin_bmc_shutdown();
    forget();

    // The global table of a standby that gave up waiting is registered when it goes active.
    quorrin_fake_main().idt_timer_expired = true;
    start();
    chkpt_test_fail(chkpt_test_op::REGISTER, STORE_DOWN, 10);
    quorrin_bmc_go_primary_active();
    EXPECT_EQ(syslog_texts(),
              strings{std::string("INIT_FAILED: Failed to initialize: Failed to register global checkpoint table "
                                  "after max retries: ") +
                      zerr_strerror(STORE_DOWN)});
    EXPECT_EQ(chkpt_test_record_count(GLOBAL), 0u);
}

} // namespace
