// The servo's saved state, in the POSIX shared-memory object named after the node clock's with
// ".servo" added (so that whatever removes a run's clocks removes it too). Fields are written
// byte by byte, big-endian, between two increments of a sequence word: an odd or changed
// sequence means a writer died part-way, and nothing is loaded.
//
//   0 u32 magic, 4 u32 layout version, 8 u64 sequence (native, atomic)
//  16 u8 running, have_delay, have_offset, ever_sampled; u32 status; u32 locked samples; u32 0
//  32 nominal Sync interval (s), mean path delay (ns), offset (ns, i64), drift (ppb), correction
//     (ppb), last sample (monotonic ns), settle until (monotonic ns): eight bytes each, the
//     doubles as their IEEE-754 bits
#include "ptp_platform_servo_store.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>

#include "ptpclock.h"
#include "sysmgr_chassis.h"

namespace {

constexpr uint32_t STORE_MAGIC = 0x5352564f; // "SRVO"
constexpr uint32_t STORE_VERSION = 1;
constexpr size_t STORE_SIZE = 128;
constexpr size_t OFF_SEQUENCE = 8;
constexpr size_t OFF_FIELDS = 16;

struct store_type {
    bool tried = false;
    uint8_t *base = nullptr;
};

store_type store;

std::string object_name()
{
    const chassis_node_type *me = sysmgr_my_node();
    return ptpclock_object_name(me != nullptr ? me->name.c_str() : nullptr) + ".servo";
}

uint8_t *open_store()
{
    if (store.tried) {
        return store.base;
    }
    store.tried = true;
    const std::string name = object_name();
    const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return nullptr;
    }
    void *map = MAP_FAILED;
    if (ftruncate(fd, STORE_SIZE) == 0) {
        map = mmap(nullptr, STORE_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    close(fd);
    store.base = map == MAP_FAILED ? nullptr : static_cast<uint8_t *>(map);
    return store.base;
}

std::atomic<uint64_t> &sequence(uint8_t *base)
{
    return *reinterpret_cast<std::atomic<uint64_t> *>(base + OFF_SEQUENCE);
}

void put(uint8_t *p, uint64_t v, size_t width)
{
    for (size_t i = 0; i < width; i++) {
        p[i] = static_cast<uint8_t>(v >> (8 * (width - 1 - i)));
    }
}

uint64_t get(const uint8_t *p, size_t width)
{
    uint64_t v = 0;
    for (size_t i = 0; i < width; i++) {
        v = v << 8 | p[i];
    }
    return v;
}

uint64_t bits_of(double d)
{
    uint64_t v = 0;
    std::memcpy(&v, &d, sizeof v);
    return v;
}

double double_of(uint64_t v)
{
    double d = 0;
    std::memcpy(&d, &v, sizeof d);
    return d;
}

} // namespace

bool ptp_platform_servo_store_load(ptp_servo_type *servo)
{
    uint8_t *base = open_store();
    if (base == nullptr) {
        return false;
    }
    const uint64_t before = sequence(base).load(std::memory_order_acquire);
    uint8_t bytes[STORE_SIZE];
    std::memcpy(bytes, base, STORE_SIZE);
    std::atomic_thread_fence(std::memory_order_acquire);
    if ((before & 1) != 0 || sequence(base).load(std::memory_order_relaxed) != before || get(bytes, 4) != STORE_MAGIC ||
        get(bytes + 4, 4) != STORE_VERSION) {
        return false;
    }
    const uint8_t *f = bytes + OFF_FIELDS;
    servo->running = f[0] != 0;
    servo->have_delay = f[1] != 0;
    servo->have_offset = f[2] != 0;
    servo->ever_sampled = f[3] != 0;
    servo->status = static_cast<uint32_t>(get(f + 4, 4));
    servo->locked_samples = static_cast<uint32_t>(get(f + 8, 4));
    servo->nominal_interval_s = double_of(get(f + 16, 8));
    servo->mean_path_delay_ns = double_of(get(f + 24, 8));
    servo->offset_ns = static_cast<int64_t>(get(f + 32, 8));
    servo->drift_ppb = double_of(get(f + 40, 8));
    servo->correction_ppb = double_of(get(f + 48, 8));
    servo->last_sample_mono_ns = get(f + 56, 8);
    servo->settle_until_ns = get(f + 64, 8);
    // The last Sync is not kept: the interval is measured again from the next two.
    servo->have_sync = false;
    return true;
}

void ptp_platform_servo_store_save(const ptp_servo_type *servo)
{
    uint8_t *base = open_store();
    if (base == nullptr) {
        return;
    }
    std::atomic<uint64_t> &seq = sequence(base);
    const uint64_t start = seq.load(std::memory_order_relaxed) | 1;
    seq.store(start, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    put(base, STORE_MAGIC, 4);
    put(base + 4, STORE_VERSION, 4);
    uint8_t *f = base + OFF_FIELDS;
    f[0] = servo->running ? 1 : 0;
    f[1] = servo->have_delay ? 1 : 0;
    f[2] = servo->have_offset ? 1 : 0;
    f[3] = servo->ever_sampled ? 1 : 0;
    put(f + 4, servo->status, 4);
    put(f + 8, servo->locked_samples, 4);
    put(f + 12, 0, 4);
    put(f + 16, bits_of(servo->nominal_interval_s), 8);
    put(f + 24, bits_of(servo->mean_path_delay_ns), 8);
    put(f + 32, static_cast<uint64_t>(servo->offset_ns), 8);
    put(f + 40, bits_of(servo->drift_ppb), 8);
    put(f + 48, bits_of(servo->correction_ppb), 8);
    put(f + 56, servo->last_sample_mono_ns, 8);
    put(f + 64, servo->settle_until_ns, 8);
    seq.store(start + 1, std::memory_order_release);
}

void ptp_platform_servo_store_forget(bool always)
{
    if (store.base != nullptr) {
        munmap(store.base, STORE_SIZE);
    }
    if (always || store.tried) {
        shm_unlink(object_name().c_str());
    }
    store = store_type{};
}
