// Test control of the event managers.
#pragma once

#include <cstddef>

#include "evm.h"

// Dispatch, on the calling thread, every queued event and every due timer of the manager until
// none is left (events posted meanwhile included). Returns the number of events dispatched.
size_t evm_run_until_idle(event_mgr_type *evm);

// Events queued on the manager (due timers not yet queued are not counted).
size_t evm_queued(event_mgr_type *evm);

// Run every manager of the process until idle, each on its owner's thread (see README.md).
void evm_settle_all(void);

// Number of senders waiting in msg_send for a reply (from any manager).
size_t evm_waiting_senders(void);

// Wait until a thread (other than the caller) blocks in event_block on the manager, so that the
// settling of virtual time leaves it to that thread. Returns at once when the manager is gone.
void evm_wait_until_served(event_mgr_type *evm);

// The manager that serves a channel name, or null.
event_mgr_type *evm_find_channel(const char *name);
