// The node's PTP clock over the platform's monotonic clock, in a shared-memory object per node.
//
// Layout of the object (PTPCLOCK_OBJECT_SIZE bytes, 8-byte words in host byte order at fixed
// offsets, because every user runs on this host):
//   0  magic          8  version          16 active slot (0 or 1)
//   64 slot 0: sequence, base monotonic ns, base PTP ns, frequency (2^-16 ppb, signed), and the
//              base PTP time's part below a nanosecond (signed, in 2^-16 x 10^-9 ns)
//   128 slot 1: the same
// A writer fills the inactive slot under its sequence (odd while writing) and then makes it the
// active one, so a reader never waits for a writer and a writer that dies part-way leaves the
// active slot untouched. Writers are serialised by flock on the object (between processes) and a
// mutex (between threads sharing one handle).
#include "ptpclock.h"
#include "ptpclock_test.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "plat_clock.h"

namespace {

constexpr size_t PTPCLOCK_OBJECT_SIZE = 4096;
constexpr uint64_t PTPCLOCK_MAGIC = 0x505450434c4b3031ull; // "PTPCLK01"
constexpr uint64_t PTPCLOCK_VERSION = 1;
constexpr size_t OFF_MAGIC = 0;
constexpr size_t OFF_VERSION = 8;
constexpr size_t OFF_ACTIVE = 16;
constexpr size_t OFF_SLOT[2] = {64, 128};
constexpr size_t SLOT_SEQ = 0;
constexpr size_t SLOT_BASE_MONO = 8;
constexpr size_t SLOT_BASE_PTP = 16;
constexpr size_t SLOT_FREQ = 24;
constexpr size_t SLOT_BASE_REM = 32;
constexpr double FREQ_SCALE = 65536.0; // frequency units per ppb
constexpr int64_t NS_PER_S = 1000000000;

struct clock_params {
    uint64_t base_mono;
    uint64_t base_ptp;
    int64_t freq; // 2^-16 ppb
    // The base time's part below a nanosecond, over FREQ_SCALE * NS_PER_S: a rebase keeps the
    // time exactly as it was, so the many rebases of a steered clock do not add up to a drift of
    // their roundings (two line cards steered alike would walk apart).
    int64_t base_rem = 0;
};

constexpr zerr_info_type error_rows[] = {
    {1, "Invalid argument to the PTP clock"},
    {2, "PTP clock value out of range"},
    {3, "PTP clock system call failed"},
    {4, "Out of memory for the PTP clock"},
};
constexpr zerr_data_type error_table = {
    2, "ptpclock", PTPCLOCK_ZERR_FACILITY, sizeof error_rows / sizeof error_rows[0], error_rows, 0, 0,
};

std::mutex prefix_lock;
std::string prefix_value;

std::string object_name(const char *node)
{
    std::string name;
    {
        std::lock_guard<std::mutex> g(prefix_lock);
        if (prefix_value.empty()) {
            const char *env = std::getenv("PTP_CLOCK_PREFIX");
            prefix_value = env != nullptr && *env != '\0' ? env : "ptpclock.";
        }
        name = "/" + prefix_value;
    }
    if (node == nullptr || *node == '\0') {
        node = std::getenv("PTP_NODE");
    }
    if (node == nullptr || *node == '\0') {
        node = "local";
    }
    for (const char *p = node; *p != '\0'; p++) {
        name += *p == '/' ? '_' : *p;
    }
    return name;
}

} // namespace

std::string ptpclock_object_name(const char *node)
{
    return object_name(node);
}

namespace {

constexpr __int128 REM_DEN = static_cast<__int128>(FREQ_SCALE) * NS_PER_S;

// Clock time at mono under params, and what it holds below the nanosecond (over REM_DEN); false
// when it falls outside 0..2^64-1.
bool params_to_ptp(const clock_params &p, uint64_t mono, uint64_t *out, int64_t *rem = nullptr)
{
    const __int128 elapsed = static_cast<__int128>(mono) - static_cast<__int128>(p.base_mono);
    // Rounded to the nearest nanosecond, halves away from zero, so that a positive and a
    // negative frequency of one size move the clock alike.
    const __int128 scaled = elapsed * p.freq + p.base_rem;
    const __int128 corr = scaled >= 0 ? (scaled + REM_DEN / 2) / REM_DEN : -((-scaled + REM_DEN / 2) / REM_DEN);
    const __int128 t = static_cast<__int128>(p.base_ptp) + elapsed + corr;
    if (t < 0 || t > static_cast<__int128>(UINT64_MAX)) {
        return false;
    }
    *out = static_cast<uint64_t>(t);
    if (rem != nullptr) {
        *rem = static_cast<int64_t>(scaled - corr * REM_DEN);
    }
    return true;
}

} // namespace

