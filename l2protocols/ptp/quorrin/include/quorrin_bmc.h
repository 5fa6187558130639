// System-wide best-master selection and the grandmaster state: the clock each node reports,
// ranked into one list; the decision between its head and the local clock; the servo, the
// announce and the traps that follow; the local, selection-local and advertised clocks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "chkpt.h"
#include "evm.h"
#include "ptp_platform.h"
#include "ptp_timer.h"
#include "ptp_types.h"
#include "quorrin_platform.h"
#include "zerrno.h"

// A node that left the group has this long to report its clock again.
inline constexpr uint32_t QUORRIN_BMC_RESYNC_MS = 10000;

// Reasons for running selection (bits).
inline constexpr uint32_t QUORRIN_BMC_REASON_LOCAL_CLOCK = 1u << 0; // the selection local clock changed
inline constexpr uint32_t QUORRIN_BMC_REASON_PLATFORM = 1u << 1;    // the platform needs a new slave update
inline constexpr uint32_t QUORRIN_BMC_REASON_HEAD = 1u << 2;        // the best foreign clock changed

// One node's reported clock, in the clock tree (by node id) and in the ranked list.
struct quorrin_bmc_clock_type {
    uint32_t node_id;
    ptp_clock_type clock; // never the local clock
    uint32_t ifhandle;    // interface the node receives the clock on
    ptp_address_type address;
    ptp_timer_type resync_timer;
    uint64_t chkpt_id; // "BMC clock" entry, 0 when none
    int32_t log_sync_interval;
    int32_t log_delay_req_interval;
    int32_t delay_asymmetry;
    quorrin_bmc_clock_type *prev; // ranked list; both null and not the head when not ranked
    quorrin_bmc_clock_type *next;
};

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
    uint64_t change_time; // wall-clock nanoseconds
    quorrin_bmc_ql_type ql;
    uint32_t best_source; // PTP_PLATFORM_BEST_SOURCE_*
};

// What operational data shows beside the advertised clock.
struct quorrin_bmc_advertised_extra_type {
    uint8_t domain;
    bool time_source_configured;
    uint8_t received_time_source; // before a configured time source replaced it
    bool timescale_configured;
    uint8_t received_timescale;
};

// The local clock's identity and domain.
struct quorrin_bmc_local_ids_type {
    uint64_t clock_id;
    uint8_t domain;
};

// The virtual-port values, by their mask bit.
enum quorrin_bmc_vp_field_type : uint32_t {
    QUORRIN_BMC_VP_PRIORITY1 = 0,
    QUORRIN_BMC_VP_PRIORITY2 = 1,
    QUORRIN_BMC_VP_CLOCK_CLASS = 2,
    QUORRIN_BMC_VP_CLOCK_ACCURACY = 3,
    QUORRIN_BMC_VP_OSLV = 4,
    QUORRIN_BMC_VP_LOCAL_PRIORITY = 5,
    QUORRIN_BMC_VP_FIELD_COUNT = 6
};

zerrno quorrin_bmc_init(event_mgr_type *evm);
void quorrin_bmc_shutdown(void);

// A node's clock report (clock null: the node withdrew it); a node that left the group.
void quorrin_bmc_clock_update(const ptp_clock_type *clock, uint32_t node_id, uint32_t ifhandle,
                              int32_t log_sync_interval, int32_t log_delay_req_interval, int32_t delay_asymmetry,
                              const ptp_address_type *address);
void quorrin_bmc_resync_request(uint32_t node_id);

// The clock tree and the ranked list (best first). Adding to the list returns the position (0:
// the head); removing returns whether the record was the head.
void quorrin_bmc_add_clock_to_tree(quorrin_bmc_clock_type *record);
void quorrin_bmc_remove_clock_from_tree(quorrin_bmc_clock_type *record);
uint32_t quorrin_bmc_add_clock_to_ranked_list(quorrin_bmc_clock_type *record);
bool quorrin_bmc_remove_clock_from_ranked_list(quorrin_bmc_clock_type *record);
void quorrin_bmc_for_each_ranked(void (*fn)(const quorrin_bmc_clock_type *record, void *ctx), void *ctx);
// A node's record with its resync timer, in neither the tree nor the list yet (null: no memory,
// reported); the node's record, or null.
quorrin_bmc_clock_type *quorrin_bmc_clock_create(uint32_t node_id, const ptp_clock_type *clock, uint32_t ifhandle,
                                                 const ptp_address_type *address, int32_t log_sync_interval,
                                                 int32_t log_delay_req_interval, int32_t delay_asymmetry);
