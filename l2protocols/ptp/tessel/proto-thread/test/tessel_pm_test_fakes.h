// What the recording fakes of the port manager's neighbours saw, and how they answer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zerrno.h"

struct pm_fake_state_type {
    std::vector<std::string> calls;
    zerrno tables_register_result = 0;
    std::string failing_init; // the service init (its recorded name) that fails, with this code
    zerrno failing_init_result = 0;
    zerrno peer_index_init_result = 0;
    uint32_t idt_expired = 0;
    bool on_ipc_thread = false; // the test plays the IPC thread (its database's calls)
    bool caps_slave = true;
    bool caps_slave_ext = false;
    bool caps_platform_adjacency = false;
};

extern pm_fake_state_type pm_fake;

void pm_fake_reset();
