// Interface configuration through the database: every leaf verified and applied with its exact
// code and text, the merge of interface, profile and default values, the limit of enabled
// interfaces, and the exit after the last interface with the configuration replayed on restart.
// The intake runs on its own event-manager thread, as the agent's IPC thread; commits come from
// the test thread through the in-process database.
#include "tessel_cfg.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "evm_test_thread.h"
#include "nodra_test.h"
#include "ptp_platform_intf_capability.h"
#include "qor_log.h"
#include "tessel_cfg_test_fake.h"
#include "tessel_intf_caps.h"
#include "tessel_ipc_db.h"
#include "tessel_port_mgr.h"
#include "tuple.h"

namespace {

constexpr uint16_t ALL = 0x03ff;
constexpr uint16_t PTP = TESSEL_INTF_CAPS_PTP;
constexpr uint16_t NO_ETH = ALL & ~TESSEL_INTF_CAPS_ETHERNET;
constexpr uint16_t NO_V6 = ALL & ~TESSEL_INTF_CAPS_IPV6;
constexpr uint16_t NO_1STEP = ALL & ~TESSEL_INTF_CAPS_ONE_STEP;
constexpr uint16_t NO_2STEP = ALL & ~TESSEL_INTF_CAPS_TWO_STEP;
constexpr uint16_t NO_MCAST = ALL & ~TESSEL_INTF_CAPS_MULTICAST;
constexpr uint16_t NO_SLAVE = ALL & ~TESSEL_INTF_CAPS_SLAVE;
constexpr uint16_t NO_SRCIP = ALL & ~TESSEL_INTF_CAPS_SOURCE_IP;

const char *const IF = "Gi0/0/0/1";

std::string item_path(const std::string &ifname, const std::string &leaf)
{
    return "/cfg/if/act/" + ifname + "/ptp/pi/" + leaf;
}

// A value as the operator commits it: a number, a tuple, a text; none deletes.
struct tup {
    std::vector<tuple_field_type> fields;
};
tuple_field_type num(uint32_t n)
{
    return {1, n, {}};
}
tuple_field_type txt(const char *t)
{
    return {2, 0, t};
}
const tuple_field_type ABSENT{0, 0, {}};
using value_type = std::variant<std::monostate, uint32_t, tup, std::string>;
const value_type DELETE{};

struct op {
    std::string path;
    value_type value;
};

nodra_commit_result_td commit(const std::vector<op> &ops)
{
    nodra_commit_td *c = nullptr;
    EXPECT_EQ(nodra_commit_create(&c), 0u);
    for (const op &o : ops) {
        if (std::holds_alternative<std::monostate>(o.value)) {
            nodra_commit_delete(c, o.path.c_str());
        } else if (const auto *n = std::get_if<uint32_t>(&o.value)) {
            nodra_commit_set(c, o.path.c_str(), NODRA_ITEM_DATATYPE_UINT32, n, 4);
        } else if (const auto *t = std::get_if<tup>(&o.value)) {
            std::vector<uint8_t> bytes;
            EXPECT_EQ(tuple_pack_fields(t->fields, &bytes), 0u);
            nodra_commit_set(c, o.path.c_str(), NODRA_ITEM_DATATYPE_PACKED, bytes.data(),
                             static_cast<uint32_t>(bytes.size()));
        } else {
            const auto &s = std::get<std::string>(o.value);
            nodra_commit_set(c, o.path.c_str(), NODRA_ITEM_DATATYPE_STRING, s.data(), static_cast<uint32_t>(s.size()));
        }
    }
    nodra_commit_result_td result{};
    EXPECT_EQ(nodra_commit_apply(c, &result), 0u);
    nodra_commit_free(c);
    return result;
}

nodra_commit_result_td commit1(const std::string &leaf, const value_type &value, const std::string &ifname = IF)
{
    return commit({{item_path(ifname, leaf), value}});
}

void set_caps(uint16_t flags, uint8_t log_rate = 4)
{
    tessel_intf_caps_shutdown();
    ptp_platform_intf_capability_test_set(1, flags, log_rate);
    ASSERT_EQ(tessel_intf_caps_init(nullptr), 0u);
}

bool first_record(tessel_ipc_idb_type *idb, void *context)
{
    *static_cast<tessel_ipc_idb_type **>(context) = idb;
    return false;
}

class CfgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        nodra_test_reset();
        nodra_test_set_client_library_path("/dev/null");
        qor_errmsg_set_syslog(false);
        cfg_fake_reset();
        set_caps(ALL);
        client_.run([] { ASSERT_EQ(tessel_ipc_db_init(), 0u); });
        start();
        qor_errmsg_capture_clear();
    }

    void TearDown() override
    {
        stop();
        client_.run([] {
            while (tessel_ipc_db_get_count() > 0) {
                tessel_ipc_idb_type *idb = nullptr;
                tessel_ipc_db_walk(first_record, &idb, nullptr, false);
                tessel_ipc_db_delete(idb);
            }
            tessel_ipc_db_destroy();
        });
        tessel_intf_caps_shutdown();
        ptp_platform_intf_capability_test_reset();
        nodra_test_set_client_library_path(nullptr);
    }

    void start()
    {
        client_.run([this] { ASSERT_EQ(tessel_cfg_init(client_.evm), 0u); });
    }
    void stop()
    {
        client_.run([] { tessel_cfg_shutdown(); });
    }

    // A copy of the interface's record as it stands (tables and interop pointers not to be used);
    // false when there is none.
    bool record(tessel_ipc_idb_type *out, const char *ifname = IF)
    {
        bool found = false;
        client_.run([&] {
            tessel_ipc_idb_type *idb = nullptr;
            if (tessel_ipc_db_get_by_ifname(ifname, &idb) == 0) {
                *out = *idb;
                found = true;
            }
        });
        return found;
    }
    tessel_ipc_idb_type record_of(const char *ifname = IF)
    {
        tessel_ipc_idb_type idb{};
        EXPECT_TRUE(record(&idb, ifname)) << ifname;
        return idb;
    }
    void clear_flags(const char *ifname = IF)
    {
        client_.run([&] {
            tessel_ipc_idb_type *idb = nullptr;
            if (tessel_ipc_db_get_by_ifname(ifname, &idb) == 0) {
                idb->flags &= ~TESSEL_IPC_FLAG_UPDATE_ALL;
            }
        });
    }
    uint32_t count_ipc()
    {
        uint32_t n = 0;
        client_.run([&] { n = tessel_ipc_db_get_count(); });
        return n;
    }
    std::vector<std::string> calls()
    {
        std::lock_guard<std::mutex> g(cfg_fake.lock);
        return std::exchange(cfg_fake.calls, {});
    }
    static std::vector<std::string> syslog_texts()
    {
        std::vector<std::string> out;
        for (const auto &m : qor_errmsg_captured()) {
            out.push_back(m.text);
        }
        return out;
    }

    evm_thread client_;
};

