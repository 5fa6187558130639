// The agent's neighbours that the scenario does not run: the thread control's checks (one thread
// plays both of the agent's threads) and the global configuration's getters (the scenario plays
// the IPC thread, which holds the configuration), the operational data's packet-counter reader
// (it answers through the IPC thread), the interface capabilities and the interface manager's
// names. Each answers as the real one would here; linking a module that defines one of them is a
// duplicate definition, never a silent choice.
#pragma once

struct scn_neighbours_type {
    // The interface capabilities: whether the packet I/O resolves adjacencies.
    bool platform_adjacency = false;
};

extern scn_neighbours_type scn_nb;

void scn_neighbours_reset();
