// System-wide best-master selection and the grandmaster state on virtual time: the ranked list,
// the decision between its head and the local clock, the servo's start, stop and restart as
// recorded calls of the platform driver, the class ladder and QL tables, and node loss.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "plat_clock_test.h"
#include "plat_debug.h"
#include "ptp_address.h"
#include "ptp_clock.h"
#include "ptp_debug.h"
#include "ptp_timer.h"
#include "qor_log.h"
#include "quorrin_bmc.h"
#include "quorrin_debug.h"
#include "quorrin_fakes.h"

namespace {

using strings = std::vector<std::string>;

constexpr uint32_t N1 = 0x10;
constexpr uint32_t N2 = 0x20;
constexpr uint32_t N3 = 0x30;

debug_event_type debug_table[QUORRIN_DEBUG_AREA_COUNT];

quorrin_fake_cfg_type &cfg()
{
    return quorrin_fake_cfg();
}

quorrin_fake_platform_type &platform()
{
    return quorrin_fake_platform();
}

// The platform's properties of a free-running oscillator, as the driver converts them.
ptp_platform_clock_props_type free_running()
{
    ptp_platform_clock_props_type p{};
    p.mask = 0xFFF;
    p.timescale = 1;
    p.time_source = 0xA0;
    p.sync_state = PTP_PLATFORM_SYNC_STATE_NO_SYNC;
    p.accuracy = 0xFE;
    p.oslv = 0xFFFF;
    p.ql_option = 1;
    p.ql_value = 1;
    return p;
}

// A foreign master as an agent reports it.
ptp_clock_type master(uint64_t id, uint8_t priority1 = 128, uint8_t clock_class = 248)
{
    ptp_clock_type c{};
    c.clock_id = id;
    c.priority1 = priority1;
    c.clock_class = clock_class;
    c.accuracy = 0x21;
    c.offset_log_variance = 0x4E5D;
    c.priority2 = 128;
    c.steps_removed = 1;
    c.time_source = 0x20;
    c.utc_offset = 37;
    c.utc_offset_valid = 1;
    c.sender = {id, 1};
    c.receiver = {0x0200'5EFF'FE00'0000 | id, 1};
    c.configured_priority = 128;
    return c;
}

ptp_address_type address_of(uint32_t node)
{
    ptp_address_type a{};
    const uint8_t ip[4] = {10, 0, static_cast<uint8_t>(node >> 8), static_cast<uint8_t>(node)};
    ptp_address_set_ipv4(&a, ip);
    return a;
}

void report(uint32_t node, const ptp_clock_type &clock, int32_t log_sync = -4, int32_t asymmetry = 0)
{
    const ptp_address_type a = address_of(node);
    quorrin_bmc_clock_update(&clock, node, 0x1000 + node, log_sync, -4, asymmetry, &a);
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

// The recorded calls that start with one of the prefixes, in order.
strings calls(std::initializer_list<const char *> prefixes)
{
    strings out;
    for (const std::string &c : quorrin_fake_calls()) {
        for (const char *p : prefixes) {
            if (c.rfind(p, 0) == 0) {
                out.push_back(c);
                break;
            }
        }
    }
    return out;
}

strings syslog_texts()
{
    strings out;
    for (const qor_captured_msg &m : qor_errmsg_captured()) {
        out.push_back(m.mnemonic + ": " + m.text);
    }
    return out;
}

bool debug_has(const std::string &text)
{
    const strings lines = debug_captured();
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string &l) { return l.find(text) != std::string::npos; });
}

ptp_clock_type local_clock()
{
    ptp_clock_type c{};
    quorrin_bmc_get_local_clock(&c, nullptr);
    return c;
}

ptp_clock_type advertised()
{
    ptp_clock_type c{};
    quorrin_bmc_get_advertised_clock(&c, nullptr);
    return c;
}

uint32_t best_source()
{
    quorrin_bmc_gm_type gm{};
    quorrin_bmc_get_gm(&gm);
    return gm.best_source;
}

class Bmc : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat_clock_use_virtual();
        quorrin_fake_reset();
        qor_errmsg_set_syslog(false);
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_EQ(ptp_debug_register(evm, debug_table, quorrin_debug_areas, QUORRIN_DEBUG_AREA_COUNT, nullptr), 0u);
        debug_set_area(PTP_DEBUG_PATH, "bmc", nullptr);
        ASSERT_EQ(ptp_timer_init(evm, 1000, 32, nullptr, nullptr, quorrin_debug_area("main"), debug_table), 0u);
        cfg().log_bmc_changes = true;
    }
    void TearDown() override
    {
        quorrin_bmc_shutdown();
        ptp_timer_shutdown();
        ptp_debug_cleanup();
        event_manager_destroy(evm);
        plat_clock_use_real();
    }

    // Start-up, then the platform's first clock update (active, not using PTP); the test sees
    // what follows.
    void start(const ptp_platform_clock_props_type &props = free_running())
    {
        ASSERT_EQ(quorrin_bmc_init(evm), 0u);
        clock_update(false, props);
        forget();
    }
    void forget()
    {
        quorrin_fake_calls().clear();
        qor_errmsg_capture_clear();
        debug_capture_clear();
    }
    void clock_update(bool using_ptp, const ptp_platform_clock_props_type &props = free_running(),
                      bool vp_connected = false)
    {
        const bool seln = platform().seln_local_clock;
        quorrin_bmc_platform_clock_update(1, using_ptp, using_ptp, &props, seln ? &props : nullptr, vp_connected, 0, 0);
    }

    event_mgr_type *evm = nullptr;
};

// ---- Ranked list ---------------------------------------------------------------------------

