// Interoperation configuration: the interface items under "interop", the update routines the
// profile items share, and the reconciliation of the profile's and the interface's records into
// the applied record that the protocol thread receives.
#include "tessel_cfg_interop.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ptp_alloc.h"
#include "ptp_cfg_utils.h"
#include "ptp_strings.h"
#include "tessel_alloc.h"
#include "tessel_assert.h"
#include "tessel_cfg_gl.h"
#include "tessel_cfg_private.h"
#include "tessel_intf_caps.h"
#include "tessel_ipc_log.h"
#include "tessel_port_mgr.h"
#include "tessel_stats.h"
#include "tessel_thread_ctrl.h"

namespace {

constexpr uint32_t AREA = tessel_debug_area("config");

// ---- Record helpers ----

// The presence bit of value item 0-11 (ingress priority1 0x0004 ... egress mapping 0x2000).
uint16_t item_bit(uint32_t item)
{
    return static_cast<uint16_t>(TESSEL_INTEROP_INGRESS_PRIORITY1 << item);
}

tessel_interop_half_config_type &half_of(tessel_interop_config_type *cfg, uint32_t item)
{
    return item < TESSEL_CFG_INTEROP_EGRESS_OFFSET ? cfg->ingress : cfg->egress;
}

bool mapping_has_entries(const tessel_interop_half_config_type &half)
{
    for (const auto &e : half.clock_class_mapping) {
        if (e.present != 0) {
            return true;
        }
    }
    return false;
}

bool halves_equal(const tessel_interop_half_config_type &a, const tessel_interop_half_config_type &b)
{
    if (a.priority1 != b.priority1 || a.priority2 != b.priority2 || a.clock_accuracy != b.clock_accuracy ||
        a.oslv != b.oslv || a.clock_class_default != b.clock_class_default) {
        return false;
    }
    for (size_t i = 0; i < TESSEL_INTEROP_CLOCK_CLASS_COUNT; i++) {
        const auto &x = a.clock_class_mapping[i];
        const auto &y = b.clock_class_mapping[i];
        if ((x.present != 0) != (y.present != 0) || (x.present != 0 && x.clock_class != y.clock_class)) {
            return false;
        }
    }
    return true;
}

bool records_equal(const tessel_interop_config_type &a, const tessel_interop_config_type &b)
{
    return a.presence == b.presence && a.domain == b.domain && a.profile == b.profile &&
           halves_equal(a.ingress, b.ingress) && halves_equal(a.egress, b.egress);
}

// ---- Item rows ----

struct interop_row_type {
    const char *text; // the verify error text; "%u" placeholders take lo and hi
    uint32_t lo;
    uint32_t hi;
    const char *label; // MEM_ALLOC label of the text
    zerrno code;       // a bad value
    bool (*rule)(uint32_t);
    bool mapping;
};

const interop_row_type row_profile{"Failed to verify the interop profile value.",
                                   0,
                                   0,
                                   "Interop profile config error message",
                                   PTP_ZERR_CFG_PROFILE,
                                   ptp_clock_profile_is_ok,
                                   false};
const interop_row_type row_domain{"Failed to verify the interop domain value. The domain must be between %u and %u.",
                                  0,
                                  255,
                                  "Interop domain config error message",
                                  PTP_ZERR_CFG_DOMAIN,
                                  ptp_clock_domain_is_ok,
                                  false};
const interop_row_type row_priority{
    "Failed to verify the interop priority value. The priority must be between %u and %u.",
    0,
    255,
    "Interop priority config error message",
    PTP_ZERR_CFG_PRIORITY,
    ptp_priority_is_ok,
    false};
const interop_row_type row_clock_accuracy{
    "Failed to verify the interop clock accuracy value. The clock accuracy must be a value between 32 and 49, or 254, as specified by the IEEE 1588 standard",
    0,
    0,
    "Interop clock accuracy config error message",
    PTP_ZERR2_CFG_CLOCK_ACCURACY,
    ptp_clock_accuracy_is_ok,
    false};
const interop_row_type row_oslv{"Failed to verify the interop OSLV value. The value must be between %u and %u.",
                                0,
                                65535,
                                "Interop OSLV config error message",
                                PTP_ZERR2_CFG_OSLV,
                                ptp_clock_oslv_is_ok,
                                false};
const interop_row_type row_clock_class_default{
    "Failed to verify the interop default clock class value. The default clock class must be between %u and %u.",
    0,
    255,
    "Interop default clock class config error message",
    PTP_ZERR_CFG_CLOCK_CLASS,
    ptp_clock_class_is_ok,
    false};
const interop_row_type row_clock_class_mapping{
    "Failed to verify the interop clock class mapping value. Each part of the clock class mapping must be between %u and %u.",
    0,
    255,
    "Interop clock class mapping config error message",
    PTP_ZERR_CFG_CLOCK_CLASS,
    ptp_clock_class_is_ok,
    true};

// A copy of the row's text for the verify result (null, with MEM_ALLOC, when none can be made).
char *row_text(const interop_row_type &row)
{
    char buf[256];
    std::snprintf(buf, sizeof(buf), row.text, row.lo, row.hi);
    const size_t len = std::strlen(buf) + 1;
    auto *copy = static_cast<char *>(std::malloc(len));
    if (copy == nullptr) {
        ptp_alloc_failure_report(len, row.label);
        return nullptr;
    }
    std::memcpy(copy, buf, len);
    return copy;
}

// The check of every interop row, first failure deciding.
zerrno interop_check(const interop_row_type &row, const nodra_verify_event_info_td *event,
                     nodra_verify_result_td *verify_result, char **error_text, uint32_t *value, uint32_t *key,
                     const bgen_args_td *args, char *ifname, bool *is_delete)
{
    char name[TESSEL_DB_IFNAME_SIZE] = {};
    zerrno rc = tessel_cfg_if_type_is_supported(args, name);
    if (rc == 0 && !tessel_intf_caps_supports_ptp()) {
        rc = PTP_ZERR_CARD_NO_PTP;
    }
    const bool deleting = rc == 0 && tessel_cfg_event_is_delete(event);
    if (rc == 0 && row.mapping) {
        const bgen_arg_td *k = bgen_args_get(args, PTP_CFG_KEY_FROM_CLASS, BGEN_ARG_UINT);
        if (k == nullptr) {
            rc = PTP_ZERR_CFG_ARGUMENT;
        } else if (!ptp_clock_class_is_ok(k->number)) {
            rc = row.code;
        } else if (key != nullptr) {
            *key = k->number;
        }
    }
    if (rc == 0 && !deleting) {
        uint32_t v = 0;
        if (!tessel_cfg_event_u32(event, &v) || !row.rule(v)) {
            rc = row.code;
        } else if (value != nullptr) {
            *value = v;
        }
    }
    if (rc == 0 && deleting && value != nullptr) {
        *value = row.rule == ptp_clock_accuracy_is_ok ? 254 : 0;
    }
    if (is_delete != nullptr) {
        *is_delete = deleting;
    }
    if (ifname != nullptr) {
        std::memcpy(ifname, name, sizeof(name));
    }
    if (verify_result != nullptr) {
        verify_result->result = rc == 0 ? NODRA_VERIFY_RESULT_PASS : NODRA_VERIFY_RESULT_FAIL;
        if (rc != 0 && error_text != nullptr) {
            *error_text = row_text(row);
        }
    }
    return rc;
}

zerrno interop_verify(const interop_row_type &row, const nodra_verify_event_info_td *event, char **error_text,
                      nodra_verify_result_td *result, const bgen_args_td *args)
{
    uint32_t value = 0;
    uint32_t key = 0;
    const zerrno rc = interop_check(row, event, result, error_text, &value, &key, args, nullptr, nullptr);
    if (rc == 0) {
        tessel_cfg_verify_batch_has_valid_item = true;
    }
    return rc;
}

const char *direction_name(uint32_t item)
{
    return item < TESSEL_CFG_INTEROP_EGRESS_OFFSET ? "ingress" : "egress";
}

uint32_t direction_of(uint32_t item)
{
    return item < TESSEL_CFG_INTEROP_EGRESS_OFFSET ? 0 : 1;
}

// Steps 2 to 8 of an apply: write the value with update, free an emptied record, reconcile, log
// with log_fn (given the record), queue the interface when the applied record changed.
template <typename Update, typename Log>
zerrno interop_apply(const char *ifname, bool is_delete, void *context, Update update, Log log_fn)
{
    tessel_ipc_idb_type *idb = nullptr;
    zerrno rc = tessel_cfg_get_create_idb(ifname, &idb);
    if (rc != 0) {
        return rc;
    }
    tessel_interop_config_type *&own = idb->if_config.interop_cfg;
    if (own == nullptr && !is_delete) {
        TESSEL_ASSERT((idb->if_config_flags & TESSEL_CFG_MASK_INTEROP) == 0);
        own = static_cast<tessel_interop_config_type *>(tessel_calloc(1, sizeof(tessel_interop_config_type)));
        if (own == nullptr) {
            ptp_alloc_failure_report(sizeof(tessel_interop_config_type), "Interop config create");
            return PTP_ZERR_NOMEM;
        }
        idb->if_config_flags |= TESSEL_CFG_MASK_INTEROP;
    }
    if (own != nullptr) {
        update(own);
    }
    if (is_delete) {
        if (own != nullptr && own->presence == 0) {
            tessel_free(own);
            own = nullptr;
            idb->if_config_flags &= ~TESSEL_CFG_MASK_INTEROP;
        }
        tessel_cfg_if_empty_check(idb);
    }
    bool changed = false;
    tessel_cfg_if_reconcile_interop_config(idb, &changed);
    if (changed) {
        idb->flags |= TESSEL_IPC_FLAG_UPDATE_INTEROP;
    }
    tessel_stats_increment_ipc_idb_event_counter(idb, TESSEL_IPC_IDB_EVENT_APPLY_CONFIG);
    log_fn(idb, tessel_cfg_apply_batch_first(context));
    if (changed && (idb->flags & TESSEL_IPC_FLAG_ENABLED) != 0) {
        tessel_ipc_if_update_add(idb);
    }
    return rc;
}

#define INTEROP_APPLY_DEBUG(idb, format, ...)                                                                          \
    TESSEL_IPC_DEBUG_LEVEL(AREA, PTP_DEBUG_LEVEL_INTERNAL, (idb)->header.ifhandle, format, (idb)->header.ifname,       \
                           __VA_ARGS__)

} // namespace

