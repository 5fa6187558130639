// Retry handler: an attempt after an interval that doubles with every attempt.
#include "util_retry_handler_private.h"

#include <cstdio>
#include <cstdlib>

#include "plat_clock.h"
#include "ptp_syslog.h"
#include "util_alloc.h"

util_retry_handler_type *util_retry_handler_create(const util_retry_handler_init_type *init)
{
    util_assert(init != nullptr && init->callback != nullptr, "retry handler callback");
    auto *h = static_cast<util_retry_handler_type *>(util_infalloc(sizeof(util_retry_handler_type)));
    h->evm = init->evm;
    h->name = init->name;
    h->callback = init->callback;
    h->callback_context = init->callback_context;
    h->long_retry_cb = init->long_retry_cb;
    if (init->timer_mgr != nullptr) {
        h->timer_mgr = init->timer_mgr;
        h->external_mgr = 1;
    } else {
        const util_timer_mgr_init_type mgr_init = {init->evm, nullptr, nullptr, util_retry_handler_timer_fired};
        util_timer_mgd_mgr_create(&mgr_init, &h->timer_mgr);
    }
    util_timer_mgd_create(h->timer_mgr, UTIL_RETRY_INTERVAL_MIN_MS, reinterpret_cast<uintptr_t>(h), &h->timer);
    h->interval_ms = UTIL_RETRY_INTERVAL_MIN_MS;
    return h;
}

void util_retry_handler_destroy(util_retry_handler_type **handler)
{
    if (handler == nullptr || *handler == nullptr) {
        return;
    }
    util_retry_handler_type *h = *handler;
    util_timer_mgd_stop(h->timer_mgr, h->timer);
    util_timer_mgd_destroy(h->timer_mgr, &h->timer);
    if (h->external_mgr == 0) {
        util_timer_mgd_mgr_destroy(&h->timer_mgr);
    }
    std::free(h);
    *handler = nullptr;
}

void util_retry_handler_request(util_retry_handler_type *h)
{
    util_assert(h != nullptr, "retry handler");
    h->interval_ms = UTIL_RETRY_INTERVAL_MIN_MS;
    h->pending = 1;
}

void util_retry_handler_start(util_retry_handler_type *h)
{
    util_assert(h != nullptr, "retry handler");
    if (h->pending != 0 && util_timer_mgr_is_running(h->timer_mgr, h->timer)) {
        util_timer_mgd_stop(h->timer_mgr, h->timer);
    }
    h->skip = 0;
    h->pending = 0;
    if (h->first_start == 0) {
        h->first_start = fts_get_stamp_fast();
        h->start_stamp = h->first_start;
    }
    if (!util_timer_mgr_is_running(h->timer_mgr, h->timer)) {
        util_timer_mgd_set_interval_ms(h->timer_mgr, h->timer, h->interval_ms);
        util_timer_mgd_restart(h->timer_mgr, h->timer);
    }
}

bool util_retry_handler_is_running(util_retry_handler_type *h)
{
    util_assert(h != nullptr, "retry handler");
    return util_timer_mgr_is_running(h->timer_mgr, h->timer);
}

void util_retry_handler_reset(util_retry_handler_type *h)
{
    util_assert(h != nullptr, "retry handler");
    util_timer_mgd_stop(h->timer_mgr, h->timer);
    h->interval_ms = UTIL_RETRY_INTERVAL_MIN_MS;
    h->attempts = 0;
    h->first_start = 0;
    h->start_stamp = 0;
    h->skip = 0;
    h->pending = 0;
}

void util_retry_handler_skip_next(util_retry_handler_type *h)
{
    util_assert(h != nullptr, "retry handler");
    h->skip = 1;
}

void util_retry_handler_timer_fired(util_timer_mgr_h_type *, util_timer_h_type *, uint64_t context)
{
    auto *h = reinterpret_cast<util_retry_handler_type *>(static_cast<uintptr_t>(context));
    if (h->skip == 0) {
        h->attempts++;
        if (h->interval_ms < UTIL_RETRY_INTERVAL_MAX_MS) {
            h->interval_ms *= 2;
        }
        if (h->long_retry_cb != nullptr && fts_get_stamp_fast() - h->start_stamp > UTIL_RETRY_LONG_NS) {
            h->long_retry_cb(h);
        }
        h->callback(h, h->callback_context);
    }
    h->skip = 0;
}

void util_retry_handler_log(util_retry_handler_type *h)
{
    util_assert(h != nullptr, "retry handler");
    char detail[96];
    std::snprintf(detail, sizeof detail, ", still failing after %u attempts over %llu seconds", h->attempts,
                  static_cast<unsigned long long>((fts_get_stamp_fast() - h->first_start) / 1000000000u));
    ptp_syslog_comms_retry_failed(h->name != nullptr ? h->name : "retry", detail);
}
