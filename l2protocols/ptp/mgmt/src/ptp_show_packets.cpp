// ptp_show_packets_tool: the packet counters of an interface (with every peer's, or only one
// master's), or of a node with the reasons its packets were dropped.
#include <arpa/inet.h>

#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "ptp_bags.h"
#include "ptp_show_utils.h"
#include "sysmgr.h"
#include "tessel_stats.h"

namespace {

struct ptp_show_packets_args {
    const char *ifname;
    uint32_t location; // NODEID_INVALID: not given
    bool detail;
    bool ipv4_master;
    uint32_t ipv4_address; // host order: 10.0.0.1 is 0x0A000001
    bool ether_master;
    uint8_t mac[6];
};
ptp_show_packets_args args;

// The record's counters in its field order: sent, received and dropped of each kind, then the
// totals (which the tool adds up itself, so that a table always sums to what it shows).
#define PTP_SHOW_PACKET_FIELD(S, name, format, type) &ptp_bag_packet_counters::name,
constexpr uint32_t ptp_bag_packet_counters::*packet_fields[] = {PTP_BAG_DEF_128(PTP_SHOW_PACKET_FIELD, _)};
#undef PTP_SHOW_PACKET_FIELD
static_assert(std::size(packet_fields) == 3 * TESSEL_PACKET_COUNTER_CLASS_COUNT + 3);

struct drop_reason_type {
    uint32_t ptp_bag_drop_reasons::*count;
    const char *text;
};
constexpr drop_reason_type drop_reasons[] = {
    {&ptp_bag_drop_reasons::NotReady, "Not ready for packets"},
    {&ptp_bag_drop_reasons::WrongDomain, "Wrong domain number"},
    {&ptp_bag_drop_reasons::TooShort, "Packet too short"},
    {&ptp_bag_drop_reasons::LoopedSamePort, "Local packet received, same port number"},
    {&ptp_bag_drop_reasons::LoopedHigherPort, "Local packet received, higher port number"},
    {&ptp_bag_drop_reasons::LoopedLowerPort, "Local packet received, lower port number"},
    {&ptp_bag_drop_reasons::NoTimestamp, "No timestamp received with packet"},
    {&ptp_bag_drop_reasons::ZeroTimestamp, "Zero timestamp received with packet"},
    {&ptp_bag_drop_reasons::InvalidTLVs, "Invalid TLVs received in packet"},
    {&ptp_bag_drop_reasons::NotForUs, "Packet not for us"},
    {&ptp_bag_drop_reasons::NotListening, "Not listening for packets on this interface"},
    {&ptp_bag_drop_reasons::WrongMaster, "Packet from incorrect master"},
    {&ptp_bag_drop_reasons::UnknownMaster, "Packet from unknown master"},
    {&ptp_bag_drop_reasons::NotMaster, "Packet only handled in Master state"},
    {&ptp_bag_drop_reasons::NotSlave, "Packet only handled in Slave state"},
    {&ptp_bag_drop_reasons::NotGranted, "Packet from peer not granted unicast"},
    {&ptp_bag_drop_reasons::TooSlow, "Packet received too late"},
    {&ptp_bag_drop_reasons::InvalidPacket, "Invalid packet or packet metadata"},
    {&ptp_bag_drop_reasons::WrongSequenceID, "Unexpected sequence ID"},
    {&ptp_bag_drop_reasons::NoOffloadSession, "No offload session"},
    {&ptp_bag_drop_reasons::NotSupported, "PTP packet type not supported"},
    {&ptp_bag_drop_reasons::MinClockClass, "Clock class below minimum"},
    {&ptp_bag_drop_reasons::BadClockClass, "Illegal clock class in announce"},
    {&ptp_bag_drop_reasons::ReservedClockID, "Reserved Clock ID"},
    {&ptp_bag_drop_reasons::StepsRemoved, "Steps removed too high"},
    {&ptp_bag_drop_reasons::G8265_1Incompatible, "Packet not compatible with G.8265.1 profile"},
    {&ptp_bag_drop_reasons::G8275_1Incompatible, "Packet not compatible with G.8275.1 profile"},
    {&ptp_bag_drop_reasons::G8275_2Incompatible, "Packet not compatible with G.8275.2 profile"},
    {&ptp_bag_drop_reasons::IncorrectAddress, "Packet sent to incorrect address"},
    {&ptp_bag_drop_reasons::NonNegotiated, "Packet not compatible with Non-negotiated"},
    {&ptp_bag_drop_reasons::VerifyChecksumFailed, "Packet IPv6 UDP checksum check failed"},
    {&ptp_bag_drop_reasons::IPV4VerifyChecksum, "Packet IPv4 checksum check failed"},
};
static_assert(std::size(drop_reasons) == TESSEL_PACKET_DROP_REASON_COUNT);

// The table of each kind's counts; a peer's has no dropped column (its drops are not counted).
// The TOTAL row is the sum of the rows, wide enough that it never wraps.
void print_counter_table(const ptp_bag_packet_counters &counters, bool dropped)
{
    if (dropped)
        printf("  Packets                      Sent         Received         Dropped\n"
               "  ------------------------------------------------------------------\n");
    else
        printf("  Packets                      Sent         Received\n"
               "  --------------------------------------------------\n");
    uint64_t totals[3] = {};
    for (uint32_t kind = 0; kind < TESSEL_PACKET_COUNTER_CLASS_COUNT; ++kind) {
        uint32_t row[3];
        for (uint32_t column = 0; column < 3; ++column) {
            row[column] = counters.*packet_fields[3 * kind + column];
            totals[column] += row[column];
        }
        const char *name = tessel_stats_packet_counter_class_names[kind];
        if (dropped)
            printf("  %-23s %10u %15u %15u\n", name, row[0], row[1], row[2]);
        else
            printf("  %-23s %10u %15u\n", name, row[0], row[1]);
    }
    if (dropped) {
        printf("                               -----           -----           -----\n");
        printf("  %-23s %10" PRIu64 " %15" PRIu64 " %15" PRIu64 "\n", "TOTAL", totals[0], totals[1], totals[2]);
    } else {
        printf("                               -----           -----\n");
        printf("  %-23s %10" PRIu64 " %15" PRIu64 "\n", "TOTAL", totals[0], totals[1]);
    }
}

// Whether the peer is one the options ask for: every peer with -d, else the selected master.
bool peer_shown(const ptp_bag_address &address)
{
    if (args.detail)
        return true;
    if (args.ipv4_master)
        return address.Encapsulation == PTP_BAG_ENCAP_IPv4 && ntohl(address.value.IPv4Address) == args.ipv4_address;
    return address.Encapsulation == PTP_BAG_ENCAP_Ethernet &&
           memcmp(address.value.MACAddress.macaddr, args.mac, sizeof args.mac) == 0;
}

void print_interface_counters(const void *data, uint32_t length)
{
    ptp_show_decode<ptp_if_packet_counter_info>(
        data, length, ptp_if_packet_counter_info_bag_getfn(), "Failed to decode packet counter bag: %s\n",
        [](const ptp_if_packet_counter_info &info) {
            const bool master = args.ipv4_master || args.ether_master;
            if (!master)
                print_counter_table(info.Counters, true);
            if (!master && !args.detail)
                return;
            for (uint32_t i = 0; i < info.PeerCounters.count; ++i) {
                const ptp_bag_peer_packet_counters &peer = info.PeerCounters.array[i];
                if (!peer_shown(peer.Address))
                    continue;
                printf("\nPeer %s %s:\n", ptp_show_bag_encap_to_str(peer.Address.Encapsulation),
                       ptp_show_bag_address_to_str(peer.Address));
                print_counter_table(peer.Counters, false);
            }
        });
}

void print_node_counters(const void *data, uint32_t length)
{
    ptp_show_decode<ptp_node_packet_counter_info>(
        data, length, ptp_node_packet_counter_info_bag_getfn(), "Failed to decode packet counter bag: %s\n",
        [](const ptp_node_packet_counter_info &info) {
            print_counter_table(info.Counters, true);
            printf("\n  Drop Reason                                  Drop Count\n"
                   "  -------------------------------------------------------\n");
            uint64_t total = 0;
            for (const drop_reason_type &reason : drop_reasons) {
                const uint32_t count = info.DropReasons.*reason.count;
                printf("  %-44s %10u\n", reason.text, count);
                total += count;
            }
            printf("                                                    -----\n");
            printf("  %-44s %10" PRIu64 "\n", "TOTAL", total);
        });
}

// A master's word: the number its letter gives, or 0 when the letter was not given.
bool master_word(char letter, uint32_t bits, uint32_t *word)
{
    *word = 0;
    const char *text = ptp_show_options.value[static_cast<unsigned char>(letter)];
    return text == nullptr || ptp_show_number(letter, text, bits, word);
}

} // namespace

