// FIB reachability of IP peers.
#include "tessel_fib.h"

#include <cstring>
#include <tuple>
#include <vector>

#include "ptp_address.h"
#include "ptp_strings.h"
#include "ptp_syslog.h"
#include "tessel_assert.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_types.h"
#include "tessel_fsm_unicast.h"
#include "tessel_pm_log.h"
#include "tessel_proto_db.h"
#include "util_pulser.h"
#include "util_retry_handler_private.h"

namespace {

constexpr uint32_t TESSEL_AREA_FIB = tessel_debug_area("fib");
constexpr uint32_t FIB_COMPONENT_ID = 0xFE5;
constexpr uint32_t FIB_PROTOCOL_IPV4 = 2;  // AF_INET
constexpr uint32_t FIB_PROTOCOL_IPV6 = 10; // AF_INET6

#define FIB_DEBUG(ifh, format, ...) TESSEL_PM_DEBUG(TESSEL_AREA_FIB, ifh, format __VA_OPT__(, ) __VA_ARGS__)
#define FIB_DEBUG_ERR(ifh, format, ...) TESSEL_PM_DEBUG_ERR(TESSEL_AREA_FIB, ifh, format __VA_OPT__(, ) __VA_ARGS__)

struct fib_state_type {
    fib_ext_client_h ipv4 = nullptr;
    fib_ext_client_h ipv6 = nullptr;
    util_pulser_h_type *pulser = nullptr;
    util_retry_handler_type *retry_all = nullptr;
    util_retry_handler_type *retry_new = nullptr;
};

fib_state_type fib;

fib_ext_client_h handle_of(const ptp_address_type *addr)
{
    return addr->encap == PTP_ENCAP_IPV4 ? fib.ipv4 : (addr->encap == PTP_ENCAP_IPV6 ? fib.ipv6 : nullptr);
}

template <const ptp_trace_point_type &P>
void trace_addr(ifhtype ifh, const ptp_address_type *addr)
{
    ptp_trace_address<P>({tessel_pm_det()}, ifh, ptp_address_trace_value(addr), ptp_address_trace_mac_low(addr),
                         ptp_address_encap_get(addr));
}

zerrno client_init(event_mgr_type *evm, uint32_t version, fib_ext_client_h *out)
{
    FIB_DEBUG(0, "%s: Initializing connection to FIB external client library (IPv%u).", version);
    const fib_ext_client_params_st params{evm,
                                          version == 4 ? FIB_EXT_FAMILY_IPV4 : FIB_EXT_FAMILY_IPV6,
                                          FIB_COMPONENT_ID,
                                          "tessel",
                                          tessel_fib_extract_fec_prefix,
                                          version == 4 ? tessel_fib_ipv4_reconnect_cb : tessel_fib_ipv6_reconnect_cb};
    const zerrno rc = fib_ext_client_init_v2(&params, out);
    if (rc != 0) {
        *out = nullptr;
        ptp_syslog_init_failed(version == 4
                                   ? "Failed to initialize connection to FIB  external client library (IPv4): "
                                   : "Failed to initialize connection to FIB  external client library (IPv6): ",
                               zerr_strerror(rc));
        if (version == 4) {
            ptp_trace<PTP_TRACE_TESSEL_FIB_INIT_IPV4_FAILED>({tessel_pm_det(), tessel_pm_unq()}, rc);
        } else {
            ptp_trace<PTP_TRACE_TESSEL_FIB_INIT_IPV6_FAILED>({tessel_pm_det(), tessel_pm_unq()}, rc);
        }
    }
    return rc;
}

void retry_all_cb(util_retry_handler_type *, void *)
{
    tessel_fib_register_peers(1);
}

void retry_new_cb(util_retry_handler_type *, void *)
{
    tessel_fib_register_peers(0);
}

// Whether a peer takes part in the pass.
bool takes_part(const ptp_address_type *addr, const tessel_fib_info_type *info, const tessel_fib_walk_ctx_type *ctx)
{
    return tessel_fib_address_is_ip(addr) && handle_of(addr) != nullptr &&
           (ctx->all != 0 || !tessel_fib_info_registered(info));
}

void peer_walk(tessel_proto_idb_type *idb, const ptp_address_type *addr, tessel_fib_info_type *info,
               tessel_fib_walk_ctx_type *ctx)
{
    const ifhtype ifh = idb->header.ifhandle;
    if (ctx->mode == TESSEL_FIB_WALK_UNREGISTER) {
        if (tessel_fib_address_is_ip(addr) && handle_of(addr) != nullptr) {
            tessel_fib_unregister_peer(addr, ifh, info);
        }
        return;
    }
    if (!takes_part(addr, info, ctx)) {
        return;
    }
    const bool v4 = addr->encap == PTP_ENCAP_IPV4;
    switch (ctx->mode) {
    case TESSEL_FIB_WALK_COUNT: (v4 ? ctx->ipv4_count : ctx->ipv6_count)++; break;
    case TESSEL_FIB_WALK_FILL: {
        uint32_t &pos = v4 ? ctx->ipv4_count : ctx->ipv6_count;
        fib_ext_client_prefix_st *array = v4 ? ctx->ipv4_prefixes : ctx->ipv6_prefixes;
        tessel_fib_prepare_fec_prefix(&array[pos++], addr, ifh, idb->ipv4_vrf);
        FIB_DEBUG(ifh, "%s: Prepared prefix with VRF ID 0x%8.8x and interface handle 0x%8.8x for peer %s",
                  idb->ipv4_vrf, ifh, ptp_address_to_str(addr));
        break;
    }
    case TESSEL_FIB_WALK_MARK:
        // Only the family just registered: a family whose registration failed stays unregistered
        // so that the retry of new peers registers it.
        if (addr->encap == ctx->mark_family) {
            info->reg_flags |= TESSEL_FIB_INFO_REGISTERED;
            info->vrf_id = idb->ipv4_vrf;
        }
        break;
    default: break;
    }
}

void walk_all(tessel_fib_walk_ctx_type *ctx, uint32_t mode)
{
    ctx->mode = mode;
    ctx->ipv4_count = 0;
    ctx->ipv6_count = 0;
    tessel_proto_db_walk(tessel_fib_idb_walker, ctx, nullptr, false);
}

} // namespace

