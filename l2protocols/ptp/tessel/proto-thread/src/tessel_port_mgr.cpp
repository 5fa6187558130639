// The port manager's node-wide part: start and stop of the protocol thread's services, the
// global events, go-active and the upgrade resynchronisation, and the client operations it
// gives the state machine and the best-master list.
#include "tessel_port_mgr.h"

#include <cstring>

#include "ptp_clock.h"
#include "ptp_comms_msg.h"
#include "ptp_debug.h"
#include "ptp_strings.h"
#include "ptp_timer.h"
#include "tessel_assert.h"
#include "tessel_fsm.h"
#include "tessel_fsm_announce.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_services.h"
#include "tessel_fsm_types.h"
#include "tessel_fsm_unicast.h"
#include "tessel_issu.h"
#include "tessel_mgd_timer.h"
#include "tessel_packet.h"
#include "tessel_pm_log.h"
#include "tessel_port_mgr_deps.h"
#include "tessel_port_mgr_state.h"
#include "tessel_proto_db.h"
#include "tessel_proto_fsm_services.h"
#include "tessel_stats.h"

tessel_port_mgr_state_type tessel_port_mgr_state;

namespace {

tessel_port_mgr_state_type &pm = tessel_port_mgr_state;

constexpr uint32_t WHEEL_PARAM1 = 16;
constexpr uint32_t WHEEL_PARAM2 = 32;

constexpr ptp_fsm_callbacks_type fsm_callbacks = {
    tessel_port_mgr_foreign_master_change, tessel_port_mgr_time_record,          tessel_port_mgr_fsm_state_change,
    tessel_port_mgr_get_advertised_clock,  tessel_port_mgr_unicast_grant_change, tessel_port_mgr_node_bmc_change,
};

constexpr tessel_bmc_callbacks_type bmc_callbacks = {
    tessel_port_mgr_if_bmc_state_change,
    tessel_port_mgr_node_bmc_change,
};

struct reevaluate_ctx {
    uint32_t change_flags;
};

bool reevaluate_one(tessel_proto_idb_type *idb, void *context)
{
    tessel_port_mgr_readiness_check(idb, static_cast<reevaluate_ctx *>(context)->change_flags, true);
    return true;
}

bool clear_port_num(tessel_proto_idb_type *idb, void *)
{
    idb->port_num = 0;
    return true;
}

bool profile_change_one(tessel_proto_idb_type *idb, void *)
{
    if (port_mgr_ready(idb)) {
        ptp_fsm_port_config_change(idb, PTP_FSM_CHANGE_PROFILE);
    }
    return true;
}

bool issu_resync_one(tessel_proto_idb_type *idb, void *)
{
    tessel_port_mgr_readiness_check(idb, 0, false);
    if (port_mgr_ready(idb)) {
        ptp_fsm_announce_suspend_foreign_master_timeouts(idb);
        ptp_fsm_start(idb);
    } else {
        ptp_fsm_unicast_delete_all_peers(idb);
        ptp_fsm_proto_foreign_master_tree_destroy(idb);
    }
    return true;
}

const char *enabled_word(uint32_t enabled)
{
    return enabled != 0 ? "" : "not ";
}

} // namespace

void tessel_port_mgr_reevaluate_all(uint32_t change_flags)
{
    reevaluate_ctx ctx{change_flags};
    tessel_proto_db_walk(reevaluate_one, &ctx, nullptr, false);
}

// ---- Getters ----

const tessel_port_mgr_local_clock_type *tessel_port_mgr_get_local_clock(void)
{
    return pm.local_clock_known != 0 ? &pm.local_clock : nullptr;
}
uint32_t tessel_port_mgr_get_profile(void)
{
    return pm.profile;
}
uint32_t tessel_port_mgr_get_telecom_clock_type(void)
{
    return pm.telecom_clock_type;
}
uint8_t tessel_port_mgr_get_min_clock_class(void)
{
    return pm.min_clock_class;
}
uint32_t tessel_port_mgr_is_active(void)
{
    return pm.active;
}
uint32_t tessel_port_mgr_is_ptp_enabled(void)
{
    return pm.ptp_enabled;
}

// ---- Start and stop ----

