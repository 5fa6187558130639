#include "tessel_ipc_db.h"

#include "tessel_alloc.h"
#include "tessel_assert.h"

// Thread check of the inter-thread module.
bool tessel_thread_ctrl_is_proto_thread();

namespace {

tessel_db_info_type ipc_db;

// Only the IPC thread changes its database.
void check_not_proto_thread()
{
    TESSEL_ASSERT(!tessel_thread_ctrl_is_proto_thread());
}

struct walk_ctx {
    tessel_ipc_db_walk_fn callback;
    void *context;
};

bool walk_one(void *idb, void *context)
{
    auto *ctx = static_cast<walk_ctx *>(context);
    return ctx->callback(static_cast<tessel_ipc_idb_type *>(idb), ctx->context);
}

} // namespace

zerrno tessel_ipc_db_init()
{
    ipc_db = tessel_db_info_type{};
    ipc_db.name = "IPC Thread";
    return tessel_db_init(&ipc_db);
}

zerrno tessel_ipc_db_create(const char *ifname, tessel_ipc_idb_type **out_idb)
{
    check_not_proto_thread();
    void *idb = nullptr;
    zerrno rc = tessel_db_create(ifname, sizeof(tessel_ipc_idb_type), &ipc_db, &idb);
    *out_idb = static_cast<tessel_ipc_idb_type *>(idb);
    if (*out_idb != nullptr) {
        (*out_idb)->ipv4_addr_list = nullptr;
        (*out_idb)->ipv4_addr_count = 0;
        (*out_idb)->ipv6_addr_list = nullptr;
        (*out_idb)->ipv6_addr_count = 0;
    }
    return rc;
}

void tessel_ipc_db_add_ifhandle(ifhtype ifhandle, tessel_ipc_idb_type *idb)
{
    check_not_proto_thread();
    tessel_db_add_ifhandle(ifhandle, &ipc_db, &idb->header);
}

void tessel_ipc_db_delete(tessel_ipc_idb_type *idb)
{
    check_not_proto_thread();
    tessel_free(idb->ipv4_addr_list);
    idb->ipv4_addr_list = nullptr;
    idb->ipv4_addr_count = 0;
    tessel_free(idb->ipv6_addr_list);
    idb->ipv6_addr_list = nullptr;
    idb->ipv6_addr_count = 0;
    tessel_db_h_type *header = &idb->header;
    tessel_db_delete(&header, &ipc_db);
}

zerrno tessel_ipc_db_get_by_ifname(const char *ifname, tessel_ipc_idb_type **out_idb)
{
    void *idb = nullptr;
    zerrno rc = tessel_db_get_by_ifname(ifname, &ipc_db, &idb);
    *out_idb = static_cast<tessel_ipc_idb_type *>(idb);
    return rc;
}

zerrno tessel_ipc_db_get_by_ifhandle(ifhtype ifhandle, tessel_ipc_idb_type **out_idb)
{
    void *idb = nullptr;
    zerrno rc = tessel_db_get_by_ifhandle(ifhandle, &ipc_db, &idb);
    *out_idb = static_cast<tessel_ipc_idb_type *>(idb);
    return rc;
}

void tessel_ipc_db_walk(tessel_ipc_db_walk_fn callback, void *context, const char *start_ifname, bool skip_start)
{
    walk_ctx ctx{callback, context};
    tessel_db_walk(walk_one, &ctx, start_ifname, skip_start, &ipc_db);
}

uint32_t tessel_ipc_db_get_count()
{
    return ipc_db.count;
}

void tessel_ipc_db_destroy()
{
    tessel_db_cleanup(&ipc_db);
}
