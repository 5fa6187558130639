#include "zelvoPtpmib_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "evm_test.h"
#include "nodra_test.h"
#include "plat_clock_test.h"
#include "ptp_pd_mib.h"
#include "tuple.h"

const char *mib_path(const char *module)
{
    return strcmp(module, MIB_V1) == 0 ? ZELVO_PTP_MIB_PATH : ZELVO_PTP_MIB_V2_PATH;
}

ptp_bag_address mib_ipv4(uint8_t last)
{
    ptp_bag_address a{};
    a.Encapsulation = PTP_BAG_ENCAP_IPv4;
    const uint8_t bytes[4] = {10, 0, 0, last};
    memcpy(&a.value.IPv4Address, bytes, 4);
    return a;
}

ptp_bag_address mib_ipv6(uint8_t last)
{
    ptp_bag_address a{};
    a.Encapsulation = PTP_BAG_ENCAP_IPv6;
    a.value.IPv6Address.IPv6Address[0] = 0x20;
    a.value.IPv6Address.IPv6Address[1] = 0x01;
    a.value.IPv6Address.IPv6Address[15] = last;
    return a;
}

ptp_bag_address mib_mac(uint8_t last)
{
    ptp_bag_address a{};
    a.Encapsulation = PTP_BAG_ENCAP_Ethernet;
    const uint8_t bytes[6] = {0x00, 0x11, 0x22, 0x33, 0x44, last};
    memcpy(a.value.MACAddress.macaddr, bytes, 6);
    return a;
}

ptp_local_clock_info mib_local_clock(uint8_t domain, bool active)
{
    ptp_local_clock_info c{};
    c.LocalActive = active ? 1 : 0;
    c.Domain = domain;
    c.ClockProperties.ClockID = 0x0011a2fffe3b4c5dull;
    c.ClockProperties.Priority1 = 128;
    c.ClockProperties.Priority2 = 100;
    c.ClockProperties.Class = 248;
    c.ClockProperties.Accuracy = 0x21;
    c.ClockProperties.OffsetLogVariance = 0x4e5d;
    return c;
}

