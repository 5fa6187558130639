// Packet and event counters of the agent.
//
// Packet counters (per interface, per peer address of an interface, per node) and the node's
// drop reasons live in the shared-memory window "ptp", which outlives the agent so that a
// restarted agent keeps its counts. Event counters (per interface record of each thread and per
// node) live in process memory.
//
// Window layout, version 6, host byte order. Links are window offsets (0 = none), because the
// next process may map the window elsewhere. Trees are AVL trees of 24-byte nodes
// {left, right, height} with a 24-byte tree field {root, comparator, 0}.
//   header (296): 0 interface tree (by u32 handle), 24 node counter block, 156 the 32 drop
//                 reasons, 284 consistent flag, 288 initialised flag
//   interface entry (192): 0 node, 24 handle, 28 per-peer tree initialised, 32 per-peer tree,
//                 56 counter block
//   per-peer entry (184): 0 node, 24 address {u32 kind, 16 value bytes, 4 zero}, 48 counter block
//
// The window is written by an earlier process and is not trusted: one marked consistent is kept
// only when every link in it leads to a live entry of its size that no other link reaches, with
// keys in order and heights of a balanced tree; anything else is reset as an invalid database.
//
// Packet counters, drop reasons and protocol-thread event counters belong to the protocol
// thread; IPC-thread event counters to the IPC thread (or the protocol thread while the IPC
// thread is blocked on it); node event counters are plain increments from either thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "ptp_types.h"
#include "shmwin.h"
#include "zerrno.h"

struct tessel_proto_idb_type;
struct tessel_ipc_idb_type;
// An interface's entry in the counters window.
struct tessel_stats_intf_entry_type;

enum tessel_packet_counter_class_type : uint32_t {
    TESSEL_PACKET_COUNTER_ANNOUNCE = 0,
    TESSEL_PACKET_COUNTER_SYNC = 1,
    TESSEL_PACKET_COUNTER_FOLLOW_UP = 2,
    TESSEL_PACKET_COUNTER_DELAY_REQ = 3,
    TESSEL_PACKET_COUNTER_DELAY_RESP = 4,
    TESSEL_PACKET_COUNTER_PDELAY_REQ = 5,
    TESSEL_PACKET_COUNTER_PDELAY_RESP = 6,
    TESSEL_PACKET_COUNTER_PDELAY_RESP_FOLLOW_UP = 7,
    TESSEL_PACKET_COUNTER_SIGNALING = 8,
    TESSEL_PACKET_COUNTER_MANAGEMENT = 9,
    TESSEL_PACKET_COUNTER_OTHER = 10,
};
inline constexpr uint32_t TESSEL_PACKET_COUNTER_CLASS_COUNT = 11;

enum tessel_packet_direction_type : uint32_t {
    TESSEL_PACKET_SENT = 0,
    TESSEL_PACKET_RECEIVED = 1,
};

