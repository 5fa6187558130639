// Master and slave tables of the interface configuration: the key checks, the leaves' codes and
// texts, the interface's own entries against its profile's, and the profile merges.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "jotlog_test.h"
#include "ptp_debug.h"
#include "ptp_strings.h"
#include "ptp_trace_points.h"
#include "qor_log.h"
#include "tessel_alloc.h"
#include "tessel_cfg_gl.h"
#include "tessel_cfg_global_test_fake.h"
#include "tessel_cfg_table.h"
#include "tessel_intf_caps.h"
#include "tessel_port_mgr.h"

namespace {

constexpr uint16_t ALL_CAPS = 0x03ff;
constexpr uint16_t NO_SLAVE = ALL_CAPS & ~TESSEL_INTF_CAPS_SLAVE;
constexpr uint16_t NO_IPV6 = ALL_CAPS & ~TESSEL_INTF_CAPS_IPV6;
constexpr uint16_t NO_ETHERNET = ALL_CAPS & ~TESSEL_INTF_CAPS_ETHERNET;
constexpr uint16_t NO_MULTICAST = ALL_CAPS & ~TESSEL_INTF_CAPS_MULTICAST;
constexpr uint32_t CREATE = NODRA_EVENT_CREATE;
constexpr uint32_t SET = NODRA_EVENT_SET;
constexpr const char *IF = "Gi0/0/0/1";

using verify_fn = zerrno (*)(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                             const bgen_args_td *);
using apply_fn = zerrno (*)(const nodra_verify_event_info_td *, void *, const bgen_args_td *);

struct verify_outcome {
    zerrno code;
    uint32_t result;
    std::string text;
};

verify_outcome run_verify(verify_fn fn, cfg_event_type e, bgen_args_td args)
{
    char *text = nullptr;
    nodra_verify_result_td result{99};
    const zerrno rc = fn(cfg_event_info(e), &text, &result, nullptr, &args);
    verify_outcome out{rc, result.result, text != nullptr ? text : ""};
    std::free(text);
    return out;
}

zerrno run_apply(apply_fn fn, cfg_event_type e, bgen_args_td args)
{
    uint32_t batch_state = 0;
    return fn(cfg_event_info(e), &batch_state, &args);
}

ptp_address_type v4(const char *text)
{
    bgen_args_td a = cfg_args_addr(IF, 2, text);
    ptp_address_type addr{};
    ptp_cfg_extract_addr_info(&a, &addr);
    return addr;
}

tessel_master_db_type *find(tessel_master_table_type *t, const ptp_address_type &a)
{
    tessel_master_db_type *e = nullptr;
    (void)tessel_master_db_find(t, &a, &e);
    return e;
}

std::vector<std::string> master_addresses(tessel_master_table_type *t)
{
    std::vector<std::string> out;
    tessel_master_db_walk(
        [](tessel_master_db_type *e, void *c) {
            static_cast<std::vector<std::string> *>(c)->push_back(ptp_address_to_str(&e->address));
            return true;
        },
        t, &out);
    return out;
}

class CfgTableTest : public ::testing::Test {
protected:
    void SetUp() override { cfg_fake_reset(ALL_CAPS); }
    void TearDown() override { cfg_fake_teardown(); }
    void caps(uint16_t c)
    {
        cfg_fake_teardown();
        cfg_fake_reset(c);
    }
};

// ---- Key checks and verify texts ----

struct key_case {
    const char *name;
    uint16_t caps;
    verify_fn fn;
    std::function<cfg_event_type()> event;
    std::function<bgen_args_td()> args;
    zerrno code;
    const char *text; // the verify text on failure
};

TEST_F(CfgTableTest, VerifyCodesAndTexts)
{
    const auto ev = [] { return cfg_event_u32(CREATE, 1); };
    const auto ip = [](const char *a) { return [a] { return cfg_args_addr(IF, 2, a); }; };
    const char *enable_text = "Failed to verify the master enable item.";
    const key_case cases[] = {
        {"unicast IPv4 master", ALL_CAPS, tessel_cfg_if_verify_master_enable, ev, ip("10.0.0.1"), 0, ""},
        {"multicast IPv4 master", ALL_CAPS, tessel_cfg_if_verify_master_enable, ev, ip("224.0.1.129"),
         PTP_ZERR2_CFG_MASTER_MULTICAST, enable_text},
        {"multicast IPv6 master", ALL_CAPS, tessel_cfg_if_verify_master_enable, ev,
         [] { return cfg_args_addr(IF, 3, "ff02::6b"); }, PTP_ZERR2_CFG_MASTER_MULTICAST, enable_text},
        {"Ethernet group address", ALL_CAPS, tessel_cfg_if_verify_master_enable, ev,
         [] { return cfg_args_addr(IF, 1, "011b.1900.0000"); }, PTP_ZERR2_CFG_MASTER_MULTICAST, enable_text},
        {"address kind 4", ALL_CAPS, tessel_cfg_if_verify_master_enable, ev,
         [] { return cfg_args_addr(IF, 4, "10.0.0.1"); }, PTP_ZERR_CFG_ENCAP, enable_text},
        {"MAC text that does not parse", ALL_CAPS, tessel_cfg_if_verify_master_enable, ev,
         [] { return cfg_args_addr(IF, 1, "0011.22zz.3344"); }, PTP_ZERR_CFG_MAC, enable_text},
        {"IPv6 master without IPv6", NO_IPV6, tessel_cfg_if_verify_master_enable, ev,
         [] { return cfg_args_addr(IF, 3, "2001:db8::1"); }, PTP_ZERR_CARD_NO_IPV6, enable_text},
        {"Ethernet master without Ethernet", NO_ETHERNET, tessel_cfg_if_verify_master_enable, ev,
         [] { return cfg_args_addr(IF, 1, "0011.2233.4455"); }, PTP_ZERR_CARD_NO_ETHERNET, enable_text},
        {"no slave capability", NO_SLAVE, tessel_cfg_if_verify_master_enable, ev, ip("10.0.0.1"),
         PTP_ZERR_CARD_NO_SLAVE, enable_text},
        {"no PTP", 0, tessel_cfg_if_verify_master_enable, ev, ip("10.0.0.1"), PTP_ZERR_CARD_NO_PTP, enable_text},
        {"interface type not supported", ALL_CAPS, tessel_cfg_if_verify_master_enable, ev,
         [] { return cfg_args_addr("Lo0", 2, "10.0.0.1"); }, PTP_ZERR_CFG_INTERFACE_NAME, enable_text},
        {"priority 256", ALL_CAPS, tessel_cfg_if_verify_master_priority, [] { return cfg_event_u32(SET, 256); },
         ip("10.0.0.1"), PTP_ZERR_CFG_PRIORITY,
         "Failed to verify the master priority item. It must take a value between 0 and 255"},
        {"priority 0", ALL_CAPS, tessel_cfg_if_verify_master_priority, [] { return cfg_event_u32(SET, 0); },
         ip("10.0.0.1"), 0, ""},
        {"clock class 256", ALL_CAPS, tessel_cfg_if_verify_master_clock_class, [] { return cfg_event_u32(SET, 256); },
         ip("10.0.0.1"), PTP_ZERR_CFG_CLOCK_CLASS,
         "Failed to verify the master clock class value. The clock class must be between 0 and 255"},
        {"mixed-mode master without multicast", NO_MULTICAST, tessel_cfg_if_verify_master_multicast,
         [] { return cfg_event_u32(SET, 1); }, ip("10.0.0.1"), PTP_ZERR_CARD_NO_MULTICAST,
         "Failed to verify the master multicast item."},
        {"unicast master without multicast", NO_MULTICAST, tessel_cfg_if_verify_master_multicast,
         [] { return cfg_event_u32(SET, 0); }, ip("10.0.0.1"), 0, ""},
        {"delay asymmetry over 0.5 s", ALL_CAPS, tessel_cfg_if_verify_master_delay_asymmetry,
         [] {
             return cfg_event_tuple(SET, {{1, 501, {}}, {1, 2, {}}});
         },
         ip("10.0.0.1"), PTP_ZERR_CFG_DELAY_ASYMMETRY, "Failed to verify the master delay asymmetry item."},
        {"master non-negotiated without slave capability", NO_SLAVE, tessel_cfg_if_verify_master_nonnegotiated, ev,
         ip("10.0.0.1"), PTP_ZERR_CARD_NO_SLAVE, "Failed to verify the master non-negotiated item"},
        // The slave key needs no slave capability and takes multicast addresses.
        {"slave without slave capability", NO_SLAVE, tessel_cfg_if_verify_slave_nonnegotiated, ev, ip("224.0.1.129"), 0,
         ""},
        {"Ethernet slave without Ethernet", NO_ETHERNET, tessel_cfg_if_verify_slave_nonnegotiated, ev,
         [] { return cfg_args_addr(IF, 1, "0011.2233.4455"); }, PTP_ZERR_CARD_NO_ETHERNET,
         "Failed to verify the slave non-negotiated item"},
    };
    for (const key_case &c : cases) {
        SCOPED_TRACE(c.name);
        caps(c.caps);
        const verify_outcome out = run_verify(c.fn, c.event(), c.args());
        EXPECT_EQ(out.code, c.code);
        EXPECT_EQ(out.result, c.code == 0 ? NODRA_VERIFY_RESULT_PASS : NODRA_VERIFY_RESULT_FAIL);
        EXPECT_EQ(out.text, c.text);
        EXPECT_EQ(tessel_cfg_verify_batch_has_valid_item, c.code == 0);
        // Verification never creates a record.
        tessel_ipc_idb_type *idb = nullptr;
        EXPECT_NE(tessel_ipc_db_get_by_ifname(IF, &idb), 0u);
    }
}

// ---- Own entries ----

TEST_F(CfgTableTest, OwnEntryLivesWhileAnyOfItsLeavesIsSet)
{
    tessel_ipc_idb_type *idb = cfg_idb(IF);
    idb->flags |= TESSEL_IPC_FLAG_ENABLED;
    const ptp_address_type a = v4("10.0.0.1");
    const bgen_args_td key = cfg_args_addr(IF, 2, "10.0.0.1");

    // Only a priority: the entry is in both tables with enabled clear; a priority of 0 is set.
    ASSERT_EQ(run_apply(tessel_cfg_if_apply_master_priority, cfg_event_u32(CREATE, 0), key), 0u);
    tessel_master_db_type *own = find(&idb->if_config.master_table, a);
    tessel_master_db_type *applied = find(&idb->applied_config.master_table, a);
    ASSERT_NE(own, nullptr);
    ASSERT_NE(applied, nullptr);
    EXPECT_EQ(own->flags, TESSEL_MASTER_DB_PRIORITY_SET);
    EXPECT_EQ(applied->flags, TESSEL_MASTER_DB_PRIORITY_SET);
    EXPECT_EQ(applied->priority, 0u);
    EXPECT_NE(idb->flags & TESSEL_IPC_FLAG_UPDATE_MASTER_TABLE, 0u);
    EXPECT_EQ(cfg_fake.if_update_add, std::vector<std::string>{IF});
    EXPECT_EQ(cfg_debug_lines(), std::vector<std::string>{"CONFIG: Gi0/0/0/1: Master IPv4 10.0.0.1 priority config "
                                                          "Create event: Not set 0 -> 0. Applied config: Not set 0 "
                                                          "-> 0"});

    // The same value again changes nothing.
    idb->flags = TESSEL_IPC_FLAG_ENABLED;
    cfg_fake.if_update_add.clear();
    ASSERT_EQ(run_apply(tessel_cfg_if_apply_master_priority, cfg_event_u32(SET, 0), key), 0u);
    EXPECT_EQ(idb->flags & TESSEL_IPC_FLAG_UPDATE_MASTER_TABLE, 0u);
    EXPECT_TRUE(cfg_fake.if_update_add.empty());

    ASSERT_EQ(run_apply(tessel_cfg_if_apply_master_enable, cfg_event_u32(CREATE, 0), key), 0u);
    ASSERT_EQ(run_apply(tessel_cfg_if_apply_master_clock_class, cfg_event_u32(CREATE, 7), key), 0u);
    EXPECT_EQ(applied->flags,
              TESSEL_MASTER_DB_ENABLE_SET | TESSEL_MASTER_DB_PRIORITY_SET | TESSEL_MASTER_DB_CLOCK_CLASS_SET);
    EXPECT_EQ(applied->clock_class, 7u);

    // Deleting enable clears it in both tables; the entry stays for its other leaves.
    idb->flags = TESSEL_IPC_FLAG_ENABLED;
    debug_capture_clear();
    ASSERT_EQ(run_apply(tessel_cfg_if_apply_master_enable, cfg_event_delete(), key), 0u);
    EXPECT_EQ(own->flags, TESSEL_MASTER_DB_PRIORITY_SET | TESSEL_MASTER_DB_CLOCK_CLASS_SET);
    EXPECT_EQ(applied->flags, own->flags);
    EXPECT_NE(idb->flags & TESSEL_IPC_FLAG_UPDATE_MASTER_TABLE, 0u);
    EXPECT_EQ(cfg_debug_lines(), std::vector<std::string>{"CONFIG: Gi0/0/0/1: Master IPv4 10.0.0.1 enable config "
                                                          "Delete event: Enabled -> Disabled. Applied config: "
                                                          "Enabled -> Disabled"});

    // Its last leaves deleted, the entry goes from both tables.
    ASSERT_EQ(run_apply(tessel_cfg_if_apply_master_priority, cfg_event_delete(), key), 0u);
    ASSERT_EQ(run_apply(tessel_cfg_if_apply_master_clock_class, cfg_event_delete(), key), 0u);
    EXPECT_EQ(tessel_master_db_count(&idb->if_config.master_table), 0u);
    EXPECT_EQ(tessel_master_db_count(&idb->applied_config.master_table), 0u);
}

// ---- Trace records ----

// The first item of a batch writes the record its point's text reads: the address, the event and
// the interface entry's and the applied entry's values before and after, as the debug line
// shows them; the batch's later items write none.
TEST_F(CfgTableTest, TheFirstItemOfABatchTracesItsLeaf)
{
    const std::string run_dir = jotlog_test_run_dir_create("tessel-cfg-table-test");
    ptp_jotlog_buffer_type buffers[] = {{"ptp/tessel/det", {1024, 8192, 0, 0}, nullptr},
                                        {"ptp/tessel/sum", {1024, 8192, 0, 0}, nullptr},
                                        {"ptp/tessel/unq", {0, 0, 64, 256}, nullptr}};
    ASSERT_EQ(ptp_jotlog_init(buffers, 3), 0u);
    ptp_jotlog_ctx_set(buffers[0], buffers[1], buffers[2]);
    cfg_idb(IF);
    struct trace_case {
        apply_fn fn;
        std::function<cfg_event_type()> event;
        const char *address;
        const ptp_trace_point_type &point;
        const char *args; // after the address and the event
    };
    const trace_case cases[] = {
        {tessel_cfg_if_apply_master_enable, [] { return cfg_event_u32(CREATE, 0); }, "10.0.0.1",
         PTP_TRACE_TESSEL_CFG_MASTER_ENABLE_CONFIG_EVENT, ",'Disabled','Enabled','Disabled','Enabled'"},
        {tessel_cfg_if_apply_master_nonnegotiated, [] { return cfg_event_u32(CREATE, 1); }, "10.0.0.1",
         PTP_TRACE_TESSEL_CFG_MASTER_NONNEGOTIATED_UNICAST_CONFIG,
         ",'[Not set]','Non-negotiated','[Not set]','Non-negotiated'"},
        {tessel_cfg_if_apply_master_multicast, [] { return cfg_event_u32(CREATE, PTP_TRANSPORT_MIXED); }, "10.0.0.1",
         PTP_TRACE_TESSEL_CFG_MASTER_MULTICAST_CONFIG_EVENT, ",'Not set  -> Mixed-mode','Not set  -> Mixed-mode'"},
        {tessel_cfg_if_apply_master_delay_asymmetry,
         [] {
             return cfg_event_tuple(CREATE, {{1, 1500, ""}, {1, 0, ""}});
         },
         "10.0.0.1", PTP_TRACE_TESSEL_CFG_MASTER_DELAY_ASYMMETRY_CONFIG, ""},
        {tessel_cfg_if_apply_slave_nonnegotiated, [] { return cfg_event_u32(CREATE, 1); }, "10.0.0.2",
         PTP_TRACE_TESSEL_CFG_SLAVE_NONNEGOTIATED_UNICAST_CONFIG,
         ",'Negotiated','Non-negotiated','Negotiated','Non-negotiated'"},
    };
    // The records of one point (the key check traces that the interface manager does not know it).
    auto records_of = [](const ptp_trace_point_type &point) {
        char id[32];
        std::snprintf(id, sizeof id, "0x%llx(", static_cast<unsigned long long>(ptp_trace_point_id(point)));
        std::vector<std::string> out;
        for (const std::string &r : jotlog_test_records("ptp/tessel/det", "'")) {
            if (r.rfind(id, 0) == 0) {
                out.push_back(r.substr(std::strlen(id)));
            }
        }
        return out;
    };
    for (const trace_case &c : cases) {
        SCOPED_TRACE(c.point.number);
        ASSERT_EQ(run_apply(c.fn, c.event(), cfg_args_addr(IF, 2, c.address)), 0u);
        EXPECT_EQ(records_of(c.point),
                  std::vector<std::string>{std::string("'IPv4 ") + c.address + "','Create'" + c.args + ")"});
    }
    // One batch: its first item alone writes a record.
    uint32_t batch_state = 0;
    bgen_args_td key = cfg_args_addr(IF, 2, "10.0.0.3");
    cfg_event_type first = cfg_event_u32(CREATE, 0);
    cfg_event_type second = cfg_event_u32(CREATE, 7);
    ASSERT_EQ(tessel_cfg_if_apply_master_enable(cfg_event_info(first), &batch_state, &key), 0u);
    ASSERT_EQ(tessel_cfg_if_apply_master_priority(cfg_event_info(second), &batch_state, &key), 0u);
    EXPECT_EQ(records_of(PTP_TRACE_TESSEL_CFG_MASTER_ENABLE_CONFIG_EVENT).size(), 2u);
    EXPECT_TRUE(records_of(PTP_TRACE_TESSEL_CFG_MASTER_PRIORITY).empty());
    ptp_jotlog_ctx_set({}, {}, {});
    ptp_jotlog_close(buffers, 3);
    jotlog_test_run_dir_remove(run_dir);
}

TEST_F(CfgTableTest, DeletingTheLastItemOfAnUnusedRecordAsksForTheSweep)
{
    const bgen_args_td key = cfg_args_addr(IF, 2, "10.0.0.1");
    ASSERT_EQ(run_apply(tessel_cfg_if_apply_master_nonnegotiated, cfg_event_u32(CREATE, 1), key), 0u);
    tessel_ipc_idb_type *idb = cfg_idb(IF);
    tessel_master_db_type *own = find(&idb->if_config.master_table, v4("10.0.0.1"));
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->flags, TESSEL_MASTER_DB_NON_NEGOTIATED | TESSEL_MASTER_DB_NON_NEGOTIATED_SET);
    EXPECT_FALSE(tessel_cfg_sweep_needed);
    ASSERT_EQ(run_apply(tessel_cfg_if_apply_master_nonnegotiated, cfg_event_delete(), key), 0u);
    EXPECT_TRUE(tessel_cfg_sweep_needed);
    EXPECT_NE(idb->flags & TESSEL_IPC_FLAG_UPDATE_DELETED, 0u);
}

