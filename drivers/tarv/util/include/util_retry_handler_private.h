// A retry handler: calls its callback after an interval that doubles with every attempt (125 ms
// up to 64000 ms). The owner starts it after a failure and again after each failed attempt; a
// request brings the interval back to 125 ms for the next start. Built on the timer layer of
// util_timer_mgd_private.h; single-threaded like it.
#pragma once

#include <cstdint>

#include "util_timer_mgd_private.h"

inline constexpr uint32_t UTIL_RETRY_INTERVAL_MIN_MS = 125;
inline constexpr uint32_t UTIL_RETRY_INTERVAL_MAX_MS = 64000;
// Retries running longer than this (in ns, strictly more) call the long-retry callback.
inline constexpr uint64_t UTIL_RETRY_LONG_NS = 120000000000ull;

struct util_retry_handler_type;
using util_retry_callback_fn = void (*)(util_retry_handler_type *handler, void *context);
using util_retry_long_fn = void (*)(util_retry_handler_type *handler);

struct util_retry_handler_type {
    event_mgr_type *evm;
    const char *name;
    util_retry_callback_fn callback;
    void *callback_context;
    util_retry_long_fn long_retry_cb;
    util_timer_mgr_h_type *timer_mgr;
    util_timer_h_type *timer;
    uint32_t interval_ms;
    uint32_t attempts;
    uint64_t first_start;
    uint64_t start_stamp;
    uint8_t skip;
    uint8_t pending;
    uint8_t external_mgr;
};

struct util_retry_handler_init_type {
    event_mgr_type *evm;
    const char *name; // kept, not copied
    util_retry_callback_fn callback;
    void *callback_context;
    util_timer_mgr_h_type *timer_mgr; // optional: a manager whose timer callback is util_retry_handler_timer_fired
    util_retry_long_fn long_retry_cb; // optional
};

util_retry_handler_type *util_retry_handler_create(const util_retry_handler_init_type *init);
// Stop and free the handler (and the manager it created); clears the handle.
void util_retry_handler_destroy(util_retry_handler_type **handler);
// Ask for a retry: the next start runs at the shortest interval.
void util_retry_handler_request(util_retry_handler_type *handler);
// Start the timer with the handler's interval unless it runs (a pending request restarts it).
void util_retry_handler_start(util_retry_handler_type *handler);
bool util_retry_handler_is_running(util_retry_handler_type *handler);
// Stop the timer and forget the retries: interval 125 ms, no attempts, no start stamps.
void util_retry_handler_reset(util_retry_handler_type *handler);
// The next expiry is consumed without an attempt.
void util_retry_handler_skip_next(util_retry_handler_type *handler);

// A long-retry callback for owners that want a lasting failure in the system log: names the
// handler, its attempts and how long it has been retrying.
void util_retry_handler_log(util_retry_handler_type *handler);

// Timer callback of the handler's manager: one attempt.
void util_retry_handler_timer_fired(util_timer_mgr_h_type *mgr, util_timer_h_type *timer, uint64_t context);
