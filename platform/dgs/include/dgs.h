// The platform's group services: a process binds a named end point, turns another end point's
// address (from the directory, qsm.h) into a handle and sends it typed messages; the platform
// daemon carries them to the end point's owner. Each bind is one connection to the daemon.
//
// Trace records of these calls go to the process's buffers "dgs" (what happened) and "dgs_err"
// (what went wrong), keyed as dgs_trace.h lists.
#pragma once

#include <cstdint>

#include "evm.h"
#include "zerrno.h"

inline constexpr uint32_t DGS_ZERR_FACILITY = 0x7f0a;
inline constexpr zerrno DGS_ERR_INVALID = zerr_make(DGS_ZERR_FACILITY, 1, 22 /*EINVAL*/);
inline constexpr zerrno DGS_ERR_NO_ENDPOINT = zerr_make(DGS_ZERR_FACILITY, 2, 2 /*ENOENT*/);
inline constexpr zerrno DGS_ERR_NO_DAEMON = zerr_make(DGS_ZERR_FACILITY, 3, 111 /*ECONNREFUSED*/);
inline constexpr zerrno DGS_ERR_TOO_BIG = zerr_make(DGS_ZERR_FACILITY, 4, 90 /*EMSGSIZE*/);

// A bind that only sends: its end point is not published in the directory.
inline constexpr uint32_t DGS_BIND_CLIENT = 1;
// The message type of a show request and the flag that marks a request of a diagnostic tool.
inline constexpr uint32_t DGS_MTYPE_SHOW = 1;
inline constexpr uint32_t DGS_SHOW_REQUEST = 0x200;
inline constexpr uint32_t DGS_MAX_MSG = 4096;

struct dgs_bind_type;   // a bound end point of this process
struct dgs_handle_type; // another end point, as this bind sends to it

// A message for the bound end point: its type, flags and body. Runs on the bind's manager.
using dgs_msg_fn = void (*)(dgs_bind_type *bind, uint32_t mtype, uint32_t flags, const uint8_t *body, uint32_t length,
                            void *context);

struct dgs_buffer_type {
    const void *data;
    uint32_t length;
};

// Binds end point `name` (1 to 255 characters) on evm. flags: DGS_BIND_CLIENT or 0 (published
// under its name, for others to find); reserved must be 0.
zerrno dgs_bind(event_mgr_type *evm, dgs_msg_fn callback, const char *name, uint32_t flags, uint32_t reserved,
                void *context, dgs_bind_type **bind);
void dgs_unbind(dgs_bind_type *bind);
// The bind's own address, as the directory gives it to others.
uint32_t dgs_bind_endp(const dgs_bind_type *bind, uint8_t *endp, uint32_t size);
// A handle on the end point whose address is endp (size bytes); DGS_ERR_INVALID for an address
// that is cut short or not one of ours. The handle is freed with its bind.
zerrno dgs_endp_to_hdl(dgs_bind_type *bind, const void *endp, uint32_t size, dgs_handle_type **handle);
// Sends the buffers, one after the other, as one message of mtype and flags; waits for the
// daemon's answer: 0, or DGS_ERR_NO_ENDPOINT when the end point is gone.
zerrno dgs_send_mtype(dgs_handle_type *handle, const dgs_buffer_type *buffers, uint32_t count, uint32_t mtype,
                      uint32_t flags);
