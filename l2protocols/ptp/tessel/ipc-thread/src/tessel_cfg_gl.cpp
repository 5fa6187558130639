// Global PTP items: enable, clock profile, minimum clock class, verify-checksum and the
// frequency-synchronisation QL option; and the packet rates the clock profile decides.
#include "tessel_cfg_gl.h"

#include <cstring>

#include "nodra_backend.h"
#include "ptp_strings.h"
#include "tessel_assert.h"
#include "tessel_cfg_private.h"
#include "tessel_ipc_db.h"
#include "tessel_ipc_log.h"
#include "tessel_port_mgr.h"
#include "tessel_thread_ctrl.h"
#include "tuple.h"

#include <iterator>

namespace {

constexpr uint32_t AREA = tessel_debug_area("config");

// The IPC thread's global values of this module.
bool verify_checksum = false;
uint8_t fsync_ql_option = 1;

// A (clock profile, telecom clock type) pair from an item's tuple; false when there is none, the
// caller's default stays. *ok is false when the bytes do not read as the pair.
bool unpack_clock_profile(const void *data, uint32_t length, uint32_t *profile, uint32_t *clock_type, bool *ok)
{
    if (data == nullptr) {
        return false;
    }
    int32_t p = static_cast<int32_t>(*profile);
    int32_t t = static_cast<int32_t>(*clock_type);
    uint32_t mask = 0;
    if (tuple_unpack_mask(static_cast<const tuple_type *>(data), length, "%d%d", &mask, &p, &t) != 0) {
        *ok = false;
        return false;
    }
    *profile = static_cast<uint32_t>(p);
    *clock_type = static_cast<uint32_t>(t);
    return true;
}

const char *ql_option_to_str(uint32_t option)
{
    switch (option) {
    case 1: return "Opt-1";
    case 2: return "Opt-II,1";
    case 3: return "Opt-II,2";
    default: return "Unknown QL option";
    }
}

// One rate of tessel_cfg_set_profile_packet_rates: the default goes into the interface's own
// value, the applied value follows the profile or the default. True when the applied value
// changed.
bool packet_rate_update(tessel_ipc_idb_type *idb, int32_t tessel_if_config_type::*field, uint32_t bit, uint64_t update,
                        int32_t dflt)
{
    if ((idb->if_config_flags & bit) != 0) {
        return false;
    }
    idb->if_config.*field = dflt;
    int32_t value = dflt;
    uint32_t source_flags = idb->if_config_flags;
    const tessel_prf_db_type *prf = idb->profile_db;
    if (prf != nullptr && (prf->prf_config_flags & bit) != 0) {
        value = prf->prf_config.*field;
        source_flags = prf->prf_config_flags;
    }
    if (idb->applied_config.*field == value) {
        return false;
    }
    idb->applied_config.*field = value;
    idb->applied_config_flags = (idb->applied_config_flags & ~bit) | (source_flags & bit);
    idb->flags |= update;
    return true;
}

} // namespace

// ---- Getters -----------------------------------------------------------------------------------

bool tessel_cfg_get_verify_checksum(void)
{
    return verify_checksum;
}

uint8_t tessel_cfg_get_fsync_ql_option(void)
{
    return fsync_ql_option;
}

void tessel_cfg_gl_reset(void)
{
    verify_checksum = false;
    fsync_ql_option = 1;
}

// ---- Packet rates by clock profile ------------------------------------------------------------------

int32_t tessel_cfg_default_announce_interval(uint32_t clock_profile)
{
    return clock_profile == PTP_PROFILE_G8275_1 ? -3 : 1;
}

int32_t tessel_cfg_default_sync_interval(uint32_t clock_profile)
{
    return clock_profile == PTP_PROFILE_G8275_1 ? -4 : 0;
}

int32_t tessel_cfg_default_delay_req_interval(uint32_t clock_profile)
{
    return clock_profile == PTP_PROFILE_G8275_1 ? -4 : 0;
}

