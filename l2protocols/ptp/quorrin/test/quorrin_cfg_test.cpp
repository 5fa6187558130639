// The controller's configuration: every item through the schema with its stored value and what it
// calls of selection, the platform driver and the leap-second database (recording fakes); deletes
// and the applied-item count; and, against the in-process database, the start-up scan, batches,
// overlapping registrations and the database's event bits.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "evm.h"
#include "evm_test.h"
#include "jotlog_test.h"
#include "nodra_test.h"
#include "plat_debug.h"
#include "ptp_debug.h"
#include "qor_log.h"
#include "quorrin_cfg.h"
#include "quorrin_cfg_items.h"
#include "quorrin_debug.h"
#include "quorrin_fakes.h"
#include "quorrin_stats.h"
#include "sysmgr_test.h"
#include "tuple.h"

namespace {

debug_event_type debug_table[QUORRIN_DEBUG_AREA_COUNT];

std::vector<std::string> config_lines()
{
    std::vector<std::string> out;
    for (const std::string &line : debug_captured()) {
        if (line.rfind("CONFIG: ", 0) == 0) {
            out.push_back(line);
        }
    }
    return out;
}

class Config : public ::testing::Test {
protected:
    void SetUp() override
    {
        quorrin_fake_reset();
        quorrin_stats_clear_event_counters();
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_EQ(ptp_debug_register(evm, debug_table, quorrin_debug_areas, QUORRIN_DEBUG_AREA_COUNT, nullptr), 0u);
        debug_set_area(PTP_DEBUG_PATH, "config", nullptr);
        debug_capture_clear();
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();
        static chassis_desc_type chassis{};
        chassis.has_lr_mac = true;
        chassis.lr_mac = {0x00, 0x1B, 0x21, 0x0A, 0x0B, 0x0C};
        sysmgr_test_reset();
        sysmgr_test_set_chassis(&chassis);
    }
    void TearDown() override
    {
        quorrin_cfg_shutdown();
        ptp_debug_cleanup();
        event_manager_destroy(evm);
    }
    event_mgr_type *evm = nullptr;
};

constexpr uint64_t ROUTER_ID = 0x001B21FFFE0A0B0C;

// ---- Every item: what it stores and what it calls ---------------------------------------------------

TEST_F(Config, EveryGlobalItemStoresItsValueAndTellsTheModulesThatDependOnIt)
{
    struct case_type {
        const char *path;
        cfg_value_type value;
        std::vector<std::string> calls; // after the platform is enabled by the first item
        std::function<void()> check;
    };
    auto u8 = [](void (*get)(bool *, uint8_t *), bool set, uint8_t v) {
        return [=] {
            bool s = false;
            uint8_t value = 0;
            get(&s, &value);
            EXPECT_EQ(s, set);
            EXPECT_EQ(value, v);
        };
    };
    auto vp = [](uint32_t mask, auto field, uint32_t v) {
        return [=] {
            quorrin_cfg_applied_globals_type p{};
            quorrin_cfg_get_applied_globals(&p);
            EXPECT_EQ(p.mask, mask);
            EXPECT_EQ(static_cast<uint32_t>(p.*field), v);
        };
    };
    const std::vector<case_type> cases = {
        {"ptp/pi/enable", cfg_number(1), {}, [] {}},
        {"ptp/log/pi/bmc/changes", cfg_none(), {}, [] { EXPECT_TRUE(quorrin_cfg_get_log_bmc_changes()); }},
        {"ptp/pi/clock/identity",
         cfg_tuple("%d%d%d%d%S", 0x11, 2, 0, 0, 0, "0011223344556677"),
         {"quorrin_bmc_clock_id_update"},
         [] { EXPECT_EQ(quorrin_cfg_get_clock_id(), 0x0011223344556677u); }},
        {"ptp/pi/clock/identity",
         cfg_tuple("%d%d%d%d%S", 0xF, 1, 0x0A0B, 0x0C0D, 0x0E0F, ""),
         {"quorrin_bmc_clock_id_update"},
         [] { EXPECT_EQ(quorrin_cfg_get_clock_id(), 0x0A0B0CFFFE0D0E0Fu); }},
        {"ptp/pi/clock/domain",
         cfg_number(24),
         {"quorrin_bmc_domain_update"},
         [] { EXPECT_EQ(quorrin_cfg_get_domain(), 24u); }},
        {"ptp/pi/clock/priority1",
         cfg_number(10),
         {"quorrin_bmc_priority_update"},
         [] {
             EXPECT_EQ(quorrin_cfg_get_priority1(), 10u);
             EXPECT_TRUE(quorrin_cfg_is_priority1_set());
             EXPECT_FALSE(quorrin_cfg_is_priority2_set());
         }},
        {"ptp/pi/clock/priority2",
         cfg_number(20),
         {"quorrin_bmc_priority_update"},
         [] {
             EXPECT_EQ(quorrin_cfg_get_priority2(), 20u);
             EXPECT_EQ(quorrin_cfg_get_priority1(), 128u);
         }},
        {"ptp/pi/clock/clock-class",
         cfg_number(6),
         {"quorrin_bmc_clock_class_update"},
         u8(quorrin_cfg_get_clock_class, true, 6)},
        // A new item arrives as Create alone: it is configured all the same.
        {"ptp/pi/clock/timescale",
         cfg_number(PTP_TIMESCALE_PTP),
         {"quorrin_bmc_timescale_update"},
         u8(quorrin_cfg_get_timescale, true, PTP_TIMESCALE_PTP)},
        {"ptp/pi/clock/timesource",
         cfg_number(0x20),
         {"quorrin_bmc_time_source_update"},
         u8(quorrin_cfg_get_time_source, true, 0x20)},
        {"ptp/pi/frequencypriority",
         cfg_number(7),
         {"quorrin_platform_settings_update"},
         [] { EXPECT_EQ(quorrin_cfg_get_freq_priority(), 7u); }},
        {"ptp/pi/timeofdaypriority",
         cfg_number(9),
         {"quorrin_platform_settings_update"},
         [] { EXPECT_EQ(quorrin_cfg_get_tod_priority(), 9u); }},
        {"ptp/pi/clock/profile",
         cfg_tuple("%d%d", 3, PTP_PROFILE_G8275_1, PTP_TELECOM_CLOCK_T_GM),
         {"quorrin_bmc_profile_update", "quorrin_platform_settings_update", "quorrin_leap_seconds_profile_update 2"},
         [] {
             EXPECT_EQ(quorrin_cfg_get_profile(), PTP_PROFILE_G8275_1);
             EXPECT_EQ(quorrin_cfg_get_telecom_clock_type(), PTP_TELECOM_CLOCK_T_GM);
             EXPECT_TRUE(quorrin_cfg_is_profile_set());
         }},
        // G.8265.1 without a clock type takes "any port state".
        {"ptp/pi/clock/profile",
         cfg_tuple("%d%d", 1, PTP_PROFILE_G8265_1, 0),
         {"quorrin_bmc_profile_update", "quorrin_platform_settings_update", "quorrin_leap_seconds_profile_update 1"},
         [] { EXPECT_EQ(quorrin_cfg_get_telecom_clock_type(), 3u); }},
        {"ptp/pi/min-clock-class", cfg_number(6), {}, [] {}},
        {"ptp/pi/leap-second/source-file",
         cfg_tuple("%S%d", 3, "http://leap.example/list", 7),
         {"quorrin_leap_seconds_file_cfg_apply http://leap.example/list 7"},
         [] {}},
        {"ptp/pi/leap-second/offset", cfg_number(37), {"quorrin_leap_seconds_cfg_offset_apply 37 0"}, [] {}},
        {"ptp/pi/leap-second/scheduled-offset/2027-01-01",
         cfg_number(38),
         {"quorrin_leap_seconds_cfg_offset_apply 38 1798761600"},
         [] {}},
        {"ptp/pi/virtual-port/enable",
         cfg_none(),
         {"quorrin_bmc_virtual_port_configured 1"},
         [] {
             quorrin_cfg_applied_globals_type p{};
             quorrin_cfg_get_applied_globals(&p);
             EXPECT_TRUE(p.configured);
             EXPECT_EQ(p.mask, 0u);
         }},
        {"ptp/pi/virtual-port/priority1",
         cfg_number(5),
         {"quorrin_bmc_virtual_port_update 0 set 5"},
         vp(1u << QUORRIN_BMC_VP_PRIORITY1, &quorrin_cfg_applied_globals_type::priority1, 5)},
        {"ptp/pi/virtual-port/priority2",
         cfg_number(6),
         {"quorrin_bmc_virtual_port_update 1 set 6"},
         vp(1u << QUORRIN_BMC_VP_PRIORITY2, &quorrin_cfg_applied_globals_type::priority2, 6)},
        {"ptp/pi/virtual-port/clock-class",
         cfg_number(7),
         {"quorrin_bmc_virtual_port_update 2 set 7"},
         vp(1u << QUORRIN_BMC_VP_CLOCK_CLASS, &quorrin_cfg_applied_globals_type::clock_class, 7)},
        {"ptp/pi/virtual-port/clock-accuracy",
         cfg_number(0x21),
         {"quorrin_bmc_virtual_port_update 3 set 33"},
         vp(1u << QUORRIN_BMC_VP_CLOCK_ACCURACY, &quorrin_cfg_applied_globals_type::clock_accuracy, 0x21)},
        {"ptp/pi/virtual-port/oslv",
         cfg_number(0x4E5D),
         {"quorrin_bmc_virtual_port_update 4 set 20061"},
         vp(1u << QUORRIN_BMC_VP_OSLV, &quorrin_cfg_applied_globals_type::oslv, 0x4E5D)},
        {"ptp/pi/virtual-port/local-priority",
         cfg_number(3),
         {"quorrin_bmc_virtual_port_update 5 set 3"},
         vp(1u << QUORRIN_BMC_VP_LOCAL_PRIORITY, &quorrin_cfg_applied_globals_type::local_priority, 3)},
        {"ptp/pi/uncalibrated-clock-class",
         cfg_tuple("%d%d", 3, 52, 1),
         {"quorrin_bmc_clock_class_update"},
         [] {
             bool set = false;
             uint8_t cls = 0;
             uint32_t unless = 0;
             quorrin_cfg_get_uncalibrated_clock_class(&set, &cls, &unless);
             EXPECT_TRUE(set);
             EXPECT_EQ(cls, 52u);
             EXPECT_EQ(unless, 1u);
         }},
        // The deprecated item stands in while the tuple item is not set.
        {"ptp/pi/uncal-clock-class-deprecated",
         cfg_number(58),
         {"quorrin_bmc_clock_class_update"},
         [] {
             bool set = false;
             uint8_t cls = 0;
             uint32_t unless = 9;
             quorrin_cfg_get_uncalibrated_clock_class(&set, &cls, &unless);
             EXPECT_TRUE(set);
             EXPECT_EQ(cls, 58u);
             EXPECT_EQ(unless, 0u);
         }},
        {"ptp/pi/uncal-time-traceable-override",
         cfg_none(),
         {"quorrin_bmc_time_traceable_update"},
         [] { EXPECT_TRUE(quorrin_cfg_get_uncal_time_traceable_override()); }},
        {"ptp/pi/startup-clock-class",
         cfg_number(248),
         {"quorrin_bmc_clock_class_update"},
         u8(quorrin_cfg_get_startup_clock_class, true, 248)},
        {"ptp/pi/freerun-clock-class",
         cfg_number(187),
         {"quorrin_bmc_clock_class_update"},
         u8(quorrin_cfg_get_freerun_clock_class, true, 187)},
        {"ptp/pi/double-failure-clock-class",
         cfg_number(165),
         {"quorrin_bmc_clock_class_update"},
         u8(quorrin_cfg_get_double_failure_clock_class, true, 165)},
        {"ptp/pi/holdover-clock-class",
         cfg_number(7),
         {"quorrin_bmc_clock_class_update"},
         u8(quorrin_cfg_get_holdover_clock_class, true, 7)},
        {"ptp/pi/holdover-duration",
         cfg_number(900),
         {"quorrin_platform_settings_update"},
         [] {
             bool set = false;
             uint32_t seconds = 0;
             quorrin_cfg_get_holdover_duration(&set, &seconds);
             EXPECT_TRUE(set);
             EXPECT_EQ(seconds, 900u);
         }},
        {"ptp/pi/holdover-time-traceable-override",
         cfg_none(),
         {"quorrin_bmc_time_traceable_update"},
         [] { EXPECT_TRUE(quorrin_cfg_get_holdover_time_traceable_override()); }},
        {"ptp/pi/physical-layer-freq",
         cfg_number(1),
         {"quorrin_bmc_network_options_update", "quorrin_platform_settings_update"},
         [] { EXPECT_EQ(quorrin_cfg_get_physical_layer_freq(), 1u); }},
        {"ptp/pi/network-type",
         cfg_number(1),
         {"quorrin_bmc_network_options_update", "quorrin_platform_settings_update"},
         [] { EXPECT_EQ(quorrin_cfg_get_network_type(), 1u); }},
        {"ptp/pi/servo-slow-tracking",
         cfg_number(16),
         {"quorrin_platform_settings_update"},
         [] { EXPECT_EQ(quorrin_cfg_get_servo_slow_tracking(), 16u); }},
        {"ptp/pi/verify-checksum", cfg_none(), {}, [] { EXPECT_TRUE(quorrin_cfg_get_verify_checksum()); }},
        {"ptp/pi/transparent-clock/domain/all", cfg_none(), {"quorrin_platform_transparent_clock_update 1"}, [] {}},
        {"ptp/pi/apts", cfg_none(), {"quorrin_bmc_apts_update"}, [] { EXPECT_TRUE(quorrin_cfg_get_apts()); }},
    };
    for (const case_type &c : cases) {
        SCOPED_TRACE(c.path);
        quorrin_cfg_shutdown();
        quorrin_fake_reset();
        quorrin_fake_bmc_network_options_changed() = true;
        cfg_create(c.path, c.value);
        std::vector<std::string> expected = {"quorrin_platform_enable"};
        expected.insert(expected.end(), c.calls.begin(), c.calls.end());
        EXPECT_EQ(quorrin_fake_calls(), expected);
        EXPECT_EQ(quorrin_cfg_get_applied_config_counter(), 1u);
        EXPECT_TRUE(quorrin_cfg_is_enabled());
        // Every handler but the minimum clock class's marks the batch as having applied something.
        EXPECT_EQ(quorrin_cfg_get_any_successful_applies(), std::string(c.path) == "ptp/pi/min-clock-class" ? 0u : 1u);
        c.check();
    }
}

TEST_F(Config, ItemsThatCountNothing)
{
    // The QL option: a new item (Create alone) stores its value; no count, no platform.
    cfg_create("g/f/ql-option", cfg_number(QUORRIN_CFG_QL_OPTION_2_1));
    EXPECT_EQ(quorrin_fake_calls(), std::vector<std::string>{"quorrin_bmc_ql_option_update"});
    EXPECT_EQ(quorrin_cfg_get_ql_option(), QUORRIN_CFG_QL_OPTION_2_1);
    cfg_notify("g/f/ql-option", NODRA_EVENT_SET, cfg_number(QUORRIN_CFG_QL_OPTION_2_2),
               cfg_number(QUORRIN_CFG_QL_OPTION_2_1));
    EXPECT_EQ(quorrin_cfg_get_ql_option(), QUORRIN_CFG_QL_OPTION_2_2);
    // A Create without a value, and a delete, give option 1.
    cfg_create("g/f/ql-option", cfg_none());
    EXPECT_EQ(quorrin_cfg_get_ql_option(), QUORRIN_CFG_QL_OPTION_1);
    EXPECT_EQ(config_lines().back(), "CONFIG: FSync QL option config Create event. New value Opt-1");
    EXPECT_EQ(quorrin_cfg_get_applied_config_counter(), 0u);

    // The profile's "aza" row has no handler: accepted, nothing happens.
    quorrin_fake_calls().clear();
    cfg_create("ptp/pi/profile/p1/aza", cfg_number(1));
    EXPECT_TRUE(quorrin_fake_calls().empty());
    EXPECT_EQ(quorrin_cfg_get_applied_config_counter(), 0u);
    EXPECT_FALSE(quorrin_cfg_is_enabled());
}

TEST_F(Config, DeletesRestoreTheDefaultsAndTheLastOneDisablesThePlatform)
{
    const cfg_value_type eui = cfg_tuple("%d%d%d%d%S", 0x11, 2, 0, 0, 0, "0011223344556677");
    const cfg_value_type profile = cfg_tuple("%d%d", 3, PTP_PROFILE_G8275_2, PTP_TELECOM_CLOCK_T_TSC);
    cfg_create("ptp/pi/clock/identity", eui);
    cfg_create("ptp/pi/clock/profile", profile);
    cfg_create("ptp/pi/clock/timescale", cfg_number(PTP_TIMESCALE_PTP));
    cfg_create("ptp/pi/clock/timesource", cfg_number(0x20));
    cfg_create("ptp/pi/clock/priority1", cfg_number(10));
    EXPECT_EQ(quorrin_cfg_get_applied_config_counter(), 5u);

    // A Set of an existing item changes the value but not the count.
    cfg_notify("ptp/pi/clock/priority1", NODRA_EVENT_SET, cfg_number(11), cfg_number(10));
    EXPECT_EQ(quorrin_cfg_get_priority1(), 11u);
    EXPECT_EQ(quorrin_cfg_get_applied_config_counter(), 5u);
    EXPECT_EQ(config_lines().back(), "CONFIG: Clock priority1 config Set event: 10 -> 11.");

    quorrin_fake_calls().clear();
    cfg_remove("ptp/pi/clock/identity", eui);
    EXPECT_EQ(quorrin_cfg_get_clock_id(), ROUTER_ID) << "back to the router's MAC address";
    cfg_remove("ptp/pi/clock/profile", profile);
    EXPECT_EQ(quorrin_cfg_get_profile(), PTP_PROFILE_DEFAULT);
    EXPECT_EQ(quorrin_cfg_get_telecom_clock_type(), PTP_TELECOM_CLOCK_T_BC);
    EXPECT_FALSE(quorrin_cfg_is_profile_set());
    cfg_remove("ptp/pi/clock/timescale", cfg_number(PTP_TIMESCALE_PTP));
    bool set = true;
    uint8_t v = 0;
    quorrin_cfg_get_timescale(&set, &v);
    EXPECT_FALSE(set);
    EXPECT_EQ(v, PTP_TIMESCALE_ARB);
    cfg_remove("ptp/pi/clock/timesource", cfg_number(0x20));
    quorrin_cfg_get_time_source(&set, &v);
    EXPECT_FALSE(set);
    EXPECT_EQ(v, 0x10u);
    EXPECT_TRUE(quorrin_cfg_is_enabled());
    cfg_remove("ptp/pi/clock/priority1", cfg_number(11));
    EXPECT_EQ(quorrin_cfg_get_priority1(), 128u);
    EXPECT_FALSE(quorrin_cfg_is_priority1_set());
    EXPECT_EQ(quorrin_cfg_get_applied_config_counter(), 0u);
    EXPECT_FALSE(quorrin_cfg_is_enabled());
    EXPECT_EQ(quorrin_fake_calls(),
              (std::vector<std::string>{"quorrin_bmc_clock_id_update", "quorrin_bmc_profile_update",
                                        "quorrin_platform_settings_update", "quorrin_leap_seconds_profile_update 0",
                                        "quorrin_bmc_timescale_update", "quorrin_bmc_time_source_update",
                                        "quorrin_platform_disable", "quorrin_bmc_priority_update"}));

    // Any item afterwards enables the platform again; an extra delete never goes below zero.
    cfg_create("ptp/pi/verify-checksum", cfg_none());
    EXPECT_TRUE(quorrin_cfg_is_enabled());
    cfg_remove("ptp/pi/verify-checksum", cfg_none());
    cfg_remove("ptp/pi/verify-checksum", cfg_none());
    EXPECT_EQ(quorrin_cfg_get_applied_config_counter(), 0u);
}

TEST_F(Config, AValueThatCannotHavePassedVerificationIsLeftOutAndTheControllerKeepsRunning)
{
    struct case_type {
        const char *path;
        cfg_value_type value;
    };
    quorrin_fake_platform().supports_servo_slow_tracking = true;
    const case_type cases[] = {
        {"ptp/pi/clock/domain", cfg_number(256)},
        {"ptp/pi/clock/priority1", cfg_number(256)},
        {"ptp/pi/servo-slow-tracking", cfg_number(12)},
        {"ptp/pi/holdover-duration", cfg_number(30)},
        {"ptp/pi/clock/profile", cfg_tuple("%d%d", 3, PTP_PROFILE_DEFAULT, PTP_TELECOM_CLOCK_T_GM)},
        {"ptp/pi/clock/profile", cfg_tuple("%d%d", 1, PTP_PROFILE_G8275_1, 0)},
        {"ptp/pi/clock/identity", cfg_tuple("%d%d%d%d%S", 0x11, 2, 0, 0, 0, "FFFFFFFFFFFFFFFF")},
        {"ptp/pi/clock/identity", cfg_tuple("%d%d%d%d%S", 0x3, 1, 0x0A0B, 0, 0, "")},
        {"ptp/pi/leap-second/scheduled-offset/2027-02-30", cfg_number(38)},
        {"ptp/pi/transparent-clock/domain/5", cfg_none()},
        {"ptp/pi/profile/p1/cos", cfg_number(8)},
        {"ptp/pi/profile/p1/announce-timeout", cfg_number(11)},
    };
    for (const case_type &c : cases) {
        SCOPED_TRACE(c.path);
        debug_capture_clear();
        cfg_create(c.path, c.value);
        EXPECT_TRUE(quorrin_fake_calls().empty());
        EXPECT_EQ(quorrin_cfg_get_applied_config_counter(), 0u);
        ASSERT_FALSE(config_lines().empty());
        EXPECT_NE(config_lines().back().find("[ERROR] Ignoring Create of configuration item"), std::string::npos);
    }
    EXPECT_EQ(quorrin_cfg_get_domain(), 0u);
    EXPECT_EQ(quorrin_cfg_get_clock_id(), 0u) << "not even started: no identity computed";
}

// ---- Per-profile items ---------------------------------------------------------------------------------

TEST_F(Config, EveryProfileItemIsCheckedCountedAndLoggedButNothingElse)
{
    struct case_type {
        const char *path;
        cfg_value_type value;
        const char *line; // the debug line of its create
    };
    const case_type cases[] = {
        {"ptp/pi/profile/p1/transport", cfg_number(2),
         "CONFIG: [Profile p1]: Encap config Create event: (Not Set) 0 -> 2."},
        {"ptp/pi/profile/p1/clock-operation", cfg_number(1),
         "CONFIG: [Profile p1]: Clock-operation config Create event: Not Set -> One-Step."},
        {"ptp/pi/profile/p1/announce-interval", cfg_tuple("%d%d", 3, 0, 2),
         "CONFIG: [Profile p1]: Announce Interval config Create event: (Not Set) 0 -> 2."},
        {"ptp/pi/profile/p1/sync-interval", cfg_tuple("%d%d", 0, 0, 0), nullptr},
        {"ptp/pi/profile/p1/announce-timeout", cfg_number(3),
         "CONFIG: [Profile p1]: Announce timeout config Create event: (Not Set) 0 -> 3."},
        {"ptp/pi/profile/p1/delay-request-minimum-interval", cfg_tuple("%d%d", 0, 0, 0), nullptr},
        {"ptp/pi/profile/p1/multicast", cfg_tuple("%d%d%s", 1, PTP_TRANSPORT_MIXED, 0, ""), nullptr},
        {"ptp/pi/profile/p1/port-state", cfg_number(1),
         "CONFIG: [Profile p1]: Port State config Create event: Not Set -> Slave only."},
        {"ptp/pi/profile/p1/local-priority", cfg_number(100),
         "CONFIG: Local priority config Create event: Not Set 0 -> 100."},
        {"ptp/pi/profile/p1/source-ipv4-address", cfg_tuple("%d%s", 3, 1, "192.0.2.1"),
         "CONFIG: [Profile p1]: Source IP address config Create event: Not Set -> 192.0.2.1."},
        {"ptp/pi/profile/p1/source-ipv6-address", cfg_tuple("%d%s", 3, 1, "2001:db8::1"), nullptr},
        {"ptp/pi/profile/p1/cos", cfg_number(5), "CONFIG: [Profile p1]: CoS config Create event: (Not Set) 0 -> 5."},
        {"ptp/pi/profile/p1/general-cos", cfg_number(6),
         "CONFIG: [Profile p1]: CoS config Create event: (Not Set) 0 -> 6."},
        {"ptp/pi/profile/p1/event-cos", cfg_number(7),
         "CONFIG: [Profile p1]: CoS config Create event: (Not Set) 0 -> 7."},
        {"ptp/pi/profile/p1/dscp", cfg_number(46), nullptr},
        {"ptp/pi/profile/p1/general-dscp", cfg_number(46), nullptr},
        {"ptp/pi/profile/p1/event-dscp", cfg_number(46), nullptr},
        {"ptp/pi/profile/p1/ipv4-ttl", cfg_number(64),
         "CONFIG: [Profile p1]: IPv4 TTL config Create event: (Not set) 0 -> 64."},
        {"ptp/pi/profile/p1/ipv6-hop-limit", cfg_number(64), nullptr},
        {"ptp/pi/profile/p1/announce-grant-duration", cfg_number(300),
         "CONFIG: [Profile p1]: Announce unicast grant duration config Create event: (Not Set) 0 -> 300."},
        {"ptp/pi/profile/p1/sync-grant-duration", cfg_number(300), nullptr},
        {"ptp/pi/profile/p1/delay-response-grant-duration", cfg_number(300), nullptr},
        {"ptp/pi/profile/p1/sync-timeout", cfg_number(1000), nullptr},
        {"ptp/pi/profile/p1/delay-response-timeout", cfg_number(1000), nullptr},
        {"ptp/pi/profile/p1/unicast-grant-invalid-request", cfg_number(1),
         "CONFIG: [Profile p1]: Invalid grant deny config Create event: Not Set -> Deny."},
        {"ptp/pi/profile/p1/delay-asymmetry", cfg_tuple("%d%d", 0, 0, 0), nullptr},
        {"ptp/pi/profile/p1/master-table/2/-/192.0.2.9/enable", cfg_none(),
         "CONFIG: [Profile p1]: Master IPv4 192.0.2.9 enable config Create event."},
        {"ptp/pi/profile/p1/master-table/2/-/192.0.2.9/priority", cfg_number(3), nullptr},
        {"ptp/pi/profile/p1/master-table/2/-/192.0.2.9/clock-class", cfg_number(6), nullptr},
        {"ptp/pi/profile/p1/master-table/2/-/192.0.2.9/non-negotiated", cfg_none(), nullptr},
        {"ptp/pi/profile/p1/master-table/2/-/192.0.2.9/multicast", cfg_number(PTP_TRANSPORT_MIXED), nullptr},
        {"ptp/pi/profile/p1/master-table/2/-/192.0.2.9/delay-asymmetry", cfg_tuple("%d%d", 0, 0, 0), nullptr},
        {"ptp/pi/profile/p1/slave-table/1/1.2.3/-/non-negotiated", cfg_none(), nullptr},
        {"ptp/pi/profile/p1/interop/ord_1/profile", cfg_number(PTP_PROFILE_G8275_1),
         "CONFIG: [Profile p1]: Interop profile config Create event: G.8275.1"},
        {"ptp/pi/profile/p1/interop/ord_2/domain", cfg_number(24), nullptr},
        {"ptp/pi/profile/p1/interop/ord_3/ingress/priority1", cfg_number(128), nullptr},
        {"ptp/pi/profile/p1/interop/ord_3/egress/priority2", cfg_number(128),
         "CONFIG: [Profile p1]: Interop egress priority2 config Create event: 128"},
        {"ptp/pi/profile/p1/interop/ord_3/ingress/clock-accuracy", cfg_number(0x21), nullptr},
        {"ptp/pi/profile/p1/interop/ord_3/egress/oslv", cfg_number(0x4E5D), nullptr},
        {"ptp/pi/profile/p1/interop/ord_3/ingress/clock-class", cfg_number(6), nullptr},
        {"ptp/pi/profile/p1/interop/ord_3/egress/clock-class-mapping-table/6", cfg_number(7),
         "CONFIG: [Profile p1]: Interop egress clock class mapping config Create event: 6->7"},
    };
    uint32_t count = 0;
    for (const case_type &c : cases) {
        SCOPED_TRACE(c.path);
        debug_capture_clear();
        cfg_create(c.path, c.value);
        EXPECT_EQ(quorrin_cfg_get_applied_config_counter(), ++count);
        ASSERT_FALSE(config_lines().empty());
        EXPECT_EQ(config_lines().back().find("[ERROR]"), std::string::npos) << config_lines().back();
        if (c.line != nullptr) {
            EXPECT_EQ(config_lines().back(), c.line);
        }
        // A Set of the same item outside the scan changes neither the count nor the platform.
        cfg_notify(c.path, NODRA_EVENT_SET, c.value, c.value);
        EXPECT_EQ(quorrin_cfg_get_applied_config_counter(), count);
    }
    // Nothing but the platform's enable: the agents apply these.
    EXPECT_EQ(quorrin_fake_calls(), std::vector<std::string>{"quorrin_platform_enable"});
    for (const case_type &c : cases) {
        cfg_remove(c.path, c.value);
    }
    EXPECT_EQ(quorrin_cfg_get_applied_config_counter(), 0u);
    EXPECT_EQ(quorrin_fake_calls(), (std::vector<std::string>{"quorrin_platform_enable", "quorrin_platform_disable"}));
}

// ---- Trace records ------------------------------------------------------------------------------------

// The controller's three trace buffers in a run directory of the test's own.
class ConfigTrace : public Config {
protected:
    void SetUp() override
    {
        Config::SetUp();
        run_dir = jotlog_test_run_dir_create("quorrin-cfg-test");
        ASSERT_EQ(ptp_jotlog_init(buffers, 3), 0u);
        ptp_jotlog_ctx_set(buffers[0], buffers[1], buffers[2]);
    }
    void TearDown() override
    {
        ptp_jotlog_ctx_set({}, {}, {});
        ptp_jotlog_close(buffers, 3);
        jotlog_test_run_dir_remove(run_dir);
        Config::TearDown();
    }
    std::string run_dir;
    ptp_jotlog_buffer_type buffers[3] = {{"ptp/quorrin/det", {1024, 8192, 0, 0}, nullptr},
                                         {"ptp/quorrin/sum", {1024, 8192, 0, 0}, nullptr},
                                         {"ptp/quorrin/unq", {0, 0, 64, 256}, nullptr}};
};

// A record as jotlog_test_records shows it: the point's id and its arguments, texts in quotes.
std::string record(const ptp_trace_point_type &point, const std::string &args)
{
    char id[32];
    std::snprintf(id, sizeof id, "0x%llx(", static_cast<unsigned long long>(ptp_trace_point_id(point)));
    return id + args + ")";
}

// Each handler writes the record its point's text reads (the values of its debug line) to the
// buffer its item names.
TEST_F(ConfigTrace, EachItemWritesTheRecordItsTextReads)
{
    struct case_type {
        const char *path;
        cfg_value_type value;
        const char *buffer;
        std::string line;
    };
    const char *det = "ptp/quorrin/det";
    const char *sum = "ptp/quorrin/sum";
    const std::string unset_then = "'Create','(Not Set) ',0,'',";
    const case_type cases[] = {
        {"ptp/pi/enable", cfg_number(1), sum, record(PTP_TRACE_QUORRIN_CFG_GLOBAL_ENABLE_CONFIG_EVENT, "'Create'")},
        {"ptp/log/pi/bmc/changes", cfg_none(), sum, record(PTP_TRACE_QUORRIN_CFG_GLOBAL_LOG_BMC_CHANGES, "'Create'")},
        {"ptp/pi/clock/identity", cfg_tuple("%d%d%d%d%S", 0x11, 2, 0, 0, 0, "0011223344556677"), det,
         record(PTP_TRACE_QUORRIN_CFG_CLOCK_IDENTITY_CONFIG_EVENT, unset_then + "4822678189205111")},
        {"ptp/pi/clock/domain", cfg_number(24), det,
         record(PTP_TRACE_QUORRIN_CFG_CLOCK_DOMAIN_CONFIG_EVENT, unset_then + "24")},
        {"ptp/pi/clock/priority2", cfg_number(20), det,
         record(PTP_TRACE_QUORRIN_CFG_CLOCK_PRIORITY_CONFIG_EVENT, "2," + unset_then + "20")},
        {"ptp/pi/clock/clock-class", cfg_number(6), det,
         record(PTP_TRACE_QUORRIN_CFG_CLOCK_CLASS_CONFIG_EVENT, unset_then + "6")},
        {"ptp/pi/clock/timescale", cfg_number(PTP_TIMESCALE_PTP), det,
         record(PTP_TRACE_QUORRIN_CFG_CLOCK_TIMESCALE_CONFIG_EVENT, "'Create','(Not Set) ','','','PTP'")},
        {"ptp/pi/clock/timesource", cfg_number(0x20), det,
         record(PTP_TRACE_QUORRIN_CFG_CLOCK_TIME_SOURCE_CONFIG, "'Create','(Not Set) ','','','GPS'")},
        {"ptp/pi/frequencypriority", cfg_number(7), det,
         record(PTP_TRACE_QUORRIN_CFG_FREQUENCY_PRIORITY_CONFIG_EVENT, unset_then + "7")},
        {"ptp/pi/timeofdaypriority", cfg_number(9), det,
         record(PTP_TRACE_QUORRIN_CFG_TIMEOFDAY_PRIORITY_CONFIG_EVENT, unset_then + "9")},
        {"ptp/pi/clock/profile", cfg_tuple("%d%d", 3, PTP_PROFILE_G8275_1, PTP_TELECOM_CLOCK_T_GM), det,
         record(PTP_TRACE_QUORRIN_CFG_CLOCK_PROFILE_CONFIG_EVENT, "'Create','','Not Set','','G.8275.1 (T-GM)'")},
        {"ptp/pi/min-clock-class", cfg_number(6), det,
         record(PTP_TRACE_QUORRIN_CFG_MIN_CLOCK_CLASS_CONFIG, "'Create',6")},
        {"ptp/pi/leap-second/source-file", cfg_tuple("%S%d", 3, "http://leap.example/list", 7), det,
         record(PTP_TRACE_QUORRIN_CFG_LEAP_SECOND_FILE_CONFIG, "'Create','(Not Set)',0,'http://leap.example/list',7")},
        {"ptp/pi/leap-second/scheduled-offset/2027-01-01", cfg_number(38), det,
         record(PTP_TRACE_QUORRIN_CFG_LEAP_SECOND_OFFSET_CONFIG,
                std::to_string(NODRA_EVENT_CREATE) + "," +
                    std::to_string(ptp_trace_leap_offset_pack(0, 1798761600, false)) + "," +
                    std::to_string(ptp_trace_leap_offset_pack(38, 1798761600, true)))},
        {"ptp/pi/virtual-port/enable", cfg_none(), sum,
         record(PTP_TRACE_QUORRIN_CFG_VIRTUAL_PORT_ENABLE_CONFIG, "'Create'")},
        {"ptp/pi/virtual-port/priority1", cfg_number(5), det,
         record(PTP_TRACE_QUORRIN_CFG_VIRTUAL_PORT_PRIORITY_CONFIG, "1," + unset_then + "5")},
        {"ptp/pi/virtual-port/clock-class", cfg_number(7), det,
         record(PTP_TRACE_QUORRIN_CFG_VIRTUAL_PORT_CLOCK_CLASS, unset_then + "7")},
        {"ptp/pi/virtual-port/clock-accuracy", cfg_number(0x21), det,
         record(PTP_TRACE_QUORRIN_CFG_VIRTUAL_PORT_CLOCK_ACCURACY, unset_then + "33")},
        {"ptp/pi/virtual-port/oslv", cfg_number(0x4E5D), det,
         record(PTP_TRACE_QUORRIN_CFG_VIRTUAL_PORT_CLOCK_OSLV, unset_then + "20061")},
        {"ptp/pi/virtual-port/local-priority", cfg_number(3), det,
         record(PTP_TRACE_QUORRIN_CFG_VIRTUAL_PORT_LOCAL_PRIORITY, unset_then + "3")},
        {"ptp/pi/uncalibrated-clock-class", cfg_tuple("%d%d", 3, 52, 1), det,
         record(PTP_TRACE_QUORRIN_CFG_UNCALIBRATED_CLOCK_CLASS_CONFIG, "'Create','(Not set) ',0,'FALSE','',52,'TRUE'")},
        {"ptp/pi/uncal-clock-class-deprecated", cfg_number(58), det,
         record(PTP_TRACE_QUORRIN_CFG_DEPRECATED_UNCALIBRATED_CLOCK_CLASS, "'Create','(Not set) ',0,'',58")},
        {"ptp/pi/uncal-time-traceable-override", cfg_none(), det,
         record(PTP_TRACE_QUORRIN_CFG_UNCALIBRATED_TIMETRACEABLE_OVERRIDE_CONFIG, "'Create'")},
        {"ptp/pi/startup-clock-class", cfg_number(248), det,
         record(PTP_TRACE_QUORRIN_CFG_STARTUP_CLOCK_CLASS_CONFIG, unset_then + "248")},
        {"ptp/pi/freerun-clock-class", cfg_number(187), det,
         record(PTP_TRACE_QUORRIN_CFG_FREERUN_CLASS_CONFIG_EVENT, unset_then + "187")},
        {"ptp/pi/double-failure-clock-class", cfg_number(165), det,
         record(PTP_TRACE_QUORRIN_CFG_DOUBLEFAILURE_CLOCK_CLASS_CONFIG, unset_then + "165")},
        {"ptp/pi/holdover-clock-class", cfg_number(7), det,
         record(PTP_TRACE_QUORRIN_CFG_HOLDOVER_CLOCK_CLASS_CONFIG, unset_then + "7")},
        {"ptp/pi/holdover-duration", cfg_number(900), det,
         record(PTP_TRACE_QUORRIN_CFG_HOLDOVER_DURATION_CONFIG_EVENT, unset_then + "900")},
        {"ptp/pi/holdover-time-traceable-override", cfg_none(), det,
         record(PTP_TRACE_QUORRIN_CFG_HOLDOVER_TIMETRACEABLE_OVERRIDE_CONFIG, "'Create'")},
        {"ptp/pi/physical-layer-freq", cfg_number(1), det,
         record(PTP_TRACE_QUORRIN_CFG_PHYSICAL_LAYER_FREQUENCY_CONFIG, "'Create'")},
        {"ptp/pi/network-type", cfg_number(1), det,
         record(PTP_TRACE_QUORRIN_CFG_NETWORK_TYPE_CONFIG_EVENT, "'Create'")},
        {"ptp/pi/servo-slow-tracking", cfg_number(16), det,
         record(PTP_TRACE_QUORRIN_CFG_SERVO_SLOW_TRACKING_CONFIG, unset_then + "16")},
        {"ptp/pi/verify-checksum", cfg_none(), det,
         record(PTP_TRACE_QUORRIN_CFG_VERIFY_CHECKSUM_EVENT_OCCURRED, "'Create'")},
        {"ptp/pi/apts", cfg_none(), det, record(PTP_TRACE_QUORRIN_CFG_ASSISTED_PARTIAL_TIMING_SUPPORT, "'Create'")},
        {"g/f/ql-option", cfg_number(QUORRIN_CFG_QL_OPTION_2_1), det,
         record(PTP_TRACE_QUORRIN_CFG_FSYNC_QL_OPTION_CONFIG, "'Create','Opt-II,1'")},
    };
    for (const case_type &c : cases) {
        SCOPED_TRACE(c.path);
        quorrin_cfg_shutdown(); // a new batch: its first handler writes the record
        quorrin_fake_reset();
        const size_t before = jotlog_test_records(c.buffer).size();
        cfg_create(c.path, c.value);
        const std::vector<std::string> records = jotlog_test_records(c.buffer, "'");
        ASSERT_EQ(records.size(), before + 1);
        EXPECT_EQ(records.back(), c.line);
    }
}

// Each per-profile handler writes its record to the detail buffer, the profile's name first.
TEST_F(ConfigTrace, EachProfileItemWritesTheRecordItsTextReads)
{
    struct case_type {
        std::string path;
        cfg_value_type value;
        std::string line;
    };
    const std::string master = "ptp/pi/profile/p1/master-table/2/-/192.0.2.9/";
    const case_type cases[] = {
        {"ptp/pi/profile/p1/transport", cfg_number(2),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_ENCAP_CONFIG_EVENT, "'p1','Create','(Not Set) ',0,'',2")},
        {"ptp/pi/profile/p1/clock-operation", cfg_number(1),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_CLOCKOPERATION_CONFIG_EVENT, "'p1','Create','Not Set','One-Step'")},
        {"ptp/pi/profile/p1/announce-interval", cfg_tuple("%d%d", 3, 0, 2),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_ANNOUNCE_INTERVAL_CONFIG_316, "'p1','Create','(Not Set) ',0,'',2")},
        {"ptp/pi/profile/p1/sync-interval", cfg_tuple("%d%d", 3, 0, 0),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_SYNC_INTERVAL_CONFIG_317, "'p1','Create','(Not Set) ',0,'',0")},
        {"ptp/pi/profile/p1/announce-timeout", cfg_number(3),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_ANNOUNCE_TIMEOUT_CONFIG, "'p1','Create','(Not Set) ',0,'',3")},
        {"ptp/pi/profile/p1/delay-request-minimum-interval", cfg_tuple("%d%d", 3, 0, 1),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_DELAYREQUEST_MINUMUM_INTERVAL, "'p1','Create','(Not Set) ',0,'',1")},
        {"ptp/pi/profile/p1/multicast", cfg_tuple("%d%d%s", 1, PTP_TRANSPORT_MIXED, 0, ""),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_MULTICAST_CONFIG_EVENT,
                "'p1','Create','(Not Set) -> Multicast Enabled Ethernet 011b.1900.0000'")},
        {"ptp/pi/profile/p1/port-state", cfg_number(1),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_PORT_STATE_CONFIG_321, "'p1','Create','Not Set','Slave only'")},
        {"ptp/pi/profile/p1/local-priority", cfg_number(100),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_LOCAL_PRIORITY_CONFIG, "'p1','Create','Not Set ',0,'',100")},
        {"ptp/pi/profile/p1/source-ipv4-address", cfg_tuple("%d%s", 3, 1, "192.0.2.1"),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_SOURCE_IP_CONFIG_323, "'p1','Create','Not Set','192.0.2.1'")},
        {"ptp/pi/profile/p1/source-ipv6-address", cfg_tuple("%d%s", 3, 1, "2001:db8::1"),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_SOURCE_IPV6_CONFIG_324, "'p1','Create','Not Set','2001:db8::1'")},
        {"ptp/pi/profile/p1/event-cos", cfg_number(7),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_COS_CONFIG_EVENT, "'p1','Create','(Not Set) ',0,'',7")},
        {"ptp/pi/profile/p1/dscp", cfg_number(46),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_DSCP_CONFIG_EVENT, "'p1','Create','(Not Set) ',0,'',46")},
        {"ptp/pi/profile/p1/ipv4-ttl", cfg_number(64),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_IPV4_TTL_CONFIG, "'p1','Create','(Not set) ',0,'',64")},
        {"ptp/pi/profile/p1/ipv6-hop-limit", cfg_number(32),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_IPV6_HOP_LIMIT, "'p1','Create','(Not set) ',0,'',32")},
        {"ptp/pi/profile/p1/announce-grant-duration", cfg_number(300),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_UNICAST_GRANT_DURATION,
                "'p1','Announce','Create','(Not Set) ',0,'',300")},
        {"ptp/pi/profile/p1/delay-response-timeout", cfg_number(1000),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_MESSAGE_TIMEOUT_CONFIG,
                "'p1','Delay-Resp','Create','(Not Set) ',0,'',1000")},
        {"ptp/pi/profile/p1/unicast-grant-invalid-request", cfg_number(1),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_INVALID_GRANT_DENY, "'p1','Create','Not Set','Deny'")},
        {"ptp/pi/profile/p1/delay-asymmetry", cfg_tuple("%d%d", 3, 1500, 0),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_PERPORT_DELAY_ASYMMETRY, "'p1','Create','(Not Set)','1500 nanoseconds'")},
        {(master + "enable"), cfg_none(),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_MASTER_ENABLE_CONFIG, "'p1','IPv4 192.0.2.9','Create'")},
        {(master + "priority"), cfg_number(3),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_MASTER_PRIORITY_CONFIG,
                "'p1','IPv4 192.0.2.9','Create','(Not Set)',0,'',3")},
        {(master + "clock-class"), cfg_number(6),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_MASTER_CLOCK_CLASS, "'p1','IPv4 192.0.2.9','Create','(Not Set)',0,'',6")},
        {(master + "non-negotiated"), cfg_none(),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_MASTER_NONNEGOTIATED_UNICAST,
                "'p1','IPv4 192.0.2.9','Create','(Not Set)','Non-negotiated'")},
        {(master + "multicast"), cfg_number(PTP_TRANSPORT_MIXED),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_MASTER_MULTICAST_CONFIG,
                "'p1','IPv4 192.0.2.9','Create','(Not Set)','Mixed-mode'")},
        {(master + "delay-asymmetry"), cfg_tuple("%d%d", 3, 2000000, 0),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_MASTER_DELAY_ASYMMETRY,
                "'p1','IPv4 192.0.2.9','Create','(Not Set)','2 milliseconds'")},
        {"ptp/pi/profile/p1/slave-table/1/1.2.3/-/non-negotiated", cfg_none(),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_SLAVE_NONNEGOTIATED_UNICAST,
                "'p1','Ethernet 0001.0002.0003','Create','(Not Set)','Non-negotiated'")},
        {"ptp/pi/profile/p1/interop/ord_1/profile", cfg_number(PTP_PROFILE_G8275_1),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_INTEROP_PROFILE_CONFIG, "'p1','Create','G.8275.1'")},
        {"ptp/pi/profile/p1/interop/ord_2/domain", cfg_number(24),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_INTEROP_DOMAIN_CONFIG, "'p1','Create',24")},
        {"ptp/pi/profile/p1/interop/ord_3/egress/priority2", cfg_number(128),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_INTEROP_PRIORITY_CONFIG, "'p1','egress',2,'Create',128")},
        {"ptp/pi/profile/p1/interop/ord_3/ingress/clock-accuracy", cfg_number(0x21),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_INTEROP_CLOCK_ACCURACY, "'p1','ingress','Create',33")},
        {"ptp/pi/profile/p1/interop/ord_3/egress/oslv", cfg_number(0x4E5D),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_INTEROP_OSLV_CONFIG, "'p1','egress','Create',20061")},
        {"ptp/pi/profile/p1/interop/ord_3/ingress/clock-class", cfg_number(6),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_INTEROP_DEFAULT_CLOCK, "'p1','ingress','Create',6")},
        {"ptp/pi/profile/p1/interop/ord_3/egress/clock-class-mapping-table/6", cfg_number(7),
         record(PTP_TRACE_QUORRIN_CFG_PROFILE_INTEROP_CLOCK_CLASS, "'p1','egress','Create',6,7")},
    };
    for (const case_type &c : cases) {
        SCOPED_TRACE(c.path);
        quorrin_cfg_shutdown();
        const size_t before = jotlog_test_records("ptp/quorrin/det").size();
        cfg_create(c.path.c_str(), c.value);
        const std::vector<std::string> records = jotlog_test_records("ptp/quorrin/det", "'");
        ASSERT_EQ(records.size(), before + 1);
        EXPECT_EQ(records.back(), c.line);
    }
}

