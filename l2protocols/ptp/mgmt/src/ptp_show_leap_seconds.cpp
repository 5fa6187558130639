// ptp_show_leap_seconds: the UTC offset, its sources, and the leap seconds known and configured.
#include <cstdlib>

#include "ptp_bags.h"
#include "ptp_show_utils.h"
#include "ptp_strings.h"

namespace {

const char *source_name(uint32_t type)
{
    static constexpr const char *names[] = {"None", "Grandmaster", "Configuration", "Previous Grandmaster", "Hardware"};
    return type < std::size(names) ? names[type] : "Unknown";
}

// "  From <date> offset will be +37 seconds" ("was" for a configured one already applied: the
// grandmaster's announced one is always to come), and the remark on a change of more than a
// second.
void print_leap_second(const ptp_bag_leap_seconds_entry &e, bool applied)
{
    const int32_t magnitude = std::abs(e.Offset);
    printf("  From %s offset %s %+d second%s", ptp_date_to_str(static_cast<int64_t>(e.OffsetStartDate), nullptr),
           applied ? "was" : "will be", e.Offset, magnitude == 1 ? "" : "s");
    if (std::abs(e.OffsetChange) <= 1)
        printf("\n");
    else
        printf(" - invalid change (%+d seconds)\n", e.OffsetChange);
}

void print_leap_seconds(const void *data, uint32_t length)
{
    const bool detail = ptp_show_flag('d');
    ptp_show_decode<ptp_leap_seconds_info>(
        data, length, ptp_leap_seconds_info_bag_getfn(), "Failed to decode leap seconds bag: %s\n",
        [detail](const ptp_leap_seconds_info &info) {
            const ptp_bag_utc_offset_info &now = info.CurrentOffsetInfo;
            printf("Current offset: %s\n", ptp_utc_offset_to_str(now.Offset, now.Valid));
            printf("Current flag: %s\n", ptp_leap_second_to_str(now.Flag));
            printf("Source: %s\n", source_name(info.SourceType));
            printf("\n");

            printf("Available information:\n");
            struct source_type {
                const char *format;
                const ptp_bag_utc_offset_info *info;
            };
            const source_type sources[] = {
                {"  %d) From grandmaster:      %s, %s\n", info.CurrentGMOffsetInfo},
                {"  %d) From configuration:    %s, %s\n", info.ConfiguredOffsetInfo},
                {"  %d) From prev grandmaster: %s, %s\n",
                 info.CurrentGMOffsetInfo == nullptr ? info.PreviousGMOffsetInfo : nullptr},
                {"  %d) From hardware:         %s, %s\n", info.HardwareOffsetInfo},
            };
            int number = 0;
            for (const source_type &s : sources)
                if (s.info != nullptr)
                    printf(s.format, ++number, ptp_utc_offset_to_str(s.info->Offset, s.info->Valid),
                           ptp_leap_second_to_str(s.info->Flag));
            if (number == 0)
                printf("  No sources available\n");
            printf("\n");

            const char *which = detail ? "Known" : "Pending";
            printf("%s leap seconds from grandmaster:\n", which);
            if (info.GMLeapSecond != nullptr)
                print_leap_second(*info.GMLeapSecond, false);
            else
                printf("  None\n");
            printf("\n");

            printf("%s leap seconds from configuration:\n", which);
            bool printed = false;
            for (uint32_t i = 0; i < info.ConfiguredLeapSecondList.count; ++i) {
                const ptp_bag_leap_seconds_entry &e = info.ConfiguredLeapSecondList.array[i];
                if (e.OffsetApplied != 0 && !detail)
                    continue;
                print_leap_second(e, e.OffsetApplied != 0);
                printed = true;
            }
            if (!printed)
                printf("  None\n");
            printf("\n");

            if (info.SourceFile != nullptr) {
                printf("Configuration source: %s\n", *info.SourceFile != nullptr ? *info.SourceFile : "");
                if (info.PollingFrequency != nullptr)
                    printf("Poll frequency: Every %u day%s\n", *info.PollingFrequency,
                           *info.PollingFrequency == 1 ? "" : "s");
                else
                    printf("Expiry date: %s\n", info.SourceExpiryDate != nullptr
                                                    ? ptp_date_to_str(*info.SourceExpiryDate, nullptr)
                                                    : "None");
            } else {
                printf("Configuration source: User\n");
            }
        });
}

} // namespace

int ptp_show_leap_seconds_main(int argc, char **argv)
{
    if (!ptp_show_parse_options(argc, argv, ":d"))
        return 0;
    ptp_show_item("/oper/ptp/gl/", "leap-seconds", "Failed to bind to Nodra path '%s': %s\n",
                  "Failed to get PTP leap second information: %s\n", print_leap_seconds);
    return 0;
}
