// The controller's in-service-upgrade role client.
#pragma once

#include <cstdint>

#include "evm.h"
#include "zerrno.h"

zerrno quorrin_ha_init(event_mgr_type *evm);
void quorrin_ha_shutdown(void);
// 1 primary, 2 secondary, 3 being replaced; 0 before init.
uint32_t quorrin_ha_get_issu_role(void);
// Milestones (role 2 only; only milestone 2 is remembered as met).
bool quorrin_ha_is_milestone_met(uint32_t milestone);
void quorrin_ha_milestone_start(uint32_t milestone);
void quorrin_ha_milestone_met(uint32_t milestone);
// The upgrade service's role-change notice.
void quorrin_ha_role_change_cb(void *context, uint32_t new_role);
