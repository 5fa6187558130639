// Process manager, logical router and node identity: which node a process runs on, the node's
// role, the process's readiness and exit, and logical-router events.
//
// A process learns its chassis and node from its environment: $PTP_CHASSIS, the chassis
// description file, and $PTP_NODE, its node's name or id (the process manager sets both when it
// starts a process). Tests set them with the calls of sysmgr_test.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "evm.h"
#include "zerrno.h"

inline constexpr uint32_t SYSMGR_ZERR_FACILITY = 0x7f07;
inline constexpr zerrno SYSMGR_ERR_INVALID = zerr_make(SYSMGR_ZERR_FACILITY, 1, 22 /*EINVAL*/);
inline constexpr zerrno SYSMGR_ERR_NO_NODE = zerr_make(SYSMGR_ZERR_FACILITY, 2, 2 /*ENOENT*/);
inline constexpr zerrno SYSMGR_ERR_NO_CHASSIS = zerr_make(SYSMGR_ZERR_FACILITY, 3, 2 /*ENOENT*/);
inline constexpr zerrno SYSMGR_ERR_NO_MEMORY = zerr_make(SYSMGR_ZERR_FACILITY, 4, 12 /*ENOMEM*/);
inline constexpr zerrno SYSMGR_ERR_TOO_SMALL = zerr_make(SYSMGR_ZERR_FACILITY, 5, 34 /*ERANGE*/);

// Logical-router event kinds.
inline constexpr uint32_t SYSMGR_LR_EVENT_KVOLM_ACTIVE = 4; // this node now holds the KVOLM role

// Platform types (platform_get_type).
inline constexpr uint32_t PLATFORM_TYPE_SIMULATED = 2;

// ---- Node identity ---------------------------------------------------------------------------

// No node: the id of none.
inline constexpr uint32_t NODEID_INVALID = 0xFFFFFFFFu;

zerrno platform_get_my_nodeid(uint32_t *nodeid);
bool platform_am_i_lc(void);
bool platform_am_i_rp(void);
uint32_t platform_get_type(void);
// The node's external name ("0/1/CPU0"); SYSMGR_ERR_NO_NODE for a node not in the chassis.
zerrno nodeid_to_str_external(uint32_t nodeid, char *buffer, size_t size);
// The fields of a node id: rack (bits 16-23), slot (bits 4-11), CPU (bits 0-3).
zerrno nodeid_extract_fields(uint32_t nodeid, uint32_t *rack, uint32_t *slot, uint32_t *cpu);

// ---- Logical router --------------------------------------------------------------------------

// Whether this node holds the logical router's designated shelf-controller role.
zerrno lrd_am_i_kvolm(bool *kvolm);
zerrno lrd_get_lr_mac_address(uint8_t mac[6]);

// A MAC address from three 16-bit words in host order, first word first, each word's high byte
// first (0x0011, 0x2233, 0x4455 is 00:11:22:33:44:55).
inline void macaddr_lwordston(uint16_t first, uint16_t second, uint16_t third, uint8_t mac[6])
{
    const uint16_t words[3] = {first, second, third};
    for (int i = 0; i < 3; ++i) {
        mac[2 * i] = static_cast<uint8_t>(words[i] >> 8);
        mac[2 * i + 1] = static_cast<uint8_t>(words[i]);
    }
}

// ---- Process manager -------------------------------------------------------------------------

// A logical-router event as its callback sees it.
struct sysmgr_lr_event_type {
    uint32_t kind;
    uint32_t node_id;
};
using sysmgr_lr_event_fn = int (*)(const sysmgr_lr_event_type *event, void *context);

// The process finished starting, or leaves by itself (it is then not restarted).
zerrno sysmgr_proc_ready(void);
zerrno sysmgr_proc_exiting(void);
// The node whose logical-router events the process wants (0: its own).
zerrno sysmgr_set_target_node(uint32_t node);
// Deliver logical-router events of a kind to the callback on the event manager. One
// registration per kind; a later one replaces it.
zerrno sysmgr_register_lr_event(event_mgr_type *evm, uint32_t kind, sysmgr_lr_event_fn callback, void *context);
