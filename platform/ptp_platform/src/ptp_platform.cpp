// The controller's platform PTP library: capabilities, the software servo and the clock.
#include "ptp_platform.h"

#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "evm.h"
#include "plat_clock.h"
#include "ptp_platform_node_clock.h"
#include "ptp_platform_servo_store.h"
#include "ptp_platform_test.h"
#include "ptp_servo.h"
#include "sysmgr.h"
#include "sysmgr_chassis.h"

namespace {

constexpr const char *op_names[] = {
    "capability_init",
    "capability_get",
    "capability_shutdown",
    "servo_init",
    "servo_start",
    "servo_stop",
    "servo_time_update",
    "servo_shutdown",
    "servo_status",
    "offset_threshold_set",
    "clock_init",
    "clock_slave_update",
    "clock_leap_second_update",
    "clock_transparent_clock_update",
    "clock_settings_update",
    "clock_get_current_timestamp",
    "clock_shutdown",
};
static_assert(std::size(op_names) == static_cast<size_t>(ptp_platform_test_op::COUNT));

// What the node's clock can do, as its chassis description gives it.
ptp_platform_capability_info_type capabilities_of(const chassis_clock_type &clock)
{
    return {clock.flags, clock.ql_o1, clock.ql_o2_g1, clock.ql_o2_g2, clock.holdover_min, clock.holdover_max};
}

// The clock of this process's node; a node the chassis does not describe (or no chassis) has the
// defaults, a free-running software clock.
chassis_clock_type node_clock_desc()
{
    const chassis_node_type *node = sysmgr_my_node();
    return node != nullptr ? node->clock : chassis_clock_type{};
}

// A callback waiting to be run on the context's event manager.
struct pending_cb_type {
    enum kind_type {
        SYNC,
        FAULT,
        STATE,
        THRESHOLD,
        CLOCK_UPDATE
    } kind;
    uint32_t status;
    ptp_platform_offset_threshold_info_type threshold;
};

// Kept for tests to look at, and bounded: the controller of a running chassis makes a call for every
// exchange of its slave port, for days.
constexpr size_t RECORDED_KEPT = 4096;

template <typename T>
void keep(std::deque<T> *log, T entry)
{
    if (log->size() == RECORDED_KEPT) {
        log->pop_front();
    }
    log->push_back(std::move(entry));
}

struct recorded_type {
    std::deque<std::string> calls;
    uint32_t counts[static_cast<size_t>(ptp_platform_test_op::COUNT)] = {};
    ptp_platform_capability_init_in_type capability_init{};
    ptp_platform_servo_init_in_type servo_init{};
    ptp_platform_servo_start_in_type servo_start{};
    ptp_platform_clock_init_in_type clock_init{};
    ptp_platform_clock_slave_update_in_type slave_update{};
    ptp_platform_clock_leap_second_update_in_type leap_second_update{};
    ptp_platform_clock_transparent_clock_update_in_type transparent_clock_update{};
    ptp_platform_clock_settings_update_in_type settings_update{};
    int64_t warning = 0;
    int64_t critical = 0;
    std::deque<ptp_platform_servo_time_update_in_type> time_updates;
};

struct script_type {
    zerrno results[static_cast<size_t>(ptp_platform_test_op::COUNT)] = {};
    uint32_t capability_version = PTP_PLATFORM_CAPABILITY_API_VERSION;
    ptp_platform_capability_info_type capability = capabilities_of(chassis_clock_type{});
    ptp_platform_servo_init_info_type servo_init{};
    bool status_fn = true;
    bool threshold_fn = true;
    ptp_platform_clock_init_info_type clock_init{};
    ptp_platform_servo_status_info_type status{};
    int64_t current_offset = 0;
    uint8_t timestamp[PTP_PLATFORM_TIMESTAMP_LEN] = {};
};

struct library_type {
    bool scripted = false;
    recorded_type recorded;
    script_type script;
    const ptp_platform_clock_ops_type *ops = nullptr; // null: the node clock
    bool store_in_tests = false;                      // keep the servo's state with a test's clock too
    ptp_servo_config_type servo_config = PTP_SERVO_CONFIG_DEFAULT;

    // Callbacks and where they run.
    ptp_platform_servo_init_in_type servo_cbs{};
    ptp_platform_clock_init_in_type clock_cbs{};
    event_mgr_type *evm = nullptr;
    int32_t async_code = -1;
    std::deque<pending_cb_type> pending;

