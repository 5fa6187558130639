#include "evm_test_thread.h"
#include "sockmsg.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

template <typename Pred>
bool eventually(Pred pred)
{
    for (int i = 0; i < 5000; ++i) {
        if (pred())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return pred();
}

constexpr uint16_t echo_service = 7;

// A service that echoes requests, parks the ones of type 2, and records disconnects.
struct echo_state {
    std::mutex lock;
    std::vector<sockmsg_call_type *> parked;
    std::vector<std::string> disconnects;
    std::vector<sockmsg_peer_type> peers;
    std::vector<sockmsg_session_type *> sessions;
};

echo_state *echo()
{
    static echo_state s;
    return &s;
}

void echo_handler(sockmsg_session_type *session, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    std::lock_guard<std::mutex> guard(echo()->lock);
    echo()->peers.push_back(*sockmsg_session_peer(session));
    if (sockmsg_session_state(session, echo_service) == nullptr) {
        sockmsg_session_set_state(session, echo_service, new std::string(reinterpret_cast<const char *>(data), length));
        echo()->sessions.push_back(session);
    }
    if (call != nullptr)
        sockmsg_reply(call, 5, data, length);
}

void park_handler(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *, uint32_t, void *)
{
    std::lock_guard<std::mutex> guard(echo()->lock);
    echo()->parked.push_back(call);
}

// Answers with two notices before the reply, so that order can be seen.
void notice_handler(sockmsg_session_type *session, sockmsg_call_type *call, const uint8_t *, uint32_t, void *)
{
    sockmsg_notify(session, echo_service, 10, "n1", 2);
    sockmsg_notify(session, echo_service, 11, "n2", 2);
    if (call != nullptr)
        sockmsg_reply(call, 0, "r", 1);
}

void echo_disconnect(sockmsg_session_type *session, void *state, void *)
{
    auto *text = static_cast<std::string *>(state);
    std::lock_guard<std::mutex> guard(echo()->lock);
    echo()->disconnects.push_back(text != nullptr ? *text : "");
    std::erase(echo()->sessions, session);
    delete text;
}

constexpr sockmsg_handler_row echo_rows[] = {{1, echo_handler}, {2, park_handler}, {3, notice_handler}};
const sockmsg_service_type echo_svc = {echo_service, "echo", echo_rows, 3, echo_disconnect, nullptr};

class SockmsgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/sockmsg_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        path_ = root_ + "/run/platform.sock";
        {
            std::lock_guard<std::mutex> guard(echo()->lock);
            echo()->parked.clear();
            echo()->disconnects.clear();
            echo()->peers.clear();
            echo()->sessions.clear();
        }
        server_thread_.run([this] {
            ASSERT_EQ(sockmsg_server_create(server_thread_.evm, path_.c_str(), &server_), ZERR_OK);
            ASSERT_EQ(sockmsg_server_register(server_, &echo_svc), ZERR_OK);
        });
    }

    void TearDown() override
    {
        server_thread_.run([this] { sockmsg_server_destroy(server_); });
        std::string cmd = "rm -rf " + root_;
        ASSERT_EQ(system(cmd.c_str()), 0);
    }

    // A raw connection that writes whatever bytes a test gives it.
    int raw_connect()
    {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        strcpy(addr.sun_path, path_.c_str());
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
        return fd;
    }

    // Reads one frame from a raw connection.
    static bool raw_read(int fd, sockmsg_header_type *h, std::vector<uint8_t> *payload)
    {
        uint8_t head[SOCKMSG_HEADER_SIZE];
        if (recv(fd, head, sizeof head, MSG_WAITALL) != static_cast<ssize_t>(sizeof head))
            return false;
        if (sockmsg_header_decode(head, h) != ZERR_OK)
            return false;
        payload->resize(h->length);
        return h->length == 0 || recv(fd, payload->data(), h->length, MSG_WAITALL) == static_cast<ssize_t>(h->length);
    }

    std::string root_;
    std::string path_;
    evm_thread server_thread_;
    sockmsg_server_type *server_ = nullptr;
};

