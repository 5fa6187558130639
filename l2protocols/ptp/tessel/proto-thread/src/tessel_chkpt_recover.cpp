// The agent's checkpoint read back: after a restart as primary, on a standby through the initial
// transfer and the change notices, and when a standby becomes primary (see tessel_chkpt.h).
// Stored records are never trusted: the decoders check them, and what they hand back is bounded
// again here before it reaches a port.
#include <cstring>

#include "ptp_alloc.h"
#include "ptp_cfg_utils.h"
#include "ptp_strings.h"
#include "ptp_syslog.h"
#include "ptp_timer.h"
#include "tessel_alloc.h"
#include "tessel_bmc.h"
#include "tessel_chkpt.h"
#include "tessel_fsm.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_types.h"
#include "tessel_fsm_unicast.h"
#include "tessel_gpb.h"
#include "tessel_issu.h"
#include "tessel_master_db.h"
#include "tessel_packet.h"
#include "tessel_peer_index.h"
#include "tessel_pm_log.h"
#include "tessel_port_mgr.h"
#include "tessel_port_num.h"
#include "tessel_proto_db.h"
#include "tessel_slave_db.h"
#include "tessel_stats.h"

uint32_t tessel_chkpt_recovering = 0;

namespace {

// The agent's label in IDT_TIMER_FIRED.
constexpr const char *AGENT_LABEL = "Agent";

struct recover_state_type {
    uint32_t first_table_end_seen = 0;
    uint32_t idt_timer_expired = 0;
    bool idt_timer_made = false;
    ptp_timer_type idt_timer{};
};
recover_state_type rs;

bool role_is_primary()
{
    return tessel_issu_get_issu_role() == TESSEL_ISSU_ROLE_PRIMARY;
}

bool role_is_secondary()
{
    return tessel_issu_get_issu_role() == TESSEL_ISSU_ROLE_SECONDARY;
}

// Both halves of the global information were recovered.
bool gl_recovered()
{
    return tessel_chkpt_gl.local_clock_present != 0 && tessel_chkpt_gl.bmc_present != 0;
}

const char *virtual_word(bool is_virtual)
{
    return is_virtual ? "virtual " : "";
}

uint32_t if_table_of(bool is_virtual)
{
    return is_virtual ? TESSEL_CHKPT_TABLE_VIRTUAL_IF : TESSEL_CHKPT_TABLE_IF;
}

void record_delete(uint32_t table_id, chkpt_objid objid)
{
    if (objid == 0) {
        return;
    }
    zerrno rc = 0;
    if (!tessel_chkpt_record_delete(table_id, &objid, &rc) && rc != 0) {
        ptp_trace<PTP_TRACE_TESSEL_CHKPT_RECORD_DELETE_FAILED>({tessel_pm_det(), tessel_pm_unq()}, table_id, rc);
    }
}

// One walk over a table. Each record goes to visit (object id, bytes, length); a failed start or
// step is reported through the two callbacks, and a failed step ends the walk.
template <typename Visit, typename StartFailed, typename NextFailed>
void table_walk(uint32_t table_id, Visit visit, StartFailed start_failed, NextFailed next_failed)
{
    chkpt_tbl_type *table = tessel_chkpt_table(table_id);
    chkpt_iter_type *iter = nullptr;
    zerrno rc = table == nullptr ? CHKPT_ERR_NOT_INIT : chkpt_iterate_start(table, &iter);
    if (rc != 0) {
        start_failed(rc);
        return;
    }
    static uint8_t buffer[TESSEL_CHKPT_RECORD_SIZE];
    for (;;) {
        chkpt_objid objid = 0;
        uint16_t length = TESSEL_CHKPT_RECORD_SIZE;
        rc = chkpt_iterate_next(iter, &objid, buffer, &length);
        if (rc != 0) {
            next_failed(rc);
            break;
        }
        if (objid == 0) {
            break;
        }
        // The service's length is bounded by the buffer it was given; never read past it.
        visit(objid, buffer, length <= TESSEL_CHKPT_RECORD_SIZE ? length : uint16_t{0});
    }
    chkpt_iterate_end(iter);
}

// ---- Found-object walks ----

struct port_find_type {
    chkpt_objid objid;
    tessel_proto_idb_type *found;
};

bool port_by_objid_cb(tessel_proto_idb_type *idb, void *context)
{
    auto *find = static_cast<port_find_type *>(context);
    if (idb->chkpt_obj_id == find->objid) {
        find->found = idb;
        return false;
    }
    return true;
}

tessel_proto_idb_type *port_by_objid(chkpt_objid objid)
{
    port_find_type find{objid, nullptr};
    tessel_proto_db_walk(port_by_objid_cb, &find, nullptr, false);
    return find.found;
}

struct peer_find_type {
    chkpt_objid objid;
    ptp_fsm_peer_entry_type *found;
};

bool peer_by_objid_cb(tessel_proto_idb_type *idb, void *context)
{
    auto *find = static_cast<peer_find_type *>(context);
    const avl2_tree_type *tree = &idb->fsm.unicast_peer_tree;
    for (avl2_node_type *node = avl2_get_first(tree); node != nullptr; node = avl2_get_next(tree, node)) {
        auto *entry = reinterpret_cast<ptp_fsm_peer_entry_type *>(node);
        if (entry->chkpt_id == find->objid) {
            find->found = entry;
            return false;
        }
    }
    return true;
}

ptp_fsm_peer_entry_type *peer_by_objid(chkpt_objid objid)
{
    peer_find_type find{objid, nullptr};
    tessel_proto_db_walk(peer_by_objid_cb, &find, nullptr, false);
    return find.found;
}

struct peer_index_find_type {
    chkpt_objid objid;
    tessel_peer_index_entry_type *found;
    tessel_proto_idb_type *port;
};

bool peer_index_by_objid_cb(tessel_proto_idb_type *idb, void *context)
{
    auto *find = static_cast<peer_index_find_type *>(context);
    const avl2_tree_type *tree = &idb->peer_index_tree;
    for (avl2_node_type *node = avl2_get_first(tree); node != nullptr; node = avl2_get_next(tree, node)) {
        auto *entry = reinterpret_cast<tessel_peer_index_entry_type *>(node);
        if (entry->chkpt_obj_id == find->objid) {
            find->found = entry;
            find->port = idb;
            return false;
        }
    }
    return true;
}

tessel_peer_index_entry_type *peer_index_by_objid(chkpt_objid objid, tessel_proto_idb_type **port)
{
    peer_index_find_type find{objid, nullptr, nullptr};
    tessel_proto_db_walk(peer_index_by_objid_cb, &find, nullptr, false);
    *port = find.port;
    return find.found;
}

// ---- Port rebuild ----

void config_copy_back(tessel_if_config_type *out, const tessel_chkpt_config_type *in)
{
    out->encap = in->encap;
    out->announce_interval = in->announce_interval;
    out->announce_timeout = in->announce_timeout;
    out->sync_interval = in->sync_interval;
    out->delay_req_interval = in->delay_req_interval;
    out->transport = in->transport;
    out->clock_operation = in->one_step;
    out->port_state = in->port_state;
    out->source_ip.enable = in->source_ip.enable;
    std::memcpy(&out->source_ip.address, in->source_ip.ip_address, PTP_IPV4_ADDR_LEN);
    out->source_ipv6.enable = in->source_ipv6.enable;
    std::memcpy(out->source_ipv6.address, in->source_ipv6.ip_address, PTP_IPV6_ADDR_LEN);
    out->sync_timeout = in->sync_timeout;
    out->delay_resp_timeout = in->delay_resp_timeout;
    out->deny_invalid_grants = in->deny_invalid_grants;
    out->announce_grant_duration = in->announce_grant_duration;
    out->sync_grant_duration = in->sync_grant_duration;
    out->delay_resp_grant_duration = in->delay_resp_grant_duration;
    out->local_priority = in->local_priority;
    out->multicast_address = in->multicast_address;
    out->cos = in->cos;
    out->general_cos = in->general_cos;
    out->event_cos = in->event_cos;
    out->dscp = in->dscp;
    out->general_dscp = in->general_dscp;
    out->event_dscp = in->event_dscp;
    out->ipv4_ttl = in->ipv4_ttl;
    out->ipv6_hop_limit = in->ipv6_hop_limit;
}

// The port's address lists from the record's; false after a failed allocation (reported).
bool addr_lists_copy_back(tessel_proto_idb_type *idb, const tessel_chkpt_if_type *rec)
{
    const uint8_t *list = tessel_chkpt_if_addr_list(rec);
    tessel_free(idb->ipv4_addr_list);
    idb->ipv4_addr_list = nullptr;
    idb->ipv4_addr_count = 0;
    tessel_free(idb->ipv6_addr_list);
    idb->ipv6_addr_list = nullptr;
    idb->ipv6_addr_count = 0;
    if (rec->num_ipv4_addr != 0) {
        const size_t size = size_t{PTP_IPV4_ADDR_LEN} * rec->num_ipv4_addr;
        idb->ipv4_addr_list = static_cast<uint32_t *>(tessel_calloc(rec->num_ipv4_addr, PTP_IPV4_ADDR_LEN));
        if (idb->ipv4_addr_list == nullptr) {
            ptp_alloc_failure_report(size, "PTP proto IDB IPv4 address list");
            return false;
        }
        std::memcpy(idb->ipv4_addr_list, list, size);
        idb->ipv4_addr_count = rec->num_ipv4_addr;
        list += size;
    }
    if (rec->num_ipv6_addr != 0) {
        const size_t size = size_t{PTP_IPV6_ADDR_LEN} * rec->num_ipv6_addr;
        idb->ipv6_addr_list =
            static_cast<uint8_t(*)[PTP_IPV6_ADDR_LEN]>(tessel_calloc(rec->num_ipv6_addr, PTP_IPV6_ADDR_LEN));
        if (idb->ipv6_addr_list == nullptr) {
            ptp_alloc_failure_report(size, "PTP proto IDB IPv6 address list");
            return false;
        }
        std::memcpy(idb->ipv6_addr_list, list, size);
        idb->ipv6_addr_count = rec->num_ipv6_addr;
    }
    return true;
}

// Fills the port from its record; false when something it needs failed.
bool if_fill(tessel_proto_idb_type *idb, const tessel_chkpt_if_type *rec, chkpt_objid objid, bool secondary,
             bool *port_num_changed)
{
    idb->flags = role_is_primary() ? (TESSEL_PROTO_IDB_PORT_MGR_MARK | TESSEL_PROTO_IDB_PORT_MGR_READY)
                                   : TESSEL_PROTO_IDB_PORT_MGR_MARK;
    std::memcpy(&idb->ipv4_addr, rec->ip_address, PTP_IPV4_ADDR_LEN);
    std::memcpy(idb->ipv6_addr, rec->ipv6_address, PTP_IPV6_ADDR_LEN);
    // A stored length beyond the field is not believed: the ether information stays unknown.
    if (rec->ether_info_known != 0 && rec->ether_info_len <= TESSEL_CHKPT_ETHER_INFO_MAX) {
        std::memcpy(idb->ether_info, rec->ether_info, rec->ether_info_len);
        idb->ether_info_len = rec->ether_info_len;
        idb->flags |= TESSEL_PROTO_IDB_ETHER_INFO_KNOWN;
    }
    if (rec->vrf_known != 0) {
        idb->ipv4_vrf = rec->ipv4_vrf;
        idb->flags |= TESSEL_PROTO_IDB_VRF_ID_KNOWN;
    }
    *port_num_changed = idb->port_num != rec->port_num;
    idb->port_num = rec->port_num;
    idb->chkpt_obj_id = objid;
    if (secondary) {
        return true;
    }
    if (rec->ifhandle != 0 && role_is_primary()) {
        tessel_proto_db_add_ifhandle(rec->ifhandle, idb);
    }
    idb->im_state = rec->im_state;
    idb->if_type = rec->iftype;
    config_copy_back(&idb->config, &rec->config);
    return addr_lists_copy_back(idb, rec);
}

// ---- Global record ----

void gl_apply(const tessel_chkpt_gl_type *rec, chkpt_objid objid)
{
    tessel_chkpt_gl_objid_set(objid);
    const bool secondary = role_is_secondary();
    tessel_chkpt_gl_type &gl = tessel_chkpt_gl;
    if (!secondary) {
        gl = *rec;
    } else {
        gl.local_clock_present = rec->local_clock_present;
        gl.local_clock_id = rec->local_clock_id;
        gl.local_clock_domain = rec->local_clock_domain;
        gl.bmc_present = rec->bmc_present;
        gl.slave_supported = rec->slave_supported;
        gl.bmc = rec->bmc;
        gl.advertised = rec->advertised;
        gl.selected = rec->selected;
        gl.synced = rec->synced;
    }
    if (gl.bmc_present != 0) {
        tessel_bmc_slave_support_change(gl.slave_supported);
        tessel_bmc_global_bmc_update(&gl.bmc, &gl.advertised, gl.selected, gl.synced);
    }
    if (gl.local_clock_present != 0) {
        const tessel_port_mgr_local_clock_type clock{gl.local_clock_id, gl.local_clock_domain};
        tessel_port_mgr_local_clock_update(&clock);
    }
    if (secondary) {
        return;
    }
    // A profile the agent does not know would stop it at its first clock comparison: a stored
    // one like that is not applied.
    if (ptp_clock_profile_is_ok(gl.profile) && ptp_clock_type_is_ok(gl.profile_version, gl.profile)) {
        tessel_port_mgr_profile_change(gl.profile, gl.profile_version);
    } else {
        TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0,
                            "%s: [ERROR] Checkpointed profile %u (clock type %u) is not valid, not applied", gl.profile,
                            gl.profile_version);
    }
    if (gl.min_clock_class_present != 0) {
        tessel_port_mgr_min_clock_class_change(gl.min_clock_class);
    }
}

