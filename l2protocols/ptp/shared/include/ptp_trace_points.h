// The trace points of the PTP processes, kept once as data. Emitters name a point
// (ptp_trace<PTP_TRACE_UTIL_ALLOC_FAILED>(...)); the trace display tool walks the tables
// (ptp_trace_points_util, ...) to decode records. To add a point, add one row to its class's
// list: X(NAME, number, display text, argument kinds...). Numbers group by module (see the
// display tool's prefix ranges) and are never reused.
#pragma once

#include <algorithm>
#include <array>

#include "ptp_trace.h"

// Argument groups: a port of the state machine (shown as "<interface>: <state>: " before the
// text), an address (three words, one "%s") and a clock identity (two halves, one "%lx").
#define PTP_TRACE_ARGS_PORT PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE
#define PTP_TRACE_ARGS_ADDR PTP_TRACE_ARG_ADDR, PTP_TRACE_ARG_ADDR_WORD2, PTP_TRACE_ARG_ADDR_ENCAP
#define PTP_TRACE_ARGS_CLOCK_ID PTP_TRACE_ARG_CLOCK_ID, PTP_TRACE_ARG_CLOCK_ID_LOWER

// Shared-library code, in any process: allocation 0-99, timer wheel 100-199, upgrade client
// 200-299.
// The tables keep one row a line.
// clang-format off
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
      PTP_TRACE_ARG_ISSU_MILESTONE, PTP_TRACE_ARG_ISSU_READY_KNOWN, PTP_TRACE_ARG_ISSU_READY) \
    X(ISSU_MILESTONE_ALREADY_MET, 213, \
      "Milestone met called for milestone '%s' when it has already been met", \
      PTP_TRACE_ARG_ISSU_MILESTONE) \
    X(ISSU_MILESTONE_MET_FAILED, 214, "Failed to mark milestone '%s' as started: %s", \
      PTP_TRACE_ARG_ISSU_MILESTONE, PTP_TRACE_ARG_ZERR)

