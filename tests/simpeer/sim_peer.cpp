// The simulated grandmaster and slave (see sim_peer.h). Messages are built field by field on the
// common header's layout and read back with the header, Announce and Signaling codecs of the state
// machine, so the endpoints and the agent agree on the wire by construction. What carries a
// message (Ethernet, or UDP/IPv4) is one table row per transport.
#include "sim_peer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "ctx.h"
#include "evm_alarm.h"
#include "ip_helpers.h"
#include "plat_clock.h"
#include "ptp_clock.h"
#include "ptp_strings.h"
#include "ptp_types.h"
#include "ptp_wire.h"
#include "spio.h"
#include "tessel_fsm_announce.h"
#include "tessel_fsm_msg_hdr.h"
#include "tessel_fsm_signaling.h"
#include "tessel_fsm_unicast.h"
#include "tessel_packet.h"

namespace simpeer {

namespace {

constexpr size_t ETH_HDR = 14;
constexpr size_t UDP_IPV4_HDR = IPV4_HDR_LEN + UDP_HDR_LEN;
constexpr size_t TIMESTAMP_LEN = 10;
// Message lengths (header included) of the event and general messages used here.
constexpr size_t SYNC_LEN = 44; // also Follow-Up and Delay-Req
constexpr size_t DELAY_RESP_LEN = 54;
constexpr size_t ANNOUNCE_LEN = PTP_ANNOUNCE_MIN_LEN;
// A Signaling message of ours: at most one TLV per kind of grant.
constexpr size_t SIGNALING_MAX_LEN = PTP_SIGNALING_HDR_LEN + 3 * PTP_TLV_GRANT_LEN;
constexpr size_t MSG_MAX_LEN = std::max(SIGNALING_MAX_LEN, ANNOUNCE_LEN);
constexpr uint16_t PORT_NUMBER = 1;
constexpr uint16_t FLAG_TWO_STEP = 0x0200;
constexpr int8_t LOG_INTERVAL_NONE = 0x7F;
constexpr uint8_t CONTROL_OTHER = 5;         // Announce, Signaling
constexpr uint32_t COMPARE_MODE_DEFAULT = 0; // the default profile's data-set comparison
constexpr uint8_t IPV4_TTL = 64;
constexpr uint8_t DSCP_EF = 46;
// The slave asks again for what it lacks (refused, lapsed or due for renewal) this often.
constexpr uint64_t QUERY_NS = 1000000000;

enum class role_type {
    GRANDMASTER,
    SLAVE
};

struct master_type {
    ptp_clock_type clock{};
    ptp_port_id_type port{};
    int8_t log_announce = 0;
    uint64_t last_announce_ns = 0; // monotonic
};

// The three kinds of grant, by index: what is granted, and its name in reports.
constexpr uint8_t GRANT_KINDS[] = {PTP_MSG_ANNOUNCE, PTP_MSG_SYNC, PTP_MSG_DELAY_RESP};
constexpr size_t KIND_ANNOUNCE = 0, KIND_SYNC = 1, KIND_DELAY_RESP = 2, KIND_COUNT = 3;

// One kind of grant between this end and a peer. Times are monotonic.
struct held_grant_type {
    bool held = false;
    bool refused = false; // the last answer was a denial (reported once)
    int8_t log_interval = 0;
    uint32_t duration_s = 0;
    uint64_t expires_ns = 0;
    uint64_t next_ns = 0; // grandmaster: the next message due; slave: when to renew
    uint16_t seq = 0;     // grandmaster: the sequence of this kind's messages to the peer
};

struct unicast_peer_type {
    ptp_port_id_type port{}; // the peer's port, as its last Signaling gave it
    std::array<held_grant_type, KIND_COUNT> grants{};
};

struct transport_ops_type;

} // namespace

struct endpoint_type {
    role_type role = role_type::GRANDMASTER;
    event_mgr_type *evm = nullptr;
    spio_conn_type *conn = nullptr;
    ctx_api_type *api = nullptr;
    const transport_ops_type *transport = nullptr;
    uint32_t ifhandle = 0;
    std::array<uint8_t, 6> mac{};
    ipv4_type ipv4{};
    report_fn report;
    counts_type counts;
    uint64_t clock_id = 0;
    uint8_t domain = 0;
    int64_t clock_offset_ns = 0;
    uint16_t signaling_seq = 0;

    // Grandmaster
    gm_config_type gm;
    evm_alarm_type *announce_alarm = nullptr;
    evm_alarm_type *sync_alarm = nullptr;
    evm_alarm_type *grants_alarm = nullptr; // UDP/IPv4: the granted streams and their expiry
    uint16_t announce_seq = 0;
    uint16_t sync_seq = 0;
    std::map<ipv4_type, unicast_peer_type> slaves; // UDP/IPv4: by address

