#include "tessel_proto_db.h"

#include <cstring>

#include "ptp_address.h"
#include "tessel_alloc.h"
#include "tessel_assert.h"

// Thread check of the inter-thread module.
bool tessel_thread_ctrl_is_proto_thread();
// Packet I/O: the interface's source MAC from its Ethernet encapsulation attributes.
zerrno eth_encap_attr_src_mac_get(const uint8_t *ether_info, uint32_t ether_info_len, uint8_t mac[PTP_MAC_ADDR_LEN]);

namespace {

tessel_db_info_type proto_db;

void check_thread()
{
    TESSEL_ASSERT(tessel_thread_ctrl_is_proto_thread());
}

struct walk_ctx {
    tessel_proto_db_walk_fn callback;
    void *context;
};

bool walk_one(void *idb, void *context)
{
    auto *ctx = static_cast<walk_ctx *>(context);
    return ctx->callback(static_cast<tessel_proto_idb_type *>(idb), ctx->context);
}

struct addr_ctx {
    const ptp_address_type *address;
    tessel_proto_idb_type *found;
};

// True (go on) while the record does not own the address.
bool tessel_proto_db_check_copy_addr_idb(tessel_proto_idb_type *idb, void *context)
{
    auto *ctx = static_cast<addr_ctx *>(context);
    const ptp_address_type *want = ctx->address;
    ptp_address_type own{};
    bool owns = false;
    switch (want->encap) {
    case PTP_ENCAP_ETHERNET: {
        uint8_t mac[PTP_MAC_ADDR_LEN] = {};
        uint32_t len = idb->ether_info_len <= TESSEL_PROTO_IDB_ETHER_INFO_MAX ? idb->ether_info_len : 0;
        if (len > 0 && eth_encap_attr_src_mac_get(idb->ether_info, len, mac) == 0) {
            ptp_address_set_mac(&own, mac);
            owns = ptp_address_compare(want, &own) == 0;
        }
        break;
    }
    case PTP_ENCAP_IPV4:
        for (uint32_t i = 0; i < idb->ipv4_addr_count && !owns; i++) {
            ptp_address_set_ipv4(&own, reinterpret_cast<const uint8_t *>(&idb->ipv4_addr_list[i]));
            owns = ptp_address_compare(want, &own) == 0;
        }
        break;
    case PTP_ENCAP_IPV6:
        for (uint32_t i = 0; i < idb->ipv6_addr_count && !owns; i++) {
            ptp_address_set_ipv6(&own, idb->ipv6_addr_list[i]);
            owns = ptp_address_compare(want, &own) == 0;
        }
        break;
    default: break;
    }
    if (owns) {
        ctx->found = idb;
        return false;
    }
    return true;
}

} // namespace

zerrno tessel_proto_db_init()
{
    check_thread();
    proto_db = tessel_db_info_type{};
    proto_db.name = "Protocol Thread";
    return tessel_db_init(&proto_db);
}

void tessel_proto_db_cleanup()
{
    check_thread();
    tessel_db_cleanup(&proto_db);
}

zerrno tessel_proto_db_create(const char *ifname, tessel_proto_idb_type **out_idb)
{
    check_thread();
    void *idb = nullptr;
    zerrno rc = tessel_db_create(ifname, sizeof(tessel_proto_idb_type), &proto_db, &idb);
    *out_idb = static_cast<tessel_proto_idb_type *>(idb);
    return rc;
}

void tessel_proto_db_delete(tessel_proto_idb_type *idb)
{
    check_thread();
    tessel_free(idb->ipv4_addr_list);
    idb->ipv4_addr_list = nullptr;
    idb->ipv4_addr_count = 0;
    tessel_free(idb->ipv6_addr_list);
    idb->ipv6_addr_list = nullptr;
    idb->ipv6_addr_count = 0;
    // The record owns its interop copy too; freeing it here keeps a deleted port from leaking it.
    tessel_free(idb->config.interop_cfg);
    idb->config.interop_cfg = nullptr;
    tessel_db_h_type *header = &idb->header;
    tessel_db_delete(&header, &proto_db);
}

void tessel_proto_db_add_ifhandle(ifhtype ifhandle, tessel_proto_idb_type *idb)
{
    check_thread();
    tessel_db_add_ifhandle(ifhandle, &proto_db, &idb->header);
}

void tessel_proto_db_remove_ifhandle(tessel_proto_idb_type *idb)
{
    check_thread();
    tessel_db_remove_ifhandle(&proto_db, &idb->header);
}

zerrno tessel_proto_db_get_by_ifname(const char *ifname, tessel_proto_idb_type **out_idb)
{
    check_thread();
    void *idb = nullptr;
    zerrno rc = tessel_db_get_by_ifname(ifname, &proto_db, &idb);
    *out_idb = static_cast<tessel_proto_idb_type *>(idb);
    return rc;
}

zerrno tessel_proto_db_get_by_ifhandle(ifhtype ifhandle, tessel_proto_idb_type **out_idb)
{
    check_thread();
    void *idb = nullptr;
    zerrno rc = tessel_db_get_by_ifhandle(ifhandle, &proto_db, &idb);
    *out_idb = static_cast<tessel_proto_idb_type *>(idb);
    return rc;
}

void tessel_proto_db_walk(tessel_proto_db_walk_fn callback, void *context, const char *start_ifname, bool skip_start)
{
    check_thread();
    walk_ctx ctx{callback, context};
    tessel_db_walk(walk_one, &ctx, start_ifname, skip_start, &proto_db);
}

zerrno tessel_proto_db_get_by_addr(const ptp_address_type *address, tessel_proto_idb_type **out_idb)
{
    check_thread();
    addr_ctx ctx{address, nullptr};
    tessel_proto_db_walk(tessel_proto_db_check_copy_addr_idb, &ctx, nullptr, false);
    if (out_idb != nullptr) {
        *out_idb = ctx.found;
    }
    return ctx.found != nullptr ? ZERR_OK : TESSEL_PROTO_DB_ADDR_NOT_FOUND;
}
