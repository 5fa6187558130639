// ptp_show_foreign_masters: the foreign masters heard on each interface, in detail or as a brief
// table, optionally only those of one clock identity (-c).
#include <cinttypes>
#include <cstdlib>
#include <string>

#include "ptp_bags.h"
#include "ptp_show_utils.h"
#include "ptp_strings.h"

namespace {

// The legend and header stand once per run, before its first row.
bool brief_header_printed = false;

bool passes_filter(const ptp_bag_foreign_clock &fc)
{
    const char *wanted = ptp_show_options.value['c'];
    return wanted == nullptr || fc.ForeignClock.ClockID == strtoull(wanted, nullptr, 0);
}

void print_grant(const char *format, const ptp_bag_unicast_grant *grant)
{
    if (grant != nullptr)
        printf(format, ptp_show_grant_to_str(grant->LogGrantInterval, grant->GrantDuration));
}

void print_detail(const ptp_if_clock_info &info, const ptp_bag_foreign_clock &fc, bool first)
{
    if (first)
        printf("Interface %s (PTP port number %u)\n", info.name != nullptr ? info.name : "", info.PortNumber);
    printf("  %s, Address %s, %s\n", ptp_show_bag_encap_to_str(fc.Address.Encapsulation),
           ptp_show_bag_address_to_str(fc.Address), ptp_transport_to_str(fc.CommunicationModel));
    if (fc.ConfiguredPriority != nullptr)
        printf("    Configured priority: %u\n", *fc.ConfiguredPriority);
    else
        printf("    Configured priority: None (%u)\n", 128u);
    if (fc.ConfiguredClockClass != nullptr)
        printf("    Configured clock class: %u\n", *fc.ConfiguredClockClass);
    else
        printf("    Configured clock class: None\n");
    printf("    Configured delay asymmetry: %s\n", ptp_delay_asymmetry_to_str(fc.DelayAsymmetry));
    if (fc.IsKnown == 0) {
        printf("    Not known\n");
        printf("\n");
        return;
    }
    print_grant("    Announce granted:   %s\n", fc.AnnounceGrant);
    print_grant("    Sync granted:       %s\n", fc.SyncGrant);
    print_grant("    Delay-resp granted: %s\n", fc.DelayResponseGrant);
    if (fc.IsQualified != 0) {
        printf("    Qualified for %s\n", ptp_show_duration_to_str(fc.TimeKnownFor));
    } else {
        printf("    Not qualified");
        if (fc.PTSFLossAnnounce != 0 || fc.PTSFLossSync != 0)
            printf(" (%s%s)", fc.PTSFLossAnnounce != 0 ? "PTSF lossAnnounce, " : "",
                   fc.PTSFLossSync != 0 ? "PTSF lossSync" : "");
        printf("\n");
    }
    const ptp_bag_clock &c = fc.ForeignClock;
    printf("    Clock ID: %" PRIx64 "\n", c.ClockID);
    printf("    Received clock properties:\n");
    printf("      Domain: %u, Priority1: %u, Priority2: %u, Class: %u\n", fc.ForeignDomain, c.Priority1, c.Priority2,
           c.Class);
    printf("      Accuracy: 0x%2.2x, Offset scaled log variance: 0x%4.4x\n", c.Accuracy, c.OffsetLogVariance);
    printf("      Steps-removed: %u, Time source: %s, Timescale: %s\n", c.StepsRemoved,
           ptp_show_bag_timesource_to_str(c.TimeSource), ptp_show_bag_timescale_to_str(c.Timescale));
    ptp_show_print_traceability("      ", c.FrequencyTraceable, c.TimeTraceable);
    ptp_show_print_utc_offset("      ", c.UTCOffset.CurrentOffset, c.UTCOffset.OffsetValid);
    printf("    Parent properties:\n");
    printf("      Clock ID: %" PRIx64 "\n", c.Sender.ClockID);
    printf("      Port number: %u\n", c.Sender.PortNumber);
    printf("\n");
}

void print_brief(const ptp_if_clock_info &info, const ptp_bag_foreign_clock &fc, bool first)
{
    const bool telecom = info.selection_mode != PTP_BAG_CLOCK_SELECTION_MODE_IEEE_1588;
    if (!brief_header_printed) {
        brief_header_printed = true;
        printf(
            "M=Multicast,X=Mixed-mode,Q=Qualified,D=QL-DNU,\nGM=Grandmaster,LA=PTSF_lossAnnounce,LS=PTSF_lossSync\n");
        printf(telecom ? "Interface         Transport Address                   Priority Class  State\n"
                       : "Interface         Transport Address                   Cfg-Pri  Pri1   State\n");
        printf("%s\n", std::string(76, '-').c_str());
    }
    std::string state;
    const auto add = [&state](bool set, const char *flag) {
        if (set)
            state += (state.empty() ? "" : ",") + std::string(flag);
    };
    add(fc.CommunicationModel == PTP_BAG_COMMUNICATION_MODEL_Multicast, "M");
    add(fc.CommunicationModel == PTP_BAG_COMMUNICATION_MODEL_MixedMode, "X");
    add(fc.IsQualified != 0, "Q");
    add(fc.IsDNU != 0, "D");
    add(fc.IsGrandmaster != 0, "GM");
    add(fc.PTSFLossAnnounce != 0, "LA");
    add(fc.PTSFLossSync != 0, "LS");
    const char *name = first && info.name != nullptr ? info.name : "";
    char priority[16];
    if (telecom) {
        snprintf(priority, sizeof priority, "%u", fc.ConfiguredPriority != nullptr ? *fc.ConfiguredPriority : 128u);
        printf("%-17s %-9s %-25s %-8s %-6u %s\n", name, ptp_show_bag_encap_to_str(fc.Address.Encapsulation),
               ptp_show_bag_address_to_str(fc.Address), priority,
               fc.ConfiguredClockClass != nullptr ? *fc.ConfiguredClockClass : fc.ForeignClock.Class, state.c_str());
        return;
    }
    if (fc.ConfiguredPriority != nullptr)
        snprintf(priority, sizeof priority, "%u", *fc.ConfiguredPriority);
    else
        snprintf(priority, sizeof priority, "None");
    char priority1[16] = "n/a";
    if (fc.PTSFLossAnnounce == 0)
        snprintf(priority1, sizeof priority1, "%u", fc.ForeignClock.Priority1);
    printf("%-17s %-9s %-25s %-8s %-6s %s\n", name, ptp_show_bag_encap_to_str(fc.Address.Encapsulation),
           ptp_show_bag_address_to_str(fc.Address), priority, priority1, state.c_str());
}

void print_foreign_masters(const void *data, uint32_t length)
{
    ptp_show_decode<ptp_if_clock_info>(data, length, ptp_if_clock_info_bag_getfn(),
                                       "Failed to decode interface bag: %s\n", [](const ptp_if_clock_info &info) {
                                           bool first = true;
                                           for (uint32_t i = 0; i < info.ForeignClocks.count; ++i) {
                                               const ptp_bag_foreign_clock &fc = info.ForeignClocks.array[i];
                                               if (!passes_filter(fc))
                                                   continue;
                                               if (ptp_show_flag('b'))
                                                   print_brief(info, fc, first);
                                               else
                                                   print_detail(info, fc, first);
                                               first = false;
                                           }
                                       });
}

} // namespace

int ptp_show_foreign_masters_main(int argc, char **argv)
{
    if (!ptp_show_parse_options(argc, argv, ":abc:i:h:"))
        return 0;
    brief_header_printed = false;
    char path[128];
    if (!ptp_show_build_path("foreign-masters/if/", path, sizeof path))
        return 0;
    ptp_show_intfs(path, "Failed to bind to Nodra path '%s': %s\n", nullptr, print_foreign_masters);
    return 0;
}
