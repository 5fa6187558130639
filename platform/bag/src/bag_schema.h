// Parsed bag schemas and the native layout they imply (internal to the bag facility).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zerrno.h"

namespace bag_internal {

enum class kind : uint8_t {
    u8,
    s8,
    u16,
    u32,
    s32,
    u64,
    s64,
    boolean,
    ipv4,
    enumeration,
    string,
    record,
    optional,
    array,
    inline_array,
    raw,
    bytes,
    union_,
};

struct arm {
    int64_t key;
    std::string name;
    int32_t type; // index into schema::types
};

struct type_node {
    kind k = kind::u8;
    bool internal = false;
    uint32_t count = 0;    // inline array length, raw byte count
    uint32_t def_id = 0;   // record: the definition number as written
    int32_t def = -1;      // record: index into schema::defs once resolved
    int32_t elem = -1;     // optional, array, inline array: element type
    std::string enum_name; // enumeration; union: discriminant enum
    std::string disc_name; // union: discriminant field name
    std::vector<arm> arms; // union
    uint64_t size = 0;     // native size and alignment
    uint64_t align = 1;
    uint64_t min_wire = 0; // fewest encoded bytes a value of this type takes
};

struct field {
    std::string name; // empty in compact schemas and unnamed definitions
    int32_t type;
    uint64_t offset = 0;
};

struct definition {
    uint32_t id = 0;
    std::vector<field> fields;
    uint64_t size = 0;
    uint64_t align = 1;
    uint64_t min_wire = 0;
};

struct schema {
    std::vector<definition> defs; // defs[0] is the root
    std::vector<type_node> types;
};

// Parses a full or compact schema text, resolves every reference and computes the native
// layout. A reference to a missing definition, a duplicate definition or a cycle of
// references is refused.
zerrno schema_parse(std::string_view text, schema *out);

// Whether two parsed schemas describe the same records (names aside).
bool schema_same_shape(const schema &a, const schema &b);

// The first definitions other than the root, in order of appearance, are every definition the
// root uses, ascending, and nothing else.
bool schema_defs_are_closure(const schema &s);

} // namespace bag_internal
