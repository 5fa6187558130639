// ptp_show_advertised_clock: the clock the system announces to its slaves.
#include "ptp_bags.h"
#include "ptp_show_utils.h"

namespace {

void print_advertised(const void *data, uint32_t length)
{
    ptp_show_decode<ptp_advertised_clock_info>(
        data, length, ptp_advertised_clock_info_bag_getfn(), "Failed to decode advertised-clock bag: %s\n",
        [](const ptp_advertised_clock_info &adv) {
            const ptp_bag_clock &c = adv.ClockProperties;
            if (c.Local != 0)
                printf("Clock ID: Local Clock (%lx)\n", static_cast<unsigned long>(c.ClockID));
            else
                printf("Clock ID: %lx\n", static_cast<unsigned long>(c.ClockID));
            printf("Clock properties:\n");
            printf("  Domain: %u, Priority1: %u, Priority2: %u, Class: %u\n", adv.Domain, c.Priority1, c.Priority2,
                   c.Class);
            printf("  Accuracy: 0x%2.2x, Offset scaled log variance: 0x%4.4x\n", c.Accuracy, c.OffsetLogVariance);
            if (adv.TimeSourceConfigured != 0)
                printf("  Time Source: %s (configured, overrides %s)\n", ptp_show_bag_timesource_to_str(c.TimeSource),
                       ptp_show_bag_timesource_to_str(adv.ReceivedTimeSource));
            else
                printf("  Time Source: %s\n", ptp_show_bag_timesource_to_str(c.TimeSource));
            if (adv.TimescaleConfigured != 0)
                printf("  Timescale: %s (configured, overrides %s)\n", ptp_show_bag_timescale_to_str(c.Timescale),
                       ptp_show_bag_timescale_to_str(adv.ReceivedTimescale));
            else
                printf("  Timescale: %s\n", ptp_show_bag_timescale_to_str(c.Timescale));
            ptp_show_print_traceability("  ", c.FrequencyTraceable, c.TimeTraceable);
            ptp_show_print_utc_offset("  ", c.UTCOffset.CurrentOffset, c.UTCOffset.OffsetValid);
            ptp_show_print_leap("  ", c.LeapSeconds);
        });
}

} // namespace

int ptp_show_advertised_clock_main(int argc, char **argv)
{
    if (!ptp_show_parse_options(argc, argv, ":"))
        return 0;
    ptp_show_item("/oper/ptp/gl/", "advertised-clock", "Failed to bind to Nodra path '%s': %s\n",
                  "Failed to get PTP advertised clock information: %s\n", print_advertised);
    return 0;
}
