// The group services and the service directory hosted by the platform daemon (service id
// 0x0c5), beside group messaging. Big-endian frames:
//   request 1 lookup: the name (1 to 255 bytes, no NUL); reply: u32 count, then per end point
//     u32 jid, u32 pid, u8 length + process name, u8 length + name, u8 length + address;
//   request 2 bind: u32 flags, u8 length + process name, the name; reply: the address;
//   request 3 send: u64 end point, u32 type, u32 flags, body; status: 0 or DGS_ERR_NO_ENDPOINT;
//   notice 10 message: u64 end point, u32 type, u32 flags, body (to the end point's owner).
// An address is 16 bytes: u32 DGS_ENDP_MAGIC, u32 node, u64 end point. A client's end points go
// with its connection. The daemon owns one end point itself, DGS_HOST_ENDPOINT: a show request
// to it prints the directory on the daemon's standard output.
#pragma once

#include <cstdint>
#include <cstdio>

#include "evm.h"
#include "sockmsg.h"
#include "zerrno.h"

inline constexpr uint16_t DGS_SERVICE_ID = 0x0c5;
inline constexpr uint16_t DGS_WIRE_LOOKUP = 1;
inline constexpr uint16_t DGS_WIRE_BIND = 2;
inline constexpr uint16_t DGS_WIRE_SEND = 3;
inline constexpr uint16_t DGS_WIRE_MSG = 10;
inline constexpr uint32_t DGS_ENDP_MAGIC = 0x44475345; // "DGSE"
inline constexpr uint32_t DGS_ENDP_SIZE = 16;
inline constexpr const char *DGS_HOST_ENDPOINT = "platformd";
// Show request bits: 1 each end point, 2 the counts, 4 the sending-only binds too.
inline constexpr uint32_t DGS_SHOW_DETAIL = 1;
inline constexpr uint32_t DGS_SHOW_SUMMARY = 2;
inline constexpr uint32_t DGS_SHOW_ALL = 4;

zerrno dgs_host_init(event_mgr_type *evm, sockmsg_server_type *server);
void dgs_host_shutdown(void);
// Where the daemon's end point prints a show request (null: standard output).
void dgs_host_set_output(FILE *out);
