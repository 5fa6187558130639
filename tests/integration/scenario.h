// The main job's scenario: one PTP port of the agent, driven by the real port manager,
// best-master list, port state machine, receive dispatch, packet module and checkpoint code,
// listening to a master - ptp4l in a network namespace over L2, UDP/IPv4 or UDP/IPv6, or a
// simulated master node over an in-memory link. The scenario plays the controller (over group
// messaging, to the real controller link and port-number client), the agent's process entry, its
// IPC thread and the protocol thread's loop, one thread for both of the agent's threads; what it
// plays of them is in interop_agent_threads.cpp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "evm.h"
#include "nodra_test.h"
#include "ptp_types.h"
#include "zerrno.h"

namespace scenario {

// The first line of the program's output: what is real and what is not.
inline constexpr const char *FIRST_LINE =
    "Scenario: controller simulated (this program sends its announce messages and answers the port-number "
    "request over group messaging); the agent's process entry and IPC thread are played by this program, on one thread.";

// What one run showed; the steps are printed as they happen.
struct result_type {
    bool ready = false;             // the port manager made the port ready; it listened
    bool passive = false;           // the master qualified, reached the best-master list: Passive
    bool slave = false;             // Slave, with the master's identity as parent
    bool master_after_stop = false; // Master by Announce-Timeout once the master had stopped
    bool checkpointed = false;      // the port's checkpoint record stored while it lived, removed with it
    std::string error;              // set when the run could not be set up
    bool ok() const { return error.empty() && ready && passive && slave && master_after_stop && checkpointed; }
};

struct transport_type {
    const char *name;
    uint32_t encap;         // ptp_encap_type
    const char *ptp4l_flag; // ptp4l's transport option
};
inline constexpr transport_type TRANSPORTS[] = {
    {"L2", PTP_ENCAP_ETHERNET, "-2"},
    {"UDP/IPv4", PTP_ENCAP_IPV4, "-4"},
    {"UDP/IPv6", PTP_ENCAP_IPV6, "-6"},
};

// The agent binds to the database (its slave-lost trap) only when the client library file is
// readable: names an empty file in dir for that check. The database is the daemon's, or this
// process's own (nodra_test_server_start).
inline void use_database_library(const std::string &dir)
{
    const std::string library = dir + "/libnodra.so";
    std::ofstream{library}.close();
    nodra_test_set_client_library_path(library.c_str());
}

// What the agent's process entry and thread control do for the checkpoint before the port
// manager starts: the application described to the checkpoint service, then the instance's role
// by the upgrade role (tessel_issu_init first). The store is the daemon's when $PTP_NODE names a
// node, else this process's own.
zerrno start_checkpoint(event_mgr_type *evm);
// After the port manager's shutdown: what the agent's exit would forget (the checkpoint code's
// state, this process's checkpoint instance), so that the next agent run in the process starts
// afresh. Before the event manager goes.
void stop_checkpoint();

// Empty when this machine can run the scenario against ptp4l (root, 'ip netns', ptp4l), else
// why not.
std::string ptp4l_missing_prerequisite();

// ptp4l as multicast master over one transport, on real time.
result_type run_ptp4l(const transport_type &transport, FILE *out);
// A simulated master node over an in-memory link, on virtual time.
result_type run_memory(FILE *out);

} // namespace scenario
