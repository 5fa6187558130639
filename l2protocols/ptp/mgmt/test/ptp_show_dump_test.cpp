// The interface and controller database dumps: a rich interface record and a two-node controller
// database whole against their golden texts, each section letter's selection (one golden text of
// the runs, each after its arguments), and the options' messages as a table.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
#include <string>
#include <vector>

#include "eth_encap.h"
#include "nodra_test.h"
#include "ptp_bags.h"
#include "ptp_show_fixture.h"
#include "ptp_show_utils.h"
#include "sysmgr_test.h"

namespace {

ptp_bag_address address_of(uint32_t encap, uint32_t last)
{
    ptp_bag_address a{};
    a.Encapsulation = static_cast<ptp_bag_encap>(encap);
    if (encap == PTP_BAG_ENCAP_Ethernet) {
        const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, static_cast<uint8_t>(last)};
        memcpy(a.value.MACAddress.macaddr, mac, 6);
    } else if (encap == PTP_BAG_ENCAP_IPv4) {
        a.value.IPv4Address = htonl(0xc0000200 | last);
    } else if (encap == PTP_BAG_ENCAP_IPv6) {
        uint8_t v6[16] = {0x20, 0x01, 0x0d, 0xb8};
        v6[15] = static_cast<uint8_t>(last);
        memcpy(a.value.IPv6Address.IPv6Address, v6, 16);
    }
    return a;
}

ptp_bag_clock clock_of(uint64_t id, uint8_t clock_class)
{
    ptp_bag_clock c{};
    c.ClockID = id;
    c.Priority1 = 100;
    c.Priority2 = 128;
    c.Class = clock_class;
    c.Accuracy = 0x21;
    c.OffsetLogVariance = 0x4e5d;
    c.StepsRemoved = 1;
    c.TimeSource = PTP_BAG_TIME_SOURCE_GPS;
    c.UTCOffset = {37, 1};
    c.FrequencyTraceable = 1;
    c.TimeTraceable = 1;
    c.Timescale = PTP_BAG_TIMESCALE_PTP;
    c.LeapSeconds = PTP_BAG_LEAP_SECONDS_Leap61;
    c.Receiver = {0x0a0b0cfffe0d0e0full, 0x0101};
    c.IsReceiverValid = 1;
    c.Sender = {id, 0x0001};
    c.IsSenderValid = 1;
    c.ConfiguredPriority = 128;
    return c;
}

// One IPv4 slave port with every section filled: addresses, flags, three configuration blocks
// with both tables, a known profile, two foreign masters (one its best and slaving master) and a
// unicast peer, with their offload sessions.
struct idb_fixture {
    uint32_t v4[2] = {htonl(0xc0000201), htonl(0x0a000001)};
    ptp_bag_ipv4_addr_list v4_list{{2, v4}};
    ptp_bag_ipv6_addr_list v6_list{};
    uint8_t master_priority = 7;
    uint32_t nonnegotiated = 1;
    ptp_bag_master_table_entry masters[3] = {};
    ptp_bag_slave_table_entry slaves[2] = {};
    ptp_bag_string profile_name = "telecom-slave";
    ptp_bag_idb_config profile{};
    ptp_bag_idb_config_flags profile_flags{};
    uint8_t rewrite[4] = {0x00, 0x1b, 0xab, 0xff};
    ptp_bag_idb_foreign_master_entry foreign[2] = {};
    ptp_bag_idb_unicast_peer_entry peers[1] = {};
    ptp_bag_proto_idb proto{};
    ptp_if_idb_info info{};

