// The port state machine of the agent's protocol thread: module set-up, the per-port lock,
// the client operations through which it reports to the port manager, its event entry points,
// the action table, and the offload hooks that turn its decisions into session updates.
//
// Everything here runs on the protocol thread only.
//
// Which module defines what (all in library tessel_fsm):
//   tessel_fsm_main.cpp  module init/deinit, client operations, per-port init/shutdown, lock,
//                        offload hooks, event-message drop handlers, timing records.
//   tessel_fsm_port.cpp  action table, event entry points, state change, announce-timeout and
//                        qualification building blocks, multicast-Announce flags, the master
//                        side (ptp_fsm_proto_start_master / _stop_master / _refresh_master),
//                        configuration change, start, resume and the secondary-role update.
// The foreign-master data set (ptp_fsm_announce_* other than those declared here) and the
// receive dispatch (ptp_fsm_proto_* other than the master side) live in their own modules.
#pragma once

#include <cstdint>

#include "jotlog.h"
#include "ptp_types.h"
#include "zerrno.h"

struct tessel_proto_idb_type;
struct ptp_fsm_foreign_master_type;
struct ptp_fsm_peer_entry_type;
struct tessel_chkpt_foreign_master_type;

// ---- Events and the action table ---------------------------------------------------------

// One row of the action table per event.
enum ptp_fsm_event_type : uint32_t {
    PTP_FSM_EVENT_ANNOUNCE_TIMEOUT = 0,
    PTP_FSM_EVENT_QUALIFICATION_TIMEOUT = 1,
    PTP_FSM_EVENT_BMC_MASTER = 2,
    PTP_FSM_EVENT_BMC_PASSIVE = 3,
    PTP_FSM_EVENT_FAULT_DETECTED = 4,
    PTP_FSM_EVENT_FAULT_CLEARED = 5,
    PTP_FSM_EVENT_READY = 6,
    PTP_FSM_EVENT_NOT_READY = 7,
    PTP_FSM_EVENT_SYNCHRONIZATION_FAULT = 8,
    PTP_FSM_EVENT_BMC_SLAVE = 9,
    PTP_FSM_EVENT_MASTER_CLOCK_SELECTED = 10,
};
inline constexpr uint32_t PTP_FSM_EVENT_COUNT = 11;
inline constexpr uint32_t PTP_FSM_STATE_COUNT = 8;

// The actions of the table. BAD marks a pair that cannot happen (the process ends).
enum class ptp_fsm_action_type : uint8_t {
    BAD,
    IGNORE,
    LISTEN_TO_MASTER,
    SLAVE_TO_MASTER,
    PREMASTER_TO_MASTER,
    TO_LISTEN,
    LISTEN_TO_INIT,
    PREMASTER_TO_INIT,
    MASTER_TO_INIT,
    SLAVE_TO_INIT,
    FAULTY_TO_INIT,
    PASSIVE_TO_PREMASTER,
    MASTER_REFRESH,
    SLAVE_TO_PREMASTER,
    LISTEN_TO_PASSIVE,
    PREMASTER_TO_PASSIVE,
    MASTER_TO_PASSIVE,
    SLAVE_TO_PASSIVE,
    LISTEN_TO_FAULTY,
    PREMASTER_TO_FAULTY,
    MASTER_TO_FAULTY,
    SLAVE_TO_FAULTY,
    SLAVE_TO_UNCALIBRATED,
    LISTEN_TO_UNCALIBRATED,
    PREMASTER_TO_UNCALIBRATED,
    MASTER_TO_UNCALIBRATED,
    SLAVE_RESELECT,
    UNCALIBRATED_TO_SLAVE,
};
inline constexpr uint32_t PTP_FSM_ACTION_COUNT = 28;

// One cell: the action and the state it leaves the port in (for IGNORE and MASTER_REFRESH the
// current state; for BAD meaningless).
struct ptp_fsm_port_action_cell_type {
    ptp_fsm_action_type action;
    ptp_port_state_type next_state;
};

