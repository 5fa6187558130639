// Thread control end to end: the test thread plays the IPC thread, the real protocol thread runs
// the real port manager, and every message type crosses between them.
#include "tessel_thread_ctrl.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "chassis.h"
#include "evm.h"
#include "evm_test.h"
#include "pktio_test.h"
#include "plat_debug.h"
#include "ptp_debug.h"
#include "ptp_zerr_codes.h"
#include "qor_log.h"
#include "shmwin.h"
#include "sysmgr_test.h"
#include "tessel_agent_neighbours.h"
#include "tessel_debug_areas.h"
#include "tessel_ipc_db.h"
#include "tessel_port_mgr.h"
#include "tessel_proto_db.h"
#include "tessel_stats.h"
#include "tessel_thread_ctrl_test_fake.h"
#include "tessel_utils.h"

namespace {

debug_event_type debug_table[TESSEL_DEBUG_AREA_COUNT];

// The node the agent runs on: the controller link connects as it.
void use_line_card()
{
    static chassis_desc_type *desc = [] {
        chassis_desc_type *d = nullptr;
        std::string error;
        chassis_load_text("[[node]]\nname = \"0/2/CPU0\"\nid = 0x20\nrole = \"lc\"\n", "test", &d, &error);
        return d;
    }();
    sysmgr_test_reset();
    sysmgr_test_set_chassis(desc);
    sysmgr_test_set_node(0x20);
}

// The messages the IPC thread sent, as its debug lines name them.
uint32_t sent(const std::string &type)
{
    const std::string line = "THREAD-CTRL: About to send inter-thread " + type + " message";
    uint32_t n = 0;
    for (const std::string &l : debug_captured()) {
        n += l.rfind(line, 0) == 0 ? 1 : 0;
    }
    return n;
}

uint32_t node_event(uint32_t type)
{
    return tessel_stats_get_node_event_counters()->node[type];
}

std::vector<std::string> fake_calls()
{
    std::lock_guard<std::mutex> g(tc_fake_mutex);
    return tc_fake.calls;
}

// Runs fn on the protocol thread (as an event of its manager) and waits for it.
template <typename Fn>
void on_proto_thread(Fn fn)
{
    struct ctx_type {
        Fn *fn;
        std::atomic<bool> done{false};
    } ctx{&fn};
    event_async_ctx_type a{};
    ASSERT_GT(event_async_attach_event(
                  tessel_thread_ctrl_proto_evm(), 0,
                  [](const event_async_ctx_type *, int32_t, void *c) {
                      auto *x = static_cast<ctx_type *>(c);
                      (*x->fn)();
                      x->done = true;
                      return 0;
                  },
                  &ctx, &a),
              0);
    event_send_async(a.coid, a.code, 0);
    while (!ctx.done) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    event_async_attach(tessel_thread_ctrl_proto_evm(), a.code, nullptr, nullptr);
}

class ThreadCtrl : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The counters' window of this program alone: one that an agent on this machine left with
        // interfaces in it must not decide what the port manager's shutdown finds.
        shm_prefix = "tessel_tc_test." + std::to_string(getpid()) + ".";
        shmwin_test_set_prefix(shm_prefix.c_str());
        shmwin_test_unlink(TESSEL_STATS_SHMWIN_NAME);
        qor_errmsg_set_syslog(false);
        use_line_card();
        ASSERT_EQ(ptp_debug_register(nullptr, debug_table, tessel_debug_areas, TESSEL_DEBUG_AREA_COUNT, nullptr), 0u);
        ASSERT_EQ(debug_set_area(PTP_DEBUG_PATH, "thread_ctrl", nullptr), 0u);
        debug_capture_clear();
        agent_nb_reset();
        {
            std::lock_guard<std::mutex> g(tc_fake_mutex);
            tc_fake.calls.clear();
        }
        tc_fake.active = true;
        tessel_stats_clear_node_event_counters();
        ASSERT_EQ(tessel_ipc_db_init(), 0u);
        ASSERT_EQ(tessel_thread_ctrl_init(), 0u);
    }
    void TearDown() override
    {
        tessel_ipc_state_reset();
        tessel_thread_ctrl_shutdown();
        while (tessel_ipc_db_get_count() > 0) {
            tessel_ipc_idb_type *first = nullptr;
            tessel_ipc_db_walk(
                [](tessel_ipc_idb_type *idb, void *c) {
                    *static_cast<tessel_ipc_idb_type **>(c) = idb;
                    return false;
                },
                &first, nullptr, false);
            tessel_ipc_db_delete(first);
        }
        tessel_ipc_db_destroy();
        shmwin_test_unlink(TESSEL_STATS_SHMWIN_NAME);
    }
    std::string shm_prefix;
};

