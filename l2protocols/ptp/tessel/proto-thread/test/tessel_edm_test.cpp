// The agent's operational data served through the test database: per-interface items by get,
// list and data list (in pages), the node items, the deferral of packet-counter requests until
// the offload statistics arrive, and the clear actions.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "evm_test_thread.h"
#include "nodra.h"
#include "nodra_test.h"
#include "ptp_bags.h"
#include "shmwin.h"
#include "tessel_edm.h"
#include "tessel_ipc_db.h"
#include "tessel_proto_db.h"
#include "tessel_stats.h"

extern bool fake_is_proto_thread;

// Recording fakes of the offload statistics and the parked inter-thread reply.
namespace {
uint32_t fake_stats_pending;
std::vector<uint32_t> fake_stats_cleared; // interface handles
std::atomic<nodra_edm_request_td *> parked_request{nullptr};
std::vector<zerrno> parked_replies;
} // namespace

zerrno tessel_offload_get_stats(uint32_t *pending)
{
    *pending = fake_stats_pending;
    return 0;
}
void tessel_offload_clear_stats(ifhtype ifhandle)
{
    fake_stats_cleared.push_back(ifhandle);
}
void tessel_thread_ctrl_reply(zerrno result)
{
    parked_replies.push_back(result);
    nodra_edm_request_td *request = parked_request.exchange(nullptr);
    ASSERT_NE(request, nullptr);
    nodra_edm_resume(request, result);
}

