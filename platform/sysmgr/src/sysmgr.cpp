// Node identity from the chassis description, and the process manager's calls as a process makes
// them. In a process started by the chassis the description and node come from the environment.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "sysmgr.h"
#include "sysmgr_chassis.h"
#include "sysmgr_host.h"
#include "sysmgr_test.h"

namespace {

struct lr_registration_type {
    event_mgr_type *evm = nullptr;
    sysmgr_lr_event_fn callback = nullptr;
    void *context = nullptr;
    event_async_ctx_type event{};
    sockmsg_client_type *client = nullptr; // a process of the chassis: the daemon sends the events
};

void lr_free(lr_registration_type *r)
{
    if (r->client != nullptr)
        sockmsg_client_close(r->client);
    event_async_attach(r->evm, r->event.code, nullptr, nullptr);
    delete r;
}

struct state_type {
    std::recursive_mutex lock;
    bool env_read = false;
    const chassis_desc_type *desc = nullptr;
    chassis_desc_type *owned = nullptr; // loaded from the environment
    bool has_node = false;
    uint32_t node_id = 0;
    int kvolm = -1; // -1: as described
    std::map<uint32_t, lr_registration_type *> lr;
    uint32_t ready = 0;
    uint32_t exiting = 0;
    uint32_t target = UINT32_MAX;
    bool node_from_env = false;            // a process of the chassis: the daemon is told
    sockmsg_client_type *daemon = nullptr; // opened at the first call that needs it
};

state_type &state()
{
    static state_type s;
    return s;
}

// The node named by $PTP_NODE: a name of the chassis, or a number.
void read_env(state_type &s)
{
    if (s.env_read)
        return;
    s.env_read = true;
    const char *path = getenv("PTP_CHASSIS");
    if (s.desc == nullptr && path != nullptr && path[0] != '\0') {
        chassis_desc_type *d = nullptr;
        std::string error;
        if (chassis_load(path, &d, &error) == 0) {
            s.owned = d;
            s.desc = d;
        } else {
            fprintf(stderr, "%s\n", error.c_str());
        }
    }
    const char *node = getenv("PTP_NODE");
    if (!s.has_node && node != nullptr && node[0] != '\0') {
        if (const chassis_node_type *n = chassis_find_node_by_name(s.desc, node)) {
            s.node_id = n->node_id;
            s.has_node = true;
            s.node_from_env = true;
        } else {
            char *end = nullptr;
            const unsigned long v = strtoul(node, &end, 0);
            if (end != node && *end == '\0' && v <= UINT32_MAX) {
                s.node_id = static_cast<uint32_t>(v);
                s.has_node = true;
                s.node_from_env = true;
            }
        }
    }
}

const chassis_node_type *my_node(state_type &s)
{
    read_env(s);
    return s.has_node ? chassis_find_node(s.desc, s.node_id) : nullptr;
}

int lr_event(const event_async_ctx_type *, int32_t value, void *context)
{
    auto *r = static_cast<lr_registration_type *>(context);
    uint32_t node = 0;
    platform_get_my_nodeid(&node);
    const sysmgr_lr_event_type event{static_cast<uint32_t>(value), node};
    return r->callback != nullptr ? r->callback(&event, r->context) : 0;
}

// Tells the daemon's process manager about this process (which the daemon knows by its pid).
// Caller holds the lock.
zerrno tell_daemon(state_type &s, uint16_t type)
{
    read_env(s);
    if (!s.node_from_env)
        return 0;
    if (s.daemon == nullptr &&
        sockmsg_client_connect(plat_socket_path(), nullptr, nullptr, nullptr, nullptr, &s.daemon) != 0) {
        s.daemon = nullptr;
        return SYSMGR_ERR_NO_CHASSIS;
    }
    uint32_t status = 0;
    const zerrno rc = sockmsg_client_call(s.daemon, SYSMGR_SERVICE_ID, type, nullptr, 0, &status, nullptr);
    return rc != 0 ? rc : status;
}

// Events from the daemon, on the registration's event manager.
void lr_notice(sockmsg_client_type *, uint16_t service, uint16_t type, const uint8_t *data, uint32_t length,
               void *context)
{
    if (service != SYSMGR_SERVICE_ID || type != SYSMGR_WIRE_LR_EVENT || length != 8)
        return;
    auto *r = static_cast<lr_registration_type *>(context);
    const auto rd = [](const uint8_t *p) {
        return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
               static_cast<uint32_t>(p[2]) << 8 | p[3];
    };
    const sysmgr_lr_event_type event{rd(data), rd(data + 4)};
    {
        state_type &s = state();
        std::lock_guard<std::recursive_mutex> g(s.lock);
        if (event.kind == SYSMGR_LR_EVENT_KVOLM_ACTIVE)
            s.kvolm = 1;
    }
    r->callback(&event, r->context);
}

// Asks the daemon for the events of a kind on this node. Caller holds the lock.
zerrno lr_remote(state_type &s, lr_registration_type *r, uint32_t kind)
{
    if (sockmsg_client_connect(plat_socket_path(), r->evm, lr_notice, nullptr, r, &r->client) != 0) {
        r->client = nullptr;
        return SYSMGR_ERR_NO_CHASSIS;
    }
    const uint8_t req[8] = {static_cast<uint8_t>(s.node_id >> 24), static_cast<uint8_t>(s.node_id >> 16),
                            static_cast<uint8_t>(s.node_id >> 8),  static_cast<uint8_t>(s.node_id),
                            static_cast<uint8_t>(kind >> 24),      static_cast<uint8_t>(kind >> 16),
                            static_cast<uint8_t>(kind >> 8),       static_cast<uint8_t>(kind)};
    uint32_t status = 0;
    const zerrno rc =
        sockmsg_client_call(r->client, SYSMGR_SERVICE_ID, SYSMGR_WIRE_LR_REGISTER, req, sizeof req, &status, nullptr);
    return rc != 0 ? rc : status;
}

} // namespace