TEST_F(ThreadCtrl, MessageTypesHaveTheirTextsAndSizes)
{
    const char *texts[] = {
        "Init",    "PTP Enable", "PTP Disable", "Clock Profile", "Min Clock Class", "Interface Update",
        "DB Sync", "EDM Get",    "EDM List",    "EDM Datalist",  "EDM Set",         "Shutdown",
        "IDT",     "NDT"};
    const size_t sizes[] = {40, 40, 40, 48, 48, 40, 64, 48, 48, 48, 48, 40, 48, 104};
    for (uint32_t t = 0; t < TESSEL_THREAD_CTRL_MSG_COUNT; t++) {
        EXPECT_STREQ(tessel_thread_ctrl_msg_to_string(t), texts[t]);
        EXPECT_EQ(tessel_thread_ctrl_msg_size(t), sizes[t]);
    }
    EXPECT_EQ(tessel_thread_ctrl_msg_size(14), 0u);
}

// "Init" ran the upgrade client, the checkpoint and the port manager on the protocol thread.
TEST_F(ThreadCtrl, InitRunsOnTheProtocolThread)
{
    EXPECT_FALSE(tessel_thread_ctrl_is_proto_thread());
    bool there = false;
    on_proto_thread([&] { there = tessel_thread_ctrl_is_proto_thread(); });
    EXPECT_TRUE(there);
    // The active node of the pair holds the primary upgrade role.
    EXPECT_EQ(fake_calls(), std::vector<std::string>{"chkpt_go_primary_active"});
    // A second go-active creates no second thread and runs no second start-up.
    event_mgr_type *evm = tessel_thread_ctrl_proto_evm();
    EXPECT_EQ(tessel_thread_ctrl_init(), 0u);
    EXPECT_EQ(tessel_thread_ctrl_proto_evm(), evm);
    EXPECT_EQ(fake_calls(), std::vector<std::string>{"chkpt_go_primary_active"});
}

// Before "DB Sync" global changes are only cached; "DB Sync" carries them, once; afterwards each
// change is sent at once.
TEST_F(ThreadCtrl, GlobalSettingsCachedUntilSyncThenSent)
{
    tessel_ipc_set_ptp_enable(1);
    tessel_ipc_set_clock_profile(2, 3);
    tessel_ipc_set_min_clock_class(7);
    EXPECT_EQ(tessel_port_mgr_is_ptp_enabled(), 0u);
    EXPECT_EQ(sent("PTP Enable") + sent("Clock Profile") + sent("Min Clock Class"), 0u);

    tc_fake.active = false;
    tessel_ipc_db_sync_check(); // not active: nothing
    EXPECT_FALSE(tessel_ipc_is_synced());
    tc_fake.active = true;
    tessel_ipc_db_sync_check();
    EXPECT_TRUE(tessel_ipc_is_synced());
    EXPECT_EQ(tessel_port_mgr_is_ptp_enabled(), 1u);
    EXPECT_EQ(tessel_port_mgr_get_profile(), 2u);
    EXPECT_EQ(tessel_port_mgr_get_telecom_clock_type(), 3u);
    EXPECT_EQ(tessel_port_mgr_get_min_clock_class(), 7u);
    tessel_ipc_db_sync_check(); // a second report sends nothing
    EXPECT_EQ(sent("DB Sync"), 1u);

    tessel_ipc_set_ptp_enable(0);
    EXPECT_EQ(sent("PTP Disable"), 1u);
    EXPECT_EQ(tessel_port_mgr_is_ptp_enabled(), 0u);
    tessel_ipc_set_ptp_enable(1);
    EXPECT_EQ(tessel_port_mgr_is_ptp_enabled(), 1u);
    tessel_ipc_set_clock_profile(1, 1);
    EXPECT_EQ(tessel_port_mgr_get_profile(), 1u);
    tessel_ipc_set_min_clock_class(13);
    EXPECT_EQ(tessel_port_mgr_get_min_clock_class(), 13u);
}

