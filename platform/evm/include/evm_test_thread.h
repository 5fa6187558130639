// Test control of the event managers: a manager served by a thread of its own, as a process's
// main loop would serve it, for tests that talk across threads or sockets.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include "evm.h"

// An event manager served by its own thread, as in a process of its own.
struct evm_thread {
    event_mgr_type *evm = event_create_manager(nullptr, nullptr, 0);
    std::atomic<bool> stop{false};
    std::thread thread{[this] {
        while (!stop.load()) {
            event_type *ev = event_block(evm);
            if (ev != nullptr)
                zq_event_dispatch(ev);
        }
    }};

    // Runs fn on the manager's thread and waits for it.
    template <typename Fn>
    void run(Fn fn)
    {
        std::atomic<bool> done{false};
        struct ctx_type {
            Fn *fn;
            std::atomic<bool> *done;
        } ctx{&fn, &done};
        event_async_ctx_type a{};
        event_async_attach_event(
            evm, 0,
            [](const event_async_ctx_type *, int32_t, void *c) {
                auto *x = static_cast<ctx_type *>(c);
                (*x->fn)();
                x->done->store(true);
                return 0;
            },
            &ctx, &a);
        event_send_async(a.coid, a.code, 0);
        while (!done.load())
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        event_async_attach(evm, a.code, nullptr, nullptr);
    }

    // Waits until every callback queued so far has run.
    void drain()
    {
        run([] {});
    }

    ~evm_thread()
    {
        stop = true;
        event_manager_wakeup(evm);
        thread.join();
        event_manager_destroy(evm);
    }
};
