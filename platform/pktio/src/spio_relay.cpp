// The relay backend of the packet-I/O service: interfaces carried by in-memory links to another
// node's interface, or to a simulated peer, send their frames to the platform daemon, which hands
// them to the processes at the far end (another node's, or the peer's). Both sides are here: the process's (one connection to the daemon, whose
// notices are received on an event manager of the library's own) and the daemon's.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "evm_alarm.h"
#include "pktio_internal.h"
#include "pktio_linux.h"
#include "pktio_relay.h"
#include "plat_clock.h"
#include "sysmgr.h"
#include "sysmgr_chassis.h"
#include "sysmgr_host.h"

namespace {

void put32(std::vector<uint8_t> &b, uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8)
        b.push_back(static_cast<uint8_t>(v >> s));
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

bool kind_ok(uint32_t kind)
{
    return pktio::kind_index(kind) != 0;
}

// The far end of an interface with a simulated peer: node ids use the low 24 bits, so the peer's
// side of node N's interface is the end (N | PEER_SIDE, handle) and never meets a node's.
constexpr uint32_t PEER_SIDE = 0x80000000u;
constexpr size_t PEER_NAME_MAX = 64;

// ---- The process's side --------------------------------------------------------------------------

struct relay_type {
    std::mutex lock;
    bool setup_done = false;
    uint32_t node = 0;
    std::set<uint32_t> relayed; // this node's interfaces carried by links
    std::string peer;           // a simulated peer's process: the name it registers by
    sockmsg_client_type *client = nullptr;
    event_mgr_type *evm = nullptr;
    evm_alarm_type *retry = nullptr; // connects again while the daemon is away
};

// A connection that failed or closed is tried again after this long, so that a process that only
// receives registers again when the daemon comes back.
constexpr uint64_t RELAY_RETRY_NS = 1000000000ull;

relay_type &relay()
{
    static relay_type *r = new relay_type; // its thread outlives every static user
    return *r;
}

void on_notice(sockmsg_client_type *, uint16_t service, uint16_t type, const uint8_t *data, uint32_t length, void *)
{
    if (service != PKTIO_RELAY_SERVICE_ID || type != PKTIO_RELAY_WIRE_RX || length < PKTIO_RELAY_FRAME_HEADER ||
        length - PKTIO_RELAY_FRAME_HEADER > PKTIO_RELAY_MAX_FRAME)
        return;
    const uint32_t ifhandle = get32(data), kind = get32(data + 4);
    {
        relay_type &r = relay();
        std::lock_guard<std::mutex> g(r.lock);
        if (r.relayed.count(ifhandle) == 0 || !kind_ok(kind))
            return;
    }
    const auto sent = static_cast<int64_t>(get64(data + 8));
    ctx_packet_type *rx = pktio::rx_packet_make(kind, ifhandle, data + PKTIO_RELAY_FRAME_HEADER,
                                                length - PKTIO_RELAY_FRAME_HEADER, pktio::timestamp_bytes(sent), true);
    if (rx != nullptr)
        pktio::deliver(kind, ifhandle, rx);
}

// The daemon went away: connect again later (or at the next send).
void on_closed(sockmsg_client_type *client, void *)
{
    relay_type &r = relay();
    std::lock_guard<std::mutex> g(r.lock);
    if (r.client == client)
        r.client = nullptr;
    sockmsg_client_close(client);
    evm_alarm_set(r.retry, plat_clock_mono_ns() + RELAY_RETRY_NS);
}

zerrno connect_locked(relay_type &r);

void on_retry(evm_alarm_type *, void *)
{
    relay_type &r = relay();
    std::lock_guard<std::mutex> g(r.lock);
    connect_locked(r);
}

// Connects and registers this node's ends of its links. Caller holds the lock.
zerrno connect_locked(relay_type &r)
{
    if (r.client != nullptr)
        return 0;
    if (r.evm == nullptr) {
        r.evm = event_create_manager(nullptr, nullptr, 0);
        if (r.evm == nullptr)
            return PKTIO_ERR_NO_MEMORY;
        r.retry = evm_alarm_new(r.evm, on_retry, nullptr);
        std::thread([evm = r.evm] {
            for (;;) {
                event_type *ev = event_block(evm);
                if (ev != nullptr)
                    zq_event_dispatch(ev);
            }
        }).detach();
    }
    if (sockmsg_client_connect(plat_socket_path(), r.evm, on_notice, on_closed, nullptr, &r.client) != 0) {
        r.client = nullptr;
        evm_alarm_set(r.retry, plat_clock_mono_ns() + RELAY_RETRY_NS);
        return PKTIO_ERR_IO;
    }
    for (uint32_t ifhandle : r.relayed) {
        std::vector<uint8_t> req;
        uint16_t type = PKTIO_RELAY_WIRE_REGISTER;
        if (!r.peer.empty()) {
            type = PKTIO_RELAY_WIRE_REGISTER_PEER;
            req.assign(r.peer.begin(), r.peer.end());
        } else {
            put32(req, r.node);
            put32(req, ifhandle);
        }
        uint32_t status = 0;
        if (sockmsg_client_call(r.client, PKTIO_RELAY_SERVICE_ID, type, req.data(), static_cast<uint32_t>(req.size()),
                                &status, nullptr) != 0 ||
            status != 0) {
            sockmsg_client_close(r.client);
            r.client = nullptr;
            evm_alarm_set(r.retry, plat_clock_mono_ns() + RELAY_RETRY_NS);
            return PKTIO_ERR_IO;
        }
    }
    return 0;
}

} // namespace

