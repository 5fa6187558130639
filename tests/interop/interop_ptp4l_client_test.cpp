// ptp4l as a unicast client (unicast_master_table naming the agent's end) of an agent port in
// MASTER, over L2, UDP/IPv4 and UDP/IPv6: it asks for Announce and, once it has chosen the
// agent's clock from the granted Announce stream, for Sync and Delay-Resp. What ptp4l receives
// (captured on its end) holds a grant for every message type it asked for, with the duration and
// interval the port's configuration allows: at most the port's grant duration, no faster than
// the port's interval. The offload sessions are the test's: they confirm the granted intervals
// (which sends the grants that wait for them) and send the Announce stream of a granted peer.
// Last the port ends its grants (as when it leaves MASTER): a Unicast-Cancel for each stream goes
// to ptp4l's port identity, and ptp4l acknowledges each.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>

#include "interop_negotiation.h"
#include "tessel_packet.h"

namespace {

using namespace interop;

// What the port grants at most: Announce no faster than 2^0 s, Sync and Delay-Resp no faster
// than 2^-3 s; 60, 50 and 40 s.
constexpr port_limits LIMITS{0, -3, -3, 60, 50, 40};
// What ptp4l asks for: faster Sync and Delay-Resp, an hour each.
constexpr int PTP4L_SYNC_INTERVAL = -5;
constexpr uint32_t PTP4L_DURATION = 3600;

struct transport_case {
    const char *name;
    uint32_t encap;
    const char *flag;
    const char *table_entry; // the agent's end in ptp4l's master table
};

// The Announce stream an offload session sends to a peer granted Announce, at the granted
// interval: the agent's clock as grandmaster, better than ptp4l's own.
struct announce_stream {
    std::map<ptp_fsm_peer_entry_type *, std::chrono::steady_clock::time_point> next;
    uint16_t seq = 0;
    uint32_t sent = 0;