// ---- Own entries against the profile's ----

class CfgTableProfileTest : public CfgTableTest {
protected:
    tessel_prf_db_type *prf = nullptr;
    tessel_ipc_idb_type *idb = nullptr;

    void SetUp() override
    {
        CfgTableTest::SetUp();
        make();
    }
    void make()
    {
        ASSERT_EQ(tessel_cfg_get_prf_db("p", &prf), 0u);
        for (const char *a : {"10.0.0.1", "10.0.0.2", "10.0.0.3"}) {
            profile_master(a);
        }
        idb = cfg_idb(IF);
        cfg_event_type e = cfg_event_text(CREATE, "p");
        bgen_args_td args = cfg_args_name(IF);
        uint32_t batch_state = 0;
        ASSERT_EQ(tessel_cfg_if_apply_profile(cfg_event_info(e), &batch_state, &args), 0u);
    }
    void profile_master(const char *addr)
    {
        zerrno result = 0;
        cfg_event_type e = cfg_event_u32(CREATE, 0);
        bgen_args_td args = cfg_args_addr("p", 2, addr);
        tessel_cfg_gl_prf_notify_master_enable(cfg_event_info(e), &result, &args);
        ASSERT_EQ(result, 0u);
    }
};

TEST_F(CfgTableProfileTest, FirstOwnEntryReplacesTheProfilesAndTheLastBringsThemBack)
{
    // Attaching took the whole profile table.
    EXPECT_EQ(master_addresses(&idb->applied_config.master_table),
              (std::vector<std::string>{"IPv4 10.0.0.1", "IPv4 10.0.0.2", "IPv4 10.0.0.3"}));

    const bgen_args_td key = cfg_args_addr(IF, 2, "192.0.2.9");
    ASSERT_EQ(run_apply(tessel_cfg_if_apply_master_enable, cfg_event_u32(CREATE, 0), key), 0u);
    EXPECT_EQ(master_addresses(&idb->applied_config.master_table), std::vector<std::string>{"IPv4 192.0.2.9"});

    // While the interface has own entries, profile changes do not reach it.
    profile_master("10.0.0.4");
    EXPECT_EQ(master_addresses(&idb->applied_config.master_table), std::vector<std::string>{"IPv4 192.0.2.9"});

    ASSERT_EQ(run_apply(tessel_cfg_if_apply_master_enable, cfg_event_delete(), key), 0u);
    EXPECT_EQ(master_addresses(&idb->applied_config.master_table),
              (std::vector<std::string>{"IPv4 10.0.0.1", "IPv4 10.0.0.2", "IPv4 10.0.0.3", "IPv4 10.0.0.4"}));
    EXPECT_FALSE(tessel_cfg_sweep_needed); // the profile keeps the record
}

