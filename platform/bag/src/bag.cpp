// The bag facility: registry of described bags, encoding, decoding and description lookup.
#include "bag.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bag_schema.h"

using namespace bag_internal;

namespace {

constexpr uint8_t magic[4] = {'Z', 'B', 'A', 'G'};
constexpr uint8_t format_version = 1;
constexpr uint32_t null_string = 0xffffffffu;
// Largest allocation a decoded array may ask for, whatever its count says.
constexpr uint64_t max_decoded_block = 1u << 28;

constexpr zerr_info_type error_rows[] = {
    {BAG_ZERR_INVALID_ARG, "Invalid bag argument"},
    {BAG_ZERR_BAD_DESCRIPTOR, "Invalid bag descriptor"},
    {BAG_ZERR_BAD_SCHEMA, "Invalid bag schema"},
    {BAG_ZERR_BAD_LAYOUT, "Bag layout does not match its schema"},
    {BAG_ZERR_NOT_OPEN, "No bag registration in progress"},
    {BAG_ZERR_ALREADY_OPEN, "Bag registration already in progress"},
    {BAG_ZERR_EXISTS, "A different bag of that name is registered"},
    {BAG_ZERR_NOT_REGISTERED, "Bag not registered"},
    {BAG_ZERR_TRUNCATED, "Bag encoding truncated"},
    {BAG_ZERR_INCONSISTENT, "Bag encoding inconsistent"},
    {BAG_ZERR_WRONG_BAG, "Bag encoding is of another bag or schema"},
    {BAG_ZERR_NO_MEMORY, "Out of memory in bag facility"},
    {BAG_ZERR_NOT_FOUND, "Bag description string not found"},
    {BAG_ZERR_TOO_LARGE, "Bag too large to encode"},
    {BAG_ZERR_NO_LIBRARY, "Bag description library cannot be loaded"},
    {BAG_ZERR_BAD_LIBRARY, "Bag description library is malformed"},
};
constexpr zerr_data_type error_table = {
    2, "bag", BAG_ZERR_FACILITY, sizeof error_rows / sizeof error_rows[0], error_rows, 0, 0,
};

// Errors are rare; registering the texts with each one keeps them readable even after a test
// reset the error registry.
zerrno fail(bag_zerr_number number)
{
    zerr_register(&error_table);
    return bag_zerr(number);
}

struct entry {
    std::string name;
    std::string schema_text;
    uint32_t major;
    uint32_t minor;
    uint32_t fingerprint;
    schema parsed;
};

struct registry_type {
    std::mutex lock;
    std::map<std::string, std::shared_ptr<const entry>> bags;
    bool open = false;
    std::vector<std::string> added; // by the registration in progress
    uint32_t fail_countdown = 0;
    zerrno fail_code = ZERR_OK;
};

registry_type &registry()
{
    static registry_type r;
    return r;
}

// ---- Description libraries ----

// A bag a description library describes: its schema and the library that holds its help texts.
struct library_bag {
    std::shared_ptr<const entry> e;
    void *handle = nullptr;
};

struct libraries_type {
    std::mutex lock;
    std::vector<void *> handles;
    std::map<std::string, std::string> paths; // path -> family, of each library loaded
    std::map<std::string, std::shared_ptr<const library_bag>> bags;
};

libraries_type &libraries()
{
    static libraries_type l;
    return l;
}

std::shared_ptr<const library_bag> library_bag_of(const std::string &name)
{
    libraries_type &l = libraries();
    std::lock_guard guard(l.lock);
    auto it = l.bags.find(name);
    return it != l.bags.end() ? it->second : nullptr;
}

uint32_t fnv1a(std::string_view text)
{
    uint32_t h = 2166136261u;
    for (char c : text) {
        h ^= static_cast<uint8_t>(c);
        h *= 16777619u;
    }
    return h;
}

zerrno check_descriptor(const bag_descriptor_type *d, schema *parsed)
{
    if (d == nullptr || d->first_word != BAG_DESCRIPTOR_FIRST_WORD || d->name == nullptr || d->name[0] == '\0' ||
        strlen(d->name) > 0xffff || d->library == nullptr || d->layout == nullptr || d->schema == nullptr ||
        d->compact_schema == nullptr)
        return fail(BAG_ZERR_BAD_DESCRIPTOR);
    schema compact;
    if (schema_parse(d->schema, parsed) != ZERR_OK || schema_parse(d->compact_schema, &compact) != ZERR_OK ||
        !schema_same_shape(*parsed, compact) || !schema_defs_are_closure(*parsed))
        return fail(BAG_ZERR_BAD_SCHEMA);
    const definition &root = parsed->defs[0];
    const bag_layout_type *l = d->layout;
    if (l->definition_count != parsed->defs.size() - 1 || l->size != root.size ||
        (!root.fields.empty() && l->offsets == nullptr))
        return fail(BAG_ZERR_BAD_LAYOUT);
    for (size_t i = 0; i < root.fields.size(); ++i)
        if (l->offsets[i] != root.fields[i].offset)
            return fail(BAG_ZERR_BAD_LAYOUT);
    return ZERR_OK;
}

// The registered entry of a descriptor; its schema must be the registered one.
zerrno lookup(const bag_descriptor_type *d, std::shared_ptr<const entry> *out)
{
    if (d == nullptr || d->name == nullptr || d->schema == nullptr || d->layout == nullptr)
        return fail(BAG_ZERR_INVALID_ARG);
    registry_type &r = registry();
    std::lock_guard guard(r.lock);
    auto it = r.bags.find(d->name);
    if (it == r.bags.end())
        return fail(BAG_ZERR_NOT_REGISTERED);
    if (it->second->schema_text != d->schema)
        return fail(BAG_ZERR_WRONG_BAG);
    *out = it->second;
    return ZERR_OK;
}

// ---- encoding ----

struct writer {
    std::vector<uint8_t> out;
    void u8(uint8_t v) { out.push_back(v); }
    void u16(uint16_t v)
    {
        out.push_back(static_cast<uint8_t>(v >> 8));
        out.push_back(static_cast<uint8_t>(v));
    }
    void u32(uint32_t v)
    {
        for (int s = 24; s >= 0; s -= 8)
            out.push_back(static_cast<uint8_t>(v >> s));
    }
    void u64(uint64_t v)
    {
        for (int s = 56; s >= 0; s -= 8)
            out.push_back(static_cast<uint8_t>(v >> s));
    }
    void raw(const void *p, size_t n)
    {
        const auto *b = static_cast<const uint8_t *>(p);
        out.insert(out.end(), b, b + n);
    }
};

template <typename T>
T load(const uint8_t *p)
{
    T v;
    memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
void store(uint8_t *p, T v)
{
    memcpy(p, &v, sizeof v);
}

const arm *find_arm(const type_node &t, uint32_t disc)
{
    for (const arm &a : t.arms)
        if (a.key == static_cast<int64_t>(disc) || a.key == static_cast<int64_t>(static_cast<int32_t>(disc)))
            return &a;
    return nullptr;
}

zerrno encode_def(const schema &s, const definition &d, const uint8_t *p, writer *w);

zerrno encode_value(const schema &s, int32_t index, const uint8_t *p, writer *w)
{
    const type_node &t = s.types[static_cast<size_t>(index)];
    switch (t.k) {
    case kind::u8:
    case kind::s8: w->u8(*p); break;
    case kind::u16: w->u16(load<uint16_t>(p)); break;
    case kind::u32:
    case kind::s32:
    case kind::ipv4:
    case kind::enumeration: w->u32(load<uint32_t>(p)); break;
    case kind::boolean: w->u8(load<uint32_t>(p) != 0 ? 1 : 0); break;
    case kind::u64:
    case kind::s64: w->u64(load<uint64_t>(p)); break;
    case kind::raw: w->raw(p, t.count); break;
    case kind::string: {
        const char *text = load<const char *>(p);
        if (text == nullptr) {
            w->u32(null_string);
            break;
        }
        size_t n = strlen(text);
        if (n >= null_string)
            return fail(BAG_ZERR_TOO_LARGE);
        w->u32(static_cast<uint32_t>(n));
        w->raw(text, n);
        break;
    }
    case kind::bytes: {
        uint32_t n = load<uint32_t>(p);
        const uint8_t *data = load<const uint8_t *>(p + 8);
        if (n != 0 && data == nullptr)
            return fail(BAG_ZERR_INVALID_ARG);
        w->u32(n);
        w->raw(data, n);
        break;
    }
    case kind::record: return encode_def(s, s.defs[static_cast<size_t>(t.def)], p, w);
    case kind::optional: {
        const uint8_t *target = load<const uint8_t *>(p);
        w->u8(target != nullptr ? 1 : 0);
        if (target != nullptr)
            return encode_value(s, t.elem, target, w);
        break;
    }
    case kind::array: {
        uint32_t n = load<uint32_t>(p);
        const uint8_t *items = load<const uint8_t *>(p + 8);
        if (n != 0 && items == nullptr)
            return fail(BAG_ZERR_INVALID_ARG);
        w->u32(n);
        uint64_t size = s.types[static_cast<size_t>(t.elem)].size;
        for (uint32_t i = 0; i < n; ++i)
            if (zerrno rc = encode_value(s, t.elem, items + i * size, w); rc != ZERR_OK)
                return rc;
        break;
    }
    case kind::inline_array: {
        uint64_t size = s.types[static_cast<size_t>(t.elem)].size;
        for (uint32_t i = 0; i < t.count; ++i)
            if (zerrno rc = encode_value(s, t.elem, p + i * size, w); rc != ZERR_OK)
                return rc;
        break;
    }
    case kind::union_: {
        uint32_t disc = load<uint32_t>(p);
        w->u32(disc);
        if (const arm *a = find_arm(t, disc))
            return encode_value(s, a->type, p + 8, w);
        break;
    }
    }
    return ZERR_OK;
}

zerrno encode_def(const schema &s, const definition &d, const uint8_t *p, writer *w)
{
    for (const field &f : d.fields)
        if (zerrno rc = encode_value(s, f.type, p + f.offset, w); rc != ZERR_OK)
            return rc;
    return ZERR_OK;
}

// ---- decoding ----

struct reader {
    const uint8_t *p;
    size_t left;
    bool take(size_t n, const uint8_t **at)
    {
        if (n > left)
            return false;
        *at = p;
        p += n;
        left -= n;
        return true;
    }
    bool u8(uint8_t *v)
    {
        const uint8_t *b;
        if (!take(1, &b))
            return false;
        *v = b[0];
        return true;
    }
    bool u16(uint16_t *v)
    {
        const uint8_t *b;
        if (!take(2, &b))
            return false;
        *v = static_cast<uint16_t>(b[0] << 8 | b[1]);
        return true;
    }
    bool u32(uint32_t *v)
    {
        const uint8_t *b;
        if (!take(4, &b))
            return false;
        *v = static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 | static_cast<uint32_t>(b[2]) << 8 |
             b[3];
        return true;
    }
    bool u64(uint64_t *v)
    {
        uint32_t hi, lo;
        if (!u32(&hi) || !u32(&lo))
            return false;
        *v = static_cast<uint64_t>(hi) << 32 | lo;
        return true;
    }
};

zerrno decode_def(const schema &s, const definition &d, reader *r, uint8_t *p);

// Checks that count elements of a type can be in the bytes left and returns the block size.
zerrno array_block(const type_node &elem, uint32_t count, const reader &r, uint64_t *block)
{
    uint64_t wire = elem.min_wire == 0 ? 1 : elem.min_wire;
    if (static_cast<uint64_t>(count) * wire > r.left)
        return fail(BAG_ZERR_TRUNCATED);
    *block = static_cast<uint64_t>(count) * (elem.size == 0 ? 1 : elem.size);
    if (*block > max_decoded_block)
        return fail(BAG_ZERR_INCONSISTENT);
    return ZERR_OK;
}

zerrno decode_value(const schema &s, int32_t index, reader *r, uint8_t *p)
{
    const type_node &t = s.types[static_cast<size_t>(index)];
    switch (t.k) {
    case kind::u8:
    case kind::s8:
        if (!r->u8(p))
            return fail(BAG_ZERR_TRUNCATED);
        break;
    case kind::u16: {
        uint16_t v;
        if (!r->u16(&v))
            return fail(BAG_ZERR_TRUNCATED);
        store(p, v);
        break;
    }
    case kind::u32:
    case kind::s32:
    case kind::ipv4:
    case kind::enumeration: {
        uint32_t v;
        if (!r->u32(&v))
            return fail(BAG_ZERR_TRUNCATED);
        store(p, v);
        break;
    }
    case kind::boolean: {
        uint8_t v;
        if (!r->u8(&v))
            return fail(BAG_ZERR_TRUNCATED);
        if (v > 1)
            return fail(BAG_ZERR_INCONSISTENT);
        store(p, static_cast<uint32_t>(v));
        break;
    }
    case kind::u64:
    case kind::s64: {
        uint64_t v;
        if (!r->u64(&v))
            return fail(BAG_ZERR_TRUNCATED);
        store(p, v);
        break;
    }
    case kind::raw: {
        const uint8_t *b;
        if (!r->take(t.count, &b))
            return fail(BAG_ZERR_TRUNCATED);
        memcpy(p, b, t.count);
        break;
    }
    case kind::string: {
        uint32_t n;
        if (!r->u32(&n))
            return fail(BAG_ZERR_TRUNCATED);
        if (n == null_string)
            break;
        const uint8_t *b;
        if (!r->take(n, &b))
            return fail(BAG_ZERR_TRUNCATED);
        if (memchr(b, '\0', n) != nullptr)
            return fail(BAG_ZERR_INCONSISTENT);
        auto *text = static_cast<char *>(malloc(static_cast<size_t>(n) + 1));
        if (text == nullptr)
            return fail(BAG_ZERR_NO_MEMORY);
        memcpy(text, b, n);
        text[n] = '\0';
        store(p, text);
        break;
    }
    case kind::bytes: {
        uint32_t n;
        if (!r->u32(&n))
            return fail(BAG_ZERR_TRUNCATED);
        const uint8_t *b;
        if (!r->take(n, &b))
            return fail(BAG_ZERR_TRUNCATED);
        if (n == 0)
            break;
        auto *data = static_cast<uint8_t *>(malloc(n));
        if (data == nullptr)
            return fail(BAG_ZERR_NO_MEMORY);
        memcpy(data, b, n);
        store(p, n);
        store(p + 8, data);
        break;
    }
    case kind::record: return decode_def(s, s.defs[static_cast<size_t>(t.def)], r, p);
    case kind::optional: {
        uint8_t present;
        if (!r->u8(&present))
            return fail(BAG_ZERR_TRUNCATED);
        if (present > 1)
            return fail(BAG_ZERR_INCONSISTENT);
        if (present == 0)
            break;
        const type_node &e = s.types[static_cast<size_t>(t.elem)];
        if (e.min_wire > r->left)
            return fail(BAG_ZERR_TRUNCATED);
        void *target = calloc(1, e.size == 0 ? 1 : e.size);
        if (target == nullptr)
            return fail(BAG_ZERR_NO_MEMORY);
        store(p, target); // stored first, so that a later failure frees it
        return decode_value(s, t.elem, r, static_cast<uint8_t *>(target));
    }
    case kind::array: {
        uint32_t n;
        if (!r->u32(&n))
            return fail(BAG_ZERR_TRUNCATED);
        if (n == 0)
            break;
        const type_node &e = s.types[static_cast<size_t>(t.elem)];
        uint64_t block;
        if (zerrno rc = array_block(e, n, *r, &block); rc != ZERR_OK)
            return rc;
        auto *items = static_cast<uint8_t *>(calloc(1, block));
        if (items == nullptr)
            return fail(BAG_ZERR_NO_MEMORY);
        store(p, n);
        store(p + 8, items);
        for (uint32_t i = 0; i < n; ++i)
            if (zerrno rc = decode_value(s, t.elem, r, items + i * e.size); rc != ZERR_OK)
                return rc;
        break;
    }
    case kind::inline_array: {
        uint64_t size = s.types[static_cast<size_t>(t.elem)].size;
        for (uint32_t i = 0; i < t.count; ++i)
            if (zerrno rc = decode_value(s, t.elem, r, p + i * size); rc != ZERR_OK)
                return rc;
        break;
    }
    case kind::union_: {
        uint32_t disc;
        if (!r->u32(&disc))
            return fail(BAG_ZERR_TRUNCATED);
        store(p, disc);
        if (const arm *a = find_arm(t, disc))
            return decode_value(s, a->type, r, p + 8);
        break;
    }
    }
    return ZERR_OK;
}

zerrno decode_def(const schema &s, const definition &d, reader *r, uint8_t *p)
{
    for (const field &f : d.fields)
        if (zerrno rc = decode_value(s, f.type, r, p + f.offset); rc != ZERR_OK)
            return rc;
    return ZERR_OK;
}

// ---- freeing ----

void free_def(const schema &s, const definition &d, uint8_t *p);

void free_value(const schema &s, int32_t index, uint8_t *p)
{
    const type_node &t = s.types[static_cast<size_t>(index)];
    switch (t.k) {
    case kind::string: {
        free(load<char *>(p));
        store<char *>(p, nullptr);
        break;
    }
    case kind::bytes: {
        free(load<uint8_t *>(p + 8));
        store<uint8_t *>(p + 8, nullptr);
        store<uint32_t>(p, 0);
        break;
    }
    case kind::record: free_def(s, s.defs[static_cast<size_t>(t.def)], p); break;
    case kind::optional: {
        auto *target = load<uint8_t *>(p);
        if (target != nullptr) {
            free_value(s, t.elem, target);
            free(target);
            store<uint8_t *>(p, nullptr);
        }
        break;
    }
    case kind::array: {
        auto *items = load<uint8_t *>(p + 8);
        if (items != nullptr) {
            uint32_t n = load<uint32_t>(p);
            uint64_t size = s.types[static_cast<size_t>(t.elem)].size;
            for (uint32_t i = 0; i < n; ++i)
                free_value(s, t.elem, items + i * size);
            free(items);
            store<uint8_t *>(p + 8, nullptr);
        }
        store<uint32_t>(p, 0);
        break;
    }
    case kind::inline_array: {
        uint64_t size = s.types[static_cast<size_t>(t.elem)].size;
        for (uint32_t i = 0; i < t.count; ++i)
            free_value(s, t.elem, p + i * size);
        break;
    }
    case kind::union_:
        if (const arm *a = find_arm(t, load<uint32_t>(p)))
            free_value(s, a->type, p + 8);
        break;
    default: break;
    }
}

void free_def(const schema &s, const definition &d, uint8_t *p)
{
    for (const field &f : d.fields)
        free_value(s, f.type, p + f.offset);
}

} // namespace

zerrno bag_register_start()
{
    registry_type &r = registry();
    std::lock_guard guard(r.lock);
    if (r.open)
        return fail(BAG_ZERR_ALREADY_OPEN);
    r.open = true;
    r.added.clear();
    return ZERR_OK;
}

zerrno bag_register(const bag_descriptor_type *descriptor)
{
    registry_type &r = registry();
    {
        std::lock_guard guard(r.lock);
        if (!r.open)
            return fail(BAG_ZERR_NOT_OPEN);
        if (r.fail_countdown != 0 && --r.fail_countdown == 0)
            return r.fail_code;
    }
    auto e = std::make_shared<entry>();
    if (zerrno rc = check_descriptor(descriptor, &e->parsed); rc != ZERR_OK)
        return rc;
    e->name = descriptor->name;
    e->schema_text = descriptor->schema;
    e->major = descriptor->major;
    e->minor = descriptor->minor;
    e->fingerprint = fnv1a(e->schema_text);
    std::lock_guard guard(r.lock);
    if (!r.open)
        return fail(BAG_ZERR_NOT_OPEN);
    auto it = r.bags.find(e->name);
    if (it != r.bags.end()) {
        const entry &old = *it->second;
        if (old.schema_text != e->schema_text || old.major != e->major || old.minor != e->minor)
            return fail(BAG_ZERR_EXISTS);
        return ZERR_OK;
    }
    r.bags.emplace(e->name, std::move(e));
    r.added.push_back(descriptor->name);
    return ZERR_OK;
}

zerrno bag_register_end()
{
    registry_type &r = registry();
    std::lock_guard guard(r.lock);
    if (!r.open)
        return fail(BAG_ZERR_NOT_OPEN);
    r.open = false;
    r.added.clear();
    return ZERR_OK;
}

zerrno bag_register_abort()
{
    registry_type &r = registry();
    std::lock_guard guard(r.lock);
    if (!r.open)
        return fail(BAG_ZERR_NOT_OPEN);
    for (const std::string &name : r.added)
        r.bags.erase(name);
    r.added.clear();
    r.open = false;
    return ZERR_OK;
}

zerrno bag_encode(const void *record, const bag_descriptor_type *descriptor, uint8_t **data, uint32_t *length)
{
    if (record == nullptr || data == nullptr || length == nullptr)
        return fail(BAG_ZERR_INVALID_ARG);
    *data = nullptr;
    *length = 0;
    std::shared_ptr<const entry> e;
    if (zerrno rc = lookup(descriptor, &e); rc != ZERR_OK)
        return rc;
    writer body;
    if (zerrno rc = encode_def(e->parsed, e->parsed.defs[0], static_cast<const uint8_t *>(record), &body);
        rc != ZERR_OK)
        return rc;
    writer w;
    w.raw(magic, sizeof magic);
    w.u8(format_version);
    w.u8(0);
    w.u16(static_cast<uint16_t>(e->major));
    w.u16(static_cast<uint16_t>(e->minor));
    w.u16(static_cast<uint16_t>(e->name.size()));
    w.raw(e->name.data(), e->name.size());
    w.u32(e->fingerprint);
    if (body.out.size() > 0xffffffffu - w.out.size() - 4)
        return fail(BAG_ZERR_TOO_LARGE);
    w.u32(static_cast<uint32_t>(body.out.size()));
    w.raw(body.out.data(), body.out.size());
    auto *out = static_cast<uint8_t *>(malloc(w.out.size()));
    if (out == nullptr)
        return fail(BAG_ZERR_NO_MEMORY);
    memcpy(out, w.out.data(), w.out.size());
    *data = out;
    *length = static_cast<uint32_t>(w.out.size());
    return ZERR_OK;
}

zerrno bag_decode(const uint8_t *data, uint32_t length, void *record, const bag_descriptor_type *descriptor)
{
    if (record == nullptr || (data == nullptr && length != 0))
        return fail(BAG_ZERR_INVALID_ARG);
    std::shared_ptr<const entry> e;
    if (zerrno rc = lookup(descriptor, &e); rc != ZERR_OK)
        return rc;
    auto *out = static_cast<uint8_t *>(record);
    memset(out, 0, descriptor->layout->size);

    reader r{data, length};
    const uint8_t *b;
    uint8_t version, reserved;
    uint16_t major, minor, name_len;
    if (!r.take(sizeof magic, &b))
        return fail(BAG_ZERR_TRUNCATED);
    if (memcmp(b, magic, sizeof magic) != 0)
        return fail(BAG_ZERR_INCONSISTENT);
    if (!r.u8(&version) || !r.u8(&reserved) || !r.u16(&major) || !r.u16(&minor) || !r.u16(&name_len))
        return fail(BAG_ZERR_TRUNCATED);
    if (version != format_version)
        return fail(BAG_ZERR_INCONSISTENT);
    if (!r.take(name_len, &b))
        return fail(BAG_ZERR_TRUNCATED);
    if (std::string_view(reinterpret_cast<const char *>(b), name_len) != e->name || major != e->major ||
        minor != e->minor)
        return fail(BAG_ZERR_WRONG_BAG);
    uint32_t fingerprint, body_len;
    if (!r.u32(&fingerprint) || !r.u32(&body_len))
        return fail(BAG_ZERR_TRUNCATED);
    if (fingerprint != e->fingerprint)
        return fail(BAG_ZERR_WRONG_BAG);
    if (body_len > r.left)
        return fail(BAG_ZERR_TRUNCATED);
    if (body_len < r.left)
        return fail(BAG_ZERR_INCONSISTENT);

    zerrno rc = decode_def(e->parsed, e->parsed.defs[0], &r, out);
    if (rc == ZERR_OK && r.left != 0)
        rc = fail(BAG_ZERR_INCONSISTENT);
    if (rc != ZERR_OK) {
        free_def(e->parsed, e->parsed.defs[0], out);
        memset(out, 0, descriptor->layout->size);
    }
    return rc;
}

namespace {

// What a description library tells of one bag while it is shown: each definition's type name,
// the help text of each type and field, and each enumeration's names.
struct describer {
    const library_bag *bag = nullptr;
    std::map<uint32_t, std::string> type_names; // definition number -> described type

