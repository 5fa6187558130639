// The verifier's schema keeps the layout it has always had: every node and every handler row, entry
// by entry, as the verifier wrote its tree out by hand before its item table was the only form.
#include <gtest/gtest.h>

#include <array>
#include <iterator>

#include "nodra_test.h"
#include "ptp_cfg_utils.h"
#include "ptp_types.h"
#include "sardo_cfg.h"

// The item handlers, as the schema's rows name them.
zerrno sardo_cfg_apply_enable(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                              const bgen_args_td *);
zerrno sardo_cfg_apply_interop(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                               const bgen_args_td *);
zerrno sardo_cfg_apply_leap_second_file(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                                        const bgen_args_td *);
zerrno sardo_cfg_apply_leap_second_offset(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                                          const bgen_args_td *);
zerrno sardo_cfg_verify_apts(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                             const bgen_args_td *);
zerrno sardo_cfg_verify_clock_identity(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                                       const bgen_args_td *);
zerrno sardo_cfg_verify_clock_profile(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                                      const bgen_args_td *);
zerrno sardo_cfg_verify_enable(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                               const bgen_args_td *);
zerrno sardo_cfg_verify_holdover_duration(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                                          const bgen_args_td *);
zerrno sardo_cfg_verify_leap_second_file(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                                         const bgen_args_td *);
zerrno sardo_cfg_verify_leap_second_offset(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *,
                                           void *, const bgen_args_td *);
zerrno sardo_cfg_verify_log_bmc_changes(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                                        const bgen_args_td *);
zerrno sardo_cfg_verify_prf_annce_ivl(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                                      const bgen_args_td *);
zerrno sardo_cfg_verify_prf_annce_tout(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                                       const bgen_args_td *);
zerrno sardo_cfg_verify_prf_clock_operation(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *,
                                            void *, const bgen_args_td *);
zerrno sardo_cfg_verify_prf_cos(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                                const bgen_args_td *);
zerrno sardo_cfg_verify_prf_delay_asymmetry(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *,
                                            void *, const bgen_args_td *);
zerrno sardo_cfg_verify_prf_dr_min_ivl(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                                       const bgen_args_td *);
zerrno sardo_cfg_verify_prf_dscp(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                                 const bgen_args_td *);
zerrno sardo_cfg_verify_prf_encap(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                                  const bgen_args_td *);
zerrno sardo_cfg_verify_prf_interop_clock_accuracy(const nodra_verify_event_info_td *, char **,
                                                   nodra_verify_result_td *, void *, const bgen_args_td *);
zerrno sardo_cfg_verify_prf_interop_clock_class_default(const nodra_verify_event_info_td *, char **,
                                                        nodra_verify_result_td *, void *, const bgen_args_td *);
zerrno sardo_cfg_verify_prf_interop_clock_class_mapping(const nodra_verify_event_info_td *, char **,
                                                        nodra_verify_result_td *, void *, const bgen_args_td *);
zerrno sardo_cfg_verify_prf_interop_domain(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *,
                                           void *, const bgen_args_td *);
zerrno sardo_cfg_verify_prf_interop_oslv(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                                         const bgen_args_td *);
zerrno sardo_cfg_verify_prf_interop_priority(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *,
                                             void *, const bgen_args_td *);
zerrno sardo_cfg_verify_prf_interop_profile(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *,
                                            void *, const bgen_args_td *);
zerrno sardo_cfg_verify_prf_invalid_grant(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                                          const bgen_args_td *);
zerrno sardo_cfg_verify_prf_ipv4_ttl(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                                     const bgen_args_td *);
zerrno sardo_cfg_verify_prf_ipv6_hop_limit(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *,
                                           void *, const bgen_args_td *);
zerrno sardo_cfg_verify_prf_local_priority(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *,
                                           void *, const bgen_args_td *);
zerrno sardo_cfg_verify_prf_master_clock_class(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *,
                                               void *, const bgen_args_td *);
zerrno sardo_cfg_verify_prf_master_delay_asymmetry(const nodra_verify_event_info_td *, char **,
                                                   nodra_verify_result_td *, void *, const bgen_args_td *);
zerrno sardo_cfg_verify_prf_master_enable(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                                          const bgen_args_td *);
zerrno sardo_cfg_verify_prf_master_multicast(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *,
                                             void *, const bgen_args_td *);
