// Configuration and operational database: items at text paths under "/cfg/..." and "/oper/...".
//
// A client binds a subtree (a path ending in "/") and names everything else relative to it.
// Listing a path gives the names of the entries directly below it, in byte order.
//
// Before any database call a client checks that the database client library is readable
// (access() of nodra_client_library_path() for reading); while it is not, a bind is not made and
// fails with NODRA_ERR_BIND_NO_LIBRARY, a notification registration with NODRA_ERR_NFN_NO_LIBRARY.
//
// Results are zerrno values. Calls may come from any thread; a connection or a list handle is
// used by one thread at a time.
#pragma once

#include <cstdint>

#include "zerrno.h"

inline constexpr uint32_t NODRA_ZERR_FACILITY = 0x103;
inline constexpr uint32_t NODRA_EDM_ZERR_FACILITY = 0x105;

inline constexpr zerrno NODRA_ERR_INVALID = zerr_make(NODRA_ZERR_FACILITY, 1, 22 /*EINVAL*/);
inline constexpr zerrno NODRA_ERR_NO_MEMORY = zerr_make(NODRA_ZERR_FACILITY, 2, 12 /*ENOMEM*/);
// The path or item does not exist (also: a list with no entries, a list read past its end).
inline constexpr zerrno NODRA_ERR_NOT_FOUND = zerr_make(NODRA_ZERR_FACILITY, 3);
// A notification registration refused by a client whose library is absent.
inline constexpr zerrno NODRA_ERR_NFN_NO_LIBRARY = zerr_make(NODRA_ZERR_FACILITY, 4);
// A bind refused by a client whose library is absent (two top bits 2, not 1).
inline constexpr zerrno NODRA_ERR_BIND_NO_LIBRARY = 0x80000000u | (NODRA_ZERR_FACILITY << 15) | (33u << 9);
// An operational-data provider's answer that the item does not exist.
inline constexpr zerrno NODRA_ERR_EDM_NOT_FOUND = zerr_make(NODRA_EDM_ZERR_FACILITY, 3);

static_assert(NODRA_ERR_NOT_FOUND == 0x40818600u);
static_assert(NODRA_ERR_NFN_NO_LIBRARY == 0x40818800u);
static_assert(NODRA_ERR_BIND_NO_LIBRARY == 0x8081c200u);
static_assert(NODRA_ERR_EDM_NOT_FOUND == 0x40828600u);

struct nodra_conn_td; // a binding
struct nodra_list_td; // the names of one listing

// The database client library file whose readability guards every database call:
// $PTP_NODRA_LIB when set and not empty, else "/pkg/lib/libnodra.so" (a test may override both).
// The text stays valid until the next override.
const char *nodra_client_library_path();

// Binds the absolute path `path` (it must start and end with "/"). mode is recorded only.
zerrno _nodra_bind(nodra_conn_td **conn, const char *path, uint32_t mode);
// Releases a binding. Lists made through it stay valid until freed.
zerrno _nodra_unbind(nodra_conn_td *conn);

// Lists the names of the entries directly below path (relative to the bind path; empty or null
// for the bind path itself; a missing final "/" is implied). pattern: null or empty for every
// name, else a shell pattern (fnmatch) the names must match. *count is out only; flags are
// recorded only. No entries: NODRA_ERR_NOT_FOUND with *count 0 and *list null. On success the
// caller frees *list with nodra_list_free.
zerrno nodra_list(nodra_conn_td *conn, const char *path, const char *pattern, uint32_t *count, nodra_list_td **list,
                  uint32_t flags);
// The next name of the list, valid until nodra_list_free. Past the last: NODRA_ERR_NOT_FOUND.
zerrno nodra_list_next(nodra_list_td *list, const char **name);
// Frees a list; null is ignored.
void nodra_list_free(nodra_list_td *list);