void mib_store_chassis(MibTest *test)
{
    ptp_local_clock_info local = mib_local_clock(24, true);
    ptp_show_store_bag("/oper/ptp/node/1a0/local-clock", &local, ptp_local_clock_info_bag_getfn());
    ptp_local_clock_info idle = mib_local_clock(7, false);
    ptp_show_store_bag("/oper/ptp/node/2b1/local-clock", &idle, ptp_local_clock_info_bag_getfn());

    ptp_advertised_clock_info adv{};
    adv.AdvertisedActive = 1;
    adv.Domain = 24;
    adv.ClockProperties.ClockID = 0xaabbccfffe000001ull;
    adv.ClockProperties.Priority1 = 1;
    adv.ClockProperties.Priority2 = 2;
    adv.ClockProperties.Class = 6;
    adv.ClockProperties.Accuracy = 0x50;
    adv.ClockProperties.OffsetLogVariance = 0x4e5d;
    adv.ClockProperties.StepsRemoved = 1;
    adv.ClockProperties.TimeSource = static_cast<ptp_bag_clock_time_source>(112);
    adv.ClockProperties.UTCOffset = {37, 1};
    adv.ClockProperties.TimeTraceable = 1;
    adv.ClockProperties.FrequencyTraceable = 0;
    adv.ClockProperties.Timescale = PTP_BAG_TIMESCALE_PTP;
    adv.ClockProperties.LeapSeconds = PTP_BAG_LEAP_SECONDS_Leap61;
    adv.ClockProperties.Sender = {0xaabbccfffe000001ull, 3};
    ptp_show_store_bag("/oper/ptp/node/1a0/advertised-clock", &adv, ptp_advertised_clock_info_bag_getfn());

    ptp_summary_info summary{};
    summary.TotalInterfacesValidPortNum = 3;
    ptp_show_store_bag("/oper/ptp/node/1a0/summary", &summary, ptp_summary_info_bag_getfn());
    summary.TotalInterfacesValidPortNum = 2;
    ptp_show_store_bag("/oper/ptp/node/2b1/summary", &summary, ptp_summary_info_bag_getfn());

    ptp_node_packet_counter_info node_counters{};
    node_counters.Counters.TotalPacketsSent = 4000000000u;
    node_counters.Counters.TotalPacketsReceived = 17;
    ptp_show_store_bag("/oper/ptp/node/1a0/packet-counters", &node_counters, ptp_node_packet_counter_info_bag_getfn());
    node_counters.Counters.TotalPacketsSent = 4000000000u;
    node_counters.Counters.TotalPacketsReceived = 3;
    ptp_show_store_bag("/oper/ptp/node/2b1/packet-counters", &node_counters, ptp_node_packet_counter_info_bag_getfn());

    struct intf_row {
        const char *name;
        uint16_t port;
        ptp_bag_port_state state;
        ptp_bag_encap encap;
        bool two_step;
        ptp_bag_communication_model model;
    };
    const intf_row rows[] = {
        {"GigabitEthernet0/0/0/1", 1, PTP_BAG_PORT_STATE_SLAVE, PTP_BAG_ENCAP_IPv4, true,
         PTP_BAG_COMMUNICATION_MODEL_Unicast},
        {"GigabitEthernet0/0/0/2", 2, PTP_BAG_PORT_STATE_MASTER, PTP_BAG_ENCAP_IPv6, false,
         PTP_BAG_COMMUNICATION_MODEL_MixedMode},
        {"GigabitEthernet0/0/0/3", 5, PTP_BAG_PORT_STATE_LISTEN, PTP_BAG_ENCAP_Ethernet, false,
         PTP_BAG_COMMUNICATION_MODEL_Multicast},
        {"GigabitEthernet0/0/0/9", 0, PTP_BAG_PORT_STATE_INITIALIZING, PTP_BAG_ENCAP_IPv4, false,
         PTP_BAG_COMMUNICATION_MODEL_Unicast},
    };
    ptp_bag_address current_peer = mib_ipv4(9);
    for (const intf_row &r : rows) {
        ptp_if_info intf{};
        intf.Name = r.name;
        intf.PortState = r.state;
        intf.PortNumber = r.port;
        intf.Encapsulation = r.encap;
        intf.TwoStep = r.two_step ? 1 : 0;
        intf.CommunicationModel = r.model;
        intf.LogSyncInterval = -4;
        intf.LogAnnounceInterval = 1;
        intf.AnnounceTimeout = 3;
        intf.LogMinDelayRequestInterval = -4;
        intf.internal_port_number = r.port;
        intf.current_peer = r.port == 1 ? &current_peer : nullptr;
        intf.associate_port_count = r.port == 1 ? 2 : (r.port == 2 ? 1 : 0);
        test->agent(r.port == 1 || r.port == 2 ? 1 : 2, "/oper/ptp/interface/if/")
            .add(r.name, &intf, ptp_if_info_bag_getfn());
    }

    // Foreign masters: port 1 peer 1 (IPv4 .9), port 5 peer 1 (Ethernet).
    ptp_bag_foreign_clock fm1{};
    fm1.PeerIndex = 1;
    fm1.Address = mib_ipv4(9);
    ptp_if_clock_info fms{};
    fms.internal_port_number = 1;
    fms.ForeignClocks = {1, &fm1};
    fms.name = "GigabitEthernet0/0/0/1";
    test->agent(1, "/oper/ptp/foreign-masters/if/").add("GigabitEthernet0/0/0/1", &fms, ptp_if_clock_info_bag_getfn());
    ptp_bag_foreign_clock fm5{};
    fm5.PeerIndex = 1;
    fm5.Address = mib_mac(5);
    fms.internal_port_number = 5;
    fms.ForeignClocks = {1, &fm5};
    fms.name = "GigabitEthernet0/0/0/3";
    test->agent(2, "/oper/ptp/foreign-masters/if/").add("GigabitEthernet0/0/0/3", &fms, ptp_if_clock_info_bag_getfn());

    // Unicast peers: port 1 peer 1 (the foreign master too) and peer 2; port 2 peer 1 (IPv6).
    ptp_bag_unicast_peer peers1[2] = {};
    peers1[0].PeerIndex = 1;
    peers1[0].Address = mib_ipv4(9);
    peers1[1].PeerIndex = 2;
    peers1[1].Address = mib_ipv4(10);
    ptp_if_unicast_peer_info ups{};
    ups.Name = "GigabitEthernet0/0/0/1";
    ups.internal_port_number = 1;
    ups.Peers = {2, peers1};
    test->agent(1, "/oper/ptp/unicast-peers/if/")
        .add("GigabitEthernet0/0/0/1", &ups, ptp_if_unicast_peer_info_bag_getfn());
    ptp_bag_unicast_peer peer2{};
    peer2.PeerIndex = 1;
    peer2.Address = mib_ipv6(2);
    ups.Name = "GigabitEthernet0/0/0/2";
    ups.internal_port_number = 2;
    ups.Peers = {1, &peer2};
    test->agent(1, "/oper/ptp/unicast-peers/if/")
        .add("GigabitEthernet0/0/0/2", &ups, ptp_if_unicast_peer_info_bag_getfn());

    // Packet counters: port 1 with its peers 1 and 2; port 2 without peer counters.
    ptp_bag_peer_packet_counters pc[2] = {};
    pc[0].PeerIndex = 1;
    pc[0].Counters.TotalPacketsSent = 11;
    pc[0].Counters.TotalPacketsReceived = 12;
    pc[0].Counters.TotalPacketsDropped = 13;
    pc[1].PeerIndex = 2;
    pc[1].Counters.TotalPacketsSent = 21;
    pc[1].Counters.TotalPacketsReceived = 22;
    pc[1].Counters.TotalPacketsDropped = 23;
    ptp_if_packet_counter_info counters{};
    counters.Name = "GigabitEthernet0/0/0/1";
    counters.internal_port_number = 1;
    counters.Counters.TotalPacketsSent = 100;
    counters.Counters.TotalPacketsReceived = 200;
    counters.PeerCounters = {2, pc};
    test->agent(1, "/oper/ptp/packet-counters/if/")
        .add("GigabitEthernet0/0/0/1", &counters, ptp_if_packet_counter_info_bag_getfn());
    counters = {};
    counters.Name = "GigabitEthernet0/0/0/2";
    counters.internal_port_number = 2;
    counters.Counters.TotalPacketsSent = 300;
    counters.Counters.TotalPacketsReceived = 400;
    test->agent(1, "/oper/ptp/packet-counters/if/")
        .add("GigabitEthernet0/0/0/2", &counters, ptp_if_packet_counter_info_bag_getfn());

    ptp_pd_mib_system_info_type info{};
    info.flags = PTP_PD_MIB_OFFSET_VALID | PTP_PD_MIB_DELAY_VALID;
    info.clock_status = PTP_PD_MIB_CLOCK_STATUS_PHASE_ALIGNED;
    info.offset_from_master_ns = -120;
    info.mean_path_delay_ns = 2500;
    ptp_pd_mib_test_set_system_info(0, info);
}

