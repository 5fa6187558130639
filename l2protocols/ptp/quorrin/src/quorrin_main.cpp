// The controller's process entry.
#include "quorrin_main.h"

#include <cerrno>
#include <cstring>
#include <syslog.h>

#include "imc.h"
#include "issul.h"
#include "ptp_debug.h"
#include "ptp_syslog.h"
#include "ptp_timer.h"
#include "quorrin_bmc.h"
#include "quorrin_cfg.h"
#include "quorrin_comms.h"
#include "quorrin_debug.h"
#include "quorrin_edm_traps.h"
#include "quorrin_ha.h"
#include "quorrin_leap_seconds.h"
#include "quorrin_platform.h"
#include "quorrin_port_num.h"

namespace {

// How long a standby waits for the initial data transfer of the checkpoint tables.
constexpr uint32_t IDT_TIMER_MS = 120000;
// Checkpoint tables whose transfer the standby waits for.
constexpr uint32_t CHKPT_TABLE_BMC_CLOCK = 0;
constexpr uint32_t CHKPT_TABLE_PORT_NUMBERS = 1;
constexpr uint32_t CHKPT_TABLE_BMC_GLOBAL = 2;
constexpr uint32_t CHKPT_TABLE_UTC_INFO = 3;
// IDT events below this are progress notices.
constexpr uint32_t CHKPT_IDT_PROGRESS_LIMIT = 4;
// The descriptor values this application gives the checkpoint service.
constexpr uint32_t CHKPT_DESC_WORD1 = 3;
constexpr uint32_t CHKPT_DESC_WORD2 = 2;
// The interface manager's control-server binding of the controller.
constexpr uint32_t IMC_BIND_KIND = 9;
constexpr uint32_t TIMER_WHEEL_PARAM1 = 1000;
constexpr uint32_t TIMER_WHEEL_PARAM2 = 32;
constexpr uint32_t ISSUL_MILESTONE_SYNC_V1_STATE = 2;

struct main_state_type {
    event_mgr_type *evm = nullptr;
    uint32_t node_id = 0;
    bool kvolm = false;
    bool line_card = false;
    bool chkpt_initialised = false;
    bool exiting = false;
    bool awaiting_global_idts = false;
    bool awaiting_port_num_idts = false;
    bool init_done = false;
    bool idt_timer_finished = false;
    int32_t last_port_num_idt_count = 0;
    int32_t last_global_idt_count = 0;
    ptp_timer_type idt_timer{};
    event_conn_type *im_conn = nullptr;
    imc_ctx_type *im_binding = nullptr;
};

main_state_type state;
// The standby's initial-data-transfer timer fired.
bool quorrin_idt_timer_expired = false;
debug_event_type debug_table[QUORRIN_DEBUG_AREA_COUNT];
ptp_jotlog_buffer_type jotlog_buffers[] = {
    {QUORRIN_JOTLOG_DET, {1024, 8192, 0, 0}, nullptr},
    {QUORRIN_JOTLOG_SUM, {1024, 8192, 0, 0}, nullptr},
    {QUORRIN_JOTLOG_UNQ, {0, 0, 64, 256}, nullptr},
};
constexpr uint32_t JOTLOG_BUFFER_COUNT = std::size(jotlog_buffers);

bool quorrin_require_more_idts()
{
    return state.awaiting_global_idts || state.awaiting_port_num_idts;
}

zerrno init_failed(const char *text, const char *error)
{
    ptp_syslog_init_failed(text, error);
    return 1;
}

zerrno init_failed(const char *text, zerrno rc)
{
    ptp_syslog_init_failed(text, zerr_strerror(rc));
    return rc;
}

void run_one_event()
{
    event_type *event = event_block(state.evm);
    if (event != nullptr) {
        zq_event_dispatch(event);
    } else if (errno != EINTR) {
        ptp_syslog_lost_event("PTP Controller", std::strerror(errno));
    }
}

// The controller's modules, started in this order; each stops start-up when it fails.
zerrno modules_start()
{
    zerrno rc = quorrin_platform_capability_init(state.evm);
    if (rc != 0) {
        return rc;
    }
    ptp_trace<PTP_TRACE_QUORRIN_MAIN_INIT_CAPABILITY>({quorrin_det()});
    if ((rc = quorrin_leap_seconds_init(state.evm)) != 0) {
        return rc;
    }
    ptp_trace<PTP_TRACE_QUORRIN_MAIN_INIT_LEAP_SECONDS>({quorrin_det()});
    if ((rc = quorrin_cfg_init(state.evm)) != 0) {
        return rc;
    }
    if ((rc = quorrin_comms_init(state.evm)) != 0) {
        return rc;
    }
    ptp_trace<PTP_TRACE_QUORRIN_MAIN_INIT_COMMS>({quorrin_det()});
    if ((rc = quorrin_bmc_init(state.evm)) != 0) {
        return rc;
    }
    ptp_trace<PTP_TRACE_QUORRIN_MAIN_INIT_BMC>({quorrin_det()});
    if ((rc = quorrin_platform_start(state.evm)) != 0) {
        return rc;
    }
    if ((rc = quorrin_edm_init(state.evm)) != 0) {
        return rc;
    }
    ptp_trace<PTP_TRACE_QUORRIN_MAIN_INIT_EDM>({quorrin_det()});
    if ((rc = quorrin_port_num_init(state.evm)) != 0) {
        return rc;
    }
    ptp_trace<PTP_TRACE_QUORRIN_MAIN_INIT_PORT_NUM>({quorrin_det()});
    return quorrin_leap_seconds_start_updates();
}

// Every module's shut-down, in the reverse of the start; each tolerates never having started.
void modules_shutdown(bool normal_exit)
{
    QUORRIN_DEBUG(QUORRIN_AREA_MAIN, "%s: PTP controller is exiting");
    ptp_trace<PTP_TRACE_QUORRIN_MAIN_EXIT>({quorrin_sum(), quorrin_unq()});
    quorrin_port_num_shutdown(normal_exit);
    quorrin_edm_shutdown();
    quorrin_comms_shutdown();
    quorrin_cfg_shutdown();
    quorrin_leap_seconds_shutdown();
    // The upgrade client goes last: selection deletes its checkpoint entries and the platform
    // stops its servo only in the primary role, and a retiring primary leaves both to its
    // successor.
    quorrin_bmc_shutdown();
    if (quorrin_ha_get_issu_role() != ISSUL_ROLE_RETIRING) {
        quorrin_platform_stop();
    }
    quorrin_ha_shutdown();
    ptp_timer_destroy(&state.idt_timer);
    ptp_timer_shutdown();
    if (state.im_binding != nullptr) {
        imc_control_server_unbind(state.im_binding);
        state.im_binding = nullptr;
    }
    if (state.im_conn != nullptr) {
        event_conn_destroy(state.im_conn);
        state.im_conn = nullptr;
    }
    ptp_jotlog_ctx_set({}, {}, {});
    ptp_jotlog_close(jotlog_buffers, JOTLOG_BUFFER_COUNT);
}

// Start-up after the trace buffers are open (steps that a failure ends with the module
// shut-down). Returns 0 once the process is ready.
zerrno start_up()
{
    zerrno rc = event_conn_create(state.evm, quorrin_main_im_conn_cb, 0, nullptr, &state.im_conn);
    if (rc != 0) {
        state.im_conn = nullptr;
        return init_failed("Failed to create connection to IM: ", rc);
    }
    rc = event_conn_open(state.im_conn);
    if (rc != 0 && rc != EVENT_CONN_ALREADY_OPEN) {
        return init_failed("Failed to open connection to IM: ", rc);
    }
    ptp_trace<PTP_TRACE_QUORRIN_MAIN_INIT_IM>({quorrin_det()});

    rc = ptp_timer_init(state.evm, TIMER_WHEEL_PARAM1, TIMER_WHEEL_PARAM2, quorrin_det(), quorrin_unq(),
                        QUORRIN_AREA_MAIN, debug_table);
    if (rc != 0) {
        return rc;
    }
    ptp_trace<PTP_TRACE_QUORRIN_MAIN_INIT_TIMERS>({quorrin_det()});

    if (platform_am_i_lc()) {
        state.line_card = true;
    } else {
        rc = lrd_am_i_kvolm(&state.kvolm);
        if (rc != 0) {
            return init_failed("Failed to find KVOLM state: ", rc);
        }
        if (state.kvolm) {
            ptp_trace<PTP_TRACE_QUORRIN_MAIN_INIT_KVOLM>({quorrin_det()});
        }
    }

    chkpt_appdesc_type desc;
    chkpt_appdesc_init(&desc);
    state.chkpt_initialised = true;
    std::strncpy(desc.name, "ptp", sizeof desc.name - 1);
    desc.flags = 1;
    desc.word1 = CHKPT_DESC_WORD1;
    desc.word2 = CHKPT_DESC_WORD2;
    desc.idt_cb = quorrin_main_chkpt_idt_cb;
    desc.ndt_cb = quorrin_main_chkpt_ndt_cb;

    bool wait = false;
    if (issul_get_issu_role(nullptr) == ISSUL_ROLE_SECONDARY) {
        state.awaiting_global_idts = true;
        wait = true;
    } else if (!quorrin_main_is_kvolm_or_lc()) {
        state.awaiting_global_idts = true;
        state.awaiting_port_num_idts = true;
        wait = true;
    }
    ptp_trace<PTP_TRACE_QUORRIN_MAIN_INIT_CHKPT_ISSU>({quorrin_det()}, wait ? 1u : 0u);

    rc = chkpt_init(state.evm, &desc);
    if (rc != 0) {
        return init_failed("Failed to initialize checkpoint: ", rc);
    }
    ptp_trace<PTP_TRACE_QUORRIN_MAIN_INIT_CHKPT>({quorrin_det()});

    if (wait && quorrin_require_more_idts()) {
        rc = ptp_timer_create_and_start(&state.idt_timer, IDT_TIMER_MS, false, quorrin_main_idt_timer_cb, nullptr);
        if (rc != 0) {
            return init_failed("Failed to create Chkpt IDT Timer ", rc);
        }
        QUORRIN_DEBUG(QUORRIN_AREA_MAIN, "%s: Entering event loop awaiting checkpoint IDTs");
        while (quorrin_require_more_idts() && !quorrin_idt_timer_expired && !state.exiting) {
            run_one_event();
        }
        QUORRIN_DEBUG(QUORRIN_AREA_MAIN, "%s: Continuing with initialization");
    }

    rc = platform_get_my_nodeid(&state.node_id);
    if (rc != 0) {
        return init_failed("Failed to look up local node ID: ", rc);
    }
    ptp_trace<PTP_TRACE_QUORRIN_MAIN_INIT_NODE_ID>({quorrin_det()});

    // Its failure is reported by the module; the controller goes on without upgrade roles.
    quorrin_ha_init(state.evm);

    const uint32_t role = quorrin_ha_get_issu_role();
    if (role == ISSUL_ROLE_SECONDARY) {
        quorrin_ha_milestone_met(ISSUL_MILESTONE_SYNC_V1_STATE);
    }
    if (quorrin_main_is_kvolm_or_lc()) {
        if (role == ISSUL_ROLE_PRIMARY) {
            chkpt_go_primary_active();
        } else if (role == ISSUL_ROLE_SECONDARY) {
            chkpt_go_active();
        }
    }

    if ((rc = modules_start()) != 0) {
        return rc;
    }

    if (quorrin_main_is_kvolm_or_lc()) {
        quorrin_port_num_restore();
        if ((rc = quorrin_edm_gl_init(state.evm)) != 0) {
            return rc;
        }
    } else {
        ptp_trace<PTP_TRACE_QUORRIN_MAIN_STANDBY>({quorrin_det()});
        sysmgr_set_target_node(0);
        rc = sysmgr_register_lr_event(state.evm, SYSMGR_LR_EVENT_KVOLM_ACTIVE, quorrin_main_kvolm_active_cb, nullptr);
        if (rc != 0) {
            return init_failed("Failed to register for LR events: ", rc);
        }
        ptp_trace<PTP_TRACE_QUORRIN_MAIN_INIT_LR_EVENTS>({quorrin_det()});
    }

    if (!quorrin_idt_timer_expired) {
        state.init_done = true;
    }
    rc = sysmgr_proc_ready();
    if (rc != 0) {
        return init_failed("Failed to signal end of initialization: ", rc);
    }
    ptp_trace<PTP_TRACE_QUORRIN_MAIN_INIT_EOI>({quorrin_det()});
    return 0;
}

} // namespace