bool tessel_cfg_set_profile_packet_rates(tessel_ipc_idb_type *idb, void *context)
{
    TESSEL_ASSERT(context != nullptr);
    const uint32_t clock_profile = *static_cast<const uint32_t *>(context);
    bool changed = packet_rate_update(idb, &tessel_if_config_type::announce_interval, TESSEL_CFG_MASK_ANNOUNCE_INTERVAL,
                                      TESSEL_IPC_FLAG_UPDATE_ANNOUNCE_INTERVAL,
                                      tessel_cfg_default_announce_interval(clock_profile));
    changed |=
        packet_rate_update(idb, &tessel_if_config_type::sync_interval, TESSEL_CFG_MASK_SYNC_INTERVAL,
                           TESSEL_IPC_FLAG_UPDATE_SYNC_INTERVAL, tessel_cfg_default_sync_interval(clock_profile));
    changed |= packet_rate_update(idb, &tessel_if_config_type::delay_req_interval, TESSEL_CFG_MASK_DELAY_REQ_INTERVAL,
                                  TESSEL_IPC_FLAG_UPDATE_DELAY_RESP_MIN_INTERVAL,
                                  tessel_cfg_default_delay_req_interval(clock_profile));
    if (changed && (idb->flags & TESSEL_IPC_FLAG_ENABLED) != 0) {
        tessel_ipc_if_update_add(idb);
    }
    return true;
}

// ---- Notify handlers -----------------------------------------------------------------------------

void tessel_cfg_gl_notify_enable(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    const bool deleting = tessel_cfg_event_is_delete(event);
    if (deleting) {
        TESSEL_IPC_DEBUG(AREA, "%s: Received global enable config delete.");
        ptp_trace<PTP_TRACE_TESSEL_CFG_GL_ENABLE_DELETE>({tessel_ipc_sum(), tessel_ipc_unq()});
    } else {
        TESSEL_IPC_DEBUG(AREA, "%s: Received global enable config set.");
        ptp_trace<PTP_TRACE_TESSEL_CFG_GL_ENABLE_SET>({tessel_ipc_sum(), tessel_ipc_unq()});
    }
    tessel_ipc_set_ptp_enable(deleting ? 0 : 1);
}

void tessel_cfg_gl_notify_clock_profile(const nodra_notify_event_info_td *event, void *context, const bgen_args_td *)
{
    uint32_t old_profile = PTP_PROFILE_DEFAULT;
    uint32_t old_type = PTP_TELECOM_CLOCK_T_BC;
    uint32_t new_profile = PTP_PROFILE_DEFAULT;
    uint32_t new_type = PTP_TELECOM_CLOCK_T_BC;
    bool ok = true;
    const bool old_present = unpack_clock_profile(event->old_data, event->old_length, &old_profile, &old_type, &ok);
    bool new_present = false;
    if (!tessel_cfg_event_is_delete(event)) {
        new_present = unpack_clock_profile(event->new_data, event->new_length, &new_profile, &new_type, &ok);
    }
    if (!ok) {
        tessel_cfg_result_set(context, PTP_ZERR_CFG_TUPLE);
        return;
    }
    ptp_trace<PTP_TRACE_TESSEL_CFG_GL_CLOCK_PROFILE>({tessel_ipc_sum(), tessel_ipc_unq()}, event->event,
                                                     old_present ? 1u : 0u, new_present ? 1u : 0u, old_profile,
                                                     old_type, new_profile, new_type);
    TESSEL_IPC_DEBUG(
        AREA, "%s: Received clock profile config %s: %s%s -> %s%s", ptp_cfg_event_to_str(event->event),
        old_present ? "" : "Not Set", old_present ? ptp_profile_clock_type_to_str(old_profile, old_type) : "",
        new_present ? "" : "Not Set", new_present ? ptp_profile_clock_type_to_str(new_profile, new_type) : "");
    tessel_ipc_db_walk(tessel_cfg_set_profile_packet_rates, &new_profile, nullptr, false);
    tessel_ipc_set_clock_profile(new_profile, new_type);
}

