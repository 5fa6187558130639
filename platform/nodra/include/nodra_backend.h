// The database back-end: dispatches one item (a configuration event or an operational request)
// through a client's schema, a tree of path elements with a table of handler rows, to the row's
// handler, with the key parts of the path as key arguments (bgen_args.h).
//
// A schema's node table holds the tree. Node 0 is either an unnamed root (kind
// BACKEND_NODE_ROOT; the path's first element is matched against its children) or the first
// top-level node (the path's first element is matched against it and its siblings). A named node
// matches its name exactly; a key part (name null, kind the key's value type) matches any element
// and turns it into key argument k (k counting the key parts of the path from 0):
//   BGEN_ARG_STRING  the element's text; a key part without children takes the rest of the path
//                    (an interface name "Gi0/0/0/1" is one key);
//   BGEN_ARG_UINT    decimal or 0x hexadecimal, at most 0xffffffff;
//   BGEN_ARG_IPADDR  an IPv4 or IPv6 address text.
// A key part written "-" is absent (its bit in missing_mask set). So is every key level a path
// stops before: a path ending at a node without a row goes on through the node's key-part child,
// that key absent, until a node with a row. A named child is preferred over a key part.
//
// With BACKEND_SCHEMA_NAME_PREFIX (the interface schema) the path starts with a name of one or
// more elements that is everything before the schema's own elements: "Gi0/0/0/1/ptp/pi/enable"
// gives key 0 "Gi0/0/0/1" and the schema's key parts count from 1. Of the possible splits the
// first (shortest name) whose rest leads to a row is taken.
//
// Results of the dispatch itself, besides what the handler returns: NODRA_ERR_NOT_FOUND when no
// row answers the path (or the row has no handler for an operational request), NODRA_ERR_INVALID
// for a null argument, a key part that does not read as its type, or a value that is not of the
// row's value kind. A verify then also sets the result to NODRA_VERIFY_RESULT_FAIL and hands back
// a malloc'ed text naming the path.
#pragma once

#include <cstdint>
#include <string>

#include "bgen_args.h"
#include "nodra.h"
#include "zerrno.h"

inline constexpr uint32_t BACKEND_NODE_NAMED = 1;
inline constexpr uint32_t BACKEND_NODE_ROOT = 3;
// Key parts take their value type as kind: BGEN_ARG_STRING, BGEN_ARG_UINT, BGEN_ARG_IPADDR.

// Value kinds of a row. A create or set event must carry a value of the row's kind: a 4-byte
// NODRA_ITEM_DATATYPE_UINT32 (single), a STRING or NAME (name), a PACKED tuple (tuple).
// BACKEND_VALUE_NONE takes any value or none.
inline constexpr uint32_t BACKEND_VALUE_NONE = 0;
inline constexpr uint32_t BACKEND_VALUE_SINGLE = 1;
inline constexpr uint32_t BACKEND_VALUE_NAME = 3;
inline constexpr uint32_t BACKEND_VALUE_TUPLE = 5;

struct backend_node_td {
    const char *name;     // null for a key part
    uint32_t reserved;    // 0
    uint32_t kind;        // BACKEND_NODE_ROOT, BACKEND_NODE_NAMED, or a key part's BGEN_ARG_* type
    int32_t first_child;  // node index, -1 none
    int32_t next_sibling; // node index, -1 none
    int32_t row;          // handler row index, -1 none (an inner node)
    uint32_t key;         // 1 on key parts (recorded only: the kind decides)
    uint32_t container;   // 1 on inner nodes and the last key part, 2 on other key parts (recorded only)
};

// Configuration handlers. error_text: the handler may hand back a malloc'ed text (the caller
// frees it). result: null when a verify-form handler runs on the apply path.
using backend_verify_fn = zerrno (*)(const nodra_verify_event_info_td *event, char **error_text,
                                     nodra_verify_result_td *result, void *context, const bgen_args_td *args);
