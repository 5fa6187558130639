// The database of a test process: the same service the daemon hosts, on a thread of its own.
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "nodra_service.h"
#include "nodra_test.h"
#include "nodra_wire.h"

void nodra_test_client_reset();
zerrno nodra_test_request(uint16_t type, const void *payload, uint32_t length);

namespace {

struct test_server_type {
    std::string dir;
    std::string socket;
    std::string store;
    event_mgr_type *evm = nullptr;
    sockmsg_server_type *server = nullptr;
    std::atomic<bool> stop{false};
    std::thread thread;
};

std::mutex server_lock;
test_server_type *running = nullptr;

// A test process seldom stops its server: its directory goes when the process ends (the
// server's thread may still have the store open, which is harmless once the files are unlinked).
void remove_left_directory()
{
    std::lock_guard guard(server_lock);
    if (running != nullptr) {
        std::error_code ignored;
        std::filesystem::remove_all(running->dir, ignored);
    }
}

} // namespace

zerrno nodra_test_server_start()
{
    std::lock_guard guard(server_lock);
    if (running != nullptr)
        return ZERR_OK;
    auto *t = new test_server_type;
    char tmpl[] = "/tmp/nodra_test.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
        delete t;
        return NODRA_ERR_STORE;
    }
    t->dir = tmpl;
    static std::once_flag at_exit;
    std::call_once(at_exit, [] { atexit(remove_left_directory); });
    t->socket = t->dir + "/run/platform.sock";
    t->store = t->dir + "/nodra.db";
    t->evm = event_create_manager(nullptr, nullptr, 0);
    zerrno err = t->evm != nullptr ? sockmsg_server_create(t->evm, t->socket.c_str(), &t->server) : NODRA_ERR_NO_MEMORY;
    if (err == ZERR_OK)
        err = nodra_service_init_at(t->evm, t->server, t->store.c_str());
    if (err != ZERR_OK) {
        if (t->server != nullptr)
            sockmsg_server_destroy(t->server);
        if (t->evm != nullptr)
            event_manager_destroy(t->evm);
        delete t;
        return err;
    }
    t->thread = std::thread([t] {
        set_thread_name("nodra-test");
        while (!t->stop.load()) {
            event_type *ev = event_block(t->evm);
            if (ev != nullptr)
                zq_event_dispatch(ev);
        }
    });
    running = t;
    nodra_test_use_socket(t->socket.c_str());
    return ZERR_OK;
}

void nodra_test_server_stop()
{
    std::lock_guard guard(server_lock);
    test_server_type *t = running;
    if (t == nullptr)
        return;
    running = nullptr;
    nodra_test_use_socket(nullptr);
    t->stop = true;
    event_manager_wakeup(t->evm);
    t->thread.join();
    sockmsg_server_destroy(t->server);
    nodra_service_shutdown();
    event_manager_destroy(t->evm);
    const std::string cmd = "rm -rf '" + t->dir + "'";
    if (system(cmd.c_str()) != 0) {
        // Only a temporary directory is left behind.
    }
    delete t;
}

const char *nodra_test_server_socket()
{
    std::lock_guard guard(server_lock);
    return running != nullptr ? running->socket.c_str() : "";
}

const char *nodra_test_server_store()
{
    std::lock_guard guard(server_lock);
    return running != nullptr ? running->store.c_str() : "";
}

void nodra_test_reset()
{
    nodra_test_client_reset();
    if (nodra_test_server_start() == ZERR_OK)
        nodra_test_request(NODRA_MSG_TEST_RESET, nullptr, 0);
}

zerrno nodra_test_item_set(const char *path, uint32_t type, const void *data, uint32_t length)
{
    if (path == nullptr || (data == nullptr && length != 0))
        return NODRA_ERR_INVALID;
    if (zerrno err = nodra_test_server_start(); err != ZERR_OK)
        return err;
    nodra_wire_writer w;
    w.str(path);
    w.u32(type);
    w.bytes(data, length);
    return nodra_test_request(NODRA_MSG_TEST_SET, w.out.data(), static_cast<uint32_t>(w.out.size()));
}

zerrno nodra_test_item_remove(const char *path)
{
    if (path == nullptr || path[0] != '/')
        return NODRA_ERR_INVALID;
    if (zerrno err = nodra_test_server_start(); err != ZERR_OK)
        return err;
    nodra_wire_writer w;
    w.str(path);
    return nodra_test_request(NODRA_MSG_TEST_REMOVE, w.out.data(), static_cast<uint32_t>(w.out.size()));
}
