// The controller link: the agent's side of the group-messaging channel "PTP". It reports the
// node's best master to the controller (damped), asks for the controller's announce message and
// applies it through the port manager, batches the slaved master's time records, and keeps its
// sends going through a bounded retry and the link going down and up.
//
// Protocol thread only.
#pragma once

#include <cstdint>

#include "evm.h"
#include "zerrno.h"

// Bits of the pending word: what the retry timer sends again.
inline constexpr uint32_t tessel_comms_pending_announce_request = 0x1;
inline constexpr uint32_t tessel_comms_pending_bmc = 0x2;

// Failed sends retried before the process gives up and exits.
inline constexpr uint32_t TESSEL_COMMS_MAX_RETRIES = 60;
inline constexpr uint32_t TESSEL_COMMS_RETRY_MS = 5000;
inline constexpr uint32_t TESSEL_COMMS_DAMP_MS = 2000;
inline constexpr uint32_t TESSEL_COMMS_TIME_UPDATE_MS = 100;

zerrno tessel_comms_init(event_mgr_type *evm);
void tessel_comms_cleanup(void);

// force 1 sends the node's best master now; force 0 sends it 2000 ms after the last request.
void tessel_comms_bmc_msg_send(int force);
void tessel_comms_bmc_msg_send_damped(void);
void tessel_comms_announce_request_msg_send(void);
// The announce request, then the node's best master at once.
void tessel_comms_resync(void);
// Copies one 24-byte timing record of the slaved master (a tessel_offload_timing_record_type:
// host-order message word, then the two timestamps) into the batch sent every 100 ms.
void tessel_comms_time_update_add(const void *record);

// ---- Inspection and test control ----
// Received messages dropped because they were too short to read.
uint32_t tessel_comms_dropped_msg_count(void);
// How the process ends when the retries run out (exit by default); tests catch it.
using tessel_comms_exit_fn = void (*)(int status);
void tessel_comms_exit_fn_set(tessel_comms_exit_fn fn);
