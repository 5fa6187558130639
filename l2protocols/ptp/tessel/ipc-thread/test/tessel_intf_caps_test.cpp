// The capability word as the agent derives it from the platform's answer, and the getters.
#include "tessel_intf_caps.h"

#include <gtest/gtest.h>

#include "ptp_platform_intf_capability.h"
#include "qor_log.h"

namespace {

struct caps_case {
    const char *name;
    uint32_t version;
    uint16_t platform_flags;
    uint8_t log_rate;
    uint16_t flags;   // the word the getters read
    uint8_t max_rate; // tessel_intf_caps_get_max_sync_rate
};

// clang-format off
const caps_case caps_cases[] = {
    // Version 0 adds two-step and platform adjacency; IPv6 stays as adjacency is then known.
    {"v0_adds_two_step_and_adjacency", 0, 0x0009, 4, 0x0189, 16},
    {"v1_ipv6_without_adjacency", 1, 0x0008 | 0x0001, 0, 0x0001, 1},
    {"v2_ipv6_with_adjacency", 2, 0x0108, 3, 0x0108, 8},
    {"v1_everything", 1, 0x03ff, 7, 0x03ff, 128},
    {"log_rate_too_big_for_a_byte", 1, 0x0001, 8, 0x0001, 0},
    {"too_new_version_used_as_read", 3, 0x0004, 1, 0x0004, 2},
};
// clang-format on

class IntfCapsTable : public ::testing::TestWithParam<caps_case> {
protected:
    void SetUp() override
    {
        qor_errmsg_set_syslog(false);
        qor_errmsg_capture_clear();
    }
    void TearDown() override
    {
        tessel_intf_caps_shutdown();
        ptp_platform_intf_capability_test_reset();
    }
};

TEST_P(IntfCapsTable, WordAndRate)
{
    const caps_case &c = GetParam();
    ptp_platform_intf_capability_test_set(c.version, c.platform_flags, c.log_rate);
    ASSERT_EQ(tessel_intf_caps_init(nullptr), 0u);
    EXPECT_EQ(tessel_intf_caps_get_flags(), c.flags);
    EXPECT_EQ(tessel_intf_caps_get_max_sync_rate(), c.max_rate);
    EXPECT_EQ(tessel_intf_caps_get_log_max_sync_rate(), c.log_rate);

    // Each getter answers its own bit of the word.
    struct {
        bool (*getter)(void);
        uint16_t bit;
    } const getters[] = {
        {tessel_intf_caps_supports_ptp, TESSEL_INTF_CAPS_PTP},
        {tessel_intf_caps_supports_one_step, TESSEL_INTF_CAPS_ONE_STEP},
        {tessel_intf_caps_supports_slave, TESSEL_INTF_CAPS_SLAVE},
        {tessel_intf_caps_supports_ipv6, TESSEL_INTF_CAPS_IPV6},
        {tessel_intf_caps_supports_ethernet, TESSEL_INTF_CAPS_ETHERNET},
        {tessel_intf_caps_supports_multicast, TESSEL_INTF_CAPS_MULTICAST},
        {tessel_intf_caps_supports_source_ip, TESSEL_INTF_CAPS_SOURCE_IP},
        {tessel_intf_caps_supports_two_step, TESSEL_INTF_CAPS_TWO_STEP},
        {tessel_intf_caps_supports_platform_adjacency, TESSEL_INTF_CAPS_PLATFORM_ADJACENCY},
    };
    for (const auto &g : getters) {
        EXPECT_EQ(g.getter(), (c.flags & g.bit) != 0) << "bit 0x" << std::hex << g.bit;
    }
    EXPECT_EQ(tessel_intf_caps_supports_slave_ext(), (c.flags & 0x0204) == 0x0204);

    // A version the agent does not know is reported, and the answer used as read.
    const bool reported = !qor_errmsg_captured().empty();
    EXPECT_EQ(reported, c.version > TESSEL_INTF_CAPS_MAX_API_VERSION);
    if (reported) {
        EXPECT_EQ(
            qor_errmsg_captured().back().text,
            "Failed to initialize: The platform specified an invalid version for the interface capabilities API.");
    }
}

INSTANTIATE_TEST_SUITE_P(Caps, IntfCapsTable, ::testing::ValuesIn(caps_cases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(IntfCaps, SlaveExtNeedsBothBits)
{
    for (const auto &[word, expected] : {std::pair<uint16_t, bool>{0x0200, false}, {0x0004, false}, {0x0204, true}}) {
        ptp_platform_intf_capability_test_set(1, word, 0);
        ASSERT_EQ(tessel_intf_caps_init(nullptr), 0u);
        EXPECT_EQ(tessel_intf_caps_supports_slave_ext(), expected) << std::hex << word;
        tessel_intf_caps_shutdown();
    }
    ptp_platform_intf_capability_test_reset();
}

TEST(IntfCaps, InitFailureIsReportedAndReturned)
{
    qor_errmsg_set_syslog(false);
    qor_errmsg_capture_clear();
    ptp_platform_intf_capability_test_fail_init(PTP_PLATFORM_INTF_CAPS_ERR_NO_NODE);
    EXPECT_EQ(tessel_intf_caps_init(nullptr), PTP_PLATFORM_INTF_CAPS_ERR_NO_NODE);
    ASSERT_FALSE(qor_errmsg_captured().empty());
    EXPECT_EQ(qor_errmsg_captured().back().text,
              std::string("Failed to initialize: Failed to bind to initialise the interface platform capabilities "
                          "module: ") +
                  zerr_strerror(PTP_PLATFORM_INTF_CAPS_ERR_NO_NODE));
    EXPECT_FALSE(tessel_intf_caps_supports_ptp());
    tessel_intf_caps_shutdown();
    ptp_platform_intf_capability_test_reset();
}

// Shutdown clears the word while the protocol thread may still read it: every getter reads false.
TEST(IntfCaps, ShutdownClearsEveryCapability)
{
    ptp_platform_intf_capability_test_set(1, 0x03ff, 4);
    ASSERT_EQ(tessel_intf_caps_init(nullptr), 0u);
    EXPECT_TRUE(tessel_intf_caps_supports_slave_ext());
    tessel_intf_caps_shutdown();
    EXPECT_EQ(tessel_intf_caps_get_flags(), 0u);
    EXPECT_FALSE(tessel_intf_caps_supports_ptp());
    EXPECT_FALSE(tessel_intf_caps_supports_slave_ext());
    ptp_platform_intf_capability_test_reset();
}

} // namespace
