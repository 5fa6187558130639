// The controller's leap-second and UTC-offset database: start-up and checkpoint notices.
#pragma once

#include <cstdint>
#include <ctime>

#include "chkpt.h"
#include "evm.h"
#include "zerrno.h"

zerrno quorrin_leap_seconds_init(event_mgr_type *evm);
// From now on the database sends its updates.
zerrno quorrin_leap_seconds_start_updates(void);
void quorrin_leap_seconds_shutdown(void);
void quorrin_leap_seconds_chkpt_gm_ndt(const chkpt_ndt_type *notice);

// From best-master selection: the grandmaster's UTC information (offset, valid, leap indicator 0
// none, 1 leap59, 2 leap61), the grandmaster gone, and the timescale in force (0 PTP, 1 ARB).
void quorrin_leap_seconds_gm_update(int16_t utc_offset, uint32_t offset_valid, uint8_t leap_seconds);
void quorrin_leap_seconds_gm_lost(void);
void quorrin_leap_seconds_timescale_update(uint8_t timescale);
// From the platform's clock update: the UTC information of its properties (present: they carry it).
void quorrin_leap_seconds_platform_update(bool present, int16_t utc_offset, uint32_t offset_valid,
                                          uint8_t leap_seconds);
// Configuration: an offset from its start time (0: from the beginning), a leap-seconds list file
// polled every `days` (0: at the file's expiry), and the clock profile.
void quorrin_leap_seconds_cfg_offset_apply(int16_t offset, time_t start);
void quorrin_leap_seconds_cfg_offset_delete(time_t start);
void quorrin_leap_seconds_file_cfg_apply(const char *url, uint32_t days);
void quorrin_leap_seconds_file_cfg_delete(void);
void quorrin_leap_seconds_profile_update(uint32_t profile);
