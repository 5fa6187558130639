// The foreign-master data set of a port: Announce receipt, qualification by announce ticks,
// ranking with ptp_clock_compare under the node's clock-selection mode, time-outs, and the
// report of the port's best foreign master to the port manager.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ptp_types.h"
#include "tessel_fsm_foreign_master.h"
#include "zerrno.h"

struct tessel_proto_idb_type;
struct ptp_msg_hdr_fields_type;

// Ticks within which two Announces qualify a master, and without one it times out.
inline constexpr uint16_t PTP_FSM_ANNOUNCE_WINDOW = 5;
// Records a port learns from Announces of new senders, beyond the masters of its master table:
// a flood of forged senders must not grow the data set (and its ranking) without end.
inline constexpr uint32_t PTP_FSM_FM_LEARNED_MAX = 256;
// Foreign-master time-outs stay suspended this long after a restart.
inline constexpr uint32_t PTP_FSM_FM_TIMEOUT_RESUME_MS = 10000;

// Decoded Announce body (bytes 34-63).
struct ptp_announce_body_type {
    int16_t current_utc_offset;
    uint8_t gm_priority1;
    uint8_t gm_clock_class;
    uint8_t gm_clock_accuracy;
    uint16_t gm_oslv;
    uint8_t gm_priority2;
    uint64_t gm_identity;
    uint16_t steps_removed;
    uint8_t time_source;
};

// False (nothing read) when fewer than 64 bytes are given.
bool ptp_announce_body_decode(const uint8_t *msg, size_t len, ptp_announce_body_type *out);

// Announce receipt: msg_len bytes of the message (already checked against the bytes received)
// and its header as the receive dispatch decoded it. src is the master's address; dst the
// address it was sent to, or null. Rejections are counted drops.
void ptp_fsm_announce_in(tessel_proto_idb_type *port, const uint8_t *msg, size_t msg_len,
                         const ptp_msg_hdr_fields_type &hdr, const ptp_address_type *src, const ptp_address_type *dst);

// Reports the port's best foreign master (none while held Passive) through client operation 0;
// postponed to the unlock while the port is locked.
void ptp_fsm_announce_best_foreign_master_changed(tessel_proto_idb_type *port);

// The best foreign master as reported: none while held Passive, else the ranked head.
ptp_fsm_foreign_master_type *ptp_fsm_announce_best_foreign_master(const tessel_proto_idb_type *port);

void ptp_fsm_announce_foreign_master_rank(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm);
void ptp_fsm_announce_foreign_master_unrank(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm);
// Ranks or unranks by eligibility.
void ptp_fsm_announce_foreign_master_update_rank(ptp_fsm_foreign_master_type *fm);
// Unrank, update rank, and notify when the best changed or is this record.
void ptp_fsm_announce_foreign_master_rerank(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm);
// Marks the record qualified now; ranks it unless no_rank.
void ptp_fsm_announce_foreign_master_qualify(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm, int no_rank);
// True when the record may be ranked.
bool ptp_fsm_announce_foreign_master_is_eligible(const ptp_fsm_foreign_master_type *fm);

void ptp_fsm_announce_foreign_master_start_listening(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm);
void ptp_fsm_announce_foreign_master_stop_listening(tessel_proto_idb_type *port, ptp_fsm_foreign_master_type *fm);

// The port's listening timers.
void ptp_fsm_announce_start_listening(tessel_proto_idb_type *port);
void ptp_fsm_announce_end_listening(tessel_proto_idb_type *port);
zerrno ptp_fsm_announce_timers_create(tessel_proto_idb_type *port);
void ptp_fsm_announce_timers_destroy(tessel_proto_idb_type *port);

// Node-wide suspension of foreign-master time-outs after a restart.
void ptp_fsm_announce_suspend_foreign_master_timeouts(tessel_proto_idb_type *port);
void ptp_fsm_announce_resume_foreign_master_timeouts(void);
bool ptp_fsm_announce_foreign_master_timeouts_suspended(void);

// One tick of the port's announce timer (the timer callback's work).
void ptp_fsm_announce_timer_tick(tessel_proto_idb_type *port);
// One tick of the Sync (sync != 0) or Delay-Resp receive timer.
void ptp_fsm_announce_receive_timer_tick(tessel_proto_idb_type *port, int sync);
