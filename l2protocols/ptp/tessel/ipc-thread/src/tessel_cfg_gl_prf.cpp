// Configuration profiles: the profile database and the items under "ptp/pi/profile/<name>/".
// Each item is checked, written into its profile record, and every interface that uses the
// profile is merged again.
#include <cstring>

#include "ptp_alloc.h"
#include "ptp_cfg_utils.h"
#include "ptp_strings.h"
#include "tessel_alloc.h"
#include "tessel_assert.h"
#include "tessel_cfg_gl.h"
#include "tessel_cfg_interop.h"
#include "tessel_cfg_private.h"
#include "tessel_cfg_table.h"
#include "tessel_intf_caps.h"
#include "tessel_ipc_log.h"
#include "tessel_master_db.h"
#include "tessel_slave_db.h"

namespace {

constexpr uint32_t AREA = tessel_debug_area("config");

avl2_tree_type prf_tree{};
bool prf_tree_ready = false;

int prf_compare(const void *a, const void *b, void *)
{
    return std::strncmp(static_cast<const tessel_prf_db_type *>(a)->name,
                        static_cast<const tessel_prf_db_type *>(b)->name, PTP_PROFILE_NAME_MAX);
}

// The item's new value as the value checks read it.
bgen_value_td new_value(const nodra_notify_event_info_td *event)
{
    return bgen_value_td{event->new_data, event->new_length};
}

bool prf_holds_config(const tessel_prf_db_type *prf)
{
    return (prf->prf_config_flags & TESSEL_CFG_IF_ITEM_MASK) != 0 ||
           tessel_master_db_count(&prf->prf_config.master_table) != 0 ||
           tessel_slave_db_count(&prf->prf_config.slave_table) != 0;
}

// The profile of an item whose check gave rc; null (with the error in the result word) when the
// check failed or the profile cannot be had.
tessel_prf_db_type *prf_for_item(void *context, zerrno rc, const char *name)
{
    if (rc != 0) {
        tessel_cfg_result_set(context, rc);
        return nullptr;
    }
    tessel_prf_db_type *prf = nullptr;
    rc = tessel_cfg_get_prf_db(name, &prf);
    if (rc != 0) {
        tessel_cfg_result_set(context, rc);
        return nullptr;
    }
    return prf;
}

// After a delete the profile may hold nothing any more: it is deleted when no interface uses it
// either. Then every interface that uses it is merged again; merge_tables, when given, first
// merges the changed table entry and reports whether the applied table changed.
template <typename MergeTables>
void prf_item_done(tessel_prf_db_type *prf, bool is_delete, MergeTables merge_tables)
{
    if (is_delete && !prf_holds_config(prf)) {
        prf->has_config = 0;
        if (prf->idb_list_head == nullptr) {
            tessel_cfg_prf_db_delete(&prf);
            return;
        }
    }
    for (tessel_prf_db_idb_item_type *item = prf->idb_list_head; item != nullptr; item = item->next) {
        tessel_cfg_if_merge_config(item->idb, merge_tables(item->idb));
    }
}

void prf_item_done(tessel_prf_db_type *prf, bool is_delete)
{
    prf_item_done(prf, is_delete, [](tessel_ipc_idb_type *) { return false; });
}

// Steps 3 to 6 of a plain item: store (on a set) and the item's configured bit.
template <typename Store>
void prf_scalar(void *context, zerrno rc, const char *name, bool is_delete, uint32_t bit, Store store)
{
    tessel_prf_db_type *prf = prf_for_item(context, rc, name);
    if (prf == nullptr) {
        return;
    }
    if (is_delete) {
        prf->prf_config_flags &= ~bit;
    } else {
        store(prf->prf_config);
        prf->prf_config_flags |= bit;
        prf->has_config = 1;
    }
    prf_item_done(prf, is_delete);
}

// A master-table item: store(entry, is_delete) writes the value (or its default) and set_bit is
// the item's presence bit; clear_bits are cleared by a delete.
template <typename Store>
void prf_master(void *context, zerrno rc, const char *name, bool is_delete, const ptp_address_type &addr,
                uint8_t set_bit, uint8_t clear_bits, Store store)
{
    tessel_prf_db_type *prf = prf_for_item(context, rc, name);
    if (prf == nullptr) {
        return;
    }
    tessel_master_table_type *table = &prf->prf_config.master_table;
    tessel_master_db_type *entry = nullptr;
    (void)tessel_master_db_find(table, &addr, &entry);
    if (!is_delete) {
        if (entry == nullptr) {
            rc = tessel_master_db_add(table, &addr, &entry);
            if (rc != 0) {
                tessel_cfg_result_set(context, rc);
                return;
            }
        }
        store(entry, false);
        entry->flags |= set_bit;
        prf->has_config = 1;
    } else if (entry != nullptr) {
        store(entry, true);
        entry->flags &= static_cast<uint8_t>(~clear_bits);
        constexpr uint8_t configured = 0x6F; // every presence bit but the non-negotiated value
        if ((entry->flags & configured) == 0) {
            tessel_master_db_remove(table, entry);
        }
    }
    prf_item_done(prf, is_delete,
                  [&addr](tessel_ipc_idb_type *idb) { return tessel_cfg_if_merge_master_entry(idb, &addr); });
}

// An interoperation item: update writes the value into the profile's record (allocated on
// first use).
template <typename Update>
void prf_interop(void *context, zerrno rc, const char *name, bool is_delete, Update update)
{
    tessel_prf_db_type *prf = prf_for_item(context, rc, name);
    if (prf == nullptr) {
        return;
    }
    tessel_interop_config_type *&cfg = prf->prf_config.interop_cfg;
    if (cfg == nullptr) {
        TESSEL_ASSERT((prf->prf_config_flags & TESSEL_CFG_MASK_INTEROP) == 0);
        if (is_delete) {
            prf_item_done(prf, is_delete);
            return;
        }
        cfg = static_cast<tessel_interop_config_type *>(tessel_calloc(1, sizeof(tessel_interop_config_type)));
        if (cfg == nullptr) {
            ptp_alloc_failure_report(sizeof(tessel_interop_config_type), "Interop config create");
            tessel_cfg_result_set(context, PTP_ZERR_NOMEM);
            return;
        }
        prf->prf_config_flags |= TESSEL_CFG_MASK_INTEROP;
    }
    update(cfg);
    if (!is_delete) {
        prf->has_config = 1;
    } else if (cfg->presence == 0) {
        tessel_free(cfg);
        cfg = nullptr;
        prf->prf_config_flags &= ~TESSEL_CFG_MASK_INTEROP;
    }
    prf_item_done(prf, is_delete);
}

// The interoperation value of a handler's row argument, which must be one of the handler's own.
uint32_t interop_item(const bgen_args_td *args, uint32_t first)
{
    const uint32_t item = args->bg_ident;
    const bool ok = item == first || item == first + TESSEL_CFG_INTEROP_EGRESS_OFFSET;
    TESSEL_ASSERT(ok && "Unknown config item");
    return item;
}

} // namespace

