// The agent's trace buffers, in the order its entry opens them. The first three rows are the
// detail, summary and unique-event buffers that it publishes to the shared code
// (ptp_jotlog_ctx_set takes them in that order). A user copies the rows it opens: opening writes
// the handle into the row.
#pragma once

#include <cstdint>
#include <iterator>

#include "ptp_debug.h"

// Rows of tessel_trace_buffers.
enum tessel_trace_buffer_row : uint32_t {
    TESSEL_TRACE_BUFFER_DET = 0,
    TESSEL_TRACE_BUFFER_SUM = 1,
    TESSEL_TRACE_BUFFER_UNQ = 2,
    TESSEL_TRACE_BUFFER_PKT = 3,
};

// {name, {ring records, ring text bytes, start records, start text bytes}, handle}.
inline constexpr ptp_jotlog_buffer_type tessel_trace_buffers[] = {
    {"ptp/tessel/det", {1024, 8192, 0, 0}, nullptr},
    {"ptp/tessel/sum", {1024, 8192, 0, 0}, nullptr},
    {"ptp/tessel/unq", {1024, 8192, 64, 256}, nullptr},
    {"ptp/tessel/pkt", {1024, 8192, 0, 0}, nullptr},
};

inline constexpr uint32_t TESSEL_TRACE_BUFFER_COUNT = std::size(tessel_trace_buffers);

static_assert(TESSEL_TRACE_BUFFER_DET == PTP_JOTLOG_CTX_DET && TESSEL_TRACE_BUFFER_SUM == PTP_JOTLOG_CTX_SUM &&
              TESSEL_TRACE_BUFFER_UNQ == PTP_JOTLOG_CTX_UNQ);
