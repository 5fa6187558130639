// Switch packet I/O: connections, attachment, send, receive delivery, resync, the in-memory
// backend and the offload plugin's calls (handed to the plugin and recorded), with the test control
// beside them.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <list>
#include <map>
#include <new>
#include <set>

#include "eth_encap.h"
#include "ip_helpers.h"
#include "pktio_internal.h"
#include "pktio_linux.h"
#include "pktio_relay.h"
#include "plat_clock.h"

struct spio_conn_type {
    uint32_t kind = 0;
    event_mgr_type *evm = nullptr;
    spio_rx_fn rx = nullptr;
    spio_resync_req_fn resync_req = nullptr;
    int32_t coid = -1;
    int32_t rx_code = -1;
    int32_t resync_code = -1;
    int32_t offload_code = -1;
    std::deque<ctx_packet_type *> rx_queue;
    struct completion_type {
        uint32_t count;
        spio_offload_completion_type completion;
    };
    std::deque<completion_type> completions;
    // Between resync start and end: the interfaces attached again; at the end the others go.
    bool resyncing = false;
    std::set<uint32_t> marked;
};

namespace {

// How many sent packets the test control keeps.
constexpr size_t SENT_KEPT = 65536;

struct intf_type {
    std::string name;
    uint8_t mac[6];
    bool is_l2;
    bool is_bundle;
    bool is_linux;
    uint32_t peer; // linked interface (in-memory), 0 none
};

struct session_key_type {
    uint32_t ifhandle;
    std::vector<uint8_t> key;
    bool operator<(const session_key_type &o) const
    {
        return ifhandle != o.ifhandle ? ifhandle < o.ifhandle : key < o.key;
    }
};

struct state_type {
    std::mutex mu;
    std::map<uint32_t, intf_type> intfs;
    std::list<spio_conn_type *> conns;
    // ifhandle -> connection, per kind index 1..3
    std::array<std::map<uint32_t, spio_conn_type *>, 4> attached;
    std::deque<pktio_test_sent_type> sent; // the last SENT_KEPT packets
    std::map<pktio_test_op, std::deque<pktio::failure_type>> failures;
    // The failures' entries: a call with none to take asks without the lock (every context call
    // of every received frame asks).
    std::atomic<uint32_t> failures_pending{0};
    std::array<pktio_test_calls_type, 4> calls{};
    std::array<std::map<session_key_type, std::vector<uint8_t>>, 4> sessions;
    std::array<std::vector<spio_offload_stats_request_type>, 4> stats_requests;
    uint32_t next_request_id = 1;
    uint64_t unclaimed = 0;
};

state_type &st()
{
    static state_type *s = new state_type; // outlives every static user
    return *s;
}

bool conn_alive(spio_conn_type *conn)
{
    auto &c = st().conns;
    return std::find(c.begin(), c.end(), conn) != c.end();
}

int rx_handler(const event_async_ctx_type *, int32_t, void *context)
{
    auto *conn = static_cast<spio_conn_type *>(context);
    std::vector<ctx_packet_type *> batch;
    spio_rx_fn rx = nullptr;
    {
        std::lock_guard<std::mutex> lock(st().mu);
        if (!conn_alive(conn)) {
            return 0;
        }
        batch.assign(conn->rx_queue.begin(), conn->rx_queue.end());
        conn->rx_queue.clear();
        rx = conn->rx;
    }
    if (!batch.empty()) {
        rx(static_cast<uint32_t>(batch.size()), batch.data());
    }
    return 0;
}

int resync_handler(const event_async_ctx_type *, int32_t, void *context)
{
    auto *conn = static_cast<spio_conn_type *>(context);
    spio_resync_req_fn fn = nullptr;
    {
        std::lock_guard<std::mutex> lock(st().mu);
        if (!conn_alive(conn)) {
            return 0;
        }
        fn = conn->resync_req;
    }
    if (fn != nullptr) {
        fn();
    }
    return 0;
}

int offload_handler(const event_async_ctx_type *, int32_t, void *context)
{
    auto *conn = static_cast<spio_conn_type *>(context);
    std::deque<spio_conn_type::completion_type> done;
    {
        std::lock_guard<std::mutex> lock(st().mu);
        if (!conn_alive(conn)) {
            return 0;
        }
        done.swap(conn->completions);
    }
    for (auto &d : done) {
        d.completion.done(d.count, d.completion.statuses, d.completion.context);
    }
    return 0;
}

void post(spio_conn_type *conn, int32_t code)
{
    if (code >= 0) {
        event_send_async(conn->coid, code, 0);
    }
}

// The first byte of the IP packet inside a sent IP context: the application start less the IP
// and UDP headers (a rewrite, when there is one, stands in front).
size_t network_start(uint32_t kind, const ctx_packet_type *p)
{
    if (!p->opt_set[CTX_OPT_APP_START]) {
        return 0;
    }
    const auto app = static_cast<int64_t>(static_cast<int16_t>(p->opt[CTX_OPT_APP_START]));
    const int64_t headers = kind == SPIO_CONN_KIND_IPV6 ? IPV6_HDR_LEN + UDP_HDR_LEN : IPV4_HDR_LEN + UDP_HDR_LEN;
    return app >= headers ? static_cast<size_t>(app - headers) : 0;
}

size_t current_length(const ctx_packet_type *p)
{
    if (p->opt_set[CTX_OPT_CURRENT_LENGTH]) {
        return std::min<size_t>(p->opt[CTX_OPT_CURRENT_LENGTH], p->data.size());
    }
    return p->used;
}

pktio_test_sent_type snapshot(uint32_t kind, uint32_t ifhandle, const ctx_packet_type *p)
{
    pktio_test_sent_type s{};
    s.kind = kind;
    s.ifhandle = ifhandle;
    s.bytes.assign(p->data.begin(), p->data.begin() + static_cast<std::ptrdiff_t>(current_length(p)));
    s.current_length = static_cast<uint32_t>(p->opt[CTX_OPT_CURRENT_LENGTH]);
    s.app_start = static_cast<int16_t>(p->opt[CTX_OPT_APP_START]);
    s.direction = static_cast<uint8_t>(p->opt[CTX_OPT_DIRECTION]);
    s.cos = static_cast<uint8_t>(p->opt[CTX_OPT_COS]);
    s.priority = static_cast<uint8_t>(p->opt[CTX_OPT_PRIORITY]);
    s.vrf_id = static_cast<uint32_t>(p->opt[CTX_OPT_VRF_ID]);
    s.ts_option = static_cast<uint8_t>(p->opt[CTX_OPT_TS_OPTION]);
    s.packet_id = static_cast<uint32_t>(p->opt[CTX_OPT_PACKET_ID]);
    s.ts_offset = static_cast<uint32_t>(p->opt[CTX_OPT_TS_OFFSET]);
    s.tag_layout = static_cast<uint32_t>(p->opt[CTX_OPT_L2_TAG_LAYOUT]);
    s.fib_data = p->fib;
    return s;
}

// asked: when the sender asked for the send, the time an in-memory or relayed frame leaves at.
zerrno send_one(spio_conn_type *conn, ctx_packet_type *p, int64_t asked)
{
    if (p == nullptr) {
        return PKTIO_ERR_INVALID;
    }
    const auto ifhandle = static_cast<uint32_t>(p->opt[CTX_OPT_OUT_IFHANDLE]);
    const uint32_t kind = conn->kind;
    const uint32_t k = pktio::kind_index(kind);
    {
        std::lock_guard<std::mutex> lock(st().mu);
        if (st().intfs.count(ifhandle) == 0) {
            return PKTIO_ERR_NOT_FOUND;
        }
        auto at = st().attached[k].find(ifhandle);
        if (at == st().attached[k].end() || at->second != conn) {
            return PKTIO_ERR_NOT_ATTACHED;
        }
    }
    zerrno code = 0;
    if (pktio::fail_take(pktio_test_op::SPIO_SEND, 0, &code)) {
        return code;
    }
    const size_t end = current_length(p);
    const size_t start = kind == SPIO_CONN_KIND_ETHERNET ? 0 : std::min(network_start(kind, p), end);
    {
        std::lock_guard<std::mutex> lock(st().mu);
        // Kept for tests to look at, and bounded: a running chassis sends for days.
        if (st().sent.size() == SENT_KEPT) {
            st().sent.pop_front();
        }
        st().sent.push_back(snapshot(kind, ifhandle, p));
    }
    return pktio::wire_send(kind, ifhandle, p->data.data() + start, end - start, nullptr, asked);
}

} // namespace

