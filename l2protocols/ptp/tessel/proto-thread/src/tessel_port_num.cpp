// The port-number client (see tessel_port_num.h).
#include "tessel_port_num.h"

#include <cstdlib>

#include "comms.h"
#include "ptp_alloc.h"
#include "ptp_comms_msg.h"
#include "ptp_syslog.h"
#include "ptp_timer.h"
#include "ptp_wire.h"
#include "sysmgr.h"
#include "tessel_batch.h"
#include "tessel_fsm_types.h"
#include "tessel_issu.h"
#include "tessel_pm_log.h"
#include "tessel_port_mgr.h"
#include "tessel_proto_db.h"

namespace {

constexpr uint32_t AREA = tessel_debug_area("port_num");

#define PORT_NUM_DEBUG(ifh, format, ...) TESSEL_PM_DEBUG(AREA, ifh, format __VA_OPT__(, ) __VA_ARGS__)
#define PORT_NUM_DEBUG_ERR(ifh, format, ...) TESSEL_PM_DEBUG_ERR(AREA, ifh, format __VA_OPT__(, ) __VA_ARGS__)

struct tessel_port_num_state_type {
    comms_conn_type *connection;
    const comms_member_type *group_member;
    uint32_t local_node_id;
    uint8_t link_down;
    tessel_batch_info_type request_batch;
    tessel_batch_info_type release_batch;
    uint8_t batches_created;
    ptp_timer_type retry_timer;
    uint8_t retry_timer_created;
    uint8_t initialised;
};

tessel_port_num_state_type ps{};
uint32_t dropped_msgs = 0;

void tessel_port_num_alloc_msg_cb(comms_conn_type *, void *, const comms_member_type *, const void *msg, size_t length);
void tessel_port_num_ctrlr_resync_msg_cb(comms_conn_type *, void *, const comms_member_type *, const void *msg,
                                         size_t length);
void tessel_port_num_resync_request_msg_cb(comms_conn_type *, void *, const comms_member_type *, const void *, size_t);
void tessel_port_num_gsp_down_cb(comms_conn_type *, void *, const comms_notification_type *n);
void tessel_port_num_gsp_up_cb(comms_conn_type *, void *, const comms_notification_type *n);
void tessel_port_num_dropped_msg_cb(comms_conn_type *, void *, const comms_notification_type *n);

struct message_row {
    uint32_t type;
    comms_msg_handler_fn handler;
    const char *text; // null: a failure is returned without a message
};
constexpr message_row messages[] = {
    {PTP_COMMS_MSG_PORT_NUM_ALLOC, tessel_port_num_alloc_msg_cb,
     "Failed to register port number alloc message handler: "},
    {PTP_COMMS_MSG_PORT_NUM_CTRLR_RESYNC, tessel_port_num_ctrlr_resync_msg_cb,
     "Failed to register port number ctrlr resync message handler: "},
    {PTP_COMMS_MSG_PORT_NUM_RESYNC_REQUEST, tessel_port_num_resync_request_msg_cb, nullptr},
};

struct notification_row {
    int32_t event;
    comms_notification_handler_fn handler;
};
constexpr notification_row notifications[] = {
    {COMMS_EVENT_LOCAL_DOWN, tessel_port_num_gsp_down_cb},
    {COMMS_EVENT_LOCAL_UP, tessel_port_num_gsp_up_cb},
    {COMMS_EVENT_DROPPED_MSGS, tessel_port_num_dropped_msg_cb},
    {COMMS_EVENT_POSSIBLE_LOST_MSG, tessel_port_num_dropped_msg_cb},
};

bool retry_pending()
{
    return ps.retry_timer_created != 0 && ptp_timer_is_running(&ps.retry_timer);
}

void retry_stop()
{
    if (ps.retry_timer_created != 0) {
        ptp_timer_stop(&ps.retry_timer);
    }
}

void batches_empty()
{
    tessel_batch_finish(&ps.request_batch);
    tessel_batch_finish(&ps.release_batch);
}

// A failed send: the batches go, and the resync that follows the retry timer restores
// agreement with the controller.
void send_failed()
{
    batches_empty();
    ptp_timer_start(&ps.retry_timer, TESSEL_PORT_NUM_RETRY_MS, false);
}

void batch_add(tessel_batch_info_type *batch, ifhtype ifhandle)
{
    auto *slot = static_cast<ifhtype *>(tessel_batch_get_next_free_element(batch));
    if (slot != nullptr) {
        *slot = ifhandle;
    }
}

// Sends the request (type 0) or release (type 2) batch and empties it.
void tessel_port_num_batch_send(tessel_batch_info_type *batch, bool request)
{
    const uint32_t count = tessel_batch_get_count(batch);
    if (count == 0) {
        return;
    }
    const size_t len = ptp_comms_msg_port_num_handles_size(count);
    auto *msg = static_cast<uint8_t *>(std::calloc(1, len));
    if (msg == nullptr) {
        ptp_alloc_failure_report(len, request ? "port number request message" : "port number release message");
        return;
    }
    zerrno rc = ptp_comms_msg_port_num_handles_encode(static_cast<const ifhtype *>(tessel_batch_get_elements(batch)),
                                                      count, msg, len);
    if (rc == 0) {
        rc = comms_msg_send(ps.connection, ps.group_member,
                            request ? PTP_COMMS_MSG_PORT_NUM_REQUEST : PTP_COMMS_MSG_PORT_NUM_RELEASE,
                            PTP_COMMS_MSG_PORT_NUM_VERSION, msg, len, 0);
    }
    std::free(msg);
    if (rc != 0) {
        if (request) {
            PORT_NUM_DEBUG_ERR(0, "%s: [ERROR] Failed to send request for %u port numbers: %s", count,
                               zerr_strerror(rc));
            ptp_trace<PTP_TRACE_TESSEL_PORT_NUM_REQUEST_FAILED>({tessel_pm_sum(), tessel_pm_unq()}, count, rc);
        } else {
            PORT_NUM_DEBUG_ERR(0, "%s: [ERROR] Failed to send %u port num releases: %s", count, zerr_strerror(rc));
            ptp_trace<PTP_TRACE_TESSEL_PORT_NUM_RELEASE_FAILED>({tessel_pm_sum(), tessel_pm_unq()}, count, rc);
        }
        send_failed();
        return;
    }
    if (request) {
        PORT_NUM_DEBUG(0, "%s: Successfully sent request for %u port numbers", count);
        ptp_trace<PTP_TRACE_TESSEL_PORT_NUM_REQUEST_SENT>({tessel_pm_sum()}, count);
    } else {
        PORT_NUM_DEBUG(0, "%s: Successfully sent %u port num releases", count);
        ptp_trace<PTP_TRACE_TESSEL_PORT_NUM_RELEASE_SENT>({tessel_pm_sum()}, count);
    }
    tessel_batch_finish(batch);
}

void batches_send()
{
    tessel_port_num_batch_send(&ps.request_batch, true);
    // A failed request send has emptied the release batch too and armed the retry.
    if (!retry_pending()) {
        tessel_port_num_batch_send(&ps.release_batch, false);
    }
}

bool resync_collect(tessel_proto_idb_type *idb, void *context)
{
    if (idb->port_num != 0) {
        auto *entry = static_cast<tessel_port_num_entry_type *>(
            tessel_batch_get_next_free_element(static_cast<tessel_batch_info_type *>(context)));
        if (entry != nullptr) {
            *entry = tessel_port_num_entry_type{idb->header.ifhandle, idb->port_num};
        }
    }
    return true;
}

// ---- Receipt ----

// The handler arguments of a counted message, or a counted drop when its count does not fit.
bool entries_decode(const void *msg, size_t length, ptp_comms_msg_port_num_view *view, bool alloc)
{
    if (ptp_comms_msg_port_num_entries_decode(static_cast<const uint8_t *>(msg), length, view) == 0) {
        return true;
    }
    dropped_msgs++;
    const uint32_t claimed = length >= 4 ? ptp_wire_get32(static_cast<const uint8_t *>(msg)) : 0;
    if (alloc) {
        PORT_NUM_DEBUG_ERR(0, "%s: [ERROR] Dropped port number allocation message with %u port numbers in %zu bytes",
                           claimed, length);
        ptp_trace<PTP_TRACE_TESSEL_PORT_NUM_ALLOC_DROPPED>({tessel_pm_sum(), tessel_pm_unq()}, claimed);
    } else {
        PORT_NUM_DEBUG_ERR(0, "%s: [ERROR] Dropped controller resync message with %u port numbers in %zu bytes",
                           claimed, length);
        ptp_trace<PTP_TRACE_TESSEL_PORT_NUM_CTRLR_RESYNC_DROPPED>({tessel_pm_sum(), tessel_pm_unq()}, claimed);
    }
    return false;
}

// Sets a port's number through the port manager, which re-evaluates the port. In the
// secondary upgrade role a number the port already has stays: the primary owns it.
void port_num_take(tessel_proto_idb_type *idb, uint16_t port_num)
{
    if (tessel_issu_get_issu_role() == TESSEL_ISSU_ROLE_SECONDARY && idb->port_num != 0) {
        return;
    }
    tessel_port_mgr_port_num_change(idb, port_num);
}

void tessel_port_num_alloc_msg_cb(comms_conn_type *, void *, const comms_member_type *, const void *msg, size_t length)
{
    ptp_comms_msg_port_num_view view{};
    if (!entries_decode(msg, length, &view, true)) {
        return;
    }
    PORT_NUM_DEBUG(0, "%s: Received port number allocation message with %u port numbers", view.count);
    ptp_trace<PTP_TRACE_TESSEL_PORT_NUM_ALLOC_RECEIVED>({tessel_pm_sum()}, view.count);
    for (uint32_t i = 0; i < view.count; i++) {
        const tessel_port_num_entry_type e = ptp_comms_msg_port_num_entry(&view, i);
        tessel_proto_idb_type *idb = nullptr;
        if (tessel_proto_db_get_by_ifhandle(e.ifhandle, &idb) != 0 || idb == nullptr) {
            PORT_NUM_DEBUG(e.ifhandle, "%s: 0x%8.8x: Received port number %u in alloc message but IDB does not exist",
                           e.ifhandle, static_cast<unsigned>(e.port_num));
            ptp_trace<PTP_TRACE_TESSEL_PORT_NUM_ALLOC_UNKNOWN_IDB>({tessel_pm_det(), tessel_pm_unq()}, e.ifhandle,
                                                                   static_cast<uint32_t>(e.port_num));
            continue;
        }
        port_num_take(idb, e.port_num);
    }
}

bool mark_one(tessel_proto_idb_type *idb, void *)
{
    idb->flags |= port_num_mark;
    return true;
}

bool tessel_port_num_resync_sweep_walker(tessel_proto_idb_type *idb, void *)
{
    if ((idb->flags & port_num_mark) != 0 && idb->port_num != 0) {
        PORT_NUM_DEBUG_ERR(idb->header.ifhandle,
                           "%s: [ERROR] 0x%8.8x: Port number %u missing from controller resync, clearing port number",
                           idb->header.ifhandle, static_cast<unsigned>(idb->port_num));
        ptp_trace<PTP_TRACE_TESSEL_PORT_NUM_MISSING>({tessel_pm_det(), tessel_pm_unq()}, idb->header.ifhandle,
                                                     static_cast<uint32_t>(idb->port_num));
        tessel_port_mgr_port_num_change(idb, 0);
    }
    idb->flags &= static_cast<uint16_t>(~port_num_mark);
    if (idb->port_num == 0) {
        batch_add(&ps.request_batch, idb->header.ifhandle);
    }
    return true;
}

void tessel_port_num_ctrlr_resync_msg_cb(comms_conn_type *, void *, const comms_member_type *, const void *msg,
                                         size_t length)
{
    ptp_comms_msg_port_num_view view{};
    if (!entries_decode(msg, length, &view, false)) {
        return;
    }
    batches_empty();
    tessel_proto_db_walk(mark_one, nullptr, nullptr, false);
    PORT_NUM_DEBUG(0, "%s: Received controller resync message with %u port numbers", view.count);
    ptp_trace<PTP_TRACE_TESSEL_PORT_NUM_CTRLR_RESYNC_RECEIVED>({tessel_pm_sum()}, view.count);
    const bool secondary = tessel_issu_get_issu_role() == TESSEL_ISSU_ROLE_SECONDARY;
    for (uint32_t i = 0; i < view.count; i++) {
        const tessel_port_num_entry_type e = ptp_comms_msg_port_num_entry(&view, i);
        tessel_proto_idb_type *idb = nullptr;
        if (tessel_proto_db_get_by_ifhandle(e.ifhandle, &idb) != 0 || idb == nullptr) {
            PORT_NUM_DEBUG(e.ifhandle,
                           "%s: 0x%8.8x: Received port number %u in controller resync but IDB does not exist",
                           e.ifhandle, static_cast<unsigned>(e.port_num));
            ptp_trace<PTP_TRACE_TESSEL_PORT_NUM_RESYNC_UNKNOWN_IDB>({tessel_pm_det(), tessel_pm_unq()}, e.ifhandle,
                                                                    static_cast<uint32_t>(e.port_num));
            batch_add(&ps.release_batch, e.ifhandle);
            continue;
        }
        idb->flags &= static_cast<uint16_t>(~port_num_mark);
        if (!secondary && e.port_num != idb->port_num) {
            PORT_NUM_DEBUG_ERR(
                e.ifhandle,
                "%s: [ERROR] 0x%8.8x: Controller resync port number mismatch: Ctrlr port num %u, Tessel port num %u",
                e.ifhandle, static_cast<unsigned>(e.port_num), static_cast<unsigned>(idb->port_num));
            ptp_trace<PTP_TRACE_TESSEL_PORT_NUM_MISMATCH>({tessel_pm_det(), tessel_pm_unq()}, e.ifhandle,
                                                          static_cast<uint32_t>(e.port_num),
                                                          static_cast<uint32_t>(idb->port_num));
            tessel_port_mgr_port_num_change(idb, e.port_num);
        }
    }
    tessel_proto_db_walk(tessel_port_num_resync_sweep_walker, nullptr, nullptr, false);
    if (ps.link_down != 0) {
        // Nothing goes out while the link is down; the resync on link up starts over.
        batches_empty();
        return;
    }
    // The controller's complete list supersedes a pending retry, which would only resync again.
    retry_stop();
    batches_send();
}

void tessel_port_num_resync_request_msg_cb(comms_conn_type *, void *, const comms_member_type *, const void *, size_t)
{
    PORT_NUM_DEBUG(0, "%s: Received resync request message");
    ptp_trace<PTP_TRACE_TESSEL_PORT_NUM_RESYNC_REQUEST_RECEIVED>({tessel_pm_sum()});
    retry_stop();
    tessel_port_num_send_ma_resync_msg();
}

void tessel_port_num_gsp_down_cb(comms_conn_type *, void *, const comms_notification_type *n)
{
    if (n->node_id != ps.local_node_id) {
        return;
    }
    PORT_NUM_DEBUG(0, "%s: Received GSP down notification");
    ptp_trace<PTP_TRACE_TESSEL_PORT_NUM_GSP_DOWN>({tessel_pm_sum()});
    ps.link_down = 1;
    batches_empty();
    retry_stop();
}

void tessel_port_num_gsp_up_cb(comms_conn_type *, void *, const comms_notification_type *n)
{
    if (n->node_id != ps.local_node_id) {
        return;
    }
    PORT_NUM_DEBUG(0, "%s: Received GSP up notification");
    ptp_trace<PTP_TRACE_TESSEL_PORT_NUM_GSP_UP>({tessel_pm_sum()});
    ps.link_down = 0;
    tessel_port_num_send_ma_resync_msg();
}

void tessel_port_num_dropped_msg_cb(comms_conn_type *, void *, const comms_notification_type *)
{
    PORT_NUM_DEBUG(0, "%s: Received dropped message notification");
    ptp_trace<PTP_TRACE_TESSEL_PORT_NUM_DROPPED_MSGS>({tessel_pm_sum()});
    retry_stop();
    tessel_port_num_send_ma_resync_msg();
}

int tessel_port_num_retry_timer_cb(ptp_timer_type *, void *, int *)
{
    PORT_NUM_DEBUG(0, "%s: Retry timer fired, GSP %s", ps.link_down != 0 ? "down" : "up");
    if (ps.link_down == 0) {
        tessel_port_num_send_ma_resync_msg();
    }
    return 0;
}

zerrno init_failed(const char *text, zerrno rc)
{
    if (text != nullptr) {
        ptp_syslog_init_failed(text, zerr_strerror(rc));
    }
    ps.initialised = 1;
    return rc;
}

} // namespace

