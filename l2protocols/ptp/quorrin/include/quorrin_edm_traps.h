// The controller's operational data and trap notifications: the items it serves under
// "/oper/ptp/&&/" and its clear action under "/action/ptp/&&/", and on the KVOLM node the six
// trap kinds it publishes under "/oper/ptp/gl/snmp-traps/" while the operator enables them.
#pragma once

#include <cstdint>

#include "bgen_args.h"
#include "evm.h"
#include "nodra.h"
#include "ptp_bags.h"
#include "ptp_types.h"
#include "zerrno.h"

zerrno quorrin_edm_init(event_mgr_type *evm);
// The global operational data and the traps, on the KVOLM node (later calls do nothing).
zerrno quorrin_edm_gl_init(event_mgr_type *evm);
void quorrin_edm_shutdown(void);

// ---- Traps ---------------------------------------------------------------------------------------

// Binds the trap-enable items and registers for them (handlers run on evm); gl is the
// "/oper/ptp/gl/" binding the notifications go out on. On failure nothing of it stays.
zerrno quorrin_edm_trap_init(event_mgr_type *evm, nodra_conn_td *gl);
void quorrin_edm_trap_shutdown(void);

// The trap-enable items' handlers.
void quorrin_edm_trap_cfg_clock_class(const nodra_notify_event_info_td *event, void *ctx, const bgen_args_td *args);
void quorrin_edm_trap_cfg_clock_state(const nodra_notify_event_info_td *event, void *ctx, const bgen_args_td *args);
void quorrin_edm_trap_cfg_time_source(const nodra_notify_event_info_td *event, void *ctx, const bgen_args_td *args);
void quorrin_edm_trap_cfg_utc_offset(const nodra_notify_event_info_td *event, void *ctx, const bgen_args_td *args);
void quorrin_edm_trap_cfg_offset_from_master(const nodra_notify_event_info_td *event, void *ctx,
                                             const bgen_args_td *args);
void quorrin_edm_trap_cfg_master_lost(const nodra_notify_event_info_td *event, void *ctx, const bgen_args_td *args);

// ptp_platform_servo_status_type of the clock.
void quorrin_edm_trap_generate_clock_state(uint32_t state);
void quorrin_edm_trap_generate_threshold_breach(int64_t offset, uint16_t sub_ns);
// The advertised clock's class changed (with that clock), its time source or UTC offset changed.
void quorrin_edm_trap_generate_clock_class(ptp_clock_type clock);
void quorrin_edm_trap_generate_time_source(void);
void quorrin_edm_trap_generate_utc_offset(void);
// A master found (present 1, no peer) or lost (present 0, with the master's address).
void quorrin_edm_trap_generate_master_lost(const ptp_address_type *peer, bool present);

// ---- Operational items (request, key arguments) --------------------------------------------------

zerrno quorrin_edm_get_grandmaster(nodra_edm_request_td *request, const bgen_args_td *args);
zerrno quorrin_edm_get_advertised_clock(nodra_edm_request_td *request, const bgen_args_td *args);
zerrno quorrin_edm_get_local_clock(nodra_edm_request_td *request, const bgen_args_td *args);
zerrno quorrin_edm_get_ctrlr_database(nodra_edm_request_td *request, const bgen_args_td *args);
zerrno quorrin_edm_get_ctrlr_event_counters(nodra_edm_request_td *request, const bgen_args_td *args);
zerrno quorrin_edm_get_config_errors(nodra_edm_request_td *request, const bgen_args_td *args);
zerrno quorrin_edm_get_leap_seconds(nodra_edm_request_td *request, const bgen_args_td *args);
zerrno quorrin_edm_get_current_ds(nodra_edm_request_td *request, const bgen_args_td *args);
zerrno quorrin_edm_get_default_ds(nodra_edm_request_td *request, const bgen_args_td *args);
zerrno quorrin_edm_get_parent_ds(nodra_edm_request_td *request, const bgen_args_td *args);
zerrno quorrin_edm_get_time_properties_ds(nodra_edm_request_td *request, const bgen_args_td *args);
// The clear action: the global event counters go to 0.
zerrno quorrin_edm_clear_ctrlr_event_counters(nodra_edm_request_td *request, const bgen_args_td *args);

// The values a local-clock bag's optional fields point to; it must outlive the bag's encoding.
struct quorrin_edm_local_clock_storage_type {
    uint8_t priority1;
    uint8_t priority2;
    uint8_t clock_class;
    uint8_t accuracy;
    uint16_t oslv;
    uint8_t local_priority;
};
// A local-clock bag of clock (the local or the selection local clock) with the node's state.
void quorrin_edm_fill_local_clock(const ptp_clock_type *clock, ptp_local_clock_info *info,
                                  quorrin_edm_local_clock_storage_type *storage);
