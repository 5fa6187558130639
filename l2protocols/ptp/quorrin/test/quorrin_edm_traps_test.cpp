// The controller's operational data and traps against the in-process database, with the modules
// they read faked: the start-up and its failures, every item read as a show tool reads it, the
// clear action, and the six trap kinds switched by the operator's items and received as the MIB
// plug-ins receive them.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "evm_test_thread.h"
#include "nodra.h"
#include "nodra_test.h"
#include "plat_clock.h"
#include "plat_debug.h"
#include "ptp_bags.h"
#include "ptp_debug.h"
#include "ptp_strings.h"
#include "ptp_zerr_codes.h"
#include "qor_log.h"
#include "quorrin_debug.h"
#include "quorrin_edm_traps.h"
#include "quorrin_fakes.h"
#include "quorrin_stats.h"
#include "tuple.h"

namespace {

debug_event_type debug_table[QUORRIN_DEBUG_AREA_COUNT];

// Notifications as the MIB plug-ins receive them.
std::mutex seen_lock;
std::vector<std::pair<std::string, std::vector<uint8_t>>> seen;

zerrno on_trap(const nodra_notify_event_info_td *event, void *, const void *)
{
    const auto *bytes = static_cast<const uint8_t *>(event->new_data);
    std::lock_guard guard(seen_lock);
    seen.emplace_back(event->path, std::vector<uint8_t>(bytes, bytes + event->new_length));
    return 0;
}

std::string addr_text(const ptp_bag_address *a)
{
    if (a == nullptr) {
        return "none";
    }
    return a->Encapsulation == PTP_BAG_ENCAP_IPv4 ? "ipv4" : "other";
}

// A received trap in words, decoded with its kind's bag.
template <typename Bag>
std::string decoded(const std::vector<uint8_t> &value, const bag_descriptor_type *d, std::string (*text)(const Bag &))
{
    Bag bag{};
    if (bag_decode(value.data(), static_cast<uint32_t>(value.size()), &bag, d) != 0) {
        return "undecodable";
    }
    std::string out = text(bag);
    bag_free_indirections(&bag, d);
    return out;
}

std::string describe(const std::string &item, const std::vector<uint8_t> &v)
{
    if (item == "snmp-traps/clock-class") {
        return decoded<ptp_trap_clock_class>(v, ptp_trap_clock_class_bag_getfn(), [](const ptp_trap_clock_class &b) {
            return "addr=" + addr_text(b.addr) + " clock_id=" + std::to_string(b.clock_id) +
                   " clock_class=" + std::to_string(b.clock_class);
        });
    }
    if (item == "snmp-traps/clock-state") {
        return decoded<ptp_trap_clock_state>(v, ptp_trap_clock_state_bag_getfn(), [](const ptp_trap_clock_state &b) {
            return "addr=" + addr_text(b.addr) + " state=" + std::to_string(b.state);
        });
    }
    if (item == "snmp-traps/time-source") {
        return decoded<ptp_trap_time_source>(v, ptp_trap_time_source_bag_getfn(), [](const ptp_trap_time_source &b) {
            return "time_source=" + std::to_string(b.time_source);
        });
    }
    if (item == "snmp-traps/utc-offset-change") {
        return decoded<ptp_trap_utc_offset>(v, ptp_trap_utc_offset_bag_getfn(), [](const ptp_trap_utc_offset &b) {
            return "addr=" + addr_text(b.addr) +
                   " utc_offset=" + (b.utc_offset != nullptr ? std::to_string(*b.utc_offset) : "none");
        });
    }
    if (item == "snmp-traps/offset-threshold-breach") {
        return decoded<ptp_trap_offset_threshold_breach>(
            v, ptp_trap_offset_threshold_breach_bag_getfn(), [](const ptp_trap_offset_threshold_breach &b) {
                return "addr=" + addr_text(b.addr) + " offset=" + std::to_string(b.offset_from_master) +
                       " sub_ns=" + std::to_string(b.sub_ns_part);
            });
    }
    if (item == "snmp-traps/master-lost") {
        return decoded<ptp_trap_master_lost>(v, ptp_trap_master_lost_bag_getfn(), [](const ptp_trap_master_lost &b) {
            return "addr=" + addr_text(b.addr) + " peer=" + addr_text(b.peer) + " present=" + std::to_string(b.present);
        });
    }
    return "unknown item " + item;
}

ptp_address_type ipv4(uint8_t last)
{
    ptp_address_type a{};
    a.encap = PTP_ENCAP_IPV4;
    const uint8_t bytes[4] = {10, 0, 0, last};
    std::memcpy(a.value, bytes, sizeof bytes);
    return a;
}

std::vector<uint8_t> thresholds(int32_t warning, int32_t critical)
{
    tuple_type *t = nullptr;
    EXPECT_EQ(tuple_pack_mask(&t, "%d%d", 3u, warning, critical), 0u);
    const auto *bytes = reinterpret_cast<const uint8_t *>(t);
    std::vector<uint8_t> out(bytes, bytes + tuple_size(t));
    tuple_free(t);
    return out;
}

constexpr const char *oper_item_paths[] = {
    "config-errors",      "leap-seconds",         "dataset/current-ds",
    "dataset/default-ds", "dataset/parent-ds",    "dataset/time-properties-ds",
    "grandmaster",        "advertised-clock",     "local-clock",
    "ctrlr-database",     "ctrlr-event-counters",
};

constexpr uint64_t GM_ID = 0xAA00000000000001;
constexpr uint64_t LOCAL_ID = 0x1100000000000001;

class EdmTrapsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char name[] = "/tmp/quorrin_edm_libXXXXXX";
        const int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        close(fd);
        library = name;
    }
    static void TearDownTestSuite() { unlink(library.c_str()); }

    void SetUp() override
    {
        quorrin_fake_reset();
        nodra_test_reset();
        bag_registry_reset();
        nodra_test_set_client_library_path(library.c_str());
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();
        quorrin_stats_clear_event_counters();
        {
            std::lock_guard guard(seen_lock);
            seen.clear();
        }
        ctl.run([this] {
            ASSERT_EQ(ptp_debug_register(ctl.evm, debug_table, quorrin_debug_areas, QUORRIN_DEBUG_AREA_COUNT, nullptr),
                      0u);
        });
        debug_set_area(PTP_DEBUG_PATH, "edm", nullptr);
        debug_capture_clear();
        ASSERT_EQ(nodra_bind(&listener, "/oper/ptp/gl/", 0), 0u);
        mib.run([this] {
            ASSERT_EQ(nodra_register_notification(listener, "snmp-traps/", 7, 0, on_trap, mib.evm, nullptr, nullptr, 0,
                                                  &listen_id),
                      0u);
        });
        ASSERT_EQ(nodra_bind(&oper, "/oper/ptp/&&/", 17), 0u);
        ASSERT_EQ(nodra_bind(&action, "/action/ptp/&&/", 17), 0u);
        base_bindings = nodra_test_open_bindings();
        fixture_state();
    }
    void TearDown() override
    {
        ctl.run([] {
            quorrin_edm_shutdown();
            ptp_debug_cleanup();
        });
        EXPECT_EQ(nodra_test_open_bindings(), base_bindings) << "the shutdown undoes every binding";
        nodra_notification_unregister(listen_id);
        nodra_unbind(listener);
        nodra_unbind(oper);
        nodra_unbind(action);
        nodra_test_fail(nodra_test_op::bind, 0, 0);
        nodra_test_fail(nodra_test_op::registration, 0, 0);
        nodra_test_fail(nodra_test_op::generate_notifications, 0, 0);
        nodra_test_reset();
    }

    // The other modules' state every item is checked against.
    void fixture_state()
    {
        quorrin_fake_bmc_type &bmc = quorrin_fake_bmc();
        ptp_clock_type gm{};
        gm.clock_id = GM_ID;
        gm.priority1 = 100;
        gm.priority2 = 110;
        gm.clock_class = 6;
        gm.accuracy = 0x21;
        gm.offset_log_variance = 0x4E5D;
        gm.steps_removed = 3;
        gm.time_source = 0x20;
        gm.utc_offset = 37;
        gm.utc_offset_valid = 1;
        gm.frequency_traceable = 1;
        gm.time_traceable = 1;
        gm.timescale = PTP_TIMESCALE_PTP;
        gm.leap_seconds = PTP_LEAP_61;
        gm.sender = {0xBB00000000000002, 5};
        gm.receiver = {0xCC00000000000003, 2};
        gm.configured_priority = 128; // every reported clock carries its port's local priority
        bmc.has_gm = true;
        bmc.gm_clock = gm;
        bmc.gm.ifhandle = 0x01000200;
        bmc.gm.address = ipv4(9);
        bmc.gm.using_ptp_for_time = 1;
        bmc.gm.using_ptp_for_frequency = 1;
        bmc.gm.change_time = static_cast<uint64_t>(plat_clock_wall_ns() - 5'500'000'000);
        bmc.advertised = gm;
        bmc.advertised_extra = {24, true, 0x40, false, 1};
        ptp_clock_type local{};
        local.clock_id = LOCAL_ID;
        local.priority1 = 128;
        local.priority2 = 128;
        local.clock_class = 248;
        local.accuracy = 0xFE;
        local.offset_log_variance = 0xFFFF;
        local.local = 1;
        local.configured_priority = 128;
        local.receiver = {LOCAL_ID, 1};
        bmc.local_clock = local;
        bmc.node_active = true;
        bmc.vp = {true, true, 1u << QUORRIN_BMC_VP_PRIORITY1, {90, 0, 0, 0, 0, 0}};
        bmc.oper = {true, true, true, true, false, true, 7'000'000'123, 8'000'000'456, -4, -3};
        quorrin_bmc_clock_type first{};
        first.node_id = 0x100;
        first.clock = gm;
        first.chkpt_id = 11;
        quorrin_bmc_clock_type second = first;
        second.node_id = 0x200;
        second.clock.clock_id = 0xDD;
        second.chkpt_id = 12;
        bmc.ranked = {first, second};

        quorrin_fake_platform_type &platform = quorrin_fake_platform();
        platform.offset_from_master = -250;
        platform.mean_path_delay = 1200;
        platform.servo_status = 4;
        platform.servo_started = true;
        platform.threshold_offset = 42;
        platform.capabilities.supports_ptp = true;
        platform.capabilities.capability_version = 2;
        platform.capabilities.holdover_duration_max = 3600;
        platform.capabilities.o1_value = 22;

        quorrin_fake_cfg_type &cfg = quorrin_fake_cfg();
        cfg.profile = PTP_PROFILE_G8275_1;
        cfg.profile_set = true;
        cfg.clock_type = 1;
        cfg.domain = 24;
        cfg.clock_id = LOCAL_ID;
        cfg.priority1 = {true, 128};
        cfg.apts = true;
        cfg.network_type = 1;
        cfg.applied_config_counter = 9;
        cfg.globals = {true, 1u << QUORRIN_BMC_VP_PRIORITY1, 90, 0, 0, 0, 0, 0};

        quorrin_fake_port_num_active_count() = 7;

        quorrin_fake_leap_seconds_type &leap = quorrin_fake_leap_seconds();
        leap.entries = {{nullptr, nullptr, 35, 0, 0, 1}, {nullptr, nullptr, 37, 1483228800, 2, 0}};
        leap.invalid = true;
        leap.summary.current = {1, 37, 0};
        leap.summary.source_type = 1;
        leap.summary.has_gm = true;
        leap.summary.gm = {1, 37, 2};
        leap.summary.has_file = true;
        leap.summary.url = "http://time.example/leap-seconds.list";
        leap.summary.polling_days = 7;
        leap.summary.next_check = 1700000000;

        quorrin_stats_increment_event_counter(QUORRIN_GL_EVENT_BMC_RECEIVED);
        quorrin_stats_increment_event_counter(QUORRIN_GL_EVENT_BMC_RECEIVED);
    }

    zerrno init()
    {
        zerrno rc = 1;
        ctl.run([&] { rc = quorrin_edm_init(ctl.evm); });
        return rc;
    }
    zerrno gl_init()
    {
        zerrno rc = 1;
        ctl.run([&] { rc = quorrin_edm_gl_init(ctl.evm); });
        return rc;
    }
    void start()
    {
        ASSERT_EQ(init(), 0u);
        ASSERT_EQ(gl_init(), 0u);
        settle();
    }
    // Every notification so far delivered, to the controller and to the MIB side.
    void settle()
    {
        ASSERT_EQ(nodra_test_sync(ctl.evm), 0u);
        ctl.drain();
        ASSERT_EQ(nodra_test_sync(mib.evm), 0u);
        mib.drain();
    }
    void enable(const std::string &item, const std::vector<uint8_t> *value)
    {
        nodra_commit_td *commit = nullptr;
        ASSERT_EQ(nodra_commit_create(&commit), 0u);
        const std::string path = "/cfg/gl/snmp/enable/traps/ptp/" + item;
        const uint32_t one = 1;
        if (value == nullptr) {
            ASSERT_EQ(nodra_commit_set(commit, path.c_str(), NODRA_ITEM_DATATYPE_UINT32, &one, sizeof one), 0u);
        } else {
            ASSERT_EQ(nodra_commit_set(commit, path.c_str(), NODRA_ITEM_DATATYPE_PACKED, value->data(),
                                       static_cast<uint32_t>(value->size())),
                      0u);
        }
        nodra_commit_result_td result;
        ASSERT_EQ(nodra_commit_apply(commit, &result), 0u);
        nodra_commit_free(commit);
        settle();
    }
    void disable(const std::string &item)
    {
        nodra_commit_td *commit = nullptr;
        ASSERT_EQ(nodra_commit_create(&commit), 0u);
        ASSERT_EQ(nodra_commit_delete(commit, ("/cfg/gl/snmp/enable/traps/ptp/" + item).c_str()), 0u);
        nodra_commit_result_td result;
        ASSERT_EQ(nodra_commit_apply(commit, &result), 0u);
        nodra_commit_free(commit);
        settle();
    }
    void raise(const std::function<void()> &fn)
    {
        ctl.run(fn);
        settle();
    }
    // The traps received since the last call, in words.
    std::vector<std::string> received()
    {
        std::lock_guard guard(seen_lock);
        std::vector<std::string> out;
        for (const auto &[item, value] : seen) {
            out.push_back(item + " " + describe(item, value));
        }
        seen.clear();
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
    // The first of them, or "" when there is none (a failed expectation, not a crash).
    std::string first_line_with(const std::string &part)
    {
        const std::vector<std::string> lines = debug_lines_with(part);
        return lines.empty() ? std::string() : lines.front();
    }
    std::vector<std::string> syslog(const char *mnemonic)
    {
        std::vector<std::string> out;
        for (const qor_captured_msg &m : qor_errmsg_captured()) {
            if (m.mnemonic == mnemonic) {
                out.push_back(m.text);
            }
        }
        return out;
    }
    // Whether a provider takes the item's requests (before the bags are registered its answer is
    // the encoding's failure).
    bool answers(const char *item)
    {
        uint32_t type = 0;
        void *data = nullptr;
        uint32_t length = 0;
        const zerrno rc = nodra_item_get(oper, item, &type, &data, &length, 0);
        free(data);
        return rc != NODRA_ERR_NOT_FOUND;
    }
    // The item's answer decoded into bag (zerrno of the request).
    template <typename Bag>
    zerrno get(const char *item, Bag *bag, const bag_descriptor_type *d)
    {
        uint32_t type = 0;
        void *data = nullptr;
        uint32_t length = 0;
        const zerrno rc = nodra_item_get(oper, item, &type, &data, &length, 0);
        if (rc == 0) {
            EXPECT_EQ(type, NODRA_ITEM_DATATYPE_BAG);
            EXPECT_EQ(bag_decode(static_cast<const uint8_t *>(data), length, bag, d), 0u) << item;
        }
        free(data);
        return rc;
    }

    static inline std::string library;
    evm_thread ctl; // the controller's event loop
    evm_thread mib; // the MIB plug-ins' side
    nodra_conn_td *listener = nullptr;
    nodra_conn_td *oper = nullptr;
    nodra_conn_td *action = nullptr;
    uint32_t listen_id = 0;
    uint32_t base_bindings = 0;
};

// First of all: once the library has been found, the process remembers it.
TEST_F(EdmTrapsTest, WithoutTheDatabaseLibraryTheStartFailsWithItsText)
{
    nodra_test_set_client_library_path("/nonexistent/libnodra.so");
    EXPECT_EQ(init(), 0x8081c200u);
    EXPECT_EQ(syslog("INIT_FAILED"), (std::vector<std::string>{"Failed to initialize: Failed to bind to Nodra for oper "
                                                               "EDM: " +
                                                               std::string(zerr_strerror(0x8081c200u))}));
    EXPECT_EQ(nodra_test_open_bindings(), base_bindings);
}

// Each failing step stops the start there with its text; the shutdown (TearDown) undoes what was
// done, and an item registered before the failure answers until then.
TEST_F(EdmTrapsTest, FailedStartStepsStopWithTheirTextsAndShutdownUndoesThem)
{
    struct row_type {
        nodra_test_op op;
        uint32_t after; // calls of op that succeed first
        const char *text;
        uint32_t binds; // bindings left until the shutdown
        bool first_item_answers;
    } const rows[] = {
        {nodra_test_op::bind, 0, "Failed to bind to Nodra for oper EDM: ", 0, false},
        {nodra_test_op::registration, 0, "Failed to register with Nodra for oper EDM: ", 1, false},
        {nodra_test_op::registration, 5, "Failed to register with Nodra for oper EDM: ", 1, true},
        {nodra_test_op::bind, 1, "Failed to bind to Nodra for global action EDM: ", 1, true},
        {nodra_test_op::registration, 11, "Failed to register with Nodra for global action EDM: ", 2, true},
    };
    for (const row_type &row : rows) {
        SCOPED_TRACE(std::string(row.text) + std::to_string(row.after));
        qor_errmsg_capture_clear();
        nodra_test_fail(row.op, NODRA_ERR_UNREACHABLE, 1, row.after);
        EXPECT_EQ(init(), NODRA_ERR_UNREACHABLE);
        nodra_test_fail(row.op, 0, 0);
        EXPECT_EQ(syslog("INIT_FAILED"), (std::vector<std::string>{std::string("Failed to initialize: ") + row.text +
                                                                   zerr_strerror(NODRA_ERR_UNREACHABLE)}));
        EXPECT_EQ(nodra_test_open_bindings(), base_bindings + row.binds);
        EXPECT_EQ(answers("config-errors"), row.first_item_answers);
        ctl.run([] { quorrin_edm_shutdown(); });
        EXPECT_EQ(nodra_test_open_bindings(), base_bindings);
        EXPECT_FALSE(answers("config-errors")) << "unregistered";
    }

    bag_test_fail_register(1, 0x1234);
    qor_errmsg_capture_clear();
    EXPECT_EQ(init(), 0x1234u);
    const std::vector<std::string> texts = syslog("INIT_FAILED");
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].rfind("Failed to initialize: Failed to register bags: ", 0), 0u) << texts[0];
}