quorrin_bmc_clock_type *quorrin_bmc_find_clock(uint32_t node_id);

// Decide between the head of the ranked list and the local clock, and carry it out.
void quorrin_bmc_select_gm(uint32_t reason);

// The grandmaster (fills gm when given) and the head's clock, or null while no node reports a
// clock. The operational-data form shows the using flags only while a grandmaster is valid and
// the QL of the head's clock.
const ptp_clock_type *quorrin_bmc_get_gm(quorrin_bmc_gm_type *gm);
const ptp_clock_type *quorrin_bmc_get_gm_oper(quorrin_bmc_gm_type *gm);
// The clock the agents advertise (extra may be null).
void quorrin_bmc_get_advertised_clock(ptp_clock_type *clock, quorrin_bmc_advertised_extra_type *extra);
// The local clock (ids may be null).
void quorrin_bmc_get_local_clock(ptp_clock_type *clock, quorrin_bmc_local_ids_type *ids);
// The QL of a clock under the configured profile and QL option.
quorrin_bmc_ql_type quorrin_bmc_get_clock_ql(const ptp_clock_type *clock);
// The servo's physical-layer frequency (its mode) and network type.
void quorrin_bmc_get_servo_options(uint32_t *servo_mode, uint32_t *network_type);

// The platform clock's state: at init (keep_servo 1) and at each clock update. vp_connected: the
// selection properties come with a virtual port that is present and connected.
void quorrin_bmc_platform_clock_update(uint32_t active, uint32_t using_ptp_for_frequency, uint32_t using_ptp_for_time,
                                       const ptp_platform_clock_props_type *local_props,
                                       const ptp_platform_clock_props_type *selection_props, uint32_t vp_connected,
                                       uint32_t utc_info_valid, uint32_t keep_servo);
// The platform's last clock update said the clock is active.
bool quorrin_bmc_is_node_active(void);
// The servo was found started (its synced state no longer holds), synced, or lost sync.
void quorrin_bmc_servo_started(void);
void quorrin_bmc_gm_synced(void);
void quorrin_bmc_gm_sync_lost(void);
// The leap-second database's best UTC information changed.
void quorrin_bmc_leap_second_update(uint8_t leap_seconds, const quorrin_platform_offset_info_type *info);
// Re-derive the local and selection local clocks; changed (may be null) says whether the local
// clock changed, old_class (may be null) gets its class before.
void quorrin_bmc_local_clock_update(bool *changed, uint8_t *old_class);

// Configuration changes, outside the start-up scan (the values are read from the configuration).
void quorrin_bmc_clock_id_update(void);
void quorrin_bmc_domain_update(void);
void quorrin_bmc_priority_update(void);
void quorrin_bmc_clock_class_update(void);
void quorrin_bmc_timescale_update(void);
void quorrin_bmc_time_traceable_update(void);
void quorrin_bmc_time_source_update(void);
void quorrin_bmc_profile_update(void);
void quorrin_bmc_ql_option_update(void);
void quorrin_bmc_apts_update(void);
// Recompute the servo's physical-layer frequency and network type; true when one changed.
bool quorrin_bmc_network_options_update(void);
void quorrin_bmc_virtual_port_configured(bool configured);
void quorrin_bmc_virtual_port_update(quorrin_bmc_vp_field_type field, bool deleted, uint32_t value);

// The name of a quality-level value: "Invalid", "DNU/DUS", ..., "Unknown QL"; its rank within its
// option (higher is better, 0 outside the option's values).
const char *quorrin_bmc_ql_value_to_str(uint8_t value);
uint32_t quorrin_bmc_ql_rank(quorrin_bmc_ql_type ql);

