// The trace points of the PTP processes, kept once as data. Emitters name a point
// (ptp_trace<PTP_TRACE_UTIL_ALLOC_FAILED>(...)); the trace display tool walks the tables
// (ptp_trace_points_util, ...) to decode records. To add a point, add one row to its class's
// list: X(NAME, number, display text, argument kinds...). Numbers group by module (see the
// display tool's prefix ranges) and are never reused.
#pragma once

#include <array>

#include "ptp_trace.h"

// Shared-library code, in any process: allocation 0-99, timer wheel 100-199, upgrade client
// 200-299.
#define PTP_TRACE_POINTS_UTIL(X) \
    X(ALLOC_FAILED, 0, "[ERROR] Failed to allocate %lu bytes for '%s'", \
      PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT) \
    X(TW_UPDATE_FAILED, 100, "[ERROR] tw_update() returned an error: %s", PTP_TRACE_ARG_ZERR) \
    X(TW_REARM_FAILED, 101, "[ERROR] tw_update() returned an error, timer will not be re-armed: %s", \
      PTP_TRACE_ARG_ZERR) \
    X(TW_ALLOC_FAILED, 102, "[ERROR] tw_alloc() returned an error: %s", PTP_TRACE_ARG_ZERR) \
    X(TW_STOP_FAILED, 103, "[ERROR] tw_stop_2() returned an error: %s", PTP_TRACE_ARG_ZERR) \
    X(TW_UNTIMEOUT_FAILED, 104, "[ERROR] tw_untimeout() returned an error: %s", PTP_TRACE_ARG_ZERR) \
    X(TW_CREATE_WHEEL_FAILED, 105, "[ERROR] tw_create_wheel_2() returned an error: %s", \
      PTP_TRACE_ARG_ZERR) \
    X(TW_EVM_ATTACH_FAILED, 106, "[ERROR] tw_evm_attach() returned an error: %s", PTP_TRACE_ARG_ZERR) \
    X(TW_PROCESS_FAILED, 107, \
      "[ERROR] tw_process_next_expired_timer() returned an error, exiting: %s", PTP_TRACE_ARG_ZERR) \
    X(ISSU_ROLE_CHANGE, 200, "Received NG ISSU role from ZURO Vuri - new role: %s, old role: %s", \
      PTP_TRACE_ARG_ISSU_ROLE, PTP_TRACE_ARG_ISSU_ROLE) \
    X(ISSU_ROLE_UNEXPECTED, 201, \
      "Did not expect ISSU role %s from ZURO Vuri (current ISSU role is %s). Ignoring", \
      PTP_TRACE_ARG_ISSU_ROLE, PTP_TRACE_ARG_ISSU_ROLE) \
    X(ISSU_ROLE_RECEIVED, 202, "Received ISSU role from ZURO Vuri: %s", PTP_TRACE_ARG_ISSU_ROLE) \
    X(ISSU_REGISTER_FAILED, 203, "Failed to register with ZURO Vuri: %s", PTP_TRACE_ARG_ZERR) \
    X(ISSU_ROLE_NOTIF_FAILED, 204, \
      "Failed to register with ZURO Vuri for role change notifications: %s", PTP_TRACE_ARG_ZERR) \
    X(ISSU_ERROR, 205, "%s", PTP_TRACE_ARG_ZERR) \
    X(ISSU_INIT_DONE, 206, "Module initialization complete") \
    X(ISSU_SHUTDOWN_DONE, 207, "Module shutdown complete") \
    X(ISSU_PLATFORM_INIT_FAILED, 208, "Failed to initialise platform module: %s", PTP_TRACE_ARG_ZERR) \
    X(ISSU_MILESTONES_REGISTER_FAILED, 209, "Failed to register milestones with ZURO Vuri: %s", \
      PTP_TRACE_ARG_ZERR) \
    X(ISSU_MILESTONE_STARTED, 210, "Started milestone '%s'", PTP_TRACE_ARG_ISSU_MILESTONE) \
    X(ISSU_MILESTONE_START_FAILED, 211, "Failed to mark milestone '%s' as started: %s", \
      PTP_TRACE_ARG_ISSU_MILESTONE, PTP_TRACE_ARG_ZERR) \
    X(ISSU_MILESTONE_MET, 212, "Met milestone '%s', ISSU ready: %s", \
      PTP_TRACE_ARG_ISSU_MILESTONE, PTP_TRACE_ARG_ISSU_READY) \
    X(ISSU_MILESTONE_ALREADY_MET, 213, \
      "Milestone met called for milestone '%s' when it has already been met", \
      PTP_TRACE_ARG_ISSU_MILESTONE) \
    X(ISSU_MILESTONE_MET_FAILED, 214, "Failed to mark milestone '%s' as started: %s", \
      PTP_TRACE_ARG_ISSU_MILESTONE, PTP_TRACE_ARG_ZERR)