    bool capability_initialised = false;
    chassis_clock_type desc; // the node's clock, read at capability and clock init
    bool servo_initialised = false;
    bool clock_initialised = false;
    ptp_servo_type servo{};
    ptp_platform_slave_info_type slave{};
    uint32_t best_source = PTP_PLATFORM_BEST_SOURCE_FOREIGN_MASTER;
    uint32_t using_frequency = 0;
    uint32_t using_time = 0;
    int64_t warning = 0;
    int64_t critical = 0;
    uint32_t threshold_level = 0; // 0 within, 1 past warning, 2 past critical
};

library_type lib;

void record(ptp_platform_test_op op)
{
    keep(&lib.recorded.calls, std::string(op_names[static_cast<size_t>(op)]));
    lib.recorded.counts[static_cast<size_t>(op)]++;
}

zerrno scripted_result(ptp_platform_test_op op)
{
    return lib.script.results[static_cast<size_t>(op)];
}

// The servo's state is kept beside the node clock it steers (a test's own clock has none unless
// the test asks).
bool servo_store_used()
{
    return !lib.scripted && (lib.ops == nullptr || lib.store_in_tests);
}

void servo_store_save()
{
    if (servo_store_used()) {
        ptp_platform_servo_store_save(&lib.servo);
    }
}

const ptp_platform_clock_ops_type *clock_ops()
{
    return lib.ops != nullptr ? lib.ops : ptp_platform_node_clock_ops();
}

void clock_info_fill(ptp_platform_clock_info_type *info);

// ---- Callback delivery (real mode) -----------------------------------------------------------

void run_pending(const pending_cb_type &cb)
{
    switch (cb.kind) {
    case pending_cb_type::SYNC:
        if (lib.servo_cbs.servo_sync_cb != nullptr) {
            lib.servo_cbs.servo_sync_cb();
        }
        break;
    case pending_cb_type::FAULT:
        if (lib.servo_cbs.servo_fault_cb != nullptr) {
            lib.servo_cbs.servo_fault_cb();
        }
        break;
    case pending_cb_type::STATE:
        if (lib.servo_cbs.clock_state_cb != nullptr) {
            lib.servo_cbs.clock_state_cb(cb.status);
        }
        break;
    case pending_cb_type::THRESHOLD:
        if (lib.servo_cbs.offset_threshold_cb != nullptr) {
            lib.servo_cbs.offset_threshold_cb(&cb.threshold);
        }
        break;
    case pending_cb_type::CLOCK_UPDATE:
        if (lib.clock_initialised && lib.clock_cbs.clock_update_cb != nullptr) {
            ptp_platform_clock_info_type info{};
            clock_info_fill(&info);
            lib.clock_cbs.clock_update_cb(&info);
        }
        break;
    }
}

int pending_handler(const event_async_ctx_type *, int32_t, void *)
{
    // One event per queued callback; a callback may queue more, which get their own events.
    if (!lib.pending.empty()) {
        const pending_cb_type cb = lib.pending.front();
        lib.pending.pop_front();
        run_pending(cb);
    }
    return 0;
}

zerrno attach_context(uint64_t context)
{
    auto *evm = reinterpret_cast<event_mgr_type *>(context);
    if (evm == nullptr) {
        return PTP_PLATFORM_ERR_INVALID;
    }
    if (lib.evm == evm) {
        return 0;
    }
    if (lib.evm != nullptr) {
        return PTP_PLATFORM_ERR_INVALID;
    }
    event_async_ctx_type ctx{};
    const int code = event_async_attach_event(evm, 0, pending_handler, nullptr, &ctx);
    if (code < 0) {
        return PTP_PLATFORM_ERR_INVALID;
    }
    lib.evm = evm;
    lib.async_code = code;
    return 0;
}

void detach_context_if_unused()
{
    if (lib.evm == nullptr || lib.servo_initialised || lib.clock_initialised) {
        return;
    }
    event_async_attach(lib.evm, lib.async_code, nullptr, nullptr);
    lib.evm = nullptr;
    lib.async_code = -1;
    lib.pending.clear();
}

void post(const pending_cb_type &cb)
{
    if (lib.evm == nullptr) {
        return;
    }
    lib.pending.push_back(cb);
    event_send_async(event_manager_coid(lib.evm), lib.async_code, 0);
}

// ---- The software clock's view of itself -------------------------------------------------------

uint8_t sync_state()
{
    switch (lib.servo.status) {
    case PTP_SERVO_PHASE_ALIGNED: return PTP_PLATFORM_SYNC_STATE_SYNC;
    case PTP_SERVO_HOLDOVER: return PTP_PLATFORM_SYNC_STATE_HOLDOVER_SPEC;
    default: return PTP_PLATFORM_SYNC_STATE_NO_SYNC;
    }
}

// The node's clock as described; its sync state follows the servo. The UTC offset and the QL are
// reported only when the description gives them.
ptp_platform_clock_props_type local_props()
{
    const chassis_clock_type &d = lib.desc;
    ptp_platform_clock_props_type props{};
    props.mask = PTP_PLATFORM_PROPS_TIMESCALE | PTP_PLATFORM_PROPS_TIME_SOURCE | PTP_PLATFORM_PROPS_PRIMARY_REF |
                 PTP_PLATFORM_PROPS_SYNC_STATE | PTP_PLATFORM_PROPS_ACCURACY | PTP_PLATFORM_PROPS_OSLV |
                 PTP_PLATFORM_PROPS_TRACEABLE | PTP_PLATFORM_PROPS_PRIMARY_REF_TYPE;
    props.timescale = d.timescale;
    props.time_source = d.time_source;
    props.primary_ref = d.primary_ref_type != 0 ? 1 : 0;
    props.sync_state = sync_state();
    props.accuracy = d.accuracy;
    props.oslv = d.oslv;
    props.frequency_traceable = d.frequency_traceable ? 1 : 0;
    props.time_traceable = d.time_traceable ? 1 : 0;
    props.primary_ref_type = d.primary_ref_type;
    if (d.has_utc_offset) {
        // A clock that knows UTC knows of any leap second too: none is pending.
        props.mask |= PTP_PLATFORM_PROPS_UTC_OFFSET | PTP_PLATFORM_PROPS_LEAP;
        props.utc_offset = d.utc_offset;
        props.utc_offset_valid = 1;
        props.leap_seconds = 0;
    }
    if (d.has_ql) {
        props.mask |= PTP_PLATFORM_PROPS_QL;
        props.ql_option = d.ql_option;
        props.ql_value = d.ql_value;
    }
    return props;
}

void apply_using(uint32_t gm_available, uint32_t has_frequency, uint32_t has_time, uint32_t best_source)
{
    const bool follow = gm_available != 0 && best_source == PTP_PLATFORM_BEST_SOURCE_FOREIGN_MASTER;
    const uint32_t frequency = follow && has_frequency != 0 ? 1 : 0;
    const uint32_t time = follow && has_time != 0 ? 1 : 0;
    if (frequency != lib.using_frequency || time != lib.using_time) {
        lib.using_frequency = frequency;
        lib.using_time = time;
        post({pending_cb_type::CLOCK_UPDATE, 0, {}});
    }
}

// ---- Servo (real mode) ---------------------------------------------------------------------------

void apply_result(const ptp_servo_result_type &result)
{
    const ptp_platform_clock_ops_type *ops = clock_ops();
    if (result.step && ops != nullptr) {
        ops->step(result.step_ns);
    }
    if (result.set_correction && ops != nullptr) {
        ops->set_correction(result.correction_ppb);
    }
    if (result.fault) {
        post({pending_cb_type::FAULT, 0, {}});
    }
    if (result.status_changed) {
        post({pending_cb_type::STATE, lib.servo.status, {}});
        // The sync state is one of the clock's properties.
        post({pending_cb_type::CLOCK_UPDATE, 0, {}});
    }
    if (result.synced) {
        post({pending_cb_type::SYNC, 0, {}});
    }
    // An outlier is not the clock's offset: it is not a threshold crossing either.
    if (result.offset_updated && !result.outlier) {
        const int64_t offset = lib.servo.offset_ns;
        const uint64_t magnitude = offset < 0 ? 0 - static_cast<uint64_t>(offset) : static_cast<uint64_t>(offset);
        uint32_t level = 0;
        if (lib.critical > 0 && magnitude >= static_cast<uint64_t>(lib.critical)) {
            level = 2;
        } else if (lib.warning > 0 && magnitude >= static_cast<uint64_t>(lib.warning)) {
            level = 1;
        }
        // Reported once per crossing, not per sample.
        if (level > lib.threshold_level) {
            post({pending_cb_type::THRESHOLD, 0, {offset, 0}});
        }
        lib.threshold_level = level;
    }
}

void check_holdover()
{
    ptp_servo_result_type result{};
    ptp_servo_check_holdover(&lib.servo, plat_clock_mono_ns(), &result);
    apply_result(result);
    if (result.status_changed) {
        servo_store_save();
    }
}

zerrno servo_status_real(ptp_platform_servo_status_info_type *out)
{
    record(ptp_platform_test_op::SERVO_STATUS);
    if (const zerrno rc = scripted_result(ptp_platform_test_op::SERVO_STATUS); rc != 0) {
        return rc;
    }
    if (lib.scripted) {
        *out = lib.script.status;
        return 0;
    }
    if (!lib.servo_initialised) {
        return PTP_PLATFORM_ERR_NOT_INIT;
    }
    check_holdover();
    out->offset_from_master = lib.servo.have_offset ? lib.servo.offset_ns : 0;
    out->mean_path_delay = lib.servo.have_delay ? static_cast<int64_t>(lib.servo.mean_path_delay_ns) : 0;
    out->status = lib.servo.status;
    out->filtered_offset = lib.servo.have_offset ? lib.servo.filtered_offset_ns : 0;
    out->offset_outliers = lib.servo.offset_outliers;
    out->delay_outliers = lib.servo.delay_outliers;
    return 0;
}

zerrno offset_threshold_set(int64_t warning, int64_t critical, int64_t *current_offset)
{
    record(ptp_platform_test_op::OFFSET_THRESHOLD_SET);
    lib.recorded.warning = warning;
    lib.recorded.critical = critical;
    if (const zerrno rc = scripted_result(ptp_platform_test_op::OFFSET_THRESHOLD_SET); rc != 0) {
        return rc;
    }
    if (lib.scripted) {
        *current_offset = lib.script.current_offset;
        return 0;
    }
    lib.warning = warning;
    lib.critical = critical;
    lib.threshold_level = 0;
    *current_offset = lib.servo.have_offset ? lib.servo.offset_ns : 0;
    return 0;
}

ptp_servo_timestamp_type timestamp_from(const uint8_t *p)
{
    const uint64_t seconds = uint64_t{p[0]} << 40 | uint64_t{p[1]} << 32 | uint64_t{p[2]} << 24 | uint64_t{p[3]} << 16 |
                             uint64_t{p[4]} << 8 | p[5];
    const uint32_t nanoseconds = uint32_t{p[6]} << 24 | uint32_t{p[7]} << 16 | uint32_t{p[8]} << 8 | p[9];
    return {seconds, nanoseconds};
}

void clock_info_fill(ptp_platform_clock_info_type *info)
{
    info->clock_active = 1;
    info->using_ptp_for_frequency = lib.using_frequency;
    info->using_ptp_for_time = lib.using_time;
    info->local_props = local_props();
    info->selection_props = local_props();
}

} // namespace

