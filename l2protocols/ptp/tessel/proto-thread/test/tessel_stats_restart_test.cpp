// Packet and event counters of the protocol thread's records, and their survival across a real
// restart: a child process (this program, started again with TESSEL_STATS_CHILD set) opens the
// window, counts, and is killed with SIGKILL; the test then starts over in its own process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ptp_address.h"
#include "qor_log.h"
#include "shmwin.h"
#include "tessel_proto_db.h"
#include "tessel_stats.h"

extern bool fake_is_proto_thread;
extern bool fake_ipc_thread_blocked;
extern std::vector<ptp_address_type> fake_unicast_peers;
extern std::vector<ptp_address_type> fake_foreign_masters;

namespace {

ptp_address_type v4(uint8_t last)
{
    ptp_address_type a{};
    uint8_t ip[4] = {192, 0, 2, last};
    ptp_address_set_ipv4(&a, ip);
    return a;
}

tessel_proto_idb_type *add_port(const std::string &name, ifhtype handle)
{
    tessel_proto_idb_type *idb = nullptr;
    EXPECT_EQ(tessel_proto_db_create(name.c_str(), &idb), ZERR_OK);
    tessel_proto_db_add_ifhandle(handle, idb);
    return idb;
}

// What the child counts: three ports; port 1 hears peer .1 five times and .2 once, sends
// three Announces to .1 and drops two Sync; port 3 hears .3 once.
void child_counts()
{
    tessel_proto_idb_type *p1 = add_port("Gi0/0/0/1", 0x101);
    tessel_proto_idb_type *p2 = add_port("Gi0/0/0/2", 0x102);
    tessel_proto_idb_type *p3 = add_port("Gi0/0/0/3", 0x103);
    for (tessel_proto_idb_type *p : {p1, p2, p3}) {
        if (tessel_stats_intf_create_stats_entry(p) != 0) {
            _exit(5);
        }
    }
    ptp_address_type a1 = v4(1), a2 = v4(2), a3 = v4(3);
    tessel_stats_increment_packet_counter(p1, &a1, TESSEL_PACKET_COUNTER_SIGNALING, TESSEL_PACKET_RECEIVED, 5);
    tessel_stats_increment_packet_counter(p1, &a2, TESSEL_PACKET_COUNTER_SIGNALING, TESSEL_PACKET_RECEIVED, 1);
    tessel_stats_increment_packet_counter(p1, &a1, TESSEL_PACKET_COUNTER_ANNOUNCE, TESSEL_PACKET_SENT, 3);
    tessel_stats_increment_packet_drop_counter(p1, TESSEL_PACKET_COUNTER_SYNC, 2);
    tessel_stats_increment_packet_counter(p3, &a3, TESSEL_PACKET_COUNTER_SYNC, TESSEL_PACKET_RECEIVED, 1);
    tessel_stats_increment_packet_drop_reason(TESSEL_PACKET_DROP_WRONG_DOMAIN, 4);
}

// The child role, before the tests run.
[[maybe_unused]] const bool child_role = [] {
    const char *prefix = std::getenv("TESSEL_STATS_CHILD");
    if (prefix == nullptr) {
        return false;
    }
    shmwin_test_set_prefix(prefix);
    qor_errmsg_set_syslog(false);
    if (tessel_proto_db_init() != 0 || tessel_stats_init() != 0) {
        _exit(3);
    }
    child_counts();
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) {
        pause();
    }
}();

std::vector<std::string> stats_messages()
{
    std::vector<std::string> out;
    for (const qor_captured_msg &m : qor_errmsg_captured()) {
        out.push_back(m.mnemonic + ": " + m.text);
    }
    return out;
}

class StatsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        prefix = "tessel_stats_test." + std::to_string(getpid()) + ".";
        shmwin_test_set_prefix(prefix.c_str());
        shmwin_test_unlink(TESSEL_STATS_SHMWIN_NAME);
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();
        fake_is_proto_thread = true;
        fake_ipc_thread_blocked = false;
        fake_unicast_peers.clear();
        fake_foreign_masters.clear();
        ASSERT_EQ(tessel_proto_db_init(), ZERR_OK);
    }
    void TearDown() override
    {
        std::vector<tessel_proto_idb_type *> all;
        tessel_proto_db_walk([](tessel_proto_idb_type *idb, void *c) {
            static_cast<std::vector<tessel_proto_idb_type *> *>(c)->push_back(idb);
            return true;
        }, &all, nullptr, false);
        for (tessel_proto_idb_type *idb : all) {
            tessel_stats_delete_intf_stats_entry(idb);
            tessel_proto_db_delete(idb);
        }
        tessel_proto_db_cleanup();
        tessel_stats_close();
        shmwin_test_unlink(TESSEL_STATS_SHMWIN_NAME);
    }

    // Starts the child, waits until it has counted, and kills it.
    void run_and_kill_child()
    {
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            setenv("TESSEL_STATS_CHILD", prefix.c_str(), 1);
            execl("/proc/self/exe", "tessel_stats_restart_test", static_cast<char *>(nullptr));
            _exit(127);
        }
        close(out[1]);
        char line[16] = {};
        ssize_t got = read(out[0], line, sizeof(line) - 1);
        close(out[0]);
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_GT(got, 0) << "child exit " << WEXITSTATUS(status);
        ASSERT_STREQ(line, "ready\n");
        ASSERT_TRUE(WIFSIGNALED(status));
    }

    std::string prefix;
};

TEST_F(StatsTest, CountersSurviveARealRestart)
{
    run_and_kill_child();

    // The new process rebuilds ports 1 and 3 (port 2 is gone) and adds port 4.
    tessel_proto_idb_type *p1 = add_port("Gi0/0/0/1", 0x101);
    tessel_proto_idb_type *p3 = add_port("Gi0/0/0/3", 0x103);
    tessel_proto_idb_type *p4 = add_port("Gi0/0/0/4", 0x104);
    ASSERT_EQ(tessel_stats_init(), ZERR_OK);
    tessel_stats_recover_after_restart();
    EXPECT_TRUE(stats_messages().empty());

    ASSERT_NE(p1->packet_counters, nullptr);
    ASSERT_NE(p3->packet_counters, nullptr);
    ASSERT_NE(p4->packet_counters, nullptr);
    EXPECT_EQ(tessel_stats_intf_entry_find(0x102), nullptr);

    tessel_packet_counters_type *c1 = tessel_stats_intf_entry_counters(p1->packet_counters);
    EXPECT_EQ(c1->received[TESSEL_PACKET_COUNTER_SIGNALING], 6u);
    EXPECT_EQ(c1->sent[TESSEL_PACKET_COUNTER_ANNOUNCE], 3u);
    EXPECT_EQ(c1->dropped[TESSEL_PACKET_COUNTER_SYNC], 2u);
    ptp_address_type a1 = v4(1);
    tessel_packet_counters_type *peer1 = tessel_stats_peer_counters(p1->packet_counters, &a1);
    ASSERT_NE(peer1, nullptr);
    EXPECT_EQ(peer1->received[TESSEL_PACKET_COUNTER_SIGNALING], 5u);
    EXPECT_EQ(tessel_stats_peer_count(p1->packet_counters), 2u);
    const tessel_packet_counters_type *node = tessel_stats_get_node_packet_counters();
    EXPECT_EQ(node->received[TESSEL_PACKET_COUNTER_SIGNALING], 6u);
    EXPECT_EQ(node->received[TESSEL_PACKET_COUNTER_SYNC], 1u);
    EXPECT_EQ(tessel_stats_get_node_drop_reasons()[TESSEL_PACKET_DROP_WRONG_DOMAIN], 4u);

    // The recovered per-peer trees work on: a known peer counts on, a new one is added.
    tessel_stats_increment_packet_counter(p1, &a1, TESSEL_PACKET_COUNTER_SIGNALING, TESSEL_PACKET_RECEIVED, 1);
    EXPECT_EQ(peer1->received[TESSEL_PACKET_COUNTER_SIGNALING], 6u);
    ptp_address_type a9 = v4(9);
    tessel_stats_increment_packet_counter(p1, &a9, TESSEL_PACKET_COUNTER_SIGNALING, TESSEL_PACKET_RECEIVED, 1);
    EXPECT_EQ(tessel_stats_peer_count(p1->packet_counters), 3u);
    EXPECT_EQ(node->received[TESSEL_PACKET_COUNTER_SIGNALING], 8u);
}