// ---- IDT timer ----

int tessel_chkpt_idt_timer_cb(ptp_timer_type *, void *, int *)
{
    if (tessel_issu_is_milestone_met(TESSEL_ISSU_MILESTONE_CHKPT) != 0) {
        return 0;
    }
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Checkpoint IDT Timer Expired");
    ptp_trace<PTP_TRACE_TESSEL_CHKPT_IDT_TIMER_EXPIRED>({tessel_pm_sum()});
    tessel_issu_milestone_met(TESSEL_ISSU_MILESTONE_CHKPT);
    rs.idt_timer_expired = 1;
    ptp_syslog_idt_timer_fired(AGENT_LABEL);
    tessel_port_mgr_go_active();
    return 0;
}

// ---- Peer indices of the full read ----

void peer_index_read()
{
    tessel_peer_index_clear();
    bool discard_logged = false;
    table_walk(
        TESSEL_CHKPT_TABLE_PEER_INDEX,
        [&](chkpt_objid objid, const uint8_t *bytes, uint16_t length) {
            if (length == 0) {
                record_delete(TESSEL_CHKPT_TABLE_PEER_INDEX, objid);
                return;
            }
            if (!gl_recovered()) {
                record_delete(TESSEL_CHKPT_TABLE_PEER_INDEX, objid);
                if (!discard_logged) {
                    discard_logged = true;
                    TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0,
                                        "%s: [ERROR] Global PTP information not recovered from checkpoint, discarding "
                                        "peer index checkpoint");
                    ptp_trace<PTP_TRACE_TESSEL_CHKPT_PEER_INDEX_DISCARDED>({tessel_pm_det(), tessel_pm_unq()});
                }
                return;
            }
            tessel_chkpt_peer_index_type rec{};
            zerrno rc = tessel_gpb_peer_index_unserialize(bytes, length, &rec);
            if (rc == 0) {
                rec.ifname[TESSEL_CHKPT_IFNAME_SIZE - 1] = '\0';
                rc = tessel_peer_index_restore(rec.ifname, &rec.peer_addr, rec.peer_index, objid);
            }
            if (rc != 0) {
                record_delete(TESSEL_CHKPT_TABLE_PEER_INDEX, objid);
            }
        },
        [](zerrno rc) {
            TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0,
                                "%s: [ERROR] Failed to start peer index checkpoint iteration: %s", zerr_strerror(rc));
            ptp_trace<PTP_TRACE_TESSEL_CHKPT_PEER_INDEX_READ_FAILED>({tessel_pm_det(), tessel_pm_unq()}, rc);
        },
        [](zerrno rc) {
            TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0,
                                "%s: [ERROR] Failed to continue peer index checkpoint iteration: %s",
                                zerr_strerror(rc));
            ptp_trace<PTP_TRACE_TESSEL_CHKPT_PEER_INDEX_READ_FAILED>({tessel_pm_det(), tessel_pm_unq()}, rc);
        });
}

