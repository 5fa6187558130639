// The port manager: the centre of the protocol thread. It starts and stops the thread's
// services in a fixed order, holds the node-wide PTP state that the IPC thread and the
// controller push to it, re-evaluates every port when that state changes, is the client of the
// port state machine and of the best-master list, and keeps the protocol thread's interface
// records in step with the IPC thread's (creation, update, readiness, deletion, sync).
//
// Protocol thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "evm.h"
#include "ptp_comms_msg.h"
#include "ptp_types.h"
#include "tessel_bmc.h"
#include "tessel_node_values.h"
#include "zerrno.h"

struct tessel_proto_idb_type;
struct tessel_ipc_idb_type;
struct ptp_fsm_peer_entry_type;

// The local clock as the controller reports it (clock identity and domain); the record is the
// one the state machine reads.
using tessel_port_mgr_local_clock_type = tessel_local_clock_type;

// ---- Global events ------------------------------------------------------------------------
zerrno tessel_port_mgr_init(event_mgr_type *evm);
void tessel_port_mgr_shutdown(void);
void tessel_port_mgr_ptp_enable(void);
void tessel_port_mgr_ptp_disable(void);
void tessel_port_mgr_profile_change(uint32_t profile, uint32_t telecom_clock_type);
void tessel_port_mgr_min_clock_class_change(uint8_t min_clock_class);
void tessel_port_mgr_local_clock_update(const tessel_port_mgr_local_clock_type *local_clock);
void tessel_port_mgr_global_bmc_update(const ptp_clock_type *bmc, const ptp_clock_type *advertised, uint32_t selected,
                                       uint32_t synced, uint32_t slave_supported);
zerrno tessel_port_mgr_go_active(void);
void tessel_port_mgr_issu_resync(void);

// The controller's announce message as it arrived from the controller process (len bytes at
// msg, multi-byte fields big-endian): 0 u64 local clock identity, 8 u8 domain, 16 the global best
// master clock (80-byte clock wire form), 96 u32 synced, 104 the advertised clock, 184 u32 slave
// operation supported, 188 u32 selected. Applies the global best-master update, then the local
// clock. A message shorter than TESSEL_PORT_MGR_ANNOUNCE_MSG_LEN changes nothing and returns
// PTP_ZERR_INVALID_ARG; bytes past it are not read. The controller link drops the message itself
// in the secondary upgrade role, and sends the node's best master after a successful call.
inline constexpr size_t TESSEL_PORT_MGR_ANNOUNCE_MSG_LEN = PTP_COMMS_MSG_ANNOUNCE_SIZE;
zerrno tessel_port_mgr_announce_msg_receive(const uint8_t *msg, size_t len);

// ---- Getters ------------------------------------------------------------------------------
uint32_t tessel_port_mgr_get_profile(void);                                    // ptp_profile_type
uint32_t tessel_port_mgr_get_telecom_clock_type(void);                         // ptp_telecom_clock_type
const tessel_port_mgr_local_clock_type *tessel_port_mgr_get_local_clock(void); // null while not known
uint8_t tessel_port_mgr_get_min_clock_class(void);
uint32_t tessel_port_mgr_is_active(void);
uint32_t tessel_port_mgr_is_ptp_enabled(void);

// ---- Client operations of the state machine (slot order) and best-master hooks ------------
void tessel_port_mgr_foreign_master_change(tessel_proto_idb_type *idb);
void tessel_port_mgr_time_record(tessel_proto_idb_type *idb, const void *record, void *extra);
void tessel_port_mgr_fsm_state_change(tessel_proto_idb_type *idb);
const ptp_clock_type *tessel_port_mgr_get_advertised_clock(const ptp_clock_type **out);
void tessel_port_mgr_unicast_grant_change(ptp_fsm_peer_entry_type *entry, int any_left);
void tessel_port_mgr_node_bmc_change(void);
void tessel_port_mgr_if_bmc_state_change(tessel_proto_idb_type *idb, tessel_bmc_if_state_type state);

// ---- Interfaces ---------------------------------------------------------------------------

// IPC update flags (tessel_ipc_idb_type::flags) this module reads.
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_CREATED = 1ull << 0;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_DELETED = 1ull << 1;
inline constexpr uint64_t TESSEL_IPC_FLAG_ENABLED = 1ull << 27;
inline constexpr uint64_t TESSEL_IPC_FLAG_VRF_ID_KNOWN = 1ull << 28;
inline constexpr uint64_t TESSEL_IPC_FLAG_ETHER_INFO_KNOWN = 1ull << 29;
// Every update bit (0-26 and 33-39); the state bits 27-32 are the IPC thread's.
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_ALL = 0x07FFFFFFull | 0xFE00000000ull;

void tessel_port_mgr_if_update(tessel_ipc_idb_type *ipc_idb);
// Deletes the protocol thread's record of an interface and everything its port holds.
void tessel_port_mgr_if_delete(tessel_proto_idb_type *idb);
void tessel_port_mgr_db_sync_start(uint32_t ptp_enabled, uint32_t unused1, uint32_t unused2, uint32_t profile,
                                   uint32_t telecom_clock_type, uint8_t min_clock_class);
void tessel_port_mgr_spio_attach_event(tessel_proto_idb_type *idb);
void tessel_port_mgr_port_num_change(tessel_proto_idb_type *idb, uint16_t port_num);
void tessel_port_mgr_readiness_check(tessel_proto_idb_type *idb, uint32_t change_flags, bool start);
