// Trace buffers: a file per buffer, mapped by the writer, read with plain reads by the reader.
// Every field in the file is big-endian, at any alignment (layout in README.md).
#include "jotlog.h"
#include "jotlog_test.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "log_internal.h"

namespace {

constexpr uint8_t file_magic[8] = {'J', 'O', 'T', 'L', 'O', 'G', 0, 1};
constexpr uint32_t file_version = 1;
constexpr uint32_t header_size = 256;
constexpr uint32_t slot_size = 128;
constexpr uint32_t max_records = 1u << 20;
constexpr uint32_t max_text_bytes = 1u << 26;
constexpr const char *default_run_dir = "/tmp/ptp-run";

// Header field offsets.
constexpr size_t H_MAGIC = 0, H_VERSION = 8, H_HSIZE = 12, H_SLOT = 16, H_START_REC = 24, H_START_TEXT = 28,
                 H_RING_REC = 32, H_RING_TEXT = 36, H_WRITTEN = 40, H_START_TEXT_POS = 56, H_RING_TEXT_POS = 64,
                 H_DROPPED = 72, H_PID = 80, H_NAME = 88, H_NAME_LEN = 128;
// Slot field offsets.
constexpr size_t S_SEQ = 0, S_TIME = 8, S_ID = 16, S_NARGS = 24, S_MASK = 26, S_PID = 28, S_ARGS = 32, S_TLEN = 96,
                 S_CHECK = 112;

// Big-endian whatever the host: one swap and one store or load per field, not a loop of bytes.
template <typename T>
T to_big(T v)
{
    if constexpr (std::endian::native == std::endian::little) {
        if constexpr (sizeof(T) == 2)
            return static_cast<T>(__builtin_bswap16(v));
        else if constexpr (sizeof(T) == 4)
            return static_cast<T>(__builtin_bswap32(v));
        else
            return static_cast<T>(__builtin_bswap64(v));
    }
    return v;
}
template <typename T>
void put_big(uint8_t *p, T v)
{
    v = to_big(v);
    std::memcpy(p, &v, sizeof v);
}
template <typename T>
T get_big(const uint8_t *p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return to_big(v);
}
void put16(uint8_t *p, uint16_t v)
{
    put_big(p, v);
}
void put32(uint8_t *p, uint32_t v)
{
    put_big(p, v);
}
void put64(uint8_t *p, uint64_t v)
{
    put_big(p, v);
}
uint16_t get16(const uint8_t *p)
{
    return get_big<uint16_t>(p);
}
uint32_t get32(const uint8_t *p)
{
    return get_big<uint32_t>(p);
}
uint64_t get64(const uint8_t *p)
{
    return get_big<uint64_t>(p);
}

struct geometry {
    uint32_t start_records, start_text, ring_records, ring_text;

    uint64_t start_slots_off() const { return header_size; }
    uint64_t start_text_off() const { return start_slots_off() + uint64_t{start_records} * slot_size; }
    uint64_t ring_slots_off() const { return start_text_off() + start_text; }
    uint64_t ring_text_off() const { return ring_slots_off() + uint64_t{ring_records} * slot_size; }
    uint64_t file_size() const { return ring_text_off() + ring_text; }
    bool valid() const
    {
        return (start_records != 0 || ring_records != 0) && start_records <= max_records &&
               ring_records <= max_records && start_text <= max_text_bytes && ring_text <= max_text_bytes;
    }
};

geometry read_geometry(const uint8_t *h)
{
    return {get32(h + H_START_REC), get32(h + H_START_TEXT), get32(h + H_RING_REC), get32(h + H_RING_TEXT)};
}

bool header_ok(const uint8_t *h, uint64_t size)
{
    if (size < header_size || std::memcmp(h + H_MAGIC, file_magic, sizeof file_magic) != 0 ||
        get32(h + H_VERSION) != file_version || get32(h + H_HSIZE) != header_size || get32(h + H_SLOT) != slot_size)
        return false;
    geometry g = read_geometry(h);
    return g.valid() && g.file_size() <= size;
}

bool name_ok(const char *name)
{
    if (name == nullptr || name[0] == '\0' || name[0] == '/' || std::strlen(name) >= H_NAME_LEN)
        return false;
    std::string s = name;
    size_t start = 0;
    while (true) {
        size_t end = s.find('/', start);
        std::string part = s.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        for (char c : part)
            if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.'))
                return false;
        if (end == std::string::npos)
            return true;
        start = end + 1;
    }
}

struct globals_type {
    std::mutex lock;
    std::string run_dir; // empty: not set
    std::set<std::string> open_names;
    FILE *show_out = nullptr;
};

globals_type &globals()
{
    static globals_type *g = new globals_type;
    return *g;
}

} // namespace

