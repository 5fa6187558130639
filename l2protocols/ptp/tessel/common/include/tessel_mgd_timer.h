// The protocol thread's managed timers: one managed-timer tree on the thread's event manager,
// parents that group leaves, and leaves that each carry a handler and a context. Expired leaves
// run in slices of at most TESSEL_MGD_TIMER_BATCH per event, so that a burst of expiries cannot
// starve the thread's other events. Users start and stop leaves directly with
// mgd_timer_leaf_start and mgd_timer_leaf_stop. Protocol thread only.
#pragma once

#include <cstdint>

#include "evm.h"
#include "mgd_timer.h"
#include "zerrno.h"

// A leaf's handler, called with the leaf's context once the leaf has expired (and been stopped).
// It may restart or free its own leaf.
using tessel_mgd_timer_handler_fn_type = void (*)(void *context);

inline constexpr uint32_t TESSEL_MGD_TIMER_BATCH = 100;
inline constexpr int32_t TESSEL_MGD_TIMER_EVENT_CLASS = 128;

// Attaches the expiry event to the protocol thread's event manager and creates the tree on it.
zerrno tessel_mgd_timer_init(event_mgr_type *evm);
// Frees the tree (with anything still in it) and detaches the event; nothing when not started.
void tessel_mgd_timer_shutdown();

// A parent under `parent`, or under the tree when parent is null. name is used in error reports.
zerrno tessel_mgd_timer_parent_new(mgd_timer_parent *parent, const char *name, mgd_timer_parent **out);
void tessel_mgd_timer_parent_free(mgd_timer_parent *parent);

// A stopped leaf under `parent` (null: the tree) with its handler and context.
zerrno tessel_mgd_timer_leaf_new(mgd_timer_parent *parent, tessel_mgd_timer_handler_fn_type handler, void *context,
                                 const char *name, mgd_timer_leaf **out);
void tessel_mgd_timer_leaf_free(mgd_timer_leaf *leaf);

// The expiry event's handler.
int tessel_mgd_timer_process(const event_async_ctx_type *event, int32_t value, void *context);