namespace {

// What only the IPC thread does to its records (the test serves both threads' records on one).
template <typename Fn>
zerrno ipc_side(Fn fn)
{
    fake_is_proto_thread = false;
    const zerrno rc = fn();
    fake_is_proto_thread = true;
    return rc;
}

// The IPC thread's callbacks, as the inter-thread messages would carry them.
zerrno on_request(nodra_edm_request_td *request, void *)
{
    zerrno rc = 0;
    switch (request->op) {
    case 1: rc = tessel_edm_get(request); break;
    case 2: rc = tessel_edm_list(request); break;
    case 3: rc = tessel_edm_datalist(request); break;
    default: rc = tessel_edm_set(request); break;
    }
    if (rc == NODRA_EDM_IN_PROGRESS) {
        parked_request = request;
    }
    return rc;
}

struct port_fixture {
    const char *name;
    ifhtype handle;
    bool proto; // the protocol thread has a record
    uint32_t state;
    uint16_t port_num;
};
// Five interfaces; the protocol thread knows four of them.
const port_fixture ports[] = {
    {"Gi0/0/0/1", 0x101, true, PTP_PORT_STATE_SLAVE, 1},
    {"Gi0/0/0/2", 0x102, true, PTP_PORT_STATE_UNCALIBRATED, 2},
    {"Gi0/0/0/3", 0x103, true, PTP_PORT_STATE_MASTER, 3},
    {"Gi0/0/0/4", 0, true, PTP_PORT_STATE_LISTEN, 0},
    {"Gi0/0/0/5", 0x105, false, 0, 0},
};

class EdmTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char name[] = "/tmp/tessel_edm_libXXXXXX";
        const int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        close(fd);
        library = name;
    }
    static void TearDownTestSuite() { unlink(library.c_str()); }

    void SetUp() override
    {
        nodra_test_reset();
        nodra_test_set_client_library_path(library.c_str());
        ASSERT_EQ(bag_register_all_ptp_bags(), 0u);
        prefix = "tessel_edm_test." + std::to_string(getpid()) + ".";
        shmwin_test_set_prefix(prefix.c_str());
        shmwin_test_unlink(TESSEL_STATS_SHMWIN_NAME);
        fake_is_proto_thread = true;
        fake_stats_pending = 0;
        fake_stats_cleared.clear();
        parked_replies.clear();
        provider.run([this] {
            ASSERT_EQ(ipc_side([] { return tessel_ipc_db_init(); }), 0u);
            ASSERT_EQ(tessel_proto_db_init(), 0u);
            ASSERT_EQ(tessel_stats_init(), 0u);
            serve("/oper/ptp/packet-counters/if/", tessel_edm_if_schemas[2]);
            serve("/oper/ptp/event-counters/if/", tessel_edm_if_schemas[4]);
            serve("/action/ptp/packet-counters/if/", tessel_edm_if_schemas[9]);
            serve("/action/ptp/event-counters/if/", tessel_edm_if_schemas[10]);
            serve("/oper/ptp/&&/", &tessel_edm_node_oper_schema);
            serve("/action/ptp/&&/", &tessel_edm_node_action_schema);
        });
        ASSERT_EQ(nodra_bind(&asker, "/oper/ptp/", 0), 0u);
        ASSERT_EQ(nodra_bind(&actor, "/action/ptp/", 0), 0u);
    }
    void TearDown() override
    {
        nodra_unbind(asker);
        nodra_unbind(actor);
        provider.run([this] {
            for (uint32_t id : registrations) {
                nodra_edm_unregister(id);
            }
            for (nodra_conn_td *conn : bindings) {
                nodra_unbind(conn);
            }
            for (const port_fixture &p : ports) {
                tessel_proto_idb_type *proto = nullptr;
                if (tessel_proto_db_get_by_ifname(p.name, &proto) == 0 && proto != nullptr) {
                    tessel_stats_delete_intf_stats_entry(proto);
                    tessel_proto_db_delete(proto);
                }
                tessel_ipc_idb_type *idb = nullptr;
                if (tessel_ipc_db_get_by_ifname(p.name, &idb) == 0 && idb != nullptr) {
                    ipc_side([&] {
                        tessel_ipc_db_delete(idb);
                        return 0u;
                    });
                }
            }
            tessel_proto_db_cleanup();
            ipc_side([] {
                tessel_ipc_db_destroy();
                return 0u;
            });
            tessel_stats_close();
        });
        shmwin_test_unlink(TESSEL_STATS_SHMWIN_NAME);
        nodra_test_reset();
    }

    void serve(const char *path, const backend_schema_td *schema)
    {
        nodra_conn_td *conn = nullptr;
        ASSERT_EQ(nodra_bind(&conn, path, 1), 0u);
        nodra_edm_fns_td fns;
        nodra_edm_fns_init(&fns);
        nodra_edm_fns_get_init(&fns, on_request);
        nodra_edm_fns_list_init(&fns, on_request);
        nodra_edm_fns_datalist_init(&fns, on_request);
        nodra_edm_fns_set_init(&fns, on_request);
        uint32_t id = 0;
        ASSERT_EQ(nodra_register_edm2(conn, "", &fns, provider.evm, schema, 0, &id), 0u);
        bindings.push_back(conn);
        registrations.push_back(id);
    }

    // The fixture's interfaces with distinct counters: port i counts i+1 of everything.
    void add_ports()
    {
        provider.run([] {
            for (uint32_t i = 0; i < std::size(ports); i++) {
                const port_fixture &p = ports[i];
                tessel_ipc_idb_type *idb = nullptr;
                ASSERT_EQ(ipc_side([&] { return tessel_ipc_db_create(p.name, &idb); }), 0u);
                for (uint32_t k = 0; k < TESSEL_IPC_IDB_EVENT_COUNT; k++) {
                    idb->event_counters[k] = 100 * (i + 1) + k;
                }
                if (!p.proto) {
                    continue;
                }
                tessel_proto_idb_type *proto = nullptr;
                ASSERT_EQ(tessel_proto_db_create(p.name, &proto), 0u);
                if (p.handle != 0) {
                    tessel_proto_db_add_ifhandle(p.handle, proto);
                    ASSERT_EQ(tessel_stats_intf_create_stats_entry(proto), 0u);
                }
                proto->fsm.PortState = p.state;
                proto->port_num = p.port_num;
                for (uint32_t k = 0; k < TESSEL_PROTO_IDB_EVENT_COUNT; k++) {
                    proto->event_counters[k] = 10 * (i + 1) + k;
                }
                if (proto->packet_counters != nullptr) {
                    tessel_stats_increment_packet_drop_counter(proto, TESSEL_PACKET_COUNTER_SYNC, i + 1);
                    tessel_stats_increment_packet_drop_counter(proto, TESSEL_PACKET_COUNTER_ANNOUNCE, 2 * (i + 1));
                }
            }
        });
    }

    template <typename Bag>
    zerrno get_bag(const std::string &path, const bag_descriptor_type *descriptor, Bag *out)
    {
        uint32_t type = NODRA_ITEM_DATATYPE_BAG;
        void *data = nullptr;
        uint32_t length = 0;
        const zerrno rc = nodra_item_get(asker, path.c_str(), &type, &data, &length, 0);
        if (rc == 0) {
            EXPECT_EQ(type, NODRA_ITEM_DATATYPE_BAG);
            EXPECT_EQ(bag_decode(static_cast<const uint8_t *>(data), length, out, descriptor), 0u);
        }
        free(data);
        return rc;
    }

    std::vector<std::string> list_names(const char *path)
    {
        uint32_t count = 0;
        nodra_list_td *list = nullptr;
        std::vector<std::string> out;
        if (nodra_list(asker, path, "", &count, &list, 0) != 0) {
            return out;
        }
        const char *name = nullptr;
        while (nodra_list_next(list, &name) == 0) {
            out.emplace_back(name);
        }
        nodra_list_free(list);
        return out;
    }

    zerrno clear(const std::string &path)
    {
        const uint32_t one = 1;
        return nodra_item_set(actor, path.c_str(), NODRA_ITEM_DATATYPE_UINT32, &one, sizeof one, 0);
    }

    // "node/<id>/": this node's items below "/oper/ptp/" and "/action/ptp/".
    std::string node_prefix() { return std::string(nodra_conn_path(bindings[4])).substr(std::strlen("/oper/ptp/")); }

    static inline std::string library;
    std::string prefix;
    evm_thread provider;
    nodra_conn_td *asker = nullptr;
    nodra_conn_td *actor = nullptr;
    std::vector<nodra_conn_td *> bindings;
    std::vector<uint32_t> registrations;
};

