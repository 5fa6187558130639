// The FIB external client of the process: connections, registrations, routes and updates.
#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "fib_ext_client.h"
#include "fib_test.h"
#include "nl_linux.h"

namespace {

using data_type = std::vector<uint8_t>;

// What a registration is known by: VRF, interface, address, length.
using reg_key_type = std::tuple<uint32_t, uint32_t, std::string, uint16_t>;

struct registration_type {
    fib_ext_client_prefix_st prefix{};
    bool has_data = false;
    const data_type *current = nullptr;
};

struct queued_type {
    bool reconnect = false;
    fib_ext_client_h new_handle = nullptr;
    fib_ext_client_prefix_st prefix{};
    const data_type *data = nullptr;
};

} // namespace

struct fib_ext_client_conn_type {
    fib_ext_client_params_st params{};
    std::string client_name;
    bool live = true;
    int32_t code = -1;
    int32_t coid = -1;
    std::map<reg_key_type, registration_type> regs;
    std::deque<queued_type> queue;
    // Every next-hop data ever handed out on the connection: a client may still hold a pointer
    // after a change or a cleanup, so none is freed before the connection.
    std::vector<std::unique_ptr<data_type>> data;
};

namespace {

using route_key_type = std::tuple<uint32_t, uint32_t, std::string, uint16_t>; // VRF, family, address, length

struct state_type {
    std::recursive_mutex mutex;
    std::vector<std::unique_ptr<fib_ext_client_conn_type>> conns;
    std::map<route_key_type, data_type> routes;
    std::map<std::pair<fib_test_call, uint32_t>, std::pair<zerrno, uint32_t>> failures;
    std::map<std::pair<fib_test_call, uint32_t>, uint32_t> calls;
    std::map<uint32_t, std::vector<std::vector<fib_ext_client_prefix_st>>> bulk;
};

state_type &state()
{
    static state_type s;
    return s;
}

uint32_t addr_len(uint32_t family)
{
    return family == FIB_EXT_FAMILY_IPV4 ? 4 : 16;
}

zerrno count_call(fib_test_call call, uint32_t family)
{
    state_type &s = state();
    s.calls[{call, family}]++;
    auto it = s.failures.find({call, family});
    if (it == s.failures.end()) {
        return 0;
    }
    const zerrno rc = it->second.first;
    if (--it->second.second == 0) {
        s.failures.erase(it);
    }
    return rc;
}

bool covers(const std::string &route, uint16_t route_len, const uint8_t *addr)
{
    const auto *r = reinterpret_cast<const uint8_t *>(route.data());
    const uint32_t full = route_len / 8;
    if (std::memcmp(r, addr, full) != 0) {
        return false;
    }
    const uint32_t rest = route_len % 8;
    if (rest == 0) {
        return true;
    }
    const uint8_t mask = static_cast<uint8_t>(0xFF << (8 - rest));
    return (r[full] & mask) == (addr[full] & mask);
}

// The next-hop data of a prefix now: the kernel's route for a bound interface, else the
// in-memory route that covers it with the longest length. False when none covers it.
bool next_hop(const fib_ext_client_prefix_st &p, data_type *out)
{
    const uint32_t len = addr_len(p.family);
    nl_linux_intf_type intf;
    if (nl_linux_intf_get(p.ifhandle, &intf)) {
        nl_linux_route_type route;
        if (nl_linux_route_get(intf, p.address, len, &route) != 0) {
            return false;
        }
        // Output device index (big-endian), gateway length, gateway.
        out->assign({static_cast<uint8_t>(route.oif >> 24), static_cast<uint8_t>(route.oif >> 16),
                     static_cast<uint8_t>(route.oif >> 8), static_cast<uint8_t>(route.oif),
                     static_cast<uint8_t>(route.gateway_len)});
        out->insert(out->end(), route.gateway, route.gateway + route.gateway_len);
        return true;
    }
    int best = -1;
    for (const auto &[k, d] : state().routes) {
        const auto &[vrf, family, addr, plen] = k;
        if (vrf == p.vrf_id && family == p.family && plen <= len * 8 && static_cast<int>(plen) > best &&
            covers(addr, plen, p.address)) {
            best = plen;
            *out = d;
        }
    }
    return best >= 0;
}

// Re-reads the next hop of a registration; queues an update when it changed (or always).
void refresh(fib_ext_client_conn_type *c, registration_type &reg, bool always)
{
    data_type now;
    const bool has = next_hop(reg.prefix, &now);
    if (!always && has == reg.has_data && (!has || (reg.current != nullptr && *reg.current == now))) {
        return;
    }
    if (!has && !reg.has_data) {
        return;
    }
    reg.has_data = has;
    c->data.push_back(std::make_unique<data_type>(has ? now : data_type{}));
    reg.current = c->data.back().get();
    queued_type q;
    q.prefix = reg.prefix;
    q.prefix.nh_len = static_cast<uint32_t>(reg.current->size());
    q.data = reg.current;
    c->queue.push_back(q);
    event_send_async(c->coid, c->code, 0);
}

void refresh_all(bool bound_only)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    nl_linux_intf_type intf;
    for (auto &c : s.conns) {
        if (!c->live) {
            continue;
        }
        for (auto &[k, reg] : c->regs) {
            if (!bound_only || nl_linux_intf_get(reg.prefix.ifhandle, &intf)) {
                refresh(c.get(), reg, false);
            }
        }
    }
}

