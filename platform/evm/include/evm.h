// Event managers, asynchronous events, inter-thread messages on named channels and connections.
//
// An event manager is a queue of events served by one thread at a time: the thread loops on
// event_block (wait for the next event) and zq_event_dispatch (run its callback). Everything
// attached to a manager (message handlers, asynchronous events, connections, timer wheels and
// managed-timer trees) calls back on the thread that serves it.
//
// Thread-safe between the threads of one process: any thread may post to any manager, send on
// any channel and reply to any client. A manager is created, blocked on and destroyed by its
// owner; destroy it only once no thread blocks in it.
//
// Results: the calls whose callers fold errno into their own codes (event_create_manager,
// event_block, event_message_attach, event_async_*, event_send_async, msg_*) return -1 or null
// with errno set, as the system calls they stand for; the connection calls return a zerrno of
// facility EVM_ZERR_FACILITY (errno in the low bits), or 0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zerrno.h"

struct event_mgr_type;  // an event manager
struct event_type;      // one event taken by event_block, consumed by zq_event_dispatch
struct event_conn_type; // a connection

// ---------------------------------------------------------------------------------------------
// Managers and the event loop

// Create a manager. parent and flags are recorded only. A non-null name makes the manager the
// server of the message channel of that name (msg_chan_connect); a name already served fails
// with EEXIST. Null with errno on failure (ENOMEM, EEXIST, EINVAL for an empty name).
event_mgr_type *event_create_manager(event_mgr_type *parent, const char *name, uint32_t flags);
// The same call under its other name.
event_mgr_type *event_manager_create(event_mgr_type *parent, const char *name, uint32_t flags);

// Destroy a manager: queued events are dropped, senders still waiting for a reply from it are
// released with EPIPE, its channel name becomes free, attached wheels and trees stop firing.
// 0, or -1 with errno EINVAL for null.
int event_manager_destroy(event_mgr_type *evm);

// Wait for the next event: a posted asynchronous event, a message, a due timer or a connection
// notice. Null with errno EINTR when woken by event_manager_wakeup, EINVAL for null.
event_type *event_block(event_mgr_type *evm);

// Run the event's callback and release the event. Returns the callback's result (0 for events
// whose callbacks return nothing); -1 with errno EINVAL for null.
int zq_event_dispatch(event_type *event);

// Make one event_block on the manager (a current or the next one) return null with EINTR.
int event_manager_wakeup(event_mgr_type *evm);

// Name the calling thread (at most 15 characters are kept). 0, or -1 with errno.
int set_thread_name(const char *name);

// ---------------------------------------------------------------------------------------------
// Asynchronous events

// The record of an attached asynchronous event, filled by event_async_attach_event: the manager,
// the event code, and the connection id on which event_send_async posts it to that manager.
struct event_async_ctx_type {
    event_mgr_type *evm;
    int32_t code;
    int32_t coid;
    int32_t ev_class; // as given at attach; recorded only
    int32_t reserved;
};

// Called on the manager's thread for each posted event: the record (the manager's copy), the
// value given to event_send_async, and the context given at attach.
using event_async_handler_fn = int (*)(const event_async_ctx_type *event, int32_t value, void *context);

// Allocate a new event code on the manager and attach the handler to it. Returns the code (0 or
// more) and fills *out when it is not null; -1 with errno EINVAL (null manager or handler).
int event_async_attach_event(event_mgr_type *evm, int32_t ev_class, event_async_handler_fn handler, void *context,
                             event_async_ctx_type *out);

// Attach a handler to a code (replacing any), or detach the code with a null handler; events of
// a detached code still queued are dropped. 0, or -1 with errno EINVAL / ENOENT (detach of a
// code that is not attached).
int event_async_attach(event_mgr_type *evm, int32_t code, event_async_handler_fn handler, void *context);

// Post an asynchronous event to the manager behind coid (from any thread). Every post is one
// event, in order. 0, or -1 with errno ESRCH (no such manager) / ENOENT (code not attached).
int event_send_async(int32_t coid, int32_t code, int32_t value);

// The connection id on which events are posted to this manager (for event_send_async).
int32_t event_manager_coid(const event_mgr_type *evm);

// Whether the manager behind coid still exists. A coid is never reused, while a destroyed
// manager's address may be a new manager's: whoever may outlive a manager keeps its coid.
bool event_manager_alive(int32_t coid);

// Detach a code from the manager behind coid, when that manager still exists (nothing when it is
// gone). 0, or -1 with errno ESRCH / ENOENT (code not attached).
int event_async_detach(int32_t coid, int32_t code);

// ---------------------------------------------------------------------------------------------
// Messages on named channels
//
// A message starts with a 16-bit message code and a 16-bit facility, in host order; the pair
// selects the handler on the serving manager. The message is copied; the handler sees the copy,
// which lives until the reply. The sender blocks until the reply (no time-out).

using msg_client_type = uint64_t; // identifies one waiting sender; never 0, never reused

