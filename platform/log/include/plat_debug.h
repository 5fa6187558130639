// Debug areas and debug printing.
//
// A process registers a path (e.g. "/debug/ptp") with a table of debug event records, one per
// area. An operator switches an area on (optionally with a filter text) or off; while an area is
// on, the second word of its record (`enabled`) is non-zero, so callers can test it before they
// format anything. Filter texts are parsed by the registering process's callback, which installs
// its parsed filter and a match function; each print hands the match function its filter
// parameters.
//
// Prints go to the per-process debug log "<run dir>/debug/<ident>.<pid>.log" (ident from
// zq_openlog, else the program name; run dir from jotlog_run_dir()), one line per print:
//     "<YYYY-mm-dd HH:MM:SS.uuuuuu> <text>"
// and, without the time, to an in-memory capture that tests read.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#include "zerrno.h"

struct debug_registration_type;

// One area's record (192 bytes, owned by the caller's table, managed by this facility).
struct debug_event_type {
    uint64_t magic;      // set by debug_init_event
    uint64_t enabled;    // non-zero while the area is on
    uint64_t index;      // area index in its table
    uint32_t level_mask; // levels the area prints (bit n = level n); kept for the owner
    uint32_t params_len; // size of the filter parameters its prints hand over
    char name[64];       // area name, as the operator names it
    debug_event_type *table;
    debug_registration_type *registration;
    void *filter; // installed filter (the registering process's record)
    bool (*match)(const void *params, const void *filter);
    uint64_t reserved[8];
};
static_assert(sizeof(debug_event_type) == 192);

// Filter-value types handed to the parse callback.
inline constexpr uint32_t DEBUG_VALUE_NONE = 0;
inline constexpr uint32_t DEBUG_VALUE_TEXT = 1; // value is a zero-terminated text, len excludes the 0
inline constexpr uint32_t DEBUG_VALUE_UINT = 2; // value is a uint64_t

// Operations of the parse callback.
inline constexpr uint32_t DEBUG_OP_NONE = 0;
inline constexpr uint32_t DEBUG_OP_PARSE = 1;   // parse the filter value and install a filter
inline constexpr uint32_t DEBUG_OP_RELEASE = 2; // free the installed filter (fetch it with debug_get_app_reference)

// What a parse callback is called with: the area (its event record) and the operator's value.
struct debug_facility_ref_type;

using debug_parse_cb_fn = zerrno (*)(uint32_t op, debug_facility_ref_type *ref, void *context);
using debug_filter_match_fn = bool (*)(const void *params, const void *filter);

// Initialise one area's record. level_mask: the levels the area prints (7 = levels 0..2);
// params_len: size of the filter parameters its prints carry (0 = none). EINVAL for a null record
// or table, an empty name or one of 64 characters or more.
zerrno debug_init_event(debug_event_type *event, debug_event_type *table, uint64_t index, uint32_t level_mask,
                        const char *name, uint32_t params_len);

// Register a path with its table of count initialised records (index i at table[i]) and the
// filter parse callback (may be null: areas then take no filter). evm is the caller's event
// manager (kept, not used). EEXIST when the path is registered, EINVAL for bad arguments.
zerrno debug_register(void *evm, const char *path, debug_event_type *table, uint32_t count, debug_parse_cb_fn parse_cb,
                      void *context);

// Inside a parse callback: the operator's value, the area, install/fetch the filter.
zerrno debug_get_type_value(debug_facility_ref_type *ref, uint32_t *type, const void **value, uint32_t *len);
debug_event_type *debug_ref_event(debug_facility_ref_type *ref);
zerrno debug_install_filter(debug_facility_ref_type *ref, void *filter, debug_filter_match_fn match);
zerrno debug_get_app_reference(debug_facility_ref_type *ref, void **filter);

// Release a path: every area off, every installed filter released through the callback.
// ENOENT when the path is not registered.
zerrno debug_cleanup(const char *path);

// Print on an area. Nothing happens while the area is off, or when an installed filter's match
// refuses the parameters.
// params may be null (params_len 0): the print then passes any filter. The line is cut at 1023
// characters; a trailing newline of the format is dropped.
void vbuginf(const debug_event_type *event, const void *params, uint32_t params_len, const char *format, va_list args)
    __attribute__((format(printf, 4, 0)));
void buginf(const debug_event_type *event, const void *params, uint32_t params_len, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

// ---- Operator / test control ---------------------------------------------------------------

// Switch an area of a registered path on. filter_text null: no filter; otherwise the text goes to
// the parse callback (DEBUG_VALUE_TEXT). A failing parse leaves the area as it was and returns the
// callback's error. area "all" switches every area of the path. ENOENT for an unknown path/area.
zerrno debug_set_area(const char *path, const char *area, const char *filter_text);
// The same with a typed value (e.g. DEBUG_VALUE_UINT), for callers that pass non-text filters.
zerrno debug_set_area_value(const char *path, const char *area, uint32_t type, const void *value, uint32_t len);
// Switch an area (or "all") off, releasing its filter.
zerrno debug_clear_area(const char *path, const char *area);

// Lines printed since the last clear, oldest first, without the time prefix (last 4096 kept).
std::vector<std::string> debug_captured();
void debug_capture_clear();
// Path of this process's debug log file.
std::string debug_log_path();

// At debug_register the environment variable PTP_DEBUG, if set, switches areas on:
//     PTP_DEBUG="/debug/ptp:fsm,bmc=internal:Gi0/0/0/1;/debug/other:all"
// (path ':' comma-separated areas, each with an optional '=' filter text; paths split by ';').