    // Slave
    slave_config_type slave;
    evm_alarm_type *timeout_alarm = nullptr;
    evm_alarm_type *query_alarm = nullptr; // UDP/IPv4: asks for grants and renews them
    unicast_peer_type from_master;         // UDP/IPv4: the grants its master gave
    bool has_master = false;
    master_type master;
    bool sync_pending = false; // a Sync of the master awaits its Follow-Up
    uint16_t sync_seq_seen = 0;
    int64_t t2 = 0; // Sync received, our clock
    int64_t t1 = 0; // Sync sent, master's clock, with the corrections
    bool delay_pending = false;
    uint16_t delay_seq = 0;
    int64_t t3 = 0;                 // Delay-Req sent, our clock
    uint64_t delay_req_sent_ns = 0; // monotonic
    slave_status_type status;
    uint64_t last_followed_mono_ns = 0; // the stream it follows (counts_type)
};

namespace {

// Packet I/O gives an interface to one connection of a kind, and several UDP/IPv4 endpoints may
// share an interface (each at an address of its own): the endpoints of one event manager and
// transport share one connection, and a received frame goes to the endpoint of its interface and,
// over UDP/IPv4, of its destination address. Endpoints on several threads of a process register
// here, hence the lock.
struct shared_conn_type {
    spio_conn_type *conn = nullptr;
    ctx_api_type *api = nullptr;
    size_t users = 0;
    std::map<uint32_t, size_t> attached; // interface: its endpoints
};

using endpoint_key_type = std::pair<uint32_t, uint32_t>; // interface, IPv4 address (0 over Ethernet)

struct registry_type {
    std::mutex mu;
    std::map<std::pair<event_mgr_type *, uint32_t>, shared_conn_type> conns; // by manager and kind
    std::map<endpoint_key_type, endpoint_type *> endpoints;
};

registry_type &registry()
{
    static registry_type r;
    return r;
}

uint32_t ipv4_key(const uint8_t *a)
{
    return ptp_wire_get32(a);
}

int64_t now_ns(const endpoint_type *e)
{
    return plat_clock_wall_ns() + e->clock_offset_ns;
}

uint64_t interval_ns(int8_t log_interval)
{
    return static_cast<uint64_t>(std::ldexp(1e9, std::clamp<int8_t>(log_interval, -7, 7)));
}

void put_timestamp(uint8_t *p, int64_t ns)
{
    const int64_t s = ns >= 0 ? ns / 1000000000 : 0;
    ptp_wire_put48(p, static_cast<uint64_t>(s));
    ptp_wire_put32(p + 6, static_cast<uint32_t>(ns >= 0 ? ns % 1000000000 : 0));
}

int64_t get_timestamp(const uint8_t *p)
{
    return static_cast<int64_t>(ptp_wire_get48(p)) * 1000000000 + ptp_wire_get32(p + 6);
}

bool unicast(const endpoint_type *e)
{
    return (e->role == role_type::GRANDMASTER ? e->gm.transport : e->slave.transport) == transport_type::UDP_IPV4;
}

std::string ipv4_text(const ipv4_type &a)
{
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." + std::to_string(a[3]);
}

// The common header of a message of ours; unicast messages carry the unicast flag.
void put_header(const endpoint_type *e, uint8_t *m, uint8_t type, size_t len, uint16_t flags, uint16_t seq,
                uint8_t control, int8_t log_interval)
{
    m[PTP_HDR_OFF_TYPE] = type;
    m[PTP_HDR_OFF_VERSION] = PTP_VERSION;
    ptp_wire_put16(m + PTP_HDR_OFF_LENGTH, static_cast<uint16_t>(len));
    m[PTP_HDR_OFF_DOMAIN] = e->domain;
    ptp_wire_put16(m + PTP_HDR_OFF_FLAGS, static_cast<uint16_t>(flags | (unicast(e) ? PTP_FLAG_UNICAST : 0)));
    ptp_wire_put64(m + PTP_HDR_OFF_SOURCE_CLOCK, e->clock_id);
    ptp_wire_put16(m + PTP_HDR_OFF_SOURCE_PORT, PORT_NUMBER);
    ptp_wire_put16(m + PTP_HDR_OFF_SEQUENCE, seq);
    m[PTP_HDR_OFF_CONTROL] = control;
    m[PTP_HDR_OFF_LOG_INTERVAL] = static_cast<uint8_t>(log_interval);
}

// ---- Transports ----

// A received PTP message inside a frame, and who sent it (UDP/IPv4).
struct rx_view_type {
    const uint8_t *msg = nullptr;
    size_t len = 0;
    ipv4_type from{};
};

// One row per transport: the connection kind, the headers in front of a message, how to write
// them (after the message is in place: UDP's checksum covers it) and how to find the message in
// a received frame, every length checked against the bytes there.
struct transport_ops_type {
    uint32_t conn_kind;
    size_t header_len;
    void (*put_headers)(const endpoint_type *e, uint8_t *frame, size_t msg_len, bool event, const ipv4_type &to);
    bool (*take_headers)(const endpoint_type *e, const uint8_t *frame, size_t len, rx_view_type *out);
};

void ethernet_put(const endpoint_type *e, uint8_t *f, size_t, bool, const ipv4_type &)
{
    std::memcpy(f, TESSEL_PACKET_ETH_DEST_MAC, 6);
    std::memcpy(f + 6, e->mac.data(), 6);
    ptp_wire_put16(f + 12, TESSEL_PACKET_ETHERTYPE);
}

bool ethernet_take(const endpoint_type *, const uint8_t *f, size_t n, rx_view_type *out)
{
    if (n < ETH_HDR || ptp_wire_get16(f + 12) != TESSEL_PACKET_ETHERTYPE) {
        return false;
    }
    out->msg = f + ETH_HDR;
    out->len = n - ETH_HDR;
    return true;
}

// The UDP checksum of a datagram of len bytes at udp, its own checksum field taken as zero.
uint16_t udp_checksum(const uint8_t *src, const uint8_t *dst, const uint8_t *udp, size_t len)
{
    std::vector<uint8_t> copy(udp, udp + len);
    copy[6] = copy[7] = 0;
    return ipv4_ulp_checksum(IP_PROTO_UDP, src, dst, copy.data(), len);
}

void ipv4_put(const endpoint_type *e, uint8_t *f, size_t msg_len, bool event, const ipv4_type &to)
{
    uint8_t *ip = f;
    ip[0] = 0x45; // version 4, a header of 5 words
    ip[1] = DSCP_EF << 2;
    ptp_wire_put16(ip + 2, static_cast<uint16_t>(UDP_IPV4_HDR + msg_len));
    ptp_wire_put16(ip + 6, 0x4000); // don't fragment
    ip[8] = IPV4_TTL;
    ip[9] = IP_PROTO_UDP;
    std::memcpy(ip + 12, e->ipv4.data(), 4);
    std::memcpy(ip + 16, to.data(), 4);
    ptp_wire_put16(ip + 10, ipv4_checksum(ip, IPV4_HDR_LEN));
    uint8_t *udp = f + IPV4_HDR_LEN;
    const uint16_t port = event ? TESSEL_PACKET_EVENT_PORT : TESSEL_PACKET_GENERAL_PORT;
    ptp_wire_put16(udp, port);
    ptp_wire_put16(udp + 2, port);
    ptp_wire_put16(udp + 4, static_cast<uint16_t>(UDP_HDR_LEN + msg_len));
    ptp_wire_put16(udp + 6, udp_checksum(ip + 12, ip + 16, udp, UDP_HDR_LEN + msg_len));
}

// An IPv4 UDP datagram to this end's address on a PTP port, its header checksum right and its
// UDP checksum right where there is one.
bool ipv4_take(const endpoint_type *e, const uint8_t *f, size_t n, rx_view_type *out)
{
    if (n < UDP_IPV4_HDR || f[0] >> 4 != 4) {
        return false;
    }
    const size_t ihl = static_cast<size_t>(f[0] & 0x0F) * 4;
    const size_t total = ptp_wire_get16(f + 2);
    if (ihl < IPV4_HDR_LEN || total > n || total < ihl + UDP_HDR_LEN || f[9] != IP_PROTO_UDP ||
        std::memcmp(f + 16, e->ipv4.data(), 4) != 0 || ipv4_checksum(f, ihl) != 0) {
        return false; // a header summed with its own checksum gives 0
    }
    const uint8_t *udp = f + ihl;
    const uint16_t port = ptp_wire_get16(udp + 2);
    const size_t udp_len = ptp_wire_get16(udp + 4);
    if ((port != TESSEL_PACKET_EVENT_PORT && port != TESSEL_PACKET_GENERAL_PORT) || udp_len < UDP_HDR_LEN ||
        udp_len > total - ihl) {
        return false;
    }
    const uint16_t sum = ptp_wire_get16(udp + 6);
    if (sum != 0 && sum != udp_checksum(f + 12, f + 16, udp, udp_len)) {
        return false;
    }
    out->msg = udp + UDP_HDR_LEN;
    out->len = udp_len - UDP_HDR_LEN;
    std::memcpy(out->from.data(), f + 12, 4);
    return true;
}

constexpr transport_ops_type ETHERNET_OPS{SPIO_CONN_KIND_ETHERNET, ETH_HDR, ethernet_put, ethernet_take};
constexpr transport_ops_type UDP_IPV4_OPS{SPIO_CONN_KIND_IPV4, UDP_IPV4_HDR, ipv4_put, ipv4_take};

bool is_event(const uint8_t *msg)
{
    const uint8_t type = msg[PTP_HDR_OFF_TYPE] & 0x0F;
    return type == PTP_MSG_SYNC || type == PTP_MSG_DELAY_REQ;
}

// Sends one PTP message (len bytes at msg): to the PTP multicast address over Ethernet, to `to`
// over UDP/IPv4. With sent_ns, the time it leaves is read as late as can be, just before the
// send, as a software transmit stamp would be.
void send_msg(endpoint_type *e, const uint8_t *msg, size_t len, const ipv4_type &to = {}, int64_t *sent_ns = nullptr)
{
    const transport_ops_type &t = *e->transport;
    std::array<uint8_t, UDP_IPV4_HDR + MSG_MAX_LEN> f{};
    if (len > MSG_MAX_LEN) {
        return;
    }
    std::memcpy(&f[t.header_len], msg, len);
    t.put_headers(e, f.data(), len, is_event(msg), to);
    const size_t total = t.header_len + len;
    ctx_packet_type *p = ctx_alloc(e->api, total);
    if (p == nullptr) {
        return;
    }
    size_t n = 0;
    ctx_write(p, CTX_LAYER_FRAME, 0, f.data(), total, &n);
    ctx_set_u32(p, CTX_OPT_OUT_IFHANDLE, e->ifhandle);
    ctx_set_u32(p, CTX_OPT_CURRENT_LENGTH, static_cast<uint32_t>(total));
    if (t.conn_kind != SPIO_CONN_KIND_ETHERNET) {
        ctx_set_i16(p, CTX_OPT_APP_START, static_cast<int16_t>(t.header_len));
    }
    if (sent_ns != nullptr) {
        *sent_ns = now_ns(e);
    }
    if (spio_pd_intf_send(e->conn, 1, &p, 1, 1) == 0) {
        e->counts.sent++;
    }
}

std::string hex_id(uint64_t id)
{
    char b[24];
    std::snprintf(b, sizeof b, "0x%016llx", static_cast<unsigned long long>(id));
    return b;
}

// ---- Signaling ----

int kind_of(uint8_t message_type)
{
    for (size_t k = 0; k < KIND_COUNT; ++k) {
        if (GRANT_KINDS[k] == message_type) {
            return static_cast<int>(k);
        }
    }
    return -1;
}

std::string grant_text(uint8_t message_type, int8_t log_interval, uint32_t duration_s)
{
    return std::string(ptp_msg_type_to_str(message_type)) + " every 2^" + std::to_string(log_interval) + " s for " +
           std::to_string(duration_s) + " s";
}

// The TLVs of one Signaling message to a peer; a message that is full is sent and another begun.
struct signaling_out_type {
    endpoint_type *e;
    ipv4_type to;
    ptp_port_id_type target; // all ones: every port
    bool has_target;
    std::array<uint8_t, SIGNALING_MAX_LEN - PTP_SIGNALING_HDR_LEN> tlvs{};
    size_t used = 0;