enum tessel_packet_drop_reason_type : uint32_t {
    TESSEL_PACKET_DROP_NOT_READY = 0,
    TESSEL_PACKET_DROP_WRONG_DOMAIN,
    TESSEL_PACKET_DROP_TOO_SHORT,
    TESSEL_PACKET_DROP_LOOPED_SAME_PORT,
    TESSEL_PACKET_DROP_LOOPED_HIGHER_PORT,
    TESSEL_PACKET_DROP_LOOPED_LOWER_PORT,
    TESSEL_PACKET_DROP_NO_TIMESTAMP,
    TESSEL_PACKET_DROP_ZERO_TIMESTAMP,
    TESSEL_PACKET_DROP_INVALID_TLVS,
    TESSEL_PACKET_DROP_NOT_FOR_US,
    TESSEL_PACKET_DROP_NOT_LISTENING,
    TESSEL_PACKET_DROP_WRONG_MASTER,
    TESSEL_PACKET_DROP_UNKNOWN_MASTER,
    TESSEL_PACKET_DROP_NOT_MASTER,
    TESSEL_PACKET_DROP_NOT_SLAVE,
    TESSEL_PACKET_DROP_NOT_GRANTED,
    TESSEL_PACKET_DROP_TOO_SLOW,
    TESSEL_PACKET_DROP_INVALID_PACKET,
    TESSEL_PACKET_DROP_WRONG_SEQUENCE_ID,
    TESSEL_PACKET_DROP_NO_OFFLOAD_SESSION,
    TESSEL_PACKET_DROP_NOT_SUPPORTED,
    TESSEL_PACKET_DROP_MIN_CLOCK_CLASS,
    TESSEL_PACKET_DROP_BAD_CLOCK_CLASS,
    TESSEL_PACKET_DROP_RESERVED_CLOCK_ID,
    TESSEL_PACKET_DROP_STEPS_REMOVED,
    TESSEL_PACKET_DROP_G8265_1_INCOMPATIBLE,
    TESSEL_PACKET_DROP_G8275_1_INCOMPATIBLE,
    TESSEL_PACKET_DROP_G8275_2_INCOMPATIBLE,
    TESSEL_PACKET_DROP_INCORRECT_ADDRESS,
    TESSEL_PACKET_DROP_NON_NEGOTIATED,
    TESSEL_PACKET_DROP_VERIFY_CHECKSUM_FAILED,
    TESSEL_PACKET_DROP_IPV4_VERIFY_CHECKSUM,
};
inline constexpr uint32_t TESSEL_PACKET_DROP_REASON_COUNT = 32;

enum tessel_proto_idb_event_counter_type : uint32_t {
    TESSEL_PROTO_IDB_EVENT_READY_TRANSITIONS = 0,
    TESSEL_PROTO_IDB_EVENT_READY_UPDATES,
    TESSEL_PROTO_IDB_EVENT_BMC_STATE_CHANGES,
    TESSEL_PROTO_IDB_EVENT_CHKPT_UPDATES,
    TESSEL_PROTO_IDB_EVENT_CHKPT_UPDATE_FAILS,
};

enum tessel_ipc_idb_event_counter_type : uint32_t {
    TESSEL_IPC_IDB_EVENT_THREAD_UPDATES = 0,
    TESSEL_IPC_IDB_EVENT_IM_ETHER_REGISTER_BATCH,
    TESSEL_IPC_IDB_EVENT_IM_UDP_REGISTER_BATCH,
    TESSEL_IPC_IDB_EVENT_IM_ETHER_UNREGISTER_BATCH,
    TESSEL_IPC_IDB_EVENT_IM_UDP_UNREGISTER_BATCH,
    TESSEL_IPC_IDB_EVENT_IFHANDLE_GET_BATCH,
    TESSEL_IPC_IDB_EVENT_IPV4_ADDR_UPDATE_FAILED,
    TESSEL_IPC_IDB_EVENT_IM_ATTR_NOTIFICATIONS,
    TESSEL_IPC_IDB_EVENT_APPLY_ENABLE,
    TESSEL_IPC_IDB_EVENT_VERIFY_ENABLE,
    TESSEL_IPC_IDB_EVENT_APPLY_CONFIG,
    TESSEL_IPC_IDB_EVENT_VERIFY_CONFIG,
};

