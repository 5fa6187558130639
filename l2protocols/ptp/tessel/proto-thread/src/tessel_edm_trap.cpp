#include "tessel_edm_trap.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "nodra.h"
#include "nodra_backend.h"
#include "nodra_schema.h"
#include "ptp_bags.h"
#include "ptp_strings.h"
#include "ptp_syslog.h"
#include "tessel_pm_log.h"

namespace {

constexpr uint32_t TESSEL_AREA_EDM = tessel_debug_area("edm");

constexpr const char *TRAP_NOTIFICATION_PATH = "/oper/ptp/&&/snmp-traps/";
constexpr const char *TRAP_CONFIG_PATH = "/cfg/gl/snmp/enable/traps/";
constexpr const char *TRAP_ITEM_SLAVE_LOST = "slave-lost";
// The generated notification's kind.
constexpr uint32_t TRAP_NOTIFICATION_KIND = 3;

uint32_t slave_lost_enabled;
uint32_t all_slaves_lost_enabled;
nodra_conn_td *trap_nfn_handle;
nodra_conn_td *trap_cfg_handle;
int64_t trap_cfg_registration = -1;
bool nodra_library_found;

bool nodra_library_present()
{
    if (!nodra_library_found) {
        nodra_library_found = access(nodra_client_library_path(), R_OK) == 0;
    }
    return nodra_library_found;
}

void tessel_proto_edm_trap_slave_lost_cfg(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    slave_lost_enabled = (event->event & NODRA_EVENT_DELETE) == 0;
    TESSEL_PM_DEBUG(TESSEL_AREA_EDM, 0, "%s: Slave Lost trap %s", slave_lost_enabled ? "Configured" : "Unconfigured");
}

void tessel_proto_edm_trap_all_slaves_lost_cfg(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    all_slaves_lost_enabled = (event->event & NODRA_EVENT_DELETE) == 0;
    TESSEL_PM_DEBUG(TESSEL_AREA_EDM, 0, "%s: All Slaves Lost trap %s",
                    all_slaves_lost_enabled ? "Configured" : "Unconfigured");
}

// Below the trap-enable binding.
constexpr auto trap_cfg_items = std::to_array<backend_item_td>({
    {"ptp/slave-lost", {.notify = tessel_proto_edm_trap_slave_lost_cfg}},
    {"ptp/all-slaves-lost", {.notify = tessel_proto_edm_trap_all_slaves_lost_cfg}},
});
constexpr const backend_schema_td &trap_cfg_schema = backend_schema_of<trap_cfg_items>::schema;

} // namespace

zerrno tessel_proto_edm_trap_init(event_mgr_type *evm)
{
    if (!nodra_library_present()) {
        return NODRA_ERR_BIND_NO_LIBRARY;
    }
    zerrno rc = nodra_bind(&trap_nfn_handle, TRAP_NOTIFICATION_PATH, 17);
    if (rc != 0) {
        trap_nfn_handle = nullptr;
        return rc;
    }
    if (!nodra_library_present()) {
        return NODRA_ERR_BIND_NO_LIBRARY;
    }
    rc = nodra_bind(&trap_cfg_handle, TRAP_CONFIG_PATH, 0);
    if (rc != 0) {
        trap_cfg_handle = nullptr;
        return rc;
    }
    if (!nodra_library_present()) {
        return NODRA_ERR_NFN_NO_LIBRARY;
    }
    uint32_t registration = 0;
    rc = nodra_register_notification(trap_cfg_handle, "ptp/", NODRA_EVENT_CREATE | NODRA_EVENT_SET | NODRA_EVENT_DELETE,
                                     0, backend_notification, evm, nullptr, &trap_cfg_schema, 0, &registration);
    if (rc != 0) {
        return rc;
    }
    trap_cfg_registration = registration;
    return 0;
}

void tessel_proto_edm_trap_cleanup(void)
{
    if (trap_cfg_registration >= 0) {
        (void)nodra_notification_unregister(static_cast<uint32_t>(trap_cfg_registration));
        trap_cfg_registration = -1;
    }
    if (trap_cfg_handle != nullptr) {
        (void)nodra_unbind(trap_cfg_handle);
        trap_cfg_handle = nullptr;
    }
    if (trap_nfn_handle != nullptr) {
        (void)nodra_unbind(trap_nfn_handle);
        trap_nfn_handle = nullptr;
    }
    // A later start reads the operator's settings afresh from the registration's replay.
    slave_lost_enabled = 0;
    all_slaves_lost_enabled = 0;
}

void tessel_proto_edm_trap_generate_slave_lost(const ptp_address_type *local, const ptp_address_type *peer, int present)
{
    if (slave_lost_enabled == 0 && all_slaves_lost_enabled == 0) {
        return;
    }
    ptp_bag_address local_bag{};
    ptp_bag_address peer_bag{};
    ptp_trap_slave_lost bag{};
    if (local != nullptr) {
        ptp_address_to_bag(local, &local_bag);
        bag.addr = &local_bag;
    }
    if (peer != nullptr) {
        ptp_address_to_bag(peer, &peer_bag);
        bag.peer = &peer_bag;
    }
    bag.present = present != 0 ? 1 : 0;
    uint8_t *data = nullptr;
    uint32_t length = 0;
    const zerrno enc = bag_encode(&bag, ptp_trap_slave_lost_bag_getfn(), &data, &length);
    if (enc != 0) {
        // Our own record fails only when the bags are not registered (a failed registration at
        // start-up) or memory ran out: the trap is lost, the agent goes on.
        TESSEL_PM_DEBUG_ERR(TESSEL_AREA_EDM, 0, "%s: [ERROR] Failed to encode slave-lost trap bag: %s",
                            zerr_strerror(enc));
        return;
    }
    TESSEL_PM_DEBUG(TESSEL_AREA_EDM, 0, "%s: Notifying a slave %s", present != 0 ? "Found" : "Lost");
    if (trap_nfn_handle != nullptr) {
        const nodra_edm_notification_td record{TRAP_ITEM_SLAVE_LOST, TRAP_NOTIFICATION_KIND, NODRA_ITEM_DATATYPE_BAG,
                                               data, length};
        const zerrno rc = nodra_edm_generate_notifications(trap_nfn_handle, &record, 1);
        if (rc != 0) {
            ptp_syslog_mib_trap_nfn_failed(TRAP_ITEM_SLAVE_LOST, zerr_strerror(rc));
        }
    }
    std::free(data);
}
