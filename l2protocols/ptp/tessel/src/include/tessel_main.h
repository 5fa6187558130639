// The agent's process entry: start-up in a fixed order, the decision whether the node is active
// now or waits for the logical-router event that makes it so, the IPC thread's event loop, and
// the teardown in a fixed order, also after a partial start-up.
//
// IPC thread only.
#pragma once

#include <cstdint>

#include "evm.h"
#include "sysmgr.h"
#include "zerrno.h"

struct imc_ctx_type;

// The logical-router event that makes the node the KVOLM node, and so the agent active.
inline constexpr uint32_t TESSEL_LR_EVENT_KVOLM_ACTIVE = 4;

// The whole process: 0 once the event loop was entered (whatever ended it), 1 when start-up
// failed before it.
int tessel_main(void);

bool tessel_main_is_active(void);
// The agent leaves by itself (no PTP interface left): the loop ends after the current callback.
void tessel_main_request_exit(void);
// The logical-router event callback; context is the IPC event manager.
int tessel_main_lr_event(const sysmgr_lr_event_type *event, void *context);

zerrno tessel_debug_init(event_mgr_type *evm, imc_ctx_type **im_ctx);
void tessel_debug_cleanup(void);
zerrno tessel_jotlog_init(void);
void tessel_jotlog_close(void);
void tessel_ipc_post_db_init(void);

// The agent's own state back to a fresh process's (tests that run the entry more than once).
void tessel_main_test_reset(void);
