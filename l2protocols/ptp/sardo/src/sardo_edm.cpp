// The global operational items under "/oper/ptp/gl/": the controller publishes them under its own
// node's path, and each get here is answered from there, so that readers need not know where the
// controller runs. "summary" is the sum of every node's summary.
#include "sardo_edm.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bag.h"
#include "ptp_bags.h"
#include "ptp_nodes.h"
#include "ptp_syslog.h"
#include "sardo_debug.h"
#include "sardo_main.h"

namespace {

constexpr uint32_t AREA = SARDO_DEBUG_EDM;

constexpr const char *GL_OPER_BIND = "/oper/ptp/gl/";
constexpr const char *NODE_OPER_PREFIX = "/oper/ptp/node/";
constexpr const char *SUMMARY_ITEM = "summary";
// Bind modes: the global bind point, the controller's node, a node's summary read.
constexpr uint32_t BIND_GLOBAL = 5;
constexpr uint32_t BIND_CONTROLLER = 4;
constexpr uint32_t BIND_SUMMARY = 6;
constexpr int64_t NOT_REGISTERED = -1;
constexpr int64_t NO_NODE = -1;

struct item_row_type {
    const char *name;
    int64_t registration;
};

struct edm_state_type {
    std::array<item_row_type, 10> items{{
        {"config-errors", NOT_REGISTERED},
        {"advertised-clock", NOT_REGISTERED},
        {"grandmaster", NOT_REGISTERED},
        {"local-clock", NOT_REGISTERED},
        {"leap-seconds", NOT_REGISTERED},
        {SUMMARY_ITEM, NOT_REGISTERED},
        {"dataset/current-ds", NOT_REGISTERED},
        {"dataset/default-ds", NOT_REGISTERED},
        {"dataset/parent-ds", NOT_REGISTERED},
        {"dataset/time-properties-ds", NOT_REGISTERED},
    }};
    nodra_conn_td *gl_bind = nullptr;
    int64_t controller_node = NO_NODE;
    nodra_conn_td *controller_bind = nullptr;
    bool bags_registered = false;
};
edm_state_type edm;

zerrno init_failed(const char *prefix, zerrno rc)
{
    ptp_syslog_init_failed(prefix, zerr_strerror(rc));
    return rc;
}

zerrno guarded_bind(nodra_conn_td **conn, const char *path, uint32_t mode)
{
    if (!sardo_main_nodra_library_present()) {
        return NODRA_ERR_BIND_NO_LIBRARY;
    }
    const zerrno rc = _nodra_bind(conn, path, mode);
    if (rc != 0) {
        *conn = nullptr;
    }
    return rc;
}

void guarded_unbind(nodra_conn_td **conn)
{
    if (*conn != nullptr && sardo_main_nodra_library_present()) {
        _nodra_unbind(*conn);
    }
    *conn = nullptr;
}

std::string node_path(uint32_t node)
{
    char path[64];
    std::snprintf(path, sizeof path, "%s%x/", NODE_OPER_PREFIX, node);
    return path;
}

// The node whose items stand for the controller's: this node when it publishes, else the first
// listed; NO_NODE when none is listed or the list cannot be read.
int64_t controller_location()
{
    uint32_t *nodes = nullptr;
    uint32_t count = 0;
    const zerrno rc = ptp_nodes_list(&nodes, &count);
    int64_t chosen = NO_NODE;
    if (rc == 0 && count != 0) {
        chosen = nodes[0];
        for (uint32_t i = 0; i < count; i++) {
            if (nodes[i] == sardo_main_get_node_id()) {
                chosen = nodes[i];
            }
        }
    }
    std::free(nodes);
    if (chosen == NO_NODE) {
        SARDO_DEBUG(AREA, "%s: Could not determine controller location");
        ptp_trace<PTP_TRACE_SARDO_EDM_NO_CONTROLLER>({sardo_det()});
    }
    return chosen;
}

// Keeps the binding of the chosen node's path, moving it when the node changed.
zerrno controller_rebind(int64_t chosen)
{
    if (edm.controller_bind != nullptr && chosen == edm.controller_node) {
        return 0;
    }
    edm.controller_node = chosen;
    guarded_unbind(&edm.controller_bind);
    if (chosen == NO_NODE) {
        return 0;
    }
    const zerrno rc =
        guarded_bind(&edm.controller_bind, node_path(static_cast<uint32_t>(chosen)).c_str(), BIND_CONTROLLER);
    if (rc != 0) {
        init_failed("Failed to bind to Nodra for per-node oper EDM: ", rc);
    }
    return rc;
}

bool not_found(zerrno rc)
{
    return rc == NODRA_ERR_NOT_FOUND || rc == NODRA_ERR_EDM_NOT_FOUND;
}

// Adds one node's summary into *sum; a node without a readable summary adds nothing.
void add_node_summary(uint32_t node, ptp_summary_info *sum)
{
    const std::string path = node_path(node);
    nodra_conn_td *conn = nullptr;
    zerrno rc = guarded_bind(&conn, path.c_str(), BIND_SUMMARY);
    if (rc != 0) {
        SARDO_DEBUG_ERR(AREA, "%s: [ERROR] Failed to bind to Nodra path %s: %s", path.c_str(), zerr_strerror(rc));
        return;
    }
    uint32_t type = NODRA_ITEM_DATATYPE_BAG;
    void *data = nullptr;
    uint32_t length = 0;
    rc = nodra_item_get(conn, SUMMARY_ITEM, &type, &data, &length, 0);
    if (rc != 0 && !not_found(rc)) {
        SARDO_DEBUG_ERR(AREA, "%s: [ERROR] Failed to get PTP summary information: %s", zerr_strerror(rc));
    }
    ptp_summary_info node_sum{};
    if (rc == 0 &&
        bag_decode(static_cast<const uint8_t *>(data), length, &node_sum, ptp_summary_info_bag_getfn()) == 0) {
        // Each counter is added modulo 2^32.
        sum->PortStateInitCount += node_sum.PortStateInitCount;
        sum->PortStateListeningCount += node_sum.PortStateListeningCount;
        sum->PortStatePassiveCount += node_sum.PortStatePassiveCount;
        sum->PortStatePreMasterCount += node_sum.PortStatePreMasterCount;
        sum->PortStateMasterCount += node_sum.PortStateMasterCount;
        sum->PortStateSlaveCount += node_sum.PortStateSlaveCount;
        sum->PortStateUncalibratedCount += node_sum.PortStateUncalibratedCount;
        sum->PortStateFaultyCount += node_sum.PortStateFaultyCount;
        sum->TotalInterfaces += node_sum.TotalInterfaces;
        sum->TotalInterfacesValidPortNum += node_sum.TotalInterfacesValidPortNum;
        bag_free_indirections(&node_sum, ptp_summary_info_bag_getfn());
    }
    guarded_unbind(&conn);
    std::free(data);
}

zerrno summary_get(nodra_edm_request_td *request)
{
    uint32_t *nodes = nullptr;
    uint32_t count = 0;
    zerrno rc = ptp_nodes_list(&nodes, &count);
    if (rc == 0 && count == 0) {
        rc = NODRA_ERR_EDM_NOT_FOUND;
    }
    if (rc != 0) {
        std::free(nodes);
        return rc;
    }
    ptp_summary_info sum{};
    for (uint32_t i = 0; i < count; i++) {
        add_node_summary(nodes[i], &sum);
    }
    std::free(nodes);
    uint8_t *data = nullptr;
    uint32_t length = 0;
    rc = bag_encode(&sum, ptp_summary_info_bag_getfn(), &data, &length);
    if (rc != 0) {
        SARDO_DEBUG_ERR(AREA, "%s: [ERROR] Failed to encode summary info bag: %s", zerr_strerror(rc));
        return rc;
    }
    rc = nodra_edm_reply_set(request, NODRA_ITEM_DATATYPE_BAG, data, length);
    std::free(data);
    return rc;
}

zerrno forwarded_get(nodra_edm_request_td *request)
{
    if (edm.controller_bind == nullptr) {
        return 0; // no controller known: no data, and no error
    }
    uint32_t type = NODRA_ITEM_DATATYPE_BAG;
    void *data = nullptr;
    uint32_t length = 0;
    zerrno rc = nodra_item_get(edm.controller_bind, request->path, &type, &data, &length, 0);
    if (rc == 0) {
        rc = nodra_edm_reply_set(request, type, data, length);
    }
    std::free(data);
    return rc;
}

} // namespace

