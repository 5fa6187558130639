// Test control of the database: seed items, override the client library path, inject failures
// and look at what the clients did.
#pragma once

#include <cstdint>
#include <string>

#include "nodra.h"

// The database of a test process: a server on a thread of its own with its store in a new
// temporary directory, which the client library then uses. Started by the first call below
// that needs it; stopping it removes the directory.
zerrno nodra_test_server_start();
void nodra_test_server_stop();
// The in-process server's socket and store (empty while it is not running).
const char *nodra_test_server_socket();
const char *nodra_test_server_store();
// Makes the client library use the server on path (null: back to plat_socket_path()).
void nodra_test_use_socket(const char *path);

// Returns once every notice the database sent to the registrations on evm before this call has
// been queued to evm (draining evm then runs their callbacks): a test's wait for notifications
// of a commit, which come on another connection than the commit's answer.
zerrno nodra_test_sync(event_mgr_type *evm);

// The most entries the database asks an operational provider for in one list or data-list
// request (0: back to the default, 256); a provider that has more sets the "more" flag and is
// asked again from its last name on.
void nodra_test_set_list_page_size(uint32_t entries);
// How long a listing that several providers serve waits for them (0: back to the default, 3 s);
// a provider that has not finished its part by then is left out.
void nodra_test_set_listing_wait_ms(uint32_t ms);

// Forgets every item, the library path override, pending failures and the counters. Bindings and
// lists still held stay valid (and counted as open).
void nodra_test_reset();

// Creates or replaces the item at the absolute path (starting with "/", not ending with "/", no
// empty element) with a value of the given type and bytes (data may be null when length is 0).
zerrno nodra_test_item_set(const char *path, uint32_t type, const void *data, uint32_t length);
// Removes the item at path, or, for a path ending in "/", every item below it.
// NODRA_ERR_NOT_FOUND when nothing was removed.
zerrno nodra_test_item_remove(const char *path);

// Overrides the client library path (null: back to $PTP_NODRA_LIB or the default).
void nodra_test_set_client_library_path(const char *path);

enum class nodra_test_op {
    bind,
    unbind,
    list,
    list_next,
    registration,          // every registration: verification, notification, operational data
    generate_notifications // nodra_edm_generate_notifications
};
// After `after` more calls of op that run normally, the next `count` calls fail with err and
// change nothing (count 0 cancels).
void nodra_test_fail(nodra_test_op op, zerrno err, uint32_t count, uint32_t after = 0);

// Database calls (bind, unbind, list, list_next, list_free) since the last reset.
uint32_t nodra_test_call_count();
// Bindings not yet unbound; lists not yet freed.
uint32_t nodra_test_open_bindings();
uint32_t nodra_test_open_lists();

// The differences between two schemas, entry by entry (every field of each node, names by their
// text, and of each row), one line each; empty when they are the same. For tests that hold a
// schema's layout against the one it must keep.
struct backend_schema_td;
std::string backend_schema_differences(const backend_schema_td &got, const backend_schema_td &want);
