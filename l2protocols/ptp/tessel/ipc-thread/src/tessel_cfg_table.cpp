// Master and slave tables of the interface configuration: the leaves under "master-table" and
// "slave-table", and the merges that bring a profile's entries into an interface's applied
// tables while the interface has none of its own.
#include "tessel_cfg_table.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "imc.h"
#include "ptp_alloc.h"
#include "ptp_cfg_utils.h"
#include "ptp_strings.h"
#include "ptp_syslog.h"
#include "tessel_assert.h"
#include "tessel_cfg_gl.h"
#include "tessel_cfg_private.h"
#include "tessel_im.h"
#include "tessel_intf_caps.h"
#include "tessel_ipc_log.h"
#include "tessel_master_db.h"
#include "tessel_port_mgr.h"
#include "tessel_slave_db.h"
#include "tessel_stats.h"
#include "tessel_thread_ctrl.h"

namespace {

constexpr uint32_t AREA = tessel_debug_area("config");

// Interface-manager type of the interfaces that need the extended slave capability.
constexpr uint32_t IM_TYPE_NEEDS_SLAVE_EXT = 10;

// Every presence bit of a master entry; the non-negotiated value (bit 4) is not one.
constexpr uint8_t MASTER_CONFIGURED_BITS = 0x6F;
// What the profile merges copy of a master entry besides the address.
constexpr uint8_t MASTER_COPIED_FLAGS = 0x7F;

bgen_value_td new_value(const nodra_verify_event_info_td *event)
{
    return bgen_value_td{event->new_data, event->new_length};
}

// A malloc'ed copy of a verify text, "%u" placeholders filled with lo and hi.
char *verify_text(const char *format, const char *label, uint32_t lo = 0, uint32_t hi = 0)
{
    char buf[256];
    std::snprintf(buf, sizeof(buf), format, lo, hi);
    const size_t len = std::strlen(buf) + 1;
    auto *copy = static_cast<char *>(std::malloc(len));
    if (copy == nullptr) {
        ptp_alloc_failure_report(len, label);
        return nullptr;
    }
    std::memcpy(copy, buf, len);
    return copy;
}

// ---- Master leaves ----

// What a master leaf writes: value check, its presence bit, how it stores and compares the value,
// and its texts.
struct master_leaf_type {
    uint8_t set_bit;
    uint8_t clear_bits; // cleared by a delete
    const char *verify_format;
    const char *label;
    uint32_t lo, hi;
};

const master_leaf_type leaf_enable{TESSEL_MASTER_DB_ENABLE_SET,
                                   TESSEL_MASTER_DB_ENABLE_SET,
                                   "Failed to verify the master enable item.",
                                   "Master enable config error message",
                                   0,
                                   0};
const master_leaf_type leaf_priority{
    TESSEL_MASTER_DB_PRIORITY_SET,
    TESSEL_MASTER_DB_PRIORITY_SET,
    "Failed to verify the master priority item. It must take a value between 0 and 255",
    "Master priority config error message",
    0,
    0};
const master_leaf_type leaf_multicast{TESSEL_MASTER_DB_MULTICAST_SET,
                                      TESSEL_MASTER_DB_MULTICAST_SET,
                                      "Failed to verify the master multicast item.",
                                      "Master multicast config error message",
                                      0,
                                      0};
const master_leaf_type leaf_clock_class{
    TESSEL_MASTER_DB_CLOCK_CLASS_SET,
    TESSEL_MASTER_DB_CLOCK_CLASS_SET,
    "Failed to verify the master clock class value. The clock class must be between %u and %u",
    "Master clock class config error message",
    0,
    255};
const master_leaf_type leaf_delay_asymmetry{TESSEL_MASTER_DB_DELAY_ASYMMETRY_SET,
                                            TESSEL_MASTER_DB_DELAY_ASYMMETRY_SET,
                                            "Failed to verify the master delay asymmetry item.",
                                            "Master delay asymmetry config error message",
                                            0,
                                            0};
const master_leaf_type leaf_nonnegotiated{TESSEL_MASTER_DB_NON_NEGOTIATED_SET,
                                          TESSEL_MASTER_DB_NON_NEGOTIATED_SET | TESSEL_MASTER_DB_NON_NEGOTIATED,
                                          "Failed to verify the master non-negotiated item",
                                          "Master non-negotiated config error message",
                                          0,
                                          0};

// The value a master leaf carries, as read by its value check.
struct master_value_type {
    uint32_t number = 0;
    ptp_delay_asymmetry_type asymmetry = 0;
};

// The value check of a leaf, then the key check; the outputs of both.
struct master_item_type {
    master_value_type value;
    ptp_address_type addr{};
    char ifname[TESSEL_DB_IFNAME_SIZE] = {};
    bool is_delete = false;
};

using master_value_check_fn = zerrno (*)(const nodra_verify_event_info_td *event, master_value_type *value);

zerrno check_master_item(const nodra_verify_event_info_td *event, const bgen_args_td *args,
                         master_value_check_fn value_check, master_item_type *item)
{
    zerrno rc = value_check != nullptr ? value_check(event, &item->value) : 0;
    if (rc == 0) {
        rc = tessel_cfg_if_check_master_key(event, &item->addr, args, item->ifname, &item->is_delete);
    }
    return rc;
}

zerrno value_priority(const nodra_verify_event_info_td *event, master_value_type *value)
{
    const bgen_value_td nv = new_value(event);
    bool deleting = false;
    return ptp_cfg_check_master_priority(event->event, &nv, &value->number, &deleting);
}

zerrno value_multicast(const nodra_verify_event_info_td *event, master_value_type *value)
{
    const bgen_value_td nv = new_value(event);
    bool deleting = false;
    zerrno rc = ptp_cfg_check_master_multicast(event->event, &nv, &value->number, &deleting);
    if (rc == 0 && !deleting && value->number != PTP_TRANSPORT_UNICAST && !tessel_intf_caps_supports_multicast()) {
        rc = PTP_ZERR_CARD_NO_MULTICAST;
    }
    return rc;
}

zerrno value_clock_class(const nodra_verify_event_info_td *event, master_value_type *value)
{
    const bgen_value_td nv = new_value(event);
    bool deleting = false;
    return ptp_cfg_check_master_clock_class(event->event, &nv, &value->number, &deleting);
}

zerrno value_delay_asymmetry(const nodra_verify_event_info_td *event, master_value_type *value)
{
    const bgen_value_td nv = new_value(event);
    bool deleting = false;
    return ptp_cfg_check_delay_asymmetry(event->event, &nv, &value->asymmetry, &deleting);
}

zerrno value_nonnegotiated(const nodra_verify_event_info_td *event, master_value_type *value)
{
    bool deleting = false;
    return ptp_cfg_check_master_nonnegotiated(event->event, &value->number, &deleting);
}

zerrno verify_master_leaf(const master_leaf_type &leaf, master_value_check_fn value_check,
                          const nodra_verify_event_info_td *event, char **error_text, nodra_verify_result_td *result,
                          const bgen_args_td *args)
{
    master_item_type item;
    const zerrno rc = check_master_item(event, args, value_check, &item);
    if (rc != 0) {
        if (result != nullptr) {
            result->result = NODRA_VERIFY_RESULT_FAIL;
        }
        if (error_text != nullptr) {
            *error_text = verify_text(leaf.verify_format, leaf.label, leaf.lo, leaf.hi);
        }
        return rc;
    }
    if (result != nullptr) {
        result->result = NODRA_VERIFY_RESULT_PASS;
    }
    tessel_cfg_verify_batch_has_valid_item = true;
    return 0;
}

// One side of a debug line: an entry before or after the change (absent entries read as unset).
struct master_view_type {
    uint8_t flags = 0;
    uint32_t priority = 0;
    uint32_t clock_class = 0;
    uint32_t multicast = 0;
    ptp_delay_asymmetry_type asymmetry = 0;
};

master_view_type view_of(const tessel_master_db_type *e)
{
    if (e == nullptr) {
        return {};
    }
    return {e->flags, e->priority, e->clock_class, e->multicast, e->delay_asymmetry};
}

const char *not_set_prefix(const master_view_type &v, uint8_t bit)
{
    return (v.flags & bit) != 0 ? "" : "Not set ";
}

// The trace record of a master leaf whose four values are each a byte that may be unset.
template <const ptp_trace_point_type &P>
void master_trace(const tessel_ipc_idb_type *idb, const ptp_address_type &addr, const nodra_verify_event_info_td *event,
                  const master_view_type (&v)[4], uint8_t set_bit, uint32_t master_view_type::*field)
{
    uint64_t values = 0;
    for (uint32_t i = 0; i < 4; i++) {
        values |= ptp_trace_opt_value_pack(i, static_cast<uint8_t>(v[i].*field), (v[i].flags & set_bit) != 0);
    }
    ptp_trace_address<P>({tessel_ipc_det()}, idb->header.ifhandle, ptp_address_trace_value(&addr),
                         ptp_address_trace_mac_low(&addr), ptp_address_encap_get(&addr), event->event, values);
}

// The debug line of a master leaf, with the interface's entry and the applied entry before and
// after the change; the first item of a batch also writes its trace record.
void master_debug(const master_leaf_type &leaf, const tessel_ipc_idb_type *idb, const ptp_address_type &addr,
                  const nodra_verify_event_info_td *event, const master_view_type (&v)[4], bool first)
{
    const char *address = ptp_address_to_str(&addr);
    const char *ev = ptp_cfg_event_to_str(event->event);
#define MASTER_DEBUG(format, ...)                                                                                      \
    TESSEL_IPC_DEBUG_LEVEL(AREA, PTP_DEBUG_LEVEL_INTERNAL, idb->header.ifhandle, format, idb->header.ifname, address,  \
                           ev, __VA_ARGS__)
    if (&leaf == &leaf_enable) {
        const auto text = [](const master_view_type &x) {
            return (x.flags & TESSEL_MASTER_DB_ENABLE_SET) != 0 ? "Enabled" : "Disabled";
        };
        if (first) {
            ptp_trace<PTP_TRACE_TESSEL_CFG_MASTER_ENABLE_CONFIG_EVENT>({tessel_ipc_det()}, address, ev, text(v[0]),
                                                                       text(v[1]), text(v[2]), text(v[3]));
        }
        MASTER_DEBUG("%s: %s: Master %s enable config %s event: %s -> %s. Applied config: %s -> %s", text(v[0]),
                     text(v[1]), text(v[2]), text(v[3]));
    } else if (&leaf == &leaf_priority) {
        const uint8_t b = TESSEL_MASTER_DB_PRIORITY_SET;
        if (first) {
            master_trace<PTP_TRACE_TESSEL_CFG_MASTER_PRIORITY>(idb, addr, event, v, b, &master_view_type::priority);
        }
        MASTER_DEBUG("%s: %s: Master %s priority config %s event: %s%u -> %s%u. Applied config: %s%u -> %s%u",
                     not_set_prefix(v[0], b), v[0].priority, not_set_prefix(v[1], b), v[1].priority,
                     not_set_prefix(v[2], b), v[2].priority, not_set_prefix(v[3], b), v[3].priority);
    } else if (&leaf == &leaf_clock_class) {
        const uint8_t b = TESSEL_MASTER_DB_CLOCK_CLASS_SET;
        if (first) {
            master_trace<PTP_TRACE_TESSEL_CFG_MASTER_CLOCK_CLASS>(idb, addr, event, v, b,
                                                                  &master_view_type::clock_class);
        }
        MASTER_DEBUG("%s: %s: Master %s clock class config %s event: %s%u -> %s%u. Applied config: %s%u -> %s%u",
                     not_set_prefix(v[0], b), v[0].clock_class, not_set_prefix(v[1], b), v[1].clock_class,
                     not_set_prefix(v[2], b), v[2].clock_class, not_set_prefix(v[3], b), v[3].clock_class);
    } else if (&leaf == &leaf_multicast) {
        const auto text = [](const master_view_type &x) {
            return (x.flags & TESSEL_MASTER_DB_MULTICAST_SET) != 0 ? ptp_transport_to_str(x.multicast) : "Not set ";
        };
        if (first) {
            const std::string own = std::string(text(v[0])) + " -> " + text(v[1]);
            const std::string applied = std::string(text(v[2])) + " -> " + text(v[3]);
            ptp_trace<PTP_TRACE_TESSEL_CFG_MASTER_MULTICAST_CONFIG_EVENT>({tessel_ipc_det()}, address, ev, own.c_str(),
                                                                          applied.c_str());
        }
        MASTER_DEBUG("%s: %s: Master %s multicast config %s event: %s -> %s. Applied config: %s -> %s", text(v[0]),
                     text(v[1]), text(v[2]), text(v[3]));
    } else if (&leaf == &leaf_delay_asymmetry) {
        const auto text = [](const master_view_type &x) {
            return (x.flags & TESSEL_MASTER_DB_DELAY_ASYMMETRY_SET) != 0 ? ptp_delay_asymmetry_to_str(x.asymmetry)
                                                                         : "Not set";
        };
        if (first) {
            ptp_trace<PTP_TRACE_TESSEL_CFG_MASTER_DELAY_ASYMMETRY_CONFIG>({tessel_ipc_det()}, address, ev);
        }
        MASTER_DEBUG("%s: %s: Master %s delay asymmetry config %s event: %s -> %s. Applied config: %s -> %s",
                     text(v[0]), text(v[1]), text(v[2]), text(v[3]));
    } else {
        const auto text = [](const master_view_type &x) {
            return (x.flags & TESSEL_MASTER_DB_NON_NEGOTIATED_SET) != 0
                       ? ptp_negotiation_to_str(x.flags & TESSEL_MASTER_DB_NON_NEGOTIATED)
                       : "[Not set]";
        };
        if (first) {
            ptp_trace<PTP_TRACE_TESSEL_CFG_MASTER_NONNEGOTIATED_UNICAST_CONFIG>(
                {tessel_ipc_det()}, address, ev, text(v[0]), text(v[1]), text(v[2]), text(v[3]));
        }
        MASTER_DEBUG("%s: %s: Master %s non-negotiated unicast config %s event: %s -> %s. Applied config: %s -> %s",
                     text(v[0]), text(v[1]), text(v[2]), text(v[3]));
    }
#undef MASTER_DEBUG
}

// Writes a leaf's value into an entry (or its default for a delete) with its presence bit.
void master_write(const master_leaf_type &leaf, tessel_master_db_type *e, bool deleting, const master_value_type &value)
{
    if (&leaf == &leaf_priority) {
        e->priority = deleting ? 0 : value.number;
    } else if (&leaf == &leaf_clock_class) {
        e->clock_class = deleting ? 0 : value.number;
    } else if (&leaf == &leaf_multicast) {
        e->multicast = deleting ? 0 : value.number;
    } else if (&leaf == &leaf_delay_asymmetry) {
        e->delay_asymmetry = deleting ? 0 : value.asymmetry;
    } else if (&leaf == &leaf_nonnegotiated && !deleting && value.number != 0) {
        e->flags |= TESSEL_MASTER_DB_NON_NEGOTIATED;
    }
    if (deleting) {
        e->flags &= static_cast<uint8_t>(~leaf.clear_bits);
    } else {
        e->flags |= leaf.set_bit;
    }
}

// Whether an entry already holds the leaf's value.
bool master_same(const master_leaf_type &leaf, const tessel_master_db_type *e, const master_value_type &value)
{
    if ((e->flags & leaf.set_bit) == 0) {
        return false;
    }
    if (&leaf == &leaf_priority) {
        return e->priority == value.number;
    }
    if (&leaf == &leaf_clock_class) {
        return e->clock_class == value.number;
    }
    if (&leaf == &leaf_multicast) {
        return e->multicast == value.number;
    }
    if (&leaf == &leaf_delay_asymmetry) {
        return e->delay_asymmetry == value.asymmetry;
    }
    if (&leaf == &leaf_nonnegotiated) {
        return ((e->flags & TESSEL_MASTER_DB_NON_NEGOTIATED) != 0) == (value.number != 0);
    }
    return true;
}

bool profile_has_masters(const tessel_ipc_idb_type *idb)
{
    return idb->profile_db != nullptr && tessel_master_db_count(&idb->profile_db->prf_config.master_table) != 0;
}

bool profile_has_slaves(const tessel_ipc_idb_type *idb)
{
    return idb->profile_db != nullptr && tessel_slave_db_count(&idb->profile_db->prf_config.slave_table) != 0;
}

// The applied master table taken from the profile again (the interface has no own entries).
zerrno master_rebuild_from_profile(tessel_ipc_idb_type *idb)
{
    return tessel_master_db_copy(&idb->applied_config.master_table, &idb->profile_db->prf_config.master_table,
                                 tessel_intf_caps_supports_ethernet(), tessel_intf_caps_supports_ipv6(),
                                 tessel_intf_caps_supports_multicast(), &idb->header);
}

zerrno slave_rebuild_from_profile(tessel_ipc_idb_type *idb)
{
    return tessel_slave_db_copy(&idb->applied_config.slave_table, &idb->profile_db->prf_config.slave_table,
                                tessel_intf_caps_supports_ethernet(), tessel_intf_caps_supports_ipv6(), &idb->header);
}

void table_reinit(tessel_master_table_type *table)
{
    tessel_master_db_destroy(table);
    (void)tessel_master_db_init(table);
}

void table_reinit(tessel_slave_table_type *table)
{
    tessel_slave_db_destroy(table);
    (void)tessel_slave_db_init(table);
}

zerrno apply_master_leaf(const master_leaf_type &leaf, master_value_check_fn value_check,
                         const nodra_verify_event_info_td *event, void *context, const bgen_args_td *args)
{
    master_item_type item;
    zerrno rc = check_master_item(event, args, value_check, &item);
    if (rc != 0) {
        return rc;
    }
    tessel_ipc_idb_type *idb = nullptr;
    rc = tessel_cfg_get_create_idb(item.ifname, &idb);
    if (rc != 0) {
        return rc;
    }
    tessel_stats_increment_ipc_idb_event_counter(idb, TESSEL_IPC_IDB_EVENT_APPLY_CONFIG);
    tessel_master_table_type *own_table = &idb->if_config.master_table;
    tessel_master_table_type *applied_table = &idb->applied_config.master_table;
    tessel_master_db_type *own = nullptr;
    tessel_master_db_type *applied = nullptr;
    (void)tessel_master_db_find(own_table, &item.addr, &own);
    (void)tessel_master_db_find(applied_table, &item.addr, &applied);
    master_view_type views[4] = {view_of(own), {}, view_of(applied), {}};
    bool changed = false;

    if (!item.is_delete) {
        if (own == nullptr) {
            // The first own entry replaces the profile's entries in the applied table.
            if (tessel_master_db_count(own_table) == 0 && profile_has_masters(idb)) {
                table_reinit(applied_table);
                applied = nullptr;
                changed = true;
            }
            rc = tessel_master_db_add(own_table, &item.addr, &own);
            if (rc == 0 && applied == nullptr) {
                rc = tessel_master_db_add(applied_table, &item.addr, &applied);
            }
        }
        if (rc == 0 && !(master_same(leaf, own, item.value) && master_same(leaf, applied, item.value))) {
            master_write(leaf, own, false, item.value);
            master_write(leaf, applied, false, item.value);
            changed = true;
        }
    } else if (own != nullptr) {
        if ((own->flags & leaf.set_bit) != 0) {
            master_write(leaf, own, true, item.value);
            if (applied != nullptr) {
                master_write(leaf, applied, true, item.value);
            }
            changed = true;
        }
        if ((own->flags & MASTER_CONFIGURED_BITS) == 0) {
            tessel_master_db_remove(own_table, own);
            own = nullptr;
            if (applied != nullptr) {
                tessel_master_db_remove(applied_table, applied);
            }
            changed = true;
            // The last own entry gone: the profile's entries apply again.
            if (tessel_master_db_count(own_table) == 0 && profile_has_masters(idb)) {
                rc = master_rebuild_from_profile(idb);
                if (rc != 0) {
                    changed = false;
                }
            }
        }
    }

    applied = nullptr;
    (void)tessel_master_db_find(applied_table, &item.addr, &applied);
    views[1] = view_of(own);
    views[3] = view_of(applied);
    if (changed) {
        idb->flags |= TESSEL_IPC_FLAG_UPDATE_MASTER_TABLE;
    }
    if (item.is_delete) {
        tessel_cfg_if_empty_check(idb);
    }
    master_debug(leaf, idb, item.addr, event, views, tessel_cfg_apply_batch_first(context));
    if (changed && (idb->flags & TESSEL_IPC_FLAG_ENABLED) != 0) {
        tessel_ipc_if_update_add(idb);
    }
    return rc;
}

// ---- Profile merges ----

void master_copy_fields(tessel_master_db_type *dst, const tessel_master_db_type *src)
{
    dst->priority = src->priority;
    dst->clock_class = src->clock_class;
    dst->multicast = src->multicast;
    dst->delay_asymmetry = src->delay_asymmetry;
    dst->flags = static_cast<uint8_t>((dst->flags & ~MASTER_COPIED_FLAGS) | (src->flags & MASTER_COPIED_FLAGS));
}

bool master_fields_equal(const tessel_master_db_type *a, const tessel_master_db_type *b)
{
    return a->priority == b->priority && a->clock_class == b->clock_class && a->multicast == b->multicast &&
           a->delay_asymmetry == b->delay_asymmetry &&
           (a->flags & MASTER_COPIED_FLAGS) == (b->flags & MASTER_COPIED_FLAGS);
}

// A profile entry the interface cannot carry (Ethernet or IPv6 without the capability).
template <const ptp_trace_point_type &P>
bool profile_entry_ignored(const tessel_ipc_idb_type *idb, const ptp_address_type &addr, const char *what)
{
    const bool refused = (addr.encap == PTP_ENCAP_ETHERNET && !tessel_intf_caps_supports_ethernet()) ||
                         (addr.encap == PTP_ENCAP_IPV6 && !tessel_intf_caps_supports_ipv6());
    if (refused) {
        ptp_syslog_prf_cfg_ignored(what, idb->header.ifname);
        ptp_trace<P>({tessel_ipc_det(), tessel_ipc_unq()}, idb->header.ifhandle);
    }
    return refused;
}

} // namespace

