// The agent host: loaded plug-ins, their registrations, request dispatch over their columns, the
// trap-enable items and the notifications.
#include "snmp_host.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

struct snmp_mib_handle_ct {
    std::string module;
    std::string path;
    void *dl = nullptr;
    void (*init)(snmp_mib_handle_ct *, int) = nullptr;
    ObjectInfo *columns = nullptr;
    uint32_t column_count = 0;
    snmp_mib_debug_ct *debug = nullptr;
};

namespace {

struct root_registration {
    snmp_mib_handle_ct *mib;
    std::vector<snmp_oid_arcs> oids; // the root first, then the tables
};

struct trap_enable_registration {
    snmp_mib_handle_ct *mib;
    std::string item;
    snmp_enable_traps_fn callback;
};

struct config_value {
    uint32_t type;
    std::string data;
};

struct column_ref {
    snmp_oid_arcs arcs;
    ObjectInfo *info;
};

struct host_type {
    event_mgr_type *evm = nullptr;
    std::vector<std::unique_ptr<snmp_mib_handle_ct>> mibs;
    std::vector<std::unique_ptr<root_registration>> roots;
    std::vector<trap_enable_registration> enables;
    std::map<std::string, config_value> config; // trap-enable items as configured
    nodra_conn_td *cfg_conn = nullptr;
    uint32_t cfg_registration = 0;
    std::vector<column_ref> columns; // of every module with a root, in identifier order
    bool columns_valid = false;
    int serial = 0;
    std::function<void(const snmp_host_trap &)> trap_sink;
    std::vector<snmp_host_trap> traps;
    std::function<void(const std::string &)> debug_sink;
};

host_type host;
// Guards what the event manager's thread and the requesting thread share: the registrations,
// the configured items, the traps.
std::recursive_mutex host_lock;
// Guards the sinks and the kept traps only, so that a plug-in may print or raise while a request
// holds host_lock and waits for the plug-in's own mutex.
std::mutex sink_lock;
std::atomic<uint32_t> mutex_waits{0};

constexpr const char *TRAP_CONFIG_PATH = "/cfg/gl/snmp/enable/traps/";

snmp_oid_arcs arcs_of(const OID &oid)
{
    if (oid.length <= 0 || oid.oid_ptr == nullptr) {
        return {};
    }
    return snmp_oid_arcs(oid.oid_ptr, oid.oid_ptr + oid.length);
}

bool is_prefix(const snmp_oid_arcs &prefix, const snmp_oid_arcs &name)
{
    return prefix.size() <= name.size() && std::equal(prefix.begin(), prefix.end(), name.begin());
}

snmp_host_binding binding_of(const VarBind *vb)
{
    snmp_host_binding b;
    if (vb->name != nullptr) {
        b.name = arcs_of(*vb->name);
    }
    b.value.type = vb->type;
    switch (vb->type) {
    case SNMP_INTEGER_TYPE: b.value.number = vb->slval; break;
    case SNMP_COUNTER_TYPE:
    case SNMP_GAUGE_TYPE: b.value.number = vb->ulval; break;
    case SNMP_OCTET_PRIM_TYPE:
        if (vb->os != nullptr && vb->os->length > 0) {
            b.value.bytes.assign(reinterpret_cast<const char *>(vb->os->octet_ptr),
                                 static_cast<size_t>(vb->os->length));
        }
        break;
    case SNMP_COUNTER_64_TYPE:
        if (vb->uint64 != nullptr) {
            b.value.counter = (uint64_t{vb->uint64->big} << 32) | vb->uint64->little;
        }
        break;
    default: break;
    }
    return b;
}

const std::vector<column_ref> &columns()
{
    if (!host.columns_valid) {
        host.columns.clear();
        for (const auto &mib : host.mibs) {
            const bool registered =
                std::any_of(host.roots.begin(), host.roots.end(), [&](const auto &r) { return r->mib == mib.get(); });
            if (!registered) {
                continue;
            }
            for (uint32_t i = 0; i < mib->column_count; ++i) {
                host.columns.push_back({arcs_of(mib->columns[i].oid), &mib->columns[i]});
            }
        }
        std::sort(host.columns.begin(), host.columns.end(),
                  [](const column_ref &a, const column_ref &b) { return a.arcs < b.arcs; });
        host.columns_valid = true;
    }
    return host.columns;
}

// Calls a getter and takes its answer; false when it answered nothing.
bool ask(const column_ref &column, const snmp_oid_arcs &name, int search, snmp_host_binding *out)
{
    snmp_oid_arcs copy = name;
    OID incoming{static_cast<int32_t>(copy.size()), copy.data()};
    if (column.info->getter == nullptr) {
        return false;
    }
    VarBind *vb = column.info->getter(&incoming, column.info, search, nullptr, ++host.serial);
    if (vb == nullptr) {
        return false;
    }
    *out = binding_of(vb);
    FreeVarBindList(vb);
    return true;
}

const column_ref *column_of(const snmp_oid_arcs &name)
{
    for (const column_ref &c : columns()) {
        if (is_prefix(c.arcs, name)) {
            return &c;
        }
    }
    return nullptr;
}

void config_deliver(const std::string &item, const nodra_notify_event_info_td *event)
{
    std::vector<snmp_enable_traps_fn> callbacks;
    {
        std::lock_guard<std::recursive_mutex> g(host_lock);
        for (const auto &e : host.enables) {
            if (e.item == item) {
                callbacks.push_back(e.callback);
            }
        }
    }
    for (snmp_enable_traps_fn cb : callbacks) {
        cb(event);
    }
}

zerrno on_trap_config(const nodra_notify_event_info_td *event, void *, const void *)
{
    if (event == nullptr || event->path == nullptr) {
        return 0;
    }
    const std::string item = event->path;
    {
        std::lock_guard<std::recursive_mutex> g(host_lock);
        if ((event->event & NODRA_EVENT_DELETE) != 0) {
            host.config.erase(item);
        } else {
            host.config[item] = {event->datatype,
                                 event->new_data != nullptr
                                     ? std::string(static_cast<const char *>(event->new_data), event->new_length)
                                     : std::string()};
        }
    }
    config_deliver(item, event);
    return 0;
}

void debug_print(const std::string &line)
{
    std::function<void(const std::string &)> sink;
    {
        std::lock_guard<std::mutex> g(sink_lock);
        sink = host.debug_sink;
    }
    if (sink) {
        sink(line);
    } else {
        fprintf(stderr, "%s\n", line.c_str());
    }
}

} // namespace

