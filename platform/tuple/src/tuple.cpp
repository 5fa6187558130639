#include "tuple.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr uint8_t KIND_NUMBER = 1;
constexpr uint8_t KIND_TEXT = 2;

// One parsed format field: 'd', 'u' or 's'.
struct fmt_fields {
    char kind[TUPLE_MAX_FIELDS];
    uint32_t count;
};

bool parse_format(const char *fmt, fmt_fields *out)
{
    out->count = 0;
    if (fmt == nullptr)
        return false;
    for (const char *p = fmt; *p != '\0'; p += 2) {
        if (p[0] != '%' || out->count == TUPLE_MAX_FIELDS)
            return false;
        switch (p[1]) {
        case 'd':
        case 'u': out->kind[out->count++] = p[1]; break;
        case 's':
        case 'S': out->kind[out->count++] = 's'; break;
        default: return false;
        }
    }
    return true;
}

uint32_t field_mask(uint32_t count)
{
    return count >= 32 ? 0xffffffffu : (1u << count) - 1u;
}

void put_u32(std::vector<uint8_t> &b, uint32_t v)
{
    b.push_back(static_cast<uint8_t>(v >> 24));
    b.push_back(static_cast<uint8_t>(v >> 16));
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}

uint32_t get_u32(const uint8_t *p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

// A decoded field: a number, or a text pointing into the tuple.
struct field_value {
    uint32_t number;
    const char *text;
};

// Checks the whole byte string against the format before anything is handed out.
zerrno decode(const uint8_t *b, uint32_t len, const fmt_fields &f, uint32_t *mask, field_value *values)
{
    if (b == nullptr || len < TUPLE_HEADER_SIZE)
        return TUPLE_ERR_MALFORMED;
    uint32_t total = get_u32(b);
    uint32_t present = get_u32(b + 4);
    if (total < TUPLE_HEADER_SIZE || total > len || b[8] != f.count || b[9] != 0 || b[10] != 0 || b[11] != 0 ||
        (present & ~field_mask(f.count)) != 0)
        return TUPLE_ERR_MALFORMED;
    uint32_t off = TUPLE_HEADER_SIZE;
    for (uint32_t i = 0; i < f.count; i++) {
        if ((present & (1u << i)) == 0)
            continue;
        if (total - off < 1)
            return TUPLE_ERR_MALFORMED;
        uint8_t kind = b[off++];
        if (f.kind[i] == 's') {
            if (kind != KIND_TEXT || total - off < 2)
                return TUPLE_ERR_MALFORMED;
            uint32_t n = uint32_t{b[off]} << 8 | b[off + 1];
            off += 2;
            if (total - off < n + 1 || b[off + n] != 0 || memchr(b + off, 0, n) != nullptr)
                return TUPLE_ERR_MALFORMED;
            values[i].text = reinterpret_cast<const char *>(b + off);
            off += n + 1;
        } else {
            if (kind != KIND_NUMBER || total - off < 4)
                return TUPLE_ERR_MALFORMED;
            values[i].number = get_u32(b + off);
            off += 4;
        }
    }
    if (off != total)
        return TUPLE_ERR_MALFORMED;
    *mask = present;
    return ZERR_OK;
}

zerrno unpack_va(const tuple_type *tuple, uint32_t len, const char *fmt, uint32_t *mask_out, bool all_required,
                 va_list ap)
{
    fmt_fields f;
    if (!parse_format(fmt, &f))
        return TUPLE_ERR_FORMAT;
    field_value values[TUPLE_MAX_FIELDS] = {};
    uint32_t mask = 0;
    zerrno rc = decode(reinterpret_cast<const uint8_t *>(tuple), len, f, &mask, values);
    if (rc != ZERR_OK)
        return rc;
    if (all_required && mask != field_mask(f.count))
        return TUPLE_ERR_ABSENT;
    for (uint32_t i = 0; i < f.count; i++) {
        bool present = (mask & (1u << i)) != 0;
        switch (f.kind[i]) {
        case 'd': {
            auto *p = va_arg(ap, int32_t *);
            if (present && p != nullptr)
                *p = static_cast<int32_t>(values[i].number);
            break;
        }
        case 'u': {
            auto *p = va_arg(ap, uint32_t *);
            if (present && p != nullptr)
                *p = values[i].number;
            break;
        }
        default: {
            auto **p = va_arg(ap, const char **);
            if (present && p != nullptr)
                *p = values[i].text;
            break;
        }
        }
    }
    if (mask_out != nullptr)
        *mask_out = mask;
    return ZERR_OK;
}

} // namespace

