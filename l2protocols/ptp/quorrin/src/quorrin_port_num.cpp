// System-wide port numbers: the controller owns the number space of every PTP port of the
// chassis. Agents ask for numbers on "PTP_port_num", give them back, and after any disturbance
// of the link both sides reconcile their lists; every allocation is kept in the checkpoint table
// "Port Numbers" so that a restarted or newly active controller recovers it.
//
// One allocation record serves two orders (by interface handle and by port number); a node
// record counts the allocations its node owns and keeps the agent's member handle.
#include "quorrin_port_num.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <unistd.h>
#include <vector>

#include "comms.h"
#include "plat_clock.h"
#include "ptp_alloc.h"
#include "ptp_comms_msg.h"
#include "ptp_syslog.h"
#include "ptp_timer.h"
#include "quorrin_debug.h"
#include "quorrin_ha.h"
#include "quorrin_main.h"
#include "sysmgr.h"

namespace {

constexpr uint32_t AREA = quorrin_debug_area("port_num");
constexpr uint32_t PORT_NUM_MAX = 65535;
constexpr uint32_t BITMAP_WORDS = 2048;
constexpr uint32_t CHKPT_MAX_RECORDS = 65536;
constexpr uint32_t CHKPT_MAX_REGISTER_TRIES = 10;

} // namespace

struct quorrin_port_num_node_info_type;

struct quorrin_port_num_alloc_info_type {
    uint32_t ifhandle = 0;
    uint16_t port_num = 0;
    uint32_t node_id = 0;
    chkpt_objid chkpt_id = 0;
    bool unclaimed = false;
    // Sent to the agent in an allocate message after the last list it gave when asked: a list
    // it sends of its own accord may have crossed that message.
    bool unconfirmed = false;
};

struct quorrin_port_num_node_info_type {
    uint32_t node_id = 0;
    uint32_t alloc_count = 0;
    comms_member_type *member = nullptr;
    ptp_timer_type timer{};
    bool timer_created = false;
    bool resync_pending = false;
};

int quorrin_port_num_alloc_info_cmp_by_ifh(const quorrin_port_num_alloc_info_type *a,
                                           const quorrin_port_num_alloc_info_type *b)
{
    return a->ifhandle < b->ifhandle ? -1 : (a->ifhandle > b->ifhandle ? 1 : 0);
}

int quorrin_port_num_alloc_info_cmp_by_port_num(const quorrin_port_num_alloc_info_type *a,
                                                const quorrin_port_num_alloc_info_type *b)
{
    return a->port_num < b->port_num ? -1 : (a->port_num > b->port_num ? 1 : 0);
}

namespace {

template <int (*Cmp)(const quorrin_port_num_alloc_info_type *, const quorrin_port_num_alloc_info_type *)>
struct alloc_order {
    bool operator()(const quorrin_port_num_alloc_info_type *a, const quorrin_port_num_alloc_info_type *b) const
    {
        return Cmp(a, b) < 0;
    }
};

using by_ifh_type = std::set<quorrin_port_num_alloc_info_type *, alloc_order<quorrin_port_num_alloc_info_cmp_by_ifh>>;
using by_port_num_type =
    std::set<quorrin_port_num_alloc_info_type *, alloc_order<quorrin_port_num_alloc_info_cmp_by_port_num>>;

struct port_num_state_type {
    bool initialised = false;
    bool active = false;
    bool restored = false;
    bool link_down = false;
    uint32_t local_node = 0;
    std::array<uint32_t, BITMAP_WORDS> bitmap{};
    uint32_t active_count = 0;
    uint16_t cursor = 1;
    by_ifh_type by_ifh;
    by_port_num_type by_port_num;
    std::map<uint32_t, quorrin_port_num_node_info_type *> nodes;
    uint32_t pending_count = 0;
    ptp_timer_type resync_queue_timer{};
    ptp_timer_type resync_timer{};
    // Allocations (by interface) whose checkpoint entry is written a few a turn of the event
    // loop after their answer went out, so that the controller's other work is served between.
    std::deque<uint32_t> to_save;
    ptp_timer_type save_timer{};
    bool save_timer_created = false;
    bool timers_created = false;
    comms_conn_type *conn = nullptr;
    const comms_member_type *group = nullptr;
    chkpt_tbl_type *table = nullptr;
};

port_num_state_type state;

// ---- Bitmap ----

bool bit_is_set(uint32_t port_num)
{
    return (state.bitmap[(port_num - 1) / 32] >> ((port_num - 1) % 32) & 1u) != 0;
}

void bit_set(uint32_t port_num)
{
    state.bitmap[(port_num - 1) / 32] |= 1u << ((port_num - 1) % 32);
}

void bit_clear(uint32_t port_num)
{
    state.bitmap[(port_num - 1) / 32] &= ~(1u << ((port_num - 1) % 32));
}

uint16_t next_port_num(uint32_t port_num)
{
    return static_cast<uint16_t>(port_num >= PORT_NUM_MAX ? 1 : port_num + 1);
}

} // namespace

// Marks a known-free number in use; 0 when every number is taken.
uint16_t quorrin_port_num_mark_in_use(void)
{
    uint32_t probe = state.cursor;
    for (uint32_t i = 0; i <= PORT_NUM_MAX; i++, probe = next_port_num(probe)) {
        if (!bit_is_set(probe)) {
            bit_set(probe);
            state.active_count++;
            state.cursor = next_port_num(probe);
            return static_cast<uint16_t>(probe);
        }
    }
    return 0;
}

void quorrin_port_num_free(uint16_t port_num)
{
    if (port_num == 0 || !bit_is_set(port_num)) {
        return;
    }
    bit_clear(port_num);
    state.active_count--;
    QUORRIN_DEBUG(AREA, "%s: Freed port number %u", static_cast<unsigned>(port_num));
    if (state.cursor > port_num) {
        state.cursor = port_num;
    }
}

