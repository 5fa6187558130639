// The SNMP agent host of the MIB plug-ins: it loads plug-ins (shared objects) into the process,
// serves the toolkit they call (snmp_toolkit.h), answers GET, GETNEXT and SET over the columns of
// every loaded module, hands the plug-ins the trap-enable items of the configuration, and passes
// their notifications on.
//
// Used two ways: in-process by unit tests (the calls below are the test-control API: issue
// requests, capture traps), and by ptp_mib_agentx, the AgentX subagent of a real SNMP agent.
//
// One host per process. Requests come from one thread at a time; plug-in callbacks (timers,
// database notifications, trap-enable items) run on the host's event manager.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "evm.h"
#include "snmp_toolkit.h"
#include "zerrno.h"

inline constexpr uint32_t SNMP_HOST_ZERR_FACILITY = 0x7f21;
inline constexpr zerrno SNMP_HOST_ERR_INVALID = zerr_make(SNMP_HOST_ZERR_FACILITY, 1, 22 /*EINVAL*/);
inline constexpr zerrno SNMP_HOST_ERR_LOAD = zerr_make(SNMP_HOST_ZERR_FACILITY, 2, 2 /*ENOENT*/);
inline constexpr zerrno SNMP_HOST_ERR_EXISTS = zerr_make(SNMP_HOST_ZERR_FACILITY, 3, 17 /*EEXIST*/);
inline constexpr zerrno SNMP_HOST_ERR_NOT_FOUND = zerr_make(SNMP_HOST_ZERR_FACILITY, 4, 2 /*ENOENT*/);

using snmp_oid_arcs = std::vector<uint32_t>;

// A value as the manager sees it.
struct snmp_host_value {
    uint8_t type = SNMP_NULL_TYPE;
    int64_t number = 0;   // INTEGER (signed), Counter32, Gauge32
    uint64_t counter = 0; // Counter64
    std::string bytes;    // OCTET STRING
};

struct snmp_host_binding {
    snmp_oid_arcs name;
    snmp_host_value value;
};

struct snmp_host_trap {
    int generic = 0;
    int specific = 0;
    snmp_oid_arcs enterprise;
    std::string trap_oid; // dotted
    std::vector<snmp_host_binding> bindings;
};

// Request outcomes besides SNMP_NO_ERROR.
inline constexpr int SNMP_HOST_NO_SUCH_OBJECT = 0x80;   // no column of a loaded module
inline constexpr int SNMP_HOST_NO_SUCH_INSTANCE = 0x81; // the column answered nothing
inline constexpr int SNMP_HOST_END_OF_MIB_VIEW = 0x82;  // nothing after the request

// Starts the host with the event manager it hands the plug-ins (the caller serves it).
zerrno snmp_host_init(event_mgr_type *evm);
// Unloads every plug-in and forgets everything.
void snmp_host_shutdown();

// Opens the plug-in at path and calls init_<module>(handle, 1). A module already loaded is loaded
// again (its init is called again with 1): SNMP_HOST_ERR_EXISTS is only for another file.
zerrno snmp_host_load(const char *path, const char *module);
// Calls init_<module>(handle, 0) and closes the plug-in.
zerrno snmp_host_unload(const char *module);

// The roots registered by the loaded plug-ins, in identifier order.
std::vector<snmp_oid_arcs> snmp_host_roots();

int snmp_host_get(const snmp_oid_arcs &name, snmp_host_binding *out);
// The lexicographic successor of name among the instances of every loaded column.
int snmp_host_getnext(const snmp_oid_arcs &name, snmp_host_binding *out);
// A set of one object: the column's test function, then (when it passed) every pending entry's
// set function, then the clean-ups. The error status of the first failure, else SNMP_NO_ERROR.
int snmp_host_set(const snmp_oid_arcs &name, const snmp_host_value &value);

// Follows the trap-enable items "ptp/..." under "/cfg/gl/snmp/enable/traps/" of the database:
// each registered item's callback is given the item's value at once (its default while it is not
// configured) and every change.
zerrno snmp_host_follow_trap_config();

// Where notifications go (called on the thread that raised them); without a sink they are kept
// for snmp_host_traps.
void snmp_host_set_trap_sink(std::function<void(const snmp_host_trap &)> sink);
std::vector<snmp_host_trap> snmp_host_traps();
void snmp_host_traps_clear();

// Turns a loaded module's debug prints on or off; prints go to the debug sink (standard error
// without one).
zerrno snmp_host_set_debug(const char *module, bool on);
void snmp_host_set_debug_sink(std::function<void(const std::string &)> sink);

// Test control: registrations held now (roots by snmp_load_oid, debug descriptors, trap-enable
// items) and waits on a busy plug-in mutex so far.
uint32_t snmp_host_root_registrations();
uint32_t snmp_host_debug_registrations();
uint32_t snmp_host_trap_enable_registrations();
uint32_t snmp_host_mutex_waits();

// Identifier helpers.
snmp_oid_arcs snmp_oid_parse(const char *dotted); // empty for a malformed text
std::string snmp_oid_text(const snmp_oid_arcs &arcs);
