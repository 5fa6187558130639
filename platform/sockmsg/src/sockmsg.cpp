// Framed messages over a Unix-domain stream socket.
//
// Each server and each client has one I/O thread that waits on its sockets with poll and hands
// whole, checked frames to the owning event manager through a queue (one posted event per frame,
// so the manager sees them in arrival order). Output is written by whoever sends: the server
// never blocks on a client (what the socket does not take at once is kept and flushed by the I/O
// thread), a client writes its requests whole.
#include "sockmsg.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

constexpr const char *default_socket_path = "/run/ptp/platform.sock";

void put_u16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void put_u32(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

uint16_t get_u16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

uint32_t get_u32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}

zerrno socket_error(int err)
{
    return SOCKMSG_ERR_SOCKET | static_cast<uint32_t>(err & 0x1ff);
}

std::vector<uint8_t> frame_make(const sockmsg_header_type &header, const void *data)
{
    std::vector<uint8_t> frame(SOCKMSG_HEADER_SIZE + header.length);
    sockmsg_header_encode(header, frame.data());
    if (header.length > 0)
        memcpy(frame.data() + SOCKMSG_HEADER_SIZE, data, header.length);
    return frame;
}

bool address_make(const char *path, sockaddr_un *addr)
{
    memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    const size_t len = strlen(path);
    if (len == 0 || len >= sizeof addr->sun_path)
        return false;
    memcpy(addr->sun_path, path, len);
    return true;
}

using steady = std::chrono::steady_clock;

std::atomic<uint32_t> timeout_override{0};

// Writes everything, waiting until the deadline when the socket is full (the client side only).
// A frame cut short cannot be finished by anyone else: the connection is shut down then.
zerrno write_all(int fd, const uint8_t *data, size_t size, steady::time_point deadline)
{
    bool started = false;
    while (size > 0) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN)
                return SOCKMSG_ERR_CLOSED;
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - steady::now()).count();
            if (left <= 0) {
                if (started)
                    shutdown(fd, SHUT_RDWR);
                return SOCKMSG_ERR_TIMEOUT;
            }
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, static_cast<int>(left));
            continue;
        }
        started = true;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return ZERR_OK;
}

void wake(int fd)
{
    const uint64_t one = 1;
    ssize_t n;
    do
        n = write(fd, &one, sizeof one);
    while (n < 0 && errno == EINTR);
}

void drain(int fd)
{
    uint64_t value;
    ssize_t n;
    do
        n = read(fd, &value, sizeof value);
    while (n < 0 && errno == EINTR);
}

// Cuts the whole frames off the front of a receive buffer. Returns false on a frame that is not
// ours (its header is in *bad); the rest of the stream cannot be trusted then.
template <typename Fn>
bool frames_take(std::vector<uint8_t> &in, sockmsg_header_type *bad, Fn &&each)
{
    size_t off = 0;
    bool ok = true;
    while (in.size() - off >= SOCKMSG_HEADER_SIZE) {
        sockmsg_header_type header{};
        if (sockmsg_header_decode(in.data() + off, &header) != ZERR_OK) {
            // Keep what identifies the frame, so that the error can name its request.
            bad->id = get_u32(in.data() + off + 12);
            ok = false;
            break;
        }
        if (in.size() - off - SOCKMSG_HEADER_SIZE < header.length)
            break;
        each(header, in.data() + off + SOCKMSG_HEADER_SIZE);
        off += SOCKMSG_HEADER_SIZE + header.length;
    }
    in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(off));
    return ok;
}

// Reads what the socket holds (non-blocking). False at end of stream or on an error.
bool read_available(int fd, std::vector<uint8_t> &in)
{
    uint8_t chunk[65536];
    for (;;) {
        const ssize_t n = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0) {
            in.insert(in.end(), chunk, chunk + n);
            if (static_cast<size_t>(n) < sizeof chunk)
                return true;
            continue;
        }
        if (n == 0)
            return false;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN;
    }
}

// The private directory of the socket: made 0700 when missing; an existing one must be ours and
// closed to everyone else.
zerrno directory_prepare(const char *path)
{
    std::string dir(path);
    const size_t slash = dir.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return ZERR_OK;
    dir.resize(slash);
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return socket_error(errno);
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0)
        return socket_error(errno);
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077) != 0)
        return socket_error(EACCES);
    return ZERR_OK;
}

} // namespace

