// Cost of one ptp_clock_compare per clock-selection mode: on the receive path of every
// Announce. Two workloads: a mix of record pairs that differ at random steps of the order, and
// equal records, which walk every step.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "ptp_clock.h"

namespace {

ptp_clock_type base()
{
    ptp_clock_type c{};
    c.clock_id = 0x0011223344556677ull;
    c.priority1 = 128;
    c.clock_class = 165;
    c.accuracy = 0x21;
    c.offset_log_variance = 0x4E5D;
    c.priority2 = 128;
    c.steps_removed = 2;
    c.sender = {0x0A0B0C0D0E0F1011ull, 1};
    c.receiver = {0x1111111111111111ull, 3};
    c.configured_priority = 128;
    return c;
}

// Pairs that differ in one field chosen at random, so every step of the order gets its turn.
std::vector<std::pair<ptp_clock_type, ptp_clock_type>> mixed_pairs()
{
    std::mt19937 rng(1588);
    std::vector<std::pair<ptp_clock_type, ptp_clock_type>> pairs(1024);
    for (auto &[a, b] : pairs) {
        a = base();
        b = base();
        switch (rng() % 10) {
        case 0: b.configured_priority = static_cast<uint8_t>(rng()); break;
        case 1: b.priority1 = static_cast<uint8_t>(rng()); break;
        case 2: b.clock_class = static_cast<uint8_t>(rng()); break;
        case 3: b.accuracy = static_cast<uint8_t>(rng()); break;
        case 4: b.offset_log_variance = static_cast<uint16_t>(rng()); break;
        case 5: b.priority2 = static_cast<uint8_t>(rng()); break;
        case 6: b.clock_id = rng(); break;
        case 7: b.steps_removed = static_cast<uint16_t>(rng() % 5); break;
        case 8: b.sender.clock_id = rng(); break;
        default: b.receiver.port_num = static_cast<uint16_t>(rng()); break;
        }
    }
    return pairs;
}

void BM_ClockCompareMixed(benchmark::State &state)
{
    const auto mode = static_cast<uint32_t>(state.range(0));
    const auto pairs = mixed_pairs();
    size_t i = 0;
    for (auto _ : state) {
        const auto &p = pairs[i++ & (pairs.size() - 1)];
        int topo = 0;
        benchmark::DoNotOptimize(ptp_clock_compare(mode, &p.first, &p.second, &topo));
        benchmark::DoNotOptimize(topo);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_ClockCompareEqual(benchmark::State &state)
{
    const auto mode = static_cast<uint32_t>(state.range(0));
    const ptp_clock_type a = base();
    const ptp_clock_type b = base();
    for (auto _ : state) {
        int topo = 0;
        benchmark::DoNotOptimize(ptp_clock_compare(mode, &a, &b, &topo));
        benchmark::DoNotOptimize(topo);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

} // namespace

BENCHMARK(BM_ClockCompareMixed)->DenseRange(0, 3)->ArgName("mode");
BENCHMARK(BM_ClockCompareEqual)->DenseRange(0, 3)->ArgName("mode");
