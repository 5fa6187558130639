// The global configuration as the operator commits it: every item's accepted value and each
// refused one with its code and text, the items refused while PTP is not enabled, the capability
// rules, the exclusivity of the two leap-second sources, the global enable first in a commit, the
// count of applied items, the replay at registration and the exit after the last item. The
// verifier's callbacks run on an event manager of their own, as in the process; commits come from
// the test thread through the in-process database.
#include "sardo_cfg.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "evm_test_thread.h"
#include "nodra_test.h"
#include "plat_clock_test.h"
#include "ptp_platform_test.h"
#include "ptp_zerr.h"
#include "qor_log.h"
#include "sardo_fakes.h"
#include "sardo_platform.h"
#include "tuple.h"

namespace {

// Every capability the rules ask for (bits 1 to 10) but "G.8265.1 needs a clock type" (bit 7).
constexpr uint16_t ALL_CAPS = 0x07fe & ~PTP_PLATFORM_CAP_G8265_LOCAL_CLOCK;
constexpr uint16_t G8265_NEEDS_TYPE = PTP_PLATFORM_CAP_G8265_LOCAL_CLOCK;

// A value as the operator commits it: a number, a tuple (fields, absent ones kind 0), a text, or
// none (a delete).
struct del_type {};
using tup = std::vector<tuple_field_type>;
using value_type = std::variant<uint32_t, tup, std::string, del_type>;
const value_type DELETE = del_type{};

tuple_field_type num(int32_t n)
{
    return {1, static_cast<uint32_t>(n), ""};
}
tuple_field_type txt(const char *s)
{
    return {2, 0, s};
}
const tuple_field_type ABSENT{0, 0, ""};

struct op_type {
    std::string path; // below "/cfg/gl/"
    value_type value;
};

nodra_commit_result_td commit(const std::vector<op_type> &ops)
{
    nodra_commit_td *c = nullptr;
    EXPECT_EQ(nodra_commit_create(&c), 0u);
    for (const op_type &o : ops) {
        const std::string path = "/cfg/gl/" + o.path;
        if (std::holds_alternative<del_type>(o.value)) {
            nodra_commit_delete(c, path.c_str());
        } else if (const uint32_t *n = std::get_if<uint32_t>(&o.value)) {
            nodra_commit_set(c, path.c_str(), NODRA_ITEM_DATATYPE_UINT32, n, sizeof *n);
        } else if (const tup *t = std::get_if<tup>(&o.value)) {
            std::vector<uint8_t> bytes;
            EXPECT_EQ(tuple_pack_fields(*t, &bytes), 0u);
            nodra_commit_set(c, path.c_str(), NODRA_ITEM_DATATYPE_PACKED, bytes.data(),
                             static_cast<uint32_t>(bytes.size()));
        } else {
            const std::string &s = std::get<std::string>(o.value);
            nodra_commit_set(c, path.c_str(), NODRA_ITEM_DATATYPE_STRING, s.data(), static_cast<uint32_t>(s.size()));
        }
    }
    nodra_commit_result_td result{};
    EXPECT_EQ(nodra_commit_apply(c, &result), 0u);
    nodra_commit_free(c);
    return result;
}

nodra_commit_result_td commit1(const std::string &path, const value_type &value)
{
    return commit({{path, value}});
}

void expect_applied(const nodra_commit_result_td &r)
{
    EXPECT_EQ(r.outcome, NODRA_COMMIT_RESULT_APPLIED);
    for (const nodra_commit_issue_td &f : r.failures) {
        ADD_FAILURE() << f.path << ": " << std::hex << f.code << " " << f.text;
    }
}

void expect_refused(const nodra_commit_result_td &r, zerrno code, const std::string &text)
{
    ASSERT_EQ(r.outcome, NODRA_COMMIT_RESULT_REJECTED);
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_EQ(r.failures[0].code, code) << std::hex << r.failures[0].code;
    EXPECT_EQ(r.failures[0].text, text);
}

class CfgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat_clock_use_virtual();
        ptp_zerr_register_all();
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();
        nodra_test_reset();
        nodra_test_set_client_library_path("/dev/null");
        sardo_fake_reset();
        set_caps(ALL_CAPS);
        start();
    }
    void TearDown() override
    {
        stop();
        sardo_platform_capability_shutdown();
        ptp_platform_test_reset();
        EXPECT_EQ(nodra_test_open_bindings(), 0u);
        nodra_test_set_client_library_path(nullptr);
        plat_clock_use_real();
    }

    static void set_caps(uint16_t flags, uint32_t version = 2, uint32_t hold_min = 60, uint32_t hold_max = 3600)
    {
        ptp_platform_test_set_scripted(true);
        ptp_platform_capability_info_type info{};
        info.flags = flags;
        info.holdover_duration_min = hold_min;
        info.holdover_duration_max = hold_max;
        ptp_platform_test_set_capability(version, info);
        ASSERT_EQ(sardo_platform_capability_init(nullptr), 0u);
    }

    void start()
    {
        client_.run([this] { ASSERT_EQ(sardo_cfg_init(client_.evm), 0u); });
    }
    void stop()
    {
        client_.run([] { sardo_cfg_shutdown(); });
    }
    // Until the callbacks of what the database sent before its last answer have run: a refused
    // commit's abort comes on the registration's connection, after the verification's answer.
    void settle()
    {
        EXPECT_EQ(nodra_test_sync(client_.evm), ZERR_OK);
        client_.drain();
    }
    void enable() { expect_applied(commit1("ptp/pi/enable", 1u)); }

    evm_thread client_;
};

// ---- The schema ----

