// The chassis description, read from TOML. The TOML library reports errors with exceptions;
// they are caught here and turned into "file:line: key: what" lines, so no exception leaves.
#include "chassis.h"

#include <arpa/inet.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <toml.hpp>

namespace {

struct reader_type {
    std::string file;
    std::string error;
};

std::string first_line(const std::string &text)
{
    const size_t end = text.find('\n');
    return end == std::string::npos ? text : text.substr(0, end);
}

bool fail(reader_type &r, uint32_t line, const std::string &key, const std::string &what)
{
    if (r.error.empty())
        r.error = r.file + ":" + std::to_string(line) + ": " + key + ": " + what;
    return false;
}

uint32_t line_of(const toml::value &v)
{
    return static_cast<uint32_t>(v.location().line());
}

const char *type_name(const toml::value &v)
{
    switch (v.type()) {
    case toml::value_t::boolean: return "a boolean";
    case toml::value_t::integer: return "an integer";
    case toml::value_t::floating: return "a number";
    case toml::value_t::string: return "a string";
    case toml::value_t::array: return "an array";
    case toml::value_t::table: return "a table";
    default: return "a date or time";
    }
}

// Every key of a table must be one we know: a misspelt key is an error, not a default.
bool known_keys(reader_type &r, const toml::value &table, const std::string &where,
                std::initializer_list<const char *> keys)
{
    for (const auto &[name, value] : table.as_table()) {
        bool found = false;
        for (const char *k : keys)
            found = found || name == k;
        if (!found)
            return fail(r, line_of(value), where + name, "unknown key");
    }
    return true;
}

const toml::value *member(const toml::value &table, const char *key)
{
    const auto &t = table.as_table();
    const auto it = t.find(key);
    return it == t.end() ? nullptr : &it->second;
}

bool get_string(reader_type &r, const toml::value &table, const std::string &where, const char *key, bool required,
                std::string *out)
{
    const toml::value *v = member(table, key);
    if (v == nullptr)
        return required ? fail(r, line_of(table), where + key, "missing") : true;
    if (!v->is_string())
        return fail(r, line_of(*v), where + key, std::string("expected a string, found ") + type_name(*v));
    *out = v->as_string().str;
    if (required && out->empty())
        return fail(r, line_of(*v), where + key, "must not be empty");
    return true;
}

bool get_uint(reader_type &r, const toml::value &table, const std::string &where, const char *key, bool required,
              uint64_t max, uint64_t *out)
{
    const toml::value *v = member(table, key);
    if (v == nullptr)
        return required ? fail(r, line_of(table), where + key, "missing") : true;
    if (!v->is_integer())
        return fail(r, line_of(*v), where + key, std::string("expected an integer, found ") + type_name(*v));
    const int64_t n = v->as_integer();
    if (n < 0 || static_cast<uint64_t>(n) > max)
        return fail(r, line_of(*v), where + key, "out of range (0 to " + std::to_string(max) + ")");
    *out = static_cast<uint64_t>(n);
    return true;
}

bool get_bool(reader_type &r, const toml::value &table, const std::string &where, const char *key, bool *out)
{
    const toml::value *v = member(table, key);
    if (v == nullptr)
        return true;
    if (!v->is_boolean())
        return fail(r, line_of(*v), where + key, std::string("expected a boolean, found ") + type_name(*v));
    *out = v->as_boolean();
    return true;
}

bool get_string_array(reader_type &r, const toml::value &table, const std::string &where, const char *key,
                      std::vector<std::pair<std::string, uint32_t>> *out)
{
    const toml::value *v = member(table, key);
    if (v == nullptr)
        return true;
    if (!v->is_array())
        return fail(r, line_of(*v), where + key, std::string("expected an array, found ") + type_name(*v));
    for (const toml::value &e : v->as_array()) {
        if (!e.is_string())
            return fail(r, line_of(e), where + key, std::string("expected strings, found ") + type_name(e));
        out->emplace_back(e.as_string().str, line_of(e));
    }
    return true;
}

bool parse_mac(const std::string &text, std::array<uint8_t, 6> *mac)
{
    unsigned b[6];
    char tail = 0;
    if (text.size() != 17 ||
        std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &tail) != 6)
        return false;
    for (size_t i = 0; i < 6; ++i) {
        if (text[i * 3] == ' ' || text[i * 3 + 1] == ' ')
            return false;
        (*mac)[i] = static_cast<uint8_t>(b[i]);
    }
    return true;
}

