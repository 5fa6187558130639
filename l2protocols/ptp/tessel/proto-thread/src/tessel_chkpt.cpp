// The agent's checkpoint tables and writers: see tessel_chkpt.h.
#include "tessel_chkpt.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "eth_encap.h"
#include "issul.h"
#include "ptp_alloc.h"
#include "ptp_strings.h"
#include "ptp_syslog.h"
#include "sysmgr.h"
#include "tessel_alloc.h"
#include "tessel_assert.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_types.h"
#include "tessel_issu.h"
#include "tessel_peer_index.h"
#include "tessel_pm_log.h"
#include "tessel_stats.h"
#include "tessel_thread_ctrl.h"

// The agent-active flag of the process entry.
bool tessel_main_is_active(void);

tessel_chkpt_gl_type tessel_chkpt_gl;

namespace {

struct chkpt_state_type {
    std::array<chkpt_tbl_type *, TESSEL_CHKPT_TABLE_COUNT> tables{}; // by table id
    uint32_t tables_registered = 0;
    uint32_t in_use = 0; // checkpointing in use: set when the application is described
    chkpt_objid gl_objid = 0;
};
chkpt_state_type chkpt;

// One row per table, in registration order.
struct table_row_type {
    uint32_t id;
    uint32_t max_records;
    bool rp_role; // role word 1 on the route processor, else 2
    const char *failure_text;
};
constexpr std::array<table_row_type, TESSEL_CHKPT_TABLE_COUNT> table_rows = {{
    {TESSEL_CHKPT_TABLE_IF, 2047, true, "Failed to register interface checkpoint table: "},
    {TESSEL_CHKPT_TABLE_VIRTUAL_IF, 2047, false, "Failed to register virtual interface checkpoint table: "},
    {TESSEL_CHKPT_TABLE_GL, 1, false, "Failed to register global checkpoint table: "},
    {TESSEL_CHKPT_TABLE_UNICAST_GRANT, 2047, false, "Failed to register unicast grant checkpoint table: "},
    {TESSEL_CHKPT_TABLE_PEER_INDEX, 4096, false, "Failed to register peer index checkpoint table: "},
}};

bool writer_allowed()
{
    return tessel_issu_get_issu_role() == TESSEL_ISSU_ROLE_PRIMARY;
}

// The common rule of the deleters: the stored record goes only when this process is the
// producer (primary and active); the owner forgets the id in any case, and a record left behind is
// found by the stale-record sweep. False when the record was not deleted.
} // namespace

bool tessel_chkpt_record_delete(uint32_t table_id, chkpt_objid *objid, zerrno *rc)
{
    *rc = 0;
    bool deleted = false;
    // The service answers the process's own role; no connection of our own is needed.
    if (issul_get_issu_role(nullptr) == ISSUL_ROLE_PRIMARY && tessel_main_is_active()) {
        *rc = chkpt_delete(chkpt.tables[table_id], *objid);
        deleted = *rc == 0;
    } else {
        ptp_trace<PTP_TRACE_TESSEL_CHKPT_DELETE_SKIPPED>({tessel_pm_sum(), tessel_pm_unq()});
    }
    *objid = 0;
    return deleted;
}

