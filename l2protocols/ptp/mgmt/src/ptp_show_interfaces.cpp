// ptp_show_interfaces: each interface's port state, transport, rates, capabilities and master
// table, in detail or as a brief table.
#include <arpa/inet.h>

#include <cstring>
#include <vector>

#include "imc.h"
#include "ptp_bags.h"
#include "ptp_show_utils.h"
#include "ptp_strings.h"

namespace {

const char *port_number_text(uint16_t number)
{
    if (number == 0)
        return "None";
    char *buf = ptp_show_get_str_buf();
    snprintf(buf, PTP_SHOW_STR_BUF_SIZE, "%u", number);
    return buf;
}

void print_brief_header()
{
    printf("Intf              Port         Port                  Line\n"
           "Name              Number       State        Encap    State         Mechanism\n"
           "--------------------------------------------------------------------------------"
           "\n");
}

void print_brief(const ptp_if_info &info)
{
    printf("%-17s %-12s %-12s %-8s %-13s %-11s\n", info.Name != nullptr ? info.Name : "",
           port_number_text(info.PortNumber), ptp_port_state_to_str(info.PortState),
           ptp_show_bag_encap_to_str(info.Encapsulation), im_state_name(info.LineState),
           info.TwoStep != 0 ? "2-step DRRM" : "1-step DRRM");
}

// The interface's addresses by its encapsulation, and how many there are.
const char *address_text(const ptp_if_info &info, char *buf, size_t size, uint32_t *count)
{
    *count = 0;
    if (info.Encapsulation == PTP_BAG_ENCAP_IPv4) {
        if (info.IPv4AddressArray == nullptr)
            return "Unknown";
        *count = info.IPv4AddressArray->AddrList.count;
        return ptp_show_ipv4_addrs_to_str(*count, info.IPv4AddressArray->AddrList.array, buf, size);
    }
    if (info.Encapsulation == PTP_BAG_ENCAP_IPv6) {
        static constexpr uint8_t zero[16] = {};
        const ptp_bag_ipv6_addr_list *list = info.IPv6AddressArray;
        if (list == nullptr || list->AddrList.count == 0 || memcmp(list->AddrList.array[0].addr, zero, 16) == 0)
            return "Unknown";
        std::vector<uint8_t[16]> addrs(list->AddrList.count);
        for (uint32_t i = 0; i < list->AddrList.count; ++i)
            memcpy(addrs[i], list->AddrList.array[i].addr, 16);
        *count = list->AddrList.count;
        return ptp_show_ipv6_addrs_to_str(*count, addrs.data(), buf, size);
    }
    if (info.MACAddress == nullptr)
        return "Unknown";
    *count = 1;
    return ptp_show_mac_to_str(info.MACAddress->macaddr);
}

void print_conversion(const char *heading, const ptp_bag_profile_interop_cfg *c)
{
    if (c == nullptr)
        return;
    printf("%s", heading);
    if (c->Priority1 != nullptr)
        printf("      Priority1: %u\n", *c->Priority1);
    if (c->Priority2 != nullptr)
        printf("      Priority2: %x\n", *c->Priority2);
    if (c->Accuracy != nullptr)
        printf("      Clock accuracy: %x\n", *c->Accuracy);
    if (c->OffsetLogVariance != nullptr)
        printf("      OSLV: %u\n", *c->OffsetLogVariance);
    if (c->ClassMapping.count == 0 && c->ClassDefault == nullptr)
        return;
    printf("      Clock-class mapping:\n");
    for (uint32_t i = 0; i < c->ClassMapping.count; ++i)
        printf("        %u -> %u\n", c->ClassMapping.array[i].FromClockClass, c->ClassMapping.array[i].ToClockClass);
    if (c->ClassDefault != nullptr)
        printf("        * -> %u\n", *c->ClassDefault);
}

struct capability_type {
    const char *name;
    uint32_t ptp_if_info::*supported;
};

void print_capabilities(const ptp_if_info &info)
{
    static constexpr capability_type supported_order[] = {
        {"One-step", &ptp_if_info::SupportsOneStep},    {"Two-step", &ptp_if_info::SupportsTwoStep},
        {"Ethernet", &ptp_if_info::SupportsEthernet},   {"IPv4", &ptp_if_info::SupportsIPv4},
        {"IPv6", &ptp_if_info::SupportsIPv6},           {"Unicast", &ptp_if_info::SupportsUnicast},
        {"Multicast", &ptp_if_info::SupportsMulticast}, {"Master", &ptp_if_info::SupportsMaster},
        {"Slave", &ptp_if_info::SupportsSlave},         {"Source IP", &ptp_if_info::SupportsSourceIP}};
    static constexpr capability_type unsupported_order[] = {
        {"One-step", &ptp_if_info::SupportsOneStep},  {"Two-step", &ptp_if_info::SupportsTwoStep},
        {"Ethernet", &ptp_if_info::SupportsEthernet}, {"Multicast", &ptp_if_info::SupportsMulticast},
        {"Unicast", &ptp_if_info::SupportsUnicast},   {"IPv4", &ptp_if_info::SupportsIPv4},
        {"IPv6", &ptp_if_info::SupportsIPv6},         {"Master", &ptp_if_info::SupportsMaster},
        {"Slave", &ptp_if_info::SupportsSlave},       {"Source IP", &ptp_if_info::SupportsSourceIP}};
    printf("  Platform capabilities:\n");
    const char *lead = "    Supported:     ";
    printf("%s", lead);
    size_t line = strlen(lead);
    bool first = true;
    for (const capability_type &c : supported_order) {
        if (info.*c.supported == 0)
            continue;
        if (!first) {
            printf(", ");
            line += 2;
        }
        first = false;
        if (line + strlen(c.name) > 76) {
            printf("\n%*s", 19, "");
            line = 19;
        }
        printf("%s", c.name);
        line += strlen(c.name);
    }
    printf("\n    Not-supported: ");
    first = true;
    for (const capability_type &c : unsupported_order) {
        if (info.*c.supported != 0)
            continue;
        printf("%s%s", first ? "" : ", ", c.name);
        first = false;
    }
    printf("%s\n", first ? "None" : "");
    printf("    Max-Sync-rate: %u per second\n", info.MaxSyncRate);
}

void print_master_entry(const ptp_bag_master_table_entry &m)
{
    char text[INET6_ADDRSTRLEN] = "";
    switch (m.Address.Encapsulation) {
    case PTP_BAG_ENCAP_Ethernet:
        printf("    MAC-address %s: ", ptp_show_mac_to_str(m.Address.value.MACAddress.macaddr));
        break;
    case PTP_BAG_ENCAP_IPv4:
        inet_ntop(AF_INET, &m.Address.value.IPv4Address, text, sizeof text);
        printf("    IPv4-address %s: ", text);
        break;
    default:
        inet_ntop(AF_INET6, m.Address.value.IPv6Address.IPv6Address, text, sizeof text);
        printf("    IPv6-address %s: ", text);
        break;
    }
    if (m.Priority != nullptr)
        printf("priority %u", *m.Priority);
    else
        printf("priority not set");
    if (m.CommunicationModel == PTP_BAG_COMMUNICATION_MODEL_Multicast)
        printf(", multicast");
    else if (m.CommunicationModel == PTP_BAG_COMMUNICATION_MODEL_MixedMode)
        printf(", mixed-mode");
    if (m.Known != 0)
        printf(", K%s%s%s%s", m.Qualified != 0 ? ",Q" : "", m.IsGrandmaster != 0 ? ",GM" : "",
               m.PTSFLossAnnounce != 0 ? ",LA" : "", m.PTSFLossSync != 0 ? ",LS" : "");
    else
        printf("%s%s", m.PTSFLossAnnounce != 0 ? ", LA" : "", m.PTSFLossSync != 0 ? ", LS" : "");
    printf("\n");
}

void print_detail(const ptp_if_info &info)
{
    printf("%s is in %s state\n", info.Name != nullptr ? info.Name : "", ptp_port_state_to_str(info.PortState));
    printf("  PTP port number: %s\n", port_number_text(info.PortNumber));
    char addrs[PTP_SHOW_STR_BUF_SIZE];
    uint32_t count = 0;
    const char *address = address_text(info, addrs, sizeof addrs, &count);
    printf("  Transport: %s %s\n  Address%s: %s\n", ptp_address_encap_to_str(info.Encapsulation),
           ptp_transport_to_str(info.CommunicationModel), count > 1 ? "es" : "", address);
    printf("  Linestate: %s\n", im_state_name(info.LineState));
    if (info.SignalFail != nullptr)
        printf("  Signal Fail: %s\n", *info.SignalFail != 0 ? "Yes" : "No");
    if (info.clock_profile == PTP_BAG_PROFILE_G82751 || info.clock_profile == PTP_BAG_PROFILE_G82752)
        printf("  Local Priority: %d\n", info.LocalPriority);
    printf("  Mechanism: %s delay-request-response\n", info.TwoStep != 0 ? "Two-step" : "One-step");
    printf("  Sync rate: %s\n", ptp_show_log_interval_to_str(info.LogSyncInterval));
    printf("  Announce rate: %s, timeout %u intervals\n", ptp_show_log_interval_to_str(info.LogAnnounceInterval),
           info.AnnounceTimeout);
    printf("  Min Delay-Request rate: %s\n", ptp_show_log_interval_to_str(info.LogMinDelayRequestInterval));
    printf("  CoS: General %u, Event %u, DSCP: General %u, Event %u\n", info.GeneralCOS, info.EventCOS,
           info.GeneralDSCP, info.EventDSCP);
    printf("  Profile interop: %s\n", info.ProfileInterop != 0 ? "Yes" : "No");
    if (info.ProfileInterop != 0) {
        if (info.InteropProfile != nullptr)
            printf("    Profile: %s\n", ptp_profile_to_str(*info.InteropProfile));
        if (info.InteropDomain != nullptr)
            printf("    Domain: %u\n", *info.InteropDomain);
        print_conversion("    Ingress conversion:\n", info.IngressConversion);
        print_conversion("    Egress conversion:\n", info.EgressConversion);
    }
    print_capabilities(info);
    if (info.ConfiguredPortState == PTP_BAG_RESTRICT_PORT_STATE_MasterOnly)
        printf("  Master state only\n");
    else if (info.ConfiguredPortState == PTP_BAG_RESTRICT_PORT_STATE_SlaveOnly)
        printf(info.MasterTable.count != 0 ? "  Slave state only\n"
                                           : "  Slave state only, but no masters configured\n");
    if (info.MasterTable.count != 0) {
        printf("  Master table:\n");
        printf("  (K = Known, Q = Qualified, GM = Grandmaster,\n   LA = PTSF LossAnnounce, LS = PTSF LossSync)\n");
        for (uint32_t i = 0; i < info.MasterTable.count; ++i)
            print_master_entry(info.MasterTable.array[i]);
    }
    printf("  %u Unicast peers\n", info.UnicastPeers);
    printf("\n");
}

void print_interface(const void *data, uint32_t length)
{
    ptp_show_decode<ptp_if_info>(data, length, ptp_if_info_bag_getfn(), "Failed to decode interface bag: %s\n",
                                 [](const ptp_if_info &info) {
                                     if (ptp_show_flag('b'))
                                         print_brief(info);
                                     else
                                         print_detail(info);
                                 });
}

} // namespace

int ptp_show_interfaces_main(int argc, char **argv)
{
    if (!ptp_show_parse_options(argc, argv, ":abi:"))
        return 0;
    char path[128];
    if (!ptp_show_build_path("interface/if/", path, sizeof path))
        return 0;
    nodra_conn_td *conn = nullptr;
    const zerrno rc = ptp_show_bind(&conn, path);
    if (rc != 0) {
        printf("Failed to bind to Nodra: %s\n", zerr_strerror(rc));
        return 0;
    }
    const ptp_show_header_printer_fn header = ptp_show_flag('b') ? print_brief_header : nullptr;
    if (ptp_show_options.ifname != nullptr)
        ptp_show_intf_info(conn, ptp_show_options.ifname, header, print_interface);
    else
        ptp_show_all_intfs_info(conn, header, print_interface);
    ptp_show_unbind(conn);
    return 0;
}