void expect_rejected(const nodra_commit_result_td &r, zerrno code, const char *text)
{
    ASSERT_EQ(r.outcome, NODRA_COMMIT_RESULT_REJECTED);
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_EQ(r.failures[0].code, code) << std::hex << r.failures[0].code;
    EXPECT_EQ(r.failures[0].text, text);
}

// ---- Every leaf ----

using field_fn = std::function<int64_t(const tessel_if_config_type &)>;

struct refusal_type {
    uint16_t caps;
    value_type value;
    zerrno code;
    const char *text;
};

struct leaf_case {
    const char *name;
    const char *leaf;
    uint16_t caps;         // for the accepted value
    value_type value;      // accepted
    uint32_t bit;          // configured bit
    field_fn field;        // the item's field, as a number
    int64_t expect;        // its value after the accepted item
    int64_t default_value; // after the delete
    uint64_t update;       // update bit that the change sets
    std::vector<refusal_type> refusals;
};

const char *const ENCAP_TEXT = "Failed to verify the encap value. It must be either Ethernet or UDP";
const char *const ANNCE_TEXT =
    "Failed to verify the announce interval value. The announce interval must be less than 16 seconds and greater "
    "than 128 packets per second.The maximum frequency supported by the platform is 16 packets per second";
const char *const SYNC_TEXT =
    "Failed to verify the Sync interval value. The Sync interval must be less than 16 seconds and greater than 128 "
    "packets per second. The maximum frequency supported by the platform is 16 packets per second";
const char *const DR_TEXT =
    "Failed to verify the Delay-Request minimum interval value. The Delay-Request minimum interval must be less than "
    "16 seconds and greater than 128 packets per second. The maximum frequency supported by the platform is 16 "
    "packets per second";
const char *const COS_TEXT = "Failed to verify the cos value. It must be within the specified range";
const char *const DSCP_TEXT = "Failed to verify the DSCP value. It must be within the specified range";
const char *const GRANT_TEXT =
    "Failed to verify the unicast grant duration value. The duration must be between 60 seconds and 1000 seconds.";
const char *const TIMEOUT_TEXT = "Failed to verify the message timeout value. The value must be less than 100000 "
                                 "milliseconds and greater than 100 milliseconds";
const char *const SRCIP_TEXT = "Failed to verify the source IP address value. It must be a valid IP address.";
const char *const SRCIP6_TEXT = "Failed to verify the source IPv6 address value. It must be a valid IP IPv6 address.";

#define FIELD(f) [](const tessel_if_config_type &c) { return static_cast<int64_t>(c.f); }

