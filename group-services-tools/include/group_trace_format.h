// The group-services trace records as text, and the trace display tool over them.
//
// Buffer "dgs" holds the group-messaging library's records, "dgs_err" its errors. A record's
// 64-bit key selects its text (the low 32 bits number it within its buffer, the high bits are the
// argument descriptor the library writes with it); its arguments fill the text's placeholders in
// order, %s from a text argument.
#pragma once

#include <cstddef>
#include <cstdint>

#include "jotlog.h"

// Record formatters in the trace reader's decoder form: write the record's text into buf (size
// bytes, always terminated) and return 0; a record whose key the table does not hold leaves buf
// untouched. Only the record's own arguments are read (its count): a placeholder beyond them, or a
// %s whose argument is not a text, prints "?".
int group_trace_format_record(const jotlog_record_type *record, uint64_t context, char *buf, size_t size);
int group_trace_format_error(const jotlog_record_type *record, uint64_t context, char *buf, size_t size);

// dgs_trace_show: the reader's command line (jotlog_show, tool option "E"); -E shows "dgs_err"
// with the error formatter instead of "dgs" with the record formatter. Returns the exit status.
int dgs_trace_show_main(int argc, char **argv);
