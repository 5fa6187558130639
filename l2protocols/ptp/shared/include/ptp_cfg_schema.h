// The configuration items that several processes' schemas share, each declared once: the items of
// a configuration profile (which an interface carries too), its master and slave tables and its
// interoperation items. Paths are below where the items hang (a profile's name,
// PTP_CFG_PROFILE_PREFIX, or an interface's "ptp/pi/"); each declaration gives the value kind, the
// row identifier its handler is told and the value's written form. A process mounts each item
// below its prefix with its own handlers (backend_item_mount).
#pragma once

#include <array>

#include "nodra_schema.h"
#include "ptp_cfg_utils.h"
#include "ptp_types.h"

// Where a profile's items hang below "/cfg/gl/".
inline constexpr const char *PTP_CFG_PROFILE_PREFIX = "ptp/pi/profile/<s>/";

namespace ptp_cfg_schema_detail {

constexpr backend_item_td single(const char *path, uint32_t bg_ident = 0)
{
    return backend_item_td{path, backend_row_td{.kind = BACKEND_VALUE_SINGLE, .bg_ident = bg_ident}};
}
constexpr backend_item_td tuple(const char *path, const char *form)
{
    return backend_item_td{path, backend_row_td{.kind = BACKEND_VALUE_TUPLE, .value_form = form}};
}
constexpr backend_item_td any(const char *path)
{
    return backend_item_td{path, backend_row_td{.kind = BACKEND_VALUE_NONE}};
}

} // namespace ptp_cfg_schema_detail

// clang-format off
#define PTP_CFG_ITEM_ inline constexpr backend_item_td
#define PTP_CFG_MASTER_ "master-table/<u>/<s>/<ip>/"
#define PTP_CFG_SLAVE_ "slave-table/<u>/<s>/<ip>/"
#define PTP_CFG_INGRESS_ "interop/ord_3/ingress/"
#define PTP_CFG_EGRESS_ "interop/ord_3/egress/"
#define PTP_CFG_D_ ptp_cfg_schema_detail::

// The profile's own items. The row identifier tells a handler that serves several of them which:
// the class of CoS and DSCP (0 both, 1 general, 2 event), the message of a grant or timeout.
PTP_CFG_ITEM_ PTP_CFG_PRF_AZA = PTP_CFG_D_ any("aza");
PTP_CFG_ITEM_ PTP_CFG_PRF_TRANSPORT = PTP_CFG_D_ single("transport");
PTP_CFG_ITEM_ PTP_CFG_PRF_CLOCK_OPERATION = PTP_CFG_D_ single("clock-operation");
PTP_CFG_ITEM_ PTP_CFG_PRF_ANNOUNCE_INTERVAL = PTP_CFG_D_ tuple("announce-interval", PTP_CFG_FORM_INTERVAL);
PTP_CFG_ITEM_ PTP_CFG_PRF_SYNC_INTERVAL = PTP_CFG_D_ tuple("sync-interval", PTP_CFG_FORM_INTERVAL);
PTP_CFG_ITEM_ PTP_CFG_PRF_ANNOUNCE_TIMEOUT = PTP_CFG_D_ single("announce-timeout");
PTP_CFG_ITEM_ PTP_CFG_PRF_DELAY_REQ_INTERVAL = PTP_CFG_D_ tuple("delay-request-minimum-interval", PTP_CFG_FORM_INTERVAL);
PTP_CFG_ITEM_ PTP_CFG_PRF_MULTICAST = PTP_CFG_D_ tuple("multicast", PTP_CFG_FORM_MULTICAST);
PTP_CFG_ITEM_ PTP_CFG_PRF_PORT_STATE = PTP_CFG_D_ single("port-state");
PTP_CFG_ITEM_ PTP_CFG_PRF_SOURCE_IPV4 = PTP_CFG_D_ tuple("source-ipv4-address", PTP_CFG_FORM_SOURCE_IP);
PTP_CFG_ITEM_ PTP_CFG_PRF_SOURCE_IPV6 = PTP_CFG_D_ tuple("source-ipv6-address", PTP_CFG_FORM_SOURCE_IP);
PTP_CFG_ITEM_ PTP_CFG_PRF_COS = PTP_CFG_D_ single("cos");
PTP_CFG_ITEM_ PTP_CFG_PRF_GENERAL_COS = PTP_CFG_D_ single("general-cos", 1);
PTP_CFG_ITEM_ PTP_CFG_PRF_EVENT_COS = PTP_CFG_D_ single("event-cos", 2);
PTP_CFG_ITEM_ PTP_CFG_PRF_DSCP = PTP_CFG_D_ single("dscp");
PTP_CFG_ITEM_ PTP_CFG_PRF_GENERAL_DSCP = PTP_CFG_D_ single("general-dscp", 1);
PTP_CFG_ITEM_ PTP_CFG_PRF_EVENT_DSCP = PTP_CFG_D_ single("event-dscp", 2);
PTP_CFG_ITEM_ PTP_CFG_PRF_IPV4_TTL = PTP_CFG_D_ single("ipv4-ttl");
PTP_CFG_ITEM_ PTP_CFG_PRF_IPV6_HOP_LIMIT = PTP_CFG_D_ single("ipv6-hop-limit");
PTP_CFG_ITEM_ PTP_CFG_PRF_ANNOUNCE_GRANT = PTP_CFG_D_ single("announce-grant-duration", PTP_MSG_ANNOUNCE);
PTP_CFG_ITEM_ PTP_CFG_PRF_SYNC_GRANT = PTP_CFG_D_ single("sync-grant-duration", PTP_MSG_SYNC);
PTP_CFG_ITEM_ PTP_CFG_PRF_DELAY_RESP_GRANT = PTP_CFG_D_ single("delay-response-grant-duration", PTP_MSG_DELAY_RESP);
PTP_CFG_ITEM_ PTP_CFG_PRF_SYNC_TIMEOUT = PTP_CFG_D_ single("sync-timeout", PTP_MSG_SYNC);
PTP_CFG_ITEM_ PTP_CFG_PRF_DELAY_RESP_TIMEOUT = PTP_CFG_D_ single("delay-response-timeout", PTP_MSG_DELAY_RESP);
PTP_CFG_ITEM_ PTP_CFG_PRF_INVALID_GRANT = PTP_CFG_D_ single("unicast-grant-invalid-request");
PTP_CFG_ITEM_ PTP_CFG_PRF_LOCAL_PRIORITY = PTP_CFG_D_ single("local-priority");
PTP_CFG_ITEM_ PTP_CFG_PRF_DELAY_ASYMMETRY = PTP_CFG_D_ tuple("delay-asymmetry", PTP_CFG_FORM_DELAY_ASYMMETRY);

