// The database service hosted by the platform daemon (and by unit tests, in-process).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "evm.h"
#include "sockmsg.h"
#include "zerrno.h"

// The store's file: $PTP_NODRA_DB when set and not empty, else "/var/lib/ptp/nodra.db".
const char *nodra_store_path();

// Opens the store (created when missing; WAL, synchronous=FULL) and registers the service on the
// server. Runs on the server's event manager. One service per process.
zerrno nodra_service_init(event_mgr_type *evm, sockmsg_server_type *server);
zerrno nodra_service_init_at(event_mgr_type *evm, sockmsg_server_type *server, const char *store_path);
// Answers what still waits, closes the store. Tolerates a service that never started.
void nodra_service_shutdown();

// Which clients take an item (its verification, apply, notification and replay), and what a
// commit may store: set by the process manager of a chassis before clients come. nullptr: every
// client takes every item it registers for, and a commit stores any item.
//
// With a scope set:
// - a client the manager started takes only the items its node takes (an interface's items are
//   for the processes of the interface's node);
// - an item that no registration takes (none of any client, nor of a verifier that is down) is
//   refused as an unknown item;
// - a verifier the manager started that ends without unregistering (a crash, a kill) is down until
//   a process of the same name on the same node registers the same patterns again: a commit that
//   creates or sets one of its items meanwhile is refused, naming the item, since nobody could
//   verify it (a delete goes through: it brings back a default, which every verifier takes).
struct nodra_service_scope_td {
    // The node of a client's process and a name for it ("tessel@110"), asked once per
    // registration; false for a client the manager did not start, which takes every item.
    bool (*client)(int32_t pid, uint32_t *node, std::string *name);
    // Whether the clients of node take the item at path (absolute).
    bool (*takes)(uint32_t node, std::string_view path);
};
void nodra_service_set_scope(const nodra_service_scope_td *scope);

// The sequence number of the last commit stored, refused ones included (0 before the first), the
// number its notifications carry. On the server's event manager.
uint32_t nodra_service_sequence();
