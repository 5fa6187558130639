// libbagwright as the bag facility sees it: loaded by path, read through its exports, its help
// texts fetched with bag_fetch_string (this program's own, exported to the library).
#include "ptp_bags.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using fetch_fn = zerrno (*)(const char *, const bag_description_row *, uint32_t, const char **);

class Bagwright : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        lib = dlopen(BAGWRIGHT_LIB, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(lib, nullptr) << dlerror();
    }
    template <typename T>
    static T sym(const std::string &name)
    {
        return reinterpret_cast<T>(dlsym(lib, name.c_str()));
    }
    static const bag_description_row *rows(const std::string &type, uint32_t *count)
    {
        const auto *n = sym<const uint32_t *>("bag_row_count_" + type + "_2_6");
        *count = n != nullptr ? *n : 0;
        return sym<const bag_description_row *>("bag_rows_" + type + "_2_6");
    }
    static std::string fetch(const std::string &type, const char *name)
    {
        auto f = sym<fetch_fn>("bag_fetch_" + type + "_2_6");
        if (f == nullptr)
            return "<no fetch function>";
        const char *d = nullptr;
        zerrno rc = f(name, nullptr, 0, &d);
        return rc == ZERR_OK ? std::string(d) : "<" + std::to_string(rc) + ">";
    }
    // Every table the library holds: the described record types, the enumerations and the
    // subtype lists of the bags with nested types.
    static std::vector<std::string> tables()
    {
        std::vector<std::string> out;
        uint32_t n = 0;
        const ptp_bag_definition_type *defs = ptp_bag_definitions(&n);
        for (uint32_t i = 0; i < n; ++i)
            if (strchr(defs[i].text, '{') != nullptr)
                out.emplace_back(defs[i].type_name);
        const ptp_bag_enum_type *enums = ptp_bag_enums(&n);
        for (uint32_t i = 0; i < n; ++i)
            out.emplace_back(enums[i].name);
        for (uint32_t b = 0; b < PTP_BAG_COUNT; ++b)
            if (strchr(ptp_bag_catalogue()[b]->schema, ';')[1] == '$')
                out.push_back(std::string(ptp_bag_catalogue()[b]->name) + "_subtypes");
        return out;
    }
    static inline void *lib = nullptr;
};

TEST_F(Bagwright, ExportsTheBagListSchemasAndVersionsOfTheCatalogue)
{
    EXPECT_STREQ(*sym<const char *const *>("bag_filename"), "ptp");
    ASSERT_NE(sym<const uint32_t *>("bag_ptp_bag_count"), nullptr);
    ASSERT_EQ(*sym<const uint32_t *>("bag_ptp_bag_count"), 30u);
    const auto *names = sym<const char *const *>("bag_ptp_bags");
    ASSERT_NE(names, nullptr);
    for (uint32_t b = 0; b < PTP_BAG_COUNT; ++b) {
        const bag_descriptor_type *d = ptp_bag_catalogue()[b];
        SCOPED_TRACE(d->name);
        EXPECT_STREQ(names[b], d->name);
        EXPECT_STREQ(d->library, "libbagwright.dll");
        const auto *code = sym<const char *const *>(std::string("bag_bytecode_") + d->name);
        const auto *major = sym<const uint32_t *>(std::string("bag_major_version_") + d->name);
        const auto *minor = sym<const uint32_t *>(std::string("bag_minor_version_") + d->name);
        ASSERT_TRUE(code != nullptr && major != nullptr && minor != nullptr);
        EXPECT_EQ(*major, 2u);
        EXPECT_EQ(*minor, 6u);
        EXPECT_STREQ(*code, d->schema);
    }
    EXPECT_STREQ(
        *sym<const char *const *>("bag_bytecode_ptp_summary_info"),
        "$159={PortStateInitCount}D{PortStateListeningCount}D{PortStatePassiveCount}D"
        "{PortStatePreMasterCount}D{PortStateMasterCount}D{PortStateSlaveCount}D"
        "{PortStateUncalibratedCount}D{PortStateFaultyCount}D{TotalInterfaces}D{TotalInterfacesValidPortNum}D;");
}

