// The offload plugin: what the hardware behind the packet-I/O offload calls does, in software.
// Master sessions send Announce, Sync (and Follow-Up when two-step) and answer Delay-Req with
// Delay-Resp; slave sessions take a master's Sync, Follow-Up and Delay-Resp, send Delay-Req and
// post timestamp notifications. Every session and interface counts what it handled, and
// statistics requests are answered with chunked notifications. Timestamps are the node's PTP
// clock; receive timestamps (the platform clock's or the kernel's, both wall-clock) are mapped
// onto it.
//
// Work runs on the event manager of the connection that created a session (one alarm per
// connection, its sessions kept in the order they are due, so that a firing touches only the due
// ones); received event messages are taken on the receiving thread. Nothing is sent or
// delivered while the plugin's lock is held, since a send on an in-memory link comes straight
// back into the receive hook.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <tuple>
#include <vector>

#include "evm_alarm.h"
#include "ip_helpers.h"
#include "pktio_internal.h"
#include "pktio_test.h"
#include "plat_clock.h"
#include "ptpclock.h"

namespace {

// ---- Wire constants --------------------------------------------------------------------------

constexpr uint8_t MSG_SYNC = 0x0, MSG_DELAY_REQ = 0x1, MSG_FOLLOW_UP = 0x8, MSG_DELAY_RESP = 0x9, MSG_ANNOUNCE = 0xB;
constexpr size_t PTP_HDR_LEN = 34;
constexpr size_t ANNOUNCE_LEN = 64, SYNC_LEN = 44, FOLLOW_UP_LEN = 44, DELAY_REQ_LEN = 44, DELAY_RESP_LEN = 54;
constexpr uint16_t ET_PTP = 0x88F7, ET_VLAN = 0x8100, ET_QINQ = 0x88A8;
constexpr uint16_t PORT_EVENT = 319, PORT_GENERAL = 320;
constexpr uint8_t FLAG0_TWO_STEP = 0x02, FLAG0_UNICAST = 0x04;
constexpr int8_t LOG_INTERVAL_NONE = 0x7F;

// Session key (as the agent builds it): kind, address type, address.
constexpr uint8_t KEY_MASTER = 1, KEY_SLAVE = 2;
constexpr uint8_t ADDR_ETHERNET = 1, ADDR_IPV4 = 2, ADDR_IPV6 = 3;
constexpr size_t KEY_LEN_MAX = 24;

// Master data flags (byte 24) and slave data flags (byte 18).
constexpr uint8_t MASTER_ANNOUNCE = 0x01, MASTER_SYNC = 0x02, MASTER_DELAY_RESP = 0x04;
constexpr uint8_t SLAVE_TAKE_SYNC = 0x01, SLAVE_DELAY_REQ = 0x02;

// Notifications.
constexpr uint8_t NTFN_TIMESTAMPS = 1, NTFN_STATS = 2;
constexpr uint8_t TS_SYNC = 1, TS_DELAY_RESP = 2;
constexpr size_t TS_NTFN_LEN = 68;
constexpr uint8_t CHUNK_GLOBAL = 1, CHUNK_INTERFACE = 2, CHUNK_SESSION = 3;
constexpr size_t CHUNK_HDR_LEN = 16, IF_CHUNK_HDR = 20, IF_ENTRY_LEN = 44, SESSION_CHUNK_HDR = 24,
                 SESSION_ENTRY_LEN = 64;

// Per-session counts, in the order of a session statistics entry.
enum session_count : size_t {
    SYNC_RX,
    SYNC_TX,
    FOLLOW_UP_RX,
    FOLLOW_UP_TX,
    DELAY_REQ_RX,
    DELAY_REQ_TX,
    DELAY_RESP_RX,
    DELAY_RESP_TX,
    ANNOUNCE_TX,
    SESSION_COUNTS
};
// Per-interface drops, in the order of an interface statistics entry (the four dropped
// messages, then the four reasons).
enum if_count : size_t {
    DROP_SYNC,
    DROP_FOLLOW_UP,
    DROP_DELAY_REQ,
    DROP_DELAY_RESP,
    DROP_TOO_SHORT,
    DROP_INVALID,
    DROP_WRONG_SEQ,
    DROP_WRONG_DOMAIN,
    IF_COUNTS
};

void put16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
void put32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; i++) {
        p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    }
}
void put64(uint8_t *p, uint64_t v)
{
    for (int i = 0; i < 8; i++) {
        p[i] = static_cast<uint8_t>(v >> (56 - 8 * i));
    }
}
uint16_t get16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
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
uint16_t host16(const uint8_t *p)
{
    uint16_t v = 0;
    std::memcpy(&v, p, 2);
    return v;
}
uint32_t host32(const uint8_t *p)
{
    uint32_t v = 0;
    std::memcpy(&v, p, 4);
    return v;
}

// A PTP timestamp field: 48-bit seconds, 32-bit nanoseconds.
void put_ts(uint8_t *p, uint64_t ns)
{
    const uint64_t s = ns / 1000000000u;
    put16(p, static_cast<uint16_t>(s >> 32));
    put32(p + 2, static_cast<uint32_t>(s));
    put32(p + 6, static_cast<uint32_t>(ns % 1000000000u));
}

// The interval of a log value in nanoseconds, 0 for "none"; kept within 2^-7 .. 2^7 s.
uint64_t interval_ns(int8_t log)
{
    if (log == LOG_INTERVAL_NONE) {
        return 0;
    }
    const int l = std::clamp<int>(log, -7, 7);
    return l >= 0 ? 1000000000ull << l : 1000000000ull >> -l;
}

// ---- Sessions ----------------------------------------------------------------------------------

// How a session's messages leave: Ethernet addresses and tags, or IP addresses and header fields.
struct encap_type {
    uint8_t dst_mac[6] = {};
    uint8_t src_mac[6] = {};
    uint8_t tags[8] = {}; // wire bytes, outermost first
    uint8_t tag_len = 0;
    uint8_t dst_ip[16] = {};
    uint8_t src_ip[16] = {};
    uint8_t event_dscp = 0;
    uint8_t general_dscp = 0;
    uint8_t ttl = 0;
};

struct master_type {
    uint8_t flags = 0;
    uint8_t announce[20] = {}; // Announce body from currentUtcOffset on (bytes 44..63)
    uint16_t announce_flags = 0;
    int8_t log_announce = 0;
    int8_t log_sync = 0;
    int8_t log_delay_resp = 0;
    uint8_t sync_flag0 = 0;
    uint8_t delay_resp_flag0 = 0;
};

struct slave_type {
    uint8_t flags = 0;
    uint8_t delay_req_flag0 = 0;
    int8_t log_delay_req = 0;
    // The Sync awaiting its Follow-Up.
    bool sync_pending = false;
    uint16_t sync_seq = 0;
    uint64_t t2 = 0;
    int64_t sync_correction = 0;
    // The Delay-Req awaiting its Delay-Resp.
    bool delay_req_pending = false;
    uint16_t delay_req_seq = 0;
    uint64_t t3 = 0;
};

