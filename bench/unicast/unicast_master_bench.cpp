// Cost of one Unicast-Request on a master port serving 2500 unicast peers: a new peer's
// request (entry, grant timer, offload hook, then the deferred Grant once the session applies
// it) and a renewal at the same interval (answered at once). Also reports the heap held per
// peer.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstring>
#include <vector>

#include "evm.h"
#include "plat_clock_test.h"
#include "tessel_fsm.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_types.h"
#include "tessel_fsm_unicast.h"
#include "tessel_fsm_unicast_test_fake.h"

namespace {

constexpr uint32_t PEERS = PTP_FSM_UNICAST_MAX_PEERS;

std::vector<uint8_t> sync_request(uint64_t clock)
{
    std::vector<uint8_t> m(54, 0);
    m[0] = 0x0C;
    m[1] = 2;
    m[3] = 54;
    for (int i = 0; i < 8; i++) {
        m[20 + i] = static_cast<uint8_t>(clock >> (56 - 8 * i));
    }
    m[29] = 1;
    for (int i = 34; i < 44; i++) {
        m[i] = 0xFF;
    }
    const uint8_t tlv[10] = {0x00, 0x04, 0x00, 0x06, 0x00, 0xFC, 0x00, 0x00, 0x01, 0x2C};
    std::memcpy(m.data() + 44, tlv, sizeof tlv);
    return m;
}

struct fixture {
    event_mgr_type *evm = nullptr;
    tessel_proto_idb_type *port = nullptr;
    std::vector<ptp_address_type> addrs;
    std::vector<ptp_port_id_type> ids;
    std::vector<std::vector<uint8_t>> msgs;
    ptp_address_type local{};

    fixture()
    {
        plat_clock_use_virtual();
        evm = event_create_manager(nullptr, nullptr, 0);
        uc_fake_timers_start(evm);
        uc_fake_reset();
        uc_fake.record_calls = false;
        uc_fake.record_sent = false;
        ptp_fsm_module_init(nullptr);
        port = static_cast<tessel_proto_idb_type *>(::operator new(sizeof(tessel_proto_idb_type)));
        std::memset(static_cast<void *>(port), 0, sizeof(tessel_proto_idb_type));
        std::strcpy(port->header.ifname, "Gi0/0/0/1");
        port->header.ifhandle = 0x100;
        port->port_num = 1;
        port->config.encap = PTP_ENCAP_IPV4;
        port->config.sync_interval = -4;
        port->config.delay_req_interval = -4;
        port->config.announce_grant_duration = 300;
        port->config.sync_grant_duration = 300;
        port->config.delay_resp_grant_duration = 300;
        port->fsm.PortState = PTP_PORT_STATE_MASTER;
        ptp_fsm_unicast_port_init(port);
        ptp_fsm_proto_foreign_master_tree_init(port);
        ptp_fsm_unicast_allow_grants(port);
        local.encap = PTP_ENCAP_IPV4;
        local.value[0] = 10;
        local.value[3] = 1;
        for (uint32_t i = 0; i < PEERS; i++) {
            ptp_address_type a{};
            a.encap = PTP_ENCAP_IPV4;
            a.value[0] = 10;
            a.value[1] = static_cast<uint8_t>(i >> 8);
            a.value[2] = static_cast<uint8_t>(i);
            a.value[3] = 2;
            addrs.push_back(a);
            ids.push_back({0x1000 + i, 1});
            msgs.push_back(sync_request(0x1000 + i));
        }
    }

    void request(uint32_t i)
    {
        ptp_fsm_unicast_handle_request_tlvs(port, &addrs[i], &local, msgs[i].data(), msgs[i].size(), &ids[i]);
    }
    // The offload session applies the interval: the deferred Grant goes out.
    void confirm(uint32_t i)
    {
        ptp_fsm_peer_entry_type *e = ptp_fsm_unicast_peer_entry_find(port, &addrs[i]);
        e->grant[PTP_FSM_PEER_GRANT_SYNC].app_log_interval = e->grant[PTP_FSM_PEER_GRANT_SYNC].log_interval;
        ptp_fsm_send_unicast_grant_reply(port, e, PTP_MSG_SYNC);
    }
};

fixture &fx()
{
    static fixture f;
    return f;
}

void BM_NewPeerRequestAndGrant(benchmark::State &state)
{
    fixture &f = fx();
    for (auto _ : state) {
        for (uint32_t i = 0; i < PEERS; i++) {
            f.request(i);
            f.confirm(i);
        }
        state.PauseTiming();
        ptp_fsm_unicast_delete_all_peers(f.port);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * PEERS);
}
BENCHMARK(BM_NewPeerRequestAndGrant)->Unit(benchmark::kMicrosecond);

void BM_RenewalOf2500Peers(benchmark::State &state)
{
    fixture &f = fx();
    for (uint32_t i = 0; i < PEERS; i++) {
        f.request(i);
        f.confirm(i);
    }
    for (auto _ : state) {
        for (uint32_t i = 0; i < PEERS; i++) {
            f.request(i);
        }
    }
    state.SetItemsProcessed(state.iterations() * PEERS);
    ptp_fsm_unicast_delete_all_peers(f.port);
}
BENCHMARK(BM_RenewalOf2500Peers)->Unit(benchmark::kMicrosecond);

// Heap held by 2500 granted peers (entry, its three grant timers and their running Sync timer),
// per peer, as a counter.
void BM_HeapPerPeer(benchmark::State &state)
{
    fixture &f = fx();
    double per_peer = 0;
    for (auto _ : state) {
        const size_t before = mallinfo2().uordblks;
        for (uint32_t i = 0; i < PEERS; i++) {
            f.request(i);
            f.confirm(i);
        }
        const size_t after = mallinfo2().uordblks;
        per_peer = static_cast<double>(after - before) / PEERS;
        state.PauseTiming();
        ptp_fsm_unicast_delete_all_peers(f.port);
        state.ResumeTiming();
    }
    state.counters["bytes_per_peer"] = per_peer;
    state.counters["entry_bytes"] = sizeof(ptp_fsm_peer_entry_type);
}
BENCHMARK(BM_HeapPerPeer)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
