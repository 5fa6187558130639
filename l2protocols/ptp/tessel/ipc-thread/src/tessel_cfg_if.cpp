// The IPC interface record's configuration: creation with defaults, the merge of the
// interface's own values, its profile's and the defaults into applied_config, and the "enable"
// and "profile" items.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "ptp_alloc.h"
#include "ptp_strings.h"
#include "ptp_syslog.h"
#include "tessel_alloc.h"
#include "tessel_assert.h"
#include "tessel_cfg.h"
#include "tessel_im.h"
#include "tessel_intf_caps.h"
#include "tessel_ipc_db.h"
#include "tessel_ipc_log.h"
#include "tessel_port_mgr.h"
#include "tessel_stats.h"
#include "tessel_thread_ctrl.h"

uint32_t tessel_cfg_if_enable_count;

namespace {

constexpr uint32_t AREA = tessel_debug_area("config");
constexpr uint32_t CLOCK_PROFILE_G8275_1 = 2;

uint32_t bit(uint32_t n)
{
    return 1u << n;
}

// ---- The merge rule ----

// The platform's refusal of a profile value: 0 when it is acceptable, else the code and the
// item's text for the syslog message. lib_text: the verification library's text (malloc'ed)
// when it was the library that refused.
using platform_rule_fn = zerrno (*)(const tessel_ipc_idb_type *idb, const tessel_if_config_type *prf, const char **text,
                                    char **lib_text);

// The trace records of a refusal, to "ptp/tessel/det" and "ptp/tessel/unq": the item's own point
// with the interface handle and the refusing code (lib_text: the library's text, when it refused).
using refusal_trace_fn = void (*)(const tessel_ipc_idb_type *idb, const tessel_if_config_type *prf, zerrno rc,
                                  const char *lib_text);

struct merge_item_type {
    uint32_t bit;
    size_t offset;
    size_t size;
    uint64_t update;
    platform_rule_fn rule; // null: never refused
    bool keep_on_refusal;  // a refused value leaves the applied value as it was
    refusal_trace_fn refusal_trace = nullptr;
};

template <const ptp_trace_point_type &P>
void refused(const tessel_ipc_idb_type *idb, const tessel_if_config_type *, zerrno rc, const char *)
{
    ptp_trace<P>({tessel_ipc_det(), tessel_ipc_unq()}, idb->header.ifhandle, rc);
}

void refused_encap(const tessel_ipc_idb_type *idb, const tessel_if_config_type *prf, zerrno rc, const char *lib_text)
{
    if (lib_text != nullptr) {
        ptp_trace<PTP_TRACE_TESSEL_CFG_PRF_TRANSPORT_REJECTED>({tessel_ipc_det(), tessel_ipc_unq()},
                                                               idb->header.ifhandle, prf->encap, lib_text, rc);
        return;
    }
    ptp_trace<PTP_TRACE_TESSEL_CFG_PRF_TRANSPORT_IGNORED>({tessel_ipc_det(), tessel_ipc_unq()}, idb->header.ifhandle,
                                                          prf->encap, rc);
}

void refused_clock_operation(const tessel_ipc_idb_type *idb, const tessel_if_config_type *prf, zerrno rc, const char *)
{
    ptp_trace<PTP_TRACE_TESSEL_CFG_PRF_CLOCK_OPERATION_IGNORED>(
        {tessel_ipc_det(), tessel_ipc_unq()}, idb->header.ifhandle, prf->clock_operation != 0 ? "one-step" : "two-step",
        rc);
}

zerrno rule_encap(const tessel_ipc_idb_type *idb, const tessel_if_config_type *prf, const char **text, char **lib_text)
{
    if (prf->encap == PTP_ENCAP_ETHERNET && !tessel_intf_caps_supports_ethernet()) {
        *text = "Ethernet transport";
        return PTP_ZERR_CARD_NO_ETHERNET;
    }
    if (prf->encap == PTP_ENCAP_IPV6 && !tessel_intf_caps_supports_ipv6()) {
        *text = "IPv6 transport";
        return PTP_ZERR_CARD_NO_IPV6;
    }
    if (ptp_pd_verify_encap != nullptr) {
        const zerrno rc = ptp_pd_verify_encap(idb->header.ifname, prf->encap, lib_text);
        if (rc != 0) {
            *text = "Encap";
            return rc;
        }
    }
    return 0;
}

zerrno rule_clock_operation(const tessel_ipc_idb_type *, const tessel_if_config_type *prf, const char **text, char **)
{
    if (prf->clock_operation != 0 && !tessel_intf_caps_supports_one_step()) {
        *text = "one-step clock-operation";
        return PTP_ZERR_CFG_CLOCK_OPERATION;
    }
    if (prf->clock_operation == 0 && !tessel_intf_caps_supports_two_step()) {
        *text = "two-step clock-operation";
        return PTP_ZERR_CFG_CLOCK_OPERATION;
    }
    return 0;
}

// A log2 interval of -n seconds is 2^n packets per second.
bool rate_too_fast(int32_t log_interval)
{
    return log_interval < 0 && -log_interval > static_cast<int32_t>(tessel_intf_caps_get_log_max_sync_rate());
}

zerrno rule_annce_ivl(const tessel_ipc_idb_type *, const tessel_if_config_type *prf, const char **text, char **)
{
    *text = "announce interval";
    return rate_too_fast(prf->announce_interval) ? PTP_ZERR_CFG_ANNCE_IVL : 0;
}

zerrno rule_sync_ivl(const tessel_ipc_idb_type *, const tessel_if_config_type *prf, const char **text, char **)
{
    *text = "sync interval";
    return rate_too_fast(prf->sync_interval) ? PTP_ZERR_CFG_SYNC_IVL : 0;
}

zerrno rule_dr_min_ivl(const tessel_ipc_idb_type *, const tessel_if_config_type *prf, const char **text, char **)
{
    *text = "delay request interval";
    return rate_too_fast(prf->delay_req_interval) ? PTP_ZERR_CFG_DR_MIN_IVL : 0;
}

zerrno rule_annce_tout(const tessel_ipc_idb_type *, const tessel_if_config_type *prf, const char **text, char **)
{
    *text = "announce timeout";
    return ptp_announce_timeout_is_ok(prf->announce_timeout) ? 0 : PTP_ZERR_CFG_ANNCE_TOUT;
}

zerrno rule_transport(const tessel_ipc_idb_type *, const tessel_if_config_type *prf, const char **text, char **)
{
    *text = "multicast";
    return prf->transport != PTP_TRANSPORT_UNICAST && !tessel_intf_caps_supports_multicast()
               ? PTP_ZERR_CARD_NO_MULTICAST
               : 0;
}

zerrno rule_port_state(const tessel_ipc_idb_type *idb, const tessel_if_config_type *prf, const char **text, char **)
{
    *text = "port state";
    return prf->port_state == PTP_RESTRICT_PORT_STATE_SLAVE_ONLY
               ? tessel_cfg_if_check_slave_capability(idb->header.ifname)
               : 0;
}

zerrno rule_source_ip(const tessel_ipc_idb_type *, const tessel_if_config_type *prf, const char **text, char **)
{
    *text = "source IP";
    return prf->source_ip.enable != 0 && !tessel_intf_caps_supports_source_ip() ? PTP_ZERR_CARD_NO_SOURCE_IP : 0;
}

zerrno rule_source_ipv6(const tessel_ipc_idb_type *, const tessel_if_config_type *prf, const char **text, char **)
{
    *text = "source IPv6";
    if (prf->source_ipv6.enable == 0) {
        return 0;
    }
    if (!tessel_intf_caps_supports_ipv6()) {
        return PTP_ZERR_CARD_NO_IPV6;
    }
    return tessel_intf_caps_supports_source_ip() ? 0 : PTP_ZERR_CARD_NO_SOURCE_IP;
}

#define FIELD_(f) offsetof(tessel_if_config_type, f), sizeof(tessel_if_config_type::f)

const merge_item_type merge_encap{TESSEL_CFG_BIT_ENCAP, FIELD_(encap), TESSEL_IPC_FLAG_UPDATE_ENCAP,
                                  rule_encap,           false,         refused_encap};
const merge_item_type merge_clock_operation{TESSEL_CFG_BIT_CLOCK_OPERATION,
                                            FIELD_(clock_operation),
                                            TESSEL_IPC_FLAG_UPDATE_CLOCK_OPERATION,
                                            rule_clock_operation,
                                            true,
                                            refused_clock_operation};
const merge_item_type merge_annce_ivl{TESSEL_CFG_BIT_ANNOUNCE_INTERVAL,
                                      FIELD_(announce_interval),
                                      TESSEL_IPC_FLAG_UPDATE_ANNOUNCE_INTERVAL,
                                      rule_annce_ivl,
                                      false,
                                      refused<PTP_TRACE_TESSEL_CFG_PRF_ANNOUNCE_INTERVAL_IGNORED>};
const merge_item_type merge_sync_ivl{TESSEL_CFG_BIT_SYNC_INTERVAL,
                                     FIELD_(sync_interval),
                                     TESSEL_IPC_FLAG_UPDATE_SYNC_INTERVAL,
                                     rule_sync_ivl,
                                     false,
                                     refused<PTP_TRACE_TESSEL_CFG_PRF_SYNC_INTERVAL_IGNORED>};
const merge_item_type merge_annce_tout{TESSEL_CFG_BIT_ANNOUNCE_TIMEOUT,
                                       FIELD_(announce_timeout),
                                       TESSEL_IPC_FLAG_UPDATE_ANNOUNCE_TIMEOUT,
                                       rule_annce_tout,
                                       false,
                                       refused<PTP_TRACE_TESSEL_CFG_PRF_ANNOUNCE_TIMEOUT_IGNORED>};
const merge_item_type merge_dr_min_ivl{TESSEL_CFG_BIT_DELAY_REQ_INTERVAL,
                                       FIELD_(delay_req_interval),
                                       TESSEL_IPC_FLAG_UPDATE_DELAY_RESP_MIN_INTERVAL,
                                       rule_dr_min_ivl,
                                       false,
                                       refused<PTP_TRACE_TESSEL_CFG_PRF_DELAY_REQ_INTERVAL_IGNORED>};
const merge_item_type merge_transport_mode{TESSEL_CFG_BIT_TRANSPORT,
                                           FIELD_(transport),
                                           TESSEL_IPC_FLAG_UPDATE_TRANSPORT,
                                           rule_transport,
                                           false,
                                           refused<PTP_TRACE_TESSEL_CFG_PRF_MULTICAST_IGNORED>};
const merge_item_type merge_port_state{TESSEL_CFG_BIT_PORT_STATE,
                                       FIELD_(port_state),
                                       TESSEL_IPC_FLAG_UPDATE_PORT_STATE,
                                       rule_port_state,
                                       false,
                                       refused<PTP_TRACE_TESSEL_CFG_PRF_PORT_STATE_IGNORED>};
const merge_item_type merge_source_ip{TESSEL_CFG_BIT_SOURCE_IP,
                                      FIELD_(source_ip),
                                      0,
                                      rule_source_ip,
                                      false,
                                      refused<PTP_TRACE_TESSEL_CFG_PRF_SOURCE_IP_IGNORED>};
const merge_item_type merge_source_ipv6{TESSEL_CFG_BIT_SOURCE_IPV6,
                                        FIELD_(source_ipv6),
                                        0,
                                        rule_source_ipv6,
                                        false,
                                        refused<PTP_TRACE_TESSEL_CFG_PRF_SOURCE_IPV6_IGNORED>};

// The items without a platform rule, in the full merge's order.
const merge_item_type merge_plain[] = {
    {TESSEL_CFG_BIT_ANNOUNCE_GRANT_DURATION, FIELD_(announce_grant_duration),
     TESSEL_IPC_FLAG_UPDATE_ANNOUNCE_GRANT_DURATION, nullptr, false},
    {TESSEL_CFG_BIT_SYNC_GRANT_DURATION, FIELD_(sync_grant_duration), TESSEL_IPC_FLAG_UPDATE_SYNC_GRANT_DURATION,
     nullptr, false},
    {TESSEL_CFG_BIT_DELAY_RESP_GRANT_DURATION, FIELD_(delay_resp_grant_duration),
     TESSEL_IPC_FLAG_UPDATE_DELAY_RESP_GRANT_DURATION, nullptr, false},
    {TESSEL_CFG_BIT_SYNC_TIMEOUT, FIELD_(sync_timeout), TESSEL_IPC_FLAG_UPDATE_SYNC_RECEIVE_TIMEOUT, nullptr, false},
    {TESSEL_CFG_BIT_DELAY_RESP_TIMEOUT, FIELD_(delay_resp_timeout), TESSEL_IPC_FLAG_UPDATE_DELAY_RESP_RECEIVE_TIMEOUT,
     nullptr, false},
    {TESSEL_CFG_BIT_DENY_INVALID_GRANTS, FIELD_(deny_invalid_grants), TESSEL_IPC_FLAG_UPDATE_GRANT_REDUCE_DENY, nullptr,
     false},
    {TESSEL_CFG_BIT_LOCAL_PRIORITY, FIELD_(local_priority), TESSEL_IPC_FLAG_UPDATE_LOCAL_PRIORITY, nullptr, false},
    {TESSEL_CFG_BIT_IPV4_TTL, FIELD_(ipv4_ttl), TESSEL_IPC_FLAG_UPDATE_IPV4_TTL, nullptr, false},
    {TESSEL_CFG_BIT_IPV6_HOP_LIMIT, FIELD_(ipv6_hop_limit), TESSEL_IPC_FLAG_UPDATE_IPV6_HOP_LIMIT, nullptr, false},
    {TESSEL_CFG_BIT_DELAY_ASYMMETRY, FIELD_(delay_asymmetry), TESSEL_IPC_FLAG_UPDATE_DELAY_ASYMMETRY, nullptr, false},
};

#undef FIELD_

uint8_t *field_of(tessel_if_config_type *config, size_t offset)
{
    return reinterpret_cast<uint8_t *>(config) + offset;
}

const uint8_t *field_of(const tessel_if_config_type *config, size_t offset)
{
    return reinterpret_cast<const uint8_t *>(config) + offset;
}

bool profile_sets(const tessel_ipc_idb_type *idb, uint32_t n)
{
    return idb->profile_db != nullptr && (idb->profile_db->prf_config_flags & bit(n)) != 0 &&
           (idb->if_config_flags & bit(n)) == 0;
}

void report_refusal(const tessel_ipc_idb_type *idb, const merge_item_type &item, const tessel_if_config_type *prf,
                    const char *text, zerrno rc, char *lib_text)
{
    if (item.refusal_trace != nullptr) {
        item.refusal_trace(idb, prf, rc, lib_text);
    }
    if (lib_text != nullptr) {
        ptp_syslog_prf_cfg_plat_reject(text, idb->header.ifname, lib_text);
        free(lib_text);
        return;
    }
    ptp_syslog_prf_cfg_ignored(text, idb->header.ifname);
}

// Which set of values wins for the item: the profile's when it sets the item, the interface
// does not and the platform accepts it; else the interface's (its value is the default while it
// is not configured). Null: leave the applied value as it is.
const tessel_if_config_type *winning_source(const tessel_ipc_idb_type *idb, const merge_item_type &item,
                                            tessel_if_config_flags_type *source_flags)
{
    if (profile_sets(idb, item.bit)) {
        const tessel_if_config_type *prf = &idb->profile_db->prf_config;
        const char *text = "";
        char *lib_text = nullptr;
        const zerrno refused = item.rule != nullptr ? item.rule(idb, prf, &text, &lib_text) : 0;
        if (refused == 0) {
            *source_flags = idb->profile_db->prf_config_flags;
            return prf;
        }
        report_refusal(idb, item, prf, text, refused, lib_text);
        if (item.keep_on_refusal) {
            return nullptr;
        }
    }
    *source_flags = idb->if_config_flags;
    return &idb->if_config;
}

// Copies the value of the source into applied_config; 1 when it changed. The applied bit always
// names the source, also when its value equals the one applied already.
uint32_t take_value(tessel_ipc_idb_type *idb, const merge_item_type &item, const tessel_if_config_type *source,
                    tessel_if_config_flags_type source_flags)
{
    idb->applied_config_flags = (idb->applied_config_flags & ~bit(item.bit)) | (source_flags & bit(item.bit));
    uint8_t *applied = field_of(&idb->applied_config, item.offset);
    const uint8_t *value = field_of(source, item.offset);
    if (memcmp(applied, value, item.size) == 0) {
        return 0;
    }
    memcpy(applied, value, item.size);
    idb->flags |= item.update;
    return 1;
}

uint32_t merge_item(tessel_ipc_idb_type *idb, const merge_item_type &item, void *old_applied)
{
    if (old_applied != nullptr) {
        memcpy(old_applied, field_of(&idb->applied_config, item.offset), item.size);
    }
    tessel_if_config_flags_type source_flags = 0;
    const tessel_if_config_type *source = winning_source(idb, item, &source_flags);
    return source == nullptr ? 0 : take_value(idb, item, source, source_flags);
}

// ---- CoS and DSCP ----

struct qos_fields_type {
    size_t plain;
    size_t general;
    size_t event;
    uint32_t plain_bit;
    uint32_t general_bit;
    uint32_t event_bit;
    uint64_t update;
};

const qos_fields_type cos_fields{offsetof(tessel_if_config_type, cos),
                                 offsetof(tessel_if_config_type, general_cos),
                                 offsetof(tessel_if_config_type, event_cos),
                                 TESSEL_CFG_BIT_COS,
                                 TESSEL_CFG_BIT_GENERAL_COS,
                                 TESSEL_CFG_BIT_EVENT_COS,
                                 TESSEL_IPC_FLAG_UPDATE_COS};
const qos_fields_type dscp_fields{offsetof(tessel_if_config_type, dscp),
                                  offsetof(tessel_if_config_type, general_dscp),
                                  offsetof(tessel_if_config_type, event_dscp),
                                  TESSEL_CFG_BIT_DSCP,
                                  TESSEL_CFG_BIT_GENERAL_DSCP,
                                  TESSEL_CFG_BIT_EVENT_DSCP,
                                  TESSEL_IPC_FLAG_UPDATE_DSCP};

uint32_t &u32_at(tessel_if_config_type *config, size_t offset)
{
    return *reinterpret_cast<uint32_t *>(field_of(config, offset));
}

void set_applied_bit(tessel_ipc_idb_type *idb, uint32_t n, bool set)
{
    idb->applied_config_flags = set ? (idb->applied_config_flags | bit(n)) : (idb->applied_config_flags & ~bit(n));
}

void qos_change_check(tessel_ipc_idb_type *idb, const qos_fields_type &q, uint32_t update_type, uint32_t *old_applied,
                      uint32_t *changed)
{
    TESSEL_ASSERT(update_type <= 2);
    tessel_if_config_type &applied = idb->applied_config;
    if (old_applied != nullptr) {
        const size_t offsets[] = {q.plain, q.general, q.event};
        *old_applied = u32_at(&applied, offsets[update_type]);
    }
    tessel_if_config_type *prf = idb->profile_db != nullptr ? &idb->profile_db->prf_config : nullptr;
    // The plain value: a change of it alone is not reported.
    if (profile_sets(idb, q.plain_bit)) {
        u32_at(&applied, q.plain) = u32_at(prf, q.plain);
        set_applied_bit(idb, q.plain_bit, true);
    } else {
        u32_at(&applied, q.plain) = u32_at(&idb->if_config, q.plain);
        set_applied_bit(idb, q.plain_bit, (idb->if_config_flags & bit(q.plain_bit)) != 0);
    }
    // General and event: the interface's own, else the profile's, else the plain value.
    for (const auto &[offset, n] : {std::pair{q.general, q.general_bit}, std::pair{q.event, q.event_bit}}) {
        uint32_t value = u32_at(&applied, q.plain);
        bool set = true;
        if ((idb->if_config_flags & bit(n)) != 0) {
            value = u32_at(&idb->if_config, offset);
        } else if (prf != nullptr && (idb->profile_db->prf_config_flags & bit(n)) != 0) {
            value = u32_at(prf, offset);
        } else {
            set = false;
        }
        set_applied_bit(idb, n, set);
        if (u32_at(&applied, offset) != value) {
            u32_at(&applied, offset) = value;
            idb->flags |= q.update;
            *changed = 1;
        }
    }
}

// ---- Records ----

void queue_update_if_enabled(tessel_ipc_idb_type *idb, uint32_t changed)
{
    if (changed != 0 && (idb->flags & TESSEL_IPC_FLAG_ENABLED) != 0) {
        tessel_ipc_if_update_add(idb);
    }
}

void debug_event(const tessel_ipc_idb_type *idb, const char *format, uint32_t event)
{
    TESSEL_IPC_DEBUG_LEVEL(AREA, PTP_DEBUG_LEVEL_INTERNAL, idb->header.ifhandle, format, idb->header.ifname,
                           ptp_cfg_event_to_str(event));
}

bool is_delete_event(const nodra_verify_event_info_td *event)
{
    return (event->event & NODRA_EVENT_DELETE) != 0;
}

zerrno fail_verify(zerrno rc, const char *text, const char *label, char **error_text, nodra_verify_result_td *result)
{
    result->result = NODRA_VERIFY_RESULT_FAIL;
    *error_text = strdup(text);
    if (*error_text == nullptr) {
        ptp_alloc_failure_report(strlen(text) + 1, label);
    }
    return rc;
}

// The enable item's checks; the limit counts the enables verified earlier in the batch.
zerrno enable_check(const nodra_verify_event_info_td *event, const bgen_args_td *args, char *ifname)
{
    zerrno rc = tessel_cfg_if_type_is_supported(args, ifname);
    if (rc == 0 && !tessel_intf_caps_supports_ptp()) {
        rc = PTP_ZERR_CARD_NO_PTP;
    }
    if (!is_delete_event(event) &&
        tessel_cfg_if_enable_count + tessel_cfg_if_enable_pending > TESSEL_CFG_MAX_ENABLED_INTERFACES - 1) {
        rc = PTP_ZERR_MAX_INTERFACES;
    }
    return rc;
}

void remove_profile_entries(tessel_ipc_idb_type *idb, uint32_t *changed)
{
    tessel_prf_db_type *prf = idb->profile_db;
    tessel_cfg_prf_entry_remove_ctx_type ctx{idb, false};
    if (tessel_master_db_count(&idb->if_config.master_table) == 0 &&
        tessel_master_db_count(&prf->prf_config.master_table) > 0) {
        tessel_master_db_walk(tessel_cfg_prf_master_entry_remove_walker, &prf->prf_config.master_table, &ctx);
        if (ctx.changed) {
            idb->flags |= TESSEL_IPC_FLAG_UPDATE_MASTER_TABLE;
            *changed = 1;
        }
    }
    ctx.changed = false;
    if (tessel_slave_db_count(&idb->if_config.slave_table) == 0 &&
        tessel_slave_db_count(&prf->prf_config.slave_table) > 0) {
        tessel_slave_db_walk(tessel_cfg_prf_slave_entry_remove_walker, &prf->prf_config.slave_table, &ctx);
        if (ctx.changed) {
            idb->flags |= TESSEL_IPC_FLAG_UPDATE_SLAVE_TABLE;
            *changed = 1;
        }
    }
}

} // namespace

