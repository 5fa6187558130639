// Debug and trace front end of every PTP process: the debug areas under "/debug/ptp", the
// operator's debug filter ("support" or "internal", optionally ":" and an interface name), debug
// prints gated by area, level and filter, and the process's trace buffers.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "evm.h"
#include "jotlog.h"
#include "plat_debug.h"
#include "ptp_zerr_codes.h"
#include "zerrno.h"

inline constexpr const char *PTP_DEBUG_PATH = "/debug/ptp";

// Debug levels of a print.
inline constexpr uint32_t PTP_DEBUG_LEVEL_ERROR = 0;
inline constexpr uint32_t PTP_DEBUG_LEVEL_SUPPORT = 1;
inline constexpr uint32_t PTP_DEBUG_LEVEL_INTERNAL = 2;

// The front end returns PTP_ZERR_INVALID_ARG, and PTP_ZERR_NOMEM also for a refused filter text:
// the code the filter callback has always given for it.
// The interface manager's answer that counts as a found interface.
inline constexpr zerrno PTP_IMC_FIND_OK_CODE = 0x409A0600u;

// One debug area of a process: index 0..n-1, name (the operator's name for it), label (the
// prefix of every print of the area, "%s: ").
struct ptp_debug_component_type {
    uint64_t index;
    const char *name;
    const char *label;
};

// A parsed debug filter.
struct ptp_debug_filter_type {
    uint32_t has_interface;
    uint32_t ifhandle;
    uint32_t level; // 1 support, 2 internal; 0 when the level word was empty
};

// What each print hands the filter.
struct ptp_debug_filter_params_type {
    uint32_t ifhandle; // 0 when the print concerns no interface
    uint32_t level;
};

// One trace buffer of a process: name, four sizing values (ring records, ring text bytes, start
// records, start text bytes), and the handle written when the buffer is opened.
struct ptp_jotlog_buffer_type {
    const char *name;
    uint32_t size[4];
    jotlog_handle_type handle;
};

// Registers the areas of `components` (count rows, row i's index i) under "/debug/ptp", each on
// table[index]. im_ctx: the interface-manager connection context that resolves interface names in
// filters (null for processes without one; their filters then cannot name an interface). A second
// call in the same process does nothing and succeeds. Failures raise INIT_FAILED.
zerrno ptp_debug_register(event_mgr_type *evm, debug_event_type *table, const ptp_debug_component_type *components,
                          uint32_t count, void *im_ctx);
// Releases the "/debug/ptp" registration when there is one.
void ptp_debug_cleanup();

// Whether an area is on: callers test this before they format anything.
inline bool ptp_debug_enabled(const debug_event_type *table, uint32_t area)
{
    return table != nullptr && table[area].enabled != 0;
}

// Prints on an area when it is on and its filter passes {ifhandle, level}.
void ptp_debug_print(uint32_t area, uint32_t ifhandle, uint32_t level, const debug_event_type *table,
                     const char *format, ...) __attribute__((format(printf, 5, 6)));
void ptp_debug_vprint(uint32_t area, uint32_t ifhandle, uint32_t level, const debug_event_type *table,
                      const char *format, va_list args) __attribute__((format(printf, 5, 0)));

// The label of an area of the registered table ("" when unknown), and the registered table
// (null before registration): for modules that print on the process's areas.
const char *ptp_debug_area_label(uint32_t area);
debug_event_type *ptp_debug_table_get();

// Filter callbacks given to the platform's debug facility.
zerrno ptp_debug_parse_cb_fn(uint32_t op, debug_facility_ref_type *ref, void *context);
bool ptp_debug_filter_match_cb_fn(const void *params, const void *filter);

// Opens every buffer of the table in order, stopping at the first failure (INIT_FAILED
// "Failed to initialize jotlog: "), which closes the buffers opened before it again.
zerrno ptp_jotlog_init(ptp_jotlog_buffer_type *table, uint32_t count);
// Closes every open buffer of the table and forgets its handle.
void ptp_jotlog_close(ptp_jotlog_buffer_type *table, uint32_t count);

// The library's own reporting context (allocation failures): the two trace buffers it writes to
// and its debug area on the table. Set once by main before other threads run.
void ptp_utils_debug_init(jotlog_handle_type first, jotlog_handle_type second, uint32_t area, debug_event_type *table);

// Publishes the process's detail, summary and unique-event buffers (the first three rows of its
// buffer table, in that order) to the shared code.
inline constexpr uint32_t PTP_JOTLOG_CTX_DET = 0;
inline constexpr uint32_t PTP_JOTLOG_CTX_SUM = 1;
inline constexpr uint32_t PTP_JOTLOG_CTX_UNQ = 2;
inline constexpr uint32_t PTP_JOTLOG_CTX_ROWS = 3;
void ptp_jotlog_ctx_set(ptp_jotlog_buffer_type det, ptp_jotlog_buffer_type sum, ptp_jotlog_buffer_type unq);
// A published row (PTP_JOTLOG_CTX_*); a zeroed row before publication or for another index.
ptp_jotlog_buffer_type ptp_jotlog_ctx_get(uint32_t row);
jotlog_handle_type ptp_jotlog_ctx_handle(uint32_t row);
