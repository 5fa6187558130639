// The counter tools: each view's whole output for small fixtures against its golden text, their
// option rules and failures as tables, and which action items each clear writes.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "evm_test_thread.h"
#include "nodra_test.h"
#include "ptp_bags.h"
#include "ptp_show_fixture.h"
#include "ptp_show_utils.h"
#include "ptp_zerr_codes.h"
#include "sysmgr_test.h"

namespace {

// Counts that differ field by field, from first in steps; the record's own totals are left
// wrong on purpose: the tool adds up the rows it shows.
ptp_bag_packet_counters counters_from(uint32_t first, uint32_t step)
{
    ptp_bag_packet_counters c{};
    uint32_t value = first;
#define PTP_SHOW_TEST_COUNT(S, name, format, type) S.name = (value += step);
    PTP_BAG_DEF_128(PTP_SHOW_TEST_COUNT, c)
#undef PTP_SHOW_TEST_COUNT
    c.TotalPacketsSent = c.TotalPacketsReceived = c.TotalPacketsDropped = 7;
    return c;
}

ptp_bag_peer_packet_counters peer(uint32_t encap, uint32_t first)
{
    ptp_bag_peer_packet_counters p{};
    p.Address.Encapsulation = static_cast<ptp_bag_encap>(encap);
    if (encap == PTP_BAG_ENCAP_Ethernet) {
        const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
        memcpy(p.Address.value.MACAddress.macaddr, mac, 6);
    } else if (encap == PTP_BAG_ENCAP_IPv4) {
        p.Address.value.IPv4Address = htonl(0x0a000000 | first);
    } else {
        const uint8_t v6[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
        memcpy(p.Address.value.IPv6Address.IPv6Address, v6, 16);
    }
    p.Counters = counters_from(first * 1000, 3);
    return p;
}

// One interface with a peer of each kind (two IPv4, one Ethernet, one IPv6), and one node whose
// drop reasons need more than 32 bits in their total.
struct packets_fixture {
    ptp_bag_peer_packet_counters peers[4] = {peer(PTP_BAG_ENCAP_IPv4, 1), peer(PTP_BAG_ENCAP_Ethernet, 2),
                                             peer(PTP_BAG_ENCAP_IPv6, 3), peer(PTP_BAG_ENCAP_IPv4, 2)};
    ptp_if_packet_counter_info intf{"Gi0/1/0/1", counters_from(100, 11), {4, peers}, 1};
    ptp_node_packet_counter_info node{counters_from(5000, 101), {}};
    ptp_show_provider agent{"/oper/ptp/packet-counters/if/"};

    packets_fixture()
    {
        uint32_t *reasons = &node.DropReasons.NotReady;
        for (uint32_t i = 0; i < 32; ++i)
            reasons[i] = i + 1;
        node.DropReasons.NotReady = node.DropReasons.IPV4VerifyChecksum = 0xffffffffu;
        agent.add(intf.Name, &intf, ptp_if_packet_counter_info_bag_getfn());
        ptp_show_store_bag("/oper/ptp/node/10/packet-counters", &node, ptp_node_packet_counter_info_bag_getfn());
    }
};

TEST(ShowCounters, PacketsOfAnInterfaceItsPeersAndANode)
{
    ptp_show_test_reset();
    packets_fixture f;
    sysmgr_test_set_node(0x10);
    const std::vector<std::vector<std::string>> runs = {
        {"-i", "Gi0/1/0/1"},
        {"-i", "Gi0/1/0/1", "-d"},
        {"-i", "Gi0/1/0/1", "-u", "0x0A000001"},
        {"-i", "Gi0/1/0/1", "-e", "0x0011", "-f", "0x2233", "-g", "0x4455"},
        {"-h", "0x10"},
    };
    std::string out;
    for (const auto &args : runs)
        out += ptp_show_run(ptp_show_packets_tool_main, args) + "--\n";
    ptp_show_expect_golden("packets.txt", out);

    // The master's address word is a host-order number in any base; one heard nowhere shows nothing.
    EXPECT_EQ(ptp_show_run(ptp_show_packets_tool_main, {"-i", "Gi0/1/0/1", "-u", "167772161"}),
              ptp_show_run(ptp_show_packets_tool_main, runs[2]));
    EXPECT_EQ(ptp_show_run(ptp_show_packets_tool_main, {"-i", "Gi0/1/0/1", "-u", "0x0A000009"}), "");
    EXPECT_EQ(ptp_show_run(ptp_show_packets_tool_main, {"-i", "Gi0/1/0/1", "-e", "0x0011"}), "");
    // Without -i or -h: the own node.
    EXPECT_EQ(ptp_show_run(ptp_show_packets_tool_main, {}), ptp_show_run(ptp_show_packets_tool_main, {"-h", "16"}));
}

// The option rules in their order, and the failures: each row a run and its whole output.
TEST(ShowCounters, PacketOptionsAndFailures)
{
    ptp_show_test_reset();
    packets_fixture f;
    sysmgr_test_set_node(0x10);
    const std::string node = ptp_show_run(ptp_show_packets_tool_main, {"-h", "0x10"});
    const std::string under = "The detail and master options are only valid under an interface\n";
    struct case_type {
        std::vector<std::string> args;
        std::string out;
    };
    const case_type cases[] = {
        {{"-d"}, under},
        {{"-u", "1"}, under},
        {{"-g", "1", "-h", "0x10"}, under},
        {{"-i", "Gi0/1/0/1", "-u", "1", "-e", "2"}, "Only one master can be specified\n"},
        {{"-i", "Gi0/1/0/1", "-d", "-f", "3"}, "Only one of the detail and master options can be set\n"},
        {{"-i", "Gi0/1/0/1", "-h", "0x10"}, "Only one of interface or location must be specified\n"},
        {{"-i", "Gi0/9/9/9"}, ""},
        {{"-h", "0x30"}, ""},
        {{"-u"}, "Option 'u' missing argument\n" + node},
        // A master's word that does not fit, or is no number, is refused, not cut down to another
        // master's; the largest that fits is taken.
        {{"-i", "Gi0/1/0/1", "-u", "0x100000001"},
         "Option 'u' value '0x100000001' is not a number of at most 32 bits\n"},
        {{"-i", "Gi0/1/0/1", "-u", "-1"}, "Option 'u' value '-1' is not a number of at most 32 bits\n"},
        {{"-i", "Gi0/1/0/1", "-u", "10.0.0.1"}, "Option 'u' value '10.0.0.1' is not a number of at most 32 bits\n"},
        {{"-i", "Gi0/1/0/1", "-u", "0xFFFFFFFF"}, ""},
        {{"-i", "Gi0/1/0/1", "-e", "0x10011", "-f", "0x2233", "-g", "0x4455"},
         "Option 'e' value '0x10011' is not a number of at most 16 bits\n"},
        {{"-i", "Gi0/1/0/1", "-e", "0x0011", "-f", "74565", "-g", "0x4455"},
         "Option 'f' value '74565' is not a number of at most 16 bits\n"},
        {{"-i", "Gi0/1/0/1", "-e", "0x0011", "-f", "0x2233", "-g", "0x4455x"},
         "Option 'g' value '0x4455x' is not a number of at most 16 bits\n"},
        {{"-i", "Gi0/1/0/1", "-g", ""}, "Option 'g' value '' is not a number of at most 16 bits\n"},
        {{"-i", "Gi0/1/0/1", "-e", "0xFFFF"}, ""},
        // The value is refused before the rules of the options' combinations.
        {{"-e", "0x10000"}, "Option 'e' value '0x10000' is not a number of at most 16 bits\n"},
        {{"-x", "-h", "16"}, "Unknown argument 'x'\n" + node},
    };
    for (const case_type &c : cases)
        EXPECT_EQ(ptp_show_run(ptp_show_packets_tool_main, c.args), c.out) << c.args[0] << " " << c.args.back();

    ptp_show_store_garbage("/oper/ptp/node/20/packet-counters");
    EXPECT_EQ(ptp_show_run(ptp_show_packets_tool_main, {"-h", "0x20"}),
              "Failed to decode packet counter bag: " + ptp_show_decode_error_text() + "\n");
    sysmgr_test_reset();
    EXPECT_EQ(ptp_show_run(ptp_show_packets_tool_main, {}).rfind("Unable to obtain current node ID: ", 0), 0u);
    nodra_test_fail(nodra_test_op::bind, PTP_ZERR_NOMEM, 1);
    EXPECT_EQ(ptp_show_run(ptp_show_packets_tool_main, {"-h", "0x10"}),
              std::string("Failed to bind to Nodra path /oper/ptp/node/10/: ") + zerr_strerror(PTP_ZERR_NOMEM) + "\n");
}

template <size_t N>
void fill(uint32_t (&counts)[N], uint32_t first)
{
    for (size_t i = 0; i < N; ++i)
        counts[i] = first + static_cast<uint32_t>(i);
}

TEST(ShowCounters, EventsOfAnInterfaceANodeAndTheController)
{
    ptp_show_test_reset();
    ptp_if_event_counter_info intf{};
    fill(intf.ProtocolThreadEventCounters, 1);
    fill(intf.IPCThreadEventCounters, 101);
    ptp_show_provider agent("/oper/ptp/event-counters/if/");
    agent.add("Gi0/1/0/1", &intf, ptp_if_event_counter_info_bag_getfn());
    ptp_node_event_counter_info node{};
    fill(node.InterfaceProtocolThreadEventCounters, 11);
    fill(node.InterfaceIPCThreadEventCounters, 1101);
    fill(node.NodeEventCounters, 4000000000u);
    ptp_show_store_bag("/oper/ptp/node/10/ma-event-counters", &node, ptp_node_event_counter_info_bag_getfn());
    ptp_show_expect_golden("events.txt", ptp_show_run(ptp_show_events_tool_main, {"-i", "Gi0/1/0/1"}) + "--\n" +
                                             ptp_show_run(ptp_show_events_tool_main, {"-h", "0x10"}));

    // Two nodes with the controller's counters and one without: a table each, in node-list order,
    // without a heading.
    sardo_event_counter_info first{}, second{};
    fill(first.GlobalEventCounters, 1);
    fill(second.GlobalEventCounters, 201);
    ptp_show_store_bag("/oper/ptp/node/100/ctrlr-event-counters", &first, sardo_event_counter_info_bag_getfn());
    ptp_show_store_bag("/oper/ptp/node/20/ctrlr-event-counters", &second, sardo_event_counter_info_bag_getfn());
    const std::string both = ptp_show_run(ptp_show_controller_events_main, {});
    ptp_show_expect_golden("controller_events.txt", both);
    EXPECT_EQ(ptp_show_run(ptp_show_controller_events_main, {"-h", "0x100"}) +
                  ptp_show_run(ptp_show_controller_events_main, {"-h", "32"}),
              both);
}

TEST(ShowCounters, EventOptionsAndFailures)
{
    ptp_show_test_reset();
    sysmgr_test_set_node(0x10);
    ptp_show_store_garbage("/oper/ptp/node/10/ma-event-counters");
    ptp_show_store_garbage("/oper/ptp/event-counters/if/x");
    ptp_show_store_garbage("/oper/ptp/node/10/ctrlr-event-counters");
    const std::string failed = ptp_show_decode_error_text() + "\n";
    const std::string node = "Failed to decode node event counter bag: " + failed;
    struct case_type {
        int (*entry)(int, char **);
        std::vector<std::string> args;
        std::string out;
    };
    const case_type cases[] = {
        {ptp_show_events_tool_main, {"-i", "x", "-h", "0x10"}, "Only one of interface or location must be specified\n"},
        {ptp_show_events_tool_main, {"-i", "Gi0/9/9/9"}, ""},
        {ptp_show_events_tool_main, {"-h", "0x20"}, ""},
        {ptp_show_events_tool_main, {"-i", "x"}, "Failed to decode interface event counter bag: " + failed},
        {ptp_show_events_tool_main, {}, node},
        {ptp_show_events_tool_main, {"-h"}, "Option 'h' missing argument\n" + node},
        {ptp_show_events_tool_main, {"-d", "-h", "16"}, "Unknown argument 'd'\n" + node},
        {ptp_show_controller_events_main, {"-h", "0x10"}, "Failed to decode global events bag: " + failed},
        {ptp_show_controller_events_main, {"-h", "0x20"}, ""},
        // A node number that does not fit is refused, never cut down to another node's.
        {ptp_show_events_tool_main,
         {"-h", "0x100000010"},
         "Option 'h' value '0x100000010' is not a number of at most 32 bits\n"},
        {ptp_show_controller_events_main,
         {"-h", "0x10 "},
         "Option 'h' value '0x10 ' is not a number of at most 32 bits\n"},
        {ptp_show_controller_events_main,
         {"-i"},
         "Unknown argument 'i'\nFailed to decode global events bag: " + failed},
    };
    for (const case_type &c : cases)
        EXPECT_EQ(ptp_show_run(c.entry, c.args), c.out) << (c.args.empty() ? "" : c.args[0]);
    nodra_test_fail(nodra_test_op::bind, PTP_ZERR_NOMEM, 1);
    EXPECT_EQ(ptp_show_run(ptp_show_controller_events_main, {"-h", "0x10"}),
              std::string("Failed to bind to Nodra on path '/oper/ptp/node/10/ctrlr-event-counters': ") +
                  zerr_strerror(PTP_ZERR_NOMEM) + "\n");
}

// Every action item below "/action/ptp/", as the agents and the controller serve them: each set
// is recorded ("path=value"); an item can be made to fail with a code.
struct action_provider {
    evm_thread thread;
    nodra_conn_td *conn = nullptr;
    uint32_t reg = 0;
    std::mutex lock;
    std::vector<std::string> sets;
    std::map<std::string, zerrno> failing;

    action_provider()
    {
        thread.run([&] {
            ASSERT_EQ(_nodra_bind(&conn, "/action/ptp/", 0), ZERR_OK);
            nodra_edm_fns_td fns;
            nodra_edm_fns_init(&fns);
            nodra_edm_fns_set_init(&fns, serve);
            ASSERT_EQ(nodra_register_edm2(conn, "", &fns, thread.evm, this, 0, &reg), ZERR_OK);
        });
    }
    ~action_provider()
    {
        thread.run([&] {
            nodra_edm_unregister(reg);
            _nodra_unbind(conn);
        });
    }
    static zerrno serve(nodra_edm_request_td *q, void *)
    {
        auto *self = static_cast<action_provider *>(const_cast<void *>(q->item_table));
        std::lock_guard<std::mutex> g(self->lock);
        uint32_t value = 0xffffffffu;
        if (q->set_type == NODRA_ITEM_DATATYPE_UINT32 && q->set_length == sizeof value)
            memcpy(&value, q->set_data, sizeof value);
        self->sets.push_back(std::string(q->path) + "=" + std::to_string(value));
        auto it = self->failing.find(q->path);
        return it == self->failing.end() ? ZERR_OK : it->second;
    }
    std::vector<std::string> take()
    {
        std::lock_guard<std::mutex> g(lock);
        return std::move(sets);
    }
};

// Which items each clear writes (a u32 0 each), in order, and what it prints: a failed item is
// reported and the others are cleared all the same; an unknown one is passed over in silence.
TEST(ShowCounters, ClearWritesTheItemsOfTheGroupsAndScopesAsked)
{
    ptp_show_test_reset();
    ptp_show_provider interfaces("/oper/ptp/interface/if/");
    ptp_summary_info any{};
    interfaces.add("Gi0/1/0/1", &any, ptp_summary_info_bag_getfn());
    interfaces.add("Gi0/2/0/1", &any, ptp_summary_info_bag_getfn());
    ptp_show_store_garbage("/oper/ptp/node/10/summary");
    ptp_show_store_garbage("/oper/ptp/node/20/summary");
    action_provider actions;
    actions.failing["node/20/packet-counters"] = PTP_ZERR_NOMEM;
    actions.failing["packet-counters/if/Gi0/9/9/9"] = NODRA_ERR_EDM_NOT_FOUND;
    using items = std::vector<std::string>;
    // A name longer than any interface's is passed on whole, never cut to another's.
    const std::string long_name = "Gi0/1/0/1." + std::string(150, '7');
    struct case_type {
        std::vector<std::string> args;
        items set;
        std::string out;
    };
    const case_type cases[] = {
        {{"-p", "-i", "Gi0/1/0/1"}, {"packet-counters/if/Gi0/1/0/1=0"}, ""},
        {{"-p", "-e", "-g", "-i", "Gi0/1/0/1"},
         {"packet-counters/if/Gi0/1/0/1=0", "event-counters/if/Gi0/1/0/1=0"},
         ""},
        // The controller's counters are node items only.
        {{"-g", "-i", "Gi0/1/0/1"}, {}, ""},
        {{"-g"}, {}, ""},
        {{"-e", "-g", "-h", "0x10"}, {"node/10/ma-event-counters=0", "node/10/ctrlr-event-counters=0"}, ""},
        {{"-p", "-i", "Gi0/1/0/1", "-h", "16"}, {"packet-counters/if/Gi0/1/0/1=0", "node/10/packet-counters=0"}, ""},
        {{"-p", "-e", "-h", "0x20"},
         {"node/20/packet-counters=0", "node/20/ma-event-counters=0"},
         std::string("Failed to clear item 'node/20/packet-counters': ") + zerr_strerror(PTP_ZERR_NOMEM) + "\n"},
        {{"-p", "-i", "Gi0/9/9/9"}, {"packet-counters/if/Gi0/9/9/9=0"}, ""},
        {{"-e", "-i", long_name}, {"event-counters/if/" + long_name + "=0"}, ""},
        {{"-a"}, {}, ""},
        {{"-p", "-e", "-g", "-a", "-h", "0x99"},
         {"packet-counters/if/Gi0/1/0/1=0", "event-counters/if/Gi0/1/0/1=0", "packet-counters/if/Gi0/2/0/1=0",
          "event-counters/if/Gi0/2/0/1=0", "node/10/packet-counters=0", "node/10/ma-event-counters=0",
          "node/10/ctrlr-event-counters=0", "node/20/packet-counters=0", "node/20/ma-event-counters=0",
          "node/20/ctrlr-event-counters=0"},
         std::string("Failed to clear item 'node/20/packet-counters': ") + zerr_strerror(PTP_ZERR_NOMEM) + "\n"},
        {{"-p", "-x", "-h"}, {}, "Unknown argument 'x'\nOption 'h' missing argument\n"},
    };
    for (const case_type &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        EXPECT_EQ(ptp_show_run(ptp_clear_counters_main, c.args), c.out);
        EXPECT_EQ(actions.take(), c.set);
    }
    nodra_test_fail(nodra_test_op::bind, PTP_ZERR_NOMEM, 1);
    EXPECT_EQ(ptp_show_run(ptp_clear_counters_main, {"-p", "-h", "0x10"}),
              std::string("Failed to bind to Nodra: ") + zerr_strerror(PTP_ZERR_NOMEM) + "\n");
    EXPECT_EQ(actions.take(), items{});
}

} // namespace
