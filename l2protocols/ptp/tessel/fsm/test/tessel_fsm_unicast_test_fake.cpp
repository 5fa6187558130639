// Recording fakes of the modules unicast negotiation calls and this test does not exercise
// (packet transmit, adjacency, FIB, peer indices, checkpoint, offload sessions, port manager,
// counters). They are weak so that a module's real definition, once linked, takes precedence.
//
// The protocol thread's managed timers live with the protocol-thread library, which this
// library's tests cannot link; the stand-in below runs leaves the same way (one tree on an
// asynchronous event, each leaf's handler in additional context slot 0, stopped before its
// handler runs) so that the grant timers fire on virtual time.
#include "tessel_fsm_unicast_test_fake.h"

#include <cerrno>

#include "mgd_timer.h"
#include "ptp_zerr_codes.h"
#include "tessel_fsm.h"
#include "tessel_fsm_deps.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_types.h"
#include "tessel_fsm_unicast_deps.h"
#include "tessel_stats.h"

#define FAKE __attribute__((weak))

uc_fake_state_type uc_fake;

void uc_fake_reset()
{
    uc_fake = uc_fake_state_type{};
}

namespace {
void rec(const std::string &what)
{
    if (uc_fake.record_calls) {
        uc_fake.calls.push_back(what);
    }
}

mgd_timer_tree *tree = nullptr;
event_async_ctx_type tree_event{};

int process_expired(const event_async_ctx_type *, int32_t, void *)
{
    while (tree != nullptr) {
        mgd_timer_leaf *leaf = mgd_timer_tree_first_expired(tree);
        if (leaf == nullptr) {
            break;
        }
        mgd_timer_leaf_stop(leaf);
        auto handler = reinterpret_cast<tessel_mgd_timer_handler_fn_type>(mgd_timer_leaf_get_addl_context(leaf, 0));
        handler(mgd_timer_leaf_get_context(leaf));
    }
    return 0;
}
} // namespace

void uc_fake_timers_start(event_mgr_type *evm)
{
    event_async_attach_event(evm, 128, process_expired, nullptr, &tree_event);
    tree = mgd_timer_tree_new(&tree_event, 1);
}

void uc_fake_timers_stop()
{
    if (tree != nullptr) {
        mgd_timer_tree_free(tree);
        tree = nullptr;
    }
    event_async_attach(tree_event.evm, tree_event.code, nullptr, nullptr);
}

// ---- Managed timers ----
FAKE zerrno tessel_mgd_timer_parent_new(mgd_timer_parent *parent, const char *, mgd_timer_parent **out)
{
    *out = mgd_timer_parent_new(tree, parent);
    return *out != nullptr ? 0 : PTP_ZERR_MGD_TIMER;
}
FAKE void tessel_mgd_timer_parent_free(mgd_timer_parent *parent)
{
    mgd_timer_parent_free(parent);
}
FAKE zerrno tessel_mgd_timer_leaf_new(mgd_timer_parent *parent, tessel_mgd_timer_handler_fn_type handler, void *context,
                                      const char *, mgd_timer_leaf **out)
{
    *out = mgd_timer_leaf_new(tree, parent, 0, context);
    if (*out == nullptr) {
        return PTP_ZERR_MGD_TIMER;
    }
    mgd_timer_leaf_set_addl_context(*out, 0, reinterpret_cast<void *>(handler));
    return 0;
}
FAKE void tessel_mgd_timer_leaf_free(mgd_timer_leaf *leaf)
{
    mgd_timer_leaf_free(leaf);
}

