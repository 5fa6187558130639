// The leap-second database on virtual time. The platform's PTP time follows the virtual wall clock
// (UTC plus 37 s) through the platform library's test control; list files are served from local
// files and, for an error page, from a small HTTP server thread; selection and the upgrade role
// are the recording fakes; the "UTC Info" record lives in the in-memory checkpoint store.
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <bit>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "chkpt.h"
#include "chkpt_test.h"
#include "evm.h"
#include "plat_clock.h"
#include "plat_clock_test.h"
#include "plat_debug.h"
#include "ptp_debug.h"
#include "ptp_platform_test.h"
#include "ptp_timer.h"
#include "qor_log.h"
#include "quorrin_debug.h"
#include "quorrin_fakes.h"
#include "quorrin_leap_seconds.h"

namespace {

constexpr time_t DAY = 86400;
// The virtual wall clock starts at 2026-12-31 10:00:00 UTC; the next midnight is 2027-01-01.
constexpr time_t START = 1798711200;
constexpr time_t MIDNIGHT = 1798761600;
constexpr int64_t TAI_UTC = 37;
// NTP seconds of a UTC time.
constexpr uint64_t ntp(time_t utc)
{
    return static_cast<uint64_t>(utc) + 2208988800u;
}
// The list's first and latest lines, as the published file has them.
const std::string BASE = "2272060800\t10\t# 1 Jan 1972\n3692217600\t37\t# 1 Jan 2017\n";
const std::vector<std::pair<time_t, int>> BASE_ENTRIES = {{63072000, 10}, {1483228800, 37}};

using entries_type = std::vector<std::pair<time_t, int>>;

debug_event_type debug_table[QUORRIN_DEBUG_AREA_COUNT];

bool clock_now(ptp_servo_timestamp_type *out)
{
    const int64_t ns = plat_clock_wall_ns();
    out->seconds = static_cast<uint64_t>(ns / 1000000000 + TAI_UTC);
    out->nanoseconds = static_cast<uint32_t>(ns % 1000000000);
    return true;
}
bool clock_step(int64_t)
{
    return true;
}
bool clock_correct(double)
{
    return true;
}
const ptp_platform_clock_ops_type clock_ops{clock_now, clock_step, clock_correct};

// Answers every connection with one fixed response.
class http_server_type {
public:
    explicit http_server_type(std::string response) : response_(std::move(response))
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr *>(&address), length) != 0 || listen(fd_, 4) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
            ADD_FAILURE() << "no local HTTP server";
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~http_server_type()
    {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/leap-seconds.list"; }

private:
    void serve()
    {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) {
                continue;
            }
            const int conn = accept(fd_, nullptr, nullptr);
            if (conn < 0) {
                continue;
            }
            std::string request;
            char buffer[1024];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = read(conn, buffer, sizeof(buffer));
                if (n <= 0) {
                    break;
                }
                request.append(buffer, static_cast<size_t>(n));
            }
            (void)!write(conn, response_.data(), response_.size());
            close(conn);
        }
    }

    std::string response_;
    int fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class LeapSeconds : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat_clock_use_virtual_at(PLAT_CLOCK_VIRTUAL_MONO_START_NS, START);
        chkpt_test_reset(":memory:");
        quorrin_fake_reset();
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();
        ptp_platform_test_reset();
        ptp_platform_test_set_clock_ops(&clock_ops);
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_EQ(ptp_debug_register(evm, debug_table, quorrin_debug_areas, QUORRIN_DEBUG_AREA_COUNT, nullptr), 0u);
        debug_set_area(PTP_DEBUG_PATH, "leap_seconds", nullptr);
        ASSERT_EQ(ptp_timer_init(evm, 1000, 32, nullptr, nullptr, quorrin_debug_area("main"), debug_table), 0u);
        chkpt_appdesc_type desc;
        chkpt_appdesc_init(&desc);
        std::strcpy(desc.name, "ptp_ctrl");
        desc.flags = 1;
        ASSERT_EQ(chkpt_init(evm, &desc), 0u);
        ASSERT_EQ(chkpt_go_primary_active(), 0u);
        char pattern[] = "/tmp/quorrin_leap_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        start();
    }
    void TearDown() override
    {
        quorrin_leap_seconds_shutdown();
        ptp_timer_shutdown();
        ptp_debug_cleanup();
        event_manager_destroy(evm);
        chkpt_test_reset(":memory:");
        ptp_platform_test_reset();
        plat_clock_use_real();
        std::filesystem::remove_all(dir);
    }

    void start()
    {
        ASSERT_EQ(quorrin_leap_seconds_init(evm), 0u);
        ASSERT_EQ(quorrin_leap_seconds_start_updates(), 0u);
        clear();
    }
    // A fresh start for the next row of a table: clock, store and module.
    void restart()
    {
        TearDown();
        SetUp();
    }
    void clear()
    {
        quorrin_fake_calls().clear();
        qor_errmsg_capture_clear();
        ptp_platform_test_calls_clear();
    }

    // The PTP timescale under the default profile, with a configured offset of 37 s from the
    // beginning, so that UTC information is needed and the platform time reads as UTC.
    void ptp_with_offset()
    {
        quorrin_leap_seconds_timescale_update(0);
        quorrin_leap_seconds_cfg_offset_apply(37, 0);
        ASSERT_EQ(current().utc_offset, 37);
        clear();
    }

    std::string write_file(const std::string &name, const std::string &text)
    {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return "file://" + path;
    }

    static quorrin_leap_seconds_offset_info_type current()
    {
        quorrin_leap_seconds_offset_info_type info{};
        quorrin_leap_seconds_get_current(&info);
        return info;
    }
    static quorrin_leap_seconds_summary_type summary()
    {
        quorrin_leap_seconds_summary_type out{};
        quorrin_leap_seconds_get_summary(&out);
        return out;
    }
    static entries_type entries()
    {
        entries_type out;
        for (auto *entry = quorrin_leap_seconds_db_first(); entry != nullptr; entry = entry->next) {
            out.emplace_back(entry->start, entry->offset);
        }
        EXPECT_EQ(out.size(), quorrin_leap_seconds_db_count());
        return out;
    }
    // What selection was told, as "leap offset valid".
    static std::vector<std::string> updates()
    {
        std::vector<std::string> out;
        const std::string prefix = "quorrin_bmc_leap_second_update ";
        for (const std::string &call : quorrin_fake_calls()) {
            if (call.starts_with(prefix)) {
                out.push_back(call.substr(prefix.size()));
            }
        }
        return out;
    }
    static std::vector<std::string> syslog()
    {
        std::vector<std::string> out;
        for (const qor_captured_msg &msg : qor_errmsg_captured()) {
            out.push_back(msg.mnemonic + ": " + msg.text);
        }
        return out;
    }
    static uint32_t time_reads()
    {
        return ptp_platform_test_call_count(ptp_platform_test_op::CLOCK_GET_CURRENT_TIMESTAMP);
    }
    static void advance_to(time_t utc)
    {
        ASSERT_EQ(plat_clock_advance_s(static_cast<uint64_t>(utc - plat_time(nullptr))), 0u);
    }

    event_mgr_type *evm = nullptr;
    std::string dir;
};

