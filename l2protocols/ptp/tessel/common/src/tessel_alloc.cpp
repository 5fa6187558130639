#include "tessel_alloc.h"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<uint32_t> fail_after{0};
std::atomic<uint32_t> fail_count{0};
std::atomic<uint64_t> calls{0};

bool should_fail()
{
    calls++;
    if (fail_count.load() == 0) {
        return false;
    }
    if (fail_after.load() > 0) {
        fail_after--;
        return false;
    }
    fail_count--;
    return true;
}
} // namespace

void *tessel_calloc(size_t count, size_t size)
{
    if (should_fail()) {
        return nullptr;
    }
    return std::calloc(count, size);
}

void *tessel_realloc(void *ptr, size_t size)
{
    if (should_fail()) {
        return nullptr;
    }
    return std::realloc(ptr, size);
}

void tessel_free(void *ptr)
{
    std::free(ptr);
}

void tessel_alloc_test_fail(uint32_t after, uint32_t count)
{
    fail_after = after;
    fail_count = count;
}

uint64_t tessel_alloc_test_calls()
{
    return calls.load();
}

#include <cstdio>

#include "tessel_assert.h"

void tessel_internal_error(const char *what, const char *file, int line)
{
    std::fprintf(stderr, "tessel internal error: %s (%s:%d)\n", what, file, line);
    std::abort();
}
