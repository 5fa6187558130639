// Timer-wheel wrapper.
#include "ptp_timer.h"

#include <cstdlib>

#include "ptp_debug.h"
#include "ptp_report_ctx.h"
#include "ptp_syslog.h"
#include "ptp_trace_points.h"

namespace {

tw_wheel_type *wheel = nullptr;

// The timer whose callback is running, and whether the callback stopped, restarted or destroyed
// it: then the callback has decided the timer's fate and the wrapper must not re-arm it (nor
// touch it at all, as its owner may have freed it).
struct expiring_type {
    ptp_timer_type *timer = nullptr;
    bool touched = false;
};
thread_local expiring_type expiring;

void note_touched(const ptp_timer_type *timer)
{
    if (expiring.timer != nullptr && expiring.timer == timer)
        expiring.touched = true;
}

// Trace and syslog part of a failure report; the caller prints its own debug line first.
template <const ptp_trace_point_type &P>
void report(const char *doing, zerrno rc)
{
    ptp_report_ctx_type &ctx = ptp_report_ctx_timer();
    ptp_trace<P>({ctx.first.load(), ctx.second.load()}, rc);
    ptp_syslog_timer(doing, zerr_strerror(rc));
}

} // namespace

// The debug line of a failure, when the wrapper's area is on: "<LABEL>: <text>".
#define PTP_TIMER_DEBUG(text, rc)                                                                                      \
    do {                                                                                                               \
        ptp_report_ctx_type &ctx_ = ptp_report_ctx_timer();                                                            \
        const uint32_t area_ = ctx_.area.load();                                                                       \
        const debug_event_type *table_ = ctx_.table.load();                                                            \
        if (ptp_debug_enabled(table_, area_))                                                                          \
            ptp_debug_print(area_, 0, PTP_DEBUG_LEVEL_ERROR, table_, "%s: " text, ptp_debug_area_label(area_),         \
                            zerr_strerror(rc));                                                                        \
    } while (0)

zerrno ptp_timer_init(event_mgr_type *evm, uint32_t wheel_param1, uint32_t wheel_param2, jotlog_handle_type first,
                      jotlog_handle_type second, uint32_t debug_area, debug_event_type *debug_table)
{
    ptp_report_ctx_type &ctx = ptp_report_ctx_timer();
    ctx.first = first;
    ctx.second = second;
    ctx.area = debug_area;
    ctx.table = debug_table;

    zerrno rc = tw_create_wheel_2(wheel_param1, wheel_param2, 0, &wheel, nullptr, nullptr, ptp_timer_process_expired,
                                  nullptr, 2);
    if (rc != ZERR_OK) {
        wheel = nullptr;
        PTP_TIMER_DEBUG("tw_create_wheel_2() returned an error: %s", rc);
        report<PTP_TRACE_UTIL_TW_CREATE_WHEEL_FAILED>("creating timer wheel", rc);
        return rc;
    }
    rc = tw_evm_attach(wheel, evm);
    if (rc != ZERR_OK) {
        PTP_TIMER_DEBUG("tw_evm_attach() returned an error: %s", rc);
        report<PTP_TRACE_UTIL_TW_EVM_ATTACH_FAILED>("attaching EVM to timer wheel", rc);
        // A wheel that never runs would only be leaked.
        tw_destroy_wheel(wheel);
        wheel = nullptr;
        return rc;
    }
    return ZERR_OK;
}

void ptp_timer_shutdown()
{
    if (wheel == nullptr)
        return;
    tw_evm_detach(wheel);
    tw_destroy_wheel(wheel);
    wheel = nullptr;
}

tw_wheel_type *ptp_timer_wheel_get()
{
    return wheel;
}

zerrno ptp_timer_create(ptp_timer_type *timer, ptp_timer_callback_fn callback, void *context)
{
    note_touched(timer);
    // Creating over an allocated timer would leave its old entry armed and unreachable.
    if ((timer->flags & PTP_TIMER_FLAG_ALLOCATED) != 0)
        ptp_timer_destroy(timer);
    timer->period_ms = 0;
    timer->flags &= static_cast<uint8_t>(~PTP_TIMER_FLAG_PERIODIC);
    timer->callback = callback;
    timer->context = context;
    zerrno rc = wheel != nullptr ? tw_alloc(wheel, ptp_timer_expiry_cb_fn, &timer->entry, timer) : TW_ERR_INVALID;
    if (rc != ZERR_OK) {
        PTP_TIMER_DEBUG("tw_alloc() returned an error: %s", rc);
        report<PTP_TRACE_UTIL_TW_ALLOC_FAILED>("creating timer", rc);
        return rc;
    }
    timer->flags |= PTP_TIMER_FLAG_ALLOCATED;
    return ZERR_OK;
}

