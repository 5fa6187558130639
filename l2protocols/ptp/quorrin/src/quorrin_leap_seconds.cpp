// The leap-second and UTC-offset database. Four sources of UTC information are weighed: the
// grandmaster (while present, and remembered once it is gone), the configuration (a fixed offset
// and dated offsets, or a leap-seconds list file downloaded from a URL), and the platform clock.
// Dated offsets are applied, and a coming leap second advertised, from the platform clock's own
// time; work that needs that time is queued as actions and run when the time can be read.
#include "quorrin_leap_seconds.h"

#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <curl/curl.h>
#include <iterator>
#include <new>
#include <string_view>
#include <unistd.h>

#include "plat_clock.h"
#include "ptp_alloc.h"
#include "ptp_strings.h"
#include "ptp_syslog.h"
#include "ptp_timer.h"
#include "ptp_zerr_codes.h"
#include "quorrin_bmc.h"
#include "quorrin_debug.h"
#include "quorrin_ha.h"
#include "quorrin_main.h"
#include "quorrin_platform.h"

namespace {

constexpr uint32_t AREA = quorrin_debug_area("leap_seconds");
constexpr time_t SECONDS_PER_DAY = 86400;
constexpr time_t SECONDS_TO_MIDDAY = 43200;
// NTP seconds (since 1900) to UTC seconds since 1970, modulo 2^32.
constexpr uint32_t NTP_TO_UNIX = 2085978496u;
constexpr uint32_t CHKPT_MAX_REGISTER_TRIES = 10;
constexpr uint32_t DOWNLOAD_ATTEMPTS = 3;
// The transfer blocks the event loop: bound it.
constexpr long CURL_CONNECT_TIMEOUT_S = 5;
constexpr long CURL_TIMEOUT_S = 10;
constexpr uint8_t LEAP_NONE = 0;
constexpr uint8_t LEAP_59 = 1;
constexpr uint8_t LEAP_61 = 2;

using entry_type = quorrin_leap_seconds_db_entry_type;
using info_type = quorrin_leap_seconds_offset_info_type;

// A list of dated offsets in ascending start order.
struct db_list_type {
    entry_type *head = nullptr;
    entry_type *tail = nullptr;
    uint32_t count = 0;
};

struct leap_state_type {
    db_list_type db;
    // Sources and the result.
    info_type gm{};
    time_t gm_apply_time = 0;
    bool gm_info_valid = false;
    bool gm_present = false;
    info_type cfg{};
    bool cfg_applied = false;
    info_type platform{};
    bool platform_present = false;
    info_type result{};
    uint8_t source = QUORRIN_LEAP_SECONDS_SOURCE_NONE;
    // The file.
    char *url = nullptr;
    uint32_t days = 0;
    time_t next_check = 0; // 0 check now, 1 retry after a failure
    uint8_t timescale = 1; // arbitrary until told otherwise
    uint32_t profile = 0;
    uint32_t pending = 0;
    bool updates_enabled = false;
    ptp_timer_type retry_timer{};
    ptp_timer_type file_timer{};
    ptp_timer_type midday_timer{};
    ptp_timer_type midnight_timer{};
    bool timers_created = false;
    uint32_t timestamp_failures = 0;
    bool timestamp_failure_traced = false;
    bool curl_initialised = false;
    chkpt_tbl_type *table = nullptr;
    chkpt_objid gm_chkpt_id = 0;
};

leap_state_type state;

bool is_leap(uint8_t leap_seconds)
{
    return leap_seconds == LEAP_59 || leap_seconds == LEAP_61;
}

bool same_info(const info_type &a, const info_type &b)
{
    return a.offset_valid == b.offset_valid && a.utc_offset == b.utc_offset && a.leap_seconds == b.leap_seconds;
}

const char *offset_str(const info_type &info)
{
    return ptp_utc_offset_to_str(info.utc_offset, info.offset_valid);
}

const char *leap_str(const info_type &info)
{
    return ptp_leap_second_to_str(info.leap_seconds);
}

// No UTC information is needed on the arbitrary timescale or under G.8265.1.
bool utc_not_needed()
{
    return state.timescale == 1 || state.profile == 1;
}

// A leap the grandmaster announced before it went, waiting for its application time.
bool gm_leap_waiting()
{
    return !state.gm_present && state.gm_info_valid && is_leap(state.gm.leap_seconds) && state.gm_apply_time != 0;
}

// A leap the grandmaster announced whose application time is not known yet.
bool gm_leap_without_time()
{
    return state.gm_info_valid && is_leap(state.gm.leap_seconds) && state.gm_apply_time == 0;
}

// ---- The database ----

entry_type *first_unapplied()
{
    for (entry_type *entry = state.db.head; entry != nullptr; entry = entry->next) {
        if (entry->applied == 0) {
            return entry;
        }
    }
    return nullptr;
}

// An entry counts as applied when it or any later entry is, since entries are applied in order.
bool entry_applied(const entry_type *entry)
{
    for (; entry != nullptr; entry = entry->next) {
        if (entry->applied != 0) {
            return true;
        }
    }
    return false;
}

void recompute_change(entry_type *entry)
{
    if (entry == nullptr) {
        return;
    }
    if (entry->start == 0 || entry_applied(entry)) {
        entry->offset_change = 0;
    } else if (entry->prev == nullptr) {
        entry->offset_change = entry->offset;
    } else {
        entry->offset_change = entry->offset - entry->prev->offset;
    }
}

// Recomputes every entry's change; true at the first one outside -1..+1.
bool db_check_changes()
{
    for (entry_type *entry = state.db.head; entry != nullptr; entry = entry->next) {
        recompute_change(entry);
        if (entry->offset_change < -1 || entry->offset_change > 1) {
            return true;
        }
    }
    return false;
}

entry_type *db_find(const db_list_type &list, time_t start)
{
    for (entry_type *entry = list.head; entry != nullptr; entry = entry->next) {
        if (entry->start == start) {
            return entry;
        }
    }
    return nullptr;
}

void db_unlink(db_list_type &list, entry_type *entry)
{
    (entry->prev != nullptr ? entry->prev->next : list.head) = entry->next;
    (entry->next != nullptr ? entry->next->prev : list.tail) = entry->prev;
    list.count--;
}

zerrno db_add_or_update(db_list_type &list, int16_t offset, time_t start)
{
    QUORRIN_DEBUG(AREA, "%s: Adding or updating entry in database: timestamp: %d, offset: %+d", static_cast<int>(start),
                  offset);
    entry_type *entry = db_find(list, start);
    if (entry != nullptr) {
        entry->offset = offset;
        entry->applied = 0;
    } else {
        QUORRIN_DEBUG(AREA, "%s: Creating new database entry (offset: %+d, timestamp: %d)", offset,
                      static_cast<int>(start));
        entry = new (std::nothrow) entry_type{};
        if (entry == nullptr) {
            ptp_alloc_failure_report(sizeof(entry_type), "Leap seconds database entry");
            return PTP_ZERR_NOMEM;
        }
        entry->offset = offset;
        entry->start = start;
        entry_type *after = list.tail;
        while (after != nullptr && after->start > start) {
            after = after->prev;
        }
        entry->prev = after;
        entry->next = after != nullptr ? after->next : list.head;
        (entry->next != nullptr ? entry->next->prev : list.tail) = entry;
        (after != nullptr ? after->next : list.head) = entry;
        list.count++;
    }
    recompute_change(entry);
    recompute_change(entry->next);
    return 0;
}

void db_free(db_list_type &list, bool verbose)
{
    if (verbose) {
        QUORRIN_DEBUG(AREA, "%s: Deleting leap seconds database");
    }
    while (list.head != nullptr) {
        entry_type *entry = list.head;
        if (verbose) {
            QUORRIN_DEBUG(AREA, "%s: Removing entry with timestamp %d from leap seconds database",
                          static_cast<int>(entry->start));
        }
        list.head = entry->next;
        delete entry;
    }
    list = db_list_type{};
}

bool all_applied()
{
    return first_unapplied() == nullptr;
}

// ---- The "UTC Info" checkpoint record ----

bool chkpt_writable()
{
    return state.table != nullptr && quorrin_ha_get_issu_role() == 1 && quorrin_main_is_kvolm_or_lc();
}

// Host byte order, like the controller's other tables: the record never leaves the node.
void chkpt_encode(uint8_t out[QUORRIN_LEAP_SECONDS_CHKPT_SIZE])
{
    std::memset(out, 0, QUORRIN_LEAP_SECONDS_CHKPT_SIZE);
    const uint32_t valid = state.gm.offset_valid;
    const int16_t offset = state.gm.utc_offset;
    const int64_t apply_time = state.gm_apply_time;
    std::memcpy(out, &valid, sizeof(valid));
    std::memcpy(out + 4, &offset, sizeof(offset));
    out[6] = state.gm.leap_seconds;
    std::memcpy(out + 8, &apply_time, sizeof(apply_time));
}

// A record read back is taken only whole and with a leap indicator that exists.
bool chkpt_decode(const uint8_t *data, uint32_t length, info_type *info, time_t *apply_time)
{
    if (length != QUORRIN_LEAP_SECONDS_CHKPT_SIZE || data[6] > LEAP_61) {
        return false;
    }
    int64_t when = 0;
    std::memcpy(&info->offset_valid, data, sizeof(info->offset_valid));
    std::memcpy(&info->utc_offset, data + 4, sizeof(info->utc_offset));
    info->leap_seconds = data[6];
    std::memcpy(&when, data + 8, sizeof(when));
    *apply_time = static_cast<time_t>(when);
    return true;
}

void chkpt_gm_write()
{
    if (!chkpt_writable()) {
        return;
    }
    zerrno rc = 0;
    if (state.gm_chkpt_id == 0 &&
        (rc = chkpt_create(state.table, QUORRIN_LEAP_SECONDS_CHKPT_KEY, &state.gm_chkpt_id)) != 0) {
        state.gm_chkpt_id = 0;
        QUORRIN_DEBUG_ERR(AREA, "%s: Failed to create grandmaster checkpoint record: %s", zerr_strerror(rc));
        ptp_trace<PTP_TRACE_QUORRIN_LEAP_CHKPT_WRITE_FAILED>({quorrin_det()}, rc);
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Writing grandmaster checkpoint record. UTC offset: %s, Leap seconds: %s, Timestamp: %d",
                  offset_str(state.gm), leap_str(state.gm), static_cast<int>(state.gm_apply_time));
    ptp_trace<PTP_TRACE_QUORRIN_LEAP_CHKPT_WRITE>({quorrin_det()}, offset_str(state.gm), leap_str(state.gm),
                                                  static_cast<int64_t>(state.gm_apply_time));
    uint8_t record[QUORRIN_LEAP_SECONDS_CHKPT_SIZE];
    chkpt_encode(record);
    if ((rc = chkpt_save(state.table, state.gm_chkpt_id, record, sizeof(record))) != 0) {
        QUORRIN_DEBUG_ERR(AREA, "%s: Failed to save grandmaster checkpoint record: %s", zerr_strerror(rc));
        ptp_trace<PTP_TRACE_QUORRIN_LEAP_CHKPT_WRITE_FAILED>({quorrin_det()}, rc);
    }
}

// ---- The leap-seconds list file ----

// The downloaded file, grown piece by piece, always NUL-terminated, never beyond the limit.
struct file_buffer_type {
    char *data = nullptr;
    size_t length = 0;
    size_t capacity = 0;
    bool refused = false; // too large, or no memory
};

size_t file_write_cb(char *piece, size_t size, size_t count, void *context)
{
    auto *buffer = static_cast<file_buffer_type *>(context);
    QUORRIN_DEBUG(AREA, "%s: Writing part of remote file to memory");
    if (size != 0 && count > (QUORRIN_LEAP_SECONDS_FILE_MAX_BYTES + 1) / size) {
        QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] Remote file is larger than %u bytes",
                          static_cast<unsigned>(QUORRIN_LEAP_SECONDS_FILE_MAX_BYTES));
        buffer->refused = true;
        return 0;
    }
    const size_t length = size * count;
    if (length > QUORRIN_LEAP_SECONDS_FILE_MAX_BYTES - buffer->length) {
        QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] Remote file is larger than %u bytes",
                          static_cast<unsigned>(QUORRIN_LEAP_SECONDS_FILE_MAX_BYTES));
        buffer->refused = true;
        return 0;
    }
    const size_t needed = buffer->length + length + 1;
    if (needed > buffer->capacity) {
        size_t capacity = buffer->capacity < 4096 ? 4096 : buffer->capacity * 2;
        if (capacity < needed) {
            capacity = needed;
        }
        if (capacity > QUORRIN_LEAP_SECONDS_FILE_MAX_BYTES + 1) {
            capacity = QUORRIN_LEAP_SECONDS_FILE_MAX_BYTES + 1;
        }
        char *grown = static_cast<char *>(std::realloc(buffer->data, capacity));
        if (grown == nullptr) {
            ptp_alloc_failure_report(capacity, "File data memory for leap seconds database");
            buffer->refused = true;
            return 0;
        }
        buffer->data = grown;
        buffer->capacity = capacity;
    }
    std::memcpy(buffer->data + buffer->length, piece, length);
    buffer->length += length;
    buffer->data[buffer->length] = '\0';
    return length;
}

