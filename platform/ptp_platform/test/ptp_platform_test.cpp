// The platform PTP library: the scripted mode (recorded calls, set replies, fired callbacks) and
// what the real mode reports through its callbacks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iterator>

#include "chassis.h"
#include "evm.h"
#include "evm_test.h"
#include "plat_clock_test.h"
#include "ptp_platform.h"
#include "ptp_platform_test.h"
#include "ptpclock.h"
#include "ptpclock_test.h"
#include "sysmgr_test.h"

namespace {

std::vector<std::string> fired;

// One time entry for the servo: a Sync (a = t1, b = t2) or a Delay-Resp (a = t4, b = t3), each
// a PTP time in nanoseconds, as the agents send them (48-bit seconds, 32-bit nanoseconds).
zerrno entry(uint32_t message, uint64_t a, uint64_t b)
{
    ptp_platform_servo_time_update_in_type in{};
    std::memcpy(in.entry, &message, sizeof message);
    for (int i = 0; i < 6; i++) {
        in.entry[4 + i] = static_cast<uint8_t>((a / 1'000'000'000) >> (40 - 8 * i));
        in.entry[14 + i] = static_cast<uint8_t>((b / 1'000'000'000) >> (40 - 8 * i));
    }
    for (int i = 0; i < 4; i++) {
        in.entry[10 + i] = static_cast<uint8_t>((a % 1'000'000'000) >> (24 - 8 * i));
        in.entry[20 + i] = static_cast<uint8_t>((b % 1'000'000'000) >> (24 - 8 * i));
    }
    ptp_platform_servo_time_update_info_type out{};
    return ptp_platform_servo_time_update(&in, &out);
}

class PlatformLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        ptp_platform_test_reset();
        fired.clear();
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_NE(evm, nullptr);
    }
    void TearDown() override
    {
        ptp_platform_servo_shutdown();
        ptp_platform_clock_shutdown();
        ptp_platform_test_reset();
        event_manager_destroy(evm);
    }
    zerrno servo_init(ptp_platform_servo_init_info_type *out)
    {
        ptp_platform_servo_init_in_type in{};
        in.context = reinterpret_cast<uint64_t>(evm);
        in.servo_sync_cb = [] { fired.emplace_back("sync"); };
        in.servo_fault_cb = [] { fired.emplace_back("fault"); };
        in.clock_state_cb = [](uint32_t status) { fired.push_back("state " + std::to_string(status)); };
        in.offset_threshold_cb = [](const ptp_platform_offset_threshold_info_type *info) {
            fired.push_back("threshold " + std::to_string(info->offset_from_master) + "." +
                            std::to_string(info->sub_ns));
        };
        return ptp_platform_servo_init(&in, out);
    }
    zerrno clock_init(ptp_platform_clock_init_info_type *out)
    {
        ptp_platform_clock_init_in_type in{};
        in.context = reinterpret_cast<uint64_t>(evm);
        in.clock_update_cb = [](const ptp_platform_clock_info_type *info) {
            fired.push_back("clock update freq " + std::to_string(info->using_ptp_for_frequency) + " time " +
                            std::to_string(info->using_ptp_for_time) + " sync state " +
                            std::to_string(info->local_props.sync_state));
        };
        in.resync_request_cb = [] { fired.emplace_back("resync"); };
        return ptp_platform_clock_init(&in, out);
    }

    event_mgr_type *evm = nullptr;
};

TEST_F(PlatformLibrary, ScriptedModeRecordsEveryCallAnswersAsSetAndFiresCallbacksOnRequest)
{
    ptp_platform_test_set_scripted(true);
    ptp_platform_capability_info_type caps{};
    caps.flags = PTP_PLATFORM_CAP_SLAVE;
    caps.holdover_duration_max = 7;
    ptp_platform_test_set_capability(1, caps);
    ptp_platform_test_set_servo_init(1, 0, true, false);
    ptp_platform_test_set_result(ptp_platform_test_op::CLOCK_SLAVE_UPDATE, PTP_PLATFORM_ERR_INVALID);
    ptp_platform_servo_status_info_type status{-12, 34, PTP_PLATFORM_SERVO_STATUS_ACQUIRING};
    ptp_platform_test_set_status(status);

    ptp_platform_capability_init_in_type cap_in{reinterpret_cast<uint64_t>(evm), 0};
    ptp_platform_capability_init_info_type cap_out{};
    ASSERT_EQ(ptp_platform_capability_init(&cap_in, &cap_out), 0u);
    EXPECT_EQ(cap_out.version, 1u);
    ptp_platform_capability_get_in_type get_in{};
    ptp_platform_capability_info_type get_out{};
    ASSERT_EQ(ptp_platform_capability_get(&get_in, &get_out), 0u);
    EXPECT_EQ(get_out.flags, PTP_PLATFORM_CAP_SLAVE);
    EXPECT_EQ(get_out.holdover_duration_max, 7u);

    ptp_platform_servo_init_info_type servo_out{};
    ASSERT_EQ(servo_init(&servo_out), 0u);
    EXPECT_EQ(servo_out.servo_started, 1u);
    EXPECT_EQ(servo_out.offset_threshold_set_fn, nullptr);
    ASSERT_NE(servo_out.status_fn, nullptr);
    ptp_platform_servo_status_info_type got{};
    ASSERT_EQ(servo_out.status_fn(&got), 0u);
    EXPECT_EQ(got.offset_from_master, -12);
    EXPECT_EQ(got.status, PTP_PLATFORM_SERVO_STATUS_ACQUIRING);

    ptp_platform_clock_slave_update_in_type slave{};
    slave.slave.gm_available = 1;
    slave.slave.ifhandle = 0x01000100;
    slave.best_source = PTP_PLATFORM_BEST_SOURCE_LOCAL_CLOCK;
    ptp_platform_clock_slave_update_info_type slave_out{};
    EXPECT_EQ(ptp_platform_clock_slave_update(&slave, &slave_out), PTP_PLATFORM_ERR_INVALID);
    EXPECT_EQ(ptp_platform_test_last_slave_update().slave.ifhandle, 0x01000100u);
    EXPECT_EQ(ptp_platform_test_last_slave_update().best_source, PTP_PLATFORM_BEST_SOURCE_LOCAL_CLOCK);

    ptp_platform_clock_init_info_type clock_out{};
    ASSERT_EQ(clock_init(&clock_out), 0u);

    ptp_platform_test_fire_servo_sync();
    ptp_platform_test_fire_servo_fault();
    ptp_platform_test_fire_clock_state(PTP_PLATFORM_SERVO_STATUS_HOLDOVER);
    ptp_platform_test_fire_offset_threshold(-250, 3);
    ptp_platform_clock_info_type info{};
    info.using_ptp_for_time = 1;
    ptp_platform_test_fire_clock_update(info);
    ptp_platform_test_fire_resync_request();

    EXPECT_EQ(fired, (std::vector<std::string>{"sync", "fault", "state 5", "threshold -250.3",
                                               "clock update freq 0 time 1 sync state 0", "resync"}));
    EXPECT_EQ(ptp_platform_test_calls(),
              (std::vector<std::string>{"capability_init", "capability_get", "servo_init", "servo_status",
                                        "clock_slave_update", "clock_init"}));
}

// The sample chassis as this process's, seen from its route processor, with clocks of the test's
// own that no earlier run left.
class ChassisClocks {
public:
    static constexpr const char *nodes[] = {"0/RP0/CPU0", "0/1/CPU0", "0/2/CPU0"};
    ChassisClocks()
    {
        ptpclock_test_set_prefix(("quorrin-platform-test." + std::to_string(getpid()) + ".").c_str());
        std::string error;
        EXPECT_EQ(chassis_load(chassis_sample_path(), &chassis, &error), 0u) << error;
        sysmgr_test_set_chassis(chassis);
        sysmgr_test_set_node(0x100);
        unlink();
    }
    ~ChassisClocks()
    {
        ptp_platform_servo_shutdown();
        ptp_platform_test_reset();
        unlink();
        sysmgr_test_reset();
        chassis_free(chassis);
    }
    ChassisClocks(const ChassisClocks &) = delete;
    ChassisClocks &operator=(const ChassisClocks &) = delete;

private:
    static void unlink()
    {
        for (const char *node : nodes) {
            ptpclock_test_unlink(node);
        }
    }
    chassis_desc_type *chassis = nullptr;
};

TEST_F(PlatformLibrary, RealModeSteersTheClockOfEveryNodeOfTheChassisAlike)
{
    plat_clock_use_virtual();
    ChassisClocks chassis;
    const auto &nodes = ChassisClocks::nodes;
    // A line card whose clock is off before the servo first opens the chassis' clocks.
    ptpclock_type *line_card = nullptr;
    ASSERT_EQ(ptpclock_open("0/1/CPU0", &line_card), 0u);
    ASSERT_EQ(ptpclock_step(line_card, 123'456'789), 0u);

    ptp_platform_servo_init_info_type servo_out{};
    ASSERT_EQ(servo_init(&servo_out), 0u);
    ptp_platform_servo_start_in_type start{};
    start.sync_rate = 1;
    ptp_platform_servo_start_info_type start_out{};
    ASSERT_EQ(ptp_platform_servo_start(&start, &start_out), 0u);

    ptpclock_type *rp = nullptr;
    ASSERT_EQ(ptpclock_open("0/RP0/CPU0", &rp), 0u);
    uint64_t before = 0;
    ASSERT_EQ(ptpclock_gettime(rp, &before), 0u);
    // The local clock is 5 ms ahead of the master over a 1000 ns path.
    const uint64_t master = before - 5'000'000 - 1000;
    ASSERT_EQ(entry(PTP_PLATFORM_TIME_ENTRY_SYNC, master - 1'000'000'000, before - 1'000'000'000), 0u);
    ASSERT_EQ(
        entry(PTP_PLATFORM_TIME_ENTRY_DELAY_RESP, master - 1'000'000'000 + 12'000, before - 1'000'000'000 + 10'000),
        0u);
    ASSERT_EQ(entry(PTP_PLATFORM_TIME_ENTRY_SYNC, master, before), 0u);

    for (const char *node : nodes) {
        ptpclock_type *clock = nullptr;
        ASSERT_EQ(ptpclock_open(node, &clock), 0u);
        uint64_t now = 0;
        ASSERT_EQ(ptpclock_gettime(clock, &now), 0u);
        EXPECT_EQ(now, before - 5'000'000) << node;
        ptpclock_close(clock);
    }
    ptpclock_close(rp);
    ptpclock_close(line_card);
    plat_clock_use_real();
}

// On the real clocks, where time passes while the line cards' clocks are set: each is at this
// node's time to the nanosecond at one instant, not behind by the time its setting took.
TEST_F(PlatformLibrary, RealModeSetsEveryNodesClockToThisNodesTimeAtOneInstant)
{
    ChassisClocks chassis;
    ptpclock_type *clocks[std::size(ChassisClocks::nodes)] = {};
    for (size_t i = 0; i < std::size(clocks); i++) {
        ASSERT_EQ(ptpclock_open(ChassisClocks::nodes[i], &clocks[i]), 0u);
    }
    // The route processor's clock off in time and frequency; the line cards' each otherwise.
    ASSERT_EQ(ptpclock_step(clocks[0], 5'000'000), 0u);
    ASSERT_EQ(ptpclock_set_freq(clocks[0], 250), 0u);
    ASSERT_EQ(ptpclock_step(clocks[1], -123'456'789), 0u);
    ASSERT_EQ(ptpclock_set_freq(clocks[2], -4000), 0u);

    ptp_platform_servo_init_info_type servo_out{};
    ASSERT_EQ(servo_init(&servo_out), 0u);
    ptp_platform_servo_start_in_type start{};
    start.sync_rate = 16;
    ptp_platform_servo_start_info_type start_out{};
    ASSERT_EQ(ptp_platform_servo_start(&start, &start_out), 0u);

    const uint64_t mono = plat_clock_mono_ns();
    uint64_t rp = 0;
    ASSERT_EQ(ptpclock_mono_to_ptp(clocks[0], mono, &rp), 0u);
    for (size_t i = 0; i < std::size(clocks); i++) {
        uint64_t ns = 0;
        double ppb = 0;
        ASSERT_EQ(ptpclock_mono_to_ptp(clocks[i], mono, &ns), 0u);
        ASSERT_EQ(ptpclock_get_freq(clocks[i], &ppb), 0u);
        EXPECT_LE(std::llabs(static_cast<int64_t>(ns - rp)), 1) << ChassisClocks::nodes[i];
        EXPECT_EQ(ppb, 250) << ChassisClocks::nodes[i];
        ptpclock_close(clocks[i]);
    }
}

// A clock that stands still: enough for the callbacks the library reports.
const ptp_platform_clock_ops_type still_ops = {
    [](ptp_servo_timestamp_type *out) {
        *out = {1'700'000'000, 5};
        return true;
    },
    [](int64_t) { return true; },
    [](double) { return true; },
};

TEST_F(PlatformLibrary, RealModeReportsTheClocksUseOfPtpAndOffsetThresholdCrossingsOnTheEventManager)
{
    ptp_platform_test_set_clock_ops(&still_ops);
    ptp_platform_servo_init_info_type servo_out{};
    ASSERT_EQ(servo_init(&servo_out), 0u);
    ptp_platform_clock_init_info_type clock_out{};
    ASSERT_EQ(clock_init(&clock_out), 0u);
    EXPECT_EQ(clock_out.version, PTP_PLATFORM_CLOCK_API_VERSION);
    EXPECT_EQ(clock_out.clock.clock_active, 1u);
    EXPECT_EQ(clock_out.clock.local_props.sync_state, PTP_PLATFORM_SYNC_STATE_NO_SYNC);
    EXPECT_EQ(clock_out.clock.local_props.time_source, 0xA0);

    ptp_platform_clock_slave_update_in_type slave{};
    slave.slave.gm_available = 1;
    slave.slave.has_frequency = 1;
    slave.slave.has_time = 1;
    ptp_platform_clock_slave_update_info_type slave_out{};
    ASSERT_EQ(ptp_platform_clock_slave_update(&slave, &slave_out), 0u);
    ASSERT_EQ(ptp_platform_clock_slave_update(&slave, &slave_out), 0u);
    EXPECT_TRUE(fired.empty()) << "callbacks run on the event manager, not inside a call";
    evm_run_until_idle(evm);
    EXPECT_EQ(fired, (std::vector<std::string>{"clock update freq 1 time 1 sync state 2"}));

    int64_t current = -1;
    ASSERT_EQ(servo_out.offset_threshold_set_fn(200, 1000, &current), 0u);
    EXPECT_EQ(current, 0);
    ptp_platform_servo_start_in_type start{};
    start.sync_rate = 1;
    ptp_platform_servo_start_info_type start_out{};
    ASSERT_EQ(ptp_platform_servo_start(&start, &start_out), 0u);
    fired.clear();
    // Offsets of 0, 300, 400, 1200 and 300 ns over a 1000 ns path, one exchange a second.
    const int64_t offsets[] = {0, 300, 400, 1200, 300, 1100};
    uint64_t master = 1'700'000'000ull * 1'000'000'000ull;
    for (int64_t offset : offsets) {
        master += 1'000'000'000;
        const uint64_t t2 = master + 1000 + static_cast<uint64_t>(offset);
        ASSERT_EQ(entry(PTP_PLATFORM_TIME_ENTRY_SYNC, master, t2), 0u);
        ASSERT_EQ(
            entry(PTP_PLATFORM_TIME_ENTRY_DELAY_RESP, t2 + 10'000 + 1000 - static_cast<uint64_t>(offset), t2 + 10'000),
            0u);
    }
    evm_run_until_idle(evm);
    std::vector<std::string> thresholds;
    for (const std::string &f : fired) {
        if (f.rfind("threshold", 0) == 0) {
            thresholds.push_back(f);
        }
    }
    // Once per crossing: warning at 300, critical at 1200, critical again after falling back to warning.
    EXPECT_EQ(thresholds, (std::vector<std::string>{"threshold 300.0", "threshold 1200.0", "threshold 1100.0"}));

    ptp_platform_clock_get_current_timestamp_in_type ts_in{};
    ptp_platform_clock_get_current_timestamp_info_type ts_out{};
    ASSERT_EQ(ptp_platform_clock_get_current_timestamp(&ts_in, &ts_out), 0u);
    const uint8_t expected[10] = {0x00, 0x00, 0x65, 0x53, 0xf1, 0x00, 0x00, 0x00, 0x00, 0x05};
    EXPECT_EQ(0, std::memcmp(ts_out.timestamp, expected, sizeof expected));
}

// A controller killed with its servo phase-aligned finds it so after its restart, and goes on from
// it; one that stopped its servo before it left finds it stopped; a second restart after the
// servo has heard nothing for the holdover time finds it in holdover.
TEST_F(PlatformLibrary, RealModeKeepsTheServoAcrossARestartOfTheProcess)
{
    plat_clock_use_virtual();
    ptp_platform_test_set_clock_ops(&still_ops);
    ptp_platform_test_set_servo_store(true);
    ptp_platform_servo_init_info_type out{};
    ASSERT_EQ(servo_init(&out), 0u);
    EXPECT_EQ(out.servo_started, 0u);
    ptp_platform_servo_start_in_type start{};
    start.sync_rate = 1;
    ptp_platform_servo_start_info_type start_out{};
    ASSERT_EQ(ptp_platform_servo_start(&start, &start_out), 0u);
    // Offsets of 100 ns over a 1000 ns path, one exchange a second, until phase-aligned.
    uint64_t master = 1'700'000'000ull * 1'000'000'000ull;
    auto exchange = [&master]() {
        master += 1'000'000'000;
        plat_clock_advance_ms(1000);
        const uint64_t t2 = master + 1000 + 100;
        ASSERT_EQ(entry(PTP_PLATFORM_TIME_ENTRY_SYNC, master, t2), 0u);
        ASSERT_EQ(entry(PTP_PLATFORM_TIME_ENTRY_DELAY_RESP, t2 + 10'000 + 1000 - 100, t2 + 10'000), 0u);
    };
    for (int i = 0; i < 40 && ptp_platform_test_servo().status != PTP_SERVO_PHASE_ALIGNED; i++) {
        exchange();
    }
    ASSERT_EQ(ptp_platform_test_servo().status, PTP_SERVO_PHASE_ALIGNED);
    const ptp_servo_type aligned = ptp_platform_test_servo();

    ptp_platform_test_restart_process();
    evm_run_until_idle(evm);
    fired.clear();
    ASSERT_EQ(servo_init(&out), 0u);
    EXPECT_EQ(out.servo_started, 1u);
    EXPECT_EQ(out.servo_synced, 1u);
    const ptp_servo_type restored = ptp_platform_test_servo();
    EXPECT_TRUE(restored.running);
    EXPECT_EQ(restored.drift_ppb, aligned.drift_ppb);
    EXPECT_EQ(restored.correction_ppb, aligned.correction_ppb);
    EXPECT_EQ(restored.mean_path_delay_ns, aligned.mean_path_delay_ns);
    EXPECT_EQ(restored.locked_samples, aligned.locked_samples);
    ptp_platform_servo_status_info_type status{};
    ASSERT_EQ(out.status_fn(&status), 0u);
    EXPECT_EQ(status.status, PTP_SERVO_PHASE_ALIGNED);
    EXPECT_EQ(status.offset_from_master, aligned.offset_ns);
    // The next exchange goes on from there: no sync or state change is reported again.
    exchange();
    evm_run_until_idle(evm);
    EXPECT_EQ(ptp_platform_test_servo().status, PTP_SERVO_PHASE_ALIGNED);
    EXPECT_TRUE(fired.empty()) << fired.front();

    // Silent for longer than the holdover time, then restarted: in holdover at the first query.
    plat_clock_advance_ms(PTP_SERVO_CONFIG_DEFAULT.holdover_after_ns / 1'000'000 + 1000);
    ptp_platform_test_restart_process();
    ASSERT_EQ(servo_init(&out), 0u);
    EXPECT_EQ(out.servo_started, 1u);
    ASSERT_EQ(out.status_fn(&status), 0u);
    EXPECT_EQ(status.status, PTP_SERVO_HOLDOVER);

    // Stopped before the process left: a new one starts from free-run.
    ptp_platform_servo_stop_in_type stop{};
    ptp_platform_servo_stop_info_type stop_out{};
    ASSERT_EQ(ptp_platform_servo_stop(&stop, &stop_out), 0u);
    ptp_platform_test_restart_process();
    ASSERT_EQ(servo_init(&out), 0u);
    EXPECT_EQ(out.servo_started, 0u);
    EXPECT_EQ(out.servo_synced, 0u);
    plat_clock_use_real();
}

std::string text(const ptp_platform_capability_info_type &c)
{
    return std::to_string(c.flags) + " " + std::to_string(c.o1_value) + " " + std::to_string(c.o2_g1_value) + " " +
           std::to_string(c.o2_g2_value) + " " + std::to_string(c.holdover_duration_min) + " " +
           std::to_string(c.holdover_duration_max);
}

std::string text(const ptp_platform_clock_props_type &p)
{
    const uint32_t fields[] = {p.mask,
                               p.timescale,
                               p.time_source,
                               p.primary_ref,
                               p.sync_state,
                               p.accuracy,
                               p.oslv,
                               static_cast<uint32_t>(p.utc_offset),
                               p.utc_offset_valid,
                               p.frequency_traceable,
                               p.time_traceable,
                               p.leap_seconds,
                               p.ql_option,
                               p.ql_value,
                               p.primary_ref_type};
    std::string out;
    for (uint32_t f : fields) {
        out += std::to_string(f) + " ";
    }
    return out;
}

// Capabilities and clock properties come from the node's [node.clock] table; a node without one
// has a free-running software clock's.
TEST_F(PlatformLibrary, RealModeAnswersWithTheClockTheChassisDescribesForTheNode)
{
    chassis_desc_type *chassis = nullptr;
    std::string error;
    ASSERT_EQ(chassis_load_text("[[node]]\nname = \"0/RP0/CPU0\"\nid = 0x100\nrole = \"rp\"\n"
                                "[node.clock]\napi_version = 1\nflags = 0x1c17\nql_o1 = 11\nql_o2_g1 = 12\n"
                                "ql_o2_g2 = 13\nholdover_min = 5\nholdover_max = 7200\ntimescale = \"ptp\"\n"
                                "time_source = 0x20\naccuracy = 0x21\noslv = 0x4e5d\nprimary_ref_type = 4\n"
                                "frequency_traceable = true\ntime_traceable = true\nutc_offset = 37\n"
                                "ql_option = 1\nql_value = 20\n"
                                "[[node]]\nname = \"0/RP1/CPU0\"\nid = 0x110\nrole = \"rp\"\n",
                                "c.toml", &chassis, &error),
              0u)
        << error;
    sysmgr_test_set_chassis(chassis);
    ptp_platform_test_set_clock_ops(&still_ops);

    struct case_type {
        uint32_t node;
        uint32_t version;
        ptp_platform_capability_info_type caps;
        ptp_platform_clock_props_type props;
    } cases[] = {
        {0x100,
         1,
         {0x1c17, 11, 12, 13, 5, 7200},
         {0x7ff, 0, 0x20, 1, PTP_PLATFORM_SYNC_STATE_NO_SYNC, 0x21, 0x4e5d, 37, 1, 1, 1, 0, 1, 20, 4}},
        {0x110,
         2,
         {0x037b, 0, 0, 0, 60, 86400},
         {0x4bf, 1, 0xA0, 0, PTP_PLATFORM_SYNC_STATE_NO_SYNC, 0xFE, 0xFFFF, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const case_type &c : cases) {
        SCOPED_TRACE(c.node);
        sysmgr_test_set_node(c.node);
        ptp_platform_capability_init_in_type cap_in{reinterpret_cast<uint64_t>(evm), 0};
        ptp_platform_capability_init_info_type cap_out{};
        ASSERT_EQ(ptp_platform_capability_init(&cap_in, &cap_out), 0u);
        EXPECT_EQ(cap_out.version, c.version);
        ptp_platform_capability_get_in_type get_in{};
        ptp_platform_capability_info_type caps{};
        ASSERT_EQ(ptp_platform_capability_get(&get_in, &caps), 0u);
        EXPECT_EQ(text(caps), text(c.caps));

        ptp_platform_clock_init_info_type clock_out{};
        ASSERT_EQ(clock_init(&clock_out), 0u);
        for (const ptp_platform_clock_props_type &p : {clock_out.clock.local_props, clock_out.clock.selection_props}) {
            EXPECT_EQ(text(p), text(c.props));
        }
        ptp_platform_clock_shutdown();
        ptp_platform_capability_shutdown();
    }
    sysmgr_test_reset();
    chassis_free(chassis);
}

} // namespace
