#include "evm_test.h"
#include "evm.h"
#include "evm_alarm.h"
#include "evm_fd.h"
#include "plat_clock_test.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

namespace {

// A manager served by its own thread until stop() posts the exit event.
struct served_manager {
    event_mgr_type *evm = nullptr;
    event_async_ctx_type exit_event{};
    std::atomic<bool> exit{false};
    std::thread thread;

    explicit served_manager(const char *name)
    {
        evm = event_create_manager(nullptr, name, 0x20);
        event_async_attach_event(evm, 128, on_exit, this, &exit_event);
    }
    void start()
    {
        thread = std::thread([this] {
            set_thread_name("served");
            while (!exit.load()) {
                event_type *ev = event_block(evm);
                if (ev != nullptr)
                    zq_event_dispatch(ev);
            }
        });
    }
    void stop()
    {
        event_send_async(exit_event.coid, exit_event.code, 0);
        thread.join();
        event_manager_destroy(evm);
    }
    static int on_exit(const event_async_ctx_type *, int32_t, void *ctx)
    {
        static_cast<served_manager *>(ctx)->exit = true;
        return 0;
    }
};

struct msg_rec {
    uint16_t code;
    uint16_t facility;
    uint8_t header[36];
    uint32_t payload;
};

msg_rec make_msg(uint16_t code, uint32_t payload)
{
    msg_rec m{};
    m.code = code;
    m.facility = 0x0FE5;
    m.payload = payload;
    return m;
}

} // namespace

TEST(EvmAsync, PostsFromManyThreadsAreDispatchedInOrderPerSender)
{
    served_manager server(nullptr);
    struct seen_type {
        std::vector<int32_t> values;
    } seen;
    event_async_ctx_type ev{};
    ASSERT_GE(event_async_attach_event(
                  server.evm, 128,
                  [](const event_async_ctx_type *, int32_t v, void *ctx) {
                      static_cast<seen_type *>(ctx)->values.push_back(v);
                      return 0;
                  },
                  &seen, &ev),
              0);
    server.start();
    constexpr int senders = 4;
    constexpr int per_sender = 2000;
    std::vector<std::thread> threads;
    for (int s = 0; s < senders; ++s)
        threads.emplace_back([&, s] {
            for (int i = 0; i < per_sender; ++i)
                ASSERT_EQ(event_send_async(ev.coid, ev.code, s * per_sender + i), 0);
        });
    for (auto &t : threads)
        t.join();
    server.stop(); // the exit event is behind every post

    ASSERT_EQ(seen.values.size(), static_cast<size_t>(senders * per_sender));
    std::vector<int32_t> last(senders, -1);
    for (int32_t v : seen.values) {
        const int s = v / per_sender;
        EXPECT_GT(v, last[s]);
        last[s] = v;
    }
}

