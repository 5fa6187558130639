// The per-profile items (ptp/pi/profile/<name>/...): the agents apply them; the controller checks
// each with the shared profile check, counts it among the applied items (a configuration made only
// of profiles keeps the platform clock in use) and says what changed.
#include <arpa/inet.h>

#include <cstring>
#include <string>

#include "ptp_cfg_utils.h"
#include "ptp_strings.h"
#include "quorrin_cfg.h"
#include "quorrin_debug.h"

namespace {

constexpr uint32_t AREA = quorrin_debug_area("config");

// One item as its check sees it, and what the check hands back besides the value.
struct item_type {
    const nodra_notify_event_info_td *event;
    bgen_value_td nv;
    bgen_value_td prev;
    char name[PTP_PROFILE_NAME_MAX + 1];
    bool is_delete;
    bool old_present;
    uint32_t old_value; // a single value's old value, when present

    explicit item_type(const nodra_notify_event_info_td *e)
        : event(e), nv{e->new_data, e->new_length}, prev{e->old_data, e->old_length}, name{}, is_delete(false),
          old_present(e->old_data != nullptr && e->old_length == sizeof(uint32_t)), old_value(0)
    {
        if (old_present) {
            std::memcpy(&old_value, e->old_data, sizeof(uint32_t));
        }
    }
    const bgen_value_td *prev_or_null() const { return prev.data != nullptr ? &prev : nullptr; }
    bool new_present() const { return !is_delete; }
    const char *event_text() const { return ptp_cfg_event_to_str(event->event); }
};

// The check's verdict, then the count: removed on a delete, counted when new (or during the scan).
// False when the item was refused.
bool begin(item_type *item, zerrno rc)
{
    if (rc != 0) {
        // It passed the same check before commit; the controller keeps running without it.
        QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] Ignoring %s of configuration item '%s': %s", item->event_text(),
                          item->event->path != nullptr ? item->event->path : "", zerr_strerror(rc));
        return false;
    }
    if (item->is_delete) {
        quorrin_cfg_remove();
    } else {
        quorrin_cfg_add(item->event->event);
    }
    return true;
}

void finish()
{
    quorrin_cfg_set_any_successful_applies();
}

// The item's trace record, written by the first handler of a batch only.
template <const ptp_trace_point_type &P, typename... A>
void first_trace(A... args)
{
    if (quorrin_cfg_get_any_successful_applies() == 0) {
        ptp_trace<P>({quorrin_det()}, args...);
    }
}

const char *not_set(bool present)
{
    return present ? "" : "(Not Set) ";
}

const char *one_step_text(uint32_t one_step, bool present)
{
    return !present ? "Not Set" : one_step != 0 ? "One-Step" : "Two-Step";
}

// A plain number item: "<what> config %s event: %s%u -> %s%u."
#define QUORRIN_CFG_PROFILE_NUMBER(fn, check, text, point)                                                             \
    void fn(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)                                 \
    {                                                                                                                  \
        item_type item(event);                                                                                         \
        uint32_t value = 0;                                                                                            \
        if (!begin(&item,                                                                                              \
                   check(event->event, &item.nv, nullptr, nullptr, &value, args, item.name, &item.is_delete))) {       \
            return;                                                                                                    \
        }                                                                                                              \
        first_trace<point>(item.name, item.event_text(), not_set(item.old_present), item.old_value,                    \
                           not_set(item.new_present()), item.is_delete ? 0u : value);                                  \
        QUORRIN_DEBUG(AREA, "%s: [Profile %s]: " text " config %s event: %s%u -> %s%u.", item.name, item.event_text(), \
                      not_set(item.old_present), item.old_value, not_set(item.new_present()),                          \
                      item.is_delete ? 0u : value);                                                                    \
        finish();                                                                                                      \
    }

