// The reporting contexts of the library's modules (internal): which trace buffers and debug area
// a module reports its own failures to. Each is written once by the process's main; a closed
// trace buffer is forgotten by every context that held it (ptp_report_ctx_forget), so that no
// report writes to a closed buffer.
#pragma once

#include <atomic>
#include <cstdint>

#include "jotlog.h"
#include "plat_debug.h"

struct ptp_report_ctx_type {
    std::atomic<jotlog_handle_type> first{nullptr};
    std::atomic<jotlog_handle_type> second{nullptr};
    std::atomic<uint32_t> area{0};
    std::atomic<debug_event_type *> table{nullptr};
};

// Allocation reports (ptp_utils_debug_init) and the timer wrapper (ptp_timer_init).
ptp_report_ctx_type &ptp_report_ctx_utils();
ptp_report_ctx_type &ptp_report_ctx_timer();

void ptp_report_ctx_forget(jotlog_handle_type handle);