namespace pktio {

bool relay_send(uint32_t kind, uint32_t ifhandle, const uint8_t *bytes, size_t len, int64_t sent_wall_ns, zerrno *rc)
{
    relay_type &r = relay();
    std::lock_guard<std::mutex> g(r.lock);
    if (r.relayed.count(ifhandle) == 0)
        return false;
    if (len > PKTIO_RELAY_MAX_FRAME) {
        *rc = PKTIO_ERR_TOO_BIG;
        return true;
    }
    *rc = connect_locked(r);
    if (*rc != 0)
        return true;
    std::vector<uint8_t> b;
    b.reserve(PKTIO_RELAY_FRAME_HEADER + len);
    put32(b, ifhandle);
    put32(b, kind);
    put64(b, static_cast<uint64_t>(sent_wall_ns));
    b.insert(b.end(), bytes, bytes + len);
    if (sockmsg_client_send(r.client, PKTIO_RELAY_SERVICE_ID, PKTIO_RELAY_WIRE_FRAME, b.data(),
                            static_cast<uint32_t>(b.size())) != 0)
        *rc = PKTIO_ERR_IO;
    return true;
}

} // namespace pktio

namespace {

constexpr size_t DEVICE_BINDERS = 32;

} // namespace

zerrno pktio_chassis_setup(void)
{
    relay_type &r = relay();
    {
        std::lock_guard<std::mutex> g(r.lock);
        if (r.setup_done)
            return 0;
        r.setup_done = true;
    }
    // Only a process of the chassis: unit tests make their own interfaces.
    const chassis_node_type *node = sysmgr_node_from_environment() ? sysmgr_my_node() : nullptr;
    if (node == nullptr)
        return 0;
    // Devices are bound by several threads at once: binding a device's receive ring waits for
    // the kernel's readers of the receive path, and waits that overlap are one wait, so a line
    // card of thousands of devices starts in seconds rather than minutes.
    std::vector<const chassis_intf_type *> devices;
    for (const chassis_intf_type &i : node->interfaces)
        if (i.carrier == chassis_carrier_type::DEVICE)
            devices.push_back(&i);
    std::vector<zerrno> bound(devices.size(), 0);
    std::atomic<size_t> next{0};
    auto bind_devices = [&] {
        for (size_t k = next++; k < devices.size(); k = next++) {
            const chassis_intf_type &i = *devices[k];
            bound[k] = pktio_linux_intf_add(i.device.c_str(), i.handle, i.netns.empty() ? nullptr : i.netns.c_str());
        }
    };
    std::vector<std::thread> binders;
    for (size_t t = 1; t < std::min<size_t>(devices.size(), DEVICE_BINDERS); t++)
        binders.emplace_back(bind_devices);
    bind_devices();
    for (std::thread &t : binders)
        t.join();
    zerrno first = 0;
    size_t device = 0;
    for (const chassis_intf_type &i : node->interfaces) {
        zerrno rc = 0;
        if (i.carrier == chassis_carrier_type::DEVICE) {
            rc = bound[device++];
            if (rc != 0)
                fprintf(stderr, "packet I/O: %s cannot use device %s: %s\n", i.name.c_str(), i.device.c_str(),
                        zerr_strerror(rc));
        } else {
            rc = pktio::intf_register(i.name.c_str(), i.handle, i.mac.data(), true, false, false);
            if (rc == 0 && (i.carrier == chassis_carrier_type::LINK || i.carrier == chassis_carrier_type::PEER)) {
                std::lock_guard<std::mutex> g(r.lock);
                r.node = node->node_id;
                r.relayed.insert(i.handle);
            }
        }
        if (first == 0)
            first = rc;
    }
    // Registered at once, so that frames reach a process that only receives.
    std::lock_guard<std::mutex> g(r.lock);
    if (!r.relayed.empty())
        connect_locked(r);
    return first;
}