// Interval items: log2 intervals.
#define QUORRIN_CFG_PROFILE_INTERVAL(fn, check, text, point)                                                           \
    void fn(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)                                 \
    {                                                                                                                  \
        item_type item(event);                                                                                         \
        int value = 0, prev = 0;                                                                                       \
        if (!begin(&item, check(event->event, &item.nv, nullptr, nullptr, &value, &prev, item.prev_or_null(), args,    \
                                item.name, &item.is_delete))) {                                                        \
            return;                                                                                                    \
        }                                                                                                              \
        const bool had = item.prev.data != nullptr && (event->event & NODRA_EVENT_CREATE) == 0;                        \
        first_trace<point>(item.name, item.event_text(), not_set(had), had ? prev : 0, not_set(item.new_present()),    \
                           item.is_delete ? 0 : value);                                                                \
        QUORRIN_DEBUG(AREA, "%s: [Profile %s]: " text " config %s event: %s%i -> %s%i.", item.name, item.event_text(), \
                      not_set(had), had ? prev : 0, not_set(item.new_present()), item.is_delete ? 0 : value);          \
        finish();                                                                                                      \
    }

} // namespace

QUORRIN_CFG_PROFILE_NUMBER(quorrin_cfg_notify_encap, ptp_cfg_profile_check_encap, "Encap",
                           PTP_TRACE_QUORRIN_CFG_PROFILE_ENCAP_CONFIG_EVENT)
QUORRIN_CFG_PROFILE_NUMBER(quorrin_cfg_notify_annce_tout, ptp_cfg_profile_check_annce_tout, "Announce timeout",
                           PTP_TRACE_QUORRIN_CFG_PROFILE_ANNOUNCE_TIMEOUT_CONFIG)
QUORRIN_CFG_PROFILE_NUMBER(quorrin_cfg_notify_cos, ptp_cfg_profile_check_cos, "CoS",
                           PTP_TRACE_QUORRIN_CFG_PROFILE_COS_CONFIG_EVENT)
QUORRIN_CFG_PROFILE_NUMBER(quorrin_cfg_notify_dscp, ptp_cfg_profile_check_dscp, "DSCP",
                           PTP_TRACE_QUORRIN_CFG_PROFILE_DSCP_CONFIG_EVENT)
QUORRIN_CFG_PROFILE_INTERVAL(quorrin_cfg_notify_annce_ivl, ptp_cfg_profile_check_annce_ivl, "Announce Interval",
                             PTP_TRACE_QUORRIN_CFG_PROFILE_ANNOUNCE_INTERVAL_CONFIG_316)
QUORRIN_CFG_PROFILE_INTERVAL(quorrin_cfg_notify_sync_ivl, ptp_cfg_profile_check_sync_ivl, "Sync Interval",
                             PTP_TRACE_QUORRIN_CFG_PROFILE_SYNC_INTERVAL_CONFIG_317)
QUORRIN_CFG_PROFILE_INTERVAL(quorrin_cfg_notify_dr_min_ivl, ptp_cfg_profile_check_dr_min_ivl,
                             "Delay-Request Minumum Interval",
                             PTP_TRACE_QUORRIN_CFG_PROFILE_DELAYREQUEST_MINUMUM_INTERVAL)

void quorrin_cfg_notify_clock_operation(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    item_type item(event);
    uint32_t one_step = 0, prev = 0;
    if (!begin(&item, ptp_cfg_profile_check_clock_operation(event->event, &item.nv, nullptr, nullptr, &one_step, &prev,
                                                            item.prev_or_null(), args, item.name, &item.is_delete))) {
        return;
    }
    first_trace<PTP_TRACE_QUORRIN_CFG_PROFILE_CLOCKOPERATION_CONFIG_EVENT>(item.name, item.event_text(),
                                                                           one_step_text(prev, item.old_present),
                                                                           one_step_text(one_step, item.new_present()));
    QUORRIN_DEBUG(AREA, "%s: [Profile %s]: Clock-operation config %s event: %s -> %s.", item.name, item.event_text(),
                  one_step_text(prev, item.old_present), one_step_text(one_step, item.new_present()));
    finish();
}