zerrno sardo_cfg_verify_prf_master_nonnegotiated(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *,
                                                 void *, const bgen_args_td *);
zerrno sardo_cfg_verify_prf_master_priority(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *,
                                            void *, const bgen_args_td *);
zerrno sardo_cfg_verify_prf_message_timeout(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *,
                                            void *, const bgen_args_td *);
zerrno sardo_cfg_verify_prf_multicast(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                                      const bgen_args_td *);
zerrno sardo_cfg_verify_prf_port_state(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                                       const bgen_args_td *);
zerrno sardo_cfg_verify_prf_slave_nonnegotiated(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *,
                                                void *, const bgen_args_td *);
zerrno sardo_cfg_verify_prf_source_ip(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                                      const bgen_args_td *);
zerrno sardo_cfg_verify_prf_source_ipv6(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                                        const bgen_args_td *);
zerrno sardo_cfg_verify_prf_sync_ivl(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                                     const bgen_args_td *);
zerrno sardo_cfg_verify_prf_unicast_grant_duration(const nodra_verify_event_info_td *, char **,
                                                   nodra_verify_result_td *, void *, const bgen_args_td *);
zerrno sardo_cfg_verify_servo_slow_tracking(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *,
                                            void *, const bgen_args_td *);
zerrno sardo_cfg_verify_transparent_clock(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                                          const bgen_args_td *);
zerrno sardo_cfg_verify_uncalibrated_clock_class(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *,
                                                 void *, const bgen_args_td *);
zerrno sardo_cfg_verify_value(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *,
                              const bgen_args_td *);