// Every item's path, with keys filled in, leads to its own row.
TEST_F(CfgTest, EveryItemsPathLeadsToItsRow)
{
    uint32_t count = 0;
    const sardo_cfg_item_type *items = sardo_cfg_items(&count);
    ASSERT_EQ(count, sardo_cfg_schema()->row_count);
    for (uint32_t i = 0; i < count; i++) {
        std::string path = items[i].path;
        for (const auto &[key, value] :
             {std::pair<std::string, std::string>{"<s>", "k"}, {"<u>", "1"}, {"<ip>", "10.0.0.1"}}) {
            for (size_t at; (at = path.find(key)) != std::string::npos;) {
                path.replace(at, key.size(), value);
            }
        }
        uint32_t row = UINT32_MAX;
        bgen_args_td args{};
        backend_path_storage_td storage;
        ASSERT_EQ(backend_lookup(sardo_cfg_schema(), path.c_str(), &row, &args, &storage), 0u) << path;
        EXPECT_EQ(row, i) << path;
        EXPECT_EQ(args.bg_ident, items[i].bg_ident) << path;
    }
}

// ---- Items with a value rule ----

struct refusal_type {
    value_type value;
    zerrno code;
    const char *text;
};
struct item_case {
    const char *path;
    std::vector<value_type> accepted;
    std::vector<refusal_type> refused;
    const char *not_enabled_text; // refused with PTP not enabled (code 0x47f2c000)
};

void PrintTo(const item_case &c, std::ostream *os)
{
    *os << c.path;
}

const char *const DOMAIN_TEXT =
    "Failed to verify the clock domain value. The clock domain must be a value within the specified range";
const char *const PRIORITY_TEXT =
    "Failed to verify the clock priority value. The clock priority must be a value within the specified range";
const char *const CLASS_TEXT =
    "Failed to verify the clock class value. The clock class must be a value within the specified range";
const char *const ID_TEXT =
    "Failed to verify the clock identity value. The clock identity must be an eui-64 value or a mac-address, either "
    "the router's or a user-specified one. Additionally a eui-64 value may not be all ones.";
const char *const PROFILE_TEXT = "Failed to verify the clock profile item.";
const char *const VP_PRIORITY_TEXT = "Failed to verify the virtual port priority value. The virtual port priority "
                                     "must be a value within the specified range";
const char *const UNCAL_TEXT = "Failed to verify the uncalibrated clock class value. The uncalibrated clock class "
                               "must be a value within the specified range";
const char *const SLOW_TEXT = "Failed to verify the servo slow tracking value.";
const char *const TC_TEXT = "Failed to verify the transparent clock enable item";
const char *const APTS_TEXT = "Failed to verify the assisted partial timing support item. PTP must be globally enabled";
const char *const FILE_TEXT = "Failed to verify the leap second file item.";
const char *const OFFSET_TEXT = "Failed to verify the UTC offset item.";

std::string not_enabled(const char *label)
{
    return std::string("Failed to verify the ") + label + " value. PTP has not been globally enabled";
}

