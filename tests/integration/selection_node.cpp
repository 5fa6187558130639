// One node of the selection test's chassis, as a process of its own (its node from $PTP_NODE):
//   selection_node agent <ifname> <ifhandle>
//     an agent with one port: the real port manager, best-master list, state machine, packet
//     module and checkpoint code (in the daemon's store), until the agent process takes its
//     configuration itself; it prints "state <port state>", "gm <system best master id>" and
//     "advertised <id> <class> <timescale> <UTC offset> <valid|not-valid>" as they change. Once
//     the controller names its port's master the system's best master, it forwards jitter-free
//     timing records of that master (what the offload plugin would give) so that the servo can
//     synchronise.
//   selection_node master <ifhandle> <priority1> <clock id> [<ifhandle> <priority1> <clock id>]...
//     a master on each interface: an Announce every 250 ms.
// Test code only; both run on real time until killed.
#include <unistd.h>

#include <array>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ctx.h"
#include "eth_encap.h"
#include "evm.h"
#include "evm_test.h"
#include "interop_agent_threads.h"
#include "issul.h"
#include "plat_debug.h"
#include "ptp_debug.h"
#include "ptp_strings.h"
#include "ptp_wire.h"
#include "scenario.h"
#include "shmwin.h"
#include "spio.h"
#include "tessel_bmc.h"
#include "tessel_comms.h"
#include "tessel_debug_areas.h"
#include "tessel_if_config.h"
#include "tessel_ipc_db.h"
#include "tessel_issu.h"
#include "tessel_master_db.h"
#include "tessel_packet.h"
#include "tessel_port_mgr.h"
#include "tessel_port_num.h"
#include "tessel_proto_db.h"
#include "tessel_slave_db.h"
#include "tessel_stats.h"

