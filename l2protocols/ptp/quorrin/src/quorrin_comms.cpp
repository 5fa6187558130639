// The controller's end of the "PTP" channel to the agents.
#include "quorrin_comms.h"

#include <cstdlib>
#include <cstring>

#include "ptp_comms_msg.h"
#include "ptp_strings.h"
#include "ptp_syslog.h"
#include "ptp_timer.h"
#include "quorrin_bmc.h"
#include "quorrin_cfg.h"
#include "quorrin_debug.h"
#include "quorrin_main.h"
#include "quorrin_platform.h"
#include "quorrin_stats.h"

namespace {

struct comms_state_type {
    comms_conn_type *conn = nullptr;
    const comms_member_type *group = nullptr;
    bool damping_pending = false;
    bool retry_pending = false;
    uint32_t retry_count = 0;
    bool local_gsp_down = false;
    ptp_timer_type retry_timer{};
    bool retry_timer_created = false;
    ptp_timer_type damping_timer{};
    bool damping_timer_created = false;
};

comms_state_type comms;
void (*comms_exit)(int) = std::exit;

const char *active_word(bool active)
{
    return active ? "active" : "inactive";
}

const char *comms_word()
{
    return active_word(quorrin_comms_is_active());
}

// "all nodes" for the group, else the member's node.
const char *destination_name(const comms_member_type *destination)
{
    uint32_t node = 0;
    if (destination == nullptr || comms_member_get_nodeid(destination, &node) != 0) {
        return "all nodes";
    }
    return ptp_node_id_to_str(node);
}

uint32_t sender_node(const comms_member_type *member)
{
    uint32_t node = 0;
    return member != nullptr && comms_member_get_nodeid(member, &node) == 0 ? node : 0;
}

void build_announce(uint8_t out[PTP_COMMS_MSG_ANNOUNCE_SIZE])
{
    ptp_comms_msg_announce msg{};
    msg.local_clock_id = quorrin_cfg_get_clock_id();
    msg.domain = quorrin_cfg_get_domain();
    quorrin_bmc_gm_type gm{};
    const ptp_clock_type *best = quorrin_bmc_get_gm(&gm);
    if (best != nullptr) {
        msg.global_bmc = *best;
        msg.bmc_synced = gm.active != 0 ? 1 : 0;
        msg.bmc_selected = gm.using_ptp_for_frequency != 0 || gm.using_ptp_for_time != 0 ? 1 : 0;
    }
    quorrin_bmc_get_advertised_clock(&msg.advertised, nullptr);
    msg.slave_supported = quorrin_platform_supports_slave() ? 1 : 0;
    ptp_comms_msg_announce_encode(&msg, out);
}

void send_failed(const char *to, zerrno rc)
{
    QUORRIN_DEBUG_ERR(QUORRIN_AREA_COMMS, "%s: [ERROR] Failed to send announce message to %s: %s", to,
                      zerr_strerror(rc));
    ptp_trace<PTP_TRACE_QUORRIN_COMMS_ANNOUNCE_SEND_FAILED>({quorrin_det()}, to, rc);
    quorrin_stats_increment_event_counter(QUORRIN_GL_EVENT_SEND_ERRORS);
    if (comms.retry_count >= QUORRIN_COMMS_MAX_RETRIES) {
        // The process manager restarts us with a fresh connection.
        ptp_syslog_comms_retry_failed("Max retry count reached", "");
        ptp_trace<PTP_TRACE_QUORRIN_COMMS_RETRY_MAX>({quorrin_sum(), quorrin_unq()});
        comms_exit(1);
        return;
    }
    comms.retry_count++;
    ptp_timer_start(&comms.retry_timer, QUORRIN_COMMS_RETRY_MS, false);
    comms.retry_pending = true;
    QUORRIN_DEBUG(QUORRIN_AREA_COMMS, "%s: Queued message send retry. Retry count is %u", comms.retry_count);
}

int retry_timer_cb(ptp_timer_type *, void *, int *)
{
    comms.retry_pending = false;
    QUORRIN_DEBUG(QUORRIN_AREA_COMMS, "%s: Retry timer expired, sending announce message to all nodes");
    ptp_trace<PTP_TRACE_QUORRIN_COMMS_RETRY_EXPIRED>({quorrin_det()});
    quorrin_comms_send_announce(nullptr, true);
    return 0;
}

int damping_timer_cb(ptp_timer_type *, void *, int *)
{
    QUORRIN_DEBUG(QUORRIN_AREA_COMMS, "%s: Damping timer expired, sending announce message");
    comms.damping_pending = false;
    quorrin_comms_send_announce(nullptr, true);
    return 0;
}

void notification_print(const char *what, const comms_notification_type *notification)
{
    QUORRIN_DEBUG(QUORRIN_AREA_COMMS, "%s: Received %s from node %s. Comms is %s", what,
                  ptp_node_id_to_str(notification->node_id), comms_word());
    ptp_trace<PTP_TRACE_QUORRIN_COMMS_NOTIFICATION>({quorrin_det()}, ptp_comms_event_to_str(notification->event),
                                                    notification->node_id, comms_word());
}

void quorrin_comms_member_add_cb(comms_conn_type *, void *, const comms_notification_type *notification)
{
    notification_print("member add", notification);
    // Not forced: the damped send goes to all nodes, so a burst of joins makes one announce.
    quorrin_comms_send_announce(&notification->member, false);
}

void quorrin_comms_gsp_down_cb(comms_conn_type *, void *, const comms_notification_type *notification)
{
    notification_print("GSP down", notification);
    if (notification->node_id != quorrin_main_get_node_id()) {
        return;
    }
    comms.local_gsp_down = true;
    QUORRIN_DEBUG(QUORRIN_AREA_COMMS, "%s: Cancelling message-send retries");
    ptp_timer_stop(&comms.retry_timer);
    comms.retry_pending = false;
    comms.retry_count = 0;
    QUORRIN_DEBUG(QUORRIN_AREA_COMMS, "%s: Cancelling damping");
    ptp_timer_stop(&comms.damping_timer);
    comms.damping_pending = false;
}

void quorrin_comms_gsp_up_cb(comms_conn_type *, void *, const comms_notification_type *notification)
{
    notification_print("GSP up", notification);
    if (notification->node_id == quorrin_main_get_node_id()) {
        comms.local_gsp_down = false;
    }
    quorrin_comms_send_announce(nullptr, true);
}

void quorrin_comms_dropped_msg_cb(comms_conn_type *, void *, const comms_notification_type *notification)
{
    notification_print("dropped message notification", notification);
    quorrin_comms_send_announce(nullptr, true);
}

void quorrin_comms_member_del_cb(comms_conn_type *, void *, const comms_notification_type *notification)
{
    notification_print("member del", notification);
    quorrin_bmc_resync_request(notification->node_id);
}

void quorrin_comms_announce_request_msg_cb(comms_conn_type *, void *, const comms_member_type *sender, const void *,
                                           size_t)
{
    const uint32_t node = sender_node(sender);
    QUORRIN_DEBUG(QUORRIN_AREA_COMMS, "%s: Received announce request message from node %s. Comms is %s",
                  ptp_node_id_to_str(node), comms_word());
    ptp_trace<PTP_TRACE_QUORRIN_COMMS_ANNOUNCE_REQUEST>({quorrin_det()}, node, comms_word());
    quorrin_stats_increment_event_counter(QUORRIN_GL_EVENT_ANNOUNCE_REQUEST_RECEIVED);
    quorrin_comms_send_announce(sender, true);
}

void quorrin_comms_bmc_msg_cb(comms_conn_type *, void *, const comms_member_type *sender, const void *msg,
                              size_t length)
{
    ptp_comms_msg_bmc bmc{};
    quorrin_stats_increment_event_counter(QUORRIN_GL_EVENT_BMC_RECEIVED);
    if (ptp_comms_msg_bmc_decode(static_cast<const uint8_t *>(msg), length, &bmc) != 0) {
        QUORRIN_DEBUG_ERR(QUORRIN_AREA_COMMS, "%s: [ERROR] Ignored BMC message as it is malformed (%zu bytes)", length);
        return;
    }
    if (!quorrin_platform_supports_slave()) {
        QUORRIN_DEBUG(QUORRIN_AREA_COMMS, "%s: Ignored BMC message due to lack of slave support");
        ptp_trace<PTP_TRACE_QUORRIN_COMMS_BMC_NO_SLAVE>({quorrin_det()});
        return;
    }
    uint32_t node = 0;
    const zerrno rc = sender != nullptr ? comms_member_get_nodeid(sender, &node) : COMMS_ERR_INVALID;
    if (rc != 0) {
        QUORRIN_DEBUG_ERR(QUORRIN_AREA_COMMS, "%s: [ERROR] Failed to get node ID for received BMC message: %s",
                          zerr_strerror(rc));
        ptp_trace<PTP_TRACE_QUORRIN_COMMS_BMC_NODE_ID_FAILED>({quorrin_det()}, rc);
        return;
    }
    QUORRIN_DEBUG(QUORRIN_AREA_COMMS, "%s: Received BMC message from node %s. Comms is %s", ptp_node_id_to_str(node),
                  comms_word());
    ptp_trace<PTP_TRACE_QUORRIN_COMMS_BMC>({quorrin_det()}, node, comms_word());
    quorrin_bmc_clock_update(bmc.present != 0 ? &bmc.clock : nullptr, node, bmc.ifhandle, bmc.sync_interval,
                             bmc.min_delay_req_interval, bmc.delay_asymmetry, &bmc.address);
}

void quorrin_comms_time_msg_cb(comms_conn_type *, void *, const comms_member_type *sender, const void *msg,
                               size_t length)
{
    ptp_comms_msg_time_update_view view{};
    if (ptp_comms_msg_time_update_decode(static_cast<const uint8_t *>(msg), length, &view) != 0) {
        QUORRIN_DEBUG(QUORRIN_AREA_COMMS, "%s: Ignored time message as it is malformed");
        quorrin_stats_increment_event_counter(QUORRIN_GL_EVENT_TIME_IGNORED);
        return;
    }
    if (!quorrin_platform_supports_slave()) {
        QUORRIN_DEBUG(QUORRIN_AREA_COMMS, "%s: Ignored time message due to lack of slave support");
        quorrin_stats_increment_event_counter(QUORRIN_GL_EVENT_TIME_IGNORED);
        return;
    }
    QUORRIN_DEBUG(QUORRIN_AREA_COMMS, "%s: Received time message from node %s. Comms is %s",
                  ptp_node_id_to_str(sender_node(sender)), comms_word());
    quorrin_stats_increment_event_counter(QUORRIN_GL_EVENT_TIME_RECEIVED);
    for (uint32_t i = 0; i < view.count; i++) {
        ptp_comms_time_record_type record{};
        ptp_comms_msg_time_update_record(&view, i, &record);
        // The servo's entry: the message word in host order, the timestamps as the agent sent them.
        uint8_t entry[PTP_COMMS_TIME_RECORD_SIZE];
        std::memcpy(entry, &record.message, sizeof record.message);
        std::memcpy(entry + sizeof record.message, record.timestamps, sizeof record.timestamps);
        quorrin_platform_servo_time_update(entry);
    }
}

struct notification_row_type {
    int32_t event;
    comms_notification_handler_fn handler;
};
constexpr notification_row_type notification_rows[] = {
    {COMMS_EVENT_MEMBER_ADD, quorrin_comms_member_add_cb},
    {COMMS_EVENT_LOCAL_DOWN, quorrin_comms_gsp_down_cb},
    {COMMS_EVENT_LOCAL_UP, quorrin_comms_gsp_up_cb},
    {COMMS_EVENT_DROPPED_MSGS, quorrin_comms_dropped_msg_cb},
    {COMMS_EVENT_POSSIBLE_LOST_MSG, quorrin_comms_dropped_msg_cb},
    {COMMS_EVENT_MEMBER_DEL, quorrin_comms_member_del_cb},
    {COMMS_EVENT_NODE_DONE, quorrin_comms_member_del_cb},
};

struct message_row_type {
    uint32_t type;
    uint32_t version;
    comms_msg_handler_fn handler;
    const char *failure;
};
constexpr message_row_type message_rows[] = {
    {PTP_COMMS_MSG_ANNOUNCE_REQUEST, PTP_COMMS_MSG_ANNOUNCE_REQUEST_VERSION, quorrin_comms_announce_request_msg_cb,
     "Failed to register announce request message handler: "},
    {PTP_COMMS_MSG_BMC, PTP_COMMS_MSG_BMC_VERSION, quorrin_comms_bmc_msg_cb,
     "Failed to register BMC message handler: "},
    {PTP_COMMS_MSG_TIME_UPDATE, PTP_COMMS_MSG_TIME_UPDATE_VERSION, quorrin_comms_time_msg_cb,
     "Failed to register time message handler: "},
};

zerrno init_failed(const char *text, zerrno rc)
{
    ptp_syslog_init_failed(text, zerr_strerror(rc));
    return rc;
}

} // namespace

