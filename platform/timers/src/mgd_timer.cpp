// Managed-timer trees. Running leaves sit in one ordered set per tree, by (deadline, start
// sequence). The tree keeps a watermark: every running leaf at or below it has already been
// announced by a post of the tree's event. The tree's alarm is set to the earliest leaf above the
// watermark, so one expiry burst posts the event once, however many leaves it holds and however
// long their handlers take to work through them.

#include "mgd_timer.h"

#include "evm_alarm.h"
#include "plat_clock.h"

#include <array>
#include <cerrno>
#include <new>
#include <set>
#include <unordered_set>
#include <utility>

void plat_timers_register_errors();

namespace {

using leaf_key = std::pair<uint64_t, uint64_t>; // deadline, start sequence

struct node { // what a tree and a parent have in common: children
    std::unordered_set<mgd_timer_leaf *> leaves;
    std::unordered_set<mgd_timer_parent *> parents;
};

} // namespace

struct mgd_timer_parent {
    mgd_timer_tree *tree;
    node *up; // the parent's or the tree's child lists
    node children;
};

struct mgd_timer_leaf {
    mgd_timer_tree *tree;
    node *up;
    void *context;
    std::array<void *, MGD_TIMER_ADDL_CONTEXTS> addl{};
    bool running = false;
    leaf_key key{0, 0};
};

struct mgd_timer_tree {
    event_async_ctx_type event;
    evm_alarm_type *alarm = nullptr;
    node root;
    std::set<std::pair<leaf_key, mgd_timer_leaf *>> running;
    leaf_key announced{0, 0};
    uint64_t seq = 0;
    uint32_t leaf_count = 0;

    void sync_alarm()
    {
        auto it = running.upper_bound({announced, reinterpret_cast<mgd_timer_leaf *>(UINTPTR_MAX)});
        evm_alarm_set(alarm, it == running.end() ? EVM_ALARM_NEVER : it->first.first);
    }
};

namespace {

void tree_alarm_fired(evm_alarm_type *, void *context)
{
    auto *tree = static_cast<mgd_timer_tree *>(context);
    const uint64_t now = plat_clock_mono_ns();
    auto it = tree->running.upper_bound({tree->announced, reinterpret_cast<mgd_timer_leaf *>(UINTPTR_MAX)});
    const bool fresh = it != tree->running.end() && it->first.first <= now;
    // Leaves started from now on carry a higher sequence and are announced afresh.
    tree->announced = {now, tree->seq};
    if (fresh)
        event_send_async(tree->event.coid, tree->event.code, 0);
    tree->sync_alarm();
}

void leaf_stop(mgd_timer_leaf *leaf)
{
    if (!leaf->running)
        return;
    leaf->tree->running.erase({leaf->key, leaf});
    leaf->running = false;
}

// Free everything below a node; true when there was anything.
bool free_below(node *n)
{
    bool any = !n->leaves.empty() || !n->parents.empty();
    for (mgd_timer_leaf *leaf : n->leaves) {
        leaf_stop(leaf);
        --leaf->tree->leaf_count;
        delete leaf;
    }
    n->leaves.clear();
    for (mgd_timer_parent *p : n->parents) {
        free_below(&p->children);
        delete p;
    }
    n->parents.clear();
    return any;
}

} // namespace

