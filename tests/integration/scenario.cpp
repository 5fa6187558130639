// The scenario (see scenario.h). One agent port goes the whole way through the real modules:
//
//   port manager start (upgrade role primary, go-active) -> the IPC thread's global events (PTP
//   enable, clock profile, minimum clock class) -> the controller's first announce message (local
//   clock; the local clock is the system's best master) -> interface creation -> port number ->
//   packet-I/O attach -> readiness -> Ready: Listen -> the master's Announces, received by the
//   packet module and the receive dispatch, qualified on the port's announce timer -> best
//   foreign master change -> port manager -> best-master list: Passive, node best master reported
//   -> the controller names that clock the system's best master, selected (Uncalibrated), then
//   synced (Slave) -> the master stops -> Announce-Timeout: Master; the foreign master times out
//   -> the controller names the local clock again -> the interface is deleted.
//
// The scenario plays the controller (a member of the two group-messaging channels that sends the
// announce messages and answers the port-number request), the process entry, the IPC thread (the
// interface record and the global events) and the protocol thread's loop (it sends the attach and
// port-number batches). The controller link, the port-number client, the checkpoint code (over a
// store of this process) and the slave-lost trap (over a database of this process) are the real
// ones, and so are the interface capabilities (the platform's answer set by the scenario); what
// the scenario plays of the entry and the IPC thread is in interop_agent_threads.cpp.
#include "scenario.h"

#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "chkpt_test.h"
#include "comms.h"
#include "comms_test.h"
#include "eth_encap.h"
#include "evm.h"
#include "evm_test.h"
#include "interop_agent_threads.h"
#include "interop_env.h"
#include "issul.h"
#include "jotlog.h"
#include "nodra_test.h"
#include "pktio_linux.h"
#include "pktio_test.h"
#include "plat_clock_test.h"
#include "plat_debug.h"
#include "ptp_clock.h"
#include "ptp_comms_msg.h"
#include "ptp_debug.h"
#include "ptp_strings.h"
#include "ptp_wire.h"
#include "shmwin.h"
#include "spio.h"
#include "sysmgr_test.h"
#include "tessel_bmc.h"
#include "tessel_chkpt.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_types.h"
#include "tessel_if_config.h"
#include "tessel_issu.h"
#include "tessel_master_db.h"
#include "tessel_packet.h"
#include "tessel_port_mgr.h"
#include "tessel_port_num.h"
#include "tessel_proto_db.h"
#include "tessel_slave_db.h"
#include "tessel_stats.h"

namespace scenario {

namespace {

constexpr const char *IFNAME = "Gi0/0/0/0";
constexpr ifhtype AGENT_IFH = 0x1000;
constexpr uint16_t PORT_NUM = 1;
// The agent's node, and the node of the controller that the scenario plays.
constexpr uint32_t AGENT_NODE = 0x100;
constexpr uint32_t CTRL_NODE = 0x200;
constexpr uint64_t AGENT_CLOCK_ID = 0x020000fffe000a01ull;
// The master's clock identity: the EUI-64 of its MAC 02:00:00:00:0b:02 (ptp4l derives it so;
// the simulated node uses the same).
constexpr uint64_t MASTER_CLOCK_ID = 0x020000fffe000b02ull;
constexpr uint8_t AGENT_MAC[6] = {0x02, 0x00, 0x00, 0x00, 0x0a, 0x01};
constexpr uint8_t MASTER_MAC[6] = {0x02, 0x00, 0x00, 0x00, 0x0b, 0x02};
constexpr ifhtype MASTER_IFH = 0x2000;
constexpr int32_t ANNOUNCE_INTERVAL = 0; // log2 s: the port's announce timer ticks every second
constexpr uint32_t ANNOUNCE_TIMEOUT = 3;
constexpr uint8_t MIN_CLOCK_CLASS = 255;
constexpr uint64_t MASTER_ANNOUNCE_MS = 250; // both masters announce at log interval -2

// ---- Debug areas of the agent: the real modules' own lines are what the steps show ----

debug_event_type debug_table[20];
const ptp_debug_component_type debug_areas[20] = {
    {0, "protocol", "PROTOCOL"},
    {1, "packet", "PACKET"},
    {2, "database", "DATABASE"},
    {3, "main", "MAIN"},
    {4, "im", "IM"},
    {5, "config", "CONFIG"},
    {6, "utils", "UTILS"},
    {7, "batch", "BATCH"},
    {8, "thread_ctrl", "THREAD-CTRL"},
    {9, "port_mgr", "PORT-MGR"},
    {10, "bmc", "BMC"},
    {11, "fsm", "FSM"},
    {12, "edm", "EDM"},
    {13, "comms", "COMMS"},
    {14, "offload", "OFFLOAD"},
    {15, "port_num", "PORT-NUM"},
    {16, "stats", "STATS"},
    {17, "fib", "FIB"},
    {18, "adjacency", "ADJACENCY"},
    {19, "issu", "ISSU"},
};
// The areas switched on: the port manager, the best-master list and the state machine's events.
constexpr const char *SHOWN_AREAS[] = {"protocol", "port_mgr", "bmc", "fsm"};
// Lines of those areas that tell the story (the rest repeats it).
constexpr const char *SHOWN_LINES[] = {
    " not ready as ",       " is now ready",       "-event",           "Change to state",    "Best foreign master",
    "No longer any best",   "Updating state",      "Node BMC changed", "timed out",          "Inserted interface",
    "Removed interface",    "Received PTP enable", "Received profile", "Received min clock", "Received global BMC",
    "Received local clock",
};

// ---- How time passes: real time with ptp4l, virtual time with the simulated node ----

struct clock_type {
    event_mgr_type *evm = nullptr;
    bool is_virtual = false;
    // The simulated node's Announce (virtual time only); null with ptp4l.
    std::function<void()> master_announce;
    bool master_running = true;
    uint64_t elapsed_ms = 0;
    const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    // Lets one step of time pass: packets arrive, timers fire.
    void step()
    {
        if (is_virtual) {
            if (master_announce && master_running) {
                master_announce();
            }
            evm_run_until_idle(evm);
            plat_clock_advance_ms(MASTER_ANNOUNCE_MS);
            evm_run_until_idle(evm);
            elapsed_ms += MASTER_ANNOUNCE_MS;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            evm_run_until_idle(evm);
            elapsed_ms = static_cast<uint64_t>(
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                    .count());
        }
    }
    void pass(uint64_t ms)
    {
        const uint64_t end = elapsed_ms + ms;
        while (elapsed_ms < end) {
            step();
        }
    }
    // Steps until done() holds or max_ms have passed; true when it held.
    bool until(const std::function<bool()> &done, uint64_t max_ms)
    {
        const uint64_t end = elapsed_ms + max_ms;
        while (!done()) {
            if (elapsed_ms >= end) {
                return false;
            }
            step();
        }
        return true;
    }
};

// ---- The controller, played here over group messaging ----

struct controller_type {
    comms_conn_type *ptp = nullptr;
    comms_conn_type *port_num = nullptr;
    uint32_t bmc_reports = 0; // the agent's BMC messages heard
    uint32_t last_bmc_present = 0;
    uint32_t numbers_given = 0; // interfaces answered in allocate messages