template <typename T>
bool set_option(CURL *handle, CURLoption option, T value)
{
    QUORRIN_DEBUG(AREA, "%s: Setting cURL option %u (handle 0x%lX)", static_cast<unsigned>(option),
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(handle)));
    return curl_easy_setopt(handle, option, value) == CURLE_OK;
}

// Downloads the file into buffer: 0, or the download failure code.
zerrno file_download(const char *url, file_buffer_type *buffer)
{
    CURL *handle = curl_easy_init();
    if (handle == nullptr) {
        return PTP_ZERR_CURL_DOWNLOAD;
    }
    // An error page is not the file, and a stalled server must not hold the event loop.
    const bool options_set = set_option(handle, CURLOPT_URL, url) &&
                             set_option(handle, CURLOPT_WRITEFUNCTION, file_write_cb) &&
                             set_option(handle, CURLOPT_WRITEDATA, static_cast<void *>(buffer)) &&
                             set_option(handle, CURLOPT_FAILONERROR, 1L) && set_option(handle, CURLOPT_NOSIGNAL, 1L) &&
                             set_option(handle, CURLOPT_CONNECTTIMEOUT, CURL_CONNECT_TIMEOUT_S) &&
                             set_option(handle, CURLOPT_TIMEOUT, CURL_TIMEOUT_S);
    zerrno rc = options_set ? 0 : PTP_ZERR_CURL_DOWNLOAD;
    for (uint32_t attempt = 1; rc == 0 && attempt <= DOWNLOAD_ATTEMPTS; attempt++) {
        // A failed attempt may have written part of the file.
        buffer->length = 0;
        if (buffer->data != nullptr) {
            buffer->data[0] = '\0';
        }
        const CURLcode result = curl_easy_perform(handle);
        if (result == CURLE_OK) {
            QUORRIN_DEBUG(AREA, "%s: Successfully downloaded file '%s' (%u attempt%s required)", url, attempt,
                          attempt == 1 ? "" : "s");
            ptp_trace<PTP_TRACE_QUORRIN_LEAP_FILE_DOWNLOADED>({quorrin_det()}, attempt, attempt == 1 ? "" : "s");
            break;
        }
        QUORRIN_DEBUG_ERR(AREA, "%s: Failed to download file '%s', cURL error: %s", url, curl_easy_strerror(result));
        ptp_trace<PTP_TRACE_QUORRIN_LEAP_FILE_DOWNLOAD_FAILED>({quorrin_det()}, curl_easy_strerror(result));
        // A file too large, or no memory for it, stays so.
        if (attempt == DOWNLOAD_ATTEMPTS || buffer->refused) {
            rc = PTP_ZERR_CURL_DOWNLOAD;
        }
    }
    curl_easy_cleanup(handle);
    return rc;
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// A field parses when it is all digits (ten digits: not above 2^32 - 1, compared as text), or,
// shorter than ten characters, when it starts with digits (the rest is ignored).
bool parse_number(std::string_view field, uint32_t *value)
{
    if (field.empty() || !is_digit(field[0])) {
        return false;
    }
    size_t digits = 0;
    while (digits < field.size() && is_digit(field[digits])) {
        digits++;
    }
    if (digits == field.size()) {
        if (field.size() > 10 || (field.size() == 10 && field > "4294967295")) {
            return false;
        }
    } else if (field.size() >= 10) {
        return false;
    }
    uint64_t number = 0;
    for (size_t i = 0; i < digits; i++) {
        number = number * 10 + static_cast<uint64_t>(field[i] - '0');
    }
    *value = static_cast<uint32_t>(number);
    return true;
}

// Parses the text of a leap-seconds list file into list (entries added in order) and, from its
// "#@" line, the expiry. 0, or the out-of-memory code of the entry that could not be stored.
zerrno file_parse(const char *text, size_t length, db_list_type &list, bool *has_expiry, time_t *expiry)
{
    const std::string_view file(text, length);
    size_t position = 0;
    while (position < file.size()) {
        size_t end = file.find_first_of("\n\r", position);
        if (end == std::string_view::npos) {
            end = file.size();
        }
        std::string_view line = file.substr(position, end - position);
        position = end + 1;
        if (const size_t comment = line.find("# "); comment != std::string_view::npos) {
            line = line.substr(0, comment);
        }
        std::string_view fields[2];
        uint32_t count = 0;
        size_t at = 0;
        while (count <= 2) {
            at = line.find_first_not_of(" \t", at);
            if (at == std::string_view::npos) {
                break;
            }
            size_t stop = line.find_first_of(" \t", at);
            if (stop == std::string_view::npos) {
                stop = line.size();
            }
            if (count < 2) {
                fields[count] = line.substr(at, stop - at);
            }
            count++;
            at = stop;
        }
        if (count != 2 || fields[0].size() > 10 || fields[1].size() > 10) {
            continue;
        }
        uint32_t first = 0;
        uint32_t second = 0;
        if (fields[0].starts_with("#@")) {
            if (parse_number(fields[1], &second)) {
                *has_expiry = true;
                *expiry = static_cast<time_t>(static_cast<uint32_t>(second + NTP_TO_UNIX));
            }
            continue;
        }
        if (!parse_number(fields[0], &first) || !parse_number(fields[1], &second) || second >= 65536) {
            continue;
        }
        const auto start = static_cast<time_t>(static_cast<uint32_t>(first + NTP_TO_UNIX));
        if (const zerrno rc = db_add_or_update(list, static_cast<int16_t>(second), start); rc != 0) {
            return rc;
        }
    }
    return 0;
}

// Downloads and parses the file; only a whole file with entries replaces the database.
zerrno file_check()
{
    file_buffer_type buffer;
    zerrno rc = file_download(state.url, &buffer);
    db_list_type parsed;
    bool has_expiry = false;
    time_t expiry = 0;
    if (rc == 0) {
        rc = file_parse(buffer.data != nullptr ? buffer.data : "", buffer.length, parsed, &has_expiry, &expiry);
    }
    if (rc == 0 && parsed.count == 0) {
        QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] File '%s' holds no leap second entries", state.url);
        rc = PTP_ZERR_CURL_DOWNLOAD;
    }
    std::free(buffer.data);
    if (rc != 0) {
        db_free(parsed, false);
        return rc;
    }
    db_free(state.db, true);
    state.db = parsed;
    state.cfg_applied = false;
    if (has_expiry) {
        state.next_check = expiry;
    }
    return 0;
}