// Only the batch's first handler writes its record, but for the items that always write theirs.
TEST_F(ConfigTrace, LaterItemsOfABatchWriteNoRecordButTheAlwaysTracedOnes)
{
    struct case_type {
        const char *path;
        cfg_value_type value;
        bool traced;
    };
    const case_type cases[] = {
        {"ptp/pi/clock/domain", cfg_number(24), true},
        {"ptp/pi/clock/clock-class", cfg_number(6), false},
        {"ptp/pi/min-clock-class", cfg_number(6), true},
        {"g/f/ql-option", cfg_number(QUORRIN_CFG_QL_OPTION_1), true},
        {"ptp/pi/profile/p1/cos", cfg_number(5), false},
        {"ptp/pi/profile/p1/interop/ord_2/domain", cfg_number(24), false},
    };
    quorrin_cfg_shutdown();
    for (const case_type &c : cases) {
        SCOPED_TRACE(c.path);
        const size_t before = jotlog_test_records("ptp/quorrin/det").size();
        cfg_create(c.path, c.value);
        EXPECT_EQ(jotlog_test_records("ptp/quorrin/det").size(), before + (c.traced ? 1 : 0));
    }
    // The log-BMC-changes item always writes to the summary buffer.
    cfg_create("ptp/log/pi/bmc/changes", cfg_none());
    EXPECT_EQ(jotlog_test_records("ptp/quorrin/sum", "'"),
              std::vector<std::string>{record(PTP_TRACE_QUORRIN_CFG_GLOBAL_LOG_BMC_CHANGES, "'Create'")});
}

