// The chassis commands of the operator's command line: each one request (or two, to resolve a
// name) to a service of the platform daemon.
#include "plat_cli.h"

#include <arpa/inet.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "comms_host.h"
#include "imc_host.h"
#include "pktio_relay.h"
#include "sockmsg.h"
#include "sysmgr.h"
#include "sysmgr_host.h"

namespace {

void put32(std::vector<uint8_t> &b, uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8)
        b.push_back(static_cast<uint8_t>(v >> s));
}

uint64_t get_be(const uint8_t *p, int bytes)
{
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | p[i];
    return v;
}

struct session_type {
    sockmsg_client_type *client = nullptr;
    ~session_type() { sockmsg_client_close(client); }
};

std::string code_text(zerrno code)
{
    switch (code) {
    case SYSMGR_ERR_NO_NODE: return "no such process";
    case IMC_ERR_NO_INTERFACE: return "no such interface";
    case IMC_ERR_NO_NODE: return "no such node";
    default: {
        char b[64];
        snprintf(b, sizeof b, "error 0x%08x", code);
        return b;
    }
    }
}

// One request; false with the reason in *error.
bool call(session_type &s, uint16_t service, uint16_t type, const std::vector<uint8_t> &req,
          std::vector<uint8_t> *reply, std::string *error)
{
    if (s.client == nullptr &&
        sockmsg_client_connect(plat_socket_path(), nullptr, nullptr, nullptr, nullptr, &s.client) != 0) {
        s.client = nullptr;
        *error = std::string("the platform daemon does not answer on ") + plat_socket_path();
        return false;
    }
    uint32_t status = 0;
    const zerrno rc =
        sockmsg_client_call(s.client, service, type, req.data(), static_cast<uint32_t>(req.size()), &status, reply);
    if (rc != 0) {
        *error =
            rc == SOCKMSG_ERR_TIMEOUT ? "the platform daemon did not answer in time" : "the platform daemon went away";
        return false;
    }
    if (status != 0) {
        *error = code_text(status);
        return false;
    }
    return true;
}

std::string text_of(const std::vector<uint8_t> &b)
{
    return std::string(b.begin(), b.end());
}

// A node by name or id, from the daemon's chassis.
bool node_of(session_type &s, const std::string &word, uint32_t *node, std::string *error)
{
    std::vector<uint8_t> reply;
    if (!call(s, SYSMGR_SERVICE_ID, SYSMGR_WIRE_NODES, {}, &reply, error))
        return false;
    char *end = nullptr;
    const unsigned long number = strtoul(word.c_str(), &end, 0);
    const bool numeric = !word.empty() && *end == '\0';
    std::istringstream in(text_of(reply));
    for (std::string line; std::getline(in, line);) {
        std::istringstream f(line);
        std::string name, id;
        f >> name >> id;
        const uint32_t value = static_cast<uint32_t>(strtoul(id.c_str(), nullptr, 16));
        if (name == word || (numeric && value == number)) {
            *node = value;
            return true;
        }
    }
    *error = "no node " + word;
    return false;
}

// An interface of a node by name, from the interface manager's table.
bool intf_of(session_type &s, uint32_t node, const std::string &node_word, const std::string &name, uint32_t *handle,
             std::string *error)
{
    std::vector<uint8_t> req, reply;
    put32(req, node);
    if (!call(s, IMC_SERVICE_ID, IMC_WIRE_SHOW, req, &reply, error))
        return false;
    std::istringstream in(text_of(reply));
    for (std::string line; std::getline(in, line);) {
        std::istringstream f(line);
        std::string n, intf, h;
        f >> n >> intf >> h;
        if (intf == name) {
            *handle = static_cast<uint32_t>(strtoul(h.c_str(), nullptr, 16));
            return true;
        }
    }
    *error = "no interface " + name + " on " + node_word;
    return false;
}

bool usage(std::string *error, const char *text)
{
    *error = std::string("usage: ") + text;
    return false;
}

