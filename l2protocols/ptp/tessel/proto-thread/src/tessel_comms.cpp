// The controller link (see tessel_comms.h).
#include "tessel_comms.h"

#include <cstdlib>
#include <cstring>

#include "comms.h"
#include "ptp_alloc.h"
#include "ptp_comms_msg.h"
#include "ptp_strings.h"
#include "ptp_syslog.h"
#include "ptp_timer.h"
#include "sysmgr.h"
#include "tessel_batch.h"
#include "tessel_bmc.h"
#include "tessel_issu.h"
#include "tessel_pm_log.h"
#include "tessel_port_mgr.h"
#include "tessel_stats.h"

namespace {

constexpr uint32_t AREA = tessel_debug_area("comms");

#define COMMS_DEBUG(format, ...) TESSEL_PM_DEBUG(AREA, 0, format __VA_OPT__(, ) __VA_ARGS__)
#define COMMS_DEBUG_ERR(format, ...) TESSEL_PM_DEBUG_ERR(AREA, 0, format __VA_OPT__(, ) __VA_ARGS__)

struct tessel_comms_state_type {
    comms_conn_type *connection;
    const comms_member_type *group_member;
    uint32_t local_node_id;
    uint8_t link_down;
    ptp_timer_type retry_timer;
    uint8_t retry_active;
    uint32_t retry_count;
    uint32_t pending;
    ptp_timer_type damping_timer;
    uint8_t damping_active;
    ptp_timer_type time_timer;
    uint8_t time_timer_active;
    tessel_batch_info_type time_batch;
    uint8_t retry_timer_created;
    uint8_t damping_timer_created;
    uint8_t time_timer_created;
};

tessel_comms_state_type cs{};
uint32_t dropped_msgs = 0;
tessel_comms_exit_fn exit_fn = std::exit;

// The notification handlers, in the order they are added (and removed).
void tessel_comms_member_del_cb(comms_conn_type *, void *, const comms_notification_type *n);
void tessel_comms_gsp_down_cb(comms_conn_type *, void *, const comms_notification_type *n);
void tessel_comms_gsp_up_cb(comms_conn_type *, void *, const comms_notification_type *n);
void tessel_comms_dropped_msg_cb(comms_conn_type *, void *, const comms_notification_type *n);

struct notification_row {
    int32_t event;
    comms_notification_handler_fn handler;
};
constexpr notification_row notifications[] = {
    {COMMS_EVENT_MEMBER_DEL, tessel_comms_member_del_cb},
    {COMMS_EVENT_LOCAL_DOWN, tessel_comms_gsp_down_cb},
    {COMMS_EVENT_LOCAL_UP, tessel_comms_gsp_up_cb},
    {COMMS_EVENT_DROPPED_MSGS, tessel_comms_dropped_msg_cb},
    {COMMS_EVENT_POSSIBLE_LOST_MSG, tessel_comms_dropped_msg_cb},
};

const char *down_up(uint8_t down)
{
    return down != 0 ? "down" : "up";
}

const char *active_word(uint8_t active)
{
    return active != 0 ? "active" : "inactive";
}

// A message may go out only while the link is up and no retry waits. While a retry waits the
// message is left to it (its pending bit); with only the link down it is dropped, and the
// controller is brought up to date by the next request once the link is back.
bool tessel_comms_gate_open(uint32_t pending_bit, const char *what)
{
    if (cs.link_down == 0 && cs.retry_active == 0) {
        return true;
    }
    if (cs.retry_active != 0) {
        cs.pending |= pending_bit;
    }
    COMMS_DEBUG("%s: Skipping sending %s. Local GSP %s, Retry timer %s", what, down_up(cs.link_down),
                active_word(cs.retry_active));
    return false;
}

void tessel_comms_retry_queue(void)
{
    if (cs.retry_count >= TESSEL_COMMS_MAX_RETRIES) {
        ptp_trace<PTP_TRACE_TESSEL_COMMS_RETRY_LIMIT>({tessel_pm_sum(), tessel_pm_unq()});
        ptp_syslog_comms_retry_failed("Max message-send retry count reached", "");
        // The process manager restarts the agent, which then starts from a fresh link.
        exit_fn(1);
        return;
    }
    cs.retry_count++;
    const zerrno rc = ptp_timer_start(&cs.retry_timer, TESSEL_COMMS_RETRY_MS, false);
    if (rc == 0) {
        cs.retry_active = 1;
    }
    COMMS_DEBUG("%s: Queued announce req message send retry. Retry count is %u", cs.retry_count);
}

void tessel_comms_damping_stop(void)
{
    if (cs.damping_active != 0) {
        COMMS_DEBUG("%s: Cancelling damping");
        ptp_timer_stop(&cs.damping_timer);
        cs.damping_active = 0;
    }
}

void tessel_comms_bmc_msg_build(uint8_t out[PTP_COMMS_MSG_BMC_SIZE])
{
    ptp_comms_msg_bmc msg{};
    tessel_bmc_info_type info{};
    const ptp_clock_type *node_bmc = tessel_bmc_get_node_bmc(&info);
    if (node_bmc != nullptr) {
        msg.present = 1;
        msg.clock = *node_bmc;
        msg.ifhandle = info.ifhandle;
        msg.address = info.address;
        msg.sync_interval = info.sync_interval;
        msg.min_delay_req_interval = info.delay_req_interval;
        msg.delay_asymmetry = info.delay_asymmetry;
    }
    ptp_comms_msg_bmc_encode(&msg, out);
}

// ---- Timers ----

int tessel_comms_retry_timer_cb(ptp_timer_type *, void *, int *)
{
    cs.retry_active = 0;
    COMMS_DEBUG("%s: Retry timer expired, sending messages");
    ptp_trace<PTP_TRACE_TESSEL_COMMS_RETRY_EXPIRED>({tessel_pm_det()});
    if ((cs.pending & tessel_comms_pending_announce_request) != 0) {
        cs.pending &= ~tessel_comms_pending_announce_request;
        tessel_comms_announce_request_msg_send();
    }
    if ((cs.pending & tessel_comms_pending_bmc) != 0) {
        cs.pending &= ~tessel_comms_pending_bmc;
        tessel_comms_bmc_msg_send(1);
    }
    return 0;
}

int tessel_comms_damping_timer_cb(ptp_timer_type *, void *, int *)
{
    cs.damping_active = 0;
    COMMS_DEBUG("%s: Damping timer expired, sending BMC message");
    tessel_comms_bmc_msg_send(1);
    return 0;
}

void tessel_comms_time_update_send(void)
{
    const uint32_t count = tessel_batch_get_count(&cs.time_batch);
    const size_t len = ptp_comms_msg_time_update_size(count);
    auto *msg = static_cast<uint8_t *>(std::calloc(1, len));
    if (msg == nullptr) {
        ptp_alloc_failure_report(len, "Time update message");
        return;
    }
    const auto *records = static_cast<const ptp_comms_time_record_type *>(tessel_batch_get_elements(&cs.time_batch));
    zerrno rc = ptp_comms_msg_time_update_encode(records, count, msg, len);
    if (rc == 0) {
        rc = comms_msg_send(cs.connection, cs.group_member, PTP_COMMS_MSG_TIME_UPDATE,
                            PTP_COMMS_MSG_TIME_UPDATE_VERSION, msg, len, 0);
    }
    std::free(msg);
    if (rc == 0) {
        tessel_stats_increment_node_event_counter(TESSEL_NODE_EVENT_TIME_MSG_SENT);
        COMMS_DEBUG("%s: Successfully sent %u time updates.", count);
    } else {
        COMMS_DEBUG_ERR("%s: [ERROR] Failed to send %u time updates: %s", count, zerr_strerror(rc));
        ptp_trace<PTP_TRACE_TESSEL_COMMS_TIME_UPDATES_FAILED>({tessel_pm_sum()}, count, rc);
    }
}

int tessel_comms_time_update_timer_cb(ptp_timer_type *, void *, int *stop)
{
    const uint32_t count = tessel_batch_get_count(&cs.time_batch);
    if (count == 0) {
        *stop = 1;
        ptp_timer_stop(&cs.time_timer);
        cs.time_timer_active = 0;
        return 0;
    }
    if (cs.link_down == 0 && cs.retry_active == 0) {
        tessel_comms_time_update_send();
    } else {
        COMMS_DEBUG("%s: Skipping sending %u time updates. Local GSP %s, Retry timer %s", count, down_up(cs.link_down),
                    active_word(cs.retry_active));
    }
    // Records that did not go out are stale by the next tick: the servo wants fresh ones.
    tessel_batch_finish(&cs.time_batch);
    return 0;
}

// ---- Group messaging ----

void notification_trace(const comms_notification_type *n)
{
    ptp_trace<PTP_TRACE_TESSEL_COMMS_NOTIFICATION>({tessel_pm_sum()}, static_cast<uint32_t>(n->event), n->node_id);
}

void tessel_comms_member_del_cb(comms_conn_type *, void *, const comms_notification_type *n)
{
    notification_trace(n);
    COMMS_DEBUG("%s: Received member del from node %s", ptp_node_id_to_str(n->node_id));
}

void tessel_comms_gsp_down_cb(comms_conn_type *, void *, const comms_notification_type *n)
{
    notification_trace(n);
    if (n->node_id != cs.local_node_id) {
        return;
    }
    cs.link_down = 1;
    COMMS_DEBUG("%s: Cancelling message send retries");
    ptp_timer_stop(&cs.retry_timer);
    cs.retry_active = 0;
    cs.retry_count = 0;
    cs.pending = 0;
    tessel_comms_damping_stop();
}

void tessel_comms_gsp_up_cb(comms_conn_type *, void *, const comms_notification_type *n)
{
    notification_trace(n);
    if (n->node_id == cs.local_node_id) {
        cs.link_down = 0;
    }
}

void tessel_comms_dropped_msg_cb(comms_conn_type *, void *, const comms_notification_type *n)
{
    notification_trace(n);
    tessel_comms_announce_request_msg_send();
}

void tessel_comms_announce_msg_cb(comms_conn_type *, void *, const comms_member_type *sender, const void *msg,
                                  size_t length)
{
    if (tessel_issu_get_issu_role() == TESSEL_ISSU_ROLE_SECONDARY) {
        COMMS_DEBUG("%s: Announce messsage dropped as ISSU role is secondary");
        ptp_trace<PTP_TRACE_TESSEL_COMMS_ANNOUNCE_DROPPED_SECONDARY>({tessel_pm_sum()});
        return;
    }
    ptp_comms_msg_announce announce{};
    if (ptp_comms_msg_announce_decode(static_cast<const uint8_t *>(msg), length, &announce) != 0) {
        dropped_msgs++;
        COMMS_DEBUG_ERR("%s: [ERROR] Dropped announce message of %zu bytes, shorter than %zu", length,
                        PTP_COMMS_MSG_ANNOUNCE_SIZE);
        return;
    }
    uint32_t node_id = 0;
    comms_member_get_nodeid(sender, &node_id);
    COMMS_DEBUG("%s: Received announce message from node %s", ptp_node_id_to_str(node_id));
    ptp_trace<PTP_TRACE_TESSEL_COMMS_ANNOUNCE_RECEIVED>({tessel_pm_sum()}, node_id);
    tessel_port_mgr_global_bmc_update(&announce.global_bmc, &announce.advertised, announce.bmc_selected,
                                      announce.bmc_synced, announce.slave_supported);
    tessel_port_mgr_local_clock_type local{};
    local.clock_id = announce.local_clock_id;
    local.domain = announce.domain;
    tessel_port_mgr_local_clock_update(&local);
    tessel_comms_bmc_msg_send(1);
}

zerrno init_failed(const char *text, zerrno rc)
{
    ptp_syslog_init_failed(text, zerr_strerror(rc));
    return rc;
}

// Undoes whatever init got to; safe on a module that never started.
void tessel_comms_teardown(void)
{
    if (cs.time_timer_created != 0) {
        ptp_timer_destroy(&cs.time_timer);
    }
    if (cs.damping_timer_created != 0) {
        ptp_timer_destroy(&cs.damping_timer);
    }
    if (cs.retry_timer_created != 0) {
        ptp_timer_destroy(&cs.retry_timer);
    }
    if (cs.connection != nullptr) {
        comms_msg_handler_remove(cs.connection, PTP_COMMS_MSG_ANNOUNCE, PTP_COMMS_MSG_ANNOUNCE_VERSION);
        for (const notification_row &row : notifications) {
            comms_notification_handler_remove(cs.connection, row.event);
        }
        comms_disconnect(cs.connection);
    }
    tessel_batch_finish(&cs.time_batch);
    cs = tessel_comms_state_type{};
}

} // namespace

