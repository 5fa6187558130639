// Calls the receive path and the foreign-master data set make into agent modules that have no
// header in reach of this library yet: the port manager's node values, frequency-sync
// configuration, peer indices, FIB and adjacency, and the slave side of unicast negotiation.
// Each declaration is the module's own function; the module defines it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ptp_types.h"
#include "zerrno.h"

struct tessel_proto_idb_type;
struct ptp_fsm_foreign_master_type;

// ---- Port manager ----
// The local clock as the controller reports it.
struct tessel_local_clock_type {
    uint64_t clock_id;
    uint32_t domain;
};
// Null while the local clock is not known.
const tessel_local_clock_type *tessel_port_mgr_get_local_clock(void);
uint8_t tessel_port_mgr_get_min_clock_class(void);

// ---- Global configuration ----
uint8_t tessel_cfg_get_fsync_ql_option(void);

// ---- Peer indices ----
zerrno tessel_peer_index_acquire(tessel_proto_idb_type *port, const ptp_address_type *addr);
void tessel_peer_index_release(tessel_proto_idb_type *port, const ptp_address_type *addr);

// ---- FIB reachability and adjacency ----
void tessel_fib_pulse(void);
void tessel_fib_foreign_master_unregister(ptp_fsm_foreign_master_type *fm);
void tessel_adjacency_foreign_master_request(ptp_fsm_foreign_master_type *fm);

// ---- Unicast negotiation, slave side ----
// TLV types of Signaling messages.
inline constexpr uint16_t PTP_TLV_UNICAST_REQUEST = 4;
inline constexpr uint16_t PTP_TLV_UNICAST_GRANT = 5;
inline constexpr uint16_t PTP_TLV_UNICAST_CANCEL = 6;
inline constexpr uint16_t PTP_TLV_UNICAST_ACK_CANCEL = 7;

// The seven slave-side grant timers of a foreign master.
zerrno ptp_fsm_unicast_fm_timers_create(ptp_fsm_foreign_master_type *fm);
void ptp_fsm_unicast_fm_timers_delete(ptp_fsm_foreign_master_type *fm);
void ptp_fsm_unicast_start_master_listen(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm);
void ptp_fsm_unicast_end_master_listen(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm);
void ptp_fsm_unicast_start_slaving(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm);
void ptp_fsm_unicast_stop_slaving(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm);
// Cancels the Announce grant of a master that timed out.
void ptp_fsm_unicast_cancel_announce_grant(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm);
// One Unicast-Grant, -Cancel or -Ack-Cancel TLV of tlv_len bytes (header included), already
// checked to lie within its message.
void ptp_fsm_unicast_tlv_handle(tessel_proto_idb_type *port, uint16_t tlv_type, const ptp_address_type *src,
                                const ptp_port_id_type *sender, const uint8_t *tlv, size_t tlv_len);
// Answers the Request TLVs of a Signaling message of msg_len bytes (checked against the bytes
// received).
void ptp_fsm_unicast_handle_request_tlvs(tessel_proto_idb_type *port, const ptp_address_type *src,
                                         const ptp_address_type *dst, const uint8_t *msg, size_t msg_len,
                                         const ptp_port_id_type *sender);

// ---- Packet I/O: the interface's source MAC from its Ethernet encapsulation attributes ----
zerrno eth_encap_attr_src_mac_get(const uint8_t *ether_info, uint32_t ether_info_len, uint8_t mac[PTP_MAC_ADDR_LEN]);
// Restarts the slave-side negotiation of a re-created best foreign master (force: also its
// Sync and Delay-Resp side).
void ptp_fsm_unicast_restore_master_negotiation(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm,
                                                bool force);

// ---- Best-master list ----
// The node's best master clock; null while none is known.
const ptp_clock_type *tessel_bmc_get_node_bmc(void);