zerrno tessel_port_num_batches_init(void)
{
    if (ps.batches_created == 0) {
        tessel_batch_init(&ps.request_batch, sizeof(ifhtype), "port number request batch");
        tessel_batch_init(&ps.release_batch, sizeof(ifhtype), "port number release batch");
        ps.batches_created = 1;
    }
    return 0;
}

zerrno tessel_port_num_init(event_mgr_type *evm)
{
    zerrno rc = platform_get_my_nodeid(&ps.local_node_id);
    if (rc != 0) {
        return init_failed("Failed to look up local node ID: ", rc);
    }
    if ((rc = comms_connect(evm, PTP_COMMS_PORT_NUM_CHANNEL, 2, &ps.connection)) != 0) {
        ps.connection = nullptr;
        return init_failed("Failed to connect to port number comms channel: ", rc);
    }
    if ((rc = comms_conn_get_group_member(ps.connection, &ps.group_member)) != 0) {
        return init_failed("Failed to connect to port number comms channel: ", rc);
    }
    for (const message_row &row : messages) {
        if ((rc = comms_msg_handler_add(ps.connection, row.type, PTP_COMMS_MSG_PORT_NUM_VERSION, row.handler,
                                        nullptr)) != 0) {
            return init_failed(row.text, rc);
        }
    }
    for (const notification_row &row : notifications) {
        if ((rc = comms_notification_handler_add(ps.connection, row.event, row.handler, nullptr)) != 0) {
            return init_failed("Failed to register comms notification handler: ", rc);
        }
    }
    if ((rc = ptp_timer_create(&ps.retry_timer, tessel_port_num_retry_timer_cb, nullptr)) != 0) {
        return init_failed("Failed to create retry timer: ", rc);
    }
    ps.retry_timer_created = 1;
    tessel_port_num_batches_init();
    tessel_port_num_send_ma_resync_msg();
    tessel_issu_milestone_met(TESSEL_ISSU_MILESTONE_CONTROLLER_RESYNC);
    ps.initialised = 1;
    return 0;
}