TEST_F(EdmTest, EventCountersOfBothThreadsFieldByField)
{
    add_ports();
    ptp_if_event_counter_info bag{};
    ASSERT_EQ(get_bag("event-counters/if/Gi0/0/0/2", ptp_if_event_counter_info_bag_getfn(), &bag), 0u);
    for (uint32_t k = 0; k < TESSEL_PROTO_IDB_EVENT_COUNT; k++) {
        EXPECT_EQ(bag.ProtocolThreadEventCounters[k], 20 + k) << k;
    }
    for (uint32_t k = 0; k < TESSEL_IPC_IDB_EVENT_COUNT; k++) {
        EXPECT_EQ(bag.IPCThreadEventCounters[k], 200 + k) << k;
    }
    // Not yet known to the protocol thread: its counters read 0, the IPC thread's are there.
    ptp_if_event_counter_info fresh{};
    ASSERT_EQ(get_bag("event-counters/if/Gi0/0/0/5", ptp_if_event_counter_info_bag_getfn(), &fresh), 0u);
    EXPECT_EQ(fresh.ProtocolThreadEventCounters[0], 0u);
    EXPECT_EQ(fresh.IPCThreadEventCounters[3], 503u);
    ptp_if_event_counter_info none{};
    EXPECT_EQ(get_bag("event-counters/if/Gi0/0/0/9", ptp_if_event_counter_info_bag_getfn(), &none), 0x40828600u);
}

TEST_F(EdmTest, ListsAndDataListsWalkMorePagesThanOne)
{
    add_ports();
    nodra_test_set_list_page_size(2);
    const std::vector<std::string> all = {"Gi0/0/0/1", "Gi0/0/0/2", "Gi0/0/0/3", "Gi0/0/0/4", "Gi0/0/0/5"};
    EXPECT_EQ(list_names("event-counters/if/"), all);

    uint32_t count = 0;
    nodra_datalist_td *list = nullptr;
    ASSERT_EQ(nodra_datalist(asker, "event-counters/if/", "", &count, &list, 0), 0u);
    std::vector<std::string> names;
    const char *name = nullptr;
    uint32_t type = 0;
    const void *data = nullptr;
    uint32_t length = 0;
    while (nodra_datalist_next(list, &name, &type, &data, &length, 0) == 0) {
        names.emplace_back(name);
        ptp_if_event_counter_info bag{};
        ASSERT_EQ(bag_decode(static_cast<const uint8_t *>(data), length, &bag, ptp_if_event_counter_info_bag_getfn()),
                  0u);
        const uint32_t i = static_cast<uint32_t>(names.size());
        EXPECT_EQ(bag.IPCThreadEventCounters[0], 100 * i) << name;
    }
    nodra_datalist_free(list);
    EXPECT_EQ(names, all);
}

TEST_F(EdmTest, SummaryCountsPortsByState)
{
    const std::string node = node_prefix();
    ptp_summary_info empty{};
    ASSERT_EQ(get_bag(node + "summary", ptp_summary_info_bag_getfn(), &empty), 0u);
    EXPECT_EQ(empty.TotalInterfaces, 0u);
    EXPECT_EQ(empty.PortStateSlaveCount, 0u);

    add_ports();
    ptp_summary_info bag{};
    ASSERT_EQ(get_bag(node + "summary", ptp_summary_info_bag_getfn(), &bag), 0u);
    EXPECT_EQ(bag.TotalInterfaces, 4u);
    EXPECT_EQ(bag.TotalInterfacesValidPortNum, 3u);
    EXPECT_EQ(bag.PortStateSlaveCount, 1u);
    EXPECT_EQ(bag.PortStateUncalibratedCount, 1u);
    EXPECT_EQ(bag.PortStateMasterCount, 1u);
    EXPECT_EQ(bag.PortStateListeningCount, 1u);
    EXPECT_EQ(bag.PortStateInitCount + bag.PortStatePassiveCount + bag.PortStatePreMasterCount +
                  bag.PortStateFaultyCount,
              0u);
}