namespace {

// Creates the owner's record when it has none; on failure the id stays 0, so that the next
// write tries again.
zerrno record_create_if_none(uint32_t table_id, chkpt_objid *objid, bool *created)
{
    *created = false;
    if (*objid != 0) {
        return 0;
    }
    chkpt_objid id = 0;
    const zerrno rc = chkpt_create(chkpt.tables[table_id], 0, &id);
    if (rc == 0) {
        *objid = id;
        *created = true;
    }
    return rc;
}

const char *virtual_word(bool is_virtual)
{
    return is_virtual ? "virtual " : "";
}

uint32_t ifhandle_of(const tessel_proto_idb_type *idb)
{
    return idb->header.ifhandle;
}

void copy_name(char (&dst)[TESSEL_CHKPT_IFNAME_SIZE], const char *src)
{
    // Truncated to 63 characters; the rest of the field stays zero.
    const size_t len = strnlen(src, sizeof dst - 1);
    std::memcpy(dst, src, len);
    std::memset(dst + len, 0, sizeof dst - len);
}

void copy_config(tessel_chkpt_config_type *out, const tessel_if_config_type *in)
{
    out->encap = in->encap;
    out->announce_interval = in->announce_interval;
    out->announce_timeout = in->announce_timeout;
    out->sync_interval = in->sync_interval;
    out->delay_req_interval = in->delay_req_interval;
    out->transport = in->transport;
    out->one_step = in->clock_operation;
    out->port_state = in->port_state;
    out->source_ip.enable = in->source_ip.enable;
    std::memcpy(out->source_ip.ip_address, &in->source_ip.address, PTP_IPV4_ADDR_LEN);
    out->source_ipv6.enable = in->source_ipv6.enable;
    std::memcpy(out->source_ipv6.ip_address, in->source_ipv6.address, PTP_IPV6_ADDR_LEN);
    out->sync_timeout = in->sync_timeout;
    out->delay_resp_timeout = in->delay_resp_timeout;
    out->deny_invalid_grants = in->deny_invalid_grants;
    out->announce_grant_duration = in->announce_grant_duration;
    out->sync_grant_duration = in->sync_grant_duration;
    out->delay_resp_grant_duration = in->delay_resp_grant_duration;
    out->local_priority = static_cast<uint8_t>(in->local_priority);
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

// Fills a port's record (allocated for its address lists).
void if_record_fill(tessel_chkpt_if_type *rec, tessel_proto_idb_type *idb)
{
    copy_name(rec->ifname, idb->header.ifname);
    rec->ifhandle = idb->header.ifhandle;
    rec->iftype = idb->if_type;
    rec->port_num = idb->port_num;
    rec->port_state = idb->fsm.PortState;
    rec->im_state = idb->im_state;
    if ((idb->flags & TESSEL_PROTO_IDB_ETHER_INFO_KNOWN) != 0) {
        rec->ether_info_known = 1;
        rec->ether_info_len = std::min<uint32_t>(idb->ether_info_len, TESSEL_CHKPT_ETHER_INFO_MAX);
        std::memcpy(rec->ether_info, idb->ether_info, rec->ether_info_len);
    }
    std::memcpy(rec->ip_address, &idb->ipv4_addr, PTP_IPV4_ADDR_LEN);
    std::memcpy(rec->ipv6_address, idb->ipv6_addr, PTP_IPV6_ADDR_LEN);
    if ((idb->flags & TESSEL_PROTO_IDB_VRF_ID_KNOWN) != 0) {
        rec->vrf_known = 1;
        rec->ipv4_vrf = idb->ipv4_vrf;
    }
    int present = 0;
    ptp_fsm_proto_best_foreign_master_get_chkpt(idb, &present, &rec->foreign_master);
    rec->foreign_master_present = present != 0 ? 1 : 0;
    copy_config(&rec->config, &idb->config);
    rec->num_ipv4_addr = idb->ipv4_addr_count;
    rec->num_ipv6_addr = idb->ipv6_addr_count;
    uint8_t *list = tessel_chkpt_if_addr_list(rec);
    if (idb->ipv4_addr_count != 0) {
        std::memcpy(list, idb->ipv4_addr_list, size_t{PTP_IPV4_ADDR_LEN} * idb->ipv4_addr_count);
        list += size_t{PTP_IPV4_ADDR_LEN} * idb->ipv4_addr_count;
    }
    if (idb->ipv6_addr_count != 0) {
        std::memcpy(list, idb->ipv6_addr_list, size_t{PTP_IPV6_ADDR_LEN} * idb->ipv6_addr_count);
    }
}

void if_write_failed(tessel_proto_idb_type *idb, bool is_virtual, zerrno rc)
{
    ptp_trace<PTP_TRACE_TESSEL_CHKPT_IF_WRITE_FAILED>({tessel_pm_det(), tessel_pm_unq()}, ifhandle_of(idb),
                                                      uint32_t{is_virtual}, rc);
    tessel_stats_increment_proto_idb_event_counter(idb, TESSEL_PROTO_IDB_EVENT_CHKPT_UPDATE_FAILS);
}

void peer_index_trace_failed(const tessel_proto_idb_type *idb, const tessel_peer_index_entry_type *entry, zerrno rc,
                             bool deleting)
{
    const uint32_t ifh = ifhandle_of(idb);
    const ptp_address_type *addr = &entry->address;
    if (deleting) {
        ptp_trace_address<PTP_TRACE_TESSEL_CHKPT_PEER_INDEX_DELETE_FAILED>(
            {tessel_pm_det(), tessel_pm_unq()}, uint32_t{entry->peer_index}, ifh, ifh, ptp_address_trace_value(addr),
            ptp_address_trace_mac_low(addr), ptp_address_encap_get(addr), rc);
    } else {
        ptp_trace_address<PTP_TRACE_TESSEL_CHKPT_PEER_INDEX_WRITE_FAILED>(
            {tessel_pm_det(), tessel_pm_unq()}, uint32_t{entry->peer_index}, ifh, ifh, ptp_address_trace_value(addr),
            ptp_address_trace_mac_low(addr), ptp_address_encap_get(addr), rc);
    }
}

} // namespace

// ---- Registration and roles ----

zerrno tessel_chkpt_init(event_mgr_type *evm)
{
    chkpt_appdesc_type desc;
    chkpt_appdesc_init(&desc);
    std::strncpy(desc.name, TESSEL_CHKPT_APP_NAME, sizeof desc.name - 1);
    chkpt.in_use = 1;
    desc.flags = chkpt.in_use;
    desc.word1 = TESSEL_CHKPT_APP_WORD1;
    desc.word2 = TESSEL_CHKPT_APP_WORD2;
    desc.idt_cb = tessel_chkpt_idt_callback;
    desc.ndt_cb = tessel_chkpt_ndt_callback;
    const zerrno rc = chkpt_init(evm, &desc);
    if (rc != 0) {
        ptp_syslog_init_failed("Failed to initialize checkpoint: ", zerr_strerror(rc));
    }
    return rc;
}

zerrno tessel_chkpt_tables_register(void)
{
    for (const table_row_type &row : table_rows) {
        // A table kept from an earlier attempt that stopped part-way is not registered again
        // (the service would refuse it as existing).
        if (chkpt.tables[row.id] != nullptr) {
            continue;
        }
        chkpt_tbldesc_type desc;
        chkpt_tbldesc_init(&desc);
        desc.table_id = row.id;
        desc.reserved0 = 0;
        desc.record_size = TESSEL_CHKPT_RECORD_SIZE;
        desc.flags = 1;
        desc.max_records = row.max_records;
        desc.role = row.rp_role && platform_am_i_rp() ? 1 : 2;
        desc.no_checkpoint = chkpt.in_use == 0 ? 1 : 0;
        chkpt_tbl_type *table = nullptr;
        const zerrno rc = chkpt_register(&desc, &table);
        if (rc != 0) {
            ptp_syslog_init_failed(row.failure_text, zerr_strerror(rc));
            return rc;
        }
        chkpt.tables[row.id] = table;
    }
    chkpt.tables_registered = 1;
    return 0;
}

uint32_t tessel_chkpt_tables_are_registered(void)
{
    return chkpt.tables_registered;
}

chkpt_tbl_type *tessel_chkpt_table(uint32_t table_id)
{
    return table_id < TESSEL_CHKPT_TABLE_COUNT ? chkpt.tables[table_id] : nullptr;
}

void tessel_chkpt_go_active(void)
{
    ptp_trace<PTP_TRACE_TESSEL_CHKPT_GO_ACTIVE_START>({tessel_pm_det()});
    const zerrno rc = chkpt_go_active();
    ptp_trace<PTP_TRACE_TESSEL_CHKPT_GO_ACTIVE_FIN>({tessel_pm_det()});
    if (rc != 0) {
        tessel_internal_error("((rc) == 0x00000000)", __FILE__, __LINE__);
    }
}

void tessel_chkpt_go_primary_active(void)
{
    ptp_trace<PTP_TRACE_TESSEL_CHKPT_GO_ACTIVE_START>({tessel_pm_det()});
    const zerrno rc = chkpt_go_primary_active();
    ptp_trace<PTP_TRACE_TESSEL_CHKPT_GO_ACTIVE_FIN>({tessel_pm_det()});
    if (rc != 0) {
        tessel_internal_error("((rc) == 0x00000000)", __FILE__, __LINE__);
    }
}

// ---- Global record ----

void tessel_chkpt_gl_local_clock_update(uint64_t clock_id, uint32_t domain)
{
    if (!writer_allowed()) {
        return;
    }
    tessel_chkpt_gl.local_clock_id = clock_id;
    tessel_chkpt_gl.local_clock_domain = domain;
    tessel_chkpt_gl.local_clock_present = 1;
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0,
                    "%s: Updating local clock information in checkpoint, local clock id %lx, domain %u",
                    static_cast<unsigned long>(clock_id), domain);
    tessel_chkpt_gl_save();
}

