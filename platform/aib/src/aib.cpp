// The adjacency table of the process, its clients and its notifications.
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "aib.h"
#include "aib_test.h"
#include "nl_linux.h"

struct aib_adj_tbl_type {
    uint32_t family;
};

namespace {

using key_type = std::tuple<uint32_t, uint32_t, std::string>; // handle, family, key bytes

struct client_type {
    std::string name;
    event_mgr_type *evm = nullptr;
    aib_notification_cb_fn callback = nullptr;
    uint32_t family = 0;
    int32_t code = -1;
    int32_t coid = -1;
    std::deque<std::pair<uint32_t, aib_adj_entry_type>> queue;
};

struct state_type {
    std::recursive_mutex mutex;
    bool bound = false;
    bool mapped = false;
    aib_adj_tbl_type ipv4_table{AIB_FAMILY_IPV4};
    std::map<key_type, aib_adj_entry_type> entries;
    std::vector<std::unique_ptr<client_type>> clients;
    std::map<aib_test_call, zerrno> failures;
};

state_type &state()
{
    static state_type s;
    return s;
}

zerrno take_failure(aib_test_call call)
{
    state_type &s = state();
    auto it = s.failures.find(call);
    if (it == s.failures.end()) {
        return 0;
    }
    const zerrno rc = it->second;
    s.failures.erase(it);
    return rc;
}

key_type key_of(uint32_t ifhandle, uint32_t family, const uint8_t *key, uint32_t key_len)
{
    return {ifhandle, family, std::string(reinterpret_cast<const char *>(key), key_len)};
}

int deliver(const event_async_ctx_type *, int32_t, void *context)
{
    auto *client = static_cast<client_type *>(context);
    for (;;) {
        std::pair<uint32_t, aib_adj_entry_type> item;
        {
            std::lock_guard<std::recursive_mutex> lock(state().mutex);
            if (client->queue.empty()) {
                return 0;
            }
            item = client->queue.front();
            client->queue.pop_front();
        }
        const aib_notification_type n{item.first, &item.second};
        client->callback(&n);
    }
}

void notify(uint32_t kind, const aib_adj_entry_type &entry)
{
    for (auto &client : state().clients) {
        if (client->family != entry.family) {
            continue;
        }
        client->queue.emplace_back(kind, entry);
        event_send_async(client->coid, client->code, 0);
    }
}

void entry_set(const aib_adj_entry_type &entry)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    const key_type k = key_of(entry.ifhandle, entry.family, entry.key, entry.key_len);
    auto it = s.entries.find(k);
    if (it != s.entries.end() && it->second.rewrite_len == entry.rewrite_len &&
        std::memcmp(it->second.rewrite, entry.rewrite, entry.rewrite_len) == 0) {
        return;
    }
    s.entries[k] = entry;
    notify(AIB_NOTIFICATION_UPDATE, entry);
}

void entry_remove(const key_type &k)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    auto it = s.entries.find(k);
    if (it == s.entries.end()) {
        return;
    }
    const aib_adj_entry_type old = it->second;
    s.entries.erase(it);
    notify(AIB_NOTIFICATION_DELETE, old);
}

aib_adj_entry_type ipv4_entry(uint32_t ifhandle, const uint8_t ip[4], const uint8_t *rewrite, uint32_t len)
{
    aib_adj_entry_type e{};
    e.family = AIB_FAMILY_IPV4;
    e.ifhandle = ifhandle;
    e.key_len = 4;
    std::memcpy(e.key, ip, 4);
    e.rewrite_len = len < AIB_REWRITE_MAX ? len : AIB_REWRITE_MAX;
    std::memcpy(e.rewrite, rewrite, e.rewrite_len);
    return e;
}

