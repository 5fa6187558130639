// Framed messages over a Unix-domain stream socket: the transport between the platform daemon,
// which hosts several services on one socket, and the processes that use them.
//
// Frame (big-endian): u32 payload length, u8 kind, u8 0, u16 service id, u16 message type,
// u16 0, u32 request id, u32 status, then the payload. A request is answered by one reply with
// the same id; a send (client to server) and a notice (server to client) are not answered.
//
// Server: runs on an event manager; every handler, disconnect callback and error path runs on
// that manager's thread. Client: replies to asynchronous requests and notices run as callbacks on
// the client's own event manager, one event each, in the order they arrived; a blocking call
// returns its reply to the caller directly.
#pragma once

#include <cstdint>
#include <vector>

#include "evm.h"
#include "zerrno.h"

inline constexpr uint32_t SOCKMSG_ZERR_FACILITY = 0x7f20;
inline constexpr zerrno SOCKMSG_ERR_INVALID = zerr_make(SOCKMSG_ZERR_FACILITY, 1, 22 /*EINVAL*/);
inline constexpr zerrno SOCKMSG_ERR_NO_MEMORY = zerr_make(SOCKMSG_ZERR_FACILITY, 2, 12 /*ENOMEM*/);
// The connection is closed (the far end went away, or it was closed here).
inline constexpr zerrno SOCKMSG_ERR_CLOSED = zerr_make(SOCKMSG_ZERR_FACILITY, 3, 32 /*EPIPE*/);
// A frame whose header is not one of ours, or that is larger than SOCKMSG_MAX_PAYLOAD.
inline constexpr zerrno SOCKMSG_ERR_FRAME = zerr_make(SOCKMSG_ZERR_FACILITY, 4, 74 /*EBADMSG*/);
// No service of that id on the server, or no handler of that message type in it.
inline constexpr zerrno SOCKMSG_ERR_NO_SERVICE = zerr_make(SOCKMSG_ZERR_FACILITY, 5, 38 /*ENOSYS*/);
// The socket could not be made, bound or reached (errno in the low bits).
inline constexpr zerrno SOCKMSG_ERR_SOCKET = zerr_make(SOCKMSG_ZERR_FACILITY, 6);
// Another server answers on the path.
inline constexpr zerrno SOCKMSG_ERR_IN_USE = zerr_make(SOCKMSG_ZERR_FACILITY, 7, 98 /*EADDRINUSE*/);
// A session of the server is gone (a parked reply to a client that went away).
inline constexpr zerrno SOCKMSG_ERR_GONE = zerr_make(SOCKMSG_ZERR_FACILITY, 8, 3 /*ESRCH*/);
// No reply within the time-out (the connection stays; a reply that comes later is dropped), or a
// request the far end did not take in that time (the connection is closed: its stream was cut
// inside a frame).
inline constexpr zerrno SOCKMSG_ERR_TIMEOUT = zerr_make(SOCKMSG_ZERR_FACILITY, 9, 110 /*ETIMEDOUT*/);

inline constexpr uint32_t SOCKMSG_HEADER_SIZE = 20;
inline constexpr uint32_t SOCKMSG_MAX_PAYLOAD = 64u << 20;
// A client that lets this much output pile up unread is disconnected.
inline constexpr uint64_t SOCKMSG_MAX_PENDING_OUTPUT = 512ull << 20;

// How long a client waits for a reply, or for the far end to take a request, unless told
// otherwise: far beyond a commit verified by every agent of a loaded chassis (tens of
// milliseconds), and short enough that a daemon that stopped answering is an error, not a hang.
inline constexpr uint32_t SOCKMSG_TIMEOUT_MS_DEFAULT = 30000;

enum sockmsg_kind : uint8_t {
    SOCKMSG_REQUEST = 1, // client to server, answered by one reply
    SOCKMSG_REPLY = 2,   // server to client
    SOCKMSG_NOTICE = 3,  // server to client, unsolicited
    SOCKMSG_SEND = 4,    // client to server, not answered
};

// The daemon's socket path: $PTP_PLATFORM_SOCKET when set and not empty, else
// "/run/ptp/platform.sock". Every user of the daemon's socket takes the path from here.
const char *plat_socket_path();

// The clients' time-out: the one given to sockmsg_set_timeout_ms, else $PTP_PLATFORM_TIMEOUT_MS
// when it is a number above 0, else SOCKMSG_TIMEOUT_MS_DEFAULT. It runs on the host's monotonic
// clock, not the platform clock: the far end answers in real time even when the caller's
// protocol runs on virtual time.
uint32_t sockmsg_timeout_ms();
// Sets the time-out of every client of the process (0: back to the environment's or the
// default); calls already waiting keep theirs.
void sockmsg_set_timeout_ms(uint32_t ms);

// ---------------------------------------------------------------------------------------------
// Server

struct sockmsg_server_type;
struct sockmsg_session_type; // one connected client
struct sockmsg_call_type;    // one request waiting for its reply

// The client's identity, from the kernel at connect time.
struct sockmsg_peer_type {
    int32_t pid;
    uint32_t uid;
    uint32_t gid;
};

