// Debug lines and trace records of the state-machine modules, on the agent's debug areas and
// trace buffers.

#include "tessel_fsm_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "ptp_debug.h"
#include "ptp_strings.h"
#include "tessel_assert.h"
#include "tessel_fsm.h"
#include "tessel_fsm_types.h"

namespace {

jotlog_handle_type packet_trace_handle = nullptr;

} // namespace

void ptp_fsm_packet_trace_set(jotlog_handle_type handle)
{
    packet_trace_handle = handle;
}

const char *ptp_fsm_area_label(uint32_t area)
{
    return ptp_debug_area_label(area);
}

bool ptp_fsm_debug_on(uint32_t area)
{
    return ptp_debug_enabled(ptp_debug_table_get(), area);
}

void ptp_fsm_debug(uint32_t area, ifhtype ifhandle, const char *format, ...)
{
    debug_event_type *table = ptp_debug_table_get();
    if (!ptp_debug_enabled(table, area)) {
        return;
    }
    va_list args;
    va_start(args, format);
    ptp_debug_vprint(area, ifhandle, PTP_DEBUG_LEVEL_SUPPORT, table, format, args);
    va_end(args);
}

void ptp_fsm_trace_args(uint32_t buffers, uint64_t id, const uint64_t *args, uint32_t count)
{
    ptp_fsm_trace_args_text(buffers, id, 0, args, count);
}

void ptp_fsm_trace_args_text(uint32_t buffers, uint64_t id, uint32_t text_mask, const uint64_t *args, uint32_t count)
{
    const struct {
        uint32_t bit;
        jotlog_handle_type handle;
    } targets[] = {
        {PTP_FSM_TRACE_DET, ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_DET)},
        {PTP_FSM_TRACE_SUM, ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_SUM)},
        {PTP_FSM_TRACE_UNQ, ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_UNQ)},
        {PTP_FSM_TRACE_PKT, packet_trace_handle},
    };
    for (const auto &t : targets) {
        if ((buffers & t.bit) != 0 && t.handle != nullptr) {
            _jotlog(t.handle, id, text_mask, args, count);
        }
    }
}

void ptp_fsm_internal_error(const char *what, const char *file, int line)
{
    tessel_internal_error(what, file, line);
}

const char *ptp_fsm_port_name(const tessel_proto_idb_type *port)
{
    return port->header.ifname;
}

const char *ptp_fsm_port_state_name(const tessel_proto_idb_type *port)
{
    return ptp_port_state_to_str(port->fsm.PortState);
}

ifhtype ptp_fsm_port_ifhandle(const tessel_proto_idb_type *port)
{
    return port->header.ifhandle;
}
