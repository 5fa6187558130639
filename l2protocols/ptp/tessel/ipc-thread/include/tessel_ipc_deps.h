// Calls the agent's entry and IPC-thread modules make into modules that have no header of their
// own yet: the operational-data handlers and the port-number client of the protocol thread, the
// checkpoint code, configuration intake, the operational-data registration and the process
// entry. Each declaration is the module's own function; the module defines it.
#pragma once

#include <cstdint>

#include "evm.h"
#include "zerrno.h"

// ---- Process entry ----
bool tessel_main_is_active(void);
void tessel_main_request_exit(void);

// ---- Operational data, protocol thread: 0 with the answer, a code, or 115 when it follows ----
zerrno tessel_edm_get(void *request);
zerrno tessel_edm_list(void *request);
zerrno tessel_edm_datalist(void *request);
zerrno tessel_edm_set(void *request);

// ---- Port-number client, protocol thread ----
void tessel_port_num_process_batches(void);

// ---- Checkpoint ----
zerrno tessel_chkpt_init(event_mgr_type *evm);
void tessel_chkpt_go_active(void);
void tessel_chkpt_go_primary_active(void);
void tessel_chkpt_idt_received(uint32_t notice);
void tessel_chkpt_ndt_received(const void *notice);

// ---- Configuration intake and operational-data registration, IPC thread ----
zerrno tessel_cfg_init(event_mgr_type *evm);
void tessel_cfg_shutdown(void);
zerrno tessel_edm_init(event_mgr_type *evm);
void tessel_edm_shutdown(void);
