#include "util_alloc.h"

#include <cstdio>
#include <cstdlib>

void util_assert(bool cond, const char *what)
{
    if (!cond) {
        std::fprintf(stderr, "util: assertion failed: %s\n", what);
        std::abort();
    }
}

void *util_infalloc(size_t size)
{
    void *result = std::calloc(1, size);
    util_assert(result != nullptr, "result != NULL");
    return result;
}