struct conn_state_type;

struct session_type {
    conn_state_type *owner = nullptr;
    uint32_t kind = 0;
    uint32_t ifhandle = 0;
    std::vector<uint8_t> key;
    uint8_t key_kind = 0;
    uint8_t addr_type = 0;
    uint8_t peer[16] = {}; // the key's address: destination of a master, source of a master's messages
    uint64_t clock_id = 0;
    uint16_t port = 0;
    uint8_t domain = 0;
    uint8_t event_cos = 0;
    uint8_t general_cos = 0;
    encap_type encap;
    master_type m;
    slave_type s;
    uint16_t announce_seq = 0;
    uint16_t sync_seq = 0;
    uint16_t delay_req_seq = 0;
    uint64_t next_announce = UINT64_MAX;
    uint64_t next_sync = UINT64_MAX;
    uint64_t next_delay_req = UINT64_MAX;
    std::array<uint32_t, SESSION_COUNTS> counts{};
    // Its place in its connection's due order: the time it is queued at (UINT64_MAX: not queued)
    // and its creation number, which orders sessions due at the same time.
    uint64_t queued = UINT64_MAX;
    uint64_t ordinal = 0;
};

struct conn_state_type {
    spio_conn_type *conn = nullptr;
    uint32_t kind = 0;
    evm_alarm_type *alarm = nullptr;
    std::set<std::tuple<uint64_t, uint64_t, session_type *>> due; // (due time, ordinal, session)
};

struct skey_type {
    uint32_t kind;
    uint32_t ifhandle;
    std::vector<uint8_t> key;
    bool operator<(const skey_type &o) const
    {
        if (kind != o.kind) {
            return kind < o.kind;
        }
        if (ifhandle != o.ifhandle) {
            return ifhandle < o.ifhandle;
        }
        // By hand: the library's byte-wise compare trips a bogus bound warning in optimised builds.
        const size_t n = std::min(key.size(), o.key.size());
        const int c = n == 0 ? 0 : std::memcmp(key.data(), o.key.data(), n);
        return c != 0 ? c < 0 : key.size() < o.key.size();
    }
};

// The largest frame the plugin sends: an Announce in IPv6 and UDP (an Ethernet one with two tags
// is shorter).
constexpr size_t FRAME_MAX = IPV6_HDR_LEN + UDP_HDR_LEN + ANNOUNCE_LEN;
static_assert(14 + 8 + ANNOUNCE_LEN <= FRAME_MAX && ANNOUNCE_LEN >= DELAY_RESP_LEN);

// One frame to hand to the link once the lock is released; built in place, so that a firing's
// frames cost no allocation once its list has grown.
struct out_frame_type {
    uint32_t kind = 0;
    uint32_t ifhandle = 0;
    std::array<uint8_t, FRAME_MAX> bytes;
    size_t len = 0;
    // Timed as it leaves: a two-step Sync, whose Follow-Up (its message here, wrapped once the
    // Sync has left) carries that time, or a Delay-Req (its session and sequence number), whose
    // send time completes the exchange.
    bool timed = false;
    bool has_follow_up = false;
    std::array<uint8_t, FOLLOW_UP_LEN> follow_up;
    encap_type encap;
    skey_type session{};
    uint16_t seq = 0;
};

// A notification for the connection of a kind.
struct out_ntfn_type {
    uint32_t kind;
    std::vector<uint8_t> bytes;
};

struct plugin_type {
    std::mutex mu;
    std::map<skey_type, std::unique_ptr<session_type>> sessions;
    std::map<spio_conn_type *, std::unique_ptr<conn_state_type>> conns;
    std::map<std::pair<uint32_t, uint32_t>, std::array<uint32_t, IF_COUNTS>> intf_counts; // (kind, ifhandle)
    std::map<uint32_t, std::array<uint32_t, 2>> global_counts;                            // kind -> no session, invalid
    ptpclock_type *clock = nullptr;
    // Test control of the statistics answers.
    uint32_t entries_per_chunk = 0;       // 0: all in one chunk
    uint32_t chunks_per_notification = 0; // 0: all in one notification
    bool hold = false;
    std::vector<out_ntfn_type> held;
    std::deque<pktio_test_offload_sent_type> sent; // the last SENT_LOG_MAX frames
    bool log_sent = false;                         // a test's to turn on
    uint64_t sessions_made = 0;
};

plugin_type &pl()
{
    static auto *p = new plugin_type; // outlives every static user
    return *p;
}

// The node's PTP clock, opened at first use; time 0 when it cannot be had.
uint64_t ptp_now()
{
    plugin_type &p = pl();
    if (p.clock == nullptr && ptpclock_open(nullptr, &p.clock) != 0) {
        p.clock = nullptr;
        return 0;
    }
    uint64_t ns = 0;
    return ptpclock_gettime(p.clock, &ns) == 0 ? ns : 0;
}

uint64_t ptp_of_wall(int64_t wall_ns)
{
    plugin_type &p = pl();
    if (p.clock == nullptr && ptpclock_open(nullptr, &p.clock) != 0) {
        p.clock = nullptr;
        return 0;
    }
    uint64_t ns = 0;
    return ptpclock_wall_to_ptp(p.clock, wall_ns, &ns) == 0 ? ns : 0;
}

uint8_t addr_type_of_kind(uint32_t kind)
{
    switch (kind) {
    case SPIO_CONN_KIND_ETHERNET: return ADDR_ETHERNET;
    case SPIO_CONN_KIND_IPV4: return ADDR_IPV4;
    case SPIO_CONN_KIND_IPV6: return ADDR_IPV6;
    default: return 0;
    }
}

size_t addr_len(uint8_t type)
{
    return type == ADDR_ETHERNET ? 6 : type == ADDR_IPV4 ? 4 : 16;
}

// The address bytes of a key (at 2, 4 or 8 by type).
size_t key_addr_offset(uint8_t type)
{
    return type == ADDR_ETHERNET ? 2 : type == ADDR_IPV4 ? 4 : 8;
}

bool addr_is_multicast(uint8_t type, const uint8_t *a)
{
    switch (type) {
    case ADDR_ETHERNET: return (a[0] & 0x01) != 0;
    case ADDR_IPV4: return a[0] >= 224 && a[0] <= 239;
    default: return a[0] == 0xFF;
    }
}

// Reads the L2 length and the IP header fields of an IP session's encapsulation part at e (ip_len
// address bytes at each address offset); false when the record is short.
bool parse_ip_part(const uint8_t *d, size_t len, size_t at, size_t fixed, encap_type *e, bool v6)
{
    // Offsets within the part: VRF, DSCPs, TTL / hop limit, u16 L2 length.
    const size_t al = v6 ? 16 : 4;
    if (len < at + fixed) {
        return false;
    }
    const uint8_t *p = d + at;
    e->event_dscp = p[al + 4];
    e->general_dscp = p[al + 5];
    e->ttl = p[al + 6];
    const size_t l2 = host16(p + al + 8);
    return len >= at + al + 10 + l2;
}