namespace {

#define PROFILE "ptp/pi/profile/<s>/"
#define MASTER PROFILE "master-table/<u>/<s>/<ip>/"
#define SLAVE PROFILE "slave-table/<u>/<s>/<ip>/"
#define INTEROP PROFILE "interop/"
constexpr uint32_t S = BACKEND_VALUE_SINGLE;
constexpr uint32_t T = BACKEND_VALUE_TUPLE;
constexpr uint32_t N = BACKEND_VALUE_NONE;

// clang-format off
const sardo_cfg_item_type want_items[] = {
    {"ptp/pi/enable", N, 0, sardo_cfg_verify_enable, sardo_cfg_apply_enable},
    {"ptp/pi/clock/identity", T, 0, sardo_cfg_verify_clock_identity, nullptr},
    {"ptp/pi/clock/domain", S, 0, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/clock/priority1", S, 0, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/clock/priority2", S, 1, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/clock/clock-class", S, 0, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/clock/timescale", S, 0, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/clock/timesource", S, 0, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/clock/profile", T, 0, sardo_cfg_verify_clock_profile, nullptr},
    {"ptp/pi/frequencypriority", S, 0, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/timeofdaypriority", S, 0, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/min-clock-class", S, 0, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/leap-second/source-file", T, 0, sardo_cfg_verify_leap_second_file, sardo_cfg_apply_leap_second_file},
    {"ptp/pi/leap-second/offset", S, 0, sardo_cfg_verify_leap_second_offset, sardo_cfg_apply_leap_second_offset},
    {"ptp/pi/leap-second/scheduled-offset/<s>", S, 0, sardo_cfg_verify_leap_second_offset, sardo_cfg_apply_leap_second_offset},
    {"ptp/pi/virtual-port/enable", N, 0, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/virtual-port/priority1", S, 0, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/virtual-port/priority2", S, 1, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/virtual-port/clock-class", S, 0, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/virtual-port/clock-accuracy", S, 0, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/virtual-port/oslv", S, 0, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/virtual-port/local-priority", S, 0, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/uncalibrated-clock-class", T, 0, sardo_cfg_verify_uncalibrated_clock_class, nullptr},
    {"ptp/pi/uncal-clock-class-deprecated", S, 0, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/uncal-time-traceable-override", N, 0, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/startup-clock-class", S, 0, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/freerun-clock-class", S, 0, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/double-failure-clock-class", S, 0, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/holdover-clock-class", S, 0, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/holdover-duration", S, 0, sardo_cfg_verify_holdover_duration, nullptr},
    {"ptp/pi/holdover-time-traceable-override", N, 0, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/physical-layer-freq", S, 0, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/network-type", S, 0, sardo_cfg_verify_value, nullptr},
    {"ptp/pi/servo-slow-tracking", S, 0, sardo_cfg_verify_servo_slow_tracking, nullptr},
    {PROFILE "aza", N, 0, nullptr, nullptr},
    {PROFILE "transport", S, 0, sardo_cfg_verify_prf_encap, nullptr},
    {PROFILE "clock-operation", S, 0, sardo_cfg_verify_prf_clock_operation, nullptr},
    {PROFILE "announce-interval", T, 0, sardo_cfg_verify_prf_annce_ivl, nullptr, PTP_CFG_FORM_INTERVAL},
    {PROFILE "sync-interval", T, 0, sardo_cfg_verify_prf_sync_ivl, nullptr, PTP_CFG_FORM_INTERVAL},
    {PROFILE "announce-timeout", S, 0, sardo_cfg_verify_prf_annce_tout, nullptr},
    {PROFILE "delay-request-minimum-interval", T, 0, sardo_cfg_verify_prf_dr_min_ivl, nullptr, PTP_CFG_FORM_INTERVAL},
    {PROFILE "multicast", T, 0, sardo_cfg_verify_prf_multicast, nullptr, PTP_CFG_FORM_MULTICAST},
    {PROFILE "port-state", S, 0, sardo_cfg_verify_prf_port_state, nullptr},
    {PROFILE "source-ipv4-address", T, 0, sardo_cfg_verify_prf_source_ip, nullptr, PTP_CFG_FORM_SOURCE_IP},
    {PROFILE "source-ipv6-address", T, 0, sardo_cfg_verify_prf_source_ipv6, nullptr, PTP_CFG_FORM_SOURCE_IP},
    {PROFILE "cos", S, 0, sardo_cfg_verify_prf_cos, nullptr},
    {PROFILE "general-cos", S, 1, sardo_cfg_verify_prf_cos, nullptr},
    {PROFILE "event-cos", S, 2, sardo_cfg_verify_prf_cos, nullptr},
    {PROFILE "dscp", S, 0, sardo_cfg_verify_prf_dscp, nullptr},
    {PROFILE "general-dscp", S, 1, sardo_cfg_verify_prf_dscp, nullptr},
    {PROFILE "event-dscp", S, 2, sardo_cfg_verify_prf_dscp, nullptr},
    {PROFILE "ipv4-ttl", S, 0, sardo_cfg_verify_prf_ipv4_ttl, nullptr},
    {PROFILE "ipv6-hop-limit", S, 0, sardo_cfg_verify_prf_ipv6_hop_limit, nullptr},
    {PROFILE "announce-grant-duration", S, PTP_MSG_ANNOUNCE, sardo_cfg_verify_prf_unicast_grant_duration, nullptr},
    {PROFILE "sync-grant-duration", S, PTP_MSG_SYNC, sardo_cfg_verify_prf_unicast_grant_duration, nullptr},
    {PROFILE "delay-response-grant-duration", S, PTP_MSG_DELAY_RESP, sardo_cfg_verify_prf_unicast_grant_duration, nullptr},
    {PROFILE "sync-timeout", S, PTP_MSG_SYNC, sardo_cfg_verify_prf_message_timeout, nullptr},
    {PROFILE "delay-response-timeout", S, PTP_MSG_DELAY_RESP, sardo_cfg_verify_prf_message_timeout, nullptr},
    {PROFILE "unicast-grant-invalid-request", S, 0, sardo_cfg_verify_prf_invalid_grant, nullptr},
    {PROFILE "local-priority", S, 0, sardo_cfg_verify_prf_local_priority, nullptr},
    {PROFILE "delay-asymmetry", T, 0, sardo_cfg_verify_prf_delay_asymmetry, nullptr, PTP_CFG_FORM_DELAY_ASYMMETRY},
    {MASTER "enable", N, 0, sardo_cfg_verify_prf_master_enable, nullptr},
    {MASTER "priority", S, 0, sardo_cfg_verify_prf_master_priority, nullptr},
    {MASTER "multicast", S, 0, sardo_cfg_verify_prf_master_multicast, nullptr},
    {MASTER "clock-class", S, 0, sardo_cfg_verify_prf_master_clock_class, nullptr},
    {MASTER "delay-asymmetry", T, 0, sardo_cfg_verify_prf_master_delay_asymmetry, nullptr, PTP_CFG_FORM_DELAY_ASYMMETRY},
    {MASTER "non-negotiated", N, 0, sardo_cfg_verify_prf_master_nonnegotiated, nullptr},
    {SLAVE "non-negotiated", N, 0, sardo_cfg_verify_prf_slave_nonnegotiated, nullptr},
    {INTEROP "ord_1/profile", S, 0, sardo_cfg_verify_prf_interop_profile, sardo_cfg_apply_interop},
    {INTEROP "ord_2/domain", S, 0, sardo_cfg_verify_prf_interop_domain, sardo_cfg_apply_interop},
    {INTEROP "ord_3/ingress/priority1", S, 0, sardo_cfg_verify_prf_interop_priority, sardo_cfg_apply_interop},
    {INTEROP "ord_3/ingress/priority2", S, 1, sardo_cfg_verify_prf_interop_priority, sardo_cfg_apply_interop},
    {INTEROP "ord_3/ingress/clock-accuracy", S, 2, sardo_cfg_verify_prf_interop_clock_accuracy, sardo_cfg_apply_interop},
    {INTEROP "ord_3/ingress/oslv", S, 3, sardo_cfg_verify_prf_interop_oslv, sardo_cfg_apply_interop},
    {INTEROP "ord_3/ingress/clock-class", S, 4, sardo_cfg_verify_prf_interop_clock_class_default, sardo_cfg_apply_interop},
    {INTEROP "ord_3/ingress/clock-class-mapping-table/<u>", S, 5, sardo_cfg_verify_prf_interop_clock_class_mapping, sardo_cfg_apply_interop},
    {INTEROP "ord_3/egress/priority1", S, 6, sardo_cfg_verify_prf_interop_priority, sardo_cfg_apply_interop},
    {INTEROP "ord_3/egress/priority2", S, 7, sardo_cfg_verify_prf_interop_priority, sardo_cfg_apply_interop},
    {INTEROP "ord_3/egress/clock-accuracy", S, 8, sardo_cfg_verify_prf_interop_clock_accuracy, sardo_cfg_apply_interop},
    {INTEROP "ord_3/egress/oslv", S, 9, sardo_cfg_verify_prf_interop_oslv, sardo_cfg_apply_interop},
    {INTEROP "ord_3/egress/clock-class", S, 10, sardo_cfg_verify_prf_interop_clock_class_default, sardo_cfg_apply_interop},
    {INTEROP "ord_3/egress/clock-class-mapping-table/<u>", S, 11, sardo_cfg_verify_prf_interop_clock_class_mapping, sardo_cfg_apply_interop},
    {"ptp/pi/verify-checksum", N, 0, nullptr, nullptr},
    {"ptp/pi/transparent-clock/domain/<s>", N, 0, sardo_cfg_verify_transparent_clock, nullptr},
    {"ptp/pi/apts", N, 0, sardo_cfg_verify_apts, nullptr},
    {"ptp/log/pi/bmc/changes", N, 0, sardo_cfg_verify_log_bmc_changes, nullptr},
};
#undef PROFILE
#undef MASTER
#undef SLAVE
#undef INTEROP

// {name, 0, kind, first child, next sibling, row, key, container}
const backend_node_td nodes[] = {
    {"ptp", 0, BACKEND_NODE_NAMED, 1, -1, -1, 0, 1}, // 0
    {"pi", 0, BACKEND_NODE_NAMED, 2, 111, -1, 0, 1}, // 1
    {"enable", 0, BACKEND_NODE_NAMED, -1, 3, 0, 0, 0}, // 2
    {"clock", 0, BACKEND_NODE_NAMED, 4, 12, -1, 0, 1}, // 3
    {"identity", 0, BACKEND_NODE_NAMED, -1, 5, 1, 0, 0}, // 4
    {"domain", 0, BACKEND_NODE_NAMED, -1, 6, 2, 0, 0}, // 5
    {"priority1", 0, BACKEND_NODE_NAMED, -1, 7, 3, 0, 0}, // 6
    {"priority2", 0, BACKEND_NODE_NAMED, -1, 8, 4, 0, 0}, // 7
    {"clock-class", 0, BACKEND_NODE_NAMED, -1, 9, 5, 0, 0}, // 8
    {"timescale", 0, BACKEND_NODE_NAMED, -1, 10, 6, 0, 0}, // 9
    {"timesource", 0, BACKEND_NODE_NAMED, -1, 11, 7, 0, 0}, // 10
    {"profile", 0, BACKEND_NODE_NAMED, -1, -1, 8, 0, 0}, // 11
    {"frequencypriority", 0, BACKEND_NODE_NAMED, -1, 13, 9, 0, 0}, // 12
    {"timeofdaypriority", 0, BACKEND_NODE_NAMED, -1, 14, 10, 0, 0}, // 13
    {"min-clock-class", 0, BACKEND_NODE_NAMED, -1, 15, 11, 0, 0}, // 14
    {"leap-second", 0, BACKEND_NODE_NAMED, 16, 20, -1, 0, 1}, // 15
    {"source-file", 0, BACKEND_NODE_NAMED, -1, 17, 12, 0, 0}, // 16
    {"offset", 0, BACKEND_NODE_NAMED, -1, 18, 13, 0, 0}, // 17
    {"scheduled-offset", 0, BACKEND_NODE_NAMED, 19, -1, -1, 0, 1}, // 18
    {nullptr, 0, BGEN_ARG_STRING, -1, -1, 14, 1, 2}, // 19
    {"virtual-port", 0, BACKEND_NODE_NAMED, 21, 28, -1, 0, 1}, // 20
    {"enable", 0, BACKEND_NODE_NAMED, -1, 22, 15, 0, 0}, // 21
    {"priority1", 0, BACKEND_NODE_NAMED, -1, 23, 16, 0, 0}, // 22
    {"priority2", 0, BACKEND_NODE_NAMED, -1, 24, 17, 0, 0}, // 23
    {"clock-class", 0, BACKEND_NODE_NAMED, -1, 25, 18, 0, 0}, // 24
    {"clock-accuracy", 0, BACKEND_NODE_NAMED, -1, 26, 19, 0, 0}, // 25
    {"oslv", 0, BACKEND_NODE_NAMED, -1, 27, 20, 0, 0}, // 26
    {"local-priority", 0, BACKEND_NODE_NAMED, -1, -1, 21, 0, 0}, // 27
    {"uncalibrated-clock-class", 0, BACKEND_NODE_NAMED, -1, 29, 22, 0, 0}, // 28
    {"uncal-clock-class-deprecated", 0, BACKEND_NODE_NAMED, -1, 30, 23, 0, 0}, // 29
    {"uncal-time-traceable-override", 0, BACKEND_NODE_NAMED, -1, 31, 24, 0, 0}, // 30
    {"startup-clock-class", 0, BACKEND_NODE_NAMED, -1, 32, 25, 0, 0}, // 31
    {"freerun-clock-class", 0, BACKEND_NODE_NAMED, -1, 33, 26, 0, 0}, // 32
    {"double-failure-clock-class", 0, BACKEND_NODE_NAMED, -1, 34, 27, 0, 0}, // 33
    {"holdover-clock-class", 0, BACKEND_NODE_NAMED, -1, 35, 28, 0, 0}, // 34
    {"holdover-duration", 0, BACKEND_NODE_NAMED, -1, 36, 29, 0, 0}, // 35
    {"holdover-time-traceable-override", 0, BACKEND_NODE_NAMED, -1, 37, 30, 0, 0}, // 36
    {"physical-layer-freq", 0, BACKEND_NODE_NAMED, -1, 38, 31, 0, 0}, // 37
    {"network-type", 0, BACKEND_NODE_NAMED, -1, 39, 32, 0, 0}, // 38
    {"servo-slow-tracking", 0, BACKEND_NODE_NAMED, -1, 40, 33, 0, 0}, // 39
    {"profile", 0, BACKEND_NODE_NAMED, 41, 106, -1, 0, 1}, // 40
    {nullptr, 0, BGEN_ARG_STRING, 42, -1, -1, 1, 1}, // 41
    {"aza", 0, BACKEND_NODE_NAMED, -1, 43, 34, 0, 0}, // 42
    {"transport", 0, BACKEND_NODE_NAMED, -1, 44, 35, 0, 0}, // 43
    {"clock-operation", 0, BACKEND_NODE_NAMED, -1, 45, 36, 0, 0}, // 44
    {"announce-interval", 0, BACKEND_NODE_NAMED, -1, 46, 37, 0, 0}, // 45
    {"sync-interval", 0, BACKEND_NODE_NAMED, -1, 47, 38, 0, 0}, // 46
    {"announce-timeout", 0, BACKEND_NODE_NAMED, -1, 48, 39, 0, 0}, // 47
    {"delay-request-minimum-interval", 0, BACKEND_NODE_NAMED, -1, 49, 40, 0, 0}, // 48
    {"multicast", 0, BACKEND_NODE_NAMED, -1, 50, 41, 0, 0}, // 49
    {"port-state", 0, BACKEND_NODE_NAMED, -1, 51, 42, 0, 0}, // 50
    {"source-ipv4-address", 0, BACKEND_NODE_NAMED, -1, 52, 43, 0, 0}, // 51
    {"source-ipv6-address", 0, BACKEND_NODE_NAMED, -1, 53, 44, 0, 0}, // 52
    {"cos", 0, BACKEND_NODE_NAMED, -1, 54, 45, 0, 0}, // 53
    {"general-cos", 0, BACKEND_NODE_NAMED, -1, 55, 46, 0, 0}, // 54
    {"event-cos", 0, BACKEND_NODE_NAMED, -1, 56, 47, 0, 0}, // 55
    {"dscp", 0, BACKEND_NODE_NAMED, -1, 57, 48, 0, 0}, // 56
    {"general-dscp", 0, BACKEND_NODE_NAMED, -1, 58, 49, 0, 0}, // 57
    {"event-dscp", 0, BACKEND_NODE_NAMED, -1, 59, 50, 0, 0}, // 58
    {"ipv4-ttl", 0, BACKEND_NODE_NAMED, -1, 60, 51, 0, 0}, // 59
    {"ipv6-hop-limit", 0, BACKEND_NODE_NAMED, -1, 61, 52, 0, 0}, // 60
    {"announce-grant-duration", 0, BACKEND_NODE_NAMED, -1, 62, 53, 0, 0}, // 61
    {"sync-grant-duration", 0, BACKEND_NODE_NAMED, -1, 63, 54, 0, 0}, // 62
    {"delay-response-grant-duration", 0, BACKEND_NODE_NAMED, -1, 64, 55, 0, 0}, // 63
    {"sync-timeout", 0, BACKEND_NODE_NAMED, -1, 65, 56, 0, 0}, // 64
    {"delay-response-timeout", 0, BACKEND_NODE_NAMED, -1, 66, 57, 0, 0}, // 65
    {"unicast-grant-invalid-request", 0, BACKEND_NODE_NAMED, -1, 67, 58, 0, 0}, // 66
    {"local-priority", 0, BACKEND_NODE_NAMED, -1, 68, 59, 0, 0}, // 67
    {"delay-asymmetry", 0, BACKEND_NODE_NAMED, -1, 69, 60, 0, 0}, // 68
    {"master-table", 0, BACKEND_NODE_NAMED, 70, 79, -1, 0, 1}, // 69
    {nullptr, 0, BGEN_ARG_UINT, 71, -1, -1, 1, 2}, // 70
    {nullptr, 0, BGEN_ARG_STRING, 72, -1, -1, 1, 2}, // 71
    {nullptr, 0, BGEN_ARG_IPADDR, 73, -1, -1, 1, 1}, // 72
    {"enable", 0, BACKEND_NODE_NAMED, -1, 74, 61, 0, 0}, // 73
    {"priority", 0, BACKEND_NODE_NAMED, -1, 75, 62, 0, 0}, // 74
    {"multicast", 0, BACKEND_NODE_NAMED, -1, 76, 63, 0, 0}, // 75
    {"clock-class", 0, BACKEND_NODE_NAMED, -1, 77, 64, 0, 0}, // 76
    {"delay-asymmetry", 0, BACKEND_NODE_NAMED, -1, 78, 65, 0, 0}, // 77
    {"non-negotiated", 0, BACKEND_NODE_NAMED, -1, -1, 66, 0, 0}, // 78
    {"slave-table", 0, BACKEND_NODE_NAMED, 80, 84, -1, 0, 1}, // 79
    {nullptr, 0, BGEN_ARG_UINT, 81, -1, -1, 1, 2}, // 80
    {nullptr, 0, BGEN_ARG_STRING, 82, -1, -1, 1, 2}, // 81
    {nullptr, 0, BGEN_ARG_IPADDR, 83, -1, -1, 1, 1}, // 82
    {"non-negotiated", 0, BACKEND_NODE_NAMED, -1, -1, 67, 0, 0}, // 83
    {"interop", 0, BACKEND_NODE_NAMED, 85, -1, -1, 0, 1}, // 84
    {"ord_1", 0, BACKEND_NODE_NAMED, 86, 87, -1, 0, 1}, // 85
    {"profile", 0, BACKEND_NODE_NAMED, -1, -1, 68, 0, 0}, // 86
    {"ord_2", 0, BACKEND_NODE_NAMED, 88, 89, -1, 0, 1}, // 87
    {"domain", 0, BACKEND_NODE_NAMED, -1, -1, 69, 0, 0}, // 88
    {"ord_3", 0, BACKEND_NODE_NAMED, 90, -1, -1, 0, 1}, // 89
    {"ingress", 0, BACKEND_NODE_NAMED, 91, 98, -1, 0, 1}, // 90
    {"priority1", 0, BACKEND_NODE_NAMED, -1, 92, 70, 0, 0}, // 91
    {"priority2", 0, BACKEND_NODE_NAMED, -1, 93, 71, 0, 0}, // 92
    {"clock-accuracy", 0, BACKEND_NODE_NAMED, -1, 94, 72, 0, 0}, // 93
    {"oslv", 0, BACKEND_NODE_NAMED, -1, 95, 73, 0, 0}, // 94
    {"clock-class", 0, BACKEND_NODE_NAMED, -1, 96, 74, 0, 0}, // 95
    {"clock-class-mapping-table", 0, BACKEND_NODE_NAMED, 97, -1, -1, 0, 1}, // 96
    {nullptr, 0, BGEN_ARG_UINT, -1, -1, 75, 1, 2}, // 97
    {"egress", 0, BACKEND_NODE_NAMED, 99, -1, -1, 0, 1}, // 98
    {"priority1", 0, BACKEND_NODE_NAMED, -1, 100, 76, 0, 0}, // 99
    {"priority2", 0, BACKEND_NODE_NAMED, -1, 101, 77, 0, 0}, // 100
    {"clock-accuracy", 0, BACKEND_NODE_NAMED, -1, 102, 78, 0, 0}, // 101
    {"oslv", 0, BACKEND_NODE_NAMED, -1, 103, 79, 0, 0}, // 102
    {"clock-class", 0, BACKEND_NODE_NAMED, -1, 104, 80, 0, 0}, // 103
    {"clock-class-mapping-table", 0, BACKEND_NODE_NAMED, 105, -1, -1, 0, 1}, // 104
    {nullptr, 0, BGEN_ARG_UINT, -1, -1, 81, 1, 2}, // 105
    {"verify-checksum", 0, BACKEND_NODE_NAMED, -1, 107, 82, 0, 0}, // 106
    {"transparent-clock", 0, BACKEND_NODE_NAMED, 108, 110, -1, 0, 1}, // 107
    {"domain", 0, BACKEND_NODE_NAMED, 109, -1, -1, 0, 1}, // 108
    {nullptr, 0, BGEN_ARG_STRING, -1, -1, 83, 1, 2}, // 109
    {"apts", 0, BACKEND_NODE_NAMED, -1, -1, 84, 0, 0}, // 110
    {"log", 0, BACKEND_NODE_NAMED, 112, -1, -1, 0, 1}, // 111
    {"pi", 0, BACKEND_NODE_NAMED, 113, -1, -1, 0, 1}, // 112
    {"bmc", 0, BACKEND_NODE_NAMED, 114, -1, -1, 0, 1}, // 113
    {"changes", 0, BACKEND_NODE_NAMED, -1, -1, 85, 0, 0}, // 114
};
// clang-format on

TEST(SardoCfgSchema, KeepsItsNodesAndRows)
{
    std::array<backend_row_td, std::size(want_items)> rows{};
    for (size_t i = 0; i < rows.size(); i++) {
        rows[i] = {.kind = want_items[i].kind,
                   .bg_ident = want_items[i].bg_ident,
                   .verify = want_items[i].verify,
                   .apply_verify_form = want_items[i].apply,
                   .value_form = want_items[i].value_form};
    }
    const backend_schema_td want{nodes, std::size(nodes), rows.data(), rows.size(), 0};
    EXPECT_EQ(backend_schema_differences(*sardo_cfg_schema(), want), "");
}

} // namespace