    void flush()
    {
        if (used == 0) {
            return;
        }
        std::array<uint8_t, SIGNALING_MAX_LEN> m{};
        const size_t len = PTP_SIGNALING_HDR_LEN + used;
        put_header(e, m.data(), PTP_MSG_SIGNALING, len, 0, e->signaling_seq++, CONTROL_OTHER, LOG_INTERVAL_NONE);
        ptp_signaling_target_encode(m.data(), has_target ? &target : nullptr);
        std::memcpy(&m[PTP_SIGNALING_HDR_LEN], tlvs.data(), used);
        send_msg(e, m.data(), len, to);
        used = 0;
    }
    template <typename Encode>
    void add(size_t need, Encode encode)
    {
        if (used + need > tlvs.size()) {
            flush();
        }
        used += encode(&tlvs[used], tlvs.size() - used);
    }
    void request(uint8_t type, int8_t log_interval, uint32_t duration)
    {
        add(PTP_TLV_REQUEST_LEN, [&](uint8_t *out, size_t space) {
            return ptp_unicast_request_tlv_encode({type, log_interval, duration}, out, space);
        });
    }
    void grant(uint8_t type, int8_t log_interval, uint32_t duration)
    {
        const uint8_t flags = duration != 0 ? PTP_GRANT_FLAG_RENEWAL_INVITED : 0;
        add(PTP_TLV_GRANT_LEN, [&](uint8_t *out, size_t space) {
            return ptp_unicast_grant_tlv_encode({type, log_interval, duration, flags}, out, space);
        });
    }
    void cancel(uint16_t tlv_type, uint8_t type)
    {
        add(PTP_TLV_CANCEL_LEN,
            [&](uint8_t *out, size_t space) { return ptp_unicast_cancel_tlv_encode(tlv_type, {type}, out, space); });
    }
};

// Cancels every grant held with a peer (the end is stopping).
void cancel_all(endpoint_type *e, const ipv4_type &to, const unicast_peer_type &peer)
{
    signaling_out_type out{e, to, peer.port, e->role == role_type::GRANDMASTER};
    for (size_t k = 0; k < KIND_COUNT; ++k) {
        if (peer.grants[k].held) {
            out.cancel(PTP_MSG_TLV_CANCEL_UNICAST, GRANT_KINDS[k]);
        }
    }
    out.flush();
}

void gm_grants_schedule(endpoint_type *e);
void slave_query(evm_alarm_type *alarm, void *ctx);

// The grandmaster: a Request is granted as asked (its duration at most the longest we grant), a
// kind we do not stream is refused; a Cancel ends the grant and is acknowledged.
void gm_tlv(endpoint_type *e, uint16_t tlv_type, const uint8_t *tlv, size_t len, unicast_peer_type &peer,
            const ipv4_type &from, signaling_out_type &out)
{
    const uint64_t now = plat_clock_mono_ns();
    if (tlv_type == PTP_MSG_TLV_REQUEST_UNICAST) {
        ptp_unicast_request_tlv_type req{};
        if (!ptp_unicast_request_tlv_decode(tlv, len, &req)) {
            return;
        }
        const int k = kind_of(req.message_type);
        if (k < 0 || req.duration == 0) {
            e->report("grandmaster: denied " + std::string(ptp_msg_type_to_str(req.message_type)) + " to " +
                      ipv4_text(from));
            out.grant(req.message_type, req.log_interval, 0);
            return;
        }
        held_grant_type &g = peer.grants[static_cast<size_t>(k)];
        const uint32_t duration = std::min(req.duration, e->gm.max_grant_duration_s);
        if (!g.held || g.log_interval != req.log_interval || g.duration_s != duration) {
            e->report("grandmaster: granted " + grant_text(req.message_type, req.log_interval, duration) + " to " +
                      ipv4_text(from));
        }
        if (!g.held || g.log_interval != req.log_interval) {
            g.next_ns = now; // a new stream starts at once
        }
        g.held = true;
        g.log_interval = req.log_interval;
        g.duration_s = duration;
        g.expires_ns = now + uint64_t{duration} * 1000000000u;
        out.grant(req.message_type, req.log_interval, duration);
    } else if (tlv_type == PTP_MSG_TLV_CANCEL_UNICAST) {
        ptp_unicast_cancel_tlv_type c{};
        if (!ptp_unicast_cancel_tlv_decode(tlv, len, &c)) {
            return;
        }
        if (const int k = kind_of(c.message_type); k >= 0 && peer.grants[static_cast<size_t>(k)].held) {
            peer.grants[static_cast<size_t>(k)].held = false;
            e->report("grandmaster: " + std::string(ptp_msg_type_to_str(c.message_type)) + " to " + ipv4_text(from) +
                      " cancelled by the slave");
        }
        out.cancel(PTP_MSG_TLV_ACK_CANCEL_UNICAST, c.message_type);
    }
}

// The slave: a Grant from its master starts (or renews) a stream, a denial is asked again at the
// next query; a Cancel ends the grant and is acknowledged.
void slave_tlv(endpoint_type *e, uint16_t tlv_type, const uint8_t *tlv, size_t len, signaling_out_type &out)
{
    const uint64_t now = plat_clock_mono_ns();
    const std::string master = ipv4_text(e->slave.master_ipv4);
    if (tlv_type == PTP_MSG_TLV_GRANT_UNICAST) {
        ptp_unicast_grant_tlv_type grant{};
        const int k = ptp_unicast_grant_tlv_decode(tlv, len, &grant) ? kind_of(grant.message_type) : -1;
        if (k < 0) {
            return;
        }
        held_grant_type &g = e->from_master.grants[static_cast<size_t>(k)];
        const char *name = ptp_msg_type_to_str(grant.message_type);
        if (grant.duration == 0) {
            if (!g.refused) {
                e->report(std::string("slave: ") + name + " denied by " + master + ", asking again every " +
                          std::to_string(QUERY_NS / 1000000000) + " s");
            }
            g.refused = true;
            g.held = false;
            return;
        }
        if (!g.held || g.log_interval != grant.log_interval || g.duration_s != grant.duration) {
            e->report("slave: granted " + grant_text(grant.message_type, grant.log_interval, grant.duration) + " by " +
                      master);
        }
        const bool first_announce = k == static_cast<int>(KIND_ANNOUNCE) && !g.held;
        g.held = true;
        g.refused = false;
        g.log_interval = grant.log_interval;
        g.duration_s = grant.duration;
        g.expires_ns = now + uint64_t{grant.duration} * 1000000000u;
        g.next_ns = now + uint64_t{ptp_fsm_unicast_renewal_time(grant.duration)} * 1000000000u;
        if (first_announce) {
            evm_alarm_set(e->query_alarm, now); // now for Sync and Delay-Resp
        }
    } else if (tlv_type == PTP_MSG_TLV_CANCEL_UNICAST) {
        ptp_unicast_cancel_tlv_type c{};
        if (!ptp_unicast_cancel_tlv_decode(tlv, len, &c)) {
            return;
        }
        if (const int k = kind_of(c.message_type); k >= 0 && e->from_master.grants[static_cast<size_t>(k)].held) {
            e->from_master.grants[static_cast<size_t>(k)].held = false;
            e->report(std::string("slave: ") + ptp_msg_type_to_str(c.message_type) + " by " + master +
                      " cancelled by the master");
        }
        out.cancel(PTP_MSG_TLV_ACK_CANCEL_UNICAST, c.message_type);
    }
}

// A Signaling message: its target must be this port (or all ports), and its TLVs must fill it
// exactly, each unicast TLV of its type's length; otherwise none of it is taken.
void signaling_in(endpoint_type *e, const uint8_t *m, const ptp_msg_hdr_fields_type &h, const ipv4_type &from)
{
    if (h.message_length < PTP_SIGNALING_HDR_LEN) {
        e->counts.dropped++;
        return;
    }
    const uint64_t target_clock = ptp_wire_get64(m + PTP_SIGNALING_TARGET_OFF);
    const uint16_t target_port = ptp_wire_get16(m + PTP_SIGNALING_TARGET_OFF + 8);
    if ((target_clock != ~uint64_t{0} && target_clock != e->clock_id) ||
        (target_port != 0xFFFF && target_port != PORT_NUMBER)) {
        return; // for another port
    }
    for (size_t at = PTP_SIGNALING_HDR_LEN; at < h.message_length;) {
        ptp_msg_tlv_hdr_type th{};
        const size_t left = h.message_length - at;
        const size_t expected = ptp_unicast_tlv_expected_len(ptp_wire_get16(m + at));
        if (!ptp_msg_tlv_hdr_decode(m + at, left, &th) || PTP_MSG_TLV_HDR_LEN + th.length > left ||
            (expected != 0 && PTP_MSG_TLV_HDR_LEN + th.length != expected)) {
            e->counts.dropped++;
            return;
        }
        at += PTP_MSG_TLV_HDR_LEN + th.length;
    }
    const bool gm = e->role == role_type::GRANDMASTER;
    if (!gm && from != e->slave.master_ipv4) {
        e->counts.dropped++; // not the master it negotiates with
        return;
    }
    unicast_peer_type &peer = gm ? e->slaves[from] : e->from_master;
    peer.port = h.source_port_id;
    signaling_out_type out{e, from, h.source_port_id, true};
    for (size_t at = PTP_SIGNALING_HDR_LEN; at < h.message_length;) {
        ptp_msg_tlv_hdr_type th{};
        ptp_msg_tlv_hdr_decode(m + at, h.message_length - at, &th);
        const size_t len = PTP_MSG_TLV_HDR_LEN + th.length;
        if (gm) {
            gm_tlv(e, th.tlv_type, m + at, len, peer, from, out);
        } else {
            slave_tlv(e, th.tlv_type, m + at, len, out);
        }
        at += len;
    }
    out.flush();
    if (gm) {
        if (std::none_of(peer.grants.begin(), peer.grants.end(), [](const held_grant_type &g) { return g.held; })) {
            e->slaves.erase(from);
        }
        gm_grants_schedule(e);
    }
}

// ---- Grandmaster ----

void gm_announce_to(endpoint_type *e, const ipv4_type &to, uint16_t seq, int8_t log_interval)
{
    uint8_t m[ANNOUNCE_LEN] = {};
    put_header(e, m, PTP_MSG_ANNOUNCE, sizeof m,
               PTP_FLAG_PTP_TIMESCALE | PTP_FLAG_UTC_OFFSET_VALID | PTP_FLAG_TIME_TRACEABLE |
                   PTP_FLAG_FREQUENCY_TRACEABLE,
               seq, CONTROL_OTHER, log_interval);
    put_timestamp(m + 34, now_ns(e));
    ptp_wire_put16(m + 44, 37); // current UTC offset
    m[47] = e->gm.priority1;
    m[48] = e->gm.clock_class;
    m[49] = e->gm.clock_accuracy;
    ptp_wire_put16(m + 50, e->gm.offset_log_variance);
    m[52] = e->gm.priority2;
    ptp_wire_put64(m + 53, e->clock_id);
    ptp_wire_put16(m + 61, 0); // steps removed
    m[63] = e->gm.time_source;
    send_msg(e, m, sizeof m, to);
}

// A two-step Sync, and its Follow-Up with the time the Sync left.
void gm_sync_to(endpoint_type *e, const ipv4_type &to, uint16_t seq, int8_t log_interval)
{
    uint8_t m[SYNC_LEN] = {};
    put_header(e, m, PTP_MSG_SYNC, sizeof m, FLAG_TWO_STEP | PTP_FLAG_PTP_TIMESCALE, seq, 0, log_interval);
    int64_t t1 = 0;
    send_msg(e, m, sizeof m, to, &t1);
    uint8_t f[SYNC_LEN] = {};
    put_header(e, f, PTP_MSG_FOLLOW_UP, sizeof f, PTP_FLAG_PTP_TIMESCALE, seq, 2, log_interval);
    put_timestamp(f + 34, t1);
    send_msg(e, f, sizeof f, to);
}

void gm_announce(evm_alarm_type *alarm, void *ctx)
{
    auto *e = static_cast<endpoint_type *>(ctx);
    gm_announce_to(e, {}, e->announce_seq++, e->gm.log_announce_interval);
    evm_alarm_set(alarm, plat_clock_mono_ns() + interval_ns(e->gm.log_announce_interval));
}

void gm_sync(evm_alarm_type *alarm, void *ctx)
{
    auto *e = static_cast<endpoint_type *>(ctx);
    gm_sync_to(e, {}, e->sync_seq++, e->gm.log_sync_interval);
    evm_alarm_set(alarm, plat_clock_mono_ns() + interval_ns(e->gm.log_sync_interval));
}

// The next time a granted stream is due or a grant lapses.
void gm_grants_schedule(endpoint_type *e)
{
    uint64_t next = UINT64_MAX;
    for (const auto &[addr, peer] : e->slaves) {
        for (size_t k = 0; k < KIND_COUNT; ++k) {
            const held_grant_type &g = peer.grants[k];
            if (g.held) {
                next = std::min(next, g.expires_ns);
                if (k != KIND_DELAY_RESP) {
                    next = std::min(next, g.next_ns);
                }
            }
        }
    }
    if (next != UINT64_MAX) {
        evm_alarm_set(e->grants_alarm, next);
    }
}

// Each granted stream at its own interval to its slave; a grant not renewed lapses.
void gm_grants_due(evm_alarm_type *, void *ctx)
{
    auto *e = static_cast<endpoint_type *>(ctx);
    const uint64_t now = plat_clock_mono_ns();
    for (auto it = e->slaves.begin(); it != e->slaves.end();) {
        bool any = false;
        for (size_t k = 0; k < KIND_COUNT; ++k) {
            held_grant_type &g = it->second.grants[k];
            if (!g.held) {
                continue;
            }
            if (now >= g.expires_ns) {
                g.held = false;
                e->report("grandmaster: grant of " + std::string(ptp_msg_type_to_str(GRANT_KINDS[k])) + " to " +
                          ipv4_text(it->first) + " expired");
                continue;
            }
            any = true;
            if (k == KIND_DELAY_RESP || now < g.next_ns) {
                continue;
            }
            if (k == KIND_ANNOUNCE) {
                gm_announce_to(e, it->first, g.seq++, g.log_interval);
            } else {
                gm_sync_to(e, it->first, g.seq++, g.log_interval);
            }
            // Late by more than an interval (a stalled process): the stream goes on from now.
            g.next_ns = std::max(g.next_ns + interval_ns(g.log_interval), now + 1);
        }
        it = any ? std::next(it) : e->slaves.erase(it);
    }
    gm_grants_schedule(e);
}

// One more message of the stream the endpoint follows, expected every interval.
void follow(endpoint_type *e, uint64_t interval)
{
    const uint64_t now = plat_clock_mono_ns();
    counts_type &c = e->counts;
    if (c.followed++ == 0) {
        c.first_followed_mono_ns = now;
    } else {
        const auto gap = static_cast<int64_t>(now - e->last_followed_mono_ns);
        c.worst_gap_ns = std::max(c.worst_gap_ns, gap);
        c.late += static_cast<uint64_t>(gap) > interval + interval / 2 ? 1 : 0;
    }
    e->last_followed_mono_ns = now;
}

void gm_in(endpoint_type *e, const uint8_t *m, const ptp_msg_hdr_fields_type &h, int64_t rx_ns, const ipv4_type &from)
{
    if (h.message_type == PTP_MSG_SIGNALING && unicast(e)) {
        signaling_in(e, m, h, from);
        return;
    }
    if (h.message_type != PTP_MSG_DELAY_REQ) {
        return; // another master's messages, or a slave's to others: not ours to answer
    }
    if (h.message_length < SYNC_LEN) {
        e->counts.dropped++;
        return;
    }
    int8_t log_interval = e->gm.log_sync_interval;
    if (unicast(e)) {
        const auto it = e->slaves.find(from);
        if (it == e->slaves.end() || !it->second.grants[KIND_DELAY_RESP].held) {
            e->counts.dropped++; // no Delay-Resp granted to it
            return;
        }
        log_interval = it->second.grants[KIND_DELAY_RESP].log_interval;
    }
    follow(e, interval_ns(log_interval));
    uint8_t r[DELAY_RESP_LEN] = {};
    put_header(e, r, PTP_MSG_DELAY_RESP, sizeof r, PTP_FLAG_PTP_TIMESCALE, h.sequence_id, 3, log_interval);
    std::memcpy(r + PTP_HDR_OFF_CORRECTION, m + PTP_HDR_OFF_CORRECTION, 8);
    put_timestamp(r + 34, rx_ns);
    ptp_wire_put64(r + 44, h.source_port_id.clock_id);
    ptp_wire_put16(r + 52, h.source_port_id.port_num);
    send_msg(e, r, sizeof r, from);
}

// ---- Slave ----

void slave_master_lost(evm_alarm_type *, void *ctx)
{
    auto *e = static_cast<endpoint_type *>(ctx);
    if (!e->has_master) {
        return;
    }
    e->report("slave: master " + hex_id(e->master.clock.clock_id) + " lost (no Announce for " +
              std::to_string(e->slave.announce_timeout) + " announce intervals), state LISTENING");
    e->has_master = false;
    e->sync_pending = false;
    e->delay_pending = false;
    e->status.has_master = false;
    e->counts.master_losses++;
}

// Asks the master for what the slave lacks: Announce first, then Sync and Delay-Resp; a grant
// due for renewal is asked for again, one that lapsed is gone.
void slave_query(evm_alarm_type *alarm, void *ctx)
{
    auto *e = static_cast<endpoint_type *>(ctx);
    const uint64_t now = plat_clock_mono_ns();
    const slave_config_type &c = e->slave;
    const int8_t wanted[KIND_COUNT] = {c.log_announce_interval, c.log_sync_interval, c.log_delay_req_interval};
    signaling_out_type out{e, c.master_ipv4, {}, false};
    for (size_t k = 0; k < KIND_COUNT; ++k) {
        held_grant_type &g = e->from_master.grants[k];
        if (g.held && now >= g.expires_ns) {
            g.held = false;
            e->report("slave: grant of " + std::string(ptp_msg_type_to_str(GRANT_KINDS[k])) + " by " +
                      ipv4_text(c.master_ipv4) + " expired");
        }
        if ((k == KIND_ANNOUNCE || e->from_master.grants[KIND_ANNOUNCE].held) && (!g.held || now >= g.next_ns)) {
            out.request(GRANT_KINDS[k], wanted[k], c.grant_duration_s);
        }
    }
    out.flush();
    evm_alarm_set(alarm, now + QUERY_NS);
}

bool from_master(const endpoint_type *e, const ptp_msg_hdr_fields_type &h)
{
    return e->has_master && h.source_port_id.clock_id == e->master.port.clock_id &&
           h.source_port_id.port_num == e->master.port.port_num;
}

void slave_announce(endpoint_type *e, const uint8_t *m, const ptp_msg_hdr_fields_type &h)
{
    ptp_announce_body_type body{};
    if (!ptp_announce_body_decode(m, h.message_length, &body) || body.steps_removed >= 255) {
        e->counts.dropped++;
        return;
    }
    master_type seen;
    seen.clock.clock_id = body.gm_identity;
    seen.clock.priority1 = body.gm_priority1;
    seen.clock.clock_class = body.gm_clock_class;
    seen.clock.accuracy = body.gm_clock_accuracy;
    seen.clock.offset_log_variance = body.gm_oslv;
    seen.clock.priority2 = body.gm_priority2;
    seen.clock.steps_removed = body.steps_removed;
    seen.clock.time_source = body.time_source;
    seen.clock.sender = h.source_port_id;
    seen.clock.receiver = {e->clock_id, PORT_NUMBER};
    seen.port = h.source_port_id;
    seen.log_announce = h.log_interval;
    seen.last_announce_ns = plat_clock_mono_ns();
    const bool same = from_master(e, h);
    if (!same && e->has_master &&
        ptp_clock_compare(COMPARE_MODE_DEFAULT, &seen.clock, &e->master.clock, nullptr) >= 0) {
        return; // the current master stays the better one
    }
    const bool changed = !same || seen.clock.clock_id != e->master.clock.clock_id;
    e->master = seen;
    e->has_master = true;
    e->status.has_master = true;
    e->status.master_id = seen.clock.clock_id;
    if (changed) {
        e->sync_pending = false;
        e->delay_pending = false;
        e->report("slave: state SLAVE, master " + hex_id(seen.clock.clock_id) + " (priority1 " +
                  std::to_string(seen.clock.priority1) + ", class " + std::to_string(seen.clock.clock_class) +
                  ", steps removed " + std::to_string(seen.clock.steps_removed) + ")");
    }
    const int8_t log = std::clamp<int8_t>(h.log_interval, -7, 6);
    evm_alarm_set(e->timeout_alarm, plat_clock_mono_ns() + e->slave.announce_timeout * interval_ns(log));
}

// A Delay-Req after each Sync; over UDP/IPv4 only while Delay-Resp is granted, and no faster than
// its interval allows (half an interval of slack for the Syncs' own jitter).
void slave_delay_req(endpoint_type *e)
{
    const uint64_t now = plat_clock_mono_ns();
    if (unicast(e)) {
        const held_grant_type &g = e->from_master.grants[KIND_DELAY_RESP];
        if (!g.held || (e->delay_req_sent_ns != 0 && now - e->delay_req_sent_ns < interval_ns(g.log_interval) / 2)) {
            return;
        }
    }
    uint8_t m[SYNC_LEN] = {};
    e->delay_seq++;
    put_header(e, m, PTP_MSG_DELAY_REQ, sizeof m, 0, e->delay_seq, 1, LOG_INTERVAL_NONE);
    put_timestamp(m + 34, now_ns(e)); // originTimestamp: roughly; t3 is the send time below
    e->delay_pending = true;
    e->delay_req_sent_ns = now;
    send_msg(e, m, sizeof m, e->slave.master_ipv4, &e->t3);
}

void slave_in(endpoint_type *e, const uint8_t *m, const ptp_msg_hdr_fields_type &h, int64_t rx_ns,
              const ipv4_type &from)
{
    if (unicast(e) && from != e->slave.master_ipv4) {
        e->counts.dropped++; // only the master it negotiates with speaks to it
        return;
    }
    if (h.message_type == PTP_MSG_SIGNALING) {
        if (unicast(e)) {
            signaling_in(e, m, h, from);
        }
        return;
    }
    const size_t need = h.message_type == PTP_MSG_ANNOUNCE     ? ANNOUNCE_LEN
                        : h.message_type == PTP_MSG_DELAY_RESP ? DELAY_RESP_LEN
                                                               : SYNC_LEN;
    if (h.message_length < need) {
        e->counts.dropped++;
        return;
    }
    switch (h.message_type) {
    case PTP_MSG_ANNOUNCE: slave_announce(e, m, h); return;
    case PTP_MSG_SYNC:
        if (from_master(e, h)) {
            follow(e, interval_ns(static_cast<int8_t>(m[PTP_HDR_OFF_LOG_INTERVAL])));
            e->sync_pending = (h.flags & FLAG_TWO_STEP) != 0;
            e->sync_seq_seen = h.sequence_id;
            e->t2 = rx_ns;
            e->t1 = (h.correction >> 16);
            if (!e->sync_pending) { // one-step: the origin timestamp is exact
                e->t1 += get_timestamp(m + 34);
                slave_delay_req(e);
            }
        }
        return;
    case PTP_MSG_FOLLOW_UP:
        if (from_master(e, h) && e->sync_pending && h.sequence_id == e->sync_seq_seen) {
            e->sync_pending = false;
            e->t1 += get_timestamp(m + 34) + (h.correction >> 16);
            slave_delay_req(e);
        }
        return;
    case PTP_MSG_DELAY_RESP: {
        if (!from_master(e, h) || !e->delay_pending || h.sequence_id != e->delay_seq ||
            ptp_wire_get64(m + 44) != e->clock_id || ptp_wire_get16(m + 52) != PORT_NUMBER) {
            return; // an answer to another slave
        }
        e->delay_pending = false;
        const int64_t t4 = get_timestamp(m + 34) - (h.correction >> 16);
        const int64_t ms = e->t2 - e->t1, sm = t4 - e->t3;
        slave_status_type &s = e->status;
        s.last_offset_ns = (ms - sm) / 2;
        s.last_delay_ns = (ms + sm) / 2;
        s.exchanges++;
        s.offsets_ns.push_back(s.last_offset_ns);
        e->report("slave: offset from master " + std::to_string(s.last_offset_ns) + " ns, path delay " +
                  std::to_string(s.last_delay_ns) + " ns");
        return;
    }
    default: return; // Delay-Req of other slaves, Management: nothing for a slave here
    }
}

// ---- Receipt ----

void endpoint_in(endpoint_type *e, ctx_packet_type *p)
{
    uint32_t length = 0;
    std::array<uint8_t, 1600> f{};
    size_t n = 0;
    rx_view_type v;
    if (ctx_get_u32(p, CTX_OPT_CURRENT_LENGTH, &length) != 0 ||
        ctx_read(p, CTX_LAYER_FRAME, 0, f.data(), std::min<size_t>(length, f.size()), &n) != 0 ||
        !e->transport->take_headers(e, f.data(), n, &v)) {
        e->counts.dropped++;
        return;
    }
    ptp_msg_hdr_fields_type h{};
    if (!ptp_msg_hdr_decode(v.msg, v.len, &h) || h.version != PTP_VERSION || h.message_length > v.len ||
        h.message_length < PTP_MSG_HDR_LEN) {
        e->counts.dropped++;
        return;
    }
    if (h.domain != e->domain || h.source_port_id.clock_id == e->clock_id) {
        e->counts.dropped++;
        return;
    }
    uint8_t ts[CTX_TIMESTAMP_LEN] = {};
    size_t ts_len = 0;
    if (ctx_get_varlength(p, CTX_OPT_TIMESTAMP, ts, sizeof ts, &ts_len) != 0 || ts_len != TIMESTAMP_LEN) {
        e->counts.dropped++;
        return;
    }
    e->counts.received++;
    // The platform stamps on its wall clock; this endpoint's clock is offset from it.
    const int64_t rx_ns = get_timestamp(ts) + e->clock_offset_ns;
    if (e->role == role_type::GRANDMASTER) {
        gm_in(e, v.msg, h, rx_ns, v.from);
    } else {
        slave_in(e, v.msg, h, rx_ns, v.from);
    }
}

// The endpoint a frame is for: of its interface and, over UDP/IPv4, of its destination address;
// a datagram to no endpoint's address goes to one of the interface's, which counts it dropped.
endpoint_type *endpoint_for(uint32_t ifhandle, uint32_t address)
{
    std::lock_guard<std::mutex> lock(registry().mu);
    const auto &m = registry().endpoints;
    auto it = m.find({ifhandle, address});
    if (it == m.end()) {
        it = m.lower_bound({ifhandle, 0});
    }
    return it != m.end() && it->first.first == ifhandle ? it->second : nullptr;
}

void on_rx_ethernet(uint32_t count, ctx_packet_type **packets)
{
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t in = 0;
        ctx_get_u32(packets[i], CTX_OPT_IN_IFHANDLE, &in);
        if (endpoint_type *e = endpoint_for(in, 0)) {
            endpoint_in(e, packets[i]);
        }
    }
    ctx_free(packets, count);
}

void on_rx_ipv4(uint32_t count, ctx_packet_type **packets)
{
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t in = 0;
        std::array<uint8_t, IPV4_HDR_LEN> ip{};
        size_t n = 0;
        ctx_get_u32(packets[i], CTX_OPT_IN_IFHANDLE, &in);
        const bool whole = ctx_read(packets[i], CTX_LAYER_FRAME, 0, ip.data(), ip.size(), &n) == 0 && n == ip.size();
        if (endpoint_type *e = endpoint_for(in, whole ? ipv4_key(&ip[16]) : 0)) {
            endpoint_in(e, packets[i]);
        }
    }
    ctx_free(packets, count);
}