// Fills a session from its key and data; false when either is malformed or of another kind.
bool session_parse(session_type *s, const uint8_t *key, size_t key_len, const uint8_t *d, size_t len)
{
    if (key_len < 8 || (key[0] != KEY_MASTER && key[0] != KEY_SLAVE) || key[1] != addr_type_of_kind(s->kind)) {
        return false;
    }
    s->key_kind = key[0];
    s->addr_type = key[1];
    const size_t aoff = key_addr_offset(s->addr_type);
    if (key_len < aoff + addr_len(s->addr_type)) {
        return false;
    }
    std::memcpy(s->peer, key + aoff, addr_len(s->addr_type));
    const bool v6 = s->addr_type == ADDR_IPV6;
    const size_t al = v6 ? 16 : 4;
    encap_type &e = s->encap;
    if (len < 24) {
        return false;
    }
    s->clock_id = get64(d);
    s->port = get16(d + 8);
    s->domain = d[10];
    s->event_cos = d[11];
    s->general_cos = d[12];
    if (s->key_kind == KEY_MASTER) {
        if (len < 48) {
            return false;
        }
        master_type &m = s->m;
        m.flags = d[24];
        // currentUtcOffset, reserved, priority1, class, accuracy, variance, priority2,
        // grandmaster identity, steps removed, time source: the Announce body from offset 44.
        uint8_t *a = m.announce;
        std::memcpy(a, d + 32, 2);
        a[3] = d[25];
        a[4] = d[28];
        a[5] = d[27];
        std::memcpy(a + 6, d + 34, 2);
        a[8] = d[26];
        std::memcpy(a + 9, d + 16, 8);
        std::memcpy(a + 17, d + 36, 2);
        a[19] = d[31];
        m.announce_flags = get16(d + 38);
        m.log_announce = static_cast<int8_t>(d[29]);
        m.log_sync = static_cast<int8_t>(d[30]);
        m.sync_flag0 = d[40];
        m.delay_resp_flag0 = d[42];
        m.log_delay_resp = static_cast<int8_t>(d[44]);
        std::memcpy(e.dst_mac, s->peer, s->addr_type == ADDR_ETHERNET ? 6 : 0);
        std::memcpy(e.dst_ip, s->peer, s->addr_type == ADDR_ETHERNET ? 0 : al);
        if (s->addr_type == ADDR_ETHERNET) {
            if (len < 64) {
                return false;
            }
            const uint32_t tag_bytes = host32(d + 48);
            if (tag_bytes % 4 != 0 || tag_bytes > 8 || len < 58 + tag_bytes) {
                return false;
            }
            std::memcpy(e.src_mac, d + 52, 6);
            std::memcpy(e.tags, d + 58, tag_bytes);
            e.tag_len = static_cast<uint8_t>(tag_bytes);
            return true;
        }
        std::memcpy(e.src_ip, d + 48, al);
        return parse_ip_part(d, len, 48, v6 ? 26 : 14, &e, v6) && len >= (v6 ? 80u : 64u);
    }
    slave_type &sl = s->s;
    sl.delay_req_flag0 = d[16];
    sl.flags = d[18];
    sl.log_delay_req = static_cast<int8_t>(d[19]);
    if (s->addr_type == ADDR_ETHERNET) {
        if (len < 48) {
            return false;
        }
        const uint32_t tag_bytes = host32(d + 32);
        if (tag_bytes % 4 != 0 || tag_bytes > 8 || len < 42 + tag_bytes) {
            return false;
        }
        std::memcpy(e.dst_mac, d + 24, 6);
        std::memcpy(e.src_mac, d + 36, 6);
        std::memcpy(e.tags, d + 42, tag_bytes);
        e.tag_len = static_cast<uint8_t>(tag_bytes);
        return true;
    }
    if (len < (v6 ? 72u : 48u)) {
        return false;
    }
    std::memcpy(e.dst_ip, d + 24, al);
    std::memcpy(e.src_ip, d + 24 + al, al);
    return parse_ip_part(d, len, 24 + al, v6 ? 26 : 14, &e, v6);
}

// ---- Building messages --------------------------------------------------------------------------

// The common header of a message from a session.
void header(const session_type *s, uint8_t *b, uint8_t type, size_t len, uint8_t flag0, uint16_t seq, uint8_t control,
            int8_t log)
{
    b[0] = type;
    b[1] = 2;
    put16(b + 2, static_cast<uint16_t>(len));
    b[4] = s->domain;
    b[6] = flag0;
    put64(b + 20, s->clock_id);
    put16(b + 28, s->port);
    put16(b + 30, seq);
    b[32] = control;
    b[33] = static_cast<uint8_t>(log);
}

// Wraps a PTP message for the session's encapsulation: a frame for Ethernet, an IP packet (with
// its UDP header) for IPv4 and IPv6. Event messages go to port 319 with the event DSCP.
// Into f (len at most ANNOUNCE_LEN).
void wrap(uint32_t kind, const encap_type &e, const uint8_t *msg, size_t len, bool event, out_frame_type *f)
{
    static std::atomic<uint16_t> ip_id{0};
    uint8_t *out = f->bytes.data();
    const uint16_t port = event ? PORT_EVENT : PORT_GENERAL;
    const uint8_t tos = static_cast<uint8_t>((event ? e.event_dscp : e.general_dscp) << 2);
    if (kind == SPIO_CONN_KIND_ETHERNET) {
        f->len = 14 + e.tag_len + len;
        std::memcpy(out, e.dst_mac, 6);
        std::memcpy(out + 6, e.src_mac, 6);
        std::memcpy(out + 12, e.tags, e.tag_len);
        put16(out + 12 + e.tag_len, ET_PTP);
        std::memcpy(out + 14 + e.tag_len, msg, len);
        return;
    }
    const size_t udp_len = UDP_HDR_LEN + len;
    if (kind == SPIO_CONN_KIND_IPV4) {
        f->len = IPV4_HDR_LEN + udp_len;
        std::memset(out, 0, f->len);
        uint8_t *ip = out;
        ip[0] = 0x45;
        ip[1] = tos;
        put16(ip + 2, static_cast<uint16_t>(f->len));
        put16(ip + 4, ++ip_id);
        ip[8] = e.ttl;
        ip[9] = IP_PROTO_UDP;
        std::memcpy(ip + 12, e.src_ip, 4);
        std::memcpy(ip + 16, e.dst_ip, 4);
        put16(ip + 10, ipv4_checksum(ip, IPV4_HDR_LEN));
        uint8_t *udp = ip + IPV4_HDR_LEN;
        put16(udp, port);
        put16(udp + 2, port);
        put16(udp + 4, static_cast<uint16_t>(udp_len));
        std::memcpy(udp + UDP_HDR_LEN, msg, len);
        put16(udp + 6, ipv4_ulp_checksum(IP_PROTO_UDP, ip + 12, ip + 16, udp, udp_len));
        return;
    }
    f->len = IPV6_HDR_LEN + udp_len;
    std::memset(out, 0, f->len);
    uint8_t *ip = out;
    ipv6_init_header(ip, tos, 0, static_cast<uint16_t>(udp_len), IP_PROTO_UDP, e.ttl, e.src_ip, e.dst_ip);
    uint8_t *udp = ip + IPV6_HDR_LEN;
    put16(udp, port);
    put16(udp + 2, port);
    put16(udp + 4, static_cast<uint16_t>(udp_len));
    std::memcpy(udp + UDP_HDR_LEN, msg, len);
    put16(udp + 6, ipv6_ulp_checksum_heap(IP_PROTO_UDP, e.src_ip, e.dst_ip, udp, udp_len));
}