zerrno pktio_relay_peer_setup(const char *peer, const uint8_t mac[6], uint32_t *ifhandle)
{
    if (peer == nullptr || mac == nullptr || ifhandle == nullptr || peer[0] == 0 || strlen(peer) > PEER_NAME_MAX)
        return PKTIO_ERR_INVALID;
    pktio::register_errors();
    relay_type &r = relay();
    std::lock_guard<std::mutex> g(r.lock);
    if (r.setup_done)
        return PKTIO_ERR_EXISTS;
    // Asked once here for the handle; connect_locked registers again by name after a reconnect.
    sockmsg_client_type *c = nullptr;
    if (sockmsg_client_connect(plat_socket_path(), nullptr, nullptr, nullptr, nullptr, &c) != 0)
        return PKTIO_ERR_IO;
    uint32_t status = 0;
    std::vector<uint8_t> reply;
    const zerrno rc = sockmsg_client_call(c, PKTIO_RELAY_SERVICE_ID, PKTIO_RELAY_WIRE_REGISTER_PEER, peer,
                                          static_cast<uint32_t>(strlen(peer)), &status, &reply);
    sockmsg_client_close(c);
    if (rc != 0)
        return PKTIO_ERR_IO;
    if (status != 0)
        return status;
    if (reply.size() != 4)
        return PKTIO_ERR_IO;
    const uint32_t handle = get32(reply.data());
    if (const zerrno reg = pktio::intf_register(peer, handle, mac, true, false, false); reg != 0)
        return reg;
    r.setup_done = true; // this process is no node's: nothing else to set up from the chassis
    r.peer = peer;
    r.relayed.insert(handle);
    *ifhandle = handle;
    return connect_locked(r);
}

// ---- The daemon's side ---------------------------------------------------------------------------