void tessel_cfg_if_config_defaults(tessel_if_config_type *config)
{
    const bool g8275_1 = tessel_ipc_get_clock_profile(nullptr) == CLOCK_PROFILE_G8275_1;
    config->encap = PTP_ENCAP_IPV4;
    config->announce_interval = g8275_1 ? -3 : 1;
    config->announce_timeout = 3;
    config->sync_interval = g8275_1 ? -4 : 0;
    config->delay_req_interval = g8275_1 ? -4 : 0;
    config->transport = PTP_TRANSPORT_UNICAST;
    config->clock_operation = tessel_cfg_default_clock_operation;
    config->port_state = PTP_RESTRICT_PORT_STATE_ANY;
    config->source_ip = {0, 0xFFFFFFFFu};
    config->source_ipv6 = {};
    config->cos = config->general_cos = config->event_cos = 6;
    config->dscp = config->general_dscp = config->event_dscp = 46;
    config->ipv4_ttl = 255;
    config->ipv6_hop_limit = 255;
    config->delay_asymmetry = 0;
    config->sync_timeout = 5000;
    config->delay_resp_timeout = 5000;
    config->deny_invalid_grants = 0;
    config->announce_grant_duration = config->sync_grant_duration = config->delay_resp_grant_duration = 300;
    config->local_priority = 128;
    config->multicast_address = {};
}