enum tessel_node_event_counter_class_type : uint32_t {
    TESSEL_NODE_EVENT_LOCAL_CLOCK_CHANGES = 0,
    TESSEL_NODE_EVENT_PORT_NUM_ALLOCS,
    TESSEL_NODE_EVENT_PORT_NUM_ALLOC_FAILS,
    TESSEL_NODE_EVENT_PORT_NUM_FREES,
    TESSEL_NODE_EVENT_GLOBAL_CHKPT_UPDATES,
    TESSEL_NODE_EVENT_GLOBAL_CHKPT_UPDATE_FAILS,
    TESSEL_NODE_EVENT_XTHREAD_IF_UPDATE_BATCHES,
    TESSEL_NODE_EVENT_XTHREAD_EDM_REQUESTS,
    TESSEL_NODE_EVENT_XTHREAD_MSG_ERRORS,
    TESSEL_NODE_EVENT_IM_UNBINDED,
    TESSEL_NODE_EVENT_IM_BINDED,
    TESSEL_NODE_EVENT_IM_BIND_FAILED,
    TESSEL_NODE_EVENT_IM_CTX_FROM_CONNID,
    TESSEL_NODE_EVENT_IM_CTX_FROM_CONNID_FAILED,
    TESSEL_NODE_EVENT_IM_NOTIFY_REGISTERED,
    TESSEL_NODE_EVENT_IM_NOTIFY_REGISTER_FAILED,
    TESSEL_NODE_EVENT_IFHANDLE_BATCH_GOT,
    TESSEL_NODE_EVENT_IFHANDLE_BATCH_FAILED,
    TESSEL_NODE_EVENT_IM_BATCH_REGISTERED,
    TESSEL_NODE_EVENT_IM_BATCH_REGISTER_FAILED,
    TESSEL_NODE_EVENT_IM_NOTIFY_BATCH_RECEIVED,
    TESSEL_NODE_EVENT_VERIFY_BATCH_RECEIVED,
    TESSEL_NODE_EVENT_APPLY_BATCH_RECEIVED,
    TESSEL_NODE_EVENT_NOTIFY_BATCH_RECEIVED,
    TESSEL_NODE_EVENT_NODE_BMC_CHANGE,
    TESSEL_NODE_EVENT_TIME_MSG_SENT,
};
inline constexpr uint32_t TESSEL_NODE_EVENT_COUNT = 26;
inline constexpr uint32_t TESSEL_STATS_IPC_IDB_EVENT_COUNT = 12;
inline constexpr uint32_t TESSEL_STATS_PROTO_IDB_EVENT_COUNT = 5;

// Display names of the counters, in index order (the show tools print them too).
inline constexpr std::array<const char *, TESSEL_PACKET_COUNTER_CLASS_COUNT> tessel_stats_packet_counter_class_names = {
    "Announce",   "Sync",       "Follow-Up",   "Delay-Req",
    "Delay-Resp", "Pdelay-Req", "Pdelay-Resp", "Pdelay-Resp-Follow-Up",
    "Signaling",  "Management", "Other",
};

inline constexpr std::array<const char *, TESSEL_PACKET_DROP_REASON_COUNT> tessel_stats_drop_reason_names = {
    "NotReady",
    "WrongDomain",
    "TooShort",
    "LoopedSamePort",
    "LoopedHigherPort",
    "LoopedLowerPort",
    "NoTimestamp",
    "ZeroTimestamp",
    "InvalidTLVs",
    "NotForUs",
    "NotListening",
    "WrongMaster",
    "UnknownMaster",
    "NotMaster",
    "NotSlave",
    "NotGranted",
    "TooSlow",
    "InvalidPacket",
    "WrongSequenceID",
    "NoOffloadSession",
    "NotSupported",
    "MinClockClass",
    "BadClockClass",
    "ReservedClockID",
    "StepsRemoved",
    "G8265_1Incompatible",
    "G8275_1Incompatible",
    "G8275_2Incompatible",
    "IncorrectAddress",
    "NonNegotiated",
    "VerifyChecksumFailed",
    "IPV4VerifyChecksum",
};

inline constexpr std::array<const char *, TESSEL_STATS_PROTO_IDB_EVENT_COUNT> tessel_stats_proto_idb_event_names = {
    "Ready transitions", "Ready updates", "BMC state changes", "Chkpt updates", "Chkpt update fails",
};

inline constexpr std::array<const char *, TESSEL_STATS_IPC_IDB_EVENT_COUNT> tessel_stats_ipc_idb_event_names = {
    "Thread updates",
    "Added to IM Ethernet attribute register batch",
    "Added to IM UDP attribute register batch",
    "Added to IM Ethernet attribute unregister batch",
    "Added to IM UDP attribute unregister batch",
    "Added to if handle get batch",
    "Failed to update IPv4 address structure",
    "Received IM attribute notifications",
    "Apply called for interface enable",
    "Verify called for interface enable",
    "Apply called for interface config",
    "Verify called for interface config",
};

