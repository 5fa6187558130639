// ptp4l as a unicast master (unicast_listen 1, no multicast service) of an agent port, over L2,
// UDP/IPv4 and UDP/IPv6: ptp4l's end is a unicast master of the port's master table, so the
// port's slave-side negotiation asks it for Announce; ptp4l grants it and sends its Announces,
// and the port qualifies it as a foreign master with ptp4l's clock identity, priorities and
// class. When the port stops listening it cancels the grant, after which ptp4l sends no more
// Announces (checked in a capture on ptp4l's end). ptp4l acknowledges cancels in its client role
// only (see the client test); as a master it ends the stream without an acknowledgement, so one is
// checked only when it comes.
#include <gtest/gtest.h>

#include <fstream>

#include "interop_negotiation.h"
#include "tessel_fsm_announce.h"

namespace {

using namespace interop;

// What the port asks for: Announce every 2^-2 s for 60 s.
constexpr port_limits LIMITS{-2, -3, -3, 60, 50, 40};

struct transport_case {
    const char *name;
    uint32_t encap;
    const char *flag;
};

// One Signaling TLV as captured, with its message's time and identities.
struct sig_seen {
    double time;
    uint64_t source_clock;
    uint16_t seq;
    uint64_t target_clock;
    unsigned target_port;
    int tlv_type;
    int msg_type;
    int interval;
    uint32_t duration;
};

std::vector<sig_seen> signaling_seen(const std::string &pcap)
{
    std::vector<sig_seen> out;
    const auto rows = tshark_rows(pcap, "ptp.v2.messagetype == 0x0c && !icmp && !icmpv6",
                                  {"frame.time_relative", "ptp.v2.clockidentity", "ptp.v2.sequenceid",
                                   "ptp.v2.sig.targetportidentity", "ptp.v2.sig.targetportid", "ptp.v2.sig.tlv.tlvType",
                                   "ptp.v2.sig.tlv.messageType", "ptp.v2.sig.tlv.logInterMessagePeriod",
                                   "ptp.v2.sig.tlv.durationField"});
    for (const auto &c : rows) {
        const auto types = split(c[5], ','), msg_types = split(c[6], ',');
        const auto intervals = split(c[7], ','), durations = split(c[8], ',');
        for (size_t i = 0; i < types.size() && i < msg_types.size(); i++) {
            out.push_back({std::stod(c[0]), unum(c[1]), static_cast<uint16_t>(num(c[2])), unum(c[3]),
                           static_cast<unsigned>(num(c[4])), static_cast<int>(num(types[i])),
                           static_cast<int>(num(msg_types[i])),
                           i < intervals.size() ? static_cast<int>(num(intervals[i])) : 0,
                           i < durations.size() ? static_cast<uint32_t>(num(durations[i])) : 0});
        }
    }
    return out;
}

// Capture times of ptp4l's Announces.
std::vector<double> announces_from(const std::string &pcap, uint64_t clock)
{
    std::vector<double> out;
    for (const auto &c : tshark_rows(pcap, "ptp.v2.messagetype == 0x0b && !icmp && !icmpv6",
                                     {"frame.time_relative", "ptp.v2.clockidentity"})) {
        if (!c[0].empty() && unum(c[1]) == clock) {
            out.push_back(std::stod(c[0]));
        }
    }
    return out;
}

void PrintTo(const transport_case &c, std::ostream *os)
{
    *os << c.name;
}

class InteropPtp4lUnicastMaster : public testing::TestWithParam<transport_case> {};

TEST_P(InteropPtp4lUnicastMaster, NegotiatesQualifiesAndCancels)
{
    const std::string why = missing_prerequisite(true, true);
    if (!why.empty()) {
        GTEST_SKIP() << why;
    }
    const transport_case &tc = GetParam();
    veth_pair v;
    ASSERT_TRUE(v.ok) << "could not create the namespaces and veth pair";
    capture cap(v, std::string("unicast-master-") + tc.name);
    ASSERT_TRUE(cap.started()) << cap.proc.output();

    const std::string conf = temp_path("ptp4l-unicast-master.conf");
    {
        std::ofstream f(conf);
        f << "[global]\npriority1 100\npriority2 120\nclockClass 13\ndomainNumber 0\nmasterOnly 1\n"
             "logAnnounceInterval -2\nlogSyncInterval -2\nunicast_listen 1\ninhibit_multicast_service 1\n";
    }
    ns_process ptp4l(v.ns_b, std::string("ptp4l -i ") + v.dev_b + " -S " + tc.flag + " -m -f " + conf,
                     temp_path("ptp4l-unicast-master.log"));
    ASSERT_TRUE(ptp4l.wait_for("LISTENING", 10000)) << ptp4l.output();

    negotiation_agent a;
    ASSERT_TRUE(a.open(v, tc.encap, LIMITS)) << a.error;
    a.as_listener();
    const ptp_address_type master = veth_address(tc.encap, true);
    a.master_table_set(master, true);
    ptp_fsm_foreign_master_type *fm = ptp_fsm_proto_foreign_master_find(a.port, &master);
    ASSERT_NE(fm, nullptr);
    EXPECT_EQ(fm->transport, PTP_TRANSPORT_UNICAST);

    // The port's announce timer ticks at its Announce interval; the negotiation's retry timers run
    // on the port's event manager.
    ptp_fsm_foreign_master_type *best = nullptr;
    for (int i = 0; i < 100 && best == nullptr; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        a.run();
        ptp_fsm_announce_timer_tick(a.port);
        best = a.port->fsm.foreign_master_ranked_list;
    }
    ASSERT_NE(best, nullptr) << "ptp4l not qualified over " << tc.name << "; Announce granted "
                             << int{fm->is_announce_granted} << "; ptp4l said:\n"
                             << ptp4l.output();
    EXPECT_EQ(best, fm);
    EXPECT_EQ(fm->is_announce_granted, 1);
    EXPECT_EQ(fm->grant[PTP_FSM_FM_GRANT_ANNOUNCE].duration, LIMITS.announce_duration);
    EXPECT_EQ(fm->grant[PTP_FSM_FM_GRANT_ANNOUNCE].log_interval, LIMITS.announce_interval);
    EXPECT_EQ(best->master_clock.clock_id, PEER_CLOCK_ID);
    EXPECT_EQ(best->parent_port_id.clock_id, PEER_CLOCK_ID);
    EXPECT_EQ(best->parent_port_id.port_num, 1);
    EXPECT_EQ(best->master_clock.priority1, 100);
    EXPECT_EQ(best->master_clock.priority2, 120);
    EXPECT_EQ(best->master_clock.clock_class, 13);
    EXPECT_EQ(ptp_fsm_announce_best_foreign_master(a.port), best);

    // Stop listening: the grant is cancelled.
    ptp_fsm_proto_foreign_master_tree_destroy(a.port);
    a.port->fsm.is_listening = 0;
    for (int i = 0; i < 8; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        a.run();
    }
    cap.stop();
    a.close();
    ptp4l.stop();

    const std::string malformed = cap.malformed();
    EXPECT_TRUE(malformed.empty()) << malformed;
    const auto sig = signaling_seen(cap.pcap);
    auto find = [&](uint64_t from, int tlv_type) -> const sig_seen * {
        for (const sig_seen &s : sig) {
            if (s.source_clock == from && s.tlv_type == tlv_type && s.msg_type == PTP_MSG_ANNOUNCE) {
                return &s;
            }
        }
        return nullptr;
    };
    const sig_seen *request = find(AGENT_CLOCK_ID, 4);
    const sig_seen *grant = find(PEER_CLOCK_ID, 5);
    const sig_seen *cancel = find(AGENT_CLOCK_ID, 6);
    const sig_seen *ack = find(PEER_CLOCK_ID, 7);
    ASSERT_NE(request, nullptr) << "no Announce request";
    EXPECT_EQ(request->interval, LIMITS.announce_interval);
    EXPECT_EQ(request->duration, LIMITS.announce_duration);
    EXPECT_EQ(request->target_clock, ~0ull);
    EXPECT_EQ(request->target_port, 0xFFFFu);
    ASSERT_NE(grant, nullptr) << "no Announce grant";
    EXPECT_EQ(grant->duration, LIMITS.announce_duration);
    EXPECT_EQ(grant->target_clock, AGENT_CLOCK_ID);
    EXPECT_EQ(grant->target_port, 1u);
    ASSERT_NE(cancel, nullptr) << "no Announce cancel";
    // The cancel goes to the master's port identity, learnt from its Announces.
    EXPECT_EQ(cancel->target_clock, PEER_CLOCK_ID);
    EXPECT_EQ(cancel->target_port, 1u);
    EXPECT_GT(cancel->time, grant->time);
    if (ack != nullptr) {
        EXPECT_GE(ack->time, cancel->time);
        EXPECT_EQ(ack->target_clock, AGENT_CLOCK_ID);
    }
    // The slave's messages carry its foreign master's sequence ids, one after the other.
    EXPECT_GT(cancel->seq, request->seq);
    // ptp4l's Announce stream ran while granted and ended with the cancel (one may be in flight).
    const auto announces = announces_from(cap.pcap, PEER_CLOCK_ID);
    EXPECT_FALSE(announces.empty());
    size_t after = 0;
    for (double t : announces) {
        after += t > cancel->time + 0.1 ? 1 : 0;
    }
    EXPECT_EQ(after, 0u) << "Announces after the cancel";
    if (!HasFailure()) {
        cap.remove();
        remove_files({conf, ptp4l.log});
    }
}

INSTANTIATE_TEST_SUITE_P(Transports, InteropPtp4lUnicastMaster,
                         testing::Values(transport_case{"L2", PTP_ENCAP_ETHERNET, "-2"},
                                         transport_case{"UDPv4", PTP_ENCAP_IPV4, "-4"},
                                         transport_case{"UDPv6", PTP_ENCAP_IPV6, "-6"}),
                         [](const testing::TestParamInfo<transport_case> &i) { return std::string(i.param.name); });

} // namespace
