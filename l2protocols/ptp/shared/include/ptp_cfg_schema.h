// The configuration items that several processes' schemas share, each declared once: the items of
// a configuration profile (which an interface carries too), its master and slave tables and its
// interoperation items. Paths are below where the items hang (a profile's name,
// PTP_CFG_PROFILE_PREFIX, or an interface's "ptp/pi/"); each declaration gives the value kind, the
// row identifier its handler is told and the value's written form. A process mounts each item
// below its prefix with its own handlers (backend_item_mount).
#pragma once

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
