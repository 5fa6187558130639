// The services the platform daemon hosts, in start order.
#include "chkpt_host.h"
#include "comms_host.h"
#include "dgs_host.h"
#include "imc_host.h"
#include "nodra_service.h"
#include "pktio_relay.h"
#include "plat_daemon.h"
#include "sysmgr_host.h"

const plat_daemon_service_row plat_daemon_services[] = {
    {"configuration database", nodra_service_init, nodra_service_shutdown},
    {"comms", comms_host_init, comms_host_shutdown},
    {"group services", dgs_host_init, dgs_host_shutdown},
    {"chkpt", chkpt_host_init, chkpt_host_shutdown},
    {"sysmgr", sysmgr_host_init, sysmgr_host_shutdown},
    {"agent restarts on configuration", sysmgr_config_watch_init, sysmgr_config_watch_shutdown},
    {"imc", imc_host_init, imc_host_shutdown},
    {"links", pktio_relay_host_init, pktio_relay_host_shutdown},
};
const uint32_t plat_daemon_service_count = sizeof plat_daemon_services / sizeof plat_daemon_services[0];
