#include "tessel_main.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <syslog.h>

#include "ptp_debug.h"
#include "ptp_syslog.h"
#include "ptp_trace.h"
#include "ptp_trace_points.h"
#include "ptp_zerr_codes.h"
#include "qor_log.h"
#include "tessel_debug_areas.h"
#include "tessel_fsm.h"
#include "tessel_im.h"
#include "tessel_intf_caps.h"
#include "tessel_ipc_db.h"
#include "tessel_ipc_deps.h"
#include "tessel_packet.h"
#include "tessel_thread_ctrl.h"
#include "tessel_trace_buffers.h"

namespace {

constexpr uint32_t AREA_MAIN = tessel_debug_area("main");
constexpr uint32_t AREA_UTILS = tessel_debug_area("utils");

// ---- Process-wide state of the entry (IPC thread) ----
bool active;
// Also set from the termination-signal event; read by the loop after each event.
std::atomic<bool> exit_flag;
event_mgr_type *ipc_evm;
bool kvolm;

debug_event_type debug_table[TESSEL_DEBUG_AREA_COUNT];
bool debug_registered;
ptp_jotlog_buffer_type trace_buffers[TESSEL_TRACE_BUFFER_COUNT];

// The termination signals: a thread of their own waits for them and hands them to the loop as an
// event, so that the agent tears down in order instead of dying in a signal handler.
event_async_ctx_type term_event;
pthread_t signal_thread;
bool signal_thread_started;

#define MAIN_DEBUG(format, ...)                                                                                        \
    do {                                                                                                               \
        if (ptp_debug_enabled(debug_table, AREA_MAIN)) {                                                               \
            ptp_debug_print(AREA_MAIN, 0, PTP_DEBUG_LEVEL_SUPPORT, debug_table, format,                                \
                            ptp_debug_area_label(AREA_MAIN) __VA_OPT__(, ) __VA_ARGS__);                               \
        }                                                                                                              \
    } while (0)

jotlog_handle_type det()
{
    return trace_buffers[TESSEL_TRACE_BUFFER_DET].handle;
}
jotlog_handle_type sum()
{
    return trace_buffers[TESSEL_TRACE_BUFFER_SUM].handle;
}
jotlog_handle_type unq()
{
    return trace_buffers[TESSEL_TRACE_BUFFER_UNQ].handle;
}

zerrno init_failed(const char *prefix, zerrno rc)
{
    ptp_syslog_init_failed(prefix, zerr_strerror(rc));
    return rc;
}

sigset_t term_signals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

int term_event_cb(const event_async_ctx_type *, int32_t, void *)
{
    MAIN_DEBUG("%s: Termination signal received, PTP is stopping.");
    exit_flag = true;
    return 0;
}

void *signal_thread_main(void *)
{
    set_thread_name("Signal Thread");
    const sigset_t set = term_signals();
    int sig = 0;
    while (sigwait(&set, &sig) == 0) {
        if (sig == SIGTERM || sig == SIGINT) {
            event_send_async(term_event.coid, term_event.code, sig);
            break;
        }
    }
    return nullptr;
}

// Before any other thread exists, so that every later thread inherits the blocked signals.
void term_signals_start()
{
    const sigset_t set = term_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    if (event_async_attach_event(ipc_evm, 0, term_event_cb, nullptr, &term_event) < 0) {
        return;
    }
    signal_thread_started = pthread_create(&signal_thread, nullptr, signal_thread_main, nullptr) == 0;
}

void term_signals_stop()
{
    if (signal_thread_started) {
        pthread_kill(signal_thread, SIGTERM);
        pthread_join(signal_thread, nullptr);
        signal_thread_started = false;
    }
}

// Steps a to d of going active; the first failure ends the chain and is the result.
zerrno go_active()
{
    MAIN_DEBUG("%s: Going active");
    ptp_trace<PTP_TRACE_TESSEL_MAIN_GOING_ACTIVE>({sum()});
    active = true;
    zerrno rc = tessel_thread_ctrl_init();
    if (rc != 0) {
        return rc;
    }
    rc = tessel_im_init(ipc_evm);
    if (rc != 0) {
        return rc;
    }
    return tessel_edm_init(ipc_evm);
}

bool first_record(tessel_ipc_idb_type *idb, void *context)
{
    *static_cast<tessel_ipc_idb_type **>(context) = idb;
    return false;
}

// Records left when the agent stops with configuration still in place (a termination signal):
// the database is destroyed only empty.
void ipc_db_delete_all()
{
    while (tessel_ipc_db_get_count() > 0) {
        tessel_ipc_idb_type *idb = nullptr;
        tessel_ipc_db_walk(first_record, &idb, nullptr, false);
        if (idb == nullptr) {
            break;
        }
        tessel_ipc_db_delete(idb);
    }
}

void teardown()
{
    ptp_trace<PTP_TRACE_TESSEL_MAIN_EXIT>({sum(), unq()});
    tessel_edm_shutdown();
    tessel_cfg_shutdown();
    tessel_intf_caps_shutdown();
    tessel_im_shutdown();
    tessel_ipc_state_reset();
    tessel_thread_ctrl_shutdown();
    ipc_db_delete_all();
    tessel_ipc_db_destroy();
    tessel_jotlog_close();
    tessel_debug_cleanup();
    term_signals_stop();
    event_manager_destroy(ipc_evm);
    ipc_evm = nullptr;
}

// Steps 3 to 15; false when start-up failed and what came up was undone.
bool start_up()
{
    if (tessel_debug_init(ipc_evm, tessel_im_ctrl_ctx_ref()) != 0) {
        term_signals_stop();
        event_manager_destroy(ipc_evm);
        ipc_evm = nullptr;
        return false;
    }
    MAIN_DEBUG("%s: PTP is (re)starting.");
    if (tessel_jotlog_init() != 0) {
        tessel_debug_cleanup();
        term_signals_stop();
        event_manager_destroy(ipc_evm);
        ipc_evm = nullptr;
        return false;
    }
    ptp_trace<PTP_TRACE_TESSEL_MAIN_START>({sum(), unq()});
    ptp_utils_debug_init(unq(), det(), AREA_UTILS, debug_table);

    if (tessel_chkpt_init(ipc_evm) != 0 || tessel_intf_caps_init(ipc_evm) != 0) {
        teardown();
        return false;
    }
    zerrno rc = lrd_am_i_kvolm(&kvolm);
    if (rc != 0) {
        init_failed("Failed to find KVOLM satet: ", rc);
        teardown();
        return false;
    }
    if (platform_am_i_lc() || kvolm) {
        // Failures here are reported by the failing module; the agent stays up with what came up.
        go_active();
    } else {
        sysmgr_set_target_node(0);
        rc = sysmgr_register_lr_event(ipc_evm, TESSEL_LR_EVENT_KVOLM_ACTIVE, tessel_main_lr_event, ipc_evm);
        if (rc != 0) {
            init_failed("Failed to register for LR events: ", rc);
            teardown();
            return false;
        }
    }
    if (tessel_ipc_db_init() != 0) {
        teardown();
        return false;
    }
    tessel_ipc_post_db_init();
    if (tessel_cfg_init(ipc_evm) != 0) {
        teardown();
        return false;
    }
    rc = sysmgr_proc_ready();
    if (rc != 0) {
        init_failed("Failed to signal end of initialization: ", rc);
        teardown();
        return false;
    }
    return true;
}

} // namespace