out_frame_type &emit(session_type *s, std::vector<out_frame_type> *out, const uint8_t *msg, size_t len, bool event)
{
    out_frame_type &f = out->emplace_back();
    f.kind = s->kind;
    f.ifhandle = s->ifhandle;
    wrap(s->kind, s->encap, msg, len, event, &f);
    return f;
}

void send_announce(session_type *s, std::vector<out_frame_type> *out)
{
    uint8_t b[ANNOUNCE_LEN] = {};
    header(s, b, MSG_ANNOUNCE, ANNOUNCE_LEN, 0, s->announce_seq++, 5, s->m.log_announce);
    put16(b + 6, s->m.announce_flags);
    put_ts(b + 34, ptp_now());
    std::memcpy(b + 44, s->m.announce, 20);
    emit(s, out, b, sizeof b, false);
    s->counts[ANNOUNCE_TX]++;
}

void send_sync(session_type *s, std::vector<out_frame_type> *out)
{
    const uint16_t seq = s->sync_seq++;
    const bool two_step = (s->m.sync_flag0 & FLAG0_TWO_STEP) != 0;
    const uint64_t t1 = ptp_now();
    uint8_t b[SYNC_LEN] = {};
    header(s, b, MSG_SYNC, SYNC_LEN, s->m.sync_flag0, seq, 0, s->m.log_sync);
    if (!two_step) {
        put_ts(b + 34, t1);
    }
    out_frame_type &frame = emit(s, out, b, sizeof b, true);
    s->counts[SYNC_TX]++;
    if (two_step) {
        // The time now stands for the transmit time when the link gives none.
        frame.timed = true;
        frame.has_follow_up = true;
        frame.follow_up.fill(0);
        uint8_t *f = frame.follow_up.data();
        header(s, f, MSG_FOLLOW_UP, FOLLOW_UP_LEN, static_cast<uint8_t>(s->m.sync_flag0 & FLAG0_UNICAST), seq, 2,
               s->m.log_sync);
        put_ts(f + 34, t1);
        frame.encap = s->encap;
        s->counts[FOLLOW_UP_TX]++;
    }
}

void send_delay_req(session_type *s, std::vector<out_frame_type> *out)
{
    uint8_t b[DELAY_REQ_LEN] = {};
    const uint16_t seq = s->delay_req_seq++;
    header(s, b, MSG_DELAY_REQ, DELAY_REQ_LEN, s->s.delay_req_flag0, seq, 1, LOG_INTERVAL_NONE);
    const uint64_t t3 = ptp_now();
    put_ts(b + 34, t3);
    out_frame_type &frame = emit(s, out, b, sizeof b, true);
    frame.timed = true;
    frame.session = {s->kind, s->ifhandle, s->key};
    frame.seq = seq;
    s->counts[DELAY_REQ_TX]++;
    s->s.delay_req_pending = true;
    s->s.delay_req_seq = seq;
    s->s.t3 = t3;
}

// The session's time in its connection's due order: its earliest periodic message.
uint64_t session_due(const session_type *s)
{
    return std::min({s->next_announce, s->next_sync, s->next_delay_req});
}

void queue_remove(session_type *s)
{
    if (s->queued != UINT64_MAX) {
        s->owner->due.erase({s->queued, s->ordinal, s});
        s->queued = UINT64_MAX;
    }
}

void queue_add(session_type *s)
{
    s->queued = session_due(s);
    if (s->queued != UINT64_MAX) {
        s->owner->due.emplace(s->queued, s->ordinal, s);
    }
}

// (Re)arms the connection's alarm at the earliest due message of its sessions.
void conn_arm(conn_state_type *c)
{
    evm_alarm_set(c->alarm, c->due.empty() ? EVM_ALARM_NEVER : std::get<0>(*c->due.begin()));
}

// Next due time of a periodic message: one interval on from the last, but never a burst to
// catch up.
uint64_t next_due(uint64_t due, uint64_t interval, uint64_t now)
{
    const uint64_t n = due + interval;
    return n <= now ? now + interval : n;
}

// Keeps what was sent for the test control, bounded so that a long run does not grow.
constexpr size_t SENT_LOG_MAX = 65536;
void sent_log_one(const out_frame_type &f)
{
    if (!pl().log_sent) {
        return;
    }
    if (pl().sent.size() == SENT_LOG_MAX) {
        pl().sent.pop_front();
    }
    pl().sent.push_back({f.kind, f.ifhandle, {f.bytes.begin(), f.bytes.begin() + static_cast<std::ptrdiff_t>(f.len)}});
}

void sent_log(const std::vector<out_frame_type> &frames)
{
    if (!pl().log_sent) {
        return;
    }
    for (const auto &f : frames) {
        sent_log_one(f);
    }
}

// The send time of a slave session's Delay-Req, while its answer is awaited. Under the lock.
void set_delay_req_sent(const out_frame_type &f, uint64_t t3)
{
    auto it = pl().sessions.find(f.session);
    if (t3 != 0 && it != pl().sessions.end() && it->second->s.delay_req_pending &&
        it->second->s.delay_req_seq == f.seq) {
        it->second->s.t3 = t3;
    }
}

// Sends what was built. A timed frame takes the link's transmit time (the kernel's software
// stamp on a Linux device): into its Follow-Up, or as the send time of its Delay-Req.
void send_frames(std::vector<out_frame_type> &frames)
{
    for (auto &f : frames) {
        if (f.timed && !f.has_follow_up) {
            // The answer to a Delay-Req can come back before the send returns: its send time stands
            // as it leaves now, refined below by the link's stamp when it gives one.
            std::lock_guard<std::mutex> lock(pl().mu);
            set_delay_req_sent(f, ptp_of_wall(plat_clock_wall_ns()));
        }
        int64_t tx_wall = 0;
        (void)pktio::wire_send(f.kind, f.ifhandle, f.bytes.data(), f.len, f.timed ? &tx_wall : nullptr);
        if (!f.timed) {
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(pl().mu);
            const uint64_t tx = tx_wall != 0 ? ptp_of_wall(tx_wall) : 0;
            if (f.has_follow_up) {
                if (tx != 0) {
                    put_ts(f.follow_up.data() + 34, tx);
                }
                // The Sync has left: its frame becomes the Follow-Up's.
                wrap(f.kind, f.encap, f.follow_up.data(), f.follow_up.size(), false, &f);
                f.timed = false;
                sent_log_one(f);
            } else if (tx != 0) {
                set_delay_req_sent(f, tx);
            }
        }
        if (f.has_follow_up) {
            (void)pktio::wire_send(f.kind, f.ifhandle, f.bytes.data(), f.len);
        }
    }
}

