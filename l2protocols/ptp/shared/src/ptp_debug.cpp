// Debug areas, filters and prints; trace buffers and the reporting context.
#include "ptp_debug.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ptp_report_ctx.h"
#include "ptp_syslog.h"

// The interface manager's name lookup. Declared weak: processes without an interface-manager
// client link without it, and a filter naming an interface is then refused.
zerrno imc_s_interface_find(void *conn_ctx, const char *name, uint32_t *ifhandle) __attribute__((weak));

namespace {

// Written at registration, before other threads run; read by prints from any thread.
std::atomic<bool> registered{false};
std::atomic<void *> im_conn_ctx{nullptr};
std::atomic<debug_event_type *> registered_table{nullptr};
std::atomic<const ptp_debug_component_type *> registered_components{nullptr};
std::atomic<uint32_t> registered_count{0};

// The published rows; their handles are atomics so that closing a buffer can forget them.
struct jotlog_ctx_row {
    const char *name = nullptr;
    uint32_t size[4] = {};
    std::atomic<jotlog_handle_type> handle{nullptr};
};
jotlog_ctx_row jotlog_ctx[PTP_JOTLOG_CTX_ROWS];

ptp_report_ctx_type utils_ctx;
ptp_report_ctx_type timer_ctx;

void forget_in(ptp_report_ctx_type &ctx, jotlog_handle_type handle)
{
    jotlog_handle_type h = handle;
    ctx.first.compare_exchange_strong(h, nullptr);
    h = handle;
    ctx.second.compare_exchange_strong(h, nullptr);
}

void init_failed(const char *prefix, zerrno rc)
{
    ptp_syslog_init_failed(prefix, zerr_strerror(rc));
}

// Parses "level[:interface[:ignored]]" into a new filter.
zerrno parse_filter(const char *value, uint32_t len, ptp_debug_filter_type **out)
{
    // The value comes from the operator through the debug facility: use no more than len bytes.
    std::string text(value, strnlen(value, len));
    auto *filter = static_cast<ptp_debug_filter_type *>(calloc(1, sizeof(ptp_debug_filter_type)));
    if (filter == nullptr)
        return PTP_ZERR_NOMEM;

    size_t colon = text.find(':');
    if (colon == std::string::npos) {
        free(filter);
        return PTP_ZERR_NOMEM;
    }
    std::string level = text.substr(0, colon);
    std::string ifname = text.substr(colon + 1);
    ifname = ifname.substr(0, ifname.find(':'));

    if (level == "support")
        filter->level = PTP_DEBUG_LEVEL_SUPPORT;
    else if (level == "internal")
        filter->level = PTP_DEBUG_LEVEL_INTERNAL;
    else if (!level.empty()) {
        free(filter);
        return PTP_ZERR_NOMEM;
    }

    if (!ifname.empty()) {
        filter->has_interface = 1;
        void *ctx = im_conn_ctx.load();
        zerrno rc = PTP_ZERR_NOMEM;
        if (ctx != nullptr && imc_s_interface_find != nullptr)
            rc = imc_s_interface_find(ctx, ifname.c_str(), &filter->ifhandle);
        if (rc != ZERR_OK && rc != PTP_IMC_FIND_OK_CODE) {
            free(filter);
            return PTP_ZERR_NOMEM;
        }
    }
    *out = filter;
    return ZERR_OK;
}

} // namespace

zerrno ptp_debug_register(event_mgr_type *evm, debug_event_type *table, const ptp_debug_component_type *components,
                          uint32_t count, void *im_ctx)
{
    im_conn_ctx = im_ctx;
    if (registered)
        return ZERR_OK;
    if (table == nullptr || components == nullptr || count == 0) {
        init_failed("Failed to initialize debug event: ", PTP_ZERR_INVALID_ARG);
        return PTP_ZERR_INVALID_ARG;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const ptp_debug_component_type &c = components[i];
        // An index outside the table would make the platform write past it.
        zerrno rc =
            c.index < count ? debug_init_event(&table[c.index], table, c.index, 7, c.name, 8) : PTP_ZERR_INVALID_ARG;
        if (rc != ZERR_OK) {
            init_failed("Failed to initialize debug event: ", rc);
            return rc;
        }
    }
    zerrno rc = debug_register(evm, PTP_DEBUG_PATH, table, count, ptp_debug_parse_cb_fn, nullptr);
    if (rc != ZERR_OK) {
        init_failed("Failed to register debug: ", rc);
        return rc;
    }
    registered_table = table;
    registered_components = components;
    registered_count = count;
    registered = true;
    return ZERR_OK;
}

void ptp_debug_cleanup()
{
    if (!registered.exchange(false))
        return;
    debug_cleanup(PTP_DEBUG_PATH);
    registered_table = nullptr;
    registered_components = nullptr;
    registered_count = 0;
}

void ptp_debug_vprint(uint32_t area, uint32_t ifhandle, uint32_t level, const debug_event_type *table,
                      const char *format, va_list args)
{
    if (!ptp_debug_enabled(table, area))
        return;
    ptp_debug_filter_params_type params{ifhandle, level};
    vbuginf(&table[area], &params, sizeof params, format, args);
}

void ptp_debug_print(uint32_t area, uint32_t ifhandle, uint32_t level, const debug_event_type *table,
                     const char *format, ...)
{
    if (!ptp_debug_enabled(table, area))
        return;
    va_list args;
    va_start(args, format);
    ptp_debug_vprint(area, ifhandle, level, table, format, args);
    va_end(args);
}

