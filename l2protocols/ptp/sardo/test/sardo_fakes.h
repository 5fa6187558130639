// Test control of the recording fake of the process entry: the modules' calls into it.
#pragma once

#include <cstdint>

// Forget the exit requests; node id 0; the library probed again.
void sardo_fake_reset(void);
// Exit requests so far.
uint32_t sardo_fake_exit_requests(void);
void sardo_fake_set_node_id(uint32_t node);