    std::string help(const std::string &type, const std::string &name) const;
    std::string enumerator(const std::string &type, uint32_t value) const;
};

struct text_ctx {
    const describer *d = nullptr; // null: names and numbers only
    std::string owner;            // the described type whose field is shown
};

zerrno text_def(const schema &s, const definition &d, reader *r, const std::string &indent, std::string *out,
                const describer *desc);

zerrno text_value_body(const schema &s, int32_t index, reader *r, const std::string &indent, const std::string &name,
                       std::string *out, const text_ctx &c);

// One value and what it holds; a described field's line ends in its help text.
zerrno text_value(const schema &s, int32_t index, reader *r, const std::string &indent, const std::string &name,
                  std::string *out, const text_ctx &c)
{
    const size_t start = out->size();
    zerrno rc = text_value_body(s, index, r, indent, name, out, c);
    if (rc != ZERR_OK || c.d == nullptr || name.empty() || name[0] == '[')
        return rc;
    std::string help = c.d->help(c.owner, name);
    if (help.empty())
        return rc;
    const size_t nl = out->find('\n', start);
    if (nl != std::string::npos)
        out->insert(nl, "  # " + help);
    return rc;
}

zerrno text_value_body(const schema &s, int32_t index, reader *r, const std::string &indent, const std::string &name,
                       std::string *out, const text_ctx &c)
{
    const type_node &t = s.types[static_cast<size_t>(index)];
    const std::string head = indent + (name.empty() ? std::string("-") : name) + ":";
    char buf[64];
    switch (t.k) {
    case kind::u8:
    case kind::s8: {
        uint8_t v;
        if (!r->u8(&v))
            return fail(BAG_ZERR_TRUNCATED);
        *out += head + " " + std::to_string(t.k == kind::s8 ? static_cast<int>(static_cast<int8_t>(v)) : v) + "\n";
        return ZERR_OK;
    }
    case kind::u16: {
        uint16_t v;
        if (!r->u16(&v))
            return fail(BAG_ZERR_TRUNCATED);
        *out += head + " " + std::to_string(v) + "\n";
        return ZERR_OK;
    }
    case kind::u32:
    case kind::s32:
    case kind::enumeration:
    case kind::ipv4: {
        uint32_t v;
        if (!r->u32(&v))
            return fail(BAG_ZERR_TRUNCATED);
        if (t.k == kind::ipv4)
            snprintf(buf, sizeof buf, "%u.%u.%u.%u", v >> 24, (v >> 16) & 0xff, (v >> 8) & 0xff, v & 0xff);
        else if (t.k == kind::s32)
            snprintf(buf, sizeof buf, "%d", static_cast<int32_t>(v));
        else
            snprintf(buf, sizeof buf, "%u", v);
        std::string enumerator = t.k == kind::enumeration && c.d != nullptr ? c.d->enumerator(t.enum_name, v) : "";
        *out += head + " " + (enumerator.empty() ? std::string(buf) : enumerator + " (" + buf + ")") + "\n";
        return ZERR_OK;
    }
    case kind::boolean: {
        uint8_t v;
        if (!r->u8(&v))
            return fail(BAG_ZERR_TRUNCATED);
        if (v > 1)
            return fail(BAG_ZERR_INCONSISTENT);
        *out += head + (v != 0 ? " true\n" : " false\n");
        return ZERR_OK;
    }
    case kind::u64:
    case kind::s64: {
        uint64_t v;
        if (!r->u64(&v))
            return fail(BAG_ZERR_TRUNCATED);
        *out += head + " " + (t.k == kind::s64 ? std::to_string(static_cast<int64_t>(v)) : std::to_string(v)) + "\n";
        return ZERR_OK;
    }
    case kind::raw:
    case kind::bytes: {
        uint32_t n = t.count;
        if (t.k == kind::bytes && !r->u32(&n))
            return fail(BAG_ZERR_TRUNCATED);
        const uint8_t *b;
        if (!r->take(n, &b))
            return fail(BAG_ZERR_TRUNCATED);
        *out += head;
        for (uint32_t i = 0; i < n; ++i) {
            snprintf(buf, sizeof buf, "%s%02x", i == 0 ? " " : ":", b[i]);
            *out += buf;
        }
        *out += "\n";
        return ZERR_OK;
    }
    case kind::string: {
        uint32_t n;
        if (!r->u32(&n))
            return fail(BAG_ZERR_TRUNCATED);
        if (n == null_string) {
            *out += head + " (null)\n";
            return ZERR_OK;
        }
        const uint8_t *b;
        if (!r->take(n, &b))
            return fail(BAG_ZERR_TRUNCATED);
        if (memchr(b, '\0', n) != nullptr)
            return fail(BAG_ZERR_INCONSISTENT);
        *out += head + " " + std::string(reinterpret_cast<const char *>(b), n) + "\n";
        return ZERR_OK;
    }
    case kind::record:
        *out += head + "\n";
        return text_def(s, s.defs[static_cast<size_t>(t.def)], r, indent + "  ", out, c.d);
    case kind::optional: {
        uint8_t present;
        if (!r->u8(&present))
            return fail(BAG_ZERR_TRUNCATED);
        if (present > 1)
            return fail(BAG_ZERR_INCONSISTENT);
        if (present == 0) {
            *out += head + " (absent)\n";
            return ZERR_OK;
        }
        return text_value_body(s, t.elem, r, indent, name, out, c); // its line takes the help once
    }
    case kind::array:
    case kind::inline_array: {
        uint32_t n = t.count;
        if (t.k == kind::array && !r->u32(&n))
            return fail(BAG_ZERR_TRUNCATED);
        const type_node &e = s.types[static_cast<size_t>(t.elem)];
        if (static_cast<uint64_t>(n) * (e.min_wire == 0 ? 1 : e.min_wire) > r->left)
            return fail(BAG_ZERR_TRUNCATED);
        *out += head + " " + std::to_string(n) + (n == 1 ? " entry\n" : " entries\n");
        for (uint32_t i = 0; i < n; ++i)
            if (zerrno rc = text_value(s, t.elem, r, indent + "  ", "[" + std::to_string(i) + "]", out, c);
                rc != ZERR_OK)
                return rc;
        return ZERR_OK;
    }
    case kind::union_: {
        uint32_t disc;
        if (!r->u32(&disc))
            return fail(BAG_ZERR_TRUNCATED);
        *out += head + " " + std::to_string(disc) + "\n";
        if (const arm *a = find_arm(t, disc))
            return text_value(s, a->type, r, indent + "  ", a->name, out, c);
        return ZERR_OK;
    }
    }
    return ZERR_OK;
}

zerrno text_def(const schema &s, const definition &d, reader *r, const std::string &indent, std::string *out,
                const describer *desc)
{
    text_ctx c{desc, {}};
    if (desc != nullptr) {
        auto it = desc->type_names.find(d.id);
        c.owner = it != desc->type_names.end() ? it->second : std::string();
    }
    for (const field &f : d.fields)
        if (zerrno rc = text_value(s, f.type, r, indent, f.name, out, c); rc != ZERR_OK)
            return rc;
    return ZERR_OK;
}

} // namespace

zerrno bag_to_text(const uint8_t *data, uint32_t length, std::string *text)
{
    if (text == nullptr || (data == nullptr && length != 0))
        return fail(BAG_ZERR_INVALID_ARG);
    reader r{data, length};
    const uint8_t *b;
    uint8_t version, reserved;
    uint16_t major, minor, name_len;
    if (!r.take(sizeof magic, &b))
        return fail(BAG_ZERR_TRUNCATED);
    if (memcmp(b, magic, sizeof magic) != 0)
        return fail(BAG_ZERR_INCONSISTENT);
    if (!r.u8(&version) || !r.u8(&reserved) || !r.u16(&major) || !r.u16(&minor) || !r.u16(&name_len))
        return fail(BAG_ZERR_TRUNCATED);
    if (version != format_version)
        return fail(BAG_ZERR_INCONSISTENT);
    if (!r.take(name_len, &b))
        return fail(BAG_ZERR_TRUNCATED);
    std::shared_ptr<const entry> e;
    {
        registry_type &reg = registry();
        std::lock_guard guard(reg.lock);
        auto it = reg.bags.find(std::string(reinterpret_cast<const char *>(b), name_len));
        if (it != reg.bags.end())
            e = it->second;
    }
    // A bag this process does not register is shown through a loaded description library.
    std::shared_ptr<const library_bag> lib = library_bag_of(std::string(reinterpret_cast<const char *>(b), name_len));
    if (e == nullptr && lib != nullptr)
        e = lib->e;
    if (e == nullptr)
        return fail(BAG_ZERR_NOT_REGISTERED);
    uint32_t fingerprint, body_len;
    if (major != e->major || minor != e->minor)
        return fail(BAG_ZERR_WRONG_BAG);
    if (!r.u32(&fingerprint) || !r.u32(&body_len))
        return fail(BAG_ZERR_TRUNCATED);
    if (fingerprint != e->fingerprint)
        return fail(BAG_ZERR_WRONG_BAG);
    if (body_len != r.left)
        return fail(body_len > r.left ? BAG_ZERR_TRUNCATED : BAG_ZERR_INCONSISTENT);
    describer desc;
    if (lib != nullptr && lib->e->schema_text == e->schema_text && lib->e->major == e->major &&
        lib->e->minor == e->minor) {
        desc.bag = lib.get();
        desc.type_names[e->parsed.defs[0].id] = e->name;
        for (size_t i = 1; i < e->parsed.defs.size(); ++i) {
            const uint32_t id = e->parsed.defs[i].id;
            std::string type = desc.help(e->name + "_subtypes", std::to_string(id));
            if (!type.empty())
                desc.type_names[id] = type;
        }
    }
    const describer *described = desc.bag != nullptr ? &desc : nullptr;
    std::string out = e->name;
    if (described != nullptr) {
        std::string title = desc.help(e->name, e->name);
        if (!title.empty())
            out += "  # " + title;
    }
    out += "\n";
    zerrno rc = text_def(e->parsed, e->parsed.defs[0], &r, "  ", &out, described);
    if (rc == ZERR_OK && r.left != 0)
        rc = fail(BAG_ZERR_INCONSISTENT);
    if (rc == ZERR_OK)
        *text = std::move(out);
    return rc;
}

namespace {

std::string describer::help(const std::string &type, const std::string &name) const
{
    if (bag == nullptr || type.empty())
        return {};
    const std::string member =
        "bag_fetch_" + type + "_" + std::to_string(bag->e->major) + "_" + std::to_string(bag->e->minor);
    auto fetch = reinterpret_cast<bag_fetch_function>(dlsym(bag->handle, member.c_str()));
    const char *text = nullptr;
    if (fetch == nullptr || fetch(name.c_str(), nullptr, 0, &text) != ZERR_OK || text == nullptr)
        return {};
    return text;
}

// The enumerator's name from the type's value list ("0:INITIALIZING;1:LISTEN;..."); empty when
// the list does not name the value.
std::string describer::enumerator(const std::string &type, uint32_t value) const
{
    const std::string ids = help(type, "%ids%");
    const std::string wanted = std::to_string(value) + ":";
    for (size_t pos = 0; pos < ids.size();) {
        size_t end = ids.find(';', pos);
        if (end == std::string::npos)
            end = ids.size();
        if (ids.compare(pos, wanted.size(), wanted) == 0)
            return ids.substr(pos + wanted.size(), end - pos - wanted.size());
        pos = end + 1;
    }
    return {};
}

template <typename T>
const T *library_data(void *handle, const std::string &name)
{
    return static_cast<const T *>(dlsym(handle, name.c_str()));
}

} // namespace

const char *bag_description_library_path()
{
    const char *path = getenv("PTP_BAG_LIB");
    return path != nullptr && path[0] != '\0' ? path : "/pkg/lib/libbagwright.so";
}

zerrno bag_library_load(const char *path)
{
    if (path == nullptr || path[0] == '\0')
        return fail(BAG_ZERR_INVALID_ARG);
    libraries_type &l = libraries();
    {
        std::lock_guard guard(l.lock);
        if (l.paths.count(path) != 0)
            return ZERR_OK;
    }
    void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        return fail(BAG_ZERR_NO_LIBRARY);
    // A library that is not one, or describes a bag it gives no schema for, is refused whole.
    std::vector<std::shared_ptr<const library_bag>> bags;
    const auto *family = library_data<const char *>(handle, "bag_filename");
    const uint32_t *count = nullptr;
    const char *const *names = nullptr;
    if (family != nullptr && *family != nullptr) {
        count = library_data<uint32_t>(handle, std::string("bag_") + *family + "_bag_count");
        names = library_data<const char *>(handle, std::string("bag_") + *family + "_bags");
    }
    bool ok = count != nullptr && names != nullptr && *count <= 4096;
    for (uint32_t i = 0; ok && i < *count; ++i) {
        const char *name = names[i];
        const char *const *code =
            name != nullptr ? library_data<const char *>(handle, std::string("bag_bytecode_") + name) : nullptr;
        const uint32_t *major =
            name != nullptr ? library_data<uint32_t>(handle, std::string("bag_major_version_") + name) : nullptr;
        const uint32_t *minor =
            name != nullptr ? library_data<uint32_t>(handle, std::string("bag_minor_version_") + name) : nullptr;
        auto e = std::make_shared<entry>();
        ok = code != nullptr && *code != nullptr && major != nullptr && minor != nullptr && name[0] != '\0' &&
             strlen(name) <= 0xffff && schema_parse(*code, &e->parsed) == ZERR_OK && schema_defs_are_closure(e->parsed);
        if (!ok)
            break;
        e->name = name;
        e->schema_text = *code;
        e->major = *major;
        e->minor = *minor;
        e->fingerprint = fnv1a(e->schema_text);
        auto lb = std::make_shared<library_bag>();
        lb->e = std::move(e);
        lb->handle = handle;
        bags.push_back(std::move(lb));
    }
    if (!ok) {
        dlclose(handle);
        return fail(BAG_ZERR_BAD_LIBRARY);
    }
    std::lock_guard guard(l.lock);
    l.handles.push_back(handle);
    l.paths[path] = *family;
    for (auto &b : bags)
        l.bags[b->e->name] = std::move(b);
    return ZERR_OK;
}

void bag_library_unload_all()
{
    libraries_type &l = libraries();
    std::lock_guard guard(l.lock);
    l.bags.clear();
    l.paths.clear();
    for (void *h : l.handles)
        dlclose(h);
    l.handles.clear();
}

zerrno bag_free_indirections(void *record, const bag_descriptor_type *descriptor)
{
    if (record == nullptr)
        return fail(BAG_ZERR_INVALID_ARG);
    std::shared_ptr<const entry> e;
    if (zerrno rc = lookup(descriptor, &e); rc != ZERR_OK)
        return rc;
    free_def(e->parsed, e->parsed.defs[0], static_cast<uint8_t *>(record));
    return ZERR_OK;
}

zerrno bag_fetch_string(const char *name, const bag_description_row *rows, uint32_t count, const char **description)
{
    if (name == nullptr || description == nullptr || (rows == nullptr && count != 0))
        return fail(BAG_ZERR_INVALID_ARG);
    *description = nullptr;
    auto key = static_cast<int32_t>(bag_description_key(name));
    uint32_t lo = 0, hi = count;
    while (lo < hi) {
        uint32_t mid = lo + (hi - lo) / 2;
        auto k = static_cast<int32_t>(static_cast<uint32_t>(rows[mid].key));
        if (k < key)
            lo = mid + 1;
        else
            hi = mid;
    }
    // Rows that share a key (names that hash alike) sit together.
    for (; lo < count && static_cast<int32_t>(static_cast<uint32_t>(rows[lo].key)) == key; ++lo) {
        if (rows[lo].name != nullptr && strcmp(rows[lo].name, name) == 0) {
            *description = rows[lo].description;
            return ZERR_OK;
        }
    }
    return fail(BAG_ZERR_NOT_FOUND);
}

zerrno bag_schema_root_layout(const char *schema_text, uint64_t *size, uint64_t *align, uint64_t *offsets,
                              uint32_t max_offsets, uint32_t *field_count)
{
    if (schema_text == nullptr || size == nullptr || align == nullptr || field_count == nullptr ||
        (offsets == nullptr && max_offsets != 0))
        return fail(BAG_ZERR_INVALID_ARG);
    schema s;
    if (schema_parse(schema_text, &s) != ZERR_OK)
        return fail(BAG_ZERR_BAD_SCHEMA);
    const definition &root = s.defs[0];
    *size = root.size;
    *align = root.align;
    *field_count = static_cast<uint32_t>(root.fields.size());
    for (uint32_t i = 0; i < max_offsets && i < root.fields.size(); ++i)
        offsets[i] = root.fields[i].offset;
    return ZERR_OK;
}

bool bag_is_registered(const char *name)
{
    registry_type &r = registry();
    std::lock_guard guard(r.lock);
    return name != nullptr && r.bags.count(name) != 0;
}

void bag_test_fail_register(uint32_t nth, zerrno code)
{
    registry_type &r = registry();
    std::lock_guard guard(r.lock);
    r.fail_countdown = nth;
    r.fail_code = code;
}

void bag_registry_reset()
{
    registry_type &r = registry();
    std::lock_guard guard(r.lock);
    r.bags.clear();
    r.added.clear();
    r.open = false;
    r.fail_countdown = 0;
    r.fail_code = ZERR_OK;
}
