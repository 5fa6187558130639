// The services table of the state machine.
#include "tessel_fsm_services.h"

#include "tessel_fsm_log.h"

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
