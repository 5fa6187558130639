// The port-number client: the agent's side of the group-messaging channel "PTP_port_num". The
// controller numbers every PTP port of the system; the agent asks for numbers for new
// interfaces, gives them back when interfaces go, and keeps its numbers in step with the
// controller's table through resync messages. A failed send is never retried as such: the
// batches are dropped and, 2000 ms later, a full resync restores agreement.
//
// Protocol thread only.
#pragma once

#include <cstdint>

#include "evm.h"
#include "zerrno.h"

struct tessel_proto_idb_type;

// Bit of tessel_proto_idb_type::flags, set only while a controller resync is applied: the
// interfaces the controller's list did not name.
inline constexpr uint16_t port_num_mark = 0x0010;

inline constexpr uint32_t TESSEL_PORT_NUM_RETRY_MS = 2000;

zerrno tessel_port_num_init(event_mgr_type *evm);
void tessel_port_num_cleanup(void);
// Creates the request and release batches once; they outlive re-initialisation.
zerrno tessel_port_num_batches_init(void);
uint32_t tessel_port_num_is_initialised(void);

void tessel_port_num_request_add(tessel_proto_idb_type *idb);
void tessel_port_num_release_add(tessel_proto_idb_type *idb);
void tessel_port_num_process_batches(void);
void tessel_port_num_send_ma_resync_msg(void);

// ---- Inspection ----
uint32_t tessel_port_num_gsp_up(void);
uint32_t tessel_port_num_is_retry_pending(void);
// Received messages dropped because their count did not fit their length.
uint32_t tessel_port_num_dropped_msg_count(void);
