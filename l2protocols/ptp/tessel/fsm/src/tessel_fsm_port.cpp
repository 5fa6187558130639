// The port state machine: the action table, the event entry points, the actions and their
// building blocks, configuration changes, start after recovery, resume from a checkpoint and the
// data update of the upgrade secondary.

#include <array>
#include <cstdint>
#include <cstring>
#include <new>

#include "ptp_alloc.h"
#include "ptp_strings.h"
#include "ptp_time.h"
#include "ptp_timer.h"
#include "ptp_trace_points.h"
#include "tessel_fsm.h"
#include "tessel_fsm_announce.h"
#include "tessel_fsm_log.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_services.h"
#include "tessel_fsm_types.h"
#include "tessel_fsm_unicast.h"
#include "tessel_stats.h"

namespace {

using S = ptp_port_state_type;
using A = ptp_fsm_action_type;

constexpr S INIT = PTP_PORT_STATE_INITIALIZING;
constexpr S LISTEN = PTP_PORT_STATE_LISTEN;
constexpr S PASSIVE = PTP_PORT_STATE_PASSIVE;
constexpr S PREMASTER = PTP_PORT_STATE_PRE_MASTER;
constexpr S MASTER = PTP_PORT_STATE_MASTER;
constexpr S UNCAL = PTP_PORT_STATE_UNCALIBRATED;
constexpr S SLAVE = PTP_PORT_STATE_SLAVE;
constexpr S FAULTY = PTP_PORT_STATE_FAULTY;

// ---- Events: the table of how each is raised ----

// A point of a port that carries the interface and the current state only.
template <const ptp_trace_point_type &P>
void trace_port(const tessel_proto_idb_type *port)
{
    ptp_fsm_trace<P>(PTP_FSM_TRACE_DET, ptp_fsm_port_ifhandle(port), uint32_t{port->fsm.PortState});
}

// The two events of the loop rule follow the rows of the action table.
constexpr uint32_t EVENT_HOLD_PASSIVE = PTP_FSM_EVENT_COUNT;
constexpr uint32_t EVENT_UNHOLD_PASSIVE = PTP_FSM_EVENT_COUNT + 1;
constexpr uint32_t EVENT_DESC_COUNT = PTP_FSM_EVENT_COUNT + 2;
// An event that runs no row of the action table.
constexpr uint32_t NO_ROW = UINT32_MAX;

// What an event does with the lock.
enum class event_lock_type : uint8_t {
    UNTOUCHED, // neither taken nor required: the caller may hold it or not
    CALLER,    // the caller holds it
    TAKEN,     // taken around the action (the *_without_lock entries: the caller holds it)
};

// What an event does with held Passive.
enum class event_held_type : uint8_t {
    IGNORED_WHILE_HELD, // the event is dropped, with a debug line, while the port is held
    CLEARED_BEFORE,     // the hold ends before the action
    SET_AFTER,          // the hold starts after the action
    CLEARED,            // the hold ends; there is no action
    NOT_CONSIDERED,
};

struct event_desc_type {
    const char *name; // debug lines: "<name>-event"
    void (*trace)(const tessel_proto_idb_type *port);
    uint32_t row; // the row of the action table it runs, or NO_ROW
    event_held_type held;
    event_lock_type lock;
    bool primary_role_only; // raising it in the secondary upgrade role is an internal error
    bool when_possible;     // an impossible cell is ignored, not fatal (a packet raises it)
};

using H = event_held_type;
using L = event_lock_type;

// By event, then Hold-Passive and Unhold-Passive.
constexpr std::array<event_desc_type, EVENT_DESC_COUNT> event_table{{
    {"Announce-Timeout", trace_port<PTP_TRACE_TESSEL_FSM_EV_ANNOUNCE_TIMEOUT>, PTP_FSM_EVENT_ANNOUNCE_TIMEOUT,
     H::IGNORED_WHILE_HELD, L::CALLER, false, false},
    {"Qualification-Timeout", trace_port<PTP_TRACE_TESSEL_FSM_EV_QUALIFICATION_TIMEOUT>,
     PTP_FSM_EVENT_QUALIFICATION_TIMEOUT, H::IGNORED_WHILE_HELD, L::UNTOUCHED, false, false},
    {"BMC-Master", trace_port<PTP_TRACE_TESSEL_FSM_EV_BMC_MASTER>, PTP_FSM_EVENT_BMC_MASTER, H::IGNORED_WHILE_HELD,
     L::TAKEN, false, false},
    {"BMC-Passive", trace_port<PTP_TRACE_TESSEL_FSM_EV_BMC_PASSIVE>, PTP_FSM_EVENT_BMC_PASSIVE, H::IGNORED_WHILE_HELD,
     L::TAKEN, false, false},
    {"Fault-Detected", trace_port<PTP_TRACE_TESSEL_FSM_EV_FAULT_DETECTED>, PTP_FSM_EVENT_FAULT_DETECTED,
     H::CLEARED_BEFORE, L::UNTOUCHED, false, false},
    {"Fault-Cleared", trace_port<PTP_TRACE_TESSEL_FSM_EV_FAULT_CLEARED>, PTP_FSM_EVENT_FAULT_CLEARED, H::NOT_CONSIDERED,
     L::UNTOUCHED, false, false},
    {"Ready", trace_port<PTP_TRACE_TESSEL_FSM_EV_READY>, PTP_FSM_EVENT_READY, H::NOT_CONSIDERED, L::TAKEN, true, false},
    {"Not-Ready", trace_port<PTP_TRACE_TESSEL_FSM_EV_NOT_READY>, PTP_FSM_EVENT_NOT_READY, H::CLEARED_BEFORE, L::TAKEN,
     false, false},
    {"Synchronization-Fault", trace_port<PTP_TRACE_TESSEL_FSM_EV_SYNCHRONIZATION_FAULT>,
     PTP_FSM_EVENT_SYNCHRONIZATION_FAULT, H::IGNORED_WHILE_HELD, L::UNTOUCHED, false, false},
    {"BMC-Slave", trace_port<PTP_TRACE_TESSEL_FSM_EV_BMC_SLAVE>, PTP_FSM_EVENT_BMC_SLAVE, H::IGNORED_WHILE_HELD,
     L::TAKEN, false, false},
    {"Master-Clock-Selected", trace_port<PTP_TRACE_TESSEL_FSM_EV_MASTER_CLOCK_SELECTED>,
     PTP_FSM_EVENT_MASTER_CLOCK_SELECTED, H::IGNORED_WHILE_HELD, L::UNTOUCHED, false, false},
    // A looped Announce is the only cause; it cannot reach a port that is not listening, but a
    // packet must never be able to end the process.
    {"Hold-Passive", trace_port<PTP_TRACE_TESSEL_FSM_EV_HOLD_PASSIVE>, PTP_FSM_EVENT_BMC_PASSIVE, H::SET_AFTER,
     L::CALLER, false, true},
    {"Unhold-Passive", trace_port<PTP_TRACE_TESSEL_FSM_EV_UNHOLD_PASSIVE>, NO_ROW, H::CLEARED, L::CALLER, false, false},
}};

constexpr bool event_rows_valid()
{
    for (size_t i = 0; i < PTP_FSM_EVENT_COUNT; i++) {
        if (event_table[i].row != i) {
            return false;
        }
    }
    for (const auto &e : event_table) {
        if (e.row != NO_ROW && e.row >= PTP_FSM_EVENT_COUNT) {
            return false;
        }
    }
    return true;
}
static_assert(event_rows_valid(), "a table event runs its own row");

// Trace ids are fixed: records outlive the program that wrote them.
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_EV_ANNOUNCE_TIMEOUT) == 0x20010066a);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_EV_QUALIFICATION_TIMEOUT) == 0x200100669);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_EV_BMC_MASTER) == 0x200100662);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_EV_BMC_PASSIVE) == 0x200100663);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_EV_FAULT_DETECTED) == 0x200100667);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_EV_FAULT_CLEARED) == 0x200100668);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_EV_READY) == 0x200100660);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_EV_NOT_READY) == 0x200100661);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_EV_SYNCHRONIZATION_FAULT) == 0x200100666);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_EV_BMC_SLAVE) == 0x200100664);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_EV_MASTER_CLOCK_SELECTED) == 0x200100665);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_EV_HOLD_PASSIVE) == 0x20010066b);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_EV_UNHOLD_PASSIVE) == 0x20010066c);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_STATE_CHANGE) == 0x300100640);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_START) == 0x200100694);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_RESUME) == 0x200100641);
static_assert(ptp_trace_point_id(PTP_TRACE_TESSEL_FSM_ISSU_SECONDARY_UPDATE) == 0x600100695);

