// In-process in-service upgrade service: one role for the process, a milestone table shared by
// its clients, role-change notices posted to each registered client's event manager.
#include "issul.h"

#include "sysmgr_chassis.h"

#include <array>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct issul_handle_type {
    event_mgr_type *evm = nullptr;
    std::string name;
    issul_role_change_fn callback = nullptr;
    void *context = nullptr;
    event_async_ctx_type event{};
    bool attached = false;
};

namespace {

constexpr size_t OP_COUNT = static_cast<size_t>(issul_test_op::COUNT);

struct service_type {
    std::mutex lock;
    uint32_t role = ISSUL_ROLE_NONE;
    std::map<uint32_t, uint32_t> status{{ISSUL_MILESTONE_CHECKPOINT, ISSUL_MILESTONE_NOT_STARTED}};
    std::map<uint32_t, std::string> names;
    std::string script;
    std::array<zerrno, OP_COUNT> fail{};
    std::array<uint32_t, OP_COUNT> calls{};
    std::vector<issul_handle_type *> clients;
    int ready_override = -1;
};

service_type &service()
{
    static service_type s;
    return s;
}

// Counts the call and takes a pending injected failure (caller holds the lock).
zerrno enter(service_type &s, issul_test_op op)
{
    const size_t i = static_cast<size_t>(op);
    s.calls[i]++;
    const zerrno rc = s.fail[i];
    s.fail[i] = 0;
    return rc;
}

int role_notice(const event_async_ctx_type *, int32_t value, void *context)
{
    auto *h = static_cast<issul_handle_type *>(context);
    if (h->callback != nullptr) {
        h->callback(h->context, static_cast<uint32_t>(value));
    }
    return 0;
}

} // namespace

zerrno issul_init(event_mgr_type *evm, const char *client_name, issul_handle_type **out_handle)
{
    service_type &s = service();
    std::lock_guard<std::mutex> g(s.lock);
    if (const zerrno rc = enter(s, issul_test_op::INIT); rc != 0) {
        return rc;
    }
    if (evm == nullptr || client_name == nullptr || out_handle == nullptr) {
        return ISSUL_ERR_INVALID;
    }
    auto *h = new issul_handle_type;
    h->evm = evm;
    h->name = client_name;
    s.clients.push_back(h);
    *out_handle = h;
    return 0;
}

zerrno issul_register_role(issul_handle_type *handle, issul_role_change_fn callback, void *context)
{
    service_type &s = service();
    std::lock_guard<std::mutex> g(s.lock);
    if (const zerrno rc = enter(s, issul_test_op::REGISTER_ROLE); rc != 0) {
        return rc;
    }
    if (handle == nullptr || callback == nullptr) {
        return ISSUL_ERR_INVALID;
    }
    if (!handle->attached) {
        if (event_async_attach_event(handle->evm, 0, role_notice, handle, &handle->event) < 0) {
            return ISSUL_ERR_EVENT;
        }
        handle->attached = true;
    }
    handle->callback = callback;
    handle->context = context;
    return 0;
}

uint32_t issul_get_issu_role(issul_handle_type *)
{
    service_type &s = service();
    std::lock_guard<std::mutex> g(s.lock);
    if (enter(s, issul_test_op::GET_ROLE) != 0) {
        return ISSUL_ROLE_NONE;
    }
    // Until a role is given, a process of the chassis has its node's: the standby of a
    // redundant pair is the secondary, every other node the primary.
    if (s.role == ISSUL_ROLE_NONE) {
        if (const chassis_node_type *node = sysmgr_my_node()) {
            return node->standby ? ISSUL_ROLE_SECONDARY : ISSUL_ROLE_PRIMARY;
        }
    }
    return s.role;
}

zerrno issul_register_milestones(issul_handle_type *handle, const issul_milestone_set_type *set)
{
    service_type &s = service();
    std::lock_guard<std::mutex> g(s.lock);
    if (const zerrno rc = enter(s, issul_test_op::REGISTER_MILESTONES); rc != 0) {
        return rc;
    }
    if (handle == nullptr || set == nullptr || (set->count != 0 && set->milestones == nullptr)) {
        return ISSUL_ERR_INVALID;
    }
    for (uint32_t i = 0; i < set->count; i++) {
        const issul_milestone_type &m = set->milestones[i];
        s.status.try_emplace(m.id, ISSUL_MILESTONE_NOT_STARTED);
        s.names[m.id] = m.name != nullptr ? m.name : "";
    }
    s.script = set->debug_script != nullptr ? set->debug_script : "";
    return 0;
}

zerrno issul_get_milestone_status(issul_handle_type *handle, uint32_t milestone, uint32_t *out_status)
{
    service_type &s = service();
    std::lock_guard<std::mutex> g(s.lock);
    if (const zerrno rc = enter(s, issul_test_op::GET_STATUS); rc != 0) {
        return rc;
    }
    if (handle == nullptr || out_status == nullptr) {
        return ISSUL_ERR_INVALID;
    }
    auto it = s.status.find(milestone);
    if (it == s.status.end()) {
        return ISSUL_ERR_NO_MILESTONE;
    }
    *out_status = it->second;
    return 0;
}

