#include "tessel_edm.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "nodra.h"
#include "ptp_bags.h"
#include "tessel_assert.h"
#include "tessel_ipc_db.h"
#include "tessel_pm_log.h"
#include "tessel_port_mgr_deps.h"
#include "tessel_proto_db.h"
#include "tessel_stats.h"

namespace {

constexpr uint32_t TESSEL_AREA_EDM = tessel_debug_area("edm");
constexpr size_t TESSEL_EDM_KEY_SIZE = 128;
// The only list option taken: a plain walk.
constexpr uint32_t TESSEL_EDM_LIST_OPTION_WALK = 0x20;

#define TESSEL_EDM_DEBUG(format, ...) TESSEL_PM_DEBUG(TESSEL_AREA_EDM, 0, format __VA_OPT__(, ) __VA_ARGS__)
#define TESSEL_EDM_DEBUG_ERR(format, ...) TESSEL_PM_DEBUG_ERR(TESSEL_AREA_EDM, 0, format __VA_OPT__(, ) __VA_ARGS__)

// ---- Saved packet-counter request --------------------------------------------------------------

struct saved_request_type {
    tessel_edm_packet_counter_req_type kind = TESSEL_EDM_PACKET_COUNTER_REQ_NONE;
    // Only the database's request is kept: the records it names are looked up afresh on resume,
    // so an interface that went away meanwhile is answered as unknown.
    nodra_edm_request_td *request = nullptr;
};
saved_request_type saved;
bool resuming;

// Unless resuming, asks for fresh offload statistics; 115 when the answer must wait for them.
zerrno tessel_edm_packet_counters_defer(tessel_edm_packet_counter_req_type kind, nodra_edm_request_td *request)
{
    if (resuming) {
        return 0;
    }
    uint32_t pending = 0;
    const zerrno rc = tessel_offload_get_stats(&pending);
    if (rc != 0) {
        return rc;
    }
    if (pending == 0) {
        return 0;
    }
    if (saved.kind != TESSEL_EDM_PACKET_COUNTER_REQ_NONE) {
        tessel_internal_error("Second saved packet-counter request", __FILE__, __LINE__);
    }
    saved.kind = kind;
    saved.request = request;
    return NODRA_EDM_IN_PROGRESS;
}

const backend_schema_td *schema_of(const nodra_edm_request_td *request)
{
    return static_cast<const backend_schema_td *>(request->item_table);
}

zerrno encode(const void *record, const bag_descriptor_type *descriptor, uint8_t **bag, uint32_t *length)
{
    return bag_encode(record, descriptor, bag, length);
}

// ---- Per-interface builders --------------------------------------------------------------------

// (IPC record, name flag, data flag, out key, out bag, out length).
using tessel_edm_builder_fn = zerrno (*)(tessel_ipc_idb_type *idb, bool name, bool data, char *key, uint8_t **bag,
                                         uint32_t *length);

tessel_proto_idb_type *proto_record_of(const tessel_ipc_idb_type *idb)
{
    tessel_proto_idb_type *proto = nullptr;
    if (tessel_proto_db_get_by_ifname(idb->header.ifname, &proto) != 0) {
        return nullptr;
    }
    return proto;
}

void write_key(const tessel_ipc_idb_type *idb, char *key)
{
    std::snprintf(key, TESSEL_EDM_KEY_SIZE, "%s", idb->header.ifname);
}

void fill_packet_counters(const tessel_packet_counters_type &in, ptp_bag_packet_counters *out)
{
    static_assert(sizeof(ptp_bag_packet_counters) == (3 * TESSEL_PACKET_COUNTER_CLASS_COUNT + 3) * 4);
    uint32_t values[3 * TESSEL_PACKET_COUNTER_CLASS_COUNT + 3] = {};
    uint32_t totals[3] = {};
    for (uint32_t c = 0; c < TESSEL_PACKET_COUNTER_CLASS_COUNT; c++) {
        values[3 * c] = in.sent[c];
        values[3 * c + 1] = in.received[c];
        values[3 * c + 2] = in.dropped[c];
        totals[0] += in.sent[c];
        totals[1] += in.received[c];
        totals[2] += in.dropped[c];
    }
    std::memcpy(&values[3 * TESSEL_PACKET_COUNTER_CLASS_COUNT], totals, sizeof totals);
    std::memcpy(out, values, sizeof values);
}

zerrno tessel_edm_if_packet_counters_build(tessel_ipc_idb_type *idb, bool name, bool data, char *key, uint8_t **bag,
                                           uint32_t *length)
{
    if (name) {
        write_key(idb, key);
    }
    if (!data) {
        return 0;
    }
    ptp_if_packet_counter_info info{};
    info.Name = idb->header.ifname;
    const tessel_proto_idb_type *proto = proto_record_of(idb);
    if (proto != nullptr) {
        info.internal_port_number = proto->port_num;
        if (proto->packet_counters != nullptr) {
            fill_packet_counters(*tessel_stats_intf_entry_counters(proto->packet_counters), &info.Counters);
        }
    }
    const zerrno rc = encode(&info, ptp_if_packet_counter_info_bag_getfn(), bag, length);
    if (rc != 0) {
        TESSEL_EDM_DEBUG_ERR("%s: [ERROR] Failed to encode packet counters bag for interface %s (0x%8.8x): %s",
                             idb->header.ifname, rc, zerr_strerror(rc));
    }
    return rc;
}

zerrno tessel_edm_if_event_counters_build(tessel_ipc_idb_type *idb, bool name, bool data, char *key, uint8_t **bag,
                                          uint32_t *length)
{
    if (name) {
        write_key(idb, key);
    }
    if (!data) {
        return 0;
    }
    ptp_if_event_counter_info info{};
    static_assert(sizeof(info.ProtocolThreadEventCounters) == sizeof(tessel_proto_idb_type::event_counters));
    static_assert(sizeof(info.IPCThreadEventCounters) == sizeof(tessel_ipc_idb_type::event_counters));
    const tessel_proto_idb_type *proto = proto_record_of(idb);
    if (proto != nullptr) {
        std::memcpy(info.ProtocolThreadEventCounters, proto->event_counters, sizeof proto->event_counters);
    }
    std::memcpy(info.IPCThreadEventCounters, idb->event_counters, sizeof idb->event_counters);
    const zerrno rc = encode(&info, ptp_if_event_counter_info_bag_getfn(), bag, length);
    if (rc != 0) {
        TESSEL_EDM_DEBUG_ERR("%s: [ERROR] Failed to encode event counter bag for interface %s (0x%8.8x): %s",
                             idb->header.ifname, rc, zerr_strerror(rc));
    }
    return rc;
}

// The per-interface items, by the registration's path index (bg_ident of their rows).
struct if_item_type {
    const char *what;      // in the get debug line
    const char *list_what; // in the list and data-list debug lines
    tessel_edm_builder_fn builder;
    bool deferred;
};
constexpr uint32_t IF_ITEM_PACKET_COUNTERS = 2;
constexpr uint32_t IF_ITEM_EVENT_COUNTERS = 4;
const if_item_type if_items[9] = {
    {"Interface info", "Interface info", nullptr, false},
    {"Foreign clock", "Foreign clock", nullptr, false},
    {"Interface packet counter", "Interface packet counter", tessel_edm_if_packet_counters_build, true},
    {"Interface IDB", "Interface IDB", nullptr, false},
    {"Interface event counter", "Interface event counter", tessel_edm_if_event_counters_build, false},
    {"Interface unicast peers", "Interface unicast peers", nullptr, false},
    {"Interface portDS", "Interface portDS", nullptr, false},
    {"Interface config_errors", "Config errors", nullptr, false},
    {"Interface interop info", "Interface interop info", nullptr, false},
};

const if_item_type *if_item_of(const bgen_args_td *args)
{
    return args->bg_ident < std::size(if_items) ? &if_items[args->bg_ident] : nullptr;
}

zerrno tessel_edm_if_get(nodra_edm_request_td *request, const bgen_args_td *args)
{
    const if_item_type *item = if_item_of(args);
    if (item == nullptr || item->builder == nullptr) {
        return NODRA_ERR_EDM_NOT_FOUND;
    }
    TESSEL_EDM_DEBUG("%s: %s get request. Item '%s'", item->what, request->path);
    const bgen_arg_td *name = bgen_args_get(args, 0, BGEN_ARG_STRING);
    if (name == nullptr || name->text == nullptr) {
        return NODRA_ERR_EDM_NOT_FOUND;
    }
    if (item->deferred) {
        const zerrno rc = tessel_edm_packet_counters_defer(TESSEL_EDM_PACKET_COUNTER_REQ_IF_GET, request);
        if (rc != 0) {
            return rc;
        }
    }
    tessel_ipc_idb_type *idb = nullptr;
    if (tessel_ipc_db_get_by_ifname(name->text, &idb) != 0 || idb == nullptr) {
        return NODRA_ERR_EDM_NOT_FOUND;
    }
    uint8_t *bag = nullptr;
    uint32_t length = 0;
    char key[TESSEL_EDM_KEY_SIZE] = {};
    zerrno rc = item->builder(idb, false, true, key, &bag, &length);
    if (rc == 0) {
        rc = nodra_edm_reply_set(request, NODRA_ITEM_DATATYPE_BAG, bag, length);
    }
    std::free(bag);
    return rc;
}

struct list_walk_type {
    nodra_edm_request_td *request;
    tessel_edm_builder_fn builder;
    bool data;
    uint32_t added;
    bool stopped;
    zerrno rc;
};

bool tessel_edm_if_list_walk_cb(tessel_ipc_idb_type *idb, void *context)
{
    auto *walk = static_cast<list_walk_type *>(context);
    if (walk->stopped) {
        return false; // a walk from a start name visits the rest regardless
    }
    if (walk->request->max_count != 0 && walk->added >= walk->request->max_count) {
        walk->rc =
            walk->data ? nodra_edm_datalist_set_more_flag(walk->request) : nodra_edm_list_set_more_flag(walk->request);
        walk->stopped = true;
        return false;
    }
    char key[TESSEL_EDM_KEY_SIZE] = {};
    uint8_t *bag = nullptr;
    uint32_t length = 0;
    zerrno rc = walk->builder(idb, true, walk->data, key, &bag, &length);
    if (rc == 0) {
        rc = walk->data ? nodra_edm_datalist_add(walk->request, key, NODRA_ITEM_DATATYPE_BAG, bag, length)
                        : nodra_edm_list_add(walk->request, key, NODRA_ITEM_DATATYPE_NAME);
    }
    std::free(bag);
    if (rc == 0) {
        walk->added++;
    } else if (rc != NODRA_ERR_EDM_NOT_FOUND) {
        walk->rc = rc;
        walk->stopped = true;
        return false;
    }
    return true;
}

zerrno tessel_edm_if_list_common(nodra_edm_request_td *request, const bgen_args_td *args, bool data)
{
    const if_item_type *item = if_item_of(args);
    if (item == nullptr || item->builder == nullptr) {
        return NODRA_ERR_EDM_NOT_FOUND;
    }
    TESSEL_EDM_DEBUG("%s: %s %s request. Item '%s'", item->list_what, data ? "datalist" : "list", request->path);
    if (item->deferred) {
        const zerrno rc = tessel_edm_packet_counters_defer(
            data ? TESSEL_EDM_PACKET_COUNTER_REQ_IF_DATALIST : TESSEL_EDM_PACKET_COUNTER_REQ_IF_LIST, request);
        if (rc != 0) {
            return rc;
        }
    }
    zerrno rc = data ? nodra_edm_datalist_create(request) : nodra_edm_list_create(request);
    if (rc != 0) {
        return rc;
    }
    if ((request->options & ~TESSEL_EDM_LIST_OPTION_WALK) != 0) {
        return NODRA_ERR_EDM_OPTION;
    }
    list_walk_type walk{request, item->builder, data, 0, false, 0};
    const char *start = request->start_key != nullptr && request->start_key[0] != '\0' ? request->start_key : nullptr;
    // The page starts after the last name of the previous one.
    tessel_ipc_db_walk(tessel_edm_if_list_walk_cb, &walk, start, true);
    if (walk.rc != 0) {
        return walk.rc;
    }
    return walk.added == 0 ? NODRA_ERR_EDM_NOT_FOUND : 0;
}

zerrno tessel_edm_if_list(nodra_edm_request_td *request, const bgen_args_td *args)
{
    return tessel_edm_if_list_common(request, args, false);
}

zerrno tessel_edm_if_datalist(nodra_edm_request_td *request, const bgen_args_td *args)
{
    return tessel_edm_if_list_common(request, args, true);
}

// ---- Node items --------------------------------------------------------------------------------

zerrno reply_bag(nodra_edm_request_td *request, const void *record, const bag_descriptor_type *descriptor,
                 const char *failure)
{
    uint8_t *bag = nullptr;
    uint32_t length = 0;
    zerrno rc = encode(record, descriptor, &bag, &length);
    if (rc != 0) {
        TESSEL_EDM_DEBUG_ERR(failure, zerr_strerror(rc));
        return rc;
    }
    rc = nodra_edm_reply_set(request, NODRA_ITEM_DATATYPE_BAG, bag, length);
    std::free(bag);
    return rc;
}

zerrno tessel_edm_node_packet_counters_get(nodra_edm_request_td *request, const bgen_args_td *)
{
    TESSEL_EDM_DEBUG("%s: Node packet counter get request. Item '%s'", request->path);
    const zerrno rc = tessel_edm_packet_counters_defer(TESSEL_EDM_PACKET_COUNTER_REQ_NODE_GET, request);
    if (rc != 0) {
        return rc;
    }
    ptp_node_packet_counter_info info{};
    if (const tessel_packet_counters_type *counters = tessel_stats_get_node_packet_counters(); counters != nullptr) {
        fill_packet_counters(*counters, &info.Counters);
    }
    static_assert(sizeof(info.DropReasons) == TESSEL_PACKET_DROP_REASON_COUNT * 4);
    if (const uint32_t *reasons = tessel_stats_get_node_drop_reasons(); reasons != nullptr) {
        std::memcpy(&info.DropReasons, reasons, sizeof info.DropReasons);
    }
    return reply_bag(request, &info, ptp_node_packet_counter_info_bag_getfn(),
                     "%s: [ERROR] Failed to encode node packet counters bag: %s");
}

zerrno tessel_edm_node_event_counters_get(nodra_edm_request_td *request, const bgen_args_td *)
{
    TESSEL_EDM_DEBUG("%s: Node event counter get request. Item '%s'", request->path);
    ptp_node_event_counter_info info{};
    if (const tessel_node_event_counters_type *block = tessel_stats_get_node_event_counters(); block != nullptr) {
        std::memcpy(info.InterfaceProtocolThreadEventCounters, block->proto_idb, sizeof block->proto_idb);
        std::memcpy(info.InterfaceIPCThreadEventCounters, block->ipc_idb, sizeof block->ipc_idb);
        std::memcpy(info.NodeEventCounters, block->node, sizeof block->node);
    }
    return reply_bag(request, &info, ptp_node_event_counter_info_bag_getfn(),
                     "%s: [ERROR] Failed to encode node event counters bag: %s");
}

bool tessel_edm_node_summary_info_cb(tessel_proto_idb_type *idb, void *context)
{
    auto *info = static_cast<ptp_summary_info *>(context);
    info->TotalInterfaces++;
    if (idb->port_num != 0) {
        info->TotalInterfacesValidPortNum++;
    }
    // The bag lists Slave before Uncalibrated; the state values run the other way.
    switch (idb->fsm.PortState) {
    case PTP_PORT_STATE_INITIALIZING: info->PortStateInitCount++; break;
    case PTP_PORT_STATE_FAULTY: info->PortStateFaultyCount++; break;
    case PTP_PORT_STATE_LISTEN: info->PortStateListeningCount++; break;
    case PTP_PORT_STATE_PRE_MASTER: info->PortStatePreMasterCount++; break;
    case PTP_PORT_STATE_MASTER: info->PortStateMasterCount++; break;
    case PTP_PORT_STATE_PASSIVE: info->PortStatePassiveCount++; break;
    case PTP_PORT_STATE_UNCALIBRATED: info->PortStateUncalibratedCount++; break;
    case PTP_PORT_STATE_SLAVE: info->PortStateSlaveCount++; break;
    default: tessel_internal_error("Unknown port state", __FILE__, __LINE__);
    }
    return true;
}

zerrno tessel_edm_node_summary_get(nodra_edm_request_td *request, const bgen_args_td *)
{
    TESSEL_EDM_DEBUG("%s: Node summary info get request. Item '%s'", request->path);
    ptp_summary_info info{};
    tessel_proto_db_walk(tessel_edm_node_summary_info_cb, &info, nullptr, false);
    return reply_bag(request, &info, ptp_summary_info_bag_getfn(), "%s: [ERROR] Failed to encode summary info bag: %s");
}

// ---- Clear actions -----------------------------------------------------------------------------

zerrno tessel_edm_if_packet_counters_clear(nodra_edm_request_td *request, const bgen_args_td *args)
{
    const bgen_arg_td *name = bgen_args_get(args, 0, BGEN_ARG_STRING);
    const char *ifname = name != nullptr && name->text != nullptr ? name->text : "";
    TESSEL_EDM_DEBUG("%s: Packet counter clear request for interface %s. Item '%s'", ifname, request->path);
    tessel_proto_idb_type *proto = nullptr;
    if (tessel_proto_db_get_by_ifname(ifname, &proto) != 0 || proto == nullptr) {
        return NODRA_ERR_EDM_NOT_FOUND;
    }
    tessel_stats_clear_if_packet_counters(proto);
    // Handle 0 would reset the offload statistics of every interface: an interface without a
    // handle has none of its own to clear.
    if (proto->header.ifhandle != 0) {
        tessel_offload_clear_stats(proto->header.ifhandle);
    }
    return 0;
}

zerrno tessel_edm_if_event_counters_clear(nodra_edm_request_td *request, const bgen_args_td *args)
{
    const bgen_arg_td *name = bgen_args_get(args, 0, BGEN_ARG_STRING);
    const char *ifname = name != nullptr && name->text != nullptr ? name->text : "";
    TESSEL_EDM_DEBUG("%s: Event counter clear request for interface %s. Item '%s'", ifname, request->path);
    tessel_ipc_idb_type *idb = nullptr;
    if (tessel_ipc_db_get_by_ifname(ifname, &idb) != 0 || idb == nullptr) {
        return NODRA_ERR_EDM_NOT_FOUND;
    }
    tessel_proto_idb_type *proto = nullptr;
    const zerrno rc = tessel_proto_db_get_by_ifname(ifname, &proto);
    if (rc != 0 && rc != PTP_ZERR_DB_NO_ENTRY) {
        return rc;
    }
    tessel_stats_clear_ipc_idb_event_counters(idb);
    if (proto != nullptr) {
        tessel_stats_clear_proto_idb_event_counters(proto);
    }
    return 0;
}

zerrno tessel_edm_node_packet_counters_clear(nodra_edm_request_td *request, const bgen_args_td *)
{
    TESSEL_EDM_DEBUG("%s: Node packet counter clear request. Item '%s'", request->path);
    tessel_stats_clear_node_packet_counters();
    tessel_offload_clear_stats(0);
    return 0;
}

zerrno tessel_edm_node_event_counters_clear(nodra_edm_request_td *request, const bgen_args_td *)
{
    TESSEL_EDM_DEBUG("%s: Node event counter clear request. Item '%s'", request->path);
    tessel_stats_clear_node_event_counters();
    return 0;
}

// ---- Item tables -------------------------------------------------------------------------------

// One per-interface path: the interface name is the whole path below the binding.
const backend_node_td if_nodes[] = {
    {nullptr, 0, BACKEND_NODE_ROOT, 1, -1, -1, 0, 1},
    {nullptr, 0, BGEN_ARG_STRING, -1, -1, 0, 1, 1},
};

#define TESSEL_EDM_READ_ROW(ident)                                                                                     \
    backend_row_td                                                                                                     \
    {                                                                                                                  \
        .kind = BACKEND_VALUE_NONE, .bg_ident = (ident), .edm_get = tessel_edm_if_get, .edm_list = tessel_edm_if_list, \
        .edm_datalist = tessel_edm_if_datalist                                                                         \
    }
const backend_row_td if_rows[9][1] = {
    {TESSEL_EDM_READ_ROW(0)}, {TESSEL_EDM_READ_ROW(1)}, {TESSEL_EDM_READ_ROW(2)},
    {TESSEL_EDM_READ_ROW(3)}, {TESSEL_EDM_READ_ROW(4)}, {TESSEL_EDM_READ_ROW(5)},
    {TESSEL_EDM_READ_ROW(6)}, {TESSEL_EDM_READ_ROW(7)}, {TESSEL_EDM_READ_ROW(8)},
};
const backend_row_td if_packet_clear_row[] = {
    {.kind = BACKEND_VALUE_NONE, .edm_set = tessel_edm_if_packet_counters_clear},
};
const backend_row_td if_event_clear_row[] = {
    {.kind = BACKEND_VALUE_NONE, .edm_set = tessel_edm_if_event_counters_clear},
};

const backend_schema_td if_schemas[TESSEL_EDM_IF_PATH_COUNT] = {
    {if_nodes, 2, if_rows[0], 1, 0},          {if_nodes, 2, if_rows[1], 1, 0},         {if_nodes, 2, if_rows[2], 1, 0},
    {if_nodes, 2, if_rows[3], 1, 0},          {if_nodes, 2, if_rows[4], 1, 0},         {if_nodes, 2, if_rows[5], 1, 0},
    {if_nodes, 2, if_rows[6], 1, 0},          {if_nodes, 2, if_rows[7], 1, 0},         {if_nodes, 2, if_rows[8], 1, 0},
    {if_nodes, 2, if_packet_clear_row, 1, 0}, {if_nodes, 2, if_event_clear_row, 1, 0},
};

// "interface/if/<name>", "foreign-masters/if/", "idb/if/", "unicast-peers/if/",
// "config-errors/if/", "packet-counters", "ma-event-counters", "summary".
const backend_node_td node_oper_nodes[] = {
    {nullptr, 0, BACKEND_NODE_ROOT, 1, -1, -1, 0, 1},             // 0
    {"interface", 0, BACKEND_NODE_NAMED, 9, 2, -1, 0, 1},         // 1
    {"foreign-masters", 0, BACKEND_NODE_NAMED, 11, 3, -1, 0, 1},  // 2
    {"idb", 0, BACKEND_NODE_NAMED, 13, 4, -1, 0, 1},              // 3
    {"unicast-peers", 0, BACKEND_NODE_NAMED, 15, 5, -1, 0, 1},    // 4
    {"config-errors", 0, BACKEND_NODE_NAMED, 17, 6, -1, 0, 1},    // 5
    {"packet-counters", 0, BACKEND_NODE_NAMED, -1, 7, 5, 0, 0},   // 6
    {"ma-event-counters", 0, BACKEND_NODE_NAMED, -1, 8, 6, 0, 0}, // 7
    {"summary", 0, BACKEND_NODE_NAMED, -1, -1, 7, 0, 0},          // 8
    {"if", 0, BACKEND_NODE_NAMED, 10, -1, -1, 0, 1},              // 9
    {nullptr, 0, BGEN_ARG_STRING, -1, -1, 0, 1, 1},               // 10
    {"if", 0, BACKEND_NODE_NAMED, 12, -1, -1, 0, 1},              // 11
    {nullptr, 0, BGEN_ARG_STRING, -1, -1, 1, 1, 1},               // 12
    {"if", 0, BACKEND_NODE_NAMED, 14, -1, -1, 0, 1},              // 13
    {nullptr, 0, BGEN_ARG_STRING, -1, -1, 2, 1, 1},               // 14
    {"if", 0, BACKEND_NODE_NAMED, 16, -1, -1, 0, 1},              // 15
    {nullptr, 0, BGEN_ARG_STRING, -1, -1, 3, 1, 1},               // 16
    {"if", 0, BACKEND_NODE_NAMED, 18, -1, -1, 0, 1},              // 17
    {nullptr, 0, BGEN_ARG_STRING, -1, -1, 4, 1, 1},               // 18
};
const backend_row_td node_oper_rows[] = {
    TESSEL_EDM_READ_ROW(0),
    TESSEL_EDM_READ_ROW(1),
    TESSEL_EDM_READ_ROW(3),
    TESSEL_EDM_READ_ROW(5),
    TESSEL_EDM_READ_ROW(7),
    {.kind = BACKEND_VALUE_NONE, .edm_get = tessel_edm_node_packet_counters_get},
    {.kind = BACKEND_VALUE_NONE, .edm_get = tessel_edm_node_event_counters_get},
    {.kind = BACKEND_VALUE_NONE, .edm_get = tessel_edm_node_summary_get},
};
#undef TESSEL_EDM_READ_ROW

const backend_node_td node_action_nodes[] = {
    {nullptr, 0, BACKEND_NODE_ROOT, 1, -1, -1, 0, 1},
    {"packet-counters", 0, BACKEND_NODE_NAMED, -1, 2, 0, 0, 0},
    {"ma-event-counters", 0, BACKEND_NODE_NAMED, -1, -1, 1, 0, 0},
};
const backend_row_td node_action_rows[] = {
    {.kind = BACKEND_VALUE_NONE, .edm_set = tessel_edm_node_packet_counters_clear},
    {.kind = BACKEND_VALUE_NONE, .edm_set = tessel_edm_node_event_counters_clear},
};

} // namespace

