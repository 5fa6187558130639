// The node's best-master list and each interface's best-master state.
#include "tessel_bmc.h"

#include <cstring>

#include "ptp_address.h"
#include "ptp_clock.h"
#include "ptp_strings.h"
#include "tessel_assert.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_types.h"
#include "tessel_issu.h"
#include "tessel_pm_log.h"
#include "tessel_port_mgr.h"
#include "tessel_port_mgr_deps.h"
#include "tessel_proto_db.h"
#include "tessel_utils.h"

namespace {

constexpr uint16_t IF_TYPE_EXT_SLAVE = 10; // needs the extended slave capability

// The node's best-master list: the interfaces that may act as a slave, best first, linked
// through bmc_prev and bmc_next.
tessel_proto_idb_type *tessel_bmc_list = nullptr;

struct bmc_state_type {
    // Node best master, refreshed from the head.
    bool node_valid = false;
    ptp_clock_type node_clock{};
    tessel_bmc_info_type node_info{};
    // Global best master as last received.
    bool received = false;
    ptp_clock_type global_bmc{};
    ptp_clock_type advertised{};
    uint32_t selected = 0;
    uint32_t synced = 0;
    uint32_t slave_support = 1;
    tessel_bmc_callbacks_type callbacks{};
};

bmc_state_type bmc;

bool in_list(const tessel_proto_idb_type *idb)
{
    return tessel_bmc_list == idb || idb->bmc_prev != nullptr || idb->bmc_next != nullptr;
}

// The port's best foreign master (the head of its ranked list), or null.
const ptp_fsm_foreign_master_type *best_fm(const tessel_proto_idb_type *idb)
{
    return idb->fsm.foreign_master_ranked_list;
}

const ptp_clock_type *fm_clock(const tessel_proto_idb_type *idb)
{
    const ptp_fsm_foreign_master_type *fm = best_fm(idb);
    return fm != nullptr && !idb->fsm.is_held_passive ? &fm->master_clock : nullptr;
}

bool telecom_mode(uint32_t mode)
{
    return mode >= PTP_PROFILE_G8265_1 && mode <= PTP_PROFILE_G8275_2;
}

bool eligible(const tessel_proto_idb_type *idb)
{
    if (bmc.slave_support == 0 || tessel_bmc_is_slave_supported(idb->if_type) == 0) {
        return false;
    }
    if (idb->fsm.is_held_passive || best_fm(idb) == nullptr) {
        return false;
    }
    if (idb->config.port_state == PTP_RESTRICT_PORT_STATE_MASTER_ONLY) {
        return false;
    }
    return !(telecom_mode(tessel_port_mgr_get_profile()) &&
             tessel_port_mgr_get_telecom_clock_type() == PTP_TELECOM_CLOCK_T_GM);
}

int tessel_bmc_if_compare(const tessel_proto_idb_type *a, const tessel_proto_idb_type *b)
{
    return ptp_clock_compare(tessel_port_mgr_get_profile(), fm_clock(a), fm_clock(b), nullptr);
}

void refresh_node_bmc()
{
    tessel_proto_idb_type *head = tessel_bmc_list;
    if (head == nullptr) {
        bmc.node_valid = false;
        return;
    }
    const ptp_fsm_foreign_master_type *fm = best_fm(head);
    bmc.node_valid = true;
    bmc.node_clock = fm->master_clock;
    bmc.node_info.ifhandle = head->header.ifhandle;
    bmc.node_info.address = fm->peer_addr;
    bmc.node_info.sync_interval = head->config.sync_interval;
    bmc.node_info.delay_req_interval = head->config.delay_req_interval;
    bmc.node_info.delay_asymmetry = fm->delay_asymmetry;
}

void tessel_bmc_if_add_to_list(tessel_proto_idb_type *idb)
{
    TESSEL_ASSERT(!in_list(idb));
    uint32_t position = 0;
    tessel_proto_idb_type *prev = nullptr;
    tessel_proto_idb_type *cur = tessel_bmc_list;
    while (cur != nullptr) {
        const int rc = tessel_bmc_if_compare(idb, cur);
        TESSEL_ASSERT(rc != 0);
        if (rc < 0) {
            break;
        }
        prev = cur;
        cur = cur->bmc_next;
        position++;
    }
    idb->bmc_prev = prev;
    idb->bmc_next = cur;
    if (cur != nullptr) {
        cur->bmc_prev = idb;
    }
    if (prev != nullptr) {
        prev->bmc_next = idb;
    } else {
        tessel_bmc_list = idb;
    }
    TESSEL_PM_DEBUG(TESSEL_AREA_BMC, idb->header.ifhandle,
                    "%s: Inserted interface %s (0x%8.8x) into BMC list at position %u", idb->header.ifname,
                    idb->header.ifhandle, position);
    ptp_trace<PTP_TRACE_TESSEL_BMC_IF_INSERTED>({tessel_pm_det()}, idb->header.ifhandle, position,
                                                tessel_bmc_list->header.ifhandle);
    refresh_node_bmc();
}

void tessel_bmc_if_remove_from_list(tessel_proto_idb_type *idb)
{
    TESSEL_ASSERT(in_list(idb));
    if (idb->bmc_prev != nullptr) {
        idb->bmc_prev->bmc_next = idb->bmc_next;
    } else {
        tessel_bmc_list = idb->bmc_next;
    }
    if (idb->bmc_next != nullptr) {
        idb->bmc_next->bmc_prev = idb->bmc_prev;
    }
    idb->bmc_prev = nullptr;
    idb->bmc_next = nullptr;
    TESSEL_PM_DEBUG(TESSEL_AREA_BMC, idb->header.ifhandle, "%s: Removed interface %s (0x%8.8x) from BMC list",
                    idb->header.ifname, idb->header.ifhandle);
    ptp_trace<PTP_TRACE_TESSEL_BMC_IF_REMOVED>({tessel_pm_det()}, idb->header.ifhandle,
                                               tessel_bmc_list != nullptr ? tessel_bmc_list->header.ifhandle : 0u);
    refresh_node_bmc();
}

tessel_bmc_if_state_type apply_profile_rules(tessel_bmc_if_state_type c, uint32_t port_state)
{
    const uint32_t mode = tessel_port_mgr_get_profile();
    const uint32_t type = tessel_port_mgr_get_telecom_clock_type();
    const bool slave_only = port_state == PTP_RESTRICT_PORT_STATE_SLAVE_ONLY;
    const bool master_only = port_state == PTP_RESTRICT_PORT_STATE_MASTER_ONLY;
    if (telecom_mode(mode) && type == PTP_TELECOM_CLOCK_T_GM) {
        return slave_only ? TESSEL_BMC_IF_STATE_PASSIVE : TESSEL_BMC_IF_STATE_MASTER;
    }
    if (telecom_mode(mode) && type == PTP_TELECOM_CLOCK_T_TSC) {
        if (c == TESSEL_BMC_IF_STATE_MASTER) {
            return TESSEL_BMC_IF_STATE_PASSIVE;
        }
        if (master_only) {
            return TESSEL_BMC_IF_STATE_PASSIVE; // c is SLAVE, SLAVE SYNCED or PASSIVE
        }
        return c;
    }
    if (master_only) {
        return TESSEL_BMC_IF_STATE_MASTER;
    }
    if (slave_only && c == TESSEL_BMC_IF_STATE_MASTER) {
        return TESSEL_BMC_IF_STATE_PASSIVE;
    }
    return c;
}

// Interface-database walk callback; context points at the force flag.
bool tessel_bmc_calc_if_state(tessel_proto_idb_type *idb, void *context)
{
    const bool force = *static_cast<const bool *>(context);
    const uint32_t port_state = idb->fsm.PortState;
    if (!bmc.received || tessel_issu_get_issu_role() != TESSEL_ISSU_ROLE_PRIMARY ||
        port_state == PTP_PORT_STATE_INITIALIZING || port_state == PTP_PORT_STATE_FAULTY) {
        return true;
    }
    const uint32_t mode = tessel_port_mgr_get_profile();
    const ifhtype ifh = idb->header.ifhandle;
    tessel_bmc_if_state_type c = TESSEL_BMC_IF_STATE_MASTER;
    bool slave = false;
    bool decided = false;
    const ptp_clock_type *clock = fm_clock(idb);
    const tessel_bmc_if_state_type slave_state =
        bmc.synced != 0 ? TESSEL_BMC_IF_STATE_SLAVE_SYNCED : TESSEL_BMC_IF_STATE_SLAVE;
    if (clock == nullptr) {
        decided = true;
    } else if (ptp_clock_path_equal(clock, &bmc.global_bmc)) {
        if (ptp_clock_compare(mode, clock, &bmc.global_bmc, nullptr) != 0) {
            TESSEL_PM_DEBUG(TESSEL_AREA_BMC, ifh, "%s: BMC is on this interface, but properties have changed");
            c = slave_state;
            slave = decided = true;
        } else if (bmc.selected != 0) {
            if (bmc.synced != 0) {
                TESSEL_PM_DEBUG(TESSEL_AREA_BMC, ifh,
                                "%s: BMC is on this interface, no properties changed. slave synced");
            } else {
                TESSEL_PM_DEBUG(TESSEL_AREA_BMC, ifh,
                                "%s: BMC is on this interface, no properties changed. slave not synced");
            }
            c = slave_state;
            slave = decided = true;
        }
    }
    if (!decided) {
        int topology = 0;
        const int rc = ptp_clock_compare(mode, clock, &bmc.advertised, &topology);
        c = (rc <= 0 || topology != 0) ? TESSEL_BMC_IF_STATE_PASSIVE : TESSEL_BMC_IF_STATE_MASTER;
    }
    if (slave && tessel_bmc_is_slave_supported(idb->if_type) == 0) {
        c = TESSEL_BMC_IF_STATE_PASSIVE;
    }
    const tessel_bmc_if_state_type r = apply_profile_rules(c, idb->config.port_state);
    if (!force) {
        bool same = false;
        switch (r) {
        case TESSEL_BMC_IF_STATE_MASTER: same = port_state == PTP_PORT_STATE_MASTER; break;
        case TESSEL_BMC_IF_STATE_PASSIVE: same = port_state == PTP_PORT_STATE_PASSIVE; break;
        case TESSEL_BMC_IF_STATE_SLAVE: same = port_state == PTP_PORT_STATE_UNCALIBRATED; break;
        case TESSEL_BMC_IF_STATE_SLAVE_SYNCED: same = port_state == PTP_PORT_STATE_SLAVE; break;
        default: tessel_internal_error("Unknown BMC state", __FILE__, __LINE__);
        }
        if (same) {
            return true;
        }
    }
    TESSEL_PM_DEBUG(TESSEL_AREA_BMC, ifh, "%s: Updating state for interface %s (0x%8.8x) to %s (%u);",
                    idb->header.ifname, ifh, tessel_bmc_if_state_to_string(r), static_cast<uint32_t>(r));
    if (bmc.callbacks.if_state_change != nullptr) {
        bmc.callbacks.if_state_change(idb, r);
    }
    return true;
}

bool restore_one(tessel_proto_idb_type *idb, void *)
{
    if (in_list(idb)) {
        tessel_bmc_if_remove_from_list(idb);
    }
    if (eligible(idb)) {
        tessel_bmc_if_add_to_list(idb);
    }
    bool force = false;
    tessel_bmc_calc_if_state(idb, &force);
    return true;
}

void walk_states(bool force)
{
    tessel_proto_db_walk(tessel_bmc_calc_if_state, &force, nullptr, false);
}

void node_bmc_changed()
{
    if (bmc.callbacks.node_bmc_change != nullptr) {
        bmc.callbacks.node_bmc_change();
    }
}

} // namespace

