// ptp_show_grandmaster: the clock the system follows, where it is heard and how it is used.
#include <arpa/inet.h>

#include "ptp_bags.h"
#include "ptp_show_utils.h"

namespace {

const char *usage_text(uint32_t frequency, uint32_t time)
{
    if (frequency != 0 && time != 0)
        return "Used to set system frequency and time\n";
    if (frequency != 0)
        return "Used to set system frequency\n";
    if (time != 0)
        return "Used to set system time\n";
    return "Not used for system frequency or time\n";
}

void print_grandmaster(const void *data, uint32_t length)
{
    ptp_show_decode<ptp_grandmaster_info>(
        data, length, ptp_grandmaster_info_bag_getfn(), "Failed to decode grandmaster bag: %s\n",
        [](const ptp_grandmaster_info &gm) {
            const ptp_bag_clock &c = gm.ClockProperties;
            printf("%s", usage_text(gm.UsedForFrequency, gm.UsedForTime));
            char text[INET6_ADDRSTRLEN] = "";
            switch (gm.Address.Encapsulation) {
            case PTP_BAG_ENCAP_Ethernet:
                printf("Ethernet, Address %s\n", ptp_show_mac_to_str(gm.Address.value.MACAddress.macaddr));
                break;
            case PTP_BAG_ENCAP_IPv4:
                inet_ntop(AF_INET, &gm.Address.value.IPv4Address, text, sizeof text);
                printf("IPv4, Address %s\n", text);
                break;
            default:
                inet_ntop(AF_INET6, gm.Address.value.IPv6Address.IPv6Address, text, sizeof text);
                printf("IPv6, Address %s\n", text);
                break;
            }
            printf("Received on interface %s (port number 0x%4.4x)\n", ptp_show_ifhandle_to_str(gm.InterfaceHandle),
                   c.Receiver.PortNumber);
            printf("Clock ID: %lx\n", static_cast<unsigned long>(c.ClockID));
            printf("Time since last grandmaster change: %s\n", ptp_show_duration_to_str(gm.KnownForTime));
            printf("Clock properties:\n");
            printf("  Domain: %u, Priority1: %u, Priority2: %u, Class %u\n", gm.Domain, c.Priority1, c.Priority2,
                   c.Class);
            printf("  Accuracy 0x%2.2x, Offset scaled log variance: 0x%4.4x\n", c.Accuracy, c.OffsetLogVariance);
            printf("  Steps Removed: %u, Time Source: %s, Timescale: %s\n", c.StepsRemoved,
                   ptp_show_bag_timesource_to_str(c.TimeSource), ptp_show_bag_timescale_to_str(c.Timescale));
            ptp_show_print_traceability("  ", c.FrequencyTraceable, c.TimeTraceable);
            ptp_show_print_utc_offset("  ", c.UTCOffset.CurrentOffset, c.UTCOffset.OffsetValid);
            ptp_show_print_leap("  ", c.LeapSeconds);
            printf("Parent Properties:\n");
            printf("  Clock-ID: %lx\n", static_cast<unsigned long>(c.Sender.ClockID));
            printf("  Port number: 0x%4.4x\n", c.Sender.PortNumber);
        });
}

} // namespace

int ptp_show_grandmaster_main(int argc, char **argv)
{
    if (!ptp_show_parse_options(argc, argv, ":"))
        return 0;
    if (ptp_show_event_mgr_init() == 0)
        ptp_show_item("/oper/ptp/gl/", "grandmaster", "Failed to bind to Nodra path %s: %s\n",
                      "Failed to get PTP grandmaster information: %s\n", print_grandmaster);
    ptp_show_event_mgr_cleanup();
    return 0;
}
