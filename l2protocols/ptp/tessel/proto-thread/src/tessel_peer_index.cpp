// Peer indices: the node-wide pool and the per-port entries that hold its numbers.
#include "tessel_peer_index.h"

#include <cstring>
#include <vector>

#include "ptp_alloc.h"
#include "ptp_strings.h"
#include "ptp_syslog.h"
#include "ptp_zerr_codes.h"
#include "tessel_alloc.h"
#include "tessel_assert.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_types.h"
#include "tessel_fsm_unicast.h"
#include "tessel_issu.h"
#include "tessel_pm_log.h"
#include "tessel_proto_db.h"

uint32_t tessel_peer_index_bitmap[TESSEL_PEER_INDEX_BITMAP_WORDS];
uint32_t tessel_peer_index_hint = 1;

namespace {

constexpr uint32_t TESSEL_AREA_FSM = tessel_debug_area("fsm");

#define PI_DEBUG(ifh, format, ...) TESSEL_PM_DEBUG(TESSEL_AREA_FSM, ifh, format __VA_OPT__(, ) __VA_ARGS__)
#define PI_DEBUG_ERR(ifh, format, ...) TESSEL_PM_DEBUG_ERR(TESSEL_AREA_FSM, ifh, format __VA_OPT__(, ) __VA_ARGS__)
// A line that carries no area label.
#define PI_DEBUG_BARE(ifh, format, ...)                                                                                \
    do {                                                                                                               \
        debug_event_type *pi_table_ = ptp_debug_table_get();                                                           \
        if (ptp_debug_enabled(pi_table_, TESSEL_AREA_FSM)) {                                                           \
            ptp_debug_print(TESSEL_AREA_FSM, (ifh), PTP_DEBUG_LEVEL_SUPPORT, pi_table_, format, __VA_ARGS__);          \
        }                                                                                                              \
    } while (0)

// Word and bit of an index; 0 and indices past the pool are program errors.
uint32_t *index_word(uint32_t index, uint32_t *bit)
{
    TESSEL_ASSERT(index != 0);
    const uint32_t word = (index - 1) / 32;
    TESSEL_ASSERT(word < TESSEL_PEER_INDEX_BITMAP_WORDS);
    *bit = 1u << ((index - 1) % 32);
    return &tessel_peer_index_bitmap[word];
}

bool index_is_set(uint32_t index)
{
    uint32_t bit = 0;
    return (*index_word(index, &bit) & bit) != 0;
}

void index_set(uint32_t index)
{
    uint32_t bit = 0;
    *index_word(index, &bit) |= bit;
}

void index_clear(uint32_t index)
{
    uint32_t bit = 0;
    *index_word(index, &bit) &= ~bit;
}

tessel_peer_index_entry_type *entry_find(tessel_proto_idb_type *idb, const ptp_address_type *addr)
{
    tessel_peer_index_entry_type key{};
    key.address = *addr;
    return reinterpret_cast<tessel_peer_index_entry_type *>(avl2_search(&idb->peer_index_tree, &key));
}

// A free index from the hint on, or 0 when all 65535 are taken.
uint32_t index_find_free()
{
    uint32_t candidate = tessel_peer_index_hint;
    if (candidate == 0 || candidate > TESSEL_PEER_INDEX_MAX) {
        candidate = 1;
    }
    for (uint32_t probes = 0; probes <= TESSEL_PEER_INDEX_MAX; probes++) {
        if (!index_is_set(candidate)) {
            return candidate;
        }
        candidate = candidate == TESSEL_PEER_INDEX_MAX ? 1 : candidate + 1;
    }
    return 0;
}

const char *addr_str(const ptp_address_type *addr)
{
    return ptp_address_to_str(addr);
}

} // namespace

