// The controller's system-wide port-number allocation: start-up, restore and checkpoint notices.
#pragma once

#include "chkpt.h"
#include "evm.h"
#include "zerrno.h"

zerrno quorrin_port_num_init(event_mgr_type *evm);
// The controller became active on the KVOLM node: rebuild the allocations.
void quorrin_port_num_restore(void);
// At exit; delete_entries: the loop ended normally, so the checkpoint entries go too.
void quorrin_port_num_shutdown(bool delete_entries);
void quorrin_port_num_chkpt_ndt(const chkpt_ndt_type *notice);
