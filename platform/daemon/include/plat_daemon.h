// The platform daemon: one process per simulated chassis that hosts the platform services the
// PTP processes share, each a sockmsg service on the daemon's socket.
#pragma once

#include "evm.h"
#include "sockmsg.h"
#include "zerrno.h"

// One hosted service: started in table order on the daemon's event manager once the socket is
// bound, stopped in reverse order. A failed start stops the ones already started and ends the
// daemon. shutdown tolerates a service whose init failed or never ran.
struct plat_daemon_service_row {
    const char *name;
    zerrno (*init)(event_mgr_type *evm, sockmsg_server_type *server);
    void (*shutdown)();
};

// The services the daemon hosts (platform/daemon/src/daemon_services.cpp).
extern const plat_daemon_service_row plat_daemon_services[];
extern const uint32_t plat_daemon_service_count;

// Serves on path until plat_daemon_stop (or SIGTERM/SIGINT in the program). 0, or the code of
// the step that failed (after printing it on standard error).
zerrno plat_daemon_run(const char *path);
// Makes a running plat_daemon_run return. Any thread, and from a signal handler.
void plat_daemon_stop();