void alarm_fired(evm_alarm_type *, void *context)
{
    auto *c = static_cast<conn_state_type *>(context);
    // The thread's list from the last firing, for its capacity (a nested firing makes its own).
    thread_local std::vector<out_frame_type> spare;
    std::vector<out_frame_type> frames = std::move(spare);
    frames.clear();
    {
        std::lock_guard<std::mutex> lock(pl().mu);
        const uint64_t now = plat_clock_mono_ns();
        auto &due = c->due;
        while (!due.empty() && std::get<0>(*due.begin()) <= now) {
            auto node = due.extract(due.begin());
            session_type *s = std::get<2>(node.value());
            if (s->next_announce <= now) {
                send_announce(s, &frames);
                s->next_announce = next_due(s->next_announce, interval_ns(s->m.log_announce), now);
            }
            if (s->next_sync <= now) {
                send_sync(s, &frames);
                s->next_sync = next_due(s->next_sync, interval_ns(s->m.log_sync), now);
            }
            if (s->next_delay_req <= now) {
                send_delay_req(s, &frames);
                s->next_delay_req = next_due(s->next_delay_req, interval_ns(s->s.log_delay_req), now);
            }
            // Each due message moved past now: the session goes back later in the order.
            s->queued = session_due(s);
            if (s->queued != UINT64_MAX) {
                std::get<0>(node.value()) = s->queued;
                due.insert(std::move(node));
            }
        }
        sent_log(frames);
        conn_arm(c);
    }
    send_frames(frames);
    frames.clear();
    spare = std::move(frames);
}

// Sets the periodic work of a session from its data: a message that starts is due now, one that
// goes on keeps its phase (a shorter interval takes effect from now).
void session_schedule(session_type *s, uint64_t now)
{
    auto sched = [now](uint64_t *due, bool on, int8_t log) {
        const uint64_t iv = interval_ns(log);
        if (!on || iv == 0) {
            *due = UINT64_MAX;
        } else if (*due == UINT64_MAX) {
            *due = now;
        } else {
            *due = std::min(*due, now + iv);
        }
    };
    const bool master = s->key_kind == KEY_MASTER;
    sched(&s->next_announce, master && (s->m.flags & MASTER_ANNOUNCE) != 0, s->m.log_announce);
    sched(&s->next_sync, master && (s->m.flags & MASTER_SYNC) != 0, s->m.log_sync);
    sched(&s->next_delay_req, !master && (s->s.flags & SLAVE_DELAY_REQ) != 0, s->s.log_delay_req);
}

// ---- Receive ------------------------------------------------------------------------------------

// A received message located in its context.
struct rx_msg_type {
    const uint8_t *ptp = nullptr;
    size_t len = 0;
    uint8_t src_type = 0;
    uint8_t src[16] = {};
};

// Finds the PTP message of a received packet of kind; false when it is not one (or not whole
// enough to say).
bool rx_locate(uint32_t kind, const uint8_t *b, size_t len, rx_msg_type *m)
{
    if (kind == SPIO_CONN_KIND_ETHERNET) {
        if (len < 14) {
            return false;
        }
        size_t off = 12;
        for (int t = 0; t < 2 && off + 4 <= len && (get16(b + off) == ET_VLAN || get16(b + off) == ET_QINQ); t++) {
            off += 4;
        }
        if (off + 2 > len || get16(b + off) != ET_PTP) {
            return false;
        }
        m->src_type = ADDR_ETHERNET;
        std::memcpy(m->src, b + 6, 6);
        m->ptp = b + off + 2;
        m->len = len - off - 2;
        return true;
    }
    if (kind == SPIO_CONN_KIND_IPV4) {
        if (len < IPV4_HDR_LEN || (b[0] >> 4) != 4 || b[9] != IP_PROTO_UDP) {
            return false;
        }
        const size_t ihl = static_cast<size_t>(b[0] & 0x0F) * 4;
        if (ihl < IPV4_HDR_LEN || len < ihl + UDP_HDR_LEN) {
            return false;
        }
        m->src_type = ADDR_IPV4;
        std::memcpy(m->src, b + 12, 4);
        m->ptp = b + ihl + UDP_HDR_LEN;
        m->len = len - ihl - UDP_HDR_LEN;
        return true;
    }
    if (kind == SPIO_CONN_KIND_IPV6) {
        if (len < IPV6_HDR_LEN + UDP_HDR_LEN || (b[0] >> 4) != 6 || b[6] != IP_PROTO_UDP) {
            return false;
        }
        m->src_type = ADDR_IPV6;
        std::memcpy(m->src, b + 8, 16);
        m->ptp = b + IPV6_HDR_LEN + UDP_HDR_LEN;
        m->len = len - IPV6_HDR_LEN - UDP_HDR_LEN;
        return true;
    }
    return false;
}

std::array<uint32_t, IF_COUNTS> &intf_counts(uint32_t kind, uint32_t ifhandle)
{
    return pl().intf_counts[{kind, ifhandle}];
}

if_count drop_of(uint8_t type)
{
    switch (type) {
    case MSG_SYNC: return DROP_SYNC;
    case MSG_FOLLOW_UP: return DROP_FOLLOW_UP;
    case MSG_DELAY_REQ: return DROP_DELAY_REQ;
    default: return DROP_DELAY_RESP;
    }
}

void drop(uint32_t kind, uint32_t ifhandle, uint8_t type, if_count reason)
{
    auto &c = intf_counts(kind, ifhandle);
    c[drop_of(type)]++;
    c[reason]++;
}

// A timestamp notification of a slave session: the master's and the local timestamp, and the
// corrections (2^-16 ns) that, added to the master's timestamp, account for the residence times
// the messages carry.
out_ntfn_type ts_notification(const session_type *s, uint8_t what, uint64_t first, uint64_t second, int64_t c1,
                              int64_t c2)
{
    out_ntfn_type n{s->kind, std::vector<uint8_t>(TS_NTFN_LEN, 0)};
    uint8_t *b = n.bytes.data();
    b[0] = NTFN_TIMESTAMPS;
    b[1] = what;
    put32(b + 4, s->ifhandle);
    std::copy(s->key.begin(), s->key.begin() + static_cast<std::ptrdiff_t>(std::min(s->key.size(), KEY_LEN_MAX)),
              b + 8);
    put_ts(b + 32, first);
    put_ts(b + 42, second);
    put64(b + 52, static_cast<uint64_t>(c1));
    put64(b + 60, static_cast<uint64_t>(c2));
    return n;
}

