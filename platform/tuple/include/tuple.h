// Packed tuples: the database's encoding of compound item values.
//
// A format names the fields in order: "%d" a signed 32-bit number, "%u" an unsigned 32-bit
// number, "%s" or "%S" a text. Any field may be absent; a presence mask (bit n = field n)
// says which are there. At most 32 fields.
//
// Byte form (big-endian): u32 total size, u32 presence mask, u8 field count, 3 bytes zero,
// then each present field: u8 kind (1 number, 2 text), then a number as 4 bytes, or a text as
// u16 length, the bytes and one zero byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "zerrno.h"

// A packed tuple is only ever handled through a pointer; its bytes are the byte form above.
struct tuple_type;

inline constexpr uint32_t TUPLE_FACILITY = 0x7f10;
inline constexpr zerrno TUPLE_ERR_FORMAT = zerr_make(TUPLE_FACILITY, 1, 22);    // bad format
inline constexpr zerrno TUPLE_ERR_MALFORMED = zerr_make(TUPLE_FACILITY, 2, 74); // bad bytes
inline constexpr zerrno TUPLE_ERR_ABSENT = zerr_make(TUPLE_FACILITY, 3, 2);     // field absent
inline constexpr zerrno TUPLE_ERR_NOMEM = zerr_make(TUPLE_FACILITY, 4, 12);

inline constexpr uint32_t TUPLE_MAX_FIELDS = 32;
inline constexpr uint32_t TUPLE_HEADER_SIZE = 12;

// Packs one argument per format field (int for "%d", unsigned for "%u", const char * for a
// text); fields whose mask bit is clear are left out whatever their argument. The new tuple
// is allocated; free it with tuple_free.
zerrno tuple_pack_mask(tuple_type **out, const char *fmt, uint32_t mask, ...);

// Size in bytes of a tuple made by tuple_pack_mask.
uint32_t tuple_size(const tuple_type *tuple);

void tuple_free(tuple_type *tuple);

// Unpacks len bytes: one out pointer per format field (int32_t * for "%d", uint32_t * for
// "%u", const char ** for a text, pointing into the tuple); a null out pointer skips the field.
// Absent fields leave their out value untouched, so callers preset defaults. The mask of
// present fields goes to *mask. Bytes that do not match the format, or that overrun len, fail
// with TUPLE_ERR_MALFORMED and nothing is written.
zerrno tuple_unpack_mask(const tuple_type *tuple, uint32_t len, const char *fmt, uint32_t *mask, ...);

// As tuple_unpack_mask, but every field must be present (TUPLE_ERR_ABSENT otherwise).
zerrno tuple_unpack(const tuple_type *tuple, uint32_t len, const char *fmt, ...);

// A tuple field as data, for tools that build or show tuples of any format.
struct tuple_field_type {
    uint32_t kind; // 0 absent, 1 number, 2 text
    uint32_t number;
    std::string text;
};

// The byte form of the fields, in order (at most TUPLE_MAX_FIELDS; texts up to 65535 bytes,
// without zero bytes).
zerrno tuple_pack_fields(const std::vector<tuple_field_type> &fields, std::vector<uint8_t> *bytes);
// The fields of len bytes of any tuple, absent ones included, as the bytes give their kinds.
zerrno tuple_read_fields(const void *data, uint32_t len, std::vector<tuple_field_type> *fields);
