// Packet and event counters of the protocol thread's records, and their survival across a real
// restart: a child process (this program, started again with TESSEL_STATS_CHILD set) opens the
// window, counts, and is killed with SIGKILL; the test then starts over in its own process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "jotlog.h"
#include "jotlog_test.h"
#include "plat_debug.h"
#include "ptp_address.h"
#include "ptp_debug.h"
#include "qor_log.h"
#include "shmwin.h"
#include "tessel_alloc.h"
#include "tessel_debug_areas.h"
#include "tessel_proto_db.h"
#include "tessel_stats.h"
#include "tessel_trace_buffers.h"

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
        tessel_proto_db_walk(
            [](tessel_proto_idb_type *idb, void *c) {
                static_cast<std::vector<tessel_proto_idb_type *> *>(c)->push_back(idb);
                return true;
            },
            &all, nullptr, false);
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
    EXPECT_EQ(stats_messages(),
              (std::vector<std::string>{"STATS_DB_ERROR: Unexpected error encountered whilst restarting: Invalid stats "
                                        "database. Resetting database, all packet counters will be lost."}));
    tessel_stats_recover_after_restart();
    ASSERT_NE(p1->packet_counters, nullptr);
    EXPECT_EQ(tessel_stats_intf_entry_counters(p1->packet_counters)->received[TESSEL_PACKET_COUNTER_SIGNALING], 0u);
    EXPECT_EQ(tessel_stats_get_node_drop_reasons()[TESSEL_PACKET_DROP_WRONG_DOMAIN], 0u);
}

// Opens the window as the next process finds it, without any check, and hands fn its header.
void edit_window(const std::function<void(shmwin_handle_type, uint8_t *)> &fn)
{
    shmwin_handle_type win;
    void *hdr;
    ASSERT_EQ(shmwin_open_win_v1(TESSEL_STATS_SHMWIN_NAME, TESSEL_STATS_SHMEM_HDR_SIZE, TESSEL_STATS_SHMEM_VERSION,
                                 nullptr, nullptr, &win, &hdr),
              0u);
    fn(win, static_cast<uint8_t *>(hdr));
    ASSERT_EQ(shmwin_close(win), 0u);
}

