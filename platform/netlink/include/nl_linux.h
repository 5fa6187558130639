// The Linux backend of the reachability services (FIB client, adjacency table, ARP client): a
// simulated interface handle bound to a network device of this machine, and what the services
// ask of the kernel about it through rtnetlink: the route to an address, the neighbour table,
// and a nudge that makes the kernel resolve a neighbour. Handles that are not bound stay with
// the services' in-memory tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zerrno.h"

// Binds ifhandle to the device named devname. netns: the name of a network namespace (under
// /var/run/netns) that holds the device, or null for the namespace of the calling thread.
// ENODEV when the device is not there.
zerrno nl_linux_intf_add(const char *devname, uint32_t ifhandle, const char *netns = nullptr);
void nl_linux_intf_remove(uint32_t ifhandle);

// ---- For the services ----

struct nl_linux_intf_type {
    uint32_t ifhandle = 0;
    int ifindex = 0;
    std::string dev;
    std::string netns; // empty: the namespace the binding was made in
    uint8_t mac[6] = {};
};

bool nl_linux_intf_get(uint32_t ifhandle, nl_linux_intf_type *out);
std::vector<nl_linux_intf_type> nl_linux_intf_list();

// The kernel's route towards addr (4 or 16 bytes) in the device's namespace: the output device
// and the gateway (gateway_len 0 for a directly connected destination).
struct nl_linux_route_type {
    int oif = 0;
    uint32_t gateway_len = 0;
    uint8_t gateway[16] = {};
};
zerrno nl_linux_route_get(const nl_linux_intf_type &intf, const uint8_t *addr, uint32_t addr_len,
                          nl_linux_route_type *out);

// The resolved IPv4 neighbours of the device (those with a link-layer address).
struct nl_linux_neigh_type {
    uint8_t ip[4] = {};
    uint8_t mac[6] = {};
};
zerrno nl_linux_neigh_list(const nl_linux_intf_type &intf, std::vector<nl_linux_neigh_type> *out);

// Makes the kernel resolve an IPv4 neighbour on the device: a datagram to its discard port.
zerrno nl_linux_neigh_resolve(const nl_linux_intf_type &intf, const uint8_t ip[4]);

// Functions run every 100 ms on a background thread while any device is bound (the services
// follow the kernel's changes with them). Registering the same function twice changes nothing.
using nl_linux_poll_fn = void (*)();
void nl_linux_poll_register(nl_linux_poll_fn fn);
