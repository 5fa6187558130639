// The platform driver over the library's scripted mode: capabilities, bring-up and take-down,
// the servo, the slave update, queued UTC offsets, the library's callbacks and the conversion of
// clock properties.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "evm.h"
#include "jotlog_test.h"
#include "plat_debug.h"
#include "ptp_debug.h"
#include "ptp_platform_test.h"
#include "ptp_zerr_codes.h"
#include "qor_log.h"
#include "quorrin_cfg_items.h"
#include "quorrin_debug.h"
#include "quorrin_fakes.h"
#include "quorrin_platform.h"

namespace {

debug_event_type debug_table[QUORRIN_DEBUG_AREA_COUNT];

std::vector<std::string> syslog_texts()
{
    std::vector<std::string> out;
    for (const qor_captured_msg &m : qor_errmsg_captured()) {
        out.push_back(m.text);
    }
    return out;
}

std::vector<std::string> debug_lines_with(const std::string &part)
{
    std::vector<std::string> out;
    for (const std::string &line : debug_captured()) {
        if (line.find(part) != std::string::npos) {
            out.push_back(line);
        }
    }
    return out;
}

ptp_platform_capability_info_type caps(uint16_t flags)
{
    ptp_platform_capability_info_type info{};
    info.flags = flags;
    info.holdover_duration_min = 60;
    info.holdover_duration_max = 3600;
    return info;
}

class PlatformDriver : public ::testing::Test {
protected:
    void SetUp() override
    {
        quorrin_fake_reset();
        ptp_platform_test_reset();
        ptp_platform_test_set_scripted(true);
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_EQ(ptp_debug_register(evm, debug_table, quorrin_debug_areas, QUORRIN_DEBUG_AREA_COUNT, nullptr), 0u);
        debug_set_area(PTP_DEBUG_PATH, "platform", nullptr);
        debug_capture_clear();
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();
        ptp_platform_test_set_capability(2, caps(PTP_PLATFORM_CAP_SLAVE | PTP_PLATFORM_CAP_PTP));
        ptp_platform_clock_init_info_type clock{};
        clock.version = 1;
        clock.clock.clock_active = 1;
        ptp_platform_test_set_clock_init(clock);
    }
    void TearDown() override
    {
        quorrin_cfg_shutdown();
        quorrin_platform_disable();
        quorrin_platform_stop();
        ptp_platform_test_reset();
        ptp_debug_cleanup();
        event_manager_destroy(evm);
    }
    // Capabilities read, configuration present, start-up done: the platform comes up.
    void bring_up()
    {
        ASSERT_EQ(quorrin_platform_capability_init(evm), 0u);
        ASSERT_EQ(quorrin_platform_enable(), 0u);
        ASSERT_EQ(quorrin_platform_start(evm), 0u);
        ASSERT_TRUE(quorrin_platform_is_initialised());
        ptp_platform_test_calls_clear();
        quorrin_fake_calls().clear();
        debug_capture_clear();
    }
    void set_gm(uint32_t best_source)
    {
        quorrin_fake_bmc_type &bmc = quorrin_fake_bmc();
        bmc.has_gm = true;
        bmc.gm_clock.frequency_traceable = 1;
        bmc.gm_clock.time_traceable = 0;
        bmc.gm_clock.timescale = PTP_TIMESCALE_PTP;
        bmc.gm.best_source = best_source;
        bmc.gm.ifhandle = 0x01000100;
        bmc.gm.delay_asymmetry = -250;
        bmc.gm.ql = {1, 22};
    }