// ---- Capabilities ------------------------------------------------------------------------------

zerrno ptp_platform_capability_init(const ptp_platform_capability_init_in_type *in,
                                    ptp_platform_capability_init_info_type *out)
{
    record(ptp_platform_test_op::CAPABILITY_INIT);
    if (in == nullptr || out == nullptr) {
        return PTP_PLATFORM_ERR_INVALID;
    }
    lib.recorded.capability_init = *in;
    if (const zerrno rc = scripted_result(ptp_platform_test_op::CAPABILITY_INIT); rc != 0) {
        return rc;
    }
    if (lib.scripted) {
        out->version = lib.script.capability_version;
        lib.capability_initialised = true;
        return 0;
    }
    uint32_t node = 0;
    if (platform_get_my_nodeid(&node) != 0) {
        return PTP_PLATFORM_ERR_NO_NODE;
    }
    lib.desc = node_clock_desc();
    out->version = lib.desc.api_version;
    lib.capability_initialised = true;
    return 0;
}

zerrno ptp_platform_capability_get(const ptp_platform_capability_get_in_type *in,
                                   ptp_platform_capability_info_type *out)
{
    record(ptp_platform_test_op::CAPABILITY_GET);
    if (in == nullptr || out == nullptr) {
        return PTP_PLATFORM_ERR_INVALID;
    }
    if (const zerrno rc = scripted_result(ptp_platform_test_op::CAPABILITY_GET); rc != 0) {
        return rc;
    }
    if (lib.scripted) {
        *out = lib.script.capability;
        return 0;
    }
    if (!lib.capability_initialised) {
        return PTP_PLATFORM_ERR_NOT_INIT;
    }
    *out = capabilities_of(lib.desc);
    return 0;
}

