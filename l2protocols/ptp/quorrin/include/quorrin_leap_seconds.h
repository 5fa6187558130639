// The controller's leap-second and UTC-offset database: which UTC offset and pending leap second
// the system advertises, weighed between the grandmaster, the configuration (fixed and scheduled
// offsets, or a downloaded leap-seconds list file), a previous grandmaster and the hardware.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "chkpt.h"
#include "evm.h"
#include "zerrno.h"

// The UTC information of one source, and of the result.
struct quorrin_leap_seconds_offset_info_type {
    uint32_t offset_valid;
    int16_t utc_offset;
    uint8_t leap_seconds; // 0 none, 1 leap 59, 2 leap 61
};

// Where the result came from.
enum quorrin_leap_seconds_source_type : uint8_t {
    QUORRIN_LEAP_SECONDS_SOURCE_NONE = 0,
    QUORRIN_LEAP_SECONDS_SOURCE_GM = 1,
    QUORRIN_LEAP_SECONDS_SOURCE_CONFIGURED = 2,
    QUORRIN_LEAP_SECONDS_SOURCE_PREVIOUS_GM = 3,
    QUORRIN_LEAP_SECONDS_SOURCE_HARDWARE = 4,
};

// One dated offset, in a list kept in ascending start order (one entry per start time). Start 0:
// the offset holds from the beginning.
struct quorrin_leap_seconds_db_entry_type {
    quorrin_leap_seconds_db_entry_type *next;
    quorrin_leap_seconds_db_entry_type *prev;
    int16_t offset;
    time_t start; // UTC seconds since 1970
    int32_t offset_change;
    uint32_t applied;
};

// Work that needs the platform's current time (quorrin_leap_seconds_process).
inline constexpr uint32_t QUORRIN_LEAP_SECONDS_ACTION_GM_APPLY_TIME = 1;
inline constexpr uint32_t QUORRIN_LEAP_SECONDS_ACTION_FILE = 2;
inline constexpr uint32_t QUORRIN_LEAP_SECONDS_ACTION_UPDATES = 4;

// Timers: a failed platform time read is retried after a second; the file is looked at daily, or
// ten minutes after a failed download.
inline constexpr uint32_t QUORRIN_LEAP_SECONDS_RETRY_MS = 1000;
inline constexpr uint32_t QUORRIN_LEAP_SECONDS_FILE_CHECK_S = 86400;
inline constexpr uint32_t QUORRIN_LEAP_SECONDS_FILE_RETRY_S = 600;
// Consecutive failed platform time reads that raise a syslog message.
inline constexpr uint32_t QUORRIN_LEAP_SECONDS_TIMESTAMP_FAILURE_LIMIT = 300;
// A downloaded file larger than this is refused (a real list is a few kilobytes).
inline constexpr size_t QUORRIN_LEAP_SECONDS_FILE_MAX_BYTES = 1024 * 1024;
// The one record of the "UTC Info" checkpoint table: its key and size.
inline constexpr uint32_t QUORRIN_LEAP_SECONDS_TABLE_ID = 3;
inline constexpr uint32_t QUORRIN_LEAP_SECONDS_CHKPT_KEY = 1;
inline constexpr uint32_t QUORRIN_LEAP_SECONDS_CHKPT_SIZE = 16;

zerrno quorrin_leap_seconds_init(event_mgr_type *evm);
// From now on the database sends its updates.
zerrno quorrin_leap_seconds_start_updates(void);
void quorrin_leap_seconds_shutdown(void);

// Checkpoint notices of the "UTC Info" table, and the clean-up on becoming primary: every entry
// but the grandmaster record goes.
void quorrin_leap_seconds_chkpt_gm_ndt(const chkpt_ndt_type *notice);
void quorrin_leap_seconds_chkpt_delete_all(void);

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

// The module's own steps, named for its readers: queue actions and run what is pending, add or
// update one database entry (0 or the out-of-memory code), and choose the best information.
void quorrin_leap_seconds_process(uint32_t actions);
zerrno quorrin_leap_seconds_db_add_or_update(int16_t offset, time_t start);
void quorrin_leap_seconds_select_best(void);

// ---- Readers ----

// The result that selection advertises.
void quorrin_leap_seconds_get_current(quorrin_leap_seconds_offset_info_type *info);
uint32_t quorrin_leap_seconds_db_count(void);
// The first entry (null when empty); walk on through next. Valid until the database changes.
const quorrin_leap_seconds_db_entry_type *quorrin_leap_seconds_db_first(void);
// Recomputes each entry's offset change; true when a change is outside -1..+1.
bool quorrin_leap_seconds_db_invalid(void);

// What the leap-seconds operational data shows; a has_ flag tells whether its part is there.
struct quorrin_leap_seconds_summary_type {
    quorrin_leap_seconds_offset_info_type current;
    uint8_t source_type; // quorrin_leap_seconds_source_type
    bool has_gm;         // valid and present
    quorrin_leap_seconds_offset_info_type gm;
    bool has_configured; // applied
    quorrin_leap_seconds_offset_info_type configured;
    bool has_previous_gm; // valid, not present
    quorrin_leap_seconds_offset_info_type previous_gm;
    bool has_hardware; // present
    quorrin_leap_seconds_offset_info_type hardware;
    // The grandmaster's leap once its application time is known: the offset after it, when, and
    // the change (-1 leap 59, +1 leap 61).
    bool has_gm_leap;
    int16_t gm_leap_offset;
    time_t gm_leap_time;
    int32_t gm_leap_change;
    // The file: its URL (valid until the file configuration changes), polling days and the time
    // of the next check (1: retrying after a failure).
    bool has_file;
    const char *url;
    uint32_t polling_days;
    time_t next_check;
};
void quorrin_leap_seconds_get_summary(quorrin_leap_seconds_summary_type *summary);
