// The frame's helpers as tables, its options and paths, and the library check.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "nodra_test.h"
#include "ptp_show_fixture.h"
#include "ptp_show_utils.h"
#include "sysmgr_test.h"

namespace {

// First of all, while the process has not yet found it: an absent library is a failed bind,
// checked again at the next use; once found it is remembered.
TEST(ShowFrame, LibraryAbsentIsAFailedBindAndCheckedAgain)
{
    ptp_show_test_reset();
    nodra_test_set_client_library_path("/nonexistent/libnodra.so");
    nodra_conn_td *conn = nullptr;
    EXPECT_EQ(ptp_show_bind(&conn, "/oper/ptp/gl/"), NODRA_ERR_BIND_NO_LIBRARY);
    EXPECT_EQ(ptp_show_run(ptp_show_advertised_clock_main, {}),
              std::string("Failed to bind to Nodra path '/oper/ptp/gl/': ") + zerr_strerror(NODRA_ERR_BIND_NO_LIBRARY) +
                  "\n");
    EXPECT_EQ(ptp_show_run(ptp_show_local_clock_main, {}), std::string("Failed to bind to Nodra path /oper/ptp/gl/: ") +
                                                               zerr_strerror(NODRA_ERR_BIND_NO_LIBRARY) + "\n");
    EXPECT_EQ(ptp_show_run(ptp_show_interfaces_main, {"-a"}),
              std::string("Failed to bind to Nodra: ") + zerr_strerror(NODRA_ERR_BIND_NO_LIBRARY) + "\n");
    EXPECT_EQ(ptp_show_run(ptp_show_foreign_masters_main, {"-a"}),
              std::string("Failed to bind to Nodra path '/oper/ptp/foreign-masters/if/': ") +
                  zerr_strerror(NODRA_ERR_BIND_NO_LIBRARY) + "\n");
    // The global bind fails first, and the tool stops there. A record named by its whole path is
    // named so, though its folder is what is bound.
    EXPECT_EQ(ptp_show_run(ptp_show_config_errors_main, {}),
              std::string("Failed to bind to Nodra path '/oper/ptp/gl/config-errors': ") +
                  zerr_strerror(NODRA_ERR_BIND_NO_LIBRARY) + "\n");
    EXPECT_EQ(ptp_show_run(ptp_show_controller_db_main, {"-h", "0x10"}),
              std::string("Failed to bind to Nodra on path '/oper/ptp/node/10/ctrlr-database': ") +
                  zerr_strerror(NODRA_ERR_BIND_NO_LIBRARY) + "\n");
    nodra_test_set_client_library_path("/proc/self/exe");
    EXPECT_TRUE(ptp_show_library_present());
    nodra_test_set_client_library_path("/nonexistent/libnodra.so");
    EXPECT_TRUE(ptp_show_library_present());
}

TEST(ShowFrame, Durations)
{
    struct row {
        uint32_t seconds;
        const char *full, *brief;
    };
    const row rows[] = {
        {0, "0 seconds", "0 seconds"},
        {1, "1 second", "1 second"},
        {59, "59 seconds", "59 seconds"},
        {60, "1 minute, 0 seconds", "1 minute, 0 seconds"},
        {61, "1 minute, 1 second", "1 minute, 1 second"},
        {3599, "59 minutes, 59 seconds", "59 minutes, 59 seconds"},
        {3661, "1 hour, 1 minute, 1 second", "61 minutes, 1 second"},
        {7322, "2 hours, 2 minutes, 2 seconds", "122 minutes, 2 seconds"},
        {86399, "23 hours, 59 minutes, 59 seconds", "1439 minutes, 59 seconds"},
        {90061, "1 day, 1 hour, 1 minute", "1501 minutes, 1 second"},
        {2 * 86400 + 25 * 3600, "3 days, 1 hour, 0 minutes", "4380 minutes, 0 seconds"},
        {UINT32_MAX, "49710 days, 6 hours, 28 minutes", "71582788 minutes, 15 seconds"},
    };
    for (const row &r : rows) {
        EXPECT_STREQ(ptp_show_duration_to_str(r.seconds), r.full) << r.seconds;
        EXPECT_STREQ(ptp_show_short_duration_to_str(r.seconds), r.brief) << r.seconds;
    }
    EXPECT_STREQ(ptp_show_range_to_str(3, 10), "3 to 10 seconds");
}

TEST(ShowFrame, LogIntervalsAndGrants)
{
    struct row {
        int32_t log;
        const char *text;
    };
    const row rows[] = {{0, "every second"},
                        {1, "every 2 seconds"},
                        {4, "every 16 seconds"},
                        {-1, "2 per-second"},
                        {-3, "8 per-second"},
                        {-7, "128 per-second"},
                        {31, "every 2147483648 seconds"},
                        {127, "every 2147483648 seconds"},
                        {-128, "2147483648 per-second"}};
    for (const row &r : rows)
        EXPECT_STREQ(ptp_show_log_interval_to_str(r.log), r.text) << r.log;
    EXPECT_STREQ(ptp_show_grant_to_str(-4, 300), "16 per-second,     300 seconds");
    EXPECT_STREQ(ptp_show_grant_to_str(1, 60), "every 2 seconds,   60 seconds");
    EXPECT_STREQ(ptp_show_grant_to_str(-128, 1), "2147483648 per-second, 1 seconds");
}

TEST(ShowFrame, AddressLists)
{
    char buf[256];
    const uint32_t v4[] = {htonl(0x0a000001), htonl(0xc0a80101), htonl(0xac100001)};
    EXPECT_STREQ(ptp_show_ipv4_addrs_to_str(0, v4, buf, sizeof buf), "");
    EXPECT_STREQ(ptp_show_ipv4_addrs_to_str(1, v4, buf, sizeof buf), "10.0.0.1 (pri)");
    EXPECT_STREQ(ptp_show_ipv4_addrs_to_str(3, v4, buf, sizeof buf),
                 "10.0.0.1 (pri), 192.168.1.1 (sec), 172.16.0.1 (sec)");
    // A small buffer holds what fits with its reserve, never past its end.
    char small[40];
    EXPECT_STREQ(ptp_show_ipv4_addrs_to_str(3, v4, small, sizeof small), "10.0.0.1 (pri), 192.168.1.1 (sec)");
    uint8_t v6[2][16] = {{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
                         {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0x02, 0x11, 0x22, 0xff, 0xfe, 0x33, 0x44, 0x55}};
    EXPECT_STREQ(ptp_show_ipv6_addrs_to_str(0, v6, buf, sizeof buf), "");
    EXPECT_STREQ(ptp_show_ipv6_addrs_to_str(1, v6, buf, sizeof buf), "2001:db8::1");
    EXPECT_STREQ(ptp_show_ipv6_addrs_to_str(2, v6, buf, sizeof buf), "2001:db8::1, fe80::211:22ff:fe33:4455");
}

TEST(ShowFrame, NamesOfValues)
{
    const uint8_t mac[6] = {0x00, 0x1b, 0x2c, 0xa0, 0xff, 0x09};
    EXPECT_STREQ(ptp_show_mac_to_str(mac), "001b.2ca0.ff09");
    struct row {
        uint32_t value;
        const char *ql, *source;
    };
    const row rows[] = {
        {0, "Invalid QL", "Not set"},
        {1, "DNU", "Unknown"},
        {3, "None", "Unknown"},
        {4, "Not provided", "Unknown"},
        {0x10, "Not provided", "Atomic"},
        {20, "o1 ePRTC", "Unknown"},
        {21, "01 PRTC", "Unknown"},
        {22, "01 PRC", "Unknown"},
        {28, "o1 ePRC", "Unknown"},
        {29, "Not provided", "Unknown"},
        {0x20, "Not provided", "GPS"},
        {40, "o2 G1 ePRTC", "Unknown"},
        {51, "o2 G1 ePRC", "Unknown"},
        {0x30, "o2 G1 SMC", "Terrestrial Radio"},
        {60, "o2 G2 ePRTC", "Unknown"},
        {0x40, "o2 G2 ST2", "PTP"},
        {73, "o2 G2 ePRC", "Unknown"},
        {74, "Not provided", "Unknown"},
        {0x50, "Not provided", "NTP"},
        {0x60, "Not provided", "Hand-set"},
        {0x70, "Not provided", "Unknown"},
        {0x80, "Not provided", "Unknown"},
        {0x90, "Not provided", "Other"},
        {0xA0, "Not provided", "Internal"},
        {0x100 + 21, "01 PRTC", "Unknown"},
        {0xFF, "Not provided", "Unknown"},
    };
    for (const row &r : rows) {
        EXPECT_STREQ(ptp_show_ql_to_str(r.value), r.ql) << r.value;
        EXPECT_STREQ(ptp_show_bag_timesource_to_str(r.value), r.source) << r.value;
    }
    EXPECT_STREQ(ptp_show_bag_timescale_to_str(0), "PTP");
    EXPECT_STREQ(ptp_show_bag_timescale_to_str(1), "ARB");
    EXPECT_STREQ(ptp_show_bag_timescale_to_str(2), "Unknown");
    const char *encaps[] = {"Unknown", "Ethernet", "IPv4", "IPv6", "Unknown"};
    for (uint32_t e = 0; e < 5; ++e)
        EXPECT_STREQ(ptp_show_bag_encap_to_str(e), encaps[e]);
    EXPECT_STREQ(ptp_show_bag_delay_mechanism_to_str(0), "End to end");
    EXPECT_STREQ(ptp_show_bag_delay_mechanism_to_str(1), "Unknown");
    EXPECT_STREQ(ptp_show_set_to_str(2), "[SET]");
    EXPECT_STREQ(ptp_show_set_to_str(0), "[NOT SET]");
    EXPECT_STREQ(ptp_show_ifhandle_to_str(0x01000101), "<Unknown (0x01000101)>");
    const std::string servo = ptp_show_capture([] {
        for (uint32_t s = 0; s <= 6; ++s)
            ptp_show_print_servo_status(s);
        ptp_show_print_indent(2);
        printf("|\n");
    });
    EXPECT_EQ(servo, "Not supported by this platform\nFreerunning\nAcquiring a lock\nFrequency locked\n"
                     "Phase aligned\nHoldover\nUnknown\n        |\n");
}

TEST(ShowFrame, Timestamps)
{
    setenv("TZ", "UTC", 1);
    tzset();
    const uint32_t ns = 5;
    EXPECT_STREQ(ptp_show_timestamp_to_str(0, nullptr), "1970-01-01, 00:00:00");
    EXPECT_STREQ(ptp_show_timestamp_to_str(1700000000, &ns), "2023-11-14, 22:13:20.000000005");
    EXPECT_STREQ(ptp_show_timestamp_to_str(UINT64_MAX, nullptr), "");
}

TEST(ShowFrame, TenBuffersRotate)
{
    const char *texts[11];
    for (uint32_t i = 0; i < 11; ++i)
        texts[i] = ptp_show_range_to_str(i, i);
    EXPECT_STREQ(texts[1], "1 to 1 seconds"); // still its own after nine more
    EXPECT_EQ(texts[0], texts[10]);           // the eleventh took the first's buffer
    EXPECT_STREQ(texts[0], "10 to 10 seconds");
}

TEST(ShowFrame, OptionsAndPaths)
{
    struct case_type {
        std::vector<std::string> args;
        const char *out;
        const char *path; // of "foreign-masters/if/", null: the options are refused
    };
    sysmgr_test_set_node(0x120);
    const case_type cases[] = {
        {{"-h", "16"}, "", "/oper/ptp/node/10/foreign-masters/if/"},
        {{"-h", "0x10"}, "", "/oper/ptp/node/10/foreign-masters/if/"},
        {{"-h", "020"}, "", "/oper/ptp/node/10/foreign-masters/if/"},
        {{"-a"}, "", "/oper/ptp/foreign-masters/if/"},
        {{"-i", "Gi0/1/0/1"}, "", "/oper/ptp/foreign-masters/if/"},
        {{"-h"}, "Option 'h' missing argument\n", "/oper/ptp/node/120/foreign-masters/if/"},
        {{"-b"}, "", "/oper/ptp/node/120/foreign-masters/if/"},
        {{"-z", "-a"}, "Unknown argument 'z'\n", "/oper/ptp/foreign-masters/if/"},
        {{"-h", "0xFFFFFFFE"}, "", "/oper/ptp/node/fffffffe/foreign-masters/if/"},
        // A node number cut down to fit, or read up to a typo, would name another node.
        {{"-h", "0x100000010"}, "Option 'h' value '0x100000010' is not a number of at most 32 bits\n", nullptr},
        {{"-h", "16x"}, "Option 'h' value '16x' is not a number of at most 32 bits\n", nullptr},
        {{"-h", "-16"}, "Option 'h' value '-16' is not a number of at most 32 bits\n", nullptr},
        {{"-h", ""}, "Option 'h' value '' is not a number of at most 32 bits\n", nullptr},
        {{"-h", "x", "-z"}, "Option 'h' value 'x' is not a number of at most 32 bits\nUnknown argument 'z'\n", nullptr},
    };
    for (const case_type &c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "tool");
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        char path[128] = "";
        bool built = false;
        bool accepted = false;
        const std::string out = ptp_show_capture([&] {
            accepted = ptp_show_parse_options(static_cast<int>(args.size()), argv.data(), ":abc:i:h:");
            if (c.path != nullptr)
                built = ptp_show_build_path("foreign-masters/if/", path, sizeof path);
        });
        EXPECT_EQ(out, c.out) << args[1];
        EXPECT_EQ(accepted, c.path != nullptr) << args[1];
        if (c.path != nullptr) {
            EXPECT_TRUE(built);
            EXPECT_STREQ(path, c.path);
        }
    }
}

// A name of the largest length is listed whole; a longer one would be cut into another name and
// is left out.
TEST(ShowFrame, InterfaceListKeepsNamesWhole)
{
    ptp_show_test_reset();
    const std::string longest(63, 'x'), longer(64, 'y');
    ptp_show_provider provider("/oper/ptp/interface/if/");
    provider.items = {{"Gi0/1/0/1", "a"}, {longest, "b"}, {longer, "c"}};
    char(*names)[64] = nullptr;
    uint32_t count = 0;
    const std::string out = ptp_show_capture([&] { ptp_show_list_intfs(&names, &count); });
    EXPECT_EQ(out, "");
    ASSERT_EQ(count, 2u);
    EXPECT_STREQ(names[0], "Gi0/1/0/1");
    EXPECT_EQ(std::string(names[1]), longest);
    free(names);
}

} // namespace
