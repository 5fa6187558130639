#include "jotlog.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "jotlog_test.h"
#include "plat_clock_test.h"

namespace {

struct seen_record {
    uint64_t seq, id;
    std::vector<uint64_t> args;
    std::vector<std::string> texts; // "" where not text
};

bool collect(const jotlog_record_type *r, void *ctx)
{
    seen_record s{r->seq, r->id, {}, {}};
    for (uint32_t i = 0; i < r->nargs; ++i) {
        const char *t = jotlog_record_text(r, i);
        s.args.push_back(t ? 0 : r->args[i]);
        s.texts.emplace_back(t ? t : "");
    }
    static_cast<std::vector<seen_record> *>(ctx)->push_back(s);
    return true;
}

std::vector<seen_record> read_all(const char *name, zerrno expect = ZERR_OK)
{
    std::vector<seen_record> v;
    EXPECT_EQ(jotlog_read(name, collect, &v), expect);
    return v;
}

std::vector<uint64_t> seqs(const std::vector<seen_record> &v)
{
    std::vector<uint64_t> s;
    for (auto &r : v)
        s.push_back(r.seq);
    return s;
}

std::vector<uint64_t> range(uint64_t from, uint64_t to)
{
    std::vector<uint64_t> v;
    for (uint64_t i = from; i <= to; ++i)
        v.push_back(i);
    return v;
}

class Jotlog : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        dir = jotlog_test_run_dir_create("ptp-jotlog");
        ASSERT_FALSE(dir.empty());
        ASSERT_EQ(jotlog_run_dir(), dir);
    }
    void TearDown() override
    {
        jotlog_test_run_dir_remove(dir);
        EXPECT_FALSE(std::filesystem::exists(dir));
        EXPECT_NE(jotlog_run_dir(), dir);
    }
};

TEST_F(Jotlog, RingKeepsTheNewestRecordsInOrder)
{
    // (start records, start text, ring records, ring text) -> records written -> sequence seen
    struct case_type {
        uint32_t start, ring, writes;
        std::vector<uint64_t> expect;
        zerrno last_rc;
    } cases[] = {
        {0, 8, 5, range(1, 5), ZERR_OK},
        {0, 8, 8, range(1, 8), ZERR_OK},
        {0, 8, 20, range(13, 20), ZERR_OK},
        {4, 8, 30,
         [] {
             auto v = range(1, 4);
             for (uint64_t i = 23; i <= 30; ++i)
                 v.push_back(i);
             return v;
         }(),
         ZERR_OK},
        {3, 0, 4, range(1, 3), static_cast<zerrno>(ENOSPC)},
    };
    int n = 0;
    for (auto &c : cases) {
        std::string name = "t/ring" + std::to_string(n++);
        jotlog_handle_type h = nullptr;
        ASSERT_EQ(jotlog_init2(name.c_str(), c.start, 64, c.ring, 256, 0, &h), ZERR_OK);
        zerrno rc = ZERR_OK;
        for (uint32_t i = 1; i <= c.writes; ++i)
            rc = _jotlog2(h, 0x200100001ull, 0, i, i * 100);
        EXPECT_EQ(rc, c.last_rc) << name;
        jotlog_close(h);
        auto got = read_all(name.c_str());
        EXPECT_EQ(seqs(got), c.expect) << name;
        for (auto &r : got) {
            EXPECT_EQ(r.id, 0x200100001ull);
            EXPECT_EQ(r.args, (std::vector<uint64_t>{r.seq, r.seq * 100}));
        }
    }
}

