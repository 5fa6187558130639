// Event managers. One process-wide lock guards every manager, queue, channel and waiting sender:
// the state is small, the critical sections are short, and one lock makes the virtual-time
// settling (which must see all managers at once) simple and race-free.

#include "evm.h"
#include "evm_alarm.h"
#include "evm_fd.h"
#include "evm_test.h"
#include "plat_clock.h"

#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

enum class thr_state {
    running,
    waiting,
    sending
};

// What the settling of virtual time needs to know of a thread.
struct thr_rec {
    std::thread::id tid;
    thr_state state = thr_state::running;
    bool server = false; // has blocked in event_block: the settling waits for it
    event_mgr_type *waiting_on = nullptr;
};

enum class ev_kind {
    async,
    message,
    alarm,
    conn_notify,
    conn_open,
    fd_ready
};

using alarm_key = std::pair<uint64_t, uint64_t>; // deadline, sequence

struct client_rec;

} // namespace

struct event_type {
    ev_kind kind;
    event_mgr_type *evm;
    int32_t code = 0;
    int32_t value = 0;
    msg_client_type client = 0;
    evm_alarm_type *alarm = nullptr;
    event_conn_type *conn = nullptr;
    uint32_t conn_event = 0;
    uint64_t fd_id = 0;
    bool cancelled = false;
};

struct evm_alarm_type {
    event_mgr_type *evm;
    evm_alarm_fn fn;
    void *context;
    uint64_t deadline = EVM_ALARM_NEVER;
    alarm_key key{EVM_ALARM_NEVER, 0};
    event_type *queued = nullptr; // the queued firing, if any
};

struct event_conn_type {
    event_mgr_type *evm;
    event_conn_open_fn open_cb;
    void *context;
    uint32_t flags;
    event_conn_notify_fn notify_cb = nullptr;
    void *notify_context = nullptr;
    uint32_t notify_mask = 0;
    enum class st {
        closed,
        opening,
        up,
        retrying
    } state = st::closed;
    int32_t id = -1;
    evm_alarm_type *retry_alarm = nullptr;
};

namespace {

struct async_rec {
    event_async_handler_fn handler;
    void *context;
    event_async_ctx_type record;
};

struct msg_handler_rec {
    event_msg_handler_fn handler;
    void *context;
};

// A descriptor the manager waits on. Known to epoll by its id, never by its address: the owner
// waits without the lock, and a descriptor detached meanwhile must not be reached.
struct fd_rec {
    int fd;
    evm_fd_fn handler;
    void *context;
    event_type *queued = nullptr; // its readiness, queued once until dispatched
    uint64_t parked_until = 0;    // parked (evm_fd_park): not waited on until then, monotonic ns
};

// The epoll id of the manager's own wake-up descriptor; descriptors are numbered from 1.
constexpr uint64_t WAKE_ID = 0;

} // namespace

struct event_mgr_type {
    int32_t coid;
    std::string name;
    uint32_t flags;
    std::thread::id creator;
    thr_rec *owner = nullptr;
    std::deque<event_type *> queue;
    std::condition_variable cv;
    int wakeups = 0;
    int32_t next_code = 1;
    std::unordered_map<int32_t, async_rec> async;
    std::unordered_map<uint32_t, msg_handler_rec> handlers;
    std::map<alarm_key, evm_alarm_type *> armed;
    std::unordered_set<evm_alarm_type *> alarms;
    std::unordered_set<event_conn_type *> conns;
    // Descriptors: with any attached, the owner waits in epoll (woken through wake_fd) instead of
    // on the condition variable, so that a ready descriptor costs its thread one wake-up.
    int epoll_fd = -1;
    int wake_fd = -1;
    bool in_epoll = false;
    std::unordered_map<uint64_t, fd_rec> fds; // by id
    // Events handed out since the descriptors were last looked at: a manager whose timers are
    // always due (a line card's thousand master sessions) never runs out of queued work, and
    // its descriptors must still get their turn.
    uint32_t taken_since_fd_poll = 0;
    uint32_t parked = 0; // descriptors parked by their handlers
};

