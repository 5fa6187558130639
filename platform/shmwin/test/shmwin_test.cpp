#include "shmwin.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

class ShmwinTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        prefix = "shmwin_test." + std::to_string(getpid()) + ".";
        shmwin_test_set_prefix(prefix.c_str());
        shmwin_test_unlink("w");
    }
    void TearDown() override
    {
        shmwin_process_cleanup();
        shmwin_test_unlink("w");
    }
    std::string prefix;
};

struct check_rec {
    int calls = 0;
    uint32_t found = 0;
    bool reset = false;
    zerrno answer = 0;
};

zerrno record_check(shmwin_handle_type win, void *, uint32_t found, void *context)
{
    auto *rec = static_cast<check_rec *>(context);
    rec->calls++;
    rec->found = found;
    if (rec->reset) {
        EXPECT_EQ(shmwin_reset(win), 0u);
    }
    return rec->answer;
}

TEST_F(ShmwinTest, HeaderAndAllocationsSurviveCloseAndReopen)
{
    shmwin_handle_type win;
    void *hdr;
    ASSERT_EQ(shmwin_open_win_v1("w", 32, 6, nullptr, nullptr, &win, &hdr), 0u);
    EXPECT_EQ(std::vector<uint8_t>(static_cast<uint8_t *>(hdr), static_cast<uint8_t *>(hdr) + 32),
              std::vector<uint8_t>(32, 0));
    void *p;
    ASSERT_EQ(shmwin_malloc(win, 100, &p), 0u);
    std::strcpy(static_cast<char *>(p), "kept");
    uint64_t off = shmwin_ptr_to_offset(win, p);
    std::memcpy(hdr, &off, 8);
    ASSERT_EQ(shmwin_close(win), 0u);

    check_rec rec;
    ASSERT_EQ(shmwin_open_win_v1("w", 32, 6, record_check, &rec, &win, &hdr), 0u);
    EXPECT_EQ(rec.calls, 1);
    EXPECT_EQ(rec.found, 6u);
    std::memcpy(&off, hdr, 8);
    EXPECT_STREQ(static_cast<char *>(shmwin_offset_to_ptr(win, off)), "kept");
    EXPECT_EQ(shmwin_test_live_allocations(win), 1u);
}

TEST_F(ShmwinTest, VersionCheckDecidesOnAnotherLayout)
{
    shmwin_handle_type win;
    void *hdr;
    ASSERT_EQ(shmwin_open_win_v1("w", 32, 5, nullptr, nullptr, &win, &hdr), 0u);
    std::memset(hdr, 0xAB, 32);
    ASSERT_EQ(shmwin_close(win), 0u);

    // Refused: the open fails and the window stays as it was.
    check_rec refuse{0, 0, false, EPROTO};
    EXPECT_EQ(shmwin_open_win_v1("w", 32, 6, record_check, &refuse, &win, &hdr), static_cast<zerrno>(EPROTO));
    EXPECT_EQ(win, nullptr);
    EXPECT_EQ(refuse.found, 5u);

    // Accepted after a reset: the header is zero and the window takes the new version.
    check_rec reset{0, 0, true, 0};
    ASSERT_EQ(shmwin_open_win_v1("w", 32, 6, record_check, &reset, &win, &hdr), 0u);
    EXPECT_EQ(static_cast<uint8_t *>(hdr)[0], 0u);
    ASSERT_EQ(shmwin_close(win), 0u);
    check_rec again;
    ASSERT_EQ(shmwin_open_win_v1("w", 32, 6, record_check, &again, &win, &hdr), 0u);
    EXPECT_EQ(again.found, 6u);
}

TEST_F(ShmwinTest, HeaderOfAnotherSizeIsNeverHandedOut)
{
    shmwin_handle_type win;
    void *hdr;
    ASSERT_EQ(shmwin_open_win_v1("w", 32, 6, nullptr, nullptr, &win, &hdr), 0u);
    ASSERT_EQ(shmwin_close(win), 0u);
    check_rec accept;
    EXPECT_EQ(shmwin_open_win_v1("w", 296, 6, record_check, &accept, &win, &hdr), static_cast<zerrno>(EPROTO));
    check_rec reset{0, 0, true, 0};
    EXPECT_EQ(shmwin_open_win_v1("w", 296, 6, record_check, &reset, &win, &hdr), 0u);
}

