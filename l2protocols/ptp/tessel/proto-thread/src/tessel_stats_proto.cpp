// The packet and event counters of the protocol thread's interface records: the record side of
// the counters module, next to the record it works on.
#include <cstdarg>
#include <cstring>

#include "ptp_debug.h"
#include "ptp_trace_points.h"
#include "tessel_assert.h"
#include "tessel_debug_areas.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_unicast.h"
#include "tessel_proto_db.h"
#include "tessel_stats.h"

// Thread check of the inter-thread module.
bool tessel_thread_ctrl_is_proto_thread();

namespace {

// The agent's stats debug area.
constexpr uint32_t STATS_DEBUG_AREA = tessel_debug_area("stats");

const char *stats_label()
{
    return ptp_debug_area_label(STATS_DEBUG_AREA);
}

[[gnu::format(printf, 3, 4)]] void stats_debug(uint32_t level, ifhtype ifhandle, const char *format, ...)
{
    const debug_event_type *table = ptp_debug_table_get();
    if (!ptp_debug_enabled(table, STATS_DEBUG_AREA)) {
        return;
    }
    va_list args;
    va_start(args, format);
    ptp_debug_vprint(STATS_DEBUG_AREA, ifhandle, level, table, format, args);
    va_end(args);
}

// A record left without counters after a restart.
void recover_failed(tessel_proto_idb_type *idb)
{
    idb->packet_counters = nullptr;
    stats_debug(PTP_DEBUG_LEVEL_ERROR, idb->header.ifhandle,
                "%s: [ERROR] Failed to find/recreate intf entry after restart", stats_label());
    ptp_trace<PTP_TRACE_TESSEL_STATS_INTF_CREATE_FAILED>(
        {ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_DET), ptp_jotlog_ctx_handle(PTP_JOTLOG_CTX_UNQ)});
}

void check_proto_thread()
{
    TESSEL_ASSERT(tessel_thread_ctrl_is_proto_thread());
}

// A peer keeps its counters while it is a unicast peer or a foreign master of the port.
bool still_a_peer(const ptp_address_type *peer, void *context)
{
    auto *idb = static_cast<tessel_proto_idb_type *>(context);
    return ptp_fsm_unicast_peer_entry_find(idb, peer) != nullptr ||
           ptp_fsm_proto_foreign_master_find(idb, peer) != nullptr;
}

bool recover_record(tessel_proto_idb_type *idb, void *)
{
    ifhtype ifhandle = idb->header.ifhandle;
    tessel_proto_idb_type *by_handle = nullptr;
    if (ifhandle == 0 || tessel_proto_db_get_by_ifhandle(ifhandle, &by_handle) != 0 || by_handle != idb) {
        recover_failed(idb);
        return true;
    }
    tessel_stats_intf_entry_type *entry = tessel_stats_intf_entry_find(ifhandle);
    if (entry != nullptr) {
        idb->packet_counters = entry;
        tessel_stats_intf_entry_reattach(entry);
        stats_debug(PTP_DEBUG_LEVEL_SUPPORT, ifhandle,
                    "%s: Matching IDB in shared memory identified for interface %s (0x%8.8x)in Proto DB", stats_label(),
                    idb->header.ifname, ifhandle);
        return true;
    }
    stats_debug(PTP_DEBUG_LEVEL_SUPPORT, ifhandle,
                "%s: No matching IDB identified in shared memory for interface %s (0x%8.8x) in Proto DB; creating new "
                "IDB in shared memory",
                stats_label(), idb->header.ifname, ifhandle);
    if (tessel_stats_intf_entry_create(ifhandle, &entry) != 0) {
        recover_failed(idb);
        return true;
    }
    idb->packet_counters = entry;
    return true;
}

bool sweep_entry(tessel_stats_intf_entry_type *entry, void *)
{
    tessel_stats_intf_entry_reattach(entry);
    ifhtype ifhandle = tessel_stats_intf_entry_ifhandle(entry);
    tessel_proto_idb_type *idb = nullptr;
    if (tessel_proto_db_get_by_ifhandle(ifhandle, &idb) != 0) {
        stats_debug(PTP_DEBUG_LEVEL_SUPPORT, ifhandle, "%s: No Proto DB entry for ifhandle (0x%8.8x)", stats_label(),
                    ifhandle);
        tessel_stats_intf_entry_delete(entry);
    }
    return true;
}

} // namespace

zerrno tessel_stats_intf_create_stats_entry(tessel_proto_idb_type *idb)
{
    ifhtype ifhandle = idb->header.ifhandle;
    if (ifhandle != 0) {
        if (tessel_stats_intf_entry_type *found = tessel_stats_intf_entry_find(ifhandle); found != nullptr) {
            // An entry an earlier process left: its per-peer tree gets this process's comparator
            // here too, in case no recovery walk has reached it.
            tessel_stats_intf_entry_reattach(found);
            idb->packet_counters = found;
            return 0;
        }
    }
    tessel_stats_intf_entry_type *entry = nullptr;
    zerrno rc = tessel_stats_intf_entry_create(ifhandle, &entry);
    if (rc != 0) {
        return rc;
    }
    idb->packet_counters = entry;
    return 0;
}

void tessel_stats_delete_intf_stats_entry(tessel_proto_idb_type *idb)
{
    if (idb->packet_counters == nullptr) {
        return;
    }
    tessel_stats_intf_entry_delete(idb->packet_counters);
    idb->packet_counters = nullptr;
}

void tessel_stats_increment_packet_counter(tessel_proto_idb_type *idb, const ptp_address_type *peer,
                                           uint32_t counter_class, uint32_t direction, uint32_t amount)
{
    check_proto_thread();
    if (idb->packet_counters == nullptr) {
        return;
    }
    tessel_stats_intf_entry_count_packet(idb->packet_counters, peer, counter_class, direction, amount);
}

void tessel_stats_increment_packet_drop_counter(tessel_proto_idb_type *idb, uint32_t counter_class, uint32_t amount)
{
    check_proto_thread();
    if (idb->packet_counters == nullptr) {
        return;
    }
    tessel_stats_intf_entry_count_drop(idb->packet_counters, counter_class, amount);
}

void tessel_stats_clear_if_packet_counters(tessel_proto_idb_type *idb)
{
    check_proto_thread();
    if (idb->packet_counters == nullptr) {
        return;
    }
    tessel_stats_intf_entry_clear(idb->packet_counters, still_a_peer, idb);
}

void tessel_stats_increment_proto_idb_event_counter(tessel_proto_idb_type *idb, uint32_t type)
{
    check_proto_thread();
    TESSEL_ASSERT(type < TESSEL_PROTO_IDB_EVENT_COUNT);
    idb->event_counters[type]++;
    tessel_stats_get_node_event_counters()->proto_idb[type]++;
}

void tessel_stats_clear_proto_idb_event_counters(tessel_proto_idb_type *idb)
{
    std::memset(idb->event_counters, 0, sizeof(idb->event_counters));
}

void tessel_stats_recover_after_restart()
{
    tessel_stats_recovery_begin();
    stats_debug(PTP_DEBUG_LEVEL_SUPPORT, 0, "%s: Begin the Proto DB walk during startup", stats_label());
    tessel_proto_db_walk(recover_record, nullptr, nullptr, false);
    stats_debug(PTP_DEBUG_LEVEL_SUPPORT, 0, "%s: Walking shared memory DB to check for matching Proto IDBs",
                stats_label());
    tessel_stats_intf_entry_walk(sweep_entry, nullptr);
    tessel_stats_recovery_end();
}
