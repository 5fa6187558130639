// The database service hosted by the platform daemon (and by unit tests, in-process).
#pragma once

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
