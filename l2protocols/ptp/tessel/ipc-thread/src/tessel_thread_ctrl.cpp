#include "tessel_thread_ctrl.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <pthread.h>

#include "ptp_syslog.h"
#include "ptp_zerr_codes.h"
#include "tessel_assert.h"
#include "tessel_batch.h"
#include "tessel_if_config.h"
#include "tessel_im.h"
#include "tessel_ipc_deps.h"
#include "tessel_ipc_log.h"
#include "tessel_issu.h"
#include "tessel_packet.h"
#include "tessel_port_mgr.h"
#include "tessel_port_mgr_deps.h"
#include "tessel_proto_db.h"
#include "tessel_stats.h"
#include "tessel_utils.h"

namespace {

constexpr uint32_t AREA = tessel_debug_area("thread_ctrl");

// Operational-data handlers answer 115 when the answer needs data that arrives later.
constexpr zerrno EDM_IN_PROGRESS = EINPROGRESS;

// ---- State of the thread control (process globals) ----
event_mgr_type *proto_evm;
pthread_t proto_thread_id;
bool thread_started;
int32_t channel;
std::atomic<bool> proto_exit;
// Written by the IPC thread around each send; read by the protocol thread only while the IPC
// thread waits, but atomic so that the checks of a parked reply never race with it.
std::atomic<bool> tessel_thread_ctrl_ipc_thread_blocked;
msg_client_type tessel_thread_ctrl_reply_clinfo;
tessel_batch_info_type if_update_batch;
// Set by the protocol thread's body for itself: the thread id is only stored once
// pthread_create returns, which may be after the new thread's first check.
thread_local bool on_proto_thread;

// ---- IPC-side cache of the global settings ----
bool synced;
uint32_t cached_enable;
uint32_t cached_profile;
uint32_t cached_clock_type = 1; // T-BC
uint8_t cached_min_clock_class = 255;

// ---- The message table ----

// A handler runs on the protocol thread with the record and returns its result, which the
// dispatcher replies unless the handler set *replied (it parked the reply).
using handler_fn = zerrno (*)(msg_client_type client, const tessel_thread_ctrl_msg_rec_type *rec, bool *replied);

struct msg_row {
    size_t size;
    handler_fn handler;
};

uint32_t payload_u32(const tessel_thread_ctrl_msg_rec_type *rec, size_t index)
{
    uint32_t v;
    memcpy(&v, rec->payload + index * sizeof v, sizeof v);
    return v;
}

void *payload_ptr(const tessel_thread_ctrl_msg_rec_type *rec)
{
    void *p;
    memcpy(&p, rec->payload, sizeof p);
    return p;
}

zerrno tessel_thread_ctrl_handle_init(msg_client_type, const tessel_thread_ctrl_msg_rec_type *, bool *)
{
    tessel_issu_init(proto_evm);
    if (tessel_issu_get_issu_role() == TESSEL_ISSU_ROLE_PRIMARY) {
        tessel_chkpt_go_primary_active();
    } else {
        tessel_chkpt_go_active();
    }
    return tessel_port_mgr_init(proto_evm);
}

zerrno handle_ptp_enable(msg_client_type, const tessel_thread_ctrl_msg_rec_type *, bool *)
{
    tessel_port_mgr_ptp_enable();
    tessel_comms_resync();
    return 0;
}

zerrno handle_ptp_disable(msg_client_type, const tessel_thread_ctrl_msg_rec_type *, bool *)
{
    tessel_port_mgr_ptp_disable();
    return 0;
}

zerrno handle_clock_profile(msg_client_type, const tessel_thread_ctrl_msg_rec_type *rec, bool *)
{
    tessel_port_mgr_profile_change(payload_u32(rec, 0), payload_u32(rec, 1));
    return 0;
}

zerrno handle_min_clock_class(msg_client_type, const tessel_thread_ctrl_msg_rec_type *rec, bool *)
{
    tessel_port_mgr_min_clock_class_change(static_cast<uint8_t>(payload_u32(rec, 0)));
    return 0;
}

// The batch, its attaches and port numbers, once the port manager is active.
void process_batches_when_active()
{
    if (tessel_port_mgr_is_active()) {
        tessel_packet_process_attach();
        tessel_port_num_process_batches();
    }
}

zerrno handle_if_update(msg_client_type, const tessel_thread_ctrl_msg_rec_type *, bool *)
{
    // The IPC thread waits in its send, so its batch holds still while it is read here.
    const uint32_t count = tessel_thread_ctrl_if_update_batch_count();
    tessel_ipc_idb_type *const *elements = tessel_thread_ctrl_if_update_batch_elements();
    for (uint32_t i = 0; i < count; i++) {
        tessel_port_mgr_if_update(elements[i]);
    }
    process_batches_when_active();
    return 0;
}

zerrno handle_db_sync(msg_client_type, const tessel_thread_ctrl_msg_rec_type *rec, bool *)
{
    tessel_port_mgr_db_sync_start(payload_u32(rec, 0), payload_u32(rec, 1), payload_u32(rec, 2), payload_u32(rec, 3),
                                  payload_u32(rec, 4), static_cast<uint8_t>(payload_u32(rec, 5)));
    if (tessel_port_mgr_is_active()) {
        process_batches_when_active();
    } else {
        tessel_issu_milestone_met(TESSEL_ISSU_MILESTONE_THREAD_RESYNC);
        tessel_port_mgr_go_active();
    }
    return 0;
}

// An operational-data request: answered now, or parked until its data arrives.
zerrno handle_edm(zerrno (*fn)(void *), msg_client_type client, const tessel_thread_ctrl_msg_rec_type *rec,
                  bool *replied)
{
    const zerrno rc = fn(payload_ptr(rec));
    if (rc == EDM_IN_PROGRESS) {
        tessel_thread_ctrl_delay_reply(client);
        *replied = true;
    }
    return rc;
}

zerrno handle_edm_get(msg_client_type client, const tessel_thread_ctrl_msg_rec_type *rec, bool *replied)
{
    return handle_edm(tessel_edm_get, client, rec, replied);
}

zerrno handle_edm_list(msg_client_type client, const tessel_thread_ctrl_msg_rec_type *rec, bool *replied)
{
    return handle_edm(tessel_edm_list, client, rec, replied);
}

zerrno handle_edm_datalist(msg_client_type client, const tessel_thread_ctrl_msg_rec_type *rec, bool *replied)
{
    return handle_edm(tessel_edm_datalist, client, rec, replied);
}

zerrno handle_edm_set(msg_client_type, const tessel_thread_ctrl_msg_rec_type *rec, bool *)
{
    return tessel_edm_set(payload_ptr(rec));
}

bool first_proto_record(tessel_proto_idb_type *idb, void *context)
{
    *static_cast<tessel_proto_idb_type **>(context) = idb;
    return false;
}

zerrno handle_shutdown(msg_client_type, const tessel_thread_ctrl_msg_rec_type *, bool *)
{
    // The agent may stop with interfaces still configured (a termination signal): their ports
    // go first, as a removal would take them, so that the port manager's shutdown finds its
    // database empty.
    for (;;) {
        tessel_proto_idb_type *idb = nullptr;
        tessel_proto_db_walk(first_proto_record, &idb, nullptr, false);
        if (idb == nullptr) {
            break;
        }
        tessel_port_mgr_if_delete(idb);
    }
    tessel_port_mgr_shutdown();
    proto_exit = true;
    return 0;
}

zerrno tessel_thread_ctrl_handle_idt(msg_client_type, const tessel_thread_ctrl_msg_rec_type *rec, bool *)
{
    tessel_chkpt_idt_received(payload_u32(rec, 0));
    return 0;
}

zerrno tessel_thread_ctrl_handle_ndt(msg_client_type, const tessel_thread_ctrl_msg_rec_type *rec, bool *)
{
    tessel_chkpt_ndt_received(rec->payload);
    return 0;
}

constexpr size_t HDR = TESSEL_THREAD_CTRL_MSG_HDR_SIZE;

// Record size and protocol-thread handler; row i is type i (its text: tessel_thread_ctrl_msg_to_string).
constexpr msg_row msg_table[TESSEL_THREAD_CTRL_MSG_COUNT] = {
    {HDR, tessel_thread_ctrl_handle_init},
    {HDR, handle_ptp_enable},
    {HDR, handle_ptp_disable},
    {HDR + 8, handle_clock_profile},
    {HDR + 8, handle_min_clock_class},
    {HDR, handle_if_update},
    {HDR + 24, handle_db_sync},
    {HDR + 8, handle_edm_get},
    {HDR + 8, handle_edm_list},
    {HDR + 8, handle_edm_datalist},
    {HDR + 8, handle_edm_set},
    {HDR, handle_shutdown},
    {HDR + 8, tessel_thread_ctrl_handle_idt},
    {HDR + TESSEL_THREAD_CTRL_NDT_NOTICE_SIZE, tessel_thread_ctrl_handle_ndt},
};

// The one entry point of every message on the protocol thread; the row is the context.
int msg_dispatch(msg_client_type client, void *msg, size_t size, void *context)
{
    const auto *row = static_cast<const msg_row *>(context);
    const auto type = static_cast<uint32_t>(row - msg_table);
    if (size < row->size) {
        // Only a sender other than the agent's own glue can get the size wrong: refuse it.
        tessel_thread_ctrl_msg_reply(client, PTP_ZERR_INVALID_ARG);
        return 0;
    }
    TESSEL_IPC_DEBUG(AREA, "%s: Protocol thread received '%s' message from IPC thread",
                     tessel_thread_ctrl_msg_to_string(type));
    ptp_trace<PTP_TRACE_TESSEL_TC_RECEIVED>({tessel_ipc_det()}, type);
    // Records from msg_send are copies aligned for any type; the cast only names the layout.
    const auto *rec = static_cast<const tessel_thread_ctrl_msg_rec_type *>(msg);
    bool replied = false;
    const zerrno result = row->handler(client, rec, &replied);
    if (!replied) {
        tessel_thread_ctrl_msg_reply(client, result);
    }
    return 0;
}

void *tessel_thread_ctrl_proto_thread_main(void *)
{
    on_proto_thread = true;
    set_thread_name("Protocol Thread");
    if (proto_exit) {
        return nullptr;
    }
    for (;;) {
        event_type *event = event_block(proto_evm);
        if (event != nullptr) {
            zq_event_dispatch(event);
            if (proto_exit) {
                break;
            }
        } else {
            ptp_syslog_lost_event("Tessel protocol thread", zerr_strerror(PTP_ZERR_EVM | errno));
            if (proto_exit) {
                break;
            }
        }
    }
    return nullptr;
}

zerrno init_failed(const char *prefix, zerrno rc)
{
    ptp_syslog_init_failed(prefix, zerr_strerror(rc));
    return rc;
}

zerrno send_plain(uint32_t type)
{
    tessel_thread_ctrl_msg_rec_type rec{};
    return tessel_thread_ctrl_send(type, &rec, tessel_thread_ctrl_msg_size(type));
}

void put_u32(tessel_thread_ctrl_msg_rec_type *rec, size_t index, uint32_t value)
{
    memcpy(rec->payload + index * sizeof value, &value, sizeof value);
}

zerrno send_request(uint32_t type, void *request)
{
    tessel_stats_increment_node_event_counter(TESSEL_NODE_EVENT_XTHREAD_EDM_REQUESTS);
    tessel_thread_ctrl_msg_rec_type rec{};
    memcpy(rec.payload, &request, sizeof request);
    return tessel_thread_ctrl_send(type, &rec, tessel_thread_ctrl_msg_size(type));
}

} // namespace