const backend_schema_td *const tessel_edm_if_schemas[TESSEL_EDM_IF_PATH_COUNT] = {
    &if_schemas[0], &if_schemas[1], &if_schemas[2], &if_schemas[3], &if_schemas[4],  &if_schemas[5],
    &if_schemas[6], &if_schemas[7], &if_schemas[8], &if_schemas[9], &if_schemas[10],
};
const backend_schema_td tessel_edm_node_oper_schema{node_oper_nodes, std::size(node_oper_nodes), node_oper_rows,
                                                    std::size(node_oper_rows), 0};
const backend_schema_td tessel_edm_node_action_schema{node_action_nodes, std::size(node_action_nodes), node_action_rows,
                                                      std::size(node_action_rows), 0};

// ---- Entry points ------------------------------------------------------------------------------

zerrno tessel_edm_get(void *request)
{
    TESSEL_ASSERT(tessel_thread_ctrl_is_proto_thread());
    auto *r = static_cast<nodra_edm_request_td *>(request);
    return backend_edm_get(schema_of(r), r);
}

zerrno tessel_edm_list(void *request)
{
    TESSEL_ASSERT(tessel_thread_ctrl_is_proto_thread());
    auto *r = static_cast<nodra_edm_request_td *>(request);
    return backend_edm_list(schema_of(r), r);
}

