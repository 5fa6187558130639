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

// The interface of an item below "/cfg/if/act/": the path up to its "/ptp/" (interface names
// hold slashes themselves).
std::string interface_of(const char *path)
{
    const std::string p = path == nullptr ? "" : path;
    const size_t at = p.find("/ptp/");
    return at == std::string::npos ? "" : p.substr(0, at);
}

// Items of an interface the chassis places on a node go to that node's processes only, as a
// distributed router hands each line card the configuration of its own interfaces. Clients the
// manager did not start (tools, tests, this watch) and items of interfaces the chassis does not
// name are not scoped.
bool item_for_client(int32_t pid, std::string_view path)
{
    constexpr std::string_view interfaces = "/cfg/if/act/";
    if (!path.starts_with(interfaces))
        return true;
    const std::string name = interface_of(std::string(path.substr(interfaces.size())).c_str());
    const chassis_desc_type *chassis = sysmgr_chassis();
    uint32_t client_node = 0;
    if (name.empty() || chassis == nullptr || !sysmgr_host_node_of(pid, &client_node))
        return true;
    for (const chassis_node_type &node : chassis->nodes)
        if (chassis_find_intf(&node, name) != nullptr)
            return node.node_id == client_node;
    return true;
}

zerrno on_item(const nodra_notify_event_info_td *event, void *, const void *)
{
    if ((event->event & (NODRA_EVENT_CREATE | NODRA_EVENT_SET)) == 0)
        return 0; // a delete is configuration going, not appearing
    const std::string name = interface_of(event->path);
    const chassis_desc_type *chassis = sysmgr_chassis();
    if (name.empty() || chassis == nullptr)
        return 0;
    for (const chassis_node_type &node : chassis->nodes)
        if (chassis_find_intf(&node, name) != nullptr)
            sysmgr_host_config_appeared(node.node_id);
    return 0;
}

void run(watch_type *w)
{
    nodra_conn_td *conn = nullptr;
    uint32_t reg = UINT32_MAX;
    zerrno rc = nodra_bind(&conn, "/cfg/if/act/", 0);
    if (rc == 0)
        rc = nodra_register_notification(conn, ".*/ptp/", NODRA_EVENT_CREATE | NODRA_EVENT_SET, 0, on_item, w->evm,
                                         nullptr, nullptr, 0, &reg);
    if (rc != 0)
        fprintf(stderr, "platform daemon: configuration will not restart the agents: %s\n", zerr_strerror(rc));
    while (!w->stop.load()) {
        event_type *ev = event_block(w->evm);
        if (ev != nullptr)
            zq_event_dispatch(ev);
    }
    if (reg != UINT32_MAX)
        nodra_notification_unregister(reg);
    if (conn != nullptr)
        nodra_unbind(conn);
}

} // namespace

zerrno sysmgr_config_watch_init(event_mgr_type *, sockmsg_server_type *)
{
    watch_type &w = watch();
    const chassis_desc_type *chassis = sysmgr_chassis();
    if (chassis != nullptr)
        nodra_service_set_scope(item_for_client);
    bool wanted = false;
    for (size_t i = 0; chassis != nullptr && i < chassis->processes.size(); ++i)
        wanted = wanted || chassis->processes[i].restart_on_config;
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
    watch_type &w = watch();
    if (w.evm == nullptr)
        return;
    w.stop = true;
    event_manager_wakeup(w.evm);
    w.thread.join();
    event_manager_destroy(w.evm);
    w.evm = nullptr;
}
