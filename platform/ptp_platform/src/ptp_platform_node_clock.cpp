// The node PTP clock, as the servo steers it. The chassis keeps one time: the servo steers the
// clock of every node of the chassis alike, after setting them all to this node's time and
// frequency when it first opens them, so that a timestamp taken on a line card and one taken here
// are on the same clock.
#include "ptp_platform_node_clock.h"

#include <vector>

#include "ptpclock.h"
#include "sysmgr_chassis.h"

namespace {

struct node_clocks_type {
    bool tried = false;
    ptpclock_type *own = nullptr;
    std::vector<ptpclock_type *> others;
};

node_clocks_type clocks;

bool open_clocks()
{
    if (clocks.tried) {
        return clocks.own != nullptr;
    }
    clocks.tried = true;
    const chassis_desc_type *chassis = sysmgr_chassis();
    const chassis_node_type *me = sysmgr_my_node();
    if (ptpclock_open(me != nullptr ? me->name.c_str() : nullptr, &clocks.own) != 0) {
        clocks.own = nullptr;
        return false;
    }
    if (chassis == nullptr || me == nullptr) {
        return true;
    }
    for (const chassis_node_type &node : chassis->nodes) {
        ptpclock_type *clock = nullptr;
        if (node.name == me->name || ptpclock_open(node.name.c_str(), &clock) != 0) {
            continue;
        }
        // This node's time and frequency taken over as one: a line card set to a time read before
        // the setting (a thread held up between the two under load) stays behind by it for good.
        ptpclock_follow(clock, clocks.own);
        clocks.others.push_back(clock);
    }
    return true;
}

bool node_now(ptp_servo_timestamp_type *out)
{
    uint64_t ns = 0;
    if (ptpclock_gettime(clocks.own, &ns) != 0) {
        return false;
    }
    *out = {ns / 1'000'000'000, static_cast<uint32_t>(ns % 1'000'000'000)};
    return true;
}

bool node_step(int64_t ns)
{
    bool ok = ptpclock_step(clocks.own, ns) == 0;
    for (ptpclock_type *clock : clocks.others) {
        ok = ptpclock_step(clock, ns) == 0 && ok;
    }
    return ok;
}

bool node_set_correction(double ppb)
{
    bool ok = ptpclock_set_freq(clocks.own, ppb) == 0;
    for (ptpclock_type *clock : clocks.others) {
        ok = ptpclock_set_freq(clock, ppb) == 0 && ok;
    }
    return ok;
}

constexpr ptp_platform_clock_ops_type node_ops = {node_now, node_step, node_set_correction};

} // namespace

void ptp_platform_node_clock_reset()
{
    for (ptpclock_type *clock : clocks.others) {
        ptpclock_close(clock);
    }
    if (clocks.own != nullptr) {
        ptpclock_close(clocks.own);
    }
    clocks = node_clocks_type{};
}

const ptp_platform_clock_ops_type *ptp_platform_node_clock_ops()
{
    return open_clocks() ? &node_ops : nullptr;
}