// ---- Checks ------------------------------------------------------------------------------------

zerrno tessel_cfg_if_check_slave_capability(const char *ifname)
{
    const bool slave = tessel_intf_caps_supports_slave();
    uint32_t ifhandle = 0;
    uint32_t type = 0;
    void *ctx = tessel_im_ctrl_ctx();
    zerrno rc = imc_s_interface_find(ctx, ifname, &ifhandle);
    if (rc == 0) {
        rc = imc_s_interface_get_type(ctx, ifhandle, &type);
    }
    if (rc != 0) {
        ptp_trace<PTP_TRACE_TESSEL_CFG_SLAVE_SUPPORT_CHECK_FAILED>({tessel_ipc_det(), tessel_ipc_unq()}, ifname, rc);
        return slave ? 0 : PTP_ZERR_CARD_NO_SLAVE;
    }
    if (!slave || (type == IM_TYPE_NEEDS_SLAVE_EXT && !tessel_intf_caps_supports_slave_ext())) {
        return PTP_ZERR_CARD_NO_SLAVE;
    }
    return 0;
}

zerrno tessel_cfg_if_check_master_key(const nodra_verify_event_info_td *event, ptp_address_type *addr,
                                      const bgen_args_td *args, char *ifname, bool *is_delete)
{
    char name[TESSEL_DB_IFNAME_SIZE] = {};
    zerrno rc = tessel_cfg_if_type_is_supported(args, name);
    if (rc == 0 && !tessel_intf_caps_supports_ptp()) {
        rc = PTP_ZERR_CARD_NO_PTP;
    }
    if (rc == 0) {
        rc = tessel_cfg_if_check_slave_capability(name);
    }
    ptp_address_type a{};
    if (rc == 0) {
        rc = ptp_cfg_extract_addr_info(args, &a);
    }
    if (rc == 0 && a.encap == PTP_ENCAP_IPV6 && !tessel_intf_caps_supports_ipv6()) {
        rc = PTP_ZERR_CARD_NO_IPV6;
    }
    if (rc == 0 && a.encap == PTP_ENCAP_ETHERNET && !tessel_intf_caps_supports_ethernet()) {
        rc = PTP_ZERR_CARD_NO_ETHERNET;
    }
    if (rc == 0 && ptp_cfg_check_addr_is_multicast(&a)) {
        rc = PTP_ZERR2_CFG_MASTER_MULTICAST;
    }
    if (rc != 0) {
        return rc;
    }
    *addr = a;
    *is_delete = tessel_cfg_event_is_delete(event);
    std::memcpy(ifname, name, sizeof(name));
    return 0;
}