// The global binding is tried once; the traps' own binding and registration failing leave
// nothing of theirs, and no trap is published.
TEST_F(EdmTrapsTest, GlobalStartFailuresLeaveNoTraps)
{
    ASSERT_EQ(init(), 0u);
    const uint32_t after_init = nodra_test_open_bindings();
    nodra_test_fail(nodra_test_op::bind, NODRA_ERR_UNREACHABLE, 1);
    qor_errmsg_capture_clear();
    EXPECT_EQ(gl_init(), NODRA_ERR_UNREACHABLE);
    EXPECT_EQ(syslog("INIT_FAILED"), (std::vector<std::string>{"Failed to initialize: Failed to bind to Nodra for "
                                                               "global oper EDM: " +
                                                               std::string(zerr_strerror(NODRA_ERR_UNREACHABLE))}));
    EXPECT_EQ(gl_init(), 0u) << "not tried again";
    EXPECT_EQ(nodra_test_open_bindings(), after_init);
    ctl.run([] { quorrin_edm_shutdown(); });

    for (nodra_test_op op : {nodra_test_op::bind, nodra_test_op::registration}) {
        ASSERT_EQ(init(), 0u);
        // The trap-enable binding comes after the global one; its registration is the first.
        nodra_test_fail(op, NODRA_ERR_UNREACHABLE, 1, op == nodra_test_op::bind ? 1 : 0);
        qor_errmsg_capture_clear();
        EXPECT_EQ(gl_init(), NODRA_ERR_UNREACHABLE);
        EXPECT_TRUE(syslog("INIT_FAILED").empty());
        EXPECT_EQ(nodra_test_open_bindings(), after_init + 1) << "only the global binding stays until the shutdown";
        enable("clock-class", nullptr);
        raise([] { quorrin_edm_trap_generate_clock_class(quorrin_fake_bmc().advertised); });
        EXPECT_TRUE(received().empty());
        disable("clock-class");
        ctl.run([] { quorrin_edm_shutdown(); });
        EXPECT_EQ(nodra_test_open_bindings(), base_bindings);
    }
}

