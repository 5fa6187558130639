// What a program that runs the agent's protocol-thread modules on one thread of its own (the
// scenario, the interop tests against ptp4l, the unicast fuzz target, the receive CPU measurement)
// plays of the agent's process entry and IPC thread; see interop_agent_threads.cpp.
#pragma once

#include "zerrno.h"

namespace interop {

// The interface capabilities as the entry reads them at start, from the platform's capability
// library: a chassis node's defaults (every capability, 2^7 packets a second), with or without
// platform adjacency resolution (the Linux backend resolves neighbours in the kernel; on
// in-memory links the agent resolves them itself). Again after intf_caps_stop for other answers.
zerrno intf_caps_start(bool platform_adjacency);
void intf_caps_stop();

} // namespace interop
