// ptp_show_events_tool: the agent's event counters of an interface or of a node;
// ptp_show_controller_events: the controller's global event counters, per node.
#include <array>
#include <cstdlib>

#include "ptp_bags.h"
#include "ptp_nodes.h"
#include "ptp_show_utils.h"
#include "quorrin_stats.h"
#include "sysmgr.h"
#include "tessel_stats.h"

namespace {

struct ptp_show_events_args {
    const char *ifname;
    uint32_t location; // NODEID_INVALID: not given
};
ptp_show_events_args args;

void print_event_header()
{
    printf("  Event                                                        Count\n"
           "  ------------------------------------------------------------------\n");
}

// One row per counter, named from the counters' own table of names.
template <size_t N>
void print_events(const std::array<const char *, N> &names, const uint32_t (&counts)[N])
{
    for (size_t i = 0; i < N; ++i)
        printf("  %-55s %10u\n", names[i], counts[i]);
}

void print_interface_events(const void *data, uint32_t length)
{
    ptp_show_decode<ptp_if_event_counter_info>(
        data, length, ptp_if_event_counter_info_bag_getfn(), "Failed to decode interface event counter bag: %s\n",
        [](const ptp_if_event_counter_info &info) {
            print_event_header();
            print_events(tessel_stats_ipc_idb_event_names, info.IPCThreadEventCounters);
            print_events(tessel_stats_proto_idb_event_names, info.ProtocolThreadEventCounters);
        });
}

void print_node_events(const void *data, uint32_t length)
{
    ptp_show_decode<ptp_node_event_counter_info>(
        data, length, ptp_node_event_counter_info_bag_getfn(), "Failed to decode node event counter bag: %s\n",
        [](const ptp_node_event_counter_info &info) {
            print_event_header();
            print_events(tessel_stats_node_event_names, info.NodeEventCounters);
            print_events(tessel_stats_ipc_idb_event_names, info.InterfaceIPCThreadEventCounters);
            print_events(tessel_stats_proto_idb_event_names, info.InterfaceProtocolThreadEventCounters);
        });
}

void print_controller_events(const void *data, uint32_t length)
{
    ptp_show_decode<sardo_event_counter_info>(
        data, length, sardo_event_counter_info_bag_getfn(), "Failed to decode global events bag: %s\n",
        [](const sardo_event_counter_info &info) {
            print_event_header();
            print_events(quorrin_gl_event_counter_names, info.GlobalEventCounters);
        });
}

void show_controller_events(uint32_t node)
{
    char path[128];
    snprintf(path, sizeof path, "/oper/ptp/node/%x/ctrlr-event-counters", node);
    ptp_show_item_at(path, "Failed to bind to Nodra on path '%s': %s\n", "Failed to get controller events item: %s\n",
                     print_controller_events);
}

} // namespace

int ptp_show_events_tool_main(int argc, char **argv)
{
    if (!ptp_show_parse_options(argc, argv, ":i:h:"))
        return 0;
    args = {ptp_show_options.ifname,
            ptp_show_options.node != PTP_SHOW_NO_NODE ? ptp_show_options.node : NODEID_INVALID};
    if (!ptp_show_check_interface_or_location())
        return 0;
    if (args.ifname != nullptr) {
        ptp_show_item("/oper/ptp/event-counters/if/", args.ifname, "Failed to bind to Nodra path %s: %s\n",
                      "Failed to get event counter information: %s\n", print_interface_events);
        return 0;
    }
    char path[128];
    if (!ptp_show_build_path("", path, sizeof path))
        return 0;
    ptp_show_item(path, "ma-event-counters", "Failed to bind to Nodra path %s: %s\n",
                  "Failed to get event counter information: %s\n", print_node_events);
    return 0;
}

int ptp_show_controller_events_main(int argc, char **argv)
{
    if (!ptp_show_parse_options(argc, argv, ":h:"))
        return 0;
    if (ptp_show_options.node != PTP_SHOW_NO_NODE) {
        show_controller_events(ptp_show_options.node);
        return 0;
    }
    uint32_t *nodes = nullptr;
    uint32_t count = 0;
    const zerrno rc = ptp_nodes_list(&nodes, &count);
    if (rc != 0 && !ptp_show_not_found(rc))
        printf("Failed to list nodes: %s\n", zerr_strerror(rc));
    for (uint32_t i = 0; i < count; ++i)
        show_controller_events(nodes[i]);
    free(nodes);
    return 0;
}
