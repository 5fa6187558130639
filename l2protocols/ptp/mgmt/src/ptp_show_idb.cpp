// ptp_show_idb: the agent's records of one interface or of every interface, field by field: the
// IPC thread's record and the protocol thread's, with its state machine, foreign masters,
// unicast peers and offload sessions.
#include <arpa/inet.h>

#include "eth_encap.h"
#include "imc.h"
#include "ptp_bags.h"
#include "ptp_show_dump.h"
#include "ptp_show_utils.h"
#include "ptp_strings.h"

namespace {

// What the options ask for; each letter sets its own flag and clears its group's "all" flag.
struct idb_selection_type {
    bool ipc_thread, proto_thread;
    bool ipc_all, ipc_misc, ipc_applied, ipc_intf;
    bool proto_all, proto_misc, proto_config, proto_fsm, proto_offload;
    bool fsm_all, fsm_foreign_masters, fsm_unicast_peers;
    bool offload_all, offload_port, offload_foreign_masters, offload_unicast_peers;
    bool defaults; // -d: print flags that are not set as well
};
idb_selection_type sel;

void select_from_options()
{
    const auto on = ptp_show_flag;
    sel = {};
    // The thread is one choice: the later of -c and -p wins.
    const uint32_t c = ptp_show_options.seen['c'], p = ptp_show_options.seen['p'];
    sel.ipc_thread = c >= p;
    sel.proto_thread = p >= c;
    sel.ipc_misc = on('M');
    sel.ipc_applied = on('A');
    sel.ipc_intf = on('I');
    // -P sets no flag of its own: the profile configuration is what the IPC thread shows when the
    // "all" flag is clear and no other section was asked for.
    sel.ipc_all = !(on('M') || on('A') || on('I') || on('P'));
    sel.proto_misc = on('m');
    sel.proto_config = on('C');
    sel.proto_fsm = on('F');
    sel.proto_offload = on('O');
    sel.proto_all = !(on('m') || on('C') || on('F') || on('O'));
    sel.fsm_foreign_masters = on('f');
    sel.fsm_unicast_peers = on('u');
    sel.fsm_all = !(on('f') || on('u'));
    sel.offload_port = on('t');
    sel.offload_foreign_masters = on('q');
    sel.offload_unicast_peers = on('U');
    sel.offload_all = !(on('t') || on('q') || on('U'));
    sel.defaults = on('d');
}

using dump::fmt;
using dump::hex_bytes;
using dump::put;
using dump::tf;

const char *ipv4_text(uint32_t address)
{
    char *buf = ptp_show_get_str_buf();
    inet_ntop(AF_INET, &address, buf, PTP_SHOW_STR_BUF_SIZE);
    return buf;
}

const char *ipv6_text(const uint8_t address[16])
{
    char *buf = ptp_show_get_str_buf();
    inet_ntop(AF_INET6, address, buf, PTP_SHOW_STR_BUF_SIZE);
    return buf;
}

// A record's flags: "Flags:" and each flag one level deeper, the set ones only unless -d; nothing
// when none is set and -d was not given.
template <typename Record, size_t N>
void print_flags(uint32_t level, const Record &r, const dump::flag_type<Record> (&flags)[N])
{
    bool any = sel.defaults;
    for (const auto &f : flags)
        any = any || r.*f.member != 0;
    if (!any)
        return;
    put(level, "Flags:\n");
    for (const auto &f : flags)
        if (sel.defaults || r.*f.member != 0)
            put(level + 1, "%s = %s\n", f.name, tf(r.*f.member));
}

// ---- IPC thread -------------------------------------------------------------------------------

using ipc = ptp_bag_ipc_idb;
constexpr dump::flag_type<ipc> ipc_flags[] = {
    {"PTP enabled", &ipc::IPCThreadFlagEnabled},
    {"VRF-ID-Known", &ipc::IPCThreadFlagVRFIDKnown},
    {"Ether-Info-Known", &ipc::IPCThreadFlagEtherInfoKnown},
    {"IPv4-Registered", &ipc::IPCThreadFlagIPv4Registered},
    {"IPv6-Registered", &ipc::IPCThreadFlagIPv6Registered},
    {"IM-Registered", &ipc::IPCThreadFlagIMRegistered},
    {"Update-Create", &ipc::IPCThreadFlagUpdateCreated},
    {"Update-Delete", &ipc::IPCThreadFlagUpdateDeleted},
    {"Update-Interface-Handle", &ipc::IPCThreadFlagUpdateInterfaceHandle},
    {"Update-Interface-Type", &ipc::IPCThreadFlagUpdateInterfaceType},
    {"Update-Port-State", &ipc::IPCThreadFlagUpdatePortState},
    {"Update-IM-State", &ipc::IPCThreadFlagUpdateIMState},
    {"Update-Clock-Operation", &ipc::IPCThreadFlagUpdateClockOperation},
    {"Update-Transport", &ipc::IPCThreadFlagUpdateTransport},
    {"Update-Encap", &ipc::IPCThreadFlagUpdateEncap},
    {"Update-Ether-Info", &ipc::IPCThreadFlagUpdateEtherInfo},
    {"Update-IP-Address", &ipc::IPCThreadFlagUpdateIPAddress},
    {"Update-IPv6-Address", &ipc::IPCThreadFlagUpdateIPv6Address},
    {"Update-VRF-ID", &ipc::IPCThreadFlagUpdateVRFID},
    {"Update-Local-Priority", &ipc::IPCThreadFlagUpdateLocalPriority},
    {"Update-Announce-Interval", &ipc::IPCThreadFlagUpdateAnnounceInterval},
    {"Update-Announce-Grant-Duration", &ipc::IPCThreadFlagUpdateAnnounceGrantDuration},
    {"Update-Announce-Timeout", &ipc::IPCThreadFlagUpdateAnnounceTimeout},
    {"Update-Sync-Interval", &ipc::IPCThreadFlagUpdateSyncInterval},
    {"Update-Sync-Grant-Duration", &ipc::IPCThreadFlagUpdateSyncGrantDuration},
    {"Update-Sync-Receive-Timeout", &ipc::IPCThreadFlagUpdateSyncReceiveTimeout},
    {"Update-Delay-Resp-Min-Interval", &ipc::IPCThreadFlagUpdateDelayRespMinInterval},
    {"Update-Delay-Resp-Grant-Duration", &ipc::IPCThreadFlagUpdateDelayRespGrantDuration},
    {"Update-Delay-Resp-Receive-Timeout", &ipc::IPCThreadFlagUpdateDelayRespReceiveTimeout},
    {"Update-Grant-Reduce-Deny", &ipc::IPCThreadFlagUpdateGrantReduceDeny},
    {"Update-CoS", &ipc::IPCThreadFlagUpdateCOS},
    {"Update-DSCP", &ipc::IPCThreadFlagUpdateDSCP},
    {"Update-IPv4-TTL", &ipc::IPCThreadFlagUpdateIPv4TTL},
    {"Update-IPv6-Hop-Limit", &ipc::IPCThreadFlagUpdateIPv6HopLimit},
    {"Update-Delay-Asymmetry", &ipc::IPCThreadFlagUpdateDelayAsymmetry},
    {"Update-Master-Table", &ipc::IPCThreadFlagUpdateMasterTable},
    {"Update-Slave-Table", &ipc::IPCThreadFlagUpdateSlaveTable},
};

using caps = ptp_bag_idb_plat_caps;
constexpr dump::flag_type<caps> capabilities[] = {
    {"Supports unicast", &caps::SupportsUnicast},   {"Supports master", &caps::SupportsMaster},
    {"Supports one step", &caps::SupportsOneStep},  {"Supports two step", &caps::SupportsTwoStep},
    {"Supports ethernet", &caps::SupportsEthernet}, {"Supports multicast", &caps::SupportsMulticast},
    {"Supports ipv4", &caps::SupportsIPv4},         {"Supports ipv6", &caps::SupportsIPv6},
    {"Supports slave", &caps::SupportsSlave},       {"Supports source ip", &caps::SupportsSourceIP},
};

void print_ipc_misc(uint32_t level, const ipc &r)
{
    char text[PTP_SHOW_STR_BUF_SIZE];
    put(level, "%s = %s\n", "Interface Name", r.IPCThreadInterfaceName != nullptr ? r.IPCThreadInterfaceName : "");
    put(level, "%s = %#8.8x\n", "Interface Handle", r.IPCThreadInterfaceHandle);
    put(level, "%s = %s\n", "Interface Type", ptp_show_intf_type_to_str(r.IPCThreadInterfaceType, text, sizeof text));
    put(level, "%s = %s\n", "IM State", im_state_name(r.IPCThreadLineState));
    put(level, "%s = %s\n", "Registered encap", ptp_show_bag_encap_to_str(r.IPCThreadRegisteredEncap));
    switch (r.IPCThreadRegisteredEncap) {
    case PTP_BAG_ENCAP_IPv6: {
        const bag_array<ptp_bag_ipv6_addr> none{};
        const bag_array<ptp_bag_ipv6_addr> &list =
            r.IPCThreadIPv6AddressList != nullptr ? r.IPCThreadIPv6AddressList->AddrList : none;
        const auto *addresses = reinterpret_cast<const uint8_t(*)[16]>(list.array);
        put(level, "%s = %s\n", list.count > 1 ? "Interface IPv6 Addresses" : "Interface IPv6 Address",
            ptp_show_ipv6_addrs_to_str(list.count, addresses, text, sizeof text));
        put(level, "%s = %s\n", "Applied IPv6 Address", ipv6_text(r.IPCThreadIPv6AddressApplied));
        break;
    }
    case PTP_BAG_ENCAP_IPv4: {
        const bag_array<uint32_t> none{};
        const bag_array<uint32_t> &list =
            r.IPCThreadIPv4AddressList != nullptr ? r.IPCThreadIPv4AddressList->AddrList : none;
        put(level, "%s = %s\n", list.count > 1 ? "Interface IPv4 Addresses" : "Interface IPv4 Address",
            ptp_show_ipv4_addrs_to_str(list.count, list.array, text, sizeof text));
        put(level, "%s = %u\n", "IPv4 VRF table ID", r.IPCThreadIPv4VRF);
        put(level, "%s = %s\n", "Applied IPv4 Address", ipv4_text(r.IPCThreadIPv4AddressApplied));
        break;
    }
    case PTP_BAG_ENCAP_Ethernet: {
        put(level, "%s = %s\n", "MAC Address", ptp_show_mac_to_str(r.IPCThreadMACAdress.macaddr));
        const char *ether = eth_encap_attr_to_str(reinterpret_cast<const uint8_t *>(r.ether_info.array),
                                                  r.ether_info.count, text, sizeof text);
        put(level, "%s = %s\n", "Ether info", ether != nullptr ? ether : "None");
        break;
    }
    default: break;
    }
    print_flags(level, r, ipc_flags);
    printf("\n");
}

// ---- Configuration blocks ---------------------------------------------------------------------

using config = ptp_bag_idb_config;
using config_flags = ptp_bag_idb_config_flags;

struct config_line_type {
    const char *name;
    const char *(*value)(const config &);
    uint32_t config_flags::*set;
    uint32_t encap; // only for a block of this encapsulation (0 every block)
};

const char *source_ipv4_text(const config &c)
{
    return c.SourceIPConfiguration.Enable != 0 ? ipv4_text(c.SourceIPConfiguration.IPAddress) : "Disabled";
}

const char *source_ipv6_text(const config &c)
{
    return c.SourceIPv6Configuration.Enable != 0 ? ipv6_text(c.SourceIPv6Configuration.SourceIPv6Address) : "Disabled";
}

const char *seconds_signed(uint32_t v)
{
    return fmt("%d seconds", static_cast<int32_t>(v));
}

constexpr config_line_type config_lines[] = {
    {"Port state", [](const config &c) { return ptp_restrict_port_state_to_str(c.PortStateConfiguration); },
     &config_flags::PortStateConfigurationSet, 0},
    {"Clock-operation",
     [](const config &c) { return c.ClockOperationConfiguration.OneStep != 0 ? "One-step" : "Two-step"; },
     &config_flags::ClockOperationConfigurationSet, 0},
    {"Transport mode", [](const config &c) { return ptp_transport_to_str(c.TransportConfiguration); },
     &config_flags::MulticastConfigurationSet, 0},
    {"Encap", [](const config &c) { return ptp_address_encap_to_str(c.EncapsulationConfiguration); },
     &config_flags::EncapsulationConfigurationSet, 0},
    {"Source IPv6 address", source_ipv6_text, &config_flags::SourceIPv6ConfigurationSet, PTP_BAG_ENCAP_IPv6},
    {"Source IP address", source_ipv4_text, &config_flags::SourceIPConfigurationSet, PTP_BAG_ENCAP_IPv4},
    {"Log Announce interval", [](const config &c) { return seconds_signed(c.LogAnnounceIntervalConfiguration); },
     &config_flags::AnnounceIntervalConfigurationSet, 0},
    {"Announce Grant Duration", [](const config &c) { return fmt("%u seconds", c.AnnounceGrantDurationConfiguration); },
     &config_flags::AnnounceGrantDurationSet, 0},
    {"Announce timeout", [](const config &c) { return fmt("%u seconds", c.AnnounceTimeoutConfiguration); },
     &config_flags::AnnounceTimeoutConfigurationSet, 0},
    {"Log Sync interval", [](const config &c) { return seconds_signed(c.LogSyncIntervalConfiguration); },
     &config_flags::SyncIntervalConfigurationSet, 0},
    {"Sync Grant Duration", [](const config &c) { return fmt("%u seconds", c.SyncGrantDurationConfiguration); },
     &config_flags::SyncGrantDurationSet, 0},
    {"Sync Receive Timeout", [](const config &c) { return fmt("%u milliseconds", c.SyncReceiveTimeoutConfiguration); },
     &config_flags::SyncReceiveTimeoutSet, 0},
    {"Delay Resp Grant Duration",
     [](const config &c) { return fmt("%u seconds", c.DelayRespGrantDurationConfiguration); },
     &config_flags::DelayRespGrantDurationSet, 0},
    {"Delay Resp Receive Timeout",
     [](const config &c) { return fmt("%u milliseconds", c.DelayRespReceiveTimeoutConfiguration); },
     &config_flags::DelayRespReceiveTimeoutSet, 0},
    {"Log Min Delay Request interval",
     [](const config &c) { return seconds_signed(c.LogMinimumDelayRequestIntervalConfiguration); },
     &config_flags::MinimumDelayRequestIntervalConfigurationSet, 0},
    {"Deny Invalid Grants", [](const config &c) { return tf(c.DenyInvalidGrantsConfiguration); },
     &config_flags::DenyInvalidGrantsSet, 0},
    {"CoS", [](const config &c) { return fmt("%u", c.COSConfiguration); }, &config_flags::COSConfigurationSet, 0},
    {"General CoS", [](const config &c) { return fmt("%u", c.GeneralCOSConfiguration); },
     &config_flags::GeneralCOSConfigurationSet, 0},
    {"Event CoS", [](const config &c) { return fmt("%u", c.EventCOSConfiguration); },
     &config_flags::EventCOSConfigurationSet, 0},
    {"DSCP", [](const config &c) { return fmt("%u", c.DSCPConfiguration); }, &config_flags::DSCPConfigurationSet, 0},
    {"General DSCP", [](const config &c) { return fmt("%u", c.GeneralDSCPConfiguration); },
     &config_flags::GeneralDSCPConfigurationSet, 0},
    {"Event DSCP", [](const config &c) { return fmt("%u", c.EventDSCPConfiguration); },
     &config_flags::EventDSCPConfigurationSet, 0},
    {"IPv4 TTL", [](const config &c) { return fmt("%u", c.IPv4TTLConfiguration); },
     &config_flags::IPv4TTLConfigurationSet, 0},
    {"IPv6 Hop Limit", [](const config &c) { return fmt("%u", c.IPv6HopLimitConfiguration); },
     &config_flags::IPv6HopLimitConfigurationSet, 0},
    {"Delay Asymmetry", [](const config &c) { return ptp_delay_asymmetry_to_str(c.DelayAsymmetryConfiguration); },
     &config_flags::DelayAsymmetryConfigurationSet, 0},
};

// "MAC-address x", "IPv4-address x" or "IPv6-address x".
const char *table_address_text(const ptp_bag_address &a)
{
    const char *kind = a.Encapsulation == PTP_BAG_ENCAP_Ethernet ? "MAC"
                       : a.Encapsulation == PTP_BAG_ENCAP_IPv4   ? "IPv4"
                                                                 : "IPv6";
    return fmt("%s-address %s", kind, ptp_show_bag_address_to_str(a));
}

void print_nonnegotiated(const uint32_t *nonnegotiated)
{
    if (nonnegotiated != nullptr)
        printf(", non-negotiated unicast set: %s", tf(*nonnegotiated));
    else
        printf(", non-negotiated unicast not set");
}

// A configuration block; flags gives the set-marks, none for a block without them.
void print_config(uint32_t level, const config &c, const config_flags *flags)
{
    for (const config_line_type &l : config_lines) {
        if (l.encap != 0 && l.encap != c.EncapsulationConfiguration)
            continue;
        put(level, "%s = %s %s\n", l.name, l.value(c), flags != nullptr ? ptp_show_set_to_str(flags->*l.set) : "");
    }
    put(level, "Master table:\n");
    for (uint32_t i = 0; i < c.MasterTable.count; ++i) {
        const ptp_bag_master_table_entry &m = c.MasterTable.array[i];
        put(level + 1, "%s: ", table_address_text(m.Address));
        if (m.Priority != nullptr)
            printf("priority %u", *m.Priority);
        else
            printf("priority not set");
        printf(", %s", ptp_transport_to_str(m.CommunicationModel));
        print_nonnegotiated(m.IsNonnegotiated);
        printf("\n");
    }
    if (c.MasterTable.count == 0)
        put(level + 1, "No masters configured\n");
    put(level, "Slave table:\n");
    for (uint32_t i = 0; i < c.SlaveTable.count; ++i) {
        const ptp_bag_slave_table_entry &s = c.SlaveTable.array[i];
        put(level + 1, "%s", table_address_text(s.SlaveTableEntryAddress));
        print_nonnegotiated(s.IsNonnegotiated);
        printf("\n");
    }
    if (c.SlaveTable.count == 0)
        put(level + 1, "No slaves configured\n");
    printf("\n");
}

void print_ipc_capabilities(uint32_t level, const ipc &r)
{
    const caps &c = r.IPCThreadPlatformCapabilities;
    for (const auto &f : capabilities)
        put(level, "%s = %s\n", f.name, c.*f.member != 0 ? "YES" : "NO");
    put(level, "%s = %u\n", "Log Max Sync Packet Rate", c.LogSyncRate);
}

void print_ipc_profile(uint32_t level, const ipc &r)
{
    if (r.IPCThreadConfigurationProfileName == nullptr || *r.IPCThreadConfigurationProfileName == nullptr) {
        put(level, "No Profile configuration set\n");
        printf("\n");
        return;
    }
    const bool known = r.IPCThreadProfileConfiguration != nullptr;
    put(level, "Profile name: %s %s\n", *r.IPCThreadConfigurationProfileName, known ? "" : "(forward referenced)");
    if (known) {
        static const config_flags none{};
        print_config(level, *r.IPCThreadProfileConfiguration,
                     r.IPCThreadProfileConfigurationFlags != nullptr ? r.IPCThreadProfileConfigurationFlags : &none);
    }
}

void print_ipc(uint32_t level, const ipc &r)
{
    if (!sel.ipc_all) {
        if (sel.ipc_misc)
            print_ipc_misc(level, r);
        else if (sel.ipc_applied)
            print_config(level, r.IPCThreadAppliedConfiguration, nullptr);
        else if (sel.ipc_intf)
            print_config(level, r.IPCThreadInterfaceConfiguration, &r.IPCThreadInterfaceConfigurationFlags);
        else
            print_ipc_profile(level, r);
        return;
    }
    put(level, "Miscellaneous:\n");
    print_ipc_misc(level + 1, r);
    put(level, "Applied configuration:\n");
    print_config(level + 1, r.IPCThreadAppliedConfiguration, nullptr);
    put(level, "Interface configuration:\n");
    print_config(level + 1, r.IPCThreadInterfaceConfiguration, &r.IPCThreadInterfaceConfigurationFlags);
    put(level, "Platform capabilities:\n");
    print_ipc_capabilities(level + 1, r);
    put(level, "Profile configuration:\n");
    print_ipc_profile(level + 1, r);
}

// ---- Protocol thread --------------------------------------------------------------------------

using proto = ptp_bag_proto_idb;
constexpr dump::flag_type<proto> proto_flags[] = {
    {"Port-Manager-Mark", &proto::proto_flag_port_mgr_mark},
    {"Port-Manager-Ready", &proto::proto_flag_port_mgr_ready},
    {"Ether-Info-Known", &proto::proto_flag_ether_info_known},
    {"VRF-ID-Known", &proto::proto_flag_vrf_id_known},
    {"Port-Number-Mark", &proto::proto_flag_port_num_mark},
};

void print_proto_misc(uint32_t level, const proto &r)
{
    char text[PTP_SHOW_STR_BUF_SIZE];
    put(level, "%s = %s\n", "Interface Name", r.proto_name != nullptr ? r.proto_name : "");
    put(level, "%s = %#8.8x\n", "Interface Handle", r.proto_ifh);
    put(level, "%s = %u\n", "Port number", r.proto_port_num);
    put(level, "%s = %s\n", "Interface Type", ptp_show_intf_type_to_str(r.proto_if_type, text, sizeof text));
    put(level, "%s = %s\n", "IM State", im_state_name(r.proto_im_state));
    put(level, "%s = %s\n", "Attached Encap", ptp_show_bag_encap_to_str(r.proto_attached_encap));
    if (r.proto_attached_encap == PTP_BAG_ENCAP_IPv6) {
        put(level, "%s = %s\n", "IPv6 Address", ipv6_text(r.proto_ipv6_addr));
    } else if (r.proto_attached_encap == PTP_BAG_ENCAP_IPv4) {
        put(level, "%s = %s\n", "IPv4 Address", ipv4_text(r.proto_ipv4_addr));
        put(level, "%s = %u\n", "IPv4 VRF table ID", r.proto_ipv4_vrf);
    } else if (r.proto_attached_encap == PTP_BAG_ENCAP_Ethernet) {
        put(level, "%s = %s\n", "MAC Address", ptp_show_mac_to_str(r.proto_mac_addr.macaddr));
    }
    put(level, "%s = %s\n", "Is SPIO attach required", tf(r.proto_spio_attach_required));
    put(level, "%s = %s\n", "Is SPIO attached", tf(r.proto_is_spio_attached));
    print_flags(level, r, proto_flags);
    printf("\n");
}

using fsm = ptp_bag_idb_fsm;

// "<what> IPv6-address = x" and so on, for the best and the slaving master.
void print_master_address(uint32_t level, const char *what, const ptp_bag_address &a)
{
    switch (a.Encapsulation) {
    case PTP_BAG_ENCAP_IPv6: put(level, "%s IPv6-address = %s\n", what, ptp_show_bag_address_to_str(a)); break;
    case PTP_BAG_ENCAP_IPv4: put(level, "%s IPv4-address = %s\n", what, ptp_show_bag_address_to_str(a)); break;
    case PTP_BAG_ENCAP_Ethernet: put(level, "%s MAC-address = %s\n", what, ptp_show_bag_address_to_str(a)); break;
    default: break;
    }
}

constexpr dump::line_type<fsm> fsm_timer_lines[] = {
    {"Current Announce ID", [](const fsm &f) { return fmt("%u", f.current_announce_id); }},
    {"Announce timeout counter", [](const fsm &f) { return fmt("%u", f.announce_timeout_counter); }},
    {"Is announce timeout running", [](const fsm &f) { return tf(f.is_announce_timeout_running); }},
    {"Announce timer running", [](const fsm &f) { return tf(f.announce_timer_running); }},
    {"Is sending multicast announce", [](const fsm &f) { return tf(f.is_sending_multicast_announce); }},
    {"Sync Receive timer running", [](const fsm &f) { return tf(f.sync_receive_timer_running); }},
    {"Sync timer running", [](const fsm &f) { return tf(f.sync_timer_running); }},
    {"Delay Resp Receive timer running", [](const fsm &f) { return tf(f.delay_resp_receive_timer_running); }},
    {"Qualification timer running", [](const fsm &f) { return tf(f.qualification_timer_running); }},
    {"Looped port num", [](const fsm &f) { return fmt("%u", f.looped_port_num); }},
    {"Last looped announce id", [](const fsm &f) { return fmt("%u", f.last_looped_announce_id); }},
    {"Is Master DRRM running", [](const fsm &f) { return tf(f.is_master_drrm_running); }},
    {"Is Slave DRRM running", [](const fsm &f) { return tf(f.is_slave_drrm_running); }},
};

void print_fsm_state(uint32_t level, const fsm &f)
{
    const char *state = ptp_port_state_to_str(f.PortState);
    put(level, "%s = %s\n", "Port state", state != nullptr && *state != '\0' ? state : "<Empty>");
    put(level, "%s = %s\n", "Is held passive", tf(f.is_held_passive));
    put(level, "%s = %s\n", "Is listening", tf(f.is_listening));
    put(level, "%s = %s\n", "Is best master", tf(f.is_best_master));
    if (f.is_best_master != 0) {
        const uint32_t encap = f.best_master_peer_addr.Encapsulation;
        if (encap >= PTP_BAG_ENCAP_Ethernet && encap <= PTP_BAG_ENCAP_IPv6)
            print_master_address(level, "Best master", f.best_master_peer_addr);
        else
            put(level, "%s = %d\n", "Unknown encap", static_cast<int32_t>(encap));
    }
    put(level, "%s = %s\n", "Is slaving master", tf(f.is_slaving_master));
    if (f.is_slaving_master != 0) {
        const uint32_t encap = f.slaving_master_peer_addr.Encapsulation;
        if (encap == 0)
            put(level, "Slaving master encap unknown\n");
        else if (encap > PTP_BAG_ENCAP_IPv6)
            put(level, "Slaving master encap invalid\n");
        else
            print_master_address(level, "Slaving master", f.slaving_master_peer_addr);
    }
    dump::print_lines(level, f, fsm_timer_lines);
    put(level, "Scheduled functions:\n");
    if (f.scheduled_function_fmc != 0 || sel.defaults)
        put(level + 1, "%s = %s\n", "Best foreign master callback", tf(f.scheduled_function_fmc));
    else
        put(level + 1, "None\n");
    put(level, "%s = %s\n", "Is FSM initialised", tf(f.is_fsm_init));
    put(level, "%s = %s\n", "Is FSM locked", tf(f.is_locked));
}

// "Peer IPV6-address", as the foreign-master table spells it, and the unicast peers' "Peer IPv6
// address".
void print_peer_address(uint32_t level, const ptp_bag_address &a, const char *ipv6_label)
{
    switch (a.Encapsulation) {
    case PTP_BAG_ENCAP_IPv6: put(level, "%s = %s\n", ipv6_label, ptp_show_bag_address_to_str(a)); break;
    case PTP_BAG_ENCAP_IPv4: put(level, "%s = %s\n", "Peer IPv4-address", ptp_show_bag_address_to_str(a)); break;
    case PTP_BAG_ENCAP_Ethernet: put(level, "%s = %s\n", "Peer MAC-address", ptp_show_bag_address_to_str(a)); break;
    default: break;
    }
}

using fm = ptp_bag_idb_foreign_master_entry;
constexpr dump::line_type<fm> foreign_master_lines[] = {
    {"Rewrite string length", [](const fm &m) { return fmt("%u", m.rewrite_str.length); }},
    {"Rewrite string", [](const fm &m) { return hex_bytes(m.rewrite_str); }},
    {"Is registered with FIB", [](const fm &m) { return tf(m.is_fib_registered); }},
    {"Has received update from FIB", [](const fm &m) { return tf(m.is_fib_updated); }},
    {"Parent clock ID", [](const fm &m) { return fmt("0x%lx", static_cast<unsigned long>(m.parent_port_id.ClockID)); }},
    {"Parent port num", [](const fm &m) { return fmt("0x%x", m.parent_port_id.PortNumber); }},
    {"Sender clock ID",
     [](const fm &m) { return fmt("0x%lx", static_cast<unsigned long>(m.master_clock.Sender.ClockID)); }},
    {"Sender port num", [](const fm &m) { return fmt("0x%x", m.master_clock.Sender.PortNumber); }},
    {"Receiver clock ID",
     [](const fm &m) { return fmt("0x%lx", static_cast<unsigned long>(m.master_clock.Receiver.ClockID)); }},
    {"Receiver port num", [](const fm &m) { return fmt("0x%x", m.master_clock.Receiver.PortNumber); }},
    {"Clock ID", [](const fm &m) { return fmt("0x%lx", static_cast<unsigned long>(m.master_clock.ClockID)); }},
    {"Configured priority", [](const fm &m) { return fmt("%u", m.configured_priority); }},
    {"Configured clock class", [](const fm &m) { return fmt("%u", m.configured_clock_class); }},
    {"Configured delay asymmetry", [](const fm &m) { return fmt("%d", m.delay_asymmetry); }},
    {"Priority1", [](const fm &m) { return fmt("%u", m.master_clock.Priority1); }},
    {"Priority2", [](const fm &m) { return fmt("%u", m.master_clock.Priority2); }},
    {"Clock Class", [](const fm &m) { return fmt("%u", m.master_clock.Class); }},
    {"Clock Accuracy", [](const fm &m) { return ptp_clock_accuracy_to_str(m.master_clock.Accuracy); }},
    {"Transport mode", [](const fm &m) { return ptp_transport_to_str(m.transport); }},
    {"OSLV", [](const fm &m) { return fmt("0x%x", m.master_clock.OffsetLogVariance); }},
    {"Time source", [](const fm &m) { return ptp_show_bag_timesource_to_str(m.master_clock.TimeSource); }},
    {"Timescale", [](const fm &m) { return ptp_clock_timescale_to_str(m.master_clock.Timescale); }},
    {"Steps removed", [](const fm &m) { return fmt("%u", m.master_clock.StepsRemoved); }},
    // Signed: an offset below zero is not four thousand million seconds.
    {"Current UTC offset", [](const fm &m) { return fmt("%d seconds", m.master_clock.UTCOffset.CurrentOffset); }},
    {"Is offset valid", [](const fm &m) { return tf(m.master_clock.UTCOffset.OffsetValid); }},
    {"Leap seconds", [](const fm &m) { return ptp_leap_second_to_str(m.master_clock.LeapSeconds); }},
    {"Is frequency traceable", [](const fm &m) { return tf(m.master_clock.FrequencyTraceable); }},
    {"Is time traceable", [](const fm &m) { return tf(m.master_clock.TimeTraceable); }},
    {"Is local", [](const fm &m) { return tf(m.master_clock.Local); }},
    {"Is priority configured", [](const fm &m) { return tf(m.is_priority_configured); }},
    {"Is clock class configured", [](const fm &m) { return tf(m.is_clock_class_configured); }},
    {"Is in ranked list", [](const fm &m) { return tf(m.is_in_ranked_list); }},
    {"Is slaving", [](const fm &m) { return tf(m.is_slaving); }},
    {"Is listening", [](const fm &m) { return tf(m.is_listening); }},
    {"Is resync pending", [](const fm &m) { return tf(m.is_resync_pending); }},
    {"Signaling ID", [](const fm &m) { return fmt("%u", m.signaling_id); }},
    {"Is Announce granted", [](const fm &m) { return tf(m.is_announce_granted); }},
    {"Announce count", [](const fm &m) { return fmt("%u", m.announce_count); }},
    {"Announce ID", [](const fm &m) { return fmt("%u", m.announce_id_array[0]); }},
    {"Announce ID", [](const fm &m) { return fmt("%u", m.announce_id_array[1]); }},
    {"Announce grant duration", [](const fm &m) { return fmt("%u seconds", m.announce_grant_duration); }},
    {"Log Announce interval", [](const fm &m) { return fmt("%d seconds", m.LogAnnounceInterval); }},
    {"Is Announce grant timer running", [](const fm &m) { return tf(m.announce_grant_timer_running); }},
    {"Is Announce grant retry timer running", [](const fm &m) { return tf(m.announce_grant_retry_timer_running); }},
    {"Is Sync granted", [](const fm &m) { return tf(m.is_sync_granted); }},
    {"Sync Received", [](const fm &m) { return tf(m.sync_received); }},
    {"Sync grant duration", [](const fm &m) { return fmt("%u", m.sync_grant_duration); }},
    {"Log Sync interval", [](const fm &m) { return fmt("%d", m.LogSyncInterval); }},
    {"Is Sync grant timer running", [](const fm &m) { return tf(m.sync_grant_timer_running); }},
    {"Is Sync grant retry timer running", [](const fm &m) { return tf(m.sync_grant_retry_timer_running); }},
    {"Is handling Sync", [](const fm &m) { return tf(m.is_handling_sync); }},
    {"Is Delay Resp granted", [](const fm &m) { return tf(m.is_delay_resp_granted); }},
    {"Delay Req ID", [](const fm &m) { return fmt("%u", m.delay_req_id); }},
    {"Delay Resp Received", [](const fm &m) { return tf(m.delay_resp_received); }},
    {"Delay Resp grant duration", [](const fm &m) { return fmt("%u", m.delay_resp_grant_duration); }},
    {"Log Delay Resp interval", [](const fm &m) { return fmt("%d", m.log_delay_resp_interval); }},
    {"Is Delay Resp grant timer running", [](const fm &m) { return tf(m.delay_resp_grant_timer_running); }},
    {"Is Delay Resp grant retry timer running", [](const fm &m) { return tf(m.delay_resp_grant_retry_timer_running); }},
    {"Is sending Delay Req", [](const fm &m) { return tf(m.is_sending_delay_req); }},
    {"PTSF Loss Announce", [](const fm &m) { return tf(m.ptsf_lossannounce); }},
    {"PTSF Loss Sync", [](const fm &m) { return tf(m.ptsf_losssync_sync); }},
    {"PTSF Loss Sync Delay Response", [](const fm &m) { return tf(m.ptsf_losssync_delay_resp); }},
    {"Is Non-negotiated", [](const fm &m) { return tf(m.is_nonnegotiated); }},
};

void print_foreign_masters(uint32_t level, const fsm &f)
{
    const uint32_t n = f.foreign_master_table.count;
    put(level, "%s = %u\n", "Foreign Master count", n);
    for (uint32_t i = 0; i < n; ++i) {
        const fm &m = f.foreign_master_table.array[i];
        put(level, "Master %u of %u:\n", i + 1, n);
        print_peer_address(level + 1, m.peer_addr, "Peer IPV6-address");
        dump::print_lines(level + 1, m, foreign_master_lines);
    }
    if (n == 0)
        put(level, "No foreign masters set\n");
}

using peer = ptp_bag_idb_unicast_peer_entry;

// The expiry time as wall-clock seconds; "<Empty>" when it cannot be converted.
const char *expiry_text(int32_t expiry)
{
    const char *text = ptp_show_timestamp_to_str(static_cast<uint32_t>(expiry), nullptr);
    return *text != '\0' ? text : "<Empty>";
}

// The six lines of one message type's grant; the requested interval is the one the peer asked
// for and was granted.
#define PTP_SHOW_IDB_GRANT_LINES(Name, prefix, log_field, applied_field)                                               \
    {Name " expiry time", [](const peer &p) { return expiry_text(p.prefix##_expiry_time); }},                          \
        {Name " grant timer running", [](const peer &p) { return tf(p.prefix##_grant_timer_running); }},               \
        {Name " grant duration", [](const peer &p) { return fmt("%u", p.prefix##_grant_duration); }},                  \
        {"Requested Log " Name " interval", [](const peer &p) { return fmt("%d", p.log_field); }},                     \
        {"Applied Log " Name " interval", [](const peer &p) { return fmt("%d seconds", p.applied_field); }},           \
    {                                                                                                                  \
        "Is " Name " granted", [](const peer &p) { return tf(p.is_##prefix##_granted); }                               \
    }

constexpr dump::line_type<peer> unicast_peer_lines[] = {
    {"Peer clock ID", [](const peer &p) { return fmt("0x%lx", static_cast<unsigned long>(p.peer_port_id.ClockID)); }},
    {"Peer port num", [](const peer &p) { return fmt("%u", p.peer_port_id.PortNumber); }},
    {"Peer sequence ID", [](const peer &p) { return fmt("%u", p.peer_sequence_id); }},
    {"Chkpt ID", [](const peer &p) { return fmt("%u", p.chkpt_id); }},
    PTP_SHOW_IDB_GRANT_LINES("Announce", announce, log_announce_interval, app_log_announce_interval),
    PTP_SHOW_IDB_GRANT_LINES("Sync", sync, log_sync_interval, app_log_sync_interval),
    PTP_SHOW_IDB_GRANT_LINES("Delay Resp", delay_resp, log_delay_resp_interval, app_log_delay_resp_interval),
    {"Is Delay Req replying", [](const peer &p) { return tf(p.is_delay_req_replying); }},
    {"Is resync pending", [](const peer &p) { return tf(p.is_resync_pending); }},
    {"Is Non-negotiated", [](const peer &p) { return tf(p.is_nonnegotiated); }},
    {"Rewrite string length", [](const peer &p) { return fmt("%u", p.rewrite_str.length); }},
    {"Rewrite string", [](const peer &p) { return hex_bytes(p.rewrite_str); }},
    {"Is registered with FIB", [](const peer &p) { return tf(p.is_fib_registered); }},
    {"Has received update from FIB", [](const peer &p) { return tf(p.is_fib_updated); }},
};
#undef PTP_SHOW_IDB_GRANT_LINES

void print_unicast_peers(uint32_t level, const fsm &f)
{
    put(level, "%s = %s\n", "Is unicast grant allowed", tf(f.is_unicast_grant_allowed));
    put(level, "%s = %u\n", "Unicast peer count", f.unicast_peer_count);
    const uint32_t n = f.unicast_peer_table.count;
    for (uint32_t i = 0; i < n; ++i) {
        const peer &p = f.unicast_peer_table.array[i];
        put(level, "Unicast peer %u of %u:\n", i + 1, n);
        print_peer_address(level + 1, p.peer_addr, "Peer IPv6 address");
        dump::print_lines(level + 1, p, unicast_peer_lines);
    }
    if (n == 0)
        put(level, "No unicast peers set\n");
}

void print_fsm(uint32_t level, const fsm &f)
{
    if (sel.fsm_all)
        print_fsm_state(level, f);
    if (sel.fsm_all || sel.fsm_foreign_masters)
        print_foreign_masters(level, f);
    if (sel.fsm_all || sel.fsm_unicast_peers)
        print_unicast_peers(level, f);
    printf("\n");
}

void print_session(uint32_t level, const ptp_bag_idb_offload_entry &s)
{
    put(level, "%s = %s\n", "Offload session info exists", tf(s.session_entry_exists));
    if (s.session_entry_exists != 0) {
        put(level, "%s = %s\n", "Offload session exists", tf(s.session_exists));
        put(level, "%s = %s\n", "Offload create/update pending", tf(s.create_update_pending));
        put(level, "%s = %s\n", "Offload delete pending", tf(s.delete_pending));
        put(level, "%s = %s\n", "On offload update list", tf(s.on_update_list));
    }
    printf("\n");
}

void print_foreign_master_sessions(uint32_t level, const fsm &f)
{
    const uint32_t n = f.foreign_master_table.count;
    for (uint32_t i = 0; i < n; ++i) {
        put(level, "Foreign Master %u of %u session:\n", i + 1, n);
        print_session(level + 1, f.foreign_master_table.array[i].offload_entry);
    }
    if (n == 0) {
        put(level, "No Foreign Masters\n");
        printf("\n");
    }
}

void print_unicast_peer_sessions(uint32_t level, const fsm &f)
{
    const uint32_t n = f.unicast_peer_table.count;
    for (uint32_t i = 0; i < n; ++i) {
        put(level, "Unicast Peer %u of %u session:\n", i + 1, n);
        print_session(level + 1, f.unicast_peer_table.array[i].offload_entry);
    }
    if (n == 0) {
        put(level, "No Unicast Peers\n");
        printf("\n");
    }
}

void print_offload(uint32_t level, const proto &r)
{
    if (sel.offload_all) {
        put(level, "Protocol Thread session:\n");
        print_session(level + 1, r.offload_entry);
        print_foreign_master_sessions(level, r.fsm);
        print_unicast_peer_sessions(level, r.fsm);
    } else if (sel.offload_port) {
        print_session(level, r.offload_entry);
    } else if (sel.offload_foreign_masters) {
        print_foreign_master_sessions(level, r.fsm);
    } else {
        print_unicast_peer_sessions(level, r.fsm);
    }
}

void print_proto(uint32_t level, const proto &r)
{
    if (!sel.proto_all) {
        if (sel.proto_misc)
            print_proto_misc(level, r);
        else if (sel.proto_config)
            print_config(level, r.proto_config, nullptr);
        else if (sel.proto_fsm)
            print_fsm(level, r.fsm);
        else
            print_offload(level, r);
        return;
    }
    put(level, "Miscellaneous:\n");
    print_proto_misc(level + 1, r);
    put(level, "Configuration:\n");
    print_config(level + 1, r.proto_config, nullptr);
    put(level, "FSM:\n");
    print_fsm(level + 1, r.fsm);
    put(level, "Offload Sessions:\n");
    print_offload(level + 1, r);
}

void print_heading(uint32_t level, const char *title)
{
    put(level, "%s\n", dump::dashes);
    put(level, "%s\n", title);
    put(level, "%s\n", dump::dashes);
    printf("\n");
}

void print_idb(const void *data, uint32_t length)
{
    ptp_show_decode<ptp_if_idb_info>(data, length, ptp_if_idb_info_bag_getfn(), "Failed to decode interface bag: %s\n",
                                     [](const ptp_if_idb_info &info) {
                                         printf("\n");
                                         uint32_t level = 0;
                                         if (ptp_show_flag('a')) {
                                             const char *name = info.IPCThreadIDB.IPCThreadInterfaceName;
                                             printf("%s\nInterface: %s\n%s\n", dump::asterisks,
                                                    name != nullptr ? name : "", dump::asterisks);
                                             level = 1;
                                         }
                                         if (sel.ipc_thread && sel.proto_thread) {
                                             print_heading(level, "IPC Thread IDB");
                                             print_ipc(level, info.IPCThreadIDB);
                                             print_heading(level, "Protocol Thread IDB");
                                             if (info.ProtocolThreadIDB != nullptr)
                                                 print_proto(level, *info.ProtocolThreadIDB);
                                             else
                                                 put(level, "No protocol thread IDB\n");
                                         } else if (sel.ipc_thread) {
                                             print_ipc(level, info.IPCThreadIDB);
                                         } else if (info.ProtocolThreadIDB != nullptr) {
                                             print_proto(level, *info.ProtocolThreadIDB);
                                         } else {
                                             put(level, "No protocol thread IDB\n");
                                         }
                                         printf("\n");
                                     });
}

} // namespace

int ptp_show_idb_main(int argc, char **argv)
{
    if (!ptp_show_parse_options(argc, argv, ":ai:h:cAPIMpCFOmuftUqd"))
        return 0;
    if (!ptp_show_check_interface_or_location())
        return 0;
    select_from_options();
    char path[128];
    if (!ptp_show_build_path("idb/if/", path, sizeof path))
        return 0;
    (void)ptp_show_event_mgr_init(); // without it the dump goes on: it names no handle
    ptp_show_intfs(path, "Failed to bind to Nodra path '%s': %s\n", nullptr, print_idb);
    ptp_show_event_mgr_cleanup();
    return 0;
}