// ---- Change notices ----

void ndt_secondary_if(const chkpt_ndt_type &ndt, bool is_virtual)
{
    if (is_virtual) {
        TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Received a virtual interface NDT - NDT type is %u", ndt.type);
        ptp_trace<PTP_TRACE_TESSEL_CHKPT_NDT_VIRTUAL_IF>({tessel_pm_sum()}, ndt.type);
    } else {
        TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Received an interface NDT - NDT type is %u", ndt.type);
        ptp_trace<PTP_TRACE_TESSEL_CHKPT_NDT_IF>({tessel_pm_sum()}, ndt.type);
    }
    if (ndt.type == CHKPT_NDT_SAVE) {
        bool created = false;
        tessel_chkpt_if_rebuild(ndt.data, ndt.length, ndt.objid, &created);
        tessel_proto_idb_type *idb = port_by_objid(ndt.objid);
        if (created) {
            tessel_packet_process_attach();
        } else if (idb != nullptr) {
            (void)tessel_chkpt_if_fsm_restore(idb);
        }
    } else if (ndt.type == CHKPT_NDT_DELETE) {
        tessel_proto_idb_type *idb = port_by_objid(ndt.objid);
        if (idb == nullptr) {
            TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0,
                                "%s: [ERROR] Received checkpoint delete for unknown interface with chkpt ID %lu",
                                static_cast<unsigned long>(ndt.objid));
            ptp_trace<PTP_TRACE_TESSEL_CHKPT_NDT_IF_DELETE_UNKNOWN>({tessel_pm_det(), tessel_pm_unq()});
            return;
        }
        const ptp_port_state_type initializing{};
        ptp_fsm_issu_secondary_update(idb, &initializing, nullptr);
    }
}

