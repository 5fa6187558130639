// Configuration intake: the agent's bindings and registrations with the configuration database,
// the per-item callbacks and what runs at the end of each batch.
#include "tessel_cfg.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "ptp_cfg_schema.h"
#include "ptp_cfg_utils.h"
#include "ptp_syslog.h"
#include "tessel_alloc.h"
#include "tessel_assert.h"
#include "tessel_batch.h"
#include "tessel_intf_caps.h"
#include "tessel_ipc_db.h"
#include "tessel_ipc_log.h"
#include "tessel_main.h"
#include "tessel_port_mgr.h"
#include "tessel_stats.h"
#include "tessel_thread_ctrl.h"

bool tessel_cfg_verify_batch_has_valid_item;
uint32_t tessel_cfg_if_enable_pending;
uint32_t tessel_cfg_apply_batch_state;
bool tessel_cfg_sweep_needed;
uint8_t tessel_cfg_default_clock_operation;
ptp_pd_verify_encap_fn ptp_pd_verify_encap;
// The apply batch parked because the agent is exiting, and the result it completes with.
const nodra_verify_event_info_td *tessel_cfg_shutdown_apply;
zerrno tessel_cfg_shutdown_apply_result;

// The platform's interface types that can run PTP, as its interface names begin: Ethernet of
// every speed (Fast, Gigabit, 10G, 25G and 200G, 40G and 400G, 50G, 100G), bundles, bridge-group
// virtual interfaces and the PTP interface types. A short form matches the long name too.
const char *const tessel_cfg_if_type_prefixes[] = {
    "Fa", "Gi", "Te", "TF", "Tw", "TH", "Fo", "FH", "Fi", "Hu", "Bundle-Ether", "BE", "BVI", "PTP", nullptr,
};