uint64_t ts_field(const uint8_t *p)
{
    const uint64_t sec = static_cast<uint64_t>(get16(p)) << 32 | get32(p + 2);
    return sec * 1000000000u + get32(p + 6);
}

session_type *find_session(uint32_t kind, uint32_t ifhandle, uint8_t key_kind, uint8_t addr_type, const uint8_t *addr)
{
    auto &ss = pl().sessions;
    for (auto it = ss.lower_bound({kind, ifhandle, {}});
         it != ss.end() && it->first.kind == kind && it->first.ifhandle == ifhandle; ++it) {
        session_type *s = it->second.get();
        if (s->key_kind == key_kind && s->addr_type == addr_type &&
            std::memcmp(s->peer, addr, addr_len(addr_type)) == 0) {
            return s;
        }
    }
    return nullptr;
}

// The master session that answers a Delay-Req from src: the unicast peer's, else the interface's.
session_type *find_responder(uint32_t kind, uint32_t ifhandle, const rx_msg_type &m)
{
    session_type *s = find_session(kind, ifhandle, KEY_MASTER, m.src_type, m.src);
    if (s != nullptr) {
        return s;
    }
    auto &ss = pl().sessions;
    for (auto it = ss.lower_bound({kind, ifhandle, {}});
         it != ss.end() && it->first.kind == kind && it->first.ifhandle == ifhandle; ++it) {
        session_type *c = it->second.get();
        if (c->key_kind == KEY_MASTER && addr_is_multicast(c->addr_type, c->peer)) {
            return c;
        }
    }
    return nullptr;
}

bool any_session(uint32_t kind, uint32_t ifhandle)
{
    auto it = pl().sessions.lower_bound({kind, ifhandle, {}});
    return it != pl().sessions.end() && it->first.kind == kind && it->first.ifhandle == ifhandle;
}

// Handles one received event message under the lock; true when the plugin took it.
bool rx_locked(uint32_t kind, uint32_t ifhandle, const rx_msg_type &m, uint64_t rx_ptp,
               std::vector<out_frame_type> *frames, std::vector<out_ntfn_type> *ntfns)
{
    const uint8_t type = m.ptp[0] & 0x0F;
    if (!any_session(kind, ifhandle)) {
        if (type == MSG_DELAY_REQ || type == MSG_DELAY_RESP || type == MSG_FOLLOW_UP || type == MSG_SYNC) {
            pl().global_counts[kind][0]++; // handed to the host: no session takes it
        }
        return false;
    }
    if (m.len < PTP_HDR_LEN || (m.ptp[1] & 0x0F) != 2 || get16(m.ptp + 2) > m.len) {
        pl().global_counts[kind][1]++;
        return false;
    }
    const uint8_t domain = m.ptp[4];
    const uint16_t seq = get16(m.ptp + 30);
    if (type == MSG_DELAY_REQ) {
        session_type *s = find_responder(kind, ifhandle, m);
        if (s == nullptr || (s->m.flags & MASTER_DELAY_RESP) == 0) {
            return false;
        }
        if (domain != s->domain) {
            drop(kind, ifhandle, type, DROP_WRONG_DOMAIN);
            return true;
        }
        if (m.len < DELAY_REQ_LEN) {
            drop(kind, ifhandle, type, DROP_TOO_SHORT);
            return true;
        }
        s->counts[DELAY_REQ_RX]++;
        uint8_t b[DELAY_RESP_LEN] = {};
        header(s, b, MSG_DELAY_RESP, DELAY_RESP_LEN, s->m.delay_resp_flag0, seq, 3, s->m.log_delay_resp);
        std::memcpy(b + 8, m.ptp + 8, 8); // the request's correction goes back with the answer
        put_ts(b + 34, rx_ptp);
        std::memcpy(b + 44, m.ptp + 20, 10);
        emit(s, frames, b, sizeof b, false);
        s->counts[DELAY_RESP_TX]++;
        return true;
    }
    if (type != MSG_SYNC && type != MSG_FOLLOW_UP && type != MSG_DELAY_RESP) {
        return false;
    }
    session_type *s = find_session(kind, ifhandle, KEY_SLAVE, m.src_type, m.src);
    if (s == nullptr) {
        // Another master's event messages, or messages the host wants (no session of this
        // master): the host sees them.
        pl().global_counts[kind][0]++;
        return false;
    }
    if (domain != s->domain) {
        drop(kind, ifhandle, type, DROP_WRONG_DOMAIN);
        return true;
    }
    const size_t need = type == MSG_DELAY_RESP ? DELAY_RESP_LEN : SYNC_LEN;
    if (m.len < need) {
        drop(kind, ifhandle, type, DROP_TOO_SHORT);
        return true;
    }
    const auto correction = static_cast<int64_t>(get64(m.ptp + 8));
    slave_type &sl = s->s;
    switch (type) {
    case MSG_SYNC:
        s->counts[SYNC_RX]++;
        if ((sl.flags & SLAVE_TAKE_SYNC) == 0) {
            return true;
        }
        if ((m.ptp[6] & FLAG0_TWO_STEP) != 0) {
            sl.sync_pending = true;
            sl.sync_seq = seq;
            sl.t2 = rx_ptp;
            sl.sync_correction = correction;
        } else {
            sl.sync_pending = false;
            ntfns->push_back(ts_notification(s, TS_SYNC, ts_field(m.ptp + 34), rx_ptp, correction, 0));
        }
        return true;
    case MSG_FOLLOW_UP:
        s->counts[FOLLOW_UP_RX]++;
        if ((sl.flags & SLAVE_TAKE_SYNC) == 0) {
            return true;
        }
        if (!sl.sync_pending || seq != sl.sync_seq) {
            drop(kind, ifhandle, type, DROP_WRONG_SEQ);
            return true;
        }
        sl.sync_pending = false;
        ntfns->push_back(ts_notification(s, TS_SYNC, ts_field(m.ptp + 34), sl.t2, sl.sync_correction, correction));
        return true;
    default: // Delay-Resp
        // Answers to the other slaves of a multicast master are not ours.
        if (get64(m.ptp + 44) != s->clock_id || get16(m.ptp + 52) != s->port) {
            return true;
        }
        s->counts[DELAY_RESP_RX]++;
        if (!sl.delay_req_pending || seq != sl.delay_req_seq) {
            drop(kind, ifhandle, type, DROP_WRONG_SEQ);
            return true;
        }
        sl.delay_req_pending = false;
        // The master's receive time less the correction it carries.
        ntfns->push_back(ts_notification(s, TS_DELAY_RESP, ts_field(m.ptp + 34), sl.t3, -correction, 0));
        return true;
    }
}

void deliver_ntfns(std::vector<out_ntfn_type> &ntfns)
{
    for (auto &n : ntfns) {
        ctx_packet_type *p = pktio::rx_packet_make(n.kind, 0, n.bytes.data(), n.bytes.size(), {}, false);
        if (p == nullptr) {
            continue;
        }
        p->opt[CTX_OPT_SUBTYPE] = CTX_SUBTYPE_OFFLOAD_NOTIFICATION;
        pktio::deliver(n.kind, 0, p);
    }
}