void tessel_bmc_register_callbacks(const tessel_bmc_callbacks_type *callbacks)
{
    bmc.callbacks = callbacks != nullptr ? *callbacks : tessel_bmc_callbacks_type{};
}

void tessel_bmc_if_update(tessel_proto_idb_type *idb)
{
    const ifhtype ifh = idb->header.ifhandle;
    TESSEL_PM_DEBUG(TESSEL_AREA_BMC, ifh, "%s: Received update for interface %s (0x%8.8x)", idb->header.ifname, ifh);
    const bool was_valid = bmc.node_valid;
    const ptp_clock_type old_clock = bmc.node_clock;
    const tessel_bmc_info_type old_info = bmc.node_info;

    if (in_list(idb)) {
        tessel_bmc_if_remove_from_list(idb);
    }
    if (eligible(idb)) {
        tessel_bmc_if_add_to_list(idb);
    }
    bool force = false;
    tessel_bmc_calc_if_state(idb, &force);

    bool unchanged;
    if (!was_valid || !bmc.node_valid) {
        unchanged = !was_valid && !bmc.node_valid;
    } else {
        unchanged = ptp_clock_equal(&old_clock, &bmc.node_clock) && old_info.ifhandle == bmc.node_info.ifhandle &&
                    ptp_address_compare(&old_info.address, &bmc.node_info.address) == 0 &&
                    old_info.sync_interval == bmc.node_info.sync_interval &&
                    old_info.delay_req_interval == bmc.node_info.delay_req_interval &&
                    old_info.delay_asymmetry == bmc.node_info.delay_asymmetry;
    }
    if (unchanged) {
        return;
    }
    const uint64_t new_id = bmc.node_valid ? bmc.node_clock.clock_id : 0;
    const uint64_t old_id = was_valid ? old_clock.clock_id : 0;
    const char *addr_text = bmc.node_valid ? ptp_address_to_str(&bmc.node_info.address) : "";
    TESSEL_PM_DEBUG(TESSEL_AREA_BMC, ifh, "%s: Node BMC changed: new 0x%lx (%s), old 0x%lx",
                    static_cast<unsigned long>(new_id), addr_text, static_cast<unsigned long>(old_id));
    // The words in the order the text shows them: new clock, its master's address, old clock.
    const ptp_address_type *a = bmc.node_valid ? &bmc.node_info.address : nullptr;
    ptp_trace_address<PTP_TRACE_TESSEL_BMC_NODE_CHANGED>(
        {tessel_pm_det()}, ptp_clock_id_upper(new_id), ptp_clock_id_lower(new_id), ptp_address_trace_value(a),
        ptp_address_trace_mac_low(a), ptp_address_encap_get(a), ptp_clock_id_upper(old_id), ptp_clock_id_lower(old_id));
    node_bmc_changed();
}

