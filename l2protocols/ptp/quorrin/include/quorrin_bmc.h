// System-wide best-master selection and the grandmaster state: what the other controller
// modules call of it.
#pragma once

#include <cstdint>

#include "chkpt.h"
#include "evm.h"
#include "ptp_platform.h"
#include "ptp_types.h"
#include "zerrno.h"

// A quality level: option 0 none, 1 Option I, 2 Option II generation 1, 3 Option II
// generation 2; the value is the option's code.
struct quorrin_bmc_ql_type {
    uint8_t option;
    uint8_t value;
};

// The grandmaster as the other modules see it.
struct quorrin_bmc_gm_type {
    uint32_t active; // the servo is synchronised to it
    uint32_t ifhandle;
    ptp_address_type address;
    uint8_t domain;
    int32_t log_sync_interval;
    int32_t log_delay_req_interval;
    int32_t delay_asymmetry;
    uint32_t using_ptp_for_time;
    uint32_t using_ptp_for_frequency;
    uint64_t change_time;
    quorrin_bmc_ql_type ql;
    uint32_t best_source; // PTP_PLATFORM_BEST_SOURCE_*
};

zerrno quorrin_bmc_init(event_mgr_type *evm);
void quorrin_bmc_shutdown(void);

// A node's clock report (clock null: the node withdrew it); a node that left the group.
void quorrin_bmc_clock_update(const ptp_clock_type *clock, uint32_t node_id, uint32_t ifhandle,
                              int32_t log_sync_interval, int32_t log_delay_req_interval, int32_t delay_asymmetry,
                              const ptp_address_type *address);
void quorrin_bmc_resync_request(uint32_t node_id);

// The grandmaster (fills gm when given) and its clock, or null while no node reports a clock.
const ptp_clock_type *quorrin_bmc_get_gm(quorrin_bmc_gm_type *gm);
// The clock the agents advertise.
void quorrin_bmc_get_advertised_clock(ptp_clock_type *clock, void *extra);
// The servo's physical-layer frequency (its mode) and network type.
void quorrin_bmc_get_servo_options(uint32_t *servo_mode, uint32_t *network_type);

// The platform clock's state: at init (from_init 1) and at each clock update.
void quorrin_bmc_platform_clock_update(uint32_t active, uint32_t using_ptp_for_frequency, uint32_t using_ptp_for_time,
                                       const ptp_platform_clock_props_type *local_props,
                                       const ptp_platform_clock_props_type *selection_props, uint32_t utc_info_valid,
                                       uint32_t from_init);
// The platform's last clock update said the clock is active.
bool quorrin_bmc_is_node_active(void);
// The servo was found started (its synced state no longer holds), synced, or lost sync.
void quorrin_bmc_servo_started(void);
void quorrin_bmc_gm_synced(void);
void quorrin_bmc_gm_sync_lost(void);

// Checkpoint: going primary active, re-reading the global record, and change notices.
void quorrin_bmc_go_primary_active(void);
void quorrin_bmc_chkpt_global_recover(void);
void quorrin_bmc_chkpt_global_ndt(const chkpt_ndt_type *notice);
void quorrin_bmc_chkpt_clock_ndt(const chkpt_ndt_type *notice);

// The name of a quality-level value: "Invalid", "DNU/DUS", ..., "Unknown QL".
const char *quorrin_bmc_ql_value_to_str(uint8_t value);
