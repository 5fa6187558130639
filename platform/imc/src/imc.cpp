// Interface manager: every node's interface table from the chassis description, bindings,
// attribute registrations and their notifications. One service, used three ways: in-process
// (unit tests: the process's own node), hosted by the platform daemon (registrations held for
// its clients, notified as notice frames), and in a process of the chassis (every call a request
// to the daemon). Attribute values travel encoded byte by byte in all three.
#include "imc.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "evm_alarm.h"
#include "imc_host.h"
#include "imc_test.h"
#include "sysmgr.h"
#include "sysmgr_chassis.h"
#include "sysmgr_host.h"

struct imc_ctx_type {
    int32_t connid = 0;
    bool alive = true;
    uint32_t node = 0;
    uint32_t id = 0;                         // in the daemon: the binding's number; in a client: the daemon's
    sockmsg_session_type *session = nullptr; // in the daemon: the client it was made for
};

namespace {

// What one registration wants of one interface: the protocol word of the element and its
// attributes.
struct interest_type {
    uint16_t protocol = 0;
    std::vector<uint16_t> attrs;
};

// One registration element, as the in-process call and the wire both give it.
struct element_type {
    uint32_t ifhandle = 0;
    uint16_t protocol = 0;
    std::vector<uint16_t> attrs;
};

struct pending_type {
    uint32_t kind = 0;
    uint32_t count = 0;
    std::vector<uint8_t> entries;
};

} // namespace

struct imc_reg_type {
    uint64_t id = 0;
    uint32_t node = 0;
    event_mgr_type *evm = nullptr;
    event_async_ctx_type event{};
    imc_notify_fn callback = nullptr;
    void *context = nullptr;
    std::map<std::pair<uint32_t, uint16_t>, interest_type> interests; // (handle, protocol)
    std::deque<pending_type> queue;
    sockmsg_session_type *session = nullptr; // in the daemon: notified as notice frames
    uint32_t remote = 0;                     // in a client: the daemon's number of it
};

namespace {

struct intf_type {
    std::string name;
    uint32_t type = 0;
    uint32_t line_state = 0;
    std::vector<uint8_t> ether;
    std::vector<std::array<uint8_t, 4>> ipv4;
    std::vector<std::array<uint8_t, 16>> ipv6;
    uint32_t vrf = 0;
};
using table_type = std::map<uint32_t, intf_type>; // by handle

struct service_type {
    std::recursive_mutex lock;
    bool loaded = false;
    std::map<uint32_t, table_type> nodes; // by node id
    std::set<imc_ctx_type *> bindings;
    std::map<uint64_t, imc_reg_type *> regs;
    uint64_t next_reg = 1;
    uint32_t next_binding = 1;
    int32_t next_connid = 0x4d00;
    bool hosting = false;
    // A process of the chassis: its one connection to the daemon, whose notices run on an event
    // manager of the library's own.
    sockmsg_client_type *link = nullptr;
    event_mgr_type *link_evm = nullptr;
};

service_type &service()
{
    // Never destroyed: the link's thread may still be handling the daemon's going away while the
    // process runs its exit handlers.
    static service_type *s = new service_type;
    return *s;
}

// Every node's interfaces, read once from the chassis.
void load(service_type &s)
{
    if (s.loaded)
        return;
    const chassis_desc_type *chassis = sysmgr_chassis();
    if (chassis == nullptr)
        return;
    s.loaded = true;
    for (const chassis_node_type &node : chassis->nodes) {
        table_type &table = s.nodes[node.node_id];
        for (const chassis_intf_type &ci : node.interfaces) {
            intf_type i;
            i.name = ci.name;
            i.type = ci.type;
            i.line_state = ci.line_state;
            i.vrf = ci.vrf;
            i.ipv4 = ci.ipv4;
            i.ipv6 = ci.ipv6;
            if (ci.has_mac) {
                i.ether.assign(ci.mac.begin(), ci.mac.end());
                i.ether.push_back(0); // no tags
            }
            table[ci.handle] = std::move(i);
        }
    }
}

table_type *table_of(service_type &s, uint32_t node)
{
    load(s);
    const auto it = s.nodes.find(node);
    return it == s.nodes.end() ? nullptr : &it->second;
}

// This process's node, for the in-process service. Caller holds the lock.
bool my_node(service_type &s, uint32_t *node)
{
    load(s);
    const chassis_node_type *n = sysmgr_my_node();
    if (n == nullptr)
        return false;
    *node = n->node_id;
    return true;
}

// A process of the chassis keeps its bindings and registrations in the daemon.
bool remote_mode(service_type &s)
{
    return !s.hosting && sysmgr_node_from_environment();
}

void put16(std::vector<uint8_t> &b, uint16_t v)
{
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}

void put32(std::vector<uint8_t> &b, uint32_t v)
{
    put16(b, static_cast<uint16_t>(v >> 16));
    put16(b, static_cast<uint16_t>(v));
}

uint32_t get32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}

uint16_t get16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

bool is_ipv6(uint16_t protocol)
{
    return protocol == IMC_PROTO_IPV6 || protocol == 19;
}

// The IP attribute: u32 VRF, u16 protocol, u16 count, then per address 16 bytes, prefix length
// and flags.
std::vector<uint8_t> ip_value(const intf_type &i, uint16_t protocol)
{
    std::vector<uint8_t> v;
    put32(v, i.vrf);
    const bool v6 = is_ipv6(protocol);
    put16(v, v6 ? IMC_PROTO_IPV6 : IMC_PROTO_IPV4);
    put16(v, static_cast<uint16_t>(v6 ? i.ipv6.size() : i.ipv4.size()));
    if (v6) {
        for (const auto &a : i.ipv6) {
            v.insert(v.end(), a.begin(), a.end());
            v.push_back(64);
            v.push_back(0);
        }
    } else {
        for (const auto &a : i.ipv4) {
            v.insert(v.end(), a.begin(), a.end());
            v.insert(v.end(), 12, 0);
            v.push_back(24);
            v.push_back(0);
        }
    }
    return v;
}

