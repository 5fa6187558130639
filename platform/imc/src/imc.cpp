// Interface manager of this process's node: the interface table comes from the chassis
// description; registrations and notifications live in the process. Attribute values travel
// encoded byte by byte, as they would between processes.
#include "imc.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "evm_alarm.h"
#include "imc_test.h"
#include "sysmgr_chassis.h"

struct imc_ctx_type {
    int32_t connid = 0;
    bool alive = true;
};

namespace {

// What one registration wants of one interface: the protocol word of the element and its
// attributes.
struct interest_type {
    uint16_t protocol = 0;
    std::vector<uint16_t> attrs;
};

} // namespace

struct imc_reg_type {
    event_mgr_type *evm = nullptr;
    event_async_ctx_type event{};
    imc_notify_fn callback = nullptr;
    void *context = nullptr;
    bool alive = true;
    std::map<std::pair<uint32_t, uint16_t>, interest_type> interests; // (handle, protocol)
    std::deque<std::pair<uint32_t, std::vector<uint8_t>>> queue;      // kind, entries
    std::deque<uint32_t> counts;
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

struct service_type {
    std::recursive_mutex lock;
    bool loaded = false;
    std::map<uint32_t, intf_type> intfs; // this node's, by handle
    std::set<imc_ctx_type *> bindings;
    std::vector<imc_reg_type *> regs;
    int32_t next_connid = 0x4d00;
};

service_type &service()
{
    static service_type s;
    return s;
}

void load(service_type &s)
{
    if (s.loaded)
        return;
    const chassis_node_type *node = sysmgr_my_node();
    if (node == nullptr)
        return;
    s.loaded = true;
    for (const chassis_intf_type &ci : node->interfaces) {
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
        s.intfs[ci.handle] = std::move(i);
    }
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

int notify_event(const event_async_ctx_type *, int32_t, void *context)
{
    auto *reg = static_cast<imc_reg_type *>(context);
    service_type &s = service();
    uint32_t kind = 0, count = 0;
    std::vector<uint8_t> entries;
    {
        std::lock_guard<std::recursive_mutex> g(s.lock);
        if (reg->queue.empty())
            return 0;
        kind = reg->queue.front().first;
        entries = std::move(reg->queue.front().second);
        count = reg->counts.front();
        reg->queue.pop_front();
        reg->counts.pop_front();
    }
    const imc_notify_type n{kind, count, entries.data(), static_cast<uint32_t>(entries.size())};
    reg->callback(&n, reg->context);
    return 0;
}

void post(imc_reg_type *reg, uint32_t kind, std::vector<uint8_t> entries, uint32_t count)
{
    reg->queue.emplace_back(kind, std::move(entries));
    reg->counts.push_back(count);
    event_send_async(reg->event.coid, reg->event.code, 0);
}

// Tell every registration that wants it what an interface is now.
void changed(service_type &s, uint32_t handle, uint16_t attr)
{
    const auto it = s.intfs.find(handle);
    if (it == s.intfs.end())
        return;
    for (imc_reg_type *reg : s.regs) {
        for (const auto &[key, want] : reg->interests) {
            if (key.first != handle || std::find(want.attrs.begin(), want.attrs.end(), attr) == want.attrs.end())
                continue;
            std::vector<uint8_t> entries;
            append_entry(entries, handle, it->second, want);
            post(reg, IMC_NOTIFY_ATTRIBUTES, std::move(entries), 1);
        }
    }
}

bool ctx_ok(service_type &s, const void *ctx)
{
    const auto *c = static_cast<const imc_ctx_type *>(ctx);
    return s.bindings.count(const_cast<imc_ctx_type *>(c)) != 0 && c->alive;
}

intf_type *find_by_name(service_type &s, const char *name, uint32_t *handle)
{
    for (auto &[h, i] : s.intfs) {
        if (i.name == name) {
            *handle = h;
            return &i;
        }
    }
    return nullptr;
}

} // namespace

zerrno imc_control_server_bind(const imc_bind_params_type *params, uint32_t, imc_ctx_type **out)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (params == nullptr || out == nullptr)
        return IMC_ERR_INVALID;
    load(s);
    if (!s.loaded)
        return IMC_ERR_NO_NODE;
    auto *c = new imc_ctx_type;
    c->connid = s.next_connid++;
    s.bindings.insert(c);
    *out = c;
    return 0;
}

zerrno imc_control_server_unbind(imc_ctx_type *ctx)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (s.bindings.erase(ctx) == 0)
        return IMC_ERR_INVALID;
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
    zerrno first = 0;
    for (uint32_t i = 0; i < count; ++i) {
        char name[IMC_NAME_SIZE + 1] = {};
        memcpy(name, names[i], IMC_NAME_SIZE); // never trusted to hold its NUL
        handles[i] = 0;
        const zerrno rc = find_by_name(s, name, &handles[i]) != nullptr ? 0 : IMC_ERR_NO_INTERFACE;
        if (errors != nullptr)
            errors[i] = rc;
        if (first == 0)
            first = rc;
    }
    return first;
}

zerrno imc_s_interface_find(void *ctx, const char *name, uint32_t *ifhandle)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (name == nullptr || ifhandle == nullptr || !ctx_ok(s, ctx))
        return IMC_ERR_INVALID;
    return find_by_name(s, name, ifhandle) != nullptr ? 0 : IMC_ERR_NO_INTERFACE;
}

zerrno imc_s_interface_name(void *ctx, uint32_t ifhandle, char *buffer, size_t size)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (buffer == nullptr || size == 0 || !ctx_ok(s, ctx))
        return IMC_ERR_INVALID;
    const auto it = s.intfs.find(ifhandle);
    if (it == s.intfs.end())
        return IMC_ERR_NO_INTERFACE;
    if (it->second.name.size() >= size)
        return IMC_ERR_TOO_SMALL;
    memcpy(buffer, it->second.name.c_str(), it->second.name.size() + 1);
    return 0;
}