// ---- Update routines ------------------------------------------------------------------------------

void tessel_cfg_interop_set_profile(tessel_interop_config_type *cfg, bool is_delete, uint32_t profile)
{
    cfg->profile = is_delete ? 0 : profile;
    cfg->presence = is_delete ? cfg->presence & ~TESSEL_INTEROP_PROFILE : cfg->presence | TESSEL_INTEROP_PROFILE;
}

void tessel_cfg_interop_set_domain(tessel_interop_config_type *cfg, bool is_delete, uint32_t domain)
{
    cfg->domain = is_delete ? 0 : static_cast<uint8_t>(domain);
    cfg->presence = is_delete ? cfg->presence & ~TESSEL_INTEROP_DOMAIN : cfg->presence | TESSEL_INTEROP_DOMAIN;
}

void tessel_cfg_interop_set_value(tessel_interop_config_type *cfg, uint32_t item, bool is_delete, uint32_t value,
                                  uint32_t key)
{
    TESSEL_ASSERT(item < 2 * TESSEL_CFG_INTEROP_EGRESS_OFFSET && "Unknown config item");
    tessel_interop_half_config_type &half = half_of(cfg, item);
    const uint32_t v = is_delete ? 0 : value;
    const uint16_t bit = item_bit(item);
    bool present = !is_delete;
    switch (item % TESSEL_CFG_INTEROP_EGRESS_OFFSET) {
    case TESSEL_CFG_INTEROP_PRIORITY1: half.priority1 = static_cast<uint8_t>(v); break;
    case TESSEL_CFG_INTEROP_PRIORITY2: half.priority2 = static_cast<uint8_t>(v); break;
    case TESSEL_CFG_INTEROP_CLOCK_ACCURACY: half.clock_accuracy = static_cast<uint8_t>(v); break;
    case TESSEL_CFG_INTEROP_OSLV: half.oslv = static_cast<uint16_t>(v); break;
    case TESSEL_CFG_INTEROP_CLOCK_CLASS_DEFAULT: half.clock_class_default = static_cast<uint8_t>(v); break;
    default: {
        TESSEL_ASSERT(key < TESSEL_INTEROP_CLOCK_CLASS_COUNT);
        half.clock_class_mapping[key] = {is_delete ? 0u : 1u, static_cast<uint8_t>(v)};
        present = mapping_has_entries(half);
        break;
    }
    }
    cfg->presence = present ? cfg->presence | bit : cfg->presence & ~bit;
}