void quorrin_cfg_notify_multicast(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    item_type item(event);
    uint32_t mode = 0, prev_mode = 0;
    ptp_address_type addr{}, prev_addr{};
    if (!begin(&item,
               ptp_cfg_profile_check_multicast(event->event, &item.nv, nullptr, nullptr, &mode, &addr, &prev_mode,
                                               &prev_addr, item.prev_or_null(), args, item.name, &item.is_delete))) {
        return;
    }
    const bool had = item.prev.data != nullptr;
    // The address texts come from one pool: print each into its own buffer first.
    char old_addr[64] = "", new_addr[64] = "";
    if (had) {
        std::snprintf(old_addr, sizeof old_addr, "%s", ptp_address_to_str(&prev_addr));
    }
    if (item.new_present()) {
        std::snprintf(new_addr, sizeof new_addr, "%s", ptp_address_to_str(&addr));
    }
    const std::string change = std::string(had ? ptp_multicast_to_str(prev_mode) : "(Not Set)") + (had ? " " : "") +
                               old_addr + " -> " + (item.new_present() ? ptp_multicast_to_str(mode) : "(Not Set)") +
                               (item.new_present() ? " " : "") + new_addr;
    first_trace<PTP_TRACE_QUORRIN_CFG_PROFILE_MULTICAST_CONFIG_EVENT>(item.name, item.event_text(), change.c_str());
    QUORRIN_DEBUG(AREA, "%s: [Profile %s]: Multicast config %s event.:  %s%s%s -> %s%s%s. ", item.name,
                  item.event_text(), had ? ptp_multicast_to_str(prev_mode) : "(Not Set)", had ? " " : "", old_addr,
                  item.new_present() ? ptp_multicast_to_str(mode) : "(Not Set)", item.new_present() ? " " : "",
                  new_addr);
    finish();
}

void quorrin_cfg_notify_port_state(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    static const char *const names[] = {"Any", "Slave only", "Master only"};
    auto name_of = [](uint32_t state, bool present) {
        return !present ? "Not Set" : state < 3 ? names[state] : "Unknown";
    };
    item_type item(event);
    uint32_t state = 0;
    if (!begin(&item, ptp_cfg_profile_check_port_state(event->event, &item.nv, nullptr, nullptr, &state, args,
                                                       item.name, &item.is_delete))) {
        return;
    }
    first_trace<PTP_TRACE_QUORRIN_CFG_PROFILE_PORT_STATE_CONFIG_321>(
        item.name, item.event_text(), name_of(item.old_value, item.old_present), name_of(state, item.new_present()));
    QUORRIN_DEBUG(AREA, "%s: [Profile %s]: Port State config %s event: %s -> %s.", item.name, item.event_text(),
                  name_of(item.old_value, item.old_present), name_of(state, item.new_present()));
    finish();
}

void quorrin_cfg_notify_local_priority(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    item_type item(event);
    uint32_t priority = 0;
    if (!begin(&item, ptp_cfg_profile_check_local_priority(event->event, &item.nv, nullptr, nullptr, &priority, args,
                                                           item.name, &item.is_delete))) {
        return;
    }
    first_trace<PTP_TRACE_QUORRIN_CFG_PROFILE_LOCAL_PRIORITY_CONFIG>(
        item.name, item.event_text(), item.old_present ? "" : "Not Set ", static_cast<int64_t>(item.old_value),
        item.new_present() ? "" : "Not Set ", static_cast<int64_t>(item.is_delete ? 0u : priority));
    QUORRIN_DEBUG(AREA, "%s: Local priority config %s event: %s%u -> %s%u.", item.event_text(),
                  item.old_present ? "" : "Not Set ", item.old_value, item.new_present() ? "" : "Not Set ",
                  item.is_delete ? 0u : priority);
    finish();
}

void quorrin_cfg_notify_source_ip(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    item_type item(event);
    ptp_source_ip_data_type source{};
    if (!begin(&item, ptp_cfg_profile_check_source_ip(event->event, &item.nv, nullptr, nullptr, &source, args,
                                                      item.name, &item.is_delete))) {
        return;
    }
    char text[INET_ADDRSTRLEN] = "Not Set";
    if (item.new_present() && source.enable != 0) {
        inet_ntop(AF_INET, source.ip_address, text, sizeof text);
    }
    first_trace<PTP_TRACE_QUORRIN_CFG_PROFILE_SOURCE_IP_CONFIG_323>(
        item.name, item.event_text(), item.prev.data != nullptr ? "Set" : "Not Set", static_cast<const char *>(text));
    QUORRIN_DEBUG(AREA, "%s: [Profile %s]: Source IP address config %s event: %s -> %s.", item.name, item.event_text(),
                  item.prev.data != nullptr ? "Set" : "Not Set", text);
    finish();
}

