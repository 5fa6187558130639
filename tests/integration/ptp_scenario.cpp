// The main job until the agent process exists: one PTP port of the agent listening to a master
// and reporting what it sees. Where the machine allows (root, 'ip netns', ptp4l), the master is
// ptp4l in its own network namespace, on the other end of a veth pair, over L2, UDP/IPv4 and
// UDP/IPv6 in turn; otherwise a second simulated node sends Announces over an in-memory link.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "interop_agent.h"
#include "ptp_strings.h"
#include "qor_log.h"
#include "spio.h"
#include "tessel_fsm_announce.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_rx_test_fake.h"
#include "tessel_packet_test_fake.h"

namespace {

using namespace interop;

void print_port(const char *title, tessel_proto_idb_type *port)
{
    std::printf("%s\n", title);
    std::printf("  Port %s (%s): state %s\n", port->header.ifname, ptp_address_encap_to_str(port->config.encap),
                ptp_port_state_to_str(port->fsm.PortState));
    ptp_fsm_foreign_master_type *best = port->fsm.foreign_master_ranked_list;
    int rank = 1;
    for (auto *fm = best; fm != nullptr; fm = fm->ranked_next, rank++) {
        std::printf("  Foreign master %d%s: %s\n", rank, fm == best ? " (best)" : "", ptp_address_to_str(&fm->peer_addr));
        std::printf("    clock ID 0x%016llx, priority1 %u, priority2 %u, clock class %u, steps removed %u\n",
                    static_cast<unsigned long long>(fm->master_clock.clock_id), fm->master_clock.priority1,
                    fm->master_clock.priority2, fm->master_clock.clock_class, fm->master_clock.steps_removed);
        std::printf("    parent port 0x%016llx/%u, qualified and ranked\n",
                    static_cast<unsigned long long>(fm->parent_port_id.clock_id), fm->parent_port_id.port_num);
    }
    if (best == nullptr) {
        std::printf("  No foreign master qualified\n");
    }
}

void port_listen(tessel_proto_idb_type *port)
{
    port->config.announce_timeout = 3;
    port->config.transport = PTP_TRANSPORT_MULTICAST;
    port->flags |= TESSEL_PROTO_IDB_PORT_MGR_READY;
    port->fsm.PortState = PTP_PORT_STATE_LISTEN;
    port->fsm.is_listening = 1;
    ptp_fsm_proto_foreign_master_tree_init(port);
}

// ptp4l as a multicast master in its namespace; the port on the agent's end. 0 when qualified.
int ptp4l_scenario(const char *name, uint32_t encap, const char *flag)
{
    veth_pair v;
    if (!v.ok) {
        std::printf("%s: could not create the network namespaces\n", name);
        return 1;
    }
    const std::string conf = temp_path("scenario-ptp4l.conf");
    {
        std::ofstream f(conf);
        f << "[global]\npriority1 100\npriority2 120\nclockClass 13\ndomainNumber 0\n"
             "logAnnounceInterval -2\nlogSyncInterval -2\nmasterOnly 1\n";
    }
    ns_process ptp4l(v.ns_b, std::string("ptp4l -i ") + v.dev_b + " -S " + flag + " -m -f " + conf,
                     temp_path("scenario-ptp4l.log"));
    pkt_fake_reset();
    pkt_fake.platform_adjacency = true;
    rx_fake_reset();
    rx_fake.local_clock = {AGENT_CLOCK_ID, 0};
    agent_port agent;
    int rc = 1;
    if (agent.open(v, encap)) {
        port_listen(agent.port);
        for (int i = 0; i < 60 && agent.port->fsm.foreign_master_ranked_list == nullptr; i++) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            evm_run_until_idle(agent.evm);
            ptp_fsm_announce_timer_tick(agent.port);
        }
        const std::string title = std::string("ptp4l (namespace ") + v.ns_b + ", " + name +
                                  ", software timestamps) as multicast master of the agent's port on " + v.dev_a + ":";
        print_port(title.c_str(), agent.port);
        rc = agent.port->fsm.foreign_master_ranked_list != nullptr ? 0 : 1;
        ptp_fsm_proto_foreign_master_tree_destroy(agent.port);
    } else {
        std::printf("%s: %s\n", name, agent.error.c_str());
    }
    agent.close();
    ptp4l.stop();
    std::remove(conf.c_str());
    std::remove(ptp4l.log.c_str());
    return rc;
}

// ---- In-memory fallback: a simulated master node on the far end of a link ----

constexpr uint32_t MASTER_IFH = 0x2000;
constexpr uint64_t MASTER_CLOCK_ID = 0x020000fffe000b02ull;

void master_rx(uint32_t count, ctx_packet_type **packets) { ctx_free(packets, count); }