// ---- The action table ----

constexpr ptp_fsm_port_action_cell_type C(A action, S next)
{
    return {action, next};
}
constexpr ptp_fsm_port_action_cell_type BAD = {A::BAD, INIT};

using row_type = std::array<ptp_fsm_port_action_cell_type, PTP_FSM_STATE_COUNT>;

// Rows are events, columns states (Initializing, Listen, Passive, Pre-Master, Master,
// Uncalibrated, Slave, Faulty). IGNORE and MASTER_REFRESH keep the state they are in.
constexpr std::array<row_type, PTP_FSM_EVENT_COUNT> ptp_fsm_port_action_table{{
    // 0 Announce-Timeout
    {BAD, C(A::LISTEN_TO_MASTER, MASTER), C(A::LISTEN_TO_MASTER, MASTER), BAD, BAD, C(A::SLAVE_TO_MASTER, MASTER),
     C(A::SLAVE_TO_MASTER, MASTER), BAD},
    // 1 Qualification-Timeout
    {BAD, BAD, BAD, C(A::PREMASTER_TO_MASTER, MASTER), BAD, BAD, BAD, BAD},
    // 2 BMC-Master
    {BAD, C(A::IGNORE, LISTEN), C(A::PASSIVE_TO_PREMASTER, PREMASTER), C(A::IGNORE, PREMASTER),
     C(A::MASTER_REFRESH, MASTER), C(A::SLAVE_TO_PREMASTER, PREMASTER), C(A::SLAVE_TO_PREMASTER, PREMASTER), BAD},
    // 3 BMC-Passive
    {BAD, C(A::LISTEN_TO_PASSIVE, PASSIVE), C(A::IGNORE, PASSIVE), C(A::PREMASTER_TO_PASSIVE, PASSIVE),
     C(A::MASTER_TO_PASSIVE, PASSIVE), C(A::SLAVE_TO_PASSIVE, PASSIVE), C(A::SLAVE_TO_PASSIVE, PASSIVE), BAD},
    // 4 Fault-Detected
    {BAD, C(A::LISTEN_TO_FAULTY, FAULTY), C(A::LISTEN_TO_FAULTY, FAULTY), C(A::PREMASTER_TO_FAULTY, FAULTY),
     C(A::MASTER_TO_FAULTY, FAULTY), C(A::SLAVE_TO_FAULTY, FAULTY), C(A::SLAVE_TO_FAULTY, FAULTY),
     C(A::IGNORE, FAULTY)},
    // 5 Fault-Cleared
    {BAD, BAD, BAD, BAD, BAD, BAD, BAD, C(A::TO_LISTEN, LISTEN)},
    // 6 Ready
    {C(A::TO_LISTEN, LISTEN), BAD, BAD, BAD, BAD, BAD, BAD, BAD},
    // 7 Not-Ready
    {C(A::IGNORE, INIT), C(A::LISTEN_TO_INIT, INIT), C(A::LISTEN_TO_INIT, INIT), C(A::PREMASTER_TO_INIT, INIT),
     C(A::MASTER_TO_INIT, INIT), C(A::SLAVE_TO_INIT, INIT), C(A::SLAVE_TO_INIT, INIT), C(A::FAULTY_TO_INIT, INIT)},
    // 8 Synchronization-Fault
    {BAD, BAD, BAD, BAD, BAD, BAD, C(A::SLAVE_TO_UNCALIBRATED, UNCAL), BAD},
    // 9 BMC-Slave
    {BAD, C(A::LISTEN_TO_UNCALIBRATED, UNCAL), C(A::LISTEN_TO_UNCALIBRATED, UNCAL),
     C(A::PREMASTER_TO_UNCALIBRATED, UNCAL), C(A::MASTER_TO_UNCALIBRATED, UNCAL), C(A::SLAVE_RESELECT, UNCAL),
     C(A::SLAVE_RESELECT, UNCAL), BAD},
    // 10 Master-Clock-Selected
    {BAD, BAD, BAD, BAD, BAD, C(A::UNCALIBRATED_TO_SLAVE, SLAVE), BAD, BAD},
}};

