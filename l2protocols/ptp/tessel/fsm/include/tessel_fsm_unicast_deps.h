// Calls unicast negotiation makes into agent modules that have no header in reach of this
// library yet: packet transmit, adjacency and FIB reachability of unicast peers, the grant
// checkpoint, and the protocol thread's managed timers. Each declaration is the module's own
// function (or record); the module defines it. Only the unicast sources include this header:
// the records here have their own homes in the protocol thread's headers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mgd_timer.h"
#include "ptp_types.h"
#include "tessel_adjacency_types.h"
#include "zerrno.h"

struct tessel_proto_idb_type;
struct ptp_fsm_peer_entry_type;
struct ptp_fsm_foreign_master_type;

// ---- Adjacency ----
// Resolves and stores the adjacency of a newly created unicast peer.
void tessel_adjacency_unicast_peer_request(ptp_fsm_peer_entry_type *peer);
// The current adjacency towards an address, for a send (empty when there is none).
void tessel_adjacency_get(ifhtype ifhandle, const ptp_address_type *addr, ptp_adjacency_type *out);

// ---- FIB reachability ----
void tessel_fib_unicast_peer_unregister(ptp_fsm_peer_entry_type *peer);

// ---- Packet transmit ----
struct tessel_packet_ts_data_type;
struct tessel_fib_update_type;
// Sends one built PTP message on the port (dst null: the encapsulation's multicast address).
zerrno tessel_packet_send(tessel_proto_idb_type *port, const uint8_t *msg, uint16_t msg_len, int is_event,
                          const ptp_address_type *dst, const ptp_address_type *src,
                          const tessel_packet_ts_data_type *ts, const ptp_adjacency_type *adj,
                          const tessel_fib_update_type *fib);

// ---- Checkpoint of unicast grants ----
// The grant record of one unicast peer.
struct tessel_chkpt_unicast_grant_type {
    ptp_address_type peer_addr;
    ptp_address_type local_addr;
    ptp_port_id_type peer_port_id;
    uint8_t grant_flags;         // bit 0 Announce, bit 1 Sync, bit 2 Delay-Resp
    int8_t log_interval[3];      // granted, by ptp_fsm_peer_grant_kind_type
    int8_t app_log_interval[3];  // applied by the offload session
    uint32_t duration[3];        // seconds
    uint64_t expiry[3];          // wall-clock seconds
    uint8_t nonnegotiated_flags; // bit 0 non-negotiated
};
inline constexpr uint8_t TESSEL_CHKPT_GRANT_ANNOUNCE = 0x1;
inline constexpr uint8_t TESSEL_CHKPT_GRANT_SYNC = 0x2;
inline constexpr uint8_t TESSEL_CHKPT_GRANT_DELAY_RESP = 0x4;
// The record is written by the port manager's grants-changed handler (client operation 4),
// which every change of a peer's grants reaches; this module itself deletes it with the entry.
void tessel_chkpt_unicast_grant_update(ptp_fsm_peer_entry_type *peer);
void tessel_chkpt_unicast_grant_delete(ptp_fsm_peer_entry_type *peer);

// ---- Managed timers of the protocol thread ----
using tessel_mgd_timer_handler_fn_type = void (*)(void *context);
zerrno tessel_mgd_timer_parent_new(mgd_timer_parent *parent, const char *name, mgd_timer_parent **out);
void tessel_mgd_timer_parent_free(mgd_timer_parent *parent);
zerrno tessel_mgd_timer_leaf_new(mgd_timer_parent *parent, tessel_mgd_timer_handler_fn_type handler, void *context,
                                 const char *name, mgd_timer_leaf **out);
void tessel_mgd_timer_leaf_free(mgd_timer_leaf *leaf);
