// The services table of unicast negotiation's tests: packet transmit, adjacency, FIB, peer
// indices, checkpoint, offload sessions, node values and counters, recorded in uc_fake. The
// managed timers are the real ones, on the test's virtual-time event manager.
#include "tessel_fsm_unicast_test_fake.h"

#include <cerrno>

#include "mgd_timer.h"
#include "ptp_zerr_codes.h"
#include "tessel_fsm.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_services.h"
#include "tessel_fsm_test_services.h"
#include "tessel_fsm_types.h"
#include "tessel_fsm_unicast.h"
#include "tessel_mgd_timer.h"
#include "tessel_stats.h"

uc_fake_state_type uc_fake;

namespace {
void rec(const std::string &what)
{
    if (uc_fake.record_calls) {
        uc_fake.calls.push_back(what);
    }
}

} // namespace

void uc_fake_timers_start(event_mgr_type *evm)
{
    tessel_mgd_timer_init(evm);
}

void uc_fake_timers_stop()
{
    tessel_mgd_timer_shutdown();
}

namespace {
void install_services()
{
    ptp_fsm_services_type s = ptp_fsm_test_services_quiet();
    s.packet_send = [](tessel_proto_idb_type *, const uint8_t *msg, uint16_t msg_len, int, const ptp_address_type *dst,
                       const ptp_address_type *, const tessel_packet_ts_data_type *, const ptp_adjacency_type *adj,
                       const tessel_fib_update_type *) {
        if (uc_fake.send_result == 0 && uc_fake.record_sent) {
            uc_sent_type sent{std::vector<uint8_t>(msg, msg + msg_len), dst != nullptr ? *dst : ptp_address_type{},
                              adj != nullptr ? adj->rewrite_str_len : uint16_t{0}};
            uc_fake.sent.push_back(std::move(sent));
        }
        return uc_fake.send_result;
    };
    s.adjacency_get = [](ifhtype, const ptp_address_type *, ptp_adjacency_type *out) {
        *out = ptp_adjacency_type{};
        rec("adjacency_get");
    };
    s.adjacency_unicast_peer_request = [](ptp_fsm_peer_entry_type *) { rec("adjacency_request"); };
    s.fib_unicast_peer_unregister = [](ptp_fsm_peer_entry_type *) { rec("fib_unregister"); };
    s.fib_pulse = [] { rec("fib_pulse"); };
    s.peer_index_acquire = [](tessel_proto_idb_type *, const ptp_address_type *) {
        rec("peer_index_acquire");
        return uc_fake.peer_index_result;
    };
    s.peer_index_release = [](tessel_proto_idb_type *, const ptp_address_type *) { rec("peer_index_release"); };
    s.chkpt_unicast_grant_delete = [](ptp_fsm_peer_entry_type *) { uc_fake.chkpt_deletes++; };
    s.offload_foreign_master_session_update = [](ptp_fsm_foreign_master_type *) { rec("fm_session"); };
    // "peer_session:<last address byte>:<nonneg|neg>": what the session was built from.
    s.offload_unicast_peer_session_update = [](ptp_fsm_peer_entry_type *peer) {
        rec("peer_session:" + std::to_string(peer->peer_addr.value[3]) + (peer->is_nonnegotiated ? ":nonneg" : ":neg"));
    };
    s.get_profile = [] { return uc_fake.profile; };
    s.get_issu_role = [] { return uc_fake.issu_role; };
    s.get_local_clock = []() -> const tessel_local_clock_type * {
        return uc_fake.local_clock_known ? &uc_fake.local_clock : nullptr;
    };
    s.count_packet = [](tessel_proto_idb_type *, const ptp_address_type *, uint32_t counter_class, uint32_t direction,
                        uint32_t amount) {
        if (counter_class == TESSEL_PACKET_COUNTER_SIGNALING && direction == TESSEL_PACKET_SENT) {
            uc_fake.sent_signaling += amount;
        }
    };
    s.count_packet_drop = [](tessel_proto_idb_type *, uint32_t counter_class, uint32_t amount) {
        if (counter_class == TESSEL_PACKET_COUNTER_SIGNALING) {
            uc_fake.drop_signaling += amount;
        }
    };
    s.count_drop_reason = [](uint32_t reason, uint32_t amount) {
        if (reason < 32) {
            uc_fake.drop_reason[reason] += amount;
        }
    };
    ptp_fsm_services_set(&s);
}
} // namespace

void uc_fake_reset()
{
    uc_fake = uc_fake_state_type{};
    install_services();
}
