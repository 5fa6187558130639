// The ARP client: a process hands the ARP service batches of addresses to resolve, one status
// per request, and hears of requests that failed later through its notification callback.
// Results are never read here: a resolved neighbour shows in the adjacency table (aib.h).
// Requests on interface handles bound to Linux devices (nl_linux.h) make the kernel resolve
// the neighbour; the others are recorded for the test control (arp_test.h).
#pragma once

#include <cstdint>

#include "evm.h"
#include "zerrno.h"

inline constexpr uint32_t ARP_CLIENT_AF_INET = 2;
inline constexpr uint16_t ARP_CLIENT_REQUEST_RESOLVE = 3;
inline constexpr uint32_t ARP_CLIENT_FACILITY = 0x13E;
// arp_client_update's answer when some requests of the batch failed (their statuses say which).
inline constexpr zerrno ARP_CLIENT_PARTIAL_FAILURE = 0x409F6800u;
static_assert(ARP_CLIENT_PARTIAL_FAILURE == zerr_make(ARP_CLIENT_FACILITY, 52));

// One request, 36 bytes.
struct arp_client_request_type {
    uint32_t family; // ARP_CLIENT_AF_INET
    uint32_t ifhandle;
    uint32_t address; // IPv4, as on the wire
    uint32_t reserved;
    uint16_t request; // ARP_CLIENT_REQUEST_RESOLVE
    uint8_t pad[18];
};
static_assert(sizeof(arp_client_request_type) == 36);

// A batch: count requests and as many statuses (0 done, else the request's error).
struct arp_client_batch_type {
    arp_client_request_type *requests;
    uint32_t count;
    uint32_t *statuses;
};

enum arp_client_notification_kind_type : uint32_t {
    ARP_CLIENT_NOTIFICATION_FAILURE = 1, // requests that failed after they were accepted
};
using arp_client_notification_cb_fn = void (*)(uint32_t kind, const arp_client_batch_type *notification);

struct arp_client_type;

zerrno arp_client_register(event_mgr_type *evm, uint32_t client_kind, uint32_t family,
                           arp_client_notification_cb_fn callback, arp_client_type **out);
zerrno arp_client_update(arp_client_type *client, const arp_client_batch_type *batch);
void arp_client_unregister(arp_client_type *client);