void ndt_secondary_grant(const chkpt_ndt_type &ndt)
{
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Received a unicast grant NDT - NDT type is %u", ndt.type);
    ptp_trace<PTP_TRACE_TESSEL_CHKPT_NDT_GRANT>({tessel_pm_sum()}, ndt.type);
    if (ndt.type == CHKPT_NDT_SAVE) {
        tessel_chkpt_unicast_grant_record_restore(ndt.data, ndt.length, ndt.objid);
    } else if (ndt.type == CHKPT_NDT_DELETE) {
        ptp_fsm_peer_entry_type *entry = peer_by_objid(ndt.objid);
        if (entry == nullptr) {
            TESSEL_PM_DEBUG_ERR(
                TESSEL_AREA_PORT_MGR, 0,
                "%s: [ERROR] Received checkpoint delete for unknown unicast grant entry with checkpoint ID %lu",
                static_cast<unsigned long>(ndt.objid));
            ptp_trace<PTP_TRACE_TESSEL_CHKPT_NDT_GRANT_DELETE_UNKNOWN>({tessel_pm_det(), tessel_pm_unq()});
            return;
        }
        const ptp_address_type *addr = &entry->peer_addr;
        TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0,
                        "%s: Received checkpoint delete for unicast grant entry with address %s",
                        ptp_address_to_str(addr));
        ptp_trace_address<PTP_TRACE_TESSEL_CHKPT_NDT_GRANT_DELETE>({tessel_pm_det()}, ptp_address_trace_value(addr),
                                                                   ptp_address_trace_mac_low(addr),
                                                                   ptp_address_encap_get(addr));
        ptp_fsm_unicast_peer_entry_delete(entry, PTP_FSM_PROTO_PEER_DEL_KEEP_PEER_INDEX);
    }
}

void ndt_secondary_peer_index(const chkpt_ndt_type &ndt)
{
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Received a peer index NDT - NDT type is %u", ndt.type);
    ptp_trace<PTP_TRACE_TESSEL_CHKPT_NDT_PEER_INDEX>({tessel_pm_sum()}, ndt.type);
    if (ndt.type == CHKPT_NDT_SAVE) {
        // A created record has no bytes yet: there is nothing to decode.
        tessel_chkpt_peer_index_type rec{};
        if (ndt.length == 0 || tessel_gpb_peer_index_unserialize(ndt.data, ndt.length, &rec) != 0) {
            return;
        }
        rec.ifname[TESSEL_CHKPT_IFNAME_SIZE - 1] = '\0';
        const ptp_address_type *addr = &rec.peer_addr;
        TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Received peer index restore NDT for peer %s on interface %s",
                        ptp_address_to_str(addr), rec.ifname);
        ptp_trace_address<PTP_TRACE_TESSEL_CHKPT_NDT_PEER_INDEX_RESTORE>(
            {tessel_pm_det()}, ptp_address_trace_value(addr), ptp_address_trace_mac_low(addr),
            ptp_address_encap_get(addr));
        (void)tessel_peer_index_restore(rec.ifname, addr, rec.peer_index, ndt.objid);
    } else if (ndt.type == CHKPT_NDT_DELETE) {
        tessel_proto_idb_type *idb = nullptr;
        tessel_peer_index_entry_type *entry = peer_index_by_objid(ndt.objid, &idb);
        if (entry == nullptr) {
            TESSEL_PM_DEBUG_ERR(
                TESSEL_AREA_PORT_MGR, 0,
                "%s: [ERROR] Received checkpoint delete for unknown peer index entry on with checkpoint ID %lu ",
                static_cast<unsigned long>(ndt.objid));
            ptp_trace<PTP_TRACE_TESSEL_CHKPT_NDT_PEER_INDEX_DELETE_UNKNOWN>({tessel_pm_det(), tessel_pm_unq()});
            return;
        }
        // The release may free the entry: its address is kept first.
        const ptp_address_type addr = entry->address;
        TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Received peer index delete NDT for peer %s on interface %s",
                        ptp_address_to_str(&addr), idb->header.ifname);
        ptp_trace_address<PTP_TRACE_TESSEL_CHKPT_NDT_PEER_INDEX_DELETE>(
            {tessel_pm_det()}, ptp_address_trace_value(&addr), ptp_address_trace_mac_low(&addr),
            ptp_address_encap_get(&addr));
        tessel_peer_index_release(idb, &addr);
    }
}

void ndt_secondary(const chkpt_ndt_type &ndt)
{
    switch (ndt.table_id) {
    case TESSEL_CHKPT_TABLE_IF: ndt_secondary_if(ndt, false); break;
    case TESSEL_CHKPT_TABLE_VIRTUAL_IF: ndt_secondary_if(ndt, true); break;
    case TESSEL_CHKPT_TABLE_GL:
        TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Received a global NDT - NDT type is %u", ndt.type);
        ptp_trace<PTP_TRACE_TESSEL_CHKPT_NDT_GL>({tessel_pm_sum()}, ndt.type);
        if (ndt.type == CHKPT_NDT_SAVE) {
            tessel_chkpt_gl_read();
        }
        break;
    case TESSEL_CHKPT_TABLE_UNICAST_GRANT: ndt_secondary_grant(ndt); break;
    case TESSEL_CHKPT_TABLE_PEER_INDEX: ndt_secondary_peer_index(ndt); break;
    default: break;
    }
}