namespace {

debug_event_type debug_table[TESSEL_DEBUG_AREA_COUNT];

void line(const std::string &text)
{
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

std::string hex(uint64_t v)
{
    char b[32];
    std::snprintf(b, sizeof b, "%" PRIx64, v);
    return b;
}

// ---- Agent --------------------------------------------------------------------------------

void fill_ipc(tessel_ipc_idb_type &ipc, const char *ifname, ifhtype ifh, const uint8_t mac[6])
{
    ipc = tessel_ipc_idb_type{};
    std::strncpy(ipc.header.ifname, ifname, sizeof ipc.header.ifname - 1);
    ipc.header.ifhandle = ifh;
    ipc.if_type = 1;
    ipc.im_state = 3; // up
    ipc.ether_info_len = eth_encap_attr_build(mac, nullptr, 0, ipc.ether_info, sizeof ipc.ether_info);
    tessel_if_config_type &c = ipc.applied_config;
    c.encap = PTP_ENCAP_ETHERNET;
    // A timeout of 3 s: a master process held up on a loaded machine does not drop out.
    c.announce_interval = 0;
    c.announce_timeout = 3;
    c.transport = PTP_TRANSPORT_MULTICAST;
    c.port_state = PTP_RESTRICT_PORT_STATE_ANY;
    c.ipv4_ttl = 1;
    c.ipv6_hop_limit = 1;
    c.announce_grant_duration = 300;
    c.sync_grant_duration = 300;
    c.delay_resp_grant_duration = 300;
    c.local_priority = 128;
    tessel_master_db_init(&c.master_table);
    tessel_slave_db_init(&c.slave_table);
    ipc.flags = TESSEL_IPC_FLAG_UPDATE_CREATED | TESSEL_IPC_FLAG_ENABLED | TESSEL_IPC_FLAG_VRF_ID_KNOWN |
                TESSEL_IPC_FLAG_ETHER_INFO_KNOWN;
}

// A timing record: host-order message word, then master and local timestamps (48-bit seconds,
// 32-bit nanoseconds, big-endian); equal stamps: no offset, no delay.
std::array<uint8_t, 24> timing_record(uint32_t message, uint64_t seconds)
{
    std::array<uint8_t, 24> r{};
    std::memcpy(r.data(), &message, 4);
    for (size_t at : {size_t{4}, size_t{14}}) {
        for (int i = 0; i < 6; i++) {
            r[at + i] = static_cast<uint8_t>(seconds >> (8 * (5 - i)));
        }
    }
    return r;
}

int run_agent(const char *ifname, ifhtype ifh)
{
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    if (evm == nullptr ||
        ptp_debug_register(evm, debug_table, tessel_debug_areas, TESSEL_DEBUG_AREA_COUNT, nullptr) != 0) {
        line("error event manager");
        return 1;
    }
    shmwin_test_unlink(TESSEL_STATS_SHMWIN_NAME);
    issul_test_reset();
    issul_test_set_role(ISSUL_ROLE_PRIMARY);
    // The slave-lost trap binds to the daemon's database.
    const char *run_dir = std::getenv("PTP_RUN_DIR");
    if (run_dir == nullptr) {
        line("error no run folder");
        return 1;
    }
    scenario::use_database_library(run_dir);
    // The daemon keeps one checkpoint store for the chassis and this process is not one it
    // started: each node's agent names its own records, as each node of a router has its own store.
    const char *node = std::getenv("PTP_NODE");
    setenv("PTP_PROC_NAME", (std::string("selection_node-") + (node != nullptr ? node : "")).c_str(), 1);
    if (interop::intf_caps_start(false) != 0 || tessel_issu_init(evm) != 0 || scenario::start_checkpoint(evm) != 0 ||
        tessel_port_mgr_init(evm) != 0) {
        line("error port manager");
        return 1;
    }
    tessel_port_mgr_ptp_enable();
    tessel_port_mgr_profile_change(PTP_PROFILE_DEFAULT, PTP_TELECOM_CLOCK_T_BC);
    tessel_port_mgr_min_clock_class_change(255);

    const uint8_t mac[6] = {0x02, 0x00, 0x00, 0x00, 0x0a, static_cast<uint8_t>(ifh)};
    tessel_ipc_idb_type ipc{};
    fill_ipc(ipc, ifname, ifh, mac);
    tessel_port_mgr_if_update(&ipc);
    line("started");

    std::string state, gm, advertised, node_bmc;
    uint32_t ticks = 0;
    uint64_t seconds = 1000;
    auto next_batch = std::chrono::steady_clock::now();
    for (;;) {
        if (evm_run_until_idle(evm) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (std::chrono::steady_clock::now() < next_batch) {
            continue;
        }
        next_batch += std::chrono::milliseconds(100);
        // The protocol thread's loop.
        tessel_port_num_process_batches();
        tessel_packet_process_attach();

        tessel_proto_idb_type *port = nullptr;
        if (tessel_proto_db_get_by_ifname(ifname, &port) == 0) {
            const std::string s = ptp_port_state_to_str(port->fsm.PortState);
            if (s != state) {
                state = s;
                line("state " + s);
            }
        }
        const ptp_clock_type *g = tessel_bmc_get_global_bmc();
        const std::string gs = g != nullptr ? hex(g->clock_id) : "none";
        if (gs != gm) {
            gm = gs;
            line("gm " + gs);
        }
        // The advertised clock's identity and class, and the time properties its Announces carry.
        const ptp_clock_type *a = tessel_port_mgr_get_advertised_clock(nullptr);
        const std::string as = a != nullptr ? hex(a->clock_id) + " " + std::to_string(a->clock_class) + " " +
                                                  ptp_clock_timescale_to_str(a->timescale) + " " +
                                                  std::to_string(a->utc_offset) + " " +
                                                  (a->utc_offset_valid != 0 ? "valid" : "not-valid")
                                            : "none";
        if (as != advertised) {
            advertised = as;
            line("advertised " + as);
        }
        // Timing of the system's best master when this node's port follows it.
        const ptp_clock_type *n = tessel_bmc_get_node_bmc();
        const std::string ns = n != nullptr ? hex(n->clock_id) : "none";
        if (ns != node_bmc) {
            node_bmc = ns;
            line("node " + ns);
        }
        if (++ticks % 50 == 0) {
            line("alive");
        }
        if (port != nullptr && g != nullptr && n != nullptr && n->clock_id == g->clock_id &&
            (port->fsm.PortState == PTP_PORT_STATE_UNCALIBRATED || port->fsm.PortState == PTP_PORT_STATE_SLAVE)) {
            seconds++;
            const auto delay = timing_record(1, seconds);
            const auto sync = timing_record(0, seconds);
            tessel_port_mgr_time_record(port, delay.data(), nullptr);
            tessel_port_mgr_time_record(port, sync.data(), nullptr);
        }
    }
}

// ---- Master -------------------------------------------------------------------------------

struct master_port_type {
    ifhtype ifh;
    uint8_t priority1;
    uint64_t clock_id;
};

void master_rx(uint32_t count, ctx_packet_type **packets)
{
    ctx_free(packets, count);
}

std::vector<uint8_t> announce_frame(const master_port_type &m, uint16_t seq)
{
    std::vector<uint8_t> f(14 + 64);
    static const uint8_t dest[6] = {0x01, 0x1b, 0x19, 0x00, 0x00, 0x00};
    std::memcpy(&f[0], dest, 6);
    const uint8_t src[6] = {0x02, 0x00, 0x00, 0x00, 0x0b, static_cast<uint8_t>(m.ifh)};
    std::memcpy(&f[6], src, 6);
    f[12] = 0x88;
    f[13] = 0xF7;
    uint8_t *p = &f[14];
    p[0] = 0x0B; // Announce
    p[1] = 2;
    p[3] = 64;
    p[7] = 0x3C; // UTC offset valid, PTP timescale, time and frequency traceable: worth following
    ptp_wire_put64(&p[20], m.clock_id);
    p[29] = 1;
    p[30] = static_cast<uint8_t>(seq >> 8);
    p[31] = static_cast<uint8_t>(seq);
    p[32] = 5;
    p[33] = 0xFE; // log interval -2
    p[45] = 37;   // current UTC offset
    p[47] = m.priority1;
    p[48] = 13; // clock class
    p[49] = 0x21;
    p[50] = 0x4E;
    p[51] = 0x5D;
    p[52] = 128;
    ptp_wire_put64(&p[53], m.clock_id);
    p[63] = 0xA0;
    return f;
}

int run_master(const std::vector<master_port_type> &ports)
{
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    spio_conn_type *conn = nullptr;
    ctx_api_type *api = nullptr;
    spio_init_params_type params{SPIO_PARAMS_VERSION, master_rx, nullptr, SPIO_CONN_KIND_ETHERNET, evm};
    if (evm == nullptr || spio_init(&params, &conn) != 0 || ctx_api_init(&api) != 0) {
        line("error packet I/O");
        return 1;
    }
    for (const master_port_type &m : ports) {
        uint32_t dir = 1, status = 0, ifh = m.ifh;
        if (spio_attach2(conn, 0, 1, &ifh, &dir, &status) != 0 || status != 0) {
            line("error attach " + hex(m.ifh));
            return 1;
        }
    }
    line("started");
    for (uint16_t seq = 0;; seq++) {
        for (const master_port_type &m : ports) {
            const std::vector<uint8_t> f = announce_frame(m, seq);
            ctx_packet_type *p = ctx_alloc(api, f.size());
            size_t n = 0;
            ctx_write(p, CTX_LAYER_FRAME, 0, f.data(), f.size(), &n);
            ctx_set_u32(p, CTX_OPT_OUT_IFHANDLE, m.ifh);
            ctx_set_u32(p, CTX_OPT_CURRENT_LENGTH, static_cast<uint32_t>(f.size()));
            spio_pd_intf_send(conn, 1, &p, 1, 0);
        }
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
        while (std::chrono::steady_clock::now() < until) {
            if (evm_run_until_idle(evm) == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "agent" && argc == 4) {
        return run_agent(argv[2], static_cast<ifhtype>(std::strtoul(argv[3], nullptr, 0)));
    }
    if (mode == "master" && argc >= 5 && (argc - 2) % 3 == 0) {
        std::vector<master_port_type> ports;
        for (int i = 2; i + 2 < argc; i += 3) {
            ports.push_back({static_cast<ifhtype>(std::strtoul(argv[i], nullptr, 0)),
                             static_cast<uint8_t>(std::strtoul(argv[i + 1], nullptr, 0)),
                             std::strtoull(argv[i + 2], nullptr, 0)});
        }
        return run_master(ports);
    }
    std::fprintf(stderr, "usage: selection_node agent <ifname> <ifhandle> | master (<ifhandle> <priority1> <id>)...\n");
    return 2;
}