void tessel_cfg_if_reconcile_interop_config(tessel_ipc_idb_type *idb, bool *changed)
{
    *changed = false;
    const tessel_prf_db_type *prf = idb->profile_db;
    const bool from_profile = prf != nullptr && (prf->prf_config_flags & TESSEL_CFG_MASK_INTEROP) != 0;
    const bool own = (idb->if_config_flags & TESSEL_CFG_MASK_INTEROP) != 0;
    TESSEL_ASSERT(!from_profile || prf->prf_config.interop_cfg != nullptr);
    TESSEL_ASSERT(!own || idb->if_config.interop_cfg != nullptr);
    tessel_interop_config_type *&applied = idb->applied_config.interop_cfg;
    if (!from_profile && !own) {
        if (applied != nullptr) {
            tessel_free(applied);
            applied = nullptr;
            idb->applied_config_flags &= ~TESSEL_CFG_MASK_INTEROP;
            *changed = true;
        }
        return;
    }
    auto *candidate = static_cast<tessel_interop_config_type *>(tessel_calloc(1, sizeof(tessel_interop_config_type)));
    if (candidate == nullptr) {
        ptp_alloc_failure_report(sizeof(tessel_interop_config_type), "Interop config create");
        return;
    }
    if (from_profile) {
        tessel_cfg_interop_merge(candidate, prf->prf_config.interop_cfg);
    }
    if (own) {
        tessel_cfg_interop_merge(candidate, idb->if_config.interop_cfg);
    }
    if (applied == nullptr) {
        // The candidate becomes the applied record.
        applied = candidate;
        *changed = true;
    } else {
        *changed = !records_equal(*candidate, *applied);
        std::memcpy(applied, candidate, sizeof(*applied));
        tessel_free(candidate);
    }
    idb->applied_config_flags |= TESSEL_CFG_MASK_INTEROP;
}