void tessel_cfg_gl_notify_min_clock_class(const nodra_notify_event_info_td *event, void *context, const bgen_args_td *)
{
    uint32_t value = 255;
    if (!tessel_cfg_event_is_delete(event) && !tessel_cfg_event_u32(event, &value)) {
        tessel_cfg_result_set(context, PTP_ZERR_CFG_TUPLE);
        return;
    }
    ptp_trace<PTP_TRACE_TESSEL_CFG_GL_MIN_CLOCK_CLASS>({tessel_ipc_sum(), tessel_ipc_unq()}, event->event, value);
    TESSEL_IPC_DEBUG(AREA, "%s: Received min clock class config %s: %u", ptp_cfg_event_to_str(event->event), value);
    tessel_ipc_set_min_clock_class(static_cast<uint8_t>(value & 0xFF));
}

void tessel_cfg_gl_notify_verify_checksum(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    verify_checksum = !tessel_cfg_event_is_delete(event);
}

void tessel_cfg_gl_notify_fsync_ql_option(const nodra_notify_event_info_td *event, void *context, const bgen_args_td *)
{
    uint32_t value = 1;
    if (!tessel_cfg_event_is_delete(event) && !tessel_cfg_event_u32(event, &value)) {
        tessel_cfg_result_set(context, PTP_ZERR_CFG_TUPLE);
        return;
    }
    fsync_ql_option = static_cast<uint8_t>(value);
    ptp_trace<PTP_TRACE_TESSEL_CFG_FSYNC_QL_OPTION>({tessel_ipc_det()}, event->event, value);
    TESSEL_IPC_DEBUG(AREA, "%s: FSync QL option config %s event. New value %s", ptp_cfg_event_to_str(event->event),
                     ql_option_to_str(value));
}

// ---- The global schema ---------------------------------------------------------------------------
// Paths below "/cfg/gl/" ("ptp/pi/...") and below "/cfg/gl/freqsync/" ("g/f/ql-option"); a profile's
// items are the interface's, below the profile's name; table keys are kind, MAC text, IP address.

