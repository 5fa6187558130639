// The client side of the group services and the service directory, through the platform daemon.
#include "dgs.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "dgs_host.h"
#include "dgs_trace.h"
#include "dgs_wire.h"
#include "jotlog.h"
#include "qsm.h"
#include "sockmsg.h"

struct dgs_handle_type {
    dgs_bind_type *bind;
    uint32_t node;
    uint64_t id;
};

struct dgs_bind_type {
    sockmsg_client_type *client = nullptr;
    std::string name;
    dgs_msg_fn callback = nullptr;
    void *context = nullptr;
    uint32_t node = 0;
    uint64_t id = 0;
    std::vector<dgs_handle_type *> handles;
};

namespace {

using dgs_wire::get32;
using dgs_wire::get64;
using dgs_wire::put32;
using dgs_wire::put64;

// The trace buffers, opened at the first record; a process that cannot open them traces nothing.
struct traces_type {
    std::once_flag once;
    jotlog_handle_type dgs = nullptr;
    jotlog_handle_type err = nullptr;
    ~traces_type()
    {
        jotlog_close(dgs);
        jotlog_close(err);
    }
};
traces_type traces;

void trace(bool error, uint64_t key, std::initializer_list<uint64_t> args)
{
    std::call_once(traces.once, [] {
        if (jotlog_init2("dgs", 64, 4096, 1024, 16384, 0, &traces.dgs) != 0)
            traces.dgs = nullptr;
        if (jotlog_init2("dgs_err", 64, 4096, 256, 4096, 0, &traces.err) != 0)
            traces.err = nullptr;
    });
    jotlog_handle_type h = error ? traces.err : traces.dgs;
    if (h != nullptr)
        _jotlog(h, key, dgs_trace_text_mask(key), std::data(args), static_cast<uint32_t>(args.size()));
}

uint64_t text(const std::string &s)
{
    return jotlog_text_arg(s.c_str());
}

std::string process_name()
{
    std::ifstream comm("/proc/self/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

// ---- Directory ----

// One connection per process, kept until the process ends.
struct directory_type {
    std::mutex lock;
    sockmsg_client_type *client = nullptr;
    ~directory_type()
    {
        if (client != nullptr)
            sockmsg_client_close(client);
    }
};
directory_type directory;

void on_bind_notice(sockmsg_client_type *, uint16_t service, uint16_t type, const uint8_t *data, uint32_t length,
                    void *context)
{
    auto *bind = static_cast<dgs_bind_type *>(context);
    if (service != DGS_SERVICE_ID || type != DGS_WIRE_MSG || length < 16 || bind->callback == nullptr)
        return;
    trace(false, DGS_TRACE_INPUT_RECV, {0, 1});
    bind->callback(bind, get32(data + 8), get32(data + 12), data + 16, length - 16, bind->context);
    trace(false, DGS_TRACE_INPUT_DONE, {0, 1});
}

} // namespace

zerrno qsm_init(event_mgr_type *, qsm_event_fn, void *)
{
    std::lock_guard g(directory.lock);
    if (directory.client != nullptr && sockmsg_client_is_open(directory.client))
        return 0;
    if (directory.client != nullptr) {
        // The daemon went away since: a new one is asked.
        sockmsg_client_close(directory.client);
        directory.client = nullptr;
    }
    return sockmsg_client_connect(plat_socket_path(), nullptr, nullptr, nullptr, nullptr, &directory.client) == 0
               ? 0
               : DGS_ERR_NO_DAEMON;
}

zerrno qsm_lookup_ipc_service(const qsm_lookup_request_type *request, qsm_reply_type *reply, zerrno *status,
                              uint32_t lists, qsm_service_info_type ***list, uint32_t *count)
{
    if (request == nullptr || status == nullptr || list == nullptr || count == nullptr || lists != 1 ||
        request->type != QSM_LOOKUP_IPC_SERVICE || request->kind != QSM_KIND_IPC_ENDPOINT)
        return DGS_ERR_INVALID;
    *list = nullptr;
    *count = 0;
    const size_t n = strnlen(request->name, sizeof request->name);
    if (n == 0 || n > QSM_NAME_MAX)
        return DGS_ERR_INVALID;
    std::vector<uint8_t> answer;
    uint32_t st = 0;
    {
        std::lock_guard g(directory.lock);
        if (directory.client == nullptr)
            return DGS_ERR_NO_DAEMON;
        if (sockmsg_client_call(directory.client, DGS_SERVICE_ID, DGS_WIRE_LOOKUP, request->name,
                                static_cast<uint32_t>(n), &st, &answer) != 0)
            return DGS_ERR_NO_DAEMON;
    }
    *status = st;
    if (st != 0)
        return 0;
    // The answer is the daemon's: every length is checked before it is read.
    if (answer.size() < 4)
        return DGS_ERR_INVALID;
    const uint32_t total = get32(answer.data());
    std::vector<qsm_service_info_type> entries;
    size_t at = 4;
    const auto text_at = [&](char *to, size_t room) {
        if (at >= answer.size() || at + 1 + answer[at] > answer.size())
            return false;
        const size_t len = answer[at] < room - 1 ? answer[at] : room - 1;
        std::memcpy(to, answer.data() + at + 1, len);
        to[len] = '\0';
        at += 1 + answer[at];
        return true;
    };
    for (uint32_t i = 0; i < total; ++i) {
        qsm_service_info_type e{};
        if (at + 8 > answer.size())
            return DGS_ERR_INVALID;
        e.jid = get32(answer.data() + at);
        e.pid = static_cast<int32_t>(get32(answer.data() + at + 4));
        at += 8;
        if (!text_at(e.pname, sizeof e.pname) || !text_at(e.service, sizeof e.service))
            return DGS_ERR_INVALID;
        if (at >= answer.size() || answer[at] > QSM_ENDP_MAX || at + 1 + answer[at] > answer.size())
            return DGS_ERR_INVALID;
        e.endp_size = answer[at];
        std::memcpy(e.endp, answer.data() + at + 1, e.endp_size);
        at += 1 + e.endp_size;
        entries.push_back(e);
    }
    if (reply != nullptr)
        reply->count = total;
    *count = total;
    if (total == 0)
        return 0;
    // One entry more, null, ends the list for qsm_free_service_info.
    auto **out = static_cast<qsm_service_info_type **>(std::calloc(total + 1, sizeof(qsm_service_info_type *)));
    if (out == nullptr)
        return DGS_ERR_INVALID;
    for (uint32_t i = 0; i < total; ++i) {
        out[i] = static_cast<qsm_service_info_type *>(std::malloc(sizeof(qsm_service_info_type)));
        if (out[i] == nullptr) {
            qsm_free_service_info(out, 1);
            *count = 0;
            return DGS_ERR_INVALID;
        }
        *out[i] = entries[i];
    }
    *list = out;
    return 0;
}

zerrno qsm_free_service_info(qsm_service_info_type **list, uint32_t lists)
{
    if (list == nullptr || lists != 1)
        return DGS_ERR_INVALID;
    for (size_t i = 0; list[i] != nullptr; ++i)
        std::free(list[i]);
    std::free(list);
    return 0;
}

// ---- Group services ----

zerrno dgs_bind(event_mgr_type *evm, dgs_msg_fn callback, const char *name, uint32_t flags, uint32_t reserved,
                void *context, dgs_bind_type **bind)
{
    if (name == nullptr || bind == nullptr || reserved != 0 || (flags & ~DGS_BIND_CLIENT) != 0)
        return DGS_ERR_INVALID;
    const size_t n = strnlen(name, QSM_NAME_MAX + 1);
    if (n == 0 || n > QSM_NAME_MAX)
        return DGS_ERR_INVALID;
    auto *b = new dgs_bind_type;
    b->name.assign(name, n);
    b->callback = callback;
    b->context = context;
    trace(false, DGS_TRACE_BIND, {text(b->name)});
    if (sockmsg_client_connect(plat_socket_path(), evm, on_bind_notice, nullptr, b, &b->client) != 0) {
        trace(true, DGS_TRACE_ERR_ERROR, {text("dgs_bind"), __LINE__, DGS_ERR_NO_DAEMON});
        delete b;
        return DGS_ERR_NO_DAEMON;
    }
    std::string pname = process_name();
    if (pname.size() > QSM_PNAME_MAX)
        pname.resize(QSM_PNAME_MAX);
    std::vector<uint8_t> req;
    put32(req, flags);
    req.push_back(static_cast<uint8_t>(pname.size()));
    req.insert(req.end(), pname.begin(), pname.end());
    req.insert(req.end(), b->name.begin(), b->name.end());
    uint32_t status = 0;
    std::vector<uint8_t> reply;
    zerrno rc = sockmsg_client_call(b->client, DGS_SERVICE_ID, DGS_WIRE_BIND, req.data(),
                                    static_cast<uint32_t>(req.size()), &status, &reply);
    if (rc != 0)
        rc = DGS_ERR_NO_DAEMON;
    else if (status != 0)
        rc = status;
    else if (reply.size() != DGS_ENDP_SIZE || get32(reply.data()) != DGS_ENDP_MAGIC)
        rc = DGS_ERR_INVALID;
    if (rc != 0) {
        trace(true, DGS_TRACE_ERR_ERROR, {text("dgs_bind"), __LINE__, rc});
        sockmsg_client_close(b->client);
        delete b;
        return rc;
    }
    b->node = get32(reply.data() + 4);
    b->id = get64(reply.data() + 8);
    // A bind has no ports of its own here: the daemon carries its messages.
    trace(false, DGS_TRACE_BIND_CREATED, {text(b->name), b->node, b->id, 0, 0});
    *bind = b;
    return 0;
}

void dgs_unbind(dgs_bind_type *bind)
{
    if (bind == nullptr)
        return;
    for (dgs_handle_type *h : bind->handles) {
        trace(false, DGS_TRACE_DESTROY, {text(bind->name), h->node, h->id, 0});
        delete h;
    }
    trace(false, DGS_TRACE_UNBIND, {text(bind->name), bind->node, bind->id, 0});
    sockmsg_client_close(bind->client);
    delete bind;
}

uint32_t dgs_bind_endp(const dgs_bind_type *bind, uint8_t *endp, uint32_t size)
{
    if (bind == nullptr || endp == nullptr || size < DGS_ENDP_SIZE)
        return 0;
    std::vector<uint8_t> a;
    put32(a, DGS_ENDP_MAGIC);
    put32(a, bind->node);
    put64(a, bind->id);
    std::memcpy(endp, a.data(), a.size());
    return DGS_ENDP_SIZE;
}

zerrno dgs_endp_to_hdl(dgs_bind_type *bind, const void *endp, uint32_t size, dgs_handle_type **handle)
{
    if (bind == nullptr || handle == nullptr || (endp == nullptr && size != 0))
        return DGS_ERR_INVALID;
    const auto *p = static_cast<const uint8_t *>(endp);
    if (size < DGS_ENDP_SIZE) {
        trace(true, DGS_TRACE_ERR_ENDP_MISSING_ARGS, {});
        return DGS_ERR_INVALID;
    }
    if (get32(p) != DGS_ENDP_MAGIC) {
        trace(true, DGS_TRACE_ERR_ENDP_UNDECODED, {get64(p)});
        return DGS_ERR_INVALID;
    }
    auto *h = new dgs_handle_type{bind, get32(p + 4), get64(p + 8)};
    bind->handles.push_back(h);
    trace(false, DGS_TRACE_ENDP_TO_HDL, {text(bind->name), h->node, bind->node, bind->id, h->node, h->id, 1});
    *handle = h;
    return 0;
}

zerrno dgs_send_mtype(dgs_handle_type *handle, const dgs_buffer_type *buffers, uint32_t count, uint32_t mtype,
                      uint32_t flags)
{
    if (handle == nullptr || (buffers == nullptr && count != 0))
        return DGS_ERR_INVALID;
    std::vector<uint8_t> req;
    put64(req, handle->id);
    put32(req, mtype);
    put32(req, flags);
    for (uint32_t i = 0; i < count; ++i) {
        if (buffers[i].length > DGS_MAX_MSG || req.size() - 16 + buffers[i].length > DGS_MAX_MSG)
            return DGS_ERR_TOO_BIG;
        const auto *d = static_cast<const uint8_t *>(buffers[i].data);
        if (d == nullptr && buffers[i].length != 0)
            return DGS_ERR_INVALID;
        req.insert(req.end(), d, d + buffers[i].length);
    }
    uint32_t status = 0;
    zerrno rc = sockmsg_client_call(handle->bind->client, DGS_SERVICE_ID, DGS_WIRE_SEND, req.data(),
                                    static_cast<uint32_t>(req.size()), &status, nullptr);
    rc = rc != 0 ? DGS_ERR_NO_DAEMON : status;
    if (rc != 0)
        trace(true, DGS_TRACE_ERR_ERROR, {text("dgs_send_mtype"), __LINE__, rc});
    return rc;
}