void linux_poll()
{
    refresh_all(true);
}

int deliver(const event_async_ctx_type *, int32_t, void *context)
{
    auto *c = static_cast<fib_ext_client_conn_type *>(context);
    for (;;) {
        queued_type q;
        {
            std::lock_guard<std::recursive_mutex> lock(state().mutex);
            if (c->queue.empty()) {
                return 0;
            }
            q = c->queue.front();
            c->queue.pop_front();
        }
        if (q.reconnect) {
            if (c->params.reconnect_cb != nullptr) {
                c->params.reconnect_cb(q.new_handle);
            }
        } else if (c->params.update_cb != nullptr) {
            c->params.update_cb(&q.prefix, q.data->data());
        }
    }
}

reg_key_type reg_key(const fib_ext_client_prefix_st &p)
{
    return {p.vrf_id, p.ifhandle, std::string(reinterpret_cast<const char *>(p.address), addr_len(p.family)),
            p.prefix_len};
}

fib_ext_client_conn_type *conn_create(const fib_ext_client_params_st &params)
{
    auto c = std::make_unique<fib_ext_client_conn_type>();
    c->params = params;
    c->client_name = params.client_name != nullptr ? params.client_name : "";
    c->params.client_name = c->client_name.c_str();
    event_async_ctx_type ctx{};
    c->code = event_async_attach_event(params.evm, 128, deliver, c.get(), &ctx);
    if (c->code < 0) {
        return nullptr;
    }
    c->coid = ctx.coid;
    state().conns.push_back(std::move(c));
    return state().conns.back().get();
}

} // namespace

zerrno fib_ext_client_init_v2(const fib_ext_client_params_st *params, fib_ext_client_h *out)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    if (params == nullptr || out == nullptr || params->evm == nullptr ||
        (params->family != FIB_EXT_FAMILY_IPV4 && params->family != FIB_EXT_FAMILY_IPV6)) {
        return EINVAL;
    }
    if (zerrno rc = count_call(fib_test_call::init, params->family); rc != 0) {
        return rc;
    }
    fib_ext_client_conn_type *c = conn_create(*params);
    if (c == nullptr) {
        return EINVAL;
    }
    nl_linux_poll_register(linux_poll);
    *out = c;
    return 0;
}

zerrno fib_ext_client_bulk_reg_notif(fib_ext_client_h handle, const fib_ext_client_prefix_st *prefixes, uint32_t count)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    if (handle == nullptr || !handle->live || (count > 0 && prefixes == nullptr)) {
        return EINVAL;
    }
    const uint32_t family = handle->params.family;
    if (zerrno rc = count_call(fib_test_call::bulk_reg, family); rc != 0) {
        return rc;
    }
    for (uint32_t i = 0; i < count; i++) {
        if (prefixes[i].family != family || prefixes[i].prefix_len > addr_len(family) * 8) {
            return EINVAL;
        }
    }
    s.bulk[family].emplace_back(prefixes, prefixes + count);
    for (uint32_t i = 0; i < count; i++) {
        auto [it, added] = handle->regs.try_emplace(reg_key(prefixes[i]));
        if (added) {
            it->second.prefix = prefixes[i];
            it->second.prefix.nh_len = 0;
        }
        // Registering again asks for the current next hop again.
        refresh(handle, it->second, true);
    }
    return 0;
}