// Every kind: nothing while disabled; enabling publishes the current value (master lost: nothing);
// each event then publishes its bag with the grandmaster's address; without a grandmaster no
// address; deleting the item stops it.
TEST_F(EdmTrapsTest, EachTrapKindFollowsItsEnableItem)
{
    const std::vector<uint8_t> tuple = thresholds(100, 500);
    const ptp_address_type peer = ipv4(7);
    struct row_type {
        const char *item;
        const std::vector<uint8_t> *value;
        const char *debug_name;
        std::vector<std::string> on_enable;
        std::function<void()> event;
        std::string on_event; // after the item's path
        const char *debug;    // "" for none
    } const rows[] = {
        {"clock-class",
         nullptr,
         "Clock Class",
         {"snmp-traps/clock-class addr=ipv4 clock_id=" + std::to_string(GM_ID) + " clock_class=6"},
         [] {
             ptp_clock_type c = quorrin_fake_bmc().advertised;
             c.clock_class = 7;
             quorrin_edm_trap_generate_clock_class(c);
         },
         "addr=ipv4 clock_id=" + std::to_string(GM_ID) + " clock_class=7",
         "EDM: Notifiying Clock Class of 7"},
        {"clock-state",
         nullptr,
         "Clock State",
         {"snmp-traps/clock-state addr=ipv4 state=4"},
         [] { quorrin_edm_trap_generate_clock_state(5); },
         "addr=ipv4 state=5",
         "EDM: Notifiying Clock State of 'Holdover'"},
        {"time-source",
         nullptr,
         "Time Source",
         {"snmp-traps/time-source time_source=32"},
         [] { quorrin_edm_trap_generate_time_source(); },
         "time_source=32",
         "EDM: Notifiying Time Source of 'GPS'"},
        {"utc-offset-change",
         nullptr,
         "UTC Offset",
         {"snmp-traps/utc-offset-change addr=ipv4 utc_offset=37"},
         [] { quorrin_edm_trap_generate_utc_offset(); },
         "addr=ipv4 utc_offset=37",
         ""},
        {"offset-threshold-breach",
         &tuple,
         "Offset from Master",
         {"snmp-traps/offset-threshold-breach addr=ipv4 offset=42 sub_ns=0"},
         [] { quorrin_edm_trap_generate_threshold_breach(-250, 7); },
         "addr=ipv4 offset=-250 sub_ns=7",
         "EDM: Notifiying Offset Threshold of -250 (.7)"},
        {"master-lost",
         nullptr,
         "Master Lost",
         {},
         [peer] { quorrin_edm_trap_generate_master_lost(&peer, false); },
         "addr=ipv4 peer=ipv4 present=0",
         "EDM: Notifying a master Lost"},
    };
    start();
    for (const row_type &row : rows) {
        SCOPED_TRACE(row.item);
        fixture_state();
        const std::string path = std::string("snmp-traps/") + row.item;
        raise(row.event);
        EXPECT_TRUE(received().empty()) << "disabled";

        debug_capture_clear();
        enable(row.item, row.value);
        EXPECT_EQ(received(), row.on_enable);
        EXPECT_EQ(first_line_with(" trap ").rfind(std::string("EDM: ") + row.debug_name + " trap Configured", 0), 0u);

        debug_capture_clear();
        raise(row.event);
        EXPECT_EQ(received(), (std::vector<std::string>{path + " " + row.on_event}));
        EXPECT_EQ(debug_lines_with("Notif"),
                  *row.debug ? std::vector<std::string>{row.debug} : std::vector<std::string>{});

        quorrin_fake_bmc().has_gm = false;
        raise(row.event);
        const std::vector<std::string> without = received();
        ASSERT_EQ(without.size(), 1u);
        EXPECT_EQ(without[0].find("addr=ipv4"), std::string::npos) << without[0];

        debug_capture_clear();
        disable(row.item);
        EXPECT_EQ(first_line_with(" trap ").rfind(std::string("EDM: ") + row.debug_name + " trap Unconfigured", 0), 0u);
        received(); // offset threshold: the cleared thresholds go to the platform, nothing published
        raise(row.event);
        EXPECT_TRUE(received().empty()) << "disabled again";
    }
}

