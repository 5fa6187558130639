// Recording fakes of the offload modules' neighbours that the offload test does not link: the
// port manager's and best-master list's getters, the state machine's grant replies, peer lookup
// and timing records, the per-interface counters, the packet module's receive neighbours.
#include "tessel_offload_test_fake.h"

#include <cstring>

#include "tessel_bmc.h"
#include "tessel_fsm.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_types.h"
#include "tessel_fsm_unicast.h"
#include "tessel_port_mgr.h"
#include "tessel_port_mgr_deps.h"
#include "tessel_stats.h"

offload_fake_state_type offload_fake;

void offload_fake_reset()
{
    offload_fake = offload_fake_state_type{};
}

const tessel_port_mgr_local_clock_type *tessel_port_mgr_get_local_clock(void)
{
    return &offload_fake.local_clock;
}
uint32_t tessel_port_mgr_get_profile(void)
{
    return offload_fake.profile;
}
const ptp_clock_type *tessel_bmc_get_advertised_clock(void)
{
    return &offload_fake.advertised;
}
uint8_t tessel_cfg_get_fsync_ql_option(void)
{
    return 1;
}
void ptp_fsm_send_unicast_grant_reply(tessel_proto_idb_type *, ptp_fsm_peer_entry_type *, uint32_t message_type)
{
    offload_fake.grant_replies.push_back(message_type);
}
ptp_fsm_peer_entry_type *ptp_fsm_unicast_peer_entry_find(tessel_proto_idb_type *, const ptp_address_type *peer)
{
    for (auto *p : offload_fake.peers) {
        if (std::memcmp(&p->peer_addr, peer, sizeof *peer) == 0) {
            return p;
        }
    }
    return nullptr;
}
void ptp_fsm_offload_timestamps_in(ptp_fsm_foreign_master_type *fm, const void *record, void *)
{
    tessel_offload_timing_record_type r{};
    std::memcpy(&r, record, sizeof r);
    offload_fake.timings.push_back({fm, r});
}
void tessel_stats_increment_packet_counter(tessel_proto_idb_type *idb, const ptp_address_type *peer,
                                           uint32_t counter_class, uint32_t direction, uint32_t amount)
{
    if (amount != 0) {
        offload_fake.counts.push_back({idb->header.ifhandle, *peer, counter_class, direction, amount});
    }
}
void tessel_stats_increment_packet_drop_counter(tessel_proto_idb_type *idb, uint32_t counter_class, uint32_t amount)
{
    if (amount != 0) {
        offload_fake.counts.push_back({idb->header.ifhandle, {}, counter_class, 99, amount});
    }
}

// The packet module's receive neighbours.
void ptp_fsm_proto_decoded_packet_in(tessel_proto_idb_type *, const ptp_msg_hdr_fields_type &, const uint8_t *, size_t,
                                     const uint8_t *, const ptp_address_type *, const ptp_address_type *)
{
}
void ptp_fsm_proto_returned_timestamp_in(uint32_t, uint32_t, const void *) {}
void tessel_port_mgr_spio_attach_event(tessel_proto_idb_type *) {}