// clang-format off
const item_case item_cases[] = {
    {"ptp/pi/clock/domain", {0u, 255u}, {{256u, PTP_ZERR_CFG_DOMAIN, DOMAIN_TEXT}},
     "Failed to verify the clock domain value. PTP has not been globally enabled"},
    {"ptp/pi/clock/priority1", {0u, 255u}, {{256u, PTP_ZERR_CFG_PRIORITY, PRIORITY_TEXT}},
     "Failed to verify the clock priority value. PTP has not been globally enabled"},
    {"ptp/pi/clock/priority2", {7u}, {{300u, PTP_ZERR_CFG_PRIORITY, PRIORITY_TEXT}},
     "Failed to verify the clock priority value. PTP has not been globally enabled"},
    {"ptp/pi/clock/clock-class", {6u}, {{256u, PTP_ZERR_CFG_CLOCK_CLASS, CLASS_TEXT}},
     "Failed to verify the clock class value. PTP has not been globally enabled"},
    {"ptp/pi/clock/timescale", {0u, 1u},
     {{2u, PTP_ZERR_CFG_TIMESCALE, "Failed to verify the clock timescale value. The value must be PTP or ARB."}},
     "Failed to verify the clock timescale value. PTP has not been globally enabled"},
    {"ptp/pi/clock/timesource", {0x10u, 0x20u, 0x90u, 0xA0u},
     {{0x70u, PTP_ZERR_CFG_TIME_SOURCE, "Failed to verify the clock time source value."},
      {0x11u, PTP_ZERR_CFG_TIME_SOURCE, "Failed to verify the clock time source value."}},
     "Failed to verify the clock time source value. PTP has not been globally enabled"},
    {"ptp/pi/frequencypriority", {1u, 254u},
     {{0u, PTP_ZERR_CFG_FREQ_PRIORITY, "Failed to verify the frequency priority value. The frequency priority must be a value within the specified range"},
      {255u, PTP_ZERR_CFG_FREQ_PRIORITY, "Failed to verify the frequency priority value. The frequency priority must be a value within the specified range"}},
     "Failed to verify the freq priority value. PTP has not been globally enabled"},
    {"ptp/pi/timeofdaypriority", {1u, 254u},
     {{0u, PTP_ZERR_CFG_TOD_PRIORITY, "Failed to verify the time-of-day priority value. The time-of-day priority must be a value within the specified range"}},
     "Failed to verify the tod priority value. PTP has not been globally enabled"},
    {"ptp/pi/min-clock-class", {255u},
     {{256u, PTP_ZERR_CFG_CLOCK_CLASS, "Failed to verify the minimum clock class value. The minimum clock class must be a value within the specified range."}},
     "Failed to verify the min clock class value. PTP has not been globally enabled"},
    {"ptp/pi/startup-clock-class", {7u},
     {{256u, PTP_ZERR_CFG_CLOCK_CLASS, "Failed to verify the startup clock class value. The startup clock class must be a value within the specified range"}},
     "Failed to verify the startup clock class value. PTP has not been globally enabled"},
    {"ptp/pi/freerun-clock-class", {58u},
     {{1000u, PTP_ZERR_CFG_CLOCK_CLASS, "Failed to verify the freerun clock class value. The freerun clock class must be a value within the specified range"}},
     "Failed to verify the freerun clock class value. PTP has not been globally enabled"},
    {"ptp/pi/double-failure-clock-class", {248u},
     {{256u, PTP_ZERR_CFG_CLOCK_CLASS, "Failed to verify the double failure clock class value. The double failure clock class must be a value within the specified range"}},
     "Failed to verify the double failure clock class value. PTP has not been globally enabled"},
    {"ptp/pi/holdover-clock-class", {165u},
     {{256u, PTP_ZERR_CFG_CLOCK_CLASS, "Failed to verify the holdover clock class value. The holdover clock class must be a value within the specified range"}},
     "Failed to verify the holdover clock class value. PTP has not been globally enabled"},
    {"ptp/pi/uncal-clock-class-deprecated", {52u},
     {{256u, PTP_ZERR_CFG_CLOCK_CLASS, "Failed to verify the deprecated uncalibrated clock class value. The clock class must be a value within the specified range"}},
     "Failed to verify the deprecated uncalibrated clock class value. PTP has not been globally enabled"},
    {"ptp/pi/uncalibrated-clock-class", {tup{num(52), ABSENT}, tup{num(255), num(1)}},
     {{tup{num(256), ABSENT}, PTP_ZERR_CFG_CLOCK_CLASS, UNCAL_TEXT}, {7u, NODRA_ERR_INVALID, nullptr}},
     "Failed to verify the uncalibrated clock class value. PTP has not been globally enabled"},
    {"ptp/pi/virtual-port/priority1", {128u}, {{256u, PTP_ZERR_CFG_PRIORITY, VP_PRIORITY_TEXT}},
     "Failed to verify the virtual port priority value. PTP has not been globally enabled"},
    {"ptp/pi/virtual-port/priority2", {0u}, {{256u, PTP_ZERR_CFG_PRIORITY, VP_PRIORITY_TEXT}},
     "Failed to verify the virtual port priority value. PTP has not been globally enabled"},
    {"ptp/pi/virtual-port/clock-class", {6u}, {{256u, PTP_ZERR_CFG_CLOCK_CLASS, CLASS_TEXT}},
     "Failed to verify the clock class value. PTP has not been globally enabled"},
    {"ptp/pi/virtual-port/clock-accuracy", {32u, 49u, 254u},
     {{31u, PTP_ZERR2_CFG_CLOCK_ACCURACY, "Failed to verify the virtual port clock accuracy value. The clock accuracy must be a value between 32 and 49, or 254, as specified by the IEEE 1588 standard"},
      {50u, PTP_ZERR2_CFG_CLOCK_ACCURACY, "Failed to verify the virtual port clock accuracy value. The clock accuracy must be a value between 32 and 49, or 254, as specified by the IEEE 1588 standard"}},
     "Failed to verify the virtual_port clock accuracy value. PTP has not been globally enabled"},
    {"ptp/pi/virtual-port/oslv", {0xFFFFu},
     {{0x10000u, PTP_ZERR2_CFG_OSLV, "Failed to verify the virtual port clock oslv value. The oslv must be a value within the specified range"}},
     "Failed to verify the virtual_port oslv value. PTP has not been globally enabled"},
    {"ptp/pi/virtual-port/local-priority", {1u, 255u},
     {{0u, PTP_ZERR_CFG_LOCAL_PRIORITY, "Failed to verify the virtual port clock local priority value. The local priority must be a value within the specified range"}},
     "Failed to verify the virtual port local priority value. PTP has not been globally enabled"},
    {"ptp/pi/virtual-port/enable", {1u}, {}, "Failed to verify the virtual port enable item."},
    {"ptp/pi/physical-layer-freq", {1u}, {},
     "Failed to verify the physical layer frequency item. PTP must be globally enabled"},
    {"ptp/pi/network-type", {1u}, {}, "Failed to verify the network type item. PTP must be globally enabled"},
    {"ptp/pi/holdover-time-traceable-override", {1u}, {},
     "Failed to verify the holdover time-traceability override item. PTP must be globally enabled"},
    {"ptp/pi/uncal-time-traceable-override", {1u}, {},
     "Failed to verify the uncalibrated time-traceability override item. PTP must be globally enabled"},
    {"ptp/log/pi/bmc/changes", {1u}, {}, "Failed to verify the log BMC changes value. PTP has not been globally enabled"},
    {"ptp/pi/clock/identity",
     {tup{num(0), ABSENT, ABSENT, ABSENT, ABSENT}, tup{num(1), num(0x0200), num(0x5e10), num(0x0001), ABSENT}, tup{num(2), ABSENT, ABSENT, ABSENT, txt("0123456789abcdef")}},
     {{tup{num(2), ABSENT, ABSENT, ABSENT, txt("ffffffffffffffff")}, PTP_ZERR2_CLOCK_ID_ALL_ONES, ID_TEXT},
      {tup{num(2), ABSENT, ABSENT, ABSENT, txt("12g4")}, PTP_ZERR_CFG_CLOCK_ID, ID_TEXT},
      {tup{num(2), ABSENT, ABSENT, ABSENT, ABSENT}, PTP_ZERR_CFG_CLOCK_ID, ID_TEXT},
      {tup{num(1), num(0x0200), num(0x5e10), ABSENT, ABSENT}, PTP_ZERR_CFG_CLOCK_ID, ID_TEXT},
      {tup{num(3), ABSENT, ABSENT, ABSENT, ABSENT}, PTP_ZERR_CFG_CLOCK_ID, ID_TEXT},
      {tup{txt("x")}, PTP_ZERR_CFG_TUPLE, ID_TEXT}},
     "Failed to verify the clock identity value. PTP has not been globally enabled"},
    {"ptp/pi/clock/profile",
     {tup{num(0), ABSENT}, tup{num(1), ABSENT}, tup{num(1), num(0)}, tup{num(1), num(2)}, tup{num(2), num(1)}, tup{num(3), num(2)}},
     {{tup{num(0), num(1)}, PTP_ZERR2_CFG_CLOCK_TYPE_NOT_ALLOWED, PROFILE_TEXT},
      {tup{num(2), ABSENT}, PTP_ZERR_CFG_CLOCK_TYPE, PROFILE_TEXT},
      {tup{num(3), num(3)}, PTP_ZERR_CFG_CLOCK_TYPE, PROFILE_TEXT},
      {tup{num(1), num(1)}, PTP_ZERR2_CFG_CLOCK_TYPE_GM_TSC, PROFILE_TEXT},
      {tup{num(4), ABSENT}, PTP_ZERR_CFG_PROFILE, PROFILE_TEXT},
      {tup{txt("x")}, PTP_ZERR_CFG_TUPLE, PROFILE_TEXT}},
     PROFILE_TEXT},
    {"ptp/pi/servo-slow-tracking", {8u, 984u},
     {{0u, PTP_ZERR2_CFG_SLOW_TRACKING_RATE, SLOW_TEXT}, {12u, PTP_ZERR2_CFG_SLOW_TRACKING_RATE, SLOW_TEXT},
      {992u, PTP_ZERR2_CFG_SLOW_TRACKING_RATE, SLOW_TEXT}},
     "Failed to verify the servo slow tracking value. PTP has not been globally enabled"},
    {"ptp/pi/holdover-duration", {60u, 3600u},
     {{59u, PTP_ZERR2_CFG_HOLDOVER_DURATION, "The duration must be within the platform supported range (60 - 3600 seconds)"},
      {3601u, PTP_ZERR2_CFG_HOLDOVER_DURATION, "The duration must be within the platform supported range (60 - 3600 seconds)"}},
     "Failed to verify the holdover duration value. PTP has not been globally enabled"},
    {"ptp/pi/transparent-clock/domain/all", {1u}, {}, TC_TEXT},
    {"ptp/pi/apts", {1u}, {}, APTS_TEXT},
    {"ptp/pi/leap-second/source-file", {tup{txt("http://leap.example/list"), num(7)}, tup{txt("file:///l"), ABSENT}},
     {{tup{ABSENT, num(7)}, PTP_ZERR2_CFG_LEAP_FILE_URL, FILE_TEXT},
      {tup{txt(""), num(7)}, PTP_ZERR2_CFG_LEAP_FILE_URL, FILE_TEXT},
      {tup{num(5), num(5)}, PTP_ZERR_CFG_TUPLE, FILE_TEXT}},
     FILE_TEXT},
    {"ptp/pi/leap-second/offset", {37u, 0xFFFFu}, {}, OFFSET_TEXT},
    {"ptp/pi/leap-second/scheduled-offset/2024-02-29", {38u}, {}, OFFSET_TEXT},
    {"ptp/pi/leap-second/scheduled-offset/2024-02-30", {}, {{38u, PTP_ZERR_INVALID_DATE, OFFSET_TEXT}}, OFFSET_TEXT},
    {"ptp/pi/leap-second/scheduled-offset/2024-2-3x", {}, {{38u, PTP_ZERR_INVALID_DATE, OFFSET_TEXT}}, OFFSET_TEXT},
};
// clang-format on