// Takes the shared connection of the endpoint's manager and transport (opened for the first),
// attaches its interface (for its first endpoint) and registers it.
zerrno open(endpoint_type *e)
{
    const uint32_t kind = e->transport->conn_kind;
    const endpoint_key_type key{e->ifhandle, unicast(e) ? ipv4_key(e->ipv4.data()) : 0};
    std::lock_guard<std::mutex> lock(registry().mu);
    if (registry().endpoints.count(key) != 0) {
        return PKTIO_ERR_EXISTS;
    }
    shared_conn_type &c = registry().conns[{e->evm, kind}];
    zerrno rc = 0;
    if (c.conn == nullptr) {
        spio_init_params_type params{SPIO_PARAMS_VERSION, kind == SPIO_CONN_KIND_ETHERNET ? on_rx_ethernet : on_rx_ipv4,
                                     nullptr, kind, e->evm};
        rc = ctx_api_init(&c.api);
        if (rc == 0) {
            rc = spio_init(&params, &c.conn);
        }
        if (rc != 0) {
            if (c.api != nullptr) {
                ctx_api_cleanup(c.api);
            }
            registry().conns.erase({e->evm, kind});
            return rc;
        }
    }
    if (c.attached[e->ifhandle] == 0) {
        uint32_t direction = 1, status = 0;
        rc = spio_attach2(c.conn, 0, 1, &e->ifhandle, &direction, &status);
        if (rc == 0) {
            rc = status;
        }
    }
    if (rc != 0) {
        if (c.attached[e->ifhandle] == 0) {
            c.attached.erase(e->ifhandle);
        }
        if (c.users == 0) {
            spio_close(c.conn);
            ctx_api_cleanup(c.api);
            registry().conns.erase({e->evm, kind});
        }
        return rc;
    }
    c.attached[e->ifhandle]++;
    c.users++;
    e->conn = c.conn;
    e->api = c.api;
    registry().endpoints[key] = e;
    return 0;
}

