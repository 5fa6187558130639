// Each view's whole output for a rich fixture against its golden text, and each tool's options
// and edge cases.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "nodra_test.h"
#include "ptp_bags.h"
#include "ptp_show_fixture.h"
#include "ptp_show_utils.h"
#include "sysmgr_test.h"

namespace {

// A clock as the controller reports it; each view's fixture changes what it shows.
ptp_bag_clock sample_clock()
{
    ptp_bag_clock c{};
    c.ClockID = 0x001122fffe334455ull;
    c.Priority1 = 100;
    c.Priority2 = 128;
    c.Class = 6;
    c.Accuracy = 0x21;
    c.OffsetLogVariance = 0x4e5d;
    c.StepsRemoved = 1;
    c.TimeSource = PTP_BAG_TIME_SOURCE_GPS;
    c.UTCOffset = {37, 1};
    c.FrequencyTraceable = 1;
    c.TimeTraceable = 1;
    c.Timescale = PTP_BAG_TIMESCALE_PTP;
    c.LeapSeconds = PTP_BAG_LEAP_SECONDS_None;
    c.Receiver = {0x0a0b0cfffe0d0e0full, 0x0101};
    c.IsReceiverValid = 1;
    c.Sender = {0x001122fffe334455ull, 0x0001};
    c.IsSenderValid = 1;
    return c;
}

void store_datasets()
{
    ptp_current_ds_info current{3, -1250, 48211};
    ptp_show_store_bag("/oper/ptp/gl/dataset/current-ds", &current, ptp_current_ds_info_bag_getfn());
    uint32_t local_priority = 90, signal_fail = 1;
    ptp_default_ds_info def{};
    def.profile = PTP_BAG_PROFILE_G82752;
    def.TwoStepFlag = 1;
    def.ClockID = 0x0a0b0cfffe0d0e0full;
    def.NumberPorts = 4;
    def.ClockClass = 165;
    def.ClockAccuracy = 0xfe;
    def.OSLV = 0xffff;
    def.Priority1 = 128;
    def.Priority2 = 255;
    def.DomainNumber = 44;
    def.LocalPriority = &local_priority;
    def.SignalFail = &signal_fail;
    ptp_show_store_bag("/oper/ptp/gl/dataset/default-ds", &def, ptp_default_ds_info_bag_getfn());
    ptp_parent_ds_info parent{
        0x001122fffe334455ull, 2, 0, 0xffff, 0x7fffffff, 0x001122fffe334455ull, 6, 0x21, 0x4e5d, 100, 128};
    ptp_show_store_bag("/oper/ptp/gl/dataset/parent-ds", &parent, ptp_parent_ds_info_bag_getfn());
    ptp_time_properties_ds_info times{-3, 1, 0, 1, 1, 1, 1, static_cast<ptp_bag_clock_time_source>(0x70)};
    ptp_show_store_bag("/oper/ptp/gl/dataset/time-properties-ds", &times, ptp_time_properties_ds_info_bag_getfn());
}

TEST(ShowViews, DatasetsPrintEveryGlobalSet)
{
    ptp_show_test_reset();
    store_datasets();
    ptp_show_expect_golden("datasets.txt", ptp_show_run(ptp_show_datasets_main, {}));
    // The letters each pick their set, in the fixed order.
    const std::string all = ptp_show_golden("datasets.txt");
    const std::string parent_and_current = ptp_show_run(ptp_show_datasets_main, {"-p", "-c"});
    EXPECT_EQ(parent_and_current,
              all.substr(0, all.find("defaultDS:")) +
                  all.substr(all.find("parentDS:"), all.find("timePropertiesDS:") - all.find("parentDS:")));
}

// The portDS of an interface of each profile: the optional lines only for the profiles that have
// them, after whichever global sets were asked for.
TEST(ShowViews, DatasetsPortDS)
{
    ptp_show_test_reset();
    store_datasets();
    uint32_t local_priority = 90, master_only = 1, signal_fail = 0;
    ptp_port_ds_info g82752{PTP_BAG_PROFILE_G82752,
                            "Gi0/1/0/1",
                            0x0a0b0cfffe0d0e0full,
                            1,
                            PTP_BAG_PORT_STATE_SLAVE,
                            -4,
                            -48211,
                            1,
                            3,
                            -4,
                            PTP_BAG_DELAY_MECHANISM_E2E,
                            0,
                            2,
                            &local_priority,
                            &master_only,
                            &signal_fail};
    ptp_port_ds_info g82651 = g82752;
    g82651.profile = PTP_BAG_PROFILE_G82651;
    g82651.InterfaceName = "Gi0/1/0/2";
    g82651.PortNumber = 2;
    g82651.PortState = PTP_BAG_PORT_STATE_MASTER;
    g82651.DelayMechanism = PTP_BAG_DELAY_MECHANISM_P2P;
    ptp_port_ds_info fallback = g82752;
    fallback.profile = PTP_BAG_PROFILE_Default;
    fallback.InterfaceName = "Gi0/2/0/1";
    fallback.PortNumber = 3;
    fallback.PortState = PTP_BAG_PORT_STATE_LISTEN;
    ptp_show_provider agent("/oper/ptp/gl/dataset/port-ds/if/");
    for (const ptp_port_ds_info *ds : {&g82752, &g82651, &fallback})
        agent.add(ds->InterfaceName, ds, ptp_port_ds_info_bag_getfn());
    ptp_show_expect_golden("datasets_port.txt", ptp_show_run(ptp_show_datasets_main, {"-a"}) + "--\n" +
                                                    ptp_show_run(ptp_show_datasets_main, {"-c", "-i", "Gi0/1/0/2"}));
}

void store_leap_seconds(bool grandmaster_source)
{
    ptp_bag_utc_offset_info gm{37, 1, 0}, configured{37, 1, 1}, previous{36, 1, 0}, hardware{-2, 0, 0};
    ptp_bag_leap_seconds_entry entries[] = {
        {36, 1435708800, 1, 1}, // 2015-07-01, applied
        {1, 4102444800, 1, 0},  // 2100-01-01: to +1, one second
        {39, 4133980800, 2, 0}, // 2101-01-01: a change of two
    };
    // 2099-01-01; marked applied, which an announced leap second never says: it is still to come.
    ptp_bag_leap_seconds_entry announced{38, 4070908800, 1, 1};
    ptp_bag_string file = "/etc/leap-seconds.list";
    uint32_t expiry = 4070908800u;
    ptp_leap_seconds_info info{};
    info.CurrentOffsetInfo = {37, 1, 1};
    info.CurrentGMOffsetInfo = grandmaster_source ? &gm : nullptr;
    info.ConfiguredOffsetInfo = &configured;
    info.PreviousGMOffsetInfo = &previous;
    info.HardwareOffsetInfo = &hardware;
    info.SourceType = grandmaster_source ? 1 : 2;
    info.SourceFile = &file;
    info.SourceExpiryDate = &expiry;
    info.ConfiguredLeapSecondList = {3, entries};
    info.GMLeapSecond = grandmaster_source ? &announced : nullptr;
    ptp_show_store_bag("/oper/ptp/gl/leap-seconds", &info, ptp_leap_seconds_info_bag_getfn());
}

TEST(ShowViews, LeapSeconds)
{
    ptp_show_test_reset();
    store_leap_seconds(true);
    ptp_show_expect_golden("leap_seconds.txt", ptp_show_run(ptp_show_leap_seconds_main, {}));
    ptp_show_expect_golden("leap_seconds_detail.txt", ptp_show_run(ptp_show_leap_seconds_main, {"-d"}));
    // Without a grandmaster source: the previous grandmaster's counts, none pending from one.
    store_leap_seconds(false);
    ptp_show_expect_golden("leap_seconds_no_gm.txt", ptp_show_run(ptp_show_leap_seconds_main, {}));
}

TEST(ShowViews, LeapSecondsWithoutAFileAndPolled)
{
    ptp_show_test_reset();
    uint32_t poll = 1;
    ptp_bag_string file = "http://leap.example/list";
    ptp_leap_seconds_info info{};
    info.CurrentOffsetInfo = {37, 1, 0};
    info.SourceType = 7;
    ptp_show_store_bag("/oper/ptp/gl/leap-seconds", &info, ptp_leap_seconds_info_bag_getfn());
    const std::string user = ptp_show_run(ptp_show_leap_seconds_main, {});
    info.SourceFile = &file;
    info.PollingFrequency = &poll;
    ptp_show_store_bag("/oper/ptp/gl/leap-seconds", &info, ptp_leap_seconds_info_bag_getfn());
    ptp_show_expect_golden("leap_seconds_user.txt", user + "\n" + ptp_show_run(ptp_show_leap_seconds_main, {}));
}

TEST(ShowViews, Summary)
{
    ptp_show_test_reset();
    ptp_summary_info node{1, 2, 3, 4, 5, 6, 7, 8, 36, 30};
    ptp_summary_info system{0, 0, 0, 0, 1, 1, 0, 0, 2, 2};
    ptp_show_store_bag("/oper/ptp/node/11/summary", &node, ptp_summary_info_bag_getfn());
    ptp_show_store_bag("/oper/ptp/gl/summary", &system, ptp_summary_info_bag_getfn());
    ptp_show_expect_golden("summary.txt", ptp_show_run(ptp_show_summary_main, {"-h", "0x11"}) +
                                              ptp_show_run(ptp_show_summary_main, {"-a"}));
    const std::string golden = ptp_show_golden("summary.txt");
    // -h wins over -a, in either order, and decimal selects the same node.
    EXPECT_EQ(ptp_show_run(ptp_show_summary_main, {"-a", "-h", "17"}), golden.substr(0, golden.size() / 2));
}

void store_local_clock(bool grandmaster, uint32_t servo)
{
    uint8_t vp_class = 7, vp_p2 = 20, vp_local = 3, vp_accuracy = 0x22;
    ptp_local_clock_info info{};
    info.LocalActive = 1;
    info.Domain = 24;
    info.Grandmaster = grandmaster ? 1 : 0;
    info.ClockProperties = sample_clock();
    info.ClockProperties.UTCOffset = {-2, 0};
    info.ClockProperties.LeapSeconds = PTP_BAG_LEAP_SECONDS_Leap59;
    info.ClockProperties.TimeTraceable = 0;
    info.ClockProperties.TimeSource = PTP_BAG_TIME_SOURCE_InternalOscillator;
    info.ClockProperties.Timescale = PTP_BAG_TIMESCALE_ARB;
    info.VirtualPort = {1, 1, nullptr, &vp_p2, &vp_class, &vp_accuracy, nullptr, &vp_local};
    info.ServoStatus = servo;
    info.MeanPathDelay = 0;
    info.OffsetFromMaster = -42;
    info.AptsEnabled = 1;
    ptp_show_store_bag("/oper/ptp/gl/local-clock", &info, ptp_local_clock_info_bag_getfn());
}

TEST(ShowViews, LocalClock)
{
    ptp_show_test_reset();
    std::string out;
    const uint32_t cases[] = {4, 1, 9};
    for (uint32_t servo : cases) {
        store_local_clock(false, servo);
        out += ptp_show_run(ptp_show_local_clock_main, {}) + "--\n";
    }
    store_local_clock(true, 4);
    out += ptp_show_run(ptp_show_local_clock_main, {});
    ptp_show_expect_golden("local_clock.txt", out);
}

TEST(ShowViews, Grandmaster)
{
    ptp_show_test_reset();
    ptp_grandmaster_info gm{};
    gm.ClockProperties = sample_clock();
    gm.ClockProperties.LeapSeconds = PTP_BAG_LEAP_SECONDS_Leap61;
    gm.Active = 1;
    gm.UsedForTime = 1;
    gm.UsedForFrequency = 1;
    gm.KnownForTime = 90061;
    gm.InterfaceHandle = 0x01000101;
    gm.Address.Encapsulation = PTP_BAG_ENCAP_Ethernet;
    const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    memcpy(gm.Address.value.MACAddress.macaddr, mac, 6);
    gm.Domain = 24;
    ptp_show_store_bag("/oper/ptp/gl/grandmaster", &gm, ptp_grandmaster_info_bag_getfn());
    std::string out = ptp_show_run(ptp_show_grandmaster_main, {}) + "--\n";
    gm.UsedForTime = 0;
    gm.Address.Encapsulation = PTP_BAG_ENCAP_IPv4;
    gm.Address.value.IPv4Address = htonl(0xc0000201);
    gm.ClockProperties.FrequencyTraceable = 0;
    gm.ClockProperties.LeapSeconds = PTP_BAG_LEAP_SECONDS_None;
    ptp_show_store_bag("/oper/ptp/gl/grandmaster", &gm, ptp_grandmaster_info_bag_getfn());
    out += ptp_show_run(ptp_show_grandmaster_main, {}) + "--\n";
    gm.UsedForFrequency = 0;
    gm.Address.Encapsulation = PTP_BAG_ENCAP_IPv6;
    const uint8_t v6[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    memcpy(gm.Address.value.IPv6Address.IPv6Address, v6, 16);
    gm.ClockProperties.TimeTraceable = 0;
    ptp_show_store_bag("/oper/ptp/gl/grandmaster", &gm, ptp_grandmaster_info_bag_getfn());
    out += ptp_show_run(ptp_show_grandmaster_main, {});
    ptp_show_expect_golden("grandmaster.txt", out);
}

TEST(ShowViews, AdvertisedClock)
{
    ptp_show_test_reset();
    ptp_advertised_clock_info adv{};
    adv.AdvertisedActive = 1;
    adv.ClockProperties = sample_clock();
    adv.ClockProperties.Local = 1;
    adv.ClockProperties.TimeSource = static_cast<ptp_bag_clock_time_source>(0x80);
    adv.Domain = 24;
    adv.TimeSourceConfigured = 1;
    adv.ReceivedTimeSource = PTP_BAG_TIME_SOURCE_GPS;
    adv.TimescaleConfigured = 1;
    adv.ReceivedTimescale = PTP_BAG_TIMESCALE_ARB;
    ptp_show_store_bag("/oper/ptp/gl/advertised-clock", &adv, ptp_advertised_clock_info_bag_getfn());
    std::string out = ptp_show_run(ptp_show_advertised_clock_main, {}) + "--\n";
    adv.ClockProperties.Local = 0;
    adv.TimeSourceConfigured = 0;
    adv.TimescaleConfigured = 0;
    adv.ClockProperties.FrequencyTraceable = 0;
    adv.ClockProperties.LeapSeconds = PTP_BAG_LEAP_SECONDS_Leap59;
    ptp_show_store_bag("/oper/ptp/gl/advertised-clock", &adv, ptp_advertised_clock_info_bag_getfn());
    out += ptp_show_run(ptp_show_advertised_clock_main, {});
    ptp_show_expect_golden("advertised_clock.txt", out);
}

// Options and failures of the clock tools: each row a run and its whole output.
TEST(ShowViews, ClockToolOptionsAndFailures)
{
    struct case_type {
        const char *what;
        int (*entry)(int, char **);
        std::vector<std::string> args;
        const char *garbage; // an item that is no bag, or null
        std::string out;
    };
    const case_type cases[] = {
        {"unknown letter: only its message", ptp_show_datasets_main, {"-x"}, nullptr, "Unknown argument 'x'\n"},
        {"missing argument: only its message",
         ptp_show_datasets_main,
         {"-i"},
         nullptr,
         "Option 'i' missing argument\n"},
        {"nothing configured prints nothing", ptp_show_datasets_main, {}, nullptr, ""},
        {"unknown interface prints nothing", ptp_show_datasets_main, {"-i", "Gi0/9/9/9"}, nullptr, ""},
        {"the leap seconds not configured", ptp_show_leap_seconds_main, {}, nullptr, ""},
        {"an unknown letter goes on", ptp_show_leap_seconds_main, {"-q"}, nullptr, "Unknown argument 'q'\n"},
        {"summary: -h without a value goes on with the own node",
         ptp_show_summary_main,
         {"-h"},
         nullptr,
         "Option 'h' missing argument\n"},
        {"local clock not configured", ptp_show_local_clock_main, {}, nullptr, ""},
        {"grandmaster not configured", ptp_show_grandmaster_main, {}, nullptr, ""},
        {"advertised clock not configured", ptp_show_advertised_clock_main, {}, nullptr, ""},
        {"currentDS no bag",
         ptp_show_datasets_main,
         {"-c"},
         "/oper/ptp/gl/dataset/current-ds",
         "Failed to decode currentDS bag: "},
        {"leap seconds no bag",
         ptp_show_leap_seconds_main,
         {},
         "/oper/ptp/gl/leap-seconds",
         "Failed to decode leap seconds bag: "},
        {"summary no bag",
         ptp_show_summary_main,
         {"-a"},
         "/oper/ptp/gl/summary",
         "Failed to decode interface event counter bag: "},
        {"local clock no bag",
         ptp_show_local_clock_main,
         {},
         "/oper/ptp/gl/local-clock",
         "Failed to decode local clock bag: "},
        {"grandmaster no bag",
         ptp_show_grandmaster_main,
         {},
         "/oper/ptp/gl/grandmaster",
         "Failed to decode grandmaster bag: "},
        {"advertised clock no bag",
         ptp_show_advertised_clock_main,
         {},
         "/oper/ptp/gl/advertised-clock",
         "Failed to decode advertised-clock bag: "},
    };
    sysmgr_test_set_node(0x11);
    for (const case_type &c : cases) {
        SCOPED_TRACE(c.what);
        ptp_show_test_reset();
        std::string want = c.out;
        if (c.garbage != nullptr) {
            ptp_show_store_garbage(c.garbage);
            want += ptp_show_decode_error_text() + "\n";
        }
        EXPECT_EQ(ptp_show_run(c.entry, c.args), want);
    }
}

} // namespace

namespace {

ptp_bag_unicast_peer peer_at(uint32_t encap, uint32_t last)
{
    ptp_bag_unicast_peer p{};
    p.Address.Encapsulation = static_cast<ptp_bag_encap>(encap);
    if (encap == PTP_BAG_ENCAP_Ethernet) {
        const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, static_cast<uint8_t>(last)};
        memcpy(p.Address.value.MACAddress.macaddr, mac, 6);
    } else if (encap == PTP_BAG_ENCAP_IPv4) {
        p.Address.value.IPv4Address = htonl(0xc0000200 | last);
    } else {
        uint8_t v6[16] = {0x20, 0x01, 0x0d, 0xb8};
        v6[15] = static_cast<uint8_t>(last);
        memcpy(p.Address.value.IPv6Address.IPv6Address, v6, 16);
    }
    return p;
}

// Two line cards' agents: the chassis-wide view lists both, in name order; -i one interface (the
// daemon sends its get to the interface's node, this process's database to the first agent); -h one
// node's.
TEST(ShowViews, UnicastPeers)
{
    ptp_show_test_reset();
    ptp_bag_unicast_grant announce{1, 300}, sync{-4, 300}, delay{-4, 60};
    ptp_bag_unicast_peer peers[] = {peer_at(PTP_BAG_ENCAP_IPv4, 10), peer_at(PTP_BAG_ENCAP_IPv6, 11)};
    peers[0].AnnounceGrant = &announce;
    peers[0].SyncGrant = &sync;
    peers[0].DelayResponseGrant = &delay;
    ptp_bag_unicast_peer masters[] = {peer_at(PTP_BAG_ENCAP_IPv4, 1)};
    masters[0].AnnounceGrant = &announce;
    ptp_bag_unicast_peer one_peer[] = {peer_at(PTP_BAG_ENCAP_Ethernet, 5)};
    ptp_if_unicast_peer_info a{"Gi0/1/0/1", 1, {2, peers}, {1, masters}, 1};
    ptp_if_unicast_peer_info b{"Gi0/2/0/1", 2, {1, one_peer}, {0, nullptr}, 2};
    ptp_if_unicast_peer_info c{"Gi0/1/0/2", 3, {0, nullptr}, {0, nullptr}, 3};
    ptp_show_provider lc1("/oper/ptp/unicast-peers/if/"), lc2("/oper/ptp/unicast-peers/if/");
    lc1.add(a.Name, &a, ptp_if_unicast_peer_info_bag_getfn());
    lc1.add(c.Name, &c, ptp_if_unicast_peer_info_bag_getfn());
    lc2.add(b.Name, &b, ptp_if_unicast_peer_info_bag_getfn());
    ptp_show_provider node("/oper/ptp/node/10/unicast-peers/if/");
    node.add(c.Name, &c, ptp_if_unicast_peer_info_bag_getfn());
    ptp_show_expect_golden("unicast_peers.txt", ptp_show_run(ptp_show_unicast_peers_main, {"-a"}) + "--\n" +
                                                    ptp_show_run(ptp_show_unicast_peers_main, {"-i", "Gi0/1/0/1"}) +
                                                    "--\n" + ptp_show_run(ptp_show_unicast_peers_main, {"-h", "16"}));
    struct case_type {
        std::vector<std::string> args;
        std::string out;
    };
    const case_type cases[] = {
        {{"-i", "Gi0/1/0/1", "-h", "0x10"}, "Only one of interface or location must be specified\n"},
        {{"-i", "Gi0/9/9/9"}, ""},
        {{"-h", "0x20"}, ""},
        {{"-q", "-i"}, "Unknown argument 'q'\nOption 'i' missing argument\n"},
    };
    sysmgr_test_set_node(0x30);
    for (const case_type &k : cases)
        EXPECT_EQ(ptp_show_run(ptp_show_unicast_peers_main, k.args), k.out) << k.args[0];
    ptp_show_store_garbage("/oper/ptp/node/30/unicast-peers/if/x");
    EXPECT_EQ(ptp_show_run(ptp_show_unicast_peers_main, {}),
              std::string("Failed to decode unicast peers bag: ") + ptp_show_decode_error_text() + "\n");
}

} // namespace