// The master table, keyed by address kind, MAC text and IP address.
PTP_CFG_ITEM_ PTP_CFG_MASTER_ENABLE = PTP_CFG_D_ any(PTP_CFG_MASTER_ "enable");
PTP_CFG_ITEM_ PTP_CFG_MASTER_PRIORITY = PTP_CFG_D_ single(PTP_CFG_MASTER_ "priority");
PTP_CFG_ITEM_ PTP_CFG_MASTER_MULTICAST = PTP_CFG_D_ single(PTP_CFG_MASTER_ "multicast");
PTP_CFG_ITEM_ PTP_CFG_MASTER_CLOCK_CLASS = PTP_CFG_D_ single(PTP_CFG_MASTER_ "clock-class");
PTP_CFG_ITEM_ PTP_CFG_MASTER_DELAY_ASYMMETRY = PTP_CFG_D_ tuple(PTP_CFG_MASTER_ "delay-asymmetry", PTP_CFG_FORM_DELAY_ASYMMETRY);
PTP_CFG_ITEM_ PTP_CFG_MASTER_NONNEGOTIATED = PTP_CFG_D_ any(PTP_CFG_MASTER_ "non-negotiated");
// The slave table, keyed the same way.
PTP_CFG_ITEM_ PTP_CFG_SLAVE_NONNEGOTIATED = PTP_CFG_D_ any(PTP_CFG_SLAVE_ "non-negotiated");