// ---- Profile database -------------------------------------------------------------------------

zerrno tessel_cfg_prf_db_init(void)
{
    if (!avl2_init(&prf_tree, prf_compare, nullptr)) {
        return PTP_ZERR_DB_INIT;
    }
    prf_tree_ready = true;
    return 0;
}

void tessel_cfg_prf_db_destroy(void)
{
    if (prf_tree_ready) {
        avl2_destroy(&prf_tree, tessel_cfg_prf_db_tree_delete_walker);
        prf_tree_ready = false;
    }
}

tessel_prf_db_type *tessel_cfg_prf_db_find(const char *name)
{
    if (!prf_tree_ready || name == nullptr) {
        return nullptr;
    }
    tessel_prf_db_type key{};
    std::strncpy(key.name, name, PTP_PROFILE_NAME_MAX);
    return reinterpret_cast<tessel_prf_db_type *>(avl2_search(&prf_tree, &key));
}

uint32_t tessel_cfg_prf_db_count(void)
{
    return prf_tree_ready ? static_cast<uint32_t>(avl2_count(&prf_tree)) : 0;
}

zerrno tessel_cfg_get_prf_db(const char *name, tessel_prf_db_type **out_prf)
{
    *out_prf = tessel_cfg_prf_db_find(name);
    if (*out_prf != nullptr) {
        return 0;
    }
    if (!prf_tree_ready) {
        return PTP_ZERR_DB_INIT;
    }
    ptp_trace<PTP_TRACE_TESSEL_CFG_PRF_DB_CREATE>({tessel_ipc_det()}, name);
    TESSEL_IPC_DEBUG(AREA, "%s: Creating and inserting a new profile db: %s", name);
    auto *prf = static_cast<tessel_prf_db_type *>(tessel_calloc(1, sizeof(tessel_prf_db_type)));
    if (prf == nullptr) {
        ptp_alloc_failure_report(sizeof(tessel_prf_db_type), "Profile DB create");
        return PTP_ZERR_NOMEM;
    }
    std::strncpy(prf->name, name, PTP_PROFILE_NAME_MAX);
    [[maybe_unused]] avl2_node_type *inserted = avl2_insert(&prf_tree, &prf->node);
    TESSEL_ASSERT(inserted == &prf->node);
    ptp_trace<PTP_TRACE_TESSEL_CFG_PRF_DB_CREATED>({tessel_ipc_det()}, name);
    TESSEL_IPC_DEBUG(AREA, "%s: Succesfully created a new profile db: %s", name);
    *out_prf = prf;
    zerrno rc = tessel_master_db_init(&prf->prf_config.master_table);
    if (rc == 0) {
        rc = tessel_slave_db_init(&prf->prf_config.slave_table);
    }
    return rc;
}

void tessel_cfg_prf_db_delete(tessel_prf_db_type **prf_ref)
{
    tessel_prf_db_type *prf = *prf_ref;
    TESSEL_ASSERT(prf->idb_list_head == nullptr);
    ptp_trace<PTP_TRACE_TESSEL_CFG_PRF_DB_DELETE>({tessel_ipc_det()}, static_cast<const char *>(prf->name));
    TESSEL_IPC_DEBUG(AREA, "%s: Deleting a profile db: %s", prf->name);
    [[maybe_unused]] avl2_node_type *removed = avl2_delete(&prf_tree, prf);
    TESSEL_ASSERT(removed == &prf->node);
    tessel_master_db_destroy(&prf->prf_config.master_table);
    tessel_slave_db_destroy(&prf->prf_config.slave_table);
    tessel_free(prf->prf_config.interop_cfg);
    tessel_free(prf);
    *prf_ref = nullptr;
}