bool read_caps(reader_type &r, const toml::value &t, const std::string &where, chassis_caps_type *caps)
{
    if (!t.is_table())
        return fail(r, line_of(t), where, std::string("expected a table, found ") + type_name(t));
    const std::string w = where + ".";
    if (!known_keys(r, t, w, {"api_version", "flags", "log_max_rate"}))
        return false;
    uint64_t version = caps->api_version, flags = caps->flags, rate = caps->log_max_rate;
    if (!get_uint(r, t, w, "api_version", false, UINT32_MAX, &version) ||
        !get_uint(r, t, w, "flags", false, UINT16_MAX, &flags) ||
        !get_uint(r, t, w, "log_max_rate", false, UINT8_MAX, &rate))
        return false;
    caps->api_version = static_cast<uint32_t>(version);
    caps->flags = static_cast<uint16_t>(flags);
    caps->log_max_rate = static_cast<uint8_t>(rate);
    return true;
}

bool get_int(reader_type &r, const toml::value &table, const std::string &where, const char *key, int64_t min,
             int64_t max, bool *present, int64_t *out)
{
    const toml::value *v = member(table, key);
    if (v == nullptr)
        return true;
    if (!v->is_integer())
        return fail(r, line_of(*v), where + key, std::string("expected an integer, found ") + type_name(*v));
    const int64_t n = v->as_integer();
    if (n < min || n > max)
        return fail(r, line_of(*v), where + key,
                    "out of range (" + std::to_string(min) + " to " + std::to_string(max) + ")");
    *present = true;
    *out = n;
    return true;
}

bool read_clock(reader_type &r, const toml::value &t, const std::string &where, chassis_clock_type *clock)
{
    if (!t.is_table())
        return fail(r, line_of(t), where, std::string("expected a table, found ") + type_name(t));
    const std::string w = where + ".";
    if (!known_keys(r, t, w,
                    {"api_version", "flags", "ql_o1", "ql_o2_g1", "ql_o2_g2", "holdover_min", "holdover_max",
                     "timescale", "time_source", "accuracy", "oslv", "primary_ref_type", "frequency_traceable",
                     "time_traceable", "utc_offset", "ql_option", "ql_value"}))
        return false;
    uint64_t version = clock->api_version, flags = clock->flags, o1 = clock->ql_o1, o2g1 = clock->ql_o2_g1,
             o2g2 = clock->ql_o2_g2, hmin = clock->holdover_min, hmax = clock->holdover_max,
             source = clock->time_source, accuracy = clock->accuracy, oslv = clock->oslv,
             ref_type = clock->primary_ref_type, ql_option = 0, ql_value = 0;
    std::string timescale;
    if (!get_uint(r, t, w, "api_version", false, UINT32_MAX, &version) ||
        !get_uint(r, t, w, "flags", false, 0x1fff, &flags) || !get_uint(r, t, w, "ql_o1", false, UINT8_MAX, &o1) ||
        !get_uint(r, t, w, "ql_o2_g1", false, UINT8_MAX, &o2g1) ||
        !get_uint(r, t, w, "ql_o2_g2", false, UINT8_MAX, &o2g2) ||
        !get_uint(r, t, w, "holdover_min", false, UINT32_MAX, &hmin) ||
        !get_uint(r, t, w, "holdover_max", false, UINT32_MAX, &hmax) ||
        !get_string(r, t, w, "timescale", false, &timescale) ||
        !get_uint(r, t, w, "time_source", false, UINT8_MAX, &source) ||
        !get_uint(r, t, w, "accuracy", false, UINT8_MAX, &accuracy) ||
        !get_uint(r, t, w, "oslv", false, UINT16_MAX, &oslv) ||
        !get_uint(r, t, w, "primary_ref_type", false, 4, &ref_type) ||
        !get_bool(r, t, w, "frequency_traceable", &clock->frequency_traceable) ||
        !get_bool(r, t, w, "time_traceable", &clock->time_traceable) ||
        !get_uint(r, t, w, "ql_option", false, 3, &ql_option) ||
        !get_uint(r, t, w, "ql_value", false, UINT8_MAX, &ql_value))
        return false;
    if (hmin > hmax)
        return fail(r, line_of(*member(t, "holdover_min")), w + "holdover_min", "above holdover_max");
    if (timescale == "ptp")
        clock->timescale = 0;
    else if (timescale == "arb")
        clock->timescale = 1;
    else if (!timescale.empty())
        return fail(r, line_of(*member(t, "timescale")), w + "timescale", "\"" + timescale + "\" is not ptp or arb");
    // A quality level is the option and the value together.
    if ((member(t, "ql_option") == nullptr) != (member(t, "ql_value") == nullptr))
        return fail(r, line_of(t), w + (member(t, "ql_option") == nullptr ? "ql_option" : "ql_value"), "missing");
    if (member(t, "ql_option") != nullptr && ql_option == 0)
        return fail(r, line_of(*member(t, "ql_option")), w + "ql_option", "out of range (1 to 3)");
    int64_t offset = 0;
    if (!get_int(r, t, w, "utc_offset", INT16_MIN, INT16_MAX, &clock->has_utc_offset, &offset))
        return false;
    clock->api_version = static_cast<uint32_t>(version);
    clock->flags = static_cast<uint16_t>(flags);
    clock->ql_o1 = static_cast<uint8_t>(o1);
    clock->ql_o2_g1 = static_cast<uint8_t>(o2g1);
    clock->ql_o2_g2 = static_cast<uint8_t>(o2g2);
    clock->holdover_min = static_cast<uint32_t>(hmin);
    clock->holdover_max = static_cast<uint32_t>(hmax);
    clock->time_source = static_cast<uint8_t>(source);
    clock->accuracy = static_cast<uint8_t>(accuracy);
    clock->oslv = static_cast<uint16_t>(oslv);
    clock->primary_ref_type = static_cast<uint32_t>(ref_type);
    clock->utc_offset = static_cast<int16_t>(offset);
    clock->has_ql = member(t, "ql_option") != nullptr;
    clock->ql_option = static_cast<uint8_t>(ql_option);
    clock->ql_value = static_cast<uint8_t>(ql_value);
    return true;
}

