// The services the platform daemon hosts, in start order.
#include "plat_daemon.h"

const plat_daemon_service_row plat_daemon_services[] = {
    {"none", [](event_mgr_type *, sockmsg_server_type *) { return ZERR_OK; }, nullptr},
};
const uint32_t plat_daemon_service_count = sizeof plat_daemon_services / sizeof plat_daemon_services[0];