    void tick(tessel_proto_idb_type *port)
    {
        const auto now = std::chrono::steady_clock::now();
        for (ptp_fsm_peer_entry_type *e : nb.peer_sessions) {
            const ptp_fsm_peer_grant_type &g = e->grant[PTP_FSM_PEER_GRANT_ANNOUNCE];
            if (!e->is_announce_granted || g.reply_pending) {
                continue;
            }
            auto it = next.find(e);
            if (it != next.end() && now < it->second) {
                continue;
            }
            send(port, e, g.app_log_interval);
            const auto period =
                std::chrono::milliseconds(static_cast<int>(1000.0 * std::ldexp(1.0, g.app_log_interval)));
            next[e] = now + period;
        }
    }
    void send(tessel_proto_idb_type *port, ptp_fsm_peer_entry_type *e, int8_t interval)
    {
        std::vector<uint8_t> m(PTP_ANNOUNCE_MIN_LEN, 0);
        ptp_msg_hdr_type hdr{};
        ptp_fsm_proto_msg_hdr_build(port, &hdr, PTP_MSG_ANNOUNCE, static_cast<uint16_t>(m.size()), PTP_FLAG_UNICAST,
                                    seq++, interval);
        std::memcpy(m.data(), hdr.octets, PTP_MSG_HDR_LEN);
        m[44] = 0;
        m[45] = 37;   // currentUtcOffset
        m[47] = 60;   // priority1
        m[48] = 6;    // clockClass
        m[49] = 0x21; // clockAccuracy
        m[50] = 0x4E; // offsetScaledLogVariance
        m[51] = 0x5D;
        m[52] = 60; // priority2
        for (int i = 0; i < 8; i++) {
            m[53 + i] = static_cast<uint8_t>(AGENT_CLOCK_ID >> (56 - 8 * i));
        }
        m[63] = 0xA0; // timeSource: internal oscillator
        if (tessel_packet_send(port, m.data(), static_cast<uint16_t>(m.size()), 0, &e->peer_addr, &e->local_addr,
                               nullptr, nullptr, nullptr) == 0) {
            sent++;
        }
    }
};

// One Request or Grant TLV as captured.
struct tlv_seen {
    double time;
    int msg_type;
    int interval;
    uint32_t duration;
    int renewal;
    uint16_t seq;
    uint64_t target_clock;
    unsigned target_port;
    uint64_t source_clock;
    unsigned source_port;
};

std::vector<tlv_seen> signaling_tlvs(const std::string &pcap, uint64_t from_clock, int tlv_type)
{
    std::vector<tlv_seen> out;
    const auto rows =
        tshark_rows(pcap, "ptp.v2.messagetype == 0x0c && !icmp && !icmpv6",
                    {"frame.time_relative", "ptp.v2.clockidentity", "ptp.v2.sourceportid", "ptp.v2.sequenceid",
                     "ptp.v2.sig.targetportidentity", "ptp.v2.sig.targetportid", "ptp.v2.sig.tlv.tlvType",
                     "ptp.v2.sig.tlv.messageType", "ptp.v2.sig.tlv.logInterMessagePeriod",
                     "ptp.v2.sig.tlv.durationField", "ptp.v2.sig.tlv.renewalInvited"});
    for (const auto &c : rows) {
        if (c[0].empty() || unum(c[1]) != from_clock) {
            continue;
        }
        const auto types = split(c[6], ','), msg_types = split(c[7], ','), intervals = split(c[8], ',');
        const auto durations = split(c[9], ','), renewals = split(c[10], ',');
        for (size_t i = 0; i < types.size(); i++) {
            if (num(types[i]) != tlv_type || i >= msg_types.size()) {
                continue;
            }
            // Cancel and Ack-Cancel TLVs have no interval and duration.
            out.push_back({std::stod(c[0]), static_cast<int>(num(msg_types[i])),
                           i < intervals.size() ? static_cast<int>(num(intervals[i])) : 0,
                           i < durations.size() ? static_cast<uint32_t>(num(durations[i])) : 0,
                           i < renewals.size() ? static_cast<int>(num(renewals[i])) : -1,
                           static_cast<uint16_t>(num(c[3])), unum(c[4]), static_cast<unsigned>(num(c[5])), unum(c[1]),
                           static_cast<unsigned>(num(c[2]))});
        }
    }
    return out;
}

// The port's limit for a message type: {fastest interval, longest duration}.
std::pair<int, uint32_t> limit_of(int msg_type)
{
    switch (msg_type) {
    case PTP_MSG_ANNOUNCE: return {LIMITS.announce_interval, LIMITS.announce_duration};
    case PTP_MSG_SYNC: return {LIMITS.sync_interval, LIMITS.sync_duration};
    default: return {LIMITS.delay_req_interval, LIMITS.delay_resp_duration};
    }
}

void PrintTo(const transport_case &c, std::ostream *os)
{
    *os << c.name;
}

class InteropPtp4lClient : public testing::TestWithParam<transport_case> {};

TEST_P(InteropPtp4lClient, GrantsWhatItAsksWithinThePortsLimits)
{
    const std::string why = missing_prerequisite(true, true);
    if (!why.empty()) {
        GTEST_SKIP() << why;
    }
    const transport_case &tc = GetParam();
    veth_pair v;
    ASSERT_TRUE(v.ok) << "could not create the namespaces and veth pair";
    capture cap(v, std::string("client-") + tc.name);
    ASSERT_TRUE(cap.started()) << cap.proc.output();

    negotiation_agent a;
    ASSERT_TRUE(a.open(v, tc.encap, LIMITS)) << a.error;
    a.as_master();

    const std::string conf = temp_path("ptp4l-client.conf");
    {
        std::ofstream f(conf);
        f << "[global]\nslaveOnly 1\ndomainNumber 0\nlogAnnounceInterval " << LIMITS.announce_interval
          << "\nlogSyncInterval " << PTP4L_SYNC_INTERVAL << "\nlogMinDelayReqInterval " << PTP4L_SYNC_INTERVAL
          << "\nunicast_req_duration " << PTP4L_DURATION << "\n"
          << "[unicast_master_table]\ntable_id 1\nlogQueryInterval 0\n"
          << tc.table_entry << "\n"
          << "[" << v.dev_b << "]\nunicast_master_table 1\n";
    }
    ns_process ptp4l(v.ns_b, std::string("ptp4l -i ") + v.dev_b + " -S " + tc.flag + " -m -f " + conf,
                     temp_path("ptp4l-client.log"));

    // Until ptp4l holds grants for all three streams (and has had them a moment).
    announce_stream stream;
    const ptp_address_type peer = veth_address(tc.encap, true);
    ptp_fsm_peer_entry_type *e = nullptr;
    // Once everything is granted, a moment more for the last grant to reach ptp4l.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool settled = false;
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        a.run();
        nb_offload_confirm(a.port);
        stream.tick(a.port);
        e = ptp_fsm_unicast_peer_entry_find(a.port, &peer);
        const bool all = e != nullptr && e->is_announce_granted && e->is_sync_granted && e->is_delay_resp_granted;
        bool pending = false;
        for (uint32_t k = 0; all && k < PTP_FSM_PEER_GRANT_KINDS; k++) {
            pending = pending || e->grant[k].reply_pending;
        }
        if (all && !pending && !settled) {
            settled = true;
            deadline = std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(1500));
        }
    }
    ASSERT_NE(e, nullptr) << "ptp4l never asked; ptp4l said:\n" << ptp4l.output();
    EXPECT_TRUE(e->is_announce_granted && e->is_sync_granted && e->is_delay_resp_granted)
        << "granted A/S/DR " << int{e->is_announce_granted} << int{e->is_sync_granted} << int{e->is_delay_resp_granted}
        << "; ptp4l said:\n"
        << ptp4l.output();
    EXPECT_EQ(e->peer_port_id.clock_id, PEER_CLOCK_ID);
    // ptp4l took the agent's clock from the granted Announce stream.
    EXPECT_NE(ptp4l.output().find("UNCALIBRATED"), std::string::npos) << ptp4l.output();
    EXPECT_GT(stream.sent, 0u);

    ptp_fsm_unicast_end_grants(a.port);
    EXPECT_EQ(ptp_fsm_unicast_peer_entry_find(a.port, &peer), nullptr);
    for (int i = 0; i < 10; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        a.run();
    }
    cap.stop();
    a.close();
    ptp4l.stop();

    const std::string malformed = cap.malformed();
    EXPECT_TRUE(malformed.empty()) << malformed;
    const auto requests = signaling_tlvs(cap.pcap, PEER_CLOCK_ID, 4);
    const auto grants = signaling_tlvs(cap.pcap, AGENT_CLOCK_ID, 5);
    const auto cancels = signaling_tlvs(cap.pcap, AGENT_CLOCK_ID, 6);
    const auto acks = signaling_tlvs(cap.pcap, PEER_CLOCK_ID, 7);
    const double ended = cancels.empty() ? 1e9 : cancels.front().time;
    std::map<int, tlv_seen> asked;
    for (const tlv_seen &r : requests) {
        if (r.time < ended) {
            asked[r.msg_type] = r;
        }
    }
    EXPECT_EQ(asked.size(), 3u) << "ptp4l asks for Announce, Sync and Delay-Resp";
    std::map<int, int> granted;
    for (const tlv_seen &g : grants) {
        SCOPED_TRACE("grant for message type " + std::to_string(g.msg_type) + ", sequence id " + std::to_string(g.seq));
        if (g.time > ended) {
            // ptp4l asks again at once; the port has stopped granting.
            EXPECT_EQ(g.duration, 0u) << "a grant after the end of grants";
            continue;
        }
        ASSERT_TRUE(asked.count(g.msg_type) != 0) << "a grant for a type ptp4l did not ask for";
        const tlv_seen &r = asked[g.msg_type];
        const auto [min_interval, max_duration] = limit_of(g.msg_type);
        EXPECT_EQ(g.duration, std::min(r.duration, max_duration));
        EXPECT_EQ(g.interval, std::max(r.interval, min_interval));
        EXPECT_EQ(g.renewal, 1);
        // Grants go to the requester's port identity.
        EXPECT_EQ(g.target_clock, r.source_clock);
        EXPECT_EQ(g.target_port, r.source_port);
        granted[g.msg_type]++;
    }
    for (const auto &[type, r] : asked) {
        EXPECT_GT(granted[type], 0) << "no grant for message type " << type;
        // The port's limits were binding: what ptp4l asked for was more than they allow.
        EXPECT_GT(r.duration, limit_of(type).second);
    }
    EXPECT_LT(asked[PTP_MSG_SYNC].interval, LIMITS.sync_interval);

    // The end of grants: one Cancel per stream to ptp4l's port identity, each acknowledged.
    std::map<int, int> cancelled, acked;
    for (const tlv_seen &c : cancels) {
        EXPECT_EQ(c.target_clock, PEER_CLOCK_ID);
        EXPECT_EQ(c.target_port, asked[c.msg_type].source_port);
        cancelled[c.msg_type]++;
    }
    for (const tlv_seen &k : acks) {
        EXPECT_GE(k.time, ended);
        EXPECT_EQ(k.target_clock, AGENT_CLOCK_ID);
        EXPECT_EQ(k.target_port, 1u);
        acked[k.msg_type]++;
    }
    for (const auto &[type, r] : asked) {
        EXPECT_EQ(cancelled[type], 1) << "cancels of message type " << type;
        EXPECT_EQ(acked[type], 1) << "acknowledgements of message type " << type;
    }
    if (!HasFailure()) {
        cap.remove();
        remove_files({conf, ptp4l.log});
    }
}

INSTANTIATE_TEST_SUITE_P(Transports, InteropPtp4lClient,
                         testing::Values(transport_case{"L2", PTP_ENCAP_ETHERNET, "-2", "L2 02:00:00:00:0a:01"},
                                         transport_case{"UDPv4", PTP_ENCAP_IPV4, "-4", "UDPv4 10.99.0.1"},
                                         transport_case{"UDPv6", PTP_ENCAP_IPV6, "-6", "UDPv6 fd99::1"}),
                         [](const testing::TestParamInfo<transport_case> &i) { return std::string(i.param.name); });

} // namespace
