// The port manager's per-interface part: the protocol thread's interface records kept in step
// with the IPC thread's (creation, update, deletion, database sync), packet-I/O attach results,
// port-number changes, and the readiness check that alone makes a port ready or not ready.
#include <algorithm>
#include <cstring>

#include "ptp_alloc.h"
#include "ptp_strings.h"
#include "ptp_zerr_codes.h"
#include "tessel_alloc.h"
#include "tessel_batch.h"
#include "tessel_fsm.h"
#include "tessel_fsm_types.h"
#include "tessel_if_config.h"
#include "tessel_ipc_db.h"
#include "tessel_issu.h"
#include "tessel_master_db.h"
#include "tessel_packet.h"
#include "tessel_pm_log.h"
#include "tessel_port_mgr.h"
#include "tessel_port_mgr_deps.h"
#include "tessel_port_mgr_state.h"
#include "tessel_proto_db.h"
#include "tessel_slave_db.h"
#include "tessel_stats.h"

namespace {

tessel_port_mgr_state_type &pm = tessel_port_mgr_state;

constexpr uint32_t IM_STATE_UP = 3;
constexpr size_t INTEROP_CONFIG_SIZE = 4120; // sizeof(tessel_interop_config_type)

constexpr uint64_t bit(uint32_t n)
{
    return 1ull << n;
}

#define IF_ARGS(idb) (idb)->header.ifname, (idb)->header.ifhandle

// The first failing readiness condition's debug text (its state name filled in), or null.
const char *not_ready_reason(const tessel_proto_idb_type *idb, const char **state_name)
{
    if (pm.ptp_enabled == 0) {
        return "%s: Interface %s (0x%8.8x) not ready as PTP is not enabled";
    }
    if (pm.local_clock_known == 0) {
        return "%s: Interface %s (0x%8.8x) not ready as local clock is not known";
    }
    if (tessel_bmc_get_global_bmc() == nullptr) {
        return "%s: Interface %s (0x%8.8x) not ready as best master clock is not known";
    }
    if (tessel_issu_get_issu_role() != TESSEL_ISSU_ROLE_PRIMARY) {
        return "%s: Interface %s (0x%8.8x) not ready as this instance of PTP is not in Primary ISSU role";
    }
    if (idb->port_num == 0) {
        return "%s: Interface %s (0x%8.8x) not ready as port number not assigned";
    }
    if (idb->header.ifhandle == 0) {
        return "%s: Interface %s (0x%8.8x) not ready as interface handle is not known";
    }
    if (idb->if_type == 0) {
        return "%s: Interface %s (0x%8.8x) not ready as interface type is not known";
    }
    if (idb->im_state != IM_STATE_UP) {
        *state_name = im_state_name(idb->im_state);
        return "%s: Interface %s (0x%8.8x) not ready as state is %s";
    }
    const uint32_t encap = idb->config.encap;
    const bool ip = encap == PTP_ENCAP_IPV4 || encap == PTP_ENCAP_IPV6;
    if (encap == PTP_ENCAP_ETHERNET || ip) {
        if ((encap == PTP_ENCAP_ETHERNET || !tessel_intf_caps_supports_platform_adjacency()) &&
            !ether_info_known(idb)) {
            return "%s: Interface %s (0x%8.8x) not ready as Ethernet info isn't known";
        }
        static constexpr uint8_t zero[PTP_IPV6_ADDR_LEN] = {};
        if (encap == PTP_ENCAP_IPV6 && std::memcmp(idb->ipv6_addr, zero, sizeof zero) == 0) {
            return "%s: Interface %s (0x%8.8x) not ready as IPv6 address isn't known";
        }
        if (encap == PTP_ENCAP_IPV4 && idb->ipv4_addr == TESSEL_PROTO_IDB_IPV4_ADDR_NONE) {
            return "%s: Interface %s (0x%8.8x) not ready as IPv4 address isn't known";
        }
        if (ip && !vrf_id_known(idb)) {
            return "%s: Interface %s (0x%8.8x) not ready as VRF ID isn't known";
        }
    }
    if (idb->is_spio_attached == 0 || idb->attached_encap != encap || idb->attached_ifhandle != idb->header.ifhandle) {
        return "%s: Interface %s (0x%8.8x) not ready as SPIO not attached with correct encap and handle";
    }
    return nullptr;
}

void tessel_port_mgr_if_reattach(tessel_proto_idb_type *idb)
{
    if (idb->header.ifhandle == 0) {
        return;
    }
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, idb->header.ifhandle,
                    "%s: %s (0x%8.8x) (Re)attaching to SPIO with encap %s. Was %sattached (ifh 0x%8.8x, encap %s).",
                    IF_ARGS(idb), ptp_address_encap_to_str(idb->config.encap), idb->is_spio_attached ? "" : "not ",
                    idb->attached_ifhandle, ptp_address_encap_to_str(idb->attached_encap));
    tessel_packet_detach(idb);
    tessel_port_mgr_readiness_check(idb, 0, true);
    tessel_packet_attach(idb);
}