void tessel_port_num_cleanup(void)
{
    batches_empty();
    if (ps.retry_timer_created != 0) {
        ptp_timer_destroy(&ps.retry_timer);
        ps.retry_timer_created = 0;
    }
    if (ps.connection != nullptr) {
        for (const notification_row &row : notifications) {
            comms_notification_handler_remove(ps.connection, row.event);
        }
        for (const message_row &row : messages) {
            comms_msg_handler_remove(ps.connection, row.type, PTP_COMMS_MSG_PORT_NUM_VERSION);
        }
        comms_disconnect(ps.connection);
        ps.connection = nullptr;
        ps.group_member = nullptr;
    }
    ps.link_down = 0;
    ps.initialised = 0;
}

uint32_t tessel_port_num_is_initialised(void)
{
    return ps.initialised;
}

void tessel_port_num_request_add(tessel_proto_idb_type *idb)
{
    if (ps.batches_created == 0 || ps.link_down != 0 || retry_pending()) {
        return;
    }
    PORT_NUM_DEBUG(idb->header.ifhandle, "%s: 0x%8.8x: Adding to port num request batch", idb->header.ifhandle);
    batch_add(&ps.request_batch, idb->header.ifhandle);
}

void tessel_port_num_release_add(tessel_proto_idb_type *idb)
{
    if (ps.batches_created == 0 || ps.link_down != 0 || retry_pending()) {
        return;
    }
    PORT_NUM_DEBUG(idb->header.ifhandle, "%s: 0x%8.8x: Adding to port num release batch", idb->header.ifhandle);
    batch_add(&ps.release_batch, idb->header.ifhandle);
}

