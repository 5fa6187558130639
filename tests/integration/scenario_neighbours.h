// The agent's neighbours that are not built yet, as the scenario sees them: offload sessions,
// FIB and adjacency, peer indices, the checkpoint, the operational data's packet-counter reader, the interface
// capabilities, the thread control and the interface manager's names. They are recording fakes: each call is noted and answers as a healthy neighbour would.
// A module that gets built replaces its fake here; linking both is a duplicate definition, never
// a silent choice.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct scn_neighbours_type {
    // Every stand-in call, in order ("offload_if_session", "chkpt_if_update", ...).
    std::vector<std::string> calls;
    // The interface capabilities: slave support, and whether the packet I/O resolves adjacencies.
    bool platform_adjacency = false;
};

extern scn_neighbours_type scn_nb;

void scn_neighbours_reset();
// How often a call was made since the last reset.
uint32_t scn_neighbours_count(const std::string &call);
