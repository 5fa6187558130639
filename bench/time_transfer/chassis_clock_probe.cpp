// Reads the chassis' node clocks against the host's wall clock, which is the ptp4l grandmaster's
// time in the main job, a few times a second: what each node's clock is off from the
// grandmaster's and from the others', without the network in between. Each reading brackets the
// monotonic stamp the clocks are mapped at by two reads of the wall clock and keeps the narrowest
// of a few, so that a preemption does not shift it.
//
//   chassis_clock_probe --seconds S [--interval-ms MS] NODE...
//
// One line per reading: the monotonic time in seconds, then each node's offset in nanoseconds
// (its time less the wall clock's). The clocks are the run's ($PTP_CLOCK_PREFIX).
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "plat_clock.h"
#include "ptpclock.h"

namespace {

int64_t wall_ns()
{
    timespec ts{};
    plat_clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// A monotonic stamp and the wall clock's time at it.
void bracketed(uint64_t *mono, int64_t *wall)
{
    int64_t narrowest = INT64_MAX;
    for (int i = 0; i < 8; i++) {
        const int64_t before = wall_ns();
        const uint64_t m = plat_clock_mono_ns();
        const int64_t after = wall_ns();
        if (after - before < narrowest) {
            narrowest = after - before;
            *mono = m;
            *wall = before + (after - before) / 2;
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    double seconds = 0;
    int interval_ms = 100;
    std::vector<std::string> nodes;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--interval-ms") == 0 && i + 1 < argc) {
            interval_ms = std::max(1, std::atoi(argv[++i]));
        } else if (argv[i][0] != '-') {
            nodes.emplace_back(argv[i]);
        } else {
            nodes.clear();
            break;
        }
    }
    if (nodes.empty() || seconds <= 0) {
        fprintf(stderr, "usage: chassis_clock_probe --seconds S [--interval-ms MS] NODE...\n");
        return 2;
    }
    std::vector<ptpclock_type *> clocks;
    for (const std::string &node : nodes) {
        ptpclock_type *clock = nullptr;
        if (ptpclock_open(node.c_str(), &clock) != 0) {
            fprintf(stderr, "chassis_clock_probe: cannot open the clock of %s\n", node.c_str());
            return 1;
        }
        clocks.push_back(clock);
    }
    const uint64_t end = plat_clock_mono_ns() + static_cast<uint64_t>(seconds * 1e9);
    while (plat_clock_mono_ns() < end) {
        uint64_t mono = 0;
        int64_t wall = 0;
        bracketed(&mono, &wall);
        printf("%.3f", static_cast<double>(mono) / 1e9);
        for (ptpclock_type *clock : clocks) {
            uint64_t ptp = 0;
            if (ptpclock_mono_to_ptp(clock, mono, &ptp) == 0) {
                printf(" %" PRId64, static_cast<int64_t>(ptp) - wall);
            } else {
                printf(" -");
            }
        }
        printf("\n");
        fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(interval_ms));
    }
    for (ptpclock_type *clock : clocks) {
        ptpclock_close(clock);
    }
    return 0;
}