// Interfaces changed in a batch go as one "Interface Update", each once; the protocol thread
// reads the records in place.
TEST_F(ThreadCtrl, InterfaceUpdateCarriesTheBatchOnce)
{
    tessel_ipc_idb_type *a = nullptr;
    tessel_ipc_idb_type *b = nullptr;
    ASSERT_EQ(tessel_ipc_db_create("Gi0/0/0/1", &a), 0u);
    ASSERT_EQ(tessel_ipc_db_create("Gi0/0/0/2", &b), 0u);
    a->flags = TESSEL_IPC_FLAG_UPDATE_CREATED | TESSEL_IPC_FLAG_ENABLED;
    b->flags = TESSEL_IPC_FLAG_UPDATE_CREATED;

    tessel_ipc_if_update_add(a); // before the sync: registered with the IM only
    EXPECT_EQ(tessel_thread_ctrl_if_update_batch_count(), 0u);
    tessel_ipc_db_sync_check();
    auto proto_has = [](const char *name) {
        zerrno rc = 1;
        on_proto_thread([&] {
            tessel_proto_idb_type *pidb = nullptr;
            rc = tessel_proto_db_get_by_ifname(name, &pidb);
        });
        return rc == 0;
    };
    EXPECT_TRUE(proto_has("Gi0/0/0/1")) << "DB Sync walks the IPC database";

    ASSERT_EQ(tessel_ipc_db_create("Gi0/0/0/3", &b), 0u);
    b->flags = TESSEL_IPC_FLAG_UPDATE_CREATED;
    tessel_ipc_if_update_add(b);
    tessel_ipc_if_update_add(b);
    EXPECT_EQ(tessel_thread_ctrl_if_update_batch_count(), 1u);
    EXPECT_EQ(b->event_counters[TESSEL_IPC_IDB_EVENT_THREAD_UPDATES], 1u);
    tessel_ipc_if_update_flush();
    EXPECT_EQ(tessel_thread_ctrl_if_update_batch_count(), 0u);
    EXPECT_EQ(node_event(TESSEL_NODE_EVENT_XTHREAD_IF_UPDATE_BATCHES), 1u);
    EXPECT_EQ(sent("Interface Update"), 1u);
    EXPECT_TRUE(proto_has("Gi0/0/0/3"));

    tessel_ipc_if_update_flush(); // an empty batch sends nothing
    EXPECT_EQ(sent("Interface Update"), 1u);
    EXPECT_EQ(node_event(TESSEL_NODE_EVENT_XTHREAD_IF_UPDATE_BATCHES), 1u);
    const std::vector<std::string> calls = fake_calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "im_if_enable"), 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "im_if_disable"), 2);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "im_process_batches"), 2);

    // Not active: nothing is registered or batched.
    tc_fake.active = false;
    tessel_ipc_if_update_add(b);
    EXPECT_EQ(tessel_thread_ctrl_if_update_batch_count(), 0u);
}

// Operational-data requests: the request pointer reaches the handler, its result comes back.
TEST_F(ThreadCtrl, OperationalDataRequestsReturnTheHandlersResult)
{
    int request = 0;
    struct {
        zerrno (*send)(void *);
        const char *handler;
    } const rows[] = {
        {tessel_thread_ctrl_send_edm_get, "edm_get"},
        {tessel_thread_ctrl_send_edm_list, "edm_list"},
        {tessel_thread_ctrl_send_edm_datalist, "edm_datalist"},
        {tessel_thread_ctrl_send_edm_set, "edm_set"},
    };
    for (const auto &row : rows) {
        {
            agent_nb_lock l;
            l.state.edm_result = 0x40818800;
        }
        EXPECT_EQ(row.send(&request), 0x40818800u) << row.handler;
        EXPECT_EQ(agent_nb_count(row.handler), 1u);
        agent_nb_lock l;
        EXPECT_EQ(l.state.edm_requests.back(), &request);
    }
    EXPECT_EQ(node_event(TESSEL_NODE_EVENT_XTHREAD_EDM_REQUESTS), 4u);
}