void tessel_cfg_prf_db_tree_delete_walker(avl2_node_type *node)
{
    auto *prf = reinterpret_cast<tessel_prf_db_type *>(node);
    // Interfaces still naming the profile at shutdown let go of it rather than keep a pointer
    // to a freed record.
    while (prf->idb_list_head != nullptr) {
        tessel_prf_db_idb_item_type *item = prf->idb_list_head;
        prf->idb_list_head = item->next;
        if (item->idb != nullptr && item->idb->profile_db == prf) {
            item->idb->profile_db = nullptr;
        }
        tessel_free(item);
    }
    tessel_master_db_destroy(&prf->prf_config.master_table);
    tessel_slave_db_destroy(&prf->prf_config.slave_table);
    tessel_free(prf->prf_config.interop_cfg);
    tessel_free(prf);
}

bool tessel_cfg_prf_master_entry_remove_walker(tessel_master_db_type *entry, void *context)
{
    auto *ctx = static_cast<tessel_cfg_prf_entry_remove_ctx_type *>(context);
    tessel_master_db_type *applied = nullptr;
    if (tessel_master_db_find(&ctx->idb->applied_config.master_table, &entry->address, &applied) == 0) {
        tessel_master_db_remove(&ctx->idb->applied_config.master_table, applied);
        ctx->changed = true;
    }
    return true;
}

bool tessel_cfg_prf_slave_entry_remove_walker(tessel_slave_db_type *entry, void *context)
{
    auto *ctx = static_cast<tessel_cfg_prf_entry_remove_ctx_type *>(context);
    tessel_slave_db_type *applied = nullptr;
    if (tessel_slave_db_find(&ctx->idb->applied_config.slave_table, &entry->address, &applied) == 0) {
        tessel_slave_db_remove(&ctx->idb->applied_config.slave_table, applied);
        ctx->changed = true;
    }
    return true;
}

// ---- Profile items -------------------------------------------------------------------------------