size_t tessel_thread_ctrl_msg_size(uint32_t type)
{
    return type < TESSEL_THREAD_CTRL_MSG_COUNT ? msg_table[type].size : 0;
}

// ---- Lifecycle ----

zerrno tessel_thread_ctrl_init(void)
{
    if (thread_started) {
        // One protocol thread per process, however often the node is told to go active.
        return 0;
    }
    // Ready before anything can be added to it, also when "Init" fails below.
    tessel_batch_init(&if_update_batch, sizeof(tessel_ipc_idb_type *), "thread controller if update batch");

    proto_evm = event_create_manager(nullptr, TESSEL_THREAD_CTRL_CHANNEL, 0x20);
    if (proto_evm == nullptr) {
        return init_failed("Failed to create protocol thread event manager: ", PTP_ZERR_EVM | errno);
    }
    for (uint32_t type = 0; type < TESSEL_THREAD_CTRL_MSG_COUNT; type++) {
        const auto code = static_cast<uint16_t>((type & 0x0FFF) | TESSEL_THREAD_CTRL_MSG_CODE_BIT);
        if (event_message_attach(proto_evm, code, TESSEL_THREAD_CTRL_MSG_FACILITY, msg_dispatch,
                                 const_cast<msg_row *>(&msg_table[type])) != 0) {
            return init_failed("Failed to register for inter-thread messages: ", PTP_ZERR_EVM | errno);
        }
    }
    proto_exit = false;

    // Both threads keep the platform's real-time signals blocked; the new thread inherits them.
    sigset_t set;
    TESSEL_ASSERT(sigemptyset(&set) == 0);
    TESSEL_ASSERT(sigaddset(&set, SIGRTMIN + 6) == 0);
    TESSEL_ASSERT(sigaddset(&set, SIGRTMIN + 10) == 0);
    TESSEL_ASSERT(pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0);
    const int err = pthread_create(&proto_thread_id, nullptr, tessel_thread_ctrl_proto_thread_main, nullptr);
    if (err != 0) {
        return init_failed("Failed to create protocol thread: ", PTP_ZERR_THREAD | static_cast<uint32_t>(err));
    }
    thread_started = true;

    if (msg_chan_connect(TESSEL_THREAD_CTRL_CHANNEL, 0, 0, &channel) != 0) {
        channel = 0;
        return init_failed("Failed to connect to inter-thread message channel: ", PTP_ZERR_LWM | errno);
    }
    return send_plain(TESSEL_THREAD_CTRL_MSG_INIT);
}