// The agent (tessel). Rows are added by the agent's modules as they are built.
#define PTP_TRACE_POINTS_TESSEL(X) \
    X(MGD_TIMER_ERROR, 1238, "Unexpected managed timer error encountered whilst %s: %s", \
      PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_ZERR) \
    X(DB_HASH_INIT_FAILED, 400, "[ERROR] Failed to initialise the interface hash table") \
    X(DB_TREE_INIT_FAILED, 401, "[ERROR] Failed to initialise the IDB tree") \
    X(DB_IDB_CREATED, 402, "%s: Creating and inserting a new idb into %s database", \
      PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(DB_IDB_DELETED, 403, "%s: Deleting interface from %s database", PTP_TRACE_ARG_TEXT, \
      PTP_TRACE_ARG_TEXT) \
    X(DB_MASTER_TREE_INIT_FAILED, 404, "[ERROR] Failed to initialise a Master DB tree") \
    X(DB_SLAVE_TREE_INIT_FAILED, 405, "[ERROR] Failed to initialise a Slave DB tree") \
    X(CFG_MASTER_TABLE_IGNORED, 859, \
      "%s: Profile master table config ignored as it is not supported on this interface", \
      PTP_TRACE_ARG_IFHANDLE) \
    X(CFG_MASTER_TABLE_MULTICAST_IGNORED, 860, \
      "%s: Profile master table multicast config ignored as it is not supported on this interface", \
      PTP_TRACE_ARG_IFHANDLE) \
    X(CFG_SLAVE_TABLE_IGNORED, 861, \
      "%s: Profile slave table config ignored as it is not supported on this interface", \
      PTP_TRACE_ARG_IFHANDLE) \
    X(STATS_INVALID_DB_RESET, 3200, "Invalid stats database when restarting") \
    X(STATS_OPEN_FAILED, 3201, "Failed to open shared memory window") \
    X(STATS_CLOSE_FAILED, 3202, "Failed to close shared memory window") \
    X(STATS_VERSION_RESET, 3203, "Failed to reset shared memory window") \
    X(STATS_PEER_CREATE_FAILED, 3204, "Failed to create stats entry for peer") \
    X(STATS_INTF_CREATE_FAILED, 3205, "Failed to create stats entry for interface") \
    X(STATS_INTF_DELETE_FAILED, 3206, "Failed to delete stats entry for interface") \
    X(BMC_IF_INSERTED, 0x578, "%s: Inserted into BMC list at position %lu, head %s", \
      PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_IFHANDLE) \
    X(BMC_IF_REMOVED, 0x579, "%s: Removed from BMC list, head %s", \
      PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_IFHANDLE) \
    X(BMC_GLOBAL_RECEIVED, 0x57a, "Global BMC 0x%08lx%08lx, advertised 0x%08lx%08lx, changed %lu", \
      PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(BMC_NODE_CHANGED, 0x57b, "Node BMC changed: new 0x%08lx%08lx, old 0x%08lx%08lx, master %lu %016lx%016lx", \
      PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, \
      PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(BMC_SLAVE_SUPPORT, 0x57c, "Slave support changed to %lu", PTP_TRACE_ARG_UINT) \
    X(ISSU_MILESTONE_STARTED, 0xaf0, "Started milestone '%s'", PTP_TRACE_ARG_ISSU_MILESTONE) \
    X(ISSU_MILESTONE_START_FAILED, 0xaf1, "[ERROR] Failed to mark milestone '%s' as started: %s", \
      PTP_TRACE_ARG_ISSU_MILESTONE, PTP_TRACE_ARG_ZERR) \
    X(ISSU_MILESTONE_MET, 0xaf2, "Met milestone '%s', ready answered %lu, ISSU ready: %s", \
      PTP_TRACE_ARG_ISSU_MILESTONE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ISSU_READY) \
    X(ISSU_REGISTER_MILESTONES, 0xaf4, "Registering ISSU milestones") \
    X(ISSU_REGISTER_MILESTONES_DONE, 0xaf5, "Registered ISSU milestones") \
    X(ISSU_START_THREAD_RESYNC, 0xaf6, "Starting thread resync ISSU milestone") \
    X(ISSU_START_THREAD_RESYNC_DONE, 0xaf7, "Started thread resync ISSU milestone") \
    X(ISSU_START_CHKPT, 0xaf8, "Starting checkpoint ISSU milestone") \
    X(ISSU_START_CHKPT_DONE, 0xaf9, "Started checkpoint ISSU milestone") \
    X(FSM_STATE_CHANGE, 0x640, "%s: [%lu]: Change to state %lu", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(FSM_RESUME, 0x641, "%s: [%lu]: Resuming FSM", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(FSM_DELAY_RESP_OFFLOADED, 0x64a, "%s: [%lu]: Delay-resp message should be offloaded - ignoring", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(FSM_DELAY_REQ_OFFLOADED, 0x64b, "%s: [%lu]: Delay-Req message should be offloaded - ignoring", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(FSM_FOLLOW_UP_OFFLOADED, 0x64c, "%s: [%lu]: Follow-Up message should be offloaded - ignoring", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(FSM_SYNC_OFFLOADED, 0x64d, "%s: [%lu]: Sync message should be offloaded - ignoring", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(FSM_FM_TREE_INIT_FAILED, 0x65e, "[ERROR] %s: [%lu]: Failed to initialise foreign master tree for this interface", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(FSM_RETURNED_TIMESTAMP, 0x65f, "[ERROR] Returned timestamp should be offloaded - ignoring") \
    X(FSM_EV_READY, 0x660, "%s: [%lu]: Ready-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(FSM_EV_NOT_READY, 0x661, "%s: [%lu]: Not-Ready-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(FSM_EV_BMC_MASTER, 0x662, "%s: [%lu]: BMC-Master-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(FSM_EV_BMC_PASSIVE, 0x663, "%s: [%lu]: BMC-Passive-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(FSM_EV_BMC_SLAVE, 0x664, "%s: [%lu]: BMC-Slave-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(FSM_EV_MASTER_CLOCK_SELECTED, 0x665, "%s: [%lu]: Master-Clock-Selected-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(FSM_EV_SYNCHRONIZATION_FAULT, 0x666, "%s: [%lu]: Synchronization-Fault-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(FSM_EV_FAULT_DETECTED, 0x667, "%s: [%lu]: Fault-Detected-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(FSM_EV_FAULT_CLEARED, 0x668, "%s: [%lu]: Fault-Cleared-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(FSM_EV_QUALIFICATION_TIMEOUT, 0x669, "%s: [%lu]: Qualification-Timeout-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(FSM_EV_ANNOUNCE_TIMEOUT, 0x66a, "%s: [%lu]: Announce-Timeout-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(FSM_EV_HOLD_PASSIVE, 0x66b, "%s: [%lu]: Hold-Passive-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(FSM_EV_UNHOLD_PASSIVE, 0x66c, "%s: [%lu]: Unhold-Passive-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(FSM_INIT, 0x66d, "%s: [%lu]: Initializing FSM", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(FSM_SHUTDOWN, 0x66e, "%s: [%lu]: Shutting down FSM", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(FSM_POSTPONED_FMC, 0x66f, "%s: [%lu]: Perform postponed foreign-master change", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(FSM_START, 0x694, "%s: [%lu]: Starting FSM", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(FSM_ISSU_SECONDARY_UPDATE, 0x695, "%s: [%lu]: Updating FSM database in secondary ISSU role. Old port state was %lu, new port state is %lu. Best foreign master before %lu, now %lu", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_TLV_BAD_LENGTH, 0x648, "%s: [%lu]: TLV type %lu is incorrect length - length is %lu, should be %lu", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_GRANT_NONNEGOTIATED, 0x649, "%s: [%lu]: Unicast grant request received when non negotiated.", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(UNICAST_PEER_TREE_INIT_FAILED, 0x677, "[ERROR] %s: [%lu]: Failed to initialise unicast grant tree for this interface", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(UNICAST_RESTORE_REFUSED, 0x678, "[ERROR] %s: [%lu]: Not restoring unicast-grant, since unicast grant not yet allowed", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(UNICAST_REQUEST_INVALID_TYPE, 0x679, "%s: [%lu]: Received unicast-request TLV for invalid message type %lu - denying", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_CANCEL_INVALID_TYPE, 0x67a, "%s: [%lu]: Received unicast-cancel TLV for invalid message type %lu - dropping", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_GRANT_INVALID_TYPE, 0x67b, "%s: [%lu]: Received unicast-grant TLV for invalid message type %lu - denying", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_GRANT_UNKNOWN_MASTER, 0x67c, "%s: [%lu]: Unicast-grant TLV received from unknown master 0x%lx 0x%lx (address kind %lu)", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_GRANT_DENIED, 0x67d, "%s: [%lu]: Unicast-grant denial received from master 0x%lx 0x%lx (address kind %lu)", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_GRANT_TOO_SHORT, 0x67e, "%s: [%lu]: Unicast-grant TLV has too short a duration %lu from master 0x%lx 0x%lx (address kind %lu)", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_GRANT_MULTICAST_MASTER, 0x67f, "%s: [%lu]: Unicast-grant TLV for message-type %lu received from multicast master 0x%lx 0x%lx (address kind %lu)", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_GRANT_NOT_SLAVING, 0x680, "%s: [%lu]: Unicast-grant TLV for message-type %lu received when not slaving from master 0x%lx 0x%lx (address kind %lu)", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_REQUEST_NONNEGOTIATED, 0x681, "%s: [%lu]: Unicast-grant request received for non-negotiated unicast peer 0x%lx 0x%lx (address kind %lu)", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_GRANT_REPLY_SENT, 0x682, "%s: [%lu]: Sent %lu Unicast-Grant TLVs and %lu deny TLVs to peer 0x%lx 0x%lx (address kind %lu)", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_REQUEST_SENT, 0x683, "%s: [%lu]: Sent Unicast-Request TLV for message type %lu to peer 0x%lx 0x%lx (address kind %lu)", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_SYNC_DELAY_RESP_REQUEST_SENT, 0x684, "%s: [%lu]: Sent Unicast-Request TLV for Sync and Delay-Resp to peer 0x%lx 0x%lx (address kind %lu)", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_CANCEL_SENT, 0x685, "%s: [%lu]: Sent Unicast-Cancel TLV for message type %lu to peer 0x%lx 0x%lx (address kind %lu)", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_ACK_CANCEL_SENT, 0x686, "%s: [%lu]: Sent Unicast-Ack-Cancel TLV for message type %lu to peer 0x%lx 0x%lx (address kind %lu)", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_ANNOUNCE_GRANTED, 0x687, "%s: [%lu]: Granting Announce messages at log interval %ld to peer 0x%lx 0x%lx (address kind %lu)", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_SYNC_GRANTED, 0x688, "%s: [%lu]: Granting Sync messages at log interval %ld to peer 0x%lx 0x%lx (address kind %lu)", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_DELAY_RESP_GRANTED, 0x689, "%s: [%lu]: Granting Delay-Resp messages at log interval %ld to peer 0x%lx 0x%lx (address kind %lu)", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_ANNOUNCE_EXPIRED, 0x68a, "%s: [%lu]: Announce grant to peer 0x%lx 0x%lx (address kind %lu) has expired", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_SYNC_EXPIRED, 0x68b, "%s: [%lu]: Sync grant to peer 0x%lx 0x%lx (address kind %lu) has expired", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_DELAY_RESP_EXPIRED, 0x68c, "%s: [%lu]: Delay-Resp grant to peer 0x%lx 0x%lx (address kind %lu) has expired", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_CANCEL_IGNORED, 0x68f, "%s: [%lu]: Received unicast grant cancel for message type %lu from peer 0x%lx 0x%lx (address kind %lu) for which we have two grants. Ignoring", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_DEFERRED_GRANT_SENT, 0x698, "%s: [%lu]: Sent grant of duration %lu to peer 0x%lx 0x%lx (address kind %lu)", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(PKT_TX_FAILED, 0x700, "[ERROR] %s: Packet transmit failed (value %lu): %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(PKT_FIB_DATA_ADDED, 0x701, "%s: Wrote %lu bytes of FIB next hop information for peer %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT) \
    X(PKT_DUMP, 0x702, "%s: [%lu] len %lu, peer %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT) \
    X(PKT_DUMP_WORDS7, 0x703, "    %08lx %08lx %08lx %08lx %08lx %08lx %08lx", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(PKT_DUMP_WORDS4, 0x704, "    %08lx %08lx %08lx %08lx", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(PKT_RX_FAILED, 0x705, "[ERROR] Incoming packet on encap %lu dropped (value %lu): %s", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(PKT_RX_DROP, 0x706, "%s: [ERROR] Incoming packet dropped (encap %lu, drop reason %lu)", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(PKT_RX_ERROR_DUMP, 0x707, "Incoming packet error, len %lu, encap %lu, subtype %lu", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(PKT_ATTACH_FAILED, 0x708, "[ERROR] SPIO attach failed for interface %s: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_ZERR) \
    X(PKT_SPIO_INIT_FAILED, 0x709, "[ERROR] Failed to initialize SPIO connection of kind %lu: %s", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(PKT_CTX_CLEANUP_FAILED, 0x70a, "Unable to cleanup ctx library: %s", PTP_TRACE_ARG_ZERR) \
    X(PKT_RETURNED_TS_FAILED, 0x70b, "[ERROR] Returned timestamp for packet-id %lu dropped: %s", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR)

// The controller (quorrin). Rows are added by the controller's modules as they are built.
#define PTP_TRACE_POINTS_QUORRIN(X)

// The global-configuration process (sardo). Rows are added by its modules as they are built.
#define PTP_TRACE_POINTS_SARDO(X)

// ---- Generated: one named definition per point, and one table per class --------------------

#define PTP_TRACE_POINT_DEF_(CLASS, NAME, number, format, ...) \
    inline constexpr ptp_trace_point_type PTP_TRACE_##CLASS##_##NAME = { \
        PTP_TRACE_CLASS_##CLASS, number, format, {__VA_ARGS__}};
#define PTP_TRACE_POINT_REF_(CLASS, NAME, ...) PTP_TRACE_##CLASS##_##NAME,

#define PTP_TRACE_UTIL_DEF_(NAME, ...) PTP_TRACE_POINT_DEF_(UTIL, NAME, __VA_ARGS__)
#define PTP_TRACE_TESSEL_DEF_(NAME, ...) PTP_TRACE_POINT_DEF_(TESSEL, NAME, __VA_ARGS__)
#define PTP_TRACE_QUORRIN_DEF_(NAME, ...) PTP_TRACE_POINT_DEF_(QUORRIN, NAME, __VA_ARGS__)
#define PTP_TRACE_SARDO_DEF_(NAME, ...) PTP_TRACE_POINT_DEF_(SARDO, NAME, __VA_ARGS__)
PTP_TRACE_POINTS_UTIL(PTP_TRACE_UTIL_DEF_)
PTP_TRACE_POINTS_TESSEL(PTP_TRACE_TESSEL_DEF_)
PTP_TRACE_POINTS_QUORRIN(PTP_TRACE_QUORRIN_DEF_)
PTP_TRACE_POINTS_SARDO(PTP_TRACE_SARDO_DEF_)

#define PTP_TRACE_UTIL_REF_(NAME, ...) PTP_TRACE_POINT_REF_(UTIL, NAME)
#define PTP_TRACE_TESSEL_REF_(NAME, ...) PTP_TRACE_POINT_REF_(TESSEL, NAME)
#define PTP_TRACE_QUORRIN_REF_(NAME, ...) PTP_TRACE_POINT_REF_(QUORRIN, NAME)
#define PTP_TRACE_SARDO_REF_(NAME, ...) PTP_TRACE_POINT_REF_(SARDO, NAME)
#define PTP_TRACE_COUNT_(...) +1
#define PTP_TRACE_TABLE_(lower, LIST, REF) \
    inline constexpr std::array<ptp_trace_point_type, 0 LIST(PTP_TRACE_COUNT_)> \
        ptp_trace_points_##lower = {{LIST(REF)}};
PTP_TRACE_TABLE_(util, PTP_TRACE_POINTS_UTIL, PTP_TRACE_UTIL_REF_)
PTP_TRACE_TABLE_(tessel, PTP_TRACE_POINTS_TESSEL, PTP_TRACE_TESSEL_REF_)
PTP_TRACE_TABLE_(quorrin, PTP_TRACE_POINTS_QUORRIN, PTP_TRACE_QUORRIN_REF_)
PTP_TRACE_TABLE_(sardo, PTP_TRACE_POINTS_SARDO, PTP_TRACE_SARDO_REF_)

// The definition of the point an id names (class and number), or nullptr.
constexpr const ptp_trace_point_type *ptp_trace_point_find(ptp_trace_id id)
{
    const uint32_t number = ptp_trace_id_number(id);
    auto find = [number](const auto &table) -> const ptp_trace_point_type * {
        for (const ptp_trace_point_type &point : table)
            if (point.number == number)
                return &point;
        return nullptr;
    };
    switch (ptp_trace_id_class(id)) {
    case PTP_TRACE_CLASS_UTIL:
        return find(ptp_trace_points_util);
    case PTP_TRACE_CLASS_TESSEL:
        return find(ptp_trace_points_tessel);
    case PTP_TRACE_CLASS_QUORRIN:
        return find(ptp_trace_points_quorrin);
    case PTP_TRACE_CLASS_SARDO:
        return find(ptp_trace_points_sardo);
    default:
        return nullptr;
    }
}

// Ids written into the records, fixed since records outlive the programs that wrote them.
static_assert(ptp_trace_point_id(PTP_TRACE_UTIL_ALLOC_FAILED) == 0x20200800000);
static_assert(ptp_trace_point_id(PTP_TRACE_UTIL_TW_UPDATE_FAILED) == 0x100800064);
static_assert(ptp_trace_point_id(PTP_TRACE_UTIL_TW_REARM_FAILED) == 0x100800065);
static_assert(ptp_trace_point_id(PTP_TRACE_UTIL_TW_ALLOC_FAILED) == 0x100800066);
static_assert(ptp_trace_point_id(PTP_TRACE_UTIL_TW_STOP_FAILED) == 0x100800067);
static_assert(ptp_trace_point_id(PTP_TRACE_UTIL_TW_UNTIMEOUT_FAILED) == 0x100800068);
static_assert(ptp_trace_point_id(PTP_TRACE_UTIL_TW_CREATE_WHEEL_FAILED) == 0x100800069);
static_assert(ptp_trace_point_id(PTP_TRACE_UTIL_TW_EVM_ATTACH_FAILED) == 0x10080006A);
static_assert(ptp_trace_point_id(PTP_TRACE_UTIL_TW_PROCESS_FAILED) == 0x10080006B);