struct jotlog_buffer {
    std::mutex lock;
    std::string name;
    geometry geo;
    uint8_t *map;
    size_t map_size;
    uint64_t written;        // records written, = seq of the last
    uint64_t start_text_pos; // bytes used of the start text store
    uint64_t ring_text_pos;  // bytes ever written to the ring text store
    uint64_t dropped;
    uint32_t pid;
};

std::string jotlog_set_run_dir(const char *dir)
{
    {
        auto &g = globals();
        std::lock_guard l(g.lock);
        g.run_dir = dir != nullptr ? dir : "";
    }
    return jotlog_run_dir();
}

std::string jotlog_run_dir()
{
    auto &g = globals();
    std::lock_guard l(g.lock);
    if (!g.run_dir.empty())
        return g.run_dir;
    const char *env = std::getenv("PTP_RUN_DIR");
    return env != nullptr && env[0] != '\0' ? env : default_run_dir;
}

std::string jotlog_file_path(const char *name)
{
    // Each node keeps its own buffers, as each node of a router has its own disk: the instances
    // of one program on the nodes of a simulated chassis must not share (and truncate under each
    // other) one file.
    std::string node;
    if (const char *env = getenv("PTP_NODE"); env != nullptr && env[0] != '\0') {
        node = env;
        std::replace(node.begin(), node.end(), '/', '_');
        node += "/";
    }
    return jotlog_run_dir() + "/jotlog/" + node + (name != nullptr ? name : "");
}

void jotlog_show_set_output(FILE *out)
{
    auto &g = globals();
    std::lock_guard l(g.lock);
    g.show_out = out;
}

zerrno jotlog_init2(const char *name, uint32_t start_records, uint32_t start_text_bytes, uint32_t ring_records,
                    uint32_t ring_text_bytes, uint32_t flags, jotlog_handle_type *handle)
{
    if (handle == nullptr)
        return EINVAL;
    *handle = nullptr;
    geometry geo{start_records, start_text_bytes, ring_records, ring_text_bytes};
    if (!name_ok(name) || flags != 0 || !geo.valid())
        return EINVAL;
    auto &g = globals();
    {
        std::lock_guard l(g.lock);
        if (g.open_names.count(name) != 0)
            return EEXIST;
        g.open_names.insert(name);
    }
    auto forget = [&] {
        std::lock_guard l(g.lock);
        g.open_names.erase(name);
    };

    std::string path = jotlog_file_path(name);
    if (!log_internal::make_dirs(path.substr(0, path.rfind('/')))) {
        int err = errno != 0 ? errno : EIO;
        forget();
        return static_cast<zerrno>(err);
    }
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        int err = errno;
        forget();
        return static_cast<zerrno>(err);
    }
    struct stat st {};
    fstat(fd, &st);
    uint64_t size = geo.file_size();
    // An earlier file of the same geometry is continued, so traces survive a restart.
    bool keep = false;
    if (static_cast<uint64_t>(st.st_size) == size) {
        uint8_t h[header_size];
        if (pread(fd, h, sizeof h, 0) == static_cast<ssize_t>(sizeof h) && header_ok(h, size)) {
            geometry old = read_geometry(h);
            keep = old.start_records == geo.start_records && old.start_text == geo.start_text &&
                   old.ring_records == geo.ring_records && old.ring_text == geo.ring_text;
        }
    }
    if (!keep && (ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0)) {
        int err = errno;
        close(fd);
        forget();
        return static_cast<zerrno>(err);
    }
    void *m = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    int err = errno;
    close(fd);
    if (m == MAP_FAILED) {
        forget();
        return static_cast<zerrno>(err);
    }
    auto *b = new jotlog_buffer;
    b->name = name;
    b->geo = geo;
    b->map = static_cast<uint8_t *>(m);
    b->map_size = size;
    b->pid = static_cast<uint32_t>(getpid());
    uint8_t *h = b->map;
    if (keep) {
        b->written = get64(h + H_WRITTEN);
        b->start_text_pos = std::min<uint64_t>(get64(h + H_START_TEXT_POS), geo.start_text);
        b->ring_text_pos = get64(h + H_RING_TEXT_POS);
        b->dropped = get64(h + H_DROPPED);
    } else {
        b->written = b->start_text_pos = b->ring_text_pos = b->dropped = 0;
        std::memcpy(h + H_MAGIC, file_magic, sizeof file_magic);
        put32(h + H_VERSION, file_version);
        put32(h + H_HSIZE, header_size);
        put32(h + H_SLOT, slot_size);
        put32(h + H_START_REC, geo.start_records);
        put32(h + H_START_TEXT, geo.start_text);
        put32(h + H_RING_REC, geo.ring_records);
        put32(h + H_RING_TEXT, geo.ring_text);
        std::memset(h + H_NAME, 0, H_NAME_LEN);
        std::memcpy(h + H_NAME, name, std::strlen(name));
    }
    put32(h + H_PID, b->pid);
    *handle = b;
    return ZERR_OK;
}