namespace {

constexpr uint32_t AREA = tessel_debug_area("config");
constexpr uint32_t NOT_REGISTERED = 0xFFFFFFFFu;
constexpr uint32_t BIND_MODE = 0;
// The database's option values, passed as they are.
constexpr uint32_t NOTIFY_EVENTS = 7;
constexpr uint32_t NOTIFY_OPTIONS = 2;
constexpr uint32_t VRFN_EVENTS = 7;
constexpr uint32_t VRFN_FLAGS = 0;
constexpr int32_t VRFN_ORDER_ENABLE = -1;
constexpr int32_t VRFN_ORDER_CONFIG = 0;
constexpr uint32_t VRFN_OPTIONS = 0x14;

constexpr const char *PLATVERIFY_LIBRARY = "libplatverify.dll";
constexpr const char *PLATVERIFY_ENV = "PTP_PLATVERIFY_LIB";

const char *const gl_patterns[] = {"ptp/pi/clock/profile", "ptp/pi/enable|min-clock-class|verify-checksum",
                                   "ptp/pi/profile/"};
constexpr uint32_t GL_PATTERN_COUNT = 3;

nodra_conn_td *gl_bind;
nodra_conn_td *if_bind;
nodra_conn_td *fsync_bind;
uint32_t gl_registrations[GL_PATTERN_COUNT] = {NOT_REGISTERED, NOT_REGISTERED, NOT_REGISTERED};
uint32_t if_enable_registration = NOT_REGISTERED;
uint32_t if_config_registration = NOT_REGISTERED;
uint32_t fsync_registration = NOT_REGISTERED;

void *platverify_handle;
ptp_pd_vrfn_init_fn ptp_pd_vrfn_init;
ptp_pd_vrfn_shutdown_fn ptp_pd_vrfn_shutdown;

// The database guard: the client library's presence is checked once.
bool library_checked;
bool library_present;

bool nodra_library_present()
{
    if (!library_checked) {
        library_present = access(nodra_client_library_path(), R_OK) == 0;
        library_checked = true;
    }
    return library_present;
}

zerrno guarded_bind(nodra_conn_td **conn, const char *path)
{
    if (!nodra_library_present()) {
        return NODRA_ERR_BIND_NO_LIBRARY;
    }
    const zerrno rc = nodra_bind(conn, path, BIND_MODE);
    if (rc != 0) {
        *conn = nullptr;
    }
    return rc;
}

void guarded_unbind(nodra_conn_td **conn)
{
    if (*conn != nullptr && nodra_library_present()) {
        nodra_unbind(*conn);
    }
    *conn = nullptr;
}

zerrno register_notification(nodra_conn_td *conn, const char *pattern, nodra_notify_fn callback, event_mgr_type *evm,
                             void *context, const void *parse_data, uint32_t *registration)
{
    if (!nodra_library_present()) {
        return NODRA_ERR_NFN_NO_LIBRARY;
    }
    return nodra_register_notification(conn, pattern, NOTIFY_EVENTS, NOTIFY_OPTIONS, callback, evm, context, parse_data,
                                       0, registration);
}

void unregister_notification(uint32_t *registration)
{
    if (*registration != NOT_REGISTERED) {
        nodra_notification_unregister(*registration);
        *registration = NOT_REGISTERED;
    }
}

void unregister_verification(uint32_t *registration)
{
    if (*registration != NOT_REGISTERED) {
        nodra_verification_unregister(*registration);
        *registration = NOT_REGISTERED;
    }
}

zerrno init_failed(const char *prefix, zerrno rc)
{
    ptp_syslog_init_failed(prefix, zerr_strerror(rc));
    return rc;
}

zerrno register_verification(event_mgr_type *evm, const char *path, int32_t order, uint32_t *registration,
                             const char *register_failure)
{
    nodra_vrfn_fns_td fns{};
    zerrno rc = nodra_vrfn_fns_init(&fns);
    if (rc == 0) {
        rc = nodra_vrfn_fns_verify_init(&fns, tessel_cfg_verify);
    }
    if (rc == 0) {
        rc = nodra_vrfn_fns_apply_init(&fns, tessel_cfg_apply);
    }
    if (rc != 0) {
        return init_failed("Failed to initialize Nodra verification functions: ", rc);
    }
    const char *paths[] = {path};
    rc = nodra_register_verification4(if_bind, paths, 1, VRFN_EVENTS, &fns, evm, VRFN_FLAGS, order, VRFN_OPTIONS,
                                      registration);
    if (rc != 0) {
        *registration = NOT_REGISTERED;
        return init_failed(register_failure, rc);
    }
    return 0;
}

void platverify_load()
{
    const char *env = getenv(PLATVERIFY_ENV);
    const char *name = env != nullptr && env[0] != '\0' ? env : PLATVERIFY_LIBRARY;
    platverify_handle = dlopen(name, RTLD_NOW);
    if (platverify_handle == nullptr) {
        ptp_trace<PTP_TRACE_TESSEL_CFG_PLATVERIFY_MISSING>({tessel_ipc_det()});
        return;
    }
    ptp_trace<PTP_TRACE_TESSEL_CFG_PLATVERIFY_LOADED>({tessel_ipc_det()});
    ptp_pd_vrfn_init = reinterpret_cast<ptp_pd_vrfn_init_fn>(dlsym(platverify_handle, "ptp_pd_vrfn_init"));
    ptp_pd_vrfn_shutdown = reinterpret_cast<ptp_pd_vrfn_shutdown_fn>(dlsym(platverify_handle, "ptp_pd_vrfn_shutdown"));
    ptp_pd_verify_encap = reinterpret_cast<ptp_pd_verify_encap_fn>(dlsym(platverify_handle, "ptp_pd_verify_encap"));
}

bool is_last(const nodra_event_info_td *event)
{
    return event->index == event->count;
}

// ---- End-of-apply sweep ----

struct sweep_context_type {
    tessel_batch_info_type *batch;
};

bool sweep_collect(tessel_ipc_idb_type *idb, void *context)
{
    auto *batch = static_cast<sweep_context_type *>(context)->batch;
    const bool empty = (idb->flags & TESSEL_IPC_FLAG_ENABLED) == 0 &&
                       (idb->if_config_flags & TESSEL_CFG_IF_ITEM_MASK) == 0 && idb->profile_db == nullptr &&
                       tessel_master_db_count(&idb->if_config.master_table) == 0 &&
                       tessel_slave_db_count(&idb->if_config.slave_table) == 0;
    if (empty) {
        auto **slot = static_cast<tessel_ipc_idb_type **>(tessel_batch_get_next_free_element(batch));
        // A record that cannot be queued now stays for a later sweep.
        if (slot != nullptr) {
            *slot = idb;
        }
    }
    return true;
}

void sweep_empty_records()
{
    tessel_batch_info_type batch{};
    tessel_batch_init(&batch, sizeof(tessel_ipc_idb_type *), "IPC DB sweep batch");
    sweep_context_type context{&batch};
    tessel_ipc_db_walk(sweep_collect, &context, nullptr, false);
    auto **records = static_cast<tessel_ipc_idb_type **>(tessel_batch_get_elements(&batch));
    const uint32_t count = tessel_batch_get_count(&batch);
    for (uint32_t i = 0; i < count; i++) {
        tessel_cfg_if_release_config(records[i]);
        tessel_ipc_db_delete(records[i]);
    }
    tessel_batch_finish(&batch);
    tessel_cfg_sweep_needed = false;
}

bool release_walker(tessel_ipc_idb_type *idb, void *)
{
    tessel_cfg_if_release_config(idb);
    return true;
}

} // namespace