zerrno platform_get_my_nodeid(uint32_t *nodeid)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (nodeid == nullptr)
        return SYSMGR_ERR_INVALID;
    read_env(s);
    if (!s.has_node)
        return SYSMGR_ERR_NO_NODE;
    *nodeid = s.node_id;
    return 0;
}

bool platform_am_i_lc(void)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    const chassis_node_type *n = my_node(s);
    return n != nullptr && !n->is_rp;
}

bool platform_am_i_rp(void)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    const chassis_node_type *n = my_node(s);
    return n != nullptr && n->is_rp;
}

uint32_t platform_get_type(void)
{
    return PLATFORM_TYPE_SIMULATED;
}

zerrno nodeid_to_str_external(uint32_t nodeid, char *buffer, size_t size)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (buffer == nullptr || size == 0)
        return SYSMGR_ERR_INVALID;
    read_env(s);
    const chassis_node_type *n = chassis_find_node(s.desc, nodeid);
    if (n == nullptr)
        return s.desc == nullptr ? SYSMGR_ERR_NO_CHASSIS : SYSMGR_ERR_NO_NODE;
    if (n->name.size() >= size)
        return SYSMGR_ERR_TOO_SMALL;
    memcpy(buffer, n->name.c_str(), n->name.size() + 1);
    return 0;
}

zerrno nodeid_extract_fields(uint32_t nodeid, uint32_t *rack, uint32_t *slot, uint32_t *cpu)
{
    if (rack == nullptr || slot == nullptr || cpu == nullptr)
        return SYSMGR_ERR_INVALID;
    *rack = (nodeid >> 16) & 0xff;
    *slot = (nodeid >> 4) & 0xff;
    *cpu = nodeid & 0xf;
    return 0;
}

