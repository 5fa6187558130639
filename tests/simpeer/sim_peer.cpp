// The simulated grandmaster and slave (see sim_peer.h). Messages are built field by field on the
// common header's layout and read back with the header and Announce decoders of the state machine,
// so the endpoints and the agent agree on the wire by construction.
#include "sim_peer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "ctx.h"
#include "evm_alarm.h"
#include "plat_clock.h"
#include "ptp_clock.h"
#include "ptp_strings.h"
#include "ptp_types.h"
#include "ptp_wire.h"
#include "spio.h"
#include "tessel_fsm_announce.h"
#include "tessel_fsm_msg_hdr.h"
#include "tessel_packet.h"

namespace simpeer {

namespace {

constexpr size_t ETH_HDR = 14;
constexpr size_t TIMESTAMP_LEN = 10;
// Message lengths (header included) of the event and general messages used here.
constexpr size_t SYNC_LEN = 44; // also Follow-Up and Delay-Req
constexpr size_t DELAY_RESP_LEN = 54;
constexpr size_t ANNOUNCE_LEN = PTP_ANNOUNCE_MIN_LEN;
constexpr uint16_t PORT_NUMBER = 1;
constexpr uint16_t FLAG_TWO_STEP = 0x0200;
constexpr int8_t LOG_INTERVAL_NONE = 0x7F;
constexpr uint32_t COMPARE_MODE_DEFAULT = 0; // the default profile's data-set comparison

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

} // namespace

struct endpoint_type {
    role_type role = role_type::GRANDMASTER;
    event_mgr_type *evm = nullptr;
    spio_conn_type *conn = nullptr;
    ctx_api_type *api = nullptr;
    uint32_t ifhandle = 0;
    std::array<uint8_t, 6> mac{};
    report_fn report;
    counts_type counts;
    uint64_t clock_id = 0;
    uint8_t domain = 0;
    int64_t clock_offset_ns = 0;

    // Grandmaster
    gm_config_type gm;
    evm_alarm_type *announce_alarm = nullptr;
    evm_alarm_type *sync_alarm = nullptr;
    uint16_t announce_seq = 0;
    uint16_t sync_seq = 0;