namespace {

// The services the port manager starts, in order, each with what undoes it. A step that fails
// undoes the steps before it, newest first; the shutdown undoes them all, in the same reverse
// order.
struct start_step_type {
    void (*trace_before)(void); // or null
    zerrno (*start)(event_mgr_type *evm);
    void (*stop)(void); // or null: nothing to undo
};

template <const ptp_trace_point_type &POINT>
void mark(void)
{
    ptp_trace<POINT>({tessel_pm_det()});
}

zerrno stats_start(event_mgr_type *)
{
    // Without its counters window the agent still runs PTP: every counter call then finds no
    // entry. The window service has reported why.
    (void)tessel_stats_init();
    return 0;
}

// Records written per turn of the event loop: a line card's 2000 take a second of round trips,
// during which its ports' timers and received messages would otherwise wait.
constexpr size_t CHKPT_WRITES_PER_TURN = 64;

int chkpt_writes_flush(ptp_timer_type *, void *, int *)
{
    std::vector<uint32_t> pending;
    if (pm.chkpt_pending.size() <= CHKPT_WRITES_PER_TURN) {
        pending.swap(pm.chkpt_pending);
    } else {
        const auto turn = pm.chkpt_pending.begin() + CHKPT_WRITES_PER_TURN;
        pending.assign(pm.chkpt_pending.begin(), turn);
        pm.chkpt_pending.erase(pm.chkpt_pending.begin(), turn);
        ptp_timer_start(&pm.chkpt_timer, 0, false);
    }
    for (const uint32_t ifhandle : pending) {
        tessel_proto_idb_type *idb = nullptr;
        // A record deleted meanwhile is not found, and one created anew with its handle is not
        // marked.
        if (tessel_proto_db_get_by_ifhandle(ifhandle, &idb) != 0 || idb == nullptr ||
            (idb->flags & TESSEL_PROTO_IDB_CHKPT_PENDING) == 0) {
            continue;
        }
        idb->flags &= static_cast<uint16_t>(~TESSEL_PROTO_IDB_CHKPT_PENDING);
        // One that stopped being ready meanwhile had its record deleted then.
        if (port_mgr_ready(idb)) {
            tessel_chkpt_if_update(idb);
        }
    }
    return 0;
}

zerrno chkpt_writes_start(event_mgr_type *)
{
    const zerrno rc = ptp_timer_create(&pm.chkpt_timer, chkpt_writes_flush, nullptr);
    pm.chkpt_timer_created = rc == 0;
    return rc;
}

void chkpt_writes_stop(void)
{
    if (pm.chkpt_timer_created) {
        ptp_timer_destroy(&pm.chkpt_timer);
        pm.chkpt_timer_created = false;
    }
    pm.chkpt_pending.clear();
}

const start_step_type start_steps[] = {
    {mark<PTP_TRACE_TESSEL_PM_INIT_PRE_DB>, [](event_mgr_type *) { return tessel_proto_db_init(); },
     tessel_proto_db_cleanup},
    {mark<PTP_TRACE_TESSEL_PM_INIT_PRE_TIMER>,
     [](event_mgr_type *evm) {
         return ptp_timer_init(evm, WHEEL_PARAM1, WHEEL_PARAM2, tessel_pm_unq(), tessel_pm_det(), TESSEL_AREA_PORT_MGR,
                               ptp_debug_table_get());
     },
     ptp_timer_shutdown},
    {mark<PTP_TRACE_TESSEL_PM_INIT_PRE_MGD_TIMER>, tessel_mgd_timer_init, tessel_mgd_timer_shutdown},
    {nullptr, chkpt_writes_start, chkpt_writes_stop},
    {nullptr,
     [](event_mgr_type *) {
         tessel_bmc_register_callbacks(&bmc_callbacks);
         return zerrno{0};
     },
     nullptr},
    {mark<PTP_TRACE_TESSEL_PM_INIT_PRE_FSM>,
     [](event_mgr_type *) {
         ptp_fsm_services_set(tessel_proto_fsm_services());
         const zerrno rc = ptp_fsm_module_init(&fsm_callbacks);
         if (rc != 0) {
             ptp_fsm_services_set(nullptr);
         }
         return rc;
     },
     [] {
         ptp_fsm_module_deinit();
         ptp_fsm_services_set(nullptr);
     }},
    {nullptr, tessel_packet_init, tessel_packet_cleanup},
    {mark<PTP_TRACE_TESSEL_PM_INIT_PRE_OFFLOAD>, tessel_offload_init, tessel_offload_shutdown},
    {nullptr, tessel_fib_init, tessel_fib_close},
    {nullptr, tessel_adjacency_init, tessel_adjacency_cleanup},
    {nullptr, tessel_comms_init, tessel_comms_cleanup},
    {nullptr, stats_start, tessel_stats_close},
    {nullptr, tessel_proto_edm_trap_init, tessel_proto_edm_trap_cleanup},
};
constexpr uint32_t START_STEP_COUNT = sizeof start_steps / sizeof start_steps[0];

// Undoes the started steps, newest first.
void start_steps_undo()
{
    while (pm.steps_started > 0) {
        pm.steps_started--;
        if (start_steps[pm.steps_started].stop != nullptr) {
            start_steps[pm.steps_started].stop();
        }
    }
}

} // namespace