namespace {

struct client_rec {
    msg_client_type id;
    event_mgr_type *target;
    std::shared_ptr<std::vector<uint8_t>> msg;
    void *reply;
    size_t reply_size;
    thr_rec *sender;
    std::condition_variable cv;
    bool done = false;
    int32_t status = 0;
    int err = 0;
};

struct globals {
    std::mutex mu;
    std::condition_variable settle_cv;
    std::map<int32_t, event_mgr_type *> managers; // by coid; ordered so settling is repeatable
    std::unordered_set<const event_mgr_type *> live;
    std::map<std::string, event_mgr_type *> channels;
    std::unordered_map<int32_t, int32_t> chans; // channel id -> coid of its manager
    std::unordered_map<msg_client_type, client_rec *> clients;
    std::vector<thr_rec *> threads;
    int32_t next_coid = 1;
    int32_t next_chan = 1;
    msg_client_type next_client = 1;
    uint64_t alarm_seq = 0;
    uint64_t next_fd_id = WAKE_ID + 1;
};

globals &g()
{
    static auto *state = new globals; // never destroyed: threads may outlive static destruction
    return *state;
}

// The calling thread's record, created on first use and dropped when the thread ends.
struct thr_holder {
    thr_rec *rec = nullptr;
    ~thr_holder()
    {
        if (rec == nullptr)
            return;
        std::lock_guard guard(g().mu);
        auto &threads = g().threads;
        threads.erase(std::remove(threads.begin(), threads.end(), rec), threads.end());
        for (auto &[coid, m] : g().managers)
            if (m->owner == rec)
                m->owner = nullptr;
        g().settle_cv.notify_all();
        delete rec;
    }
};
thread_local thr_holder this_thread_rec;

// Lock held.
thr_rec *self_locked()
{
    if (this_thread_rec.rec == nullptr) {
        this_thread_rec.rec = new thr_rec;
        this_thread_rec.rec->tid = std::this_thread::get_id();
        g().threads.push_back(this_thread_rec.rec);
    }
    return this_thread_rec.rec;
}

constexpr uint32_t msg_key(uint16_t code, uint16_t facility)
{
    return static_cast<uint32_t>(code) << 16 | facility;
}

event_mgr_type *manager_locked(int32_t coid)
{
    auto it = g().managers.find(coid);
    return it == g().managers.end() ? nullptr : it->second;
}

bool alive_locked(const event_mgr_type *m)
{
    return m != nullptr && g().live.count(m) != 0;
}

// Wakes the thread waiting on the manager, on its condition variable or in epoll.
void wake_locked(event_mgr_type *m)
{
    m->cv.notify_all();
    if (m->in_epoll) {
        const uint64_t one = 1;
        ssize_t w = write(m->wake_fd, &one, sizeof one);
        (void)w;             // a full counter already wakes it
        m->in_epoll = false; // one write per wait is enough
    }
}

void push_locked(event_mgr_type *m, event_type *ev)
{
    m->queue.push_back(ev);
    wake_locked(m);
}

// Queues the readiness of a descriptor unless it is queued already.
void fd_queue_locked(event_mgr_type *m, uint64_t id, fd_rec &rec)
{
    if (rec.queued != nullptr)
        return;
    auto *ev = new event_type{ev_kind::fd_ready, m};
    ev->fd_id = id;
    rec.queued = ev;
    m->queue.push_back(ev);
}

// Parked descriptors are waited on again and their handlers run: all of them when the thread is
// awake anyway (all), else those whose patience is over by now.
void fd_unpark_locked(event_mgr_type *m, bool all, uint64_t now)
{
    if (m->parked == 0)
        return;
    for (auto &[id, rec] : m->fds) {
        if (rec.parked_until == 0 || (!all && rec.parked_until > now))
            continue;
        rec.parked_until = 0;
        --m->parked;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = id;
        epoll_ctl(m->epoll_fd, EPOLL_CTL_MOD, rec.fd, &ev); // fails only for a descriptor closed under it
        fd_queue_locked(m, id, rec);
    }
}

// The earliest end of a parked descriptor's patience (0: none parked).
uint64_t fd_parked_deadline_locked(const event_mgr_type *m)
{
    uint64_t best = 0;
    if (m->parked == 0)
        return best;
    for (auto &[id, rec] : m->fds)
        if (rec.parked_until != 0 && (best == 0 || rec.parked_until < best))
            best = rec.parked_until;
    return best;
}

// Queues the readiness of every ready descriptor of the manager that is not queued already.
void fd_queue_ready_locked(event_mgr_type *m, const epoll_event *events, int n)
{
    for (int i = 0; i < n; i++) {
        if (events[i].data.u64 == WAKE_ID) {
            uint64_t count = 0;
            ssize_t r = read(m->wake_fd, &count, sizeof count);
            (void)r;
            continue;
        }
        auto it = m->fds.find(events[i].data.u64);
        if (it == m->fds.end())
            continue; // detached while the owner waited
        fd_queue_locked(m, it->first, it->second);
    }
}

constexpr uint32_t FD_POLL_EVERY = 64;

// Without waiting: queues what the manager's descriptors have ready (for the callers that run a
// manager without blocking in event_block).
void fd_poll_locked(event_mgr_type *m)
{
    if (m->fds.empty())
        return;
    fd_unpark_locked(m, true, 0);
    epoll_event events[64];
    const int n = epoll_wait(m->epoll_fd, events, 64, 0);
    if (n > 0)
        fd_queue_ready_locked(m, events, n);
}

void alarm_disarm_locked(evm_alarm_type *a)
{
    if (a->evm != nullptr && a->deadline != EVM_ALARM_NEVER)
        a->evm->armed.erase(a->key);
    a->deadline = EVM_ALARM_NEVER;
}

// Queue the firing of every alarm whose deadline the clock has reached, earliest first.
void collect_due_locked(event_mgr_type *m, uint64_t now)
{
    while (!m->armed.empty() && m->armed.begin()->first.first <= now) {
        evm_alarm_type *a = m->armed.begin()->second;
        alarm_disarm_locked(a);
        if (a->queued != nullptr)
            continue;
        auto *ev = new event_type{ev_kind::alarm, m};
        ev->alarm = a;
        a->queued = ev;
        m->queue.push_back(ev);
    }
}

bool has_work_locked(const event_mgr_type *m, uint64_t now)
{
    return !m->queue.empty() || (!m->armed.empty() && m->armed.begin()->first.first <= now);
}

event_type *take_locked(event_mgr_type *m)
{
    collect_due_locked(m, plat_clock_mono_ns());
    if (m->queue.empty())
        return nullptr;
    event_type *ev = m->queue.front();
    m->queue.pop_front();
    return ev;
}

void complete_client_locked(client_rec *c, int32_t status, int err)
{
    c->done = true;
    c->status = status;
    c->err = err;
    g().clients.erase(c->id);
    if (c->sender != nullptr && c->sender->state == thr_state::sending)
        c->sender->state = thr_state::running;
    c->cv.notify_all();
}

void conn_queue_locked(event_conn_type *conn, ev_kind kind, uint32_t event)
{
    if (conn->evm == nullptr)
        return;
    if (kind == ev_kind::conn_notify && (conn->notify_cb == nullptr || (conn->notify_mask & event) == 0))
        return;
    auto *ev = new event_type{kind, conn->evm};
    ev->conn = conn;
    ev->conn_event = event;
    push_locked(conn->evm, ev);
}

// One open attempt, lock not held. Runs the open callback.
void conn_attempt(event_conn_type *conn)
{
    event_conn_open_fn cb;
    void *ctx;
    {
        std::lock_guard guard(g().mu);
        conn->state = event_conn_type::st::opening;
        cb = conn->open_cb;
        ctx = conn->context;
    }
    int id = cb(conn, ctx);
    std::lock_guard guard(g().mu);
    if (id >= 0) {
        conn->state = event_conn_type::st::up;
        conn->id = id;
        conn_queue_locked(conn, ev_kind::conn_notify, EVENT_CONN_UP);
        return;
    }
    conn->state = event_conn_type::st::retrying;
    conn->id = -1;
    if (conn->retry_alarm != nullptr) {
        // evm_alarm_set takes the lock itself; set the fields directly.
        evm_alarm_type *a = conn->retry_alarm;
        if (a->evm != nullptr) {
            alarm_disarm_locked(a);
            a->deadline = plat_clock_mono_ns() + EVM_CONN_RETRY_MS * 1000000ull;
            a->key = {a->deadline, ++g().alarm_seq};
            a->evm->armed.emplace(a->key, a);
            wake_locked(a->evm);
        }
    }
}

void conn_retry_fired(evm_alarm_type *, void *context)
{
    auto *conn = static_cast<event_conn_type *>(context);
    {
        std::lock_guard guard(g().mu);
        if (conn->state != event_conn_type::st::retrying)
            return;
    }
    conn_attempt(conn);
}

// ---- virtual-time settling -------------------------------------------------------------------

bool runnable_here_locked(const event_mgr_type *m, const thr_rec *self)
{
    if (m->owner == self)
        return true;
    return m->owner == nullptr && m->creator == self->tid;
}

void settle_all()
{
    std::unique_lock lock(g().mu);
    thr_rec *self = self_locked();
    for (;;) {
        const uint64_t now = plat_clock_mono_ns();
        event_type *ev = nullptr;
        for (auto &[coid, m] : g().managers) {
            if (runnable_here_locked(m, self))
                fd_poll_locked(m);
            if (runnable_here_locked(m, self) && has_work_locked(m, now)) {
                ev = take_locked(m);
                if (ev != nullptr)
                    break;
            }
        }
        if (ev != nullptr) {
            lock.unlock();
            zq_event_dispatch(ev);
            lock.lock();
            continue;
        }
        bool busy = false;
        for (thr_rec *t : g().threads)
            if (t != self && t->server && t->state == thr_state::running)
                busy = true;
        for (auto &[coid, m] : g().managers) {
            thr_rec *o = m->owner;
            if (o != nullptr && o != self && o->state == thr_state::waiting && o->waiting_on == m &&
                has_work_locked(m, now)) {
                wake_locked(m);
                busy = true;
            }
        }
        if (!busy)
            return;
        g().settle_cv.wait(lock);
    }
}

bool next_deadline_after(uint64_t after, uint64_t *deadline)
{
    std::lock_guard guard(g().mu);
    bool found = false;
    uint64_t best = 0;
    for (auto &[coid, m] : g().managers) {
        auto it = m->armed.lower_bound(alarm_key{after + 1, 0});
        if (it != m->armed.end() && (!found || it->first.first < best)) {
            best = it->first.first;
            found = true;
        }
    }
    if (found)
        *deadline = best;
    return found;
}

const plat_clock_sched_ops_type sched_ops{next_deadline_after, settle_all};

void register_zerr_table()
{
    static const zerr_info_type rows[] = {
        {1, "Invalid argument to the event manager"},
        {2, "Event manager out of memory"},
        {3, "Event manager or connection no longer exists"},
    };
    static const zerr_data_type table{2, "evm", EVM_ZERR_FACILITY, 3, rows, 0, 0};
    zerr_register(&table);
}

} // namespace