// The cell of (event, state); null when either is out of range.
const ptp_fsm_port_action_cell_type *ptp_fsm_port_action_get(uint32_t event, uint32_t state);

// "Announce-Timeout", "BMC-Master", ...; "Unknown" outside the table.
const char *ptp_fsm_event_to_str(uint32_t event);
// "listen_to_master", ..., "ignore", "bad".
const char *ptp_fsm_action_to_str(ptp_fsm_action_type action);

// Runs the cell of (event, current state) on the port: no debug line, no trace, no lock.
// The entry points below are the callers; a BAD cell ends the process.
void ptp_fsm_port_event_run(tessel_proto_idb_type *port, ptp_fsm_event_type event);

// ---- Port change flags (what changed on a ready port) --------------------------------------

inline constexpr uint32_t PTP_FSM_CHANGE_LOCAL_CLOCK = 0x1;
inline constexpr uint32_t PTP_FSM_CHANGE_ETHER_INFO = 0x2;
inline constexpr uint32_t PTP_FSM_CHANGE_ADDRESS = 0x4;
inline constexpr uint32_t PTP_FSM_CHANGE_ENCAP = 0x8;
inline constexpr uint32_t PTP_FSM_CHANGE_CLOCK_OPERATION = 0x10;
inline constexpr uint32_t PTP_FSM_CHANGE_ANNOUNCE_INTERVAL = 0x20;
inline constexpr uint32_t PTP_FSM_CHANGE_SYNC_INTERVAL = 0x40;
inline constexpr uint32_t PTP_FSM_CHANGE_ANNOUNCE_TIMEOUT = 0x80;
inline constexpr uint32_t PTP_FSM_CHANGE_DELAY_REQ_INTERVAL = 0x100;
inline constexpr uint32_t PTP_FSM_CHANGE_PORT_STATE = 0x200;
inline constexpr uint32_t PTP_FSM_CHANGE_IFHANDLE = 0x400;
inline constexpr uint32_t PTP_FSM_CHANGE_MASTER_TABLE = 0x800;
inline constexpr uint32_t PTP_FSM_CHANGE_TRANSPORT = 0x1000;
inline constexpr uint32_t PTP_FSM_CHANGE_SYNC_TIMEOUT = 0x2000;
inline constexpr uint32_t PTP_FSM_CHANGE_DELAY_RESP_TIMEOUT = 0x4000;
inline constexpr uint32_t PTP_FSM_CHANGE_ANNOUNCE_GRANT_DURATION = 0x8000;
inline constexpr uint32_t PTP_FSM_CHANGE_SYNC_GRANT_DURATION = 0x10000;
inline constexpr uint32_t PTP_FSM_CHANGE_DELAY_RESP_GRANT_DURATION = 0x20000;
inline constexpr uint32_t PTP_FSM_CHANGE_DENY_INVALID_GRANTS = 0x40000;
inline constexpr uint32_t PTP_FSM_CHANGE_PORT_NUMBER = 0x80000;
inline constexpr uint32_t PTP_FSM_CHANGE_COS = 0x100000;
inline constexpr uint32_t PTP_FSM_CHANGE_DSCP = 0x200000;
inline constexpr uint32_t PTP_FSM_CHANGE_PROFILE = 0x400000;
inline constexpr uint32_t PTP_FSM_CHANGE_SLAVE_TABLE = 0x800000;
inline constexpr uint32_t PTP_FSM_CHANGE_INTEROP = 0x1000000;
inline constexpr uint32_t PTP_FSM_CHANGE_IPV4_TTL = 0x2000000;
inline constexpr uint32_t PTP_FSM_CHANGE_IPV6_HOP_LIMIT = 0x4000000;
inline constexpr uint32_t PTP_FSM_CHANGE_DELAY_ASYMMETRY = 0x8000000;
inline constexpr uint32_t PTP_FSM_CHANGE_ADDRESS_LIST = 0x10000000;

