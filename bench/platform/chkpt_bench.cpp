// The checkpoint store's cost per write, as the daemon pays it for each of its clients' blocking
// calls: N records of a bounded table created and then saved (a line card's port records), on a
// store file of its own.

#include "chkpt.h"
#include "chkpt_test.h"
#include "evm.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <array>
#include <string>

namespace {

void BM_ChkptCreateAndSave(benchmark::State &state)
{
    const auto n = static_cast<uint32_t>(state.range(0));
    const std::string path = "/tmp/chkpt_bench." + std::to_string(getpid()) + ".db";
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    std::array<uint8_t, 200> record{};
    uint32_t table_id = 1;
    for (auto _ : state) {
        state.PauseTiming();
        chkpt_test_reset(path.c_str());
        chkpt_appdesc_type app;
        chkpt_appdesc_init(&app);
        snprintf(app.name, sizeof app.name, "bench");
        chkpt_tbl_type *table = nullptr;
        chkpt_tbldesc_type desc;
        chkpt_tbldesc_init(&desc);
        desc.table_id = table_id++;
        desc.record_size = record.size();
        desc.max_records = 2 * n;
        if (chkpt_init(evm, &app) != 0 || chkpt_go_primary_active() != 0 || chkpt_register(&desc, &table) != 0) {
            state.SkipWithError("no store");
            break;
        }
        state.ResumeTiming();
        for (uint32_t i = 0; i < n; ++i) {
            chkpt_objid id = 0;
            record[0] = static_cast<uint8_t>(i);
            if (chkpt_create(table, i, &id) != 0 || chkpt_save(table, id, record.data(), record.size()) != 0) {
                state.SkipWithError("write failed");
                break;
            }
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 2 * n);
    chkpt_test_reset(":memory:");
    unlink(path.c_str());
    unlink((path + "-wal").c_str());
    unlink((path + "-shm").c_str());
    event_manager_destroy(evm);
}
BENCHMARK(BM_ChkptCreateAndSave)->Arg(2000)->Unit(benchmark::kMillisecond);

} // namespace