void jotlog_close(jotlog_handle_type handle)
{
    if (handle == nullptr)
        return;
    msync(handle->map, handle->map_size, MS_ASYNC);
    munmap(handle->map, handle->map_size);
    auto &g = globals();
    {
        std::lock_guard l(g.lock);
        g.open_names.erase(handle->name);
    }
    delete handle;
}

namespace {

// One record into the buffer; its lock held. The header's positions are the caller's to publish.
zerrno write_locked(jotlog_buffer *b, uint64_t now, uint64_t id, uint32_t text_mask, const uint64_t *args,
                    uint32_t nargs)
{
    uint32_t n = std::min(nargs, JOTLOG_MAX_ARGS);
    text_mask &= (1u << n) - 1u;
    const geometry &geo = b->geo;
    uint64_t seq = b->written + 1;
    bool in_start = b->written < geo.start_records;
    if (!in_start && geo.ring_records == 0) {
        ++b->dropped;
        put64(b->map + H_DROPPED, b->dropped);
        return ENOSPC;
    }
    uint8_t *slot;
    uint8_t *text_store;
    uint64_t text_size;
    uint64_t *text_pos;
    if (in_start) {
        slot = b->map + geo.start_slots_off() + b->written * slot_size;
        text_store = b->map + geo.start_text_off();
        text_size = geo.start_text;
        text_pos = &b->start_text_pos;
    } else {
        uint64_t i = (b->written - geo.start_records) % geo.ring_records;
        slot = b->map + geo.ring_slots_off() + i * slot_size;
        text_store = b->map + geo.ring_text_off();
        text_size = geo.ring_text;
        text_pos = &b->ring_text_pos;
    }

    // Invalidate first, so a reader never takes a half-written slot for a whole one.
    put64(slot + S_SEQ, 0);
    put64(slot + S_CHECK, 0);
    put64(slot + S_TIME, now);
    put64(slot + S_ID, id);
    put16(slot + S_NARGS, static_cast<uint16_t>(n));
    put16(slot + S_MASK, static_cast<uint16_t>(text_mask));
    put32(slot + S_PID, b->pid);
    for (uint32_t i = 0; i < JOTLOG_MAX_ARGS; ++i) {
        uint64_t word = i < n ? args[i] : 0;
        uint16_t len = 0;
        if ((text_mask >> i & 1u) != 0) {
            const char *text = reinterpret_cast<const char *>(static_cast<uintptr_t>(word));
            size_t want = text != nullptr ? strnlen(text, JOTLOG_MAX_TEXT) : 0;
            // The start store keeps its texts; the ring store wraps over the oldest.
            uint64_t room = in_start ? text_size - *text_pos : text_size;
            len = static_cast<uint16_t>(std::min<uint64_t>(want, room));
            word = *text_pos;
            for (uint16_t k = 0; k < len; ++k)
                text_store[(*text_pos + k) % text_size] = static_cast<uint8_t>(text[k]);
            *text_pos += len;
        }
        put64(slot + S_ARGS + 8 * i, word);
        put16(slot + S_TLEN + 2 * i, len);
    }
    put64(slot + S_SEQ, seq);
    put64(slot + S_CHECK, seq);
    b->written = seq;
    return ZERR_OK;
}

// The positions a reader starts from, once the records behind them are whole.
void publish_locked(jotlog_buffer *b)
{
    put64(b->map + H_START_TEXT_POS, b->start_text_pos);
    put64(b->map + H_RING_TEXT_POS, b->ring_text_pos);
    put64(b->map + H_WRITTEN, b->written);
}

} // namespace

