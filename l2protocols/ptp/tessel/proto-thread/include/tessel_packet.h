// Packet transmit and receive of the protocol thread: PTP messages put on the wire of a port in
// its attached encapsulation (Ethernet, UDP/IPv4, UDP/IPv6), the packet dump used in both
// directions, the VLAN tag stack and the L2 header of IPv4 multicast sessions; the packet-I/O
// connections, the batched attachment of ports to them, resynchronisation, and the receive
// callbacks that turn packet contexts into PTP messages, returned timestamps, offload
// notifications or counted drops.
//
// Protocol thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ctx.h"
#include "eth_encap.h"
#include "evm.h"
#include "jotlog.h"
#include "ptp_types.h"
#include "ptp_zerr_codes.h"
#include "spio.h"
#include "tessel_adjacency_types.h"
#include "tessel_fib_types.h"
#include "zerrno.h"

struct tessel_proto_idb_type;

// A packet's timestamp as the packet context holds it (received, or returned for a sent one):
// 48-bit seconds and 32-bit nanoseconds, big-endian.
using ptp_timestamp_type = uint8_t[CTX_TIMESTAMP_LEN];

// ---- Transmit -------------------------------------------------------------------------------

// Timestamp request of a send.
enum tessel_packet_ts_option_type : uint32_t {
    TESSEL_PACKET_TS_NONE = 0,
    TESSEL_PACKET_TS_INSERT = 1,   // timestamp inserted into the packet at offset
    TESSEL_PACKET_TS_RETURNED = 2, // transmit timestamp returned under packet_id
};
struct tessel_packet_ts_data_type {
    uint32_t ts_option; // tessel_packet_ts_option_type
    uint32_t packet_id;
    uint32_t offset;
};

// The transmit path returns PTP_ZERR_NOMEM, PTP_ZERR_BAD_PACKET (a short write),
// PTP_ZERR2_NO_ADJACENCY and PTP_ZERR_INVALID_ARG.

inline constexpr uint8_t TESSEL_PACKET_ETH_DEST_MAC[6] = {0x01, 0x1B, 0x19, 0x00, 0x00, 0x00};
inline constexpr uint8_t TESSEL_PACKET_IPV4_MCAST_ADDR[4] = {224, 0, 1, 129};
inline constexpr uint8_t TESSEL_PACKET_IPV4_MCAST_MAC[6] = {0x01, 0x00, 0x5E, 0x00, 0x01, 0x81};
inline constexpr uint8_t TESSEL_PACKET_IPV6_MCAST_ADDR[16] = {0xFF, 0x0E, 0, 0, 0, 0, 0,    0,
                                                              0,    0,    0, 0, 0, 0, 0x01, 0x81};
inline constexpr uint16_t TESSEL_PACKET_EVENT_PORT = 319;
inline constexpr uint16_t TESSEL_PACKET_GENERAL_PORT = 320;
inline constexpr uint16_t TESSEL_PACKET_ETHERTYPE = 0x88F7;
// Interface type whose Ethernet encapsulation attributes carry 802.1Q tags.
inline constexpr uint16_t TESSEL_PACKET_IF_TYPE_TAGGED = 25;
// Build areas of one message.
inline constexpr size_t TESSEL_PACKET_MSG_AREA = 100;
// The L2 header of IPv4 multicast PTP: 14 bytes and 4 per tag.
inline constexpr size_t TESSEL_PACKET_IPV4_L2_HDR_MAX = 14 + 4 * DOT1Q_TAG_STACK_MAX;

// Puts one built message (msg_len bytes, at most 98) on the wire of the port in its attached
// encapsulation. dst null: the encapsulation's multicast destination; src null: chosen from the
// port's configuration and addresses. A port that is not attached sends nothing and succeeds.
// A message the packet path refused (including the packet-I/O send itself) is a failure.
zerrno tessel_packet_send(tessel_proto_idb_type *idb, const uint8_t *msg, uint16_t msg_len, int is_event,
                          const ptp_address_type *dst, const ptp_address_type *src,
                          const tessel_packet_ts_data_type *ts, const ptp_adjacency_type *adj,
                          const tessel_fib_update_type *fib);

// Dumps a message (direction 1 out, 0 in): debug lines when packet debugging is on, and always
// its first 72 bytes to the packet trace buffer. Messages shorter than a PTP header are only
// traced.
void tessel_packet_dump(tessel_proto_idb_type *idb, int direction, const uint8_t *msg, uint32_t msg_len,
                        const ptp_address_type *peer);

// The port's 802.1Q tag stack (count 0 unless the interface type is the tagged one). A failure
// raises VLAN_TAG_GEN_FAILED and leaves the count 0.
zerrno tessel_io_vlan_tags_build(tessel_proto_idb_type *idb, dot1q_rewritten_tag_stack_type *tags);

// Writes the L2 header of IPv4 multicast PTP (at most TESSEL_PACKET_IPV4_L2_HDR_MAX bytes).
zerrno tessel_packet_ipv4_l2_header_build(tessel_proto_idb_type *idb, uint8_t *buffer, uint32_t *length);

// ---- Packet-I/O attachment and receive -----------------------------------------------------

zerrno tessel_packet_init(event_mgr_type *evm);
void tessel_packet_cleanup(void);

// The packet trace buffer ("ptp/tessel/pkt"); null: not traced.
void tessel_packet_trace_set(jotlog_handle_type handle);

// The connection of an encapsulation (1, 2, 3); null for others or before init.
spio_conn_type *tessel_io_encap_to_spio_conn(uint32_t encap);

// Requests / withdraws the attachment of a port under its configured encapsulation; batched
// until tessel_packet_process_attach (or a resync) sends them.
void tessel_packet_attach(tessel_proto_idb_type *idb);
void tessel_packet_detach(tessel_proto_idb_type *idb);
// Whether the port wants attachment.
bool tessel_packet_attach_requested(const tessel_proto_idb_type *idb);
// Sends every pending batch: detaches of Ethernet, IPv4, IPv6, then attaches of the same.
void tessel_packet_process_attach(void);
// Pending entries of an encapsulation's batch (selector 1 attach, 0 detach).
uint32_t tessel_packet_batch_size(uint32_t encap, int selector);

void tessel_packet_resync_start(void);
void tessel_packet_resync_end(void);
bool tessel_packet_resync_done(void);

// Callbacks of the packet-I/O service.
void tessel_packet_ethernet_rx(uint32_t count, ctx_packet_type **packets);
void tessel_packet_ipv4_rx(uint32_t count, ctx_packet_type **packets);
void tessel_packet_ipv6_rx(uint32_t count, ctx_packet_type **packets);
void tessel_packet_ethernet_resync_req(void);
void tessel_packet_ipv4_resync_req(void);
void tessel_packet_ipv6_resync_req(void);