zerrno tessel_cfg_if_check_slave_nonnegotiated(const nodra_verify_event_info_td *event,
                                               nodra_verify_result_td *verify_result, char **error_text, uint32_t *flag,
                                               ptp_address_type *addr, const bgen_args_td *args, char *ifname,
                                               bool *is_delete)
{
    char name[TESSEL_DB_IFNAME_SIZE] = {};
    bool deleting = false;
    uint32_t value = 0;
    zerrno rc = ptp_cfg_check_slave_nonnegotiated(event->event, &value, &deleting);
    if (rc == 0) {
        rc = tessel_cfg_if_type_is_supported(args, name);
    }
    if (rc == 0 && !tessel_intf_caps_supports_ptp()) {
        rc = PTP_ZERR_CARD_NO_PTP;
    }
    ptp_address_type a{};
    if (rc == 0) {
        rc = ptp_cfg_extract_addr_info(args, &a);
    }
    if (rc == 0 && a.encap == PTP_ENCAP_IPV6 && !tessel_intf_caps_supports_ipv6()) {
        rc = PTP_ZERR_CARD_NO_IPV6;
    }
    if (rc == 0 && a.encap == PTP_ENCAP_ETHERNET && !tessel_intf_caps_supports_ethernet()) {
        rc = PTP_ZERR_CARD_NO_ETHERNET;
    }
    if (verify_result != nullptr) {
        verify_result->result = rc == 0 ? NODRA_VERIFY_RESULT_PASS : NODRA_VERIFY_RESULT_FAIL;
        if (rc != 0 && error_text != nullptr) {
            *error_text = verify_text("Failed to verify the slave non-negotiated item",
                                      "Slave non-negotiated config error message");
        }
    }
    if (rc != 0) {
        return rc;
    }
    *flag = value;
    *addr = a;
    *is_delete = deleting;
    std::memcpy(ifname, name, sizeof(name));
    return 0;
}