TEST_F(StatsTest, ATornWindowIsResetWithTheInvalidDatabaseMessage)
{
    run_and_kill_child();
    // What a process that died in the middle of a change leaves: the consistent flag at 0.
    shmwin_handle_type win;
    void *hdr;
    ASSERT_EQ(shmwin_open_win_v1(TESSEL_STATS_SHMWIN_NAME, TESSEL_STATS_SHMEM_HDR_SIZE, TESSEL_STATS_SHMEM_VERSION,
                                 nullptr, nullptr, &win, &hdr),
              0u);
    uint32_t zero = 0;
    std::memcpy(static_cast<uint8_t *>(hdr) + 284, &zero, 4);
    ASSERT_EQ(shmwin_close(win), 0u);

    tessel_proto_idb_type *p1 = add_port("Gi0/0/0/1", 0x101);
    ASSERT_EQ(tessel_stats_init(), ZERR_OK);
    EXPECT_EQ(stats_messages(), (std::vector<std::string>{
                                    "STATS_DB_ERROR: Unexpected error encountered whilst restarting: Invalid stats "
                                    "database. Resetting database, all packet counters will be lost."}));
    tessel_stats_recover_after_restart();
    ASSERT_NE(p1->packet_counters, nullptr);
    EXPECT_EQ(tessel_stats_intf_entry_counters(p1->packet_counters)->received[TESSEL_PACKET_COUNTER_SIGNALING], 0u);
    EXPECT_EQ(tessel_stats_get_node_drop_reasons()[TESSEL_PACKET_DROP_WRONG_DOMAIN], 0u);
}

TEST_F(StatsTest, AWindowOfAnotherVersionIsReset)
{
    shmwin_handle_type win;
    void *hdr;
    ASSERT_EQ(shmwin_open_win_v1(TESSEL_STATS_SHMWIN_NAME, TESSEL_STATS_SHMEM_HDR_SIZE, 5, nullptr, nullptr, &win, &hdr),
              0u);
    std::memset(hdr, 0x5A, TESSEL_STATS_SHMEM_HDR_SIZE);  // a layout this agent cannot read
    ASSERT_EQ(shmwin_close(win), 0u);

    ASSERT_EQ(tessel_stats_init(), ZERR_OK);
    EXPECT_EQ(stats_messages(), (std::vector<std::string>{
                                    "STATS_DB_ERROR: Unexpected error encountered whilst recovering stats database: "
                                    "Shared memory version mismatch. Resetting database, all packet counters will be "
                                    "lost."}));
    EXPECT_EQ(tessel_stats_get_node_drop_reasons()[0], 0u);
    tessel_proto_idb_type *p1 = add_port("Gi0/0/0/1", 0x101);
    ASSERT_EQ(tessel_stats_intf_create_stats_entry(p1), ZERR_OK);
    EXPECT_EQ(tessel_stats_intf_entry_counters(p1->packet_counters)->sent[0], 0u);
}