    static void on_bmc(comms_conn_type *, void *ctx, const comms_member_type *, const void *msg, size_t len)
    {
        auto *self = static_cast<controller_type *>(ctx);
        ptp_comms_msg_bmc bmc{};
        if (ptp_comms_msg_bmc_decode(static_cast<const uint8_t *>(msg), len, &bmc) == 0) {
            self->bmc_reports++;
            self->last_bmc_present = bmc.present;
        }
    }
    // Every interface the agent asks for gets PORT_NUM (the scenario has one).
    static void on_request(comms_conn_type *conn, void *ctx, const comms_member_type *sender, const void *msg,
                           size_t len)
    {
        auto *self = static_cast<controller_type *>(ctx);
        ptp_comms_msg_port_num_view req{};
        if (ptp_comms_msg_port_num_handles_decode(static_cast<const uint8_t *>(msg), len, &req) != 0) {
            return;
        }
        std::vector<tessel_port_num_entry_type> entries;
        for (uint32_t i = 0; i < req.count; i++) {
            entries.push_back({ptp_comms_msg_port_num_handle(&req, i), PORT_NUM});
        }
        std::vector<uint8_t> reply(ptp_comms_msg_port_num_entries_size(req.count));
        if (ptp_comms_msg_port_num_entries_encode(entries.data(), req.count, reply.data(), reply.size()) == 0 &&
            comms_msg_send(conn, sender, PTP_COMMS_MSG_PORT_NUM_ALLOC, PTP_COMMS_MSG_PORT_NUM_VERSION, reply.data(),
                           reply.size(), 0) == 0) {
            self->numbers_given += req.count;
        }
    }

