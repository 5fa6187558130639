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

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "evm.h"
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

// The daemon that serves the database cannot be reached (errno in the low bits).
inline constexpr zerrno NODRA_ERR_UNREACHABLE = zerr_make(NODRA_ZERR_FACILITY, 5);
// The store could not be read or written; nothing of the request was kept.
inline constexpr zerrno NODRA_ERR_STORE = zerr_make(NODRA_ZERR_FACILITY, 6, 5 /*EIO*/);
// The daemon did not answer within the platform's time-out (sockmsg_timeout_ms). A commit
// may still be carried out: nodra_commit_status and the stored configuration tell.
inline constexpr zerrno NODRA_ERR_TIMEOUT = zerr_make(NODRA_ZERR_FACILITY, 7, 110 /*ETIMEDOUT*/);
// An apply callback's answer: this item's apply completes later, through nodra_resume_apply.
inline constexpr zerrno NODRA_ERR_APPLY_PENDING = zerr_make(NODRA_EDM_ZERR_FACILITY, 9);
// An operational request that carries an option the provider does not take.
inline constexpr zerrno NODRA_ERR_EDM_OPTION = zerr_make(NODRA_EDM_ZERR_FACILITY, 2);
// An operational handler's answer: the reply follows later, through nodra_edm_resume.
inline constexpr zerrno NODRA_EDM_IN_PROGRESS = 115;

static_assert(NODRA_ERR_NOT_FOUND == 0x40818600u);
static_assert(NODRA_ERR_APPLY_PENDING == 0x40829200u);
static_assert(NODRA_ERR_EDM_OPTION == 0x40828400u);
static_assert(NODRA_ERR_NFN_NO_LIBRARY == 0x40818800u);
static_assert(NODRA_ERR_BIND_NO_LIBRARY == 0x8081c200u);
static_assert(NODRA_ERR_EDM_NOT_FOUND == 0x40828600u);

struct nodra_conn_td;     // a binding
struct nodra_list_td;     // the names of one listing
struct nodra_datalist_td; // the entries (name and value) of one data listing

// The longest item path the database stores, in bytes: a commit naming a longer one is refused.
inline constexpr size_t NODRA_ITEM_PATH_MAX = 1024;

// Value types of items.
inline constexpr uint32_t NODRA_ITEM_DATATYPE_UINT32 = 1; // 4 bytes, host order
inline constexpr uint32_t NODRA_ITEM_DATATYPE_STRING = 2; // the text's bytes
inline constexpr uint32_t NODRA_ITEM_DATATYPE_NAME = 3;   // a list entry's name
inline constexpr uint32_t NODRA_ITEM_DATATYPE_PACKED = 5; // a packed tuple (tuple.h)
inline constexpr uint32_t NODRA_ITEM_DATATYPE_BAG = 7;    // an encoded bag (bag.h)

// Configuration event bits. Each item event carries exactly one: a new item Create (no old
// value), a changed item Set (old and new value), a removed item Delete (old value only); the
// items a registration replays when it is made come as Create. Never Create and Set together, so a
// handler that stores a value takes either bit as "the item has this value".
inline constexpr uint32_t NODRA_EVENT_CREATE = 1;
inline constexpr uint32_t NODRA_EVENT_SET = 2;
inline constexpr uint32_t NODRA_EVENT_DELETE = 4;

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

// ---------------------------------------------------------------------------------------------
// The database's own calls: items, operational reads, configuration commits and registrations.
//
// Items live in the platform daemon (nodra_service.h), reached over its socket (sockmsg.h,
// plat_socket_path()). "&&" in a bind path stands for this node's path "node/<id in lower-case
// hex>" (the id from $PTP_NODE_ID, hexadecimal; 0 when unset).

zerrno nodra_bind(nodra_conn_td **conn, const char *path, uint32_t mode);
zerrno nodra_unbind(nodra_conn_td *conn);
// The absolute path a binding stands for ("&&" expanded).
const char *nodra_conn_path(const nodra_conn_td *conn);

