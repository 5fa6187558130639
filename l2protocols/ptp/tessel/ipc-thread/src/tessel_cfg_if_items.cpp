// The interface's scalar configuration items: one descriptor per leaf says how its value is
// checked, which field and configured bit it writes, how it merges and how it is logged; one
// verify and one apply routine serve every descriptor.
#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "ptp_alloc.h"
#include "ptp_strings.h"
#include "ptp_time.h"
#include "tessel_assert.h"
#include "tessel_cfg.h"
#include "tessel_im.h"
#include "tessel_intf_caps.h"
#include "tessel_ipc_log.h"
#include "tessel_port_mgr.h"
#include "tessel_stats.h"
#include "tessel_thread_ctrl.h"
#include "tessel_utils.h"

namespace {

constexpr uint32_t AREA = tessel_debug_area("config");
constexpr size_t TEXT_SIZE = 256;

// The item's merge: 1 when the applied value changed; old: the applied value before, as the
// item's debug line prints it.
using merge_fn = uint32_t (*)(tessel_ipc_idb_type *idb, uint64_t *old_applied);
// The value check of one item: writes the new value into its field of `values`.
using value_check_fn = zerrno (*)(uint32_t event, const bgen_value_td *nv, uint32_t arg, tessel_if_config_type *values,
                                  bool *is_delete);
// A capability the item needs before anything else, for every event; 0 when present.
using capability_fn = zerrno (*)();
// The platform's rule on a new value (not run for a delete).
using rule_fn = zerrno (*)(const char *ifname, const tessel_if_config_type *values, bool verify, char **lib_text);
// The item's error text, its %u filled in.
using text_fn = void (*)(char *text, size_t size, const char *format);
// How the item's values read in its debug line and trace record.
enum class print_kind {
    UNSIGNED,
    SIGNED,
    ENCAP,
    CLOCK_OPERATION,
    PORT_STATE,
    REDUCE_DENY,
    DELAY_ASYMMETRY,
    MULTICAST,
    SOURCE_IP,
    SOURCE_IPV6,
    QOS,
    MSG_TYPE, // grant durations and receive timeouts: the message type leads
};
// The four records the values come from (old and new interface, old and new applied), for the
// values that do not fit a word.
using config_views = const tessel_if_config_type *const[4];
using trace_fn = void (*)(ifhtype ifhandle, uint32_t event, uint32_t arg, const uint64_t values[4],
                          config_views &configs);

struct item_type {
    const char *leaf;
    size_t offset; // the field in tessel_if_config_type
    size_t size;
    uint32_t bit;   // configured bit
    int32_t bit2;   // a second bit written together (the multicast address), -1 none
    size_t offset2; // its field
    size_t size2;
    value_check_fn check;
    capability_fn capability_first;
    rule_fn rule;
    const char *text;
    text_fn fill_text;
    const char *label;
    merge_fn merge;
    print_kind print;
    const char *debug_format;
    trace_fn trace;
    uint32_t counter;
    uint32_t arg; // the row's argument
};

// ---- Value checks ----

template <zerrno (*CHECK)(uint32_t, const bgen_value_td *, uint32_t *, bool *), size_t OFFSET>
zerrno check_u32(uint32_t event, const bgen_value_td *nv, uint32_t, tessel_if_config_type *values, bool *is_delete)
{
    uint32_t v = 0;
    const zerrno rc = CHECK(event, nv, &v, is_delete);
    memcpy(reinterpret_cast<uint8_t *>(values) + OFFSET, &v, sizeof v);
    return rc;
}

template <zerrno (*CHECK)(uint32_t, const bgen_value_td *, ptp_time_data_type *, bool *), size_t OFFSET>
zerrno check_rate(uint32_t event, const bgen_value_td *nv, uint32_t, tessel_if_config_type *values, bool *is_delete)
{
    ptp_time_data_type rate{};
    const zerrno rc = CHECK(event, nv, &rate, is_delete);
    // A refused rate may carry a kind that names no unit: only a valid one has a log2 form.
    if (rc != ZERR_OK || *is_delete)
        return rc;
    const int32_t log_interval = ptp_convert_to_log_time(rate);
    memcpy(reinterpret_cast<uint8_t *>(values) + OFFSET, &log_interval, sizeof log_interval);
    return rc;
}

zerrno check_multicast(uint32_t event, const bgen_value_td *nv, uint32_t, tessel_if_config_type *values,
                       bool *is_delete)
{
    return ptp_cfg_check_multicast(event, nv, &values->transport, &values->multicast_address, is_delete, nullptr,
                                   nullptr, nullptr);
}

zerrno check_source_ip(uint32_t event, const bgen_value_td *nv, uint32_t, tessel_if_config_type *values,
                       bool *is_delete)
{
    ptp_source_ip_data_type source{};
    const zerrno rc = ptp_cfg_check_source_ip(event, nv, &source, is_delete, true);
    values->source_ip.enable = source.enable;
    memcpy(&values->source_ip.address, source.ip_address, sizeof source.ip_address);
    return rc;
}

zerrno check_source_ipv6(uint32_t event, const bgen_value_td *nv, uint32_t, tessel_if_config_type *values,
                         bool *is_delete)
{
    ptp_source_ipv6_data_type source{};
    const zerrno rc = ptp_cfg_check_source_ipv6(event, nv, &source, is_delete, true);
    values->source_ipv6.enable = source.enable;
    memcpy(values->source_ipv6.address, source.ip_address, sizeof source.ip_address);
    return rc;
}

zerrno check_delay_asymmetry(uint32_t event, const bgen_value_td *nv, uint32_t, tessel_if_config_type *values,
                             bool *is_delete)
{
    return ptp_cfg_check_delay_asymmetry(event, nv, &values->delay_asymmetry, is_delete);
}

template <size_t OFFSET>
zerrno check_grant_duration(uint32_t event, const bgen_value_td *nv, uint32_t arg, tessel_if_config_type *values,
                            bool *is_delete)
{
    uint32_t v = 0;
    const zerrno rc = ptp_cfg_check_unicast_grant_duration(arg, event, nv, &v, is_delete);
    memcpy(reinterpret_cast<uint8_t *>(values) + OFFSET, &v, sizeof v);
    return rc;
}

template <size_t OFFSET>
zerrno check_message_timeout(uint32_t event, const bgen_value_td *nv, uint32_t arg, tessel_if_config_type *values,
                             bool *is_delete)
{
    uint32_t v = 0;
    const zerrno rc = ptp_cfg_check_message_timeout(arg, event, nv, &v, is_delete);
    memcpy(reinterpret_cast<uint8_t *>(values) + OFFSET, &v, sizeof v);
    return rc;
}

// Any number: the reduce/deny choice.
zerrno check_invalid_grants(uint32_t event, const bgen_value_td *nv, uint32_t, tessel_if_config_type *values,
                            bool *is_delete)
{
    *is_delete = (event & NODRA_EVENT_DELETE) != 0;
    if (*is_delete) {
        return 0;
    }
    if (nv == nullptr || nv->data == nullptr || nv->len != sizeof(uint32_t)) {
        return PTP_ZERR_CFG_TUPLE;
    }
    memcpy(&values->deny_invalid_grants, nv->data, sizeof(uint32_t));
    return 0;
}

// ---- Capabilities and platform rules ----

zerrno need_source_ip()
{
    return tessel_intf_caps_supports_source_ip() ? 0 : PTP_ZERR_CARD_NO_SOURCE_IP;
}

zerrno need_ipv6_and_source_ip()
{
    return tessel_intf_caps_supports_ipv6() ? need_source_ip() : PTP_ZERR_CARD_NO_IPV6;
}

zerrno rule_encap(const char *ifname, const tessel_if_config_type *v, bool verify, char **lib_text)
{
    if (v->encap == PTP_ENCAP_IPV6 && !tessel_intf_caps_supports_ipv6()) {
        return PTP_ZERR_CARD_NO_IPV6;
    }
    if (v->encap == PTP_ENCAP_ETHERNET && !tessel_intf_caps_supports_ethernet()) {
        return PTP_ZERR_CARD_NO_ETHERNET;
    }
    // The platform's own encapsulation check is asked before the commit only.
    if (verify && ptp_pd_verify_encap != nullptr) {
        return ptp_pd_verify_encap(ifname, v->encap, lib_text);
    }
    return 0;
}

zerrno rule_clock_operation(const char *, const tessel_if_config_type *v, bool, char **)
{
    const bool supported =
        v->clock_operation != 0 ? tessel_intf_caps_supports_one_step() : tessel_intf_caps_supports_two_step();
    return supported ? 0 : PTP_ZERR_CFG_CLOCK_OPERATION;
}

bool too_fast(int32_t log_interval)
{
    return log_interval < 0 && -log_interval > static_cast<int32_t>(tessel_intf_caps_get_log_max_sync_rate());
}

zerrno rule_annce_ivl(const char *, const tessel_if_config_type *v, bool, char **)
{
    return too_fast(v->announce_interval) ? PTP_ZERR_CFG_ANNCE_IVL : 0;
}

zerrno rule_sync_ivl(const char *, const tessel_if_config_type *v, bool, char **)
{
    return too_fast(v->sync_interval) ? PTP_ZERR_CFG_SYNC_IVL : 0;
}

zerrno rule_dr_min_ivl(const char *, const tessel_if_config_type *v, bool, char **)
{
    return too_fast(v->delay_req_interval) ? PTP_ZERR_CFG_DR_MIN_IVL : 0;
}

zerrno rule_multicast(const char *, const tessel_if_config_type *v, bool, char **)
{
    return v->transport != PTP_TRANSPORT_UNICAST && !tessel_intf_caps_supports_multicast() ? PTP_ZERR_CARD_NO_MULTICAST
                                                                                           : 0;
}

zerrno rule_port_state(const char *ifname, const tessel_if_config_type *v, bool, char **)
{
    return v->port_state == PTP_RESTRICT_PORT_STATE_SLAVE_ONLY ? tessel_cfg_if_check_slave_capability(ifname) : 0;
}

// ---- Error texts ----

void rate_text(char *text, size_t size, const char *format)
{
    snprintf(text, size, format, 16u, 128u, 1u << tessel_intf_caps_get_log_max_sync_rate());
}

void grant_text(char *text, size_t size, const char *format)
{
    snprintf(text, size, format, 60u, 1000u);
}

void timeout_text(char *text, size_t size, const char *format)
{
    snprintf(text, size, format, 100000u, 100u);
}

void local_priority_text(char *text, size_t size, const char *format)
{
    snprintf(text, size, format, 1u, 255u);
}

// ---- Merges ----

template <typename T, uint32_t (*MERGE)(tessel_ipc_idb_type *, T *)>
uint32_t merge_with(tessel_ipc_idb_type *idb, uint64_t *old_applied)
{
    T old{};
    const uint32_t changed = MERGE(idb, &old);
    *old_applied = static_cast<uint64_t>(static_cast<int64_t>(old));
    return changed;
}

template <uint32_t BIT>
uint32_t merge_plain(tessel_ipc_idb_type *idb, uint64_t *old_applied)
{
    return tessel_cfg_if_merge_plain_item(idb, BIT, old_applied);
}

template <void (*CHECK)(tessel_ipc_idb_type *, uint32_t, uint32_t *, uint32_t *), uint32_t TYPE>
uint32_t merge_qos(tessel_ipc_idb_type *idb, uint64_t *old_applied)
{
    uint32_t old = 0;
    uint32_t changed = 0;
    CHECK(idb, TYPE, &old, &changed);
    *old_applied = old;
    return changed;
}

uint32_t merge_source_ip(tessel_ipc_idb_type *idb, uint64_t *old_applied)
{
    uint32_t old = 0;
    tessel_cfg_if_merge_source_ip(idb, &old);
    *old_applied = old;
    return tessel_im_select_source_ipv4(idb) ? 1 : 0;
}

uint32_t merge_source_ipv6(tessel_ipc_idb_type *idb, uint64_t *)
{
    tessel_cfg_if_merge_source_ipv6(idb, nullptr);
    return tessel_im_select_source_ipv6(idb) ? 1 : 0;
}

// ---- Traces ----

template <const ptp_trace_point_type &P>
void trace6(ifhtype ifhandle, uint32_t event, uint32_t, const uint64_t v[4], config_views &)
{
    ptp_trace<P>({tessel_ipc_det()}, ifhandle, event, v[0], v[1], v[2], v[3]);
}

template <const ptp_trace_point_type &P>
void trace_qos(ifhtype ifhandle, uint32_t event, uint32_t arg, const uint64_t v[4], config_views &)
{
    ptp_trace<P>({tessel_ipc_det()}, ifhandle, event, v[0], v[1], v[2], v[3], arg);
}

// The message type before the event, as the text names them.
template <const ptp_trace_point_type &P>
void trace_msg_type(ifhtype ifhandle, uint32_t event, uint32_t arg, const uint64_t v[4], config_views &)
{
    ptp_trace<P>({tessel_ipc_det()}, ifhandle, arg, event, v[0], v[1], v[2], v[3]);
}

void trace_multicast(ifhtype ifhandle, uint32_t event, uint32_t, const uint64_t v[4], config_views &)
{
    ptp_trace<PTP_TRACE_TESSEL_CFG_IF_MULTICAST>(
        {tessel_ipc_det()}, ifhandle, event,
        ptp_transport_change_encode(static_cast<uint32_t>(v[0]), static_cast<uint32_t>(v[1])),
        ptp_transport_change_encode(static_cast<uint32_t>(v[2]), static_cast<uint32_t>(v[3])));
}

const char *ipv4_text(uint64_t value, char *buffer)
{
    const auto address = static_cast<uint32_t>(value);
    if (address == 0xFFFFFFFFu) {
        return "Not set";
    }
    return inet_ntop(AF_INET, &address, buffer, INET_ADDRSTRLEN);
}

void trace_source_ip(ifhtype ifhandle, uint32_t event, uint32_t, const uint64_t v[4], config_views &)
{
    char text[4][INET_ADDRSTRLEN];
    ptp_trace<PTP_TRACE_TESSEL_CFG_IF_SOURCE_IP>({tessel_ipc_det()}, ifhandle, event, ipv4_text(v[0], text[0]),
                                                 ipv4_text(v[1], text[1]), ipv4_text(v[2], text[2]),
                                                 ipv4_text(v[3], text[3]));
}

void trace_source_ipv6(ifhtype ifhandle, uint32_t event, uint32_t, const uint64_t *, config_views &configs)
{
    char text[4][INET6_ADDRSTRLEN];
    for (int i = 0; i < 4; i++) {
        inet_ntop(AF_INET6, configs[i]->source_ipv6.address, text[i], sizeof text[i]);
    }
    ptp_trace<PTP_TRACE_TESSEL_CFG_IF_SOURCE_IPV6>({tessel_ipc_det()}, ifhandle, event, text[0], text[1], text[2],
                                                   text[3]);
}

#define F_(f) offsetof(tessel_if_config_type, f), sizeof(tessel_if_config_type::f)
#define NO2_ -1, 0, 0
constexpr uint32_t CONFIG = TESSEL_IPC_IDB_EVENT_APPLY_CONFIG;

const char *const RATE_TEXT_ANNCE =
    "Failed to verify the announce interval value. The announce interval must be less than %u seconds and greater "
    "than %u packets per second.The maximum frequency supported by the platform is %u packets per second";
const char *const RATE_TEXT_SYNC =
    "Failed to verify the Sync interval value. The Sync interval must be less than %u seconds and greater than %u "
    "packets per second. The maximum frequency supported by the platform is %u packets per second";
const char *const RATE_TEXT_DR =
    "Failed to verify the Delay-Request minimum interval value. The Delay-Request minimum interval must be less than "
    "%u seconds and greater than %u packets per second. The maximum frequency supported by the platform is %u "
    "packets per second";
const char *const COS_TEXT = "Failed to verify the cos value. It must be within the specified range";
const char *const DSCP_TEXT = "Failed to verify the DSCP value. It must be within the specified range";
const char *const GRANT_TEXT =
    "Failed to verify the unicast grant duration value. The duration must be between %u seconds and %u seconds.";
const char *const TIMEOUT_TEXT = "Failed to verify the message timeout value. The value must be less than %u "
                                 "milliseconds and greater than %u milliseconds";
const char *const QOS_FORMAT_COS = "%s: %s: CoS config %s event: %u -> %u. Applied config: %u -> %u (%s)";
const char *const QOS_FORMAT_DSCP = "%s: %s: DSCP config %s event: %u -> %u. Applied config: %u -> %u (%s)";
const char *const GRANT_FORMAT =
    "%s: %s: %s unicast grant duration config %s event: %u -> %u. Applied config: %u -> %u";
const char *const TIMEOUT_FORMAT = "%s: %s: %s receive timeout config %s event: %u -> %u. Applied config: %u -> %u";

using PT = print_kind;

// clang-format off
const item_type items[] = {
    {"transport", F_(encap), TESSEL_CFG_BIT_ENCAP, NO2_,
     check_u32<ptp_cfg_check_encap, offsetof(tessel_if_config_type, encap)>, nullptr, rule_encap,
     "Failed to verify the encap value. It must be either Ethernet or UDP", nullptr, "Encap config error message",
     merge_with<uint32_t, tessel_cfg_if_merge_transport>, PT::ENCAP,
     "%s: %s: Encap config %s event: %s -> %s. Applied config: %s -> %s",
     trace6<PTP_TRACE_TESSEL_CFG_IF_ENCAP>, CONFIG, 0},
    {"clock-operation", F_(clock_operation), TESSEL_CFG_BIT_CLOCK_OPERATION, NO2_,
     check_u32<ptp_cfg_check_clock_operation, offsetof(tessel_if_config_type, clock_operation)>, nullptr,
     rule_clock_operation,
     "Failed to verify the clock-operation value. One-step operation can only be configured on supported interfaces",
     nullptr, "Clock operation config error message", merge_with<uint32_t, tessel_cfg_if_merge_clock_operation>,
     PT::CLOCK_OPERATION, "%s: %s: Clock operation config %s event: %s -> %s. Applied config: %s -> %s",
     trace6<PTP_TRACE_TESSEL_CFG_IF_CLOCK_OPERATION>, CONFIG, 0},
    {"announce-interval", F_(announce_interval), TESSEL_CFG_BIT_ANNOUNCE_INTERVAL, NO2_,
     check_rate<ptp_cfg_check_annce_ivl, offsetof(tessel_if_config_type, announce_interval)>, nullptr, rule_annce_ivl,
     RATE_TEXT_ANNCE, rate_text, "Announce Interval config error message",
     merge_with<int32_t, tessel_cfg_if_merge_annce_ivl>, PT::SIGNED,
     "%s: %s: Announce interval config %s event: %i -> %i. Applied config: %i -> %i (seconds log base 2)",
     trace6<PTP_TRACE_TESSEL_CFG_IF_ANNOUNCE_INTERVAL>, CONFIG, 0},
    {"sync-interval", F_(sync_interval), TESSEL_CFG_BIT_SYNC_INTERVAL, NO2_,
     check_rate<ptp_cfg_check_sync_ivl, offsetof(tessel_if_config_type, sync_interval)>, nullptr, rule_sync_ivl,
     RATE_TEXT_SYNC, rate_text, "Sync Interval config error message",
     merge_with<int32_t, tessel_cfg_if_merge_sync_ivl>, PT::SIGNED,
     "%s: %s: Sync interval config %s event: %i -> %i. Applied config: %i -> %i (seconds log base 2)",
     trace6<PTP_TRACE_TESSEL_CFG_IF_SYNC_INTERVAL>, CONFIG, 0},
    {"announce-timeout", F_(announce_timeout), TESSEL_CFG_BIT_ANNOUNCE_TIMEOUT, NO2_,
     check_u32<ptp_cfg_check_annce_tout, offsetof(tessel_if_config_type, announce_timeout)>, nullptr, nullptr,
     "Failed to verify the announce timeout value. It must be within the specified range", nullptr,
     "Announce Timeout config error message", merge_with<uint32_t, tessel_cfg_if_merge_annce_tout>, PT::UNSIGNED,
     "%s: %s: Announce timeout config %s event: %u -> %u. Applied config: %u -> %u",
     trace6<PTP_TRACE_TESSEL_CFG_IF_ANNOUNCE_TIMEOUT>, CONFIG, 0},
    {"delay-request-minimum-interval", F_(delay_req_interval), TESSEL_CFG_BIT_DELAY_REQ_INTERVAL, NO2_,
     check_rate<ptp_cfg_check_dr_min_ivl, offsetof(tessel_if_config_type, delay_req_interval)>, nullptr,
     rule_dr_min_ivl, RATE_TEXT_DR, rate_text, "Delay-Request minimum interval config error message",
     merge_with<int32_t, tessel_cfg_if_merge_dr_min_ivl>, PT::SIGNED,
     "%s: %s: Minimum delay request interval config %s event: %i -> %i. Applied config: %i -> %i (seconds log base 2)",
     trace6<PTP_TRACE_TESSEL_CFG_IF_DELAY_REQ_INTERVAL>, CONFIG, 0},
    {"multicast", F_(transport), TESSEL_CFG_BIT_TRANSPORT, TESSEL_CFG_BIT_MULTICAST_ADDRESS, F_(multicast_address),
     check_multicast, nullptr, rule_multicast, "Failed to verify the multicast value.", nullptr,
     "Multicast config error message", merge_with<uint32_t, tessel_cfg_if_merge_multicast>, PT::MULTICAST,
     "%s: %s: Multicast config %s event: %s %s -> %s %s. Applied config: %s %s -> %s %s", trace_multicast, CONFIG, 0},
    {"port-state", F_(port_state), TESSEL_CFG_BIT_PORT_STATE, NO2_,
     check_u32<ptp_cfg_check_port_state, offsetof(tessel_if_config_type, port_state)>, nullptr, rule_port_state,
     "Failed to verify the port state value. It must be Slave-Only, Master-Only, or Any", nullptr,
     "Port State config error message", merge_with<uint32_t, tessel_cfg_if_merge_port_state>, PT::PORT_STATE,
     "%s: %s: Port State config %s event: %s -> %s. Applied config: %s -> %s",
     trace6<PTP_TRACE_TESSEL_CFG_IF_PORT_STATE>, CONFIG, 0},
    {"source-ipv4-address", F_(source_ip), TESSEL_CFG_BIT_SOURCE_IP, NO2_, check_source_ip, need_source_ip, nullptr,
     "Failed to verify the source IP address value. It must be a valid IP address.", nullptr,
     "Source IP address config error message", merge_source_ip, PT::SOURCE_IP,
     "%s: %s: Source IP address config %s event: %s -> %s. Applied config: %s -> %s", trace_source_ip, CONFIG, 0},
    {"source-ipv6-address", F_(source_ipv6), TESSEL_CFG_BIT_SOURCE_IPV6, NO2_, check_source_ipv6,
     need_ipv6_and_source_ip, nullptr,
     "Failed to verify the source IPv6 address value. It must be a valid IP IPv6 address.", nullptr,
     "Source IPv6 address config error message", merge_source_ipv6, PT::SOURCE_IPV6,
     "%s: %s: Source IPv6 address config %s event: %s -> %s. Applied config: %s -> %s", trace_source_ipv6, CONFIG,
     0},
    {"cos", F_(cos), TESSEL_CFG_BIT_COS, NO2_, check_u32<ptp_cfg_check_cos, offsetof(tessel_if_config_type, cos)>,
     nullptr, nullptr, COS_TEXT, nullptr, "CoS config error message",
     merge_qos<tessel_cfg_cos_change_check, 0>, PT::QOS, QOS_FORMAT_COS, trace_qos<PTP_TRACE_TESSEL_CFG_IF_COS>,
     CONFIG, 0},
    {"general-cos", F_(general_cos), TESSEL_CFG_BIT_GENERAL_COS, NO2_,
     check_u32<ptp_cfg_check_cos, offsetof(tessel_if_config_type, general_cos)>, nullptr, nullptr, COS_TEXT, nullptr,
     "CoS config error message", merge_qos<tessel_cfg_cos_change_check, 1>, PT::QOS, QOS_FORMAT_COS,
     trace_qos<PTP_TRACE_TESSEL_CFG_IF_COS>, CONFIG, 1},
    {"event-cos", F_(event_cos), TESSEL_CFG_BIT_EVENT_COS, NO2_,
     check_u32<ptp_cfg_check_cos, offsetof(tessel_if_config_type, event_cos)>, nullptr, nullptr, COS_TEXT, nullptr,
     "CoS config error message", merge_qos<tessel_cfg_cos_change_check, 2>, PT::QOS, QOS_FORMAT_COS,
     trace_qos<PTP_TRACE_TESSEL_CFG_IF_COS>, CONFIG, 2},
    {"dscp", F_(dscp), TESSEL_CFG_BIT_DSCP, NO2_, check_u32<ptp_cfg_check_dscp, offsetof(tessel_if_config_type, dscp)>,
     nullptr, nullptr, DSCP_TEXT, nullptr, "DSCP config error message",
     merge_qos<tessel_cfg_dscp_change_check, 0>, PT::QOS, QOS_FORMAT_DSCP, trace_qos<PTP_TRACE_TESSEL_CFG_IF_DSCP>,
     CONFIG, 0},
    {"general-dscp", F_(general_dscp), TESSEL_CFG_BIT_GENERAL_DSCP, NO2_,
     check_u32<ptp_cfg_check_dscp, offsetof(tessel_if_config_type, general_dscp)>, nullptr, nullptr, DSCP_TEXT,
     nullptr, "DSCP config error message", merge_qos<tessel_cfg_dscp_change_check, 1>, PT::QOS, QOS_FORMAT_DSCP,
     trace_qos<PTP_TRACE_TESSEL_CFG_IF_DSCP>, CONFIG, 1},
    {"event-dscp", F_(event_dscp), TESSEL_CFG_BIT_EVENT_DSCP, NO2_,
     check_u32<ptp_cfg_check_dscp, offsetof(tessel_if_config_type, event_dscp)>, nullptr, nullptr, DSCP_TEXT,
     nullptr, "DSCP config error message", merge_qos<tessel_cfg_dscp_change_check, 2>, PT::QOS, QOS_FORMAT_DSCP,
     trace_qos<PTP_TRACE_TESSEL_CFG_IF_DSCP>, CONFIG, 2},
    {"ipv4-ttl", F_(ipv4_ttl), TESSEL_CFG_BIT_IPV4_TTL, NO2_,
     check_u32<ptp_cfg_check_ttl, offsetof(tessel_if_config_type, ipv4_ttl)>, nullptr, nullptr,
     "Failed to verify the IPv4 TTL value. It must be within the specified range", nullptr,
     "IPv4 TTL config error message", merge_plain<TESSEL_CFG_BIT_IPV4_TTL>, PT::UNSIGNED,
     "%s: %s: IPv4 TTL config %s event: %u -> %u. Applied config: %u -> %u.",
     trace6<PTP_TRACE_TESSEL_CFG_IF_IPV4_TTL>, CONFIG, 0},
    {"ipv6-hop-limit", F_(ipv6_hop_limit), TESSEL_CFG_BIT_IPV6_HOP_LIMIT, NO2_,
     check_u32<ptp_cfg_check_ttl, offsetof(tessel_if_config_type, ipv6_hop_limit)>, nullptr, nullptr,
     "Failed to verify the IPv6 hop limit value. It must be within the specified range", nullptr,
     "IPv6 hop limit config error message", merge_plain<TESSEL_CFG_BIT_IPV6_HOP_LIMIT>, PT::UNSIGNED,
     "%s: %s: IPv6 hop limit config %s event: %u -> %u. Applied config: %u -> %u.",
     trace6<PTP_TRACE_TESSEL_CFG_IF_IPV6_HOP_LIMIT>, CONFIG, 0},
    {"announce-grant-duration", F_(announce_grant_duration), TESSEL_CFG_BIT_ANNOUNCE_GRANT_DURATION, NO2_,
     check_grant_duration<offsetof(tessel_if_config_type, announce_grant_duration)>, nullptr, nullptr, GRANT_TEXT,
     grant_text, "Unicast grant duration config error message",
     merge_plain<TESSEL_CFG_BIT_ANNOUNCE_GRANT_DURATION>, PT::MSG_TYPE, GRANT_FORMAT,
     trace_msg_type<PTP_TRACE_TESSEL_CFG_IF_GRANT_DURATION>, CONFIG, PTP_MSG_ANNOUNCE},
    {"sync-grant-duration", F_(sync_grant_duration), TESSEL_CFG_BIT_SYNC_GRANT_DURATION, NO2_,
     check_grant_duration<offsetof(tessel_if_config_type, sync_grant_duration)>, nullptr, nullptr, GRANT_TEXT,
     grant_text, "Unicast grant duration config error message", merge_plain<TESSEL_CFG_BIT_SYNC_GRANT_DURATION>,
     PT::MSG_TYPE, GRANT_FORMAT, trace_msg_type<PTP_TRACE_TESSEL_CFG_IF_GRANT_DURATION>, CONFIG, PTP_MSG_SYNC},
    {"delay-response-grant-duration", F_(delay_resp_grant_duration), TESSEL_CFG_BIT_DELAY_RESP_GRANT_DURATION, NO2_,
     check_grant_duration<offsetof(tessel_if_config_type, delay_resp_grant_duration)>, nullptr, nullptr, GRANT_TEXT,
     grant_text, "Unicast grant duration config error message",
     merge_plain<TESSEL_CFG_BIT_DELAY_RESP_GRANT_DURATION>, PT::MSG_TYPE, GRANT_FORMAT,
     trace_msg_type<PTP_TRACE_TESSEL_CFG_IF_GRANT_DURATION>, CONFIG, PTP_MSG_DELAY_RESP},
    {"sync-timeout", F_(sync_timeout), TESSEL_CFG_BIT_SYNC_TIMEOUT, NO2_,
     check_message_timeout<offsetof(tessel_if_config_type, sync_timeout)>, nullptr, nullptr, TIMEOUT_TEXT,
     timeout_text, "Message timeout config error message", merge_plain<TESSEL_CFG_BIT_SYNC_TIMEOUT>, PT::MSG_TYPE,
     TIMEOUT_FORMAT, trace_msg_type<PTP_TRACE_TESSEL_CFG_IF_MESSAGE_TIMEOUT>, CONFIG, PTP_MSG_SYNC},
    {"delay-response-timeout", F_(delay_resp_timeout), TESSEL_CFG_BIT_DELAY_RESP_TIMEOUT, NO2_,
     check_message_timeout<offsetof(tessel_if_config_type, delay_resp_timeout)>, nullptr, nullptr, TIMEOUT_TEXT,
     timeout_text, "Message timeout config error message", merge_plain<TESSEL_CFG_BIT_DELAY_RESP_TIMEOUT>,
     PT::MSG_TYPE, TIMEOUT_FORMAT, trace_msg_type<PTP_TRACE_TESSEL_CFG_IF_MESSAGE_TIMEOUT>, CONFIG,
     PTP_MSG_DELAY_RESP},
    {"unicast-grant-invalid-request", F_(deny_invalid_grants), TESSEL_CFG_BIT_DENY_INVALID_GRANTS, NO2_,
     check_invalid_grants, nullptr, nullptr, "Failed to verify the invalid unicast grant reduce/deny item", nullptr,
     "Invalid unicast grant config error message", merge_plain<TESSEL_CFG_BIT_DENY_INVALID_GRANTS>,
     PT::REDUCE_DENY, "%s: %s: Invalid grant reduce/deny config %s event: %s -> %s. Applied config: %s -> %s",
     trace6<PTP_TRACE_TESSEL_CFG_IF_INVALID_GRANT>, TESSEL_IPC_IDB_EVENT_APPLY_ENABLE, 0},
    {"local-priority", F_(local_priority), TESSEL_CFG_BIT_LOCAL_PRIORITY, NO2_,
     check_u32<ptp_cfg_check_local_priority, offsetof(tessel_if_config_type, local_priority)>, nullptr, nullptr,
     "Failed to verify the local priority value. The local priority must be between %u and %u.",
     local_priority_text, "Local Priority config error message", merge_plain<TESSEL_CFG_BIT_LOCAL_PRIORITY>,
     PT::UNSIGNED, "%s: %s: Local priority config %s event: %u -> %u. Applied config: %u -> %u",
     trace6<PTP_TRACE_TESSEL_CFG_IF_LOCAL_PRIORITY>, CONFIG, 0},
    {"delay-asymmetry", F_(delay_asymmetry), TESSEL_CFG_BIT_DELAY_ASYMMETRY, NO2_, check_delay_asymmetry, nullptr,
     nullptr, "Failed to verify the master delay asymmetry item.", nullptr,
     "Master delay asymmetry config error message", merge_plain<TESSEL_CFG_BIT_DELAY_ASYMMETRY>,
     PT::DELAY_ASYMMETRY,
     "%s: %s: Interface delay asymmetry config %s event: %s -> %s. Applied config: %s -> %s",
     trace6<PTP_TRACE_TESSEL_CFG_IF_DELAY_ASYMMETRY>, CONFIG, 0},
};
// clang-format on
#undef F_
#undef NO2_

const item_type &item_named(const char *leaf)
{
    for (const item_type &item : items) {
        if (strcmp(item.leaf, leaf) == 0) {
            return item;
        }
    }
    TESSEL_ASSERT(false);
    return items[0];
}

// Handlers that serve several leaves pick the leaf by the row's argument.
const item_type &item_by_arg(const char *const *leaves, const uint32_t *args, size_t count, uint32_t arg)
{
    for (size_t i = 0; i < count; i++) {
        if (args[i] == arg) {
            return item_named(leaves[i]);
        }
    }
    TESSEL_ASSERT(false);
    return items[0];
}

const item_type &cos_item(uint32_t arg)
{
    static const char *const leaves[] = {"cos", "general-cos", "event-cos"};
    static const uint32_t args[] = {0, 1, 2};
    return item_by_arg(leaves, args, std::size(leaves), arg);
}

const item_type &dscp_item(uint32_t arg)
{
    static const char *const leaves[] = {"dscp", "general-dscp", "event-dscp"};
    static const uint32_t args[] = {0, 1, 2};
    return item_by_arg(leaves, args, std::size(leaves), arg);
}

const item_type &grant_item(uint32_t arg)
{
    static const char *const leaves[] = {"announce-grant-duration", "sync-grant-duration",
                                         "delay-response-grant-duration"};
    static const uint32_t args[] = {PTP_MSG_ANNOUNCE, PTP_MSG_SYNC, PTP_MSG_DELAY_RESP};
    return item_by_arg(leaves, args, std::size(leaves), arg);
}

const item_type &timeout_item(uint32_t arg)
{
    static const char *const leaves[] = {"sync-timeout", "delay-response-timeout"};
    static const uint32_t args[] = {PTP_MSG_SYNC, PTP_MSG_DELAY_RESP};
    return item_by_arg(leaves, args, std::size(leaves), arg);
}

// ---- The shared check, verify and apply ----

// The checks in order; the first failure decides. On failure with a verify result wanted, the
// result is 0 and the item's text goes to the caller.
zerrno item_check(const item_type &item, const nodra_verify_event_info_td *event, uint32_t *verify_result,
                  char **error_text, tessel_if_config_type *values, const bgen_args_td *args, char *ifname,
                  bool *is_delete)
{
    char *lib_text = nullptr;
    zerrno rc = tessel_cfg_if_type_is_supported(args, ifname);
    if (rc == 0 && !tessel_intf_caps_supports_ptp()) {
        rc = PTP_ZERR_CARD_NO_PTP;
    }
    if (rc == 0 && item.capability_first != nullptr) {
        rc = item.capability_first();
    }
    if (rc == 0) {
        const bgen_value_td nv{event->new_data, event->new_length};
        rc = item.check(event->event, &nv, item.arg, values, is_delete);
    }
    if (rc == 0 && !*is_delete && item.rule != nullptr) {
        rc = item.rule(ifname, values, verify_result != nullptr, &lib_text);
    }
    if (rc == 0) {
        if (verify_result != nullptr) {
            *verify_result = NODRA_VERIFY_RESULT_PASS;
        }
        return 0;
    }
    if (verify_result != nullptr) {
        *verify_result = NODRA_VERIFY_RESULT_FAIL;
        if (lib_text != nullptr) {
            // The platform library's own words.
            *error_text = lib_text;
            lib_text = nullptr;
        } else {
            char text[TEXT_SIZE];
            if (item.fill_text != nullptr) {
                item.fill_text(text, sizeof text, item.text);
            } else {
                snprintf(text, sizeof text, "%s", item.text);
            }
            *error_text = strdup(text);
            if (*error_text == nullptr) {
                ptp_alloc_failure_report(strlen(text) + 1, item.label);
            }
        }
    }
    free(lib_text);
    return rc;
}

// The item's named check, for the items that have one; the others check inline.
using named_check_fn = zerrno (*)(const nodra_verify_event_info_td *event, uint32_t *verify_result, char **error_text,
                                  tessel_if_config_type *values, const bgen_args_td *args, char *ifname,
                                  bool *is_delete);

zerrno run_check(const item_type &item, named_check_fn check, const nodra_verify_event_info_td *event,
                 uint32_t *verify_result, char **error_text, tessel_if_config_type *values, const bgen_args_td *args,
                 char *ifname, bool *is_delete)
{
    if (check != nullptr) {
        return check(event, verify_result, error_text, values, args, ifname, is_delete);
    }
    return item_check(item, event, verify_result, error_text, values, args, ifname, is_delete);
}

zerrno item_verify(const item_type &item, named_check_fn check, const nodra_verify_event_info_td *event,
                   char **error_text, nodra_verify_result_td *result, const bgen_args_td *args)
{
    tessel_if_config_type values{};
    char ifname[TESSEL_CFG_IFNAME_SIZE];
    bool is_delete = false;
    const zerrno rc = run_check(item, check, event, &result->result, error_text, &values, args, ifname, &is_delete);
    if (rc == 0) {
        tessel_cfg_verify_batch_has_valid_item = true;
    }
    return rc;
}

uint64_t field_word(const tessel_if_config_type *config, const item_type &item)
{
    const uint8_t *field = reinterpret_cast<const uint8_t *>(config) + item.offset;
    if (item.print == print_kind::SIGNED || item.print == print_kind::DELAY_ASYMMETRY) {
        int32_t v = 0;
        memcpy(&v, field, sizeof v);
        return static_cast<uint64_t>(static_cast<int64_t>(v));
    }
    if (item.print == print_kind::SOURCE_IP) {
        uint32_t v = 0;
        memcpy(&v, field + offsetof(decltype(config->source_ip), address), sizeof v);
        return v;
    }
    uint32_t v = 0;
    memcpy(&v, field, sizeof v);
    return v;
}

const char *value_text(const item_type &item, uint64_t v, char *buffer)
{
    switch (item.print) {
    case print_kind::ENCAP: return ptp_address_encap_to_str(static_cast<uint32_t>(v));
    case print_kind::CLOCK_OPERATION: return v != 0 ? "One-step" : "Two-step";
    case print_kind::PORT_STATE: return ptp_restrict_port_state_to_str(static_cast<uint32_t>(v));
    case print_kind::REDUCE_DENY: return v != 0 ? "Deny" : "Reduce";
    case print_kind::DELAY_ASYMMETRY: return ptp_delay_asymmetry_to_str(static_cast<int32_t>(v));
    case print_kind::SOURCE_IP: return ipv4_text(v, buffer);
    default: return "";
    }
}

void item_debug(const item_type &item, const tessel_ipc_idb_type *idb, uint32_t event, const uint64_t v[4],
                const tessel_if_config_type *old_if, const tessel_if_config_type *old_applied)
{
    const char *name = idb->header.ifname;
    const char *ev = ptp_cfg_event_to_str(event);
    const ifhtype h = idb->header.ifhandle;
    auto u = [&](int i) { return static_cast<uint32_t>(v[i]); };
    auto s = [&](int i) { return static_cast<int32_t>(v[i]); };
    switch (item.print) {
    case print_kind::UNSIGNED:
        TESSEL_IPC_DEBUG_LEVEL(AREA, PTP_DEBUG_LEVEL_INTERNAL, h, item.debug_format, name, ev, u(0), u(1), u(2), u(3));
        break;
    case print_kind::SIGNED:
        TESSEL_IPC_DEBUG_LEVEL(AREA, PTP_DEBUG_LEVEL_INTERNAL, h, item.debug_format, name, ev, s(0), s(1), s(2), s(3));
        break;
    case print_kind::QOS:
        TESSEL_IPC_DEBUG_LEVEL(AREA, PTP_DEBUG_LEVEL_INTERNAL, h, item.debug_format, name, ev, u(0), u(1), u(2), u(3),
                               tessel_cfg_update_qos_to_string(item.arg));
        break;
    case print_kind::MSG_TYPE:
        TESSEL_IPC_DEBUG_LEVEL(AREA, PTP_DEBUG_LEVEL_INTERNAL, h, item.debug_format, name,
                               ptp_msg_type_to_str(item.arg), ev, u(0), u(1), u(2), u(3));
        break;
    case print_kind::MULTICAST: {
        const tessel_if_config_type &new_if = idb->if_config;
        const tessel_if_config_type &new_applied = idb->applied_config;
        TESSEL_IPC_DEBUG_LEVEL(
            AREA, PTP_DEBUG_LEVEL_INTERNAL, h, item.debug_format, name, ev, ptp_transport_to_str(old_if->transport),
            ptp_address_to_str(&old_if->multicast_address), ptp_transport_to_str(new_if.transport),
            ptp_address_to_str(&new_if.multicast_address), ptp_transport_to_str(old_applied->transport),
            ptp_address_to_str(&old_applied->multicast_address), ptp_transport_to_str(new_applied.transport),
            ptp_address_to_str(&new_applied.multicast_address));
        break;
    }
    case print_kind::SOURCE_IPV6: {
        char text[4][INET6_ADDRSTRLEN];
        const uint8_t *addresses[] = {old_if->source_ipv6.address, idb->if_config.source_ipv6.address,
                                      old_applied->source_ipv6.address, idb->applied_config.source_ipv6.address};
        for (int i = 0; i < 4; i++) {
            inet_ntop(AF_INET6, addresses[i], text[i], sizeof text[i]);
        }
        TESSEL_IPC_DEBUG_LEVEL(AREA, PTP_DEBUG_LEVEL_INTERNAL, h, item.debug_format, name, ev, text[0], text[1],
                               text[2], text[3]);
        break;
    }
    default: {
        char buffers[4][INET6_ADDRSTRLEN];
        TESSEL_IPC_DEBUG_LEVEL(AREA, PTP_DEBUG_LEVEL_INTERNAL, h, item.debug_format, name, ev,
                               value_text(item, v[0], buffers[0]), value_text(item, v[1], buffers[1]),
                               value_text(item, v[2], buffers[2]), value_text(item, v[3], buffers[3]));
        break;
    }
    }
}

void copy_field(tessel_if_config_type *to, const tessel_if_config_type *from, size_t offset, size_t size)
{
    memcpy(reinterpret_cast<uint8_t *>(to) + offset, reinterpret_cast<const uint8_t *>(from) + offset, size);
}

zerrno item_apply(const item_type &item, named_check_fn check, const nodra_verify_event_info_td *event, void *context,
                  const bgen_args_td *args)
{
    tessel_if_config_type values{};
    char ifname[TESSEL_CFG_IFNAME_SIZE];
    bool is_delete = false;
    zerrno rc = run_check(item, check, event, nullptr, nullptr, &values, args, ifname, &is_delete);
    if (rc != 0) {
        return rc;
    }
    tessel_ipc_idb_type *idb = nullptr;
    rc = tessel_cfg_get_create_idb(ifname, &idb);
    if (rc != 0) {
        return rc;
    }
    tessel_stats_increment_ipc_idb_event_counter(idb, item.counter);

    // Scalar fields only: the tables and the interop record are not copied.
    tessel_if_config_type old_if{};
    copy_field(&old_if, &idb->if_config, item.offset, item.size);
    tessel_if_config_type old_applied{};
    copy_field(&old_applied, &idb->applied_config, item.offset, item.size);
    if (item.bit2 >= 0) {
        copy_field(&old_if, &idb->if_config, item.offset2, item.size2);
        copy_field(&old_applied, &idb->applied_config, item.offset2, item.size2);
    }
    uint32_t bits = 1u << item.bit;
    if (item.bit2 >= 0) {
        bits |= 1u << item.bit2;
    }
    if (is_delete) {
        tessel_if_config_type defaults{};
        tessel_cfg_if_config_defaults(&defaults);
        values = defaults;
        idb->if_config_flags &= ~bits;
    } else {
        idb->if_config_flags |= bits;
    }
    copy_field(&idb->if_config, &values, item.offset, item.size);
    if (item.bit2 >= 0) {
        copy_field(&idb->if_config, &values, item.offset2, item.size2);
    }
    if (is_delete) {
        tessel_cfg_if_empty_check(idb);
    }

    uint64_t old_applied_word = 0;
    const uint32_t changed = item.merge(idb, &old_applied_word);
    const uint64_t words[4] = {field_word(&old_if, item), field_word(&idb->if_config, item),
                               field_word(&old_applied, item), field_word(&idb->applied_config, item)};

    auto *batch_state = static_cast<uint32_t *>(context);
    if (batch_state != nullptr && (*batch_state & TESSEL_CFG_BATCH_ITEM_TRACED) == 0) {
        *batch_state |= TESSEL_CFG_BATCH_ITEM_TRACED;
        ifhtype ifhandle = idb->header.ifhandle;
        if (ifhandle == 0 && tessel_im_ctrl_ctx() != nullptr) {
            imc_s_interface_find(tessel_im_ctrl_ctx(), idb->header.ifname, &ifhandle);
        }
        config_views configs = {&old_if, &idb->if_config, &old_applied, &idb->applied_config};
        item.trace(ifhandle, event->event, item.arg, words, configs);
    }
    item_debug(item, idb, event->event, words, &old_if, &old_applied);
    if (changed != 0 && (idb->flags & TESSEL_IPC_FLAG_ENABLED) != 0) {
        tessel_ipc_if_update_add(idb);
    }
    return 0;
}

} // namespace

