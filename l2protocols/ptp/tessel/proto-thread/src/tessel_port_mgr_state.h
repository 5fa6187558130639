// The port manager's node-wide state, shared by its two source files. Private to the library.
#pragma once

#include <cstdint>
#include <vector>

#include "evm.h"
#include "ptp_timer.h"
#include "tessel_port_mgr.h"

struct tessel_port_mgr_state_type {
    event_mgr_type *evm = nullptr;
    uint32_t ptp_enabled = 0;
    tessel_port_mgr_local_clock_type local_clock{};
    uint32_t local_clock_known = 0;
    uint32_t profile = 0;
    uint32_t telecom_clock_type = 0;
    uint8_t min_clock_class = 0;
    uint32_t active = 0;
    uint32_t steps_started = 0; // services of the start sequence that are running
    // Interfaces whose checkpoint record is written once the current event is handled.
    std::vector<uint32_t> chkpt_pending;
    ptp_timer_type chkpt_timer{};
    bool chkpt_timer_created = false;
};

extern tessel_port_mgr_state_type tessel_port_mgr_state;

// Writes the interface's checkpoint record once the current event is handled: bringing a line
// card up changes each port several times in one event (ready, its state, the re-evaluations of
// every port), and each write is a round trip to the store. The port must still be ready then.
void tessel_port_mgr_chkpt_if_update(tessel_proto_idb_type *idb);

// Runs the readiness check with the flags and the start flag on every record.
void tessel_port_mgr_reevaluate_all(uint32_t change_flags);