int quorrin_main(int, char **)
{
    state = main_state_type{};
    quorrin_idt_timer_expired = false;
    zq_openlog("quorrin", LOG_PID, LOG_DAEMON);
    state.evm = event_create_manager(nullptr, nullptr, 0);
    if (state.evm == nullptr) {
        init_failed("Failed to create event manager: ", std::strerror(errno));
        return 1;
    }

    if (ptp_debug_register(state.evm, debug_table, quorrin_debug_areas, QUORRIN_DEBUG_AREA_COUNT, nullptr) != 0) {
        event_manager_destroy(state.evm);
        state.evm = nullptr;
        return 1;
    }
    QUORRIN_DEBUG(QUORRIN_AREA_MAIN, "%s: PTP controller is (re)starting");

    int status = 1;
    if (ptp_jotlog_init(jotlog_buffers, JOTLOG_BUFFER_COUNT) == 0) {
        ptp_jotlog_ctx_set(jotlog_buffers[0], jotlog_buffers[1], jotlog_buffers[2]);
        ptp_utils_debug_init(quorrin_det(), quorrin_unq(), QUORRIN_AREA_MAIN, debug_table);
        ptp_trace<PTP_TRACE_QUORRIN_MAIN_START>({quorrin_sum(), quorrin_unq()});

        bool normal_exit = false;
        if (start_up() == 0) {
            QUORRIN_DEBUG(QUORRIN_AREA_MAIN, "%s: Entering event loop");
            while (!state.exiting) {
                run_one_event();
            }
            QUORRIN_DEBUG(QUORRIN_AREA_MAIN, "%s: Exited event loop");
            normal_exit = true;
            status = 0;
        }
        modules_shutdown(normal_exit);
    }
    ptp_debug_cleanup();
    event_manager_destroy(state.evm);
    state.evm = nullptr;
    return status;
}

