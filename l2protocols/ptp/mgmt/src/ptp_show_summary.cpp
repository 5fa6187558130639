// ptp_show_summary: how many interfaces are in each port state, on one node or system-wide.
#include "ptp_bags.h"
#include "ptp_show_utils.h"

namespace {

void print_summary(const void *data, uint32_t length)
{
    ptp_show_decode<ptp_summary_info>(
        data, length, ptp_summary_info_bag_getfn(), "Failed to decode interface event counter bag: %s\n",
        [](const ptp_summary_info &s) {
            printf("====================================\nInterface port states\n"
                   "====================================\n");
            const struct {
                const char *name;
                uint32_t count;
            } rows[] = {{"INIT", s.PortStateInitCount},       {"LISTENING", s.PortStateListeningCount},
                        {"PASSIVE", s.PortStatePassiveCount}, {"PRE-MASTER", s.PortStatePreMasterCount},
                        {"MASTER", s.PortStateMasterCount},   {"UNCALIBRATED", s.PortStateUncalibratedCount},
                        {"SLAVE", s.PortStateSlaveCount},     {"FAULTY", s.PortStateFaultyCount}};
            for (const auto &row : rows)
                printf("%15s %-10u\n", row.name, row.count);
            printf("---------------------------\n");
            printf("%15s %-10u\n", "Total", s.TotalInterfaces);
        });
}

} // namespace

int ptp_show_summary_main(int argc, char **argv)
{
    if (!ptp_show_parse_options(argc, argv, ":ah:"))
        return 0;
    char path[128];
    if (ptp_show_options.node != PTP_SHOW_NO_NODE || !ptp_show_flag('a')) {
        if (!ptp_show_build_path("", path, sizeof path))
            return 0;
    } else {
        snprintf(path, sizeof path, "/oper/ptp/gl/");
    }
    ptp_show_item(path, "summary", "Failed to bind to Nodra path %s: %s\n",
                  "Failed to get PTP summary information: %s\n", print_summary);
    return 0;
}
