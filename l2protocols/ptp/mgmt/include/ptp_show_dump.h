// What the two database dumps share: one value a line ("label = value") indented four blanks a
// level, values formatted into the frame's rotating buffers, and the tables that list a record's
// labels once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bag.h"

namespace dump {

inline constexpr const char *asterisks = "**********************************************************************";
inline constexpr const char *dashes = "------------------------------------------------------------------";

// Prints the indent of level, then format.
void put(uint32_t level, const char *format, ...) __attribute__((format(printf, 2, 3)));
// The text of format in a rotating buffer.
const char *fmt(const char *format, ...) __attribute__((format(printf, 1, 2)));
const char *tf(uint32_t flag); // "TRUE" / "FALSE"
// Two lower-case hex digits a byte, as much as a rotating buffer holds.
const char *hex_bytes(const bag_bytes &bytes);

// One line of a record: its label and its value's text.
template <typename Record>
struct line_type {
    const char *name;
    const char *(*value)(const Record &);
};

template <typename Record, size_t N>
void print_lines(uint32_t level, const Record &r, const line_type<Record> (&lines)[N])
{
    for (const line_type<Record> &l : lines)
        put(level, "%s = %s\n", l.name, l.value(r));
}

// One flag of a record: its label and the field that holds it.
template <typename Record>
struct flag_type {
    const char *name;
    uint32_t Record::*member;
};

} // namespace dump
