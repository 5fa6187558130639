// The MIB plug-ins in a host: load and unload, every table and column from fixtures (GET, a
// GETNEXT walk across the tables, SET), the 5-second caches on virtual time.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "nodra_test.h"
#include "plat_clock_test.h"
#include "ptp_pd_mib.h"
#include "qor_log.h"
#include "zelvoPtpmib_fixture.h"

namespace {

std::string golden(const char *name)
{
    std::ifstream in(std::string(ZELVO_PTP_MIB_GOLDEN_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void expect_golden(const char *name, const std::string &out)
{
    const char *update = getenv("PTP_MIB_GOLDEN_UPDATE");
    if (update != nullptr && std::string(update) == "1") {
        std::ofstream(std::string(ZELVO_PTP_MIB_GOLDEN_DIR) + "/" + name, std::ios::binary) << out;
        return;
    }
    EXPECT_EQ(out, golden(name)) << name;
}

snmp_oid_arcs under(const snmp_oid_arcs &root, std::initializer_list<uint32_t> arcs)
{
    snmp_oid_arcs a = root;
    a.insert(a.end(), arcs);
    return a;
}

using MibFrameTest = MibTest;

TEST_F(MibFrameTest, TwoLoadsRegisterOnceAndAnUnloadRemovesEveryRegistration)
{
    load(MIB_V1);
    load(MIB_V1);
    EXPECT_EQ(snmp_host_root_registrations(), 1u);
    EXPECT_EQ(snmp_host_debug_registrations(), 1u);
    EXPECT_EQ(snmp_host_trap_enable_registrations(), 8u);
    EXPECT_TRUE(ptp_pd_mib_test_initialised());
    EXPECT_EQ(nodra_test_open_bindings(), 2u); // the host's trap-enable binding and the plug-in's
    unload(MIB_V1);
    EXPECT_EQ(snmp_host_root_registrations(), 0u);
    EXPECT_EQ(snmp_host_trap_enable_registrations(), 0u);
    EXPECT_FALSE(ptp_pd_mib_test_initialised());
    EXPECT_EQ(nodra_test_open_bindings(), 1u);
}

// A load step that fails is reported and the load goes on: without the database library there is
// no binding (only the constant rows answer), without a supported platform library no table that
// it feeds.
TEST_F(MibFrameTest, AFailedLoadStepIsReportedAndTheOthersStillRun)
{
    struct failure_case {
        const char *library;
        zerrno pd_rc;
        uint32_t pd_result;
        std::string text;
    };
    const std::vector<failure_case> cases = {
        {"/nonexistent/libnodra.so", 0, 0, "PTP MIB DLL error: Failed to bind to nodra: "},
        {nullptr, 0x47f28400, 0, "PTP MIB DLL error: Failed to initialize PD MIB DLL: "},
        {nullptr, 0, 2, "PTP MIB DLL error: Unsupported PT MIB DLL Version"},
    };
    for (const failure_case &c : cases) {
        if (c.library != nullptr) {
            nodra_test_set_client_library_path(c.library);
        }
        ptp_pd_mib_test_set_init(c.pd_rc, c.pd_result);
        qor_errmsg_capture_clear();
        load(MIB_V1);
        std::vector<std::string> texts;
        for (const qor_captured_msg &m : qor_errmsg_captured()) {
            texts.push_back(m.text);
        }
        ASSERT_EQ(texts.size(), 1u) << c.text;
        EXPECT_EQ(texts[0].substr(0, c.text.size()), c.text);
        EXPECT_EQ(snmp_host_root_registrations(), 1u) << c.text;
        EXPECT_EQ(snmp_host_debug_registrations(), 1u) << c.text;
        unload(MIB_V1);
        nodra_test_set_client_library_path("/proc/self/exe");
        ptp_pd_mib_test_reset();
    }
}

TEST_F(MibFrameTest, BothPlugInsLoadIntoOneHostAndExportOnlyTheirDocumentedNames)
{
    load(MIB_V1);
    load(MIB_V2);
    EXPECT_EQ(snmp_host_roots(), (std::vector<snmp_oid_arcs>{MIB_V1_ROOT, MIB_V2_ROOT}));
    // The constant rows answer in both, each from its own code.
    snmp_host_binding b;
    ASSERT_EQ(snmp_host_get(under(MIB_V1_ROOT, {1, 1, 4, 0}), &b), SNMP_NO_ERROR);
    EXPECT_EQ(b.value.number, 3);
    ASSERT_EQ(snmp_host_get(under(MIB_V2_ROOT, {1, 1, 2, 1, 2, 2}), &b), SNMP_NO_ERROR);
    EXPECT_EQ(b.value.number, 1);

    for (const char *module : {MIB_V1, MIB_V2}) {
        const std::string command = std::string("nm -D --defined-only ") + mib_path(module);
        FILE *nm = popen(command.c_str(), "r");
        ASSERT_NE(nm, nullptr);
        std::set<std::string> names;
        char line[512];
        while (fgets(line, sizeof line, nm) != nullptr) {
            char address[64], type[8], name[400];
            if (sscanf(line, "%63s %7s %399s", address, type, name) == 3 && name[0] != '_') {
                names.insert(name);
            }
        }
        pclose(nm);
        const std::string m = module;
        const std::string t = m == MIB_V1 ? "zPtp" : "zPtpv2";
        const std::string g = m == MIB_V1 ? "zelvoPtpMIB" : "zelvoPtpMIBv2";
        std::set<std::string> expected = {"init_" + m,        m + "_oid_table",    m + "_OidList",    m + "_OidListNum",
                                          m + "_debug_flags", m + "_capabilities", m + "_trapstrings"};
        for (const char *table :
             {"System", "SystemDomain", "ClockNode", "ClockCurrentDS", "ClockParentDS", "ClockDefaultDS",
              "ClockRunning", "ClockTimePropertiesDS", "ClockTransDefaultDS", "ClockPort", "ClockPortDS",
              "ClockPortRunning", "ClockPortTransDS", "ClockPortAssociate"}) {
            expected.insert(t + table + "Entry_get");
            expected.insert("k_" + t + table + "Entry_get");
        }
        for (const char *fn : {"SystemInfo_get", "NotificationControl_get", "NotificationControl_free",
                               "NotificationControl_test", "NotificationControl_set"}) {
            expected.insert(g + fn);
        }
        for (const char *fn : {"SystemInfo_get", "NotificationControl_get", "NotificationControl_test",
                               "NotificationControl_ready", "NotificationControl_set"}) {
            expected.insert("k_" + g + fn);
        }
        EXPECT_EQ(names, expected) << module;
    }
}

TEST_F(MibFrameTest, AWalkOfEachModuleAnswersEveryTableAndColumnFromTheFixtures)
{
    mib_store_chassis(this);
    load(MIB_V1);
    load(MIB_V2);
    expect_golden("walk_v1.txt", mib_walk(MIB_V1_ROOT));
    expect_golden("walk_v2.txt", mib_walk(MIB_V2_ROOT));
}

// The answer to a GETNEXT, as text: the instance found, or what follows the column.
std::string next_of(const snmp_oid_arcs &name)
{
    snmp_host_binding b;
    if (snmp_host_getnext(name, &b) != SNMP_NO_ERROR) {
        return "end";
    }
    return snmp_oid_text(b.name);
}

std::string get_of(const snmp_oid_arcs &name)
{
    snmp_host_binding b;
    const int rc = snmp_host_get(name, &b);
    return rc == SNMP_NO_ERROR ? mib_binding_text(b) : "none";
}

const snmp_oid_arcs PRIORITY1 = under(MIB_V1_ROOT, {1, 2, 2, 1, 9});  // zPtpClockParentDSGMClockPriority1
const snmp_oid_arcs PRIORITY2 = under(MIB_V1_ROOT, {1, 2, 2, 1, 10}); // the column after it
const snmp_oid_arcs PORT_NAME = under(MIB_V1_ROOT, {1, 2, 7, 1, 5});  // zPtpClockPortName
const snmp_oid_arcs PORT_ROLE = under(MIB_V1_ROOT, {1, 2, 7, 1, 6});  // the column after it

snmp_oid_arcs at(const snmp_oid_arcs &column, std::initializer_list<uint32_t> instance)
{
    return under(column, instance);
}

using MibTableTest = MibTest;

TEST_F(MibTableTest, ASingleRowAnswersItsInstanceAndIsTheSuccessorOfEveryRequestBelowIt)
{
    mib_store_chassis(this);
    load(MIB_V1);
    const std::string row = snmp_oid_text(at(PRIORITY1, {24, 2, 0}));
    const std::string after = snmp_oid_text(at(PRIORITY2, {24, 2, 0}));
    struct next_case {
        snmp_oid_arcs request;
        std::string answer;
    };
    const std::vector<next_case> cases = {
        {PRIORITY1, row},
        {at(PRIORITY1, {23, 1, 0}), row},
        {at(PRIORITY1, {24, 0, 0}), row},
        {at(PRIORITY1, {24, 2}), row},
        {at(PRIORITY1, {23, 5, 0}), row}, // 24.2.0 is the lexicographic successor of 23.5.0
        {at(PRIORITY1, {24, 2, 0}), after},
        {at(PRIORITY1, {24, 2, 1}), after},
        {at(PRIORITY1, {24, 3}), after},
        {at(PRIORITY1, {25}), after},
        {at(PRIORITY1, {24, 1, 0xffffffffu}), row}, // the carry moves on to the clock type
    };
    for (const next_case &c : cases) {
        EXPECT_EQ(next_of(c.request), c.answer) << snmp_oid_text(c.request);
    }
    EXPECT_EQ(get_of(at(PRIORITY1, {24, 2, 0})), row + " = INTEGER: 1");
    for (const snmp_oid_arcs &none :
         {at(PRIORITY1, {24, 1, 0}), at(PRIORITY1, {24, 2}), at(PRIORITY1, {24, 2, 0, 0})}) {
        EXPECT_EQ(get_of(none), "none") << snmp_oid_text(none);
    }
}

TEST_F(MibTableTest, ATreeTableAnswersTheNextPortInIndexOrderAcrossDomainsAndColumns)
{
    mib_store_chassis(this);
    load(MIB_V1);
    auto port = [](uint32_t p) { return snmp_oid_text(at(PORT_NAME, {24, 2, 0, p})); };
    const std::string after = snmp_oid_text(at(PORT_ROLE, {24, 2, 0, 1}));
    struct next_case {
        snmp_oid_arcs request;
        std::string answer;
    };
    const std::vector<next_case> cases = {
        {at(PORT_NAME, {24, 2, 0, 0}), port(1)}, // port numbers start at 1
        {at(PORT_NAME, {24, 2, 0, 1}), port(2)}, {at(PORT_NAME, {24, 2, 0, 2}), port(5)},
        {at(PORT_NAME, {24, 2, 0, 3}), port(5)}, {at(PORT_NAME, {24, 2, 0, 5}), after},
        {at(PORT_NAME, {24, 1, 7, 9}), port(1)}, // below clock type 2 every port of the domain follows
        {at(PORT_NAME, {23, 9, 0, 0}), port(1)}, // above it, the next domain's first port
        {at(PORT_NAME, {24, 2, 1}), after},      {at(PORT_NAME, {24, 2, 0, 1, 7}), port(2)},
        {at(PORT_NAME, {24}), port(1)},
    };
    for (const next_case &c : cases) {
        EXPECT_EQ(next_of(c.request), c.answer) << snmp_oid_text(c.request);
    }
    EXPECT_EQ(get_of(at(PORT_NAME, {24, 2, 0, 5})), port(5) + " = STRING: \"GigabitEthernet0/0/0/3\"");
    EXPECT_EQ(get_of(at(PORT_NAME, {24, 2, 0, 3})), "none");
    EXPECT_EQ(get_of(at(PORT_NAME, {24, 2, 0})), "none");
}

// The getters themselves, not only through the host (which would pass over a wrong answer).
TEST_F(MibTableTest, ANextSearchNeverAnswersTheRequestedInstanceOrOneBelowIt)
{
    mib_store_chassis(this);
    load(MIB_V1);
    void *dl = dlopen(mib_path(MIB_V1), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(dl, nullptr);
    auto *list = static_cast<ObjectInfo *>(dlsym(dl, "zelvoPtpmib_OidList"));
    auto count = *static_cast<const uint32_t *>(dlsym(dl, "zelvoPtpmib_OidListNum"));
    ASSERT_NE(list, nullptr);
    // Every instance of the walk, asked again with NEXT, answers something after it.
    const std::string walk = mib_walk(MIB_V1_ROOT);
    std::istringstream lines(walk);
    std::string line;
    int asked = 0;
    while (std::getline(lines, line)) {
        snmp_oid_arcs name = snmp_oid_parse(line.substr(0, line.find(' ')).c_str());
        for (uint32_t i = 0; i < count; ++i) {
            const snmp_oid_arcs column(list[i].oid.oid_ptr, list[i].oid.oid_ptr + list[i].oid.length);
            if (name.size() <= column.size() || !std::equal(column.begin(), column.end(), name.begin())) {
                continue;
            }
            OID incoming{static_cast<int32_t>(name.size()), name.data()};
            VarBind *vb = list[i].getter(&incoming, &list[i], SNMP_NEXT, nullptr, 1);
            if (vb != nullptr) {
                const snmp_oid_arcs answered(vb->name->oid_ptr, vb->name->oid_ptr + vb->name->length);
                EXPECT_LT(name, answered) << line;
                FreeVarBindList(vb);
            }
            ++asked;
        }
    }
    EXPECT_GT(asked, 80);
    dlclose(dl);
}

TEST_F(MibTableTest, RowsAreServedFromTheCachesForFiveSecondsThenReadAgain)
{
    mib_store_chassis(this);
    load(MIB_V1);
    const snmp_oid_arcs default_priority1 = at(under(MIB_V1_ROOT, {1, 2, 3, 1, 6}), {24, 2, 0});
    const snmp_oid_arcs port1 = at(PORT_NAME, {24, 2, 0, 1});
    EXPECT_EQ(get_of(default_priority1), snmp_oid_text(default_priority1) + " = INTEGER: 128");
    EXPECT_EQ(get_of(port1), snmp_oid_text(port1) + " = STRING: \"GigabitEthernet0/0/0/1\"");

    ptp_local_clock_info local = mib_local_clock(24, true);
    local.ClockProperties.Priority1 = 7;
    ptp_show_store_bag("/oper/ptp/node/1a0/local-clock", &local, ptp_local_clock_info_bag_getfn());
    ptp_if_info intf{};
    intf.Name = "GigabitEthernet0/0/0/1.100";
    intf.internal_port_number = 1;
    agent(1, "/oper/ptp/interface/if/").add("GigabitEthernet0/0/0/1", &intf, ptp_if_info_bag_getfn());

    ASSERT_EQ(plat_clock_advance_ms(4999), 0u);
    EXPECT_EQ(get_of(default_priority1), snmp_oid_text(default_priority1) + " = INTEGER: 128");
    EXPECT_EQ(get_of(port1), snmp_oid_text(port1) + " = STRING: \"GigabitEthernet0/0/0/1\"");
    ASSERT_EQ(plat_clock_advance_ms(1), 0u);
    EXPECT_EQ(get_of(default_priority1), snmp_oid_text(default_priority1) + " = INTEGER: 7");
    EXPECT_EQ(get_of(port1), snmp_oid_text(port1) + " = STRING: \"GigabitEthernet0/0/0/1.100\"");
}

// The port table asks for the local clock on every request, the other port tables only when
// they build: once no clock is active, its cached ports are no longer answered.
TEST_F(MibTableTest, ThePortTableAnswersNothingOnceNoClockIsActiveThoughItsCacheHoldsThePorts)
{
    mib_store_chassis(this);
    load(MIB_V1);
    const snmp_oid_arcs port1 = at(PORT_NAME, {24, 2, 0, 1});
    const snmp_oid_arcs ds_port1 = at(under(MIB_V1_ROOT, {1, 2, 8, 1, 6}), {24, 2, 0, 1}); // port identity
    EXPECT_EQ(get_of(port1), snmp_oid_text(port1) + " = STRING: \"GigabitEthernet0/0/0/1\"");
    const std::string ds = get_of(ds_port1);
    ASSERT_NE(ds, "none");

    ptp_local_clock_info idle = mib_local_clock(24, false);
    ptp_show_store_bag("/oper/ptp/node/1a0/local-clock", &idle, ptp_local_clock_info_bag_getfn());
    EXPECT_EQ(get_of(port1), "none");
    EXPECT_EQ(get_of(ds_port1), ds);
}

TEST_F(MibTableTest, TheFirstActiveClockInNodeOrderWinsAndWithoutOneOnlyTheConstantRowsAnswer)
{
    load(MIB_V1);
    const std::string constants = snmp_oid_text(under(MIB_V1_ROOT, {1, 1, 2, 1, 2, 2})) + " = Gauge32: 1\n" +
                                  snmp_oid_text(under(MIB_V1_ROOT, {1, 1, 4, 0})) + " = INTEGER: 3\n";
    EXPECT_EQ(mib_walk(MIB_V1_ROOT), constants);

    ptp_local_clock_info idle = mib_local_clock(24, false);
    ptp_show_store_bag("/oper/ptp/node/1a0/local-clock", &idle, ptp_local_clock_info_bag_getfn());
    ptp_local_clock_info active = mib_local_clock(7, true);
    ptp_show_store_bag("/oper/ptp/node/2b1/local-clock", &active, ptp_local_clock_info_bag_getfn());
    active.Domain = 9;
    ptp_show_store_bag("/oper/ptp/node/3c2/local-clock", &active, ptp_local_clock_info_bag_getfn());
    ASSERT_EQ(plat_clock_advance_s(5), 0u);
    const snmp_oid_arcs priority1 = under(MIB_V1_ROOT, {1, 2, 3, 1, 6});
    EXPECT_EQ(next_of(priority1), snmp_oid_text(at(priority1, {7, 2, 0})));
}

TEST_F(MibTableTest, TheSystemRowAnswersItsLastBuildWhenARebuildFails)
{
    mib_store_chassis(this);
    load(MIB_V1);
    const snmp_oid_arcs total = at(under(MIB_V1_ROOT, {1, 1, 1, 1, 3}), {24, 0});
    EXPECT_EQ(get_of(total), snmp_oid_text(total) + " = Gauge32: 5");
    ptp_show_store_garbage("/oper/ptp/node/2b1/summary");
    ASSERT_EQ(plat_clock_advance_s(5), 0u);
    EXPECT_EQ(get_of(total), snmp_oid_text(total) + " = Gauge32: 5");
    // The other tables answer nothing without their data.
    ptp_show_store_garbage("/oper/ptp/node/2b1/packet-counters");
    const snmp_oid_arcs sent = at(under(MIB_V1_ROOT, {1, 2, 4, 1, 5}), {24, 2, 0});
    EXPECT_EQ(get_of(sent), "none");
}

TEST_F(MibTableTest, WithoutThePlatformLibraryTheTablesItFeedsAnswerNothing)
{
    ptp_pd_mib_test_set_init(0, 1); // a library of a version the plug-in does not support
    mib_store_chassis(this);
    load(MIB_V1);
    EXPECT_EQ(get_of(at(under(MIB_V1_ROOT, {1, 2, 1, 1, 4}), {24, 2, 0})), "none");
    EXPECT_EQ(get_of(at(under(MIB_V1_ROOT, {1, 2, 4, 1, 4}), {24, 2, 0})), "none");
    EXPECT_NE(get_of(at(PRIORITY1, {24, 2, 0})), "none");
}

TEST_F(MibTableTest, OnlyTheNotificationControlIsWritableAndNoWriteTakesEffect)
{
    load(MIB_V1);
    load(MIB_V2);
    auto value = [](int64_t v) {
        snmp_host_value x;
        x.type = SNMP_INTEGER_TYPE;
        x.number = v;
        return x;
    };
    struct set_case {
        snmp_oid_arcs name;
        int64_t value;
        int status;
    };
    const std::vector<set_case> cases = {
        {under(MIB_V1_ROOT, {1, 3, 1, 0}), 1, SNMP_COMMIT_FAILED_ERROR},
        {under(MIB_V1_ROOT, {1, 3, 1, 0}), 2, SNMP_COMMIT_FAILED_ERROR},
        {under(MIB_V1_ROOT, {1, 3, 1, 0}), 3, SNMP_WRONG_VALUE_ERROR},
        {under(MIB_V1_ROOT, {1, 3, 1, 1}), 1, SNMP_NO_CREATION_ERROR},
        {under(MIB_V1_ROOT, {1, 1, 4, 0}), 3, SNMP_NOT_WRITABLE_ERROR},
        {under(MIB_V2_ROOT, {1, 3, 1, 0}), 1, SNMP_GEN_ERROR},
        {under(MIB_V2_ROOT, {1, 3, 1, 1}), 1, SNMP_NO_CREATION_ERROR},
        {under(MIB_V2_ROOT, {1, 2, 7, 1, 5, 24, 2, 0, 1}), 1, SNMP_NOT_WRITABLE_ERROR},
    };
    for (const set_case &c : cases) {
        EXPECT_EQ(snmp_host_set(c.name, value(c.value)), c.status) << snmp_oid_text(c.name) << " = " << c.value;
    }
    EXPECT_EQ(get_of(under(MIB_V1_ROOT, {1, 3, 1, 0})), "none");
}

} // namespace