// ---- Master leaves -------------------------------------------------------------------------------

zerrno tessel_cfg_if_verify_master_enable(const nodra_verify_event_info_td *event, char **error_text,
                                          nodra_verify_result_td *result, void *, const bgen_args_td *args)
{
    return verify_master_leaf(leaf_enable, nullptr, event, error_text, result, args);
}

zerrno tessel_cfg_if_apply_master_enable(const nodra_verify_event_info_td *event, void *context,
                                         const bgen_args_td *args)
{
    return apply_master_leaf(leaf_enable, nullptr, event, context, args);
}

zerrno tessel_cfg_if_verify_master_priority(const nodra_verify_event_info_td *event, char **error_text,
                                            nodra_verify_result_td *result, void *, const bgen_args_td *args)
{
    return verify_master_leaf(leaf_priority, value_priority, event, error_text, result, args);
}

zerrno tessel_cfg_if_apply_master_priority(const nodra_verify_event_info_td *event, void *context,
                                           const bgen_args_td *args)
{
    return apply_master_leaf(leaf_priority, value_priority, event, context, args);
}

zerrno tessel_cfg_if_verify_master_multicast(const nodra_verify_event_info_td *event, char **error_text,
                                             nodra_verify_result_td *result, void *, const bgen_args_td *args)
{
    return verify_master_leaf(leaf_multicast, value_multicast, event, error_text, result, args);
}

