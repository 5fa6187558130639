// Allocation helpers and the common allocation-failure report.
#include "ptp_alloc.h"

#include <cstdlib>
#include <cstring>

#include "ptp_debug.h"
#include "ptp_report_ctx.h"
#include "ptp_syslog.h"
#include "ptp_trace_points.h"

void ptp_alloc_failure_report(size_t size, const char *what)
{
    if (what == nullptr)
        what = "";
    ptp_syslog_mem_alloc(static_cast<unsigned int>(size), what);

    ptp_report_ctx_type &ctx = ptp_report_ctx_utils();
    const debug_event_type *table = ctx.table.load();
    const uint32_t area = ctx.area.load();
    if (ptp_debug_enabled(table, area))
        ptp_debug_print(area, 0, PTP_DEBUG_LEVEL_ERROR, table, "%s: [ERROR] Failed to allocate %lu bytes for '%s'",
                        ptp_debug_area_label(area), static_cast<unsigned long>(size), what);

    jotlog_handle_type first = ctx.first.load();
    jotlog_handle_type second = ctx.second.load();
    if (first == nullptr && second == nullptr) {
        // A process that set no library context reports to the buffers it published.
        first = ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_UNQ);
        second = ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_DET);
    }
    ptp_trace<PTP_TRACE_UTIL_ALLOC_FAILED>({first, second}, static_cast<uint64_t>(size), what);
}

void *ptp_calloc_pc(size_t count, size_t size, const void *caller)
{
    // The platform keeps no per-caller allocation records here; the address is accepted so
    // that callers stay unchanged where it does.
    (void)caller;
    if (count == 0)
        return nullptr;
    return calloc(count, size);
}

char *ptp_strdup(const char *text, const char *what)
{
    if (text == nullptr)
        return nullptr;
    size_t len = strlen(text);
    auto *copy = static_cast<char *>(malloc(len + 1));
    if (copy == nullptr) {
        ptp_alloc_failure_report(len + 1, what);
        return nullptr;
    }
    memcpy(copy, text, len + 1);
    return copy;
}