// ---- Small accessors ----

ptp_port_state_type state_of(const tessel_proto_idb_type *port)
{
    return static_cast<ptp_port_state_type>(port->fsm.PortState);
}

bool is_uncal_or_slave(uint32_t state)
{
    return state == UNCAL || state == SLAVE;
}

bool is_listening_state(uint32_t state)
{
    return state == LISTEN || state == PASSIVE || state == UNCAL || state == SLAVE;
}

const ptp_clock_type *advertised_clock()
{
    const ptp_fsm_callbacks_type *cb = ptp_fsm_callbacks_get();
    const ptp_clock_type *clock = nullptr;
    if (cb->get_advertised_clock != nullptr) {
        cb->get_advertised_clock(&clock);
    }
    return clock;
}

// ---- Actions ----

using action_fn = void (*)(tessel_proto_idb_type *port, S next);

void act_bad(tessel_proto_idb_type *, S)
{
    ptp_fsm_internal_error("impossible FSM event", __FILE__, __LINE__);
}

void ptp_fsm_ignore(tessel_proto_idb_type *port, S)
{
    PTP_FSM_DEBUG_PORT(PTP_FSM_AREA_PROTOCOL, port, "%s: %s: [%s]: Ignoring FSM event");
}

void ptp_fsm_act_listen_to_master(tessel_proto_idb_type *port, S next)
{
    ptp_fsm_announce_stop_announce_timeout(port);
    ptp_fsm_port_change_state(port, next);
    ptp_fsm_announce_start_multicast_announce(port);
    ptp_fsm_proto_start_master(port);
}

void ptp_fsm_act_slave_to_master(tessel_proto_idb_type *port, S next)
{
    ptp_fsm_announce_stop_announce_timeout(port);
    ptp_fsm_proto_stop_slave(port);
    ptp_fsm_port_change_state(port, next);
    ptp_fsm_announce_start_multicast_announce(port);
    ptp_fsm_proto_start_master(port);
}

void ptp_fsm_act_premaster_to_master(tessel_proto_idb_type *port, S next)
{
    ptp_fsm_port_change_state(port, next);
    ptp_fsm_announce_start_multicast_announce(port);
    ptp_fsm_proto_start_master(port);
}

void ptp_fsm_act_to_listen(tessel_proto_idb_type *port, S next)
{
    ptp_fsm_port_change_state(port, next);
    ptp_fsm_proto_start_listening(port);
    ptp_fsm_port_start_announce_timeout(port);
}

// Leaving a state for Initializing or Faulty takes the same steps; the table gives the state.
void leave_listen(tessel_proto_idb_type *port, S next)
{
    ptp_fsm_announce_stop_announce_timeout(port);
    ptp_fsm_proto_end_listening(port);
    ptp_fsm_port_change_state(port, next);
}

void leave_premaster(tessel_proto_idb_type *port, S next)
{
    ptp_fsm_port_stop_qualification_timeout(port);
    ptp_fsm_proto_end_listening(port);
    ptp_fsm_port_change_state(port, next);
}

void leave_master(tessel_proto_idb_type *port, S next)
{
    ptp_fsm_announce_stop_master_announce(port);
    ptp_fsm_proto_stop_master(port);
    ptp_fsm_proto_end_listening(port);
    ptp_fsm_port_change_state(port, next);
}

void leave_slave(tessel_proto_idb_type *port, S next)
{
    ptp_fsm_announce_stop_announce_timeout(port);
    ptp_fsm_proto_stop_slave(port);
    ptp_fsm_proto_end_listening(port);
    ptp_fsm_port_change_state(port, next);
}

void ptp_fsm_act_listen_to_init(tessel_proto_idb_type *port, S next)
{
    leave_listen(port, next);
}

void ptp_fsm_act_listen_to_faulty(tessel_proto_idb_type *port, S next)
{
    leave_listen(port, next);
}

void ptp_fsm_act_premaster_to_init(tessel_proto_idb_type *port, S next)
{
    leave_premaster(port, next);
}

void ptp_fsm_act_premaster_to_faulty(tessel_proto_idb_type *port, S next)
{
    leave_premaster(port, next);
}

void ptp_fsm_act_master_to_init(tessel_proto_idb_type *port, S next)
{
    leave_master(port, next);
}

void ptp_fsm_act_master_to_faulty(tessel_proto_idb_type *port, S next)
{
    leave_master(port, next);
}

void ptp_fsm_act_slave_to_init(tessel_proto_idb_type *port, S next)
{
    leave_slave(port, next);
}

void ptp_fsm_act_slave_to_faulty(tessel_proto_idb_type *port, S next)
{
    leave_slave(port, next);
}

void ptp_fsm_act_faulty_to_init(tessel_proto_idb_type *port, S next)
{
    ptp_fsm_port_change_state(port, next);
}

void ptp_fsm_act_passive_to_premaster(tessel_proto_idb_type *port, S next)
{
    ptp_fsm_announce_stop_announce_timeout(port);
    ptp_fsm_port_change_state(port, next);
    ptp_fsm_port_start_qualification_timeout(port);
}

void ptp_fsm_act_master_refresh(tessel_proto_idb_type *port, S)
{
    ptp_fsm_announce_refresh_multicast_announce(port);
    ptp_fsm_proto_refresh_master(port);
}

