// The pulser: a burst of pulses is one callback on the event manager; a pulse after the
// callback ran is another; a destroyed pulser's queued pulse never runs.
#include <gtest/gtest.h>

#include "evm.h"
#include "evm_test.h"
#include "util_pulser.h"

namespace {

int calls = 0;
void on_pulse(void *context)
{
    EXPECT_EQ(context, &calls);
    calls++;
}

TEST(UtilPulser, BurstIsOneCall)
{
    calls = 0;
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    util_pulser_h_type *p = util_pulser_create(evm, on_pulse, &calls);
    for (int i = 0; i < 10; i++) {
        util_pulser_pulse(p);
    }
    EXPECT_EQ(calls, 0);
    evm_run_until_idle(evm);
    EXPECT_EQ(calls, 1);
    util_pulser_pulse(p);
    evm_run_until_idle(evm);
    EXPECT_EQ(calls, 2);

    util_pulser_pulse(p);
    util_pulser_destroy(&p);
    EXPECT_EQ(p, nullptr);
    evm_run_until_idle(evm);
    EXPECT_EQ(calls, 2);
    event_manager_destroy(evm);
}

} // namespace