    ptp_bag_idb_config config_block(uint32_t base)
    {
        ptp_bag_idb_config c{};
        c.EncapsulationConfiguration = PTP_BAG_ENCAP_IPv4;
        c.LogAnnounceIntervalConfiguration = 1;
        c.AnnounceTimeoutConfiguration = 3;
        c.LogSyncIntervalConfiguration = static_cast<uint32_t>(-4);
        c.LogMinimumDelayRequestIntervalConfiguration = static_cast<uint32_t>(-4);
        c.PortStateConfiguration = PTP_BAG_RESTRICT_PORT_STATE_SlaveOnly;
        c.ClockOperationConfiguration.OneStep = base & 1;
        c.SourceIPConfiguration = {base & 1, htonl(0x0a000002)};
        c.COSConfiguration = 6;
        c.GeneralCOSConfiguration = 6;
        c.EventCOSConfiguration = 7;
        c.DSCPConfiguration = 46;
        c.GeneralDSCPConfiguration = 46;
        c.EventDSCPConfiguration = 48;
        c.IPv4TTLConfiguration = 1;
        c.IPv6HopLimitConfiguration = 1;
        c.DelayAsymmetryConfiguration = static_cast<int32_t>(base) * -250;
        c.TransportConfiguration = PTP_BAG_TRANSPORT_Unicast;
        c.AnnounceGrantDurationConfiguration = 300;
        c.SyncGrantDurationConfiguration = 300;
        c.DelayRespGrantDurationConfiguration = 300;
        c.DelayRespReceiveTimeoutConfiguration = 5000;
        c.DenyInvalidGrantsConfiguration = base & 1;
        c.SyncReceiveTimeoutConfiguration = 3000;
        return c;
    }

