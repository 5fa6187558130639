// A pulser: any number of pulses before the event manager gets to it become one call of its
// callback, on the event manager's thread. For work that is cheaper in one pass than per request
// (e.g. one registration of every new peer after a burst of new peers).
#pragma once

#include <cstdint>

#include "evm.h"

using util_pulser_cb_fn = void (*)(void *context);

struct util_pulser_h_type {
    event_mgr_type *evm;
    int32_t event_code; // -1 once detached
    int32_t coid;
    uint8_t posted; // a pulse is queued and not yet handled
    util_pulser_cb_fn callback;
    void *context;
};

// Attaches the pulser's event (class 128) to evm; a failure to attach ends the process.
util_pulser_h_type *util_pulser_create(event_mgr_type *evm, util_pulser_cb_fn callback, void *context);
// Queues one call of the callback unless one is queued; a pulse without pulser, or a failure to
// post, ends the process.
void util_pulser_pulse(util_pulser_h_type *pulser);
// The event handler: clears the posted mark, then calls the callback.
int util_pulser_pulsed_fn(const event_async_ctx_type *event, int32_t value, void *context);
// Detaches the event (a queued pulse is dropped), frees the pulser and clears the handle.
void util_pulser_destroy(util_pulser_h_type **pulser);
