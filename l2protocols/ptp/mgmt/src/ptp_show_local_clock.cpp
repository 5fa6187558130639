// ptp_show_local_clock: the chassis' own clock, its virtual port and its servo.
#include "ptp_bags.h"
#include "ptp_show_utils.h"

namespace {

// "  A: 1, B: 2": the parts that are set, joined by ", ", the first led by two blanks.
struct joined_line {
    bool any = false;
    void part(const char *format, uint32_t value)
    {
        printf("%s", any ? ", " : "  ");
        printf(format, value);
        any = true;
    }
    void end() const
    {
        if (any)
            printf("\n");
    }
};

void print_local_clock(const void *data, uint32_t length)
{
    ptp_show_decode<ptp_local_clock_info>(
        data, length, ptp_local_clock_info_bag_getfn(), "Failed to decode local clock bag: %s\n",
        [](const ptp_local_clock_info &info) {
            const ptp_bag_clock &c = info.ClockProperties;
            printf("Clock ID: %016lx\n", static_cast<unsigned long>(c.ClockID));
            printf("Clock properties:\n");
            printf("  Domain: %u, Priority1: %u, Priority2: %u, Class: %u\n", info.Domain, c.Priority1, c.Priority2,
                   c.Class);
            printf("  Accuracy: 0x%2.2x, Offset scaled log variance: 0x%4.4x\n", c.Accuracy, c.OffsetLogVariance);
            printf("  Time Source: %s\n", ptp_show_bag_timesource_to_str(c.TimeSource));
            printf("  Timescale: %s\n", ptp_show_bag_timescale_to_str(c.Timescale));
            ptp_show_print_traceability("  ", c.FrequencyTraceable, c.TimeTraceable);
            ptp_show_print_utc_offset("  ", c.UTCOffset.CurrentOffset, c.UTCOffset.OffsetValid);
            ptp_show_print_leap("  ", c.LeapSeconds);

            const ptp_bag_virtual_port &vp = info.VirtualPort;
            printf("Virtual Port:\n");
            printf("  Configured: %s, Connected: %s\n", vp.Configured != 0 ? "True" : "False",
                   vp.Connected != 0 ? "True" : "False");
            if (vp.Configured != 0 && vp.Connected != 0) {
                if (vp.Class != nullptr)
                    printf("  Clock-class: %u\n", *vp.Class);
                joined_line priorities;
                if (vp.Priority1 != nullptr)
                    priorities.part("Priority1: %u", *vp.Priority1);
                if (vp.Priority2 != nullptr)
                    priorities.part("Priority2: %u", *vp.Priority2);
                if (vp.LocalPriority != nullptr)
                    priorities.part("Local Priority: %u", *vp.LocalPriority);
                priorities.end();
                joined_line quality;
                if (vp.Accuracy != nullptr)
                    quality.part("Accuracy: 0x%2.2x", *vp.Accuracy);
                if (vp.OffsetLogVariance != nullptr)
                    quality.part("Offset scaled log variance: 0x%4.4x", *vp.OffsetLogVariance);
                quality.end();
            }

            if (info.Grandmaster != 0) {
                printf("Local clock is grandmaster\n");
            } else {
                printf("Servo status: ");
                ptp_show_print_servo_status(info.ServoStatus);
                if (info.ServoStatus != 1) {
                    if (info.OffsetFromMaster != 0)
                        printf("  Offset from master: %ldns\n", static_cast<long>(info.OffsetFromMaster));
                    if (info.MeanPathDelay != 0)
                        printf("  Mean path delay: %ldns\n", static_cast<long>(info.MeanPathDelay));
                }
            }
            printf("APTS: %s\n", info.AptsEnabled != 0 ? "Enabled" : "Disabled");
        });
}

} // namespace

int ptp_show_local_clock_main(int argc, char **argv)
{
    if (!ptp_show_parse_options(argc, argv, ":"))
        return 0;
    ptp_show_item("/oper/ptp/gl/", "local-clock", "Failed to bind to Nodra path %s: %s\n",
                  "Failed to get PTP local clock information: %s\n", print_local_clock);
    return 0;
}
