// The IPC thread's interface-manager client: one connection to the interface manager, interface
// names resolved to handles in batches, each enabled interface registered for the attributes its
// encapsulation needs (line state, Ethernet details, IP addresses), the manager's bulk
// notifications applied to the IPC interface records, and changed records queued for the
// protocol thread. The manager's report that its initial replay is done starts the first
// "DB Sync".
//
// IPC thread only.
#pragma once

#include <cstdint>

#include "evm.h"
#include "imc.h"
#include "zerrno.h"

struct tessel_ipc_idb_type;

// Flags of tessel_ipc_idb_type::flags that this module writes.
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_ETHER_INFO = 1ull << 13;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_IM_STATE = 1ull << 14;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_IP_ADDRESS = 1ull << 15;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_IPV6_ADDRESS = 1ull << 16;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_VRF_ID = 1ull << 17;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_IFHANDLE = 1ull << 18;
inline constexpr uint64_t TESSEL_IPC_FLAG_UPDATE_IF_TYPE = 1ull << 19;
inline constexpr uint64_t TESSEL_IPC_FLAG_IM_REGISTERED = 1ull << 32;
inline constexpr uint64_t TESSEL_IPC_FLAG_IPV4_LIST_CHANGED = 1ull << 38;
inline constexpr uint64_t TESSEL_IPC_FLAG_IPV6_LIST_CHANGED = 1ull << 39;

// The line state the agent gives an interface whose attributes are re-registered.
inline constexpr uint32_t TESSEL_IM_STATE_REREGISTERING = 0x11;

zerrno tessel_im_init(event_mgr_type *evm);
void tessel_im_shutdown(void);

void tessel_im_if_enable(tessel_ipc_idb_type *idb);
void tessel_im_if_disable(tessel_ipc_idb_type *idb);
void tessel_im_if_unregister(tessel_ipc_idb_type *idb);
void tessel_im_process_batches(void);

// Callbacks of the connection and of the interface manager.
int tessel_im_connect_cb(event_conn_type *conn, void *context);
int tessel_im_register_notify_cb(event_conn_type *conn, uint32_t event, void *context);
void tessel_im_bulk_notify_cb(const imc_notify_type *notify, void *context);

bool tessel_im_select_source_ipv4(tessel_ipc_idb_type *idb);
bool tessel_im_select_source_ipv6(tessel_ipc_idb_type *idb);

// The bound control context (null while unbound): configuration checks and the debug filters
// resolve interface names through it.
imc_ctx_type *tessel_im_ctrl_ctx(void);
// The address of the context, for the debug registration, which reads it when a filter runs.
imc_ctx_type **tessel_im_ctrl_ctx_ref(void);
bool tessel_im_is_connected(void);