void ptp_platform_capability_shutdown(void)
{
    record(ptp_platform_test_op::CAPABILITY_SHUTDOWN);
    lib.capability_initialised = false;
}

// ---- Servo ---------------------------------------------------------------------------------------

zerrno ptp_platform_servo_init(const ptp_platform_servo_init_in_type *in, ptp_platform_servo_init_info_type *out)
{
    record(ptp_platform_test_op::SERVO_INIT);
    if (in == nullptr || out == nullptr) {
        return PTP_PLATFORM_ERR_INVALID;
    }
    lib.recorded.servo_init = *in;
    if (const zerrno rc = scripted_result(ptp_platform_test_op::SERVO_INIT); rc != 0) {
        return rc;
    }
    lib.servo_cbs = *in;
    if (lib.scripted) {
        *out = lib.script.servo_init;
        out->status_fn = lib.script.status_fn ? servo_status_real : nullptr;
        out->offset_threshold_set_fn = lib.script.threshold_fn ? offset_threshold_set : nullptr;
        lib.servo_initialised = true;
        return 0;
    }
    if (clock_ops() == nullptr) {
        return PTP_PLATFORM_ERR_NO_CLOCK;
    }
    if (const zerrno rc = attach_context(in->context); rc != 0) {
        return rc;
    }
    if (!lib.servo_initialised) {
        ptp_servo_init(&lib.servo, lib.servo_config);
        lib.warning = 0;
        lib.critical = 0;
        lib.threshold_level = 0;
        // A controller restarted after a crash finds the servo as it left it: still started, and
        // phase-aligned if it was (the first status query puts one without samples for too long
        // into holdover).
        if (servo_store_used()) {
            (void)ptp_platform_servo_store_load(&lib.servo);
        }
    }
    lib.servo_initialised = true;
    out->servo_started = lib.servo.running ? 1 : 0;
    out->servo_synced = lib.servo.status == PTP_SERVO_PHASE_ALIGNED ? 1 : 0;
    out->status_fn = servo_status_real;
    out->offset_threshold_set_fn = offset_threshold_set;
    return 0;
}