// clang-format off
const leaf_case leaf_cases[] = {
    {"transport", "transport", ALL, 1u, 0, FIELD(encap), 1, 2, TESSEL_IPC_FLAG_UPDATE_ENCAP,
     {{NO_V6, 3u, PTP_ZERR_CARD_NO_IPV6, ENCAP_TEXT}, {NO_ETH, 1u, PTP_ZERR_CARD_NO_ETHERNET, ENCAP_TEXT},
      {ALL, 4u, PTP_ZERR_CFG_ENCAP, ENCAP_TEXT}}},
    {"clock_operation", "clock-operation", ALL, 1u, 1, FIELD(clock_operation), 1, 0,
     TESSEL_IPC_FLAG_UPDATE_CLOCK_OPERATION,
     {{NO_1STEP, 1u, PTP_ZERR_CFG_CLOCK_OPERATION,
       "Failed to verify the clock-operation value. One-step operation can only be configured on supported interfaces"},
      {NO_2STEP, 0u, PTP_ZERR_CFG_CLOCK_OPERATION,
       "Failed to verify the clock-operation value. One-step operation can only be configured on supported interfaces"}}},
    {"announce_interval", "announce-interval", ALL, tup{{num(1), num(3)}}, 2, FIELD(announce_interval), -3, 1,
     TESSEL_IPC_FLAG_UPDATE_ANNOUNCE_INTERVAL,
     {{ALL, tup{{num(1), num(5)}}, PTP_ZERR_CFG_ANNCE_IVL, ANNCE_TEXT},
      {ALL, tup{{num(0), num(5)}}, PTP_ZERR_CFG_ANNCE_IVL, ANNCE_TEXT},
      // A unit that does not exist is refused, not turned into an interval.
      {ALL, tup{{num(7), num(7)}}, PTP_ZERR_CFG_ANNCE_IVL, ANNCE_TEXT}}},
    {"sync_interval", "sync-interval", ALL, tup{{num(0), num(1)}}, 3, FIELD(sync_interval), 1, 0,
     TESSEL_IPC_FLAG_UPDATE_SYNC_INTERVAL,
     {{ALL, tup{{num(1), num(5)}}, PTP_ZERR_CFG_SYNC_IVL, SYNC_TEXT},
      {ALL, tup{{num(2), num(0)}}, PTP_ZERR_CFG_SYNC_IVL, SYNC_TEXT}}},
    {"announce_timeout", "announce-timeout", ALL, 5u, 4, FIELD(announce_timeout), 5, 3,
     TESSEL_IPC_FLAG_UPDATE_ANNOUNCE_TIMEOUT,
     {{ALL, 11u, PTP_ZERR_CFG_ANNCE_TOUT,
       "Failed to verify the announce timeout value. It must be within the specified range"},
      {ALL, 1u, PTP_ZERR_CFG_ANNCE_TOUT,
       "Failed to verify the announce timeout value. It must be within the specified range"}}},
    {"delay_req_interval", "delay-request-minimum-interval", ALL, tup{{num(1), num(4)}}, 5,
     FIELD(delay_req_interval), -4, 0, TESSEL_IPC_FLAG_UPDATE_DELAY_RESP_MIN_INTERVAL,
     {{ALL, tup{{num(1), num(5)}}, PTP_ZERR_CFG_DR_MIN_IVL, DR_TEXT},
      {ALL, tup{{num(0xFFFFFFFF), num(1)}}, PTP_ZERR_CFG_DR_MIN_IVL, DR_TEXT}}},
    {"multicast", "multicast", ALL, tup{{num(2), num(0), ABSENT}}, 6, FIELD(transport), 2, 0,
     TESSEL_IPC_FLAG_UPDATE_TRANSPORT,
     {{NO_MCAST, tup{{num(2), num(0), ABSENT}}, PTP_ZERR_CARD_NO_MULTICAST, "Failed to verify the multicast value."},
      {ALL, tup{{num(3), num(0), ABSENT}}, PTP_ZERR_CFG_TRANSPORT, "Failed to verify the multicast value."}}},
    {"unicast_without_multicast", "multicast", NO_MCAST, tup{{num(0), num(0), ABSENT}}, 6, FIELD(transport), 0, 0, 0, {}},
    {"port_state", "port-state", ALL, 1u, 7, FIELD(port_state), 1, 0, TESSEL_IPC_FLAG_UPDATE_PORT_STATE,
     {{NO_SLAVE, 1u, PTP_ZERR_CARD_NO_SLAVE,
       "Failed to verify the port state value. It must be Slave-Only, Master-Only, or Any"},
      {ALL, 3u, PTP_ZERR_CFG_PORT_STATE,
       "Failed to verify the port state value. It must be Slave-Only, Master-Only, or Any"}}},
    {"master_only_without_slave", "port-state", NO_SLAVE, 2u, 7, FIELD(port_state), 2, 0,
     TESSEL_IPC_FLAG_UPDATE_PORT_STATE, {}},
    {"source_ip", "source-ipv4-address", ALL, tup{{num(1), txt("10.0.0.5")}}, 8, FIELD(source_ip.enable), 1, 0, 0,
     {{NO_SRCIP, tup{{num(1), txt("10.0.0.5")}}, PTP_ZERR_CARD_NO_SOURCE_IP, SRCIP_TEXT},
      // The capability is asked before the value is read.
      {NO_SRCIP, tup{{num(1), txt("garbage")}}, PTP_ZERR_CARD_NO_SOURCE_IP, SRCIP_TEXT},
      {ALL, tup{{num(1), txt("224.0.0.1")}}, PTP_ZERR_CFG_SOURCE_IP, SRCIP_TEXT}}},
    {"source_ipv6", "source-ipv6-address", ALL, tup{{num(1), txt("2001:db8::5")}}, 9, FIELD(source_ipv6.enable), 1, 0,
     0,
     {{NO_V6, tup{{num(1), txt("2001:db8::5")}}, PTP_ZERR_CARD_NO_IPV6, SRCIP6_TEXT},
      {NO_SRCIP, tup{{num(1), txt("2001:db8::5")}}, PTP_ZERR_CARD_NO_SOURCE_IP, SRCIP6_TEXT},
      {ALL, tup{{num(1), txt("ff02::1")}}, PTP_ZERR_CFG_SOURCE_IPV6, SRCIP6_TEXT}}},
    // The plain value moves the general and event values that are not configured.
    {"cos", "cos", ALL, 3u, 10, FIELD(cos), 3, 6, TESSEL_IPC_FLAG_UPDATE_COS, {{ALL, 8u, PTP_ZERR_CFG_COS, COS_TEXT}}},
    {"general_cos", "general-cos", ALL, 3u, 12, FIELD(general_cos), 3, 6, TESSEL_IPC_FLAG_UPDATE_COS,
     {{ALL, 8u, PTP_ZERR_CFG_COS, COS_TEXT}}},
    {"event_cos", "event-cos", ALL, 3u, 11, FIELD(event_cos), 3, 6, TESSEL_IPC_FLAG_UPDATE_COS,
     {{ALL, 8u, PTP_ZERR_CFG_COS, COS_TEXT}}},
    {"dscp", "dscp", ALL, 10u, 13, FIELD(dscp), 10, 46, TESSEL_IPC_FLAG_UPDATE_DSCP,
     {{ALL, 64u, PTP_ZERR_CFG_DSCP, DSCP_TEXT}}},
    {"general_dscp", "general-dscp", ALL, 10u, 15, FIELD(general_dscp), 10, 46, TESSEL_IPC_FLAG_UPDATE_DSCP,
     {{ALL, 64u, PTP_ZERR_CFG_DSCP, DSCP_TEXT}}},
    {"event_dscp", "event-dscp", ALL, 10u, 14, FIELD(event_dscp), 10, 46, TESSEL_IPC_FLAG_UPDATE_DSCP,
     {{ALL, 64u, PTP_ZERR_CFG_DSCP, DSCP_TEXT}}},
    {"ipv4_ttl", "ipv4-ttl", ALL, 64u, 16, FIELD(ipv4_ttl), 64, 255, TESSEL_IPC_FLAG_UPDATE_IPV4_TTL,
     {{ALL, 0u, PTP_ZERR_CFG_ENCAP, "Failed to verify the IPv4 TTL value. It must be within the specified range"}}},
    {"ipv6_hop_limit", "ipv6-hop-limit", ALL, 64u, 17, FIELD(ipv6_hop_limit), 64, 255,
     TESSEL_IPC_FLAG_UPDATE_IPV6_HOP_LIMIT,
     {{ALL, 256u, PTP_ZERR_CFG_ENCAP,
       "Failed to verify the IPv6 hop limit value. It must be within the specified range"}}},
    {"announce_grant", "announce-grant-duration", ALL, 120u, 22, FIELD(announce_grant_duration), 120, 300,
     TESSEL_IPC_FLAG_UPDATE_ANNOUNCE_GRANT_DURATION, {{ALL, 59u, PTP_ZERR_CFG_GRANT_DURATION, GRANT_TEXT}}},
    {"sync_grant", "sync-grant-duration", ALL, 1000u, 23, FIELD(sync_grant_duration), 1000, 300,
     TESSEL_IPC_FLAG_UPDATE_SYNC_GRANT_DURATION, {{ALL, 1001u, PTP_ZERR_CFG_GRANT_DURATION, GRANT_TEXT}}},
    {"delay_resp_grant", "delay-response-grant-duration", ALL, 60u, 24, FIELD(delay_resp_grant_duration), 60, 300,
     TESSEL_IPC_FLAG_UPDATE_DELAY_RESP_GRANT_DURATION, {{ALL, 0u, PTP_ZERR_CFG_GRANT_DURATION, GRANT_TEXT}}},
    {"sync_timeout", "sync-timeout", ALL, 100u, 19, FIELD(sync_timeout), 100, 5000,
     TESSEL_IPC_FLAG_UPDATE_SYNC_RECEIVE_TIMEOUT, {{ALL, 99u, PTP_ZERR_CFG_MESSAGE_TIMEOUT, TIMEOUT_TEXT}}},
    {"delay_resp_timeout", "delay-response-timeout", ALL, 100000u, 20, FIELD(delay_resp_timeout), 100000, 5000,
     TESSEL_IPC_FLAG_UPDATE_DELAY_RESP_RECEIVE_TIMEOUT, {{ALL, 100001u, PTP_ZERR_CFG_MESSAGE_TIMEOUT, TIMEOUT_TEXT}}},
    {"invalid_grant", "unicast-grant-invalid-request", ALL, 7u, 21, FIELD(deny_invalid_grants), 7, 0,
     TESSEL_IPC_FLAG_UPDATE_GRANT_REDUCE_DENY, {}},
    {"local_priority", "local-priority", ALL, 1u, 25, FIELD(local_priority), 1, 128,
     TESSEL_IPC_FLAG_UPDATE_LOCAL_PRIORITY,
     {{ALL, 0u, PTP_ZERR_CFG_LOCAL_PRIORITY,
       "Failed to verify the local priority value. The local priority must be between 1 and 255."}}},
    {"delay_asymmetry", "delay-asymmetry", ALL, tup{{num(5), num(1)}}, 18, FIELD(delay_asymmetry), 5000, 0,
     TESSEL_IPC_FLAG_UPDATE_DELAY_ASYMMETRY,
     {{ALL, tup{{num(600), num(2)}}, PTP_ZERR_CFG_DELAY_ASYMMETRY,
       "Failed to verify the master delay asymmetry item."}}},
};
// clang-format on