// A request whose answer needs later data keeps the IPC thread blocked; the parked reply then
// carries the final result, not 115.
TEST_F(ThreadCtrl, ParkedReplyReleasesTheIpcThreadLater)
{
    {
        agent_nb_lock l;
        l.state.edm_result = 115;
    }
    int request = 0;
    std::atomic<zerrno> result{0xFFFFFFFFu};
    std::thread ipc([&] { result = tessel_thread_ctrl_send_edm_get(&request); });
    while (!tessel_thread_ctrl_reply_parked()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(tessel_thread_ctrl_is_ipc_thread_blocked());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(result.load(), 0xFFFFFFFFu) << "still waiting";
    // The protocol thread keeps serving other events meanwhile, then the data arrives.
    on_proto_thread([] { tessel_thread_ctrl_reply(0); });
    ipc.join();
    EXPECT_EQ(result.load(), 0u);
    EXPECT_FALSE(tessel_thread_ctrl_reply_parked());
    EXPECT_FALSE(tessel_thread_ctrl_is_ipc_thread_blocked());
}

TEST_F(ThreadCtrl, CheckpointNoticesReachTheProtocolThread)
{
    tessel_thread_ctrl_send_idt(3);
    tessel_thread_ctrl_send_idt(0xFFFFFFFFu);
    uint8_t notice[64] = {};
    notice[0] = 5; // a save, in host order
    tessel_thread_ctrl_send_ndt(notice);
    const std::vector<std::string> expected = {"chkpt_go_primary_active", "idt 3", "idt 4294967295", "ndt 5"};
    EXPECT_EQ(fake_calls(), expected);
}

// Types out of range and records too short for their type are refused, not trusted.
TEST_F(ThreadCtrl, BadTypesAndShortRecordsAreRefused)
{
    tessel_thread_ctrl_msg_rec_type rec{};
    EXPECT_EQ(tessel_thread_ctrl_send(14, &rec, 40), PTP_ZERR_INVALID_ARG);
    EXPECT_EQ(tessel_thread_ctrl_send(0xFFFFu, &rec, 40), PTP_ZERR_INVALID_ARG);
    EXPECT_EQ(tessel_thread_ctrl_send(TESSEL_THREAD_CTRL_MSG_CLOCK_PROFILE, &rec, 40), PTP_ZERR_INVALID_ARG);
    EXPECT_EQ(tessel_thread_ctrl_send(TESSEL_THREAD_CTRL_MSG_NDT, &rec, 200), PTP_ZERR_INVALID_ARG);

    // Another sender on the channel with a "Clock Profile" of 40 bytes: refused, nothing read.
    const uint32_t profile = tessel_port_mgr_get_profile();
    int32_t chan = 0;
    ASSERT_EQ(msg_chan_connect(TESSEL_THREAD_CTRL_CHANNEL, 0, 0, &chan), 0);
    uint8_t shortmsg[40] = {};
    const uint16_t code = 0x8003;
    const uint16_t facility = 0x0FE5;
    memcpy(shortmsg, &code, 2);
    memcpy(shortmsg + 2, &facility, 2);
    EXPECT_EQ(static_cast<zerrno>(msg_send(chan, shortmsg, sizeof shortmsg, nullptr, 0)), PTP_ZERR_INVALID_ARG);
    msg_chan_disconnect(chan);
    EXPECT_EQ(tessel_port_mgr_get_profile(), profile);
}

// A failed port-manager init is the result of "Init"; the thread stays until the shutdown.
TEST(ThreadCtrlInit, FailedInitReplyKeepsTheThreadUntilShutdown)
{
    qor_errmsg_set_syslog(false);
    use_line_card();
    agent_nb_reset();
    // The port manager's packet step fails: its first packet-I/O connection cannot be opened.
    pktio_test_fail(pktio_test_op::SPIO_INIT, PTP_ZERR_NOMEM);
    EXPECT_EQ(tessel_thread_ctrl_init(), PTP_ZERR_NOMEM);
    EXPECT_NE(tessel_thread_ctrl_proto_evm(), nullptr);
    tessel_thread_ctrl_shutdown();
    EXPECT_EQ(tessel_thread_ctrl_proto_evm(), nullptr);
    EXPECT_EQ(evm_find_channel(TESSEL_THREAD_CTRL_CHANNEL), nullptr);
    // Shutdown again, and before any init, does nothing.
    tessel_thread_ctrl_shutdown();
}

} // namespace