bool read_line_state(reader_type &r, const toml::value &t, const std::string &w, uint32_t *state)
{
    const toml::value *v = member(t, "state");
    if (v == nullptr)
        return true;
    if (v->is_integer()) {
        uint64_t n = 0;
        if (!get_uint(r, t, w, "state", false, UINT32_MAX, &n))
            return false;
        *state = static_cast<uint32_t>(n);
        return true;
    }
    std::string s;
    if (!get_string(r, t, w, "state", false, &s))
        return false;
    if (s == "up")
        *state = CHASSIS_LINE_UP;
    else if (s == "down")
        *state = CHASSIS_LINE_DOWN;
    else if (s == "admin-down")
        *state = CHASSIS_LINE_ADMIN_DOWN;
    else
        return fail(r, line_of(*v), w + "state", "\"" + s + "\" is not up, down, admin-down or a number");
    return true;
}

bool read_intf(reader_type &r, const toml::value &t, const std::string &where, chassis_intf_type *intf)
{
    if (!t.is_table())
        return fail(r, line_of(t), where, std::string("expected a table, found ") + type_name(t));
    const std::string w = where + ".";
    intf->line = line_of(t);
    if (!known_keys(
            r, t, w,
            {"name", "handle", "type", "state", "mac", "ipv4", "ipv6", "vrf", "link", "peer", "device", "netns"}))
        return false;
    uint64_t handle = 0, type = 0, vrf = 0;
    if (!get_string(r, t, w, "name", true, &intf->name) || !get_uint(r, t, w, "handle", true, UINT32_MAX, &handle) ||
        !get_uint(r, t, w, "type", false, UINT32_MAX, &type) || !get_uint(r, t, w, "vrf", false, UINT32_MAX, &vrf) ||
        !read_line_state(r, t, w, &intf->line_state))
        return false;
    if (handle == 0)
        return fail(r, line_of(*member(t, "handle")), w + "handle", "must not be 0");
    intf->handle = static_cast<uint32_t>(handle);
    intf->type = static_cast<uint32_t>(type);
    intf->vrf = static_cast<uint32_t>(vrf);

    std::string mac;
    if (!get_string(r, t, w, "mac", false, &mac))
        return false;
    if (!mac.empty()) {
        if (!parse_mac(mac, &intf->mac))
            return fail(r, line_of(*member(t, "mac")), w + "mac", "\"" + mac + "\" is not a MAC address");
        intf->has_mac = true;
    }
    std::vector<std::pair<std::string, uint32_t>> v4, v6;
    if (!get_string_array(r, t, w, "ipv4", &v4) || !get_string_array(r, t, w, "ipv6", &v6))
        return false;
    for (const auto &[text, line] : v4) {
        std::array<uint8_t, 4> a{};
        if (inet_pton(AF_INET, text.c_str(), a.data()) != 1)
            return fail(r, line, w + "ipv4", "\"" + text + "\" is not an IPv4 address");
        intf->ipv4.push_back(a);
    }
    for (const auto &[text, line] : v6) {
        std::array<uint8_t, 16> a{};
        if (inet_pton(AF_INET6, text.c_str(), a.data()) != 1)
            return fail(r, line, w + "ipv6", "\"" + text + "\" is not an IPv6 address");
        intf->ipv6.push_back(a);
    }

    std::string link, netns;
    if (!get_string(r, t, w, "link", false, &link) || !get_string(r, t, w, "peer", false, &intf->peer) ||
        !get_string(r, t, w, "device", false, &intf->device) || !get_string(r, t, w, "netns", false, &netns))
        return false;
    const int carriers = !link.empty() + !intf->peer.empty() + !intf->device.empty();
    if (carriers > 1)
        return fail(r, intf->line, where, "at most one of link, peer and device");
    if (!netns.empty() && intf->device.empty())
        return fail(r, line_of(*member(t, "netns")), w + "netns", "only with device");
    intf->netns = netns;
    if (!link.empty()) {
        // "node:interface", the node name may itself hold "/" but not ":".
        const size_t colon = link.find(':');
        if (colon == std::string::npos || colon == 0 || colon + 1 == link.size())
            return fail(r, line_of(*member(t, "link")), w + "link", "\"" + link + "\" is not \"node:interface\"");
        intf->link_node = link.substr(0, colon);
        intf->link_intf = link.substr(colon + 1);
        intf->carrier = chassis_carrier_type::LINK;
    } else if (!intf->peer.empty()) {
        intf->carrier = chassis_carrier_type::PEER;
    } else if (!intf->device.empty()) {
        intf->carrier = chassis_carrier_type::DEVICE;
    }
    return true;
}

