#include "tessel_db.h"

#include "tessel_assert.h"
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "ptp_address.h"
#include "ptp_alloc.h"
#include "ptp_debug.h"
#include "ptp_syslog.h"
#include "ptp_trace_points.h"
#include "tessel_alloc.h"
#include "tessel_debug_areas.h"

namespace {

// The agent's database debug area.
constexpr uint32_t DB_DEBUG_AREA = tessel_debug_area("database");

const char *db_label()
{
    return ptp_debug_area_label(DB_DEBUG_AREA);
}

[[gnu::format(printf, 2, 3)]] void db_debug(ifhtype ifhandle, const char *format, ...)
{
    const debug_event_type *table = ptp_debug_table_get();
    if (!ptp_debug_enabled(table, DB_DEBUG_AREA)) {
        return;
    }
    va_list args;
    va_start(args, format);
    ptp_debug_vprint(DB_DEBUG_AREA, ifhandle, PTP_DEBUG_LEVEL_SUPPORT, table, format, args);
    va_end(args);
}

jotlog_handle_type det()
{
    return ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_DET);
}
jotlog_handle_type unq()
{
    return ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_UNQ);
}

// A key row for the name tree. Lookups cut the name to the 63 characters an IDB keeps; a walk's
// start name keeps all 64 bytes the tree compares, so that a longer start name sorts after the
// IDB stored under its first 63 characters.
struct name_key_row {
    avl2_node_type node{};
    char ifname[TESSEL_DB_IFNAME_SIZE]{};
    explicit name_key_row(const char *name, size_t keep = TESSEL_DB_IFNAME_SIZE - 1)
    {
        std::memcpy(ifname, name, strnlen(name, keep));
    }
};

} // namespace

zerrno tessel_db_init(tessel_db_info_type *db)
{
    if (!avl2_init(&db->tree, AVL2_CMP_NAME64, nullptr)) {
        ptp_syslog_init_failed("Failed to initialise the IDB tree: ", zerr_strerror(PTP_ZERR_DB_INIT));
        ptp_trace<PTP_TRACE_TESSEL_DB_TREE_INIT_FAILED>({det(), unq()});
        return PTP_ZERR_DB_INIT;
    }
    int rc = ptp_hash_table_create(1, TESSEL_DB_HASH_INITIAL_BUCKETS, TESSEL_DB_HASH_MAX_BUCKETS, nullptr, nullptr,
                                   sizeof(ifhtype), &db->hash);
    if (rc != 0) {
        ptp_syslog_init_failed("Failed to initialise the interface hash table", zerr_strerror(static_cast<zerrno>(rc)));
        ptp_trace<PTP_TRACE_TESSEL_DB_HASH_INIT_FAILED>({det(), unq()});
        return static_cast<zerrno>(rc);
    }
    db->count = 0;
    return ZERR_OK;
}

zerrno tessel_db_create(const char *ifname, size_t record_size, tessel_db_info_type *db, void **out_idb)
{
    TESSEL_ASSERT(record_size >= sizeof(tessel_db_h_type));
    *out_idb = nullptr;
    auto *header = static_cast<tessel_db_h_type *>(tessel_calloc(1, record_size));
    if (header == nullptr) {
        ptp_alloc_failure_report(record_size, "IDB create");
        return PTP_ZERR_NOMEM;
    }
    std::strncpy(header->ifname, ifname, TESSEL_DB_IFNAME_SIZE - 1);
    db_debug(header->ifhandle, "%s: %s: Creating and inserting a new idb into %s database", db_label(), header->ifname,
             db->name);
    if (avl2_insert(&db->tree, &header->node) == nullptr) {
        tessel_free(header);
        return PTP_ZERR_DB_ENTRY_EXISTS;
    }
    db->count++;
    ptp_trace<PTP_TRACE_TESSEL_DB_IDB_CREATED>({det()}, header->ifname, db->name);
    *out_idb = header;
    return ZERR_OK;
}

void tessel_db_add_ifhandle(ifhtype ifhandle, tessel_db_info_type *db, tessel_db_h_type *header)
{
    ptp_hash_node_type *found = ptp_hash_table_lookup(db->hash, &ifhandle);
    if (found != nullptr) {
        // A handle belongs to at most one IDB.
        [[maybe_unused]] auto *owner =
            reinterpret_cast<tessel_db_h_type *>(reinterpret_cast<uint8_t *>(found) - offsetof(tessel_db_h_type, hash));
        TESSEL_ASSERT(std::strncmp(owner->ifname, header->ifname, TESSEL_DB_IFNAME_SIZE) == 0);
        return;
    }
    if (header->hash.pprev != nullptr) {
        // Re-keying an indexed IDB: take it out under its old handle first, or the table would
        // keep it in the old handle's chain.
        ptp_hash_table_remove(db->hash, &header->hash);
    }
    header->ifhandle = ifhandle;
    ptp_hash_table_insert(db->hash, &header->hash);
    db_debug(ifhandle, "%s: %s: Added interface handle 0x%8.8x to %s hash table", db_label(), header->ifname, ifhandle,
             db->name);
}