// Any of these restarts the port from Initializing through Listen.
inline constexpr uint32_t PTP_FSM_CHANGE_RESET_SET = 0x014F956F;

// ---- Client operations ---------------------------------------------------------------------

// The six client operations, in slot order; the port manager fills them.
struct ptp_fsm_callbacks_type {
    // 0: the port's best foreign master (or its data) changed; postponed while locked.
    void (*foreign_master_change)(tessel_proto_idb_type *port);
    // 1: a Sync or Delay-Resp timing record of the master the port slaves to.
    void (*time_record)(tessel_proto_idb_type *port, const void *record, void *extra);
    // 2: ptp_fsm_port_change_state stored a new state.
    void (*fsm_state_change)(tessel_proto_idb_type *port);
    // 3: the clock the node advertises, stored in *out and returned (null before one is known).
    const ptp_clock_type *(*get_advertised_clock)(const ptp_clock_type **out);
    // 4: a unicast peer's grants changed; any_left: a grant or the non-negotiated mark is left.
    void (*unicast_grant_change)(ptp_fsm_peer_entry_type *entry, int any_left);
    // 5: the node's best master changed (kept with the others; never called here).
    void (*node_bmc_change)(void);
};

// Copies the six slots and creates the unicast grant-timer parent; on failure the vector is
// cleared and the error returned.
zerrno ptp_fsm_module_init(const ptp_fsm_callbacks_type *callbacks);
void ptp_fsm_module_deinit(void);
// The stored vector (all slots null outside init..deinit).
const ptp_fsm_callbacks_type *ptp_fsm_callbacks_get(void);

// The agent's packet trace buffer ("ptp/tessel/pkt"), which the dropped event messages are
// traced into; the agent's entry hands it over once the buffer is open (null: not traced).
void ptp_fsm_packet_trace_set(jotlog_handle_type handle);

// Calls of single slots, each doing nothing while the slot is empty.
void ptp_fsm_client_foreign_master_change(tessel_proto_idb_type *port);
void ptp_fsm_client_unicast_grant_change(ptp_fsm_peer_entry_type *entry, int any_left);

// ---- Per-port life and the lock ------------------------------------------------------------

zerrno ptp_fsm_init(tessel_proto_idb_type *port);
void ptp_fsm_shutdown(tessel_proto_idb_type *port);

// Postponed-change bits.
inline constexpr uint16_t PTP_FSM_SCHEDULED_FUNCTION_FMC = 0x1; // best-foreign-master change

// The lock is a re-entrancy flag, not a mutex: locking a locked port or unlocking an unlocked
// one ends the process. Unlock delivers, once, a best-foreign-master change postponed meanwhile.
void ptp_fsm_lock(tessel_proto_idb_type *port);
void ptp_fsm_unlock(tessel_proto_idb_type *port);
// When locked: ORs the bits into the postponed set and returns 1; else 0.
int ptp_fsm_postpone_if_locked(tessel_proto_idb_type *port, uint16_t bits);

// ---- Event entry points --------------------------------------------------------------------
//
// Each entry raises its event through one dispatcher, which the event table drives: whether the
// event is ignored while the port is held Passive (with a debug line), whether it clears or sets
// the hold, whether it takes the lock, and its debug line ("<event>-event") and trace record.
//
// The lock contract (the fsm lock of the port, above), on entry and on return:
//   held by the caller, before and after:
//     ptp_fsm_announce_timeout_event (the announce timer's tick holds it),
//     ptp_fsm_ready_without_lock, ptp_fsm_not_ready_without_lock,
//     ptp_fsm_hold_passive, ptp_fsm_unhold_passive (the Announce loop rule holds it);
//   free on entry, taken around the action and free again on return:
//     ptp_fsm_bmc_master, ptp_fsm_bmc_passive, ptp_fsm_ready, ptp_fsm_not_ready,
//     ptp_fsm_port_config_change, ptp_fsm_bmc_slave outside Slave, and
//     ptp_fsm_master_clock_selected outside Uncalibrated and Slave (its BMC-Slave step);
//   not touched (held or not, as the caller has it):
//     ptp_fsm_qualification_timeout_event (raised by its timer, or inside an action),
//     ptp_fsm_bmc_slave in Slave (Synchronization-Fault), ptp_fsm_master_clock_selected in
//     Uncalibrated, ptp_fsm_fault_detected, ptp_fsm_fault_cleared, ptp_fsm_start,
//     ptp_fsm_resume, ptp_fsm_issu_secondary_update.
// An event that is ignored while held Passive returns before the lock is taken.

