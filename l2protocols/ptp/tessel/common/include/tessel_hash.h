// General-purpose chained hash table. Entries are embedded in the caller's records: a node is
// two links followed directly by the key bytes. The table never copies keys and allocates only
// its own record and the bucket array, so insert and remove never allocate (except on resize).
//
// Results of create are plain errno values (0, EINVAL, ENOMEM). No locking: a table belongs to
// one thread.
#pragma once

#include <cstddef>
#include <cstdint>

// A hash node; the key bytes (key length of the table) stand directly behind it.
struct ptp_hash_node_type {
    ptp_hash_node_type *next;   // next node of the same bucket chain
    ptp_hash_node_type **pprev; // the link that points here; non-null exactly while in a table
};
static_assert(sizeof(ptp_hash_node_type) == 16);

// Hash of a key into [0, bucket count).
using ptp_hash_fn_type = uint64_t (*)(const void *key, uint32_t bucket_count, void *context);
// Called by empty/destroy on each node once it is unlinked; may free the node's record.
using ptp_hash_table_walker_fn = void (*)(ptp_hash_node_type *node, void *context);
// Called by walk on each node (the node stays linked and must not be removed).
using ptp_hash_table_walk_fn = void (*)(ptp_hash_node_type *node, void *context);

inline constexpr uint8_t PTP_HASH_TABLE_OWNS_CONTEXT = 0x01;

struct ptp_hash_table_type {
    uint32_t resizable; // 1 = grows and shrinks with the load
    uint16_t initial_buckets;
    uint16_t max_buckets;
    uint16_t cur_buckets;
    uint32_t entry_count;
    ptp_hash_fn_type hash;
    void *context;
    uint32_t key_len;
    uint8_t flags; // PTP_HASH_TABLE_OWNS_CONTEXT
    ptp_hash_node_type **buckets;
};
using ptp_hash_table_h_type = ptp_hash_table_type *;

// The key bytes of a node.
inline const void *ptp_hash_node_key(const ptp_hash_node_type *node)
{
    return reinterpret_cast<const uint8_t *>(node) + sizeof(ptp_hash_node_type);
}

// Creates a table. EINVAL when initial is 0 or not below maximum, or when no hash is given and
// key_len is not 4; ENOMEM when an allocation fails (nothing is left allocated). Without a hash
// function the interface-handle hash is used (key_len 4, no context).
int ptp_hash_table_create(uint32_t resizable, uint16_t initial_buckets, uint16_t max_buckets, ptp_hash_fn_type hash,
                          void *context, uint32_t key_len, ptp_hash_table_h_type *out_table);

// The default hash: the 32-bit interface handle at key into a power-of-two bucket count.
uint64_t ptp_hash_table_default_hash(const void *key, uint32_t bucket_count, void *context);

// Puts the node at the head of its bucket chain (the node must not be in a table).
void ptp_hash_table_insert(ptp_hash_table_h_type table, ptp_hash_node_type *node);
// The first node whose key bytes equal key, or null.
ptp_hash_node_type *ptp_hash_table_lookup(ptp_hash_table_h_type table, const void *key);
// Unlinks a node that is in the table.
void ptp_hash_table_remove(ptp_hash_table_h_type table, ptp_hash_node_type *node);
// Frees the table (and an owned context) whatever entries remain; null is accepted.
void ptp_hash_table_free(ptp_hash_table_h_type table);
// Calls fn(node, context) for every node, bucket by bucket, chain order inside a bucket.
void ptp_hash_table_walk(ptp_hash_table_h_type table, ptp_hash_table_walk_fn fn, void *context);
// Unlinks every node (no resize) and hands each to walker, which may free it.
void ptp_hash_table_empty(ptp_hash_table_h_type table, ptp_hash_table_walker_fn walker, void *context);
// ptp_hash_table_empty, then ptp_hash_table_free.
void ptp_hash_table_destroy(ptp_hash_table_h_type table, ptp_hash_table_walker_fn walker, void *context);
