// Unicast negotiation of a PTP port, as master and as slave.
//
// Master side: the port's unicast peers (one ptp_fsm_peer_entry_type per slave address, up to
// three grants each, one grant timer per grant), the answer to Unicast-Request TLVs (grant,
// reduce, deny, renew; new grants and changed intervals answered once the offload session
// reports them, through ptp_fsm_send_unicast_grant_reply), expiry, cancel and end of grants.
// Slave side: the requests to the port's unicast foreign masters, their retries and renewals,
// and the handling of their Grant and Cancel TLVs.
//
// Protocol thread only. Every received length is checked before it is read; nothing a peer
// sends can stop the process.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ptp_types.h"
#include "tessel_fsm_peer_entry.h"
#include "zerrno.h"

struct tessel_proto_idb_type;
struct ptp_fsm_foreign_master_type;

// The checkpoint record of one unicast peer's grants, from which a restart restores the peer.
struct tessel_chkpt_unicast_grant_type {
    char ifname[64]; // the owning port's name, NUL-terminated
    uint32_t ifhandle;
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

// Node-wide limit of unicast peers, and their current number.
inline constexpr uint32_t PTP_FSM_UNICAST_MAX_PEERS = 2500;
extern uint32_t ptp_fsm_unicast_peer_count;

// Slave side: the period of request retries.
inline constexpr uint32_t PTP_FSM_UNICAST_RETRY_S = 4;

// At most this many Grant TLVs go into one Signaling reply (the transmit path builds messages
// in 100-byte areas); a message with more Request TLVs is answered by several replies.
inline constexpr uint32_t PTP_FSM_UNICAST_REPLY_MAX_TLVS = 4;
// At most this many Cancel or Ack-Cancel TLVs go into the one reply to a received message
// (44 + 6 x 9 = 98 bytes: the 100-byte area less the two bytes IPv6 adds).
inline constexpr uint32_t PTP_FSM_UNICAST_CANCEL_REPLY_MAX_TLVS = 9;

// The time after which the slave renews a grant of this duration (seconds): three quarters of
// durations below 240 s, else 60 s before expiry.
uint32_t ptp_fsm_unicast_renewal_time(uint32_t duration);

// ---- Module and port ----

// The "Unicast grant timers" parent.
zerrno ptp_fsm_proto_module_init(void);
void ptp_fsm_proto_module_deinit(void);
// The port's peer tree, created with the state machine. Shutdown ends every grant (with
// cancels) and frees every peer, leaving the tree empty.
zerrno ptp_fsm_unicast_port_init(tessel_proto_idb_type *port);
void ptp_fsm_unicast_port_shutdown(tessel_proto_idb_type *port);

// ---- Peer entries (master side) ----

int ptp_fsm_unicast_peer_entry_compare(const void *a, const void *b, void *context);
// local may be null (the port's own address of its encapsulation). On failure nothing is left
// behind and *out is null.
zerrno ptp_fsm_unicast_peer_entry_create(tessel_proto_idb_type *port, const ptp_address_type *peer,
                                         const ptp_address_type *local, const ptp_port_id_type *peer_port_id,
                                         bool from_chkpt, bool nonnegotiated, ptp_fsm_peer_entry_type **out);
ptp_fsm_peer_entry_type *ptp_fsm_unicast_peer_entry_find(tessel_proto_idb_type *port, const ptp_address_type *peer);
// options: ptp_fsm_proto_peer_del_opts_type.
void ptp_fsm_unicast_peer_entry_delete(ptp_fsm_peer_entry_type *entry, uint32_t options);
// An entry is in use while it holds a grant or is non-negotiated.
bool ptp_fsm_unicast_peer_entry_in_use(const ptp_fsm_peer_entry_type *entry);

void ptp_fsm_unicast_delete_all_peers(tessel_proto_idb_type *port);
void ptp_fsm_unicast_end_grants(tessel_proto_idb_type *port);
void ptp_fsm_unicast_allow_grants(tessel_proto_idb_type *port);
void ptp_fsm_unicast_peer_sweep(tessel_proto_idb_type *port);
zerrno ptp_fsm_unicast_grant_restore(tessel_proto_idb_type *port, const tessel_chkpt_unicast_grant_type *record,
                                     uint64_t chkpt_id);

// Grant timer expiry (the timers' handlers; context = the peer entry).
void ptp_fsm_unicast_grant_announce_expire(void *entry);
void ptp_fsm_unicast_grant_sync_expire(void *entry);
void ptp_fsm_unicast_grant_delay_resp_expire(void *entry);

// Answers the Request TLVs of one Signaling message of msg_len bytes (checked against the bytes
// received); dst is the address the request was sent to (may be null).
void ptp_fsm_unicast_handle_request_tlvs(tessel_proto_idb_type *port, const ptp_address_type *src,
                                         const ptp_address_type *dst, const uint8_t *msg, size_t msg_len,
                                         const ptp_port_id_type *sender);
// The deferred Grant for message_type (Announce, Sync or Delay-Resp), once the offload session
// applies the granted interval.
void ptp_fsm_send_unicast_grant_reply(tessel_proto_idb_type *port, ptp_fsm_peer_entry_type *entry,
                                      uint32_t message_type);

// ---- Received TLVs ----

// Checks a received TLV's total (lengthField + 4) against the expected one; a mismatch is a
// counted drop (one Signaling drop on the port, node drop reason InvalidTLVs) and false.
bool ptp_fsm_unicast_tlv_length_check(tessel_proto_idb_type *port, size_t expected, size_t received, uint16_t tlv_type);
// The answer to one received Signaling message: between begin and end, the Cancel and
// Ack-Cancel TLVs its TLVs call for are gathered into one reply, sent at end. Outside them
// each goes at once.
void ptp_fsm_unicast_replies_begin(tessel_proto_idb_type *port);
void ptp_fsm_unicast_replies_end(tessel_proto_idb_type *port);
// One Unicast-Grant, -Cancel or -Ack-Cancel TLV of tlv_len bytes (header included) that lies
// within its message.
void ptp_fsm_unicast_tlv_handle(tessel_proto_idb_type *port, uint16_t tlv_type, const ptp_address_type *src,
                                const ptp_port_id_type *sender, const uint8_t *tlv, size_t tlv_len);

// ---- Slave side ----

// The seven slave-side timers of a foreign master (a failure frees those made).
zerrno ptp_fsm_unicast_fm_timers_create(ptp_fsm_foreign_master_type *fm);
void ptp_fsm_unicast_fm_timers_delete(ptp_fsm_foreign_master_type *fm);
void ptp_fsm_unicast_start_master_listen(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm);
void ptp_fsm_unicast_end_master_listen(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm);
void ptp_fsm_unicast_restart_announce_request(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm);
// The Announce grant of a master that timed out: the request starts again.
void ptp_fsm_unicast_cancel_announce_grant(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm);
void ptp_fsm_unicast_start_slaving(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm);
void ptp_fsm_unicast_stop_slaving(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm);
void ptp_fsm_unicast_restore_master_negotiation(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm,
                                                bool force);
