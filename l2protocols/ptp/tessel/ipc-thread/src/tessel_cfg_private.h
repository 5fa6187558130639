// Helpers shared by the global, profile, table and interoperation configuration modules.
// Private to these modules.
#pragma once

#include <cstdint>
#include <cstring>

#include "bgen_args.h"
#include "nodra.h"
#include "ptp_enums.h"
#include "tessel_cfg.h"
#include "tessel_if_config.h"
#include "zerrno.h"

// ---- Helpers ----
inline bool tessel_cfg_event_is_delete(const nodra_event_info_td *event)
{
    return (event->event & PTP_CFG_EVENT_DELETE) != 0;
}

// The item's new value as a 4-byte number; false when there is none of that size.
inline bool tessel_cfg_event_u32(const nodra_event_info_td *event, uint32_t *value)
{
    if (event->new_data == nullptr || event->new_length < sizeof(uint32_t)) {
        return false;
    }
    std::memcpy(value, event->new_data, sizeof(uint32_t));
    return true;
}

// Writes a handler's failure into its caller's result word (the notify context), when given.
inline void tessel_cfg_result_set(void *context, zerrno rc)
{
    if (context != nullptr) {
        *static_cast<zerrno *>(context) = rc;
    }
}

// The first item of an apply batch writes its trace record: the per-batch state the intake hands
// each apply as its context.
inline bool tessel_cfg_apply_batch_first(void *context)
{
    auto *state = static_cast<uint32_t *>(context);
    if (state == nullptr) {
        return true;
    }
    const bool first = *state == 0;
    *state |= 1;
    return first;
}