// Called on the serving manager's thread with the client to reply to, the message copy, its
// size and the context given at attach. A handler replies now (msg_reply / msg_error) or keeps
// the client and replies later, from any callback or thread.
using event_msg_handler_fn = int (*)(msg_client_type client, void *msg, size_t size, void *context);

// Attach the handler of (code, facility) on the manager, or detach it with a null handler.
// 0, or -1 with errno EINVAL / EEXIST (pair already attached) / ENOENT (detach of none).
int event_message_attach(event_mgr_type *evm, uint16_t code, uint16_t facility, event_msg_handler_fn handler,
                         void *context);

// Connect to the channel served by the manager created with that name. flags and reserved are
// recorded only. 0 and the channel id (never 0) in *chan, or -1 with errno ENOENT / EINVAL.
int msg_chan_connect(const char *name, uint32_t flags, uint32_t reserved, int32_t *chan);
// Forget a channel id. 0, or -1 with errno EINVAL.
int msg_chan_disconnect(int32_t chan);

// Send a message and wait for its reply. Returns the reply status given to msg_reply, with up
// to reply_size bytes of the reply data copied to reply. -1 with errno: EINVAL (bad channel,
// message shorter than 4 bytes), EPIPE (the serving manager is gone or went away while the
// sender waited), ENOSYS (no handler for the message's code and facility), EDEADLK (the caller
// is the thread that serves the channel), or the errno given to msg_error.
int msg_send(int32_t chan, const void *msg, size_t size, void *reply, size_t reply_size);

// Reply to a waiting sender with a status (any value but -1) and optional data. 0, or -1 with
// errno ESRCH when the sender is no longer waiting (already answered, or its manager gone), or
// EINVAL for the status -1.
int msg_reply(msg_client_type client, int32_t status, const void *data, size_t size);

// Release a waiting sender with an error: its msg_send returns -1 with errno err (EIO when err
// is 0). 0, or -1 with errno ESRCH when the sender is no longer waiting.
int msg_error(msg_client_type client, int err);

// ---------------------------------------------------------------------------------------------
// Connections
//
// A connection belongs to a manager. Opening it calls its open callback, which makes the
// connection (for example binds to a server) and returns its connection id (0 or more), or -1
// when it cannot. A failed attempt is retried every EVM_CONN_RETRY_MS on the manager's clock.
// Changes are reported to the notify callback, on the manager's thread, for the events it
// registered for.

inline constexpr uint32_t EVENT_CONN_UP = 0x1000;     // the connection was made
inline constexpr uint32_t EVENT_CONN_DOWN = 0x2000;   // the connection was errored (event_conn_error)
inline constexpr uint32_t EVENT_CONN_CLOSED = 0x4000; // the far end went away (event_conn_peer_closed)
inline constexpr uint64_t EVM_CONN_RETRY_MS = 1000;

using event_conn_open_fn = int (*)(event_conn_type *conn, void *context);
using event_conn_notify_fn = int (*)(event_conn_type *conn, uint32_t event, void *context);

// Error codes of the event manager (facility EVM_ZERR_FACILITY).
inline constexpr uint32_t EVM_ZERR_FACILITY = 0x7f01;
inline constexpr zerrno EVM_ERR_INVALID = zerr_make(EVM_ZERR_FACILITY, 1, 22 /*EINVAL*/);
inline constexpr zerrno EVM_ERR_NO_MEMORY = zerr_make(EVM_ZERR_FACILITY, 2, 12 /*ENOMEM*/);
inline constexpr zerrno EVM_ERR_GONE = zerr_make(EVM_ZERR_FACILITY, 3, 3 /*ESRCH*/);
// The platform's code for "connection already open", which callers treat as success.
inline constexpr zerrno EVENT_CONN_ALREADY_OPEN = 0x21200E00u;

// Create a connection on the manager. flags (retry mode) are recorded only. 0 and *conn, or
// EVM_ERR_INVALID (null manager, callback or out pointer).
zerrno event_conn_create(event_mgr_type *evm, event_conn_open_fn open_cb, uint32_t flags, void *context,
                         event_conn_type **conn);
// Register the notify callback for a mask of EVENT_CONN_* events (replaces an earlier one).
zerrno event_conn_notify(event_conn_type *conn, uint32_t events, event_conn_notify_fn notify_cb, void *context);
// Open: the first attempt runs at once (on the calling thread); success reports EVENT_CONN_UP
// through the manager; a failed attempt is retried. Returns 0 once opening has started, and
// EVENT_CONN_ALREADY_OPEN when the connection is already up or retrying.
zerrno event_conn_open(event_conn_type *conn);
// The connection failed: report EVENT_CONN_DOWN, then open it again from the manager.
zerrno event_conn_error(event_conn_type *conn);
// The far end went away: report EVENT_CONN_CLOSED, then open it again from the manager.
zerrno event_conn_peer_closed(event_conn_type *conn);
// Close and free the connection; nothing more is reported.
zerrno event_conn_destroy(event_conn_type *conn);
// The id returned by the last successful open callback; -1 while the connection is not up.
int32_t event_conn_id(const event_conn_type *conn);
bool event_conn_is_up(const event_conn_type *conn);