zerrno tessel_edm_datalist(void *request)
{
    TESSEL_ASSERT(tessel_thread_ctrl_is_proto_thread());
    auto *r = static_cast<nodra_edm_request_td *>(request);
    return backend_edm_datalist(schema_of(r), r);
}

zerrno tessel_edm_set(void *request)
{
    TESSEL_ASSERT(tessel_thread_ctrl_is_proto_thread());
    auto *r = static_cast<nodra_edm_request_td *>(request);
    return backend_edm_set(schema_of(r), r);
}

void tessel_edm_resume_packet_counters_request(void)
{
    TESSEL_ASSERT(tessel_thread_ctrl_is_proto_thread());
    nodra_edm_request_td *request = saved.request;
    const tessel_edm_packet_counter_req_type kind = saved.kind;
    if (kind == TESSEL_EDM_PACKET_COUNTER_REQ_NONE || request == nullptr) {
        tessel_internal_error("No saved packet-counter request", __FILE__, __LINE__);
    }
    resuming = true;
    zerrno rc = 0;
    switch (kind) {
    case TESSEL_EDM_PACKET_COUNTER_REQ_NODE_GET:
    case TESSEL_EDM_PACKET_COUNTER_REQ_IF_GET: rc = backend_edm_get(schema_of(request), request); break;
    case TESSEL_EDM_PACKET_COUNTER_REQ_IF_LIST: rc = backend_edm_list(schema_of(request), request); break;
    case TESSEL_EDM_PACKET_COUNTER_REQ_IF_DATALIST: rc = backend_edm_datalist(schema_of(request), request); break;
    default: tessel_internal_error("Unknown saved packet-counter request", __FILE__, __LINE__);
    }
    resuming = false;
    saved = saved_request_type{};
    tessel_thread_ctrl_reply(rc);
}
