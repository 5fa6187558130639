// Ordered trees (AVL). A row embeds an avl2_node_type as its FIRST member, so a pointer to the
// node is a pointer to the row. The tree never allocates and never copies rows.
//
// Order comes from a compare callback given at init: compare(row_a, row_b, context) returns <0,
// 0 or >0. Lookups take a key row: a record laid out like the tree's rows (node first) with the
// key fields set; the callback is called as compare(key_row, tree_row, context).
//
// Not thread-safe: a tree is used by one thread at a time (its owner's).
#pragma once

#include <cstdint>

struct avl2_node_type {
    avl2_node_type *left;
    avl2_node_type *right;
    int64_t height; // 1 for a leaf; 0 while not in a tree
};
static_assert(sizeof(avl2_node_type) == 24);

using avl2_compare_fn = int (*)(const void *row_a, const void *row_b, void *context);

// A tree is three words so that it can sit in a shared-memory window; only the compare callback
// and its context are process addresses (re-attach them with avl2_set_compare after a restart).
struct avl2_tree_type {
    avl2_node_type *root;
    avl2_compare_fn compare;
    void *context;
};
static_assert(sizeof(avl2_tree_type) == 24);

// Built-in comparators. Each compares the key that stands directly behind the node (byte offset
// 24 of the row), in host byte order.
enum avl2_builtin_type : uint32_t {
    AVL2_CMP_U8 = 1,
    AVL2_CMP_U16 = 2,
    AVL2_CMP_I32 = 3,
    AVL2_CMP_U32 = 4, // e.g. a 32-bit interface handle
    AVL2_CMP_U64 = 5,
    AVL2_CMP_I64 = 6,
    AVL2_CMP_NAME64 = 9, // a 64-byte, zero-terminated name field: strncmp over 64 bytes
};

// The compare function of a built-in selector; null for an unknown selector.
avl2_compare_fn avl2_builtin_compare(uint32_t selector);

// Initialise an empty tree. False (tree left empty and unusable) when compare is null.
bool avl2_init(avl2_tree_type *tree, avl2_compare_fn compare, void *context);
// Initialise with a built-in comparator. False for an unknown selector.
bool avl2_init(avl2_tree_type *tree, avl2_builtin_type selector, void *context);

// Replace the compare callback of a tree that keeps its rows (same order assumed), e.g. a tree
// found again in a shared-memory window after a restart. False when compare is null.
bool avl2_set_compare(avl2_tree_type *tree, avl2_compare_fn compare, void *context);
bool avl2_set_compare(avl2_tree_type *tree, avl2_builtin_type selector, void *context);

// Insert a row. Returns the row, or null when a row with an equal key is already present (the
// tree is then unchanged).
avl2_node_type *avl2_insert(avl2_tree_type *tree, avl2_node_type *row);

// Remove the row whose key equals the key row's and return it (it may be another record than
// key_row when the caller passes a key); null when absent.
avl2_node_type *avl2_delete(avl2_tree_type *tree, const void *key_row);

// Exact lookup; null when absent.
avl2_node_type *avl2_search(const avl2_tree_type *tree, const void *key_row);
// Smallest row >= key / > key; null when none.
avl2_node_type *avl2_get_greater_equal(const avl2_tree_type *tree, const void *key_row);
avl2_node_type *avl2_get_greater(const avl2_tree_type *tree, const void *key_row);
// Largest row <= key / < key; null when none.
avl2_node_type *avl2_get_less_equal(const avl2_tree_type *tree, const void *key_row);
avl2_node_type *avl2_get_less(const avl2_tree_type *tree, const void *key_row);

// First/last row in order, and the row after/before a given row (or key row); null at the end.
avl2_node_type *avl2_get_first(const avl2_tree_type *tree);
avl2_node_type *avl2_get_last(const avl2_tree_type *tree);
avl2_node_type *avl2_get_next(const avl2_tree_type *tree, const void *row);
avl2_node_type *avl2_get_prev(const avl2_tree_type *tree, const void *row);

bool avl2_is_empty(const avl2_tree_type *tree);
// Number of rows (walks the tree).
uint64_t avl2_count(const avl2_tree_type *tree);

// Visit every row in order; visitor returns true to go on, false to stop. The visitor may delete
// (and free) the row it is given, but no other row. Returns true when the walk reached the end
// (an empty tree counts as a completed walk), false when a visitor stopped it.
using avl2_walk_fn = bool (*)(avl2_node_type *row, void *context);
bool avl2_walk(avl2_tree_type *tree, avl2_walk_fn visitor, void *context);

// Empty the tree, calling free_row (may be null) once for every row, children before parents.
// The compare callback stays, so the tree can be used again.
using avl2_free_fn = void (*)(avl2_node_type *row);
void avl2_destroy(avl2_tree_type *tree, avl2_free_fn free_row);

// Test/diagnostic: true when the tree is ordered, free of duplicates and height-balanced.
bool avl2_verify(const avl2_tree_type *tree);