mgd_timer_tree *mgd_timer_tree_new(const event_async_ctx_type *event, uint32_t)
{
    plat_timers_register_errors();
    if (event == nullptr || event->evm == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    auto *tree = new (std::nothrow) mgd_timer_tree;
    if (tree == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    tree->event = *event;
    tree->alarm = evm_alarm_new(event->evm, tree_alarm_fired, tree);
    if (tree->alarm == nullptr) {
        delete tree;
        errno = EINVAL;
        return nullptr;
    }
    tree->announced = {plat_clock_mono_ns(), 0};
    return tree;
}

zerrno mgd_timer_tree_free(mgd_timer_tree *tree)
{
    if (tree == nullptr)
        return MGD_TIMER_ERR_INVALID;
    const bool any = free_below(&tree->root);
    evm_alarm_free(tree->alarm);
    delete tree;
    return any ? MGD_TIMER_ERR_NOT_EMPTY : ZERR_OK;
}

bool mgd_timer_tree_running(const mgd_timer_tree *tree)
{
    return tree != nullptr && !tree->running.empty();
}

mgd_timer_leaf *mgd_timer_tree_first_expired(mgd_timer_tree *tree)
{
    if (tree == nullptr || tree->running.empty())
        return nullptr;
    const auto &first = *tree->running.begin();
    return first.first.first <= plat_clock_mono_ns() ? first.second : nullptr;
}

mgd_timer_parent *mgd_timer_parent_new(mgd_timer_tree *tree, mgd_timer_parent *parent)
{
    if (tree == nullptr || (parent != nullptr && parent->tree != tree)) {
        errno = EINVAL;
        return nullptr;
    }
    auto *p = new (std::nothrow) mgd_timer_parent;
    if (p == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    p->tree = tree;
    p->up = parent != nullptr ? &parent->children : &tree->root;
    p->up->parents.insert(p);
    return p;
}

zerrno mgd_timer_parent_free(mgd_timer_parent *parent)
{
    if (parent == nullptr)
        return MGD_TIMER_ERR_INVALID;
    mgd_timer_tree *tree = parent->tree;
    const bool any = free_below(&parent->children);
    parent->up->parents.erase(parent);
    delete parent;
    tree->sync_alarm();
    return any ? MGD_TIMER_ERR_NOT_EMPTY : ZERR_OK;
}

mgd_timer_leaf *mgd_timer_leaf_new(mgd_timer_tree *tree, mgd_timer_parent *parent, uint32_t, void *context)
{
    if (tree == nullptr || (parent != nullptr && parent->tree != tree)) {
        errno = EINVAL;
        return nullptr;
    }
    auto *leaf = new (std::nothrow) mgd_timer_leaf;
    if (leaf == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    leaf->tree = tree;
    leaf->up = parent != nullptr ? &parent->children : &tree->root;
    leaf->context = context;
    leaf->up->leaves.insert(leaf);
    ++tree->leaf_count;
    return leaf;
}

zerrno mgd_timer_leaf_free(mgd_timer_leaf *leaf)
{
    if (leaf == nullptr)
        return MGD_TIMER_ERR_INVALID;
    mgd_timer_tree *tree = leaf->tree;
    leaf_stop(leaf);
    leaf->up->leaves.erase(leaf);
    --tree->leaf_count;
    delete leaf;
    tree->sync_alarm();
    return ZERR_OK;
}

zerrno mgd_timer_leaf_start(mgd_timer_leaf *leaf, const struct timespec *timeout)
{
    if (leaf == nullptr || timeout == nullptr || timeout->tv_sec < 0 || timeout->tv_nsec < 0 ||
        timeout->tv_nsec >= 1000000000L)
        return MGD_TIMER_ERR_INVALID;
    mgd_timer_tree *tree = leaf->tree;
    leaf_stop(leaf);
    const uint64_t now = plat_clock_mono_ns();
    const uint64_t sec = static_cast<uint64_t>(timeout->tv_sec);
    const uint64_t span = sec > (UINT64_MAX / 2) / 1000000000ull
                              ? UINT64_MAX / 2
                              : sec * 1000000000ull + static_cast<uint64_t>(timeout->tv_nsec);
    const uint64_t deadline = span > UINT64_MAX - 1 - now ? UINT64_MAX - 1 : now + span;
    leaf->key = {deadline, ++tree->seq};
    leaf->running = true;
    tree->running.insert({leaf->key, leaf});
    tree->sync_alarm();
    return ZERR_OK;
}

zerrno mgd_timer_leaf_stop(mgd_timer_leaf *leaf)
{
    if (leaf == nullptr)
        return MGD_TIMER_ERR_INVALID;
    if (leaf->running) {
        leaf_stop(leaf);
        leaf->tree->sync_alarm();
    }
    return ZERR_OK;
}

bool mgd_timer_leaf_running(const mgd_timer_leaf *leaf)
{
    return leaf != nullptr && leaf->running;
}

zerrno mgd_timer_leaf_remaining(const mgd_timer_leaf *leaf, struct timespec *remaining)
{
    if (leaf == nullptr || remaining == nullptr)
        return MGD_TIMER_ERR_INVALID;
    if (!leaf->running)
        return MGD_TIMER_ERR_NOT_RUNNING;
    const uint64_t now = plat_clock_mono_ns();
    const uint64_t left = leaf->key.first > now ? leaf->key.first - now : 0;
    remaining->tv_sec = static_cast<time_t>(left / 1000000000ull);
    remaining->tv_nsec = static_cast<long>(left % 1000000000ull);
    return ZERR_OK;
}

void *mgd_timer_leaf_get_context(const mgd_timer_leaf *leaf)
{
    return leaf != nullptr ? leaf->context : nullptr;
}

zerrno mgd_timer_leaf_set_addl_context(mgd_timer_leaf *leaf, unsigned slot, void *context)
{
    if (leaf == nullptr || slot >= MGD_TIMER_ADDL_CONTEXTS)
        return MGD_TIMER_ERR_INVALID;
    leaf->addl[slot] = context;
    return ZERR_OK;
}

void *mgd_timer_leaf_get_addl_context(const mgd_timer_leaf *leaf, unsigned slot)
{
    return leaf != nullptr && slot < MGD_TIMER_ADDL_CONTEXTS ? leaf->addl[slot] : nullptr;
}

uint32_t mgd_timer_tree_leaf_count(const mgd_timer_tree *tree)
{
    return tree != nullptr ? tree->leaf_count : 0;
}

uint32_t mgd_timer_tree_running_count(const mgd_timer_tree *tree)
{
    return tree != nullptr ? static_cast<uint32_t>(tree->running.size()) : 0;
}