TEST_F(StatsTest, CountingAndClearingAnInterface)
{
    ASSERT_EQ(tessel_stats_init(), ZERR_OK);
    tessel_proto_idb_type *p = add_port("Gi0/0/0/1", 0x101);
    tessel_proto_idb_type *no_entry = add_port("Gi0/0/0/2", 0x102);
    ASSERT_EQ(tessel_stats_intf_create_stats_entry(p), ZERR_OK);
    ptp_address_type peer = v4(1), master = v4(2), gone = v4(3);
    for (const ptp_address_type &a : {peer, master, gone}) {
        tessel_stats_increment_packet_counter(p, &a, TESSEL_PACKET_COUNTER_SIGNALING, TESSEL_PACKET_RECEIVED, 1);
    }
    // A new address: one more in the node, interface and peer blocks each.
    const tessel_packet_counters_type *node = tessel_stats_get_node_packet_counters();
    EXPECT_EQ(node->received[TESSEL_PACKET_COUNTER_SIGNALING], 3u);
    EXPECT_EQ(tessel_stats_peer_counters(p->packet_counters, &gone)->received[TESSEL_PACKET_COUNTER_SIGNALING], 1u);
    // Without an entry nothing is counted anywhere.
    tessel_stats_increment_packet_counter(no_entry, &peer, TESSEL_PACKET_COUNTER_SYNC, TESSEL_PACKET_SENT, 1);
    tessel_stats_increment_packet_drop_counter(no_entry, TESSEL_PACKET_COUNTER_SYNC, 1);
    EXPECT_EQ(node->sent[TESSEL_PACKET_COUNTER_SYNC], 0u);
    EXPECT_EQ(node->dropped[TESSEL_PACKET_COUNTER_SYNC], 0u);

    fake_unicast_peers = {peer};
    fake_foreign_masters = {master};
    tessel_stats_clear_if_packet_counters(p);
    EXPECT_EQ(tessel_stats_peer_count(p->packet_counters), 2u);
    EXPECT_EQ(tessel_stats_peer_counters(p->packet_counters, &gone), nullptr);
    EXPECT_EQ(tessel_stats_peer_counters(p->packet_counters, &peer)->received[TESSEL_PACKET_COUNTER_SIGNALING], 0u);
    EXPECT_EQ(tessel_stats_intf_entry_counters(p->packet_counters)->received[TESSEL_PACKET_COUNTER_SIGNALING], 0u);
    EXPECT_EQ(node->received[TESSEL_PACKET_COUNTER_SIGNALING], 3u);

    tessel_stats_clear_node_packet_counters();
    EXPECT_EQ(node->received[TESSEL_PACKET_COUNTER_SIGNALING], 0u);
}

TEST_F(StatsTest, PeerEntryAllocationFailureCountsNothing)
{
    ASSERT_EQ(tessel_stats_init(), ZERR_OK);
    tessel_proto_idb_type *p = add_port("Gi0/0/0/1", 0x101);
    ASSERT_EQ(tessel_stats_intf_create_stats_entry(p), ZERR_OK);
    ptp_address_type a = v4(1);
    shmwin_test_fail(shmwin_test_op::malloc, ENOMEM, 1);
    tessel_stats_increment_packet_counter(p, &a, TESSEL_PACKET_COUNTER_SYNC, TESSEL_PACKET_RECEIVED, 1);
    EXPECT_EQ(tessel_stats_get_node_packet_counters()->received[TESSEL_PACKET_COUNTER_SYNC], 0u);
    EXPECT_EQ(stats_messages(), (std::vector<std::string>{"STATS_DB_ERROR: Unexpected error encountered whilst "
                                                          "creating peer entry: Failed to allocate shared memory"}));
    tessel_stats_increment_packet_counter(p, &a, TESSEL_PACKET_COUNTER_SYNC, TESSEL_PACKET_RECEIVED, 1);
    EXPECT_EQ(tessel_stats_get_node_packet_counters()->received[TESSEL_PACKET_COUNTER_SYNC], 1u);
}

