// Group messaging broker: channels, members, per-receiver queues delivered on the receiver's
// event manager. Each receiver's queue is first-in first-out, so what one sender sends to one
// receiver arrives in order.
#include "comms.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "comms_host.h"
#include "comms_test.h"
#include "sockmsg.h"
#include "sysmgr.h"
#include "sysmgr_chassis.h"
#include "sysmgr_host.h"

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
    sockmsg_session_type *session = nullptr; // in the daemon: the member is that client
    sockmsg_client_type *client = nullptr;   // in a process of the chassis: the daemon holds the member
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
    bool hosting = false; // this process is the daemon: members are local or its clients
    bool local_only = false;
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
void put64(std::vector<uint8_t> &b, uint64_t v)
{
    put32(b, static_cast<uint32_t>(v >> 32));
    put32(b, static_cast<uint32_t>(v));
}
uint32_t get32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}
uint64_t get64(const uint8_t *p)
{
    return static_cast<uint64_t>(get32(p)) << 32 | get32(p + 4);
}
void put_member(std::vector<uint8_t> &b, const comms_member_type &m)
{
    put32(b, m.channel);
    put32(b, m.node_id);
    put64(b, m.endpoint);
}
comms_member_type get_member(const uint8_t *p)
{
    return {get32(p), get32(p + 4), get64(p + 8)};
}

// A delivery to a member held for a client of the daemon goes out as a notice frame.
void send_to_client(comms_conn_type *conn, const item_type &item)
{
    std::vector<uint8_t> b;
    if (item.notification) {
        put32(b, static_cast<uint32_t>(item.notice.event));
        put32(b, item.notice.channel);
        put32(b, item.notice.node_id);
        put32(b, item.notice.count);
        put_member(b, item.notice.member);
        sockmsg_notify(conn->session, COMMS_SERVICE_ID, COMMS_WIRE_NOTIFY, b.data(), static_cast<uint32_t>(b.size()));
        return;
    }
    put_member(b, item.sender);
    put32(b, item.type);
    put32(b, item.version);
    b.insert(b.end(), item.bytes.begin(), item.bytes.end());
    sockmsg_notify(conn->session, COMMS_SERVICE_ID, COMMS_WIRE_MSG, b.data(), static_cast<uint32_t>(b.size()));
}