// Outside the secondary role a notice is not applied: a saved record that no live object holds
// is stale and goes.
void ndt_not_secondary(const chkpt_ndt_type &ndt)
{
    const bool save_with_id = ndt.type == CHKPT_NDT_SAVE && ndt.objid != 0;
    switch (ndt.table_id) {
    case TESSEL_CHKPT_TABLE_IF:
    case TESSEL_CHKPT_TABLE_VIRTUAL_IF:
        if (ndt.table_id == TESSEL_CHKPT_TABLE_VIRTUAL_IF) {
            TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0,
                            "%s: Dropped a virtual interface NDT as not in Secondary role - NDT type is %u", ndt.type);
            ptp_trace<PTP_TRACE_TESSEL_CHKPT_NDT_VIRTUAL_IF_DROPPED>({tessel_pm_det()}, ndt.type);
        } else {
            TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0,
                            "%s: Dropped an interface NDT as not in Secondary role - NDT type is %u", ndt.type);
            ptp_trace<PTP_TRACE_TESSEL_CHKPT_NDT_IF_DROPPED>({tessel_pm_det()}, ndt.type);
        }
        if (save_with_id && port_by_objid(ndt.objid) == nullptr) {
            record_delete(ndt.table_id, ndt.objid);
        }
        break;
    case TESSEL_CHKPT_TABLE_PEER_INDEX: {
        TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0,
                        "%s: Dropped a peer index NDT as not in Secondary role - NDT type is %u", ndt.type);
        ptp_trace<PTP_TRACE_TESSEL_CHKPT_NDT_PEER_INDEX_DROPPED>({tessel_pm_det()}, ndt.type);
        tessel_proto_idb_type *idb = nullptr;
        if (save_with_id && peer_index_by_objid(ndt.objid, &idb) == nullptr) {
            record_delete(ndt.table_id, ndt.objid);
        }
        break;
    }
    case TESSEL_CHKPT_TABLE_UNICAST_GRANT:
        if (save_with_id && peer_by_objid(ndt.objid) == nullptr) {
            record_delete(ndt.table_id, ndt.objid);
        }
        break;
    case TESSEL_CHKPT_TABLE_GL:
        TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Dropped a global NDT as not in Secondary role - NDT type is %u",
                        ndt.type);
        ptp_trace<PTP_TRACE_TESSEL_CHKPT_NDT_GL_DROPPED>({tessel_pm_det()}, ndt.type);
        if (!save_with_id || ndt.objid == tessel_chkpt_gl_objid()) {
            tessel_chkpt_gl_save();
        } else {
            record_delete(TESSEL_CHKPT_TABLE_GL, ndt.objid);
        }
        break;
    default: break;
    }
}

// ---- Role change sweep ----

void sweep_trace_start_failed(zerrno rc)
{
    ptp_trace<PTP_TRACE_TESSEL_CHKPT_SWEEP_START_FAILED>({tessel_pm_det(), tessel_pm_unq()}, rc);
}

void sweep_trace_next_failed(zerrno rc)
{
    ptp_trace<PTP_TRACE_TESSEL_CHKPT_SWEEP_NEXT_FAILED>({tessel_pm_det(), tessel_pm_unq()}, rc);
}

void gl_sweep()
{
    table_walk(
        TESSEL_CHKPT_TABLE_GL,
        [](chkpt_objid objid, const uint8_t *, uint16_t length) {
            const bool own = objid == tessel_chkpt_gl_objid();
            if (own && length != 0) {
                return;
            }
            record_delete(TESSEL_CHKPT_TABLE_GL, objid);
            // The own record gone, the next save makes a new one (a save under the old id would
            // fail for ever).
            if (own) {
                tessel_chkpt_gl_objid_set(0);
            }
        },
        sweep_trace_start_failed, sweep_trace_next_failed);
}

} // namespace

// ---- Standby start ----

zerrno tessel_chkpt_idt_timer_start(event_mgr_type *)
{
    if (rs.idt_timer_made) {
        ptp_timer_destroy(&rs.idt_timer);
        rs.idt_timer_made = false;
    }
    zerrno rc = ptp_timer_create(&rs.idt_timer, tessel_chkpt_idt_timer_cb, nullptr);
    if (rc != 0) {
        ptp_syslog_init_failed("Failed to create Chkpt IDT Timer ", zerr_strerror(rc));
        return rc;
    }
    rs.idt_timer_made = true;
    return ptp_timer_start(&rs.idt_timer, TESSEL_CHKPT_IDT_TIMER_MS, false);
}

uint32_t tessel_chkpt_is_idt_timer_expired(void)
{
    return rs.idt_timer_expired;
}

void tessel_chkpt_idt_received(uint32_t table)
{
    const auto notice = static_cast<int32_t>(table);
    if (!role_is_secondary() || notice < TESSEL_CHKPT_IDT_TABLE_END ||
        notice >= static_cast<int32_t>(TESSEL_CHKPT_TABLE_COUNT)) {
        return;
    }
    switch (notice) {
    case TESSEL_CHKPT_IDT_TABLE_END:
        TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Received a table end IDT");
        ptp_trace<PTP_TRACE_TESSEL_CHKPT_IDT_TABLE_END>({tessel_pm_sum()});
        break;
    case TESSEL_CHKPT_TABLE_IF:
        TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Received an interface table IDT");
        ptp_trace<PTP_TRACE_TESSEL_CHKPT_IDT_IF>({tessel_pm_sum()});
        return;
    case TESSEL_CHKPT_TABLE_GL:
        TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Received a global table IDT");
        ptp_trace<PTP_TRACE_TESSEL_CHKPT_IDT_GL>({tessel_pm_sum()});
        return;
    case TESSEL_CHKPT_TABLE_UNICAST_GRANT:
        TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Received a unicast grant table IDT");
        ptp_trace<PTP_TRACE_TESSEL_CHKPT_IDT_GRANT>({tessel_pm_sum()});
        return;
    case TESSEL_CHKPT_TABLE_PEER_INDEX:
        TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Received a peer index table IDT");
        ptp_trace<PTP_TRACE_TESSEL_CHKPT_IDT_PEER_INDEX>({tessel_pm_sum()});
        return;
    default:
        TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Received a virtual interface table IDT");
        ptp_trace<PTP_TRACE_TESSEL_CHKPT_IDT_VIRTUAL_IF>({tessel_pm_sum()});
        return;
    }
    if (rs.first_table_end_seen == 0) {
        tessel_issu_milestone_met(TESSEL_ISSU_MILESTONE_CHKPT);
        (void)tessel_port_mgr_go_active();
        rs.first_table_end_seen = 1;
    } else if (tessel_chkpt_tables_are_registered() != 0) {
        tessel_chkpt_read();
    }
}