zerrno tessel_comms_init(event_mgr_type *evm)
{
    tessel_comms_teardown();
    tessel_batch_init(&cs.time_batch, PTP_COMMS_TIME_RECORD_SIZE, "Comms time update batch");

    ptp_trace<PTP_TRACE_TESSEL_COMMS_INIT_PRE_NODE_ID>({tessel_pm_det()});
    zerrno rc = platform_get_my_nodeid(&cs.local_node_id);
    if (rc != 0) {
        return init_failed("Failed to look up local node ID: ", rc);
    }
    ptp_trace<PTP_TRACE_TESSEL_COMMS_INIT_PRE_CONNECT>({tessel_pm_det()});
    if ((rc = comms_connect(evm, PTP_COMMS_CHANNEL, 2, &cs.connection)) != 0) {
        cs.connection = nullptr;
        return init_failed("Failed to connect to comms channel: ", rc);
    }
    ptp_trace<PTP_TRACE_TESSEL_COMMS_INIT_PRE_GROUP>({tessel_pm_det()});
    if ((rc = comms_conn_get_group_member(cs.connection, &cs.group_member)) != 0) {
        const zerrno failed = init_failed("Failed to connect to comms channel: ", rc);
        tessel_comms_teardown();
        return failed;
    }
    ptp_trace<PTP_TRACE_TESSEL_COMMS_INIT_PRE_NOTIFICATIONS>({tessel_pm_det()});
    for (const notification_row &row : notifications) {
        if ((rc = comms_notification_handler_add(cs.connection, row.event, row.handler, nullptr)) != 0) {
            const zerrno failed = init_failed("Failed to register comms notification handler: ", rc);
            tessel_comms_teardown();
            return failed;
        }
    }
    ptp_trace<PTP_TRACE_TESSEL_COMMS_INIT_PRE_MSG_HANDLER>({tessel_pm_det()});
    if ((rc = comms_msg_handler_add(cs.connection, PTP_COMMS_MSG_ANNOUNCE, PTP_COMMS_MSG_ANNOUNCE_VERSION,
                                    tessel_comms_announce_msg_cb, nullptr)) != 0) {
        const zerrno failed = init_failed("Failed to register announce message handler:", rc);
        tessel_comms_teardown();
        return failed;
    }
    ptp_trace<PTP_TRACE_TESSEL_COMMS_INIT_PRE_TIMERS>({tessel_pm_det()});
    struct timer_row {
        ptp_timer_type *timer;
        ptp_timer_callback_fn callback;
        uint8_t *created;
        const char *text;
    };
    const timer_row timers[] = {
        {&cs.retry_timer, tessel_comms_retry_timer_cb, &cs.retry_timer_created,
         "Failed to initialize comms retry timer: "},
        {&cs.damping_timer, tessel_comms_damping_timer_cb, &cs.damping_timer_created,
         "Failed to initialize comms damp timer: "},
        {&cs.time_timer, tessel_comms_time_update_timer_cb, &cs.time_timer_created,
         "Failed to initialize comms time update timer"},
    };
    for (const timer_row &t : timers) {
        if ((rc = ptp_timer_create(t.timer, t.callback, nullptr)) != 0) {
            const zerrno failed = init_failed(t.text, rc);
            tessel_comms_teardown();
            return failed;
        }
        *t.created = 1;
    }
    return 0;
}