// ---- managers and the loop ---------------------------------------------------------------------

namespace {

// The wait of event_block on a manager with descriptors: epoll on them and on the manager's
// wake-up descriptor, until the earliest alarm (virtual time: until woken). Lock held on entry
// and return, not while waiting.
void wait_in_epoll(event_mgr_type *evm, std::unique_lock<std::mutex> &lock)
{
    timespec timeout{};
    const timespec *wait_for = nullptr; // forever
    // A parked descriptor's patience ends the wait as an alarm would (in virtual time a parked
    // descriptor is waited on again at once: no time passes while the thread waits).
    const uint64_t parked_due = fd_parked_deadline_locked(evm);
    if (plat_clock_is_virtual() && parked_due != 0) {
        fd_unpark_locked(evm, true, 0);
        return;
    }
    if (!plat_clock_is_virtual() && (!evm->armed.empty() || parked_due != 0)) {
        const uint64_t now = plat_clock_mono_ns();
        uint64_t due = evm->armed.empty() ? parked_due : evm->armed.begin()->first.first;
        if (parked_due != 0 && parked_due < due)
            due = parked_due;
        const uint64_t left = due > now ? due - now : 0;
        timeout.tv_sec = static_cast<time_t>(left / 1000000000u);
        timeout.tv_nsec = static_cast<long>(left % 1000000000u);
        wait_for = &timeout;
    }
    const int epoll_fd = evm->epoll_fd;
    evm->in_epoll = true;
    lock.unlock();
    epoll_event events[64];
    const int n = epoll_pwait2(epoll_fd, events, 64, wait_for, nullptr);
    lock.lock();
    // The manager outlives the wait: it is destroyed only once no thread blocks in it.
    evm->in_epoll = false;
    evm->taken_since_fd_poll = 0;
    if (n > 0)
        fd_queue_ready_locked(evm, events, n);
    // Awake anyway (or at the end of a patience): the parked descriptors are read now.
    fd_unpark_locked(evm, true, 0);
}

} // namespace