zerrno imc_s_interface_get_type(void *ctx, uint32_t ifhandle, uint32_t *type)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (type == nullptr || !ctx_ok(s, ctx))
        return IMC_ERR_INVALID;
    const auto it = s.intfs.find(ifhandle);
    if (it == s.intfs.end())
        return IMC_ERR_NO_INTERFACE;
    *type = it->second.type;
    return 0;
}

const char *imc_display_namestring(uint32_t ifhandle, char *buffer, size_t size)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (buffer == nullptr || size == 0)
        return "<unknown>";
    load(s);
    const auto it = s.intfs.find(ifhandle);
    snprintf(buffer, size, "%s", it == s.intfs.end() ? "<unknown>" : it->second.name.c_str());
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
    load(s);
    if (!s.loaded)
        return IMC_ERR_NO_NODE;
    auto *reg = new imc_reg_type;
    reg->evm = evm;
    reg->callback = callback;
    reg->context = context;
    if (event_async_attach_event(evm, 0, notify_event, reg, &reg->event) < 0) {
        delete reg;
        return IMC_ERR_NO_MEMORY;
    }
    s.regs.push_back(reg);
    post(reg, IMC_NOTIFY_REPLAY_DONE, {}, 0); // nothing registered yet: nothing to replay
    *out = reg;
    return 0;
}

namespace {

void reg_free(imc_reg_type *reg)
{
    event_async_attach(reg->evm, reg->event.code, nullptr, nullptr);
    delete reg;
}

} // namespace

zerrno imc_unregister_callback(imc_reg_type *reg)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    const auto it = std::find(s.regs.begin(), s.regs.end(), reg);
    if (it == s.regs.end())
        return IMC_ERR_INVALID;
    s.regs.erase(it);
    reg_free(reg);
    return 0;
}

zerrno imc_attr_register(imc_reg_type *reg, uint32_t op, const imc_attr_reg_type *elements, uint32_t count,
                         zerrno *results)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if ((count != 0 && elements == nullptr) || std::find(s.regs.begin(), s.regs.end(), reg) == s.regs.end())
        return IMC_ERR_INVALID;
    const bool add = (op & 1) != 0;
    zerrno first = 0;
    std::vector<uint8_t> replay;
    uint32_t replayed = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const imc_attr_reg_type &e = elements[i];
        zerrno rc = 0;
        const auto it = s.intfs.find(e.ifhandle);
        if (it == s.intfs.end())
            rc = IMC_ERR_NO_INTERFACE;
        else if (add && (e.attr_count == 0 || e.attrs == nullptr || e.attr_count > 64))
            rc = IMC_ERR_INVALID;
        if (rc == 0) {
            const std::pair<uint32_t, uint16_t> key{e.ifhandle, e.protocol[1]};
            if (add) {
                interest_type want;
                want.protocol = e.protocol[1];
                want.attrs.assign(e.attrs, e.attrs + e.attr_count);
                append_entry(replay, e.ifhandle, it->second, want);
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

// ---- Test control ------------------------------------------------------------------------------

void imc_test_reset(void)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    for (imc_reg_type *reg : s.regs)
        reg_free(reg);
    s.regs.clear();
    for (imc_ctx_type *c : s.bindings)
        delete c;
    s.bindings.clear();
    s.intfs.clear();
    s.loaded = false;
}

zerrno imc_test_set_line_state(uint32_t ifhandle, uint32_t state)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    load(s);
    const auto it = s.intfs.find(ifhandle);
    if (it == s.intfs.end())
        return IMC_ERR_NO_INTERFACE;
    if (it->second.line_state != state) {
        it->second.line_state = state;
        changed(s, ifhandle, IMC_ATTR_LINE_STATE);
    }
    return 0;
}

zerrno imc_test_set_ipv4(uint32_t ifhandle, const std::vector<std::array<uint8_t, 4>> &addrs)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    load(s);
    const auto it = s.intfs.find(ifhandle);
    if (it == s.intfs.end())
        return IMC_ERR_NO_INTERFACE;
    it->second.ipv4 = addrs;
    changed(s, ifhandle, IMC_ATTR_IP);
    return 0;
}

zerrno imc_test_set_ipv6(uint32_t ifhandle, const std::vector<std::array<uint8_t, 16>> &addrs)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    load(s);
    const auto it = s.intfs.find(ifhandle);
    if (it == s.intfs.end())
        return IMC_ERR_NO_INTERFACE;
    it->second.ipv6 = addrs;
    changed(s, ifhandle, IMC_ATTR_IP);
    return 0;
}

void imc_test_drop_connection(void)
{
    service_type &s = service();
    std::vector<int32_t> ids;
    {
        std::lock_guard<std::recursive_mutex> g(s.lock);
        for (imc_reg_type *reg : s.regs)
            reg_free(reg);
        s.regs.clear();
        for (imc_ctx_type *c : s.bindings) {
            if (c->alive)
                ids.push_back(c->connid);
            c->alive = false;
        }
    }
    // The clients' connections hear of it as their far end closing, and open again.
    for (int32_t id : ids)
        if (event_conn_type *conn = evm_conn_find(id))
            event_conn_peer_closed(conn);
}

size_t imc_test_registrations(uint32_t ifhandle)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    size_t n = 0;
    for (imc_reg_type *reg : s.regs)
        for (const auto &[key, want] : reg->interests)
            n += key.first == ifhandle;
    return n;
}