void ptp_fsm_act_slave_to_premaster(tessel_proto_idb_type *port, S next)
{
    ptp_fsm_announce_stop_announce_timeout(port);
    ptp_fsm_proto_stop_slave(port);
    ptp_fsm_port_change_state(port, next);
    ptp_fsm_port_start_qualification_timeout(port);
}

void ptp_fsm_act_listen_to_passive(tessel_proto_idb_type *port, S next)
{
    ptp_fsm_port_reset_announce_timeout(port);
    ptp_fsm_port_change_state(port, next);
}

void ptp_fsm_act_premaster_to_passive(tessel_proto_idb_type *port, S next)
{
    ptp_fsm_port_stop_qualification_timeout(port);
    ptp_fsm_port_change_state(port, next);
    ptp_fsm_port_start_announce_timeout(port);
}

void ptp_fsm_act_master_to_passive(tessel_proto_idb_type *port, S next)
{
    ptp_fsm_announce_stop_master_announce(port);
    ptp_fsm_proto_stop_master(port);
    ptp_fsm_port_change_state(port, next);
    ptp_fsm_port_start_announce_timeout(port);
}

void ptp_fsm_act_slave_to_passive(tessel_proto_idb_type *port, S next)
{
    ptp_fsm_proto_stop_slave(port);
    ptp_fsm_port_change_state(port, next);
    ptp_fsm_port_reset_announce_timeout(port);
}

void ptp_fsm_act_slave_to_uncalibrated(tessel_proto_idb_type *port, S next)
{
    ptp_fsm_port_change_state(port, next);
}

void ptp_fsm_act_listen_to_uncalibrated(tessel_proto_idb_type *port, S next)
{
    ptp_fsm_port_reset_announce_timeout(port);
    ptp_fsm_port_change_state(port, next);
    ptp_fsm_proto_start_slave(port);
}

void ptp_fsm_act_premaster_to_uncalibrated(tessel_proto_idb_type *port, S next)
{
    ptp_fsm_port_stop_qualification_timeout(port);
    ptp_fsm_port_change_state(port, next);
    ptp_fsm_port_start_announce_timeout(port);
    ptp_fsm_proto_start_slave(port);
}

void ptp_fsm_act_master_to_uncalibrated(tessel_proto_idb_type *port, S next)
{
    ptp_fsm_announce_stop_master_announce(port);
    ptp_fsm_proto_stop_master(port);
    ptp_fsm_port_change_state(port, next);
    ptp_fsm_port_start_announce_timeout(port);
    ptp_fsm_proto_start_slave(port);
}

void ptp_fsm_act_slave_reselect(tessel_proto_idb_type *port, S next)
{
    ptp_fsm_port_reset_announce_timeout(port);
    ptp_fsm_port_change_state(port, next);
    ptp_fsm_proto_reset_slave(port);
}

void ptp_fsm_act_uncalibrated_to_slave(tessel_proto_idb_type *port, S next)
{
    ptp_fsm_port_change_state(port, next);
}

struct action_desc_type {
    A action;
    const char *name;
    action_fn fn;
};

// In the order of ptp_fsm_action_type.
constexpr std::array<action_desc_type, PTP_FSM_ACTION_COUNT> action_table{{
    {A::BAD, "bad", act_bad},
    {A::IGNORE, "ignore", ptp_fsm_ignore},
    {A::LISTEN_TO_MASTER, "listen_to_master", ptp_fsm_act_listen_to_master},
    {A::SLAVE_TO_MASTER, "slave_to_master", ptp_fsm_act_slave_to_master},
    {A::PREMASTER_TO_MASTER, "premaster_to_master", ptp_fsm_act_premaster_to_master},
    {A::TO_LISTEN, "to_listen", ptp_fsm_act_to_listen},
    {A::LISTEN_TO_INIT, "listen_to_init", ptp_fsm_act_listen_to_init},
    {A::PREMASTER_TO_INIT, "premaster_to_init", ptp_fsm_act_premaster_to_init},
    {A::MASTER_TO_INIT, "master_to_init", ptp_fsm_act_master_to_init},
    {A::SLAVE_TO_INIT, "slave_to_init", ptp_fsm_act_slave_to_init},
    {A::FAULTY_TO_INIT, "faulty_to_init", ptp_fsm_act_faulty_to_init},
    {A::PASSIVE_TO_PREMASTER, "passive_to_premaster", ptp_fsm_act_passive_to_premaster},
    {A::MASTER_REFRESH, "master_refresh", ptp_fsm_act_master_refresh},
    {A::SLAVE_TO_PREMASTER, "slave_to_premaster", ptp_fsm_act_slave_to_premaster},
    {A::LISTEN_TO_PASSIVE, "listen_to_passive", ptp_fsm_act_listen_to_passive},
    {A::PREMASTER_TO_PASSIVE, "premaster_to_passive", ptp_fsm_act_premaster_to_passive},
    {A::MASTER_TO_PASSIVE, "master_to_passive", ptp_fsm_act_master_to_passive},
    {A::SLAVE_TO_PASSIVE, "slave_to_passive", ptp_fsm_act_slave_to_passive},
    {A::LISTEN_TO_FAULTY, "listen_to_faulty", ptp_fsm_act_listen_to_faulty},
    {A::PREMASTER_TO_FAULTY, "premaster_to_faulty", ptp_fsm_act_premaster_to_faulty},
    {A::MASTER_TO_FAULTY, "master_to_faulty", ptp_fsm_act_master_to_faulty},
    {A::SLAVE_TO_FAULTY, "slave_to_faulty", ptp_fsm_act_slave_to_faulty},
    {A::SLAVE_TO_UNCALIBRATED, "slave_to_uncalibrated", ptp_fsm_act_slave_to_uncalibrated},
    {A::LISTEN_TO_UNCALIBRATED, "listen_to_uncalibrated", ptp_fsm_act_listen_to_uncalibrated},
    {A::PREMASTER_TO_UNCALIBRATED, "premaster_to_uncalibrated", ptp_fsm_act_premaster_to_uncalibrated},
    {A::MASTER_TO_UNCALIBRATED, "master_to_uncalibrated", ptp_fsm_act_master_to_uncalibrated},
    {A::SLAVE_RESELECT, "slave_reselect", ptp_fsm_act_slave_reselect},
    {A::UNCALIBRATED_TO_SLAVE, "uncalibrated_to_slave", ptp_fsm_act_uncalibrated_to_slave},
}};

