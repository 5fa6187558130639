// Test control of group messaging.
#pragma once

#include <cstdint>

#include "comms.h"

// Forget every channel, member and failure.
void comms_test_reset(void);
// The node of the members this process connects from now on (by default platform_get_my_nodeid).
void comms_test_set_node(uint32_t node_id);
// The next count sends fail with code.
void comms_test_fail_sends(uint32_t count, zerrno code);
// The next count messages are dropped: their receivers get DROPPED_MSGS instead.
void comms_test_drop_messages(uint32_t count);
// Take a node's link down (its members get LOCAL_DOWN; sends from and to it fail) or up again
// (LOCAL_UP).
void comms_test_set_link(uint32_t node_id, bool up);
// Tell every member of a channel that messages may have been lost.
void comms_test_possible_lost(const char *channel);
// Members of a channel.
uint32_t comms_test_member_count(const char *channel);