// ---- The named checks, shared by their item's verify and apply ----

#define TESSEL_CFG_IF_CHECK_(check, pick)                                                                              \
    zerrno check(const nodra_verify_event_info_td *event, uint32_t *verify_result, char **error_text,                  \
                 tessel_if_config_type *values, const bgen_args_td *args, char *ifname, bool *is_delete)               \
    {                                                                                                                  \
        return item_check(pick, event, verify_result, error_text, values, args, ifname, is_delete);                    \
    }
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_transport, item_named("transport"))
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_clock_operation, item_named("clock-operation"))
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_annce_ivl, item_named("announce-interval"))
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_sync_ivl, item_named("sync-interval"))
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_dr_min_ivl, item_named("delay-request-minimum-interval"))
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_multicast, item_named("multicast"))
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_port_state, item_named("port-state"))
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_source_ip, item_named("source-ipv4-address"))
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_source_ipv6, item_named("source-ipv6-address"))
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_unicast_grant_duration, grant_item(args->bg_ident))
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_message_timeout, timeout_item(args->bg_ident))
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_local_priority, item_named("local-priority"))
TESSEL_CFG_IF_CHECK_(tessel_cfg_if_check_delay_asymmetry, item_named("delay-asymmetry"))
#undef TESSEL_CFG_IF_CHECK_

