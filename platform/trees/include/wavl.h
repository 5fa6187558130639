// Threaded ordered trees: one set of rows kept in up to WAVL_MAX_THREADS orders at once (e.g.
// thread 0 by interface handle, thread 1 by port number), so that one record serves every order.
// A row embeds an array of wavl_node_type FIRST, one element per thread:
//
//     struct my_row { wavl_node_type links[2]; uint32_t ifhandle; uint16_t port; ... };
//
// and is handed to the tree as a pointer to links[0] (== the row). Compare callbacks receive row
// pointers, so every thread's callback can read any field. Lookups take a key row laid out like
// the rows, with the key fields of the searched thread set. A row is in all threads or in none.
//
// Not thread-safe: a tree is used by one thread at a time.
#pragma once

#include <cstdint>

#include "zerrno.h"

inline constexpr uint32_t WAVL_MAX_THREADS = 4;

struct wavl_node_type {
    wavl_node_type *left;
    wavl_node_type *right;
    int64_t height; // 1 for a leaf; 0 while not in a tree
};
static_assert(sizeof(wavl_node_type) == 24);

using wavl_compare_fn = int (*)(const void *row_a, const void *row_b, void *context);

struct wavl_tree_type {
    uint32_t thread_count;
    uint32_t count; // rows in the tree
    wavl_node_type *root[WAVL_MAX_THREADS];
    wavl_compare_fn compare[WAVL_MAX_THREADS];
    void *context; // handed to every compare callback
};

// Initialise an empty tree of thread_count (1..WAVL_MAX_THREADS) orders; compares[t] orders
// thread t and must not be null. Returns 0, or EINVAL (tree left unusable).
zerrno wavl_init(wavl_tree_type *tree, uint32_t thread_count, const wavl_compare_fn *compares, void *context);

// Insert a row into every thread. Returns the row, or null (nothing inserted) when any thread
// already holds a row with an equal key.
wavl_node_type *wavl_insert(wavl_tree_type *tree, wavl_node_type *row);

// Remove a row that is in the tree from every thread; returns it, or null when the tree does not
// hold this very row (another record with the same keys is not removed).
wavl_node_type *wavl_delete(wavl_tree_type *tree, wavl_node_type *row);

// Lookups in one thread's order (key_row carries that thread's key fields); null when none.
wavl_node_type *wavl_search(const wavl_tree_type *tree, uint32_t thread, const void *key_row);
wavl_node_type *wavl_get_greater_equal(const wavl_tree_type *tree, uint32_t thread, const void *key_row);
wavl_node_type *wavl_get_greater(const wavl_tree_type *tree, uint32_t thread, const void *key_row);
wavl_node_type *wavl_get_first(const wavl_tree_type *tree, uint32_t thread);
wavl_node_type *wavl_get_last(const wavl_tree_type *tree, uint32_t thread);
// The row after/before a row (or key row) in one thread's order.
wavl_node_type *wavl_get_next(const wavl_tree_type *tree, uint32_t thread, const void *row);
wavl_node_type *wavl_get_prev(const wavl_tree_type *tree, uint32_t thread, const void *row);

uint32_t wavl_count(const wavl_tree_type *tree);

// Visit every row in one thread's order; visitor returns true to go on. The visitor may delete
// (wavl_delete) and free the row it is given, but no other row. True when the walk completed.
using wavl_walk_fn = bool (*)(wavl_node_type *row, void *context);
bool wavl_walk(wavl_tree_type *tree, uint32_t thread, wavl_walk_fn visitor, void *context);

// Empty the tree, calling free_row (may be null) once per row. The callbacks stay.
using wavl_free_fn = void (*)(wavl_node_type *row);
void wavl_destroy(wavl_tree_type *tree, wavl_free_fn free_row);

// Test/diagnostic: every thread ordered, balanced and holding the same count of rows.
bool wavl_verify(const wavl_tree_type *tree);