namespace pktio {

zerrno wire_send(uint32_t kind, uint32_t ifhandle, const uint8_t *bytes, size_t len, int64_t *tx_wall_ns,
                 int64_t asked_wall_ns)
{
    const int64_t now = asked_wall_ns != 0 ? asked_wall_ns : plat_clock_wall_ns();
    if (tx_wall_ns != nullptr) {
        *tx_wall_ns = now; // in-memory and relayed: it leaves now
    }
    uint32_t peer = 0;
    bool is_linux = false;
    {
        std::lock_guard<std::mutex> lock(st().mu);
        auto it = st().intfs.find(ifhandle);
        if (it == st().intfs.end()) {
            return PKTIO_ERR_NOT_FOUND;
        }
        peer = it->second.peer;
        is_linux = it->second.is_linux;
    }
    if (zerrno relayed = 0; relay_send(kind, ifhandle, bytes, len, now, &relayed)) {
        return relayed;
    }
    if (is_linux) {
        return linux_send(kind, ifhandle, bytes, len, tx_wall_ns);
    }
    if (peer != 0) {
        ctx_packet_type *rx = rx_packet_make(kind, peer, bytes, len, timestamp_bytes(now), true);
        if (rx != nullptr) {
            deliver(kind, peer, rx);
        }
    }
    return 0;
}

bool fail_take(pktio_test_op op, uint32_t option, zerrno *code)
{
    if (st().failures_pending.load(std::memory_order_acquire) == 0) {
        return false;
    }
    std::lock_guard<std::mutex> lock(st().mu);
    auto it = st().failures.find(op);
    if (it == st().failures.end()) {
        return false;
    }
    for (auto f = it->second.begin(); f != it->second.end(); ++f) {
        if (f->option != 0 && f->option != option) {
            continue;
        }
        *code = f->code;
        if (--f->count == 0) {
            it->second.erase(f);
            st().failures_pending.fetch_sub(1, std::memory_order_release);
        }
        return true;
    }
    return false;
}

uint32_t kind_index(uint32_t kind)
{
    switch (kind) {
    case SPIO_CONN_KIND_ETHERNET: return 1;
    case SPIO_CONN_KIND_IPV4: return 2;
    case SPIO_CONN_KIND_IPV6: return 3;
    default: return 0;
    }
}

std::vector<uint8_t> timestamp_bytes(int64_t ns)
{
    std::vector<uint8_t> b;
    timestamp_fill(ns, b);
    return b;
}

void timestamp_fill(int64_t ns, std::vector<uint8_t> &b)
{
    const uint64_t sec = ns > 0 ? static_cast<uint64_t>(ns) / 1000000000u : 0;
    const uint32_t nsec = ns > 0 ? static_cast<uint32_t>(static_cast<uint64_t>(ns) % 1000000000u) : 0;
    b.resize(CTX_TIMESTAMP_LEN);
    for (int i = 0; i < 6; i++) {
        b[static_cast<size_t>(i)] = static_cast<uint8_t>(sec >> (8 * (5 - i)));
    }
    for (int i = 0; i < 4; i++) {
        b[static_cast<size_t>(6 + i)] = static_cast<uint8_t>(nsec >> (8 * (3 - i)));
    }
}

ctx_packet_type *rx_packet_make(uint32_t kind, uint32_t ifhandle, const uint8_t *bytes, size_t len,
                                const std::vector<uint8_t> &ts, bool with_ts)
{
    ctx_packet_type *p = ctx_packet_new();
    if (p == nullptr) {
        return nullptr;
    }
    p->data.assign(bytes, bytes + len);
    p->used = len;
    auto set = [p](uint32_t o, uint64_t v) {
        p->opt[o] = v;
        p->opt_set[o] = true;
    };
    set(CTX_OPT_IN_IFHANDLE, ifhandle);
    set(CTX_OPT_CURRENT_LENGTH, len);
    set(CTX_OPT_SUBTYPE, CTX_SUBTYPE_PACKET);
    set(CTX_OPT_PACKET_ID, 0);
    if (kind == SPIO_CONN_KIND_IPV4 || kind == SPIO_CONN_KIND_IPV6) {
        p->has_net = true;
        p->net_off = 0;
        size_t hdr = kind == SPIO_CONN_KIND_IPV6 ? IPV6_HDR_LEN : IPV4_HDR_LEN;
        if (kind == SPIO_CONN_KIND_IPV4 && len > 0) {
            hdr = static_cast<size_t>(bytes[0] & 0x0F) * 4;
        }
        set(CTX_OPT_APP_START, std::min(len, hdr + UDP_HDR_LEN));
    }
    if (with_ts) {
        if (ts.empty()) {
            timestamp_fill(plat_clock_wall_ns(), p->timestamp);
        } else {
            p->timestamp.assign(ts.begin(), ts.end());
        }
        p->has_timestamp = true;
    }
    return p;
}

bool deliver(uint32_t kind, uint32_t ifhandle, ctx_packet_type *packet)
{
    const uint32_t k = kind_index(kind);
    // The event messages of the plugin's sessions never reach the host.
    if (k != 0 && packet->opt[CTX_OPT_SUBTYPE] == CTX_SUBTYPE_PACKET && offload_rx(kind, ifhandle, packet)) {
        return true;
    }
    std::lock_guard<std::mutex> lock(st().mu);
    spio_conn_type *conn = nullptr;
    if (packet->opt[CTX_OPT_SUBTYPE] == CTX_SUBTYPE_OFFLOAD_NOTIFICATION) {
        for (auto *c : st().conns) {
            if (c->kind == kind) {
                conn = c;
                break;
            }
        }
    } else if (k != 0) {
        auto it = st().attached[k].find(ifhandle);
        conn = it != st().attached[k].end() ? it->second : nullptr;
    }
    if (conn == nullptr) {
        st().unclaimed++;
        ctx_packet_delete(packet);
        return false;
    }
    conn->rx_queue.push_back(packet);
    post(conn, conn->rx_code);
    return true;
}

event_mgr_type *rx_manager()
{
    std::lock_guard<std::mutex> lock(st().mu);
    return st().conns.empty() ? nullptr : st().conns.front()->evm;
}

void deliver_batch(const std::vector<rx_item_type> &items)
{
    std::vector<rx_item_type> host;
    host.reserve(items.size());
    for (const rx_item_type &i : items) {
        const uint32_t k = kind_index(i.kind);
        if (i.packet == nullptr || (k != 0 && i.packet->opt[CTX_OPT_SUBTYPE] == CTX_SUBTYPE_PACKET &&
                                    offload_rx(i.kind, i.ifhandle, i.packet))) {
            continue;
        }
        host.push_back(i);
    }
    std::lock_guard<std::mutex> lock(st().mu);
    std::vector<spio_conn_type *> woken;
    for (const rx_item_type &i : host) {
        const uint32_t k = kind_index(i.kind);
        spio_conn_type *conn = nullptr;
        if (k != 0) {
            auto it = st().attached[k].find(i.ifhandle);
            conn = it != st().attached[k].end() ? it->second : nullptr;
        }
        if (conn == nullptr) {
            st().unclaimed++;
            ctx_packet_delete(i.packet);
            continue;
        }
        // A queue that held packets already has its event on the way.
        if (conn->rx_queue.empty() && std::find(woken.begin(), woken.end(), conn) == woken.end()) {
            woken.push_back(conn);
        }
        conn->rx_queue.push_back(i.packet);
    }
    for (spio_conn_type *conn : woken) {
        post(conn, conn->rx_code);
    }
}

zerrno intf_register(const char *name, uint32_t ifhandle, const uint8_t mac[6], bool is_l2, bool is_bundle,
                     bool is_linux)
{
    if (name == nullptr || ifhandle == 0 || mac == nullptr) {
        return PKTIO_ERR_INVALID;
    }
    std::lock_guard<std::mutex> lock(st().mu);
    if (st().intfs.count(ifhandle) != 0) {
        return PKTIO_ERR_EXISTS;
    }
    intf_type i{name, {}, is_l2, is_bundle, is_linux, 0};
    std::memcpy(i.mac, mac, 6);
    st().intfs.emplace(ifhandle, i);
    return 0;
}

void intf_unregister(uint32_t ifhandle)
{
    std::lock_guard<std::mutex> lock(st().mu);
    auto it = st().intfs.find(ifhandle);
    if (it == st().intfs.end()) {
        return;
    }
    if (it->second.peer != 0) {
        auto p = st().intfs.find(it->second.peer);
        if (p != st().intfs.end()) {
            p->second.peer = 0;
        }
    }
    for (auto &a : st().attached) {
        a.erase(ifhandle);
    }
    st().intfs.erase(it);
}

} // namespace pktio