zerrno lrd_am_i_kvolm(bool *kvolm)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (kvolm == nullptr)
        return SYSMGR_ERR_INVALID;
    const chassis_node_type *n = my_node(s);
    if (n == nullptr)
        return s.desc == nullptr ? SYSMGR_ERR_NO_CHASSIS : SYSMGR_ERR_NO_NODE;
    *kvolm = s.kvolm >= 0 ? s.kvolm != 0 : n->kvolm;
    return 0;
}

zerrno lrd_get_lr_mac_address(uint8_t mac[6])
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (mac == nullptr)
        return SYSMGR_ERR_INVALID;
    read_env(s);
    if (s.desc == nullptr || !s.desc->has_lr_mac)
        return SYSMGR_ERR_NO_CHASSIS;
    memcpy(mac, s.desc->lr_mac.data(), 6);
    return 0;
}

zerrno sysmgr_proc_ready(void)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    s.ready++;
    return tell_daemon(s, SYSMGR_WIRE_READY);
}

zerrno sysmgr_proc_exiting(void)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    s.exiting++;
    return tell_daemon(s, SYSMGR_WIRE_EXITING);
}

zerrno sysmgr_set_target_node(uint32_t node)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    s.target = node;
    return 0;
}

zerrno sysmgr_register_lr_event(event_mgr_type *evm, uint32_t kind, sysmgr_lr_event_fn callback, void *context)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (evm == nullptr || callback == nullptr)
        return SYSMGR_ERR_INVALID;
    auto *r = new lr_registration_type;
    r->evm = evm;
    r->callback = callback;
    r->context = context;
    if (event_async_attach_event(evm, 0, lr_event, r, &r->event) < 0) {
        delete r;
        return SYSMGR_ERR_NO_MEMORY;
    }
    read_env(s);
    if (s.node_from_env) {
        if (const zerrno rc = lr_remote(s, r, kind); rc != 0) {
            lr_free(r);
            return rc;
        }
    }
    if (auto it = s.lr.find(kind); it != s.lr.end())
        lr_free(it->second);
    s.lr[kind] = r;
    return 0;
}

// ---- Test control ------------------------------------------------------------------------------

void sysmgr_test_reset(void)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    for (auto &[kind, r] : s.lr)
        lr_free(r);
    s.lr.clear();
    chassis_free(s.owned);
    s.owned = nullptr;
    s.desc = nullptr;
    s.env_read = true; // tests say what they want
    s.has_node = false;
    s.node_from_env = false;
    if (s.daemon != nullptr)
        sockmsg_client_close(s.daemon);
    s.daemon = nullptr;
    s.node_id = 0;
    s.kvolm = -1;
    s.ready = 0;
    s.exiting = 0;
    s.target = UINT32_MAX;
}

void sysmgr_test_set_chassis(const chassis_desc_type *desc)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    s.env_read = true;
    s.desc = desc;
}

void sysmgr_test_set_node(uint32_t node_id)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    s.env_read = true;
    s.has_node = true;
    s.node_id = node_id;
}

void sysmgr_test_set_kvolm(bool kvolm)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    s.kvolm = kvolm ? 1 : 0;
}

void sysmgr_test_fire_lr_event(uint32_t kind)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (kind == SYSMGR_LR_EVENT_KVOLM_ACTIVE)
        s.kvolm = 1;
    if (auto it = s.lr.find(kind); it != s.lr.end())
        event_send_async(it->second->event.coid, it->second->event.code, static_cast<int32_t>(kind));
}

uint32_t sysmgr_test_ready_count(void)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    return s.ready;
}

uint32_t sysmgr_test_exiting_count(void)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    return s.exiting;
}

uint32_t sysmgr_test_target_node(void)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    return s.target;
}

// ---- For the platform's services ---------------------------------------------------------------

const chassis_desc_type *sysmgr_chassis(void)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    read_env(s);
    return s.desc;
}

const chassis_node_type *sysmgr_my_node(void)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    return my_node(s);
}

bool sysmgr_node_from_environment(void)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    read_env(s);
    return s.node_from_env;
}