void tessel_thread_ctrl_shutdown(void)
{
    tessel_batch_finish(&if_update_batch);
    if (channel != 0) {
        send_plain(TESSEL_THREAD_CTRL_MSG_SHUTDOWN);
        msg_chan_disconnect(channel);
        channel = 0;
    }
    if (thread_started) {
        if (proto_evm != nullptr && !proto_exit) {
            // The thread never heard "Shutdown" (no channel): end its loop from outside.
            proto_exit = true;
            event_manager_wakeup(proto_evm);
        }
        pthread_join(proto_thread_id, nullptr);
        thread_started = false;
    }
    if (proto_evm != nullptr) {
        event_manager_destroy(proto_evm);
        proto_evm = nullptr;
    }
    tessel_thread_ctrl_reply_clinfo = 0;
}

event_mgr_type *tessel_thread_ctrl_proto_evm(void)
{
    return proto_evm;
}

// ---- Sending ----

zerrno tessel_thread_ctrl_send(uint32_t type, tessel_thread_ctrl_msg_rec_type *record, size_t size)
{
    if (type >= TESSEL_THREAD_CTRL_MSG_COUNT || size < msg_table[type].size || size > sizeof *record) {
        return PTP_ZERR_INVALID_ARG;
    }
    const char *text = tessel_thread_ctrl_msg_to_string(type);
    TESSEL_IPC_DEBUG(AREA, "%s: About to send inter-thread %s message of size %zu", text, size);
    ptp_trace<PTP_TRACE_TESSEL_TC_SEND>({tessel_ipc_det()}, type, size);

    record->code = static_cast<uint16_t>((type & 0x0FFF) | TESSEL_THREAD_CTRL_MSG_CODE_BIT);
    record->facility = TESSEL_THREAD_CTRL_MSG_FACILITY;

    tessel_thread_ctrl_ipc_thread_blocked.store(true);
    const int status = msg_send(channel, record, size, nullptr, 0);
    const int send_errno = errno;
    tessel_thread_ctrl_ipc_thread_blocked.store(false);

    if (status == -1) {
        const zerrno rc = PTP_ZERR_LWM | static_cast<uint32_t>(send_errno);
        TESSEL_IPC_DEBUG_ERR(AREA, "%s: [ERROR] Failed to send inter-thread %s message: %s", text, zerr_strerror(rc));
        ptp_trace<PTP_TRACE_TESSEL_TC_SEND_FAILED>({tessel_ipc_unq()}, type, rc);
        tessel_stats_increment_node_event_counter(TESSEL_NODE_EVENT_XTHREAD_MSG_ERRORS);
        return rc;
    }
    const auto result = static_cast<zerrno>(status);
    TESSEL_IPC_DEBUG(AREA, "%s: Successfully sent interface-thread %s message of size %zu and received response '%s'",
                     text, size, zerr_strerror(result));
    ptp_trace<PTP_TRACE_TESSEL_TC_SENT>({tessel_ipc_det()}, type, size, result);
    return result;
}