inline constexpr std::array<const char *, TESSEL_NODE_EVENT_COUNT> tessel_stats_node_event_names = {
    "Local clock changes",
    "Port num allocs",
    "Port num alloc fails",
    "Port num frees",
    "Global chkpt updates",
    "Global chkpt update fails",
    "X-thread if update batches",
    "X-thread EDM requests",
    "X-thread msg errors",
    "Unbinded from IM",
    "Binded to IM",
    "Failed to bind to IM",
    "Obtained the IM context from the Conn ID",
    "Failed to obtain the IM context from the Conn ID",
    "Registered IM notify callback function",
    "Failed to register IM notify callback function",
    "Got a batch of interface handles",
    "Failed to get a batch of interface handles",
    "Registered a batch for IM notifications",
    "Failed to register a batch for IM notifications",
    "Received a batch of IM notifications",
    "Received a verify batch",
    "Received an apply batch",
    "Received a notify batch",
    "Node BMC change",
    "Sent time message",
};

// A counter block: sent, received and dropped by class (132 bytes, no padding).
struct tessel_packet_counters_type {
    uint32_t sent[TESSEL_PACKET_COUNTER_CLASS_COUNT];
    uint32_t received[TESSEL_PACKET_COUNTER_CLASS_COUNT];
    uint32_t dropped[TESSEL_PACKET_COUNTER_CLASS_COUNT];
};
static_assert(sizeof(tessel_packet_counters_type) == 132);

// The node's event counters: the IPC-thread totals, the protocol-thread totals, the node events.
struct tessel_node_event_counters_type {
    uint32_t ipc_idb[TESSEL_STATS_IPC_IDB_EVENT_COUNT];
    uint32_t proto_idb[TESSEL_STATS_PROTO_IDB_EVENT_COUNT];
    uint32_t node[TESSEL_NODE_EVENT_COUNT];
};
static_assert(sizeof(tessel_node_event_counters_type) == 43 * 4);

// Window name, version and sizes.
inline constexpr const char *TESSEL_STATS_SHMWIN_NAME = "ptp";
inline constexpr uint32_t TESSEL_STATS_SHMEM_VERSION = 6;
inline constexpr uint32_t TESSEL_STATS_SHMEM_HDR_SIZE = 296;
inline constexpr uint32_t TESSEL_STATS_INTF_ENTRY_SIZE = 192;
inline constexpr uint32_t TESSEL_STATS_PEER_ENTRY_SIZE = 184;

// ---- Window and node counters --------------------------------------------------------------

// Opens or joins the window (protocol thread, at port-manager init). Without a window every
// later packet-counter call finds no interface entries; event counters still work.
zerrno tessel_stats_init();
// Closes the window; every interface entry must be gone.
void tessel_stats_close();
// The window service's version check for the window "ptp".
zerrno tessel_stats_shmem_check_version(shmwin_handle_type win, void *hdr, uint32_t found_version, void *context);

void tessel_stats_increment_packet_drop_reason(uint32_t reason, uint32_t amount);
void tessel_stats_clear_node_packet_counters();
// Null while there is no window.
const tessel_packet_counters_type *tessel_stats_get_node_packet_counters();
const uint32_t *tessel_stats_get_node_drop_reasons();
tessel_node_event_counters_type *tessel_stats_get_node_event_counters();

void tessel_stats_increment_node_event_counter(uint32_t type);
void tessel_stats_clear_node_event_counters();
void tessel_stats_increment_ipc_idb_event_counter(tessel_ipc_idb_type *idb, uint32_t type);
void tessel_stats_clear_ipc_idb_event_counters(tessel_ipc_idb_type *idb);

// ---- Protocol-thread interface records --------------------------------------------------------

// Attaches the interface's window entry (the one already there for its handle, or a new one).
zerrno tessel_stats_intf_create_stats_entry(tessel_proto_idb_type *idb);
void tessel_stats_delete_intf_stats_entry(tessel_proto_idb_type *idb);
void tessel_stats_increment_packet_counter(tessel_proto_idb_type *idb, const ptp_address_type *peer,
                                           uint32_t counter_class, uint32_t direction, uint32_t amount);