TEST_F(CfgTableProfileTest, ProfileEntryChangesFollowOneByOne)
{
    ASSERT_EQ(tessel_master_db_count(&idb->applied_config.master_table), 3u);
    idb->flags = 0;

    // A profile entry's priority reaches the applied entry, and the interface is merged once.
    zerrno result = 0;
    cfg_event_type e = cfg_event_u32(SET, 3);
    bgen_args_td args = cfg_args_addr("p", 2, "10.0.0.2");
    tessel_cfg_gl_prf_notify_master_priority(cfg_event_info(e), &result, &args);
    ASSERT_EQ(result, 0u);
    tessel_master_db_type *applied = find(&idb->applied_config.master_table, v4("10.0.0.2"));
    ASSERT_NE(applied, nullptr);
    EXPECT_EQ(applied->priority, 3u);
    EXPECT_EQ(applied->flags, TESSEL_MASTER_DB_ENABLE_SET | TESSEL_MASTER_DB_PRIORITY_SET);
    EXPECT_NE(idb->flags & TESSEL_IPC_FLAG_UPDATE_MASTER_TABLE, 0u);

    // An unchanged entry merges to no change.
    EXPECT_EQ(tessel_cfg_if_merge_master_entry(idb, &applied->address), 0u);

    // A profile entry removed leaves the applied table.
    cfg_event_type d = cfg_event_delete();
    bgen_args_td args1 = cfg_args_addr("p", 2, "10.0.0.1");
    tessel_cfg_gl_prf_notify_master_enable(cfg_event_info(d), &result, &args1);
    EXPECT_EQ(master_addresses(&idb->applied_config.master_table),
              (std::vector<std::string>{"IPv4 10.0.0.2", "IPv4 10.0.0.3"}));
}

