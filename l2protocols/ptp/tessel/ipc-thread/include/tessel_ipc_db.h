// The IPC thread's interface database ("IPC Thread"): one tessel_ipc_idb_type per configured
// PTP interface, by name and by interface handle. Only the IPC thread changes it; the protocol
// thread may look records up and walk them while the IPC thread waits on an inter-thread message.
#pragma once

#include <cstdint>

#include "ptp_types.h"
#include "tessel_db.h"
#include "tessel_if_config.h"
#include "zerrno.h"

using tessel_ipc_db_walk_fn = bool (*)(tessel_ipc_idb_type *idb, void *context);

zerrno tessel_ipc_db_init();
// A new record with empty address lists.
zerrno tessel_ipc_db_create(const char *ifname, tessel_ipc_idb_type **out_idb);
void tessel_ipc_db_add_ifhandle(ifhtype ifhandle, tessel_ipc_idb_type *idb);
// Frees the address lists, then unlinks and frees the record.
void tessel_ipc_db_delete(tessel_ipc_idb_type *idb);
zerrno tessel_ipc_db_get_by_ifname(const char *ifname, tessel_ipc_idb_type **out_idb);
zerrno tessel_ipc_db_get_by_ifhandle(ifhtype ifhandle, tessel_ipc_idb_type **out_idb);
void tessel_ipc_db_walk(tessel_ipc_db_walk_fn callback, void *context, const char *start_ifname, bool skip_start);
uint32_t tessel_ipc_db_get_count();
void tessel_ipc_db_destroy();