void quorrin_cfg_notify_source_ipv6(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    item_type item(event);
    ptp_source_ipv6_data_type source{};
    if (!begin(&item, ptp_cfg_profile_check_source_ipv6(event->event, &item.nv, nullptr, nullptr, &source, args,
                                                        item.name, &item.is_delete))) {
        return;
    }
    char text[INET6_ADDRSTRLEN] = "Not Set";
    if (item.new_present() && source.enable != 0) {
        inet_ntop(AF_INET6, source.ip_address, text, sizeof text);
    }
    first_trace<PTP_TRACE_QUORRIN_CFG_PROFILE_SOURCE_IPV6_CONFIG_324>(
        item.name, item.event_text(), item.prev.data != nullptr ? "Set" : "Not Set", static_cast<const char *>(text));
    QUORRIN_DEBUG(AREA, "%s: [Profile %s]: Source IPv6 address config %s event: %s -> %s.", item.name,
                  item.event_text(), item.prev.data != nullptr ? "Set" : "Not Set", text);
    finish();
}

namespace {

void ttl_item(const nodra_notify_event_info_td *event, const bgen_args_td *args, bool ipv6)
{
    item_type item(event);
    uint32_t ttl = 0;
    if (!begin(&item, ptp_cfg_profile_check_ttl(event->event, &item.nv, &ttl, args, item.name, &item.is_delete))) {
        return;
    }
    const char *old_prefix = item.old_present ? "" : "(Not set) ";
    const char *new_prefix = item.new_present() ? "" : "(Not set) ";
    const uint32_t value = item.is_delete ? 0u : ttl;
    if (ipv6) {
        first_trace<PTP_TRACE_QUORRIN_CFG_PROFILE_IPV6_HOP_LIMIT>(item.name, item.event_text(), old_prefix,
                                                                  item.old_value, new_prefix, value);
        QUORRIN_DEBUG(AREA, "%s: [Profile %s]: IPv6 hop limit config %s event: %s%u -> %s%u.", item.name,
                      item.event_text(), old_prefix, item.old_value, new_prefix, value);
    } else {
        first_trace<PTP_TRACE_QUORRIN_CFG_PROFILE_IPV4_TTL_CONFIG>(item.name, item.event_text(), old_prefix,
                                                                   item.old_value, new_prefix, value);
        QUORRIN_DEBUG(AREA, "%s: [Profile %s]: IPv4 TTL config %s event: %s%u -> %s%u.", item.name, item.event_text(),
                      old_prefix, item.old_value, new_prefix, value);
    }
    finish();
}

} // namespace

void quorrin_cfg_notify_ttl(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    ttl_item(event, args, false);
}

void quorrin_cfg_notify_hop_limit(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    ttl_item(event, args, true);
}

void quorrin_cfg_notify_unicast_grant_duration(const nodra_notify_event_info_td *event, void *,
                                               const bgen_args_td *args)
{
    item_type item(event);
    const uint32_t msg_type = args != nullptr ? args->bg_ident : PTP_MSG_SIGNALING;
    uint32_t seconds = 0;
    if (msg_type != PTP_MSG_ANNOUNCE && msg_type != PTP_MSG_SYNC && msg_type != PTP_MSG_DELAY_RESP) {
        begin(&item, PTP_ZERR_INVALID_ARG);
        return;
    }
    if (!begin(&item, ptp_cfg_profile_check_unicast_grant_duration(msg_type, event->event, &item.nv, nullptr, nullptr,
                                                                   &seconds, args, item.name, &item.is_delete))) {
        return;
    }
    first_trace<PTP_TRACE_QUORRIN_CFG_PROFILE_UNICAST_GRANT_DURATION>(
        item.name, ptp_msg_type_to_str(msg_type), item.event_text(), not_set(item.old_present), item.old_value,
        not_set(item.new_present()), item.is_delete ? 0u : seconds);
    QUORRIN_DEBUG(AREA, "%s: [Profile %s]: %s unicast grant duration config %s event: %s%u -> %s%u.", item.name,
                  ptp_msg_type_to_str(msg_type), item.event_text(), not_set(item.old_present), item.old_value,
                  not_set(item.new_present()), item.is_delete ? 0u : seconds);
    finish();
}

