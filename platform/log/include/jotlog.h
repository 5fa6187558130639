// Binary trace buffers: named, fixed-size ring buffers in files under the run directory, written
// by a process and read by a separate tool, also after the writer has gone.
//
// A record holds a 64-bit trace id (stored as given, never interpreted), a timestamp (platform
// clock, ns), and up to JOTLOG_MAX_ARGS 64-bit argument words. Arguments named in the writer's
// text mask (bit i = argument i) are pointers to zero-terminated texts, which the writer copies
// into the buffer (cut to JOTLOG_MAX_TEXT bytes; a null pointer records an empty text). The mask
// is a separate argument, not taken from the id, so that no id bit can make the writer follow a
// number as a pointer; a front end whose ids carry text flags passes them on explicitly.
//
// Buffer "a/b/c" lives in "<run dir>/jotlog/a/b/c". The run directory is, in order: the one set
// with jotlog_set_run_dir, $PTP_RUN_DIR, "/tmp/ptp-run". File format: platform/log/README.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "zerrno.h"

inline constexpr uint32_t JOTLOG_MAX_ARGS = 8;
inline constexpr uint32_t JOTLOG_MAX_TEXT = 255;

struct jotlog_buffer;
using jotlog_handle_type = jotlog_buffer *;

// Open (create, or continue an existing file of the same geometry) the buffer `name`. Two areas:
//   start area: the first start_records records ever written are kept and never overwritten;
//   ring area:  every later record goes round a ring of ring_records records.
// Each area has its own text store (…_text_bytes, a ring of the most recent texts).
// flags must be 0. EINVAL for a bad name (empty, or a '.'/'..' component, or characters other
// than letters, digits, '_', '-', '.', '/') or when both record counts are 0; EEXIST when this
// process has the buffer open; else the errno of the failed file operation.
zerrno jotlog_init2(const char *name, uint32_t start_records, uint32_t start_text_bytes, uint32_t ring_records,
                    uint32_t ring_text_bytes, uint32_t flags, jotlog_handle_type *handle);

// Close a buffer (null accepted). The file stays for readers.
void jotlog_close(jotlog_handle_type handle);

// Write one record: nargs argument words (only the first JOTLOG_MAX_ARGS are kept; the record's
// count is min(nargs, JOTLOG_MAX_ARGS)); text_mask bit i marks argument i as a text pointer (bits
// at or above the count are ignored). Thread-safe per handle. Returns 0; EINVAL for a null handle
// or args null with nargs > 0; ENOSPC when the buffer has only a start area and it is full.
zerrno _jotlog(jotlog_handle_type handle, uint64_t id, uint32_t text_mask, const uint64_t *args, uint32_t nargs);
// One record of a group (jotlog_write_group): as _jotlog's arguments, args[i] for i < nargs.
struct jotlog_entry_type {
    uint64_t id;
    uint32_t text_mask;
    uint32_t nargs;
    uint64_t args[JOTLOG_MAX_ARGS];
};
// Write the records of one event (a message and its bytes, say) one after the other as _jotlog
// writes each, with one lock and one time for all: nothing comes between them and they share
// their timestamp. Returns 0, EINVAL as _jotlog (nothing written), or ENOSPC when the start area
// filled on the way (the records before it are written, the rest counted as dropped).
zerrno jotlog_write_group(jotlog_handle_type handle, const jotlog_entry_type *entries, uint32_t count);
// Argument-count variants.
zerrno _jotlog0(jotlog_handle_type handle, uint64_t id);
zerrno _jotlog1(jotlog_handle_type handle, uint64_t id, uint32_t text_mask, uint64_t a1);
zerrno _jotlog2(jotlog_handle_type handle, uint64_t id, uint32_t text_mask, uint64_t a1, uint64_t a2);
zerrno _jotlog3(jotlog_handle_type handle, uint64_t id, uint32_t text_mask, uint64_t a1, uint64_t a2, uint64_t a3);
zerrno _jotlog4(jotlog_handle_type handle, uint64_t id, uint32_t text_mask, uint64_t a1, uint64_t a2, uint64_t a3,
                uint64_t a4);