const char *plat_socket_path()
{
    const char *env = getenv("PTP_PLATFORM_SOCKET");
    return env != nullptr && env[0] != '\0' ? env : default_socket_path;
}

uint32_t sockmsg_timeout_ms()
{
    if (const uint32_t ms = timeout_override.load(); ms > 0)
        return ms;
    const char *env = getenv("PTP_PLATFORM_TIMEOUT_MS");
    if (env != nullptr && env[0] != '\0') {
        char *end = nullptr;
        errno = 0;
        const unsigned long ms = strtoul(env, &end, 10);
        if (errno == 0 && *end == '\0' && ms > 0 && ms <= UINT32_MAX)
            return static_cast<uint32_t>(ms);
    }
    return SOCKMSG_TIMEOUT_MS_DEFAULT;
}

void sockmsg_set_timeout_ms(uint32_t ms)
{
    timeout_override.store(ms);
}

void sockmsg_header_encode(const sockmsg_header_type &header, uint8_t out[SOCKMSG_HEADER_SIZE])
{
    put_u32(out, header.length);
    out[4] = header.kind;
    out[5] = 0;
    put_u16(out + 6, header.service);
    put_u16(out + 8, header.type);
    put_u16(out + 10, 0);
    put_u32(out + 12, header.id);
    put_u32(out + 16, header.status);
}

zerrno sockmsg_header_decode(const uint8_t in[SOCKMSG_HEADER_SIZE], sockmsg_header_type *header)
{
    header->length = get_u32(in);
    header->kind = in[4];
    header->service = get_u16(in + 6);
    header->type = get_u16(in + 8);
    header->id = get_u32(in + 12);
    header->status = get_u32(in + 16);
    if (header->kind < SOCKMSG_REQUEST || header->kind > SOCKMSG_SEND || in[5] != 0 || get_u16(in + 10) != 0 ||
        header->length > SOCKMSG_MAX_PAYLOAD)
        return SOCKMSG_ERR_FRAME;
    return ZERR_OK;
}

// ---------------------------------------------------------------------------------------------
// Server

struct sockmsg_session_type {
    sockmsg_server_type *server = nullptr;
    uint64_t id = 0;
    sockmsg_peer_type peer{};

    std::mutex out_lock; // fd, out, closing
    int fd = -1;
    std::vector<uint8_t> out;
    size_t out_off = 0;

    std::vector<uint8_t> in;          // I/O thread only
    std::map<uint16_t, void *> state; // manager thread only
    bool disconnected = false;        // manager thread only: callbacks have run
};

struct sockmsg_call_type {
    std::shared_ptr<sockmsg_session_type> session;
    uint32_t id;
    uint16_t service;
    uint16_t type;
};

namespace {

struct server_item {
    std::shared_ptr<sockmsg_session_type> session;
    bool disconnect;
    sockmsg_header_type header;
    std::vector<uint8_t> payload;
};

} // namespace

struct sockmsg_server_type {
    event_mgr_type *evm = nullptr;
    std::string path;
    int listen_fd = -1;
    int wake_fd = -1;
    event_async_ctx_type async{};
    std::thread io;

    std::mutex lock; // everything below
    bool stopping = false;
    std::map<uint64_t, std::shared_ptr<sockmsg_session_type>> sessions;
    std::map<uint16_t, const sockmsg_service_type *> services;
    std::deque<server_item> queue;
    uint64_t next_session = 1;
};