class CfgItem : public CfgTest, public ::testing::WithParamInterface<item_case> {};

// Each accepted value commits and can be deleted again; each refused value is refused with its
// code and text and leaves the item as it was.
TEST_P(CfgItem, AcceptsItsValuesAndRefusesTheOthersWithTheirCodeAndText)
{
    const item_case &c = GetParam();
    enable();
    for (const value_type &v : c.accepted) {
        expect_applied(commit1(c.path, v));
    }
    for (const refusal_type &r : c.refused) {
        const nodra_commit_result_td result = commit1(c.path, r.value);
        if (r.text != nullptr) {
            expect_refused(result, r.code, r.text);
        } else {
            ASSERT_EQ(result.outcome, NODRA_COMMIT_RESULT_REJECTED);
            EXPECT_EQ(result.failures.at(0).code, r.code);
        }
    }
    if (!c.accepted.empty()) {
        expect_applied(commit1(c.path, DELETE));
    }
    EXPECT_EQ(sardo_fake_exit_requests(), 0u) << "PTP stays enabled";
}

// Without the global enable, a value is refused with the item's own text; a delete passes.
TEST_P(CfgItem, IsRefusedWhilePtpIsNotEnabled)
{
    const item_case &c = GetParam();
    const value_type value = c.accepted.empty() ? c.refused.front().value : c.accepted.front();
    expect_refused(commit1(c.path, value), PTP_ZERR_CFG_GLOBAL_ENABLE, c.not_enabled_text);
}

