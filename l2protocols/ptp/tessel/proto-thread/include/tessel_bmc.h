// The node's best-master list and each interface's best-master state.
//
// The list holds the protocol-thread interface records that may act as a slave, sorted by the
// clock of each one's best foreign master, best first; its head is the node's best master,
// which the port manager reports to the controller. From the controller's answer (the global
// best master, the clock this node advertises and two flags) the module computes each
// interface's best-master state and hands every change to the port manager.
//
// Protocol thread only; no locks.
#pragma once

#include <cstdint>

#include "ptp_types.h"
#include "zerrno.h"

struct tessel_proto_idb_type;

enum tessel_bmc_if_state_type : uint32_t {
    TESSEL_BMC_IF_STATE_MASTER = 0,
    TESSEL_BMC_IF_STATE_PASSIVE = 1,
    TESSEL_BMC_IF_STATE_SLAVE = 2,
    TESSEL_BMC_IF_STATE_SLAVE_SYNCED = 3,
};
inline constexpr uint32_t TESSEL_BMC_IF_STATE_COUNT = 4;

// Names of the states: tessel_bmc_if_state_to_string (tessel_utils.h).

// What the node knows about its best master besides the clock.
struct tessel_bmc_info_type {
    ifhtype ifhandle;                         // the head interface
    ptp_address_type address;                 // its best foreign master's address
    int32_t sync_interval;                    // the head interface's configured log Sync interval
    int32_t delay_req_interval;               // its configured log minimum Delay-Req interval
    ptp_delay_asymmetry_type delay_asymmetry; // the foreign master's
};

// The two hooks of the port manager, in slot order.
struct tessel_bmc_callbacks_type {
    void (*if_state_change)(tessel_proto_idb_type *idb, tessel_bmc_if_state_type state); // [0]
    void (*node_bmc_change)(void);                                                       // [1]
};

void tessel_bmc_register_callbacks(const tessel_bmc_callbacks_type *callbacks);

// An interface's best foreign master, configuration or readiness changed.
void tessel_bmc_if_update(tessel_proto_idb_type *idb);
// The record is about to be freed: it leaves the list (when there), and a node best master it
// carried moves on (hook [1]).
void tessel_bmc_if_delete(tessel_proto_idb_type *idb);

// The node best master clock, or null while the list is empty; *info filled when asked.
const ptp_clock_type *tessel_bmc_get_node_bmc(tessel_bmc_info_type *info);
// The same without the information record (the form the receive path declares).
const ptp_clock_type *tessel_bmc_get_node_bmc(void);

// The controller's global best master, the clock this node advertises and the two flags.
void tessel_bmc_global_bmc_update(const ptp_clock_type *global_bmc, const ptp_clock_type *advertised, uint32_t selected,
                                  uint32_t synced);
void tessel_bmc_slave_support_change(uint32_t supported);

// 0 while node slave support is off; else the platform's slave capability for the type.
uint32_t tessel_bmc_is_slave_supported(uint32_t if_type);

// The stored records, or null before the first global update.
const ptp_clock_type *tessel_bmc_get_global_bmc(void);
const ptp_clock_type *tessel_bmc_get_advertised_clock(void);

// After a restart, before the controller has answered: re-sorts every interface.
void tessel_bmc_restore(void);

// The list in order (tests and operational data): the head, and each entry's successor.
tessel_proto_idb_type *tessel_bmc_list_head(void);

// Back to the state of a fresh process (no global update, slave support on, empty list);
// the records in the list are unlinked.
void tessel_bmc_reset(void);