// Gives the endpoint's place in its shared connection back: its interface is detached with its
// last endpoint, the connection closed with its last.
void release(endpoint_type *e)
{
    const uint32_t kind = e->transport->conn_kind;
    std::lock_guard<std::mutex> lock(registry().mu);
    const auto it = registry().endpoints.find({e->ifhandle, unicast(e) ? ipv4_key(e->ipv4.data()) : 0});
    if (it != registry().endpoints.end() && it->second == e) {
        registry().endpoints.erase(it);
    }
    const auto c = registry().conns.find({e->evm, kind});
    if (e->conn == nullptr || c == registry().conns.end()) {
        return;
    }
    if (--c->second.attached[e->ifhandle] == 0) {
        uint32_t direction = 0, status = 0;
        spio_attach2(c->second.conn, 0, 1, &e->ifhandle, &direction, &status);
        c->second.attached.erase(e->ifhandle);
    }
    if (--c->second.users == 0) {
        spio_close(c->second.conn);
        ctx_api_cleanup(c->second.api);
        registry().conns.erase(c);
    }
    e->conn = nullptr;
    e->api = nullptr;
}

endpoint_type *make(event_mgr_type *evm, uint32_t ifhandle, const uint8_t mac[6], transport_type transport,
                    const ipv4_type &ipv4, report_fn report)
{
    auto *e = new endpoint_type;
    e->evm = evm;
    e->ifhandle = ifhandle;
    std::memcpy(e->mac.data(), mac, 6);
    e->transport = transport == transport_type::UDP_IPV4 ? &UDP_IPV4_OPS : &ETHERNET_OPS;
    e->ipv4 = ipv4;
    e->report = report ? std::move(report) : [](const std::string &) {};
    return e;
}

