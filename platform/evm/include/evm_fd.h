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
