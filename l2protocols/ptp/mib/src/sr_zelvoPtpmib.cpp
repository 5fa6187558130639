// The MIB plug-in's frame (load and unload, the database, the platform-dependent MIB library, the
// mutex, the 5-second caches and their timers, the per-node and per-interface reads) and its
// tables and columns.
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "avl2.h"
#include "bag.h"
#include "mgd_timer.h"
#include "nodra.h"
#include "ptp_bags.h"
#include "ptp_pd_mib.h"
#include "ptp_syslog.h"
#include "zelvoPtpmib.h"
#include "zerrno.h"

#ifdef ZELVO_PTP_MIB_V2
constexpr int ZPTP_MUTEX_LINE = 256;
#else
constexpr int ZPTP_MUTEX_LINE = 268;
#endif

// ---- identifiers, the column table and the object table ----

#define ZPTP_DEFINE_ID(object, getter, type, access, nominator, ...)                                                   \
    uint32_t ID##object[ZPTP_MIB_ROOT_LENGTH + std::initializer_list<uint32_t>{__VA_ARGS__}.size()] = {                \
        ZPTP_MIB_ROOT_ARCS, __VA_ARGS__};
ZPTP_COLUMNS(ZPTP_DEFINE_ID)
#undef ZPTP_DEFINE_ID
uint32_t IDzPtpClockPortClockInstanceIndex[14] = {ZPTP_MIB_ROOT_ARCS, 1, 2, 7, 1, 3};
uint32_t IDzelvoPtpMIB[ZPTP_MIB_ROOT_LENGTH] = {ZPTP_MIB_ROOT_ARCS};
#define ZPTP_NOTIFICATION_ID(n)                                                                                        \
    {                                                                                                                  \
        ZPTP_MIB_ROOT_ARCS, 0, n                                                                                       \
    }
uint32_t IDzelvoPtpNotification[ZPTP_NOTIFICATION_COUNT + 1][11] = {
    {},
    ZPTP_NOTIFICATION_ID(1),
    ZPTP_NOTIFICATION_ID(2),
    ZPTP_NOTIFICATION_ID(3),
    ZPTP_NOTIFICATION_ID(4),
    ZPTP_NOTIFICATION_ID(5),
    ZPTP_NOTIFICATION_ID(6),
    ZPTP_NOTIFICATION_ID(7),
    ZPTP_NOTIFICATION_ID(8),
    ZPTP_NOTIFICATION_ID(9),
    ZPTP_NOTIFICATION_ID(10),
    ZPTP_NOTIFICATION_ID(11),
    ZPTP_NOTIFICATION_ID(12),
    ZPTP_NOTIFICATION_ID(13),
    ZPTP_NOTIFICATION_ID(14),
    ZPTP_NOTIFICATION_ID(15),
    ZPTP_NOTIFICATION_ID(16),
    ZPTP_NOTIFICATION_ID(17),
};
#undef ZPTP_NOTIFICATION_ID