TEST_F(SockmsgTest, PrivateDirectoryAndSocketModes)
{
    struct stat dir {
    }, sock{};
    ASSERT_EQ(stat((root_ + "/run").c_str(), &dir), 0);
    ASSERT_EQ(stat(path_.c_str(), &sock), 0);
    EXPECT_EQ(dir.st_mode & 0777, 0700u);
    EXPECT_EQ(sock.st_mode & 0777, 0600u);
    EXPECT_TRUE(S_ISSOCK(sock.st_mode));

    // A second server on a path that answers is refused; an open directory is refused.
    sockmsg_server_type *other = nullptr;
    server_thread_.run(
        [&] { EXPECT_EQ(sockmsg_server_create(server_thread_.evm, path_.c_str(), &other), SOCKMSG_ERR_IN_USE); });
    ASSERT_EQ(mkdir((root_ + "/open").c_str(), 0755), 0);
    const std::string open_path = root_ + "/open/s.sock";
    server_thread_.run([&] {
        EXPECT_EQ(sockmsg_server_create(server_thread_.evm, open_path.c_str(), &other), SOCKMSG_ERR_SOCKET | EACCES);
    });
}

TEST_F(SockmsgTest, StaleSocketFileIsReplaced)
{
    server_thread_.run([this] { sockmsg_server_destroy(server_); });
    // A socket file left by a server that died without removing it.
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    strcpy(addr.sun_path, path_.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    close(fd);
    server_thread_.run(
        [this] { ASSERT_EQ(sockmsg_server_create(server_thread_.evm, path_.c_str(), &server_), ZERR_OK); });
    server_thread_.run([this] { ASSERT_EQ(sockmsg_server_register(server_, &echo_svc), ZERR_OK); });
    sockmsg_client_type *c = nullptr;
    ASSERT_EQ(sockmsg_client_connect(path_.c_str(), nullptr, nullptr, nullptr, nullptr, &c), ZERR_OK);
    uint32_t status = 0;
    std::vector<uint8_t> reply;
    ASSERT_EQ(sockmsg_client_call(c, echo_service, 1, "x", 1, &status, &reply), ZERR_OK);
    EXPECT_EQ(status, 5u);
    sockmsg_client_close(c);
}

TEST(SockmsgPath, EnvironmentOverridesTheDefault)
{
    unsetenv("PTP_PLATFORM_SOCKET");
    EXPECT_STREQ(plat_socket_path(), "/run/ptp/platform.sock");
    setenv("PTP_PLATFORM_SOCKET", "", 1);
    EXPECT_STREQ(plat_socket_path(), "/run/ptp/platform.sock");
    setenv("PTP_PLATFORM_SOCKET", "/tmp/x/p.sock", 1);
    EXPECT_STREQ(plat_socket_path(), "/tmp/x/p.sock");
    unsetenv("PTP_PLATFORM_SOCKET");
}

TEST(SockmsgTimeout, OverrideThenEnvironmentThenTheDefault)
{
    struct case_type {
        const char *env; // null: unset
        uint32_t set;
        uint32_t want;
    };
    const case_type cases[] = {
        {nullptr, 0, SOCKMSG_TIMEOUT_MS_DEFAULT},
        {"250", 0, 250},
        {"0", 0, SOCKMSG_TIMEOUT_MS_DEFAULT},
        {"12ms", 0, SOCKMSG_TIMEOUT_MS_DEFAULT},
        {"", 0, SOCKMSG_TIMEOUT_MS_DEFAULT},
        {"-5", 0, SOCKMSG_TIMEOUT_MS_DEFAULT},
        {"99999999999", 0, SOCKMSG_TIMEOUT_MS_DEFAULT},
        {"250", 40, 40},
        {nullptr, 40, 40},
    };
    for (const case_type &tc : cases) {
        SCOPED_TRACE(tc.env != nullptr ? tc.env : "unset");
        if (tc.env != nullptr)
            setenv("PTP_PLATFORM_TIMEOUT_MS", tc.env, 1);
        else
            unsetenv("PTP_PLATFORM_TIMEOUT_MS");
        sockmsg_set_timeout_ms(tc.set);
        EXPECT_EQ(sockmsg_timeout_ms(), tc.want);
    }
    sockmsg_set_timeout_ms(0);
    unsetenv("PTP_PLATFORM_TIMEOUT_MS");
}

TEST_F(SockmsgTest, BlockingCallCarriesPayloadStatusAndPeerCredentials)
{
    sockmsg_client_type *c = nullptr;
    ASSERT_EQ(sockmsg_client_connect(path_.c_str(), nullptr, nullptr, nullptr, nullptr, &c), ZERR_OK);
    std::vector<uint8_t> big(3u << 20);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<uint8_t>(i * 7);
    uint32_t status = 0;
    std::vector<uint8_t> reply;
    ASSERT_EQ(sockmsg_client_call(c, echo_service, 1, big.data(), static_cast<uint32_t>(big.size()), &status, &reply),
              ZERR_OK);
    EXPECT_EQ(status, 5u);
    EXPECT_EQ(reply, big);
    {
        std::lock_guard<std::mutex> guard(echo()->lock);
        ASSERT_EQ(echo()->peers.size(), 1u);
        EXPECT_EQ(echo()->peers[0].pid, getpid());
        EXPECT_EQ(echo()->peers[0].uid, geteuid());
    }
    // Unknown service or message type: an error to this request, the connection stays.
    ASSERT_EQ(sockmsg_client_call(c, 99, 1, nullptr, 0, &status, &reply), ZERR_OK);
    EXPECT_EQ(status, SOCKMSG_ERR_NO_SERVICE);
    ASSERT_EQ(sockmsg_client_call(c, echo_service, 42, nullptr, 0, &status, &reply), ZERR_OK);
    EXPECT_EQ(status, SOCKMSG_ERR_NO_SERVICE);
    ASSERT_EQ(sockmsg_client_call(c, echo_service, 1, "y", 1, &status, &reply), ZERR_OK);
    EXPECT_EQ(status, 5u);
    sockmsg_client_close(c);
}

TEST_F(SockmsgTest, NoticesAndRepliesRunOnTheClientManagerInOrder)
{
    evm_thread client_thread;
    std::mutex lock;
    std::vector<std::string> seen;
    struct ctx_type {
        std::mutex *lock;
        std::vector<std::string> *seen;
        event_mgr_type *evm;
    } ctx{&lock, &seen, client_thread.evm};
    auto on_notice = [](sockmsg_client_type *, uint16_t, uint16_t type, const uint8_t *data, uint32_t len, void *c) {
        auto *x = static_cast<ctx_type *>(c);
        std::lock_guard<std::mutex> guard(*x->lock);
        x->seen->push_back("notice " + std::to_string(type) + " " +
                           std::string(reinterpret_cast<const char *>(data), len));
    };
    auto on_reply = [](sockmsg_client_type *, uint32_t status, const uint8_t *data, uint32_t len, void *c) {
        auto *x = static_cast<ctx_type *>(c);
        std::lock_guard<std::mutex> guard(*x->lock);
        x->seen->push_back("reply " + std::to_string(status) + " " +
                           std::string(reinterpret_cast<const char *>(data), len));
    };
    sockmsg_client_type *c = nullptr;
    ASSERT_EQ(sockmsg_client_connect(path_.c_str(), client_thread.evm, on_notice, nullptr, &ctx, &c), ZERR_OK);
    ASSERT_EQ(sockmsg_client_request(c, echo_service, 3, nullptr, 0, on_reply, &ctx), ZERR_OK);
    ASSERT_EQ(sockmsg_client_request(c, echo_service, 1, "e", 1, on_reply, &ctx), ZERR_OK);
    ASSERT_TRUE(eventually([&] {
        std::lock_guard<std::mutex> guard(lock);
        return seen.size() == 4;
    }));
    EXPECT_EQ(seen, (std::vector<std::string>{"notice 10 n1", "notice 11 n2", "reply 0 r", "reply 5 e"}));
    client_thread.run([&] { sockmsg_client_close(c); });
}

TEST_F(SockmsgTest, DisconnectFreesSessionStateAndParkedReplyFindsTheClientGone)
{
    sockmsg_client_type *other = nullptr;
    ASSERT_EQ(sockmsg_client_connect(path_.c_str(), nullptr, nullptr, nullptr, nullptr, &other), ZERR_OK);
    const int fd = raw_connect();
    uint8_t frame[SOCKMSG_HEADER_SIZE + 5];
    sockmsg_header_encode({5, SOCKMSG_SEND, echo_service, 1, 0, 0}, frame);
    memcpy(frame + SOCKMSG_HEADER_SIZE, "alpha", 5);
    ASSERT_EQ(send(fd, frame, sizeof frame, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof frame));
    sockmsg_header_encode({0, SOCKMSG_REQUEST, echo_service, 2, 9, 0}, frame);
    ASSERT_EQ(send(fd, frame, SOCKMSG_HEADER_SIZE, MSG_NOSIGNAL), static_cast<ssize_t>(SOCKMSG_HEADER_SIZE));
    ASSERT_TRUE(eventually([] {
        std::lock_guard<std::mutex> guard(echo()->lock);
        return echo()->parked.size() == 1;
    }));
    close(fd);
    ASSERT_TRUE(eventually([] {
        std::lock_guard<std::mutex> guard(echo()->lock);
        return echo()->disconnects.size() == 1;
    }));
    EXPECT_EQ(echo()->disconnects[0], "alpha");
    sockmsg_call_type *parked = echo()->parked[0];
    server_thread_.run([&] { EXPECT_EQ(sockmsg_reply(parked, 0, nullptr, 0), SOCKMSG_ERR_GONE); });
    EXPECT_EQ(sockmsg_server_sessions(server_), 1u);
    sockmsg_client_close(other);
}

TEST_F(SockmsgTest, BlockingCallIsReleasedWhenTheServerGoes)
{
    sockmsg_client_type *c = nullptr;
    ASSERT_EQ(sockmsg_client_connect(path_.c_str(), nullptr, nullptr, nullptr, nullptr, &c), ZERR_OK);
    std::thread waiter([c] {
        uint32_t status = 0;
        EXPECT_EQ(sockmsg_client_call(c, echo_service, 2, nullptr, 0, &status, nullptr), SOCKMSG_ERR_CLOSED);
    });
    ASSERT_TRUE(eventually([] {
        std::lock_guard<std::mutex> guard(echo()->lock);
        return echo()->parked.size() == 1;
    }));
    server_thread_.run([this] {
        sockmsg_server_destroy(server_);
        ASSERT_EQ(sockmsg_server_create(server_thread_.evm, path_.c_str(), &server_), ZERR_OK);
    });
    waiter.join();
    EXPECT_FALSE(sockmsg_client_is_open(c));
    EXPECT_EQ(sockmsg_client_send(c, echo_service, 1, "x", 1), SOCKMSG_ERR_CLOSED);
    sockmsg_client_close(c);
    EXPECT_EQ(sockmsg_reply(echo()->parked[0], 0, nullptr, 0), SOCKMSG_ERR_GONE);
}

// A server that takes a request and never answers it: the call fails with the time-out and the
// connection goes on; the late reply finds nobody waiting, and the next call gets its own.
TEST_F(SockmsgTest, ACallWithoutReplyTimesOutAndTheConnectionGoesOn)
{
    sockmsg_client_type *c = nullptr;
    ASSERT_EQ(sockmsg_client_connect(path_.c_str(), nullptr, nullptr, nullptr, nullptr, &c), ZERR_OK);
    sockmsg_set_timeout_ms(50);
    uint32_t status = 0;
    std::vector<uint8_t> reply;
    EXPECT_EQ(sockmsg_client_call(c, echo_service, 2, "late", 4, &status, &reply), SOCKMSG_ERR_TIMEOUT);
    sockmsg_set_timeout_ms(0);
    ASSERT_TRUE(eventually([] {
        std::lock_guard<std::mutex> guard(echo()->lock);
        return echo()->parked.size() == 1;
    }));
    sockmsg_call_type *parked = echo()->parked[0];
    server_thread_.run([&] { EXPECT_EQ(sockmsg_reply(parked, 9, "stale", 5), ZERR_OK); });
    ASSERT_EQ(sockmsg_client_call(c, echo_service, 1, "next", 4, &status, &reply), ZERR_OK);
    EXPECT_EQ(status, 5u);
    EXPECT_EQ(std::string(reply.begin(), reply.end()), "next");
    EXPECT_TRUE(sockmsg_client_is_open(c));
    sockmsg_client_close(c);
}

// A far end that reads nothing: a request larger than the socket's buffers fails with the
// time-out, and the connection, cut inside a frame, is closed.
TEST_F(SockmsgTest, ARequestTheFarEndDoesNotTakeTimesOutAndClosesTheConnection)
{
    const std::string silent = root_ + "/silent.sock";
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    strcpy(addr.sun_path, silent.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 1), 0); // never accepted, never read
    sockmsg_client_type *c = nullptr;
    ASSERT_EQ(sockmsg_client_connect(silent.c_str(), nullptr, nullptr, nullptr, nullptr, &c), ZERR_OK);
    sockmsg_set_timeout_ms(50);
    const std::vector<uint8_t> big(8u << 20);
    EXPECT_EQ(sockmsg_client_send(c, echo_service, 1, big.data(), static_cast<uint32_t>(big.size())),
              SOCKMSG_ERR_TIMEOUT);
    sockmsg_set_timeout_ms(0);
    EXPECT_TRUE(eventually([c] { return !sockmsg_client_is_open(c); }));
    uint32_t status = 0;
    EXPECT_EQ(sockmsg_client_call(c, echo_service, 1, "x", 1, &status, nullptr), SOCKMSG_ERR_CLOSED);
    sockmsg_client_close(c);
    close(listener);
}