// Reads one item (bind path + path; empty for the bound path itself). *type is in/out (the
// caller's expected type is not checked). *data is allocated; the caller frees it with free().
// An operational item is asked of its provider.
zerrno nodra_item_get(nodra_conn_td *conn, const char *path, uint32_t *type, void **data, uint32_t *length,
                      uint32_t flags);
// Writes an action item: handed to the operational provider of the path (its set callback).
zerrno nodra_item_set(nodra_conn_td *conn, const char *path, uint32_t type, const void *data, uint32_t length,
                      uint32_t flags);
// Every entry directly below path with its value. *count is out only. No entries:
// NODRA_ERR_NOT_FOUND (or the provider's NODRA_ERR_EDM_NOT_FOUND).
zerrno nodra_datalist(nodra_conn_td *conn, const char *path, const char *pattern, uint32_t *count,
                      nodra_datalist_td **list, uint32_t flags);
// The next entry: its name, type and value, valid until nodra_datalist_free. Past the last:
// NODRA_ERR_NOT_FOUND.
zerrno nodra_datalist_next(nodra_datalist_td *list, const char **name, uint32_t *type, const void **data,
                           uint32_t *length, uint32_t flags);
void nodra_datalist_free(nodra_datalist_td *list);

// ---- configuration events --------------------------------------------------------------------

// One item as a verify, apply or notify callback sees it. Pointers stay valid for the call (for a
// parked apply, until nodra_resume_apply).
struct nodra_event_info_td {
    const char *path;     // relative to the registration's binding
    uint32_t event;       // NODRA_EVENT_*
    uint32_t datatype;    // NODRA_ITEM_DATATYPE_*
    const void *old_data; // null: no old value
    uint32_t old_length;
    const void *new_data; // null: no new value (a delete)
    uint32_t new_length;
    uint32_t sequence; // the commit's sequence number
    uint32_t index;    // from 1
    uint32_t count;    // items in the batch
    uint32_t batch;    // notifications: 1 on the batch's last item
    uint32_t registration;
};
using nodra_verify_event_info_td = nodra_event_info_td;
using nodra_notify_event_info_td = nodra_event_info_td;

// A verify callback's record of its outcome (the item checks write 1 on success, 0 on failure);
// the returned code is what decides the commit.
inline constexpr uint32_t NODRA_VERIFY_RESULT_PASS = 1;
inline constexpr uint32_t NODRA_VERIFY_RESULT_FAIL = 0;
struct nodra_verify_result_td {
    uint32_t result;
};

struct nodra_abort_info_td {
    uint32_t sequence;
    uint32_t registration;
};

// A verify callback returns 0 or the failure's code with a malloc'ed text in *error_text (the
// database frees it). An apply callback returns 0, a warning code, or NODRA_ERR_APPLY_PENDING.
using nodra_vrfn_verify_fn = zerrno (*)(const nodra_verify_event_info_td *event, char **error_text,
                                        nodra_verify_result_td *result, void *context);
using nodra_vrfn_apply_fn = zerrno (*)(const nodra_verify_event_info_td *event, void *context);
using nodra_vrfn_abort_fn = void (*)(const nodra_abort_info_td *abort, void *context);

struct nodra_vrfn_fns_td {
    nodra_vrfn_verify_fn verify;
    nodra_vrfn_apply_fn apply;
    nodra_vrfn_abort_fn abort;
};
zerrno nodra_vrfn_fns_init(nodra_vrfn_fns_td *fns);
zerrno nodra_vrfn_fns_verify_init(nodra_vrfn_fns_td *fns, nodra_vrfn_verify_fn fn);
zerrno nodra_vrfn_fns_apply_init(nodra_vrfn_fns_td *fns, nodra_vrfn_apply_fn fn);
zerrno nodra_vrfn_fns_abort_init(nodra_vrfn_fns_td *fns, nodra_vrfn_abort_fn fn);