// ---- The list file ----

struct file_row {
    const char *what;
    std::string text;
    entries_type entries;
};

TEST_F(LeapSeconds, FileLinesBecomeEntries)
{
    ptp_with_offset();
    auto with_base = [](entries_type more) {
        entries_type out = BASE_ENTRIES;
        out.insert(out.end(), more.begin(), more.end());
        std::sort(out.begin(), out.end());
        return out;
    };
    const file_row rows[] = {
        {"tab-separated entries with comments", BASE, BASE_ENTRIES},
        {"blanks and carriage returns", "2272060800 10\r2287785600  11\r", {{63072000, 10}, {78796800, 11}}},
        {"one field, three fields and an 11-character field are skipped",
         BASE + "2287785600\n2287785600 11 12\n22877856000 11\n2287785600 000000000011\n", BASE_ENTRIES},
        {"ten digits compare as text against 4294967295", BASE + "4294967295 38\n4294967296 39\n",
         with_base({{2085978495, 38}})},
        {"shorter fields parse from their leading digits", BASE + "2287785600 11abc\n228778560x 12\n",
         with_base({{78796800, 11}})},
        {"offsets from 65536 are skipped", BASE + "2287785600 65536\n", BASE_ENTRIES},
        {"a later line for the same start replaces the offset",
         BASE + "2272060800 11\n",
         {{63072000, 11}, {1483228800, 37}}},
        {"the last line needs no line end", "3692217600 37", {{1483228800, 37}}},
    };
    int n = 0;
    for (const file_row &row : rows) {
        SCOPED_TRACE(row.what);
        quorrin_leap_seconds_file_cfg_apply(write_file("list" + std::to_string(n++), row.text).c_str(), 0);
        EXPECT_EQ(entries(), row.entries);
        EXPECT_TRUE(syslog().empty());
    }

    // The file's entries replace the configured offset; without the file the database is empty
    // and nothing is left to advertise.
    EXPECT_EQ(summary().source_type, QUORRIN_LEAP_SECONDS_SOURCE_CONFIGURED);
    clear();
    quorrin_leap_seconds_file_cfg_delete();
    EXPECT_EQ(quorrin_leap_seconds_db_count(), 0u);
    EXPECT_EQ(updates(), std::vector<std::string>{"0 0 0"});
    EXPECT_FALSE(summary().has_file);
}