zerrno tessel_port_mgr_init(event_mgr_type *evm)
{
    pm.evm = evm;
    zerrno rc = 0;
    for (const start_step_type &step : start_steps) {
        if (step.trace_before != nullptr) {
            step.trace_before();
        }
        if ((rc = step.start(evm)) != 0) {
            start_steps_undo();
            return rc;
        }
        pm.steps_started++;
    }
    static_assert(START_STEP_COUNT == 13);
    // Go-active leaves the manager active even when it reports a failure (the port-number
    // client is started all the same); the shutdown undoes it.
    switch (tessel_issu_get_issu_role()) {
    case TESSEL_ISSU_ROLE_PRIMARY:
        if ((rc = tessel_port_mgr_go_active()) != 0) {
            return rc;
        }
        tessel_offload_flush();
        tessel_packet_resync_end();
        break;
    case TESSEL_ISSU_ROLE_SECONDARY: rc = tessel_chkpt_idt_timer_start(evm); break;
    default: break;
    }
    return rc;
}

void tessel_port_mgr_shutdown(void)
{
    pm.active = 0;
    tessel_port_num_cleanup();
    tessel_chkpt_shutdown();
    start_steps_undo();
    tessel_issu_fini();
}

// ---- Global events ----

void tessel_port_mgr_chkpt_if_update(tessel_proto_idb_type *idb)
{
    if (!pm.chkpt_timer_created) {
        tessel_chkpt_if_update(idb);
        return;
    }
    if ((idb->flags & TESSEL_PROTO_IDB_CHKPT_PENDING) == 0) {
        idb->flags |= TESSEL_PROTO_IDB_CHKPT_PENDING;
        pm.chkpt_pending.push_back(idb->header.ifhandle);
    }
    if (!ptp_timer_is_running(&pm.chkpt_timer) && ptp_timer_start(&pm.chkpt_timer, 0, false) != 0) {
        chkpt_writes_flush(nullptr, nullptr, nullptr);
    }
}

void tessel_port_mgr_ptp_enable(void)
{
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Received PTP enable call. PTP was previously %senabled",
                    enabled_word(pm.ptp_enabled));
    if (pm.ptp_enabled != 0) {
        return;
    }
    pm.ptp_enabled = 1;
    tessel_port_mgr_reevaluate_all(0);
    tessel_port_num_send_ma_resync_msg();
}

void tessel_port_mgr_ptp_disable(void)
{
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Received PTP disable call. PTP was previously %senabled",
                    enabled_word(pm.ptp_enabled));
    if (pm.ptp_enabled == 0) {
        return;
    }
    pm.ptp_enabled = 0;
    tessel_port_mgr_reevaluate_all(0);
    pm.local_clock_known = 0;
    tessel_proto_db_walk(clear_port_num, nullptr, nullptr, false);
}

void tessel_port_mgr_local_clock_update(const tessel_port_mgr_local_clock_type *local_clock)
{
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Received local clock information. ID 0x%lx, domain %u",
                    static_cast<unsigned long>(local_clock->clock_id), local_clock->domain);
    tessel_stats_increment_node_event_counter(TESSEL_NODE_EVENT_LOCAL_CLOCK_CHANGES);
    tessel_port_mgr_local_clock_type clock{};
    clock.clock_id = local_clock->clock_id;
    clock.domain = local_clock->domain;
    if (pm.local_clock_known != 0 && pm.local_clock.clock_id == clock.clock_id &&
        pm.local_clock.domain == clock.domain) {
        return;
    }
    tessel_chkpt_gl_local_clock_update(clock.clock_id, clock.domain);
    pm.local_clock = clock;
    pm.local_clock_known = 1;
    tessel_port_mgr_reevaluate_all(PTP_FSM_CHANGE_LOCAL_CLOCK);
}