// Only the read-write scalar has a test of its own.
#define ZPTP_TEST_OF(access) ((access) == SNMP_READ_WRITE ? zelvoPtpMIBNotificationControl_test : readOnly_test)
#define ZPTP_DESCRIPTOR(object, getter, type, access, nominator, ...)                                                  \
    {{static_cast<int32_t>(std::size(ID##object)), ID##object},                                                        \
     type,                                                                                                             \
     access,                                                                                                           \
     nominator,                                                                                                        \
     0x20,                                                                                                             \
     getter,                                                                                                           \
     ZPTP_TEST_OF(access),                                                                                             \
     nullptr},
ObjectInfo zelvoPtpmib_OidList[] = {ZPTP_COLUMNS(ZPTP_DESCRIPTOR)};
#undef ZPTP_DESCRIPTOR
const uint32_t zelvoPtpmib_OidListNum = std::size(zelvoPtpmib_OidList);
static_assert(std::size(zelvoPtpmib_OidList) == 91);

#ifdef ZELVO_PTP_MIB_V2
#define ZPTP_ROOT_TEXT "1.3.6.1.4.1.47071.9.1052"
#define ZPTP_OID_ROW(entry, arcs)                                                                                      \
    {                                                                                                                  \
        "zPtpv2" entry, ZPTP_ROOT_TEXT "." arcs                                                                        \
    }
const snmp_oid_name_ct zelvoPtpmib_oid_table[] = {
    {"zelvoPtpMIBv2", ZPTP_ROOT_TEXT},
#else
#define ZPTP_ROOT_TEXT "1.3.6.1.4.1.47071.9.760"
#define ZPTP_OID_ROW(entry, arcs)                                                                                      \
    {                                                                                                                  \
        "zPtp" entry, ZPTP_ROOT_TEXT "." arcs                                                                          \
    }
const snmp_oid_name_ct zelvoPtpmib_oid_table[] = {
    {"zelvoPtpMIB", ZPTP_ROOT_TEXT},
#endif
    ZPTP_OID_ROW("SystemEntry", "1.1.1.1"),
    ZPTP_OID_ROW("SystemDomainEntry", "1.1.2.1"),
    ZPTP_OID_ROW("ClockNodeEntry", "1.1.3.1"),
    ZPTP_OID_ROW("ClockCurrentDSEntry", "1.2.1.1"),
    ZPTP_OID_ROW("ClockParentDSEntry", "1.2.2.1"),
    ZPTP_OID_ROW("ClockDefaultDSEntry", "1.2.3.1"),
    ZPTP_OID_ROW("ClockRunningEntry", "1.2.4.1"),
    ZPTP_OID_ROW("ClockTimePropertiesDSEntry", "1.2.5.1"),
    ZPTP_OID_ROW("ClockTransDefaultDSEntry", "1.2.6.1"),
    ZPTP_OID_ROW("ClockPortEntry", "1.2.7.1"),
    ZPTP_OID_ROW("ClockPortDSEntry", "1.2.8.1"),
    ZPTP_OID_ROW("ClockPortRunningEntry", "1.2.9.1"),
    ZPTP_OID_ROW("ClockPortTransDSEntry", "1.2.10.1"),
    ZPTP_OID_ROW("ClockPortAssociateEntry", "1.2.11.1"),
    {nullptr, nullptr},
};
#undef ZPTP_OID_ROW
static_assert(std::size(zelvoPtpmib_oid_table) == 16);

snmp_mib_debug_ct zelvoPtpmib_debug_flags = {ZPTP_MODULE_NAME, 0};
const uint32_t zelvoPtpmib_capabilities = 1;
const char *const zelvoPtpmib_trapstrings[] = {
    "ptp/clock-class",
    "ptp/clock-state",
    "ptp/time-source",
    "ptp/utc-offset-change",
    "ptp/offset-threshold-breach",
    "ptp/master-lost",
    "ptp/slave-lost",
    "ptp/all-slaves-lost",
    nullptr,
};

namespace {

// ---- constants ----

constexpr zerrno ZPTP_ERR_NO_MEMORY = 0xC7F28200;   // out of memory
constexpr zerrno ZPTP_ERR_INVALID_ARG = 0x47F28400; // invalid argument
constexpr zerrno ZPTP_ERR_NO_ENTRY = 0x47F28A00;    // database entry does not exist
constexpr uint32_t ZPTP_CLOCK_TYPE = 2;             // every clock row's clock type
constexpr uint32_t ZPTP_PROFILE = 3;
constexpr uint32_t ZPTP_TRUE = 1;
constexpr uint32_t ZPTP_FALSE = 2;
constexpr const char *ZPTP_LIBRARY_GUARD = "/pkg/lib/libnodra.so";
constexpr time_t ZPTP_CACHE_SECONDS = 5;

bool not_found(zerrno rc)
{
    return rc == NODRA_ERR_NOT_FOUND || rc == NODRA_ERR_EDM_NOT_FOUND;
}

const char *search_text(int searchType)
{
    return searchType == SNMP_EXACT ? "EXACT" : "NEXT";
}

// ---- plug-in state ----

struct tree_row_type {
    avl2_node_type node;
    zelvoPtpmib_row_type row;
};

struct cache_type {
    bool valid;
    mgd_timer_leaf *timer;
};

struct single_cache_type {
    cache_type cache;
    zelvoPtpmib_row_type row;
};

struct tree_cache_type {
    cache_type cache;
    avl2_tree_type tree;
    bool tree_ready;
};

// The ten caches, in the order of the timer table.
enum cache_index : uint32_t {
    CACHE_SYSTEM,
    CACHE_CURRENT_DS,
    CACHE_PARENT_DS,
    CACHE_DEFAULT_DS,
    CACHE_RUNNING,
    CACHE_TIME_PROPERTIES_DS,
    CACHE_PORT,
    CACHE_PORT_DS,
    CACHE_PORT_RUNNING,
    CACHE_PORT_ASSOCIATE,
    CACHE_COUNT,
};

struct plugin_type {
    bool debug_registered = false;
    bool pd_ready = false;
    bool library_checked = false;
    bool system_built = false; // the system row has been built once since load
    void *oid_registration = nullptr;
    bool mutex_initialised = false;
    int32_t pulse_code = -1;
    event_async_ctx_type timer_event{};
    mgd_timer_tree *timer_tree = nullptr;
    mgd_timer_parent *timer_parent = nullptr;
};

plugin_type plugin;
event_mgr_type *zelvoPtpmib_evm = nullptr;
nodra_conn_td *zelvoPtpmib_nodra_conn = nullptr;
pthread_mutex_t zelvoPtpmib_mutex;

single_cache_type zPtpSystemEntry_cache;
single_cache_type zPtpClockCurrentDSEntry_cache;
single_cache_type zPtpClockParentDSEntry_cache;
single_cache_type zPtpClockDefaultDSEntry_cache;
single_cache_type zPtpClockRunningEntry_cache;
single_cache_type zPtpClockTimePropertiesDSEntry_cache;
tree_cache_type zPtpClockPortEntry_cache;
tree_cache_type zPtpClockPortDSEntry_cache;
tree_cache_type zPtpClockPortRunningEntry_cache;
tree_cache_type zPtpClockPortAssociateEntry_cache;

void mib_error(const char *text, const char *error_text)
{
    (void)ptp_syslog_mib_dll_error(text, error_text != nullptr ? error_text : "");
}

// ---- column values ----

void column_free(zelvoPtpmib_column_value *c)
{
    FreeOctetString(c->os);
    FreeUInt64(c->counter);
    *c = {};
}

void row_free_values(zelvoPtpmib_row_type *row)
{
    for (zelvoPtpmib_column_value &c : row->columns) {
        column_free(&c);
    }
    row->valid = 0;
}

void row_set_number(zelvoPtpmib_row_type *row, uint32_t nominator, uint32_t value)
{
    column_free(&row->columns[nominator]);
    row->columns[nominator].number = value;
    row->valid |= 1u << nominator;
}

void row_set_bytes(zelvoPtpmib_row_type *row, uint32_t nominator, const uint8_t *bytes, uint32_t length)
{
    column_free(&row->columns[nominator]);
    row->columns[nominator].os = MakeOctetString(bytes, static_cast<int32_t>(length));
    if (row->columns[nominator].os != nullptr) {
        row->valid |= 1u << nominator;
    }
}

void row_set_text(zelvoPtpmib_row_type *row, uint32_t nominator, const char *text)
{
    row_set_bytes(row, nominator, reinterpret_cast<const uint8_t *>(text), static_cast<uint32_t>(strlen(text)));
}

void row_set_counter(zelvoPtpmib_row_type *row, uint32_t nominator, uint64_t value)
{
    column_free(&row->columns[nominator]);
    auto *c = static_cast<UInt64 *>(malloc(sizeof(UInt64)));
    if (c != nullptr) {
        c->big = static_cast<uint32_t>(value >> 32);
        c->little = static_cast<uint32_t>(value);
        row->columns[nominator].counter = c;
        row->valid |= 1u << nominator;
    }
}

// A counter column marked valid before its value is known (an associate without counters).
void row_mark_valid(zelvoPtpmib_row_type *row, uint32_t nominator)
{
    row->valid |= 1u << nominator;
}

// ---- mutex ----

void zelvoPtpmib_mutex_lock()
{
    int rc = pthread_mutex_trylock(&zelvoPtpmib_mutex);
    if (rc == EBUSY) {
        ptd_set_mutex_block(&zelvoPtpmib_mutex, "zelvoPtpmib_mutex_lock", ZPTP_MUTEX_LINE);
        rc = pthread_mutex_lock(&zelvoPtpmib_mutex);
        ptd_unset_mutex_block(&zelvoPtpmib_mutex);
    }
    if (rc != 0) {
        mib_error("Failed to lock mutex: ", strerror(rc));
    }
}

void zelvoPtpmib_mutex_unlock()
{
    const int rc = pthread_mutex_unlock(&zelvoPtpmib_mutex);
    if (rc != 0) {
        mib_error("Failed to unlock mutex: ", strerror(rc));
    }
}

// ---- the database ----

bool library_present()
{
    if (plugin.library_checked) {
        return true;
    }
    if (access(ZPTP_LIBRARY_GUARD, R_OK) == 0 || access(nodra_client_library_path(), R_OK) == 0) {
        plugin.library_checked = true;
    }
    return plugin.library_checked;
}

// The node identifiers under "node/"; the caller frees *nodes.
zerrno zelvoPtpmib_node_list_get(uint32_t **nodes, uint32_t *count)
{
    *nodes = nullptr;
    *count = 0;
    if (zelvoPtpmib_nodra_conn == nullptr) {
        return NODRA_ERR_UNREACHABLE;
    }
    nodra_list_td *list = nullptr;
    uint32_t n = 0;
    zerrno rc = nodra_list(zelvoPtpmib_nodra_conn, "node/", "", &n, &list, 0);
    if (not_found(rc)) {
        return 0;
    }
    if (rc != 0) {
        ZPTP_DEBUG("Failed to list PTP nodes: %s", zerr_strerror(rc));
        return rc;
    }
    auto *ids = static_cast<uint32_t *>(calloc(n > 0 ? n : 1, sizeof(uint32_t)));
    if (ids == nullptr) {
        ZPTP_DEBUG("Failed to allocate nodeid array");
        nodra_list_free(list);
        return ZPTP_ERR_NO_MEMORY;
    }
    for (uint32_t i = 0; i < n; ++i) {
        const char *name = nullptr;
        rc = nodra_list_next(list, &name);
        if (rc != 0) {
            ZPTP_DEBUG("Failed to get next PTP node: %s", zerr_strerror(rc));
            free(ids);
            nodra_list_free(list);
            return rc;
        }
        ids[i] = static_cast<uint32_t>(strtoul(name, nullptr, 16));
    }
    nodra_list_free(list);
    *nodes = ids;
    *count = n;
    return 0;
}

void node_item_path(char *path, size_t size, uint32_t node, const char *item)
{
    snprintf(path, size, "%s%x/%s", "node/", node, item);
}

// Reads and decodes one node's item; not-found codes pass through.
zerrno node_item_get(uint32_t node, const char *item, void *record, const bag_descriptor_type *bag, bool *decode_failed)
{
    *decode_failed = false;
    char path[128];
    node_item_path(path, sizeof path, node, item);
    uint32_t type = NODRA_ITEM_DATATYPE_BAG;
    void *data = nullptr;
    uint32_t length = 0;
    zerrno rc = nodra_item_get(zelvoPtpmib_nodra_conn, path, &type, &data, &length, 0);
    if (rc != 0) {
        return rc;
    }
    rc = bag_decode(static_cast<const uint8_t *>(data), length, record, bag);
    free(data);
    *decode_failed = rc != 0;
    return rc;
}

struct active_clock_kind {
    const char *item;
    const char *get_failed;
    const char *decode_failed;
};

// The first node's active clock record of a kind, in list order.
template <typename Record>
zerrno active_clock_get(Record *record, const bag_descriptor_type *bag, const active_clock_kind &kind,
                        uint32_t Record::*active)
{
    uint32_t *nodes = nullptr;
    uint32_t count = 0;
    if (zelvoPtpmib_node_list_get(&nodes, &count) != 0) {
        return ZPTP_ERR_NO_ENTRY;
    }
    zerrno result = ZPTP_ERR_NO_ENTRY;
    for (uint32_t i = 0; i < count; ++i) {
        *record = Record{};
        char path[128];
        node_item_path(path, sizeof path, nodes[i], kind.item);
        uint32_t type = NODRA_ITEM_DATATYPE_BAG;
        void *data = nullptr;
        uint32_t length = 0;
        zerrno rc = nodra_item_get(zelvoPtpmib_nodra_conn, path, &type, &data, &length, 0);
        if (not_found(rc)) {
            continue;
        }
        if (rc != 0) {
            ZPTP_DEBUG(kind.get_failed, zerr_strerror(rc));
            break;
        }
        rc = bag_decode(static_cast<const uint8_t *>(data), length, record, bag);
        free(data);
        if (rc != 0) {
            ZPTP_DEBUG(kind.decode_failed, zerr_strerror(rc));
            *record = Record{};
            break;
        }
        if ((*record).*active == 0) {
            (void)bag_free_indirections(record, bag);
            continue;
        }
        result = 0;
        break;
    }
    free(nodes);
    return result;
}

zerrno zelvoPtpmib_local_clock_get(ptp_local_clock_info *clock)
{
    static const active_clock_kind kind{"local-clock", "Failed to get local clock information: %s",
                                        "Failed to decode local clock bag: %s"};
    return active_clock_get(clock, ptp_local_clock_info_bag_getfn(), kind, &ptp_local_clock_info::LocalActive);
}

zerrno zelvoPtpmib_advertised_clock_get(ptp_advertised_clock_info *clock)
{
    static const active_clock_kind kind{"advertised-clock", "Failed to get advertised clock information: %s",
                                        "Failed to decode advertised clock bag: %s"};
    return active_clock_get(clock, ptp_advertised_clock_info_bag_getfn(), kind,
                            &ptp_advertised_clock_info::AdvertisedActive);
}

// A record that frees its indirections when it goes.
template <typename Record>
struct decoded {
    Record r{};
    const bag_descriptor_type *bag;
    explicit decoded(const bag_descriptor_type *b) : bag(b) {}
    decoded(const decoded &) = delete;
    decoded &operator=(const decoded &) = delete;
    ~decoded() { (void)bag_free_indirections(&r, bag); }
};

using zelvoPtpmib_entry_fn = zerrno (*)(uint32_t index, uint32_t count, void *record, void *context);

zerrno zelvoPtpmib_datalist_walk(const char *path, const bag_descriptor_type *bag, void *record,
                                 zelvoPtpmib_entry_fn fn, void *context)
{
    if (zelvoPtpmib_nodra_conn == nullptr) {
        return NODRA_ERR_UNREACHABLE;
    }
    nodra_datalist_td *list = nullptr;
    uint32_t count = 0;
    zerrno rc = nodra_datalist(zelvoPtpmib_nodra_conn, path, "", &count, &list, 0);
    if (not_found(rc)) {
        return 0;
    }
    if (rc != 0) {
        ZPTP_DEBUG("Failed to dataliston datalist path '%s': %s", path, zerr_strerror(rc));
        return rc;
    }
    for (uint32_t i = 0; rc == 0 && i < count; ++i) {
        const char *name = nullptr;
        uint32_t type = 0;
        const void *data = nullptr;
        uint32_t length = 0;
        rc = nodra_datalist_next(list, &name, &type, &data, &length, 0);
        if (rc != 0) {
            ZPTP_DEBUG("Failed to iterate datalist: %s", zerr_strerror(rc));
            break;
        }
        rc = bag_decode(static_cast<const uint8_t *>(data), length, record, bag);
        if (rc != 0) {
            ZPTP_DEBUG("Failed to decode bag: %s", zerr_strerror(rc));
            break;
        }
        rc = fn(i, count, record, context);
        (void)bag_free_indirections(record, bag);
    }
    nodra_datalist_free(list);
    return rc;
}

// ---- value formats ----

void port_identity_text(uint64_t id, uint32_t port, char *text, size_t size)
{
    char clock[32];
    zelvoPtpmib_clock_id_text(id, clock, sizeof clock);
    snprintf(text, size, "ClockId = %s , PortNumber = %u", clock, port);
}

uint32_t accuracy_of(uint32_t accuracy)
{
    return accuracy >= 0x20 && accuracy <= 0x31 ? accuracy : 254;
}

uint32_t truth(bool b)
{
    return b ? ZPTP_TRUE : ZPTP_FALSE;
}

uint32_t port_role_of(uint32_t state)
{
    return state == PTP_BAG_PORT_STATE_UNCALIBRATED || state == PTP_BAG_PORT_STATE_SLAVE ? 2 : 1;
}

// Port states 0 to 7 (INITIALIZING ... FAULTY) as the MIB's port states; 0 for none.
uint32_t port_state_of(uint32_t state)
{
    constexpr uint32_t map[] = {1, 4, 7, 5, 6, 8, 9, 2};
    return state < std::size(map) ? map[state] : 0;
}

// PD clock statuses 0 to 4 as the MIB's clock states; 0 for none.
uint32_t clock_state_of(uint32_t status)
{
    constexpr uint32_t map[] = {1, 3, 4, 5, 2};
    return status < std::size(map) ? map[status] : 0;
}

uint32_t tx_mode_of(uint32_t model)
{
    switch (model) {
    case PTP_BAG_COMMUNICATION_MODEL_Unicast: return 1;
    case PTP_BAG_COMMUNICATION_MODEL_MixedMode: return 3;
    default: return 2;
    }
}

// The address columns of a row: type and bytes, as the module encodes them.
void row_set_address(zelvoPtpmib_row_type *row, uint32_t type_nominator, uint32_t address_nominator,
                     const ptp_bag_address *address)
{
    uint32_t type = 0;
    uint8_t bytes[16];
    uint32_t length = 0;
    if (!zelvoPtpmib_address_columns(address, true, &type, bytes, &length)) {
        return;
    }
    row_set_number(row, type_nominator, type);
    if (length > 0) {
        row_set_bytes(row, address_nominator, bytes, length);
    }
}

// ---- cache timers and drops ----

void cache_start(cache_type *cache)
{
    cache->valid = true;
    if (cache->timer != nullptr) {
        const struct timespec timeout = {ZPTP_CACHE_SECONDS, 0};
        (void)mgd_timer_leaf_start(cache->timer, &timeout);
    }
}

void tree_row_free(avl2_node_type *node)
{
    auto *r = reinterpret_cast<tree_row_type *>(node);
    row_free_values(&r->row);
    free(r);
}

// Drops a tree cache; `locked` when the caller already holds the mutex.
void tree_cache_drop(tree_cache_type *c, bool locked)
{
    if (!locked) {
        zelvoPtpmib_mutex_lock();
    }
    if (c->tree_ready) {
        avl2_destroy(&c->tree, tree_row_free);
    }
    c->cache.valid = false;
    if (!locked) {
        zelvoPtpmib_mutex_unlock();
    }
}

void single_cache_expire(single_cache_type *c)
{
    zelvoPtpmib_mutex_lock();
    if (c->cache.valid) {
        // The numbers stay until the next build; the strings and counters go now.
        for (zelvoPtpmib_column_value &v : c->row.columns) {
            FreeOctetString(v.os);
            FreeUInt64(v.counter);
            v.os = nullptr;
            v.counter = nullptr;
        }
    }
    c->cache.valid = false;
    zelvoPtpmib_mutex_unlock();
}

void zelvoPtpmib_zPtpClockPort_cache_drop(bool locked = false)
{
    tree_cache_drop(&zPtpClockPortEntry_cache, locked);
}
void zelvoPtpmib_zPtpClockPortDS_cache_drop(bool locked = false)
{
    tree_cache_drop(&zPtpClockPortDSEntry_cache, locked);
}
void zelvoPtpmib_zPtpClockPortRunning_cache_drop(bool locked = false)
{
    tree_cache_drop(&zPtpClockPortRunningEntry_cache, locked);
}
void zelvoPtpmib_zPtpClockPortAssociate_cache_drop(bool locked = false)
{
    tree_cache_drop(&zPtpClockPortAssociateEntry_cache, locked);
}

void zelvoPtpmib_zPtpSystem_cache_expire()
{
    single_cache_expire(&zPtpSystemEntry_cache);
}
void zelvoPtpmib_zPtpClockCurrentDS_cache_expire()
{
    single_cache_expire(&zPtpClockCurrentDSEntry_cache);
}
void zelvoPtpmib_zPtpClockParentDS_cache_expire()
{
    single_cache_expire(&zPtpClockParentDSEntry_cache);
}
void zelvoPtpmib_zPtpClockDefaultDS_cache_expire()
{
    single_cache_expire(&zPtpClockDefaultDSEntry_cache);
}
void zelvoPtpmib_zPtpClockRunning_cache_expire()
{
    single_cache_expire(&zPtpClockRunningEntry_cache);
}
void zelvoPtpmib_zPtpClockTimePropertiesDS_cache_expire()
{
    single_cache_expire(&zPtpClockTimePropertiesDSEntry_cache);
}
void zelvoPtpmib_zPtpClockPort_cache_expire()
{
    zelvoPtpmib_zPtpClockPort_cache_drop();
}
void zelvoPtpmib_zPtpClockPortDS_cache_expire()
{
    zelvoPtpmib_zPtpClockPortDS_cache_drop();
}
void zelvoPtpmib_zPtpClockPortRunning_cache_expire()
{
    zelvoPtpmib_zPtpClockPortRunning_cache_drop();
}
void zelvoPtpmib_zPtpClockPortAssociate_cache_expire()
{
    zelvoPtpmib_zPtpClockPortAssociate_cache_drop();
}

struct cache_timer_row {
    mgd_timer_leaf **slot;
    void (*expire)();
};
const cache_timer_row zelvoPtpmib_cache_timers[CACHE_COUNT] = {
    {&zPtpSystemEntry_cache.cache.timer, zelvoPtpmib_zPtpSystem_cache_expire},
    {&zPtpClockCurrentDSEntry_cache.cache.timer, zelvoPtpmib_zPtpClockCurrentDS_cache_expire},
    {&zPtpClockParentDSEntry_cache.cache.timer, zelvoPtpmib_zPtpClockParentDS_cache_expire},
    {&zPtpClockDefaultDSEntry_cache.cache.timer, zelvoPtpmib_zPtpClockDefaultDS_cache_expire},
    {&zPtpClockRunningEntry_cache.cache.timer, zelvoPtpmib_zPtpClockRunning_cache_expire},
    {&zPtpClockTimePropertiesDSEntry_cache.cache.timer, zelvoPtpmib_zPtpClockTimePropertiesDS_cache_expire},
    {&zPtpClockPortEntry_cache.cache.timer, zelvoPtpmib_zPtpClockPort_cache_expire},
    {&zPtpClockPortDSEntry_cache.cache.timer, zelvoPtpmib_zPtpClockPortDS_cache_expire},
    {&zPtpClockPortRunningEntry_cache.cache.timer, zelvoPtpmib_zPtpClockPortRunning_cache_expire},
    {&zPtpClockPortAssociateEntry_cache.cache.timer, zelvoPtpmib_zPtpClockPortAssociate_cache_expire},
};

int zelvoPtpmib_timer_process(const event_async_ctx_type *, int32_t, void *)
{
    mgd_timer_leaf *leaf = nullptr;
    while (plugin.timer_tree != nullptr && (leaf = mgd_timer_tree_first_expired(plugin.timer_tree)) != nullptr) {
        auto *row = static_cast<const cache_timer_row *>(mgd_timer_leaf_get_context(leaf));
        if (row != nullptr) {
            row->expire();
        }
        (void)mgd_timer_leaf_stop(leaf);
    }
    return 0;
}

// ---- tree caches ----

int port_compare(const void *a, const void *b, void *)
{
    const auto &x = reinterpret_cast<const tree_row_type *>(a)->row;
    const auto &y = reinterpret_cast<const tree_row_type *>(b)->row;
    if (x.domain != y.domain) {
        return x.domain < y.domain ? -1 : 1;
    }
    if (x.port_number != y.port_number) {
        return x.port_number < y.port_number ? -1 : 1;
    }
    return 0;
}

int associate_compare(const void *a, const void *b, void *context)
{
    const int c = port_compare(a, b, context);
    if (c != 0) {
        return c;
    }
    const auto &x = reinterpret_cast<const tree_row_type *>(a)->row;
    const auto &y = reinterpret_cast<const tree_row_type *>(b)->row;
    return x.peer_index == y.peer_index ? 0 : (x.peer_index < y.peer_index ? -1 : 1);
}

bool tree_cache_init(tree_cache_type *c, avl2_compare_fn compare, const char *failed)
{
    if (!c->tree_ready) {
        c->tree_ready = avl2_init(&c->tree, compare, nullptr);
        if (!c->tree_ready) {
            ZPTP_DEBUG("%s", failed);
        }
    }
    return c->tree_ready;
}

// The row of a key in a tree, made (zeroed, keyed) when absent; null when memory is short.
zelvoPtpmib_row_type *tree_row_find_or_add(tree_cache_type *c, uint32_t domain, uint32_t port, uint32_t peer,
                                           const char *failed)
{
    tree_row_type key{};
    key.row.domain = domain;
    key.row.port_number = port;
    key.row.peer_index = peer;
    if (auto *found = reinterpret_cast<tree_row_type *>(avl2_search(&c->tree, &key))) {
        return &found->row;
    }
    auto *r = static_cast<tree_row_type *>(calloc(1, sizeof(tree_row_type)));
    if (r == nullptr) {
        ZPTP_DEBUG("%s", failed);
        return nullptr;
    }
    r->row.domain = domain;
    r->row.clock_type = ZPTP_CLOCK_TYPE;
    r->row.port_number = port;
    r->row.peer_index = peer;
    (void)avl2_insert(&c->tree, &r->node);
    return &r->row;
}

zelvoPtpmib_row_type *tree_row_find(tree_cache_type *c, uint32_t domain, uint32_t port, uint32_t peer)
{
    tree_row_type key{};
    key.row.domain = domain;
    key.row.port_number = port;
    key.row.peer_index = peer;
    auto *found = reinterpret_cast<tree_row_type *>(avl2_search(&c->tree, &key));
    return found != nullptr ? &found->row : nullptr;
}

struct build_context {
    tree_cache_type *cache;
    const ptp_local_clock_info *clock;
    const char *row_failed;
    bool associates_unicast;
};

// One port row of an interface (the port, port data set and port running tables).
zerrno port_row_build(uint32_t, uint32_t, void *record, void *context)
{
    const auto *intf = static_cast<const ptp_if_info *>(record);
    auto *ctx = static_cast<build_context *>(context);
    if (intf->internal_port_number == 0) {
        return 0;
    }
    zelvoPtpmib_row_type *row =
        tree_row_find_or_add(ctx->cache, ctx->clock->Domain, intf->internal_port_number, 0, ctx->row_failed);
    if (row == nullptr) {
        return ZPTP_ERR_NO_MEMORY;
    }
    const char *name = intf->Name != nullptr ? intf->Name : "";
    if (ctx->cache == &zPtpClockPortEntry_cache) {
        row_set_text(row, 4, name);
        row_set_number(row, 5, port_role_of(intf->PortState));
        row_set_number(row, 6, intf->TwoStep != 0 ? 2 : 1);
        if (intf->current_peer != nullptr) {
            row_set_address(row, 7, 8, intf->current_peer);
        }
        row_set_number(row, 9, intf->associate_port_count);
    } else if (ctx->cache == &zPtpClockPortDSEntry_cache) {
        char text[96];
        port_identity_text(ctx->clock->ClockProperties.ClockID, intf->internal_port_number, text, sizeof text);
        row_set_text(row, 4, name);
        row_set_text(row, 5, text);
        row_set_number(row, 6, static_cast<uint32_t>(intf->LogAnnounceInterval));
        row_set_number(row, 7, intf->AnnounceTimeout);
        row_set_number(row, 8, static_cast<uint32_t>(intf->LogSyncInterval));
        row_set_number(row, 9, static_cast<uint32_t>(intf->LogMinDelayRequestInterval));
        row_set_number(row, 11, 1);
        row_set_number(row, 14, 2);
    } else {
        row_set_text(row, 4, name);
        const uint32_t state = port_state_of(intf->PortState);
        if (state != 0) {
            row_set_number(row, 5, state);
        }
        row_set_number(row, 6, port_role_of(intf->PortState));
        row_set_number(row, 7, static_cast<uint32_t>(ifmib_name_to_index(name)));
        if (intf->Encapsulation == PTP_BAG_ENCAP_IPv4 || intf->Encapsulation == PTP_BAG_ENCAP_IPv6) {
            row_set_number(row, 8, intf->Encapsulation == PTP_BAG_ENCAP_IPv4 ? 4 : 6);
        }
        row_set_number(row, 10, tx_mode_of(intf->CommunicationModel));
    }
    return 0;
}

zerrno port_running_counters(uint32_t, uint32_t, void *record, void *context)
{
    const auto *counters = static_cast<const ptp_if_packet_counter_info *>(record);
    auto *ctx = static_cast<build_context *>(context);
    zelvoPtpmib_row_type *row = tree_row_find(ctx->cache, ctx->clock->Domain, counters->internal_port_number, 0);
    if (row == nullptr) {
        ZPTP_DEBUG("Failed to find cache entry for interface %s, port number %u",
                   counters->Name != nullptr ? counters->Name : "", counters->internal_port_number);
        return 0;
    }
    row_set_counter(row, 12, counters->Counters.TotalPacketsReceived);
    row_set_counter(row, 13, counters->Counters.TotalPacketsSent);
    return 0;
}

zelvoPtpmib_row_type *associate_row(build_context *ctx, uint32_t port, uint32_t peer_index,
                                    const ptp_bag_address *address, bool unicast)
{
    zelvoPtpmib_row_type *row = tree_row_find_or_add(ctx->cache, ctx->clock->Domain, port, peer_index, ctx->row_failed);
    if (row == nullptr) {
        return nullptr;
    }
    row_set_address(row, 5, 6, address);
    // The counters are answered as 0 until an entry of the interface's counters gives them.
    for (uint32_t nominator : {7u, 8u, 9u}) {
        if ((row->valid & (1u << nominator)) == 0) {
            row_mark_valid(row, nominator);
        }
    }
    row->unicast_peer = row->unicast_peer || unicast;
    return row;
}

zerrno associate_foreign_masters(uint32_t, uint32_t, void *record, void *context)
{
    const auto *intf = static_cast<const ptp_if_clock_info *>(record);
    auto *ctx = static_cast<build_context *>(context);
    if (intf->internal_port_number == 0) {
        return 0;
    }
    for (uint32_t i = 0; i < intf->ForeignClocks.count; ++i) {
        const ptp_bag_foreign_clock &fc = intf->ForeignClocks.array[i];
        if (associate_row(ctx, intf->internal_port_number, fc.PeerIndex, &fc.Address, false) == nullptr) {
            return ZPTP_ERR_NO_MEMORY;
        }
    }
    return 0;
}

zerrno associate_unicast_peers(uint32_t, uint32_t, void *record, void *context)
{
    const auto *intf = static_cast<const ptp_if_unicast_peer_info *>(record);
    auto *ctx = static_cast<build_context *>(context);
    if (intf->internal_port_number == 0) {
        return 0;
    }
    for (uint32_t i = 0; i < intf->Peers.count; ++i) {
        const ptp_bag_unicast_peer &peer = intf->Peers.array[i];
        if (associate_row(ctx, intf->internal_port_number, peer.PeerIndex, &peer.Address, true) == nullptr) {
            return ZPTP_ERR_NO_MEMORY;
        }
    }
    return 0;
}

zerrno associate_counters(uint32_t, uint32_t, void *record, void *context)
{
    const auto *intf = static_cast<const ptp_if_packet_counter_info *>(record);
    auto *ctx = static_cast<build_context *>(context);
    if (intf->internal_port_number == 0) {
        return 0;
    }
    for (uint32_t i = 0; i < intf->PeerCounters.count; ++i) {
        const ptp_bag_peer_packet_counters &pc = intf->PeerCounters.array[i];
        zelvoPtpmib_row_type *row =
            tree_row_find(ctx->cache, ctx->clock->Domain, intf->internal_port_number, pc.PeerIndex);
        if (row != nullptr) {
            row_set_counter(row, 7, pc.Counters.TotalPacketsSent);
            row_set_counter(row, 8, pc.Counters.TotalPacketsReceived);
            row_set_counter(row, 9, pc.Counters.TotalPacketsDropped);
        }
    }
    return 0;
}

// Builds a tree cache from the per-interface data (under the mutex the request holds).
zerrno tree_cache_build(tree_cache_type *c, const ptp_local_clock_info *clock)
{
    zerrno rc = 0;
    build_context ctx{c, clock, nullptr, false};
    if (c == &zPtpClockPortAssociateEntry_cache) {
        if (!tree_cache_init(c, associate_compare, "Failed to allocate " ZPTP_TEXT("ClockPortAssociate") " cache")) {
            return ZPTP_ERR_NO_MEMORY;
        }
        ctx.row_failed = "Failed to allocate " ZPTP_TEXT("ClockPortAssociate") " cache entry";
        decoded<ptp_if_clock_info> fm(ptp_if_clock_info_bag_getfn());
        rc = zelvoPtpmib_datalist_walk("foreign-masters/if/", fm.bag, &fm.r, associate_foreign_masters, &ctx);
        if (rc == 0) {
            decoded<ptp_if_unicast_peer_info> up(ptp_if_unicast_peer_info_bag_getfn());
            rc = zelvoPtpmib_datalist_walk("unicast-peers/if/", up.bag, &up.r, associate_unicast_peers, &ctx);
        }
        if (rc == 0) {
            decoded<ptp_if_packet_counter_info> pc(ptp_if_packet_counter_info_bag_getfn());
            rc = zelvoPtpmib_datalist_walk("packet-counters/if/", pc.bag, &pc.r, associate_counters, &ctx);
        }
    } else {
        const char *tree_failed =
            c == &zPtpClockPortEntry_cache     ? "Failed to create " ZPTP_TEXT("ClockPort") " cache tree"
            : c == &zPtpClockPortDSEntry_cache ? "Failed to allocate " ZPTP_TEXT("ClockPortDS") " cache tree"
                                               : "Failed to allocate " ZPTP_TEXT("ClockPortRunning") " cache";
        ctx.row_failed =
            c == &zPtpClockPortEntry_cache     ? "Failed to allocate " ZPTP_TEXT("ClockPort") " table cache entry"
            : c == &zPtpClockPortDSEntry_cache ? "Failed to allocate " ZPTP_TEXT("ClockPortDS") " cache entry"
                                               : "Failed to allocated " ZPTP_TEXT("ClockPortRunning") " cache entry";
        if (!tree_cache_init(c, port_compare, tree_failed)) {
            return ZPTP_ERR_NO_MEMORY;
        }
        decoded<ptp_if_info> intf(ptp_if_info_bag_getfn());
        rc = zelvoPtpmib_datalist_walk("interface/if/", intf.bag, &intf.r, port_row_build, &ctx);
        if (rc == 0 && c == &zPtpClockPortRunningEntry_cache) {
            decoded<ptp_if_packet_counter_info> pc(ptp_if_packet_counter_info_bag_getfn());
            rc = zelvoPtpmib_datalist_walk("packet-counters/if/", pc.bag, &pc.r, port_running_counters, &ctx);
        }
    }
    if (rc != 0) {
        tree_cache_drop(c, true);
        return rc;
    }
    cache_start(&c->cache);
    return 0;
}

// Builds a tree cache when it is not valid, from the local clock record.
zerrno tree_cache_ensure(tree_cache_type *c)
{
    if (c->cache.valid) {
        return 0;
    }
    decoded<ptp_local_clock_info> clock(ptp_local_clock_info_bag_getfn());
    const zerrno rc = zelvoPtpmib_local_clock_get(&clock.r);
    if (rc != 0) {
        return rc;
    }
    return tree_cache_build(c, &clock.r);
}

// The next or exact row of a tree for a request (d, t, i, p[, x]), by the whole index in order.
zelvoPtpmib_row_type *tree_lookup(tree_cache_type *c, int searchType, uint32_t domain, int32_t clock_type,
                                  uint32_t instance, uint32_t port, uint32_t peer)
{
    if (!c->tree_ready) {
        return nullptr;
    }
    tree_row_type key{};
    if (searchType == SNMP_EXACT) {
        if (clock_type != static_cast<int32_t>(ZPTP_CLOCK_TYPE) || instance != 0) {
            return nullptr;
        }
        key.row.domain = domain;
        key.row.port_number = port;
        key.row.peer_index = peer;
        auto *found = reinterpret_cast<tree_row_type *>(avl2_search(&c->tree, &key));
        return found != nullptr ? &found->row : nullptr;
    }
    // Every row is (D, 2, 0, P[, X]): below (2, 0) any row of the domain follows; above it only
    // rows of a later domain do.
    if (clock_type < static_cast<int32_t>(ZPTP_CLOCK_TYPE)) {
        key.row.domain = domain;
    } else if (clock_type == static_cast<int32_t>(ZPTP_CLOCK_TYPE) && instance == 0) {
        key.row.domain = domain;
        key.row.port_number = port;
        key.row.peer_index = peer;
    } else {
        if (domain == UINT32_MAX) {
            return nullptr;
        }
        key.row.domain = domain + 1;
    }
    auto *found = reinterpret_cast<tree_row_type *>(avl2_get_greater_equal(&c->tree, &key));
    return found != nullptr ? &found->row : nullptr;
}

// Whether a single row (D, 2, 0) answers a request (d, t, i): exactly, or as its successor.
bool single_row_matches(int searchType, uint32_t row_domain, uint32_t domain, int32_t clock_type, uint32_t instance)
{
    if (searchType == SNMP_EXACT) {
        return domain == row_domain && clock_type == static_cast<int32_t>(ZPTP_CLOCK_TYPE) && instance == 0;
    }
    if (domain != row_domain) {
        return domain < row_domain;
    }
    if (clock_type != static_cast<int32_t>(ZPTP_CLOCK_TYPE)) {
        return clock_type < static_cast<int32_t>(ZPTP_CLOCK_TYPE);
    }
    return instance == 0;
}

// ---- single-row builds ----

zerrno system_build()
{
    decoded<ptp_local_clock_info> clock(ptp_local_clock_info_bag_getfn());
    zerrno rc = zelvoPtpmib_local_clock_get(&clock.r);
    if (rc != 0) {
        return rc;
    }
    uint32_t *nodes = nullptr;
    uint32_t count = 0;
    rc = zelvoPtpmib_node_list_get(&nodes, &count);
    if (rc != 0) {
        return rc;
    }
    uint32_t total = 0;
    for (uint32_t i = 0; i < count && rc == 0; ++i) {
        decoded<ptp_summary_info> summary(ptp_summary_info_bag_getfn());
        bool decode_failed = false;
        rc = node_item_get(nodes[i], "summary", &summary.r, summary.bag, &decode_failed);
        if (!decode_failed && not_found(rc)) {
            rc = 0;
            continue;
        }
        if (rc != 0) {
            ZPTP_DEBUG(decode_failed ? "Failed to decode summary bag: %s" : "Failed to get summary information: %s",
                       zerr_strerror(rc));
            break;
        }
        total += summary.r.TotalInterfacesValidPortNum;
    }
    free(nodes);
    if (rc != 0) {
        return rc;
    }
    zelvoPtpmib_row_type &row = zPtpSystemEntry_cache.row;
    row_free_values(&row);
    row.domain = clock.r.Domain;
    row.instance = 0;
    row_set_number(&row, 2, total);
    row_set_number(&row, 3, total);
    return 0;
}

zerrno pd_system_info(ptp_pd_mib_system_info_type *info, const char *not_ready)
{
    if (!plugin.pd_ready) {
        ZPTP_DEBUG("%s", not_ready);
        return ZPTP_ERR_INVALID_ARG;
    }
    uint8_t reserved = 0;
    *info = {};
    const zerrno rc = ptp_pd_mib_get_system_info(&reserved, info);
    if (rc != 0) {
        ZPTP_DEBUG("Failed to get system info from PD: %s", zerr_strerror(rc));
    }
    return rc;
}

zerrno current_ds_build()
{
    ptp_pd_mib_system_info_type info{};
    zerrno rc = pd_system_info(&info, "PD MIB DLL not initialized, unable to get " ZPTP_TEXT("ClockCurrentDS") " data");
    if (rc != 0) {
        return rc;
    }
    decoded<ptp_advertised_clock_info> clock(ptp_advertised_clock_info_bag_getfn());
    rc = zelvoPtpmib_advertised_clock_get(&clock.r);
    if (rc != 0) {
        return rc;
    }
    zelvoPtpmib_row_type &row = zPtpClockCurrentDSEntry_cache.row;
    row_free_values(&row);
    row.domain = clock.r.Domain;
    row.clock_type = ZPTP_CLOCK_TYPE;
    row_set_number(&row, 3, clock.r.ClockProperties.StepsRemoved);
    char text[32];
    if ((info.flags & PTP_PD_MIB_OFFSET_VALID) != 0) {
        snprintf(text, sizeof text, "%ld", static_cast<long>(info.offset_from_master_ns));
        row_set_text(&row, 4, text);
    }
    if ((info.flags & PTP_PD_MIB_DELAY_VALID) != 0) {
        snprintf(text, sizeof text, "%ld", static_cast<long>(info.mean_path_delay_ns));
        row_set_text(&row, 5, text);
    }
    return 0;
}

zerrno parent_ds_build()
{
    decoded<ptp_advertised_clock_info> clock(ptp_advertised_clock_info_bag_getfn());
    const zerrno rc = zelvoPtpmib_advertised_clock_get(&clock.r);
    if (rc != 0) {
        return rc;
    }
    const ptp_bag_clock &c = clock.r.ClockProperties;
    zelvoPtpmib_row_type &row = zPtpClockParentDSEntry_cache.row;
    row_free_values(&row);
    row.domain = clock.r.Domain;
    row.clock_type = ZPTP_CLOCK_TYPE;
    char text[96];
    if (c.Local != 0) {
        port_identity_text(c.ClockID, 0, text, sizeof text);
    } else {
        port_identity_text(c.Sender.ClockID, c.Sender.PortNumber, text, sizeof text);
    }
    row_set_text(&row, 3, text);
    row_set_number(&row, 4, 2);
    zelvoPtpmib_clock_id_text(c.ClockID, text, sizeof text);
    row_set_text(&row, 7, text);
    row_set_number(&row, 8, c.Priority1);
    row_set_number(&row, 9, c.Priority2);
    row_set_number(&row, 10, c.Class);
    row_set_number(&row, 11, accuracy_of(c.Accuracy));
    row_set_number(&row, 12, c.OffsetLogVariance);
    return 0;
}

zerrno default_ds_build()
{
    decoded<ptp_local_clock_info> clock(ptp_local_clock_info_bag_getfn());
    const zerrno rc = zelvoPtpmib_local_clock_get(&clock.r);
    if (rc != 0) {
        return rc;
    }
    const ptp_bag_clock &c = clock.r.ClockProperties;
    zelvoPtpmib_row_type &row = zPtpClockDefaultDSEntry_cache.row;
    row_free_values(&row);
    row.domain = clock.r.Domain;
    row.clock_type = ZPTP_CLOCK_TYPE;
    char text[96];
    zelvoPtpmib_clock_id_text(c.ClockID, text, sizeof text);
    row_set_number(&row, 3, 1);
    row_set_text(&row, 4, text);
    row_set_number(&row, 5, c.Priority1);
    row_set_number(&row, 6, c.Priority2);
    row_set_number(&row, 7, 2);
    row_set_number(&row, 8, c.Class);
    row_set_number(&row, 9, accuracy_of(c.Accuracy));
    row_set_number(&row, 10, c.OffsetLogVariance);
    return 0;
}

zerrno running_build()
{
    decoded<ptp_local_clock_info> clock(ptp_local_clock_info_bag_getfn());
    zerrno rc = zelvoPtpmib_local_clock_get(&clock.r);
    if (rc != 0) {
        return rc;
    }
    ptp_pd_mib_system_info_type info{};
    rc = pd_system_info(&info, "PD MIB DLL not initialized, unable to get " ZPTP_TEXT("ClockRunning") " data");
    if (rc != 0) {
        return rc;
    }
    uint32_t *nodes = nullptr;
    uint32_t count = 0;
    rc = zelvoPtpmib_node_list_get(&nodes, &count);
    if (rc != 0) {
        return rc;
    }
    uint64_t sent = 0;
    uint64_t received = 0;
    for (uint32_t i = 0; i < count && rc == 0; ++i) {
        decoded<ptp_node_packet_counter_info> counters(ptp_node_packet_counter_info_bag_getfn());
        bool decode_failed = false;
        rc = node_item_get(nodes[i], "packet-counters", &counters.r, counters.bag, &decode_failed);
        if (!decode_failed && not_found(rc)) {
            rc = 0;
            continue;
        }
        if (rc != 0) {
            ZPTP_DEBUG(decode_failed ? "Failed to decode packet counter bag: %s"
                                     : "Failed to get packet counter information: %s",
                       zerr_strerror(rc));
            break;
        }
        sent += counters.r.Counters.TotalPacketsSent;
        received += counters.r.Counters.TotalPacketsReceived;
    }
    free(nodes);
    if (rc != 0) {
        return rc;
    }
    zelvoPtpmib_row_type &row = zPtpClockRunningEntry_cache.row;
    row_free_values(&row);
    row.domain = clock.r.Domain;
    row.clock_type = ZPTP_CLOCK_TYPE;
    const uint32_t state = clock_state_of(info.clock_status);
    if (state != 0) {
        row_set_number(&row, 3, state);
    }
    row_set_counter(&row, 4, sent);
    row_set_counter(&row, 5, received);
    return 0;
}

zerrno time_properties_build()
{
    decoded<ptp_advertised_clock_info> clock(ptp_advertised_clock_info_bag_getfn());
    const zerrno rc = zelvoPtpmib_advertised_clock_get(&clock.r);
    if (rc != 0) {
        return rc;
    }
    const ptp_bag_clock &c = clock.r.ClockProperties;
    zelvoPtpmib_row_type &row = zPtpClockTimePropertiesDSEntry_cache.row;
    row_free_values(&row);
    row.domain = clock.r.Domain;
    row.clock_type = ZPTP_CLOCK_TYPE;
    row_set_number(&row, 3, truth(c.UTCOffset.OffsetValid != 0));
    row_set_number(&row, 4, static_cast<uint32_t>(c.UTCOffset.CurrentOffset));
    row_set_number(&row, 5, truth(c.LeapSeconds == PTP_BAG_LEAP_SECONDS_Leap59));
    row_set_number(&row, 6, truth(c.LeapSeconds == PTP_BAG_LEAP_SECONDS_Leap61));
    row_set_number(&row, 7, truth(c.TimeTraceable != 0));
    row_set_number(&row, 8, truth(c.FrequencyTraceable != 0));
    row_set_number(&row, 9, truth(c.Timescale == PTP_BAG_TIMESCALE_PTP));
    row_set_number(&row, 10, zelvoPtpmib_time_source(c.TimeSource));
    return 0;
}

// A single-row cache, built when not valid; the row answers when it matches the request.
zelvoPtpmib_row_type *single_row_get(single_cache_type *c, zerrno (*build)(), int searchType, uint32_t domain,
                                     int32_t clock_type, uint32_t instance)
{
    if (!c->cache.valid) {
        if (build() != 0) {
            return nullptr;
        }
        cache_start(&c->cache);
    }
    if (!single_row_matches(searchType, c->row.domain, domain, clock_type, instance)) {
        return nullptr;
    }
    return &c->row;
}

// ---- the column access path ----

struct table_shape {
    uint32_t index_count;
    uint32_t signed_mask; // bit k: index component k is signed
    zelvoPtpmib_row_type *(*row)(int serial, int nominator, int searchType, const uint32_t *index);
};

VarBind *answer(const ObjectInfo *object, zelvoPtpmib_row_type *row, uint32_t index_count)
{
    const uint32_t nominator = object->nominator;
    if (nominator >= ZPTP_COLUMN_MAX || (row->valid & (1u << nominator)) == 0) {
        return nullptr;
    }
    uint32_t arcs[5] = {row->domain, row->clock_type, row->instance, row->port_number, row->peer_index};
    uint32_t instance_arcs[5];
    // The index of a row in its table's order: system domain (clock type), system (domain,
    // instance), the others (domain, clock type, instance, port number, peer index) as far as they go.
    if (index_count == 1) {
        instance_arcs[0] = row->clock_type;
    } else if (index_count == 2) {
        instance_arcs[0] = row->domain;
        instance_arcs[1] = row->instance;
    } else {
        for (uint32_t k = 0; k < index_count; ++k) {
            instance_arcs[k] = arcs[k];
        }
    }
    OID instance{static_cast<int32_t>(index_count), instance_arcs};
    const zelvoPtpmib_column_value &v = row->columns[nominator];
    switch (object->oidtype) {
    case SNMP_OCTET_PRIM_TYPE: {
        OctetString *os = CloneOctetString(v.os);
        return os != nullptr ? MakeVarBind(object, &instance, os) : nullptr;
    }
    case SNMP_COUNTER_64_TYPE: {
        // A counter marked valid without its value (an associate without counters) is 0.
        const UInt64 zero{0, 0};
        UInt64 *c = CloneUInt64(v.counter != nullptr ? v.counter : &zero);
        return c != nullptr ? MakeVarBind(object, &instance, c) : nullptr;
    }
    default: return MakeVarBind(object, &instance, &v.number);
    }
}

VarBind *column_get(OID *incoming, ObjectInfo *object, int searchType, int serialNum, const table_shape &shape)
{
    if (incoming == nullptr || object == nullptr) {
        return nullptr;
    }
    zelvoPtpmib_mutex_lock();
    VarBind *vb = nullptr;
    const int32_t base = object->oid.length;
    uint32_t index[5] = {};
    bool ok = true;
    if (searchType == SNMP_EXACT && incoming->length != base + static_cast<int32_t>(shape.index_count)) {
        ok = false;
    }
    int carry = searchType == SNMP_EXACT ? 0 : 1;
    // A request that diverges from the column before its instance is no instance of it.
    for (int32_t k = 0; ok && k < base && k < incoming->length; ++k) {
        ok = incoming->oid_ptr[k] == object->oid.oid_ptr[k];
    }
    for (int32_t k = static_cast<int32_t>(shape.index_count) - 1; ok && k >= 0; --k) {
        if ((shape.signed_mask & (1u << k)) != 0) {
            int32_t v = 0;
            ok = InstToInt(incoming, base + k, &v, searchType, &carry) >= 0;
            index[k] = static_cast<uint32_t>(v);
        } else {
            ok = InstToUInt(incoming, base + k, &index[k], searchType, &carry) >= 0;
        }
    }
    if (ok && carry != 0) {
        ok = false; // past the last instance
    }
    if (ok && searchType == SNMP_NEXT && index[shape.index_count - 1] == 0) {
        index[shape.index_count - 1] = shape.index_count >= 4 ? 1 : 0; // port numbers and peer indices start at 1
    }
    if (ok) {
        zelvoPtpmib_row_type *row = shape.row(serialNum, object->nominator, searchType, index);
        if (row != nullptr) {
            vb = answer(object, row, shape.index_count);
        }
    }
    zelvoPtpmib_mutex_unlock();
    return vb;
}

} // namespace

// ---- slave count ----

uint32_t zelvoPtpmib_slave_count()
{
    decoded<ptp_local_clock_info> clock(ptp_local_clock_info_bag_getfn());
    if (zelvoPtpmib_local_clock_get(&clock.r) != 0) {
        return 0;
    }
    uint32_t count = 0;
    zelvoPtpmib_mutex_lock();
    tree_cache_type *c = &zPtpClockPortAssociateEntry_cache;
    if (c->tree_ready && !avl2_is_empty(&c->tree)) {
        tree_cache_drop(c, true);
    }
    if (tree_cache_build(c, &clock.r) == 0) {
        // Counted under the lock: a request may drop and free the rows as soon as it is released.
        (void)avl2_walk(
            &c->tree,
            [](avl2_node_type *node, void *context) {
                if (reinterpret_cast<tree_row_type *>(node)->row.unicast_peer) {
                    ++*static_cast<uint32_t *>(context);
                }
                return true;
            },
            &count);
    }
    zelvoPtpmib_mutex_unlock();
    return count;
}

// ---- row functions ----

zelvoPtpmib_row_type *k_zPtpSystemEntry_get(int serialNum, ContextInfo *, int nominator, int searchType,
                                            uint32_t domain, uint32_t instance)
{
    ZPTP_DEBUG(ZPTP_TEXT("System") " table request, serialNum %u, nominator %u, searchType %s, domain %u, instance %u",
               serialNum, nominator, search_text(searchType), domain, instance);
    single_cache_type *c = &zPtpSystemEntry_cache;
    if (!c->cache.valid) {
        if (system_build() == 0) {
            plugin.system_built = true;
            cache_start(&c->cache);
        } else if (!plugin.system_built) {
            return nullptr;
        }
        // Otherwise the row of the last successful build answers.
    }
    const bool match = searchType == SNMP_EXACT
                           ? domain == c->row.domain && instance == 0
                           : (domain < c->row.domain || (domain == c->row.domain && instance == 0));
    return match ? &c->row : nullptr;
}

zelvoPtpmib_row_type *k_zPtpSystemDomainEntry_get(int serialNum, ContextInfo *, int nominator, int searchType,
                                                  int32_t clock_type)
{
    ZPTP_DEBUG(ZPTP_TEXT("SystemDomain") " table request: serial num %u, nominator %u, search type %s, clock type %u",
               serialNum, nominator, search_text(searchType), clock_type);
    static zelvoPtpmib_row_type row = [] {
        zelvoPtpmib_row_type r{};
        r.clock_type = ZPTP_CLOCK_TYPE; // its only index
        r.columns[1].number = 1;
        r.valid = 1u << 1;
        return r;
    }();
    const bool match = searchType == SNMP_EXACT ? clock_type == static_cast<int32_t>(ZPTP_CLOCK_TYPE)
                                                : clock_type <= static_cast<int32_t>(ZPTP_CLOCK_TYPE);
    return match ? &row : nullptr;
}

zelvoPtpmib_row_type *k_zPtpClockNodeEntry_get(int, ContextInfo *, int, int, uint32_t, int32_t, uint32_t)
{
    return nullptr;
}

zelvoPtpmib_row_type *k_zPtpClockCurrentDSEntry_get(int serialNum, ContextInfo *, int nominator, int searchType,
                                                    uint32_t domain, int32_t clock_type, uint32_t instance)
{
    ZPTP_DEBUG(ZPTP_TEXT("ClockCurrentDS") " table request: serial num %u, nominator %u, search type %s, domain %u, "
                                           "clock type %u instance %u",
               serialNum, nominator, search_text(searchType), domain, clock_type, instance);
    return single_row_get(&zPtpClockCurrentDSEntry_cache, current_ds_build, searchType, domain, clock_type, instance);
}

zelvoPtpmib_row_type *k_zPtpClockParentDSEntry_get(int serialNum, ContextInfo *, int nominator, int searchType,
                                                   uint32_t domain, int32_t clock_type, uint32_t instance)
{
    ZPTP_DEBUG(ZPTP_TEXT("ClockParentDS") " table request: serial num %u nominator %u, search type %s, domain %u, "
                                          "clock type %u instance %u",
               serialNum, nominator, search_text(searchType), domain, clock_type, instance);
    return single_row_get(&zPtpClockParentDSEntry_cache, parent_ds_build, searchType, domain, clock_type, instance);
}

zelvoPtpmib_row_type *k_zPtpClockDefaultDSEntry_get(int serialNum, ContextInfo *, int nominator, int searchType,
                                                    uint32_t domain, int32_t clock_type, uint32_t instance)
{
    ZPTP_DEBUG(ZPTP_TEXT("ClockDefaultDS") " table request: serial num %u, nominator %u, search type %s, domain %u, "
                                           "clock type %u instance %u",
               serialNum, nominator, search_text(searchType), domain, clock_type, instance);
    return single_row_get(&zPtpClockDefaultDSEntry_cache, default_ds_build, searchType, domain, clock_type, instance);
}

zelvoPtpmib_row_type *k_zPtpClockRunningEntry_get(int serialNum, ContextInfo *, int nominator, int searchType,
                                                  uint32_t domain, int32_t clock_type, uint32_t instance)
{
    ZPTP_DEBUG(ZPTP_TEXT("ClockRunning") " table request: serial num %u, nominator %u, search type %s, domain %u, "
                                         "clock type %u, instance %u",
               serialNum, nominator, search_text(searchType), domain, clock_type, instance);
    return single_row_get(&zPtpClockRunningEntry_cache, running_build, searchType, domain, clock_type, instance);
}

zelvoPtpmib_row_type *k_zPtpClockTimePropertiesDSEntry_get(int serialNum, ContextInfo *, int nominator, int searchType,
                                                           uint32_t domain, int32_t clock_type, uint32_t instance)
{
    ZPTP_DEBUG(ZPTP_TEXT("ClockTimePropertiesDS") " table request: serial num %u nominator %u, searchType %s, domain "
                                                  "%u, clock type %u instance %u",
               serialNum, nominator, search_text(searchType), domain, clock_type, instance);
    return single_row_get(&zPtpClockTimePropertiesDSEntry_cache, time_properties_build, searchType, domain, clock_type,
                          instance);
}

zelvoPtpmib_row_type *k_zPtpClockTransDefaultDSEntry_get(int, ContextInfo *, int, int, uint32_t, uint32_t)
{
    return nullptr;
}

zelvoPtpmib_row_type *k_zPtpClockPortEntry_get(int serialNum, ContextInfo *, int nominator, int searchType,
                                               uint32_t domain, int32_t clock_type, uint32_t instance,
                                               uint32_t port_number)
{
    ZPTP_DEBUG(ZPTP_TEXT("ClockPort") " table request: serial num %u, nominator %u, search type %s, domain %u, clock "
                                      "type %u, instance %u, port num %u",
               serialNum, nominator, search_text(searchType), domain, clock_type, instance, port_number);
    // The port table reads the local clock on every request: no active clock, no ports, however
    // fresh its cache.
    decoded<ptp_local_clock_info> clock(ptp_local_clock_info_bag_getfn());
    if (zelvoPtpmib_local_clock_get(&clock.r) != 0) {
        return nullptr;
    }
    tree_cache_type *c = &zPtpClockPortEntry_cache;
    if (!c->cache.valid && tree_cache_build(c, &clock.r) != 0) {
        return nullptr;
    }
    return tree_lookup(c, searchType, domain, clock_type, instance, port_number, 0);
}

zelvoPtpmib_row_type *k_zPtpClockPortDSEntry_get(int serialNum, ContextInfo *, int nominator, int searchType,
                                                 uint32_t domain, int32_t clock_type, uint32_t instance,
                                                 uint32_t port_number)
{
    ZPTP_DEBUG(ZPTP_TEXT("ClockPortDS") " table request: serial num %u, nominator %u, search type %s, domain %u, "
                                        "clock type %u, instance %u, port number %u",
               serialNum, nominator, search_text(searchType), domain, clock_type, instance, port_number);
    tree_cache_type *c = &zPtpClockPortDSEntry_cache;
    if (tree_cache_ensure(c) != 0) {
        return nullptr;
    }
    return tree_lookup(c, searchType, domain, clock_type, instance, port_number, 0);
}

zelvoPtpmib_row_type *k_zPtpClockPortRunningEntry_get(int serialNum, ContextInfo *, int nominator, int searchType,
                                                      uint32_t domain, int32_t clock_type, uint32_t instance,
                                                      uint32_t port_number)
{
    ZPTP_DEBUG(ZPTP_TEXT("ClockPortRunning") " table request: serial num %u, nominator %u, search type %s, domain "
                                             "%u, clock type %u, instance %u, port number %u",
               serialNum, nominator, search_text(searchType), domain, clock_type, instance, port_number);
    tree_cache_type *c = &zPtpClockPortRunningEntry_cache;
    if (tree_cache_ensure(c) != 0) {
        return nullptr;
    }
    return tree_lookup(c, searchType, domain, clock_type, instance, port_number, 0);
}

zelvoPtpmib_row_type *k_zPtpClockPortTransDSEntry_get(int, ContextInfo *, int, int, uint32_t, uint32_t, uint32_t)
{
    return nullptr;
}

zelvoPtpmib_row_type *k_zPtpClockPortAssociateEntry_get(int serialNum, ContextInfo *, int nominator, int searchType,
                                                        uint32_t domain, int32_t clock_type, uint32_t instance,
                                                        uint32_t port_number, uint32_t peer_index)
{
    ZPTP_DEBUG(ZPTP_TEXT("ClockPortAssociate") " table request: serial num %u, nominator %u, search type %s, domain "
                                               "%u, clock type %u, instance %u, port number %u, peer index %u",
               serialNum, nominator, search_text(searchType), domain, clock_type, instance, port_number, peer_index);
    tree_cache_type *c = &zPtpClockPortAssociateEntry_cache;
    if (tree_cache_ensure(c) != 0) {
        return nullptr;
    }
    return tree_lookup(c, searchType, domain, clock_type, instance, port_number, peer_index);
}

// ---- getters ----

namespace {

const table_shape system_shape{
    2, 0, [](int s, int n, int t, const uint32_t *x) { return k_zPtpSystemEntry_get(s, nullptr, n, t, x[0], x[1]); }};
#define ZPTP_CLOCK_SHAPE(name, fn)                                                                                     \
    const table_shape name{3, 0x2, [](int s, int n, int t, const uint32_t *x) {                                        \
                               return fn(s, nullptr, n, t, x[0], static_cast<int32_t>(x[1]), x[2]);                    \
                           }};
ZPTP_CLOCK_SHAPE(current_ds_shape, k_zPtpClockCurrentDSEntry_get)
ZPTP_CLOCK_SHAPE(parent_ds_shape, k_zPtpClockParentDSEntry_get)
ZPTP_CLOCK_SHAPE(default_ds_shape, k_zPtpClockDefaultDSEntry_get)
ZPTP_CLOCK_SHAPE(running_shape, k_zPtpClockRunningEntry_get)
ZPTP_CLOCK_SHAPE(time_properties_shape, k_zPtpClockTimePropertiesDSEntry_get)
#undef ZPTP_CLOCK_SHAPE
#define ZPTP_PORT_SHAPE(name, fn)                                                                                      \
    const table_shape name{4, 0x2, [](int s, int n, int t, const uint32_t *x) {                                        \
                               return fn(s, nullptr, n, t, x[0], static_cast<int32_t>(x[1]), x[2], x[3]);              \
                           }};
ZPTP_PORT_SHAPE(port_shape, k_zPtpClockPortEntry_get)
ZPTP_PORT_SHAPE(port_ds_shape, k_zPtpClockPortDSEntry_get)
ZPTP_PORT_SHAPE(port_running_shape, k_zPtpClockPortRunningEntry_get)
#undef ZPTP_PORT_SHAPE
const table_shape associate_shape{5, 0x2, [](int s, int n, int t, const uint32_t *x) {
                                      return k_zPtpClockPortAssociateEntry_get(
                                          s, nullptr, n, t, x[0], static_cast<int32_t>(x[1]), x[2], x[3], x[4]);
                                  }};

} // namespace

VarBind *zPtpSystemEntry_get(OID *incoming, ObjectInfo *object, int searchType, ContextInfo *, int serialNum)
{
    return column_get(incoming, object, searchType, serialNum, system_shape);
}

// No lock and no cache: one constant row.
VarBind *zPtpSystemDomainEntry_get(OID *incoming, ObjectInfo *object, int searchType, ContextInfo *, int serialNum)
{
    if (incoming == nullptr || object == nullptr) {
        return nullptr;
    }
    const int32_t base = object->oid.length;
    if (searchType == SNMP_EXACT && incoming->length != base + 1) {
        return nullptr;
    }
    for (int32_t k = 0; k < base && k < incoming->length; ++k) {
        if (incoming->oid_ptr[k] != object->oid.oid_ptr[k]) {
            return nullptr;
        }
    }
    int carry = searchType == SNMP_EXACT ? 0 : 1;
    int32_t clock_type = 0;
    if (InstToInt(incoming, base, &clock_type, searchType, &carry) < 0 || carry != 0) {
        return nullptr;
    }
    zelvoPtpmib_row_type *row =
        k_zPtpSystemDomainEntry_get(serialNum, nullptr, object->nominator, searchType, clock_type);
    return row != nullptr ? answer(object, row, 1) : nullptr;
}

VarBind *zPtpClockNodeEntry_get(OID *, ObjectInfo *, int, ContextInfo *, int)
{
    return nullptr;
}

VarBind *zPtpClockCurrentDSEntry_get(OID *incoming, ObjectInfo *object, int searchType, ContextInfo *, int serialNum)
{
    return column_get(incoming, object, searchType, serialNum, current_ds_shape);
}

VarBind *zPtpClockParentDSEntry_get(OID *incoming, ObjectInfo *object, int searchType, ContextInfo *, int serialNum)
{
    return column_get(incoming, object, searchType, serialNum, parent_ds_shape);
}

VarBind *zPtpClockDefaultDSEntry_get(OID *incoming, ObjectInfo *object, int searchType, ContextInfo *, int serialNum)
{
    return column_get(incoming, object, searchType, serialNum, default_ds_shape);
}

VarBind *zPtpClockRunningEntry_get(OID *incoming, ObjectInfo *object, int searchType, ContextInfo *, int serialNum)
{
    return column_get(incoming, object, searchType, serialNum, running_shape);
}

VarBind *zPtpClockTimePropertiesDSEntry_get(OID *incoming, ObjectInfo *object, int searchType, ContextInfo *,
                                            int serialNum)
{
    return column_get(incoming, object, searchType, serialNum, time_properties_shape);
}

VarBind *zPtpClockTransDefaultDSEntry_get(OID *, ObjectInfo *, int, ContextInfo *, int)
{
    return nullptr;
}

VarBind *zPtpClockPortEntry_get(OID *incoming, ObjectInfo *object, int searchType, ContextInfo *, int serialNum)
{
    return column_get(incoming, object, searchType, serialNum, port_shape);
}

VarBind *zPtpClockPortDSEntry_get(OID *incoming, ObjectInfo *object, int searchType, ContextInfo *, int serialNum)
{
    return column_get(incoming, object, searchType, serialNum, port_ds_shape);
}

VarBind *zPtpClockPortRunningEntry_get(OID *incoming, ObjectInfo *object, int searchType, ContextInfo *, int serialNum)
{
    return column_get(incoming, object, searchType, serialNum, port_running_shape);
}

VarBind *zPtpClockPortTransDSEntry_get(OID *, ObjectInfo *, int, ContextInfo *, int)
{
    return nullptr;
}

VarBind *zPtpClockPortAssociateEntry_get(OID *incoming, ObjectInfo *object, int searchType, ContextInfo *,
                                         int serialNum)
{
    return column_get(incoming, object, searchType, serialNum, associate_shape);
}

// ---- scalar groups ----

zelvoPtpmib_row_type *k_zelvoPtpMIBSystemInfo_get(int serialNum, ContextInfo *, int nominator, int)
{
    ZPTP_DEBUG("SystemInfo request, serialNum %u, nominator %u", serialNum, nominator);
    static zelvoPtpmib_row_type row = [] {
        zelvoPtpmib_row_type r{};
        r.columns[0].number = ZPTP_PROFILE;
        r.valid = 1;
        return r;
    }();
    return nominator == 0 ? &row : nullptr;
}

VarBind *zelvoPtpMIBSystemInfo_get(OID *incoming, ObjectInfo *object, int searchType, ContextInfo *, int serialNum)
{
    if (incoming == nullptr || object == nullptr) {
        return nullptr;
    }
    const int32_t base = object->oid.length;
    if (searchType == SNMP_EXACT) {
        if (incoming->length != base + 1 || incoming->oid_ptr[base] != 0) {
            return nullptr;
        }
    } else if (incoming->length > base) {
        return nullptr;
    }
    zelvoPtpmib_row_type *row = k_zelvoPtpMIBSystemInfo_get(serialNum, nullptr, object->nominator, searchType);
    if (row == nullptr) {
        return nullptr;
    }
    return MakeVarBind(object, &snmp_zeroOID, &row->columns[0].number);
}

VarBind *zelvoPtpMIBNotificationControl_get(OID *, ObjectInfo *, int, ContextInfo *, int)
{
    return nullptr;
}

void *k_zelvoPtpMIBNotificationControl_get(int, ContextInfo *, int)
{
    return nullptr;
}

namespace {

struct notification_control_scratch {
    int32_t value;
    uint32_t valid;
};
static_assert(sizeof(notification_control_scratch) == 8);

void notification_control_cleanup(doList_t *entry)
{
    zelvoPtpMIBNotificationControl_free(entry->data);
    entry->data = nullptr;
}

} // namespace

void zelvoPtpMIBNotificationControl_free(void *scratch)
{
    free(scratch);
}

int zelvoPtpMIBNotificationControl_test(OID *incoming, ObjectInfo *object, ObjectSyntax *value, doList_t *doHead,
                                        doList_t *doCur, ContextInfo *)
{
    if (incoming == nullptr || object == nullptr || value == nullptr || doCur == nullptr ||
        incoming->length != object->oid.length + 1 || incoming->oid_ptr[object->oid.length] != 0) {
        return SNMP_NO_CREATION_ERROR;
    }
    doList_t *entry = nullptr;
    for (doList_t *e = doHead; e != nullptr; e = e->next) {
        if (e != doCur && e->setMethod == zelvoPtpMIBNotificationControl_set && e->data != nullptr) {
            entry = e;
        }
    }
#ifdef ZELVO_PTP_MIB_V2
    if (entry != nullptr) {
        return SNMP_GEN_ERROR;
    }
    auto *scratch = static_cast<notification_control_scratch *>(calloc(1, sizeof(notification_control_scratch)));
    if (scratch == nullptr) {
        return SNMP_RESOURCE_UNAVAILABLE_ERROR;
    }
    doCur->data = scratch;
    doCur->setMethod = zelvoPtpMIBNotificationControl_set;
    doCur->cleanupMethod = notification_control_cleanup;
    doCur->state = SNMP_UNKNOWN_STATE;
    return SNMP_GEN_ERROR;
#else
    if (entry == nullptr) {
        auto *scratch = static_cast<notification_control_scratch *>(calloc(1, sizeof(notification_control_scratch)));
        if (scratch == nullptr) {
            return SNMP_RESOURCE_UNAVAILABLE_ERROR;
        }
        entry = doCur;
        entry->data = scratch;
        entry->setMethod = zelvoPtpMIBNotificationControl_set;
        entry->cleanupMethod = notification_control_cleanup;
        entry->state = SNMP_UNKNOWN_STATE;
    }
    if (object->nominator != 0) {
        return SNMP_GEN_ERROR;
    }
    if (value->slval != 1 && value->slval != 2) {
        return SNMP_WRONG_VALUE_ERROR;
    }
    auto *scratch = static_cast<notification_control_scratch *>(entry->data);
    scratch->value = value->slval;
    scratch->valid |= 1;
    entry->state = SNMP_ADD_MODIFY;
    return SNMP_NO_ERROR;
#endif
}

int zelvoPtpMIBNotificationControl_set(doList_t *, doList_t *, ContextInfo *)
{
    return SNMP_COMMIT_FAILED_ERROR;
}

int k_zelvoPtpMIBNotificationControl_test(ObjectInfo *, ObjectSyntax *, doList_t *, ContextInfo *)
{
    return SNMP_NO_ERROR;
}

int k_zelvoPtpMIBNotificationControl_ready(ObjectInfo *, ObjectSyntax *, doList_t *, doList_t *dp)
{
    if (dp != nullptr) {
        dp->state = SNMP_ADD_MODIFY;
    }
    return SNMP_NO_ERROR;
}

int k_zelvoPtpMIBNotificationControl_set(void *, ContextInfo *, int)
{
    return SNMP_COMMIT_FAILED_ERROR;
}

// ---- shared helpers ----

void zelvoPtpmib_clock_id_text(uint64_t id, char *text, size_t size)
{
    snprintf(text, size, "0x%x:%x:%x:%x:%x:%x:%x:%x", static_cast<unsigned>((id >> 56) & 0xff),
             static_cast<unsigned>((id >> 48) & 0xff), static_cast<unsigned>((id >> 40) & 0xff),
             static_cast<unsigned>((id >> 32) & 0xff), static_cast<unsigned>((id >> 24) & 0xff),
             static_cast<unsigned>((id >> 16) & 0xff), static_cast<unsigned>((id >> 8) & 0xff),
             static_cast<unsigned>(id & 0xff));
}

uint32_t zelvoPtpmib_time_source(uint32_t source)
{
    constexpr uint32_t map[] = {16, 32, 48, 64, 80, 96, 144, 144, 144, 160};
    const uint32_t x = source - 16;
    const uint32_t k = (x >> 4) | (x << 28);
    return k < std::size(map) ? map[k] : 144;
}

bool zelvoPtpmib_address_columns(const ptp_bag_address *address, bool for_table, uint32_t *type, uint8_t *bytes,
                                 uint32_t *length)
{
    *length = 0;
    const uint32_t encap = address != nullptr ? address->Encapsulation : PTP_BAG_ENCAP_Unknown;
    switch (encap) {
    case PTP_BAG_ENCAP_IPv4:
#ifdef ZELVO_PTP_MIB_V2
        *type = 0;
#else
        *type = 1;
#endif
        memcpy(bytes, &address->value.IPv4Address, 4);
        *length = 4;
        return true;
    case PTP_BAG_ENCAP_IPv6:
#ifdef ZELVO_PTP_MIB_V2
        *type = 1;
#else
        *type = 2;
#endif
        memcpy(bytes, address->value.IPv6Address.IPv6Address, 16);
        *length = 16;
        return true;
#ifdef ZELVO_PTP_MIB_V2
    case PTP_BAG_ENCAP_Ethernet:
        *type = 2;
        memcpy(bytes, address->value.MACAddress.macaddr, 6);
        *length = 6;
        return true;
    default: (void)for_table; return false;
#else
    default:
        // The tables answer type 0 for another kind of address; the notifications leave it out.
        *type = 0;
        return for_table && address != nullptr;
#endif
    }
}

// ---- load and unload ----

void init_zelvoPtpmib(snmp_mib_handle_ct *mib, int flag)
{
    if (flag != 0) {
        // Registered once; removed at unload.
        if (plugin.oid_registration == nullptr) {
            plugin.oid_registration = snmp_load_oid(mib, zelvoPtpmib_oid_table);
        }
        zelvoPtpmib_evm = snmp_import_evmh(plugin.oid_registration);
        if (!plugin.debug_registered) {
            const int rc = snmp_register_mib_debug(mib, &zelvoPtpmib_debug_flags);
            if (rc != 0) {
                mib_error("Failed to register debug: ", zerr_strerror(static_cast<zerrno>(rc)));
            } else {
                plugin.debug_registered = true;
            }
        }
        (void)bag_register_all_ptp_bags();
        if (zelvoPtpmib_nodra_conn == nullptr) {
            const zerrno rc =
                library_present() ? _nodra_bind(&zelvoPtpmib_nodra_conn, "/oper/ptp/", 4) : NODRA_ERR_BIND_NO_LIBRARY;
            if (rc != 0) {
                zelvoPtpmib_nodra_conn = nullptr;
                mib_error("Failed to bind to nodra: ", zerr_strerror(rc));
            }
        }
        ptp_mib_traps_init(mib, zelvoPtpmib_evm, zelvoPtpmib_nodra_conn, zelvoPtpmib_slave_count);
        if (!plugin.pd_ready) {
            const ptp_pd_mib_init_in_type in{zelvoPtpmib_evm};
            uint32_t result = 0;
            const zerrno rc = ptp_pd_mib_init(&in, &result);
            if (rc != 0) {
                mib_error("Failed to initialize PD MIB DLL: ", zerr_strerror(rc));
            } else if (result != 0) {
                mib_error("Unsupported PT MIB DLL Version", "");
            } else {
                plugin.pd_ready = true;
            }
        }
        if (plugin.pulse_code == -1 && zelvoPtpmib_evm != nullptr) {
            plugin.pulse_code =
                event_async_attach_event(zelvoPtpmib_evm, 128, zelvoPtpmib_timer_process, nullptr, &plugin.timer_event);
            if (plugin.pulse_code == -1) {
                mib_error("Failed to allocate pulse code for timer: ", strerror(errno));
            }
        }
        if (plugin.pulse_code != -1 && plugin.timer_tree == nullptr) {
            plugin.timer_tree = mgd_timer_tree_new(&plugin.timer_event, 0);
            if (plugin.timer_tree == nullptr) {
                mib_error("Failed to create managed timer tree", "");
            }
        }
        if (plugin.timer_tree != nullptr && plugin.timer_parent == nullptr) {
            plugin.timer_parent = mgd_timer_parent_new(plugin.timer_tree, nullptr);
            if (plugin.timer_parent == nullptr) {
                mib_error("Failed to create managed timer parent", "");
            }
        }
        if (plugin.timer_parent != nullptr) {
            for (const cache_timer_row &row : zelvoPtpmib_cache_timers) {
                if (*row.slot == nullptr) {
                    *row.slot = mgd_timer_leaf_new(plugin.timer_tree, plugin.timer_parent, 0,
                                                   const_cast<cache_timer_row *>(&row));
                    if (*row.slot == nullptr) {
                        mib_error("Failed to allocate cache timer", "");
                    }
                }
            }
        }
        if (!plugin.mutex_initialised) {
            memset(&zelvoPtpmib_mutex, 0, sizeof zelvoPtpmib_mutex);
            pthread_mutexattr_t attr;
            int rc = pthread_mutexattr_init(&attr);
            if (rc == 0) {
                rc = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK);
                if (rc == 0) {
                    rc = pthread_mutex_init(&zelvoPtpmib_mutex, &attr);
                }
                (void)pthread_mutexattr_destroy(&attr);
            }
            if (rc != 0) {
                mib_error("Failed to initialize mutex: ", strerror(rc));
            } else {
                plugin.mutex_initialised = true;
            }
        }
        return;
    }

    for (single_cache_type *c : {&zPtpClockRunningEntry_cache, &zPtpClockParentDSEntry_cache,
                                 &zPtpClockDefaultDSEntry_cache, &zPtpClockCurrentDSEntry_cache}) {
        zelvoPtpmib_mutex_lock();
        if (c->cache.valid) {
            row_free_values(&c->row);
        }
        c->cache.valid = false;
        zelvoPtpmib_mutex_unlock();
    }
    // The system and time-properties rows hold no strings or counters; they are forgotten too.
    for (single_cache_type *c : {&zPtpSystemEntry_cache, &zPtpClockTimePropertiesDSEntry_cache}) {
        row_free_values(&c->row);
        c->cache.valid = false;
    }
    plugin.system_built = false;
    zelvoPtpmib_zPtpClockPort_cache_drop();
    zelvoPtpmib_zPtpClockPortDS_cache_drop();
    zelvoPtpmib_zPtpClockPortRunning_cache_drop();
    zelvoPtpmib_zPtpClockPortAssociate_cache_drop();
    if (plugin.mutex_initialised) {
        (void)pthread_mutex_destroy(&zelvoPtpmib_mutex);
        plugin.mutex_initialised = false;
    }
    for (const cache_timer_row &row : zelvoPtpmib_cache_timers) {
        if (*row.slot != nullptr) {
            (void)mgd_timer_leaf_stop(*row.slot);
            (void)mgd_timer_leaf_free(*row.slot);
            *row.slot = nullptr;
        }
    }
    if (plugin.timer_parent != nullptr) {
        (void)mgd_timer_parent_free(plugin.timer_parent);
        plugin.timer_parent = nullptr;
    }
    if (plugin.timer_tree != nullptr) {
        (void)mgd_timer_tree_free(plugin.timer_tree);
        plugin.timer_tree = nullptr;
    }
    if (plugin.pd_ready) {
        ptp_pd_mib_shutdown();
        plugin.pd_ready = false;
    }
    ptp_mib_traps_shutdown(mib);
    if (zelvoPtpmib_nodra_conn != nullptr) {
        if (library_present()) {
            (void)_nodra_unbind(zelvoPtpmib_nodra_conn);
        }
        zelvoPtpmib_nodra_conn = nullptr;
    }
    if (plugin.oid_registration != nullptr) {
        snmp_unload_oid(mib, plugin.oid_registration);
        plugin.oid_registration = nullptr;
    }
    // The agent may unmap the plug-in after an unload: nothing of it may stay attached.
    if (plugin.pulse_code != -1 && zelvoPtpmib_evm != nullptr) {
        (void)event_async_attach(zelvoPtpmib_evm, plugin.pulse_code, nullptr, nullptr);
    }
    plugin.pulse_code = -1;
    zelvoPtpmib_evm = nullptr;
}
