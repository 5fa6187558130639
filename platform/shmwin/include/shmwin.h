// Shared-memory windows over POSIX shared memory.
//
// A window is a named shared-memory object that outlives the process that made it: a header of
// the opener's size and a heap that shmwin_malloc/shmwin_free manage inside the window. The next
// process that opens the window by name finds the header and every allocation as they were, but
// possibly mapped at another address, so links inside a window must be offsets
// (shmwin_ptr_to_offset / shmwin_offset_to_ptr), never pointers.
//
// Each window carries the layout version of its user. Joining a window that already exists
// calls the opener's version check with the version found there; the check may accept it, reset
// the window (shmwin_reset) or refuse it. After a successful check the window takes the opener's
// version. A window whose own bookkeeping is not intact (a creation cut short, a foreign object
// under the name) is set up anew, never read blindly.
//
// Results are zerrno values: 0, or a bare errno (EINVAL, ENOMEM, ENOENT, ...).
// A window is written by one process at a time; a handle is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zerrno.h"

struct shmwin_type;
using shmwin_handle_type = shmwin_type *;

// Called when joining an existing window. hdr is the window's header; found_version the version
// stored there. Return 0 to accept (possibly after shmwin_reset), else an error that fails the open.
using shmwin_version_check_fn = zerrno (*)(shmwin_handle_type win, void *hdr, uint32_t found_version, void *context);

// Open the window `name`, creating it (header zeroed) when it does not exist. hdr_size must be
// 1..65536. On success *out_win and *out_hdr are set.
zerrno shmwin_open_win_v1(const char *name, uint32_t hdr_size, uint32_t version, shmwin_version_check_fn check,
                          void *context, shmwin_handle_type *out_win, void **out_hdr);

// True when the open that gave this handle found an object under the window's name that it could
// not keep (cut short, of another size, not a window) and set it up afresh: whatever the
// window held before is gone. False for a window joined as it was, or created where none was.
bool shmwin_was_replaced(shmwin_handle_type win);

// Allocate size bytes (16-byte aligned, not zeroed) in the window. ENOMEM when the window is full.
zerrno shmwin_malloc(shmwin_handle_type win, size_t size, void **out_ptr);
// Free an allocation of this window. EINVAL for anything that is not a live allocation.
zerrno shmwin_free(shmwin_handle_type win, void *ptr);
// Free every allocation and zero the header; the window keeps its name and size.
zerrno shmwin_reset(shmwin_handle_type win);
// Unmap the window from this process; it stays for the next opener.
zerrno shmwin_close(shmwin_handle_type win);
// Close every window this process still has open.
void shmwin_process_cleanup();

// Offsets of the window: 0 stands for null.
uint64_t shmwin_ptr_to_offset(shmwin_handle_type win, const void *ptr);
// The address of an offset; null for 0 or for an offset outside the window's heap.
void *shmwin_offset_to_ptr(shmwin_handle_type win, uint64_t offset);

// The address of the live allocation whose bytes begin at offset, when it holds at least size
// bytes; null for anything else (0, outside the heap, inside or between allocations, a freed
// block, a smaller allocation). For links found in a window that an earlier process wrote.
void *shmwin_offset_to_alloc(shmwin_handle_type win, uint64_t offset, size_t size);

// ---- Test control ------------------------------------------------------------------------

// Object names are "/" + prefix + name. Default prefix "shmwin.", or $SHMWIN_PREFIX.
void shmwin_test_set_prefix(const char *prefix);
// Size of windows created from now on (default 16 MiB, or $SHMWIN_SIZE in bytes).
void shmwin_test_set_window_size(uint64_t bytes);
// Remove the window `name` (0, or ENOENT when there is none).
zerrno shmwin_test_unlink(const char *name);

enum class shmwin_test_op {
    open,
    malloc,
    free,
    reset,
    close
};
// The next `count` calls of op fail with err (and change nothing).
void shmwin_test_fail(shmwin_test_op op, zerrno err, uint32_t count);
// Number of live allocations in the window.
uint64_t shmwin_test_live_allocations(shmwin_handle_type win);