constexpr bool action_table_in_order()
{
    for (size_t i = 0; i < action_table.size(); i++) {
        if (static_cast<size_t>(action_table[i].action) != i) {
            return false;
        }
    }
    return true;
}
static_assert(action_table_in_order());

// Every non-BAD cell of a state's column leaves the port in a valid state.
constexpr bool cells_valid()
{
    for (const auto &row : ptp_fsm_port_action_table) {
        for (const auto &cell : row) {
            if (static_cast<uint32_t>(cell.next_state) >= PTP_FSM_STATE_COUNT) {
                return false;
            }
        }
    }
    return true;
}
static_assert(cells_valid());

// Peer entries collected by a walk of the unicast peer tree.
struct peer_list_type {
    ptp_fsm_peer_entry_type **entries;
    uint64_t count;
    uint64_t capacity;
};

bool collect_nonnegotiated(avl2_node_type *row, void *context)
{
    auto *list = static_cast<peer_list_type *>(context);
    auto *peer = reinterpret_cast<ptp_fsm_peer_entry_type *>(row);
    if (peer->is_nonnegotiated && list->count < list->capacity) {
        list->entries[list->count++] = peer;
    }
    return true;
}

// The port's best foreign master as the state machine uses it after a restart.
ptp_fsm_foreign_master_type *best_of(const tessel_proto_idb_type *port)
{
    return ptp_fsm_port_best_foreign_master(port);
}

} // namespace

// ---- Table access ----

const ptp_fsm_port_action_cell_type *ptp_fsm_port_action_get(uint32_t event, uint32_t state)
{
    if (event >= PTP_FSM_EVENT_COUNT || state >= PTP_FSM_STATE_COUNT) {
        return nullptr;
    }
    return &ptp_fsm_port_action_table[event][state];
}

const char *ptp_fsm_event_to_str(uint32_t event)
{
    return event < PTP_FSM_EVENT_COUNT ? event_table[event].name : "Unknown";
}

const char *ptp_fsm_action_to_str(ptp_fsm_action_type action)
{
    const auto i = static_cast<size_t>(action);
    return i < action_table.size() ? action_table[i].name : "Unknown";
}

void ptp_fsm_port_event_run(tessel_proto_idb_type *port, ptp_fsm_event_type event)
{
    const ptp_fsm_port_action_cell_type *cell = ptp_fsm_port_action_get(event, state_of(port));
    if (cell == nullptr || cell->action == A::BAD) {
        ptp_fsm_debug(PTP_FSM_AREA_FSM, ptp_fsm_port_ifhandle(port), "%s: [ERROR] %s: Impossible event %s in state %s",
                      ptp_fsm_area_label(PTP_FSM_AREA_FSM), ptp_fsm_port_name(port), ptp_fsm_event_to_str(event),
                      ptp_fsm_port_state_name(port));
        ptp_fsm_internal_error("impossible FSM event for the port state", __FILE__, __LINE__);
    }
    action_table[static_cast<size_t>(cell->action)].fn(port, cell->next_state);
}

// ---- State change ----

void ptp_fsm_port_change_state(tessel_proto_idb_type *port, ptp_port_state_type state)
{
    const ptp_port_state_type old = state_of(port);
    if (state == old) {
        return;
    }
    PTP_FSM_DEBUG_PORT(PTP_FSM_AREA_PROTOCOL, port, "%s: %s: [%s]: Change to state %s", ptp_port_state_to_str(state));
    ptp_fsm_trace<PTP_TRACE_TESSEL_FSM_STATE_CHANGE>(PTP_FSM_TRACE_DET, ptp_fsm_port_ifhandle(port), old, state);
    port->fsm.PortState = state;
    const ptp_fsm_callbacks_type *cb = ptp_fsm_callbacks_get();
    if (cb->fsm_state_change != nullptr) {
        cb->fsm_state_change(port);
    }
}

// ---- Event entry points ----

namespace {

bool held_passive(const tessel_proto_idb_type *port)
{
    return port->fsm.is_held_passive != 0;
}

// The one way in: every entry point raises its event here, and the event table says the rest.
// caller_locked: the caller holds the lock already (an event that takes the lock does not).
void event_dispatch(tessel_proto_idb_type *port, uint32_t event, bool caller_locked)
{
    const event_desc_type &e = event_table[event];
    if (e.held == H::IGNORED_WHILE_HELD && held_passive(port)) {
        PTP_FSM_DEBUG_PORT(PTP_FSM_AREA_PROTOCOL, port, "%s: %s: [%s]: Ignoring %s-event when held Passive", e.name);
        return;
    }
    if (e.when_possible) {
        const ptp_fsm_port_action_cell_type *cell = ptp_fsm_port_action_get(e.row, state_of(port));
        if (cell == nullptr || cell->action == A::BAD) {
            PTP_FSM_DEBUG_PORT(PTP_FSM_AREA_PROTOCOL, port, "%s: %s: [%s]: Ignoring %s-event when not listening",
                               e.name);
            return;
        }
    }
    const bool take_lock = e.lock == L::TAKEN && !caller_locked;
    if (take_lock) {
        ptp_fsm_lock(port);
    }
    if (e.primary_role_only) {
        PTP_FSM_ASSERT(ptp_fsm_svc().get_issu_role() != TESSEL_ISSU_ROLE_SECONDARY);
    }
    if (e.held == H::CLEARED_BEFORE) {
        port->fsm.is_held_passive = 0;
    }
    PTP_FSM_DEBUG_PORT(PTP_FSM_AREA_PROTOCOL, port, "%s: %s: [%s]: %s-event", e.name);
    e.trace(port);
    if (e.row != NO_ROW) {
        ptp_fsm_port_event_run(port, static_cast<ptp_fsm_event_type>(e.row));
    }
    if (e.held == H::SET_AFTER) {
        port->fsm.is_held_passive = 1;
    } else if (e.held == H::CLEARED) {
        port->fsm.is_held_passive = 0;
    }
    if (take_lock) {
        ptp_fsm_unlock(port);
    }
}

void event_raise(tessel_proto_idb_type *port, uint32_t event)
{
    event_dispatch(port, event, false);
}

} // namespace

