// The agent's two configuration schemas keep the layout they have always had: every node and every
// handler row, entry by entry, as the agents before the item tables wrote them out by hand.
#include <gtest/gtest.h>

#include <iterator>

#include "nodra_test.h"
#include "ptp_cfg_utils.h"
#include "tessel_cfg.h"
#include "tessel_cfg_gl.h"

namespace {

constexpr uint32_t ROOT = BACKEND_NODE_ROOT;
constexpr uint32_t NAMED = BACKEND_NODE_NAMED;
constexpr uint32_t K_UINT = BGEN_ARG_UINT;
constexpr uint32_t K_STR = BGEN_ARG_STRING;
constexpr uint32_t K_IP = BGEN_ARG_IPADDR;
constexpr uint32_t ANY = BACKEND_VALUE_NONE;
constexpr uint32_t SINGLE = BACKEND_VALUE_SINGLE;
constexpr uint32_t NAME = BACKEND_VALUE_NAME;
constexpr uint32_t TUPLE = BACKEND_VALUE_TUPLE;

// clang-format off
const backend_node_td if_nodes[] = {
    // name, 0, kind, first child, next sibling, row, key, container
    {nullptr, 0, ROOT, 1, -1, -1, 0, 1},                                  // 0
    {"ptp", 0, NAMED, 2, -1, -1, 0, 1},                                   // 1
    {"pi", 0, NAMED, 3, -1, -1, 0, 1},                                    // 2
    {"enable", 0, NAMED, -1, 4, 0, 0, 0},                                 // 3
    {"profile", 0, NAMED, -1, 5, 1, 0, 0},                                // 4
    {"transport", 0, NAMED, -1, 6, 2, 0, 0},                              // 5
    {"clock-operation", 0, NAMED, -1, 7, 3, 0, 0},                        // 6
    {"announce-interval", 0, NAMED, -1, 8, 4, 0, 0},                      // 7
    {"sync-interval", 0, NAMED, -1, 9, 5, 0, 0},                          // 8
    {"announce-timeout", 0, NAMED, -1, 10, 6, 0, 0},                      // 9
    {"delay-request-minimum-interval", 0, NAMED, -1, 11, 7, 0, 0},        // 10
    {"multicast", 0, NAMED, -1, 12, 8, 0, 0},                             // 11
    {"port-state", 0, NAMED, -1, 13, 9, 0, 0},                            // 12
    {"source-ipv4-address", 0, NAMED, -1, 14, 10, 0, 0},                  // 13
    {"source-ipv6-address", 0, NAMED, -1, 15, 11, 0, 0},                  // 14
    {"cos", 0, NAMED, -1, 16, 12, 0, 0},                                  // 15
    {"general-cos", 0, NAMED, -1, 17, 13, 0, 0},                          // 16
    {"event-cos", 0, NAMED, -1, 18, 14, 0, 0},                            // 17
    {"dscp", 0, NAMED, -1, 19, 15, 0, 0},                                 // 18
    {"general-dscp", 0, NAMED, -1, 20, 16, 0, 0},                         // 19
    {"event-dscp", 0, NAMED, -1, 21, 17, 0, 0},                           // 20
    {"ipv4-ttl", 0, NAMED, -1, 22, 18, 0, 0},                             // 21
    {"ipv6-hop-limit", 0, NAMED, -1, 23, 19, 0, 0},                       // 22
    {"announce-grant-duration", 0, NAMED, -1, 24, 20, 0, 0},              // 23
    {"sync-grant-duration", 0, NAMED, -1, 25, 21, 0, 0},                  // 24
    {"delay-response-grant-duration", 0, NAMED, -1, 26, 22, 0, 0},        // 25
    {"sync-timeout", 0, NAMED, -1, 27, 23, 0, 0},                         // 26
    {"delay-response-timeout", 0, NAMED, -1, 28, 24, 0, 0},               // 27
    {"unicast-grant-invalid-request", 0, NAMED, -1, 29, 25, 0, 0},        // 28
    {"local-priority", 0, NAMED, -1, 30, 26, 0, 0},                       // 29
    {"delay-asymmetry", 0, NAMED, -1, 31, 27, 0, 0},                      // 30
    {"master-table", 0, NAMED, 32, 41, -1, 0, 1},                         // 31
    {nullptr, 0, K_UINT, 33, -1, -1, 1, 2},                               // 32 address kind
    {nullptr, 0, K_STR, 34, -1, -1, 1, 2},                                // 33 MAC text
    {nullptr, 0, K_IP, 35, -1, -1, 1, 1},                                 // 34 IP address
    {"enable", 0, NAMED, -1, 36, 28, 0, 0},                               // 35
    {"priority", 0, NAMED, -1, 37, 29, 0, 0},                             // 36
    {"multicast", 0, NAMED, -1, 38, 30, 0, 0},                            // 37
    {"clock-class", 0, NAMED, -1, 39, 31, 0, 0},                          // 38
    {"delay-asymmetry", 0, NAMED, -1, 40, 32, 0, 0},                      // 39
    {"non-negotiated", 0, NAMED, -1, -1, 33, 0, 0},                       // 40
    {"slave-table", 0, NAMED, 42, 46, -1, 0, 1},                          // 41
    {nullptr, 0, K_UINT, 43, -1, -1, 1, 2},                               // 42
    {nullptr, 0, K_STR, 44, -1, -1, 1, 2},                                // 43
    {nullptr, 0, K_IP, 45, -1, -1, 1, 1},                                 // 44
    {"non-negotiated", 0, NAMED, -1, -1, 34, 0, 0},                       // 45
    {"interop", 0, NAMED, 47, -1, -1, 0, 1},                              // 46
    {"ord_1", 0, NAMED, 48, 49, -1, 0, 1},                                // 47
    {"profile", 0, NAMED, -1, -1, 35, 0, 0},                              // 48
    {"ord_2", 0, NAMED, 50, 51, -1, 0, 1},                                // 49
    {"domain", 0, NAMED, -1, -1, 36, 0, 0},                               // 50
    {"ord_3", 0, NAMED, 52, -1, -1, 0, 1},                                // 51
    {"ingress", 0, NAMED, 53, 60, -1, 0, 1},                              // 52
    {"priority1", 0, NAMED, -1, 54, 37, 0, 0},                            // 53
    {"priority2", 0, NAMED, -1, 55, 38, 0, 0},                            // 54
    {"clock-accuracy", 0, NAMED, -1, 56, 39, 0, 0},                       // 55
    {"oslv", 0, NAMED, -1, 57, 40, 0, 0},                                 // 56
    {"clock-class", 0, NAMED, -1, 58, 41, 0, 0},                          // 57
    {"clock-class-mapping-table", 0, NAMED, 59, -1, -1, 0, 1},            // 58
    {nullptr, 0, K_UINT, -1, -1, 42, 1, 1},                               // 59 class to map
    {"egress", 0, NAMED, 61, -1, -1, 0, 1},                               // 60
    {"priority1", 0, NAMED, -1, 62, 43, 0, 0},                            // 61
    {"priority2", 0, NAMED, -1, 63, 44, 0, 0},                            // 62
    {"clock-accuracy", 0, NAMED, -1, 64, 45, 0, 0},                       // 63
    {"oslv", 0, NAMED, -1, 65, 46, 0, 0},                                 // 64
    {"clock-class", 0, NAMED, -1, 66, 47, 0, 0},                          // 65
    {"clock-class-mapping-table", 0, NAMED, 67, -1, -1, 0, 1},            // 66
    {nullptr, 0, K_UINT, -1, -1, 48, 1, 1},                               // 67
};

#define ROW_(k, arg, item)                                                                                      \
    {.kind = k, .bg_ident = arg, .verify = tessel_cfg_if_verify_##item, .apply = tessel_cfg_if_apply_##item}
#define ROWF_(k, arg, item, form)                                                                               \
    {.kind = k, .bg_ident = arg, .verify = tessel_cfg_if_verify_##item, .apply = tessel_cfg_if_apply_##item,    \
     .value_form = form}
const backend_row_td if_rows[] = {
    ROW_(SINGLE, 0, enable),                          // 0
    ROW_(NAME, 0, profile),                           // 1
    ROW_(SINGLE, 0, transport),                       // 2
    ROW_(SINGLE, 0, clock_operation),                 // 3
    ROWF_(TUPLE, 0, annce_ivl, PTP_CFG_FORM_INTERVAL), // 4
    ROWF_(TUPLE, 0, sync_ivl, PTP_CFG_FORM_INTERVAL), // 5
    ROW_(SINGLE, 0, annce_tout),                      // 6
    ROWF_(TUPLE, 0, dr_min_ivl, PTP_CFG_FORM_INTERVAL), // 7
    ROWF_(TUPLE, 0, multicast, PTP_CFG_FORM_MULTICAST), // 8
    ROW_(SINGLE, 0, port_state),                      // 9
    ROWF_(TUPLE, 0, source_ip, PTP_CFG_FORM_SOURCE_IP), // 10
    ROWF_(TUPLE, 0, source_ipv6, PTP_CFG_FORM_SOURCE_IP), // 11
    ROW_(SINGLE, 0, cos),                             // 12
    ROW_(SINGLE, 1, cos),                             // 13
    ROW_(SINGLE, 2, cos),                             // 14
    ROW_(SINGLE, 0, dscp),                            // 15
    ROW_(SINGLE, 1, dscp),                            // 16
    ROW_(SINGLE, 2, dscp),                            // 17
    ROW_(SINGLE, 0, ipv4_ttl),                        // 18
    ROW_(SINGLE, 0, ipv6_hop_limit),                  // 19
    ROW_(SINGLE, 0xB, unicast_grant_duration),        // 20
    ROW_(SINGLE, 0x0, unicast_grant_duration),        // 21
    ROW_(SINGLE, 0x9, unicast_grant_duration),        // 22
    ROW_(SINGLE, 0x0, message_timeout),               // 23
    ROW_(SINGLE, 0x9, message_timeout),               // 24
    ROW_(SINGLE, 0, unicast_grant_invalid_request),   // 25
    ROW_(SINGLE, 0, local_priority),                  // 26
    ROWF_(TUPLE, 0, delay_asymmetry, PTP_CFG_FORM_DELAY_ASYMMETRY), // 27
    ROW_(SINGLE, 0, master_enable),                   // 28
    ROW_(SINGLE, 0, master_priority),                 // 29
    ROW_(SINGLE, 0, master_multicast),                 // 30
    ROW_(SINGLE, 0, master_clock_class),              // 31
    ROWF_(TUPLE, 0, master_delay_asymmetry, PTP_CFG_FORM_DELAY_ASYMMETRY), // 32
    ROW_(SINGLE, 0, master_nonnegotiated),            // 33
    ROW_(SINGLE, 0, slave_nonnegotiated),             // 34
    ROW_(SINGLE, 0, interop_profile),                 // 35
    ROW_(SINGLE, 0, interop_domain),                  // 36
    ROW_(SINGLE, 0, interop_priority),                // 37
    ROW_(SINGLE, 1, interop_priority),                // 38
    ROW_(SINGLE, 2, interop_clock_accuracy),          // 39
    ROW_(SINGLE, 3, interop_oslv),                    // 40
    ROW_(SINGLE, 4, interop_clock_class_default),     // 41
    ROW_(SINGLE, 5, interop_clock_class_mapping),     // 42
    ROW_(SINGLE, 6, interop_priority),                // 43
    ROW_(SINGLE, 7, interop_priority),                // 44
    ROW_(SINGLE, 8, interop_clock_accuracy),          // 45
    ROW_(SINGLE, 9, interop_oslv),                    // 46
    ROW_(SINGLE, 10, interop_clock_class_default),    // 47
    ROW_(SINGLE, 11, interop_clock_class_mapping),    // 48
};
#undef ROW_
#undef ROWF_

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

TEST(TesselCfgSchema, TheInterfaceSchemaKeepsItsNodesAndRows)
{
    const backend_schema_td want{if_nodes, std::size(if_nodes), if_rows, std::size(if_rows),
                                 BACKEND_SCHEMA_NAME_PREFIX};
    EXPECT_EQ(backend_schema_differences(tessel_cfg_if_schema, want), "");
}

TEST(TesselCfgSchema, TheGlobalSchemaKeepsItsNodesAndRows)
{
    const backend_schema_td want{gl_nodes, std::size(gl_nodes), gl_rows, std::size(gl_rows), 0};
    EXPECT_EQ(backend_schema_differences(tessel_cfg_gl_schema, want), "");
}

} // namespace
