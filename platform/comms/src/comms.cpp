// Group messaging broker: channels, members, per-receiver queues delivered on the receiver's
// event manager. Each receiver's queue is first-in first-out, so what one sender sends to one
// receiver arrives in order.
#include "comms.h"

#include <array>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "comms_test.h"
#include "sysmgr.h"

namespace {

struct handler_type {
    void *fn = nullptr;
    void *context = nullptr;
};

// One delivery waiting for its receiver.
struct item_type {
    bool notification = false;
    comms_notification_type notice{};
    comms_member_type sender{};
    uint32_t type = 0;
    uint32_t version = 0;
    std::vector<uint8_t> bytes;
};

} // namespace

struct comms_conn_type {
    comms_member_type self{};
    comms_member_type group{};
    event_mgr_type *evm = nullptr;
    event_async_ctx_type event{};
    std::map<std::pair<uint32_t, uint32_t>, handler_type> msg_handlers;
    std::array<handler_type, COMMS_EVENT_COUNT> notification_handlers{};
    std::deque<item_type> queue;
    size_t queued_messages = 0;
};

namespace {

struct broker_type {
    std::recursive_mutex lock;
    std::map<std::string, uint32_t> channel_ids;
    std::map<uint32_t, std::vector<comms_conn_type *>> members; // by channel id
    std::map<uint32_t, bool> link_down;                         // by node
    uint64_t next_endpoint = 1;
    bool has_node = false;
    uint32_t node = 0;
    uint32_t fail_sends = 0;
    zerrno fail_code = 0;
    uint32_t drop_messages = 0;
};

broker_type &broker()
{
    static broker_type b;
    return b;
}

bool is_down(broker_type &b, uint32_t node)
{
    const auto it = b.link_down.find(node);
    return it != b.link_down.end() && it->second;
}

// Runs one queued delivery on the receiver's event manager.
int delivery_event(const event_async_ctx_type *, int32_t, void *context)
{
    auto *conn = static_cast<comms_conn_type *>(context);
    broker_type &b = broker();
    item_type item;
    handler_type h;
    {
        std::lock_guard<std::recursive_mutex> g(b.lock);
        if (conn->queue.empty())
            return 0;
        item = std::move(conn->queue.front());
        conn->queue.pop_front();
        if (item.notification) {
            if (item.notice.event >= 0 && item.notice.event < COMMS_EVENT_COUNT)
                h = conn->notification_handlers[static_cast<size_t>(item.notice.event)];
        } else {
            conn->queued_messages--;
            const auto it = conn->msg_handlers.find({item.type, item.version});
            if (it != conn->msg_handlers.end())
                h = it->second;
        }
    }
    if (h.fn == nullptr)
        return 0;
    if (item.notification)
        reinterpret_cast<comms_notification_handler_fn>(h.fn)(conn, h.context, &item.notice);
    else
        reinterpret_cast<comms_msg_handler_fn>(h.fn)(conn, h.context, &item.sender, item.bytes.data(),
                                                     item.bytes.size());
    return 0;
}

void enqueue(comms_conn_type *conn, item_type item)
{
    conn->queue.push_back(std::move(item));
    event_send_async(conn->event.coid, conn->event.code, 0);
}

void notify(comms_conn_type *conn, int32_t event, uint32_t node, const comms_member_type *member, uint32_t count)
{
    item_type item;
    item.notification = true;
    item.notice.event = event;
    item.notice.channel = conn->self.channel;
    item.notice.node_id = node;
    item.notice.count = count;
    if (member != nullptr)
        item.notice.member = *member;
    enqueue(conn, std::move(item));
}

// Queues one message for one receiver, or drops it when the receiver is full or a drop was
// asked for; a drop is announced to the receiver.
void deliver(broker_type &b, comms_conn_type *to, const comms_member_type &sender, uint32_t type, uint32_t version,
             const void *msg, size_t length)
{
    if (b.drop_messages > 0 || to->queued_messages >= COMMS_MAX_QUEUED) {
        if (b.drop_messages > 0)
            b.drop_messages--;
        notify(to, COMMS_EVENT_DROPPED_MSGS, sender.node_id, &sender, 1);
        return;
    }
    item_type item;
    item.sender = sender;
    item.type = type;
    item.version = version;
    const auto *p = static_cast<const uint8_t *>(msg);
    if (length > 0)
        item.bytes.assign(p, p + length);
    to->queued_messages++;
    enqueue(to, std::move(item));
}

comms_conn_type *find_member(broker_type &b, const comms_member_type &m)
{
    const auto it = b.members.find(m.channel);
    if (it == b.members.end())
        return nullptr;
    for (comms_conn_type *c : it->second)
        if (c->self.endpoint == m.endpoint)
            return c;
    return nullptr;
}

} // namespace