void quorrin_cfg_notify_message_timeout(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    item_type item(event);
    const uint32_t msg_type = args != nullptr ? args->bg_ident : PTP_MSG_SIGNALING;
    uint32_t msecs = 0;
    if (msg_type != PTP_MSG_SYNC && msg_type != PTP_MSG_DELAY_RESP) {
        begin(&item, PTP_ZERR_INVALID_ARG);
        return;
    }
    if (!begin(&item, ptp_cfg_profile_check_message_timeout(msg_type, event->event, &item.nv, nullptr, nullptr, &msecs,
                                                            args, item.name, &item.is_delete))) {
        return;
    }
    first_trace<PTP_TRACE_QUORRIN_CFG_PROFILE_MESSAGE_TIMEOUT_CONFIG>(
        item.name, ptp_msg_type_to_str(msg_type), item.event_text(), not_set(item.old_present), item.old_value,
        not_set(item.new_present()), item.is_delete ? 0u : msecs);
    QUORRIN_DEBUG(AREA, "%s: [Profile %s]: %s message timeout config %s event: %s%u -> %s%u.", item.name,
                  ptp_msg_type_to_str(msg_type), item.event_text(), not_set(item.old_present), item.old_value,
                  not_set(item.new_present()), item.is_delete ? 0u : msecs);
    finish();
}

void quorrin_cfg_notify_invalid_grant_deny(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    auto text = [](uint32_t deny, bool present) { return !present ? "Not Set" : deny != 0 ? "Deny" : "Reduce"; };
    item_type item(event);
    uint32_t deny = 0;
    if (!begin(&item, ptp_cfg_profile_check_unicast_grant_invalid_request(event->event, &item.nv, nullptr, nullptr,
                                                                          &deny, args, item.name, &item.is_delete))) {
        return;
    }
    first_trace<PTP_TRACE_QUORRIN_CFG_PROFILE_INVALID_GRANT_DENY>(
        item.name, item.event_text(), text(item.old_value, item.old_present), text(deny, item.new_present()));
    QUORRIN_DEBUG(AREA, "%s: [Profile %s]: Invalid grant deny config %s event: %s -> %s.", item.name, item.event_text(),
                  text(item.old_value, item.old_present), text(deny, item.new_present()));
    finish();
}

void quorrin_cfg_notify_delay_asymmetry(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    item_type item(event);
    ptp_delay_asymmetry_type value = 0, prev = 0;
    if (!begin(&item, ptp_cfg_profile_check_delay_asymmetry(event->event, &item.nv, nullptr, nullptr, &value, &prev,
                                                            item.prev_or_null(), args, item.name, &item.is_delete))) {
        return;
    }
    const bool had = item.prev.data != nullptr && (event->event & NODRA_EVENT_CREATE) == 0;
    char old_text[32] = "(Not Set)";
    if (had) {
        std::snprintf(old_text, sizeof old_text, "%s", ptp_delay_asymmetry_to_str(prev));
    }
    first_trace<PTP_TRACE_QUORRIN_CFG_PROFILE_PERPORT_DELAY_ASYMMETRY>(
        item.name, item.event_text(), static_cast<const char *>(old_text),
        item.new_present() ? ptp_delay_asymmetry_to_str(value) : "(Not Set)");
    QUORRIN_DEBUG(AREA, "%s: [Profile %s]: Per-port delay asymmetry config %s event: %s -> %s.", item.name,
                  item.event_text(), old_text, item.new_present() ? ptp_delay_asymmetry_to_str(value) : "(Not Set)");
    finish();
}

// ---- Master and slave tables -------------------------------------------------------------------------

void quorrin_cfg_notify_master_enable(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    item_type item(event);
    ptp_address_type addr{};
    if (!begin(&item, ptp_cfg_profile_check_master_enable(event->event, &item.nv, nullptr, nullptr, &addr, args,
                                                          item.name, &item.is_delete))) {
        return;
    }
    first_trace<PTP_TRACE_QUORRIN_CFG_PROFILE_MASTER_ENABLE_CONFIG>(item.name, ptp_address_to_str(&addr),
                                                                    item.event_text());
    QUORRIN_DEBUG(AREA, "%s: [Profile %s]: Master %s enable config %s event.", item.name, ptp_address_to_str(&addr),
                  item.event_text());
    finish();
}

