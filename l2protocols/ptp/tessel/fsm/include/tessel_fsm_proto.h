// The protocol side of every PTP message of a port: the common header of sent messages, the
// single entry of received ones (checks, counting, routing by type), and the port's
// foreign-master records.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ptp_types.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_msg_hdr.h"
#include "zerrno.h"

struct tessel_proto_idb_type;

// Packet counter class of a message type (0..15).
uint32_t ptp_fsm_proto_msg_class(uint32_t message_type);

// controlField of a message type.
uint8_t ptp_fsm_proto_msg_control(uint32_t message_type);

// Fills a header (zeroed by the caller) for a message the port sends. The local clock must be
// known.
void ptp_fsm_proto_msg_hdr_build(tessel_proto_idb_type *port, ptp_msg_hdr_type *hdr, uint32_t message_type,
                                 uint16_t length, uint16_t flags, uint16_t sequence_id, int8_t log_interval);

// ---- Receive ----

// Result of the checks that need only the bytes of a message: accepted (reason < 0) or dropped
// with a packet counter class and a node drop reason.
struct ptp_fsm_proto_rx_check_type {
    int drop_reason;             // tessel_packet_drop_reason_type, or -1 when the message passes
    uint32_t drop_class;         // packet counter class of the drop
    ptp_msg_hdr_fields_type hdr; // valid when the header could be read
};

// Structural checks of a received message of len bytes whose header is decoded (null: fewer
// bytes than a header): a full header, a messageLength of at least a header and at most the
// bytes received (else TooShort), version 2 (else InvalidPacket), and the expected domain (else
// WrongDomain).
ptp_fsm_proto_rx_check_type ptp_fsm_proto_rx_check(const ptp_msg_hdr_fields_type *hdr, size_t len,
                                                   uint8_t expected_domain);

// The single entry of every received PTP message of a port. msg holds len bytes as received;
// only the first messageLength of them belong to the message. Every rejection is a counted
// drop; nothing here fails.
void ptp_fsm_proto_packet_in(tessel_proto_idb_type *port, const uint8_t *msg, size_t len, const uint8_t *timestamp,
                             const ptp_address_type *src, const ptp_address_type *dst);
// The same for a message whose header the caller decoded from it already (the packet receive
// path): the header is not read again.
void ptp_fsm_proto_decoded_packet_in(tessel_proto_idb_type *port, const ptp_msg_hdr_fields_type &hdr,
                                     const uint8_t *msg, size_t len, const uint8_t *timestamp,
                                     const ptp_address_type *src, const ptp_address_type *dst);

// The Signaling TLV walk (messageLength bytes at msg, already checked against the bytes
// received).
void ptp_fsm_proto_signaling_in(tessel_proto_idb_type *port, const uint8_t *msg, uint16_t msg_len,
                                const ptp_msg_hdr_fields_type &hdr, const ptp_address_type *src,
                                const ptp_address_type *dst);

// ---- Foreign-master records ----

// Delete options: bit 0 keeps the peer index.
enum ptp_fsm_proto_peer_del_opts_type : uint32_t {
    PTP_FSM_PROTO_PEER_DEL_NONE = 0,
    PTP_FSM_PROTO_PEER_DEL_KEEP_PEER_INDEX = 0x1,
};

// Tree order: address kind, then Ethernet bytes in memory order, IPv4 word, IPv6 halves.
int ptp_fsm_proto_foreign_master_compare(const void *a, const void *b, void *context);

// Initialises the port's foreign-master tree; false on failure.
bool ptp_fsm_proto_foreign_master_tree_init(tessel_proto_idb_type *port);

ptp_fsm_foreign_master_type *ptp_fsm_proto_foreign_master_find(tessel_proto_idb_type *port,
                                                               const ptp_address_type *addr);

// Creates a foreign master for peer (sent_to may be null: the port's own address of its
// encapsulation); skip_peer_index leaves the peer index alone (checkpoint restore).
zerrno ptp_fsm_proto_foreign_master_add(tessel_proto_idb_type *port, const ptp_address_type *peer,
                                        const ptp_address_type *sent_to, bool skip_peer_index,
                                        ptp_fsm_foreign_master_type **out);

// Deletes an unranked record (options: ptp_fsm_proto_peer_del_opts_type).
void ptp_fsm_proto_foreign_master_delete(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm,
                                         uint32_t options);

// Destroys every record of the tree, each taken out of listening first.
void ptp_fsm_proto_foreign_master_tree_destroy(tessel_proto_idb_type *port);

// Master-table part of listening start, then the port's listening timers.
void ptp_fsm_proto_start_listening(tessel_proto_idb_type *port);
// Listening timers stopped, every foreign master destroyed, the tree re-initialised.
void ptp_fsm_proto_end_listening(tessel_proto_idb_type *port);

// Re-applies the port's master table to its foreign masters.
void ptp_fsm_proto_master_config_change(tessel_proto_idb_type *port);

// Re-applies the port's slave table to its unicast peers: every non-negotiated slave of the
// table (of the port's encapsulation) gets a non-negotiated peer entry, created or converted
// from a negotiated one, that answers its Delay-Req; non-negotiated peers no longer in the table
// are deleted.
void ptp_fsm_proto_slave_config_change(tessel_proto_idb_type *port);

// ---- Slave side ----

// Slaves the port to its best foreign master (the ranked list must not be empty).
void ptp_fsm_proto_start_slave(tessel_proto_idb_type *port);
// Switches the slaving master to the current best.
void ptp_fsm_proto_reset_slave(tessel_proto_idb_type *port);
void ptp_fsm_proto_stop_slave(tessel_proto_idb_type *port);

// Restarts listening to a record: its unicast side and, when not Unicast, its Announce receipt.
void ptp_fsm_proto_foreign_master_relisten(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm, bool slaving);

// ---- Checkpoint form of the best foreign master ----

// Re-creates the best foreign master from its checkpoint record (no peer index acquired),
// qualified and ranked at once.
zerrno ptp_fsm_proto_best_foreign_master_restore(tessel_proto_idb_type *port,
                                                 const tessel_chkpt_foreign_master_type *rec, bool slaving,
                                                 bool start_listening);
// present = 1 and rec filled when the port (not held Passive) has a best foreign master.
void ptp_fsm_proto_best_foreign_master_get_chkpt(tessel_proto_idb_type *port, int *present,
                                                 tessel_chkpt_foreign_master_type *rec);