void tessel_port_mgr_global_bmc_update(const ptp_clock_type *bmc, const ptp_clock_type *advertised, uint32_t selected,
                                       uint32_t synced, uint32_t slave_supported)
{
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0,
                    "%s: Received global BMC update. BMC clock ID 0x%lx, advertised clock ID 0x%lx. BMC is "
                    "%sselected, %ssynced. Slave operation is %ssupported",
                    static_cast<unsigned long>(bmc->clock_id), static_cast<unsigned long>(advertised->clock_id),
                    enabled_word(selected), enabled_word(synced), enabled_word(slave_supported));
    tessel_bmc_global_bmc_update(bmc, advertised, selected, synced);
    tessel_bmc_slave_support_change(slave_supported);
    tessel_port_mgr_reevaluate_all(0);
    tessel_chkpt_gl_bmc_update(bmc, advertised, selected, synced, slave_supported);
}

void tessel_port_mgr_profile_change(uint32_t profile, uint32_t telecom_clock_type)
{
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Received profile change. Old profile %s, new profile %s",
                    ptp_profile_to_str(pm.profile), ptp_profile_to_str(profile));
    if (profile == pm.profile && telecom_clock_type == pm.telecom_clock_type) {
        return;
    }
    pm.profile = profile;
    pm.telecom_clock_type = telecom_clock_type;
    tessel_proto_db_walk(profile_change_one, nullptr, nullptr, false);
    tessel_chkpt_gl_profile_update(profile, telecom_clock_type);
}

void tessel_port_mgr_min_clock_class_change(uint8_t min_clock_class)
{
    if (min_clock_class == pm.min_clock_class) {
        return;
    }
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Received min clock class change. Old min %u, new min %u",
                    static_cast<unsigned>(pm.min_clock_class), static_cast<unsigned>(min_clock_class));
    pm.min_clock_class = min_clock_class;
    tessel_chkpt_gl_min_clock_class_update(min_clock_class);
}

zerrno tessel_port_mgr_go_active(void)
{
    const uint32_t role = tessel_issu_get_issu_role();
    if (role != TESSEL_ISSU_ROLE_PRIMARY && !(tessel_issu_is_milestone_met(TESSEL_ISSU_MILESTONE_CHKPT) != 0 &&
                                              tessel_issu_is_milestone_met(TESSEL_ISSU_MILESTONE_THREAD_RESYNC) != 0)) {
        return 0;
    }
    // The end of the initial data transfer, its time-out and a database sync may each try; the
    // port-number client is started once.
    if (pm.active != 0) {
        return 0;
    }
    if (role == TESSEL_ISSU_ROLE_SECONDARY) {
        tessel_issu_milestone_start(TESSEL_ISSU_MILESTONE_CONTROLLER_RESYNC);
    }
    tessel_packet_resync_start();
    zerrno chkpt_rc = 0;
    if (tessel_chkpt_is_idt_timer_expired() == 0) {
        chkpt_rc = tessel_chkpt_tables_register();
        if (chkpt_rc == 0) {
            tessel_chkpt_read();
            const zerrno rc = tessel_port_num_init(pm.evm);
            pm.active = 1;
            return rc;
        }
        TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0,
                            "%s: [ERROR] Failed to register checkpoint tables, going active without recovery: %s",
                            zerr_strerror(chkpt_rc));
    }
    // No checkpoint to recover from: start from what is here now. The port-number client is
    // started on this path too, so that later port-number work finds it running.
    const zerrno batches_rc = tessel_port_num_batches_init();
    tessel_packet_process_attach();
    tessel_stats_recover_after_restart();
    const zerrno rc = tessel_port_num_init(pm.evm);
    pm.active = 1;
    if (chkpt_rc != 0) {
        return chkpt_rc;
    }
    return rc != 0 ? rc : batches_rc;
}