void tessel_comms_cleanup(void)
{
    if (cs.damping_active != 0) {
        tessel_comms_bmc_msg_send(1);
    }
    tessel_comms_teardown();
}

void tessel_comms_bmc_msg_send(int force)
{
    if (cs.connection == nullptr || !tessel_comms_gate_open(tessel_comms_pending_bmc, "BMC message")) {
        return;
    }
    if (force == 0) {
        COMMS_DEBUG("%s: %s Tessel clock message damping timer", cs.damping_active != 0 ? "Reset" : "Started");
        if (ptp_timer_start(&cs.damping_timer, TESSEL_COMMS_DAMP_MS, false) == 0) {
            cs.damping_active = 1;
        }
        return;
    }
    tessel_comms_damping_stop();
    uint8_t msg[PTP_COMMS_MSG_BMC_SIZE];
    tessel_comms_bmc_msg_build(msg);
    const zerrno rc = comms_msg_send(cs.connection, cs.group_member, PTP_COMMS_MSG_BMC, PTP_COMMS_MSG_BMC_VERSION, msg,
                                     sizeof msg, 0);
    if (rc == 0) {
        COMMS_DEBUG("%s: Successfully sent BMC message.");
        ptp_trace<PTP_TRACE_TESSEL_COMMS_BMC_SENT>({tessel_pm_sum()});
        return;
    }
    COMMS_DEBUG_ERR("%s: [ERROR] Failed to send BMC message: %s", zerr_strerror(rc));
    ptp_trace<PTP_TRACE_TESSEL_COMMS_BMC_FAILED>({tessel_pm_det(), tessel_pm_unq()}, rc);
    cs.pending |= tessel_comms_pending_bmc;
    tessel_comms_retry_queue();
}

