#include "tessel_edm.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <vector>

#include "avl2.h"
#include "eth_encap.h"
#include "mgd_timer.h"
#include "nodra.h"
#include "nodra_schema.h"
#include "plat_clock.h"
#include "ptp_alloc.h"
#include "ptp_bags.h"
#include "ptp_clock.h"
#include "ptp_strings.h"
#include "ptp_time.h"
#include "ptp_zerr_codes.h"
#include "tessel_assert.h"
#include "tessel_bmc.h"
#include "tessel_cfg.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_im.h"
#include "tessel_interop_config.h"
#include "tessel_ipc_db.h"
#include "tessel_packet.h"
#include "tessel_pm_log.h"
#include "tessel_port_mgr.h"
#include "tessel_port_mgr_deps.h"
#include "tessel_proto_db.h"
#include "tessel_slave_db.h"
#include "tessel_stats.h"
#include "tessel_thread_ctrl.h"
#include "tessel_utils.h"

namespace {

constexpr uint32_t TESSEL_AREA_EDM = tessel_debug_area("edm");
constexpr size_t TESSEL_EDM_KEY_SIZE = 128;
// The only list option taken: a plain walk.
constexpr uint32_t TESSEL_EDM_LIST_OPTION_WALK = 0x20;

#define TESSEL_EDM_DEBUG(format, ...) TESSEL_PM_DEBUG(TESSEL_AREA_EDM, 0, format __VA_OPT__(, ) __VA_ARGS__)
#define TESSEL_EDM_DEBUG_ERR(format, ...) TESSEL_PM_DEBUG_ERR(TESSEL_AREA_EDM, 0, format __VA_OPT__(, ) __VA_ARGS__)

// ---- Saved packet-counter request --------------------------------------------------------------

struct saved_request_type {
    tessel_edm_packet_counter_req_type kind = TESSEL_EDM_PACKET_COUNTER_REQ_NONE;
    // Only the database's request is kept: the records it names are looked up afresh on resume,
    // so an interface that went away meanwhile is answered as unknown.
    nodra_edm_request_td *request = nullptr;
};
saved_request_type saved;
bool resuming;

// Unless resuming, asks for fresh offload statistics; 115 when the answer must wait for them.
zerrno tessel_edm_packet_counters_defer(tessel_edm_packet_counter_req_type kind, nodra_edm_request_td *request)
{
    if (resuming) {
        return 0;
    }
    uint32_t pending = 0;
    const zerrno rc = tessel_offload_get_stats(&pending);
    if (rc != 0) {
        return rc;
    }
    if (pending == 0) {
        return 0;
    }
    if (saved.kind != TESSEL_EDM_PACKET_COUNTER_REQ_NONE) {
        tessel_internal_error("Second saved packet-counter request", __FILE__, __LINE__);
    }
    saved.kind = kind;
    saved.request = request;
    return NODRA_EDM_IN_PROGRESS;
}

const backend_schema_td *schema_of(const nodra_edm_request_td *request)
{
    return static_cast<const backend_schema_td *>(request->item_table);
}

zerrno encode(const void *record, const bag_descriptor_type *descriptor, uint8_t **bag, uint32_t *length)
{
    return bag_encode(record, descriptor, bag, length);
}

// ---- Per-interface builders --------------------------------------------------------------------

// (IPC record, name flag, data flag, out key, out bag, out length).
using tessel_edm_builder_fn = zerrno (*)(tessel_ipc_idb_type *idb, bool name, bool data, char *key, uint8_t **bag,
                                         uint32_t *length);

tessel_proto_idb_type *proto_record_of(const tessel_ipc_idb_type *idb)
{
    tessel_proto_idb_type *proto = nullptr;
    if (tessel_proto_db_get_by_ifname(idb->header.ifname, &proto) != 0) {
        return nullptr;
    }
    return proto;
}

void write_key(const tessel_ipc_idb_type *idb, char *key)
{
    std::snprintf(key, TESSEL_EDM_KEY_SIZE, "%s", idb->header.ifname);
}

uint16_t peer_index_of(tessel_proto_idb_type *proto, const ptp_address_type &address)
{
    ptp_peer_index_type index = 0;
    return tessel_peer_index_get(proto, &address, &index) == 0 ? index : 0;
}

void fill_packet_counters(const tessel_packet_counters_type &in, ptp_bag_packet_counters *out)
{
    static_assert(sizeof(ptp_bag_packet_counters) == (3 * TESSEL_PACKET_COUNTER_CLASS_COUNT + 3) * 4);
    uint32_t values[3 * TESSEL_PACKET_COUNTER_CLASS_COUNT + 3] = {};
    uint32_t totals[3] = {};
    for (uint32_t c = 0; c < TESSEL_PACKET_COUNTER_CLASS_COUNT; c++) {
        values[3 * c] = in.sent[c];
        values[3 * c + 1] = in.received[c];
        values[3 * c + 2] = in.dropped[c];
        totals[0] += in.sent[c];
        totals[1] += in.received[c];
        totals[2] += in.dropped[c];
    }
    std::memcpy(&values[3 * TESSEL_PACKET_COUNTER_CLASS_COUNT], totals, sizeof totals);
    std::memcpy(out, values, sizeof values);
}

zerrno tessel_edm_if_packet_counters_build(tessel_ipc_idb_type *idb, bool name, bool data, char *key, uint8_t **bag,
                                           uint32_t *length)
{
    if (name) {
        write_key(idb, key);
    }
    if (!data) {
        return 0;
    }
    ptp_if_packet_counter_info info{};
    ptp_bag_peer_packet_counters *rows = nullptr;
    info.Name = idb->header.ifname;
    tessel_proto_idb_type *proto = proto_record_of(idb);
    if (proto != nullptr) {
        info.internal_port_number = proto->port_num;
        if (proto->packet_counters != nullptr) {
            fill_packet_counters(*tessel_stats_intf_entry_counters(proto->packet_counters), &info.Counters);
            const uint32_t peers = tessel_stats_peer_count(proto->packet_counters);
            if (peers != 0 && (rows = static_cast<ptp_bag_peer_packet_counters *>(
                                   std::calloc(peers, sizeof(ptp_bag_peer_packet_counters)))) == nullptr) {
                ptp_alloc_failure_report(peers * sizeof(ptp_bag_peer_packet_counters), "PTP peer packet counters");
                return PTP_ZERR_NOMEM;
            }
            struct walk_type {
                tessel_proto_idb_type *proto;
                ptp_bag_peer_packet_counters *rows;
                uint32_t max;
                uint32_t count;
            } walk{proto, rows, peers, 0};
            tessel_stats_peer_walk(
                proto->packet_counters,
                [](const ptp_address_type *peer, const tessel_packet_counters_type *counters, void *c) {
                    auto *w = static_cast<walk_type *>(c);
                    if (w->count >= w->max) {
                        return false;
                    }
                    ptp_bag_peer_packet_counters &row = w->rows[w->count++];
                    row.PeerIndex = peer_index_of(w->proto, *peer);
                    ptp_address_to_bag(peer, &row.Address);
                    fill_packet_counters(*counters, &row.Counters);
                    return true;
                },
                &walk);
            info.PeerCounters = {walk.count, rows};
        }
    }
    const zerrno rc = encode(&info, ptp_if_packet_counter_info_bag_getfn(), bag, length);
    std::free(rows);
    if (rc != 0) {
        TESSEL_EDM_DEBUG_ERR("%s: [ERROR] Failed to encode packet counters bag for interface %s (0x%8.8x): %s",
                             idb->header.ifname, rc, zerr_strerror(rc));
    }
    return rc;
}

zerrno tessel_edm_if_event_counters_build(tessel_ipc_idb_type *idb, bool name, bool data, char *key, uint8_t **bag,
                                          uint32_t *length)
{
    if (name) {
        write_key(idb, key);
    }
    if (!data) {
        return 0;
    }
    ptp_if_event_counter_info info{};
    static_assert(sizeof(info.ProtocolThreadEventCounters) == sizeof(tessel_proto_idb_type::event_counters));
    static_assert(sizeof(info.IPCThreadEventCounters) == sizeof(tessel_ipc_idb_type::event_counters));
    const tessel_proto_idb_type *proto = proto_record_of(idb);
    if (proto != nullptr) {
        std::memcpy(info.ProtocolThreadEventCounters, proto->event_counters, sizeof proto->event_counters);
    }
    std::memcpy(info.IPCThreadEventCounters, idb->event_counters, sizeof idb->event_counters);
    const zerrno rc = encode(&info, ptp_if_event_counter_info_bag_getfn(), bag, length);
    if (rc != 0) {
        TESSEL_EDM_DEBUG_ERR("%s: [ERROR] Failed to encode event counter bag for interface %s (0x%8.8x): %s",
                             idb->header.ifname, rc, zerr_strerror(rc));
    }
    return rc;
}

// ---- Bag scratch -------------------------------------------------------------------------------

// What a builder allocates for its bag (arrays, optional values), freed once the bag is encoded.
// Strings point into the records and are not owned.
struct bag_scratch_type {
    std::vector<void *> blocks;
    bool failed = false;
    bag_scratch_type() = default;
    bag_scratch_type(const bag_scratch_type &) = delete;
    bag_scratch_type &operator=(const bag_scratch_type &) = delete;
    ~bag_scratch_type()
    {
        for (void *p : blocks) {
            std::free(p);
        }
    }
    // count zeroed elements of T; null (reported under what) when they cannot be had.
    template <typename T>
    T *alloc(size_t count, const char *what)
    {
        if (count == 0) {
            return nullptr;
        }
        void *p = std::calloc(count, sizeof(T));
        if (p == nullptr) {
            ptp_alloc_failure_report(count * sizeof(T), what);
            failed = true;
            return nullptr;
        }
        blocks.push_back(p);
        return static_cast<T *>(p);
    }
    template <typename T>
    T *value(const T &v, const char *what)
    {
        T *p = alloc<T>(1, what);
        if (p != nullptr) {
            *p = v;
        }
        return p;
    }
    void own(void *p)
    {
        if (p != nullptr) {
            blocks.push_back(p);
        }
    }
};

void clock_to_bag(const ptp_clock_type &in, ptp_bag_clock *out)
{
    out->ClockID = in.clock_id;
    out->Priority1 = in.priority1;
    out->Priority2 = in.priority2;
    out->Class = in.clock_class;
    out->Accuracy = in.accuracy;
    out->OffsetLogVariance = in.offset_log_variance;
    out->StepsRemoved = in.steps_removed;
    out->TimeSource = static_cast<ptp_bag_clock_time_source>(in.time_source);
    out->UTCOffset.CurrentOffset = in.utc_offset;
    out->UTCOffset.OffsetValid = in.utc_offset_valid != 0;
    out->FrequencyTraceable = in.frequency_traceable != 0;
    out->TimeTraceable = in.time_traceable != 0;
    out->Timescale = static_cast<ptp_bag_clock_timescale>(in.timescale);
    out->LeapSeconds = static_cast<ptp_bag_clock_leap_seconds>(in.leap_seconds);
    out->Receiver = {in.receiver.clock_id, in.receiver.port_num};
    out->IsReceiverValid = in.receiver.clock_id != 0;
    out->Sender = {in.sender.clock_id, in.sender.port_num};
    out->IsSenderValid = in.sender.clock_id != 0;
    out->Local = in.local != 0;
    out->ConfiguredClockClass = in.configured_clock_class;
    out->ConfiguredPriority = in.configured_priority;
}

// The port's foreign master of that address, or null.
ptp_fsm_foreign_master_type *foreign_master_of(tessel_proto_idb_type *proto, const ptp_address_type &address)
{
    if (proto == nullptr) {
        return nullptr;
    }
    ptp_fsm_foreign_master_type key{};
    key.peer_addr = address;
    return reinterpret_cast<ptp_fsm_foreign_master_type *>(avl2_search(&proto->fsm.foreign_master_table, &key));
}

template <typename T, typename Fn>
void for_each_row(avl2_tree_type *tree, Fn fn)
{
    for (avl2_node_type *n = avl2_get_first(tree); n != nullptr; n = avl2_get_next(tree, n)) {
        fn(reinterpret_cast<T *>(n));
    }
}

bool is_grandmaster(const ptp_fsm_foreign_master_type &fm)
{
    const ptp_clock_type *advertised = tessel_bmc_get_advertised_clock();
    return advertised != nullptr && ptp_clock_equal(&fm.master_clock, advertised) != 0;
}

bool ptsf_loss_sync(const ptp_fsm_foreign_master_type &fm)
{
    return fm.ptsf_losssync_sync != 0 || fm.ptsf_losssync_delay_resp != 0;
}

// Under G.8275.2, in Uncalibrated or Slave: whether any foreign master has lost sync.
bool signal_fail_applies(const tessel_proto_idb_type *proto)
{
    return tessel_port_mgr_get_profile() == PTP_PROFILE_G8275_2 &&
           (proto->fsm.PortState == PTP_PORT_STATE_UNCALIBRATED || proto->fsm.PortState == PTP_PORT_STATE_SLAVE);
}
uint32_t signal_fail_of(tessel_proto_idb_type *proto)
{
    bool fail = false;
    for_each_row<ptp_fsm_foreign_master_type>(
        &proto->fsm.foreign_master_table, [&](ptp_fsm_foreign_master_type *fm) { fail = fail || ptsf_loss_sync(*fm); });
    return fail ? 1 : 0;
}

// The port-state restriction as reported: under the telecom profiles an interface without one
// takes it from the telecom clock type.
uint32_t reported_port_state(const tessel_if_config_type &config)
{
    const uint32_t profile = tessel_port_mgr_get_profile();
    if (profile < PTP_PROFILE_G8265_1 || profile > PTP_PROFILE_G8275_2 ||
        config.port_state != PTP_RESTRICT_PORT_STATE_ANY) {
        return config.port_state;
    }
    switch (tessel_port_mgr_get_telecom_clock_type()) {
    case PTP_TELECOM_CLOCK_T_TSC: return PTP_RESTRICT_PORT_STATE_SLAVE_ONLY;
    case PTP_TELECOM_CLOCK_T_GM: return PTP_RESTRICT_PORT_STATE_MASTER_ONLY;
    default: return config.port_state;
    }
}

bool slave_supported(const tessel_ipc_idb_type *idb)
{
    return tessel_intf_caps_supports_slave() && tessel_bmc_is_slave_supported(idb->if_type) != 0;
}

ptp_bag_unicast_grant *grant_to_bag(bag_scratch_type &scratch, bool granted, int8_t log_interval, uint32_t duration,
                                    const char *what)
{
    if (!granted) {
        return nullptr;
    }
    return scratch.value(ptp_bag_unicast_grant{log_interval, duration}, what);
}

// The interop configuration of one direction as configured.
void interop_half_to_bag(bag_scratch_type &scratch, const tessel_interop_config_type &interop, bool egress,
                         ptp_bag_profile_interop_cfg *out)
{
    const tessel_interop_half_config_type &half = egress ? interop.egress : interop.ingress;
    const unsigned shift = egress ? TESSEL_INTEROP_EGRESS_SHIFT : 0;
    const auto has = [&](uint16_t bit) { return (interop.presence & (bit << shift)) != 0; };
    const char *what = "PTP interface bag interop config";
    if (has(TESSEL_INTEROP_INGRESS_PRIORITY1)) {
        out->Priority1 = scratch.value(half.priority1, what);
    }
    if (has(TESSEL_INTEROP_INGRESS_PRIORITY2)) {
        out->Priority2 = scratch.value(half.priority2, what);
    }
    if (has(TESSEL_INTEROP_INGRESS_CLOCK_ACCURACY)) {
        out->Accuracy = scratch.value(half.clock_accuracy, what);
    }
    if (has(TESSEL_INTEROP_INGRESS_CLOCK_CLASS_DEFAULT)) {
        out->ClassDefault = scratch.value(half.clock_class_default, what);
    }
    if (has(TESSEL_INTEROP_INGRESS_OSLV)) {
        out->OffsetLogVariance = scratch.value(half.oslv, what);
    }
    if (has(TESSEL_INTEROP_INGRESS_CLOCK_CLASS_MAPPING)) {
        uint32_t count = 0;
        for (const auto &m : half.clock_class_mapping) {
            count += m.present != 0 ? 1 : 0;
        }
        auto *rows = scratch.alloc<ptp_bag_clock_class_mapping>(count, what);
        if (rows != nullptr) {
            uint32_t k = 0;
            for (uint32_t c = 0; c < TESSEL_INTEROP_CLOCK_CLASS_COUNT; c++) {
                if (half.clock_class_mapping[c].present != 0) {
                    rows[k++] = {static_cast<uint8_t>(c), half.clock_class_mapping[c].clock_class};
                }
            }
            out->ClassMapping = {count, rows};
        }
    }
}

// The communication model of a master-table entry (Unicast unless configured).
uint32_t master_model(const tessel_master_db_type &m)
{
    return m.multicast;
}

zerrno encode_if_bag(const tessel_ipc_idb_type *idb, const void *record, const bag_descriptor_type *descriptor,
                     const char *failure, uint8_t **bag, uint32_t *length)
{
    const zerrno rc = encode(record, descriptor, bag, length);
    if (rc != 0) {
        TESSEL_EDM_DEBUG_ERR(failure, idb->header.ifname, rc, zerr_strerror(rc));
    }
    return rc;
}

zerrno tessel_edm_if_get_data(tessel_ipc_idb_type *idb, bool name, bool data, char *key, uint8_t **bag,
                              uint32_t *length)
{
    if (name) {
        write_key(idb, key);
    }
    if (!data) {
        return 0;
    }
    bag_scratch_type scratch;
    tessel_proto_idb_type *proto = proto_record_of(idb);
    const tessel_if_config_type &config = idb->applied_config;
    const uint32_t profile = tessel_port_mgr_get_profile();
    ptp_if_info info{};
    info.Name = idb->header.ifname;
    info.LineState = idb->im_state;
    info.InterfaceType = static_cast<uint16_t>(idb->if_type);
    info.Encapsulation = static_cast<ptp_bag_encap>(config.encap);
    info.TwoStep = config.clock_operation == 0;
    info.CommunicationModel = static_cast<ptp_bag_communication_model>(config.transport);
    info.LogSyncInterval = config.sync_interval;
    info.LogAnnounceInterval = config.announce_interval;
    info.AnnounceTimeout = config.announce_timeout;
    info.LogMinDelayRequestInterval = config.delay_req_interval;
    info.EventCOS = config.event_cos;
    info.GeneralCOS = config.general_cos;
    info.EventDSCP = config.event_dscp;
    info.GeneralDSCP = config.general_dscp;
    info.LocalPriority = static_cast<uint8_t>(config.local_priority);
    info.clock_profile = static_cast<ptp_bag_profile_type>(profile);

    // Addresses.
    switch (config.encap) {
    case PTP_ENCAP_IPV4: {
        auto *list = scratch.alloc<ptp_bag_ipv4_addr_list>(1, "PTP interface bag address list");
        if (list != nullptr) {
            if (config.source_ip.enable != 0 && idb->applied_ipv4_addr != TESSEL_PROTO_IDB_IPV4_ADDR_NONE) {
                ptp_bag_ipv4_addr_list_fill(&idb->applied_ipv4_addr, 1, list);
            } else {
                ptp_bag_ipv4_addr_list_fill(idb->ipv4_addr_list, idb->ipv4_addr_count, list);
            }
            scratch.own(list->AddrList.array);
            info.IPv4AddressArray = list;
        }
        if (idb->applied_ipv4_addr != TESSEL_PROTO_IDB_IPV4_ADDR_NONE) {
            info.IPv4Address = scratch.value(idb->applied_ipv4_addr, "PTP interface bag address");
        }
        break;
    }
    case PTP_ENCAP_IPV6: {
        auto *list = scratch.alloc<ptp_bag_ipv6_addr_list>(1, "PTP interface bag address list");
        if (list != nullptr) {
            if (config.source_ipv6.enable != 0) {
                ptp_bag_ipv6_addr_list_fill(&idb->applied_ipv6_addr, 1, list);
            } else {
                ptp_bag_ipv6_addr_list_fill(idb->ipv6_addr_list, idb->ipv6_addr_count, list);
            }
            scratch.own(list->AddrList.array);
            info.IPv6AddressArray = list;
        }
        ptp_bag_ipv6_addr applied{};
        std::memcpy(applied.addr, idb->applied_ipv6_addr, sizeof applied.addr);
        info.IPv6Address = scratch.value(applied, "PTP interface bag address");
        break;
    }
    case PTP_ENCAP_ETHERNET:
        if ((idb->flags & TESSEL_IPC_FLAG_ETHER_INFO_KNOWN) != 0) {
            ptp_bag_mac_addr_type mac{};
            if (eth_encap_attr_src_mac_get(idb->ether_info, idb->ether_info_len, mac.macaddr) == 0) {
                info.MACAddress = scratch.value(mac, "Bag ethernet info");
            }
        }
        break;
    default: break;
    }

    // The configured master table, with what the port knows of each master.
    const uint32_t masters = tessel_master_db_count(&config.master_table);
    auto *rows = scratch.alloc<ptp_bag_master_table_entry>(masters, "PTP interface bag master table");
    if (masters != 0 && rows == nullptr) {
        return PTP_ZERR_NOMEM;
    }
    uint32_t k = 0;
    for_each_row<tessel_master_db_type>(
        const_cast<avl2_tree_type *>(&config.master_table.tree), [&](tessel_master_db_type *m) {
            if (k >= masters) {
                return;
            }
            ptp_bag_master_table_entry &row = rows[k++];
            ptp_address_to_bag(&m->address, &row.Address);
            row.CommunicationModel = static_cast<ptp_bag_communication_model>(master_model(*m));
            if ((m->flags & TESSEL_MASTER_DB_PRIORITY_SET) != 0) {
                row.Priority = scratch.value(static_cast<uint8_t>(m->priority), "Master table priority");
            }
            if ((m->flags & TESSEL_MASTER_DB_NON_NEGOTIATED_SET) != 0) {
                row.IsNonnegotiated = scratch.value(uint32_t{(m->flags & TESSEL_MASTER_DB_NON_NEGOTIATED) != 0},
                                                    "Master unicast negotiation");
            }
            if (const ptp_fsm_foreign_master_type *fm = foreign_master_of(proto, m->address); fm != nullptr) {
                row.Known = fm->announce_count != 0;
                row.IsKnownValid = 1;
                row.Qualified = fm->is_in_ranked_list;
                row.IsQualifiedValid = 1;
                row.IsGrandmaster = is_grandmaster(*fm);
                row.IsIsGrandmasterValid = 1;
                row.PTSFLossAnnounce = fm->ptsf_lossannounce;
                row.PTSFLossSync = ptsf_loss_sync(*fm) ? 1 : 0;
                row.ArePTSFValid = 1;
            }
        });
    info.MasterTable = {k, rows};
    info.ConfiguredPortState = static_cast<ptp_bag_restrict_port_state_type>(reported_port_state(config));

    // Interop.
    if (const tessel_interop_config_type *interop = config.interop_cfg; interop != nullptr) {
        info.ProfileInterop = 1;
        const char *what = "PTP interface bag interop config";
        if ((interop->presence & TESSEL_INTEROP_DOMAIN) != 0) {
            info.InteropDomain = scratch.value(interop->domain, what);
        }
        if ((interop->presence & TESSEL_INTEROP_PROFILE) != 0) {
            info.InteropProfile = scratch.value(static_cast<ptp_bag_profile_type>(interop->profile), what);
        }
        info.IngressConversion = scratch.alloc<ptp_bag_profile_interop_cfg>(1, what);
        if (info.IngressConversion != nullptr) {
            interop_half_to_bag(scratch, *interop, false, info.IngressConversion);
        }
        info.EgressConversion = scratch.alloc<ptp_bag_profile_interop_cfg>(1, what);
        if (info.EgressConversion != nullptr) {
            interop_half_to_bag(scratch, *interop, true, info.EgressConversion);
        }
    }

    // Capabilities.
    info.SupportsUnicast = 1;
    info.SupportsMaster = 1;
    info.SupportsIPv4 = 1;
    info.SupportsOneStep = tessel_intf_caps_supports_one_step();
    info.SupportsTwoStep = tessel_intf_caps_supports_two_step();
    info.SupportsEthernet = tessel_intf_caps_supports_ethernet();
    info.SupportsMulticast = tessel_intf_caps_supports_multicast();
    info.SupportsIPv6 = tessel_intf_caps_supports_ipv6();
    info.SupportsSourceIP = tessel_intf_caps_supports_source_ip();
    info.SupportsSlave = slave_supported(idb);
    info.MaxSyncRate = tessel_intf_caps_get_max_sync_rate();

    // What the port does.
    if (proto != nullptr) {
        info.PortState = static_cast<ptp_bag_port_state>(proto->fsm.PortState);
        info.PortNumber = profile == PTP_PROFILE_G8265_1 ? 1 : proto->port_num;
        info.internal_port_number = proto->port_num;
        info.UnicastPeers = proto->fsm.unicast_peer_count;
        if (signal_fail_applies(proto)) {
            info.SignalFail = scratch.value(signal_fail_of(proto), "PTP interface bag signal fail");
        }
        ptp_bag_address peer{};
        bool have_peer = false;
        const ptp_fsm_foreign_master_type *best = proto->fsm.foreign_master_ranked_list;
        if ((proto->fsm.PortState == PTP_PORT_STATE_UNCALIBRATED || proto->fsm.PortState == PTP_PORT_STATE_SLAVE) &&
            best != nullptr) {
            ptp_address_to_bag(&best->peer_addr, &peer);
            have_peer = true;
        } else if (proto->fsm.PortState == PTP_PORT_STATE_MASTER && proto->fsm.unicast_peer_count == 1) {
            if (avl2_node_type *n = avl2_get_first(&proto->fsm.unicast_peer_tree); n != nullptr) {
                ptp_address_to_bag(&reinterpret_cast<ptp_fsm_peer_entry_type *>(n)->peer_addr, &peer);
                have_peer = true;
            }
        }
        if (have_peer) {
            info.current_peer = scratch.value(peer, "PTP interface bag peer");
        }
        for (const ptp_fsm_foreign_master_type *fm = best; fm != nullptr; fm = fm->ranked_next) {
            info.associate_port_count++;
        }
    }
    if (scratch.failed && info.MasterTable.array == nullptr && masters != 0) {
        return PTP_ZERR_NOMEM;
    }
    return encode_if_bag(idb, &info, ptp_if_info_bag_getfn(),
                         "%s: [ERROR] Failed to encode interface info bag for interface %s (0x%8.8x): %s", bag, length);
}

zerrno tessel_edm_if_interop_build(tessel_ipc_idb_type *idb, bool name, bool data, char *key, uint8_t **bag,
                                   uint32_t *length)
{
    tessel_proto_idb_type *proto = proto_record_of(idb);
    if (proto == nullptr || proto->config.interop_cfg == nullptr) {
        return NODRA_ERR_EDM_NOT_FOUND;
    }
    if (name) {
        write_key(idb, key);
    }
    if (!data) {
        return 0;
    }
    bag_scratch_type scratch;
    const tessel_interop_config_type &interop = *proto->config.interop_cfg;
    const auto node_profile = static_cast<ptp_profile_type>(tessel_port_mgr_get_profile());
    const tessel_port_mgr_local_clock_type *local = tessel_port_mgr_get_local_clock();
    ptp_if_interop_info info{};
    info.Name = idb->header.ifname;
    info.LocalDomain = local != nullptr ? static_cast<uint8_t>(local->domain) : 0;
    info.LocalProfile = static_cast<ptp_bag_profile_type>(node_profile);
    info.InteropDomain = interop.domain;
    info.InteropProfile = static_cast<ptp_bag_profile_type>(interop.profile);
    const uint8_t ql = tessel_cfg_get_fsync_ql_option();
    const auto convert = [&](const ptp_clock_type &clock, int direction, ptp_bag_profile_interop *out) {
        out->FromPriority1 = clock.priority1;
        out->ToPriority1 = tessel_interop_convert_priority1(clock.priority1, node_profile, direction, interop);
        out->FromPriority2 = clock.priority2;
        out->ToPriority2 = tessel_interop_convert_priority2(clock.priority2, node_profile, direction, interop);
        out->FromAccuracy = clock.accuracy;
        out->ToAccuracy = tessel_interop_convert_clock_accuracy(clock.accuracy, node_profile, direction, interop);
        out->FromClockClass = clock.clock_class;
        out->ToClockClass = tessel_interop_convert_clock_class(clock.clock_class, node_profile, ql, direction, interop);
        out->FromOffsetLogVariance = clock.offset_log_variance;
        out->ToOffsetLogVariance =
            tessel_interop_convert_oslv(clock.offset_log_variance, node_profile, direction, interop);
    };
    const uint32_t masters = static_cast<uint32_t>(avl2_count(&proto->fsm.foreign_master_table));
    auto *rows = scratch.alloc<ptp_bag_profile_interop_peer>(masters, "PTP ingress interop info");
    uint32_t k = 0;
    if (rows != nullptr) {
        for_each_row<ptp_fsm_foreign_master_type>(
            &proto->fsm.foreign_master_table, [&](ptp_fsm_foreign_master_type *fm) {
                if (k < masters) {
                    ptp_address_to_bag(&fm->peer_addr, &rows[k].Address);
                    convert(fm->master_clock, TESSEL_INTEROP_INGRESS, &rows[k].Interop);
                    k++;
                }
            });
    }
    info.IngressInterop = {k, rows};
    if (const ptp_clock_type *advertised = tessel_bmc_get_advertised_clock(); advertised != nullptr) {
        info.EgressInterop = scratch.alloc<ptp_bag_profile_interop>(1, "PTP egress interop info");
        if (info.EgressInterop != nullptr) {
            convert(*advertised, TESSEL_INTEROP_EGRESS, info.EgressInterop);
        }
    }
    return encode_if_bag(idb, &info, ptp_if_interop_info_bag_getfn(),
                         "%s: [ERROR] Failed to encode interface interop info bag for interface %s (0x%8.8x): %s", bag,
                         length);
}

zerrno tessel_edm_if_foreign_clock_build(tessel_ipc_idb_type *idb, bool name, bool data, char *key, uint8_t **bag,
                                         uint32_t *length)
{
    if (name) {
        write_key(idb, key);
    }
    if (!data) {
        return 0;
    }
    bag_scratch_type scratch;
    tessel_proto_idb_type *proto = proto_record_of(idb);
    const uint32_t profile = tessel_port_mgr_get_profile();
    ptp_if_clock_info info{};
    info.name = idb->header.ifname;
    info.selection_mode = static_cast<ptp_bag_clock_selection_mode>(profile);
    if (proto != nullptr) {
        info.PortNumber = profile == PTP_PROFILE_G8265_1 ? 1 : proto->port_num;
        info.internal_port_number = proto->port_num;
        const uint32_t masters = static_cast<uint32_t>(avl2_count(&proto->fsm.foreign_master_table));
        auto *rows = scratch.alloc<ptp_bag_foreign_clock>(masters, "PTP foreign clock bag");
        const tessel_port_mgr_local_clock_type *local = tessel_port_mgr_get_local_clock();
        struct timespec now {};
        clock_gettime(CLOCK_REALTIME, &now);
        uint32_t k = 0;
        for_each_row<ptp_fsm_foreign_master_type>(
            &proto->fsm.foreign_master_table, [&](ptp_fsm_foreign_master_type *fm) {
                const uint16_t index = peer_index_of(proto, fm->peer_addr);
                if (rows == nullptr || index == 0 || k >= masters) {
                    return; // a master without a peer index is not shown
                }
                ptp_bag_foreign_clock &row = rows[k++];
                row.PeerIndex = index;
                clock_to_bag(fm->master_clock, &row.ForeignClock);
                row.IsQualified = fm->is_in_ranked_list;
                row.IsGrandmaster = is_grandmaster(*fm);
                row.CommunicationModel = static_cast<ptp_bag_communication_model>(fm->transport);
                row.IsKnown = fm->announce_count != 0;
                const int64_t known = now.tv_sec - fm->first_announce_time.tv_sec;
                row.TimeKnownFor = fm->first_announce_time.tv_sec != 0 && known > 0 ? static_cast<uint32_t>(known) : 0;
                row.ForeignDomain = local != nullptr ? static_cast<uint8_t>(local->domain) : 0;
                ptp_address_to_bag(&fm->peer_addr, &row.Address);
                if (fm->is_priority_configured) {
                    row.ConfiguredPriority = scratch.value(fm->configured_priority, "PTP foreign clock bag");
                }
                if (fm->is_clock_class_configured) {
                    row.ConfiguredClockClass = scratch.value(fm->configured_clock_class, "PTP foreign clock bag");
                }
                row.DelayAsymmetry = fm->delay_asymmetry;
                const auto &g = fm->grant;
                row.AnnounceGrant =
                    grant_to_bag(scratch, fm->is_announce_granted, g[PTP_FSM_FM_GRANT_ANNOUNCE].log_interval,
                                 g[PTP_FSM_FM_GRANT_ANNOUNCE].duration, "Announce grant bag info");
                row.SyncGrant = grant_to_bag(scratch, fm->is_sync_granted, g[PTP_FSM_FM_GRANT_SYNC].log_interval,
                                             g[PTP_FSM_FM_GRANT_SYNC].duration, "Sync grant bag info");
                row.DelayResponseGrant =
                    grant_to_bag(scratch, fm->is_delay_resp_granted, g[PTP_FSM_FM_GRANT_DELAY_RESP].log_interval,
                                 g[PTP_FSM_FM_GRANT_DELAY_RESP].duration, "Delay-resp grant bag info");
                row.PTSFLossAnnounce = fm->ptsf_lossannounce;
                row.PTSFLossSync = ptsf_loss_sync(*fm);
                row.IsDNU =
                    !fm->is_in_ranked_list && profile != PTP_PROFILE_DEFAULT && fm->master_clock.clock_class == 110;
            });
        info.ForeignClocks = {k, rows};
    }
    return encode_if_bag(idb, &info, ptp_if_clock_info_bag_getfn(),
                         "%s: [ERROR] Failed to encode foreign clock bag for interface %s (0x%8.8x): %s", bag, length);
}

zerrno tessel_edm_if_unicast_peers_build(tessel_ipc_idb_type *idb, bool name, bool data, char *key, uint8_t **bag,
                                         uint32_t *length)
{
    if (name) {
        write_key(idb, key);
    }
    if (!data) {
        return 0;
    }
    bag_scratch_type scratch;
    tessel_proto_idb_type *proto = proto_record_of(idb);
    ptp_if_unicast_peer_info info{};
    info.Name = idb->header.ifname;
    if (proto != nullptr) {
        info.PortNumber = tessel_port_mgr_get_profile() == PTP_PROFILE_G8265_1 ? 1 : proto->port_num;
        info.internal_port_number = proto->port_num;
        // Slaves of the port.
        const uint32_t peers = static_cast<uint32_t>(avl2_count(&proto->fsm.unicast_peer_tree));
        auto *rows = scratch.alloc<ptp_bag_unicast_peer>(peers, "Unicast peers bag");
        uint32_t k = 0;
        for_each_row<ptp_fsm_peer_entry_type>(&proto->fsm.unicast_peer_tree, [&](ptp_fsm_peer_entry_type *p) {
            if (rows == nullptr || k >= peers) {
                return;
            }
            ptp_bag_unicast_peer &row = rows[k++];
            row.PeerIndex = peer_index_of(proto, p->peer_addr);
            ptp_address_to_bag(&p->peer_addr, &row.Address);
            const auto &g = p->grant;
            row.AnnounceGrant =
                grant_to_bag(scratch, p->is_announce_granted, g[PTP_FSM_PEER_GRANT_ANNOUNCE].log_interval,
                             g[PTP_FSM_PEER_GRANT_ANNOUNCE].duration, "Announce grant bag info");
            row.SyncGrant = grant_to_bag(scratch, p->is_sync_granted, g[PTP_FSM_PEER_GRANT_SYNC].log_interval,
                                         g[PTP_FSM_PEER_GRANT_SYNC].duration, "Sync grant bag info");
            row.DelayResponseGrant =
                grant_to_bag(scratch, p->is_delay_resp_granted, g[PTP_FSM_PEER_GRANT_DELAY_RESP].log_interval,
                             g[PTP_FSM_PEER_GRANT_DELAY_RESP].duration, "Delay-resp grant bag info");
        });
        info.Peers = {k, rows};
        // Masters negotiated with.
        const uint32_t masters = static_cast<uint32_t>(avl2_count(&proto->fsm.foreign_master_table));
        auto *fms = scratch.alloc<ptp_bag_unicast_peer>(masters, "Foreign masters bag");
        uint32_t j = 0;
        for_each_row<ptp_fsm_foreign_master_type>(
            &proto->fsm.foreign_master_table, [&](ptp_fsm_foreign_master_type *fm) {
                if (fms == nullptr || j >= masters || fm->is_nonnegotiated) {
                    return;
                }
                ptp_bag_unicast_peer &row = fms[j++];
                row.PeerIndex = peer_index_of(proto, fm->peer_addr);
                ptp_address_to_bag(&fm->peer_addr, &row.Address);
                const auto &g = fm->grant;
                row.AnnounceGrant =
                    grant_to_bag(scratch, fm->is_announce_granted, g[PTP_FSM_FM_GRANT_ANNOUNCE].log_interval,
                                 g[PTP_FSM_FM_GRANT_ANNOUNCE].duration, "Announce grant bag info");
                row.SyncGrant = grant_to_bag(scratch, fm->is_sync_granted, g[PTP_FSM_FM_GRANT_SYNC].log_interval,
                                             g[PTP_FSM_FM_GRANT_SYNC].duration, "Sync grant bag info");
                row.DelayResponseGrant =
                    grant_to_bag(scratch, fm->is_delay_resp_granted, g[PTP_FSM_FM_GRANT_DELAY_RESP].log_interval,
                                 g[PTP_FSM_FM_GRANT_DELAY_RESP].duration, "Delay-resp grant bag info");
            });
        info.ForeignMasters = {j, fms};
        if (scratch.failed) {
            return PTP_ZERR_NOMEM; // a grant or list that could not be had
        }
    }
    return encode_if_bag(idb, &info, ptp_if_unicast_peer_info_bag_getfn(),
                         "%s: [ERROR] Failed to encode unicast peers bag for interface %s (0x%8.8x): %s", bag, length);
}

zerrno tessel_edm_if_port_ds_build(tessel_ipc_idb_type *idb, bool name, bool data, char *key, uint8_t **bag,
                                   uint32_t *length)
{
    if (name) {
        write_key(idb, key);
    }
    if (!data) {
        return 0;
    }
    const tessel_port_mgr_local_clock_type *local = tessel_port_mgr_get_local_clock();
    if (local == nullptr) {
        TESSEL_EDM_DEBUG_ERR("%s: [ERROR] Failed to retrieve local-clock information for portDS bag");
        return PTP_ZERR_CFG_CLOCK_ID;
    }
    bag_scratch_type scratch;
    tessel_proto_idb_type *proto = proto_record_of(idb);
    const uint32_t profile = tessel_port_mgr_get_profile();
    const tessel_if_config_type &config = proto != nullptr ? proto->config : idb->applied_config;
    ptp_port_ds_info info{};
    info.profile = static_cast<ptp_bag_profile_type>(profile);
    info.InterfaceName = idb->header.ifname;
    info.ClockID = local->clock_id;
    info.PortNumber = proto != nullptr ? proto->port_num : 0;
    info.PortState =
        proto != nullptr ? static_cast<ptp_bag_port_state>(proto->fsm.PortState) : PTP_BAG_PORT_STATE_INITIALIZING;
    info.LogMinDelayReqInterval = config.delay_req_interval;
    info.LogAnnounceInterval = config.announce_interval;
    info.AnnoucneReceiptTimeout = config.announce_timeout;
    info.LogSyncInterval = config.sync_interval;
    info.DelayMechanism = PTP_BAG_DELAY_MECHANISM_E2E;
    info.VersionNumber = 2;
    if (profile >= PTP_PROFILE_G8265_1 && profile <= PTP_PROFILE_G8275_2) {
        info.LocalPriority = scratch.value(config.local_priority, "PTP portDS bag");
        uint32_t master_only = 0;
        switch (config.port_state) {
        case PTP_RESTRICT_PORT_STATE_MASTER_ONLY: master_only = 1; break;
        case PTP_RESTRICT_PORT_STATE_SLAVE_ONLY: master_only = 0; break;
        default: master_only = tessel_port_mgr_get_telecom_clock_type() == PTP_TELECOM_CLOCK_T_GM ? 1 : 0; break;
        }
        info.MasterOnly = scratch.value(master_only, "PTP portDS bag");
        if (proto != nullptr && signal_fail_applies(proto)) {
            info.SignalFail = scratch.value(signal_fail_of(proto), "PTP portDS bag");
        }
    }
    return encode_if_bag(idb, &info, ptp_port_ds_info_bag_getfn(),
                         "%s: [ERROR] Failed to encode portDS bag for interface %s (0x%8.8x): %s", bag, length);
}

bool cfg_bit(tessel_if_config_flags_type flags, uint32_t bit)
{
    return (flags & (1u << bit)) != 0;
}

bool outside(int32_t value, int32_t low, int32_t high)
{
    return value < low || value > high;
}

// The mapped classes of one direction that a profile refuses: the source classes (from) or the
// classes mapped to.
void refused_classes(bag_scratch_type &scratch, const tessel_interop_half_config_type &half, bool mapped_to,
                     uint32_t profile, bag_array<uint8_t> *out)
{
    uint32_t count = 0;
    for (uint32_t c = 0; c < TESSEL_INTEROP_CLOCK_CLASS_COUNT; c++) {
        const tessel_interop_clock_class_map_entry_type &m = half.clock_class_mapping[c];
        if (m.present != 0 && !ptp_profile_clock_class_is_ok(profile, mapped_to ? m.clock_class : c)) {
            count++;
        }
    }
    auto *values = scratch.alloc<uint8_t>(count, "PTP config errors bag clock classes");
    if (values == nullptr) {
        return;
    }
    uint32_t k = 0;
    for (uint32_t c = 0; c < TESSEL_INTEROP_CLOCK_CLASS_COUNT && k < count; c++) {
        const tessel_interop_clock_class_map_entry_type &m = half.clock_class_mapping[c];
        const uint32_t value = mapped_to ? m.clock_class : c;
        if (m.present != 0 && !ptp_profile_clock_class_is_ok(profile, value)) {
            values[k++] = static_cast<uint8_t>(value);
        }
    }
    *out = {k, values};
}

void interop_errors(bag_scratch_type &scratch, const tessel_interop_config_type &interop, uint32_t node_profile,
                    uint32_t clock_type, ptp_bag_config_errors *e)
{
    const uint32_t remote = interop.profile;
    const uint16_t p = interop.presence;
    const tessel_interop_half_config_type &in = interop.ingress;
    const tessel_interop_half_config_type &out = interop.egress;
    e->InvalidInteropDomain = !ptp_profile_domain_is_ok(remote, interop.domain);
    // Ingress values are what this node's profile will see.
    e->InvalidInteropIngressClockClassDefault = (p & TESSEL_INTEROP_INGRESS_CLOCK_CLASS_DEFAULT) != 0 &&
                                                !ptp_profile_clock_class_is_ok(node_profile, in.clock_class_default);
    e->InvalidInteropIngressPriority1 =
        (p & TESSEL_INTEROP_INGRESS_PRIORITY1) != 0 && !ptp_profile_priority1_is_ok(node_profile, in.priority1);
    e->InvalidInteropIngressClockAccuracy = (p & TESSEL_INTEROP_INGRESS_CLOCK_ACCURACY) != 0 &&
                                            !ptp_profile_clock_accuracy_is_ok(node_profile, in.clock_accuracy);
    e->InvalidInteropIngressOSLV =
        (p & TESSEL_INTEROP_INGRESS_OSLV) != 0 && !ptp_profile_oslv_is_ok(node_profile, in.oslv);
    if ((p & TESSEL_INTEROP_INGRESS_CLOCK_CLASS_MAPPING) != 0) {
        refused_classes(scratch, in, false, remote, &e->InvalidInteropIngressClockClassMapFromVals);
        refused_classes(scratch, in, true, node_profile, &e->InvalidInteropIngressClockClassMapToVals);
    }
    // Egress values are what the far side's profile will see.
    e->InvalidInteropEgressClockClassDefault = (p & TESSEL_INTEROP_EGRESS_CLOCK_CLASS_DEFAULT) != 0 &&
                                               !ptp_profile_clock_class_is_ok(remote, out.clock_class_default);
    e->InvalidInteropEgressPriority1 =
        (p & TESSEL_INTEROP_EGRESS_PRIORITY1) != 0 && !ptp_profile_priority1_is_ok(remote, out.priority1);
    e->InvalidInteropEgressPriority2 =
        (p & TESSEL_INTEROP_EGRESS_PRIORITY2) != 0 && !ptp_profile_priority2_is_ok(remote, out.priority2, clock_type);
    e->InvalidInteropEgressClockAccuracy = (p & TESSEL_INTEROP_EGRESS_CLOCK_ACCURACY) != 0 &&
                                           !ptp_profile_clock_accuracy_is_ok(remote, out.clock_accuracy);
    e->InvalidInteropEgressOSLV = (p & TESSEL_INTEROP_EGRESS_OSLV) != 0 && !ptp_profile_oslv_is_ok(remote, out.oslv);
    if ((p & TESSEL_INTEROP_EGRESS_CLOCK_CLASS_MAPPING) != 0) {
        refused_classes(scratch, out, false, node_profile, &e->InvalidInteropEgressClockClassMapFromVals);
        refused_classes(scratch, out, true, remote, &e->InvalidInteropEgressClockClassMapToVals);
    }
}

zerrno tessel_edm_if_config_errors_build(tessel_ipc_idb_type *idb, bool name, bool data, char *key, uint8_t **bag,
                                         uint32_t *length)
{
    if (name) {
        write_key(idb, key);
    }
    if (!data) {
        return 0;
    }
    bag_scratch_type scratch;
    uint32_t clock_type = 0;
    const uint32_t profile = tessel_ipc_get_clock_profile(&clock_type);
    const tessel_if_config_type &c = idb->applied_config;
    const tessel_if_config_flags_type set = idb->applied_config_flags;
    const tessel_interop_config_type *interop = c.interop_cfg;
    const uint32_t wire = interop != nullptr ? interop->profile : profile;
    const auto wire_is = [wire](std::initializer_list<uint32_t> profiles) {
        return std::find(profiles.begin(), profiles.end(), wire) != profiles.end();
    };
    const uint32_t port_state = c.port_state;
    const bool master_only = port_state == PTP_RESTRICT_PORT_STATE_MASTER_ONLY;
    const bool slave_only = port_state == PTP_RESTRICT_PORT_STATE_SLAVE_ONLY;
    const bool t_gm = clock_type == PTP_TELECOM_CLOCK_T_GM;
    const bool t_tsc = clock_type == PTP_TELECOM_CLOCK_T_TSC;
    const bool masters = tessel_master_db_count(&c.master_table) != 0;

    ptp_if_config_errors_entry info{};
    info.InterfaceName = idb->header.ifname;
    if (idb->profile_db != nullptr) {
        info.ConfigurationProfileName = scratch.value<ptp_bag_string>(idb->profile_db->name, "PTP config errors bag");
    }
    info.ClockProfile = static_cast<ptp_bag_profile_type>(profile);
    info.TelecomClockType = static_cast<ptp_bag_telecom_clock_type>(clock_type);
    info.RestrictPortState = static_cast<ptp_bag_restrict_port_state_type>(port_state);
    if (interop != nullptr) {
        info.InteropProfile =
            scratch.value(static_cast<ptp_bag_profile_type>(interop->profile), "PTP config errors bag");
    }
    ptp_bag_config_errors &e = info.ConfigurationErrors;
    e.GlobalPTP = (idb->flags & TESSEL_IPC_FLAG_ENABLED) != 0 && tessel_ipc_get_ptp_enable() == 0;
    e.EthernetTransport = c.encap == PTP_ENCAP_ETHERNET && !tessel_intf_caps_supports_ethernet();
    e.OneStep = c.clock_operation == 1 && !tessel_intf_caps_supports_one_step();
    e.Slave = slave_only && !slave_supported(idb);
    e.IPv6 = c.source_ipv6.enable != 0 && !tessel_intf_caps_supports_ipv6();
    e.Multicast = !ptp_transport_is_unicast(c.transport) && !tessel_intf_caps_supports_multicast();
    e.ProfileNotGlobal = idb->profile_db != nullptr && idb->profile_db->has_config == 0;
    e.LocalPriority = cfg_bit(set, TESSEL_CFG_BIT_LOCAL_PRIORITY) &&
                      (profile == PTP_PROFILE_DEFAULT || profile == PTP_PROFILE_G8265_1);
    e.ProfilePortState = profile >= PTP_PROFILE_G8265_1 && profile <= PTP_PROFILE_G8275_2 &&
                         ((master_only && t_tsc) || (slave_only && t_gm));
    e.ProfileEthernet = wire_is({1, 3}) && c.encap == PTP_ENCAP_ETHERNET;
    e.ProfileIPv4 = wire_is({2}) && c.encap == PTP_ENCAP_IPV4;
    e.ProfileIPv6 = wire_is({1, 2}) && c.encap == PTP_ENCAP_IPV6;
    e.ProfileUnicast = wire_is({2}) && c.transport == PTP_TRANSPORT_UNICAST;
    e.ProfileMulticast = wire_is({1, 3}) && c.transport == PTP_TRANSPORT_MULTICAST;
    e.ProfileMixed = wire_is({1, 3}) && c.transport == PTP_TRANSPORT_MIXED;
    for_each_row<tessel_master_db_type>(
        const_cast<avl2_tree_type *>(&c.master_table.tree), [&](tessel_master_db_type *m) {
            const uint32_t model = master_model(*m);
            e.ProfileMasterUnicast |= wire_is({2}) && model == PTP_TRANSPORT_UNICAST;
            e.ProfileMasterMulticast |= wire_is({1, 3}) && model == PTP_TRANSPORT_MULTICAST;
            e.ProfileMasterMixed |= wire_is({1, 2, 3}) && model == PTP_TRANSPORT_MIXED;
        });
    const bool target = cfg_bit(set, TESSEL_CFG_BIT_MULTICAST_ADDRESS);
    e.TargetAddressIPv4 = target && c.encap == PTP_ENCAP_IPV4;
    e.TargetAddressIPv6 = target && c.encap == PTP_ENCAP_IPV6;
    e.IPv4TTL = cfg_bit(set, TESSEL_CFG_BIT_IPV4_TTL) && c.encap != PTP_ENCAP_IPV4;
    e.IPv6HopLimit = cfg_bit(set, TESSEL_CFG_BIT_IPV6_HOP_LIMIT) && c.encap != PTP_ENCAP_IPV6;
    e.ProfileAnnounceInterval = wire_is({3}) && outside(c.announce_interval, -3, 0);
    e.ProfileSyncInterval = wire_is({3}) && outside(c.sync_interval, -7, 0);
    e.ProfileDelayReqInterval = wire_is({3}) && outside(c.delay_req_interval, -7, 0);
    e.ProfileSyncTimeout = wire_is({0, 1}) && cfg_bit(set, TESSEL_CFG_BIT_SYNC_TIMEOUT);
    e.ProfileDelayRespTimeout = wire_is({0, 1}) && cfg_bit(set, TESSEL_CFG_BIT_DELAY_RESP_TIMEOUT);
    e.InvalidGrantReduction = wire_is({3}) && c.deny_invalid_grants == 0;
    if (interop != nullptr) {
        interop_errors(scratch, *interop, profile, clock_type, &e);
    }
    const bool slaves = tessel_slave_db_count(&c.slave_table) != 0;
    e.InvalidMasterConfigClockType = masters && t_gm;
    e.InvalidSlaveConfigClockType = slaves && t_tsc;
    e.InvalidMasterConfigPortState = masters && master_only;
    e.InvalidSlaveConfigPortState = slaves && slave_only;
    const bool asymmetry = cfg_bit(set, TESSEL_CFG_BIT_DELAY_ASYMMETRY);
    e.DelayAsymmetryConfigClockType = asymmetry && t_gm;
    e.DelayAsymmetryConfigPortState = asymmetry && master_only;
    return encode_if_bag(idb, &info, ptp_if_config_errors_entry_bag_getfn(),
                         "%s: [ERROR] Failed to encode interface info bag for interface %s (0x%8.8x): %s", bag, length);
}

void config_to_bag(bag_scratch_type &scratch, const tessel_if_config_type &c, ptp_bag_idb_config *out)
{
    out->EncapsulationConfiguration = static_cast<ptp_bag_encap>(c.encap);
    out->LogAnnounceIntervalConfiguration = static_cast<uint32_t>(c.announce_interval);
    out->AnnounceTimeoutConfiguration = c.announce_timeout;
    out->LogSyncIntervalConfiguration = static_cast<uint32_t>(c.sync_interval);
    out->LogMinimumDelayRequestIntervalConfiguration = static_cast<uint32_t>(c.delay_req_interval);
    const uint32_t masters = tessel_master_db_count(&c.master_table);
    auto *mrows = scratch.alloc<ptp_bag_master_table_entry>(masters, "PTP IDB bag master table config");
    uint32_t k = 0;
    for_each_row<tessel_master_db_type>(
        const_cast<avl2_tree_type *>(&c.master_table.tree), [&](tessel_master_db_type *m) {
            if (mrows == nullptr || k >= masters) {
                return;
            }
            ptp_bag_master_table_entry &row = mrows[k++];
            ptp_address_to_bag(&m->address, &row.Address);
            row.CommunicationModel = static_cast<ptp_bag_communication_model>(master_model(*m));
            if ((m->flags & TESSEL_MASTER_DB_PRIORITY_SET) != 0) {
                row.Priority = scratch.value(static_cast<uint8_t>(m->priority), "PTP IDB bag master table config");
            }
            if ((m->flags & TESSEL_MASTER_DB_NON_NEGOTIATED_SET) != 0) {
                row.IsNonnegotiated = scratch.value(uint32_t{(m->flags & TESSEL_MASTER_DB_NON_NEGOTIATED) != 0},
                                                    "PTP IDB bag master table config");
            }
        });
    out->MasterTable = {k, mrows};
    const uint32_t slaves = tessel_slave_db_count(&c.slave_table);
    auto *srows = scratch.alloc<ptp_bag_slave_table_entry>(slaves, "PTP IDB bag slave table config");
    uint32_t j = 0;
    for_each_row<tessel_slave_db_type>(const_cast<avl2_tree_type *>(&c.slave_table.tree), [&](tessel_slave_db_type *s) {
        if (srows == nullptr || j >= slaves) {
            return;
        }
        ptp_bag_slave_table_entry &row = srows[j++];
        ptp_address_to_bag(&s->address, &row.SlaveTableEntryAddress);
        row.IsNonnegotiated =
            scratch.value(uint32_t{(s->flags & TESSEL_SLAVE_DB_NON_NEGOTIATED) != 0}, "PTP IDB bag slave table config");
    });
    out->SlaveTable = {j, srows};
    out->PortStateConfiguration = static_cast<ptp_bag_restrict_port_state_type>(c.port_state);
    out->ClockOperationConfiguration.OneStep = c.clock_operation == 1;
    out->SourceIPConfiguration = {c.source_ip.enable, c.source_ip.address};
    out->SourceIPv6Configuration.Enable = c.source_ipv6.enable;
    std::memcpy(out->SourceIPv6Configuration.SourceIPv6Address, c.source_ipv6.address, PTP_IPV6_ADDR_LEN);
    out->COSConfiguration = c.cos;
    out->GeneralCOSConfiguration = c.general_cos;
    out->EventCOSConfiguration = c.event_cos;
    out->DSCPConfiguration = c.dscp;
    out->GeneralDSCPConfiguration = c.general_dscp;
    out->EventDSCPConfiguration = c.event_dscp;
    out->IPv4TTLConfiguration = c.ipv4_ttl;
    out->IPv6HopLimitConfiguration = c.ipv6_hop_limit;
    out->DelayAsymmetryConfiguration = c.delay_asymmetry;
    out->TransportConfiguration = static_cast<ptp_bag_transport_type>(c.transport);
    out->AnnounceGrantDurationConfiguration = c.announce_grant_duration;
    out->SyncGrantDurationConfiguration = c.sync_grant_duration;
    out->DelayRespGrantDurationConfiguration = c.delay_resp_grant_duration;
    out->DelayRespReceiveTimeoutConfiguration = c.delay_resp_timeout;
    out->DenyInvalidGrantsConfiguration = c.deny_invalid_grants != 0;
    out->SyncReceiveTimeoutConfiguration = c.sync_timeout;
}

void config_flags_to_bag(const tessel_if_config_type &c, tessel_if_config_flags_type flags,
                         ptp_bag_idb_config_flags *out)
{
    const auto set = [flags](uint32_t bit) -> uint32_t { return cfg_bit(flags, bit) ? 1 : 0; };
    out->EncapsulationConfigurationSet = set(TESSEL_CFG_BIT_ENCAP);
    out->AnnounceIntervalConfigurationSet = set(TESSEL_CFG_BIT_ANNOUNCE_INTERVAL);
    out->AnnounceTimeoutConfigurationSet = set(TESSEL_CFG_BIT_ANNOUNCE_TIMEOUT);
    out->SyncIntervalConfigurationSet = set(TESSEL_CFG_BIT_SYNC_INTERVAL);
    out->MinimumDelayRequestIntervalConfigurationSet = set(TESSEL_CFG_BIT_DELAY_REQ_INTERVAL);
    out->UnicastGrantConfigurationSet = tessel_master_db_count(&c.master_table) != 0;
    out->UnicastRequestConfigurationSet = tessel_slave_db_count(&c.slave_table) != 0;
    out->PortStateConfigurationSet = set(TESSEL_CFG_BIT_PORT_STATE);
    out->ClockOperationConfigurationSet = set(TESSEL_CFG_BIT_CLOCK_OPERATION);
    out->SourceIPConfigurationSet = set(TESSEL_CFG_BIT_SOURCE_IP);
    out->SourceIPv6ConfigurationSet = set(TESSEL_CFG_BIT_SOURCE_IPV6);
    out->COSConfigurationSet = set(TESSEL_CFG_BIT_COS);
    out->GeneralCOSConfigurationSet = set(TESSEL_CFG_BIT_GENERAL_COS);
    out->EventCOSConfigurationSet = set(TESSEL_CFG_BIT_EVENT_COS);
    out->DSCPConfigurationSet = set(TESSEL_CFG_BIT_DSCP);
    out->GeneralDSCPConfigurationSet = set(TESSEL_CFG_BIT_GENERAL_DSCP);
    out->EventDSCPConfigurationSet = set(TESSEL_CFG_BIT_EVENT_DSCP);
    out->IPv4TTLConfigurationSet = set(TESSEL_CFG_BIT_IPV4_TTL);
    out->IPv6HopLimitConfigurationSet = set(TESSEL_CFG_BIT_IPV6_HOP_LIMIT);
    out->DelayAsymmetryConfigurationSet = set(TESSEL_CFG_BIT_DELAY_ASYMMETRY);
    out->MulticastConfigurationSet = set(TESSEL_CFG_BIT_TRANSPORT);
    out->AnnounceGrantDurationSet = set(TESSEL_CFG_BIT_ANNOUNCE_GRANT_DURATION);
    out->SyncGrantDurationSet = set(TESSEL_CFG_BIT_SYNC_GRANT_DURATION);
    out->DelayRespGrantDurationSet = set(TESSEL_CFG_BIT_DELAY_RESP_GRANT_DURATION);
    out->DelayRespReceiveTimeoutSet = set(TESSEL_CFG_BIT_DELAY_RESP_TIMEOUT);
    out->DenyInvalidGrantsSet = set(TESSEL_CFG_BIT_DENY_INVALID_GRANTS);
    out->SyncReceiveTimeoutSet = set(TESSEL_CFG_BIT_SYNC_TIMEOUT);
    out->InteropCfgSet = set(TESSEL_CFG_BIT_INTEROP);
}

void session_state_to_bag(const tessel_offload_session_state_type &in, ptp_bag_idb_offload_entry *out)
{
    *out = {in.session_entry_exists, in.session_exists, in.create_update_pending, in.delete_pending, in.on_update_list};
}

bag_bytes rewrite_of(bag_scratch_type &scratch, const ptp_adjacency_type &adjacency)
{
    const uint32_t length = std::min<uint32_t>(adjacency.rewrite_str_len, sizeof adjacency.rewrite_str);
    auto *bytes = scratch.alloc<uint8_t>(length, "PTP IDB bag rewrite");
    if (bytes == nullptr) {
        return {0, nullptr};
    }
    std::memcpy(bytes, adjacency.rewrite_str, length);
    return {length, bytes};
}

void foreign_master_to_bag(bag_scratch_type &scratch, ptp_fsm_foreign_master_type &fm,
                           ptp_bag_idb_foreign_master_entry *out)
{
    ptp_address_to_bag(&fm.peer_addr, &out->peer_addr);
    out->configured_priority = fm.configured_priority;
    out->configured_clock_class = fm.configured_clock_class;
    out->delay_asymmetry = fm.delay_asymmetry;
    out->parent_port_id = {fm.parent_port_id.clock_id, fm.parent_port_id.port_num};
    clock_to_bag(fm.master_clock, &out->master_clock);
    out->is_priority_configured = fm.is_priority_configured;
    out->is_clock_class_configured = fm.is_clock_class_configured;
    out->transport = static_cast<ptp_bag_transport_type>(fm.transport);
    out->is_in_ranked_list = fm.is_in_ranked_list;
    out->is_slaving = fm.is_slaving;
    out->is_listening = fm.is_listening;
    out->is_resync_pending = fm.is_resync_pending;
    out->is_fib_registered = tessel_fib_info_registered(&fm.fib_info);
    out->is_fib_updated = (fm.fib_info.update.flags & TESSEL_FIB_UPDATE_PRESENT) != 0;
    out->rewrite_str = rewrite_of(scratch, fm.adjacency);
    out->announce_count = fm.announce_count;
    out->announce_id_array[0] = fm.announce_id_array[0];
    out->announce_id_array[1] = fm.announce_id_array[1];
    out->sync_received = fm.sync_received;
    out->delay_resp_received = fm.delay_resp_received;
    out->ptsf_lossannounce = fm.ptsf_lossannounce;
    out->ptsf_losssync_sync = fm.ptsf_losssync_sync;
    out->ptsf_losssync_delay_resp = fm.ptsf_losssync_delay_resp;
    out->signaling_id = fm.signaling_id;
    const auto &a = fm.grant[PTP_FSM_FM_GRANT_ANNOUNCE];
    const auto &s = fm.grant[PTP_FSM_FM_GRANT_SYNC];
    const auto &d = fm.grant[PTP_FSM_FM_GRANT_DELAY_RESP];
    out->announce_grant_timer_running = a.grant_timer != nullptr;
    out->announce_grant_retry_timer_running = a.retry_timer != nullptr;
    out->announce_grant_duration = a.duration;
    out->LogAnnounceInterval = a.log_interval;
    out->sync_grant_timer_running = s.grant_timer != nullptr;
    out->sync_grant_retry_timer_running = s.retry_timer != nullptr;
    out->sync_grant_duration = s.duration;
    out->LogSyncInterval = s.log_interval;
    out->delay_resp_grant_timer_running = d.grant_timer != nullptr;
    out->delay_resp_grant_retry_timer_running = d.retry_timer != nullptr;
    out->delay_resp_grant_duration = d.duration;
    out->log_delay_resp_interval = d.log_interval;
    out->is_announce_granted = fm.is_announce_granted;
    out->is_sync_granted = fm.is_sync_granted;
    out->is_delay_resp_granted = fm.is_delay_resp_granted;
    out->is_nonnegotiated = fm.is_nonnegotiated;
    out->delay_req_id = fm.delay_req_id;
    out->is_sending_delay_req = fm.is_sending_delay_req;
    out->is_handling_sync = fm.is_handling_sync;
    tessel_offload_session_state_type state{};
    tessel_offload_foreign_master_session_state_get(&fm, &state);
    session_state_to_bag(state, &out->offload_entry);
}

void peer_to_bag(bag_scratch_type &scratch, ptp_fsm_peer_entry_type &p, ptp_bag_idb_unicast_peer_entry *out)
{
    ptp_address_to_bag(&p.peer_addr, &out->peer_addr);
    out->peer_port_id = {p.peer_port_id.clock_id, p.peer_port_id.port_num};
    out->peer_sequence_id = p.peer_sequence_id;
    out->chkpt_id = static_cast<uint32_t>(p.chkpt_id);
    // Each grant's expiry as the record keeps it, wall-clock seconds (the field holds their low 32
    // bits), which the interface dump prints as a date.
    const auto expiry = [](const ptp_fsm_peer_grant_type &g) {
        return static_cast<int32_t>(static_cast<uint32_t>(g.expiry));
    };
    const auto &a = p.grant[PTP_FSM_PEER_GRANT_ANNOUNCE];
    const auto &s = p.grant[PTP_FSM_PEER_GRANT_SYNC];
    const auto &d = p.grant[PTP_FSM_PEER_GRANT_DELAY_RESP];
    out->announce_expiry_time = expiry(a);
    out->announce_grant_timer_running = a.grant_timer != nullptr && mgd_timer_leaf_running(a.grant_timer);
    out->announce_grant_duration = a.duration;
    out->log_announce_interval = a.log_interval;
    out->app_log_announce_interval = a.app_log_interval;
    out->sync_expiry_time = expiry(s);
    out->sync_grant_timer_running = s.grant_timer != nullptr && mgd_timer_leaf_running(s.grant_timer);
    out->sync_grant_duration = s.duration;
    out->log_sync_interval = s.log_interval;
    out->app_log_sync_interval = s.app_log_interval;
    out->delay_resp_expiry_time = expiry(d);
    out->delay_resp_grant_timer_running = d.grant_timer != nullptr && mgd_timer_leaf_running(d.grant_timer);
    out->delay_resp_grant_duration = d.duration;
    out->log_delay_resp_interval = d.log_interval;
    out->app_log_delay_resp_interval = d.app_log_interval;
    out->is_announce_granted = p.is_announce_granted;
    out->is_sync_granted = p.is_sync_granted;
    out->is_delay_resp_granted = p.is_delay_resp_granted;
    out->is_delay_req_replying = p.is_delay_req_replying;
    out->is_resync_pending = p.is_resync_pending;
    out->is_nonnegotiated = p.is_nonnegotiated;
    out->is_fib_registered = tessel_fib_info_registered(&p.fib_info);
    out->is_fib_updated = (p.fib_info.update.flags & TESSEL_FIB_UPDATE_PRESENT) != 0;
    out->rewrite_str = rewrite_of(scratch, p.adjacency);
    tessel_offload_session_state_type state{};
    tessel_offload_unicast_peer_session_state_get(&p, &state);
    session_state_to_bag(state, &out->offload_entry);
}

void caps_to_bag(const tessel_ipc_idb_type *idb, ptp_bag_idb_plat_caps *out)
{
    out->SupportsUnicast = 1;
    out->SupportsMaster = 1;
    out->SupportsOneStep = tessel_intf_caps_supports_one_step();
    out->SupportsTwoStep = tessel_intf_caps_supports_two_step();
    out->SupportsEthernet = tessel_intf_caps_supports_ethernet();
    out->SupportsMulticast = tessel_intf_caps_supports_multicast();
    out->SupportsIPv4 = 1;
    out->SupportsIPv6 = tessel_intf_caps_supports_ipv6();
    out->SupportsSlave = slave_supported(idb);
    out->SupportsSourceIP = tessel_intf_caps_supports_source_ip();
    out->LogSyncRate = tessel_intf_caps_get_log_max_sync_rate();
}

void ipc_idb_to_bag(bag_scratch_type &scratch, tessel_ipc_idb_type *idb, ptp_bag_ipc_idb *out)
{
    out->IPCThreadInterfaceName = idb->header.ifname;
    out->IPCThreadInterfaceHandle = idb->header.ifhandle;
    out->IPCThreadInterfaceType = static_cast<uint16_t>(idb->if_type);
    out->IPCThreadLineState = idb->im_state;
    out->IPCThreadRegisteredEncap = idb->registered_encap;
    const uint32_t ether_len = std::min<uint32_t>(idb->ether_info_len, sizeof idb->ether_info);
    if ((idb->flags & TESSEL_IPC_FLAG_ETHER_INFO_KNOWN) != 0) {
        (void)eth_encap_attr_src_mac_get(idb->ether_info, ether_len, out->IPCThreadMACAdress.macaddr);
    }
    if (auto *bytes = scratch.alloc<int8_t>(ether_len, "Bag ethernet info"); bytes != nullptr) {
        std::memcpy(bytes, idb->ether_info, ether_len);
        out->ether_info = {ether_len, bytes};
    }
    if (auto *list = scratch.alloc<ptp_bag_ipv4_addr_list>(1, "PTP IDB bag address list"); list != nullptr) {
        ptp_bag_ipv4_addr_list_fill(idb->ipv4_addr_list, idb->ipv4_addr_count, list);
        scratch.own(list->AddrList.array);
        out->IPCThreadIPv4AddressList = list;
    }
    out->IPCThreadIPv4VRF = idb->ipv4_vrf;
    out->IPCThreadIPv4AddressApplied = idb->applied_ipv4_addr;
    if (auto *list = scratch.alloc<ptp_bag_ipv6_addr_list>(1, "PTP IDB bag address list"); list != nullptr) {
        ptp_bag_ipv6_addr_list_fill(idb->ipv6_addr_list, idb->ipv6_addr_count, list);
        scratch.own(list->AddrList.array);
        out->IPCThreadIPv6AddressList = list;
    }
    std::memcpy(out->IPCThreadIPv6AddressApplied, idb->applied_ipv6_addr, PTP_IPV6_ADDR_LEN);
    const uint64_t f = idb->flags;
    const auto flag = [f](uint64_t bit) -> uint32_t { return (f & bit) != 0 ? 1 : 0; };
    out->IPCThreadFlags = static_cast<uint32_t>(f);
    out->IPCThreadFlagUpdateCreated = flag(TESSEL_IPC_FLAG_UPDATE_CREATED);
    out->IPCThreadFlagUpdateDeleted = flag(TESSEL_IPC_FLAG_UPDATE_DELETED);
    out->IPCThreadFlagUpdateEncap = flag(TESSEL_IPC_FLAG_UPDATE_ENCAP);
    out->IPCThreadFlagUpdateClockOperation = flag(TESSEL_IPC_FLAG_UPDATE_CLOCK_OPERATION);
    out->IPCThreadFlagUpdateAnnounceInterval = flag(TESSEL_IPC_FLAG_UPDATE_ANNOUNCE_INTERVAL);
    out->IPCThreadFlagUpdateSyncInterval = flag(TESSEL_IPC_FLAG_UPDATE_SYNC_INTERVAL);
    out->IPCThreadFlagUpdateAnnounceTimeout = flag(TESSEL_IPC_FLAG_UPDATE_ANNOUNCE_TIMEOUT);
    out->IPCThreadFlagUpdateDelayRespMinInterval = flag(TESSEL_IPC_FLAG_UPDATE_DELAY_RESP_MIN_INTERVAL);
    out->IPCThreadFlagUpdateMasterTable = flag(TESSEL_IPC_FLAG_UPDATE_MASTER_TABLE);
    out->IPCThreadFlagUpdateSlaveTable = flag(TESSEL_IPC_FLAG_UPDATE_SLAVE_TABLE);
    out->IPCThreadFlagUpdateTransport = flag(TESSEL_IPC_FLAG_UPDATE_TRANSPORT);
    out->IPCThreadFlagUpdatePortState = flag(TESSEL_IPC_FLAG_UPDATE_PORT_STATE);
    out->IPCThreadFlagUpdateCOS = flag(TESSEL_IPC_FLAG_UPDATE_COS);
    out->IPCThreadFlagUpdateDSCP = flag(TESSEL_IPC_FLAG_UPDATE_DSCP);
    out->IPCThreadFlagUpdateIPv4TTL = flag(TESSEL_IPC_FLAG_UPDATE_IPV4_TTL);
    out->IPCThreadFlagUpdateIPv6HopLimit = flag(TESSEL_IPC_FLAG_UPDATE_IPV6_HOP_LIMIT);
    out->IPCThreadFlagUpdateDelayAsymmetry = flag(TESSEL_IPC_FLAG_UPDATE_DELAY_ASYMMETRY);
    out->IPCThreadFlagUpdateEtherInfo = flag(TESSEL_IPC_FLAG_UPDATE_ETHER_INFO);
    out->IPCThreadFlagUpdateIMState = flag(TESSEL_IPC_FLAG_UPDATE_IM_STATE);
    out->IPCThreadFlagUpdateIPAddress = flag(TESSEL_IPC_FLAG_UPDATE_IP_ADDRESS);
    out->IPCThreadFlagUpdateIPv6Address = flag(TESSEL_IPC_FLAG_UPDATE_IPV6_ADDRESS);
    out->IPCThreadFlagUpdateVRFID = flag(TESSEL_IPC_FLAG_UPDATE_VRF_ID);
    out->IPCThreadFlagUpdateInterfaceHandle = flag(TESSEL_IPC_FLAG_UPDATE_IFHANDLE);
    out->IPCThreadFlagUpdateInterfaceType = flag(TESSEL_IPC_FLAG_UPDATE_IF_TYPE);
    out->IPCThreadFlagUpdateSyncReceiveTimeout = flag(TESSEL_IPC_FLAG_UPDATE_SYNC_RECEIVE_TIMEOUT);
    out->IPCThreadFlagUpdateDelayRespReceiveTimeout = flag(TESSEL_IPC_FLAG_UPDATE_DELAY_RESP_RECEIVE_TIMEOUT);
    out->IPCThreadFlagUpdateAnnounceGrantDuration = flag(TESSEL_IPC_FLAG_UPDATE_ANNOUNCE_GRANT_DURATION);
    out->IPCThreadFlagUpdateSyncGrantDuration = flag(TESSEL_IPC_FLAG_UPDATE_SYNC_GRANT_DURATION);
    out->IPCThreadFlagUpdateDelayRespGrantDuration = flag(TESSEL_IPC_FLAG_UPDATE_DELAY_RESP_GRANT_DURATION);
    out->IPCThreadFlagUpdateGrantReduceDeny = flag(TESSEL_IPC_FLAG_UPDATE_GRANT_REDUCE_DENY);
    out->IPCThreadFlagUpdateLocalPriority = flag(TESSEL_IPC_FLAG_UPDATE_LOCAL_PRIORITY);
    out->IPCThreadFlagEnabled = flag(TESSEL_IPC_FLAG_ENABLED);
    out->IPCThreadFlagVRFIDKnown = flag(TESSEL_IPC_FLAG_VRF_ID_KNOWN);
    out->IPCThreadFlagEtherInfoKnown = flag(TESSEL_IPC_FLAG_ETHER_INFO_KNOWN);
    out->IPCThreadFlagIPv4Registered = idb->registered_encap == PTP_ENCAP_IPV4;
    out->IPCThreadFlagIPv6Registered = idb->registered_encap == PTP_ENCAP_IPV6;
    out->IPCThreadFlagIMRegistered = flag(TESSEL_IPC_FLAG_IM_REGISTERED);
    config_to_bag(scratch, idb->applied_config, &out->IPCThreadAppliedConfiguration);
    config_to_bag(scratch, idb->if_config, &out->IPCThreadInterfaceConfiguration);
    config_flags_to_bag(idb->if_config, idb->if_config_flags, &out->IPCThreadInterfaceConfigurationFlags);
    if (const tessel_prf_db_type *profile = idb->profile_db; profile != nullptr) {
        out->IPCThreadConfigurationProfileName = scratch.value<ptp_bag_string>(profile->name, "PTP IDB bag profile");
        if (profile->has_config != 0) {
            out->IPCThreadProfileConfiguration = scratch.alloc<ptp_bag_idb_config>(1, "PTP IDB bag profile");
            if (out->IPCThreadProfileConfiguration != nullptr) {
                config_to_bag(scratch, profile->prf_config, out->IPCThreadProfileConfiguration);
            }
            out->IPCThreadProfileConfigurationFlags = scratch.alloc<ptp_bag_idb_config_flags>(1, "PTP IDB bag profile");
            if (out->IPCThreadProfileConfigurationFlags != nullptr) {
                config_flags_to_bag(profile->prf_config, profile->prf_config_flags,
                                    out->IPCThreadProfileConfigurationFlags);
            }
        }
    }
    caps_to_bag(idb, &out->IPCThreadPlatformCapabilities);
}

void proto_idb_to_bag(bag_scratch_type &scratch, tessel_proto_idb_type *p, ptp_bag_proto_idb *out)
{
    out->proto_name = p->header.ifname;
    out->proto_ifh = p->header.ifhandle;
    out->proto_port_num = p->port_num;
    out->proto_if_type = p->if_type;
    out->proto_im_state = p->im_state;
    out->proto_attached_encap = static_cast<ptp_bag_encap>(p->attached_encap);
    if (ether_info_known(p)) {
        (void)eth_encap_attr_src_mac_get(p->ether_info, std::min<uint32_t>(p->ether_info_len, sizeof p->ether_info),
                                         out->proto_mac_addr.macaddr);
    }
    out->proto_ipv4_addr = p->ipv4_addr;
    std::memcpy(out->proto_ipv6_addr, p->ipv6_addr, PTP_IPV6_ADDR_LEN);
    out->proto_ipv4_vrf = p->ipv4_vrf;
    out->proto_spio_attach_required = tessel_packet_attach_requested(p);
    out->proto_is_spio_attached = p->is_spio_attached;
    out->proto_flag_port_mgr_mark = port_mgr_mark(p);
    out->proto_flag_port_mgr_ready = port_mgr_ready(p);
    out->proto_flag_ether_info_known = ether_info_known(p);
    out->proto_flag_vrf_id_known = vrf_id_known(p);
    out->proto_flag_port_num_mark = (p->flags & port_num_mark) != 0;
    config_to_bag(scratch, p->config, &out->proto_config);

    tessel_proto_idb_fsm &f = p->fsm;
    ptp_bag_idb_fsm &o = out->fsm;
    o.PortState = f.PortState;
    o.qualification_timer_running = f.qualification_timer_running;
    o.is_held_passive = f.is_held_passive;
    o.current_announce_id = f.current_announce_id;
    const uint32_t masters = static_cast<uint32_t>(avl2_count(&f.foreign_master_table));
    auto *fms = scratch.alloc<ptp_bag_idb_foreign_master_entry>(masters, "PTP IDB bag foreign master table");
    uint32_t k = 0;
    for_each_row<ptp_fsm_foreign_master_type>(&f.foreign_master_table, [&](ptp_fsm_foreign_master_type *fm) {
        if (fms != nullptr && k < masters) {
            foreign_master_to_bag(scratch, *fm, &fms[k++]);
        }
    });
    o.foreign_master_table = {k, fms};
    o.is_best_master = f.foreign_master_ranked_list != nullptr;
    if (f.foreign_master_ranked_list != nullptr) {
        ptp_address_to_bag(&f.foreign_master_ranked_list->peer_addr, &o.best_master_peer_addr);
    }
    o.is_slaving_master = f.slaving_master != nullptr;
    if (f.slaving_master != nullptr) {
        ptp_address_to_bag(&f.slaving_master->peer_addr, &o.slaving_master_peer_addr);
    }
    o.announce_timeout_counter = f.announce_timeout_counter;
    o.looped_port_num = f.looped_port_num;
    o.last_looped_announce_id = f.last_looped_announce_id;
    o.is_listening = f.is_listening;
    o.is_sending_multicast_announce = f.is_sending_multicast_announce;
    o.is_announce_timeout_running = f.is_announce_timeout_running;
    o.announce_timer_running = f.announce_timer_running;
    o.sync_receive_timer_running = f.sync_receive_timer_running;
    o.delay_resp_receive_timer_running = f.delay_resp_receive_timer_running;
    o.is_master_drrm_running = f.is_master_drrm_running;
    o.is_slave_drrm_running = f.is_slave_drrm_running;
    o.sync_timer_running = f.sync_timer_running;
    o.scheduled_function_fmc = f.scheduled_functions != 0;
    o.is_fsm_init = f.is_fsm_init;
    o.is_locked = f.is_locked;
    o.is_unicast_grant_allowed = f.is_unicast_grant_allowed != 0;
    o.unicast_peer_count = f.unicast_peer_count;
    const uint32_t peers = static_cast<uint32_t>(avl2_count(&f.unicast_peer_tree));
    auto *prs = scratch.alloc<ptp_bag_idb_unicast_peer_entry>(peers, "PTP IDB bag unicast peer table");
    uint32_t j = 0;
    for_each_row<ptp_fsm_peer_entry_type>(&f.unicast_peer_tree, [&](ptp_fsm_peer_entry_type *pe) {
        if (prs != nullptr && j < peers) {
            peer_to_bag(scratch, *pe, &prs[j++]);
        }
    });
    o.unicast_peer_table = {j, prs};
    tessel_offload_session_state_type state{};
    tessel_offload_if_session_state_get(p, &state);
    session_state_to_bag(state, &out->offload_entry);
}

zerrno tessel_edm_if_idb_build(tessel_ipc_idb_type *idb, bool name, bool data, char *key, uint8_t **bag,
                               uint32_t *length)
{
    if (name) {
        write_key(idb, key);
    }
    if (!data) {
        return 0;
    }
    bag_scratch_type scratch;
    ptp_if_idb_info info{};
    ipc_idb_to_bag(scratch, idb, &info.IPCThreadIDB);
    if (tessel_proto_idb_type *proto = proto_record_of(idb); proto != nullptr) {
        info.ProtocolThreadIDB = scratch.alloc<ptp_bag_proto_idb>(1, "PTP IDB bag protocol thread");
        if (info.ProtocolThreadIDB != nullptr) {
            proto_idb_to_bag(scratch, proto, info.ProtocolThreadIDB);
        }
    }
    return encode_if_bag(idb, &info, ptp_if_idb_info_bag_getfn(),
                         "%s: [ERROR] Failed to encode interface idb bag for interface %s (0x%8.8x): %s", bag, length);
}

// The per-interface items, by the registration's path index (bg_ident of their rows).
struct if_item_type {
    const char *what;      // in the get debug line
    const char *list_what; // in the list and data-list debug lines
    tessel_edm_builder_fn builder;
    bool deferred;
};
constexpr uint32_t IF_ITEM_PACKET_COUNTERS = 2;
constexpr uint32_t IF_ITEM_EVENT_COUNTERS = 4;
const if_item_type if_items[9] = {
    {"Interface info", "Interface info", tessel_edm_if_get_data, false},
    {"Foreign clock", "Foreign clock", tessel_edm_if_foreign_clock_build, false},
    {"Interface packet counter", "Interface packet counter", tessel_edm_if_packet_counters_build, true},
    {"Interface IDB", "Interface IDB", tessel_edm_if_idb_build, false},
    {"Interface event counter", "Interface event counter", tessel_edm_if_event_counters_build, false},
    {"Interface unicast peers", "Interface unicast peers", tessel_edm_if_unicast_peers_build, false},
    {"Interface portDS", "Interface portDS", tessel_edm_if_port_ds_build, false},
    {"Interface config_errors", "Config errors", tessel_edm_if_config_errors_build, false},
    {"Interface interop info", "Interface interop info", tessel_edm_if_interop_build, false},
};

const if_item_type *if_item_of(const bgen_args_td *args)
{
    return args->bg_ident < std::size(if_items) ? &if_items[args->bg_ident] : nullptr;
}

zerrno tessel_edm_if_get(nodra_edm_request_td *request, const bgen_args_td *args)
{
    const if_item_type *item = if_item_of(args);
    if (item == nullptr || item->builder == nullptr) {
        return NODRA_ERR_EDM_NOT_FOUND;
    }
    TESSEL_EDM_DEBUG("%s: %s get request. Item '%s'", item->what, request->path);
    const bgen_arg_td *name = bgen_args_get(args, 0, BGEN_ARG_STRING);
    if (name == nullptr || name->text == nullptr) {
        return NODRA_ERR_EDM_NOT_FOUND;
    }
    if (item->deferred) {
        const zerrno rc = tessel_edm_packet_counters_defer(TESSEL_EDM_PACKET_COUNTER_REQ_IF_GET, request);
        if (rc != 0) {
            return rc;
        }
    }
    tessel_ipc_idb_type *idb = nullptr;
    if (tessel_ipc_db_get_by_ifname(name->text, &idb) != 0 || idb == nullptr) {
        return NODRA_ERR_EDM_NOT_FOUND;
    }
    uint8_t *bag = nullptr;
    uint32_t length = 0;
    char key[TESSEL_EDM_KEY_SIZE] = {};
    zerrno rc = item->builder(idb, false, true, key, &bag, &length);
    if (rc == 0) {
        rc = nodra_edm_reply_set(request, NODRA_ITEM_DATATYPE_BAG, bag, length);
    }
    std::free(bag);
    return rc;
}

struct list_walk_type {
    nodra_edm_request_td *request;
    tessel_edm_builder_fn builder;
    bool data;
    uint32_t added;
    bool stopped;
    zerrno rc;
};

bool tessel_edm_if_list_walk_cb(tessel_ipc_idb_type *idb, void *context)
{
    auto *walk = static_cast<list_walk_type *>(context);
    if (walk->stopped) {
        return false; // a walk from a start name visits the rest regardless
    }
    if (walk->request->max_count != 0 && walk->added >= walk->request->max_count) {
        walk->rc =
            walk->data ? nodra_edm_datalist_set_more_flag(walk->request) : nodra_edm_list_set_more_flag(walk->request);
        walk->stopped = true;
        return false;
    }
    char key[TESSEL_EDM_KEY_SIZE] = {};
    uint8_t *bag = nullptr;
    uint32_t length = 0;
    zerrno rc = walk->builder(idb, true, walk->data, key, &bag, &length);
    if (rc == 0) {
        rc = walk->data ? nodra_edm_datalist_add(walk->request, key, NODRA_ITEM_DATATYPE_BAG, bag, length)
                        : nodra_edm_list_add(walk->request, key, NODRA_ITEM_DATATYPE_NAME);
    }
    std::free(bag);
    if (rc == 0) {
        walk->added++;
    } else if (rc != NODRA_ERR_EDM_NOT_FOUND) {
        walk->rc = rc;
        walk->stopped = true;
        return false;
    }
    return true;
}

zerrno tessel_edm_if_list_common(nodra_edm_request_td *request, const bgen_args_td *args, bool data)
{
    const if_item_type *item = if_item_of(args);
    if (item == nullptr || item->builder == nullptr) {
        return NODRA_ERR_EDM_NOT_FOUND;
    }
    TESSEL_EDM_DEBUG("%s: %s %s request. Item '%s'", item->list_what, data ? "datalist" : "list", request->path);
    if (item->deferred) {
        const zerrno rc = tessel_edm_packet_counters_defer(
            data ? TESSEL_EDM_PACKET_COUNTER_REQ_IF_DATALIST : TESSEL_EDM_PACKET_COUNTER_REQ_IF_LIST, request);
        if (rc != 0) {
            return rc;
        }
    }
    zerrno rc = data ? nodra_edm_datalist_create(request) : nodra_edm_list_create(request);
    if (rc != 0) {
        return rc;
    }
    if ((request->options & ~TESSEL_EDM_LIST_OPTION_WALK) != 0) {
        return NODRA_ERR_EDM_OPTION;
    }
    list_walk_type walk{request, item->builder, data, 0, false, 0};
    const char *start = request->start_key != nullptr && request->start_key[0] != '\0' ? request->start_key : nullptr;
    // The page starts after the last name of the previous one.
    tessel_ipc_db_walk(tessel_edm_if_list_walk_cb, &walk, start, true);
    if (walk.rc != 0) {
        return walk.rc;
    }
    return walk.added == 0 ? NODRA_ERR_EDM_NOT_FOUND : 0;
}

zerrno tessel_edm_if_list(nodra_edm_request_td *request, const bgen_args_td *args)
{
    return tessel_edm_if_list_common(request, args, false);
}

zerrno tessel_edm_if_datalist(nodra_edm_request_td *request, const bgen_args_td *args)
{
    return tessel_edm_if_list_common(request, args, true);
}

// ---- Node items --------------------------------------------------------------------------------

zerrno reply_bag(nodra_edm_request_td *request, const void *record, const bag_descriptor_type *descriptor,
                 const char *failure)
{
    uint8_t *bag = nullptr;
    uint32_t length = 0;
    zerrno rc = encode(record, descriptor, &bag, &length);
    if (rc != 0) {
        TESSEL_EDM_DEBUG_ERR(failure, zerr_strerror(rc));
        return rc;
    }
    rc = nodra_edm_reply_set(request, NODRA_ITEM_DATATYPE_BAG, bag, length);
    std::free(bag);
    return rc;
}

zerrno tessel_edm_node_packet_counters_get(nodra_edm_request_td *request, const bgen_args_td *)
{
    TESSEL_EDM_DEBUG("%s: Node packet counter get request. Item '%s'", request->path);
    const zerrno rc = tessel_edm_packet_counters_defer(TESSEL_EDM_PACKET_COUNTER_REQ_NODE_GET, request);
    if (rc != 0) {
        return rc;
    }
    ptp_node_packet_counter_info info{};
    if (const tessel_packet_counters_type *counters = tessel_stats_get_node_packet_counters(); counters != nullptr) {
        fill_packet_counters(*counters, &info.Counters);
    }
    static_assert(sizeof(info.DropReasons) == TESSEL_PACKET_DROP_REASON_COUNT * 4);
    if (const uint32_t *reasons = tessel_stats_get_node_drop_reasons(); reasons != nullptr) {
        std::memcpy(&info.DropReasons, reasons, sizeof info.DropReasons);
    }
    return reply_bag(request, &info, ptp_node_packet_counter_info_bag_getfn(),
                     "%s: [ERROR] Failed to encode node packet counters bag: %s");
}

zerrno tessel_edm_node_event_counters_get(nodra_edm_request_td *request, const bgen_args_td *)
{
    TESSEL_EDM_DEBUG("%s: Node event counter get request. Item '%s'", request->path);
    ptp_node_event_counter_info info{};
    if (const tessel_node_event_counters_type *block = tessel_stats_get_node_event_counters(); block != nullptr) {
        std::memcpy(info.InterfaceProtocolThreadEventCounters, block->proto_idb, sizeof block->proto_idb);
        std::memcpy(info.InterfaceIPCThreadEventCounters, block->ipc_idb, sizeof block->ipc_idb);
        std::memcpy(info.NodeEventCounters, block->node, sizeof block->node);
    }
    return reply_bag(request, &info, ptp_node_event_counter_info_bag_getfn(),
                     "%s: [ERROR] Failed to encode node event counters bag: %s");
}

bool tessel_edm_node_summary_info_cb(tessel_proto_idb_type *idb, void *context)
{
    auto *info = static_cast<ptp_summary_info *>(context);
    info->TotalInterfaces++;
    if (idb->port_num != 0) {
        info->TotalInterfacesValidPortNum++;
    }
    // The bag lists Slave before Uncalibrated; the state values run the other way.
    switch (idb->fsm.PortState) {
    case PTP_PORT_STATE_INITIALIZING: info->PortStateInitCount++; break;
    case PTP_PORT_STATE_FAULTY: info->PortStateFaultyCount++; break;
    case PTP_PORT_STATE_LISTEN: info->PortStateListeningCount++; break;
    case PTP_PORT_STATE_PRE_MASTER: info->PortStatePreMasterCount++; break;
    case PTP_PORT_STATE_MASTER: info->PortStateMasterCount++; break;
    case PTP_PORT_STATE_PASSIVE: info->PortStatePassiveCount++; break;
    case PTP_PORT_STATE_UNCALIBRATED: info->PortStateUncalibratedCount++; break;
    case PTP_PORT_STATE_SLAVE: info->PortStateSlaveCount++; break;
    default: tessel_internal_error("Unknown port state", __FILE__, __LINE__);
    }
    return true;
}

zerrno tessel_edm_node_summary_get(nodra_edm_request_td *request, const bgen_args_td *)
{
    TESSEL_EDM_DEBUG("%s: Node summary info get request. Item '%s'", request->path);
    ptp_summary_info info{};
    tessel_proto_db_walk(tessel_edm_node_summary_info_cb, &info, nullptr, false);
    return reply_bag(request, &info, ptp_summary_info_bag_getfn(), "%s: [ERROR] Failed to encode summary info bag: %s");
}

// ---- Clear actions -----------------------------------------------------------------------------

zerrno tessel_edm_if_packet_counters_clear(nodra_edm_request_td *request, const bgen_args_td *args)
{
    const bgen_arg_td *name = bgen_args_get(args, 0, BGEN_ARG_STRING);
    const char *ifname = name != nullptr && name->text != nullptr ? name->text : "";
    TESSEL_EDM_DEBUG("%s: Packet counter clear request for interface %s. Item '%s'", ifname, request->path);
    tessel_proto_idb_type *proto = nullptr;
    if (tessel_proto_db_get_by_ifname(ifname, &proto) != 0 || proto == nullptr) {
        return NODRA_ERR_EDM_NOT_FOUND;
    }
    tessel_stats_clear_if_packet_counters(proto);
    // Handle 0 would reset the offload statistics of every interface: an interface without a
    // handle has none of its own to clear.
    if (proto->header.ifhandle != 0) {
        tessel_offload_clear_stats(proto->header.ifhandle);
    }
    return 0;
}

zerrno tessel_edm_if_event_counters_clear(nodra_edm_request_td *request, const bgen_args_td *args)
{
    const bgen_arg_td *name = bgen_args_get(args, 0, BGEN_ARG_STRING);
    const char *ifname = name != nullptr && name->text != nullptr ? name->text : "";
    TESSEL_EDM_DEBUG("%s: Event counter clear request for interface %s. Item '%s'", ifname, request->path);
    tessel_ipc_idb_type *idb = nullptr;
    if (tessel_ipc_db_get_by_ifname(ifname, &idb) != 0 || idb == nullptr) {
        return NODRA_ERR_EDM_NOT_FOUND;
    }
    tessel_proto_idb_type *proto = nullptr;
    const zerrno rc = tessel_proto_db_get_by_ifname(ifname, &proto);
    if (rc != 0 && rc != PTP_ZERR_DB_NO_ENTRY) {
        return rc;
    }
    tessel_stats_clear_ipc_idb_event_counters(idb);
    if (proto != nullptr) {
        tessel_stats_clear_proto_idb_event_counters(proto);
    }
    return 0;
}

zerrno tessel_edm_node_packet_counters_clear(nodra_edm_request_td *request, const bgen_args_td *)
{
    TESSEL_EDM_DEBUG("%s: Node packet counter clear request. Item '%s'", request->path);
    tessel_stats_clear_node_packet_counters();
    tessel_offload_clear_stats(0);
    return 0;
}

zerrno tessel_edm_node_event_counters_clear(nodra_edm_request_td *request, const bgen_args_td *)
{
    TESSEL_EDM_DEBUG("%s: Node event counter clear request. Item '%s'", request->path);
    tessel_stats_clear_node_event_counters();
    return 0;
}

// ---- Item tables -------------------------------------------------------------------------------

// A per-interface path: the interface name is the whole path below the binding; one schema per
// registered path, its row telling the handlers which of the interface's items it is.
constexpr backend_row_td read_row(uint32_t ident)
{
    return {.kind = BACKEND_VALUE_NONE,
            .bg_ident = ident,
            .edm_get = tessel_edm_if_get,
            .edm_list = tessel_edm_if_list,
            .edm_datalist = tessel_edm_if_datalist};
}
template <uint32_t Ident>
constexpr auto if_read_items = std::to_array<backend_item_td>({{"<s>", read_row(Ident)}});
constexpr auto if_packet_clear_items = std::to_array<backend_item_td>({
    {"<s>", {.kind = BACKEND_VALUE_NONE, .edm_set = tessel_edm_if_packet_counters_clear}},
});
constexpr auto if_event_clear_items = std::to_array<backend_item_td>({
    {"<s>", {.kind = BACKEND_VALUE_NONE, .edm_set = tessel_edm_if_event_counters_clear}},
});
constexpr backend_schema_options_td ROOTED{.root = true};
template <const auto &Items>
constexpr const backend_schema_td *if_schema = &backend_schema_of<Items, ROOTED>::schema;

// Below the node's binding; the interface tables are keyed by the interface name.
constexpr auto node_oper_items = std::to_array<backend_item_td>({
    {"interface/if/<s>", read_row(0)},
    {"foreign-masters/if/<s>", read_row(1)},
    {"idb/if/<s>", read_row(3)},
    {"unicast-peers/if/<s>", read_row(5)},
    {"config-errors/if/<s>", read_row(7)},
    {"packet-counters", {.kind = BACKEND_VALUE_NONE, .edm_get = tessel_edm_node_packet_counters_get}},
    {"ma-event-counters", {.kind = BACKEND_VALUE_NONE, .edm_get = tessel_edm_node_event_counters_get}},
    {"summary", {.kind = BACKEND_VALUE_NONE, .edm_get = tessel_edm_node_summary_get}},
});
constexpr auto node_action_items = std::to_array<backend_item_td>({
    {"packet-counters", {.kind = BACKEND_VALUE_NONE, .edm_set = tessel_edm_node_packet_counters_clear}},
    {"ma-event-counters", {.kind = BACKEND_VALUE_NONE, .edm_set = tessel_edm_node_event_counters_clear}},
});

} // namespace