namespace {

// A profile item whose value is one field of the profile's record: the check that reads it (and
// the profile name and the delete flag from the item), the item's configured bit, the field.
template <typename V>
struct prf_field_type {
    zerrno (*check)(uint32_t event, const bgen_value_td *value, V *out, const bgen_args_td *args, char *name,
                    bool *is_delete);
    uint32_t bit;
    V tessel_if_config_type::*field;
};

template <typename V>
void prf_field_notify(const prf_field_type<V> &item, const nodra_notify_event_info_td *event, void *context,
                      const bgen_args_td *args)
{
    TESSEL_ASSERT(context != nullptr);
    const bgen_value_td nv = new_value(event);
    char name[PTP_PROFILE_NAME_MAX + 1] = {};
    bool is_delete = false;
    V value{};
    const zerrno rc = item.check(event->event, &nv, &value, args, name, &is_delete);
    prf_scalar(context, rc, name, is_delete, item.bit, [&](tessel_if_config_type &c) { c.*item.field = value; });
}

// The checks, in the one form the table takes: no result record and no error text (the items were
// verified before commit), no old value.
#define PRF_CHECK_(check)                                                                                              \
    [](uint32_t ev, const bgen_value_td *nv, auto *out, const bgen_args_td *args, char *name, bool *del) {             \
        return check(ev, nv, nullptr, nullptr, out, args, name, del);                                                  \
    }
#define PRF_CHECK_PREV_(check)                                                                                         \
    [](uint32_t ev, const bgen_value_td *nv, auto *out, const bgen_args_td *args, char *name, bool *del) {             \
        return check(ev, nv, nullptr, nullptr, out, nullptr, nullptr, args, name, del);                                \
    }
#define PRF_CHECK_MSG_(check)                                                                                          \
    [](uint32_t ev, const bgen_value_td *nv, uint32_t *out, const bgen_args_td *args, char *name, bool *del) {         \
        return check(args->bg_ident, ev, nv, nullptr, nullptr, out, args, name, del);                                  \
    }
constexpr auto ttl_check = [](uint32_t ev, const bgen_value_td *nv, uint32_t *out, const bgen_args_td *args, char *name,
                              bool *del) { return ptp_cfg_profile_check_ttl(ev, nv, out, args, name, del); };

using u32_field = prf_field_type<uint32_t>;
using ivl_field = prf_field_type<int32_t>;
using TC = tessel_if_config_type;

// clang-format off
constexpr u32_field TRANSPORT{PRF_CHECK_(ptp_cfg_profile_check_encap), TESSEL_CFG_MASK_ENCAP, &TC::encap};
constexpr u32_field CLOCK_OPERATION{PRF_CHECK_PREV_(ptp_cfg_profile_check_clock_operation), TESSEL_CFG_MASK_CLOCK_OPERATION, &TC::clock_operation};
constexpr ivl_field ANNOUNCE_INTERVAL{PRF_CHECK_PREV_(ptp_cfg_profile_check_annce_ivl), TESSEL_CFG_MASK_ANNOUNCE_INTERVAL, &TC::announce_interval};
constexpr ivl_field SYNC_INTERVAL{PRF_CHECK_PREV_(ptp_cfg_profile_check_sync_ivl), TESSEL_CFG_MASK_SYNC_INTERVAL, &TC::sync_interval};
constexpr u32_field ANNOUNCE_TIMEOUT{PRF_CHECK_(ptp_cfg_profile_check_annce_tout), TESSEL_CFG_MASK_ANNOUNCE_TIMEOUT, &TC::announce_timeout};
constexpr ivl_field DELAY_REQ_INTERVAL{PRF_CHECK_PREV_(ptp_cfg_profile_check_dr_min_ivl), TESSEL_CFG_MASK_DELAY_REQ_INTERVAL, &TC::delay_req_interval};
constexpr u32_field PORT_STATE{PRF_CHECK_(ptp_cfg_profile_check_port_state), TESSEL_CFG_MASK_PORT_STATE, &TC::port_state};
// By the row identifier: both classes, general, event.
constexpr u32_field COS[] = {
    {PRF_CHECK_(ptp_cfg_profile_check_cos), TESSEL_CFG_MASK_COS, &TC::cos},
    {PRF_CHECK_(ptp_cfg_profile_check_cos), TESSEL_CFG_MASK_GENERAL_COS, &TC::general_cos},
    {PRF_CHECK_(ptp_cfg_profile_check_cos), TESSEL_CFG_MASK_EVENT_COS, &TC::event_cos},
};
constexpr u32_field DSCP[] = {
    {PRF_CHECK_(ptp_cfg_profile_check_dscp), TESSEL_CFG_MASK_DSCP, &TC::dscp},
    {PRF_CHECK_(ptp_cfg_profile_check_dscp), TESSEL_CFG_MASK_GENERAL_DSCP, &TC::general_dscp},
    {PRF_CHECK_(ptp_cfg_profile_check_dscp), TESSEL_CFG_MASK_EVENT_DSCP, &TC::event_dscp},
};
constexpr u32_field IPV4_TTL{ttl_check, TESSEL_CFG_MASK_IPV4_TTL, &TC::ipv4_ttl};
constexpr u32_field IPV6_HOP_LIMIT{ttl_check, TESSEL_CFG_MASK_IPV6_HOP_LIMIT, &TC::ipv6_hop_limit};
constexpr u32_field ANNOUNCE_GRANT{PRF_CHECK_MSG_(ptp_cfg_profile_check_unicast_grant_duration), TESSEL_CFG_MASK_ANNOUNCE_GRANT_DURATION, &TC::announce_grant_duration};
constexpr u32_field SYNC_GRANT{PRF_CHECK_MSG_(ptp_cfg_profile_check_unicast_grant_duration), TESSEL_CFG_MASK_SYNC_GRANT_DURATION, &TC::sync_grant_duration};
constexpr u32_field DELAY_RESP_GRANT{PRF_CHECK_MSG_(ptp_cfg_profile_check_unicast_grant_duration), TESSEL_CFG_MASK_DELAY_RESP_GRANT_DURATION, &TC::delay_resp_grant_duration};
constexpr u32_field SYNC_TIMEOUT{PRF_CHECK_MSG_(ptp_cfg_profile_check_message_timeout), TESSEL_CFG_MASK_SYNC_TIMEOUT, &TC::sync_timeout};
constexpr u32_field DELAY_RESP_TIMEOUT{PRF_CHECK_MSG_(ptp_cfg_profile_check_message_timeout), TESSEL_CFG_MASK_DELAY_RESP_TIMEOUT, &TC::delay_resp_timeout};
constexpr u32_field INVALID_GRANT{PRF_CHECK_(ptp_cfg_profile_check_unicast_grant_invalid_request), TESSEL_CFG_MASK_DENY_INVALID_GRANTS, &TC::deny_invalid_grants};
constexpr u32_field LOCAL_PRIORITY{PRF_CHECK_(ptp_cfg_profile_check_local_priority), TESSEL_CFG_MASK_LOCAL_PRIORITY, &TC::local_priority};
constexpr prf_field_type<ptp_delay_asymmetry_type> DELAY_ASYMMETRY{PRF_CHECK_PREV_(ptp_cfg_profile_check_delay_asymmetry), TESSEL_CFG_MASK_DELAY_ASYMMETRY, &TC::delay_asymmetry};
// clang-format on
#undef PRF_CHECK_
#undef PRF_CHECK_PREV_
#undef PRF_CHECK_MSG_

// The item of a handler that serves one per row identifier.
const u32_field &by_class(const u32_field (&items)[3], const bgen_args_td *args)
{
    TESSEL_ASSERT(args->bg_ident < 3);
    return items[args->bg_ident];
}

const u32_field &by_message(const bgen_args_td *args, const u32_field *announce, const u32_field *sync,
                            const u32_field *delay_resp)
{
    const u32_field *item = nullptr;
    switch (args->bg_ident) {
    case PTP_MSG_ANNOUNCE: item = announce; break;
    case PTP_MSG_SYNC: item = sync; break;
    case PTP_MSG_DELAY_RESP: item = delay_resp; break;
    default: break;
    }
    TESSEL_ASSERT(item != nullptr && "Unknown config item");
    return *item;
}

} // namespace