void tessel_comms_bmc_msg_send_damped(void)
{
    tessel_comms_bmc_msg_send(0);
}

void tessel_comms_announce_request_msg_send(void)
{
    if (cs.connection == nullptr ||
        !tessel_comms_gate_open(tessel_comms_pending_announce_request, "announce req message")) {
        return;
    }
    const zerrno rc = comms_msg_send(cs.connection, cs.group_member, PTP_COMMS_MSG_ANNOUNCE_REQUEST,
                                     PTP_COMMS_MSG_ANNOUNCE_REQUEST_VERSION, nullptr, 0, 0);
    if (rc == 0) {
        cs.retry_count = 0;
        COMMS_DEBUG("%s: Successfully send announce request message.");
        ptp_trace<PTP_TRACE_TESSEL_COMMS_ANNOUNCE_REQUEST_SENT>({tessel_pm_sum()});
        return;
    }
    COMMS_DEBUG_ERR("%s: [ERROR] Failed to send announce request message: %s", zerr_strerror(rc));
    ptp_trace<PTP_TRACE_TESSEL_COMMS_ANNOUNCE_REQUEST_FAILED>({tessel_pm_sum()}, rc);
    cs.pending |= tessel_comms_pending_announce_request;
    tessel_comms_retry_queue();
}

void tessel_comms_resync(void)
{
    tessel_comms_announce_request_msg_send();
    tessel_comms_bmc_msg_send(1);
}

void tessel_comms_time_update_add(const void *record)
{
    if (cs.connection == nullptr) {
        return;
    }
    void *slot = tessel_batch_get_next_free_element(&cs.time_batch);
    if (slot == nullptr) {
        return; // the batch has reported its allocation failure
    }
    std::memcpy(slot, record, PTP_COMMS_TIME_RECORD_SIZE);
    if (cs.time_timer_active == 0 && ptp_timer_start(&cs.time_timer, TESSEL_COMMS_TIME_UPDATE_MS, true) == 0) {
        cs.time_timer_active = 1;
    }
}

uint32_t tessel_comms_dropped_msg_count(void)
{
    return dropped_msgs;
}

void tessel_comms_exit_fn_set(tessel_comms_exit_fn fn)
{
    exit_fn = fn != nullptr ? fn : std::exit;
}