namespace {

using end_type = std::pair<uint32_t, uint32_t>; // node, ifhandle

struct host_session_type {
    uint32_t node = 0;
    std::set<uint32_t> ends; // this client's registered interfaces
};

struct host_type {
    std::mutex lock;
    std::map<end_type, end_type> far;                          // each end of every link: the other end
    std::map<end_type, std::set<sockmsg_session_type *>> ends; // who receives at an end
    std::map<std::string, end_type> peers;                     // a simulated peer's name: its end
    pktio_relay_counts_type counts{};
};

host_type &host()
{
    static host_type h;
    return h;
}

void reply(sockmsg_call_type *call, zerrno status, const std::vector<uint8_t> &data = {})
{
    if (call != nullptr)
        sockmsg_reply(call, status, data.empty() ? nullptr : data.data(), static_cast<uint32_t>(data.size()));
}

// Caller holds the lock.
void session_add_end(sockmsg_session_type *session, const end_type &end)
{
    host_type &h = host();
    auto *hs = static_cast<host_session_type *>(sockmsg_session_state(session, PKTIO_RELAY_SERVICE_ID));
    if (hs == nullptr) {
        hs = new host_session_type;
        hs->node = end.first;
        sockmsg_session_set_state(session, PKTIO_RELAY_SERVICE_ID, hs);
    }
    hs->ends.insert(end.second);
    h.ends[end].insert(session);
}

// A client names an end of a link of its own node (the node is the process manager's for a
// process it started, else the one the client names once per connection).
void on_register(sockmsg_session_type *session, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    host_type &h = host();
    if (length != 8)
        return reply(call, PKTIO_ERR_INVALID);
    uint32_t node = 0;
    if (sysmgr_host_client_node(session, get32(data), &node) != 0)
        return reply(call, PKTIO_ERR_INVALID);
    const end_type end{node, get32(data + 4)};
    std::lock_guard<std::mutex> g(h.lock);
    if (h.far.count(end) == 0)
        return reply(call, PKTIO_ERR_NO_LINK);
    auto *hs = static_cast<host_session_type *>(sockmsg_session_state(session, PKTIO_RELAY_SERVICE_ID));
    if (hs != nullptr && hs->node != node)
        return reply(call, PKTIO_ERR_INVALID); // one side per connection
    session_add_end(session, end);
    reply(call, 0);
}

// A client names itself as a simulated peer: it takes the peer's side of the interface that names
// it. A connection serves one side: a node's ends or one peer's.
void on_register_peer(sockmsg_session_type *session, sockmsg_call_type *call, const uint8_t *data, uint32_t length,
                      void *)
{
    host_type &h = host();
    if (length == 0 || length > PEER_NAME_MAX)
        return reply(call, PKTIO_ERR_INVALID);
    std::lock_guard<std::mutex> g(h.lock);
    const auto it = h.peers.find(std::string(reinterpret_cast<const char *>(data), length));
    if (it == h.peers.end())
        return reply(call, PKTIO_ERR_NO_LINK);
    auto *hs = static_cast<host_session_type *>(sockmsg_session_state(session, PKTIO_RELAY_SERVICE_ID));
    if (hs != nullptr && hs->node != it->second.first)
        return reply(call, PKTIO_ERR_INVALID);
    session_add_end(session, it->second);
    std::vector<uint8_t> b;
    put32(b, it->second.second);
    reply(call, 0, b);
}

// A frame from one end goes to every process registered at the other; what nobody takes is
// lost, as on a cable with nothing plugged in.
void on_frame(sockmsg_session_type *session, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    host_type &h = host();
    std::lock_guard<std::mutex> g(h.lock);
    auto *hs = static_cast<host_session_type *>(sockmsg_session_state(session, PKTIO_RELAY_SERVICE_ID));
    if (length < PKTIO_RELAY_FRAME_HEADER || length - PKTIO_RELAY_FRAME_HEADER > PKTIO_RELAY_MAX_FRAME ||
        hs == nullptr || hs->ends.count(get32(data)) == 0 || !kind_ok(get32(data + 4))) {
        h.counts.dropped++;
        return reply(call, PKTIO_ERR_INVALID);
    }
    const end_type to = h.far.at({hs->node, get32(data)});
    const auto it = h.ends.find(to);
    if (it == h.ends.end() || it->second.empty()) {
        h.counts.dropped++;
        return reply(call, 0);
    }
    std::vector<uint8_t> b(data, data + length);
    b[0] = static_cast<uint8_t>(to.second >> 24);
    b[1] = static_cast<uint8_t>(to.second >> 16);
    b[2] = static_cast<uint8_t>(to.second >> 8);
    b[3] = static_cast<uint8_t>(to.second);
    for (sockmsg_session_type *receiver : it->second)
        sockmsg_notify(receiver, PKTIO_RELAY_SERVICE_ID, PKTIO_RELAY_WIRE_RX, b.data(), length);
    h.counts.relayed++;
    reply(call, 0);
}

void on_counts(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *, uint32_t, void *)
{
    const pktio_relay_counts_type c = pktio_relay_host_counts();
    std::vector<uint8_t> b;
    put64(b, c.relayed);
    put64(b, c.dropped);
    reply(call, 0, b);
}

void on_disconnect(sockmsg_session_type *session, void *state, void *)
{
    auto *hs = static_cast<host_session_type *>(state);
    if (hs == nullptr)
        return;
    host_type &h = host();
    std::lock_guard<std::mutex> g(h.lock);
    for (uint32_t ifhandle : hs->ends)
        h.ends[{hs->node, ifhandle}].erase(session);
    delete hs;
}

const sockmsg_handler_row rows[] = {
    {PKTIO_RELAY_WIRE_REGISTER, on_register},
    {PKTIO_RELAY_WIRE_FRAME, on_frame},
    {PKTIO_RELAY_WIRE_COUNTS, on_counts},
    {PKTIO_RELAY_WIRE_REGISTER_PEER, on_register_peer},
};
const sockmsg_service_type service = {PKTIO_RELAY_SERVICE_ID,       "links",       rows,
                                      sizeof rows / sizeof rows[0], on_disconnect, nullptr};

} // namespace

zerrno pktio_relay_host_init(event_mgr_type *, sockmsg_server_type *server)
{
    pktio::register_errors();
    host_type &h = host();
    {
        std::lock_guard<std::mutex> g(h.lock);
        h.far.clear();
        h.ends.clear();
        h.peers.clear();
        h.counts = {};
        // The description was checked: every link names a node and an interface that link back.
        const chassis_desc_type *chassis = sysmgr_chassis();
        for (size_t n = 0; chassis != nullptr && n < chassis->nodes.size(); ++n) {
            const chassis_node_type &node = chassis->nodes[n];
            for (const chassis_intf_type &i : node.interfaces) {
                const chassis_node_type *other = chassis_find_node_by_name(chassis, i.link_node);
                const chassis_intf_type *oi = other != nullptr ? chassis_find_intf(other, i.link_intf) : nullptr;
                if (i.carrier == chassis_carrier_type::LINK && oi != nullptr)
                    h.far[{node.node_id, i.handle}] = {other->node_id, oi->handle};
                if (i.carrier == chassis_carrier_type::PEER) {
                    const end_type mine{node.node_id, i.handle}, theirs{node.node_id | PEER_SIDE, i.handle};
                    h.far[mine] = theirs;
                    h.far[theirs] = mine;
                    h.peers.emplace(i.peer, theirs); // the first interface that names a peer is its
                }
            }
        }
    }
    return sockmsg_server_register(server, &service);
}

void pktio_relay_host_shutdown(void) {}

pktio_relay_counts_type pktio_relay_host_counts(void)
{
    host_type &h = host();
    std::lock_guard<std::mutex> g(h.lock);
    return h.counts;
}