void tessel_bmc_if_delete(tessel_proto_idb_type *idb)
{
    if (!in_list(idb)) {
        return;
    }
    const bool was_head = tessel_bmc_list == idb;
    tessel_bmc_if_remove_from_list(idb);
    if (was_head) {
        node_bmc_changed();
    }
}

const ptp_clock_type *tessel_bmc_get_node_bmc(tessel_bmc_info_type *info)
{
    if (!bmc.node_valid) {
        return nullptr;
    }
    if (info != nullptr) {
        *info = bmc.node_info;
    }
    return &bmc.node_clock;
}

const ptp_clock_type *tessel_bmc_get_node_bmc(void)
{
    return tessel_bmc_get_node_bmc(nullptr);
}

void tessel_bmc_global_bmc_update(const ptp_clock_type *global_bmc, const ptp_clock_type *advertised, uint32_t selected,
                                  uint32_t synced)
{
    const bool same = bmc.received && ptp_clock_equal(&bmc.global_bmc, global_bmc) &&
                      ptp_clock_equal(&bmc.advertised, advertised) && bmc.selected == selected && bmc.synced == synced;
    TESSEL_PM_DEBUG(TESSEL_AREA_BMC, 0,
                    "%s: Received global best master clock %lx and advertised clock %lx. BMC has %schanged",
                    static_cast<unsigned long>(global_bmc->clock_id), static_cast<unsigned long>(advertised->clock_id),
                    same ? "not " : "");
    ptp_trace<PTP_TRACE_TESSEL_BMC_GLOBAL_RECEIVED>(
        {tessel_pm_det()}, ptp_clock_id_upper(global_bmc->clock_id), ptp_clock_id_lower(global_bmc->clock_id),
        ptp_clock_id_upper(advertised->clock_id), ptp_clock_id_lower(advertised->clock_id), same ? 0u : 1u);
    if (same) {
        return;
    }
    bmc.global_bmc = *global_bmc;
    bmc.advertised = *advertised;
    bmc.selected = selected;
    bmc.synced = synced;
    bmc.received = true;
    walk_states(true);
}