// ---- Packet transmit, adjacency, FIB, peer indices, checkpoint ----
FAKE zerrno tessel_packet_send(tessel_proto_idb_type *, const uint8_t *msg, uint16_t msg_len, int,
                               const ptp_address_type *dst, const ptp_address_type *,
                               const tessel_packet_ts_data_type *, const ptp_adjacency_type *adj,
                               const tessel_fib_update_type *)
{
    if (uc_fake.send_result == 0 && uc_fake.record_sent) {
        uc_sent_type s{std::vector<uint8_t>(msg, msg + msg_len), dst != nullptr ? *dst : ptp_address_type{},
                       adj != nullptr ? adj->rewrite_str_len : uint16_t{0}};
        uc_fake.sent.push_back(std::move(s));
    }
    return uc_fake.send_result;
}
FAKE void tessel_adjacency_get(ifhtype, const ptp_address_type *, ptp_adjacency_type *out)
{
    *out = ptp_adjacency_type{};
    rec("adjacency_get");
}
FAKE void tessel_adjacency_unicast_peer_request(ptp_fsm_peer_entry_type *)
{
    rec("adjacency_request");
}
FAKE void tessel_adjacency_foreign_master_request(ptp_fsm_foreign_master_type *) {}
FAKE void tessel_fib_unicast_peer_unregister(ptp_fsm_peer_entry_type *)
{
    rec("fib_unregister");
}
FAKE void tessel_fib_foreign_master_unregister(ptp_fsm_foreign_master_type *) {}
FAKE void tessel_fib_pulse(void)
{
    rec("fib_pulse");
}
FAKE void tessel_fib_idb_unregister(tessel_proto_idb_type *) {}
FAKE zerrno tessel_peer_index_acquire(tessel_proto_idb_type *, const ptp_address_type *)
{
    rec("peer_index_acquire");
    return uc_fake.peer_index_result;
}
FAKE void tessel_peer_index_release(tessel_proto_idb_type *, const ptp_address_type *)
{
    rec("peer_index_release");
}
FAKE void tessel_chkpt_unicast_grant_update(ptp_fsm_peer_entry_type *) {}
FAKE void tessel_chkpt_unicast_grant_delete(ptp_fsm_peer_entry_type *)
{
    uc_fake.chkpt_deletes++;
}
FAKE zerrno eth_encap_attr_src_mac_get(const uint8_t *, uint32_t, uint8_t mac[PTP_MAC_ADDR_LEN])
{
    for (size_t i = 0; i < PTP_MAC_ADDR_LEN; i++) {
        mac[i] = static_cast<uint8_t>(0xA0 + i);
    }
    return 0;
}

// ---- Offload sessions ----
FAKE void tessel_offload_if_session_update(tessel_proto_idb_type *) {}
FAKE void tessel_offload_foreign_master_session_update(ptp_fsm_foreign_master_type *)
{
    rec("fm_session");
}
// "peer_session:<last address byte>:<nonneg|neg>": what the session was built from.
FAKE void tessel_offload_unicast_peer_session_update(ptp_fsm_peer_entry_type *peer)
{
    rec("peer_session:" + std::to_string(peer->peer_addr.value[3]) + (peer->is_nonnegotiated ? ":nonneg" : ":neg"));
}
FAKE void tessel_offload_idb_sessions_update(tessel_proto_idb_type *) {}

// ---- Node values ----
FAKE uint32_t tessel_port_mgr_get_profile(void)
{
    return uc_fake.profile;
}
FAKE uint32_t tessel_port_mgr_get_telecom_clock_type(void)
{
    return PTP_TELECOM_CLOCK_T_BC;
}
FAKE uint32_t tessel_issu_get_issu_role(void)
{
    return uc_fake.issu_role;
}
FAKE const tessel_local_clock_type *tessel_port_mgr_get_local_clock(void)
{
    return uc_fake.local_clock_known ? &uc_fake.local_clock : nullptr;
}
FAKE uint8_t tessel_port_mgr_get_min_clock_class(void)
{
    return 255;
}
FAKE uint8_t tessel_cfg_get_fsync_ql_option(void)
{
    return 1;
}
FAKE const ptp_clock_type *tessel_bmc_get_node_bmc(void)
{
    return nullptr;
}
FAKE void tessel_bmc_if_update(tessel_proto_idb_type *) {}

// ---- Counters ----
FAKE void tessel_stats_increment_packet_counter(tessel_proto_idb_type *, const ptp_address_type *,
                                                uint32_t counter_class, uint32_t direction, uint32_t amount)
{
    if (counter_class == TESSEL_PACKET_COUNTER_SIGNALING && direction == TESSEL_PACKET_SENT) {
        uc_fake.sent_signaling += amount;
    }
}
FAKE void tessel_stats_increment_packet_drop_counter(tessel_proto_idb_type *, uint32_t counter_class, uint32_t amount)
{
    if (counter_class == TESSEL_PACKET_COUNTER_SIGNALING) {
        uc_fake.drop_signaling += amount;
    }
}
FAKE void tessel_stats_increment_packet_drop_reason(uint32_t reason, uint32_t amount)
{
    if (reason < 32) {
        uc_fake.drop_reason[reason] += amount;
    }
}