struct ptpclock_type {
    int fd = -1;
    uint8_t *base = nullptr;
    std::mutex write_lock;

    std::atomic_ref<uint64_t> word(size_t off) const
    {
        return std::atomic_ref<uint64_t>(*reinterpret_cast<uint64_t *>(base + off));
    }
};

namespace {

clock_params read_params(const ptpclock_type *clk)
{
    for (;;) {
        const uint64_t active = clk->word(OFF_ACTIVE).load(std::memory_order_acquire) & 1;
        const size_t slot = OFF_SLOT[active];
        const uint64_t s1 = clk->word(slot + SLOT_SEQ).load(std::memory_order_acquire);
        if ((s1 & 1) != 0) {
            continue;
        }
        clock_params p{};
        p.base_mono = clk->word(slot + SLOT_BASE_MONO).load(std::memory_order_relaxed);
        p.base_ptp = clk->word(slot + SLOT_BASE_PTP).load(std::memory_order_relaxed);
        p.freq = static_cast<int64_t>(clk->word(slot + SLOT_FREQ).load(std::memory_order_relaxed));
        p.base_rem = static_cast<int64_t>(clk->word(slot + SLOT_BASE_REM).load(std::memory_order_relaxed));
        std::atomic_thread_fence(std::memory_order_acquire);
        if (clk->word(slot + SLOT_SEQ).load(std::memory_order_relaxed) == s1) {
            return p;
        }
    }
}

// Caller holds the write locks.
void write_params(ptpclock_type *clk, const clock_params &p)
{
    const uint64_t active = clk->word(OFF_ACTIVE).load(std::memory_order_relaxed) & 1;
    const size_t slot = OFF_SLOT[active ^ 1];
    const uint64_t seq = clk->word(slot + SLOT_SEQ).load(std::memory_order_relaxed);
    const uint64_t writing = (seq & 1) != 0 ? seq + 2 : seq + 1; // odd: a writer died here
    clk->word(slot + SLOT_SEQ).store(writing, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    clk->word(slot + SLOT_BASE_MONO).store(p.base_mono, std::memory_order_relaxed);
    clk->word(slot + SLOT_BASE_PTP).store(p.base_ptp, std::memory_order_relaxed);
    clk->word(slot + SLOT_FREQ).store(static_cast<uint64_t>(p.freq), std::memory_order_relaxed);
    clk->word(slot + SLOT_BASE_REM).store(static_cast<uint64_t>(p.base_rem), std::memory_order_relaxed);
    clk->word(slot + SLOT_SEQ).store(writing + 1, std::memory_order_release);
    clk->word(OFF_ACTIVE).store(active ^ 1, std::memory_order_release);
}

void set_up(ptpclock_type *clk)
{
    std::memset(clk->base, 0, PTPCLOCK_OBJECT_SIZE);
    const int64_t wall = plat_clock_wall_ns() + PTPCLOCK_INITIAL_UTC_OFFSET_S * NS_PER_S;
    clock_params p{plat_clock_mono_ns(), static_cast<uint64_t>(wall > 0 ? wall : 0), 0, 0};
    write_params(clk, p);
    clk->word(OFF_VERSION).store(PTPCLOCK_VERSION, std::memory_order_relaxed);
    clk->word(OFF_MAGIC).store(PTPCLOCK_MAGIC, std::memory_order_release);
}

// Runs change(params at now, now) under the write locks and stores what it leaves.
template <typename F>
zerrno modify(ptpclock_type *clk, F change)
{
    if (clk == nullptr) {
        return PTPCLOCK_ERR_INVALID;
    }
    std::lock_guard<std::mutex> g(clk->write_lock);
    if (flock(clk->fd, LOCK_EX) != 0) {
        return PTPCLOCK_ERR_SYSTEM | static_cast<uint32_t>(errno);
    }
    const uint64_t now = plat_clock_mono_ns();
    clock_params p = read_params(clk);
    uint64_t ptp_now = 0;
    int64_t rem = 0;
    zerrno rc = params_to_ptp(p, now, &ptp_now, &rem) ? ZERR_OK : PTPCLOCK_ERR_RANGE;
    if (rc == ZERR_OK) {
        // Rebase at now, so the new settings apply from now on only.
        clock_params next{now, ptp_now, p.freq, rem};
        rc = change(next);
        if (rc == ZERR_OK) {
            write_params(clk, next);
        }
    }
    flock(clk->fd, LOCK_UN);
    return rc;
}

// How far the wall clock is ahead of the monotonic clock. The wall clock's read is bracketed by two
// of the monotonic clock, and a bracket that a preemption or interrupt has widened is read again,
// the narrowest of a few kept: a thread held up between two plain reads would shift every stamp it
// converts by as long as it was held (seen as Syncs tens of microseconds off under load).
int64_t wall_ahead_of_mono()
{
    constexpr int TRIES = 4;
    constexpr uint64_t NARROW_NS = 1'000;
    uint64_t narrowest = UINT64_MAX;
    int64_t ahead = 0;
    for (int i = 0; i < TRIES && narrowest > NARROW_NS; i++) {
        const uint64_t before = plat_clock_mono_ns();
        const int64_t wall = plat_clock_wall_ns();
        const uint64_t width = plat_clock_mono_ns() - before;
        if (width < narrowest) {
            narrowest = width;
            ahead = wall - static_cast<int64_t>(before + width / 2);
        }
    }
    return ahead;
}

zerrno freq_from_ppb(double ppb, int64_t *out)
{
    if (!std::isfinite(ppb) || std::fabs(ppb) > PTPCLOCK_MAX_FREQ_PPB) {
        return PTPCLOCK_ERR_RANGE;
    }
    *out = static_cast<int64_t>(std::llround(ppb * FREQ_SCALE));
    return ZERR_OK;
}

} // namespace

zerrno ptpclock_open(const char *node, ptpclock_type **out)
{
    if (out == nullptr) {
        return PTPCLOCK_ERR_INVALID;
    }
    *out = nullptr;
    static const bool registered = (zerr_register(&error_table), true);
    (void)registered;
    const std::string name = object_name(node);
    if (name.size() > 255) {
        return PTPCLOCK_ERR_INVALID;
    }
    auto *clk = new (std::nothrow) ptpclock_type;
    if (clk == nullptr) {
        return PTPCLOCK_ERR_NO_MEMORY;
    }
    zerrno rc = ZERR_OK;
    struct stat st {};
    clk->fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (clk->fd < 0 || flock(clk->fd, LOCK_EX) != 0 || fstat(clk->fd, &st) != 0 ||
        (static_cast<size_t>(st.st_size) != PTPCLOCK_OBJECT_SIZE && ftruncate(clk->fd, PTPCLOCK_OBJECT_SIZE) != 0)) {
        rc = PTPCLOCK_ERR_SYSTEM | static_cast<uint32_t>(errno);
    } else {
        void *map = mmap(nullptr, PTPCLOCK_OBJECT_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, clk->fd, 0);
        if (map == MAP_FAILED) {
            rc = PTPCLOCK_ERR_SYSTEM | static_cast<uint32_t>(errno);
        } else {
            clk->base = static_cast<uint8_t *>(map);
            // A new object, one cut short by its creator, or one of another layout starts afresh.
            if (clk->word(OFF_MAGIC).load(std::memory_order_acquire) != PTPCLOCK_MAGIC ||
                clk->word(OFF_VERSION).load(std::memory_order_relaxed) != PTPCLOCK_VERSION) {
                set_up(clk);
            }
        }
    }
    if (clk->fd >= 0) {
        flock(clk->fd, LOCK_UN);
    }
    if (rc != ZERR_OK) {
        ptpclock_close(clk);
        return rc;
    }
    *out = clk;
    return ZERR_OK;
}

void ptpclock_close(ptpclock_type *clk)
{
    if (clk == nullptr) {
        return;
    }
    if (clk->base != nullptr) {
        munmap(clk->base, PTPCLOCK_OBJECT_SIZE);
    }
    if (clk->fd >= 0) {
        close(clk->fd);
    }
    delete clk;
}

zerrno ptpclock_mono_to_ptp(const ptpclock_type *clk, uint64_t mono_ns, uint64_t *ptp_ns)
{
    if (clk == nullptr || ptp_ns == nullptr) {
        return PTPCLOCK_ERR_INVALID;
    }
    return params_to_ptp(read_params(clk), mono_ns, ptp_ns) ? ZERR_OK : PTPCLOCK_ERR_RANGE;
}

zerrno ptpclock_gettime(const ptpclock_type *clk, uint64_t *ptp_ns)
{
    return ptpclock_mono_to_ptp(clk, plat_clock_mono_ns(), ptp_ns);
}

zerrno ptpclock_wall_to_ptp(const ptpclock_type *clk, int64_t wall_ns, uint64_t *ptp_ns)
{
    // The stamp's age on the wall clock is its age on the monotonic clock.
    const __int128 mono = static_cast<__int128>(wall_ns) - wall_ahead_of_mono();
    if (mono < 0 || mono > static_cast<__int128>(UINT64_MAX)) {
        return PTPCLOCK_ERR_RANGE;
    }
    return ptpclock_mono_to_ptp(clk, static_cast<uint64_t>(mono), ptp_ns);
}

zerrno ptpclock_step(ptpclock_type *clk, int64_t delta_ns)
{
    return modify(clk, [delta_ns](clock_params &p) {
        const __int128 t = static_cast<__int128>(p.base_ptp) + delta_ns;
        if (t < 0 || t > static_cast<__int128>(UINT64_MAX)) {
            return PTPCLOCK_ERR_RANGE;
        }
        p.base_ptp = static_cast<uint64_t>(t);
        return ZERR_OK;
    });
}

zerrno ptpclock_settime(ptpclock_type *clk, uint64_t ptp_ns)
{
    return modify(clk, [ptp_ns](clock_params &p) {
        p.base_ptp = ptp_ns;
        p.base_rem = 0;
        return ZERR_OK;
    });
}

zerrno ptpclock_follow(ptpclock_type *clk, const ptpclock_type *from)
{
    if (from == nullptr) {
        return PTPCLOCK_ERR_INVALID;
    }
    // Both clocks run over the one monotonic clock: the same settings are the same time.
    return modify(clk, [from](clock_params &p) {
        p = read_params(from);
        return ZERR_OK;
    });
}

zerrno ptpclock_set_freq(ptpclock_type *clk, double ppb)
{
    int64_t freq = 0;
    const zerrno rc = freq_from_ppb(ppb, &freq);
    if (rc != ZERR_OK) {
        return rc;
    }
    return modify(clk, [freq](clock_params &p) {
        p.freq = freq;
        return ZERR_OK;
    });
}

zerrno ptpclock_adjust_freq(ptpclock_type *clk, double delta_ppb)
{
    return modify(clk, [delta_ppb](clock_params &p) {
        int64_t freq = 0;
        const zerrno rc = freq_from_ppb(static_cast<double>(p.freq) / FREQ_SCALE + delta_ppb, &freq);
        if (rc == ZERR_OK) {
            p.freq = freq;
        }
        return rc;
    });
}

zerrno ptpclock_get_freq(const ptpclock_type *clk, double *ppb)
{
    if (clk == nullptr || ppb == nullptr) {
        return PTPCLOCK_ERR_INVALID;
    }
    *ppb = static_cast<double>(read_params(clk).freq) / FREQ_SCALE;
    return ZERR_OK;
}

void ptpclock_test_set_prefix(const char *prefix)
{
    std::lock_guard<std::mutex> g(prefix_lock);
    prefix_value = prefix != nullptr ? prefix : "";
}

zerrno ptpclock_test_unlink(const char *node)
{
    const std::string name = object_name(node);
    if (shm_unlink(name.c_str()) != 0) {
        return PTPCLOCK_ERR_SYSTEM | static_cast<uint32_t>(errno);
    }
    return ZERR_OK;
}