struct next_check_row {
    const char *what;
    uint32_t days;
    time_t next_check;       // after the first download
    bool reread_after_a_day; // the changed file is read when the day's timer fires
};

TEST_F(LeapSeconds, NextCheckFromTheExpiryOrThePollingInterval)
{
    const time_t expiry = START + 180 * DAY;
    const next_check_row rows[] = {
        {"the file's expiry", 0, expiry, false},
        {"a polling interval of two days", 2, START + 2 * DAY, false},
        {"a polling interval of one day", 1, START + DAY, true},
    };
    for (const next_check_row &row : rows) {
        SCOPED_TRACE(row.what);
        restart();
        ptp_with_offset();
        const std::string text = "#@\t" + std::to_string(ntp(expiry)) + "\n" + BASE;
        const std::string url = write_file("leap-seconds.list", text);
        const time_t now = plat_time(nullptr);
        quorrin_leap_seconds_file_cfg_apply(url.c_str(), row.days);
        EXPECT_EQ(summary().next_check, row.days == 0 ? expiry : now + row.days * DAY);
        EXPECT_EQ(summary().polling_days, row.days);

        write_file("leap-seconds.list", text + std::to_string(ntp(MIDNIGHT + 100 * DAY)) + "\t38\n");
        advance_to(now + DAY);
        EXPECT_EQ(quorrin_leap_seconds_db_count(), row.reread_after_a_day ? 3u : 2u);
    }
}

TEST_F(LeapSeconds, BadDownloadKeepsTheDatabase)
{
    ptp_with_offset();
    quorrin_leap_seconds_file_cfg_apply(write_file("good.list", BASE).c_str(), 0);
    ASSERT_EQ(entries(), BASE_ENTRIES);

    // Lines enough to pass the size limit, each of them a valid entry.
    std::string large;
    while (large.size() <= QUORRIN_LEAP_SECONDS_FILE_MAX_BYTES) {
        large += BASE;
    }
    http_server_type error_page("HTTP/1.0 404 Not Found\r\nContent-Length: " + std::to_string(BASE.size()) +
                                "\r\n\r\n" + BASE);
    const std::pair<const char *, std::string> sources[] = {
        {"a missing file", "file://" + dir + "/missing.list"},
        {"a file over the size limit", write_file("large.list", large)},
        {"an error page", error_page.url()},
        {"a file without entries", write_file("empty.list", "# nothing\n#@\t4007700000\n")},
    };
    for (const auto &[what, url] : sources) {
        SCOPED_TRACE(what);
        clear();
        // Past the message's rate limit.
        ASSERT_EQ(plat_clock_advance_s(301), 0u);
        quorrin_leap_seconds_file_cfg_apply(url.c_str(), 0);
        EXPECT_EQ(entries(), BASE_ENTRIES);
        EXPECT_EQ(syslog(), std::vector<std::string>{"FILE_DOWNLOAD_FAILED: Failed to download file from URL '" + url +
                                                     "' - will retry in 10 minutes"});
        EXPECT_EQ(summary().next_check, 1);
        EXPECT_TRUE(updates().empty());
    }
}