void tessel_cfg_gl_prf_notify_transport(const nodra_notify_event_info_td *event, void *context,
                                        const bgen_args_td *args)
{
    prf_field_notify(TRANSPORT, event, context, args);
}

void tessel_cfg_gl_prf_notify_clock_operation(const nodra_notify_event_info_td *event, void *context,
                                              const bgen_args_td *args)
{
    prf_field_notify(CLOCK_OPERATION, event, context, args);
}

void tessel_cfg_gl_prf_notify_annce_ivl(const nodra_notify_event_info_td *event, void *context,
                                        const bgen_args_td *args)
{
    prf_field_notify(ANNOUNCE_INTERVAL, event, context, args);
}

void tessel_cfg_gl_prf_notify_sync_ivl(const nodra_notify_event_info_td *event, void *context, const bgen_args_td *args)
{
    prf_field_notify(SYNC_INTERVAL, event, context, args);
}

void tessel_cfg_gl_prf_notify_annce_tout(const nodra_notify_event_info_td *event, void *context,
                                         const bgen_args_td *args)
{
    prf_field_notify(ANNOUNCE_TIMEOUT, event, context, args);
}

void tessel_cfg_gl_prf_notify_dr_min_ivl(const nodra_notify_event_info_td *event, void *context,
                                         const bgen_args_td *args)
{
    prf_field_notify(DELAY_REQ_INTERVAL, event, context, args);
}

void tessel_cfg_gl_prf_notify_multicast(const nodra_notify_event_info_td *event, void *context,
                                        const bgen_args_td *args)
{
    TESSEL_ASSERT(context != nullptr);
    const bgen_value_td nv = new_value(event);
    char name[PTP_PROFILE_NAME_MAX + 1] = {};
    bool is_delete = false;
    uint32_t mode = PTP_TRANSPORT_UNICAST;
    ptp_address_type addr{};
    zerrno rc = ptp_cfg_profile_check_multicast(event->event, &nv, nullptr, nullptr, &mode, &addr, nullptr, nullptr,
                                                nullptr, args, name, &is_delete);
    if (rc == 0 && !is_delete && mode != PTP_TRANSPORT_UNICAST && !tessel_intf_caps_supports_multicast()) {
        rc = PTP_ZERR_CARD_NO_MULTICAST;
    }
    tessel_prf_db_type *prf = prf_for_item(context, rc, name);
    if (prf == nullptr) {
        return;
    }
    // The transport and its destination address are two items of the profile.
    constexpr uint32_t bits = TESSEL_CFG_MASK_TRANSPORT | TESSEL_CFG_MASK_MULTICAST_ADDRESS;
    if (is_delete) {
        prf->prf_config_flags &= ~bits;
    } else {
        prf->prf_config.transport = mode;
        prf->prf_config.multicast_address = addr;
        prf->prf_config_flags |= bits;
        prf->has_config = 1;
    }
    prf_item_done(prf, is_delete);
}

void tessel_cfg_gl_prf_notify_port_state(const nodra_notify_event_info_td *event, void *context,
                                         const bgen_args_td *args)
{
    prf_field_notify(PORT_STATE, event, context, args);
}

void tessel_cfg_gl_prf_notify_source_ip(const nodra_notify_event_info_td *event, void *context,
                                        const bgen_args_td *args)
{
    TESSEL_ASSERT(context != nullptr);
    const bgen_value_td nv = new_value(event);
    char name[PTP_PROFILE_NAME_MAX + 1] = {};
    bool is_delete = false;
    ptp_source_ip_data_type source{};
    const zerrno rc =
        ptp_cfg_profile_check_source_ip(event->event, &nv, nullptr, nullptr, &source, args, name, &is_delete);
    prf_scalar(context, rc, name, is_delete, TESSEL_CFG_MASK_SOURCE_IP, [&](tessel_if_config_type &c) {
        c.source_ip.enable = source.enable;
        // Held as the address bytes in network order, as the interface addresses are.
        std::memcpy(&c.source_ip.address, source.ip_address, sizeof(c.source_ip.address));
    });
}

void tessel_cfg_gl_prf_notify_source_ipv6(const nodra_notify_event_info_td *event, void *context,
                                          const bgen_args_td *args)
{
    TESSEL_ASSERT(context != nullptr);
    const bgen_value_td nv = new_value(event);
    char name[PTP_PROFILE_NAME_MAX + 1] = {};
    bool is_delete = false;
    ptp_source_ipv6_data_type source{};
    const zerrno rc =
        ptp_cfg_profile_check_source_ipv6(event->event, &nv, nullptr, nullptr, &source, args, name, &is_delete);
    prf_scalar(context, rc, name, is_delete, TESSEL_CFG_MASK_SOURCE_IPV6, [&](tessel_if_config_type &c) {
        c.source_ipv6.enable = source.enable;
        std::memcpy(c.source_ipv6.address, source.ip_address, sizeof(c.source_ipv6.address));
    });
}