// Copies the scalar items of the applied configuration; the tables, the interop record and the
// source addresses are not the protocol thread's to take over this way.
void copy_config_scalars(tessel_if_config_type *dst, const tessel_if_config_type *src)
{
    const tessel_master_table_type master = dst->master_table;
    const tessel_slave_table_type slave = dst->slave_table;
    tessel_interop_config_type *interop = dst->interop_cfg;
    *dst = *src;
    dst->master_table = master;
    dst->slave_table = slave;
    dst->interop_cfg = interop;
    dst->source_ip = {};
    dst->source_ipv6 = {};
}

zerrno copy_interop(tessel_proto_idb_type *idb, const tessel_ipc_idb_type *ipc)
{
    if (ipc->applied_config.interop_cfg == nullptr) {
        tessel_free(idb->config.interop_cfg);
        idb->config.interop_cfg = nullptr;
        return 0;
    }
    if (idb->config.interop_cfg == nullptr) {
        void *p = tessel_calloc(1, INTEROP_CONFIG_SIZE);
        if (p == nullptr) {
            ptp_alloc_failure_report(INTEROP_CONFIG_SIZE, "Proto thread interop config");
            return PTP_ZERR_NOMEM;
        }
        idb->config.interop_cfg = static_cast<tessel_interop_config_type *>(p);
    }
    std::memcpy(idb->config.interop_cfg, ipc->applied_config.interop_cfg, INTEROP_CONFIG_SIZE);
    return 0;
}

void copy_ipv4_list(tessel_proto_idb_type *idb, const tessel_ipc_idb_type *ipc)
{
    if (idb->ipv4_addr_count != ipc->ipv4_addr_count) {
        void *p = ipc->ipv4_addr_count == 0
                      ? nullptr
                      : tessel_realloc(idb->ipv4_addr_list, ipc->ipv4_addr_count * sizeof(uint32_t));
        if (ipc->ipv4_addr_count != 0 && p == nullptr) {
            ptp_alloc_failure_report(ipc->ipv4_addr_count * sizeof(uint32_t), "Tessel IPv4 proto address list");
            return;
        }
        if (ipc->ipv4_addr_count == 0) {
            tessel_free(idb->ipv4_addr_list);
        }
        idb->ipv4_addr_list = static_cast<uint32_t *>(p);
        idb->ipv4_addr_count = ipc->ipv4_addr_count;
    }
    if (idb->ipv4_addr_count != 0) {
        std::memcpy(idb->ipv4_addr_list, ipc->ipv4_addr_list, idb->ipv4_addr_count * sizeof(uint32_t));
    }
}

void copy_ipv6_list(tessel_proto_idb_type *idb, const tessel_ipc_idb_type *ipc)
{
    const size_t each = PTP_IPV6_ADDR_LEN;
    if (idb->ipv6_addr_count != ipc->ipv6_addr_count) {
        void *p =
            ipc->ipv6_addr_count == 0 ? nullptr : tessel_realloc(idb->ipv6_addr_list, ipc->ipv6_addr_count * each);
        if (ipc->ipv6_addr_count != 0 && p == nullptr) {
            ptp_alloc_failure_report(ipc->ipv6_addr_count * each, "Tessel IPv6 proto address list");
            return;
        }
        if (ipc->ipv6_addr_count == 0) {
            tessel_free(idb->ipv6_addr_list);
        }
        idb->ipv6_addr_list = static_cast<uint8_t(*)[PTP_IPV6_ADDR_LEN]>(p);
        idb->ipv6_addr_count = ipc->ipv6_addr_count;
    }
    if (idb->ipv6_addr_count != 0) {
        std::memcpy(idb->ipv6_addr_list, ipc->ipv6_addr_list, idb->ipv6_addr_count * each);
    }
}

void copy_ether_info(tessel_proto_idb_type *idb, const tessel_ipc_idb_type *ipc)
{
    if ((ipc->flags & TESSEL_IPC_FLAG_ETHER_INFO_KNOWN) != 0) {
        idb->flags |= TESSEL_PROTO_IDB_ETHER_INFO_KNOWN;
        const uint32_t len = ipc->ether_info_len <= TESSEL_PROTO_IDB_ETHER_INFO_MAX ? ipc->ether_info_len
                                                                                    : TESSEL_PROTO_IDB_ETHER_INFO_MAX;
        idb->ether_info_len = len;
        std::memcpy(idb->ether_info, ipc->ether_info, len);
    } else {
        idb->flags &= static_cast<uint16_t>(~TESSEL_PROTO_IDB_ETHER_INFO_KNOWN);
    }
}

void copy_vrf(tessel_proto_idb_type *idb, const tessel_ipc_idb_type *ipc)
{
    if ((ipc->flags & TESSEL_IPC_FLAG_VRF_ID_KNOWN) != 0) {
        idb->flags |= TESSEL_PROTO_IDB_VRF_ID_KNOWN;
        idb->ipv4_vrf = ipc->ipv4_vrf;
    } else {
        idb->flags &= static_cast<uint16_t>(~TESSEL_PROTO_IDB_VRF_ID_KNOWN);
    }
}

void index_by_handle(tessel_proto_idb_type *idb, ifhtype ifhandle)
{
    tessel_proto_db_add_ifhandle(ifhandle, idb);
    tessel_stats_intf_create_stats_entry(idb);
}

// One row per IPC update bit that copies a plain item: the bit, the change flag, the copy.
struct item_row_type {
    uint32_t ipc_bit;
    uint32_t change_flag;
    void (*copy)(tessel_proto_idb_type *idb, const tessel_ipc_idb_type *ipc);
};