bool read_node(reader_type &r, const toml::value &t, const std::string &where, chassis_node_type *node)
{
    if (!t.is_table())
        return fail(r, line_of(t), where, std::string("expected a table, found ") + type_name(t));
    const std::string w = where + ".";
    node->line = line_of(t);
    if (!known_keys(r, t, w, {"name", "id", "role", "redundancy", "kvolm", "capabilities", "clock", "interface"}))
        return false;
    uint64_t id = 0;
    std::string role, redundancy;
    if (!get_string(r, t, w, "name", true, &node->name) || !get_uint(r, t, w, "id", true, UINT32_MAX, &id) ||
        !get_string(r, t, w, "role", true, &role) || !get_string(r, t, w, "redundancy", false, &redundancy) ||
        !get_bool(r, t, w, "kvolm", &node->kvolm))
        return false;
    node->node_id = static_cast<uint32_t>(id);
    if (role == "rp")
        node->is_rp = true;
    else if (role != "lc")
        return fail(r, line_of(*member(t, "role")), w + "role", "\"" + role + "\" is not rp or lc");
    if (redundancy == "standby")
        node->standby = true;
    else if (!redundancy.empty() && redundancy != "active")
        return fail(r, line_of(*member(t, "redundancy")), w + "redundancy",
                    "\"" + redundancy + "\" is not active or standby");
    if (const toml::value *caps = member(t, "capabilities"))
        if (!read_caps(r, *caps, w + "capabilities", &node->caps))
            return false;
    if (const toml::value *clock = member(t, "clock"))
        if (!read_clock(r, *clock, w + "clock", &node->clock))
            return false;
    if (const toml::value *intfs = member(t, "interface")) {
        if (!intfs->is_array())
            return fail(r, line_of(*intfs), w + "interface", "expected an array of tables ([[node.interface]])");
        std::set<std::string> names;
        std::set<uint32_t> handles;
        size_t i = 0;
        for (const toml::value &e : intfs->as_array()) {
            chassis_intf_type intf;
            const std::string iw = w + "interface[" + std::to_string(i++) + "]";
            if (!read_intf(r, e, iw, &intf))
                return false;
            if (!names.insert(intf.name).second)
                return fail(r, intf.line, iw + ".name", "\"" + intf.name + "\" is described twice on this node");
            if (!handles.insert(intf.handle).second)
                return fail(r, intf.line, iw + ".handle", "handle used twice on this node");
            node->interfaces.push_back(std::move(intf));
        }
    }
    return true;
}

