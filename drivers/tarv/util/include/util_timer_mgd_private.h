// A timer interface given as a table of operations, over the platform's managed timers and one
// asynchronous event of the owner's event manager. Timers are one-shot: nothing re-arms a timer
// but its owner. Single-threaded: every call and every expiry runs on the thread that serves the
// event manager. Failures of this layer (allocation, missing handles, platform set-up) end the
// process by assertion; there are no error returns.
#pragma once

#include <cstdint>

#include "evm.h"
#include "mgd_timer.h"

struct util_timer_mgr_h_type;
struct util_timer_h_type;

// Called with (manager, 0, context) before and (manager, 1, context) after each pass over the
// expired timers.
using util_timer_expiry_hook_fn = void (*)(util_timer_mgr_h_type *mgr, int after, void *context);
// Called for every expired timer with the timer's callback context.
using util_timer_callback_fn = void (*)(util_timer_mgr_h_type *mgr, util_timer_h_type *timer, uint64_t context);

// The 11-slot operations table, in slot order.
struct util_timer_ops_type {
    void (*mgr_destroy)(util_timer_mgr_h_type **mgr);
    bool (*mgr_is_running)(util_timer_mgr_h_type *mgr);
    void (*create)(util_timer_mgr_h_type *mgr, uint32_t interval_ms, uint64_t context, util_timer_h_type **timer);
    void (*destroy)(util_timer_mgr_h_type *mgr, util_timer_h_type **timer);
    void (*start)(util_timer_mgr_h_type *mgr, util_timer_h_type *timer);
    void (*start_and_fire)(util_timer_mgr_h_type *mgr, util_timer_h_type *timer);
    void (*restart)(util_timer_mgr_h_type *mgr, util_timer_h_type *timer);
    void (*stop)(util_timer_mgr_h_type *mgr, util_timer_h_type *timer);
    void (*set_interval_ms)(util_timer_mgr_h_type *mgr, util_timer_h_type *timer, uint32_t ms);
    uint32_t (*get_interval_ms)(util_timer_mgr_h_type *mgr, util_timer_h_type *timer);
    bool (*is_running)(util_timer_mgr_h_type *mgr, util_timer_h_type *timer);
};

struct util_timer_mgd_private_type;

struct util_timer_mgr_h_type {
    util_timer_ops_type ops;
    util_timer_expiry_hook_fn hook;
    void *hook_context;
    util_timer_callback_fn timer_cb;
    util_timer_mgd_private_type *priv;
};

struct util_timer_h_type {
    uint64_t context;
    uint32_t interval_ms;
    mgd_timer_leaf *leaf;
    util_timer_mgr_h_type *mgr;
};

struct util_timer_mgr_init_type {
    event_mgr_type *evm;
    util_timer_expiry_hook_fn hook; // optional
    void *hook_context;
    util_timer_callback_fn timer_cb;
};

extern const util_timer_ops_type util_timer_mgd_ops;

void util_timer_mgd_mgr_create(const util_timer_mgr_init_type *init, util_timer_mgr_h_type **mgr);

// The operations of the table, also callable by name.
void util_timer_mgd_mgr_destroy(util_timer_mgr_h_type **mgr);
bool util_timer_mgd_mgr_is_running(util_timer_mgr_h_type *mgr);
void util_timer_mgd_create(util_timer_mgr_h_type *mgr, uint32_t interval_ms, uint64_t context,
                           util_timer_h_type **timer);
void util_timer_mgd_destroy(util_timer_mgr_h_type *mgr, util_timer_h_type **timer);
void util_timer_mgd_start(util_timer_mgr_h_type *mgr, util_timer_h_type *timer);
void util_timer_mgd_start_and_fire(util_timer_mgr_h_type *mgr, util_timer_h_type *timer);
void util_timer_mgd_restart(util_timer_mgr_h_type *mgr, util_timer_h_type *timer);
void util_timer_mgd_stop(util_timer_mgr_h_type *mgr, util_timer_h_type *timer);
void util_timer_mgd_set_interval_ms(util_timer_mgr_h_type *mgr, util_timer_h_type *timer, uint32_t ms);
uint32_t util_timer_mgd_get_interval_ms(util_timer_mgr_h_type *mgr, util_timer_h_type *timer);
bool util_timer_mgr_is_running(util_timer_mgr_h_type *mgr, util_timer_h_type *timer);

// The event's handler: runs the expiry pass.
int util_timer_mgd_timer_expired(const event_async_ctx_type *event, int32_t value, void *context);