void append_entry(std::vector<uint8_t> &out, uint32_t handle, const intf_type &i, const interest_type &want)
{
    std::vector<uint8_t> e;
    put32(e, 0); // length, below
    put32(e, handle);
    put32(e, i.type);
    put16(e, want.protocol);
    put16(e, static_cast<uint16_t>(want.attrs.size()));
    for (uint16_t attr : want.attrs) {
        std::vector<uint8_t> value;
        if (attr == IMC_ATTR_LINE_STATE)
            put32(value, i.line_state);
        else if (attr == IMC_ATTR_ETHER)
            value = i.ether;
        else if (attr == IMC_ATTR_IP)
            value = ip_value(i, want.protocol);
        put16(e, attr);
        put16(e, static_cast<uint16_t>(value.size()));
        e.insert(e.end(), value.begin(), value.end());
    }
    const uint32_t n = static_cast<uint32_t>(e.size());
    e[0] = static_cast<uint8_t>(n >> 24);
    e[1] = static_cast<uint8_t>(n >> 16);
    e[2] = static_cast<uint8_t>(n >> 8);
    e[3] = static_cast<uint8_t>(n);
    out.insert(out.end(), e.begin(), e.end());
}

// One queued notification of a registration, on its event manager. The registration is looked
// up by number: it may have gone (unregistered, or dropped by another thread) meanwhile.
int notify_event(const event_async_ctx_type *, int32_t, void *context)
{
    const auto id = reinterpret_cast<uintptr_t>(context);
    service_type &s = service();
    pending_type item;
    imc_notify_fn callback = nullptr;
    void *callback_context = nullptr;
    {
        std::lock_guard<std::recursive_mutex> g(s.lock);
        const auto it = s.regs.find(id);
        if (it == s.regs.end() || it->second->queue.empty())
            return 0;
        imc_reg_type *reg = it->second;
        item = std::move(reg->queue.front());
        reg->queue.pop_front();
        callback = reg->callback;
        callback_context = reg->context;
    }
    const imc_notify_type n{item.kind, item.count, item.entries.data(), static_cast<uint32_t>(item.entries.size())};
    callback(&n, callback_context);
    return 0;
}

// A notification for a registration: queued on its event manager, or a notice frame to the
// daemon's client that holds it.
void post(imc_reg_type *reg, uint32_t kind, std::vector<uint8_t> entries, uint32_t count)
{
    if (reg->session != nullptr) {
        std::vector<uint8_t> b;
        b.reserve(12 + entries.size());
        put32(b, static_cast<uint32_t>(reg->id));
        put32(b, kind);
        put32(b, count);
        b.insert(b.end(), entries.begin(), entries.end());
        sockmsg_notify(reg->session, IMC_SERVICE_ID, IMC_WIRE_NOTIFY, b.data(), static_cast<uint32_t>(b.size()));
        return;
    }
    reg->queue.push_back({kind, count, std::move(entries)});
    event_send_async(reg->event.coid, reg->event.code, 0);
}

// Caller holds the lock. Local registrations only (the daemon's have no event manager).
zerrno reg_new(service_type &s, uint32_t node, event_mgr_type *evm, imc_notify_fn callback, void *context,
               imc_reg_type **out)
{
    auto *reg = new imc_reg_type;
    reg->id = s.next_reg++;
    reg->node = node;
    reg->evm = evm;
    reg->callback = callback;
    reg->context = context;
    if (evm != nullptr &&
        event_async_attach_event(evm, 0, notify_event, reinterpret_cast<void *>(static_cast<uintptr_t>(reg->id)),
                                 &reg->event) < 0) {
        delete reg;
        return IMC_ERR_NO_MEMORY;
    }
    s.regs[reg->id] = reg;
    *out = reg;
    return 0;
}

// Caller holds the lock.
void reg_free(service_type &s, imc_reg_type *reg)
{
    s.regs.erase(reg->id);
    if (reg->evm != nullptr)
        event_async_attach(reg->evm, reg->event.code, nullptr, nullptr);
    delete reg;
}

// Tell every registration that wants it what an interface of a node is now.
void changed(service_type &s, uint32_t node, uint32_t handle, uint16_t attr)
{
    const table_type *table = table_of(s, node);
    const auto it = table == nullptr ? table_type::const_iterator{} : table->find(handle);
    if (table == nullptr || it == table->end())
        return;
    for (const auto &[id, reg] : s.regs) {
        if (reg->node != node)
            continue;
        for (const auto &[key, want] : reg->interests) {
            if (key.first != handle || std::find(want.attrs.begin(), want.attrs.end(), attr) == want.attrs.end())
                continue;
            std::vector<uint8_t> entries;
            append_entry(entries, handle, it->second, want);
            post(reg, IMC_NOTIFY_ATTRIBUTES, std::move(entries), 1);
        }
    }
}

const intf_type *find_by_name(const table_type &table, const std::string &name, uint32_t *handle)
{
    for (const auto &[h, i] : table) {
        if (i.name == name) {
            *handle = h;
            return &i;
        }
    }
    return nullptr;
}

// A live binding of this service (caller holds the lock).
imc_ctx_type *live_binding(service_type &s, const void *ctx)
{
    auto *c = static_cast<imc_ctx_type *>(const_cast<void *>(ctx));
    return s.bindings.count(c) != 0 && c->alive ? c : nullptr;
}

// ---- The calls, on a binding's node ------------------------------------------------------------

zerrno do_find(service_type &s, uint32_t node, const std::vector<std::string> &names, uint32_t *handles, zerrno *errors)
{
    const table_type *table = table_of(s, node);
    zerrno first = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        handles[i] = 0;
        const zerrno rc =
            table != nullptr && find_by_name(*table, names[i], &handles[i]) != nullptr ? 0 : IMC_ERR_NO_INTERFACE;
        if (errors != nullptr)
            errors[i] = rc;
        if (first == 0)
            first = rc;
    }
    return first;
}

const intf_type *find_handle(service_type &s, uint32_t node, uint32_t handle)
{
    const table_type *table = table_of(s, node);
    if (table == nullptr)
        return nullptr;
    const auto it = table->find(handle);
    return it == table->end() ? nullptr : &it->second;
}

