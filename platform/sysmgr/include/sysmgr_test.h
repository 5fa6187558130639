// Test control of the process manager and node identity.
#pragma once

#include <cstdint>

#include "chassis.h"
#include "sysmgr.h"

// Forget the chassis, the node, the registrations and what was recorded.
void sysmgr_test_reset(void);
// Use this description (not copied: it must outlive its use) and this node.
void sysmgr_test_set_chassis(const chassis_desc_type *desc);
void sysmgr_test_set_node(uint32_t node_id);
// Change the node's KVOLM role without an event.
void sysmgr_test_set_kvolm(bool kvolm);
// Post a logical-router event to the registrations of its kind; with KVOLM active for this
// node, the node holds the role from then on.
void sysmgr_test_fire_lr_event(uint32_t kind);
// What the process said: ready and exiting calls, and the target node (all ones: never set).
uint32_t sysmgr_test_ready_count(void);
uint32_t sysmgr_test_exiting_count(void);
uint32_t sysmgr_test_target_node(void);