// ---- toolkit calls that the host serves ----

void *snmp_load_oid(snmp_mib_handle_ct *mib, const snmp_oid_name_ct *table)
{
    if (mib == nullptr || table == nullptr || table[0].oid == nullptr) {
        return nullptr;
    }
    auto reg = std::make_unique<root_registration>();
    reg->mib = mib;
    for (const snmp_oid_name_ct *row = table; row->name != nullptr || row->oid != nullptr; ++row) {
        snmp_oid_arcs arcs = snmp_oid_parse(row->oid);
        if (arcs.empty()) {
            return nullptr;
        }
        reg->oids.push_back(std::move(arcs));
    }
    std::lock_guard<std::recursive_mutex> g(host_lock);
    host.roots.push_back(std::move(reg));
    host.columns_valid = false;
    return host.roots.back().get();
}

void snmp_unload_oid(snmp_mib_handle_ct *, void *registration)
{
    std::lock_guard<std::recursive_mutex> g(host_lock);
    auto it =
        std::find_if(host.roots.begin(), host.roots.end(), [&](const auto &r) { return r.get() == registration; });
    if (it != host.roots.end()) {
        host.roots.erase(it);
        host.columns_valid = false;
    }
}

event_mgr_type *snmp_import_evmh(void *registration)
{
    return registration != nullptr ? host.evm : nullptr;
}

int snmp_register_mib_debug(snmp_mib_handle_ct *mib, snmp_mib_debug_ct *debug)
{
    if (mib == nullptr || debug == nullptr) {
        return -1;
    }
    std::lock_guard<std::recursive_mutex> g(host_lock);
    mib->debug = debug;
    return 0;
}