void tessel_chkpt_gl_local_clock_remove(void)
{
    if (!writer_allowed()) {
        return;
    }
    tessel_chkpt_gl.local_clock_present = 0;
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Removing local clock information from checkpoint");
    tessel_chkpt_gl_save();
}

void tessel_chkpt_gl_bmc_update(const ptp_clock_type *bmc, const ptp_clock_type *advertised, uint32_t selected,
                                uint32_t synced, uint32_t slave_supported)
{
    if (!writer_allowed()) {
        return;
    }
    tessel_chkpt_gl.bmc = *bmc;
    tessel_chkpt_gl.advertised = *advertised;
    tessel_chkpt_gl.selected = selected;
    tessel_chkpt_gl.synced = synced;
    tessel_chkpt_gl.slave_supported = slave_supported;
    tessel_chkpt_gl.bmc_present = 1;
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0,
                    "%s: Updating best master clock information in checkpoint, BMC id 0x%lx, advertised id 0x%lx",
                    static_cast<unsigned long>(bmc->clock_id), static_cast<unsigned long>(advertised->clock_id));
    tessel_chkpt_gl_save();
}

void tessel_chkpt_gl_bmc_remove(void)
{
    if (!writer_allowed()) {
        return;
    }
    tessel_chkpt_gl.bmc_present = 0;
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Removing best master clock information from checkpoint");
    tessel_chkpt_gl_save();
}