TEST_F(Jotlog, TextArgumentsAreCopiedAndOverwrittenTextsReadAsLost)
{
    jotlog_handle_type h = nullptr;
    ASSERT_EQ(jotlog_init2("t/text", 0, 0, 16, 24, 0, &h), ZERR_OK);
    std::string longer(300, 'y');
    ASSERT_EQ(_jotlog3(h, 1, 0b110, 42, jotlog_text_arg("Gi0/0/0/1"), jotlog_text_arg(nullptr)), ZERR_OK);
    ASSERT_EQ(_jotlog1(h, 2, 0b1, jotlog_text_arg("0123456789")), ZERR_OK);
    // Mask bits beyond the argument count are ignored: the word is not followed.
    ASSERT_EQ(_jotlog1(h, 3, 0b10, 0xdead), ZERR_OK);
    auto got = read_all("t/text");
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].args[0], 42u);
    EXPECT_EQ(got[0].texts, (std::vector<std::string>{"", "Gi0/0/0/1", ""}));
    EXPECT_EQ(got[1].texts, std::vector<std::string>{"0123456789"});
    EXPECT_EQ(got[2].args, std::vector<uint64_t>{0xdead});

    // 24 text bytes: the next text pushes the first one out.
    ASSERT_EQ(_jotlog1(h, 4, 0b1, jotlog_text_arg("abcdefghij")), ZERR_OK);
    ASSERT_EQ(_jotlog1(h, 5, 0b1, jotlog_text_arg(longer.c_str())), ZERR_OK);
    got = read_all("t/text");
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0].texts[1], "<lost>");
    EXPECT_EQ(got[3].texts[0], "<lost>");
    EXPECT_EQ(got[4].texts[0], std::string(24, 'y')) << "cut to the text store";
    jotlog_close(h);
}

// A group's records read back as single writes of the same records would, in order and with their
// texts, under the one stamp of the group; a start area that fills takes the records that fit.
TEST_F(Jotlog, GroupsAreWrittenWholeInOrderUnderOneStamp)
{
    struct case_type {
        uint32_t start, ring;
        std::vector<uint32_t> groups; // sizes, written one after the other
        std::vector<uint64_t> expect;
        zerrno last_rc;
    } cases[] = {
        {0, 16, {4, 1, 3}, range(1, 8), ZERR_OK},
        {0, 4, {3, 3}, range(3, 6), ZERR_OK},
        {2, 4, {4, 4}, {1, 2, 5, 6, 7, 8}, ZERR_OK},
        {5, 0, {4, 4}, range(1, 5), static_cast<zerrno>(ENOSPC)},
        {0, 4, {0}, {}, ZERR_OK},
    };
    struct stamped {
        uint64_t seq, time, id, arg0;
        std::string text;
    };
    int n = 0;
    plat_clock_use_virtual();
    for (const case_type &c : cases) {
        const std::string name = "t/group" + std::to_string(n++);
        jotlog_handle_type h = nullptr;
        ASSERT_EQ(jotlog_init2(name.c_str(), c.start, 256, c.ring, 256, 0, &h), ZERR_OK);
        zerrno rc = ZERR_OK;
        uint64_t written = 0;
        const uint64_t t0 = static_cast<uint64_t>(plat_clock_wall_ns());
        for (uint32_t size : c.groups) {
            std::vector<jotlog_entry_type> group(size);
            for (jotlog_entry_type &e : group) {
                ++written;
                e = {0x300 + written, 0b10, 2, {written, jotlog_text_arg(written % 2 != 0 ? "odd" : "even")}};
            }
            rc = jotlog_write_group(h, group.data(), size);
            ASSERT_EQ(plat_clock_advance_ms(1), ZERR_OK);
        }
        EXPECT_EQ(rc, c.last_rc) << name;
        jotlog_close(h);
        std::vector<stamped> got;
        ASSERT_EQ(jotlog_read(
                      name.c_str(),
                      [](const jotlog_record_type *r, void *ctx) {
                          const char *t = jotlog_record_text(r, 1);
                          static_cast<std::vector<stamped> *>(ctx)->push_back(
                              {r->seq, r->timestamp, r->id, r->args[0], t != nullptr ? t : "?"});
                          return true;
                      },
                      &got),
                  ZERR_OK);
        std::vector<uint64_t> seen;
        for (const stamped &r : got) {
            seen.push_back(r.seq);
            EXPECT_EQ(r.id, 0x300 + r.seq) << name;
            EXPECT_EQ(r.arg0, r.seq) << name;
            EXPECT_EQ(r.text, r.seq % 2 != 0 ? "odd" : "even") << name;
            // Its group's stamp: the clock moved 1 ms after each group.
            uint64_t group = 0;
            for (uint64_t before = c.groups[0]; before < r.seq; before += c.groups[++group]) {
            }
            EXPECT_EQ(r.time, t0 + 1000000 * group) << name << " seq " << r.seq;
        }
        EXPECT_EQ(seen, c.expect) << name;
    }
    plat_clock_use_real();
    EXPECT_EQ(jotlog_write_group(nullptr, nullptr, 0), static_cast<zerrno>(EINVAL));
}