TEST_F(CfgTableProfileTest, EntriesThePlatformCannotCarryAreIgnored)
{
    zerrno result = 0;
    cfg_event_type e = cfg_event_u32(CREATE, 0);
    bgen_args_td args = cfg_args_addr("p", 3, "2001:db8::7");
    caps(NO_IPV6);
    make();
    qor_errmsg_capture_clear();
    tessel_cfg_gl_prf_notify_master_enable(cfg_event_info(e), &result, &args);
    ASSERT_EQ(result, 0u);
    std::vector<std::string> texts;
    for (const qor_captured_msg &m : qor_errmsg_captured()) {
        texts.push_back(m.text);
    }
    EXPECT_EQ(texts, std::vector<std::string>{
                         "Profile master table configuration ignored as it is not supported on interface Gi0/0/0/1"});
    EXPECT_EQ(master_addresses(&idb->applied_config.master_table).size(), 3u);

    // Without slave capability no profile master reaches the applied table.
    caps(NO_SLAVE);
    make();
    EXPECT_EQ(tessel_master_db_count(&idb->applied_config.master_table), 0u);
    EXPECT_EQ(tessel_cfg_if_merge_master_entry(idb, nullptr), 0u);
}

TEST_F(CfgTableProfileTest, SlaveTableFollowsTheSameRules)
{
    zerrno result = 0;
    cfg_event_type e = cfg_event_u32(CREATE, 0);
    bgen_args_td args = cfg_args_addr("p", 2, "10.1.0.1");
    tessel_cfg_gl_prf_notify_slave_nonnegotiated(cfg_event_info(e), &result, &args);
    ASSERT_EQ(result, 0u);
    EXPECT_EQ(tessel_slave_db_count(&idb->applied_config.slave_table), 1u);
    EXPECT_NE(idb->flags & TESSEL_IPC_FLAG_UPDATE_SLAVE_TABLE, 0u);

    // An own slave replaces the profile's; its delete brings them back.
    const bgen_args_td key = cfg_args_addr(IF, 2, "10.1.0.9");
    idb->flags |= TESSEL_IPC_FLAG_ENABLED;
    debug_capture_clear();
    ASSERT_EQ(run_apply(tessel_cfg_if_apply_slave_nonnegotiated, cfg_event_u32(CREATE, 0), key), 0u);
    tessel_slave_db_type *s = nullptr;
    ASSERT_EQ(tessel_slave_db_count(&idb->applied_config.slave_table), 1u);
    const ptp_address_type own_addr = v4("10.1.0.9");
    ASSERT_EQ(tessel_slave_db_find(&idb->applied_config.slave_table, &own_addr, &s), 0u);
    EXPECT_EQ(s->flags, TESSEL_SLAVE_DB_CONFIGURED | TESSEL_SLAVE_DB_NON_NEGOTIATED);
    EXPECT_EQ(cfg_debug_lines(), std::vector<std::string>{"CONFIG: Gi0/0/0/1: Slave IPv4 10.1.0.9 non-negotiated "
                                                          "unicast config Create event: Negotiated -> "
                                                          "Non-negotiated. Applied config: Negotiated -> "
                                                          "Non-negotiated"});
    EXPECT_EQ(cfg_fake.if_update_add, std::vector<std::string>{IF});
    ASSERT_EQ(run_apply(tessel_cfg_if_apply_slave_nonnegotiated, cfg_event_delete(), key), 0u);
    EXPECT_EQ(tessel_slave_db_count(&idb->applied_config.slave_table), 1u);
    EXPECT_EQ(tessel_slave_db_count(&idb->if_config.slave_table), 0u);
}

} // namespace