#define CFG_ROW(b, flag, ...)                                                                                          \
    item_row_type                                                                                                      \
    {                                                                                                                  \
        b, flag, [](tessel_proto_idb_type *idb, const tessel_ipc_idb_type *ipc) {                                      \
            const tessel_if_config_type &a = ipc->applied_config;                                                      \
            tessel_if_config_type &c = idb->config;                                                                    \
            (void)a;                                                                                                   \
            (void)c;                                                                                                   \
            __VA_ARGS__;                                                                                               \
        }                                                                                                              \
    }

const item_row_type item_rows[] = {
    CFG_ROW(3, 0x10, c.clock_operation = a.clock_operation),
    CFG_ROW(4, 0x20, c.announce_interval = a.announce_interval),
    CFG_ROW(5, 0x40, c.sync_interval = a.sync_interval),
    CFG_ROW(6, 0x80, c.announce_timeout = a.announce_timeout),
    CFG_ROW(7, 0x100, c.delay_req_interval = a.delay_req_interval),
    CFG_ROW(9, 0x1000, c.transport = a.transport; c.multicast_address = a.multicast_address),
    CFG_ROW(10, 0x200, c.port_state = a.port_state),
    CFG_ROW(11, 0x100000, c.cos = a.cos; c.general_cos = a.general_cos; c.event_cos = a.event_cos),
    CFG_ROW(12, 0x200000, c.dscp = a.dscp; c.general_dscp = a.general_dscp; c.event_dscp = a.event_dscp),
    CFG_ROW(13, 0x2, copy_ether_info(idb, ipc)),
    CFG_ROW(14, 0, idb->im_state = ipc->im_state),
    CFG_ROW(15, 0x4, idb->ipv4_addr = ipc->applied_ipv4_addr),
    CFG_ROW(16, 0x4, std::memcpy(idb->ipv6_addr, ipc->applied_ipv6_addr, PTP_IPV6_ADDR_LEN)),
    CFG_ROW(17, 0x4, copy_vrf(idb, ipc)),
    CFG_ROW(19, 0, idb->if_type = static_cast<uint16_t>(ipc->if_type)),
    CFG_ROW(20, 0x2000, c.sync_timeout = a.sync_timeout),
    CFG_ROW(21, 0x4000, c.delay_resp_timeout = a.delay_resp_timeout),
    CFG_ROW(22, 0x8000, c.announce_grant_duration = a.announce_grant_duration),
    CFG_ROW(23, 0x10000, c.sync_grant_duration = a.sync_grant_duration),
    CFG_ROW(24, 0x20000, c.delay_resp_grant_duration = a.delay_resp_grant_duration),
    CFG_ROW(25, 0x40000, c.deny_invalid_grants = a.deny_invalid_grants),
    CFG_ROW(26, 0, c.local_priority = a.local_priority),
    CFG_ROW(35, 0x2000000, c.ipv4_ttl = a.ipv4_ttl),
    CFG_ROW(36, 0x4000000, c.ipv6_hop_limit = a.ipv6_hop_limit),
    CFG_ROW(37, 0x8000000, c.delay_asymmetry = a.delay_asymmetry),
    CFG_ROW(38, 0x10000000, copy_ipv4_list(idb, ipc)),
    CFG_ROW(39, 0x10000000, copy_ipv6_list(idb, ipc)),
};

// What the interface manager's rows set in a port. A report that only repeats what the port
// already has (a restarted agent's first report, of what the port was rebuilt with from the
// checkpoint) changes nothing, and must not restart the port as a change of them does.
struct im_view_type {
    uint16_t known;
    uint32_t ether_info_len;
    uint32_t ipv4_addr;
    uint32_t ipv4_vrf;
    uint8_t ipv6_addr[PTP_IPV6_ADDR_LEN];
    uint8_t ether_info[TESSEL_PROTO_IDB_ETHER_INFO_MAX];
};

im_view_type im_view(const tessel_proto_idb_type *idb)
{
    im_view_type v{};
    v.known = idb->flags & (TESSEL_PROTO_IDB_ETHER_INFO_KNOWN | TESSEL_PROTO_IDB_VRF_ID_KNOWN);
    v.ether_info_len = std::min<uint32_t>(idb->ether_info_len, TESSEL_PROTO_IDB_ETHER_INFO_MAX);
    std::memcpy(v.ether_info, idb->ether_info, v.ether_info_len);
    v.ipv4_addr = idb->ipv4_addr;
    v.ipv4_vrf = (idb->flags & TESSEL_PROTO_IDB_VRF_ID_KNOWN) != 0 ? idb->ipv4_vrf : 0;
    std::memcpy(v.ipv6_addr, idb->ipv6_addr, PTP_IPV6_ADDR_LEN);
    return v;
}

bool im_view_equal(const im_view_type &a, const im_view_type &b)
{
    return a.known == b.known && a.ether_info_len == b.ether_info_len && a.ipv4_addr == b.ipv4_addr &&
           a.ipv4_vrf == b.ipv4_vrf && std::memcmp(a.ipv6_addr, b.ipv6_addr, PTP_IPV6_ADDR_LEN) == 0 &&
           std::memcmp(a.ether_info, b.ether_info, a.ether_info_len) == 0;
}