int tessel_main(void)
{
    zq_openlog("tessel", LOG_PID | LOG_CONS | LOG_NDELAY, LOG_DAEMON);
    ipc_evm = event_create_manager(nullptr, nullptr, 0);
    if (ipc_evm == nullptr) {
        init_failed("Failed to create event manager: ", PTP_ZERR_EVM | errno);
        return 1;
    }
    term_signals_start();
    if (!start_up()) {
        return 1;
    }

    MAIN_DEBUG("%s: Entering event loop.");
    while (!exit_flag) {
        event_type *event = event_block(ipc_evm);
        if (event != nullptr) {
            zq_event_dispatch(event);
        } else {
            ptp_syslog_lost_event("Tessel", zerr_strerror(PTP_ZERR_EVM | errno));
        }
    }
    teardown();
    return 0;
}

bool tessel_main_is_active(void)
{
    return active;
}

void tessel_main_request_exit(void)
{
    exit_flag = true;
    sysmgr_proc_exiting();
}

int tessel_main_lr_event(const sysmgr_lr_event_type *event, void *)
{
    if (event == nullptr || event->kind != TESSEL_LR_EVENT_KVOLM_ACTIVE || active) {
        // One protocol thread per process: a repeated event, or one on a node that went active
        // at start-up, changes nothing.
        return 0;
    }
    return static_cast<int>(go_active());
}

zerrno tessel_debug_init(event_mgr_type *evm, imc_ctx_type **im_ctx)
{
    const zerrno rc = ptp_debug_register(evm, debug_table, tessel_debug_areas, TESSEL_DEBUG_AREA_COUNT,
                                         im_ctx != nullptr ? *im_ctx : nullptr);
    debug_registered = rc == 0;
    return rc;
}

void tessel_debug_cleanup(void)
{
    if (debug_registered) {
        ptp_debug_cleanup();
        debug_registered = false;
    }
}

zerrno tessel_jotlog_init(void)
{
    for (uint32_t i = 0; i < TESSEL_TRACE_BUFFER_COUNT; i++) {
        trace_buffers[i] = tessel_trace_buffers[i];
    }
    const zerrno rc = ptp_jotlog_init(trace_buffers, TESSEL_TRACE_BUFFER_COUNT);
    if (rc == 0) {
        ptp_jotlog_ctx_set(trace_buffers[TESSEL_TRACE_BUFFER_DET], trace_buffers[TESSEL_TRACE_BUFFER_SUM],
                           trace_buffers[TESSEL_TRACE_BUFFER_UNQ]);
        // Sent, received and dropped messages are traced into the packet buffer by these two.
        tessel_packet_trace_set(trace_buffers[TESSEL_TRACE_BUFFER_PKT].handle);
        ptp_fsm_packet_trace_set(trace_buffers[TESSEL_TRACE_BUFFER_PKT].handle);
    }
    return rc;
}

void tessel_jotlog_close(void)
{
    tessel_packet_trace_set(nullptr);
    ptp_fsm_packet_trace_set(nullptr);
    ptp_jotlog_ctx_set(ptp_jotlog_buffer_type{}, ptp_jotlog_buffer_type{}, ptp_jotlog_buffer_type{});
    ptp_jotlog_close(trace_buffers, TESSEL_TRACE_BUFFER_COUNT);
}

void tessel_ipc_post_db_init(void) {}

void tessel_main_test_reset(void)
{
    active = false;
    exit_flag = false;
    kvolm = false;
}