TEST_F(EdmTrapsTest, SameThresholdsAgainPublishOffsetZeroWithoutThePlatform)
{
    start();
    const std::vector<uint8_t> tuple = thresholds(100, 500);
    enable("offset-threshold-breach", &tuple);
    EXPECT_EQ(received(),
              (std::vector<std::string>{"snmp-traps/offset-threshold-breach addr=ipv4 offset=42 sub_ns=0"}));
    quorrin_fake_calls().clear();
    // The same values as a second notification of the item.
    ctl.run([&] {
        nodra_notify_event_info_td event{};
        event.path = "ptp/offset-threshold-breach";
        event.event = NODRA_EVENT_SET;
        event.datatype = NODRA_ITEM_DATATYPE_PACKED;
        event.new_data = tuple.data();
        event.new_length = static_cast<uint32_t>(tuple.size());
        quorrin_edm_trap_cfg_offset_from_master(&event, nullptr, nullptr);
    });
    settle();
    EXPECT_EQ(received(), (std::vector<std::string>{"snmp-traps/offset-threshold-breach addr=ipv4 offset=0 sub_ns=0"}));
    EXPECT_TRUE(quorrin_fake_calls().empty()) << "the platform is not asked again";

    // A value cut short changes nothing.
    ctl.run([&] {
        nodra_notify_event_info_td event{};
        event.path = "ptp/offset-threshold-breach";
        event.event = NODRA_EVENT_SET;
        event.new_data = tuple.data();
        event.new_length = static_cast<uint32_t>(tuple.size()) - 3;
        quorrin_edm_trap_cfg_offset_from_master(&event, nullptr, nullptr);
    });
    settle();
    EXPECT_TRUE(received().empty());
    EXPECT_TRUE(quorrin_fake_calls().empty());
}