bool tessel_fib_address_is_ip(const ptp_address_type *addr)
{
    return addr != nullptr && (addr->encap == PTP_ENCAP_IPV4 || addr->encap == PTP_ENCAP_IPV6);
}

void tessel_fib_client_cleanup(fib_ext_client_h handle, uint32_t version)
{
    const zerrno rc = fib_ext_client_cleanup(handle);
    if (rc == 0) {
        FIB_DEBUG(0, "%s: FIB external client library cleanup for IPv%u connection successful", version);
    } else {
        FIB_DEBUG_ERR(0, "%s: [ERROR] FIB external client library cleanup for IPv%u connection failed: %s", version,
                      zerr_strerror(rc));
    }
}

zerrno tessel_fib_init(event_mgr_type *evm)
{
    zerrno rc = client_init(evm, 4, &fib.ipv4);
    if (rc == 0) {
        rc = client_init(evm, 6, &fib.ipv6);
    }
    if (rc != 0) {
        // Nothing of a failed start stays behind (the shutdown does not run for it).
        tessel_fib_close();
        return rc;
    }
    fib.pulser = util_pulser_create(evm, tessel_fib_pulser_cb, nullptr);
    // Each with a timer manager of its own; a failure that lasts goes to the system log.
    const util_retry_handler_init_type all = {evm,     "FIB_Retry_All_Reg",   retry_all_cb, nullptr,
                                              nullptr, util_retry_handler_log};
    fib.retry_all = util_retry_handler_create(&all);
    const util_retry_handler_init_type fresh = {evm,     "FIB_Retry_New_Reg",   retry_new_cb, nullptr,
                                                nullptr, util_retry_handler_log};
    fib.retry_new = util_retry_handler_create(&fresh);
    FIB_DEBUG(0, "%s: Connection to FIB external client library successfully initialized for IPv4 and IPv6");
    tessel_fib_client_cleanup(fib.ipv4, 4);
    tessel_fib_client_cleanup(fib.ipv6, 6);
    return 0;
}

void tessel_fib_close(void)
{
    if (fib.ipv4 != nullptr) {
        fib_ext_client_cleanup(fib.ipv4);
        fib.ipv4 = nullptr;
    }
    if (fib.ipv6 != nullptr) {
        fib_ext_client_cleanup(fib.ipv6);
        fib.ipv6 = nullptr;
    }
    util_pulser_destroy(&fib.pulser);
    if (fib.retry_all != nullptr) {
        util_retry_handler_destroy(&fib.retry_all);
    }
    if (fib.retry_new != nullptr) {
        util_retry_handler_destroy(&fib.retry_new);
    }
    FIB_DEBUG(0, "%s: Connection to FIB external client library closed.");
}

