// Adjacency and ARP resolution of IPv4 peers.
#include "tessel_adjacency.h"

#include <cstring>
#include <type_traits>

#include "ptp_address.h"
#include "ptp_strings.h"
#include "ptp_zerr_codes.h"
#include "tessel_assert.h"
#include "tessel_batch.h"
#include "tessel_fsm_foreign_master.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_types.h"
#include "tessel_fsm_unicast.h"
#include "tessel_pm_log.h"
#include "tessel_port_mgr_deps.h"
#include "tessel_proto_db.h"

namespace {

constexpr uint32_t TESSEL_AREA_ADJACENCY = tessel_debug_area("adjacency");

#define ADJ_DEBUG(ifh, format, ...) TESSEL_PM_DEBUG(TESSEL_AREA_ADJACENCY, ifh, format __VA_OPT__(, ) __VA_ARGS__)
#define ADJ_DEBUG_ERR(ifh, format, ...)                                                                                \
    TESSEL_PM_DEBUG_ERR(TESSEL_AREA_ADJACENCY, ifh, format __VA_OPT__(, ) __VA_ARGS__)

// One batch pair: the requests and their statuses, sent together.
struct arp_pair_type {
    tessel_batch_info_type requests;
    tessel_batch_info_type statuses;
};

struct adjacency_state_type {
    aib_adj_tbl_type *table = nullptr;
    arp_client_type *arp_client = nullptr;
    ptp_timer_type arp_timer{};
    bool aib_bound = false;
    // Two distinct pairs: the one being sent and the one taking new requests meanwhile.
    arp_pair_type pair_a{};
    arp_pair_type pair_b{};
    arp_pair_type *current = &pair_a;
};

adjacency_state_type adj;

bool module_active()
{
    return !tessel_intf_caps_supports_platform_adjacency();
}

const char *ipv4_str(uint32_t ipv4_addr)
{
    ptp_address_type a{};
    ptp_address_set_ipv4(&a, reinterpret_cast<const uint8_t *>(&ipv4_addr));
    return ptp_address_to_str(&a);
}

uint32_t ipv4_of(const ptp_address_type *addr)
{
    uint32_t v = 0;
    std::memcpy(&v, addr->value, sizeof v);
    return v;
}

void batches_init()
{
    tessel_batch_init(&adj.pair_a.requests, sizeof(arp_client_request_type), "ARP batch A");
    tessel_batch_init(&adj.pair_a.statuses, sizeof(uint32_t), "ARP status array batch A");
    tessel_batch_init(&adj.pair_b.requests, sizeof(arp_client_request_type), "ARP batch B");
    tessel_batch_init(&adj.pair_b.statuses, sizeof(uint32_t), "ARP status array batch B");
    adj.current = &adj.pair_a;
}

void batches_finish()
{
    for (arp_pair_type *pair : {&adj.pair_a, &adj.pair_b}) {
        tessel_batch_finish(&pair->requests);
        tessel_batch_finish(&pair->statuses);
    }
}

zerrno init_failed(zerrno rc)
{
    ADJ_DEBUG_ERR(0, "%s: [ERROR] Failed to initalise adjacency module: %s", zerr_strerror(rc));
    return rc;
}

} // namespace

zerrno tessel_adjacency_init(event_mgr_type *evm)
{
    if (!module_active()) {
        return 0;
    }
    zerrno rc = aib_server_bind();
    if (rc != 0) {
        return init_failed(rc);
    }
    adj.aib_bound = true;
    rc = aib_map_table(AIB_FAMILY_IPV4);
    if (rc != 0 && rc != AIB_ALREADY_MAPPED) {
        return init_failed(rc);
    }
    adj.table = aib_get_shm_table(AIB_FAMILY_IPV4);
    if (adj.table == nullptr) {
        return init_failed(PTP_ZERR2_NO_AIB_TABLE);
    }
    rc = aib_register_callback_v3("PTP", evm, tessel_adjacency_aib_notification_cb, AIB_FAMILY_IPV4);
    if (rc != 0) {
        return init_failed(rc);
    }
    rc = arp_client_register(evm, 28, ARP_CLIENT_AF_INET, tessel_adjacency_arp_notification_cb, &adj.arp_client);
    if (rc != 0) {
        adj.arp_client = nullptr;
        return init_failed(rc);
    }
    rc = ptp_timer_create(&adj.arp_timer, tessel_adjacency_arp_timer_cb, nullptr);
    if (rc != 0) {
        return init_failed(rc);
    }
    batches_init();
    return 0;
}

