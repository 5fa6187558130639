// Managed timers: trees of leaf timers grouped under parents, each leaf with a (seconds,
// nanoseconds) time-out and a context. A tree is created on an asynchronous event of an event
// manager (event_async_attach_event); when leaves expire the tree posts that event once, and its
// handler takes the expired leaves with mgd_timer_tree_first_expired (earliest first), stopping
// or restarting each one. A leaf that expired stays expired (first_expired returns it again)
// until it is stopped, restarted or freed. The tree posts again only when further leaves expire.
//
// Not thread-safe: a tree is used by the thread that serves its event's manager.
#pragma once

#include <cstdint>
#include <ctime>

#include "evm.h"
#include "zerrno.h"

struct mgd_timer_tree;
struct mgd_timer_parent;
struct mgd_timer_leaf;

inline constexpr unsigned MGD_TIMER_ADDL_CONTEXTS = 4;

inline constexpr uint32_t MGD_TIMERS_ZERR_FACILITY = 0x7f02; // shared with the timer wheels
inline constexpr zerrno MGD_TIMER_ERR_INVALID = zerr_make(MGD_TIMERS_ZERR_FACILITY, 10, 22 /*EINVAL*/);
inline constexpr zerrno MGD_TIMER_ERR_NOT_RUNNING = zerr_make(MGD_TIMERS_ZERR_FACILITY, 11, 2 /*ENOENT*/);
inline constexpr zerrno MGD_TIMER_ERR_NOT_EMPTY = zerr_make(MGD_TIMERS_ZERR_FACILITY, 12, 17 /*EEXIST*/);

// Create a tree on an attached asynchronous event (the record is copied). flags recorded only.
// Null with errno EINVAL (null record or no manager) / ENOMEM.
mgd_timer_tree *mgd_timer_tree_new(const event_async_ctx_type *event, uint32_t flags);
// Free the tree with every parent and leaf still in it (their handles become invalid). 0, or
// MGD_TIMER_ERR_NOT_EMPTY when parents or leaves were still there (freed all the same),
// MGD_TIMER_ERR_INVALID for null.
zerrno mgd_timer_tree_free(mgd_timer_tree *tree);
// Whether any leaf of the tree runs (expired leaves not yet stopped included).
bool mgd_timer_tree_running(const mgd_timer_tree *tree);
// The earliest expired leaf, or null.
mgd_timer_leaf *mgd_timer_tree_first_expired(mgd_timer_tree *tree);

// A parent under another parent, or directly under the tree when parent is null. Null with
// errno EINVAL / ENOMEM.
mgd_timer_parent *mgd_timer_parent_new(mgd_timer_tree *tree, mgd_timer_parent *parent);
// Free a parent with everything below it (as mgd_timer_tree_free). 0, MGD_TIMER_ERR_NOT_EMPTY,
// or MGD_TIMER_ERR_INVALID.
zerrno mgd_timer_parent_free(mgd_timer_parent *parent);

// A leaf (stopped) under a parent, or directly under the tree when parent is null, with its
// context. flags recorded only. Null with errno EINVAL / ENOMEM.
mgd_timer_leaf *mgd_timer_leaf_new(mgd_timer_tree *tree, mgd_timer_parent *parent, uint32_t flags, void *context);
// Stop and free the leaf. 0 or MGD_TIMER_ERR_INVALID.
zerrno mgd_timer_leaf_free(mgd_timer_leaf *leaf);
// Start, or restart, the leaf to expire after the time-out (tv_nsec 0..999999999, not negative).
// 0 or MGD_TIMER_ERR_INVALID.
zerrno mgd_timer_leaf_start(mgd_timer_leaf *leaf, const struct timespec *timeout);
// Stop the leaf; stopping a stopped leaf is not an error. 0 or MGD_TIMER_ERR_INVALID.
zerrno mgd_timer_leaf_stop(mgd_timer_leaf *leaf);
// Whether the leaf runs (started and not stopped; an expired leaf still runs).
bool mgd_timer_leaf_running(const mgd_timer_leaf *leaf);
// Time left until the leaf expires ({0, 0} once expired). MGD_TIMER_ERR_NOT_RUNNING when the
// leaf does not run, MGD_TIMER_ERR_INVALID for null arguments.
zerrno mgd_timer_leaf_remaining(const mgd_timer_leaf *leaf, struct timespec *remaining);
// The context given at creation.
void *mgd_timer_leaf_get_context(const mgd_timer_leaf *leaf);
// Additional contexts, slots 0 to MGD_TIMER_ADDL_CONTEXTS - 1 (null until set).
zerrno mgd_timer_leaf_set_addl_context(mgd_timer_leaf *leaf, unsigned slot, void *context);
void *mgd_timer_leaf_get_addl_context(const mgd_timer_leaf *leaf, unsigned slot);

// Test control and diagnostics: leaves in the tree, and of them those running.
uint32_t mgd_timer_tree_leaf_count(const mgd_timer_tree *tree);
uint32_t mgd_timer_tree_running_count(const mgd_timer_tree *tree);
