// Group messaging: named channels whose members are processes on the chassis' nodes. A member
// sends to one member or to the group of a channel; messages are delivered by type and version
// to the handler the receiver registered, on the receiver's event manager, in the order each
// sender sent them. Membership and link changes arrive as notifications.
#pragma once

#include <cstddef>
#include <cstdint>

#include "evm.h"
#include "zerrno.h"

inline constexpr uint32_t COMMS_ZERR_FACILITY = 0x7f08;
inline constexpr zerrno COMMS_ERR_INVALID = zerr_make(COMMS_ZERR_FACILITY, 1, 22 /*EINVAL*/);
inline constexpr zerrno COMMS_ERR_NO_MEMORY = zerr_make(COMMS_ZERR_FACILITY, 2, 12 /*ENOMEM*/);
inline constexpr zerrno COMMS_ERR_NO_MEMBER = zerr_make(COMMS_ZERR_FACILITY, 3, 3 /*ESRCH*/);
inline constexpr zerrno COMMS_ERR_LINK_DOWN = zerr_make(COMMS_ZERR_FACILITY, 4, 100 /*ENETDOWN*/);
inline constexpr zerrno COMMS_ERR_TOO_BIG = zerr_make(COMMS_ZERR_FACILITY, 5, 90 /*EMSGSIZE*/);
inline constexpr zerrno COMMS_ERR_EXISTS = zerr_make(COMMS_ZERR_FACILITY, 6, 17 /*EEXIST*/);
inline constexpr zerrno COMMS_ERR_NOT_FOUND = zerr_make(COMMS_ZERR_FACILITY, 7, 2 /*ENOENT*/);
inline constexpr zerrno COMMS_ERR_NO_NODE = zerr_make(COMMS_ZERR_FACILITY, 8, 6 /*ENXIO*/);

// The largest message body.
inline constexpr size_t COMMS_MAX_MSG = 65536;
// Messages waiting for one receiver; more are dropped (the receiver is told).
inline constexpr size_t COMMS_MAX_QUEUED = 4096;

// Notification events.
inline constexpr int32_t COMMS_EVENT_MEMBER_ADD = 0;
inline constexpr int32_t COMMS_EVENT_MEMBER_DEL = 1;
inline constexpr int32_t COMMS_EVENT_NODE_DONE = 2;
inline constexpr int32_t COMMS_EVENT_NODE_UNRESPONSIVE = 3;
inline constexpr int32_t COMMS_EVENT_NODE_RESPONSIVE = 4;
inline constexpr int32_t COMMS_EVENT_LOCAL_DOWN = 5;
inline constexpr int32_t COMMS_EVENT_LOCAL_UP = 6;
inline constexpr int32_t COMMS_EVENT_POSSIBLE_LOST_MSG = 7;
inline constexpr int32_t COMMS_EVENT_DROPPED_MSGS = 8;
inline constexpr int32_t COMMS_EVENT_FLOW_SLOW = 9;
inline constexpr int32_t COMMS_EVENT_FLOW_RESUME = 10;
inline constexpr int32_t COMMS_EVENT_COUNT = 11;

// A member of a channel; endpoint 0 is the channel's whole group. Handles are pointers to it;
// a handle given to a callback is valid while the callback runs (duplicate it to keep it).
struct comms_member_type {
    uint32_t channel;
    uint32_t node_id;
    uint64_t endpoint;
};

// A notification: the event, the node it concerns at the fifth 32-bit word, the member it
// concerns (MEMBER_ADD, MEMBER_DEL) and, for DROPPED_MSGS, how many messages were dropped.
struct comms_notification_type {
    int32_t event;
    uint32_t channel;
    uint32_t reserved[2];
    uint32_t node_id;
    uint32_t count;
    comms_member_type member;
};
static_assert(offsetof(comms_notification_type, node_id) == 16);

struct comms_conn_type; // one process's membership of one channel

using comms_msg_handler_fn = void (*)(comms_conn_type *conn, void *context, const comms_member_type *sender,
                                      const void *msg, size_t length);
using comms_notification_handler_fn = void (*)(comms_conn_type *conn, void *context,
                                               const comms_notification_type *notification);

// Join the channel (made on first use) as a member on this process's node; callbacks run on the
// event manager. flags are recorded only. The other members get MEMBER_ADD.
zerrno comms_connect(event_mgr_type *evm, const char *channel, uint32_t flags, comms_conn_type **out);
// Leave: the other members get MEMBER_DEL; messages not yet delivered to this member are lost.
zerrno comms_disconnect(comms_conn_type *conn);
// The channel's group: a send to it reaches every other member.
zerrno comms_conn_get_group_member(comms_conn_type *conn, const comms_member_type **out);
// This connection as a member.
zerrno comms_conn_get_member(comms_conn_type *conn, const comms_member_type **out);

// One handler per (type, version); COMMS_ERR_EXISTS for a second one.
zerrno comms_msg_handler_add(comms_conn_type *conn, uint32_t type, uint32_t version, comms_msg_handler_fn handler,
                             void *context);
zerrno comms_msg_handler_remove(comms_conn_type *conn, uint32_t type, uint32_t version);
zerrno comms_notification_handler_add(comms_conn_type *conn, int32_t event, comms_notification_handler_fn handler,
                                      void *context);
zerrno comms_notification_handler_remove(comms_conn_type *conn, int32_t event);

// Send to a member or to the group. 0 once queued for every receiver. flags are recorded only.
// A receiver without a handler for (type, version) drops the message.
zerrno comms_msg_send(comms_conn_type *conn, const comms_member_type *to, uint32_t type, uint32_t version,
                      const void *msg, size_t length, uint32_t flags);

// Member handles.
zerrno comms_member_get_nodeid(const comms_member_type *member, uint32_t *node_id);
zerrno comms_member_dup(const comms_member_type *member, comms_member_type **out);
zerrno comms_member_copy(comms_member_type *to, const comms_member_type *from);
void comms_member_free(comms_member_type *member);
bool comms_member_equal(const comms_member_type *a, const comms_member_type *b);
