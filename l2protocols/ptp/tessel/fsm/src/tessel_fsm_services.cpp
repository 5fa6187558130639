// The services table of the state machine, and the counted drop of a received message that goes
// through it.
#include "tessel_fsm_services.h"

#include <cstdarg>
#include <cstdio>

#include "tessel_fsm_log.h"
#include "tessel_fsm_rx.h"

namespace {
ptp_fsm_services_type services{};
bool installed = false;

bool all_set(const ptp_fsm_services_type &s)
{
    // Every slot is a function pointer of the same size; a null one is a table left unfinished.
    const auto *slots = reinterpret_cast<const unsigned char *>(&s);
    for (size_t i = 0; i < sizeof(s); i += sizeof(void (*)())) {
        void (*slot)() = nullptr;
        __builtin_memcpy(&slot, slots + i, sizeof(slot));
        if (slot == nullptr) {
            return false;
        }
    }
    return true;
}
} // namespace

void ptp_fsm_services_set(const ptp_fsm_services_type *table)
{
    if (table == nullptr) {
        services = {};
        installed = false;
        return;
    }
    PTP_FSM_ASSERT(all_set(*table));
    services = *table;
    installed = true;
}

const ptp_fsm_services_type &ptp_fsm_svc(void)
{
    PTP_FSM_ASSERT(installed);
    return services;
}

// ---- Counted receive drops ----

void ptp_fsm_proto_rx_drop(tessel_proto_idb_type *port, uint32_t drop_class, uint32_t reason)
{
    ptp_fsm_svc().count_packet_drop(port, drop_class, 1);
    ptp_fsm_svc().count_drop_reason(reason, 1);
}

void ptp_fsm_rx_drop_debug(tessel_proto_idb_type *port, uint32_t area, const char *format, va_list args)
{
    if (!ptp_fsm_debug_on(area)) {
        return;
    }
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    ptp_fsm_debug(area, ptp_fsm_port_ifhandle(port), "%s: %s: [%s]: %s", ptp_fsm_area_label(area),
                  ptp_fsm_port_name(port), ptp_fsm_port_state_name(port), text);
}

void ptp_fsm_rx_drop(tessel_proto_idb_type *port, uint32_t area, uint32_t drop_class, uint32_t reason,
                     const char *format, ...)
{
    va_list args;
    va_start(args, format);
    ptp_fsm_rx_drop_debug(port, area, format, args);
    va_end(args);
    ptp_fsm_proto_rx_drop(port, drop_class, reason);
}