namespace {

TEST(ShowViews, InteropTool)
{
    ptp_show_test_reset();
    ptp_bag_profile_interop egress{128, 100, 128, 200, 0x21, 0x22, 6, 7, 0x4e5d, 0xffff};
    ptp_bag_profile_interop_peer masters[3] = {};
    masters[0].Address = peer_at(PTP_BAG_ENCAP_Ethernet, 1).Address;
    masters[0].Interop = {100, 128, 200, 128, 0x22, 0x21, 7, 6, 0xffff, 0x4e5d};
    masters[1].Address = peer_at(PTP_BAG_ENCAP_IPv6, 2).Address;
    masters[1].Interop = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    masters[2].Address.Encapsulation = PTP_BAG_ENCAP_Unknown;
    ptp_if_interop_info both{"Gi0/1/0/1",  24,     44, PTP_BAG_PROFILE_G82751, PTP_BAG_PROFILE_G82752,
                             {3, masters}, &egress};
    ptp_if_interop_info neither{"Gi0/1/0/2",  0,      0, PTP_BAG_PROFILE_Default, PTP_BAG_PROFILE_Default,
                                {0, nullptr}, nullptr};
    ptp_show_provider agent("/oper/ptp/interop/if/");
    agent.add(both.Name, &both, ptp_if_interop_info_bag_getfn());
    agent.add(neither.Name, &neither, ptp_if_interop_info_bag_getfn());
    ptp_show_expect_golden("interop_tool.txt", ptp_show_run(ptp_show_interop_tool_main, {}) + "--\n" +
                                                   ptp_show_run(ptp_show_interop_tool_main, {"-i", "Gi0/1/0/2"}));
    EXPECT_EQ(ptp_show_run(ptp_show_interop_tool_main, {"-i", "Gi0/9/9/9"}), "");
    EXPECT_EQ(ptp_show_run(ptp_show_interop_tool_main, {"-a"}).substr(0, 23), "Unknown argument 'a'\nIn");
}

} // namespace

