// The receive path's services table as its tests see it: node values from rx_fake, counters and
// neighbour calls recorded there. Programs that run the real state machine around the receive
// path (interop, benchmark) link this file alone; the receive path's unit test adds the fakes of
// the modules it does not link (tessel_fsm_rx_test_fake_frame.cpp).
#include "tessel_fsm_rx_test_fake.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "tessel_fsm.h"
#include "tessel_fsm_announce.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_services.h"
#include "tessel_fsm_test_services.h"
#include "tessel_fsm_types.h"

rx_fake_state_type rx_fake;

void rx_fake_install_services();

void rx_fake_record(const std::string &what)
{
    rx_fake.calls.push_back(what);
}

namespace {
void rec(const std::string &what)
{
    rx_fake_record(what);
}
} // namespace

void rx_fake_reset()
{
    rx_fake = rx_fake_state_type{};
    rx_fake_install_services();
}

// The services the receive path asks for, answered from rx_fake and recorded.
void rx_fake_install_services()
{
    ptp_fsm_services_type s = ptp_fsm_test_services_quiet();
    s.get_profile = [] { return rx_fake.profile; };
    s.get_issu_role = [] { return rx_fake.issu_role; };
    s.get_local_clock = []() -> const tessel_local_clock_type * {
        return rx_fake.local_clock_known ? &rx_fake.local_clock : nullptr;
    };
    s.get_min_clock_class = [] { return rx_fake.min_clock_class; };
    s.get_fsync_ql_option = [] { return rx_fake.ql_option; };
    s.bmc_if_update = [](tessel_proto_idb_type *) { rec("bmc_if_update"); };
    s.count_packet = [](tessel_proto_idb_type *, const ptp_address_type *, uint32_t counter_class, uint32_t direction,
                        uint32_t amount) {
        if (direction == 1 && counter_class < 11) {
            rx_fake.received_class[counter_class] += amount;
        }
    };
    s.count_packet_drop = [](tessel_proto_idb_type *, uint32_t counter_class, uint32_t amount) {
        if (counter_class < 11) {
            rx_fake.drop_class[counter_class] += amount;
        }
    };
    s.count_drop_reason = [](uint32_t reason, uint32_t amount) {
        if (reason < 32) {
            rx_fake.drop_reason[reason] += amount;
        }
    };
    s.peer_index_acquire = [](tessel_proto_idb_type *, const ptp_address_type *) {
        rec("peer_index_acquire");
        return rx_fake.peer_index_result;
    };
    s.peer_index_release = [](tessel_proto_idb_type *, const ptp_address_type *) { rec("peer_index_release"); };
    s.fib_pulse = [] { rec("fib_pulse"); };
    s.fib_foreign_master_unregister = [](ptp_fsm_foreign_master_type *) { rec("fib_unreg"); };
    s.offload_foreign_master_session_update = [](ptp_fsm_foreign_master_type *) { rec("fm_session"); };
    ptp_fsm_services_set(&s);
}