TEST_F(ShmwinTest, FreeReusesAndRefusesWhatIsNotAnAllocation)
{
    shmwin_handle_type win;
    void *hdr;
    ASSERT_EQ(shmwin_open_win_v1("w", 16, 1, nullptr, nullptr, &win, &hdr), 0u);
    void *a, *b, *big;
    ASSERT_EQ(shmwin_malloc(win, 192, &a), 0u);
    ASSERT_EQ(shmwin_malloc(win, 5000, &big), 0u);
    EXPECT_EQ(shmwin_free(win, a), 0u);
    EXPECT_EQ(shmwin_free(win, a), static_cast<zerrno>(EINVAL)); // double free
    EXPECT_EQ(shmwin_free(win, hdr), static_cast<zerrno>(EINVAL));
    EXPECT_EQ(shmwin_free(win, static_cast<char *>(big) + 16), static_cast<zerrno>(EINVAL));
    ASSERT_EQ(shmwin_malloc(win, 184, &b), 0u); // same 16-byte class
    EXPECT_EQ(a, b);
    EXPECT_EQ(shmwin_free(win, big), 0u);
    void *big2;
    ASSERT_EQ(shmwin_malloc(win, 4000, &big2), 0u);
    EXPECT_EQ(big, big2);
    EXPECT_EQ(shmwin_test_live_allocations(win), 2u);
    EXPECT_EQ(shmwin_reset(win), 0u);
    EXPECT_EQ(shmwin_test_live_allocations(win), 0u);
}

// Block prefixes and links as an earlier process may have left them: an offset is an allocation
// only at the start of a live one of the size asked for, a damaged size is refused by free, and a
// damaged free list is never handed out.
TEST_F(ShmwinTest, DamagedPrefixesAndLinksAreNeverFollowed)
{
    shmwin_handle_type win;
    void *hdr;
    ASSERT_EQ(shmwin_open_win_v1("w", 16, 1, nullptr, nullptr, &win, &hdr), 0u);
    void *a, *b, *c;
    ASSERT_EQ(shmwin_malloc(win, 192, &a), 0u);
    ASSERT_EQ(shmwin_malloc(win, 192, &b), 0u);
    ASSERT_EQ(shmwin_malloc(win, 5000, &c), 0u);
    ASSERT_EQ(shmwin_free(win, b), 0u);
    auto off = [&](const void *p) { return shmwin_ptr_to_offset(win, p); };

    struct lookup_row {
        const char *what;
        uint64_t offset;
        size_t size;
        void *want;
    };
    const lookup_row lookups[] = {
        {"a live allocation", off(a), 192, a},
        {"more than it holds", off(a), 193, nullptr},
        {"no link", 0, 1, nullptr},
        {"inside an allocation", off(a) + 16, 16, nullptr},
        {"a freed block", off(b), 16, nullptr},
        {"the header", off(hdr), 16, nullptr},
        {"past the used heap", off(c) + 8192, 16, nullptr},
        {"past the window", uint64_t{1} << 40, 16, nullptr},
    };
    for (const lookup_row &r : lookups) {
        EXPECT_EQ(shmwin_offset_to_alloc(win, r.offset, r.size), r.want) << r.what;
    }

    // A damaged size in a live block's prefix: refused, nothing changes.
    auto size_of = [](void *p) { return static_cast<uint8_t *>(p) - 16; };
    uint64_t kept;
    std::memcpy(&kept, size_of(a), 8);
    for (uint64_t bad : {uint64_t{0}, uint64_t{24}, uint64_t{1} << 40}) {
        std::memcpy(size_of(a), &bad, 8);
        EXPECT_EQ(shmwin_free(win, a), static_cast<zerrno>(EINVAL)) << bad;
        EXPECT_EQ(shmwin_test_live_allocations(win), 2u) << bad;
    }
    std::memcpy(size_of(a), &kept, 8);
    EXPECT_EQ(shmwin_free(win, a), 0u);

    // Damaged sizes on the free lists: EIO instead of a block that overlaps its neighbour.
    uint64_t bigger = 208;
    std::memcpy(size_of(a), &bigger, 8);
    void *p = nullptr;
    EXPECT_EQ(shmwin_malloc(win, 192, &p), static_cast<zerrno>(EIO));
    EXPECT_EQ(p, nullptr);
    ASSERT_EQ(shmwin_free(win, c), 0u);
    uint64_t huge = uint64_t{1} << 40;
    std::memcpy(size_of(c), &huge, 8);
    EXPECT_EQ(shmwin_malloc(win, 4000, &p), static_cast<zerrno>(EIO));
    EXPECT_EQ(shmwin_test_live_allocations(win), 0u);
}

