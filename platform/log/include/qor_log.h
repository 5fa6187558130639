// System log: the process's syslog identity and catalogue messages.
//
// A message is defined once by a read-only definition record and a writable limit record (the
// catalogue is data of the caller); qor_errmsg formats the record's text with the arguments,
// applies the message's rate limit and sends it to syslog(3) as
//     "%<category>-<facility>-<severity>-<mnemonic> : <text>"
// e.g. "%L2-PTP-4-MEM_ALLOC : Failed to allocate 24 bytes for 'x'". Every delivered message is
// also kept in an in-memory capture that tests read (see Test control).
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#include "zerrno.h"

// Rate-limit state of one message (32 bytes, writable, zero-initialised by the catalogue).
struct qor_msg_limit_type {
    uint32_t interval_s; // preset by the catalogue: at most one delivery per interval; 0 = no limit
    uint32_t suppressed; // deliveries dropped since the last one that went out
    uint64_t last_ns;    // platform-clock time of the last delivery
    uint32_t flags;      // bit 0: delivered at least once
    uint32_t reserved0;
    uint64_t reserved1;
};
static_assert(sizeof(qor_msg_limit_type) == 32);

// Definition of one message (72 bytes, read-only).
struct qor_msg_rec_type {
    uint64_t reserved0;
    const char *format;        // printf-style text
    qor_msg_limit_type *limit; // may be null: no rate limit
    const char *facility;      // e.g. "PTP"
    const char *category;      // e.g. "L2"
    const char *mnemonic;      // e.g. "MEM_ALLOC"
    uint32_t severity;         // syslog severity << 16
    uint32_t reserved1[3];
    uint32_t msg_id;
    uint32_t reserved2;
};
static_assert(sizeof(qor_msg_rec_type) == 72);

// Open the process's syslog identity (openlog(3) with a private copy of ident). The identity also
// names the process's debug log file. Calling it again replaces the identity.
void zq_openlog(const char *ident, int options, int facility);

// The identity given to zq_openlog, or the program's short name before that.
const char *zq_log_ident();

// Raise a message: severity is a syslog severity (0..7); the record's format takes the arguments.
// Returns 0 when the message went out, EAGAIN when the rate limit suppressed it, EINVAL for a
// null record or format.
zerrno qor_errmsg(const qor_msg_rec_type *msg, int severity, ...);
zerrno qor_verrmsg(const qor_msg_rec_type *msg, int severity, va_list args);

// ---- Test control -------------------------------------------------------------------------

struct qor_captured_msg {
    std::string mnemonic;
    std::string facility;
    std::string category;
    int severity;
    uint32_t msg_id;
    std::string text; // the formatted message text alone
    std::string line; // the whole line as sent to syslog
};

// Messages delivered since the last clear, oldest first (the capture keeps the last 4096).
std::vector<qor_captured_msg> qor_errmsg_captured();
void qor_errmsg_capture_clear();
// Switch delivery to syslog(3) off/on (capture continues); on by default, off when the
// environment variable PTP_SYSLOG is "0".
void qor_errmsg_set_syslog(bool on);