zerrno _jotlog(jotlog_handle_type b, uint64_t id, uint32_t text_mask, const uint64_t *args, uint32_t nargs)
{
    if (b == nullptr || (args == nullptr && nargs != 0))
        return EINVAL;
    uint64_t now = log_internal::wall_ns();

    std::lock_guard l(b->lock);
    zerrno rc = write_locked(b, now, id, text_mask, args, nargs);
    if (rc == ZERR_OK)
        publish_locked(b);
    return rc;
}

zerrno jotlog_write_group(jotlog_handle_type b, const jotlog_entry_type *entries, uint32_t count)
{
    if (b == nullptr || (entries == nullptr && count != 0))
        return EINVAL;
    if (count == 0)
        return ZERR_OK;
    uint64_t now = log_internal::wall_ns();

    std::lock_guard l(b->lock);
    zerrno rc = ZERR_OK;
    uint32_t done = 0;
    for (; done < count && rc == ZERR_OK; ++done)
        rc = write_locked(b, now, entries[done].id, entries[done].text_mask, entries[done].args, entries[done].nargs);
    // The records a full start area refused are counted as dropped, as single writes count them.
    for (; done < count; ++done)
        ++b->dropped;
    put64(b->map + H_DROPPED, b->dropped);
    publish_locked(b);
    return rc;
}

zerrno _jotlog0(jotlog_handle_type h, uint64_t id)
{
    return _jotlog(h, id, 0, nullptr, 0);
}
zerrno _jotlog1(jotlog_handle_type h, uint64_t id, uint32_t m, uint64_t a1)
{
    const uint64_t a[] = {a1};
    return _jotlog(h, id, m, a, 1);
}
zerrno _jotlog2(jotlog_handle_type h, uint64_t id, uint32_t m, uint64_t a1, uint64_t a2)
{
    const uint64_t a[] = {a1, a2};
    return _jotlog(h, id, m, a, 2);
}
zerrno _jotlog3(jotlog_handle_type h, uint64_t id, uint32_t m, uint64_t a1, uint64_t a2, uint64_t a3)
{
    const uint64_t a[] = {a1, a2, a3};
    return _jotlog(h, id, m, a, 3);
}
zerrno _jotlog4(jotlog_handle_type h, uint64_t id, uint32_t m, uint64_t a1, uint64_t a2, uint64_t a3, uint64_t a4)
{
    const uint64_t a[] = {a1, a2, a3, a4};
    return _jotlog(h, id, m, a, 4);
}
zerrno _jotlog5(jotlog_handle_type h, uint64_t id, uint32_t m, uint64_t a1, uint64_t a2, uint64_t a3, uint64_t a4,
                uint64_t a5)
{
    const uint64_t a[] = {a1, a2, a3, a4, a5};
    return _jotlog(h, id, m, a, 5);
}
zerrno _jotlog6(jotlog_handle_type h, uint64_t id, uint32_t m, uint64_t a1, uint64_t a2, uint64_t a3, uint64_t a4,
                uint64_t a5, uint64_t a6)
{
    const uint64_t a[] = {a1, a2, a3, a4, a5, a6};
    return _jotlog(h, id, m, a, 6);
}
zerrno _jotlog7(jotlog_handle_type h, uint64_t id, uint32_t m, uint64_t a1, uint64_t a2, uint64_t a3, uint64_t a4,
                uint64_t a5, uint64_t a6, uint64_t a7)
{
    const uint64_t a[] = {a1, a2, a3, a4, a5, a6, a7};
    return _jotlog(h, id, m, a, 7);
}
zerrno _jotlog8(jotlog_handle_type h, uint64_t id, uint32_t m, uint64_t a1, uint64_t a2, uint64_t a3, uint64_t a4,
                uint64_t a5, uint64_t a6, uint64_t a7, uint64_t a8)
{
    const uint64_t a[] = {a1, a2, a3, a4, a5, a6, a7, a8};
    return _jotlog(h, id, m, a, 8);
}

// ---- Reader ---------------------------------------------------------------------------------