TEST_F(EdmTest, NodeEventCountersInTheBagsOrder)
{
    provider.run([] {
        tessel_node_event_counters_type *block = tessel_stats_get_node_event_counters();
        ASSERT_NE(block, nullptr);
        for (uint32_t k = 0; k < TESSEL_STATS_IPC_IDB_EVENT_COUNT; k++) {
            block->ipc_idb[k] = 100 + k;
        }
        for (uint32_t k = 0; k < TESSEL_STATS_PROTO_IDB_EVENT_COUNT; k++) {
            block->proto_idb[k] = 10 + k;
        }
        for (uint32_t k = 0; k < TESSEL_NODE_EVENT_COUNT; k++) {
            block->node[k] = 1000 + k;
        }
    });
    const std::string node = node_prefix();
    ptp_node_event_counter_info bag{};
    ASSERT_EQ(get_bag(node + "ma-event-counters", ptp_node_event_counter_info_bag_getfn(), &bag), 0u);
    EXPECT_EQ(bag.InterfaceProtocolThreadEventCounters[4], 14u);
    EXPECT_EQ(bag.InterfaceIPCThreadEventCounters[11], 111u);
    EXPECT_EQ(bag.NodeEventCounters[25], 1025u);

    ASSERT_EQ(clear(node + "ma-event-counters"), 0u);
    ASSERT_EQ(get_bag(node + "ma-event-counters", ptp_node_event_counter_info_bag_getfn(), &bag), 0u);
    EXPECT_EQ(bag.InterfaceIPCThreadEventCounters[11] + bag.NodeEventCounters[25], 0u);
}

TEST_F(EdmTest, PacketCounterGetWaitsForTheOffloadStatistics)
{
    add_ports();
    // Nothing outstanding: answered at once, interface counters with per-class sums.
    ptp_if_packet_counter_info bag{};
    ASSERT_EQ(get_bag("packet-counters/if/Gi0/0/0/3", ptp_if_packet_counter_info_bag_getfn(), &bag), 0u);
    EXPECT_STREQ(bag.Name, "Gi0/0/0/3");
    EXPECT_EQ(bag.Counters.SyncDropped, 3u);
    EXPECT_EQ(bag.Counters.AnnounceDropped, 6u);
    EXPECT_EQ(bag.Counters.TotalPacketsDropped, 9u);
    EXPECT_EQ(bag.internal_port_number, 3u);
    bag_free_indirections(&bag, ptp_if_packet_counter_info_bag_getfn());
    EXPECT_TRUE(parked_replies.empty());

    // Statistics outstanding: the reply waits; when they arrive it carries the counters as then.
    fake_stats_pending = 1;
    ptp_if_packet_counter_info later{};
    zerrno asked = 1;
    std::thread ask(
        [&] { asked = get_bag("packet-counters/if/Gi0/0/0/3", ptp_if_packet_counter_info_bag_getfn(), &later); });
    while (parked_request.load() == nullptr) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    provider.run([] {
        tessel_proto_idb_type *proto = nullptr;
        ASSERT_EQ(tessel_proto_db_get_by_ifname("Gi0/0/0/3", &proto), 0u);
        tessel_stats_increment_packet_drop_counter(proto, TESSEL_PACKET_COUNTER_SYNC, 4);
        tessel_edm_resume_packet_counters_request();
    });
    ask.join();
    ASSERT_EQ(asked, 0u);
    EXPECT_EQ(later.Counters.SyncDropped, 7u);
    bag_free_indirections(&later, ptp_if_packet_counter_info_bag_getfn());
    EXPECT_EQ(parked_replies, std::vector<zerrno>{0});
}