void PrintTo(const leaf_case &c, std::ostream *os)
{
    *os << c.name;
}

class CfgLeaf : public CfgTest, public ::testing::WithParamInterface<leaf_case> {};

TEST_P(CfgLeaf, VerifyApplyAndDelete)
{
    const leaf_case &c = GetParam();
    ASSERT_EQ(commit1("enable", 1u).outcome, NODRA_COMMIT_RESULT_APPLIED);
    const tessel_ipc_idb_type before = record_of();

    // Each refused value: its code and text, and nothing changes.
    for (const refusal_type &r : c.refusals) {
        if (r.text == nullptr) {
            continue;
        }
        set_caps(r.caps);
        SCOPED_TRACE(std::string(c.leaf) + " refused with 0x" + std::to_string(r.code));
        expect_rejected(commit1(c.leaf, r.value), r.code, r.text);
        EXPECT_EQ(c.field(record_of().if_config), c.field(before.if_config));
        EXPECT_EQ(record_of().if_config_flags, 0u);
    }
    // The same item on an interface the platform cannot run PTP on is refused with its text.
    if (!c.refusals.empty()) {
        set_caps(ALL);
        const nodra_commit_result_td r = commit1(c.leaf, c.value, "Loopback0");
        ASSERT_EQ(r.outcome, NODRA_COMMIT_RESULT_REJECTED);
        EXPECT_EQ(r.failures[0].code, PTP_ZERR_CFG_INTERFACE_NAME);
        EXPECT_EQ(r.failures[0].text, c.refusals[0].text);
    }

    // The accepted value: written, configured, merged, queued for the protocol thread.
    set_caps(c.caps);
    clear_flags();
    calls();
    ASSERT_EQ(commit1(c.leaf, c.value).outcome, NODRA_COMMIT_RESULT_APPLIED);
    tessel_ipc_idb_type idb = record_of();
    EXPECT_EQ(c.field(idb.if_config), c.expect);
    EXPECT_EQ(c.field(idb.applied_config), c.expect);
    // The multicast address goes with the transport, under its own bit.
    EXPECT_EQ(idb.if_config_flags & ~(1u << TESSEL_CFG_BIT_MULTICAST_ADDRESS), 1u << c.bit);
    EXPECT_NE(idb.applied_config_flags & (1u << c.bit), 0u);
    if (c.update != 0) {
        EXPECT_EQ(idb.flags & TESSEL_IPC_FLAG_UPDATE_ALL, c.update);
        std::vector<std::string> updates;
        for (const std::string &call : calls()) {
            if (call.starts_with("if_update")) {
                updates.push_back(call);
            }
        }
        EXPECT_EQ(updates, (std::vector<std::string>{"if_update_add Gi0/0/0/1", "if_update_flush"}));
    }

    // The delete restores the default, in the record and in what is applied.
    ASSERT_EQ(commit1(c.leaf, DELETE).outcome, NODRA_COMMIT_RESULT_APPLIED);
    idb = record_of();
    EXPECT_EQ(c.field(idb.if_config), c.default_value);
    EXPECT_EQ(c.field(idb.applied_config), c.default_value);
    EXPECT_EQ(idb.if_config_flags, 0u);
    EXPECT_EQ(idb.applied_config_flags & (1u << c.bit), 0u);
}

