// Every Signaling message the agent sends, over Ethernet with 0, 1 and 2 VLAN tags, UDP/IPv4 and
// UDP/IPv6, captured on the peer's end of a veth pair and dissected by the packet analyser: no
// malformed field, good IP and UDP checksums, and the field values sent.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "interop_agent.h"
#include "tessel_packet_test_fake.h"

namespace {

using namespace interop;

struct sender_type {
    const char *name;
    uint32_t tlv_type;
    uint32_t msg_type;
    uint32_t duration;  // 0 where the TLV has none
};

// The Signaling senders of unicast negotiation: requests, grants, cancels and their
// acknowledgements, each for Announce (0xB), Sync (0x0) and Delay-Resp (0x9).
const sender_type SENDERS[] = {
    {"request announce", 4, 0xB, 300}, {"request sync", 4, 0x0, 300}, {"request delay-resp", 4, 0x9, 300},
    {"grant announce", 5, 0xB, 300},   {"grant sync", 5, 0x0, 300},   {"grant delay-resp", 5, 0x9, 300},
    {"cancel announce", 6, 0xB, 0},    {"cancel sync", 6, 0x0, 0},    {"cancel delay-resp", 6, 0x9, 0},
    {"ack-cancel announce", 7, 0xB, 0}, {"ack-cancel sync", 7, 0x0, 0}, {"ack-cancel delay-resp", 7, 0x9, 0},
};

struct framing_type {
    const char *name;
    uint32_t encap;
    uint32_t tags;
};
const framing_type FRAMINGS[] = {
    {"Ethernet", PTP_ENCAP_ETHERNET, 0}, {"Ethernet, one tag", PTP_ENCAP_ETHERNET, 1},
    {"Ethernet, two tags", PTP_ENCAP_ETHERNET, 2}, {"UDP/IPv4", PTP_ENCAP_IPV4, 0}, {"UDP/IPv6", PTP_ENCAP_IPV6, 0},
};

signaling_msg build(const sender_type &s, uint16_t seq)
{
    signaling_msg m(seq);
    switch (s.tlv_type) {
    case 4:
        m.request(static_cast<uint8_t>(s.msg_type), -3, s.duration);
        break;
    case 5:
        m.grant(static_cast<uint8_t>(s.msg_type), -3, s.duration, true);
        break;
    case 6:
        m.cancel(static_cast<uint8_t>(s.msg_type));
        break;
    default:
        m.ack_cancel(static_cast<uint8_t>(s.msg_type));
        break;
    }
    return m;
}

std::vector<std::string> split(const std::string &s, char sep)
{
    std::vector<std::string> out;
    std::stringstream in(s);
    std::string item;
    while (std::getline(in, item, sep)) {
        out.push_back(item);
    }
    return out;
}

unsigned long num(const std::string &s) { return s.empty() ? 0 : std::stoul(s, nullptr, 0); }

class InteropDissection : public testing::Test {};

TEST_F(InteropDissection, EverySignalingSenderInEveryFraming)
{
    const std::string why = missing_prerequisite(false, true);
    if (!why.empty()) {
        GTEST_SKIP() << why;
    }
    veth_pair v;
    ASSERT_TRUE(v.ok) << "could not create the namespaces and veth pair";
    const std::string pcap = temp_path("signaling.pcap");
    ns_process cap(v.ns_b, "tshark -i " + v.dev_b + " -w " + pcap, temp_path("tshark.log"));
    ASSERT_TRUE(cap.wait_for("Capturing on", 10000)) << cap.output();
    // The capture is announced a moment before it runs.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));

    pkt_fake_reset();
    pkt_fake.platform_adjacency = true;  // the kernel resolves neighbours on this backend
    agent_port agent;
    ASSERT_TRUE(agent.open(v, PTP_ENCAP_ETHERNET)) << agent.error;
    ptp_address_type peer_mac{};
    const uint8_t mac_b[6] = {0x02, 0x00, 0x00, 0x00, 0x0b, 0x02};
    ptp_address_set_mac(&peer_mac, mac_b);
    const uint8_t v4_b[4] = {10, 99, 0, 2};
    ptp_address_type peer_v4{};
    ptp_address_set_ipv4(&peer_v4, v4_b);
    uint8_t v6_b[16] = {0xfd, 0x99};
    v6_b[15] = 2;
    ptp_address_type peer_v6{};
    ptp_address_set_ipv6(&peer_v6, v6_b);

    // Expected per sequence id: framing index * 16 + sender index.
    std::map<unsigned, std::pair<const framing_type *, const sender_type *>> sent;
    for (size_t f = 0; f < std::size(FRAMINGS); f++) {
        const framing_type &fr = FRAMINGS[f];
        agent.set_tags(fr.tags);
        ASSERT_TRUE(agent.set_encap(fr.encap)) << agent.error;
        const ptp_address_type *dst = fr.encap == PTP_ENCAP_ETHERNET ? &peer_mac : fr.encap == PTP_ENCAP_IPV4 ? &peer_v4 : &peer_v6;
        for (size_t s = 0; s < std::size(SENDERS); s++) {
            const auto seq = static_cast<uint16_t>(f * 16 + s);
            auto m = build(SENDERS[s], seq);
            ASSERT_EQ(tessel_packet_send(agent.port, m.b.data(), static_cast<uint16_t>(m.b.size()), 0, dst, nullptr,
                                         nullptr, nullptr, nullptr),
                      0u)
                << fr.name << " " << SENDERS[s].name;
            sent[seq] = {&fr, &SENDERS[s]};
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    cap.stop();
    agent.close();

    const std::string malformed = capture_output("tshark -r " + pcap + " -Y _ws.malformed 2>/dev/null");
    EXPECT_TRUE(malformed.empty()) << malformed;
    const std::string fields = capture_output(
        "tshark -r " + pcap +
        " -o ip.check_checksum:TRUE -o udp.check_checksum:TRUE -Y \"ptp && !icmp && !icmpv6\" -T fields -E separator=/t -E occurrence=a"
        " -E aggregator=, -e ptp.v2.sequenceid -e ptp.v2.messagetype -e ptp.v2.sig.tlv.tlvType"
        " -e ptp.v2.sig.tlv.messageType -e ptp.v2.sig.tlv.durationField -e vlan.id -e ip.checksum.status"
        " -e udp.checksum.status -e ip.ttl -e ipv6.hlim -e udp.srcport -e udp.length -e ptp.v2.clockidentity"
        " -e ptp.v2.flags.unicast 2>/dev/null");
    std::map<unsigned, bool> seen;
    for (const std::string &line : split(fields, '\n')) {
        auto c = split(line, '\t');
        c.resize(14);
        const unsigned seq = static_cast<unsigned>(num(c[0]));
        auto it = sent.find(seq);
        if (it == sent.end()) {
            continue;  // not ours
        }
        const framing_type &fr = *it->second.first;
        const sender_type &s = *it->second.second;
        const std::string what = std::string(fr.name) + " " + s.name;
        seen[seq] = true;
        EXPECT_EQ(num(c[1]), 0x0Cu) << what;
        EXPECT_EQ(num(c[2]), s.tlv_type) << what;
        EXPECT_EQ(num(c[3]), s.msg_type) << what;
        if (s.duration != 0) {
            EXPECT_EQ(num(c[4]), s.duration) << what;
        }
        EXPECT_EQ(c[5], fr.tags == 0 ? "" : fr.tags == 1 ? "100" : "100,200") << what;
        EXPECT_EQ(num(c[12]), AGENT_CLOCK_ID) << what;
        EXPECT_EQ(c[13], "1") << what;
        if (fr.encap == PTP_ENCAP_IPV4) {
            EXPECT_EQ(c[6], "1") << what << ": IPv4 header checksum status";
            EXPECT_EQ(c[7], "1") << what << ": UDP checksum status";
            EXPECT_EQ(c[8], "5") << what;
            EXPECT_EQ(num(c[10]), 320u) << what;
        } else if (fr.encap == PTP_ENCAP_IPV6) {
            EXPECT_EQ(c[7], "1") << what << ": UDP checksum status";
            EXPECT_EQ(c[9], "6") << what;
            // The two bytes of padding behind the message are inside the datagram.
            EXPECT_EQ(num(c[11]), 8 + build(s, 0).b.size() + 2) << what;
        }
    }
    for (const auto &[seq, what] : sent) {
        EXPECT_TRUE(seen.count(seq) != 0) << "not captured: " << what.first->name << " " << what.second->name;
    }
    if (!HasFailure()) {
        std::remove(pcap.c_str());
        std::remove(cap.log.c_str());
    }
}

}  // namespace