const backend_schema_td *const tessel_edm_if_schemas[TESSEL_EDM_IF_PATH_COUNT] = {
    if_schema<if_read_items<0>>,      if_schema<if_read_items<1>>,     if_schema<if_read_items<2>>,
    if_schema<if_read_items<3>>,      if_schema<if_read_items<4>>,     if_schema<if_read_items<5>>,
    if_schema<if_read_items<6>>,      if_schema<if_read_items<7>>,     if_schema<if_read_items<8>>,
    if_schema<if_packet_clear_items>, if_schema<if_event_clear_items>,
};
const backend_schema_td tessel_edm_node_oper_schema = backend_schema_of<node_oper_items, ROOTED>::schema;
const backend_schema_td tessel_edm_node_action_schema = backend_schema_of<node_action_items, ROOTED>::schema;

// ---- Entry points ------------------------------------------------------------------------------

zerrno tessel_edm_get(void *request)
{
    TESSEL_ASSERT(tessel_thread_ctrl_is_proto_thread());
    auto *r = static_cast<nodra_edm_request_td *>(request);
    return backend_edm_get(schema_of(r), r);
}

zerrno tessel_edm_list(void *request)
{
    TESSEL_ASSERT(tessel_thread_ctrl_is_proto_thread());
    auto *r = static_cast<nodra_edm_request_td *>(request);
    return backend_edm_list(schema_of(r), r);
}

zerrno tessel_edm_datalist(void *request)
{
    TESSEL_ASSERT(tessel_thread_ctrl_is_proto_thread());
    auto *r = static_cast<nodra_edm_request_td *>(request);
    return backend_edm_datalist(schema_of(r), r);
}

zerrno tessel_edm_set(void *request)
{
    TESSEL_ASSERT(tessel_thread_ctrl_is_proto_thread());
    auto *r = static_cast<nodra_edm_request_td *>(request);
    return backend_edm_set(schema_of(r), r);
}

void tessel_edm_resume_packet_counters_request(void)
{
    TESSEL_ASSERT(tessel_thread_ctrl_is_proto_thread());
    nodra_edm_request_td *request = saved.request;
    const tessel_edm_packet_counter_req_type kind = saved.kind;
    if (kind == TESSEL_EDM_PACKET_COUNTER_REQ_NONE || request == nullptr) {
        tessel_internal_error("No saved packet-counter request", __FILE__, __LINE__);
    }
    resuming = true;
    zerrno rc = 0;
    switch (kind) {
    case TESSEL_EDM_PACKET_COUNTER_REQ_NODE_GET:
    case TESSEL_EDM_PACKET_COUNTER_REQ_IF_GET: rc = backend_edm_get(schema_of(request), request); break;
    case TESSEL_EDM_PACKET_COUNTER_REQ_IF_LIST: rc = backend_edm_list(schema_of(request), request); break;
    case TESSEL_EDM_PACKET_COUNTER_REQ_IF_DATALIST: rc = backend_edm_datalist(schema_of(request), request); break;
    default: tessel_internal_error("Unknown saved packet-counter request", __FILE__, __LINE__);
    }
    resuming = false;
    saved = saved_request_type{};
    tessel_thread_ctrl_reply(rc);
}