INSTANTIATE_TEST_SUITE_P(Leaves, CfgLeaf, ::testing::ValuesIn(leaf_cases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(CfgTest, IntervalDefaultsFollowTheClockProfile)
{
    cfg_fake.clock_profile = 2;
    ASSERT_EQ(commit1("announce-interval", tup{{num(0), num(0)}}).outcome, NODRA_COMMIT_RESULT_APPLIED);
    tessel_ipc_idb_type idb = record_of();
    EXPECT_EQ(idb.applied_config.announce_interval, 0);
    EXPECT_EQ(idb.applied_config.sync_interval, -4);
    EXPECT_EQ(idb.applied_config.delay_req_interval, -4);
    ASSERT_EQ(commit({{item_path(IF, "enable"), 1u}, {item_path(IF, "announce-interval"), DELETE}}).outcome,
              NODRA_COMMIT_RESULT_APPLIED);
    EXPECT_EQ(record_of().applied_config.announce_interval, -3);
}

TEST_F(CfgTest, MulticastAddressGoesWithTheTransport)
{
    ASSERT_EQ(commit1("multicast", tup{{num(1), num(1), txt("180.c200.e")}}).outcome, NODRA_COMMIT_RESULT_APPLIED);
    tessel_ipc_idb_type idb = record_of();
    const uint8_t peer[] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E};
    EXPECT_EQ(idb.applied_config.transport, 1u);
    EXPECT_EQ(idb.applied_config.multicast_address.encap, PTP_ENCAP_ETHERNET);
    EXPECT_EQ(memcmp(idb.applied_config.multicast_address.value, peer, 6), 0);
    EXPECT_EQ(idb.if_config_flags, (1u << 6) | (1u << 26));
    ASSERT_EQ(commit({{item_path(IF, "enable"), 1u}, {item_path(IF, "multicast"), DELETE}}).outcome,
              NODRA_COMMIT_RESULT_APPLIED);
    idb = record_of();
    EXPECT_EQ(idb.if_config_flags, 0u);
    EXPECT_EQ(idb.applied_config.multicast_address.encap, 0u);
}

// Deleting the plain CoS while the event CoS is configured keeps the event CoS; the general CoS
// goes back to the plain value.
TEST_F(CfgTest, CosClassesFallBackToThePlainValue)
{
    ASSERT_EQ(
        commit({{item_path(IF, "enable"), 1u}, {item_path(IF, "cos"), 3u}, {item_path(IF, "event-cos"), 5u}}).outcome,
        NODRA_COMMIT_RESULT_APPLIED);
    tessel_ipc_idb_type idb = record_of();
    EXPECT_EQ(idb.applied_config.general_cos, 3u);
    EXPECT_EQ(idb.applied_config.event_cos, 5u);
    EXPECT_EQ(idb.applied_config_flags & 0x1C00u, (1u << 10) | (1u << 11));
    ASSERT_EQ(commit1("cos", DELETE).outcome, NODRA_COMMIT_RESULT_APPLIED);
    idb = record_of();
    EXPECT_EQ(idb.applied_config.cos, 6u);
    EXPECT_EQ(idb.applied_config.general_cos, 6u);
    EXPECT_EQ(idb.applied_config.event_cos, 5u);
}

// ---- Merge: interface over profile over platform over default ----

struct merge_case {
    const char *name;
    uint16_t caps;
    uint8_t log_rate;
    std::function<void(tessel_if_config_type &)> profile; // profile values
    uint32_t profile_bits;
    const char *leaf; // the interface's own item, or null
    value_type value;
    field_fn field;
    int64_t applied;
    uint32_t applied_bits_mask;
    uint32_t applied_bits; // applied_config_flags & mask
    uint64_t update;       // flags & UPDATE_ALL after the profile is attached
    const char *syslog;    // raised by the merge, or null
};

// clang-format off
const merge_case merge_cases[] = {
    {"profile_encap", ALL, 4, [](auto &p) { p.encap = 3; }, 1u << 0, nullptr, {}, FIELD(encap), 3, 1u << 0, 1u << 0,
     TESSEL_IPC_FLAG_UPDATE_ENCAP, nullptr},
    {"profile_ethernet_refused", NO_ETH, 4, [](auto &p) { p.encap = 1; }, 1u << 0, nullptr, {}, FIELD(encap), 2,
     1u << 0, 0, 0, "Profile Ethernet transport configuration ignored as it is not supported on interface Gi0/0/0/1"},
    {"profile_ipv6_refused", NO_V6, 4, [](auto &p) { p.encap = 3; }, 1u << 0, nullptr, {}, FIELD(encap), 2,
     1u << 0, 0, 0, "Profile IPv6 transport configuration ignored as it is not supported on interface Gi0/0/0/1"},
    {"interface_encap_wins_silently", NO_ETH, 4, [](auto &p) { p.encap = 1; }, 1u << 0, "transport", 3u,
     FIELD(encap), 3, 1u << 0, 1u << 0, 0, nullptr},
    {"profile_one_step_refused_keeps_applied", NO_1STEP, 4, [](auto &p) { p.clock_operation = 1; }, 1u << 1, nullptr,
     {}, FIELD(clock_operation), 0, 1u << 1, 0, 0,
     "Profile one-step clock-operation configuration ignored as it is not supported on interface Gi0/0/0/1"},
    {"profile_announce_too_fast", ALL, 4, [](auto &p) { p.announce_interval = -5; }, 1u << 2, nullptr, {},
     FIELD(announce_interval), 1, 1u << 2, 0, 0,
     "Profile announce interval configuration ignored as it is not supported on interface Gi0/0/0/1"},
    {"profile_sync_at_the_limit", ALL, 4, [](auto &p) { p.sync_interval = -4; }, 1u << 3, nullptr, {},
     FIELD(sync_interval), -4, 1u << 3, 1u << 3, TESSEL_IPC_FLAG_UPDATE_SYNC_INTERVAL, nullptr},
    {"profile_timeout", ALL, 4, [](auto &p) { p.announce_timeout = 7; }, 1u << 4, nullptr, {},
     FIELD(announce_timeout), 7, 1u << 4, 1u << 4, TESSEL_IPC_FLAG_UPDATE_ANNOUNCE_TIMEOUT, nullptr},
    {"profile_multicast_refused", NO_MCAST, 4, [](auto &p) { p.transport = 2; }, 1u << 6, nullptr, {},
     FIELD(transport), 0, 1u << 6, 0, 0,
     "Profile multicast configuration ignored as it is not supported on interface Gi0/0/0/1"},
    {"profile_slave_only_refused", NO_SLAVE, 4, [](auto &p) { p.port_state = 1; }, 1u << 7, nullptr, {},
     FIELD(port_state), 0, 1u << 7, 0, 0,
     "Profile port state configuration ignored as it is not supported on interface Gi0/0/0/1"},
    {"profile_source_ip_refused", NO_SRCIP, 4, [](auto &p) { p.source_ip = {1, 0x0100000a}; }, 1u << 8, nullptr, {},
     FIELD(source_ip.enable), 0, 1u << 8, 0, 0,
     "Profile source IP configuration ignored as it is not supported on interface Gi0/0/0/1"},
    {"profile_ttl", ALL, 4, [](auto &p) { p.ipv4_ttl = 10; }, 1u << 16, nullptr, {}, FIELD(ipv4_ttl), 10, 1u << 16,
     1u << 16, TESSEL_IPC_FLAG_UPDATE_IPV4_TTL, nullptr},
    {"interface_ttl_wins", ALL, 4, [](auto &p) { p.ipv4_ttl = 10; }, 1u << 16, "ipv4-ttl", 20u, FIELD(ipv4_ttl), 20,
     1u << 16, 1u << 16, 0, nullptr},
    // The interface's own value equal to the default still shows as configured.
    {"interface_default_value_is_configured", ALL, 4, [](auto &) {}, 0, "local-priority", 128u,
     FIELD(local_priority), 128, 1u << 25, 1u << 25, 0, nullptr},
    {"profile_general_cos_over_interface_plain", ALL, 4, [](auto &p) { p.general_cos = 4; }, 1u << 12, "cos", 3u,
     FIELD(general_cos), 4, 0x1C00u, (1u << 10) | (1u << 12), TESSEL_IPC_FLAG_UPDATE_COS, nullptr},
    {"profile_plain_dscp_feeds_both_classes", ALL, 4, [](auto &p) { p.dscp = 20; }, 1u << 13, nullptr, {},
     FIELD(event_dscp), 20, 0xE000u, 1u << 13, TESSEL_IPC_FLAG_UPDATE_DSCP, nullptr},
};
// clang-format on

void PrintTo(const merge_case &c, std::ostream *os)
{
    *os << c.name;
}

class CfgMerge : public CfgTest, public ::testing::WithParamInterface<merge_case> {};

TEST_P(CfgMerge, AppliedValueAndSource)
{
    const merge_case &c = GetParam();
    set_caps(c.caps, c.log_rate);
    client_.run([&] {
        tessel_prf_db_type *prf = cfg_fake_profile("P1");
        tessel_cfg_if_config_defaults(&prf->prf_config);
        c.profile(prf->prf_config);
        prf->prf_config_flags = c.profile_bits;
        prf->has_config = 1;
    });
    std::vector<op> ops = {{item_path(IF, "enable"), 1u}};
    if (c.leaf != nullptr) {
        ops.push_back({item_path(IF, c.leaf), c.value});
    }
    ASSERT_EQ(commit(ops).outcome, NODRA_COMMIT_RESULT_APPLIED);
    clear_flags();
    qor_errmsg_capture_clear();
    ASSERT_EQ(commit1("profile", std::string("P1")).outcome, NODRA_COMMIT_RESULT_APPLIED);
    const tessel_ipc_idb_type idb = record_of();
    EXPECT_EQ(c.field(idb.applied_config), c.applied);
    EXPECT_EQ(idb.applied_config_flags & c.applied_bits_mask, c.applied_bits);
    EXPECT_EQ(idb.flags & TESSEL_IPC_FLAG_UPDATE_ALL, c.update);
    const std::vector<std::string> expected_syslog =
        c.syslog != nullptr ? std::vector<std::string>{c.syslog} : std::vector<std::string>{};
    EXPECT_EQ(syslog_texts(), expected_syslog);
}

INSTANTIATE_TEST_SUITE_P(Rules, CfgMerge, ::testing::ValuesIn(merge_cases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(CfgTest, DeletedInterfaceValueFallsBackToTheProfile)
{
    client_.run([] {
        tessel_prf_db_type *prf = cfg_fake_profile("P1");
        tessel_cfg_if_config_defaults(&prf->prf_config);
        prf->prf_config.ipv4_ttl = 10;
        prf->prf_config_flags = 1u << 16;
        prf->has_config = 1;
    });
    ASSERT_EQ(commit({{item_path(IF, "enable"), 1u},
                      {item_path(IF, "profile"), std::string("P1")},
                      {item_path(IF, "ipv4-ttl"), 20u}})
                  .outcome,
              NODRA_COMMIT_RESULT_APPLIED);
    EXPECT_EQ(record_of().applied_config.ipv4_ttl, 20u);
    ASSERT_EQ(commit1("ipv4-ttl", DELETE).outcome, NODRA_COMMIT_RESULT_APPLIED);
    tessel_ipc_idb_type idb = record_of();
    EXPECT_EQ(idb.applied_config.ipv4_ttl, 10u);
    EXPECT_NE(idb.applied_config_flags & (1u << 16), 0u);
    // The profile goes: the default comes back.
    ASSERT_EQ(commit1("profile", DELETE).outcome, NODRA_COMMIT_RESULT_APPLIED);
    idb = record_of();
    EXPECT_EQ(idb.applied_config.ipv4_ttl, 255u);
    EXPECT_EQ(idb.applied_config_flags & (1u << 16), 0u);
}

TEST_F(CfgTest, SameProfileAgainChangesNothing)
{
    ASSERT_EQ(commit({{item_path(IF, "enable"), 1u}, {item_path(IF, "profile"), std::string("P1")}}).outcome,
              NODRA_COMMIT_RESULT_APPLIED);
    calls();
    // A replace of the same name (the database sends it as a set) changes nothing.
    ASSERT_EQ(commit({{item_path(IF, "profile"), std::string("P1")}, {item_path(IF, "cos"), 2u}}).outcome,
              NODRA_COMMIT_RESULT_APPLIED);
    for (const std::string &call : calls()) {
        EXPECT_EQ(call.find("merge_master_entry"), std::string::npos) << call;
    }
}

TEST_F(CfgTest, RecordWithOnlyAProfileIsSweptWithIt)
{
    ASSERT_EQ(commit1("profile", std::string("P1")).outcome, NODRA_COMMIT_RESULT_APPLIED);
    EXPECT_EQ(count_ipc(), 1u);
    EXPECT_EQ(cfg_fake_profile_count(), 1u);
    // A second interface keeps the agent running.
    ASSERT_EQ(commit1("cos", 1u, "Gi0/0/0/2").outcome, NODRA_COMMIT_RESULT_APPLIED);
    ASSERT_EQ(commit1("profile", DELETE).outcome, NODRA_COMMIT_RESULT_APPLIED);
    EXPECT_EQ(count_ipc(), 1u);
    tessel_ipc_idb_type idb{};
    EXPECT_FALSE(record(&idb));
    // The profile had no configuration of its own and nobody uses it any more.
    EXPECT_EQ(cfg_fake_profile_count(), 0u);
}

// ---- The limit of 2000 enabled interfaces ----

std::vector<op> enables(uint32_t from, uint32_t count, const value_type &value = 1u)
{
    std::vector<op> ops;
    for (uint32_t i = from; i < from + count; i++) {
        ops.push_back({item_path("Gi0/0/" + std::to_string(i / 100) + "/" + std::to_string(i % 100), "enable"), value});
    }
    return ops;
}

TEST_F(CfgTest, TwoThousandEnabledInterfaces)
{
    ASSERT_EQ(commit(enables(0, 1990)).outcome, NODRA_COMMIT_RESULT_APPLIED);
    // Eleven more: the eleventh of the batch crosses the limit, and the whole commit goes.
    const nodra_commit_result_td crossing = commit(enables(1990, 11));
    ASSERT_EQ(crossing.outcome, NODRA_COMMIT_RESULT_REJECTED);
    ASSERT_EQ(crossing.failures.size(), 1u);
    EXPECT_EQ(crossing.failures[0].code, PTP_ZERR_MAX_INTERFACES);
    EXPECT_EQ(crossing.failures[0].text, "Failed to verify the interface enable item.");
    EXPECT_EQ(count_ipc(), 1990u);

    ASSERT_EQ(commit(enables(1990, 10)).outcome, NODRA_COMMIT_RESULT_APPLIED);
    uint32_t enabled = 0;
    client_.run([&] { enabled = tessel_cfg_if_enable_count; });
    EXPECT_EQ(enabled, 2000u);
    expect_rejected(commit(enables(2000, 1)), PTP_ZERR_MAX_INTERFACES, "Failed to verify the interface enable item.");
    // Deletes are not counted against the limit; the freed place can be taken again.
    ASSERT_EQ(commit(enables(0, 1, DELETE)).outcome, NODRA_COMMIT_RESULT_APPLIED);
    ASSERT_EQ(commit(enables(2000, 1)).outcome, NODRA_COMMIT_RESULT_APPLIED);
    client_.run([&] { enabled = tessel_cfg_if_enable_count; });
    EXPECT_EQ(enabled, 2000u);
}

// ---- Exit after the last interface, restart with the configuration replayed ----

TEST_F(CfgTest, ExitAfterTheLastInterfaceAndReplayOnRestart)
{
    ASSERT_EQ(commit1("enable", 1u, "Gi0/0/0/2").outcome, NODRA_COMMIT_RESULT_APPLIED);

    // The enable batch sweeps the only record while the item batch, which creates another,
    // still follows: no exit.
    ASSERT_EQ(commit({{item_path("Gi0/0/0/2", "enable"), DELETE}, {item_path(IF, "ipv4-ttl"), 9u}}).outcome,
              NODRA_COMMIT_RESULT_APPLIED);
    EXPECT_EQ(cfg_fake.exit_requested, 0u);
    EXPECT_EQ(count_ipc(), 1u);

    // The last interface goes: exit requested, the apply parked until teardown.
    const nodra_commit_result_td last = commit1("ipv4-ttl", DELETE);
    EXPECT_EQ(last.outcome, NODRA_COMMIT_RESULT_PENDING);
    EXPECT_EQ(cfg_fake.exit_requested, 1u);
    EXPECT_EQ(count_ipc(), 0u);
    stop();
    nodra_commit_result_td status{};
    ASSERT_EQ(nodra_commit_status(last.sequence, &status), 0u);
    EXPECT_EQ(status.outcome, NODRA_COMMIT_RESULT_APPLIED);

    // Configuration comes back while the agent is down; its start replays it.
    ASSERT_EQ(commit({{item_path(IF, "enable"), 1u}, {item_path(IF, "ipv6-hop-limit"), 7u}}).outcome,
              NODRA_COMMIT_RESULT_APPLIED);
    start();
    const tessel_ipc_idb_type idb = record_of();
    EXPECT_NE(idb.flags & TESSEL_IPC_FLAG_ENABLED, 0u);
    EXPECT_EQ(idb.applied_config.ipv6_hop_limit, 7u);
    EXPECT_EQ(idb.applied_config.ipv4_ttl, 255u);
}

TEST_F(CfgTest, VerifyBatchWithNothingValidOnAnEmptyAgentExits)
{
    // No commit is in flight for this sequence, so no batch follows.
    client_.run([] {
        const uint8_t bad[4] = {99, 0, 0, 0};
        nodra_verify_event_info_td event{};
        const std::string path = std::string(IF) + "/ptp/pi/cos";
        event.path = path.c_str();
        event.event = NODRA_EVENT_SET;
        event.datatype = NODRA_ITEM_DATATYPE_UINT32;
        event.new_data = bad;
        event.new_length = 4;
        event.sequence = 0xFFFF0000u;
        event.index = 1;
        event.count = 1;
        char *text = nullptr;
        nodra_verify_result_td result{};
        EXPECT_EQ(tessel_cfg_verify(&event, &text, &result, nullptr), PTP_ZERR_CFG_COS);
        free(text);
    });
    EXPECT_EQ(cfg_fake.exit_requested, 1u);
}

// The platform's verification library has the last word on the encapsulation before the commit,
// and on a profile's encapsulation when it is merged.
TEST_F(CfgTest, PlatformVerificationLibrary)
{
    stop();
    setenv("PTP_PLATVERIFY_LIB", PLATVERIFY_PATH, 1);
    start();
    unsetenv("PTP_PLATVERIFY_LIB");
    const char *const text = "Ethernet framing is not available on this line card";
    expect_rejected(commit1("transport", 1u), PTP_ZERR_CARD_NO_ETHERNET, text);
    ASSERT_EQ(commit1("transport", 3u).outcome, NODRA_COMMIT_RESULT_APPLIED);

    client_.run([] {
        tessel_prf_db_type *prf = cfg_fake_profile("P1");
        tessel_cfg_if_config_defaults(&prf->prf_config);
        prf->prf_config.encap = PTP_ENCAP_ETHERNET;
        prf->prf_config_flags = 1u << TESSEL_CFG_BIT_ENCAP;
        prf->has_config = 1;
    });
    qor_errmsg_capture_clear();
    ASSERT_EQ(commit({{item_path("Gi0/0/0/2", "enable"), 1u}, {item_path("Gi0/0/0/2", "profile"), std::string("P1")}})
                  .outcome,
              NODRA_COMMIT_RESULT_APPLIED);
    EXPECT_EQ(record_of("Gi0/0/0/2").applied_config.encap, PTP_ENCAP_IPV4);
    EXPECT_EQ(syslog_texts(), std::vector<std::string>{std::string("Profile Encap configuration could not be applied "
                                                                   "on interface Gi0/0/0/2: ") +
                                                       text});
}

TEST_F(CfgTest, InitFailsAtTheFirstBindWithoutTheDatabaseLibrary)
{
    stop();
    nodra_test_set_client_library_path("/nonexistent/libnodra.so");
    client_.run([this] { EXPECT_EQ(tessel_cfg_init(client_.evm), NODRA_ERR_BIND_NO_LIBRARY); });
    const auto texts = syslog_texts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back().rfind("Failed to initialize: Failed to bind to global Nodra bindpoint: ", 0), 0u)
        << texts.back();
    stop();
    nodra_test_set_client_library_path("/dev/null");
    start();
}

} // namespace