void tessel_fib_pulse(void)
{
    util_pulser_pulse(fib.pulser);
}

void tessel_fib_pulser_cb(void *)
{
    tessel_fib_register_peers(0);
}

bool tessel_fib_idb_walker(tessel_proto_idb_type *idb, void *context)
{
    auto *ctx = static_cast<tessel_fib_walk_ctx_type *>(context);
    for (avl2_node_type *n = avl2_get_first(&idb->fsm.foreign_master_table); n != nullptr;) {
        auto *fm = reinterpret_cast<ptp_fsm_foreign_master_type *>(n);
        n = avl2_get_next(&idb->fsm.foreign_master_table, n);
        tessel_fib_foreign_master_walker(idb, fm, ctx);
    }
    for (avl2_node_type *n = avl2_get_first(&idb->fsm.unicast_peer_tree); n != nullptr;) {
        auto *peer = reinterpret_cast<ptp_fsm_peer_entry_type *>(n);
        n = avl2_get_next(&idb->fsm.unicast_peer_tree, n);
        tessel_fib_unicast_peer_walker(idb, peer, ctx);
    }
    return true;
}

void tessel_fib_foreign_master_walker(tessel_proto_idb_type *idb, ptp_fsm_foreign_master_type *fm,
                                      tessel_fib_walk_ctx_type *ctx)
{
    peer_walk(idb, &fm->peer_addr, &fm->fib_info, ctx);
}

void tessel_fib_unicast_peer_walker(tessel_proto_idb_type *idb, ptp_fsm_peer_entry_type *peer,
                                    tessel_fib_walk_ctx_type *ctx)
{
    peer_walk(idb, &peer->peer_addr, &peer->fib_info, ctx);
}

void tessel_fib_prepare_fec_prefix(fib_ext_client_prefix_st *prefix, const ptp_address_type *addr, ifhtype ifhandle,
                                   uint32_t vrf_id)
{
    *prefix = fib_ext_client_prefix_st{};
    const bool v4 = addr->encap == PTP_ENCAP_IPV4;
    prefix->vrf_id = vrf_id;
    prefix->family = v4 ? FIB_EXT_FAMILY_IPV4 : FIB_EXT_FAMILY_IPV6;
    prefix->kind = TESSEL_FIB_PREFIX_KIND;
    prefix->ifhandle = ifhandle;
    std::memcpy(prefix->address, addr->value, v4 ? PTP_IPV4_ADDR_LEN : PTP_IPV6_ADDR_LEN);
    prefix->prefix_len = v4 ? 32 : 128;
}

zerrno tessel_fib_bulk_register(fib_ext_client_h handle, fib_ext_client_prefix_st *prefixes,
                                const tessel_fib_walk_ctx_type *ctx)
{
    const bool v4 = handle == fib.ipv4;
    const uint32_t count = v4 ? ctx->ipv4_count : ctx->ipv6_count;
    const uint32_t version = v4 ? 4 : 6;
    if (count == 0) {
        FIB_DEBUG(0, "%s: No peers in batch to register with FIB on IPv%u handle.", version);
        return 0;
    }
    const zerrno rc = fib_ext_client_bulk_reg_notif(handle, prefixes, count);
    if (rc != 0) {
        FIB_DEBUG_ERR(0, "%s: [ERROR] Attempt to register %u peers on IPv%u handle failed with error %s", count,
                      version, zerr_strerror(rc));
        return rc;
    }
    FIB_DEBUG(0, "%s: Successful registration of %u peer%s on IPv%u handle with FIB external client library", count,
              count == 1 ? "" : "s", version);
    return 0;
}