TEST_F(LeapSeconds, FailedDownloadIsRetriedAfterTenMinutes)
{
    ptp_with_offset();
    const std::string url = "file://" + dir + "/later.list";
    quorrin_leap_seconds_file_cfg_apply(url.c_str(), 0);
    EXPECT_EQ(quorrin_leap_seconds_db_count(), 1u); // the configured offset
    write_file("later.list", BASE + std::to_string(ntp(MIDNIGHT + 100 * DAY)) + "\t38\n");
    ASSERT_EQ(plat_clock_advance_s(QUORRIN_LEAP_SECONDS_FILE_RETRY_S - 1), 0u);
    EXPECT_EQ(quorrin_leap_seconds_db_count(), 1u);
    ASSERT_EQ(plat_clock_advance_s(1), 0u);
    EXPECT_EQ(quorrin_leap_seconds_db_count(), 3u);
    EXPECT_EQ(current().utc_offset, 37);
}

// ---- Scheduled offsets ----

struct scheduled_row {
    const char *what;
    int16_t offset;
    std::vector<std::string> before; // told to selection once scheduled
    std::vector<std::string> messages;
};

TEST_F(LeapSeconds, ScheduledOffsetIsAdvertisedAndAppliedAtMidnight)
{
    const scheduled_row rows[] = {
        {"one second more: leap 61", 38, {"2 37 1"}, {}},
        {"one second less: leap 59", 36, {"1 37 1"}, {}},
        {"two seconds more: no leap, and an error",
         39,
         {},
         {"INVALID_UPCOMING_LEAP_SECOND: Invalid UTC offset change scheduled at midnight (+37 -> +39)",
          "INVALID_LEAP_SECONDS_CONFIG: Leap seconds configuration implies an invalid UTC offset change"}},
    };
    for (const scheduled_row &row : rows) {
        SCOPED_TRACE(row.what);
        restart();
        ptp_with_offset();
        quorrin_leap_seconds_cfg_offset_apply(row.offset, MIDNIGHT);
        EXPECT_EQ(updates(), row.before);
        EXPECT_EQ(syslog(), row.messages);
        EXPECT_EQ(quorrin_leap_seconds_db_invalid(), !row.messages.empty());
        clear();
        advance_to(MIDNIGHT - 1);
        EXPECT_TRUE(updates().empty());
        advance_to(MIDNIGHT);
        EXPECT_EQ(updates(), std::vector<std::string>{"0 " + std::to_string(row.offset) + " 1"});
    }
}

TEST_F(LeapSeconds, OffsetTwoDaysAheadIsAdvertisedFromTheMidnightBefore)
{
    ptp_with_offset();
    quorrin_leap_seconds_cfg_offset_apply(38, MIDNIGHT + DAY);
    EXPECT_TRUE(updates().empty());
    EXPECT_EQ(quorrin_leap_seconds_db_invalid(), false);
    advance_to(MIDNIGHT);
    EXPECT_EQ(updates(), std::vector<std::string>{"2 37 1"});
    advance_to(MIDNIGHT + DAY);
    EXPECT_EQ(updates(), (std::vector<std::string>{"2 37 1", "0 38 1"}));
}

TEST_F(LeapSeconds, DeletedScheduledOffsetIsNoLongerAdvertised)
{
    ptp_with_offset();
    quorrin_leap_seconds_cfg_offset_apply(38, MIDNIGHT);
    quorrin_leap_seconds_cfg_offset_delete(MIDNIGHT);
    EXPECT_EQ(updates(), (std::vector<std::string>{"2 37 1", "0 37 1"}));
    advance_to(MIDNIGHT + DAY);
    EXPECT_EQ(updates().size(), 2u);
    EXPECT_EQ(entries(), (entries_type{{0, 37}}));
}

// ---- Best information ----

enum class gm_kind {
    NO_GM,
    PRESENT,
    LOST
};
enum class hw_kind {
    NO_HW,
    VALID,
    INVALID
};