// ---- Full recovery ----

void tessel_chkpt_read(void)
{
    tessel_chkpt_recovering = 1;
    tessel_chkpt_gl.local_clock_present = 0;
    tessel_chkpt_gl.bmc_present = 0;
    tessel_chkpt_gl.reserved[0] = 0;
    tessel_chkpt_gl.reserved[1] = 0;
    tessel_chkpt_gl_read();
    tessel_chkpt_if_read(true);
    tessel_chkpt_if_read(false);
    (void)tessel_port_num_batches_init();
    tessel_packet_process_attach();
    tessel_bmc_restore();
    tessel_stats_recover_after_restart();
    tessel_chkpt_unicast_grant_read();
    peer_index_read();
    tessel_peer_index_sweep();
    tessel_chkpt_recovering = 0;
}

void tessel_chkpt_gl_read(void)
{
    bool first = true;
    table_walk(
        TESSEL_CHKPT_TABLE_GL,
        [&](chkpt_objid objid, const uint8_t *bytes, uint16_t length) {
            // The table holds one record: only the first counts.
            if (!first) {
                return;
            }
            first = false;
            tessel_chkpt_gl_type rec{};
            if (length != 0 && tessel_gpb_gl_unserialize(bytes, length, &rec) == 0) {
                gl_apply(&rec, objid);
            }
        },
        [](zerrno rc) {
            TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0, "%s: [ERROR] Failed to start global checkpoint iteration: %s",
                                zerr_strerror(rc));
            ptp_trace<PTP_TRACE_TESSEL_CHKPT_GL_READ_FAILED>({tessel_pm_det(), tessel_pm_unq()}, rc);
        },
        [&](zerrno rc) {
            if (!first) {
                return;
            }
            TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0,
                                "%s: [ERROR] Failed to continue global checkpoint iteration: %s", zerr_strerror(rc));
            ptp_trace<PTP_TRACE_TESSEL_CHKPT_GL_READ_FAILED>({tessel_pm_det(), tessel_pm_unq()}, rc);
        });
}

void tessel_chkpt_if_read(bool is_virtual)
{
    const uint32_t table_id = if_table_of(is_virtual);
    bool discard_logged = false;
    table_walk(
        table_id,
        [&](chkpt_objid objid, const uint8_t *bytes, uint16_t length) {
            if (length == 0) {
                record_delete(table_id, objid);
                return;
            }
            if (gl_recovered() || !role_is_primary()) {
                bool created = false;
                tessel_chkpt_if_rebuild(bytes, length, objid, &created);
                return;
            }
            record_delete(table_id, objid);
            if (!discard_logged) {
                discard_logged = true;
                TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0,
                                    "%s: [ERROR] Global PTP information not recovered from checkpoint, discarding "
                                    "%sinterface checkpoint",
                                    virtual_word(is_virtual));
                ptp_trace<PTP_TRACE_TESSEL_CHKPT_IF_DISCARDED>({tessel_pm_det(), tessel_pm_unq()},
                                                               uint32_t{is_virtual});
            }
        },
        [&](zerrno rc) {
            TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0,
                                "%s: [ERROR] Failed to start %sinterface checkpoint iteration: %s",
                                virtual_word(is_virtual), zerr_strerror(rc));
            ptp_trace<PTP_TRACE_TESSEL_CHKPT_IF_READ_FAILED>({tessel_pm_det(), tessel_pm_unq()}, uint32_t{is_virtual},
                                                             rc);
        },
        [&](zerrno rc) {
            TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0,
                                "%s: [ERROR] Failed to continue %sinterface checkpoint iteration: %s",
                                virtual_word(is_virtual), zerr_strerror(rc));
            ptp_trace<PTP_TRACE_TESSEL_CHKPT_IF_READ_FAILED>({tessel_pm_det(), tessel_pm_unq()}, uint32_t{is_virtual},
                                                             rc);
        });
}