// ---- Against the database: start-up scan, batches, overlapping registrations ---------------------------

class ConfigDatabase : public Config {
protected:
    void SetUp() override
    {
        Config::SetUp();
        nodra_test_reset();
        library = std::string(nodra_test_server_store()) + ".lib";
        std::fclose(std::fopen(library.c_str(), "w"));
        nodra_test_set_client_library_path(library.c_str());
    }
    void TearDown() override
    {
        Config::TearDown();
        EXPECT_EQ(nodra_test_open_bindings(), 0u);
        nodra_test_reset();
        std::remove(library.c_str());
    }
    void seed(const std::string &path, const cfg_value_type &v)
    {
        ASSERT_EQ(nodra_test_item_set(("/cfg/gl/" + path).c_str(), v.type != 0 ? v.type : NODRA_ITEM_DATATYPE_UINT32,
                                      v.bytes.data(), static_cast<uint32_t>(v.bytes.size())),
                  0u);
    }
    struct op_type {
        std::string path; // below /cfg/gl/
        bool remove;
        cfg_value_type value;
    };
    void commit(const std::vector<op_type> &ops)
    {
        nodra_commit_td *c = nullptr;
        ASSERT_EQ(nodra_commit_create(&c), 0u);
        for (const op_type &op : ops) {
            const std::string path = "/cfg/gl/" + op.path;
            if (op.remove) {
                ASSERT_EQ(nodra_commit_delete(c, path.c_str()), 0u);
            } else {
                const cfg_value_type v = op.value.type != 0 ? op.value : cfg_number(1);
                ASSERT_EQ(
                    nodra_commit_set(c, path.c_str(), v.type, v.bytes.data(), static_cast<uint32_t>(v.bytes.size())),
                    0u);
            }
        }
        nodra_commit_result_td result;
        ASSERT_EQ(nodra_commit_apply(c, &result), 0u);
        EXPECT_EQ(result.outcome, NODRA_COMMIT_RESULT_APPLIED);
        nodra_commit_free(c);
        ASSERT_EQ(nodra_test_sync(evm), 0u);
        evm_run_until_idle(evm);
    }
    std::string library;
};