zerrno fib_ext_client_bulk_unreg_notif(fib_ext_client_h handle, const fib_ext_client_prefix_st *prefixes,
                                       uint32_t count)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    if (handle == nullptr || !handle->live || (count > 0 && prefixes == nullptr)) {
        return EINVAL;
    }
    if (zerrno rc = count_call(fib_test_call::bulk_unreg, handle->params.family); rc != 0) {
        return rc;
    }
    for (uint32_t i = 0; i < count; i++) {
        const reg_key_type k = reg_key(prefixes[i]);
        handle->regs.erase(k);
        // Updates of the prefix still queued are not wanted any more.
        std::erase_if(handle->queue, [&](const queued_type &q) { return !q.reconnect && reg_key(q.prefix) == k; });
    }
    return 0;
}

zerrno fib_ext_client_cleanup(fib_ext_client_h handle)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    if (handle == nullptr) {
        return EINVAL;
    }
    if (zerrno rc = count_call(fib_test_call::cleanup, handle->params.family); rc != 0) {
        return rc;
    }
    handle->regs.clear();
    std::erase_if(handle->queue, [](const queued_type &q) { return !q.reconnect; });
    return 0;
}

void fib_test_route_set(uint32_t vrf_id, uint32_t family, const uint8_t *address, uint16_t prefix_len,
                        const std::vector<uint8_t> &nh_data)
{
    {
        std::lock_guard<std::recursive_mutex> lock(state().mutex);
        state().routes[{vrf_id, family, std::string(reinterpret_cast<const char *>(address), addr_len(family)),
                        prefix_len}] = nh_data;
    }
    refresh_all(false);
}

void fib_test_route_remove(uint32_t vrf_id, uint32_t family, const uint8_t *address, uint16_t prefix_len)
{
    {
        std::lock_guard<std::recursive_mutex> lock(state().mutex);
        state().routes.erase(
            {vrf_id, family, std::string(reinterpret_cast<const char *>(address), addr_len(family)), prefix_len});
    }
    refresh_all(false);
}

void fib_test_fail(fib_test_call call, uint32_t family, zerrno code, uint32_t count)
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    state().failures[{call, family}] = {code, count};
}

void fib_test_reconnect(uint32_t family)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    std::vector<fib_ext_client_conn_type *> old;
    for (auto &c : s.conns) {
        if (c->live && c->params.family == family) {
            old.push_back(c.get());
        }
    }
    for (fib_ext_client_conn_type *c : old) {
        c->live = false;
        c->regs.clear();
        c->queue.clear();
        fib_ext_client_conn_type *fresh = conn_create(c->params);
        if (fresh == nullptr) {
            continue;
        }
        queued_type q;
        q.reconnect = true;
        q.new_handle = fresh;
        // The news comes on the new connection's event: the old one is dead.
        fresh->queue.push_back(q);
        event_send_async(fresh->coid, fresh->code, 0);
    }
}

std::vector<std::vector<fib_ext_client_prefix_st>> fib_test_bulk_registrations(uint32_t family)
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    return state().bulk[family];
}

uint32_t fib_test_calls(fib_test_call call, uint32_t family)
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    return state().calls[{call, family}];
}

std::vector<fib_ext_client_prefix_st> fib_test_registered(uint32_t family)
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    std::vector<fib_ext_client_prefix_st> out;
    for (auto &c : state().conns) {
        if (c->live && c->params.family == family) {
            for (const auto &[k, reg] : c->regs) {
                out.push_back(reg.prefix);
            }
        }
    }
    return out;
}

void fib_test_reset(void)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    for (auto &c : s.conns) {
        event_async_attach(c->params.evm, c->code, nullptr, nullptr);
    }
    s.conns.clear();
    s.routes.clear();
    s.failures.clear();
    s.calls.clear();
    s.bulk.clear();
}