zerrno do_attr_register(service_type &s, imc_reg_type *reg, uint32_t op, const std::vector<element_type> &elements,
                        zerrno *results)
{
    const bool add = (op & 1) != 0;
    zerrno first = 0;
    std::vector<uint8_t> replay;
    uint32_t replayed = 0;
    for (size_t i = 0; i < elements.size(); ++i) {
        const element_type &e = elements[i];
        zerrno rc = 0;
        const intf_type *intf = find_handle(s, reg->node, e.ifhandle);
        if (intf == nullptr)
            rc = IMC_ERR_NO_INTERFACE;
        else if (add && (e.attrs.empty() || e.attrs.size() > 64))
            rc = IMC_ERR_INVALID;
        if (rc == 0) {
            const std::pair<uint32_t, uint16_t> key{e.ifhandle, e.protocol};
            if (add) {
                interest_type want;
                want.protocol = e.protocol;
                want.attrs = e.attrs;
                append_entry(replay, e.ifhandle, *intf, want);
                replayed++;
                reg->interests[key] = std::move(want);
            } else {
                reg->interests.erase(key);
            }
        }
        if (results != nullptr)
            results[i] = rc;
        if (first == 0)
            first = rc;
    }
    if (replayed > 0) {
        post(reg, IMC_NOTIFY_ATTRIBUTES, std::move(replay), replayed);
        post(reg, IMC_NOTIFY_REPLAY_DONE, {}, 0);
    }
    return first;
}

intf_type *intf_for_change(service_type &s, uint32_t node, uint32_t handle)
{
    table_type *table = table_of(s, node);
    if (table == nullptr)
        return nullptr;
    const auto it = table->find(handle);
    return it == table->end() ? nullptr : &it->second;
}

zerrno set_line_state(service_type &s, uint32_t node, uint32_t handle, uint32_t state)
{
    intf_type *i = intf_for_change(s, node, handle);
    if (i == nullptr)
        return IMC_ERR_NO_INTERFACE;
    if (i->line_state != state) {
        i->line_state = state;
        changed(s, node, handle, IMC_ATTR_LINE_STATE);
    }
    return 0;
}

template <typename List>
zerrno set_addrs(service_type &s, uint32_t node, uint32_t handle, List intf_type::*field, const List &addrs)
{
    intf_type *i = intf_for_change(s, node, handle);
    if (i == nullptr)
        return IMC_ERR_NO_INTERFACE;
    i->*field = addrs;
    changed(s, node, handle, IMC_ATTR_IP);
    return 0;
}

// The interface manager goes away for this process: registrations are gone, bindings fail from
// now on. The connection ids of the bindings that were alive, for their connections to hear of it.
std::vector<int32_t> drop_local(service_type &s)
{
    std::vector<int32_t> ids;
    std::vector<imc_reg_type *> regs;
    for (const auto &[id, reg] : s.regs)
        if (reg->session == nullptr)
            regs.push_back(reg);
    for (imc_reg_type *reg : regs)
        reg_free(s, reg);
    for (imc_ctx_type *c : s.bindings) {
        if (c->session == nullptr && c->alive)
            ids.push_back(c->connid);
        if (c->session == nullptr)
            c->alive = false;
    }
    return ids;
}

// The clients' connections hear of it as their far end closing, and open again. Lock not held:
// the connections' own locks are taken.
void tell_connections(const std::vector<int32_t> &ids)
{
    for (int32_t id : ids)
        if (event_conn_type *conn = evm_conn_find(id))
            event_conn_peer_closed(conn);
}

// ---- A process of the chassis: the calls as requests to the daemon -----------------------------

void link_notice(sockmsg_client_type *, uint16_t service_id, uint16_t type, const uint8_t *data, uint32_t length,
                 void *)
{
    service_type &s = service();
    if (service_id != IMC_SERVICE_ID)
        return;
    if (type == IMC_WIRE_DROPPED) {
        std::vector<int32_t> ids;
        {
            std::lock_guard<std::recursive_mutex> g(s.lock);
            ids = drop_local(s);
        }
        tell_connections(ids);
        return;
    }
    if (type != IMC_WIRE_NOTIFY || length < 12)
        return;
    const uint32_t remote = get32(data), kind = get32(data + 4), count = get32(data + 8);
    std::lock_guard<std::recursive_mutex> g(s.lock);
    for (const auto &[id, reg] : s.regs) {
        if (reg->remote == remote) {
            post(reg, kind, std::vector<uint8_t>(data + 12, data + length), count);
            return;
        }
    }
}

// The daemon went away: as a drop; the next bind connects again.
void link_closed(sockmsg_client_type *client, void *)
{
    service_type &s = service();
    std::vector<int32_t> ids;
    {
        std::lock_guard<std::recursive_mutex> g(s.lock);
        if (s.link == client)
            s.link = nullptr;
        sockmsg_client_close(client);
        ids = drop_local(s);
    }
    tell_connections(ids);
}

// The connection to the daemon, made at the first call that needs it. Caller holds the lock.
zerrno link_ensure(service_type &s)
{
    if (s.link != nullptr)
        return 0;
    if (s.link_evm == nullptr) {
        // Notices are handed to the registrations' own managers from here; the thread lives as
        // long as the process.
        s.link_evm = event_create_manager(nullptr, nullptr, 0);
        if (s.link_evm == nullptr)
            return IMC_ERR_NO_MEMORY;
        std::thread([evm = s.link_evm] {
            for (;;) {
                event_type *ev = event_block(evm);
                if (ev != nullptr)
                    zq_event_dispatch(ev);
            }
        }).detach();
    }
    if (sockmsg_client_connect(plat_socket_path(), s.link_evm, link_notice, link_closed, nullptr, &s.link) != 0) {
        s.link = nullptr;
        return IMC_ERR_NOT_CONNECTED;
    }
    return 0;
}

// One request to the daemon. Caller holds the lock (so that a notice for a registration being
// made waits until the registration is known).
zerrno link_call(service_type &s, uint16_t type, const std::vector<uint8_t> &req, std::vector<uint8_t> *reply)
{
    if (const zerrno rc = link_ensure(s); rc != 0)
        return rc;
    uint32_t status = 0;
    const zerrno rc = sockmsg_client_call(s.link, IMC_SERVICE_ID, type, req.data(), static_cast<uint32_t>(req.size()),
                                          &status, reply);
    return rc != 0 ? IMC_ERR_NOT_CONNECTED : status;
}

uint32_t env_node()
{
    uint32_t node = 0;
    platform_get_my_nodeid(&node);
    return node;
}