int tessel_peer_index_compare(const void *row_a, const void *row_b, void *)
{
    const ptp_address_type &a = static_cast<const tessel_peer_index_entry_type *>(row_a)->address;
    const ptp_address_type &b = static_cast<const tessel_peer_index_entry_type *>(row_b)->address;
    if (a.encap != b.encap) {
        return static_cast<int>(a.encap) - static_cast<int>(b.encap);
    }
    switch (a.encap) {
    case PTP_ENCAP_ETHERNET: return std::memcmp(a.value, b.value, PTP_MAC_ADDR_LEN);
    case PTP_ENCAP_IPV4: {
        uint32_t va = 0;
        uint32_t vb = 0;
        std::memcpy(&va, a.value, sizeof va);
        std::memcpy(&vb, b.value, sizeof vb);
        return va < vb ? -1 : (va > vb ? 1 : 0);
    }
    case PTP_ENCAP_IPV6: return std::memcmp(a.value, b.value, PTP_IPV6_ADDR_LEN);
    default: tessel_internal_error("Unknown address type", __FILE__, __LINE__);
    }
}

zerrno tessel_peer_index_idb_init(tessel_proto_idb_type *idb)
{
    return avl2_init(&idb->peer_index_tree, tessel_peer_index_compare, nullptr) ? ZERR_OK : PTP_ZERR_NOMEM;
}

void tessel_peer_index_idb_cleanup(tessel_proto_idb_type *idb)
{
    TESSEL_ASSERT(avl2_is_empty(&idb->peer_index_tree));
    idb->peer_index_tree = avl2_tree_type{};
}

zerrno tessel_peer_index_entry_create(tessel_proto_idb_type *idb, const ptp_address_type *addr,
                                      ptp_peer_index_type index, uint64_t chkpt_obj_id,
                                      tessel_peer_index_entry_type **out)
{
    const char *name = idb->header.ifname;
    const uint32_t ifh = idb->header.ifhandle;
    auto *entry = static_cast<tessel_peer_index_entry_type *>(tessel_calloc(1, sizeof(tessel_peer_index_entry_type)));
    if (entry == nullptr) {
        ptp_alloc_failure_report(sizeof(tessel_peer_index_entry_type), "Peer index tree entry");
        return PTP_ZERR_NOMEM;
    }
    entry->address = *addr;
    entry->peer_index = index;
    entry->chkpt_obj_id = chkpt_obj_id;
    entry->ref_count = 0;
    if (avl2_insert(&idb->peer_index_tree, &entry->tree_link) == nullptr) {
        tessel_internal_error("Duplicate peer index entry", __FILE__, __LINE__);
    }
    PI_DEBUG(ifh, "%s: Creating peer index %u on interface %s (0x%8.8x), peer %s", index, name, ifh, addr_str(addr));
    index_set(index);
    if (tessel_peer_index_hint <= index) {
        tessel_peer_index_hint = index == TESSEL_PEER_INDEX_MAX ? 1 : index + 1u;
    }
    if (chkpt_obj_id == 0) {
        tessel_chkpt_peer_index_update(idb, entry);
    }
    if (out != nullptr) {
        *out = entry;
    }
    return ZERR_OK;
}

zerrno tessel_peer_index_acquire(tessel_proto_idb_type *idb, const ptp_address_type *addr)
{
    const char *name = idb->header.ifname;
    const uint32_t ifh = idb->header.ifhandle;
    tessel_peer_index_entry_type *entry = entry_find(idb, addr);
    if (entry != nullptr) {
        PI_DEBUG(ifh, "%s: Incrementing refcount of peer index %u, interface %s (0x%8.8x), peer %s", entry->peer_index,
                 name, ifh, addr_str(addr));
        entry->ref_count++;
        return ZERR_OK;
    }
    const uint32_t index = index_find_free();
    if (index == 0) {
        ptp_trace_address<PTP_TRACE_TESSEL_PEER_INDEX_EXHAUSTED>(
            {tessel_pm_det(), tessel_pm_unq()}, ifh, ptp_address_trace_value(addr), ptp_address_trace_mac_low(addr),
            ptp_address_encap_get(addr));
        ptp_syslog_peer_index_exhaust();
        return PTP_ZERR_NOMEM;
    }
    PI_DEBUG(ifh, "%s: Allocated peer index %u to interface %s (0x%8.8x), peer %s", index, name, ifh, addr_str(addr));
    const zerrno rc = tessel_peer_index_entry_create(idb, addr, static_cast<ptp_peer_index_type>(index), 0, &entry);
    if (rc != ZERR_OK) {
        return rc;
    }
    entry->ref_count++;
    return ZERR_OK;
}