void tessel_chkpt_if_rebuild(const uint8_t *bytes, size_t length, chkpt_objid objid, bool *created)
{
    *created = false;
    const bool secondary = role_is_secondary();
    tessel_chkpt_if_type *rec = nullptr;
    if (bytes == nullptr || length == 0 || tessel_gpb_if_unserialize(bytes, length, secondary ? 1 : 0, &rec) != 0 ||
        rec == nullptr) {
        return;
    }
    rec->ifname[TESSEL_CHKPT_IFNAME_SIZE - 1] = '\0';
    tessel_proto_idb_type *idb = nullptr;
    zerrno rc = tessel_proto_db_get_by_ifname(rec->ifname, &idb);
    bool made = false;
    bool ok = true;
    if (rc != 0 && rc != PTP_ZERR_DB_NO_ENTRY) {
        ok = false;
    } else if (!secondary) {
        rc = tessel_proto_db_create(rec->ifname, &idb);
        if (rc != 0) {
            TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0,
                                "%s: [ERROR] Failed to create database entry for interface %s recovered from "
                                "checkpoint: %s",
                                rec->ifname, zerr_strerror(rc));
            ptp_trace<PTP_TRACE_TESSEL_CHKPT_IF_RECOVER_FAILED>({tessel_pm_det(), tessel_pm_unq()}, rec->ifname, rc);
            ok = false;
        } else if (tessel_master_db_init(&idb->config.master_table) != 0 ||
                   tessel_slave_db_init(&idb->config.slave_table) != 0) {
            // A port without its tables is no port: it is not left half made.
            tessel_proto_db_delete(idb);
            ok = false;
        } else {
            made = true;
        }
    } else if (idb == nullptr) {
        // A standby only updates the ports it has.
        ok = false;
    }
    if (!ok) {
        tessel_free(rec);
        return;
    }
    bool port_num_changed = false;
    ok = if_fill(idb, rec, objid, secondary, &port_num_changed);
    if (ok && made) {
        ok = ptp_fsm_init(idb) == 0 && tessel_peer_index_idb_init(idb) == 0;
        if (ok) {
            tessel_packet_attach(idb);
        }
    }
    if (port_num_changed && tessel_port_num_is_initialised() != 0) {
        tessel_port_num_send_ma_resync_msg();
    }
    if (ok) {
        TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, rec->ifhandle,
                        "%s: Recovered interface %s (0x%8.8x), with port number 0x%4.4x, from checkpoint", rec->ifname,
                        rec->ifhandle, static_cast<unsigned>(rec->port_num));
        ptp_trace<PTP_TRACE_TESSEL_CHKPT_IF_RECOVERED>({tessel_pm_det()}, role_is_primary() ? rec->ifhandle : 0u,
                                                       uint32_t{rec->port_num});
    }
    *created = made;
    tessel_free(rec);
}

void tessel_chkpt_unicast_grant_read(void)
{
    bool discard_logged = false;
    table_walk(
        TESSEL_CHKPT_TABLE_UNICAST_GRANT,
        [&](chkpt_objid objid, const uint8_t *bytes, uint16_t length) {
            if (length == 0) {
                record_delete(TESSEL_CHKPT_TABLE_UNICAST_GRANT, objid);
                return;
            }
            if (gl_recovered() || !role_is_primary()) {
                tessel_chkpt_unicast_grant_record_restore(bytes, length, objid);
                return;
            }
            record_delete(TESSEL_CHKPT_TABLE_UNICAST_GRANT, objid);
            if (!discard_logged) {
                discard_logged = true;
                TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0,
                                    "%s: [ERROR] Global PTP information not recovered from checkpoint, discarding "
                                    "unicast grant checkpoint");
                ptp_trace<PTP_TRACE_TESSEL_CHKPT_GRANT_DISCARDED>({tessel_pm_det(), tessel_pm_unq()});
            }
        },
        [](zerrno rc) {
            TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0,
                                "%s: [ERROR] Failed to start unicast-grant checkpoint iteration: %s",
                                zerr_strerror(rc));
            ptp_trace<PTP_TRACE_TESSEL_CHKPT_GRANT_READ_FAILED>({tessel_pm_det(), tessel_pm_unq()}, rc);
        },
        [](zerrno rc) {
            TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0,
                                "%s: [ERROR] Failed to continue unicast grant checkpoint iteration: %s",
                                zerr_strerror(rc));
            ptp_trace<PTP_TRACE_TESSEL_CHKPT_GRANT_READ_FAILED>({tessel_pm_det(), tessel_pm_unq()}, rc);
        });
}

void tessel_chkpt_unicast_grant_record_restore(const uint8_t *bytes, size_t length, chkpt_objid objid)
{
    tessel_chkpt_unicast_grant_type rec{};
    if (bytes != nullptr && length != 0 && tessel_gpb_unicast_grant_unserialize(bytes, length, &rec) == 0) {
        rec.ifname[sizeof rec.ifname - 1] = '\0';
        tessel_proto_idb_type *idb = nullptr;
        if (tessel_proto_db_get_by_ifname(rec.ifname, &idb) != 0 || idb == nullptr) {
            TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0,
                                "%s: [ERROR] Failed to recover unicast grant for interface %s from checkpoint - no IDB",
                                rec.ifname);
            ptp_trace<PTP_TRACE_TESSEL_CHKPT_GRANT_NO_IDB>({tessel_pm_det(), tessel_pm_unq()}, rec.ifname);
        } else {
            if (ptp_fsm_peer_entry_type *old = peer_by_objid(objid); old != nullptr) {
                ptp_fsm_unicast_peer_entry_delete(old, PTP_FSM_PROTO_PEER_DEL_KEEP_PEER_INDEX);
            }
            if (ptp_fsm_unicast_grant_restore(idb, &rec, objid) == 0) {
                const ptp_address_type *addr = &rec.peer_addr;
                TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, idb->header.ifhandle,
                                "%s: Recovered unicast grant for peer %s oninterface %s, from checkpoint",
                                ptp_address_to_str(addr), rec.ifname);
                ptp_trace_address<PTP_TRACE_TESSEL_CHKPT_GRANT_RECOVERED>(
                    {tessel_pm_det()}, ptp_address_trace_value(addr), ptp_address_trace_mac_low(addr),
                    ptp_address_encap_get(addr));
                return;
            }
        }
    }
    if (objid == 0) {
        return;
    }
    record_delete(TESSEL_CHKPT_TABLE_UNICAST_GRANT, objid);
    if (ptp_fsm_peer_entry_type *entry = peer_by_objid(objid); entry != nullptr) {
        ptp_fsm_unicast_peer_entry_delete(entry, PTP_FSM_PROTO_PEER_DEL_NONE);
    }
}

// ---- State machine at attach ----