std::vector<uint8_t> announce_frame(uint16_t seq)
{
    std::vector<uint8_t> m(64, 0);
    m[0] = 0x0B;
    m[1] = 2;
    m[3] = 64;
    for (int i = 0; i < 8; i++) {
        m[20 + i] = static_cast<uint8_t>(MASTER_CLOCK_ID >> (56 - 8 * i));
        m[53 + i] = m[20 + i];
    }
    m[29] = 1;
    m[30] = static_cast<uint8_t>(seq >> 8);
    m[31] = static_cast<uint8_t>(seq);
    m[32] = 5;
    m[33] = 0xFE;
    m[47] = 100;   // priority1
    m[48] = 13;    // clock class
    m[49] = 0x21;  // accuracy
    m[50] = 0x4E;
    m[51] = 0x5D;
    m[52] = 120;   // priority2
    m[63] = 0xA0;  // time source
    std::vector<uint8_t> f = {0x01, 0x1B, 0x19, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x0b, 0x02, 0x88, 0xF7};
    f.insert(f.end(), m.begin(), m.end());
    return f;
}

int memory_scenario()
{
    pkt_fake_reset();
    rx_fake_reset();
    rx_fake.local_clock = {AGENT_CLOCK_ID, 0};
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    pktio_test_reset();
    const uint8_t agent_mac[6] = {0x02, 0x00, 0x00, 0x00, 0x0a, 0x01};
    const uint8_t master_mac[6] = {0x02, 0x00, 0x00, 0x00, 0x0b, 0x02};
    pktio_test_intf_add("Gi0/0/0/0", AGENT_IFH, agent_mac);
    pktio_test_intf_add("master0", MASTER_IFH, master_mac);
    pktio_test_link(AGENT_IFH, MASTER_IFH);
    tessel_proto_db_init();
    tessel_packet_init(evm);
    tessel_proto_idb_type *port = nullptr;
    tessel_proto_db_create("Gi0/0/0/0", &port);
    tessel_proto_db_add_ifhandle(AGENT_IFH, port);
    port->ether_info_len = eth_encap_attr_build(agent_mac, nullptr, 0, port->ether_info, sizeof port->ether_info);
    port->port_num = 1;
    port->config.encap = PTP_ENCAP_ETHERNET;
    tessel_packet_attach(port);
    tessel_packet_process_attach();
    port_listen(port);
    // The master node: its own connection on the far end of the link.
    spio_conn_type *master = nullptr;
    spio_init_params_type params{SPIO_PARAMS_VERSION, master_rx, nullptr, SPIO_CONN_KIND_ETHERNET, evm};
    spio_init(&params, &master);
    uint32_t dir = 1, status = 0, ifh = MASTER_IFH;
    spio_attach2(master, 0, 1, &ifh, &dir, &status);
    ctx_api_type *api = nullptr;
    ctx_api_init(&api);
    for (uint16_t seq = 0; seq < 4; seq++) {
        const auto f = announce_frame(seq);
        ctx_packet_type *p = ctx_alloc(api, f.size());
        size_t n = 0;
        ctx_write(p, CTX_LAYER_FRAME, 0, f.data(), f.size(), &n);
        ctx_set_u32(p, CTX_OPT_OUT_IFHANDLE, MASTER_IFH);
        ctx_set_u32(p, CTX_OPT_CURRENT_LENGTH, static_cast<uint32_t>(f.size()));
        spio_pd_intf_send(master, 1, &p, 1, 0);
        evm_run_until_idle(evm);
        ptp_fsm_announce_timer_tick(port);
    }
    print_port("A simulated master node, linked in memory to the agent's port:", port);
    const int rc = port->fsm.foreign_master_ranked_list != nullptr ? 0 : 1;
    ptp_fsm_proto_foreign_master_tree_destroy(port);
    ctx_api_cleanup(api);
    spio_close(master);
    tessel_proto_db_delete(port);
    tessel_packet_cleanup();
    tessel_proto_db_cleanup();
    pktio_test_reset();
    event_manager_destroy(evm);
    return rc;
}

}  // namespace

int main()
{
    qor_errmsg_set_syslog(false);
    const std::string why = missing_prerequisite(true, false);
    if (!why.empty()) {
        std::printf("Running the in-memory scenario (%s).\n\n", why.c_str());
        return memory_scenario();
    }
    int rc = 0;
    const struct {
        const char *name;
        uint32_t encap;
        const char *flag;
    } runs[] = {{"L2", PTP_ENCAP_ETHERNET, "-2"}, {"UDP/IPv4", PTP_ENCAP_IPV4, "-4"}, {"UDP/IPv6", PTP_ENCAP_IPV6, "-6"}};
    for (const auto &r : runs) {
        rc |= ptp4l_scenario(r.name, r.encap, r.flag);
        std::printf("\n");
    }
    return rc;
}