zerrno tessel_cfg_init(event_mgr_type *evm)
{
    // Two-step is the default unless the platform offers one-step only.
    const bool one_step = tessel_intf_caps_supports_one_step();
    const bool two_step = tessel_intf_caps_supports_two_step();
    if (one_step && !two_step) {
        tessel_cfg_default_clock_operation = 1;
    } else if (two_step && !one_step) {
        tessel_cfg_default_clock_operation = 0;
    }

    if (tessel_cfg_prf_db_init() != 0) {
        TESSEL_IPC_DEBUG_ERR(AREA, "%s: [ERROR] Failed to initialise the Profile DB tree");
        return PTP_ZERR_DB_INIT;
    }

    zerrno rc = guarded_bind(&gl_bind, "/cfg/gl/");
    if (rc != 0) {
        return init_failed("Failed to bind to global Nodra bindpoint: ", rc);
    }
    for (uint32_t i = 0; i < GL_PATTERN_COUNT; i++) {
        rc = register_notification(gl_bind, gl_patterns[i], tessel_cfg_gl_notify, evm, evm, nullptr,
                                   &gl_registrations[i]);
        if (rc != 0) {
            gl_registrations[i] = NOT_REGISTERED;
            return init_failed("Failed to register for notification of global configuration: ", rc);
        }
    }

    rc = guarded_bind(&if_bind, "/cfg/if/act/");
    if (rc != 0) {
        return init_failed("Failed to bind to interface  Nodra bindpoint: ", rc);
    }
    rc = register_verification(evm, ".*/ptp/pi/enable", VRFN_ORDER_ENABLE, &if_enable_registration,
                               "Failed to register for verification of interface enable item: ");
    if (rc != 0) {
        return rc;
    }
    rc = register_verification(evm, ".*/ptp/pi/", VRFN_ORDER_CONFIG, &if_config_registration,
                               "Failed to register for verification of interface configuration: ");
    if (rc != 0) {
        return rc;
    }

    rc = guarded_bind(&fsync_bind, "/cfg/gl/freqsync/");
    if (rc != 0) {
        return init_failed("Failed to bind to FSync global Nodra bindpoint: ", rc);
    }
    rc = register_notification(fsync_bind, "g/f/ql-option", backend_notification, evm, nullptr, &tessel_cfg_gl_schema,
                               &fsync_registration);
    if (rc != 0) {
        fsync_registration = NOT_REGISTERED;
        return init_failed("Failed to register for notification of FSync GL QL option config: ", rc);
    }

    platverify_load();
    if (ptp_pd_vrfn_init != nullptr) {
        return ptp_pd_vrfn_init(evm);
    }
    return 0;
}

void tessel_cfg_shutdown(void)
{
    tessel_cfg_apply_batch_state = 0;
    tessel_cfg_sweep_needed = false;
    tessel_cfg_verify_batch_has_valid_item = false;
    if (tessel_cfg_shutdown_apply != nullptr) {
        nodra_resume_apply(tessel_cfg_shutdown_apply, tessel_cfg_shutdown_apply_result);
        tessel_cfg_shutdown_apply = nullptr;
    }
    for (uint32_t &registration : gl_registrations) {
        unregister_notification(&registration);
    }
    guarded_unbind(&gl_bind);
    unregister_verification(&if_enable_registration);
    unregister_verification(&if_config_registration);
    guarded_unbind(&if_bind);
    unregister_notification(&fsync_registration);
    guarded_unbind(&fsync_bind);
    // Records still configured (a termination signal) leave their profiles and free their
    // tables first: profiles go only once no interface uses them.
    tessel_ipc_db_walk(release_walker, nullptr, nullptr, false);
    tessel_cfg_if_enable_count = 0;
    tessel_cfg_if_enable_pending = 0;
    tessel_cfg_prf_db_destroy();
    if (ptp_pd_vrfn_shutdown != nullptr) {
        ptp_pd_vrfn_shutdown();
    }
    if (platverify_handle != nullptr) {
        dlclose(platverify_handle);
        platverify_handle = nullptr;
    }
    ptp_pd_vrfn_init = nullptr;
    ptp_pd_vrfn_shutdown = nullptr;
    ptp_pd_verify_encap = nullptr;
    library_checked = false;
}

