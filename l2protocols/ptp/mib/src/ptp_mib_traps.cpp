// The MIB plug-in's notifications: the trap-enable items, the controller's and the agents'
// notification items, the raise and clear rules with their latches, and the variable bindings.
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bag.h"
#include "nodra_backend.h"
#include "nodra_schema.h"
#include "ptp_bags.h"
#include "tuple.h"
#include "zelvoPtpmib.h"

namespace {

constexpr uint32_t NOT_REGISTERED = UINT32_MAX;

struct trap_state_type {
    bool clock_class_enabled;
    uint8_t clock_class;
    bool clock_class_latch;
    bool clock_state_enabled;
    uint32_t clock_state;
    bool clock_state_latch;
    uint32_t previous_state;
    bool time_source_enabled;
    uint8_t time_source;
    bool time_source_latch;
    bool utc_offset_enabled;
    int16_t utc_offset;
    bool utc_offset_latch;
    bool offset_enabled;
    int64_t warning;
    int64_t critical;
    bool warning_latch;
    bool critical_latch;
    bool master_lost_enabled;
    bool master_lost_latch;
    bool slave_lost_enabled;
    bool all_slaves_lost_enabled;
    bool all_slaves_lost_latch;
};

struct traps_type {
    trap_state_type state{};
    zelvoPtpmib_slave_count_fn slave_count = nullptr;
    bool enables_registered = false;
    uint32_t global_registration = NOT_REGISTERED;
    uint32_t local_registration = NOT_REGISTERED;
    tuple_type *default_tuple = nullptr;
};
traps_type traps;

const char *configured(bool on)
{
    return on ? "Configured" : "Unconfigured";
}

constexpr const char *clock_state_names[] = {"Unknown",    "Freerun",      "Acquiring",
                                             "FreqLocked", "PhaseAligned", "Holdover"};

const char *clock_state_name(uint32_t s)
{
    return s < std::size(clock_state_names) ? clock_state_names[s] : "Invalid";
}

constexpr const char *time_source_names[] = {
    "Atomic Clock", "GPS",     "Terrestrial Radio", "PTP",   "NTP",
    "Hand-set",     "Unknown", "Unknown",           "Other", "Internal Oscillator"};

const char *time_source_name(uint32_t source)
{
    const uint32_t x = source - 16;
    const uint32_t k = (x >> 4) | (x << 28);
    return k < std::size(time_source_names) ? time_source_names[k] : "Unknown";
}

// ---- variable bindings ----

OID oid_of(uint32_t *arcs, int32_t length)
{
    return OID{length, arcs};
}

#define ZPTP_OID(object) oid_of(ID##object, static_cast<int32_t>(std::size(ID##object)))

struct binding_list {
    VarBind *head = nullptr;
    VarBind *tail = nullptr;
    bool failed = false;
    binding_list() = default;
    binding_list(const binding_list &) = delete;
    binding_list &operator=(const binding_list &) = delete;
    ~binding_list() { FreeVarBindList(head); }
    void append(VarBind *vb)
    {
        if (vb == nullptr) {
            failed = true;
            return;
        }
        (tail != nullptr ? tail->next_var : head) = vb;
        tail = vb;
    }
    VarBind *release()
    {
        VarBind *h = head;
        head = tail = nullptr;
        return h;
    }
};

void ptp_mib_traps_make_var_bind(binding_list *list, OID object, uint8_t type, const void *value)
{
    OID none{0, nullptr};
    list->append(MakeVarBindWithValue(&object, &none, type, value));
}

void add_integer(binding_list *list, OID object, int32_t value)
{
    ptp_mib_traps_make_var_bind(list, object, SNMP_INTEGER_TYPE, &value);
}

void add_text(binding_list *list, OID object, const char *text)
{
    OctetString *os = MakeOctetStringFromText(text);
    if (os == nullptr) {
        OID none{0, nullptr};
        list->append(MakeVarBindWithNull(&object, &none));
        return;
    }
    ptp_mib_traps_make_var_bind(list, object, SNMP_OCTET_PRIM_TYPE, os);
}

void add_address(binding_list *list, OID type_object, OID address_object, const ptp_bag_address *address)
{
    uint32_t type = 0;
    uint8_t bytes[16];
    uint32_t length = 0;
    if (address == nullptr || !zelvoPtpmib_address_columns(address, false, &type, bytes, &length)) {
        return;
    }
    add_integer(list, type_object, static_cast<int32_t>(type));
    OctetString *os = MakeOctetString(bytes, static_cast<int32_t>(length));
    if (os == nullptr) {
        list->failed = true;
        return;
    }
    ptp_mib_traps_make_var_bind(list, address_object, SNMP_OCTET_PRIM_TYPE, os);
}

void ptp_mib_traps_add_zPtpClockPortAssociateAddress(binding_list *list, const ptp_bag_address *addr)
{
    add_address(list, ZPTP_OID(zPtpClockPortAssociateAddressType), ZPTP_OID(zPtpClockPortAssociateAddress), addr);
}

void ptp_mib_traps_add_zPtpClockPortCurrentPeerAddress(binding_list *list, const ptp_bag_address *peer)
{
    add_address(list, ZPTP_OID(zPtpClockPortCurrentPeerAddressType), ZPTP_OID(zPtpClockPortCurrentPeerAddress), peer);
}

void ptp_mib_traps_add_zPtpClockParentDSGMClockIdentity(binding_list *list, uint64_t clock_id)
{
    char text[64];
    zelvoPtpmib_clock_id_text(clock_id, text, sizeof text);
    add_text(list, ZPTP_OID(zPtpClockParentDSGMClockIdentity), text);
}

void add_instance_index(binding_list *list)
{
    add_integer(list, oid_of(IDzPtpClockPortClockInstanceIndex, 14), 0);
}

// The clock state (1 to 5) as the MIB's; 0 for Unknown and beyond, whose binding is left out.
int32_t mapped_state(uint32_t s)
{
    constexpr int32_t map[] = {0, 1, 3, 4, 5, 2};
    return s < std::size(map) ? map[s] : 0;
}

void add_state(binding_list *list, OID object, uint32_t state)
{
    const int32_t mapped = mapped_state(state);
    if (mapped != 0) {
        add_integer(list, object, mapped);
    }
}

// The offset in units of 2^-16 ns as decimal text: past +-2^48 ns the 32-bit limits. The shift is
// made in 128 bits, so an offset within the limits but beyond 2^47 ns cannot overflow.
void scaled_offset_text(int64_t offset_ns, uint16_t sub_ns, char *text, size_t size)
{
    constexpr int64_t limit = int64_t{1} << 48;
    if (offset_ns < -limit) {
        snprintf(text, size, "%ld", -2147483648L);
        return;
    }
    if (offset_ns > limit) {
        snprintf(text, size, "%ld", 2147483647L);
        return;
    }
    const __int128 scaled = static_cast<__int128>(offset_ns) * 65536 + sub_ns;
    const bool negative = scaled < 0;
    unsigned __int128 magnitude =
        negative ? static_cast<unsigned __int128>(-scaled) : static_cast<unsigned __int128>(scaled);
    char digits[48];
    size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + static_cast<int>(magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    size_t used = 0;
    if (negative && used + 1 < size) {
        text[used++] = '-';
    }
    while (n > 0 && used + 1 < size) {
        text[used++] = digits[--n];
    }
    text[used] = 0;
}

void ptp_mib_traps_ptp_mib_traps_raise_trap(uint32_t n, binding_list *list)
{
    if (list->failed) {
        ZPTP_DEBUG("Failed to make the variable bindings of notification %u", n);
        return;
    }
    OID notification = oid_of(IDzelvoPtpNotification[n], 11);
    char dotted[SNMP_DOT_OID_MAX];
    if (MakeDotFromOID(&notification, dotted) != 0) {
        ZPTP_DEBUG("Failed to make the identifier of notification %u", n);
        return;
    }
    OID enterprise = oid_of(IDzelvoPtpMIB, ZPTP_MIB_ROOT_LENGTH);
    (void)snmp_trap(SNMP_ENTERPRISE_TRAP, static_cast<int>(n), list->release(), &enterprise, dotted);
}

// ---- builders ----

void ptp_mib_traps_raise_clock_class(uint32_t n, const ptp_trap_clock_class *r)
{
    binding_list list;
    ptp_mib_traps_add_zPtpClockPortAssociateAddress(&list, r->addr);
    ptp_mib_traps_add_zPtpClockParentDSGMClockIdentity(&list, r->clock_id);
    add_integer(&list, ZPTP_OID(zPtpClockParentDSGMClockQualityClass), r->clock_class);
    ptp_mib_traps_ptp_mib_traps_raise_trap(n, &list);
}

void ptp_mib_traps_raise_clock_state(uint32_t n, const ptp_bag_address *addr, uint32_t old_state, uint32_t new_state)
{
    binding_list list;
    add_instance_index(&list);
    ptp_mib_traps_add_zPtpClockPortAssociateAddress(&list, addr);
    add_state(&list, ZPTP_OID(zPtpClockRunningOldState), old_state);
    add_state(&list, ZPTP_OID(zPtpClockRunningNewState), new_state);
    ptp_mib_traps_ptp_mib_traps_raise_trap(n, &list);
}

void ptp_mib_traps_raise_time_source(uint32_t n, uint32_t source)
{
    binding_list list;
    add_integer(&list, ZPTP_OID(zPtpClockTimePropertiesDSSource),
                static_cast<int32_t>(zelvoPtpmib_time_source(source)));
    ptp_mib_traps_ptp_mib_traps_raise_trap(n, &list);
}

void ptp_mib_traps_raise_utc_offset(uint32_t n, const ptp_bag_address *addr, int32_t offset)
{
    binding_list list;
    add_instance_index(&list);
    ptp_mib_traps_add_zPtpClockPortAssociateAddress(&list, addr);
    add_integer(&list, ZPTP_OID(zPtpClockParentDSOffset), offset);
    ptp_mib_traps_ptp_mib_traps_raise_trap(n, &list);
}

// level 0: no severity binding.
void ptp_mib_traps_raise_offset_from_master(uint32_t n, const ptp_trap_offset_threshold_breach *r, int32_t level)
{
    binding_list list;
    add_instance_index(&list);
    ptp_mib_traps_add_zPtpClockPortAssociateAddress(&list, r->addr);
    char text[32];
    scaled_offset_text(r->offset_from_master, r->sub_ns_part, text, sizeof text);
    add_text(&list, ZPTP_OID(zPtpClockCurrentDSOffsetFromMaster), text);
    if (level != 0) {
        add_integer(&list, ZPTP_OID(zPtpClockCurrentDSOffsetSeverityLevel), level);
    }
    ptp_mib_traps_ptp_mib_traps_raise_trap(n, &list);
}

void raise_lost(uint32_t n, const ptp_bag_address *addr, const ptp_bag_address *peer)
{
    binding_list list;
    add_instance_index(&list);
    ptp_mib_traps_add_zPtpClockPortAssociateAddress(&list, addr);
    ptp_mib_traps_add_zPtpClockPortCurrentPeerAddress(&list, peer);
    ptp_mib_traps_ptp_mib_traps_raise_trap(n, &list);
}

void ptp_mib_traps_raise_master_lost(uint32_t n, const ptp_trap_master_lost *r)
{
    raise_lost(n, r->addr, r->peer);
}

void ptp_mib_traps_raise_slave_lost(uint32_t n, const ptp_trap_slave_lost *r)
{
    raise_lost(n, r->addr, r->peer);
}

// ---- the rules ----

void clock_class_rule(const ptp_trap_clock_class *r)
{
    trap_state_type &s = traps.state;
    const uint8_t v = r->clock_class;
    ZPTP_DEBUG("Clock Class update received, trap %s, new val %d, cfgd val %d", configured(s.clock_class_enabled), v,
               s.clock_class);
    if (v != s.clock_class && !s.clock_class_latch) {
        ZPTP_DEBUG("Raising Clock Class trap with class %d", v);
        ptp_mib_traps_raise_clock_class(1, r);
        s.clock_class_latch = true;
    } else if (v == s.clock_class && s.clock_class_latch) {
        ZPTP_DEBUG("Clearing Clock Class trap with class %d", v);
        ptp_mib_traps_raise_clock_class(2, r);
        s.clock_class_latch = false;
    }
}

void clock_state_rule(const ptp_trap_clock_state *r)
{
    trap_state_type &s = traps.state;
    const uint32_t v = r->state;
    ZPTP_DEBUG("Clock State update received, trap %s, new val %s, cfgd val %s", configured(s.clock_state_enabled),
               clock_state_name(v), clock_state_name(s.clock_state));
    if (s.clock_state_enabled) {
        if (v != s.clock_state && !s.clock_state_latch) {
            ZPTP_DEBUG("Raising Clock State trap with state '%s'", clock_state_name(v));
            ptp_mib_traps_raise_clock_state(12, r->addr, s.previous_state, v);
            s.clock_state_latch = true;
        } else if (v == s.clock_state && s.clock_state_latch) {
            ZPTP_DEBUG("Clearing Clock State trap with state '%s'", clock_state_name(v));
            ptp_mib_traps_raise_clock_state(13, r->addr, s.previous_state, v);
            s.clock_state_latch = false;
        }
    }
    s.previous_state = v;
}

void time_source_rule(const ptp_trap_time_source *r)
{
    trap_state_type &s = traps.state;
    const uint8_t v = r->time_source;
    ZPTP_DEBUG("Time Source update received, trap %s, new val '%s' cfgd val '%s'", configured(s.time_source_enabled),
               time_source_name(v), time_source_name(s.time_source));
    if (v != s.time_source && !s.time_source_latch) {
        ZPTP_DEBUG("Raising Time Source trap with val '%s'", time_source_name(v));
        ptp_mib_traps_raise_time_source(10, v);
        s.time_source_latch = true;
    } else if (v == s.time_source && s.time_source_latch) {
        ZPTP_DEBUG("Clearing Time Source trap with val '%s'", time_source_name(v));
        ptp_mib_traps_raise_time_source(11, v);
        s.time_source_latch = false;
    }
}

void utc_offset_rule(const ptp_trap_utc_offset *r)
{
    trap_state_type &s = traps.state;
    const bool present = r->utc_offset != nullptr;
    const int16_t v = present ? static_cast<int16_t>(*r->utc_offset) : 0;
    ZPTP_DEBUG("UTC Offset update received, trap %s, new val %d cfgd val %d", configured(s.utc_offset_enabled), v,
               s.utc_offset);
    if (present && v != s.utc_offset && !s.utc_offset_latch) {
        ptp_mib_traps_raise_utc_offset(8, r->addr, v);
        s.utc_offset_latch = true;
    } else if ((!present || v == s.utc_offset) && s.utc_offset_latch) {
        ptp_mib_traps_raise_utc_offset(9, r->addr, v);
        s.utc_offset_latch = false;
    }
}

void offset_rule(const ptp_trap_offset_threshold_breach *r)
{
    trap_state_type &s = traps.state;
    const int64_t x = r->offset_from_master;
    // |x| without the overflow of the most negative value.
    const int64_t a = x == INT64_MIN ? INT64_MAX : llabs(x);
    ZPTP_DEBUG("Offset threshold update received, trap %s, new val %ld cfgd val warning %ld critical %ld",
               configured(s.offset_enabled), static_cast<long>(x), static_cast<long>(s.warning),
               static_cast<long>(s.critical));
    if (a > s.warning && !s.warning_latch) {
        ZPTP_DEBUG("Raising Offset Threshold Warning, val is %ldns", static_cast<long>(x));
        ptp_mib_traps_raise_offset_from_master(14, r, 1);
        s.warning_latch = true;
    }
    if (a > s.critical && !s.critical_latch) {
        ZPTP_DEBUG("Raising Offset Threshold Critical, val is %ldns", static_cast<long>(x));
        ptp_mib_traps_raise_offset_from_master(15, r, 2);
        s.critical_latch = true;
    }
    if (a <= s.critical && s.critical_latch) {
        ZPTP_DEBUG("Clearing Offset Threshold Critical, val is %ldns", static_cast<long>(x));
        ptp_mib_traps_raise_offset_from_master(17, r, 1);
        s.critical_latch = false;
    }
    if (a <= s.warning && s.warning_latch) {
        ZPTP_DEBUG("Clearing Offset Threshold Warning, val is %ldns", static_cast<long>(x));
        ptp_mib_traps_raise_offset_from_master(16, r, 0);
        s.warning_latch = false;
    }
}

void master_lost_rule(const ptp_trap_master_lost *r)
{
    trap_state_type &s = traps.state;
    ZPTP_DEBUG("Master lost msg received, trap %s, master %s", configured(s.master_lost_enabled),
               r->present != 0 ? "Present" : "Lost");
    if (r->present == 0 && !s.master_lost_latch) {
        ZPTP_DEBUG("Raising Master Lost trap");
        ptp_mib_traps_raise_master_lost(3, r);
        s.master_lost_latch = true;
    } else if (r->present != 0 && s.master_lost_latch) {
        ZPTP_DEBUG("Clearing Master Lost trap");
        ptp_mib_traps_raise_master_lost(4, r);
        s.master_lost_latch = false;
    }
}

void slave_lost_rule(const ptp_trap_slave_lost *r)
{
    trap_state_type &s = traps.state;
    ZPTP_DEBUG("Slave lost msg received, trap %s, slave %s", configured(s.slave_lost_enabled),
               r->present != 0 ? "Present" : "Lost");
    if (s.slave_lost_enabled && r->present == 0) {
        ZPTP_DEBUG("Raising Slave Lost trap");
        ptp_mib_traps_raise_slave_lost(5, r);
    }
    if (!s.all_slaves_lost_enabled) {
        return;
    }
    const uint32_t n = traps.slave_count != nullptr ? traps.slave_count() : 0;
    if (!s.all_slaves_lost_latch && n == 0) {
        ZPTP_DEBUG("Raising All Slaves Lost trap");
        ptp_mib_traps_raise_slave_lost(6, r);
        s.all_slaves_lost_latch = true;
    } else if (!s.all_slaves_lost_latch) {
        ZPTP_DEBUG("%d slaves remaining", static_cast<int>(n));
    } else if (n > 0) {
        ZPTP_DEBUG("Clearing All Slaves Lost trap");
        ptp_mib_traps_raise_slave_lost(7, r);
        s.all_slaves_lost_latch = false;
    }
}

// A notification item decoded with its bag, handed to the rule while the kind is enabled.
template <typename Record>
void handle(const nodra_notify_event_info_td *event, const bag_descriptor_type *bag, bool enabled,
            void (*rule)(const Record *))
{
    // Records come from other processes: anything but a bag that decodes is passed over.
    if (event == nullptr || event->datatype != NODRA_ITEM_DATATYPE_BAG || event->new_data == nullptr) {
        return;
    }
    Record r{};
    if (bag_decode(static_cast<const uint8_t *>(event->new_data), event->new_length, &r, bag) != 0) {
        ZPTP_DEBUG("Failed to decode notification bag of '%s'", event->path != nullptr ? event->path : "");
        return;
    }
    if (enabled) {
        rule(&r);
    }
    (void)bag_free_indirections(&r, bag);
}

} // namespace

// ---- notification handlers ----

void ptp_mib_traps_clock_class_msg(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    handle<ptp_trap_clock_class>(event, ptp_trap_clock_class_bag_getfn(), traps.state.clock_class_enabled,
                                 clock_class_rule);
}

void ptp_mib_traps_clock_state_msg(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    // Decoded whether enabled or not: every record becomes the previous state.
    handle<ptp_trap_clock_state>(event, ptp_trap_clock_state_bag_getfn(), true, clock_state_rule);
}

void ptp_mib_traps_time_source_msg(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    handle<ptp_trap_time_source>(event, ptp_trap_time_source_bag_getfn(), traps.state.time_source_enabled,
                                 time_source_rule);
}

void ptp_mib_traps_utc_offset_msg(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    handle<ptp_trap_utc_offset>(event, ptp_trap_utc_offset_bag_getfn(), traps.state.utc_offset_enabled,
                                utc_offset_rule);
}

void ptp_mib_traps_offset_from_master_msg(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    handle<ptp_trap_offset_threshold_breach>(event, ptp_trap_offset_threshold_breach_bag_getfn(),
                                             traps.state.offset_enabled, offset_rule);
}

void ptp_mib_traps_master_lost_msg(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    handle<ptp_trap_master_lost>(event, ptp_trap_master_lost_bag_getfn(), traps.state.master_lost_enabled,
                                 master_lost_rule);
}

void ptp_mib_traps_slave_lost_msg(const nodra_notify_event_info_td *event, void *, const bgen_args_td *)
{
    handle<ptp_trap_slave_lost>(event, ptp_trap_slave_lost_bag_getfn(),
                                traps.state.slave_lost_enabled || traps.state.all_slaves_lost_enabled, slave_lost_rule);
}

// ---- trap-enable callbacks ----

namespace {

bool deleted(const nodra_verify_event_info_td *event)
{
    return (event->event & NODRA_EVENT_DELETE) != 0;
}

// The 32-bit value of a plain item; false (and nothing changes) for another type or length.
bool plain_value(const nodra_verify_event_info_td *event, uint32_t *value)
{
    if (event->datatype != NODRA_ITEM_DATATYPE_UINT32 || event->new_length != 4 || event->new_data == nullptr) {
        ZPTP_DEBUG("Malformed trap-enable item '%s'", event->path != nullptr ? event->path : "");
        return false;
    }
    memcpy(value, event->new_data, 4);
    return true;
}

} // namespace

void ptp_mib_traps_enable_clock_class(const nodra_verify_event_info_td *event)
{
    trap_state_type &s = traps.state;
    uint32_t v = 0xFFFFFFFF;
    if (!deleted(event) && !plain_value(event, &v)) {
        return;
    }
    s.clock_class_enabled = v != 0xFFFFFFFF;
    s.clock_class = s.clock_class_enabled ? static_cast<uint8_t>(v) : 0;
    if (!s.clock_class_enabled) {
        s.clock_class_latch = false;
    }
    ZPTP_DEBUG("Clock Class cfg callback, now %s, val %d", configured(s.clock_class_enabled), s.clock_class);
}

void ptp_mib_traps_enable_clock_state(const nodra_verify_event_info_td *event)
{
    trap_state_type &s = traps.state;
    uint32_t v = 0;
    if (!deleted(event) && !plain_value(event, &v)) {
        return;
    }
    s.clock_state_enabled = v != 0;
    s.clock_state = v;
    if (!s.clock_state_enabled) {
        s.clock_state_latch = false;
        s.previous_state = 0;
    }
    ZPTP_DEBUG("Clock State cfg callback, now %s, val %d", configured(s.clock_state_enabled), static_cast<int>(v));
}

void ptp_mib_traps_enable_time_source(const nodra_verify_event_info_td *event)
{
    trap_state_type &s = traps.state;
    uint32_t v = 0;
    if (!deleted(event) && !plain_value(event, &v)) {
        return;
    }
    s.time_source_enabled = v != 0;
    s.time_source = static_cast<uint8_t>(v);
    if (!s.time_source_enabled) {
        s.time_source_latch = false;
    }
    ZPTP_DEBUG("Time source cfg callback, now %s, val %d", configured(s.time_source_enabled), s.time_source);
}

void ptp_mib_traps_enable_utc_offset_change(const nodra_verify_event_info_td *event)
{
    trap_state_type &s = traps.state;
    uint32_t v = 0xFFFFFFFF;
    if (!deleted(event) && !plain_value(event, &v)) {
        return;
    }
    s.utc_offset_enabled = v != 0xFFFFFFFF;
    s.utc_offset = s.utc_offset_enabled ? static_cast<int16_t>(v & 0xFFFF) : 0;
    if (!s.utc_offset_enabled) {
        s.utc_offset_latch = false;
    }
    ZPTP_DEBUG("UTC offset cfg callback, now %s, val %d", configured(s.utc_offset_enabled), s.utc_offset);
}

void ptp_mib_traps_enable_offset_threshold_breach(const nodra_verify_event_info_td *event)
{
    trap_state_type &s = traps.state;
    if (deleted(event) || event->new_data == nullptr || event->new_length == 0) {
        if (!deleted(event) && event->datatype != NODRA_ITEM_DATATYPE_PACKED) {
            return;
        }
        s.offset_enabled = false;
        s.warning = 0;
        s.critical = 0;
        s.warning_latch = false;
        s.critical_latch = false;
    } else {
        uint32_t mask = 0;
        int32_t warning = 0;
        int32_t critical = 0;
        if (event->datatype != NODRA_ITEM_DATATYPE_PACKED ||
            tuple_unpack_mask(static_cast<const tuple_type *>(event->new_data), event->new_length, "%d%d", &mask,
                              &warning, &critical) != 0) {
            ZPTP_DEBUG("Malformed trap-enable item '%s'", event->path != nullptr ? event->path : "");
            return;
        }
        // Thresholds are unsigned nanoseconds.
        s.warning = static_cast<uint32_t>(warning);
        s.critical = static_cast<uint32_t>(critical);
        s.offset_enabled = mask != 0;
        if (!s.offset_enabled) {
            s.warning_latch = false;
            s.critical_latch = false;
        }
    }
    ZPTP_DEBUG("Offset from Master cfg callback, now %s, warning %d, critcal %d", configured(s.offset_enabled),
               static_cast<int>(s.warning), static_cast<int>(s.critical));
}

void ptp_mib_traps_enable_master_lost(const nodra_verify_event_info_td *event)
{
    trap_state_type &s = traps.state;
    uint32_t v = 0;
    if (!deleted(event) && !plain_value(event, &v)) {
        return;
    }
    s.master_lost_enabled = v != 0;
    if (!s.master_lost_enabled) {
        s.master_lost_latch = false;
    }
    ZPTP_DEBUG("Master Lost cfg callback, now %s", configured(s.master_lost_enabled));
}

void ptp_mib_traps_enable_slave_lost(const nodra_verify_event_info_td *event)
{
    trap_state_type &s = traps.state;
    uint32_t v = 0;
    if (!deleted(event) && !plain_value(event, &v)) {
        return;
    }
    s.slave_lost_enabled = v != 0;
    ZPTP_DEBUG("Slave Lost cfg callback, now %s", configured(s.slave_lost_enabled));
}

void ptp_mib_traps_enable_all_slaves_lost(const nodra_verify_event_info_td *event)
{
    trap_state_type &s = traps.state;
    uint32_t v = 0;
    if (!deleted(event) && !plain_value(event, &v)) {
        return;
    }
    s.all_slaves_lost_enabled = v != 0;
    if (!s.all_slaves_lost_enabled) {
        s.all_slaves_lost_latch = false;
    }
    ZPTP_DEBUG("All Slaves Lost cfg callback, now %s", configured(s.all_slaves_lost_enabled));
}

// ---- registration ----

namespace {

const uint32_t not_enabled_all_ones = 0xFFFFFFFF;
const uint32_t not_enabled_zero = 0;

struct ptp_mib_traps_enable_row {
    const char *item;
    uint32_t type;
    snmp_enable_traps_fn callback;
    const void *default_value;
    uint32_t size;
};

ptp_mib_traps_enable_row enable_rows[] = {
    {"ptp/clock-class", NODRA_ITEM_DATATYPE_UINT32, ptp_mib_traps_enable_clock_class, &not_enabled_all_ones, 4},
    {"ptp/clock-state", NODRA_ITEM_DATATYPE_UINT32, ptp_mib_traps_enable_clock_state, &not_enabled_zero, 4},
    {"ptp/time-source", NODRA_ITEM_DATATYPE_UINT32, ptp_mib_traps_enable_time_source, &not_enabled_zero, 4},
    {"ptp/utc-offset-change", NODRA_ITEM_DATATYPE_UINT32, ptp_mib_traps_enable_utc_offset_change, &not_enabled_all_ones,
     4},
    {"ptp/offset-threshold-breach", NODRA_ITEM_DATATYPE_PACKED, ptp_mib_traps_enable_offset_threshold_breach, nullptr,
     0},
    {"ptp/master-lost", NODRA_ITEM_DATATYPE_UINT32, ptp_mib_traps_enable_master_lost, &not_enabled_zero, 4},
    {"ptp/slave-lost", NODRA_ITEM_DATATYPE_UINT32, ptp_mib_traps_enable_slave_lost, &not_enabled_zero, 4},
    {"ptp/all-slaves-lost", NODRA_ITEM_DATATYPE_UINT32, ptp_mib_traps_enable_all_slaves_lost, &not_enabled_zero, 4},
};
constexpr uint32_t OFFSET_ROW = 4;

tuple_type *ptp_mib_traps_create_default_offset_from_master_tuple()
{
    tuple_type *tuple = nullptr;
    return tuple_pack_mask(&tuple, "%d%d", 0, 0, 0) == 0 ? tuple : nullptr;
}

// "gl/snmp-traps/<kind>" of the controller.
constexpr backend_schema_options_td ROOTED{.root = true};

constexpr auto controller_items = std::to_array<backend_item_td>({
    {"gl/snmp-traps/clock-class", {.kind = BACKEND_VALUE_NONE, .notify = ptp_mib_traps_clock_class_msg}},
    {"gl/snmp-traps/clock-state", {.kind = BACKEND_VALUE_NONE, .notify = ptp_mib_traps_clock_state_msg}},
    {"gl/snmp-traps/time-source", {.kind = BACKEND_VALUE_NONE, .notify = ptp_mib_traps_time_source_msg}},
    {"gl/snmp-traps/utc-offset-change", {.kind = BACKEND_VALUE_NONE, .notify = ptp_mib_traps_utc_offset_msg}},
    {"gl/snmp-traps/offset-threshold-breach",
     {.kind = BACKEND_VALUE_NONE, .notify = ptp_mib_traps_offset_from_master_msg}},
    {"gl/snmp-traps/master-lost", {.kind = BACKEND_VALUE_NONE, .notify = ptp_mib_traps_master_lost_msg}},
});
constexpr const backend_schema_td &controller_schema = backend_schema_of<controller_items, ROOTED>::schema;

// "node/<node>/snmp-traps/slave-lost" of every agent.
constexpr auto agent_items = std::to_array<backend_item_td>({
    {"node/<s>/snmp-traps/slave-lost", {.kind = BACKEND_VALUE_NONE, .notify = ptp_mib_traps_slave_lost_msg}},
});
constexpr const backend_schema_td &agent_schema = backend_schema_of<agent_items, ROOTED>::schema;

bool library_present()
{
    return access(nodra_client_library_path(), R_OK) == 0;
}

} // namespace

void ptp_mib_traps_init(snmp_mib_handle_ct *mib, event_mgr_type *evm, nodra_conn_td *conn,
                        zelvoPtpmib_slave_count_fn slave_count)
{
    traps.slave_count = slave_count;
    // Registered once per load, removed at unload (ptp_mib_traps_shutdown).
    if (!traps.enables_registered) {
        if (traps.default_tuple == nullptr) {
            traps.default_tuple = ptp_mib_traps_create_default_offset_from_master_tuple();
        }
        enable_rows[OFFSET_ROW].default_value = traps.default_tuple;
        enable_rows[OFFSET_ROW].size = traps.default_tuple != nullptr ? tuple_size(traps.default_tuple) : 0;
        for (const ptp_mib_traps_enable_row &row : enable_rows) {
            const int rc = snmp_register_enable_traps_callback2(mib, row.item, row.type, row.size, row.default_value,
                                                                row.callback);
            if (rc != 0) {
                ZPTP_DEBUG("Failed to register callback for trap %s: %s", row.item,
                           zerr_strerror(static_cast<zerrno>(rc)));
                return;
            }
        }
        traps.enables_registered = true;
    }
    if (traps.global_registration == NOT_REGISTERED) {
        const zerrno rc = library_present()
                              ? _nodra_register_notification(conn, "gl/snmp-traps/", 7, 1, backend_notification, evm,
                                                             nullptr, &controller_schema, 0, &traps.global_registration)
                              : NODRA_ERR_NFN_NO_LIBRARY;
        if (rc != 0) {
            traps.global_registration = NOT_REGISTERED;
            ZPTP_DEBUG("Failed to register for global nfns: %s", zerr_strerror(rc));
            return;
        }
    }
    if (traps.local_registration == NOT_REGISTERED) {
        const zerrno rc = library_present()
                              ? _nodra_register_notification(conn, "node/.*/snmp-traps/", 7, 1, backend_notification,
                                                             evm, nullptr, &agent_schema, 0, &traps.local_registration)
                              : NODRA_ERR_NFN_NO_LIBRARY;
        if (rc != 0) {
            traps.local_registration = NOT_REGISTERED;
            ZPTP_DEBUG("Failed to register for local nfns: %s", zerr_strerror(rc));
        }
    }
}

void ptp_mib_traps_shutdown(snmp_mib_handle_ct *mib)
{
    if (traps.enables_registered) {
        for (const ptp_mib_traps_enable_row &row : enable_rows) {
            (void)snmp_unregister_enable_traps_callback(mib, row.item);
        }
        traps.enables_registered = false;
    }
    for (uint32_t *registration : {&traps.global_registration, &traps.local_registration}) {
        if (*registration != NOT_REGISTERED) {
            (void)nodra_notification_unregister(*registration);
            *registration = NOT_REGISTERED;
        }
    }
    tuple_free(traps.default_tuple);
    traps.default_tuple = nullptr;
    traps.state = trap_state_type{};
    traps.slave_count = nullptr;
}