TEST_F(EdmTrapsTest, UtcOffsetTrapWithoutAValidOffsetCarriesNone)
{
    quorrin_fake_bmc().advertised.utc_offset_valid = 0;
    start();
    enable("utc-offset-change", nullptr);
    EXPECT_EQ(received(), (std::vector<std::string>{"snmp-traps/utc-offset-change addr=ipv4 utc_offset=none"}));
}

TEST_F(EdmTrapsTest, FailedNotificationRaisesItsSyslogMessage)
{
    start();
    enable("clock-state", nullptr);
    received();
    nodra_test_fail(nodra_test_op::generate_notifications, NODRA_ERR_UNREACHABLE, 1);
    raise([] { quorrin_edm_trap_generate_clock_state(2); });
    EXPECT_TRUE(received().empty());
    const std::vector<qor_captured_msg> msgs = qor_errmsg_captured();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].mnemonic, "MIB_TRAP_NFN_FAILED");
    EXPECT_EQ(msgs[0].severity, 4);
    EXPECT_EQ(msgs[0].text, "Failed to raise a PTP MIB trap on path 'snmp-traps/clock-state': " +
                                std::string(zerr_strerror(NODRA_ERR_UNREACHABLE)));
}

// Every item read through the database, its bag against the fixture state.
TEST_F(EdmTrapsTest, EveryItemAnswersFromTheCurrentState)
{
    start();
    debug_capture_clear();
    {
        ptp_current_ds_info b{};
        ASSERT_EQ(get("dataset/current-ds", &b, ptp_current_ds_info_bag_getfn()), 0u);
        EXPECT_EQ(b.StepsRemoved, 3u);
        EXPECT_EQ(b.OffsetFromMaster, -250);
        EXPECT_EQ(b.MeanPathDelay, 1200);
    }
    {
        ptp_default_ds_info b{};
        ASSERT_EQ(get("dataset/default-ds", &b, ptp_default_ds_info_bag_getfn()), 0u);
        EXPECT_EQ(b.profile, PTP_BAG_PROFILE_G82751);
        EXPECT_EQ(b.TwoStepFlag, 1u);
        EXPECT_EQ(b.ClockID, LOCAL_ID);
        EXPECT_EQ(b.NumberPorts, 7u);
        EXPECT_EQ(b.ClockClass, 248);
        EXPECT_EQ(b.ClockAccuracy, 0xFE);
        EXPECT_EQ(b.OSLV, 0xFFFF);
        EXPECT_EQ(b.DomainNumber, 24);
        EXPECT_EQ(b.SlaveOnly, 0u);
        ASSERT_NE(b.LocalPriority, nullptr);
        EXPECT_EQ(*b.LocalPriority, 128u);
        EXPECT_EQ(b.SignalFail, nullptr);
        bag_free_indirections(&b, ptp_default_ds_info_bag_getfn());
    }
    {
        ptp_parent_ds_info b{};
        ASSERT_EQ(get("dataset/parent-ds", &b, ptp_parent_ds_info_bag_getfn()), 0u);
        EXPECT_EQ(b.ParentClockID, 0xBB00000000000002u);
        EXPECT_EQ(b.ParentPortNumber, 5);
        EXPECT_EQ(b.ParentStats, 0u);
        EXPECT_EQ(b.ObservedParentOSLV, 0xFFFF);
        EXPECT_EQ(b.ObservedParentClockPhaseChangeRate, 0x7FFFFFFFu);
        EXPECT_EQ(b.GMClockID, GM_ID);
        EXPECT_EQ(b.GMClockClass, 6);
        EXPECT_EQ(b.GMClockAccuracy, 0x21);
        EXPECT_EQ(b.GMOSLV, 0x4E5D);
        EXPECT_EQ(b.GMPriority1, 100);
        EXPECT_EQ(b.GMPriority2, 110);
    }
    {
        ptp_time_properties_ds_info b{};
        ASSERT_EQ(get("dataset/time-properties-ds", &b, ptp_time_properties_ds_info_bag_getfn()), 0u);
        EXPECT_EQ(b.CurrentUTCOffset, 37);
        EXPECT_EQ(b.CurrentUTCOffsetValid, 1u);
        EXPECT_EQ(b.Leap59, 0u);
        EXPECT_EQ(b.Leap61, 1u);
        EXPECT_EQ(b.TimeTraceable, 1u);
        EXPECT_EQ(b.FrequencyTraceable, 1u);
        EXPECT_EQ(b.PTPTimescale, 1u);
        EXPECT_EQ(b.TimeSource, PTP_BAG_TIME_SOURCE_GPS);
    }
    {
        ptp_grandmaster_info b{};
        ASSERT_EQ(get("grandmaster", &b, ptp_grandmaster_info_bag_getfn()), 0u);
        EXPECT_EQ(b.ClockProperties.ClockID, GM_ID);
        EXPECT_EQ(b.ClockProperties.IsReceiverValid, 1u);
        EXPECT_EQ(b.ClockProperties.IsSenderValid, 1u);
        EXPECT_EQ(b.ClockProperties.Sender.PortNumber, 5);
        EXPECT_EQ(b.Active, 1u);
        EXPECT_EQ(b.UsedForTime, 1u);
        EXPECT_EQ(b.UsedForFrequency, 1u);
        EXPECT_EQ(b.KnownForTime, 5u);
        EXPECT_EQ(b.InterfaceHandle, 0x01000200u);
        ptp_bag_address expected{};
        const ptp_address_type a = ipv4(9);
        ptp_address_to_bag(&a, &expected);
        EXPECT_EQ(b.Address.Encapsulation, PTP_BAG_ENCAP_IPv4);
        EXPECT_EQ(b.Address.value.IPv4Address, expected.value.IPv4Address);
        EXPECT_EQ(b.Domain, 24);
        EXPECT_EQ(b.RunningDrrm, 1u);
    }
    {
        ptp_advertised_clock_info b{};
        ASSERT_EQ(get("advertised-clock", &b, ptp_advertised_clock_info_bag_getfn()), 0u);
        EXPECT_EQ(b.AdvertisedActive, 1u);
        EXPECT_EQ(b.ClockProperties.Class, 6);
        EXPECT_EQ(b.ClockProperties.LeapSeconds, PTP_BAG_LEAP_SECONDS_Leap61);
        EXPECT_EQ(b.Domain, 24);
        EXPECT_EQ(b.TimeSourceConfigured, 1u);
        EXPECT_EQ(b.ReceivedTimeSource, PTP_BAG_TIME_SOURCE_PTP);
        EXPECT_EQ(b.TimescaleConfigured, 0u);
        EXPECT_EQ(b.ReceivedTimescale, PTP_BAG_TIMESCALE_ARB);
    }
    {
        ptp_local_clock_info b{};
        ASSERT_EQ(get("local-clock", &b, ptp_local_clock_info_bag_getfn()), 0u);
        EXPECT_EQ(b.ClockProperties.ClockID, LOCAL_ID);
        EXPECT_EQ(b.ClockProperties.Local, 1u);
        EXPECT_EQ(b.ClockProperties.IsReceiverValid, 0u);
        EXPECT_EQ(b.ClockProperties.IsSenderValid, 0u);
        EXPECT_EQ(b.LocalActive, 1u);
        EXPECT_EQ(b.Domain, 24);
        EXPECT_EQ(b.Grandmaster, 0u);
        EXPECT_EQ(b.VirtualPort.Configured, 1u);
        EXPECT_EQ(b.VirtualPort.Connected, 1u);
        ASSERT_NE(b.VirtualPort.Priority1, nullptr);
        EXPECT_EQ(*b.VirtualPort.Priority1, 90);
        EXPECT_EQ(b.VirtualPort.Priority2, nullptr);
        EXPECT_EQ(b.VirtualPort.LocalPriority, nullptr);
        EXPECT_EQ(b.ServoStatus, 4u);
        EXPECT_EQ(b.MeanPathDelay, 1200);
        EXPECT_EQ(b.OffsetFromMaster, -250);
        EXPECT_EQ(b.AptsEnabled, 1u);
        bag_free_indirections(&b, ptp_local_clock_info_bag_getfn());
    }
    {
        ptp_global_database_info b{};
        ASSERT_EQ(get("ctrlr-database", &b, ptp_global_database_info_bag_getfn()), 0u);
        const ptp_bag_global_bmc_info &g = b.GlobalBestMasterClockInfo;
        EXPECT_EQ(g.node_active, 1u);
        EXPECT_EQ(g.servo_started, 1u);
        EXPECT_EQ(g.servo_synced, 1u);
        EXPECT_EQ(g.gm_used_for_freq, 1u);
        EXPECT_EQ(g.gm_used_for_time, 0u);
        EXPECT_EQ(g.gm_time_seconds, 7u);
        EXPECT_EQ(g.gm_time_nseconds, 123u);
        EXPECT_EQ(g.advertized_time_seconds, 8u);
        EXPECT_EQ(g.advertized_time_nseconds, 456u);
        EXPECT_EQ(g.gm_log_sync_rate, -4);
        EXPECT_EQ(g.gm_log_delay_req_rate, -3);
        EXPECT_EQ(g.gm_valid, 1u);
        EXPECT_EQ(g.seen_prtc, 1u);
        EXPECT_EQ(b.GlobalConfigurationInfo.applied_config_counter, 9u);
        EXPECT_EQ(b.GlobalConfigurationInfo.profile, 2u);
        EXPECT_EQ(b.GlobalConfigurationInfo.is_profile_set, 1u);
        EXPECT_EQ(b.GlobalConfigurationInfo.domain, 24);
        EXPECT_EQ(b.GlobalConfigurationInfo.clock_id, LOCAL_ID);
        EXPECT_EQ(b.LocalClock.ClockProperties.ClockID, LOCAL_ID);
        EXPECT_EQ(b.SelectionLocalClock, nullptr);
        ASSERT_NE(b.GrandMasterClock, nullptr);
        EXPECT_EQ(b.GrandMasterClock->ClockID, GM_ID);
        EXPECT_EQ(b.AdvertisedClock.ClockID, GM_ID);
        ASSERT_EQ(b.BestForeignMasterClocks.count, 2u);
        const ptp_bag_bmc_clock &first = b.BestForeignMasterClocks.array[0];
        const ptp_bag_bmc_clock &second = b.BestForeignMasterClocks.array[1];
        EXPECT_EQ(first.ForeignClock.ClockID, GM_ID);
        EXPECT_EQ(first.Node, 0x100u);
        EXPECT_EQ(first.PreviousNode, 0u);
        EXPECT_EQ(first.NextNode, 0x200u);
        EXPECT_EQ(first.CheckpointID, 11u);
        EXPECT_EQ(second.PreviousNode, 0x100u);
        EXPECT_EQ(second.NextNode, 0u);
        EXPECT_EQ(second.ForeignClock.ClockID, 0xDDu);
        EXPECT_EQ(b.PlatformCapabilititesInfo.capability_init_info.version, PTP_BAG_PLATFORM_CAPABILITY_API_VersionTwo);
        EXPECT_EQ(b.PlatformCapabilititesInfo.capabilities.supports_ptp, 1u);
        EXPECT_EQ(b.PlatformCapabilititesInfo.capabilities.holdover_duration_max, 3600u);
        EXPECT_EQ(b.PlatformCapabilititesInfo.capabilities.int_clock_ql.o1_value, 22);
        bag_free_indirections(&b, ptp_global_database_info_bag_getfn());
    }
    {
        sardo_event_counter_info b{};
        ASSERT_EQ(get("ctrlr-event-counters", &b, sardo_event_counter_info_bag_getfn()), 0u);
        EXPECT_EQ(b.GlobalEventCounters[QUORRIN_GL_EVENT_BMC_RECEIVED], 2u);
        EXPECT_EQ(b.GlobalEventCounters[QUORRIN_GL_EVENT_ANNOUNCE_SENT], 0u);
    }
    {
        sardo_config_errors_info b{};
        ASSERT_EQ(get("config-errors", &b, sardo_config_errors_info_bag_getfn()), 0u);
        EXPECT_EQ(b.ClockProfile, PTP_BAG_PROFILE_G82751);
        EXPECT_EQ(b.ClockProfileSet, 1u);
        EXPECT_EQ(b.DomainNumber, 24);
        const ptp_bag_gl_config_errors &e = b.ConfigurationErrors;
        EXPECT_EQ(e.Domain, 0u);
        EXPECT_EQ(e.ProfilePriority1Config, 1u);
        EXPECT_EQ(e.UTCOffsetChange, 1u);
        EXPECT_EQ(e.NetworkType, 1u);
        EXPECT_EQ(e.PhysicalLayerFrequency, 0u);
        EXPECT_EQ(e.ProfileVirtualPort, 0u) << "only for the Default and G.8265.1 profiles";
        EXPECT_EQ(e.VirtualPortPriority1Config, 1u) << "priority1 90 is not for G.8275.1";
        EXPECT_EQ(b.VirtualPortPriority2, nullptr);
        EXPECT_EQ(e.APTSClockProfile, 1u);
        EXPECT_EQ(e.APTSClockType, 1u);
        bag_free_indirections(&b, sardo_config_errors_info_bag_getfn());
    }
    {
        ptp_leap_seconds_info b{};
        ASSERT_EQ(get("leap-seconds", &b, ptp_leap_seconds_info_bag_getfn()), 0u);
        ASSERT_EQ(b.ConfiguredLeapSecondList.count, 2u);
        EXPECT_EQ(b.ConfiguredLeapSecondList.array[0].Offset, 35);
        EXPECT_EQ(b.ConfiguredLeapSecondList.array[0].OffsetApplied, 1u);
        EXPECT_EQ(b.ConfiguredLeapSecondList.array[1].OffsetStartDate, 1483228800u);
        EXPECT_EQ(b.ConfiguredLeapSecondList.array[1].OffsetChange, 2);
        EXPECT_EQ(b.CurrentOffsetInfo.Offset, 37);
        EXPECT_EQ(b.CurrentOffsetInfo.Valid, 1u);
        ASSERT_NE(b.CurrentGMOffsetInfo, nullptr);
        EXPECT_EQ(b.CurrentGMOffsetInfo->Flag, 2);
        EXPECT_EQ(b.ConfiguredOffsetInfo, nullptr);
        EXPECT_EQ(b.PreviousGMOffsetInfo, nullptr);
        EXPECT_EQ(b.HardwareOffsetInfo, nullptr);
        EXPECT_EQ(b.SourceType, 1);
        ASSERT_NE(b.SourceFile, nullptr);
        EXPECT_STREQ(*b.SourceFile, "http://time.example/leap-seconds.list");
        ASSERT_NE(b.PollingFrequency, nullptr);
        EXPECT_EQ(*b.PollingFrequency, 7u);
        ASSERT_NE(b.SourceExpiryDate, nullptr);
        EXPECT_EQ(*b.SourceExpiryDate, 1700000000u);
        EXPECT_EQ(b.GMLeapSecond, nullptr);
        bag_free_indirections(&b, ptp_leap_seconds_info_bag_getfn());
    }
    const std::vector<std::string> expected = {
        "EDM: currentDS get request. Item 'dataset/current-ds'",
        "EDM: defaultDS get request. Item 'dataset/default-ds'",
        "EDM: parentDS get request. Item 'dataset/parent-ds'",
        "EDM: timePropertiesDS get request. Item 'dataset/time-properties-ds'",
        "EDM: Grandmaster get request. Item 'grandmaster'",
        "EDM: Advertised clock get request. Item 'advertised-clock'",
        "EDM: Global database get request. Item 'ctrlr-database'",
        "EDM: Global event counters get request. Item 'ctrlr-event-counters'",
        "EDM: Global config errors get request. Item 'config-errors'",
        "EDM: Leap-seconds get request. Item 'leap-seconds'",
    };
    EXPECT_EQ(debug_lines_with("request"), expected) << "the local clock prints nothing";
}