void timer_start_s(ptp_timer_type *timer, time_t seconds)
{
    ptp_timer_start(timer, static_cast<uint32_t>(seconds) * 1000u, false);
}

void stop_retry_if_idle()
{
    if (state.pending == 0) {
        ptp_timer_stop(&state.retry_timer);
    }
}

void unqueue(uint32_t actions)
{
    if ((state.pending & actions) == 0) {
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Unqueueing actions: 0x%x", actions);
    state.pending &= ~actions;
}

// ---- Processing steps ----

void action_gm_apply_time(time_t now)
{
    QUORRIN_DEBUG(AREA, "%s: Calculating grandmaster implied leap second application time");
    if (!state.gm_info_valid || !is_leap(state.gm.leap_seconds)) {
        return;
    }
    state.gm_apply_time = now / SECONDS_PER_DAY * SECONDS_PER_DAY + SECONDS_PER_DAY;
    QUORRIN_DEBUG(AREA, "%s: Calculated implied leap second application timestamp: %d",
                  static_cast<int>(state.gm_apply_time));
    ptp_trace<PTP_TRACE_QUORRIN_LEAP_GM_APPLY_TIME>({quorrin_det()}, static_cast<int64_t>(state.gm_apply_time));
    chkpt_gm_write();
}

void action_file(time_t now)
{
    QUORRIN_DEBUG(AREA, "%s: Checking leap seconds file");
    ptp_timer_stop(&state.file_timer);
    bool failed = false;
    if (state.url != nullptr && state.next_check <= now) {
        if (file_check() != 0) {
            ptp_syslog_file_download_failed(state.url);
            state.next_check = 1;
            failed = true;
        } else if (state.days != 0) {
            state.next_check = now + static_cast<time_t>(state.days) * SECONDS_PER_DAY;
        }
    }
    if (state.next_check != 0) {
        const time_t seconds = failed ? QUORRIN_LEAP_SECONDS_FILE_RETRY_S : QUORRIN_LEAP_SECONDS_FILE_CHECK_S;
        QUORRIN_DEBUG(AREA, "%s: Restarting file timer (%d seconds)", static_cast<int>(seconds));
        timer_start_s(&state.file_timer, seconds);
    }
}

void action_updates(time_t now)
{
    QUORRIN_DEBUG(AREA, "%s: Checking for UTC offset updates");
    QUORRIN_DEBUG(AREA, "%s: Checking for config database updates");
    entry_type *entry = first_unapplied();
    if (entry == nullptr || entry->start > now + SECONDS_PER_DAY) {
        QUORRIN_DEBUG(AREA, "%s: No pending updates at the current time");
    } else if (entry->start <= now) {
        entry_type *latest = state.db.tail;
        while (latest->start > now) {
            latest = latest->prev;
        }
        state.cfg = {1, latest->offset, LEAP_NONE};
        state.cfg_applied = true;
        QUORRIN_DEBUG(AREA, "%s: Applying update from config. UTC offset %s, Leap seconds: %s", offset_str(state.cfg),
                      leap_str(state.cfg));
        ptp_trace<PTP_TRACE_QUORRIN_LEAP_CONFIG_APPLY>({quorrin_det()}, offset_str(state.cfg), leap_str(state.cfg));
        for (entry_type *done = latest; done != nullptr; done = done->prev) {
            done->applied = 1;
        }
    }

    entry = first_unapplied();
    if (entry != nullptr && entry->start > now && entry->start <= now + SECONDS_PER_DAY) {
        const int32_t old_offset = state.cfg_applied ? state.cfg.utc_offset : 0;
        const int32_t difference = entry->offset - old_offset;
        uint8_t leap_seconds = LEAP_NONE;
        if (difference == -1) {
            leap_seconds = LEAP_59;
        } else if (difference == 1) {
            leap_seconds = LEAP_61;
        } else if (difference != 0) {
            ptp_syslog_invalid_upcoming_leap_second(old_offset, entry->offset);
        }
        if (leap_seconds != state.cfg.leap_seconds) {
            state.cfg.leap_seconds = leap_seconds;
            QUORRIN_DEBUG(AREA, "%s: Advertising update from config. UTC offset %s, Leap seconds: %s",
                          offset_str(state.cfg), leap_str(state.cfg));
            ptp_trace<PTP_TRACE_QUORRIN_LEAP_CONFIG_ADVERTISE>({quorrin_det()}, offset_str(state.cfg),
                                                               leap_str(state.cfg));
        }
    }

    if (db_check_changes()) {
        ptp_syslog_invalid_leap_seconds_config();
    }

    QUORRIN_DEBUG(AREA, "%s: Checking for grandmaster updates");
    if (gm_leap_waiting() && state.gm_apply_time <= now) {
        state.gm.utc_offset = static_cast<int16_t>(state.gm.utc_offset + (state.gm.leap_seconds == LEAP_61 ? 1 : -1));
        state.gm.leap_seconds = LEAP_NONE;
        state.gm_apply_time = 0;
        QUORRIN_DEBUG(AREA, "%s: Updating grandmaster info while in holdover. UTC offset %s, Leap seconds: %s",
                      offset_str(state.gm), leap_str(state.gm));
        ptp_trace<PTP_TRACE_QUORRIN_LEAP_GM_HOLDOVER>({quorrin_det()}, offset_str(state.gm), leap_str(state.gm));
        chkpt_gm_write();
    }
    quorrin_leap_seconds_select_best();
}

void timestamp_failed(zerrno rc)
{
    if (!state.timestamp_failure_traced) {
        state.timestamp_failure_traced = true;
        ptp_trace<PTP_TRACE_QUORRIN_LEAP_TIMESTAMP_FAILED>({quorrin_det(), quorrin_sum()}, rc);
    }
    QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] Failed to get current PTP timestamp from platform: %s", zerr_strerror(rc));
    if (!ptp_timer_is_running(&state.retry_timer)) {
        ptp_timer_start(&state.retry_timer, QUORRIN_LEAP_SECONDS_RETRY_MS, false);
    }
    if (++state.timestamp_failures >= QUORRIN_LEAP_SECONDS_TIMESTAMP_FAILURE_LIMIT) {
        ptp_syslog_repeated_timestamp_failure();
        state.timestamp_failures = 0;
    }
}