event_mgr_type *event_create_manager(event_mgr_type *, const char *name, uint32_t flags)
{
    static std::once_flag once;
    std::call_once(once, [] {
        plat_clock_register_scheduler(&sched_ops);
        register_zerr_table();
    });
    if (name != nullptr && name[0] == '\0') {
        errno = EINVAL;
        return nullptr;
    }
    std::lock_guard guard(g().mu);
    if (name != nullptr && g().channels.count(name) != 0) {
        errno = EEXIST;
        return nullptr;
    }
    auto *m = new event_mgr_type;
    m->coid = g().next_coid++;
    m->name = name != nullptr ? name : "";
    m->flags = flags;
    m->creator = std::this_thread::get_id();
    self_locked();
    g().managers.emplace(m->coid, m);
    g().live.insert(m);
    if (name != nullptr)
        g().channels.emplace(m->name, m);
    return m;
}

event_mgr_type *event_manager_create(event_mgr_type *parent, const char *name, uint32_t flags)
{
    return event_create_manager(parent, name, flags);
}

int event_manager_destroy(event_mgr_type *evm)
{
    std::lock_guard guard(g().mu);
    if (!alive_locked(evm)) { // null included
        errno = EINVAL;
        return -1;
    }
    g().managers.erase(evm->coid);
    g().live.erase(evm);
    // A thread that served only this manager no longer holds up the settling of virtual time.
    if (thr_rec *owner = evm->owner) {
        bool serves_other = false;
        for (auto &[coid, m] : g().managers)
            serves_other = serves_other || m->owner == owner;
        if (!serves_other)
            owner->server = false;
    }
    if (!evm->name.empty())
        g().channels.erase(evm->name);
    std::vector<client_rec *> waiting;
    for (auto &[id, c] : g().clients)
        if (c->target == evm)
            waiting.push_back(c);
    for (client_rec *c : waiting)
        complete_client_locked(c, -1, EPIPE);
    for (event_type *ev : evm->queue) {
        if (ev->kind == ev_kind::alarm && ev->alarm != nullptr)
            ev->alarm->queued = nullptr;
        delete ev;
    }
    for (evm_alarm_type *a : evm->alarms) {
        a->evm = nullptr;
        a->deadline = EVM_ALARM_NEVER;
        a->queued = nullptr;
    }
    for (event_conn_type *c : evm->conns)
        c->evm = nullptr;
    for (int fd : {evm->epoll_fd, evm->wake_fd})
        if (fd >= 0)
            close(fd);
    g().settle_cv.notify_all();
    delete evm;
    return 0;
}

