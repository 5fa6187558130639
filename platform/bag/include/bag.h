// Bags: described native records, their registration, and their encoding into bytes that another
// process decodes with nothing but the registered description.
//
// A bag is described by a descriptor: its name, schema version, the schema text (full, with field
// names, and compact, without) and the native layout of its root record. The schema language and
// the native layout rules are in README.md beside this file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "zerrno.h"

// Native layout of a bag's root record.
struct bag_layout_type {
    uint64_t definition_count; // definitions in the schema besides the root
    uint64_t size;             // bytes of the native root record
    const uint64_t *offsets;   // byte offset of each root field, in schema order
};
static_assert(sizeof(bag_layout_type) == 24);

// One bag's descriptor (constant, owned by the program that describes the bag).
struct bag_descriptor_type {
    uint64_t first_word; // BAG_DESCRIPTOR_FIRST_WORD
    const char *name;    // bag name, e.g. "ptp_summary_info"
    uint32_t major;      // schema version
    uint32_t minor;
    const char *library; // the description library that holds the help texts
    const bag_layout_type *layout;
    const char *schema;         // full schema text
    const char *compact_schema; // the same schema without names
};
static_assert(sizeof(bag_descriptor_type) == 56);
inline constexpr uint64_t BAG_DESCRIPTOR_FIRST_WORD = 1;

// Native form of a variable array a(T): element count and a pointer to the elements.
template <typename T>
struct bag_array {
    uint32_t count;
    T *array;
};
static_assert(sizeof(bag_array<uint8_t>) == 16);

// Native form of a byte string y: length and a pointer to the bytes.
struct bag_bytes {
    uint32_t length;
    uint8_t *data;
};
static_assert(sizeof(bag_bytes) == 16);

// Error codes of the bag facility (facility BAG_ZERR_FACILITY; texts registered by the facility).
inline constexpr uint32_t BAG_ZERR_FACILITY = 0x7f0b;
enum bag_zerr_number : uint32_t {
    BAG_ZERR_INVALID_ARG = 1,    // "Invalid bag argument"
    BAG_ZERR_BAD_DESCRIPTOR = 2, // "Invalid bag descriptor"
    BAG_ZERR_BAD_SCHEMA = 3,     // "Invalid bag schema"
    BAG_ZERR_BAD_LAYOUT = 4,     // "Bag layout does not match its schema"
    BAG_ZERR_NOT_OPEN = 5,       // "No bag registration in progress"
    BAG_ZERR_ALREADY_OPEN = 6,   // "Bag registration already in progress"
    BAG_ZERR_EXISTS = 7,         // "A different bag of that name is registered"
    BAG_ZERR_NOT_REGISTERED = 8, // "Bag not registered"
    BAG_ZERR_TRUNCATED = 9,      // "Bag encoding truncated"
    BAG_ZERR_INCONSISTENT = 10,  // "Bag encoding inconsistent"
    BAG_ZERR_WRONG_BAG = 11,     // "Bag encoding is of another bag or schema"
    BAG_ZERR_NO_MEMORY = 12,     // "Out of memory in bag facility"
    BAG_ZERR_NOT_FOUND = 13,     // "Bag description string not found"
    BAG_ZERR_TOO_LARGE = 14,     // "Bag too large to encode"
    BAG_ZERR_NO_LIBRARY = 15,    // "Bag description library cannot be loaded"
    BAG_ZERR_BAD_LIBRARY = 16,   // "Bag description library is malformed"
};
constexpr zerrno bag_zerr(bag_zerr_number number)
{
    return zerr_make(BAG_ZERR_FACILITY, number);
}

// Registration. Between start and end, each bag_register adds one bag to the process's registry at
// once; abort removes every bag that this registration added; end closes it. Registering a bag
// that is already registered with the same schema and layout succeeds and adds nothing.
// bag_register checks the descriptor: both schema texts parse to the same definitions, the root
// is followed by every definition it uses, and the layout record matches the native layout that
// the schema implies.
zerrno bag_register_start();
zerrno bag_register(const bag_descriptor_type *descriptor);
zerrno bag_register_end();
zerrno bag_register_abort();