// What a creation had set up before it failed.
struct create_progress_type {
    bool master = false;
    bool slave = false;
    bool peer_index = false;
    bool attach_queued = false;
};

// A record whose creation failed is taken out again: left in place, a later update or
// readiness check would run a state machine that was never initialised.
void discard_partial(tessel_proto_idb_type *idb, const create_progress_type &done)
{
    if (done.attach_queued) {
        tessel_packet_detach(idb);
    }
    if (done.master) {
        tessel_master_db_destroy(&idb->config.master_table);
    }
    if (done.slave) {
        tessel_slave_db_destroy(&idb->config.slave_table);
    }
    if (done.peer_index) {
        tessel_peer_index_idb_cleanup(idb);
    }
    tessel_stats_delete_intf_stats_entry(idb);
    tessel_proto_db_delete(idb);
}

void tessel_port_mgr_if_create(tessel_ipc_idb_type *ipc)
{
    const char *name = ipc->header.ifname;
    const ifhtype ifh = ipc->header.ifhandle;
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, ifh, "%s: Creating protocol thread IDB for interface %s (0x%8.8x)", name,
                    ifh);
    ptp_trace<PTP_TRACE_TESSEL_PM_IF_CREATE>({tessel_pm_det()}, ifh, ifh);
    tessel_proto_idb_type *idb = nullptr;
    create_progress_type done{};
    zerrno rc = tessel_proto_db_create(name, &idb);
    if (rc == 0 && (rc = tessel_master_db_init(&idb->config.master_table)) == 0) {
        done.master = true;
        rc = tessel_master_db_copy_all(&idb->config.master_table, &ipc->applied_config.master_table);
    }
    if (rc == 0 && (rc = tessel_slave_db_init(&idb->config.slave_table)) == 0) {
        done.slave = true;
        rc = tessel_slave_db_copy_all(&idb->config.slave_table, &ipc->applied_config.slave_table);
    }
    if (rc == 0 && (rc = tessel_peer_index_idb_init(idb)) == 0) {
        done.peer_index = true;
    }
    if (rc == 0 && ifh != 0) {
        index_by_handle(idb, ifh);
    }
    if (rc == 0) {
        rc = copy_interop(idb, ipc);
    }
    if (rc == 0) {
        idb->chkpt_obj_id = 0;
        idb->flags = 0;
        idb->ipv4_addr = ipc->applied_ipv4_addr;
        copy_ipv4_list(idb, ipc);
        copy_ipv6_list(idb, ipc);
        std::memcpy(idb->ipv6_addr, ipc->applied_ipv6_addr, PTP_IPV6_ADDR_LEN);
        idb->im_state = ipc->im_state;
        idb->if_type = static_cast<uint16_t>(ipc->if_type);
        if ((ipc->flags & TESSEL_IPC_FLAG_ETHER_INFO_KNOWN) != 0) {
            copy_ether_info(idb, ipc);
        }
        if ((ipc->flags & TESSEL_IPC_FLAG_VRF_ID_KNOWN) != 0) {
            copy_vrf(idb, ipc);
        }
        copy_config_scalars(&idb->config, &ipc->applied_config);
        if (pm.active != 0) {
            tessel_port_num_request_add(idb);
        }
        tessel_port_mgr_if_reattach(idb);
        done.attach_queued = idb->header.ifhandle != 0;
        rc = ptp_fsm_init(idb);
    }
    if (rc != 0) {
        TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, ifh,
                            "%s: [ERROR] Failed to create protocol thread IDB for interface %s (0x%8.8x)", name, ifh);
        ptp_trace<PTP_TRACE_TESSEL_PM_IF_CREATE_FAILED>({tessel_pm_det(), tessel_pm_unq()}, ifh, ifh, rc);
        if (idb != nullptr) {
            discard_partial(idb, done);
        }
        return;
    }
    ipc->flags &= ~TESSEL_IPC_FLAG_UPDATE_ALL;
    tessel_port_mgr_readiness_check(idb, 0, true);
}

} // namespace

void tessel_port_mgr_if_delete(tessel_proto_idb_type *idb)
{
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, idb->header.ifhandle,
                    "%s: Deleting protocol thread IDB for interface %s (0x%8.8x)", IF_ARGS(idb));
    ptp_trace<PTP_TRACE_TESSEL_PM_IF_DELETE>({tessel_pm_det()}, idb->header.ifhandle, idb->header.ifhandle);
    if (port_mgr_ready(idb)) {
        tessel_chkpt_if_delete(idb);
        idb->flags &= static_cast<uint16_t>(~TESSEL_PROTO_IDB_PORT_MGR_READY);
        ptp_fsm_not_ready(idb);
    }
    // The best-master list must not keep a freed record (nor read its freed foreign masters).
    tessel_bmc_if_delete(idb);
    ptp_fsm_shutdown(idb);
    tessel_packet_detach(idb);
    tessel_master_db_destroy(&idb->config.master_table);
    tessel_slave_db_destroy(&idb->config.slave_table);
    tessel_peer_index_idb_cleanup(idb);
    tessel_free(idb->config.interop_cfg);
    idb->config.interop_cfg = nullptr;
    if (idb->port_num != 0) {
        tessel_port_num_release_add(idb);
    }
    tessel_stats_delete_intf_stats_entry(idb);
    tessel_proto_db_delete(idb);
}