// ---- Checks ------------------------------------------------------------------------------------

zerrno tessel_cfg_if_check_interop_profile(const nodra_verify_event_info_td *event,
                                           nodra_verify_result_td *verify_result, char **error_text, uint32_t *value,
                                           const bgen_args_td *args, char *ifname, bool *is_delete)
{
    return interop_check(row_profile, event, verify_result, error_text, value, nullptr, args, ifname, is_delete);
}

zerrno tessel_cfg_if_check_interop_domain(const nodra_verify_event_info_td *event,
                                          nodra_verify_result_td *verify_result, char **error_text, uint32_t *value,
                                          const bgen_args_td *args, char *ifname, bool *is_delete)
{
    return interop_check(row_domain, event, verify_result, error_text, value, nullptr, args, ifname, is_delete);
}

zerrno tessel_cfg_if_check_interop_priority(const nodra_verify_event_info_td *event,
                                            nodra_verify_result_td *verify_result, char **error_text, uint32_t *value,
                                            const bgen_args_td *args, char *ifname, bool *is_delete)
{
    return interop_check(row_priority, event, verify_result, error_text, value, nullptr, args, ifname, is_delete);
}

zerrno tessel_cfg_if_check_interop_clock_accuracy(const nodra_verify_event_info_td *event,
                                                  nodra_verify_result_td *verify_result, char **error_text,
                                                  uint32_t *value, const bgen_args_td *args, char *ifname,
                                                  bool *is_delete)
{
    return interop_check(row_clock_accuracy, event, verify_result, error_text, value, nullptr, args, ifname, is_delete);
}