// ---- Connections ---------------------------------------------------------------------------

zerrno spio_init(const spio_init_params_type *params, spio_conn_type **out)
{
    pktio::register_errors();
    pktio_chassis_setup(); // a process of the chassis: its node's interfaces, once
    if (params == nullptr || out == nullptr || params->version != SPIO_PARAMS_VERSION || params->rx == nullptr ||
        params->evm == nullptr || pktio::kind_index(params->kind) == 0) {
        return PKTIO_ERR_INVALID;
    }
    zerrno code = 0;
    if (pktio::fail_take(pktio_test_op::SPIO_INIT, params->kind, &code)) {
        return code;
    }
    auto *conn = new (std::nothrow) spio_conn_type;
    if (conn == nullptr) {
        return PKTIO_ERR_NO_MEMORY;
    }
    conn->kind = params->kind;
    conn->evm = params->evm;
    conn->rx = params->rx;
    conn->resync_req = params->resync_req;
    conn->coid = event_manager_coid(params->evm);
    conn->rx_code = event_async_attach_event(params->evm, 0, rx_handler, conn, nullptr);
    conn->resync_code = event_async_attach_event(params->evm, 0, resync_handler, conn, nullptr);
    conn->offload_code = event_async_attach_event(params->evm, 0, offload_handler, conn, nullptr);
    if (conn->rx_code < 0 || conn->resync_code < 0 || conn->offload_code < 0) {
        for (int32_t c : {conn->rx_code, conn->resync_code, conn->offload_code}) {
            if (c >= 0) {
                event_async_attach(params->evm, c, nullptr, nullptr);
            }
        }
        delete conn;
        return PKTIO_ERR_IO;
    }
    {
        std::lock_guard<std::mutex> lock(st().mu);
        st().conns.push_back(conn);
    }
    // The first connection's manager waits on the Linux devices' rings from now on.
    const zerrno rc = pktio::linux_rx_manager_changed();
    if (rc != 0) {
        spio_close(conn);
        return rc;
    }
    *out = conn;
    return 0;
}