void tessel_port_mgr_readiness_check(tessel_proto_idb_type *idb, uint32_t change_flags, bool start)
{
    const ifhtype ifh = idb->header.ifhandle;
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, ifh, "%s: Checking readiness of interface %s (0x%8.8x)", IF_ARGS(idb));
    const char *state_name = nullptr;
    const char *reason = not_ready_reason(idb, &state_name);
    if (reason == nullptr) {
        if (port_mgr_ready(idb)) {
            TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, ifh, "%s: Interface %s (0x%8.8x) ready update. Change flags 0x%x",
                            IF_ARGS(idb), change_flags);
            tessel_stats_increment_proto_idb_event_counter(idb, TESSEL_PROTO_IDB_EVENT_READY_UPDATES);
            ptp_fsm_port_config_change(idb, change_flags);
        } else {
            TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, ifh, "%s: Interface %s (0x%8.8x) is now ready", IF_ARGS(idb));
            ptp_trace<PTP_TRACE_TESSEL_PM_IF_READY>({tessel_pm_det()}, ifh);
            tessel_stats_increment_proto_idb_event_counter(idb, TESSEL_PROTO_IDB_EVENT_READY_TRANSITIONS);
            if (start) {
                ptp_fsm_ready(idb);
            }
            idb->flags |= TESSEL_PROTO_IDB_PORT_MGR_READY;
        }
        tessel_port_mgr_chkpt_if_update(idb);
        return;
    }
    // Only the line-state text has a fourth argument; the others ignore it.
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, ifh, reason, IF_ARGS(idb), state_name != nullptr ? state_name : "");
    if (!port_mgr_ready(idb)) {
        return;
    }
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, ifh, "%s: Interface %s (0x%8.8x) no longer ready", IF_ARGS(idb));
    ptp_trace<PTP_TRACE_TESSEL_PM_IF_NOT_READY>({tessel_pm_det()}, ifh);
    tessel_stats_increment_proto_idb_event_counter(idb, TESSEL_PROTO_IDB_EVENT_READY_TRANSITIONS);
    idb->flags &= static_cast<uint16_t>(~TESSEL_PROTO_IDB_PORT_MGR_READY);
    tessel_chkpt_if_delete(idb);
    ptp_fsm_not_ready(idb);
}

void tessel_port_mgr_if_update(tessel_ipc_idb_type *ipc)
{
    const char *name = ipc->header.ifname;
    const ifhtype ifh = ipc->header.ifhandle;
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, ifh, "%s: Update received for interface %s (0x%8.8x), flags 0x%lx", name, ifh,
                    static_cast<unsigned long>(ipc->flags));
    if ((ipc->flags & TESSEL_IPC_FLAG_UPDATE_CREATED) != 0) {
        ipc->flags &= ~TESSEL_IPC_FLAG_UPDATE_CREATED;
        tessel_port_mgr_if_create(ipc);
        return;
    }
    tessel_proto_idb_type *idb = nullptr;
    if ((ipc->flags & TESSEL_IPC_FLAG_UPDATE_DELETED) != 0) {
        ipc->flags &= ~TESSEL_IPC_FLAG_UPDATE_DELETED;
        const zerrno rc = tessel_proto_db_get_by_ifname(name, &idb);
        if (rc == 0) {
            tessel_port_mgr_if_delete(idb);
        } else {
            TESSEL_PM_DEBUG_ERR(
                TESSEL_AREA_PORT_MGR, ifh,
                "%s: [ERROR] Failed to get protocol thread DB IDB to delete for interface %s (0x%8.8x): %s", name, ifh,
                zerr_strerror(rc));
            ptp_trace<PTP_TRACE_TESSEL_PM_IF_DELETE_LOOKUP_FAILED>({tessel_pm_det(), tessel_pm_unq()}, ifh, ifh, rc);
        }
        return;
    }
    if (const zerrno rc = tessel_proto_db_get_by_ifname(name, &idb); rc != 0) {
        TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, ifh,
                            "%s: [ERROR] Failed to get protocol thread DB IDB to update for interface %s (0x%8.8x): %s",
                            name, ifh, zerr_strerror(rc));
        ptp_trace<PTP_TRACE_TESSEL_PM_IF_UPDATE_LOOKUP_FAILED>({tessel_pm_det(), tessel_pm_unq()}, ifh, ifh, rc);
        return;
    }
    uint32_t change = 0;
    bool reattach_needed = false;
    bool stop = false;
    if ((ipc->flags & bit(2)) != 0) {
        ipc->flags &= ~bit(2);
        idb->config.encap = ipc->applied_config.encap;
        if (idb->packet_counters != nullptr) {
            tessel_stats_delete_peer_packet_counters(idb->packet_counters);
        }
        change |= 0x8;
        reattach_needed = true;
    }
    if ((ipc->flags & bit(8)) != 0) {
        ipc->flags &= ~bit(8);
        change |= 0x800;
        stop |= tessel_master_db_copy_all(&idb->config.master_table, &ipc->applied_config.master_table) != 0;
    }
    if ((ipc->flags & bit(33)) != 0) {
        ipc->flags &= ~bit(33);
        change |= 0x800000;
        stop |= tessel_slave_db_copy_all(&idb->config.slave_table, &ipc->applied_config.slave_table) != 0;
    }
    if ((ipc->flags & bit(34)) != 0) {
        ipc->flags &= ~bit(34);
        change |= 0x1000000;
        stop |= copy_interop(idb, ipc) != 0;
    }
    for (const item_row_type &row : item_rows) {
        if ((ipc->flags & bit(row.ipc_bit)) != 0) {
            ipc->flags &= ~bit(row.ipc_bit);
            const im_view_type before = im_view(idb);
            row.copy(idb, ipc);
            const bool im_row = row.change_flag == 0x2 || row.change_flag == 0x4;
            if (!im_row || !im_view_equal(before, im_view(idb))) {
                change |= row.change_flag;
            }
        }
    }
    if ((ipc->flags & bit(18)) != 0) {
        ipc->flags &= ~bit(18);
        // A handle, once known, stays: a different one for a record that has one is ignored.
        if (idb->header.ifhandle == 0 && ipc->header.ifhandle != 0) {
            index_by_handle(idb, ipc->header.ifhandle);
            change |= 0x400;
            reattach_needed = true;
        }
    }
    if (stop) {
        return;
    }
    if (reattach_needed) {
        tessel_port_mgr_if_reattach(idb);
    } else {
        tessel_port_mgr_readiness_check(idb, change, true);
    }
    // A new port-state configuration re-sorts the list whether or not the port re-attaches.
    if ((change & 0x200) != 0) {
        tessel_bmc_if_update(idb);
    }
}

