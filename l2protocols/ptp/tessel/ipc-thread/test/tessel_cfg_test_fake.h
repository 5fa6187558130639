// Recording fakes of the configuration tests (see tessel_cfg_test_fake.cpp).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "tessel_cfg.h"

struct cfg_fake_state_type {
    std::mutex lock;
    std::vector<std::string> calls;
    uint32_t clock_profile = 0;
    uint32_t exit_requested = 0;
    bool interop_changed = false;
};
extern cfg_fake_state_type cfg_fake;

void cfg_fake_reset();
// The profile of that name, created when absent (as the profile database would).
tessel_prf_db_type *cfg_fake_profile(const char *name);
uint32_t cfg_fake_profile_count();