zerrno tessel_cfg_get_create_idb(const char *ifname, tessel_ipc_idb_type **out_idb)
{
    zerrno rc = tessel_ipc_db_get_by_ifname(ifname, out_idb);
    if (rc != PTP_ZERR_DB_NO_ENTRY) {
        return rc;
    }
    tessel_ipc_idb_type *idb = nullptr;
    rc = tessel_ipc_db_create(ifname, &idb);
    if (rc != 0) {
        return rc;
    }
    idb->registered_encap = TESSEL_CFG_REGISTERED_ENCAP_INITIAL;
    tessel_cfg_if_config_defaults(&idb->if_config);
    idb->im_state = TESSEL_CFG_IM_STATE_INITIAL;
    idb->applied_ipv4_addr = 0xFFFFFFFFu;
    idb->ipv4_vrf = 0;
    idb->if_config_flags = 0;
    TESSEL_ASSERT(tessel_master_db_init(&idb->if_config.master_table) == 0);
    TESSEL_ASSERT(tessel_slave_db_init(&idb->if_config.slave_table) == 0);
    TESSEL_ASSERT(tessel_master_db_init(&idb->applied_config.master_table) == 0);
    TESSEL_ASSERT(tessel_slave_db_init(&idb->applied_config.slave_table) == 0);
    tessel_cfg_if_merge_config(idb, 0);
    idb->flags = 0;
    *out_idb = idb;
    return 0;
}

