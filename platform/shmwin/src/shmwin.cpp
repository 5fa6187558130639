#include "shmwin.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

// Window layout (host byte order, offsets from the start of the object):
//   0      meta block (META_SIZE bytes): magic, layout of the window, allocator state
//   1024   the user's header (hdr_size bytes, rounded up to 64)
//   ...    heap: blocks of a 16-byte prefix {u64 size, u64 tag} and the user's bytes
// Free blocks keep their next-free offset in their first user word. Small sizes have one free
// list per 16-byte class; larger blocks share one first-fit list.
namespace {

constexpr uint64_t MAGIC = 0x315f4e4957484d53ull; // "SMHWIN_1"
constexpr uint64_t TAG_USED = 0x444553555f4e4957ull;
constexpr uint64_t TAG_FREE = 0x454552465f4e4957ull;
constexpr uint64_t META_SIZE = 1024;
constexpr uint64_t BLOCK_PREFIX = 16;
constexpr uint32_t SMALL_CLASSES = 64; // 16 .. 1024 bytes
constexpr uint32_t MAX_HDR_SIZE = 65536;
constexpr uint64_t DEFAULT_WINDOW_SIZE = 16ull << 20;

// Meta block fields.
constexpr size_t M_MAGIC = 0;
constexpr size_t M_VERSION = 8;
constexpr size_t M_HDR_SIZE = 12;
constexpr size_t M_TOTAL = 16;
constexpr size_t M_HEAP_START = 24;
constexpr size_t M_BUMP = 32;
constexpr size_t M_LIVE = 40;
constexpr size_t M_LARGE_FREE = 48;
constexpr size_t M_SMALL_FREE = 56; // SMALL_CLASSES u64 heads
static_assert(M_SMALL_FREE + SMALL_CLASSES * 8 <= META_SIZE);

uint64_t ld64(const uint8_t *p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
uint32_t ld32(const uint8_t *p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
void st64(uint8_t *p, uint64_t v)
{
    std::memcpy(p, &v, 8);
}
void st32(uint8_t *p, uint32_t v)
{
    std::memcpy(p, &v, 4);
}

uint64_t round_up(uint64_t v, uint64_t a)
{
    return (v + a - 1) / a * a;
}

struct fail_state {
    zerrno err = 0;
    uint32_t count = 0;
};

struct registry {
    std::mutex lock;
    std::vector<shmwin_type *> open;
    std::string prefix;
    uint64_t window_size = 0;
    std::array<fail_state, 5> fail{};
};

registry &reg()
{
    static registry r;
    return r;
}

// A window is memory of one node: the simulated chassis runs every node on one host, so a process
// of the chassis (its node named in $PTP_NODE) gets the window of its own node.
std::string object_name(const char *name)
{
    registry &r = reg();
    std::lock_guard<std::mutex> g(r.lock);
    if (r.prefix.empty()) {
        const char *env = std::getenv("SHMWIN_PREFIX");
        r.prefix = env != nullptr && *env != '\0' ? env : "shmwin.";
    }
    std::string node;
    if (const char *env = std::getenv("PTP_NODE"); env != nullptr && *env != '\0') {
        for (const char *p = env; *p != '\0'; p++) {
            node += *p == '/' ? '_' : *p;
        }
        node += '.';
    }
    return "/" + r.prefix + node + name;
}

uint64_t window_size()
{
    registry &r = reg();
    std::lock_guard<std::mutex> g(r.lock);
    if (r.window_size == 0) {
        const char *env = std::getenv("SHMWIN_SIZE");
        uint64_t v = env != nullptr ? std::strtoull(env, nullptr, 0) : 0;
        r.window_size = v >= (1u << 20) ? v : DEFAULT_WINDOW_SIZE;
    }
    return r.window_size;
}

zerrno injected(shmwin_test_op op)
{
    registry &r = reg();
    std::lock_guard<std::mutex> g(r.lock);
    fail_state &f = r.fail[static_cast<size_t>(op)];
    if (f.count == 0) {
        return 0;
    }
    f.count--;
    return f.err;
}

} // namespace

struct shmwin_type {
    int fd;
    uint8_t *base;
    uint64_t size;
    uint32_t hdr_size; // the opener's
    std::string name;
    bool replaced = false; // the open set up afresh a window it found but could not keep
};

namespace {

uint64_t hdr_region(uint32_t hdr_size)
{
    return round_up(hdr_size, 64);
}

// Set up meta, header and an empty heap for the opener's header size and version.
void format_window(shmwin_type *w, uint32_t version)
{
    uint8_t *m = w->base;
    st64(m + M_MAGIC, 0); // a format cut short leaves no valid magic behind
    uint64_t heap = META_SIZE + hdr_region(w->hdr_size);
    std::memset(m + 8, 0, META_SIZE - 8);
    std::memset(m + META_SIZE, 0, hdr_region(w->hdr_size));
    st32(m + M_VERSION, version);
    st32(m + M_HDR_SIZE, w->hdr_size);
    st64(m + M_TOTAL, w->size);
    st64(m + M_HEAP_START, heap);
    st64(m + M_BUMP, heap);
    st64(m + M_MAGIC, MAGIC);
}

// True when the window's bookkeeping can be trusted.
bool meta_intact(const shmwin_type *w)
{
    const uint8_t *m = w->base;
    if (ld64(m + M_MAGIC) != MAGIC || ld64(m + M_TOTAL) != w->size) {
        return false;
    }
    uint32_t hdr = ld32(m + M_HDR_SIZE);
    uint64_t heap = ld64(m + M_HEAP_START);
    uint64_t bump = ld64(m + M_BUMP);
    if (hdr == 0 || hdr > MAX_HDR_SIZE || heap != META_SIZE + hdr_region(hdr)) {
        return false;
    }
    return bump >= heap && bump <= w->size && bump % 16 == 0;
}

uint64_t heap_start(const shmwin_type *w)
{
    return ld64(w->base + M_HEAP_START);
}

// A block offset (of its prefix) that lies inside the used heap.
bool block_in_heap(const shmwin_type *w, uint64_t block)
{
    return block >= heap_start(w) && block % 16 == 0 && block + BLOCK_PREFIX <= ld64(w->base + M_BUMP);
}

// A block whose recorded size is a whole number of 16-byte units that ends inside the used heap.
// The prefix was written by some earlier process: a damaged size must not send a free-list
// link, or the caller's bytes, past the block.
bool block_sound(const shmwin_type *w, uint64_t block)
{
    if (!block_in_heap(w, block)) {
        return false;
    }
    uint64_t size = ld64(w->base + block);
    uint64_t room = ld64(w->base + M_BUMP) - block - BLOCK_PREFIX;
    return size != 0 && size % 16 == 0 && size <= room;
}

void unmap(shmwin_type *w)
{
    munmap(w->base, w->size);
    close(w->fd);
}

} // namespace

zerrno shmwin_open_win_v1(const char *name, uint32_t hdr_size, uint32_t version, shmwin_version_check_fn check,
                          void *context, shmwin_handle_type *out_win, void **out_hdr)
{
    *out_win = nullptr;
    *out_hdr = nullptr;
    if (name == nullptr || *name == '\0' || std::strchr(name, '/') != nullptr || hdr_size == 0 ||
        hdr_size > MAX_HDR_SIZE) {
        return EINVAL;
    }
    if (zerrno err = injected(shmwin_test_op::open); err != 0) {
        return err;
    }
    std::string obj = object_name(name);
    int fd = shm_open(obj.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return static_cast<zerrno>(errno);
    }
    // Serialise set-up against another opener of the same window.
    flock(fd, LOCK_EX);
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        zerrno err = static_cast<zerrno>(errno);
        close(fd);
        return err;
    }
    const bool existed = st.st_size != 0;
    bool created = !existed;
    uint64_t size = created ? window_size() : static_cast<uint64_t>(st.st_size);
    if (size < META_SIZE + hdr_region(hdr_size) + 4096) {
        // Too small to be one of ours: start it again at the configured size.
        created = true;
        size = window_size();
    }
    if (created && ftruncate(fd, static_cast<off_t>(size)) != 0) {
        zerrno err = static_cast<zerrno>(errno);
        close(fd);
        return err;
    }
    void *base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (base == MAP_FAILED) {
        zerrno err = static_cast<zerrno>(errno);
        close(fd);
        return err;
    }
    auto *w = new shmwin_type{fd, static_cast<uint8_t *>(base), size, hdr_size, name};
    if (created || !meta_intact(w)) {
        w->replaced = existed;
        format_window(w, version);
    } else {
        if (check != nullptr) {
            zerrno err = check(w, w->base + META_SIZE, ld32(w->base + M_VERSION), context);
            if (err != 0) {
                flock(fd, LOCK_UN);
                unmap(w);
                delete w;
                return err;
            }
        }
        if (ld32(w->base + M_HDR_SIZE) != hdr_size) {
            // The header of another layout is still there: refuse rather than hand it out.
            flock(fd, LOCK_UN);
            unmap(w);
            delete w;
            return EPROTO;
        }
        st32(w->base + M_VERSION, version);
    }
    flock(fd, LOCK_UN);
    {
        registry &r = reg();
        std::lock_guard<std::mutex> g(r.lock);
        r.open.push_back(w);
    }
    *out_win = w;
    *out_hdr = w->base + META_SIZE;
    return 0;
}

bool shmwin_was_replaced(shmwin_handle_type w)
{
    return w != nullptr && w->replaced;
}

zerrno shmwin_malloc(shmwin_handle_type w, size_t size, void **out_ptr)
{
    *out_ptr = nullptr;
    if (w == nullptr || size == 0 || size > w->size) {
        return EINVAL;
    }
    if (zerrno err = injected(shmwin_test_op::malloc); err != 0) {
        return err;
    }
    uint8_t *m = w->base;
    uint64_t usable = round_up(size, 16);
    uint64_t block = 0;
    if (usable <= SMALL_CLASSES * 16) {
        uint8_t *head = m + M_SMALL_FREE + (usable / 16 - 1) * 8;
        block = ld64(head);
        if (block != 0) {
            if (!block_sound(w, block) || ld64(m + block + 8) != TAG_FREE || ld64(m + block) != usable) {
                return EIO; // the free list is damaged: hand nothing out of it
            }
            st64(head, ld64(m + block + BLOCK_PREFIX));
        }
    } else {
        // First fit on the large list; a block is reused whole.
        uint64_t prev_link = M_LARGE_FREE;
        for (uint64_t b = ld64(m + M_LARGE_FREE); b != 0; b = ld64(m + b + BLOCK_PREFIX)) {
            if (!block_sound(w, b) || ld64(m + b + 8) != TAG_FREE || ld64(m + b) <= SMALL_CLASSES * 16) {
                return EIO;
            }
            if (ld64(m + b) >= usable) {
                st64(m + prev_link, ld64(m + b + BLOCK_PREFIX));
                block = b;
                break;
            }
            prev_link = b + BLOCK_PREFIX;
        }
    }
    if (block == 0) {
        uint64_t bump = ld64(m + M_BUMP);
        if (bump + BLOCK_PREFIX + usable > w->size) {
            return ENOMEM;
        }
        block = bump;
        st64(m + block, usable);
        st64(m + M_BUMP, bump + BLOCK_PREFIX + usable);
    }
    st64(m + block + 8, TAG_USED);
    st64(m + M_LIVE, ld64(m + M_LIVE) + 1);
    *out_ptr = m + block + BLOCK_PREFIX;
    return 0;
}

zerrno shmwin_free(shmwin_handle_type w, void *ptr)
{
    if (w == nullptr || ptr == nullptr) {
        return EINVAL;
    }
    uint8_t *p = static_cast<uint8_t *>(ptr);
    if (p < w->base + BLOCK_PREFIX || p >= w->base + w->size) {
        return EINVAL;
    }
    uint64_t block = static_cast<uint64_t>(p - w->base) - BLOCK_PREFIX;
    uint8_t *m = w->base;
    if (!block_sound(w, block) || ld64(m + block + 8) != TAG_USED) {
        return EINVAL;
    }
    if (zerrno err = injected(shmwin_test_op::free); err != 0) {
        return err;
    }
    uint64_t usable = ld64(m + block);
    uint8_t *head = usable <= SMALL_CLASSES * 16 ? m + M_SMALL_FREE + (usable / 16 - 1) * 8 : m + M_LARGE_FREE;
    st64(m + block + BLOCK_PREFIX, ld64(head));
    st64(m + block + 8, TAG_FREE);
    st64(head, block);
    st64(m + M_LIVE, ld64(m + M_LIVE) - 1);
    return 0;
}

zerrno shmwin_reset(shmwin_handle_type w)
{
    if (w == nullptr) {
        return EINVAL;
    }
    if (zerrno err = injected(shmwin_test_op::reset); err != 0) {
        return err;
    }
    // Zero what the heap used so far, so nothing of the old layout can be read back.
    uint64_t old_heap = meta_intact(w) ? heap_start(w) : META_SIZE;
    uint64_t old_bump = meta_intact(w) ? ld64(w->base + M_BUMP) : w->size;
    std::memset(w->base + old_heap, 0, old_bump - old_heap);
    format_window(w, ld32(w->base + M_VERSION));
    return 0;
}

zerrno shmwin_close(shmwin_handle_type w)
{
    if (w == nullptr) {
        return EINVAL;
    }
    if (zerrno err = injected(shmwin_test_op::close); err != 0) {
        return err;
    }
    {
        registry &r = reg();
        std::lock_guard<std::mutex> g(r.lock);
        std::erase(r.open, w);
    }
    unmap(w);
    delete w;
    return 0;
}

void shmwin_process_cleanup()
{
    std::vector<shmwin_type *> all;
    {
        registry &r = reg();
        std::lock_guard<std::mutex> g(r.lock);
        all.swap(r.open);
    }
    for (shmwin_type *w : all) {
        unmap(w);
        delete w;
    }
}

uint64_t shmwin_ptr_to_offset(shmwin_handle_type w, const void *ptr)
{
    if (ptr == nullptr) {
        return 0;
    }
    return static_cast<uint64_t>(static_cast<const uint8_t *>(ptr) - w->base);
}

void *shmwin_offset_to_ptr(shmwin_handle_type w, uint64_t offset)
{
    if (offset == 0 || offset < heap_start(w) || offset >= ld64(w->base + M_BUMP)) {
        return nullptr;
    }
    return w->base + offset;
}

void *shmwin_offset_to_alloc(shmwin_handle_type w, uint64_t offset, size_t size)
{
    if (w == nullptr || offset < BLOCK_PREFIX) {
        return nullptr;
    }
    uint64_t block = offset - BLOCK_PREFIX;
    if (!block_sound(w, block) || ld64(w->base + block + 8) != TAG_USED || ld64(w->base + block) < size) {
        return nullptr;
    }
    return w->base + offset;
}

void shmwin_test_set_prefix(const char *prefix)
{
    registry &r = reg();
    std::lock_guard<std::mutex> g(r.lock);
    r.prefix = prefix != nullptr ? prefix : "";
}

void shmwin_test_set_window_size(uint64_t bytes)
{
    registry &r = reg();
    std::lock_guard<std::mutex> g(r.lock);
    r.window_size = bytes;
}

zerrno shmwin_test_unlink(const char *name)
{
    std::string obj = object_name(name);
    return shm_unlink(obj.c_str()) == 0 ? 0 : static_cast<zerrno>(errno);
}

void shmwin_test_fail(shmwin_test_op op, zerrno err, uint32_t count)
{
    registry &r = reg();
    std::lock_guard<std::mutex> g(r.lock);
    r.fail[static_cast<size_t>(op)] = fail_state{err, count};
}

uint64_t shmwin_test_live_allocations(shmwin_handle_type w)
{
    return ld64(w->base + M_LIVE);
}
