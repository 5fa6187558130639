// The agent's operational data served through the test database: per-interface items by get,
// list and data list (in pages), the node items, the deferral of packet-counter requests until
// the offload statistics arrive, and the clear actions.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <time.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "evm_test_thread.h"
#include "nodra.h"
#include "nodra_test.h"
#include "ptp_address.h"
#include "ptp_bags.h"
#include "shmwin.h"
#include "tessel_cfg.h"
#include "tessel_edm.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_interop_config.h"
#include "tessel_ipc_db.h"
#include "tessel_offload.h"
#include "tessel_peer_index.h"
#include "tessel_port_mgr.h"
#include "tessel_proto_db.h"
#include "tessel_slave_db.h"
#include "tessel_stats.h"

extern bool fake_is_proto_thread;

// Recording fakes of the offload statistics and the parked inter-thread reply, and test-set
// values of the port manager, best-master list, capabilities and peer indices.
namespace {
uint32_t fake_profile;
uint32_t fake_clock_type = PTP_TELECOM_CLOCK_T_BC;
tessel_port_mgr_local_clock_type fake_local_clock{0x001122fffe334455ull, 24};
bool fake_local_clock_known = true;
ptp_clock_type fake_advertised{};
std::vector<std::pair<ptp_address_type, uint16_t>> fake_peer_indices;
} // namespace

uint32_t tessel_port_mgr_get_profile(void)
{
    return fake_profile;
}
uint32_t tessel_port_mgr_get_telecom_clock_type(void)
{
    return fake_clock_type;
}
const tessel_port_mgr_local_clock_type *tessel_port_mgr_get_local_clock(void)
{
    return fake_local_clock_known ? &fake_local_clock : nullptr;
}
const ptp_clock_type *tessel_bmc_get_advertised_clock(void)
{
    return &fake_advertised;
}
uint32_t tessel_bmc_is_slave_supported(uint32_t if_type)
{
    return if_type != 99; // the fixture's one type that cannot be a slave
}
uint8_t tessel_cfg_get_fsync_ql_option(void)
{
    return 1;
}
bool tessel_intf_caps_supports_one_step(void)
{
    return true;
}
bool tessel_intf_caps_supports_two_step(void)
{
    return true;
}
bool tessel_intf_caps_supports_ethernet(void)
{
    return true;
}
bool tessel_intf_caps_supports_multicast(void)
{
    return false;
}
bool tessel_intf_caps_supports_ipv6(void)
{
    return true;
}
bool tessel_intf_caps_supports_source_ip(void)
{
    return true;
}
bool tessel_intf_caps_supports_slave(void)
{
    return true;
}
uint8_t tessel_intf_caps_get_max_sync_rate(void)
{
    return 7;
}
namespace {
uint32_t fake_ipc_ptp_enable = 1;
} // namespace
uint32_t tessel_ipc_get_clock_profile(uint32_t *telecom_clock_type)
{
    if (telecom_clock_type != nullptr) {
        *telecom_clock_type = fake_clock_type;
    }
    return fake_profile;
}
uint32_t tessel_ipc_get_ptp_enable(void)
{
    return fake_ipc_ptp_enable;
}
uint8_t tessel_intf_caps_get_log_max_sync_rate(void)
{
    return 7;
}
bool tessel_packet_attach_requested(const tessel_proto_idb_type *)
{
    return true;
}
// Each kind of session reports one distinct state.
void tessel_offload_if_session_state_get(tessel_proto_idb_type *, tessel_offload_session_state_type *out)
{
    *out = {1, 1, 0, 0, 0};
}
void tessel_offload_unicast_peer_session_state_get(ptp_fsm_peer_entry_type *, tessel_offload_session_state_type *out)
{
    *out = {1, 0, 1, 0, 0};
}
void tessel_offload_foreign_master_session_state_get(ptp_fsm_foreign_master_type *,
                                                     tessel_offload_session_state_type *out)
{
    *out = {1, 0, 0, 1, 1};
}
zerrno tessel_peer_index_get(tessel_proto_idb_type *, const ptp_address_type *addr, ptp_peer_index_type *out)
{
    for (const auto &[a, index] : fake_peer_indices) {
        if (ptp_address_compare(&a, addr) == 0) {
            *out = index;
            return 0;
        }
    }
    return PTP_ZERR_DB_NO_ENTRY;
}

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
// List and data-list requests the provider was asked (one per page).
uint32_t page_requests;