struct select_row {
    const char *what;
    gm_kind gm;
    uint32_t gm_valid;
    bool configured;
    hw_kind hardware;
    uint8_t timescale;
    uint32_t profile;
    uint8_t source;
    quorrin_leap_seconds_offset_info_type result;
};

TEST_F(LeapSeconds, BestInformationInOrder)
{
    using enum gm_kind;
    using enum hw_kind;
    constexpr auto NONE = QUORRIN_LEAP_SECONDS_SOURCE_NONE;
    constexpr auto GM = QUORRIN_LEAP_SECONDS_SOURCE_GM;
    constexpr auto CFG = QUORRIN_LEAP_SECONDS_SOURCE_CONFIGURED;
    constexpr auto PREV = QUORRIN_LEAP_SECONDS_SOURCE_PREVIOUS_GM;
    constexpr auto HW = QUORRIN_LEAP_SECONDS_SOURCE_HARDWARE;
    // Offsets: grandmaster 37, configuration 36, hardware 35.
    const select_row rows[] = {
        {"arbitrary timescale: none", PRESENT, 1, true, VALID, 1, 0, NONE, {0, 0, 0}},
        {"G.8265.1: none", PRESENT, 1, true, VALID, 0, 1, NONE, {0, 0, 0}},
        {"present grandmaster first", PRESENT, 1, true, VALID, 0, 0, GM, {1, 37, 0}},
        {"configuration before a grandmaster without a valid offset", PRESENT, 0, true, VALID, 0, 0, CFG, {1, 36, 0}},
        {"configuration before a previous grandmaster", LOST, 1, true, VALID, 0, 0, CFG, {1, 36, 0}},
        {"previous grandmaster before hardware", LOST, 1, false, VALID, 0, 0, PREV, {1, 37, 0}},
        {"hardware before a grandmaster without a valid offset", PRESENT, 0, false, VALID, 0, 0, HW, {1, 35, 0}},
        {"a grandmaster without a valid offset", PRESENT, 0, false, INVALID, 0, 0, GM, {0, 37, 0}},
        {"a previous grandmaster without a valid offset", LOST, 0, false, INVALID, 0, 0, PREV, {0, 37, 0}},
        {"hardware without a valid offset", NO_GM, 0, false, INVALID, 0, 0, HW, {0, 35, 0}},
        {"nothing", NO_GM, 0, false, NO_HW, 0, 0, NONE, {0, 0, 0}},
    };
    for (const select_row &row : rows) {
        SCOPED_TRACE(row.what);
        restart();
        quorrin_leap_seconds_profile_update(row.profile);
        quorrin_leap_seconds_timescale_update(row.timescale);
        if (row.configured) {
            quorrin_leap_seconds_cfg_offset_apply(36, 0);
        }
        if (row.hardware != NO_HW) {
            quorrin_leap_seconds_platform_update(true, 35, row.hardware == VALID ? 1 : 0, 0);
        }
        if (row.gm != NO_GM) {
            quorrin_leap_seconds_gm_update(37, row.gm_valid, 0);
        }
        if (row.gm == LOST) {
            quorrin_leap_seconds_gm_lost();
        }
        const auto result = current();
        EXPECT_EQ(summary().source_type, row.source);
        EXPECT_EQ(result.offset_valid, row.result.offset_valid);
        EXPECT_EQ(result.utc_offset, row.result.utc_offset);
        EXPECT_EQ(result.leap_seconds, row.result.leap_seconds);
        if (row.source == NONE) {
            EXPECT_TRUE(updates().empty());
        } else {
            EXPECT_EQ(updates().back(), std::to_string(row.result.leap_seconds) + " " +
                                            std::to_string(row.result.utc_offset) + " " +
                                            std::to_string(row.result.offset_valid));
        }
        if (row.timescale == 1 || row.profile == 1) {
            EXPECT_EQ(time_reads(), 0u);
        }
    }
}