// ---- Timers ----

int retry_timer_cb(ptp_timer_type *, void *, int *)
{
    quorrin_leap_seconds_process(0);
    return 0;
}

int file_timer_cb(ptp_timer_type *, void *, int *)
{
    QUORRIN_DEBUG(AREA, "%s: File timer fired");
    ptp_trace<PTP_TRACE_QUORRIN_LEAP_FILE_TIMER>({quorrin_det()});
    quorrin_leap_seconds_process(QUORRIN_LEAP_SECONDS_ACTION_FILE | QUORRIN_LEAP_SECONDS_ACTION_UPDATES);
    return 0;
}

int midday_timer_cb(ptp_timer_type *, void *, int *)
{
    QUORRIN_DEBUG(AREA, "%s: Midday timer fired");
    ptp_trace<PTP_TRACE_QUORRIN_LEAP_MIDDAY_TIMER>({quorrin_det()});
    quorrin_leap_seconds_process(QUORRIN_LEAP_SECONDS_ACTION_UPDATES);
    return 0;
}

int midnight_timer_cb(ptp_timer_type *, void *, int *)
{
    QUORRIN_DEBUG(AREA, "%s: Midnight timer fired");
    ptp_trace<PTP_TRACE_QUORRIN_LEAP_MIDNIGHT_TIMER>({quorrin_det()});
    quorrin_leap_seconds_process(QUORRIN_LEAP_SECONDS_ACTION_UPDATES);
    return 0;
}

