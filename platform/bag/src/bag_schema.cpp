// Schema text parser and native layout rules of the bag facility.
#include "bag_schema.h"

#include <algorithm>
#include <set>

#include "bag.h"

namespace bag_internal {
namespace {

// Limits that keep a malformed schema from describing absurd records.
constexpr uint64_t max_inline_count = 1u << 20;
constexpr uint64_t max_native_size = 1u << 30;
constexpr int max_type_depth = 64;

constexpr zerrno bad_schema = bag_zerr(BAG_ZERR_BAD_SCHEMA);

uint64_t round_up(uint64_t value, uint64_t align)
{
    return (value + align - 1) / align * align;
}

struct parser {
    std::string_view text;
    size_t pos = 0;
    schema *out;

    bool at_end() const { return pos >= text.size(); }
    char peek() const { return at_end() ? '\0' : text[pos]; }
    bool eat(char c)
    {
        if (peek() != c)
            return false;
        ++pos;
        return true;
    }
    bool number(uint64_t *value)
    {
        size_t start = pos;
        uint64_t v = 0;
        while (!at_end() && text[pos] >= '0' && text[pos] <= '9') {
            v = v * 10 + static_cast<uint64_t>(text[pos] - '0');
            if (v > 0xffffffffu)
                return false;
            ++pos;
        }
        *value = v;
        return pos > start;
    }
    // A name inside braces, brackets or angle brackets: up to the closing character, which is
    // consumed.
    bool name_until(char close, std::string *name, bool allow_comma = false)
    {
        size_t start = pos;
        while (!at_end() && text[pos] != close) {
            char c = text[pos];
            if (c == ';' || c == '{' || c == '}' || c == '(' || c == ')' || (c == ',' && !allow_comma))
                return false;
            ++pos;
        }
        if (at_end() || pos == start)
            return false;
        *name = std::string(text.substr(start, pos - start));
        ++pos;
        return true;
    }

    int32_t add(type_node node)
    {
        out->types.push_back(std::move(node));
        return static_cast<int32_t>(out->types.size() - 1);
    }

    // Parses one type; returns its index or -1.
    int32_t type(int depth)
    {
        if (depth > max_type_depth)
            return -1;
        type_node node;
        if (eat('P'))
            node.internal = true;
        char c = peek();
        switch (c) {
        case 'C':
            node.k = kind::u8;
            ++pos;
            break;
        case 'c':
            node.k = kind::s8;
            ++pos;
            break;
        case 'I':
            node.k = kind::u16;
            ++pos;
            break;
        case 'D':
            node.k = kind::u32;
            ++pos;
            break;
        case 'd':
        case 'i':
            node.k = kind::s32;
            ++pos;
            break;
        case 'H':
            node.k = kind::u64;
            ++pos;
            break;
        case 'h':
            node.k = kind::s64;
            ++pos;
            break;
        case 'b':
            node.k = kind::boolean;
            ++pos;
            break;
        case 'N':
            node.k = kind::ipv4;
            ++pos;
            break;
        case 's':
            node.k = kind::string;
            ++pos;
            break;
        case 'y':
            node.k = kind::bytes;
            ++pos;
            break;
        case 'e':
            node.k = kind::enumeration;
            ++pos;
            break;
        case '[':
            ++pos;
            if (!name_until(']', &node.enum_name) || !eat('e'))
                return -1;
            node.k = kind::enumeration;
            break;
        case '$': {
            ++pos;
            uint64_t id;
            if (!number(&id))
                return -1;
            node.k = kind::record;
            node.def_id = static_cast<uint32_t>(id);
            eat('.'); // the compact form marks an inline record reference
            break;
        }
        case 'p':
        case 'a': {
            ++pos;
            if (!eat('('))
                return -1;
            int32_t elem = type(depth + 1);
            if (elem < 0 || !eat(')'))
                return -1;
            node.k = c == 'p' ? kind::optional : kind::array;
            node.elem = elem;
            break;
        }
        case '?':
            ++pos;
            if (!eat('(') || !union_body(&node, depth))
                return -1;
            node.k = kind::union_;
            break;
        default: {
            uint64_t n;
            if (!number(&n) || n == 0 || n > max_inline_count)
                return -1;
            node.count = static_cast<uint32_t>(n);
            if (eat('x')) {
                node.k = kind::raw;
            } else if (eat('A')) {
                if (!eat('('))
                    return -1;
                int32_t elem = type(depth + 1);
                if (elem < 0 || !eat(')'))
                    return -1;
                node.k = kind::inline_array;
                node.elem = elem;
            } else {
                return -1;
            }
            break;
        }
        }
        // Display hint: no effect on layout or encoding.
        if (eat('%')) {
            if (at_end() || !((peek() >= 'a' && peek() <= 'z') || (peek() >= 'A' && peek() <= 'Z')))
                return -1;
            ++pos;
        }
        return add(std::move(node));
    }