const char *ptp_debug_area_label(uint32_t area)
{
    const ptp_debug_component_type *components = registered_components.load();
    uint32_t count = registered_count.load();
    for (uint32_t i = 0; components != nullptr && i < count; ++i)
        if (components[i].index == area && components[i].label != nullptr)
            return components[i].label;
    return "";
}

debug_event_type *ptp_debug_table_get()
{
    return registered_table.load();
}

zerrno ptp_debug_parse_cb_fn(uint32_t op, debug_facility_ref_type *ref, void *)
{
    switch (op) {
    case DEBUG_OP_NONE: return ZERR_OK;
    case DEBUG_OP_PARSE: {
        uint32_t type = DEBUG_VALUE_NONE;
        const void *value = nullptr;
        uint32_t len = 0;
        zerrno rc = debug_get_type_value(ref, &type, &value, &len);
        if (rc != ZERR_OK)
            return rc;
        if (type != DEBUG_VALUE_TEXT || value == nullptr)
            return PTP_ZERR_INVALID_ARG;
        ptp_debug_filter_type *filter = nullptr;
        rc = parse_filter(static_cast<const char *>(value), len, &filter);
        if (rc != ZERR_OK)
            return rc;
        rc = debug_install_filter(ref, filter, ptp_debug_filter_match_cb_fn);
        if (rc != ZERR_OK)
            free(filter); // not installed, so nobody will release it
        return rc;
    }
    case DEBUG_OP_RELEASE: {
        void *filter = nullptr;
        zerrno rc = debug_get_app_reference(ref, &filter);
        free(filter);
        return rc;
    }
    default: return PTP_ZERR_INVALID_ARG;
    }
}

bool ptp_debug_filter_match_cb_fn(const void *params, const void *filter)
{
    if (filter == nullptr)
        return true;
    if (params == nullptr)
        return false;
    const auto *p = static_cast<const ptp_debug_filter_params_type *>(params);
    const auto *f = static_cast<const ptp_debug_filter_type *>(filter);
    if (p->level > f->level)
        return false;
    return f->has_interface == 0 || p->ifhandle == f->ifhandle;
}

zerrno ptp_jotlog_init(ptp_jotlog_buffer_type *table, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i) {
        ptp_jotlog_buffer_type &row = table[i];
        zerrno rc = jotlog_init2(row.name, row.size[2], row.size[3], row.size[0], row.size[1], 0, &row.handle);
        if (rc != ZERR_OK) {
            row.handle = nullptr;
            // Leave nothing half open: the process will not close a table that failed.
            ptp_jotlog_close(table, i);
            init_failed("Failed to initialize jotlog: ", rc);
            return rc;
        }
    }
    return ZERR_OK;
}

void ptp_jotlog_close(ptp_jotlog_buffer_type *table, uint32_t count)
{
    for (uint32_t i = 0; table != nullptr && i < count; ++i) {
        if (table[i].handle != nullptr) {
            ptp_report_ctx_forget(table[i].handle);
            jotlog_close(table[i].handle);
            table[i].handle = nullptr;
        }
    }
}

ptp_report_ctx_type &ptp_report_ctx_utils()
{
    return utils_ctx;
}
ptp_report_ctx_type &ptp_report_ctx_timer()
{
    return timer_ctx;
}

void ptp_report_ctx_forget(jotlog_handle_type handle)
{
    if (handle == nullptr)
        return;
    forget_in(utils_ctx, handle);
    forget_in(timer_ctx, handle);
    for (jotlog_ctx_row &row : jotlog_ctx) {
        jotlog_handle_type h = handle;
        row.handle.compare_exchange_strong(h, nullptr);
    }
}

void ptp_utils_debug_init(jotlog_handle_type first, jotlog_handle_type second, uint32_t area, debug_event_type *table)
{
    utils_ctx.first = first;
    utils_ctx.second = second;
    utils_ctx.area = area;
    utils_ctx.table = table;
}

void ptp_jotlog_ctx_set(ptp_jotlog_buffer_type det, ptp_jotlog_buffer_type sum, ptp_jotlog_buffer_type unq)
{
    const ptp_jotlog_buffer_type rows[PTP_JOTLOG_CTX_ROWS] = {det, sum, unq};
    for (uint32_t i = 0; i < PTP_JOTLOG_CTX_ROWS; ++i) {
        jotlog_ctx[i].name = rows[i].name;
        memcpy(jotlog_ctx[i].size, rows[i].size, sizeof rows[i].size);
        jotlog_ctx[i].handle = rows[i].handle;
    }
}

ptp_jotlog_buffer_type ptp_jotlog_ctx_get(uint32_t row)
{
    if (row >= PTP_JOTLOG_CTX_ROWS)
        return {};
    ptp_jotlog_buffer_type out{};
    out.name = jotlog_ctx[row].name;
    memcpy(out.size, jotlog_ctx[row].size, sizeof out.size);
    out.handle = jotlog_ctx[row].handle.load();
    return out;
}

jotlog_handle_type ptp_jotlog_ctx_handle(uint32_t row)
{
    return row < PTP_JOTLOG_CTX_ROWS ? jotlog_ctx[row].handle.load() : nullptr;
}
