#include "tessel_master_db.h"

#include "ptp_alloc.h"
#include "ptp_debug.h"
#include "ptp_syslog.h"
#include "ptp_trace_points.h"
#include "tessel_addr_table.h"
#include "tessel_debug_areas.h"

namespace {

// Tree failures print on the agent's database debug area.
constexpr uint32_t DB_DEBUG_AREA = tessel_debug_area("database");

jotlog_handle_type det()
{
    return ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_DET);
}
jotlog_handle_type unq()
{
    return ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_UNQ);
}

zerrno init_tree(tessel_master_table_type *table)
{
    if (!tessel_addr_table::init<tessel_master_table_type, tessel_master_db_type>(table)) {
        ptp_debug_print(DB_DEBUG_AREA, 0, PTP_DEBUG_LEVEL_ERROR, ptp_debug_table_get(),
                        "%s: [ERROR] Failed to initialise a Master DB tree", ptp_debug_area_label(DB_DEBUG_AREA));
        ptp_trace<PTP_TRACE_TESSEL_DB_MASTER_TREE_INIT_FAILED>({det(), unq()});
        return PTP_ZERR_DB_INIT;
    }
    return ZERR_OK;
}

struct copy_ctx {
    tessel_master_table_type *dst;
    bool ethernet_allowed;
    bool ipv6_allowed;
    bool multicast_allowed;
    const tessel_db_h_type *port;
    zerrno result;
};

template <const ptp_trace_point_type &POINT>
void ignored(const tessel_db_h_type *port, const char *what)
{
    if (port == nullptr) {
        return;
    }
    ptp_syslog_prf_cfg_ignored(what, port->ifname);
    ptp_trace<POINT>({det(), unq()}, port->ifhandle);
}

bool copy_one(tessel_master_db_type *src, void *context)
{
    auto *ctx = static_cast<copy_ctx *>(context);
    if ((src->address.encap == PTP_ENCAP_ETHERNET && !ctx->ethernet_allowed) ||
        (src->address.encap == PTP_ENCAP_IPV6 && !ctx->ipv6_allowed)) {
        ignored<PTP_TRACE_TESSEL_CFG_MASTER_TABLE_IGNORED>(ctx->port, "master table");
        return true;
    }
    tessel_master_db_type *dst =
        tessel_addr_table::insert_new<tessel_master_table_type, tessel_master_db_type>(ctx->dst, &src->address);
    if (dst == nullptr) {
        ptp_alloc_failure_report(sizeof(tessel_master_db_type), "Master DB create");
        ctx->result = PTP_ZERR_NOMEM;
        return false;
    }
    constexpr uint8_t copied = TESSEL_MASTER_DB_ENABLE_SET | TESSEL_MASTER_DB_PRIORITY_SET |
                               TESSEL_MASTER_DB_CLOCK_CLASS_SET | TESSEL_MASTER_DB_NON_NEGOTIATED |
                               TESSEL_MASTER_DB_NON_NEGOTIATED_SET | TESSEL_MASTER_DB_DELAY_ASYMMETRY_SET;
    dst->flags = src->flags & copied;
    dst->priority = src->priority;
    dst->clock_class = src->clock_class;
    dst->delay_asymmetry = src->delay_asymmetry;
    if (ctx->multicast_allowed || src->multicast == 0) {
        dst->multicast = src->multicast;
        dst->flags |= src->flags & TESSEL_MASTER_DB_MULTICAST_SET;
    } else if ((src->flags & TESSEL_MASTER_DB_MULTICAST_SET) != 0) {
        ignored<PTP_TRACE_TESSEL_CFG_MASTER_TABLE_MULTICAST_IGNORED>(ctx->port, "master table multicast");
    }
    return true;
}

} // namespace

zerrno tessel_master_db_init(tessel_master_table_type *table)
{
    return init_tree(table);
}

uint32_t tessel_master_db_count(const tessel_master_table_type *table)
{
    return table->count;
}

zerrno tessel_master_db_add(tessel_master_table_type *table, const ptp_address_type *address,
                            tessel_master_db_type **out_entry)
{
    *out_entry = tessel_addr_table::insert_new<tessel_master_table_type, tessel_master_db_type>(table, address);
    if (*out_entry == nullptr) {
        ptp_alloc_failure_report(sizeof(tessel_master_db_type), "Master DB create");
        return PTP_ZERR_NOMEM;
    }
    return ZERR_OK;
}

zerrno tessel_master_db_find(tessel_master_table_type *table, const ptp_address_type *address,
                             tessel_master_db_type **out_entry)
{
    *out_entry = tessel_addr_table::find<tessel_master_table_type, tessel_master_db_type>(table, address);
    return *out_entry != nullptr ? ZERR_OK : PTP_ZERR_DB_NO_ENTRY;
}

bool tessel_master_db_contains(tessel_master_table_type *table, const ptp_address_type *address)
{
    return tessel_addr_table::find<tessel_master_table_type, tessel_master_db_type>(table, address) != nullptr;
}

void tessel_master_db_remove(tessel_master_table_type *table, tessel_master_db_type *entry)
{
    tessel_addr_table::remove(table, entry);
}

bool tessel_master_db_walk(tessel_master_db_walk_fn callback, tessel_master_table_type *table, void *context)
{
    return tessel_addr_table::walk<tessel_master_table_type, tessel_master_db_type>(callback, table, context);
}

void tessel_master_db_destroy(tessel_master_table_type *table)
{
    tessel_addr_table::destroy(table);
}

zerrno tessel_master_db_copy(tessel_master_table_type *dst, tessel_master_table_type *src, bool ethernet_allowed,
                             bool ipv6_allowed, bool multicast_allowed, const tessel_db_h_type *port)
{
    if (dst->count > 0) {
        tessel_master_db_destroy(dst);
        if (zerrno rc = init_tree(dst); rc != ZERR_OK) {
            return rc;
        }
    }
    if (src->count == 0) {
        return ZERR_OK;
    }
    copy_ctx ctx{dst, ethernet_allowed, ipv6_allowed, multicast_allowed, port, ZERR_OK};
    tessel_master_db_walk(copy_one, src, &ctx);
    return ctx.result;
}

zerrno tessel_master_db_copy_all(tessel_master_table_type *dst, tessel_master_table_type *src)
{
    return tessel_master_db_copy(dst, src, true, true, true, nullptr);
}
