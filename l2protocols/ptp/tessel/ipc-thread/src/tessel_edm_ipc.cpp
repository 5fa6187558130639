#include "tessel_edm_ipc.h"

#include <unistd.h>

#include <iterator>

#include "nodra_backend.h"
#include "ptp_bags.h"
#include "ptp_syslog.h"
#include "tessel_edm.h"
#include "tessel_stats.h"
#include "tessel_thread_ctrl.h"

namespace {

constexpr uint32_t NOT_REGISTERED = 0xFFFFFFFFu;
// Bind options: per-interface paths, and the node-relative ones ("&&").
constexpr uint32_t BIND_IF = 1;
constexpr uint32_t BIND_NODE = 17;

struct if_path_type {
    const char *path;
    bool action;
    uint32_t flag;
    nodra_conn_td *bind;
    uint32_t registration;
};
// By the protocol thread's item-table index (tessel_edm_if_schemas).
if_path_type if_paths[TESSEL_EDM_IF_PATH_COUNT] = {
    {"/oper/ptp/interface/if/", false, 0, nullptr, NOT_REGISTERED},
    {"/oper/ptp/foreign-masters/if/", false, 0, nullptr, NOT_REGISTERED},
    {"/oper/ptp/packet-counters/if/", false, 0, nullptr, NOT_REGISTERED},
    {"/oper/ptp/idb/if/", false, 0, nullptr, NOT_REGISTERED},
    {"/oper/ptp/event-counters/if/", false, 0, nullptr, NOT_REGISTERED},
    {"/oper/ptp/unicast-peers/if/", false, 0, nullptr, NOT_REGISTERED},
    {"/oper/ptp/gl/dataset/port-ds/if/", false, 1, nullptr, NOT_REGISTERED},
    {"/oper/ptp/config-errors/if/", false, 0, nullptr, NOT_REGISTERED},
    {"/oper/ptp/interop/if/", false, 0, nullptr, NOT_REGISTERED},
    {"/action/ptp/packet-counters/if/", true, 0, nullptr, NOT_REGISTERED},
    {"/action/ptp/event-counters/if/", true, 0, nullptr, NOT_REGISTERED},
};

struct node_item_type {
    const char *pattern;
    uint32_t registration;
};
node_item_type node_oper_items[] = {
    {"interface/if/", NOT_REGISTERED},     {"foreign-masters/if/", NOT_REGISTERED},
    {"idb/if/", NOT_REGISTERED},           {"unicast-peers/if/", NOT_REGISTERED},
    {"config-errors/if/", NOT_REGISTERED}, {"packet-counters", NOT_REGISTERED},
    {"ma-event-counters", NOT_REGISTERED}, {"summary", NOT_REGISTERED},
};
node_item_type node_action_items[] = {
    {"packet-counters", NOT_REGISTERED},
    {"ma-event-counters", NOT_REGISTERED},
};
nodra_conn_td *node_oper_bind;
nodra_conn_td *node_action_bind;

bool library_found;

bool nodra_library_present()
{
    if (!library_found) {
        library_found = access(nodra_client_library_path(), R_OK) == 0;
    }
    return library_found;
}

zerrno guarded_bind(nodra_conn_td **conn, const char *path, uint32_t option)
{
    if (!nodra_library_present()) {
        return NODRA_ERR_BIND_NO_LIBRARY;
    }
    const zerrno rc = nodra_bind(conn, path, option);
    if (rc != 0) {
        *conn = nullptr;
    }
    return rc;
}

zerrno fail(const char *text, zerrno rc)
{
    ptp_syslog_init_failed(text, zerr_strerror(rc));
    return rc;
}

zerrno read_fns(nodra_edm_fns_td *fns)
{
    zerrno rc = nodra_edm_fns_init(fns);
    if (rc == 0) {
        rc = nodra_edm_fns_get_init(fns, tessel_edm_ipc_get);
    }
    if (rc == 0) {
        rc = nodra_edm_fns_list_init(fns, tessel_edm_ipc_list);
    }
    if (rc == 0) {
        rc = nodra_edm_fns_datalist_init(fns, tessel_edm_ipc_datalist);
    }
    return rc;
}

zerrno set_fns(nodra_edm_fns_td *fns)
{
    zerrno rc = nodra_edm_fns_init(fns);
    if (rc == 0) {
        rc = nodra_edm_fns_set_init(fns, tessel_edm_ipc_set);
    }
    return rc;
}

zerrno forward(zerrno (*send)(void *), nodra_edm_request_td *request)
{
    tessel_stats_increment_node_event_counter(TESSEL_NODE_EVENT_XTHREAD_EDM_REQUESTS);
    return send(request);
}

} // namespace

zerrno tessel_edm_ipc_get(nodra_edm_request_td *request, void *)
{
    return forward(tessel_thread_ctrl_send_edm_get, request);
}

zerrno tessel_edm_ipc_list(nodra_edm_request_td *request, void *)
{
    return forward(tessel_thread_ctrl_send_edm_list, request);
}

zerrno tessel_edm_ipc_datalist(nodra_edm_request_td *request, void *)
{
    return forward(tessel_thread_ctrl_send_edm_datalist, request);
}

