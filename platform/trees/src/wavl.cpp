#include "wavl.h"

#include <cerrno>

#include "tree_core.h"

namespace {

using core = tree_core::tree<wavl_node_type>;

core make(const wavl_tree_type *tree, uint32_t thread)
{
    auto *t = const_cast<wavl_tree_type *>(tree);
    return core{t->root[thread], t->compare[thread], t->context, thread};
}

bool usable(const wavl_tree_type *tree, uint32_t thread)
{
    return tree != nullptr && tree->thread_count >= 1 && tree->thread_count <= WAVL_MAX_THREADS &&
           thread < tree->thread_count;
}

} // namespace

zerrno wavl_init(wavl_tree_type *tree, uint32_t thread_count, const wavl_compare_fn *compares, void *context)
{
    if (tree == nullptr)
        return EINVAL;
    *tree = wavl_tree_type{};
    if (thread_count == 0 || thread_count > WAVL_MAX_THREADS || compares == nullptr)
        return EINVAL;
    for (uint32_t t = 0; t < thread_count; ++t)
        if (compares[t] == nullptr)
            return EINVAL;
    for (uint32_t t = 0; t < thread_count; ++t)
        tree->compare[t] = compares[t];
    tree->context = context;
    tree->thread_count = thread_count;
    return ZERR_OK;
}

wavl_node_type *wavl_insert(wavl_tree_type *tree, wavl_node_type *row)
{
    if (!usable(tree, 0) || row == nullptr)
        return nullptr;
    // A row is in every thread or in none: check them all before linking any.
    for (uint32_t t = 0; t < tree->thread_count; ++t)
        if (make(tree, t).search(row) != nullptr)
            return nullptr;
    for (uint32_t t = 0; t < tree->thread_count; ++t)
        make(tree, t).insert(row + t);
    ++tree->count;
    return row;
}

wavl_node_type *wavl_delete(wavl_tree_type *tree, wavl_node_type *row)
{
    if (!usable(tree, 0) || row == nullptr)
        return nullptr;
    // Only this very row: a different record with the same key stays.
    for (uint32_t t = 0; t < tree->thread_count; ++t)
        if (make(tree, t).search(row) != row + t)
            return nullptr;
    for (uint32_t t = 0; t < tree->thread_count; ++t)
        make(tree, t).remove(row);
    --tree->count;
    return row;
}

static wavl_node_type *to_row(wavl_node_type *n, uint32_t thread)
{
    return n == nullptr ? nullptr : n - thread;
}

wavl_node_type *wavl_search(const wavl_tree_type *tree, uint32_t thread, const void *key_row)
{
    if (!usable(tree, thread) || key_row == nullptr)
        return nullptr;
    return to_row(make(tree, thread).search(key_row), thread);
}

wavl_node_type *wavl_get_greater_equal(const wavl_tree_type *tree, uint32_t thread, const void *key_row)
{
    if (!usable(tree, thread) || key_row == nullptr)
        return nullptr;
    return to_row(make(tree, thread).above(key_row, true), thread);
}

wavl_node_type *wavl_get_greater(const wavl_tree_type *tree, uint32_t thread, const void *key_row)
{
    if (!usable(tree, thread) || key_row == nullptr)
        return nullptr;
    return to_row(make(tree, thread).above(key_row, false), thread);
}

wavl_node_type *wavl_get_first(const wavl_tree_type *tree, uint32_t thread)
{
    return usable(tree, thread) ? to_row(make(tree, thread).first(), thread) : nullptr;
}

wavl_node_type *wavl_get_last(const wavl_tree_type *tree, uint32_t thread)
{
    return usable(tree, thread) ? to_row(make(tree, thread).last(), thread) : nullptr;
}

wavl_node_type *wavl_get_next(const wavl_tree_type *tree, uint32_t thread, const void *row)
{
    return wavl_get_greater(tree, thread, row);
}

wavl_node_type *wavl_get_prev(const wavl_tree_type *tree, uint32_t thread, const void *row)
{
    if (!usable(tree, thread) || row == nullptr)
        return nullptr;
    return to_row(make(tree, thread).below(row, false), thread);
}

uint32_t wavl_count(const wavl_tree_type *tree)
{
    return tree == nullptr ? 0 : tree->count;
}

bool wavl_walk(wavl_tree_type *tree, uint32_t thread, wavl_walk_fn visitor, void *context)
{
    if (!usable(tree, thread) || visitor == nullptr)
        return true;
    return make(tree, thread).walk([&](wavl_node_type *n) { return visitor(n - thread, context); });
}

static void destroy_at(wavl_node_type *n, uint32_t threads, wavl_free_fn free_row)
{
    if (n == nullptr)
        return;
    wavl_node_type *l = n->left, *r = n->right;
    destroy_at(l, threads, free_row);
    destroy_at(r, threads, free_row);
    for (uint32_t t = 0; t < threads; ++t)
        core::clear(n + t);
    if (free_row != nullptr)
        free_row(n);
}

void wavl_destroy(wavl_tree_type *tree, wavl_free_fn free_row)
{
    if (!usable(tree, 0))
        return;
    wavl_node_type *root = tree->root[0];
    for (auto &r : tree->root)
        r = nullptr;
    tree->count = 0;
    destroy_at(root, tree->thread_count, free_row);
}

bool wavl_verify(const wavl_tree_type *tree)
{
    if (!usable(tree, 0))
        return false;
    for (uint32_t t = 0; t < tree->thread_count; ++t) {
        const wavl_node_type *last = nullptr;
        uint64_t count = 0;
        if (!make(tree, t).verify_at(tree->root[t], last, count) || count != tree->count)
            return false;
    }
    return true;
}
