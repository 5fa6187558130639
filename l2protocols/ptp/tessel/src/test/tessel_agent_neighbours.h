// Recording fakes of the protocol thread's checkpoint code, for the thread-control test (which
// runs both threads without the checkpoint service); the test adds its own recorders of the
// operational-data handlers and the trap (tessel_thread_ctrl_test_fake_edm.cpp). Calls may come
// from both of the agent's threads.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "zerrno.h"

struct agent_nb_state_type {
    std::vector<std::string> calls;
    // The thread-control test's operational-data handlers: result of the next request, and the
    // request pointers seen.
    zerrno edm_result = 0;
    std::vector<void *> edm_requests;
};

// Locks the state for the caller (the protocol thread records while a test reads).
struct agent_nb_lock {
    std::lock_guard<std::mutex> guard;
    agent_nb_state_type &state;
    agent_nb_lock();
};

void agent_nb_reset();
std::vector<std::string> agent_nb_calls();
uint32_t agent_nb_count(const std::string &call);
