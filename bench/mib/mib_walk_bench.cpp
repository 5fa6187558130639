// snmpwalk of the port and associate tables of a line card with 2000 PTP interfaces, through
// snmpd: the MIB plug-ins in ptp_mib_agentx, its subagent, read the line card's operational data
// from the database, where this program serves it as the line card's agent does (each interface's
// record, packet counters and a unicast peer; the node's local clock) and counts what it is asked.
//
// Times are real (wall-clock) times of a whole snmpwalk run. Counters per walk: rows and
// instances answered, the agent's listing pages asked (the caches' builds), and the node items
// asked (the port table reads the local clock record on every request).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bag.h"
#include "evm_test_thread.h"
#include "nodra.h"
#include "nodra_test.h"
#include "ptp_bags.h"

namespace {

constexpr int INTERFACES = 2000;
const std::string PORT_TABLE = "1.3.6.1.4.1.47071.9.760.1.2.7";
const std::string ASSOCIATE_TABLE = "1.3.6.1.4.1.47071.9.760.1.2.11";

std::string interface_name(int i)
{
    return "Gi0/1/" + std::to_string(i / 100) + "/" + std::to_string(i % 100);
}

std::string encoded(const void *record, const bag_descriptor_type *bag)
{
    uint8_t *data = nullptr;
    uint32_t length = 0;
    if (bag_encode(record, bag, &data, &length) != 0) {
        return {};
    }
    std::string s(reinterpret_cast<const char *>(data), length);
    free(data);
    return s;
}

// One binding of the line card's agent: items by name, answered to gets and (paged) listings.
struct provider_type {
    std::map<std::string, std::string> items;
    std::atomic<int> asked{0};
    evm_thread thread;
    nodra_conn_td *conn = nullptr;
    uint32_t registration = 0;

    static zerrno serve(nodra_edm_request_td *q, void *)
    {
        auto *self = static_cast<provider_type *>(const_cast<void *>(q->item_table));
        ++self->asked;
        if (q->op == 1) {
            auto it = self->items.find(q->path);
            if (it == self->items.end()) {
                return NODRA_ERR_EDM_NOT_FOUND;
            }
            return nodra_edm_reply_set(q, NODRA_ITEM_DATATYPE_BAG, it->second.data(),
                                       static_cast<uint32_t>(it->second.size()));
        }
        const bool data = q->op == 3;
        if (data ? nodra_edm_datalist_create(q) : nodra_edm_list_create(q)) {
            return NODRA_ERR_INVALID;
        }
        auto it = q->start_key != nullptr ? self->items.upper_bound(q->start_key) : self->items.begin();
        uint32_t added = 0;
        for (; it != self->items.end(); ++it, ++added) {
            if (q->max_count != 0 && added == q->max_count) {
                data ? nodra_edm_datalist_set_more_flag(q) : nodra_edm_list_set_more_flag(q);
                break;
            }
            if (data) {
                nodra_edm_datalist_add(q, it->first.c_str(), NODRA_ITEM_DATATYPE_BAG, it->second.data(),
                                       static_cast<uint32_t>(it->second.size()));
            } else {
                nodra_edm_list_add(q, it->first.c_str(), NODRA_ITEM_DATATYPE_BAG);
            }
        }
        return added == 0 ? NODRA_ERR_EDM_NOT_FOUND : ZERR_OK;
    }

    bool start(const char *bind)
    {
        bool ok = false;
        thread.run([&] {
            nodra_edm_fns_td fns;
            nodra_edm_fns_init(&fns);
            nodra_edm_fns_get_init(&fns, serve);
            nodra_edm_fns_list_init(&fns, serve);
            nodra_edm_fns_datalist_init(&fns, serve);
            ok = _nodra_bind(&conn, bind, 0) == 0 &&
                 nodra_register_edm2(conn, "", &fns, thread.evm, this, 0, &registration) == 0;
        });
        return ok;
    }
};

std::string command_output(const std::string &command)
{
    std::string out;
    if (FILE *p = popen(command.c_str(), "r")) {
        char buf[65536];
        size_t n = 0;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) {
            out.append(buf, n);
        }
        pclose(p);
    }
    return out;
}

int lines_of(const std::string &text)
{
    int n = 0;
    for (char c : text) {
        n += c == '\n';
    }
    return n;
}

// The line card's data, snmpd and the subagent, set up once and stopped at exit.
struct setup_type {
    std::string dir, why, agent;
    provider_type node, interfaces, counters, peers;
    pid_t subagent = -1;
    bool ok = false;