zerrno started(endpoint_type *e, zerrno rc, endpoint_type **out)
{
    if (rc != 0) {
        endpoint_stop(e);
        return rc;
    }
    *out = e;
    return 0;
}

std::string transport_text(const endpoint_type *e)
{
    return unicast(e) ? "UDP/IPv4 unicast from " + ipv4_text(e->ipv4) : std::string("Ethernet multicast");
}

} // namespace

zerrno gm_start(event_mgr_type *evm, uint32_t ifhandle, const uint8_t mac[6], const gm_config_type &config,
                report_fn report, endpoint_type **out)
{
    if (evm == nullptr || mac == nullptr || out == nullptr || config.clock_id == 0 ||
        (config.transport == transport_type::UDP_IPV4 &&
         (ipv4_addr_is_martian(config.ipv4.data()) || config.max_grant_duration_s == 0))) {
        return PKTIO_ERR_INVALID;
    }
    endpoint_type *e = make(evm, ifhandle, mac, config.transport, config.ipv4, std::move(report));
    e->role = role_type::GRANDMASTER;
    e->gm = config;
    e->clock_id = config.clock_id;
    e->domain = config.domain;
    e->clock_offset_ns = config.clock_offset_ns;
    zerrno rc = open(e);
    if (rc == 0) {
        e->announce_alarm = evm_alarm_new(evm, gm_announce, e);
        e->sync_alarm = evm_alarm_new(evm, gm_sync, e);
        e->grants_alarm = evm_alarm_new(evm, gm_grants_due, e);
        if (e->announce_alarm == nullptr || e->sync_alarm == nullptr || e->grants_alarm == nullptr) {
            rc = PKTIO_ERR_NO_MEMORY;
        }
    }
    if (rc == 0 && unicast(e)) {
        e->report("grandmaster: clock " + hex_id(e->clock_id) + ", domain " + std::to_string(e->domain) +
                  ", priority1 " + std::to_string(config.priority1) + ", class " + std::to_string(config.clock_class) +
                  ", " + transport_text(e) + ", granting Announce, two-step Sync and Delay-Resp for up to " +
                  std::to_string(config.max_grant_duration_s) + " s");
    } else if (rc == 0) {
        e->report("grandmaster: clock " + hex_id(e->clock_id) + ", domain " + std::to_string(e->domain) +
                  ", priority1 " + std::to_string(config.priority1) + ", class " + std::to_string(config.clock_class) +
                  ", announcing every 2^" + std::to_string(config.log_announce_interval) +
                  " s, two-step Sync every 2^" + std::to_string(config.log_sync_interval) + " s");
        const uint64_t now = plat_clock_mono_ns();
        evm_alarm_set(e->announce_alarm, now);
        evm_alarm_set(e->sync_alarm, now);
    }
    return started(e, rc, out);
}