uint32_t tessel_cfg_if_merge_transport(tessel_ipc_idb_type *idb, uint32_t *old_applied)
{
    return merge_item(idb, merge_encap, old_applied);
}

uint32_t tessel_cfg_if_merge_clock_operation(tessel_ipc_idb_type *idb, uint32_t *old_applied)
{
    return merge_item(idb, merge_clock_operation, old_applied);
}

uint32_t tessel_cfg_if_merge_annce_ivl(tessel_ipc_idb_type *idb, int32_t *old_applied)
{
    return merge_item(idb, merge_annce_ivl, old_applied);
}

uint32_t tessel_cfg_if_merge_sync_ivl(tessel_ipc_idb_type *idb, int32_t *old_applied)
{
    return merge_item(idb, merge_sync_ivl, old_applied);
}

uint32_t tessel_cfg_if_merge_annce_tout(tessel_ipc_idb_type *idb, uint32_t *old_applied)
{
    return merge_item(idb, merge_annce_tout, old_applied);
}

uint32_t tessel_cfg_if_merge_dr_min_ivl(tessel_ipc_idb_type *idb, int32_t *old_applied)
{
    return merge_item(idb, merge_dr_min_ivl, old_applied);
}

uint32_t tessel_cfg_if_merge_multicast(tessel_ipc_idb_type *idb, uint32_t *old_applied)
{
    // The transport and its destination address come from one source, decided by the transport.
    if (old_applied != nullptr) {
        *old_applied = idb->applied_config.transport;
    }
    tessel_if_config_flags_type source_flags = 0;
    const tessel_if_config_type *source = winning_source(idb, merge_transport_mode, &source_flags);
    uint32_t changed = take_value(idb, merge_transport_mode, source, source_flags);
    const merge_item_type address{TESSEL_CFG_BIT_MULTICAST_ADDRESS,
                                  offsetof(tessel_if_config_type, multicast_address),
                                  sizeof(ptp_address_type),
                                  TESSEL_IPC_FLAG_UPDATE_TRANSPORT,
                                  nullptr,
                                  false};
    changed |= take_value(idb, address, source, source_flags);
    return changed;
}

