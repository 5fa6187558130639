#include "plat_clock.h"
#include "plat_clock_test.h"

#include <atomic>
#include <cerrno>
#include <mutex>

namespace {

constexpr uint64_t NS_PER_S = 1000000000ull;

// Virtual time: the monotonic reading and the wall clock's offset from it. Plain atomics so that
// any thread reads them without a lock; only the advancing thread writes the monotonic value.
std::atomic<bool> virtual_on{false};
std::atomic<uint64_t> virtual_mono{PLAT_CLOCK_VIRTUAL_MONO_START_NS};
std::atomic<int64_t> virtual_wall_offset{0}; // wall ns = mono ns + offset

std::atomic<const plat_clock_sched_ops_type *> scheduler{nullptr};

std::mutex &advance_lock()
{
    static auto *lock = new std::mutex; // never destroyed: threads may still advance at exit
    return *lock;
}

uint64_t real_mono_ns()
{
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    // +1 keeps the stamp away from 0, which callers use as "not set".
    return static_cast<uint64_t>(ts.tv_sec) * NS_PER_S + static_cast<uint64_t>(ts.tv_nsec) + 1;
}

int64_t real_wall_ns()
{
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * static_cast<int64_t>(NS_PER_S) + ts.tv_nsec;
}

void to_timespec(int64_t ns, struct timespec *ts)
{
    int64_t sec = ns / static_cast<int64_t>(NS_PER_S);
    int64_t rem = ns % static_cast<int64_t>(NS_PER_S);
    if (rem < 0) {
        rem += static_cast<int64_t>(NS_PER_S);
        --sec;
    }
    ts->tv_sec = static_cast<time_t>(sec);
    ts->tv_nsec = static_cast<long>(rem);
}

void settle()
{
    const plat_clock_sched_ops_type *ops = scheduler.load();
    if (ops != nullptr && ops->settle != nullptr)
        ops->settle();
}

} // namespace

uint64_t plat_clock_mono_ns(void)
{
    return virtual_on.load(std::memory_order_acquire) ? virtual_mono.load(std::memory_order_acquire) : real_mono_ns();
}

int64_t plat_clock_wall_ns(void)
{
    if (!virtual_on.load(std::memory_order_acquire))
        return real_wall_ns();
    return static_cast<int64_t>(virtual_mono.load(std::memory_order_acquire)) + virtual_wall_offset.load();
}

uint64_t fts_get_stamp_fast(void)
{
    return plat_clock_mono_ns();
}

int plat_clock_gettime(clockid_t clock_id, struct timespec *ts)
{
    if (ts == nullptr) {
        errno = EINVAL;
        return -1;
    }
    switch (clock_id) {
    case CLOCK_MONOTONIC:
    case CLOCK_MONOTONIC_RAW:
    case CLOCK_MONOTONIC_COARSE:
    case CLOCK_BOOTTIME: to_timespec(static_cast<int64_t>(plat_clock_mono_ns()), ts); return 0;
    case CLOCK_REALTIME:
    case CLOCK_REALTIME_COARSE: to_timespec(plat_clock_wall_ns(), ts); return 0;
    default: errno = EINVAL; return -1;
    }
}

time_t plat_time(time_t *out)
{
    struct timespec ts {};
    to_timespec(plat_clock_wall_ns(), &ts);
    if (out != nullptr)
        *out = ts.tv_sec;
    return ts.tv_sec;
}

void plat_clock_register_scheduler(const plat_clock_sched_ops_type *ops)
{
    scheduler.store(ops);
}

void plat_clock_use_virtual(void)
{
    plat_clock_use_virtual_at(PLAT_CLOCK_VIRTUAL_MONO_START_NS, PLAT_CLOCK_VIRTUAL_WALL_START_S);
}

void plat_clock_use_virtual_at(uint64_t mono_ns, int64_t wall_s)
{
    std::lock_guard guard(advance_lock());
    if (mono_ns == 0)
        mono_ns = 1;
    virtual_mono.store(mono_ns, std::memory_order_release);
    virtual_wall_offset.store(wall_s * static_cast<int64_t>(NS_PER_S) - static_cast<int64_t>(mono_ns));
    virtual_on.store(true, std::memory_order_release);
}

void plat_clock_use_real(void)
{
    std::lock_guard guard(advance_lock());
    virtual_on.store(false, std::memory_order_release);
}

bool plat_clock_is_virtual(void)
{
    return virtual_on.load(std::memory_order_acquire);
}

zerrno plat_clock_advance_ns(uint64_t ns)
{
    std::lock_guard guard(advance_lock());
    if (!virtual_on.load())
        return PLAT_CLOCK_ERR_NOT_VIRTUAL;
    const uint64_t target = virtual_mono.load() + ns;
    settle();
    // Step to each armed deadline in turn so that timers fire in time order across managers.
    for (;;) {
        const plat_clock_sched_ops_type *ops = scheduler.load();
        uint64_t next = 0;
        if (ops == nullptr || ops->next_deadline_after == nullptr ||
            !ops->next_deadline_after(virtual_mono.load(), &next) || next > target)
            break;
        virtual_mono.store(next, std::memory_order_release);
        settle();
    }
    virtual_mono.store(target, std::memory_order_release);
    settle();
    return ZERR_OK;
}

zerrno plat_clock_advance_ms(uint64_t ms)
{
    return plat_clock_advance_ns(ms * 1000000ull);
}

zerrno plat_clock_advance_s(uint64_t s)
{
    return plat_clock_advance_ns(s * NS_PER_S);
}

zerrno plat_clock_set_wall(int64_t sec, int64_t nsec)
{
    if (nsec < 0 || nsec >= static_cast<int64_t>(NS_PER_S))
        return PLAT_CLOCK_ERR_INVALID;
    std::lock_guard guard(advance_lock());
    if (!virtual_on.load())
        return PLAT_CLOCK_ERR_NOT_VIRTUAL;
    virtual_wall_offset.store(sec * static_cast<int64_t>(NS_PER_S) + nsec - static_cast<int64_t>(virtual_mono.load()));
    return ZERR_OK;
}

void plat_clock_settle(void)
{
    std::lock_guard guard(advance_lock());
    settle();
}