zerrno tessel_thread_ctrl_send_ptp_enable(void)
{
    return send_plain(TESSEL_THREAD_CTRL_MSG_PTP_ENABLE);
}

zerrno tessel_thread_ctrl_send_ptp_disable(void)
{
    return send_plain(TESSEL_THREAD_CTRL_MSG_PTP_DISABLE);
}

zerrno tessel_thread_ctrl_send_clock_profile(uint32_t profile, uint32_t telecom_clock_type)
{
    tessel_thread_ctrl_msg_rec_type rec{};
    put_u32(&rec, 0, profile);
    put_u32(&rec, 1, telecom_clock_type);
    return tessel_thread_ctrl_send(TESSEL_THREAD_CTRL_MSG_CLOCK_PROFILE, &rec,
                                   tessel_thread_ctrl_msg_size(TESSEL_THREAD_CTRL_MSG_CLOCK_PROFILE));
}

zerrno tessel_thread_ctrl_send_min_clock_class(uint8_t min_clock_class)
{
    tessel_thread_ctrl_msg_rec_type rec{};
    put_u32(&rec, 0, min_clock_class);
    return tessel_thread_ctrl_send(TESSEL_THREAD_CTRL_MSG_MIN_CLOCK_CLASS, &rec,
                                   tessel_thread_ctrl_msg_size(TESSEL_THREAD_CTRL_MSG_MIN_CLOCK_CLASS));
}