    idb_fixture()
    {
        masters[0].Address = address_of(PTP_BAG_ENCAP_IPv4, 1);
        masters[0].Priority = &master_priority;
        masters[0].IsNonnegotiated = &nonnegotiated;
        masters[1].Address = address_of(PTP_BAG_ENCAP_Ethernet, 2);
        masters[1].CommunicationModel = PTP_BAG_COMMUNICATION_MODEL_Multicast;
        masters[2].Address = address_of(PTP_BAG_ENCAP_IPv6, 3);
        masters[2].CommunicationModel = PTP_BAG_COMMUNICATION_MODEL_MixedMode;
        slaves[0].SlaveTableEntryAddress = address_of(PTP_BAG_ENCAP_IPv4, 20);
        slaves[1].SlaveTableEntryAddress = address_of(PTP_BAG_ENCAP_Ethernet, 21);
        slaves[1].IsNonnegotiated = &nonnegotiated;

        ptp_bag_ipc_idb &ipc = info.IPCThreadIDB;
        ipc.IPCThreadInterfaceName = "Gi0/1/0/1";
        ipc.IPCThreadInterfaceHandle = 0x01000101;
        ipc.IPCThreadInterfaceType = 15;
        ipc.IPCThreadLineState = 3;
        ipc.IPCThreadRegisteredEncap = PTP_BAG_ENCAP_IPv4;
        ipc.IPCThreadIPv4AddressList = &v4_list;
        ipc.IPCThreadIPv6AddressList = &v6_list;
        ipc.IPCThreadIPv4VRF = 0x60000000;
        ipc.IPCThreadIPv4AddressApplied = htonl(0xc0000201);
        ipc.IPCThreadFlagEnabled = ipc.IPCThreadFlagVRFIDKnown = ipc.IPCThreadFlagIPv4Registered = 1;
        ipc.IPCThreadFlagIMRegistered = ipc.IPCThreadFlagUpdateSyncInterval = ipc.IPCThreadFlagUpdateSlaveTable = 1;
        ipc.IPCThreadAppliedConfiguration = config_block(1);
        ipc.IPCThreadAppliedConfiguration.MasterTable = {3, masters};
        ipc.IPCThreadAppliedConfiguration.SlaveTable = {2, slaves};
        ipc.IPCThreadInterfaceConfiguration = config_block(2);
        ipc.IPCThreadInterfaceConfiguration.MasterTable = {1, masters};
        ipc.IPCThreadInterfaceConfigurationFlags.PortStateConfigurationSet = 1;
        ipc.IPCThreadInterfaceConfigurationFlags.EncapsulationConfigurationSet = 1;
        ipc.IPCThreadInterfaceConfigurationFlags.SyncIntervalConfigurationSet = 1;
        ipc.IPCThreadConfigurationProfileName = &profile_name;
        profile = config_block(3);
        profile_flags.MulticastConfigurationSet = profile_flags.DelayAsymmetryConfigurationSet = 1;
        ipc.IPCThreadProfileConfiguration = &profile;
        ipc.IPCThreadProfileConfigurationFlags = &profile_flags;
        ptp_bag_idb_plat_caps &caps = ipc.IPCThreadPlatformCapabilities;
        caps.SupportsUnicast = caps.SupportsMaster = caps.SupportsTwoStep = caps.SupportsEthernet = 1;
        caps.SupportsIPv4 = caps.SupportsSlave = 1;
        caps.LogSyncRate = 7;

        proto.proto_name = "Gi0/1/0/1";
        proto.proto_ifh = 0x01000101;
        proto.proto_port_num = 1;
        proto.proto_if_type = 15;
        proto.proto_im_state = 3;
        proto.proto_attached_encap = PTP_BAG_ENCAP_IPv4;
        proto.proto_ipv4_addr = htonl(0xc0000201);
        proto.proto_ipv4_vrf = 0x60000000;
        proto.proto_spio_attach_required = proto.proto_is_spio_attached = 1;
        proto.proto_flag_port_mgr_ready = proto.proto_flag_vrf_id_known = 1;
        proto.proto_config = config_block(1);
        proto.offload_entry = {1, 1, 0, 0, 1};

        ptp_bag_idb_foreign_master_entry &best = foreign[0];
        best.peer_addr = address_of(PTP_BAG_ENCAP_IPv4, 1);
        best.configured_priority = 7;
        best.configured_clock_class = 6;
        best.delay_asymmetry = -250;
        best.parent_port_id = {0x001122fffe334455ull, 1};
        best.master_clock = clock_of(0x001122fffe334455ull, 6);
        best.master_clock.UTCOffset = {-2, 1}; // below zero: printed signed
        best.is_priority_configured = best.is_in_ranked_list = best.is_slaving = best.is_listening = 1;
        best.transport = PTP_BAG_TRANSPORT_Unicast;
        best.is_fib_registered = best.is_fib_updated = 1;
        best.rewrite_str = {4, rewrite};
        best.announce_count = 3;
        best.announce_id_array[0] = 17;
        best.announce_id_array[1] = 18;
        best.sync_received = best.delay_resp_received = 1;
        best.signaling_id = 42;
        best.announce_grant_timer_running = best.sync_grant_timer_running = 1;
        best.delay_resp_grant_retry_timer_running = 1;
        best.announce_grant_duration = 300;
        best.LogAnnounceInterval = 1;
        best.sync_grant_duration = 300;
        best.LogSyncInterval = -4;
        best.delay_resp_grant_duration = 60;
        best.log_delay_resp_interval = -4;
        best.is_announce_granted = best.is_sync_granted = 1;
        best.delay_req_id = 99;
        best.is_sending_delay_req = best.is_handling_sync = 1;
        best.offload_entry = {1, 1, 1, 0, 1};
        ptp_bag_idb_foreign_master_entry &other = foreign[1];
        other.peer_addr = address_of(PTP_BAG_ENCAP_IPv6, 2);
        other.master_clock = clock_of(0x00aabbfffe000002ull, 7);
        other.master_clock.TimeSource = PTP_BAG_TIME_SOURCE_InternalOscillator;
        other.master_clock.Timescale = PTP_BAG_TIMESCALE_ARB;
        other.master_clock.LeapSeconds = PTP_BAG_LEAP_SECONDS_None;
        other.transport = PTP_BAG_TRANSPORT_MixedMode;
        other.ptsf_lossannounce = other.ptsf_losssync_sync = other.ptsf_losssync_delay_resp = 1;
        other.is_nonnegotiated = 1;

        ptp_bag_idb_unicast_peer_entry &p = peers[0];
        p.peer_addr = address_of(PTP_BAG_ENCAP_Ethernet, 50);
        p.peer_port_id = {0x0a0b0cfffe0d0e10ull, 2};
        p.peer_sequence_id = 5;
        p.chkpt_id = 12;
        p.announce_expiry_time = 1700000300; // 2023-11-14, 22:18:20
        p.announce_grant_timer_running = 1;
        p.announce_grant_duration = 300;
        p.log_announce_interval = 1;
        p.app_log_announce_interval = 1;
        p.sync_expiry_time = 1700000060;
        p.sync_grant_duration = 60;
        p.log_sync_interval = -6;
        p.app_log_sync_interval = -5;
        p.delay_resp_expiry_time = -1; // the last second a date of this field holds
        p.log_delay_resp_interval = -6;
        p.app_log_delay_resp_interval = -6;
        p.is_announce_granted = p.is_sync_granted = 1;
        p.is_delay_req_replying = p.is_fib_registered = 1;
        p.rewrite_str = {2, rewrite};
        p.offload_entry = {0, 1, 1, 1, 1}; // no session info: the rest is not shown

        ptp_bag_idb_fsm &f = proto.fsm;
        f.PortState = PTP_BAG_PORT_STATE_SLAVE;
        f.is_listening = 1;
        f.current_announce_id = 4;
        f.foreign_master_table = {2, foreign};
        f.is_best_master = 1;
        f.best_master_peer_addr = best.peer_addr;
        f.is_slaving_master = 1;
        f.slaving_master_peer_addr = best.peer_addr;
        f.announce_timeout_counter = 2;
        f.is_announce_timeout_running = f.announce_timer_running = f.sync_receive_timer_running = 1;
        f.delay_resp_receive_timer_running = f.is_slave_drrm_running = 1;
        f.looped_port_num = 3;
        f.last_looped_announce_id = 8;
        f.scheduled_function_fmc = 1;
        f.is_fsm_init = 1;
        f.is_unicast_grant_allowed = 1;
        f.unicast_peer_count = 1;
        f.unicast_peer_table = {1, peers};
        info.ProtocolThreadIDB = &proto;
    }
};