zerrno comms_connect(event_mgr_type *evm, const char *channel, uint32_t, comms_conn_type **out)
{
    broker_type &b = broker();
    std::lock_guard<std::recursive_mutex> g(b.lock);
    if (evm == nullptr || channel == nullptr || channel[0] == '\0' || out == nullptr)
        return COMMS_ERR_INVALID;
    uint32_t node = b.node;
    if (!b.has_node && platform_get_my_nodeid(&node) != 0)
        return COMMS_ERR_NO_NODE;
    auto [it, created] = b.channel_ids.try_emplace(channel, static_cast<uint32_t>(b.channel_ids.size() + 1));
    auto *conn = new comms_conn_type;
    conn->evm = evm;
    if (event_async_attach_event(evm, 0, delivery_event, conn, &conn->event) < 0) {
        delete conn;
        return COMMS_ERR_NO_MEMORY;
    }
    conn->self = {it->second, node, b.next_endpoint++};
    conn->group = {it->second, 0, 0};
    std::vector<comms_conn_type *> &list = b.members[it->second];
    for (comms_conn_type *other : list)
        notify(other, COMMS_EVENT_MEMBER_ADD, node, &conn->self, 0);
    list.push_back(conn);
    *out = conn;
    return 0;
}

zerrno comms_disconnect(comms_conn_type *conn)
{
    broker_type &b = broker();
    std::lock_guard<std::recursive_mutex> g(b.lock);
    if (conn == nullptr)
        return COMMS_ERR_INVALID;
    std::vector<comms_conn_type *> &list = b.members[conn->self.channel];
    bool found = false;
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (*it == conn) {
            list.erase(it);
            found = true;
            break;
        }
    }
    if (!found)
        return COMMS_ERR_NO_MEMBER;
    for (comms_conn_type *other : list)
        notify(other, COMMS_EVENT_MEMBER_DEL, conn->self.node_id, &conn->self, 0);
    event_async_attach(conn->evm, conn->event.code, nullptr, nullptr);
    delete conn;
    return 0;
}

zerrno comms_conn_get_group_member(comms_conn_type *conn, const comms_member_type **out)
{
    if (conn == nullptr || out == nullptr)
        return COMMS_ERR_INVALID;
    *out = &conn->group;
    return 0;
}

zerrno comms_conn_get_member(comms_conn_type *conn, const comms_member_type **out)
{
    if (conn == nullptr || out == nullptr)
        return COMMS_ERR_INVALID;
    *out = &conn->self;
    return 0;
}

zerrno comms_msg_handler_add(comms_conn_type *conn, uint32_t type, uint32_t version, comms_msg_handler_fn handler,
                             void *context)
{
    broker_type &b = broker();
    std::lock_guard<std::recursive_mutex> g(b.lock);
    if (conn == nullptr || handler == nullptr)
        return COMMS_ERR_INVALID;
    const auto [it, added] =
        conn->msg_handlers.try_emplace({type, version}, handler_type{reinterpret_cast<void *>(handler), context});
    return added ? 0 : COMMS_ERR_EXISTS;
}

zerrno comms_msg_handler_remove(comms_conn_type *conn, uint32_t type, uint32_t version)
{
    broker_type &b = broker();
    std::lock_guard<std::recursive_mutex> g(b.lock);
    if (conn == nullptr)
        return COMMS_ERR_INVALID;
    return conn->msg_handlers.erase({type, version}) == 1 ? 0 : COMMS_ERR_NOT_FOUND;
}

zerrno comms_notification_handler_add(comms_conn_type *conn, int32_t event, comms_notification_handler_fn handler,
                                      void *context)
{
    broker_type &b = broker();
    std::lock_guard<std::recursive_mutex> g(b.lock);
    if (conn == nullptr || handler == nullptr || event < 0 || event >= COMMS_EVENT_COUNT)
        return COMMS_ERR_INVALID;
    handler_type &h = conn->notification_handlers[static_cast<size_t>(event)];
    if (h.fn != nullptr)
        return COMMS_ERR_EXISTS;
    h = {reinterpret_cast<void *>(handler), context};
    return 0;
}

zerrno comms_notification_handler_remove(comms_conn_type *conn, int32_t event)
{
    broker_type &b = broker();
    std::lock_guard<std::recursive_mutex> g(b.lock);
    if (conn == nullptr || event < 0 || event >= COMMS_EVENT_COUNT)
        return COMMS_ERR_INVALID;
    handler_type &h = conn->notification_handlers[static_cast<size_t>(event)];
    if (h.fn == nullptr)
        return COMMS_ERR_NOT_FOUND;
    h = {};
    return 0;
}