bool read_process(reader_type &r, const toml::value &t, const std::string &where, chassis_process_type *proc)
{
    if (!t.is_table())
        return fail(r, line_of(t), where, std::string("expected a table, found ") + type_name(t));
    const std::string w = where + ".";
    proc->line = line_of(t);
    if (!known_keys(r, t, w, {"name", "program", "args", "nodes", "restart_on_config", "restart_on_global_config"}))
        return false;
    std::string nodes;
    std::vector<std::pair<std::string, uint32_t>> args;
    if (!get_string(r, t, w, "name", true, &proc->name) || !get_string(r, t, w, "program", true, &proc->program) ||
        !get_string_array(r, t, w, "args", &args) || !get_string(r, t, w, "nodes", false, &nodes) ||
        !get_bool(r, t, w, "restart_on_config", &proc->restart_on_config) ||
        !get_bool(r, t, w, "restart_on_global_config", &proc->restart_on_global_config))
        return false;
    for (auto &a : args)
        proc->args.push_back(std::move(a.first));
    if (nodes == "rp")
        proc->on_lc = false;
    else if (nodes == "lc")
        proc->on_rp = false;
    else if (!nodes.empty() && nodes != "all")
        return fail(r, line_of(*member(t, "nodes")), w + "nodes", "\"" + nodes + "\" is not all, rp or lc");
    return true;
}

// Links must name an interface of another node, and both ends must agree.
bool check_links(reader_type &r, chassis_desc_type &d)
{
    for (size_t n = 0; n < d.nodes.size(); ++n) {
        for (size_t i = 0; i < d.nodes[n].interfaces.size(); ++i) {
            const chassis_intf_type &intf = d.nodes[n].interfaces[i];
            if (intf.carrier != chassis_carrier_type::LINK)
                continue;
            const std::string key = "node[" + std::to_string(n) + "].interface[" + std::to_string(i) + "].link";
            const chassis_node_type *other = chassis_find_node_by_name(&d, intf.link_node);
            if (other == nullptr)
                return fail(r, intf.line, key, "no node \"" + intf.link_node + "\"");
            if (other == &d.nodes[n])
                return fail(r, intf.line, key, "a link joins two nodes");
            const chassis_intf_type *far = chassis_find_intf(other, intf.link_intf);
            if (far == nullptr)
                return fail(r, intf.line, key, "no interface \"" + intf.link_intf + "\" on " + intf.link_node);
            if (far->carrier != chassis_carrier_type::LINK || far->link_node != d.nodes[n].name ||
                far->link_intf != intf.name)
                return fail(r, intf.line, key, intf.link_node + ":" + intf.link_intf + " does not link back");
        }
    }
    return true;
}