zerrno tessel_cfg_if_check_interop_oslv(const nodra_verify_event_info_td *event, nodra_verify_result_td *verify_result,
                                        char **error_text, uint32_t *value, const bgen_args_td *args, char *ifname,
                                        bool *is_delete)
{
    return interop_check(row_oslv, event, verify_result, error_text, value, nullptr, args, ifname, is_delete);
}

zerrno tessel_cfg_if_check_interop_clock_class_default(const nodra_verify_event_info_td *event,
                                                       nodra_verify_result_td *verify_result, char **error_text,
                                                       uint32_t *value, const bgen_args_td *args, char *ifname,
                                                       bool *is_delete)
{
    return interop_check(row_clock_class_default, event, verify_result, error_text, value, nullptr, args, ifname,
                         is_delete);
}

zerrno tessel_cfg_if_check_interop_clock_class_mapping(const nodra_verify_event_info_td *event,
                                                       nodra_verify_result_td *verify_result, char **error_text,
                                                       uint32_t *value, uint32_t *key, const bgen_args_td *args,
                                                       char *ifname, bool *is_delete)
{
    return interop_check(row_clock_class_mapping, event, verify_result, error_text, value, key, args, ifname,
                         is_delete);
}

// ---- Verify handlers ------------------------------------------------------------------------------

zerrno tessel_cfg_if_verify_interop_profile(const nodra_verify_event_info_td *event, char **error_text,
                                            nodra_verify_result_td *result, void *, const bgen_args_td *args)
{
    return interop_verify(row_profile, event, error_text, result, args);
}

zerrno tessel_cfg_if_verify_interop_domain(const nodra_verify_event_info_td *event, char **error_text,
                                           nodra_verify_result_td *result, void *, const bgen_args_td *args)
{
    return interop_verify(row_domain, event, error_text, result, args);
}

zerrno tessel_cfg_if_verify_interop_priority(const nodra_verify_event_info_td *event, char **error_text,
                                             nodra_verify_result_td *result, void *, const bgen_args_td *args)
{
    return interop_verify(row_priority, event, error_text, result, args);
}

zerrno tessel_cfg_if_verify_interop_clock_accuracy(const nodra_verify_event_info_td *event, char **error_text,
                                                   nodra_verify_result_td *result, void *, const bgen_args_td *args)
{
    return interop_verify(row_clock_accuracy, event, error_text, result, args);
}

zerrno tessel_cfg_if_verify_interop_oslv(const nodra_verify_event_info_td *event, char **error_text,
                                         nodra_verify_result_td *result, void *, const bgen_args_td *args)
{
    return interop_verify(row_oslv, event, error_text, result, args);
}

zerrno tessel_cfg_if_verify_interop_clock_class_default(const nodra_verify_event_info_td *event, char **error_text,
                                                        nodra_verify_result_td *result, void *,
                                                        const bgen_args_td *args)
{
    return interop_verify(row_clock_class_default, event, error_text, result, args);
}

zerrno tessel_cfg_if_verify_interop_clock_class_mapping(const nodra_verify_event_info_td *event, char **error_text,
                                                        nodra_verify_result_td *result, void *,
                                                        const bgen_args_td *args)
{
    return interop_verify(row_clock_class_mapping, event, error_text, result, args);
}

// ---- Apply handlers -------------------------------------------------------------------------------

zerrno tessel_cfg_if_apply_interop_profile(const nodra_verify_event_info_td *event, void *context,
                                           const bgen_args_td *args)
{
    char ifname[TESSEL_DB_IFNAME_SIZE] = {};
    bool is_delete = false;
    uint32_t value = 0;
    const zerrno rc = tessel_cfg_if_check_interop_profile(event, nullptr, nullptr, &value, args, ifname, &is_delete);
    if (rc != 0) {
        return rc;
    }
    return interop_apply(
        ifname, is_delete, context,
        [&](tessel_interop_config_type *cfg) { tessel_cfg_interop_set_profile(cfg, is_delete, value); },
        [&](tessel_ipc_idb_type *idb, bool first) {
            INTEROP_APPLY_DEBUG(idb, "%s: %s: Interop profile config %s event: %s", ptp_cfg_event_to_str(event->event),
                                ptp_profile_to_str(value));
            if (first) {
                ptp_trace<PTP_TRACE_TESSEL_CFG_INTEROP_PROFILE>({tessel_ipc_det()}, idb->header.ifhandle, event->event,
                                                                value);
            }
        });
}

