// Feeds arbitrary bytes to the receive dispatch of one port. The first byte picks the node's
// clock profile, the port state and whether the port has interoperation configuration; then
// each record is a 2-byte length and that many message bytes (in a buffer of exactly that
// size), optionally followed by an announce tick.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "tessel_fsm_announce.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_rx_test_fake.h"
#include "tessel_fsm_types.h"
#include "tessel_interop_config.h"

namespace {

constexpr uint64_t LOCAL_ID = 0x0011223344556677ull;

ptp_address_type source(uint8_t which)
{
    ptp_address_type a{};
    a.encap = PTP_ENCAP_ETHERNET;
    a.value[0] = 0x02;
    a.value[5] = which & 0x07;
    return a;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    rx_fake_reset();
    rx_fake.local_clock = {LOCAL_ID, 0};
    rx_fake.profile = data[0] & 0x03;
    rx_fake.min_clock_class = (data[0] & 0x40) ? 128 : 255;

    void *mem = ::operator new(sizeof(tessel_proto_idb_type));
    std::memset(mem, 0, sizeof(tessel_proto_idb_type));
    auto *port = static_cast<tessel_proto_idb_type *>(mem);
    port->port_num = 2;
    port->config.encap = PTP_ENCAP_ETHERNET;
    port->config.announce_timeout = 3;
    port->fsm.PortState = (data[0] >> 2) & 0x07;
    port->fsm.is_listening = 1;
    ptp_fsm_proto_foreign_master_tree_init(port);

    auto interop = std::make_unique<tessel_interop_config_type>();
    std::memset(interop.get(), 0, sizeof(*interop));
    if (data[0] & 0x20) {
        interop->presence = TESSEL_INTEROP_PROFILE | TESSEL_INTEROP_INGRESS_CLOCK_CLASS_MAPPING;
        interop->profile = (data[0] + 1) & 0x03;
        interop->ingress.clock_class_mapping[6] = {1, 255};
        port->config.interop_cfg = interop.get();
    }

    size_t pos = 1;
    while (pos + 3 <= size) {
        const uint8_t ctl = data[pos];
        size_t len = size_t{data[pos + 1]} << 8 | data[pos + 2];
        pos += 3;
        if (len > size - pos) {
            len = size - pos;
        }
        // Exactly the bytes received, so that any read past them is caught.
        std::vector<uint8_t> msg(data + pos, data + pos + len);
        pos += len;
        const ptp_address_type src = source(ctl);
        const ptp_address_type dst = source(ctl >> 3);
        ptp_fsm_proto_packet_in(port, msg.empty() ? nullptr : msg.data(), msg.size(), nullptr,
                                (ctl & 0x40) ? nullptr : &src, (ctl & 0x80) ? &dst : nullptr);
        if ((ctl & 0x30) == 0x30 && port->fsm.is_listening) {
            ptp_fsm_announce_timer_tick(port);
        }
    }

    ptp_fsm_proto_foreign_master_tree_destroy(port);
    ::operator delete(port);
    return 0;
}