    setup_type()
    {
        char tmpl[] = "/tmp/mib_walk_bench.XXXXXX";
        if (mkdtemp(tmpl) == nullptr || bag_register_all_ptp_bags() != 0) {
            why = "no run folder or no bags";
            return;
        }
        dir = tmpl;
        const std::string library = dir + "/libnodra.so";
        std::ofstream(library) << "";
        nodra_test_set_client_library_path(library.c_str());
        if (nodra_test_server_start() != 0) {
            why = "no database";
            return;
        }
        fill();
        if (!node.start("/oper/ptp/node/10/") || !interfaces.start("/oper/ptp/interface/if/") ||
            !counters.start("/oper/ptp/packet-counters/if/") || !peers.start("/oper/ptp/unicast-peers/if/")) {
            why = "the line card's bindings were refused";
            return;
        }
        const int port = 30000 + static_cast<int>(getpid() % 20000);
        agent = "127.0.0.1:" + std::to_string(port);
        const std::string socket = dir + "/agentx.sock";
        std::ofstream(dir + "/snmpd.conf")
            << "master agentx\nagentXSocket " << socket << "\nagentXPerms 0700 0700\nrocommunity public 127.0.0.1\n";
        command_output("snmpd -Lf " + dir + "/snmpd.log -C -c " + dir + "/snmpd.conf -p " + dir +
                       "/snmpd.pid udp:" + agent);
        subagent = fork();
        if (subagent == 0) {
            setenv("PTP_PLATFORM_SOCKET", nodra_test_server_socket(), 1);
            setenv("PTP_NODRA_LIB", library.c_str(), 1);
            setenv("PTP_MIB_DIR", MIB_DIR, 1);
            const std::string log = dir + "/agentx.log";
            freopen(log.c_str(), "w", stderr);
            execl(AGENTX_PATH, AGENTX_PATH, "--agentx-socket", socket.c_str(), "--module", "zelvoPtpmib",
                  static_cast<char *>(nullptr));
            _exit(127);
        }
        // The subagent is there once the module's constant row answers.
        for (int i = 0; i < 100; ++i) {
            if (command_output("snmpget -v2c -c public -On " + agent + " 1.3.6.1.4.1.47071.9.760.1.1.4.0 2>&1")
                    .find("INTEGER: 3") != std::string::npos) {
                ok = true;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        why = "the subagent did not answer";
    }

    void fill()
    {
        ptp_local_clock_info clock{};
        clock.LocalActive = 1;
        clock.Domain = 44;
        clock.ClockProperties.ClockID = 0x02005efffe100001ull;
        node.items["local-clock"] = encoded(&clock, ptp_local_clock_info_bag_getfn());
        for (int i = 0; i < INTERFACES; ++i) {
            const std::string name = interface_name(i);
            ptp_bag_address peer_address{};
            peer_address.Encapsulation = PTP_BAG_ENCAP_IPv4;
            const uint8_t ip[4] = {10, static_cast<uint8_t>(100 + i / 250), static_cast<uint8_t>(i % 250), 2};
            memcpy(&peer_address.value.IPv4Address, ip, 4);
            ptp_if_info intf{};
            intf.Name = name.c_str();
            intf.PortState = PTP_BAG_PORT_STATE_SLAVE;
            intf.Encapsulation = PTP_BAG_ENCAP_IPv4;
            intf.internal_port_number = static_cast<uint16_t>(i + 1);
            intf.current_peer = &peer_address;
            intf.associate_port_count = 1;
            interfaces.items[name] = encoded(&intf, ptp_if_info_bag_getfn());
            ptp_bag_unicast_peer peer{};
            peer.PeerIndex = 1;
            peer.Address = peer_address;
            ptp_if_unicast_peer_info ups{};
            ups.Name = name.c_str();
            ups.internal_port_number = static_cast<uint16_t>(i + 1);
            ups.Peers = {1, &peer};
            peers.items[name] = encoded(&ups, ptp_if_unicast_peer_info_bag_getfn());
            ptp_bag_peer_packet_counters pc{};
            pc.PeerIndex = 1;
            pc.Counters.TotalPacketsSent = 100;
            pc.Counters.TotalPacketsReceived = 200;
            ptp_if_packet_counter_info c{};
            c.Name = name.c_str();
            c.internal_port_number = static_cast<uint16_t>(i + 1);
            c.PeerCounters = {1, &pc};
            counters.items[name] = encoded(&c, ptp_if_packet_counter_info_bag_getfn());
        }
    }

    ~setup_type()
    {
        if (subagent > 0) {
            kill(subagent, SIGTERM);
            waitpid(subagent, nullptr, 0);
        }
        if (!dir.empty()) {
            command_output("kill $(cat " + dir + "/snmpd.pid) 2>/dev/null");
            std::error_code ec;
            if (getenv("MIB_WALK_BENCH_KEEP") == nullptr) {
                std::filesystem::remove_all(dir, ec);
            }
        }
    }

    int pages() const { return interfaces.asked + counters.asked + peers.asked; }
};

setup_type &setup()
{
    static setup_type s;
    return s;
}

// One snmpwalk of a table of the line card: every run must answer each of its rows' columns.
void BM_Walk(benchmark::State &state, std::string table, int columns)
{
    setup_type &s = setup();
    if (!s.ok) {
        state.SkipWithError(s.why.c_str());
        return;
    }
    double instances = 0, pages = 0, clock_reads = 0;
    for (auto _ : state) {
        const int pages_before = s.pages();
        const int clock_before = s.node.asked;
        const std::string out = command_output("snmpwalk -v2c -c public -On " + s.agent + " " + table + " 2>&1");
        const int n = lines_of(out);
        if (n != INTERFACES * columns) {
            const std::string why = "the walk answered " + std::to_string(n) + " instances: " + out.substr(0, 300);
            state.SkipWithError(why.c_str());
            return;
        }
        instances += n;
        pages += s.pages() - pages_before;
        clock_reads += s.node.asked - clock_before;
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["rows"] = INTERFACES;
    state.counters["instances"] = instances / runs;
    state.counters["agent_pages"] = pages / runs;
    state.counters["node_items_asked"] = clock_reads / runs;
}

BENCHMARK_CAPTURE(BM_Walk, port_table, PORT_TABLE, 6)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(BM_Walk, associate_table, ASSOCIATE_TABLE, 5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

} // namespace
