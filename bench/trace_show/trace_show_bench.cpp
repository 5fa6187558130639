// The trace display tool over the buffers of several processes: records decoded and printed a
// second (to /dev/null), merged by time. Four full buffers of 65536 records each, their records
// interleaved in time: the agent's detail buffer (interface and port-state leads, numbers), its
// packet trace (addresses), the controller's (texts and error texts) and the global process's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "jotlog.h"
#include "jotlog_test.h"
#include "plat_clock_test.h"
#include "ptp_show_jotlog.h"
#include "ptp_trace_points.h"

namespace {

constexpr uint32_t RECORDS = 65536;

struct buffers {
    std::string dir;
    buffers()
    {
        dir = jotlog_test_run_dir_create("ptp-trace-show-bench");
        plat_clock_use_virtual();
        jotlog_handle_type det = nullptr, pkt = nullptr, quorrin = nullptr, sardo = nullptr;
        jotlog_init2("ptp/tessel/det", 0, 0, RECORDS, 1 << 20, 0, &det);
        jotlog_init2("ptp/tessel/pkt", 0, 0, RECORDS, 1 << 20, 0, &pkt);
        jotlog_init2("ptp/quorrin/det", 0, 0, RECORDS, 1 << 20, 0, &quorrin);
        jotlog_init2("ptp/sardo/det", 0, 0, RECORDS, 1 << 20, 0, &sardo);
        for (uint32_t i = 0; i < RECORDS; ++i) {
            ptp_trace<PTP_TRACE_TESSEL_FSM_STATE_CHANGE>({det}, 0x01000100u, 6u, 9u);
            plat_clock_advance_ns(250);
            ptp_trace_address<PTP_TRACE_TESSEL_PKT_DUMP>({pkt}, 0x01000100u, i & 1u, 90u, uint64_t{0xc0000201},
                                                         uint64_t{0}, 2u);
            plat_clock_advance_ns(250);
            ptp_trace<PTP_TRACE_UTIL_ALLOC_FAILED>({quorrin}, i, "unicast grant");
            plat_clock_advance_ns(250);
            ptp_trace<PTP_TRACE_SARDO_MAIN_INIT_EOI>({sardo});
            plat_clock_advance_ns(250);
        }
        for (jotlog_handle_type h : {det, pkt, quorrin, sardo})
            jotlog_close(h);
        plat_clock_use_real();
    }
    ~buffers() { jotlog_test_run_dir_remove(dir); }
};

void BM_ShowJotlogMerged(benchmark::State &state)
{
    static buffers b;
    FILE *null = std::fopen("/dev/null", "w");
    jotlog_show_set_output(null);
    char arg0[] = "ptp_show_jotlog";
    char *argv[] = {arg0, nullptr};
    for (auto _ : state)
        benchmark::DoNotOptimize(ptp_show_jotlog_main(1, argv));
    jotlog_show_set_output(nullptr);
    std::fclose(null);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 4 * RECORDS);
}
BENCHMARK(BM_ShowJotlogMerged)->Unit(benchmark::kMillisecond);

} // namespace