    // Slave
    slave_config_type slave;
    evm_alarm_type *timeout_alarm = nullptr;
    bool has_master = false;
    master_type master;
    bool sync_pending = false; // a Sync of the master awaits its Follow-Up
    uint16_t sync_seq_seen = 0;
    int64_t t2 = 0; // Sync received, our clock
    int64_t t1 = 0; // Sync sent, master's clock, with the corrections
    bool delay_pending = false;
    uint16_t delay_seq = 0;
    int64_t t3 = 0; // Delay-Req sent, our clock
    slave_status_type status;
};

namespace {

std::map<uint32_t, endpoint_type *> &endpoints()
{
    static std::map<uint32_t, endpoint_type *> m;
    return m;
}

int64_t now_ns(const endpoint_type *e)
{
    return plat_clock_wall_ns() + e->clock_offset_ns;
}

uint64_t interval_ns(int8_t log_interval)
{
    return static_cast<uint64_t>(std::ldexp(1e9, log_interval));
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

// The common header of a message of ours.
void put_header(const endpoint_type *e, uint8_t *m, uint8_t type, size_t len, uint16_t flags, uint16_t seq,
                uint8_t control, int8_t log_interval)
{
    m[PTP_HDR_OFF_TYPE] = type;
    m[PTP_HDR_OFF_VERSION] = PTP_VERSION;
    ptp_wire_put16(m + PTP_HDR_OFF_LENGTH, static_cast<uint16_t>(len));
    m[PTP_HDR_OFF_DOMAIN] = e->domain;
    ptp_wire_put16(m + PTP_HDR_OFF_FLAGS, flags);
    ptp_wire_put64(m + PTP_HDR_OFF_SOURCE_CLOCK, e->clock_id);
    ptp_wire_put16(m + PTP_HDR_OFF_SOURCE_PORT, PORT_NUMBER);
    ptp_wire_put16(m + PTP_HDR_OFF_SEQUENCE, seq);
    m[PTP_HDR_OFF_CONTROL] = control;
    m[PTP_HDR_OFF_LOG_INTERVAL] = static_cast<uint8_t>(log_interval);
}

// Sends one PTP message (len bytes at msg) to the PTP multicast address.
// Sends one message; with sent_ns, the time it leaves is read as late as can be, just before the
// send, as a software transmit stamp would be.
void send_msg(endpoint_type *e, const uint8_t *msg, size_t len, int64_t *sent_ns = nullptr)
{
    std::array<uint8_t, ETH_HDR + DELAY_RESP_LEN + 16> f{};
    if (len > f.size() - ETH_HDR) {
        return;
    }
    std::memcpy(&f[0], TESSEL_PACKET_ETH_DEST_MAC, 6);
    std::memcpy(&f[6], e->mac.data(), 6);
    ptp_wire_put16(&f[12], TESSEL_PACKET_ETHERTYPE);
    std::memcpy(&f[ETH_HDR], msg, len);
    ctx_packet_type *p = ctx_alloc(e->api, ETH_HDR + len);
    if (p == nullptr) {
        return;
    }
    size_t n = 0;
    ctx_write(p, CTX_LAYER_FRAME, 0, f.data(), ETH_HDR + len, &n);
    ctx_set_u32(p, CTX_OPT_OUT_IFHANDLE, e->ifhandle);
    ctx_set_u32(p, CTX_OPT_CURRENT_LENGTH, static_cast<uint32_t>(ETH_HDR + len));
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

// ---- Grandmaster ----

void gm_announce(evm_alarm_type *alarm, void *ctx)
{
    auto *e = static_cast<endpoint_type *>(ctx);
    uint8_t m[ANNOUNCE_LEN] = {};
    put_header(e, m, PTP_MSG_ANNOUNCE, sizeof m,
               PTP_FLAG_PTP_TIMESCALE | PTP_FLAG_UTC_OFFSET_VALID | PTP_FLAG_TIME_TRACEABLE |
                   PTP_FLAG_FREQUENCY_TRACEABLE,
               e->announce_seq++, 5, e->gm.log_announce_interval);
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
    send_msg(e, m, sizeof m);
    evm_alarm_set(alarm, plat_clock_mono_ns() + interval_ns(e->gm.log_announce_interval));
}

void gm_sync(evm_alarm_type *alarm, void *ctx)
{
    auto *e = static_cast<endpoint_type *>(ctx);
    const uint16_t seq = e->sync_seq++;
    uint8_t m[SYNC_LEN] = {};
    put_header(e, m, PTP_MSG_SYNC, sizeof m, FLAG_TWO_STEP | PTP_FLAG_PTP_TIMESCALE, seq, 0, e->gm.log_sync_interval);
    int64_t t1 = 0;
    send_msg(e, m, sizeof m, &t1);
    uint8_t f[SYNC_LEN] = {};
    put_header(e, f, PTP_MSG_FOLLOW_UP, sizeof f, PTP_FLAG_PTP_TIMESCALE, seq, 2, e->gm.log_sync_interval);
    put_timestamp(f + 34, t1);
    send_msg(e, f, sizeof f);
    evm_alarm_set(alarm, plat_clock_mono_ns() + interval_ns(e->gm.log_sync_interval));
}

void gm_in(endpoint_type *e, const uint8_t *m, const ptp_msg_hdr_fields_type &h, int64_t rx_ns)
{
    if (h.message_type != PTP_MSG_DELAY_REQ) {
        return; // another master's messages, or a slave's to others: not ours to answer
    }
    if (h.message_length < SYNC_LEN) {
        e->counts.dropped++;
        return;
    }
    uint8_t r[DELAY_RESP_LEN] = {};
    put_header(e, r, PTP_MSG_DELAY_RESP, sizeof r, PTP_FLAG_PTP_TIMESCALE, h.sequence_id, 3, e->gm.log_sync_interval);
    std::memcpy(r + PTP_HDR_OFF_CORRECTION, m + PTP_HDR_OFF_CORRECTION, 8);
    put_timestamp(r + 34, rx_ns);
    ptp_wire_put64(r + 44, h.source_port_id.clock_id);
    ptp_wire_put16(r + 52, h.source_port_id.port_num);
    send_msg(e, r, sizeof r);
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

void slave_delay_req(endpoint_type *e)
{
    uint8_t m[SYNC_LEN] = {};
    e->delay_seq++;
    put_header(e, m, PTP_MSG_DELAY_REQ, sizeof m, 0, e->delay_seq, 1, LOG_INTERVAL_NONE);
    put_timestamp(m + 34, now_ns(e)); // originTimestamp: roughly; t3 is the send time below
    e->delay_pending = true;
    send_msg(e, m, sizeof m, &e->t3);
}

void slave_in(endpoint_type *e, const uint8_t *m, const ptp_msg_hdr_fields_type &h, int64_t rx_ns)
{
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
    default: return; // Delay-Req of other slaves, Signaling, Management: nothing for a slave here
    }
}

// ---- Receipt ----

void endpoint_in(endpoint_type *e, ctx_packet_type *p)
{
    uint32_t length = 0;
    std::array<uint8_t, 1600> f{};
    size_t n = 0;
    if (ctx_get_u32(p, CTX_OPT_CURRENT_LENGTH, &length) != 0 ||
        ctx_read(p, CTX_LAYER_FRAME, 0, f.data(), std::min<size_t>(length, f.size()), &n) != 0 || n < ETH_HDR ||
        ptp_wire_get16(&f[12]) != TESSEL_PACKET_ETHERTYPE) {
        e->counts.dropped++;
        return;
    }
    const uint8_t *m = &f[ETH_HDR];
    const size_t len = n - ETH_HDR;
    ptp_msg_hdr_fields_type h{};
    if (!ptp_msg_hdr_decode(m, len, &h) || h.version != PTP_VERSION || h.message_length > len ||
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
        gm_in(e, m, h, rx_ns);
    } else {
        slave_in(e, m, h, rx_ns);
    }
}

void on_rx(uint32_t count, ctx_packet_type **packets)
{
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t in = 0;
        ctx_get_u32(packets[i], CTX_OPT_IN_IFHANDLE, &in);
        const auto it = endpoints().find(in);
        if (it != endpoints().end()) {
            endpoint_in(it->second, packets[i]);
        }
    }
    ctx_free(packets, count);
}

zerrno open(endpoint_type *e)
{
    spio_init_params_type params{SPIO_PARAMS_VERSION, on_rx, nullptr, SPIO_CONN_KIND_ETHERNET, e->evm};
    uint32_t direction = 1, status = 0;
    zerrno rc = ctx_api_init(&e->api);
    if (rc == 0) {
        rc = spio_init(&params, &e->conn);
    }
    if (rc == 0) {
        rc = spio_attach2(e->conn, 0, 1, &e->ifhandle, &direction, &status);
    }
    if (rc == 0) {
        rc = status;
    }
    if (rc == 0 && endpoints().count(e->ifhandle) != 0) {
        rc = PKTIO_ERR_EXISTS;
    }
    if (rc == 0) {
        endpoints()[e->ifhandle] = e;
    }
    return rc;
}

endpoint_type *make(event_mgr_type *evm, uint32_t ifhandle, const uint8_t mac[6], report_fn report)
{
    auto *e = new endpoint_type;
    e->evm = evm;
    e->ifhandle = ifhandle;
    std::memcpy(e->mac.data(), mac, 6);
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

} // namespace

zerrno gm_start(event_mgr_type *evm, uint32_t ifhandle, const uint8_t mac[6], const gm_config_type &config,
                report_fn report, endpoint_type **out)
{
    if (evm == nullptr || mac == nullptr || out == nullptr || config.clock_id == 0) {
        return PKTIO_ERR_INVALID;
    }
    endpoint_type *e = make(evm, ifhandle, mac, std::move(report));
    e->role = role_type::GRANDMASTER;
    e->gm = config;
    e->clock_id = config.clock_id;
    e->domain = config.domain;
    e->clock_offset_ns = config.clock_offset_ns;
    zerrno rc = open(e);
    if (rc == 0) {
        e->announce_alarm = evm_alarm_new(evm, gm_announce, e);
        e->sync_alarm = evm_alarm_new(evm, gm_sync, e);
        if (e->announce_alarm == nullptr || e->sync_alarm == nullptr) {
            rc = PKTIO_ERR_NO_MEMORY;
        }
    }
    if (rc == 0) {
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
    if (evm == nullptr || mac == nullptr || out == nullptr || config.clock_id == 0 || config.announce_timeout == 0) {
        return PKTIO_ERR_INVALID;
    }
    endpoint_type *e = make(evm, ifhandle, mac, std::move(report));
    e->role = role_type::SLAVE;
    e->slave = config;
    e->clock_id = config.clock_id;
    e->domain = config.domain;
    e->clock_offset_ns = config.clock_offset_ns;
    zerrno rc = open(e);
    if (rc == 0) {
        e->timeout_alarm = evm_alarm_new(evm, slave_master_lost, e);
        if (e->timeout_alarm == nullptr) {
            rc = PKTIO_ERR_NO_MEMORY;
        }
    }
    if (rc == 0) {
        e->report("slave: clock " + hex_id(e->clock_id) + ", domain " + std::to_string(e->domain) +
                  ", free-running, state LISTENING");
    }
    return started(e, rc, out);
}

void endpoint_stop(endpoint_type *e)
{
    if (e == nullptr) {
        return;
    }
    for (evm_alarm_type *a : {e->announce_alarm, e->sync_alarm, e->timeout_alarm}) {
        if (a != nullptr) {
            evm_alarm_free(a);
        }
    }
    const auto it = endpoints().find(e->ifhandle);
    if (it != endpoints().end() && it->second == e) {
        endpoints().erase(it);
    }
    if (e->conn != nullptr) {
        spio_close(e->conn);
    }
    if (e->api != nullptr) {
        ctx_api_cleanup(e->api);
    }
    delete e;
}

counts_type endpoint_counts(const endpoint_type *e)
{
    return e != nullptr ? e->counts : counts_type{};
}

slave_status_type slave_status(const endpoint_type *e)
{
    return e != nullptr ? e->status : slave_status_type{};
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
