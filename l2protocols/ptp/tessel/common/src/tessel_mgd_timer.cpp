// Managed timers of the protocol thread.
#include "tessel_mgd_timer.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "ptp_debug.h"
#include "ptp_syslog.h"
#include "ptp_trace_points.h"
#include "ptp_zerr_codes.h"
#include "tessel_debug_areas.h"

namespace {

// The agent's port-manager debug area, where the protocol thread's timer failures are printed.
constexpr uint32_t mgd_timer_debug_area = tessel_debug_area("port_mgr");
// What a tree that could not be freed cleanly reports.
constexpr zerrno mgd_timer_free_error = 17;

mgd_timer_tree *tree = nullptr;
event_async_ctx_type tree_event{};
bool event_attached = false;

enum class report_to {
    syslog,
    debug
};

// Formats the description on the caller's stack (both agent threads may report), traces it with
// the error, then raises MGD_TIMER or prints the debug line.
void report(report_to where, zerrno rc, const char *format, ...) __attribute__((format(printf, 3, 4)));
void report(report_to where, zerrno rc, const char *format, ...)
{
    char description[256];
    va_list args;
    va_start(args, format);
    vsnprintf(description, sizeof description, format, args);
    va_end(args);

    ptp_trace<PTP_TRACE_TESSEL_MGD_TIMER_ERROR>(
        {ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_DET), ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_UNQ)},
        static_cast<const char *>(description), rc);
    if (where == report_to::syslog) {
        ptp_syslog_mgd_timer(description, zerr_strerror(rc));
        return;
    }
    const debug_event_type *table = ptp_debug_table_get();
    if (ptp_debug_enabled(table, mgd_timer_debug_area))
        ptp_debug_print(mgd_timer_debug_area, 0, PTP_DEBUG_LEVEL_ERROR, table,
                        "%s: [ERROR] Unexpected managed timer error encountered whilst %s: %s",
                        ptp_debug_area_label(mgd_timer_debug_area), description, zerr_strerror(rc));
}

// The errno of a failed platform call, or the managed-timer code when it left none: a failure
// must never read as success.
zerrno failure_code(int err)
{
    return err != 0 ? static_cast<zerrno>(err) : PTP_ZERR_MGD_TIMER;
}

} // namespace

zerrno tessel_mgd_timer_init(event_mgr_type *evm)
{
    tree_event = {};
    errno = 0;
    if (event_async_attach_event(evm, TESSEL_MGD_TIMER_EVENT_CLASS, tessel_mgd_timer_process, nullptr, &tree_event) ==
        -1) {
        int err = errno;
        report(report_to::debug, static_cast<zerrno>(err), "event_async_attach_event() failed");
        if (err != 0)
            return static_cast<zerrno>(err);
    } else {
        event_attached = true;
    }

    errno = 0;
    tree = mgd_timer_tree_new(&tree_event, 1);
    if (tree == nullptr) {
        zerrno rc = failure_code(errno);
        report(report_to::debug, rc, "Failed to create Mgd Timer tree");
        return rc;
    }
    return ZERR_OK;
}

void tessel_mgd_timer_shutdown()
{
    if (tree != nullptr) {
        if (mgd_timer_tree_free(tree) != ZERR_OK)
            report(report_to::debug, mgd_timer_free_error, "Failed to free Mgd Timer tree");
        tree = nullptr;
    }
    // An event still queued must not reach a tree that is gone.
    if (event_attached) {
        event_async_attach(tree_event.evm, tree_event.code, nullptr, nullptr);
        event_attached = false;
    }
}

zerrno tessel_mgd_timer_parent_new(mgd_timer_parent *parent, const char *name, mgd_timer_parent **out)
{
    if (out == nullptr)
        return PTP_ZERR_INVALID_ARG;
    errno = 0;
    *out = mgd_timer_parent_new(tree, parent);
    if (*out == nullptr) {
        zerrno rc = failure_code(errno);
        report(report_to::syslog, rc, "creating the %s timer parent", name != nullptr ? name : "");
        return rc;
    }
    return ZERR_OK;
}

void tessel_mgd_timer_parent_free(mgd_timer_parent *parent)
{
    mgd_timer_parent_free(parent);
}

zerrno tessel_mgd_timer_leaf_new(mgd_timer_parent *parent, tessel_mgd_timer_handler_fn_type handler, void *context,
                                 const char *name, mgd_timer_leaf **out)
{
    if (out == nullptr || handler == nullptr)
        return PTP_ZERR_INVALID_ARG;
    errno = 0;
    *out = mgd_timer_leaf_new(tree, parent, 0, context);
    if (*out == nullptr) {
        zerrno rc = failure_code(errno);
        report(report_to::syslog, rc, "creating a %s timer leaf", name != nullptr ? name : "");
        return rc;
    }
    mgd_timer_leaf_set_addl_context(*out, 0, reinterpret_cast<void *>(handler));
    return ZERR_OK;
}

void tessel_mgd_timer_leaf_free(mgd_timer_leaf *leaf)
{
    mgd_timer_leaf_free(leaf);
}

int tessel_mgd_timer_process(const event_async_ctx_type *event, int32_t, void *)
{
    for (uint32_t handled = 0; handled < TESSEL_MGD_TIMER_BATCH; ++handled) {
        if (tree == nullptr)
            return 0;
        mgd_timer_leaf *leaf = mgd_timer_tree_first_expired(tree);
        if (leaf == nullptr)
            return 0;
        // Stopped first, so that a handler restarting its leaf really restarts it.
        mgd_timer_leaf_stop(leaf);
        auto handler = reinterpret_cast<tessel_mgd_timer_handler_fn_type>(mgd_timer_leaf_get_addl_context(leaf, 0));
        void *context = mgd_timer_leaf_get_context(leaf);
        if (handler == nullptr) {
            report(report_to::debug, PTP_ZERR_MGD_TIMER, "running an expired timer leaf without a handler");
            continue;
        }
        handler(context);
    }
    // More may be due: let the thread's other events run first.
    const event_async_ctx_type &posted = event != nullptr ? *event : tree_event;
    event_send_async(posted.coid, posted.code, 0);
    return 0;
}