void tessel_adjacency_cleanup(void)
{
    if (!module_active()) {
        return;
    }
    if (adj.aib_bound) {
        aib_server_unbind();
    }
    ptp_timer_destroy(&adj.arp_timer);
    if (adj.arp_client != nullptr) {
        arp_client_unregister(adj.arp_client);
    }
    // The batches hold memory while requests are pending.
    batches_finish();
    adj = adjacency_state_type{};
}

void tessel_adjacency_lookup(ifhtype ifhandle, uint32_t ipv4_addr, ptp_adjacency_type *out)
{
    *out = ptp_adjacency_type{};
    aib_adj_entry_type entry{};
    const zerrno rc = adj.table == nullptr ? ENOENT
                                           : aib_client_adj_tbl_lookup(adj.table, ifhandle, AIB_FAMILY_IPV4,
                                                                       reinterpret_cast<const uint8_t *>(&ipv4_addr),
                                                                       sizeof ipv4_addr, &entry);
    if (rc != 0) {
        ADJ_DEBUG(ifhandle, "%s: Failed to find adjacency for IPv4 address '%s'", ipv4_str(ipv4_addr));
        return;
    }
    if (entry.rewrite_len > ADJ_REWRITE_LEN) {
        ADJ_DEBUG(ifhandle, "%s: Adjacency for '%s' has excessive MAC length %u", ipv4_str(ipv4_addr),
                  entry.rewrite_len);
        return;
    }
    out->rewrite_str_len = static_cast<uint16_t>(entry.rewrite_len);
    std::memcpy(out->rewrite_str, entry.rewrite, entry.rewrite_len);
    ADJ_DEBUG(ifhandle, "%s: Found adjacency for IPv4 address '%s'", ipv4_str(ipv4_addr));
}

bool ptp_adjacency_copy(ptp_adjacency_type *destination, const ptp_adjacency_type *source)
{
    TESSEL_ASSERT(source->rewrite_str_len <= ADJ_REWRITE_LEN);
    if (destination->rewrite_str_len == source->rewrite_str_len &&
        std::memcmp(destination->rewrite_str, source->rewrite_str, source->rewrite_str_len) == 0) {
        return false;
    }
    destination->rewrite_str_len = source->rewrite_str_len;
    std::memcpy(destination->rewrite_str, source->rewrite_str, source->rewrite_str_len);
    return true;
}

void tessel_adjacency_arp_batch_add(ifhtype ifhandle, uint32_t ipv4_addr)
{
    ADJ_DEBUG(ifhandle, "%s: Adding to ARP batch: IPv4 address %s", ipv4_str(ipv4_addr));
    auto *request = static_cast<arp_client_request_type *>(tessel_batch_get_next_free_element(&adj.current->requests));
    auto *status = static_cast<uint32_t *>(tessel_batch_get_next_free_element(&adj.current->statuses));
    if (request == nullptr || status == nullptr) {
        // Out of memory: this request is dropped. The two batches must stay in step, so an
        // element taken from one alone is given back.
        if (request != nullptr) {
            adj.current->requests.next_index--;
        }
        if (status != nullptr) {
            adj.current->statuses.next_index--;
        }
        return;
    }
    *request = arp_client_request_type{};
    request->family = ARP_CLIENT_AF_INET;
    request->ifhandle = ifhandle;
    request->address = ipv4_addr;
    request->request = ARP_CLIENT_REQUEST_RESOLVE;
    *status = 0;
    if (!ptp_timer_is_running(&adj.arp_timer)) {
        ptp_timer_start(&adj.arp_timer, TESSEL_ADJACENCY_ARP_BATCH_MS, false);
    }
}

namespace {

template <typename Peer>
void peer_request(Peer *peer, const ptp_address_type *addr, const char *what)
{
    if (!module_active() || addr->encap != PTP_ENCAP_IPV4) {
        return;
    }
    const ifhtype ifh = peer->port->header.ifhandle;
    ADJ_DEBUG(ifh, "%s: Received adjacency request for %s %s", what, ptp_address_to_str(addr));
    ptp_adjacency_type found{};
    tessel_adjacency_lookup(ifh, ipv4_of(addr), &found);
    const bool changed = ptp_adjacency_copy(&peer->adjacency, &found);
    if (found.rewrite_str_len == 0) {
        tessel_adjacency_arp_batch_add(ifh, ipv4_of(addr));
    }
    if (changed) {
        if constexpr (std::is_same_v<Peer, ptp_fsm_foreign_master_type>) {
            tessel_offload_foreign_master_session_update(peer);
        } else {
            tessel_offload_unicast_peer_session_update(peer);
        }
    }
}

} // namespace

void tessel_adjacency_foreign_master_request(ptp_fsm_foreign_master_type *fm)
{
    peer_request(fm, &fm->peer_addr, "foreign master");
}

void tessel_adjacency_unicast_peer_request(ptp_fsm_peer_entry_type *peer)
{
    peer_request(peer, &peer->peer_addr, "unicast peer");
}

