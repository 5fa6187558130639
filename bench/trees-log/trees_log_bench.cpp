// Cost of the tree lookups on the per-packet path and of one trace record.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "avl2.h"
#include "jotlog.h"

namespace {

struct row {
    avl2_node_type node;
    uint32_t key;
};

void BM_Avl2Search(benchmark::State &state)
{
    std::vector<row> rows(static_cast<size_t>(state.range(0)));
    avl2_tree_type tree;
    avl2_init(&tree, AVL2_CMP_U32, nullptr);
    std::mt19937 rng(1);
    for (auto &r : rows) {
        r.key = rng();
        avl2_insert(&tree, &r.node);
    }
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(avl2_search(&tree, &rows[i]));
        i = (i + 1) % rows.size();
    }
}
BENCHMARK(BM_Avl2Search)->Arg(100)->Arg(10000);

void BM_Avl2InsertDelete(benchmark::State &state)
{
    std::vector<row> rows(static_cast<size_t>(state.range(0)));
    avl2_tree_type tree;
    avl2_init(&tree, AVL2_CMP_U32, nullptr);
    for (size_t k = 0; k < rows.size(); ++k) {
        rows[k].key = static_cast<uint32_t>(k * 2);
        avl2_insert(&tree, &rows[k].node);
    }
    row extra{};
    uint32_t k = 1;
    for (auto _ : state) {
        extra.key = k;
        avl2_insert(&tree, &extra.node);
        avl2_delete(&tree, &extra);
        k = (k + 2) % static_cast<uint32_t>(rows.size() * 2);
    }
}
BENCHMARK(BM_Avl2InsertDelete)->Arg(10000);

void BM_JotlogRecord(benchmark::State &state)
{
    char dir[] = "/tmp/ptp-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        state.SkipWithError("mkdtemp");
        return;
    }
    jotlog_set_run_dir(dir);
    jotlog_handle_type h = nullptr;
    if (jotlog_init2("bench/det", 0, 0, 1024, 8192, 0, &h) != 0) {
        state.SkipWithError("jotlog_init2");
        return;
    }
    for (auto _ : state)
        _jotlog3(h, 0x300100192ull, state.range(0) ? 0b100 : 0, 1, 2,
                 state.range(0) ? jotlog_text_arg("GigabitEthernet0/0/0/1") : 3);
    jotlog_close(h);
    std::string cmd = std::string("rm -rf ") + dir;
    if (std::system(cmd.c_str()) != 0)
        state.SkipWithError("cleanup");
    jotlog_set_run_dir(nullptr);
}
BENCHMARK(BM_JotlogRecord)->Arg(0)->Arg(1);

} // namespace