void tessel_fib_register_peers(uint32_t all)
{
    tessel_fib_walk_ctx_type ctx{};
    ctx.all = all;
    walk_all(&ctx, TESSEL_FIB_WALK_COUNT);
    if (ctx.ipv4_count == 0 && ctx.ipv6_count == 0) {
        return;
    }
    std::vector<fib_ext_client_prefix_st> ipv4(ctx.ipv4_count); // "FIB registration IPv4 prefixes"
    std::vector<fib_ext_client_prefix_st> ipv6(ctx.ipv6_count); // "FIB registration IPv6 prefixes"
    ctx.ipv4_prefixes = ipv4.data();
    ctx.ipv6_prefixes = ipv6.data();
    walk_all(&ctx, TESSEL_FIB_WALK_FILL);
    TESSEL_ASSERT(ctx.ipv4_count == ipv4.size() && ctx.ipv6_count == ipv6.size());

    zerrno rc = 0;
    for (const auto &[handle, array, family] :
         {std::tuple{fib.ipv4, ctx.ipv4_prefixes, static_cast<uint32_t>(PTP_ENCAP_IPV4)},
          std::tuple{fib.ipv6, ctx.ipv6_prefixes, static_cast<uint32_t>(PTP_ENCAP_IPV6)}}) {
        const uint32_t count = family == PTP_ENCAP_IPV4 ? ctx.ipv4_count : ctx.ipv6_count;
        if (count == 0) {
            continue;
        }
        rc = tessel_fib_bulk_register(handle, array, &ctx);
        if (rc != 0) {
            break;
        }
        tessel_fib_walk_ctx_type mark = ctx;
        mark.mark_family = family;
        mark.mode = TESSEL_FIB_WALK_MARK;
        tessel_proto_db_walk(tessel_fib_idb_walker, &mark, nullptr, false);
    }
    if (rc != 0) {
        util_retry_handler_start(all != 0 ? fib.retry_all : fib.retry_new);
        return;
    }
    for (util_retry_handler_type *h : {fib.retry_all, fib.retry_new}) {
        if (h != nullptr && util_retry_handler_is_running(h)) {
            util_retry_handler_reset(h);
            break;
        }
    }
}

void tessel_fib_extract_fec_prefix(const fib_ext_client_prefix_st *prefix, const uint8_t *nh_data)
{
    ptp_address_type addr{};
    if (prefix->family == FIB_EXT_FAMILY_IPV6) {
        ptp_address_set_ipv6(&addr, prefix->address);
    } else if (prefix->family == FIB_EXT_FAMILY_IPV4) {
        ptp_address_set_ipv4(&addr, prefix->address);
    } else {
        tessel_internal_error("Invalid address family", __FILE__, __LINE__);
    }
    const ifhtype ifh = prefix->ifhandle;
    FIB_DEBUG(ifh, "%s: Extracted prefix with address %s from FIB update", ptp_address_to_str(&addr));
    trace_addr<PTP_TRACE_TESSEL_FIB_PREFIX_EXTRACTED>(ifh, &addr);

    bool peer_matched = false;
    bool fm_matched = false;
    tessel_proto_idb_type *idb = nullptr;
    if (tessel_proto_db_get_by_ifhandle(ifh, &idb) == 0 && idb != nullptr) {
        const tessel_fib_update_type update{TESSEL_FIB_UPDATE_PRESENT, prefix->nh_len, nh_data};
        if (ptp_fsm_peer_entry_type *peer = ptp_fsm_unicast_peer_entry_find(idb, &addr); peer != nullptr) {
            peer->fib_info.update = update;
            peer_matched = true;
        }
        if (ptp_fsm_foreign_master_type *fm = ptp_fsm_proto_foreign_master_find(idb, &addr); fm != nullptr) {
            fm->fib_info.update = update;
            fm_matched = true;
        }
    }
    const char *version = prefix->family == FIB_EXT_FAMILY_IPV6 ? "IPv6" : "IPv4";
    if (!peer_matched && !fm_matched) {
        FIB_DEBUG(ifh,
                  "%s: Received next hop for %s peer with address %s from FIB, but no matching peer; unregistering "
                  "this peer from FIB.",
                  version, ptp_address_to_str(&addr));
        fib_ext_client_prefix_st unreg{};
        tessel_fib_prepare_fec_prefix(&unreg, &addr, ifh, prefix->vrf_id);
        if (fib_ext_client_h handle = handle_of(&addr); handle != nullptr) {
            fib_ext_client_bulk_unreg_notif(handle, &unreg, 1);
        }
        ptp_trace_address<PTP_TRACE_TESSEL_FIB_UPDATE_NO_PEER>(
            {tessel_pm_det()}, ifh, version, ptp_address_trace_value(&addr), ptp_address_trace_mac_low(&addr),
            ptp_address_encap_get(&addr));
        return;
    }
    FIB_DEBUG(ifh, "%s: Received update for %s %s with address %s from FIB external client library", version,
              peer_matched ? "unicast peer" : "foreign master", ptp_address_to_str(&addr));
    ptp_trace_address<PTP_TRACE_TESSEL_FIB_UPDATE>(
        {tessel_pm_det()}, ifh, version, peer_matched ? "unicast peer" : "foreign master",
        ptp_address_trace_value(&addr), ptp_address_trace_mac_low(&addr), ptp_address_encap_get(&addr));
}