zerrno ptp_platform_servo_start(const ptp_platform_servo_start_in_type *in, ptp_platform_servo_start_info_type *out)
{
    record(ptp_platform_test_op::SERVO_START);
    if (in == nullptr || out == nullptr) {
        return PTP_PLATFORM_ERR_INVALID;
    }
    lib.recorded.servo_start = *in;
    if (const zerrno rc = scripted_result(ptp_platform_test_op::SERVO_START); rc != 0) {
        return rc;
    }
    if (lib.scripted) {
        return 0;
    }
    if (!lib.servo_initialised) {
        return PTP_PLATFORM_ERR_NOT_INIT;
    }
    ptp_servo_result_type result{};
    ptp_servo_start(&lib.servo, in->sync_rate, &result);
    lib.threshold_level = 0;
    apply_result(result);
    servo_store_save();
    return 0;
}

zerrno ptp_platform_servo_stop(const ptp_platform_servo_stop_in_type *in, ptp_platform_servo_stop_info_type *out)
{
    record(ptp_platform_test_op::SERVO_STOP);
    if (in == nullptr || out == nullptr) {
        return PTP_PLATFORM_ERR_INVALID;
    }
    if (const zerrno rc = scripted_result(ptp_platform_test_op::SERVO_STOP); rc != 0) {
        return rc;
    }
    if (lib.scripted) {
        return 0;
    }
    if (!lib.servo_initialised) {
        return PTP_PLATFORM_ERR_NOT_INIT;
    }
    ptp_servo_result_type result{};
    ptp_servo_stop(&lib.servo, &result);
    apply_result(result);
    servo_store_save();
    return 0;
}

zerrno ptp_platform_servo_time_update(const ptp_platform_servo_time_update_in_type *in,
                                      ptp_platform_servo_time_update_info_type *out)
{
    record(ptp_platform_test_op::SERVO_TIME_UPDATE);
    if (in == nullptr || out == nullptr) {
        return PTP_PLATFORM_ERR_INVALID;
    }
    keep(&lib.recorded.time_updates, *in);
    if (const zerrno rc = scripted_result(ptp_platform_test_op::SERVO_TIME_UPDATE); rc != 0) {
        return rc;
    }
    if (lib.scripted) {
        return 0;
    }
    if (!lib.servo_initialised) {
        return PTP_PLATFORM_ERR_NOT_INIT;
    }
    if (!lib.servo.running) {
        return PTP_PLATFORM_ERR_NOT_RUNNING;
    }
    uint32_t message = 0;
    std::memcpy(&message, in->entry, sizeof message);
    const ptp_servo_timestamp_type master = timestamp_from(in->entry + 4);
    const ptp_servo_timestamp_type local = timestamp_from(in->entry + 14);
    ptp_servo_result_type result{};
    switch (message) {
    case PTP_PLATFORM_TIME_ENTRY_SYNC: ptp_servo_sync(&lib.servo, master, local, plat_clock_mono_ns(), &result); break;
    case PTP_PLATFORM_TIME_ENTRY_DELAY_RESP:
        ptp_servo_delay(&lib.servo, master, local, plat_clock_mono_ns(), &result);
        break;
    default: return PTP_PLATFORM_ERR_INVALID;
    }
    apply_result(result);
    servo_store_save();
    return 0;
}