std::vector<uint8_t> names_request(uint32_t binding, const std::vector<std::string> &names)
{
    std::vector<uint8_t> req;
    put32(req, binding);
    for (const std::string &n : names) {
        const size_t at = req.size();
        req.resize(at + IMC_NAME_SIZE, 0);
        memcpy(req.data() + at, n.data(), std::min(n.size(), IMC_NAME_SIZE));
    }
    return req;
}

zerrno remote_find(service_type &s, imc_ctx_type *c, const std::vector<std::string> &names, uint32_t *handles,
                   zerrno *errors)
{
    std::vector<uint8_t> reply;
    const zerrno rc = link_call(s, IMC_WIRE_FIND, names_request(c->id, names), &reply);
    if (rc != 0)
        return rc;
    if (reply.size() != 8 * names.size())
        return IMC_ERR_INVALID;
    zerrno first = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        handles[i] = get32(reply.data() + 8 * i);
        const zerrno e = get32(reply.data() + 8 * i + 4);
        if (errors != nullptr)
            errors[i] = e;
        if (first == 0)
            first = e;
    }
    return first;
}

std::vector<uint8_t> binding_handle(uint32_t binding, uint32_t handle)
{
    std::vector<uint8_t> req;
    put32(req, binding);
    put32(req, handle);
    return req;
}

std::vector<std::string> names_of(const char (*names)[IMC_NAME_SIZE], uint32_t count)
{
    std::vector<std::string> out;
    out.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const char *n = names[i];
        out.emplace_back(n, strnlen(n, IMC_NAME_SIZE)); // never trusted to hold its NUL
    }
    return out;
}

} // namespace

zerrno imc_control_server_bind(const imc_bind_params_type *params, uint32_t, imc_ctx_type **out)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (params == nullptr || out == nullptr)
        return IMC_ERR_INVALID;
    uint32_t node = 0, id = 0;
    if (remote_mode(s)) {
        std::vector<uint8_t> req, reply;
        put32(req, env_node());
        if (const zerrno rc = link_call(s, IMC_WIRE_BIND, req, &reply); rc != 0)
            return rc;
        if (reply.size() != 4)
            return IMC_ERR_INVALID;
        id = get32(reply.data());
        node = env_node();
    } else if (!my_node(s, &node)) {
        return IMC_ERR_NO_NODE;
    }
    auto *c = new imc_ctx_type;
    c->connid = s.next_connid++;
    c->node = node;
    c->id = id;
    s.bindings.insert(c);
    *out = c;
    return 0;
}

zerrno imc_control_server_unbind(imc_ctx_type *ctx)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (ctx == nullptr || ctx->session != nullptr || s.bindings.erase(ctx) == 0)
        return IMC_ERR_INVALID;
    if (remote_mode(s) && ctx->alive) {
        std::vector<uint8_t> req;
        put32(req, ctx->id);
        link_call(s, IMC_WIRE_UNBIND, req, nullptr); // a daemon gone has forgotten it anyway
    }
    delete ctx;
    return 0;
}

zerrno imc_conn_ctx_to_connid(imc_ctx_type *ctx, int32_t *connid)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (connid == nullptr || s.bindings.count(ctx) == 0)
        return IMC_ERR_INVALID;
    if (!ctx->alive)
        return IMC_ERR_NOT_CONNECTED;
    *connid = ctx->connid;
    return 0;
}

zerrno imc_interface_find(imc_ctx_type *ctx, const char (*names)[IMC_NAME_SIZE], uint32_t count, uint32_t *handles,
                          zerrno *errors)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if ((count != 0 && (names == nullptr || handles == nullptr)) || s.bindings.count(ctx) == 0)
        return IMC_ERR_INVALID;
    if (!ctx->alive)
        return IMC_ERR_NOT_CONNECTED;
    if (count == 0)
        return 0;
    const std::vector<std::string> list = names_of(names, count);
    if (remote_mode(s))
        return remote_find(s, ctx, list, handles, errors);
    return do_find(s, ctx->node, list, handles, errors);
}

zerrno imc_s_interface_find(void *ctx, const char *name, uint32_t *ifhandle)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    imc_ctx_type *c = live_binding(s, ctx);
    if (name == nullptr || ifhandle == nullptr || c == nullptr)
        return IMC_ERR_INVALID;
    const size_t len = strlen(name);
    if (len >= IMC_NAME_SIZE)
        return IMC_ERR_NO_INTERFACE;
    const std::vector<std::string> list{std::string(name, len)};
    return remote_mode(s) ? remote_find(s, c, list, ifhandle, nullptr) : do_find(s, c->node, list, ifhandle, nullptr);
}

zerrno imc_s_interface_name(void *ctx, uint32_t ifhandle, char *buffer, size_t size)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    imc_ctx_type *c = live_binding(s, ctx);
    if (buffer == nullptr || size == 0 || c == nullptr)
        return IMC_ERR_INVALID;
    std::string name;
    if (remote_mode(s)) {
        std::vector<uint8_t> reply;
        if (const zerrno rc = link_call(s, IMC_WIRE_NAME, binding_handle(c->id, ifhandle), &reply); rc != 0)
            return rc;
        name.assign(reply.begin(), reply.end());
    } else {
        const intf_type *i = find_handle(s, c->node, ifhandle);
        if (i == nullptr)
            return IMC_ERR_NO_INTERFACE;
        name = i->name;
    }
    if (name.size() >= size)
        return IMC_ERR_TOO_SMALL;
    memcpy(buffer, name.c_str(), name.size() + 1);
    return 0;
}

zerrno imc_s_interface_get_type(void *ctx, uint32_t ifhandle, uint32_t *type)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    imc_ctx_type *c = live_binding(s, ctx);
    if (type == nullptr || c == nullptr)
        return IMC_ERR_INVALID;
    if (remote_mode(s)) {
        std::vector<uint8_t> reply;
        if (const zerrno rc = link_call(s, IMC_WIRE_TYPE, binding_handle(c->id, ifhandle), &reply); rc != 0)
            return rc;
        if (reply.size() != 4)
            return IMC_ERR_INVALID;
        *type = get32(reply.data());
        return 0;
    }
    const intf_type *i = find_handle(s, c->node, ifhandle);
    if (i == nullptr)
        return IMC_ERR_NO_INTERFACE;
    *type = i->type;
    return 0;
}