zerrno tessel_edm_ipc_set(nodra_edm_request_td *request, void *)
{
    return forward(tessel_thread_ctrl_send_edm_set, request);
}

zerrno tessel_edm_init(event_mgr_type *evm)
{
    zerrno rc = 0;
    // Read paths: bind, then register.
    for (uint32_t i = 0; i < TESSEL_EDM_IF_PATH_COUNT; i++) {
        if (!if_paths[i].action && (rc = guarded_bind(&if_paths[i].bind, if_paths[i].path, BIND_IF)) != 0) {
            return fail("Failed to bind to Nodra for per-interface EDMs: ", rc);
        }
    }
    for (uint32_t i = 0; i < TESSEL_EDM_IF_PATH_COUNT; i++) {
        if (if_paths[i].action) {
            continue;
        }
        nodra_edm_fns_td fns;
        if ((rc = read_fns(&fns)) != 0) {
            return fail("Failed to initialize EDM functions: ", rc);
        }
        if ((rc = nodra_register_edm2(if_paths[i].bind, "", &fns, evm, tessel_edm_if_schemas[i], if_paths[i].flag,
                                      &if_paths[i].registration)) != 0) {
            if_paths[i].registration = NOT_REGISTERED;
            return fail("Failed to register for per-interface EDMs: ", rc);
        }
    }
    // Clear actions.
    for (uint32_t i = 0; i < TESSEL_EDM_IF_PATH_COUNT; i++) {
        if (if_paths[i].action && (rc = guarded_bind(&if_paths[i].bind, if_paths[i].path, BIND_IF)) != 0) {
            return fail("Failed to bind to Nodra for per-interface EDMs: ", rc);
        }
    }
    for (uint32_t i = 0; i < TESSEL_EDM_IF_PATH_COUNT; i++) {
        if (!if_paths[i].action) {
            continue;
        }
        nodra_edm_fns_td fns;
        if ((rc = set_fns(&fns)) != 0) {
            return fail("Failed to initialize EDM functions: ", rc);
        }
        if ((rc = nodra_register_edm2(if_paths[i].bind, "", &fns, evm, tessel_edm_if_schemas[i], 0,
                                      &if_paths[i].registration)) != 0) {
            if_paths[i].registration = NOT_REGISTERED;
            return fail("Failed to register for per-interface EDMs: ", rc);
        }
    }
    // The node's own items.
    if ((rc = guarded_bind(&node_oper_bind, "/oper/ptp/&&/", BIND_NODE)) != 0) {
        return fail("Failed to bind to Nodra for node oper EDM: ", rc);
    }
    for (node_item_type &item : node_oper_items) {
        nodra_edm_fns_td fns;
        if ((rc = read_fns(&fns)) != 0) {
            return fail("Failed to initialize EDM functions: ", rc);
        }
        if ((rc = nodra_register_edm2(node_oper_bind, item.pattern, &fns, evm, &tessel_edm_node_oper_schema, 0,
                                      &item.registration)) != 0) {
            item.registration = NOT_REGISTERED;
            return fail("Failed to register for per-node EDMs: ", rc);
        }
    }
    if ((rc = guarded_bind(&node_action_bind, "/action/ptp/&&/", BIND_NODE)) != 0) {
        return fail("Failed to bind to Nodra for node act EDM: ", rc);
    }
    for (node_item_type &item : node_action_items) {
        nodra_edm_fns_td fns;
        if ((rc = set_fns(&fns)) != 0) {
            return fail("Failed to initialize EDM functions: ", rc);
        }
        if ((rc = nodra_register_edm2(node_action_bind, item.pattern, &fns, evm, &tessel_edm_node_action_schema, 0,
                                      &item.registration)) != 0) {
            item.registration = NOT_REGISTERED;
            return fail("Failed to register for per-node EDMs: ", rc);
        }
    }
    if ((rc = bag_register_all_ptp_bags()) != 0) {
        return fail("Failed to register bags: ", rc);
    }
    return 0;
}

void tessel_edm_shutdown(void)
{
    for (if_path_type &p : if_paths) {
        if (p.registration != NOT_REGISTERED) {
            (void)nodra_edm_unregister(p.registration);
            p.registration = NOT_REGISTERED;
        }
        if (p.bind != nullptr && nodra_library_present()) {
            (void)nodra_unbind(p.bind);
        }
        p.bind = nullptr;
    }
    for (node_item_type *items : {static_cast<node_item_type *>(node_oper_items), node_action_items}) {
        const size_t count = items == node_oper_items ? std::size(node_oper_items) : std::size(node_action_items);
        for (size_t i = 0; i < count; i++) {
            if (items[i].registration != NOT_REGISTERED) {
                (void)nodra_edm_unregister(items[i].registration);
                items[i].registration = NOT_REGISTERED;
            }
        }
    }
    for (nodra_conn_td **bind : {&node_oper_bind, &node_action_bind}) {
        if (*bind != nullptr && nodra_library_present()) {
            (void)nodra_unbind(*bind);
        }
        *bind = nullptr;
    }
}