void ptp_platform_servo_shutdown(void)
{
    record(ptp_platform_test_op::SERVO_SHUTDOWN);
    lib.servo_initialised = false;
    lib.servo_cbs = {};
    if (!lib.scripted) {
        ptp_servo_init(&lib.servo, lib.servo_config);
        detach_context_if_unused();
    }
}

// ---- Clock ------------------------------------------------------------------------------------

zerrno ptp_platform_clock_init(const ptp_platform_clock_init_in_type *in, ptp_platform_clock_init_info_type *out)
{
    record(ptp_platform_test_op::CLOCK_INIT);
    if (in == nullptr || out == nullptr) {
        return PTP_PLATFORM_ERR_INVALID;
    }
    lib.recorded.clock_init = *in;
    if (const zerrno rc = scripted_result(ptp_platform_test_op::CLOCK_INIT); rc != 0) {
        return rc;
    }
    lib.clock_cbs = *in;
    if (lib.scripted) {
        *out = lib.script.clock_init;
        lib.clock_initialised = true;
        return 0;
    }
    if (clock_ops() == nullptr) {
        return PTP_PLATFORM_ERR_NO_CLOCK;
    }
    if (const zerrno rc = attach_context(in->context); rc != 0) {
        return rc;
    }
    lib.desc = node_clock_desc();
    lib.clock_initialised = true;
    lib.slave = in->slave;
    lib.best_source = PTP_PLATFORM_BEST_SOURCE_FOREIGN_MASTER;
    const bool follow = in->slave.gm_available != 0;
    lib.using_frequency = follow && in->slave.has_frequency != 0 ? 1 : 0;
    lib.using_time = follow && in->slave.has_time != 0 ? 1 : 0;
    out->version = PTP_PLATFORM_CLOCK_API_VERSION;
    clock_info_fill(&out->clock);
    return 0;
}

zerrno ptp_platform_clock_slave_update(const ptp_platform_clock_slave_update_in_type *in,
                                       ptp_platform_clock_slave_update_info_type *out)
{
    record(ptp_platform_test_op::CLOCK_SLAVE_UPDATE);
    if (in == nullptr || out == nullptr) {
        return PTP_PLATFORM_ERR_INVALID;
    }
    lib.recorded.slave_update = *in;
    if (const zerrno rc = scripted_result(ptp_platform_test_op::CLOCK_SLAVE_UPDATE); rc != 0) {
        return rc;
    }
    if (lib.scripted) {
        return 0;
    }
    if (!lib.clock_initialised) {
        return PTP_PLATFORM_ERR_NOT_INIT;
    }
    lib.slave = in->slave;
    lib.best_source = in->best_source;
    apply_using(in->slave.gm_available, in->slave.has_frequency, in->slave.has_time, in->best_source);
    return 0;
}

zerrno ptp_platform_clock_leap_second_update(const ptp_platform_clock_leap_second_update_in_type *in,
                                             ptp_platform_clock_leap_second_update_info_type *out)
{
    record(ptp_platform_test_op::CLOCK_LEAP_SECOND_UPDATE);
    if (in == nullptr || out == nullptr) {
        return PTP_PLATFORM_ERR_INVALID;
    }
    lib.recorded.leap_second_update = *in;
    if (const zerrno rc = scripted_result(ptp_platform_test_op::CLOCK_LEAP_SECOND_UPDATE); rc != 0) {
        return rc;
    }
    return lib.scripted || lib.clock_initialised ? 0 : PTP_PLATFORM_ERR_NOT_INIT;
}

zerrno ptp_platform_clock_transparent_clock_update(const ptp_platform_clock_transparent_clock_update_in_type *in,
                                                   ptp_platform_clock_transparent_clock_update_info_type *out)
{
    record(ptp_platform_test_op::CLOCK_TRANSPARENT_CLOCK_UPDATE);
    if (in == nullptr || out == nullptr) {
        return PTP_PLATFORM_ERR_INVALID;
    }
    lib.recorded.transparent_clock_update = *in;
    return scripted_result(ptp_platform_test_op::CLOCK_TRANSPARENT_CLOCK_UPDATE);
}