// ---- The handlers of rows 2 to 27 ----

#define TESSEL_CFG_IF_ITEM_(verify, apply, pick, check)                                                                \
    zerrno verify(const nodra_verify_event_info_td *event, char **error_text, nodra_verify_result_td *result, void *,  \
                  const bgen_args_td *args)                                                                            \
    {                                                                                                                  \
        return item_verify(pick, check, event, error_text, result, args);                                              \
    }                                                                                                                  \
    zerrno apply(const nodra_verify_event_info_td *event, void *context, const bgen_args_td *args)                     \
    {                                                                                                                  \
        return item_apply(pick, check, event, context, args);                                                          \
    }

TESSEL_CFG_IF_ITEM_(tessel_cfg_if_verify_transport, tessel_cfg_if_apply_transport, item_named("transport"),
                    tessel_cfg_if_check_transport)
TESSEL_CFG_IF_ITEM_(tessel_cfg_if_verify_clock_operation, tessel_cfg_if_apply_clock_operation,
                    item_named("clock-operation"), tessel_cfg_if_check_clock_operation)
TESSEL_CFG_IF_ITEM_(tessel_cfg_if_verify_annce_ivl, tessel_cfg_if_apply_annce_ivl, item_named("announce-interval"),
                    tessel_cfg_if_check_annce_ivl)