std::string mib_binding_text(const snmp_host_binding &b)
{
    std::string s = snmp_oid_text(b.name) + " = ";
    char buf[64];
    switch (b.value.type) {
    case SNMP_INTEGER_TYPE:
        snprintf(buf, sizeof buf, "INTEGER: %lld", static_cast<long long>(b.value.number));
        return s + buf;
    case SNMP_COUNTER_TYPE:
        snprintf(buf, sizeof buf, "Counter32: %lld", static_cast<long long>(b.value.number));
        return s + buf;
    case SNMP_GAUGE_TYPE:
        snprintf(buf, sizeof buf, "Gauge32: %lld", static_cast<long long>(b.value.number));
        return s + buf;
    case SNMP_COUNTER_64_TYPE:
        snprintf(buf, sizeof buf, "Counter64: %llu", static_cast<unsigned long long>(b.value.counter));
        return s + buf;
    case SNMP_OCTET_PRIM_TYPE: {
        bool printable = true;
        for (unsigned char c : b.value.bytes) {
            printable = printable && c >= 0x20 && c < 0x7f;
        }
        if (printable) {
            return s + "STRING: \"" + b.value.bytes + "\"";
        }
        s += "Hex-STRING:";
        for (unsigned char c : b.value.bytes) {
            snprintf(buf, sizeof buf, " %02X", c);
            s += buf;
        }
        return s;
    }
    default: return s + "NULL";
    }
}

