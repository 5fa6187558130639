// The pulser: one asynchronous event per burst of pulses.
#include "util_pulser.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void pulser_fatal(const char *what)
{
    std::fprintf(stderr, "util_pulser: %s\n", what);
    std::abort();
}

} // namespace

util_pulser_h_type *util_pulser_create(event_mgr_type *evm, util_pulser_cb_fn callback, void *context)
{
    auto *pulser = new (std::nothrow) util_pulser_h_type{evm, -1, -1, 0, callback, context};
    if (pulser == nullptr) {
        pulser_fatal("result != NULL");
    }
    event_async_ctx_type ctx{};
    pulser->event_code = event_async_attach_event(evm, 128, util_pulser_pulsed_fn, pulser, &ctx);
    if (pulser->event_code == -1) {
        pulser_fatal("event_async_attach_event failed");
    }
    pulser->coid = ctx.coid;
    return pulser;
}

void util_pulser_pulse(util_pulser_h_type *pulser)
{
    if (pulser == nullptr) {
        pulser_fatal("pulse without pulser");
    }
    if (pulser->posted != 0) {
        return;
    }
    if (event_send_async(pulser->coid, pulser->event_code, 0) != 0) {
        pulser_fatal("event_send_async failed");
    }
    pulser->posted = 1;
}

int util_pulser_pulsed_fn(const event_async_ctx_type *, int32_t, void *context)
{
    auto *pulser = static_cast<util_pulser_h_type *>(context);
    pulser->posted = 0;
    pulser->callback(pulser->context);
    return 0;
}

void util_pulser_destroy(util_pulser_h_type **pulser)
{
    if (pulser == nullptr || *pulser == nullptr) {
        return;
    }
    if ((*pulser)->event_code != -1) {
        event_async_attach((*pulser)->evm, (*pulser)->event_code, nullptr, nullptr);
        (*pulser)->event_code = -1;
    }
    delete *pulser;
    *pulser = nullptr;
}