void buginf(const snmp_mib_debug_ct *debug, int, int, const char *format, ...)
{
    if (debug == nullptr || debug->enable == 0 || format == nullptr) {
        return;
    }
    char line[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(line, sizeof line, format, ap);
    va_end(ap);
    debug_print(std::string(debug->name != nullptr ? debug->name : "") + ": " + line);
}

int snmp_register_enable_traps_callback2(snmp_mib_handle_ct *mib, const char *item, uint32_t, uint32_t, const void *,
                                         snmp_enable_traps_fn callback)
{
    if (mib == nullptr || item == nullptr || callback == nullptr) {
        return -1;
    }
    config_value current{};
    bool configured = false;
    {
        std::lock_guard<std::recursive_mutex> g(host_lock);
        host.enables.push_back({mib, item, callback});
        auto it = host.config.find(item);
        if (it != host.config.end()) {
            current = it->second;
            configured = true;
        }
    }
    if (configured) {
        nodra_notify_event_info_td event{};
        event.path = item;
        event.event = NODRA_EVENT_CREATE;
        event.datatype = current.type;
        event.new_data = current.data.data();
        event.new_length = static_cast<uint32_t>(current.data.size());
        callback(&event);
    }
    return 0;
}

int snmp_unregister_enable_traps_callback(snmp_mib_handle_ct *mib, const char *item)
{
    if (item == nullptr) {
        return -1;
    }
    std::lock_guard<std::recursive_mutex> g(host_lock);
    auto it = std::find_if(host.enables.begin(), host.enables.end(),
                           [&](const auto &e) { return e.mib == mib && e.item == item; });
    if (it == host.enables.end()) {
        return -1;
    }
    host.enables.erase(it);
    return 0;
}

int snmp_trap(int generic, int specific, VarBind *bindings, const OID *enterprise, const char *trap_oid)
{
    snmp_host_trap trap;
    trap.generic = generic;
    trap.specific = specific;
    if (enterprise != nullptr) {
        trap.enterprise = arcs_of(*enterprise);
    }
    trap.trap_oid = trap_oid != nullptr ? trap_oid : "";
    for (const VarBind *vb = bindings; vb != nullptr; vb = vb->next_var) {
        trap.bindings.push_back(binding_of(vb));
    }
    FreeVarBindList(bindings);
    if (trap.trap_oid.empty()) {
        return -1;
    }
    std::function<void(const snmp_host_trap &)> sink;
    {
        std::lock_guard<std::mutex> g(sink_lock);
        sink = host.trap_sink;
        if (!sink) {
            host.traps.push_back(trap);
        }
    }
    if (sink) {
        sink(trap);
    }
    return 0;
}

void ptd_set_mutex_block(void *, const char *, int)
{
    ++mutex_waits;
}

void ptd_unset_mutex_block(void *) {}

int32_t ifmib_name_to_index(const char *name)
{
    static std::mutex lock;
    static std::map<std::string, int32_t> indices;
    if (name == nullptr || name[0] == 0) {
        return 0;
    }
    std::lock_guard<std::mutex> g(lock);
    auto [it, added] = indices.try_emplace(name, static_cast<int32_t>(indices.size()) + 1);
    return it->second;
}

// ---- the host ----

zerrno snmp_host_init(event_mgr_type *evm)
{
    if (evm == nullptr) {
        return SNMP_HOST_ERR_INVALID;
    }
    std::lock_guard<std::recursive_mutex> g(host_lock);
    host.evm = evm;
    return 0;
}

void snmp_host_shutdown()
{
    std::vector<std::string> modules;
    {
        std::lock_guard<std::recursive_mutex> g(host_lock);
        for (const auto &mib : host.mibs) {
            modules.push_back(mib->module);
        }
    }
    for (const std::string &m : modules) {
        (void)snmp_host_unload(m.c_str());
    }
    if (host.cfg_conn != nullptr) {
        (void)nodra_notification_unregister(host.cfg_registration);
        (void)_nodra_unbind(host.cfg_conn);
    }
    std::lock_guard<std::recursive_mutex> g(host_lock);
    host.cfg_conn = nullptr;
    host.config.clear();
    host.enables.clear();
    host.roots.clear();
    host.columns_valid = false;
    host.evm = nullptr;
    std::lock_guard<std::mutex> s(sink_lock);
    host.traps.clear();
    host.trap_sink = nullptr;
    host.debug_sink = nullptr;
    mutex_waits = 0;
}

zerrno snmp_host_load(const char *path, const char *module)
{
    if (path == nullptr || module == nullptr || host.evm == nullptr) {
        return SNMP_HOST_ERR_INVALID;
    }
    snmp_mib_handle_ct *mib = nullptr;
    {
        std::lock_guard<std::recursive_mutex> g(host_lock);
        for (const auto &m : host.mibs) {
            if (m->module == module) {
                if (m->path != path) {
                    return SNMP_HOST_ERR_EXISTS;
                }
                mib = m.get();
            }
        }
    }
    if (mib == nullptr) {
        // Local binding: two plug-ins' own names never meet.
        void *dl = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (dl == nullptr) {
            fprintf(stderr, "snmp host: %s\n", dlerror());
            return SNMP_HOST_ERR_LOAD;
        }
        const std::string name = module;
        auto init = reinterpret_cast<void (*)(snmp_mib_handle_ct *, int)>(dlsym(dl, ("init_" + name).c_str()));
        auto *list = static_cast<ObjectInfo *>(dlsym(dl, (name + "_OidList").c_str()));
        auto *count = static_cast<const uint32_t *>(dlsym(dl, (name + "_OidListNum").c_str()));
        if (init == nullptr || list == nullptr || count == nullptr) {
            dlclose(dl);
            return SNMP_HOST_ERR_LOAD;
        }
        auto handle = std::make_unique<snmp_mib_handle_ct>();
        handle->module = module;
        handle->path = path;
        handle->dl = dl;
        handle->init = init;
        handle->columns = list;
        handle->column_count = *count;
        mib = handle.get();
        std::lock_guard<std::recursive_mutex> g(host_lock);
        host.mibs.push_back(std::move(handle));
        host.columns_valid = false;
    }
    mib->init(mib, 1);
    return 0;
}

zerrno snmp_host_unload(const char *module)
{
    snmp_mib_handle_ct *mib = nullptr;
    {
        std::lock_guard<std::recursive_mutex> g(host_lock);
        for (const auto &m : host.mibs) {
            if (module != nullptr && m->module == module) {
                mib = m.get();
            }
        }
    }
    if (mib == nullptr) {
        return SNMP_HOST_ERR_NOT_FOUND;
    }
    mib->init(mib, 0);
    std::lock_guard<std::recursive_mutex> g(host_lock);
    // Whatever the plug-in left registered goes with it: its code is about to be unmapped.
    std::erase_if(host.roots, [&](const auto &r) { return r->mib == mib; });
    std::erase_if(host.enables, [&](const auto &e) { return e.mib == mib; });
    void *dl = mib->dl;
    std::erase_if(host.mibs, [&](const auto &m) { return m.get() == mib; });
    host.columns_valid = false;
    dlclose(dl);
    return 0;
}

std::vector<snmp_oid_arcs> snmp_host_roots()
{
    std::lock_guard<std::recursive_mutex> g(host_lock);
    std::vector<snmp_oid_arcs> roots;
    for (const auto &r : host.roots) {
        roots.push_back(r->oids.front());
    }
    std::sort(roots.begin(), roots.end());
    return roots;
}

int snmp_host_get(const snmp_oid_arcs &name, snmp_host_binding *out)
{
    std::lock_guard<std::recursive_mutex> g(host_lock);
    const column_ref *c = column_of(name);
    if (c == nullptr) {
        return SNMP_HOST_NO_SUCH_OBJECT;
    }
    snmp_host_binding b;
    if (!ask(*c, name, SNMP_EXACT, &b) || b.name != name) {
        return SNMP_HOST_NO_SUCH_INSTANCE;
    }
    *out = std::move(b);
    return SNMP_NO_ERROR;
}

int snmp_host_getnext(const snmp_oid_arcs &name, snmp_host_binding *out)
{
    std::lock_guard<std::recursive_mutex> g(host_lock);
    for (const column_ref &c : columns()) {
        const bool inside = is_prefix(c.arcs, name);
        if (!inside && !(name < c.arcs)) {
            continue; // the whole column lies before the request
        }
        snmp_host_binding b;
        if (!ask(c, inside ? name : c.arcs, SNMP_NEXT, &b)) {
            continue;
        }
        // An answer at or below the request, or outside the column, would stall or skip a walk.
        if (!(name < b.name) || !is_prefix(c.arcs, b.name)) {
            continue;
        }
        *out = std::move(b);
        return SNMP_NO_ERROR;
    }
    return SNMP_HOST_END_OF_MIB_VIEW;
}

int snmp_host_set(const snmp_oid_arcs &name, const snmp_host_value &value)
{
    std::lock_guard<std::recursive_mutex> g(host_lock);
    const column_ref *c = column_of(name);
    if (c == nullptr || c->info->test == nullptr) {
        return SNMP_NOT_WRITABLE_ERROR;
    }
    snmp_oid_arcs copy = name;
    OID incoming{static_cast<int32_t>(copy.size()), copy.data()};
    OctetString *os = value.type == SNMP_OCTET_PRIM_TYPE
                          ? MakeOctetString(reinterpret_cast<const uint8_t *>(value.bytes.data()),
                                            static_cast<int32_t>(value.bytes.size()))
                          : nullptr;
    ObjectSyntax syntax{value.type, static_cast<int32_t>(value.number), static_cast<uint32_t>(value.number), os};
    auto *entry = static_cast<doList_t *>(calloc(1, sizeof(doList_t)));
    if (entry == nullptr) {
        FreeOctetString(os);
        return SNMP_RESOURCE_UNAVAILABLE_ERROR;
    }
    doList_t *head = entry;
    int status = c->info->test(&incoming, c->info, &syntax, head, entry, nullptr);
    if (status == SNMP_NO_ERROR) {
        for (doList_t *e = head; e != nullptr && status == SNMP_NO_ERROR; e = e->next) {
            if (e->setMethod != nullptr) {
                status = e->setMethod(head, e, nullptr);
            }
        }
    }
    for (doList_t *e = head; e != nullptr;) {
        doList_t *next = e->next;
        if (e->cleanupMethod != nullptr) {
            e->cleanupMethod(e);
        }
        free(e);
        e = next;
    }
    FreeOctetString(os);
    return status;
}

zerrno snmp_host_follow_trap_config()
{
    if (host.evm == nullptr) {
        return SNMP_HOST_ERR_INVALID;
    }
    if (host.cfg_conn != nullptr) {
        return 0;
    }
    nodra_conn_td *conn = nullptr;
    zerrno rc = _nodra_bind(&conn, TRAP_CONFIG_PATH, 0);
    if (rc != 0) {
        return rc;
    }
    uint32_t registration = 0;
    rc = _nodra_register_notification(conn, "ptp/", NODRA_EVENT_CREATE | NODRA_EVENT_SET | NODRA_EVENT_DELETE, 0,
                                      on_trap_config, host.evm, nullptr, nullptr, 0, &registration);
    if (rc != 0) {
        (void)_nodra_unbind(conn);
        return rc;
    }
    host.cfg_conn = conn;
    host.cfg_registration = registration;
    return 0;
}

void snmp_host_set_trap_sink(std::function<void(const snmp_host_trap &)> sink)
{
    std::lock_guard<std::mutex> g(sink_lock);
    host.trap_sink = std::move(sink);
}

std::vector<snmp_host_trap> snmp_host_traps()
{
    std::lock_guard<std::mutex> g(sink_lock);
    return host.traps;
}

void snmp_host_traps_clear()
{
    std::lock_guard<std::mutex> g(sink_lock);
    host.traps.clear();
}

zerrno snmp_host_set_debug(const char *module, bool on)
{
    std::lock_guard<std::recursive_mutex> g(host_lock);
    for (const auto &m : host.mibs) {
        if (module != nullptr && m->module == module && m->debug != nullptr) {
            m->debug->enable = on ? 1 : 0;
            return 0;
        }
    }
    return SNMP_HOST_ERR_NOT_FOUND;
}

void snmp_host_set_debug_sink(std::function<void(const std::string &)> sink)
{
    std::lock_guard<std::mutex> g(sink_lock);
    host.debug_sink = std::move(sink);
}

uint32_t snmp_host_root_registrations()
{
    std::lock_guard<std::recursive_mutex> g(host_lock);
    return static_cast<uint32_t>(host.roots.size());
}

uint32_t snmp_host_debug_registrations()
{
    std::lock_guard<std::recursive_mutex> g(host_lock);
    return static_cast<uint32_t>(
        std::count_if(host.mibs.begin(), host.mibs.end(), [](const auto &m) { return m->debug != nullptr; }));
}

uint32_t snmp_host_trap_enable_registrations()
{
    std::lock_guard<std::recursive_mutex> g(host_lock);
    return static_cast<uint32_t>(host.enables.size());
}

uint32_t snmp_host_mutex_waits()
{
    return mutex_waits.load();
}

snmp_oid_arcs snmp_oid_parse(const char *dotted)
{
    snmp_oid_arcs arcs;
    if (dotted == nullptr) {
        return arcs;
    }
    const char *p = dotted;
    if (*p == '.') {
        ++p;
    }
    while (*p != 0) {
        if (*p < '0' || *p > '9') {
            return {};
        }
        uint64_t v = 0;
        while (*p >= '0' && *p <= '9') {
            v = v * 10 + static_cast<uint64_t>(*p - '0');
            if (v > UINT32_MAX) {
                return {};
            }
            ++p;
        }
        arcs.push_back(static_cast<uint32_t>(v));
        if (*p == '.') {
            ++p;
            if (*p == 0) {
                return {};
            }
        } else if (*p != 0) {
            return {};
        }
    }
    return arcs;
}

std::string snmp_oid_text(const snmp_oid_arcs &arcs)
{
    std::string s;
    for (size_t i = 0; i < arcs.size(); ++i) {
        if (i != 0) {
            s += '.';
        }
        s += std::to_string(arcs[i]);
    }
    return s;
}