std::string mib_walk(const snmp_oid_arcs &within)
{
    std::string out;
    snmp_oid_arcs name = within;
    for (int guard = 0; guard < 10000; ++guard) {
        snmp_host_binding b;
        if (snmp_host_getnext(name, &b) != SNMP_NO_ERROR) {
            break;
        }
        if (b.name.size() < within.size() || !std::equal(within.begin(), within.end(), b.name.begin())) {
            break;
        }
        EXPECT_LT(name, b.name) << "a walk must move on";
        out += mib_binding_text(b) + "\n";
        name = b.name;
    }
    return out;
}

void MibTest::SetUp()
{
    plat_clock_use_virtual();
    ptp_show_test_reset();
    ptp_pd_mib_test_reset();
    evm = event_create_manager(nullptr, nullptr, 0);
    ASSERT_NE(evm, nullptr);
    ASSERT_EQ(snmp_host_init(evm), 0u);
    ASSERT_EQ(snmp_host_follow_trap_config(), 0u);
}

ptp_show_provider &MibTest::agent(int node, const char *bind)
{
    const std::string key = std::to_string(node) + bind;
    for (auto &[k, p] : agents) {
        if (k == key) {
            return *p;
        }
    }
    agents.emplace_back(key, std::make_unique<ptp_show_provider>(bind));
    return *agents.back().second;
}

void MibTest::TearDown()
{
    agents.clear();
    for (const std::string &m : loaded) {
        (void)snmp_host_unload(m.c_str());
    }
    snmp_host_shutdown();
    evm_run_until_idle(evm);
    event_manager_destroy(evm);
    EXPECT_EQ(nodra_test_open_bindings(), 0u);
    nodra_test_reset();
    plat_clock_use_real();
}

void MibTest::settle()
{
    ASSERT_EQ(nodra_test_sync(evm), 0u);
    evm_run_until_idle(evm);
}

void MibTest::load(const char *module)
{
    ASSERT_EQ(snmp_host_load(mib_path(module), module), 0u);
    if (std::find(loaded.begin(), loaded.end(), module) == loaded.end()) {
        loaded.push_back(module);
    }
    settle();
}

void MibTest::unload(const char *module)
{
    ASSERT_EQ(snmp_host_unload(module), 0u);
    std::erase(loaded, std::string(module));
}

void MibTest::trap_enable(const char *item, const uint32_t *value)
{
    nodra_commit_td *commit = nullptr;
    ASSERT_EQ(nodra_commit_create(&commit), 0u);
    const std::string path = std::string("/cfg/gl/snmp/enable/traps/ptp/") + item;
    if (value != nullptr) {
        ASSERT_EQ(nodra_commit_set(commit, path.c_str(), NODRA_ITEM_DATATYPE_UINT32, value, 4), 0u);
    } else {
        ASSERT_EQ(nodra_commit_delete(commit, path.c_str()), 0u);
    }
    nodra_commit_result_td result;
    ASSERT_EQ(nodra_commit_apply(commit, &result), 0u);
    ASSERT_EQ(result.outcome, NODRA_COMMIT_RESULT_APPLIED);
    nodra_commit_free(commit);
    settle();
}

void MibTest::trap_enable_packed(const char *item, uint32_t mask, int32_t warning, int32_t critical)
{
    tuple_type *tuple = nullptr;
    ASSERT_EQ(tuple_pack_mask(&tuple, "%d%d", mask, warning, critical), 0u);
    nodra_commit_td *commit = nullptr;
    ASSERT_EQ(nodra_commit_create(&commit), 0u);
    const std::string path = std::string("/cfg/gl/snmp/enable/traps/ptp/") + item;
    ASSERT_EQ(nodra_commit_set(commit, path.c_str(), NODRA_ITEM_DATATYPE_PACKED, tuple, tuple_size(tuple)), 0u);
    tuple_free(tuple);
    nodra_commit_result_td result;
    ASSERT_EQ(nodra_commit_apply(commit, &result), 0u);
    nodra_commit_free(commit);
    settle();
}
