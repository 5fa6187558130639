// The database service hosted by the platform daemon (and by unit tests, in-process).
#pragma once

#include <cstdint>
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

// Which clients take an item (its verification, apply, notification and replay): every client
// with a matching registration, unless the scope set here keeps the item from that client (the
// process manager keeps an interface's items for the processes of the interface's node). pid:
// the client's process; path: the item's, absolute. nullptr: no scope. Set before clients come.
using nodra_service_scope_fn = bool (*)(int32_t pid, std::string_view path);
void nodra_service_set_scope(nodra_service_scope_fn scope);

// The sequence number of the last commit stored, refused ones included (0 before the first), the
// number its notifications carry. On the server's event manager.
uint32_t nodra_service_sequence();