    std::string open(event_mgr_type *evm)
    {
        comms_test_set_node(CTRL_NODE);
        const bool connected = comms_connect(evm, PTP_COMMS_CHANNEL, 0, &ptp) == 0 &&
                               comms_connect(evm, PTP_COMMS_PORT_NUM_CHANNEL, 0, &port_num) == 0;
        comms_test_set_node(AGENT_NODE);
        if (!connected || comms_msg_handler_add(ptp, PTP_COMMS_MSG_BMC, PTP_COMMS_MSG_BMC_VERSION, on_bmc, this) != 0 ||
            comms_msg_handler_add(port_num, PTP_COMMS_MSG_PORT_NUM_REQUEST, PTP_COMMS_MSG_PORT_NUM_VERSION, on_request,
                                  this) != 0) {
            return "the controller's group-messaging channels";
        }
        return "";
    }
    void close()
    {
        for (comms_conn_type **c : {&ptp, &port_num}) {
            if (*c != nullptr) {
                comms_disconnect(*c);
                *c = nullptr;
            }
        }
    }
    // The announce message to every agent, delivered before this returns.
    zerrno announce(const ptp_clock_type &global_bmc, const ptp_clock_type &advertised, uint32_t selected,
                    uint32_t synced)
    {
        ptp_comms_msg_announce a{};
        a.local_clock_id = AGENT_CLOCK_ID;
        a.domain = 0;
        a.global_bmc = global_bmc;
        a.bmc_synced = synced;
        a.advertised = advertised;
        a.slave_supported = 1;
        a.bmc_selected = selected;
        uint8_t msg[PTP_COMMS_MSG_ANNOUNCE_SIZE];
        ptp_comms_msg_announce_encode(&a, msg);
        const comms_member_type *group = nullptr;
        comms_conn_get_group_member(ptp, &group);
        const zerrno rc =
            comms_msg_send(ptp, group, PTP_COMMS_MSG_ANNOUNCE, PTP_COMMS_MSG_ANNOUNCE_VERSION, msg, sizeof msg, 0);
        plat_clock_settle();
        return rc;
    }
};

// The node's own clock as the controller describes it (default data set of a free-running
// boundary clock).
ptp_clock_type local_clock()
{
    ptp_clock_type c{};
    c.clock_id = AGENT_CLOCK_ID;
    c.priority1 = 128;
    c.clock_class = 248;
    c.accuracy = 0xFE;
    c.offset_log_variance = 0xFFFF;
    c.priority2 = 128;
    c.time_source = 0xA0;
    c.sender = {AGENT_CLOCK_ID, 0};
    c.receiver = {AGENT_CLOCK_ID, 0};
    c.local = 1;
    c.configured_priority = PTP_CLOCK_DEFAULT_LOCAL_PRIORITY;
    return c;
}

// ---- Output ----

struct printer_type {
    FILE *out = nullptr;
    int step = 0;
    std::string bmc_state = "none reported"; // the best-master list's last word on the port
    std::vector<std::string> events;         // state-machine events seen, in order

    void title(const std::string &text) { std::fprintf(out, "%s\n", text.c_str()); }
    void begin(const std::string &text)
    {
        std::fprintf(out, "%2d. %s\n", ++step, text.c_str());
        std::fflush(out);
    }
    void note(const std::string &text) { std::fprintf(out, "    %s\n", text.c_str()); }
    // The real modules' lines since the last call (shown), and what they say.
    void module_lines()
    {
        for (const std::string &line : debug_captured()) {
            const size_t at = line.find("Updating state for interface");
            if (at != std::string::npos) {
                const size_t to = line.find(" to ", at);
                const size_t end = line.find(" (", to == std::string::npos ? at : to + 4);
                if (to != std::string::npos && end != std::string::npos) {
                    bmc_state = line.substr(to + 4, end - to - 4);
                }
            }
            const size_t ev = line.find("-event");
            if (ev != std::string::npos) {
                const size_t start = line.rfind(' ', ev);
                events.push_back(line.substr(start + 1, ev - start - 1));
            }
            for (const char *shown : SHOWN_LINES) {
                if (line.find(shown) != std::string::npos) {
                    std::fprintf(out, "      | %s\n", line.c_str());
                    break;
                }
            }
        }
        debug_capture_clear();
        std::fflush(out);
    }
    // Whether the event was seen, from the index-th event on.
    bool saw_event(const std::string &name, size_t index) const
    {
        for (size_t i = index; i < events.size(); i++) {
            if (events[i] == name) {
                return true;
            }
        }
        return false;
    }
    // What the controller heard since the last call that is worth a line.
    void controller_lines(const controller_type &ctrl, uint32_t &reports_seen)
    {
        if (reports_seen < ctrl.bmc_reports) {
            reports_seen = ctrl.bmc_reports;
            note(ctrl.last_bmc_present != 0 ? "(controller: the node reports its best master)"
                                            : "(controller: the node reports no best master)");
        }
    }
    void port(tessel_proto_idb_type *p)
    {
        std::fprintf(out, "    Port %s (%s): state %s, best-master state %s (last report)\n", p->header.ifname,
                     ptp_address_encap_to_str(p->config.encap), ptp_port_state_to_str(p->fsm.PortState),
                     bmc_state.c_str());
        const ptp_fsm_foreign_master_type *best = p->fsm.foreign_master_ranked_list;
        int rank = 1;
        for (const ptp_fsm_foreign_master_type *fm = best; fm != nullptr; fm = fm->ranked_next, rank++) {
            std::fprintf(out, "    Foreign master %d%s%s: %s\n", rank, fm == best ? " (best)" : "",
                         fm == p->fsm.slaving_master ? " (parent)" : "", ptp_address_to_str(&fm->peer_addr));
            std::fprintf(out,
                         "      clock ID 0x%016llx, priority1 %u, priority2 %u, clock class %u, steps removed %u\n",
                         static_cast<unsigned long long>(fm->master_clock.clock_id), fm->master_clock.priority1,
                         fm->master_clock.priority2, fm->master_clock.clock_class, fm->master_clock.steps_removed);
            std::fprintf(out, "      parent port 0x%016llx/%u\n",
                         static_cast<unsigned long long>(fm->parent_port_id.clock_id), fm->parent_port_id.port_num);
        }
        if (best == nullptr) {
            std::fprintf(out, "    No foreign master qualified\n");
        }
        if (p->packet_counters != nullptr) {
            const tessel_packet_counters_type *c = tessel_stats_intf_entry_counters(p->packet_counters);
            // Event messages belong to the offload plugin (a stand-in): the port counts and drops them.
            std::fprintf(out,
                         "    Counters: received Announce %u, Sync %u, Follow-Up %u; dropped Announce %u, Sync %u, "
                         "Follow-Up %u\n",
                         c->received[TESSEL_PACKET_COUNTER_ANNOUNCE], c->received[TESSEL_PACKET_COUNTER_SYNC],
                         c->received[TESSEL_PACKET_COUNTER_FOLLOW_UP], c->dropped[TESSEL_PACKET_COUNTER_ANNOUNCE],
                         c->dropped[TESSEL_PACKET_COUNTER_SYNC], c->dropped[TESSEL_PACKET_COUNTER_FOLLOW_UP]);
        }
        const ptp_clock_type *node = tessel_bmc_get_node_bmc();
        if (node != nullptr) {
            std::fprintf(out, "    Node best master: 0x%016llx (head of the best-master list: %s)\n",
                         static_cast<unsigned long long>(node->clock_id),
                         tessel_bmc_list_head() != nullptr ? tessel_bmc_list_head()->header.ifname : "none");
        } else {
            std::fprintf(out, "    Node best master: none\n");
        }
        std::fflush(out);
    }
};

// "" for an accepted controller message, else why it was refused.
std::string refused(zerrno rc)
{
    return rc == 0 ? "" : std::string("refused (") + zerr_strerror(rc) + "), ";
}

std::string seconds(uint64_t ms)
{
    char b[24];
    std::snprintf(b, sizeof b, "%.2f s", static_cast<double>(ms) / 1000.0);
    return b;
}

std::string hex_id(uint64_t id)
{
    char b[24];
    std::snprintf(b, sizeof b, "0x%016llx", static_cast<unsigned long long>(id));
    return b;
}

const char *state_of(const tessel_proto_idb_type *p)
{
    return ptp_port_state_to_str(p->fsm.PortState);
}

// ---- The agent node ----

// How the agent's interface is bound to a wire (before the packet module opens its connections).
using bind_fn = std::function<std::string()>;

struct agent_node {
    event_mgr_type *evm = nullptr;
    std::string run_dir;
    std::string shm_prefix;
    tessel_ipc_idb_type ipc{}; // the IPC thread's record of the interface
    controller_type ctrl;      // the controller, played here
    bool ipc_tables = false;
    bool opened = false;
    bool started = false;
    bool created = false;