namespace {
zerrno set_status(issul_test_op op, issul_handle_type *handle, uint32_t milestone, uint32_t status)
{
    service_type &s = service();
    std::lock_guard<std::mutex> g(s.lock);
    if (const zerrno rc = enter(s, op); rc != 0) {
        return rc;
    }
    if (handle == nullptr) {
        return ISSUL_ERR_INVALID;
    }
    auto it = s.status.find(milestone);
    if (it == s.status.end()) {
        return ISSUL_ERR_NO_MILESTONE;
    }
    if (it->second < status) {
        it->second = status;
    }
    return 0;
}
} // namespace

zerrno issul_milestone_start(issul_handle_type *handle, uint32_t milestone)
{
    return set_status(issul_test_op::START, handle, milestone, ISSUL_MILESTONE_STARTED);
}

zerrno issul_milestone_met(issul_handle_type *handle, uint32_t milestone)
{
    return set_status(issul_test_op::MET, handle, milestone, ISSUL_MILESTONE_MET);
}

zerrno issul_am_i_issu_ready(issul_handle_type *handle, uint32_t *out_ready)
{
    service_type &s = service();
    std::lock_guard<std::mutex> g(s.lock);
    if (const zerrno rc = enter(s, issul_test_op::AM_I_READY); rc != 0) {
        return rc;
    }
    if (handle == nullptr || out_ready == nullptr) {
        return ISSUL_ERR_INVALID;
    }
    if (s.ready_override >= 0) {
        *out_ready = static_cast<uint32_t>(s.ready_override);
        return 0;
    }
    uint32_t ready = 1;
    for (const auto &[id, status] : s.status) {
        if (status != ISSUL_MILESTONE_MET) {
            ready = 0;
        }
    }
    *out_ready = ready;
    return 0;
}

const char *issul_milestone_to_string(uint32_t milestone)
{
    switch (milestone) {
    case ISSUL_MILESTONE_CHECKPOINT: return "Checkpoint";
    default: break;
    }
    service_type &s = service();
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.names.find(milestone);
    // Names live until the service is reset (tests only).
    return it != s.names.end() ? it->second.c_str() : "Unknown";
}

const char *issul_issu_role_to_string(uint32_t role)
{
    switch (role) {
    case ISSUL_ROLE_NONE: return "None";
    case ISSUL_ROLE_PRIMARY: return "Primary";
    case ISSUL_ROLE_SECONDARY: return "Secondary";
    case ISSUL_ROLE_RETIRING: return "Retiring";
    default: return "Unknown";
    }
}

void issul_fini(issul_handle_type *handle)
{
    if (handle == nullptr) {
        return;
    }
    service_type &s = service();
    {
        std::lock_guard<std::mutex> g(s.lock);
        std::erase(s.clients, handle);
    }
    if (handle->attached) {
        event_async_attach(handle->evm, handle->event.code, nullptr, nullptr);
    }
    delete handle;
}

// ---- Test control ------------------------------------------------------------------------

void issul_test_reset()
{
    service_type &s = service();
    std::lock_guard<std::mutex> g(s.lock);
    s.role = ISSUL_ROLE_NONE;
    s.status = {{ISSUL_MILESTONE_CHECKPOINT, ISSUL_MILESTONE_NOT_STARTED}};
    s.names.clear();
    s.script.clear();
    s.fail = {};
    s.calls = {};
    s.ready_override = -1;
}

void issul_test_set_role(uint32_t role)
{
    service_type &s = service();
    std::lock_guard<std::mutex> g(s.lock);
    s.role = role;
}

void issul_test_fire_role_change(uint32_t role)
{
    service_type &s = service();
    std::lock_guard<std::mutex> g(s.lock);
    s.role = role;
    for (issul_handle_type *h : s.clients) {
        if (h->attached) {
            event_send_async(h->event.coid, h->event.code, static_cast<int32_t>(role));
        }
    }
}

void issul_test_fail(issul_test_op op, zerrno code)
{
    service_type &s = service();
    std::lock_guard<std::mutex> g(s.lock);
    s.fail[static_cast<size_t>(op)] = code;
}

void issul_test_set_milestone_status(uint32_t milestone, uint32_t status)
{
    service_type &s = service();
    std::lock_guard<std::mutex> g(s.lock);
    s.status[milestone] = status;
}

uint32_t issul_test_milestone_status(uint32_t milestone)
{
    service_type &s = service();
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.status.find(milestone);
    return it != s.status.end() ? it->second : ISSUL_MILESTONE_NOT_STARTED;
}

uint32_t issul_test_registered_count()
{
    service_type &s = service();
    std::lock_guard<std::mutex> g(s.lock);
    return static_cast<uint32_t>(s.names.size());
}

const char *issul_test_registered_script()
{
    service_type &s = service();
    std::lock_guard<std::mutex> g(s.lock);
    return s.script.c_str();
}

uint32_t issul_test_calls(issul_test_op op)
{
    service_type &s = service();
    std::lock_guard<std::mutex> g(s.lock);
    return s.calls[static_cast<size_t>(op)];
}

void issul_test_set_ready(uint32_t ready)
{
    service_type &s = service();
    std::lock_guard<std::mutex> g(s.lock);
    s.ready_override = static_cast<int>(ready);
}

uint32_t issul_test_clients()
{
    service_type &s = service();
    std::lock_guard<std::mutex> g(s.lock);
    return static_cast<uint32_t>(s.clients.size());
}
