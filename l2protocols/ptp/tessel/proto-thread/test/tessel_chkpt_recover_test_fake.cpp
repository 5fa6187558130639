// Recording fakes of what the checkpoint recovery calls and its tests do not link: the state
// machine, the best-master list, the port manager,
// packet attach, the counters' recovery, port numbers, peer indices and the upgrade milestones.
#include "tessel_chkpt_recover_test_fake.h"

#include <cstring>

#include "avl2.h"
#include "tessel_alloc.h"
#include "tessel_bmc.h"
#include "tessel_fsm.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_types.h"
#include "tessel_fsm_unicast.h"
#include "tessel_gpb.h"
#include "tessel_issu.h"
#include "tessel_packet.h"
#include "tessel_peer_index.h"
#include "tessel_port_mgr.h"
#include "tessel_port_num.h"
#include "tessel_proto_db.h"
#include "tessel_stats.h"

chkpt_recover_fake_state_type recover_fake;

namespace {

// The stored bytes of a record, by the real encoding.
template <typename T, typename Encode>
std::string encode_bytes(const T &rec, Encode encode)
{
    std::vector<uint8_t> buffer(TESSEL_CHKPT_RECORD_SIZE);
    size_t len = 0;
    T copy = rec;
    encode(&copy, buffer.data(), &len);
    return std::string(reinterpret_cast<const char *>(buffer.data()), len);
}

int addr_compare(const void *a, const void *b, void *)
{
    return std::memcmp(&static_cast<const ptp_fsm_peer_entry_type *>(a)->peer_addr,
                       &static_cast<const ptp_fsm_peer_entry_type *>(b)->peer_addr, sizeof(ptp_address_type));
}

int index_compare(const void *a, const void *b, void *)
{
    return std::memcmp(&static_cast<const tessel_peer_index_entry_type *>(a)->address,
                       &static_cast<const tessel_peer_index_entry_type *>(b)->address, sizeof(ptp_address_type));
}

void rec(const std::string &call)
{
    recover_fake.calls.push_back(call);
}

std::string name_of(const tessel_proto_idb_type *idb)
{
    return idb->header.ifname;
}

bool release_port_cb(tessel_proto_idb_type *idb, void *)
{
    while (avl2_node_type *node = avl2_get_first(&idb->fsm.unicast_peer_tree)) {
        avl2_delete(&idb->fsm.unicast_peer_tree, node);
        delete reinterpret_cast<ptp_fsm_peer_entry_type *>(node);
    }
    while (avl2_node_type *node = avl2_get_first(&idb->peer_index_tree)) {
        avl2_delete(&idb->peer_index_tree, node);
        delete reinterpret_cast<tessel_peer_index_entry_type *>(node);
    }
    return true;
}

} // namespace

void chkpt_recover_fake_reset()
{
    recover_fake = chkpt_recover_fake_state_type{};
}

void chkpt_recover_fake_release_ports()
{
    tessel_proto_db_walk(release_port_cb, nullptr, nullptr, false);
}

std::string chkpt_recover_fake_encode(const tessel_chkpt_gl_type &r)
{
    return encode_bytes(r, tessel_gpb_gl_encode);
}
std::string chkpt_recover_fake_encode(const tessel_chkpt_if_type &r)
{
    // The record is one block with its address lists.
    std::vector<uint8_t> block(tessel_chkpt_if_size(r.num_ipv4_addr, r.num_ipv6_addr));
    std::memcpy(block.data(), &r, block.size());
    std::vector<uint8_t> buffer(TESSEL_CHKPT_RECORD_SIZE);
    size_t len = 0;
    tessel_gpb_if_encode(reinterpret_cast<tessel_chkpt_if_type *>(block.data()), buffer.data(), &len);
    return std::string(reinterpret_cast<const char *>(buffer.data()), len);
}
std::string chkpt_recover_fake_encode(const tessel_chkpt_unicast_grant_type &r)
{
    return encode_bytes(r, tessel_gpb_unicast_grant_encode);
}
std::string chkpt_recover_fake_encode(const tessel_chkpt_peer_index_type &r)
{
    return encode_bytes(r, tessel_gpb_peer_index_encode);
}

std::vector<std::string> chkpt_recover_fake_calls(const std::string &prefix)
{
    std::vector<std::string> out;
    for (const std::string &c : recover_fake.calls) {
        if (c.rfind(prefix, 0) == 0) {
            out.push_back(c);
        }
    }
    return out;
}

// ---- State machine ----

zerrno ptp_fsm_init(tessel_proto_idb_type *port)
{
    rec("fsm_init:" + name_of(port));
    avl2_init(&port->fsm.unicast_peer_tree, addr_compare, nullptr);
    return recover_fake.fsm_init_rc;
}
void ptp_fsm_resume(tessel_proto_idb_type *port, ptp_port_state_type state,
                    const tessel_chkpt_foreign_master_type *best)
{
    rec("resume:" + name_of(port) + ":" + std::to_string(state) + ":" + (best != nullptr ? "fm" : "-"));
}
void ptp_fsm_issu_secondary_update(tessel_proto_idb_type *port, const ptp_port_state_type *state,
                                   const tessel_chkpt_foreign_master_type *best)
{
    rec("secondary_update:" + name_of(port) + ":" + (state != nullptr ? std::to_string(*state) : "-") + ":" +
        (best != nullptr ? "fm" : "-"));
}
zerrno ptp_fsm_unicast_grant_restore(tessel_proto_idb_type *port, const tessel_chkpt_unicast_grant_type *record,
                                     uint64_t chkpt_id)
{
    rec("grant_restore:" + name_of(port) + ":" + std::to_string(chkpt_id));
    if (recover_fake.grant_restore_rc != 0) {
        return recover_fake.grant_restore_rc;
    }
    auto *entry = new ptp_fsm_peer_entry_type{};
    entry->peer_addr = record->peer_addr;
    entry->chkpt_id = chkpt_id;
    entry->port = port;
    avl2_insert(&port->fsm.unicast_peer_tree, &entry->tree_link);
    return 0;
}
void ptp_fsm_unicast_peer_entry_delete(ptp_fsm_peer_entry_type *entry, uint32_t options)
{
    rec("peer_delete:" + std::to_string(entry->chkpt_id) + ":" + std::to_string(options));
    avl2_delete(&entry->port->fsm.unicast_peer_tree, entry);
    delete entry;
}