    tessel_proto_idb_type *port() const
    {
        tessel_proto_idb_type *p = nullptr;
        return tessel_proto_db_get_by_ifname(IFNAME, &p) == 0 ? p : nullptr;
    }

    // Platform set-up of a fresh agent process: run directory, counters window, debug areas,
    // the interface capabilities, the upgrade service's answer, the wire, the checkpoint.
    std::string open(bool virtual_time, bool platform_adjacency, const bind_fn &bind)
    {
        opened = true;
        char dir[] = "/tmp/tessel-scenario.XXXXXX";
        if (mkdtemp(dir) == nullptr) {
            return "cannot create a run directory";
        }
        run_dir = dir;
        jotlog_set_run_dir(dir);
        // The slave-lost trap binds to the database: a database of this process.
        use_database_library(run_dir);
        if (const zerrno rc = nodra_test_server_start(); rc != 0) {
            return std::string("the database: ") + zerr_strerror(rc);
        }
        shm_prefix = "tessel-scenario." + std::to_string(getpid()) + ".";
        shmwin_test_set_prefix(shm_prefix.c_str());
        if (virtual_time) {
            plat_clock_use_virtual();
        } else {
            plat_clock_use_real();
        }
        evm = event_create_manager(nullptr, nullptr, 0);
        if (evm == nullptr || ptp_debug_register(evm, debug_table, debug_areas, 20, nullptr) != 0) {
            return "event manager or debug areas";
        }
        for (const char *area : SHOWN_AREAS) {
            debug_set_area(PTP_DEBUG_PATH, area, nullptr);
        }
        debug_capture_clear();
        if (const zerrno rc = interop::intf_caps_start(platform_adjacency); rc != 0) {
            return std::string("interface capabilities: ") + zerr_strerror(rc);
        }
        pktio_test_reset();
        // The agent's node, on which its group-messaging members live, and the controller.
        sysmgr_test_reset();
        sysmgr_test_set_node(AGENT_NODE);
        comms_test_reset();
        if (const std::string err = ctrl.open(evm); !err.empty()) {
            return err;
        }
        const std::string err = bind();
        if (!err.empty()) {
            return err;
        }
        issul_test_reset();
        issul_test_set_role(ISSUL_ROLE_PRIMARY);
        if (const zerrno rc = tessel_issu_init(evm); rc != 0) {
            return std::string("upgrade client: ") + zerr_strerror(rc);
        }
        chkpt_test_reset(":memory:");
        if (const zerrno rc = start_checkpoint(evm); rc != 0) {
            return std::string("checkpoint: ") + zerr_strerror(rc);
        }
        return "";
    }