using backend_apply_fn = zerrno (*)(const nodra_verify_event_info_td *event, void *context, const bgen_args_td *args);
// A notify handler reports through its context (a result word, when its caller gives one).
using backend_notify_fn = void (*)(const nodra_notify_event_info_td *event, void *context, const bgen_args_td *args);
// Operational handlers: answer as a nodra_edm_fn handler does (nodra.h), the keys of the
// request's path in args.
using backend_edm_item_fn = zerrno (*)(nodra_edm_request_td *request, const bgen_args_td *args);

// One handler row; every handler may be null (the row then accepts the item and does nothing,
// except for operational requests, which get NODRA_ERR_NOT_FOUND). Rows are usually written with
// designated initialisers: {.kind = BACKEND_VALUE_SINGLE, .verify = ..., .apply = ...}.
struct backend_row_td {
    uint32_t kind = 0;     // BACKEND_VALUE_*
    uint32_t bg_ident = 0; // handed to the handler in args->bg_ident: which of its items a shared handler serves
    backend_verify_fn verify = nullptr;
    backend_apply_fn apply = nullptr;
    // An apply handler in the verify form, for schemas whose rows use one form for both slots;
    // called only when apply is null, with a null error text and result.
    backend_verify_fn apply_verify_form = nullptr;
    backend_notify_fn notify = nullptr;
    backend_edm_item_fn edm_get = nullptr;
    backend_edm_item_fn edm_list = nullptr;
    backend_edm_item_fn edm_datalist = nullptr;
    backend_edm_item_fn edm_set = nullptr;
    // How the row's value is written, for the text that refuses a value of another kind: a tuple's
    // fields ("(unit,value)"); null: the kind's own word.
    const char *value_form = nullptr;
};

inline constexpr uint32_t BACKEND_SCHEMA_NAME_PREFIX = 1;

struct backend_schema_td {
    const backend_node_td *nodes;
    uint32_t node_count;
    const backend_row_td *rows;
    uint32_t row_count;
    uint32_t flags; // BACKEND_SCHEMA_*
};

// The row that answers path (relative to the registration's binding) and its key arguments.
// Strings in *args point into *storage, which must outlive their use.
struct backend_path_storage_td {
    std::string text;
};
zerrno backend_lookup(const backend_schema_td *schema, const char *path, uint32_t *row, bgen_args_td *args,
                      backend_path_storage_td *storage);

// Verifies the item with its row's verify handler (none: passes).
zerrno backend_verifyonly(const backend_schema_td *schema, const nodra_verify_event_info_td *event, char **error_text,
                          nodra_verify_result_td *result, void *context);
// Applies the item with its row's apply handler (none: nothing to do); context is handed on
// (a client's per-batch state, say).
zerrno backend_apply(const backend_schema_td *schema, const nodra_verify_event_info_td *event, void *context);
// Hands the item to its row's notify handler with context (a result word, say).
zerrno backend_notify(const backend_schema_td *schema, const nodra_notify_event_info_td *event, void *context);
// A notification callback (nodra_notify_fn) for registrations whose parse data is the schema:
// backend_notify(parse_data, event, context).
zerrno backend_notification(const nodra_notify_event_info_td *event, void *context, const void *parse_data);

// Operational requests: the request's path through the schema to the row's handler.
zerrno backend_edm_get(const backend_schema_td *schema, nodra_edm_request_td *request);
zerrno backend_edm_list(const backend_schema_td *schema, nodra_edm_request_td *request);
zerrno backend_edm_datalist(const backend_schema_td *schema, nodra_edm_request_td *request);
zerrno backend_edm_set(const backend_schema_td *schema, nodra_edm_request_td *request);
// The same as operational callbacks (nodra_edm_fn) for registrations whose item table is the
// schema (nodra_register_edm2).
zerrno backend_edm_get_cb(nodra_edm_request_td *request, void *context);
zerrno backend_edm_list_cb(nodra_edm_request_td *request, void *context);
zerrno backend_edm_datalist_cb(nodra_edm_request_td *request, void *context);
zerrno backend_edm_set_cb(nodra_edm_request_td *request, void *context);