zerrno tessel_cfg_if_apply_interop_domain(const nodra_verify_event_info_td *event, void *context,
                                          const bgen_args_td *args)
{
    char ifname[TESSEL_DB_IFNAME_SIZE] = {};
    bool is_delete = false;
    uint32_t value = 0;
    const zerrno rc = tessel_cfg_if_check_interop_domain(event, nullptr, nullptr, &value, args, ifname, &is_delete);
    if (rc != 0) {
        return rc;
    }
    return interop_apply(
        ifname, is_delete, context,
        [&](tessel_interop_config_type *cfg) { tessel_cfg_interop_set_domain(cfg, is_delete, value); },
        [&](tessel_ipc_idb_type *idb, bool first) {
            INTEROP_APPLY_DEBUG(idb, "%s: %s: Interop domain config %s event: %u", ptp_cfg_event_to_str(event->event),
                                value);
            if (first) {
                ptp_trace<PTP_TRACE_TESSEL_CFG_INTEROP_DOMAIN>({tessel_ipc_det()}, idb->header.ifhandle, event->event,
                                                               value);
            }
        });
}

zerrno tessel_cfg_if_apply_interop_priority(const nodra_verify_event_info_td *event, void *context,
                                            const bgen_args_td *args)
{
    const uint32_t item = args->bg_ident;
    const uint32_t in = item % TESSEL_CFG_INTEROP_EGRESS_OFFSET;
    TESSEL_ASSERT((in == TESSEL_CFG_INTEROP_PRIORITY1 || in == TESSEL_CFG_INTEROP_PRIORITY2) &&
                  item < 2 * TESSEL_CFG_INTEROP_EGRESS_OFFSET && "Unknown config item");
    char ifname[TESSEL_DB_IFNAME_SIZE] = {};
    bool is_delete = false;
    uint32_t value = 0;
    const zerrno rc = tessel_cfg_if_check_interop_priority(event, nullptr, nullptr, &value, args, ifname, &is_delete);
    if (rc != 0) {
        return rc;
    }
    const uint32_t which = in == TESSEL_CFG_INTEROP_PRIORITY1 ? 1 : 2;
    return interop_apply(
        ifname, is_delete, context,
        [&](tessel_interop_config_type *cfg) { tessel_cfg_interop_set_value(cfg, item, is_delete, value, 0); },
        [&](tessel_ipc_idb_type *idb, bool first) {
            INTEROP_APPLY_DEBUG(idb, "%s: %s: Interop %s priority%u config %s event: %u", direction_name(item), which,
                                ptp_cfg_event_to_str(event->event), value);
            if (first) {
                ptp_trace<PTP_TRACE_TESSEL_CFG_INTEROP_PRIORITY>({tessel_ipc_det()}, idb->header.ifhandle,
                                                                 direction_of(item), which, event->event, value);
            }
        });
}