// ---- Statistics ---------------------------------------------------------------------------------

struct chunk_type {
    uint8_t kind;
    uint16_t count;
    std::vector<uint8_t> body; // entries (or the global counts)
};

std::vector<uint8_t> chunk_bytes(const chunk_type &c, bool more, bool solicited, bool partial)
{
    const size_t hdr = c.kind == CHUNK_GLOBAL      ? CHUNK_HDR_LEN
                       : c.kind == CHUNK_INTERFACE ? IF_CHUNK_HDR
                                                   : SESSION_CHUNK_HDR;
    std::vector<uint8_t> b(hdr + c.body.size(), 0);
    b[0] = NTFN_STATS;
    b[1] = c.kind;
    put32(b.data() + 4, more ? 1 : 0);
    put32(b.data() + 8, solicited ? 1 : 0);
    put32(b.data() + 12, partial ? 1 : 0);
    if (c.kind != CHUNK_GLOBAL) {
        put16(b.data() + 16, c.count);
    }
    std::copy(c.body.begin(), c.body.end(), b.begin() + static_cast<std::ptrdiff_t>(hdr));
    return b;
}

// Splits entries of one kind into chunks of at most the configured count.
void chunks_of(uint8_t kind, const std::vector<std::vector<uint8_t>> &entries, std::vector<chunk_type> *out)
{
    const size_t per = pl().entries_per_chunk == 0 ? std::max<size_t>(entries.size(), 1) : pl().entries_per_chunk;
    for (size_t i = 0; i < entries.size() || (i == 0 && entries.empty()); i += per) {
        chunk_type c{kind, 0, {}};
        for (size_t j = i; j < std::min(entries.size(), i + per); j++) {
            c.body.insert(c.body.end(), entries[j].begin(), entries[j].end());
            c.count++;
        }
        out->push_back(std::move(c));
        if (entries.empty()) {
            break;
        }
    }
}

// The answer to one request as notifications: its chunks, grouped per notification.
void stats_answer(uint32_t kind, const spio_offload_stats_request_type *req, std::vector<out_ntfn_type> *out)
{
    std::vector<chunk_type> chunks;
    if (req->kind == 0) {
        std::vector<std::vector<uint8_t>> entries;
        for (uint32_t i = 0; i < req->count; i++) {
            const auto *k = req->keys != nullptr ? static_cast<const uint8_t *>(req->keys[i]) : nullptr;
            if (k == nullptr || req->key_lens == nullptr) {
                continue;
            }
            auto it = pl().sessions.find({kind, req->ifhandles[i], std::vector<uint8_t>(k, k + req->key_lens[i])});
            if (it == pl().sessions.end()) {
                continue;
            }
            const session_type *s = it->second.get();
            std::vector<uint8_t> e(SESSION_ENTRY_LEN, 0);
            std::copy(s->key.begin(),
                      s->key.begin() + static_cast<std::ptrdiff_t>(std::min(s->key.size(), KEY_LEN_MAX)), e.begin());
            put32(e.data() + 24, s->ifhandle);
            for (size_t c = 0; c < SESSION_COUNTS; c++) {
                put32(e.data() + 28 + 4 * c, s->counts[c]);
            }
            entries.push_back(std::move(e));
        }
        chunks_of(CHUNK_SESSION, entries, &chunks);
    } else {
        std::vector<std::vector<uint8_t>> entries;
        for (uint32_t i = 0; i < req->count; i++) {
            std::vector<uint8_t> e(IF_ENTRY_LEN, 0);
            put32(e.data(), req->ifhandles[i]);
            auto it = pl().intf_counts.find({kind, req->ifhandles[i]});
            if (it != pl().intf_counts.end()) {
                const auto &c = it->second;
                for (size_t d = DROP_SYNC; d <= DROP_DELAY_RESP; d++) {
                    put32(e.data() + 4 + 4 * d, c[d]);
                }
                put32(e.data() + 28, c[DROP_TOO_SHORT]);
                put32(e.data() + 32, c[DROP_INVALID]);
                put32(e.data() + 36, c[DROP_WRONG_SEQ]);
                put32(e.data() + 40, c[DROP_WRONG_DOMAIN]);
            }
            entries.push_back(std::move(e));
        }
        chunks_of(CHUNK_INTERFACE, entries, &chunks);
        chunk_type g{CHUNK_GLOBAL, 0, std::vector<uint8_t>(8, 0)};
        const auto &gc = pl().global_counts[kind];
        put32(g.body.data(), gc[0]);
        put32(g.body.data() + 4, gc[1]);
        chunks.push_back(std::move(g));
    }
    const size_t per = pl().chunks_per_notification == 0 ? chunks.size() : pl().chunks_per_notification;
    for (size_t i = 0; i < chunks.size(); i += per) {
        out_ntfn_type n{kind, {}};
        const size_t end = std::min(chunks.size(), i + per);
        for (size_t j = i; j < end; j++) {
            auto b = chunk_bytes(chunks[j], j + 1 < end, req->solicited != 0, j + 1 < chunks.size());
            n.bytes.insert(n.bytes.end(), b.begin(), b.end());
        }
        out->push_back(std::move(n));
    }
}

void stats_reset(uint32_t kind, const spio_offload_stats_request_type *req)
{
    for (uint32_t i = 0; i < req->count; i++) {
        if (req->kind == 0) {
            const auto *k = req->keys != nullptr ? static_cast<const uint8_t *>(req->keys[i]) : nullptr;
            if (k == nullptr || req->key_lens == nullptr) {
                continue;
            }
            auto it = pl().sessions.find({kind, req->ifhandles[i], std::vector<uint8_t>(k, k + req->key_lens[i])});
            if (it != pl().sessions.end()) {
                it->second->counts = {};
            }
        } else {
            pl().intf_counts.erase({kind, req->ifhandles[i]});
        }
    }
    if (req->kind == 1) {
        pl().global_counts.erase(kind);
    }
}

} // namespace