uint32_t tessel_cfg_if_merge_port_state(tessel_ipc_idb_type *idb, uint32_t *old_applied)
{
    return merge_item(idb, merge_port_state, old_applied);
}

void tessel_cfg_if_merge_source_ip(tessel_ipc_idb_type *idb, uint32_t *old_applied)
{
    uint8_t old[sizeof(idb->applied_config.source_ip)];
    merge_item(idb, merge_source_ip, old);
    if (old_applied != nullptr) {
        memcpy(old_applied, old + offsetof(decltype(idb->applied_config.source_ip), address), sizeof(uint32_t));
    }
}

void tessel_cfg_if_merge_source_ipv6(tessel_ipc_idb_type *idb, uint8_t *old_applied)
{
    uint8_t old[sizeof(idb->applied_config.source_ipv6)];
    merge_item(idb, merge_source_ipv6, old);
    if (old_applied != nullptr) {
        memcpy(old_applied, old + offsetof(decltype(idb->applied_config.source_ipv6), address), PTP_IPV6_ADDR_LEN);
    }
}

void tessel_cfg_cos_change_check(tessel_ipc_idb_type *idb, uint32_t update_type, uint32_t *old_applied,
                                 uint32_t *changed)
{
    qos_change_check(idb, cos_fields, update_type, old_applied, changed);
}