void tessel_chkpt_gl_profile_update(uint32_t profile, uint32_t version)
{
    if (!writer_allowed()) {
        return;
    }
    tessel_chkpt_gl.profile = profile;
    tessel_chkpt_gl.profile_version = version;
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Updating profile in checkpoint: %s", ptp_profile_to_str(profile));
    tessel_chkpt_gl_save();
}

void tessel_chkpt_gl_min_clock_class_update(uint8_t min_clock_class)
{
    if (!writer_allowed()) {
        return;
    }
    tessel_chkpt_gl.min_clock_class = min_clock_class;
    tessel_chkpt_gl.min_clock_class_present = 1;
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, 0, "%s: Updating min clock-class in checkpoint: %u",
                    static_cast<unsigned>(min_clock_class));
    tessel_chkpt_gl_save();
}

void tessel_chkpt_gl_save(void)
{
    if (!writer_allowed()) {
        return;
    }
    bool created = false;
    zerrno rc = record_create_if_none(TESSEL_CHKPT_TABLE_GL, &chkpt.gl_objid, &created);
    if (rc != 0) {
        TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0,
                            "%s: [ERROR] Failed to create checkpoint record for global PTP information: %s",
                            zerr_strerror(rc));
        ptp_trace<PTP_TRACE_TESSEL_CHKPT_GL_WRITE_FAILED>({tessel_pm_det(), tessel_pm_unq()}, rc);
        tessel_stats_increment_node_event_counter(TESSEL_NODE_EVENT_GLOBAL_CHKPT_UPDATE_FAILS);
        return;
    }
    uint8_t buffer[TESSEL_CHKPT_RECORD_SIZE] = {};
    size_t len = 0;
    tessel_gpb_gl_encode(&tessel_chkpt_gl, buffer, &len);
    rc = chkpt_save(chkpt.tables[TESSEL_CHKPT_TABLE_GL], chkpt.gl_objid, buffer, len);
    if (rc != 0) {
        TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, 0,
                            "%s: [ERROR] Failed to save checkpoint record for global PTP information: %s",
                            zerr_strerror(rc));
        ptp_trace<PTP_TRACE_TESSEL_CHKPT_GL_WRITE_FAILED>({tessel_pm_det(), tessel_pm_unq()}, rc);
        tessel_stats_increment_node_event_counter(TESSEL_NODE_EVENT_GLOBAL_CHKPT_UPDATE_FAILS);
        return;
    }
    tessel_stats_increment_node_event_counter(TESSEL_NODE_EVENT_GLOBAL_CHKPT_UPDATES);
}

chkpt_objid tessel_chkpt_gl_objid(void)
{
    return chkpt.gl_objid;
}

// ---- Interface record ----