INSTANTIATE_TEST_SUITE_P(Items, CfgItem, ::testing::ValuesIn(item_cases),
                         [](const ::testing::TestParamInfo<item_case> &info) {
                             std::string name = info.param.path;
                             for (char &ch : name) {
                                 if (!isalnum(static_cast<unsigned char>(ch))) {
                                     ch = '_';
                                 }
                             }
                             return name;
                         });

// verify-checksum has no rule at all: accepted without the global enable. It is counted, so its
// delete, the last item, ends the process.
TEST_F(CfgTest, VerifyChecksumIsAlwaysAccepted)
{
    expect_applied(commit1("ptp/pi/verify-checksum", 1u));
    EXPECT_EQ(commit1("ptp/pi/verify-checksum", DELETE).outcome, NODRA_COMMIT_RESULT_PENDING);
    EXPECT_EQ(sardo_fake_exit_requests(), 1u);
}

// ---- Capabilities ----

struct capability_case {
    const char *name;
    uint16_t caps;
    const char *path;
    value_type value;
    zerrno code;
    const char *text; // null: no text
};

void PrintTo(const capability_case &c, std::ostream *os)
{
    *os << c.name;
}

// clang-format off
const capability_case capability_cases[] = {
    {"g8265_needs_a_clock_type", ALL_CAPS | G8265_NEEDS_TYPE, "ptp/pi/clock/profile", tup{num(1), ABSENT}, PTP_ZERR2_PROFILE_NEEDS_CLOCK_TYPE, PROFILE_TEXT},
    {"g8275_1_unsupported", ALL_CAPS & ~PTP_PLATFORM_CAP_PROFILE_G8275_1, "ptp/pi/clock/profile", tup{num(2), num(1)}, PTP_ZERR2_PROFILE_NOT_SUPPORTED, PROFILE_TEXT},
    {"g8265_1_unsupported", ALL_CAPS & ~PTP_PLATFORM_CAP_PROFILE_G8265_1, "ptp/pi/clock/profile", tup{num(1), num(0)}, PTP_ZERR2_PROFILE_NOT_SUPPORTED, PROFILE_TEXT},
    {"slow_tracking_unsupported", ALL_CAPS & ~PTP_PLATFORM_CAP_SERVO_SLOW_TRACK, "ptp/pi/servo-slow-tracking", 8u, PTP_ZERR2_SLOW_TRACKING_NOT_SUPPORTED, SLOW_TEXT},
    {"holdover_unsupported", ALL_CAPS & ~PTP_PLATFORM_CAP_HOLDOVER_DURATION, "ptp/pi/holdover-duration", 60u, PTP_ZERR2_HOLDOVER_NOT_SUPPORTED, nullptr},
    {"transparent_clock_unsupported", ALL_CAPS & ~PTP_PLATFORM_CAP_TRANSP_CLOCK, "ptp/pi/transparent-clock/domain/all", 1u, PTP_ZERR2_TC_NOT_SUPPORTED, TC_TEXT},
    {"transparent_clock_one_domain", ALL_CAPS, "ptp/pi/transparent-clock/domain/4", 1u, PTP_ZERR2_TC_SOME_DOMAINS, TC_TEXT},
    {"apts_unsupported", ALL_CAPS & ~PTP_PLATFORM_CAP_APTS, "ptp/pi/apts", 1u, PTP_ZERR2_APTS_NOT_SUPPORTED, APTS_TEXT},
    {"leap_file_unsupported", ALL_CAPS & ~PTP_PLATFORM_CAP_LEAP_SECONDS, "ptp/pi/leap-second/source-file", tup{txt("http://x/"), ABSENT}, PTP_ZERR2_LEAP_NOT_SUPPORTED, FILE_TEXT},
    {"leap_offset_unsupported", ALL_CAPS & ~PTP_PLATFORM_CAP_LEAP_SECONDS, "ptp/pi/leap-second/offset", 37u, PTP_ZERR2_LEAP_NOT_SUPPORTED, OFFSET_TEXT},
};
// clang-format on

class CfgCapability : public CfgTest, public ::testing::WithParamInterface<capability_case> {};

TEST_P(CfgCapability, AnItemThePlatformCannotDoIsRefused)
{
    const capability_case &c = GetParam();
    sardo_platform_capability_shutdown();
    set_caps(c.caps);
    enable();
    const nodra_commit_result_td r = commit1(c.path, c.value);
    if (c.text != nullptr) {
        expect_refused(r, c.code, c.text);
    } else {
        ASSERT_EQ(r.outcome, NODRA_COMMIT_RESULT_REJECTED);
        EXPECT_EQ(r.failures.at(0).code, c.code);
    }
}

INSTANTIATE_TEST_SUITE_P(Capabilities, CfgCapability, ::testing::ValuesIn(capability_cases),
                         [](const ::testing::TestParamInfo<capability_case> &info) { return info.param.name; });

// The platform's first capability API knew no profile bits: every profile is supported.
TEST_F(CfgTest, CapabilityVersionZeroSupportsEveryProfile)
{
    sardo_platform_capability_shutdown();
    set_caps(PTP_PLATFORM_CAP_PTP, 0);
    enable();
    expect_applied(commit1("ptp/pi/clock/profile", tup{num(2), num(1)}));
}

TEST_F(CfgTest, TheGlobalEnableNeedsAPlatformThatDoesPtp)
{
    sardo_platform_capability_shutdown();
    set_caps(ALL_CAPS & ~PTP_PLATFORM_CAP_PTP);
    expect_refused(commit1("ptp/pi/enable", 1u), PTP_ZERR_SYSTEM_NO_PTP, "Failed to verify the global enable item.");
}

