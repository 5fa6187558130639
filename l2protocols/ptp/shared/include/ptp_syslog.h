// The PTP syslog message catalogue: every message the PTP processes send to the system log,
// defined once below. Each row gives the mnemonic, its lower-case name, the severity, the rate
// limit preset (first word of the message's limit record: 300, 60, 1 or none), the text, and the
// typed arguments of its raise wrapper ptp_syslog_<name>(...). The definition records, their
// accessors and the wrappers are all generated from this one table, and each wrapper's argument
// types are checked against its text's conversions at compile time, so a wrong argument cannot
// reach the printf format. Rows stay in alphabetical order of the mnemonics: a message's index
// (and so its id 0x0FE50000 + index) is its place in that order.
#pragma once

#include <cstdint>

#include "qor_log.h"
#include "zerrno.h"

// X(MNEMONIC, name, severity, limit preset, format, (wrapper parameters), (format arguments))
// The tables keep one row a line.
// clang-format off
#define PTP_SYSLOG_CATALOGUE(X) \
    X(BEST_MASTER_CLOCK_CHANGE, best_master_clock_change, 6, 0, \
      "Best master clock change, new master %s, clock ID 0x%llx, clock class %u, parent clock ID 0x%llx. Old clock ID 0x%llx, old clock class %u", \
      (const char *new_master, unsigned long long clock_id, unsigned int clock_class, unsigned long long parent_clock_id, unsigned long long old_clock_id, unsigned int old_clock_class), \
      (new_master, clock_id, clock_class, parent_clock_id, old_clock_id, old_clock_class)) \
    X(BEST_MASTER_CLOCK_REMOVED, best_master_clock_removed, 6, 0, \
      "A best master clock is no longer available", \
      (), \
      ()) \
    X(CLOCK_CLASS_CHANGED, clock_class_changed, 6, 0, \
      "Advertised clock class changed. Old clock class: %u. New clock class: %u", \
      (unsigned int old_clock_class, unsigned int new_clock_class), \
      (old_clock_class, new_clock_class)) \
    X(COMMS_RETRY_FAILED, comms_retry_failed, 4, 0, \
      "Communications retry failed: %s%s", \
      (const char *prefix, const char *error_text), \
      (prefix, error_text)) \
    X(DEPRECATED_CONFIG, deprecated_config, 6, 0, \
      "PTP Telecom Profile configuration deprecated: %s", \
      (const char *what), \
      (what)) \
    X(FILE_DOWNLOAD_FAILED, file_download_failed, 5, 300, \
      "Failed to download file from URL '%s' - will retry in 10 minutes", \
      (const char *url), \
      (url)) \
    X(IDT_TIMER_FIRED, idt_timer_fired, 4, 0, \
      "PTP %s has not received all IDTs", \
      (const char *who), \
      (who)) \
    X(INIT_FAILED, init_failed, 4, 0, \
      "Failed to initialize: %s%s", \
      (const char *prefix, const char *error_text), \
      (prefix, error_text)) \
    X(INVALID_LEAP_SECONDS_CONFIG, invalid_leap_seconds_config, 4, 0, \
      "Leap seconds configuration implies an invalid UTC offset change", \
      (), \
      ()) \
    X(INVALID_UPCOMING_LEAP_SECOND, invalid_upcoming_leap_second, 4, 0, \
      "Invalid UTC offset change scheduled at midnight (%+d -> %+d)", \
      (int old_offset, int new_offset), \
      (old_offset, new_offset)) \
    X(IP_ARM, ip_arm, 4, 0, \
      "Failed to %s %s: %s", \
      (const char *action, const char *what, const char *error_text), \
      (action, what, error_text)) \
    X(LOST_EVENT, lost_event, 4, 60, \
      "%s lost event: %s", \
      (const char *who, const char *event), \
      (who, event)) \
    X(MEM_ALLOC, mem_alloc, 4, 60, \
      "Failed to allocate %u bytes for '%s'", \
      (unsigned int size, const char *what), \
      (size, what)) \
    X(MGD_TIMER, mgd_timer, 4, 60, \
      "Unexpected error encountered whilst %s: %s", \
      (const char *doing, const char *error_text), \
      (doing, error_text)) \
    X(MIB_DLL_ERROR, mib_dll_error, 4, 0, \
      "PTP MIB DLL error: %s%s", \
      (const char *prefix, const char *error_text), \
      (prefix, error_text)) \
    X(MIB_TRAP_NFN_FAILED, mib_trap_nfn_failed, 4, 1, \
      "Failed to raise a PTP MIB trap on path '%s': %s", \
      (const char *path, const char *error_text), \
      (path, error_text)) \
    X(MILESTONE_COMM_FAILED, milestone_comm_failed, 3, 0, \
      "Failed to inform ZURO Vuri that milestone %s has been %s: %s", \
      (const char *milestone, const char *action, const char *error_text), \
      (milestone, action, error_text)) \
    X(PEER_INDEX_EXHAUST, peer_index_exhaust, 4, 60, \
      "Failed to allocate PTP peer index", \
      (), \
      ()) \
    X(PORT_NUM_CHECKPOINT_READ_FAIL, port_num_checkpoint_read_fail, 4, 60, \
      "Port number checkpoint read failed: %s", \
      (const char *error_text), \
      (error_text)) \
    X(PORT_NUM_CONFLICT, port_num_conflict, 4, 60, \
      "Port number %u allocation conflict between <<CH%08x>> and <<CH%08x>>", \
      (unsigned int port_num, unsigned int ifhandle_a, unsigned int ifhandle_b), \
      (port_num, ifhandle_a, ifhandle_b)) \
    X(PORT_NUM_EXHAUST, port_num_exhaust, 4, 60, \
      "Failed to allocate PTP port number", \
      (), \
      ()) \
    X(PRF_CFG_IGNORED, prf_cfg_ignored, 4, 0, \
      "Profile %s configuration ignored as it is not supported on interface %s", \
      (const char *profile, const char *ifname), \
      (profile, ifname)) \
    X(PRF_CFG_PLAT_REJECT, prf_cfg_plat_reject, 4, 0, \
      "Profile %s configuration could not be applied on interface %s: %s", \
      (const char *profile, const char *ifname, const char *error_text), \
      (profile, ifname, error_text)) \
    X(REPEATED_TIMESTAMP_FAILURE, repeated_timestamp_failure, 3, 300, \
      "Repeated failure to obtain current PTP timestamp", \
      (), \
      ()) \
    X(SHUTDOWN_CHECK_FAILED, shutdown_check_failed, 4, 0, \
      "Could not determine whether to exit: %s", \
      (const char *error_text), \
      (error_text)) \
    X(SPIO, spio, 4, 1, \
      "Unexpected error encountered whilst %s: %s", \
      (const char *doing, const char *error_text), \
      (doing, error_text)) \
    X(STATS_DB_ERROR, stats_db_error, 4, 0, \
      "Unexpected error encountered whilst %s: %s", \
      (const char *doing, const char *error_text), \
      (doing, error_text)) \
    X(TIMER, timer, 4, 1, \
      "Unexpected error encountered whilst %s: %s", \
      (const char *doing, const char *error_text), \
      (doing, error_text)) \
    X(VLAN_TAG_GEN_FAILED, vlan_tag_gen_failed, 4, 60, \
      "Failed to generate VLAN tag stack for %s", \
      (const char *ifname), \
      (ifname))