bool quorrin_comms_is_active(void)
{
    return quorrin_bmc_is_node_active();
}

void quorrin_comms_test_set_exit(void (*exit_fn)(int status))
{
    comms_exit = exit_fn != nullptr ? exit_fn : std::exit;
}

zerrno quorrin_comms_init(event_mgr_type *evm)
{
    comms.damping_pending = false;
    comms.retry_pending = false;
    comms.retry_count = 0;
    comms.local_gsp_down = false;
    zerrno rc = comms_connect(evm, PTP_COMMS_CHANNEL, 0, &comms.conn);
    if (rc != 0) {
        comms.conn = nullptr;
        return init_failed("Failed to connect to comms channel: ", rc);
    }
    rc = comms_conn_get_group_member(comms.conn, &comms.group);
    if (rc != 0) {
        return init_failed("Failed to connect to comms channel: ", rc);
    }
    for (const notification_row_type &row : notification_rows) {
        rc = comms_notification_handler_add(comms.conn, row.event, row.handler, nullptr);
        if (rc != 0) {
            return init_failed("Failed to register comms notification handler: ", rc);
        }
    }
    for (const message_row_type &row : message_rows) {
        rc = comms_msg_handler_add(comms.conn, row.type, row.version, row.handler, nullptr);
        if (rc != 0) {
            return init_failed(row.failure, rc);
        }
    }
    rc = ptp_timer_create(&comms.retry_timer, retry_timer_cb, nullptr);
    if (rc != 0) {
        return init_failed("Failed to initialize comms retry timer: ", rc);
    }
    comms.retry_timer_created = true;
    rc = ptp_timer_create(&comms.damping_timer, damping_timer_cb, nullptr);
    if (rc != 0) {
        return init_failed("Failed to initialize comms damping timer: ", rc);
    }
    comms.damping_timer_created = true;
    return 0;
}

