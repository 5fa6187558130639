// What the recording fakes of the state machine's neighbours saw, and how they answer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ptp_types.h"
#include "zerrno.h"

struct fsm_fake_state_type {
    std::vector<std::string> calls;
    uint32_t profile = PTP_PROFILE_DEFAULT;
    uint32_t telecom_clock_type = PTP_TELECOM_CLOCK_T_BC;
    uint32_t issu_role = 1;
    zerrno restore_result = 0;
    int fmc_postpones_in_slave_stop = 0; // best-master changes the slave-stop fake raises
};

extern fsm_fake_state_type fsm_fake;

void fsm_fake_reset();