void spio_close(spio_conn_type *conn)
{
    if (conn == nullptr) {
        return;
    }
    pktio::offload_conn_closed(conn);
    {
        std::lock_guard<std::mutex> lock(st().mu);
        if (!conn_alive(conn)) {
            return;
        }
        st().conns.remove(conn);
        auto &att = st().attached[pktio::kind_index(conn->kind)];
        for (auto it = att.begin(); it != att.end();) {
            it = it->second == conn ? att.erase(it) : std::next(it);
        }
        for (auto *p : conn->rx_queue) {
            pktio::ctx_packet_delete(p);
        }
        conn->rx_queue.clear();
    }
    pktio::linux_rx_manager_changed(); // fails only for a manager gone already
    for (int32_t c : {conn->rx_code, conn->resync_code, conn->offload_code}) {
        event_async_attach(conn->evm, c, nullptr, nullptr);
    }
    delete conn;
}

zerrno spio_attach2(spio_conn_type *conn, uint32_t flags, uint32_t count, const uint32_t *ifhandles,
                    const uint32_t *directions, uint32_t *statuses)
{
    (void)flags;
    if (conn == nullptr || (count > 0 && (ifhandles == nullptr || directions == nullptr || statuses == nullptr))) {
        return PKTIO_ERR_INVALID;
    }
    const uint32_t k = pktio::kind_index(conn->kind);
    {
        std::lock_guard<std::mutex> lock(st().mu);
        if (!conn_alive(conn)) {
            return PKTIO_ERR_CLOSED;
        }
        st().calls[k].attach_calls++;
    }
    zerrno code = 0;
    if (pktio::fail_take(pktio_test_op::SPIO_ATTACH, 0, &code)) {
        return code;
    }
    for (uint32_t i = 0; i < count; i++) {
        if (pktio::fail_take(pktio_test_op::SPIO_ATTACH_STATUS, ifhandles[i], &code)) {
            statuses[i] = code;
            continue;
        }
        bool detached = false;
        {
            std::lock_guard<std::mutex> lock(st().mu);
            auto &att = st().attached[k];
            if (directions[i] == 1) {
                if (st().intfs.count(ifhandles[i]) == 0) {
                    statuses[i] = PKTIO_ERR_NOT_FOUND;
                    continue;
                }
                att[ifhandles[i]] = conn;
                if (conn->resyncing) {
                    conn->marked.insert(ifhandles[i]);
                }
            } else if (auto it = att.find(ifhandles[i]); it != att.end() && it->second == conn) {
                att.erase(it);
                // A detach takes the interface's offload sessions of this connection with it.
                auto &sessions = st().sessions[k];
                for (auto s = sessions.begin(); s != sessions.end();) {
                    s = s->first.ifhandle == ifhandles[i] ? sessions.erase(s) : std::next(s);
                }
                detached = true;
            }
            statuses[i] = 0;
        }
        if (detached) {
            pktio::offload_intf_detached(conn->kind, ifhandles[i]);
        }
    }
    return 0;
}