// The interoperation items; the identifier numbers them, ingress 0 to 5 and egress 6 to 11.
PTP_CFG_ITEM_ PTP_CFG_INTEROP_PROFILE = PTP_CFG_D_ single("interop/ord_1/profile");
PTP_CFG_ITEM_ PTP_CFG_INTEROP_DOMAIN = PTP_CFG_D_ single("interop/ord_2/domain");
PTP_CFG_ITEM_ PTP_CFG_INGRESS_PRIORITY1 = PTP_CFG_D_ single(PTP_CFG_INGRESS_ "priority1");
PTP_CFG_ITEM_ PTP_CFG_INGRESS_PRIORITY2 = PTP_CFG_D_ single(PTP_CFG_INGRESS_ "priority2", 1);
PTP_CFG_ITEM_ PTP_CFG_INGRESS_CLOCK_ACCURACY = PTP_CFG_D_ single(PTP_CFG_INGRESS_ "clock-accuracy", 2);
PTP_CFG_ITEM_ PTP_CFG_INGRESS_OSLV = PTP_CFG_D_ single(PTP_CFG_INGRESS_ "oslv", 3);
PTP_CFG_ITEM_ PTP_CFG_INGRESS_CLOCK_CLASS = PTP_CFG_D_ single(PTP_CFG_INGRESS_ "clock-class", 4);
PTP_CFG_ITEM_ PTP_CFG_INGRESS_CLOCK_CLASS_MAPPING = PTP_CFG_D_ single(PTP_CFG_INGRESS_ "clock-class-mapping-table/<u>", 5);
PTP_CFG_ITEM_ PTP_CFG_EGRESS_PRIORITY1 = PTP_CFG_D_ single(PTP_CFG_EGRESS_ "priority1", 6);
PTP_CFG_ITEM_ PTP_CFG_EGRESS_PRIORITY2 = PTP_CFG_D_ single(PTP_CFG_EGRESS_ "priority2", 7);
PTP_CFG_ITEM_ PTP_CFG_EGRESS_CLOCK_ACCURACY = PTP_CFG_D_ single(PTP_CFG_EGRESS_ "clock-accuracy", 8);
PTP_CFG_ITEM_ PTP_CFG_EGRESS_OSLV = PTP_CFG_D_ single(PTP_CFG_EGRESS_ "oslv", 9);
PTP_CFG_ITEM_ PTP_CFG_EGRESS_CLOCK_CLASS = PTP_CFG_D_ single(PTP_CFG_EGRESS_ "clock-class", 10);
PTP_CFG_ITEM_ PTP_CFG_EGRESS_CLOCK_CLASS_MAPPING = PTP_CFG_D_ single(PTP_CFG_EGRESS_ "clock-class-mapping-table/<u>", 11);

#undef PTP_CFG_ITEM_
#undef PTP_CFG_D_
#undef PTP_CFG_MASTER_
#undef PTP_CFG_SLAVE_
#undef PTP_CFG_INGRESS_
#undef PTP_CFG_EGRESS_
// clang-format on

// A schema's handlers for the profile's own items: one serves the three classes of CoS and of
// DSCP, and the messages of the grant durations and of the timeouts, which the identifier tells
// apart.
struct ptp_cfg_profile_rows_td {
    backend_row_td transport, clock_operation, annce_ivl, sync_ivl, annce_tout, dr_min_ivl, multicast, port_state,
        source_ip, source_ipv6, cos, dscp, ipv4_ttl, ipv6_hop_limit, unicast_grant_duration, message_timeout,
        unicast_grant_invalid_request, local_priority, delay_asymmetry;
};
// The profile's own items below prefix, in their order; notify: rows that only notify (no written
// form).
constexpr std::array<backend_item_td, 26> ptp_cfg_profile_items(const char *prefix, const ptp_cfg_profile_rows_td &rows,
                                                                bool notify)
{
    const auto mount = [&](const backend_item_td &item, const backend_row_td &row) {
        return notify ? backend_item_mount_notify(prefix, item, row.notify) : backend_item_mount(prefix, item, row);
    };
    return {mount(PTP_CFG_PRF_TRANSPORT, rows.transport),
            mount(PTP_CFG_PRF_CLOCK_OPERATION, rows.clock_operation),
            mount(PTP_CFG_PRF_ANNOUNCE_INTERVAL, rows.annce_ivl),
            mount(PTP_CFG_PRF_SYNC_INTERVAL, rows.sync_ivl),
            mount(PTP_CFG_PRF_ANNOUNCE_TIMEOUT, rows.annce_tout),
            mount(PTP_CFG_PRF_DELAY_REQ_INTERVAL, rows.dr_min_ivl),
            mount(PTP_CFG_PRF_MULTICAST, rows.multicast),
            mount(PTP_CFG_PRF_PORT_STATE, rows.port_state),
            mount(PTP_CFG_PRF_SOURCE_IPV4, rows.source_ip),
            mount(PTP_CFG_PRF_SOURCE_IPV6, rows.source_ipv6),
            mount(PTP_CFG_PRF_COS, rows.cos),
            mount(PTP_CFG_PRF_GENERAL_COS, rows.cos),
            mount(PTP_CFG_PRF_EVENT_COS, rows.cos),
            mount(PTP_CFG_PRF_DSCP, rows.dscp),
            mount(PTP_CFG_PRF_GENERAL_DSCP, rows.dscp),
            mount(PTP_CFG_PRF_EVENT_DSCP, rows.dscp),
            mount(PTP_CFG_PRF_IPV4_TTL, rows.ipv4_ttl),
            mount(PTP_CFG_PRF_IPV6_HOP_LIMIT, rows.ipv6_hop_limit),
            mount(PTP_CFG_PRF_ANNOUNCE_GRANT, rows.unicast_grant_duration),
            mount(PTP_CFG_PRF_SYNC_GRANT, rows.unicast_grant_duration),
            mount(PTP_CFG_PRF_DELAY_RESP_GRANT, rows.unicast_grant_duration),
            mount(PTP_CFG_PRF_SYNC_TIMEOUT, rows.message_timeout),
            mount(PTP_CFG_PRF_DELAY_RESP_TIMEOUT, rows.message_timeout),
            mount(PTP_CFG_PRF_INVALID_GRANT, rows.unicast_grant_invalid_request),
            mount(PTP_CFG_PRF_LOCAL_PRIORITY, rows.local_priority),
            mount(PTP_CFG_PRF_DELAY_ASYMMETRY, rows.delay_asymmetry)};
}