// Names do not change, so every process answers from the chassis description it was given.
const char *imc_display_namestring(uint32_t ifhandle, char *buffer, size_t size)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (buffer == nullptr || size == 0)
        return "<unknown>";
    uint32_t node = 0;
    const intf_type *i = my_node(s, &node) ? find_handle(s, node, ifhandle) : nullptr;
    snprintf(buffer, size, "%s", i == nullptr ? "<unknown>" : i->name.c_str());
    return buffer;
}

uint32_t imc_ifhandle_to_hash(uint32_t ifhandle, uint32_t key_bits)
{
    if (key_bits == 0)
        return 0;
    const uint32_t h = ifhandle * 0x9E3779B1u; // Fibonacci hashing: the top bits mix best
    return key_bits >= 32 ? h : h >> (32 - key_bits);
}

zerrno imc_register_callback(event_mgr_type *evm, uint32_t notify_class, imc_notify_fn callback, void *context,
                             imc_reg_type **out)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (evm == nullptr || callback == nullptr || out == nullptr || notify_class != IMC_NOTIFY_CLASS_BULK)
        return IMC_ERR_INVALID;
    if (remote_mode(s)) {
        // The daemon answers with the replay-done notice; it is handed on once the registration
        // is known here (the lock is held until then).
        std::vector<uint8_t> req, reply;
        put32(req, env_node());
        if (const zerrno rc = link_call(s, IMC_WIRE_REGISTER, req, &reply); rc != 0)
            return rc;
        if (reply.size() != 4)
            return IMC_ERR_INVALID;
        imc_reg_type *reg = nullptr;
        if (const zerrno rc = reg_new(s, env_node(), evm, callback, context, &reg); rc != 0)
            return rc;
        reg->remote = get32(reply.data());
        *out = reg;
        return 0;
    }
    uint32_t node = 0;
    if (!my_node(s, &node))
        return IMC_ERR_NO_NODE;
    imc_reg_type *reg = nullptr;
    if (const zerrno rc = reg_new(s, node, evm, callback, context, &reg); rc != 0)
        return rc;
    post(reg, IMC_NOTIFY_REPLAY_DONE, {}, 0); // nothing registered yet: nothing to replay
    *out = reg;
    return 0;
}

zerrno imc_unregister_callback(imc_reg_type *reg)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    const auto it = std::find_if(s.regs.begin(), s.regs.end(), [reg](const auto &r) { return r.second == reg; });
    if (it == s.regs.end() || reg->session != nullptr)
        return IMC_ERR_INVALID;
    if (remote_mode(s)) {
        std::vector<uint8_t> req;
        put32(req, reg->remote);
        link_call(s, IMC_WIRE_UNREGISTER, req, nullptr); // a daemon gone has forgotten it anyway
    }
    reg_free(s, reg);
    return 0;
}

zerrno imc_attr_register(imc_reg_type *reg, uint32_t op, const imc_attr_reg_type *elements, uint32_t count,
                         zerrno *results)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    const auto it = std::find_if(s.regs.begin(), s.regs.end(), [reg](const auto &r) { return r.second == reg; });
    if ((count != 0 && elements == nullptr) || it == s.regs.end() || reg->session != nullptr)
        return IMC_ERR_INVALID;
    std::vector<element_type> list(count);
    std::vector<zerrno> checked(count, 0);
    for (uint32_t i = 0; i < count; ++i) {
        const imc_attr_reg_type &e = elements[i];
        list[i].ifhandle = e.ifhandle;
        list[i].protocol = e.protocol[1];
        if (e.attrs != nullptr && e.attr_count <= 64)
            list[i].attrs.assign(e.attrs, e.attrs + e.attr_count);
        else if (e.attr_count != 0)
            checked[i] = IMC_ERR_INVALID; // more than anyone registers, or no list: never read
    }
    if (!remote_mode(s)) {
        const zerrno rc = do_attr_register(s, reg, op, list, results);
        if (results != nullptr)
            for (uint32_t i = 0; i < count; ++i)
                if (checked[i] != 0)
                    results[i] = checked[i];
        return rc;
    }
    std::vector<uint8_t> req, reply;
    put32(req, reg->remote);
    put32(req, op);
    put32(req, count);
    for (const element_type &e : list) {
        put32(req, e.ifhandle);
        put16(req, e.protocol);
        put16(req, static_cast<uint16_t>(e.attrs.size()));
        for (uint16_t a : e.attrs)
            put16(req, a);
    }
    if (const zerrno rc = link_call(s, IMC_WIRE_ATTR, req, &reply); rc != 0)
        return rc;
    if (reply.size() != 4ull * count)
        return IMC_ERR_INVALID;
    zerrno first = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const zerrno e = checked[i] != 0 ? checked[i] : get32(reply.data() + 4 * i);
        if (results != nullptr)
            results[i] = e;
        if (first == 0)
            first = e;
    }
    return first;
}

const char *im_notify_reverse_lookup(uint32_t kind)
{
    switch (kind) {
    case IMC_NOTIFY_ATTRIBUTES: return "attribute change";
    case IMC_NOTIFY_REPLAY_DONE: return "replay done";
    default: return "unknown";
    }
}

// ---- Address lists ---------------------------------------------------------------------------

zerrno iparm_al_c_init(void)
{
    return 0;
}

zerrno iparm_al_c_tlv2addr(const uint8_t *tlv, uint32_t length, iparm_al_c_list_type **out)
{
    if (tlv == nullptr || out == nullptr || length < 8)
        return IMC_ERR_INVALID;
    const uint16_t count = get16(tlv + 6);
    if (length != 8 + 18u * count)
        return IMC_ERR_INVALID;
    auto *list = new iparm_al_c_list_type{get32(tlv), get16(tlv + 4), count, nullptr};
    if (count > 0)
        list->addrs = new iparm_al_c_addr_type[count];
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t *p = tlv + 8 + 18u * i;
        memcpy(list->addrs[i].addr, p, 16);
        list->addrs[i].prefix_len = p[16];
        list->addrs[i].flags = p[17];
    }
    *out = list;
    return 0;
}