// Encodes the native record of a registered bag. On success *data is a new buffer of *length
// bytes that the caller releases with free().
zerrno bag_encode(const void *record, const bag_descriptor_type *descriptor, uint8_t **data, uint32_t *length);

// Decodes length bytes into the native record (descriptor->layout->size bytes, zeroed first).
// Strings, optional values, arrays and byte strings are allocated; release them with
// bag_free_indirections. Input that is truncated, overruns, carries trailing bytes or values that
// the schema does not allow, or is of another bag or schema, is refused and leaves the record
// zeroed with nothing allocated.
zerrno bag_decode(const uint8_t *data, uint32_t length, void *record, const bag_descriptor_type *descriptor);

// Frees everything bag_decode allocated in the record and clears those pointers and counts.
zerrno bag_free_indirections(void *record, const bag_descriptor_type *descriptor);

// The encoded bag as text, one field a line ("Name: value", nested records and array elements
// indented by two more spaces), read through the description of the registered bag it names.
// Every read is checked as in bag_decode; nothing is allocated but the text.
zerrno bag_to_text(const uint8_t *data, uint32_t length, std::string *text);

// Help-text lookup in a description library's table: rows sorted by key, keys compared as signed
// 32-bit numbers, key = bag_description_key(name).
struct bag_description_row {
    uint64_t key;
    const char *name;
    const char *description;
};
static_assert(sizeof(bag_description_row) == 24);

// The key of a description row: h = h * 33 + byte over the name, modulo 2^32, from 0.
constexpr uint32_t bag_description_key(const char *name)
{
    uint32_t h = 0;
    for (const char *p = name; *p != '\0'; ++p)
        h = h * 33u + static_cast<uint8_t>(*p);
    return h;
}

// Finds name in a description table and returns its description in *description.
zerrno bag_fetch_string(const char *name, const bag_description_row *rows, uint32_t count, const char **description);

// A description library's fetch member, bag_fetch_<type>_<major>_<minor>: bag_fetch_string over
// the type's own table (the rows and count given are replaced).
using bag_fetch_function = zerrno (*)(const char *name, const bag_description_row *rows, uint32_t count,
                                      const char **description);

// ---- Description libraries ----
//
// A description library exports bag_filename (its family F), bag_F_bag_count, bag_F_bags (the
// names), per bag bag_bytecode_<bag>, bag_major_version_<bag> and bag_minor_version_<bag>, and
// the fetch member of every type it describes; it calls bag_fetch_string of the loading process,
// which must export it. Once loaded, bag_to_text shows its bags (registered in this process or
// not) with each type's and field's help text and each enumeration's names:
//   "Name: value  # help", "State: SLAVE (6)  # help".

// $PTP_BAG_LIB when set and not empty, else "/pkg/lib/libbagwright.so".
const char *bag_description_library_path();

// Loads a description library; loading one again succeeds and does nothing.
// BAG_ZERR_NO_LIBRARY: it cannot be loaded; BAG_ZERR_BAD_LIBRARY: its exports are incomplete or a
// schema does not parse.
zerrno bag_library_load(const char *path);

// Test control: forgets and unloads every description library.
void bag_library_unload_all();

// ---- Test control and introspection ----

// The native layout that a schema text implies for its first (root) definition: size, alignment
// and the offsets of its fields (up to max_offsets of them; *field_count gets the real number).
zerrno bag_schema_root_layout(const char *schema, uint64_t *size, uint64_t *align, uint64_t *offsets,
                              uint32_t max_offsets, uint32_t *field_count);

// Whether a bag of that name is registered.
bool bag_is_registered(const char *name);

// Fails the next bag_register calls: the nth call from now (1 = the next) returns code.
void bag_test_fail_register(uint32_t nth, zerrno code);

// Forgets every registered bag and any registration in progress.
void bag_registry_reset();