void tessel_db_remove_ifhandle(tessel_db_info_type *db, tessel_db_h_type *header)
{
    if (header->hash.pprev != nullptr) {
        ptp_hash_table_remove(db->hash, &header->hash);
        db_debug(header->ifhandle, "%s: %s: Removed interface from %s hash table", db_label(), header->ifname,
                 db->name);
    }
    header->ifhandle = 0;
}

zerrno tessel_db_get_by_ifhandle(ifhtype ifhandle, tessel_db_info_type *db, void **out_idb)
{
    ptp_hash_node_type *found = ptp_hash_table_lookup(db->hash, &ifhandle);
    if (found == nullptr) {
        *out_idb = nullptr;
        return PTP_ZERR_DB_NO_ENTRY;
    }
    *out_idb = reinterpret_cast<uint8_t *>(found) - offsetof(tessel_db_h_type, hash);
    return ZERR_OK;
}

zerrno tessel_db_get_by_ifname(const char *ifname, tessel_db_info_type *db, void **out_idb)
{
    name_key_row key(ifname);
    *out_idb = avl2_search(&db->tree, &key);
    return *out_idb != nullptr ? ZERR_OK : PTP_ZERR_DB_NO_ENTRY;
}

namespace {
struct walk_ctx {
    tessel_db_walk_fn callback;
    void *context;
};
bool walk_all(avl2_node_type *row, void *context)
{
    auto *ctx = static_cast<walk_ctx *>(context);
    return ctx->callback(row, ctx->context);
}
} // namespace

void tessel_db_walk(tessel_db_walk_fn callback, void *context, const char *start_ifname, bool skip_start,
                    tessel_db_info_type *db)
{
    if (start_ifname == nullptr) {
        walk_ctx ctx{callback, context};
        avl2_walk(&db->tree, walk_all, &ctx);
        return;
    }
    name_key_row key(start_ifname, TESSEL_DB_IFNAME_SIZE);
    avl2_node_type *row = skip_start ? avl2_get_greater(&db->tree, &key) : avl2_get_greater_equal(&db->tree, &key);
    while (row != nullptr) {
        // Fetch the successor first: the callback may delete the IDB it is given.
        avl2_node_type *next = avl2_get_next(&db->tree, row);
        callback(row, context);
        row = next;
    }
}

void tessel_db_delete(tessel_db_h_type **header_ref, tessel_db_info_type *db)
{
    TESSEL_ASSERT(header_ref != nullptr && *header_ref != nullptr);
    TESSEL_ASSERT(db->count > 0);
    tessel_db_h_type *header = *header_ref;
    db_debug(header->ifhandle, "%s: %s: Deleting interface from %s database", db_label(), header->ifname, db->name);
    if (header->hash.pprev != nullptr) {
        ptp_hash_table_remove(db->hash, &header->hash);
    }
    [[maybe_unused]] avl2_node_type *removed = avl2_delete(&db->tree, header);
    TESSEL_ASSERT(removed == &header->node);
    db->count--;
    ptp_trace<PTP_TRACE_TESSEL_DB_IDB_DELETED>({det()}, header->ifname, db->name);
    tessel_free(header);
    *header_ref = nullptr;
}

void tessel_db_cleanup(tessel_db_info_type *db)
{
    TESSEL_ASSERT(db->count == 0);
    avl2_destroy(&db->tree, nullptr);
    ptp_hash_table_free(db->hash);
    db->hash = nullptr;
}

bool tessel_db_ipv4_addr_list_equal(const uint32_t *list_a, uint32_t count_a, const uint32_t *list_b, uint32_t count_b)
{
    if (count_a != count_b) {
        return false;
    }
    return count_a == 0 || std::memcmp(list_a, list_b, count_a * sizeof(uint32_t)) == 0;
}

bool tessel_db_ipv6_addr_list_equal(const uint8_t (*list_a)[16], uint32_t count_a, const uint8_t (*list_b)[16],
                                    uint32_t count_b)
{
    if (count_a != count_b) {
        return false;
    }
    return count_a == 0 || std::memcmp(list_a, list_b, size_t{count_a} * 16u) == 0;
}