TEST_F(Jotlog, ReaderSeesWhatAnotherProcessWroteAfterItIsGone)
{
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        jotlog_handle_type h = nullptr;
        if (jotlog_init2("ptp/tessel/det", 0, 0, 4, 256, 0, &h) != ZERR_OK)
            _exit(1);
        for (uint64_t i = 1; i <= 6; ++i)
            _jotlog2(h, 0x20010065eull, 0b10, i, jotlog_text_arg("Gi0/1"));
        // Exit without closing: the mapping still reaches the file.
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    auto got = read_all("ptp/tessel/det");
    EXPECT_EQ(seqs(got), range(3, 6));
    for (auto &r : got)
        EXPECT_EQ(r.texts[1], "Gi0/1");

    // A restart with the same geometry continues the buffer; another geometry starts afresh.
    jotlog_handle_type h = nullptr;
    ASSERT_EQ(jotlog_init2("ptp/tessel/det", 0, 0, 4, 256, 0, &h), ZERR_OK);
    ASSERT_EQ(_jotlog0(h, 9), ZERR_OK);
    jotlog_close(h);
    EXPECT_EQ(seqs(read_all("ptp/tessel/det")), range(4, 7));
    ASSERT_EQ(jotlog_init2("ptp/tessel/det", 0, 0, 8, 256, 0, &h), ZERR_OK);
    ASSERT_EQ(_jotlog0(h, 9), ZERR_OK);
    jotlog_close(h);
    EXPECT_EQ(seqs(read_all("ptp/tessel/det")), range(1, 1));
}

// The instances of one program on two nodes keep a buffer each: one starting with another
// geometry on another node leaves the first one's file, and its mapping, alone (a shared file
// was truncated under the first, whose next record then died of SIGBUS).
TEST_F(Jotlog, EachNodeKeepsItsOwnBuffers)
{
    setenv("PTP_NODE", "0/1/CPU0", 1);
    jotlog_handle_type h = nullptr;
    ASSERT_EQ(jotlog_init2("ptp/tessel/det", 0, 0, 64, 4096, 0, &h), ZERR_OK);
    ASSERT_EQ(_jotlog0(h, 1), ZERR_OK);
    EXPECT_EQ(jotlog_file_path("ptp/tessel/det"), dir + "/jotlog/0_1_CPU0/ptp/tessel/det");

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("PTP_NODE", "0/2/CPU0", 1);
        jotlog_handle_type other = nullptr;
        // Not this process's open of the name: the child has its own.
        jotlog_close(h);
        if (jotlog_init2("ptp/tessel/det", 0, 0, 4, 256, 0, &other) != ZERR_OK || _jotlog0(other, 2) != ZERR_OK)
            _exit(1);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    for (uint64_t i = 2; i <= 40; ++i)
        ASSERT_EQ(_jotlog0(h, i), ZERR_OK);
    jotlog_close(h);
    EXPECT_EQ(seqs(read_all("ptp/tessel/det")), range(1, 40));
    setenv("PTP_NODE", "0/2/CPU0", 1);
    EXPECT_EQ(seqs(read_all("ptp/tessel/det")), range(1, 1));
    unsetenv("PTP_NODE");
    EXPECT_EQ(jotlog_file_path("ptp/tessel/det"), dir + "/jotlog/ptp/tessel/det");
}

