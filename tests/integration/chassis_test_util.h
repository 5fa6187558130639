// What the chassis tests ask of a running daemon: its process table, and a bounded wait for a
// condition on it (or on anything else the chassis shows).
#pragma once

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sockmsg.h"
#include "sysmgr_host.h"

struct proc_row {
    std::string node, name, state;
    int pid = 0;
    unsigned restarts = 0;
};

// The daemon's process table, empty when the daemon does not answer.
inline std::vector<proc_row> processes(const std::string &socket)
{
    std::vector<proc_row> rows;
    sockmsg_client_type *c = nullptr;
    if (sockmsg_client_connect(socket.c_str(), nullptr, nullptr, nullptr, nullptr, &c) != 0) {
        return rows;
    }
    uint32_t status = 0;
    std::vector<uint8_t> reply;
    if (sockmsg_client_call(c, SYSMGR_SERVICE_ID, SYSMGR_WIRE_LIST, nullptr, 0, &status, &reply) == 0 && status == 0) {
        // node, name, pid, state, restarts, then what the table says of its last end
        std::istringstream in(std::string(reply.begin(), reply.end()));
        for (std::string line; std::getline(in, line);) {
            std::istringstream fields(line);
            proc_row r;
            if (fields >> r.node >> r.name >> r.pid >> r.state >> r.restarts) {
                rows.push_back(r);
            }
        }
    }
    sockmsg_client_close(c);
    return rows;
}

// The row of process `name` on `node` (any node when empty); a default row when absent.
inline proc_row row_of(const std::string &socket, const std::string &node, const std::string &name)
{
    for (const proc_row &r : processes(socket)) {
        if (r.name == name && (node.empty() || r.node == node)) {
            return r;
        }
    }
    return {};
}

// The state of process `name` in the daemon's table ("" when absent).
inline std::string state_of(const std::string &socket, const std::string &name)
{
    return row_of(socket, "", name).state;
}

// Polls `done` until it holds or `limit` has passed; whether it held.
template <typename F>
bool wait_for(F done, std::chrono::milliseconds limit = std::chrono::seconds(30))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}
