// The agent side of the unicast negotiation interop tests: the port of interop_agent.h with its
// real negotiation (master and slave side), receive dispatch and foreign-master records, the
// protocol thread's managed timers on the port's event manager, and the addresses of both ends
// of the veth pair. Also what the tests share to read a capture back.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "interop_agent.h"
#include "interop_agent_threads.h"
#include "interop_neighbours.h"
#include "tessel_fsm.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_unicast.h"
#include "tessel_master_db.h"
#include "tessel_mgd_timer.h"
#include "tessel_peer_index.h"

namespace interop {

inline constexpr uint8_t PEER_MAC[6] = {0x02, 0x00, 0x00, 0x00, 0x0b, 0x02};
// The clock identity of the peer's end: the EUI-64 of its MAC (what ptp4l takes).
inline constexpr uint64_t PEER_CLOCK_ID = 0x020000fffe000b02ull;

// The address of the peer's ("b") or the agent's ("a") end for an encapsulation.
inline ptp_address_type veth_address(uint32_t encap, bool peer)
{
    ptp_address_type a{};
    if (encap == PTP_ENCAP_IPV4) {
        const uint8_t ip[4] = {10, 99, 0, static_cast<uint8_t>(peer ? 2 : 1)};
        ptp_address_set_ipv4(&a, ip);
    } else if (encap == PTP_ENCAP_IPV6) {
        uint8_t ip[16] = {0xfd, 0x99};
        ip[15] = peer ? 2 : 1;
        ptp_address_set_ipv6(&a, ip);
    } else {
        const uint8_t mac_a[6] = {0x02, 0x00, 0x00, 0x00, 0x0a, 0x01};
        ptp_address_set_mac(&a, peer ? PEER_MAC : mac_a);
    }
    return a;
}

// The port's negotiation limits: fastest intervals and longest durations it grants, and what it
// asks for as a slave.
struct port_limits {
    int32_t announce_interval;
    int32_t sync_interval;
    int32_t delay_req_interval;
    uint32_t announce_duration;
    uint32_t sync_duration;
    uint32_t delay_resp_duration;
};

struct negotiation_agent {
    agent_port agent;
    tessel_proto_idb_type *port = nullptr;
    bool timers = false;
    bool module = false;
    bool trees = false;
    bool caps = false;
    std::string error;