    void close()
    {
        if (!opened) {
            return;
        }
        opened = false;
        if (created) {
            ipc.flags |= TESSEL_IPC_FLAG_UPDATE_DELETED;
            tessel_port_mgr_if_update(&ipc);
            created = false;
        }
        if (ipc_tables) {
            tessel_master_db_destroy(&ipc.applied_config.master_table);
            tessel_slave_db_destroy(&ipc.applied_config.slave_table);
            ipc_tables = false;
        }
        if (started) {
            tessel_port_mgr_ptp_disable();
            tessel_bmc_reset();
            tessel_port_mgr_shutdown();
            started = false;
        } else {
            tessel_issu_fini();
        }
        stop_checkpoint();
        interop::intf_caps_stop();
        ctrl.close();
        comms_test_reset();
        sysmgr_test_reset();
        pktio_test_reset();
        if (evm != nullptr) {
            ptp_debug_cleanup();
            event_manager_destroy(evm);
            evm = nullptr;
        }
        shmwin_test_unlink("ptp");
        nodra_test_server_stop();
        nodra_test_set_client_library_path(nullptr);
        plat_clock_use_real();
        if (!run_dir.empty()) {
            jotlog_set_run_dir(nullptr);
            std::error_code ec;
            std::filesystem::remove_all(run_dir, ec);
            run_dir.clear();
        }
    }
    ~agent_node() { close(); }