void iparm_al_c_free(iparm_al_c_list_type *list)
{
    if (list == nullptr)
        return;
    delete[] list->addrs;
    delete list;
}

const char *im_state_name(uint32_t state)
{
    switch (state) {
    case CHASSIS_LINE_ADMIN_DOWN: return "admin-down";
    case CHASSIS_LINE_DOWN: return "down";
    case CHASSIS_LINE_UP: return "up";
    default: return "unknown";
    }
}

// ---- Test control ------------------------------------------------------------------------------

void imc_test_reset(void)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    while (!s.regs.empty())
        reg_free(s, s.regs.begin()->second);
    for (imc_ctx_type *c : s.bindings)
        delete c;
    s.bindings.clear();
    s.nodes.clear();
    s.loaded = false;
}

zerrno imc_test_set_line_state(uint32_t ifhandle, uint32_t state)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    uint32_t node = 0;
    return my_node(s, &node) ? set_line_state(s, node, ifhandle, state) : IMC_ERR_NO_NODE;
}

zerrno imc_test_set_ipv4(uint32_t ifhandle, const std::vector<std::array<uint8_t, 4>> &addrs)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    uint32_t node = 0;
    return my_node(s, &node) ? set_addrs(s, node, ifhandle, &intf_type::ipv4, addrs) : IMC_ERR_NO_NODE;
}

zerrno imc_test_set_ipv6(uint32_t ifhandle, const std::vector<std::array<uint8_t, 16>> &addrs)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    uint32_t node = 0;
    return my_node(s, &node) ? set_addrs(s, node, ifhandle, &intf_type::ipv6, addrs) : IMC_ERR_NO_NODE;
}

void imc_test_drop_connection(void)
{
    service_type &s = service();
    std::vector<int32_t> ids;
    {
        std::lock_guard<std::recursive_mutex> g(s.lock);
        ids = drop_local(s);
    }
    tell_connections(ids);
}

size_t imc_test_registrations(uint32_t ifhandle)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    size_t n = 0;
    for (const auto &[id, reg] : s.regs)
        for (const auto &[key, want] : reg->interests)
            n += key.first == ifhandle;
    return n;
}

// ---- The daemon's side: bindings and registrations held for its clients ------------------------