// After a configuration delete: the day timers stop once nothing waits for them, and the update
// check is dropped unless a grandmaster leap still needs its time.
void after_delete(uint32_t drop)
{
    if (all_applied()) {
        ptp_timer_stop(&state.midday_timer);
        if (!gm_leap_waiting()) {
            ptp_timer_stop(&state.midnight_timer);
        }
    }
    if (gm_leap_without_time()) {
        drop &= ~QUORRIN_LEAP_SECONDS_ACTION_UPDATES;
    }
    unqueue(drop);
    stop_retry_if_idle();
}

void push_result()
{
    const quorrin_platform_offset_info_type info{state.result.utc_offset, state.result.offset_valid};
    quorrin_bmc_leap_second_update(state.result.leap_seconds, &info);
}

zerrno init_failed(const char *text, zerrno rc)
{
    ptp_syslog_init_failed(text, zerr_strerror(rc));
    return rc;
}

// The process retries the registration in place; on virtual time the pause is skipped.
void register_pause()
{
    if (!plat_clock_is_virtual()) {
        sleep(1);
    }
}

void chkpt_recover()
{
    uint8_t record[QUORRIN_LEAP_SECONDS_CHKPT_SIZE + 4] = {};
    uint32_t length = sizeof(record);
    chkpt_objid objid = 0;
    const zerrno rc = chkpt_get_bykey(state.table, QUORRIN_LEAP_SECONDS_CHKPT_KEY, &objid, record, &length);
    if (rc == CHKPT_ERR_NOT_FOUND) {
        return;
    }
    if (rc != 0) {
        QUORRIN_DEBUG_ERR(AREA, "%s: Failed to recover grandmaster checkpoint record: %s", zerr_strerror(rc));
        ptp_trace<PTP_TRACE_QUORRIN_LEAP_CHKPT_RECOVER_FAILED>({quorrin_det()}, rc);
        return;
    }
    info_type info{};
    time_t apply_time = 0;
    if (!chkpt_decode(record, length, &info, &apply_time)) {
        if (length != 0) {
            QUORRIN_DEBUG_ERR(AREA, "%s: Failed to recover grandmaster checkpoint record: %s",
                              "record of the wrong size or content");
        }
        if (chkpt_writable()) {
            chkpt_delete(state.table, objid);
        }
        return;
    }
    state.gm = info;
    state.gm_apply_time = apply_time;
    state.gm_info_valid = true;
    state.gm_present = false;
    state.gm_chkpt_id = objid;
    QUORRIN_DEBUG(AREA, "%s: Recovered grandmaster checkpoint record. UTC offset: %s, Leap seconds: %s, Timestamp: %d",
                  offset_str(info), leap_str(info), static_cast<int>(apply_time));
    ptp_trace<PTP_TRACE_QUORRIN_LEAP_CHKPT_RECOVERED>({quorrin_det()}, offset_str(info), leap_str(info),
                                                      static_cast<int64_t>(apply_time));
    if (is_leap(info.leap_seconds)) {
        quorrin_leap_seconds_process(apply_time != 0 ? QUORRIN_LEAP_SECONDS_ACTION_UPDATES
                                                     : QUORRIN_LEAP_SECONDS_ACTION_GM_APPLY_TIME |
                                                           QUORRIN_LEAP_SECONDS_ACTION_UPDATES);
    }
}