    // The IPC thread's record of the interface, as configuration and the interface manager
    // filled it: up, Ethernet encapsulation attributes, addresses, multicast, default intervals.
    void fill_ipc(uint32_t encap, const uint8_t mac[6])
    {
        ipc = tessel_ipc_idb_type{};
        std::strncpy(ipc.header.ifname, IFNAME, sizeof ipc.header.ifname - 1);
        ipc.header.ifhandle = AGENT_IFH;
        ipc.if_type = 1;
        ipc.im_state = 3; // up
        ipc.ether_info_len = eth_encap_attr_build(mac, nullptr, 0, ipc.ether_info, sizeof ipc.ether_info);
        tessel_if_config_type &c = ipc.applied_config;
        c.encap = encap;
        c.announce_interval = ANNOUNCE_INTERVAL;
        c.announce_timeout = ANNOUNCE_TIMEOUT;
        c.transport = PTP_TRANSPORT_MULTICAST;
        c.port_state = PTP_RESTRICT_PORT_STATE_ANY;
        c.general_cos = 3;
        c.event_cos = 5;
        c.general_dscp = 10;
        c.event_dscp = 46;
        c.ipv4_ttl = 1;
        c.ipv6_hop_limit = 1;
        c.announce_grant_duration = 300;
        c.sync_grant_duration = 300;
        c.delay_resp_grant_duration = 300;
        c.local_priority = 128;
        tessel_master_db_init(&c.master_table);
        tessel_slave_db_init(&c.slave_table);
        ipc_tables = true;
        const uint8_t v4[4] = {10, 99, 0, 1};
        std::memcpy(&ipc.applied_ipv4_addr, v4, 4);
        ipc.applied_ipv6_addr[0] = 0xfd;
        ipc.applied_ipv6_addr[1] = 0x99;
        ipc.applied_ipv6_addr[15] = 1;
        ipc.flags = TESSEL_IPC_FLAG_UPDATE_CREATED | TESSEL_IPC_FLAG_ENABLED | TESSEL_IPC_FLAG_VRF_ID_KNOWN |
                    TESSEL_IPC_FLAG_ETHER_INFO_KNOWN;
    }
};

// ---- The steps, the same for both masters ----

struct master_type {
    std::string name;           // "ptp4l" or "the simulated master node"
    std::function<void()> stop; // the master goes away
};

result_type run_steps(agent_node &node, clock_type &clock, const master_type &master, uint32_t encap,
                      const uint8_t mac[6], printer_type &pr)
{
    result_type r;
    uint32_t reports_seen = 0;
    auto after = [&]() {
        pr.module_lines();
        pr.controller_lines(node.ctrl, reports_seen);
    };

    // 1. The protocol thread's services start in their order; the platform says primary, so the
    // port manager goes active at once (nothing to recover: the checkpoint store is new).
    if (const zerrno rc = tessel_port_mgr_init(node.evm); rc != 0) {
        r.error = std::string("port manager init: ") + zerr_strerror(rc);
        return r;
    }
    node.started = true;
    pr.begin(std::string("Port manager started: upgrade role primary, ") +
             (tessel_port_mgr_is_active() != 0 ? "active" : "not active"));
    after();

    // 2. The IPC thread's global events.
    tessel_port_mgr_ptp_enable();
    tessel_port_mgr_profile_change(PTP_PROFILE_DEFAULT, PTP_TELECOM_CLOCK_T_BC);
    tessel_port_mgr_min_clock_class_change(MIN_CLOCK_CLASS);
    pr.begin(std::string("IPC thread: PTP enabled, clock profile ") + ptp_profile_to_str(PTP_PROFILE_DEFAULT) +
             ", minimum clock class " + std::to_string(MIN_CLOCK_CLASS));
    after();

    // 3. The controller's first announce message: the local clock, and - no node has a master
    // yet - the local clock as the system's best master.
    const ptp_clock_type local = local_clock();
    {
        const zerrno rc = node.ctrl.announce(local, local, 0, 0);
        pr.begin("Controller announce message (192 bytes): local clock " + hex_id(AGENT_CLOCK_ID) +
                 " domain 0, system best master = the local clock, slave operation supported: " + refused(rc) +
                 (tessel_port_mgr_get_local_clock() != nullptr && tessel_bmc_get_global_bmc() != nullptr
                      ? "the port manager knows both clocks now"
                      : "the port manager did not take them"));
        after();
    }

    // 4. The IPC thread's interface update: the interface is created.
    node.fill_ipc(encap, mac);
    tessel_port_mgr_if_update(&node.ipc);
    tessel_proto_idb_type *port = node.port();
    if (port == nullptr) {
        r.error = "the port manager did not create the interface";
        return r;
    }
    node.created = true;
    pr.begin(std::string("Interface update: ") + IFNAME + " created (" + ptp_address_encap_to_str(encap) +
             ", multicast, announce interval 1 s, announce timeout 3): state " + state_of(port));
    after();

    // 5. The protocol thread's loop sends the port-number request; the controller answers.
    tessel_port_num_process_batches();
    plat_clock_settle();
    pr.begin("Port number request sent, the controller answered " + std::to_string(node.ctrl.numbers_given) +
             ": port number " + std::to_string(port->port_num) + ", state " + state_of(port));
    after();

    // 6. The protocol thread's loop sends the attach batch; the packet-I/O service's answer
    // reaches the port manager, whose readiness check makes the port ready; the loop's next turn
    // writes the port's checkpoint record.
    tessel_packet_process_attach();
    evm_run_until_idle(node.evm);
    r.ready = (port->flags & TESSEL_PROTO_IDB_PORT_MGR_READY) != 0 && port->fsm.PortState == PTP_PORT_STATE_LISTEN;
    const size_t if_records = chkpt_test_record_count(TESSEL_CHKPT_TABLE_IF);
    pr.begin(std::string("Attach batch sent, packet I/O attached: ") + (r.ready ? "ready, " : "not ready, ") +
             "state " + state_of(port) + ", interface checkpoint records: " + std::to_string(if_records));
    after();
    if (!r.ready) {
        return r;
    }

    // 7. The master's Announces: received, qualified on the port's announce timer, reported as
    // the best foreign master to the port manager and the best-master list.
    const uint64_t t7 = clock.elapsed_ms;
    const bool qualified = clock.until(
        [&] {
            const ptp_clock_type *n = tessel_bmc_get_node_bmc();
            return n != nullptr && n->clock_id == MASTER_CLOCK_ID && port->fsm.PortState != PTP_PORT_STATE_LISTEN;
        },
        10000);
    r.passive = qualified && port->fsm.PortState == PTP_PORT_STATE_PASSIVE;
    pr.begin("Announces of " + master.name + " received for " + seconds(clock.elapsed_ms - t7) + ": " +
             (qualified ? "qualified, node best master " + hex_id(MASTER_CLOCK_ID) : std::string("not qualified")) +
             ", state " + state_of(port));
    after();
    if (!r.passive) {
        pr.port(port);
        return r;
    }

    // 8. The controller (played here) names the node's best master the system's best master:
    // selected, not yet synced.
    tessel_bmc_info_type info{};
    const ptp_clock_type gm = *tessel_bmc_get_node_bmc(&info);
    ptp_clock_type advertised = gm; // this node will pass the grandmaster on
    advertised.local = 0;
    {
        const zerrno rc = node.ctrl.announce(gm, advertised, 1, 0);
        pr.begin("Controller announce message: system best master " + hex_id(gm.clock_id) + " (via " +
                 ptp_address_to_str(&info.address) + "), selected, not synced: " + refused(rc) + "state " +
                 state_of(port));
        after();
    }

    // 9. The servo is synced: the controller says so.
    {
        const zerrno rc = node.ctrl.announce(gm, advertised, 1, 1);
        pr.begin("Controller announce message: the same best master, selected, synced: " + refused(rc) + "state " +
                 state_of(port));
        after();
    }

    // 10. The port stays Slave while the master announces (each Announce reloads the timeout).
    clock.pass(3000);
    const ptp_fsm_foreign_master_type *parent = port->fsm.slaving_master;
    r.slave = port->fsm.PortState == PTP_PORT_STATE_SLAVE && parent != nullptr &&
              parent->parent_port_id.clock_id == MASTER_CLOCK_ID;
    pr.begin("3 s later: state " + std::string(state_of(port)) + ", parent " +
             (parent != nullptr
                  ? hex_id(parent->parent_port_id.clock_id) + "/" + std::to_string(parent->parent_port_id.port_num)
                  : std::string("none")));
    after();
    pr.port(port);

    // 11. The master stops: the announce timeout runs out (Master), then the foreign master
    // times out and leaves the best-master list.
    master.stop();
    clock.master_running = false;
    const size_t events_before_stop = pr.events.size();
    const uint64_t t11 = clock.elapsed_ms;
    uint64_t master_at = 0;
    const bool gone = clock.until(
        [&] {
            if (master_at == 0 && port->fsm.PortState == PTP_PORT_STATE_MASTER) {
                master_at = clock.elapsed_ms;
            }
            return master_at != 0 && port->fsm.foreign_master_ranked_list == nullptr &&
                   tessel_bmc_get_node_bmc() == nullptr;
        },
        15000);
    pr.begin(
        "Stopped " + master.name + ": " +
        (master_at != 0 ? "state Master after " + seconds(master_at - t11) : "no Master") +
        (gone ? ", foreign master gone after " + seconds(clock.elapsed_ms - t11) : ", foreign master still there"));
    after();
    r.master_after_stop =
        port->fsm.PortState == PTP_PORT_STATE_MASTER && pr.saw_event("Announce-Timeout", events_before_stop);

    // 12. The controller has heard the node report no best master: the local clock is the
    // system's best master again.
    {
        const zerrno rc = node.ctrl.announce(local, local, 0, 0);
        pr.begin("Controller announce message: system best master = the local clock: " + refused(rc) + "state " +
                 state_of(port));
        after();
    }
    pr.title("Final:");
    pr.port(port);

    // 13. The IPC thread's interface update: the interface is deleted.
    node.ipc.flags |= TESSEL_IPC_FLAG_UPDATE_DELETED;
    tessel_port_mgr_if_update(&node.ipc);
    node.created = false;
    const size_t if_records_left = chkpt_test_record_count(TESSEL_CHKPT_TABLE_IF);
    r.checkpointed = if_records == 1 && if_records_left == 0;
    pr.begin(std::string("Interface update: ") + IFNAME +
             " deleted: " + (node.port() == nullptr ? "record gone" : "record still there") +
             ", interface checkpoint records: " + std::to_string(if_records_left));
    after();
    return r;
}

void verdict(FILE *out, const result_type &r)
{
    if (!r.error.empty()) {
        std::fprintf(out, "Could not run: %s\n", r.error.c_str());
    } else if (r.ok()) {
        std::fprintf(out, "Result: Slave of the master, then Master by Announce-Timeout after it stopped.\n");
    } else {
        std::fprintf(out, "Result: FAILED (ready %d, passive %d, slave %d, master after stop %d, checkpointed %d)\n",
                     r.ready, r.passive, r.slave, r.master_after_stop, r.checkpointed);
    }
    std::fflush(out);
}

// ---- The simulated master node ----

// An Ethernet frame with the node's Announce: to the PTP multicast MAC, from the node's MAC.
constexpr size_t FRAME_HDR = 14;
constexpr size_t ANNOUNCE_LEN = 64;

std::array<uint8_t, FRAME_HDR + ANNOUNCE_LEN> announce_frame(uint16_t seq)
{
    std::array<uint8_t, FRAME_HDR + ANNOUNCE_LEN> f{};
    std::memcpy(&f[0], TESSEL_PACKET_ETH_DEST_MAC, 6);
    std::memcpy(&f[6], MASTER_MAC, 6);
    f[12] = 0x88;
    f[13] = 0xF7;
    uint8_t *m = &f[FRAME_HDR];
    m[0] = 0x0B; // Announce
    m[1] = 2;
    m[3] = ANNOUNCE_LEN;
    ptp_wire_put64(&m[20], MASTER_CLOCK_ID); // source port identity
    m[29] = 1;
    m[30] = static_cast<uint8_t>(seq >> 8);
    m[31] = static_cast<uint8_t>(seq);
    m[32] = 5;
    m[33] = 0xFE; // log interval -2
    m[47] = 100;  // priority1
    m[48] = 13;   // clock class
    m[49] = 0x21; // accuracy
    m[50] = 0x4E; // offsetScaledLogVariance
    m[51] = 0x5D;
    m[52] = 120;                             // priority2
    ptp_wire_put64(&m[53], MASTER_CLOCK_ID); // grandmaster identity
    m[63] = 0xA0;                            // time source
    return f;
}

void master_rx(uint32_t count, ctx_packet_type **packets)
{
    ctx_free(packets, count);
}

} // namespace

zerrno start_checkpoint(event_mgr_type *evm)
{
    if (const zerrno rc = tessel_chkpt_init(evm); rc != 0) {
        return rc;
    }
    if (tessel_issu_get_issu_role() == TESSEL_ISSU_ROLE_PRIMARY) {
        tessel_chkpt_go_primary_active();
    } else {
        tessel_chkpt_go_active();
    }
    return 0;
}

void stop_checkpoint()
{
    tessel_chkpt_test_reset();
    tessel_chkpt_recover_test_reset();
    chkpt_test_reset(nullptr);
}

std::string ptp4l_missing_prerequisite()
{
    if (geteuid() != 0) {
        return "the ptp4l scenario needs root for network namespaces and raw sockets";
    }
    if (!interop::tool_found("ip") || std::system("ip netns list >/dev/null 2>&1") != 0) {
        return "the ptp4l scenario needs 'ip netns' (iproute2)";
    }
    if (!interop::tool_found("ptp4l")) {
        return "the ptp4l scenario needs ptp4l (linuxptp)";
    }
    return "";
}

result_type run_ptp4l(const transport_type &transport, FILE *out)
{
    result_type r;
    interop::veth_pair v;
    if (!v.ok) {
        r.error = "could not create the network namespaces";
        verdict(out, r);
        return r;
    }
    const std::string conf = interop::temp_path("scenario-ptp4l.conf");
    {
        std::ofstream f(conf);
        f << "[global]\npriority1 100\npriority2 120\nclockClass 13\ndomainNumber 0\n"
             "logAnnounceInterval -2\nlogSyncInterval -2\nmasterOnly 1\n";
    }
    interop::ns_process ptp4l(v.ns_b,
                              std::string("ptp4l -i ") + v.dev_b + " -S " + transport.ptp4l_flag + " -m -f " + conf,
                              interop::temp_path("scenario-ptp4l.log"));
    printer_type pr;
    pr.out = out;
    pr.title(std::string("ptp4l (namespace ") + v.ns_b + ", " + transport.name +
             ", software timestamps) as multicast master of the agent's port on " + v.dev_a + ":");
    // Wait until ptp4l sends Announces, so that the steps below do not race its start.
    const bool announcing = ptp4l.wait_for("assuming the grand master role", 10000);
    agent_node node;
    uint8_t mac[6] = {};
    // The kernel resolves neighbours for this backend.
    r.error = node.open(false, true, [&]() -> std::string {
        if (const zerrno rc = pktio_linux_intf_add(v.dev_a.c_str(), AGENT_IFH, v.ns_a.c_str()); rc != 0) {
            return "binding " + v.dev_a + ": " + zerr_strerror(rc);
        }
        pktio_linux_intf_mac(AGENT_IFH, mac);
        return "";
    });
    if (r.error.empty() && !announcing) {
        r.error = "ptp4l did not become master; it said:\n" + ptp4l.output();
    }
    if (r.error.empty()) {
        clock_type clock;
        clock.evm = node.evm;
        master_type master{"ptp4l", [&] { ptp4l.stop(); }};
        r = run_steps(node, clock, master, transport.encap, mac, pr);
    }
    node.close();
    ptp4l.stop();
    verdict(out, r);
    if (r.ok()) {
        interop::remove_files({conf, ptp4l.log});
    }
    return r;
}

result_type run_memory(FILE *out)
{
    result_type r;
    printer_type pr;
    pr.out = out;
    pr.title("A simulated master node, linked in memory to the agent's port (virtual time):");
    agent_node node;
    r.error = node.open(true, false, []() -> std::string {
        if (pktio_test_intf_add(IFNAME, AGENT_IFH, AGENT_MAC) != 0 ||
            pktio_test_intf_add("master0", MASTER_IFH, MASTER_MAC) != 0 ||
            pktio_test_link(AGENT_IFH, MASTER_IFH) != 0) {
            return "in-memory interfaces";
        }
        return "";
    });
    // The master node: its own packet-I/O connection on the far end of the link.
    spio_conn_type *master_conn = nullptr;
    ctx_api_type *api = nullptr;
    if (r.error.empty()) {
        spio_init_params_type params{SPIO_PARAMS_VERSION, master_rx, nullptr, SPIO_CONN_KIND_ETHERNET, node.evm};
        uint32_t dir = 1, status = 0, ifh = MASTER_IFH;
        if (spio_init(&params, &master_conn) != 0 || spio_attach2(master_conn, 0, 1, &ifh, &dir, &status) != 0 ||
            status != 0 || ctx_api_init(&api) != 0) {
            r.error = "the master node's packet I/O";
        }
    }
    if (r.error.empty()) {
        uint16_t seq = 0;
        clock_type clock;
        clock.evm = node.evm;
        clock.is_virtual = true;
        clock.master_announce = [&] {
            const auto f = announce_frame(seq++);
            ctx_packet_type *p = ctx_alloc(api, f.size());
            size_t n = 0;
            ctx_write(p, CTX_LAYER_FRAME, 0, f.data(), f.size(), &n);
            ctx_set_u32(p, CTX_OPT_OUT_IFHANDLE, MASTER_IFH);
            ctx_set_u32(p, CTX_OPT_CURRENT_LENGTH, static_cast<uint32_t>(f.size()));
            spio_pd_intf_send(master_conn, 1, &p, 1, 0);
        };
        master_type master{"the simulated master node", [] {}};
        r = run_steps(node, clock, master, PTP_ENCAP_ETHERNET, AGENT_MAC, pr);
    }
    if (api != nullptr) {
        ctx_api_cleanup(api);
    }
    if (master_conn != nullptr) {
        spio_close(master_conn);
    }
    node.close();
    verdict(out, r);
    return r;
}

} // namespace scenario