zerrno tuple_pack_mask(tuple_type **out, const char *fmt, uint32_t mask, ...)
{
    if (out == nullptr)
        return TUPLE_ERR_FORMAT;
    *out = nullptr;
    fmt_fields f;
    if (!parse_format(fmt, &f))
        return TUPLE_ERR_FORMAT;
    mask &= field_mask(f.count);

    std::vector<uint8_t> b;
    put_u32(b, 0); // total size, filled in below
    put_u32(b, mask);
    b.push_back(static_cast<uint8_t>(f.count));
    b.insert(b.end(), 3, 0);

    va_list ap;
    va_start(ap, mask);
    zerrno rc = ZERR_OK;
    for (uint32_t i = 0; i < f.count && rc == ZERR_OK; i++) {
        bool present = (mask & (1u << i)) != 0;
        if (f.kind[i] == 's') {
            const char *s = va_arg(ap, const char *);
            if (!present)
                continue;
            size_t n = s == nullptr ? 0 : strlen(s);
            if (s == nullptr || n > 0xffff) {
                rc = TUPLE_ERR_FORMAT;
                break;
            }
            b.push_back(KIND_TEXT);
            b.push_back(static_cast<uint8_t>(n >> 8));
            b.push_back(static_cast<uint8_t>(n));
            b.insert(b.end(), s, s + n);
            b.push_back(0);
        } else {
            uint32_t v = f.kind[i] == 'd' ? static_cast<uint32_t>(va_arg(ap, int)) : va_arg(ap, unsigned);
            if (!present)
                continue;
            b.push_back(KIND_NUMBER);
            put_u32(b, v);
        }
    }
    va_end(ap);
    if (rc != ZERR_OK)
        return rc;

    uint32_t total = static_cast<uint32_t>(b.size());
    b[0] = static_cast<uint8_t>(total >> 24);
    b[1] = static_cast<uint8_t>(total >> 16);
    b[2] = static_cast<uint8_t>(total >> 8);
    b[3] = static_cast<uint8_t>(total);
    auto *mem = static_cast<uint8_t *>(malloc(total));
    if (mem == nullptr)
        return TUPLE_ERR_NOMEM;
    memcpy(mem, b.data(), total);
    *out = reinterpret_cast<tuple_type *>(mem);
    return ZERR_OK;
}

uint32_t tuple_size(const tuple_type *tuple)
{
    return tuple == nullptr ? 0 : get_u32(reinterpret_cast<const uint8_t *>(tuple));
}

void tuple_free(tuple_type *tuple)
{
    free(tuple);
}

zerrno tuple_unpack_mask(const tuple_type *tuple, uint32_t len, const char *fmt, uint32_t *mask, ...)
{
    va_list ap;
    va_start(ap, mask);
    zerrno rc = unpack_va(tuple, len, fmt, mask, false, ap);
    va_end(ap);
    return rc;
}

zerrno tuple_unpack(const tuple_type *tuple, uint32_t len, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    zerrno rc = unpack_va(tuple, len, fmt, nullptr, true, ap);
    va_end(ap);
    return rc;
}

zerrno tuple_pack_fields(const std::vector<tuple_field_type> &fields, std::vector<uint8_t> *bytes)
{
    if (bytes == nullptr || fields.size() > TUPLE_MAX_FIELDS)
        return TUPLE_ERR_FORMAT;
    std::vector<uint8_t> b;
    uint32_t mask = 0;
    for (size_t i = 0; i < fields.size(); ++i)
        if (fields[i].kind != 0)
            mask |= 1u << i;
    put_u32(b, 0);
    put_u32(b, mask);
    b.push_back(static_cast<uint8_t>(fields.size()));
    b.insert(b.end(), 3, 0);
    for (const tuple_field_type &f : fields) {
        if (f.kind == KIND_NUMBER) {
            b.push_back(KIND_NUMBER);
            put_u32(b, f.number);
        } else if (f.kind == KIND_TEXT) {
            if (f.text.size() > 0xffff || f.text.find('\0') != std::string::npos)
                return TUPLE_ERR_FORMAT;
            b.push_back(KIND_TEXT);
            b.push_back(static_cast<uint8_t>(f.text.size() >> 8));
            b.push_back(static_cast<uint8_t>(f.text.size()));
            b.insert(b.end(), f.text.begin(), f.text.end());
            b.push_back(0);
        } else if (f.kind != 0) {
            return TUPLE_ERR_FORMAT;
        }
    }
    const uint32_t total = static_cast<uint32_t>(b.size());
    for (int i = 0; i < 4; ++i)
        b[static_cast<size_t>(i)] = static_cast<uint8_t>(total >> (24 - 8 * i));
    *bytes = std::move(b);
    return ZERR_OK;
}

zerrno tuple_read_fields(const void *data, uint32_t len, std::vector<tuple_field_type> *fields)
{
    const auto *b = static_cast<const uint8_t *>(data);
    if (b == nullptr || fields == nullptr || len < TUPLE_HEADER_SIZE)
        return TUPLE_ERR_MALFORMED;
    const uint32_t total = get_u32(b);
    const uint32_t present = get_u32(b + 4);
    const uint32_t count = b[8];
    if (total < TUPLE_HEADER_SIZE || total > len || count > TUPLE_MAX_FIELDS || b[9] != 0 || b[10] != 0 || b[11] != 0 ||
        (present & ~field_mask(count)) != 0)
        return TUPLE_ERR_MALFORMED;
    std::vector<tuple_field_type> out(count, tuple_field_type{0, 0, {}});
    uint32_t off = TUPLE_HEADER_SIZE;
    for (uint32_t i = 0; i < count; ++i) {
        if ((present & (1u << i)) == 0)
            continue;
        if (total - off < 1)
            return TUPLE_ERR_MALFORMED;
        const uint8_t kind = b[off++];
        if (kind == KIND_NUMBER && total - off >= 4) {
            out[i] = {KIND_NUMBER, get_u32(b + off), {}};
            off += 4;
        } else if (kind == KIND_TEXT && total - off >= 2) {
            const uint32_t n = uint32_t{b[off]} << 8 | b[off + 1];
            off += 2;
            if (total - off < n + 1 || b[off + n] != 0 || memchr(b + off, 0, n) != nullptr)
                return TUPLE_ERR_MALFORMED;
            out[i] = {KIND_TEXT, 0, std::string(reinterpret_cast<const char *>(b + off), n)};
            off += n + 1;
        } else {
            return TUPLE_ERR_MALFORMED;
        }
    }
    if (off != total)
        return TUPLE_ERR_MALFORMED;
    *fields = std::move(out);
    return ZERR_OK;
}
