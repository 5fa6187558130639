// The PTP bag descriptors, built at compile time from the catalogue in ptp_bag_table.h: schema
// texts (the root, then the definitions it uses, ascending), compact texts, layout records, and
// checks that every native record has the layout its schema implies.
#include "ptp_bags.h"

#include <array>
#include <cstddef>
#include <iterator>
#include <string_view>

namespace {

// ---- Schema texts of the definitions ----

struct def_text {
    uint32_t id;
    std::string_view text;
};

#define PTP_BAG_TEXT_FIELD(S, name, type, ctype) "{" #name "}" type
#define PTP_BAG_TEXT_REC(id) "$" #id "=" PTP_BAG_DEF_##id(PTP_BAG_TEXT_FIELD, _) ";"
#define PTP_BAG_TEXT_BARE(id) "$" #id "=" PTP_BAG_BARE_TEXT_##id ";"
#define PTP_BAG_TEXT_ROW(id, S, type_name, kind) def_text{id, PTP_BAG_TEXT_##kind(id)},
constexpr def_text def_texts[] = {PTP_BAG_DEFINITIONS(PTP_BAG_TEXT_ROW)};
#undef PTP_BAG_TEXT_ROW

constexpr uint32_t max_id = 256;

constexpr std::string_view text_of(uint32_t id)
{
    for (const def_text &d : def_texts)
        if (d.id == id)
            return d.text;
    return {};
}

constexpr bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// Marks every definition that one definition's text refers to.
constexpr void mark_refs(std::string_view text, std::array<bool, max_id> &seen)
{
    for (size_t i = 1; i < text.size(); ++i) { // position 0 is the definition's own header
        if (text[i] != '$')
            continue;
        uint32_t id = 0;
        for (size_t j = i + 1; j < text.size() && is_digit(text[j]); ++j)
            id = id * 10 + static_cast<uint32_t>(text[j] - '0');
        seen[id] = true;
    }
}

// The definitions a root uses, directly or through others.
constexpr std::array<bool, max_id> closure(uint32_t root)
{
    std::array<bool, max_id> seen{};
    mark_refs(text_of(root), seen);
    for (bool grew = true; grew;) {
        grew = false;
        for (uint32_t id = 0; id < max_id; ++id) {
            if (!seen[id])
                continue;
            std::array<bool, max_id> more = seen;
            mark_refs(text_of(id), more);
            for (uint32_t j = 0; j < max_id; ++j)
                if (more[j] && !seen[j]) {
                    seen[j] = true;
                    grew = true;
                }
        }
    }
    seen[root] = false;
    return seen;
}

constexpr uint64_t closure_count(uint32_t root)
{
    uint64_t n = 0;
    for (bool b : closure(root))
        n += b ? 1 : 0;
    return n;
}

constexpr size_t full_len(uint32_t root)
{
    std::array<bool, max_id> used = closure(root);
    size_t n = text_of(root).size();
    for (uint32_t id = 0; id < max_id; ++id)
        if (used[id])
            n += text_of(id).size();
    return n;
}

template <size_t N>
constexpr std::array<char, N + 1> build_full(uint32_t root)
{
    std::array<char, N + 1> out{};
    size_t o = 0;
    for (char c : text_of(root))
        out[o++] = c;
    std::array<bool, max_id> used = closure(root);
    for (uint32_t id = 0; id < max_id; ++id)
        if (used[id])
            for (char c : text_of(id))
                out[o++] = c;
    return out;
}

// The compact text: names in braces, enum names in brackets and the union discriminant in angle
// brackets dropped; a "." after every record reference that is not inside p(), a() or an inline
// array, nor marked internal ("P$n").
template <size_t N>
constexpr std::array<char, N> build_compact(const std::array<char, N> &full)
{
    std::array<char, N> out{};
    std::array<bool, 64> wraps{}; // per open parenthesis: true unless it opens a union
    size_t depth = 0, o = 0;
    for (size_t i = 0; i < N && full[i] != '\0'; ++i) {
        char c = full[i];
        if (c == '{' || c == '[' || c == '<') {
            char close = c == '{' ? '}' : c == '[' ? ']' : '>';
            while (full[i] != close)
                ++i;
            continue;
        }
        if (c == '(') {
            wraps[depth++] = i == 0 || full[i - 1] != '?';
        } else if (c == ')') {
            --depth;
        } else if (c == '$') {
            bool header = i == 0 || full[i - 1] == ';';
            bool wrapped = false;
            for (size_t d = 0; d < depth; ++d)
                wrapped = wrapped || wraps[d];
            bool internal = i > 0 && full[i - 1] == 'P';
            out[o++] = c;
            while (is_digit(full[i + 1]))
                out[o++] = full[++i];
            if (!header && !wrapped && !internal)
                out[o++] = '.';
            continue;
        }
        out[o++] = c;
    }
    return out;
}

// ---- Compile-time native layout of a schema text (the bag facility's rules) ----

struct lay {
    uint64_t size;
    uint64_t align;
};

constexpr uint64_t round_up(uint64_t v, uint64_t a)
{
    return (v + a - 1) / a * a;
}

constexpr lay def_layout(uint32_t id, uint64_t *offsets, uint64_t *sizes);

constexpr uint64_t number_at(std::string_view t, size_t &pos)
{
    uint64_t n = 0;
    while (pos < t.size() && is_digit(t[pos]))
        n = n * 10 + static_cast<uint64_t>(t[pos++] - '0');
    return n;
}

constexpr lay type_layout(std::string_view t, size_t &pos)
{
    if (t[pos] == 'P')
        ++pos;
    lay l{0, 1};
    char c = t[pos++];
    switch (c) {
    case 'C':
    case 'c': l = {1, 1}; break;
    case 'I': l = {2, 2}; break;
    case 'D':
    case 'd':
    case 'i':
    case 'N':
    case 'b':
    case 'e': l = {4, 4}; break;
    case '[':
        while (t[pos] != ']')
            ++pos;
        pos += 2; // "]e"
        l = {4, 4};
        break;
    case 'H':
    case 'h':
    case 's': l = {8, 8}; break;
    case 'y': l = {16, 8}; break;
    case '$': l = def_layout(static_cast<uint32_t>(number_at(t, pos)), nullptr, nullptr); break;
    case 'p':
    case 'a':
        ++pos; // "("
        type_layout(t, pos);
        ++pos; // ")"
        l = c == 'p' ? lay{8, 8} : lay{16, 8};
        break;
    case '?': {
        ++pos; // "("
        if (t[pos] == '<')
            while (t[pos++] != '>') {
            }
        uint64_t largest = 0;
        while (t[pos] == ',') {
            while (t[pos++] != ':') {
            }
            if (t[pos] == '{')
                while (t[pos++] != '}') {
                }
            lay arm = type_layout(t, pos);
            largest = largest > arm.size ? largest : arm.size;
        }
        ++pos; // ")"
        l = {round_up(8 + largest, 8), 8};
        break;
    }
    default: {
        --pos;
        uint64_t n = number_at(t, pos);
        if (t[pos] == 'x') {
            ++pos;
            l = {n, 1};
        } else {
            pos += 2; // "A("
            lay e = type_layout(t, pos);
            ++pos; // ")"
            l = {n * e.size, e.align};
        }
        break;
    }
    }
    if (pos < t.size() && t[pos] == '%')
        pos += 2;
    return l;
}

// Layout of one definition; the offsets and sizes of its fields go to offsets and sizes when given.
constexpr lay def_layout(uint32_t id, uint64_t *offsets, uint64_t *sizes)
{
    std::string_view t = text_of(id);
    size_t pos = t.find('=') + 1;
    uint64_t offset = 0, align = 1;
    for (size_t field = 0; t[pos] != ';'; ++field) {
        if (t[pos] == '{')
            while (t[pos++] != '}') {
            }
        lay f = type_layout(t, pos);
        offset = round_up(offset, f.align);
        if (offsets != nullptr) {
            offsets[field] = offset;
            sizes[field] = f.size;
        }
        offset += f.size;
        align = align > f.align ? align : f.align;
    }
    return {round_up(offset, align), align};
}

constexpr bool layout_matches(uint32_t id, const uint64_t *offsets, const uint64_t *sizes, size_t count, uint64_t size)
{
    std::array<uint64_t, 128> computed{}, computed_sizes{};
    lay l = def_layout(id, computed.data(), computed_sizes.data());
    if (l.size != size)
        return false;
    for (size_t i = 0; i < count; ++i)
        if (computed[i] != offsets[i] || computed_sizes[i] != sizes[i])
            return false;
    return true;
}

// ---- Native layouts, checked against the schema texts ----

#define PTP_BAG_OFFSET(S, name, type, ctype) offsetof(S, name),
#define PTP_BAG_OFFSETS_REC(id, S) constexpr uint64_t offsets_##id[] = {PTP_BAG_DEF_##id(PTP_BAG_OFFSET, S)};
#define PTP_BAG_OFFSETS_BARE(id, S) constexpr uint64_t offsets_##id[] = {0};
#define PTP_BAG_OFFSETS(id, S, type_name, kind) PTP_BAG_OFFSETS_##kind(id, S)
PTP_BAG_DEFINITIONS(PTP_BAG_OFFSETS)
#undef PTP_BAG_OFFSETS

#define PTP_BAG_SIZE(S, name, type, ctype) sizeof(S::name),
#define PTP_BAG_SIZES_REC(id, S) constexpr uint64_t sizes_##id[] = {PTP_BAG_DEF_##id(PTP_BAG_SIZE, S)};
#define PTP_BAG_SIZES_BARE(id, S) constexpr uint64_t sizes_##id[] = {sizeof(S)};
#define PTP_BAG_SIZES(id, S, type_name, kind) PTP_BAG_SIZES_##kind(id, S)
PTP_BAG_DEFINITIONS(PTP_BAG_SIZES)
#undef PTP_BAG_SIZES

// Every field's offset and size, and every record's size, as the schema implies them.
#define PTP_BAG_CHECK(id, S, type_name, kind)                                                                          \
    static_assert(layout_matches(id, offsets_##id, sizes_##id, std::size(offsets_##id), sizeof(S)),                    \
                  "native layout of " #S " differs from its schema");
PTP_BAG_DEFINITIONS(PTP_BAG_CHECK)
#undef PTP_BAG_CHECK

#define PTP_BAG_DEF_ROW(id, S, type_name, kind)                                                                        \
    {id, type_name, PTP_BAG_TEXT_##kind(id), sizeof(S), std::size(offsets_##id), offsets_##id},
constexpr ptp_bag_definition_type definitions[] = {PTP_BAG_DEFINITIONS(PTP_BAG_DEF_ROW)};
#undef PTP_BAG_DEF_ROW

// ---- Per bag: size and definition count as the catalogue gives them, texts, layout record ----

#define PTP_BAG_DESCRIBE(bag, root, size, further)                                                                     \
    static_assert(sizeof(bag) == (size), "native size of " #bag);                                                      \
    static_assert(closure_count(root) == (further), "further definitions of " #bag);                                   \
    constexpr auto bag##_full = build_full<full_len(root)>(root);                                                      \
    constexpr auto bag##_compact = build_compact(bag##_full);                                                          \
    constexpr bag_layout_type bag##_layout = {further, size, offsets_##root};
PTP_BAG_CATALOGUE(PTP_BAG_DESCRIBE)
#undef PTP_BAG_DESCRIBE

// ---- Enumerations ----

#define PTP_BAG_ENUMERATOR_ROW(prefix, name, value) {#name, value},
#define PTP_BAG_ENUM_ROWS(type, prefix, list)                                                                          \
    constexpr ptp_bag_enumerator_type type##_rows[] = {list(PTP_BAG_ENUMERATOR_ROW)};
PTP_BAG_ENUMS(PTP_BAG_ENUM_ROWS)
#undef PTP_BAG_ENUM_ROWS
#undef PTP_BAG_ENUMERATOR_ROW

#define PTP_BAG_ENUM_ROW(type, prefix, list) {#type, static_cast<uint32_t>(std::size(type##_rows)), type##_rows},
constexpr ptp_bag_enum_type enums[] = {PTP_BAG_ENUMS(PTP_BAG_ENUM_ROW)};
#undef PTP_BAG_ENUM_ROW

} // namespace

#define PTP_BAG_DEFINE(bag, root, size, further)                                                                       \
    constinit const bag_descriptor_type bag##_bag = {                                                                  \
        BAG_DESCRIPTOR_FIRST_WORD, #bag,          PTP_BAG_SCHEMA_MAJOR, PTP_BAG_SCHEMA_MINOR,                          \
        PTP_BAG_LIBRARY,           &bag##_layout, bag##_full.data(),    bag##_compact.data()};                         \
    const bag_descriptor_type *bag##_bag_getfn()                                                                       \
    {                                                                                                                  \
        return &bag##_bag;                                                                                             \
    }
PTP_BAG_CATALOGUE(PTP_BAG_DEFINE)
#undef PTP_BAG_DEFINE

namespace {
#define PTP_BAG_POINTER(bag, root, size, further) &bag##_bag,
constexpr const bag_descriptor_type *catalogue[] = {PTP_BAG_CATALOGUE(PTP_BAG_POINTER)};
#undef PTP_BAG_POINTER
static_assert(std::size(catalogue) == PTP_BAG_COUNT);
} // namespace

const bag_descriptor_type *const *ptp_bag_catalogue()
{
    return catalogue;
}

const ptp_bag_definition_type *ptp_bag_definitions(uint32_t *count)
{
    *count = static_cast<uint32_t>(std::size(definitions));
    return definitions;
}

const ptp_bag_enum_type *ptp_bag_enums(uint32_t *count)
{
    *count = static_cast<uint32_t>(std::size(enums));
    return enums;
}

zerrno bag_register_all_ptp_bags()
{
    zerrno rc = bag_register_start();
    if (rc != ZERR_OK)
        return rc;
    for (const bag_descriptor_type *bag : catalogue) {
        rc = bag_register(bag);
        if (rc != ZERR_OK) {
            bag_register_abort();
            return rc;
        }
    }
    return bag_register_end();
}