zerrno slave_start(event_mgr_type *evm, uint32_t ifhandle, const uint8_t mac[6], const slave_config_type &config,
                   report_fn report, endpoint_type **out)
{
    if (evm == nullptr || mac == nullptr || out == nullptr || config.clock_id == 0 || config.announce_timeout == 0 ||
        (config.transport == transport_type::UDP_IPV4 &&
         (ipv4_addr_is_martian(config.ipv4.data()) || ipv4_addr_is_martian(config.master_ipv4.data()) ||
          config.grant_duration_s == 0))) {
        return PKTIO_ERR_INVALID;
    }
    endpoint_type *e = make(evm, ifhandle, mac, config.transport, config.ipv4, std::move(report));
    e->role = role_type::SLAVE;
    e->slave = config;
    e->clock_id = config.clock_id;
    e->domain = config.domain;
    e->clock_offset_ns = config.clock_offset_ns;
    zerrno rc = open(e);
    if (rc == 0) {
        e->timeout_alarm = evm_alarm_new(evm, slave_master_lost, e);
        e->query_alarm = evm_alarm_new(evm, slave_query, e);
        if (e->timeout_alarm == nullptr || e->query_alarm == nullptr) {
            rc = PKTIO_ERR_NO_MEMORY;
        }
    }
    if (rc == 0) {
        std::string line = "slave: clock " + hex_id(e->clock_id) + ", domain " + std::to_string(e->domain) +
                           ", free-running, state LISTENING";
        if (unicast(e)) {
            line += ", " + transport_text(e) + ", asking " + ipv4_text(config.master_ipv4) + " for grants of " +
                    std::to_string(config.grant_duration_s) + " s";
            evm_alarm_set(e->query_alarm, plat_clock_mono_ns());
        }
        e->report(line);
    }
    return started(e, rc, out);
}