event_type *event_block(event_mgr_type *evm)
{
    if (evm == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    std::unique_lock lock(g().mu);
    thr_rec *self = self_locked();
    self->server = true;
    evm->owner = self;
    for (;;) {
        if (evm->wakeups > 0) {
            --evm->wakeups;
            self->state = thr_state::running;
            self->waiting_on = nullptr;
            errno = EINTR;
            return nullptr;
        }
        // Ready descriptors queue behind the work queued before them, every so many events.
        if (!evm->fds.empty() && ++evm->taken_since_fd_poll >= FD_POLL_EVERY) {
            evm->taken_since_fd_poll = 0;
            fd_poll_locked(evm);
        }
        if (evm->parked != 0 && !plat_clock_is_virtual())
            fd_unpark_locked(evm, false, plat_clock_mono_ns()); // a thread that never waits
        if (event_type *ev = take_locked(evm)) {
            self->state = thr_state::running;
            self->waiting_on = nullptr;
            return ev;
        }
        self->state = thr_state::waiting;
        self->waiting_on = evm;
        g().settle_cv.notify_all();
        if (!evm->fds.empty()) {
            wait_in_epoll(evm, lock);
            continue;
        }
        if (plat_clock_is_virtual() || evm->armed.empty()) {
            evm->cv.wait(lock);
        } else {
            const uint64_t now = plat_clock_mono_ns();
            const uint64_t due = evm->armed.begin()->first.first;
            if (due > now)
                evm->cv.wait_for(lock, std::chrono::nanoseconds(due - now));
        }
    }
}

int zq_event_dispatch(event_type *ev)
{
    if (ev == nullptr) {
        errno = EINVAL;
        return -1;
    }
    std::unique_ptr<event_type> owned(ev);
    std::unique_lock lock(g().mu);
    if (ev->cancelled || !alive_locked(ev->evm))
        return 0;
    event_mgr_type *m = ev->evm;
    switch (ev->kind) {
    case ev_kind::async: {
        auto it = m->async.find(ev->code);
        if (it == m->async.end())
            return 0; // detached since it was posted
        event_async_ctx_type record = it->second.record;
        event_async_handler_fn handler = it->second.handler;
        void *context = it->second.context;
        lock.unlock();
        return handler(&record, ev->value, context);
    }
    case ev_kind::message: {
        auto it = g().clients.find(ev->client);
        if (it == g().clients.end())
            return 0; // the sender was released meanwhile
        client_rec *c = it->second;
        std::shared_ptr<std::vector<uint8_t>> msg = c->msg;
        uint16_t code = 0;
        uint16_t facility = 0;
        memcpy(&code, msg->data(), 2);
        memcpy(&facility, msg->data() + 2, 2);
        auto h = m->handlers.find(msg_key(code, facility));
        if (h == m->handlers.end()) {
            complete_client_locked(c, -1, ENOSYS);
            return 0;
        }
        msg_handler_rec rec = h->second;
        lock.unlock();
        return rec.handler(ev->client, msg->data(), msg->size(), rec.context);
    }
    case ev_kind::alarm: {
        evm_alarm_type *a = ev->alarm;
        if (a == nullptr)
            return 0;
        a->queued = nullptr;
        evm_alarm_fn fn = a->fn;
        void *context = a->context;
        lock.unlock();
        fn(a, context);
        return 0;
    }
    case ev_kind::conn_notify: {
        event_conn_type *conn = ev->conn;
        if (conn->notify_cb == nullptr || (conn->notify_mask & ev->conn_event) == 0)
            return 0;
        event_conn_notify_fn cb = conn->notify_cb;
        void *context = conn->notify_context;
        lock.unlock();
        return cb(conn, ev->conn_event, context);
    }
    case ev_kind::conn_open: {
        event_conn_type *conn = ev->conn;
        if (conn->state != event_conn_type::st::closed)
            return 0;
        lock.unlock();
        conn_attempt(conn);
        return 0;
    }
    case ev_kind::fd_ready: {
        auto it = m->fds.find(ev->fd_id);
        if (it == m->fds.end())
            return 0; // detached since it became ready
        it->second.queued = nullptr;
        if (it->second.parked_until != 0)
            return 0; // parked since it was queued: its handler runs when it is unparked
        const int fd = it->second.fd;
        evm_fd_fn handler = it->second.handler;
        void *context = it->second.context;
        lock.unlock();
        handler(fd, context);
        return 0;
    }
    }
    return 0;
}

int event_manager_wakeup(event_mgr_type *evm)
{
    std::lock_guard guard(g().mu);
    if (!alive_locked(evm)) {
        errno = EINVAL;
        return -1;
    }
    ++evm->wakeups;
    wake_locked(evm);
    return 0;
}

int set_thread_name(const char *name)
{
    if (name == nullptr) {
        errno = EINVAL;
        return -1;
    }
    char buf[16] = {};
    strncpy(buf, name, sizeof buf - 1);
    int rc = pthread_setname_np(pthread_self(), buf);
    if (rc != 0) {
        errno = rc;
        return -1;
    }
    return 0;
}

// ---- asynchronous events ---------------------------------------------------------------------

int event_async_attach_event(event_mgr_type *evm, int32_t ev_class, event_async_handler_fn handler, void *context,
                             event_async_ctx_type *out)
{
    if (evm == nullptr || handler == nullptr) {
        errno = EINVAL;
        return -1;
    }
    std::lock_guard guard(g().mu);
    if (!alive_locked(evm)) {
        errno = EINVAL;
        return -1;
    }
    int32_t code = evm->next_code++;
    event_async_ctx_type record{evm, code, evm->coid, ev_class, 0};
    evm->async[code] = async_rec{handler, context, record};
    if (out != nullptr)
        *out = record;
    return code;
}

int event_async_attach(event_mgr_type *evm, int32_t code, event_async_handler_fn handler, void *context)
{
    if (evm == nullptr || code < 0) {
        errno = EINVAL;
        return -1;
    }
    std::lock_guard guard(g().mu);
    if (!alive_locked(evm)) {
        errno = EINVAL;
        return -1;
    }
    if (handler == nullptr) {
        if (evm->async.erase(code) == 0) {
            errno = ENOENT;
            return -1;
        }
        return 0;
    }
    auto it = evm->async.find(code);
    int32_t ev_class = it != evm->async.end() ? it->second.record.ev_class : 0;
    evm->async[code] = async_rec{handler, context, {evm, code, evm->coid, ev_class, 0}};
    if (code >= evm->next_code)
        evm->next_code = code + 1;
    return 0;
}

int event_send_async(int32_t coid, int32_t code, int32_t value)
{
    std::lock_guard guard(g().mu);
    event_mgr_type *m = manager_locked(coid);
    if (m == nullptr) {
        errno = ESRCH;
        return -1;
    }
    if (m->async.count(code) == 0) {
        errno = ENOENT;
        return -1;
    }
    auto *ev = new event_type{ev_kind::async, m};
    ev->code = code;
    ev->value = value;
    push_locked(m, ev);
    return 0;
}

int32_t event_manager_coid(const event_mgr_type *evm)
{
    return evm != nullptr ? evm->coid : -1;
}

bool event_manager_alive(int32_t coid)
{
    std::lock_guard guard(g().mu);
    return manager_locked(coid) != nullptr;
}

int event_async_detach(int32_t coid, int32_t code)
{
    std::lock_guard guard(g().mu);
    event_mgr_type *m = manager_locked(coid);
    if (m == nullptr) {
        errno = ESRCH;
        return -1;
    }
    if (m->async.erase(code) == 0) {
        errno = ENOENT;
        return -1;
    }
    return 0;
}

// ---- messages --------------------------------------------------------------------------------

int event_message_attach(event_mgr_type *evm, uint16_t code, uint16_t facility, event_msg_handler_fn handler,
                         void *context)
{
    std::lock_guard guard(g().mu);
    if (!alive_locked(evm)) { // null included
        errno = EINVAL;
        return -1;
    }
    const uint32_t key = msg_key(code, facility);
    if (handler == nullptr) {
        if (evm->handlers.erase(key) == 0) {
            errno = ENOENT;
            return -1;
        }
        return 0;
    }
    if (!evm->handlers.emplace(key, msg_handler_rec{handler, context}).second) {
        errno = EEXIST;
        return -1;
    }
    return 0;
}

int msg_chan_connect(const char *name, uint32_t, uint32_t, int32_t *chan)
{
    if (name == nullptr || chan == nullptr) {
        errno = EINVAL;
        return -1;
    }
    std::lock_guard guard(g().mu);
    auto it = g().channels.find(name);
    if (it == g().channels.end()) {
        errno = ENOENT;
        return -1;
    }
    int32_t id = g().next_chan++;
    g().chans[id] = it->second->coid;
    *chan = id;
    return 0;
}

int msg_chan_disconnect(int32_t chan)
{
    std::lock_guard guard(g().mu);
    if (g().chans.erase(chan) == 0) {
        errno = EINVAL;
        return -1;
    }
    return 0;
}

int msg_send(int32_t chan, const void *msg, size_t size, void *reply, size_t reply_size)
{
    if (msg == nullptr || size < 4 || (reply == nullptr && reply_size != 0)) {
        errno = EINVAL;
        return -1;
    }
    std::unique_lock lock(g().mu);
    auto it = g().chans.find(chan);
    if (it == g().chans.end()) {
        errno = EINVAL;
        return -1;
    }
    event_mgr_type *m = manager_locked(it->second);
    if (m == nullptr) {
        errno = EPIPE;
        return -1;
    }
    thr_rec *self = self_locked();
    if (m->owner == self) {
        errno = EDEADLK;
        return -1;
    }
    uint16_t code = 0;
    uint16_t facility = 0;
    memcpy(&code, msg, 2);
    memcpy(&facility, static_cast<const uint8_t *>(msg) + 2, 2);
    if (m->handlers.count(msg_key(code, facility)) == 0) {
        errno = ENOSYS;
        return -1;
    }
    client_rec c;
    c.id = g().next_client++;
    c.target = m;
    c.msg = std::make_shared<std::vector<uint8_t>>(static_cast<const uint8_t *>(msg),
                                                   static_cast<const uint8_t *>(msg) + size);
    c.reply = reply;
    c.reply_size = reply_size;
    c.sender = self;
    g().clients.emplace(c.id, &c);
    auto *ev = new event_type{ev_kind::message, m};
    ev->client = c.id;
    push_locked(m, ev);
    const thr_state before = self->state;
    self->state = thr_state::sending;
    g().settle_cv.notify_all();
    c.cv.wait(lock, [&c] { return c.done; });
    self->state = before;
    if (c.status == -1) {
        errno = c.err;
        return -1;
    }
    return c.status;
}

int msg_reply(msg_client_type client, int32_t status, const void *data, size_t size)
{
    if (status == -1) {
        errno = EINVAL;
        return -1;
    }
    std::lock_guard guard(g().mu);
    auto it = g().clients.find(client);
    if (it == g().clients.end()) {
        errno = ESRCH;
        return -1;
    }
    client_rec *c = it->second;
    if (data != nullptr && c->reply != nullptr)
        memcpy(c->reply, data, std::min(size, c->reply_size));
    complete_client_locked(c, status, 0);
    return 0;
}

int msg_error(msg_client_type client, int err)
{
    std::lock_guard guard(g().mu);
    auto it = g().clients.find(client);
    if (it == g().clients.end()) {
        errno = ESRCH;
        return -1;
    }
    complete_client_locked(it->second, -1, err != 0 ? err : EIO);
    return 0;
}

// ---- connections -----------------------------------------------------------------------------

zerrno event_conn_create(event_mgr_type *evm, event_conn_open_fn open_cb, uint32_t flags, void *context,
                         event_conn_type **conn)
{
    if (evm == nullptr || open_cb == nullptr || conn == nullptr)
        return EVM_ERR_INVALID;
    evm_alarm_type *alarm = evm_alarm_new(evm, conn_retry_fired, nullptr);
    if (alarm == nullptr)
        return EVM_ERR_GONE;
    auto *c = new event_conn_type{evm, open_cb, context, flags};
    c->retry_alarm = alarm;
    alarm->context = c;
    std::lock_guard guard(g().mu);
    evm->conns.insert(c);
    *conn = c;
    return ZERR_OK;
}

zerrno event_conn_notify(event_conn_type *conn, uint32_t events, event_conn_notify_fn notify_cb, void *context)
{
    if (conn == nullptr)
        return EVM_ERR_INVALID;
    std::lock_guard guard(g().mu);
    conn->notify_cb = notify_cb;
    conn->notify_context = context;
    conn->notify_mask = events;
    return ZERR_OK;
}

zerrno event_conn_open(event_conn_type *conn)
{
    if (conn == nullptr)
        return EVM_ERR_INVALID;
    {
        std::lock_guard guard(g().mu);
        if (conn->evm == nullptr)
            return EVM_ERR_GONE;
        if (conn->state != event_conn_type::st::closed)
            return EVENT_CONN_ALREADY_OPEN;
    }
    conn_attempt(conn);
    return ZERR_OK;
}

static zerrno conn_drop(event_conn_type *conn, uint32_t event)
{
    if (conn == nullptr)
        return EVM_ERR_INVALID;
    std::lock_guard guard(g().mu);
    if (conn->evm == nullptr)
        return EVM_ERR_GONE;
    if (conn->state != event_conn_type::st::up)
        return ZERR_OK; // not up: already reopening
    conn->state = event_conn_type::st::closed;
    conn->id = -1;
    conn_queue_locked(conn, ev_kind::conn_notify, event);
    conn_queue_locked(conn, ev_kind::conn_open, 0);
    return ZERR_OK;
}

zerrno event_conn_error(event_conn_type *conn)
{
    return conn_drop(conn, EVENT_CONN_DOWN);
}

zerrno event_conn_peer_closed(event_conn_type *conn)
{
    return conn_drop(conn, EVENT_CONN_CLOSED);
}

zerrno event_conn_destroy(event_conn_type *conn)
{
    if (conn == nullptr)
        return EVM_ERR_INVALID;
    evm_alarm_type *alarm = nullptr;
    {
        std::lock_guard guard(g().mu);
        if (conn->evm != nullptr) {
            for (event_type *ev : conn->evm->queue)
                if (ev->conn == conn)
                    ev->cancelled = true;
            conn->evm->conns.erase(conn);
        }
        alarm = conn->retry_alarm;
    }
    evm_alarm_free(alarm);
    delete conn;
    return ZERR_OK;
}

int32_t event_conn_id(const event_conn_type *conn)
{
    if (conn == nullptr)
        return -1;
    std::lock_guard guard(g().mu);
    return conn->state == event_conn_type::st::up ? conn->id : -1;
}

bool event_conn_is_up(const event_conn_type *conn)
{
    return event_conn_id(conn) >= 0;
}

// ---- alarms ----------------------------------------------------------------------------------

evm_alarm_type *evm_alarm_new(event_mgr_type *evm, evm_alarm_fn fn, void *context)
{
    if (evm == nullptr || fn == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    std::lock_guard guard(g().mu);
    if (!alive_locked(evm)) {
        errno = EINVAL;
        return nullptr;
    }
    auto *a = new evm_alarm_type{evm, fn, context};
    evm->alarms.insert(a);
    return a;
}

void evm_alarm_set(evm_alarm_type *alarm, uint64_t deadline_ns)
{
    if (alarm == nullptr)
        return;
    std::lock_guard guard(g().mu);
    if (alarm->evm == nullptr || alarm->deadline == deadline_ns)
        return;
    event_mgr_type *m = alarm->evm;
    alarm_disarm_locked(alarm);
    if (deadline_ns == EVM_ALARM_NEVER)
        return;
    const bool earliest = m->armed.empty() || deadline_ns < m->armed.begin()->first.first;
    alarm->deadline = deadline_ns;
    alarm->key = {deadline_ns, ++g().alarm_seq};
    m->armed.emplace(alarm->key, alarm);
    if (earliest)
        wake_locked(m); // a timed wait must wake earlier
}

uint64_t evm_alarm_deadline(const evm_alarm_type *alarm)
{
    if (alarm == nullptr)
        return EVM_ALARM_NEVER;
    std::lock_guard guard(g().mu);
    return alarm->deadline;
}

void evm_alarm_free(evm_alarm_type *alarm)
{
    if (alarm == nullptr)
        return;
    {
        std::lock_guard guard(g().mu);
        alarm_disarm_locked(alarm);
        if (alarm->queued != nullptr)
            alarm->queued->alarm = nullptr;
        if (alarm->evm != nullptr)
            alarm->evm->alarms.erase(alarm);
    }
    delete alarm;
}

event_mgr_type *evm_alarm_manager(const evm_alarm_type *alarm)
{
    if (alarm == nullptr)
        return nullptr;
    std::lock_guard guard(g().mu);
    return alarm->evm;
}

// ---- descriptors -----------------------------------------------------------------------------

int evm_fd_attach(event_mgr_type *evm, int fd, evm_fd_fn handler, void *context)
{
    if (fd < 0 || handler == nullptr) {
        errno = EINVAL;
        return -1;
    }
    std::lock_guard guard(g().mu);
    if (!alive_locked(evm)) {
        errno = EINVAL;
        return -1;
    }
    for (auto &[id, rec] : evm->fds) {
        if (rec.fd == fd) {
            errno = EEXIST;
            return -1;
        }
    }
    if (evm->epoll_fd < 0) {
        const int epoll_fd = epoll_create1(EPOLL_CLOEXEC);
        const int wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = WAKE_ID;
        if (epoll_fd < 0 || wake_fd < 0 || epoll_ctl(epoll_fd, EPOLL_CTL_ADD, wake_fd, &ev) != 0) {
            const int err = errno;
            for (int d : {epoll_fd, wake_fd})
                if (d >= 0)
                    close(d);
            errno = err;
            return -1;
        }
        evm->epoll_fd = epoll_fd;
        evm->wake_fd = wake_fd;
    }
    const uint64_t id = g().next_fd_id++;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = id;
    if (epoll_ctl(evm->epoll_fd, EPOLL_CTL_ADD, fd, &ev) != 0)
        return -1;
    evm->fds.emplace(id, fd_rec{fd, handler, context});
    // A thread already waiting on the condition variable waits in epoll from now on.
    wake_locked(evm);
    return 0;
}

int evm_fd_detach(event_mgr_type *evm, int fd)
{
    std::lock_guard guard(g().mu);
    if (!alive_locked(evm)) {
        errno = EINVAL;
        return -1;
    }
    for (auto it = evm->fds.begin(); it != evm->fds.end(); ++it) {
        if (it->second.fd != fd)
            continue;
        if (it->second.queued != nullptr)
            it->second.queued->cancelled = true;
        if (it->second.parked_until != 0)
            --evm->parked;
        epoll_ctl(evm->epoll_fd, EPOLL_CTL_DEL, fd, nullptr);
        evm->fds.erase(it);
        // A waiting owner goes back to the condition variable once the last is gone.
        wake_locked(evm);
        return 0;
    }
    errno = ENOENT;
    return -1;
}

int evm_fd_park(event_mgr_type *evm, int fd, uint64_t patience_ns)
{
    std::lock_guard guard(g().mu);
    if (!alive_locked(evm)) {
        errno = EINVAL;
        return -1;
    }
    for (auto &[id, rec] : evm->fds) {
        if (rec.fd != fd)
            continue;
        if (rec.parked_until != 0)
            return 0; // parked already: its earlier end stands
        epoll_event ev{};
        ev.events = 0; // not waited on (errors and hang-ups still end the wait: read then)
        ev.data.u64 = id;
        if (epoll_ctl(evm->epoll_fd, EPOLL_CTL_MOD, fd, &ev) != 0)
            return -1;
        const uint64_t now = plat_clock_mono_ns();
        rec.parked_until = patience_ns < UINT64_MAX - now ? now + patience_ns : UINT64_MAX;
        if (rec.parked_until == 0)
            rec.parked_until = 1;
        ++evm->parked;
        return 0;
    }
    errno = ENOENT;
    return -1;
}

// ---- test control ----------------------------------------------------------------------------

size_t evm_run_until_idle(event_mgr_type *evm)
{
    size_t count = 0;
    for (;;) {
        event_type *ev = nullptr;
        {
            std::lock_guard guard(g().mu);
            if (!alive_locked(evm))
                return count;
            fd_poll_locked(evm);
            ev = take_locked(evm);
        }
        if (ev == nullptr)
            return count;
        zq_event_dispatch(ev);
        ++count;
    }
}

size_t evm_queued(event_mgr_type *evm)
{
    std::lock_guard guard(g().mu);
    return alive_locked(evm) ? evm->queue.size() : 0;
}

void evm_settle_all(void)
{
    settle_all();
}

size_t evm_waiting_senders(void)
{
    std::lock_guard guard(g().mu);
    return g().clients.size();
}

void evm_wait_until_served(event_mgr_type *evm)
{
    std::unique_lock lock(g().mu);
    thr_rec *self = self_locked();
    g().settle_cv.wait(lock, [evm, self] {
        return !alive_locked(evm) || (evm->owner != nullptr && evm->owner != self &&
                                      evm->owner->state == thr_state::waiting && evm->owner->waiting_on == evm);
    });
}

event_mgr_type *evm_find_channel(const char *name)
{
    if (name == nullptr)
        return nullptr;
    std::lock_guard guard(g().mu);
    auto it = g().channels.find(name);
    return it == g().channels.end() ? nullptr : it->second;
}

event_conn_type *evm_conn_find(int32_t id)
{
    std::lock_guard guard(g().mu);
    for (auto &[coid, m] : g().managers)
        for (event_conn_type *c : m->conns)
            if (c->state == event_conn_type::st::up && c->id == id)
                return c;
    return nullptr;
}