zerrno tessel_cfg_if_apply_master_multicast(const nodra_verify_event_info_td *event, void *context,
                                            const bgen_args_td *args)
{
    return apply_master_leaf(leaf_multicast, value_multicast, event, context, args);
}

zerrno tessel_cfg_if_verify_master_clock_class(const nodra_verify_event_info_td *event, char **error_text,
                                               nodra_verify_result_td *result, void *, const bgen_args_td *args)
{
    return verify_master_leaf(leaf_clock_class, value_clock_class, event, error_text, result, args);
}

zerrno tessel_cfg_if_apply_master_clock_class(const nodra_verify_event_info_td *event, void *context,
                                              const bgen_args_td *args)
{
    return apply_master_leaf(leaf_clock_class, value_clock_class, event, context, args);
}

zerrno tessel_cfg_if_verify_master_delay_asymmetry(const nodra_verify_event_info_td *event, char **error_text,
                                                   nodra_verify_result_td *result, void *, const bgen_args_td *args)
{
    return verify_master_leaf(leaf_delay_asymmetry, value_delay_asymmetry, event, error_text, result, args);
}

zerrno tessel_cfg_if_apply_master_delay_asymmetry(const nodra_verify_event_info_td *event, void *context,
                                                  const bgen_args_td *args)
{
    return apply_master_leaf(leaf_delay_asymmetry, value_delay_asymmetry, event, context, args);
}