void enqueue(comms_conn_type *conn, item_type item)
{
    if (conn->session != nullptr) {
        send_to_client(conn, item);
        return;
    }
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
    if (b.drop_messages > 0 || (to->session == nullptr && to->queued_messages >= COMMS_MAX_QUEUED)) {
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
    if (to->session == nullptr)
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

namespace {

// Joins a channel in this process's broker: a member of the process (evm) or of a client of the
// daemon (session). Caller holds the lock.
zerrno broker_join(broker_type &b, const std::string &channel, uint32_t node, event_mgr_type *evm,
                   sockmsg_session_type *session, comms_conn_type **out)
{
    auto [it, created] = b.channel_ids.try_emplace(channel, static_cast<uint32_t>(b.channel_ids.size() + 1));
    auto *conn = new comms_conn_type;
    conn->evm = evm;
    conn->session = session;
    if (evm != nullptr && event_async_attach_event(evm, 0, delivery_event, conn, &conn->event) < 0) {
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

zerrno broker_leave(broker_type &b, comms_conn_type *conn)
{
    std::vector<comms_conn_type *> &list = b.members[conn->self.channel];
    const auto it = std::find(list.begin(), list.end(), conn);
    if (it == list.end())
        return COMMS_ERR_NO_MEMBER;
    list.erase(it);
    for (comms_conn_type *other : list)
        notify(other, COMMS_EVENT_MEMBER_DEL, conn->self.node_id, &conn->self, 0);
    if (conn->evm != nullptr)
        event_async_attach(conn->evm, conn->event.code, nullptr, nullptr);
    delete conn;
    return 0;
}

// A process of the chassis (its node given by its environment) has its members in the daemon.
bool remote_mode(broker_type &b)
{
    if (b.hosting || b.local_only || b.has_node)
        return false;
    const char *node = getenv("PTP_NODE");
    return node != nullptr && node[0] != '\0';
}

// ---- Client side: a member held by the daemon ----------------------------------------------------

// Notices of the daemon, on the member's event manager, in the order they were sent.
void client_notice(sockmsg_client_type *, uint16_t service, uint16_t type, const uint8_t *data, uint32_t length,
                   void *context)
{
    auto *conn = static_cast<comms_conn_type *>(context);
    broker_type &b = broker();
    handler_type h;
    if (service != COMMS_SERVICE_ID)
        return;
    if (type == COMMS_WIRE_MSG && length >= 24) {
        const comms_member_type sender = get_member(data);
        const uint32_t mtype = get32(data + 16), version = get32(data + 20);
        {
            std::lock_guard<std::recursive_mutex> g(b.lock);
            const auto it = conn->msg_handlers.find({mtype, version});
            if (it != conn->msg_handlers.end())
                h = it->second;
        }
        if (h.fn != nullptr)
            reinterpret_cast<comms_msg_handler_fn>(h.fn)(conn, h.context, &sender, data + 24, length - 24);
    } else if (type == COMMS_WIRE_NOTIFY && length >= 32) {
        comms_notification_type n{};
        n.event = static_cast<int32_t>(get32(data));
        n.channel = get32(data + 4);
        n.node_id = get32(data + 8);
        n.count = get32(data + 12);
        n.member = get_member(data + 16);
        if (n.event < 0 || n.event >= COMMS_EVENT_COUNT)
            return;
        {
            std::lock_guard<std::recursive_mutex> g(b.lock);
            h = conn->notification_handlers[static_cast<size_t>(n.event)];
        }
        if (h.fn != nullptr)
            reinterpret_cast<comms_notification_handler_fn>(h.fn)(conn, h.context, &n);
    }
}

// The daemon went away: for this member the local link is down.
void client_closed(sockmsg_client_type *, void *context)
{
    auto *conn = static_cast<comms_conn_type *>(context);
    broker_type &b = broker();
    handler_type h;
    {
        std::lock_guard<std::recursive_mutex> g(b.lock);
        h = conn->notification_handlers[COMMS_EVENT_LOCAL_DOWN];
    }
    comms_notification_type n{};
    n.event = COMMS_EVENT_LOCAL_DOWN;
    n.channel = conn->self.channel;
    n.node_id = conn->self.node_id;
    if (h.fn != nullptr)
        reinterpret_cast<comms_notification_handler_fn>(h.fn)(conn, h.context, &n);
}

zerrno remote_connect(event_mgr_type *evm, const char *channel, comms_conn_type **out)
{
    uint32_t node = 0;
    if (platform_get_my_nodeid(&node) != 0)
        return COMMS_ERR_NO_NODE;
    const size_t name_len = strlen(channel);
    if (name_len > COMMS_MAX_CHANNEL_NAME)
        return COMMS_ERR_INVALID;
    auto *conn = new comms_conn_type;
    conn->evm = evm;
    if (sockmsg_client_connect(plat_socket_path(), evm, client_notice, client_closed, conn, &conn->client) != 0) {
        delete conn;
        return COMMS_ERR_LINK_DOWN;
    }
    std::vector<uint8_t> req;
    put32(req, node);
    req.insert(req.end(), channel, channel + name_len);
    uint32_t status = 0;
    std::vector<uint8_t> reply;
    zerrno rc = sockmsg_client_call(conn->client, COMMS_SERVICE_ID, COMMS_WIRE_CONNECT, req.data(),
                                    static_cast<uint32_t>(req.size()), &status, &reply);
    if (rc == 0 && status != 0)
        rc = status;
    if (rc == 0 && reply.size() != 16)
        rc = COMMS_ERR_INVALID;
    if (rc != 0) {
        sockmsg_client_close(conn->client);
        delete conn;
        return rc;
    }
    conn->self = get_member(reply.data());
    conn->group = {conn->self.channel, 0, 0};
    *out = conn;
    return 0;
}

} // namespace

zerrno comms_connect(event_mgr_type *evm, const char *channel, uint32_t, comms_conn_type **out)
{
    broker_type &b = broker();
    if (evm == nullptr || channel == nullptr || channel[0] == '\0' || out == nullptr)
        return COMMS_ERR_INVALID;
    {
        std::lock_guard<std::recursive_mutex> g(b.lock);
        if (!remote_mode(b)) {
            uint32_t node = b.node;
            if (!b.has_node && platform_get_my_nodeid(&node) != 0)
                return COMMS_ERR_NO_NODE;
            return broker_join(b, channel, node, evm, nullptr, out);
        }
    }
    return remote_connect(evm, channel, out);
}

zerrno comms_disconnect(comms_conn_type *conn)
{
    broker_type &b = broker();
    if (conn == nullptr)
        return COMMS_ERR_INVALID;
    if (conn->client != nullptr) {
        // Closing the connection is leaving: the daemon tells the other members.
        sockmsg_client_close(conn->client);
        delete conn;
        return 0;
    }
    std::lock_guard<std::recursive_mutex> g(b.lock);
    return broker_leave(b, conn);
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
    if (conn == nullptr || to == nullptr || (msg == nullptr && length != 0) || to->channel != conn->self.channel)
        return COMMS_ERR_INVALID;
    if (length > COMMS_MAX_MSG)
        return COMMS_ERR_TOO_BIG;
    if (conn->client != nullptr) {
        std::vector<uint8_t> req;
        req.reserve(24 + length);
        put_member(req, *to);
        put32(req, type);
        put32(req, version);
        const auto *p = static_cast<const uint8_t *>(msg);
        if (length > 0)
            req.insert(req.end(), p, p + length);
        uint32_t status = 0;
        const zerrno rc = sockmsg_client_call(conn->client, COMMS_SERVICE_ID, COMMS_WIRE_SEND, req.data(),
                                              static_cast<uint32_t>(req.size()), &status, nullptr);
        return rc != 0 ? COMMS_ERR_LINK_DOWN : status;
    }
    std::lock_guard<std::recursive_mutex> g(b.lock);
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

// ---- Daemon side: members held for the clients ----------------------------------------------------

namespace {

void host_reply(sockmsg_call_type *call, zerrno status, const std::vector<uint8_t> &data = {})
{
    if (call != nullptr)
        sockmsg_reply(call, status, data.empty() ? nullptr : data.data(), static_cast<uint32_t>(data.size()));
}

// A client joins a channel. Its node is the one it names, once: the member it gets is the only
// identity it sends with, so it cannot speak as another member or node.
void host_connect(sockmsg_session_type *session, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    broker_type &b = broker();
    std::lock_guard<std::recursive_mutex> g(b.lock);
    if (call == nullptr)
        return;
    if (length < 5 || length > 4 + COMMS_MAX_CHANNEL_NAME)
        return host_reply(call, COMMS_ERR_INVALID);
    if (sockmsg_session_state(session, COMMS_SERVICE_ID) != nullptr)
        return host_reply(call, COMMS_ERR_EXISTS);
    const std::string channel(reinterpret_cast<const char *>(data + 4), length - 4);
    if (channel.find('\0') != std::string::npos)
        return host_reply(call, COMMS_ERR_INVALID);
    // A process the manager started is on its own node; another client names its node once per
    // connection. With a chassis described, only its nodes exist.
    uint32_t node = 0;
    if (const zerrno rc = sysmgr_host_client_node(session, get32(data), &node); rc != 0)
        return host_reply(call, rc == SYSMGR_ERR_NO_NODE ? COMMS_ERR_NO_NODE : COMMS_ERR_INVALID);
    comms_conn_type *conn = nullptr;
    if (const zerrno rc = broker_join(b, channel, node, nullptr, session, &conn); rc != 0)
        return host_reply(call, rc);
    sockmsg_session_set_state(session, COMMS_SERVICE_ID, conn);
    std::vector<uint8_t> reply;
    put_member(reply, conn->self);
    host_reply(call, 0, reply);
}

void host_send(sockmsg_session_type *session, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    broker_type &b = broker();
    std::lock_guard<std::recursive_mutex> g(b.lock);
    auto *conn = static_cast<comms_conn_type *>(sockmsg_session_state(session, COMMS_SERVICE_ID));
    if (conn == nullptr)
        return host_reply(call, COMMS_ERR_NO_MEMBER);
    if (length < 24)
        return host_reply(call, COMMS_ERR_INVALID);
    const comms_member_type to = get_member(data);
    const zerrno rc = comms_msg_send(conn, &to, get32(data + 16), get32(data + 20), data + 24, length - 24, 0);
    host_reply(call, rc);
}

// The operator takes a node's link down or up: its members are told, as in-process.
void host_link(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    if (length != 8)
        return host_reply(call, COMMS_ERR_INVALID);
    comms_test_set_link(get32(data), get32(data + 4) != 0);
    host_reply(call, 0);
}

void host_disconnect(sockmsg_session_type *, void *state, void *)
{
    if (state == nullptr)
        return;
    broker_type &b = broker();
    std::lock_guard<std::recursive_mutex> g(b.lock);
    broker_leave(b, static_cast<comms_conn_type *>(state));
}

const sockmsg_handler_row host_rows[] = {
    {COMMS_WIRE_CONNECT, host_connect},
    {COMMS_WIRE_SEND, host_send},
    {COMMS_WIRE_LINK, host_link},
};
const sockmsg_service_type host_service = {COMMS_SERVICE_ID, "comms", host_rows, sizeof host_rows / sizeof host_rows[0],
                                           host_disconnect,  nullptr};

} // namespace

zerrno comms_host_init(event_mgr_type *, sockmsg_server_type *server)
{
    {
        broker_type &b = broker();
        std::lock_guard<std::recursive_mutex> g(b.lock);
        b.hosting = true;
    }
    return sockmsg_server_register(server, &host_service);
}

void comms_host_shutdown(void)
{
    broker_type &b = broker();
    std::lock_guard<std::recursive_mutex> g(b.lock);
    b.hosting = false;
}