zerrno _jotlog5(jotlog_handle_type handle, uint64_t id, uint32_t text_mask, uint64_t a1, uint64_t a2, uint64_t a3,
                uint64_t a4, uint64_t a5);
zerrno _jotlog6(jotlog_handle_type handle, uint64_t id, uint32_t text_mask, uint64_t a1, uint64_t a2, uint64_t a3,
                uint64_t a4, uint64_t a5, uint64_t a6);
zerrno _jotlog7(jotlog_handle_type handle, uint64_t id, uint32_t text_mask, uint64_t a1, uint64_t a2, uint64_t a3,
                uint64_t a4, uint64_t a5, uint64_t a6, uint64_t a7);
zerrno _jotlog8(jotlog_handle_type handle, uint64_t id, uint32_t text_mask, uint64_t a1, uint64_t a2, uint64_t a3,
                uint64_t a4, uint64_t a5, uint64_t a6, uint64_t a7, uint64_t a8);

// The argument word of a text argument.
inline uint64_t jotlog_text_arg(const char *text)
{
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(text));
}

// ---- Reading ----------------------------------------------------------------------------------

// A record as the reader hands it out. Fixed offsets: seq 0, timestamp 8, id 16, nargs 24,
// text_mask 26, pid 28, args 32. A text argument's word holds a pointer to its zero-terminated
// text inside this record (jotlog_record_text); a text the text ring had already overwritten
// reads as "<lost>".
struct jotlog_record_type {
    uint64_t seq;       // 1 for the buffer's first record, then +1
    uint64_t timestamp; // ns, platform clock
    uint64_t id;
    uint16_t nargs;
    uint16_t text_mask; // bit i: argument i is a text
    uint32_t pid;       // writer's process id
    uint64_t args[JOTLOG_MAX_ARGS];
    char text[JOTLOG_MAX_ARGS][JOTLOG_MAX_TEXT + 1];
};
static_assert(offsetof(jotlog_record_type, id) == 16);
static_assert(offsetof(jotlog_record_type, args) == 32);

// Text of argument i when the record marks it as text; null otherwise.
const char *jotlog_record_text(const jotlog_record_type *record, uint32_t i);

// Iterate the records of buffer `name` oldest first (start area, then ring): visitor returns true
// to go on. ENOENT when the buffer file does not exist, EBADMSG when it is not a valid buffer.
// Never reads past the file; damaged records are skipped.
using jotlog_visit_fn = bool (*)(const jotlog_record_type *record, void *context);
zerrno jotlog_read(const char *name, jotlog_visit_fn visitor, void *context);

// Decoder of a display tool: write the record's text into buf (size bytes) and return 0, or return
// -1 (all ones) for a record it does not know (the reader then prints it undecoded).
using jotlog_decode_fn = int (*)(const jotlog_record_type *record, uint64_t context, char *buf, size_t size);

// The trace reader of the display tools. argv is the tool's command line, tool_opts its getopt
// option text (options the reader does not know are the tool's and skipped); buffers a
// null-terminated list of buffer names. The records of all buffers are merged in time order and
// printed, one line each:
//     "<YYYY-mm-dd HH:MM:SS.uuuuuu> <buffer> <pid>: <text>"
// (undecoded: "id 0x%016lx" then each argument " 0x%lx" or " \"text\""). Reader option, when the
// tool's option text contains it: -i also prints the trace id after the pid ("[0x%016lx] ").
// Buffers without a file are skipped; a file that is not a whole buffer (damaged or truncated) is
// reported on stderr and not shown, never read past its end. Returns the exit status: 0.
int jotlog_show(int argc, char **argv, const char *tool_opts, uint64_t context, jotlog_decode_fn decoder,
                const char *const *buffers);

// ---- Run directory / test control ---------------------------------------------------------

// Set the run directory (null: back to the default); returns the directory now in use.
std::string jotlog_set_run_dir(const char *dir);
std::string jotlog_run_dir();
// Path of a buffer's file: <run>/jotlog/<name>, or <run>/jotlog/<node>/<name> in a process of a
// node ($PTP_NODE, its '/' as '_', e.g. "0_1_CPU0"), read at each call.
std::string jotlog_file_path(const char *name);
// Where jotlog_show prints (null: stdout).
void jotlog_show_set_output(FILE *out);
