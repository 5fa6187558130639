// The controller's schema keeps the layout it has always had: every node and every handler row,
// entry by entry, as the controller's own builder made them before the shared one. Only the
// container flags, which the back-end records and never reads, are now those of the agents' and
// the verifier's trees (0 a leaf, 1 an inner node or the last key part, 2 a key part above
// another) where that builder marked every named node 1 and every key part 2.
#include <gtest/gtest.h>

#include <array>
#include <iterator>

#include "nodra_test.h"
#include "ptp_types.h"
#include "quorrin_cfg.h"

namespace {

struct want_item_type {
    const char *path;
    uint32_t kind;
    uint32_t ident;
    backend_notify_fn notify;
};

#define PROFILE "ptp/pi/profile/<s>/"
#define MASTER PROFILE "master-table/<u>/<s>/<ip>/"
#define SLAVE PROFILE "slave-table/<u>/<s>/<ip>/"
#define INTEROP PROFILE "interop/"
constexpr uint32_t S = BACKEND_VALUE_SINGLE;
constexpr uint32_t T = BACKEND_VALUE_TUPLE;
constexpr uint32_t N = BACKEND_VALUE_NONE;

constexpr uint32_t ROOT = BACKEND_NODE_ROOT;
constexpr uint32_t NAMED = BACKEND_NODE_NAMED;
constexpr uint32_t K_UINT = BGEN_ARG_UINT;
constexpr uint32_t K_STR = BGEN_ARG_STRING;
constexpr uint32_t K_IP = BGEN_ARG_IPADDR;

// clang-format off
const want_item_type want_items[] = {
    {"ptp/pi/enable", N, 0, quorrin_cfg_notify_enable},
    {"ptp/log/pi/bmc/changes", N, 0, quorrin_cfg_notify_log_bmc_changes},
    {"ptp/pi/clock/identity", T, 0, quorrin_cfg_notify_clock_identity},
    {"ptp/pi/clock/domain", S, 0, quorrin_cfg_notify_clock_domain},
    {"ptp/pi/clock/priority1", S, 0, quorrin_cfg_notify_clock_priority},
    {"ptp/pi/clock/priority2", S, 1, quorrin_cfg_notify_clock_priority},
    {"ptp/pi/clock/clock-class", S, 0, quorrin_cfg_notify_clock_class},
    {"ptp/pi/clock/timescale", S, 0, quorrin_cfg_notify_clock_timescale},
    {"ptp/pi/clock/timesource", S, 0, quorrin_cfg_notify_clock_time_source},
    {"ptp/pi/frequencypriority", S, 0, quorrin_cfg_notify_freq_priority},
    {"ptp/pi/timeofdaypriority", S, 0, quorrin_cfg_notify_tod_priority},
    {"ptp/pi/clock/profile", T, 0, quorrin_cfg_notify_clock_profile},
    {"ptp/pi/min-clock-class", S, 0, quorrin_cfg_notify_min_clock_class},
    {"ptp/pi/leap-second/source-file", T, 0, quorrin_cfg_notify_leap_second_file},
    {"ptp/pi/leap-second/offset", S, 0, quorrin_cfg_notify_leap_second_offset},
    {"ptp/pi/leap-second/scheduled-offset/<s>", S, 0, quorrin_cfg_notify_leap_second_offset},
    {"ptp/pi/virtual-port/enable", N, 0, quorrin_cfg_notify_virtual_port},
    {"ptp/pi/virtual-port/priority1", S, 0, quorrin_cfg_notify_virtual_port_priority},
    {"ptp/pi/virtual-port/priority2", S, 1, quorrin_cfg_notify_virtual_port_priority},
    {"ptp/pi/virtual-port/clock-class", S, 0, quorrin_cfg_notify_virtual_port_clock_class},
    {"ptp/pi/virtual-port/clock-accuracy", S, 0, quorrin_cfg_notify_virtual_port_clock_accuracy},
    {"ptp/pi/virtual-port/oslv", S, 0, quorrin_cfg_notify_virtual_port_clock_oslv},
    {"ptp/pi/virtual-port/local-priority", S, 0, quorrin_cfg_notify_virtual_port_local_priority},
    {"ptp/pi/uncalibrated-clock-class", T, 0, quorrin_cfg_notify_uncalibrated_clock_class},
    {"ptp/pi/uncal-clock-class-deprecated", S, 0, quorrin_cfg_notify_deprecated_uncalibrated_clock_class},
    {"ptp/pi/uncal-time-traceable-override", N, 0, quorrin_cfg_notify_uncalibrated_time_traceable_override},
    {"ptp/pi/startup-clock-class", S, 0, quorrin_cfg_notify_startup_clock_class},
    {"ptp/pi/freerun-clock-class", S, 0, quorrin_cfg_notify_freerun_clock_class},
    {"ptp/pi/double-failure-clock-class", S, 0, quorrin_cfg_notify_double_failure_clock_class},
    {"ptp/pi/holdover-clock-class", S, 0, quorrin_cfg_notify_holdover_clock_class},
    {"ptp/pi/holdover-duration", S, 0, quorrin_cfg_notify_holdover_duration},
    {"ptp/pi/holdover-time-traceable-override", N, 0, quorrin_cfg_notify_time_traceable_override},
    {"ptp/pi/physical-layer-freq", S, 0, quorrin_cfg_notify_physical_layer_frequency},
    {"ptp/pi/network-type", S, 0, quorrin_cfg_notify_network_type},
    {"ptp/pi/servo-slow-tracking", S, 0, quorrin_cfg_notify_servo_slow_tracking},
    {"ptp/pi/verify-checksum", N, 0, quorrin_cfg_notify_verify_checksum},
    {"ptp/pi/transparent-clock/domain/<s>", N, 0, quorrin_cfg_notify_transparent_clock},
    {"ptp/pi/apts", N, 0, quorrin_cfg_notify_apts},
    {"g/f/ql-option", N, 0, quorrin_cfg_notify_fsync_ql_option},
    {PROFILE "aza", N, 0, nullptr},
    {PROFILE "transport", S, 0, quorrin_cfg_notify_encap},
    {PROFILE "clock-operation", S, 0, quorrin_cfg_notify_clock_operation},
    {PROFILE "announce-interval", T, 0, quorrin_cfg_notify_annce_ivl},
    {PROFILE "sync-interval", T, 0, quorrin_cfg_notify_sync_ivl},
    {PROFILE "announce-timeout", S, 0, quorrin_cfg_notify_annce_tout},
    {PROFILE "delay-request-minimum-interval", T, 0, quorrin_cfg_notify_dr_min_ivl},
    {PROFILE "multicast", T, 0, quorrin_cfg_notify_multicast},
    {PROFILE "port-state", S, 0, quorrin_cfg_notify_port_state},
    {PROFILE "local-priority", S, 0, quorrin_cfg_notify_local_priority},
    {PROFILE "source-ipv4-address", T, 0, quorrin_cfg_notify_source_ip},
    {PROFILE "source-ipv6-address", T, 0, quorrin_cfg_notify_source_ipv6},
    {PROFILE "cos", S, 0, quorrin_cfg_notify_cos},
    {PROFILE "general-cos", S, 1, quorrin_cfg_notify_cos},
    {PROFILE "event-cos", S, 2, quorrin_cfg_notify_cos},
    {PROFILE "dscp", S, 0, quorrin_cfg_notify_dscp},
    {PROFILE "general-dscp", S, 1, quorrin_cfg_notify_dscp},
    {PROFILE "event-dscp", S, 2, quorrin_cfg_notify_dscp},
    {PROFILE "ipv4-ttl", S, 0, quorrin_cfg_notify_ttl},
    {PROFILE "ipv6-hop-limit", S, 0, quorrin_cfg_notify_hop_limit},
    {PROFILE "announce-grant-duration", S, PTP_MSG_ANNOUNCE, quorrin_cfg_notify_unicast_grant_duration},
    {PROFILE "sync-grant-duration", S, PTP_MSG_SYNC, quorrin_cfg_notify_unicast_grant_duration},
    {PROFILE "delay-response-grant-duration", S, PTP_MSG_DELAY_RESP, quorrin_cfg_notify_unicast_grant_duration},
    {PROFILE "sync-timeout", S, PTP_MSG_SYNC, quorrin_cfg_notify_message_timeout},
    {PROFILE "delay-response-timeout", S, PTP_MSG_DELAY_RESP, quorrin_cfg_notify_message_timeout},
    {PROFILE "unicast-grant-invalid-request", S, 0, quorrin_cfg_notify_invalid_grant_deny},
    {PROFILE "delay-asymmetry", T, 0, quorrin_cfg_notify_delay_asymmetry},
    {MASTER "enable", N, 0, quorrin_cfg_notify_master_enable},
    {MASTER "priority", S, 0, quorrin_cfg_notify_master_priority},
    {MASTER "clock-class", S, 0, quorrin_cfg_notify_master_clock_class},
    {MASTER "non-negotiated", N, 0, quorrin_cfg_notify_master_nonnegotiated},
    {MASTER "multicast", S, 0, quorrin_cfg_notify_master_multicast},
    {MASTER "delay-asymmetry", T, 0, quorrin_cfg_notify_master_delay_asymmetry},
    {SLAVE "non-negotiated", N, 0, quorrin_cfg_notify_slave_nonnegotiated},
    {INTEROP "ord_1/profile", S, 0, quorrin_cfg_notify_interop_profile},
    {INTEROP "ord_2/domain", S, 0, quorrin_cfg_notify_interop_domain},
    {INTEROP "ord_3/ingress/priority1", S, 0, quorrin_cfg_notify_interop_priority},
    {INTEROP "ord_3/ingress/priority2", S, 1, quorrin_cfg_notify_interop_priority},
    {INTEROP "ord_3/ingress/clock-accuracy", S, 2, quorrin_cfg_notify_interop_clock_accuracy},
    {INTEROP "ord_3/ingress/oslv", S, 3, quorrin_cfg_notify_interop_oslv},
    {INTEROP "ord_3/ingress/clock-class", S, 4, quorrin_cfg_notify_interop_clock_class_default},
    {INTEROP "ord_3/ingress/clock-class-mapping-table/<u>", S, 5, quorrin_cfg_notify_interop_clock_class_mapping},
    {INTEROP "ord_3/egress/priority1", S, 6, quorrin_cfg_notify_interop_priority},
    {INTEROP "ord_3/egress/priority2", S, 7, quorrin_cfg_notify_interop_priority},
    {INTEROP "ord_3/egress/clock-accuracy", S, 8, quorrin_cfg_notify_interop_clock_accuracy},
    {INTEROP "ord_3/egress/oslv", S, 9, quorrin_cfg_notify_interop_oslv},
    {INTEROP "ord_3/egress/clock-class", S, 10, quorrin_cfg_notify_interop_clock_class_default},
    {INTEROP "ord_3/egress/clock-class-mapping-table/<u>", S, 11, quorrin_cfg_notify_interop_clock_class_mapping},
};
#undef PROFILE
#undef MASTER
#undef SLAVE
#undef INTEROP

const backend_node_td nodes[] = {
    // name, 0, kind, first child, next sibling, row, key, container
    {nullptr, 0, ROOT, 1, -1, -1, 0, 1}, // 0
    {"ptp", 0, NAMED, 2, 50, -1, 0, 1}, // 1
    {"pi", 0, NAMED, 3, 4, -1, 0, 1}, // 2
    {"enable", 0, NAMED, -1, 8, 0, 0, 0}, // 3
    {"log", 0, NAMED, 5, -1, -1, 0, 1}, // 4
    {"pi", 0, NAMED, 6, -1, -1, 0, 1}, // 5
    {"bmc", 0, NAMED, 7, -1, -1, 0, 1}, // 6
    {"changes", 0, NAMED, -1, -1, 1, 0, 0}, // 7
    {"clock", 0, NAMED, 9, 16, -1, 0, 1}, // 8
    {"identity", 0, NAMED, -1, 10, 2, 0, 0}, // 9
    {"domain", 0, NAMED, -1, 11, 3, 0, 0}, // 10
    {"priority1", 0, NAMED, -1, 12, 4, 0, 0}, // 11
    {"priority2", 0, NAMED, -1, 13, 5, 0, 0}, // 12
    {"clock-class", 0, NAMED, -1, 14, 6, 0, 0}, // 13
    {"timescale", 0, NAMED, -1, 15, 7, 0, 0}, // 14
    {"timesource", 0, NAMED, -1, 18, 8, 0, 0}, // 15
    {"frequencypriority", 0, NAMED, -1, 17, 9, 0, 0}, // 16
    {"timeofdaypriority", 0, NAMED, -1, 19, 10, 0, 0}, // 17
    {"profile", 0, NAMED, -1, -1, 11, 0, 0}, // 18
    {"min-clock-class", 0, NAMED, -1, 20, 12, 0, 0}, // 19
    {"leap-second", 0, NAMED, 21, 25, -1, 0, 1}, // 20
    {"source-file", 0, NAMED, -1, 22, 13, 0, 0}, // 21
    {"offset", 0, NAMED, -1, 23, 14, 0, 0}, // 22
    {"scheduled-offset", 0, NAMED, 24, -1, -1, 0, 1}, // 23
    {nullptr, 0, K_STR, -1, -1, 15, 1, 1}, // 24
    {"virtual-port", 0, NAMED, 26, 33, -1, 0, 1}, // 25
    {"enable", 0, NAMED, -1, 27, 16, 0, 0}, // 26
    {"priority1", 0, NAMED, -1, 28, 17, 0, 0}, // 27
    {"priority2", 0, NAMED, -1, 29, 18, 0, 0}, // 28
    {"clock-class", 0, NAMED, -1, 30, 19, 0, 0}, // 29
    {"clock-accuracy", 0, NAMED, -1, 31, 20, 0, 0}, // 30
    {"oslv", 0, NAMED, -1, 32, 21, 0, 0}, // 31
    {"local-priority", 0, NAMED, -1, -1, 22, 0, 0}, // 32
    {"uncalibrated-clock-class", 0, NAMED, -1, 34, 23, 0, 0}, // 33
    {"uncal-clock-class-deprecated", 0, NAMED, -1, 35, 24, 0, 0}, // 34
    {"uncal-time-traceable-override", 0, NAMED, -1, 36, 25, 0, 0}, // 35
    {"startup-clock-class", 0, NAMED, -1, 37, 26, 0, 0}, // 36
    {"freerun-clock-class", 0, NAMED, -1, 38, 27, 0, 0}, // 37
    {"double-failure-clock-class", 0, NAMED, -1, 39, 28, 0, 0}, // 38
    {"holdover-clock-class", 0, NAMED, -1, 40, 29, 0, 0}, // 39
    {"holdover-duration", 0, NAMED, -1, 41, 30, 0, 0}, // 40
    {"holdover-time-traceable-override", 0, NAMED, -1, 42, 31, 0, 0}, // 41
    {"physical-layer-freq", 0, NAMED, -1, 43, 32, 0, 0}, // 42
    {"network-type", 0, NAMED, -1, 44, 33, 0, 0}, // 43
    {"servo-slow-tracking", 0, NAMED, -1, 45, 34, 0, 0}, // 44
    {"verify-checksum", 0, NAMED, -1, 46, 35, 0, 0}, // 45
    {"transparent-clock", 0, NAMED, 47, 49, -1, 0, 1}, // 46
    {"domain", 0, NAMED, 48, -1, -1, 0, 1}, // 47
    {nullptr, 0, K_STR, -1, -1, 36, 1, 1}, // 48
    {"apts", 0, NAMED, -1, 53, 37, 0, 0}, // 49
    {"g", 0, NAMED, 51, -1, -1, 0, 1}, // 50
    {"f", 0, NAMED, 52, -1, -1, 0, 1}, // 51
    {"ql-option", 0, NAMED, -1, -1, 38, 0, 0}, // 52
    {"profile", 0, NAMED, 54, -1, -1, 0, 1}, // 53
    {nullptr, 0, K_STR, 55, -1, -1, 1, 1}, // 54
    {"aza", 0, NAMED, -1, 56, 39, 0, 0}, // 55
    {"transport", 0, NAMED, -1, 57, 40, 0, 0}, // 56
    {"clock-operation", 0, NAMED, -1, 58, 41, 0, 0}, // 57
    {"announce-interval", 0, NAMED, -1, 59, 42, 0, 0}, // 58
    {"sync-interval", 0, NAMED, -1, 60, 43, 0, 0}, // 59
    {"announce-timeout", 0, NAMED, -1, 61, 44, 0, 0}, // 60
    {"delay-request-minimum-interval", 0, NAMED, -1, 62, 45, 0, 0}, // 61
    {"multicast", 0, NAMED, -1, 63, 46, 0, 0}, // 62
    {"port-state", 0, NAMED, -1, 64, 47, 0, 0}, // 63
    {"local-priority", 0, NAMED, -1, 65, 48, 0, 0}, // 64
    {"source-ipv4-address", 0, NAMED, -1, 66, 49, 0, 0}, // 65
    {"source-ipv6-address", 0, NAMED, -1, 67, 50, 0, 0}, // 66
    {"cos", 0, NAMED, -1, 68, 51, 0, 0}, // 67
    {"general-cos", 0, NAMED, -1, 69, 52, 0, 0}, // 68
    {"event-cos", 0, NAMED, -1, 70, 53, 0, 0}, // 69
    {"dscp", 0, NAMED, -1, 71, 54, 0, 0}, // 70
    {"general-dscp", 0, NAMED, -1, 72, 55, 0, 0}, // 71
    {"event-dscp", 0, NAMED, -1, 73, 56, 0, 0}, // 72
    {"ipv4-ttl", 0, NAMED, -1, 74, 57, 0, 0}, // 73
    {"ipv6-hop-limit", 0, NAMED, -1, 75, 58, 0, 0}, // 74
    {"announce-grant-duration", 0, NAMED, -1, 76, 59, 0, 0}, // 75
    {"sync-grant-duration", 0, NAMED, -1, 77, 60, 0, 0}, // 76
    {"delay-response-grant-duration", 0, NAMED, -1, 78, 61, 0, 0}, // 77
    {"sync-timeout", 0, NAMED, -1, 79, 62, 0, 0}, // 78
    {"delay-response-timeout", 0, NAMED, -1, 80, 63, 0, 0}, // 79
    {"unicast-grant-invalid-request", 0, NAMED, -1, 81, 64, 0, 0}, // 80
    {"delay-asymmetry", 0, NAMED, -1, 82, 65, 0, 0}, // 81
    {"master-table", 0, NAMED, 83, 92, -1, 0, 1}, // 82
    {nullptr, 0, K_UINT, 84, -1, -1, 1, 2}, // 83
    {nullptr, 0, K_STR, 85, -1, -1, 1, 2}, // 84
    {nullptr, 0, K_IP, 86, -1, -1, 1, 1}, // 85
    {"enable", 0, NAMED, -1, 87, 66, 0, 0}, // 86
    {"priority", 0, NAMED, -1, 88, 67, 0, 0}, // 87
    {"clock-class", 0, NAMED, -1, 89, 68, 0, 0}, // 88
    {"non-negotiated", 0, NAMED, -1, 90, 69, 0, 0}, // 89
    {"multicast", 0, NAMED, -1, 91, 70, 0, 0}, // 90
    {"delay-asymmetry", 0, NAMED, -1, -1, 71, 0, 0}, // 91
    {"slave-table", 0, NAMED, 93, 97, -1, 0, 1}, // 92
    {nullptr, 0, K_UINT, 94, -1, -1, 1, 2}, // 93
    {nullptr, 0, K_STR, 95, -1, -1, 1, 2}, // 94
    {nullptr, 0, K_IP, 96, -1, -1, 1, 1}, // 95
    {"non-negotiated", 0, NAMED, -1, -1, 72, 0, 0}, // 96
    {"interop", 0, NAMED, 98, -1, -1, 0, 1}, // 97
    {"ord_1", 0, NAMED, 99, 100, -1, 0, 1}, // 98
    {"profile", 0, NAMED, -1, -1, 73, 0, 0}, // 99
    {"ord_2", 0, NAMED, 101, 102, -1, 0, 1}, // 100
    {"domain", 0, NAMED, -1, -1, 74, 0, 0}, // 101
    {"ord_3", 0, NAMED, 103, -1, -1, 0, 1}, // 102
    {"ingress", 0, NAMED, 104, 111, -1, 0, 1}, // 103
    {"priority1", 0, NAMED, -1, 105, 75, 0, 0}, // 104
    {"priority2", 0, NAMED, -1, 106, 76, 0, 0}, // 105
    {"clock-accuracy", 0, NAMED, -1, 107, 77, 0, 0}, // 106
    {"oslv", 0, NAMED, -1, 108, 78, 0, 0}, // 107
    {"clock-class", 0, NAMED, -1, 109, 79, 0, 0}, // 108
    {"clock-class-mapping-table", 0, NAMED, 110, -1, -1, 0, 1}, // 109
    {nullptr, 0, K_UINT, -1, -1, 80, 1, 1}, // 110
    {"egress", 0, NAMED, 112, -1, -1, 0, 1}, // 111
    {"priority1", 0, NAMED, -1, 113, 81, 0, 0}, // 112
    {"priority2", 0, NAMED, -1, 114, 82, 0, 0}, // 113
    {"clock-accuracy", 0, NAMED, -1, 115, 83, 0, 0}, // 114
    {"oslv", 0, NAMED, -1, 116, 84, 0, 0}, // 115
    {"clock-class", 0, NAMED, -1, 117, 85, 0, 0}, // 116
    {"clock-class-mapping-table", 0, NAMED, 118, -1, -1, 0, 1}, // 117
    {nullptr, 0, K_UINT, -1, -1, 86, 1, 1}, // 118
};
// clang-format on

TEST(QuorrinCfgSchema, KeepsItsNodesAndRows)
{
    std::array<backend_row_td, std::size(want_items)> rows{};
    for (size_t i = 0; i < rows.size(); i++) {
        rows[i] = {.kind = want_items[i].kind, .bg_ident = want_items[i].ident, .notify = want_items[i].notify};
    }
    const backend_schema_td want{nodes, std::size(nodes), rows.data(), rows.size(), 0};
    EXPECT_EQ(backend_schema_differences(*quorrin_cfg_schema(), want), "");
}

} // namespace