TESSEL_CFG_IF_ITEM_(tessel_cfg_if_verify_sync_ivl, tessel_cfg_if_apply_sync_ivl, item_named("sync-interval"),
                    tessel_cfg_if_check_sync_ivl)
TESSEL_CFG_IF_ITEM_(tessel_cfg_if_verify_annce_tout, tessel_cfg_if_apply_annce_tout, item_named("announce-timeout"),
                    nullptr)
TESSEL_CFG_IF_ITEM_(tessel_cfg_if_verify_dr_min_ivl, tessel_cfg_if_apply_dr_min_ivl,
                    item_named("delay-request-minimum-interval"), tessel_cfg_if_check_dr_min_ivl)
TESSEL_CFG_IF_ITEM_(tessel_cfg_if_verify_multicast, tessel_cfg_if_apply_multicast, item_named("multicast"),
                    tessel_cfg_if_check_multicast)
TESSEL_CFG_IF_ITEM_(tessel_cfg_if_verify_port_state, tessel_cfg_if_apply_port_state, item_named("port-state"),
                    tessel_cfg_if_check_port_state)
TESSEL_CFG_IF_ITEM_(tessel_cfg_if_verify_source_ip, tessel_cfg_if_apply_source_ip, item_named("source-ipv4-address"),
                    tessel_cfg_if_check_source_ip)