uint32_t tessel_chkpt_if_table(const tessel_proto_idb_type *idb)
{
    if (idb->if_type == TESSEL_CHKPT_IFTYPE_VIRTUAL) {
        return TESSEL_CHKPT_TABLE_VIRTUAL_IF;
    }
    if (idb->if_type == TESSEL_CHKPT_IFTYPE_BUNDLE_CANDIDATE) {
        bool is_bundle = false;
        if (platform_ifhandle_is_bundle(idb->header.ifhandle, &is_bundle) == 0 && is_bundle) {
            return TESSEL_CHKPT_TABLE_VIRTUAL_IF;
        }
    }
    return TESSEL_CHKPT_TABLE_IF;
}

void tessel_chkpt_if_update(tessel_proto_idb_type *idb)
{
    if (!writer_allowed()) {
        return;
    }
    const uint32_t table_id = tessel_chkpt_if_table(idb);
    const bool is_virtual = table_id == TESSEL_CHKPT_TABLE_VIRTUAL_IF;
    const uint32_t ifh = ifhandle_of(idb);
    bool created = false;
    zerrno rc = record_create_if_none(table_id, &idb->chkpt_obj_id, &created);
    if (rc != 0) {
        TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, ifh,
                            "%s: [ERROR] Failed to create checkpoint record for %sinterface %s (0x%8.8x): %s",
                            virtual_word(is_virtual), idb->header.ifname, ifh, zerr_strerror(rc));
        if_write_failed(idb, is_virtual, rc);
        return;
    }
    const size_t size = tessel_chkpt_if_size(idb->ipv4_addr_count, idb->ipv6_addr_count);
    auto *rec = static_cast<tessel_chkpt_if_type *>(tessel_calloc(1, size));
    if (rec == nullptr) {
        // The port stays as it is; its next change tries again (the record, if created now,
        // keeps its id).
        ptp_alloc_failure_report(size, "PTP checkpoint to save");
        tessel_stats_increment_proto_idb_event_counter(idb, TESSEL_PROTO_IDB_EVENT_CHKPT_UPDATE_FAILS);
        return;
    }
    if_record_fill(rec, idb);
    uint8_t buffer[TESSEL_CHKPT_RECORD_SIZE] = {};
    size_t len = 0;
    tessel_gpb_if_encode(rec, buffer, &len);
    // An interface with more addresses than a record holds is not stored (and says so).
    rc = len == 0 ? zerrno{EMSGSIZE} : chkpt_save(chkpt.tables[table_id], idb->chkpt_obj_id, buffer, len);
    if (rc == 0) {
        TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, ifh, "%s: Saved checkpoint record for %sinterface %s (0x%8.8x)",
                        virtual_word(is_virtual), idb->header.ifname, ifh);
        ptp_trace<PTP_TRACE_TESSEL_CHKPT_IF_SAVED>({tessel_pm_det()}, ifh, uint32_t{created}, uint32_t{is_virtual});
        tessel_stats_increment_proto_idb_event_counter(idb, TESSEL_PROTO_IDB_EVENT_CHKPT_UPDATES);
    } else {
        TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, ifh,
                            "%s: [ERROR] Failed to save checkpoint record for %sinterface %s (0x%8.8x): %s",
                            virtual_word(is_virtual), idb->header.ifname, ifh, zerr_strerror(rc));
        if_write_failed(idb, is_virtual, rc);
    }
    tessel_free(rec);
}

void tessel_chkpt_if_delete(tessel_proto_idb_type *idb)
{
    if (!writer_allowed() || idb->chkpt_obj_id == 0) {
        return;
    }
    const uint32_t table_id = tessel_chkpt_if_table(idb);
    const bool is_virtual = table_id == TESSEL_CHKPT_TABLE_VIRTUAL_IF;
    const uint32_t ifh = ifhandle_of(idb);
    zerrno rc = 0;
    if (tessel_chkpt_record_delete(table_id, &idb->chkpt_obj_id, &rc)) {
        ptp_trace<PTP_TRACE_TESSEL_CHKPT_IF_DELETED>({tessel_pm_det()}, ifh, uint32_t{is_virtual});
    } else if (rc != 0) {
        ptp_trace<PTP_TRACE_TESSEL_CHKPT_IF_DELETE_FAILED>({tessel_pm_det(), tessel_pm_unq()}, ifh,
                                                           uint32_t{is_virtual}, rc);
    }
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, ifh, "%s: Deleted checkpoint record for %sinterface %s (0x%8.8x)",
                    virtual_word(is_virtual), idb->header.ifname, ifh);
}

// ---- Unicast grant record ----