namespace {

// What the daemon holds for one client connection.
struct host_session_type {
    uint32_t node = 0;
    bool has_node = false;
    std::set<imc_ctx_type *> bindings;
    std::set<imc_reg_type *> regs;
};

void host_reply(sockmsg_call_type *call, zerrno status, const std::vector<uint8_t> &data = {})
{
    if (call != nullptr)
        sockmsg_reply(call, status, data.empty() ? nullptr : data.data(), static_cast<uint32_t>(data.size()));
}

host_session_type *host_state(sockmsg_session_type *session)
{
    return static_cast<host_session_type *>(sockmsg_session_state(session, IMC_SERVICE_ID));
}

// The client's node: the process manager's for a process it started, else the one the client
// names (once per connection). Caller holds the lock.
zerrno host_node(service_type &s, sockmsg_session_type *session, const uint8_t *data, host_session_type **out)
{
    uint32_t node = 0;
    const zerrno rc = sysmgr_host_client_node(session, get32(data), &node);
    if (rc != 0)
        return rc == SYSMGR_ERR_NO_NODE ? IMC_ERR_NO_NODE : IMC_ERR_INVALID;
    if (table_of(s, node) == nullptr)
        return IMC_ERR_NO_NODE;
    host_session_type *hs = host_state(session);
    if (hs == nullptr) {
        hs = new host_session_type;
        sockmsg_session_set_state(session, IMC_SERVICE_ID, hs);
    }
    if (hs->has_node && hs->node != node)
        return IMC_ERR_INVALID;
    hs->node = node;
    hs->has_node = true;
    *out = hs;
    return 0;
}

// A binding of this client that is alive, by number. Caller holds the lock.
imc_ctx_type *host_binding(sockmsg_session_type *session, uint32_t id)
{
    host_session_type *hs = host_state(session);
    if (hs == nullptr)
        return nullptr;
    for (imc_ctx_type *c : hs->bindings)
        if (c->id == id && c->alive)
            return c;
    return nullptr;
}

imc_reg_type *host_reg(sockmsg_session_type *session, uint32_t id)
{
    host_session_type *hs = host_state(session);
    if (hs == nullptr)
        return nullptr;
    for (imc_reg_type *r : hs->regs)
        if (r->id == id)
            return r;
    return nullptr;
}

void on_bind(sockmsg_session_type *session, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (length != 4)
        return host_reply(call, IMC_ERR_INVALID);
    host_session_type *hs = nullptr;
    if (const zerrno rc = host_node(s, session, data, &hs); rc != 0)
        return host_reply(call, rc);
    auto *c = new imc_ctx_type;
    c->node = hs->node;
    c->id = s.next_binding++;
    c->session = session;
    s.bindings.insert(c);
    hs->bindings.insert(c);
    std::vector<uint8_t> reply;
    put32(reply, c->id);
    host_reply(call, 0, reply);
}

void on_unbind(sockmsg_session_type *session, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    host_session_type *hs = host_state(session);
    imc_ctx_type *c = nullptr;
    if (length == 4 && hs != nullptr)
        for (imc_ctx_type *b : hs->bindings)
            if (b->id == get32(data))
                c = b;
    if (c == nullptr)
        return host_reply(call, IMC_ERR_INVALID);
    hs->bindings.erase(c);
    s.bindings.erase(c);
    delete c;
    host_reply(call, 0);
}

void on_find(sockmsg_session_type *session, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (length < 4 + IMC_NAME_SIZE || (length - 4) % IMC_NAME_SIZE != 0)
        return host_reply(call, IMC_ERR_INVALID);
    imc_ctx_type *c = host_binding(session, get32(data));
    if (c == nullptr)
        return host_reply(call, IMC_ERR_NOT_CONNECTED);
    const uint32_t count = (length - 4) / IMC_NAME_SIZE;
    const std::vector<std::string> names = names_of(reinterpret_cast<const char(*)[IMC_NAME_SIZE]>(data + 4), count);
    std::vector<uint32_t> handles(count);
    std::vector<zerrno> errors(count);
    do_find(s, c->node, names, handles.data(), errors.data());
    std::vector<uint8_t> reply;
    for (uint32_t i = 0; i < count; ++i) {
        put32(reply, handles[i]);
        put32(reply, errors[i]);
    }
    host_reply(call, 0, reply);
}

// The interface a request names by its binding and handle; without one, the error is the reply.
const intf_type *host_interface(service_type &s, sockmsg_session_type *session, sockmsg_call_type *call,
                                const uint8_t *data, uint32_t length)
{
    if (length != 8) {
        host_reply(call, IMC_ERR_INVALID);
        return nullptr;
    }
    const imc_ctx_type *c = host_binding(session, get32(data));
    if (c == nullptr) {
        host_reply(call, IMC_ERR_NOT_CONNECTED);
        return nullptr;
    }
    const intf_type *i = find_handle(s, c->node, get32(data + 4));
    if (i == nullptr)
        host_reply(call, IMC_ERR_NO_INTERFACE);
    return i;
}

void on_name(sockmsg_session_type *session, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    const intf_type *i = host_interface(s, session, call, data, length);
    if (i == nullptr)
        return;
    host_reply(call, 0, std::vector<uint8_t>(i->name.begin(), i->name.end()));
}

void on_type(sockmsg_session_type *session, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    const intf_type *i = host_interface(s, session, call, data, length);
    if (i == nullptr)
        return;
    std::vector<uint8_t> reply;
    put32(reply, i->type);
    host_reply(call, 0, reply);
}

void on_register(sockmsg_session_type *session, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (length != 4)
        return host_reply(call, IMC_ERR_INVALID);
    host_session_type *hs = nullptr;
    if (const zerrno rc = host_node(s, session, data, &hs); rc != 0)
        return host_reply(call, rc);
    imc_reg_type *reg = nullptr;
    if (const zerrno rc = reg_new(s, hs->node, nullptr, nullptr, nullptr, &reg); rc != 0)
        return host_reply(call, rc);
    reg->session = session;
    hs->regs.insert(reg);
    std::vector<uint8_t> reply;
    put32(reply, static_cast<uint32_t>(reg->id));
    host_reply(call, 0, reply);
    post(reg, IMC_NOTIFY_REPLAY_DONE, {}, 0); // after the reply: the client knows the number by then
}

void on_unregister(sockmsg_session_type *session, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    imc_reg_type *reg = length == 4 ? host_reg(session, get32(data)) : nullptr;
    if (reg == nullptr)
        return host_reply(call, IMC_ERR_INVALID);
    host_state(session)->regs.erase(reg);
    reg_free(s, reg);
    host_reply(call, 0);
}

// Elements: u32 handle, u16 protocol, u16 count, count u16 attributes; each length checked
// before it is read.
void on_attr(sockmsg_session_type *session, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (length < 12)
        return host_reply(call, IMC_ERR_INVALID);
    imc_reg_type *reg = host_reg(session, get32(data));
    if (reg == nullptr)
        return host_reply(call, IMC_ERR_INVALID);
    const uint32_t op = get32(data + 4), count = get32(data + 8);
    if (count > (length - 12) / 8)
        return host_reply(call, IMC_ERR_INVALID); // cannot hold that many elements
    std::vector<element_type> list(count);
    uint32_t at = 12;
    for (uint32_t i = 0; i < count; ++i) {
        if (length - at < 8)
            return host_reply(call, IMC_ERR_INVALID);
        list[i].ifhandle = get32(data + at);
        list[i].protocol = get16(data + at + 4);
        const uint16_t attrs = get16(data + at + 6);
        at += 8;
        if ((length - at) / 2 < attrs)
            return host_reply(call, IMC_ERR_INVALID);
        for (uint16_t k = 0; k < attrs; ++k)
            list[i].attrs.push_back(get16(data + at + 2u * k));
        at += 2u * attrs;
    }
    if (at != length)
        return host_reply(call, IMC_ERR_INVALID);
    std::vector<zerrno> results(count);
    do_attr_register(s, reg, op, list, results.data());
    std::vector<uint8_t> reply;
    for (zerrno r : results)
        put32(reply, r);
    // The reply goes first: the notifications follow it on the stream.
    host_reply(call, 0, reply);
}

void on_set_state(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    if (length != 12)
        return host_reply(call, IMC_ERR_INVALID);
    host_reply(call, imc_host_set_line_state(get32(data), get32(data + 4), get32(data + 8)));
}

void on_set_addrs(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    if (length < 12 || (data[8] != 4 && data[8] != 6) || data[9] != 0)
        return host_reply(call, IMC_ERR_INVALID);
    const uint32_t node = get32(data), handle = get32(data + 4);
    const uint16_t count = get16(data + 10);
    const uint32_t size = data[8] == 4 ? 4 : 16;
    if (length != 12 + size * count)
        return host_reply(call, IMC_ERR_INVALID);
    if (size == 4) {
        std::vector<std::array<uint8_t, 4>> addrs(count);
        for (uint16_t i = 0; i < count; ++i)
            memcpy(addrs[i].data(), data + 12 + 4u * i, 4);
        return host_reply(call, imc_host_set_ipv4(node, handle, addrs));
    }
    std::vector<std::array<uint8_t, 16>> addrs(count);
    for (uint16_t i = 0; i < count; ++i)
        memcpy(addrs[i].data(), data + 12 + 16u * i, 16);
    host_reply(call, imc_host_set_ipv6(node, handle, addrs));
}

void on_drop(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    if (length != 4)
        return host_reply(call, IMC_ERR_INVALID);
    std::vector<uint8_t> reply;
    put32(reply, imc_host_drop(get32(data)));
    host_reply(call, 0, reply);
}

void on_show(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    if (length != 4)
        return host_reply(call, IMC_ERR_INVALID);
    const std::string table = imc_host_table(get32(data));
    host_reply(call, 0, std::vector<uint8_t>(table.begin(), table.end()));
}

// A client's death frees everything it held.
void on_disconnect(sockmsg_session_type *, void *state, void *)
{
    auto *hs = static_cast<host_session_type *>(state);
    if (hs == nullptr)
        return;
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    for (imc_ctx_type *c : hs->bindings) {
        s.bindings.erase(c);
        delete c;
    }
    for (imc_reg_type *r : hs->regs)
        reg_free(s, r);
    delete hs;
}

const sockmsg_handler_row host_rows[] = {
    {IMC_WIRE_BIND, on_bind},
    {IMC_WIRE_UNBIND, on_unbind},
    {IMC_WIRE_FIND, on_find},
    {IMC_WIRE_NAME, on_name},
    {IMC_WIRE_TYPE, on_type},
    {IMC_WIRE_REGISTER, on_register},
    {IMC_WIRE_UNREGISTER, on_unregister},
    {IMC_WIRE_ATTR, on_attr},
    {IMC_WIRE_SET_STATE, on_set_state},
    {IMC_WIRE_SET_ADDRS, on_set_addrs},
    {IMC_WIRE_DROP, on_drop},
    {IMC_WIRE_SHOW, on_show},
};
const sockmsg_service_type host_service = {IMC_SERVICE_ID, "imc",  host_rows, sizeof host_rows / sizeof host_rows[0],
                                           on_disconnect,  nullptr};

std::string state_text(uint32_t state)
{
    const char *name = im_state_name(state);
    return std::strcmp(name, "unknown") != 0 ? name : std::to_string(state);
}

template <size_t N>
std::string addrs_text(const std::vector<std::array<uint8_t, N>> &addrs)
{
    std::string out;
    for (const auto &a : addrs) {
        char buf[64];
        if (N == 4) {
            snprintf(buf, sizeof buf, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
        } else {
            // Full groups, no compression: stable text for tools to compare.
            int n = 0;
            for (size_t i = 0; i < N; i += 2)
                n += snprintf(buf + n, sizeof buf - static_cast<size_t>(n), "%s%x", i == 0 ? "" : ":",
                              static_cast<unsigned>(a[i] << 8 | a[i + 1]));
        }
        out += (out.empty() ? "" : ",") + std::string(buf);
    }
    return out.empty() ? "-" : out;
}

} // namespace

zerrno imc_host_init(event_mgr_type *, sockmsg_server_type *server)
{
    {
        service_type &s = service();
        std::lock_guard<std::recursive_mutex> g(s.lock);
        s.hosting = true;
        load(s);
    }
    return sockmsg_server_register(server, &host_service);
}

void imc_host_shutdown(void)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    s.hosting = false;
}