const char *jotlog_record_text(const jotlog_record_type *record, uint32_t i)
{
    if (record == nullptr || i >= record->nargs || i >= JOTLOG_MAX_ARGS || (record->text_mask >> i & 1u) == 0)
        return nullptr;
    return record->text[i];
}

namespace {

// Text argument words point into the record itself: set them after every copy of a record.
void point_texts(jotlog_record_type &r)
{
    for (uint32_t i = 0; i < r.nargs; ++i)
        if ((r.text_mask >> i & 1u) != 0)
            r.args[i] = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(r.text[i]));
}

// Decode the slot holding `seq`; false when the slot does not hold it whole.
bool decode_slot(const uint8_t *slot, uint64_t seq, const uint8_t *text_store, uint64_t text_size, uint64_t text_pos,
                 bool ring, jotlog_record_type &r)
{
    if (get64(slot + S_SEQ) != seq || get64(slot + S_CHECK) != seq)
        return false;
    r = jotlog_record_type{};
    r.seq = seq;
    r.timestamp = get64(slot + S_TIME);
    r.id = get64(slot + S_ID);
    r.nargs = get16(slot + S_NARGS);
    if (r.nargs > JOTLOG_MAX_ARGS)
        return false;
    r.text_mask = static_cast<uint16_t>(get16(slot + S_MASK) & ((1u << r.nargs) - 1u));
    r.pid = get32(slot + S_PID);
    for (uint32_t i = 0; i < r.nargs; ++i) {
        uint64_t word = get64(slot + S_ARGS + 8 * i);
        r.args[i] = word;
        if ((r.text_mask >> i & 1u) == 0)
            continue;
        uint64_t len = get16(slot + S_TLEN + 2 * i);
        // The text must lie inside what was written and, in the ring, not be overwritten since.
        bool whole = len <= JOTLOG_MAX_TEXT && len <= text_size && word <= text_pos && len <= text_pos - word &&
                     (!ring || text_pos - word <= text_size);
        if (!whole) {
            std::strcpy(r.text[i], "<lost>");
            continue;
        }
        for (uint64_t k = 0; k < len; ++k)
            r.text[i][k] = static_cast<char>(text_store[(word + k) % text_size]);
        r.text[i][len] = '\0';
    }
    return true;
}

zerrno read_file(const std::string &path, std::vector<uint8_t> &data)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return static_cast<zerrno>(errno);
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size < 0 || static_cast<uint64_t>(st.st_size) > (uint64_t{1} << 31)) {
        close(fd);
        return EBADMSG;
    }
    data.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < data.size()) {
        ssize_t n = pread(fd, data.data() + got, data.size() - got, static_cast<off_t>(got));
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    data.resize(got);
    return ZERR_OK;
}

} // namespace

namespace {

// One buffer's records, oldest first (start area, then ring), one at a time: the merge of the
// trace reader holds one decoded record per buffer, not every record of every buffer.
struct record_cursor {
    std::vector<uint8_t> data;
    geometry geo{};
    uint64_t written = 0, start_pos = 0, ring_pos = 0;
    uint64_t in_start = 0, next_start = 1; // start-area sequence numbers still to read
    uint64_t ring_written = 0, next_ring = 0;
    jotlog_record_type record{};
};

zerrno cursor_open(const char *name, record_cursor &c)
{
    if (!name_ok(name))
        return EINVAL;
    if (zerrno rc = read_file(jotlog_file_path(name), c.data); rc != ZERR_OK)
        return rc;
    const uint8_t *h = c.data.data();
    if (!header_ok(h, c.data.size()))
        return EBADMSG;
    c.geo = read_geometry(h);
    c.written = get64(h + H_WRITTEN);
    c.start_pos = std::min<uint64_t>(get64(h + H_START_TEXT_POS), c.geo.start_text);
    c.ring_pos = get64(h + H_RING_TEXT_POS);
    c.in_start = std::min<uint64_t>(c.written, c.geo.start_records);
    c.next_start = 1;
    c.ring_written = c.geo.ring_records != 0 && c.written > c.geo.start_records ? c.written - c.geo.start_records : 0;
    c.next_ring = c.ring_written > c.geo.ring_records ? c.ring_written - c.geo.ring_records : 0;
    return ZERR_OK;
}

// The next record that checks out into c.record (its texts pointed at); false at the end.
bool cursor_next(record_cursor &c)
{
    const uint8_t *h = c.data.data();
    while (c.next_start <= c.in_start) {
        const uint64_t seq = c.next_start++;
        const uint8_t *slot = h + c.geo.start_slots_off() + (seq - 1) * slot_size;
        if (decode_slot(slot, seq, h + c.geo.start_text_off(), c.geo.start_text, c.start_pos, false, c.record)) {
            point_texts(c.record);
            return true;
        }
    }
    while (c.next_ring < c.ring_written) {
        const uint64_t k = c.next_ring++;
        const uint8_t *slot = h + c.geo.ring_slots_off() + (k % c.geo.ring_records) * slot_size;
        if (decode_slot(slot, c.geo.start_records + k + 1, h + c.geo.ring_text_off(), c.geo.ring_text, c.ring_pos, true,
                        c.record)) {
            point_texts(c.record);
            return true;
        }
    }
    return false;
}

} // namespace