namespace {

// The table items with a number: "Master %s <what> config %s event: %s%u -> %s%u."
using master_number_check = zerrno (*)(uint32_t, const bgen_value_td *, uint32_t *, char **, uint32_t *,
                                       ptp_address_type *, const bgen_args_td *, char *, bool *);

template <const ptp_trace_point_type &P>
void master_number(const nodra_notify_event_info_td *event, const bgen_args_td *args, master_number_check check,
                   const char *what)
{
    item_type item(event);
    ptp_address_type addr{};
    uint32_t value = 0;
    if (!begin(&item,
               check(event->event, &item.nv, nullptr, nullptr, &value, &addr, args, item.name, &item.is_delete))) {
        return;
    }
    first_trace<P>(item.name, ptp_address_to_str(&addr), item.event_text(), item.old_present ? "" : "(Not Set)",
                   item.old_value, item.new_present() ? "" : "(Not Set)", item.is_delete ? 0u : value);
    QUORRIN_DEBUG(AREA, "%s: [Profile %s]: Master %s %s config %s event: %s%u -> %s%u.", item.name,
                  ptp_address_to_str(&addr), what, item.event_text(), item.old_present ? "" : "(Not Set)",
                  item.old_value, item.new_present() ? "" : "(Not Set)", item.is_delete ? 0u : value);
    finish();
}

const char *negotiated_text(bool nonnegotiated, bool present)
{
    return !present ? "(Not Set)" : nonnegotiated ? "Non-negotiated" : "Negotiated";
}

} // namespace

void quorrin_cfg_notify_master_priority(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    master_number<PTP_TRACE_QUORRIN_CFG_PROFILE_MASTER_PRIORITY_CONFIG>(
        event, args, ptp_cfg_profile_check_master_priority, "priority");
}

void quorrin_cfg_notify_master_clock_class(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    master_number<PTP_TRACE_QUORRIN_CFG_PROFILE_MASTER_CLOCK_CLASS>(
        event, args, ptp_cfg_profile_check_master_clock_class, "clock class");
}

void quorrin_cfg_notify_master_nonnegotiated(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    item_type item(event);
    ptp_address_type addr{};
    uint32_t flag = 0;
    if (!begin(&item, ptp_cfg_profile_check_master_nonnegotiated(event->event, &item.nv, nullptr, nullptr, &flag, &addr,
                                                                 args, item.name, &item.is_delete))) {
        return;
    }
    first_trace<PTP_TRACE_QUORRIN_CFG_PROFILE_MASTER_NONNEGOTIATED_UNICAST>(
        item.name, ptp_address_to_str(&addr), item.event_text(),
        negotiated_text(true, (event->event & NODRA_EVENT_CREATE) == 0),
        negotiated_text(flag != 0, item.new_present()));
    QUORRIN_DEBUG(AREA, "%s: [Profile %s]: Master %s non-negotiated unicast config %s event: %s -> %s.", item.name,
                  ptp_address_to_str(&addr), item.event_text(),
                  negotiated_text(true, (event->event & NODRA_EVENT_CREATE) == 0),
                  negotiated_text(flag != 0, item.new_present()));
    finish();
}

void quorrin_cfg_notify_master_multicast(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    item_type item(event);
    ptp_address_type addr{};
    uint32_t mode = 0;
    if (!begin(&item, ptp_cfg_profile_check_master_multicast(event->event, &item.nv, nullptr, nullptr, &mode, &addr,
                                                             args, item.name, &item.is_delete))) {
        return;
    }
    first_trace<PTP_TRACE_QUORRIN_CFG_PROFILE_MASTER_MULTICAST_CONFIG>(
        item.name, ptp_address_to_str(&addr), item.event_text(),
        item.old_present ? ptp_transport_to_str(item.old_value) : "(Not Set)",
        item.new_present() ? ptp_transport_to_str(mode) : "(Not Set)");
    QUORRIN_DEBUG(AREA, "%s: [Profile %s]: Master %s multicast config %s event: %s -> %s.", item.name,
                  ptp_address_to_str(&addr), item.event_text(),
                  item.old_present ? ptp_transport_to_str(item.old_value) : "(Not Set)",
                  item.new_present() ? ptp_transport_to_str(mode) : "(Not Set)");
    finish();
}