zerrno tessel_chkpt_if_fsm_restore(tessel_proto_idb_type *idb)
{
    const uint32_t table_id = tessel_chkpt_if_table(idb);
    const bool is_virtual = table_id == TESSEL_CHKPT_TABLE_VIRTUAL_IF;
    const bool secondary = role_is_secondary();
    static uint8_t buffer[TESSEL_CHKPT_RECORD_SIZE];
    uint32_t length = sizeof buffer;
    chkpt_tbl_type *table = tessel_chkpt_table(table_id);
    zerrno rc = table == nullptr ? CHKPT_ERR_NOT_INIT : chkpt_get(table, idb->chkpt_obj_id, buffer, &length);
    tessel_chkpt_if_type *rec = nullptr;
    if (rc == 0) {
        rc = tessel_gpb_if_unserialize(buffer, length, secondary ? 1 : 0, &rec);
        if (rc == 0 && rec == nullptr) {
            rc = PTP_ZERR_NOMEM;
        }
    }
    if (rc != 0) {
        TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, idb->header.ifhandle,
                            "%s: [ERROR] Failed to read interface FSM checkpoint: %s", zerr_strerror(rc));
        ptp_trace<PTP_TRACE_TESSEL_CHKPT_IF_FSM_READ_FAILED>({tessel_pm_det(), tessel_pm_unq()}, uint32_t{is_virtual},
                                                             rc);
        return rc;
    }
    const auto state = static_cast<ptp_port_state_type>(rec->port_state);
    const tessel_chkpt_foreign_master_type *best = rec->foreign_master_present != 0 ? &rec->foreign_master : nullptr;
    if (secondary) {
        ptp_fsm_issu_secondary_update(idb, &state, best);
    } else {
        ptp_fsm_resume(idb, state, best);
    }
    if (best != nullptr && best->is_in_master_table != 0) {
        tessel_master_db_type *entry = nullptr;
        const zerrno found = secondary ? tessel_master_db_find(&idb->config.master_table, &best->peer_addr, &entry)
                                       : tessel_master_db_add(&idb->config.master_table, &best->peer_addr, &entry);
        if (found == 0 && entry != nullptr) {
            entry->flags |= TESSEL_MASTER_DB_ENABLE_SET;
            if (best->is_priority_configured != 0) {
                entry->flags |= TESSEL_MASTER_DB_PRIORITY_SET;
            } else {
                entry->flags &= static_cast<uint8_t>(~TESSEL_MASTER_DB_PRIORITY_SET);
            }
            entry->priority = best->configured_priority;
            entry->multicast = best->transport;
            if (best->is_nonnegotiated != 0) {
                entry->flags |= TESSEL_MASTER_DB_NON_NEGOTIATED | TESSEL_MASTER_DB_NON_NEGOTIATED_SET;
            }
        }
    }
    tessel_free(rec);
    return 0;
}

// ---- Change notices ----

void tessel_chkpt_ndt_received(const void *notice)
{
    chkpt_ndt_type ndt;
    std::memcpy(&ndt, notice, sizeof ndt);
    if (tessel_chkpt_tables_are_registered() == 0 || ndt.table_id >= TESSEL_CHKPT_TABLE_COUNT) {
        return;
    }
    if (ndt.data == nullptr) {
        ndt.length = 0;
    }
    if (role_is_secondary()) {
        ndt_secondary(ndt);
    } else {
        ndt_not_secondary(ndt);
    }
}

// ---- Role change to primary ----

void tessel_chkpt_sweep_stale(void)
{
    tessel_chkpt_go_primary_active();
    if (tessel_chkpt_tables_are_registered() == 0 && tessel_chkpt_tables_register() != 0) {
        return;
    }
    gl_sweep();
    table_walk(
        TESSEL_CHKPT_TABLE_UNICAST_GRANT,
        [](chkpt_objid objid, const uint8_t *, uint16_t length) {
            if (length == 0 || peer_by_objid(objid) == nullptr) {
                record_delete(TESSEL_CHKPT_TABLE_UNICAST_GRANT, objid);
            }
        },
        [](zerrno rc) {
            TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0,
                                "%s: [ERROR] Failed to start unicast-grant checkpoint iteration: %s",
                                zerr_strerror(rc));
            sweep_trace_start_failed(rc);
        },
        sweep_trace_next_failed);
    table_walk(
        TESSEL_CHKPT_TABLE_PEER_INDEX,
        [](chkpt_objid objid, const uint8_t *, uint16_t length) {
            tessel_proto_idb_type *idb = nullptr;
            if (length == 0 || peer_index_by_objid(objid, &idb) == nullptr) {
                record_delete(TESSEL_CHKPT_TABLE_PEER_INDEX, objid);
            }
        },
        [](zerrno rc) {
            TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0,
                                "%s: [ERROR] Failed to start peer_index checkpoint iteration: %s", zerr_strerror(rc));
            sweep_trace_start_failed(rc);
        },
        sweep_trace_next_failed);
    tessel_chkpt_if_sweep(false);
    tessel_chkpt_if_sweep(true);
}

void tessel_chkpt_if_sweep(bool is_virtual)
{
    const uint32_t table_id = if_table_of(is_virtual);
    table_walk(
        table_id,
        [&](chkpt_objid objid, const uint8_t *, uint16_t length) {
            if (length == 0 || port_by_objid(objid) == nullptr) {
                record_delete(table_id, objid);
            }
        },
        [&](zerrno rc) {
            TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0,
                                "%s: [ERROR] Failed to start %sinterface checkpoint iteration: %s",
                                virtual_word(is_virtual), zerr_strerror(rc));
            sweep_trace_start_failed(rc);
        },
        [&](zerrno rc) {
            TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0,
                                "%s: [ERROR] Failed to continue %sinterface checkpoint iteration: %s",
                                virtual_word(is_virtual), zerr_strerror(rc));
            sweep_trace_next_failed(rc);
        });
}

// ---- Shutdown ----

void tessel_chkpt_shutdown(void)
{
    if (rs.idt_timer_made) {
        ptp_timer_destroy(&rs.idt_timer);
        rs.idt_timer_made = false;
    }
    tessel_chkpt_tables_unregister();
}

void tessel_chkpt_recover_test_reset(void)
{
    if (rs.idt_timer_made) {
        ptp_timer_destroy(&rs.idt_timer);
    }
    rs = recover_state_type{};
    tessel_chkpt_recovering = 0;
}
