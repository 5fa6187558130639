// What the master and slave sides of unicast negotiation share: message-type kinds, the
// Signaling senders and trace records with a peer address. Private to the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "mgd_timer.h"
#include "ptp_trace.h"
#include "ptp_types.h"
#include "tessel_adjacency_types.h"
#include "tessel_fib_types.h"
#include "tessel_fsm_services.h"
#include "tessel_mgd_timer.h"
#include "zerrno.h"

struct tessel_proto_idb_type;
struct ptp_fsm_foreign_master_type;
struct ptp_fsm_peer_entry_type;

// Announce 0, Sync 1, Delay-Resp 2 (the index of both sides' grant arrays); -1 for other types.
int ptp_fsm_unicast_kind(uint32_t message_type);
uint32_t ptp_fsm_unicast_kind_msg_type(uint32_t kind);

// Where a Signaling message goes.
struct ptp_fsm_unicast_dest_type {
    const ptp_address_type *peer;  // destination
    const ptp_address_type *local; // source, or null
    ptp_adjacency_type adjacency;
    tessel_fib_update_type fib; // the peer's next-hop data for the fast path (flags 0: none)
};
ptp_fsm_unicast_dest_type ptp_fsm_unicast_dest_fm(const ptp_fsm_foreign_master_type *fm);
ptp_fsm_unicast_dest_type ptp_fsm_unicast_dest_peer(const ptp_fsm_peer_entry_type *entry);
// A reply to a sender without a record: the adjacency is looked up for this reply.
ptp_fsm_unicast_dest_type ptp_fsm_unicast_dest_unknown(const tessel_proto_idb_type *port, const ptp_address_type *peer);

// Fills the header and target of msg (len bytes, TLVs already in place), sends it and counts
// it as a sent Signaling packet on success. target null: all ones.
zerrno ptp_fsm_unicast_signaling_send(tessel_proto_idb_type *port, uint8_t *msg, uint16_t len, uint16_t sequence_id,
                                      const ptp_port_id_type *target, const ptp_fsm_unicast_dest_type &dest);

// Unicast-Cancel or -Ack-Cancel (tlv_type 6 or 7) for one message type; logged and traced.
// sequence_id: the counter whose value the message carries and which then goes + 1 (null: 0).
// While the port answers a received message, a TLV to the same peer joins that one reply (the
// counter advances once per message) and is sent when the answer ends.
zerrno ptp_fsm_unicast_send_cancel(tessel_proto_idb_type *port, uint16_t tlv_type, uint32_t message_type,
                                   uint16_t *sequence_id, const ptp_port_id_type *target,
                                   const ptp_fsm_unicast_dest_type &dest);

// The "Unicast grant timers" parent (null before module init).
mgd_timer_parent *ptp_fsm_unicast_timer_parent(void);

// Slave side, called by the shared TLV dispatch.
void ptp_fsm_unicast_handle_grant(tessel_proto_idb_type *port, const ptp_address_type *src,
                                  const ptp_port_id_type *sender, const uint8_t *tlv, size_t len);
// The foreign master cancels what it granted to this port (message type already checked).
void ptp_fsm_unicast_fm_cancel_received(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm,
                                        uint32_t message_type);