zerrno jotlog_read(const char *name, jotlog_visit_fn visitor, void *context)
{
    if (!name_ok(name) || visitor == nullptr)
        return EINVAL;
    record_cursor c;
    if (zerrno rc = cursor_open(name, c); rc != ZERR_OK)
        return rc;
    while (cursor_next(c))
        if (!visitor(&c.record, context))
            break;
    return ZERR_OK;
}

namespace {

void undecoded(const jotlog_record_type &r, std::string &out)
{
    char buf[64];
    snprintf(buf, sizeof buf, "id 0x%016lx", static_cast<unsigned long>(r.id));
    out += buf;
    for (uint32_t i = 0; i < r.nargs; ++i) {
        if (const char *t = jotlog_record_text(&r, i)) {
            out += " \"";
            out += t;
            out += "\"";
        } else {
            snprintf(buf, sizeof buf, " 0x%lx", static_cast<unsigned long>(r.args[i]));
            out += buf;
        }
    }
}

} // namespace

int jotlog_show(int argc, char **argv, const char *tool_opts, uint64_t context, jotlog_decode_fn decoder,
                const char *const *buffers)
{
    // Only the reader's own option is looked at; the rest belong to the tool.
    bool show_ids = false;
    const char *opts = tool_opts != nullptr ? tool_opts : "";
    for (int a = 1; a < argc && argv != nullptr && argv[a] != nullptr; ++a) {
        const char *arg = argv[a];
        if (std::strcmp(arg, "--") == 0)
            break;
        if (arg[0] != '-' || arg[1] == '\0')
            continue;
        for (const char *c = arg + 1; *c != '\0'; ++c) {
            const char *o = *c != ':' ? std::strchr(opts, *c) : nullptr;
            if (o == nullptr)
                continue;
            if (o[1] == ':') { // the option's value is the rest of this word or the next word
                if (c[1] == '\0')
                    ++a;
                break;
            }
            if (*c == 'i')
                show_ids = true;
        }
    }

    // Each buffer is read through a cursor; the merge takes the oldest current record of all.
    std::vector<std::string> names;
    std::vector<std::unique_ptr<record_cursor>> cursors;
    std::vector<size_t> live; // buffers with a current record
    for (size_t i = 0; buffers != nullptr && buffers[i] != nullptr; ++i) {
        names.emplace_back(buffers[i]);
        cursors.push_back(std::make_unique<record_cursor>());
        const zerrno rc = cursor_open(buffers[i], *cursors.back());
        if (rc == ZERR_OK) {
            if (cursor_next(*cursors.back()))
                live.push_back(i);
        } else if (rc != ENOENT) {
            // A file that is there but cannot be read as a buffer (damaged, truncated, not a
            // trace buffer) is said so, not passed over as if the process had traced nothing.
            std::fprintf(stderr, "%s: cannot read trace buffer (%s): %s\n", buffers[i],
                         jotlog_file_path(buffers[i]).c_str(),
                         rc == EBADMSG ? "damaged or truncated file" : std::strerror(static_cast<int>(rc)));
        }
    }

    FILE *out;
    {
        auto &g = globals();
        std::lock_guard l(g.lock);
        out = g.show_out != nullptr ? g.show_out : stdout;
    }
    std::vector<char> text(4096);
    std::string line;
    uint64_t cached_sec = UINT64_MAX;
    char sec_text[32] = "";
    size_t sec_len = 0;
    while (!live.empty()) {
        // Oldest first; on equal times the buffer listed first.
        size_t pick = 0;
        for (size_t k = 1; k < live.size(); ++k)
            if (cursors[live[k]]->record.timestamp < cursors[live[pick]]->record.timestamp)
                pick = k;
        const size_t b = live[pick];
        const jotlog_record_type &r = cursors[b]->record;
        // The time as log_internal::format_time gives it, its seconds formatted once a second.
        const uint64_t sec = r.timestamp / 1000000000u;
        if (sec != cached_sec) {
            cached_sec = sec;
            const time_t t = static_cast<time_t>(sec);
            tm parts{};
            gmtime_r(&t, &parts);
            sec_len = strftime(sec_text, sizeof sec_text, "%Y-%m-%d %H:%M:%S", &parts);
        }
        char usec[16];
        const int usec_len =
            snprintf(usec, sizeof usec, ".%06u ", static_cast<unsigned>(r.timestamp % 1000000000u / 1000u));
        line.assign(sec_text, sec_len);
        line.append(usec, static_cast<size_t>(usec_len));
        line += names[b];
        line += ' ';
        line += std::to_string(r.pid);
        line += ": ";
        if (show_ids) {
            char buf[32];
            snprintf(buf, sizeof buf, "[0x%016lx] ", static_cast<unsigned long>(r.id));
            line += buf;
        }
        text[0] = '\0';
        int rc = decoder != nullptr ? decoder(&r, context, text.data(), text.size()) : -1;
        text.back() = '\0';
        if (rc == 0 && text[0] != '\0')
            line += text.data();
        else
            undecoded(r, line);
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), out);
        if (!cursor_next(*cursors[b]))
            live.erase(live.begin() + static_cast<std::ptrdiff_t>(pick));
    }
    std::fflush(out);
    return 0;
}