// The kernel's resolved neighbours of each bound device become its entries: destination MAC,
// the device's MAC, EtherType IPv4.
void linux_poll()
{
    for (const nl_linux_intf_type &intf : nl_linux_intf_list()) {
        std::vector<nl_linux_neigh_type> neighs;
        if (nl_linux_neigh_list(intf, &neighs) != 0) {
            continue;
        }
        std::map<key_type, aib_adj_entry_type> wanted;
        for (const nl_linux_neigh_type &n : neighs) {
            uint8_t rewrite[14];
            std::memcpy(rewrite, n.mac, 6);
            std::memcpy(rewrite + 6, intf.mac, 6);
            rewrite[12] = 0x08;
            rewrite[13] = 0x00;
            const aib_adj_entry_type e = ipv4_entry(intf.ifhandle, n.ip, rewrite, sizeof rewrite);
            wanted[key_of(e.ifhandle, e.family, e.key, e.key_len)] = e;
        }
        state_type &s = state();
        std::lock_guard<std::recursive_mutex> lock(s.mutex);
        if (!s.bound) {
            return;
        }
        std::vector<key_type> gone;
        for (const auto &[k, e] : s.entries) {
            if (std::get<0>(k) == intf.ifhandle && wanted.find(k) == wanted.end()) {
                gone.push_back(k);
            }
        }
        for (const key_type &k : gone) {
            entry_remove(k);
        }
        for (const auto &[k, e] : wanted) {
            entry_set(e);
        }
    }
}

} // namespace

zerrno aib_server_bind(void)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    if (zerrno rc = take_failure(aib_test_call::bind); rc != 0) {
        return rc;
    }
    s.bound = true;
    nl_linux_poll_register(linux_poll);
    return 0;
}

zerrno aib_map_table(uint32_t family)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    if (zerrno rc = take_failure(aib_test_call::map); rc != 0) {
        return rc;
    }
    if (!s.bound || family != AIB_FAMILY_IPV4) {
        return EINVAL;
    }
    if (s.mapped) {
        return AIB_ALREADY_MAPPED;
    }
    s.mapped = true;
    return 0;
}

aib_adj_tbl_type *aib_get_shm_table(uint32_t family)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    if (take_failure(aib_test_call::get_table) != 0 || !s.mapped || family != AIB_FAMILY_IPV4) {
        return nullptr;
    }
    return &s.ipv4_table;
}

zerrno aib_register_callback_v3(const char *client_name, event_mgr_type *evm, aib_notification_cb_fn callback,
                                uint32_t family)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    if (zerrno rc = take_failure(aib_test_call::register_callback); rc != 0) {
        return rc;
    }
    if (!s.bound || evm == nullptr || callback == nullptr || client_name == nullptr) {
        return EINVAL;
    }
    auto client = std::make_unique<client_type>();
    client->name = client_name;
    client->evm = evm;
    client->callback = callback;
    client->family = family;
    event_async_ctx_type ctx{};
    client->code = event_async_attach_event(evm, 128, deliver, client.get(), &ctx);
    if (client->code < 0) {
        return EINVAL;
    }
    client->coid = ctx.coid;
    s.clients.push_back(std::move(client));
    return 0;
}

zerrno aib_client_adj_tbl_lookup(const aib_adj_tbl_type *table, uint32_t ifhandle, uint32_t family, const uint8_t *key,
                                 uint32_t key_len, aib_adj_entry_type *out)
{
    if (table == nullptr || key == nullptr || key_len > AIB_KEY_MAX || family != table->family) {
        return EINVAL;
    }
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    auto it = s.entries.find(key_of(ifhandle, family, key, key_len));
    if (it == s.entries.end()) {
        return ENOENT;
    }
    *out = it->second;
    return 0;
}

void aib_server_unbind(void)
{
    state_type &s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    for (auto &client : s.clients) {
        event_async_attach(client->evm, client->code, nullptr, nullptr);
    }
    s.clients.clear();
    s.mapped = false;
    s.bound = false;
}

void aib_test_set(uint32_t ifhandle, const uint8_t ip[4], const uint8_t *rewrite, uint32_t rewrite_len)
{
    entry_set(ipv4_entry(ifhandle, ip, rewrite, rewrite_len));
}

void aib_test_remove(uint32_t ifhandle, const uint8_t ip[4])
{
    entry_remove(key_of(ifhandle, AIB_FAMILY_IPV4, ip, 4));
}

void aib_test_fail(aib_test_call call, zerrno code)
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    state().failures[call] = code;
}

bool aib_test_bound(void)
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    return state().bound;
}

uint32_t aib_test_client_count(void)
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    return static_cast<uint32_t>(state().clients.size());
}

void aib_test_reset(void)
{
    aib_server_unbind();
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    state().entries.clear();
    state().failures.clear();
}