// Without a grandmaster, or with the local clock (and its virtual port) as the grandmaster.
TEST_F(EdmTrapsTest, ItemsWithoutAForeignGrandmaster)
{
    start();
    quorrin_fake_bmc().has_gm = false;
    quorrin_fake_bmc().ranked.clear();
    ptp_grandmaster_info gm{};
    EXPECT_EQ(get("grandmaster", &gm, ptp_grandmaster_info_bag_getfn()), 0x40828600u);
    ptp_global_database_info db{};
    ASSERT_EQ(get("ctrlr-database", &db, ptp_global_database_info_bag_getfn()), 0u);
    EXPECT_EQ(db.GrandMasterClock, nullptr);
    EXPECT_EQ(db.BestForeignMasterClocks.count, 0u);
    bag_free_indirections(&db, ptp_global_database_info_bag_getfn());
    ptp_current_ds_info current{};
    ASSERT_EQ(get("dataset/current-ds", &current, ptp_current_ds_info_bag_getfn()), 0u);
    EXPECT_EQ(current.StepsRemoved, 0u);

    // A head is ranked, but the local clock won: the local clock with the connected virtual
    // port's values is the parent, port 0, and no steps are removed.
    fixture_state();
    quorrin_fake_bmc().local_clock_gm = true;
    ASSERT_EQ(get("dataset/current-ds", &current, ptp_current_ds_info_bag_getfn()), 0u);
    EXPECT_EQ(current.StepsRemoved, 0u);
    ptp_parent_ds_info parent{};
    ASSERT_EQ(get("dataset/parent-ds", &parent, ptp_parent_ds_info_bag_getfn()), 0u);
    EXPECT_EQ(parent.ParentClockID, LOCAL_ID);
    EXPECT_EQ(parent.ParentPortNumber, 0);
    EXPECT_EQ(parent.GMClockID, LOCAL_ID);
    EXPECT_EQ(parent.GMClockClass, 248);
    EXPECT_EQ(parent.GMPriority1, 90);
    EXPECT_EQ(parent.GMPriority2, 128);
    quorrin_fake_bmc().vp.connected = false;
    ASSERT_EQ(get("dataset/parent-ds", &parent, ptp_parent_ds_info_bag_getfn()), 0u);
    EXPECT_EQ(parent.GMPriority1, 128) << "a disconnected virtual port changes nothing";
}