void destroy_timers()
{
    if (!state.timers_created) {
        return;
    }
    for (ptp_timer_type *timer : {&state.retry_timer, &state.file_timer, &state.midday_timer, &state.midnight_timer}) {
        ptp_timer_stop(timer);
        ptp_timer_destroy(timer);
    }
    state.timers_created = false;
}

} // namespace

// ---- Processing ----

void quorrin_leap_seconds_process(uint32_t actions)
{
    state.pending |= actions;
    if (state.pending == 0 || utc_not_needed()) {
        QUORRIN_DEBUG(AREA, "%s: Platform timestamp not required - no actions to perform");
        return;
    }
    uint8_t timestamp[PTP_PLATFORM_TIMESTAMP_LEN] = {};
    if (const zerrno rc = quorrin_platform_get_current_timestamp(timestamp); rc != 0) {
        timestamp_failed(rc);
        return;
    }
    // The low 32 bits of the 48-bit seconds, less the offset in force, are UTC seconds.
    const uint32_t seconds = static_cast<uint32_t>(timestamp[2]) << 24 | static_cast<uint32_t>(timestamp[3]) << 16 |
                             static_cast<uint32_t>(timestamp[4]) << 8 | timestamp[5];
    const time_t now = static_cast<time_t>(seconds) - state.result.utc_offset;
    QUORRIN_DEBUG(AREA,
                  "%s: Obtained current timestamp from platform: "
                  "[%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x] -> %d (%+d)",
                  timestamp[0], timestamp[1], timestamp[2], timestamp[3], timestamp[4], timestamp[5], timestamp[6],
                  timestamp[7], timestamp[8], timestamp[9], static_cast<int>(now), state.result.utc_offset);
    if (state.timestamp_failure_traced) {
        ptp_trace<PTP_TRACE_QUORRIN_LEAP_TIMESTAMP_OK>({quorrin_det(), quorrin_sum()});
    }
    state.timestamp_failures = 0;
    state.timestamp_failure_traced = false;
    QUORRIN_DEBUG(AREA, "%s: Obtained current timestamp from platform: %d", static_cast<int>(now));
    ptp_timer_stop(&state.retry_timer);
    ptp_timer_stop(&state.midday_timer);
    ptp_timer_stop(&state.midnight_timer);

    if ((state.pending & QUORRIN_LEAP_SECONDS_ACTION_GM_APPLY_TIME) != 0) {
        action_gm_apply_time(now);
    }
    if ((state.pending & QUORRIN_LEAP_SECONDS_ACTION_FILE) != 0) {
        action_file(now);
    }
    if ((state.pending & QUORRIN_LEAP_SECONDS_ACTION_UPDATES) != 0) {
        action_updates(now);
    }
    state.pending = 0;

    const time_t today = now / SECONDS_PER_DAY * SECONDS_PER_DAY;
    const bool unapplied = !all_applied();
    if (unapplied) {
        const time_t midday =
            today + SECONDS_TO_MIDDAY > now ? today + SECONDS_TO_MIDDAY : today + SECONDS_PER_DAY + SECONDS_TO_MIDDAY;
        QUORRIN_DEBUG(AREA, "%s: Restarting midday timer");
        timer_start_s(&state.midday_timer, midday - now);
    }
    if (unapplied || gm_leap_waiting()) {
        QUORRIN_DEBUG(AREA, "%s: Restarting midnight timer");
        timer_start_s(&state.midnight_timer, today + SECONDS_PER_DAY - now);
    }
}

zerrno quorrin_leap_seconds_db_add_or_update(int16_t offset, time_t start)
{
    return db_add_or_update(state.db, offset, start);
}

void quorrin_leap_seconds_select_best(void)
{
    QUORRIN_DEBUG(AREA, "%s: Finding best UTC offset information");
    info_type chosen{};
    uint8_t source = QUORRIN_LEAP_SECONDS_SOURCE_NONE;
    const bool gm_valid = state.gm_info_valid && state.gm.offset_valid != 0;
    if (utc_not_needed()) {
        // none
    } else if (state.gm_present && gm_valid) {
        chosen = state.gm;
        source = QUORRIN_LEAP_SECONDS_SOURCE_GM;
    } else if (state.cfg_applied && state.cfg.offset_valid != 0) {
        chosen = state.cfg;
        source = QUORRIN_LEAP_SECONDS_SOURCE_CONFIGURED;
    } else if (gm_valid) {
        chosen = state.gm;
        source = QUORRIN_LEAP_SECONDS_SOURCE_PREVIOUS_GM;
    } else if (state.platform_present && state.platform.offset_valid != 0) {
        chosen = state.platform;
        source = QUORRIN_LEAP_SECONDS_SOURCE_HARDWARE;
    } else if (state.gm_present && state.gm_info_valid) {
        chosen = state.gm;
        source = QUORRIN_LEAP_SECONDS_SOURCE_GM;
    } else if (!state.cfg_applied) {
        if (state.gm_info_valid) {
            chosen = state.gm;
            source = QUORRIN_LEAP_SECONDS_SOURCE_PREVIOUS_GM;
        } else if (state.platform_present) {
            chosen = state.platform;
            source = QUORRIN_LEAP_SECONDS_SOURCE_HARDWARE;
        }
    } else {
        chosen = state.cfg;
        source = QUORRIN_LEAP_SECONDS_SOURCE_CONFIGURED;
    }
    state.source = source;
    if (same_info(chosen, state.result)) {
        return;
    }
    state.result = chosen;
    if (state.updates_enabled) {
        push_result();
    }
}

// ---- Lifecycle ----

