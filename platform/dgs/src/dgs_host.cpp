// The daemon's side of the group services: the directory of bound end points and the delivery of
// messages to their owners.
#include "dgs_host.h"

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "dgs.h"
#include "dgs_wire.h"

namespace {

struct endpoint_type {
    uint64_t id;
    std::string name;
    std::string pname;
    uint32_t pid;
    bool published;
    sockmsg_session_type *owner; // null: the daemon's own
};

struct host_type {
    sockmsg_server_type *server = nullptr;
    std::vector<endpoint_type> endpoints;
    uint64_t next_id = 1;
    FILE *out = nullptr;
};

host_type host;

using dgs_wire::get32;
using dgs_wire::get64;
using dgs_wire::put32;
using dgs_wire::put64;

void put_text(std::vector<uint8_t> &b, const std::string &s)
{
    const size_t n = s.size() < 255 ? s.size() : 255;
    b.push_back(static_cast<uint8_t>(n));
    b.insert(b.end(), s.begin(), s.begin() + static_cast<long>(n));
}

std::vector<uint8_t> address_of(const endpoint_type &e)
{
    std::vector<uint8_t> b;
    put32(b, DGS_ENDP_MAGIC);
    put32(b, 0); // every end point is reached through this daemon
    put64(b, e.id);
    return b;
}

bool name_ok(const uint8_t *p, uint32_t n)
{
    return n >= 1 && n <= 255 && std::memchr(p, '\0', n) == nullptr;
}

void on_lookup(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    if (call == nullptr)
        return;
    if (!name_ok(data, length)) {
        sockmsg_reply(call, DGS_ERR_INVALID, nullptr, 0);
        return;
    }
    const std::string name(reinterpret_cast<const char *>(data), length);
    std::vector<uint8_t> reply;
    uint32_t count = 0;
    std::vector<uint8_t> entries;
    for (const endpoint_type &e : host.endpoints) {
        if (!e.published || e.name != name)
            continue;
        ++count;
        put32(entries, e.pid); // the job of a process is its pid here
        put32(entries, e.pid);
        put_text(entries, e.pname);
        put_text(entries, e.name);
        const std::vector<uint8_t> a = address_of(e);
        entries.push_back(static_cast<uint8_t>(a.size()));
        entries.insert(entries.end(), a.begin(), a.end());
    }
    put32(reply, count);
    reply.insert(reply.end(), entries.begin(), entries.end());
    sockmsg_reply(call, 0, reply.data(), static_cast<uint32_t>(reply.size()));
}

// u32 flags, u8 length + process name, the name.
void on_bind(sockmsg_session_type *session, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    if (call == nullptr)
        return;
    if (length < 5 || length < 5u + data[4] || !name_ok(data + 5 + data[4], length - 5 - data[4])) {
        sockmsg_reply(call, DGS_ERR_INVALID, nullptr, 0);
        return;
    }
    const uint32_t flags = get32(data);
    const uint32_t pname_len = data[4];
    endpoint_type e{host.next_id++,
                    std::string(reinterpret_cast<const char *>(data + 5 + pname_len), length - 5 - pname_len),
                    std::string(reinterpret_cast<const char *>(data + 5), pname_len),
                    static_cast<uint32_t>(sockmsg_session_peer(session)->pid),
                    (flags & DGS_BIND_CLIENT) == 0,
                    session};
    const std::vector<uint8_t> a = address_of(e);
    host.endpoints.push_back(std::move(e));
    sockmsg_reply(call, 0, a.data(), static_cast<uint32_t>(a.size()));
}

void show(uint32_t flags, const std::string &from)
{
    FILE *out = host.out != nullptr ? host.out : stdout;
    std::fprintf(out, "platformd: show request 0x%x from '%s'\n", flags, from.c_str());
    uint32_t published = 0;
    for (const endpoint_type &e : host.endpoints)
        published += e.published ? 1 : 0;
    if ((flags & DGS_SHOW_SUMMARY) != 0)
        std::fprintf(out, "group services: %u end points, %zu binds\n", published, host.endpoints.size());
    if ((flags & DGS_SHOW_DETAIL) != 0) {
        for (const endpoint_type &e : host.endpoints) {
            if (!e.published && (flags & DGS_SHOW_ALL) == 0)
                continue;
            std::fprintf(out, "  end point %llu '%s': pid %u, pname '%s'%s\n", static_cast<unsigned long long>(e.id),
                         e.name.c_str(), e.pid, e.pname.c_str(), e.published ? "" : ", sending only");
        }
    }
    std::fflush(out);
}

// u64 end point, u32 type, u32 flags, body.
void on_send(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    if (call == nullptr)
        return;
    if (length < 16 || length - 16 > DGS_MAX_MSG) {
        sockmsg_reply(call, length < 16 ? DGS_ERR_INVALID : DGS_ERR_TOO_BIG, nullptr, 0);
        return;
    }
    const uint64_t id = get64(data);
    const uint32_t mtype = get32(data + 8);
    const uint32_t flags = get32(data + 12);
    for (const endpoint_type &e : host.endpoints) {
        if (e.id != id)
            continue;
        if (e.owner == nullptr) {
            if (mtype == DGS_MTYPE_SHOW)
                show(flags, std::string(reinterpret_cast<const char *>(data + 16), length - 16));
        } else {
            sockmsg_notify(e.owner, DGS_SERVICE_ID, DGS_WIRE_MSG, data, length);
        }
        sockmsg_reply(call, 0, nullptr, 0);
        return;
    }
    sockmsg_reply(call, DGS_ERR_NO_ENDPOINT, nullptr, 0);
}

void on_disconnect(sockmsg_session_type *session, void *, void *)
{
    std::erase_if(host.endpoints, [session](const endpoint_type &e) { return e.owner == session; });
}

const sockmsg_handler_row rows[] = {{DGS_WIRE_LOOKUP, on_lookup}, {DGS_WIRE_BIND, on_bind}, {DGS_WIRE_SEND, on_send}};
const sockmsg_service_type service = {DGS_SERVICE_ID, "group services", rows, 3, on_disconnect, nullptr};

} // namespace

zerrno dgs_host_init(event_mgr_type *, sockmsg_server_type *server)
{
    const zerrno rc = sockmsg_server_register(server, &service);
    if (rc != 0)
        return rc;
    host.server = server;
    host.endpoints.clear();
    host.next_id = 1;
    const uint32_t pid = static_cast<uint32_t>(getpid());
    host.endpoints.push_back({host.next_id++, DGS_HOST_ENDPOINT, "platformd", pid, true, nullptr});
    return 0;
}

void dgs_host_shutdown(void)
{
    host.endpoints.clear();
    host.server = nullptr;
}

void dgs_host_set_output(FILE *out)
{
    host.out = out;
}