TESSEL_CFG_IF_ITEM_(tessel_cfg_if_verify_source_ipv6, tessel_cfg_if_apply_source_ipv6,
                    item_named("source-ipv6-address"), tessel_cfg_if_check_source_ipv6)
TESSEL_CFG_IF_ITEM_(tessel_cfg_if_verify_cos, tessel_cfg_if_apply_cos, cos_item(args->bg_ident), nullptr)
TESSEL_CFG_IF_ITEM_(tessel_cfg_if_verify_dscp, tessel_cfg_if_apply_dscp, dscp_item(args->bg_ident), nullptr)
TESSEL_CFG_IF_ITEM_(tessel_cfg_if_verify_ipv4_ttl, tessel_cfg_if_apply_ipv4_ttl, item_named("ipv4-ttl"), nullptr)
TESSEL_CFG_IF_ITEM_(tessel_cfg_if_verify_ipv6_hop_limit, tessel_cfg_if_apply_ipv6_hop_limit,
                    item_named("ipv6-hop-limit"), nullptr)
TESSEL_CFG_IF_ITEM_(tessel_cfg_if_verify_unicast_grant_duration, tessel_cfg_if_apply_unicast_grant_duration,
                    grant_item(args->bg_ident), tessel_cfg_if_check_unicast_grant_duration)
TESSEL_CFG_IF_ITEM_(tessel_cfg_if_verify_message_timeout, tessel_cfg_if_apply_message_timeout,
                    timeout_item(args->bg_ident), tessel_cfg_if_check_message_timeout)
TESSEL_CFG_IF_ITEM_(tessel_cfg_if_verify_unicast_grant_invalid_request,
                    tessel_cfg_if_apply_unicast_grant_invalid_request, item_named("unicast-grant-invalid-request"),
                    nullptr)
TESSEL_CFG_IF_ITEM_(tessel_cfg_if_verify_local_priority, tessel_cfg_if_apply_local_priority,
                    item_named("local-priority"), tessel_cfg_if_check_local_priority)
TESSEL_CFG_IF_ITEM_(tessel_cfg_if_verify_delay_asymmetry, tessel_cfg_if_apply_delay_asymmetry,
                    item_named("delay-asymmetry"), tessel_cfg_if_check_delay_asymmetry)
#undef TESSEL_CFG_IF_ITEM_