zerrno tessel_cfg_if_verify_master_nonnegotiated(const nodra_verify_event_info_td *event, char **error_text,
                                                 nodra_verify_result_td *result, void *, const bgen_args_td *args)
{
    return verify_master_leaf(leaf_nonnegotiated, value_nonnegotiated, event, error_text, result, args);
}

zerrno tessel_cfg_if_apply_master_nonnegotiated(const nodra_verify_event_info_td *event, void *context,
                                                const bgen_args_td *args)
{
    return apply_master_leaf(leaf_nonnegotiated, value_nonnegotiated, event, context, args);
}

// ---- Slave leaf ------------------------------------------------------------------------------------

zerrno tessel_cfg_if_verify_slave_nonnegotiated(const nodra_verify_event_info_td *event, char **error_text,
                                                nodra_verify_result_td *result, void *, const bgen_args_td *args)
{
    uint32_t flag = 0;
    ptp_address_type addr{};
    char ifname[TESSEL_DB_IFNAME_SIZE] = {};
    bool is_delete = false;
    const zerrno rc =
        tessel_cfg_if_check_slave_nonnegotiated(event, result, error_text, &flag, &addr, args, ifname, &is_delete);
    if (rc == 0) {
        tessel_cfg_verify_batch_has_valid_item = true;
    }
    return rc;
}

