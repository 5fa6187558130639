// Descriptors an event manager waits on itself: the hook by which the platform's I/O services
// (packet sockets, rings) are served on the thread of the manager that owns them, with no thread
// of their own between the kernel and the manager. Not for product code.
//
// A ready descriptor (readable, level-triggered) becomes one event of its manager, queued once
// until it is dispatched: the handler runs on the manager's thread and reads what is there. A
// thread blocked in event_block on a manager with descriptors waits in epoll on them, so that a
// batch the kernel hands over costs it one wake-up; evm_run_until_idle and the settling of
// virtual time look at them without waiting.
#pragma once

#include "evm.h"

using evm_fd_fn = void (*)(int fd, void *context);

// Waits on fd for reading. 0, or -1 with errno: EINVAL (manager gone, bad descriptor or null
// handler), EEXIST (already attached to this manager), or epoll's.
int evm_fd_attach(event_mgr_type *evm, int fd, evm_fd_fn handler, void *context);
// Stops waiting on fd; a queued readiness is dropped. The handler is not called after return,
// unless it is running on the manager's thread at that moment. 0, or -1 with errno EINVAL
// (manager gone) / ENOENT (not attached).
int evm_fd_detach(event_mgr_type *evm, int fd);
// From a descriptor's handler, on the manager's thread: fd is not waited on for up to
// patience_ns. Its handler runs again when the thread is awake anyway (woken for anything else,
// or looking at its descriptors between events) or when the patience is over, whichever comes
// first, and fd is waited on again from then on. For a source whose data may as well be read a
// little later with the thread's next wake-up (frames stamped as they came): at a low rate its
// batches then cost no wake-ups of their own. In virtual time the patience ends at the thread's
// next wait. 0 (also when fd is parked already: the earlier end stands), or -1 with errno EINVAL
// (manager gone), ENOENT (not attached), or epoll's.
int evm_fd_park(event_mgr_type *evm, int fd, uint64_t patience_ns);