// A message for a service. call is null for a send; for a request the handler answers with
// sockmsg_reply now or later (the call stays valid until then, even after the client is gone).
using sockmsg_handler_fn = void (*)(sockmsg_session_type *session, sockmsg_call_type *call, const uint8_t *data,
                                    uint32_t length, void *context);

struct sockmsg_handler_row {
    uint16_t type;
    sockmsg_handler_fn handler;
};

// A service: its id, its handlers by message type, and what to do when a client goes away
// (state is what the service attached to that session, null when none). The record and its
// table must outlive the server.
struct sockmsg_service_type {
    uint16_t id;
    const char *name;
    const sockmsg_handler_row *rows;
    uint32_t row_count;
    void (*disconnect)(sockmsg_session_type *session, void *state, void *context);
    void *context;
};

// Creates the socket's directory when missing (mode 0700; an existing one must belong to us and
// be closed to others), binds path (mode 0600), replaces a stale socket file, and serves on evm.
zerrno sockmsg_server_create(event_mgr_type *evm, const char *path, sockmsg_server_type **server);
zerrno sockmsg_server_register(sockmsg_server_type *server, const sockmsg_service_type *service);
// Stops serving: every session is disconnected (disconnect callbacks run on the calling thread,
// which must be the manager's) and the socket file is removed.
void sockmsg_server_destroy(sockmsg_server_type *server);
// Sessions currently connected.
uint32_t sockmsg_server_sessions(sockmsg_server_type *server);

const sockmsg_peer_type *sockmsg_session_peer(const sockmsg_session_type *session);
uint64_t sockmsg_session_id(const sockmsg_session_type *session);
void *sockmsg_session_state(const sockmsg_session_type *session, uint16_t service);
void sockmsg_session_set_state(sockmsg_session_type *session, uint16_t service, void *state);
// The session a call came from (null once it is gone).
sockmsg_session_type *sockmsg_call_session(const sockmsg_call_type *call);

// Answers a request and frees the call. SOCKMSG_ERR_GONE when its client went away (the call is
// freed all the same). Any thread.
zerrno sockmsg_reply(sockmsg_call_type *call, uint32_t status, const void *data, uint32_t length);
// An unsolicited message to one client. Any thread while the session is connected.
zerrno sockmsg_notify(sockmsg_session_type *session, uint16_t service, uint16_t type, const void *data,
                      uint32_t length);

// ---------------------------------------------------------------------------------------------
// Client

struct sockmsg_client_type;

using sockmsg_notice_fn = void (*)(sockmsg_client_type *client, uint16_t service, uint16_t type, const uint8_t *data,
                                   uint32_t length, void *context);
using sockmsg_reply_fn = void (*)(sockmsg_client_type *client, uint32_t status, const uint8_t *data, uint32_t length,
                                  void *context);
using sockmsg_closed_fn = void (*)(sockmsg_client_type *client, void *context);

// Connects to path. Notices, asynchronous replies and the closed callback run on evm; with a null
// evm only blocking calls and sends are possible (notices are dropped).
zerrno sockmsg_client_connect(const char *path, event_mgr_type *evm, sockmsg_notice_fn notice, sockmsg_closed_fn closed,
                              void *context, sockmsg_client_type **client);
// A request whose reply runs `reply` on the client's manager (SOCKMSG_ERR_CLOSED as its status
// when the connection closes first).
zerrno sockmsg_client_request(sockmsg_client_type *client, uint16_t service, uint16_t type, const void *data,
                              uint32_t length, sockmsg_reply_fn reply, void *context);
// A request that waits for its reply: the reply's status and payload. SOCKMSG_ERR_TIMEOUT when
// none comes within the time-out, SOCKMSG_ERR_CLOSED when the connection closes first.
zerrno sockmsg_client_call(sockmsg_client_type *client, uint16_t service, uint16_t type, const void *data,
                           uint32_t length, uint32_t *status, std::vector<uint8_t> *reply);
// A message the server does not answer. Like a request, it waits at most the time-out for the
// far end to take it.
zerrno sockmsg_client_send(sockmsg_client_type *client, uint16_t service, uint16_t type, const void *data,
                           uint32_t length);
bool sockmsg_client_is_open(const sockmsg_client_type *client);
// Closes and frees; callbacks not yet run are dropped. Call it from the manager's thread (or any
// thread when the client has no manager, or once its manager is gone).
void sockmsg_client_close(sockmsg_client_type *client);

// ---------------------------------------------------------------------------------------------
// Frame helpers (shared by both ends and the tests)

struct sockmsg_header_type {
    uint32_t length;
    uint8_t kind;
    uint16_t service;
    uint16_t type;
    uint32_t id;
    uint32_t status;
};

void sockmsg_header_encode(const sockmsg_header_type &header, uint8_t out[SOCKMSG_HEADER_SIZE]);
// SOCKMSG_ERR_FRAME for a header that is not one of ours (kind, reserved bytes, length).
zerrno sockmsg_header_decode(const uint8_t in[SOCKMSG_HEADER_SIZE], sockmsg_header_type *header);