void quorrin_comms_shutdown(void)
{
    if (comms.damping_timer_created) {
        ptp_timer_destroy(&comms.damping_timer);
        comms.damping_timer_created = false;
    }
    if (comms.retry_timer_created) {
        ptp_timer_destroy(&comms.retry_timer);
        comms.retry_timer_created = false;
    }
    if (comms.conn != nullptr) {
        for (const message_row_type &row : message_rows) {
            comms_msg_handler_remove(comms.conn, row.type, row.version);
        }
        for (const notification_row_type &row : notification_rows) {
            comms_notification_handler_remove(comms.conn, row.event);
        }
        comms_disconnect(comms.conn);
    }
    comms = comms_state_type{};
}

void quorrin_comms_clock_updated(bool force)
{
    if (comms.conn == nullptr) {
        return;
    }
    QUORRIN_DEBUG(QUORRIN_AREA_COMMS, "%s: Clock updated");
    quorrin_comms_send_announce(nullptr, force);
}

void quorrin_comms_send_announce(const comms_member_type *destination, bool force)
{
    if (comms.conn == nullptr) {
        return;
    }
    const char *to = force ? destination_name(destination) : "all nodes";
    if (comms.retry_pending || comms.local_gsp_down || !quorrin_comms_is_active()) {
        QUORRIN_DEBUG(QUORRIN_AREA_COMMS,
                      "%s: Skipping sending announce message to %s. Comms %s, Local GSP %s, Retry timer %s", to,
                      comms_word(), comms.local_gsp_down ? "down" : "up", active_word(comms.retry_pending));
        return;
    }
    if (!force) {
        const char *word = comms.damping_pending ? "Reset" : "Started";
        ptp_timer_start(&comms.damping_timer, QUORRIN_COMMS_DAMPING_MS, false);
        QUORRIN_DEBUG(QUORRIN_AREA_COMMS, "%s: %s announce message damping timer", word);
        ptp_trace<PTP_TRACE_QUORRIN_COMMS_DAMPING>({quorrin_det()}, word);
        comms.damping_pending = true;
        return;
    }
    uint8_t msg[PTP_COMMS_MSG_ANNOUNCE_SIZE];
    build_announce(msg);
    const comms_member_type *member = destination != nullptr ? destination : comms.group;
    const zerrno rc =
        comms_msg_send(comms.conn, member, PTP_COMMS_MSG_ANNOUNCE, PTP_COMMS_MSG_ANNOUNCE_VERSION, msg, sizeof msg, 0);
    if (rc != 0) {
        send_failed(to, rc);
        return;
    }
    QUORRIN_DEBUG(QUORRIN_AREA_COMMS, "%s: Successfully sent announce message to %s.", to);
    ptp_trace<PTP_TRACE_QUORRIN_COMMS_ANNOUNCE_SENT>({quorrin_det()}, to);
    quorrin_stats_increment_event_counter(QUORRIN_GL_EVENT_ANNOUNCE_SENT);
    comms.retry_count = 0;
}