void tessel_bmc_slave_support_change(uint32_t supported)
{
    const uint32_t flag = supported != 0 ? 1 : 0;
    if (flag == bmc.slave_support) {
        return;
    }
    TESSEL_PM_DEBUG(TESSEL_AREA_BMC, 0, "%s: Received slave support change. Slave is %ssupported",
                    flag != 0 ? "" : "not ");
    ptp_trace<PTP_TRACE_TESSEL_BMC_SLAVE_SUPPORT>({tessel_pm_det()}, flag);
    bmc.slave_support = flag;
    if (flag != 0) {
        tessel_proto_db_walk(restore_one, nullptr, nullptr, false);
    } else {
        while (tessel_bmc_list != nullptr) {
            tessel_bmc_if_remove_from_list(tessel_bmc_list);
        }
        walk_states(false);
    }
    node_bmc_changed();
}

uint32_t tessel_bmc_is_slave_supported(uint32_t if_type)
{
    if (bmc.slave_support == 0) {
        return 0;
    }
    if (if_type == IF_TYPE_EXT_SLAVE) {
        return tessel_intf_caps_supports_slave_ext() ? 1 : 0;
    }
    return tessel_intf_caps_supports_slave() ? 1 : 0;
}

const ptp_clock_type *tessel_bmc_get_global_bmc(void)
{
    return bmc.received ? &bmc.global_bmc : nullptr;
}

const ptp_clock_type *tessel_bmc_get_advertised_clock(void)
{
    return bmc.received ? &bmc.advertised : nullptr;
}

void tessel_bmc_restore(void)
{
    TESSEL_PM_DEBUG(TESSEL_AREA_BMC, 0, "%s: Restoring BMC module state");
    tessel_proto_db_walk(restore_one, nullptr, nullptr, false);
}

tessel_proto_idb_type *tessel_bmc_list_head(void)
{
    return tessel_bmc_list;
}

void tessel_bmc_reset(void)
{
    while (tessel_bmc_list != nullptr) {
        tessel_proto_idb_type *idb = tessel_bmc_list;
        tessel_bmc_list = idb->bmc_next;
        idb->bmc_prev = nullptr;
        idb->bmc_next = nullptr;
    }
    const tessel_bmc_callbacks_type callbacks = bmc.callbacks;
    bmc = bmc_state_type{};
    bmc.callbacks = callbacks;
}