void tessel_stats_increment_packet_drop_counter(tessel_proto_idb_type *idb, uint32_t counter_class, uint32_t amount);
// Zeroes the interface's counters and its peers'; drops the peers that are neither a unicast
// peer nor a foreign master of the port any more.
void tessel_stats_clear_if_packet_counters(tessel_proto_idb_type *idb);
void tessel_stats_increment_proto_idb_event_counter(tessel_proto_idb_type *idb, uint32_t type);
void tessel_stats_clear_proto_idb_event_counters(tessel_proto_idb_type *idb);
// After the checkpoint recovery rebuilt the protocol thread's records: re-attach their entries
// and drop the entries of interfaces that are gone.
void tessel_stats_recover_after_restart();

// ---- Window entries (used by the record operations above and by operational data) -----------

tessel_stats_intf_entry_type *tessel_stats_intf_entry_find(ifhtype ifhandle);
zerrno tessel_stats_intf_entry_create(ifhtype ifhandle, tessel_stats_intf_entry_type **out_entry);
void tessel_stats_intf_entry_delete(tessel_stats_intf_entry_type *entry);
ifhtype tessel_stats_intf_entry_ifhandle(const tessel_stats_intf_entry_type *entry);
tessel_packet_counters_type *tessel_stats_intf_entry_counters(tessel_stats_intf_entry_type *entry);
// Counts on the interface, its peer (created when new) and the node; nothing without a peer entry.
void tessel_stats_intf_entry_count_packet(tessel_stats_intf_entry_type *entry, const ptp_address_type *peer,
                                          uint32_t counter_class, uint32_t direction, uint32_t amount);
void tessel_stats_intf_entry_count_drop(tessel_stats_intf_entry_type *entry, uint32_t counter_class, uint32_t amount);
// The peer's counter block, or null.
tessel_packet_counters_type *tessel_stats_peer_counters(tessel_stats_intf_entry_type *entry,
                                                        const ptp_address_type *peer);
uint32_t tessel_stats_peer_count(tessel_stats_intf_entry_type *entry);
// Every peer of the interface's entry, in address order; fn returns true to go on.
using tessel_stats_peer_walk_fn = bool (*)(const ptp_address_type *peer, const tessel_packet_counters_type *counters,
                                           void *context);
void tessel_stats_peer_walk(tessel_stats_intf_entry_type *entry, tessel_stats_peer_walk_fn fn, void *context);
// Zeroes every peer block, deletes the peers keep() refuses, then zeroes the interface block.
using tessel_stats_keep_peer_fn = bool (*)(const ptp_address_type *peer, void *context);
void tessel_stats_intf_entry_clear(tessel_stats_intf_entry_type *entry, tessel_stats_keep_peer_fn keep, void *context);
// Every interface entry of the window, in handle order; fn returns true to go on. fn may delete
// the entry it is given.
using tessel_stats_intf_entry_walk_fn = bool (*)(tessel_stats_intf_entry_type *entry, void *context);
void tessel_stats_intf_entry_walk(tessel_stats_intf_entry_walk_fn fn, void *context);
// Deletes every per-peer entry of the interface and its per-peer tree.
void tessel_stats_delete_peer_packet_counters(tessel_stats_intf_entry_type *entry);

// Recovery: the window stays marked inconsistent from begin to end; re-attach hands an entry's
// per-peer tree this process's comparator.
void tessel_stats_recovery_begin();
void tessel_stats_recovery_end();
void tessel_stats_intf_entry_reattach(tessel_stats_intf_entry_type *entry);

// Removes and frees, in the window, every entry of a window tree for which walker returns true.
using tessel_stats_delete_tree_walker_type = bool (*)(void *element, void *context);
void tessel_stats_check_delete_tree_entries(void *tree, tessel_stats_delete_tree_walker_type walker, void *context);