TEST(EvmAsync, DetachedCodeIsRefusedAndItsQueuedEventsDropped)
{
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    int calls = 0;
    auto handler = [](const event_async_ctx_type *, int32_t, void *ctx) {
        ++*static_cast<int *>(ctx);
        return 0;
    };
    event_async_ctx_type ev{};
    const int code = event_async_attach_event(evm, 128, handler, &calls, &ev);
    ASSERT_GE(code, 0);
    EXPECT_EQ(ev.code, code);
    EXPECT_EQ(ev.evm, evm);
    ASSERT_EQ(event_send_async(ev.coid, code, 1), 0);
    ASSERT_EQ(event_async_attach(evm, code, nullptr, nullptr), 0);
    EXPECT_EQ(evm_run_until_idle(evm), 1u);
    EXPECT_EQ(calls, 0);
    errno = 0;
    EXPECT_EQ(event_send_async(ev.coid, code, 1), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(event_manager_destroy(evm), 0);
    errno = 0;
    EXPECT_EQ(event_send_async(ev.coid, code, 1), -1);
    EXPECT_EQ(errno, ESRCH);
}

// Whoever outlives a manager knows it by its coid: a later manager (perhaps at the same address)
// is a different one, and a late detach leaves that one's codes alone.
TEST(EvmAsync, AGoneManagerIsKnownByItsCoidAndALateDetachSparesItsSuccessor)
{
    auto handler = [](const event_async_ctx_type *, int32_t, void *ctx) {
        ++*static_cast<int *>(ctx);
        return 0;
    };
    event_mgr_type *old_evm = event_create_manager(nullptr, nullptr, 0);
    event_async_ctx_type old_ev{};
    ASSERT_GE(event_async_attach_event(old_evm, 0, handler, nullptr, &old_ev), 0);
    EXPECT_TRUE(event_manager_alive(old_ev.coid));
    ASSERT_EQ(event_manager_destroy(old_evm), 0);
    EXPECT_FALSE(event_manager_alive(old_ev.coid));

    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    int calls = 0;
    event_async_ctx_type ev{};
    ASSERT_GE(event_async_attach_event(evm, 0, handler, &calls, &ev), 0);
    EXPECT_NE(ev.coid, old_ev.coid);
    EXPECT_EQ(ev.code, old_ev.code); // codes count per manager
    errno = 0;
    EXPECT_EQ(event_async_detach(old_ev.coid, old_ev.code), -1);
    EXPECT_EQ(errno, ESRCH);
    ASSERT_EQ(event_send_async(ev.coid, ev.code, 0), 0);
    EXPECT_EQ(evm_run_until_idle(evm), 1u);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(event_async_detach(ev.coid, ev.code), 0);
    errno = 0;
    EXPECT_EQ(event_async_detach(ev.coid, ev.code), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(event_manager_destroy(evm), 0);
}

TEST(EvmLoop, WakeupMakesEventBlockFailWithEintr)
{
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    std::thread waker([evm] { event_manager_wakeup(evm); });
    errno = 0;
    EXPECT_EQ(event_block(evm), nullptr);
    EXPECT_EQ(errno, EINTR);
    waker.join();
    event_manager_destroy(evm);
}

// ---- descriptors -------------------------------------------------------------------------------

namespace {

// What the handler of a pipe's read end saw: the bytes read and the threads it ran on.
struct pipe_reader {
    std::mutex mu;
    std::string read;
    std::vector<std::thread::id> threads;
    std::atomic<int> alarms{0};
    std::atomic<int> posts{0};

    static void on_ready(int fd, void *ctx)
    {
        auto *self = static_cast<pipe_reader *>(ctx);
        char buf[64];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        std::lock_guard guard(self->mu);
        self->read.append(buf, n > 0 ? static_cast<size_t>(n) : 0);
        self->threads.push_back(std::this_thread::get_id());
    }
    std::string seen()
    {
        std::lock_guard guard(mu);
        return read;
    }
    // Waits (at most 2 s) for the handler to have read `want`.
    bool wait_for(const std::string &want)
    {
        for (int i = 0; i < 200 && seen() != want; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return seen() == want;
    }
};

} // namespace

// The serving thread waits on the descriptor itself: what the pipe holds is read on that thread,
// while its alarms and posted events still reach it; once detached, the descriptor is left alone.
TEST(EvmFd, ADescriptorIsServedOnTheManagersThreadBesideItsOtherEvents)
{
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    served_manager m(nullptr);
    pipe_reader r;
    ASSERT_EQ(evm_fd_attach(m.evm, p[0], pipe_reader::on_ready, &r), 0);
    errno = 0;
    EXPECT_EQ(evm_fd_attach(m.evm, p[0], pipe_reader::on_ready, &r), -1);
    EXPECT_EQ(errno, EEXIST);
    m.start();
    evm_wait_until_served(m.evm);

    ASSERT_EQ(write(p[1], "abc", 3), 3);
    ASSERT_TRUE(r.wait_for("abc"));
    // An alarm comes due while the thread waits on the descriptor, and a post wakes it.
    evm_alarm_type *alarm = evm_alarm_new(
        m.evm, [](evm_alarm_type *, void *ctx) { ++static_cast<pipe_reader *>(ctx)->alarms; }, &r);
    evm_alarm_set(alarm, plat_clock_mono_ns() + 20 * 1000000ull);
    event_async_ctx_type post{};
    ASSERT_GE(event_async_attach_event(
                  m.evm, 0,
                  [](const event_async_ctx_type *, int32_t, void *ctx) {
                      ++static_cast<pipe_reader *>(ctx)->posts;
                      return 0;
                  },
                  &r, &post),
              0);
    ASSERT_EQ(event_send_async(post.coid, post.code, 0), 0);
    for (int i = 0; i < 200 && (r.alarms == 0 || r.posts == 0); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(r.alarms, 1);
    EXPECT_EQ(r.posts, 1);
    ASSERT_EQ(write(p[1], "de", 2), 2);
    ASSERT_TRUE(r.wait_for("abcde"));

    ASSERT_EQ(evm_fd_detach(m.evm, p[0]), 0);
    errno = 0;
    EXPECT_EQ(evm_fd_detach(m.evm, p[0]), -1);
    EXPECT_EQ(errno, ENOENT);
    ASSERT_EQ(write(p[1], "f", 1), 1);
    ASSERT_EQ(event_send_async(post.coid, post.code, 0), 0); // served on the condition variable again
    for (int i = 0; i < 200 && r.posts < 2; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(r.posts, 2);
    EXPECT_EQ(r.seen(), "abcde");
    {
        std::lock_guard guard(r.mu);
        for (std::thread::id t : r.threads)
            EXPECT_EQ(t, m.thread.get_id());
    }
    evm_alarm_free(alarm);
    m.stop();
    close(p[0]);
    close(p[1]);
}

// A manager run without blocking (evm_run_until_idle, the settling of virtual time) finds its
// ready descriptors too, and a detached one no more.
TEST(EvmFd, ManagersRunWithoutBlockingServeTheirReadyDescriptors)
{
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    pipe_reader r;
    errno = 0;
    EXPECT_EQ(evm_fd_attach(evm, -1, pipe_reader::on_ready, &r), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(evm_fd_attach(nullptr, p[0], pipe_reader::on_ready, &r), -1);
    ASSERT_EQ(evm_fd_attach(evm, p[0], pipe_reader::on_ready, &r), 0);
    EXPECT_EQ(evm_run_until_idle(evm), 0u);
    ASSERT_EQ(write(p[1], "xy", 2), 2);
    EXPECT_EQ(evm_run_until_idle(evm), 1u);
    EXPECT_EQ(r.seen(), "xy");

    ASSERT_EQ(write(p[1], "z", 1), 1);
    plat_clock_use_virtual();
    evm_settle_all();
    EXPECT_EQ(r.seen(), "xyz"); // the creating thread runs an unowned manager
    ASSERT_EQ(write(p[1], "w", 1), 1);
    ASSERT_EQ(evm_fd_detach(evm, p[0]), 0);
    EXPECT_EQ(evm_run_until_idle(evm), 0u);
    EXPECT_EQ(r.seen(), "xyz");
    plat_clock_use_real();
    event_manager_destroy(evm);
    close(p[0]);
    close(p[1]);
}

// A manager that never runs out of queued work (an event that posts itself again, as a thousand
// master sessions' timers that are always due) still serves a descriptor that became ready.
TEST(EvmFd, AManagerAlwaysBusyStillServesItsReadyDescriptors)
{
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    pipe_reader r;
    ASSERT_EQ(evm_fd_attach(evm, p[0], pipe_reader::on_ready, &r), 0);
    event_async_ctx_type again{};
    ASSERT_GE(event_async_attach_event(
                  evm, 0,
                  [](const event_async_ctx_type *self, int32_t, void *ctx) {
                      ++static_cast<pipe_reader *>(ctx)->posts;
                      return event_send_async(self->coid, self->code, 0);
                  },
                  &r, &again),
              0);
    ASSERT_EQ(event_send_async(again.coid, again.code, 0), 0);
    ASSERT_EQ(write(p[1], "x", 1), 1);
    for (int i = 0; i < 1000 && r.seen().empty(); i++) {
        if (event_type *ev = event_block(evm)) {
            zq_event_dispatch(ev);
        }
    }
    EXPECT_EQ(r.seen(), "x");
    EXPECT_GT(r.posts, 0);
    event_async_detach(again.coid, again.code);
    ASSERT_EQ(evm_fd_detach(evm, p[0]), 0);
    event_manager_destroy(evm);
    close(p[0]);
    close(p[1]);
}

// A handler that parks its descriptor: what comes meanwhile waits for the thread's next wake-up
// for anything else (here an alarm), or for the end of the patience when nothing else wakes it;
// a post handled without a wait does not read it. Parking asks for a live manager and a
// descriptor of its own.
TEST(EvmFd, AParkedDescriptorIsReadWithTheThreadsNextWakeUp)
{
    int p[2];
    ASSERT_EQ(pipe2(p, O_NONBLOCK), 0); // a handler run for nothing finds it empty
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    struct parking_reader {
        pipe_reader r;
        event_mgr_type *evm;
        uint64_t patience_ns;
        static void on_ready(int fd, void *ctx)
        {
            auto *self = static_cast<parking_reader *>(ctx);
            pipe_reader::on_ready(fd, &self->r);
            EXPECT_EQ(evm_fd_park(self->evm, fd, self->patience_ns), 0);
        }
    } pr{{}, evm, 3600 * 1000000000ull};
    ASSERT_EQ(evm_fd_attach(evm, p[0], parking_reader::on_ready, &pr), 0);
    auto turn = [evm] {
        event_type *ev = event_block(evm);
        ASSERT_NE(ev, nullptr);
        zq_event_dispatch(ev);
    };

    ASSERT_EQ(write(p[1], "a", 1), 1);
    turn();
    EXPECT_EQ(pr.r.seen(), "a");
    ASSERT_EQ(write(p[1], "b", 1), 1);
    event_async_ctx_type post{};
    ASSERT_GE(event_async_attach_event(
                  evm, 0,
                  [](const event_async_ctx_type *, int32_t, void *ctx) {
                      ++static_cast<pipe_reader *>(ctx)->posts;
                      return 0;
                  },
                  &pr.r, &post),
              0);
    ASSERT_EQ(event_send_async(post.coid, post.code, 0), 0);
    turn();
    EXPECT_EQ(pr.r.posts, 1);
    EXPECT_EQ(pr.r.seen(), "a"); // parked, and the thread has not waited since
    evm_alarm_type *alarm = evm_alarm_new(
        evm, [](evm_alarm_type *, void *ctx) { ++static_cast<pipe_reader *>(ctx)->alarms; }, &pr.r);
    evm_alarm_set(alarm, plat_clock_mono_ns() + 1000000ull);
    pr.patience_ns = 1; // from its next run on
    turn();
    EXPECT_EQ(pr.r.seen(), "ab"); // read first with the wake-up the alarm cost
    for (int i = 0; i < 4 && pr.r.alarms == 0; i++)
        turn();
    EXPECT_EQ(pr.r.alarms, 1);

    // Nothing else wakes the thread: the patience's end does.
    ASSERT_EQ(write(p[1], "c", 1), 1);
    turn();
    EXPECT_EQ(pr.r.seen(), "abc");
    ASSERT_EQ(write(p[1], "d", 1), 1);
    turn();
    EXPECT_EQ(pr.r.seen(), "abcd");

    errno = 0;
    EXPECT_EQ(evm_fd_park(evm, p[1], 1), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(evm_fd_park(nullptr, p[0], 1), -1);
    EXPECT_EQ(errno, EINVAL);
    ASSERT_EQ(evm_fd_detach(evm, p[0]), 0); // parked: detached all the same
    evm_alarm_free(alarm);
    event_async_detach(post.coid, post.code);
    event_manager_destroy(evm);
    close(p[0]);
    close(p[1]);
}

// ---- messages ----------------------------------------------------------------------------------

namespace {

// The protocol-thread side: replies at once, or parks the client to reply from a later event.
struct responder {
    msg_client_type parked = 0;
    std::vector<uint32_t> payloads;
    event_async_ctx_type release{};
    std::atomic<int> handled{0}; // read by the test's thread while the server runs

    static int on_msg(msg_client_type client, void *msg, size_t size, void *ctx)
    {
        auto *self = static_cast<responder *>(ctx);
        EXPECT_EQ(size, sizeof(msg_rec));
        const auto *m = static_cast<const msg_rec *>(msg);
        self->payloads.push_back(m->payload);
        ++self->handled;
        if (m->code == 0x8007) { // answered later
            self->parked = client;
            return 0;
        }
        return msg_reply(client, static_cast<int32_t>(m->payload + 1), nullptr, 0);
    }
    static int on_release(const event_async_ctx_type *, int32_t value, void *ctx)
    {
        auto *self = static_cast<responder *>(ctx);
        const char data[] = "late answer";
        EXPECT_EQ(msg_reply(self->parked, value, data, sizeof data), 0);
        self->parked = 0;
        return 0;
    }
};

} // namespace

TEST(EvmMsg, BlockingSendGetsTheHandlersReplyStatus)
{
    served_manager server("/dev/test-a");
    responder r;
    ASSERT_EQ(event_message_attach(server.evm, 0x8001, 0x0FE5, responder::on_msg, &r), 0);
    server.start();
    int32_t chan = 0;
    ASSERT_EQ(msg_chan_connect("/dev/test-a", 0, 0, &chan), 0);
    EXPECT_NE(chan, 0);
    for (uint32_t i = 0; i < 3; ++i) {
        msg_rec m = make_msg(0x8001, 40 + i);
        EXPECT_EQ(msg_send(chan, &m, sizeof m, nullptr, 0), static_cast<int>(41 + i));
    }
    server.stop();
    EXPECT_EQ(r.payloads, (std::vector<uint32_t>{40, 41, 42}));
}

TEST(EvmMsg, DeferredReplyFromAnotherCallbackReleasesTheSenderLater)
{
    served_manager server("/dev/test-b");
    responder r;
    ASSERT_EQ(event_message_attach(server.evm, 0x8007, 0x0FE5, responder::on_msg, &r), 0);
    ASSERT_GE(event_async_attach_event(server.evm, 128, responder::on_release, &r, &r.release), 0);
    server.start();
    int32_t chan = 0;
    ASSERT_EQ(msg_chan_connect("/dev/test-b", 0, 0, &chan), 0);

    std::atomic<bool> returned{false};
    int result = 0;
    char reply[32] = {};
    std::thread sender([&] {
        msg_rec m = make_msg(0x8007, 7);
        result = msg_send(chan, &m, sizeof m, reply, sizeof reply);
        returned = true;
    });
    // The handler has run and parked the client; the sender still waits.
    while (evm_waiting_senders() != 1 || r.handled.load() == 0)
        std::this_thread::yield();
    evm_settle_all();
    EXPECT_FALSE(returned.load());

    ASSERT_EQ(event_send_async(r.release.coid, r.release.code, 0x47F28A00), 0);
    sender.join();
    EXPECT_TRUE(returned.load());
    EXPECT_EQ(static_cast<uint32_t>(result), 0x47F28A00u);
    EXPECT_STREQ(reply, "late answer");
    server.stop();
}

TEST(EvmMsg, ReplyToASenderThatHasGoneIsRefused)
{
    // The manager is run by the test thread; the sender waits on another thread.
    event_mgr_type *evm = event_create_manager(nullptr, "/dev/test-c", 0);
    responder r;
    ASSERT_EQ(event_message_attach(evm, 0x8007, 0x0FE5, responder::on_msg, &r), 0);
    int32_t chan = 0;
    ASSERT_EQ(msg_chan_connect("/dev/test-c", 0, 0, &chan), 0);

    int result = 0;
    int err = 0;
    std::thread sender([&] {
        msg_rec m = make_msg(0x8007, 1);
        result = msg_send(chan, &m, sizeof m, nullptr, 0);
        err = errno;
    });
    while (evm_queued(evm) == 0)
        std::this_thread::yield();
    EXPECT_EQ(evm_run_until_idle(evm), 1u);
    ASSERT_NE(r.parked, 0u);

    // The manager goes away: the sender is released with EPIPE, the late reply finds nobody.
    ASSERT_EQ(event_manager_destroy(evm), 0);
    sender.join();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(err, EPIPE);
    errno = 0;
    EXPECT_EQ(msg_reply(r.parked, 0, nullptr, 0), -1);
    EXPECT_EQ(errno, ESRCH);
    errno = 0;
    EXPECT_EQ(msg_error(r.parked, EIO), -1);
    EXPECT_EQ(errno, ESRCH);
    msg_rec m = make_msg(0x8007, 1);
    errno = 0;
    EXPECT_EQ(msg_send(chan, &m, sizeof m, nullptr, 0), -1);
    EXPECT_EQ(errno, EPIPE);
}

TEST(EvmMsg, ErrorReleasesTheSenderAndASecondAnswerIsRefused)
{
    event_mgr_type *evm = event_create_manager(nullptr, "/dev/test-d", 0);
    msg_client_type seen = 0;
    ASSERT_EQ(event_message_attach(
                  evm, 0x8001, 0x0FE5,
                  [](msg_client_type client, void *, size_t, void *ctx) {
                      *static_cast<msg_client_type *>(ctx) = client;
                      EXPECT_EQ(msg_error(client, ENOMEM), 0);
                      return 0;
                  },
                  &seen),
              0);
    int32_t chan = 0;
    ASSERT_EQ(msg_chan_connect("/dev/test-d", 0, 0, &chan), 0);
    int result = 0;
    int err = 0;
    std::thread sender([&] {
        msg_rec m = make_msg(0x8001, 1);
        result = msg_send(chan, &m, sizeof m, nullptr, 0);
        err = errno;
    });
    while (evm_queued(evm) == 0)
        std::this_thread::yield();
    evm_run_until_idle(evm);
    sender.join();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(err, ENOMEM);
    errno = 0;
    EXPECT_EQ(msg_reply(seen, 0, nullptr, 0), -1);
    EXPECT_EQ(errno, ESRCH);
    event_manager_destroy(evm);
}

TEST(EvmMsg, SendAndAttachErrors)
{
    event_mgr_type *evm = event_create_manager(nullptr, "/dev/test-e", 0);
    auto handler = [](msg_client_type c, void *, size_t, void *) { return msg_reply(c, 0, nullptr, 0); };
    ASSERT_EQ(event_message_attach(evm, 0x8001, 0x0FE5, handler, nullptr), 0);
    errno = 0;
    EXPECT_EQ(event_message_attach(evm, 0x8001, 0x0FE5, handler, nullptr), -1);
    EXPECT_EQ(errno, EEXIST);
    errno = 0;
    EXPECT_EQ(event_create_manager(nullptr, "/dev/test-e", 0), nullptr);
    EXPECT_EQ(errno, EEXIST);

    int32_t chan = 0;
    errno = 0;
    EXPECT_EQ(msg_chan_connect("/dev/nobody", 0, 0, &chan), -1);
    EXPECT_EQ(errno, ENOENT);
    ASSERT_EQ(msg_chan_connect("/dev/test-e", 0, 0, &chan), 0);

    struct {
        const char *what;
        uint16_t code;
        size_t size;
        int err;
    } const cases[] = {
        {"no handler for the pair", 0x8002, sizeof(msg_rec), ENOSYS},
        {"shorter than code and facility", 0x8001, 3, EINVAL},
    };
    for (const auto &c : cases) {
        msg_rec m = make_msg(c.code, 0);
        errno = 0;
        EXPECT_EQ(msg_send(chan, &m, c.size, nullptr, 0), -1) << c.what;
        EXPECT_EQ(errno, c.err) << c.what;
    }
    // The thread that serves the channel cannot wait for itself.
    ASSERT_EQ(event_manager_wakeup(evm), 0);
    EXPECT_EQ(event_block(evm), nullptr);
    msg_rec m = make_msg(0x8001, 0);
    errno = 0;
    EXPECT_EQ(msg_send(chan, &m, sizeof m, nullptr, 0), -1);
    EXPECT_EQ(errno, EDEADLK);
    EXPECT_EQ(msg_chan_disconnect(chan), 0);
    errno = 0;
    EXPECT_EQ(msg_send(chan, &m, sizeof m, nullptr, 0), -1);
    EXPECT_EQ(errno, EINVAL);
    event_manager_destroy(evm);
}

// ---- connections -------------------------------------------------------------------------------

namespace {

struct conn_fixture : ::testing::Test {
    event_mgr_type *evm = nullptr;
    event_conn_type *conn = nullptr;
    int opens = 0;
    int fail_opens = 0; // this many attempts fail first
    std::vector<uint32_t> notices;

    void SetUp() override
    {
        plat_clock_use_virtual();
        evm = event_create_manager(nullptr, nullptr, 0);
        ASSERT_EQ(event_conn_create(evm, on_open, 14, this, &conn), ZERR_OK);
        ASSERT_EQ(event_conn_notify(conn, EVENT_CONN_UP | EVENT_CONN_DOWN | EVENT_CONN_CLOSED, on_notify, this),
                  ZERR_OK);
    }
    void TearDown() override
    {
        event_conn_destroy(conn);
        event_manager_destroy(evm);
        plat_clock_use_real();
    }
    static int on_open(event_conn_type *, void *ctx)
    {
        auto *self = static_cast<conn_fixture *>(ctx);
        ++self->opens;
        return self->opens <= self->fail_opens ? -1 : 100 + self->opens;
    }
    static int on_notify(event_conn_type *, uint32_t event, void *ctx)
    {
        static_cast<conn_fixture *>(ctx)->notices.push_back(event);
        return 0;
    }
};

} // namespace

TEST_F(conn_fixture, OpenReportsUpAndAnErrorRestartsTheConnection)
{
    ASSERT_EQ(event_conn_open(conn), ZERR_OK);
    EXPECT_EQ(event_conn_id(conn), 101);
    EXPECT_EQ(event_conn_open(conn), EVENT_CONN_ALREADY_OPEN);
    evm_run_until_idle(evm);
    EXPECT_EQ(notices, (std::vector<uint32_t>{EVENT_CONN_UP}));

    ASSERT_EQ(event_conn_error(conn), ZERR_OK);
    EXPECT_EQ(event_conn_id(conn), -1);
    evm_run_until_idle(evm);
    EXPECT_EQ(notices, (std::vector<uint32_t>{EVENT_CONN_UP, EVENT_CONN_DOWN, EVENT_CONN_UP}));
    EXPECT_EQ(event_conn_id(conn), 102);

    ASSERT_EQ(event_conn_peer_closed(conn), ZERR_OK);
    evm_run_until_idle(evm);
    EXPECT_EQ(notices.back(), EVENT_CONN_UP);
    EXPECT_EQ(notices[notices.size() - 2], EVENT_CONN_CLOSED);
}

TEST_F(conn_fixture, FailedOpenIsRetriedEverySecond)
{
    fail_opens = 2;
    ASSERT_EQ(event_conn_open(conn), ZERR_OK);
    EXPECT_EQ(event_conn_open(conn), EVENT_CONN_ALREADY_OPEN);
    EXPECT_FALSE(event_conn_is_up(conn));
    ASSERT_EQ(plat_clock_advance_ms(999), ZERR_OK);
    EXPECT_EQ(opens, 1);
    ASSERT_EQ(plat_clock_advance_ms(1), ZERR_OK);
    EXPECT_EQ(opens, 2);
    ASSERT_EQ(plat_clock_advance_ms(1000), ZERR_OK);
    EXPECT_EQ(opens, 3);
    EXPECT_TRUE(event_conn_is_up(conn));
    EXPECT_EQ(notices, (std::vector<uint32_t>{EVENT_CONN_UP}));
}

TEST_F(conn_fixture, DestroyCancelsQueuedNotices)
{
    ASSERT_EQ(event_conn_open(conn), ZERR_OK);
    ASSERT_EQ(event_conn_destroy(conn), ZERR_OK);
    conn = nullptr;
    evm_run_until_idle(evm);
    EXPECT_TRUE(notices.empty());
}

// ---- virtual time across threads ---------------------------------------------------------------

TEST(EvmVirtualTime, AlarmsOfManagersOnTwoThreadsFireInTimeOrderOnTheirOwners)
{
    plat_clock_use_virtual();
    served_manager a(nullptr);
    served_manager b(nullptr);
    struct fired_type {
        std::mutex mu;
        std::vector<std::pair<uint64_t, std::thread::id>> order;
    } fired;
    auto on_alarm = [](evm_alarm_type *alarm, void *ctx) {
        auto *f = static_cast<fired_type *>(ctx);
        std::lock_guard guard(f->mu);
        f->order.emplace_back(fts_get_stamp_fast(), std::this_thread::get_id());
        (void)alarm;
    };
    const uint64_t t0 = fts_get_stamp_fast();
    std::vector<evm_alarm_type *> alarms;
    for (int i = 0; i < 6; ++i) {
        evm_alarm_type *al = evm_alarm_new(i % 2 ? b.evm : a.evm, on_alarm, &fired);
        evm_alarm_set(al, t0 + static_cast<uint64_t>(6 - i) * 1000000ull); // 6 ms down to 1 ms
        alarms.push_back(al);
    }
    a.start();
    b.start();
    evm_wait_until_served(a.evm);
    evm_wait_until_served(b.evm);
    ASSERT_EQ(plat_clock_advance_ms(10), ZERR_OK);
    {
        std::lock_guard guard(fired.mu);
        ASSERT_EQ(fired.order.size(), 6u);
        for (size_t i = 0; i < fired.order.size(); ++i) {
            EXPECT_EQ(fired.order[i].first, t0 + (i + 1) * 1000000ull);
            // 1 ms was set by i = 5 (manager b), 2 ms by i = 4 (manager a), ...
            EXPECT_EQ(fired.order[i].second, (i % 2 == 0 ? b.thread : a.thread).get_id());
        }
    }
    for (evm_alarm_type *al : alarms)
        evm_alarm_free(al);
    a.stop();
    b.stop();
    plat_clock_use_real();
}
