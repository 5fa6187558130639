#include "qor_log.h"

#include <gtest/gtest.h>

#include <syslog.h>

#include "plat_clock_test.h"

namespace {

qor_msg_limit_type mem_limit{60, 0, 0, 0, 0, 0};
const qor_msg_rec_type mem_alloc{
    0, "Failed to allocate %u bytes for '%s'", &mem_limit, "PTP", "L2", "MEM_ALLOC", 4u << 16, {}, 0x0FE5000C, 0};
const qor_msg_rec_type init_failed{
    0, "Failed to initialize: %s%s", nullptr, "PTP", "L2", "INIT_FAILED", 4u << 16, {}, 0x0FE50007, 0};

class QorLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat_clock_use_virtual();
        mem_limit = {60, 0, 0, 0, 0, 0};
        qor_errmsg_capture_clear();
    }
    void TearDown() override { plat_clock_use_real(); }
};

TEST_F(QorLog, MessageTextAndLineAreExact)
{
    zq_openlog("tessel", LOG_PID | LOG_CONS | LOG_NDELAY, LOG_DAEMON);
    EXPECT_STREQ(zq_log_ident(), "tessel");
    ASSERT_EQ(qor_errmsg(&init_failed, 4, "Failed to register debug: ", "Out of memory"), ZERR_OK);
    auto got = qor_errmsg_captured();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].text, "Failed to initialize: Failed to register debug: Out of memory");
    EXPECT_EQ(got[0].line, "%L2-PTP-4-INIT_FAILED : Failed to initialize: Failed to register debug: Out of memory");
    EXPECT_EQ(got[0].mnemonic, "INIT_FAILED");
    EXPECT_EQ(got[0].severity, 4);
    EXPECT_EQ(got[0].msg_id, 0x0FE50007u);
    EXPECT_EQ(qor_errmsg(nullptr, 4), static_cast<zerrno>(EINVAL));
}

TEST_F(QorLog, RateLimitDropsRepeatsWithinTheIntervalAndCountsThem)
{
    qor_errmsg_set_syslog(false);
    EXPECT_EQ(qor_errmsg(&mem_alloc, 4, 24u, "Unicast peer list entry"), ZERR_OK);
    ASSERT_EQ(plat_clock_advance_s(59), ZERR_OK);
    EXPECT_EQ(qor_errmsg(&mem_alloc, 4, 24u, "again"), static_cast<zerrno>(EAGAIN));
    EXPECT_EQ(qor_errmsg(&mem_alloc, 4, 24u, "again"), static_cast<zerrno>(EAGAIN));
    EXPECT_EQ(mem_limit.suppressed, 2u);
    // Another message is not held back by this one's limit.
    EXPECT_EQ(qor_errmsg(&init_failed, 4, "a", "b"), ZERR_OK);
    ASSERT_EQ(plat_clock_advance_s(1), ZERR_OK);
    EXPECT_EQ(qor_errmsg(&mem_alloc, 4, 8u, "later"), ZERR_OK);
    EXPECT_EQ(mem_limit.suppressed, 0u);
    auto got = qor_errmsg_captured();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].text, "Failed to allocate 24 bytes for 'Unicast peer list entry'");
    EXPECT_EQ(got[2].text, "Failed to allocate 8 bytes for 'later'");
    qor_errmsg_set_syslog(true);
}

} // namespace
