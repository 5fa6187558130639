// State of the recording fakes of tessel_main_test_fake.cpp: every agent module the entry calls.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "jotlog.h"
#include "zerrno.h"

struct main_fake_state_type {
    std::vector<std::string> calls;
    std::string failing; // the init that fails
    zerrno failing_result = 0;
    bool cfg_init_requests_exit = false; // configuration finds nothing to do: the agent leaves
    // The packet trace buffer as the packet module and the state machine were last given it.
    jotlog_handle_type packet_trace = nullptr;
    jotlog_handle_type fsm_packet_trace = nullptr;
};
extern main_fake_state_type main_fake;
extern std::mutex main_fake_mutex;
std::vector<std::string> main_fake_calls();
