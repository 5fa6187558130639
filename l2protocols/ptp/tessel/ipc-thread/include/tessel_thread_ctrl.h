// Thread control: the agent's protocol thread, its event manager on the channel "/dev/ptp", and
// the blocking messages that are the only road from the IPC thread to it. The IPC thread sends
// and waits until the protocol thread replies, so a handler may read IPC-thread data (the
// if-update batch, IPC interface records, database request objects) through pointers; an
// operational-data reply may be parked until the data it needs arrives.
//
// Also the IPC side's view of the global settings (cached until the protocol thread has been
// given the whole database once with "DB Sync") and the batch of changed interfaces sent as one
// "Interface Update" at the end of each configuration batch.
#pragma once

#include <cstddef>
#include <cstdint>

#include "evm.h"
#include "zerrno.h"

struct tessel_ipc_idb_type;

enum tessel_thread_ctrl_msg_type : uint32_t {
    TESSEL_THREAD_CTRL_MSG_INIT = 0,
    TESSEL_THREAD_CTRL_MSG_PTP_ENABLE = 1,
    TESSEL_THREAD_CTRL_MSG_PTP_DISABLE = 2,
    TESSEL_THREAD_CTRL_MSG_CLOCK_PROFILE = 3,
    TESSEL_THREAD_CTRL_MSG_MIN_CLOCK_CLASS = 4,
    TESSEL_THREAD_CTRL_MSG_IF_UPDATE = 5,
    TESSEL_THREAD_CTRL_MSG_DB_SYNC = 6,
    TESSEL_THREAD_CTRL_MSG_EDM_GET = 7,
    TESSEL_THREAD_CTRL_MSG_EDM_LIST = 8,
    TESSEL_THREAD_CTRL_MSG_EDM_DATALIST = 9,
    TESSEL_THREAD_CTRL_MSG_EDM_SET = 10,
    TESSEL_THREAD_CTRL_MSG_SHUTDOWN = 11,
    TESSEL_THREAD_CTRL_MSG_IDT = 12,
    TESSEL_THREAD_CTRL_MSG_NDT = 13,
};
inline constexpr uint32_t TESSEL_THREAD_CTRL_MSG_COUNT = 14;

// The message record, in host order (both threads are in one process): u16 code
// (type | 0x8000), u16 facility 0x0FE5, the message layer's header area, then the payload.
inline constexpr uint16_t TESSEL_THREAD_CTRL_MSG_CODE_BIT = 0x8000;
inline constexpr uint16_t TESSEL_THREAD_CTRL_MSG_FACILITY = 0x0FE5;
inline constexpr size_t TESSEL_THREAD_CTRL_MSG_HDR_SIZE = 40;
inline constexpr size_t TESSEL_THREAD_CTRL_NDT_NOTICE_SIZE = 64;
struct tessel_thread_ctrl_msg_rec_type {
    uint16_t code;
    uint16_t facility;
    uint8_t msg_header[TESSEL_THREAD_CTRL_MSG_HDR_SIZE - 4]; // the message layer's; not written
    uint8_t payload[TESSEL_THREAD_CTRL_NDT_NOTICE_SIZE];
};
static_assert(sizeof(tessel_thread_ctrl_msg_rec_type) == 104);

// The channel the protocol thread serves.
inline constexpr const char *TESSEL_THREAD_CTRL_CHANNEL = "/dev/ptp";

// The record size of a message type; 0 for a type of 14 or more.
size_t tessel_thread_ctrl_msg_size(uint32_t type);

// ---- Lifecycle (IPC thread) ------------------------------------------------------------------
// Creates the protocol event manager and thread and sends "Init"; the reply of "Init" (the port
// manager's init result) is the result. A thread that was created stays until the shutdown,
// whatever the result; a second init while it exists creates nothing and returns 0.
zerrno tessel_thread_ctrl_init(void);
// "Shutdown", join, event manager destroyed; each step only when its part came up.
void tessel_thread_ctrl_shutdown(void);
// The protocol thread's event manager (null before init and after shutdown).
event_mgr_type *tessel_thread_ctrl_proto_evm(void);

