// The Linux-device backend of the packet-I/O service: a simulated interface handle bound to a
// network device of this machine. Ethernet frames (802.1Q tags included) go through a packet
// socket; IPv4 and IPv6 packets (UDP, ports 319 and 320) leave through raw IP sockets bound to
// the device. Everything the device receives that is PTP (EtherType 0x88F7 behind at most two
// tags, or UDP to port 319 or 320) is handed to the attached connection with a software receive
// timestamp. Needs CAP_NET_RAW.
#pragma once

#include <cstdint>

#include "zerrno.h"

// Binds ifhandle to the device named devname (its MAC becomes the interface's MAC).
// netns: the name of a network namespace (under /var/run/netns) that holds the device, or null
// for the namespace of the calling thread.
zerrno pktio_linux_intf_add(const char *devname, uint32_t ifhandle, const char *netns = nullptr);
void pktio_linux_intf_remove(uint32_t ifhandle);
// The MAC address of a bound interface.
zerrno pktio_linux_intf_mac(uint32_t ifhandle, uint8_t mac[6]);