void tessel_adjacency_get(ifhtype ifhandle, const ptp_address_type *addr, ptp_adjacency_type *out)
{
    if (addr != nullptr && addr->encap == PTP_ENCAP_IPV4 && module_active()) {
        tessel_adjacency_lookup(ifhandle, ipv4_of(addr), out);
        return;
    }
    *out = ptp_adjacency_type{};
}

int tessel_adjacency_arp_timer_cb(ptp_timer_type *, void *, int *)
{
    arp_pair_type *sent = adj.current;
    const uint32_t count = tessel_batch_get_count(&sent->requests);
    auto *requests = static_cast<arp_client_request_type *>(tessel_batch_get_elements(&sent->requests));
    auto *statuses = static_cast<uint32_t *>(tessel_batch_get_elements(&sent->statuses));
    const arp_client_batch_type batch{requests, count, statuses};
    const zerrno rc = adj.arp_client == nullptr ? EINVAL : arp_client_update(adj.arp_client, &batch);
    // Requests queued from here on (the re-queued ones too) go into the other pair.
    adj.current = sent == &adj.pair_a ? &adj.pair_b : &adj.pair_a;
    if (rc == 0) {
        ADJ_DEBUG(0, "%s: Sucessfully sent %u batched ARP requests", count);
    } else {
        ADJ_DEBUG_ERR(0, "%s: [ERROR] Failure sending batched ARP requests: %s", zerr_strerror(rc));
        for (uint32_t i = 0; i < count; i++) {
            if (rc == ARP_CLIENT_PARTIAL_FAILURE) {
                if (statuses[i] == 0) {
                    continue;
                }
                ADJ_DEBUG_ERR(requests[i].ifhandle, "%s: [ERROR] Individual failure reported: %s",
                              zerr_strerror(statuses[i]));
            }
            tessel_adjacency_arp_batch_add(requests[i].ifhandle, requests[i].address);
        }
    }
    tessel_batch_finish(&sent->requests);
    tessel_batch_finish(&sent->statuses);
    return 0;
}

void tessel_adjacency_aib_notification_cb(const aib_notification_type *notification)
{
    const aib_adj_entry_type *entry = notification != nullptr ? notification->entry : nullptr;
    if (entry == nullptr || entry->family != AIB_FAMILY_IPV4 || entry->rewrite_len > ADJ_REWRITE_LEN ||
        entry->key_len != 4) {
        return;
    }
    ptp_adjacency_type fresh{};
    if (notification->kind != AIB_NOTIFICATION_DELETE) {
        fresh.rewrite_str_len = static_cast<uint16_t>(entry->rewrite_len);
        std::memcpy(fresh.rewrite_str, entry->rewrite, entry->rewrite_len);
    }
    tessel_proto_idb_type *idb = nullptr;
    if (tessel_proto_db_get_by_ifhandle(entry->ifhandle, &idb) != 0 || idb == nullptr) {
        return;
    }
    ptp_address_type addr{};
    ptp_address_set_ipv4(&addr, entry->key);
    if (ptp_fsm_foreign_master_type *fm = ptp_fsm_proto_foreign_master_find(idb, &addr); fm != nullptr) {
        if (ptp_adjacency_copy(&fm->adjacency, &fresh)) {
            tessel_offload_foreign_master_session_update(fm);
        }
        ADJ_DEBUG(entry->ifhandle, "%s: Received adjacency notification for foreign master %s",
                  ptp_address_to_str(&addr));
    }
    if (ptp_fsm_peer_entry_type *peer = ptp_fsm_unicast_peer_entry_find(idb, &addr); peer != nullptr) {
        if (ptp_adjacency_copy(&peer->adjacency, &fresh)) {
            tessel_offload_unicast_peer_session_update(peer);
        }
        ADJ_DEBUG(entry->ifhandle, "%s: Received adjacency notification for unicast peer %s",
                  ptp_address_to_str(&addr));
    }
}

void tessel_adjacency_arp_notification_cb(uint32_t kind, const arp_client_batch_type *notification)
{
    if (kind != ARP_CLIENT_NOTIFICATION_FAILURE || notification == nullptr || notification->requests == nullptr ||
        notification->statuses == nullptr) {
        return;
    }
    for (uint32_t i = 0; i < notification->count; i++) {
        if (notification->statuses[i] == 0) {
            continue;
        }
        const arp_client_request_type &r = notification->requests[i];
        ADJ_DEBUG_ERR(r.ifhandle, "%s: ARP failure notification for IPv4 address %s: %s", ipv4_str(r.address),
                      zerr_strerror(notification->statuses[i]));
        tessel_adjacency_arp_batch_add(r.ifhandle, r.address);
    }
}