void tessel_cfg_dscp_change_check(tessel_ipc_idb_type *idb, uint32_t update_type, uint32_t *old_applied,
                                  uint32_t *changed)
{
    qos_change_check(idb, dscp_fields, update_type, old_applied, changed);
}

uint32_t tessel_cfg_if_merge_plain_item(tessel_ipc_idb_type *idb, uint32_t n, uint64_t *old_applied)
{
    for (const merge_item_type &item : merge_plain) {
        if (item.bit == n) {
            uint64_t old = 0;
            const uint32_t changed = merge_item(idb, item, &old);
            if (old_applied != nullptr) {
                // Values of four bytes or less, read as the field's own width.
                uint32_t narrow = 0;
                memcpy(&narrow, &old, sizeof narrow);
                *old_applied = narrow;
            }
            return changed;
        }
    }
    TESSEL_ASSERT(false);
    return 0;
}

void tessel_cfg_if_merge_config(tessel_ipc_idb_type *idb, uint32_t changed)
{
    changed |= tessel_cfg_if_merge_transport(idb, nullptr);
    changed |= tessel_cfg_if_merge_clock_operation(idb, nullptr);
    changed |= tessel_cfg_if_merge_annce_ivl(idb, nullptr);
    changed |= tessel_cfg_if_merge_sync_ivl(idb, nullptr);
    changed |= tessel_cfg_if_merge_annce_tout(idb, nullptr);
    changed |= tessel_cfg_if_merge_dr_min_ivl(idb, nullptr);
    changed |= tessel_cfg_if_merge_multicast(idb, nullptr);
    changed |= tessel_cfg_if_merge_port_state(idb, nullptr);
    tessel_cfg_cos_change_check(idb, 0, nullptr, &changed);
    tessel_cfg_dscp_change_check(idb, 0, nullptr, &changed);
    for (const merge_item_type &item : merge_plain) {
        changed |= merge_item(idb, item, nullptr);
    }
    tessel_cfg_if_merge_source_ip(idb, nullptr);
    changed |= tessel_im_select_source_ipv4(idb) ? 1 : 0;
    tessel_cfg_if_merge_source_ipv6(idb, nullptr);
    changed |= tessel_im_select_source_ipv6(idb) ? 1 : 0;
    bool interop_changed = false;
    tessel_cfg_if_reconcile_interop_config(idb, &interop_changed);
    if (interop_changed) {
        idb->flags |= TESSEL_IPC_FLAG_UPDATE_INTEROP;
        changed = 1;
    }
    queue_update_if_enabled(idb, changed);
}