zerrno imc_host_set_line_state(uint32_t node, uint32_t ifhandle, uint32_t state)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    return table_of(s, node) == nullptr ? IMC_ERR_NO_NODE : set_line_state(s, node, ifhandle, state);
}

zerrno imc_host_set_ipv4(uint32_t node, uint32_t ifhandle, const std::vector<std::array<uint8_t, 4>> &addrs)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    return table_of(s, node) == nullptr ? IMC_ERR_NO_NODE : set_addrs(s, node, ifhandle, &intf_type::ipv4, addrs);
}

zerrno imc_host_set_ipv6(uint32_t node, uint32_t ifhandle, const std::vector<std::array<uint8_t, 16>> &addrs)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    return table_of(s, node) == nullptr ? IMC_ERR_NO_NODE : set_addrs(s, node, ifhandle, &intf_type::ipv6, addrs);
}

uint32_t imc_host_drop(uint32_t node)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    std::set<sockmsg_session_type *> told;
    std::vector<imc_reg_type *> gone;
    for (const auto &[id, reg] : s.regs)
        if (reg->session != nullptr && (node == UINT32_MAX || reg->node == node))
            gone.push_back(reg);
    for (imc_reg_type *reg : gone) {
        told.insert(reg->session);
        host_state(reg->session)->regs.erase(reg);
        reg_free(s, reg);
    }
    for (imc_ctx_type *c : s.bindings) {
        if (c->session != nullptr && c->alive && (node == UINT32_MAX || c->node == node)) {
            c->alive = false;
            told.insert(c->session);
        }
    }
    for (sockmsg_session_type *session : told)
        sockmsg_notify(session, IMC_SERVICE_ID, IMC_WIRE_DROPPED, nullptr, 0);
    return static_cast<uint32_t>(told.size());
}

std::string imc_host_table(uint32_t node)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    load(s);
    std::string out;
    const chassis_desc_type *chassis = sysmgr_chassis();
    for (const auto &[id, table] : s.nodes) {
        if (node != UINT32_MAX && id != node)
            continue;
        const chassis_node_type *n = chassis_find_node(chassis, id);
        for (const auto &[handle, i] : table) {
            char head[160];
            snprintf(head, sizeof head, "%s %s 0x%x %s ", n != nullptr ? n->name.c_str() : "?", i.name.c_str(), handle,
                     state_text(i.line_state).c_str());
            out += head + addrs_text(i.ipv4) + " " + addrs_text(i.ipv6) + "\n";
        }
    }
    return out;
}

// ---- The display tools' name map ----

namespace {

struct name_map_type {
    std::mutex lock;
    imc_ctx_type *ctx = nullptr;
    std::map<uint32_t, std::string> names; // an empty name: not known
};

name_map_type &name_map()
{
    static name_map_type m;
    return m;
}

} // namespace

zerrno im_build_name_timestamp_map(imc_ctx_type *ctx)
{
    if (ctx == nullptr)
        return IMC_ERR_INVALID;
    name_map_type &m = name_map();
    std::lock_guard<std::mutex> g(m.lock);
    m.ctx = ctx;
    m.names.clear();
    return 0;
}

void im_cleanup_name_timestamp_map(void)
{
    name_map_type &m = name_map();
    std::lock_guard<std::mutex> g(m.lock);
    m.ctx = nullptr;
    m.names.clear();
}

const char *im_name_from_timestamp(uint32_t ifhandle, uint64_t, char *buffer, size_t size)
{
    name_map_type &m = name_map();
    std::lock_guard<std::mutex> g(m.lock);
    if (buffer == nullptr || size == 0 || m.ctx == nullptr)
        return nullptr;
    auto it = m.names.find(ifhandle);
    if (it == m.names.end()) {
        char name[IMC_NAME_SIZE];
        const bool found = imc_s_interface_name(m.ctx, ifhandle, name, sizeof name) == 0;
        it = m.names.emplace(ifhandle, found ? name : "").first;
    }
    if (it->second.empty())
        return nullptr;
    snprintf(buffer, size, "%s", it->second.c_str());
    return buffer;
}