bool read_root(reader_type &r, const toml::value &root, chassis_desc_type *d)
{
    if (!known_keys(r, root, "", {"chassis", "node", "process"}))
        return false;
    if (const toml::value *c = member(root, "chassis")) {
        if (!c->is_table())
            return fail(r, line_of(*c), "chassis", "expected a table");
        if (!known_keys(r, *c, "chassis.", {"lr_mac"}))
            return false;
        std::string mac;
        if (!get_string(r, *c, "chassis.", "lr_mac", false, &mac))
            return false;
        if (!mac.empty()) {
            if (!parse_mac(mac, &d->lr_mac))
                return fail(r, line_of(*member(*c, "lr_mac")), "chassis.lr_mac",
                            "\"" + mac + "\" is not a MAC address");
            d->has_lr_mac = true;
        }
    }
    const toml::value *nodes = member(root, "node");
    if (nodes == nullptr || !nodes->is_array() || nodes->as_array().empty())
        return fail(r, nodes == nullptr ? 1 : line_of(*nodes), "node", "at least one [[node]] is needed");
    std::set<std::string> names;
    std::set<uint32_t> ids;
    size_t kvolm = 0;
    size_t i = 0;
    for (const toml::value &e : nodes->as_array()) {
        chassis_node_type node;
        const std::string w = "node[" + std::to_string(i++) + "]";
        if (!read_node(r, e, w, &node))
            return false;
        if (!names.insert(node.name).second)
            return fail(r, node.line, w + ".name", "\"" + node.name + "\" is described twice");
        if (!ids.insert(node.node_id).second)
            return fail(r, node.line, w + ".id", "node id used twice");
        if (node.kvolm && !node.is_rp)
            return fail(r, node.line, w + ".kvolm", "only a route processor can hold it");
        kvolm += node.kvolm;
        d->nodes.push_back(std::move(node));
    }
    if (kvolm > 1)
        return fail(r, line_of(*nodes), "node", "more than one node holds kvolm");
    if (const toml::value *procs = member(root, "process")) {
        if (!procs->is_array())
            return fail(r, line_of(*procs), "process", "expected an array of tables ([[process]])");
        std::set<std::string> pnames;
        i = 0;
        for (const toml::value &e : procs->as_array()) {
            chassis_process_type proc;
            const std::string w = "process[" + std::to_string(i++) + "]";
            if (!read_process(r, e, w, &proc))
                return false;
            if (!pnames.insert(proc.name).second)
                return fail(r, proc.line, w + ".name", "\"" + proc.name + "\" is described twice");
            d->processes.push_back(std::move(proc));
        }
    }
    return check_links(r, *d);
}

zerrno load_stream(std::istream &in, const std::string &name, chassis_desc_type **out, std::string *error)
{
    reader_type r;
    r.file = name;
    auto *d = new chassis_desc_type;
    d->path = name;
    zerrno rc = 0;
    try {
        const toml::value root = toml::parse(in, name);
        if (!read_root(r, root, d))
            rc = CHASSIS_ERR_CONTENT;
    } catch (const toml::exception &e) {
        fail(r, static_cast<uint32_t>(e.location().line()), "(syntax)", first_line(e.what()));
        rc = CHASSIS_ERR_SYNTAX;
    } catch (const std::exception &e) {
        fail(r, 0, "(file)", first_line(e.what()));
        rc = CHASSIS_ERR_SYNTAX;
    }
    if (rc != 0) {
        delete d;
        if (error != nullptr)
            *error = r.error;
        return rc;
    }
    *out = d;
    return 0;
}

} // namespace

zerrno chassis_load(const char *path, chassis_desc_type **out, std::string *error)
{
    if (path == nullptr || out == nullptr)
        return CHASSIS_ERR_INVALID;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error != nullptr)
            *error = std::string(path) + ":0: (file): cannot be read";
        return CHASSIS_ERR_FILE;
    }
    return load_stream(in, path, out, error);
}

zerrno chassis_load_text(const std::string &text, const char *name, chassis_desc_type **out, std::string *error)
{
    if (out == nullptr)
        return CHASSIS_ERR_INVALID;
    std::istringstream in(text);
    return load_stream(in, name == nullptr ? "chassis" : name, out, error);
}

void chassis_free(chassis_desc_type *desc)
{
    delete desc;
}

const chassis_node_type *chassis_find_node(const chassis_desc_type *desc, uint32_t node_id)
{
    if (desc == nullptr)
        return nullptr;
    for (const chassis_node_type &n : desc->nodes)
        if (n.node_id == node_id)
            return &n;
    return nullptr;
}

const chassis_node_type *chassis_find_node_by_name(const chassis_desc_type *desc, const std::string &name)
{
    if (desc == nullptr)
        return nullptr;
    for (const chassis_node_type &n : desc->nodes)
        if (n.name == name)
            return &n;
    return nullptr;
}

const chassis_intf_type *chassis_find_intf(const chassis_node_type *node, const std::string &name)
{
    if (node == nullptr)
        return nullptr;
    for (const chassis_intf_type &i : node->interfaces)
        if (i.name == name)
            return &i;
    return nullptr;
}

const char *chassis_sample_path()
{
    return PTP_CHASSIS_SAMPLE;
}