zerrno spio_pd_intf_send(spio_conn_type *conn, uint32_t count, ctx_packet_type **packets, uint32_t consume,
                         uint32_t flags)
{
    (void)flags;
    // Read before any lock is waited for: a sender's own stamp of the send (a simulated peer's
    // origin time) is read just before this call, and the frame must leave at that time.
    const int64_t asked = plat_clock_wall_ns();
    zerrno rc = 0;
    if (conn == nullptr || (count > 0 && packets == nullptr)) {
        rc = PKTIO_ERR_INVALID;
    } else {
        {
            std::lock_guard<std::mutex> lock(st().mu);
            if (!conn_alive(conn)) {
                rc = PKTIO_ERR_CLOSED;
            }
        }
        for (uint32_t i = 0; i < count && rc == 0; i++) {
            rc = send_one(conn, packets[i], asked);
        }
    }
    if (consume != 0 && packets != nullptr) {
        ctx_free(packets, count);
    }
    return rc;
}

namespace {

zerrno count_call(spio_conn_type *conn, uint32_t pktio_test_calls_type::*field)
{
    if (conn == nullptr) {
        return PKTIO_ERR_INVALID;
    }
    std::lock_guard<std::mutex> lock(st().mu);
    if (!conn_alive(conn)) {
        return PKTIO_ERR_CLOSED;
    }
    st().calls[pktio::kind_index(conn->kind)].*field += 1;
    return 0;
}

} // namespace