    bool union_body(type_node *node, int depth)
    {
        if (eat('<')) {
            if (!name_until(',', &node->disc_name) || !name_until('>', &node->enum_name))
                return false;
        }
        while (eat(',')) {
            arm a;
            bool negative = eat('-');
            uint64_t key;
            if (!number(&key) || !eat(':'))
                return false;
            a.key = negative ? -static_cast<int64_t>(key) : static_cast<int64_t>(key);
            if (eat('{') && !name_until('}', &a.name))
                return false;
            a.type = type(depth + 1);
            if (a.type < 0)
                return false;
            for (const arm &other : node->arms)
                if (other.key == a.key)
                    return false;
            node->arms.push_back(std::move(a));
        }
        return eat(')') && !node->arms.empty();
    }

    bool definition_text()
    {
        definition def;
        uint64_t id;
        if (!eat('$') || !number(&id) || !eat('='))
            return false;
        def.id = static_cast<uint32_t>(id);
        while (!at_end() && peek() != ';') {
            field f;
            if (eat('{') && !name_until('}', &f.name))
                return false;
            f.type = type(0);
            if (f.type < 0)
                return false;
            def.fields.push_back(std::move(f));
        }
        if (!eat(';'))
            return false;
        out->defs.push_back(std::move(def));
        return true;
    }
};

struct layout_state {
    schema *s;
    std::vector<uint8_t> state; // per definition: 0 new, 1 in progress, 2 done
};

bool layout_def(layout_state *ls, int32_t index);

bool layout_type(layout_state *ls, int32_t index)
{
    type_node &t = ls->s->types[static_cast<size_t>(index)];
    switch (t.k) {
    case kind::u8:
    case kind::s8: t.size = t.align = t.min_wire = 1; break;
    case kind::u16: t.size = t.align = t.min_wire = 2; break;
    case kind::u32:
    case kind::s32:
    case kind::ipv4:
    case kind::enumeration: t.size = t.align = t.min_wire = 4; break;
    case kind::boolean:
        t.size = t.align = 4;
        t.min_wire = 1;
        break;
    case kind::u64:
    case kind::s64: t.size = t.align = t.min_wire = 8; break;
    case kind::string:
        t.size = t.align = 8;
        t.min_wire = 4;
        break;
    case kind::bytes:
        t.size = 16;
        t.align = 8;
        t.min_wire = 4;
        break;
    case kind::raw:
        t.size = t.min_wire = t.count;
        t.align = 1;
        break;
    case kind::record: {
        auto &defs = ls->s->defs;
        auto it = std::find_if(defs.begin(), defs.end(), [&](const definition &d) { return d.id == t.def_id; });
        if (it == defs.end())
            return false;
        int32_t d = static_cast<int32_t>(it - defs.begin());
        if (!layout_def(ls, d))
            return false;
        t.def = d;
        t.size = it->size;
        t.align = it->align;
        t.min_wire = it->min_wire;
        break;
    }
    case kind::optional:
    case kind::array: {
        int32_t elem = t.elem;
        if (!layout_type(ls, elem))
            return false;
        type_node &u = ls->s->types[static_cast<size_t>(index)];
        u.size = u.k == kind::optional ? 8 : 16;
        u.align = 8;
        u.min_wire = u.k == kind::optional ? 1 : 4;
        break;
    }
    case kind::inline_array: {
        int32_t elem = t.elem;
        if (!layout_type(ls, elem))
            return false;
        const type_node &e = ls->s->types[static_cast<size_t>(elem)];
        type_node &u = ls->s->types[static_cast<size_t>(index)];
        u.size = e.size * u.count;
        u.align = e.align;
        u.min_wire = e.min_wire * u.count;
        if (u.size > max_native_size)
            return false;
        break;
    }
    case kind::union_: {
        uint64_t largest = 0;
        std::vector<int32_t> arms;
        for (const arm &a : t.arms)
            arms.push_back(a.type);
        for (int32_t a : arms) {
            if (!layout_type(ls, a))
                return false;
            const type_node &e = ls->s->types[static_cast<size_t>(a)];
            if (e.align > 8)
                return false;
            largest = std::max(largest, e.size);
        }
        type_node &u = ls->s->types[static_cast<size_t>(index)];
        // Discriminant, then the arms at byte 8.
        u.size = round_up(8 + largest, 8);
        u.align = 8;
        u.min_wire = 4;
        break;
    }
    }
    return true;
}

bool layout_def(layout_state *ls, int32_t index)
{
    uint8_t &st = ls->state[static_cast<size_t>(index)];
    if (st == 2)
        return true;
    if (st == 1)
        return false; // a definition that contains itself
    st = 1;
    uint64_t offset = 0;
    uint64_t align = 1;
    uint64_t min_wire = 0;
    size_t count = ls->s->defs[static_cast<size_t>(index)].fields.size();
    for (size_t i = 0; i < count; ++i) {
        int32_t type = ls->s->defs[static_cast<size_t>(index)].fields[i].type;
        if (!layout_type(ls, type))
            return false;
        const type_node &t = ls->s->types[static_cast<size_t>(type)];
        offset = round_up(offset, t.align);
        ls->s->defs[static_cast<size_t>(index)].fields[i].offset = offset;
        offset += t.size;
        align = std::max(align, t.align);
        min_wire += t.min_wire;
        if (offset > max_native_size)
            return false;
    }
    definition &d = ls->s->defs[static_cast<size_t>(index)];
    d.size = round_up(offset, align);
    d.align = align;
    d.min_wire = min_wire;
    ls->state[static_cast<size_t>(index)] = 2;
    return true;
}

// Every definition id that a type refers to, directly or through wrappers.
void type_refs(const schema &s, int32_t index, std::set<uint32_t> *ids)
{
    const type_node &t = s.types[static_cast<size_t>(index)];
    if (t.k == kind::record)
        ids->insert(t.def_id);
    if (t.elem >= 0)
        type_refs(s, t.elem, ids);
    for (const arm &a : t.arms)
        type_refs(s, a.type, ids);
}

// Any cycle through references, including through optional values and arrays, is refused: a
// decoder then never recurses deeper than the schema.
bool acyclic(const schema &s, size_t def, std::vector<uint8_t> *state)
{
    if ((*state)[def] == 2)
        return true;
    if ((*state)[def] == 1)
        return false;
    (*state)[def] = 1;
    std::set<uint32_t> ids;
    for (const field &f : s.defs[def].fields)
        type_refs(s, f.type, &ids);
    for (uint32_t id : ids)
        for (size_t j = 0; j < s.defs.size(); ++j)
            if (s.defs[j].id == id && !acyclic(s, j, state))
                return false;
    (*state)[def] = 2;
    return true;
}

bool same_type(const schema &a, int32_t ia, const schema &b, int32_t ib)
{
    const type_node &x = a.types[static_cast<size_t>(ia)];
    const type_node &y = b.types[static_cast<size_t>(ib)];
    if (x.k != y.k || x.internal != y.internal || x.count != y.count || x.def_id != y.def_id)
        return false;
    if ((x.elem < 0) != (y.elem < 0))
        return false;
    if (x.elem >= 0 && !same_type(a, x.elem, b, y.elem))
        return false;
    if (x.arms.size() != y.arms.size())
        return false;
    for (size_t i = 0; i < x.arms.size(); ++i)
        if (x.arms[i].key != y.arms[i].key || !same_type(a, x.arms[i].type, b, y.arms[i].type))
            return false;
    return true;
}

} // namespace

zerrno schema_parse(std::string_view text, schema *out)
{
    *out = schema{};
    parser p{text, 0, out};
    while (!p.at_end())
        if (!p.definition_text())
            return bad_schema;
    if (out->defs.empty())
        return bad_schema;
    for (size_t i = 0; i < out->defs.size(); ++i)
        for (size_t j = i + 1; j < out->defs.size(); ++j)
            if (out->defs[i].id == out->defs[j].id)
                return bad_schema;
    std::vector<uint8_t> state(out->defs.size(), 0);
    if (!acyclic(*out, 0, &state))
        return bad_schema;
    layout_state ls{out, std::vector<uint8_t>(out->defs.size(), 0)};
    for (size_t i = 0; i < out->defs.size(); ++i)
        if (!layout_def(&ls, static_cast<int32_t>(i)))
            return bad_schema;
    return ZERR_OK;
}

bool schema_same_shape(const schema &a, const schema &b)
{
    if (a.defs.size() != b.defs.size())
        return false;
    for (size_t i = 0; i < a.defs.size(); ++i) {
        const definition &x = a.defs[i];
        const definition &y = b.defs[i];
        if (x.id != y.id || x.fields.size() != y.fields.size())
            return false;
        for (size_t f = 0; f < x.fields.size(); ++f)
            if (!same_type(a, x.fields[f].type, b, y.fields[f].type))
                return false;
    }
    return true;
}

bool schema_defs_are_closure(const schema &s)
{
    std::set<uint32_t> reached;
    std::vector<uint32_t> work{s.defs[0].id};
    while (!work.empty()) {
        uint32_t id = work.back();
        work.pop_back();
        for (const definition &d : s.defs) {
            if (d.id != id)
                continue;
            std::set<uint32_t> ids;
            for (const field &f : d.fields)
                type_refs(s, f.type, &ids);
            for (uint32_t r : ids)
                if (reached.insert(r).second)
                    work.push_back(r);
        }
    }
    reached.erase(s.defs[0].id);
    if (reached.size() != s.defs.size() - 1)
        return false;
    auto it = reached.begin();
    for (size_t i = 1; i < s.defs.size(); ++i, ++it)
        if (s.defs[i].id != *it)
            return false;
    return true;
}

} // namespace bag_internal