uint32_t quorrin_main_get_node_id(void)
{
    return state.node_id;
}

bool quorrin_main_is_kvolm_or_lc(void)
{
    return state.kvolm || state.line_card;
}

bool quorrin_main_chkpt_initialised(void)
{
    return state.chkpt_initialised;
}

void quorrin_main_exiting(void)
{
    state.exiting = true;
    sysmgr_proc_exiting();
}

bool quorrin_main_idt_timer_not_expired(void)
{
    return !quorrin_idt_timer_expired;
}

int quorrin_main_idt_timer_cb(ptp_timer_type *, void *, int *)
{
    ptp_syslog_idt_timer_fired("Controller");
    ptp_trace<PTP_TRACE_QUORRIN_MAIN_IDT_TIMER_EXPIRED>({quorrin_det(), quorrin_sum()});
    quorrin_idt_timer_expired = true;
    ptp_timer_destroy(&state.idt_timer);
    return 0;
}

int quorrin_main_chkpt_idt_cb(uint32_t event)
{
    if (event < CHKPT_IDT_PROGRESS_LIMIT) {
        ptp_trace<PTP_TRACE_QUORRIN_MAIN_IDT_TABLE>({quorrin_det()}, event);
        return 0;
    }
    if (event != CHKPT_IDT_END) {
        return 0;
    }
    int32_t port_num_count = 0;
    int32_t global_count = 0;
    chkpt_get_stby_idt_count(CHKPT_TABLE_PORT_NUMBERS, &port_num_count);
    chkpt_get_stby_idt_count(CHKPT_TABLE_BMC_GLOBAL, &global_count);
    QUORRIN_DEBUG(QUORRIN_AREA_MAIN, "%s: %d new portnum EIDT(s)", port_num_count - state.last_port_num_idt_count);
    QUORRIN_DEBUG(QUORRIN_AREA_MAIN, "%s: %d new global EIDT(s)", global_count - state.last_global_idt_count);

    if (port_num_count > state.last_port_num_idt_count) {
        state.last_port_num_idt_count = port_num_count;
        ptp_trace<PTP_TRACE_QUORRIN_MAIN_IDT_PORT_NUM_END>({quorrin_det()}, state.init_done ? 1u : 0u);
        if (!state.init_done) {
            QUORRIN_DEBUG(QUORRIN_AREA_MAIN, "%s: Received all portnum IDTs.");
            state.awaiting_port_num_idts = false;
        }
    }
    if (global_count > state.last_global_idt_count) {
        state.last_global_idt_count = global_count;
        ptp_trace<PTP_TRACE_QUORRIN_MAIN_IDT_GLOBAL_END>({quorrin_det()}, state.init_done ? 1u : 0u);
        if (state.init_done) {
            quorrin_bmc_chkpt_global_recover();
            return 0;
        }
        QUORRIN_DEBUG(QUORRIN_AREA_MAIN, "%s: Received all global IDTs.");
        state.awaiting_global_idts = false;
    }
    if (state.init_done) {
        return 0;
    }
    if (!quorrin_require_more_idts() && !state.idt_timer_finished) {
        state.idt_timer_finished = true;
        ptp_timer_destroy(&state.idt_timer);
        ptp_trace<PTP_TRACE_QUORRIN_MAIN_IDT_ALL_RECEIVED>({quorrin_det()});
    }
    return 0;
}