// The processes and the library agree on every bag: the library's schema implies the layout the
// processes register, and a bag a process encodes decodes through the library's schema to the
// same record.
TEST_F(Bagwright, EveryBagDecodesThroughTheLibrarysSchemaAsThroughTheProcesses)
{
    ASSERT_EQ(bag_register_all_ptp_bags(), ZERR_OK);
    for (uint32_t b = 0; b < PTP_BAG_COUNT; ++b) {
        const bag_descriptor_type *d = ptp_bag_catalogue()[b];
        SCOPED_TRACE(d->name);
        const char *code = *sym<const char *const *>(std::string("bag_bytecode_") + d->name);
        uint64_t size = 0, align = 0, offsets[128];
        uint32_t fields = 0;
        ASSERT_EQ(bag_schema_root_layout(code, &size, &align, offsets, 128, &fields), ZERR_OK);
        EXPECT_EQ(size, d->layout->size);

        bag_descriptor_type through_library = *d;
        through_library.schema = code;
        std::vector<uint8_t> record(d->layout->size, 0); // holds no pointer: encodes as it stands
        uint8_t *data = nullptr;
        uint32_t length = 0;
        ASSERT_EQ(bag_encode(record.data(), d, &data, &length), ZERR_OK);
        std::vector<uint8_t> a(d->layout->size, 0xA5), c(d->layout->size, 0x5A);
        EXPECT_EQ(bag_decode(data, length, a.data(), d), ZERR_OK);
        EXPECT_EQ(bag_decode(data, length, c.data(), &through_library), ZERR_OK);
        EXPECT_EQ(a, c);
        bag_free_indirections(a.data(), d);
        bag_free_indirections(c.data(), &through_library);
        free(data);
    }
    bag_registry_reset();
}

TEST_F(Bagwright, EveryTableIsSortedBySignedKeyWithUniqueHashKeysAndFetchesEachRow)
{
    std::vector<std::string> all = tables();
    EXPECT_EQ(all.size(), 108u);
    for (const std::string &t : all) {
        SCOPED_TRACE(t);
        uint32_t n = 0;
        const bag_description_row *r = rows(t, &n);
        ASSERT_NE(r, nullptr);
        ASSERT_GT(n, 0u);
        for (uint32_t i = 0; i < n; ++i) {
            EXPECT_EQ(r[i].key, bag_description_key(r[i].name)) << r[i].name;
            if (i > 0) {
                EXPECT_LT(static_cast<int32_t>(r[i - 1].key), static_cast<int32_t>(r[i].key)) << r[i].name;
            }
            EXPECT_EQ(fetch(t, r[i].name), r[i].description);
        }
        EXPECT_EQ(fetch(t, "NoSuchField"), "<" + std::to_string(bag_zerr(BAG_ZERR_NOT_FOUND)) + ">");
    }
}

TEST_F(Bagwright, ExampleRowsCountsAndOrder)
{
    struct row_case {
        const char *type;
        const char *name;
        const char *description;
    };
    const row_case cases[] = {
        {"ptp_bag_gl_config_errors", "Domain", "Domain not compatible with configured profile"},
        {"ptp_bag_gl_config_errors", "ptp_bag_gl_config_errors", "Global Configuration Errors"},
        {"ptp_bag_port_state", "%ids%",
         "0:INITIALIZING;1:LISTEN;2:PASSIVE;3:PRE_MASTER;4:MASTER;5:UNCALIBRATED;6:SLAVE;7:FAULTY;"},
        {"ptp_bag_port_state", "PRE_MASTER", "Pre master"},
        {"ptp_bag_clock_time_source", "%ids%",
         "0:Unknown;16:Atomic;32:GPS;48:TerrestrialRadio;64:PTP;80:NTP;96:HandSet;144:Other;160:InternalOscillator;"},
        {"ptp_trap_clock_class_subtypes", "97", "ptp_bag_ipv6_addr_type"},
        {"ptp_trap_clock_class_subtypes", "98", "ptp_bag_mac_addr_type"},
        {"ptp_trap_clock_class_subtypes", "104", "ptp_bag_address"},
        {"ptp_current_ds_info", "OffsetFromMaster", "Offset from master"},
        {"ptp_bag_foreign_clock", "PTSFLossSync", "PTSF loss sync"},
        {"ptp_if_info", "IPv4Address", "IPv4 address"},
        {"ptp_bag_address", "IPv6Address", "IPv6 address"},
    };
    for (const row_case &c : cases)
        EXPECT_EQ(fetch(c.type, c.name), c.description) << c.type << " " << c.name;
    // Internal (lower-case) fields are not described.
    EXPECT_EQ(fetch("ptp_default_ds_info", "profile"), "<" + std::to_string(bag_zerr(BAG_ZERR_NOT_FOUND)) + ">");

    struct count_case {
        const char *type;
        uint32_t count;
    };
    const count_case counts[] = {
        {"ptp_bag_gl_config_errors", 16},
        {"ptp_bag_port_state", 10},
        {"ptp_bag_config_errors", 49},
        {"ptp_bag_ipc_idb", 57},
        {"ptp_if_info", 44},
        {"ptp_bag_clock_time_source", 11},
        {"ptp_bag_address", 5},
        {"ptp_bag_proto_idb", 1},
        {"ptp_if_idb_info_subtypes", 24},
        {"ptp_trap_clock_class_subtypes", 3},
    };
    for (const count_case &c : counts) {
        uint32_t n = 0;
        rows(c.type, &n);
        EXPECT_EQ(n, c.count) << c.type;
    }

    // Signed order: "Domain" (0xa6b4da98) comes before "NetworkType" (0x4794738c).
    uint32_t n = 0;
    const bag_description_row *r = rows("ptp_bag_gl_config_errors", &n);
    int domain = -1, network = -1;
    for (uint32_t i = 0; i < n; ++i) {
        if (strcmp(r[i].name, "Domain") == 0)
            domain = static_cast<int>(i);
        if (strcmp(r[i].name, "NetworkType") == 0)
            network = static_cast<int>(i);
    }
    EXPECT_EQ(r[0].key, 0x8f661c7du);
    ASSERT_GE(domain, 0);
    EXPECT_LT(domain, network);
    EXPECT_EQ(bag_description_key("Domain"), 0xa6b4da98u);
    EXPECT_EQ(bag_description_key("%ids%"), 0x02d8d6cau);
    EXPECT_EQ(bag_description_key("96"), 0x0000078fu);
}