void quorrin_cfg_notify_master_delay_asymmetry(const nodra_notify_event_info_td *event, void *,
                                               const bgen_args_td *args)
{
    item_type item(event);
    ptp_address_type addr{};
    ptp_delay_asymmetry_type value = 0;
    if (!begin(&item, ptp_cfg_profile_check_master_delay_asymmetry(event->event, &item.nv, nullptr, nullptr, &value,
                                                                   &addr, args, item.name, &item.is_delete))) {
        return;
    }
    char addr_text[64];
    std::snprintf(addr_text, sizeof addr_text, "%s", ptp_address_to_str(&addr));
    first_trace<PTP_TRACE_QUORRIN_CFG_PROFILE_MASTER_DELAY_ASYMMETRY>(
        item.name, static_cast<const char *>(addr_text), item.event_text(),
        (event->event & NODRA_EVENT_CREATE) != 0 ? "(Not Set)" : "Set",
        item.new_present() ? ptp_delay_asymmetry_to_str(value) : "(Not Set)");
    QUORRIN_DEBUG(AREA, "%s: [Profile %s]: Master %s delay asymmetry config %s event: %s -> %s.", item.name, addr_text,
                  item.event_text(), (event->event & NODRA_EVENT_CREATE) != 0 ? "(Not Set)" : "Set",
                  item.new_present() ? ptp_delay_asymmetry_to_str(value) : "(Not Set)");
    finish();
}

void quorrin_cfg_notify_slave_nonnegotiated(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    item_type item(event);
    ptp_address_type addr{};
    uint32_t flag = 0;
    if (!begin(&item, ptp_cfg_profile_check_slave_nonnegotiated(event->event, &item.nv, nullptr, nullptr, &flag, &addr,
                                                                args, item.name, &item.is_delete))) {
        return;
    }
    first_trace<PTP_TRACE_QUORRIN_CFG_PROFILE_SLAVE_NONNEGOTIATED_UNICAST>(
        item.name, ptp_address_to_str(&addr), item.event_text(),
        negotiated_text(true, (event->event & NODRA_EVENT_CREATE) == 0),
        negotiated_text(flag != 0, item.new_present()));
    QUORRIN_DEBUG(AREA, "%s: [Profile %s]: Slave %s non-negotiated unicast config %s event: %s -> %s.", item.name,
                  ptp_address_to_str(&addr), item.event_text(),
                  negotiated_text(true, (event->event & NODRA_EVENT_CREATE) == 0),
                  negotiated_text(flag != 0, item.new_present()));
    finish();
}

// ---- Interoperation ----------------------------------------------------------------------------------

namespace {

// Identifiers 0-5 are ingress items, 6-11 egress; false for any other.
bool interop_direction(const bgen_args_td *args, bool *ingress, uint32_t *index)
{
    const uint32_t ident = args != nullptr ? args->bg_ident : UINT32_MAX;
    if (ident > 11) {
        return false;
    }
    *ingress = ident < 6;
    *index = ident % 6;
    return true;
}

const char *direction_text(bool ingress)
{
    return ingress ? "ingress" : "egress";
}

using interop_check = zerrno (*)(uint32_t, const bgen_value_td *, uint32_t *, char **, uint32_t *, const bgen_args_td *,
                                 char *, bool *);

template <const ptp_trace_point_type &P>
void interop_number(const nodra_notify_event_info_td *event, const bgen_args_td *args, interop_check check,
                    const char *what)
{
    item_type item(event);
    bool ingress = true;
    uint32_t index = 0, value = 0;
    if (!interop_direction(args, &ingress, &index)) {
        begin(&item, PTP_ZERR_INVALID_ARG); // "Unknown config item"
        return;
    }
    if (!begin(&item, check(event->event, &item.nv, nullptr, nullptr, &value, args, item.name, &item.is_delete))) {
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: [Profile %s]: Interop %s %s config %s event: %u", item.name, direction_text(ingress), what,
                  item.event_text(), item.is_delete ? 0u : value);
    first_trace<P>(item.name, direction_text(ingress), item.event_text(), item.is_delete ? 0u : value);
    finish();
}

} // namespace