TEST_F(Jotlog, BadNamesArgumentsAndFilesAreRefused)
{
    jotlog_handle_type h = nullptr;
    for (const char *bad : {"", "/abs", "../up", "a//b", "a/./b", "a/..", "sp ace", "a/"})
        EXPECT_EQ(jotlog_init2(bad, 0, 0, 8, 8, 0, &h), static_cast<zerrno>(EINVAL)) << bad;
    EXPECT_EQ(jotlog_init2("ok", 0, 0, 0, 0, 0, &h), static_cast<zerrno>(EINVAL));
    EXPECT_EQ(jotlog_init2("ok", 0, 0, 8, 8, 1, &h), static_cast<zerrno>(EINVAL));
    EXPECT_EQ(_jotlog0(nullptr, 1), static_cast<zerrno>(EINVAL));
    ASSERT_EQ(jotlog_init2("ok", 0, 0, 8, 8, 0, &h), ZERR_OK);
    jotlog_handle_type again = nullptr;
    EXPECT_EQ(jotlog_init2("ok", 0, 0, 8, 8, 0, &again), static_cast<zerrno>(EEXIST));
    EXPECT_EQ(_jotlog(h, 1, 0, nullptr, 2), static_cast<zerrno>(EINVAL));
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(_jotlog1(h, 1, 0, i), ZERR_OK);
    jotlog_close(h);

    read_all("missing", static_cast<zerrno>(ENOENT));
    std::string path = jotlog_file_path("ok");
    // A damaged record (argument count out of range) is skipped; a cut file is refused.
    {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(256 + 128 + 24); // second slot's argument count
        f.put(static_cast<char>(0x7f));
    }
    EXPECT_EQ(seqs(read_all("ok")), (std::vector<uint64_t>{1, 3}));
    ASSERT_EQ(truncate(path.c_str(), 300), 0);
    read_all("ok", static_cast<zerrno>(EBADMSG));
    ASSERT_EQ(truncate(path.c_str(), 10), 0);
    read_all("ok", static_cast<zerrno>(EBADMSG));
}

int decode(const jotlog_record_type *r, uint64_t ctx, char *buf, size_t size)
{
    if ((r->id & 0xfff00000u) != 0x100000u)
        return -1;
    const char *t = jotlog_record_text(r, 1);
    snprintf(buf, size, "[Main] ctx %lu: %lu %s", static_cast<unsigned long>(ctx),
             static_cast<unsigned long>(r->args[0]), t ? t : "-");
    return 0;
}

TEST_F(Jotlog, ShowMergesBuffersInTimeOrderAndDecodes)
{
    plat_clock_use_virtual(); // 2024-01-01T00:00:00Z
    jotlog_handle_type a = nullptr, b = nullptr;
    ASSERT_EQ(jotlog_init2("p/a", 0, 0, 8, 64, 0, &a), ZERR_OK);
    ASSERT_EQ(jotlog_init2("p/b", 0, 0, 8, 64, 0, &b), ZERR_OK);
    _jotlog2(a, 0x100000ull | 2ull << 32, 0b10, 1, jotlog_text_arg("first"));
    ASSERT_EQ(plat_clock_advance_ms(1), ZERR_OK);
    _jotlog2(b, 0x200005ull, 0b10, 2, jotlog_text_arg("x"));
    ASSERT_EQ(plat_clock_advance_ms(1), ZERR_OK);
    _jotlog1(a, 0x100001ull, 0, 3);
    jotlog_close(a);
    jotlog_close(b);
    plat_clock_use_real();

    char *text = nullptr;
    size_t len = 0;
    FILE *out = open_memstream(&text, &len);
    jotlog_show_set_output(out);
    const char *buffers[] = {"p/a", "p/missing", "p/b", nullptr};
    char arg0[] = "tool", arg1[] = "-Bi", arg2[] = "-n", arg3[] = "5";
    char *argv[] = {arg0, arg1, arg2, arg3, nullptr};
    EXPECT_EQ(jotlog_show(4, argv, "ABin:", 7, decode, buffers), 0);
    jotlog_show_set_output(nullptr);
    fclose(out);
    std::string pid = std::to_string(getpid());
    EXPECT_EQ(std::string(text, len), "2024-01-01 00:00:00.000000 p/a " + pid +
                                          ": [0x0000000200100000] [Main] ctx 7: 1 first\n"
                                          "2024-01-01 00:00:00.001000 p/b " +
                                          pid +
                                          ": [0x0000000000200005] id 0x0000000000200005 0x2 \"x\"\n"
                                          "2024-01-01 00:00:00.002000 p/a " +
                                          pid + ": [0x0000000000100001] [Main] ctx 7: 3 -\n");
    free(text);
}