// The agent (tessel). Rows are added by the agent's modules as they are built.
#define PTP_TRACE_POINTS_TESSEL(X) \
    X(MAIN_START, 0, "Tessel is (re)starting.") \
    X(MAIN_EXIT, 1, "Tessel is exiting.") \
    X(MAIN_GOING_ACTIVE, 2, "Tessel is going active.") \
    X(CAPS_INIT_FAILED, 200, "[ERROR] Failed to initialise the interface platform capability module", \
      PTP_TRACE_ARG_UNSHOWN) \
    X(CAPS_BAD_VERSION, 201, \
      "[ERROR] The platform specified an invalid version for the interface capabilities API: %lu", \
      PTP_TRACE_ARG_UINT) \
    X(CAPS, 202, \
      "The platform specified the following interface capabilities API: %lu, Flags: %lu, Max Sync Rate: %lu, Log Sync Rate: %lu", \
      PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(IM_CONN_FAILED, 600, "Failed to create connection to IM: %s", PTP_TRACE_ARG_ZERR) \
    X(IM_INIT_DONE, 601, "IM module initialised") \
    X(IM_BIND_FAILED, 602, "Failed to bind to IM: %s", PTP_TRACE_ARG_ZERR) \
    X(IM_NOTIFY_REGISTER_FAILED, 603, "Failed to register for IM notifications: %s", PTP_TRACE_ARG_ZERR) \
    X(IM_CONNID_FAILED, 604, "Failed to get IM conn ID from context: %s", PTP_TRACE_ARG_ZERR) \
    X(IM_CONNECTED, 605, "Connection to IM successfully initialised") \
    X(IM_CONN_NOTIFY_FAILED, 606, "Failed to register for notification of events on IM connection: %s", \
      PTP_TRACE_ARG_ZERR) \
    X(IM_FIND_FAILED, 607, "Failed to find interface handle from interface name: %s", PTP_TRACE_ARG_ZERR) \
    X(IM_ATTR_REGISTER_FAILED, 608, "Failed to %sregister for IM attributes: %s", \
      PTP_TRACE_ARG_FLAG_UN, PTP_TRACE_ARG_ZERR) \
    X(IM_BULK_NOTIFY, 609, "Received %lu '%s' IM notifications in bulk", PTP_TRACE_ARG_UINT, \
      PTP_TRACE_ARG_IM_NOTIFY_KIND) \
    X(IM_NOTIFY_UNKNOWN_IF, 610, "Received IM notification for interface which is not found in our database") \
    X(IM_ATTR_REGISTER_ENTRY_FAILED, 611, "Failed to %sregister for IM attributes for a batch entry: %s", \
      PTP_TRACE_ARG_FLAG_UN, PTP_TRACE_ARG_ZERR) \
    X(IM_FIND_ENTRY_FAILED, 612, "Failed to find interface handle for interface: %s", \
      PTP_TRACE_ARG_IFNAME, PTP_TRACE_ARG_ZERR) \
    X(IM_FIND_DONE, 613, "Successfully found interface handles for %lu interfaces", PTP_TRACE_ARG_UINT) \
    X(IM_ATTR_REGISTERED, 614, "Successfully %sregistered %lu interfaces for IM attribute updates", \
      PTP_TRACE_ARG_FLAG_UN, PTP_TRACE_ARG_UINT) \
    X(TC_SEND, 1000, "About to send inter-thread %s message of size %lu", \
      PTP_TRACE_ARG_THREAD_MSG, PTP_TRACE_ARG_UINT) \
    X(TC_SEND_FAILED, 1001, "Failed to send inter-thread %s message: %s", \
      PTP_TRACE_ARG_THREAD_MSG, PTP_TRACE_ARG_ZERR) \
    X(TC_SENT, 1002, "Successfully sent interface-thread %s message of size %lu and received response '%s'", \
      PTP_TRACE_ARG_THREAD_MSG, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(TC_REPLY_FAILED, 1003, "Thread message reply failed: %s", PTP_TRACE_ARG_ZERR) \
    X(TC_ERROR_FAILED, 1004, "Message error failed: %s", PTP_TRACE_ARG_ZERR) \
    X(TC_RECEIVED, 1005, "Protocol thread received %s message from IPC thread", PTP_TRACE_ARG_THREAD_MSG) \
    X(PM_IF_READY, 1229, "Interface is now ready", PTP_TRACE_ARG_IFHANDLE) \
    X(PM_IF_NOT_READY, 1230, "Interface is no longer ready", PTP_TRACE_ARG_IFHANDLE) \
    X(PM_IF_CREATE, 1231, "(0x%8.8lx) Creating protocol thread IDB for interface", \
      PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(PM_IF_CREATE_FAILED, 1232, "(0x%8.8lx) Failed to create protocol thread IDB for interface: %s", \
      PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(PM_IF_DELETE, 1233, "(0x%8.8lx) Deleting protocol thread IDB for interface", \
      PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(PM_IF_DELETE_LOOKUP_FAILED, 1234, \
      "(0x%8.8lx) Failed to get protocol thread DB IDB to delete for interface: %s", \
      PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(PM_IF_SWEPT, 1235, "Deleting interface as it was not found in the IPC thread database", \
      PTP_TRACE_ARG_IFHANDLE) \
    X(PM_IF_UPDATE_LOOKUP_FAILED, 1236, \
      "(0x%8.8lx) Failed to get protocol thread DB IDB to update for interface: %s", \
      PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(PM_DB_SYNC_START, 1237, \
      "Starting sync of IPC thread and protocol thread databases. PTP is %senabled", \
      PTP_TRACE_ARG_TEXT) \
    X(MGD_TIMER_ERROR, 1238, "Unexpected managed timer error encountered whilst %s: %s", \
      PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_ZERR) \
    X(PM_INIT_PRE_DB, 1269, "Pre DB init") \
    X(PM_INIT_PRE_TIMER, 1270, "Pre timer init, post DB init") \
    X(PM_INIT_PRE_MGD_TIMER, 1271, "Pre mgd timer init, post timer init") \
    X(PM_INIT_PRE_FSM, 1272, "Pre fsm init, post mgd timer + bmc init") \
    X(PM_INIT_PRE_OFFLOAD, 1273, "Pre offload init, post pkt module init") \
    X(CHKPT_GL_WRITE_FAILED, 1204, "Failed to write global PTP information to checkpoint: %s", PTP_TRACE_ARG_ZERR) \
    X(CHKPT_IF_SAVED, 1206, "%s checkpoint record for %sinterface", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_FLAG_CREATED, PTP_TRACE_ARG_FLAG_VIRTUAL) \
    X(CHKPT_IF_DELETED, 1207, "Deleted checkpoint record for %sinterface", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_FLAG_VIRTUAL) \
    X(CHKPT_IF_WRITE_FAILED, 1208, "Failed to write interface checkpoint for %sinterface: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_FLAG_VIRTUAL, PTP_TRACE_ARG_ZERR) \
    X(CHKPT_IF_DELETE_FAILED, 1211, "Failed to delete checkpoint record for %sinterface: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_FLAG_VIRTUAL, PTP_TRACE_ARG_ZERR) \
    X(CHKPT_GRANT_WRITE_FAILED, 1218, "Failed to write unicast grant checkpoint for interface %s (0x%8.8lx): %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(CHKPT_GRANT_DELETE_FAILED, 1219, "Failed to delete unicast grant checkpoint record for interface %s (0x%8.8lx): %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(CHKPT_PEER_INDEX_WRITE_FAILED, 1225, "Failed to write peer index checkpoint for peer index %lu, interface %s (0x%8.8lx), peer %s: %s", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARGS_ADDR, PTP_TRACE_ARG_ZERR) \
    X(CHKPT_PEER_INDEX_DELETE_FAILED, 1226, "Failed to delete peer index %lu checkpoint record for interface %s (0x%8.8lx), peer %s: %s", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARGS_ADDR, PTP_TRACE_ARG_ZERR) \
    X(GPB_IF_DECODE_FAILED, 1262, "Failed to decode a checkpoint interface record: %s", PTP_TRACE_ARG_ZERR) \
    X(GPB_GL_DECODE_FAILED, 1263, "Failed to decode a checkpoint global record: %s", PTP_TRACE_ARG_ZERR) \
    X(GPB_UNICAST_GRANT_DECODE_FAILED, 1264, "Failed to decode a checkpoint unicast grant record: %s", PTP_TRACE_ARG_ZERR) \
    X(GPB_PEER_INDEX_DECODE_FAILED, 1265, "Failed to decode a checkpoint peer index record: %s", PTP_TRACE_ARG_ZERR) \
    X(CHKPT_GL_READ_FAILED, 1205, "Failed to read global PTP information from checkpoint: %s", PTP_TRACE_ARG_ZERR) \
    X(CHKPT_IF_READ_FAILED, 1209, "Failed to read %sinterface checkpoint: %s", PTP_TRACE_ARG_FLAG_VIRTUAL, PTP_TRACE_ARG_ZERR) \
    X(CHKPT_IF_FSM_READ_FAILED, 1210, "Failed to read %sinterface FSM checkpoint: %s", PTP_TRACE_ARG_FLAG_VIRTUAL, PTP_TRACE_ARG_ZERR) \
    X(CHKPT_IF_RECOVER_FAILED, 1212, "Failed to recover interface from checkpoint: %s", PTP_TRACE_ARG_IFNAME, PTP_TRACE_ARG_ZERR) \
    X(CHKPT_IF_RECOVERED, 1213, "Recovered interface with port number 0x%4.4lx, from checkpoint", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(CHKPT_IF_DISCARDED, 1214, "Global PTP information not recovered from checkpoint, discarding %sinterface checkpoint", PTP_TRACE_ARG_FLAG_VIRTUAL) \
    X(CHKPT_GRANT_READ_FAILED, 1220, "Failed to read unicast grant checkpoint: %s", PTP_TRACE_ARG_ZERR) \
    X(CHKPT_GRANT_NO_IDB, 1221, "Failed to recover unicast grant from checkpoint - no IDB", PTP_TRACE_ARG_IFNAME) \
    X(CHKPT_GRANT_RECOVERED, 1222, "Recovered unicast grant from checkpoint for peer %s", PTP_TRACE_ARGS_ADDR) \
    X(CHKPT_GRANT_DISCARDED, 1223, "Global PTP information not recovered from checkpoint, discarding unicast grant checkpoint") \
    X(CHKPT_PEER_INDEX_READ_FAILED, 1227, "Failed to read peer index checkpoint: %s", PTP_TRACE_ARG_ZERR) \
    X(CHKPT_PEER_INDEX_DISCARDED, 1228, "Global PTP information not recovered from checkpoint, discarding peer index checkpoint") \
    X(CHKPT_IDT_IF, 1239, "Received an interface table IDT") \
    X(CHKPT_IDT_GL, 1240, "Received a global table IDT") \
    X(CHKPT_IDT_GRANT, 1241, "Received a unicast grant table IDT") \
    X(CHKPT_IDT_PEER_INDEX, 1242, "Received a peer index table IDT") \
    X(CHKPT_IDT_VIRTUAL_IF, 1243, "Received a virtual interface table IDT") \
    X(CHKPT_IDT_TABLE_END, 1244, "Received a table end IDT") \
    X(CHKPT_NDT_IF, 1245, "Received an interface NDT - NDT type is %lu", PTP_TRACE_ARG_UINT) \
    X(CHKPT_NDT_VIRTUAL_IF, 1246, "Received a virtual interface NDT - NDT type is %lu", PTP_TRACE_ARG_UINT) \
    X(CHKPT_NDT_GL, 1247, "Received a global NDT - NDT type is %lu", PTP_TRACE_ARG_UINT) \
    X(CHKPT_NDT_GRANT, 1248, "Received a unicast grant NDT - NDT type is %lu", PTP_TRACE_ARG_UINT) \
    X(CHKPT_NDT_PEER_INDEX, 1249, "Received a peer index NDT - NDT type is %lu", PTP_TRACE_ARG_UINT) \
    X(CHKPT_NDT_IF_DROPPED, 1250, "Dropped an interface NDT as not in Secondary role - NDT type is %lu", PTP_TRACE_ARG_UINT) \
    X(CHKPT_NDT_VIRTUAL_IF_DROPPED, 1251, "Dropped a virtual interface NDT as not in Secondary role - NDT type is %lu", PTP_TRACE_ARG_UINT) \
    X(CHKPT_NDT_GL_DROPPED, 1252, "Dropped a global NDT as not in Secondary role - NDT type is %lu", PTP_TRACE_ARG_UINT) \
    X(CHKPT_NDT_PEER_INDEX_DROPPED, 1254, "Dropped a peer index NDT as not in Secondary role - NDT type is %lu", PTP_TRACE_ARG_UINT) \
    X(CHKPT_RECORD_DELETE_FAILED, 1255, "Failed to delete checkpoint record for table %lu: %s", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(CHKPT_NDT_GRANT_DELETE, 1256, "Received checkpoint delete for unicast grant entry with address %s", PTP_TRACE_ARGS_ADDR) \
    X(CHKPT_NDT_GRANT_DELETE_UNKNOWN, 1257, "Received checkpoint delete for unknown unicast grant entry") \
    X(CHKPT_NDT_IF_DELETE_UNKNOWN, 1258, "Received checkpoint delete for unknown interface") \
    X(CHKPT_NDT_PEER_INDEX_RESTORE, 1259, "Received peer index restore NDT for peer %s", PTP_TRACE_ARGS_ADDR) \
    X(CHKPT_NDT_PEER_INDEX_DELETE, 1260, "Received peer index delete NDT for peer %s", PTP_TRACE_ARGS_ADDR) \
    X(CHKPT_NDT_PEER_INDEX_DELETE_UNKNOWN, 1261, "Could not find peer index entry to delete") \
    X(CHKPT_IDT_TIMER_EXPIRED, 1266, "Checkpoint IDT Timer Expired") \
    X(CHKPT_GO_ACTIVE_START, 1267, "Checkpoint start go active") \
    X(CHKPT_GO_ACTIVE_FIN, 1268, "Checkpoint fin go active") \
    X(DB_HASH_INIT_FAILED, 400, "[ERROR] Failed to initialise the interface hash table") \
    X(DB_TREE_INIT_FAILED, 401, "[ERROR] Failed to initialise the IDB tree") \
    X(DB_IDB_CREATED, 402, "Creating and inserting a new idb into %s database", \
      PTP_TRACE_ARG_IFNAME, PTP_TRACE_ARG_TEXT) \
    X(DB_IDB_DELETED, 403, "Deleting interface from %s database", PTP_TRACE_ARG_IFNAME, \
      PTP_TRACE_ARG_TEXT) \
    X(DB_MASTER_TREE_INIT_FAILED, 404, "[ERROR] Failed to initialise a Master DB tree") \
    X(DB_SLAVE_TREE_INIT_FAILED, 405, "[ERROR] Failed to initialise a Slave DB tree") \
    X(CFG_PRF_DB_DELETE, 808, "Deleting a profile db: %s", PTP_TRACE_ARG_TEXT) \
    X(CFG_PRF_DB_CREATE, 809, "Creating and inserting a new profile db: %s", PTP_TRACE_ARG_TEXT) \
    X(CFG_PRF_DB_CREATED, 810, "Succesfully created a new profile db: %s", PTP_TRACE_ARG_TEXT) \
    X(CFG_GL_ENABLE_SET, 812, "Received global enable config set.") \
    X(CFG_GL_ENABLE_DELETE, 813, "Received global enable config delete.") \
    X(CFG_GL_CLOCK_PROFILE, 816, "Received clock profile config %s: %s%s -> %s%s", \
      PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_UNSHOWN, PTP_TRACE_ARG_UNSHOWN, PTP_TRACE_ARG_PROFILE, \
      PTP_TRACE_ARG_TELECOM_CLOCK_TYPE, PTP_TRACE_ARG_PROFILE, PTP_TRACE_ARG_TELECOM_CLOCK_TYPE) \
    X(CFG_GL_MIN_CLOCK_CLASS, 817, "Received min clock class config %s: %lu", PTP_TRACE_ARG_CFG_EVENT, \
      PTP_TRACE_ARG_UINT) \
    X(CFG_MASTER_TABLE_IGNORED, 859, \
      "Profile master table config ignored as it is not supported on this interface", \
      PTP_TRACE_ARG_IFHANDLE) \
    X(CFG_MASTER_TABLE_MULTICAST_IGNORED, 860, \
      "Profile master table multicast config ignored as it is not supported on this interface", \
      PTP_TRACE_ARG_IFHANDLE) \
    X(CFG_SLAVE_TABLE_IGNORED, 861, \
      "Profile slave table config ignored as it is not supported on this interface", \
      PTP_TRACE_ARG_IFHANDLE) \
    X(CFG_EXIT_CHECK_FAILED, 807, "Could not determine whether to exit: %s", PTP_TRACE_ARG_ZERR) \
    X(CFG_IF_ENABLE, 818, "Enable config %s event.", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_CFG_EVENT) \
    X(CFG_IF_PROFILE, 819, "Profile config %s event: %s -> %s.", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_IF_ENCAP, 820, "Encap config %s event: %s -> %s. Applied config: %s -> %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_ENCAP, PTP_TRACE_ARG_ENCAP, PTP_TRACE_ARG_ENCAP, PTP_TRACE_ARG_ENCAP) \
    X(CFG_IF_CLOCK_OPERATION, 821, "Clock operation config %s event: %s -> %s. Applied config: %s -> %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_CLOCK_OPERATION, PTP_TRACE_ARG_CLOCK_OPERATION, PTP_TRACE_ARG_CLOCK_OPERATION, PTP_TRACE_ARG_CLOCK_OPERATION) \
    X(CFG_IF_ANNOUNCE_INTERVAL, 822, "Announce interval config %s event: %li -> %li. Applied config: %li -> %li (seconds log base 2)", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_INT) \
    X(CFG_IF_SYNC_INTERVAL, 823, "Sync interval config %s event: %li -> %li. Applied config: %li -> %li (seconds log base 2)", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_INT) \
    X(CFG_IF_ANNOUNCE_TIMEOUT, 824, "Announce timeout config %s event: %lu -> %lu. Applied config: %lu -> %lu (seconds)", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(CFG_IF_DELAY_REQ_INTERVAL, 825, "Minimum delay request interval config %s event: %li -> %li. Applied config: %li -> %li (seconds log base 2)", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_INT) \
    X(CFG_IF_MULTICAST, 826, "Multicast config %s event: %s. Applied config: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_TRANSPORT_CHANGE, PTP_TRACE_ARG_TRANSPORT_CHANGE) \
    X(CFG_IF_PORT_STATE, 827, "Port State config %s event: %s -> %s. Applied config: %s -> %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_RESTRICT_PORT_STATE, PTP_TRACE_ARG_RESTRICT_PORT_STATE, PTP_TRACE_ARG_RESTRICT_PORT_STATE, PTP_TRACE_ARG_RESTRICT_PORT_STATE) \
    X(CFG_IF_LOCAL_PRIORITY, 828, "Local Priority config %s event: %li -> %li. Applied config: %li -> %li", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_INT) \
    X(CFG_IF_SOURCE_IP, 829, "Source IP address config %s event: %s -> %s. Applied config: %s -> %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_IF_SOURCE_IPV6, 830, "Source IPv6 address config %s event: %s -> %s. Applied config: %s -> %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_IF_COS, 831, "CoS config %s event: %lu -> %lu. Applied config: %lu -> %lu (seconds). Update type: %s.", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_QOS_UPDATE) \
    X(CFG_IF_DSCP, 832, "DSCP config %s event: %lu -> %lu. Applied config: %lu -> %lu (seconds). Update type: %s.", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_QOS_UPDATE) \
    X(CFG_IF_IPV4_TTL, 833, "IPv4 TTL config %s event: %lu -> %lu. Applied config: %lu -> %lu.", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(CFG_IF_IPV6_HOP_LIMIT, 834, "IPv6 hop limit config %s event: %lu -> %lu. Applied config: %lu -> %lu.", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(CFG_IF_DELAY_ASYMMETRY, 835, "Interface delay asymmetry config %s event: %s -> %s. Applied config: %s -> %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_DELAY_ASYMMETRY, PTP_TRACE_ARG_DELAY_ASYMMETRY, PTP_TRACE_ARG_DELAY_ASYMMETRY, PTP_TRACE_ARG_DELAY_ASYMMETRY) \
    X(CFG_MASTER_PRIORITY, 837, "Master %s priority config %s event: %s%lu -> %s%lu. Applied config: %s%lu -> %s%lu", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARGS_ADDR, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_OPT_VALUES4) \
    X(CFG_MASTER_CLOCK_CLASS, 838, "Master %s clock class config %s event: %s%lu -> %s%luApplied config: %s%lu -> %s%lu", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARGS_ADDR, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_OPT_VALUES4) \
    X(CFG_IF_GRANT_DURATION, 844, "%s unicast grant duration config %s event: %lu -> %lu. Applied config: %lu -> %lu", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_MSG_TYPE, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(CFG_IF_MESSAGE_TIMEOUT, 845, "%s receive timeout config %s event: %lu -> %lu. Applied config: %lu -> %lu", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_MSG_TYPE, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(CFG_IF_INVALID_GRANT, 846, "Invalid grant reduce/deny config %s event: %s -> %s. Applied config: %s -> %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_REDUCE_DENY, PTP_TRACE_ARG_REDUCE_DENY, PTP_TRACE_ARG_REDUCE_DENY, PTP_TRACE_ARG_REDUCE_DENY) \
    X(CFG_PRF_ANNOUNCE_TIMEOUT_IGNORED, 855, "Profile announce timeout config ignored as it is not supported.", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UNSHOWN) \
    X(CFG_PRF_DELAY_REQ_INTERVAL_IGNORED, 856, "Profile delay request interval config ignored as it is not supported on this interface", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UNSHOWN) \
    X(CFG_VERIFY_BATCH, 848, "Received verify batch of %lu items, sequence number %lu", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(CFG_VERIFY_ITEM_FAILED, 849, "%s: Verify batch item failed: %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_ZERR) \
    X(CFG_APPLY_ITEM_FAILED, 850, "%s: Apply batch item failed: %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_ZERR) \
    X(CFG_NOTIFY_ITEM_FAILED, 851, "%s: Notify batch item failed: %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_ZERR) \
    X(CFG_PLATVERIFY_LOADED, 866, "Successfully loaded PD config verification DLL") \
    X(CFG_PLATVERIFY_MISSING, 867, "PD config verification DLL not found") \
    X(CFG_INTEROP_PROFILE, 869, "Interop profile config %s event: %s", PTP_TRACE_ARG_IFHANDLE, \
      PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_PROFILE) \
    X(CFG_INTEROP_DOMAIN, 870, "Interop domain config %s event: %lu", PTP_TRACE_ARG_IFHANDLE, \
      PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_UINT) \
    X(CFG_INTEROP_PRIORITY, 871, "Interop %s priority%lu config %s event: %lu", PTP_TRACE_ARG_IFHANDLE, \
      PTP_TRACE_ARG_INTEROP_DIRECTION, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_UINT) \
    X(CFG_INTEROP_CLOCK_ACCURACY, 872, "Interop %s clock accuracy config %s event: %lu", PTP_TRACE_ARG_IFHANDLE, \
      PTP_TRACE_ARG_INTEROP_DIRECTION, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_UINT) \
    X(CFG_INTEROP_OSLV, 873, "Interop %s OSLV config %s event: %lu", PTP_TRACE_ARG_IFHANDLE, \
      PTP_TRACE_ARG_INTEROP_DIRECTION, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_UINT) \
    X(CFG_INTEROP_CLOCK_CLASS_DEFAULT, 874, "Interop %s default clock class config %s event: %lu", \
      PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_INTEROP_DIRECTION, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_UINT) \
    X(CFG_INTEROP_CLOCK_CLASS_MAPPING, 875, "Interop %s clock class mapping config %s event: %lu:%lu", \
      PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_INTEROP_DIRECTION, PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_UINT, \
      PTP_TRACE_ARG_UINT) \
    X(CFG_SLAVE_SUPPORT_CHECK_FAILED, 876, "Encountered an error when checking slave support: %s", \
      PTP_TRACE_ARG_IFNAME, PTP_TRACE_ARG_ZERR) \
    X(CFG_FSYNC_QL_OPTION, 879, "Fsync QL option config %s event. New value %s", PTP_TRACE_ARG_CFG_EVENT, \
      PTP_TRACE_ARG_QL_OPTION) \
    X(STATS_INVALID_DB_RESET, 3200, "Invalid stats database when restarting") \
    X(STATS_OPEN_FAILED, 3201, "Failed to open shared memory window") \
    X(STATS_CLOSE_FAILED, 3202, "Failed to close shared memory window") \
    X(STATS_VERSION_RESET, 3203, "Failed to reset shared memory window") \
    X(STATS_PEER_CREATE_FAILED, 3204, "Failed to create stats entry for peer") \
    X(STATS_INTF_CREATE_FAILED, 3205, "Failed to create stats entry for interface") \
    X(STATS_INTF_DELETE_FAILED, 3206, "Failed to delete stats entry for interface") \
    X(CHKPT_DELETE_SKIPPED, 3207, "Skipping chkpt delete attempted when not the producer") \
    X(CHKPT_SWEEP_START_FAILED, 3208, "Failed to start chkpt iteration: %s", PTP_TRACE_ARG_ZERR) \
    X(CHKPT_SWEEP_NEXT_FAILED, 3209, "Failed to continue chkpt iteration: %s", PTP_TRACE_ARG_ZERR) \
    X(COMMS_NOTIFICATION, 2000, "Received comms notification %s from node %s", \
      PTP_TRACE_ARG_COMMS_EVENT, PTP_TRACE_ARG_NODE_ID) \
    X(COMMS_ANNOUNCE_RECEIVED, 2001, "Received announce message from node %s", PTP_TRACE_ARG_NODE_ID) \
    X(COMMS_ANNOUNCE_REQUEST_SENT, 2002, "Successfully sent announce request message.") \
    X(COMMS_ANNOUNCE_REQUEST_FAILED, 2003, "Failed to send announce request message: %s", PTP_TRACE_ARG_ZERR) \
    X(COMMS_BMC_SENT, 2004, "Successfully sent BMC message.") \
    X(COMMS_BMC_FAILED, 2005, "Failed to send BMC message: %s", PTP_TRACE_ARG_ZERR) \
    X(COMMS_TIME_UPDATES_FAILED, 2006, "Failed to send %lu time updates: %s", PTP_TRACE_ARG_UINT, \
      PTP_TRACE_ARG_ZERR) \
    X(COMMS_RETRY_EXPIRED, 2007, "Retry timer expired, sending messages") \
    X(COMMS_RETRY_LIMIT, 2008, "Max message send retry count reached, exiting") \
    X(COMMS_ANNOUNCE_DROPPED_SECONDARY, 2009, "Announce messsage dropped as ISSU role is secondary") \
    X(COMMS_INIT_PRE_NODE_ID, 2010, "Pre platform node id") \
    X(COMMS_INIT_PRE_CONNECT, 2011, "pre comms conn, post platform node id") \
    X(COMMS_INIT_PRE_GROUP, 2012, "pre comms group, post comms conn") \
    X(COMMS_INIT_PRE_NOTIFICATIONS, 2013, "pre comms ntfn, post comms group") \
    X(COMMS_INIT_PRE_MSG_HANDLER, 2014, "pre comms msg, post comms ntfn") \
    X(COMMS_INIT_PRE_TIMERS, 2015, "pre comms timers post comms msg") \
    X(PORT_NUM_RESYNC_SENT, 3000, "Successfully sent MA port num resync message with %lu port numbers", \
      PTP_TRACE_ARG_UINT) \
    X(PORT_NUM_RESYNC_FAILED, 3001, "Failed to send MA port num resync message with %lu port numbers: %s", \
      PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(PORT_NUM_REQUEST_SENT, 3002, "Successfully sent request for %lu port numbers", PTP_TRACE_ARG_UINT) \
    X(PORT_NUM_REQUEST_FAILED, 3003, "Failed to send request for %lu port numbers: %s", PTP_TRACE_ARG_UINT, \
      PTP_TRACE_ARG_ZERR) \
    X(PORT_NUM_RELEASE_SENT, 3004, "Successfully sent %lu port num releases", PTP_TRACE_ARG_UINT) \
    X(PORT_NUM_RELEASE_FAILED, 3005, "Failed to send %lu port num releases: %s", PTP_TRACE_ARG_UINT, \
      PTP_TRACE_ARG_ZERR) \
    X(PORT_NUM_MISSING, 3006, "Port number %lu missing from controller resync, clearing port number", \
      PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(PORT_NUM_RESYNC_UNKNOWN_IDB, 3007, "Received port number %lu in controller resync but IDB does not exist", \
      PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(PORT_NUM_MISMATCH, 3008, "Controller resync port number mismatch: Ctrlr port num %lu, MA port num %lu", \
      PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(PORT_NUM_CTRLR_RESYNC_RECEIVED, 3009, "Received controller resync message with %lu port numbers", \
      PTP_TRACE_ARG_UINT) \
    X(PORT_NUM_RESYNC_REQUEST_RECEIVED, 3010, "Received resync request message") \
    X(PORT_NUM_ALLOC_RECEIVED, 3011, "Received port number allocation message with %lu port numbers", \
      PTP_TRACE_ARG_UINT) \
    X(PORT_NUM_ALLOC_UNKNOWN_IDB, 3012, "Received port number %lu in alloc message but IDB does not exist", \
      PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(PORT_NUM_GSP_DOWN, 3013, "Received GSP down notification") \
    X(PORT_NUM_GSP_UP, 3014, "Received GSP up notification") \
    X(PORT_NUM_DROPPED_MSGS, 3015, "Received dropped message notification") \
    X(PORT_NUM_ALLOC_DROPPED, 3016, "Dropped port number allocation message with %lu port numbers", \
      PTP_TRACE_ARG_UINT) \
    X(PORT_NUM_CTRLR_RESYNC_DROPPED, 3017, "Dropped controller resync message with %lu port numbers", \
      PTP_TRACE_ARG_UINT) \
    X(BMC_IF_INSERTED, 1400, "Inserted interface into BMC list at position %lu. Head of list: interface %s", \
      PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_IFHANDLE) \
    X(BMC_IF_REMOVED, 1401, "Removed interface from BMC list. Head of list: interface %s", \
      PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_IFHANDLE) \
    X(BMC_GLOBAL_RECEIVED, 1402, \
      "Received global best master clock 0x%lx and advertised clock 0x%lx. BMC has %schanged", \
      PTP_TRACE_ARGS_CLOCK_ID, PTP_TRACE_ARGS_CLOCK_ID, PTP_TRACE_ARG_FLAG_NOT) \
    X(BMC_NODE_CHANGED, 1403, "Node BMC changed: new 0x%lx (%s), old 0x%lx", \
      PTP_TRACE_ARGS_CLOCK_ID, PTP_TRACE_ARGS_ADDR, PTP_TRACE_ARGS_CLOCK_ID) \
    X(BMC_SLAVE_SUPPORT, 1404, "Received slave support change. Slave is %ssupported", PTP_TRACE_ARG_FLAG_NOT) \
    X(ISSU_MILESTONE_STARTED, 2800, "Started milestone '%s'", PTP_TRACE_ARG_ISSU_MILESTONE) \
    X(ISSU_MILESTONE_START_FAILED, 2801, "Failed to mark milestone '%s' as started: %s", \
      PTP_TRACE_ARG_ISSU_MILESTONE, PTP_TRACE_ARG_ZERR) \
    X(ISSU_MILESTONE_MET, 2802, "Met milestone '%s', ISSU ready: %s", \
      PTP_TRACE_ARG_ISSU_MILESTONE, PTP_TRACE_ARG_ISSU_READY_KNOWN, PTP_TRACE_ARG_ISSU_READY) \
    X(ISSU_REGISTER_MILESTONES, 2804, "Start ISSU register milestone") \
    X(ISSU_REGISTER_MILESTONES_DONE, 2805, "Finish ISSU register milestone") \
    X(ISSU_START_THREAD_RESYNC, 2806, "Start thread resync milestone") \
    X(ISSU_START_THREAD_RESYNC_DONE, 2807, "Finish thread resync milestone") \
    X(ISSU_START_CHKPT, 2808, "Start CHKPT recover milestone") \
    X(ISSU_START_CHKPT_DONE, 2809, "Finish CHKPT recover milestone") \
    X(FSM_STATE_CHANGE, 0x640, "Change to state %s", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_RESUME, 0x641, "Resuming FSM", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_DELAY_RESP_OFFLOADED, 0x64a, "[ERROR] Delay-resp message should be offloaded - ignoring", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_DELAY_REQ_OFFLOADED, 0x64b, "[ERROR] Delay-Req message should be offloaded - ignoring", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_FOLLOW_UP_OFFLOADED, 0x64c, "[ERROR] Follow-Up message should be offloaded - ignoring", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_SYNC_OFFLOADED, 0x64d, "[ERROR] Sync message should be offloaded - ignoring", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_FM_TREE_INIT_FAILED, 0x65e, "Failed to initialise foreign master tree for this interface", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_RETURNED_TIMESTAMP, 0x65f, "[ERROR] Returned timestamp should be offloaded - ignoring") \
    X(FSM_EV_READY, 0x660, "Ready-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_EV_NOT_READY, 0x661, "Not-Ready-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_EV_BMC_MASTER, 0x662, "BMC-Master-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_EV_BMC_PASSIVE, 0x663, "BMC-Passive-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_EV_BMC_SLAVE, 0x664, "BMC-Slave-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_EV_MASTER_CLOCK_SELECTED, 0x665, "Master-Clock-Selected-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_EV_SYNCHRONIZATION_FAULT, 0x666, "Synchronization-Fault-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_EV_FAULT_DETECTED, 0x667, "Fault-Detected-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_EV_FAULT_CLEARED, 0x668, "Fault-Cleared-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_EV_QUALIFICATION_TIMEOUT, 0x669, "Qualification-Timeout-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_EV_ANNOUNCE_TIMEOUT, 0x66a, "Announce-Timeout-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_EV_HOLD_PASSIVE, 0x66b, "Hold-Passive-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_EV_UNHOLD_PASSIVE, 0x66c, "Unhold-Passive-event", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_INIT, 0x66d, "Initializing FSM", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_SHUTDOWN, 0x66e, "Shutting down FSM", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_POSTPONED_FMC, 0x66f, "Perform postponed foreign-master change", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_START, 0x694, "Starting FSM", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PORT_STATE) \
    X(FSM_ISSU_SECONDARY_UPDATE, 0x695, "Updating FSM database in secondary ISSU role. Old port state was '%s', new port state is '%s'. Previously %s best foreign master, now %s best foreign master", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_PORT_STATE, PTP_TRACE_ARG_PORT_STATE, PTP_TRACE_ARG_FLAG_HAD, PTP_TRACE_ARG_FLAG_HAS) \
    X(FSM_SIG_FROM_SELF, 0x642, "[ERROR] Received a Signaling message from ourselves - sent on port 0x%lx, received on port 0x%lx", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(FSM_SIG_NOT_FOR_US, 0x643, "[ERROR] Received a Signaling message not meant for us - target clock from peer %s, port 0x%lx", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR, PTP_TRACE_ARG_UINT) \
    X(FSM_SIG_NO_TLV_HEADER_SPACE, 0x644, "[ERROR] Received a Signaling message with insufficient space for next TLV header. Current position %lu, remaining length %lu", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(FSM_SIG_NO_TLV_SPACE, 0x645, "[ERROR] Received a Signaling message with insufficient space for current TLV. TLV length %lu, remaining length %lu", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(FSM_SIG_UNSUPPORTED_TLV, 0x646, "[ERROR] Received a Signaling message containing an unsupported TLV, type %lu - dropping", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_UINT) \
    X(FSM_MSG_TOO_SHORT, 0x647, "[ERROR] %s message is too short - length is %lu, should be at least %lu", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_MSG_TYPE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(FSM_ANNOUNCE_NOT_LISTENING, 0x64e, "Announce message received when not listening on the interface - ignoring", PTP_TRACE_ARGS_PORT) \
    X(FSM_ANNOUNCE_UNKNOWN_MASTER, 0x64f, "[ERROR] Announce message received on master %s, which is not being listened to", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR) \
    X(FSM_ANNOUNCE_LOOPED_SAME_PORT, 0x650, "[ERROR] Received an Announce from the same port which sent it, 0x%lx", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_UINT) \
    X(FSM_ANNOUNCE_LOOPED_HIGHER_PORT, 0x651, "[ERROR] Received an Announce from ourselves from higher port number - dropping. Sent on port 0x%lx, received on port 0x%lx", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(FSM_ANNOUNCE_LOOPED_LOWER_PORT, 0x652, "[ERROR] Received an Announce from ourselves from lower port number. Sent on port 0x%lx, received on port 0x%lx", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(FSM_ANNOUNCE_STEPS_REMOVED, 0x653, "Dropping Announce message with steps removed %lu higher than steps removed %lu", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(FSM_ANNOUNCE_MIN_CLOCK_CLASS, 0x654, "Dropping Announce message with clock class %lu lower than in clock class %lu", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(FSM_ANNOUNCE_INCORRECT_ADDRESS, 0x655, "[ERROR] Announce message received from master %s that was sent to incorrect address", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR) \
    X(FSM_ANNOUNCE_SLAVE_ONLY_CLASS, 0x656, "Received clock class %lu which should be slave-only clock", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UNSHOWN) \
    X(FSM_ANNOUNCE_RESERVED_CLOCK_ID, 0x657, "Received reserved clock ID", PTP_TRACE_ARGS_PORT) \
    X(FSM_FM_NO_SYNC, 0x658, "No sync messages received for foreign master %s - moving to loss-sync state", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR) \
    X(FSM_FM_NO_DELAY_RESP, 0x659, "No delay-response messages received for foreign master %s - moving to loss-sync state", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR) \
    X(FSM_WRONG_DOMAIN, 0x65a, "Dropping PTP messages for a different clock domain %lu. Our domain is %lu", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(FSM_PDELAY_NOT_SUPPORTED, 0x65b, nullptr, PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_MSG_TYPE) \
    X(FSM_MANAGEMENT_NOT_SUPPORTED, 0x65c, "Management messages not supported - dropping", PTP_TRACE_ARGS_PORT) \
    X(FSM_UNKNOWN_MSG_TYPE, 0x65d, "Unknown message type 0x%lx received - dropping", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_UINT) \
    X(FSM_FM_CREATED, 0x670, "New foreign-master entry for address %s", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR) \
    X(FSM_FM_DELETED, 0x671, "Foreign-master entry for address %s deleted", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR) \
    X(FSM_FM_NEW, 0x672, "New foreign master %s received", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR) \
    X(FSM_FM_TIMED_OUT, 0x673, "Foreign master %s timed out", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR) \
    X(FSM_BEST_FM_CHANGED, 0x674, "Best foreign master changed. %s.", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR) \
    X(FSM_BEST_FM_CLOCKS, 0x675, "Best foreign master changed. Parent clock-id 0x%lx, port 0x%lx. Grandmaster clock-id 0x%lx", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_CLOCK_ID, PTP_TRACE_ARG_UINT, PTP_TRACE_ARGS_CLOCK_ID) \
    X(FSM_BEST_FM_NONE, 0x676, "No longer any best foreign master", PTP_TRACE_ARGS_PORT) \
    X(FSM_PROFILE_CLOCK_CLASS, 0x690, "Clock class %lu not allowed by %s", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_PROFILE) \
    X(FSM_PROFILE_CLOCK_ACCURACY, 0x691, "Clock accuracy 0x%lx not allowed by %s", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_PROFILE) \
    X(FSM_PROFILE_OSLV, 0x692, "OSLV 0x%lx not allowed by %s", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_PROFILE) \
    X(FSM_PROFILE_FLAG, 0x693, "Flag '%s' not allowed by %s", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_MSG_FLAG, PTP_TRACE_ARG_PROFILE) \
    X(FSM_FM_TIMEOUTS_SUSPENDED, 0x696, "Foreign master timeouts suspended", PTP_TRACE_ARGS_PORT) \
    X(FSM_FM_TIMEOUTS_RESUMED, 0x697, "Foreign master timeouts resumed", PTP_TRACE_ARGS_PORT) \
    X(UNICAST_TLV_BAD_LENGTH, 0x648, "[ERROR] %s TLV is incorrect length - length is %lu, should be %lu", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_TLV_TYPE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_GRANT_NONNEGOTIATED, 0x649, "[ERROR] Packet non compatible with non-negotiated.", PTP_TRACE_ARGS_PORT) \
    X(UNICAST_PEER_TREE_INIT_FAILED, 0x677, "Failed to initialise unicast grant tree for this interface", PTP_TRACE_ARGS_PORT) \
    X(UNICAST_RESTORE_REFUSED, 0x678, "Not restoring unicast-grant, since unicast grant not yet allowed", PTP_TRACE_ARGS_PORT) \
    X(UNICAST_REQUEST_INVALID_TYPE, 0x679, "Received unicast-request TLV for invalid message type %s - denying", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_MSG_TYPE) \
    X(UNICAST_CANCEL_INVALID_TYPE, 0x67a, "Received unicast-cancel TLV for invalid message type %s - dropping", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_MSG_TYPE) \
    X(UNICAST_GRANT_INVALID_TYPE, 0x67b, "Received unicast-grant TLV for invalid message type %s - dropping", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_MSG_TYPE) \
    X(UNICAST_GRANT_UNKNOWN_MASTER, 0x67c, "Unicast-grant TLV received from unknown master %s", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR) \
    X(UNICAST_GRANT_DENIED, 0x67d, "Unicast-grant denial received from master %s", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR) \
    X(UNICAST_GRANT_TOO_SHORT, 0x67e, "Unicast-grant TLV from master %s has too short a duration %lu", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR, PTP_TRACE_ARG_UINT) \
    X(UNICAST_GRANT_MULTICAST_MASTER, 0x67f, "Unicast-grant TLV for message-type %s received from multicast master %s", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_MSG_TYPE, PTP_TRACE_ARGS_ADDR) \
    X(UNICAST_GRANT_NOT_SLAVING, 0x680, "Unicast-grant TLV for message-type %s received from master %s when not slaving", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_MSG_TYPE, PTP_TRACE_ARGS_ADDR) \
    X(UNICAST_REQUEST_NONNEGOTIATED, 0x681, "Unicast-grant received for non-negotiated unicast peer %s", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR) \
    X(UNICAST_GRANT_REPLY_SENT, 0x682, "Sending signaling message to peer %s countaining %lu Unicast-Grant TLVs and %lu Unicast-Grant deny TLVs", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(UNICAST_REQUEST_SENT, 0x683, "Sending Signaling message to peer %s containing Unicast-Request TLV for message type %s", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR, PTP_TRACE_ARG_MSG_TYPE) \
    X(UNICAST_SYNC_DELAY_RESP_REQUEST_SENT, 0x684, "Sending Signaling message to peer %s containing Unicast-Request TLV for Sync and Delay-Resp", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR) \
    X(UNICAST_CANCEL_SENT, 0x685, "Sending Signaling message to peer %s containing Unicast-Cancel TLV for message type %s", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR, PTP_TRACE_ARG_MSG_TYPE) \
    X(UNICAST_ACK_CANCEL_SENT, 0x686, "Sending Signaling message to peer %s containing Unicast-Ack-Cancel TLV for message type %s", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR, PTP_TRACE_ARG_MSG_TYPE) \
    X(UNICAST_ANNOUNCE_GRANTED, 0x687, "Granting Announce messages to peer %s at log interval %ld", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR, PTP_TRACE_ARG_INT) \
    X(UNICAST_SYNC_GRANTED, 0x688, "Granting Sync messages to peer %s at log interval %ld", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR, PTP_TRACE_ARG_INT) \
    X(UNICAST_DELAY_RESP_GRANTED, 0x689, "Granting Delay-Resp messages to peer %s at log interval %ld", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR, PTP_TRACE_ARG_INT) \
    X(UNICAST_ANNOUNCE_EXPIRED, 0x68a, "Announce grant to peer %s has expired", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR) \
    X(UNICAST_SYNC_EXPIRED, 0x68b, "Sync grant to peer %s has expired", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR) \
    X(UNICAST_DELAY_RESP_EXPIRED, 0x68c, "Delay-Resp grant to peer %s has expired", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARGS_ADDR) \
    X(UNICAST_CANCEL_IGNORED, 0x68f, "Received %s unicast grant cancel from peer %s for which we have two grants. Ignoring", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_MSG_TYPE, PTP_TRACE_ARGS_ADDR) \
    X(UNICAST_DEFERRED_GRANT_SENT, 0x698, "Sent grant %s (duration %lu) to peer %s", PTP_TRACE_ARGS_PORT, PTP_TRACE_ARG_GRANT_ACCEPT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARGS_ADDR) \
    X(PKT_CTX_WRITE_FAILED, 1806, "[ERROR] ctx_write failed: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_ZERR) \
    X(PKT_CTX_WRITE_TRUNCATED, 1807, "ctx_write truncated packet to %ld bytes from %ld bytes", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_INT) \
    X(PKT_SET_CURRENT_LENGTH_FAILED, 1808, "Failed to set current-length to %lu in packet: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(PKT_SET_IFHANDLE_FAILED, 1809, "Failed to set ifhandle to 0x%8.8lx in packet: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(PKT_SET_APP_START_FAILED, 1810, "Failed to set application start to %lu in packet: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(PKT_SET_DIRECTION_FAILED, 1811, "Failed to set direction to %lu in packet: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(PKT_SET_COS_FAILED, 1812, "Failed to set CoS to %lu in packet: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(PKT_SET_PRIORITY_FAILED, 1813, "Failed to set priority to %lu in packet: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(PKT_SET_VRF_FAILED, 1814, "Failed to set VRF ID to %lu in packet: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(PKT_SET_TS_OPTION_FAILED, 1815, "Failed to set TS option to %lu in packet: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(PKT_CTX_ALLOC_FAILED, 1816, "Failed to allocate a ctx packet: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_ZERR) \
    X(PKT_SET_PACKET_ID_FAILED, 1817, "Failed to set packet-id to %lu in packet: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(PKT_SET_OFFSET_FAILED, 1818, "Failed to set offset to %lu in packet: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(PKT_EPI_GENERATE_FAILED, 1839, "[ERROR] Failed to generate packet using EPI: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_ZERR) \
    X(PKT_FIB_DATA_ADDED, 1848, "ctx_write of %ld bytes with FIB next hop information for peer %s returned success", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_INT, PTP_TRACE_ARGS_ADDR) \
    X(PKT_FIB_DATA_FAILED, 1857, "Failed to add optimized FIB data to PTP packet. Will need to be sent via slowpath instead: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_ZERR) \
    X(PKT_FIB_DATA_TRUNCATED, 1858, "ctx_write FIB data truncated packet to %ld bytes from %ld bytes", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_INT) \
    X(PKT_DUMP, 1844, "%s len %lu %s %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_PKT_DIRECTION, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ADDR_PARTS, PTP_TRACE_ARG_ADDR_WORD2, PTP_TRACE_ARG_ADDR_ENCAP) \
    X(PKT_DUMP_BYTES_0, 1845, "%08lx%08lx%08lx%08lx%08lx%08lx%08lx", PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32) \
    X(PKT_DUMP_BYTES_28, 1846, "%08lx%08lx%08lx%08lx%08lx%08lx%08lx", PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32) \
    X(PKT_DUMP_BYTES_56, 1847, "%08lx%08lx%08lx%08lx", PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32) \
    X(PKT_SPIO_INIT_FAILED, 1801, "[ERROR] Unable to initialise SPIO connection for protocol %lu: %s", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(PKT_CTX_CLEANUP_FAILED, 1805, "[ERROR] Unable to cleanup ctx library: %s", PTP_TRACE_ARG_ZERR) \
    X(PKT_DETACH_FAILED, 1840, "[ERROR] SPIO detach failed: %s", PTP_TRACE_ARG_ZERR) \
    X(PKT_DETACH_IF_FAILED, 1841, "[ERROR] SPIO detach failed for interface: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_ZERR) \
    X(PKT_ATTACH_FAILED, 1842, "[ERROR] SPIO attach failed: %s", PTP_TRACE_ARG_ZERR) \
    X(PKT_ATTACH_IF_FAILED, 1843, "[ERROR] SPIO attach failed for interface: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_ZERR) \
    X(PKT_RX_IFHANDLE_FAILED, 1800, "[ERROR] Unable to obtain ifhandle for incoming packet: %s", PTP_TRACE_ARG_ZERR) \
    X(PKT_RX_READ_FAILED, 1819, "[ERROR] Error reading incoming packet: %s", PTP_TRACE_ARG_ZERR) \
    X(PKT_RX_NETWORK_HEADER_FAILED, 1820, "[ERROR] Error reading network header: %s", PTP_TRACE_ARG_ZERR) \
    X(PKT_RX_NETWORK_HEADER_SHORT, 1821, "[ERROR] Failed to read full %s header - could only read %lu bytes", PTP_TRACE_ARG_ENCAP, PTP_TRACE_ARG_UINT) \
    X(PKT_RX_NTFN_LENGTH_FAILED, 1822, "[ERROR] Failed to get notification length: %s", PTP_TRACE_ARG_ZERR) \
    X(PKT_RX_NTFN_READ_FAILED, 1823, "[ERROR] Failed to read notification: %s", PTP_TRACE_ARG_ZERR) \
    X(PKT_RX_NTFN_TOO_SHORT, 1824, "[ERROR] Notification too short (%lu bytes)", PTP_TRACE_ARG_UINT) \
    X(PKT_RX_NTFN_READ_SHORT, 1825, "[ERROR] Failed to read full notification: expected %lu bytes, read %lu bytes", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(PKT_RX_PACKET_ID_FAILED, 1826, "[ERROR] Unable to obtain packet-id for incoming packet: %s", PTP_TRACE_ARG_ZERR) \
    X(PKT_RX_SUBTYPE_FAILED, 1827, "[ERROR] Unable to get context subtype for incoming packet: %s", PTP_TRACE_ARG_ZERR) \
    X(PKT_RX_SUBTYPE_UNEXPECTED, 1828, "[ERROR] Unexpected context subtype %lu", PTP_TRACE_ARG_UINT) \
    X(PKT_RX_TIMESTAMP_FAILED, 1829, "[ERROR] Unable to obtain timestamp for incoming packet: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_ZERR) \
    X(PKT_RX_TIMESTAMP_SHORT, 1830, "[ERROR] Only able to read %lu bytes of timestamp for incoming packet", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(PKT_RX_TOO_SHORT, 1831, "[ERROR] Incoming packet too short - only %lu bytes", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(PKT_RX_UNKNOWN_INTERFACE, 1832, "[ERROR] Packet received on unknown interface, dropping", PTP_TRACE_ARG_IFHANDLE) \
    X(PKT_RX_LENGTH_TOO_SHORT, 1833, "[ERROR] Packet length specified in header too short - only %lu bytes", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT) \
    X(PKT_RX_RETURNED_TS_FAILED, 1834, "[ERROR] Unable to obtain returned timestamp for packet-id %lu: %s", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(PKT_RX_RETURNED_TS_SHORT, 1835, "[ERROR] Only able to read %lu bytes of returned timestamp for packet-id %lu", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(PKT_RX_WRONG_ENCAP, 1836, "[ERROR] Incoming packet has incorrect encap - is %s, should be %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_ENCAP, PTP_TRACE_ARG_ENCAP) \
    X(PKT_RX_PAYLOAD_FAILED, 1837, "[ERROR] Unable to obtain payload from EPI: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_ZERR) \
    X(PKT_RX_MAC_FAILED, 1838, "[ERROR] Failed to obtain mac-addresses from packet", PTP_TRACE_ARG_IFHANDLE) \
    X(PKT_RX_IPV6_CHECKSUM_MISMATCH, 1855, "Calculated and received UDP checksums on IPv6 packets do not match. Received: %lx, calculated: %lx", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(PKT_RX_IPV4_CHECKSUM, 1856, "IPv4 packet received with checksum: %lx and calculated checksum: %lx", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(PKT_RX_ERROR_DUMP, 1849, "Incoming packet error, len %lu, encap %s (%lu), subtype %lu", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ENCAP_NAME_NUM, PTP_TRACE_ARG_UINT) \
    X(PKT_RX_ERROR_BYTES_0, 1850, "%08lx%08lx%08lx%08lx%08lx%08lx%08lx", PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32) \
    X(PKT_RX_ERROR_BYTES_28, 1851, "%08lx%08lx%08lx%08lx%08lx%08lx%08lx", PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32) \
    X(PKT_RX_ERROR_BYTES_56, 1852, "%08lx%08lx%08lx%08lx%08lx%08lx%08lx", PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32, PTP_TRACE_ARG_UINT32) \
    X(OFFLOAD_INIT_FAILED, 0x898, "Failed to initialize offload module: %s", PTP_TRACE_ARG_ZERR) \
    X(OFFLOAD_CREATED, 0x89A, "Successfully created %s offload session between source %s and peer %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(OFFLOAD_CREATE_FAILED, 0x89E, "Failed to create %lu offload sessions: %s", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(OFFLOAD_SESSION_CREATE_FAILED, 0x89F, "[%s] Failed to create/update offload session: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_ZERR) \
    X(OFFLOAD_DELETED, 0x8A0, "Successfully deleted %lu offload sessions", PTP_TRACE_ARG_UINT) \
    X(OFFLOAD_DELETE_FAILED, 0x8A1, "Failed to delete %lu offload sessions: %s", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(OFFLOAD_SESSION_DELETE_FAILED, 0x8A2, "[%s] Failed to delete offload session: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_ZERR) \
    X(OFFLOAD_STATS_REQUEST_FAILED, 0x8A4, "Failed to request %lu offload stats: %s", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(OFFLOAD_STATS_TIMEOUT, 0x8A5, "Stats offload request timed out. Ethernet session stats %spending. Ethernet IF/GL stats %spending. IPv4 session stats %spending. IPv4 IF/GL stats %spending. IPv6 session stats %spending. IPv6 IF/GL stats %spending.", PTP_TRACE_ARG_FLAG_NOT, PTP_TRACE_ARG_FLAG_NOT, PTP_TRACE_ARG_FLAG_NOT, PTP_TRACE_ARG_FLAG_NOT, PTP_TRACE_ARG_FLAG_NOT, PTP_TRACE_ARG_FLAG_NOT) \
    X(OFFLOAD_STATS_CLEARED, 0x8A6, "Cleared %lu offload stats", PTP_TRACE_ARG_UINT) \
    X(OFFLOAD_STATS_CLEAR_FAILED, 0x8A8, nullptr, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_ZERR) \
    X(OFFLOAD_TS_UNKNOWN_SESSION, 0x8A7, "Received timestamp for an unknown session") \
    X(OFFLOAD_TS_NOT_FM, 0x8A9, "Timestamps only expected on foreign-master sessions") \
    X(OFFLOAD_TS_DELETE_PENDING, 0x8AA, "Received timestamp for a session scheduled to be deleted") \
    X(OFFLOAD_UNKNOWN_NTFN, 0x8AB, "Unknown notification type %lu received from offload plugin", PTP_TRACE_ARG_UINT) \
    X(OFFLOAD_STATS_NO_IDB, 0x8AC, "Dropping stats update: interface 0x%8.8lx not found", PTP_TRACE_ARG_UINT) \
    X(OFFLOAD_STATS_BAD_ADDR, 0x8AD, "Dropping stats update: invalid session key for 0x%8.8lx", PTP_TRACE_ARG_UINT) \
    X(OFFLOAD_STATS_UNKNOWN_KIND, 0x8AE, "Dropping stats update: unknown stats session type %lu", PTP_TRACE_ARG_UINT) \
    X(OFFLOAD_RESULT_NO_SESSION, 0x8AF, "Received offload callback for interface 0x%8.8lx with an unknown session: %s", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT) \
    X(OFFLOAD_STATS_CB, 0x8B0, "Received async callback from SPIO following stats request") \
    X(OFFLOAD_STATS_CB_FAILED, 0x8B1, "Received error from SPIO async callback following stats request: %s", PTP_TRACE_ARG_TEXT) \
    X(OFFLOAD_NTFN_SHORT, 0x8B2, nullptr, PTP_TRACE_ARG_UINT) \
    X(PKT_RX_ERROR_DUMP_READ_FAILED, 1853, "Failed to read bad packet for dump: %s", PTP_TRACE_ARG_ZERR) \
    X(DB_FAILED_INITIALISE_PEER_PACKET, 406, "[ERROR] Failed to initialise a peer packet counter tree") \
    X(CFG_FAILED_REGISTER_VERIFICATION_INTERFACE, 800, "Failed to register for verification of interface configuration: %s", PTP_TRACE_ARG_TEXT) \
    X(CFG_FAILED_INITIALIZE_NODRA_VERIFICATION, 801, "Failed to initialize Nodra verification functions: %s", PTP_TRACE_ARG_TEXT) \
    X(CFG_FAILED_REGISTER_VERIFICATION_INTERFACE_802, 802, "Failed to register for verification of interface enable item: %s", PTP_TRACE_ARG_TEXT) \
    X(CFG_FAILED_BIND_INTERFACE_NODRA, 803, "Failed to bind to interface Nodra bindpoint: %s", PTP_TRACE_ARG_TEXT) \
    X(CFG_FAILED_REGISTER_NOTIFICATION_GLOBAL, 804, "Failed to register for notification of global profile configuration: %s", PTP_TRACE_ARG_TEXT) \
    X(CFG_FAILED_REGISTER_NOTIFICATION_GLOBAL_805, 805, "Failed to register for notification of global enable configuration: %s", PTP_TRACE_ARG_TEXT) \
    X(CFG_ABORT_FUNCTION_CALLED_SEQUENCE, 806, "Abort function called for sequence num %lu, item %lu of %lu", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(CFG_FAILED_INITIALISE_PROFILE_DB, 811, "[ERROR] Failed to initialise the Profile DB tree") \
    X(CFG_RECEIVED_CLOCK_SELECTION_MODE, 814, "Received clock selection mode config %s: %s%s -> %s%s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_RECEIVED_CLOCK_ADVERTISEMENT_MODE, 815, "Received clock advertisement mode config %s: %s%s -> %s%s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_MASTER_ENABLE_CONFIG_EVENT, 836, "Master %s enable config %s event: %s -> %s. Applied config: %s -> %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_MASTER_NONNEGOTIATED_UNICAST_CONFIG, 839, "Master %s non-negotiated unicast config %s event: %s -> %s. Applied config: %s -> %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_MASTER_MULTICAST_CONFIG_EVENT, 840, "Master %s multicast config %s event: %s. Applied config: %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_MASTER_DELAY_ASYMMETRY_CONFIG, 841, "Master %s delay asymmetry config %s event.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_EFFECT_DELAY_ASYMMETRY_CONFIG, 842, "Effect of delay asymmetry config event: %s -> %s. Applied config: %s -> %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_SLAVE_NONNEGOTIATED_UNICAST_CONFIG, 843, "Slave %s non-negotiated unicast config %s event: %s -> %s. Applied config: %s -> %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_FAILED_BIND_GLOBAL_NODRA, 847, "Failed to bind to global Nodra bindpoint: %s", PTP_TRACE_ARG_TEXT) \
    X(CFG_PRF_TRANSPORT_IGNORED, 852, "Profile %s transport config ignored as it is not supported on this interface: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_ENCAP, PTP_TRACE_ARG_ZERR) \
    X(CFG_PRF_ANNOUNCE_INTERVAL_IGNORED, 853, "Profile announce interval config ignored as it is not supported on this interface", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UNSHOWN) \
    X(CFG_PRF_SYNC_INTERVAL_IGNORED, 854, "Profile sync interval config ignored as it is not supported on this interface", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_UNSHOWN) \
    X(CFG_PRF_MULTICAST_IGNORED, 857, "Profile multicast config ignored as it is not supported on this interface: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_ZERR) \
    X(CFG_PRF_PORT_STATE_IGNORED, 858, "Profile port state config ignored as it is not supported on this interface: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_ZERR) \
    X(CFG_PRF_SOURCE_IP_IGNORED, 863, "Profile source IP config ignored as it is not supported on this interface: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_ZERR) \
    X(CFG_PRF_SOURCE_IPV6_IGNORED, 864, "Profile source IPv6 config ignored as it is not supported on this interface: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_ZERR) \
    X(CFG_PRF_CLOCK_OPERATION_IGNORED, 865, "Profile %s clock-operation config ignored as it is not supported on this interface", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UNSHOWN) \
    X(CFG_PRF_TRANSPORT_REJECTED, 868, "Profile %s transport config rejected by platform: %s", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_ENCAP, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UNSHOWN) \
    X(CFG_FAILED_BIND_GLOBAL_FSYNC, 877, "Failed to bind to global FSync global Nodra bindpoint: %s", PTP_TRACE_ARG_TEXT) \
    X(CFG_FAILED_REGISTER_NOTIFICATION_FSYNC, 878, "Failed to register for notification of FSync GL QL option config: %s", PTP_TRACE_ARG_TEXT) \
    X(PM_0X_ASSIGNED_PORT_NUMBER, 1200, "(0x%8.8lx) Assigned port number 0x%4.4lx to interface", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(PM_0X_FAILED_ALLOCATE_PORT, 1201, "(0x%8.8lx) Failed to allocate port number for interface: no available port numbers", PTP_TRACE_ARG_UINT) \
    X(PM_FREED_PORT_NUMBER_0X, 1202, "Freed port number 0x%4.4lx. Last port num is 0x%4.4lx", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(PM_MARKED_PORT_NUMBER_0X, 1203, "Marked port number 0x%4.4lx as in use", PTP_TRACE_ARG_UINT) \
    X(PM_FAILED_TRANSLATE_INTERFACE_CHECKPOINT, 1215, "Failed to translate interface checkpoint table, dropping table") \
    X(PM_FAILED_TRANSLATE_INTERFACE_CHECKPOINT_1216, 1216, "Failed to translate interface checkpoint, dropping object") \
    X(PM_FAILED_TRANSLATE_GLOBAL_CHECKPOINT, 1217, "Failed to translate global checkpoint, dropping") \
    X(PM_FAILED_TRANSLATE_UNICAST_GRANT, 1224, "Failed to translate unicast grant checkpoint, dropping") \
    X(PM_DROPPED_UNICAST_GRANT_NDT, 1253, "Dropped a unicast grant NDT as not in Secondary role - NDT type is %lu", PTP_TRACE_ARG_UINT) \
    X(PEER_INDEX_RESTORE_NO_IDB, 1677, "Falied to find IDB to restore peer index %lu for peer %s", PTP_TRACE_ARG_IFNAME, PTP_TRACE_ARG_UINT, PTP_TRACE_ARGS_ADDR) \
    X(PEER_INDEX_EXHAUSTED, 1678, "Failed to allocate peer index for peer %s, peer indices have been exhausted", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARGS_ADDR) \
    X(PKT_UNABLE_INITIALISE_EPI_CONNECTION, 1802, "[ERROR] Unable to initialise EPI connection: %s", PTP_TRACE_ARG_TEXT) \
    X(PKT_FAILED_INITIALIZE_SPIO_ATTACH, 1803, "[ERROR] Failed to initialize SPIO attach batches: %s", PTP_TRACE_ARG_TEXT) \
    X(PKT_UNABLE_INITIALISE_CTX_LIBRARY, 1804, "[ERROR] Unable to initialise ctx library: %s", PTP_TRACE_ARG_TEXT) \
    X(PKT_IPV6_PACKET_SENT_UDP, 1854, "IPv6 packet sent with UDP checksum: %lx", PTP_TRACE_ARG_UINT) \
    X(PKT_PRE_SPIO_ATTACH_BATCH, 1859, "Pre SPIO attach batch inits") \
    X(PKT_PRE_SPIO_INIT_POST, 1860, "Pre SPIO init, post attach batch init") \
    X(PKT_PRE_CTX_INIT_POST, 1861, "Pre CTX init, post SPIO init") \
    X(PKT_PRE_EPI_INIT_POST, 1862, "Pre EPI init, post CTX init") \
    X(OFFLOAD_QUEUED_OFFLOAD_SESSION_OPERATION, 2201, "Queued an offload session %s operation between the source %s and the peer %s.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(OFFLOAD_CREATING_OFFLOAD_SESSION_BETWEEN, 2203, "Creating %s offload session between source %s and peer %s.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(OFFLOAD_SESSION_BEING_CREATED_SLAVE, 2204, "Session being created is an %s Slave Offload session with peer: %s and Log Delay Request interval: %ld", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_INT) \
    X(OFFLOAD_SESSION_BEING_CREATED_MASTER, 2205, "Session being created is an %s Master Offload session with peer: %s, and message intervals: Log Announce interval: %ld, Log Delay Response interval: %ld, Log Sync interval: %ld", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_INT) \
    X(OFFLOAD_SPIO_FORCE_RESYNC_FAILED, 2211, "SPIO force resync failed for encap %s: %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(FIB_INIT_IPV4_FAILED, 2400, "Failed to initialize FIB external client library (IPv4): %s", PTP_TRACE_ARG_ZERR) \
    X(FIB_INIT_IPV6_FAILED, 2401, "Failed to initialize FIB external client library (IPv6): %s", PTP_TRACE_ARG_ZERR) \
    X(FIB_CONNECTION_FIB_EXTERNAL_CLIENT, 2402, "Connection to FIB external client library closed.") \
    X(FIB_RECONNECT, 2403, "Beginning reconnect for FIB external client library for IPv%lu connection", PTP_TRACE_ARG_UINT) \
    X(FIB_FIB_EXTERNAL_CLIENT_LIBRARY, 2404, "FIB external client library cleanup for IPv%lu connection failed: %s", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT) \
    X(FIB_FIB_EXTERNAL_CLIENT_LIBRARY_2405, 2405, "FIB external client library cleanup for IPv%lu connection successful", PTP_TRACE_ARG_UINT) \
    X(FIB_UNREGISTER, 2406, "Unregister status %s for client %s from FIB external client library", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_ZERR, PTP_TRACE_ARGS_ADDR) \
    X(FIB_SUCCESSFUL_REGISTRATION_PEER_IPV, 2407, "Successful registration of %lu peer%s on IPv%lu handle with FIB external client library", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(FIB_NO_PEERS_BATCH_REGISTER, 2408, "No peers in batch to register with FIB on IPv%lu handle.", PTP_TRACE_ARG_UINT) \
    X(FIB_ATTEMPT_REGISTER_PEERS_IPV, 2409, "Attempt to register %lu peers on IPv%lu handle failed with error %s", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT) \
    X(FIB_UNREGISTER_BAD_TYPE, 2410, "Attempt to unregister peer of incorrect address type %s from FIB external client library", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_ENCAP) \
    X(FIB_UPDATE, 2411, "Received next hop for %s %s with address %s from FIB external client library", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARGS_ADDR) \
    X(FIB_UPDATE_NO_PEER, 2412, "Received next hop for %s peer with address %s from FIB, but no matching peer; unregister this peer from FIB.", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARGS_ADDR) \
    X(FIB_PREPARED_PREFIX_VRF_ID, 2413, "Prepared prefix with VRF ID 0x%8.8lx for peer %s", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT) \
    X(FIB_PREFIX_EXTRACTED, 2414, "Extracted prefix with address %s from FIB update", PTP_TRACE_ARG_IFHANDLE, PTP_TRACE_ARGS_ADDR) \
    X(FIB_PRE_FIB_CONNECT_V4, 2415, "PRE FIB connect v4") \
    X(FIB_PRE_FIB_CONNECT_V6, 2416, "PRE FIB connect v6, post fib connect v4") \
    X(FIB_PRE_PULSE_POST_FIB, 2417, "PRE pulse, post fib connect v6") \
    X(FIB_PRE_FIB_FEC_POST, 2418, "PRE FIB fec, post pulse + util timer") \
    X(ADJ_RECEIVED_ADJACENCY_NOTIFICATION_NOT, 2600, "Received adjacency notification not containing the right information: %s%s%s (proto %lu, len %lu)", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(ADJ_RECEIVED_ADJACENCY_NOTIFICATION_FOREIGN, 2601, "Received adjacency notification for foreign master %s", PTP_TRACE_ARG_TEXT) \
    X(ADJ_RECEIVED_ADJACENCY_NOTIFICATION_UNICAST, 2602, "Received adjacency notification for unicast peer %s", PTP_TRACE_ARG_TEXT) \
    X(ADJ_FAILURE_SENDING_BATCHED_ARP, 2603, "Failure sending batched ARP requests: %s", PTP_TRACE_ARG_TEXT) \
    X(ADJ_SUCESSFULLY_SENT_BATCHED_ARP, 2604, "Sucessfully sent %lu batched ARP requests", PTP_TRACE_ARG_UINT) \
    X(ADJ_ARP_FAILURE_NOTIFICATION_FAILURES, 2605, "ARP failure notification. %lu failures, of which the first was: IPv4 address %s, interface 0x%8.8lx. Error: %s", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT) \
    X(ADJ_FAILED_INITALISE_ADJACENCY_MODULE, 2606, "Failed to initalise adjacency module: %s", PTP_TRACE_ARG_TEXT) \
    X(ADJ_ADJACENCY_LOOKUP_RETURNED_MAC, 2607, "Adjacency lookup for %s returned MAC of excess length %lu", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(ADJ_ADJ_INIT_PRE_AIB, 2608, "Adj init pre AIB") \
    X(ADJ_ADJ_INIT_PRE_ARP, 2609, "Adj init pre ARP, post AIB") \
    X(ISSU_FAILED_MARK_MILESTONE_MET, 2803, "Failed to mark milestone '%s' as met: %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT)

// The controller (quorrin). Rows are added by the controller's modules as they are built.
// Process entry 0-99, agent link 100-199, platform driver 200-299, leap seconds 600-699.
#define PTP_TRACE_POINTS_QUORRIN(X) \
    X(MAIN_START, 0, "PTP controller is (re)starting") \
    X(MAIN_EXIT, 1, "PTP controller is exiting") \
    X(MAIN_IM_BIND_FAILED, 2, "Failed to bind to IM: %s", PTP_TRACE_ARG_ZERR) \
    X(MAIN_IM_CONNID_FAILED, 3, "Failed to get connection ID for IM connection: %s", PTP_TRACE_ARG_ZERR) \
    X(MAIN_STANDBY, 4, "Node in standby") \
    X(MAIN_GOING_ACTIVE, 5, "Node going active") \
    X(MAIN_INIT_IM, 6, "IM connection successfully initialized") \
    X(MAIN_INIT_TIMERS, 7, "Timers successfully initialized") \
    X(MAIN_INIT_CHKPT, 8, "Checkpoint successfully initialized") \
    X(MAIN_INIT_NODE_ID, 9, "Successfully looked up local node ID") \
    X(MAIN_INIT_CAPABILITY, 10, "Platform capability successfully initialized") \
    X(MAIN_INIT_LEAP_TIMERS, 11, "Leap second timers successfully initialized") \
    X(MAIN_INIT_LEAP_SECONDS, 12, "Leap seconds module successfully initialized") \
    X(MAIN_INIT_CFG_BIND, 13, "Successfully bound to global Nodra bindpoint") \
    X(MAIN_INIT_CFG_VRFN, 14, "Successfully registered for vrfn") \
    X(MAIN_INIT_CFG_FSYNC_BIND, 15, "Successfully bound to FSync global's Nodra bindpoint") \
    X(MAIN_INIT_COMMS, 16, "Comms module successfully initialized") \
    X(MAIN_INIT_BMC, 17, "BMC module successfully initialized") \
    X(MAIN_INIT_SERVO, 18, "Platform servo successfully initialized") \
    X(MAIN_INIT_CLOCK, 19, "Platform clock successfully initialized") \
    X(MAIN_INIT_PLATFORM_LEAP, 20, "Platform updated with leap second information") \
    X(MAIN_INIT_EDM, 21, "EDM module successfully initialized") \
    X(MAIN_INIT_PORT_NUM, 22, "Port num module successfully initialized") \
    X(MAIN_INIT_KVOLM, 23, "Found KVOLM 'ririz'") \
    X(MAIN_INIT_LR_EVENTS, 24, "Registered for LR events successfully") \
    X(MAIN_INIT_EOI, 25, "Successfully informed SysMgr about EOI") \
    X(MAIN_INIT_CHKPT_ISSU, 26, "Initializing chkpt, ISSU %senabled.", PTP_TRACE_ARG_FLAG_NOT) \
    X(MAIN_IDT_TABLE, 27, "Received IDT for %s checkpoint table", PTP_TRACE_ARG_CHKPT_TABLE) \
    X(MAIN_IDT_PORT_NUM_END, 28, "Received %s checkpoint port num table-end IDT", PTP_TRACE_ARG_FLAG_INIT_DONE) \
    X(MAIN_IDT_GLOBAL_END, 29, "Received %s checkpoint global table-end IDT", PTP_TRACE_ARG_FLAG_INIT_DONE) \
    X(MAIN_IDT_ALL_RECEIVED, 30, "All expected table-end IDTs received") \
    X(MAIN_IDT_TIMER_EXPIRED, 31, "The timer waiting for checkpoint IDTs expired") \
    X(COMMS_RETRY_EXPIRED, 100, "Retry timer expired, sending announce message to all nodes") \
    X(COMMS_RETRY_MAX, 101, "Max message-send retry count reached, exiting") \
    X(COMMS_ANNOUNCE_SENT, 102, "Successfully sent announce message to %s", PTP_TRACE_ARG_TEXT) \
    X(COMMS_ANNOUNCE_SEND_FAILED, 103, "Failed to send announce message to %s: %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_ZERR) \
    X(COMMS_DAMPING, 104, "%s grandmaster clock message damping timer", PTP_TRACE_ARG_TEXT) \
    X(COMMS_NOTIFICATION, 105, "Received comms notification %s from node %s. Comms is %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_NODE_ID, PTP_TRACE_ARG_TEXT) \
    X(COMMS_ANNOUNCE_REQUEST, 106, "Received announce request message from node %s. Comms is %s", PTP_TRACE_ARG_NODE_ID, PTP_TRACE_ARG_TEXT) \
    X(COMMS_BMC, 107, "Received BMC message from node %s. Comms is %s", PTP_TRACE_ARG_NODE_ID, PTP_TRACE_ARG_TEXT) \
    X(COMMS_BMC_NODE_ID_FAILED, 108, "Failed to get node ID for received BMC message: %s", PTP_TRACE_ARG_ZERR) \
    X(COMMS_BMC_NO_SLAVE, 109, "Ignored BMC message due to lack of slave support") \
    X(PLATFORM_INITIALIZED, 200, "Successfully initialized platform") \
    X(PLATFORM_CLOCK_INIT_FAILED, 201, "Failed to initialize platform clock: %s", PTP_TRACE_ARG_ZERR) \
    X(PLATFORM_CLOCK_VERSION, 202, "Failed to initialize platform clock: unsupported API version. Expected %lu, found %lu", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(PLATFORM_SERVO_INIT_FAILED, 203, "Failed to initialize platform servo: %s", PTP_TRACE_ARG_ZERR) \
    X(PLATFORM_SERVO_INITIALIZED, 204, "Initialized servo, Servo was %sstarted, %ssynced", PTP_TRACE_ARG_FLAG_NOT, PTP_TRACE_ARG_FLAG_NOT) \
    X(PLATFORM_CAPABILITY_INIT_FAILED, 205, "Failed to initialize platform capabilities: %s", PTP_TRACE_ARG_ZERR) \
    X(PLATFORM_CAPABILITY_VERSION, 206, "Failed to initialize platform capabilities: unsupported API version. Expected %lu or below, found %lu", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(PLATFORM_SERVO_START, 207, "Starting servo. %s time, %s freq, sync packet rate %lu, delay request packet rate %lu, profile %s, clock_type %s, servo mode %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_PROFILE, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(PLATFORM_SERVO_START_NETWORK, 208, "Starting servo - continued. Network type %s", PTP_TRACE_ARG_TEXT) \
    X(PLATFORM_SERVO_STOP, 209, "Stopping servo") \
    X(PLATFORM_SYNC_DROPPED, 210, "Servo not running, dropping sync notification from platform") \
    X(PLATFORM_SYNC, 211, "Received notification of servo-sync from platform") \
    X(PLATFORM_SLAVE_UPDATE_GM, 212, "Sending slave update to platform. Grandmaster available: Has freq %s, Has time %s, Timescale %s, Freq Pri %u, ToD Pri %u, QL %s, Delay Asymmetry %d, Interface handle %#8.8lx, APTS %s, best source is %", PTP_TRACE_ARG_GM_FREQ_TIME, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_QL, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT) \
    X(PLATFORM_SLAVE_UPDATE_NO_GM, 213, "Sending slave update to platform. Not sending grandmaster info (%s), APTS %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(PLATFORM_TRANSPARENT_CLOCK, 214, "Sending transparent clock %s update to platform", PTP_TRACE_ARG_TEXT) \
    X(PLATFORM_SETTINGS, 215, "Sending clock settings update to platform: Profile %s, Clock Type %s, Servo Mode %s, Network Type %s, Servo Slow Tracking %s, Holdover Duration (secs) %lu %s", PTP_TRACE_ARG_PROFILE, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT) \
    X(PLATFORM_CLOCK_INITIALIZED, 216, "Platform clock DLL successfully initialised with API version %lu", PTP_TRACE_ARG_UINT) \
    X(LEAP_INIT, 600, "Initializing the leap seconds module") \
    X(LEAP_SHUTDOWN, 601, "Shutting down the leap seconds module") \
    X(LEAP_GOING_ACTIVE, 602, "Leap seconds module going active") \
    X(LEAP_TIMESTAMP_OK, 603, "Successfully obtained PTP timestamp from platform") \
    X(LEAP_TIMESTAMP_FAILED, 604, "Failed to get current PTP timestamp from platform: %s", PTP_TRACE_ARG_ZERR) \
    X(LEAP_FILE_DOWNLOADED, 605, "Successfully downloaded leap second file after %lu attempt%s", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT) \
    X(LEAP_FILE_DOWNLOAD_FAILED, 606, "Failed to download file, cURL error: %s", PTP_TRACE_ARG_TEXT) \
    X(LEAP_FILE_TIMER, 607, "File timer fired") \
    X(LEAP_MIDDAY_TIMER, 608, "Midday timer fired") \
    X(LEAP_MIDNIGHT_TIMER, 609, "Midnight timer fired") \
    X(LEAP_CONFIG_APPLY, 610, "Applying update from config. UTC offset %s, Leap seconds: %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(LEAP_CONFIG_ADVERTISE, 611, "Advertising update from config. UTC offset %s, Leap seconds: %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(LEAP_PLATFORM_UPDATE, 612, "Update from platform. UTC offset %s, Leap seconds: %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(LEAP_GM_UPDATE, 613, "Update from grandmaster. UTC offset %s, Leap seconds: %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(LEAP_GM_LOST, 614, "Grandmaster lost") \
    X(LEAP_GM_HOLDOVER, 615, "Updating grandmaster info while in holdover. UTC offset %s, Leap seconds: %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(LEAP_GM_APPLY_TIME, 616, "Calculated implied leap second application timestamp: %d", PTP_TRACE_ARG_INT) \
    X(LEAP_CHKPT_RECOVERED, 617, "Recovered grandmaster checkpoint record. UTC offset: %s, Leap seconds: %s, Timestamp: %d", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_INT) \
    X(LEAP_CHKPT_RECOVER_FAILED, 618, "Failed to recover grandmaster checkpoint record: %s", PTP_TRACE_ARG_ZERR) \
    X(LEAP_CHKPT_WRITE, 619, "Writing grandmaster checkpoint record. UTC offset: %s, Leap seconds: %s, Timestamp: %d", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_INT) \
    X(LEAP_CHKPT_WRITE_FAILED, 620, "Failed to write grandmaster checkpoint record: %s", PTP_TRACE_ARG_ZERR) \
    X(LEAP_TIMESCALE, 621, "Timescale update: %s", PTP_TRACE_ARG_TEXT) \
    X(LEAP_PROFILE, 622, "Profile update: %s", PTP_TRACE_ARG_PROFILE) \
    X(LEAP_NDT, 623, "Received leap seconds NDT from checkpoint") \
    X(CFG_COULD_NOT_DETERMINE_WHETHER, 300, "Could not determine whether to exit: %s", PTP_TRACE_ARG_TEXT) \
    X(CFG_GLOBAL_ENABLE_CONFIG_EVENT, 301, "Global Enable config %s event.", PTP_TRACE_ARG_TEXT) \
    X(CFG_GLOBAL_LOG_BMC_CHANGES, 302, "Global log BMC changes config %s event.", PTP_TRACE_ARG_TEXT) \
    X(CFG_CLOCK_IDENTITY_CONFIG_EVENT, 303, "Clock identity config %s event: %s0x%lx -> %s0x%lx.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_CLOCK_DOMAIN_CONFIG_EVENT, 304, "Clock domain config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_CLOCK_PRIORITY_CONFIG_EVENT, 305, "Clock priority%lu config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_CLOCK_CLASS_CONFIG_EVENT, 306, "Clock class config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_FREQUENCY_PRIORITY_CONFIG_EVENT, 307, "Frequency priority config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_TIMEOFDAY_PRIORITY_CONFIG_EVENT, 308, "Time-of-day priority config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_CLOCK_SELECTION_MODE_CONFIG, 309, "Clock selection mode config %s event: %s%s -> %s%s.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_CLOCK_ADVERTISEMENT_MODE_CONFIG, 310, "Clock advertisement mode config %s event: %s%s -> %s%s.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_CLOCK_PROFILE_CONFIG_EVENT, 311, "Clock profile config %s event: %s%s -> %s%s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_PROFILE_ENCAP_CONFIG_EVENT, 313, "Profile %s: Encap config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_VERIFY_CHECKSUM_EVENT_OCCURRED, 314, "Verify checksum %s event occurred", PTP_TRACE_ARG_TEXT) \
    X(CFG_PROFILE_CLOCKOPERATION_CONFIG_EVENT, 315, "Profile %s: Clock-operation config %s event: %s -> %s.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_PROFILE_ANNOUNCE_INTERVAL_CONFIG_316, 316, "Profile %s: Announce Interval config %s event: %s%li -> %s%li.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_INT) \
    X(CFG_PROFILE_SYNC_INTERVAL_CONFIG_317, 317, "Profile %s: Sync Interval config %s event: %s%li -> %s%li.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_INT) \
    X(CFG_PROFILE_ANNOUNCE_TIMEOUT_CONFIG, 318, "Profile %s: Announce timeout config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_PROFILE_DELAYREQUEST_MINUMUM_INTERVAL, 319, "Profile %s: Delay-Request Minumum Interval config %s event: %s%li -> %s%li.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_INT) \
    X(CFG_PROFILE_MULTICAST_CONFIG_EVENT, 320, "Profile %s: Multicast config %s event: %s.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_PROFILE_PORT_STATE_CONFIG_321, 321, "Profile %s: Port State config %s event: %s -> %s.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_PROFILE_LOCAL_PRIORITY_CONFIG, 322, "Profile %s: Local Priority config %s event: %s%li -> %s%li.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_INT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_INT) \
    X(CFG_PROFILE_SOURCE_IP_CONFIG_323, 323, "Profile %s: Source IP config %s event: %s -> %s.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_PROFILE_SOURCE_IPV6_CONFIG_324, 324, "Profile %s: Source IPv6 config %s event: %s -> %s.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_PROFILE_COS_CONFIG_EVENT, 325, "Profile %s: CoS config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_PROFILE_DSCP_CONFIG_EVENT, 326, "Profile %s: DSCP config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_PROFILE_IPV4_TTL_CONFIG, 327, "Profile %s: IPv4 TTL config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_PROFILE_IPV6_HOP_LIMIT, 328, "Profile %s: IPv6 hop limit config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_PROFILE_UNICAST_GRANT_DURATION, 329, "Profile %s: %s unicast grant duration config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_PROFILE_MESSAGE_TIMEOUT_CONFIG, 330, "Profile %s: %s message timeout config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_PROFILE_INVALID_GRANT_DENY, 331, "Profile %s: invalid grant deny config %s event: %s -> %s.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_PROFILE_PERPORT_DELAY_ASYMMETRY, 332, "Profile %s: Per-port delay asymmetry config %s event: %s -> %s.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_PROFILE_MASTER_ENABLE_CONFIG, 333, "Profile %s: Master %s enable config %s event.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_PROFILE_MASTER_PRIORITY_CONFIG, 334, "Profile %s: Master %s priority config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_PROFILE_MASTER_CLOCK_CLASS, 335, "Profile %s: Master %s clock class config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_PROFILE_MASTER_NONNEGOTIATED_UNICAST, 336, "Profile %s: Master %s non-negotiated unicast config %s event: %s -> %s.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_PROFILE_MASTER_MULTICAST_CONFIG, 337, "Profile %s: Master %s multicast config %s event: %s -> %s.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_PROFILE_MASTER_DELAY_ASYMMETRY, 338, "Profile %s: Master %s delay asymmetry config %s event: %s -> %s.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_PROFILE_SLAVE_NONNEGOTIATED_UNICAST, 339, "Profile %s: Slave %s non-negotiated unicast config %s event: %s -> %s.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_ABORT_FUNCTION_CALLED_SEQUENCE_340, 340, "Abort function called for sequence num %lu, item %lu of %lu", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(CFG_RECEIVED_VERIFY_BATCH_ITEMS, 341, "Received verify batch of %lu items", PTP_TRACE_ARG_UINT) \
    X(CFG_VERIFY_BATCH_ITEM_FAILED, 342, "%s: Verify batch item failed: %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_FAILED_BIND_GLOBAL_NODRA_344, 344, "Failed to bind to global Nodra bindpoint: %s", PTP_TRACE_ARG_TEXT) \
    X(CFG_FAILED_INITIALIZE_NODRA_VERIFICATION_345, 345, "Failed to initialize Nodra verification functions: %s", PTP_TRACE_ARG_TEXT) \
    X(CFG_FAILED_REGISTER_VERIFICATION_GLOBAL, 346, "Failed to register for verification of global enable item: %s", PTP_TRACE_ARG_TEXT) \
    X(CFG_FAILED_REGISTER_VERIFICATION_PROFILE, 347, "Failed to register for verification of profile configuration: %s", PTP_TRACE_ARG_TEXT) \
    X(CFG_FAILED_GET_ROUTERS_MAC, 348, "Failed to get the router's MAC address when attempting to generate the PTP clock ID: %s", PTP_TRACE_ARG_TEXT) \
    X(CFG_CLOCK_TIMESCALE_CONFIG_EVENT, 349, "Clock timescale config %s event: %s%s -> %s%s.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_CLOCK_TIME_SOURCE_CONFIG, 350, "Clock time source config %s event: %s%s -> %s%s.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_MIN_CLOCK_CLASS_CONFIG, 351, "Min clock class config %s event: %lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_LEAP_SECOND_FILE_CONFIG, 352, "Leap second file config %s event: %s %lu -> %s %lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_LEAP_SECOND_OFFSET_CONFIG, 353, "Leap second offset config %s event: %lu(%f)%s -> %lu(%f)%s.", PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_LEAP_OFFSET, PTP_TRACE_ARG_LEAP_OFFSET) \
    X(CFG_UNCALIBRATED_CLOCK_CLASS_CONFIG, 354, "Uncalibrated clock class config %s event: %s(%lu,%s) -> %s(%lu,%s).", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT) \
    X(CFG_DEPRECATED_UNCALIBRATED_CLOCK_CLASS, 355, "Deprecated uncalibrated clock class config %s event: %s%lu -> %s%lu", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_FSYNC_QL_OPTION_CONFIG, 356, "Fsync QL option config %s event. New value %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_FAILED_BIND_GLOBAL_FSYNC_357, 357, "Failed to bind to global FSync global Nodra bindpoint: %s", PTP_TRACE_ARG_TEXT) \
    X(CFG_FAILED_REGISTER_NOTIFICATION_FSYNC_358, 358, "Failed to register for notification of FSync GL QL option config: %s", PTP_TRACE_ARG_TEXT) \
    X(CFG_PROFILE_INTEROP_PROFILE_CONFIG, 359, "Profile %s: Interop profile config %s event: %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(CFG_PROFILE_INTEROP_DOMAIN_CONFIG, 360, "Profile %s: Interop domain config %s event: %lu", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_PROFILE_INTEROP_PRIORITY_CONFIG, 361, "Profile %s: Interop %s priority%lu config %s event: %lu", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_PROFILE_INTEROP_CLOCK_ACCURACY, 362, "Profile %s: Interop %s clock accuracy config %s event: %lu", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_PROFILE_INTEROP_OSLV_CONFIG, 363, "Profile %s: Interop %s OSLV config %s event: %lu", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_PROFILE_INTEROP_DEFAULT_CLOCK, 364, "Profile %s: Interop %s default clock class config %s event: %lu", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_PROFILE_INTEROP_CLOCK_CLASS, 365, "Profile %s: Interop %s clock class mapping config %s event: %lu:%lu", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(CFG_STARTUP_CLOCK_CLASS_CONFIG, 366, "Startup clock class config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_FREERUN_CLASS_CONFIG_EVENT, 367, "Freerun class config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_NODRA_ABORT_NOTIFICATION_NO, 368, "Nodra Abort notification with no remaining PTP config. PTP Controller is exiting") \
    X(CFG_VIRTUAL_PORT_ENABLE_CONFIG, 369, "Virtual Port Enable config %s event.", PTP_TRACE_ARG_TEXT) \
    X(CFG_VIRTUAL_PORT_PRIORITY_CONFIG, 370, "Virtual Port priority%lu config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_VIRTUAL_PORT_CLOCK_CLASS, 371, "Virtual Port clock class config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_VIRTUAL_PORT_CLOCK_ACCURACY, 372, "Virtual Port clock accuracy config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_VIRTUAL_PORT_CLOCK_OSLV, 373, "Virtual Port clock oslv config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_VIRTUAL_PORT_LOCAL_PRIORITY, 374, "Virtual Port local priority config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_PHYSICAL_LAYER_FREQUENCY_CONFIG, 375, "Physical layer frequency config %s event", PTP_TRACE_ARG_TEXT) \
    X(CFG_NETWORK_TYPE_CONFIG_EVENT, 376, "Network type config %s event", PTP_TRACE_ARG_TEXT) \
    X(CFG_SERVO_SLOW_TRACKING_CONFIG, 377, "Servo slow tracking config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_HOLDOVER_CLOCK_CLASS_CONFIG, 378, "Holdover clock class config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_HOLDOVER_DURATION_CONFIG_EVENT, 379, "Holdover duration config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(CFG_HOLDOVER_TIMETRACEABLE_OVERRIDE_CONFIG, 380, "Holdover time-traceable override config %s event", PTP_TRACE_ARG_TEXT) \
    X(CFG_UNCALIBRATED_TIMETRACEABLE_OVERRIDE_CONFIG, 381, "Uncalibrated time-traceable override config %s event", PTP_TRACE_ARG_TEXT) \
    X(CFG_ASSISTED_PARTIAL_TIMING_SUPPORT, 382, "Assisted partial timing support config %s event", PTP_TRACE_ARG_TEXT) \
    X(CFG_DOUBLEFAILURE_CLOCK_CLASS_CONFIG, 383, "Double-failure clock class config %s event: %s%lu -> %s%lu.", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(BMC_INSERTED_CLOCK_0X_NODE, 400, "Inserted clock 0x%lx (%s) from node %s(0x%lx) into BMC list at position %lu", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(BMC_REMOVED_CLOCK_0X_NODE, 401, "Removed clock 0x%lx (%s) from node %s(0x%lx) from BMC list", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(BMC_FAILED_UPDATE_GLOBAL_CHECKPOINT, 402, "Failed to update global checkpoint record: %s", PTP_TRACE_ARG_TEXT) \
    X(BMC_FAILED_DELETE_GLOBAL_CHECKPOINT, 403, "Failed to delete global checkpoint record, checkpoint ID 0x%lx: %s", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT) \
    X(BMC_FAILED_UPDATE_CHECKPOINT_RECORD, 404, "Failed to update checkpoint record for clock 0x%lx (%s) from node %s(0x%lx): %s", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT) \
    X(BMC_UPDATED_CHECKPOINT_RECORD_CLOCK, 405, "Updated checkpoint record for clock 0x%lx (%s) from node %s(0x%lx): Checkpoint ID 0x%lx", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(BMC_CREATED_CHECKPOINT_RECORD_CLOCK, 406, "Created checkpoint record for clock 0x%lx (%s) from node %s(0x%lx): Checkpoint ID 0x%lx", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(BMC_FAILED_READ_CHECKPOINT, 407, "Failed to read from checkpoint: %s", PTP_TRACE_ARG_TEXT) \
    X(BMC_RECOVERED_GLOBAL_CHECKPOINT_RECORD, 408, "Recovered global checkpoint record. Checkpoint ID 0x%lx", PTP_TRACE_ARG_UINT) \
    X(BMC_RECOVERED_CLOCK_0X_NODE, 409, "Recovered clock 0x%lx (%s) from node %s(0x%lx) from checkpoint. Checkpoint ID 0x%lx", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(BMC_DID_NOT_RECOVER_CLOCK, 410, "Did not recover clock 0x%lx (%s) from node %s(0x%lx) from checkpoint. Corrupt or duplicate. Checkpoint ID 0x%lx", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(BMC_FAILED_REGISTER_CHECKPOINT_RETRYING, 411, "Failed to register with checkpoint: (%s). Retrying.", PTP_TRACE_ARG_TEXT) \
    X(BMC_STARTED_RESYNC_TIMER_NODE, 412, "Started resync timer for node %s(0x%lx), clock 0x%lx (%s)", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT) \
    X(BMC_RESYNC_TIMER_EXPIRED_NODE, 413, "Resync timer expired for node %s(0x%lx), clock 0x%lx (%s). Deleting clock", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT) \
    X(BMC_PTP_SERVO_SYNCED_GRANDMASTER, 414, "PTP servo synced to grandmaster 0x%lx", PTP_TRACE_ARG_UINT) \
    X(BMC_PTP_SERVO_LOST_SYNC, 415, "PTP servo lost sync with grandmaster 0x%lx", PTP_TRACE_ARG_UINT) \
    X(BMC_GRANDMASTER_CLOCK_REMOVED, 416, "Grandmaster clock removed, %s", PTP_TRACE_ARG_TEXT) \
    X(BMC_GRANDMASTER_LOCAL_CLOCK_UPDATED, 417, "Grandmaster local clock updated") \
    X(BMC_VIRTUAL_PORT_CONFIGURED, 418, "Virtual Port configured") \
    X(BMC_VIRTUAL_PORT_UNCONFIGURED, 419, "Virtual Port unconfigured") \
    X(BMC_VIRTUAL_PORT_CONNECTED, 420, "Virtual Port connected") \
    X(BMC_VIRTUAL_PORT_DISCONNECTED, 421, "Virtual Port disconnected") \
    X(BMC_GRANDMASTER_CLOCK_HAS_CHANGED, 422, "Grandmaster clock has changed, new clock ID 0x%lx, %s", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT) \
    X(BMC_RECEIVED_CLOCK_UPDATE_PLATFORM, 423, "Received clock update from the platform. Clock %sactive, %susing PTP for frequency, %susing PTP for time. Current local clock is %sa primary ref, sync state is '%s' and QL is '%s'", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(BMC_RECEIVED_CLOCK_UPDATE_PLATFORM_424, 424, "Received clock update from the platform. Selection local clock is %sa primary ref, sync state is '%s' and QL is '%s'", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(BMC_RECEIVED_CLOCK_UPDATE_PLATFORM_425, 425, "Received clock update from the platform. No selection clock included") \
    X(BMC_RECEIVED_BAD_CLOCK_UPDATE, 426, "Received bad clock update from platform using PTP but we currently do not have a GM.") \
    X(BMC_RECEIVED_UTC_OFFSET_UPDATE, 427, "Received UTC offset update. Leap seconds: %s, UTC offset: %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT) \
    X(BMC_FAILED_TRANSLATE_CLOCK_CHECKPOINT, 428, "Failed to translate clock checkpoint, dropping object") \
    X(BMC_RECEIVED_CHECKPOINT_NDT_GLOBAL, 429, "Received checkpoint NDT for global table") \
    X(BMC_RECEIVED_CHECKPOINT_NDT_CLOCK, 430, "Received checkpoint NDT for clock table") \
    X(BMC_FINISHED_WRITING_DATA_CHECKPOINT, 431, "Finished writing data to checkpoint") \
    X(BMC_FAILED_DECODE_GPB_GLOBAL, 432, "Failed to decode GPB global checkpoint record: %s", PTP_TRACE_ARG_TEXT) \
    X(BMC_PLATFORM_NOT_UPDATED_GRANDMASTER, 433, "Platform not updated with Grandmaster change on BMC shutdown") \
    X(BMC_BMC_SERVO_STARTED_BMC, 434, "BMC servo started, BMC servo not synced") \
    X(BMC_BMC_SERVO_STOPPED_BMC, 435, "BMC servo stopped, BMC servo not synced") \
    X(BMC_BMC_SERVO_RESTARTED_BMC, 436, "BMC servo restarted, BMC servo not synced") \
    X(PORT_NUM_RECEIVED_GSP_DOWN_NOTIFICATION, 500, "Received GSP down notification") \
    X(PORT_NUM_RECEIVED_GSP_UP_NOTIFICATION, 501, "Received GSP up notification") \
    X(PORT_NUM_RECEIVED_DROPPED_MESSAGE_NOTIFICATION, 502, "Received dropped message notification") \
    X(PORT_NUM_RECEIVED_MEMBER_DELETE_NOTIFICATION, 503, "Received member delete notification from MA on node 0x%lx", PTP_TRACE_ARG_UINT) \
    X(PORT_NUM_0X_FAILED_ALLOCATE_PORT, 504, "%s (0x%8.8lx): Failed to allocate port num, port nums exhausted", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(PORT_NUM_STARTING_CONTROLLER_RESYNC_SENDING, 505, "Starting controller resync, sending resync request message to all MAs") \
    X(PORT_NUM_RESYNC_TIMER_EXPIRED_SWEEPING, 506, "Resync timer expired, sweeping unclaimed port numbers") \
    X(PORT_NUM_RESYNC_TIMER_NODE_0X, 507, "Resync timer for node 0x%lx expired,  sweeping unclaimed port numbers", PTP_TRACE_ARG_UINT) \
    X(PORT_NUM_FAILED_SEND_RESYNC_REQUEST, 508, "Failed to send resync request: %s", PTP_TRACE_ARG_TEXT) \
    X(PORT_NUM_FAILED_SAVE_CHECKPOINT_ENTRY, 509, "Failed to save checkpoint entry for interface %s (0x%8.8lx), port num %lu: %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT) \
    X(PORT_NUM_FAILED_DELETE_CHECKPOINT_ENTRY, 510, "Failed to delete checkpoint entry for interface%s (0x%8.8lx), port num %lu: %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT) \
    X(PORT_NUM_FAILED_READ_CHECKPOINT_TABLE, 511, "Failed to read checkpoint table: %s", PTP_TRACE_ARG_TEXT) \
    X(PORT_NUM_CANT_SEND_RESYNC_MESSAGE, 512, "Can't send resync message to node 0x%lx, comms handle unknown", PTP_TRACE_ARG_UINT) \
    X(PORT_NUM_SUCCESSFULLY_SENT_RESYNC_MESSAGE, 513, "Successfully sent resync message containing %lu ports  to node 0x%lx", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(PORT_NUM_FAILED_SEND_RESYNC_MESSAGE, 514, "Failed to send resync message containing %lu ports to node 0x%lx: %s", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT) \
    X(PORT_NUM_PORT_NUM_REQUEST_MESSAGE, 515, "Port num request message ignored: resync in progress or pending") \
    X(PORT_NUM_FAILED_GET_NODE_SENDER, 516, "Failed to get node for sender of port number request message: %s", PTP_TRACE_ARG_TEXT) \
    X(PORT_NUM_RECEIVED_PORT_NUMBER_REQUEST, 517, "Received port number request message with %lu ports from node 0x%lx", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(PORT_NUM_SUCCESSFULLY_SENT_PORT_NUMBER, 518, "Successfully sent port number allocate message with %lu ports to node 0x%lx", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(PORT_NUM_FAILED_SEND_PORT_NUMBER, 519, "Failed to send port number allocate message with %lu ports to node 0x%lx: %s", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT) \
    X(PORT_NUM_PORT_NUMBER_RELEASE_MESSAGE, 520, "Port number release message ignored: resync in progress or pending") \
    X(PORT_NUM_FAILED_GET_NODE_PORT, 521, "Failed to get node for port number release message: %s", PTP_TRACE_ARG_TEXT) \
    X(PORT_NUM_RECEIVED_PORT_NUMBER_RELEASE, 522, "Received port number release message with %lu ports from node 0x%lx", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(PORT_NUM_FAILED_LOOK_UP_NODE, 523, "Failed to look up node information for port number release message from node 0x%lx", PTP_TRACE_ARG_UINT) \
    X(PORT_NUM_FAILED_GET_NODE_TESSEL, 524, "Failed to get node for Tessel resync message: %s", PTP_TRACE_ARG_TEXT) \
    X(PORT_NUM_TESSEL_RESYNC_MESSAGE_PORT, 525, "Tessel resync message port number allocation conflict for port num %lu: MA's intf %s (0x%8.8lx), Ctrlr's intf %s (0x%8.8lx)", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_UINT) \
    X(PORT_NUM_RECEIVED_TESSEL_RESYNC_MESSAGE, 526, "Received Tessel resync message from node 0x%8.8lx with %lu ports", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(PORT_NUM_FAILED_DUPLICATE_COMMS_HANDLE, 527, "Failed to duplicate comms handle for node 0x%lx", PTP_TRACE_ARG_UINT) \
    X(PORT_NUM_RECEIVED_PORT_NUMBER_NDT, 528, "Received an Port Number NDT.")

// The global-configuration process (sardo): main 0-99, platform 100-199, configuration 200-299,
// operational data 300 and above.
#define PTP_TRACE_POINTS_SARDO(X) \
    X(MAIN_START, 0, "PTP global is (re)starting") \
    X(MAIN_EXIT, 1, "PTP global is exiting") \
    X(MAIN_GOING_ACTIVE, 2, "Node going active") \
    X(MAIN_INIT_EOI, 4, "Successfully informed SysMgr about EOI") \
    X(MAIN_INIT_CFG_BIND, 6, "Successfully bound to global Nodra bindpoint") \
    X(MAIN_INIT_CFG_VRFN, 7, "Successfully registered for vrfn") \
    X(MAIN_INIT_KVOLM, 8, "Found KVOLM 'ririz'") \
    X(MAIN_INIT_LR_EVENTS, 9, "Registered for LR events successfully") \
    X(PLATFORM_CAPABILITY_INIT_FAILED, 101, "Failed to initialize platform capabilities: %s", PTP_TRACE_ARG_ZERR) \
    X(PLATFORM_CAPABILITY_VERSION, 102, "Failed to initialize platform capabilities: unsupported API version. Expected %lu or below, found %lu", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(CFG_EXIT_CHECK_FAILED, 200, "Could not determine whether to exit: %s", PTP_TRACE_ARG_ZERR) \
    X(CFG_GLOBAL_ENABLE, 201, "Global Enable config %s event.", PTP_TRACE_ARG_CFG_EVENT, PTP_TRACE_ARG_UNSHOWN) \
    X(CFG_VERIFY_BATCH, 204, "Received verify batch of %lu items", PTP_TRACE_ARG_UINT) \
    X(CFG_VERIFY_ITEM_FAILED, 205, "%s: Verify batch item failed: %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_ZERR) \
    X(CFG_APPLY_BATCH, 206, "Received apply batch of %lu items", PTP_TRACE_ARG_UINT) \
    X(CFG_NO_ROUTER_MAC, 209, "Failed to get the router's MAC address when attempting to generate the PTP clock ID: %s", PTP_TRACE_ARG_ZERR) \
    X(CFG_ABORT_EXIT, 210, "Nodra Abort notification with no remaining PTP config. PTP Global is exiting") \
    X(CFG_VRFN_FNS_FAILED, 211, "Failed to initialize Nodra verification functions: %s", PTP_TRACE_ARG_ZERR) \
    X(CFG_REGISTER_ENABLE_FAILED, 212, "Failed to register for verification of global enable item: %s", PTP_TRACE_ARG_ZERR) \
    X(CFG_REGISTER_SUBTREES_FAILED, 213, "Failed to register for verification of profile configuration: %s", PTP_TRACE_ARG_ZERR) \
    X(CFG_BIND_FAILED, 214, "Failed to bind to global Nodra bindpoint: %s", PTP_TRACE_ARG_ZERR) \
    X(EDM_NO_CONTROLLER, 300, "Could not determine location of PTP controller; aborting EDM request") \
    X(MAIN_PLATFORM_CAPABILITY_SUCCESSFULLY_INITIALIZED, 5, "Platform capability successfully initialized") \
    X(PLATFORM_SUCCESSFULLY_INITIALIZED_PLATFORM, 100, "Successfully initialized platform") \
    X(CFG_ABORT_FUNCTION_CALLED_SEQUENCE_203, 203, "Abort function called for sequence num %lu, item %lu of %lu", PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT, PTP_TRACE_ARG_UINT) \
    X(CFG_APPLY_BATCH_ITEM_FAILED, 207, "%s: Apply batch item failed: %s", PTP_TRACE_ARG_TEXT, PTP_TRACE_ARG_TEXT)

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

// Every row of a class has its own number, and every text one placeholder per shown argument.
template <typename Table>
constexpr bool ptp_trace_points_numbers_unique(const Table &table)
{
    // Sorted, so that a table of hundreds of rows stays within the compilers' constant-evaluation
    // limits (a pairwise check does not).
    std::array<uint32_t, std::tuple_size_v<Table>> numbers{};
    for (size_t i = 0; i < table.size(); ++i)
        numbers[i] = table[i].number;
    std::sort(numbers.begin(), numbers.end());
    for (size_t i = 1; i < numbers.size(); ++i)
        if (numbers[i] == numbers[i - 1])
            return false;
    return true;
}
template <typename Table>
constexpr bool ptp_trace_points_formats_ok(const Table &table)
{
    for (const ptp_trace_point_type &point : table)
        if (!ptp_trace_point_format_ok(point))
            return false;
    return true;
}
template <typename Table>
constexpr bool ptp_trace_points_addrs_ok(const Table &table)
{
    for (const ptp_trace_point_type &point : table)
        if (!ptp_trace_point_addr_ok(point))
            return false;
    return true;
}
template <typename Table>
constexpr bool ptp_trace_points_kinds_ok(const Table &table)
{
    for (const ptp_trace_point_type &point : table)
        if (!ptp_trace_point_kinds_ok(point))
            return false;
    return true;
}
static_assert(ptp_trace_points_kinds_ok(ptp_trace_points_util), "a shared-library placeholder differs from its argument's kind");
static_assert(ptp_trace_points_kinds_ok(ptp_trace_points_tessel), "an agent placeholder differs from its argument's kind");
static_assert(ptp_trace_points_kinds_ok(ptp_trace_points_quorrin), "a controller placeholder differs from its argument's kind");
static_assert(ptp_trace_points_kinds_ok(ptp_trace_points_sardo), "a global-process placeholder differs from its argument's kind");
static_assert(ptp_trace_points_numbers_unique(ptp_trace_points_util), "two shared-library points share a number");
static_assert(ptp_trace_points_formats_ok(ptp_trace_points_util), "a shared-library point's text and arguments differ");
static_assert(ptp_trace_points_numbers_unique(ptp_trace_points_tessel), "two agent points share a number");
static_assert(ptp_trace_points_formats_ok(ptp_trace_points_tessel), "an agent point's text and arguments differ");
static_assert(ptp_trace_points_addrs_ok(ptp_trace_points_tessel), "an agent point's address group is not whole");
static_assert(ptp_trace_points_numbers_unique(ptp_trace_points_quorrin), "two controller points share a number");
static_assert(ptp_trace_points_formats_ok(ptp_trace_points_quorrin), "a controller point's text and arguments differ");
static_assert(ptp_trace_points_numbers_unique(ptp_trace_points_sardo), "two global-process points share a number");
static_assert(ptp_trace_points_formats_ok(ptp_trace_points_sardo), "a global-process point's text and arguments differ");

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
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_MAIN_START) == 0x100000);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_MAIN_EXIT) == 0x100001);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_MAIN_GOING_ACTIVE) == 0x100002);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_CAPS_INIT_FAILED) == 0x1001000c8);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_CAPS_BAD_VERSION) == 0x1001000c9);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_CAPS) == 0x4001000ca);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_IM_CONN_FAILED) == 0x100100258);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_IM_INIT_DONE) == 0x100259);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_IM_BIND_FAILED) == 0x10010025a);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_IM_NOTIFY_REGISTER_FAILED) == 0x10010025b);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_IM_CONNID_FAILED) == 0x10010025c);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_IM_CONNECTED) == 0x10025d);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_IM_CONN_NOTIFY_FAILED) == 0x10010025e);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_IM_FIND_FAILED) == 0x10010025f);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_IM_ATTR_REGISTER_FAILED) == 0x200100260);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_IM_BULK_NOTIFY) == 0x200100261);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_IM_NOTIFY_UNKNOWN_IF) == 0x100262);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_IM_ATTR_REGISTER_ENTRY_FAILED) == 0x200100263);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_IM_FIND_ENTRY_FAILED) == 0x10200100264);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_IM_FIND_DONE) == 0x100100265);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_CFG_PRF_DB_DELETE) == 0x10100100328);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_CFG_PRF_DB_CREATE) == 0x10100100329);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_CFG_PRF_DB_CREATED) == 0x1010010032a);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_CFG_GL_ENABLE_SET) == 0x10032c);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_CFG_GL_ENABLE_DELETE) == 0x10032d);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_CFG_GL_CLOCK_PROFILE) == 0x700100330);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_CFG_GL_MIN_CLOCK_CLASS) == 0x200100331);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_CFG_INTEROP_PROFILE) == 0x300100365);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_CFG_INTEROP_DOMAIN) == 0x300100366);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_CFG_INTEROP_PRIORITY) == 0x500100367);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_CFG_INTEROP_CLOCK_ACCURACY) == 0x400100368);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_CFG_INTEROP_OSLV) == 0x400100369);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_CFG_INTEROP_CLOCK_CLASS_DEFAULT) == 0x40010036a);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_CFG_INTEROP_CLOCK_CLASS_MAPPING) == 0x50010036b);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_CFG_SLAVE_SUPPORT_CHECK_FAILED) == 0x1020010036c);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_CFG_FSYNC_QL_OPTION) == 0x20010036f);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_IM_ATTR_REGISTERED) == 0x200100266);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_TC_SEND) == 0x2001003e8);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_TC_SEND_FAILED) == 0x2001003e9);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_TC_SENT) == 0x3001003ea);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_TC_REPLY_FAILED) == 0x1001003eb);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_TC_ERROR_FAILED) == 0x1001003ec);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_TC_RECEIVED) == 0x1001003ed);
// clang-format on
static_assert(ptp_trace_point_id(PTP_TRACE_QUORRIN_MAIN_START) == 0x200000);
static_assert(ptp_trace_point_id(PTP_TRACE_QUORRIN_MAIN_EXIT) == 0x200001);
static_assert(ptp_trace_point_id(PTP_TRACE_QUORRIN_MAIN_IM_BIND_FAILED) == 0x100200002);
static_assert(ptp_trace_point_id(PTP_TRACE_QUORRIN_MAIN_IM_CONNID_FAILED) == 0x100200003);
static_assert(ptp_trace_point_id(PTP_TRACE_QUORRIN_MAIN_GOING_ACTIVE) == 0x200005);
static_assert(ptp_trace_point_id(PTP_TRACE_QUORRIN_MAIN_IDT_TABLE) == 0x10020001b);
static_assert(ptp_trace_point_id(PTP_TRACE_QUORRIN_MAIN_IDT_PORT_NUM_END) == 0x10020001c);
static_assert(ptp_trace_point_id(PTP_TRACE_QUORRIN_MAIN_IDT_GLOBAL_END) == 0x10020001d);
static_assert(ptp_trace_point_id(PTP_TRACE_QUORRIN_MAIN_IDT_ALL_RECEIVED) == 0x20001e);
static_assert(ptp_trace_point_id(PTP_TRACE_QUORRIN_MAIN_IDT_TIMER_EXPIRED) == 0x20001f);
static_assert(ptp_trace_point_id(PTP_TRACE_QUORRIN_COMMS_RETRY_MAX) == 0x200065);
// Eight words for nine values: the has-frequency and has-time flags share one.
static_assert(ptp_trace_point_id(PTP_TRACE_QUORRIN_PLATFORM_SLAVE_UPDATE_GM) == 0x8208002000d4);
