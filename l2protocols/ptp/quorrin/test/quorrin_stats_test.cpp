// The controller's global event counters.
#include <gtest/gtest.h>

#include "ptp_zerr_codes.h"
#include "quorrin_stats.h"

namespace {

TEST(QuorrinStats, CountsByIndexRefusesIndexesPastTheTableAndClears)
{
    quorrin_stats_clear_event_counters();
    EXPECT_EQ(quorrin_stats_increment_event_counter(QUORRIN_GL_EVENT_ANNOUNCE_SENT), 0u);
    EXPECT_EQ(quorrin_stats_increment_event_counter(QUORRIN_GL_EVENT_REG_GLOBAL_VRFN), 0u);
    EXPECT_EQ(quorrin_stats_increment_event_counter(QUORRIN_GL_EVENT_REG_GLOBAL_VRFN), 0u);
    EXPECT_EQ(quorrin_stats_increment_event_counter(QUORRIN_GL_EVENT_COUNT), PTP_ZERR_INVALID_ARG);
    EXPECT_EQ(quorrin_stats_increment_event_counter(0xFFFFFFFF), PTP_ZERR_INVALID_ARG);
    const uint32_t *counters = quorrin_stats_get_event_counters();
    uint32_t total = 0;
    for (uint32_t i = 0; i < QUORRIN_GL_EVENT_COUNT; i++) {
        total += counters[i];
    }
    EXPECT_EQ(counters[QUORRIN_GL_EVENT_ANNOUNCE_SENT], 1u);
    EXPECT_EQ(counters[QUORRIN_GL_EVENT_REG_GLOBAL_VRFN], 2u);
    EXPECT_EQ(total, 3u);
    quorrin_stats_clear_event_counters();
    EXPECT_EQ(counters[QUORRIN_GL_EVENT_REG_GLOBAL_VRFN], 0u);
    EXPECT_STREQ(quorrin_gl_event_counter_names[QUORRIN_GL_EVENT_BIND_GLOBAL], "Binded with Nodra for global config");
}

} // namespace
