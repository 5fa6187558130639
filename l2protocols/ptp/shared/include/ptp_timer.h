// Timer-wheel wrapper: one wheel per process, attached to the event manager of the thread that
// runs the process's protocol timers, and small timer records embedded in their owners. Every
// failure of the wheel is reported the same way (a debug line on the wrapper's area, a trace
// record in its two trace buffers and syslog TIMER) and, except during expiry, returned.
#pragma once

#include <cstdint>

#include "evm.h"
#include "jotlog.h"
#include "plat_debug.h"
#include "timer_wheel.h"
#include "zerrno.h"

struct ptp_timer_type;

// Called on expiry with the timer, its context and a stop flag preset to 0; setting *stop keeps a
// periodic timer from being re-armed. The callback may stop, restart or destroy its own timer;
// the wrapper then leaves the timer as the callback left it.
using ptp_timer_callback_fn = int (*)(ptp_timer_type *timer, void *context, int *stop);

inline constexpr uint8_t PTP_TIMER_FLAG_ALLOCATED = 0x01;
inline constexpr uint8_t PTP_TIMER_FLAG_PERIODIC = 0x02;

// Embedded in its owner's record; zero-initialise it.
struct ptp_timer_type {
    tw_handle_type entry;
    uint32_t period_ms;
    uint8_t flags;
    ptp_timer_callback_fn callback;
    void *context;
};

// Creates the process's wheel (two sizing values) and attaches it to evm; keeps the reporting
// context (two trace buffers, debug area and table).
zerrno ptp_timer_init(event_mgr_type *evm, uint32_t wheel_param1, uint32_t wheel_param2, jotlog_handle_type first,
                      jotlog_handle_type second, uint32_t debug_area, debug_event_type *debug_table);
// Detaches and destroys the wheel; timers still allocated on it are gone with it.
void ptp_timer_shutdown();
tw_wheel_type *ptp_timer_wheel_get();

zerrno ptp_timer_create(ptp_timer_type *timer, ptp_timer_callback_fn callback, void *context);
// Arms or re-arms the timer for period_ms; a periodic timer is re-armed after each expiry.
zerrno ptp_timer_start(ptp_timer_type *timer, uint32_t period_ms, bool periodic);
zerrno ptp_timer_create_and_start(ptp_timer_type *timer, uint32_t period_ms, bool periodic,
                                  ptp_timer_callback_fn callback, void *context);
// Disarms; the timer stays allocated and can be started again.
zerrno ptp_timer_stop(ptp_timer_type *timer);
// Frees the timer's wheel entry; nothing for a timer that is not allocated.
void ptp_timer_destroy(ptp_timer_type *timer);
bool ptp_timer_is_running(const ptp_timer_type *timer);

// The wheel's expiry callback and each timer's wheel callback.
void ptp_timer_process_expired(tw_wheel_type *wheel, void *context);
int ptp_timer_expiry_cb_fn(tw_wheel_type *wheel, tw_handle_type entry, void *context);