zerrno tessel_cfg_gl_notify(const nodra_notify_event_info_td *event, void *, const void *)
{
    tessel_stats_increment_node_event_counter(TESSEL_NODE_EVENT_NOTIFY_BATCH_RECEIVED);
    zerrno result = 0;
    zerrno rc = backend_notify(&tessel_cfg_gl_schema, event, &result);
    if (rc == 0) {
        rc = result;
    }
    if (rc != 0) {
        TESSEL_IPC_DEBUG_ERR(AREA, "%s: [ERROR] %s: Notify batch item failed: %s", event->path, zerr_strerror(rc));
        ptp_trace<PTP_TRACE_TESSEL_CFG_NOTIFY_ITEM_FAILED>({tessel_ipc_det(), tessel_ipc_unq()}, event->path, rc);
    }
    if (is_last(event)) {
        tessel_ipc_if_update_flush();
    }
    return 0;
}

namespace {

// Whether the interface name that begins an item's path is longer than an interface record holds.
bool name_too_long(const char *path)
{
    const char *end = path != nullptr ? strstr(path, "/ptp/") : nullptr;
    return end != nullptr && static_cast<size_t>(end - path) >= TESSEL_CFG_IFNAME_SIZE;
}

} // namespace

zerrno tessel_cfg_verify(const nodra_verify_event_info_td *event, char **error_text, nodra_verify_result_td *result,
                         void *context)
{
    tessel_stats_increment_node_event_counter(TESSEL_NODE_EVENT_VERIFY_BATCH_RECEIVED);
    if (event->index == 1) {
        TESSEL_IPC_DEBUG(AREA, "%s: Received verify batch of %u items [%s], sequence number %u", event->count,
                         event->path, event->sequence);
        ptp_trace<PTP_TRACE_TESSEL_CFG_VERIFY_BATCH>({tessel_ipc_sum()}, event->count, event->sequence);
        tessel_cfg_verify_batch_has_valid_item = false;
    }
    const zerrno rc = backend_verifyonly(&tessel_cfg_if_schema, event, error_text, result, context);
    if (rc == PTP_ZERR_CFG_INTERFACE_NAME && error_text != nullptr && name_too_long(event->path)) {
        // A name no interface record can hold is refused whichever item it names: the reason is
        // the name's own text, not the item's.
        char *text = strdup(zerr_strerror(rc));
        if (text != nullptr) {
            free(*error_text);
            *error_text = text;
        }
    }
    if (rc != 0) {
        TESSEL_IPC_DEBUG_ERR(AREA, "%s: [ERROR] %s: Verify batch item failed: %s", event->path, zerr_strerror(rc));
        ptp_trace<PTP_TRACE_TESSEL_CFG_VERIFY_ITEM_FAILED>({tessel_ipc_det(), tessel_ipc_unq()}, event->path, rc);
    }
    if (is_last(event)) {
        if (!tessel_cfg_verify_batch_has_valid_item) {
            tessel_cfg_check_exit(event->sequence);
        }
        tessel_cfg_if_enable_pending = 0;
    }
    return rc;
}

zerrno tessel_cfg_apply(const nodra_verify_event_info_td *event, void *)
{
    tessel_stats_increment_node_event_counter(TESSEL_NODE_EVENT_APPLY_BATCH_RECEIVED);
    if (event->index == 1) {
        tessel_cfg_apply_batch_state = 0;
    }
    const zerrno rc = backend_apply(&tessel_cfg_if_schema, event, &tessel_cfg_apply_batch_state);
    if (rc != 0) {
        TESSEL_IPC_DEBUG_ERR(AREA, "%s: [ERROR] %s: Apply batch item failed: %s", event->path, zerr_strerror(rc));
        ptp_trace<PTP_TRACE_TESSEL_CFG_APPLY_ITEM_FAILED>({tessel_ipc_det(), tessel_ipc_unq()}, event->path, rc);
    }
    if (!is_last(event)) {
        return rc;
    }
    tessel_ipc_if_update_flush();
    if (tessel_cfg_sweep_needed) {
        sweep_empty_records();
    }
    if (tessel_cfg_check_exit(event->sequence)) {
        TESSEL_ASSERT(tessel_cfg_shutdown_apply == nullptr);
        tessel_cfg_shutdown_apply = event;
        tessel_cfg_shutdown_apply_result = rc;
        return NODRA_ERR_APPLY_PENDING;
    }
    return rc;
}

