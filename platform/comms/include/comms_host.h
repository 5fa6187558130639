// Group messaging hosted by the platform daemon for the processes of the chassis. A process whose
// environment names its node ($PTP_NODE) keeps its members in the daemon; the calls of comms.h
// then go over the daemon's socket, and messages and notifications come back as notices on the
// member's event manager.
#pragma once

#include <cstdint>

#include "evm.h"
#include "sockmsg.h"
#include "zerrno.h"

inline constexpr uint16_t COMMS_SERVICE_ID = 0x0c0;
inline constexpr uint32_t COMMS_MAX_CHANNEL_NAME = 255;

// Frames of the service. Members are 16 bytes: u32 channel, u32 node, u64 endpoint; big-endian.
inline constexpr uint16_t COMMS_WIRE_CONNECT = 1; // request: u32 node, channel name; reply: the member
inline constexpr uint16_t COMMS_WIRE_SEND = 2;    // request: member, u32 type, u32 version, body; status
inline constexpr uint16_t COMMS_WIRE_LINK = 3;    // request (operator): u32 node, u32 up; a node's link down or up
inline constexpr uint16_t COMMS_WIRE_MSG = 10;    // notice: sender member, u32 type, u32 version, body
inline constexpr uint16_t COMMS_WIRE_NOTIFY = 11; // notice: u32 event, channel, node, count, member

// In the daemon: serve group messaging on the server (one member per client connection).
zerrno comms_host_init(event_mgr_type *evm, sockmsg_server_type *server);
void comms_host_shutdown(void);