void tessel_port_mgr_spio_attach_event(tessel_proto_idb_type *idb)
{
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, idb->header.ifhandle, "%s: %s (0x%8.8x) SPIO attach event: %sttached",
                    IF_ARGS(idb), idb->is_spio_attached ? "A" : "Not a");
    const bool secondary = tessel_issu_get_issu_role() == TESSEL_ISSU_ROLE_SECONDARY;
    if (tessel_chkpt_recovering != 0) {
        if (!secondary || idb->chkpt_obj_id != 0) {
            if (idb->is_spio_attached == 0 || tessel_chkpt_if_fsm_restore(idb) != 0) {
                tessel_port_mgr_if_delete(idb);
            }
            return;
        }
        // No checkpoint record: the secondary's view of the port is Initializing, no foreign master.
        const ptp_port_state_type initializing = PTP_PORT_STATE_INITIALIZING;
        ptp_fsm_issu_secondary_update(idb, &initializing, nullptr);
    }
    tessel_port_mgr_readiness_check(idb, 0, true);
}

void tessel_port_mgr_port_num_change(tessel_proto_idb_type *idb, uint16_t port_num)
{
    if (idb->port_num == port_num) {
        return;
    }
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, idb->header.ifhandle,
                    "%s: Port number change for interface %s (0x%8.8x). Was %u, now %u", IF_ARGS(idb),
                    static_cast<unsigned>(idb->port_num), static_cast<unsigned>(port_num));
    idb->port_num = port_num;
    tessel_port_mgr_readiness_check(idb, PTP_FSM_CHANGE_PORT_NUMBER, true);
}

// ---- Database sync ----