// A schema's handlers for the master and slave tables, one row per item.
struct ptp_cfg_table_rows_td {
    backend_row_td master_enable, master_priority, master_multicast, master_clock_class, master_delay_asymmetry,
        master_nonnegotiated, slave_nonnegotiated;
};
// The tables' items below prefix, in their order; notify: rows that only notify (no written form).
constexpr std::array<backend_item_td, 7> ptp_cfg_table_items(const char *prefix, const ptp_cfg_table_rows_td &rows,
                                                             bool notify)
{
    const auto mount = [&](const backend_item_td &item, const backend_row_td &row) {
        return notify ? backend_item_mount_notify(prefix, item, row.notify) : backend_item_mount(prefix, item, row);
    };
    return {mount(PTP_CFG_MASTER_ENABLE, rows.master_enable),
            mount(PTP_CFG_MASTER_PRIORITY, rows.master_priority),
            mount(PTP_CFG_MASTER_MULTICAST, rows.master_multicast),
            mount(PTP_CFG_MASTER_CLOCK_CLASS, rows.master_clock_class),
            mount(PTP_CFG_MASTER_DELAY_ASYMMETRY, rows.master_delay_asymmetry),
            mount(PTP_CFG_MASTER_NONNEGOTIATED, rows.master_nonnegotiated),
            mount(PTP_CFG_SLAVE_NONNEGOTIATED, rows.slave_nonnegotiated)};
}

// A schema's handlers for the interoperation items: one serves the ingress and the egress item of
// its kind, which the identifier tells apart.
struct ptp_cfg_interop_rows_td {
    backend_row_td profile, domain, priority, clock_accuracy, oslv, clock_class_default, clock_class_mapping;
};
// The interoperation items below prefix, in their order (none has a written form).
constexpr std::array<backend_item_td, 14> ptp_cfg_interop_items(const char *prefix, const ptp_cfg_interop_rows_td &rows)
{
    const auto mount = [&](const backend_item_td &item, const backend_row_td &row) {
        return backend_item_mount(prefix, item, row);
    };
    return {mount(PTP_CFG_INTEROP_PROFILE, rows.profile),
            mount(PTP_CFG_INTEROP_DOMAIN, rows.domain),
            mount(PTP_CFG_INGRESS_PRIORITY1, rows.priority),
            mount(PTP_CFG_INGRESS_PRIORITY2, rows.priority),
            mount(PTP_CFG_INGRESS_CLOCK_ACCURACY, rows.clock_accuracy),
            mount(PTP_CFG_INGRESS_OSLV, rows.oslv),
            mount(PTP_CFG_INGRESS_CLOCK_CLASS, rows.clock_class_default),
            mount(PTP_CFG_INGRESS_CLOCK_CLASS_MAPPING, rows.clock_class_mapping),
            mount(PTP_CFG_EGRESS_PRIORITY1, rows.priority),
            mount(PTP_CFG_EGRESS_PRIORITY2, rows.priority),
            mount(PTP_CFG_EGRESS_CLOCK_ACCURACY, rows.clock_accuracy),
            mount(PTP_CFG_EGRESS_OSLV, rows.oslv),
            mount(PTP_CFG_EGRESS_CLOCK_CLASS, rows.clock_class_default),
            mount(PTP_CFG_EGRESS_CLOCK_CLASS_MAPPING, rows.clock_class_mapping)};
}
