// Test control of the packet-I/O service: simulated interfaces joined by in-memory links, what
// was sent, packets and notifications fed in, failures injected, offload sessions looked at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ctx.h"
#include "spio.h"
#include "zerrno.h"

// Forgets interfaces, links, the send log, injected failures and offload records. Connections
// must be closed first.
void pktio_test_reset();

// A simulated interface (in-memory backend).
zerrno pktio_test_intf_add(const char *name, uint32_t ifhandle, const uint8_t mac[6], bool is_l2 = true,
                           bool is_bundle = false);
void pktio_test_intf_remove(uint32_t ifhandle);
// Joins two interfaces: what one sends the other receives.
zerrno pktio_test_link(uint32_t ifhandle_a, uint32_t ifhandle_b);

// One packet as it left an interface.
struct pktio_test_sent_type {
    uint32_t kind;              // connection kind it was sent on
    uint32_t ifhandle;          // output interface
    std::vector<uint8_t> bytes; // the whole context as built (rewrite included)
    uint32_t current_length;
    int16_t app_start;
    uint8_t direction;
    uint8_t cos;
    uint8_t priority;
    uint32_t vrf_id;
    uint8_t ts_option;
    uint32_t packet_id;
    uint32_t ts_offset;
    uint32_t tag_layout;
    std::vector<uint8_t> fib_data;
};
// The last 65536 packets sent, oldest first.
std::vector<pktio_test_sent_type> pktio_test_sent();
void pktio_test_sent_clear();

// Operations a failure can be injected into: the next `count` calls fail with `code`.
enum class pktio_test_op : uint32_t {
    CTX_API_INIT,
    CTX_ALLOC,      // ctx_alloc returns null (code ignored)
    CTX_WRITE,      // fails with code; code 0: short write (half the bytes)
    CTX_READ,       // fails with code; code 0: short read (half the bytes)
    CTX_SET_OPTION, // any ctx_set_* of option `option`
    CTX_GET_OPTION, // any ctx_get_* of option `option`
    EPI_INIT,
    EPI_GENERATE,
    SPIO_INIT,          // the next spio_init of kind `option` (0: any)
    SPIO_ATTACH,        // the whole spio_attach2 call
    SPIO_ATTACH_STATUS, // the status of interface `option`
    SPIO_SEND,
    OFFLOAD_CREATE,
    OFFLOAD_DELETE,
    FORCE_RESYNC,  // spio_force_resync of connection kind `option` (0: any)
    OFFLOAD_STATS, // spio_offload_stats_request_nb / _reset of connection kind `option` (0: any)
};
void pktio_test_fail(pktio_test_op op, zerrno code, uint32_t count = 1, uint32_t option = 0);

// Interfaces attached to the open connection of a kind.
std::vector<uint32_t> pktio_test_attached(uint32_t kind);
// Calls made per connection kind.
struct pktio_test_calls_type {
    uint32_t attach_calls;
    uint32_t resync_starts;
    uint32_t resync_ends;
    uint32_t forced_resyncs;
    uint32_t offload_creates; // spio_offload_nb calls accepted
    uint32_t offload_deletes; // spio_offload_delete calls accepted
};
pktio_test_calls_type pktio_test_calls(uint32_t kind);

// A packet for the connection of `kind` as if it arrived on ifhandle.
struct pktio_test_rx_type {
    uint32_t kind;
    uint32_t ifhandle;
    std::vector<uint8_t> bytes; // the frame (Ethernet) or the IP packet (IPv4/IPv6)
    bool with_timestamp = true;
    std::vector<uint8_t> timestamp; // 10 bytes; empty: the platform clock's time
    uint8_t subtype = 0;
    uint32_t packet_id = 0;
    size_t contiguous = SIZE_MAX; // contiguous prefix of the frame
    int64_t current_length = -1;  // option 6 as reported (may claim more than the bytes); -1: their count
};
// Queues the packet to the connection attached to the interface (or of the kind, for a
// notification); false when there is none. It is delivered on the connection's event manager.
bool pktio_test_inject(const pktio_test_rx_type &packet);
// Several packets in one callback.
bool pktio_test_inject_batch(const std::vector<pktio_test_rx_type> &packets);
// Makes the service ask the open connection of a kind for a resync.
void pktio_test_request_resync(uint32_t kind);

// Offload sessions created and not deleted, per connection kind.
struct pktio_test_session_type {
    uint32_t ifhandle;
    std::vector<uint8_t> key;
    std::vector<uint8_t> data;
};
std::vector<pktio_test_session_type> pktio_test_sessions(uint32_t kind);
std::vector<spio_offload_stats_request_type> pktio_test_stats_requests(uint32_t kind);

// The offload plugin: frames its sessions sent (the last 65536), and how it answers statistics
// requests. An answer is split into chunks of at most entries_per_chunk entries, at most
// chunks_per_notification chunks per notification (0: no limit). While held, answers are kept
// back until released (in order) or dropped. pktio_test_reset() restores the defaults.
struct pktio_test_offload_sent_type {
    uint32_t kind;
    uint32_t ifhandle;
    std::vector<uint8_t> bytes; // the frame (Ethernet) or the IP packet (IPv4/IPv6)
};
std::vector<pktio_test_offload_sent_type> pktio_test_offload_sent();
void pktio_test_offload_sent_clear();
// Whether the plugin keeps the frames it sends (off until a test turns it on, and again after a
// reset; clears the log).
void pktio_test_offload_log(bool on);
void pktio_test_offload_stats_split(uint32_t entries_per_chunk, uint32_t chunks_per_notification);
void pktio_test_offload_stats_hold(bool hold);
// Delivers up to count held notifications; returns how many.
size_t pktio_test_offload_stats_release(size_t count = SIZE_MAX);
// Forgets the held notifications; returns how many.
size_t pktio_test_offload_stats_drop_held();

// Packets that reached no attached connection.
uint64_t pktio_test_unclaimed();