int quorrin_main_chkpt_ndt_cb(const chkpt_ndt_type *notice)
{
    if (notice == nullptr) {
        return 0;
    }
    const uint32_t role = quorrin_ha_get_issu_role();
    if (role == ISSUL_ROLE_SECONDARY) {
        if (notice->table_id == CHKPT_TABLE_BMC_GLOBAL) {
            quorrin_bmc_chkpt_global_ndt(notice);
        }
        return 0;
    }
    if (role != ISSUL_ROLE_PRIMARY) {
        return 0;
    }
    switch (notice->table_id) {
    case CHKPT_TABLE_BMC_CLOCK:
    case CHKPT_TABLE_BMC_GLOBAL: quorrin_bmc_chkpt_clock_ndt(notice); break;
    case CHKPT_TABLE_PORT_NUMBERS: quorrin_port_num_chkpt_ndt(notice); break;
    case CHKPT_TABLE_UTC_INFO: quorrin_leap_seconds_chkpt_gm_ndt(notice); break;
    default: break;
    }
    return 0;
}

int quorrin_main_kvolm_active_cb(const sysmgr_lr_event_type *event, void *)
{
    if (event == nullptr || event->kind != SYSMGR_LR_EVENT_KVOLM_ACTIVE) {
        return 0;
    }
    QUORRIN_DEBUG(QUORRIN_AREA_MAIN, "%s: Received KVOLM active event");
    ptp_trace<PTP_TRACE_QUORRIN_MAIN_GOING_ACTIVE>({quorrin_det()});
    state.kvolm = true;
    quorrin_bmc_go_primary_active();
    quorrin_port_num_restore();
    quorrin_edm_gl_init(state.evm);
    return 0;
}

