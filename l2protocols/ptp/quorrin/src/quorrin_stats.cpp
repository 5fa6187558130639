// The controller's global event counters.
#include "quorrin_stats.h"

#include "ptp_zerr_codes.h"

namespace {

std::array<uint32_t, QUORRIN_GL_EVENT_COUNT> counters{};

} // namespace

zerrno quorrin_stats_increment_event_counter(uint32_t index)
{
    if (index >= QUORRIN_GL_EVENT_COUNT) {
        return PTP_ZERR_INVALID_ARG;
    }
    counters[index]++;
    return 0;
}

void quorrin_stats_clear_event_counters(void)
{
    counters.fill(0);
}

const uint32_t *quorrin_stats_get_event_counters(void)
{
    return counters.data();
}