bool show(session_type &s, const std::vector<std::string> &w, std::string *out, std::string *error)
{
    std::vector<uint8_t> req, reply;
    if (w.size() == 2 && w[1] == "nodes") {
        if (!call(s, SYSMGR_SERVICE_ID, SYSMGR_WIRE_NODES, {}, &reply, error))
            return false;
        *out += "name id role redundancy kvolm\n" + text_of(reply);
        return true;
    }
    if (w.size() == 2 && w[1] == "processes") {
        if (!call(s, SYSMGR_SERVICE_ID, SYSMGR_WIRE_LIST, {}, &reply, error))
            return false;
        *out += "node name pid state restarts last\n" + text_of(reply);
        return true;
    }
    if (w.size() == 2 && w[1] == "links") {
        if (!call(s, PKTIO_RELAY_SERVICE_ID, PKTIO_RELAY_WIRE_COUNTS, {}, &reply, error))
            return false;
        if (reply.size() != 16) {
            *error = "a reply of the wrong size";
            return false;
        }
        *out += "relayed " + std::to_string(get_be(reply.data(), 8)) + " dropped " +
                std::to_string(get_be(reply.data() + 8, 8)) + "\n";
        return true;
    }
    if ((w.size() == 2 || w.size() == 3) && w[1] == "interfaces") {
        uint32_t node = UINT32_MAX;
        if (w.size() == 3 && !node_of(s, w[2], &node, error))
            return false;
        put32(req, node);
        if (!call(s, IMC_SERVICE_ID, IMC_WIRE_SHOW, req, &reply, error))
            return false;
        *out += "node name handle state ipv4 ipv6\n" + text_of(reply);
        return true;
    }
    return usage(error, "show nodes|processes|links|interfaces [NODE]");
}

bool process(session_type &s, const std::vector<std::string> &w, std::string *error)
{
    static constexpr std::array<std::pair<const char *, uint16_t>, 3> ops = {{
        {"kill", SYSMGR_WIRE_KILL},
        {"stop", SYSMGR_WIRE_STOP},
        {"restart", SYSMGR_WIRE_RESTART},
    }};
    uint32_t node = 0;
    for (const auto &[word, type] : ops) {
        if (w.size() != 4 || w[1] != word)
            continue;
        if (w[3].empty() || w[3].size() > 64)
            return usage(error, "a process name of 1 to 64 characters");
        if (!node_of(s, w[2], &node, error))
            return false;
        std::vector<uint8_t> req;
        put32(req, node);
        req.insert(req.end(), w[3].begin(), w[3].end());
        return call(s, SYSMGR_SERVICE_ID, type, req, nullptr, error);
    }
    return usage(error, "process kill|stop|restart NODE NAME");
}

bool lr_event(session_type &s, const std::vector<std::string> &w, std::string *out, std::string *error)
{
    if (w.size() != 4 || w[1] != "lr")
        return usage(error, "event lr NODE|all KIND");
    uint32_t node = UINT32_MAX;
    if (w[2] != "all" && !node_of(s, w[2], &node, error))
        return false;
    char *end = nullptr;
    const unsigned long kind = strtoul(w[3].c_str(), &end, 0);
    if (w[3].empty() || *end != '\0' || kind > UINT32_MAX)
        return usage(error, "event lr NODE|all KIND (a number)");
    std::vector<uint8_t> req, reply;
    put32(req, node);
    put32(req, static_cast<uint32_t>(kind));
    if (!call(s, SYSMGR_SERVICE_ID, SYSMGR_WIRE_LR_FIRE, req, &reply, error))
        return false;
    *out += "told " + std::to_string(reply.size() == 4 ? get_be(reply.data(), 4) : 0) + "\n";
    return true;
}

bool parse_state(const std::string &word, uint32_t *state)
{
    static constexpr std::array<std::pair<const char *, uint32_t>, 3> names = {{
        {"up", 3},
        {"down", 2},
        {"admin-down", 1},
    }};
    for (const auto &[name, value] : names) {
        if (word == name) {
            *state = value;
            return true;
        }
    }
    char *end = nullptr;
    const unsigned long v = strtoul(word.c_str(), &end, 0);
    *state = static_cast<uint32_t>(v);
    return !word.empty() && *end == '\0' && v <= UINT32_MAX;
}

