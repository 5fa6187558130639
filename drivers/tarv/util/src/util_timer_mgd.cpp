// Timers over the platform's managed timers and one asynchronous event.
#include "util_timer_mgd_private.h"

#include <cassert>
#include <cstdlib>
#include <new>

#include "util_alloc.h"

struct util_timer_mgd_private_type {
    event_mgr_type *evm;
    int32_t event_code;
    event_async_ctx_type event;
    mgd_timer_tree *tree;
};

const util_timer_ops_type util_timer_mgd_ops = {
    util_timer_mgd_mgr_destroy,     util_timer_mgd_mgr_is_running,  util_timer_mgd_create,     util_timer_mgd_destroy,
    util_timer_mgd_start,           util_timer_mgd_start_and_fire,  util_timer_mgd_restart,    util_timer_mgd_stop,
    util_timer_mgd_set_interval_ms, util_timer_mgd_get_interval_ms, util_timer_mgr_is_running,
};

namespace {

void leaf_start(util_timer_h_type *timer, time_t sec, long nsec)
{
    const struct timespec timeout = {sec, nsec};
    const zerrno rc = mgd_timer_leaf_start(timer->leaf, &timeout);
    util_assert(rc == ZERR_OK, "mgd_timer_leaf_start");
}

void check(util_timer_mgr_h_type *mgr, util_timer_h_type *timer)
{
    util_assert(mgr != nullptr && mgr->priv != nullptr, "timer manager");
    util_assert(timer != nullptr && timer->leaf != nullptr, "timer");
}

} // namespace

void util_timer_mgd_mgr_create(const util_timer_mgr_init_type *init, util_timer_mgr_h_type **mgr)
{
    util_assert(init != nullptr && mgr != nullptr, "timer manager init");
    auto *m = static_cast<util_timer_mgr_h_type *>(util_infalloc(sizeof(util_timer_mgr_h_type)));
    auto *p = static_cast<util_timer_mgd_private_type *>(util_infalloc(sizeof(util_timer_mgd_private_type)));
    m->ops = util_timer_mgd_ops;
    m->hook = init->hook;
    m->hook_context = init->hook_context;
    m->timer_cb = init->timer_cb;
    m->priv = p;
    p->evm = init->evm;
    p->event_code = event_async_attach_event(init->evm, 128, util_timer_mgd_timer_expired, m, &p->event);
    util_assert(p->event_code >= 0, "event code >= 0");
    p->tree = mgd_timer_tree_new(&p->event, 0);
    util_assert(p->tree != nullptr, "mgd_timer_tree_new");
    *mgr = m;
}

void util_timer_mgd_mgr_destroy(util_timer_mgr_h_type **mgr)
{
    util_assert(mgr != nullptr && *mgr != nullptr && (*mgr)->priv != nullptr, "timer manager");
    util_timer_mgd_private_type *p = (*mgr)->priv;
    (void)mgd_timer_tree_free(p->tree);
    (void)event_async_attach(p->evm, p->event_code, nullptr, nullptr);
    std::free(p);
    std::free(*mgr);
    *mgr = nullptr;
}

bool util_timer_mgd_mgr_is_running(util_timer_mgr_h_type *mgr)
{
    util_assert(mgr != nullptr && mgr->priv != nullptr, "timer manager");
    return mgd_timer_tree_running(mgr->priv->tree);
}

void util_timer_mgd_create(util_timer_mgr_h_type *mgr, uint32_t interval_ms, uint64_t context,
                           util_timer_h_type **timer)
{
    util_assert(mgr != nullptr && mgr->priv != nullptr && timer != nullptr, "timer manager");
    auto *t = static_cast<util_timer_h_type *>(util_infalloc(sizeof(util_timer_h_type)));
    t->context = context;
    t->interval_ms = interval_ms;
    t->mgr = mgr;
    t->leaf = mgd_timer_leaf_new(mgr->priv->tree, nullptr, 0, t);
    util_assert(t->leaf != nullptr, "mgd_timer_leaf_new");
    *timer = t;
}

void util_timer_mgd_destroy(util_timer_mgr_h_type *mgr, util_timer_h_type **timer)
{
    util_assert(timer != nullptr, "timer");
    check(mgr, *timer);
    (void)mgd_timer_leaf_free((*timer)->leaf);
    std::free(*timer);
    *timer = nullptr;
}

void util_timer_mgd_start(util_timer_mgr_h_type *mgr, util_timer_h_type *timer)
{
    check(mgr, timer);
    if (!mgd_timer_leaf_running(timer->leaf)) {
        util_timer_mgd_restart(mgr, timer);
    }
}

void util_timer_mgd_start_and_fire(util_timer_mgr_h_type *mgr, util_timer_h_type *timer)
{
    check(mgr, timer);
    leaf_start(timer, 0, 1);
}

void util_timer_mgd_restart(util_timer_mgr_h_type *mgr, util_timer_h_type *timer)
{
    check(mgr, timer);
    if (timer->interval_ms == 0) {
        leaf_start(timer, 0, 1); // expires at the next dispatch
        return;
    }
    leaf_start(timer, timer->interval_ms / 1000, static_cast<long>(timer->interval_ms % 1000) * 1000000L);
}

void util_timer_mgd_stop(util_timer_mgr_h_type *mgr, util_timer_h_type *timer)
{
    check(mgr, timer);
    (void)mgd_timer_leaf_stop(timer->leaf);
}

void util_timer_mgd_set_interval_ms(util_timer_mgr_h_type *mgr, util_timer_h_type *timer, uint32_t ms)
{
    check(mgr, timer);
    timer->interval_ms = ms;
}

uint32_t util_timer_mgd_get_interval_ms(util_timer_mgr_h_type *mgr, util_timer_h_type *timer)
{
    check(mgr, timer);
    return timer->interval_ms;
}

bool util_timer_mgr_is_running(util_timer_mgr_h_type *mgr, util_timer_h_type *timer)
{
    check(mgr, timer);
    return mgd_timer_leaf_running(timer->leaf);
}

int util_timer_mgd_timer_expired(const event_async_ctx_type *, int32_t, void *context)
{
    auto *mgr = static_cast<util_timer_mgr_h_type *>(context);
    if (mgr->hook != nullptr) {
        mgr->hook(mgr, 0, mgr->hook_context);
    }
    mgd_timer_leaf *leaf;
    while ((leaf = mgd_timer_tree_first_expired(mgr->priv->tree)) != nullptr) {
        (void)mgd_timer_leaf_stop(leaf);
        auto *timer = static_cast<util_timer_h_type *>(mgd_timer_leaf_get_context(leaf));
        if (mgr->timer_cb != nullptr) {
            mgr->timer_cb(mgr, timer, timer->context);
        }
    }
    if (mgr->hook != nullptr) {
        mgr->hook(mgr, 1, mgr->hook_context);
    }
    return 0;
}
