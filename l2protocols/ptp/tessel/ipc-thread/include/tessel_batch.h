// Batch arrays: a named, growable array of fixed-size elements, filled one element at a time,
// read as a plain array (count and elements, index 0 to count - 1) and emptied once handed on.
// A batch is embedded in its owner and belongs to one thread; nothing here locks.
#pragma once

#include <cstddef>
#include <cstdint>

struct tessel_batch_info_type {
    uint32_t max_size;   // capacity of the current array; 0 when none is held
    uint32_t next_index; // elements in use
    size_t element_size; // fixed at init, never 0
    void *elements;      // max_size * element_size bytes, owned; null when empty
    const char *name;    // not copied: must outlive the batch
};

// Capacity of a batch's first array; every growth doubles it.
inline constexpr uint32_t TESSEL_BATCH_INITIAL_SIZE = 40;

void tessel_batch_init(tessel_batch_info_type *batch, size_t element_size, const char *name);
// The next free element, counted as used; the array grows first when full. Null when it cannot
// grow: the batch then keeps everything it held.
void *tessel_batch_get_next_free_element(tessel_batch_info_type *batch);
void *tessel_batch_get_elements(const tessel_batch_info_type *batch);
uint32_t tessel_batch_get_count(const tessel_batch_info_type *batch);
// Frees the array and empties the batch; name and element size stay for the next fill.
void tessel_batch_finish(tessel_batch_info_type *batch);