// Deletes pass without the enable, except where a rule looks first: a transparent-clock key, the
// leap-second and APTS capabilities, and the holdover duration.
TEST_F(CfgTest, DeletesWithoutTheGlobalEnable)
{
    stop();
    const uint32_t one = 1;
    for (const char *path :
         {"/cfg/gl/ptp/pi/clock/domain", "/cfg/gl/ptp/pi/transparent-clock/domain/2", "/cfg/gl/ptp/pi/apts",
          "/cfg/gl/ptp/pi/holdover-duration", "/cfg/gl/ptp/pi/leap-second/offset"}) {
        ASSERT_EQ(nodra_test_item_set(path, NODRA_ITEM_DATATYPE_UINT32, &one, sizeof one), 0u);
    }
    sardo_platform_capability_shutdown();
    set_caps(ALL_CAPS & ~(PTP_PLATFORM_CAP_APTS | PTP_PLATFORM_CAP_LEAP_SECONDS));
    start();
    // Stored without the global enable, the items are refused in the verifier's replay and none is
    // applied: the first delete goes through and leaves it with nothing configured (it leaves once
    // the commit completes). The deletes are verified all the same.
    const nodra_commit_result_td r = commit1("ptp/pi/clock/domain", DELETE);
    EXPECT_EQ(r.outcome, NODRA_COMMIT_RESULT_PENDING);
    EXPECT_TRUE(r.failures.empty());
    expect_refused(commit1("ptp/pi/transparent-clock/domain/2", DELETE), PTP_ZERR2_TC_SOME_DOMAINS, TC_TEXT);
    expect_refused(commit1("ptp/pi/apts", DELETE), PTP_ZERR2_APTS_NOT_SUPPORTED, APTS_TEXT);
    expect_refused(commit1("ptp/pi/leap-second/offset", DELETE), PTP_ZERR2_LEAP_NOT_SUPPORTED, OFFSET_TEXT);
    expect_refused(commit1("ptp/pi/holdover-duration", DELETE), PTP_ZERR_CFG_GLOBAL_ENABLE,
                   not_enabled("holdover duration"));
}

// ---- Profiles ----

struct profile_case {
    const char *path; // below "ptp/pi/profile/"
    value_type accepted;
    value_type refused;
    zerrno code;
    const char *text;
    const char *label;
    bool bad_key; // the key is refused whatever the value
};

void PrintTo(const profile_case &c, std::ostream *os)
{
    *os << c.path;
}

// clang-format off
const profile_case profile_cases[] = {
    {"p/transport", 1u, 4u, PTP_ZERR_CFG_ENCAP, "Failed to verify the encap value. It must be either Ethernet or IPv4", "encap", false},
    {"p/cos", 7u, 8u, PTP_ZERR_CFG_COS, "Failed to verify the CoS value. It must be within the specified range", "CoS", false},
    {"p/event-dscp", 63u, 64u, PTP_ZERR_CFG_DSCP, "Failed to verify the DSCP value. It must be within the specified range", "DSCP", false},
    {"p/ipv4-ttl", 1u, 0u, PTP_ZERR_CFG_ENCAP, "Failed to verify the IPv4 TTL value. It must be within the specified range", "IPv4 TTL", false},
    {"p/ipv6-hop-limit", 255u, 256u, PTP_ZERR_CFG_ENCAP, "Failed to verify the IPv6 hop limit value. It must be within the specified range", "IPv6 hop limit", false},
    {"p/sync-grant-duration", 60u, 1001u, PTP_ZERR_CFG_GRANT_DURATION, "Failed to verify the unicast grant duration value. The duration must be between 60 seconds and 1000 seconds.", "Unicast Grant Duration", false},
    {"p/multicast", tup{num(2), num(0), ABSENT}, tup{num(3), num(0), ABSENT}, PTP_ZERR_CFG_TRANSPORT, "Failed to verify the multicast value.", "multicast", false},
    {"p/master-table/2/-/10.0.0.9/priority", 5u, 256u, PTP_ZERR_CFG_PRIORITY, "Failed to verify the master priority item.", "master priority", false},
    {"p/master-table/4/-/10.0.0.9/priority", 5u, 5u, PTP_ZERR_CFG_ENCAP, "Failed to verify the master priority item.", "master priority", true},
    {"p/master-table/1/zz.1.2/-/enable", 1u, 1u, PTP_ZERR_CFG_MAC, "Failed to verify the master enable item.", "master enable", true},
    {"p/master-table/2/-/-/enable", 1u, 1u, PTP_ZERR_CFG_ARGUMENT, "Failed to verify the master enable item.", "master enable", true},
    {"p/interop/ord_2/domain", 4u, 256u, PTP_ZERR_CFG_DOMAIN, "Failed to verify the interop domain value. The domain must be between 0 and 255.", "interop domain", false},
    {"p/interop/ord_3/egress/clock-class-mapping-table/6", 7u, 256u, PTP_ZERR_CFG_CLOCK_CLASS, "Failed to verify the interop clock class mapping value. Each part of the clock class mapping must be between 0 and 255.", "interop clock class mapping", false},
};
// clang-format on

class CfgProfile : public CfgTest, public ::testing::WithParamInterface<profile_case> {};

