// The controller's in-service-upgrade role client.
#pragma once

#include <cstdint>

#include "evm.h"
#include "zerrno.h"

zerrno quorrin_ha_init(event_mgr_type *evm);
void quorrin_ha_shutdown(void);
// 1 primary, 2 secondary, 3 being replaced; 0 before init.
uint32_t quorrin_ha_get_issu_role(void);
void quorrin_ha_milestone_met(uint32_t milestone);
