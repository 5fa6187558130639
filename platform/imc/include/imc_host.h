// The interface manager hosted by the platform daemon for the processes of the chassis. A process
// whose environment names its node ($PTP_NODE) binds and registers through the daemon; the calls
// of imc.h then go over the daemon's socket, and notifications come back on the registration's
// event manager. The operator changes interfaces and drops connections through the same service.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "evm.h"
#include "imc.h"
#include "sockmsg.h"

inline constexpr uint16_t IMC_SERVICE_ID = 0x0c3;

// Frames of the service, big-endian.
inline constexpr uint16_t IMC_WIRE_BIND = 1;       // u32 node; reply u32 binding
inline constexpr uint16_t IMC_WIRE_UNBIND = 2;     // u32 binding
inline constexpr uint16_t IMC_WIRE_FIND = 3;       // u32 binding, names of 64 bytes; reply u32 handle, u32 error each
inline constexpr uint16_t IMC_WIRE_NAME = 4;       // u32 binding, u32 handle; reply the name
inline constexpr uint16_t IMC_WIRE_TYPE = 5;       // u32 binding, u32 handle; reply u32 type
inline constexpr uint16_t IMC_WIRE_REGISTER = 6;   // u32 node; reply u32 registration
inline constexpr uint16_t IMC_WIRE_UNREGISTER = 7; // u32 registration
// u32 registration, u32 op, u32 count, then per element u32 handle, u16 protocol, u16 attribute
// count and the u16 attributes; reply u32 result per element.
inline constexpr uint16_t IMC_WIRE_ATTR = 8;
inline constexpr uint16_t IMC_WIRE_SET_STATE = 9; // operator: u32 node, u32 handle, u32 line state
inline constexpr uint16_t IMC_WIRE_SET_ADDRS =
    10;                                         // operator: u32 node, u32 handle, u8 4 or 6, u8 0, u16 count, addresses
inline constexpr uint16_t IMC_WIRE_DROP = 11;   // operator: u32 node (all ones: every node); reply u32 clients told
inline constexpr uint16_t IMC_WIRE_SHOW = 12;   // operator: u32 node (all ones: every node); reply the table as text
inline constexpr uint16_t IMC_WIRE_NOTIFY = 20; // notice: u32 registration, u32 kind, u32 count, entries
inline constexpr uint16_t IMC_WIRE_DROPPED = 21; // notice: the interface manager dropped this client

// In the daemon: serve every node's interfaces of the chassis on the server.
zerrno imc_host_init(event_mgr_type *evm, sockmsg_server_type *server);
void imc_host_shutdown(void);

// The operator's changes to an interface of a node; its registered clients are notified.
zerrno imc_host_set_line_state(uint32_t node, uint32_t ifhandle, uint32_t state);
zerrno imc_host_set_ipv4(uint32_t node, uint32_t ifhandle, const std::vector<std::array<uint8_t, 4>> &addrs);
zerrno imc_host_set_ipv6(uint32_t node, uint32_t ifhandle, const std::vector<std::array<uint8_t, 16>> &addrs);
// The interface manager drops the clients of a node (all ones: every node): their bindings fail
// from then on and their registrations are gone. The number of clients told.
uint32_t imc_host_drop(uint32_t node);
// The interfaces of a node (all ones: every node), one line each:
// "node name handle state ipv4,... ipv6,..." ("-" for an empty list).
std::string imc_host_table(uint32_t node);