// The bag facility shows a bag through the library: each field with its help text, enumerations
// by name (a value the enumeration does not name as its number), internal fields without help.
TEST_F(Bagwright, TheBagFacilityShowsABagThroughTheLibrary)
{
    ASSERT_EQ(bag_library_load(BAGWRIGHT_LIB), ZERR_OK);
    ASSERT_EQ(bag_register_all_ptp_bags(), ZERR_OK);
    uint32_t priority = 128;
    ptp_port_ds_info ds{};
    ds.profile = PTP_BAG_PROFILE_G82751;
    ds.InterfaceName = "Gi0/1/0/1";
    ds.ClockID = 0x0200'5eff'fe10'0001;
    ds.PortNumber = 1;
    ds.PortState = PTP_BAG_PORT_STATE_SLAVE;
    ds.LogMinDelayReqInterval = -4;
    ds.PeerMeanPathDelay = 0;
    ds.LogAnnounceInterval = -3;
    ds.AnnoucneReceiptTimeout = 3;
    ds.LogSyncInterval = -4;
    ds.DelayMechanism = static_cast<ptp_bag_delay_mechanism>(7);
    ds.VersionNumber = 2;
    ds.LocalPriority = &priority;
    uint8_t *data = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(bag_encode(&ds, ptp_port_ds_info_bag_getfn(), &data, &length), ZERR_OK);
    // Shown alike whether this process registered the bag or only the library describes it.
    for (bool registered : {true, false}) {
        SCOPED_TRACE(registered ? "registered" : "described only");
        if (!registered)
            bag_registry_reset();
        std::string text;
        ASSERT_EQ(bag_to_text(data, length, &text), ZERR_OK);
        EXPECT_EQ(text, "ptp_port_ds_info  # Port DS Info\n"
                        "  profile: G82751 (2)\n"
                        "  InterfaceName: Gi0/1/0/1  # Interface name\n"
                        "  ClockID: 144219641647988737  # Clock ID\n"
                        "  PortNumber: 1  # Port number\n"
                        "  PortState: SLAVE (6)  # Port state\n"
                        "  LogMinDelayReqInterval: -4  # Log min delay req interval\n"
                        "  PeerMeanPathDelay: 0  # Peer mean path delay\n"
                        "  LogAnnounceInterval: -3  # Log announce interval\n"
                        "  AnnoucneReceiptTimeout: 3  # Annoucne receipt timeout\n"
                        "  LogSyncInterval: -4  # Log sync interval\n"
                        "  DelayMechanism: 7  # Delay mechanism\n"
                        "  LogMinPDelayReqInterval: 0  # Log min PDelay req interval\n"
                        "  VersionNumber: 2  # Version number\n"
                        "  LocalPriority: 128  # Local priority\n"
                        "  MasterOnly: (absent)  # Master only\n"
                        "  SignalFail: (absent)  # Signal fail\n");
    }
    free(data);
    bag_library_unload_all();
}

TEST_F(Bagwright, ALibraryThatCannotBeLoadedOrIsNoneIsRefused)
{
    EXPECT_EQ(bag_library_load("/nonexistent/libbagwright.so"), bag_zerr(BAG_ZERR_NO_LIBRARY));
    EXPECT_EQ(bag_library_load(""), bag_zerr(BAG_ZERR_INVALID_ARG));
    // A shared library that exports no bag list: libc.
    EXPECT_EQ(bag_library_load("libc.so.6"), bag_zerr(BAG_ZERR_BAD_LIBRARY));
}

} // namespace