bool tessel_cfg_check_exit(uint32_t sequence)
{
    TESSEL_IPC_DEBUG(AREA, "%s: Checking whether to exit");
    if (tessel_ipc_db_get_count() > 0) {
        return false;
    }
    bool follows = false;
    const zerrno rc = nodra_verification_batch_follows(sequence, &follows);
    if (rc != 0) {
        ptp_syslog_shutdown_check_failed(zerr_strerror(rc));
        ptp_trace<PTP_TRACE_TESSEL_CFG_EXIT_CHECK_FAILED>({tessel_ipc_det(), tessel_ipc_unq()}, rc);
        return false;
    }
    if (follows) {
        TESSEL_IPC_DEBUG(AREA, "%s: Batch follows for sequence %u. Not exiting", sequence);
        return false;
    }
    tessel_main_request_exit();
    TESSEL_IPC_DEBUG(AREA, "%s: Exiting");
    return true;
}

zerrno tessel_cfg_if_type_is_supported(const bgen_args_td *args, char *ifname)
{
    ifname[0] = '\0';
    const bgen_arg_td *key = bgen_args_get(args, PTP_CFG_KEY_NAME, BGEN_ARG_STRING);
    if (key == nullptr || key->text == nullptr) {
        return PTP_ZERR_CFG_ARGUMENT;
    }
    // The interface databases hold names of at most 63 characters; a longer one would be
    // mistaken for another interface.
    const size_t length = strnlen(key->text, TESSEL_CFG_IFNAME_SIZE);
    if (length >= TESSEL_CFG_IFNAME_SIZE) {
        return PTP_ZERR_CFG_INTERFACE_NAME;
    }
    for (const char *const *prefix = tessel_cfg_if_type_prefixes; *prefix != nullptr; prefix++) {
        if (strncmp(key->text, *prefix, strlen(*prefix)) == 0) {
            memcpy(ifname, key->text, length + 1);
            return 0;
        }
    }
    return PTP_ZERR_CFG_INTERFACE_NAME;
}

void tessel_cfg_interop_merge(tessel_interop_config_type *target, const tessel_interop_config_type *source)
{
    const uint16_t set = source->presence;
    if ((set & TESSEL_INTEROP_PROFILE) != 0) {
        target->profile = source->profile;
    }
    if ((set & TESSEL_INTEROP_DOMAIN) != 0) {
        target->domain = source->domain;
    }
    struct half_type {
        tessel_interop_half_config_type *to;
        const tessel_interop_half_config_type *from;
        unsigned shift;
    } const halves[] = {{&target->ingress, &source->ingress, 0},
                        {&target->egress, &source->egress, TESSEL_INTEROP_EGRESS_SHIFT}};
    for (const half_type &h : halves) {
        auto has = [&](uint16_t ingress_bit) { return (set & (ingress_bit << h.shift)) != 0; };
        if (has(TESSEL_INTEROP_INGRESS_PRIORITY1)) {
            h.to->priority1 = h.from->priority1;
        }
        if (has(TESSEL_INTEROP_INGRESS_PRIORITY2)) {
            h.to->priority2 = h.from->priority2;
        }
        if (has(TESSEL_INTEROP_INGRESS_CLOCK_ACCURACY)) {
            h.to->clock_accuracy = h.from->clock_accuracy;
        }
        if (has(TESSEL_INTEROP_INGRESS_OSLV)) {
            h.to->oslv = h.from->oslv;
        }
        if (has(TESSEL_INTEROP_INGRESS_CLOCK_CLASS_DEFAULT)) {
            h.to->clock_class_default = h.from->clock_class_default;
        }
        if (has(TESSEL_INTEROP_INGRESS_CLOCK_CLASS_MAPPING)) {
            for (size_t i = 0; i < TESSEL_INTEROP_CLOCK_CLASS_COUNT; i++) {
                if (h.from->clock_class_mapping[i].present != 0) {
                    h.to->clock_class_mapping[i] = {1, h.from->clock_class_mapping[i].clock_class};
                }
            }
        }
    }
    target->presence = static_cast<uint16_t>(target->presence | set);
}