namespace {

// ---- Lookups ----

quorrin_port_num_alloc_info_type *find_by_ifh(uint32_t ifhandle)
{
    quorrin_port_num_alloc_info_type probe;
    probe.ifhandle = ifhandle;
    const auto it = state.by_ifh.find(&probe);
    return it == state.by_ifh.end() ? nullptr : *it;
}

quorrin_port_num_alloc_info_type *find_by_port_num(uint16_t port_num)
{
    quorrin_port_num_alloc_info_type probe;
    probe.port_num = port_num;
    const auto it = state.by_port_num.find(&probe);
    return it == state.by_port_num.end() ? nullptr : *it;
}

quorrin_port_num_node_info_type *find_node(uint32_t node_id)
{
    const auto it = state.nodes.find(node_id);
    return it == state.nodes.end() ? nullptr : it->second;
}

int node_timer_cb(ptp_timer_type *timer, void *context, int *stop);

quorrin_port_num_node_info_type *find_or_create_node(uint32_t node_id)
{
    if (quorrin_port_num_node_info_type *node = find_node(node_id)) {
        return node;
    }
    auto *node = new (std::nothrow) quorrin_port_num_node_info_type;
    if (node == nullptr) {
        ptp_alloc_failure_report(sizeof(quorrin_port_num_node_info_type), "Port number node info");
        return nullptr;
    }
    node->node_id = node_id;
    node->timer_created = ptp_timer_create(&node->timer, node_timer_cb, node) == 0;
    state.nodes[node_id] = node;
    return node;
}

void node_delete(quorrin_port_num_node_info_type *node)
{
    if (node->timer_created) {
        ptp_timer_stop(&node->timer);
        ptp_timer_destroy(&node->timer);
    }
    if (node->member != nullptr) {
        comms_member_free(node->member);
    }
    state.nodes.erase(node->node_id);
    delete node;
}

// The sender's handle, kept to answer the node later (copied into the one it holds).
void node_store_member(quorrin_port_num_node_info_type *node, const comms_member_type *sender)
{
    if (node->member != nullptr) {
        comms_member_copy(node->member, sender);
        return;
    }
    if (comms_member_dup(sender, &node->member) != 0) {
        node->member = nullptr;
        QUORRIN_DEBUG_ERR(AREA, "%s: [ERROR] Failed to duplicate comms handle for node 0x%x", node->node_id);
        ptp_trace<PTP_TRACE_QUORRIN_PORT_NUM_FAILED_DUPLICATE_COMMS_HANDLE>({quorrin_det()}, node->node_id);
    }
}

void node_count_off(uint32_t node_id)
{
    if (quorrin_port_num_node_info_type *node = find_node(node_id); node != nullptr && node->alloc_count > 0) {
        node->alloc_count--;
    }
}

// ---- Checkpoint ----

// Writes go to the table only from the primary, on the KVOLM node or a line card.
bool chkpt_writable()
{
    return state.table != nullptr && quorrin_ha_get_issu_role() == 1 && quorrin_main_is_kvolm_or_lc();
}

void put_u32_host(uint8_t *out, uint32_t value)
{
    std::memcpy(out, &value, sizeof(value));
}

uint32_t get_u32_host(const uint8_t *in)
{
    uint32_t value = 0;
    std::memcpy(&value, in, sizeof(value));
    return value;
}

void chkpt_entry_encode(const quorrin_port_num_alloc_info_type *alloc, uint8_t out[QUORRIN_PORT_NUM_CHKPT_ENTRY_SIZE])
{
    put_u32_host(out, alloc->ifhandle);
    put_u32_host(out + 4, alloc->port_num);
    put_u32_host(out + 8, alloc->node_id);
}

void chkpt_save_alloc(quorrin_port_num_alloc_info_type *alloc)
{
    if (!chkpt_writable()) {
        return;
    }
    zerrno rc = 0;
    if (alloc->chkpt_id == 0 && (rc = chkpt_create(state.table, alloc->ifhandle, &alloc->chkpt_id)) != 0) {
        alloc->chkpt_id = 0;
        QUORRIN_DEBUG_ERR(AREA, "%s: 0x%8.8x: Failed to create checkpoint entry for port num %u: %s", alloc->ifhandle,
                          static_cast<unsigned>(alloc->port_num), zerr_strerror(rc));
        return;
    }
    uint8_t entry[QUORRIN_PORT_NUM_CHKPT_ENTRY_SIZE];
    chkpt_entry_encode(alloc, entry);
    if ((rc = chkpt_save(state.table, alloc->chkpt_id, entry, sizeof(entry))) != 0) {
        QUORRIN_DEBUG_ERR(AREA, "%s: 0x%8.8x: Failed to save checkpoint entry for port num %u: %s", alloc->ifhandle,
                          static_cast<unsigned>(alloc->port_num), zerr_strerror(rc));
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: 0x%8.8x: Saved checkpoint entry for port num %u", alloc->ifhandle,
                  static_cast<unsigned>(alloc->port_num));
}

void chkpt_delete_alloc(quorrin_port_num_alloc_info_type *alloc)
{
    if (alloc->chkpt_id == 0 || !chkpt_writable()) {
        return;
    }
    chkpt_delete(state.table, alloc->chkpt_id);
    alloc->chkpt_id = 0;
    QUORRIN_DEBUG(AREA, "%s: 0x%8.8x: Deleted checkpoint entry for port num %u", alloc->ifhandle,
                  static_cast<unsigned>(alloc->port_num));
}

// Entries written a turn: the rest wait for the next turn of the event loop.
constexpr size_t SAVES_PER_TURN = 64;

int save_timer_cb(ptp_timer_type *, void *, int *)
{
    for (size_t i = 0; i < SAVES_PER_TURN && !state.to_save.empty(); i++) {
        // An allocation released or swept meanwhile is not found; one made anew is saved as it is.
        if (quorrin_port_num_alloc_info_type *alloc = find_by_ifh(state.to_save.front())) {
            chkpt_save_alloc(alloc);
        }
        state.to_save.pop_front();
    }
    if (!state.to_save.empty()) {
        ptp_timer_start(&state.save_timer, 0, false);
    }
    return 0;
}

void save_soon(quorrin_port_num_alloc_info_type *alloc)
{
    if (!state.save_timer_created) {
        chkpt_save_alloc(alloc);
        return;
    }
    state.to_save.push_back(alloc->ifhandle);
    if (!ptp_timer_is_running(&state.save_timer)) {
        ptp_timer_start(&state.save_timer, 0, false);
    }
}

// ---- Allocation records ----

quorrin_port_num_alloc_info_type *alloc_create(uint32_t ifhandle, uint32_t node_id)
{
    auto *alloc = new (std::nothrow) quorrin_port_num_alloc_info_type;
    if (alloc == nullptr) {
        ptp_alloc_failure_report(sizeof(quorrin_port_num_alloc_info_type), "Port number allocation info");
        return nullptr;
    }
    alloc->ifhandle = ifhandle;
    alloc->node_id = node_id;
    state.by_ifh.insert(alloc);
    return alloc;
}

// Frees the number, takes the record out of both orders, deletes its entry and counts it off its
// owning node.
void alloc_destroy(quorrin_port_num_alloc_info_type *alloc)
{
    quorrin_port_num_free(alloc->port_num);
    if (alloc->port_num != 0) {
        state.by_port_num.erase(alloc);
    }
    state.by_ifh.erase(alloc);
    chkpt_delete_alloc(alloc);
    node_count_off(alloc->node_id);
    delete alloc;
}

// ---- Sending ----

void queue_resync();

// The resync request to every agent or one; a failed send queues a resynchronisation.
bool send_resync_request(const comms_member_type *to)
{
    const zerrno rc = comms_msg_send(state.conn, to, PTP_COMMS_MSG_PORT_NUM_RESYNC_REQUEST,
                                     PTP_COMMS_MSG_PORT_NUM_VERSION, nullptr, 0, 0);
    if (rc != 0) {
        QUORRIN_DEBUG_ERR(AREA, "%s: Failed to send resync request: %s", zerr_strerror(rc));
        ptp_trace<PTP_TRACE_QUORRIN_PORT_NUM_FAILED_SEND_RESYNC_REQUEST>({quorrin_det()}, zerr_strerror(rc));
        queue_resync();
        return false;
    }
    return true;
}

// The allocation list of one node, walked in interface order and sized by what was walked.
zerrno send_entries(const comms_member_type *to, uint32_t type, const std::vector<tessel_port_num_entry_type> &entries)
{
    const auto count = static_cast<uint32_t>(entries.size());
    std::vector<uint8_t> buffer(ptp_comms_msg_port_num_entries_size(count));
    zerrno rc = ptp_comms_msg_port_num_entries_encode(entries.data(), count, buffer.data(), buffer.size());
    if (rc == 0) {
        rc = comms_msg_send(state.conn, to, type, PTP_COMMS_MSG_PORT_NUM_VERSION, buffer.data(), buffer.size(), 0);
    }
    return rc;
}

} // namespace