zerrno comms_msg_send(comms_conn_type *conn, const comms_member_type *to, uint32_t type, uint32_t version,
                      const void *msg, size_t length, uint32_t)
{
    broker_type &b = broker();
    std::lock_guard<std::recursive_mutex> g(b.lock);
    if (conn == nullptr || to == nullptr || (msg == nullptr && length != 0) || to->channel != conn->self.channel)
        return COMMS_ERR_INVALID;
    if (length > COMMS_MAX_MSG)
        return COMMS_ERR_TOO_BIG;
    if (b.fail_sends > 0) {
        b.fail_sends--;
        return b.fail_code;
    }
    if (is_down(b, conn->self.node_id))
        return COMMS_ERR_LINK_DOWN;
    if (to->endpoint != 0) {
        comms_conn_type *receiver = find_member(b, *to);
        if (receiver == nullptr)
            return COMMS_ERR_NO_MEMBER;
        if (is_down(b, receiver->self.node_id))
            return COMMS_ERR_LINK_DOWN;
        deliver(b, receiver, conn->self, type, version, msg, length);
        return 0;
    }
    // The group: every other member whose node is reachable.
    for (comms_conn_type *receiver : b.members[conn->self.channel])
        if (receiver != conn && !is_down(b, receiver->self.node_id))
            deliver(b, receiver, conn->self, type, version, msg, length);
    return 0;
}

zerrno comms_member_get_nodeid(const comms_member_type *member, uint32_t *node_id)
{
    if (member == nullptr || node_id == nullptr || member->endpoint == 0)
        return COMMS_ERR_INVALID;
    *node_id = member->node_id;
    return 0;
}

zerrno comms_member_dup(const comms_member_type *member, comms_member_type **out)
{
    if (member == nullptr || out == nullptr)
        return COMMS_ERR_INVALID;
    *out = new comms_member_type(*member);
    return 0;
}

zerrno comms_member_copy(comms_member_type *to, const comms_member_type *from)
{
    if (to == nullptr || from == nullptr)
        return COMMS_ERR_INVALID;
    *to = *from;
    return 0;
}

void comms_member_free(comms_member_type *member)
{
    delete member;
}

bool comms_member_equal(const comms_member_type *a, const comms_member_type *b)
{
    return a != nullptr && b != nullptr && a->channel == b->channel && a->endpoint == b->endpoint;
}

// ---- Test control -----------------------------------------------------------------------------

void comms_test_reset(void)
{
    broker_type &b = broker();
    std::lock_guard<std::recursive_mutex> g(b.lock);
    for (auto &[channel, list] : b.members) {
        for (comms_conn_type *c : list) {
            event_async_attach(c->evm, c->event.code, nullptr, nullptr);
            delete c;
        }
    }
    b.members.clear();
    b.channel_ids.clear();
    b.link_down.clear();
    b.has_node = false;
    b.node = 0;
    b.fail_sends = 0;
    b.fail_code = 0;
    b.drop_messages = 0;
}

void comms_test_set_node(uint32_t node_id)
{
    broker_type &b = broker();
    std::lock_guard<std::recursive_mutex> g(b.lock);
    b.has_node = true;
    b.node = node_id;
}

void comms_test_fail_sends(uint32_t count, zerrno code)
{
    broker_type &b = broker();
    std::lock_guard<std::recursive_mutex> g(b.lock);
    b.fail_sends = count;
    b.fail_code = code;
}

void comms_test_drop_messages(uint32_t count)
{
    broker_type &b = broker();
    std::lock_guard<std::recursive_mutex> g(b.lock);
    b.drop_messages = count;
}

void comms_test_set_link(uint32_t node_id, bool up)
{
    broker_type &b = broker();
    std::lock_guard<std::recursive_mutex> g(b.lock);
    if (is_down(b, node_id) == !up)
        return;
    b.link_down[node_id] = !up;
    for (auto &[channel, list] : b.members)
        for (comms_conn_type *c : list)
            if (c->self.node_id == node_id)
                notify(c, up ? COMMS_EVENT_LOCAL_UP : COMMS_EVENT_LOCAL_DOWN, node_id, nullptr, 0);
}

void comms_test_possible_lost(const char *channel)
{
    broker_type &b = broker();
    std::lock_guard<std::recursive_mutex> g(b.lock);
    const auto it = b.channel_ids.find(channel == nullptr ? "" : channel);
    if (it == b.channel_ids.end())
        return;
    for (comms_conn_type *c : b.members[it->second])
        notify(c, COMMS_EVENT_POSSIBLE_LOST_MSG, c->self.node_id, nullptr, 0);
}

uint32_t comms_test_member_count(const char *channel)
{
    broker_type &b = broker();
    std::lock_guard<std::recursive_mutex> g(b.lock);
    const auto it = b.channel_ids.find(channel == nullptr ? "" : channel);
    return it == b.channel_ids.end() ? 0 : static_cast<uint32_t>(b.members[it->second].size());
}
