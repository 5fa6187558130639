// The simulated grandmaster and slave as programs: a simulated peer of a chassis interface (its
// frames relayed by the platform daemon), running until SIGINT or SIGTERM. The slave ends with a
// summary of its offsets from its master. With --ipv4 they speak UDP/IPv4 unicast with
// negotiation from that address (the slave asks --master for its grants), else Ethernet multicast.
//   sim_grandmaster --peer NAME [--clock-id ID] [--domain N] [--priority1 N] [--clock-class N]
//                   [--offset-ns NS] [--mac MAC] [--ipv4 ADDR]
//   sim_slave       --peer NAME [--clock-id ID] [--domain N] [--offset-ns NS] [--mac MAC]
//                   [--ipv4 ADDR --master ADDR]
#include "sim_program.h"

#include <arpa/inet.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include <CLI/CLI.hpp>

#include "evm.h"
#include "evm_alarm.h"
#include "pktio_relay.h"
#include "plat_clock.h"
#include "sim_peer.h"
#include "zerrno.h"

namespace simpeer {

namespace {

volatile std::sig_atomic_t stop_requested = 0;

void on_signal(int)
{
    stop_requested = 1;
}

constexpr uint64_t STOP_POLL_NS = 100000000;

struct loop_type {
    event_mgr_type *evm = nullptr;
    bool done = false;
};

void on_poll(evm_alarm_type *alarm, void *ctx)
{
    auto *loop = static_cast<loop_type *>(ctx);
    if (stop_requested) {
        loop->done = true;
        return;
    }
    evm_alarm_set(alarm, plat_clock_mono_ns() + STOP_POLL_NS);
}

bool parse_mac(const std::string &text, uint8_t mac[6])
{
    unsigned v[6];
    if (std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 6) {
        return false;
    }
    for (int i = 0; i < 6; ++i) {
        if (v[i] > 0xff) {
            return false;
        }
        mac[i] = static_cast<uint8_t>(v[i]);
    }
    return true;
}

bool parse_ipv4(const std::string &text, ipv4_type *out)
{
    return inet_pton(AF_INET, text.c_str(), out->data()) == 1;
}

// The EUI-64 clock identity of a MAC.
uint64_t eui64(const uint8_t mac[6])
{
    return uint64_t{mac[0]} << 56 | uint64_t{mac[1]} << 48 | uint64_t{mac[2]} << 40 | 0xfffeull << 24 |
           uint64_t{mac[3]} << 16 | uint64_t{mac[4]} << 8 | mac[5];
}

void say(const std::string &line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

} // namespace

int program_main(int argc, char **argv, bool grandmaster)
{
    const char *who = grandmaster ? "sim_grandmaster" : "sim_slave";
    CLI::App app{grandmaster ? "Simulated PTP grandmaster of a chassis interface"
                             : "Simulated free-running PTP slave of a chassis interface"};
    std::string peer, mac_text = grandmaster ? "02:00:00:00:0b:01" : "02:00:00:00:0c:01", ipv4_text, master_text;
    uint64_t clock_id = 0;
    unsigned domain = 0, priority1 = 128, clock_class = 6;
    int64_t offset_ns = 0;
    app.add_option("--peer", peer, "the simulated peer's name in the chassis description")->required();
    app.add_option("--clock-id", clock_id, "clock identity (default: the EUI-64 of the MAC)");
    app.add_option("--domain", domain, "PTP domain")->check(CLI::Range(0, 255));
    app.add_option("--offset-ns", offset_ns, "this clock's offset from the host's wall clock, in ns");
    app.add_option("--mac", mac_text, "the MAC this end sends from");
    CLI::Option *ipv4_option =
        app.add_option("--ipv4", ipv4_text, "speak UDP/IPv4 unicast with negotiation, from this address");
    if (grandmaster) {
        app.add_option("--priority1", priority1, "priority1")->check(CLI::Range(0, 255));
        app.add_option("--clock-class", clock_class, "clock class")->check(CLI::Range(0, 255));
    } else {
        app.add_option("--master", master_text, "the master asked for grants (with --ipv4)")->needs(ipv4_option);
        ipv4_option->needs("--master");
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return app.exit(e);
    }
    uint8_t mac[6] = {};
    if (!parse_mac(mac_text, mac)) {
        std::fprintf(stderr, "%s: not a MAC address: %s\n", who, mac_text.c_str());
        return 2;
    }
    ipv4_type ipv4{}, master{};
    for (const auto &[text, address] : {std::pair{&ipv4_text, &ipv4}, std::pair{&master_text, &master}}) {
        if (!text->empty() && !parse_ipv4(*text, address)) {
            std::fprintf(stderr, "%s: not an IPv4 address: %s\n", who, text->c_str());
            return 2;
        }
    }
    const transport_type transport = ipv4_text.empty() ? transport_type::ETHERNET : transport_type::UDP_IPV4;
    if (clock_id == 0) {
        clock_id = eui64(mac);
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);

    uint32_t ifhandle = 0;
    if (const zerrno rc = pktio_relay_peer_setup(peer.c_str(), mac, &ifhandle); rc != 0) {
        std::fprintf(stderr, "%s: cannot serve the peer '%s' of the chassis: %s\n", who, peer.c_str(),
                     zerr_strerror(rc));
        return 1;
    }
    loop_type loop;
    loop.evm = event_create_manager(nullptr, nullptr, 0);
    evm_alarm_type *poll = loop.evm != nullptr ? evm_alarm_new(loop.evm, on_poll, &loop) : nullptr;
    if (poll == nullptr) {
        std::fprintf(stderr, "%s: no event manager\n", who);
        return 1;
    }
    endpoint_type *endpoint = nullptr;
    zerrno rc = 0;
    if (grandmaster) {
        gm_config_type c;
        c.clock_id = clock_id;
        c.domain = static_cast<uint8_t>(domain);
        c.priority1 = static_cast<uint8_t>(priority1);
        c.clock_class = static_cast<uint8_t>(clock_class);
        c.clock_offset_ns = offset_ns;
        c.transport = transport;
        c.ipv4 = ipv4;
        rc = gm_start(loop.evm, ifhandle, mac, c, say, &endpoint);
    } else {
        slave_config_type c;
        c.clock_id = clock_id;
        c.domain = static_cast<uint8_t>(domain);
        c.clock_offset_ns = offset_ns;
        c.transport = transport;
        c.ipv4 = ipv4;
        c.master_ipv4 = master;
        rc = slave_start(loop.evm, ifhandle, mac, c, say, &endpoint);
    }
    if (rc != 0) {
        std::fprintf(stderr, "%s: cannot start on '%s': %s\n", who, peer.c_str(), zerr_strerror(rc));
        return 1;
    }
    evm_alarm_set(poll, plat_clock_mono_ns() + STOP_POLL_NS);
    while (!loop.done) {
        event_type *e = event_block(loop.evm);
        if (e != nullptr) {
            zq_event_dispatch(e);
        }
    }
    const counts_type counts = endpoint_counts(endpoint);
    if (!grandmaster) {
        const slave_status_type s = slave_status(endpoint);
        say("slave: summary: " + std::to_string(s.exchanges) + " exchanges; |offset| from master p50 " +
            std::to_string(abs_percentile(s.offsets_ns, 50)) + " ns, p90 " +
            std::to_string(abs_percentile(s.offsets_ns, 90)) + " ns, p99 " +
            std::to_string(abs_percentile(s.offsets_ns, 99)) + " ns");
    }
    say(std::string(grandmaster ? "grandmaster" : "slave") + ": stopped; " + std::to_string(counts.sent) +
        " messages sent, " + std::to_string(counts.received) + " received, " + std::to_string(counts.dropped) +
        " dropped");
    evm_alarm_free(poll);
    endpoint_stop(endpoint);
    return 0;
}

} // namespace simpeer
