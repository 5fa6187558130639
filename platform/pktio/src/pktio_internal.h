// State shared by the parts of the packet-I/O service. Private to the library.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "ctx.h"
#include "pktio_test.h"
#include "spio.h"

struct ctx_packet_type {
    ctx_packet_type *next_free = nullptr; // in the thread's cache of contexts (ctx.cpp)
    std::vector<uint8_t> data;            // capacity bytes
    size_t used = 0;                      // end of the bytes written or delivered
    size_t contiguous = SIZE_MAX;
    size_t net_off = 0;
    bool has_net = false;
    std::array<uint64_t, CTX_OPT_COUNT> opt{};
    std::array<bool, CTX_OPT_COUNT> opt_set{};
    std::vector<uint8_t> timestamp;
    bool has_timestamp = false;
    std::vector<uint8_t> fib;
};

namespace pktio {

// Registers the service's error texts (again after a test reset the error registry), so that a
// caller's zerr_strerror() prints them.
void register_errors();

// One injected failure: the call fails `count` more times with `code`.
struct failure_type {
    zerrno code = 0;
    uint32_t count = 0;
    uint32_t option = 0;
};

// Consumes one injected failure of op (matching option when given); true when the call must
// fail, with the code in *code.
bool fail_take(pktio_test_op op, uint32_t option, zerrno *code);

// The encapsulation of a connection kind (1, 2, 3), 0 for others.
uint32_t kind_index(uint32_t kind);

// Hands a received packet of kind to the connection attached to ifhandle (notifications go to
// the open connection of the kind). Takes the context; false (context freed) when none claims it.
bool deliver(uint32_t kind, uint32_t ifhandle, ctx_packet_type *packet);

// One received packet of kind on ifhandle (null when it could not be made).
struct rx_item_type {
    uint32_t kind;
    uint32_t ifhandle;
    ctx_packet_type *packet;
};

// Hands received packets over as deliver does, in order, each connection's share in one hand-off
// (one event on its manager for the lot). Takes the contexts.
void deliver_batch(const std::vector<rx_item_type> &items);

// A received context from bytes: frame at layer 1, network header at net_off (IP kinds), the
// application start, input interface, subtype, packet-id and a timestamp (the platform clock's
// real-time when ts is empty).
ctx_packet_type *rx_packet_make(uint32_t kind, uint32_t ifhandle, const uint8_t *bytes, size_t len,
                                const std::vector<uint8_t> &ts, bool with_ts);

// The 10-byte timestamp form of a time in nanoseconds since the epoch.
std::vector<uint8_t> timestamp_bytes(int64_t ns);
// The same into out (its buffer reused).
void timestamp_fill(int64_t ns, std::vector<uint8_t> &out);

// A context as new (null when out of memory), from the thread's cache when it holds one; and its
// end, into that cache (null accepted). Every context ends here, not with delete.
ctx_packet_type *ctx_packet_new();
void ctx_packet_delete(ctx_packet_type *packet);

// The interface registry shared by both backends.
zerrno intf_register(const char *name, uint32_t ifhandle, const uint8_t mac[6], bool is_l2, bool is_bundle,
                     bool is_linux);
void intf_unregister(uint32_t ifhandle);

// The event manager that waits on the Linux devices' rings: the first open connection's (null
// when none is open).
event_mgr_type *rx_manager();
// Linux backend: the connections changed; the rings follow rx_manager().
zerrno linux_rx_manager_changed();

// Linux backend: sends the wire bytes of a packet (an Ethernet frame, or an IPv4/IPv6 packet)
// out of the device bound to ifhandle.
// With tx_wall_ns, asks the kernel for the software transmit stamp (0 when none came).
zerrno linux_send(uint32_t kind, uint32_t ifhandle, const uint8_t *bytes, size_t len, int64_t *tx_wall_ns = nullptr);

// Hands the wire bytes of a packet (an Ethernet frame, or an IPv4/IPv6 packet) to whatever
// carries the interface: the relay, the Linux device or the in-memory link. With tx_wall_ns, the
// wall-clock time it left (the kernel's software transmit stamp on a Linux device; 0 when none).
// asked_wall_ns: when the sender asked for the send (0: now), the time an in-memory or relayed
// frame leaves, so that the work of getting it to the wire is not counted as its travel.
zerrno wire_send(uint32_t kind, uint32_t ifhandle, const uint8_t *bytes, size_t len, int64_t *tx_wall_ns = nullptr,
                 int64_t asked_wall_ns = 0);

// The offload plugin (offload_plugin.cpp). A session is created or updated from its key and data
// (PKTIO_ERR_INVALID when either is malformed) and runs on the connection's event manager.
zerrno offload_session_set(spio_conn_type *conn, event_mgr_type *evm, uint32_t kind, uint32_t ifhandle,
                           const uint8_t *key, size_t key_len, const uint8_t *data, size_t data_len);
// False when there is no such session.
bool offload_session_delete(uint32_t kind, uint32_t ifhandle, const uint8_t *key, size_t key_len);
void offload_conn_closed(spio_conn_type *conn);
// An interface detached from a connection of this kind: its sessions there are gone with it.
void offload_intf_detached(uint32_t kind, uint32_t ifhandle);
// A received packet the plugin handles (an event message of one of its sessions): true when it
// took it (and freed it).
bool offload_rx(uint32_t kind, uint32_t ifhandle, ctx_packet_type *packet);
// Answers a statistics request with notifications, or resets the counts it names.
void offload_stats(uint32_t kind, const spio_offload_stats_request_type *request, bool reset);
void offload_reset();

// Relay backend: false when ifhandle is not relayed through the daemon; else the frame, which left
// at sent_wall_ns, was handed to the daemon and *rc is the send's result.
bool relay_send(uint32_t kind, uint32_t ifhandle, const uint8_t *bytes, size_t len, int64_t sent_wall_ns, zerrno *rc);

} // namespace pktio