// Verification and apply of the items matching any of the patterns (relative to the binding;
// ".*" stands for one or more elements, "a|b" for either name, a trailing "/" for the subtree).
// Of one client's registrations that match an item, the most specific takes it. Callbacks run on
// the event manager `context` (which they get as their context). Batches go out in increasing
// `order` (ties: registration order). events is a mask of NODRA_EVENT_*; flags and options are
// recorded only. The registration replays every matching item to the apply callback (as
// creates) before it returns.
zerrno nodra_register_verification4(nodra_conn_td *conn, const char *const *paths, uint32_t path_count, uint32_t events,
                                    const nodra_vrfn_fns_td *fns, void *context, uint32_t flags, int32_t order,
                                    uint32_t options, uint32_t *registration);
zerrno nodra_verification_unregister(uint32_t registration);
// Whether another batch of this commit still comes to this process.
zerrno nodra_verification_batch_follows(uint32_t sequence, bool *follows);
// Completes an apply that answered NODRA_ERR_APPLY_PENDING with its result: the batch's remaining
// items follow, and the database records the batch's completion with the result and the warnings
// of the items after it (nodra_commit_status).
zerrno nodra_resume_apply(const nodra_verify_event_info_td *event, zerrno result);

// A notification callback, on the registration's event manager, once per item.
using nodra_notify_fn = zerrno (*)(const nodra_notify_event_info_td *event, void *context, const void *parse_data);
// Notification of committed changes of the items matching pattern, with the events in `events`;
// options, flags recorded only. Replays the matching items (as creates) before it returns.
zerrno _nodra_register_notification(nodra_conn_td *conn, const char *pattern, uint32_t events, uint32_t options,
                                    nodra_notify_fn callback, event_mgr_type *evm, void *context,
                                    const void *parse_data, uint32_t flags, uint32_t *registration);
zerrno nodra_register_notification(nodra_conn_td *conn, const char *pattern, uint32_t events, uint32_t options,
                                   nodra_notify_fn callback, event_mgr_type *evm, void *context, const void *parse_data,
                                   uint32_t flags, uint32_t *registration);
zerrno nodra_notification_unregister(uint32_t registration);

// The whole batch of a notification, for callbacks that act once per batch (at its last item,
// batch flag set): called from the notification callback with the event it was given, it copies
// the items of that batch (this registration's items of one commit, in order) into a list that
// stays valid until freed. An event that is not one being delivered: NODRA_ERR_NOT_FOUND.
struct nodra_notify_batch_td;
zerrno nodra_notify_batch_list_create(const nodra_notify_event_info_td *event, nodra_notify_batch_td **list);
// (Re)starts the reading at the first item.
zerrno nodra_notify_batch_list_start(nodra_notify_batch_td *list);
// The next item, valid until the list is freed. Past the last: NODRA_ERR_NOT_FOUND.
zerrno nodra_notify_batch_list_next(nodra_notify_batch_td *list, const nodra_notify_event_info_td **item);
zerrno nodra_notify_batch_list_free(nodra_notify_batch_td *list);

// ---- operational data ------------------------------------------------------------------------

// One request to a provider. The handler answers get with nodra_edm_reply_set, list and datalist
// by building the list; it returns 0, a code, or NODRA_EDM_IN_PROGRESS and answers later with
// nodra_edm_resume (the request stays valid until then).
struct nodra_edm_request_td {
    uint32_t op;         // 1 get, 2 list, 3 datalist, 4 set
    const char *path;    // relative to the registration's binding
    const char *pattern; // list and datalist
    uint32_t options;    // list and datalist options (0x20: plain walk)
    // List and data list: at most max_count entries (0: no limit); a provider that has more
    // sets the more flag and stops, and is asked again with start_key, the last name it gave
    // (null: from the start). The page starts after start_key (one that repeats it is tolerated).
    uint32_t max_count;
    const char *start_key;
    uint32_t set_type; // set: the value written
    const void *set_data;
    uint32_t set_length;
    const void *item_table; // as registered
    uint32_t registration;
    void *internal; // the database's own
};
using nodra_edm_fn = zerrno (*)(nodra_edm_request_td *request, void *context);
struct nodra_edm_fns_td {
    nodra_edm_fn get;
    nodra_edm_fn list;
    nodra_edm_fn datalist;
    nodra_edm_fn set;
};
zerrno nodra_edm_fns_init(nodra_edm_fns_td *fns);
zerrno nodra_edm_fns_get_init(nodra_edm_fns_td *fns, nodra_edm_fn fn);
zerrno nodra_edm_fns_list_init(nodra_edm_fns_td *fns, nodra_edm_fn fn);
zerrno nodra_edm_fns_datalist_init(nodra_edm_fns_td *fns, nodra_edm_fn fn);
zerrno nodra_edm_fns_set_init(nodra_edm_fns_td *fns, nodra_edm_fn fn);
// Provides the items matching pattern below the binding (empty: everything below it). Requests
// reach the provider with the longest matching binding; callbacks run on evm.
zerrno nodra_register_edm2(nodra_conn_td *conn, const char *pattern, const nodra_edm_fns_td *fns, event_mgr_type *evm,
                           const void *item_table, uint32_t flags, uint32_t *registration);