void ptp_fsm_announce_timeout_event(tessel_proto_idb_type *port);
void ptp_fsm_qualification_timeout_event(tessel_proto_idb_type *port);
void ptp_fsm_bmc_master(tessel_proto_idb_type *port);
void ptp_fsm_bmc_passive(tessel_proto_idb_type *port);
void ptp_fsm_bmc_slave(tessel_proto_idb_type *port);
void ptp_fsm_master_clock_selected(tessel_proto_idb_type *port);
void ptp_fsm_ready(tessel_proto_idb_type *port);
void ptp_fsm_ready_without_lock(tessel_proto_idb_type *port);
void ptp_fsm_not_ready(tessel_proto_idb_type *port);
void ptp_fsm_not_ready_without_lock(tessel_proto_idb_type *port);
void ptp_fsm_fault_detected(tessel_proto_idb_type *port);
void ptp_fsm_fault_cleared(tessel_proto_idb_type *port);
// Row 3 (BMC-Passive) for the current state, then the hold; a port whose state has no such
// action (one not listening) is left alone.
void ptp_fsm_hold_passive(tessel_proto_idb_type *port);
void ptp_fsm_unhold_passive(tessel_proto_idb_type *port);
void ptp_fsm_port_config_change(tessel_proto_idb_type *port, uint32_t change_flags);

// Start after the port manager's recovery: by the stored state, listening and the parts of the
// state are started again.
void ptp_fsm_start(tessel_proto_idb_type *port);
// Resume from a checkpoint (primary upgrade role); best may be null.
void ptp_fsm_resume(tessel_proto_idb_type *port, ptp_port_state_type state,
                    const tessel_chkpt_foreign_master_type *best);
// Data update while the agent is the upgrade secondary: the machine does not run. state may be
// null (no new state), best may be null (no best foreign master).
void ptp_fsm_issu_secondary_update(tessel_proto_idb_type *port, const ptp_port_state_type *state,
                                   const tessel_chkpt_foreign_master_type *best);

// Stores a new state and reports it through client operation 2; nothing when unchanged.
void ptp_fsm_port_change_state(tessel_proto_idb_type *port, ptp_port_state_type state);

// Starts the given state's running parts after a start or resume; any state other than Listen,
// Passive, Master, Uncalibrated or Slave ends the process.
void ptp_fsm_start_running(tessel_proto_idb_type *port, ptp_port_state_type state);

// ---- Building blocks of the actions --------------------------------------------------------

// Slave-only mode: configured Slave-only, or a telecom profile whose clock type is the slave one.
bool ptp_fsm_port_is_slave_only(const tessel_proto_idb_type *port);
void ptp_fsm_port_start_announce_timeout(tessel_proto_idb_type *port);
void ptp_fsm_port_reset_announce_timeout(tessel_proto_idb_type *port);
// One tick of the announce timer for the announce timeout (caller holds the lock): while the
// timeout runs, a non-zero counter counts down and a zero one raises Announce-Timeout, so the
// event comes on the (N+1)-th tick after the counter was loaded with N.
void ptp_fsm_port_announce_timeout_tick(tessel_proto_idb_type *port);
void ptp_fsm_announce_start_announce_timeout(tessel_proto_idb_type *port);
void ptp_fsm_announce_stop_announce_timeout(tessel_proto_idb_type *port);
void ptp_fsm_port_start_qualification_timeout(tessel_proto_idb_type *port);
void ptp_fsm_port_stop_qualification_timeout(tessel_proto_idb_type *port);

