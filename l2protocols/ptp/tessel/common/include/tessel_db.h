// The interface database: each agent thread keeps its interface records (IDBs) in one database,
// indexed twice: an ordered tree by interface name (name order for walks and resumable
// get-next) and a chained hash table by interface handle (the per-packet lookup).
//
// Every IDB kind begins with tessel_db_h_type, so a pointer to the header is a pointer to the
// IDB. Each database belongs to one thread; nothing here locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "avl2.h"
#include "ptp_types.h"
#include "ptp_zerr_codes.h"
#include "tessel_hash.h"
#include "zerrno.h"

// The databases return PTP_ZERR_NOMEM, PTP_ZERR_DB_ENTRY_EXISTS, PTP_ZERR_DB_NO_ENTRY and
// PTP_ZERR_DB_INIT.

inline constexpr size_t TESSEL_DB_IFNAME_SIZE = 64; // 63 characters and the terminating zero

// Hash table geometry of every interface database.
inline constexpr uint16_t TESSEL_DB_HASH_INITIAL_BUCKETS = 256;
inline constexpr uint16_t TESSEL_DB_HASH_MAX_BUCKETS = 16192;

// The header that stands first in every IDB.
struct tessel_db_h_type {
    avl2_node_type node; // name tree; the name stands directly behind it
    char ifname[TESSEL_DB_IFNAME_SIZE];
    ptp_hash_node_type hash; // handle hash; the handle stands directly behind it
    ifhtype ifhandle;        // 0 while the IDB is not indexed by handle
};
static_assert(offsetof(tessel_db_h_type, ifname) == sizeof(avl2_node_type));
static_assert(offsetof(tessel_db_h_type, ifhandle) == offsetof(tessel_db_h_type, hash) + sizeof(ptp_hash_node_type));

struct tessel_db_info_type {
    avl2_tree_type tree;        // by ifname
    ptp_hash_table_h_type hash; // by ifhandle
    uint32_t count;             // IDBs in the name tree
    const char *name;           // "IPC Thread", "Protocol Thread"
};

// Called for each IDB of a walk; returns true to go on (only heeded on a walk from the start).
using tessel_db_walk_fn = bool (*)(void *idb, void *context);

zerrno tessel_db_init(tessel_db_info_type *db);
// Allocates a zeroed record of record_size bytes (>= the header), names it (cut to 63
// characters) and puts it in the name tree; it is not yet indexed by handle.
zerrno tessel_db_create(const char *ifname, size_t record_size, tessel_db_info_type *db, void **out_idb);
// Indexes the IDB by handle; a handle already indexed (by this IDB) changes nothing.
void tessel_db_add_ifhandle(ifhtype ifhandle, tessel_db_info_type *db, tessel_db_h_type *header);
// Removes the IDB from the handle index (when there) and clears its handle.
void tessel_db_remove_ifhandle(tessel_db_info_type *db, tessel_db_h_type *header);
zerrno tessel_db_get_by_ifhandle(ifhtype ifhandle, tessel_db_info_type *db, void **out_idb);
zerrno tessel_db_get_by_ifname(const char *ifname, tessel_db_info_type *db, void **out_idb);
// Name-order walk. Without a start name the callback's result continues or stops the walk.
// With one, IDBs sorting before it are passed over, the IDB equal to it is passed over when
// skip_start is set (get-next), and every IDB from the first visited one on is visited.
void tessel_db_walk(tessel_db_walk_fn callback, void *context, const char *start_ifname, bool skip_start,
                    tessel_db_info_type *db);
// Unlinks and frees the IDB and sets *header to null.
void tessel_db_delete(tessel_db_h_type **header, tessel_db_info_type *db);
// Destroys an empty database.
void tessel_db_cleanup(tessel_db_info_type *db);

bool tessel_db_ipv4_addr_list_equal(const uint32_t *list_a, uint32_t count_a, const uint32_t *list_b, uint32_t count_b);
bool tessel_db_ipv6_addr_list_equal(const uint8_t (*list_a)[16], uint32_t count_a, const uint8_t (*list_b)[16],
                                    uint32_t count_b);