zerrno spio_resync_start(spio_conn_type *conn)
{
    zerrno rc = count_call(conn, &pktio_test_calls_type::resync_starts);
    if (rc == 0) {
        std::lock_guard<std::mutex> lock(st().mu);
        conn->resyncing = true;
        conn->marked.clear();
    }
    return rc;
}

zerrno spio_resync_end(spio_conn_type *conn)
{
    zerrno rc = count_call(conn, &pktio_test_calls_type::resync_ends);
    if (rc == 0) {
        std::lock_guard<std::mutex> lock(st().mu);
        if (conn->resyncing) {
            auto &att = st().attached[pktio::kind_index(conn->kind)];
            for (auto it = att.begin(); it != att.end();) {
                const bool stale = it->second == conn && conn->marked.count(it->first) == 0;
                it = stale ? att.erase(it) : std::next(it);
            }
        }
        conn->resyncing = false;
        conn->marked.clear();
    }
    return rc;
}

zerrno spio_force_resync(spio_conn_type *conn)
{
    zerrno code = 0;
    if (conn != nullptr && pktio::fail_take(pktio_test_op::FORCE_RESYNC, conn->kind, &code)) {
        return code;
    }
    zerrno rc = count_call(conn, &pktio_test_calls_type::forced_resyncs);
    if (rc == 0) {
        post(conn, conn->resync_code);
    }
    return rc;
}

// ---- Offload plugin calls --------------------------------------------------------------------

zerrno spio_offload_nb(spio_conn_type *conn, const spio_offload_request_type *request,
                       const spio_offload_completion_type *completion, uint32_t *request_id)
{
    if (conn == nullptr || request == nullptr || completion == nullptr || completion->done == nullptr ||
        (request->count > 0 &&
         (request->ifhandles == nullptr || request->keys == nullptr || request->key_lens == nullptr ||
          request->data == nullptr || request->data_lens == nullptr || completion->statuses == nullptr))) {
        return PKTIO_ERR_INVALID;
    }
    zerrno code = 0;
    if (pktio::fail_take(pktio_test_op::OFFLOAD_CREATE, 0, &code)) {
        return code;
    }
    {
        std::lock_guard<std::mutex> lock(st().mu);
        if (!conn_alive(conn)) {
            return PKTIO_ERR_CLOSED;
        }
        st().calls[pktio::kind_index(conn->kind)].offload_creates++;
    }
    // The plugin takes each session (or refuses a malformed one) before the result is posted.
    for (uint32_t i = 0; i < request->count; i++) {
        if (completion->statuses[i] != 0) {
            continue;
        }
        const auto *k = static_cast<const uint8_t *>(request->keys[i]);
        const auto *d = static_cast<const uint8_t *>(request->data[i]);
        if (k == nullptr || (d == nullptr && request->data_lens[i] > 0)) {
            completion->statuses[i] = PKTIO_ERR_INVALID;
            continue;
        }
        completion->statuses[i] = pktio::offload_session_set(conn, conn->evm, conn->kind, request->ifhandles[i], k,
                                                             request->key_lens[i], d, request->data_lens[i]);
        if (completion->statuses[i] != 0) {
            continue;
        }
        std::lock_guard<std::mutex> lock(st().mu);
        session_key_type key{request->ifhandles[i], std::vector<uint8_t>(k, k + request->key_lens[i])};
        st().sessions[pktio::kind_index(conn->kind)][key] = std::vector<uint8_t>(d, d + request->data_lens[i]);
    }
    std::lock_guard<std::mutex> lock(st().mu);
    conn->completions.push_back({request->count, *completion});
    if (request_id != nullptr) {
        *request_id = st().next_request_id++;
    }
    post(conn, conn->offload_code);
    return 0;
}