TEST_F(StatsTest, WithoutAWindowOnlyEventCountersWork)
{
    shmwin_test_fail(shmwin_test_op::open, EACCES, 1);
    EXPECT_EQ(tessel_stats_init(), static_cast<zerrno>(EACCES));
    EXPECT_EQ(stats_messages(), (std::vector<std::string>{
                                    "STATS_DB_ERROR: Unexpected error encountered whilst opening shared memory "
                                    "window: Failed to open/join shared memory window.Stats database was not "
                                    "initialised."}));
    tessel_proto_idb_type *p = add_port("Gi0/0/0/1", 0x101);
    EXPECT_NE(tessel_stats_intf_create_stats_entry(p), ZERR_OK);
    EXPECT_EQ(tessel_stats_get_node_packet_counters(), nullptr);
    tessel_stats_clear_node_event_counters();
    tessel_stats_increment_proto_idb_event_counter(p, TESSEL_PROTO_IDB_EVENT_READY_UPDATES);
    EXPECT_EQ(p->event_counters[TESSEL_PROTO_IDB_EVENT_READY_UPDATES], 1u);
    EXPECT_EQ(tessel_stats_get_node_event_counters()->proto_idb[TESSEL_PROTO_IDB_EVENT_READY_UPDATES], 1u);
    tessel_stats_increment_node_event_counter(TESSEL_NODE_EVENT_TIME_MSG_SENT);
    EXPECT_EQ(tessel_stats_get_node_event_counters()->node[TESSEL_NODE_EVENT_TIME_MSG_SENT], 1u);
}

TEST_F(StatsTest, IpcEventCountersBelongToTheIpcThread)
{
    tessel_ipc_idb_type ipc{};
    fake_is_proto_thread = false;
    tessel_stats_clear_node_event_counters();
    tessel_stats_increment_ipc_idb_event_counter(&ipc, TESSEL_IPC_IDB_EVENT_APPLY_CONFIG);
    fake_is_proto_thread = true;
    fake_ipc_thread_blocked = true;  // standing in while the IPC thread waits
    tessel_stats_increment_ipc_idb_event_counter(&ipc, TESSEL_IPC_IDB_EVENT_APPLY_CONFIG);
    EXPECT_EQ(ipc.event_counters[TESSEL_IPC_IDB_EVENT_APPLY_CONFIG], 2u);
    EXPECT_EQ(tessel_stats_get_node_event_counters()->ipc_idb[TESSEL_IPC_IDB_EVENT_APPLY_CONFIG], 2u);
    fake_ipc_thread_blocked = false;
    EXPECT_DEATH(tessel_stats_increment_ipc_idb_event_counter(&ipc, TESSEL_IPC_IDB_EVENT_APPLY_CONFIG),
                 "is_ipc_thread_blocked");
    EXPECT_STREQ(tessel_stats_node_event_names[TESSEL_NODE_EVENT_TIME_MSG_SENT], "Sent time message");
}

TEST_F(StatsTest, RecordOwningAnAddress)
{
    tessel_proto_idb_type *eth = add_port("Gi0/0/0/1", 0x101);
    uint8_t m[6] = {0, 0x11, 0x22, 0x33, 0x44, 0x55};
    std::memcpy(eth->ether_info, m, 6);
    eth->ether_info_len = 6;
    tessel_proto_idb_type *ip = add_port("Gi0/0/0/2", 0x102);
    ip->ipv4_addr_list = static_cast<uint32_t *>(std::calloc(2, 4));
    ip->ipv4_addr_count = 2;
    ptp_address_type a = v4(7);
    std::memcpy(&ip->ipv4_addr_list[1], a.value, 4);

    tessel_proto_idb_type *found = nullptr;
    EXPECT_EQ(tessel_proto_db_get_by_addr(&a, &found), ZERR_OK);
    EXPECT_EQ(found, ip);
    ptp_address_type mac{};
    ptp_address_set_mac(&mac, m);
    EXPECT_EQ(tessel_proto_db_get_by_addr(&mac, &found), ZERR_OK);
    EXPECT_EQ(found, eth);
    ptp_address_type other = v4(8);
    EXPECT_EQ(tessel_proto_db_get_by_addr(&other, nullptr), TESSEL_PROTO_DB_ADDR_NOT_FOUND);
}

}  // namespace
