#include "tessel_slave_db.h"

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

zerrno init_tree(tessel_slave_table_type *table)
{
    if (!tessel_addr_table::init<tessel_slave_table_type, tessel_slave_db_type>(table)) {
        ptp_debug_print(DB_DEBUG_AREA, 0, PTP_DEBUG_LEVEL_ERROR, ptp_debug_table_get(),
                        "%s: [ERROR] Failed to initialise a Slave DB tree", ptp_debug_area_label(DB_DEBUG_AREA));
        ptp_trace<PTP_TRACE_TESSEL_DB_SLAVE_TREE_INIT_FAILED>({det(), unq()});
        return PTP_ZERR_DB_INIT;
    }
    return ZERR_OK;
}

struct copy_ctx {
    tessel_slave_table_type *dst;
    bool ethernet_allowed;
    bool ipv6_allowed;
    const tessel_db_h_type *port;
    zerrno result;
};

bool copy_one(tessel_slave_db_type *src, void *context)
{
    auto *ctx = static_cast<copy_ctx *>(context);
    if ((src->address.encap == PTP_ENCAP_ETHERNET && !ctx->ethernet_allowed) ||
        (src->address.encap == PTP_ENCAP_IPV6 && !ctx->ipv6_allowed)) {
        if (ctx->port != nullptr) {
            ptp_syslog_prf_cfg_ignored("slave table", ctx->port->ifname);
            ptp_trace<PTP_TRACE_TESSEL_CFG_SLAVE_TABLE_IGNORED>({det(), unq()}, ctx->port->ifhandle);
        }
        return true;
    }
    tessel_slave_db_type *dst =
        tessel_addr_table::insert_new<tessel_slave_table_type, tessel_slave_db_type>(ctx->dst, &src->address);
    if (dst == nullptr) {
        ptp_alloc_failure_report(sizeof(tessel_slave_db_type), "Slave DB create");
        ctx->result = PTP_ZERR_NOMEM;
        return false;
    }
    dst->flags = src->flags & (TESSEL_SLAVE_DB_CONFIGURED | TESSEL_SLAVE_DB_NON_NEGOTIATED);
    return true;
}

} // namespace

zerrno tessel_slave_db_init(tessel_slave_table_type *table)
{
    return init_tree(table);
}

uint32_t tessel_slave_db_count(const tessel_slave_table_type *table)
{
    return table->count;
}

zerrno tessel_slave_db_add(tessel_slave_table_type *table, const ptp_address_type *address,
                           tessel_slave_db_type **out_entry)
{
    *out_entry = tessel_addr_table::insert_new<tessel_slave_table_type, tessel_slave_db_type>(table, address);
    if (*out_entry == nullptr) {
        ptp_alloc_failure_report(sizeof(tessel_slave_db_type), "Slave DB create");
        return PTP_ZERR_NOMEM;
    }
    return ZERR_OK;
}

zerrno tessel_slave_db_find(tessel_slave_table_type *table, const ptp_address_type *address,
                            tessel_slave_db_type **out_entry)
{
    *out_entry = tessel_addr_table::find<tessel_slave_table_type, tessel_slave_db_type>(table, address);
    return *out_entry != nullptr ? ZERR_OK : PTP_ZERR_DB_NO_ENTRY;
}

void tessel_slave_db_remove(tessel_slave_table_type *table, tessel_slave_db_type *entry)
{
    tessel_addr_table::remove(table, entry);
}

bool tessel_slave_db_walk(tessel_slave_db_walk_fn callback, tessel_slave_table_type *table, void *context)
{
    return tessel_addr_table::walk<tessel_slave_table_type, tessel_slave_db_type>(callback, table, context);
}

void tessel_slave_db_destroy(tessel_slave_table_type *table)
{
    tessel_addr_table::destroy(table);
}

zerrno tessel_slave_db_copy(tessel_slave_table_type *dst, tessel_slave_table_type *src, bool ethernet_allowed,
                            bool ipv6_allowed, const tessel_db_h_type *port)
{
    if (dst->count > 0) {
        tessel_slave_db_destroy(dst);
        if (zerrno rc = init_tree(dst); rc != ZERR_OK) {
            return rc;
        }
    }
    if (src->count == 0) {
        return ZERR_OK;
    }
    copy_ctx ctx{dst, ethernet_allowed, ipv6_allowed, port, ZERR_OK};
    tessel_slave_db_walk(copy_one, src, &ctx);
    return ctx.result;
}

zerrno tessel_slave_db_copy_all(tessel_slave_table_type *dst, tessel_slave_table_type *src)
{
    return tessel_slave_db_copy(dst, src, true, true, nullptr);
}