zerrno spio_offload_delete(spio_conn_type *conn, const spio_offload_delete_request_type *request, uint32_t *statuses)
{
    if (conn == nullptr || request == nullptr ||
        (request->count > 0 && (request->ifhandles == nullptr || request->keys == nullptr ||
                                request->key_lens == nullptr || statuses == nullptr))) {
        return PKTIO_ERR_INVALID;
    }
    zerrno code = 0;
    if (pktio::fail_take(pktio_test_op::OFFLOAD_DELETE, 0, &code)) {
        return code;
    }
    std::lock_guard<std::mutex> lock(st().mu);
    if (!conn_alive(conn)) {
        return PKTIO_ERR_CLOSED;
    }
    st().calls[pktio::kind_index(conn->kind)].offload_deletes++;
    auto &sessions = st().sessions[pktio::kind_index(conn->kind)];
    for (uint32_t i = 0; i < request->count; i++) {
        const auto *k = static_cast<const uint8_t *>(request->keys[i]);
        if (k == nullptr) {
            statuses[i] = PKTIO_ERR_INVALID;
            continue;
        }
        session_key_type key{request->ifhandles[i], std::vector<uint8_t>(k, k + request->key_lens[i])};
        (void)pktio::offload_session_delete(conn->kind, request->ifhandles[i], k, request->key_lens[i]);
        statuses[i] = sessions.erase(key) != 0 ? 0 : PKTIO_ERR_NOT_FOUND;
    }
    return 0;
}

namespace {

zerrno stats_record(spio_conn_type *conn, const spio_offload_stats_request_type *request)
{
    if (conn == nullptr || request == nullptr || request->kind > 1 ||
        (request->count > 0 && request->ifhandles == nullptr)) {
        return PKTIO_ERR_INVALID;
    }
    zerrno code = 0;
    if (pktio::fail_take(pktio_test_op::OFFLOAD_STATS, conn->kind, &code)) {
        return code;
    }
    std::lock_guard<std::mutex> lock(st().mu);
    if (!conn_alive(conn)) {
        return PKTIO_ERR_CLOSED;
    }
    spio_offload_stats_request_type copy = *request;
    copy.ifhandles = nullptr; // the caller's arrays do not outlive the call
    copy.keys = nullptr;
    copy.key_lens = nullptr;
    st().stats_requests[pktio::kind_index(conn->kind)].push_back(copy);
    return 0;
}

zerrno stats_handle(spio_conn_type *conn, const spio_offload_stats_request_type *request, bool reset)
{
    if (request != nullptr && request->kind == 0 && request->count > 0 &&
        (request->keys == nullptr || request->key_lens == nullptr)) {
        return PKTIO_ERR_INVALID;
    }
    zerrno rc = stats_record(conn, request);
    if (rc == 0) {
        pktio::offload_stats(conn->kind, request, reset);
    }
    return rc;
}

} // namespace

zerrno spio_offload_stats_request_nb(spio_conn_type *conn, const spio_offload_stats_request_type *request)
{
    return stats_handle(conn, request, false);
}

zerrno spio_offload_stats_reset(spio_conn_type *conn, const spio_offload_stats_request_type *request)
{
    return stats_handle(conn, request, true);
}

// ---- Interfaces ------------------------------------------------------------------------------

zerrno platform_ifhandle_is_l2(uint32_t ifhandle, bool *out)
{
    if (out == nullptr) {
        return PKTIO_ERR_INVALID;
    }
    std::lock_guard<std::mutex> lock(st().mu);
    auto it = st().intfs.find(ifhandle);
    if (it == st().intfs.end()) {
        return PKTIO_ERR_NOT_FOUND;
    }
    *out = it->second.is_l2;
    return 0;
}

zerrno platform_ifhandle_is_bundle(uint32_t ifhandle, bool *out)
{
    if (out == nullptr) {
        return PKTIO_ERR_INVALID;
    }
    std::lock_guard<std::mutex> lock(st().mu);
    auto it = st().intfs.find(ifhandle);
    if (it == st().intfs.end()) {
        return PKTIO_ERR_NOT_FOUND;
    }
    *out = it->second.is_bundle;
    return 0;
}

// ---- Test control ----------------------------------------------------------------------------

void pktio_test_reset()
{
    std::vector<uint32_t> linux_intfs;
    {
        std::lock_guard<std::mutex> lock(st().mu);
        for (auto &[h, i] : st().intfs) {
            if (i.is_linux) {
                linux_intfs.push_back(h);
            }
        }
    }
    for (uint32_t h : linux_intfs) {
        pktio_linux_intf_remove(h);
    }
    pktio::offload_reset();
    std::lock_guard<std::mutex> lock(st().mu);
    st().intfs.clear();
    for (auto &a : st().attached) {
        a.clear();
    }
    st().sent.clear();
    st().failures.clear();
    st().failures_pending.store(0, std::memory_order_release);
    st().calls = {};
    for (auto &s : st().sessions) {
        s.clear();
    }
    for (auto &s : st().stats_requests) {
        s.clear();
    }
    st().unclaimed = 0;
}