zerrno nodra_edm_unregister(uint32_t registration);
// A get's answer (copied).
zerrno nodra_edm_reply_set(nodra_edm_request_td *request, uint32_t type, const void *data, uint32_t length);
zerrno nodra_edm_list_create(nodra_edm_request_td *request);
zerrno nodra_edm_list_add(nodra_edm_request_td *request, const char *name, uint32_t type);
zerrno nodra_edm_list_set_more_flag(nodra_edm_request_td *request);
zerrno nodra_edm_datalist_create(nodra_edm_request_td *request);
zerrno nodra_edm_datalist_add(nodra_edm_request_td *request, const char *name, uint32_t type, const void *data,
                              uint32_t length);
zerrno nodra_edm_datalist_set_more_flag(nodra_edm_request_td *request);
// Answers a request whose handler returned NODRA_EDM_IN_PROGRESS. Any thread.
zerrno nodra_edm_resume(nodra_edm_request_td *request, zerrno result);

// A provider's notification: the item below the binding, its event kind, and its value.
struct nodra_edm_notification_td {
    const char *item;
    uint32_t kind;
    uint32_t type;
    const void *data;
    uint32_t length;
};
zerrno nodra_edm_generate_notifications(nodra_conn_td *conn, const nodra_edm_notification_td *records, uint32_t count);

// ---- commits (the operator's side) -----------------------------------------------------------

struct nodra_commit_td; // the operations of one commit

struct nodra_commit_issue_td {
    std::string path; // absolute
    zerrno code;
    std::string text;
};

inline constexpr uint32_t NODRA_COMMIT_RESULT_APPLIED = 0;
inline constexpr uint32_t NODRA_COMMIT_RESULT_PENDING = 1; // applied; an apply completes later
inline constexpr uint32_t NODRA_COMMIT_RESULT_REJECTED = 2;

struct nodra_commit_result_td {
    uint32_t sequence;
    uint32_t outcome;
    std::vector<nodra_commit_issue_td> failures; // rejected: every failing item
    std::vector<nodra_commit_issue_td> warnings; // applied: items whose apply reported a code
};

zerrno nodra_commit_create(nodra_commit_td **commit);
// Absolute item paths; a later operation on the same path replaces an earlier one.
zerrno nodra_commit_set(nodra_commit_td *commit, const char *path, uint32_t type, const void *data, uint32_t length);
zerrno nodra_commit_delete(nodra_commit_td *commit, const char *path);
uint32_t nodra_commit_count(const nodra_commit_td *commit);
// Verifies, stores, applies and notifies; the commit's operations are kept (free it after).
zerrno nodra_commit_apply(nodra_commit_td *commit, nodra_commit_result_td *result);
void nodra_commit_free(nodra_commit_td *commit);
// The outcome of a recent commit (the last 64) as it stands now: PENDING while an apply it parked
// has not been resumed, then APPLIED, its warnings joined by those of the resumed batches (a
// resume with a non-zero result is a warning of that item). NODRA_ERR_NOT_FOUND when unknown.
zerrno nodra_commit_status(uint32_t sequence, nodra_commit_result_td *result);

struct nodra_config_item_td {
    std::string path;
    uint32_t type;
    std::string value;
};
// The committed configuration items whose paths start with prefix, in path order.
zerrno nodra_config_show(const char *prefix, std::vector<nodra_config_item_td> *items);
