// The controller's leap-second and UTC-offset database: start-up and checkpoint notices.
#pragma once

#include "chkpt.h"
#include "evm.h"
#include "zerrno.h"

zerrno quorrin_leap_seconds_init(event_mgr_type *evm);
// From now on the database sends its updates.
zerrno quorrin_leap_seconds_start_updates(void);
void quorrin_leap_seconds_shutdown(void);
void quorrin_leap_seconds_chkpt_gm_ndt(const chkpt_ndt_type *notice);
