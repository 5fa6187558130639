// The checkpoint service hosted by the platform daemon. A process whose environment names its
// node ($PTP_NODE) has its application instance in the daemon: the calls of chkpt.h go over the
// daemon's socket and the transfer and change notices come back on the instance's event manager.
#pragma once

#include <cstdint>

#include "evm.h"
#include "sockmsg.h"
#include "zerrno.h"

inline constexpr uint16_t CHKPT_SERVICE_ID = 0x0c1;

// Requests (big-endian; table: u32 id, object: u64 id).
inline constexpr uint16_t CHKPT_WIRE_INIT = 1;       // u32 flags, word1, word2, name[24], owner
inline constexpr uint16_t CHKPT_WIRE_GO_ACTIVE = 2;  // -
inline constexpr uint16_t CHKPT_WIRE_GO_PRIMARY = 3; // -
inline constexpr uint16_t CHKPT_WIRE_REGISTER = 4;   // the 7 words of the table descriptor
inline constexpr uint16_t CHKPT_WIRE_UNREGISTER = 5; // table
inline constexpr uint16_t CHKPT_WIRE_CREATE = 6;     // table, u32 key; reply: object
inline constexpr uint16_t CHKPT_WIRE_SAVE = 7;       // table, object, bytes
inline constexpr uint16_t CHKPT_WIRE_DELETE = 8;     // table, object
inline constexpr uint16_t CHKPT_WIRE_GET = 9;        // table, object; reply: bytes
inline constexpr uint16_t CHKPT_WIRE_GET_BYKEY = 10; // table, u32 key; reply: object, bytes
inline constexpr uint16_t CHKPT_WIRE_NEXT = 11;      // table, object after; reply: object (0: end), bytes
inline constexpr uint16_t CHKPT_WIRE_IDT_COUNT = 12; // table; reply: u32 count
// Notices.
inline constexpr uint16_t CHKPT_WIRE_IDT = 20; // u32 event
inline constexpr uint16_t CHKPT_WIRE_NDT = 21; // u32 type, table, object, bytes

zerrno chkpt_host_init(event_mgr_type *evm, sockmsg_server_type *server);
void chkpt_host_shutdown(void);