TEST_P(CfgProfile, ChecksThroughTheCommonProfileCheck)
{
    const profile_case &c = GetParam();
    const std::string path = std::string("ptp/pi/profile/") + c.path;
    expect_refused(commit1(path, c.accepted), PTP_ZERR_CFG_GLOBAL_ENABLE, not_enabled(c.label));
    enable();
    const nodra_commit_result_td r = commit1(path, c.refused);
    ASSERT_EQ(r.outcome, NODRA_COMMIT_RESULT_REJECTED);
    EXPECT_EQ(r.failures.at(0).code, c.code) << std::hex << r.failures.at(0).code;
    EXPECT_EQ(r.failures.at(0).text, c.text);
    if (!c.bad_key) {
        expect_applied(commit1(path, c.accepted));
        expect_applied(commit1(path, DELETE));
    }
}

INSTANTIATE_TEST_SUITE_P(Profiles, CfgProfile, ::testing::ValuesIn(profile_cases),
                         [](const ::testing::TestParamInfo<profile_case> &info) {
                             return "case" + std::to_string(info.index);
                         });

// Refused for its name, every profile item says so, whatever its value.
TEST_F(CfgTest, AProfileNameLongerThan256CharactersIsRefusedWithTheNamesText)
{
    enable();
    const std::string name(257, 'n');
    for (const profile_case &c : profile_cases) {
        SCOPED_TRACE(c.path);
        const std::string item = std::string(c.path).substr(std::string(c.path).find('/'));
        for (const value_type &v : {c.accepted, c.refused}) {
            expect_refused(commit1("ptp/pi/profile/" + name + item, v), PTP_ZERR_CFG_PROFILE_NAME,
                           "Failed to verify the profile name. The string entered is too short or too long");
        }
    }
    expect_applied(commit1("ptp/pi/profile/" + std::string(256, 'n') + "/cos", 1u));
}

// ---- Leap-second sources ----

TEST_F(CfgTest, ALeapSecondFileAndAUtcOffsetExcludeEachOtherInOneBatchAndAcross)
{
    enable();
    const value_type file = tup{txt("http://leap.example/list"), num(7)};
    // In one batch: the file comes after the offset (path order) and is refused.
    expect_refused(commit({{"ptp/pi/leap-second/offset", 37u}, {"ptp/pi/leap-second/source-file", file}}),
                   PTP_ZERR_LEAP_FILE_WITH_UTC_OFFSET, FILE_TEXT);
    // Across batches, either way round.
    expect_applied(commit1("ptp/pi/leap-second/source-file", file));
    expect_refused(commit1("ptp/pi/leap-second/offset", 37u), PTP_ZERR_UTC_OFFSET_WITH_LEAP_FILE, OFFSET_TEXT);
    expect_refused(commit1("ptp/pi/leap-second/scheduled-offset/2025-01-01", 38u), PTP_ZERR_UTC_OFFSET_WITH_LEAP_FILE,
                   OFFSET_TEXT);
    expect_applied(commit1("ptp/pi/leap-second/source-file", DELETE));
    expect_applied(commit1("ptp/pi/leap-second/offset", 37u));
    expect_refused(commit1("ptp/pi/leap-second/source-file", file), PTP_ZERR_LEAP_FILE_WITH_UTC_OFFSET, FILE_TEXT);
    // A refused batch leaves nothing pending for the next one.
    expect_applied(commit1("ptp/pi/leap-second/offset", DELETE));
    expect_applied(commit1("ptp/pi/leap-second/source-file", file));
}

// Every UTC-offset item keeps a file out while it remains, not only the last one configured.
TEST_F(CfgTest, AFileStaysRefusedWhileAnyOffsetItemRemains)
{
    enable();
    const value_type file = tup{txt("http://leap.example/list"), num(7)};
    expect_applied(commit({{"ptp/pi/leap-second/offset", 37u},
                           {"ptp/pi/leap-second/scheduled-offset/2025-01-01", 38u},
                           {"ptp/pi/leap-second/scheduled-offset/2025-07-01", 39u}}));
    expect_applied(commit1("ptp/pi/leap-second/scheduled-offset/2025-01-01", DELETE));
    expect_refused(commit1("ptp/pi/leap-second/source-file", file), PTP_ZERR_LEAP_FILE_WITH_UTC_OFFSET, FILE_TEXT);
    expect_applied(commit1("ptp/pi/leap-second/offset", 36u)); // a set does not count twice
    expect_applied(
        commit({{"ptp/pi/leap-second/offset", DELETE}, {"ptp/pi/leap-second/scheduled-offset/2025-07-01", DELETE}}));
    expect_applied(commit1("ptp/pi/leap-second/source-file", file));
}

// ---- Batches, the count of items and the exit ----

// The global enable's batch comes first: the commit that enables PTP can configure it too.
TEST_F(CfgTest, TheGlobalEnableAndItemsInOneCommit)
{
    expect_applied(commit({{"ptp/pi/enable", 1u},
                           {"ptp/pi/clock/domain", 24u},
                           {"ptp/pi/profile/p/cos", 3u},
                           {"ptp/pi/clock/profile", tup{num(2), num(1)}}}));
    EXPECT_EQ(sardo_fake_exit_requests(), 0u);
}

TEST_F(CfgTest, DisablingPtpIsRefusedWhileItemsAreConfigured)
{
    expect_applied(commit({{"ptp/pi/enable", 1u}, {"ptp/pi/clock/domain", 24u}}));
    // Verified against the count before the batch, even with the last item in the same commit.
    expect_refused(commit({{"ptp/pi/enable", DELETE}, {"ptp/pi/clock/domain", DELETE}}), PTP_ZERR_DISABLE_WITH_CONFIG,
                   "Failed to verify the global enable item.");
    expect_applied(commit1("ptp/pi/clock/domain", DELETE));
    EXPECT_EQ(sardo_fake_exit_requests(), 0u) << "PTP is still enabled";
    // The last item goes: the apply completes when the process shuts down.
    const nodra_commit_result_td r = commit1("ptp/pi/enable", DELETE);
    EXPECT_EQ(r.outcome, NODRA_COMMIT_RESULT_PENDING);
    EXPECT_EQ(sardo_fake_exit_requests(), 1u);
    stop();
    nodra_commit_result_td status{};
    ASSERT_EQ(nodra_commit_status(r.sequence, &status), 0u);
    EXPECT_EQ(status.outcome, NODRA_COMMIT_RESULT_APPLIED);
    start();
}