uint64_t get64(const uint8_t *p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
void put64(uint8_t *p, uint64_t v)
{
    std::memcpy(p, &v, 8);
}
void put32(uint8_t *p, uint32_t v)
{
    std::memcpy(p, &v, 4);
}

// A window marked consistent whose contents cannot be followed is handled as an invalid
// database: reset with its message, never read. The child leaves interface entries 0x102 (the
// root), 0x101 (left, peers .1 and .2) and 0x103 (right, peer .3).
TEST_F(StatsTest, ADamagedWindowMarkedConsistentIsResetNotRead)
{
    using edit = std::function<void(shmwin_handle_type, uint8_t *)>;
    // Offsets in an interface entry: links 0/8, height 16, peer-tree flag 28, peer-tree root 32.
    auto entry = [](shmwin_handle_type w, uint64_t off) {
        return static_cast<uint8_t *>(shmwin_offset_to_ptr(w, off));
    };
    auto root = [](uint8_t *hdr) { return get64(hdr); };
    struct row {
        const char *what;
        edit damage;
    };
    const row rows[] = {
        {"link outside the window", [](shmwin_handle_type, uint8_t *hdr) { put64(hdr, uint64_t{1} << 40); }},
        {"link into the middle of an entry", [&](shmwin_handle_type, uint8_t *hdr) { put64(hdr, root(hdr) + 16); }},
        {"link back to the root",
         [&](shmwin_handle_type w, uint8_t *hdr) { put64(entry(w, root(hdr)) + 0, root(hdr)); }},
        {"keys out of order",
         [&](shmwin_handle_type w, uint8_t *hdr) { put32(entry(w, get64(entry(w, root(hdr)))) + 24, 0x200); }},
        {"heights of an unbalanced tree",
         [&](shmwin_handle_type w, uint8_t *hdr) { put64(entry(w, root(hdr)) + 16, 5); }},
        {"peer-tree flag neither 0 nor 1",
         [&](shmwin_handle_type w, uint8_t *hdr) { put32(entry(w, root(hdr)) + 28, 7); }},
        {"one peer entry in two interfaces",
         [&](shmwin_handle_type w, uint8_t *hdr) {
             uint8_t *left = entry(w, get64(entry(w, root(hdr)) + 0));
             uint8_t *right = entry(w, get64(entry(w, root(hdr)) + 8));
             put64(right + 32, get64(left + 32));
         }},
        {"an interface entry linked as a peer",
         [&](shmwin_handle_type w, uint8_t *hdr) {
             uint8_t *left = entry(w, get64(entry(w, root(hdr)) + 0));
             put64(left + 32, get64(entry(w, root(hdr)) + 8));
         }},
        {"initialised flag neither 0 nor 1", [](shmwin_handle_type, uint8_t *hdr) { put32(hdr + 288, 0x5A5A5A5A); }},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        run_and_kill_child();
        edit_window(r.damage);
        qor_errmsg_capture_clear();
        tessel_proto_idb_type *p1 = add_port("Gi0/0/0/1", 0x101);
        ASSERT_EQ(tessel_stats_init(), ZERR_OK);
        EXPECT_EQ(stats_messages(), (std::vector<std::string>{
                                        "STATS_DB_ERROR: Unexpected error encountered whilst restarting: Invalid stats "
                                        "database. Resetting database, all packet counters will be lost."}));
        EXPECT_EQ(tessel_stats_get_node_drop_reasons()[TESSEL_PACKET_DROP_WRONG_DOMAIN], 0u);
        tessel_stats_recover_after_restart();
        ASSERT_NE(p1->packet_counters, nullptr);
        ptp_address_type a1 = v4(1);
        tessel_stats_increment_packet_counter(p1, &a1, TESSEL_PACKET_COUNTER_SYNC, TESSEL_PACKET_RECEIVED, 1);
        EXPECT_EQ(tessel_stats_intf_entry_counters(p1->packet_counters)->received[TESSEL_PACKET_COUNTER_SIGNALING], 0u);
        EXPECT_EQ(tessel_stats_intf_entry_counters(p1->packet_counters)->received[TESSEL_PACKET_COUNTER_SYNC], 1u);
        EXPECT_EQ(tessel_stats_intf_entry_find(0x103), nullptr);
        TearDown();
        SetUp();
    }
}

// An entry an earlier process left, attached when its interface gets its handle before (or
// without) the recovery walk, counts on in its per-peer tree.
TEST_F(StatsTest, AnEntryAttachedWithoutRecoveryCountsOn)
{
    run_and_kill_child();
    ASSERT_EQ(tessel_stats_init(), ZERR_OK);
    tessel_proto_idb_type *p1 = add_port("Gi0/0/0/1", 0x101);
    ASSERT_EQ(tessel_stats_intf_create_stats_entry(p1), ZERR_OK);
    ptp_address_type a1 = v4(1), a7 = v4(7);
    tessel_stats_increment_packet_counter(p1, &a1, TESSEL_PACKET_COUNTER_SIGNALING, TESSEL_PACKET_RECEIVED, 1);
    tessel_stats_increment_packet_counter(p1, &a7, TESSEL_PACKET_COUNTER_SIGNALING, TESSEL_PACKET_RECEIVED, 1);
    EXPECT_EQ(tessel_stats_peer_counters(p1->packet_counters, &a1)->received[TESSEL_PACKET_COUNTER_SIGNALING], 6u);
    EXPECT_EQ(tessel_stats_peer_count(p1->packet_counters), 3u);
    // The entries of the other interfaces stay until a recovery walk; this case removes them.
    tessel_stats_intf_entry_walk(
        [](tessel_stats_intf_entry_type *e, void *) {
            if (tessel_stats_intf_entry_ifhandle(e) != 0x101) {
                tessel_stats_intf_entry_reattach(e);
                tessel_stats_intf_entry_delete(e);
            }
            return true;
        },
        nullptr);
}

// A failed free in the window ends the process with the window marked inconsistent, so the next
// start resets it instead of keeping an entry that is out of its tree but still allocated.
TEST_F(StatsTest, AFailedFreeLeavesTheWindowToBeReset)
{
    ASSERT_EQ(tessel_stats_init(), ZERR_OK);
    tessel_proto_idb_type *p = add_port("Gi0/0/0/1", 0x101);
    ASSERT_EQ(tessel_stats_intf_create_stats_entry(p), ZERR_OK);
    EXPECT_DEATH(
        {
            shmwin_test_fail(shmwin_test_op::free, EIO, 1);
            tessel_stats_delete_intf_stats_entry(p);
        },
        "");
    p->packet_counters = nullptr; // the dead process's work, in the shared window
    tessel_stats_close();
    ASSERT_EQ(tessel_stats_init(), ZERR_OK);
    EXPECT_EQ(stats_messages(),
              (std::vector<std::string>{"STATS_DB_ERROR: Unexpected error encountered whilst restarting: Invalid stats "
                                        "database. Resetting database, all packet counters will be lost."}));
}

// The delete walk's list element cannot be had: MEM_ALLOC, and that entry stays for next time.
TEST_F(StatsTest, DeleteListAllocationFailureKeepsTheEntry)
{
    ASSERT_EQ(tessel_stats_init(), ZERR_OK);
    tessel_proto_idb_type *p = add_port("Gi0/0/0/1", 0x101);
    ASSERT_EQ(tessel_stats_intf_create_stats_entry(p), ZERR_OK);
    ptp_address_type gone = v4(3);
    tessel_stats_increment_packet_counter(p, &gone, TESSEL_PACKET_COUNTER_SIGNALING, TESSEL_PACKET_RECEIVED, 1);
    qor_errmsg_capture_clear();
    tessel_alloc_test_fail(0, 1);
    tessel_stats_clear_if_packet_counters(p);
    EXPECT_EQ(stats_messages(), (std::vector<std::string>{"MEM_ALLOC: Failed to allocate 16 bytes for 'delete_elem'"}));
    EXPECT_EQ(tessel_stats_peer_count(p->packet_counters), 1u);
    tessel_stats_clear_if_packet_counters(p);
    EXPECT_EQ(tessel_stats_peer_count(p->packet_counters), 0u);
}

TEST_F(StatsTest, AWindowOfAnotherVersionIsReset)
{
    shmwin_handle_type win;
    void *hdr;
    ASSERT_EQ(
        shmwin_open_win_v1(TESSEL_STATS_SHMWIN_NAME, TESSEL_STATS_SHMEM_HDR_SIZE, 5, nullptr, nullptr, &win, &hdr), 0u);
    std::memset(hdr, 0x5A, TESSEL_STATS_SHMEM_HDR_SIZE); // a layout this agent cannot read
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

// Windows the service will not hand over as they are: one whose header is of another size
// (refused at every open) is reset once; one the service set up afresh because its size changed
// is reported. Either way the counts start again and the operator is told they were lost.
TEST_F(StatsTest, AWindowThatCannotBeKeptIsResetAndReported)
{
    const std::string invalid = "STATS_DB_ERROR: Unexpected error encountered whilst restarting: Invalid stats "
                                "database. Resetting database, all packet counters will be lost.";
    const std::string open_failed = "STATS_DB_ERROR: Unexpected error encountered whilst opening shared memory "
                                    "window: Failed to open/join shared memory window.Stats database was not "
                                    "initialised.";
    struct row {
        const char *what;
        std::function<void()> leave;
        std::vector<std::string> messages;
    };
    const std::string object = "/" + prefix + TESSEL_STATS_SHMWIN_NAME;
    const row rows[] = {
        {"header of another size, same heap start",
         [] {
             shmwin_handle_type win;
             void *hdr;
             ASSERT_EQ(shmwin_open_win_v1(TESSEL_STATS_SHMWIN_NAME, TESSEL_STATS_SHMEM_HDR_SIZE + 4,
                                          TESSEL_STATS_SHMEM_VERSION, nullptr, nullptr, &win, &hdr),
                       0u);
             std::memset(hdr, 0x5A, TESSEL_STATS_SHMEM_HDR_SIZE + 4);
             ASSERT_EQ(shmwin_close(win), 0u);
         },
         {open_failed, invalid}},
        {"window whose size changed",
         [&object] {
             ASSERT_EQ(tessel_stats_init(), ZERR_OK);
             tessel_stats_increment_packet_drop_reason(TESSEL_PACKET_DROP_WRONG_DOMAIN, 4);
             tessel_stats_close();
             const int fd = shm_open(object.c_str(), O_RDWR, 0600);
             ASSERT_GE(fd, 0);
             struct stat st {};
             ASSERT_EQ(fstat(fd, &st), 0);
             ASSERT_EQ(ftruncate(fd, st.st_size + 65536), 0);
             close(fd);
         },
         {invalid}},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        shmwin_test_unlink(TESSEL_STATS_SHMWIN_NAME);
        r.leave();
        qor_errmsg_capture_clear();
        ASSERT_EQ(tessel_stats_init(), ZERR_OK);
        EXPECT_EQ(stats_messages(), r.messages);
        EXPECT_EQ(tessel_stats_get_node_drop_reasons()[TESSEL_PACKET_DROP_WRONG_DOMAIN], 0u);
        tessel_proto_idb_type *p = add_port("Gi0/0/0/1", 0x101);
        ASSERT_EQ(tessel_stats_intf_create_stats_entry(p), ZERR_OK);
        tessel_stats_delete_intf_stats_entry(p);
        tessel_proto_db_delete(p);
        tessel_stats_close();
        // The next start joins the window as it was left, without a word.
        qor_errmsg_capture_clear();
        ASSERT_EQ(tessel_stats_init(), ZERR_OK);
        EXPECT_TRUE(stats_messages().empty());
        tessel_stats_close();
    }
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
    EXPECT_EQ(stats_messages(),
              (std::vector<std::string>{"STATS_DB_ERROR: Unexpected error encountered whilst opening shared memory "
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
    fake_ipc_thread_blocked = true; // standing in while the IPC thread waits
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

// ---- Debug lines and trace points --------------------------------------------------------

// The counters with the stats debug area on and the agent's trace buffers open.
class StatsLogTest : public StatsTest {
protected:
    void SetUp() override
    {
        StatsTest::SetUp();
        run_dir = jotlog_test_run_dir_create("tessel_stats_test");
        ASSERT_FALSE(run_dir.empty());
        ASSERT_EQ(ptp_debug_register(nullptr, areas, tessel_debug_areas, std::size(tessel_debug_areas), nullptr),
                  ZERR_OK);
        ASSERT_EQ(ptp_jotlog_init(buffers, std::size(buffers)), ZERR_OK);
        ptp_jotlog_ctx_set(buffers[0], buffers[1], buffers[2]);
        ASSERT_EQ(debug_set_area(PTP_DEBUG_PATH, "stats", nullptr), ZERR_OK);
        debug_capture_clear();
    }
    void TearDown() override
    {
        StatsTest::TearDown();
        ptp_jotlog_close(buffers, std::size(buffers));
        ptp_jotlog_ctx_set({}, {}, {});
        ptp_debug_cleanup();
        jotlog_test_run_dir_remove(run_dir);
    }
    // Ids of a buffer's stats records (the records' numbers 3200-3399), oldest first; the
    // database's records of the ports are left out.
    static std::vector<uint64_t> trace_ids(const char *buffer)
    {
        std::vector<uint64_t> out;
        jotlog_read(
            buffer,
            [](const jotlog_record_type *r, void *c) {
                const uint64_t number = r->id & 0xfffff;
                if (number >= 3200 && number < 3400) {
                    static_cast<std::vector<uint64_t> *>(c)->push_back(r->id);
                }
                return true;
            },
            &out);
        return out;
    }
    // Ends the window and every record between the cases of one test.
    void reset_all()
    {
        StatsTest::TearDown();
        shmwin_test_unlink(TESSEL_STATS_SHMWIN_NAME);
        ASSERT_EQ(tessel_proto_db_init(), ZERR_OK);
    }

    debug_event_type areas[std::size(tessel_debug_areas)]{};
    ptp_jotlog_buffer_type buffers[3] = {tessel_trace_buffers[TESSEL_TRACE_BUFFER_DET],
                                         tessel_trace_buffers[TESSEL_TRACE_BUFFER_SUM],
                                         tessel_trace_buffers[TESSEL_TRACE_BUFFER_UNQ]};
    std::string run_dir;
};

// Writes a window header as another process left it.
void leave_window(uint32_t version, uint32_t initialised, uint32_t consistent)
{
    shmwin_handle_type win;
    void *hdr;
    ASSERT_EQ(shmwin_open_win_v1(TESSEL_STATS_SHMWIN_NAME, TESSEL_STATS_SHMEM_HDR_SIZE, version, nullptr, nullptr, &win,
                                 &hdr),
              0u);
    std::memset(hdr, 0, TESSEL_STATS_SHMEM_HDR_SIZE);
    std::memcpy(static_cast<uint8_t *>(hdr) + 284, &consistent, 4);
    std::memcpy(static_cast<uint8_t *>(hdr) + 288, &initialised, 4);
    ASSERT_EQ(shmwin_close(win), 0u);
}

TEST_F(StatsLogTest, RecoveryAfterARestartOnTheStatsArea)
{
    run_and_kill_child();
    // Ports 1 and 4 come back (4 is new), port 5 has no handle; ports 2 and 3 are gone.
    add_port("Gi0/0/0/1", 0x101);
    add_port("Gi0/0/0/4", 0x104);
    tessel_proto_idb_type *no_handle = nullptr;
    ASSERT_EQ(tessel_proto_db_create("Gi0/0/0/5", &no_handle), ZERR_OK);
    ASSERT_EQ(tessel_stats_init(), ZERR_OK);
    tessel_stats_recover_after_restart();
    const std::string ok = zerr_strerror(0);
    EXPECT_EQ(debug_captured(),
              (std::vector<std::string>{
                  "STATS: Opening shared memory window",
                  "STATS: Opened shmwin window: " + ok,
                  "STATS: In restart flow",
                  "STATS: Begin the Proto DB walk during startup",
                  "STATS: Matching IDB in shared memory identified for interface Gi0/0/0/1 (0x00000101)in Proto DB",
                  "STATS: No matching IDB identified in shared memory for interface Gi0/0/0/4 (0x00000104) in Proto "
                  "DB; creating new IDB in shared memory",
                  "STATS: Allocating shared memory",
                  "STATS: [ERROR] Failed to find/recreate intf entry after restart",
                  "STATS: Walking shared memory DB to check for matching Proto IDBs",
                  "STATS: No Proto DB entry for ifhandle (0x00000102)",
                  "STATS: Freeing shared memory",
                  "STATS: No Proto DB entry for ifhandle (0x00000103)",
                  "STATS: Freeing shared memory", // peer .3
                  "STATS: Freeing shared memory",
              }));
    for (const char *buffer : {"ptp/tessel/det", "ptp/tessel/unq"}) {
        EXPECT_EQ(trace_ids(buffer), std::vector<uint64_t>{0x100C85}) << buffer;
    }
}

TEST_F(StatsLogTest, WindowFailuresAreTracedAndPrinted)
{
    const std::string ok = zerr_strerror(0);
    struct row {
        const char *what;
        std::function<void()> run;
        uint64_t trace_id;
        std::vector<std::string> lines;
    };
    const row rows[] = {
        {"open fails",
         [] {
             shmwin_test_fail(shmwin_test_op::open, EACCES, 1);
             EXPECT_NE(tessel_stats_init(), ZERR_OK);
         },
         0x100C81,
         {"STATS: Opening shared memory window",
          std::string("STATS: Opened shmwin window: ") + zerr_strerror(static_cast<zerrno>(EACCES)),
          "STATS: Cleaning up shared memory resources"}},
        {"torn window",
         [] {
             leave_window(TESSEL_STATS_SHMEM_VERSION, 1, 0);
             EXPECT_EQ(tessel_stats_init(), ZERR_OK);
         },
         0x100C80,
         {"STATS: Opening shared memory window", "STATS: Opened shmwin window: " + ok,
          "STATS: Resetting shared memory"}},
        {"window of another version",
         [] {
             leave_window(5, 1, 1);
             EXPECT_EQ(tessel_stats_init(), ZERR_OK);
         },
         0x100C83,
         {"STATS: Opening shared memory window", "STATS: Resetting shared memory",
          "STATS: Opened shmwin window: " + ok}},
        {"peer entry allocation fails",
         [this] {
             ASSERT_EQ(tessel_stats_init(), ZERR_OK);
             tessel_proto_idb_type *p = add_port("Gi0/0/0/1", 0x101);
             ASSERT_EQ(tessel_stats_intf_create_stats_entry(p), ZERR_OK);
             ptp_address_type a = v4(1);
             shmwin_test_fail(shmwin_test_op::malloc, ENOMEM, 1);
             tessel_stats_increment_packet_counter(p, &a, TESSEL_PACKET_COUNTER_SYNC, TESSEL_PACKET_RECEIVED, 1);
         },
         0x100C84,
         {"STATS: Opening shared memory window", "STATS: Opened shmwin window: " + ok,
          "STATS: Allocating shared memory", "STATS: Allocating shared memory"}},
        {"close fails",
         [] {
             ASSERT_EQ(tessel_stats_init(), ZERR_OK);
             shmwin_test_fail(shmwin_test_op::close, EIO, 1);
             tessel_stats_close();
             shmwin_process_cleanup(); // releases the window the failed close left open
         },
         0x100C82,
         {"STATS: Opening shared memory window", "STATS: Opened shmwin window: " + ok,
          "STATS: Closing shared memory window"}},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        const size_t det_before = trace_ids("ptp/tessel/det").size();
        const size_t unq_before = trace_ids("ptp/tessel/unq").size();
        debug_capture_clear();
        r.run();
        EXPECT_EQ(debug_captured(), r.lines);
        for (auto [buffer, before] :
             {std::pair{"ptp/tessel/det", det_before}, std::pair{"ptp/tessel/unq", unq_before}}) {
            std::vector<uint64_t> ids = trace_ids(buffer);
            EXPECT_EQ(std::vector<uint64_t>(ids.begin() + static_cast<std::ptrdiff_t>(before), ids.end()),
                      std::vector<uint64_t>{r.trace_id})
                << buffer;
        }
        reset_all();
    }
}

} // namespace