namespace {

bool master_entries_equal(const tessel_master_db_type *a, const tessel_master_db_type *b)
{
    if (a->flags != b->flags) {
        return false;
    }
    return ((a->flags & TESSEL_MASTER_DB_PRIORITY_SET) == 0 || a->priority == b->priority) &&
           ((a->flags & TESSEL_MASTER_DB_CLOCK_CLASS_SET) == 0 || a->clock_class == b->clock_class) &&
           ((a->flags & TESSEL_MASTER_DB_MULTICAST_SET) == 0 || a->multicast == b->multicast) &&
           ((a->flags & TESSEL_MASTER_DB_DELAY_ASYMMETRY_SET) == 0 || a->delay_asymmetry == b->delay_asymmetry);
}

struct master_cmp_ctx {
    tessel_master_table_type *other;
    bool differ;
};

bool master_cmp_one(tessel_master_db_type *entry, void *context)
{
    auto *ctx = static_cast<master_cmp_ctx *>(context);
    tessel_master_db_type *mine = nullptr;
    if (tessel_master_db_find(ctx->other, &entry->address, &mine) != 0 || !master_entries_equal(entry, mine)) {
        ctx->differ = true;
        return false;
    }
    return true;
}

bool master_tables_differ(tessel_master_table_type *ipc, tessel_master_table_type *proto)
{
    if (tessel_master_db_count(ipc) != tessel_master_db_count(proto)) {
        return true;
    }
    master_cmp_ctx ctx{proto, false};
    tessel_master_db_walk(master_cmp_one, ipc, &ctx);
    return ctx.differ;
}

struct slave_cmp_ctx {
    tessel_slave_table_type *other;
    bool differ;
};

bool slave_cmp_one(tessel_slave_db_type *entry, void *context)
{
    auto *ctx = static_cast<slave_cmp_ctx *>(context);
    tessel_slave_db_type *mine = nullptr;
    if (tessel_slave_db_find(ctx->other, &entry->address, &mine) != 0 ||
        (entry->flags & TESSEL_SLAVE_DB_NON_NEGOTIATED) != (mine->flags & TESSEL_SLAVE_DB_NON_NEGOTIATED)) {
        ctx->differ = true;
        return false;
    }
    return true;
}

bool slave_tables_differ(tessel_slave_table_type *ipc, tessel_slave_table_type *proto)
{
    if (tessel_slave_db_count(ipc) != tessel_slave_db_count(proto)) {
        return true;
    }
    slave_cmp_ctx ctx{proto, false};
    tessel_slave_db_walk(slave_cmp_one, ipc, &ctx);
    return ctx.differ;
}

template <typename T>
bool sync_field(T &mine, const T &theirs)
{
    if (std::memcmp(&mine, &theirs, sizeof(T)) == 0) {
        return false;
    }
    mine = theirs;
    return true;
}

bool tessel_port_mgr_db_sync_if(tessel_ipc_idb_type *ipc, void *)
{
    const char *name = ipc->header.ifname;
    const ifhtype ifh = ipc->header.ifhandle;
    if ((ipc->flags & TESSEL_IPC_FLAG_ENABLED) == 0) {
        TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, ifh,
                        "%s: DB Sync: Skipping sync of %s (0x%8.8x) as interface is not enabled", name, ifh);
        return true;
    }
    tessel_proto_idb_type *idb = nullptr;
    if (tessel_proto_db_get_by_ifname(name, &idb) != 0) {
        TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, ifh, "%s: DB Sync: Interface %s (0x%8.8x) did not exist, creating", name,
                        ifh);
        tessel_port_mgr_if_create(ipc);
        return true;
    }
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, ifh, "%s: DB Sync: Interface %s (0x%8.8x) found in both databases", name,
                    ifh);
    idb->flags &= static_cast<uint16_t>(~TESSEL_PROTO_IDB_PORT_MGR_MARK);
    // A restarted agent syncs as soon as the interface manager's (empty) first replay is done,
    // before the manager has answered the registration of the configured interfaces. A port
    // rebuilt from the checkpoint keeps what the manager had told it (type, line state, Ethernet
    // information, VRF, addresses) until the IPC record has heard from the manager (it has a type),
    // or the recovered port would be torn down and start again from Listen. The manager's report
    // then comes as an interface update.
    const bool im_reported = ipc->if_type != 0 || idb->chkpt_obj_id == 0;
    if (im_reported) {
        idb->if_type = static_cast<uint16_t>(ipc->if_type);
        idb->im_state = ipc->im_state;
    }
    uint32_t change = 0;
    bool reattach_needed = false;
    if (idb->header.ifhandle != ifh) {
        tessel_stats_delete_intf_stats_entry(idb);
        tessel_proto_db_remove_ifhandle(idb);
        if (ifh != 0) {
            index_by_handle(idb, ifh);
        }
        change |= 0x400;
        reattach_needed = true;
    }
    tessel_if_config_type &c = idb->config;
    tessel_if_config_type &a = ipc->applied_config;
    if (sync_field(c.encap, a.encap)) {
        change |= 0x8;
        reattach_needed = true;
    }
    change |= sync_field(c.clock_operation, a.clock_operation) ? 0x10 : 0;
    change |= sync_field(c.announce_interval, a.announce_interval) ? 0x20 : 0;
    change |= sync_field(c.sync_interval, a.sync_interval) ? 0x40 : 0;
    change |= sync_field(c.announce_timeout, a.announce_timeout) ? 0x80 : 0;
    change |= sync_field(c.delay_req_interval, a.delay_req_interval) ? 0x100 : 0;
    if (master_tables_differ(&a.master_table, &c.master_table)) {
        tessel_master_db_copy_all(&c.master_table, &a.master_table);
        change |= 0x800;
    }
    if (slave_tables_differ(&a.slave_table, &c.slave_table)) {
        tessel_slave_db_copy_all(&c.slave_table, &a.slave_table);
        change |= 0x800000;
    }
    const bool vrf_known = (ipc->flags & TESSEL_IPC_FLAG_VRF_ID_KNOWN) != 0;
    const bool ether_known = (ipc->flags & TESSEL_IPC_FLAG_ETHER_INFO_KNOWN) != 0;
    if (im_reported) {
        change |= sync_field(idb->ipv4_addr, ipc->applied_ipv4_addr) ? 0x4 : 0;
        if (std::memcmp(idb->ipv6_addr, ipc->applied_ipv6_addr, PTP_IPV6_ADDR_LEN) != 0) {
            std::memcpy(idb->ipv6_addr, ipc->applied_ipv6_addr, PTP_IPV6_ADDR_LEN);
            change |= 0x4;
        }
        if (vrf_known != vrf_id_known(idb) || (vrf_known && idb->ipv4_vrf != ipc->ipv4_vrf)) {
            copy_vrf(idb, ipc);
            change |= 0x4;
        }
        if (ether_known != ether_info_known(idb) ||
            (ether_known &&
             (idb->ether_info_len != ipc->ether_info_len ||
              std::memcmp(idb->ether_info, ipc->ether_info,
                          std::min<uint32_t>(ipc->ether_info_len, TESSEL_PROTO_IDB_ETHER_INFO_MAX)) != 0))) {
            copy_ether_info(idb, ipc);
            change |= 0x2;
        }
    }
    const bool port_state_changed = sync_field(c.port_state, a.port_state);
    change |= port_state_changed ? 0x200 : 0;
    bool transport = sync_field(c.transport, a.transport);
    transport = sync_field(c.multicast_address, a.multicast_address) || transport;
    change |= transport ? 0x1000 : 0;
    bool cos = sync_field(c.cos, a.cos);
    cos = sync_field(c.general_cos, a.general_cos) || cos;
    cos = sync_field(c.event_cos, a.event_cos) || cos;
    change |= cos ? 0x100000 : 0;
    bool dscp = sync_field(c.dscp, a.dscp);
    dscp = sync_field(c.general_dscp, a.general_dscp) || dscp;
    dscp = sync_field(c.event_dscp, a.event_dscp) || dscp;
    change |= dscp ? 0x200000 : 0;
    change |= sync_field(c.ipv4_ttl, a.ipv4_ttl) ? 0x2000000 : 0;
    change |= sync_field(c.ipv6_hop_limit, a.ipv6_hop_limit) ? 0x4000000 : 0;
    change |= sync_field(c.sync_timeout, a.sync_timeout) ? 0x2000 : 0;
    change |= sync_field(c.delay_resp_timeout, a.delay_resp_timeout) ? 0x4000 : 0;
    change |= sync_field(c.announce_grant_duration, a.announce_grant_duration) ? 0x8000 : 0;
    change |= sync_field(c.sync_grant_duration, a.sync_grant_duration) ? 0x10000 : 0;
    change |= sync_field(c.delay_resp_grant_duration, a.delay_resp_grant_duration) ? 0x20000 : 0;
    change |= sync_field(c.deny_invalid_grants, a.deny_invalid_grants) ? 0x40000 : 0;
    change |= sync_field(c.delay_asymmetry, a.delay_asymmetry) ? 0x8000000 : 0;
    const bool interop_differs =
        (c.interop_cfg == nullptr) != (a.interop_cfg == nullptr) ||
        (c.interop_cfg != nullptr && std::memcmp(c.interop_cfg, a.interop_cfg, INTEROP_CONFIG_SIZE) != 0);
    if (interop_differs && copy_interop(idb, ipc) == 0) {
        change |= 0x1000000;
    }
    // Copied without a change flag: nothing the state machine acts on changes with them alone.
    if (im_reported && !tessel_db_ipv4_addr_list_equal(idb->ipv4_addr_list, idb->ipv4_addr_count, ipc->ipv4_addr_list,
                                                       ipc->ipv4_addr_count)) {
        copy_ipv4_list(idb, ipc);
    }
    if (im_reported && !tessel_db_ipv6_addr_list_equal(idb->ipv6_addr_list, idb->ipv6_addr_count, ipc->ipv6_addr_list,
                                                       ipc->ipv6_addr_count)) {
        copy_ipv6_list(idb, ipc);
    }
    c.local_priority = a.local_priority;

    if (reattach_needed && idb->header.ifhandle == 0) {
        // The handle is gone: so is what was attached under it, and the port is not ready.
        tessel_packet_detach(idb);
        tessel_port_mgr_readiness_check(idb, change, true);
    } else if (reattach_needed) {
        tessel_port_mgr_if_reattach(idb);
    } else {
        tessel_port_mgr_readiness_check(idb, change, true);
    }
    if (port_state_changed) {
        tessel_bmc_if_update(idb);
    }
    ipc->flags &= ~TESSEL_IPC_FLAG_UPDATE_ALL;
    return true;
}