void tessel_cfg_gl_prf_notify_cos(const nodra_notify_event_info_td *event, void *context, const bgen_args_td *args)
{
    prf_field_notify(by_class(COS, args), event, context, args);
}

void tessel_cfg_gl_prf_notify_dscp(const nodra_notify_event_info_td *event, void *context, const bgen_args_td *args)
{
    prf_field_notify(by_class(DSCP, args), event, context, args);
}

void tessel_cfg_gl_prf_notify_ipv4_ttl(const nodra_notify_event_info_td *event, void *context, const bgen_args_td *args)
{
    prf_field_notify(IPV4_TTL, event, context, args);
}

void tessel_cfg_gl_prf_notify_ipv6_hop_limit(const nodra_notify_event_info_td *event, void *context,
                                             const bgen_args_td *args)
{
    prf_field_notify(IPV6_HOP_LIMIT, event, context, args);
}

void tessel_cfg_gl_prf_notify_unicast_grant_duration(const nodra_notify_event_info_td *event, void *context,
                                                     const bgen_args_td *args)
{
    prf_field_notify(by_message(args, &ANNOUNCE_GRANT, &SYNC_GRANT, &DELAY_RESP_GRANT), event, context, args);
}

void tessel_cfg_gl_prf_notify_message_timeout(const nodra_notify_event_info_td *event, void *context,
                                              const bgen_args_td *args)
{
    prf_field_notify(by_message(args, nullptr, &SYNC_TIMEOUT, &DELAY_RESP_TIMEOUT), event, context, args);
}

void tessel_cfg_gl_prf_notify_unicast_grant_invalid_request(const nodra_notify_event_info_td *event, void *context,
                                                            const bgen_args_td *args)
{
    prf_field_notify(INVALID_GRANT, event, context, args);
}

void tessel_cfg_gl_prf_notify_local_priority(const nodra_notify_event_info_td *event, void *context,
                                             const bgen_args_td *args)
{
    prf_field_notify(LOCAL_PRIORITY, event, context, args);
}

void tessel_cfg_gl_prf_notify_delay_asymmetry(const nodra_notify_event_info_td *event, void *context,
                                              const bgen_args_td *args)
{
    prf_field_notify(DELAY_ASYMMETRY, event, context, args);
}

// ---- Profile master and slave tables ---------------------------------------------------------------

namespace {

// A master-table item whose value is one field of the entry: the check, the field's presence bit
// (set by the item, cleared by its delete, which also zeroes the field) and the field.
template <typename V>
struct master_field_type {
    zerrno (*check)(uint32_t event, const bgen_value_td *value, V *out, ptp_address_type *addr,
                    const bgen_args_td *args, char *name, bool *is_delete);
    uint8_t bit;
    V tessel_master_db_type::*field;
};

template <typename V>
void prf_master_field_notify(const master_field_type<V> &item, const nodra_notify_event_info_td *event, void *context,
                             const bgen_args_td *args)
{
    TESSEL_ASSERT(context != nullptr);
    const bgen_value_td nv = new_value(event);
    char name[PTP_PROFILE_NAME_MAX + 1] = {};
    bool is_delete = false;
    ptp_address_type addr{};
    V value{};
    const zerrno rc = item.check(event->event, &nv, &value, &addr, args, name, &is_delete);
    prf_master(context, rc, name, is_delete, addr, item.bit, item.bit,
               [&](tessel_master_db_type *e, bool deleting) { e->*item.field = deleting ? V{} : value; });
}

#define MASTER_CHECK_(check)                                                                                           \
    [](uint32_t ev, const bgen_value_td *nv, auto *out, ptp_address_type *addr, const bgen_args_td *args, char *name,  \
       bool *del) { return check(ev, nv, nullptr, nullptr, out, addr, args, name, del); }
using TM = tessel_master_db_type;
// clang-format off
constexpr master_field_type<uint32_t> MASTER_PRIORITY{MASTER_CHECK_(ptp_cfg_profile_check_master_priority), TESSEL_MASTER_DB_PRIORITY_SET, &TM::priority};
constexpr master_field_type<uint32_t> MASTER_MULTICAST{MASTER_CHECK_(ptp_cfg_profile_check_master_multicast), TESSEL_MASTER_DB_MULTICAST_SET, &TM::multicast};
constexpr master_field_type<uint32_t> MASTER_CLOCK_CLASS{MASTER_CHECK_(ptp_cfg_profile_check_master_clock_class), TESSEL_MASTER_DB_CLOCK_CLASS_SET, &TM::clock_class};
constexpr master_field_type<ptp_delay_asymmetry_type> MASTER_DELAY_ASYMMETRY{MASTER_CHECK_(ptp_cfg_profile_check_master_delay_asymmetry), TESSEL_MASTER_DB_DELAY_ASYMMETRY_SET, &TM::delay_asymmetry};
// clang-format on
#undef MASTER_CHECK_

} // namespace