TEST_F(EdmTest, ParkedRequestForAnInterfaceThatWentAwayIsAnsweredUnknown)
{
    add_ports();
    fake_stats_pending = 1;
    ptp_if_packet_counter_info bag{};
    zerrno asked = 1;
    std::thread ask(
        [&] { asked = get_bag("packet-counters/if/Gi0/0/0/2", ptp_if_packet_counter_info_bag_getfn(), &bag); });
    while (parked_request.load() == nullptr) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    provider.run([] {
        tessel_proto_idb_type *proto = nullptr;
        ASSERT_EQ(tessel_proto_db_get_by_ifname("Gi0/0/0/2", &proto), 0u);
        tessel_stats_delete_intf_stats_entry(proto);
        tessel_proto_db_delete(proto);
        tessel_ipc_idb_type *idb = nullptr;
        ASSERT_EQ(tessel_ipc_db_get_by_ifname("Gi0/0/0/2", &idb), 0u);
        ipc_side([&] {
            tessel_ipc_db_delete(idb);
            return 0u;
        });
        // The statistics' time-out answers the saved request just the same.
        tessel_edm_resume_packet_counters_request();
    });
    ask.join();
    EXPECT_EQ(asked, 0x40828600u);
}

TEST_F(EdmTest, NodePacketCountersAndTheirClear)
{
    add_ports();
    const std::string node = node_prefix();
    ptp_node_packet_counter_info bag{};
    ASSERT_EQ(get_bag(node + "packet-counters", ptp_node_packet_counter_info_bag_getfn(), &bag), 0u);
    // Ports 1 to 3 have counter entries: Sync drops 1+2+3, Announce 2+4+6.
    EXPECT_EQ(bag.Counters.SyncDropped, 6u);
    EXPECT_EQ(bag.Counters.AnnounceDropped, 12u);
    EXPECT_EQ(bag.Counters.TotalPacketsDropped, 18u);

    ASSERT_EQ(clear(node + "packet-counters"), 0u);
    EXPECT_EQ(fake_stats_cleared, std::vector<uint32_t>{0}) << "every interface's offload statistics";
    ASSERT_EQ(get_bag(node + "packet-counters", ptp_node_packet_counter_info_bag_getfn(), &bag), 0u);
    EXPECT_EQ(bag.Counters.TotalPacketsDropped, 0u);
}

TEST_F(EdmTest, InterfaceClearsResetOnlyWhatTheyName)
{
    add_ports();
    ASSERT_EQ(clear("packet-counters/if/Gi0/0/0/1"), 0u);
    EXPECT_EQ(fake_stats_cleared, std::vector<uint32_t>{0x101});
    ptp_if_packet_counter_info one{};
    ASSERT_EQ(get_bag("packet-counters/if/Gi0/0/0/1", ptp_if_packet_counter_info_bag_getfn(), &one), 0u);
    EXPECT_EQ(one.Counters.TotalPacketsDropped, 0u);
    bag_free_indirections(&one, ptp_if_packet_counter_info_bag_getfn());
    ptp_if_packet_counter_info two{};
    ASSERT_EQ(get_bag("packet-counters/if/Gi0/0/0/2", ptp_if_packet_counter_info_bag_getfn(), &two), 0u);
    EXPECT_EQ(two.Counters.TotalPacketsDropped, 6u) << "another interface keeps its counters";
    bag_free_indirections(&two, ptp_if_packet_counter_info_bag_getfn());

    // No handle yet: nothing of the offload plugin's is reset (handle 0 would mean all of them).
    fake_stats_cleared.clear();
    ASSERT_EQ(clear("packet-counters/if/Gi0/0/0/4"), 0u);
    EXPECT_TRUE(fake_stats_cleared.empty());
    EXPECT_EQ(clear("packet-counters/if/Gi0/0/0/5"), 0x40828600u) << "no protocol record";

    // Event counters: an interface the protocol thread does not know clears its IPC side.
    ASSERT_EQ(clear("event-counters/if/Gi0/0/0/5"), 0u);
    ASSERT_EQ(clear("event-counters/if/Gi0/0/0/1"), 0u);
    ptp_if_event_counter_info ev{};
    ASSERT_EQ(get_bag("event-counters/if/Gi0/0/0/1", ptp_if_event_counter_info_bag_getfn(), &ev), 0u);
    EXPECT_EQ(ev.ProtocolThreadEventCounters[4] + ev.IPCThreadEventCounters[11], 0u);
    ASSERT_EQ(get_bag("event-counters/if/Gi0/0/0/2", ptp_if_event_counter_info_bag_getfn(), &ev), 0u);
    EXPECT_EQ(ev.IPCThreadEventCounters[11], 211u);
    EXPECT_EQ(clear("event-counters/if/Gi0/0/0/9"), 0x40828600u);
}

} // namespace
