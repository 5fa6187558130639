// The agent side of the interoperation tests: the packet module on the Linux-device backend,
// one port bound to the agent's veth end, and the Signaling messages of unicast negotiation.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "eth_encap.h"
#include "evm.h"
#include "evm_test.h"
#include "interop_env.h"
#include "pktio_linux.h"
#include "pktio_test.h"
#include "ptp_address.h"
#include "tessel_fsm_types.h"
#include "tessel_packet.h"
#include "tessel_proto_db.h"

namespace interop {

inline constexpr uint32_t AGENT_IFH = 0x1000;
inline constexpr uint64_t AGENT_CLOCK_ID = 0x020000fffe000a01ull;

struct agent_port {
    event_mgr_type *evm = nullptr;
    tessel_proto_idb_type *port = nullptr;
    std::string error;

    // Binds the agent's end of the pair and opens the packet module with one port on it.
    bool open(const veth_pair &v, uint32_t encap) { return open(v.dev_a, v.ns_a, encap); }
    // The same on a device of a namespace.
    bool open(const std::string &dev, const std::string &ns, uint32_t encap)
    {
        evm = event_create_manager(nullptr, nullptr, 0);
        pktio_test_reset();
        zerrno rc = pktio_linux_intf_add(dev.c_str(), AGENT_IFH, ns.c_str());
        if (rc != 0) {
            error = std::string("binding ") + dev + ": " + zerr_strerror(rc);
            return false;
        }
        if (tessel_proto_db_init() != 0 || tessel_packet_init(evm) != 0 ||
            tessel_proto_db_create("Gi0/0/0/0", &port) != 0) {
            error = "packet module init";
            return false;
        }
        tessel_proto_db_add_ifhandle(AGENT_IFH, port);
        uint8_t mac[6];
        pktio_linux_intf_mac(AGENT_IFH, mac);
        set_tags(0);
        std::memcpy(port->ether_info, mac, 6);
        port->port_num = 1;
        port->config.general_cos = 3;
        port->config.event_cos = 5;
        port->config.general_dscp = 10;
        port->config.event_dscp = 46;
        port->config.ipv4_ttl = 5;
        port->config.ipv6_hop_limit = 6;
        port->config.source_ip.address = 0xFFFFFFFFu;
        const uint8_t v4[4] = {10, 99, 0, 1};
        std::memcpy(&port->ipv4_addr, v4, 4);
        port->ipv6_addr[0] = 0xfd;
        port->ipv6_addr[1] = 0x99;
        port->ipv6_addr[15] = 1;
        return set_encap(encap);
    }
    // Interface type and tag stack of the port: 0, 1 or 2 tags (VLAN 100, then 200).
    void set_tags(uint32_t count)
    {
        uint8_t mac[6];
        pktio_linux_intf_mac(AGENT_IFH, mac);
        const uint32_t tags[2] = {0x81000064, 0x810000c8};
        port->ether_info_len = eth_encap_attr_build(mac, tags, count, port->ether_info, sizeof port->ether_info);
        port->if_type = count > 0 ? TESSEL_PACKET_IF_TYPE_TAGGED : 1;
    }
    bool set_encap(uint32_t encap)
    {
        if (port->is_spio_attached != 0) {
            tessel_packet_detach(port);
        }
        port->config.encap = encap;
        tessel_packet_attach(port);
        tessel_packet_process_attach();
        if (port->is_spio_attached == 0 || port->attached_encap != encap) {
            error = "attach under encapsulation " + std::to_string(encap);
            return false;
        }
        return true;
    }
    void close()
    {
        if (port != nullptr) {
            tessel_proto_db_delete(port);
            port = nullptr;
        }
        tessel_packet_cleanup();
        tessel_proto_db_cleanup();
        pktio_test_reset();
        if (evm != nullptr) {
            event_manager_destroy(evm);
            evm = nullptr;
        }
    }
    ~agent_port() { close(); }
};

// A Signaling message from a port identity (the agent's port by default): header, target port
// identity (all ones), TLVs.
struct signaling_msg {
    std::vector<uint8_t> b;
    explicit signaling_msg(uint16_t seq, uint64_t source_clock = AGENT_CLOCK_ID, uint16_t source_port = 1) : b(44, 0)
    {
        b[0] = 0x0C;
        b[1] = 2;
        b[6] = 0x04; // unicast
        for (int i = 0; i < 8; i++) {
            b[20 + i] = static_cast<uint8_t>(source_clock >> (56 - 8 * i));
        }
        b[28] = static_cast<uint8_t>(source_port >> 8);
        b[29] = static_cast<uint8_t>(source_port);
        b[30] = static_cast<uint8_t>(seq >> 8);
        b[31] = static_cast<uint8_t>(seq);
        b[32] = 5;
        b[33] = 0x7F;
        std::memset(b.data() + 34, 0xFF, 10);
        length();
    }
    void length()
    {
        b[2] = static_cast<uint8_t>(b.size() >> 8);
        b[3] = static_cast<uint8_t>(b.size());
    }
    signaling_msg &tlv(uint16_t type, std::vector<uint8_t> value)
    {
        b.push_back(static_cast<uint8_t>(type >> 8));
        b.push_back(static_cast<uint8_t>(type));
        b.push_back(static_cast<uint8_t>(value.size() >> 8));
        b.push_back(static_cast<uint8_t>(value.size()));
        b.insert(b.end(), value.begin(), value.end());
        length();
        return *this;
    }
    static std::vector<uint8_t> u32(uint32_t v)
    {
        return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                static_cast<uint8_t>(v)};
    }
    signaling_msg &request(uint8_t msg_type, int8_t log_interval, uint32_t duration)
    {
        std::vector<uint8_t> v{static_cast<uint8_t>(msg_type << 4), static_cast<uint8_t>(log_interval)};
        auto d = u32(duration);
        v.insert(v.end(), d.begin(), d.end());
        return tlv(4, v);
    }
    signaling_msg &grant(uint8_t msg_type, int8_t log_interval, uint32_t duration, bool renewal)
    {
        std::vector<uint8_t> v{static_cast<uint8_t>(msg_type << 4), static_cast<uint8_t>(log_interval)};
        auto d = u32(duration);
        v.insert(v.end(), d.begin(), d.end());
        v.push_back(0);
        v.push_back(renewal ? 1 : 0);
        return tlv(5, v);
    }
    signaling_msg &cancel(uint8_t msg_type) { return tlv(6, {static_cast<uint8_t>(msg_type << 4), 0}); }
    signaling_msg &ack_cancel(uint8_t msg_type) { return tlv(7, {static_cast<uint8_t>(msg_type << 4), 0}); }
};

} // namespace interop
