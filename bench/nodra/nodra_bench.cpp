// One commit of 2000 interfaces x 10 items, verified and applied by a client in another
// process; and the round trip of an item get.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "nodra.h"
#include "nodra_test.h"

namespace {

zerrno verify_cb(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *)
{
    return ZERR_OK;
}

zerrno apply_cb(const nodra_verify_event_info_td *, void *)
{
    return ZERR_OK;
}

// The verifying and applying client: a process of its own, serving its event manager.
pid_t client_start()
{
    int ready[2];
    if (pipe(ready) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid != 0) {
        char c;
        close(ready[1]);
        if (read(ready[0], &c, 1) != 1)
            return -1;
        close(ready[0]);
        return pid;
    }
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    nodra_conn_td *conn = nullptr;
    _nodra_bind(&conn, "/cfg/if/act/", 0);
    nodra_vrfn_fns_td fns;
    nodra_vrfn_fns_init(&fns);
    nodra_vrfn_fns_verify_init(&fns, verify_cb);
    nodra_vrfn_fns_apply_init(&fns, apply_cb);
    const char *paths[] = {".*/ptp/pi/"};
    uint32_t id = 0;
    if (nodra_register_verification4(conn, paths, 1, 7, &fns, evm, 0, 0, 0x14, &id) != ZERR_OK)
        _exit(1);
    if (write(ready[1], "r", 1) != 1)
        _exit(1);
    for (;;) {
        event_type *ev = event_block(evm);
        if (ev != nullptr)
            zq_event_dispatch(ev);
    }
}

void BM_CommitVerifiedAndApplied(benchmark::State &state)
{
    nodra_test_reset();
    const pid_t client = client_start();
    uint32_t round = 0;
    for (auto _ : state) {
        ++round;
        nodra_commit_td *c = nullptr;
        nodra_commit_create(&c);
        for (int i = 0; i < 2000; ++i)
            for (int k = 0; k < 10; ++k) {
                const std::string path = "/cfg/if/act/Gi0/0/" + std::to_string(i) + "/ptp/pi/item-" + std::to_string(k);
                nodra_commit_set(c, path.c_str(), NODRA_ITEM_DATATYPE_UINT32, &round, 4);
            }
        nodra_commit_result_td result{};
        if (nodra_commit_apply(c, &result) != ZERR_OK || result.outcome != NODRA_COMMIT_RESULT_APPLIED)
            state.SkipWithError("commit failed");
        nodra_commit_free(c);
    }
    kill(client, SIGKILL);
    waitpid(client, nullptr, 0);
    state.SetItemsProcessed(state.iterations() * 20000);
}
BENCHMARK(BM_CommitVerifiedAndApplied)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ItemGetRoundTrip(benchmark::State &state)
{
    nodra_test_reset();
    const uint32_t v = 7;
    nodra_test_item_set("/oper/ptp/node/0/summary", NODRA_ITEM_DATATYPE_UINT32, &v, 4);
    nodra_conn_td *conn = nullptr;
    _nodra_bind(&conn, "/oper/ptp/node/0/", 0);
    for (auto _ : state) {
        uint32_t type = 0, length = 0;
        void *data = nullptr;
        if (nodra_item_get(conn, "summary", &type, &data, &length, 0) != ZERR_OK)
            state.SkipWithError("get failed");
        free(data);
    }
    _nodra_unbind(conn);
}
BENCHMARK(BM_ItemGetRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace
