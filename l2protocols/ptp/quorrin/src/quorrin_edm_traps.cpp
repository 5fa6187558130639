// The controller's operational data and trap notifications.
#include "quorrin_edm_traps.h"

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "nodra_backend.h"
#include "nodra_schema.h"
#include "plat_clock.h"
#include "ptp_alloc.h"
#include "ptp_clock.h"
#include "ptp_strings.h"
#include "ptp_syslog.h"
#include "ptp_time.h"
#include "ptp_zerr_codes.h"
#include "quorrin_bmc.h"
#include "quorrin_cfg.h"
#include "quorrin_debug.h"
#include "quorrin_leap_seconds.h"
#include "quorrin_platform.h"
#include "quorrin_port_num.h"
#include "quorrin_stats.h"
#include "tuple.h"

namespace {

constexpr uint32_t AREA = quorrin_debug_area("edm");
constexpr uint32_t NOT_REGISTERED = 0xFFFFFFFFu;
// Bind options: plain, and node-relative ("&&").
constexpr uint32_t BIND_PLAIN = 0;
constexpr uint32_t BIND_NODE = 17;
// The generated notification's kind.
constexpr uint32_t TRAP_NOTIFICATION_KIND = 3;
constexpr uint32_t TELECOM_T_TSC = PTP_TELECOM_CLOCK_T_TSC;

constexpr const char *TRAP_CONFIG_PATH = "/cfg/gl/snmp/enable/traps/";

#define EDM_DEBUG(format, ...) QUORRIN_DEBUG(AREA, format __VA_OPT__(, ) __VA_ARGS__)
#define EDM_DEBUG_ERR(format, ...) QUORRIN_DEBUG_ERR(AREA, format __VA_OPT__(, ) __VA_ARGS__)

// Only a positive answer is kept: a library that appears later is found then.
bool library_found;

bool nodra_library_present()
{
    if (!library_found) {
        library_found = access(nodra_client_library_path(), R_OK) == 0;
    }
    return library_found;
}

zerrno guarded_bind(nodra_conn_td **conn, const char *path, uint32_t mode)
{
    *conn = nullptr;
    if (!nodra_library_present()) {
        return NODRA_ERR_BIND_NO_LIBRARY;
    }
    const zerrno rc = nodra_bind(conn, path, mode);
    if (rc != 0) {
        *conn = nullptr;
    }
    return rc;
}

void unbind(nodra_conn_td **conn)
{
    if (*conn != nullptr) {
        (void)nodra_unbind(*conn);
        *conn = nullptr;
    }
}

void unregister_edm(uint32_t *registration)
{
    if (*registration != NOT_REGISTERED) {
        (void)nodra_edm_unregister(*registration);
        *registration = NOT_REGISTERED;
    }
}

zerrno init_failed(const char *text, zerrno rc)
{
    ptp_syslog_init_failed(text, zerr_strerror(rc));
    return rc;
}

// ---- Traps -------------------------------------------------------------------------------------

enum class trap_kind : uint32_t {
    clock_class,
    clock_state,
    time_source,
    utc_offset,
    offset_threshold,
    master_lost,
};
constexpr uint32_t TRAP_KIND_COUNT = 6;

// Per kind: its enable item under "ptp/" of the trap-enable binding, its notification item
// under "/oper/ptp/gl/", and the enable handler's debug line (the offset threshold prints its own).
struct trap_kind_row_type {
    const char *enable_item;
    const char *notification_item;
    const char *enable_debug;
};
constexpr std::array<trap_kind_row_type, TRAP_KIND_COUNT> trap_kinds = {{
    {"clock-class", "snmp-traps/clock-class", "%s: Clock Class trap %s"},
    {"clock-state", "snmp-traps/clock-state", "%s: Clock State trap %s"},
    {"time-source", "snmp-traps/time-source", "%s: Time Source trap %s"},
    {"utc-offset-change", "snmp-traps/utc-offset-change", "%s: UTC Offset trap %s"},
    {"offset-threshold-breach", "snmp-traps/offset-threshold-breach", nullptr},
    {"master-lost", "snmp-traps/master-lost", "%s: Master Lost trap %s"},
}};

constexpr const trap_kind_row_type &row_of(trap_kind kind)
{
    return trap_kinds[static_cast<uint32_t>(kind)];
}

struct trap_state_type {
    std::array<bool, TRAP_KIND_COUNT> enabled{};
    // The thresholds last passed to the platform.
    int32_t warning = 0;
    int32_t critical = 0;
    nodra_conn_td *cfg_handle = nullptr;
    uint32_t registration = NOT_REGISTERED;
    nodra_conn_td *nfn_handle = nullptr; // the "/oper/ptp/gl/" binding, not ours to unbind
};
trap_state_type traps;

bool enabled(trap_kind kind)
{
    return traps.enabled[static_cast<uint32_t>(kind)];
}

constexpr std::array<const char *, 6> servo_status_names = {"Unknown",    "Freerun",      "Acquiring",
                                                            "FreqLocked", "PhaseAligned", "Holdover"};

const char *servo_status_to_str(uint32_t status)
{
    return status < servo_status_names.size() ? servo_status_names[status] : "Invalid";
}

const char *configured_word(bool on)
{
    return on ? "Configured" : "Unconfigured";
}

// The grandmaster's address in the bags' form, null while there is no grandmaster.
ptp_bag_address *gm_address(ptp_bag_address *storage)
{
    quorrin_bmc_gm_type gm{};
    if (quorrin_bmc_get_gm(&gm) == nullptr) {
        return nullptr;
    }
    ptp_address_to_bag(&gm.address, storage);
    return storage;
}

// An encoded bag, freed when it goes.
struct encoded_type {
    uint8_t *data = nullptr;
    uint32_t length = 0;
    encoded_type() = default;
    encoded_type(const encoded_type &) = delete;
    encoded_type &operator=(const encoded_type &) = delete;
    ~encoded_type() { std::free(data); }
};

bool trap_encode(const void *record, const bag_descriptor_type *descriptor, encoded_type *out)
{
    const zerrno rc = bag_encode(record, descriptor, &out->data, &out->length);
    if (rc != 0) {
        // Our own record fails only without registered bags or memory: the trap is lost.
        EDM_DEBUG_ERR("%s: [ERROR] Failed to encode trap bag: %s", zerr_strerror(rc));
        return false;
    }
    return true;
}

void trap_notify(trap_kind kind, const encoded_type &bag)
{
    if (traps.nfn_handle == nullptr) {
        return;
    }
    const char *item = row_of(kind).notification_item;
    const nodra_edm_notification_td record{item, TRAP_NOTIFICATION_KIND, NODRA_ITEM_DATATYPE_BAG, bag.data, bag.length};
    const zerrno rc = nodra_edm_generate_notifications(traps.nfn_handle, &record, 1);
    if (rc != 0) {
        ptp_syslog_mib_trap_nfn_failed(item, zerr_strerror(rc));
    }
}

// The enable flag of a kind whose item is a plain value: on unless the item went.
bool trap_cfg_set(trap_kind kind, const nodra_notify_event_info_td *event)
{
    const bool on = (event->event & NODRA_EVENT_DELETE) == 0;
    traps.enabled[static_cast<uint32_t>(kind)] = on;
    EDM_DEBUG(row_of(kind).enable_debug, configured_word(on));
    return on;
}

// "ptp/<kind>" below the trap-enable binding, a row per kind in the order of trap_kinds.
constexpr auto trap_cfg_items = std::to_array<backend_item_td>({
    {trap_kinds[0].enable_item, {.notify = quorrin_edm_trap_cfg_clock_class}, "ptp/"},
    {trap_kinds[1].enable_item, {.notify = quorrin_edm_trap_cfg_clock_state}, "ptp/"},
    {trap_kinds[2].enable_item, {.notify = quorrin_edm_trap_cfg_time_source}, "ptp/"},
    {trap_kinds[3].enable_item, {.notify = quorrin_edm_trap_cfg_utc_offset}, "ptp/"},
    {trap_kinds[4].enable_item, {.notify = quorrin_edm_trap_cfg_offset_from_master}, "ptp/"},
    {trap_kinds[5].enable_item, {.notify = quorrin_edm_trap_cfg_master_lost}, "ptp/"},
});
static_assert(trap_cfg_items.size() == TRAP_KIND_COUNT);
constexpr const backend_schema_td &trap_cfg_schema = backend_schema_of<trap_cfg_items>::schema;

} // namespace

void quorrin_edm_trap_cfg_clock_class(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    if (trap_cfg_set(trap_kind::clock_class, event)) {
        ptp_clock_type advertised{};
        quorrin_bmc_get_advertised_clock(&advertised, nullptr);
        quorrin_edm_trap_generate_clock_class(advertised);
    }
}

void quorrin_edm_trap_cfg_clock_state(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    if (trap_cfg_set(trap_kind::clock_state, event)) {
        uint32_t status = 0;
        quorrin_platform_servo_status(nullptr, nullptr, &status);
        quorrin_edm_trap_generate_clock_state(status);
    }
}

void quorrin_edm_trap_cfg_time_source(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    if (trap_cfg_set(trap_kind::time_source, event)) {
        quorrin_edm_trap_generate_time_source();
    }
}

void quorrin_edm_trap_cfg_utc_offset(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    if (trap_cfg_set(trap_kind::utc_offset, event)) {
        quorrin_edm_trap_generate_utc_offset();
    }
}

// Nothing to publish on enabling: the next found or lost master is.
void quorrin_edm_trap_cfg_master_lost(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    (void)trap_cfg_set(trap_kind::master_lost, event);
}

void quorrin_edm_trap_cfg_offset_from_master(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    int32_t warning = 0;
    int32_t critical = 0;
    uint32_t mask = 0;
    if ((event->event & NODRA_EVENT_DELETE) == 0) {
        // The value comes from another process: a tuple that does not read as "%d%d" within its
        // length changes nothing.
        if (event->new_data == nullptr ||
            tuple_unpack_mask(static_cast<const tuple_type *>(event->new_data), event->new_length, "%d%d", &mask,
                              &warning, &critical) != 0) {
            EDM_DEBUG_ERR("%s: [ERROR] Malformed offset threshold item '%s'",
                          event->path != nullptr ? event->path : "");
            return;
        }
    }
    const bool on = mask != 0;
    traps.enabled[static_cast<uint32_t>(trap_kind::offset_threshold)] = on;
    EDM_DEBUG("%s: Offset from Master trap %s, warning %d critical %d", configured_word(on), warning, critical);
    if (warning == traps.warning && critical == traps.critical) {
        quorrin_edm_trap_generate_threshold_breach(0, 0);
        return;
    }
    traps.warning = warning;
    traps.critical = critical;
    const int64_t offset = quorrin_platform_offset_threshold_set(warning, critical);
    quorrin_edm_trap_generate_threshold_breach(offset, 0);
}

void quorrin_edm_trap_generate_clock_class(ptp_clock_type clock)
{
    if (!enabled(trap_kind::clock_class)) {
        return;
    }
    ptp_bag_address addr{};
    ptp_trap_clock_class bag{};
    bag.addr = gm_address(&addr);
    bag.clock_id = clock.clock_id;
    bag.clock_class = clock.clock_class;
    encoded_type encoded;
    if (trap_encode(&bag, ptp_trap_clock_class_bag_getfn(), &encoded)) {
        EDM_DEBUG("%s: Notifiying Clock Class of %d", static_cast<int>(clock.clock_class));
        trap_notify(trap_kind::clock_class, encoded);
    }
}

void quorrin_edm_trap_generate_clock_state(uint32_t state)
{
    if (!enabled(trap_kind::clock_state)) {
        return;
    }
    ptp_bag_address addr{};
    ptp_trap_clock_state bag{};
    bag.addr = gm_address(&addr);
    bag.state = state;
    encoded_type encoded;
    if (trap_encode(&bag, ptp_trap_clock_state_bag_getfn(), &encoded)) {
        EDM_DEBUG("%s: Notifiying Clock State of '%s'", servo_status_to_str(state));
        trap_notify(trap_kind::clock_state, encoded);
    }
}

void quorrin_edm_trap_generate_time_source(void)
{
    if (!enabled(trap_kind::time_source)) {
        return;
    }
    ptp_clock_type advertised{};
    quorrin_bmc_get_advertised_clock(&advertised, nullptr);
    ptp_trap_time_source bag{};
    bag.time_source = advertised.time_source;
    encoded_type encoded;
    if (trap_encode(&bag, ptp_trap_time_source_bag_getfn(), &encoded)) {
        EDM_DEBUG("%s: Notifiying Time Source of '%s'", quorrin_platform_time_source_to_str(advertised.time_source));
        trap_notify(trap_kind::time_source, encoded);
    }
}

void quorrin_edm_trap_generate_utc_offset(void)
{
    if (!enabled(trap_kind::utc_offset)) {
        return;
    }
    ptp_clock_type advertised{};
    quorrin_bmc_get_advertised_clock(&advertised, nullptr);
    ptp_bag_address addr{};
    int32_t offset = advertised.utc_offset;
    ptp_trap_utc_offset bag{};
    bag.addr = gm_address(&addr);
    bag.utc_offset = advertised.utc_offset_valid != 0 ? &offset : nullptr;
    encoded_type encoded;
    if (trap_encode(&bag, ptp_trap_utc_offset_bag_getfn(), &encoded)) {
        trap_notify(trap_kind::utc_offset, encoded);
    }
}

void quorrin_edm_trap_generate_threshold_breach(int64_t offset, uint16_t sub_ns)
{
    if (!enabled(trap_kind::offset_threshold)) {
        return;
    }
    ptp_bag_address addr{};
    ptp_trap_offset_threshold_breach bag{};
    bag.addr = gm_address(&addr);
    bag.offset_from_master = offset;
    bag.sub_ns_part = sub_ns;
    encoded_type encoded;
    if (trap_encode(&bag, ptp_trap_offset_threshold_breach_bag_getfn(), &encoded)) {
        EDM_DEBUG("%s: Notifiying Offset Threshold of %ld (.%d)", static_cast<long>(offset), static_cast<int>(sub_ns));
        trap_notify(trap_kind::offset_threshold, encoded);
    }
}

void quorrin_edm_trap_generate_master_lost(const ptp_address_type *peer, bool present)
{
    if (!enabled(trap_kind::master_lost)) {
        return;
    }
    ptp_bag_address addr{};
    ptp_bag_address peer_addr{};
    ptp_trap_master_lost bag{};
    bag.addr = gm_address(&addr);
    if (peer != nullptr) {
        ptp_address_to_bag(peer, &peer_addr);
        bag.peer = &peer_addr;
    }
    bag.present = present ? 1 : 0;
    encoded_type encoded;
    if (trap_encode(&bag, ptp_trap_master_lost_bag_getfn(), &encoded)) {
        EDM_DEBUG("%s: Notifying a master %s", present ? "Found" : "Lost");
        trap_notify(trap_kind::master_lost, encoded);
    }
}

zerrno quorrin_edm_trap_init(event_mgr_type *evm, nodra_conn_td *gl)
{
    zerrno rc = guarded_bind(&traps.cfg_handle, TRAP_CONFIG_PATH, BIND_PLAIN);
    if (rc == 0) {
        uint32_t registration = 0;
        rc = nodra_register_notification(traps.cfg_handle, "ptp/",
                                         NODRA_EVENT_CREATE | NODRA_EVENT_SET | NODRA_EVENT_DELETE, 0,
                                         backend_notification, evm, evm, &trap_cfg_schema, 0, &registration);
        if (rc == 0) {
            traps.registration = registration;
        }
    }
    if (rc != 0) {
        quorrin_edm_trap_shutdown();
        return rc;
    }
    traps.nfn_handle = gl;
    return 0;
}

void quorrin_edm_trap_shutdown(void)
{
    traps.nfn_handle = nullptr;
    if (traps.registration != NOT_REGISTERED) {
        (void)nodra_notification_unregister(traps.registration);
        traps.registration = NOT_REGISTERED;
    }
    unbind(&traps.cfg_handle);
    // A later start reads the operator's settings afresh from the registration's replay.
    traps.enabled = {};
}

// ---- Operational data --------------------------------------------------------------------------

namespace {

struct edm_state_type {
    nodra_conn_td *oper_bind = nullptr;
    nodra_conn_td *action_bind = nullptr;
    nodra_conn_td *gl_bind = nullptr;
    bool gl_init_done = false;
    std::array<uint32_t, 11> registrations = {NOT_REGISTERED, NOT_REGISTERED, NOT_REGISTERED, NOT_REGISTERED,
                                              NOT_REGISTERED, NOT_REGISTERED, NOT_REGISTERED, NOT_REGISTERED,
                                              NOT_REGISTERED, NOT_REGISTERED, NOT_REGISTERED};
    uint32_t action_registration = NOT_REGISTERED;
};
edm_state_type edm;

// The operational items, in registration order; item i is row i of their schema.
constexpr auto oper_items = std::to_array<backend_item_td>({
    {"config-errors", {.edm_get = quorrin_edm_get_config_errors}},
    {"leap-seconds", {.edm_get = quorrin_edm_get_leap_seconds}},
    {"dataset/current-ds", {.edm_get = quorrin_edm_get_current_ds}},
    {"dataset/default-ds", {.edm_get = quorrin_edm_get_default_ds}},
    {"dataset/parent-ds", {.edm_get = quorrin_edm_get_parent_ds}},
    {"dataset/time-properties-ds", {.edm_get = quorrin_edm_get_time_properties_ds}},
    {"grandmaster", {.edm_get = quorrin_edm_get_grandmaster}},
    {"advertised-clock", {.edm_get = quorrin_edm_get_advertised_clock}},
    {"local-clock", {.edm_get = quorrin_edm_get_local_clock}},
    {"ctrlr-database", {.edm_get = quorrin_edm_get_ctrlr_database}},
    {"ctrlr-event-counters", {.edm_get = quorrin_edm_get_ctrlr_event_counters}},
});
static_assert(oper_items.size() == std::tuple_size_v<decltype(edm_state_type::registrations)>);
constexpr auto action_items = std::to_array<backend_item_td>({
    {"ctrlr-event-counters", {.edm_set = quorrin_edm_clear_ctrlr_event_counters}},
});
constexpr backend_schema_options_td ROOTED{.root = true};
constexpr const backend_schema_td &oper_schema = backend_schema_of<oper_items, ROOTED>::schema;
constexpr const backend_schema_td &action_schema = backend_schema_of<action_items, ROOTED>::schema;

// Encodes the record and makes it the request's answer; failure: the item's debug error.
zerrno reply_bag(nodra_edm_request_td *request, const void *record, const bag_descriptor_type *descriptor,
                 const char *failure)
{
    encoded_type encoded;
    const zerrno rc = bag_encode(record, descriptor, &encoded.data, &encoded.length);
    if (rc != 0) {
        EDM_DEBUG_ERR(failure, zerr_strerror(rc));
        return rc;
    }
    return nodra_edm_reply_set(request, NODRA_ITEM_DATATYPE_BAG, encoded.data, encoded.length);
}

// The clock record in the bags' clock form: a port identity is valid when its port number is not
// 0, a local record never has a valid receiver, and a configured class shows as the class.
void clock_to_bag(const ptp_clock_type &in, ptp_bag_clock *out)
{
    out->ClockID = in.clock_id;
    out->Priority1 = in.priority1;
    out->Priority2 = in.priority2;
    out->Class = ptp_clock_effective_class(&in);
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
    out->IsReceiverValid = in.local == 0 && in.receiver.port_num != 0;
    out->Sender = {in.sender.clock_id, in.sender.port_num};
    out->IsSenderValid = in.sender.port_num != 0;
    out->Local = in.local != 0;
    out->ConfiguredClockClass = in.configured_clock_class;
    out->ConfiguredPriority = in.configured_priority;
}

// The grandmaster is a configured clock (the local clock or the virtual port) when selection chose
// the local clock. Every reported foreign clock carries a configured priority (its port's local
// priority), so the record's own fields cannot tell.
bool gm_is_configured()
{
    return quorrin_bmc_get_local_clock_gm();
}

void split_ns(int64_t ns, uint64_t *seconds, uint64_t *nseconds)
{
    const int64_t s = ns / 1000000000;
    *seconds = static_cast<uint64_t>(s);
    *nseconds = static_cast<uint64_t>(ns - s * 1000000000);
}

struct servo_status_type {
    int64_t offset_from_master = 0;
    int64_t mean_path_delay = 0;
    uint32_t status = 0;
};
servo_status_type servo_status()
{
    servo_status_type s;
    quorrin_platform_servo_status(&s.offset_from_master, &s.mean_path_delay, &s.status);
    return s;
}

} // namespace

void quorrin_edm_fill_local_clock(const ptp_clock_type *clock, ptp_local_clock_info *info,
                                  quorrin_edm_local_clock_storage_type *storage)
{
    clock_to_bag(*clock, &info->ClockProperties);
    info->ClockProperties.IsReceiverValid = 0;
    info->ClockProperties.IsSenderValid = 0;
    info->LocalActive = quorrin_bmc_is_node_active() ? 1 : 0;
    info->Domain = quorrin_cfg_get_domain();
    info->Grandmaster = quorrin_bmc_get_local_clock_gm() ? 1 : 0;

    quorrin_bmc_vp_state_type vp{};
    quorrin_bmc_get_virtual_port(&vp);
    ptp_bag_virtual_port &out = info->VirtualPort;
    out.Configured = vp.configured ? 1 : 0;
    out.Connected = vp.connected ? 1 : 0;
    const auto has = [&](quorrin_bmc_vp_field_type f) { return (vp.mask & (1u << f)) != 0; };
    const auto u8 = [&](quorrin_bmc_vp_field_type f) { return static_cast<uint8_t>(vp.value[f]); };
    if (has(QUORRIN_BMC_VP_PRIORITY1)) {
        storage->priority1 = u8(QUORRIN_BMC_VP_PRIORITY1);
        out.Priority1 = &storage->priority1;
    }
    if (has(QUORRIN_BMC_VP_PRIORITY2)) {
        storage->priority2 = u8(QUORRIN_BMC_VP_PRIORITY2);
        out.Priority2 = &storage->priority2;
    }
    if (has(QUORRIN_BMC_VP_CLOCK_CLASS)) {
        storage->clock_class = u8(QUORRIN_BMC_VP_CLOCK_CLASS);
        out.Class = &storage->clock_class;
    }
    if (has(QUORRIN_BMC_VP_CLOCK_ACCURACY)) {
        storage->accuracy = u8(QUORRIN_BMC_VP_CLOCK_ACCURACY);
        out.Accuracy = &storage->accuracy;
    }
    if (has(QUORRIN_BMC_VP_OSLV)) {
        storage->oslv = static_cast<uint16_t>(vp.value[QUORRIN_BMC_VP_OSLV]);
        out.OffsetLogVariance = &storage->oslv;
    }
    if (has(QUORRIN_BMC_VP_LOCAL_PRIORITY)) {
        storage->local_priority = u8(QUORRIN_BMC_VP_LOCAL_PRIORITY);
        out.LocalPriority = &storage->local_priority;
    }

    const servo_status_type s = servo_status();
    info->ServoStatus = s.status;
    info->MeanPathDelay = s.mean_path_delay;
    info->OffsetFromMaster = s.offset_from_master;
    info->AptsEnabled = quorrin_cfg_get_apts() ? 1 : 0;
}

zerrno quorrin_edm_get_current_ds(nodra_edm_request_td *request, const bgen_args_td *)
{
    EDM_DEBUG("%s: currentDS get request. Item '%s'", request->path);
    ptp_current_ds_info info{};
    const ptp_clock_type *gm = quorrin_bmc_get_gm(nullptr);
    if (gm != nullptr && !gm_is_configured()) {
        info.StepsRemoved = gm->steps_removed;
    }
    const servo_status_type s = servo_status();
    info.OffsetFromMaster = s.offset_from_master;
    info.MeanPathDelay = s.mean_path_delay;
    return reply_bag(request, &info, ptp_current_ds_info_bag_getfn(), "%s: [ERROR] Failed to encode currentDS bag: %s");
}

zerrno quorrin_edm_get_default_ds(nodra_edm_request_td *request, const bgen_args_td *)
{
    EDM_DEBUG("%s: defaultDS get request. Item '%s'", request->path);
    ptp_clock_type local{};
    quorrin_bmc_get_local_clock(&local, nullptr);
    const uint32_t profile = quorrin_cfg_get_profile();
    const bool slave_only = quorrin_cfg_get_telecom_clock_type() == TELECOM_T_TSC;
    uint32_t local_priority = 128;
    uint32_t signal_fail = 0;
    ptp_default_ds_info info{};
    info.profile = static_cast<ptp_bag_profile_type>(profile);
    info.TwoStepFlag = 1;
    info.ClockID = local.clock_id;
    info.NumberPorts = quorrin_port_num_get_active_count();
    info.ClockClass = slave_only ? 255 : local.clock_class;
    info.ClockAccuracy = local.accuracy;
    info.OSLV = local.offset_log_variance;
    info.Priority1 = local.priority1;
    info.Priority2 = local.priority2;
    info.DomainNumber = quorrin_cfg_get_domain();
    info.SlaveOnly = slave_only ? 1 : 0;
    if (profile == PTP_PROFILE_G8275_1 || profile == PTP_PROFILE_G8275_2) {
        info.LocalPriority = &local_priority;
    }
    if (profile == PTP_PROFILE_G8275_2) {
        info.SignalFail = &signal_fail;
    }
    return reply_bag(request, &info, ptp_default_ds_info_bag_getfn(), "%s: [ERROR] Failed to encode defaultDS bag: %s");
}

zerrno quorrin_edm_get_parent_ds(nodra_edm_request_td *request, const bgen_args_td *)
{
    EDM_DEBUG("%s: parentDS get request. Item '%s'", request->path);
    ptp_parent_ds_info info{};
    info.ParentStats = 0;
    info.ObservedParentOSLV = 0xFFFF;
    info.ObservedParentClockPhaseChangeRate = 0x7FFFFFFF;
    const ptp_clock_type *gm = quorrin_bmc_get_gm(nullptr);
    ptp_clock_type parent{};
    if (gm != nullptr && !gm_is_configured()) {
        parent = *gm;
        info.ParentClockID = gm->sender.clock_id;
        info.ParentPortNumber = gm->sender.port_num;
    } else {
        quorrin_bmc_get_local_clock(&parent, nullptr);
        quorrin_bmc_vp_state_type vp{};
        quorrin_bmc_get_virtual_port(&vp);
        if (vp.configured && vp.connected) {
            const auto has = [&](quorrin_bmc_vp_field_type f) { return (vp.mask & (1u << f)) != 0; };
            if (has(QUORRIN_BMC_VP_PRIORITY1)) {
                parent.priority1 = static_cast<uint8_t>(vp.value[QUORRIN_BMC_VP_PRIORITY1]);
            }
            if (has(QUORRIN_BMC_VP_PRIORITY2)) {
                parent.priority2 = static_cast<uint8_t>(vp.value[QUORRIN_BMC_VP_PRIORITY2]);
            }
            if (has(QUORRIN_BMC_VP_CLOCK_CLASS)) {
                parent.clock_class = static_cast<uint8_t>(vp.value[QUORRIN_BMC_VP_CLOCK_CLASS]);
            }
            if (has(QUORRIN_BMC_VP_CLOCK_ACCURACY)) {
                parent.accuracy = static_cast<uint8_t>(vp.value[QUORRIN_BMC_VP_CLOCK_ACCURACY]);
            }
            if (has(QUORRIN_BMC_VP_OSLV)) {
                parent.offset_log_variance = static_cast<uint16_t>(vp.value[QUORRIN_BMC_VP_OSLV]);
            }
            if (has(QUORRIN_BMC_VP_LOCAL_PRIORITY)) {
                parent.configured_priority = static_cast<uint8_t>(vp.value[QUORRIN_BMC_VP_LOCAL_PRIORITY]);
            }
        }
        info.ParentClockID = parent.clock_id;
        info.ParentPortNumber = 0;
    }
    info.GMClockID = parent.clock_id;
    info.GMClockClass = parent.clock_class;
    info.GMClockAccuracy = parent.accuracy;
    info.GMOSLV = parent.offset_log_variance;
    info.GMPriority1 = parent.priority1;
    info.GMPriority2 = parent.priority2;
    return reply_bag(request, &info, ptp_parent_ds_info_bag_getfn(), "%s: [ERROR] Failed to encode parentDS bag: %s");
}

zerrno quorrin_edm_get_time_properties_ds(nodra_edm_request_td *request, const bgen_args_td *)
{
    EDM_DEBUG("%s: timePropertiesDS get request. Item '%s'", request->path);
    ptp_clock_type adv{};
    quorrin_bmc_get_advertised_clock(&adv, nullptr);
    ptp_time_properties_ds_info info{};
    info.CurrentUTCOffset = adv.utc_offset;
    info.CurrentUTCOffsetValid = adv.utc_offset_valid != 0;
    info.Leap59 = adv.leap_seconds == PTP_LEAP_59;
    info.Leap61 = adv.leap_seconds == PTP_LEAP_61;
    info.TimeTraceable = adv.time_traceable != 0;
    info.FrequencyTraceable = adv.frequency_traceable != 0;
    info.PTPTimescale = adv.timescale == PTP_TIMESCALE_PTP;
    info.TimeSource = static_cast<ptp_bag_clock_time_source>(adv.time_source);
    return reply_bag(request, &info, ptp_time_properties_ds_info_bag_getfn(),
                     "%s: [ERROR] Failed to encode timePropertiesDS bag: %s");
}

zerrno quorrin_edm_get_grandmaster(nodra_edm_request_td *request, const bgen_args_td *)
{
    EDM_DEBUG("%s: Grandmaster get request. Item '%s'", request->path);
    quorrin_bmc_gm_type gm{};
    const ptp_clock_type *clock = quorrin_bmc_get_gm_oper(&gm);
    if (clock == nullptr) {
        return NODRA_ERR_EDM_NOT_FOUND;
    }
    ptp_grandmaster_info info{};
    clock_to_bag(*clock, &info.ClockProperties);
    info.Active = quorrin_bmc_is_node_active() ? 1 : 0;
    info.UsedForTime = gm.using_ptp_for_time != 0;
    info.UsedForFrequency = gm.using_ptp_for_frequency != 0;
    const int64_t known_ns = plat_clock_wall_ns() - static_cast<int64_t>(gm.change_time);
    info.KnownForTime = known_ns > 0 ? static_cast<uint32_t>(known_ns / 1000000000) : 0;
    info.InterfaceHandle = gm.ifhandle;
    ptp_address_to_bag(&gm.address, &info.Address);
    info.Domain = quorrin_cfg_get_domain();
    // The platform runs the delay request-response exchange with the grandmaster while its servo runs.
    info.RunningDrrm = quorrin_platform_is_servo_started() ? 1 : 0;
    return reply_bag(request, &info, ptp_grandmaster_info_bag_getfn(),
                     "%s: [ERROR] Failed to encode grandmaster bag: %s");
}

zerrno quorrin_edm_get_advertised_clock(nodra_edm_request_td *request, const bgen_args_td *)
{
    EDM_DEBUG("%s: Advertised clock get request. Item '%s'", request->path);
    ptp_clock_type adv{};
    quorrin_bmc_advertised_extra_type extra{};
    quorrin_bmc_get_advertised_clock(&adv, &extra);
    ptp_advertised_clock_info info{};
    const bool active = quorrin_bmc_is_node_active();
    clock_to_bag(adv, &info.ClockProperties);
    info.AdvertisedActive = active ? 1 : 0;
    info.Domain = extra.domain;
    if (active) {
        info.TimeSourceConfigured = extra.time_source_configured ? 1 : 0;
        info.ReceivedTimeSource = static_cast<ptp_bag_clock_time_source>(extra.received_time_source);
        info.TimescaleConfigured = extra.timescale_configured ? 1 : 0;
        info.ReceivedTimescale = static_cast<ptp_bag_clock_timescale>(extra.received_timescale);
    }
    return reply_bag(request, &info, ptp_advertised_clock_info_bag_getfn(),
                     "%s: [ERROR] Failed to encode advertised clock bag: %s");
}

zerrno quorrin_edm_get_local_clock(nodra_edm_request_td *request, const bgen_args_td *)
{
    ptp_clock_type local{};
    quorrin_bmc_get_local_clock(&local, nullptr);
    ptp_local_clock_info info{};
    quorrin_edm_local_clock_storage_type storage{};
    quorrin_edm_fill_local_clock(&local, &info, &storage);
    return reply_bag(request, &info, ptp_local_clock_info_bag_getfn(),
                     "%s: [ERROR] Failed to encode local clock bag: %s");
}

namespace {

void fill_config_info(ptp_bag_global_config_info *out)
{
    out->log_bmc_changes_set = quorrin_cfg_get_log_bmc_changes() ? 1 : 0;
    out->applied_config_counter = quorrin_cfg_get_applied_config_counter();
    out->is_scanning = quorrin_cfg_is_scanning() ? 1 : 0;
    out->is_enabled = quorrin_cfg_is_enabled() ? 1 : 0;
    out->any_successful_applies = quorrin_cfg_get_any_successful_applies() != 0;
    out->profile = quorrin_cfg_get_profile();
    out->is_profile_set = quorrin_cfg_is_profile_set() ? 1 : 0;
    out->telecom_clock_type = quorrin_cfg_get_telecom_clock_type();
    out->domain = quorrin_cfg_get_domain();
    out->clock_id = quorrin_cfg_get_clock_id();
    out->clock_priority1 = quorrin_cfg_get_priority1();
    out->clock_priority2 = quorrin_cfg_get_priority2();
    bool set = false;
    quorrin_cfg_get_clock_class(&set, &out->clock_class);
    out->is_clock_class_set = set;
    quorrin_cfg_get_freerun_clock_class(&set, &out->freerun_clock_class);
    out->is_freerun_clock_class_set = set;
    quorrin_cfg_get_uncalibrated_clock_class(&set, &out->uncalibrated_clock_class, &out->unless_from_holdover);
    out->unless_from_holdover = out->unless_from_holdover != 0;
    out->is_uncalibrated_clock_class_set = set;
    quorrin_cfg_get_holdover_clock_class(&set, &out->holdover_clock_class);
    out->is_holdover_clock_class_set = set;
    quorrin_cfg_get_double_failure_clock_class(&set, &out->double_failure_clock_class);
    out->is_double_failure_clock_class_set = set;
    quorrin_cfg_get_holdover_duration(&set, &out->holdover_duration);
    out->is_holdover_duration_set = set;
    out->is_holdover_time_trace_override_set = quorrin_cfg_get_holdover_time_traceable_override() ? 1 : 0;
    out->is_uncal_time_trace_override_set = quorrin_cfg_get_uncal_time_traceable_override() ? 1 : 0;
    quorrin_cfg_get_timescale(&set, &out->clock_timescale);
    out->is_clock_timescale_set = set;
    quorrin_cfg_get_time_source(&set, &out->clock_time_source);
    out->is_clock_time_source_set = set;
    out->freq_pri = quorrin_cfg_get_freq_priority();
    out->tod_pri = quorrin_cfg_get_tod_priority();
    out->servo_slow_tracking = static_cast<uint16_t>(quorrin_cfg_get_servo_slow_tracking());
    out->verify_checksum = quorrin_cfg_get_verify_checksum() ? 1 : 0;
    // Not kept by the controller.
    out->batch_verify = 0;
    out->clock_selection_mode = 0;
    out->clock_advertisement_mode = 0;
}

void fill_platform_info(ptp_bag_platform_info *out)
{
    quorrin_platform_capabilities_type caps{};
    quorrin_platform_get_capabilities(&caps);
    out->servo_init_info.servo_started = caps.servo_started != 0;
    out->servo_init_info.servo_synced = caps.servo_synced != 0;
    out->capability_init_info.version = static_cast<ptp_bag_platform_capability_api_version>(caps.capability_version);
    ptp_bag_platform_capability_info &c = out->capabilities;
    c.holdover_duration_min = caps.holdover_duration_min;
    c.holdover_duration_max = caps.holdover_duration_max;
    c.supports_ptp = caps.supports_ptp;
    c.supports_slave = caps.supports_slave;
    c.supports_transp_clock = caps.supports_transp_clock;
    c.supports_leap_seconds = caps.supports_leap_seconds;
    c.supports_profile = caps.supports_profile;
    c.supports_seln_local_clock = caps.supports_seln_local_clock;
    c.g8265_requires_local_clock = caps.g8265_requires_local_clock;
    c.supports_servo_slow_track = caps.supports_servo_slow_track;
    c.supports_holdover_duration = caps.supports_holdover_duration;
    c.int_clock_ql = {caps.o1_value, caps.o2_g1_value, caps.o2_g2_value};
    c.supports_apts = caps.supports_apts;
    c.report_holdover_post_spec = caps.report_holdover_post_spec;
}

struct ranked_walk_type {
    ptp_bag_bmc_clock *entries;
    uint32_t max;
    uint32_t count;
};

void count_ranked(const quorrin_bmc_clock_type *, void *ctx)
{
    ++*static_cast<uint32_t *>(ctx);
}

void fill_ranked(const quorrin_bmc_clock_type *record, void *ctx)
{
    auto *walk = static_cast<ranked_walk_type *>(ctx);
    if (walk->count >= walk->max) {
        return;
    }
    ptp_bag_bmc_clock &entry = walk->entries[walk->count++];
    clock_to_bag(record->clock, &entry.ForeignClock);
    entry.Node = record->node_id;
    entry.PreviousNode = record->prev != nullptr ? record->prev->node_id : 0;
    entry.NextNode = record->next != nullptr ? record->next->node_id : 0;
    entry.CheckpointID = static_cast<uint32_t>(record->chkpt_id);
}

} // namespace

zerrno quorrin_edm_get_ctrlr_database(nodra_edm_request_td *request, const bgen_args_td *)
{
    EDM_DEBUG("%s: Global database get request. Item '%s'", request->path);
    ptp_global_database_info info{};

    quorrin_bmc_oper_state_type st{};
    quorrin_bmc_get_oper_state(&st);
    ptp_bag_global_bmc_info &bmc = info.GlobalBestMasterClockInfo;
    bmc.node_active = st.node_active;
    bmc.servo_started = quorrin_platform_is_servo_started() ? 1 : 0;
    bmc.servo_synced = st.servo_synced;
    bmc.gm_used_for_freq = st.using_frequency;
    bmc.gm_used_for_time = st.using_time;
    split_ns(st.gm_change_time, &bmc.gm_time_seconds, &bmc.gm_time_nseconds);
    split_ns(st.advertised_change_time, &bmc.advertized_time_seconds, &bmc.advertized_time_nseconds);
    bmc.gm_log_sync_rate = st.gm_log_sync_interval;
    bmc.gm_log_delay_req_rate = st.gm_log_delay_req_interval;
    bmc.gm_valid = st.gm_valid;
    bmc.seen_prtc = st.seen_prtc;

    fill_config_info(&info.GlobalConfigurationInfo);

    ptp_clock_type local{};
    quorrin_bmc_get_local_clock(&local, nullptr);
    quorrin_edm_local_clock_storage_type local_storage{};
    quorrin_edm_fill_local_clock(&local, &info.LocalClock, &local_storage);
    ptp_clock_type selection{};
    ptp_local_clock_info selection_info{};
    quorrin_edm_local_clock_storage_type selection_storage{};
    if (quorrin_bmc_get_selection_local_clock(&selection)) {
        quorrin_edm_fill_local_clock(&selection, &selection_info, &selection_storage);
        info.SelectionLocalClock = &selection_info;
    }

    ptp_bag_clock gm_bag{};
    if (const ptp_clock_type *gm = quorrin_bmc_get_gm(nullptr); gm != nullptr) {
        clock_to_bag(*gm, &gm_bag);
        info.GrandMasterClock = &gm_bag;
    }
    ptp_clock_type adv{};
    quorrin_bmc_get_advertised_clock(&adv, nullptr);
    clock_to_bag(adv, &info.AdvertisedClock);

    uint32_t count = 0;
    quorrin_bmc_for_each_ranked(count_ranked, &count);
    ranked_walk_type walk{nullptr, count, 0};
    if (count != 0) {
        walk.entries = static_cast<ptp_bag_bmc_clock *>(std::calloc(count, sizeof(ptp_bag_bmc_clock)));
        if (walk.entries == nullptr) {
            ptp_alloc_failure_report(count * sizeof(ptp_bag_bmc_clock), "Global Database bag");
            return PTP_ZERR_NOMEM;
        }
        quorrin_bmc_for_each_ranked(fill_ranked, &walk);
    }
    info.BestForeignMasterClocks = {walk.count, walk.entries};

    fill_platform_info(&info.PlatformCapabilititesInfo);

    const zerrno rc = reply_bag(request, &info, ptp_global_database_info_bag_getfn(),
                                "%s: [ERROR] Failed to encode global database info bag: %s");
    std::free(walk.entries);
    return rc;
}

zerrno quorrin_edm_get_ctrlr_event_counters(nodra_edm_request_td *request, const bgen_args_td *)
{
    EDM_DEBUG("%s: Global event counters get request. Item '%s'", request->path);
    sardo_event_counter_info info{};
    static_assert(sizeof info.GlobalEventCounters == QUORRIN_GL_EVENT_COUNT * sizeof(uint32_t));
    std::memcpy(info.GlobalEventCounters, quorrin_stats_get_event_counters(), sizeof info.GlobalEventCounters);
    return reply_bag(request, &info, sardo_event_counter_info_bag_getfn(),
                     "%s: [ERROR] Failed to encode global event counters bag: %s");
}

zerrno quorrin_edm_get_config_errors(nodra_edm_request_td *request, const bgen_args_td *)
{
    EDM_DEBUG("%s: Global config errors get request. Item '%s'", request->path);
    const uint32_t profile = quorrin_cfg_get_profile();
    const uint32_t clock_type = quorrin_cfg_get_telecom_clock_type();
    const bool g8275 = profile == PTP_PROFILE_G8275_1 || profile == PTP_PROFILE_G8275_2;
    sardo_config_errors_info info{};
    ptp_bag_gl_config_errors &err = info.ConfigurationErrors;
    info.ClockProfile = static_cast<ptp_bag_profile_type>(profile);
    info.ClockProfileSet = quorrin_cfg_is_profile_set() ? 1 : 0;
    info.TelecomClockType = static_cast<ptp_bag_telecom_clock_type>(clock_type);
    info.DomainNumber = quorrin_cfg_get_domain();
    info.Priority2 = quorrin_cfg_get_priority2();
    err.Domain = !ptp_profile_domain_is_ok(profile, info.DomainNumber);
    if (g8275) {
        err.ProfilePriority1Config = quorrin_cfg_is_priority1_set();
        err.ProfilePriority2Value =
            quorrin_cfg_is_priority2_set() && !ptp_profile_priority2_is_ok(profile, info.Priority2, clock_type);
    }
    err.UTCOffsetChange = quorrin_leap_seconds_db_invalid();
    err.NetworkType = profile != PTP_PROFILE_G8265_1 && quorrin_cfg_get_network_type() != 0;
    err.PhysicalLayerFrequency = profile == PTP_PROFILE_G8265_1 && quorrin_cfg_get_physical_layer_freq() != 0;

    quorrin_cfg_applied_globals_type vp{};
    quorrin_cfg_get_applied_globals(&vp);
    const auto has = [&](quorrin_bmc_vp_field_type f) { return (vp.mask & (1u << f)) != 0; };
    if (profile == PTP_PROFILE_DEFAULT || profile == PTP_PROFILE_G8265_1) {
        err.ProfileVirtualPort = vp.configured;
        err.VirtualPortLocalPriority = has(QUORRIN_BMC_VP_LOCAL_PRIORITY);
    }
    if (has(QUORRIN_BMC_VP_PRIORITY1)) {
        err.VirtualPortPriority1Config = !ptp_profile_priority1_is_ok(profile, vp.priority1);
    }
    if (has(QUORRIN_BMC_VP_PRIORITY2)) {
        info.VirtualPortPriority2 = &vp.priority2;
        err.VirtualPortPriority2Value = !ptp_profile_priority2_is_ok(profile, vp.priority2, clock_type);
    }
    if (has(QUORRIN_BMC_VP_CLOCK_CLASS)) {
        info.VirtualPortClockClass = &vp.clock_class;
        err.VirtualPortProfileClockClass = !ptp_profile_clock_class_is_ok(profile, vp.clock_class);
    }
    if (has(QUORRIN_BMC_VP_CLOCK_ACCURACY)) {
        info.VirtualPortClockAccuracy = &vp.clock_accuracy;
        err.VirtualPortClockAccuracy = !ptp_profile_clock_accuracy_is_ok(profile, vp.clock_accuracy);
    }
    if (has(QUORRIN_BMC_VP_OSLV)) {
        info.VirtualPortOslv = &vp.oslv;
        err.VirtualPortOslv = !ptp_profile_oslv_is_ok(profile, vp.oslv);
    }
    if (quorrin_cfg_get_apts()) {
        err.APTSClockProfile = profile != PTP_PROFILE_G8275_2;
        err.APTSClockType = clock_type != TELECOM_T_TSC;
    }
    return reply_bag(request, &info, sardo_config_errors_info_bag_getfn(),
                     "%s: [ERROR] Failed to encode global config errors bag: %s");
}

namespace {

ptp_bag_utc_offset_info offset_info(const quorrin_leap_seconds_offset_info_type &in)
{
    return {in.utc_offset, in.offset_valid != 0, in.leap_seconds};
}

} // namespace

zerrno quorrin_edm_get_leap_seconds(nodra_edm_request_td *request, const bgen_args_td *)
{
    EDM_DEBUG("%s: Leap-seconds get request. Item '%s'", request->path);
    uint32_t count = quorrin_leap_seconds_db_count();
    if (count > 0xFFFF) {
        count = 0xFFFF;
    }
    ptp_bag_leap_seconds_entry *entries = nullptr;
    uint32_t filled = 0;
    if (count != 0) {
        entries = static_cast<ptp_bag_leap_seconds_entry *>(std::calloc(count, sizeof(ptp_bag_leap_seconds_entry)));
        if (entries == nullptr) {
            ptp_alloc_failure_report(count * sizeof(ptp_bag_leap_seconds_entry), "Leap-seconds bag");
            return PTP_ZERR_NOMEM;
        }
        for (const quorrin_leap_seconds_db_entry_type *e = quorrin_leap_seconds_db_first();
             e != nullptr && filled < count; e = e->next) {
            ptp_bag_leap_seconds_entry &entry = entries[filled++];
            entry.Offset = e->offset;
            entry.OffsetStartDate = static_cast<uint64_t>(e->start);
            entry.OffsetChange = e->offset_change;
            entry.OffsetApplied = e->applied != 0;
        }
    }

    quorrin_leap_seconds_summary_type summary{};
    quorrin_leap_seconds_get_summary(&summary);
    ptp_leap_seconds_info info{};
    info.ConfiguredLeapSecondList = {filled, entries};
    info.CurrentOffsetInfo = offset_info(summary.current);
    ptp_bag_utc_offset_info gm = offset_info(summary.gm);
    ptp_bag_utc_offset_info configured = offset_info(summary.configured);
    ptp_bag_utc_offset_info previous_gm = offset_info(summary.previous_gm);
    ptp_bag_utc_offset_info hardware = offset_info(summary.hardware);
    info.CurrentGMOffsetInfo = summary.has_gm ? &gm : nullptr;
    info.ConfiguredOffsetInfo = summary.has_configured ? &configured : nullptr;
    info.PreviousGMOffsetInfo = summary.has_previous_gm ? &previous_gm : nullptr;
    info.HardwareOffsetInfo = summary.has_hardware ? &hardware : nullptr;
    info.SourceType = summary.source_type;
    ptp_bag_string url{summary.url != nullptr ? summary.url : ""};
    uint32_t expiry = static_cast<uint32_t>(summary.next_check);
    uint32_t days = summary.polling_days;
    if (summary.has_file) {
        info.SourceFile = &url;
        info.SourceExpiryDate = &expiry;
        info.PollingFrequency = &days;
    }
    ptp_bag_leap_seconds_entry gm_leap{summary.gm_leap_offset, static_cast<uint64_t>(summary.gm_leap_time),
                                       summary.gm_leap_change, 0};
    if (summary.has_gm_leap) {
        info.GMLeapSecond = &gm_leap;
    }
    const zerrno rc = reply_bag(request, &info, ptp_leap_seconds_info_bag_getfn(),
                                "%s: [ERROR] Failed to encode leap-seconds bag: %s");
    std::free(entries);
    return rc;
}

zerrno quorrin_edm_clear_ctrlr_event_counters(nodra_edm_request_td *request, const bgen_args_td *)
{
    EDM_DEBUG("%s: Global event counters clear request. Item '%s'", request->path);
    quorrin_stats_clear_event_counters();
    return 0;
}

// ---- Start-up and shut-down --------------------------------------------------------------------

zerrno quorrin_edm_init(event_mgr_type *evm)
{
    constexpr const char *OPER_BIND_FAILED = "Failed to bind to Nodra for oper EDM: ";
    constexpr const char *ACTION_BIND_FAILED = "Failed to bind to Nodra for global action EDM: ";
    constexpr const char *FNS_FAILED = "Failed to initialize EDM functions: ";
    zerrno rc = guarded_bind(&edm.oper_bind, "/oper/ptp/&&/", BIND_NODE);
    if (rc != 0) {
        return init_failed(OPER_BIND_FAILED, rc);
    }
    for (size_t i = 0; i < oper_items.size(); i++) {
        nodra_edm_fns_td fns;
        rc = nodra_edm_fns_init(&fns);
        if (rc == 0) {
            rc = nodra_edm_fns_get_init(&fns, backend_edm_get_cb);
        }
        if (rc != 0) {
            return init_failed(FNS_FAILED, rc);
        }
        rc = nodra_register_edm2(edm.oper_bind, oper_items[i].path, &fns, evm, &oper_schema, 0, &edm.registrations[i]);
        if (rc != 0) {
            edm.registrations[i] = NOT_REGISTERED;
            return init_failed("Failed to register with Nodra for oper EDM: ", rc);
        }
    }
    rc = guarded_bind(&edm.action_bind, "/action/ptp/&&/", BIND_NODE);
    if (rc != 0) {
        return init_failed(ACTION_BIND_FAILED, rc);
    }
    nodra_edm_fns_td fns;
    rc = nodra_edm_fns_init(&fns);
    if (rc == 0) {
        rc = nodra_edm_fns_set_init(&fns, backend_edm_set_cb);
    }
    if (rc != 0) {
        return init_failed(FNS_FAILED, rc);
    }
    rc = nodra_register_edm2(edm.action_bind, action_items[0].path, &fns, evm, &action_schema, 0,
                             &edm.action_registration);
    if (rc != 0) {
        edm.action_registration = NOT_REGISTERED;
        return init_failed("Failed to register with Nodra for global action EDM: ", rc);
    }
    rc = bag_register_all_ptp_bags();
    if (rc != 0) {
        return init_failed("Failed to register bags: ", rc);
    }
    return 0;
}

zerrno quorrin_edm_gl_init(event_mgr_type *evm)
{
    if (edm.gl_init_done) {
        return 0;
    }
    // Set before the bind: a failed bind is not tried again.
    edm.gl_init_done = true;
    const zerrno rc = guarded_bind(&edm.gl_bind, "/oper/ptp/gl/", BIND_PLAIN);
    if (rc != 0) {
        return init_failed("Failed to bind to Nodra for global oper EDM: ", rc);
    }
    return quorrin_edm_trap_init(evm, edm.gl_bind);
}

void quorrin_edm_shutdown(void)
{
    unregister_edm(&edm.action_registration);
    unbind(&edm.action_bind);
    for (uint32_t &registration : edm.registrations) {
        unregister_edm(&registration);
    }
    unbind(&edm.oper_bind);
    quorrin_edm_trap_shutdown();
    unbind(&edm.gl_bind);
    edm.gl_init_done = false;
}