int ptp_show_packets_tool_main(int argc, char **argv)
{
    if (!ptp_show_parse_options(argc, argv, ":i:h:du:e:f:g:"))
        return 0;
    args = {};
    args.ifname = ptp_show_options.ifname;
    args.location = ptp_show_options.node != PTP_SHOW_NO_NODE ? ptp_show_options.node : NODEID_INVALID;
    args.detail = ptp_show_flag('d');
    args.ipv4_master = ptp_show_flag('u');
    args.ether_master = ptp_show_flag('e') || ptp_show_flag('f') || ptp_show_flag('g');
    uint32_t words[3];
    if (!master_word('u', 32, &args.ipv4_address) || !master_word('e', 16, &words[0]) ||
        !master_word('f', 16, &words[1]) || !master_word('g', 16, &words[2]))
        return 0;
    macaddr_lwordston(static_cast<uint16_t>(words[0]), static_cast<uint16_t>(words[1]), static_cast<uint16_t>(words[2]),
                      args.mac);

    const bool master = args.ipv4_master || args.ether_master;
    if ((master || args.detail) && args.ifname == nullptr) {
        printf("The detail and master options are only valid under an interface\n");
        return 0;
    }
    if (args.ipv4_master && args.ether_master) {
        printf("Only one master can be specified\n");
        return 0;
    }
    if (master && args.detail) {
        printf("Only one of the detail and master options can be set\n");
        return 0;
    }
    if (!ptp_show_check_interface_or_location())
        return 0;
    if (args.ifname != nullptr) {
        ptp_show_item("/oper/ptp/packet-counters/if/", args.ifname, "Failed to bind to Nodra path %s: %s\n",
                      "Failed to get packet counter information: %s\n", print_interface_counters);
        return 0;
    }
    char path[128];
    if (!ptp_show_build_path("", path, sizeof path))
        return 0;
    ptp_show_item(path, "packet-counters", "Failed to bind to Nodra path %s: %s\n",
                  "Failed to get packet counter information: %s\n", print_node_counters);
    return 0;
}