void ptp_fsm_announce_timeout_event(tessel_proto_idb_type *port)
{
    event_raise(port, PTP_FSM_EVENT_ANNOUNCE_TIMEOUT);
}

void ptp_fsm_qualification_timeout_event(tessel_proto_idb_type *port)
{
    event_raise(port, PTP_FSM_EVENT_QUALIFICATION_TIMEOUT);
}

void ptp_fsm_bmc_master(tessel_proto_idb_type *port)
{
    event_raise(port, PTP_FSM_EVENT_BMC_MASTER);
}

void ptp_fsm_bmc_passive(tessel_proto_idb_type *port)
{
    event_raise(port, PTP_FSM_EVENT_BMC_PASSIVE);
}

void ptp_fsm_bmc_slave(tessel_proto_idb_type *port)
{
    // SLAVE again while already slaving: the port re-calibrates.
    event_raise(port, state_of(port) == SLAVE ? PTP_FSM_EVENT_SYNCHRONIZATION_FAULT : PTP_FSM_EVENT_BMC_SLAVE);
}

void ptp_fsm_master_clock_selected(tessel_proto_idb_type *port)
{
    if (state_of(port) == SLAVE) {
        return;
    }
    if (state_of(port) != UNCAL) {
        ptp_fsm_bmc_slave(port);
    }
    event_raise(port, PTP_FSM_EVENT_MASTER_CLOCK_SELECTED);
}

void ptp_fsm_ready(tessel_proto_idb_type *port)
{
    event_raise(port, PTP_FSM_EVENT_READY);
}

void ptp_fsm_ready_without_lock(tessel_proto_idb_type *port)
{
    event_dispatch(port, PTP_FSM_EVENT_READY, true);
}

void ptp_fsm_not_ready(tessel_proto_idb_type *port)
{
    event_raise(port, PTP_FSM_EVENT_NOT_READY);
}

void ptp_fsm_not_ready_without_lock(tessel_proto_idb_type *port)
{
    event_dispatch(port, PTP_FSM_EVENT_NOT_READY, true);
}

void ptp_fsm_fault_detected(tessel_proto_idb_type *port)
{
    event_raise(port, PTP_FSM_EVENT_FAULT_DETECTED);
}

void ptp_fsm_fault_cleared(tessel_proto_idb_type *port)
{
    event_raise(port, PTP_FSM_EVENT_FAULT_CLEARED);
}

void ptp_fsm_hold_passive(tessel_proto_idb_type *port)
{
    event_raise(port, EVENT_HOLD_PASSIVE);
}

void ptp_fsm_unhold_passive(tessel_proto_idb_type *port)
{
    event_raise(port, EVENT_UNHOLD_PASSIVE);
}

// ---- Building blocks ----

bool ptp_fsm_port_is_slave_only(const tessel_proto_idb_type *port)
{
    if (port->config.port_state == PTP_RESTRICT_PORT_STATE_SLAVE_ONLY) {
        return true;
    }
    // Under the telecom profiles clock type 2 is the slave-only clock (T-TSC; Slave under
    // G.8265.1).
    const uint32_t profile = ptp_fsm_svc().get_profile();
    return (profile == PTP_PROFILE_G8265_1 || profile == PTP_PROFILE_G8275_1 || profile == PTP_PROFILE_G8275_2) &&
           ptp_fsm_svc().get_telecom_clock_type() == PTP_TELECOM_CLOCK_T_TSC;
}

void ptp_fsm_announce_start_announce_timeout(tessel_proto_idb_type *port)
{
    PTP_FSM_ASSERT(port->fsm.announce_timer_running);
    if (!port->fsm.is_announce_timeout_running) {
        port->fsm.announce_timeout_counter = static_cast<uint8_t>(port->config.announce_timeout);
        port->fsm.is_announce_timeout_running = 1;
    }
}

void ptp_fsm_announce_stop_announce_timeout(tessel_proto_idb_type *port)
{
    port->fsm.is_announce_timeout_running = 0;
}

void ptp_fsm_port_start_announce_timeout(tessel_proto_idb_type *port)
{
    if (ptp_fsm_port_is_slave_only(port)) {
        PTP_FSM_DEBUG_PORT(PTP_FSM_AREA_PROTOCOL, port,
                           "%s: %s: [%s]: Not starting Announce-Timeout in Slave-only mode");
        return;
    }
    ptp_fsm_announce_start_announce_timeout(port);
}

void ptp_fsm_port_announce_timeout_tick(tessel_proto_idb_type *port)
{
    if (!port->fsm.is_announce_timeout_running) {
        return;
    }
    if (port->fsm.announce_timeout_counter != 0) {
        port->fsm.announce_timeout_counter--;
        return;
    }
    ptp_fsm_announce_timeout_event(port);
}

void ptp_fsm_port_reset_announce_timeout(tessel_proto_idb_type *port)
{
    if (ptp_fsm_port_is_slave_only(port)) {
        PTP_FSM_DEBUG_PORT(PTP_FSM_AREA_PROTOCOL, port,
                           "%s: %s: [%s]: Not resetting Announce-Timeout in Slave-only mode");
        return;
    }
    port->fsm.announce_timeout_counter = static_cast<uint8_t>(port->config.announce_timeout);
}