TEST_F(SockmsgTest, KilledClientProcessIsDisconnected)
{
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        sockmsg_client_type *c = nullptr;
        if (sockmsg_client_connect(path_.c_str(), nullptr, nullptr, nullptr, nullptr, &c) != ZERR_OK)
            _exit(1);
        uint32_t status = 0;
        sockmsg_client_call(c, echo_service, 1, "child", 5, &status, nullptr);
        pause();
        _exit(0);
    }
    ASSERT_TRUE(eventually([] {
        std::lock_guard<std::mutex> guard(echo()->lock);
        return !echo()->peers.empty();
    }));
    EXPECT_EQ(echo()->peers[0].pid, child);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    ASSERT_TRUE(eventually([] {
        std::lock_guard<std::mutex> guard(echo()->lock);
        return echo()->disconnects.size() == 1;
    }));
    EXPECT_EQ(echo()->disconnects[0], "child");
}

// Bad frames are refused with an error to their sender only; the server goes on serving others.
TEST_F(SockmsgTest, MalformedOversizedAndTruncatedFramesHurtOnlyTheirSender)
{
    sockmsg_client_type *good = nullptr;
    ASSERT_EQ(sockmsg_client_connect(path_.c_str(), nullptr, nullptr, nullptr, nullptr, &good), ZERR_OK);

    struct case_type {
        const char *what;
        sockmsg_header_type header;
        uint8_t reserved;     // written into byte 5
        uint32_t truncate_to; // 0: the whole frame
    } cases[] = {
        {"oversized", {SOCKMSG_MAX_PAYLOAD + 1, SOCKMSG_REQUEST, echo_service, 1, 77, 0}, 0, 0},
        {"unknown kind", {0, 9, echo_service, 1, 78, 0}, 0, 0},
        {"reserved byte", {0, SOCKMSG_REQUEST, echo_service, 1, 79, 0}, 1, 0},
        {"server-side kind", {0, SOCKMSG_NOTICE, echo_service, 1, 80, 0}, 0, 0},
        {"truncated", {100, SOCKMSG_REQUEST, echo_service, 1, 81, 0}, 0, 30},
    };
    for (const auto &tc : cases) {
        SCOPED_TRACE(tc.what);
        const int fd = raw_connect();
        uint8_t frame[SOCKMSG_HEADER_SIZE + 100] = {};
        sockmsg_header_encode(tc.header, frame);
        frame[5] = tc.reserved;
        const size_t size = tc.truncate_to != 0 ? tc.truncate_to : SOCKMSG_HEADER_SIZE;
        ASSERT_EQ(send(fd, frame, size, MSG_NOSIGNAL), static_cast<ssize_t>(size));
        if (tc.truncate_to != 0) {
            shutdown(fd, SHUT_WR);
        } else {
            sockmsg_header_type h{};
            std::vector<uint8_t> payload;
            ASSERT_TRUE(raw_read(fd, &h, &payload));
            EXPECT_EQ(h.kind, SOCKMSG_REPLY);
            EXPECT_EQ(h.id, tc.header.id);
            EXPECT_EQ(h.status, SOCKMSG_ERR_FRAME);
        }
        close(fd);
        uint32_t status = 0;
        ASSERT_EQ(sockmsg_client_call(good, echo_service, 1, "ok", 2, &status, nullptr), ZERR_OK);
        EXPECT_EQ(status, 5u);
    }
    EXPECT_TRUE(eventually([this] { return sockmsg_server_sessions(server_) == 1; }));
    sockmsg_client_close(good);
}

} // namespace