void quorrin_cfg_notify_interop_profile(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    item_type item(event);
    uint32_t profile = 0;
    if (!begin(&item, ptp_cfg_profile_check_interop_profile(event->event, &item.nv, nullptr, nullptr, &profile, args,
                                                            item.name, &item.is_delete))) {
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: [Profile %s]: Interop profile config %s event: %s", item.name, item.event_text(),
                  item.is_delete ? "Not Set" : ptp_profile_to_str(profile));
    first_trace<PTP_TRACE_QUORRIN_CFG_PROFILE_INTEROP_PROFILE_CONFIG>(
        item.name, item.event_text(), item.is_delete ? "Not Set" : ptp_profile_to_str(profile));
    finish();
}

void quorrin_cfg_notify_interop_domain(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    item_type item(event);
    uint32_t domain = 0;
    if (!begin(&item, ptp_cfg_profile_check_interop_domain(event->event, &item.nv, nullptr, nullptr, &domain, args,
                                                           item.name, &item.is_delete))) {
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: [Profile %s]: Interop domain config %s event: %u", item.name, item.event_text(),
                  item.is_delete ? 0u : domain);
    first_trace<PTP_TRACE_QUORRIN_CFG_PROFILE_INTEROP_DOMAIN_CONFIG>(item.name, item.event_text(),
                                                                     item.is_delete ? 0u : domain);
    finish();
}

void quorrin_cfg_notify_interop_priority(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    item_type item(event);
    bool ingress = true;
    uint32_t index = 0, priority = 0;
    if (!interop_direction(args, &ingress, &index) || index > 1) {
        begin(&item, PTP_ZERR_INVALID_ARG);
        return;
    }
    if (!begin(&item, ptp_cfg_profile_check_interop_priority(event->event, &item.nv, nullptr, nullptr, &priority, args,
                                                             item.name, &item.is_delete))) {
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: [Profile %s]: Interop %s priority%u config %s event: %u", item.name,
                  direction_text(ingress), index + 1, item.event_text(), item.is_delete ? 0u : priority);
    first_trace<PTP_TRACE_QUORRIN_CFG_PROFILE_INTEROP_PRIORITY_CONFIG>(
        item.name, direction_text(ingress), index + 1, item.event_text(), item.is_delete ? 0u : priority);
    finish();
}

void quorrin_cfg_notify_interop_clock_accuracy(const nodra_notify_event_info_td *event, void *,
                                               const bgen_args_td *args)
{
    interop_number<PTP_TRACE_QUORRIN_CFG_PROFILE_INTEROP_CLOCK_ACCURACY>(
        event, args, ptp_cfg_profile_check_interop_clock_accuracy, "clock accuracy");
}

void quorrin_cfg_notify_interop_oslv(const nodra_notify_event_info_td *event, void *, const bgen_args_td *args)
{
    interop_number<PTP_TRACE_QUORRIN_CFG_PROFILE_INTEROP_OSLV_CONFIG>(event, args, ptp_cfg_profile_check_interop_oslv,
                                                                      "OSLV");
}

void quorrin_cfg_notify_interop_clock_class_default(const nodra_notify_event_info_td *event, void *,
                                                    const bgen_args_td *args)
{
    interop_number<PTP_TRACE_QUORRIN_CFG_PROFILE_INTEROP_DEFAULT_CLOCK>(
        event, args, ptp_cfg_profile_check_interop_clock_class_default, "default clock class");
}

void quorrin_cfg_notify_interop_clock_class_mapping(const nodra_notify_event_info_td *event, void *,
                                                    const bgen_args_td *args)
{
    item_type item(event);
    bool ingress = true;
    uint32_t index = 0, from = 0, to = 0;
    if (!interop_direction(args, &ingress, &index)) {
        begin(&item, PTP_ZERR_INVALID_ARG);
        return;
    }
    if (!begin(&item, ptp_cfg_profile_check_interop_clock_class_mapping(event->event, &item.nv, nullptr, nullptr, &from,
                                                                        &to, args, item.name, &item.is_delete))) {
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: [Profile %s]: Interop %s clock class mapping config %s event: %u->%u", item.name,
                  direction_text(ingress), item.event_text(), from, item.is_delete ? 0u : to);
    first_trace<PTP_TRACE_QUORRIN_CFG_PROFILE_INTEROP_CLOCK_CLASS>(item.name, direction_text(ingress),
                                                                   item.event_text(), from, item.is_delete ? 0u : to);
    finish();
}