zerrno tessel_cfg_if_apply_slave_nonnegotiated(const nodra_verify_event_info_td *event, void *context,
                                               const bgen_args_td *args)
{
    uint32_t flag = 0;
    ptp_address_type addr{};
    char ifname[TESSEL_DB_IFNAME_SIZE] = {};
    bool is_delete = false;
    zerrno rc =
        tessel_cfg_if_check_slave_nonnegotiated(event, nullptr, nullptr, &flag, &addr, args, ifname, &is_delete);
    if (rc != 0) {
        return rc;
    }
    tessel_ipc_idb_type *idb = nullptr;
    rc = tessel_cfg_get_create_idb(ifname, &idb);
    if (rc != 0) {
        return rc;
    }
    tessel_stats_increment_ipc_idb_event_counter(idb, TESSEL_IPC_IDB_EVENT_APPLY_CONFIG);
    tessel_slave_table_type *own_table = &idb->if_config.slave_table;
    tessel_slave_table_type *applied_table = &idb->applied_config.slave_table;
    tessel_slave_db_type *own = nullptr;
    tessel_slave_db_type *applied = nullptr;
    (void)tessel_slave_db_find(own_table, &addr, &own);
    (void)tessel_slave_db_find(applied_table, &addr, &applied);
    const uint8_t old_own = own != nullptr ? own->flags : 0;
    const uint8_t old_applied = applied != nullptr ? applied->flags : 0;
    constexpr uint8_t set_flags = TESSEL_SLAVE_DB_CONFIGURED | TESSEL_SLAVE_DB_NON_NEGOTIATED;
    bool changed = false;

    if (!is_delete) {
        if (own == nullptr) {
            if (tessel_slave_db_count(own_table) == 0 && profile_has_slaves(idb)) {
                table_reinit(applied_table);
                applied = nullptr;
                changed = true;
            }
            rc = tessel_slave_db_add(own_table, &addr, &own);
            if (rc == 0 && applied == nullptr) {
                rc = tessel_slave_db_add(applied_table, &addr, &applied);
            }
        }
        const uint8_t want = flag != 0 ? set_flags : TESSEL_SLAVE_DB_CONFIGURED;
        if (rc == 0 && (own->flags != want || applied->flags != want)) {
            own->flags = want;
            applied->flags = want;
            changed = true;
        }
    } else if (own != nullptr) {
        tessel_slave_db_remove(own_table, own);
        own = nullptr;
        if (applied != nullptr) {
            tessel_slave_db_remove(applied_table, applied);
        }
        changed = true;
        if (tessel_slave_db_count(own_table) == 0 && profile_has_slaves(idb)) {
            rc = slave_rebuild_from_profile(idb);
            if (rc != 0) {
                changed = false;
            }
        }
    }

    applied = nullptr;
    (void)tessel_slave_db_find(applied_table, &addr, &applied);
    if (changed) {
        idb->flags |= TESSEL_IPC_FLAG_UPDATE_SLAVE_TABLE;
    }
    if (is_delete) {
        tessel_cfg_if_empty_check(idb);
    }
    const auto text = [](uint8_t flags) { return ptp_negotiation_to_str((flags & set_flags) == set_flags ? 1 : 0); };
    const uint8_t new_own = own != nullptr ? own->flags : 0;
    const uint8_t new_applied = applied != nullptr ? applied->flags : 0;
    if (tessel_cfg_apply_batch_first(context)) {
        ptp_trace<PTP_TRACE_TESSEL_CFG_SLAVE_NONNEGOTIATED_UNICAST_CONFIG>(
            {tessel_ipc_det()}, ptp_address_to_str(&addr), ptp_cfg_event_to_str(event->event), text(old_own),
            text(new_own), text(old_applied), text(new_applied));
    }
    TESSEL_IPC_DEBUG_LEVEL(
        AREA, PTP_DEBUG_LEVEL_INTERNAL, idb->header.ifhandle,
        "%s: %s: Slave %s non-negotiated unicast config %s event: %s -> %s. Applied config: %s -> %s",
        idb->header.ifname, ptp_address_to_str(&addr), ptp_cfg_event_to_str(event->event), text(old_own), text(new_own),
        text(old_applied), text(new_applied));
    if (changed && (idb->flags & TESSEL_IPC_FLAG_ENABLED) != 0) {
        tessel_ipc_if_update_add(idb);
    }
    return rc;
}

