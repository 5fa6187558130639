// Adjacency and ARP resolution of IPv4 peers: the L2 header (rewrite) towards each IPv4 foreign
// master and unicast peer, read from the platform's adjacency table (AIB), kept in the peer's
// record and followed through AIB notifications; addresses without one are sent to the ARP
// client in batches every 1.5 s. A changed adjacency reaches the peer's offload session. When
// the platform resolves adjacencies itself the module is inactive and every adjacency is empty.
//
// Protocol thread only.
#pragma once

#include <cstdint>

#include "aib.h"
#include "arp_client.h"
#include "evm.h"
#include "ptp_timer.h"
#include "ptp_types.h"
#include "tessel_adjacency_types.h"
#include "zerrno.h"

struct ptp_fsm_foreign_master_type;
struct ptp_fsm_peer_entry_type;

// The ARP timer: requests are gathered this long and sent in one call.
inline constexpr uint32_t TESSEL_ADJACENCY_ARP_BATCH_MS = 1500;

zerrno tessel_adjacency_init(event_mgr_type *evm);
void tessel_adjacency_cleanup(void);

// Resolve and store the adjacency of a newly created peer (an ARP request when none is known).
void tessel_adjacency_foreign_master_request(ptp_fsm_foreign_master_type *fm);
void tessel_adjacency_unicast_peer_request(ptp_fsm_peer_entry_type *peer);
// The current adjacency for a send (empty off IPv4 or with platform adjacency resolution).
void tessel_adjacency_get(ifhtype ifhandle, const ptp_address_type *addr, ptp_adjacency_type *out);

// The AIB's adjacency of an IPv4 address (as stored in an address) on an interface; empty
// when there is none or it is longer than ADJ_REWRITE_LEN.
void tessel_adjacency_lookup(ifhtype ifhandle, uint32_t ipv4_addr, ptp_adjacency_type *out);
// Copies source into destination when it differs; true when it did.
bool ptp_adjacency_copy(ptp_adjacency_type *destination, const ptp_adjacency_type *source);

// Queues (interface handle, IPv4 address) for the next ARP batch.
void tessel_adjacency_arp_batch_add(ifhtype ifhandle, uint32_t ipv4_addr);

// Callbacks of the AIB, the ARP client and the ARP timer.
void tessel_adjacency_aib_notification_cb(const aib_notification_type *notification);
void tessel_adjacency_arp_notification_cb(uint32_t kind, const arp_client_batch_type *notification);
int tessel_adjacency_arp_timer_cb(ptp_timer_type *timer, void *context, int *stop);
