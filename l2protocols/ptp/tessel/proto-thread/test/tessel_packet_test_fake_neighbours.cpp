// Recording fakes of the built modules around the packet module, for its unit test only, whose
// program links the packet module alone: the receive dispatch, the counters and the port
// manager's attach event. (The node's drop reasons are the counters module's own.)
#include "tessel_fsm.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_types.h"
#include "tessel_packet_test_fake.h"
#include "tessel_port_mgr.h"
#include "tessel_stats.h"

namespace {
void rec(const std::string &what)
{
    pkt_fake.calls.push_back(what);
}
} // namespace

void ptp_fsm_proto_decoded_packet_in(tessel_proto_idb_type *port, const ptp_msg_hdr_fields_type &, const uint8_t *msg,
                                     size_t len, const uint8_t *timestamp, const ptp_address_type *src,
                                     const ptp_address_type *dst)
{
    pkt_fake_rx_type r{port->header.ifname,  std::vector<uint8_t>(msg, msg + len),
                       timestamp != nullptr, src != nullptr ? *src : ptp_address_type{},
                       dst != nullptr,       dst != nullptr ? *dst : ptp_address_type{}};
    pkt_fake.rx.push_back(r);
}
void ptp_fsm_proto_returned_timestamp_in(uint32_t packet_id, uint32_t, const void *)
{
    pkt_fake.returned_ids.push_back(packet_id);
}
void tessel_stats_increment_packet_drop_counter(tessel_proto_idb_type *, uint32_t counter_class, uint32_t amount)
{
    if (counter_class < 11) {
        pkt_fake.drop_class[counter_class] += amount;
    }
}
void tessel_port_mgr_spio_attach_event(tessel_proto_idb_type *idb)
{
    rec(std::string("attach_event ") + idb->header.ifname + (idb->is_spio_attached != 0 ? " A" : " N"));
}
