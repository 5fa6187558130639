// Switch packet I/O: connections of a protocol to the packet path, per encapsulation. A
// connection receives the packets of the interfaces attached to it (callbacks on its event
// manager), sends packet contexts out of interfaces, answers resynchronisation, and carries the
// offload plugin's session, statistics and notification calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ctx.h"
#include "evm.h"
#include "zerrno.h"

struct spio_conn_type;

// Connection kinds.
inline constexpr uint32_t SPIO_CONN_KIND_ETHERNET = 20;
inline constexpr uint32_t SPIO_CONN_KIND_IPV4 = 21;
inline constexpr uint32_t SPIO_CONN_KIND_IPV6 = 22;
inline constexpr uint32_t SPIO_PARAMS_VERSION = 3;

// Receive: count contexts, owned by the callback from then on (free them with ctx_free); the
// array itself stays the service's.
using spio_rx_fn = void (*)(uint32_t count, ctx_packet_type **packets);
// The service asks the user to resynchronise its attachments (spio_resync_start .. _end).
using spio_resync_req_fn = void (*)(void);

struct spio_init_params_type {
    uint32_t version; // SPIO_PARAMS_VERSION
    spio_rx_fn rx;
    spio_resync_req_fn resync_req;
    uint32_t kind; // SPIO_CONN_KIND_*
    event_mgr_type *evm;
};

zerrno spio_init(const spio_init_params_type *params, spio_conn_type **out);
// Detaches every interface and frees the connection; packets still queued are dropped.
void spio_close(spio_conn_type *conn);

// Attaches (direction 1) or detaches (0) count interfaces in one request. The call fails as a
// whole only for a bad request; each interface's result is in statuses[i].
zerrno spio_attach2(spio_conn_type *conn, uint32_t flags, uint32_t count, const uint32_t *ifhandles,
                    const uint32_t *directions, uint32_t *statuses);

// Sends count contexts, each out of its output interface (option 5). With consume 1 the service
// takes the contexts whatever the result. The first failure is returned; the contexts behind it
// are not sent.
zerrno spio_pd_intf_send(spio_conn_type *conn, uint32_t count, ctx_packet_type **packets, uint32_t consume,
                         uint32_t flags);

zerrno spio_resync_start(spio_conn_type *conn);
zerrno spio_resync_end(spio_conn_type *conn);
// Asks the service for a resynchronisation: the resync-request callback follows on the
// connection's event manager.
zerrno spio_force_resync(spio_conn_type *conn);

// ---- Offload plugin calls ----------------------------------------------------------------------

// Create or update count sessions.
struct spio_offload_request_type {
    uint32_t version; // 0
    uint32_t count;
    const uint32_t *ifhandles;
    const uint32_t *platform_values;
    const void *const *keys;
    const uint16_t *key_lens;
    const void *const *data;
    const uint16_t *data_lens;
};
// Delete count sessions (the first four arrays only).
struct spio_offload_delete_request_type {
    uint32_t version; // 0
    uint32_t count;
    const uint32_t *ifhandles;
    const uint32_t *platform_values;
    const void *const *keys;
    const uint16_t *key_lens;
};
// Completion of a create request: called on the connection's event manager with the status of
// each session in the caller's status array (entries already non-zero are left as they are).
using spio_offload_done_fn = void (*)(uint32_t count, uint32_t *statuses, void *context);
struct spio_offload_completion_type {
    uint32_t *statuses;
    spio_offload_done_fn done;
    void *context;
};
// Statistics request or reset: kind 0 sessions, 1 interfaces and global.
struct spio_offload_stats_request_type {
    uint32_t kind;
    uint32_t solicited;
    uint32_t count;
    const uint32_t *ifhandles;
    const void *const *keys;  // kind 0 only
    const uint16_t *key_lens; // kind 0 only
};

zerrno spio_offload_nb(spio_conn_type *conn, const spio_offload_request_type *request,
                       const spio_offload_completion_type *completion, uint32_t *request_id);
zerrno spio_offload_delete(spio_conn_type *conn, const spio_offload_delete_request_type *request, uint32_t *statuses);
zerrno spio_offload_stats_request_nb(spio_conn_type *conn, const spio_offload_stats_request_type *request);
zerrno spio_offload_stats_reset(spio_conn_type *conn, const spio_offload_stats_request_type *request);