// A buffer file cut short or damaged in its header is said so on stderr and its records are not
// shown; the whole buffers beside it are.
TEST_F(Jotlog, ShowReportsADamagedOrTruncatedBuffer)
{
    plat_clock_use_virtual();
    for (const char *name : {"p/whole", "p/cut", "p/bad"}) {
        jotlog_handle_type h = nullptr;
        ASSERT_EQ(jotlog_init2(name, 0, 0, 8, 64, 0, &h), ZERR_OK);
        _jotlog1(h, 0x100000ull | 1ull << 32, 0, 5);
        jotlog_close(h);
    }
    plat_clock_use_real();
    ASSERT_EQ(truncate(jotlog_file_path("p/cut").c_str(), 256 + 64), 0);
    {
        std::fstream f(jotlog_file_path("p/bad"), std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(16); // the slot size
        f.put(static_cast<char>(0x7f));
    }
    char *text = nullptr;
    size_t len = 0;
    FILE *out = open_memstream(&text, &len);
    jotlog_show_set_output(out);
    const char *buffers[] = {"p/cut", "p/whole", "p/bad", "p/missing", nullptr};
    char arg0[] = "tool";
    char *argv[] = {arg0, nullptr};
    testing::internal::CaptureStderr();
    EXPECT_EQ(jotlog_show(1, argv, "", 0, decode, buffers), 0);
    const std::string err = testing::internal::GetCapturedStderr();
    jotlog_show_set_output(nullptr);
    fclose(out);
    EXPECT_EQ(std::string(text, len),
              "2024-01-01 00:00:00.000000 p/whole " + std::to_string(getpid()) + ": [Main] ctx 0: 5 -\n");
    EXPECT_EQ(err, "p/cut: cannot read trace buffer (" + jotlog_file_path("p/cut") +
                       "): damaged or truncated file\n"
                       "p/bad: cannot read trace buffer (" +
                       jotlog_file_path("p/bad") + "): damaged or truncated file\n");
    free(text);
}

// The test-control lines: ids in hexadecimal, numbers unsigned, texts bare or quoted; a buffer
// without a file reads as no lines.
TEST_F(Jotlog, TestRecordsAsLines)
{
    jotlog_handle_type h = nullptr;
    ASSERT_EQ(jotlog_init2("t/lines", 0, 0, 16, 256, 0, &h), ZERR_OK);
    ASSERT_EQ(_jotlog0(h, 0x1004f5), ZERR_OK);
    ASSERT_EQ(_jotlog3(h, 0x1020300100002ull, 0b010, 257, jotlog_text_arg("not "), ~0ull), ZERR_OK);
    jotlog_close(h);
    EXPECT_EQ(jotlog_test_records("t/lines"),
              (std::vector<std::string>{"0x1004f5()", "0x1020300100002(257,not ,18446744073709551615)"}));
    EXPECT_EQ(jotlog_test_records("t/lines", "'"),
              (std::vector<std::string>{"0x1004f5()", "0x1020300100002(257,'not ',18446744073709551615)"}));
    EXPECT_TRUE(jotlog_test_records("t/none").empty());
}

} // namespace
