// The controller's end of the "PTP" channel to the agents: the announce message with its damping
// and retry, membership handling, and the agents' clock reports, announce requests and time
// messages.
#pragma once

#include <cstdint>

#include "comms.h"
#include "evm.h"
#include "zerrno.h"

// Failed announce sends after which the process exits for the process manager to restart it.
inline constexpr uint32_t QUORRIN_COMMS_MAX_RETRIES = 60;
inline constexpr uint32_t QUORRIN_COMMS_RETRY_MS = 5000;
inline constexpr uint32_t QUORRIN_COMMS_DAMPING_MS = 2000;

zerrno quorrin_comms_init(event_mgr_type *evm);
void quorrin_comms_shutdown(void);

// Something the announce carries changed: announce to all nodes (damped unless force).
void quorrin_comms_clock_updated(bool force);
// Announce to one member or to the group (null: the group); damped unless force.
void quorrin_comms_send_announce(const comms_member_type *destination, bool force);
// The node is active (as the platform's last clock update said): announces go out only then.
bool quorrin_comms_is_active(void);

// How the process exits when announces cannot be sent (std::exit unless a test replaces it).
void quorrin_comms_test_set_exit(void (*exit_fn)(int status));