// ---- Profile merges -------------------------------------------------------------------------------

uint32_t tessel_cfg_if_merge_master_entry(tessel_ipc_idb_type *idb, const ptp_address_type *addr)
{
    if (!tessel_intf_caps_supports_slave() || tessel_master_db_count(&idb->if_config.master_table) != 0 ||
        idb->profile_db == nullptr) {
        return false;
    }
    tessel_master_table_type *applied_table = &idb->applied_config.master_table;
    tessel_master_table_type *profile_table = &idb->profile_db->prf_config.master_table;
    if (addr == nullptr) {
        if (tessel_master_db_count(applied_table) == 0 && tessel_master_db_count(profile_table) == 0) {
            return false;
        }
        if (master_rebuild_from_profile(idb) != 0) {
            return false;
        }
        idb->flags |= TESSEL_IPC_FLAG_UPDATE_MASTER_TABLE;
        return true;
    }
    tessel_master_db_type *from = nullptr;
    tessel_master_db_type *applied = nullptr;
    (void)tessel_master_db_find(profile_table, addr, &from);
    (void)tessel_master_db_find(applied_table, addr, &applied);
    if (applied == nullptr) {
        if (from == nullptr ||
            profile_entry_ignored<PTP_TRACE_TESSEL_CFG_MASTER_TABLE_IGNORED>(idb, *addr, "master table")) {
            return false;
        }
        if (tessel_master_db_add(applied_table, addr, &applied) != 0) {
            return false;
        }
        master_copy_fields(applied, from);
    } else if (from == nullptr) {
        tessel_master_db_remove(applied_table, applied);
    } else if (master_fields_equal(applied, from)) {
        return false;
    } else {
        master_copy_fields(applied, from);
    }
    idb->flags |= TESSEL_IPC_FLAG_UPDATE_MASTER_TABLE;
    return true;
}

uint32_t tessel_cfg_if_merge_slave_entry(tessel_ipc_idb_type *idb, const ptp_address_type *addr)
{
    if (tessel_slave_db_count(&idb->if_config.slave_table) != 0 || idb->profile_db == nullptr) {
        return false;
    }
    tessel_slave_table_type *applied_table = &idb->applied_config.slave_table;
    tessel_slave_table_type *profile_table = &idb->profile_db->prf_config.slave_table;
    if (addr == nullptr) {
        if (tessel_slave_db_count(applied_table) == 0 && tessel_slave_db_count(profile_table) == 0) {
            return false;
        }
        if (slave_rebuild_from_profile(idb) != 0) {
            return false;
        }
        idb->flags |= TESSEL_IPC_FLAG_UPDATE_SLAVE_TABLE;
        return true;
    }
    constexpr uint8_t bits = TESSEL_SLAVE_DB_CONFIGURED | TESSEL_SLAVE_DB_NON_NEGOTIATED;
    tessel_slave_db_type *from = nullptr;
    tessel_slave_db_type *applied = nullptr;
    (void)tessel_slave_db_find(profile_table, addr, &from);
    (void)tessel_slave_db_find(applied_table, addr, &applied);
    if (applied == nullptr) {
        if (from == nullptr ||
            profile_entry_ignored<PTP_TRACE_TESSEL_CFG_SLAVE_TABLE_IGNORED>(idb, *addr, "slave table")) {
            return false;
        }
        if (tessel_slave_db_add(applied_table, addr, &applied) != 0) {
            return false;
        }
        applied->flags = from->flags & bits;
    } else if (from == nullptr) {
        tessel_slave_db_remove(applied_table, applied);
    } else if ((applied->flags & bits) == (from->flags & bits)) {
        return false;
    } else {
        applied->flags = static_cast<uint8_t>((applied->flags & ~bits) | (from->flags & bits));
    }
    idb->flags |= TESSEL_IPC_FLAG_UPDATE_SLAVE_TABLE;
    return true;
}