void tessel_port_num_process_batches(void)
{
    if (ps.connection == nullptr || ps.link_down != 0 || retry_pending()) {
        return;
    }
    if (tessel_batch_get_count(&ps.request_batch) == 0 && tessel_batch_get_count(&ps.release_batch) == 0) {
        return;
    }
    PORT_NUM_DEBUG(0, "%s: Processing request/release batches");
    batches_send();
}

void tessel_port_num_send_ma_resync_msg(void)
{
    // Without a connection there is nobody to tell; with the link down the resync on link up
    // covers it; with a retry pending its expiry sends this same message.
    if (ps.connection == nullptr || ps.link_down != 0 || retry_pending()) {
        return;
    }
    tessel_batch_info_type entries{};
    tessel_batch_init(&entries, sizeof(tessel_port_num_entry_type), "Tessel resync message batch");
    tessel_proto_db_walk(resync_collect, &entries, nullptr, false);
    const uint32_t count = tessel_batch_get_count(&entries);
    const size_t len = ptp_comms_msg_port_num_entries_size(count);
    auto *msg = static_cast<uint8_t *>(std::calloc(1, len));
    if (msg == nullptr) {
        ptp_alloc_failure_report(len, "Tessel resync message");
        tessel_batch_finish(&entries);
        return;
    }
    zerrno rc = ptp_comms_msg_port_num_entries_encode(
        static_cast<const tessel_port_num_entry_type *>(tessel_batch_get_elements(&entries)), count, msg, len);
    tessel_batch_finish(&entries);
    if (rc == 0) {
        rc = comms_msg_send(ps.connection, ps.group_member, PTP_COMMS_MSG_PORT_NUM_MA_RESYNC,
                            PTP_COMMS_MSG_PORT_NUM_VERSION, msg, len, 0);
    }
    std::free(msg);
    if (rc != 0) {
        PORT_NUM_DEBUG_ERR(0, "%s: [ERROR] Failed to send Tessel port num resync message with %u port numbers: %s",
                           count, zerr_strerror(rc));
        ptp_trace<PTP_TRACE_TESSEL_PORT_NUM_RESYNC_FAILED>({tessel_pm_sum(), tessel_pm_unq()}, count, rc);
        send_failed();
        return;
    }
    PORT_NUM_DEBUG(0, "%s: Successfully sent Tessel port num resync message with %u port numbers", count);
    ptp_trace<PTP_TRACE_TESSEL_PORT_NUM_RESYNC_SENT>({tessel_pm_sum()}, count);
}

uint32_t tessel_port_num_gsp_up(void)
{
    return ps.link_down == 0 ? 1 : 0;
}

uint32_t tessel_port_num_is_retry_pending(void)
{
    return retry_pending() ? 1 : 0;
}

uint32_t tessel_port_num_dropped_msg_count(void)
{
    return dropped_msgs;
}