void ptp_fsm_announce_start_multicast_announce(tessel_proto_idb_type *port);
void ptp_fsm_announce_stop_master_announce(tessel_proto_idb_type *port);
void ptp_fsm_announce_refresh_multicast_announce(tessel_proto_idb_type *port);
void ptp_fsm_proto_start_master(tessel_proto_idb_type *port);
void ptp_fsm_proto_stop_master(tessel_proto_idb_type *port);
void ptp_fsm_proto_refresh_master(tessel_proto_idb_type *port);

// The head of the ranked list (null when empty); held Passive is not considered here.
ptp_fsm_foreign_master_type *ptp_fsm_port_best_foreign_master(const tessel_proto_idb_type *port);

// ---- Offload hooks -------------------------------------------------------------------------

void ptp_fsm_offload_master_drrm_start(tessel_proto_idb_type *port);
void ptp_fsm_offload_master_drrm_stop(tessel_proto_idb_type *port);
void ptp_fsm_offload_master_sessions_update(tessel_proto_idb_type *port);
void ptp_fsm_offload_slave_drrm_start(tessel_proto_idb_type *port);
void ptp_fsm_offload_slave_drrm_stop(tessel_proto_idb_type *port);
void ptp_fsm_offload_slave_drrm_reset(tessel_proto_idb_type *port);
void ptp_fsm_offload_fm_delay_req_start(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm);
void ptp_fsm_offload_fm_delay_req_stop(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm);
void ptp_fsm_offload_fm_delay_req_update(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm);
void ptp_fsm_offload_fm_sync_start(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm);
void ptp_fsm_offload_fm_sync_stop(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm);
void ptp_fsm_offload_peer_delay_req_reply_start(tessel_proto_idb_type *port, ptp_fsm_peer_entry_type *peer);
void ptp_fsm_offload_peer_delay_req_reply_stop(tessel_proto_idb_type *port, ptp_fsm_peer_entry_type *peer);
void ptp_fsm_offload_peer_session_update(tessel_proto_idb_type *port, ptp_fsm_peer_entry_type *peer);

// A Sync (first 32-bit word 0) or Delay-Resp timing record of a foreign master: marks it
// received and, when the port slaves to that master, hands it to client operation 1.
void ptp_fsm_offload_timestamps_in(ptp_fsm_foreign_master_type *fm, const void *record, void *extra);

// Event messages and returned timestamps belong to the offload plugin; these count and drop them.
// msg is the received PTP message (not read), source its source address (may be null).
void ptp_fsm_offload_sync_in(tessel_proto_idb_type *port, const uint8_t *msg, const ptp_address_type *source);
void ptp_fsm_offload_follow_up_in(tessel_proto_idb_type *port, const uint8_t *msg, const ptp_address_type *source);
void ptp_fsm_offload_delay_req_in(tessel_proto_idb_type *port, const uint8_t *msg, const ptp_address_type *source);
void ptp_fsm_offload_delay_resp_in(tessel_proto_idb_type *port, const uint8_t *msg, const ptp_address_type *source);
void ptp_fsm_proto_returned_timestamp_in(uint32_t packet_id, uint32_t encap, const void *timestamp);
void ptp_fsm_offload_returned_timestamp_in(uint32_t packet_id, uint32_t encap, const void *timestamp);

// The peer port identity of the port's unicast peer with that address, or null.
const ptp_port_id_type *ptp_fsm_unicast_peer_port_id_find(tessel_proto_idb_type *port, const ptp_address_type *peer);
