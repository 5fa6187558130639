// Peer indices: a small node-wide number for every remote PTP node a port knows (a foreign
// master or a unicast peer). The pool is one bitmap for the node; the entries that hold the
// numbers live per port, keyed by the peer's address, and are shared by reference counting
// between a foreign master and a unicast peer with the same address on the same port. Entries
// survive a restart through their checkpoint records.
//
// Protocol thread only.
#pragma once

#include <cstdint>

#include "avl2.h"
#include "ptp_types.h"
#include "zerrno.h"

struct tessel_proto_idb_type;

using ptp_peer_index_type = uint16_t;

// Indices 1..65535; 0 is never given.
inline constexpr uint32_t TESSEL_PEER_INDEX_MAX = 65535;
inline constexpr uint32_t TESSEL_PEER_INDEX_BITMAP_WORDS = 2048;

// One row of a port's peer_index_tree.
struct tessel_peer_index_entry_type {
    avl2_node_type tree_link; // first: the row of the tree
    ptp_address_type address; // key
    ptp_peer_index_type peer_index;
    uint64_t chkpt_obj_id; // 0 while it has no checkpoint record
    uint8_t ref_count;     // users: the foreign master and/or the unicast peer of the address
};

// The pool: bit (i - 1) % 32 of word (i - 1) / 32 is index i; the next index to try.
extern uint32_t tessel_peer_index_bitmap[TESSEL_PEER_INDEX_BITMAP_WORDS];
extern uint32_t tessel_peer_index_hint;

// Tree order: address type, then Ethernet bytes, IPv4 as a 32-bit value as stored, IPv6 as a
// 128-bit big-endian number.
int tessel_peer_index_compare(const void *row_a, const void *row_b, void *context);

zerrno tessel_peer_index_idb_init(tessel_proto_idb_type *idb);
// The tree must be empty (its peers are deleted first).
void tessel_peer_index_idb_cleanup(tessel_proto_idb_type *idb);

// Takes a reference on the address's entry, creating it with a new index when there is none;
// PTP_ZERR_NOMEM when the pool is exhausted (PEER_INDEX_EXHAUST) or memory is short.
zerrno tessel_peer_index_acquire(tessel_proto_idb_type *idb, const ptp_address_type *addr);
// Drops one reference; the entry goes at 0.
void tessel_peer_index_release(tessel_proto_idb_type *idb, const ptp_address_type *addr);
// Reads the index without a reference; PTP_ZERR_NO_PEER_INDEX when there is none.
zerrno tessel_peer_index_get(tessel_proto_idb_type *idb, const ptp_address_type *addr, ptp_peer_index_type *out);

// Inserts an entry with ref_count 0 and marks its index used; an object id of 0 (a new entry)
// writes its checkpoint record.
zerrno tessel_peer_index_entry_create(tessel_proto_idb_type *idb, const ptp_address_type *addr,
                                      ptp_peer_index_type index, uint64_t chkpt_obj_id,
                                      tessel_peer_index_entry_type **out);
// Removes an entry whose ref_count is 0, with its checkpoint record.
void tessel_peer_index_delete(tessel_proto_idb_type *idb, tessel_peer_index_entry_type *entry);

// Re-creates an entry read from checkpoint (ref_count 0 until the sweep counts its users).
zerrno tessel_peer_index_restore(const char *ifname, const ptp_address_type *addr, ptp_peer_index_type index,
                                 uint64_t chkpt_obj_id);
// After recovery or a role change: every peer gets an index; on a primary agent every entry's
// ref_count becomes the number of its users, and entries without users go.
void tessel_peer_index_sweep(void);
// Drops one reference of every entry that holds one. Entries holding none (restored, not yet
// swept) are left to the sweep, which alone knows whether a peer uses them.
void tessel_peer_index_clear(void);

// Checkpoint records of entries (the agent's checkpoint code).
void tessel_chkpt_peer_index_update(tessel_proto_idb_type *idb, tessel_peer_index_entry_type *entry);
void tessel_chkpt_peer_index_delete(tessel_proto_idb_type *idb, tessel_peer_index_entry_type *entry);