void ptp_fsm_port_start_qualification_timeout(tessel_proto_idb_type *port)
{
    PTP_FSM_ASSERT(!port->fsm.qualification_timer_running);
    const ptp_clock_type *adv = advertised_clock();
    if (adv != nullptr && adv->local != 0) {
        // The node advertises its own clock: nothing to qualify against.
        ptp_fsm_qualification_timeout_event(port);
        return;
    }
    // Without an advertised clock yet, qualify as if it were one step away.
    const uint64_t steps = adv != nullptr ? adv->steps_removed : 0;
    const uint64_t ms = (steps + 1) * ptp_log_interval_to_msecs(port->config.announce_interval);
    const uint32_t period = ms > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(ms);
    if (ptp_timer_start(&port->fsm.qualification_timer, period, false) == 0) {
        port->fsm.qualification_timer_running = 1;
    }
}

void ptp_fsm_port_stop_qualification_timeout(tessel_proto_idb_type *port)
{
    ptp_timer_stop(&port->fsm.qualification_timer);
    port->fsm.qualification_timer_running = 0;
}

void ptp_fsm_announce_start_multicast_announce(tessel_proto_idb_type *port)
{
    if (port->fsm.announce_timer_running && port->config.transport != PTP_TRANSPORT_UNICAST) {
        port->fsm.is_sending_multicast_announce = 1;
        ptp_fsm_svc().offload_if_session_update(port);
    }
}

void ptp_fsm_announce_stop_master_announce(tessel_proto_idb_type *port)
{
    if (port->fsm.is_sending_multicast_announce) {
        port->fsm.is_sending_multicast_announce = 0;
        ptp_fsm_svc().offload_if_session_update(port);
    }
    // The slave-table peers exist only while the port is master.
    const uint64_t n = avl2_count(&port->fsm.unicast_peer_tree);
    if (n == 0) {
        return;
    }
    peer_list_type list{new (std::nothrow) ptp_fsm_peer_entry_type *[n], 0, n};
    if (list.entries == nullptr) {
        ptp_alloc_failure_report(n * sizeof(ptp_fsm_peer_entry_type *), "Unicast peer list entry");
        PTP_FSM_ASSERT(list.entries != nullptr);
    }
    avl2_walk(&port->fsm.unicast_peer_tree, collect_nonnegotiated, &list);
    for (uint64_t i = 0; i < list.count; i++) {
        ptp_fsm_peer_entry_type *peer = list.entries[i];
        peer->is_nonnegotiated = 0;
        ptp_fsm_svc().offload_unicast_peer_session_update(peer);
        ptp_fsm_unicast_peer_entry_delete(peer, PTP_FSM_PROTO_PEER_DEL_NONE);
    }
    delete[] list.entries;
}

void ptp_fsm_announce_refresh_multicast_announce(tessel_proto_idb_type *port)
{
    port->fsm.is_sending_multicast_announce = port->config.transport != PTP_TRANSPORT_UNICAST;
    ptp_fsm_svc().offload_if_session_update(port);
}

void ptp_fsm_proto_start_master(tessel_proto_idb_type *port)
{
    ptp_fsm_proto_slave_config_change(port);
    ptp_fsm_offload_master_drrm_start(port);
    ptp_fsm_unicast_allow_grants(port);
}

void ptp_fsm_proto_stop_master(tessel_proto_idb_type *port)
{
    ptp_fsm_unicast_end_grants(port);
    ptp_fsm_offload_master_drrm_stop(port);
}

void ptp_fsm_proto_refresh_master(tessel_proto_idb_type *port)
{
    ptp_fsm_offload_master_sessions_update(port);
}

ptp_fsm_foreign_master_type *ptp_fsm_port_best_foreign_master(const tessel_proto_idb_type *port)
{
    return port->fsm.foreign_master_ranked_list;
}

// ---- Configuration change ----

void ptp_fsm_port_config_change(tessel_proto_idb_type *port, uint32_t change_flags)
{
    ptp_fsm_lock(port);
    if ((change_flags & PTP_FSM_CHANGE_RESET_SET) != 0) {
        port->fsm.is_held_passive = 0;
        ptp_fsm_not_ready_without_lock(port);
        ptp_fsm_ready_without_lock(port);
        if ((change_flags & PTP_FSM_CHANGE_ADDRESS) != 0) {
            ptp_fsm_svc().fib_idb_unregister(port);
        }
        ptp_fsm_unlock(port);
        return;
    }
    const uint32_t state = state_of(port);
    if ((change_flags & PTP_FSM_CHANGE_CLOCK_OPERATION) != 0 && state == MASTER) {
        ptp_fsm_proto_refresh_master(port);
    }
    if ((change_flags & PTP_FSM_CHANGE_SYNC_TIMEOUT) != 0 && port->fsm.sync_receive_timer_running) {
        ptp_timer_start(&port->fsm.sync_receive_timer, port->config.sync_timeout, true);
    }
    if ((change_flags & PTP_FSM_CHANGE_DELAY_RESP_TIMEOUT) != 0 && port->fsm.delay_resp_receive_timer_running) {
        ptp_timer_start(&port->fsm.delay_resp_receive_timer, port->config.delay_resp_timeout, true);
    }
    if ((change_flags & PTP_FSM_CHANGE_ANNOUNCE_TIMEOUT) != 0 && is_listening_state(state)) {
        ptp_fsm_port_reset_announce_timeout(port);
    }
    if ((change_flags & PTP_FSM_CHANGE_PORT_STATE) != 0 && is_listening_state(state)) {
        // The configured value decides; a slave-only clock type is left to the start's own check.
        if (port->config.port_state == PTP_RESTRICT_PORT_STATE_SLAVE_ONLY) {
            ptp_fsm_announce_stop_announce_timeout(port);
        } else if (!port->fsm.is_announce_timeout_running) {
            ptp_fsm_port_start_announce_timeout(port);
        }
    }
    if ((change_flags &
         (PTP_FSM_CHANGE_COS | PTP_FSM_CHANGE_DSCP | PTP_FSM_CHANGE_IPV4_TTL | PTP_FSM_CHANGE_IPV6_HOP_LIMIT)) != 0) {
        ptp_fsm_svc().offload_idb_sessions_update(port);
    }
    if ((change_flags & (PTP_FSM_CHANGE_MASTER_TABLE | PTP_FSM_CHANGE_DELAY_ASYMMETRY)) != 0) {
        ptp_fsm_proto_master_config_change(port);
    }
    if ((change_flags & PTP_FSM_CHANGE_SLAVE_TABLE) != 0) {
        ptp_fsm_proto_slave_config_change(port);
    }
    ptp_fsm_unlock(port);
}

