#include "ptp_strings.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "chassis.h"
#include "sysmgr_test.h"

namespace {

struct name_case {
    const char *(*fn)(uint32_t);
    uint32_t value;
    const char *text;
};

TEST(PtpStrings, ConstantNames)
{
    const name_case cases[] = {
        {ptp_address_encap_to_str, 0, "Unknown address"},
        {ptp_address_encap_to_str, 3, "IPv6"},
        {ptp_address_encap_to_str, 4, "Invalid address"},
        {ptp_clock_source_to_str, 2, "virtual port"},
        {ptp_clock_source_to_str, 3, "unknown"},
        {ptp_transport_to_str, 1, "Mixed-mode"},
        {ptp_transport_to_str, 3, "Unknown"},
        {ptp_restrict_port_state_to_str, 2, "Master-only"},
        {ptp_restrict_port_state_to_str, 3, "Unknown"},
        {ptp_basic_profile_to_str, 2, "G.8275.1"},
        {ptp_basic_profile_to_str, 3, "Unknown"},
        {ptp_profile_to_str, 3, "G.8275.2"},
        {ptp_profile_to_str, 4, "Unknown"},
        {ptp_port_state_to_str, 0, "Initializing"},
        {ptp_port_state_to_str, 3, "Pre-Master"},
        {ptp_port_state_to_str, 7, "Faulty"},
        {ptp_port_state_to_str, 8, "Unknown Port State"},
        {ptp_clock_timescale_to_str, 1, "ARB"},
        {ptp_clock_timescale_to_str, 2, "Unknown"},
        {ptp_sync_state_to_str, 3, "Holdover post-specification"},
        {ptp_sync_state_to_str, 5, "Unknown"},
        {ptp_leap_second_short_to_str, 2, "61"},
        {ptp_leap_second_short_to_str, 3, "UNKNOWN"},
        {ptp_leap_second_to_str, 1, "Leap59"},
        {ptp_leap_second_to_str, 3, "UNKNOWN"},
        {ptp_primary_ref_type_to_str, 4, "EPRTC"},
        {ptp_primary_ref_type_to_str, 5, "Unknown"},
        {ptp_negotiation_to_str, 0, "Negotiated"},
        {ptp_negotiation_to_str, 9, "Non-negotiated"},
        {ptp_clock_accuracy_to_str, 0x1f, "Unknown"},
        {ptp_clock_accuracy_to_str, 0x20, "< 25 nanoseconds"},
        {ptp_clock_accuracy_to_str, 0x23, "< 1 microsecond"},
        {ptp_clock_accuracy_to_str, 0x31, "> 10 seconds"},
        {ptp_clock_accuracy_to_str, 0x32, "Unknown"},
        {ptp_msg_flag_to_str, 0, "None"},
        {ptp_msg_flag_to_str, 0x4, "currentUtcOffsetValid"},
        {ptp_msg_flag_to_str, 0x100, "alternativeMasterFlag"},
        {ptp_msg_flag_to_str, 0x400, "unicastFlag"},
        {ptp_msg_flag_to_str, 0x40, "Unknown"},
        {ptp_msg_flag_to_str, 0x3, "Unknown"},
        {ptp_clock_selection_mode_to_str, 1, "G.8265.1"},
        {ptp_clock_selection_mode_to_str2, 0, "1588"},
        {ptp_clock_selection_mode_to_str2, 2, "Unknown"},
        {ptp_msg_type_to_str, 0, "Sync"},
        {ptp_msg_type_to_str, 5, "Unknown message type"},
        {ptp_msg_type_to_str, 10, "Pdelay-Resp-Follow-Up"},
        {ptp_msg_type_to_str, 13, "Management"},
        {ptp_msg_type_to_str, 14, "Unknown message type"},
        {ptp_servo_mode_to_str, 1, "Hybrid"},
        {ptp_servo_mode_to_str, 2, "Unknown"},
        {ptp_network_type_to_str, 1, "High PDV"},
        {ptp_network_type_to_str, 2, "Unknown"},
        {ptp_multicast_to_str, 0, "Multicast Disabled"},
        {ptp_multicast_to_str, 2, "Multicast Enabled"},
        {ptp_cfg_event_to_str, 0x7, "Create"},
        {ptp_cfg_event_to_str, 0x6, "Set"},
        {ptp_cfg_event_to_str, 0x4, "Delete"},
        {ptp_cfg_event_to_str, 0x8, "Unknown"},
        {ptp_op_flag_to_str, 0x4, "no-op"},
        {ptp_op_flag_to_str, 0x5, "delete"},
        {ptp_op_flag_to_str, 0x7, "delete"},
        {ptp_op_flag_to_str, 0x2, "create"},
        {ptp_op_flag_to_str, 0x3, "update"},
        {ptp_op_flag_to_str, 0x1, "invalid op"},
        {ptp_op_flag_to_str, 0x80, "invalid op"},
        {ptp_op_flag_to_str, 0x100, "no flag"},
        {ptp_slow_tracking_to_str, 0x10000, "NOT SET"},
        {ptp_slow_tracking_to_str, 0x10064, "100 ns/sec"},
    };
    for (const name_case &c : cases)
        EXPECT_STREQ(c.fn(c.value), c.text) << c.text << " from " << c.value;

    struct signed_case {
        const char *(*fn)(int32_t);
        int32_t value;
        const char *text;
    } signed_cases[] = {
        {ptp_comms_event_to_str, -1, "NONE"},        {ptp_comms_event_to_str, 0, "MEMBER_ADD"},
        {ptp_comms_event_to_str, 10, "FLOW_RESUME"}, {ptp_comms_event_to_str, 11, "UNKNOWN"},
        {ptp_comms_event_to_str, -2, "UNKNOWN"},     {ptp_chkpt_table_to_str, -1, "Chkpt Table Name Invalid"},
        {ptp_chkpt_table_to_str, 3, "UTC Info"},     {ptp_chkpt_table_to_str, 4, "Unknown"},
        {ptp_chkpt_table_to_str, -2, "Unknown"},
    };
    for (const auto &c : signed_cases)
        EXPECT_STREQ(c.fn(c.value), c.text) << c.value;

    EXPECT_STREQ(ptp_profile_name_to_str(nullptr), "No Profile set");
    EXPECT_STREQ(ptp_profile_name_to_str("telecom"), "telecom");
}

TEST(PtpStrings, ClockTypesByProfile)
{
    struct {
        uint32_t profile, type;
        const char *name, *composed;
    } cases[] = {
        {PTP_PROFILE_G8275_1, 0, "T-GM", "G.8275.1 (T-GM)"},
        {PTP_PROFILE_G8275_2, 2, "T-TSC", "G.8275.2 (T-TSC)"},
        {PTP_PROFILE_G8275_2, 3, "Unknown", "G.8275.2 (Unknown)"},
        {PTP_PROFILE_G8265_1, 1, "Unknown", "G.8265.1 (Unknown)"},
        {PTP_PROFILE_G8265_1, 3, "Any port state", "G.8265.1 (Any port state)"},
        {PTP_PROFILE_DEFAULT, 0, "Unknown", "Default (Unknown)"},
        {7, 0, "Unknown", "Unknown (Unknown)"},
    };
    for (const auto &c : cases) {
        EXPECT_STREQ(ptp_telecom_clock_type_to_str(c.type, c.profile), c.name);
        EXPECT_STREQ(ptp_profile_clock_type_to_str(c.profile, c.type), c.composed);
    }
}

TEST(PtpStrings, NumbersWithUnits)
{
    struct {
        int32_t ns;
        const char *text;
    } asym[] = {{0, "None"},
                {3000000, "3 milliseconds"},
                {1500, "1500 nanoseconds"},
                {2000, "2 microseconds"},
                {-4000, "-4 microseconds"},
                {-7, "-7 nanoseconds"}};
    for (const auto &c : asym)
        EXPECT_STREQ(ptp_delay_asymmetry_to_str(c.ns), c.text);

    struct {
        int32_t offset;
        uint32_t valid;
        const char *text;
    } utc[] = {{1, 1, "+1 second (valid)"},
               {-37, 0, "-37 seconds (not valid)"},
               {-1, 0, "-1 second (not valid)"},
               {0, 1, "+0 seconds (valid)"}};
    for (const auto &c : utc)
        EXPECT_STREQ(ptp_utc_offset_to_str(c.offset, c.valid), c.text);
}

TEST(PtpStrings, DatesInUtcWithoutTouchingTheTimeZone)
{
    const char *saved = getenv("TZ");
    std::string saved_tz = saved != nullptr ? saved : "";
    setenv("TZ", "EST5", 1);
    tzset();
    struct {
        int64_t seconds;
        const char *text;
    } cases[] = {{0, "1970-01-01"}, {1700000000, "2023-11-14"}, {1700006399, "2023-11-14"}, {1700006400, "2023-11-15"}};
    for (const auto &c : cases) {
        int len = -1;
        EXPECT_STREQ(ptp_date_to_str(c.seconds, &len), c.text);
        EXPECT_EQ(len, 10);
    }
    EXPECT_STREQ(ptp_date_to_str(0, nullptr), "1970-01-01");
    EXPECT_STREQ(getenv("TZ"), "EST5");
    EXPECT_EQ(timezone, 5 * 3600);
    if (saved != nullptr)
        setenv("TZ", saved_tz.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

ptp_address_type make_address(uint32_t encap, std::initializer_list<uint8_t> bytes)
{
    ptp_address_type a{};
    a.encap = encap;
    size_t i = 0;
    for (uint8_t b : bytes)
        a.value[i++] = b;
    return a;
}

TEST(PtpStrings, AddressesAndTheirTraceWords)
{
    ptp_address_type mac = make_address(PTP_ENCAP_ETHERNET, {0x00, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f});
    ptp_address_type v4 = make_address(PTP_ENCAP_IPV4, {192, 0, 2, 1});
    ptp_address_type v6 = make_address(PTP_ENCAP_IPV6, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
    ptp_address_type unknown = make_address(PTP_ENCAP_UNKNOWN, {});
    ptp_address_type invalid = make_address(9, {});
    struct {
        const ptp_address_type *address;
        const char *text;
    } cases[] = {{&mac, "Ethernet 001b.2c3d.4e5f"}, {&v4, "IPv4 192.0.2.1"},       {&v6, "IPv6 2001:db8::1"},
                 {&unknown, "Unknown address"},     {&invalid, "Invalid address"}, {nullptr, "Invalid address"}};
    for (const auto &c : cases) {
        EXPECT_STREQ(ptp_address_to_str(c.address), c.text);
        if (c.address == nullptr)
            continue; // the trace form of an absent address is kind 0
        // The trace words rebuild the same text.
        EXPECT_STREQ(ptp_address_trace_to_str(ptp_address_encap_get(c.address), ptp_address_trace_value(c.address),
                                              ptp_address_trace_mac_low(c.address)),
                     c.text);
    }
    EXPECT_EQ(ptp_address_trace_value(&mac), 0x001b2c3du);
    EXPECT_EQ(ptp_address_trace_mac_low(&mac), 0x4e5fu);
    EXPECT_EQ(ptp_address_trace_value(&v4), 0xc0000201u);
    EXPECT_EQ(ptp_address_trace_mac_low(&v4), 0u);
    EXPECT_EQ(ptp_address_encap_get(nullptr), 0u);
    EXPECT_EQ(ptp_trace_ethaddr_high(mac.value), 0x001b2c3du);
    EXPECT_EQ(ptp_trace_ethaddr_low(mac.value), 0x4e5fu);
    EXPECT_STREQ(ptp_trace_ethaddr_to_str(0x001b2c3d, 0x4e5f), "001b.2c3d.4e5f");
    EXPECT_STREQ(ptp_transport_address_to_str(PTP_TRANSPORT_UNICAST, PTP_ENCAP_IPV4, 0xc0000201u, 0),
                 "Unicast IPv4 192.0.2.1");

    ptp_source_ip_data_type src4{1, {10, 1, 2, 3}};
    ptp_source_ipv6_data_type src6{};
    EXPECT_STREQ(ptp_source_ipv4_to_str(&src4), "10.1.2.3");
    EXPECT_STREQ(ptp_source_ipv6_to_str(&src6), "Disabled");
    src6.enable = 1;
    EXPECT_STREQ(ptp_source_ipv6_to_str(&src6), "::");
    src4.enable = 0;
    EXPECT_STREQ(ptp_source_ipv4_to_str(&src4), "Disabled");
    const uint8_t ip[4] = {10, 0, 0, 9};
    EXPECT_STREQ(ptp_ipv4_addr_to_str_masked(0x4, ip, 2), "10.0.0.9");
    EXPECT_STREQ(ptp_ipv4_addr_to_str_masked(0x4, ip, 1), "Disabled");
}

TEST(PtpStrings, TransportChangesAndPackers)
{
    struct {
        uint32_t from, to, code;
        const char *text;
    } cases[] = {
        {PTP_TRANSPORT_UNICAST, PTP_TRANSPORT_MULTICAST, 0x9, "Unicast -> Multicast"},
        {PTP_TRANSPORT_MULTICAST, PTP_TRANSPORT_MIXED, 0x2, "Multicast -> Mixed-mode"},
        {PTP_TRANSPORT_MIXED, PTP_TRANSPORT_UNICAST, 0x4, "Mixed-mode -> Unicast"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ptp_transport_change_encode(c.from, c.to), c.code);
        EXPECT_STREQ(ptp_transport_change_to_str(c.code), c.text);
    }
    EXPECT_STREQ(ptp_transport_change_to_str_masked(0x9, 0x3 << 4, 4), "Unicast -> Multicast");
    EXPECT_STREQ(ptp_transport_change_to_str_masked(0x9, 0x1 << 4, 4), "Unicast -> Not Set");
    EXPECT_STREQ(ptp_transport_change_to_str_masked(0x9, 0x2 << 4, 4), "Not Set -> Multicast");
    EXPECT_TRUE(ptp_transport_is_unicast(PTP_TRANSPORT_UNICAST));
    EXPECT_FALSE(ptp_transport_is_unicast(PTP_TRANSPORT_MIXED));

    EXPECT_EQ(ptp_trace_flags_pack(true, false, true, true), 0xdu);
    uint32_t on = 5, off = 0;
    EXPECT_EQ(ptp_trace_flags_pack_ptrs(&off, &on, &off, &on), 0xau);
    EXPECT_EQ(ptp_trace_bytes_pack(0x11, 0x22, 0x33, 0x44), 0x44332211u);
}

TEST(PtpStrings, NodesByTheirChassisName)
{
    chassis_desc_type *chassis = nullptr;
    std::string error;
    ASSERT_EQ(chassis_load(chassis_sample_path(), &chassis, &error), 0u) << error;
    sysmgr_test_set_chassis(chassis);
    EXPECT_STREQ(ptp_node_id_to_str(0x010), "0/1/CPU0");
    EXPECT_STREQ(ptp_node_id_to_str(0x999), "<Unknown node (0x00000999)>");
    sysmgr_test_reset();
    chassis_free(chassis);
    EXPECT_STREQ(ptp_node_id_to_str(0x010), "<Unknown node (0x00000010)>");
}

TEST(PtpStringPool, EleventhCallOverwritesTheFirst)
{
    const uint8_t mac[6] = {0, 0, 0, 0, 0, 1};
    const char *first = ptp_ethaddr_to_str(mac);
    std::vector<const char *> later;
    for (int i = 0; i < 9; ++i)
        later.push_back(ptp_delay_asymmetry_to_str(1000 + i));
    EXPECT_STREQ(first, "0000.0000.0001") << "still valid after nine more";
    const char *eleventh = ptp_delay_asymmetry_to_str(7);
    EXPECT_EQ(eleventh, first);
    EXPECT_STREQ(first, "7 nanoseconds");
}

// Each thread formats into its own ring: texts never change under another thread's prints.
TEST(PtpStringPool, ThreadsDoNotShareBuffers)
{
    std::vector<std::thread> threads;
    std::vector<int> bad(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &bad] {
            for (int i = 0; i < 20000; ++i) {
                int32_t ns = (t + 1) * 1000000 + i * 10 + 1; // never whole microseconds
                const char *text = ptp_delay_asymmetry_to_str(ns);
                if (std::string(text) != std::to_string(ns) + " nanoseconds")
                    ++bad[static_cast<size_t>(t)];
            }
        });
    }
    for (auto &th : threads)
        th.join();
    EXPECT_EQ(bad, std::vector<int>(4, 0));
}

TEST(PtpBagFill, AddressesIntoTheBagUnion)
{
    ptp_address_type mac = make_address(PTP_ENCAP_ETHERNET, {1, 2, 3, 4, 5, 6});
    ptp_address_type v4 = make_address(PTP_ENCAP_IPV4, {192, 0, 2, 1});
    ptp_address_type v6 = make_address(PTP_ENCAP_IPV6, {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2});
    ptp_bag_address out;
    memset(&out, 0xa5, sizeof out);
    ptp_address_to_bag(&mac, &out);
    EXPECT_EQ(out.Encapsulation, PTP_BAG_ENCAP_Ethernet);
    EXPECT_EQ(memcmp(out.value.MACAddress.macaddr, mac.value, 6), 0);
    ptp_address_to_bag(&v4, &out);
    EXPECT_EQ(out.Encapsulation, PTP_BAG_ENCAP_IPv4);
    EXPECT_EQ(out.value.IPv4Address, htonl(0xc0000201));
    ptp_address_to_bag(&v6, &out);
    EXPECT_EQ(out.Encapsulation, PTP_BAG_ENCAP_IPv6);
    EXPECT_EQ(memcmp(out.value.IPv6Address.IPv6Address, v6.value, 16), 0);
    // A kind with no arm gives the unknown arm, not a discriminant that selects nothing.
    for (uint32_t encap : {0u, 4u, 0xffffffffu}) {
        ptp_address_type odd = make_address(encap, {9, 9, 9, 9});
        memset(&out, 0xa5, sizeof out);
        ptp_address_to_bag(&odd, &out);
        EXPECT_EQ(out.Encapsulation, PTP_BAG_ENCAP_Unknown) << encap;
        EXPECT_EQ(out.value.AddressUnknown, 1u) << encap;
    }
}

TEST(PtpBagFill, AddressLists)
{
    const uint32_t v4[2] = {htonl(0x0a000001), htonl(0x0a000002)};
    ptp_bag_ipv4_addr_list list4;
    ptp_bag_ipv4_addr_list_fill(v4, 2, &list4);
    ASSERT_EQ(list4.AddrList.count, 2u);
    EXPECT_EQ(list4.AddrList.array[1], v4[1]);
    free(list4.AddrList.array);
    ptp_bag_ipv4_addr_list_fill(v4, 0, &list4);
    EXPECT_EQ(list4.AddrList.count, 0u);
    EXPECT_EQ(list4.AddrList.array, nullptr);

    const uint8_t v6[1][16] = {{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5}};
    ptp_bag_ipv6_addr_list list6;
    ptp_bag_ipv6_addr_list_fill(v6, 1, &list6);
    ASSERT_EQ(list6.AddrList.count, 1u);
    EXPECT_EQ(memcmp(list6.AddrList.array[0].addr, v6[0], 16), 0);
    free(list6.AddrList.array);
}

} // namespace