bool tessel_cfg_if_empty_check(tessel_ipc_idb_type *idb)
{
    const bool empty = (idb->flags & TESSEL_IPC_FLAG_ENABLED) == 0 &&
                       (idb->if_config_flags & TESSEL_CFG_IF_ITEM_MASK) == 0 && idb->profile_db == nullptr &&
                       tessel_master_db_count(&idb->if_config.master_table) == 0 &&
                       tessel_slave_db_count(&idb->if_config.slave_table) == 0;
    if (empty) {
        idb->flags |= TESSEL_IPC_FLAG_UPDATE_DELETED;
        tessel_cfg_sweep_needed = true;
    }
    return empty;
}

void tessel_cfg_if_detach_profile(tessel_ipc_idb_type *idb)
{
    tessel_prf_db_type *prf = idb->profile_db;
    if (prf == nullptr) {
        return;
    }
    for (tessel_prf_db_idb_item_type *item = prf->idb_list_head; item != nullptr; item = item->next) {
        if (strncmp(item->idb->header.ifname, idb->header.ifname, TESSEL_CFG_IFNAME_SIZE) == 0) {
            if (item->prev != nullptr) {
                item->prev->next = item->next;
            } else {
                prf->idb_list_head = item->next;
            }
            if (item->next != nullptr) {
                item->next->prev = item->prev;
            }
            tessel_free(item);
            break;
        }
    }
    idb->profile_db = nullptr;
    if (prf->idb_list_head == nullptr && prf->has_config == 0) {
        tessel_cfg_prf_db_delete(&prf);
    }
}

void tessel_cfg_if_release_config(tessel_ipc_idb_type *idb)
{
    tessel_cfg_if_detach_profile(idb);
    tessel_master_db_destroy(&idb->if_config.master_table);
    tessel_slave_db_destroy(&idb->if_config.slave_table);
    tessel_master_db_destroy(&idb->applied_config.master_table);
    tessel_slave_db_destroy(&idb->applied_config.slave_table);
    tessel_free(idb->if_config.interop_cfg);
    idb->if_config.interop_cfg = nullptr;
    tessel_free(idb->applied_config.interop_cfg);
    idb->applied_config.interop_cfg = nullptr;
}

// ---- "enable" ----

zerrno tessel_cfg_if_verify_enable(const nodra_verify_event_info_td *event, char **error_text,
                                   nodra_verify_result_td *result, void *, const bgen_args_td *args)
{
    char ifname[TESSEL_CFG_IFNAME_SIZE];
    const zerrno rc = enable_check(event, args, ifname);
    if (rc != 0) {
        return fail_verify(rc, "Failed to verify the interface enable item.", "Enable config error message", error_text,
                           result);
    }
    result->result = NODRA_VERIFY_RESULT_PASS;
    tessel_cfg_verify_batch_has_valid_item = true;
    tessel_cfg_if_enable_pending++;
    return 0;
}

zerrno tessel_cfg_if_apply_enable(const nodra_verify_event_info_td *event, void *, const bgen_args_td *args)
{
    char ifname[TESSEL_CFG_IFNAME_SIZE];
    zerrno rc = enable_check(event, args, ifname);
    if (rc != 0) {
        return rc;
    }
    tessel_ipc_idb_type *idb = nullptr;
    rc = tessel_cfg_get_create_idb(ifname, &idb);
    if (rc != 0) {
        return rc;
    }
    tessel_stats_increment_ipc_idb_event_counter(idb, TESSEL_IPC_IDB_EVENT_APPLY_ENABLE);
    const bool enabled = (idb->flags & TESSEL_IPC_FLAG_ENABLED) != 0;
    if (!is_delete_event(event)) {
        if (!enabled) {
            idb->flags |= TESSEL_IPC_FLAG_ENABLED | TESSEL_IPC_FLAG_UPDATE_CREATED;
            tessel_cfg_if_enable_count++;
            tessel_ipc_if_update_add(idb);
        }
    } else {
        if (enabled) {
            idb->flags &= ~TESSEL_IPC_FLAG_ENABLED;
            idb->flags |= TESSEL_IPC_FLAG_UPDATE_DELETED;
            TESSEL_ASSERT(tessel_cfg_if_enable_count > 0);
            tessel_cfg_if_enable_count--;
            tessel_ipc_if_update_add(idb);
        }
        tessel_cfg_if_empty_check(idb);
    }
    ptp_trace<PTP_TRACE_TESSEL_CFG_IF_ENABLE>({tessel_ipc_det()}, idb->header.ifhandle, event->event);
    debug_event(idb, "%s: %s: Enable config %s event.", event->event);
    return 0;
}