TEST_F(EdmTrapsTest, DefaultDatasetOfASlaveOnlyClockAndTheOptionalFields)
{
    start();
    struct row_type {
        uint32_t profile;
        uint32_t clock_type;
        uint8_t clock_class;
        bool local_priority;
        bool signal_fail;
    } const rows[] = {
        {PTP_PROFILE_DEFAULT, 1, 248, false, false},
        {PTP_PROFILE_G8265_1, 2, 255, false, false},
        {PTP_PROFILE_G8275_1, 2, 255, true, false},
        {PTP_PROFILE_G8275_2, 0, 248, true, true},
    };
    for (const row_type &row : rows) {
        SCOPED_TRACE(row.profile);
        quorrin_fake_cfg().profile = row.profile;
        quorrin_fake_cfg().clock_type = row.clock_type;
        ptp_default_ds_info b{};
        ASSERT_EQ(get("dataset/default-ds", &b, ptp_default_ds_info_bag_getfn()), 0u);
        EXPECT_EQ(b.ClockClass, row.clock_class);
        EXPECT_EQ(b.SlaveOnly, row.clock_type == 2 ? 1u : 0u);
        EXPECT_EQ(b.LocalPriority != nullptr, row.local_priority);
        EXPECT_EQ(b.SignalFail != nullptr, row.signal_fail);
        if (b.SignalFail != nullptr) {
            EXPECT_EQ(*b.SignalFail, 0u);
        }
        bag_free_indirections(&b, ptp_default_ds_info_bag_getfn());
    }
}