// ---- Readers for the operational data ---------------------------------------------------------
// The virtual port as selection keeps it.
struct quorrin_bmc_vp_state_type {
    bool configured;
    bool connected;
    uint32_t mask; // bit n: value[n] is set (quorrin_bmc_vp_field_type)
    uint32_t value[QUORRIN_BMC_VP_FIELD_COUNT];
};
void quorrin_bmc_get_virtual_port(quorrin_bmc_vp_state_type *vp);
// The selection local clock; false while the platform keeps no separate one.
bool quorrin_bmc_get_selection_local_clock(ptp_clock_type *clock);
// The grandmaster state behind the controller database.
struct quorrin_bmc_oper_state_type {
    bool node_active;
    bool servo_synced;
    bool gm_valid;
    bool using_frequency;
    bool using_time;
    bool seen_prtc;
    int64_t gm_change_time; // wall-clock nanoseconds
    int64_t advertised_change_time;
    int32_t gm_log_sync_interval;
    int32_t gm_log_delay_req_interval;
};
void quorrin_bmc_get_oper_state(quorrin_bmc_oper_state_type *state);

// ---- The selection's checkpoint ("BMC clock" and "BMC Global" tables) --------------------------
inline constexpr uint32_t QUORRIN_BMC_CHKPT_CLOCK_ENTRY_SIZE = 136;
inline constexpr uint32_t QUORRIN_BMC_CHKPT_GLOBAL_MAX_SIZE = 4068;

// The "BMC Global" record, in protocol-buffers wire format (fields 1 to 3, varints): the three
// flags and which of them are present.
inline constexpr uint8_t QUORRIN_BMC_GLOBAL_HAS_SEEN_PRTC = 1u << 0;
inline constexpr uint8_t QUORRIN_BMC_GLOBAL_HAS_SERVO_EVER_SYNCED = 1u << 1;
inline constexpr uint8_t QUORRIN_BMC_GLOBAL_HAS_LOCAL_CLOCK_GM = 1u << 2;
struct quorrin_bmc_global_chkpt_type {
    bool seen_prtc;
    bool servo_ever_synced;
    bool local_clock_gm;
    uint8_t present; // QUORRIN_BMC_GLOBAL_HAS_*
};
// Unpack results.
inline constexpr int QUORRIN_BMC_GPB_TRUNCATED = -1;
inline constexpr int QUORRIN_BMC_GPB_BAD_UNKNOWN_WIRE_TYPE = -2;
inline constexpr int QUORRIN_BMC_GPB_BAD_WIRE_TYPE = -3;

// The encoded size (buffer null), or the bytes written; 0 when capacity is too small for them.
size_t quorrin_bmc_gpb_global_pack(const quorrin_bmc_global_chkpt_type *record, uint8_t *buffer, size_t capacity);
// 0, or one of the results above (record then undefined). The record owns nothing, so the
// allocator is not used and free has nothing to release.
int quorrin_bmc_gpb_global_unpack(quorrin_bmc_global_chkpt_type *record, const uint8_t *bytes, size_t length,
                                  void *allocator);
void quorrin_bmc_gpb_global_copy(quorrin_bmc_global_chkpt_type *to, const quorrin_bmc_global_chkpt_type *from);
void quorrin_bmc_gpb_global_free(quorrin_bmc_global_chkpt_type *record, void *allocator);

// Registration (and recovery of the clock records) at start, a clock record's entry, the global
// entry (seen PRTC, servo ever synced, local clock GM), and shut-down.
zerrno quorrin_bmc_chkpt_register(void);
void quorrin_bmc_chkpt_clock_save(quorrin_bmc_clock_type *record);
void quorrin_bmc_chkpt_clock_delete(quorrin_bmc_clock_type *record);
void quorrin_bmc_chkpt_global_write(void);
void quorrin_bmc_chkpt_shutdown(void);
// Going primary active, re-reading the global record, and change notices.
void quorrin_bmc_go_primary_active(void);
void quorrin_bmc_chkpt_global_recover(void);
void quorrin_bmc_chkpt_global_ndt(const chkpt_ndt_type *notice);
void quorrin_bmc_chkpt_clock_ndt(const chkpt_ndt_type *notice);
// The three flags the global entry holds.
bool quorrin_bmc_get_seen_prtc(void);
bool quorrin_bmc_get_servo_ever_synced(void);
bool quorrin_bmc_get_local_clock_gm(void);
// The flags as recovered from the checkpoint (nothing is written).
void quorrin_bmc_set_global_flags(bool seen_prtc, bool servo_ever_synced, bool local_clock_gm);
