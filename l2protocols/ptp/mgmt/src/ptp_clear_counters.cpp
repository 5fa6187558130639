// ptp_clear_counters: sets counters back to zero through the database's action items: the packet
// (-p) and agent event (-e) counters of an interface (-i) or node (-h), the controller's event
// counters (-g) of a node, or all of them everywhere (-a).
#include <cstdlib>
#include <string>

#include "ptp_nodes.h"
#include "ptp_show_utils.h"

namespace {

// The items of each group, below "/action/ptp/".
struct clear_group_type {
    char letter;
    const char *interface_item; // "%s%s" with the interface name; null: no interface items
    const char *node_item;      // "node/%x/%s" with the node
};
constexpr clear_group_type clear_groups[] = {
    {'p', "packet-counters/if/", "packet-counters"},
    {'e', "event-counters/if/", "ma-event-counters"},
    {'g', nullptr, "ctrlr-event-counters"},
};

// One item to zero; a failure is reported and the next item is cleared all the same.
void clear_item(nodra_conn_td *conn, const char *item)
{
    const uint32_t zero = 0;
    const zerrno rc = nodra_item_set(conn, item, NODRA_ITEM_DATATYPE_UINT32, &zero, sizeof zero, 0);
    if (rc != 0 && !ptp_show_not_found(rc))
        printf("Failed to clear item '%s': %s\n", item, zerr_strerror(rc));
}

void clear_interface(nodra_conn_td *conn, const char *ifname)
{
    for (const clear_group_type &group : clear_groups) {
        if (group.interface_item == nullptr || !ptp_show_flag(group.letter))
            continue;
        // Built whole: a name cut to fit a buffer could be another interface's.
        clear_item(conn, (std::string(group.interface_item) + ifname).c_str());
    }
}

void clear_node(nodra_conn_td *conn, uint32_t node)
{
    for (const clear_group_type &group : clear_groups) {
        if (!ptp_show_flag(group.letter))
            continue;
        char item[128];
        snprintf(item, sizeof item, "node/%x/%s", node, group.node_item);
        clear_item(conn, item);
    }
}

void clear_everywhere(nodra_conn_td *conn)
{
    char(*names)[64] = nullptr;
    uint32_t count = 0;
    ptp_show_list_intfs(&names, &count);
    for (uint32_t i = 0; i < count; ++i)
        clear_interface(conn, names[i]);
    free(names);
    uint32_t *nodes = nullptr;
    const zerrno rc = ptp_nodes_list(&nodes, &count);
    if (rc != 0 && !ptp_show_not_found(rc))
        printf("Failed to list nodes: %s\n", zerr_strerror(rc));
    for (uint32_t i = 0; i < count; ++i)
        clear_node(conn, nodes[i]);
    free(nodes);
}

} // namespace

int ptp_clear_counters_main(int argc, char **argv)
{
    if (!ptp_show_parse_options(argc, argv, ":i:h:apeg"))
        return 0;
    nodra_conn_td *conn = nullptr;
    const zerrno rc = ptp_show_bind(&conn, "/action/ptp/");
    if (rc != 0) {
        printf("Failed to bind to Nodra: %s\n", zerr_strerror(rc));
        return 0;
    }
    if (ptp_show_flag('a')) {
        clear_everywhere(conn);
    } else {
        if (ptp_show_options.ifname != nullptr)
            clear_interface(conn, ptp_show_options.ifname);
        if (ptp_show_options.node != PTP_SHOW_NO_NODE)
            clear_node(conn, ptp_show_options.node);
    }
    ptp_show_unbind(conn);
    return 0;
}