TEST_F(CfgTest, TheLastItemRemovedWithoutTheEnableEndsTheProcessUnlessABatchFollows)
{
    enable();
    // The enable goes in a commit that brings an item: the enable's batch, with nothing counted,
    // is followed by the item's, so the process stays.
    expect_applied(commit({{"ptp/pi/enable", DELETE}, {"ptp/pi/verify-checksum", 1u}}));
    EXPECT_EQ(sardo_fake_exit_requests(), 0u);
    EXPECT_EQ(commit1("ptp/pi/verify-checksum", DELETE).outcome, NODRA_COMMIT_RESULT_PENDING);
    EXPECT_EQ(sardo_fake_exit_requests(), 1u);
}

// A set does not count; the replay at registration counts every stored item once.
TEST_F(CfgTest, TheReplayAtRegistrationCountsEveryItemOnce)
{
    expect_applied(commit({{"ptp/pi/enable", 1u}, {"ptp/pi/clock/domain", 24u}, {"ptp/pi/clock/priority1", 5u}}));
    expect_applied(commit1("ptp/pi/clock/domain", 25u));
    stop();
    start();
    expect_refused(commit1("ptp/pi/enable", DELETE), PTP_ZERR_DISABLE_WITH_CONFIG,
                   "Failed to verify the global enable item.");
    expect_applied(commit1("ptp/pi/clock/domain", DELETE));
    expect_refused(commit1("ptp/pi/enable", DELETE), PTP_ZERR_DISABLE_WITH_CONFIG,
                   "Failed to verify the global enable item.");
    expect_applied(commit1("ptp/pi/clock/priority1", DELETE));
    EXPECT_EQ(commit1("ptp/pi/enable", DELETE).outcome, NODRA_COMMIT_RESULT_PENDING);
    EXPECT_EQ(sardo_fake_exit_requests(), 1u);
}

// A refused commit with nothing configured ends the process (it would have nothing to guard).
TEST_F(CfgTest, ARefusedCommitWithNothingConfiguredEndsTheProcess)
{
    expect_refused(commit1("ptp/pi/clock/domain", 5u), PTP_ZERR_CFG_GLOBAL_ENABLE, not_enabled("clock domain"));
    settle();
    EXPECT_GE(sardo_fake_exit_requests(), 1u);
}

TEST_F(CfgTest, ARefusedCommitWithPtpEnabledKeepsTheProcess)
{
    enable();
    expect_refused(commit1("ptp/pi/clock/domain", 256u), PTP_ZERR_CFG_DOMAIN, DOMAIN_TEXT);
    settle();
    EXPECT_EQ(sardo_fake_exit_requests(), 0u);
}

// The exit check fails closed: when the database cannot say whether a batch follows, it stays.
TEST_F(CfgTest, TheExitCheckStaysWhenTheDatabaseCannotSay)
{
    stop();
    qor_errmsg_capture_clear();
    nodra_test_use_socket("/nonexistent/platform.sock");
    client_.run([] { EXPECT_FALSE(sardo_cfg_exit_check(1)); });
    nodra_test_use_socket(nodra_test_server_socket());
    EXPECT_EQ(sardo_fake_exit_requests(), 0u);
    ASSERT_EQ(qor_errmsg_captured().size(), 1u);
    EXPECT_EQ(qor_errmsg_captured()[0].mnemonic, "SHUTDOWN_CHECK_FAILED");
    start();
}

TEST_F(CfgTest, StartFailuresRaiseTheirTexts)
{
    stop();
    struct case_type {
        nodra_test_op op;
        zerrno code;
        uint32_t after;
        std::string line;
    } cases[] = {
        {nodra_test_op::bind, NODRA_ERR_STORE, 0,
         "Failed to initialize: Failed to bind to global Nodra bindpoint: " +
             std::string(zerr_strerror(NODRA_ERR_STORE))},
        {nodra_test_op::registration, NODRA_ERR_STORE, 0,
         "Failed to initialize: Failed to register for verification of global enable item: " +
             std::string(zerr_strerror(NODRA_ERR_STORE))},
        {nodra_test_op::registration, NODRA_ERR_STORE, 1,
         "Failed to initialize: Failed to register for verification of interface configuration: " +
             std::string(zerr_strerror(NODRA_ERR_STORE))},
    };
    for (const case_type &c : cases) {
        qor_errmsg_capture_clear();
        nodra_test_fail(c.op, c.code, 1, c.after);
        client_.run([&] {
            EXPECT_EQ(sardo_cfg_init(client_.evm), c.code);
            sardo_cfg_shutdown();
        });
        ASSERT_EQ(qor_errmsg_captured().size(), 1u);
        EXPECT_EQ(qor_errmsg_captured()[0].text, c.line);
    }
    // Without the database library the bind is not tried.
    nodra_test_set_client_library_path("/nonexistent/libnodra.so");
    client_.run([&] {
        EXPECT_EQ(sardo_cfg_init(client_.evm), NODRA_ERR_BIND_NO_LIBRARY);
        sardo_cfg_shutdown();
    });
    nodra_test_set_client_library_path("/dev/null");
    start();
}

} // namespace