TEST_F(ShmwinTest, FullWindowAndInjectedFailures)
{
    shmwin_test_set_window_size(1u << 20);
    shmwin_handle_type win;
    void *hdr;
    ASSERT_EQ(shmwin_open_win_v1("w", 16, 1, nullptr, nullptr, &win, &hdr), 0u);
    void *p = nullptr;
    zerrno rc = 0;
    int n = 0;
    while ((rc = shmwin_malloc(win, 4096, &p)) == 0) {
        n++;
    }
    EXPECT_EQ(rc, static_cast<zerrno>(ENOMEM));
    EXPECT_GT(n, 200);
    shmwin_test_set_window_size(16u << 20);

    shmwin_test_fail(shmwin_test_op::reset, EIO, 1);
    EXPECT_EQ(shmwin_reset(win), static_cast<zerrno>(EIO));
    EXPECT_EQ(shmwin_reset(win), 0u);
    shmwin_test_fail(shmwin_test_op::open, ENOSPC, 1);
    shmwin_handle_type w2;
    EXPECT_EQ(shmwin_open_win_v1("w", 16, 1, nullptr, nullptr, &w2, &hdr), static_cast<zerrno>(ENOSPC));
}

// Processes of two nodes of one chassis open a window of one name and get two windows.
TEST_F(ShmwinTest, EachNodeOfTheChassisHasItsOwnWindow)
{
    std::vector<uint32_t> marks;
    for (const char *node : {"0/1/CPU0", "0/2/CPU0", "0/1/CPU0"}) {
        setenv("PTP_NODE", node, 1);
        shmwin_handle_type win;
        void *hdr = nullptr;
        ASSERT_EQ(shmwin_open_win_v1("w", 16, 1, nullptr, nullptr, &win, &hdr), 0u);
        auto *mark = static_cast<uint32_t *>(hdr);
        marks.push_back(*mark);
        if (*mark == 0) {
            *mark = static_cast<uint32_t>(marks.size());
        }
        shmwin_process_cleanup();
    }
    for (const char *node : {"0/1/CPU0", "0/2/CPU0"}) {
        setenv("PTP_NODE", node, 1);
        shmwin_test_unlink("w");
    }
    unsetenv("PTP_NODE");
    // The first node's mark is there again for its next process; the second node's window was new.
    EXPECT_EQ(marks, (std::vector<uint32_t>{0, 0, 1}));
}

// A process that fills a window and is killed with SIGKILL leaves it for the next process,
// which may map it elsewhere and follows the offsets.
TEST_F(ShmwinTest, WindowOutlivesAKilledProcess)
{
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        setenv("SHMWIN_PREFIX", prefix.c_str(), 1);
        execl(SHMWIN_TEST_CHILD, SHMWIN_TEST_CHILD, "w", "100", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(out[1]);
    char line[128] = {};
    ssize_t got = read(out[0], line, sizeof(line) - 1);
    close(out[0]);
    ASSERT_GT(got, 0);
    ASSERT_EQ(std::strncmp(line, "ready", 5), 0) << line;
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    shmwin_handle_type win;
    void *hdr;
    ASSERT_EQ(shmwin_open_win_v1("w", 64, 1, nullptr, nullptr, &win, &hdr), 0u);
    uint64_t off;
    std::memcpy(&off, hdr, 8);
    std::vector<uint64_t> seen;
    while (off != 0) {
        auto *p = static_cast<uint64_t *>(shmwin_offset_to_ptr(win, off));
        ASSERT_NE(p, nullptr);
        seen.push_back(p[0]);
        off = p[1];
    }
    ASSERT_EQ(seen.size(), 100u);
    for (size_t i = 0; i < seen.size(); i++) {
        EXPECT_EQ(seen[i], 99 - i);
    }
    EXPECT_EQ(shmwin_test_live_allocations(win), 100u);
}

} // namespace
