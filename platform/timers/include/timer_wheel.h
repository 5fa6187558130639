// Timer wheels: many millisecond timers of one thread, driven by the event manager the wheel is
// attached to. When the wheel's earliest timer is due, the manager calls the wheel's expiry
// callback (given at creation), which takes the expired timers one at a time with
// tw_process_next_expired_timer; each timer's own callback runs from there. Expiry is exact to
// the platform clock's nanosecond; timers due at the same time expire in the order they were
// armed.
//
// Not thread-safe: a wheel and its timers are used by the thread that serves the attached
// manager. A timer may be re-armed, stopped or freed from any callback, its own included.
#pragma once

#include <cstdint>

#include "evm.h"
#include "zerrno.h"

struct tw_wheel_type;
using tw_handle_type = uint64_t; // a timer of a wheel; 0 is never a valid timer

// A timer's callback, called when it expires (it is no longer armed then). The result is
// returned by tw_process_next_expired_timer's caller's business only; the wheel ignores it.
using tw_callback_fn = int (*)(tw_wheel_type *wheel, tw_handle_type timer, void *context);
// The wheel's expiry callback, run by the manager when timers are due. A null one makes the
// wheel process every expired timer itself.
using tw_expired_fn = void (*)(tw_wheel_type *wheel, void *context);

// Error codes of the timer facilities (facility TIMERS_ZERR_FACILITY).
inline constexpr uint32_t TIMERS_ZERR_FACILITY = 0x7f02;
inline constexpr zerrno TW_ERR_INVALID = zerr_make(TIMERS_ZERR_FACILITY, 1, 22 /*EINVAL*/);
inline constexpr zerrno TW_ERR_NO_MEMORY = zerr_make(TIMERS_ZERR_FACILITY, 2, 12 /*ENOMEM*/);
inline constexpr zerrno TW_ERR_BAD_TIMER = zerr_make(TIMERS_ZERR_FACILITY, 3, 2 /*ENOENT*/);
inline constexpr zerrno TW_ERR_ATTACHED = zerr_make(TIMERS_ZERR_FACILITY, 4, 16 /*EBUSY*/);
inline constexpr zerrno TW_ERR_NOT_ATTACHED = zerr_make(TIMERS_ZERR_FACILITY, 5, 22 /*EINVAL*/);

// Create a wheel. slots and granularity are sizing hints, recorded only (expiry is exact);
// flags, reserved1, reserved2 and mode are recorded only. 0 and *wheel, or TW_ERR_INVALID (null
// out pointer) / TW_ERR_NO_MEMORY.
zerrno tw_create_wheel_2(uint32_t slots, uint32_t granularity, uint32_t flags, tw_wheel_type **wheel, void *reserved1,
                         void *reserved2, tw_expired_fn expired, void *context, uint32_t mode);
// Attach to a manager (one at a time): from now on due timers are processed on its thread.
// TW_ERR_ATTACHED when already attached.
zerrno tw_evm_attach(tw_wheel_type *wheel, event_mgr_type *evm);
// Detach: timers stay armed but nothing fires until the wheel is attached again.
zerrno tw_evm_detach(tw_wheel_type *wheel);
// Destroy the wheel and every timer still allocated on it (their handles become invalid).
zerrno tw_destroy_wheel(tw_wheel_type *wheel);

// Allocate a timer (not armed) with its callback and context; its handle goes to *timer.
zerrno tw_alloc(tw_wheel_type *wheel, tw_callback_fn callback, tw_handle_type *timer, void *context);
// Arm, or re-arm, the timer to expire period_ms from now. flags recorded only.
zerrno tw_update(tw_wheel_type *wheel, tw_handle_type timer, uint32_t period_ms, uint32_t flags);
// Disarm; the timer stays allocated. Stopping a timer that is not armed is not an error.
zerrno tw_stop_2(tw_wheel_type *wheel, tw_handle_type timer);
// Disarm and free the timer; its handle becomes invalid (a later use gives TW_ERR_BAD_TIMER).
zerrno tw_untimeout(tw_wheel_type *wheel, tw_handle_type timer);
// 0 when the timer is armed, 1 when it is allocated and not armed, -1 for an invalid handle.
int tw_sleeping_2(tw_wheel_type *wheel, tw_handle_type timer);
// Expire the earliest due timer, if any: disarm it and call its callback. *more tells whether
// another timer is due in this pass. A pass runs from the first call to the one that gives
// *more false and takes only the timers due at its start and armed before it: one armed or
// re-armed meanwhile, even for 0 ms, waits for the next pass. 0, or TW_ERR_INVALID for null
// arguments.
zerrno tw_process_next_expired_timer(tw_wheel_type *wheel, bool *more);

// Test control and diagnostics.
uint32_t tw_armed_count(const tw_wheel_type *wheel);
uint32_t tw_allocated_count(const tw_wheel_type *wheel);
// Milliseconds (rounded up) until the timer expires; TW_ERR_BAD_TIMER for an invalid handle or a
// timer not armed.
zerrno tw_remaining_ms(tw_wheel_type *wheel, tw_handle_type timer, uint64_t *ms);