    event_mgr_type *evm = nullptr;
};

TEST_F(PlatformDriver, CapabilitiesAreReadOnceAndTheirVersionDecidesWhatIsSupported)
{
    struct case_type {
        uint32_t version;
        zerrno init_rc; // of the library's init
        zerrno expect;
        const char *syslog; // "" for none
        bool g8275_1;
    } cases[] = {
        {0, 0, 0, "", true},
        {2, 0, 0, "", false},
        {3, 0, PTP_ZERR_INVALID_ARG,
         "Failed to initialize: Failed to initialize platform capabilities: Unsupported API version", false},
        {2, PTP_PLATFORM_ERR_NO_NODE, PTP_PLATFORM_ERR_NO_NODE,
         "Failed to initialize: Failed to initialize platform capabilities: ", false},
    };
    for (const case_type &c : cases) {
        SCOPED_TRACE(c.version);
        qor_errmsg_capture_clear();
        ptp_platform_test_set_capability(c.version, caps(PTP_PLATFORM_CAP_SLAVE));
        ptp_platform_test_set_result(ptp_platform_test_op::CAPABILITY_INIT, c.init_rc);
        EXPECT_EQ(quorrin_platform_capability_init(evm), c.expect);
        const std::vector<std::string> texts = syslog_texts();
        if (*c.syslog == '\0') {
            EXPECT_TRUE(texts.empty());
            EXPECT_EQ(quorrin_platform_supports_profile(PTP_PROFILE_G8275_1), c.g8275_1);
            EXPECT_TRUE(quorrin_platform_supports_profile(PTP_PROFILE_DEFAULT));
            EXPECT_FALSE(quorrin_platform_supports_profile(4));
            EXPECT_TRUE(quorrin_platform_supports_slave());
        } else {
            ASSERT_EQ(texts.size(), 1u);
            EXPECT_EQ(texts[0].rfind(c.syslog, 0), 0u) << texts[0];
        }
    }
    ptp_platform_test_set_result(ptp_platform_test_op::CAPABILITY_INIT, 0);

    ptp_platform_test_set_capability(2, caps(PTP_PLATFORM_CAP_HOLDOVER_DURATION));
    ASSERT_EQ(quorrin_platform_capability_init(evm), 0u);
    uint32_t min = 0;
    uint32_t max = 0;
    EXPECT_TRUE(quorrin_platform_get_holdover_duration_range(&min, nullptr));
    EXPECT_TRUE(quorrin_platform_get_holdover_duration_range(nullptr, &max));
    EXPECT_EQ(min, 60u);
    EXPECT_EQ(max, 3600u);
}

TEST_F(PlatformDriver, ThePlatformComesUpOnlyOnceConfiguredAndStartedAndGoesDownInOrder)
{
    ASSERT_EQ(quorrin_platform_capability_init(evm), 0u);
    ptp_platform_test_calls_clear();
    ASSERT_EQ(quorrin_platform_start(evm), 0u);
    EXPECT_TRUE(ptp_platform_test_calls().empty()) << "no configuration yet";
    ASSERT_EQ(quorrin_platform_enable(), 0u);
    EXPECT_EQ(ptp_platform_test_calls(),
              (std::vector<std::string>{"servo_init", "clock_init", "clock_settings_update"}));
    EXPECT_EQ(ptp_platform_test_last_servo_init().context, reinterpret_cast<uint64_t>(evm));
    EXPECT_EQ(ptp_platform_test_last_clock_init().slave.gm_available, 0u);
    ASSERT_EQ(quorrin_fake_bmc().platform_updates.size(), 1u);
    const quorrin_fake_bmc_type::platform_update_type &update = quorrin_fake_bmc().platform_updates[0];
    EXPECT_EQ(update.from_init, 1u);
    EXPECT_EQ(update.active, 1u);
    EXPECT_EQ(update.local.mask, 0xFFFu);
    EXPECT_TRUE(update.has_selection) << "clock API version 1 has a selection input clock";
    EXPECT_TRUE(quorrin_platform_supports_seln_local_clock());

    ASSERT_EQ(quorrin_platform_servo_start(true, true, -4, -4, 0, 0, 0, 0), 1u);
    ptp_platform_test_calls_clear();
    quorrin_platform_disable();
    EXPECT_EQ(ptp_platform_test_calls(),
              (std::vector<std::string>{"capability_shutdown", "servo_stop", "clock_shutdown", "servo_shutdown"}));
    EXPECT_FALSE(quorrin_platform_is_initialised());
    EXPECT_FALSE(quorrin_platform_is_servo_started());
    EXPECT_FALSE(quorrin_platform_supports_seln_local_clock());
    EXPECT_TRUE(quorrin_platform_supports_slave()) << "the capability record stays";
}

TEST_F(PlatformDriver, AControllerWithoutTheActiveRoleLeavesTheServoAlone)
{
    quorrin_fake_ha_role() = 2;
    bring_up();
    EXPECT_EQ(ptp_platform_test_call_count(ptp_platform_test_op::SERVO_INIT), 0u);
    EXPECT_EQ(quorrin_platform_servo_start(true, true, 0, 0, 0, 0, 0, 0), 0u);
    quorrin_fake_ha_role() = 1;
    quorrin_fake_main().kvolm_or_lc = false;
    EXPECT_EQ(quorrin_platform_servo_start(true, true, 0, 0, 0, 0, 0, 0), 0u);
    EXPECT_EQ(ptp_platform_test_call_count(ptp_platform_test_op::SERVO_START), 0u);
}

TEST_F(PlatformDriver, AClockOfAnUnknownVersionFailsInitAndALaterEnableInitialisesItAgain)
{
    ptp_platform_clock_init_info_type clock{};
    clock.version = 2;
    ptp_platform_test_set_clock_init(clock);
    ASSERT_EQ(quorrin_platform_capability_init(evm), 0u);
    ASSERT_EQ(quorrin_platform_start(evm), 0u);
    EXPECT_EQ(quorrin_platform_enable(), PTP_ZERR_INVALID_ARG);
    EXPECT_EQ(syslog_texts(),
              (std::vector<std::string>{
                  "Failed to initialize: Failed to initialize platform clock: Unsupported API version"}));
    EXPECT_FALSE(quorrin_platform_is_initialised());
    EXPECT_TRUE(quorrin_fake_bmc().platform_updates.empty());

    // The last item goes and configuration comes back on a library that is now understood.
    clock.version = 1;
    ptp_platform_test_set_clock_init(clock);
    quorrin_platform_disable();
    ptp_platform_test_calls_clear();
    ASSERT_EQ(quorrin_platform_enable(), 0u);
    EXPECT_EQ(ptp_platform_test_calls(), (std::vector<std::string>{"clock_init", "clock_settings_update"}));
    EXPECT_TRUE(quorrin_platform_is_initialised());
}

TEST_F(PlatformDriver, ServoOrClockInitFailureLeavesThePlatformDownWithItsSyslogText)
{
    ASSERT_EQ(quorrin_platform_capability_init(evm), 0u);
    ASSERT_EQ(quorrin_platform_start(evm), 0u);
    ptp_platform_test_set_result(ptp_platform_test_op::SERVO_INIT, PTP_PLATFORM_ERR_NO_CLOCK);
    EXPECT_EQ(quorrin_platform_enable(), PTP_PLATFORM_ERR_NO_CLOCK);
    ptp_platform_test_set_result(ptp_platform_test_op::SERVO_INIT, 0);
    ptp_platform_test_set_result(ptp_platform_test_op::CLOCK_INIT, PTP_PLATFORM_ERR_NO_CLOCK);
    quorrin_platform_disable();
    EXPECT_EQ(quorrin_platform_enable(), PTP_PLATFORM_ERR_NO_CLOCK);
    const std::string error = zerr_strerror(PTP_PLATFORM_ERR_NO_CLOCK);
    EXPECT_EQ(syslog_texts(), (std::vector<std::string>{
                                  "Failed to initialize: Failed to initialize platform servo: " + error,
                                  "Failed to initialize: Failed to initialize platform clock: " + error,
                              }));
    EXPECT_FALSE(quorrin_platform_is_initialised());
    EXPECT_EQ(ptp_platform_test_call_count(ptp_platform_test_op::CLOCK_SETTINGS_UPDATE), 0u);
}

TEST_F(PlatformDriver, AUtcOffsetUpdateBeforeThePlatformIsUpIsSentAfterItsInitAndOnlyTheNewest)
{
    ASSERT_EQ(quorrin_platform_capability_init(evm), 0u);
    const quorrin_platform_offset_info_type older{36, 1};
    const quorrin_platform_offset_info_type newer{37, 1};
    quorrin_platform_utc_offset_update(PTP_LEAP_61, &older);
    quorrin_platform_utc_offset_update(PTP_LEAP_NONE, &newer);
    EXPECT_EQ(ptp_platform_test_call_count(ptp_platform_test_op::CLOCK_LEAP_SECOND_UPDATE), 0u);
    EXPECT_EQ(debug_lines_with("Queuing").back(),
              "PLATFORM: Queuing a UTC offset update to be sent to platform once initialised. Leap seconds: None, "
              "UTC offset: +37 seconds (valid)");

    ASSERT_EQ(quorrin_platform_enable(), 0u);
    ASSERT_EQ(quorrin_platform_start(evm), 0u);
    EXPECT_EQ(ptp_platform_test_call_count(ptp_platform_test_op::CLOCK_LEAP_SECOND_UPDATE), 1u);
    const ptp_platform_clock_leap_second_update_in_type sent = ptp_platform_test_last_leap_second_update();
    EXPECT_EQ(sent.utc_offset, 37);
    EXPECT_EQ(sent.leap_seconds, PTP_LEAP_NONE);
    EXPECT_EQ(sent.utc_offset_valid, 1u);
    // Once up, an update goes straight down.
    quorrin_platform_utc_offset_update(PTP_LEAP_59, &older);
    EXPECT_EQ(ptp_platform_test_call_count(ptp_platform_test_op::CLOCK_LEAP_SECOND_UPDATE), 2u);
}

TEST_F(PlatformDriver, TheSlaveUpdateCarriesTheGrandmasterOnlyWhenThePlatformIsToFollowIt)
{
    const std::string run_dir = jotlog_test_run_dir_create("quorrin-platform-test");
    ptp_jotlog_buffer_type buffers[] = {{"ptp/quorrin/det", {1024, 8192, 0, 0}, nullptr},
                                        {"ptp/quorrin/sum", {1024, 8192, 0, 0}, nullptr},
                                        {"ptp/quorrin/unq", {0, 0, 64, 256}, nullptr}};
    ASSERT_EQ(ptp_jotlog_init(buffers, 3), 0u);
    ptp_jotlog_ctx_set(buffers[0], buffers[1], buffers[2]);
    struct case_type {
        bool gm;
        uint32_t best_source;
        bool bit12;
        uint32_t gm_available;
        const char *line;
    } cases[] = {
        {false, 0, false, 0,
         "PLATFORM: Sending slave update to platform. Not sending grandmaster info (not present), APTS enabled"},
        {true, PTP_PLATFORM_BEST_SOURCE_LOCAL_CLOCK, false, 0,
         "PLATFORM: Sending slave update to platform. Not sending grandmaster info (local clock is best source), "
         "APTS enabled"},
        {true, PTP_PLATFORM_BEST_SOURCE_VIRTUAL_PORT, true, 1,
         "PLATFORM: Sending slave update to platform. Grandmaster available: Has freq yes, Has time no, Timescale "
         "PTP, Freq Pri 7, ToD Pri 9 QL Opt-I/PRC, Delay Asymmetry -250, Interface handle 0x01000100, APTS "
         "enabled, best source is virtual port"},
        {true, PTP_PLATFORM_BEST_SOURCE_FOREIGN_MASTER, false, 1, nullptr},
    };
    for (const case_type &c : cases) {
        SCOPED_TRACE(c.best_source);
        quorrin_fake_reset();
        quorrin_cfg_shutdown();
        cfg_create("ptp/pi/apts", cfg_none());
        cfg_create("ptp/pi/frequencypriority", cfg_number(7));
        cfg_create("ptp/pi/timeofdaypriority", cfg_number(9));
        const uint16_t flags = PTP_PLATFORM_CAP_SLAVE | (c.bit12 ? PTP_PLATFORM_CAP_GM_WHILE_LOCAL_BEST : 0);
        ptp_platform_test_set_capability(2, caps(flags));
        ASSERT_EQ(quorrin_platform_capability_init(evm), 0u);
        if (c.gm) {
            set_gm(c.best_source);
        }
        debug_capture_clear();
        ASSERT_EQ(quorrin_platform_slave_update(), 0u);
        const ptp_platform_clock_slave_update_in_type in = ptp_platform_test_last_slave_update();
        EXPECT_EQ(in.slave.gm_available, c.gm_available);
        EXPECT_EQ(in.apts_enabled, 1u);
        if (c.gm_available != 0) {
            EXPECT_EQ(in.slave.has_frequency, 1u);
            EXPECT_EQ(in.slave.has_time, 0u);
            EXPECT_EQ(in.slave.ifhandle, 0x01000100u);
            EXPECT_EQ(in.slave.delay_asymmetry, -250);
            EXPECT_EQ(in.slave.ql_option, 1u);
            EXPECT_EQ(in.slave.ql_value, 22u);
            EXPECT_EQ(in.best_source, c.best_source);
        } else {
            EXPECT_EQ(in.slave.ifhandle, 0u);
        }
        if (c.line != nullptr) {
            EXPECT_EQ(debug_lines_with("slave update"), (std::vector<std::string>{c.line}));
        }
    }
    // Nine values in the eight words a record holds: the has-frequency and has-time flags share a
    // word, the QL is packed as option << 16 | value.
    const std::vector<std::string> records = jotlog_test_records("ptp/quorrin/det");
    ptp_jotlog_ctx_set({}, {}, {});
    ptp_jotlog_close(buffers, 3);
    jotlog_test_run_dir_remove(run_dir);
    std::vector<std::string> gm_records;
    std::copy_if(records.begin(), records.end(), std::back_inserter(gm_records),
                 [](const std::string &r) { return r.rfind("0x8208002000d4", 0) == 0; });
    const std::string gm = "0x8208002000d4(1,PTP,7,9,65558,18446744073709551366,16777472,enabled)";
    EXPECT_EQ(gm_records, (std::vector<std::string>{gm, gm}));
}

TEST_F(PlatformDriver, TheServoStartsOnceWithItsRatesAndTakesTimeEntriesOnlyWhileRunning)
{
    bring_up();
    const uint8_t entry[24] = {1, 2, 3};
    quorrin_platform_servo_time_update(entry);
    EXPECT_TRUE(ptp_platform_test_time_updates().empty());

    struct case_type {
        int32_t log_interval;
        uint8_t rate;
    } rates[] = {{-4, 16}, {-7, 128}, {-8, 0}, {0, 1}, {3, 1}};
    for (const case_type &c : rates) {
        ASSERT_EQ(quorrin_platform_servo_start(false, true, c.log_interval, -1, PTP_PROFILE_G8275_1, 1, 1, 0), 1u);
        EXPECT_EQ(quorrin_platform_servo_start(true, true, 0, 0, 0, 0, 0, 0), 0u) << "already running";
        const ptp_platform_servo_start_in_type in = ptp_platform_test_last_servo_start();
        EXPECT_EQ(in.sync_rate, c.rate) << c.log_interval;
        EXPECT_EQ(in.delay_req_rate, 2u);
        EXPECT_EQ(in.use_flags, PTP_PLATFORM_SERVO_USE_FREQ);
        EXPECT_EQ(in.profile, PTP_PROFILE_G8275_1);
        EXPECT_EQ(quorrin_platform_servo_stop(), 1u);
        EXPECT_EQ(quorrin_platform_servo_stop(), 0u) << "already stopped";
    }
    EXPECT_EQ(debug_lines_with("Starting servo").front(),
              "PLATFORM: Starting servo. Not using time, using freq, sync packet rate 16, delay request packet rate "
              "2, profile G.8275.1, clock_type T-BC, servo mode Hybrid");

    ASSERT_EQ(quorrin_platform_servo_start(true, true, 0, 0, 0, 0, 0, 0), 1u);
    quorrin_platform_servo_time_update(entry);
    ASSERT_EQ(ptp_platform_test_time_updates().size(), 1u);
    EXPECT_EQ(0, std::memcmp(ptp_platform_test_time_updates()[0].entry, entry, sizeof entry));
}

TEST_F(PlatformDriver, TheLibrarysCallbacksBecomeGrandmasterEventsTrapsAndSlaveUpdates)
{
    bring_up();
    ptp_platform_test_fire_servo_sync();
    EXPECT_EQ(debug_lines_with("sync"),
              (std::vector<std::string>{"PLATFORM: Servo not running, dropping sync notification from platform"}));
    ASSERT_EQ(quorrin_platform_servo_start(true, true, 0, 0, 0, 0, 0, 0), 1u);
    quorrin_fake_calls().clear();
    ptp_platform_test_fire_servo_sync();
    ptp_platform_test_fire_servo_fault();
    ptp_platform_test_fire_clock_state(PTP_PLATFORM_SERVO_STATUS_HOLDOVER);
    ptp_platform_test_fire_offset_threshold(-1500, 7);
    EXPECT_EQ(quorrin_fake_calls(), (std::vector<std::string>{"quorrin_bmc_gm_synced", "quorrin_bmc_gm_sync_lost",
                                                              "quorrin_edm_trap_generate_clock_state 5",
                                                              "quorrin_edm_trap_generate_threshold_breach -1500 7"}));

    ptp_platform_clock_info_type info{};
    info.clock_active = 1;
    info.using_ptp_for_time = 1;
    info.local_props.mask = PTP_PLATFORM_PROPS_UTC_OFFSET | PTP_PLATFORM_PROPS_LEAP;
    info.local_props.utc_offset = 37;
    info.local_props.utc_offset_valid = 1;
    ptp_platform_test_fire_clock_update(info);
    ASSERT_EQ(quorrin_fake_bmc().platform_updates.size(), 2u);
    const quorrin_fake_bmc_type::platform_update_type &update = quorrin_fake_bmc().platform_updates[1];
    EXPECT_EQ(update.from_init, 0u);
    EXPECT_EQ(update.using_time, 1u);
    EXPECT_EQ(update.utc_info_valid, 1u);
    EXPECT_EQ(update.local.utc_offset, 37);

    ptp_platform_test_calls_clear();
    ptp_platform_test_fire_resync_request();
    EXPECT_EQ(ptp_platform_test_calls(), (std::vector<std::string>{"clock_slave_update"}));
}

TEST_F(PlatformDriver, ServoStatusAndThresholdsAnswerZeroWhenTheLibraryCannot)
{
    ptp_platform_test_set_servo_init(0, 0, true, true);
    ptp_platform_test_set_status({-42, 1234, PTP_PLATFORM_SERVO_STATUS_ACQUIRING});
    ptp_platform_test_set_current_offset(-42);
    bring_up();
    int64_t offset = 1;
    int64_t delay = 1;
    uint32_t status = 1;
    quorrin_platform_servo_status(&offset, &delay, &status);
    EXPECT_EQ(offset, -42);
    EXPECT_EQ(delay, 1234);
    EXPECT_EQ(status, PTP_PLATFORM_SERVO_STATUS_ACQUIRING);
    quorrin_platform_servo_status(nullptr, nullptr, &status);
    EXPECT_EQ(quorrin_platform_offset_threshold_set(100, 1000), -42);
    int64_t warning = 0;
    int64_t critical = 0;
    ptp_platform_test_last_thresholds(&warning, &critical);
    EXPECT_EQ(warning, 100);
    EXPECT_EQ(critical, 1000);

    ptp_platform_test_set_result(ptp_platform_test_op::SERVO_STATUS, PTP_PLATFORM_ERR_NOT_INIT);
    ptp_platform_test_set_result(ptp_platform_test_op::OFFSET_THRESHOLD_SET, PTP_PLATFORM_ERR_NOT_INIT);
    quorrin_platform_servo_status(&offset, &delay, &status);
    EXPECT_EQ(offset, 0);
    EXPECT_EQ(delay, 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(debug_lines_with("status query").size(), 1u);
    EXPECT_EQ(quorrin_platform_offset_threshold_set(100, 1000), 0);

    // A library that hands out neither function.
    quorrin_platform_disable();
    ptp_platform_test_set_servo_init(0, 0, false, false);
    ASSERT_EQ(quorrin_platform_enable(), 0u);
    status = 9;
    quorrin_platform_servo_status(nullptr, nullptr, &status);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(quorrin_platform_offset_threshold_set(1, 2), 0);
}

TEST_F(PlatformDriver, AServoFoundStartedAndSyncedIsTakenAsRunningAndSynced)
{
    ptp_platform_test_set_servo_init(1, 1, true, true);
    bring_up();
    EXPECT_TRUE(quorrin_platform_is_servo_started());
    // bring_up cleared the calls after init; look at what init did.
    quorrin_platform_disable();
    quorrin_fake_calls().clear();
    ASSERT_EQ(quorrin_platform_enable(), 0u);
    const std::vector<std::string> &calls = quorrin_fake_calls();
    const auto started = std::find(calls.begin(), calls.end(), "quorrin_bmc_servo_started");
    ASSERT_NE(started, calls.end());
    EXPECT_EQ(*(started + 1), "quorrin_bmc_gm_synced");
}

TEST_F(PlatformDriver, PropertiesConvertWithTheDefaultsForWhatThePlatformLeftOut)
{
    ptp_platform_clock_props_type none{};
    const ptp_platform_clock_props_type d = quorrin_platform_props_convert(none);
    EXPECT_EQ(d.mask, 0xFFFu);
    EXPECT_EQ(d.timescale, PTP_TIMESCALE_ARB);
    EXPECT_EQ(d.time_source, 0xA0);
    EXPECT_EQ(d.sync_state, PTP_PLATFORM_SYNC_STATE_NO_SYNC);
    EXPECT_EQ(d.accuracy, 0xFE);
    EXPECT_EQ(d.oslv, 0xFFFF);
    EXPECT_EQ(d.ql_option, 1);
    EXPECT_EQ(d.ql_value, 1);
    EXPECT_EQ(d.primary_ref, 0u);
    EXPECT_EQ(d.primary_ref_type, 0u);
    EXPECT_EQ(d.utc_offset_valid, 0u);

    struct case_type {
        uint32_t mask;
        uint32_t primary_ref;
        uint32_t type;
        uint32_t traceable;
        uint32_t expect_ref, expect_freq, expect_time, expect_type;
    } cases[] = {
        {PTP_PLATFORM_PROPS_PRIMARY_REF_TYPE, 0, 3, 0, 1, 1, 1, 3},
        {PTP_PLATFORM_PROPS_PRIMARY_REF_TYPE, 0, 4, 0, 1, 1, 1, 4},
        {PTP_PLATFORM_PROPS_PRIMARY_REF_TYPE, 0, 1, 0, 1, 0, 0, 1},
        {PTP_PLATFORM_PROPS_PRIMARY_REF_TYPE, 0, 0, 0, 0, 0, 0, 0},
        {PTP_PLATFORM_PROPS_PRIMARY_REF | PTP_PLATFORM_PROPS_TRACEABLE, 1, 0, 1, 1, 1, 1, 3},
        {PTP_PLATFORM_PROPS_PRIMARY_REF | PTP_PLATFORM_PROPS_TRACEABLE, 1, 0, 0, 1, 0, 0, 1},
        {PTP_PLATFORM_PROPS_PRIMARY_REF, 0, 3, 0, 0, 0, 0, 0},
    };
    for (const case_type &c : cases) {
        ptp_platform_clock_props_type in{};
        in.mask = c.mask;
        in.primary_ref = c.primary_ref;
        in.primary_ref_type = c.type;
        in.frequency_traceable = c.traceable;
        in.time_traceable = c.traceable;
        const ptp_platform_clock_props_type out = quorrin_platform_props_convert(in);
        EXPECT_EQ(out.primary_ref, c.expect_ref) << c.mask << "/" << c.type;
        EXPECT_EQ(out.frequency_traceable, c.expect_freq) << c.mask << "/" << c.type;
        EXPECT_EQ(out.time_traceable, c.expect_time) << c.mask << "/" << c.type;
        EXPECT_EQ(out.primary_ref_type, c.expect_type) << c.mask << "/" << c.type;
    }
}

TEST_F(PlatformDriver, SettingsAndTransparentClockUpdatesCarryTheConfiguration)
{
    EXPECT_EQ(quorrin_platform_settings_update(), 0u);
    EXPECT_EQ(ptp_platform_test_call_count(ptp_platform_test_op::CLOCK_SETTINGS_UPDATE), 0u) << "not up yet";
    // The configuration's checks ask the platform's capabilities.
    ptp_platform_test_set_capability(2, caps(PTP_PLATFORM_CAP_SLAVE | PTP_PLATFORM_CAP_PTP |
                                             PTP_PLATFORM_CAP_PROFILE_G8275_2 | PTP_PLATFORM_CAP_SERVO_SLOW_TRACK |
                                             PTP_PLATFORM_CAP_HOLDOVER_DURATION));
    ASSERT_EQ(quorrin_platform_capability_init(evm), 0u);
    cfg_create("ptp/pi/clock/profile", cfg_tuple("%d%d", 3, PTP_PROFILE_G8275_2, PTP_TELECOM_CLOCK_T_TSC));
    cfg_create("ptp/pi/servo-slow-tracking", cfg_number(16));
    cfg_create("ptp/pi/holdover-duration", cfg_number(900));
    quorrin_fake_bmc().network_type = 1;
    bring_up();
    ASSERT_EQ(quorrin_platform_settings_update(), 0u);
    const ptp_platform_clock_settings_update_in_type in = ptp_platform_test_last_settings_update();
    EXPECT_EQ(in.profile, PTP_PROFILE_G8275_2);
    EXPECT_EQ(in.clock_type, PTP_TELECOM_CLOCK_T_TSC);
    EXPECT_EQ(in.network_type, 1u);
    EXPECT_EQ(in.servo_slow_tracking, 16u);
    EXPECT_EQ(in.holdover_duration, 900u);
    EXPECT_EQ(in.holdover_duration_set, 1u);
    EXPECT_EQ(debug_lines_with("settings").back(),
              "PLATFORM: Sending clock settings update to platform: Profile G.8275.2, Clock Type T-TSC, Servo Mode "
              "Packet, Network Type High PDV, Servo Slow Tracking 16 ns/sec, Holdover Duration (secs) 900 (SET)");

    ASSERT_EQ(quorrin_platform_transparent_clock_update(true), 0u);
    EXPECT_EQ(ptp_platform_test_last_transparent_clock_update().enable, 1u);
    EXPECT_EQ(debug_lines_with("transparent").back(), "PLATFORM: Sending transparent clock enable update to platform.");
}

} // namespace