// ---- Sending (IPC thread) ---------------------------------------------------------------------
// The blocking send: waits for the protocol thread's reply and returns it. A type of 14 or more,
// or a size that does not fit the record, is refused with PTP_ZERR_INVALID_ARG.
zerrno tessel_thread_ctrl_send(uint32_t type, tessel_thread_ctrl_msg_rec_type *record, size_t size);
zerrno tessel_thread_ctrl_send_ptp_enable(void);
zerrno tessel_thread_ctrl_send_ptp_disable(void);
zerrno tessel_thread_ctrl_send_clock_profile(uint32_t profile, uint32_t telecom_clock_type);
zerrno tessel_thread_ctrl_send_min_clock_class(uint8_t min_clock_class);
void tessel_thread_ctrl_send_db_sync(uint32_t ptp_enable, uint32_t unused1, uint32_t unused2, uint32_t profile,
                                     uint32_t telecom_clock_type, uint8_t min_clock_class);
// Operational-data requests: the database's request object travels as a pointer; the reply is
// the database callback's result.
zerrno tessel_thread_ctrl_send_edm_get(void *request);
zerrno tessel_thread_ctrl_send_edm_list(void *request);
zerrno tessel_thread_ctrl_send_edm_datalist(void *request);
zerrno tessel_thread_ctrl_send_edm_set(void *request);
// From the checkpoint service's callbacks on the IPC thread.
void tessel_thread_ctrl_send_idt(uint32_t notice);
void tessel_thread_ctrl_send_ndt(const void *notice); // 64 bytes
// The if-update batch: each changed interface once, sent as one "Interface Update".
void tessel_thread_ctrl_if_update_batch_add(tessel_ipc_idb_type *idb);
void tessel_thread_ctrl_send_if_update(void);
// The if-update batch as the "Interface Update" handler reads it.
uint32_t tessel_thread_ctrl_if_update_batch_count(void);
tessel_ipc_idb_type *const *tessel_thread_ctrl_if_update_batch_elements(void);

// ---- Replying (protocol thread) --------------------------------------------------------------
void tessel_thread_ctrl_msg_reply(msg_client_type client, zerrno result);
// Parks the reply of the message being handled; at most one is parked.
void tessel_thread_ctrl_delay_reply(msg_client_type client);
// Sends the parked reply.
void tessel_thread_ctrl_reply(zerrno result);
// Whether a reply is parked.
bool tessel_thread_ctrl_reply_parked(void);

// ---- Queries ----------------------------------------------------------------------------------
bool tessel_thread_ctrl_is_proto_thread();
bool tessel_thread_ctrl_is_ipc_thread_blocked();

// ---- IPC-side glue (IPC thread) ----------------------------------------------------------------
void tessel_ipc_set_ptp_enable(uint32_t enable);
uint32_t tessel_ipc_get_ptp_enable(void);
void tessel_ipc_set_clock_profile(uint32_t profile, uint32_t telecom_clock_type);
// The cached clock profile; the telecom clock type through the out-value when given.
uint32_t tessel_ipc_get_clock_profile(uint32_t *telecom_clock_type);
void tessel_ipc_set_min_clock_class(uint8_t min_clock_class);
// The interface manager's initial replay is done: "DB Sync", once per process, when active.
void tessel_ipc_db_sync_check(void);
bool tessel_ipc_is_synced(void);
// An interface record changed (configuration or interface manager).
void tessel_ipc_if_update_add(tessel_ipc_idb_type *idb);
// End of a configuration batch: queued interface-manager work, then "Interface Update".
void tessel_ipc_if_update_flush(void);
// Teardown: clears the synced flag and the cached enable.
void tessel_ipc_state_reset(void);
