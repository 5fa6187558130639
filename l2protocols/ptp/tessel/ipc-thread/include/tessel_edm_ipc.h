// Registration of the agent's operational data with the database, on the IPC thread: every item
// path, with callbacks that forward each request unchanged to the protocol thread and return its
// reply.
#pragma once

#include <cstdint>

#include "evm.h"
#include "nodra.h"
#include "tessel_ipc_deps.h"
#include "zerrno.h"

// tessel_edm_init and tessel_edm_shutdown: tessel_ipc_deps.h.

// The database's callbacks (IPC thread; each blocks until the protocol thread has answered).
zerrno tessel_edm_ipc_get(nodra_edm_request_td *request, void *context);
zerrno tessel_edm_ipc_list(nodra_edm_request_td *request, void *context);
zerrno tessel_edm_ipc_datalist(nodra_edm_request_td *request, void *context);
zerrno tessel_edm_ipc_set(nodra_edm_request_td *request, void *context);
