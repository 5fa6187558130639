// The agent's client of the platform's in-service upgrade service: its upgrade role, its
// milestones (2 of the service, 513 and 514 of its own), and role changes, which resynchronise
// the port manager.
//
// Protocol thread only (the role-change notice arrives on the event manager given at init).
#pragma once

#include <cstdint>

#include "evm.h"
#include "ptp_zerr_codes.h"
#include "tessel_node_values.h" // the roles (TESSEL_ISSU_ROLE_*)
#include "zerrno.h"

inline constexpr uint32_t TESSEL_ISSU_MILESTONE_CHKPT = 2;
inline constexpr uint32_t TESSEL_ISSU_MILESTONE_CONTROLLER_RESYNC = 513;
inline constexpr uint32_t TESSEL_ISSU_MILESTONE_THREAD_RESYNC = 514;

// The agent's upgrade role (TESSEL_ISSU_ROLE_*).
uint32_t tessel_issu_get_issu_role(void);
// The local met flag of 2, 513 or 514; 0 for any other id.
uint32_t tessel_issu_is_milestone_met(uint32_t milestone);
zerrno tessel_issu_init(event_mgr_type *evm);
void tessel_issu_milestone_start(uint32_t milestone);
void tessel_issu_milestone_met(uint32_t milestone);
void tessel_issu_fini(void);
// The role-change notice registered with the service.
void tessel_issu_role_change_cb(void *context, uint32_t new_role);
