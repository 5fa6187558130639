// The ARP client of the process.
#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "arp_client.h"
#include "arp_test.h"
#include "nl_linux.h"

struct arp_client_type {
    event_mgr_type *evm = nullptr;
    arp_client_notification_cb_fn callback = nullptr;
    int32_t code = -1;
    int32_t coid = -1;
    std::deque<std::pair<std::vector<arp_client_request_type>, std::vector<uint32_t>>> queue;
};

namespace {

constexpr zerr_info_type rows[] = {{52, "One or more ARP requests of the batch failed"}};
constexpr zerr_data_type table = {2, "arp", ARP_CLIENT_FACILITY, 1, rows, 0, 0};

struct state_type {
    std::mutex mutex;
    std::vector<std::unique_ptr<arp_client_type>> clients;
    std::vector<std::vector<arp_client_request_type>> updates;
    bool fail_update = false;
    zerrno fail_update_code = 0;
    std::vector<uint32_t> fail_statuses;
    zerrno fail_register = 0;
};

state_type &state()
{
    static state_type s;
    return s;
}

int deliver(const event_async_ctx_type *, int32_t, void *context)
{
    auto *client = static_cast<arp_client_type *>(context);
    for (;;) {
        std::pair<std::vector<arp_client_request_type>, std::vector<uint32_t>> item;
        {
            std::lock_guard<std::mutex> lock(state().mutex);
            if (client->queue.empty()) {
                return 0;
            }
            item = std::move(client->queue.front());
            client->queue.pop_front();
        }
        const arp_client_batch_type n{item.first.data(), static_cast<uint32_t>(item.first.size()), item.second.data()};
        client->callback(ARP_CLIENT_NOTIFICATION_FAILURE, &n);
    }
}

} // namespace

zerrno arp_client_register(event_mgr_type *evm, uint32_t, uint32_t family, arp_client_notification_cb_fn callback,
                           arp_client_type **out)
{
    zerr_register(&table);
    state_type &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.fail_register != 0) {
        const zerrno rc = s.fail_register;
        s.fail_register = 0;
        return rc;
    }
    if (evm == nullptr || callback == nullptr || out == nullptr || family != ARP_CLIENT_AF_INET) {
        return EINVAL;
    }
    auto client = std::make_unique<arp_client_type>();
    client->evm = evm;
    client->callback = callback;
    event_async_ctx_type ctx{};
    client->code = event_async_attach_event(evm, 128, deliver, client.get(), &ctx);
    if (client->code < 0) {
        return EINVAL;
    }
    client->coid = ctx.coid;
    *out = client.get();
    s.clients.push_back(std::move(client));
    return 0;
}

zerrno arp_client_update(arp_client_type *client, const arp_client_batch_type *batch)
{
    if (client == nullptr || batch == nullptr ||
        (batch->count > 0 && (batch->requests == nullptr || batch->statuses == nullptr))) {
        return EINVAL;
    }
    std::vector<arp_client_request_type> requests(batch->requests, batch->requests + batch->count);
    zerrno rc = 0;
    {
        state_type &s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.updates.push_back(requests);
        if (s.fail_update) {
            s.fail_update = false;
            for (uint32_t i = 0; i < batch->count && i < s.fail_statuses.size(); i++) {
                batch->statuses[i] = s.fail_statuses[i];
            }
            return s.fail_update_code;
        }
    }
    // Requests on bound devices go to the kernel; a refused one fails the batch in part.
    for (uint32_t i = 0; i < batch->count; i++) {
        batch->statuses[i] = 0;
        nl_linux_intf_type intf;
        if (requests[i].request == ARP_CLIENT_REQUEST_RESOLVE && nl_linux_intf_get(requests[i].ifhandle, &intf)) {
            const zerrno r = nl_linux_neigh_resolve(intf, reinterpret_cast<const uint8_t *>(&requests[i].address));
            if (r != 0) {
                batch->statuses[i] = r;
                rc = ARP_CLIENT_PARTIAL_FAILURE;
            }
        }
    }
    return rc;
}

void arp_client_unregister(arp_client_type *client)
{
    if (client == nullptr) {
        return;
    }
    state_type &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = std::find_if(s.clients.begin(), s.clients.end(), [&](const auto &c) { return c.get() == client; });
    if (it == s.clients.end()) {
        return;
    }
    event_async_attach(client->evm, client->code, nullptr, nullptr);
    s.clients.erase(it);
}

std::vector<std::vector<arp_client_request_type>> arp_test_updates(void)
{
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().updates;
}

void arp_test_fail_next_update(zerrno code, const std::vector<uint32_t> &statuses)
{
    std::lock_guard<std::mutex> lock(state().mutex);
    state().fail_update = true;
    state().fail_update_code = code;
    state().fail_statuses = statuses;
}

void arp_test_fail_next_register(zerrno code)
{
    std::lock_guard<std::mutex> lock(state().mutex);
    state().fail_register = code;
}

void arp_test_notify_failure(const std::vector<arp_client_request_type> &requests,
                             const std::vector<uint32_t> &statuses)
{
    std::lock_guard<std::mutex> lock(state().mutex);
    std::vector<uint32_t> st = statuses;
    st.resize(requests.size(), 0);
    for (auto &client : state().clients) {
        client->queue.emplace_back(requests, st);
        event_send_async(client->coid, client->code, 0);
    }
}

uint32_t arp_test_client_count(void)
{
    std::lock_guard<std::mutex> lock(state().mutex);
    return static_cast<uint32_t>(state().clients.size());
}

void arp_test_reset(void)
{
    std::vector<arp_client_type *> clients;
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        for (auto &c : state().clients) {
            clients.push_back(c.get());
        }
    }
    for (arp_client_type *c : clients) {
        arp_client_unregister(c);
    }
    std::lock_guard<std::mutex> lock(state().mutex);
    state().updates.clear();
    state().fail_update = false;
    state().fail_register = 0;
}
