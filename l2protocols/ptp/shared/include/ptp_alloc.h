// Allocation helpers of every PTP process and the common report of a failed allocation.
#pragma once

#include <cstddef>

// Reports a failed allocation of size bytes for `what`: syslog MEM_ALLOC, a debug line on the
// library's area when it is on, and a trace record in the library's two trace buffers (or, in a
// process that did not set them, its published unique-event and detail buffers). Stops nothing:
// the caller gives up the operation.
void ptp_alloc_failure_report(size_t size, const char *what);

// Zeroed allocation of count * size bytes on behalf of `caller` (the caller's address, kept for
// leak reports). Null for a count of 0, and on failure, which the caller reports.
void *ptp_calloc_pc(size_t count, size_t size, const void *caller);

// Duplicates a text; on failure reports (length + 1, what) and returns null. Null for null.
char *ptp_strdup(const char *text, const char *what);
