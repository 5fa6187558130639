// Lookup cost in an interface database as the agent fills it: records of the protocol thread's
// size, named like interfaces, with scattered interface handles.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tessel_db.h"
#include "tessel_fsm_types.h"
#include "tessel_if_config.h"

// The interface manager's handle hash for this program: a multiplicative hash into key_bits bits.
uint32_t imc_ifhandle_to_hash(ifhtype ifhandle, uint32_t key_bits)
{
    uint32_t h = ifhandle * 0x9E3779B1u;
    return key_bits == 0 ? 0 : h >> (32 - key_bits);
}

namespace {

struct filled_db {
    tessel_db_info_type db{};
    std::vector<ifhtype> handles;
    std::vector<std::string> names;

    explicit filled_db(size_t n)
    {
        db.name = "Protocol Thread";
        tessel_db_init(&db);
        for (size_t i = 0; i < n; i++) {
            char name[64];
            std::snprintf(name, sizeof(name), "TenGigE0/%zu/0/%zu", i / 1000, i % 1000);
            void *idb = nullptr;
            tessel_db_create(name, sizeof(tessel_proto_idb_type), &db, &idb);
            // Handles as the platform hands them out: spread, not dense.
            ifhtype h = 0x08000000u + static_cast<ifhtype>(i) * 0x1A0u;
            tessel_db_add_ifhandle(h, &db, static_cast<tessel_db_h_type *>(idb));
            handles.push_back(h);
            names.emplace_back(name);
        }
    }
};

filled_db &db_of(size_t n)
{
    static filled_db small(2000);
    static filled_db large(20000);
    return n == 2000 ? small : large;
}

void BM_LookupByHandle(benchmark::State &state)
{
    filled_db &f = db_of(static_cast<size_t>(state.range(0)));
    size_t i = 0;
    for (auto _ : state) {
        void *idb = nullptr;
        tessel_db_get_by_ifhandle(f.handles[i], &f.db, &idb);
        benchmark::DoNotOptimize(idb);
        i = (i + 7919) % f.handles.size();
    }
    state.counters["buckets"] = f.db.hash->cur_buckets;
}

void BM_LookupByName(benchmark::State &state)
{
    filled_db &f = db_of(static_cast<size_t>(state.range(0)));
    size_t i = 0;
    for (auto _ : state) {
        void *idb = nullptr;
        tessel_db_get_by_ifname(f.names[i].c_str(), &f.db, &idb);
        benchmark::DoNotOptimize(idb);
        i = (i + 7919) % f.names.size();
    }
}

// Bytes per interface: the protocol-thread and IPC-thread records, and the handle-hash buckets
// each record accounts for at that size.
void BM_RecordSize(benchmark::State &state)
{
    filled_db &f = db_of(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.db.count);
    }
    state.counters["proto_idb_bytes"] = sizeof(tessel_proto_idb_type);
    state.counters["ipc_idb_bytes"] = sizeof(tessel_ipc_idb_type);
    state.counters["bucket_bytes_per_idb"] =
        static_cast<double>(f.db.hash->cur_buckets) * sizeof(void *) / static_cast<double>(f.db.count);
}

BENCHMARK(BM_LookupByHandle)->Arg(2000)->Arg(20000);
BENCHMARK(BM_LookupByName)->Arg(2000)->Arg(20000);
BENCHMARK(BM_RecordSize)->Arg(2000)->Arg(20000)->Iterations(1);

} // namespace