zerrno pktio_test_intf_add(const char *name, uint32_t ifhandle, const uint8_t mac[6], bool is_l2, bool is_bundle)
{
    return pktio::intf_register(name, ifhandle, mac, is_l2, is_bundle, false);
}

void pktio_test_intf_remove(uint32_t ifhandle)
{
    pktio::intf_unregister(ifhandle);
}

zerrno pktio_test_link(uint32_t ifhandle_a, uint32_t ifhandle_b)
{
    std::lock_guard<std::mutex> lock(st().mu);
    auto a = st().intfs.find(ifhandle_a);
    auto b = st().intfs.find(ifhandle_b);
    if (a == st().intfs.end() || b == st().intfs.end() || ifhandle_a == ifhandle_b) {
        return PKTIO_ERR_INVALID;
    }
    a->second.peer = ifhandle_b;
    b->second.peer = ifhandle_a;
    return 0;
}

std::vector<pktio_test_sent_type> pktio_test_sent()
{
    std::lock_guard<std::mutex> lock(st().mu);
    return {st().sent.begin(), st().sent.end()};
}

void pktio_test_sent_clear()
{
    std::lock_guard<std::mutex> lock(st().mu);
    st().sent.clear();
}

void pktio_test_fail(pktio_test_op op, zerrno code, uint32_t count, uint32_t option)
{
    if (count == 0) {
        return;
    }
    std::lock_guard<std::mutex> lock(st().mu);
    st().failures[op].push_back({code, count, option});
    st().failures_pending.fetch_add(1, std::memory_order_release);
}

std::vector<uint32_t> pktio_test_attached(uint32_t kind)
{
    std::lock_guard<std::mutex> lock(st().mu);
    std::vector<uint32_t> out;
    for (auto &[h, c] : st().attached[pktio::kind_index(kind)]) {
        (void)c;
        out.push_back(h);
    }
    return out;
}

pktio_test_calls_type pktio_test_calls(uint32_t kind)
{
    std::lock_guard<std::mutex> lock(st().mu);
    return st().calls[pktio::kind_index(kind)];
}

namespace {

ctx_packet_type *inject_make(const pktio_test_rx_type &packet)
{
    ctx_packet_type *p = pktio::rx_packet_make(packet.kind, packet.ifhandle, packet.bytes.data(), packet.bytes.size(),
                                               packet.timestamp, packet.with_timestamp);
    if (p == nullptr) {
        return nullptr;
    }
    p->contiguous = packet.contiguous;
    if (packet.current_length >= 0) {
        p->opt[CTX_OPT_CURRENT_LENGTH] = static_cast<uint64_t>(packet.current_length);
    }
    p->opt[CTX_OPT_SUBTYPE] = packet.subtype;
    p->opt[CTX_OPT_PACKET_ID] = packet.packet_id;
    return p;
}

} // namespace

bool pktio_test_inject(const pktio_test_rx_type &packet)
{
    ctx_packet_type *p = inject_make(packet);
    return p != nullptr && pktio::deliver(packet.kind, packet.ifhandle, p);
}

bool pktio_test_inject_batch(const std::vector<pktio_test_rx_type> &packets)
{
    // Queued under one lock so that they arrive in one callback.
    std::vector<ctx_packet_type *> made;
    for (const auto &pk : packets) {
        made.push_back(inject_make(pk));
    }
    bool all = true;
    for (size_t i = 0; i < made.size(); i++) {
        all = made[i] != nullptr && pktio::deliver(packets[i].kind, packets[i].ifhandle, made[i]) && all;
    }
    return all;
}

void pktio_test_request_resync(uint32_t kind)
{
    std::lock_guard<std::mutex> lock(st().mu);
    for (auto *c : st().conns) {
        if (c->kind == kind) {
            post(c, c->resync_code);
        }
    }
}

std::vector<pktio_test_session_type> pktio_test_sessions(uint32_t kind)
{
    std::lock_guard<std::mutex> lock(st().mu);
    std::vector<pktio_test_session_type> out;
    for (auto &[k, d] : st().sessions[pktio::kind_index(kind)]) {
        out.push_back({k.ifhandle, k.key, d});
    }
    return out;
}

std::vector<spio_offload_stats_request_type> pktio_test_stats_requests(uint32_t kind)
{
    std::lock_guard<std::mutex> lock(st().mu);
    return st().stats_requests[pktio::kind_index(kind)];
}

uint64_t pktio_test_unclaimed()
{
    std::lock_guard<std::mutex> lock(st().mu);
    return st().unclaimed;
}