TEST_F(ConfigDatabase, TheStartUpScanAppliesEveryExistingItemWithoutCallingTheOtherModules)
{
    seed("ptp/pi/enable", cfg_number(1));
    seed("ptp/pi/clock/domain", cfg_number(24));
    seed("ptp/pi/clock/priority1", cfg_number(10));
    seed("ptp/pi/clock/timescale", cfg_number(PTP_TIMESCALE_PTP));
    seed("ptp/pi/clock/profile", cfg_tuple("%d%d", 3, PTP_PROFILE_G8275_2, PTP_TELECOM_CLOCK_T_BC));
    seed("ptp/pi/physical-layer-freq", cfg_number(1));
    seed("ptp/pi/transparent-clock/domain/all", cfg_number(1));
    seed("ptp/pi/profile/p1/cos", cfg_number(5));
    seed("ptp/log/pi/bmc/changes", cfg_number(1));
    seed("freqsync/g/f/ql-option", cfg_number(QUORRIN_CFG_QL_OPTION_2_2));

    ASSERT_EQ(quorrin_cfg_init(evm), 0u);
    EXPECT_FALSE(quorrin_cfg_is_scanning());
    // Every item counted once, although "ptp/pi/enable" is under two registrations; the QL option
    // counts nothing.
    EXPECT_EQ(quorrin_cfg_get_applied_config_counter(), 9u);
    EXPECT_TRUE(quorrin_cfg_is_enabled());
    EXPECT_EQ(quorrin_cfg_get_domain(), 24u);
    EXPECT_EQ(quorrin_cfg_get_priority1(), 10u);
    EXPECT_EQ(quorrin_cfg_get_profile(), PTP_PROFILE_G8275_2);
    EXPECT_TRUE(quorrin_cfg_get_log_bmc_changes());
    EXPECT_EQ(quorrin_cfg_get_ql_option(), QUORRIN_CFG_QL_OPTION_2_2);
    EXPECT_EQ(quorrin_cfg_get_clock_id(), ROUTER_ID);
    bool set = false;
    uint8_t timescale = 1;
    quorrin_cfg_get_timescale(&set, &timescale);
    EXPECT_TRUE(set) << "replayed as Create alone, still configured";
    // Selection and the driver read the stored values when they start; only these are told now.
    EXPECT_EQ(quorrin_fake_calls(),
              (std::vector<std::string>{"quorrin_platform_enable", "quorrin_leap_seconds_profile_update 3",
                                        "quorrin_bmc_network_options_update",
                                        "quorrin_platform_transparent_clock_update 1"}));
    const uint32_t *counters = quorrin_stats_get_event_counters();
    EXPECT_EQ(counters[QUORRIN_GL_EVENT_BIND_GLOBAL], 1u);
    EXPECT_EQ(counters[QUORRIN_GL_EVENT_REG_ENABLE_VRFN], 1u);
    EXPECT_EQ(counters[QUORRIN_GL_EVENT_REG_GLOBAL_VRFN], 2u);

    quorrin_cfg_shutdown();
    EXPECT_EQ(quorrin_fake_calls().back(), "quorrin_platform_disable");
    EXPECT_EQ(quorrin_stats_get_event_counters()[QUORRIN_GL_EVENT_UNBIND_GLOBAL], 1u);
    EXPECT_EQ(quorrin_cfg_get_applied_config_counter(), 0u);
}