void endpoint_stop(endpoint_type *e)
{
    if (e == nullptr) {
        return;
    }
    // The peers learn at once that the grants end, rather than when they lapse.
    if (e->conn != nullptr && unicast(e)) {
        if (e->role == role_type::GRANDMASTER) {
            for (const auto &[addr, peer] : e->slaves) {
                cancel_all(e, addr, peer);
            }
        } else {
            cancel_all(e, e->slave.master_ipv4, e->from_master);
        }
    }
    for (evm_alarm_type *a : {e->announce_alarm, e->sync_alarm, e->grants_alarm, e->timeout_alarm, e->query_alarm}) {
        if (a != nullptr) {
            evm_alarm_free(a);
        }
    }
    release(e);
    delete e;
}

counts_type endpoint_counts(const endpoint_type *e)
{
    return e != nullptr ? e->counts : counts_type{};
}

void endpoint_gaps_reset(endpoint_type *e)
{
    if (e != nullptr) {
        e->counts.worst_gap_ns = 0;
        e->counts.late = 0;
    }
}

slave_status_type slave_status(const endpoint_type *e)
{
    return e != nullptr ? e->status : slave_status_type{};
}

std::vector<grant_type> endpoint_grants(const endpoint_type *e)
{
    std::vector<grant_type> out;
    if (e == nullptr) {
        return out;
    }
    auto add = [&](const ipv4_type &addr, const unicast_peer_type &peer) {
        for (size_t k = 0; k < KIND_COUNT; ++k) {
            const held_grant_type &g = peer.grants[k];
            if (g.held) {
                out.push_back({addr, GRANT_KINDS[k], g.log_interval, g.duration_s});
            }
        }
    };
    if (e->role == role_type::GRANDMASTER) {
        for (const auto &[addr, peer] : e->slaves) {
            add(addr, peer);
        }
    } else {
        add(e->slave.master_ipv4, e->from_master);
    }
    return out;
}

int64_t abs_percentile(std::vector<int64_t> values, double p)
{
    if (values.empty()) {
        return 0;
    }
    for (int64_t &v : values) {
        v = v < 0 ? -v : v;
    }
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(p / 100.0 * static_cast<double>(values.size()));
    const size_t i = rank < 1 ? 0 : static_cast<size_t>(rank) - 1;
    return values[std::min(i, values.size() - 1)];
}

} // namespace simpeer
