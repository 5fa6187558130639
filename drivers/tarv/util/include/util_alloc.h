// Allocation of the utility layer: it either succeeds or ends the process.
#pragma once

#include <cstddef>

// Zeroed memory of size bytes (free with std::free); asserts "result != NULL" on failure.
void *util_infalloc(size_t size);
// Ends the process with the failed condition's text when cond is false.
void util_assert(bool cond, const char *what);
