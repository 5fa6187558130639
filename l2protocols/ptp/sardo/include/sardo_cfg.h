// The global verifier's configuration: its registrations with the database for the global PTP
// subtrees, the verify and apply batches through the schema of every global item, the count of
// applied items and the exit when the last one goes, and the rule of each item.
#pragma once

#include <cstdint>

#include "evm.h"
#include "nodra.h"
#include "nodra_backend.h"
#include "zerrno.h"

zerrno sardo_cfg_init(event_mgr_type *evm);
void sardo_cfg_shutdown(void);

// The database's callbacks of both registrations.
zerrno sardo_cfg_verify(const nodra_verify_event_info_td *event, char **error_text, nodra_verify_result_td *result,
                        void *context);
zerrno sardo_cfg_apply(const nodra_verify_event_info_td *event, void *context);
void sardo_cfg_abort(const nodra_abort_info_td *abort, void *context);

// Whether the process should exit after the batch of `sequence`: no PTP item applied, PTP not
// enabled, and no further batch of that commit to come. It then requests the exit itself.
bool sardo_cfg_exit_check(uint32_t sequence);

// The verified tree: every global item with its verify handler (and apply handler, where the
// item's state is tracked here).
const backend_schema_td *sardo_cfg_schema(void);

// One item of the tree as its schema holds it: its whole path below "/cfg/gl/" ("<s>" a text key,
// "<u>" a number key, "<ip>" an IP-address key), its value kind, the handler-row constant and the
// handlers.
struct sardo_cfg_item_type {
    const char *path;
    uint32_t kind;
    uint32_t bg_ident;
    backend_verify_fn verify;
    backend_verify_fn apply;          // called with no error text and no result
    const char *value_form = nullptr; // a tuple's, for the text that refuses a value of another kind
};
// The items in row order (row i of the schema is item i), derived from the schema's item table.
const sardo_cfg_item_type *sardo_cfg_items(uint32_t *count);