// ---- Test control ----------------------------------------------------------------------------

std::string jotlog_test_record_line(const jotlog_record_type *record, const char *quote)
{
    char id[32];
    snprintf(id, sizeof id, "0x%llx(", static_cast<unsigned long long>(record->id));
    std::string line = id;
    for (uint32_t i = 0; i < record->nargs && i < JOTLOG_MAX_ARGS; i++) {
        if (i > 0)
            line += ",";
        if (const char *text = jotlog_record_text(record, i))
            line += std::string(quote) + text + quote;
        else
            line += std::to_string(record->args[i]);
    }
    return line + ")";
}

std::vector<std::string> jotlog_test_records(const char *name, const char *quote)
{
    struct visit_ctx {
        std::vector<std::string> lines;
        const char *quote;
    } ctx{{}, quote};
    jotlog_read(
        name,
        [](const jotlog_record_type *r, void *c) {
            auto *v = static_cast<visit_ctx *>(c);
            v->lines.push_back(jotlog_test_record_line(r, v->quote));
            return true;
        },
        &ctx);
    return ctx.lines;
}

std::string jotlog_test_run_dir_create(const char *prefix)
{
    std::string path = std::string("/tmp/") + prefix + ".XXXXXX";
    if (mkdtemp(path.data()) == nullptr)
        return "";
    jotlog_set_run_dir(path.c_str());
    return path;
}

void jotlog_test_run_dir_remove(const std::string &dir)
{
    jotlog_set_run_dir(nullptr);
    if (!dir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
}

std::string jotlog_test_run_tool(int (*tool_main)(int, char **), const char *tool, std::vector<std::string> args,
                                 int *status, std::string *err)
{
    args.insert(args.begin(), tool);
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    char *text = nullptr;
    size_t len = 0;
    FILE *out = open_memstream(&text, &len);
    FILE *errors = tmpfile();
    if (out == nullptr || errors == nullptr) {
        if (out != nullptr)
            fclose(out);
        if (errors != nullptr)
            fclose(errors);
        *status = -1;
        *err = "cannot capture the tool's output";
        return "";
    }
    jotlog_show_set_output(out);
    fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(fileno(errors), STDERR_FILENO);
    *status = tool_main(static_cast<int>(args.size()), argv.data());
    fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    jotlog_show_set_output(nullptr);
    fclose(out);
    std::string got(text, len);
    free(text);
    err->clear();
    rewind(errors);
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, errors)) > 0;)
        err->append(buf, n);
    fclose(errors);
    const std::string pid = " " + std::to_string(getpid()) + ":";
    for (size_t at; (at = got.find(pid)) != std::string::npos;)
        got.replace(at, pid.size(), " PID:");
    return got;
}