namespace {

ptp_bag_master_table_entry master_at(uint32_t encap, uint32_t last, uint32_t model)
{
    ptp_bag_master_table_entry m{};
    m.Address = peer_at(encap, last).Address;
    m.CommunicationModel = static_cast<ptp_bag_communication_model>(model);
    return m;
}

// Every capability set or none; each interface then clears what it lacks.
void set_capabilities(ptp_if_info &i, uint32_t v)
{
    i.SupportsUnicast = i.SupportsMaster = i.SupportsOneStep = i.SupportsTwoStep = i.SupportsEthernet = v;
    i.SupportsMulticast = i.SupportsIPv4 = i.SupportsIPv6 = i.SupportsSlave = i.SupportsSourceIP = v;
}

// Five interfaces covering the view's branches, served by one agent for the chassis-wide path and
// one for the own node's (0x30).
struct interfaces_fixture {
    const std::string longest = "Gi0/1/0/1." + std::string(53, '9'); // 63 characters, the longest name
    uint32_t v4[2] = {htonl(0xc0000201), htonl(0x0a000001)};
    ptp_bag_ipv6_addr v6[2] = {{{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
                               {{0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}}};
    ptp_bag_ipv6_addr v6_zero[1] = {};
    ptp_bag_ipv4_addr_list v4_list{{2, v4}};
    ptp_bag_ipv6_addr_list v6_list{{2, v6}}, v6_unset{{1, v6_zero}};
    ptp_bag_mac_addr_type mac{{0x00, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f}};
    uint32_t signal_fail = 1, no_signal_fail = 0;
    uint8_t prio1 = 100, prio2 = 0xaa, accuracy = 0x21, class_default = 248, domain = 44, master_prio = 7;
    uint16_t oslv = 0x4e5d;
    ptp_bag_profile_type interop_profile = PTP_BAG_PROFILE_G82751;
    ptp_bag_clock_class_mapping mapping[2] = {{6, 7}, {7, 135}};
    ptp_bag_profile_interop_cfg ingress{&prio1, nullptr, &accuracy, &class_default, {2, mapping}, &oslv};
    ptp_bag_profile_interop_cfg egress{nullptr, &prio2, nullptr, nullptr, {0, nullptr}, nullptr};
    ptp_bag_master_table_entry masters[3] = {
        master_at(PTP_BAG_ENCAP_IPv4, 1, PTP_BAG_COMMUNICATION_MODEL_Unicast),
        master_at(PTP_BAG_ENCAP_Ethernet, 2, PTP_BAG_COMMUNICATION_MODEL_Multicast),
        master_at(PTP_BAG_ENCAP_IPv6, 3, PTP_BAG_COMMUNICATION_MODEL_MixedMode)};
    ptp_if_info slave{}, master{}, ether{}, bare{}, v6_if{};

    interfaces_fixture()
    {
        masters[0].Priority = &master_prio;
        masters[0].Known = masters[0].Qualified = masters[0].IsGrandmaster = 1;
        masters[0].PTSFLossAnnounce = masters[0].PTSFLossSync = 1;
        masters[1].PTSFLossAnnounce = 1;
        masters[2].Known = 1;

        // An IPv4 slave of G.8275.2 with every capability, interop both ways and a master table.
        slave.Name = "Gi0/1/0/1";
        slave.PortState = PTP_BAG_PORT_STATE_SLAVE;
        slave.PortNumber = 1;
        slave.LineState = 3;
        slave.Encapsulation = PTP_BAG_ENCAP_IPv4;
        slave.IPv4AddressArray = &v4_list;
        slave.TwoStep = 1;
        slave.CommunicationModel = PTP_BAG_COMMUNICATION_MODEL_Unicast;
        slave.LogSyncInterval = -4;
        slave.LogAnnounceInterval = 1;
        slave.AnnounceTimeout = 3;
        slave.LogMinDelayRequestInterval = -4;
        slave.MasterTable = {3, masters};
        slave.ConfiguredPortState = PTP_BAG_RESTRICT_PORT_STATE_SlaveOnly;
        set_capabilities(slave, 1);
        slave.MaxSyncRate = 128;
        slave.GeneralCOS = 6;
        slave.EventCOS = 7;
        slave.GeneralDSCP = 46;
        slave.EventDSCP = 48;
        slave.UnicastPeers = 1;
        slave.LocalPriority = 90;
        slave.SignalFail = &signal_fail;
        slave.ProfileInterop = 1;
        slave.InteropDomain = &domain;
        slave.InteropProfile = &interop_profile;
        slave.IngressConversion = &ingress;
        slave.EgressConversion = &egress;
        slave.clock_profile = PTP_BAG_PROFILE_G82752;

        // The longest name: an IPv6 master-only port without a number or a known address.
        master.Name = longest.c_str();
        master.PortState = PTP_BAG_PORT_STATE_MASTER;
        master.LineState = 2;
        master.Encapsulation = PTP_BAG_ENCAP_IPv6;
        master.IPv6AddressArray = &v6_unset;
        master.CommunicationModel = PTP_BAG_COMMUNICATION_MODEL_Multicast;
        master.ConfiguredPortState = PTP_BAG_RESTRICT_PORT_STATE_MasterOnly;
        set_capabilities(master, 1);
        master.SupportsOneStep = master.SupportsMulticast = master.SupportsSourceIP = 0;
        master.MaxSyncRate = 64;

        // Ethernet, G.8275.1, a slave with no masters, interop without any conversion.
        ether.Name = "Gi0/2/0/1";
        ether.PortState = PTP_BAG_PORT_STATE_LISTEN;
        ether.PortNumber = 3;
        ether.LineState = 1;
        ether.Encapsulation = PTP_BAG_ENCAP_Ethernet;
        ether.MACAddress = &mac;
        ether.TwoStep = 1;
        ether.CommunicationModel = PTP_BAG_COMMUNICATION_MODEL_Multicast;
        ether.ConfiguredPortState = PTP_BAG_RESTRICT_PORT_STATE_SlaveOnly;
        ether.SupportsEthernet = ether.SupportsTwoStep = 1;
        ether.LocalPriority = 128;
        ether.SignalFail = &no_signal_fail;
        ether.ProfileInterop = 1;
        ether.clock_profile = PTP_BAG_PROFILE_G82751;
        ether.UnicastPeers = 2;

        // IPv4 without addresses and Ethernet without a MAC: "Unknown"; no capabilities at all.
        bare.Name = "Gi0/1/0/3";
        bare.PortState = PTP_BAG_PORT_STATE_FAULTY;
        bare.PortNumber = 65535;
        bare.Encapsulation = PTP_BAG_ENCAP_IPv4;
        bare.CommunicationModel = PTP_BAG_COMMUNICATION_MODEL_MixedMode;
        bare.LogSyncInterval = 2;

        v6_if.Name = "Gi0/1/0/4";
        v6_if.PortState = PTP_BAG_PORT_STATE_PASSIVE;
        v6_if.PortNumber = 4;
        v6_if.LineState = 3;
        v6_if.Encapsulation = PTP_BAG_ENCAP_IPv6;
        v6_if.IPv6AddressArray = &v6_list;
        v6_if.TwoStep = 1;
        set_capabilities(v6_if, 1);
        v6_if.SupportsEthernet = 0;
    }
};

TEST(ShowViews, Interfaces)
{
    ptp_show_test_reset();
    interfaces_fixture f;
    ptp_if_info unknown_mac = f.bare;
    unknown_mac.Name = "Gi0/3/0/1";
    unknown_mac.Encapsulation = PTP_BAG_ENCAP_Ethernet;
    ptp_show_provider chassis("/oper/ptp/interface/if/"), own("/oper/ptp/node/30/interface/if/");
    for (const ptp_if_info *i : {&f.slave, &f.master, &f.ether, &f.bare, &f.v6_if, &unknown_mac})
        chassis.add(i->Name, i, ptp_if_info_bag_getfn());
    own.add(f.ether.Name, &f.ether, ptp_if_info_bag_getfn());
    sysmgr_test_set_node(0x30);
    ptp_show_expect_golden("interfaces.txt", ptp_show_run(ptp_show_interfaces_main, {"-a"}) + "--\n" +
                                                 ptp_show_run(ptp_show_interfaces_main, {"-b", "-a"}) + "--\n" +
                                                 ptp_show_run(ptp_show_interfaces_main, {"-b"}));
    // The longest name is found whole, and shown whole.
    const std::string golden = ptp_show_golden("interfaces.txt");
    const size_t from = golden.find(f.longest + " is in");
    EXPECT_EQ(ptp_show_run(ptp_show_interfaces_main, {"-i", f.longest}),
              golden.substr(from, golden.find("\n\n", from) + 2 - from));
    struct case_type {
        std::vector<std::string> args;
        std::string out;
    };
    const case_type cases[] = {
        {{"-i", "Gi0/9/9/9"}, ""},
        {{"-b", "-i", "Gi0/9/9/9"}, ""},
        {{"-h", "16"}, "Unknown argument 'h'\n" + ptp_show_run(ptp_show_interfaces_main, {})},
        {{"-b", "-i"}, "Option 'i' missing argument\n" + ptp_show_run(ptp_show_interfaces_main, {"-b"})},
    };
    for (const case_type &k : cases)
        EXPECT_EQ(ptp_show_run(ptp_show_interfaces_main, k.args), k.out) << k.args[0] << k.args.back();
    // Without an agent on the own node nothing is shown; an item that is no bag says so.
    sysmgr_test_set_node(0x31);
    EXPECT_EQ(ptp_show_run(ptp_show_interfaces_main, {"-b"}), "");
    ptp_show_store_garbage("/oper/ptp/node/31/interface/if/x");
    EXPECT_EQ(ptp_show_run(ptp_show_interfaces_main, {}),
              std::string("Failed to decode interface bag: ") + ptp_show_decode_error_text() + "\n");
}

} // namespace

namespace {

ptp_bag_foreign_clock foreign_at(uint32_t encap, uint32_t last, uint32_t model)
{
    ptp_bag_foreign_clock fc{};
    fc.ForeignClock = sample_clock();
    fc.ForeignClock.ClockID = 0x00aabbfffe000000ull | last;
    fc.ForeignClock.Sender = {fc.ForeignClock.ClockID, static_cast<uint16_t>(last)};
    fc.Address = peer_at(encap, last).Address;
    fc.CommunicationModel = static_cast<ptp_bag_communication_model>(model);
    fc.ForeignDomain = 44;
    return fc;
}

// Interfaces of both clock selections over two agents: every branch of the detail and of the
// brief rows; -c picks one clock identity, heard on two interfaces.
TEST(ShowViews, ForeignMasters)
{
    ptp_show_test_reset();
    ptp_bag_unicast_grant announce{1, 300}, sync{-4, 300}, delay{-5, 60};
    uint8_t priority = 10, clock_class = 7;
    ptp_bag_foreign_clock a[3] = {foreign_at(PTP_BAG_ENCAP_IPv4, 1, PTP_BAG_COMMUNICATION_MODEL_Unicast),
                                  foreign_at(PTP_BAG_ENCAP_Ethernet, 2, PTP_BAG_COMMUNICATION_MODEL_Multicast),
                                  foreign_at(PTP_BAG_ENCAP_IPv6, 3, PTP_BAG_COMMUNICATION_MODEL_MixedMode)};
    a[0].IsKnown = a[0].IsQualified = a[0].IsGrandmaster = 1;
    a[0].TimeKnownFor = 3661;
    a[0].ConfiguredPriority = &priority;
    a[0].ConfiguredClockClass = &clock_class;
    a[0].DelayAsymmetry = 250;
    a[0].AnnounceGrant = &announce;
    a[0].SyncGrant = &sync;
    a[0].DelayResponseGrant = &delay;
    a[0].ForeignClock.UTCOffset = {-2, 1}; // below zero: printed signed
    a[1].IsKnown = 1;
    a[1].PTSFLossAnnounce = a[1].IsDNU = 1;
    a[1].AnnounceGrant = &announce;
    a[1].ForeignClock.FrequencyTraceable = a[1].ForeignClock.TimeTraceable = 0;
    a[1].ForeignClock.UTCOffset = {37, 0};
    a[2].PTSFLossSync = 1;
    ptp_bag_foreign_clock b[2] = {foreign_at(PTP_BAG_ENCAP_Unknown, 4, PTP_BAG_COMMUNICATION_MODEL_Unicast),
                                  foreign_at(PTP_BAG_ENCAP_IPv4, 1, PTP_BAG_COMMUNICATION_MODEL_Unicast)};
    b[0].IsKnown = 1;
    b[0].ForeignClock.FrequencyTraceable = 0;
    b[0].ForeignClock.TimeSource = static_cast<ptp_bag_clock_time_source>(0x70);
    b[0].ForeignClock.Timescale = PTP_BAG_TIMESCALE_ARB;
    b[1].IsKnown = 1;
    b[1].PTSFLossAnnounce = b[1].PTSFLossSync = 1;
    b[1].ForeignClock.TimeTraceable = 0;
    ptp_bag_foreign_clock t[2] = {foreign_at(PTP_BAG_ENCAP_IPv4, 5, PTP_BAG_COMMUNICATION_MODEL_Unicast),
                                  foreign_at(PTP_BAG_ENCAP_IPv4, 6, PTP_BAG_COMMUNICATION_MODEL_Unicast)};
    t[0].ConfiguredPriority = &priority;
    t[0].ConfiguredClockClass = &clock_class;
    t[0].IsQualified = t[0].IsGrandmaster = 1;
    t[1].ForeignClock.Class = 165;
    const std::string longest = "Gi0/2/0/1." + std::string(53, '7');
    ptp_if_clock_info ifa{1, {3, a}, 1, PTP_BAG_CLOCK_SELECTION_MODE_IEEE_1588, "Gi0/1/0/1"};
    ptp_if_clock_info ifb{2, {2, b}, 2, PTP_BAG_CLOCK_SELECTION_MODE_IEEE_1588, "Gi0/1/0/2"};
    ptp_if_clock_info ift{3, {2, t}, 3, PTP_BAG_CLOCK_SELECTION_MODE_Telecom, longest.c_str()};
    ptp_if_clock_info none{4, {0, nullptr}, 4, PTP_BAG_CLOCK_SELECTION_MODE_IEEE_1588, "Gi0/1/0/3"};
    ptp_show_provider lc1("/oper/ptp/foreign-masters/if/"), lc2("/oper/ptp/foreign-masters/if/");
    for (const ptp_if_clock_info *i : {&ifa, &ifb, &none})
        lc1.add(i->name, i, ptp_if_clock_info_bag_getfn());
    lc2.add(ift.name, &ift, ptp_if_clock_info_bag_getfn());
    ptp_show_provider node("/oper/ptp/node/20/foreign-masters/if/");
    node.add(ift.name, &ift, ptp_if_clock_info_bag_getfn());
    node.add(ifb.name, &ifb, ptp_if_clock_info_bag_getfn());
    ptp_show_expect_golden("foreign_masters.txt",
                           ptp_show_run(ptp_show_foreign_masters_main, {"-a"}) + "--\n" +
                               ptp_show_run(ptp_show_foreign_masters_main, {"-b", "-a"}) + "--\n" +
                               ptp_show_run(ptp_show_foreign_masters_main, {"-b", "-h", "0x20"}) + "--\n" +
                               ptp_show_run(ptp_show_foreign_masters_main, {"-a", "-c", "0x00aabbfffe000001"}) +
                               "--\n" + ptp_show_run(ptp_show_foreign_masters_main, {"-b", "-i", longest, "-h", "32"}));
    struct case_type {
        std::vector<std::string> args;
        std::string out;
    };
    const case_type cases[] = {
        // A clock identity heard nowhere: not even the interfaces' headings.
        {{"-a", "-c", "0x1234"}, ""},
        {{"-b", "-a", "-c", "0x1234"}, ""},
        {{"-i", "Gi0/1/0/3"}, ""},
        {{"-i", "Gi0/9/9/9"}, ""},
        {{"-h", "0x21"}, ""},
        {{"-c"}, "Option 'c' missing argument\n"},
        {{"-x", "-h", "0x21"}, "Unknown argument 'x'\n"},
    };
    sysmgr_test_set_node(0x40);
    for (const case_type &k : cases)
        EXPECT_EQ(ptp_show_run(ptp_show_foreign_masters_main, k.args), k.out) << k.args[0] << k.args.back();
    ptp_show_store_garbage("/oper/ptp/node/40/foreign-masters/if/x");
    EXPECT_EQ(ptp_show_run(ptp_show_foreign_masters_main, {}),
              std::string("Failed to decode interface bag: ") + ptp_show_decode_error_text() + "\n");
}

} // namespace

namespace {

void set_error(uint32_t &flag)
{
    flag = 1;
}
void set_error(bag_array<uint8_t> &) {}

// Every error flag of the records set, from the one table of their fields.
#define PTP_SHOW_TEST_SET_ERROR(S, name, text, type) set_error(S.name);
ptp_bag_config_errors all_if_errors()
{
    ptp_bag_config_errors e{};
    PTP_BAG_DEF_130(PTP_SHOW_TEST_SET_ERROR, e)
    return e;
}
ptp_bag_gl_config_errors all_global_errors()
{
    ptp_bag_gl_config_errors e{};
    PTP_BAG_DEF_131(PTP_SHOW_TEST_SET_ERROR, e)
    return e;
}
#undef PTP_SHOW_TEST_SET_ERROR

TEST(ShowViews, ConfigErrors)
{
    ptp_show_test_reset();
    uint8_t vp_p2 = 200, vp_class = 13, vp_accuracy = 0xfe;
    uint16_t vp_oslv = 0xffff;
    sardo_config_errors_info global{
        PTP_BAG_PROFILE_G82751, 1, PTP_BAG_TELECOM_CLOCK_Boundary, 4, 255, &vp_p2, &vp_class, &vp_accuracy, &vp_oslv,
        all_global_errors()};
    ptp_show_store_bag("/oper/ptp/gl/config-errors", &global, sardo_config_errors_info_bag_getfn());
    uint8_t from[2] = {6, 7}, to[1] = {135};
    ptp_bag_string profile_name = "telecom-slave";
    ptp_bag_profile_type interop = PTP_BAG_PROFILE_G82752;
    ptp_if_config_errors_entry every{"Gi0/1/0/1",
                                     &profile_name,
                                     PTP_BAG_PROFILE_G82751,
                                     PTP_BAG_TELECOM_CLOCK_Boundary,
                                     PTP_BAG_RESTRICT_PORT_STATE_SlaveOnly,
                                     &interop,
                                     all_if_errors()};
    every.ConfigurationErrors.InvalidInteropIngressClockClassMapFromVals = {2, from};
    every.ConfigurationErrors.InvalidInteropIngressClockClassMapToVals = {1, to};
    every.ConfigurationErrors.InvalidInteropEgressClockClassMapFromVals = {1, to};
    every.ConfigurationErrors.InvalidInteropEgressClockClassMapToVals = {2, from};
    // Without a profile name or an interop profile: "Unknown Profile", and the clock profile.
    ptp_if_config_errors_entry bare{"Gi0/2/0/1",
                                    nullptr,
                                    PTP_BAG_PROFILE_G82651,
                                    PTP_BAG_TELECOM_CLOCK_Slave,
                                    PTP_BAG_RESTRICT_PORT_STATE_MasterOnly,
                                    nullptr,
                                    {}};
    bare.ConfigurationErrors.EthernetTransport = bare.ConfigurationErrors.ProfileNotGlobal = 1;
    bare.ConfigurationErrors.LocalPriority = bare.ConfigurationErrors.ProfileIPv4 = 1;
    bare.ConfigurationErrors.ProfilePortState = bare.ConfigurationErrors.InvalidInteropDomain = 1;
    bare.ConfigurationErrors.InvalidInteropIngressClockClassMapToVals = {1, to};
    ptp_if_config_errors_entry clean{
        "Gi0/1/0/2", nullptr, PTP_BAG_PROFILE_Default, PTP_BAG_TELECOM_CLOCK_Boundary, PTP_BAG_RESTRICT_PORT_STATE_Any,
        nullptr,     {}};
    ptp_show_provider lc1("/oper/ptp/config-errors/if/"), lc2("/oper/ptp/config-errors/if/");
    lc1.add(every.InterfaceName, &every, ptp_if_config_errors_entry_bag_getfn());
    lc1.add(bare.InterfaceName, &bare, ptp_if_config_errors_entry_bag_getfn());
    lc2.add(clean.InterfaceName, &clean, ptp_if_config_errors_entry_bag_getfn());
    std::string out = ptp_show_run(ptp_show_config_errors_main, {}) + "--\n";
    // -i shows no global errors.
    out += ptp_show_run(ptp_show_config_errors_main, {"-i", "Gi0/2/0/1"});
    ptp_show_expect_golden("config_errors.txt", out);
    struct case_type {
        std::vector<std::string> args;
        std::string out;
    };
    const std::string bare_lines = ptp_show_run(ptp_show_config_errors_main, {"-i", "Gi0/2/0/1"});
    const case_type cases[] = {
        {{"-i"}, "Option 'i' missing argument\n"},
        {{"-a", "-i", "Gi0/2/0/1"}, "Unknown argument 'a'\n" + bare_lines},
    };
    for (const case_type &k : cases)
        EXPECT_EQ(ptp_show_run(ptp_show_config_errors_main, k.args).substr(0, k.out.size()), k.out) << k.args[0];
    EXPECT_EQ(ptp_show_run(ptp_show_config_errors_main, {"-i", "Gi0/1/0/2"}), "");
    EXPECT_EQ(ptp_show_run(ptp_show_config_errors_main, {"-i", "Gi0/9/9/9"}), "");
}

// The global record alone: an error whose value is absent prints nothing; not configured, or no
// bag, says so, and the interfaces follow.
TEST(ShowViews, ConfigErrorsGlobal)
{
    ptp_show_test_reset();
    sardo_config_errors_info global{
        PTP_BAG_PROFILE_G82651, 1, PTP_BAG_TELECOM_CLOCK_Grandmaster, 0, 7, nullptr, nullptr, nullptr, nullptr,
        all_global_errors()};
    ptp_show_store_bag("/oper/ptp/gl/config-errors", &global, sardo_config_errors_info_bag_getfn());
    ptp_show_expect_golden("config_errors_global.txt", ptp_show_run(ptp_show_config_errors_main, {}));
    ptp_show_test_reset();
    ptp_if_config_errors_entry one{
        "Gi0/1/0/1", nullptr, PTP_BAG_PROFILE_Default, PTP_BAG_TELECOM_CLOCK_Boundary, PTP_BAG_RESTRICT_PORT_STATE_Any,
        nullptr,     {}};
    one.ConfigurationErrors.GlobalPTP = 1;
    const std::string line = "* Interface Gi0/1/0/1: PTP is enabled on the interface, but not globally enabled.\n";
    {
        ptp_show_provider agent("/oper/ptp/config-errors/if/");
        agent.add(one.InterfaceName, &one, ptp_if_config_errors_entry_bag_getfn());
        EXPECT_EQ(ptp_show_run(ptp_show_config_errors_main, {}), "PTP is not configured globally\n" + line);
        EXPECT_EQ(ptp_show_run(ptp_show_config_errors_main, {"-i", "Gi0/1/0/1"}), line);
    }
    ptp_show_store_garbage("/oper/ptp/gl/config-errors");
    ptp_show_store_garbage("/oper/ptp/config-errors/if/x");
    const std::string failed = ptp_show_decode_error_text() + "\n";
    EXPECT_EQ(ptp_show_run(ptp_show_config_errors_main, {"-i", "x"}), "Failed to decode config error bag: " + failed);
    EXPECT_EQ(ptp_show_run(ptp_show_config_errors_main, {}),
              "Failed to decode global config error bag: " + failed + "Failed to decode config error bag: " + failed);
}

} // namespace