zerrno on_request(nodra_edm_request_td *request, void *)
{
    if (request->op == 2 || request->op == 3) {
        page_requests++;
    }
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

int compare_foreign_masters(const void *a, const void *b, void *)
{
    return ptp_address_compare(&static_cast<const ptp_fsm_foreign_master_type *>(a)->peer_addr,
                               &static_cast<const ptp_fsm_foreign_master_type *>(b)->peer_addr);
}
int compare_peers(const void *a, const void *b, void *)
{
    return ptp_address_compare(&static_cast<const ptp_fsm_peer_entry_type *>(a)->peer_addr,
                               &static_cast<const ptp_fsm_peer_entry_type *>(b)->peer_addr);
}

ptp_address_type ipv4(uint8_t last)
{
    ptp_address_type a{};
    a.encap = PTP_ENCAP_IPV4;
    const uint8_t bytes[4] = {10, 0, 0, last};
    std::memcpy(a.value, bytes, sizeof bytes);
    return a;
}
uint32_t ipv4_value(uint8_t last)
{
    const ptp_address_type a = ipv4(last);
    uint32_t v = 0;
    std::memcpy(&v, a.value, sizeof v);
    return v;
}

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
        fake_profile = PTP_PROFILE_DEFAULT;
        fake_clock_type = PTP_TELECOM_CLOCK_T_BC;
        fake_local_clock_known = true;
        fake_advertised = ptp_clock_type{};
        fake_peer_indices.clear();
        fake_ipc_ptp_enable = 1;
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
            serve("/oper/ptp/interface/if/", tessel_edm_if_schemas[0]);
            serve("/oper/ptp/foreign-masters/if/", tessel_edm_if_schemas[1]);
            serve("/oper/ptp/unicast-peers/if/", tessel_edm_if_schemas[5]);
            serve("/oper/ptp/gl/dataset/port-ds/if/", tessel_edm_if_schemas[6]);
            serve("/oper/ptp/interop/if/", tessel_edm_if_schemas[8]);
            serve("/oper/ptp/idb/if/", tessel_edm_if_schemas[3]);
            serve("/oper/ptp/config-errors/if/", tessel_edm_if_schemas[7]);
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
                        tessel_master_db_destroy(&idb->applied_config.master_table);
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
                avl2_init(&proto->fsm.foreign_master_table, compare_foreign_masters, nullptr);
                avl2_init(&proto->fsm.unicast_peer_tree, compare_peers, nullptr);
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

    // Gi0/0/0/2 (Uncalibrated, port 2) has three foreign masters and one unicast slave:
    //   10.0.0.1 qualified, the advertised clock, two grants, priority configured, lost sync;
    //   10.0.0.2 class 110, not qualified, non-negotiated;  10.0.0.3 without a peer index.
    // Its IPC record: IPv4 with two addresses, a master table of 10.0.0.1 and 10.0.0.9.
    // Gi0/0/0/3 (Master, port 3) has one unicast slave and an interop configuration.
    void add_peers()
    {
        add_ports();
        clock_gettime(CLOCK_REALTIME, &now);
        provider.run([this] {
            tessel_ipc_idb_type *idb = nullptr;
            ASSERT_EQ(tessel_ipc_db_get_by_ifname("Gi0/0/0/2", &idb), 0u);
            idb->if_type = 15;
            idb->im_state = 3;
            tessel_if_config_type &c = idb->applied_config;
            c.encap = PTP_ENCAP_IPV4;
            c.announce_interval = 1;
            c.announce_timeout = 3;
            c.sync_interval = -4;
            c.delay_req_interval = -5;
            c.transport = PTP_TRANSPORT_UNICAST;
            c.clock_operation = 1;
            c.event_cos = 6;
            c.general_cos = 5;
            c.event_dscp = 46;
            c.general_dscp = 34;
            c.local_priority = 100;
            ASSERT_EQ(tessel_master_db_init(&c.master_table), 0u);
            tessel_master_db_type *m = nullptr;
            const ptp_address_type m1 = ipv4(1), m9 = ipv4(9);
            ASSERT_EQ(tessel_master_db_add(&c.master_table, &m1, &m), 0u);
            m->priority = 5;
            m->flags = TESSEL_MASTER_DB_PRIORITY_SET | TESSEL_MASTER_DB_NON_NEGOTIATED_SET;
            ASSERT_EQ(tessel_master_db_add(&c.master_table, &m9, &m), 0u);
            addresses = {ipv4_value(20), ipv4_value(21)};
            idb->ipv4_addr_list = static_cast<uint32_t *>(std::malloc(sizeof(uint32_t) * 2));
            std::memcpy(idb->ipv4_addr_list, addresses.data(), sizeof(uint32_t) * 2);
            idb->ipv4_addr_count = 2;
            idb->applied_ipv4_addr = addresses[0];

            tessel_proto_idb_type *port = nullptr;
            ASSERT_EQ(tessel_proto_db_get_by_ifname("Gi0/0/0/2", &port), 0u);
            port->config.announce_interval = c.announce_interval;
            port->config.announce_timeout = c.announce_timeout;
            port->config.sync_interval = c.sync_interval;
            port->config.delay_req_interval = c.delay_req_interval;
            port->config.local_priority = c.local_priority;
            ptp_fsm_foreign_master_type &fm1 = add_master(port, 1);
            fm1.master_clock = ptp_clock_type{};
            fm1.master_clock.clock_id = 0xAABBCCFFFEDDEEFFull;
            fm1.master_clock.priority1 = 110;
            fm1.master_clock.priority2 = 120;
            fm1.master_clock.clock_class = 6;
            fm1.master_clock.accuracy = 0x21;
            fm1.master_clock.offset_log_variance = 0x4E5D;
            fm1.master_clock.steps_removed = 1;
            fm1.master_clock.sender = {0xAABBCCFFFEDDEEFFull, 3};
            fm1.announce_count = 3;
            fm1.is_in_ranked_list = 1;
            fm1.first_announce_time = {now.tv_sec - 100, 0};
            fm1.is_priority_configured = 1;
            fm1.configured_priority = 5;
            fm1.delay_asymmetry = 250;
            fm1.ptsf_losssync_delay_resp = 1;
            fm1.is_announce_granted = 1;
            fm1.grant[PTP_FSM_FM_GRANT_ANNOUNCE] = {nullptr, nullptr, 300, 1};
            fm1.is_sync_granted = 1;
            fm1.grant[PTP_FSM_FM_GRANT_SYNC] = {nullptr, nullptr, 60, -4};
            port->fsm.foreign_master_ranked_list = &fm1;
            fake_advertised = fm1.master_clock;
            ptp_fsm_foreign_master_type &fm2 = add_master(port, 2);
            fm2.master_clock.clock_class = 110;
            fm2.is_nonnegotiated = 1;
            fm2.transport = PTP_TRANSPORT_MIXED;
            add_master(port, 3);
            ptp_fsm_peer_entry_type &p1 = add_peer(port, 50);
            p1.is_announce_granted = p1.is_sync_granted = p1.is_delay_resp_granted = 1;
            p1.grant[PTP_FSM_PEER_GRANT_ANNOUNCE].log_interval = 0;
            p1.grant[PTP_FSM_PEER_GRANT_ANNOUNCE].duration = 300;
            p1.grant[PTP_FSM_PEER_GRANT_ANNOUNCE].expiry = 1700000300; // wall-clock seconds
            p1.grant[PTP_FSM_PEER_GRANT_SYNC].log_interval = -6;
            p1.grant[PTP_FSM_PEER_GRANT_SYNC].duration = 300;
            p1.grant[PTP_FSM_PEER_GRANT_DELAY_RESP].log_interval = -6;
            p1.grant[PTP_FSM_PEER_GRANT_DELAY_RESP].duration = 200;
            fake_peer_indices = {{ipv4(1), 7}, {ipv4(2), 8}, {ipv4(50), 9}, {ipv4(51), 10}};

            ASSERT_EQ(tessel_proto_db_get_by_ifname("Gi0/0/0/3", &port), 0u);
            add_peer(port, 51);
            // The record owns its interop copy.
            auto *interop =
                static_cast<tessel_interop_config_type *>(std::calloc(1, sizeof(tessel_interop_config_type)));
            interop->presence = TESSEL_INTEROP_PROFILE | TESSEL_INTEROP_DOMAIN | TESSEL_INTEROP_EGRESS_PRIORITY1;
            interop->profile = PTP_PROFILE_G8265_1;
            interop->domain = 4;
            interop->egress.priority1 = 77;
            port->config.interop_cfg = interop;
        });
    }
    ptp_fsm_foreign_master_type &add_master(tessel_proto_idb_type *port, uint8_t last)
    {
        ptp_fsm_foreign_master_type &fm = masters.emplace_back();
        fm.peer_addr = ipv4(last);
        fm.port = port;
        avl2_insert(&port->fsm.foreign_master_table, &fm.tree_link);
        return fm;
    }
    ptp_fsm_peer_entry_type &add_peer(tessel_proto_idb_type *port, uint8_t last)
    {
        ptp_fsm_peer_entry_type &p = peers.emplace_back();
        p.peer_addr = ipv4(last);
        p.port = port;
        avl2_insert(&port->fsm.unicast_peer_tree, &p.tree_link);
        port->fsm.unicast_peer_count++;
        return p;
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
    std::deque<ptp_fsm_foreign_master_type> masters;
    std::deque<ptp_fsm_peer_entry_type> peers;
    std::vector<uint32_t> addresses;
    struct timespec now {};
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
    page_requests = 0;
    EXPECT_EQ(list_names("event-counters/if/"), all);
    EXPECT_EQ(page_requests, 3u) << "each page stops at the request's maximum: 2, 2 and 1";

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
    EXPECT_EQ(page_requests, 6u);
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

TEST_F(EdmTest, InterfaceInfoFieldByField)
{
    add_peers();
    ptp_if_info bag{};
    ASSERT_EQ(get_bag("interface/if/Gi0/0/0/2", ptp_if_info_bag_getfn(), &bag), 0u);
    EXPECT_STREQ(bag.Name, "Gi0/0/0/2");
    EXPECT_EQ(bag.PortState, PTP_BAG_PORT_STATE_UNCALIBRATED);
    EXPECT_EQ(bag.PortNumber, 2u);
    EXPECT_EQ(bag.internal_port_number, 2u);
    EXPECT_EQ(bag.LineState, 3u);
    EXPECT_EQ(bag.InterfaceType, 15u);
    EXPECT_EQ(bag.Encapsulation, PTP_BAG_ENCAP_IPv4);
    ASSERT_NE(bag.IPv4AddressArray, nullptr);
    ASSERT_EQ(bag.IPv4AddressArray->AddrList.count, 2u) << "no source address: all of the interface's";
    EXPECT_EQ(bag.IPv4AddressArray->AddrList.array[1], ipv4_value(21));
    EXPECT_EQ(bag.MACAddress, nullptr);
    EXPECT_EQ(bag.TwoStep, 0u);
    EXPECT_EQ(bag.CommunicationModel, PTP_BAG_COMMUNICATION_MODEL_Unicast);
    EXPECT_EQ(bag.LogSyncInterval, -4);
    EXPECT_EQ(bag.LogAnnounceInterval, 1);
    EXPECT_EQ(bag.AnnounceTimeout, 3u);
    EXPECT_EQ(bag.LogMinDelayRequestInterval, -5);
    EXPECT_EQ(bag.EventCOS, 6u);
    EXPECT_EQ(bag.GeneralCOS, 5u);
    EXPECT_EQ(bag.EventDSCP, 46u);
    EXPECT_EQ(bag.GeneralDSCP, 34u);
    EXPECT_EQ(bag.LocalPriority, 100u);
    // The master table: what the port knows of each configured master.
    ASSERT_EQ(bag.MasterTable.count, 2u);
    const ptp_bag_master_table_entry &known = bag.MasterTable.array[0];
    EXPECT_EQ(known.Address.value.IPv4Address, ipv4_value(1));
    ASSERT_NE(known.Priority, nullptr);
    EXPECT_EQ(*known.Priority, 5u);
    ASSERT_NE(known.IsNonnegotiated, nullptr);
    EXPECT_EQ(*known.IsNonnegotiated, 0u);
    EXPECT_EQ(known.Known + known.IsKnownValid + known.Qualified + known.IsQualifiedValid, 4u);
    EXPECT_EQ(known.IsGrandmaster + known.IsIsGrandmasterValid, 2u);
    EXPECT_EQ(known.PTSFLossAnnounce, 0u);
    EXPECT_EQ(known.PTSFLossSync, 1u) << "a lost delay response counts";
    EXPECT_EQ(known.ArePTSFValid, 1u);
    const ptp_bag_master_table_entry &unheard = bag.MasterTable.array[1];
    EXPECT_EQ(unheard.Address.value.IPv4Address, ipv4_value(9));
    EXPECT_EQ(unheard.Priority, nullptr);
    EXPECT_EQ(unheard.IsNonnegotiated, nullptr);
    EXPECT_EQ(unheard.IsKnownValid + unheard.IsQualifiedValid + unheard.ArePTSFValid, 0u);
    EXPECT_EQ(bag.ConfiguredPortState, PTP_BAG_RESTRICT_PORT_STATE_Any);
    EXPECT_EQ(bag.SupportsUnicast + bag.SupportsMaster + bag.SupportsIPv4 + bag.SupportsSlave, 4u);
    EXPECT_EQ(bag.SupportsMulticast, 0u);
    EXPECT_EQ(bag.SupportsIPv6, 1u);
    EXPECT_EQ(bag.MaxSyncRate, 7u);
    EXPECT_EQ(bag.UnicastPeers, 1u);
    EXPECT_EQ(bag.SignalFail, nullptr) << "only under G.8275.2";
    ASSERT_NE(bag.current_peer, nullptr);
    EXPECT_EQ(bag.current_peer->value.IPv4Address, ipv4_value(1)) << "the best master while Uncalibrated";
    EXPECT_EQ(bag.associate_port_count, 1u);
    EXPECT_EQ(bag.ProfileInterop, 0u);
    bag_free_indirections(&bag, ptp_if_info_bag_getfn());

    // G.8275.2, T-TSC: no restriction configured reads Slave-only; signal fail from the lost sync.
    // G.8265.1 reports port number 1.
    fake_profile = PTP_PROFILE_G8275_2;
    fake_clock_type = PTP_TELECOM_CLOCK_T_TSC;
    ASSERT_EQ(get_bag("interface/if/Gi0/0/0/2", ptp_if_info_bag_getfn(), &bag), 0u);
    EXPECT_EQ(bag.ConfiguredPortState, PTP_BAG_RESTRICT_PORT_STATE_SlaveOnly);
    ASSERT_NE(bag.SignalFail, nullptr);
    EXPECT_EQ(*bag.SignalFail, 1u);
    bag_free_indirections(&bag, ptp_if_info_bag_getfn());
    fake_profile = PTP_PROFILE_G8265_1;
    ASSERT_EQ(get_bag("interface/if/Gi0/0/0/2", ptp_if_info_bag_getfn(), &bag), 0u);
    EXPECT_EQ(bag.PortNumber, 1u);
    EXPECT_EQ(bag.internal_port_number, 2u);
    bag_free_indirections(&bag, ptp_if_info_bag_getfn());

    // A Master port with one slave names it; one with interop shows its configuration.
    ASSERT_EQ(get_bag("interface/if/Gi0/0/0/3", ptp_if_info_bag_getfn(), &bag), 0u);
    ASSERT_NE(bag.current_peer, nullptr);
    EXPECT_EQ(bag.current_peer->value.IPv4Address, ipv4_value(51));
    bag_free_indirections(&bag, ptp_if_info_bag_getfn());
    // Not known to the protocol thread: state and port number 0, the IPC side still there.
    ASSERT_EQ(get_bag("interface/if/Gi0/0/0/5", ptp_if_info_bag_getfn(), &bag), 0u);
    EXPECT_EQ(bag.PortState, PTP_BAG_PORT_STATE_INITIALIZING);
    EXPECT_EQ(bag.PortNumber, 0u);
    EXPECT_EQ(bag.current_peer, nullptr);
    bag_free_indirections(&bag, ptp_if_info_bag_getfn());
}

TEST_F(EdmTest, ForeignClocksOfMastersWithAPeerIndex)
{
    add_peers();
    ptp_if_clock_info bag{};
    ASSERT_EQ(get_bag("foreign-masters/if/Gi0/0/0/2", ptp_if_clock_info_bag_getfn(), &bag), 0u);
    EXPECT_STREQ(bag.name, "Gi0/0/0/2");
    EXPECT_EQ(bag.PortNumber, 2u);
    EXPECT_EQ(bag.selection_mode, PTP_BAG_CLOCK_SELECTION_MODE_IEEE_1588);
    ASSERT_EQ(bag.ForeignClocks.count, 2u) << "10.0.0.3 has no peer index";
    const ptp_bag_foreign_clock &best = bag.ForeignClocks.array[0];
    EXPECT_EQ(best.PeerIndex, 7u);
    EXPECT_EQ(best.ForeignClock.ClockID, 0xAABBCCFFFEDDEEFFull);
    EXPECT_EQ(best.ForeignClock.Priority1, 110u);
    EXPECT_EQ(best.ForeignClock.Priority2, 120u);
    EXPECT_EQ(best.ForeignClock.Class, 6u);
    EXPECT_EQ(best.ForeignClock.Accuracy, 0x21u);
    EXPECT_EQ(best.ForeignClock.OffsetLogVariance, 0x4E5Du);
    EXPECT_EQ(best.ForeignClock.StepsRemoved, 1u);
    EXPECT_EQ(best.ForeignClock.Sender.PortNumber, 3u);
    EXPECT_EQ(best.ForeignClock.IsSenderValid, 1u);
    EXPECT_EQ(best.IsQualified, 1u);
    EXPECT_EQ(best.IsGrandmaster, 1u);
    EXPECT_EQ(best.CommunicationModel, PTP_BAG_COMMUNICATION_MODEL_Unicast);
    EXPECT_EQ(best.IsKnown, 1u);
    EXPECT_GE(best.TimeKnownFor, 100u);
    EXPECT_LE(best.TimeKnownFor, 102u);
    EXPECT_EQ(best.ForeignDomain, 24u);
    EXPECT_EQ(best.Address.value.IPv4Address, ipv4_value(1));
    ASSERT_NE(best.ConfiguredPriority, nullptr);
    EXPECT_EQ(*best.ConfiguredPriority, 5u);
    EXPECT_EQ(best.ConfiguredClockClass, nullptr);
    EXPECT_EQ(best.DelayAsymmetry, 250);
    ASSERT_NE(best.AnnounceGrant, nullptr);
    EXPECT_EQ(best.AnnounceGrant->LogGrantInterval, 1);
    EXPECT_EQ(best.AnnounceGrant->GrantDuration, 300u);
    ASSERT_NE(best.SyncGrant, nullptr);
    EXPECT_EQ(best.SyncGrant->LogGrantInterval, -4);
    EXPECT_EQ(best.DelayResponseGrant, nullptr);
    EXPECT_EQ(best.PTSFLossAnnounce, 0u);
    EXPECT_EQ(best.PTSFLossSync, 1u);
    EXPECT_EQ(best.IsDNU, 0u);
    const ptp_bag_foreign_clock &other = bag.ForeignClocks.array[1];
    EXPECT_EQ(other.PeerIndex, 8u);
    EXPECT_EQ(other.IsQualified + other.IsGrandmaster + other.IsKnown + other.TimeKnownFor, 0u);
    EXPECT_EQ(other.CommunicationModel, PTP_BAG_COMMUNICATION_MODEL_MixedMode);
    EXPECT_EQ(other.IsDNU, 0u) << "class 110 is do-not-use only under a telecom profile";
    bag_free_indirections(&bag, ptp_if_clock_info_bag_getfn());

    fake_profile = PTP_PROFILE_G8275_1;
    ASSERT_EQ(get_bag("foreign-masters/if/Gi0/0/0/2", ptp_if_clock_info_bag_getfn(), &bag), 0u);
    ASSERT_EQ(bag.ForeignClocks.count, 2u);
    EXPECT_EQ(bag.ForeignClocks.array[1].IsDNU, 1u);
    EXPECT_EQ(bag.ForeignClocks.array[0].IsDNU, 0u);
    EXPECT_EQ(bag.selection_mode, 2u);
    bag_free_indirections(&bag, ptp_if_clock_info_bag_getfn());
}

TEST_F(EdmTest, UnicastPeersAndNegotiatedMasters)
{
    add_peers();
    ptp_if_unicast_peer_info bag{};
    ASSERT_EQ(get_bag("unicast-peers/if/Gi0/0/0/2", ptp_if_unicast_peer_info_bag_getfn(), &bag), 0u);
    EXPECT_STREQ(bag.Name, "Gi0/0/0/2");
    EXPECT_EQ(bag.PortNumber, 2u);
    ASSERT_EQ(bag.Peers.count, 1u);
    const ptp_bag_unicast_peer &slave = bag.Peers.array[0];
    EXPECT_EQ(slave.PeerIndex, 9u);
    EXPECT_EQ(slave.Address.value.IPv4Address, ipv4_value(50));
    ASSERT_NE(slave.AnnounceGrant, nullptr);
    EXPECT_EQ(slave.AnnounceGrant->LogGrantInterval, 0);
    EXPECT_EQ(slave.AnnounceGrant->GrantDuration, 300u);
    ASSERT_NE(slave.SyncGrant, nullptr);
    EXPECT_EQ(slave.SyncGrant->LogGrantInterval, -6);
    ASSERT_NE(slave.DelayResponseGrant, nullptr);
    EXPECT_EQ(slave.DelayResponseGrant->GrantDuration, 200u);
    ASSERT_EQ(bag.ForeignMasters.count, 2u) << "the non-negotiated master is left out";
    EXPECT_EQ(bag.ForeignMasters.array[0].PeerIndex, 7u);
    ASSERT_NE(bag.ForeignMasters.array[0].SyncGrant, nullptr);
    EXPECT_EQ(bag.ForeignMasters.array[0].SyncGrant->GrantDuration, 60u);
    EXPECT_EQ(bag.ForeignMasters.array[0].DelayResponseGrant, nullptr);
    EXPECT_EQ(bag.ForeignMasters.array[1].Address.value.IPv4Address, ipv4_value(3));
    EXPECT_EQ(bag.ForeignMasters.array[1].AnnounceGrant, nullptr);
    bag_free_indirections(&bag, ptp_if_unicast_peer_info_bag_getfn());
}

TEST_F(EdmTest, PortDataSetFromEitherRecord)
{
    add_peers();
    fake_profile = PTP_PROFILE_G8275_2;
    fake_clock_type = PTP_TELECOM_CLOCK_T_GM;
    ptp_port_ds_info bag{};
    ASSERT_EQ(get_bag("gl/dataset/port-ds/if/Gi0/0/0/2", ptp_port_ds_info_bag_getfn(), &bag), 0u);
    EXPECT_EQ(bag.profile, PTP_BAG_PROFILE_G82752);
    EXPECT_STREQ(bag.InterfaceName, "Gi0/0/0/2");
    EXPECT_EQ(bag.ClockID, fake_local_clock.clock_id);
    EXPECT_EQ(bag.PortNumber, 2u);
    EXPECT_EQ(bag.PortState, PTP_BAG_PORT_STATE_UNCALIBRATED);
    EXPECT_EQ(bag.LogMinDelayReqInterval, -5);
    EXPECT_EQ(bag.LogAnnounceInterval, 1);
    EXPECT_EQ(bag.AnnoucneReceiptTimeout, 3u);
    EXPECT_EQ(bag.LogSyncInterval, -4);
    EXPECT_EQ(bag.DelayMechanism, PTP_BAG_DELAY_MECHANISM_E2E);
    EXPECT_EQ(bag.VersionNumber, 2u);
    ASSERT_NE(bag.LocalPriority, nullptr);
    EXPECT_EQ(*bag.LocalPriority, 100u);
    ASSERT_NE(bag.MasterOnly, nullptr);
    EXPECT_EQ(*bag.MasterOnly, 1u) << "no restriction: master-only exactly for T-GM";
    ASSERT_NE(bag.SignalFail, nullptr);
    EXPECT_EQ(*bag.SignalFail, 1u);
    bag_free_indirections(&bag, ptp_port_ds_info_bag_getfn());

    // No protocol record: the IPC record's configuration, port 0, Initializing.
    provider.run([] {
        tessel_ipc_idb_type *idb = nullptr;
        ASSERT_EQ(tessel_ipc_db_get_by_ifname("Gi0/0/0/5", &idb), 0u);
        idb->applied_config.sync_interval = -3;
        idb->applied_config.port_state = PTP_RESTRICT_PORT_STATE_SLAVE_ONLY;
    });
    ASSERT_EQ(get_bag("gl/dataset/port-ds/if/Gi0/0/0/5", ptp_port_ds_info_bag_getfn(), &bag), 0u);
    EXPECT_EQ(bag.PortNumber, 0u);
    EXPECT_EQ(bag.PortState, PTP_BAG_PORT_STATE_INITIALIZING);
    EXPECT_EQ(bag.LogSyncInterval, -3);
    ASSERT_NE(bag.MasterOnly, nullptr);
    EXPECT_EQ(*bag.MasterOnly, 0u);
    EXPECT_EQ(bag.SignalFail, nullptr);
    bag_free_indirections(&bag, ptp_port_ds_info_bag_getfn());

    // The default profile has no telecom fields; without a local clock there is no data set.
    fake_profile = PTP_PROFILE_DEFAULT;
    ASSERT_EQ(get_bag("gl/dataset/port-ds/if/Gi0/0/0/2", ptp_port_ds_info_bag_getfn(), &bag), 0u);
    EXPECT_EQ(bag.LocalPriority, nullptr);
    EXPECT_EQ(bag.MasterOnly, nullptr);
    bag_free_indirections(&bag, ptp_port_ds_info_bag_getfn());
    fake_local_clock_known = false;
    EXPECT_EQ(get_bag("gl/dataset/port-ds/if/Gi0/0/0/2", ptp_port_ds_info_bag_getfn(), &bag), 0x47f2cc00u);
}

TEST_F(EdmTest, InteropOnlyWhereConfigured)
{
    add_peers();
    EXPECT_EQ(list_names("interop/if/"), std::vector<std::string>{"Gi0/0/0/3"});
    ptp_if_interop_info bag{};
    EXPECT_EQ(get_bag("interop/if/Gi0/0/0/2", ptp_if_interop_info_bag_getfn(), &bag), 0x40828600u);
    fake_advertised.priority1 = 128;
    ASSERT_EQ(get_bag("interop/if/Gi0/0/0/3", ptp_if_interop_info_bag_getfn(), &bag), 0u);
    EXPECT_STREQ(bag.Name, "Gi0/0/0/3");
    EXPECT_EQ(bag.LocalDomain, 24u);
    EXPECT_EQ(bag.InteropDomain, 4u);
    EXPECT_EQ(bag.LocalProfile, PTP_BAG_PROFILE_Default);
    EXPECT_EQ(bag.InteropProfile, PTP_BAG_PROFILE_G82651);
    EXPECT_EQ(bag.IngressInterop.count, 0u);
    ASSERT_NE(bag.EgressInterop, nullptr);
    EXPECT_EQ(bag.EgressInterop->FromPriority1, 128u);
    EXPECT_EQ(bag.EgressInterop->ToPriority1, 77u) << "the configured egress priority1";
    bag_free_indirections(&bag, ptp_if_interop_info_bag_getfn());
    // Every other item names every interface of the IPC database.
    EXPECT_EQ(list_names("interface/if/").size(), std::size(ports));
    EXPECT_EQ(list_names("foreign-masters/if/").size(), std::size(ports));
}

TEST_F(EdmTest, PacketCountersPerPeer)
{
    add_peers();
    provider.run([] {
        tessel_proto_idb_type *port = nullptr;
        ASSERT_EQ(tessel_proto_db_get_by_ifname("Gi0/0/0/2", &port), 0u);
        const ptp_address_type a = ipv4(1), b = ipv4(50);
        tessel_stats_increment_packet_counter(port, &a, TESSEL_PACKET_COUNTER_ANNOUNCE, TESSEL_PACKET_RECEIVED, 4);
        tessel_stats_increment_packet_counter(port, &b, TESSEL_PACKET_COUNTER_SIGNALING, TESSEL_PACKET_SENT, 2);
    });
    ptp_if_packet_counter_info bag{};
    ASSERT_EQ(get_bag("packet-counters/if/Gi0/0/0/2", ptp_if_packet_counter_info_bag_getfn(), &bag), 0u);
    EXPECT_EQ(bag.Counters.AnnounceReceived, 4u);
    EXPECT_EQ(bag.Counters.SignalingSent, 2u);
    ASSERT_EQ(bag.PeerCounters.count, 2u);
    EXPECT_EQ(bag.PeerCounters.array[0].PeerIndex, 7u);
    EXPECT_EQ(bag.PeerCounters.array[0].Address.value.IPv4Address, ipv4_value(1));
    EXPECT_EQ(bag.PeerCounters.array[0].Counters.AnnounceReceived, 4u);
    EXPECT_EQ(bag.PeerCounters.array[0].Counters.TotalPacketsReceived, 4u);
    EXPECT_EQ(bag.PeerCounters.array[1].PeerIndex, 9u);
    EXPECT_EQ(bag.PeerCounters.array[1].Counters.SignalingSent, 2u);
    EXPECT_EQ(bag.PeerCounters.array[1].Counters.AnnounceReceived, 0u);
    bag_free_indirections(&bag, ptp_if_packet_counter_info_bag_getfn());
}

// The configuration-error flags that are set, by name.
std::vector<std::string> set_flags(const ptp_bag_config_errors &e)
{
    std::vector<std::string> out;
    const auto add = [&out](const char *name, const auto &value) {
        if constexpr (std::is_same_v<std::decay_t<decltype(value)>, uint32_t>) {
            if (value != 0) {
                out.emplace_back(name);
            }
        } else if (value.count != 0) {
            out.emplace_back(name);
        }
    };
#define CFG_ERROR_FIELD(S, name, type, ctype) add(#name, e.name);
    PTP_BAG_DEF_130(CFG_ERROR_FIELD, ptp_bag_config_errors)
#undef CFG_ERROR_FIELD
    return out;
}

TEST_F(EdmTest, ConfigurationErrorsByRule)
{
    add_ports();
    struct row_type {
        const char *what;
        uint32_t profile;
        uint32_t clock_type;
        std::function<void(tessel_ipc_idb_type *)> configure;
        std::vector<std::string> expected;
    };
    const auto bit = [](uint32_t b) { return 1u << b; };
    const row_type rows[] = {
        {"plain IPv4 unicast", PTP_PROFILE_DEFAULT, PTP_TELECOM_CLOCK_T_BC, [](tessel_ipc_idb_type *) {}, {}},
        {"enabled while PTP is off",
         PTP_PROFILE_DEFAULT,
         PTP_TELECOM_CLOCK_T_BC,
         [](tessel_ipc_idb_type *idb) {
             idb->flags |= TESSEL_IPC_FLAG_ENABLED;
             fake_ipc_ptp_enable = 0;
         },
         {"GlobalPTP"}},
        {"G.8275.1 over IPv4 unicast",
         PTP_PROFILE_G8275_1,
         PTP_TELECOM_CLOCK_T_BC,
         [](tessel_ipc_idb_type *) {},
         {"ProfileIPv4", "ProfileUnicast"}},
        {"G.8275.2 grandmaster that is slave-only",
         PTP_PROFILE_G8275_2,
         PTP_TELECOM_CLOCK_T_GM,
         [](tessel_ipc_idb_type *idb) {
             idb->applied_config.port_state = PTP_RESTRICT_PORT_STATE_SLAVE_ONLY;
             idb->applied_config.encap = PTP_ENCAP_ETHERNET;
             idb->applied_config.announce_interval = 2;
         },
         {"ProfileEthernet", "ProfilePortState", "ProfileAnnounceInterval", "InvalidGrantReduction"}},
        {"items that do not apply",
         PTP_PROFILE_DEFAULT,
         PTP_TELECOM_CLOCK_T_BC,
         [bit](tessel_ipc_idb_type *idb) {
             idb->applied_config.encap = PTP_ENCAP_ETHERNET;
             idb->applied_config.transport = PTP_TRANSPORT_MULTICAST;
             idb->applied_config_flags = bit(TESSEL_CFG_BIT_LOCAL_PRIORITY) | bit(TESSEL_CFG_BIT_IPV4_TTL) |
                                         bit(TESSEL_CFG_BIT_SYNC_TIMEOUT) | bit(TESSEL_CFG_BIT_DELAY_ASYMMETRY);
         },
         {"Multicast", "LocalPriority", "IPv4TTL", "ProfileSyncTimeout"}},
        {"interop towards G.8275.1",
         PTP_PROFILE_DEFAULT,
         PTP_TELECOM_CLOCK_T_BC,
         [](tessel_ipc_idb_type *idb) {
             auto *interop = new tessel_interop_config_type{};
             interop->presence = TESSEL_INTEROP_PROFILE | TESSEL_INTEROP_DOMAIN | TESSEL_INTEROP_EGRESS_PRIORITY1;
             interop->profile = PTP_PROFILE_G8275_1;
             interop->domain = 3;
             interop->egress.priority1 = 100;
             idb->applied_config.interop_cfg = interop;
         },
         {"ProfileIPv4", "ProfileUnicast", "InvalidInteropDomain", "InvalidInteropEgressPriority1"}},
        {"tables and delay asymmetry of a grandmaster",
         PTP_PROFILE_G8275_2,
         PTP_TELECOM_CLOCK_T_GM,
         [bit](tessel_ipc_idb_type *idb) {
             tessel_if_config_type &c = idb->applied_config;
             c.port_state = PTP_RESTRICT_PORT_STATE_MASTER_ONLY;
             c.deny_invalid_grants = 1;
             idb->applied_config_flags = bit(TESSEL_CFG_BIT_DELAY_ASYMMETRY);
             tessel_master_db_type *m = nullptr;
             const ptp_address_type a = ipv4(1);
             ASSERT_EQ(tessel_master_db_init(&c.master_table), 0u);
             ASSERT_EQ(tessel_master_db_add(&c.master_table, &a, &m), 0u);
             m->multicast = PTP_TRANSPORT_MIXED;
         },
         {"ProfileMasterMixed", "InvalidMasterConfigClockType", "InvalidMasterConfigPortState",
          "DelayAsymmetryConfigClockType", "DelayAsymmetryConfigPortState"}},
    };
    for (const row_type &row : rows) {
        fake_profile = row.profile;
        fake_clock_type = row.clock_type;
        fake_ipc_ptp_enable = 1;
        provider.run([&] {
            tessel_ipc_idb_type *idb = nullptr;
            ASSERT_EQ(tessel_ipc_db_get_by_ifname("Gi0/0/0/5", &idb), 0u);
            tessel_master_db_destroy(&idb->applied_config.master_table);
            delete idb->applied_config.interop_cfg;
            idb->applied_config = tessel_if_config_type{};
            idb->applied_config.encap = PTP_ENCAP_IPV4;
            idb->applied_config.transport = PTP_TRANSPORT_UNICAST;
            idb->applied_config_flags = 0;
            idb->flags = 0;
            row.configure(idb);
        });
        ptp_if_config_errors_entry bag{};
        ASSERT_EQ(get_bag("config-errors/if/Gi0/0/0/5", ptp_if_config_errors_entry_bag_getfn(), &bag), 0u) << row.what;
        EXPECT_STREQ(bag.InterfaceName, "Gi0/0/0/5");
        EXPECT_EQ(bag.ClockProfile, row.profile);
        EXPECT_EQ(bag.TelecomClockType, row.clock_type);
        EXPECT_EQ(bag.InteropProfile != nullptr, std::string(row.what).starts_with("interop")) << row.what;
        EXPECT_EQ(set_flags(bag.ConfigurationErrors), row.expected) << row.what;
        bag_free_indirections(&bag, ptp_if_config_errors_entry_bag_getfn());
    }
    provider.run([] {
        tessel_ipc_idb_type *idb = nullptr;
        ASSERT_EQ(tessel_ipc_db_get_by_ifname("Gi0/0/0/5", &idb), 0u);
        delete idb->applied_config.interop_cfg;
        idb->applied_config.interop_cfg = nullptr;
    });
}

TEST_F(EdmTest, InterfaceDumpOfBothRecords)
{
    add_peers();
    provider.run([] {
        tessel_ipc_idb_type *idb = nullptr;
        ASSERT_EQ(tessel_ipc_db_get_by_ifname("Gi0/0/0/2", &idb), 0u);
        ipc_side([&] {
            tessel_ipc_db_add_ifhandle(0x102, idb);
            return 0u;
        });
        idb->flags = TESSEL_IPC_FLAG_ENABLED | TESSEL_IPC_FLAG_UPDATE_MASTER_TABLE;
        idb->if_config_flags = 1u << TESSEL_CFG_BIT_ENCAP;
    });
    ptp_if_idb_info bag{};
    ASSERT_EQ(get_bag("idb/if/Gi0/0/0/2", ptp_if_idb_info_bag_getfn(), &bag), 0u);
    const ptp_bag_ipc_idb &ipc = bag.IPCThreadIDB;
    EXPECT_STREQ(ipc.IPCThreadInterfaceName, "Gi0/0/0/2");
    EXPECT_EQ(ipc.IPCThreadInterfaceHandle, 0x102u);
    EXPECT_EQ(ipc.IPCThreadInterfaceType, 15u);
    ASSERT_NE(ipc.IPCThreadIPv4AddressList, nullptr);
    EXPECT_EQ(ipc.IPCThreadIPv4AddressList->AddrList.count, 2u);
    EXPECT_EQ(ipc.IPCThreadIPv4AddressApplied, ipv4_value(20));
    EXPECT_EQ(ipc.IPCThreadFlagEnabled + ipc.IPCThreadFlagUpdateMasterTable, 2u);
    EXPECT_EQ(ipc.IPCThreadFlagUpdateCreated + ipc.IPCThreadFlagUpdateSlaveTable, 0u);
    EXPECT_EQ(ipc.IPCThreadAppliedConfiguration.LogAnnounceIntervalConfiguration, 1u);
    EXPECT_EQ(ipc.IPCThreadAppliedConfiguration.MasterTable.count, 2u);
    EXPECT_EQ(ipc.IPCThreadAppliedConfiguration.ClockOperationConfiguration.OneStep, 1u);
    EXPECT_EQ(ipc.IPCThreadInterfaceConfigurationFlags.EncapsulationConfigurationSet, 1u);
    EXPECT_EQ(ipc.IPCThreadInterfaceConfigurationFlags.AnnounceIntervalConfigurationSet, 0u);
    EXPECT_EQ(ipc.IPCThreadConfigurationProfileName, nullptr);
    EXPECT_EQ(ipc.IPCThreadPlatformCapabilities.SupportsMulticast, 0u);
    EXPECT_EQ(ipc.IPCThreadPlatformCapabilities.LogSyncRate, 7u);
    ASSERT_NE(bag.ProtocolThreadIDB, nullptr);
    const ptp_bag_proto_idb &proto = *bag.ProtocolThreadIDB;
    EXPECT_STREQ(proto.proto_name, "Gi0/0/0/2");
    EXPECT_EQ(proto.proto_port_num, 2u);
    EXPECT_EQ(proto.offload_entry.session_exists, 1u);
    EXPECT_EQ(proto.fsm.PortState, static_cast<uint32_t>(PTP_PORT_STATE_UNCALIBRATED));
    EXPECT_EQ(proto.fsm.is_best_master, 1u);
    EXPECT_EQ(proto.fsm.best_master_peer_addr.value.IPv4Address, ipv4_value(1));
    ASSERT_EQ(proto.fsm.foreign_master_table.count, 3u);
    const ptp_bag_idb_foreign_master_entry &fm = proto.fsm.foreign_master_table.array[0];
    EXPECT_EQ(fm.announce_count, 3u);
    EXPECT_EQ(fm.is_in_ranked_list, 1u);
    EXPECT_EQ(fm.master_clock.Class, 6u);
    EXPECT_EQ(fm.is_sync_granted, 1u);
    EXPECT_EQ(fm.sync_grant_duration, 60u);
    EXPECT_EQ(fm.ptsf_losssync_delay_resp, 1u);
    EXPECT_EQ(fm.offload_entry.delete_pending + fm.offload_entry.on_update_list, 2u);
    EXPECT_EQ(proto.fsm.foreign_master_table.array[1].is_nonnegotiated, 1u);
    ASSERT_EQ(proto.fsm.unicast_peer_table.count, 1u);
    const ptp_bag_idb_unicast_peer_entry &peer = proto.fsm.unicast_peer_table.array[0];
    EXPECT_EQ(peer.peer_addr.value.IPv4Address, ipv4_value(50));
    EXPECT_EQ(peer.delay_resp_grant_duration, 200u);
    // The expiry as the record keeps it, a date (not the seconds left); none for no grant's.
    EXPECT_EQ(peer.announce_expiry_time, 1700000300);
    EXPECT_EQ(peer.sync_expiry_time, 0);
    EXPECT_EQ(peer.log_sync_interval, -6);
    EXPECT_EQ(peer.offload_entry.create_update_pending, 1u);
    EXPECT_EQ(proto.fsm.unicast_peer_count, 1u);
    bag_free_indirections(&bag, ptp_if_idb_info_bag_getfn());

    // The IPC thread alone.
    ASSERT_EQ(get_bag("idb/if/Gi0/0/0/5", ptp_if_idb_info_bag_getfn(), &bag), 0u);
    EXPECT_STREQ(bag.IPCThreadIDB.IPCThreadInterfaceName, "Gi0/0/0/5");
    EXPECT_EQ(bag.ProtocolThreadIDB, nullptr);
    bag_free_indirections(&bag, ptp_if_idb_info_bag_getfn());
}

} // namespace
