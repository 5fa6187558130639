// The process manager in the platform daemon: it starts the chassis' processes on every node
// they apply to, watches them, restarts one that dies (unless it said it was leaving), and takes
// the process calls (ready, exiting) of the processes over the daemon's socket.
#pragma once

#include <cstdint>
#include <string>

#include "evm.h"
#include "sockmsg.h"
#include "zerrno.h"

inline constexpr uint16_t SYSMGR_SERVICE_ID = 0x0c2;
// Requests of the service.
inline constexpr uint16_t SYSMGR_WIRE_READY = 1;       // no payload: the calling process is ready
inline constexpr uint16_t SYSMGR_WIRE_EXITING = 2;     // no payload: it leaves by itself
inline constexpr uint16_t SYSMGR_WIRE_LIST = 3;        // reply: the process table as text
inline constexpr uint16_t SYSMGR_WIRE_KILL = 4;        // u32 node, name: kill -9 (it is restarted)
inline constexpr uint16_t SYSMGR_WIRE_LR_REGISTER = 5; // u32 node, u32 kind: this client wants those events
inline constexpr uint16_t SYSMGR_WIRE_LR_FIRE = 6;     // u32 node (all ones: every node), u32 kind; reply u32 told
inline constexpr uint16_t SYSMGR_WIRE_NODES = 7;       // reply: the chassis' nodes as text
inline constexpr uint16_t SYSMGR_WIRE_STOP = 8;        // u32 node, name: kill -9, not started again
inline constexpr uint16_t SYSMGR_WIRE_RESTART = 9;     // u32 node, name: kill -9 and start again (a stopped one too)
inline constexpr uint16_t SYSMGR_WIRE_LR_EVENT = 30;   // notice: u32 kind, u32 node

// A process that dies without saying it leaves is started again after SYSMGR_RESTART_DELAY_MS.
// Each further death within SYSMGR_RESTART_STABLE_MS of its start doubles the delay, up to
// SYSMGR_RESTART_DELAY_MAX_MS; a death once SYSMGR_RESTART_LIMIT such restarts came in a row
// leaves it failed, not started again until the operator restarts it. One that lived longer
// starts the count again.
inline constexpr uint64_t SYSMGR_RESTART_DELAY_MS = 500;
inline constexpr uint64_t SYSMGR_RESTART_DELAY_MAX_MS = 8000;
inline constexpr uint64_t SYSMGR_RESTART_STABLE_MS = 10000;
inline constexpr uint32_t SYSMGR_RESTART_LIMIT = 5;
// At the daemon's stop, its processes have this long to end after SIGTERM before SIGKILL.
inline constexpr uint64_t SYSMGR_STOP_GRACE_MS = 2000;

// Starts the processes of the chassis ($PTP_CHASSIS; none without one) and serves the service.
zerrno sysmgr_host_init(event_mgr_type *evm, sockmsg_server_type *server);
void sysmgr_host_shutdown(void);

// The process table, one line per process: "node name pid state restarts last", state one of
// "starting", "ready", "exiting", "stopped", "restarting", "failed"; restarts counts the starts
// after a death it did not announce and the operator's restarts (not a start on configuration
// of one that left by design); last is how it last ended: "exit=N", "signal=NAME" ("KILL"), or
// "-" before its first end.
std::string sysmgr_host_process_table(void);

// The node a client of the daemon acts for. A process the manager started is on its own node,
// whatever it names. Another client names its node once per connection: the first name holds,
// a different one later is SYSMGR_ERR_INVALID. With a chassis, only its nodes exist
// (SYSMGR_ERR_NO_NODE). Daemon's manager thread only.
zerrno sysmgr_host_client_node(sockmsg_session_type *session, uint32_t requested, uint32_t *node);

// Configuration for an interface of the node appeared in commit `sequence`: its processes marked
// restart_on_config that left by themselves are started again (one still leaving, once it is
// gone). How many. A process is not started for a commit at or before the one that was the
// configuration's last when it said it was leaving (see sysmgr_host_set_config_sequence): it had
// seen that configuration and left on it, and the notification only came late. Any thread.
uint32_t sysmgr_host_config_appeared(uint32_t node, uint32_t sequence);
// Global PTP configuration appeared in commit `sequence`: the processes marked
// restart_on_global_config that left by themselves are started again, on every node, as above.
// How many. Any thread.
uint32_t sysmgr_host_global_config_appeared(uint32_t sequence);
// The configuration's last commit, read on the daemon's loop when a process says it is leaving
// (or the operator stops it); nullptr: 0.
void sysmgr_host_set_config_sequence(uint32_t (*sequence)(void));

// The daemon's watch on the configuration database (library plat_sysmgr_config): items below
// "/cfg/if/act/<interface>/ptp/" that are created or set call sysmgr_host_config_appeared for
// the nodes that have that interface, items below "/cfg/gl/ptp/" sysmgr_host_global_config_appeared.
// Started only when a process is marked restart_on_config or restart_on_global_config.
// With a chassis it also scopes the database: the configuration items of an interface the chassis
// places on a node reach only that node's processes, and its operational items (below ".../if/")
// are asked of that node's providers (nodra_service_set_scope).
zerrno sysmgr_config_watch_init(event_mgr_type *evm, sockmsg_server_type *server);
void sysmgr_config_watch_shutdown(void);

// The chassis' nodes, one line each: "name id role redundancy kvolm", id in hex, kvolm "kvolm"
// or "-".
std::string sysmgr_host_node_table(void);

// The node of the process the manager started with this pid (false for another pid).
bool sysmgr_host_node_of(int32_t pid, uint32_t *node);

// The identity of the process the manager started with this pid (false for another pid), which
// the daemon's other services keep its state under: its name, and for a line card's process its
// node ("tessel@10"), since every line card runs an instance of its own.
bool sysmgr_host_owner_of(int32_t pid, std::string *owner);
