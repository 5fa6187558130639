// The agent's neighbours that are not built yet, as the scenario sees them: the controller link,
// the port-number client, offload sessions, FIB and adjacency, peer indices, the slave-lost trap,
// the checkpoint, the interface capabilities, the thread control and the interface manager's
// names. They are weak recording fakes: each call is noted and answers as a healthy neighbour
// would, and a module's real definition, once linked, takes precedence.
//
// These are kept apart from the unit tests' fake files on purpose: those also fake modules that
// are built (the packet module, the receive path, the state machine's lock), and a weak fake of a
// built module could silently stand in for it here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct scn_neighbours_type {
    // Every stand-in call, in order ("comms_bmc_send", "port_num_request", "chkpt_if_update", ...).
    std::vector<std::string> calls;
    // The interface capabilities: slave support, and whether the packet I/O resolves adjacencies.
    bool platform_adjacency = false;
};

extern scn_neighbours_type scn_nb;

void scn_neighbours_reset();
// How often a call was made since the last reset.
uint32_t scn_neighbours_count(const std::string &call);