void quorrin_port_num_send_resync_msg(quorrin_port_num_node_info_type *node)
{
    if (node->member == nullptr) {
        QUORRIN_DEBUG(AREA, "%s: Can't send resync message to node 0x%x, comms handle unknown", node->node_id);
        ptp_trace<PTP_TRACE_QUORRIN_PORT_NUM_CANT_SEND_RESYNC_MESSAGE>({quorrin_det()}, node->node_id);
        return;
    }
    std::vector<tessel_port_num_entry_type> entries;
    for (const quorrin_port_num_alloc_info_type *alloc : state.by_ifh) {
        if (alloc->node_id == node->node_id && alloc->port_num != 0) {
            entries.push_back({alloc->ifhandle, alloc->port_num});
        }
    }
    const auto count = static_cast<uint32_t>(entries.size());
    const zerrno rc = send_entries(node->member, PTP_COMMS_MSG_PORT_NUM_CTRLR_RESYNC, entries);
    if (rc != 0) {
        QUORRIN_DEBUG_ERR(AREA, "%s: Failed to send resync message containing %u ports to node 0x%x: %s", count,
                          node->node_id, zerr_strerror(rc));
        ptp_trace<PTP_TRACE_QUORRIN_PORT_NUM_FAILED_SEND_RESYNC_MESSAGE>({quorrin_det()}, count, node->node_id,
                                                                         zerr_strerror(rc));
        queue_resync();
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Successfully send resync message containing %u ports to node 0x%x", count, node->node_id);
    ptp_trace<PTP_TRACE_QUORRIN_PORT_NUM_SUCCESSFULLY_SENT_RESYNC_MESSAGE>({quorrin_det()}, count, node->node_id);
}

void quorrin_port_num_sweep_alloc_info(uint32_t node_id)
{
    std::vector<quorrin_port_num_alloc_info_type *> swept;
    for (quorrin_port_num_alloc_info_type *alloc : state.by_ifh) {
        if (alloc->unclaimed && (node_id == QUORRIN_PORT_NUM_ALL_NODES || alloc->node_id == node_id)) {
            swept.push_back(alloc);
        }
    }
    for (quorrin_port_num_alloc_info_type *alloc : swept) {
        alloc_destroy(alloc);
    }
}

void quorrin_port_num_start_resync(void)
{
    QUORRIN_DEBUG(AREA, "%s: Starting controller resync, sending resync request message to all MAs");
    ptp_trace<PTP_TRACE_QUORRIN_PORT_NUM_STARTING_CONTROLLER_RESYNC_SENDING>({quorrin_det()});
    if (state.link_down) {
        return;
    }
    if (!send_resync_request(state.group)) {
        return;
    }
    for (quorrin_port_num_alloc_info_type *alloc : state.by_ifh) {
        alloc->unclaimed = true;
        alloc->unconfirmed = false; // the agents' answers follow the question
    }
    for (auto &[id, node] : state.nodes) {
        node->resync_pending = true;
    }
    state.pending_count = static_cast<uint32_t>(state.nodes.size());
    // With no node on record there is no answer to wait for: the round is over as soon as it
    // starts, and an agent that answers is told its list at once. Waiting out the timer instead
    // held every port of a starting chassis without a number for 15 s.
    if (state.pending_count == 0) {
        return;
    }
    ptp_timer_start(&state.resync_timer, QUORRIN_PORT_NUM_RESYNC_MS, false);
}

namespace {

void queue_resync()
{
    if (ptp_timer_is_running(&state.resync_queue_timer)) {
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Queueing controller resync");
    ptp_timer_start(&state.resync_queue_timer, QUORRIN_PORT_NUM_RESYNC_QUEUE_MS, false);
}

bool resync_in_progress_or_pending()
{
    return ptp_timer_is_running(&state.resync_queue_timer) || ptp_timer_is_running(&state.resync_timer);
}

void send_resync_msg_to_all()
{
    std::vector<quorrin_port_num_node_info_type *> nodes;
    for (auto &[id, node] : state.nodes) {
        nodes.push_back(node);
    }
    for (quorrin_port_num_node_info_type *node : nodes) {
        quorrin_port_num_send_resync_msg(node);
    }
}

bool unlisted_grant(uint32_t node_id)
{
    return std::any_of(state.by_ifh.begin(), state.by_ifh.end(), [node_id](const quorrin_port_num_alloc_info_type *a) {
        return a->node_id == node_id && a->unclaimed && a->unconfirmed;
    });
}

// Asks one agent for its list (the resync request, to it alone); its answer is taken as an answer
// to a controller resync. The node's unclaimed numbers wait for it.
void ask_node(quorrin_port_num_node_info_type *node)
{
    QUORRIN_DEBUG(AREA, "%s: Tessel resync message from node 0x%x may predate numbers granted to it, asking again",
                  node->node_id);
    if (!send_resync_request(node->member)) {
        return;
    }
    for (quorrin_port_num_alloc_info_type *alloc : state.by_ifh) {
        if (alloc->node_id == node->node_id) {
            alloc->unconfirmed = false;
        }
    }
    node->resync_pending = true;
    if (ptp_timer_is_running(&state.resync_timer)) {
        state.pending_count++;
    }
}

int resync_queue_timer_cb(ptp_timer_type *, void *, int *)
{
    quorrin_port_num_start_resync();
    return 0;
}

int resync_timer_cb(ptp_timer_type *, void *, int *)
{
    QUORRIN_DEBUG(AREA, "%s: Resync timer expired, sweeping unclaimed port numbers");
    ptp_trace<PTP_TRACE_QUORRIN_PORT_NUM_RESYNC_TIMER_EXPIRED_SWEEPING>({quorrin_det()});
    quorrin_port_num_sweep_alloc_info(QUORRIN_PORT_NUM_ALL_NODES);
    state.pending_count = 0;
    send_resync_msg_to_all();
    return 0;
}

int node_timer_cb(ptp_timer_type *, void *context, int *)
{
    auto *node = static_cast<quorrin_port_num_node_info_type *>(context);
    QUORRIN_DEBUG(AREA, "%s: Resync timer for node 0x%x expired, sweeping unclaimed port numbers", node->node_id);
    ptp_trace<PTP_TRACE_QUORRIN_PORT_NUM_RESYNC_TIMER_NODE_0X>({quorrin_det()}, node->node_id);
    quorrin_port_num_sweep_alloc_info(node->node_id);
    if (node->alloc_count == 0) {
        node_delete(node);
    }
    return 0;
}

} // namespace

// ---- Messages from the agents ----

void quorrin_port_num_request_msg_cb(comms_conn_type *, void *, const comms_member_type *sender, const void *msg,
                                     size_t length)
{
    ptp_comms_msg_port_num_view request{};
    if (ptp_comms_msg_port_num_handles_decode(static_cast<const uint8_t *>(msg), length, &request) != 0) {
        QUORRIN_DEBUG_ERR(AREA, "%s: Dropped port number request message of %u bytes", static_cast<unsigned>(length));
        return;
    }
    if (!state.active) {
        QUORRIN_DEBUG(AREA, "%s: Ignored port number request message received by inactive controller");
        return;
    }
    if (resync_in_progress_or_pending()) {
        QUORRIN_DEBUG(AREA, "%s: Port num request message ignored: resync in progress or pending");
        ptp_trace<PTP_TRACE_QUORRIN_PORT_NUM_PORT_NUM_REQUEST_MESSAGE>({quorrin_det()});
        return;
    }
    if (request.count == 0) {
        return;
    }
    uint32_t node_id = 0;
    if (const zerrno rc = comms_member_get_nodeid(sender, &node_id); rc != 0) {
        QUORRIN_DEBUG_ERR(AREA, "%s: Failed to get node for sender of port number request message: %s",
                          zerr_strerror(rc));
        ptp_trace<PTP_TRACE_QUORRIN_PORT_NUM_FAILED_GET_NODE_SENDER>({quorrin_det()}, zerr_strerror(rc));
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Received port number request message with %u ports from node 0x%x", request.count,
                  node_id);
    ptp_trace<PTP_TRACE_QUORRIN_PORT_NUM_RECEIVED_PORT_NUMBER_REQUEST>({quorrin_det()}, request.count, node_id);
    quorrin_port_num_node_info_type *node = find_or_create_node(node_id);
    if (node == nullptr) {
        return;
    }
    node_store_member(node, sender);

    // Answered entries go first so that the count covers exactly them, wherever in the request
    // the table ran out.
    std::vector<tessel_port_num_entry_type> answered;
    answered.reserve(request.count);
    // Written once the answer is on its way: each write is a blocking round trip to the store
    // (two for a new entry, a second or more for 2000 numbers), and the agent's ports wait for
    // the answer. A controller that ends before it wrote them gets them back from the agent's
    // list in the resynchronisation that starts it, as numbers it had not assigned.
    std::vector<quorrin_port_num_alloc_info_type *> to_save;
    to_save.reserve(request.count);
    for (uint32_t i = 0; i < request.count; i++) {
        const ifhtype ifhandle = ptp_comms_msg_port_num_handle(&request, i);
        if (quorrin_port_num_alloc_info_type *alloc = find_by_ifh(ifhandle)) {
            QUORRIN_DEBUG(AREA, "%s: 0x%8.8x: Received port num allocate request, already allocated port num %u",
                          ifhandle, static_cast<unsigned>(alloc->port_num));
            to_save.push_back(alloc);
            alloc->unconfirmed = true;
            answered.push_back({ifhandle, alloc->port_num});
            continue;
        }
        const uint16_t port_num = quorrin_port_num_mark_in_use();
        if (port_num == 0) {
            QUORRIN_DEBUG(AREA, "%s: 0x%8.8x: Failed to allocate port num, port nums exhausted", ifhandle);
            ptp_syslog_port_num_exhaust();
            continue;
        }
        quorrin_port_num_alloc_info_type *alloc = alloc_create(ifhandle, node_id);
        if (alloc == nullptr) {
            // Without a record the number cannot be held: give it back and leave the interface
            // unanswered, as when the table is full.
            quorrin_port_num_free(port_num);
            continue;
        }
        QUORRIN_DEBUG(AREA, "%s: 0x%8.8x: Assigned port number %u", ifhandle, static_cast<unsigned>(port_num));
        alloc->port_num = port_num;
        alloc->unconfirmed = true;
        state.by_port_num.insert(alloc);
        to_save.push_back(alloc);
        node->alloc_count++;
        answered.push_back({ifhandle, port_num});
    }

    const auto count = static_cast<uint32_t>(answered.size());
    if (count != 0) {
        const zerrno rc = send_entries(sender, PTP_COMMS_MSG_PORT_NUM_ALLOC, answered);
        if (rc != 0) {
            QUORRIN_DEBUG_ERR(AREA, "%s: Failed to send port number allocate message with %u ports to node 0x%x: %s",
                              count, node_id, zerr_strerror(rc));
            ptp_trace<PTP_TRACE_QUORRIN_PORT_NUM_FAILED_SEND_PORT_NUMBER>({quorrin_det()}, count, node_id,
                                                                          zerr_strerror(rc));
            queue_resync();
        } else {
            QUORRIN_DEBUG(AREA, "%s: Successfully sent port number allocate message with %u ports to node 0x%x", count,
                          node_id);
            ptp_trace<PTP_TRACE_QUORRIN_PORT_NUM_SUCCESSFULLY_SENT_PORT_NUMBER>({quorrin_det()}, count, node_id);
        }
    }
    for (quorrin_port_num_alloc_info_type *alloc : to_save) {
        save_soon(alloc);
    }
    if (node->alloc_count == 0) {
        node_delete(node);
    }
}

void quorrin_port_num_release_msg_cb(comms_conn_type *, void *, const comms_member_type *sender, const void *msg,
                                     size_t length)
{
    ptp_comms_msg_port_num_view release{};
    if (ptp_comms_msg_port_num_handles_decode(static_cast<const uint8_t *>(msg), length, &release) != 0) {
        QUORRIN_DEBUG_ERR(AREA, "%s: Dropped port number release message of %u bytes", static_cast<unsigned>(length));
        return;
    }
    if (!state.active) {
        QUORRIN_DEBUG(AREA, "%s: Ignored port number release message received by inactive controller");
        return;
    }
    if (resync_in_progress_or_pending()) {
        QUORRIN_DEBUG(AREA, "%s: Port number release message ignored: resync in progress or pending");
        ptp_trace<PTP_TRACE_QUORRIN_PORT_NUM_PORT_NUMBER_RELEASE_MESSAGE>({quorrin_det()});
        return;
    }
    if (release.count == 0) {
        return;
    }
    uint32_t node_id = 0;
    if (const zerrno rc = comms_member_get_nodeid(sender, &node_id); rc != 0) {
        QUORRIN_DEBUG_ERR(AREA, "%s: Failed to get node for port number release message: %s", zerr_strerror(rc));
        ptp_trace<PTP_TRACE_QUORRIN_PORT_NUM_FAILED_GET_NODE_PORT>({quorrin_det()}, zerr_strerror(rc));
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Received port number release message with %u ports from node 0x%x", release.count,
                  node_id);
    ptp_trace<PTP_TRACE_QUORRIN_PORT_NUM_RECEIVED_PORT_NUMBER_RELEASE>({quorrin_det()}, release.count, node_id);
    if (quorrin_port_num_node_info_type *node = find_node(node_id)) {
        node_store_member(node, sender);
    } else {
        QUORRIN_DEBUG_ERR(AREA, "%s: Failed to look up node information for port number release message from node 0x%x",
                          node_id);
        ptp_trace<PTP_TRACE_QUORRIN_PORT_NUM_FAILED_LOOK_UP_NODE>({quorrin_det()}, node_id);
    }
    for (uint32_t i = 0; i < release.count; i++) {
        // Counted off the node that owns the allocation, which need not be the sender.
        if (quorrin_port_num_alloc_info_type *alloc = find_by_ifh(ptp_comms_msg_port_num_handle(&release, i))) {
            alloc_destroy(alloc);
        }
    }
}

void quorrin_port_num_ma_resync_msg_cb(comms_conn_type *, void *, const comms_member_type *sender, const void *msg,
                                       size_t length)
{
    ptp_comms_msg_port_num_view resync{};
    if (ptp_comms_msg_port_num_entries_decode(static_cast<const uint8_t *>(msg), length, &resync) != 0) {
        QUORRIN_DEBUG_ERR(AREA, "%s: Dropped Tessel resync message of %u bytes", static_cast<unsigned>(length));
        return;
    }
    if (!state.active) {
        QUORRIN_DEBUG(AREA, "%s: Ignored Tessel resync message received by inactive controller");
        return;
    }
    uint32_t node_id = 0;
    if (const zerrno rc = comms_member_get_nodeid(sender, &node_id); rc != 0) {
        QUORRIN_DEBUG_ERR(AREA, "%s: Failed to get node for Tessel resync message: %s", zerr_strerror(rc));
        ptp_trace<PTP_TRACE_QUORRIN_PORT_NUM_FAILED_GET_NODE_TESSEL>({quorrin_det()}, zerr_strerror(rc));
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Received Tessel resync message from node 0x%8.8x with %u ports", node_id, resync.count);
    ptp_trace<PTP_TRACE_QUORRIN_PORT_NUM_RECEIVED_TESSEL_RESYNC_MESSAGE>({quorrin_det()}, node_id, resync.count);
    quorrin_port_num_node_info_type *node = find_or_create_node(node_id);
    if (node == nullptr) {
        return;
    }
    node_store_member(node, sender);
    if (node->timer_created) {
        ptp_timer_stop(&node->timer);
    }

    // The agent started this resynchronisation itself: its list replaces what the node held.
    if (!node->resync_pending) {
        for (quorrin_port_num_alloc_info_type *alloc : state.by_ifh) {
            if (alloc->node_id == node_id) {
                alloc->unclaimed = true;
            }
        }
    }

    for (uint32_t i = 0; i < resync.count; i++) {
        const tessel_port_num_entry_type claim = ptp_comms_msg_port_num_entry(&resync, i);
        if (claim.port_num == 0) {
            continue; // a number the agent does not hold
        }
        if (quorrin_port_num_alloc_info_type *held = find_by_port_num(claim.port_num)) {
            if (held->ifhandle != claim.ifhandle) {
                QUORRIN_DEBUG(AREA,
                              "%s: Tessel resync message port number allocation conflict for port num %u: MA's intf "
                              "0x%8.8x, Ctrlr's intf 0x%8.8x",
                              static_cast<unsigned>(claim.port_num), claim.ifhandle, held->ifhandle);
                ptp_syslog_port_num_conflict(claim.port_num, claim.ifhandle, held->ifhandle);
                continue;
            }
            held->unclaimed = false;
            held->unconfirmed = false;
            if (held->node_id != node_id) {
                const uint32_t old_node_id = held->node_id;
                node_count_off(old_node_id);
                held->node_id = node_id;
                node->alloc_count++;
                chkpt_save_alloc(held);
                if (quorrin_port_num_node_info_type *old = find_node(old_node_id);
                    old != nullptr && old->alloc_count == 0) {
                    node_delete(old);
                }
            }
            continue;
        }
        quorrin_port_num_alloc_info_type *alloc = find_by_ifh(claim.ifhandle);
        if (alloc == nullptr && (alloc = alloc_create(claim.ifhandle, node_id)) == nullptr) {
            continue;
        }
        if (alloc->port_num != 0) {
            continue; // the controller's list below corrects the agent
        }
        QUORRIN_DEBUG(AREA, "%s: 0x%8.8x: MA resync claims port num %u, controller had not assigned port num",
                      claim.ifhandle, static_cast<unsigned>(claim.port_num));
        alloc->port_num = claim.port_num;
        chkpt_save_alloc(alloc);
        bit_set(claim.port_num);
        state.active_count++;
        state.by_port_num.insert(alloc);
        node->alloc_count++;
    }

    // A list the agent sent of its own accord may have crossed an allocate message on its way:
    // what it does not list of that message is asked for again rather than swept, and the
    // agent's answer, sent after it took every number granted before the question, settles it.
    if (!node->resync_pending && node->member != nullptr && unlisted_grant(node_id)) {
        ask_node(node);
        return;
    }

    if (!ptp_timer_is_running(&state.resync_timer)) {
        node->resync_pending = false;
        quorrin_port_num_sweep_alloc_info(node_id);
        quorrin_port_num_send_resync_msg(node);
    } else if (!node->resync_pending) {
        quorrin_port_num_sweep_alloc_info(node_id);
    } else {
        node->resync_pending = false;
        if (state.pending_count > 0) {
            state.pending_count--;
        }
        if (state.pending_count == 0) {
            ptp_timer_stop(&state.resync_timer);
            quorrin_port_num_sweep_alloc_info(QUORRIN_PORT_NUM_ALL_NODES);
            send_resync_msg_to_all();
        }
    }
}

// ---- Link notifications ----

void quorrin_port_num_gsp_down_cb(comms_conn_type *, void *, const comms_notification_type *notification)
{
    if (notification->node_id != state.local_node) {
        return;
    }
    state.link_down = true;
    if (!state.active) {
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Received GSP down notification");
    ptp_trace<PTP_TRACE_QUORRIN_PORT_NUM_RECEIVED_GSP_DOWN_NOTIFICATION>({quorrin_det()});
    ptp_timer_stop(&state.resync_queue_timer);
    ptp_timer_stop(&state.resync_timer);
    state.pending_count = 0;
    for (quorrin_port_num_alloc_info_type *alloc : state.by_ifh) {
        alloc->unclaimed = false;
    }
    for (auto &[id, node] : state.nodes) {
        if (node->timer_created) {
            ptp_timer_stop(&node->timer);
        }
        node->resync_pending = false;
    }
}

void quorrin_port_num_gsp_up_cb(comms_conn_type *, void *, const comms_notification_type *notification)
{
    if (notification->node_id != state.local_node) {
        return;
    }
    state.link_down = false;
    if (!state.active) {
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Received GSP up notification");
    ptp_trace<PTP_TRACE_QUORRIN_PORT_NUM_RECEIVED_GSP_UP_NOTIFICATION>({quorrin_det()});
    quorrin_port_num_start_resync();
}

void quorrin_port_num_dropped_msg_cb(comms_conn_type *, void *, const comms_notification_type *)
{
    if (!state.active) {
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Received dropped message notification");
    ptp_trace<PTP_TRACE_QUORRIN_PORT_NUM_RECEIVED_DROPPED_MESSAGE_NOTIFICATION>({quorrin_det()});
    quorrin_port_num_start_resync();
}

void quorrin_port_num_member_del_cb(comms_conn_type *, void *, const comms_notification_type *notification)
{
    if (!state.active) {
        return;
    }
    quorrin_port_num_node_info_type *node = find_node(notification->member.node_id);
    if (node == nullptr || node->member == nullptr || !comms_member_equal(node->member, &notification->member)) {
        return;
    }
    QUORRIN_DEBUG(AREA, "%s: Received member delete notification from MA on node 0x%x", node->node_id);
    ptp_trace<PTP_TRACE_QUORRIN_PORT_NUM_RECEIVED_MEMBER_DELETE_NOTIFICATION>({quorrin_det()}, node->node_id);
    comms_member_free(node->member);
    node->member = nullptr;
    if (node->alloc_count == 0) {
        node_delete(node);
        return;
    }
    for (quorrin_port_num_alloc_info_type *alloc : state.by_ifh) {
        if (alloc->node_id == node->node_id) {
            alloc->unclaimed = true;
        }
    }
    if (node->timer_created) {
        ptp_timer_start(&node->timer, QUORRIN_PORT_NUM_NODE_MS, false);
    }
}

// ---- Lifecycle ----

namespace {

struct handler_row {
    uint32_t type;
    comms_msg_handler_fn handler;
    const char *failure;
};

constexpr handler_row message_handlers[] = {
    {PTP_COMMS_MSG_PORT_NUM_REQUEST, quorrin_port_num_request_msg_cb,
     "Failed to register port number request message handler: "},
    {PTP_COMMS_MSG_PORT_NUM_RELEASE, quorrin_port_num_release_msg_cb,
     "Failed to register port number release message handler: "},
    {PTP_COMMS_MSG_PORT_NUM_MA_RESYNC, quorrin_port_num_ma_resync_msg_cb,
     "Failed to register MA port number resync message handler: "},
};

struct notification_row {
    int32_t event;
    comms_notification_handler_fn handler;
};

constexpr notification_row notification_handlers[] = {
    {COMMS_EVENT_LOCAL_DOWN, quorrin_port_num_gsp_down_cb},
    {COMMS_EVENT_LOCAL_UP, quorrin_port_num_gsp_up_cb},
    {COMMS_EVENT_POSSIBLE_LOST_MSG, quorrin_port_num_dropped_msg_cb},
    {COMMS_EVENT_DROPPED_MSGS, quorrin_port_num_dropped_msg_cb},
    {COMMS_EVENT_MEMBER_DEL, quorrin_port_num_member_del_cb},
    {COMMS_EVENT_NODE_DONE, quorrin_port_num_member_del_cb},
};

zerrno init_failed(const char *text, zerrno rc)
{
    ptp_syslog_init_failed(text, zerr_strerror(rc));
    return rc;
}

// The process retries the registration in place; on virtual time the pause is skipped.
void register_pause()
{
    if (!plat_clock_is_virtual()) {
        sleep(1);
    }
}

} // namespace

zerrno quorrin_port_num_init(event_mgr_type *evm)
{
    zerrno rc = 0;
    if ((rc = platform_get_my_nodeid(&state.local_node)) != 0) {
        return init_failed("Failed to look up local node ID: ", rc);
    }
    state.initialised = true;
    state.cursor = 1;
    if ((rc = ptp_timer_create(&state.resync_queue_timer, resync_queue_timer_cb, nullptr)) != 0) {
        return init_failed("Failed to create resync queue timer: ", rc);
    }
    if ((rc = ptp_timer_create(&state.resync_timer, resync_timer_cb, nullptr)) != 0) {
        ptp_timer_destroy(&state.resync_queue_timer);
        return init_failed("Failed to create resync timer: ", rc);
    }
    state.timers_created = true;
    // Without it every entry is written at once, as the answer goes out.
    state.save_timer_created = ptp_timer_create(&state.save_timer, save_timer_cb, nullptr) == 0;
    if ((rc = comms_connect(evm, PTP_COMMS_PORT_NUM_CHANNEL, 0, &state.conn)) != 0) {
        state.conn = nullptr;
        return init_failed("Failed to connect to port number comms channel: ", rc);
    }
    if ((rc = comms_conn_get_group_member(state.conn, &state.group)) != 0) {
        return init_failed("Failed to connect to port number comms channel: ", rc);
    }
    for (const handler_row &row : message_handlers) {
        if ((rc = comms_msg_handler_add(state.conn, row.type, PTP_COMMS_MSG_PORT_NUM_VERSION, row.handler, nullptr)) !=
            0) {
            return init_failed(row.failure, rc);
        }
    }
    for (const notification_row &row : notification_handlers) {
        if ((rc = comms_notification_handler_add(state.conn, row.event, row.handler, nullptr)) != 0) {
            return init_failed("Failed to register comms notification handler: ", rc);
        }
    }
    return 0;
}

namespace {

// One entry read back from the table; anything but a whole entry naming a free number for an
// interface without one is dropped.
void restore_entry(chkpt_objid objid, const uint8_t *data, uint16_t length)
{
    if (length != QUORRIN_PORT_NUM_CHKPT_ENTRY_SIZE) {
        chkpt_delete(state.table, objid);
        return;
    }
    const uint32_t ifhandle = get_u32_host(data);
    const uint32_t port_num = get_u32_host(data + 4);
    const uint32_t node_id = get_u32_host(data + 8);
    QUORRIN_DEBUG(AREA, "%s: 0x%8.8x: Restoring port number %u,node 0x%x from checkpoint", ifhandle, port_num, node_id);
    if (port_num == 0 || port_num > PORT_NUM_MAX || bit_is_set(port_num) || find_by_ifh(ifhandle) != nullptr) {
        chkpt_delete(state.table, objid);
        return;
    }
    quorrin_port_num_node_info_type *node = find_or_create_node(node_id);
    quorrin_port_num_alloc_info_type *alloc = node == nullptr ? nullptr : alloc_create(ifhandle, node_id);
    if (alloc == nullptr) {
        chkpt_delete(state.table, objid);
        return;
    }
    alloc->port_num = static_cast<uint16_t>(port_num);
    alloc->chkpt_id = objid;
    bit_set(port_num);
    state.active_count++;
    state.by_port_num.insert(alloc);
    node->alloc_count++;
}

void restore_table()
{
    chkpt_iter_type *iter = nullptr;
    zerrno rc = chkpt_iterate_start(state.table, &iter);
    if (rc != 0) {
        QUORRIN_DEBUG_ERR(AREA, "%s: Failed to start checkpoint iteration: %s", zerr_strerror(rc));
        ptp_syslog_port_num_checkpoint_read_fail(zerr_strerror(rc));
        return;
    }
    for (;;) {
        chkpt_objid objid = 0;
        uint8_t data[QUORRIN_PORT_NUM_CHKPT_ENTRY_SIZE + 4] = {};
        uint16_t length = sizeof(data);
        if ((rc = chkpt_iterate_next(iter, &objid, data, &length)) != 0) {
            QUORRIN_DEBUG_ERR(AREA, "%s: Failed to get next checkpoint item: %s", zerr_strerror(rc));
            ptp_syslog_port_num_checkpoint_read_fail(zerr_strerror(rc));
            break;
        }
        if (objid == 0) {
            break;
        }
        restore_entry(objid, data, length);
    }
    chkpt_iterate_end(iter);
}

} // namespace

void quorrin_port_num_restore(void)
{
    if (state.restored || !state.initialised) {
        return;
    }
    state.restored = true;
    chkpt_tbldesc_type desc;
    chkpt_tbldesc_init(&desc);
    desc.table_id = QUORRIN_PORT_NUM_TABLE_ID;
    desc.record_size = QUORRIN_PORT_NUM_CHKPT_ENTRY_SIZE;
    desc.max_records = CHKPT_MAX_RECORDS;
    zerrno rc = 0;
    for (uint32_t attempt = 1; (rc = chkpt_register(&desc, &state.table)) != 0; attempt++) {
        state.table = nullptr;
        QUORRIN_DEBUG_ERR(AREA, "%s: Failed to register with checkpoint: %s, retrying.", zerr_strerror(rc));
        if (attempt == CHKPT_MAX_REGISTER_TRIES) {
            ptp_syslog_init_failed("Failed to register port number checkpoint table after max retries: ",
                                   zerr_strerror(rc));
            break;
        }
        register_pause();
    }
    if (state.table != nullptr) {
        restore_table();
    }
    state.active = true;
    quorrin_port_num_start_resync();
}

void quorrin_port_num_shutdown(bool delete_entries)
{
    if (state.conn != nullptr) {
        for (auto it = std::rbegin(notification_handlers); it != std::rend(notification_handlers); ++it) {
            comms_notification_handler_remove(state.conn, it->event);
        }
        for (auto it = std::rbegin(message_handlers); it != std::rend(message_handlers); ++it) {
            comms_msg_handler_remove(state.conn, it->type, PTP_COMMS_MSG_PORT_NUM_VERSION);
        }
        comms_disconnect(state.conn);
    }
    if (state.timers_created) {
        ptp_timer_stop(&state.resync_queue_timer);
        ptp_timer_stop(&state.resync_timer);
        ptp_timer_destroy(&state.resync_queue_timer);
        ptp_timer_destroy(&state.resync_timer);
    }
    if (state.save_timer_created) {
        // What is still to be written goes now, unless the entries go anyway.
        if (!delete_entries) {
            while (!state.to_save.empty()) {
                save_timer_cb(nullptr, nullptr, nullptr);
            }
        }
        ptp_timer_stop(&state.save_timer);
        ptp_timer_destroy(&state.save_timer);
    }
    while (!state.nodes.empty()) {
        node_delete(state.nodes.begin()->second);
    }
    const by_ifh_type allocs = std::move(state.by_ifh);
    for (quorrin_port_num_alloc_info_type *alloc : allocs) {
        if (delete_entries) {
            chkpt_delete_alloc(alloc);
        }
        delete alloc;
    }
    if (delete_entries && state.table != nullptr) {
        chkpt_unregister(state.table);
    }
    state = port_num_state_type{};
}

void quorrin_port_num_chkpt_delete_all(void)
{
    if (state.table == nullptr) {
        return;
    }
    chkpt_iter_type *iter = nullptr;
    if (chkpt_iterate_start(state.table, &iter) != 0) {
        return;
    }
    for (;;) {
        chkpt_objid objid = 0;
        uint8_t data[QUORRIN_PORT_NUM_CHKPT_ENTRY_SIZE + 4] = {};
        uint16_t length = sizeof(data);
        if (chkpt_iterate_next(iter, &objid, data, &length) != 0 || objid == 0) {
            break;
        }
        if (length < 4 || find_by_ifh(get_u32_host(data)) == nullptr) {
            chkpt_delete(state.table, objid);
        }
    }
    chkpt_iterate_end(iter);
}

void quorrin_port_num_chkpt_ndt(const chkpt_ndt_type *notice)
{
    if (state.table == nullptr) {
        return;
    }
    if (notice->data != nullptr && notice->length >= 4) {
        quorrin_port_num_alloc_info_type *alloc = find_by_ifh(get_u32_host(notice->data));
        if (alloc != nullptr && alloc->chkpt_id == notice->objid) {
            chkpt_save_alloc(alloc);
            return;
        }
    }
    if (notice->type == CHKPT_NDT_DELETE && notice->objid != 0) {
        chkpt_delete(state.table, notice->objid);
    }
}

uint32_t quorrin_port_num_get_active_count(void)
{
    return state.active_count;
}

uint16_t quorrin_port_num_lookup(uint32_t ifhandle, uint32_t *node_id)
{
    const quorrin_port_num_alloc_info_type *alloc = find_by_ifh(ifhandle);
    if (alloc == nullptr) {
        return 0;
    }
    if (node_id != nullptr) {
        *node_id = alloc->node_id;
    }
    return alloc->port_num;
}

bool quorrin_port_num_node_count(uint32_t node_id, uint32_t *count)
{
    const quorrin_port_num_node_info_type *node = find_node(node_id);
    if (node == nullptr) {
        return false;
    }
    *count = node->alloc_count;
    return true;
}

uint32_t quorrin_port_num_node_record_count(void)
{
    return static_cast<uint32_t>(state.nodes.size());
}

bool quorrin_port_num_is_resync_running(void)
{
    return ptp_timer_is_running(&state.resync_timer);
}

bool quorrin_port_num_is_resync_queued(void)
{
    return ptp_timer_is_running(&state.resync_queue_timer);
}
