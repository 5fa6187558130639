// Calls the packet module makes into other agent modules: the port manager's attach event and the
// interface capabilities come from their modules' own headers; offload sessions and
// notifications and the global configuration have no header of their own yet, so their calls are
// declared here. Each declaration is the module's own function; the module defines it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ptp_types.h"
#include "tessel_intf_caps.h"
#include "tessel_port_mgr.h"
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

// ---- Global configuration ----
bool tessel_cfg_get_verify_checksum(void);