namespace pktio {

zerrno offload_session_set(spio_conn_type *conn, event_mgr_type *evm, uint32_t kind, uint32_t ifhandle,
                           const uint8_t *key, size_t key_len, const uint8_t *data, size_t data_len)
{
    auto s = std::make_unique<session_type>();
    s->kind = kind;
    s->ifhandle = ifhandle;
    s->key.assign(key, key + key_len);
    if (!session_parse(s.get(), key, key_len, data, data_len)) {
        return PKTIO_ERR_INVALID;
    }
    std::lock_guard<std::mutex> lock(pl().mu);
    auto &cs = pl().conns[conn];
    if (cs == nullptr) {
        cs = std::make_unique<conn_state_type>();
        cs->conn = conn;
        cs->kind = kind;
        cs->alarm = evm_alarm_new(evm, alarm_fired, cs.get());
        if (cs->alarm == nullptr) {
            pl().conns.erase(conn);
            return PKTIO_ERR_NO_MEMORY;
        }
    }
    s->owner = cs.get();
    auto &slot = pl().sessions[{kind, ifhandle, s->key}];
    s->ordinal = pl().sessions_made++;
    if (slot != nullptr) {
        // An update keeps the sequence numbers, the phase and the counts of the session.
        session_type *old = slot.get();
        s->announce_seq = old->announce_seq;
        s->sync_seq = old->sync_seq;
        s->delay_req_seq = old->delay_req_seq;
        s->next_announce = old->next_announce;
        s->next_sync = old->next_sync;
        s->next_delay_req = old->next_delay_req;
        s->counts = old->counts;
        s->s.sync_pending = old->s.sync_pending;
        s->s.sync_seq = old->s.sync_seq;
        s->s.t2 = old->s.t2;
        s->s.sync_correction = old->s.sync_correction;
        s->s.delay_req_pending = old->s.delay_req_pending;
        s->s.t3 = old->s.t3;
        s->ordinal = old->ordinal;
        queue_remove(old);
        if (old->owner != s->owner) {
            conn_arm(old->owner);
        }
    }
    session_schedule(s.get(), plat_clock_mono_ns());
    queue_add(s.get());
    slot = std::move(s);
    conn_arm(cs.get());
    return 0;
}

bool offload_session_delete(uint32_t kind, uint32_t ifhandle, const uint8_t *key, size_t key_len)
{
    std::lock_guard<std::mutex> lock(pl().mu);
    auto it = pl().sessions.find({kind, ifhandle, std::vector<uint8_t>(key, key + key_len)});
    if (it == pl().sessions.end()) {
        return false;
    }
    conn_state_type *c = it->second->owner;
    queue_remove(it->second.get());
    pl().sessions.erase(it);
    conn_arm(c);
    return true;
}

void offload_intf_detached(uint32_t kind, uint32_t ifhandle)
{
    std::lock_guard<std::mutex> lock(pl().mu);
    for (auto s = pl().sessions.begin(); s != pl().sessions.end();) {
        if (s->second->kind == kind && s->second->ifhandle == ifhandle) {
            conn_state_type *owner = s->second->owner;
            queue_remove(s->second.get());
            s = pl().sessions.erase(s);
            conn_arm(owner);
        } else {
            s = std::next(s);
        }
    }
}

void offload_conn_closed(spio_conn_type *conn)
{
    std::lock_guard<std::mutex> lock(pl().mu);
    auto it = pl().conns.find(conn);
    if (it == pl().conns.end()) {
        return;
    }
    for (auto s = pl().sessions.begin(); s != pl().sessions.end();) {
        s = s->second->owner == it->second.get() ? pl().sessions.erase(s) : std::next(s);
    }
    evm_alarm_free(it->second->alarm);
    pl().conns.erase(it);
}

bool offload_rx(uint32_t kind, uint32_t ifhandle, ctx_packet_type *packet)
{
    rx_msg_type m;
    const size_t len = std::min(packet->used, packet->data.size());
    if (!rx_locate(kind, packet->data.data(), len, &m) || m.len < 1) {
        return false;
    }
    const uint8_t type = m.ptp[0] & 0x0F;
    if (type != MSG_SYNC && type != MSG_DELAY_REQ && type != MSG_FOLLOW_UP && type != MSG_DELAY_RESP) {
        return false;
    }
    int64_t wall = plat_clock_wall_ns();
    if (packet->has_timestamp && packet->timestamp.size() == CTX_TIMESTAMP_LEN) {
        wall = static_cast<int64_t>(ts_field(packet->timestamp.data()));
    }
    std::vector<out_frame_type> frames;
    std::vector<out_ntfn_type> ntfns;
    bool taken = false;
    {
        std::lock_guard<std::mutex> lock(pl().mu);
        if (pl().sessions.empty()) {
            return false;
        }
        const uint64_t rx_ptp = ptp_of_wall(wall);
        taken = rx_locked(kind, ifhandle, m, rx_ptp, &frames, &ntfns);
        sent_log(frames);
    }
    if (taken) {
        delete packet;
    }
    send_frames(frames);
    deliver_ntfns(ntfns);
    return taken;
}

void offload_stats(uint32_t kind, const spio_offload_stats_request_type *request, bool reset)
{
    std::vector<out_ntfn_type> ntfns;
    {
        std::lock_guard<std::mutex> lock(pl().mu);
        if (reset) {
            stats_reset(kind, request);
            return;
        }
        stats_answer(kind, request, &ntfns);
        if (pl().hold) {
            pl().held.insert(pl().held.end(), ntfns.begin(), ntfns.end());
            return;
        }
    }
    deliver_ntfns(ntfns);
}

void offload_reset()
{
    std::lock_guard<std::mutex> lock(pl().mu);
    for (auto &[c, cs] : pl().conns) {
        evm_alarm_free(cs->alarm);
    }
    pl().conns.clear();
    pl().sessions.clear();
    pl().intf_counts.clear();
    pl().global_counts.clear();
    pl().entries_per_chunk = 0;
    pl().chunks_per_notification = 0;
    pl().hold = false;
    pl().held.clear();
    pl().sent.clear();
    pl().log_sent = false;
}

} // namespace pktio

// ---- Test control ---------------------------------------------------------------------------------

std::vector<pktio_test_offload_sent_type> pktio_test_offload_sent()
{
    std::lock_guard<std::mutex> lock(pl().mu);
    return {pl().sent.begin(), pl().sent.end()};
}

void pktio_test_offload_sent_clear()
{
    std::lock_guard<std::mutex> lock(pl().mu);
    pl().sent.clear();
}

void pktio_test_offload_log(bool on)
{
    std::lock_guard<std::mutex> lock(pl().mu);
    pl().log_sent = on;
    pl().sent.clear();
}

void pktio_test_offload_stats_split(uint32_t entries_per_chunk, uint32_t chunks_per_notification)
{
    std::lock_guard<std::mutex> lock(pl().mu);
    pl().entries_per_chunk = entries_per_chunk;
    pl().chunks_per_notification = chunks_per_notification;
}

void pktio_test_offload_stats_hold(bool hold)
{
    std::lock_guard<std::mutex> lock(pl().mu);
    pl().hold = hold;
}

size_t pktio_test_offload_stats_release(size_t count)
{
    std::vector<out_ntfn_type> ntfns;
    {
        std::lock_guard<std::mutex> lock(pl().mu);
        auto &h = pl().held;
        const size_t n = std::min(count, h.size());
        ntfns.assign(h.begin(), h.begin() + static_cast<std::ptrdiff_t>(n));
        h.erase(h.begin(), h.begin() + static_cast<std::ptrdiff_t>(n));
    }
    deliver_ntfns(ntfns);
    return ntfns.size();
}

size_t pktio_test_offload_stats_drop_held()
{
    std::lock_guard<std::mutex> lock(pl().mu);
    const size_t n = pl().held.size();
    pl().held.clear();
    return n;
}