void tessel_cfg_gl_prf_notify_master_enable(const nodra_notify_event_info_td *event, void *context,
                                            const bgen_args_td *args)
{
    TESSEL_ASSERT(context != nullptr);
    const bgen_value_td nv = new_value(event);
    char name[PTP_PROFILE_NAME_MAX + 1] = {};
    bool is_delete = false;
    ptp_address_type addr{};
    const zerrno rc =
        ptp_cfg_profile_check_master_enable(event->event, &nv, nullptr, nullptr, &addr, args, name, &is_delete);
    prf_master(context, rc, name, is_delete, addr, TESSEL_MASTER_DB_ENABLE_SET, TESSEL_MASTER_DB_ENABLE_SET,
               [](tessel_master_db_type *, bool) {});
}

void tessel_cfg_gl_prf_notify_master_priority(const nodra_notify_event_info_td *event, void *context,
                                              const bgen_args_td *args)
{
    prf_master_field_notify(MASTER_PRIORITY, event, context, args);
}

void tessel_cfg_gl_prf_notify_master_multicast(const nodra_notify_event_info_td *event, void *context,
                                               const bgen_args_td *args)
{
    prf_master_field_notify(MASTER_MULTICAST, event, context, args);
}

void tessel_cfg_gl_prf_notify_master_clock_class(const nodra_notify_event_info_td *event, void *context,
                                                 const bgen_args_td *args)
{
    prf_master_field_notify(MASTER_CLOCK_CLASS, event, context, args);
}

void tessel_cfg_gl_prf_notify_master_delay_asymmetry(const nodra_notify_event_info_td *event, void *context,
                                                     const bgen_args_td *args)
{
    prf_master_field_notify(MASTER_DELAY_ASYMMETRY, event, context, args);
}

void tessel_cfg_gl_prf_notify_master_nonnegotiated(const nodra_notify_event_info_td *event, void *context,
                                                   const bgen_args_td *args)
{
    TESSEL_ASSERT(context != nullptr);
    const bgen_value_td nv = new_value(event);
    char name[PTP_PROFILE_NAME_MAX + 1] = {};
    bool is_delete = false;
    ptp_address_type addr{};
    uint32_t flag = 0;
    const zerrno rc = ptp_cfg_profile_check_master_nonnegotiated(event->event, &nv, nullptr, nullptr, &flag, &addr,
                                                                 args, name, &is_delete);
    prf_master(context, rc, name, is_delete, addr, TESSEL_MASTER_DB_NON_NEGOTIATED_SET,
               TESSEL_MASTER_DB_NON_NEGOTIATED_SET | TESSEL_MASTER_DB_NON_NEGOTIATED,
               [&](tessel_master_db_type *e, bool deleting) {
                   if (!deleting && flag != 0) {
                       e->flags |= TESSEL_MASTER_DB_NON_NEGOTIATED;
                   } else {
                       e->flags &= static_cast<uint8_t>(~TESSEL_MASTER_DB_NON_NEGOTIATED);
                   }
               });
}

void tessel_cfg_gl_prf_notify_slave_nonnegotiated(const nodra_notify_event_info_td *event, void *context,
                                                  const bgen_args_td *args)
{
    TESSEL_ASSERT(context != nullptr);
    const bgen_value_td nv = new_value(event);
    char name[PTP_PROFILE_NAME_MAX + 1] = {};
    bool is_delete = false;
    ptp_address_type addr{};
    uint32_t flag = 0;
    const zerrno rc = ptp_cfg_profile_check_slave_nonnegotiated(event->event, &nv, nullptr, nullptr, &flag, &addr, args,
                                                                name, &is_delete);
    tessel_prf_db_type *prf = prf_for_item(context, rc, name);
    if (prf == nullptr) {
        return;
    }
    tessel_slave_table_type *table = &prf->prf_config.slave_table;
    tessel_slave_db_type *entry = nullptr;
    (void)tessel_slave_db_find(table, &addr, &entry);
    if (!is_delete) {
        if (entry == nullptr) {
            const zerrno add_rc = tessel_slave_db_add(table, &addr, &entry);
            if (add_rc != 0) {
                tessel_cfg_result_set(context, add_rc);
                return;
            }
        }
        entry->flags |= TESSEL_SLAVE_DB_CONFIGURED | TESSEL_SLAVE_DB_NON_NEGOTIATED;
        prf->has_config = 1;
    } else if (entry != nullptr) {
        tessel_slave_db_remove(table, entry);
    }
    prf_item_done(prf, is_delete,
                  [&addr](tessel_ipc_idb_type *idb) { return tessel_cfg_if_merge_slave_entry(idb, &addr); });
}

// ---- Profile interoperation items -----------------------------------------------------------------