// ---- Best-master list, port manager, packets, counters, port numbers ----

void tessel_bmc_slave_support_change(uint32_t supported)
{
    rec("bmc_slave_support:" + std::to_string(supported));
}
void tessel_bmc_global_bmc_update(const ptp_clock_type *bmc, const ptp_clock_type *advertised, uint32_t selected,
                                  uint32_t synced)
{
    rec("bmc_update:" + std::to_string(bmc->clock_id) + ":" + std::to_string(advertised->clock_id) + ":" +
        std::to_string(selected) + ":" + std::to_string(synced));
}
void tessel_bmc_restore(void)
{
    rec("bmc_restore");
}
void tessel_port_mgr_local_clock_update(const tessel_port_mgr_local_clock_type *clock)
{
    rec("local_clock:" + std::to_string(clock->clock_id) + ":" + std::to_string(clock->domain));
}
void tessel_port_mgr_profile_change(uint32_t profile, uint32_t telecom_clock_type)
{
    rec("profile:" + std::to_string(profile) + ":" + std::to_string(telecom_clock_type));
}
void tessel_port_mgr_min_clock_class_change(uint8_t min_clock_class)
{
    rec("min_clock_class:" + std::to_string(min_clock_class));
}
zerrno tessel_port_mgr_go_active(void)
{
    rec("go_active");
    if (recover_fake.go_active_reads && tessel_chkpt_tables_register() == 0) {
        tessel_chkpt_read();
    }
    return 0;
}
void tessel_packet_attach(tessel_proto_idb_type *idb)
{
    rec("attach:" + name_of(idb));
}
void tessel_packet_process_attach(void)
{
    rec("attach_flush");
}
void tessel_stats_recover_after_restart()
{
    rec("stats_recover");
}
zerrno tessel_port_num_batches_init(void)
{
    rec("port_num_batches");
    return 0;
}
uint32_t tessel_port_num_is_initialised(void)
{
    return recover_fake.port_num_running;
}
void tessel_port_num_send_ma_resync_msg(void)
{
    rec("port_num_resync");
}

// ---- Peer indices ----

zerrno tessel_peer_index_idb_init(tessel_proto_idb_type *idb)
{
    rec("peer_index_idb_init:" + name_of(idb));
    avl2_init(&idb->peer_index_tree, index_compare, nullptr);
    return 0;
}
void tessel_peer_index_clear(void)
{
    rec("peer_index_clear");
}
void tessel_peer_index_sweep(void)
{
    rec("peer_index_sweep");
}
zerrno tessel_peer_index_restore(const char *ifname, const ptp_address_type *addr, ptp_peer_index_type index,
                                 uint64_t chkpt_obj_id)
{
    rec("peer_index_restore:" + std::string(ifname) + ":" + std::to_string(index) + ":" + std::to_string(chkpt_obj_id));
    tessel_proto_idb_type *idb = nullptr;
    if (tessel_proto_db_get_by_ifname(ifname, &idb) != 0) {
        return PTP_ZERR_DB_NO_ENTRY;
    }
    auto *entry = new tessel_peer_index_entry_type{};
    entry->address = *addr;
    entry->peer_index = index;
    entry->chkpt_obj_id = chkpt_obj_id;
    if (avl2_insert(&idb->peer_index_tree, &entry->tree_link) == nullptr) {
        delete entry;
        return PTP_ZERR_DB_ENTRY_EXISTS;
    }
    return 0;
}
void tessel_peer_index_release(tessel_proto_idb_type *idb, const ptp_address_type *addr)
{
    rec("peer_index_release:" + name_of(idb));
    tessel_peer_index_entry_type key{};
    key.address = *addr;
    if (avl2_node_type *node = avl2_delete(&idb->peer_index_tree, &key)) {
        delete reinterpret_cast<tessel_peer_index_entry_type *>(node);
    }
}

// ---- Upgrade milestones ----

uint32_t tessel_issu_is_milestone_met(uint32_t milestone)
{
    return recover_fake.milestones_met.count(milestone) != 0 ? 1 : 0;
}
void tessel_issu_milestone_met(uint32_t milestone)
{
    rec("milestone_met:" + std::to_string(milestone));
    recover_fake.milestones_met.insert(milestone);
}

// ---- The interface database's handle hash ----

uint32_t imc_ifhandle_to_hash(ifhtype ifhandle, uint32_t key_bits)
{
    return key_bits == 0 ? 0 : (ifhandle * 0x9E3779B1u) >> (32 - key_bits);
}