void tessel_fib_unregister_peer(const ptp_address_type *addr, ifhtype ifhandle, tessel_fib_info_type *info)
{
    if (!tessel_fib_address_is_ip(addr)) {
        FIB_DEBUG_ERR(ifhandle,
                      "%s: Attempt to unregister peer of incorrect address type %s from FIB external "
                      "client library",
                      ptp_address_to_str(addr));
        ptp_trace<PTP_TRACE_TESSEL_FIB_UNREGISTER_BAD_TYPE>({tessel_pm_det()}, ifhandle,
                                                            addr != nullptr ? addr->encap : 0u);
        return;
    }
    fib_ext_client_prefix_st prefix{};
    tessel_fib_prepare_fec_prefix(&prefix, addr, ifhandle, info->vrf_id);
    fib_ext_client_h handle = handle_of(addr);
    const zerrno rc = handle != nullptr ? fib_ext_client_bulk_unreg_notif(handle, &prefix, 1) : 0;
    info->reg_flags &= ~TESSEL_FIB_INFO_REGISTERED;
    info->update = tessel_fib_update_type{};
    FIB_DEBUG(ifhandle, "%s: Unregister status %s for peer %s from FIB external client library", zerr_strerror(rc),
              ptp_address_to_str(addr));
    ptp_trace_address<PTP_TRACE_TESSEL_FIB_UNREGISTER>({tessel_pm_det()}, ifhandle, rc, ptp_address_trace_value(addr),
                                                       ptp_address_trace_mac_low(addr), ptp_address_encap_get(addr));
}

void tessel_fib_foreign_master_unregister(ptp_fsm_foreign_master_type *fm)
{
    if (!tessel_fib_info_registered(&fm->fib_info)) {
        return;
    }
    if (ptp_fsm_unicast_peer_entry_find(fm->port, &fm->peer_addr) != nullptr) {
        return;
    }
    tessel_fib_unregister_peer(&fm->peer_addr, fm->port->header.ifhandle, &fm->fib_info);
}

void tessel_fib_unicast_peer_unregister(ptp_fsm_peer_entry_type *peer)
{
    if (!tessel_fib_info_registered(&peer->fib_info)) {
        return;
    }
    if (ptp_fsm_proto_foreign_master_find(peer->port, &peer->peer_addr) != nullptr) {
        return;
    }
    tessel_fib_unregister_peer(&peer->peer_addr, peer->port->header.ifhandle, &peer->fib_info);
}

void tessel_fib_idb_unregister(tessel_proto_idb_type *idb)
{
    tessel_fib_walk_ctx_type ctx{};
    ctx.mode = TESSEL_FIB_WALK_UNREGISTER;
    ctx.idb = idb;
    tessel_fib_idb_walker(idb, &ctx);
    tessel_fib_pulse();
}

void tessel_fib_reconnect_cb_internal(fib_ext_client_h handle, uint32_t protocol)
{
    uint32_t version = 0;
    if (protocol == FIB_PROTOCOL_IPV4) {
        fib.ipv4 = handle;
        version = 4;
    } else if (protocol == FIB_PROTOCOL_IPV6) {
        fib.ipv6 = handle;
        version = 6;
    } else {
        tessel_internal_error("Incorrect protocol", __FILE__, __LINE__);
    }
    fib_ext_client_cleanup(handle);
    FIB_DEBUG(0, "%s: Beginning re-connect for FIB external client library for IPv%u connection", version);
    ptp_trace<PTP_TRACE_TESSEL_FIB_RECONNECT>({tessel_pm_det()}, version);
    tessel_fib_register_peers(1);
}

void tessel_fib_ipv4_reconnect_cb(fib_ext_client_h handle)
{
    tessel_fib_reconnect_cb_internal(handle, FIB_PROTOCOL_IPV4);
}

void tessel_fib_ipv6_reconnect_cb(fib_ext_client_h handle)
{
    tessel_fib_reconnect_cb_internal(handle, FIB_PROTOCOL_IPV6);
}