TEST_F(LeapSeconds, PendingWorkWaitsForThePtpTimescale)
{
    quorrin_leap_seconds_cfg_offset_apply(36, 0);
    quorrin_leap_seconds_gm_update(37, 1, 2);
    quorrin_leap_seconds_gm_lost();
    EXPECT_EQ(time_reads(), 0u);
    EXPECT_EQ(current().offset_valid, 0u);
    EXPECT_FALSE(summary().has_gm_leap);

    quorrin_leap_seconds_timescale_update(0);
    EXPECT_GT(time_reads(), 0u);
    EXPECT_EQ(summary().source_type, QUORRIN_LEAP_SECONDS_SOURCE_CONFIGURED);
    EXPECT_EQ(summary().gm_leap_time, MIDNIGHT);
    EXPECT_EQ(updates(), std::vector<std::string>{"0 36 1"});
}

// ---- The grandmaster's leap ----

TEST_F(LeapSeconds, LostGrandmastersLeapIsAppliedAtMidnight)
{
    quorrin_leap_seconds_timescale_update(0);
    quorrin_leap_seconds_gm_update(37, 1, 2);
    EXPECT_EQ(updates(), std::vector<std::string>{"2 37 1"});
    const auto pending = summary();
    EXPECT_TRUE(pending.has_gm_leap);
    EXPECT_EQ(pending.gm_leap_time, MIDNIGHT);
    EXPECT_EQ(pending.gm_leap_offset, 38);
    EXPECT_EQ(pending.gm_leap_change, 1);

    quorrin_leap_seconds_gm_lost();
    EXPECT_EQ(summary().source_type, QUORRIN_LEAP_SECONDS_SOURCE_PREVIOUS_GM);
    advance_to(MIDNIGHT - 1);
    EXPECT_EQ(updates(), std::vector<std::string>{"2 37 1"});
    advance_to(MIDNIGHT);
    EXPECT_EQ(updates(), (std::vector<std::string>{"2 37 1", "0 38 1"}));
    EXPECT_FALSE(summary().has_gm_leap);
}

// ---- The platform's time ----

TEST_F(LeapSeconds, RepeatedTimestampFailureIsReportedEvery300Failures)
{
    ptp_platform_test_set_result(ptp_platform_test_op::CLOCK_GET_CURRENT_TIMESTAMP, 0x47f28400);
    quorrin_leap_seconds_timescale_update(0);
    quorrin_leap_seconds_cfg_offset_apply(37, 0);
    EXPECT_EQ(time_reads(), 1u);
    ASSERT_EQ(plat_clock_advance_s(QUORRIN_LEAP_SECONDS_TIMESTAMP_FAILURE_LIMIT - 2), 0u);
    EXPECT_EQ(time_reads(), QUORRIN_LEAP_SECONDS_TIMESTAMP_FAILURE_LIMIT - 1);
    EXPECT_TRUE(syslog().empty());
    ASSERT_EQ(plat_clock_advance_s(1), 0u);
    EXPECT_EQ(syslog(), std::vector<std::string>{"REPEATED_TIMESTAMP_FAILURE: Repeated failure to obtain current PTP "
                                                 "timestamp"});
    EXPECT_EQ(current().offset_valid, 0u);

    // The platform answers again: the waiting work is done and the retries stop.
    ptp_platform_test_set_result(ptp_platform_test_op::CLOCK_GET_CURRENT_TIMESTAMP, 0);
    ASSERT_EQ(plat_clock_advance_s(1), 0u);
    EXPECT_EQ(updates(), std::vector<std::string>{"0 37 1"});
    const uint32_t reads = time_reads();
    ASSERT_EQ(plat_clock_advance_s(10), 0u);
    EXPECT_EQ(time_reads(), reads);
}

// ---- The "UTC Info" checkpoint record ----

class LeapSecondsChkpt : public LeapSeconds {
protected:
    // The table as the module left it (the module is shut down meanwhile).
    template <typename F>
    void with_table(F f)
    {
        quorrin_leap_seconds_shutdown();
        chkpt_tbldesc_type desc;
        chkpt_tbldesc_init(&desc);
        desc.table_id = QUORRIN_LEAP_SECONDS_TABLE_ID;
        desc.record_size = QUORRIN_LEAP_SECONDS_CHKPT_SIZE;
        desc.max_records = 4;
        chkpt_tbl_type *table = nullptr;
        ASSERT_EQ(chkpt_register(&desc, &table), 0u);
        f(table);
        chkpt_unregister(table);
    }
    static std::vector<uint8_t> record(chkpt_tbl_type *table)
    {
        std::vector<uint8_t> bytes(64);
        uint32_t length = static_cast<uint32_t>(bytes.size());
        chkpt_objid objid = 0;
        EXPECT_EQ(chkpt_get_bykey(table, QUORRIN_LEAP_SECONDS_CHKPT_KEY, &objid, bytes.data(), &length), 0u);
        bytes.resize(length);
        return bytes;
    }
};