void tessel_thread_ctrl_send_db_sync(uint32_t ptp_enable, uint32_t unused1, uint32_t unused2, uint32_t profile,
                                     uint32_t telecom_clock_type, uint8_t min_clock_class)
{
    tessel_thread_ctrl_msg_rec_type rec{};
    const uint32_t words[] = {ptp_enable, unused1, unused2, profile, telecom_clock_type, min_clock_class};
    for (size_t i = 0; i < std::size(words); i++) {
        put_u32(&rec, i, words[i]);
    }
    tessel_thread_ctrl_send(TESSEL_THREAD_CTRL_MSG_DB_SYNC, &rec,
                            tessel_thread_ctrl_msg_size(TESSEL_THREAD_CTRL_MSG_DB_SYNC));
}

zerrno tessel_thread_ctrl_send_edm_get(void *request)
{
    return send_request(TESSEL_THREAD_CTRL_MSG_EDM_GET, request);
}

zerrno tessel_thread_ctrl_send_edm_list(void *request)
{
    return send_request(TESSEL_THREAD_CTRL_MSG_EDM_LIST, request);
}

zerrno tessel_thread_ctrl_send_edm_datalist(void *request)
{
    return send_request(TESSEL_THREAD_CTRL_MSG_EDM_DATALIST, request);
}

