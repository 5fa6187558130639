// Every Signaling message the agent sends, over Ethernet with 0, 1 and 2 VLAN tags, UDP/IPv4 and
// UDP/IPv6, captured on the peer's end of a veth pair and dissected by the packet analyser: no
// malformed field, good IP and UDP checksums, and the field values the negotiation chose. The
// messages come from the agent's own senders, driven through the negotiation's entry points:
// requests, cancels and acknowledgements from a pretend peer reach the port's receive dispatch,
// the offload sessions confirm what waits for them, and the master table and slaving calls run
// the slave side.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "interop_negotiation.h"

namespace {

using namespace interop;

// The port's limits (and what it asks for as a slave).
constexpr port_limits LIMITS{1, -4, -4, 300, 120, 180};

struct framing_type {
    const char *name;
    uint32_t encap;
    uint32_t tags;
};
const framing_type FRAMINGS[] = {
    {"Ethernet", PTP_ENCAP_ETHERNET, 0},
    {"Ethernet, one tag", PTP_ENCAP_ETHERNET, 1},
    {"Ethernet, two tags", PTP_ENCAP_ETHERNET, 2},
    {"UDP/IPv4", PTP_ENCAP_IPV4, 0},
    {"UDP/IPv6", PTP_ENCAP_IPV6, 0},
};

constexpr uint8_t ANN = 0xB, SYNC = 0x0, DRESP = 0x9;
constexpr uint16_t REQUEST = 4, GRANT = 5, CANCEL = 6, ACK_CANCEL = 7;

// One TLV as the analyser shows it; interval, duration and renewal only where the type has them.
struct tlv_expect {
    uint8_t msg_type;
    int interval = 0;
    uint32_t duration = 0;
    int renewal = 0;
};

// One Signaling message of the agent as expected on the wire.
struct sig_expect {
    const char *sender;
    uint16_t seq;
    uint16_t length;
    bool to_peer; // target: the peer's port identity; else all ones
    uint16_t tlv_type;
    std::vector<tlv_expect> tlvs;
};

std::string describe(uint16_t seq, uint64_t length, uint64_t target_clock, uint64_t target_port, uint64_t tlv_type,
                     const std::vector<tlv_expect> &tlvs)
{
    std::ostringstream s;
    s << "seq " << seq << " len " << length << " target " << std::hex << target_clock << std::dec << "/" << target_port
      << " tlv " << tlv_type;
    for (const tlv_expect &t : tlvs) {
        s << " [" << int{t.msg_type};
        if (tlv_type == REQUEST || tlv_type == GRANT) {
            s << " " << t.interval << " " << t.duration;
        }
        if (tlv_type == GRANT) {
            s << " " << t.renewal;
        }
        s << "]";
    }
    return s.str();
}

std::string describe(const sig_expect &e)
{
    return describe(e.seq, e.length, e.to_peer ? PEER_CLOCK_ID : ~0ull, e.to_peer ? 1 : 0xFFFF, e.tlv_type, e.tlvs);
}

// What each framing's run sends, in order. Master side (a peer entry): sequence ids from 0 on the
// entry; slave side (a foreign master): from 0 on the foreign master; replies to a sender the
// port does not know: 0.
const std::vector<sig_expect> EXPECTED = {
    {"deferred grant announce", 0, 56, true, GRANT, {{ANN, 1, 300, 1}}},
    {"deferred grant sync (interval raised)", 1, 56, true, GRANT, {{SYNC, -4, 100, 1}}},
    {"deferred grant delay-resp", 2, 56, true, GRANT, {{DRESP, -4, 150, 1}}},
    {"renewal reply", 3, 80, true, GRANT, {{ANN, 1, 300, 1}, {SYNC, -4, 100, 1}, {DRESP, -4, 150, 1}}},
    {"denial", 4, 56, true, GRANT, {{ANN, 0, 0, 0}}},
    {"ack-cancel sync", 5, 50, true, ACK_CANCEL, {{SYNC}}},
    {"end of grants: cancel announce", 6, 50, true, CANCEL, {{ANN}}},
    {"end of grants: cancel delay-resp", 7, 50, true, CANCEL, {{DRESP}}},
    {"request announce", 0, 54, false, REQUEST, {{ANN, 1, 300}}},
    {"request announce again after the master's cancel", 1, 54, false, REQUEST, {{ANN, 1, 300}}},
    {"ack-cancel announce to the master", 2, 50, true, ACK_CANCEL, {{ANN}}},
    {"request sync and delay-resp", 3, 64, false, REQUEST, {{SYNC, -4, 120}, {DRESP, -4, 180}}},
    {"stop slaving: cancel sync", 4, 50, false, CANCEL, {{SYNC}}},
    {"stop slaving: cancel delay-resp", 5, 50, false, CANCEL, {{DRESP}}},
    {"master removed: cancel announce", 6, 50, false, CANCEL, {{ANN}}},
    {"grant from an unknown master: cancel", 0, 50, true, CANCEL, {{ANN}}},
    {"cancel from an unknown peer: ack-cancel", 0, 50, true, ACK_CANCEL, {{SYNC}}},
};

// Runs both sides of the negotiation against a pretend peer on the other end.
void run_senders(negotiation_agent &a)
{
    const ptp_address_type peer = veth_address(a.port->config.encap, true);
    uint16_t seq = 100;
    auto from_peer = [&]() { return signaling_msg(seq++, PEER_CLOCK_ID, 1); };

    // Master side: a slave asks for all three streams (Announce for longer than allowed, Sync
    // faster than allowed); the grants wait for the offload sessions.
    a.as_master();
    a.receive(from_peer().request(ANN, 1, 600).request(SYNC, -5, 100).request(DRESP, -4, 150).b, peer);
    a.run();
    EXPECT_EQ(nb_offload_confirm(a.port), 3u);
    // Renewal at unchanged intervals: answered at once, in one message.
    a.receive(from_peer().request(ANN, 1, 600).request(SYNC, -5, 100).request(DRESP, -4, 150).b, peer);
    // Announce faster than allowed: denied.
    a.receive(from_peer().request(ANN, 0, 300).b, peer);
    a.receive(from_peer().cancel(SYNC).b, peer);
    ptp_fsm_unicast_end_grants(a.port);
    a.run();

    // Slave side: the peer becomes a unicast master of the port's table.
    a.as_listener();
    a.master_table_set(peer, true);
    ptp_fsm_foreign_master_type *fm = ptp_fsm_proto_foreign_master_find(a.port, &peer);
    ASSERT_NE(fm, nullptr);
    a.receive(from_peer().grant(ANN, 1, 300, true).b, peer);
    EXPECT_EQ(fm->is_announce_granted, 1);
    // The master cancels: the port asks again and acknowledges; then the master grants again.
    a.receive(from_peer().cancel(ANN).b, peer);
    EXPECT_EQ(fm->is_announce_granted, 0);
    a.receive(from_peer().grant(ANN, 1, 300, true).b, peer);
    EXPECT_EQ(fm->is_announce_granted, 1);
    fm->is_slaving = 1;
    ptp_fsm_unicast_start_slaving(a.port, fm);
    a.receive(from_peer().grant(SYNC, -4, 120, true).grant(DRESP, -4, 180, true).b, peer);
    EXPECT_EQ(fm->is_sync_granted, 1);
    EXPECT_EQ(fm->is_delay_resp_granted, 1);
    ptp_fsm_unicast_stop_slaving(a.port, fm);
    fm->is_slaving = 0;
    a.master_table_set(peer, false);
    EXPECT_EQ(ptp_fsm_proto_foreign_master_find(a.port, &peer), nullptr);

    // Neither master nor slave any more.
    a.receive(from_peer().grant(ANN, 1, 300, true).b, peer);
    a.receive(from_peer().cancel(SYNC).b, peer);
    a.run();
}

// The framing a captured frame came in: VLAN ids, then the IP version.
std::string framing_of(const std::vector<std::string> &c)
{
    if (!c[1].empty()) {
        return c[1] == "100" ? "Ethernet, one tag" : c[1] == "100,200" ? "Ethernet, two tags" : "tags " + c[1];
    }
    // ip.version is the IPv6 version too.
    return c[2] == "4" ? "UDP/IPv4" : c[2] == "6" ? "UDP/IPv6" : "Ethernet";
}

class InteropDissection : public testing::Test {};

TEST_F(InteropDissection, EverySignalingSenderInEveryFraming)
{
    const std::string why = missing_prerequisite(false, true);
    if (!why.empty()) {
        GTEST_SKIP() << why;
    }
    veth_pair v;
    ASSERT_TRUE(v.ok) << "could not create the namespaces and veth pair";
    capture cap(v, "signaling");
    ASSERT_TRUE(cap.started()) << cap.proc.output();

    negotiation_agent a;
    ASSERT_TRUE(a.open(v, PTP_ENCAP_ETHERNET, LIMITS)) << a.error;
    a.port->config.general_dscp = 10;
    for (const framing_type &fr : FRAMINGS) {
        SCOPED_TRACE(fr.name);
        a.agent.set_tags(fr.tags);
        ASSERT_TRUE(a.agent.set_encap(fr.encap)) << a.agent.error;
        const uint32_t sent_before = nb.signaling_sent;
        run_senders(a);
        EXPECT_EQ(nb.signaling_sent - sent_before, EXPECTED.size()) << "sends counted";
        // Nothing the negotiation keeps outlives the run.
        EXPECT_EQ(a.port->fsm.unicast_peer_count, 0u);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    cap.stop();
    a.close();

    const std::string malformed = cap.malformed();
    EXPECT_TRUE(malformed.empty()) << malformed;
    const std::vector<std::string> fields = {"ptp.v2.sequenceid",
                                             "vlan.id",
                                             "ip.version",
                                             "ipv6.tclass.dscp",
                                             "ptp.v2.messagelength",
                                             "ptp.v2.sig.targetportidentity",
                                             "ptp.v2.sig.targetportid",
                                             "ptp.v2.sig.tlv.tlvType",
                                             "ptp.v2.sig.tlv.messageType",
                                             "ptp.v2.sig.tlv.logInterMessagePeriod",
                                             "ptp.v2.sig.tlv.durationField",
                                             "ptp.v2.sig.tlv.renewalInvited",
                                             "ptp.v2.sig.tlv.lengthField",
                                             "ptp.v2.flags",
                                             "ptp.v2.controlfield",
                                             "ptp.v2.logmessageperiod",
                                             "ptp.v2.clockidentity",
                                             "ptp.v2.sourceportid",
                                             "ip.checksum.status",
                                             "udp.checksum.status",
                                             "ip.ttl",
                                             "ipv6.hlim",
                                             "udp.srcport",
                                             "udp.dstport",
                                             "udp.length",
                                             "ip.dsfield.dscp"};
    const auto rows = tshark_rows(cap.pcap, "ptp.v2.messagetype == 0x0c && !icmp && !icmpv6", fields);

    std::map<std::string, std::vector<std::string>> seen; // framing -> descriptions
    for (const auto &c : rows) {
        const std::string framing = framing_of(c);
        const auto types = split(c[7], ',');
        const auto msg_types = split(c[8], ','), intervals = split(c[9], ','), durations = split(c[10], ',');
        const auto renewals = split(c[11], ','), lengths = split(c[12], ',');
        std::vector<tlv_expect> tlvs;
        for (size_t i = 0; i < msg_types.size(); i++) {
            tlv_expect t{static_cast<uint8_t>(num(msg_types[i]))};
            if (i < intervals.size()) {
                t.interval = static_cast<int>(num(intervals[i]));
            }
            if (i < durations.size()) {
                t.duration = static_cast<uint32_t>(num(durations[i]));
            }
            if (i < renewals.size()) {
                t.renewal = static_cast<int>(num(renewals[i]));
            }
            tlvs.push_back(t);
        }
        const std::string what = describe(static_cast<uint16_t>(num(c[0])), num(c[4]), unum(c[5]), num(c[6]),
                                          types.empty() ? 0 : num(types[0]), tlvs);
        seen[framing].push_back(what);
        SCOPED_TRACE(framing + ": " + what);
        // Every TLV of a message is of one type, with the length its type has.
        const long long tlv_len = types.empty() ? 0 : num(types[0]) == REQUEST ? 6 : num(types[0]) == GRANT ? 8 : 2;
        for (size_t i = 0; i < types.size(); i++) {
            EXPECT_EQ(types[i], types[0]);
            EXPECT_EQ(num(lengths[i]), tlv_len);
        }
        EXPECT_EQ(num(c[13]), 0x0400) << "flags: unicast only";
        EXPECT_EQ(num(c[14]), 5) << "control field";
        EXPECT_EQ(num(c[15]), 127) << "log message interval";
        EXPECT_EQ(unum(c[16]), AGENT_CLOCK_ID);
        EXPECT_EQ(num(c[17]), 1) << "source port";
        if (framing == "UDP/IPv4") {
            EXPECT_EQ(c[18], "1") << "IPv4 header checksum status";
            EXPECT_EQ(c[19], "1") << "UDP checksum status";
            EXPECT_EQ(c[20], "5") << "TTL";
            EXPECT_EQ(num(c[25]), 10) << "DSCP";
        }
        if (framing == "UDP/IPv6") {
            EXPECT_EQ(c[19], "1") << "UDP checksum status";
            EXPECT_EQ(c[21], "6") << "hop limit";
            EXPECT_EQ(num(c[3]), 10) << "DSCP";
            // The two bytes of padding behind the message are inside the datagram.
            EXPECT_EQ(num(c[24]), 8 + num(c[4]) + 2);
        }
        if (framing == "UDP/IPv4" || framing == "UDP/IPv6") {
            EXPECT_EQ(num(c[22]), 320) << "general messages leave from port 320";
            EXPECT_EQ(num(c[23]), 320) << "and go to port 320";
        }
    }
    // Each framing carries every expected message once and nothing else (in any order: the
    // framings' sockets differ).
    for (const framing_type &fr : FRAMINGS) {
        std::vector<std::string> left = seen[fr.name];
        for (const sig_expect &e : EXPECTED) {
            auto it = std::find(left.begin(), left.end(), describe(e));
            if (it == left.end()) {
                ADD_FAILURE() << fr.name << ": " << e.sender << " not captured as " << describe(e);
            } else {
                left.erase(it);
            }
        }
        for (const std::string &extra : left) {
            ADD_FAILURE() << fr.name << ": unexpected " << extra;
        }
    }
    EXPECT_EQ(seen.size(), std::size(FRAMINGS)) << "frames in a framing the run did not use";
    if (!HasFailure()) {
        cap.remove();
    }
}

} // namespace
