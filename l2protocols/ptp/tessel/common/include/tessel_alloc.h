// Allocation of the agent's records. Every allocation of the interface databases, tables and
// batches goes through here, so that it can become the platform's caller-recording allocation
// calls in one place and so that tests can make allocations fail.
#pragma once

#include <cstddef>
#include <cstdint>

void *tessel_calloc(size_t count, size_t size);
// Like realloc: on failure the old block is untouched and null is returned.
void *tessel_realloc(void *ptr, size_t size);
void tessel_free(void *ptr);

// Test control: after `after` more successful allocations, the next `count` fail.
void tessel_alloc_test_fail(uint32_t after, uint32_t count);
// Number of allocations made so far (successful or failed).
uint64_t tessel_alloc_test_calls();