int quorrin_main_im_conn_cb(event_conn_type *, void *)
{
    if (state.im_binding != nullptr) {
        imc_control_server_unbind(state.im_binding);
        state.im_binding = nullptr;
    }
    const imc_bind_params_type params{IMC_BIND_KIND, 0};
    zerrno rc = imc_control_server_bind(&params, 1, &state.im_binding);
    if (rc != 0) {
        state.im_binding = nullptr;
        QUORRIN_DEBUG_ERR(QUORRIN_AREA_MAIN, "%s: [ERROR] Failed to bind to IM: %s", zerr_strerror(rc));
        ptp_trace<PTP_TRACE_QUORRIN_MAIN_IM_BIND_FAILED>({quorrin_det()}, rc);
        return -1;
    }
    int32_t connid = -1;
    rc = imc_conn_ctx_to_connid(state.im_binding, &connid);
    if (rc != 0) {
        QUORRIN_DEBUG_ERR(QUORRIN_AREA_MAIN, "%s: [ERROR] Failed to get connection ID for IM connection: %s",
                          zerr_strerror(rc));
        ptp_trace<PTP_TRACE_QUORRIN_MAIN_IM_CONNID_FAILED>({quorrin_det()}, rc);
        return -1;
    }
    QUORRIN_DEBUG(QUORRIN_AREA_MAIN, "%s: Bound to IM");
    return 0;
}
