// Calls the packet module makes into agent modules that have no header of their own yet: offload
// sessions and notifications, the port manager's attach event, the interface capabilities and
// the global configuration. Each declaration is the module's own function; the module defines it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ptp_types.h"
#include "zerrno.h"

struct tessel_proto_idb_type;

// ---- Offload sessions, resync retry handlers, notifications ----
void tessel_offload_sessions_resync(uint32_t encap);
void tessel_offload_if_sessions_cleanup(ifhtype ifhandle);
void tessel_offload_resync_timers_start(void);
bool tessel_offload_ethernet_resync_timer_running(void);
bool tessel_offload_ipv4_resync_timer_running(void);
bool tessel_offload_ipv6_resync_timer_running(void);
void tessel_offload_ethernet_resync_request(void);
void tessel_offload_ipv4_resync_request(void);
void tessel_offload_ipv6_resync_request(void);
// One notification of length bytes; non-zero: it (or part of it) was not applied.
zerrno tessel_offload_notification_process(uint32_t encap, const uint8_t *buffer, size_t length);

// ---- Port manager ----
void tessel_port_mgr_spio_attach_event(tessel_proto_idb_type *idb);

// ---- Interface capabilities and global configuration ----
bool tessel_intf_caps_supports_platform_adjacency(void);
bool tessel_cfg_get_verify_checksum(void);