zerrno tessel_thread_ctrl_send_edm_set(void *request)
{
    return send_request(TESSEL_THREAD_CTRL_MSG_EDM_SET, request);
}

void tessel_thread_ctrl_send_idt(uint32_t notice)
{
    tessel_thread_ctrl_msg_rec_type rec{};
    put_u32(&rec, 0, notice);
    tessel_thread_ctrl_send(TESSEL_THREAD_CTRL_MSG_IDT, &rec, tessel_thread_ctrl_msg_size(TESSEL_THREAD_CTRL_MSG_IDT));
}

void tessel_thread_ctrl_send_ndt(const void *notice)
{
    tessel_thread_ctrl_msg_rec_type rec{};
    memcpy(rec.payload, notice, TESSEL_THREAD_CTRL_NDT_NOTICE_SIZE);
    tessel_thread_ctrl_send(TESSEL_THREAD_CTRL_MSG_NDT, &rec, tessel_thread_ctrl_msg_size(TESSEL_THREAD_CTRL_MSG_NDT));
}

void tessel_thread_ctrl_if_update_batch_add(tessel_ipc_idb_type *idb)
{
    const uint32_t count = tessel_batch_get_count(&if_update_batch);
    tessel_ipc_idb_type *const *elements = tessel_thread_ctrl_if_update_batch_elements();
    for (uint32_t i = 0; i < count; i++) {
        if (elements[i] == idb) {
            TESSEL_IPC_DEBUG(AREA,
                             "%s: Not adding interface %s (0x%8.8x) to if update batch, as it already exists in the "
                             "batch",
                             idb->header.ifname, idb->header.ifhandle);
            return;
        }
    }
    auto *slot = static_cast<tessel_ipc_idb_type **>(tessel_batch_get_next_free_element(&if_update_batch));
    if (slot == nullptr) {
        return;
    }
    *slot = idb;
    TESSEL_IPC_DEBUG(AREA, "%s: Added interface %s (0x%8.8x) to the if update batch", idb->header.ifname,
                     idb->header.ifhandle);
    tessel_stats_increment_ipc_idb_event_counter(idb, TESSEL_IPC_IDB_EVENT_THREAD_UPDATES);
}

void tessel_thread_ctrl_send_if_update(void)
{
    if (tessel_batch_get_count(&if_update_batch) == 0) {
        return;
    }
    tessel_stats_increment_node_event_counter(TESSEL_NODE_EVENT_XTHREAD_IF_UPDATE_BATCHES);
    send_plain(TESSEL_THREAD_CTRL_MSG_IF_UPDATE);
    tessel_batch_finish(&if_update_batch);
}

uint32_t tessel_thread_ctrl_if_update_batch_count(void)
{
    return tessel_batch_get_count(&if_update_batch);
}

tessel_ipc_idb_type *const *tessel_thread_ctrl_if_update_batch_elements(void)
{
    return static_cast<tessel_ipc_idb_type *const *>(tessel_batch_get_elements(&if_update_batch));
}

// ---- Replying ----

void tessel_thread_ctrl_msg_reply(msg_client_type client, zerrno result)
{
    if (msg_reply(client, static_cast<int32_t>(result), nullptr, 0) == 0) {
        return;
    }
    const int reply_errno = errno;
    TESSEL_IPC_DEBUG_ERR(AREA, "%s: [ERROR] Message reply failed: %s", strerror(reply_errno));
    ptp_trace<PTP_TRACE_TESSEL_TC_REPLY_FAILED>({tessel_ipc_unq()}, static_cast<uint32_t>(reply_errno));
    tessel_stats_increment_node_event_counter(TESSEL_NODE_EVENT_XTHREAD_MSG_ERRORS);
    if (msg_error(client, reply_errno) != 0) {
        const int error_errno = errno;
        TESSEL_IPC_DEBUG_ERR(AREA, "%s: [ERROR] Message error failed: %s", strerror(error_errno));
        ptp_trace<PTP_TRACE_TESSEL_TC_ERROR_FAILED>({tessel_ipc_unq()}, static_cast<uint32_t>(error_errno));
        tessel_stats_increment_node_event_counter(TESSEL_NODE_EVENT_XTHREAD_MSG_ERRORS);
    }
}

