// The process manager's watch on the configuration database: configuration for an interface
// appearing starts the agent of that interface's node again when it had left by itself. The
// watch is a client of the database the daemon hosts, on a thread and event manager of its own
// (a blocking call from the daemon's own loop could never be answered).
#include <atomic>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>

#include "nodra.h"
#include "nodra_service.h"
#include "sysmgr.h"
#include "sysmgr_chassis.h"
#include "sysmgr_host.h"

namespace {

struct watch_type {
    std::thread thread;
    std::atomic<bool> stop{false};
    event_mgr_type *evm = nullptr;
};

watch_type &watch()
{
    static watch_type w;
    return w;
}

// The chassis interface a database path is about, if any: configuration below "/cfg/if/act/"
// (the name runs to "/ptp/"), operational data and actions below an ".../if/" (the name runs to
// the end, or to what follows it of the item).
const chassis_node_type *node_of_path(const chassis_desc_type *chassis, std::string_view path)
{
    constexpr std::string_view config = "/cfg/if/act/";
    std::string_view rest;
    if (path.starts_with(config)) {
        rest = path.substr(config.size());
        const size_t ptp = rest.find("/ptp/");
        if (ptp == std::string_view::npos)
            return nullptr;
        rest = rest.substr(0, ptp);
    } else if (path.starts_with("/oper/") || path.starts_with("/action/")) {
        const size_t at = path.find("/if/");
        if (at == std::string_view::npos)
            return nullptr;
        rest = path.substr(at + 4);
    } else {
        return nullptr;
    }
    for (const chassis_node_type &node : chassis->nodes)
        for (const chassis_intf_type &intf : node.interfaces)
            if (rest.starts_with(intf.name) && (rest.size() == intf.name.size() || rest[intf.name.size()] == '/'))
                return &node;
    return nullptr;
}

// A client of the manager's: its node, and its name as its checkpoint owner ("tessel@110").
bool client_of(int32_t pid, uint32_t *node, std::string *name)
{
    return sysmgr_host_node_of(pid, node) && sysmgr_host_owner_of(pid, name);
}

// An interface's items, configuration and operational data, are the business of its node's
// processes only, as a distributed router hands each line card the configuration of its own
// interfaces and asks it for their state. Clients the manager did not start (tools, tests, this
// watch) and paths of interfaces the chassis does not name are not scoped.
bool item_for_node(uint32_t client_node, std::string_view path)
{
    const chassis_desc_type *chassis = sysmgr_chassis();
    if (chassis == nullptr)
        return true;
    const chassis_node_type *node = node_of_path(chassis, path);
    return node == nullptr || node->node_id == client_node;
}

constexpr nodra_service_scope_td chassis_scope{client_of, item_for_node};

zerrno on_item(const nodra_notify_event_info_td *event, void *, const void *)
{
    if ((event->event & (NODRA_EVENT_CREATE | NODRA_EVENT_SET)) == 0)
        return 0; // a delete is configuration going, not appearing
    const chassis_desc_type *chassis = sysmgr_chassis();
    const chassis_node_type *node =
        chassis == nullptr ? nullptr : node_of_path(chassis, std::string("/cfg/if/act/") + event->path);
    if (node != nullptr)
        sysmgr_host_config_appeared(node->node_id, event->sequence);
    return 0;
}

zerrno on_global_item(const nodra_notify_event_info_td *event, void *, const void *)
{
    if ((event->event & (NODRA_EVENT_CREATE | NODRA_EVENT_SET)) != 0)
        sysmgr_host_global_config_appeared(event->sequence);
    return 0;
}

// One watch: a binding and its notification registration.
struct watched_type {
    const char *bind;
    const char *pattern;
    nodra_notify_fn callback;
    nodra_conn_td *conn = nullptr;
    uint32_t reg = UINT32_MAX;
};

void run(watch_type *w)
{
    watched_type watched[] = {{"/cfg/if/act/", ".*/ptp/", on_item}, {"/cfg/gl/", "ptp/", on_global_item}};
    for (watched_type &x : watched) {
        zerrno rc = nodra_bind(&x.conn, x.bind, 0);
        if (rc == 0)
            rc = nodra_register_notification(x.conn, x.pattern, NODRA_EVENT_CREATE | NODRA_EVENT_SET, 0, x.callback,
                                             w->evm, nullptr, nullptr, 0, &x.reg);
        if (rc != 0)
            fprintf(stderr, "platform daemon: configuration below %s will not restart processes: %s\n", x.bind,
                    zerr_strerror(rc));
    }
    while (!w->stop.load()) {
        event_type *ev = event_block(w->evm);
        if (ev != nullptr)
            zq_event_dispatch(ev);
    }
    for (watched_type &x : watched) {
        if (x.reg != UINT32_MAX)
            nodra_notification_unregister(x.reg);
        if (x.conn != nullptr)
            nodra_unbind(x.conn);
    }
}

} // namespace

zerrno sysmgr_config_watch_init(event_mgr_type *, sockmsg_server_type *)
{
    watch_type &w = watch();
    const chassis_desc_type *chassis = sysmgr_chassis();
    if (chassis != nullptr)
        nodra_service_set_scope(&chassis_scope);
    // The watch's notifications come on a thread of their own, later than the commits they tell
    // of; a commit's number tells one a leaving process had seen from one after it left.
    sysmgr_host_set_config_sequence(nodra_service_sequence);
    bool wanted = false;
    for (size_t i = 0; chassis != nullptr && i < chassis->processes.size(); ++i)
        wanted = wanted || chassis->processes[i].restart_on_config || chassis->processes[i].restart_on_global_config;
    if (!wanted || w.evm != nullptr)
        return 0;
    w.evm = event_create_manager(nullptr, nullptr, 0);
    if (w.evm == nullptr)
        return SYSMGR_ERR_NO_MEMORY;
    w.stop = false;
    w.thread = std::thread(run, &w);
    return 0;
}

void sysmgr_config_watch_shutdown(void)
{
    nodra_service_set_scope(nullptr);
    sysmgr_host_set_config_sequence(nullptr);
    watch_type &w = watch();
    if (w.evm == nullptr)
        return;
    w.stop = true;
    event_manager_wakeup(w.evm);
    w.thread.join();
    event_manager_destroy(w.evm);
    w.evm = nullptr;
}