void tessel_peer_index_delete(tessel_proto_idb_type *idb, tessel_peer_index_entry_type *entry)
{
    TESSEL_ASSERT(entry->ref_count == 0);
    tessel_chkpt_peer_index_delete(idb, entry);
    avl2_delete(&idb->peer_index_tree, entry);
    index_clear(entry->peer_index);
    tessel_free(entry);
}

void tessel_peer_index_release(tessel_proto_idb_type *idb, const ptp_address_type *addr)
{
    const char *name = idb->header.ifname;
    const uint32_t ifh = idb->header.ifhandle;
    tessel_peer_index_entry_type *entry = entry_find(idb, addr);
    if (entry == nullptr) {
        return;
    }
    if (entry->ref_count > 0) {
        PI_DEBUG(ifh, "%s: Decrementing refcount of peer index %u, interface %s (0x%8.8x), peer %s", entry->peer_index,
                 name, ifh, addr_str(addr));
        entry->ref_count--;
        if (entry->ref_count > 0) {
            return;
        }
    }
    PI_DEBUG(ifh, "%s: Deleting peer index %u from interface %s (0x%8.8x), peer %s", entry->peer_index, name, ifh,
             addr_str(addr));
    tessel_peer_index_delete(idb, entry);
}

zerrno tessel_peer_index_get(tessel_proto_idb_type *idb, const ptp_address_type *addr, ptp_peer_index_type *out)
{
    const tessel_peer_index_entry_type *entry = entry_find(idb, addr);
    if (entry == nullptr) {
        const uint32_t ifh = idb->header.ifhandle;
        PI_DEBUG_ERR(ifh, "%s: [ERROR] Failed to find peer index for interface %s (0x%8.8x), peer %s",
                     idb->header.ifname, ifh, addr_str(addr));
        return PTP_ZERR_NO_PEER_INDEX;
    }
    *out = entry->peer_index;
    return ZERR_OK;
}

zerrno tessel_peer_index_restore(const char *ifname, const ptp_address_type *addr, ptp_peer_index_type index,
                                 uint64_t chkpt_obj_id)
{
    tessel_proto_idb_type *idb = nullptr;
    const zerrno rc = tessel_proto_db_get_by_ifname(ifname, &idb);
    if (rc != ZERR_OK) {
        PI_DEBUG_ERR(0, "%s: [ERROR] Failed to find IDB for interface %s to restore peer index %u for peer %s", ifname,
                     index, addr_str(addr));
        ptp_trace_address<PTP_TRACE_TESSEL_PEER_INDEX_RESTORE_NO_IDB>(
            {tessel_pm_det()}, ifname, index, ptp_address_trace_value(addr), ptp_address_trace_mac_low(addr),
            ptp_address_encap_get(addr));
        return rc;
    }
    const uint32_t ifh = idb->header.ifhandle;
    PI_DEBUG(ifh, "%s: Restoring peer index %u from checkpoint on interface %s (0x%8.8x), peer %s", index, ifname, ifh,
             addr_str(addr));
    return tessel_peer_index_entry_create(idb, addr, index, chkpt_obj_id, nullptr);
}