TEST_F(Bmc, RanksReportsByTheProfilesComparison)
{
    struct report_row {
        uint32_t node;
        ptp_clock_type clock;
    };
    ptp_clock_type local_marked = master(9, 1);
    local_marked.local = 1;
    const struct {
        const char *name;
        uint32_t profile;
        std::vector<report_row> reports;
        std::vector<uint32_t> expected;
        const char *debug; // a debug line the row shows, or null
    } rows[] = {
        {"priority1 orders",
         0,
         {{N1, master(1, 128)}, {N2, master(2, 100)}, {N3, master(3, 200)}},
         {N2, N1, N3},
         nullptr},
        {"equal clocks: the later first", 0, {{N1, master(1)}, {N2, master(1)}}, {N2, N1}, nullptr},
        {"a new report moves its node",
         0,
         {{N1, master(1, 100)}, {N2, master(2, 120)}, {N1, master(1, 130)}},
         {N2, N1},
         nullptr},
        {"G.8275.1 ranks by class, not priority1",
         2,
         {{N1, master(1, 1, 7)}, {N2, master(2, 255, 6)}},
         {N2, N1},
         nullptr},
        {"default ranks the same by priority1", 0, {{N1, master(1, 1, 7)}, {N2, master(2, 255, 6)}}, {N1, N2}, nullptr},
        {"another rack is ignored",
         0,
         {{N1, master(1)}, {0x10010, master(2, 1)}},
         {N1},
         "BMC: Ignoring update from remote rack node 0x10010"},
        {"a clock marked local is dropped",
         0,
         {{N1, master(1)}, {N2, local_marked}},
         {N1},
         "BMC: [ERROR] Dropped clock 9 marked local from node"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        cfg().profile = row.profile;
        start();
        for (const report_row &r : row.reports) {
            report(r.node, r.clock);
        }
        EXPECT_EQ(ranked(), row.expected);
        if (row.debug != nullptr) {
            EXPECT_TRUE(debug_has(row.debug));
        }
        quorrin_bmc_shutdown();
    }
}

TEST_F(Bmc, ProfileChangeReranksEveryRecordAndRestartsTheServo)
{
    start();
    report(N1, master(1, 1, 7));
    report(N2, master(2, 255, 6));
    clock_update(true);
    ASSERT_EQ(ranked(), (std::vector<uint32_t>{N1, N2}));
    forget();
    cfg().profile = 2;
    quorrin_bmc_profile_update();
    EXPECT_EQ(ranked(), (std::vector<uint32_t>{N2, N1}));
    // The new head is a new grandmaster; the servo runs with G.8275.1's physical-layer mode.
    EXPECT_EQ(calls({"servo_"}),
              (strings{"servo_stop", "servo_start time=1 freq=1 sync=-4 dreq=-4 profile=2 type=0 mode=1 net=0",
                       "servo_stop", "servo_start time=1 freq=1 sync=-4 dreq=-4 profile=2 type=0 mode=1 net=0"}));
}

// ---- Decision --------------------------------------------------------------------------------

TEST_F(Bmc, DecidesBetweenTheHeadAndTheLocalClock)
{
    const struct {
        const char *name;
        uint32_t profile;
        uint32_t clock_type;
        bool seln_local;
        bool vp_configured;
        bool vp_connected;
        uint8_t vp_priority1; // 0: not set
        ptp_clock_type head;
        uint32_t best_source;
        uint8_t advertised_priority1;
    } rows[] = {
        {"no selection clock: the head wins", 0, 0, false, false, false, 0, master(1, 200), 0, 128},
        {"selection clock worse than the head", 0, 0, true, false, false, 0, master(1, 100), 0, 128},
        {"selection clock better than the head", 0, 0, true, false, false, 0, master(1, 200), 1, 128},
        {"virtual port in force and better", 0, 0, true, true, true, 50, master(1, 100), 2, 50},
        {"virtual port not connected", 0, 0, true, true, false, 50, master(1, 100), 0, 128},
        {"virtual port connected, not configured", 0, 0, true, false, true, 50, master(1, 100), 0, 128},
        {"G.8275.1 T-BC: a class-248 head with better accuracy", 2, 1, true, false, false, 0, master(1, 128, 248), 0,
         128},
        {"G.8275.1 T-BC: a class-255 head loses", 2, 1, true, false, false, 0, master(1, 128, 255), 1, 128},
        {"G.8265.1: class decides, the head's 104 beats 110", 1, 3, true, false, false, 0, master(1, 128, 104), 0, 128},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        cfg().profile = row.profile;
        cfg().clock_type = row.clock_type;
        platform().seln_local_clock = row.seln_local;
        start();
        if (row.vp_priority1 != 0) {
            quorrin_bmc_virtual_port_update(QUORRIN_BMC_VP_PRIORITY1, false, row.vp_priority1);
        }
        quorrin_bmc_virtual_port_configured(row.vp_configured);
        clock_update(false, free_running(), row.vp_connected);
        report(N1, row.head);
        EXPECT_EQ(best_source(), row.best_source);
        EXPECT_EQ(quorrin_bmc_get_local_clock_gm(), row.best_source != 0);
        EXPECT_EQ(advertised().priority1, row.advertised_priority1);
        quorrin_bmc_shutdown();
        quorrin_fake_reset();
        cfg().log_bmc_changes = true;
    }
}

TEST_F(Bmc, FirstHeadIsAnnouncedEvenWhenTheLocalClockStaysGrandmaster)
{
    platform().seln_local_clock = true;
    start();
    report(N1, master(1, 200)); // worse than the local clock
    withdraw(N1);
    ASSERT_TRUE(quorrin_bmc_get_local_clock_gm());
    forget();
    // The agents still hold no best foreign clock: the new head must reach them.
    report(N1, master(1, 200));
    EXPECT_TRUE(quorrin_bmc_get_local_clock_gm());
    EXPECT_EQ(calls({"announce", "slave_update"}), (strings{"announce damped", "slave_update"}));
}

TEST_F(Bmc, QlOptionChangeSendsASlaveUpdateWithoutAnnouncing)
{
    cfg().profile = 2;
    start();
    report(N1, master(1, 128, 6));
    quorrin_bmc_gm_type gm{};
    quorrin_bmc_get_gm(&gm);
    EXPECT_EQ(gm.ql.option, 1);
    EXPECT_EQ(gm.ql.value, 22);
    forget();
    cfg().ql_option = 3;
    quorrin_bmc_ql_option_update();
    EXPECT_EQ(calls({"announce", "slave_update"}), (strings{"slave_update"}));
    quorrin_bmc_get_gm(&gm);
    EXPECT_EQ(gm.ql.option, 3);
    EXPECT_EQ(gm.ql.value, 62);
}

// ---- Grandmaster changes, servo and messages --------------------------------------------------

TEST_F(Bmc, ServoStartsRestartsAndStopsWithTheGrandmaster)
{
    start();
    report(N1, master(1, 100));
    EXPECT_EQ(calls({"servo_"}), strings{}); // the platform does not use PTP yet
    clock_update(true);
    EXPECT_EQ(calls({"servo_", "announce"}),
              (strings{"announce damped", "servo_start time=1 freq=1 sync=-4 dreq=-4 profile=0 type=0 mode=0 net=0",
                       "announce forced"}));

    const struct {
        const char *name;
        uint32_t node;
        ptp_clock_type clock;
        int32_t log_sync;
        strings servo;
    } steps[] = {
        {"the same clock again", N1, master(1, 100), -4, {}},
        {"new path, same identity and parameters",
         N1,
         [] {
             ptp_clock_type c = master(1, 100);
             c.steps_removed = 2;
             return c;
         }(),
         -4,
         {}},
        {"a new Sync interval",
         N1,
         master(1, 100),
         -3,
         {"servo_stop", "servo_start time=1 freq=1 sync=-3 dreq=-4 profile=0 type=0 mode=0 net=0"}},
        {"a better grandmaster elsewhere",
         N2,
         master(2, 50),
         -5,
         {"servo_stop", "servo_start time=1 freq=1 sync=-5 dreq=-4 profile=0 type=0 mode=0 net=0"}},
        {"a worse clock below the head", N3, master(3, 150), -4, {}},
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(s.name);
        forget();
        report(s.node, s.clock, s.log_sync);
        EXPECT_EQ(calls({"servo_"}), s.servo);
    }

    forget();
    quorrin_bmc_gm_synced();
    quorrin_bmc_gm_synced();
    EXPECT_EQ(calls({"announce", "quorrin_bmc_chkpt_global_write"}),
              (strings{"quorrin_bmc_chkpt_global_write", "announce forced"}));
    EXPECT_EQ(advertised().clock_id, 2u); // the agents now advertise the grandmaster's clock

    forget();
    quorrin_bmc_gm_sync_lost();
    EXPECT_EQ(calls({"announce"}), (strings{"announce forced"}));
    EXPECT_EQ(advertised().clock_id, local_clock().clock_id);

    forget();
    cfg().network_type = 1;
    EXPECT_TRUE(quorrin_bmc_network_options_update());
    EXPECT_EQ(calls({"servo_"}),
              (strings{"servo_stop", "servo_start time=1 freq=1 sync=-5 dreq=-4 profile=0 type=0 mode=0 net=1"}));

    forget();
    withdraw(N1);
    withdraw(N3);
    withdraw(N2);
    EXPECT_EQ(calls({"servo_", "leap gm_lost"}), (strings{"leap gm_lost", "servo_stop"}));
    EXPECT_FALSE(platform().servo_started);
    EXPECT_EQ(quorrin_bmc_get_gm(nullptr), nullptr);
}

// Once the grandmaster is gone the node's clock holds its time: the clock the agents then
// advertise keeps the grandmaster's timescale, and the UTC offset that goes with it, so that no
// slave of the node jumps. What the leap-second database gives is played by the test: the
// grandmaster's own record while it is followed on the PTP timescale, none on the arbitrary one.
struct time_properties {
    uint8_t timescale;
    int16_t utc_offset;
    uint32_t utc_offset_valid;
    bool operator==(const time_properties &) const = default;
};

void PrintTo(const time_properties &t, std::ostream *os)
{
    *os << (t.timescale == PTP_TIMESCALE_PTP ? "PTP" : "ARB") << " UTC offset " << t.utc_offset
        << (t.utc_offset_valid != 0 ? " valid" : " not valid");
}

TEST_F(Bmc, TheClockHeldAfterTheGrandmastersLossKeepsItsTimeProperties)
{
    const auto of = [](const ptp_clock_type &c) {
        return time_properties{c.timescale, c.utc_offset, c.utc_offset_valid};
    };
    ptp_platform_clock_props_type prtc = free_running();
    prtc.timescale = PTP_TIMESCALE_PTP;
    prtc.primary_ref = 1;
    prtc.primary_ref_type = 3;
    const struct {
        const char *name;
        uint32_t profile;
        ptp_platform_clock_props_type props;
        quorrin_fake_cfg_type::item_type configured_timescale;
        time_properties gm;
        quorrin_platform_offset_info_type database_after; // the database's answer once it is lost
        time_properties held;
    } rows[] = {
        {"G.8275.1, a grandmaster on the arbitrary timescale",
         PTP_PROFILE_G8275_1,
         free_running(),
         {},
         {PTP_TIMESCALE_ARB, 37, 0},
         {37, 0},
         {PTP_TIMESCALE_ARB, 37, 0}},
        {"default profile, a grandmaster on the PTP timescale",
         PTP_PROFILE_DEFAULT,
         free_running(),
         {},
         {PTP_TIMESCALE_PTP, 37, 1},
         {37, 1},
         {PTP_TIMESCALE_PTP, 37, 1}},
        {"a configured timescale holds over the grandmaster's",
         PTP_PROFILE_G8275_1,
         free_running(),
         {true, PTP_TIMESCALE_PTP},
         {PTP_TIMESCALE_ARB, 37, 0},
         {37, 0},
         {PTP_TIMESCALE_PTP, 37, 0}},
        {"a clock with a reference of its own keeps its own time",
         PTP_PROFILE_DEFAULT,
         prtc,
         {},
         {PTP_TIMESCALE_ARB, 37, 0},
         {37, 1},
         {PTP_TIMESCALE_PTP, 37, 1}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        cfg().profile = row.profile;
        cfg().clock_type = PTP_TELECOM_CLOCK_T_BC;
        cfg().timescale = row.configured_timescale;
        start(row.props);
        ptp_clock_type gm = master(1);
        gm.timescale = row.gm.timescale;
        gm.utc_offset = row.gm.utc_offset;
        gm.utc_offset_valid = row.gm.utc_offset_valid;
        report(N1, gm);
        clock_update(true, row.props);
        quorrin_bmc_gm_synced();
        const quorrin_platform_offset_info_type followed =
            gm.timescale == PTP_TIMESCALE_PTP ? quorrin_platform_offset_info_type{gm.utc_offset, gm.utc_offset_valid}
                                              : quorrin_platform_offset_info_type{0, 0};
        quorrin_bmc_leap_second_update(0, &followed);
        ASSERT_EQ(advertised().clock_id, 1u);
        EXPECT_EQ(of(advertised()), row.gm);

        withdraw(N1);
        quorrin_bmc_leap_second_update(0, &row.database_after);
        EXPECT_EQ(advertised().clock_id, local_clock().clock_id);
        EXPECT_EQ(of(advertised()), row.held);
        quorrin_bmc_shutdown();
        quorrin_fake_reset();
        cfg().log_bmc_changes = true;
    }
}

TEST_F(Bmc, PlatformStopsUsingPtpAndClaimsWithoutAGrandmaster)
{
    start();
    clock_update(true);
    EXPECT_TRUE(debug_has("BMC: [ERROR] Received bad clock update from platform stating  using PTP for frequency, "
                          "using PTP for time. Currently PTP does not have a grandmaster."));
    EXPECT_EQ(calls({"servo_"}), strings{});

    report(N1, master(1));
    clock_update(true);
    forget();
    clock_update(false);
    EXPECT_EQ(calls({"servo_", "announce"}), (strings{"servo_stop", "announce forced"}));
}

TEST_F(Bmc, GrandmasterChangeMessagesAndTraps)
{
    start();
    report(N1, master(0x1122'33FF'FE33'4455, 128, 6));
    report(N2, master(0x1122'33FF'FE33'4466, 100, 7));
    withdraw(N2);
    withdraw(N1);
    EXPECT_EQ(syslog_texts(),
              (strings{"BEST_MASTER_CLOCK_CHANGE: Best master clock change, new master IPv4 10.0.0.16, clock ID "
                       "0x112233fffe334455, clock class 6, parent clock ID 0x112233fffe334455. Old clock ID 0x0, old "
                       "clock class 0",
                       "CLOCK_CLASS_CHANGED: Advertised clock class changed. Old clock class: 0. New clock class: 248",
                       "BEST_MASTER_CLOCK_CHANGE: Best master clock change, new master IPv4 10.0.0.32, clock ID "
                       "0x112233fffe334466, clock class 7, parent clock ID 0x112233fffe334466. Old clock ID "
                       "0x112233fffe334455, old clock class 6",
                       "BEST_MASTER_CLOCK_CHANGE: Best master clock change, new master IPv4 10.0.0.16, clock ID "
                       "0x112233fffe334455, clock class 6, parent clock ID 0x112233fffe334455. Old clock ID "
                       "0x112233fffe334466, old clock class 7",
                       "BEST_MASTER_CLOCK_REMOVED: A best master clock is no longer available"}));
    EXPECT_EQ(calls({"trap"}),
              (strings{"trap master-found", "trap clock-class 248", "trap time-source", "trap master-found",
                       "trap master-lost peer", "trap master-found", "trap master-lost peer"}));
    EXPECT_TRUE(debug_has("BMC: Grandmaster clock removed, no foreign masters available"));

    // Without change logging the same events raise no message.
    forget();
    cfg().log_bmc_changes = false;
    report(N1, master(1));
    withdraw(N1);
    EXPECT_EQ(syslog_texts(), strings{});
}

TEST_F(Bmc, WithdrawalOfALowerRecordChangesNothing)
{
    start();
    report(N1, master(1, 100));
    report(N2, master(2, 200));
    forget();
    withdraw(N2);
    EXPECT_EQ(calls({"announce", "slave_update", "servo_"}), strings{});
    EXPECT_EQ(calls({"trap master"}), (strings{"trap master-lost peer"}));
    EXPECT_EQ(calls({"quorrin_bmc_chkpt"}), (strings{"quorrin_bmc_chkpt_clock_delete 32"}));
}

TEST_F(Bmc, SeenPrtcFromATimeTraceableGrandmastersClass)
{
    const struct {
        uint32_t profile;
        uint8_t clock_class;
        uint32_t time_traceable;
        bool seen;
    } rows[] = {
        {2, 6, 1, true},    {3, 6, 1, true},  {2, 6, 0, false},  {2, 7, 1, false},  {0, 6, 1, true},
        {0, 7, 1, true},    {0, 13, 1, true}, {0, 14, 1, true},  {0, 187, 1, true}, {0, 193, 1, true},
        {0, 248, 1, false}, {1, 6, 1, false}, {1, 80, 1, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE("profile " + std::to_string(row.profile) + " class " + std::to_string(row.clock_class));
        quorrin_fake_reset();
        cfg().profile = row.profile;
        cfg().clock_type = 1;
        start();
        ptp_clock_type c = master(1, 128, row.clock_class);
        c.time_traceable = row.time_traceable;
        report(N1, c);
        EXPECT_EQ(quorrin_bmc_get_seen_prtc(), row.seen);
        EXPECT_EQ(calls({"quorrin_bmc_chkpt_global_write"}).size(), row.seen ? 1u : 0u);
        quorrin_bmc_shutdown();
    }
}

TEST_F(Bmc, VirtualPortConnectingWhileTheLocalClockIsGrandmaster)
{
    platform().seln_local_clock = true;
    start();
    report(N1, master(1, 200));
    quorrin_bmc_virtual_port_update(QUORRIN_BMC_VP_CLOCK_CLASS, false, 6);
    quorrin_bmc_virtual_port_configured(true);
    ASSERT_TRUE(quorrin_bmc_get_local_clock_gm());
    forget();
    clock_update(false, free_running(), true);
    EXPECT_TRUE(debug_has("BMC: Virtual Port connected"));
    EXPECT_TRUE(debug_has("BMC: Grandmaster local clock updated"));
    EXPECT_EQ(calls({"announce"}), (strings{"announce damped"}));
    EXPECT_EQ(best_source(), PTP_PLATFORM_BEST_SOURCE_VIRTUAL_PORT);
    EXPECT_EQ(advertised().clock_class, 6);
    EXPECT_EQ(local_clock().clock_class, 248); // the overrides are the virtual port's, not the local clock's

    quorrin_bmc_virtual_port_update(QUORRIN_BMC_VP_CLOCK_CLASS, true, 0);
    EXPECT_TRUE(debug_has("BMC: Virtual port clock-class deleted"));
    EXPECT_EQ(advertised().clock_class, 248);
    clock_update(false, free_running(), false);
    EXPECT_TRUE(debug_has("BMC: Virtual Port disconnected"));
    EXPECT_EQ(best_source(), PTP_PLATFORM_BEST_SOURCE_LOCAL_CLOCK);
}

// ---- Node loss -------------------------------------------------------------------------------

TEST_F(Bmc, NodeThatLeavesHasTenSecondsToReportAgain)
{
    start();
    report(N1, master(1, 100));
    report(N2, master(2, 200));
    quorrin_bmc_resync_request(N2);
    quorrin_bmc_resync_request(N1);
    ASSERT_EQ(plat_clock_advance_ms(5000), 0u);
    report(N1, master(1, 100)); // N1 is back
    ASSERT_EQ(plat_clock_advance_ms(QUORRIN_BMC_RESYNC_MS - 5001), 0u);
    EXPECT_EQ(ranked(), (std::vector<uint32_t>{N1, N2}));
    forget();
    ASSERT_EQ(plat_clock_advance_ms(1), 0u);
    EXPECT_EQ(ranked(), (std::vector<uint32_t>{N1}));
    EXPECT_EQ(calls({"announce", "quorrin_bmc_chkpt"}), (strings{"quorrin_bmc_chkpt_clock_delete 32"}));
    ASSERT_EQ(plat_clock_advance_ms(QUORRIN_BMC_RESYNC_MS), 0u);
    EXPECT_EQ(ranked(), (std::vector<uint32_t>{N1}));

    // The head's node leaves for good: the local clock takes over.
    quorrin_bmc_resync_request(N1);
    forget();
    ASSERT_EQ(plat_clock_advance_ms(QUORRIN_BMC_RESYNC_MS), 0u);
    EXPECT_EQ(ranked(), std::vector<uint32_t>{});
    EXPECT_TRUE(quorrin_bmc_get_local_clock_gm());
    EXPECT_EQ(calls({"announce"}), (strings{"announce damped"}));

    quorrin_bmc_resync_request(N3);
    EXPECT_TRUE(debug_has("BMC: Resync request for node"));
}

// ---- Local clock -----------------------------------------------------------------------------

enum class servo_state {
    none,
    uncalibrated,
    synced,
    freerun
};

TEST_F(Bmc, ClassLadder)
{
    const auto props = [](uint8_t sync, uint32_t primary_ref, uint8_t timescale, uint8_t ql_option, uint8_t ql_value,
                          uint32_t time_traceable = 0, uint32_t primary_ref_type = 0) {
        ptp_platform_clock_props_type p = free_running();
        p.sync_state = sync;
        p.primary_ref = primary_ref;
        p.timescale = timescale;
        p.ql_option = ql_option;
        p.ql_value = ql_value;
        p.time_traceable = time_traceable;
        p.primary_ref_type = primary_ref_type;
        return p;
    };
    using C = quorrin_fake_cfg_type::item_type;
    const struct {
        const char *name;
        uint32_t profile;
        uint32_t clock_type;
        ptp_platform_clock_props_type props;
        bool seen_prtc;
        bool post_spec;
        servo_state servo;
        C clock_class, startup, freerun, uncalibrated, holdover, double_failure;
        uint32_t unless_from_holdover;
        uint8_t expected;
    } rows[] = {
        {"default, no reference",
         0,
         0,
         props(0, 0, 0, 1, 1),
         false,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         248},
        {"default, reference, PTP, sync",
         0,
         0,
         props(0, 1, 0, 1, 1),
         false,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         6},
        {"default, reference, ARB, sync",
         0,
         0,
         props(0, 1, 1, 1, 1),
         false,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         13},
        {"default, reference, PTP, holdover",
         0,
         0,
         props(1, 1, 0, 1, 1),
         false,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         7},
        {"default, reference, ARB, holdover",
         0,
         0,
         props(1, 1, 1, 1, 1),
         false,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         14},
        {"default, reference, PTP, no sync",
         0,
         0,
         props(2, 1, 0, 1, 1),
         false,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         187},
        {"default, reference, ARB, double failure",
         0,
         0,
         props(4, 1, 1, 1, 1),
         false,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         193},
        {"G.8265.1, Opt-II,2 PRTC",
         1,
         3,
         props(0, 0, 1, 3, 61),
         false,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         80},
        {"G.8265.1, Opt-II,2 STU",
         1,
         3,
         props(0, 0, 1, 3, 63),
         false,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         82},
        {"G.8265.1, Opt-II,2 ST3E",
         1,
         3,
         props(0, 0, 1, 3, 66),
         false,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         100},
        {"G.8265.1, Opt-II,2 SMC",
         1,
         3,
         props(0, 0, 1, 3, 70),
         false,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         106},
        {"G.8265.1, Opt-II,2 ST4",
         1,
         3,
         props(0, 0, 1, 3, 71),
         false,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         110},
        {"G.8265.1, Opt-II,1 ST3",
         1,
         3,
         props(0, 0, 1, 2, 45),
         false,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         102},
        {"G.8265.1, Opt-II,1 RES",
         1,
         3,
         props(0, 0, 1, 2, 50),
         false,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         108},
        {"G.8265.1, Opt-I ePRC",
         1,
         3,
         props(0, 0, 1, 1, 28),
         false,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         84},
        {"G.8265.1, Opt-I SSU-B",
         1,
         3,
         props(0, 0, 1, 1, 24),
         false,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         96},
        {"G.8265.1, Opt-I SEC",
         1,
         3,
         props(0, 0, 1, 1, 27),
         false,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         104},
        {"G.8265.1, DNU", 1, 3, props(0, 0, 1, 1, 1), false, false, servo_state::none, {}, {}, {}, {}, {}, {}, 0, 110},
        {"G.8265.1, no option",
         1,
         3,
         props(0, 0, 1, 0, 3),
         false,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         110},
        {"G.8275.1 T-TSC",
         2,
         2,
         props(0, 1, 0, 1, 22, 1),
         true,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         255},
        {"G.8275.1 T-BC before PRTC",
         2,
         1,
         props(0, 0, 0, 1, 22),
         false,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         248},
        {"G.8275.1 T-BC in holdover",
         2,
         1,
         props(1, 0, 0, 1, 22),
         true,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         135},
        {"G.8275.1 T-BC otherwise",
         2,
         1,
         props(0, 0, 0, 1, 22),
         true,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         165},
        {"G.8275.1 T-BC no sync, holdover past its limit reported",
         2,
         1,
         props(2, 0, 0, 1, 22),
         true,
         true,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         248},
        {"G.8275.1 T-BC no sync",
         2,
         1,
         props(2, 0, 0, 1, 22),
         true,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         165},
        {"G.8275.2 T-GM before PRTC",
         3,
         0,
         props(0, 0, 0, 1, 22),
         false,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         248},
        {"G.8275.2 T-GM reference, traceable",
         3,
         0,
         props(0, 1, 0, 1, 22, 1),
         true,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         6},
        {"G.8275.2 T-GM holdover",
         3,
         0,
         props(1, 0, 0, 1, 22),
         true,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         7},
        {"G.8275.2 T-GM Opt-I SSU-A",
         3,
         0,
         props(0, 0, 0, 1, 23),
         true,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         150},
        {"G.8275.2 T-GM Opt-II,1 PRS",
         3,
         0,
         props(0, 0, 0, 2, 42),
         true,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         140},
        {"G.8275.2 T-GM Opt-II,2 ST2",
         3,
         0,
         props(0, 0, 0, 3, 64),
         true,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         150},
        {"G.8275.2 T-GM Opt-II,2 ST3E",
         3,
         0,
         props(0, 0, 0, 3, 66),
         true,
         false,
         servo_state::none,
         {},
         {},
         {},
         {},
         {},
         {},
         0,
         160},
        {"configured clock class",
         0,
         0,
         props(0, 1, 0, 1, 1),
         false,
         false,
         servo_state::none,
         {true, 100},
         {},
         {},
         {},
         {},
         {},
         0,
         100},
        {"holdover class in holdover",
         0,
         0,
         props(1, 1, 0, 1, 1),
         false,
         false,
         servo_state::synced,
         {},
         {},
         {},
         {},
         {true, 50},
         {},
         0,
         50},
        {"double-failure class",
         0,
         0,
         props(4, 1, 0, 1, 1),
         false,
         false,
         servo_state::synced,
         {},
         {},
         {},
         {},
         {},
         {true, 60},
         0,
         60},
        {"startup class before the first sync",
         0,
         0,
         props(2, 0, 1, 1, 1),
         false,
         false,
         servo_state::none,
         {},
         {true, 52},
         {},
         {},
         {},
         {},
         0,
         52},
        {"startup class not with a reference",
         0,
         0,
         props(0, 1, 0, 1, 1),
         false,
         false,
         servo_state::none,
         {},
         {true, 52},
         {},
         {},
         {},
         {},
         0,
         6},
        {"startup class over the configured class",
         0,
         0,
         props(2, 0, 1, 1, 1),
         false,
         false,
         servo_state::none,
         {true, 100},
         {true, 52},
         {},
         {},
         {},
         {},
         0,
         52},
        {"freerun class after a sync was lost",
         0,
         0,
         props(2, 0, 1, 1, 1),
         false,
         false,
         servo_state::freerun,
         {},
         {true, 52},
         {true, 58},
         {},
         {},
         {},
         0,
         58},
        {"uncalibrated class while the servo runs",
         0,
         0,
         props(2, 0, 1, 1, 1),
         false,
         false,
         servo_state::uncalibrated,
         {},
         {true, 52},
         {},
         {true, 54},
         {},
         {},
         0,
         54},
        {"uncalibrated class unless from holdover",
         0,
         0,
         props(1, 0, 1, 1, 1),
         false,
         false,
         servo_state::uncalibrated,
         {},
         {},
         {},
         {true, 54},
         {true, 50},
         {},
         1,
         50},
        {"synced: none of the ladder",
         0,
         0,
         props(2, 0, 1, 1, 1),
         false,
         false,
         servo_state::synced,
         {},
         {true, 52},
         {true, 58},
         {true, 54},
         {},
         {},
         0,
         248},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        quorrin_fake_reset();
        cfg().profile = row.profile;
        cfg().clock_type = row.clock_type;
        cfg().clock_class = row.clock_class;
        cfg().startup_class = row.startup;
        cfg().freerun_class = row.freerun;
        cfg().uncalibrated_class = row.uncalibrated;
        cfg().holdover_class = row.holdover;
        cfg().double_failure_class = row.double_failure;
        cfg().unless_from_holdover = row.unless_from_holdover;
        platform().holdover_post_spec = row.post_spec;
        start();
        if (row.seen_prtc) {
            clock_update(false, props(0, 1, 0, 1, 22, 1));
            ASSERT_TRUE(quorrin_bmc_get_seen_prtc());
        }
        if (row.servo != servo_state::none) {
            report(N1, master(1, 1));
            clock_update(true, row.props);
            if (row.servo != servo_state::uncalibrated) {
                quorrin_bmc_gm_synced();
            }
            if (row.servo == servo_state::freerun) {
                withdraw(N1);
            }
        }
        clock_update(row.servo != servo_state::none && row.servo != servo_state::freerun, row.props);
        EXPECT_EQ(local_clock().clock_class, row.expected);
        quorrin_bmc_shutdown();
    }
}

TEST_F(Bmc, LocalClockFieldsByProfileAndClockType)
{
    const struct {
        const char *name;
        uint32_t profile;
        uint32_t clock_type;
        uint32_t primary_ref_type;
        uint8_t accuracy;
        uint16_t oslv;
        uint8_t priority2;
        uint8_t timescale;
    } rows[] = {
        {"default takes the properties", 0, 0, 0, 0x23, 0x1234, 128, 1},
        {"G.8265.1: unknown accuracy", 1, 3, 0, 0xFE, 0xFFFF, 128, 1},
        {"G.8275.1 T-GM with a PRTC", 2, 0, 3, 0x21, 0x4E5D, 128, 0},
        {"G.8275.1 T-GM with an ePRTC", 2, 0, 4, 0x20, 0x4B32, 128, 0},
        {"G.8275.2 T-BC", 3, 1, 3, 0xFE, 0xFFFF, 128, 0},
        {"G.8275.1 T-TSC", 2, 2, 0, 0xFE, 0xFFFF, 255, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        quorrin_fake_reset();
        cfg().profile = row.profile;
        cfg().clock_type = row.clock_type;
        cfg().clock_id = 0x0200'5EFF'FE10'0001;
        ptp_platform_clock_props_type p = free_running();
        p.accuracy = 0x23;
        p.oslv = 0x1234;
        p.primary_ref_type = row.primary_ref_type;
        start(p);
        const ptp_clock_type c = local_clock();
        EXPECT_EQ(c.accuracy, row.accuracy);
        EXPECT_EQ(c.offset_log_variance, row.oslv);
        EXPECT_EQ(c.priority2, row.priority2);
        EXPECT_EQ(c.timescale, row.timescale);
        EXPECT_EQ(c.clock_id, 0x0200'5EFF'FE10'0001u);
        EXPECT_EQ(c.local, 1u);
        EXPECT_EQ(c.configured_priority, 128);
        quorrin_bmc_shutdown();
    }
}

TEST_F(Bmc, ConfiguredValuesReplaceTheDerivedOnesAndAnnounce)
{
    start();
    cfg().time_source = {true, 0x40};
    quorrin_bmc_time_source_update();
    cfg().priority1 = {true, 10};
    quorrin_bmc_priority_update();
    cfg().clock_class = {true, 7};
    quorrin_bmc_clock_class_update();
    EXPECT_EQ(local_clock().time_source, 0x40);
    EXPECT_EQ(local_clock().priority1, 10);
    EXPECT_EQ(calls({"announce", "trap"}), (strings{"announce damped", "trap clock-class 248", "trap time-source",
                                                    "announce damped", "announce damped", "trap clock-class 7"}));
    EXPECT_EQ(
        syslog_texts(),
        (strings{"CLOCK_CLASS_CHANGED: Advertised clock class changed. Old clock class: 0. New clock class: 248",
                 "CLOCK_CLASS_CHANGED: Advertised clock class changed. Old clock class: 248. New clock class: 7"}));
}

// ---- Quality levels --------------------------------------------------------------------------

TEST_F(Bmc, QualityLevelOfAClock)
{
    const struct {
        uint32_t profile;
        uint8_t clock_class;
        uint32_t frequency_traceable;
        uint8_t internal[3]; // the platform's internal-clock QL
        uint8_t expected[3]; // for options I, II gen 1, II gen 2
    } rows[] = {
        {0, 6, 0, {0, 0, 0}, {27, 45, 66}}, {0, 6, 0, {22, 42, 62}, {22, 42, 62}},
        {1, 80, 0, {}, {0, 42, 62}},        {1, 82, 0, {}, {0, 43, 63}},
        {1, 84, 0, {}, {22, 0, 0}},         {1, 86, 0, {}, {0, 44, 64}},
        {1, 90, 0, {}, {23, 0, 65}},        {1, 96, 0, {}, {24, 0, 0}},
        {1, 100, 0, {}, {0, 0, 66}},        {1, 102, 0, {}, {0, 45, 67}},
        {1, 104, 0, {}, {27, 0, 0}},        {1, 106, 0, {}, {0, 48, 70}},
        {1, 108, 0, {}, {0, 0, 72}},        {1, 110, 0, {}, {1, 1, 1}},
        {1, 81, 0, {}, {0, 0, 0}},          {2, 6, 0, {}, {22, 42, 62}},
        {3, 140, 0, {}, {22, 42, 62}},      {2, 7, 1, {}, {22, 42, 62}},
        {2, 7, 0, {}, {27, 45, 67}},        {3, 135, 1, {}, {22, 42, 62}},
        {3, 135, 0, {}, {27, 45, 67}},      {2, 150, 0, {}, {23, 44, 64}},
        {2, 160, 0, {}, {24, 45, 66}},      {2, 165, 0, {}, {27, 45, 67}},
        {2, 248, 0, {}, {27, 45, 67}},      {3, 255, 0, {}, {27, 45, 67}},
        {2, 100, 0, {}, {0, 0, 0}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE("profile " + std::to_string(row.profile) + " class " + std::to_string(row.clock_class));
        cfg().profile = row.profile;
        platform().capabilities.o1_value = row.internal[0];
        platform().capabilities.o2_g1_value = row.internal[1];
        platform().capabilities.o2_g2_value = row.internal[2];
        ptp_clock_type c = master(1, 128, row.clock_class);
        c.frequency_traceable = row.frequency_traceable;
        for (uint8_t option = 1; option <= 3; option++) {
            cfg().ql_option = option;
            const quorrin_bmc_ql_type ql = quorrin_bmc_get_clock_ql(&c);
            EXPECT_EQ(ql.option, option);
            EXPECT_EQ(ql.value, row.expected[option - 1]) << "option " << int{option};
        }
    }
    cfg().ql_option = 4;
    const ptp_clock_type c = master(1, 128, 6);
    EXPECT_EQ(quorrin_bmc_get_clock_ql(&c).value, 0);
}

TEST(BmcQl, RanksAndNames)
{
    const struct {
        uint8_t option;
        uint8_t value;
        uint32_t rank;
    } ranks[] = {
        {1, 20, 8},
        {1, 21, 7},
        {1, 22, 5},
        {1, 23, 4},
        {1, 24, 3},
        {1, 25, 2},
        {1, 26, 1},
        {1, 27, 1},
        {1, 28, 6},
        {2, 40, 11},
        {2, 41, 10},
        {2, 42, 8},
        {2, 43, 7},
        {2, 44, 6},
        {2, 45, 4},
        {2, 46, 5},
        {2, 47, 4},
        {2, 48, 3},
        {2, 49, 2},
        {2, 50, 1},
        {2, 51, 9},
        {3, 60, 13},
        {3, 61, 12},
        {3, 62, 10},
        {3, 63, 9},
        {3, 64, 8},
        {3, 65, 7},
        {3, 66, 5},
        {3, 67, 4},
        {3, 68, 6},
        {3, 69, 4},
        {3, 70, 3},
        {3, 71, 2},
        {3, 72, 1},
        {3, 73, 11},
        // Outside the option's values.
        {1, 42, 0},
        {2, 22, 0},
        {3, 1, 0},
        {0, 22, 0},
        {4, 62, 0},
    };
    for (const auto &r : ranks) {
        EXPECT_EQ(quorrin_bmc_ql_rank({r.option, r.value}), r.rank) << int{r.option} << "/" << int{r.value};
    }
    const struct {
        uint8_t value;
        const char *name;
    } names[] = {
        {0, "Invalid"},         {1, "DNU/DUS"},        {2, "Failed"},      {3, "None"},
        {4, "Unknown QL"},      {20, "Opt-I/ePRTC"},   {28, "Opt-I/ePRC"}, {29, "Unknown QL"},
        {40, "Opt-II,1/ePRTC"}, {51, "Opt-II,1/ePRC"}, {52, "Unknown QL"}, {60, "Opt-II,2/ePRTC"},
        {65, "Opt-II,2/TNC"},   {73, "Opt-II,2/ePRC"}, {74, "Unknown QL"}, {255, "Unknown QL"},
    };
    for (const auto &n : names) {
        EXPECT_STREQ(quorrin_bmc_ql_value_to_str(n.value), n.name) << int{n.value};
    }
}

} // namespace