namespace {

// Queues bytes for a session and writes what the socket takes now.
zerrno session_write(sockmsg_session_type *s, std::vector<uint8_t> frame)
{
    bool need_flush = false;
    {
        std::lock_guard<std::mutex> guard(s->out_lock);
        if (s->fd < 0)
            return SOCKMSG_ERR_GONE;
        size_t done = 0;
        if (s->out.size() == s->out_off) {
            s->out.clear();
            s->out_off = 0;
            while (done < frame.size()) {
                const ssize_t n = send(s->fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n < 0) {
                    if (errno == EINTR)
                        continue;
                    break; // EAGAIN, or an error the I/O thread will see
                }
                done += static_cast<size_t>(n);
            }
        }
        if (done < frame.size()) {
            s->out.insert(s->out.end(), frame.begin() + static_cast<std::ptrdiff_t>(done), frame.end());
            if (s->out.size() - s->out_off > SOCKMSG_MAX_PENDING_OUTPUT)
                shutdown(s->fd, SHUT_RDWR); // it does not read: the I/O thread drops it
            need_flush = true;
        }
    }
    if (need_flush)
        wake(s->server->wake_fd);
    return ZERR_OK;
}

void session_error(sockmsg_session_type *s, uint32_t id, zerrno err)
{
    sockmsg_header_type h{0, SOCKMSG_REPLY, 0, 0, id, err};
    session_write(s, frame_make(h, nullptr));
}

void server_post(sockmsg_server_type *srv, server_item item)
{
    std::lock_guard<std::mutex> guard(srv->lock);
    srv->queue.push_back(std::move(item));
    event_send_async(srv->async.coid, srv->async.code, 0);
}

// I/O thread: the session is gone; its handlers and disconnect run on the manager.
void session_close(sockmsg_server_type *srv, const std::shared_ptr<sockmsg_session_type> &s)
{
    {
        std::lock_guard<std::mutex> guard(s->out_lock);
        if (s->fd >= 0)
            close(s->fd);
        s->fd = -1;
        s->out.clear();
        s->out_off = 0;
    }
    server_post(srv, server_item{s, true, {}, {}});
}

void session_flush(sockmsg_session_type *s)
{
    std::lock_guard<std::mutex> guard(s->out_lock);
    while (s->fd >= 0 && s->out_off < s->out.size()) {
        const ssize_t n =
            send(s->fd, s->out.data() + s->out_off, s->out.size() - s->out_off, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        s->out_off += static_cast<size_t>(n);
    }
    if (s->out_off == s->out.size()) {
        s->out.clear();
        s->out_off = 0;
    }
}

// Reads a session's input; false when the session must go.
bool session_input(sockmsg_server_type *srv, const std::shared_ptr<sockmsg_session_type> &s)
{
    int fd;
    {
        std::lock_guard<std::mutex> guard(s->out_lock);
        fd = s->fd;
    }
    const bool open = read_available(fd, s->in);
    sockmsg_header_type bad{};
    const bool ok = frames_take(s->in, &bad, [&](const sockmsg_header_type &h, const uint8_t *payload) {
        if (h.kind != SOCKMSG_REQUEST && h.kind != SOCKMSG_SEND) {
            session_error(s.get(), h.id, SOCKMSG_ERR_FRAME);
            return;
        }
        server_post(srv, server_item{s, false, h, std::vector<uint8_t>(payload, payload + h.length)});
    });
    if (!ok) {
        // A stream that lost its framing cannot be read on: say why, then drop the client.
        session_error(s.get(), bad.id, SOCKMSG_ERR_FRAME);
        session_flush(s.get());
        return false;
    }
    return open;
}

void server_accept(sockmsg_server_type *srv, std::vector<std::shared_ptr<sockmsg_session_type>> &live)
{
    for (;;) {
        const int fd = accept4(srv->listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        auto s = std::make_shared<sockmsg_session_type>();
        s->server = srv;
        s->fd = fd;
        ucred cred{};
        socklen_t len = sizeof cred;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0)
            s->peer = {cred.pid, cred.uid, cred.gid};
        {
            std::lock_guard<std::mutex> guard(srv->lock);
            s->id = srv->next_session++;
            srv->sessions[s->id] = s;
        }
        live.push_back(std::move(s));
    }
}

void server_io(sockmsg_server_type *srv)
{
    std::vector<std::shared_ptr<sockmsg_session_type>> live;
    std::vector<pollfd> fds;
    for (;;) {
        fds.clear();
        fds.push_back({srv->wake_fd, POLLIN, 0});
        fds.push_back({srv->listen_fd, POLLIN, 0});
        for (const auto &s : live) {
            std::lock_guard<std::mutex> guard(s->out_lock);
            fds.push_back({s->fd, static_cast<short>(POLLIN | (s->out_off < s->out.size() ? POLLOUT : 0)), 0});
        }
        if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            return;
        if (fds[0].revents != 0) {
            drain(srv->wake_fd);
            std::lock_guard<std::mutex> guard(srv->lock);
            if (srv->stopping)
                break;
        }
        std::vector<std::shared_ptr<sockmsg_session_type>> keep;
        for (size_t i = 0; i < live.size(); ++i) {
            const short ev = fds[i + 2].revents;
            bool alive = true;
            if (ev & POLLOUT)
                session_flush(live[i].get());
            if (ev & (POLLIN | POLLHUP | POLLERR))
                alive = session_input(srv, live[i]);
            if (alive)
                keep.push_back(live[i]);
            else
                session_close(srv, live[i]);
        }
        live.swap(keep);
        if (fds[1].revents & POLLIN)
            server_accept(srv, live);
    }
    for (const auto &s : live) {
        std::lock_guard<std::mutex> guard(s->out_lock);
        if (s->fd >= 0)
            close(s->fd);
        s->fd = -1;
    }
}

void session_disconnect(sockmsg_server_type *srv, sockmsg_session_type *s)
{
    if (s->disconnected)
        return;
    s->disconnected = true;
    std::map<uint16_t, const sockmsg_service_type *> services;
    {
        std::lock_guard<std::mutex> guard(srv->lock);
        services = srv->services;
        srv->sessions.erase(s->id);
    }
    for (const auto &[id, svc] : services) {
        if (svc->disconnect == nullptr)
            continue;
        auto it = s->state.find(id);
        svc->disconnect(s, it == s->state.end() ? nullptr : it->second, svc->context);
    }
    s->state.clear();
}

// Manager thread: one queued frame or disconnect.
int server_event(const event_async_ctx_type *, int32_t, void *context)
{
    auto *srv = static_cast<sockmsg_server_type *>(context);
    server_item item;
    const sockmsg_service_type *svc = nullptr;
    {
        std::lock_guard<std::mutex> guard(srv->lock);
        if (srv->queue.empty())
            return 0;
        item = std::move(srv->queue.front());
        srv->queue.pop_front();
        if (!item.disconnect) {
            auto it = srv->services.find(item.header.service);
            if (it != srv->services.end())
                svc = it->second;
        }
    }
    sockmsg_session_type *s = item.session.get();
    if (item.disconnect) {
        session_disconnect(srv, s);
        return 0;
    }
    if (s->disconnected)
        return 0;
    sockmsg_handler_fn handler = nullptr;
    for (uint32_t i = 0; svc != nullptr && i < svc->row_count; ++i)
        if (svc->rows[i].type == item.header.type)
            handler = svc->rows[i].handler;
    if (handler == nullptr) {
        session_error(s, item.header.id, SOCKMSG_ERR_NO_SERVICE);
        return 0;
    }
    sockmsg_call_type *call = nullptr;
    if (item.header.kind == SOCKMSG_REQUEST)
        call = new sockmsg_call_type{item.session, item.header.id, item.header.service, item.header.type};
    handler(s, call, item.payload.data(), item.header.length, svc->context);
    return 0;
}

} // namespace

zerrno sockmsg_server_create(event_mgr_type *evm, const char *path, sockmsg_server_type **server)
{
    if (evm == nullptr || path == nullptr || server == nullptr)
        return SOCKMSG_ERR_INVALID;
    sockaddr_un addr{};
    if (!address_make(path, &addr))
        return SOCKMSG_ERR_INVALID;
    if (zerrno err = directory_prepare(path); err != ZERR_OK)
        return err;

    // A socket file nobody answers on is left from a daemon that died: replace it.
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return socket_error(errno);
    const bool answered = connect(probe, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    close(probe);
    if (answered)
        return SOCKMSG_ERR_IN_USE;
    unlink(path);

    auto srv = std::make_unique<sockmsg_server_type>();
    srv->evm = evm;
    srv->path = path;
    srv->listen_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (srv->listen_fd < 0)
        return socket_error(errno);
    fchmod(srv->listen_fd, 0600);
    if (bind(srv->listen_fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || chmod(path, 0600) != 0 ||
        listen(srv->listen_fd, 128) != 0) {
        const int err = errno;
        close(srv->listen_fd);
        return socket_error(err);
    }
    srv->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (srv->wake_fd < 0 || event_async_attach_event(evm, 0, server_event, srv.get(), &srv->async) < 0) {
        const int err = errno;
        if (srv->wake_fd >= 0)
            close(srv->wake_fd);
        close(srv->listen_fd);
        unlink(path);
        return socket_error(err);
    }
    srv->io = std::thread(server_io, srv.get());
    *server = srv.release();
    return ZERR_OK;
}

zerrno sockmsg_server_register(sockmsg_server_type *server, const sockmsg_service_type *service)
{
    if (server == nullptr || service == nullptr || (service->rows == nullptr && service->row_count > 0))
        return SOCKMSG_ERR_INVALID;
    std::lock_guard<std::mutex> guard(server->lock);
    if (!server->services.emplace(service->id, service).second)
        return SOCKMSG_ERR_INVALID;
    return ZERR_OK;
}

void sockmsg_server_destroy(sockmsg_server_type *server)
{
    if (server == nullptr)
        return;
    {
        std::lock_guard<std::mutex> guard(server->lock);
        server->stopping = true;
    }
    wake(server->wake_fd);
    server->io.join();
    event_async_attach(server->evm, server->async.code, nullptr, nullptr);
    std::map<uint64_t, std::shared_ptr<sockmsg_session_type>> sessions;
    {
        std::lock_guard<std::mutex> guard(server->lock);
        sessions = server->sessions;
        server->queue.clear();
    }
    for (auto &[id, s] : sessions)
        session_disconnect(server, s.get());
    close(server->listen_fd);
    close(server->wake_fd);
    unlink(server->path.c_str());
    delete server;
}

uint32_t sockmsg_server_sessions(sockmsg_server_type *server)
{
    std::lock_guard<std::mutex> guard(server->lock);
    return static_cast<uint32_t>(server->sessions.size());
}

const sockmsg_peer_type *sockmsg_session_peer(const sockmsg_session_type *session)
{
    return &session->peer;
}

uint64_t sockmsg_session_id(const sockmsg_session_type *session)
{
    return session->id;
}

void *sockmsg_session_state(const sockmsg_session_type *session, uint16_t service)
{
    auto it = session->state.find(service);
    return it == session->state.end() ? nullptr : it->second;
}

void sockmsg_session_set_state(sockmsg_session_type *session, uint16_t service, void *state)
{
    session->state[service] = state;
}

sockmsg_session_type *sockmsg_call_session(const sockmsg_call_type *call)
{
    return call->session.get();
}

zerrno sockmsg_reply(sockmsg_call_type *call, uint32_t status, const void *data, uint32_t length)
{
    if (call == nullptr)
        return SOCKMSG_ERR_INVALID;
    std::unique_ptr<sockmsg_call_type> owned(call);
    if (length > SOCKMSG_MAX_PAYLOAD || (data == nullptr && length > 0))
        return SOCKMSG_ERR_INVALID;
    sockmsg_header_type h{length, SOCKMSG_REPLY, call->service, call->type, call->id, status};
    return session_write(call->session.get(), frame_make(h, data));
}

zerrno sockmsg_notify(sockmsg_session_type *session, uint16_t service, uint16_t type, const void *data, uint32_t length)
{
    if (session == nullptr || length > SOCKMSG_MAX_PAYLOAD || (data == nullptr && length > 0))
        return SOCKMSG_ERR_INVALID;
    sockmsg_header_type h{length, SOCKMSG_NOTICE, service, type, 0, 0};
    return session_write(session, frame_make(h, data));
}

// ---------------------------------------------------------------------------------------------
// Client

namespace {

struct client_waiter {
    bool done = false;
    bool closed = false;
    uint32_t status = 0;
    std::vector<uint8_t> reply;
};

struct client_pending {
    sockmsg_reply_fn reply = nullptr; // asynchronous
    void *context = nullptr;
    client_waiter *waiter = nullptr; // blocking
};

struct client_item {
    enum {
        notice,
        reply,
        closed
    } what;
    sockmsg_header_type header;
    std::vector<uint8_t> payload;
    sockmsg_reply_fn reply_fn;
    void *reply_context;
};

} // namespace

struct sockmsg_client_type {
    int fd = -1;
    int wake_fd = -1;
    event_mgr_type *evm = nullptr;
    sockmsg_notice_fn notice = nullptr;
    sockmsg_closed_fn closed = nullptr;
    void *context = nullptr;
    event_async_ctx_type async{};
    std::thread reader;

    std::mutex write_lock;

    std::mutex lock; // everything below
    std::condition_variable cv;
    bool open = true;
    bool closing = false;
    uint32_t next_id = 1;
    std::map<uint32_t, client_pending> pending;
    std::deque<client_item> queue;
};

namespace {

void client_post_locked(sockmsg_client_type *c, client_item item)
{
    if (c->evm == nullptr || c->closing)
        return;
    c->queue.push_back(std::move(item));
    if (event_send_async(c->async.coid, c->async.code, 0) != 0 && errno == ESRCH) {
        // The manager was destroyed with the client still open: nothing of this connection can
        // run any more, so close it and let the server forget what this client held (a
        // registration a commit would wait for, say).
        c->queue.clear();
        shutdown(c->fd, SHUT_RDWR);
    }
}

void client_frame(sockmsg_client_type *c, const sockmsg_header_type &h, const uint8_t *payload)
{
    std::lock_guard<std::mutex> guard(c->lock);
    if (h.kind == SOCKMSG_NOTICE) {
        if (c->notice != nullptr)
            client_post_locked(c, client_item{client_item::notice, h, std::vector<uint8_t>(payload, payload + h.length),
                                              nullptr, nullptr});
        return;
    }
    if (h.kind != SOCKMSG_REPLY)
        return;
    auto it = c->pending.find(h.id);
    if (it == c->pending.end())
        return; // an error about a send: nobody waits for it
    client_pending p = it->second;
    c->pending.erase(it);
    if (p.waiter != nullptr) {
        p.waiter->done = true;
        p.waiter->status = h.status;
        p.waiter->reply.assign(payload, payload + h.length);
        c->cv.notify_all();
    } else if (p.reply != nullptr) {
        client_post_locked(c, client_item{client_item::reply, h, std::vector<uint8_t>(payload, payload + h.length),
                                          p.reply, p.context});
    }
}

void client_read_loop(sockmsg_client_type *c)
{
    std::vector<uint8_t> in;
    for (;;) {
        pollfd fds[2] = {{c->fd, POLLIN, 0}, {c->wake_fd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents != 0)
            break;
        const bool open = read_available(c->fd, in);
        sockmsg_header_type bad{};
        const bool ok = frames_take(
            in, &bad, [&](const sockmsg_header_type &h, const uint8_t *payload) { client_frame(c, h, payload); });
        if (!open || !ok)
            break;
    }
    std::lock_guard<std::mutex> guard(c->lock);
    c->open = false;
    for (auto &[id, p] : c->pending) {
        if (p.waiter != nullptr) {
            p.waiter->done = true;
            p.waiter->closed = true;
        } else if (p.reply != nullptr) {
            sockmsg_header_type h{0, SOCKMSG_REPLY, 0, 0, id, SOCKMSG_ERR_CLOSED};
            client_post_locked(c, client_item{client_item::reply, h, {}, p.reply, p.context});
        }
    }
    c->pending.clear();
    c->cv.notify_all();
    if (c->closed != nullptr)
        client_post_locked(c, client_item{client_item::closed, {}, {}, nullptr, nullptr});
}

int client_event(const event_async_ctx_type *, int32_t, void *context)
{
    auto *c = static_cast<sockmsg_client_type *>(context);
    client_item item;
    {
        std::lock_guard<std::mutex> guard(c->lock);
        if (c->queue.empty())
            return 0;
        item = std::move(c->queue.front());
        c->queue.pop_front();
    }
    switch (item.what) {
    case client_item::notice:
        c->notice(c, item.header.service, item.header.type, item.payload.data(), item.header.length, c->context);
        break;
    case client_item::reply:
        item.reply_fn(c, item.header.status, item.payload.data(), item.header.length, item.reply_context);
        break;
    case client_item::closed: c->closed(c, c->context); break;
    }
    return 0;
}

zerrno client_write(sockmsg_client_type *c, uint8_t kind, uint16_t service, uint16_t type, const void *data,
                    uint32_t length, uint32_t id, steady::time_point deadline)
{
    sockmsg_header_type h{length, kind, service, type, id, 0};
    std::vector<uint8_t> frame = frame_make(h, data);
    std::lock_guard<std::mutex> guard(c->write_lock);
    return write_all(c->fd, frame.data(), frame.size(), deadline);
}

steady::time_point deadline_from_now()
{
    return steady::now() + std::chrono::milliseconds(sockmsg_timeout_ms());
}

bool payload_ok(const void *data, uint32_t length)
{
    return length <= SOCKMSG_MAX_PAYLOAD && (data != nullptr || length == 0);
}

} // namespace

zerrno sockmsg_client_connect(const char *path, event_mgr_type *evm, sockmsg_notice_fn notice, sockmsg_closed_fn closed,
                              void *context, sockmsg_client_type **client)
{
    sockaddr_un addr{};
    if (path == nullptr || client == nullptr || !address_make(path, &addr))
        return SOCKMSG_ERR_INVALID;
    auto c = std::make_unique<sockmsg_client_type>();
    c->evm = evm;
    c->notice = notice;
    c->closed = closed;
    c->context = context;
    c->fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (c->fd < 0)
        return socket_error(errno);
    if (connect(c->fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        const int err = errno;
        close(c->fd);
        return socket_error(err);
    }
    c->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (c->wake_fd < 0 || (evm != nullptr && event_async_attach_event(evm, 0, client_event, c.get(), &c->async) < 0)) {
        const int err = errno;
        if (c->wake_fd >= 0)
            close(c->wake_fd);
        close(c->fd);
        return socket_error(err);
    }
    c->reader = std::thread(client_read_loop, c.get());
    *client = c.release();
    return ZERR_OK;
}

zerrno sockmsg_client_request(sockmsg_client_type *client, uint16_t service, uint16_t type, const void *data,
                              uint32_t length, sockmsg_reply_fn reply, void *context)
{
    if (client == nullptr || reply == nullptr || client->evm == nullptr || !payload_ok(data, length))
        return SOCKMSG_ERR_INVALID;
    uint32_t id;
    {
        std::lock_guard<std::mutex> guard(client->lock);
        if (!client->open)
            return SOCKMSG_ERR_CLOSED;
        id = client->next_id++;
        if (id == 0)
            id = client->next_id++;
        client->pending[id] = client_pending{reply, context, nullptr};
    }
    const zerrno err = client_write(client, SOCKMSG_REQUEST, service, type, data, length, id, deadline_from_now());
    if (err != ZERR_OK) {
        std::lock_guard<std::mutex> guard(client->lock);
        client->pending.erase(id);
    }
    return err;
}

zerrno sockmsg_client_call(sockmsg_client_type *client, uint16_t service, uint16_t type, const void *data,
                           uint32_t length, uint32_t *status, std::vector<uint8_t> *reply)
{
    if (client == nullptr || status == nullptr || !payload_ok(data, length))
        return SOCKMSG_ERR_INVALID;
    const steady::time_point deadline = deadline_from_now();
    client_waiter waiter;
    uint32_t id;
    {
        std::lock_guard<std::mutex> guard(client->lock);
        if (!client->open)
            return SOCKMSG_ERR_CLOSED;
        id = client->next_id++;
        if (id == 0)
            id = client->next_id++;
        client->pending[id] = client_pending{nullptr, nullptr, &waiter};
    }
    zerrno err = client_write(client, SOCKMSG_REQUEST, service, type, data, length, id, deadline);
    std::unique_lock<std::mutex> lock(client->lock);
    if (err != ZERR_OK) {
        client->pending.erase(id);
        return err;
    }
    if (!client->cv.wait_until(lock, deadline, [&waiter] { return waiter.done; })) {
        // Forgotten here, so that a late reply finds nobody waiting and is dropped.
        client->pending.erase(id);
        return SOCKMSG_ERR_TIMEOUT;
    }
    if (waiter.closed)
        return SOCKMSG_ERR_CLOSED;
    *status = waiter.status;
    if (reply != nullptr)
        *reply = std::move(waiter.reply);
    return ZERR_OK;
}

zerrno sockmsg_client_send(sockmsg_client_type *client, uint16_t service, uint16_t type, const void *data,
                           uint32_t length)
{
    if (client == nullptr || !payload_ok(data, length))
        return SOCKMSG_ERR_INVALID;
    {
        std::lock_guard<std::mutex> guard(client->lock);
        if (!client->open)
            return SOCKMSG_ERR_CLOSED;
    }
    return client_write(client, SOCKMSG_SEND, service, type, data, length, 0, deadline_from_now());
}

bool sockmsg_client_is_open(const sockmsg_client_type *client)
{
    auto *c = const_cast<sockmsg_client_type *>(client);
    std::lock_guard<std::mutex> guard(c->lock);
    return c->open;
}

void sockmsg_client_close(sockmsg_client_type *client)
{
    if (client == nullptr)
        return;
    {
        std::lock_guard<std::mutex> guard(client->lock);
        client->closing = true;
        client->queue.clear();
    }
    wake(client->wake_fd);
    client->reader.join();
    // By coid: the manager may be gone, and its address a new manager's.
    if (client->evm != nullptr)
        event_async_detach(client->async.coid, client->async.code);
    close(client->fd);
    close(client->wake_fd);
    delete client;
}
