// ptp_show_config_errors: what of the configuration cannot be applied, globally and on each
// interface; one line per error, in a fixed order.
#include "ptp_bags.h"
#include "ptp_show_utils.h"
#include "ptp_strings.h"
#include "ptp_time.h"

namespace {

void print_global(const void *data, uint32_t length)
{
    ptp_show_decode<sardo_config_errors_info>(
        data, length, sardo_config_errors_info_bag_getfn(), "Failed to decode global config error bag: %s\n",
        [](const sardo_config_errors_info &g) {
            const ptp_bag_gl_config_errors &e = g.ConfigurationErrors;
            const char *profile = ptp_profile_to_str(g.ClockProfile);
            const char *clock = ptp_telecom_clock_type_to_str(g.TelecomClockType, g.ClockProfile);
            if (e.Domain != 0) {
                uint8_t low = 0, high = 0;
                ptp_profile_domain_range_get(g.ClockProfile, &low, &high);
                printf("* Domain %d is incompatible with %s profile, domain must be between %u and %u.\n",
                       g.DomainNumber, profile, low, high);
            }
            if (e.ProfilePriority1Config != 0)
                printf("* Priority1 configuration is not compatible with %s profile.\n", profile);
            if (e.ProfilePriority2Value != 0)
                printf("* Priority2 value %u is not compatible with %s %s clock.\n", g.Priority2, clock, profile);
            if (e.UTCOffsetChange != 0)
                printf("* Leap seconds configuration implies an invalid UTC offset change of more than one second\n");
            if (e.PhysicalLayerFrequency != 0)
                printf("* Physical layer frequency configuration is not compatible with G.8265.1 profile\n");
            if (e.NetworkType != 0)
                printf("* Network type high PDV configuration is only compatible with G.8265.1 profile\n");
            if (e.ProfileVirtualPort != 0)
                printf("* Virtual Port configuration is not compatible with %s profile\n", profile);
            if (e.VirtualPortPriority1Config != 0)
                printf("* Virtual Port: Priority1 configuration is not compatible with %s profile\n", profile);
            if (e.VirtualPortPriority2Value != 0 && g.VirtualPortPriority2 != nullptr)
                printf("* Virtual Port: Priority2 value %u is not compatible with %s %s clock.\n",
                       *g.VirtualPortPriority2, clock, profile);
            if (e.VirtualPortProfileClockClass != 0 && g.VirtualPortClockClass != nullptr)
                printf("* Virtual Port: Clock Class %u is not compatible with %s profile\n", *g.VirtualPortClockClass,
                       profile);
            if (e.VirtualPortClockAccuracy != 0 && g.VirtualPortClockAccuracy != nullptr)
                printf("* Virtual Port: Clock Accuracy 0x%x is not compatible with %s profile\n",
                       *g.VirtualPortClockAccuracy, profile);
            if (e.VirtualPortOslv != 0 && g.VirtualPortOslv != nullptr)
                printf("* Virtual Port: OSLV 0x%x is not compatible with %s profile\n", *g.VirtualPortOslv, profile);
            if (e.VirtualPortLocalPriority != 0)
                printf("* Virtual Port: Local Priority configuration is not compatible with %s profile\n", profile);
            if (e.APTSClockProfile != 0)
                printf("* APTS configuration is not compatible with %s profile\n", profile);
            if (e.APTSClockType != 0)
                printf("* APTS configuration is not compatible with %s clock type\n", clock);
        });
}

// What an interface line names after the interface.
enum class arg_type {
    none,       // nothing more
    via,        // the configured profile name
    with,       // the interop profile when set, else the clock profile
    clock,      // the clock profile
    interop,    // the interop profile
    port_state, // the restricted port state, the clock profile and the clock type
    from_list,  // one line per value of the list, then the interop profile
};

struct if_error_type {
    const char *format;
    arg_type arg;
    uint32_t ptp_bag_config_errors::*flag;
    bag_array<uint8_t> ptp_bag_config_errors::*list;
};

using E = ptp_bag_config_errors;

constexpr if_error_type if_errors[] = {
    {"* Interface %s: PTP is enabled on the interface, but not globally enabled.\n", arg_type::none, &E::GlobalPTP,
     nullptr},
    {"* Interface %s: Ethernet transport is configured on the interface via profile '%s', but is not supported.\n",
     arg_type::via, &E::EthernetTransport, nullptr},
    {"* Interface %s: One-step clock-operation is configured on the interface via profile '%s', but is not "
     "supported.\n",
     arg_type::via, &E::OneStep, nullptr},
    {"* Interface %s: Slave-operation is configured on the interface via profile '%s', but is not supported.\n",
     arg_type::via, &E::Slave, nullptr},
    {"* Interface %s: IPv6 transport is configured on the interface via profile '%s', but is not supported.\n",
     arg_type::via, &E::IPv6, nullptr},
    {"* Interface %s: Multicast is configured on the interface via profile '%s', but is not supported.\n",
     arg_type::via, &E::Multicast, nullptr},
    {"* Interface %s: Profile '%s' is not globally configured, but is referenced by the interface configuration.\n",
     arg_type::via, &E::ProfileNotGlobal, nullptr},
    {"* Interface %s: Local priority configuration is not compatible with %s profile.\n", arg_type::clock,
     &E::LocalPriority, nullptr},
    {"* Interface %s: Ethernet transport is not compatible with %s profile.\n", arg_type::with, &E::ProfileEthernet,
     nullptr},
    {"* Interface %s: IPv4 transport is not compatible with %s profile.\n", arg_type::with, &E::ProfileIPv4, nullptr},
    {"* Interface %s: IPv6 transport is not compatible with %s profile.\n", arg_type::with, &E::ProfileIPv6, nullptr},
    {"* Interface %s: Unicast is not compatible with %s profile.\n", arg_type::with, &E::ProfileUnicast, nullptr},
    {"* Interface %s: Multicast is not compatible with %s profile.\n", arg_type::with, &E::ProfileMulticast, nullptr},
    {"* Interface %s: Mixed-mode multicast is not compatible with %s profile.\n", arg_type::with, &E::ProfileMixed,
     nullptr},
    {"* Interface %s: Unicast master is not compatible with %s profile.\n", arg_type::with, &E::ProfileMasterUnicast,
     nullptr},
    {"* Interface %s: Multicast master is not compatible with %s profile.\n", arg_type::with,
     &E::ProfileMasterMulticast, nullptr},
    {"* Interface %s: Mixed-mode multicast master is not compatible with %s profile.\n", arg_type::with,
     &E::ProfileMasterMixed, nullptr},
    {"* Interface %s: Ethernet multicast target-address is configured, but transport is IPv4.\n", arg_type::none,
     &E::TargetAddressIPv4, nullptr},
    {"* Interface %s: Ethernet multicast target-address is configured, but transport is IPv6.\n", arg_type::none,
     &E::TargetAddressIPv6, nullptr},
    {"* Interface %s: IPv4 TTL is configured but transport is not IPv4.\n", arg_type::none, &E::IPv4TTL, nullptr},
    {"* Interface %s: IPv6 hop limit is configured but transport is not IPv6.\n", arg_type::none, &E::IPv6HopLimit,
     nullptr},
    {"* Interface %s: %s port state is not compatible with %s %s clock.\n", arg_type::port_state, &E::ProfilePortState,
     nullptr},
    {"* Interface %s: Announce interval is not compatible with %s profile.\n", arg_type::with,
     &E::ProfileAnnounceInterval, nullptr},
    {"* Interface %s: Sync interval is not compatible with %s profile.\n", arg_type::with, &E::ProfileSyncInterval,
     nullptr},
    {"* Interface %s: Delay-request interval is not compatible with %s profile.\n", arg_type::with,
     &E::ProfileDelayReqInterval, nullptr},
    {"* Interface %s: Sync timeout configuration is not compatible with %s profile.\n", arg_type::with,
     &E::ProfileSyncTimeout, nullptr},
    {"* Interface %s: Delay-response timeout configuration is not compatible with %s profile.\n", arg_type::with,
     &E::ProfileDelayRespTimeout, nullptr},
    {"* Interface %s: Reducing invalid unicast grants is not compatible with %s profile.\n", arg_type::with,
     &E::InvalidGrantReduction, nullptr},
    {"* Interface %s: Domain is not compatible with configured interop with profile %s\n", arg_type::interop,
     &E::InvalidInteropDomain, nullptr},
    {"* Interface %s: Ingress conversion clock class mapping 'from value' %u is not compatible with configured "
     "interop with profile %s\n",
     arg_type::from_list, nullptr, &E::InvalidInteropIngressClockClassMapFromVals},
    {"* Interface %s: Ingress conversion clock class mapping 'to value' %u is not compatible with configured interop "
     "with profile %s\n",
     arg_type::from_list, nullptr, &E::InvalidInteropIngressClockClassMapToVals},
    {"* Interface %s: Ingress conversion clock class default is not compatible with configured interop with profile "
     "%s\n",
     arg_type::interop, &E::InvalidInteropIngressClockClassDefault, nullptr},
    {"* Interface %s: Ingress conversion priority1 is not compatible with configured interop with profile %s\n",
     arg_type::interop, &E::InvalidInteropIngressPriority1, nullptr},
    {"* Interface %s: Ingress conversion clock-accuracy is not compatible with configured interop with profile %s\n",
     arg_type::interop, &E::InvalidInteropIngressClockAccuracy, nullptr},
    {"* Interface %s: Ingress conversion OSLV not compatible with configured interop with profile %s\n",
     arg_type::interop, &E::InvalidInteropIngressOSLV, nullptr},
    {"* Interface %s: Egress conversion clock class mapping 'from value' %u is not compatible with configured interop "
     "with profile %s\n",
     arg_type::from_list, nullptr, &E::InvalidInteropEgressClockClassMapFromVals},
    {"* Interface %s: Egress conversion clock class mapping 'to value' %u is not compatible with configured interop "
     "with profile %s\n",
     arg_type::from_list, nullptr, &E::InvalidInteropEgressClockClassMapToVals},
    {"* Interface %s: Egress conversion clock class default is not compatible with configured interop with profile "
     "%s\n",
     arg_type::interop, &E::InvalidInteropEgressClockClassDefault, nullptr},
    {"* Interface %s: Egress conversion priority1 is not compatible with configured interop with profile %s\n",
     arg_type::interop, &E::InvalidInteropEgressPriority1, nullptr},
    {"* Interface %s: Egress conversion priority2 is not compatible with configured interop with profile %s\n",
     arg_type::interop, &E::InvalidInteropEgressPriority2, nullptr},
    {"* Interface %s: Egress conversion clock-accuracy is not compatible with configured interop with profile %s\n",
     arg_type::interop, &E::InvalidInteropEgressClockAccuracy, nullptr},
    {"* Interface %s: Egress conversion OSLV not compatible with configured interop with profile %s\n",
     arg_type::interop, &E::InvalidInteropEgressOSLV, nullptr},
    {"* Interface %s: Master configuration is not compatible with clock-type master\n", arg_type::none,
     &E::InvalidMasterConfigClockType, nullptr},
    {"* Interface %s: Slave configuration is not compatible with clock-type slave\n", arg_type::none,
     &E::InvalidSlaveConfigClockType, nullptr},
    {"* Interface %s: Master configuration is not compatible with port-state master-only\n", arg_type::none,
     &E::InvalidMasterConfigPortState, nullptr},
    {"* Interface %s: Slave configuration is not compatible with port-state slave-only\n", arg_type::none,
     &E::InvalidSlaveConfigPortState, nullptr},
    {"* Interface %s: Delay asymmetry configuration is not compatible with clock-type master\n", arg_type::none,
     &E::DelayAsymmetryConfigClockType, nullptr},
    {"* Interface %s: Delay asymmetry configuration is not compatible with port-state master-only\n", arg_type::none,
     &E::DelayAsymmetryConfigPortState, nullptr},
};

void print_interface(const void *data, uint32_t length)
{
    ptp_show_decode<ptp_if_config_errors_entry>(
        data, length, ptp_if_config_errors_entry_bag_getfn(), "Failed to decode config error bag: %s\n",
        [](const ptp_if_config_errors_entry &i) {
            const char *name = i.InterfaceName != nullptr ? i.InterfaceName : "";
            const char *via = i.ConfigurationProfileName != nullptr && *i.ConfigurationProfileName != nullptr
                                  ? *i.ConfigurationProfileName
                                  : "Unknown Profile";
            const char *clock_profile = ptp_profile_to_str(i.ClockProfile);
            const char *with = i.InteropProfile != nullptr ? ptp_profile_to_str(*i.InteropProfile) : clock_profile;
            const char *interop =
                i.InteropProfile != nullptr ? ptp_profile_to_str(*i.InteropProfile) : "Unknown Profile";
            const ptp_bag_config_errors &e = i.ConfigurationErrors;
            for (const if_error_type &row : if_errors) {
                if (row.arg == arg_type::from_list) {
                    const bag_array<uint8_t> &values = e.*row.list;
                    for (uint32_t v = 0; v < values.count; ++v)
                        printf(row.format, name, values.array[v], interop);
                    continue;
                }
                if (e.*row.flag == 0)
                    continue;
                switch (row.arg) {
                case arg_type::none: printf(row.format, name); break;
                case arg_type::via: printf(row.format, name, via); break;
                case arg_type::with: printf(row.format, name, with); break;
                case arg_type::clock: printf(row.format, name, clock_profile); break;
                case arg_type::interop: printf(row.format, name, interop); break;
                case arg_type::port_state:
                    printf(row.format, name, ptp_restrict_port_state_to_str(i.RestrictPortState), clock_profile,
                           ptp_telecom_clock_type_to_str(i.TelecomClockType, i.ClockProfile));
                    break;
                case arg_type::from_list: break;
                }
            }
        });
}

} // namespace

int ptp_show_config_errors_main(int argc, char **argv)
{
    if (!ptp_show_parse_options(argc, argv, ":i:"))
        return 0;
    // The database binds folders: the global record is named in its own, and a failed bind names
    // the record's path.
    nodra_conn_td *global = nullptr;
    const zerrno rc = ptp_show_bind(&global, "/oper/ptp/gl/");
    if (rc != 0) {
        printf("Failed to bind to Nodra path '%s': %s\n", "/oper/ptp/gl/config-errors", zerr_strerror(rc));
        return 0;
    }
    if (ptp_show_options.ifname == nullptr)
        ptp_show_global_info(global, "config-errors", print_global);
    ptp_show_intfs("/oper/ptp/config-errors/if/", "Failed to bind to Nodra path '%s': %s\n", nullptr, print_interface);
    ptp_show_unbind(global);
    return 0;
}