// ---- "profile" ----

zerrno tessel_cfg_if_check_profile(const nodra_verify_event_info_td *event, uint32_t *verify_result, char **error_text,
                                   char *name, const bgen_args_td *args, char *ifname, bool *is_delete)
{
    zerrno rc = tessel_cfg_if_type_is_supported(args, ifname);
    if (rc == 0 && !tessel_intf_caps_supports_ptp()) {
        rc = PTP_ZERR_CARD_NO_PTP;
    }
    char checked[PTP_PROFILE_NAME_MAX + 1] = {};
    if (rc == 0) {
        const bgen_value_td value{event->new_data, event->new_length};
        rc = ptp_cfg_check_profile_name(event->event, &value, checked, is_delete);
    }
    if (rc != 0) {
        if (verify_result != nullptr) {
            nodra_verify_result_td result{};
            fail_verify(rc, PTP_ZERR_TEXT_CFG_PROFILE_NAME, "Profile config error message", error_text, &result);
            *verify_result = result.result;
        }
        return rc;
    }
    if (verify_result != nullptr) {
        *verify_result = NODRA_VERIFY_RESULT_PASS;
    }
    if (!is_delete_event(event) && name != nullptr) {
        memcpy(name, checked, sizeof checked);
    }
    return 0;
}

zerrno tessel_cfg_if_verify_profile(const nodra_verify_event_info_td *event, char **error_text,
                                    nodra_verify_result_td *result, void *, const bgen_args_td *args)
{
    char ifname[TESSEL_CFG_IFNAME_SIZE];
    bool is_delete = false;
    const zerrno rc =
        tessel_cfg_if_check_profile(event, &result->result, error_text, nullptr, args, ifname, &is_delete);
    if (rc == 0) {
        tessel_cfg_verify_batch_has_valid_item = true;
    }
    return rc;
}

zerrno tessel_cfg_if_apply_profile(const nodra_verify_event_info_td *event, void *, const bgen_args_td *args)
{
    char ifname[TESSEL_CFG_IFNAME_SIZE];
    char name[PTP_PROFILE_NAME_MAX + 1] = {};
    bool is_delete = false;
    zerrno rc = tessel_cfg_if_check_profile(event, nullptr, nullptr, name, args, ifname, &is_delete);
    if (rc != 0) {
        return rc;
    }
    tessel_ipc_idb_type *idb = nullptr;
    rc = tessel_cfg_get_create_idb(ifname, &idb);
    if (rc != 0) {
        return rc;
    }
    tessel_stats_increment_ipc_idb_event_counter(idb, TESSEL_IPC_IDB_EVENT_APPLY_CONFIG);
    char old_name[PTP_PROFILE_NAME_MAX + 1];
    snprintf(old_name, sizeof old_name, "%s", idb->profile_db != nullptr ? idb->profile_db->name : "Not Set");
    zerrno result = 0;
    if (!is_delete) {
        if (idb->profile_db != nullptr && strncmp(idb->profile_db->name, name, PTP_PROFILE_NAME_MAX) == 0) {
            return 0;
        }
        tessel_cfg_if_detach_profile(idb);
        tessel_prf_db_type *prf = nullptr;
        result = tessel_cfg_get_prf_db(name, &prf);
        if (result == 0 && prf != nullptr) {
            idb->profile_db = prf;
            auto *item =
                static_cast<tessel_prf_db_idb_item_type *>(tessel_calloc(1, sizeof(tessel_prf_db_idb_item_type)));
            if (item == nullptr) {
                ptp_alloc_failure_report(sizeof(tessel_prf_db_idb_item_type), "Profile IDB list item add");
            } else {
                item->idb = idb;
                item->next = prf->idb_list_head;
                if (item->next != nullptr) {
                    item->next->prev = item;
                }
                prf->idb_list_head = item;
            }
        }
        uint32_t changed = tessel_cfg_if_merge_master_entry(idb, nullptr);
        changed |= tessel_cfg_if_merge_slave_entry(idb, nullptr);
        tessel_cfg_if_merge_config(idb, changed);
    } else if (idb->profile_db != nullptr) {
        uint32_t changed = 0;
        remove_profile_entries(idb, &changed);
        tessel_cfg_if_detach_profile(idb);
        tessel_cfg_if_empty_check(idb);
        tessel_cfg_if_merge_config(idb, changed);
    } else {
        // Nothing to detach; a record this delete created is swept again.
        tessel_cfg_if_empty_check(idb);
    }
    ptp_trace<PTP_TRACE_TESSEL_CFG_IF_PROFILE>({tessel_ipc_det()}, idb->header.ifhandle, event->event, old_name,
                                               is_delete ? "Not Set" : name);
    TESSEL_IPC_DEBUG_LEVEL(AREA, PTP_DEBUG_LEVEL_INTERNAL, idb->header.ifhandle,
                           "%s: %s: Profile config %s event: %s -> %s.", idb->header.ifname,
                           ptp_cfg_event_to_str(event->event), old_name, is_delete ? "Not Set" : name);
    return result;
}