TEST_F(LeapSecondsChkpt, GrandmasterRecordBytesAndRecovery)
{
    static_assert(std::endian::native == std::endian::little, "the record is in host order");
    quorrin_leap_seconds_timescale_update(0);
    quorrin_leap_seconds_gm_update(37, 1, 2);
    static_assert(MIDNIGHT == 0x6B36EC80);
    const std::vector<uint8_t> expected = {1, 0, 0, 0, 37, 0, 2, 0, 0x80, 0xEC, 0x36, 0x6B, 0, 0, 0, 0};
    with_table([&](chkpt_tbl_type *table) { EXPECT_EQ(record(table), expected); });

    // A restarted controller takes the record as the previous grandmaster's and applies its leap
    // at the time recorded.
    start();
    auto recovered = summary();
    EXPECT_TRUE(recovered.has_previous_gm);
    EXPECT_EQ(recovered.previous_gm.utc_offset, 37);
    EXPECT_EQ(recovered.previous_gm.leap_seconds, 2);
    EXPECT_EQ(recovered.gm_leap_time, MIDNIGHT);
    quorrin_leap_seconds_timescale_update(0);
    EXPECT_EQ(updates(), std::vector<std::string>{"2 37 1"});
    advance_to(MIDNIGHT);
    EXPECT_EQ(updates(), (std::vector<std::string>{"2 37 1", "0 38 1"}));
    with_table([&](chkpt_tbl_type *table) {
        EXPECT_EQ(record(table), (std::vector<uint8_t>{1, 0, 0, 0, 38, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    });
}

TEST_F(LeapSecondsChkpt, OnlyThePrimaryWrites)
{
    quorrin_fake_ha_role() = 2;
    quorrin_leap_seconds_timescale_update(0);
    quorrin_leap_seconds_gm_update(37, 1, 2);
    EXPECT_EQ(chkpt_test_record_count(QUORRIN_LEAP_SECONDS_TABLE_ID), 0u);
    quorrin_fake_ha_role() = 1;
    quorrin_fake_main().kvolm_or_lc = false;
    quorrin_leap_seconds_gm_update(37, 1, 0);
    EXPECT_EQ(chkpt_test_record_count(QUORRIN_LEAP_SECONDS_TABLE_ID), 0u);
}

TEST_F(LeapSecondsChkpt, DamagedRecordIsDroppedAndOthersAreCleanedUp)
{
    with_table([](chkpt_tbl_type *table) {
        chkpt_objid id = 0;
        ASSERT_EQ(chkpt_create(table, QUORRIN_LEAP_SECONDS_CHKPT_KEY, &id), 0u);
        const uint8_t short_record[10] = {1, 0, 0, 0, 37};
        ASSERT_EQ(chkpt_save(table, id, short_record, sizeof(short_record)), 0u);
    });
    start();
    EXPECT_FALSE(summary().has_previous_gm);
    EXPECT_EQ(chkpt_test_record_count(QUORRIN_LEAP_SECONDS_TABLE_ID), 0u);

    with_table([](chkpt_tbl_type *table) {
        const uint8_t good[16] = {1, 0, 0, 0, 36};
        for (uint32_t key : {QUORRIN_LEAP_SECONDS_CHKPT_KEY, 7u}) {
            chkpt_objid id = 0;
            ASSERT_EQ(chkpt_create(table, key, &id), 0u);
            ASSERT_EQ(chkpt_save(table, id, good, sizeof(good)), 0u);
        }
    });
    start();
    EXPECT_EQ(summary().previous_gm.utc_offset, 36);
    quorrin_leap_seconds_chkpt_delete_all();
    EXPECT_EQ(chkpt_test_record_count(QUORRIN_LEAP_SECONDS_TABLE_ID), 1u);
}

} // namespace
