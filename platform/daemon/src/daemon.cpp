// The platform daemon's event loop: bind the socket, start the hosted services, serve.
#include <cstdio>

#include <atomic>

#include "plat_daemon.h"

namespace {

std::atomic<event_mgr_type *> running_evm{nullptr};
std::atomic<bool> stop_requested{false};

void services_stop(uint32_t started)
{
    while (started > 0) {
        --started;
        if (plat_daemon_services[started].shutdown != nullptr)
            plat_daemon_services[started].shutdown();
    }
}

} // namespace

zerrno plat_daemon_run(const char *path)
{
    stop_requested = false;
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    if (evm == nullptr) {
        fprintf(stderr, "platform daemon: cannot create the event manager\n");
        return SOCKMSG_ERR_NO_MEMORY;
    }
    sockmsg_server_type *server = nullptr;
    zerrno err = sockmsg_server_create(evm, path, &server);
    if (err != ZERR_OK) {
        fprintf(stderr, "platform daemon: cannot serve on %s: %s\n", path, zerr_strerror(err));
        event_manager_destroy(evm);
        return err;
    }
    uint32_t started = 0;
    for (; started < plat_daemon_service_count; ++started) {
        const plat_daemon_service_row &row = plat_daemon_services[started];
        err = row.init(evm, server);
        if (err != ZERR_OK) {
            fprintf(stderr, "platform daemon: cannot start %s: %s\n", row.name, zerr_strerror(err));
            if (row.shutdown != nullptr)
                row.shutdown();
            break;
        }
    }
    if (err == ZERR_OK) {
        running_evm = evm;
        while (!stop_requested.load()) {
            event_type *ev = event_block(evm);
            if (ev != nullptr)
                zq_event_dispatch(ev);
        }
        running_evm = nullptr;
    }
    // Clients go first, so that the services see every disconnect before they stop.
    sockmsg_server_destroy(server);
    services_stop(started);
    event_manager_destroy(evm);
    return err;
}

void plat_daemon_stop()
{
    stop_requested = true;
    if (event_mgr_type *evm = running_evm.load())
        event_manager_wakeup(evm);
}