zerrno ptp_timer_start(ptp_timer_type *timer, uint32_t period_ms, bool periodic)
{
    note_touched(timer);
    timer->period_ms = period_ms;
    if (periodic)
        timer->flags |= PTP_TIMER_FLAG_PERIODIC;
    else
        timer->flags &= static_cast<uint8_t>(~PTP_TIMER_FLAG_PERIODIC);
    zerrno rc = wheel != nullptr ? tw_update(wheel, timer->entry, period_ms, 0) : TW_ERR_INVALID;
    if (rc != ZERR_OK) {
        PTP_TIMER_DEBUG("tw_update() returned an error: %s", rc);
        report<PTP_TRACE_UTIL_TW_UPDATE_FAILED>("starting timer", rc);
        return rc;
    }
    return ZERR_OK;
}

zerrno ptp_timer_create_and_start(ptp_timer_type *timer, uint32_t period_ms, bool periodic,
                                  ptp_timer_callback_fn callback, void *context)
{
    zerrno rc = ptp_timer_create(timer, callback, context);
    if (rc != ZERR_OK)
        return rc;
    return ptp_timer_start(timer, period_ms, periodic);
}

zerrno ptp_timer_stop(ptp_timer_type *timer)
{
    note_touched(timer);
    zerrno rc = wheel != nullptr ? tw_stop_2(wheel, timer->entry) : TW_ERR_INVALID;
    if (rc != ZERR_OK) {
        PTP_TIMER_DEBUG("tw_stop_2() returned an error: %s", rc);
        report<PTP_TRACE_UTIL_TW_STOP_FAILED>("stopping timer", rc);
        return rc;
    }
    return ZERR_OK;
}

void ptp_timer_destroy(ptp_timer_type *timer)
{
    if ((timer->flags & PTP_TIMER_FLAG_ALLOCATED) == 0)
        return;
    note_touched(timer);
    // After the wheel's shutdown its entries are gone already: nothing left to free.
    if (wheel != nullptr) {
        zerrno rc = tw_untimeout(wheel, timer->entry);
        if (rc != ZERR_OK) {
            PTP_TIMER_DEBUG("tw_untimeout() returned an error: %s", rc);
            report<PTP_TRACE_UTIL_TW_UNTIMEOUT_FAILED>("destroying timer", rc);
        }
    }
    timer->flags &= static_cast<uint8_t>(~PTP_TIMER_FLAG_ALLOCATED);
    timer->entry = 0;
}

bool ptp_timer_is_running(const ptp_timer_type *timer)
{
    return wheel != nullptr && (timer->flags & PTP_TIMER_FLAG_ALLOCATED) != 0 &&
           tw_sleeping_2(wheel, timer->entry) == 0;
}

void ptp_timer_process_expired(tw_wheel_type *expired_wheel, void *)
{
    bool more = false;
    do {
        zerrno rc = tw_process_next_expired_timer(expired_wheel, &more);
        if (rc != ZERR_OK) {
            PTP_TIMER_DEBUG("tw_process_next_expired_timer() returned an error, exiting: %s", rc);
            report<PTP_TRACE_UTIL_TW_PROCESS_FAILED>("processing next timer - exiting", rc);
            exit(1);
        }
    } while (more);
}

int ptp_timer_expiry_cb_fn(tw_wheel_type *, tw_handle_type, void *context)
{
    auto *timer = static_cast<ptp_timer_type *>(context);
    if (timer == nullptr || timer->callback == nullptr)
        return 0;

    const expiring_type outer = expiring;
    expiring = {timer, false};
    int stop = 0;
    int result = timer->callback(timer, timer->context, &stop);
    const bool touched = expiring.touched;
    expiring = outer;
    if (touched)
        return result;

    if (stop == 0 && (timer->flags & PTP_TIMER_FLAG_PERIODIC) != 0 && wheel != nullptr) {
        zerrno rc = tw_update(wheel, timer->entry, timer->period_ms, 0);
        if (rc != ZERR_OK) {
            PTP_TIMER_DEBUG("tw_update() returned an error, timer will not be re-armed: %s", rc);
            report<PTP_TRACE_UTIL_TW_REARM_FAILED>("re-arming timer wheel", rc);
        }
    }
    return result;
}
