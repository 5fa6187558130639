// In-memory links between processes: an interface of this process's node carried by an in-memory
// link to an interface of another node has its frames relayed by the platform daemon, so that a
// chassis runs without privileges. The interfaces of a process of the chassis are set up from
// the chassis description at its first packet-I/O connection: links and interfaces with a
// simulated peer relayed, Linux devices bound (pktio_linux.h), the others in-memory and unlinked.
// A simulated peer is a process outside the chassis that names itself by the interface's peer
// name (pktio_relay_peer_setup) and then sends and receives on that interface's far end.
#pragma once

#include <cstdint>

#include "evm.h"
#include "sockmsg.h"
#include "zerrno.h"

inline constexpr uint16_t PKTIO_RELAY_SERVICE_ID = 0x0c4;
// The largest frame (or IP packet) relayed.
inline constexpr uint32_t PKTIO_RELAY_MAX_FRAME = 16384;

// Frames of the service, big-endian.
inline constexpr uint16_t PKTIO_RELAY_WIRE_REGISTER =
    1; // request: u32 node, u32 ifhandle (this client's end of a link)
// send: u32 ifhandle, u32 connection kind, i64 wall-clock ns when it left, the bytes
inline constexpr uint16_t PKTIO_RELAY_WIRE_FRAME = 2;
inline constexpr uint16_t PKTIO_RELAY_WIRE_COUNTS = 3; // request: reply u64 relayed, u64 dropped
// request: the peer's name (the bytes, 1 to 64); reply: u32 ifhandle of the interface it serves
inline constexpr uint16_t PKTIO_RELAY_WIRE_REGISTER_PEER = 4;
// notice: u32 ifhandle (receiving end), u32 kind, i64 when it left, the bytes. The far end's
// receive stamp is the time it left: the link is a cable of no length, whatever the relay's
// scheduling delays (both ends read one host clock).
inline constexpr uint16_t PKTIO_RELAY_WIRE_RX = 10;
inline constexpr uint32_t PKTIO_RELAY_FRAME_HEADER = 16;

// The interfaces of this process's node from the chassis description ($PTP_CHASSIS, $PTP_NODE),
// once; also done by the first spio_init. 0 when the process has no node (nothing to set up).
zerrno pktio_chassis_setup(void);

// In a simulated peer's process: the far end of the chassis interface whose peer is named
// `peer` becomes an in-memory interface of this process, named `peer`, with the given MAC and the
// chassis interface's handle (given in *ifhandle), whose frames the daemon relays. Once per
// process. PKTIO_ERR_NO_LINK when no interface names that peer, PKTIO_ERR_IO when the daemon
// cannot be reached.
zerrno pktio_relay_peer_setup(const char *peer, const uint8_t mac[6], uint32_t *ifhandle);

// In the daemon: relay the frames of every in-memory link of the chassis between its clients.
zerrno pktio_relay_host_init(event_mgr_type *evm, sockmsg_server_type *server);
void pktio_relay_host_shutdown(void);

struct pktio_relay_counts_type {
    uint64_t relayed; // frames handed to the far end's processes
    uint64_t dropped; // malformed, oversized, from an end the client did not register, or no one at the far end
};
pktio_relay_counts_type pktio_relay_host_counts(void);