zerrno ptp_platform_clock_settings_update(const ptp_platform_clock_settings_update_in_type *in,
                                          ptp_platform_clock_settings_update_info_type *out)
{
    record(ptp_platform_test_op::CLOCK_SETTINGS_UPDATE);
    if (in == nullptr || out == nullptr) {
        return PTP_PLATFORM_ERR_INVALID;
    }
    lib.recorded.settings_update = *in;
    if (const zerrno rc = scripted_result(ptp_platform_test_op::CLOCK_SETTINGS_UPDATE); rc != 0) {
        return rc;
    }
    return lib.scripted || lib.clock_initialised ? 0 : PTP_PLATFORM_ERR_NOT_INIT;
}

zerrno ptp_platform_clock_get_current_timestamp(const ptp_platform_clock_get_current_timestamp_in_type *in,
                                                ptp_platform_clock_get_current_timestamp_info_type *out)
{
    record(ptp_platform_test_op::CLOCK_GET_CURRENT_TIMESTAMP);
    if (in == nullptr || out == nullptr) {
        return PTP_PLATFORM_ERR_INVALID;
    }
    if (const zerrno rc = scripted_result(ptp_platform_test_op::CLOCK_GET_CURRENT_TIMESTAMP); rc != 0) {
        return rc;
    }
    if (lib.scripted) {
        std::memcpy(out->timestamp, lib.script.timestamp, sizeof out->timestamp);
        return 0;
    }
    const ptp_platform_clock_ops_type *ops = clock_ops();
    ptp_servo_timestamp_type now{};
    if (ops == nullptr || !ops->now(&now)) {
        return PTP_PLATFORM_ERR_NO_CLOCK;
    }
    for (int i = 0; i < 6; i++) {
        out->timestamp[i] = static_cast<uint8_t>(now.seconds >> (40 - 8 * i));
    }
    for (int i = 0; i < 4; i++) {
        out->timestamp[6 + i] = static_cast<uint8_t>(now.nanoseconds >> (24 - 8 * i));
    }
    return 0;
}

void ptp_platform_clock_shutdown(void)
{
    record(ptp_platform_test_op::CLOCK_SHUTDOWN);
    lib.clock_initialised = false;
    lib.clock_cbs = {};
    lib.using_frequency = 0;
    lib.using_time = 0;
    if (!lib.scripted) {
        detach_context_if_unused();
    }
}

// ---- Test control -----------------------------------------------------------------------------

const char *ptp_platform_test_op_name(ptp_platform_test_op op)
{
    return static_cast<size_t>(op) < std::size(op_names) ? op_names[static_cast<size_t>(op)] : "unknown";
}

void ptp_platform_test_reset()
{
    if (lib.evm != nullptr) {
        event_async_attach(lib.evm, lib.async_code, nullptr, nullptr);
    }
    lib = library_type{};
    ptp_servo_init(&lib.servo, lib.servo_config);
    ptp_platform_node_clock_reset();
    ptp_platform_servo_store_forget(false);
}

void ptp_platform_test_restart_process()
{
    if (lib.evm != nullptr) {
        event_async_attach(lib.evm, lib.async_code, nullptr, nullptr);
    }
    const library_type before = lib;
    lib = library_type{};
    lib.ops = before.ops;
    lib.store_in_tests = before.store_in_tests;
    lib.servo_config = before.servo_config;
    ptp_servo_init(&lib.servo, lib.servo_config);
    ptp_platform_node_clock_reset();
}

void ptp_platform_test_set_servo_store(bool keep)
{
    lib.store_in_tests = keep;
    if (keep) {
        // A servo an earlier run of the test left there is not this test's.
        ptp_platform_servo_store_forget(true);
    }
}

void ptp_platform_test_set_scripted(bool scripted)
{
    lib.scripted = scripted;
}

std::vector<std::string> ptp_platform_test_calls()
{
    return {lib.recorded.calls.begin(), lib.recorded.calls.end()};
}

void ptp_platform_test_calls_clear()
{
    lib.recorded.calls.clear();
}

uint32_t ptp_platform_test_call_count(ptp_platform_test_op op)
{
    return static_cast<size_t>(op) < std::size(op_names) ? lib.recorded.counts[static_cast<size_t>(op)] : 0;
}