// The own node's two other records: an Ethernet port the protocol thread does not know yet, with
// its ether information, and an IPv6 port whose profile is not known, with empty tables.
struct idb_node_fixture {
    uint8_t ether[16] = {};
    ptp_bag_ipv6_addr v6[2] = {{{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
                               {{0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}}};
    ptp_bag_ipv6_addr_list v6_list{{2, v6}};
    ptp_bag_string profile_name = "later";
    ptp_bag_proto_idb proto{};
    ptp_if_idb_info eth{}, v6_if{};

    idb_node_fixture()
    {
        const uint8_t mac[6] = {0x00, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f};
        const uint32_t tags[1] = {0x81000064};
        const uint32_t ether_len = eth_encap_attr_build(mac, tags, 1, ether, sizeof ether);
        ptp_bag_ipc_idb &e = eth.IPCThreadIDB;
        e.IPCThreadInterfaceName = "Gi0/2/0/1";
        e.IPCThreadInterfaceHandle = 0x02000101;
        e.IPCThreadInterfaceType = 15;
        e.IPCThreadLineState = 1;
        e.IPCThreadRegisteredEncap = PTP_BAG_ENCAP_Ethernet;
        memcpy(e.IPCThreadMACAdress.macaddr, mac, 6);
        e.ether_info = {ether_len, reinterpret_cast<int8_t *>(ether)};
        e.IPCThreadFlagEnabled = e.IPCThreadFlagEtherInfoKnown = 1;
        e.IPCThreadAppliedConfiguration.EncapsulationConfiguration = PTP_BAG_ENCAP_Ethernet;
        e.IPCThreadInterfaceConfiguration.EncapsulationConfiguration = PTP_BAG_ENCAP_Ethernet;

        ptp_bag_ipc_idb &v = v6_if.IPCThreadIDB;
        v.IPCThreadInterfaceName = "Gi0/2/0/2";
        v.IPCThreadInterfaceHandle = 0x02000102;
        v.IPCThreadRegisteredEncap = PTP_BAG_ENCAP_IPv6;
        v.IPCThreadIPv6AddressList = &v6_list;
        memcpy(v.IPCThreadIPv6AddressApplied, v6[0].addr, 16);
        v.IPCThreadAppliedConfiguration.EncapsulationConfiguration = PTP_BAG_ENCAP_IPv6;
        v.IPCThreadAppliedConfiguration.SourceIPv6Configuration.Enable = 1;
        memcpy(v.IPCThreadAppliedConfiguration.SourceIPv6Configuration.SourceIPv6Address, v6[0].addr, 16);
        v.IPCThreadInterfaceConfiguration.EncapsulationConfiguration = PTP_BAG_ENCAP_IPv6;
        v.IPCThreadConfigurationProfileName = &profile_name;
        proto.proto_name = "Gi0/2/0/2";
        proto.proto_ifh = 0x02000102;
        proto.proto_attached_encap = PTP_BAG_ENCAP_IPv6;
        memcpy(proto.proto_ipv6_addr, v6[0].addr, 16);
        proto.proto_config.EncapsulationConfiguration = PTP_BAG_ENCAP_IPv6;
        proto.fsm.PortState = PTP_BAG_PORT_STATE_LISTEN;
        proto.fsm.is_best_master = 1;
        proto.fsm.best_master_peer_addr.Encapsulation = PTP_BAG_ENCAP_Unknown;
        proto.fsm.is_slaving_master = 1;
        proto.fsm.slaving_master_peer_addr.Encapsulation = PTP_BAG_ENCAP_Unknown;
        v6_if.ProtocolThreadIDB = &proto;
    }
};

TEST(ShowDumps, InterfaceRecords)
{
    ptp_show_test_reset();
    sysmgr_test_set_node(0x30);
    idb_fixture f;
    idb_node_fixture n;
    ptp_show_provider chassis("/oper/ptp/idb/if/"), own("/oper/ptp/node/30/idb/if/");
    chassis.add("Gi0/1/0/1", &f.info, ptp_if_idb_info_bag_getfn());
    own.add("Gi0/2/0/1", &n.eth, ptp_if_idb_info_bag_getfn());
    own.add("Gi0/2/0/2", &n.v6_if, ptp_if_idb_info_bag_getfn());
    ptp_show_expect_golden("idb.txt", ptp_show_run(ptp_show_idb_main, {"-i", "Gi0/1/0/1"}));
    // The own node's records with every flag, set or not.
    ptp_show_expect_golden("idb_node.txt", ptp_show_run(ptp_show_idb_main, {"-d"}));

    // Each letter's selection, over the rich record: a run's arguments and its whole output.
    const std::vector<std::vector<std::string>> selections = {
        {"-P"},                     // the profile of the IPC thread, the protocol thread in full
        {"-c", "-M"},               // the IPC misc alone
        {"-c", "-A"},               // the applied configuration alone
        {"-c", "-I"},               // the interface configuration, with its marks
        {"-c", "-P", "-M"},         // -P only clears "all": the misc is shown
        {"-c", "-A", "-I"},         // the first set section, in the fixed order
        {"-p", "-F"},               // the FSM alone
        {"-p", "-F", "-f"},         // its foreign-master table
        {"-p", "-F", "-u"},         // its unicast-peer table
        {"-p", "-m"},               // the protocol misc
        {"-p", "-C"},               // the protocol configuration
        {"-p", "-O"},               // every offload session
        {"-p", "-O", "-t"},         // the port's session without title
        {"-p", "-O", "-q"},         // the foreign masters' sessions
        {"-p", "-O", "-U"},         // the unicast peers' sessions
        {"-p", "-c", "-M"},         // the later of -p and -c
        {"-a", "-c", "-M"},         // the banner, and one level more
        {"-h", "0x30", "-c", "-M"}, // a record without a set flag has no "Flags:" title
    };
    std::string out;
    for (const std::vector<std::string> &args : selections) {
        std::vector<std::string> with_name = args;
        if (args[0] != "-a" && args[0] != "-h") {
            with_name.insert(with_name.end(), {"-i", "Gi0/1/0/1"});
        }
        out += "==";
        for (const std::string &a : with_name)
            out += " " + a;
        out += "\n" + ptp_show_run(ptp_show_idb_main, with_name);
    }
    ptp_show_expect_golden("idb_sections.txt", out);

    // The options' rules and messages; the rest of a run goes on with what was given.
    const std::string misc = ptp_show_run(ptp_show_idb_main, {"-c", "-M", "-i", "Gi0/1/0/1"});
    struct case_type {
        std::vector<std::string> args;
        std::string out;
    };
    const case_type cases[] = {
        {{"-i", "Gi0/1/0/1", "-h", "0x30"}, "Only one of interface or location must be specified\n"},
        {{"-h", "48", "-i", "Gi0/2/0/1"}, "Only one of interface or location must be specified\n"},
        {{"-i", "Gi0/9/9/9"}, ""},
        {{"-h", "0x31"}, ""},
        {{"-x", "-c", "-M", "-i", "Gi0/1/0/1"}, "Unknown argument 'x'\n" + misc},
        {{"-c", "-M", "-i", "Gi0/1/0/1", "-h"}, "Option 'h' missing argument\n" + misc},
    };
    for (const case_type &k : cases)
        EXPECT_EQ(ptp_show_run(ptp_show_idb_main, k.args), k.out) << k.args[0] << " " << k.args.back();
    ptp_show_store_garbage("/oper/ptp/node/31/idb/if/x");
    EXPECT_EQ(ptp_show_run(ptp_show_idb_main, {"-h", "0x31"}),
              "Failed to decode interface bag: " + ptp_show_decode_error_text() + "\n");
}

// Two nodes' controllers: the first with a grandmaster, a selection local clock, two ranked
// clocks and a holdover range; the second with none of them.
struct db_fixture {
    ptp_bag_clock gm = clock_of(0x001122fffe334455ull, 6);
    uint8_t vp_class = 7, vp_p2 = 20, vp_local = 3, vp_accuracy = 0x22;
    uint16_t vp_oslv = 0x4e5d;
    ptp_local_clock_info selection{};
    ptp_bag_bmc_clock ranked[2] = {};
    ptp_global_database_info first{}, second{};

    db_fixture()
    {
        first.GrandMasterClock = &gm;
        first.AdvertisedClock = gm;
        first.AdvertisedClock.StepsRemoved = 2;
        first.AdvertisedClock.ConfiguredPriority = 90;
        ptp_local_clock_info &local = first.LocalClock;
        local.LocalActive = 1;
        local.Domain = 24;
        local.ClockProperties = clock_of(0x0a0b0cfffe0d0e0full, 0);
        local.ClockProperties.Local = 1;
        local.ClockProperties.UTCOffset = {1, 0};
        local.ClockProperties.TimeSource = PTP_BAG_TIME_SOURCE_InternalOscillator;
        local.ClockProperties.Accuracy = 0xfe;
        local.VirtualPort = {1, 1, nullptr, &vp_p2, &vp_class, &vp_accuracy, &vp_oslv, &vp_local};
        selection = local;
        selection.VirtualPort = {1, 0, nullptr, &vp_p2, nullptr, nullptr, nullptr, nullptr};
        selection.ClockProperties.ConfiguredClockClass = 248;
        first.SelectionLocalClock = &selection;
        ranked[0] = {gm, 0x10, 0, 0x20, 5};
        ranked[1] = {clock_of(0x00aabbfffe000002ull, 7), 0x20, 0x10, 0, 6};
        ranked[1].ForeignClock.Timescale = PTP_BAG_TIMESCALE_ARB;
        first.BestForeignMasterClocks = {2, ranked};
        ptp_bag_global_bmc_info &b = first.GlobalBestMasterClockInfo;
        b.node_active = b.servo_started = b.servo_synced = b.gm_used_for_freq = b.gm_used_for_time = 1;
        b.gm_time_seconds = 1700000000;
        b.gm_time_nseconds = 123456789;
        b.advertized_time_seconds = 1700000001;
        b.advertized_time_nseconds = 5;
        b.gm_log_sync_rate = -4;
        b.gm_log_delay_req_rate = -4;
        b.gm_valid = 1;
        ptp_bag_global_config_info &c = first.GlobalConfigurationInfo;
        c.log_bmc_changes_set = 1;
        c.applied_config_counter = 12;
        c.is_enabled = c.any_successful_applies = 1;
        c.profile = PTP_BAG_PROFILE_G82751;
        c.is_profile_set = 1;
        c.telecom_clock_type = PTP_BAG_TELECOM_CLOCK_Boundary;
        c.clock_selection_mode = 1;
        c.clock_advertisement_mode = 2;
        c.domain = 24;
        c.clock_id = 0x0a0b0cfffe0d0e0full;
        c.clock_priority1 = 128;
        c.clock_priority2 = 128;
        c.clock_class = 248;
        c.freerun_clock_class = 248;
        c.is_freerun_clock_class_set = 1;
        c.uncalibrated_clock_class = 255;
        c.holdover_clock_class = 165;
        c.is_holdover_clock_class_set = 1;
        c.double_failure_clock_class = 248;
        c.holdover_duration = 3661;
        c.is_holdover_duration_set = 1;
        c.is_holdover_time_trace_override_set = 1;
        c.clock_timescale = 1;
        c.is_clock_timescale_set = 1;
        c.clock_time_source = 0xa0;
        c.freq_pri = 254;
        c.tod_pri = 100;
        c.servo_slow_tracking = 1000;
        c.verify_checksum = 1;
        ptp_bag_platform_info &p = first.PlatformCapabilititesInfo;
        p.servo_init_info = {1, 1};
        p.capability_init_info.version = PTP_BAG_PLATFORM_CAPABILITY_API_VersionTwo;
        p.capabilities.holdover_duration_min = 60;
        p.capabilities.holdover_duration_max = 86400;
        p.capabilities.supports_ptp = p.capabilities.supports_slave = p.capabilities.supports_leap_seconds = 1;
        p.capabilities.supports_profile = p.capabilities.supports_holdover_duration = 1;
        p.capabilities.int_clock_ql = {27, 49, 74};

        second.AdvertisedClock = clock_of(0x0a0b0cfffe0d0e20ull, 0);
        second.AdvertisedClock.ConfiguredPriority = 128;
        second.LocalClock.ClockProperties = second.AdvertisedClock;
        second.GlobalConfigurationInfo.clock_selection_mode = 7;
    }
};

chassis_desc_type two_nodes()
{
    chassis_desc_type desc;
    desc.nodes.resize(2);
    desc.nodes[0].name = "0/1/CPU0";
    desc.nodes[0].node_id = 0x10;
    desc.nodes[1].name = "0/RP0/CPU0";
    desc.nodes[1].node_id = 0x20;
    desc.nodes[1].is_rp = true;
    return desc;
}

TEST(ShowDumps, ControllerDatabase)
{
    ptp_show_test_reset();
    const chassis_desc_type desc = two_nodes();
    sysmgr_test_set_chassis(&desc);
    db_fixture f;
    ptp_show_store_bag("/oper/ptp/node/10/ctrlr-database", &f.first, ptp_global_database_info_bag_getfn());
    ptp_show_store_bag("/oper/ptp/node/20/ctrlr-database", &f.second, ptp_global_database_info_bag_getfn());
    // A node that runs the agent without a controller item shows nothing.
    ptp_summary_info summary{};
    ptp_show_store_bag("/oper/ptp/node/30/summary", &summary, ptp_summary_info_bag_getfn());
    ptp_show_expect_golden("controller_db.txt", ptp_show_run(ptp_show_controller_db_main, {}));

    const std::vector<std::vector<std::string>> selections = {
        {"-g"}, {"-a"},       {"-l"},       {"-b"},
        {"-G"}, {"-G", "-B"}, {"-G", "-C"}, {"-b", "-g"}, // the first set section, in the fixed order
        {"-B"}, // every section, the global information reduced to its BMC part
    };
    std::string out;
    for (const std::vector<std::string> &args : selections) {
        std::vector<std::string> first_node = args;
        first_node.insert(first_node.end(), {"-h", "0x10"});
        out += "==";
        for (const std::string &a : first_node)
            out += " " + a;
        out += "\n" + ptp_show_run(ptp_show_controller_db_main, first_node);
    }
    ptp_show_expect_golden("controller_db_sections.txt", out);

    const std::string second = ptp_show_run(ptp_show_controller_db_main, {"-g", "-h", "32"});
    struct case_type {
        std::vector<std::string> args;
        std::string out;
    };
    const case_type cases[] = {
        {{"-g", "-h", "0x20"}, second},
        {{"-h", "0x30"}, ""},
        {{"-x", "-g", "-h", "0x20"}, "Unknown argument 'x'\n" + second},
        {{"-g", "-h"}, "Option 'h' missing argument\n" + ptp_show_run(ptp_show_controller_db_main, {"-g"})},
        {{"-i", "x", "-g", "-h", "0x20"}, "Unknown argument 'i'\n" + second},
    };
    for (const case_type &k : cases)
        EXPECT_EQ(ptp_show_run(ptp_show_controller_db_main, k.args), k.out) << k.args[0] << " " << k.args.back();
    ptp_show_store_garbage("/oper/ptp/node/20/ctrlr-database");
    EXPECT_EQ(ptp_show_run(ptp_show_controller_db_main, {"-h", "0x20"}),
              "Failed to decode global database bag: " + ptp_show_decode_error_text() + "\n");
    sysmgr_test_reset();
}

} // namespace
