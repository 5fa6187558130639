#include "avl2.h"

#include <cstring>

#include "tree_core.h"

namespace {

using core = tree_core::tree<avl2_node_type>;

core make(const avl2_tree_type *tree)
{
    auto *t = const_cast<avl2_tree_type *>(tree);
    return core{t->root, t->compare, t->context, 0};
}

// Built-in keys stand right behind the node; rows need not be aligned for them.
template <typename T>
int key_compare(const void *a, const void *b, void *)
{
    T x, y;
    std::memcpy(&x, static_cast<const char *>(a) + sizeof(avl2_node_type), sizeof x);
    std::memcpy(&y, static_cast<const char *>(b) + sizeof(avl2_node_type), sizeof y);
    return x < y ? -1 : (x > y ? 1 : 0);
}

int name64_compare(const void *a, const void *b, void *)
{
    return std::strncmp(static_cast<const char *>(a) + sizeof(avl2_node_type),
                        static_cast<const char *>(b) + sizeof(avl2_node_type), 64);
}

struct builtin_row {
    uint32_t selector;
    avl2_compare_fn compare;
};
constexpr builtin_row builtins[] = {
    {AVL2_CMP_U8, key_compare<uint8_t>},   {AVL2_CMP_U16, key_compare<uint16_t>}, {AVL2_CMP_I32, key_compare<int32_t>},
    {AVL2_CMP_U32, key_compare<uint32_t>}, {AVL2_CMP_U64, key_compare<uint64_t>}, {AVL2_CMP_I64, key_compare<int64_t>},
    {AVL2_CMP_NAME64, name64_compare},
};

} // namespace

avl2_compare_fn avl2_builtin_compare(uint32_t selector)
{
    for (const auto &b : builtins)
        if (b.selector == selector)
            return b.compare;
    return nullptr;
}

bool avl2_init(avl2_tree_type *tree, avl2_compare_fn compare, void *context)
{
    if (tree == nullptr)
        return false;
    tree->root = nullptr;
    tree->compare = compare;
    tree->context = context;
    return compare != nullptr;
}

bool avl2_init(avl2_tree_type *tree, avl2_builtin_type selector, void *context)
{
    return avl2_init(tree, avl2_builtin_compare(selector), context);
}

bool avl2_set_compare(avl2_tree_type *tree, avl2_compare_fn compare, void *context)
{
    if (tree == nullptr || compare == nullptr)
        return false;
    tree->compare = compare;
    tree->context = context;
    return true;
}

bool avl2_set_compare(avl2_tree_type *tree, avl2_builtin_type selector, void *context)
{
    return avl2_set_compare(tree, avl2_builtin_compare(selector), context);
}

// A tree without a compare callback (init failed) holds nothing and accepts nothing.
static bool usable(const avl2_tree_type *tree)
{
    return tree != nullptr && tree->compare != nullptr;
}

avl2_node_type *avl2_insert(avl2_tree_type *tree, avl2_node_type *row)
{
    if (!usable(tree) || row == nullptr)
        return nullptr;
    return make(tree).insert(row) ? row : nullptr;
}

avl2_node_type *avl2_delete(avl2_tree_type *tree, const void *key_row)
{
    if (!usable(tree) || key_row == nullptr)
        return nullptr;
    return make(tree).remove(key_row);
}

avl2_node_type *avl2_search(const avl2_tree_type *tree, const void *key_row)
{
    return usable(tree) && key_row != nullptr ? make(tree).search(key_row) : nullptr;
}

avl2_node_type *avl2_get_greater_equal(const avl2_tree_type *tree, const void *key_row)
{
    return usable(tree) && key_row != nullptr ? make(tree).above(key_row, true) : nullptr;
}

avl2_node_type *avl2_get_greater(const avl2_tree_type *tree, const void *key_row)
{
    return usable(tree) && key_row != nullptr ? make(tree).above(key_row, false) : nullptr;
}

avl2_node_type *avl2_get_less_equal(const avl2_tree_type *tree, const void *key_row)
{
    return usable(tree) && key_row != nullptr ? make(tree).below(key_row, true) : nullptr;
}

avl2_node_type *avl2_get_less(const avl2_tree_type *tree, const void *key_row)
{
    return usable(tree) && key_row != nullptr ? make(tree).below(key_row, false) : nullptr;
}

avl2_node_type *avl2_get_first(const avl2_tree_type *tree)
{
    return usable(tree) ? make(tree).first() : nullptr;
}

avl2_node_type *avl2_get_last(const avl2_tree_type *tree)
{
    return usable(tree) ? make(tree).last() : nullptr;
}

avl2_node_type *avl2_get_next(const avl2_tree_type *tree, const void *row)
{
    return avl2_get_greater(tree, row);
}

avl2_node_type *avl2_get_prev(const avl2_tree_type *tree, const void *row)
{
    return avl2_get_less(tree, row);
}

bool avl2_is_empty(const avl2_tree_type *tree)
{
    return tree == nullptr || tree->root == nullptr;
}

uint64_t avl2_count(const avl2_tree_type *tree)
{
    return tree == nullptr ? 0 : core::count_at(tree->root);
}

bool avl2_walk(avl2_tree_type *tree, avl2_walk_fn visitor, void *context)
{
    if (!usable(tree) || visitor == nullptr)
        return true;
    return make(tree).walk([&](avl2_node_type *n) { return visitor(n, context); });
}

static void destroy_at(avl2_node_type *n, avl2_free_fn free_row)
{
    if (n == nullptr)
        return;
    avl2_node_type *l = n->left, *r = n->right;
    destroy_at(l, free_row);
    destroy_at(r, free_row);
    core::clear(n);
    if (free_row != nullptr)
        free_row(n);
}

void avl2_destroy(avl2_tree_type *tree, avl2_free_fn free_row)
{
    if (tree == nullptr)
        return;
    avl2_node_type *root = tree->root;
    tree->root = nullptr;
    destroy_at(root, free_row);
}

bool avl2_verify(const avl2_tree_type *tree)
{
    if (tree == nullptr)
        return false;
    if (tree->root == nullptr)
        return true;
    if (tree->compare == nullptr)
        return false;
    const avl2_node_type *last = nullptr;
    uint64_t count = 0;
    return make(tree).verify_at(tree->root, last, count);
}