namespace {

tessel_proto_idb_type *grant_port(const ptp_fsm_peer_entry_type *entry)
{
    if (entry->port == nullptr) {
        tessel_internal_error("idb != ((void*)0)", __FILE__, __LINE__);
    }
    return entry->port;
}

void grant_record_fill(tessel_chkpt_unicast_grant_type *rec, const ptp_fsm_peer_entry_type *entry,
                       const tessel_proto_idb_type *idb)
{
    // A bounded copy: the port's name field is as long as the record's.
    static_assert(sizeof rec->ifname == TESSEL_DB_IFNAME_SIZE);
    std::memcpy(rec->ifname, idb->header.ifname, sizeof rec->ifname);
    rec->ifname[sizeof rec->ifname - 1] = '\0';
    rec->ifhandle = idb->header.ifhandle;
    rec->peer_addr = entry->peer_addr;
    rec->local_addr = entry->local_addr;
    rec->peer_port_id = entry->peer_port_id;
    rec->grant_flags = static_cast<uint8_t>((entry->is_announce_granted ? TESSEL_CHKPT_GRANT_ANNOUNCE : 0) |
                                            (entry->is_sync_granted ? TESSEL_CHKPT_GRANT_SYNC : 0) |
                                            (entry->is_delay_resp_granted ? TESSEL_CHKPT_GRANT_DELAY_RESP : 0));
    for (uint32_t k = 0; k < PTP_FSM_PEER_GRANT_KINDS; ++k) {
        rec->log_interval[k] = entry->grant[k].log_interval;
        rec->app_log_interval[k] = entry->grant[k].app_log_interval;
        rec->duration[k] = entry->grant[k].duration;
        rec->expiry[k] = entry->grant[k].expiry;
    }
    rec->nonnegotiated_flags = entry->is_nonnegotiated ? 1 : 0;
}

} // namespace

void tessel_chkpt_unicast_grant_update(ptp_fsm_peer_entry_type *entry)
{
    tessel_proto_idb_type *idb = grant_port(entry);
    if (!writer_allowed()) {
        return;
    }
    const uint32_t ifh = ifhandle_of(idb);
    bool created = false;
    zerrno rc = record_create_if_none(TESSEL_CHKPT_TABLE_UNICAST_GRANT, &entry->chkpt_id, &created);
    if (rc != 0) {
        TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, ifh,
                            "%s: [ERROR] Failed to create unicast grant checkpoint record for interface %s "
                            "(0x%8.8x): %s",
                            idb->header.ifname, ifh, zerr_strerror(rc));
        ptp_trace<PTP_TRACE_TESSEL_CHKPT_GRANT_WRITE_FAILED>({tessel_pm_det(), tessel_pm_unq()}, ifh, ifh, ifh, rc);
        return;
    }
    tessel_chkpt_unicast_grant_type rec{};
    grant_record_fill(&rec, entry, idb);
    uint8_t buffer[TESSEL_CHKPT_RECORD_SIZE] = {};
    size_t len = 0;
    tessel_gpb_unicast_grant_encode(&rec, buffer, &len);
    rc = chkpt_save(chkpt.tables[TESSEL_CHKPT_TABLE_UNICAST_GRANT], entry->chkpt_id, buffer, len);
    if (rc != 0) {
        TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, ifh,
                            "%s: [ERROR] Failed to save unicast grant checkpoint record for interface %s (0x%8.8x): %s",
                            idb->header.ifname, ifh, zerr_strerror(rc));
        ptp_trace<PTP_TRACE_TESSEL_CHKPT_GRANT_WRITE_FAILED>({tessel_pm_det(), tessel_pm_unq()}, ifh, ifh, ifh, rc);
        tessel_stats_increment_proto_idb_event_counter(idb, TESSEL_PROTO_IDB_EVENT_CHKPT_UPDATE_FAILS);
        return;
    }
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, ifh, "%s: Saved unicast grant checkpoint record for interface %s (0x%8.8x)",
                    idb->header.ifname, ifh);
    tessel_stats_increment_proto_idb_event_counter(idb, TESSEL_PROTO_IDB_EVENT_CHKPT_UPDATES);
}

