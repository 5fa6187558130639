// The global verifier's process entry: start-up in a fixed order, the one event loop, teardown in
// reverse, the logical-router event, and the debug components and trace buffers it registers.
#include "sardo_main.h"

#include <syslog.h>
#include <unistd.h>

#include <cerrno>

#include "nodra.h"
#include "ptp_syslog.h"
#include "ptp_zerr_codes.h"
#include "sardo_cfg.h"
#include "sardo_debug.h"
#include "sardo_edm.h"
#include "sardo_platform.h"

namespace {

constexpr uint32_t AREA = SARDO_DEBUG_MAIN;

struct main_state_type {
    event_mgr_type *evm = nullptr;
    uint32_t node_id = 0;
    bool kvolm = false;
    bool exiting = false;
    bool library_present = false; // kept once found
};

main_state_type state;
debug_event_type debug_table[SARDO_DEBUG_COMPONENT_COUNT];
ptp_jotlog_buffer_type jotlog_buffers[] = {
    {SARDO_JOTLOG_DET, {1024, 8192, 0, 0}, nullptr},
    {SARDO_JOTLOG_SUM, {1024, 8192, 0, 0}, nullptr},
    {SARDO_JOTLOG_UNQ, {0, 0, 64, 256}, nullptr},
};
constexpr uint32_t JOTLOG_BUFFER_COUNT = std::size(jotlog_buffers);

zerrno init_failed(const char *prefix, zerrno rc)
{
    ptp_syslog_init_failed(prefix, zerr_strerror(rc));
    return rc;
}

void run_one_event()
{
    event_type *event = event_block(state.evm);
    if (event != nullptr) {
        zq_event_dispatch(event);
    } else if (errno != EINTR) {
        ptp_syslog_lost_event("PTP Global", zerr_strerror(PTP_ZERR_EVM | static_cast<zerrno>(errno)));
    }
}

// Start-up once the trace buffers are open; a failure has raised its own message.
zerrno start_up()
{
    ptp_trace<PTP_TRACE_SARDO_MAIN_START>({sardo_sum(), sardo_unq()});
    zerrno rc = platform_get_my_nodeid(&state.node_id);
    if (rc != 0) {
        return init_failed("Failed to look up local node ID: ", rc);
    }

    if ((rc = sardo_platform_capability_init(state.evm)) != 0) {
        return rc;
    }
    ptp_trace<PTP_TRACE_SARDO_MAIN_PLATFORM_CAPABILITY_SUCCESSFULLY_INITIALIZED>({sardo_det()});
    if ((rc = sardo_cfg_init(state.evm)) != 0) {
        return rc;
    }

    rc = lrd_am_i_kvolm(&state.kvolm);
    if (rc != 0) {
        return init_failed("Failed to find KVOLM state: ", rc);
    }
    ptp_trace<PTP_TRACE_SARDO_MAIN_INIT_KVOLM>({sardo_det()});

    if (state.kvolm) {
        if ((rc = sardo_edm_init(state.evm)) != 0) {
            return rc;
        }
    } else {
        sysmgr_set_target_node(0);
        rc = sysmgr_register_lr_event(state.evm, SYSMGR_LR_EVENT_KVOLM_ACTIVE, sardo_main_lr_event, state.evm);
        if (rc != 0) {
            return init_failed("Failed to register for LR events: ", rc);
        }
        ptp_trace<PTP_TRACE_SARDO_MAIN_INIT_LR_EVENTS>({sardo_det()});
    }

    rc = sysmgr_proc_ready();
    if (rc != 0) {
        return init_failed("Failed to signal end of initialization: ", rc);
    }
    ptp_trace<PTP_TRACE_SARDO_MAIN_INIT_EOI>({sardo_det()});
    return 0;
}

} // namespace

// ---- Debug components and trace buffers -------------------------------------------------------------

zerrno sardo_debug_init(event_mgr_type *evm)
{
    return ptp_debug_register(evm, debug_table, sardo_debug_components, SARDO_DEBUG_COMPONENT_COUNT, nullptr);
}

void sardo_debug_cleanup(void)
{
    ptp_debug_cleanup();
}

zerrno sardo_jotlog_init(void)
{
    const zerrno rc = ptp_jotlog_init(jotlog_buffers, JOTLOG_BUFFER_COUNT);
    if (rc != 0) {
        return rc;
    }
    ptp_jotlog_ctx_set(jotlog_buffers[0], jotlog_buffers[1], jotlog_buffers[2]);
    // The shared library's own reports (allocation failures) go to this process's buffers.
    ptp_utils_debug_init(sardo_det(), sardo_unq(), AREA, debug_table);
    return 0;
}

void sardo_jotlog_close(void)
{
    ptp_utils_debug_init(nullptr, nullptr, AREA, nullptr);
    ptp_jotlog_ctx_set({}, {}, {});
    ptp_jotlog_close(jotlog_buffers, JOTLOG_BUFFER_COUNT);
}

// ---- The process -----------------------------------------------------------------------------------

int sardo_main(int, char **)
{
    state = main_state_type{};
    zq_openlog("sardo", LOG_PID | LOG_CONS | LOG_NDELAY, LOG_DAEMON);
    state.evm = event_create_manager(nullptr, nullptr, 0);
    if (state.evm == nullptr) {
        init_failed("Failed to create event manager: ", PTP_ZERR_EVM | static_cast<zerrno>(errno));
        return 1;
    }
    if (sardo_debug_init(state.evm) != 0) {
        event_manager_destroy(state.evm);
        state.evm = nullptr;
        return 1;
    }
    SARDO_DEBUG(AREA, "%s: PTP global is (re)starting");

    int status = 1;
    const bool traced = sardo_jotlog_init() == 0;
    if (traced && start_up() == 0) {
        SARDO_DEBUG(AREA, "%s: Entering event loop");
        while (!state.exiting) {
            run_one_event();
        }
        SARDO_DEBUG(AREA, "%s: Exited event loop");
        status = 0;
    }

    SARDO_DEBUG(AREA, "%s: PTP global is exiting");
    if (traced) {
        ptp_trace<PTP_TRACE_SARDO_MAIN_EXIT>({sardo_sum(), sardo_unq()});
        sardo_edm_shutdown();
        sardo_cfg_shutdown();
        sardo_platform_capability_shutdown();
        sardo_jotlog_close();
    }
    sardo_debug_cleanup();
    event_manager_destroy(state.evm);
    state.evm = nullptr;
    return status;
}

void sardo_main_request_exit(void)
{
    state.exiting = true;
    sysmgr_proc_exiting();
}

uint32_t sardo_main_get_node_id(void)
{
    return state.node_id;
}

int sardo_main_lr_event(const sysmgr_lr_event_type *event, void *context)
{
    if (event == nullptr || event->kind != SYSMGR_LR_EVENT_KVOLM_ACTIVE) {
        return 0;
    }
    SARDO_DEBUG(AREA, "%s: Received KVOLM active event");
    ptp_trace<PTP_TRACE_SARDO_MAIN_GOING_ACTIVE>({sardo_sum()});
    state.kvolm = true;
    sardo_edm_init(static_cast<event_mgr_type *>(context));
    return 0;
}

bool sardo_main_nodra_library_present(void)
{
    if (!state.library_present) {
        state.library_present = access(nodra_client_library_path(), R_OK) == 0;
    }
    return state.library_present;
}
