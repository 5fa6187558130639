#include <string>

#include <gtest/gtest.h>

#include "plat_clock_test.h"
#include "ptp_syslog.h"
#include "qor_log.h"

namespace {

class PtpSyslog : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Each test a fresh virtual hour, so that no rate limit carries over between tests.
        static uint64_t start_s = 100000;
        start_s += 3600;
        plat_clock_use_virtual_at(start_s * 1000000000ull, PLAT_CLOCK_VIRTUAL_WALL_START_S);
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();
    }
    void TearDown() override { plat_clock_use_real(); }

    static qor_captured_msg only_message()
    {
        auto msgs = qor_errmsg_captured();
        EXPECT_EQ(msgs.size(), 1u);
        return msgs.empty() ? qor_captured_msg{} : msgs.front();
    }
};

struct TextCase {
    const char *name;
    zerrno (*raise)();
    const char *mnemonic;
    int severity;
    uint32_t msg_id;
    const char *text;
};

const TextCase text_cases[] = {
    {"timer", [] { return ptp_syslog_timer("starting timer", "Invalid argument"); }, "TIMER", 4, 0x0FE5001B,
     "Unexpected error encountered whilst starting timer: Invalid argument"},
    {"best_master",
     [] {
         return ptp_syslog_best_master_clock_change("Ethernet 00:11:22:33:44:55", 0x0011223344556677ull, 6,
                                                    0x8899aabbccddeeffull, 0x1ull, 248);
     },
     "BEST_MASTER_CLOCK_CHANGE", 6, 0x0FE50000,
     "Best master clock change, new master Ethernet 00:11:22:33:44:55, clock ID 0x11223344556677, "
     "clock class 6, parent clock ID 0x8899aabbccddeeff. Old clock ID 0x1, old clock class 248"},
    {"mem_alloc", [] { return ptp_syslog_mem_alloc(24, "Unicast peer list entry"); }, "MEM_ALLOC", 4, 0x0FE5000C,
     "Failed to allocate 24 bytes for 'Unicast peer list entry'"},
    {"leap", [] { return ptp_syslog_invalid_upcoming_leap_second(37, -1); }, "INVALID_UPCOMING_LEAP_SECOND", 4,
     0x0FE50009, "Invalid UTC offset change scheduled at midnight (+37 -> -1)"},
    {"port_conflict", [] { return ptp_syslog_port_num_conflict(7, 0x1a0, 0xbeef); }, "PORT_NUM_CONFLICT", 4, 0x0FE50013,
     "Port number 7 allocation conflict between <<CH000001a0>> and <<CH0000beef>>"},
    {"milestone", [] { return ptp_syslog_milestone_comm_failed("Sync V1 State via Chkpt", "met", "Invalid argument"); },
     "MILESTONE_COMM_FAILED", 3, 0x0FE50010,
     "Failed to inform ZURO Vuri that milestone Sync V1 State via Chkpt has been met: Invalid argument"},
    {"no_args", [] { return ptp_syslog_repeated_timestamp_failure(); }, "REPEATED_TIMESTAMP_FAILURE", 3, 0x0FE50017,
     "Repeated failure to obtain current PTP timestamp"},
    {"null_text", [] { return ptp_syslog_init_failed("Failed to initialize jotlog: ", nullptr); }, "INIT_FAILED", 4,
     0x0FE50007, "Failed to initialize: Failed to initialize jotlog: "},
    {"vlan", [] { return ptp_syslog_vlan_tag_gen_failed("GigabitEthernet0/0/0/1"); }, "VLAN_TAG_GEN_FAILED", 4,
     0x0FE5001C, "Failed to generate VLAN tag stack for GigabitEthernet0/0/0/1"},
};

TEST_F(PtpSyslog, RaisesExactTexts)
{
    for (const TextCase &c : text_cases) {
        SCOPED_TRACE(c.name);
        qor_errmsg_capture_clear();
        EXPECT_EQ(c.raise(), ZERR_OK);
        qor_captured_msg m = only_message();
        EXPECT_EQ(m.mnemonic, c.mnemonic);
        EXPECT_EQ(m.facility, "PTP");
        EXPECT_EQ(m.category, "L2");
        EXPECT_EQ(m.severity, c.severity);
        EXPECT_EQ(m.msg_id, c.msg_id);
        EXPECT_EQ(m.text, c.text);
    }
}

TEST_F(PtpSyslog, DefinitionAndLimitRecords)
{
    struct RecCase {
        const qor_msg_rec_type *rec;
        const qor_msg_limit_type *limit;
        const char *mnemonic;
        uint32_t severity;
        uint32_t preset;
        uint32_t msg_id;
    };
    const RecCase cases[] = {
        {qor_msg_rec_ptp_timer_getfn(), qor_msg_limit_ptp_timer_getfn(), "TIMER", 4, 1, 0x0FE5001B},
        {qor_msg_rec_ptp_mem_alloc_getfn(), qor_msg_limit_ptp_mem_alloc_getfn(), "MEM_ALLOC", 4, 60, 0x0FE5000C},
        {qor_msg_rec_ptp_file_download_failed_getfn(), qor_msg_limit_ptp_file_download_failed_getfn(),
         "FILE_DOWNLOAD_FAILED", 5, 300, 0x0FE50005},
        {qor_msg_rec_ptp_best_master_clock_change_getfn(), qor_msg_limit_ptp_best_master_clock_change_getfn(),
         "BEST_MASTER_CLOCK_CHANGE", 6, 0, 0x0FE50000},
    };
    for (const RecCase &c : cases) {
        SCOPED_TRACE(c.mnemonic);
        EXPECT_STREQ(c.rec->mnemonic, c.mnemonic);
        EXPECT_STREQ(c.rec->facility, "PTP");
        EXPECT_STREQ(c.rec->category, "L2");
        EXPECT_EQ(c.rec->severity, c.severity << 16);
        EXPECT_EQ(c.rec->msg_id, c.msg_id);
        EXPECT_EQ(c.rec->limit, c.limit);
        EXPECT_EQ(c.rec->reserved0, 0u);
    }
    // Four messages share one text and differ in mnemonic, id and limit.
    for (uint32_t i : {PTP_SYSLOG_MGD_TIMER, PTP_SYSLOG_SPIO, PTP_SYSLOG_STATS_DB_ERROR})
        EXPECT_STREQ(ptp_syslog_msg_rec(i)->format, qor_msg_rec_ptp_timer_getfn()->format);
    EXPECT_EQ(PTP_SYSLOG_MSG_COUNT, 29u);
    EXPECT_EQ(ptp_syslog_msg_rec(PTP_SYSLOG_MSG_COUNT), nullptr);
}

// The preset of the limit record holds a message back within its interval.
TEST_F(PtpSyslog, RateLimitFromPreset)
{
    EXPECT_EQ(ptp_syslog_mem_alloc(8, "a"), ZERR_OK);
    EXPECT_NE(ptp_syslog_mem_alloc(8, "b"), ZERR_OK);
    ASSERT_EQ(plat_clock_advance_s(60), ZERR_OK);
    EXPECT_EQ(ptp_syslog_mem_alloc(8, "c"), ZERR_OK);
    auto msgs = qor_errmsg_captured();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[1].text, "Failed to allocate 8 bytes for 'c'");
    // No preset: no limit.
    EXPECT_EQ(ptp_syslog_best_master_clock_removed(), ZERR_OK);
    EXPECT_EQ(ptp_syslog_best_master_clock_removed(), ZERR_OK);
}

} // namespace