    bool open(const veth_pair &v, uint32_t encap, const port_limits &limits)
    {
        nb_reset();
        nb.local_clock = {AGENT_CLOCK_ID, 0};
        nb_use_port_manager();
        // The kernel resolves neighbours on this backend.
        if (intf_caps_start(true) != 0) {
            error = "interface capabilities";
            return false;
        }
        caps = true;
        if (!agent.open(v, encap)) {
            error = agent.error;
            return false;
        }
        port = agent.port;
        if (tessel_mgd_timer_init(agent.evm) != 0) {
            error = "managed timers";
            return false;
        }
        timers = true;
        if (ptp_fsm_proto_module_init() != 0) {
            error = "negotiation module init";
            return false;
        }
        module = true;
        port->config.transport = PTP_TRANSPORT_UNICAST;
        port->config.announce_timeout = 3;
        port->config.announce_interval = limits.announce_interval;
        port->config.sync_interval = limits.sync_interval;
        port->config.delay_req_interval = limits.delay_req_interval;
        port->config.announce_grant_duration = limits.announce_duration;
        port->config.sync_grant_duration = limits.sync_duration;
        port->config.delay_resp_grant_duration = limits.delay_resp_duration;
        port->config.deny_invalid_grants = 0;
        port->flags |= TESSEL_PROTO_IDB_PORT_MGR_READY;
        if (tessel_master_db_init(&port->config.master_table) != 0 || !ptp_fsm_proto_foreign_master_tree_init(port) ||
            ptp_fsm_unicast_port_init(port) != 0 || tessel_peer_index_idb_init(port) != 0) {
            error = "port trees";
            return false;
        }
        trees = true;
        return true;
    }
    // Master: grants allowed.
    void as_master()
    {
        port->fsm.PortState = PTP_PORT_STATE_MASTER;
        ptp_fsm_unicast_allow_grants(port);
    }
    // Listening for masters (the announce timer is ticked by the test).
    void as_listener()
    {
        port->fsm.PortState = PTP_PORT_STATE_LISTEN;
        port->fsm.is_listening = 1;
    }
    // Adds (or removes) a unicast master of the port's table and applies the table.
    void master_table_set(const ptp_address_type &addr, bool present)
    {
        tessel_master_db_type *entry = nullptr;
        if (present) {
            if (tessel_master_db_add(&port->config.master_table, &addr, &entry) == 0) {
                entry->flags = TESSEL_MASTER_DB_ENABLE_SET;
            }
        } else if (tessel_master_db_find(&port->config.master_table, &addr, &entry) == 0) {
            tessel_master_db_remove(&port->config.master_table, entry);
        }
        ptp_fsm_proto_master_config_change(port);
    }
    // A message as the port receives it from the peer's end.
    void receive(const std::vector<uint8_t> &msg, const ptp_address_type &src)
    {
        const ptp_address_type dst = veth_address(port->config.encap, false);
        ptp_fsm_proto_packet_in(port, msg.data(), msg.size(), nullptr, &src, &dst);
    }
    void run() { evm_run_until_idle(agent.evm); }
    void close()
    {
        if (trees) {
            ptp_fsm_proto_foreign_master_tree_destroy(port);
            ptp_fsm_unicast_port_shutdown(port);
            tessel_master_db_destroy(&port->config.master_table);
            // Every peer index taken was given back with its peer (else this stops the test).
            tessel_peer_index_idb_cleanup(port);
            trees = false;
        }
        if (module) {
            ptp_fsm_proto_module_deinit();
            module = false;
        }
        if (timers) {
            tessel_mgd_timer_shutdown();
            timers = false;
        }
        agent.close();
        port = nullptr;
        if (caps) {
            intf_caps_stop();
            caps = false;
        }
    }
    ~negotiation_agent() { close(); }
};

// ---- Reading a capture ----

inline std::vector<std::string> split(const std::string &s, char sep)
{
    std::vector<std::string> out;
    std::stringstream in(s);
    std::string item;
    while (std::getline(in, item, sep)) {
        out.push_back(item);
    }
    return out;
}

inline long long num(const std::string &s)
{
    return s.empty() ? 0 : std::stoll(s, nullptr, 0);
}

inline unsigned long long unum(const std::string &s)
{
    return s.empty() ? 0 : std::stoull(s, nullptr, 0);
}

// One line per dissected frame, tab-separated fields, several occurrences joined by ','.
inline std::vector<std::vector<std::string>> tshark_rows(const std::string &pcap, const std::string &filter,
                                                         const std::vector<std::string> &fields)
{
    std::string cmd = "tshark -r " + pcap + " -o ip.check_checksum:TRUE -o udp.check_checksum:TRUE -Y \"" + filter +
                      "\" -T fields -E separator=/t -E occurrence=a -E aggregator=,";
    for (const std::string &f : fields) {
        cmd += " -e " + f;
    }
    cmd += " 2>/dev/null";
    std::vector<std::vector<std::string>> rows;
    for (const std::string &line : split(capture_output(cmd), '\n')) {
        auto c = split(line, '\t');
        c.resize(fields.size());
        rows.push_back(c);
    }
    return rows;
}

// A capture on the peer's end, running until stopped.
struct capture {
    std::string pcap;
    ns_process proc;
    capture(const veth_pair &v, const std::string &name)
        : pcap(temp_path(name + ".pcap")),
          proc(v.ns_b, "tshark -i " + v.dev_b + " -w " + pcap, temp_path(name + "-tshark.log"))
    {
    }
    // The capture is announced a moment before it runs.
    bool started()
    {
        const bool ok = proc.wait_for("Capturing on", 30000); // slow to start on a busy machine
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        return ok;
    }
    void stop() { proc.stop(); }
    std::string malformed() const { return capture_output("tshark -r " + pcap + " -Y _ws.malformed 2>/dev/null"); }
    void remove() const { remove_files({pcap, proc.log}); }
};

} // namespace interop