zerrno tessel_port_mgr_announce_msg_receive(const uint8_t *msg, size_t len)
{
    ptp_comms_msg_announce announce{};
    const zerrno rc = ptp_comms_msg_announce_decode(msg, len, &announce);
    if (rc != 0) {
        return rc;
    }
    tessel_port_mgr_local_clock_type local{};
    local.clock_id = announce.local_clock_id;
    local.domain = announce.domain;
    tessel_port_mgr_global_bmc_update(&announce.global_bmc, &announce.advertised, announce.bmc_selected,
                                      announce.bmc_synced, announce.slave_supported);
    tessel_port_mgr_local_clock_update(&local);
    return 0;
}

void tessel_port_mgr_issu_resync(void)
{
    tessel_offload_flush();
    tessel_packet_resync_end();
    tessel_chkpt_sweep_stale();
    tessel_proto_db_walk(issu_resync_one, nullptr, nullptr, false);
    tessel_peer_index_sweep();
    tessel_port_num_send_ma_resync_msg();
    tessel_comms_resync();
}

// ---- Client operations of the state machine ----

// Re-entrant path: a port's best foreign master changed (from the state machine, possibly as a
// change postponed while the port was locked) -> the best-master list re-sorts and computes
// this port's state -> the state hook feeds a BMC event into this same port's state machine,
// which may change state (fsm_state_change below) before this call returns. Everything here
// therefore reads the port afresh after tessel_bmc_if_update.
void tessel_port_mgr_foreign_master_change(tessel_proto_idb_type *idb)
{
    const ptp_fsm_foreign_master_type *fm = idb->fsm.foreign_master_ranked_list;
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, idb->header.ifhandle,
                    "%s: Best foreign master change on interface %s (0x%8.8x): new best master 0x%lx",
                    idb->header.ifname, idb->header.ifhandle,
                    static_cast<unsigned long>(fm != nullptr ? fm->master_clock.clock_id : 0));
    tessel_bmc_if_update(idb);
    if (port_mgr_ready(idb)) {
        tessel_port_mgr_chkpt_if_update(idb);
    }
}

void tessel_port_mgr_time_record(tessel_proto_idb_type *, const void *record, void *)
{
    tessel_comms_time_update_add(record);
}

void tessel_port_mgr_fsm_state_change(tessel_proto_idb_type *idb)
{
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, idb->header.ifhandle,
                    "%s: Port state change on interface %s (0x%8.8x): now %s", idb->header.ifname, idb->header.ifhandle,
                    ptp_port_state_to_str(idb->fsm.PortState));
    if (port_mgr_ready(idb)) {
        tessel_port_mgr_chkpt_if_update(idb);
    }
}

const ptp_clock_type *tessel_port_mgr_get_advertised_clock(const ptp_clock_type **out)
{
    const ptp_clock_type *clock = tessel_bmc_get_advertised_clock();
    if (out != nullptr) {
        *out = clock;
    }
    return clock;
}

void tessel_port_mgr_unicast_grant_change(ptp_fsm_peer_entry_type *entry, int any_left)
{
    if (any_left != 0) {
        tessel_chkpt_unicast_grant_update(entry);
    } else {
        tessel_chkpt_unicast_grant_delete(entry);
    }
    tessel_proto_edm_trap_generate_slave_lost(&entry->local_addr, &entry->peer_addr, any_left);
}

void tessel_port_mgr_node_bmc_change(void)
{
    TESSEL_PM_DEBUG_TEXT(TESSEL_AREA_PORT_MGR, 0, "Received node BMC change");
    tessel_stats_increment_node_event_counter(TESSEL_NODE_EVENT_NODE_BMC_CHANGE);
    tessel_comms_bmc_msg_send_damped();
}

void tessel_port_mgr_if_bmc_state_change(tessel_proto_idb_type *idb, tessel_bmc_if_state_type state)
{
    tessel_stats_increment_proto_idb_event_counter(idb, TESSEL_PROTO_IDB_EVENT_BMC_STATE_CHANGES);
    switch (state) {
    case TESSEL_BMC_IF_STATE_MASTER: ptp_fsm_bmc_master(idb); break;
    case TESSEL_BMC_IF_STATE_PASSIVE: ptp_fsm_bmc_passive(idb); break;
    case TESSEL_BMC_IF_STATE_SLAVE: ptp_fsm_bmc_slave(idb); break;
    case TESSEL_BMC_IF_STATE_SLAVE_SYNCED: ptp_fsm_master_clock_selected(idb); break;
    default: tessel_internal_error("Unknown BMC state", __FILE__, __LINE__);
    }
}
