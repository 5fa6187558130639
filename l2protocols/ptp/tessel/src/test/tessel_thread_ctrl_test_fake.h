// State of the recording fakes of tessel_thread_ctrl_test_fake.cpp.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

struct tc_fake_state_type {
    std::atomic<bool> active{true};
    std::vector<std::string> calls;
};
extern tc_fake_state_type tc_fake;
extern std::mutex tc_fake_mutex;