zerrno sardo_edm_init(event_mgr_type *evm)
{
    if (edm.gl_bind == nullptr) {
        const zerrno rc = guarded_bind(&edm.gl_bind, GL_OPER_BIND, BIND_GLOBAL);
        if (rc != 0) {
            return init_failed("Failed to bind to Nodra for global oper EDM: ", rc);
        }
    }
    for (item_row_type &row : edm.items) {
        if (row.registration != NOT_REGISTERED) {
            continue;
        }
        nodra_edm_fns_td fns{};
        zerrno rc = nodra_edm_fns_init(&fns);
        if (rc != 0) {
            return init_failed("Failed to initialize EDM functions: ", rc);
        }
        nodra_edm_fns_get_init(&fns, sardo_edm_get);
        uint32_t id = 0;
        rc = nodra_register_edm2(edm.gl_bind, row.name, &fns, evm, nullptr, 0, &id);
        if (rc != 0) {
            return init_failed("Failed to register with Nodra for oper EDM: ", rc);
        }
        row.registration = id;
    }
    // "summary" is decoded and encoded here.
    if (!edm.bags_registered) {
        const zerrno rc = bag_register_all_ptp_bags();
        if (rc != 0) {
            return init_failed("Failed to register bags: ", rc);
        }
        edm.bags_registered = true;
    }
    return 0;
}

void sardo_edm_shutdown(void)
{
    for (item_row_type &row : edm.items) {
        if (row.registration != NOT_REGISTERED) {
            nodra_edm_unregister(static_cast<uint32_t>(row.registration));
            row.registration = NOT_REGISTERED;
        }
    }
    guarded_unbind(&edm.gl_bind);
    guarded_unbind(&edm.controller_bind);
    edm.controller_node = NO_NODE;
}

zerrno sardo_edm_get(nodra_edm_request_td *request, void *)
{
    const char *item = request->path != nullptr ? request->path : "";
    SARDO_DEBUG(AREA, "%s: EDM get request for item '%s'", item);
    zerrno rc = controller_rebind(controller_location());
    if (rc == 0) {
        rc = std::strcmp(item, SUMMARY_ITEM) == 0 ? summary_get(request) : forwarded_get(request);
    }
    if (rc != 0) {
        SARDO_DEBUG_ERR(AREA, "%s: [ERROR] Failed to retrieve data from controller EDM for item %s: %s", item,
                        zerr_strerror(rc));
    }
    return rc;
}