// "a,b,c" or "none" as addresses of a family, appended to req with their count.
bool parse_addrs(const std::string &word, int family, std::vector<uint8_t> *req)
{
    std::vector<std::array<uint8_t, 16>> addrs;
    if (word != "none") {
        std::istringstream in(word);
        for (std::string a; std::getline(in, a, ',');) {
            std::array<uint8_t, 16> bytes{};
            if (inet_pton(family, a.c_str(), bytes.data()) != 1)
                return false;
            addrs.push_back(bytes);
        }
    }
    if (addrs.size() > 0xFFFF)
        return false;
    req->push_back(family == AF_INET ? 4 : 6);
    req->push_back(0);
    req->push_back(static_cast<uint8_t>(addrs.size() >> 8));
    req->push_back(static_cast<uint8_t>(addrs.size()));
    for (const auto &a : addrs)
        req->insert(req->end(), a.begin(), a.begin() + (family == AF_INET ? 4 : 16));
    return true;
}

bool interface(session_type &s, const std::vector<std::string> &w, std::string *out, std::string *error)
{
    std::vector<uint8_t> req, reply;
    if (w.size() == 3 && w[1] == "drop") {
        uint32_t node = UINT32_MAX;
        if (w[2] != "all" && !node_of(s, w[2], &node, error))
            return false;
        put32(req, node);
        if (!call(s, IMC_SERVICE_ID, IMC_WIRE_DROP, req, &reply, error))
            return false;
        *out += "told " + std::to_string(reply.size() == 4 ? get_be(reply.data(), 4) : 0) + "\n";
        return true;
    }
    const bool updown = w.size() == 4 && (w[1] == "up" || w[1] == "down");
    const bool valued = w.size() == 5 && (w[1] == "state" || w[1] == "ipv4" || w[1] == "ipv6");
    if (!updown && !valued)
        return usage(error, "interface up|down NODE NAME, interface state|ipv4|ipv6 NODE NAME VALUE, "
                            "interface drop NODE|all");
    uint32_t node = 0, handle = 0;
    if (!node_of(s, w[2], &node, error) || !intf_of(s, node, w[2], w[3], &handle, error))
        return false;
    put32(req, node);
    put32(req, handle);
    if (w[1] == "ipv4" || w[1] == "ipv6") {
        if (!parse_addrs(w[4], w[1] == "ipv4" ? AF_INET : AF_INET6, &req))
            return usage(error, "addresses separated by commas, or none");
        return call(s, IMC_SERVICE_ID, IMC_WIRE_SET_ADDRS, req, nullptr, error);
    }
    uint32_t state = w[1] == "up" ? 3 : 2;
    if (w[1] == "state" && !parse_state(w[4], &state))
        return usage(error, "a line state: up, down, admin-down or a number");
    put32(req, state);
    return call(s, IMC_SERVICE_ID, IMC_WIRE_SET_STATE, req, nullptr, error);
}

bool link(session_type &s, const std::vector<std::string> &w, std::string *error)
{
    if (w.size() != 3 || (w[1] != "down" && w[1] != "up"))
        return usage(error, "link down|up NODE");
    uint32_t node = 0;
    if (!node_of(s, w[2], &node, error))
        return false;
    std::vector<uint8_t> req;
    put32(req, node);
    put32(req, w[1] == "up" ? 1 : 0);
    return call(s, COMMS_SERVICE_ID, COMMS_WIRE_LINK, req, nullptr, error);
}

} // namespace

int plat_cli_run(const std::vector<std::string> &words, std::string *out, std::string *error)
{
    if (words.empty())
        return -1;
    const std::string &cmd = words[0];
    // "show config" is the database's.
    const bool ours = (cmd == "show" && !(words.size() > 1 && words[1] == "config")) || cmd == "process" ||
                      cmd == "event" || cmd == "interface" || cmd == "link";
    if (!ours)
        return -1;
    session_type s;
    bool ok = false;
    if (cmd == "show")
        ok = show(s, words, out, error);
    else if (cmd == "process")
        ok = process(s, words, error);
    else if (cmd == "event")
        ok = lr_event(s, words, out, error);
    else if (cmd == "interface")
        ok = interface(s, words, out, error);
    else
        ok = link(s, words, error);
    return ok ? 0 : 1;
}