ptp_platform_capability_init_in_type ptp_platform_test_last_capability_init()
{
    return lib.recorded.capability_init;
}
ptp_platform_servo_init_in_type ptp_platform_test_last_servo_init()
{
    return lib.recorded.servo_init;
}
ptp_platform_servo_start_in_type ptp_platform_test_last_servo_start()
{
    return lib.recorded.servo_start;
}
ptp_platform_clock_init_in_type ptp_platform_test_last_clock_init()
{
    return lib.recorded.clock_init;
}
ptp_platform_clock_slave_update_in_type ptp_platform_test_last_slave_update()
{
    return lib.recorded.slave_update;
}
ptp_platform_clock_leap_second_update_in_type ptp_platform_test_last_leap_second_update()
{
    return lib.recorded.leap_second_update;
}
ptp_platform_clock_transparent_clock_update_in_type ptp_platform_test_last_transparent_clock_update()
{
    return lib.recorded.transparent_clock_update;
}
ptp_platform_clock_settings_update_in_type ptp_platform_test_last_settings_update()
{
    return lib.recorded.settings_update;
}
void ptp_platform_test_last_thresholds(int64_t *warning, int64_t *critical)
{
    *warning = lib.recorded.warning;
    *critical = lib.recorded.critical;
}
std::vector<ptp_platform_servo_time_update_in_type> ptp_platform_test_time_updates()
{
    return {lib.recorded.time_updates.begin(), lib.recorded.time_updates.end()};
}

void ptp_platform_test_set_result(ptp_platform_test_op op, zerrno code)
{
    if (static_cast<size_t>(op) < std::size(op_names)) {
        lib.script.results[static_cast<size_t>(op)] = code;
    }
}

void ptp_platform_test_set_capability(uint32_t version, const ptp_platform_capability_info_type &info)
{
    lib.script.capability_version = version;
    lib.script.capability = info;
}

void ptp_platform_test_set_servo_init(uint32_t started, uint32_t synced, bool status_fn, bool threshold_fn)
{
    lib.script.servo_init.servo_started = started;
    lib.script.servo_init.servo_synced = synced;
    lib.script.status_fn = status_fn;
    lib.script.threshold_fn = threshold_fn;
}

void ptp_platform_test_set_clock_init(const ptp_platform_clock_init_info_type &info)
{
    lib.script.clock_init = info;
}

void ptp_platform_test_set_status(const ptp_platform_servo_status_info_type &status)
{
    lib.script.status = status;
}

void ptp_platform_test_set_current_offset(int64_t offset)
{
    lib.script.current_offset = offset;
}

void ptp_platform_test_set_timestamp(const uint8_t timestamp[PTP_PLATFORM_TIMESTAMP_LEN])
{
    std::memcpy(lib.script.timestamp, timestamp, PTP_PLATFORM_TIMESTAMP_LEN);
}

void ptp_platform_test_fire_servo_sync()
{
    if (lib.servo_cbs.servo_sync_cb != nullptr) {
        lib.servo_cbs.servo_sync_cb();
    }
}

void ptp_platform_test_fire_servo_fault()
{
    if (lib.servo_cbs.servo_fault_cb != nullptr) {
        lib.servo_cbs.servo_fault_cb();
    }
}

void ptp_platform_test_fire_clock_state(uint32_t status)
{
    if (lib.servo_cbs.clock_state_cb != nullptr) {
        lib.servo_cbs.clock_state_cb(status);
    }
}

void ptp_platform_test_fire_offset_threshold(int64_t offset, uint16_t sub_ns)
{
    if (lib.servo_cbs.offset_threshold_cb != nullptr) {
        const ptp_platform_offset_threshold_info_type info{offset, sub_ns};
        lib.servo_cbs.offset_threshold_cb(&info);
    }
}

void ptp_platform_test_fire_clock_update(const ptp_platform_clock_info_type &info)
{
    if (lib.clock_cbs.clock_update_cb != nullptr) {
        lib.clock_cbs.clock_update_cb(&info);
    }
}

void ptp_platform_test_fire_resync_request()
{
    if (lib.clock_cbs.resync_request_cb != nullptr) {
        lib.clock_cbs.resync_request_cb();
    }
}

void ptp_platform_test_set_clock_ops(const ptp_platform_clock_ops_type *ops)
{
    lib.ops = ops;
}

void ptp_platform_test_set_servo_config(const ptp_servo_config_type &config)
{
    lib.servo_config = config;
    ptp_servo_init(&lib.servo, config);
}

ptp_servo_type ptp_platform_test_servo()
{
    return lib.servo;
}