namespace {

// The apply of one plain value item (clock accuracy, OSLV, default clock class).
template <const ptp_trace_point_type &P>
zerrno interop_apply_value(const nodra_verify_event_info_td *event, void *context, const bgen_args_td *args,
                           uint32_t first_item, const char *format,
                           zerrno (*check)(const nodra_verify_event_info_td *, nodra_verify_result_td *, char **,
                                           uint32_t *, const bgen_args_td *, char *, bool *))
{
    const uint32_t item = args->bg_ident;
    TESSEL_ASSERT((item == first_item || item == first_item + TESSEL_CFG_INTEROP_EGRESS_OFFSET) &&
                  "Unknown config item");
    char ifname[TESSEL_DB_IFNAME_SIZE] = {};
    bool is_delete = false;
    uint32_t value = 0;
    const zerrno rc = check(event, nullptr, nullptr, &value, args, ifname, &is_delete);
    if (rc != 0) {
        return rc;
    }
    return interop_apply(
        ifname, is_delete, context,
        [&](tessel_interop_config_type *cfg) { tessel_cfg_interop_set_value(cfg, item, is_delete, value, 0); },
        [&](tessel_ipc_idb_type *idb, bool first) {
            TESSEL_IPC_DEBUG_LEVEL(AREA, PTP_DEBUG_LEVEL_INTERNAL, idb->header.ifhandle, format, idb->header.ifname,
                                   direction_name(item), ptp_cfg_event_to_str(event->event), is_delete ? 0u : value);
            if (first) {
                ptp_trace<P>({tessel_ipc_det()}, idb->header.ifhandle, direction_of(item), event->event,
                             is_delete ? 0u : value);
            }
        });
}

} // namespace

zerrno tessel_cfg_if_apply_interop_clock_accuracy(const nodra_verify_event_info_td *event, void *context,
                                                  const bgen_args_td *args)
{
    return interop_apply_value<PTP_TRACE_TESSEL_CFG_INTEROP_CLOCK_ACCURACY>(
        event, context, args, TESSEL_CFG_INTEROP_CLOCK_ACCURACY,
        "%s: %s: Interop %s clock accuracy config %s event: %u", tessel_cfg_if_check_interop_clock_accuracy);
}

zerrno tessel_cfg_if_apply_interop_oslv(const nodra_verify_event_info_td *event, void *context,
                                        const bgen_args_td *args)
{
    return interop_apply_value<PTP_TRACE_TESSEL_CFG_INTEROP_OSLV>(event, context, args, TESSEL_CFG_INTEROP_OSLV,
                                                                  "%s: %s: Interop %s OSLV config %s event: %u",
                                                                  tessel_cfg_if_check_interop_oslv);
}

zerrno tessel_cfg_if_apply_interop_clock_class_default(const nodra_verify_event_info_td *event, void *context,
                                                       const bgen_args_td *args)
{
    return interop_apply_value<PTP_TRACE_TESSEL_CFG_INTEROP_CLOCK_CLASS_DEFAULT>(
        event, context, args, TESSEL_CFG_INTEROP_CLOCK_CLASS_DEFAULT,
        "%s: %s: Interop %s default clock class config %s event: %u", tessel_cfg_if_check_interop_clock_class_default);
}

zerrno tessel_cfg_if_apply_interop_clock_class_mapping(const nodra_verify_event_info_td *event, void *context,
                                                       const bgen_args_td *args)
{
    const uint32_t item = args->bg_ident;
    TESSEL_ASSERT((item == TESSEL_CFG_INTEROP_CLOCK_CLASS_MAPPING ||
                   item == TESSEL_CFG_INTEROP_CLOCK_CLASS_MAPPING + TESSEL_CFG_INTEROP_EGRESS_OFFSET) &&
                  "Unknown config item");
    char ifname[TESSEL_DB_IFNAME_SIZE] = {};
    bool is_delete = false;
    uint32_t value = 0;
    uint32_t key = 0;
    const zerrno rc = tessel_cfg_if_check_interop_clock_class_mapping(event, nullptr, nullptr, &value, &key, args,
                                                                      ifname, &is_delete);
    if (rc != 0) {
        return rc;
    }
    return interop_apply(
        ifname, is_delete, context,
        [&](tessel_interop_config_type *cfg) { tessel_cfg_interop_set_value(cfg, item, is_delete, value, key); },
        [&](tessel_ipc_idb_type *idb, bool first) {
            INTEROP_APPLY_DEBUG(idb, "%s: %s: Interop %s clock class mapping config %s event: %u->%u",
                                direction_name(item), ptp_cfg_event_to_str(event->event), key, value);
            if (first) {
                ptp_trace<PTP_TRACE_TESSEL_CFG_INTEROP_CLOCK_CLASS_MAPPING>(
                    {tessel_ipc_det()}, idb->header.ifhandle, direction_of(item), event->event, key, value);
            }
        });
}