enum ptp_syslog_msg_index : uint32_t {
#define PTP_SYSLOG_INDEX_(M, m, sev, preset, fmt, params, args) PTP_SYSLOG_##M,
    PTP_SYSLOG_CATALOGUE(PTP_SYSLOG_INDEX_)
#undef PTP_SYSLOG_INDEX_
    PTP_SYSLOG_MSG_COUNT
};

inline constexpr uint32_t PTP_SYSLOG_MSG_ID_BASE = 0x0FE50000;

// Accessors of the definition and limit records, e.g. qor_msg_rec_ptp_timer_getfn() and
// qor_msg_limit_ptp_timer_getfn().
#define PTP_SYSLOG_ACCESSORS_(M, m, sev, preset, fmt, params, args) \
    const qor_msg_rec_type *qor_msg_rec_ptp_##m##_getfn(); \
    qor_msg_limit_type *qor_msg_limit_ptp_##m##_getfn();
PTP_SYSLOG_CATALOGUE(PTP_SYSLOG_ACCESSORS_)
#undef PTP_SYSLOG_ACCESSORS_

// Raise wrappers, e.g. ptp_syslog_timer("starting timer", zerr_strerror(rc)). A null text
// argument is logged as an empty text. The result is qor_errmsg's (0, or EAGAIN when the rate
// limit held the message back); callers usually have nothing to do with it.
#define PTP_SYSLOG_WRAPPERS_(M, m, sev, preset, fmt, params, args) zerrno ptp_syslog_##m params;
PTP_SYSLOG_CATALOGUE(PTP_SYSLOG_WRAPPERS_)
#undef PTP_SYSLOG_WRAPPERS_

// The definition record of a message by index (nullptr for an index past the catalogue).
const qor_msg_rec_type *ptp_syslog_msg_rec(uint32_t index);
// clang-format on
