// ptp_show_interop_tool: how each interface converts clocks between its profile and the profile
// it interoperates with, on the way out and from each master heard.
#include "ptp_bags.h"
#include "ptp_show_utils.h"
#include "ptp_strings.h"

namespace {

void print_conversion(const char *indent, const ptp_bag_profile_interop &c)
{
    printf("%sPriority1:               %8u -> %u\n", indent, c.FromPriority1, c.ToPriority1);
    printf("%sPriority2:               %8u -> %u\n", indent, c.FromPriority2, c.ToPriority2);
    printf("%sClockClass:              %8u -> %u\n", indent, c.FromClockClass, c.ToClockClass);
    printf("%sClockAccuracy:           %#8x -> %#2x\n", indent, c.FromAccuracy, c.ToAccuracy);
    printf("%sOffsetScaledLogVariance: %#8x -> %#2x\n\n", indent, c.FromOffsetLogVariance, c.ToOffsetLogVariance);
}

void print_interop(const void *data, uint32_t length)
{
    ptp_show_decode<ptp_if_interop_info>(
        data, length, ptp_if_interop_info_bag_getfn(), "Failed to decode interop interface bag: %s\n",
        [](const ptp_if_interop_info &info) {
            printf("Interface %s\n", info.Name != nullptr ? info.Name : "");
            printf("\n");
            printf("  Egress Conversions:\n");
            if (info.EgressInterop != nullptr) {
                printf("    Profile:                 %8s -> %s\n", ptp_profile_to_str(info.LocalProfile),
                       ptp_profile_to_str(info.InteropProfile));
                printf("    Domain:                  %8u -> %u\n", info.LocalDomain, info.InteropDomain);
                print_conversion("    ", *info.EgressInterop);
            } else {
                printf("    This port is not sending Announce messages\n");
                printf("\n");
            }
            printf("  Ingress Conversions:\n");
            if (info.IngressInterop.count != 0) {
                printf("    Profile:                 %8s -> %s\n", ptp_profile_to_str(info.InteropProfile),
                       ptp_profile_to_str(info.LocalProfile));
                printf("    Domain:                  %8u -> %u\n", info.InteropDomain, info.LocalDomain);
                for (uint32_t i = 0; i < info.IngressInterop.count; ++i) {
                    const ptp_bag_profile_interop_peer &peer = info.IngressInterop.array[i];
                    printf("\n");
                    printf("    Master %s:\n", ptp_show_bag_address_to_str(peer.Address));
                    print_conversion("      ", peer.Interop);
                }
                printf("\n");
            } else {
                printf("    This port is not receiving Announce messages\n");
            }
            printf("\n");
        });
}

} // namespace

int ptp_show_interop_tool_main(int argc, char **argv)
{
    if (!ptp_show_parse_options(argc, argv, ":i:"))
        return 0;
    ptp_show_intfs("/oper/ptp/interop/if/", "Failed to bind to Nodra path '%s': %s\n", nullptr, print_interop);
    return 0;
}
