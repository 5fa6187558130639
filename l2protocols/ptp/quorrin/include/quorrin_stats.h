// The controller's global event counters.
#pragma once

#include <array>
#include <cstdint>

#include "zerrno.h"

enum quorrin_gl_event_counter_class_type : uint32_t {
    QUORRIN_GL_EVENT_ANNOUNCE_SENT = 0,
    QUORRIN_GL_EVENT_SEND_ERRORS = 1,
    QUORRIN_GL_EVENT_ANNOUNCE_REQUEST_RECEIVED = 2,
    QUORRIN_GL_EVENT_BMC_RECEIVED = 3,
    QUORRIN_GL_EVENT_TIME_RECEIVED = 4,
    QUORRIN_GL_EVENT_TIME_IGNORED = 5,
    QUORRIN_GL_EVENT_UNREG_ENABLE_VRFN = 6,
    QUORRIN_GL_EVENT_UNREG_GLOBAL_VRFN = 7,
    QUORRIN_GL_EVENT_UNBIND_GLOBAL = 8,
    QUORRIN_GL_EVENT_BIND_GLOBAL = 9,
    QUORRIN_GL_EVENT_BIND_GLOBAL_FAILED = 10,
    QUORRIN_GL_EVENT_NOTIFY_BATCH = 11,
    QUORRIN_GL_EVENT_REG_ENABLE_VRFN_FAILED = 12,
    QUORRIN_GL_EVENT_REG_ENABLE_VRFN = 13,
    QUORRIN_GL_EVENT_REG_GLOBAL_VRFN_FAILED = 14,
    QUORRIN_GL_EVENT_REG_GLOBAL_VRFN = 15,
    QUORRIN_GL_EVENT_COUNT = 16
};

// The name each counter is shown under, by index.
inline constexpr std::array<const char *, QUORRIN_GL_EVENT_COUNT> quorrin_gl_event_counter_names = {
    "Announce messages sent",
    "Message send errors",
    "Announce request messages received",
    "BMC messages received",
    "Time messages received",
    "Time messages ignored",
    "Unregistered for global enable verification",
    "Unregistered for global config verification",
    "Unbinded with Nodra for global config",
    "Binded with Nodra for global config",
    "Failed to bind to Nodra for global config",
    "Notify batch received",
    "Failed to register for verification of enable",
    "Registered for verification of enable",
    "Failed to register for verification of global config",
    "Registered for verification of global config",
};

// Counts one event; an index of QUORRIN_GL_EVENT_COUNT or more is refused (PTP_ZERR_INVALID_ARG)
// and counts nothing.
zerrno quorrin_stats_increment_event_counter(uint32_t index);
void quorrin_stats_clear_event_counters(void);
// The QUORRIN_GL_EVENT_COUNT counters, by index.
const uint32_t *quorrin_stats_get_event_counters(void);