// ---- The interface schema ----

namespace {

// An interface's items below its "ptp/pi/": its own enable and profile, then the items it shares
// with a profile; a row's verify and apply functions are the item's.
constexpr const char *IF = "ptp/pi/";
constexpr uint32_t SINGLE = BACKEND_VALUE_SINGLE;
constexpr uint32_t NAME = BACKEND_VALUE_NAME;
#define IF_ROW_(item)                                                                                                  \
    {                                                                                                                  \
        .verify = tessel_cfg_if_verify_##item, .apply = tessel_cfg_if_apply_##item                                     \
    }
// The tables' presence items carry a number here: the agent reads their value.
#define IF_ROW_SINGLE_(item)                                                                                           \
    {                                                                                                                  \
        .kind = SINGLE, .verify = tessel_cfg_if_verify_##item, .apply = tessel_cfg_if_apply_##item                     \
    }
// clang-format off
constexpr auto if_items_own = std::to_array<backend_item_td>({
    {"ptp/pi/enable", {.kind = SINGLE, .verify = tessel_cfg_if_verify_enable, .apply = tessel_cfg_if_apply_enable}},
    {"ptp/pi/profile", {.kind = NAME, .verify = tessel_cfg_if_verify_profile, .apply = tessel_cfg_if_apply_profile}},
});
constexpr ptp_cfg_profile_rows_td if_profile_rows{
    .transport = IF_ROW_(transport),
    .clock_operation = IF_ROW_(clock_operation),
    .annce_ivl = IF_ROW_(annce_ivl),
    .sync_ivl = IF_ROW_(sync_ivl),
    .annce_tout = IF_ROW_(annce_tout),
    .dr_min_ivl = IF_ROW_(dr_min_ivl),
    .multicast = IF_ROW_(multicast),
    .port_state = IF_ROW_(port_state),
    .source_ip = IF_ROW_(source_ip),
    .source_ipv6 = IF_ROW_(source_ipv6),
    .cos = IF_ROW_(cos),
    .dscp = IF_ROW_(dscp),
    .ipv4_ttl = IF_ROW_(ipv4_ttl),
    .ipv6_hop_limit = IF_ROW_(ipv6_hop_limit),
    .unicast_grant_duration = IF_ROW_(unicast_grant_duration),
    .message_timeout = IF_ROW_(message_timeout),
    .unicast_grant_invalid_request = IF_ROW_(unicast_grant_invalid_request),
    .local_priority = IF_ROW_(local_priority),
    .delay_asymmetry = IF_ROW_(delay_asymmetry),
};
constexpr ptp_cfg_table_rows_td if_table_rows{
    .master_enable = IF_ROW_SINGLE_(master_enable),
    .master_priority = IF_ROW_(master_priority),
    .master_multicast = IF_ROW_(master_multicast),
    .master_clock_class = IF_ROW_(master_clock_class),
    .master_delay_asymmetry = IF_ROW_(master_delay_asymmetry),
    .master_nonnegotiated = IF_ROW_SINGLE_(master_nonnegotiated),
    .slave_nonnegotiated = IF_ROW_SINGLE_(slave_nonnegotiated),
};
constexpr ptp_cfg_interop_rows_td if_interop_rows{
    .profile = IF_ROW_(interop_profile),
    .domain = IF_ROW_(interop_domain),
    .priority = IF_ROW_(interop_priority),
    .clock_accuracy = IF_ROW_(interop_clock_accuracy),
    .oslv = IF_ROW_(interop_oslv),
    .clock_class_default = IF_ROW_(interop_clock_class_default),
    .clock_class_mapping = IF_ROW_(interop_clock_class_mapping),
};
constexpr auto if_items = backend_items_join(
    if_items_own,
    ptp_cfg_profile_items(IF, if_profile_rows, false),
    ptp_cfg_table_items(IF, if_table_rows, false),
    ptp_cfg_interop_items(IF, if_interop_rows));
// clang-format on
#undef IF_ROW_
#undef IF_ROW_SINGLE_

// Below an unnamed root, as the interface's name comes first in the path.
using if_schema =
    backend_schema_of<if_items, backend_schema_options_td{.root = true, .flags = BACKEND_SCHEMA_NAME_PREFIX}>;
static_assert(if_schema::nodes.size() == 68 && if_schema::rows.size() == 49);

} // namespace

const backend_schema_td tessel_cfg_if_schema = if_schema::schema;