zerrno quorrin_leap_seconds_init(event_mgr_type *)
{
    QUORRIN_DEBUG(AREA, "%s: Initialising leap seconds module");
    ptp_trace<PTP_TRACE_QUORRIN_LEAP_INIT>({quorrin_det()});
    quorrin_leap_seconds_shutdown();
    state = leap_state_type{};

    zerrno rc = 0;
    ptp_timer_type *timers[] = {&state.retry_timer, &state.file_timer, &state.midday_timer, &state.midnight_timer};
    ptp_timer_callback_fn callbacks[] = {retry_timer_cb, file_timer_cb, midday_timer_cb, midnight_timer_cb};
    for (size_t i = 0; i < std::size(timers); i++) {
        if ((rc = ptp_timer_create(timers[i], callbacks[i], nullptr)) != 0) {
            for (size_t j = 0; j < i; j++) {
                ptp_timer_destroy(timers[j]);
            }
            return init_failed("Failed to initialize leap seconds module", rc);
        }
    }
    state.timers_created = true;

    if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) {
        return init_failed("Failed to initialize leap seconds module", PTP_ZERR_CURL_INIT);
    }
    state.curl_initialised = true;

    chkpt_tbldesc_type desc;
    chkpt_tbldesc_init(&desc);
    desc.table_id = QUORRIN_LEAP_SECONDS_TABLE_ID;
    desc.record_size = QUORRIN_LEAP_SECONDS_CHKPT_SIZE;
    desc.max_records = 1;
    for (uint32_t attempt = 1; (rc = chkpt_register(&desc, &state.table)) != 0; attempt++) {
        state.table = nullptr;
        QUORRIN_DEBUG_ERR(AREA, "%s: Failed to register with checkpoint: %s, retrying.", zerr_strerror(rc));
        if (attempt == CHKPT_MAX_REGISTER_TRIES) {
            return init_failed("Failed to register leap seconds checkpoint table after max retries: ", rc);
        }
        register_pause();
    }
    chkpt_recover();
    return 0;
}

zerrno quorrin_leap_seconds_start_updates(void)
{
    QUORRIN_DEBUG(AREA, "%s: Now sending updates");
    ptp_trace<PTP_TRACE_QUORRIN_LEAP_GOING_ACTIVE>({quorrin_det()});
    state.updates_enabled = true;
    push_result();
    return 0;
}