void tessel_chkpt_unicast_grant_delete(ptp_fsm_peer_entry_type *entry)
{
    tessel_proto_idb_type *idb = grant_port(entry);
    if (entry->chkpt_id == 0) {
        return;
    }
    const uint32_t ifh = ifhandle_of(idb);
    zerrno rc = 0;
    if (!tessel_chkpt_record_delete(TESSEL_CHKPT_TABLE_UNICAST_GRANT, &entry->chkpt_id, &rc) && rc != 0) {
        ptp_trace<PTP_TRACE_TESSEL_CHKPT_GRANT_DELETE_FAILED>({tessel_pm_det(), tessel_pm_unq()}, ifh, ifh, ifh, rc);
    }
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, ifh, "%s: Deleted unicast grant checkpoint record for interface %s (0x%8.8x)",
                    idb->header.ifname, ifh);
}

// ---- Peer index record ----

void tessel_chkpt_peer_index_update(tessel_proto_idb_type *idb, tessel_peer_index_entry_type *entry)
{
    if (!writer_allowed()) {
        return;
    }
    const uint32_t ifh = ifhandle_of(idb);
    bool created = false;
    zerrno rc = record_create_if_none(TESSEL_CHKPT_TABLE_PEER_INDEX, &entry->chkpt_obj_id, &created);
    if (rc != 0) {
        TESSEL_PM_DEBUG_ERR(TESSEL_AREA_PORT_MGR, ifh,
                            "%s: [ERROR] Failed to create peer index checkpoint record for interface 0x%8.8x, "
                            "peer %s: %s",
                            ifh, ptp_address_to_str(&entry->address), zerr_strerror(rc));
        peer_index_trace_failed(idb, entry, rc, false);
        return;
    }
    tessel_chkpt_peer_index_type rec{};
    copy_name(rec.ifname, idb->header.ifname);
    rec.peer_addr = entry->address;
    rec.peer_index = entry->peer_index;
    uint8_t buffer[TESSEL_CHKPT_RECORD_SIZE] = {};
    size_t len = 0;
    tessel_gpb_peer_index_encode(&rec, buffer, &len);
    rc = chkpt_save(chkpt.tables[TESSEL_CHKPT_TABLE_PEER_INDEX], entry->chkpt_obj_id, buffer, len);
    if (rc != 0) {
        TESSEL_PM_DEBUG_ERR(
            TESSEL_AREA_PORT_MGR, ifh,
            "%s: [ERROR] Failed to save peer index checkpoint record for interface 0x%8.8x, peer %s: %s", ifh,
            ptp_address_to_str(&entry->address), zerr_strerror(rc));
        peer_index_trace_failed(idb, entry, rc, false);
        return;
    }
    TESSEL_PM_DEBUG(TESSEL_AREA_PORT_MGR, ifh, "%s: Saved peer index checkpoint record for interface 0x%8.8x, peer %s",
                    ifh, ptp_address_to_str(&entry->address));
}

void tessel_chkpt_peer_index_delete(tessel_proto_idb_type *idb, tessel_peer_index_entry_type *entry)
{
    if (entry->chkpt_obj_id == 0) {
        return;
    }
    zerrno rc = 0;
    if (!tessel_chkpt_record_delete(TESSEL_CHKPT_TABLE_PEER_INDEX, &entry->chkpt_obj_id, &rc) && rc != 0) {
        peer_index_trace_failed(idb, entry, rc, true);
    }
}

// The checkpoint service calls these on the IPC thread; the work belongs to the protocol thread.
int tessel_chkpt_idt_callback(uint32_t table)
{
    tessel_thread_ctrl_send_idt(table);
    return 0;
}

int tessel_chkpt_ndt_callback(const chkpt_ndt_type *notice)
{
    tessel_thread_ctrl_send_ndt(notice);
    return 0;
}

void tessel_chkpt_gl_objid_set(chkpt_objid objid)
{
    chkpt.gl_objid = objid;
}

void tessel_chkpt_tables_unregister(void)
{
    chkpt.tables_registered = 0;
    for (const uint32_t id : {TESSEL_CHKPT_TABLE_UNICAST_GRANT, TESSEL_CHKPT_TABLE_GL, TESSEL_CHKPT_TABLE_IF,
                              TESSEL_CHKPT_TABLE_VIRTUAL_IF, TESSEL_CHKPT_TABLE_PEER_INDEX}) {
        if (chkpt.tables[id] != nullptr) {
            chkpt_unregister(chkpt.tables[id]);
            chkpt.tables[id] = nullptr;
        }
    }
}

void tessel_chkpt_test_reset(void)
{
    chkpt = chkpt_state_type{};
    tessel_chkpt_gl = tessel_chkpt_gl_type{};
}