void tessel_thread_ctrl_delay_reply(msg_client_type client)
{
    TESSEL_ASSERT(tessel_thread_ctrl_reply_clinfo == 0);
    TESSEL_ASSERT(tessel_thread_ctrl_ipc_thread_blocked.load());
    TESSEL_IPC_DEBUG(AREA, "%s: Delaying reply from protocol thread to IPC thread");
    tessel_thread_ctrl_reply_clinfo = client;
}

void tessel_thread_ctrl_reply(zerrno result)
{
    TESSEL_ASSERT(tessel_thread_ctrl_reply_clinfo != 0);
    TESSEL_ASSERT(tessel_thread_ctrl_ipc_thread_blocked.load());
    const msg_client_type client = tessel_thread_ctrl_reply_clinfo;
    tessel_thread_ctrl_reply_clinfo = 0;
    tessel_thread_ctrl_msg_reply(client, result);
}

bool tessel_thread_ctrl_reply_parked(void)
{
    return tessel_thread_ctrl_reply_clinfo != 0;
}

// ---- Queries ----

bool tessel_thread_ctrl_is_proto_thread()
{
    return on_proto_thread;
}

bool tessel_thread_ctrl_is_ipc_thread_blocked()
{
    return tessel_thread_ctrl_ipc_thread_blocked.load();
}

// ---- IPC-side glue ----

void tessel_ipc_set_ptp_enable(uint32_t enable)
{
    if (synced) {
        if (enable != 0) {
            tessel_thread_ctrl_send_ptp_enable();
        } else {
            tessel_thread_ctrl_send_ptp_disable();
        }
    }
    cached_enable = enable;
}

uint32_t tessel_ipc_get_ptp_enable(void)
{
    return cached_enable;
}

void tessel_ipc_set_clock_profile(uint32_t profile, uint32_t telecom_clock_type)
{
    if (synced) {
        tessel_thread_ctrl_send_clock_profile(profile, telecom_clock_type);
    }
    cached_profile = profile;
    cached_clock_type = telecom_clock_type;
}

uint32_t tessel_ipc_get_clock_profile(uint32_t *telecom_clock_type)
{
    if (telecom_clock_type != nullptr) {
        *telecom_clock_type = cached_clock_type;
    }
    return cached_profile;
}

void tessel_ipc_set_min_clock_class(uint8_t min_clock_class)
{
    if (synced) {
        tessel_thread_ctrl_send_min_clock_class(min_clock_class);
    }
    cached_min_clock_class = min_clock_class;
}

void tessel_ipc_db_sync_check(void)
{
    if (!tessel_main_is_active() || synced) {
        return;
    }
    tessel_thread_ctrl_send_db_sync(cached_enable, 0, 0, cached_profile, cached_clock_type, cached_min_clock_class);
    synced = true;
}

bool tessel_ipc_is_synced(void)
{
    return synced;
}

void tessel_ipc_if_update_add(tessel_ipc_idb_type *idb)
{
    if (!tessel_main_is_active()) {
        return;
    }
    if ((idb->flags & TESSEL_IPC_FLAG_ENABLED) != 0) {
        tessel_im_if_enable(idb);
    } else {
        tessel_im_if_disable(idb);
    }
    // Before the sync the protocol thread learns every record from "DB Sync" instead.
    if (synced) {
        tessel_thread_ctrl_if_update_batch_add(idb);
    }
}

void tessel_ipc_if_update_flush(void)
{
    tessel_im_process_batches();
    tessel_thread_ctrl_send_if_update();
}

void tessel_ipc_state_reset(void)
{
    synced = false;
    cached_enable = 0;
}