namespace {

constexpr uint32_t NAMED = BACKEND_NODE_NAMED;
constexpr uint32_t K_UINT = BGEN_ARG_UINT;
constexpr uint32_t K_STR = BGEN_ARG_STRING;
constexpr uint32_t K_IP = BGEN_ARG_IPADDR;

// clang-format off
const backend_node_td gl_nodes[] = {
    // name, 0, kind, first child, next sibling, row, key, container
    {"ptp", 0, NAMED, 1, 72, -1, 0, 1},                                   // 0
    {"pi", 0, NAMED, 2, -1, -1, 0, 1},                                    // 1
    {"enable", 0, NAMED, -1, 3, 0, 0, 0},                                 // 2
    {"clock", 0, NAMED, 4, 5, -1, 0, 1},                                  // 3
    {"profile", 0, NAMED, -1, -1, 1, 0, 0},                               // 4
    {"min-clock-class", 0, NAMED, -1, 6, 2, 0, 0},                        // 5
    {"verify-checksum", 0, NAMED, -1, 7, 4, 0, 0},                        // 6
    {"profile", 0, NAMED, 8, -1, -1, 0, 1},                               // 7
    {nullptr, 0, K_STR, 9, -1, -1, 1, 1},                                 // 8 profile name
    {"transport", 0, NAMED, -1, 10, 3, 0, 0},                             // 9
    {"clock-operation", 0, NAMED, -1, 11, 5, 0, 0},                       // 10
    {"announce-interval", 0, NAMED, -1, 12, 6, 0, 0},                     // 11
    {"sync-interval", 0, NAMED, -1, 13, 7, 0, 0},                         // 12
    {"announce-timeout", 0, NAMED, -1, 14, 8, 0, 0},                      // 13
    {"delay-request-minimum-interval", 0, NAMED, -1, 15, 9, 0, 0},        // 14
    {"multicast", 0, NAMED, -1, 16, 10, 0, 0},                            // 15
    {"port-state", 0, NAMED, -1, 17, 11, 0, 0},                           // 16
    {"source-ipv4-address", 0, NAMED, -1, 18, 12, 0, 0},                  // 17
    {"source-ipv6-address", 0, NAMED, -1, 19, 13, 0, 0},                  // 18
    {"cos", 0, NAMED, -1, 20, 14, 0, 0},                                  // 19
    {"general-cos", 0, NAMED, -1, 21, 15, 0, 0},                          // 20
    {"event-cos", 0, NAMED, -1, 22, 16, 0, 0},                            // 21
    {"dscp", 0, NAMED, -1, 23, 17, 0, 0},                                 // 22
    {"general-dscp", 0, NAMED, -1, 24, 18, 0, 0},                         // 23
    {"event-dscp", 0, NAMED, -1, 25, 19, 0, 0},                           // 24
    {"ipv4-ttl", 0, NAMED, -1, 26, 20, 0, 0},                             // 25
    {"ipv6-hop-limit", 0, NAMED, -1, 27, 21, 0, 0},                       // 26
    {"announce-grant-duration", 0, NAMED, -1, 28, 22, 0, 0},              // 27
    {"sync-grant-duration", 0, NAMED, -1, 29, 23, 0, 0},                  // 28
    {"delay-response-grant-duration", 0, NAMED, -1, 30, 24, 0, 0},        // 29
    {"sync-timeout", 0, NAMED, -1, 31, 25, 0, 0},                         // 30
    {"delay-response-timeout", 0, NAMED, -1, 32, 26, 0, 0},               // 31
    {"unicast-grant-invalid-request", 0, NAMED, -1, 33, 27, 0, 0},        // 32
    {"local-priority", 0, NAMED, -1, 34, 28, 0, 0},                       // 33
    {"delay-asymmetry", 0, NAMED, -1, 35, 29, 0, 0},                      // 34
    {"master-table", 0, NAMED, 36, 45, -1, 0, 1},                         // 35
    {nullptr, 0, K_UINT, 37, -1, -1, 1, 2},                               // 36 address kind
    {nullptr, 0, K_STR, 38, -1, -1, 1, 2},                                // 37 MAC text
    {nullptr, 0, K_IP, 39, -1, -1, 1, 1},                                 // 38 IP address
    {"enable", 0, NAMED, -1, 40, 30, 0, 0},                               // 39
    {"priority", 0, NAMED, -1, 41, 31, 0, 0},                             // 40
    {"multicast", 0, NAMED, -1, 42, 32, 0, 0},                            // 41
    {"clock-class", 0, NAMED, -1, 43, 33, 0, 0},                          // 42
    {"delay-asymmetry", 0, NAMED, -1, 44, 34, 0, 0},                      // 43
    {"non-negotiated", 0, NAMED, -1, -1, 35, 0, 0},                       // 44
    {"slave-table", 0, NAMED, 46, 50, -1, 0, 1},                          // 45
    {nullptr, 0, K_UINT, 47, -1, -1, 1, 2},                               // 46
    {nullptr, 0, K_STR, 48, -1, -1, 1, 2},                                // 47
    {nullptr, 0, K_IP, 49, -1, -1, 1, 1},                                 // 48
    {"non-negotiated", 0, NAMED, -1, -1, 36, 0, 0},                       // 49
    {"interop", 0, NAMED, 51, -1, -1, 0, 1},                              // 50
    {"ord_1", 0, NAMED, 52, 53, -1, 0, 1},                                // 51
    {"profile", 0, NAMED, -1, -1, 37, 0, 0},                              // 52
    {"ord_2", 0, NAMED, 54, 55, -1, 0, 1},                                // 53
    {"domain", 0, NAMED, -1, -1, 38, 0, 0},                               // 54
    {"ord_3", 0, NAMED, 56, -1, -1, 0, 1},                                // 55
    {"ingress", 0, NAMED, 57, 64, -1, 0, 1},                              // 56
    {"priority1", 0, NAMED, -1, 58, 39, 0, 0},                            // 57
    {"priority2", 0, NAMED, -1, 59, 40, 0, 0},                            // 58
    {"clock-accuracy", 0, NAMED, -1, 60, 41, 0, 0},                       // 59
    {"oslv", 0, NAMED, -1, 61, 42, 0, 0},                                 // 60
    {"clock-class", 0, NAMED, -1, 62, 43, 0, 0},                          // 61
    {"clock-class-mapping-table", 0, NAMED, 63, -1, -1, 0, 1},            // 62
    {nullptr, 0, K_UINT, -1, -1, 44, 1, 1},                               // 63 class to map
    {"egress", 0, NAMED, 65, -1, -1, 0, 1},                               // 64
    {"priority1", 0, NAMED, -1, 66, 45, 0, 0},                            // 65
    {"priority2", 0, NAMED, -1, 67, 46, 0, 0},                            // 66
    {"clock-accuracy", 0, NAMED, -1, 68, 47, 0, 0},                       // 67
    {"oslv", 0, NAMED, -1, 69, 48, 0, 0},                                 // 68
    {"clock-class", 0, NAMED, -1, 70, 49, 0, 0},                          // 69
    {"clock-class-mapping-table", 0, NAMED, 71, -1, -1, 0, 1},            // 70
    {nullptr, 0, K_UINT, -1, -1, 50, 1, 1},                               // 71
    {"g", 0, NAMED, 73, -1, -1, 0, 1},                                    // 72
    {"f", 0, NAMED, 74, -1, -1, 0, 1},                                    // 73
    {"ql-option", 0, NAMED, -1, -1, 51, 0, 0},                            // 74
};

constexpr uint32_t ANY = BACKEND_VALUE_NONE;
constexpr uint32_t SINGLE = BACKEND_VALUE_SINGLE;
constexpr uint32_t TUPLE = BACKEND_VALUE_TUPLE;

#define GL_ROW_(value_kind, arg, fn) {.kind = value_kind, .bg_ident = arg, .notify = fn}
const backend_row_td gl_rows[] = {
    GL_ROW_(ANY, 0, tessel_cfg_gl_notify_enable),                                    // 0
    GL_ROW_(TUPLE, 0, tessel_cfg_gl_notify_clock_profile),                           // 1
    GL_ROW_(SINGLE, 0, tessel_cfg_gl_notify_min_clock_class),                        // 2
    GL_ROW_(SINGLE, 0, tessel_cfg_gl_prf_notify_transport),                          // 3
    GL_ROW_(ANY, 0, tessel_cfg_gl_notify_verify_checksum),                           // 4
    GL_ROW_(SINGLE, 0, tessel_cfg_gl_prf_notify_clock_operation),                    // 5
    GL_ROW_(TUPLE, 0, tessel_cfg_gl_prf_notify_annce_ivl),                           // 6
    GL_ROW_(TUPLE, 0, tessel_cfg_gl_prf_notify_sync_ivl),                            // 7
    GL_ROW_(SINGLE, 0, tessel_cfg_gl_prf_notify_annce_tout),                         // 8
    GL_ROW_(TUPLE, 0, tessel_cfg_gl_prf_notify_dr_min_ivl),                          // 9
    GL_ROW_(TUPLE, 0, tessel_cfg_gl_prf_notify_multicast),                           // 10
    GL_ROW_(SINGLE, 0, tessel_cfg_gl_prf_notify_port_state),                         // 11
    GL_ROW_(TUPLE, 0, tessel_cfg_gl_prf_notify_source_ip),                           // 12
    GL_ROW_(TUPLE, 0, tessel_cfg_gl_prf_notify_source_ipv6),                         // 13
    GL_ROW_(SINGLE, 0, tessel_cfg_gl_prf_notify_cos),                                // 14
    GL_ROW_(SINGLE, 1, tessel_cfg_gl_prf_notify_cos),                                // 15
    GL_ROW_(SINGLE, 2, tessel_cfg_gl_prf_notify_cos),                                // 16
    GL_ROW_(SINGLE, 0, tessel_cfg_gl_prf_notify_dscp),                               // 17
    GL_ROW_(SINGLE, 1, tessel_cfg_gl_prf_notify_dscp),                               // 18
    GL_ROW_(SINGLE, 2, tessel_cfg_gl_prf_notify_dscp),                               // 19
    GL_ROW_(SINGLE, 0, tessel_cfg_gl_prf_notify_ipv4_ttl),                           // 20
    GL_ROW_(SINGLE, 0, tessel_cfg_gl_prf_notify_ipv6_hop_limit),                     // 21
    GL_ROW_(SINGLE, 0xB, tessel_cfg_gl_prf_notify_unicast_grant_duration),           // 22
    GL_ROW_(SINGLE, 0x0, tessel_cfg_gl_prf_notify_unicast_grant_duration),           // 23
    GL_ROW_(SINGLE, 0x9, tessel_cfg_gl_prf_notify_unicast_grant_duration),           // 24
    GL_ROW_(SINGLE, 0x0, tessel_cfg_gl_prf_notify_message_timeout),                  // 25
    GL_ROW_(SINGLE, 0x9, tessel_cfg_gl_prf_notify_message_timeout),                  // 26
    GL_ROW_(SINGLE, 0, tessel_cfg_gl_prf_notify_unicast_grant_invalid_request),      // 27
    GL_ROW_(SINGLE, 0, tessel_cfg_gl_prf_notify_local_priority),                     // 28
    GL_ROW_(TUPLE, 0, tessel_cfg_gl_prf_notify_delay_asymmetry),                     // 29
    GL_ROW_(ANY, 0, tessel_cfg_gl_prf_notify_master_enable),                         // 30
    GL_ROW_(SINGLE, 0, tessel_cfg_gl_prf_notify_master_priority),                    // 31
    GL_ROW_(SINGLE, 0, tessel_cfg_gl_prf_notify_master_multicast),                   // 32
    GL_ROW_(SINGLE, 0, tessel_cfg_gl_prf_notify_master_clock_class),                 // 33
    GL_ROW_(TUPLE, 0, tessel_cfg_gl_prf_notify_master_delay_asymmetry),              // 34
    GL_ROW_(ANY, 0, tessel_cfg_gl_prf_notify_master_nonnegotiated),                  // 35
    GL_ROW_(ANY, 0, tessel_cfg_gl_prf_notify_slave_nonnegotiated),                   // 36
    GL_ROW_(SINGLE, 0, tessel_cfg_gl_prf_notify_interop_profile),                    // 37
    GL_ROW_(SINGLE, 0, tessel_cfg_gl_prf_notify_interop_domain),                     // 38
    GL_ROW_(SINGLE, 0, tessel_cfg_gl_prf_notify_interop_priority),                   // 39
    GL_ROW_(SINGLE, 1, tessel_cfg_gl_prf_notify_interop_priority),                   // 40
    GL_ROW_(SINGLE, 2, tessel_cfg_gl_prf_notify_interop_clock_accuracy),             // 41
    GL_ROW_(SINGLE, 3, tessel_cfg_gl_prf_notify_interop_oslv),                       // 42
    GL_ROW_(SINGLE, 4, tessel_cfg_gl_prf_notify_interop_clock_class_default),        // 43
    GL_ROW_(SINGLE, 5, tessel_cfg_gl_prf_notify_interop_clock_class_mapping),        // 44
    GL_ROW_(SINGLE, 6, tessel_cfg_gl_prf_notify_interop_priority),                   // 45
    GL_ROW_(SINGLE, 7, tessel_cfg_gl_prf_notify_interop_priority),                   // 46
    GL_ROW_(SINGLE, 8, tessel_cfg_gl_prf_notify_interop_clock_accuracy),             // 47
    GL_ROW_(SINGLE, 9, tessel_cfg_gl_prf_notify_interop_oslv),                       // 48
    GL_ROW_(SINGLE, 10, tessel_cfg_gl_prf_notify_interop_clock_class_default),       // 49
    GL_ROW_(SINGLE, 11, tessel_cfg_gl_prf_notify_interop_clock_class_mapping),       // 50
    GL_ROW_(SINGLE, 0, tessel_cfg_gl_notify_fsync_ql_option),                        // 51
};
#undef GL_ROW_
// clang-format on

static_assert(std::size(gl_nodes) == 75);
static_assert(std::size(gl_rows) == 52);

} // namespace

const backend_schema_td tessel_cfg_gl_schema{gl_nodes, std::size(gl_nodes), gl_rows, std::size(gl_rows), 0};