bool sweep_collect(tessel_proto_idb_type *idb, void *context)
{
    if (!port_mgr_mark(idb)) {
        return true;
    }
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, idb->header.ifhandle,
                    "%s: Deleting interface %s (0x%8.8x) as it was not found in the IPC thread database", IF_ARGS(idb));
    ptp_trace<PTP_TRACE_TESSEL_PM_IF_SWEPT>({tessel_pm_det()}, idb->header.ifhandle);
    auto *batch = static_cast<tessel_batch_info_type *>(context);
    auto *slot = static_cast<tessel_proto_idb_type **>(tessel_batch_get_next_free_element(batch));
    if (slot != nullptr) {
        *slot = idb;
    }
    return true;
}

} // namespace

void tessel_port_mgr_db_sync_start(uint32_t ptp_enabled, uint32_t, uint32_t, uint32_t profile,
                                   uint32_t telecom_clock_type, uint8_t min_clock_class)
{
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0,
                    "%s: Starting sync of IPC thread and protocol thread databases. PTP is %senabled",
                    ptp_enabled != 0 ? "" : "not ");
    ptp_trace<PTP_TRACE_TESSEL_PM_DB_SYNC_START>({tessel_pm_det()}, ptp_enabled != 0 ? "" : "not ");
    pm.ptp_enabled = ptp_enabled != 0 ? 1 : 0;
    tessel_ipc_db_walk(tessel_port_mgr_db_sync_if, nullptr, nullptr, false);

    tessel_batch_info_type batch{};
    tessel_batch_init(&batch, sizeof(tessel_proto_idb_type *), "port manager db sweep batch");
    tessel_proto_db_walk(sweep_collect, &batch, nullptr, false);
    auto *records = static_cast<tessel_proto_idb_type **>(tessel_batch_get_elements(&batch));
    const uint32_t count = tessel_batch_get_count(&batch);
    for (uint32_t i = 0; i < count; i++) {
        tessel_port_mgr_if_delete(records[i]);
    }
    tessel_batch_finish(&batch);

    tessel_port_mgr_profile_change(profile, telecom_clock_type);
    tessel_port_mgr_min_clock_class_change(min_clock_class);
}
