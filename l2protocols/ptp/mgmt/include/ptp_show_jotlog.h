// ptp_show_jotlog: the trace display tool of the PTP processes. The platform's trace reader
// (jotlog_show) walks the buffers, merges them by time and prints each record's line; this tool
// supplies the texts: a decoder chosen by the class bits of a record's id writes the module
// prefix and the trace point's text from the one table of trace points (ptp_trace_points.h).
//
// The buffers are files another process wrote: a record's arguments are read only up to the
// count it carries (a missing one reads as 0), a text argument is taken only from the record's
// own texts and only where the table says the point carries a text, and formats are applied by
// our own walker, never handed to printf as they stand.
#pragma once

#include <cstddef>
#include <cstdint>

#include "jotlog.h"
#include "ptp_trace.h"

// The buffers shown, in order; the agent's packet trace is the last one.
extern const char *const ptp_show_jotlog_buffers[];
// Just the packet trace (-A) and everything but it (-B).
extern const char *const ptp_show_jotlog_buffers_pkt[];
extern const char *const ptp_show_jotlog_buffers_no_pkt[];

// The decoder handed to jotlog_show: 0 when it wrote a text, all ones (-1) for an id of no known
// class or an unknown number (the reader then shows the record undecoded).
int ptp_show_jotlog_decode(const jotlog_record_type *record, uint64_t context, char *buf, size_t size);
int ptp_show_jotlog_decode_tessel(const jotlog_record_type *record, uint32_t number, char *buf, size_t size);
int ptp_show_jotlog_decode_quorrin(const jotlog_record_type *record, uint32_t number, char *buf, size_t size);
int ptp_show_jotlog_decode_util(const jotlog_record_type *record, uint32_t number, char *buf, size_t size);
int ptp_show_jotlog_decode_sardo(const jotlog_record_type *record, uint32_t number, char *buf, size_t size);

// Formats into *buf (*size bytes left), advances *buf past what was written and shrinks *size;
// a text that does not fit is cut, and the buffer stays terminated.
void ptp_show_jotlog_append(char **buf, size_t *size, const char *fmt, ...) __attribute__((format(printf, 3, 4)));

// Quality-level text of a packed word: QL option 1..3 in bits 16-23, QL value in the low byte.
const char *ptp_show_jotlog_ql_to_str(uint32_t packed);
// "Opt-1", "Opt-II,1", "Opt-II,2", else "Unknown QL option".
const char *ptp_show_jotlog_ql_option_to_str(uint32_t option);

// The tool: options "ABi" (-A packet trace only, -B all but the packet trace, -i passed on to
// the reader). Returns the exit status; -A with -B is refused with a message on stderr (2).
int ptp_show_jotlog_main(int argc, char **argv);