TEST_F(EdmTrapsTest, EmptyLeapSecondDatabaseEncodesAnEmptyList)
{
    start();
    quorrin_fake_leap_seconds() = quorrin_fake_leap_seconds_type{};
    ptp_leap_seconds_info b{};
    ASSERT_EQ(get("leap-seconds", &b, ptp_leap_seconds_info_bag_getfn()), 0u);
    EXPECT_EQ(b.ConfiguredLeapSecondList.count, 0u);
    EXPECT_EQ(b.SourceFile, nullptr);
    EXPECT_EQ(b.CurrentGMOffsetInfo, nullptr);
    bag_free_indirections(&b, ptp_leap_seconds_info_bag_getfn());
}

TEST_F(EdmTrapsTest, ClearActionZeroesTheGlobalCounters)
{
    start();
    debug_capture_clear();
    const uint32_t one = 1;
    ASSERT_EQ(nodra_item_set(action, "ctrlr-event-counters", NODRA_ITEM_DATATYPE_UINT32, &one, sizeof one, 0), 0u);
    sardo_event_counter_info b{};
    ASSERT_EQ(get("ctrlr-event-counters", &b, sardo_event_counter_info_bag_getfn()), 0u);
    for (uint32_t value : b.GlobalEventCounters) {
        EXPECT_EQ(value, 0u);
    }
    EXPECT_EQ(first_line_with("clear"), "EDM: Global event counters clear request. Item 'ctrlr-event-counters'");
    // The read items take no set, the action no get.
    EXPECT_NE(nodra_item_set(oper, "grandmaster", NODRA_ITEM_DATATYPE_UINT32, &one, sizeof one, 0), 0u);
    uint32_t type = 0;
    void *data = nullptr;
    uint32_t length = 0;
    EXPECT_NE(nodra_item_get(action, "ctrlr-event-counters", &type, &data, &length, 0), 0u);
    free(data);
}

TEST_F(EdmTrapsTest, ShutdownUnregistersWhatWasRegistered)
{
    start();
    EXPECT_EQ(gl_init(), 0u) << "a second call does nothing";
    EXPECT_EQ(nodra_test_open_bindings(), base_bindings + 4) << "oper, action, global, trap enable";
    ctl.run([] { quorrin_edm_shutdown(); });
    EXPECT_EQ(nodra_test_open_bindings(), base_bindings);
    for (const char *item : oper_item_paths) {
        EXPECT_FALSE(answers(item)) << item;
    }
    const uint32_t one = 1;
    EXPECT_NE(nodra_item_set(action, "ctrlr-event-counters", NODRA_ITEM_DATATYPE_UINT32, &one, sizeof one, 0), 0u);
    enable("clock-class", nullptr);
    EXPECT_TRUE(received().empty()) << "the trap registration is gone";
    raise([] { quorrin_edm_trap_generate_clock_class(quorrin_fake_bmc().advertised); });
    EXPECT_TRUE(received().empty());
}

} // namespace