TEST_F(ConfigDatabase, CommitsApplyDeletesFirstAndAnItemUnderTwoRegistrationsOnce)
{
    ASSERT_EQ(quorrin_cfg_init(evm), 0u);
    EXPECT_EQ(quorrin_cfg_get_applied_config_counter(), 0u);

    commit({{"ptp/pi/enable", false, cfg_number(1)}, {"ptp/pi/clock/priority1", false, cfg_number(10)}});
    EXPECT_EQ(quorrin_cfg_get_applied_config_counter(), 2u);
    size_t enables = 0;
    for (const std::string &line : config_lines()) {
        enables += line.find("Global Enable config") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(enables, 1u) << "one apply of the enable item";

    // priority1 goes, domain comes: the delete is applied first although it is listed after.
    quorrin_fake_calls().clear();
    commit({{"ptp/pi/clock/domain", false, cfg_number(24)}, {"ptp/pi/clock/priority1", true, {}}});
    EXPECT_EQ(quorrin_fake_calls(),
              (std::vector<std::string>{"quorrin_bmc_priority_update", "quorrin_bmc_domain_update"}));
    EXPECT_EQ(quorrin_cfg_get_applied_config_counter(), 2u);

    // A change arrives as Set: applied, not counted again.
    commit({{"ptp/pi/clock/domain", false, cfg_number(25)}});
    EXPECT_EQ(quorrin_cfg_get_domain(), 25u);
    EXPECT_EQ(quorrin_cfg_get_applied_config_counter(), 2u);

    quorrin_fake_calls().clear();
    commit({{"ptp/pi/enable", true, {}}, {"ptp/pi/clock/domain", true, {}}});
    EXPECT_EQ(quorrin_cfg_get_applied_config_counter(), 0u);
    EXPECT_EQ(quorrin_fake_calls(),
              (std::vector<std::string>{"quorrin_platform_disable", "quorrin_bmc_domain_update"}));
}

TEST_F(ConfigDatabase, TheDatabaseSendsANewItemAsCreateAloneAndAChangeAsSet)
{
    // What the handlers rely on, seen from a registration of our own.
    nodra_conn_td *conn = nullptr;
    ASSERT_EQ(nodra_bind(&conn, "/cfg/gl/", 0), 0u);
    static std::vector<uint32_t> events;
    events.clear();
    uint32_t id = 0;
    ASSERT_EQ(nodra_register_notification(
                  conn, "ptp/pi/clock/", NODRA_EVENT_CREATE | NODRA_EVENT_SET | NODRA_EVENT_DELETE, 0,
                  [](const nodra_notify_event_info_td *e, void *, const void *) -> zerrno {
                      events.push_back(e->event);
                      return 0;
                  },
                  evm, nullptr, nullptr, 0, &id),
              0u);
    ASSERT_EQ(quorrin_cfg_init(evm), 0u);
    commit({{"ptp/pi/clock/timescale", false, cfg_number(PTP_TIMESCALE_PTP)}});
    bool set = false;
    uint8_t v = 9;
    quorrin_cfg_get_timescale(&set, &v);
    EXPECT_TRUE(set);
    EXPECT_EQ(v, PTP_TIMESCALE_PTP);
    commit({{"ptp/pi/clock/timescale", false, cfg_number(PTP_TIMESCALE_ARB)}});
    quorrin_cfg_get_timescale(&set, &v);
    EXPECT_TRUE(set);
    EXPECT_EQ(v, PTP_TIMESCALE_ARB);
    commit({{"ptp/pi/clock/timescale", true, {}}});
    quorrin_cfg_get_timescale(&set, &v);
    EXPECT_FALSE(set);
    EXPECT_EQ(events, (std::vector<uint32_t>{NODRA_EVENT_CREATE, NODRA_EVENT_SET, NODRA_EVENT_DELETE}));
    EXPECT_EQ(nodra_notification_unregister(id), 0u);
    EXPECT_EQ(nodra_unbind(conn), 0u);
}

TEST_F(ConfigDatabase, WithoutTheDatabaseLibraryStartUpFailsWithItsText)
{
    nodra_test_set_client_library_path("/nonexistent/quorrin_cfg_test/libnodra.so");
    EXPECT_EQ(quorrin_cfg_init(evm), NODRA_ERR_BIND_NO_LIBRARY);
    EXPECT_FALSE(quorrin_cfg_is_scanning());
    ASSERT_FALSE(qor_errmsg_captured().empty());
    EXPECT_EQ(
        qor_errmsg_captured().back().text.rfind("Failed to initialize: Failed to bind to global Nodra bindpoint: ", 0),
        0u);
    EXPECT_EQ(quorrin_stats_get_event_counters()[QUORRIN_GL_EVENT_BIND_GLOBAL_FAILED], 1u);
}

} // namespace