namespace {

// Step 1 of the sweep: every peer of the port gets an index; a peer that cannot have one goes.
void sweep_peers(tessel_proto_idb_type *idb)
{
    const uint32_t ifh = idb->header.ifhandle;
    auto needs_index = [&](const ptp_address_type *addr) {
        if (entry_find(idb, addr) != nullptr) {
            return false;
        }
        PI_DEBUG_BARE(ifh, "Failed to find peer index for interface %s (0x%8.8x), peer %s", idb->header.ifname, ifh,
                      addr_str(addr));
        return true;
    };
    avl2_node_type *node = avl2_get_first(&idb->fsm.unicast_peer_tree);
    while (node != nullptr) {
        auto *peer = reinterpret_cast<ptp_fsm_peer_entry_type *>(node);
        node = avl2_get_next(&idb->fsm.unicast_peer_tree, node);
        if (needs_index(&peer->peer_addr) && tessel_peer_index_acquire(idb, &peer->peer_addr) != ZERR_OK) {
            ptp_fsm_unicast_peer_entry_delete(peer, PTP_FSM_PROTO_PEER_DEL_NONE);
        }
    }
    node = avl2_get_first(&idb->fsm.foreign_master_table);
    while (node != nullptr) {
        auto *fm = reinterpret_cast<ptp_fsm_foreign_master_type *>(node);
        node = avl2_get_next(&idb->fsm.foreign_master_table, node);
        if (needs_index(&fm->peer_addr) && tessel_peer_index_acquire(idb, &fm->peer_addr) != ZERR_OK) {
            ptp_fsm_proto_foreign_master_delete(idb, fm, PTP_FSM_PROTO_PEER_DEL_NONE);
        }
    }
}

// Step 2 (primary agent only): each entry counts its users; entries without any go.
void sweep_recount(tessel_proto_idb_type *idb)
{
    const char *name = idb->header.ifname;
    const uint32_t ifh = idb->header.ifhandle;
    std::vector<tessel_peer_index_entry_type *> deletes; // "Peer Index Linked List of Deletes"
    for (avl2_node_type *node = avl2_get_first(&idb->peer_index_tree); node != nullptr;
         node = avl2_get_next(&idb->peer_index_tree, node)) {
        auto *entry = reinterpret_cast<tessel_peer_index_entry_type *>(node);
        const char *text = addr_str(&entry->address);
        const bool in_fm = ptp_fsm_proto_foreign_master_find(idb, &entry->address) != nullptr;
        PI_DEBUG(ifh, "%s: Interface %s (0x%8.8x) peer %s %sfound in foreign master tree", name, ifh, text,
                 in_fm ? "" : "not ");
        const bool in_peer = ptp_fsm_unicast_peer_entry_find(idb, &entry->address) != nullptr;
        PI_DEBUG(ifh, "%s: Interface %s (0x%8.8x) peer %s %sfound in unicast peer tree", name, ifh, text,
                 in_peer ? "" : "not ");
        entry->ref_count = static_cast<uint8_t>((in_fm ? 1 : 0) + (in_peer ? 1 : 0));
        if (entry->ref_count == 0) {
            PI_DEBUG_ERR(ifh,
                         "%s: [ERROR] Interface %s (0x%8.8x) peer %s not found in either unicast peer or foreign "
                         "master trees",
                         name, ifh, text);
            deletes.push_back(entry);
        }
    }
    for (tessel_peer_index_entry_type *entry : deletes) {
        tessel_peer_index_delete(idb, entry);
    }
}

bool sweep_walker(tessel_proto_idb_type *walked, void *)
{
    tessel_proto_idb_type *idb = nullptr;
    const zerrno rc = tessel_proto_db_get_by_ifhandle(walked->header.ifhandle, &idb);
    TESSEL_ASSERT(rc == ZERR_OK && idb != nullptr);
    sweep_peers(idb);
    if (tessel_issu_get_issu_role() == TESSEL_ISSU_ROLE_PRIMARY) {
        sweep_recount(idb);
    }
    return true;
}

bool clear_walker(tessel_proto_idb_type *idb, void *)
{
    std::vector<ptp_address_type> held; // "Peer Index Input Link List Entry"
    for (avl2_node_type *node = avl2_get_first(&idb->peer_index_tree); node != nullptr;
         node = avl2_get_next(&idb->peer_index_tree, node)) {
        const auto *entry = reinterpret_cast<const tessel_peer_index_entry_type *>(node);
        if (entry->ref_count > 0) {
            held.push_back(entry->address);
        }
    }
    for (const ptp_address_type &addr : held) {
        tessel_peer_index_release(idb, &addr);
    }
    return true;
}

} // namespace

void tessel_peer_index_sweep(void)
{
    tessel_proto_db_walk(sweep_walker, nullptr, nullptr, false);
}

void tessel_peer_index_clear(void)
{
    tessel_proto_db_walk(clear_walker, nullptr, nullptr, false);
}
