// Cost of one received Announce, from message bytes to an updated, ranked foreign-master set,
// on 2000 ports with 1 to 64 foreign masters each. The same runs on 8 ports keep every record in
// cache, which separates the cost of the algorithm from the cost of reaching 2000 ports' records.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "tessel_fsm_announce.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_rx_test_fake.h"
#include "tessel_fsm_types.h"

namespace {

constexpr uint64_t LOCAL_ID = 0x0011223344556677ull;

std::vector<uint8_t> announce(uint64_t gm, uint8_t clock_class, uint16_t source_port)
{
    std::vector<uint8_t> b(64, 0);
    b[0] = PTP_MSG_ANNOUNCE;
    b[1] = 2;
    b[3] = 64;
    for (int i = 0; i < 8; i++) {
        b[20 + i] = static_cast<uint8_t>(gm >> (56 - 8 * i));
        b[53 + i] = static_cast<uint8_t>(gm >> (56 - 8 * i));
    }
    b[28] = static_cast<uint8_t>(source_port >> 8);
    b[29] = static_cast<uint8_t>(source_port);
    b[47] = 128;
    b[48] = clock_class;
    b[49] = 0x21;
    b[50] = 0x4E;
    b[51] = 0x5D;
    b[52] = 128;
    b[62] = 1;
    return b;
}

struct fixture {
    std::vector<tessel_proto_idb_type *> ports;
    std::vector<ptp_address_type> addrs;
    std::vector<std::vector<uint8_t>> msgs[2]; // per master: two clock-class variants

    fixture(size_t masters, size_t port_count)
    {
        rx_fake_reset();
        rx_fake.local_clock = {LOCAL_ID, 0};
        for (size_t m = 0; m < masters; m++) {
            ptp_address_type a{};
            a.encap = PTP_ENCAP_ETHERNET;
            a.value[0] = 0x02;
            a.value[4] = static_cast<uint8_t>(m >> 8);
            a.value[5] = static_cast<uint8_t>(m);
            addrs.push_back(a);
            // Classes 6/7 and 13/14 alternate, so that a changed clock moves the master.
            msgs[0].push_back(announce(0x1000 + m, m % 2 ? 13 : 6, static_cast<uint16_t>(m + 1)));
            msgs[1].push_back(announce(0x1000 + m, m % 2 ? 14 : 7, static_cast<uint16_t>(m + 1)));
        }
        for (size_t p = 0; p < port_count; p++) {
            void *mem = ::operator new(sizeof(tessel_proto_idb_type));
            std::memset(mem, 0, sizeof(tessel_proto_idb_type));
            auto *port = static_cast<tessel_proto_idb_type *>(mem);
            port->header.ifhandle = static_cast<ifhtype>(p + 1);
            port->port_num = 1;
            port->config.encap = PTP_ENCAP_ETHERNET;
            port->config.announce_timeout = 3;
            port->fsm.PortState = PTP_PORT_STATE_SLAVE;
            port->fsm.is_listening = 1;
            ptp_fsm_proto_foreign_master_tree_init(port);
            for (int round = 0; round < 2; round++) {
                for (size_t m = 0; m < masters; m++) {
                    ptp_fsm_proto_packet_in(port, msgs[0][m].data(), 64, nullptr, &addrs[m], nullptr);
                }
            }
            ptp_fsm_announce_timer_tick(port); // qualifies and ranks every master
            ports.push_back(port);
        }
    }
    ~fixture()
    {
        for (tessel_proto_idb_type *port : ports) {
            ptp_fsm_proto_foreign_master_tree_destroy(port);
            ::operator delete(port);
        }
    }
};

// Steady state: every Announce repeats its master's clock (no re-rank).
void BM_AnnounceRx(benchmark::State &state)
{
    const size_t masters = static_cast<size_t>(state.range(0));
    const size_t port_count = static_cast<size_t>(state.range(1));
    fixture f(masters, port_count);
    size_t i = 0;
    for (auto _ : state) {
        const size_t p = i % port_count;
        const size_t m = (i / port_count) % masters;
        ptp_fsm_proto_packet_in(f.ports[p], f.msgs[0][m].data(), 64, nullptr, &f.addrs[m], nullptr);
        i++;
    }
    state.SetItemsProcessed(static_cast<int64_t>(i));
}

// Every Announce changes its master's clock, so that it is re-ranked each time.
void BM_AnnounceRxClockChange(benchmark::State &state)
{
    const size_t masters = static_cast<size_t>(state.range(0));
    const size_t port_count = static_cast<size_t>(state.range(1));
    fixture f(masters, port_count);
    size_t i = 0;
    for (auto _ : state) {
        const size_t p = i % port_count;
        const size_t round = i / port_count;
        const size_t m = round % masters;
        const size_t variant = (round / masters + 1) % 2;
        ptp_fsm_proto_packet_in(f.ports[p], f.msgs[variant][m].data(), 64, nullptr, &f.addrs[m], nullptr);
        i++;
    }
    state.SetItemsProcessed(static_cast<int64_t>(i));
}

} // namespace

BENCHMARK(BM_AnnounceRx)->ArgsProduct({benchmark::CreateRange(1, 64, 2), {2000, 8}});
BENCHMARK(BM_AnnounceRxClockChange)->ArgsProduct({benchmark::CreateRange(1, 64, 2), {2000, 8}});