// ---- Start, resume, secondary update ----

void ptp_fsm_start_running(tessel_proto_idb_type *port, ptp_port_state_type state)
{
    ptp_fsm_port_change_state(port, state);
    switch (state_of(port)) {
    case LISTEN:
    case PASSIVE: ptp_fsm_port_start_announce_timeout(port); break;
    case MASTER:
        ptp_fsm_announce_start_multicast_announce(port);
        ptp_fsm_proto_start_master(port);
        break;
    case UNCAL:
    case SLAVE:
        ptp_fsm_port_start_announce_timeout(port);
        ptp_fsm_proto_start_slave(port);
        break;
    default: ptp_fsm_internal_error("Resuming FSM in unexpected state", __FILE__, __LINE__);
    }
}

void ptp_fsm_start(tessel_proto_idb_type *port)
{
    PTP_FSM_DEBUG_PORT(PTP_FSM_AREA_FSM, port, "%s: %s: [%s]: Starting FSM");
    const ptp_port_state_type state = state_of(port);
    ptp_fsm_trace<PTP_TRACE_TESSEL_FSM_START>(PTP_FSM_TRACE_DET, ptp_fsm_port_ifhandle(port), state);
    if (state == INIT || state == LISTEN || state == PREMASTER || state == FAULTY || state >= PTP_FSM_STATE_COUNT) {
        ptp_fsm_proto_start_listening(port);
        ptp_fsm_start_running(port, LISTEN);
    } else {
        ptp_fsm_proto_start_listening(port);
        ptp_fsm_foreign_master_type *best = best_of(port);
        if (best != nullptr) {
            ptp_fsm_proto_foreign_master_relisten(port, best, is_uncal_or_slave(state));
            ptp_fsm_announce_foreign_master_qualify(port, best, 1);
        }
        // A slave side needs a master to slave to; without one the port listens again.
        ptp_fsm_start_running(port, best == nullptr && is_uncal_or_slave(state) ? LISTEN : state);
    }
    if (port->fsm.is_unicast_grant_allowed) {
        ptp_fsm_unicast_peer_sweep(port);
    } else {
        ptp_fsm_unicast_delete_all_peers(port);
    }
}

void ptp_fsm_resume(tessel_proto_idb_type *port, ptp_port_state_type state,
                    const tessel_chkpt_foreign_master_type *best)
{
    // The state comes from the checkpoint store: anything it cannot resume in restarts in
    // Listen (Initializing has no running parts to resume, and a value outside the states is
    // not a state).
    static constexpr std::array<S, PTP_FSM_STATE_COUNT> resume_map{LISTEN, LISTEN, PASSIVE, LISTEN,
                                                                   MASTER, UNCAL,  SLAVE,   LISTEN};

    port->fsm.PortState = state;
    PTP_FSM_DEBUG_PORT(PTP_FSM_AREA_FSM, port, "%s: %s: [%s]: Resuming FSM");
    ptp_fsm_trace<PTP_TRACE_TESSEL_FSM_RESUME>(PTP_FSM_TRACE_DET, ptp_fsm_port_ifhandle(port), state);

    S mapped = state < PTP_FSM_STATE_COUNT ? resume_map[state] : LISTEN;
    ptp_fsm_proto_start_listening(port);
    bool restored = false;
    if (best != nullptr && mapped != LISTEN) {
        restored = ptp_fsm_proto_best_foreign_master_restore(port, best, is_uncal_or_slave(mapped), true) == 0;
        if (!restored) {
            mapped = LISTEN;
        }
    }
    // Slaving needs the restored master.
    if (!restored && is_uncal_or_slave(mapped)) {
        mapped = LISTEN;
    }
    ptp_fsm_start_running(port, mapped);
}

void ptp_fsm_issu_secondary_update(tessel_proto_idb_type *port, const ptp_port_state_type *state,
                                   const tessel_chkpt_foreign_master_type *best)
{
    const ptp_port_state_type old = state_of(port);
    const bool valid_new = state != nullptr && *state < PTP_FSM_STATE_COUNT;
    const ptp_port_state_type new_state = valid_new ? *state : old;
    ptp_fsm_foreign_master_type *had = best_of(port);

    PTP_FSM_DEBUG_PORT(PTP_FSM_AREA_FSM, port,
                       "%s: %s: [%s]: Updating FSM database in secondary ISSU role. Old port state "
                       "was %s, new port state is %s. Previously %s best foreign master, now %s "
                       "best foreign master",
                       ptp_port_state_to_str(old), ptp_port_state_to_str(new_state),
                       had != nullptr ? "had" : "didn't have", best != nullptr ? "has" : "doesn't have");
    ptp_fsm_trace<PTP_TRACE_TESSEL_FSM_ISSU_SECONDARY_UPDATE>(PTP_FSM_TRACE_DET, ptp_fsm_port_ifhandle(port), old, old,
                                                              new_state, uint32_t{had != nullptr},
                                                              uint32_t{best != nullptr});

    if (valid_new) {
        port->fsm.PortState = new_state;
    }
    if (had != nullptr) {
        if (port->fsm.slaving_master == had) {
            port->fsm.slaving_master = nullptr; // the record goes now
        }
        ptp_fsm_announce_foreign_master_unrank(port, had);
        ptp_fsm_proto_foreign_master_delete(port, had, PTP_FSM_PROTO_PEER_DEL_KEEP_PEER_INDEX);
        if (best == nullptr) {
            ptp_fsm_svc().bmc_if_update(port);
            return;
        }
    }
    if (best == nullptr) {
        return;
    }
    ptp_fsm_proto_best_foreign_master_restore(port, best, is_uncal_or_slave(new_state), false);
    ptp_fsm_svc().bmc_if_update(port);
}