namespace {

using interop_check_fn = zerrno (*)(uint32_t event, const bgen_value_td *nv, uint32_t *verify_result, char **err_text,
                                    uint32_t *value, const bgen_args_td *args, char *name, bool *is_delete);

// An interoperation item of one value, ingress or egress (first: the ingress item's number).
void prf_interop_value_notify(interop_check_fn check, uint32_t first, const nodra_notify_event_info_td *event,
                              void *context, const bgen_args_td *args)
{
    TESSEL_ASSERT(context != nullptr);
    const uint32_t item = interop_item(args, first);
    const bgen_value_td nv = new_value(event);
    char name[PTP_PROFILE_NAME_MAX + 1] = {};
    bool is_delete = false;
    uint32_t value = 0;
    const zerrno rc = check(event->event, &nv, nullptr, nullptr, &value, args, name, &is_delete);
    prf_interop(context, rc, name, is_delete,
                [&](tessel_interop_config_type *cfg) { tessel_cfg_interop_set_value(cfg, item, is_delete, value, 0); });
}

// An interoperation item that names the peer's side, set into the record by set.
void prf_interop_set_notify(interop_check_fn check, void (*set)(tessel_interop_config_type *, bool, uint32_t),
                            const nodra_notify_event_info_td *event, void *context, const bgen_args_td *args)
{
    TESSEL_ASSERT(context != nullptr);
    const bgen_value_td nv = new_value(event);
    char name[PTP_PROFILE_NAME_MAX + 1] = {};
    bool is_delete = false;
    uint32_t value = 0;
    const zerrno rc = check(event->event, &nv, nullptr, nullptr, &value, args, name, &is_delete);
    prf_interop(context, rc, name, is_delete, [&](tessel_interop_config_type *cfg) { set(cfg, is_delete, value); });
}

} // namespace

void tessel_cfg_gl_prf_notify_interop_profile(const nodra_notify_event_info_td *event, void *context,
                                              const bgen_args_td *args)
{
    prf_interop_set_notify(ptp_cfg_profile_check_interop_profile, tessel_cfg_interop_set_profile, event, context, args);
}

void tessel_cfg_gl_prf_notify_interop_domain(const nodra_notify_event_info_td *event, void *context,
                                             const bgen_args_td *args)
{
    prf_interop_set_notify(ptp_cfg_profile_check_interop_domain, tessel_cfg_interop_set_domain, event, context, args);
}

void tessel_cfg_gl_prf_notify_interop_priority(const nodra_notify_event_info_td *event, void *context,
                                               const bgen_args_td *args)
{
    TESSEL_ASSERT(context != nullptr);
    const uint32_t item = args->bg_ident;
    const uint32_t in = item % TESSEL_CFG_INTEROP_EGRESS_OFFSET;
    TESSEL_ASSERT((in == TESSEL_CFG_INTEROP_PRIORITY1 || in == TESSEL_CFG_INTEROP_PRIORITY2) &&
                  item < 2 * TESSEL_CFG_INTEROP_EGRESS_OFFSET && "Unknown config item");
    const bgen_value_td nv = new_value(event);
    char name[PTP_PROFILE_NAME_MAX + 1] = {};
    bool is_delete = false;
    uint32_t priority = 0;
    const zerrno rc =
        ptp_cfg_profile_check_interop_priority(event->event, &nv, nullptr, nullptr, &priority, args, name, &is_delete);
    prf_interop(context, rc, name, is_delete, [&](tessel_interop_config_type *cfg) {
        tessel_cfg_interop_set_value(cfg, item, is_delete, priority, 0);
    });
}

void tessel_cfg_gl_prf_notify_interop_clock_accuracy(const nodra_notify_event_info_td *event, void *context,
                                                     const bgen_args_td *args)
{
    prf_interop_value_notify(ptp_cfg_profile_check_interop_clock_accuracy, TESSEL_CFG_INTEROP_CLOCK_ACCURACY, event,
                             context, args);
}

void tessel_cfg_gl_prf_notify_interop_oslv(const nodra_notify_event_info_td *event, void *context,
                                           const bgen_args_td *args)
{
    prf_interop_value_notify(ptp_cfg_profile_check_interop_oslv, TESSEL_CFG_INTEROP_OSLV, event, context, args);
}

void tessel_cfg_gl_prf_notify_interop_clock_class_default(const nodra_notify_event_info_td *event, void *context,
                                                          const bgen_args_td *args)
{
    prf_interop_value_notify(ptp_cfg_profile_check_interop_clock_class_default, TESSEL_CFG_INTEROP_CLOCK_CLASS_DEFAULT,
                             event, context, args);
}

void tessel_cfg_gl_prf_notify_interop_clock_class_mapping(const nodra_notify_event_info_td *event, void *context,
                                                          const bgen_args_td *args)
{
    TESSEL_ASSERT(context != nullptr);
    const uint32_t item = interop_item(args, TESSEL_CFG_INTEROP_CLOCK_CLASS_MAPPING);
    const bgen_value_td nv = new_value(event);
    char name[PTP_PROFILE_NAME_MAX + 1] = {};
    bool is_delete = false;
    uint32_t from_class = 0;
    uint32_t to_class = 0;
    const zerrno rc = ptp_cfg_profile_check_interop_clock_class_mapping(event->event, &nv, nullptr, nullptr,
                                                                        &from_class, &to_class, args, name, &is_delete);
    prf_interop(context, rc, name, is_delete, [&](tessel_interop_config_type *cfg) {
        tessel_cfg_interop_set_value(cfg, item, is_delete, to_class, from_class);
    });
}