void quorrin_leap_seconds_shutdown(void)
{
    if (!state.timers_created && !state.curl_initialised && state.table == nullptr && state.db.head == nullptr &&
        state.url == nullptr) {
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Shutting down leap seconds module");
    ptp_trace<PTP_TRACE_QUORRIN_LEAP_SHUTDOWN>({quorrin_det()});
    state.updates_enabled = false;
    destroy_timers();
    std::free(state.url);
    state.url = nullptr;
    db_free(state.db, false);
    if (state.curl_initialised) {
        curl_global_cleanup();
    }
    if (state.table != nullptr) {
        chkpt_unregister(state.table);
    }
    state = leap_state_type{};
}

// ---- Checkpoint notices ----

void quorrin_leap_seconds_chkpt_gm_ndt(const chkpt_ndt_type *notice)
{
    QUORRIN_DEBUG(AREA, "%s: Received leap seconds NDT from checkpoint");
    ptp_trace<PTP_TRACE_QUORRIN_LEAP_NDT>({quorrin_det()});
    if (notice == nullptr || state.table == nullptr || notice->objid == 0) {
        return;
    }
    if (notice->objid == state.gm_chkpt_id) {
        // Gone from the table: a new entry takes its place.
        if (notice->type == CHKPT_NDT_DELETE) {
            state.gm_chkpt_id = 0;
        }
        if (state.gm_info_valid) {
            chkpt_gm_write();
        }
        return;
    }
    if (notice->type == CHKPT_NDT_DELETE && chkpt_writable()) {
        chkpt_delete(state.table, notice->objid);
    }
}

void quorrin_leap_seconds_chkpt_delete_all(void)
{
    if (!chkpt_writable()) {
        return;
    }
    chkpt_iter_type *iter = nullptr;
    if (chkpt_iterate_start(state.table, &iter) != 0) {
        return;
    }
    for (;;) {
        chkpt_objid objid = 0;
        uint8_t record[QUORRIN_LEAP_SECONDS_CHKPT_SIZE + 4] = {};
        uint16_t length = sizeof(record);
        const zerrno rc = chkpt_iterate_next(iter, &objid, record, &length);
        if (rc == CHKPT_ERR_TOO_BIG) {
            continue;
        }
        if (rc != 0 || objid == 0) {
            break;
        }
        if (objid != state.gm_chkpt_id) {
            chkpt_delete(state.table, objid);
        }
    }
    chkpt_iterate_end(iter);
}

// ---- Inputs ----

void quorrin_leap_seconds_gm_update(int16_t utc_offset, uint32_t offset_valid, uint8_t leap_seconds)
{
    const info_type info{offset_valid, utc_offset, leap_seconds};
    const bool was_present = state.gm_present && state.gm_info_valid;
    state.gm_info_valid = true;
    state.gm_present = true;
    if (was_present && same_info(info, state.gm)) {
        quorrin_leap_seconds_select_best();
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Update from grandmaster. UTC offset %s, Leap seconds: %s", offset_str(info),
                  leap_str(info));
    ptp_trace<PTP_TRACE_QUORRIN_LEAP_GM_UPDATE>({quorrin_det()}, offset_str(info), leap_str(info));
    state.gm = info;
    state.gm_apply_time = 0;
    chkpt_gm_write();
    if (is_leap(leap_seconds)) {
        quorrin_leap_seconds_process(QUORRIN_LEAP_SECONDS_ACTION_GM_APPLY_TIME);
    } else {
        unqueue(QUORRIN_LEAP_SECONDS_ACTION_GM_APPLY_TIME);
        stop_retry_if_idle();
    }
    quorrin_leap_seconds_select_best();
}

void quorrin_leap_seconds_gm_lost(void)
{
    QUORRIN_DEBUG(AREA, "%s: Grandmaster lost");
    ptp_trace<PTP_TRACE_QUORRIN_LEAP_GM_LOST>({quorrin_det()});
    state.gm_present = false;
    quorrin_leap_seconds_select_best();
    if (gm_leap_waiting()) {
        quorrin_leap_seconds_process(QUORRIN_LEAP_SECONDS_ACTION_UPDATES);
    }
}

void quorrin_leap_seconds_platform_update(bool present, int16_t utc_offset, uint32_t offset_valid, uint8_t leap_seconds)
{
    const info_type info{offset_valid, utc_offset, leap_seconds};
    state.platform_present = present;
    if (present && !same_info(info, state.platform)) {
        QUORRIN_DEBUG(AREA, "%s: Update from platform. UTC offset %s, Leap seconds: %s", offset_str(info),
                      leap_str(info));
        ptp_trace<PTP_TRACE_QUORRIN_LEAP_PLATFORM_UPDATE>({quorrin_det()}, offset_str(info), leap_str(info));
        state.platform = info;
    }
    if (!all_applied() || gm_leap_waiting()) {
        quorrin_leap_seconds_process(QUORRIN_LEAP_SECONDS_ACTION_UPDATES);
    }
    quorrin_leap_seconds_select_best();
}

void quorrin_leap_seconds_timescale_update(uint8_t timescale)
{
    if (timescale != state.timescale) {
        state.timescale = timescale;
        const char *name = timescale == 0 ? "PTP" : "ARB";
        QUORRIN_DEBUG(AREA, "%s: Timescale update: %s", name);
        ptp_trace<PTP_TRACE_QUORRIN_LEAP_TIMESCALE>({quorrin_det()}, name);
        if (timescale == 0) {
            quorrin_leap_seconds_process(0);
        }
    }
    quorrin_leap_seconds_select_best();
}

void quorrin_leap_seconds_profile_update(uint32_t profile)
{
    if (profile != state.profile) {
        state.profile = profile;
        QUORRIN_DEBUG(AREA, "%s: Profile update: %s", ptp_profile_to_str(profile));
        ptp_trace<PTP_TRACE_QUORRIN_LEAP_PROFILE>({quorrin_det()}, profile);
        if (profile != 1) {
            quorrin_leap_seconds_process(0);
        }
    }
    quorrin_leap_seconds_select_best();
}

void quorrin_leap_seconds_cfg_offset_apply(int16_t offset, time_t start)
{
    QUORRIN_DEBUG(AREA, "%s: Applying offset config, timestamp: %d, offset: %+d", static_cast<int>(start), offset);
    if (quorrin_leap_seconds_db_add_or_update(offset, start) != 0) {
        return;
    }
    quorrin_leap_seconds_process(QUORRIN_LEAP_SECONDS_ACTION_UPDATES);
}

void quorrin_leap_seconds_cfg_offset_delete(time_t start)
{
    QUORRIN_DEBUG(AREA, "%s: Deleting offset config, timestamp: %d", static_cast<int>(start));
    if (entry_type *entry = db_find(state.db, start); entry != nullptr) {
        entry_type *next = entry->next;
        db_unlink(state.db, entry);
        delete entry;
        recompute_change(next);
    }
    entry_type *latest = state.db.tail;
    while (latest != nullptr && latest->applied == 0) {
        latest = latest->prev;
    }
    if (latest != nullptr) {
        state.cfg = {1, latest->offset, LEAP_NONE};
        state.cfg_applied = true;
        quorrin_leap_seconds_process(QUORRIN_LEAP_SECONDS_ACTION_UPDATES);
    } else {
        state.cfg_applied = false;
        quorrin_leap_seconds_select_best();
    }
    after_delete(state.db.count == 0 ? QUORRIN_LEAP_SECONDS_ACTION_UPDATES : 0);
}

void quorrin_leap_seconds_file_cfg_apply(const char *url, uint32_t days)
{
    const char *text = url != nullptr ? url : "";
    QUORRIN_DEBUG(AREA, "%s: Applying leap seconds file config: '%s' (%u days)", text, days);
    bool changed = false;
    if (state.url == nullptr || std::strcmp(state.url, text) != 0) {
        char *copy = ptp_strdup(text, "Leap seconds source URL");
        if (copy == nullptr) {
            std::free(state.url);
            state.url = nullptr;
            state.days = 0;
            state.next_check = 0;
            return;
        }
        std::free(state.url);
        state.url = copy;
        state.days = days;
        state.next_check = 0;
        changed = true;
    } else if (days != state.days) {
        state.days = days;
        state.next_check = 0;
        changed = true;
    }
    if (changed) {
        quorrin_leap_seconds_process(QUORRIN_LEAP_SECONDS_ACTION_FILE | QUORRIN_LEAP_SECONDS_ACTION_UPDATES);
    }
}

void quorrin_leap_seconds_file_cfg_delete(void)
{
    QUORRIN_DEBUG(AREA, "%s: Deleting leap seconds file config");
    std::free(state.url);
    state.url = nullptr;
    state.days = 0;
    state.next_check = 0;
    db_free(state.db, true);
    state.cfg_applied = false;
    quorrin_leap_seconds_select_best();
    ptp_timer_stop(&state.file_timer);
    after_delete(QUORRIN_LEAP_SECONDS_ACTION_FILE | QUORRIN_LEAP_SECONDS_ACTION_UPDATES);
}

// ---- Readers ----

void quorrin_leap_seconds_get_current(quorrin_leap_seconds_offset_info_type *info)
{
    *info = state.result;
}

uint32_t quorrin_leap_seconds_db_count(void)
{
    return state.db.count;
}

const quorrin_leap_seconds_db_entry_type *quorrin_leap_seconds_db_first(void)
{
    return state.db.head;
}

bool quorrin_leap_seconds_db_invalid(void)
{
    return db_check_changes();
}

void quorrin_leap_seconds_get_summary(quorrin_leap_seconds_summary_type *summary)
{
    *summary = quorrin_leap_seconds_summary_type{};
    summary->current = state.result;
    summary->source_type = state.source;
    summary->has_gm = state.gm_info_valid && state.gm_present;
    summary->has_previous_gm = state.gm_info_valid && !state.gm_present;
    if (state.gm_info_valid) {
        (state.gm_present ? summary->gm : summary->previous_gm) = state.gm;
    }
    summary->has_configured = state.cfg_applied;
    if (state.cfg_applied) {
        summary->configured = state.cfg;
    }
    summary->has_hardware = state.platform_present;
    if (state.platform_present) {
        summary->hardware = state.platform;
    }
    if (state.gm_info_valid && is_leap(state.gm.leap_seconds) && state.gm_apply_time != 0) {
        summary->has_gm_leap = true;
        summary->gm_leap_change = state.gm.leap_seconds == LEAP_61 ? 1 : -1;
        summary->gm_leap_offset = static_cast<int16_t>(state.gm.utc_offset + summary->gm_leap_change);
        summary->gm_leap_time = state.gm_apply_time;
    }
    if (state.url != nullptr) {
        summary->has_file = true;
        summary->url = state.url;
        summary->polling_days = state.days;
        summary->next_check = state.next_check;
    }
}
