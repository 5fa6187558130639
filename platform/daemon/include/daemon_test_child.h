// Test control of the platform daemon: the daemon and its clients as processes of their own.
#pragma once

#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "evm_test.h"
#include "sockmsg.h"

// A child process with its standard output readable line by line.
struct child_type {
    pid_t pid = -1;
    FILE *out = nullptr;
};

inline child_type spawn(const std::vector<std::string> &args, const std::map<std::string, std::string> &env)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlives a test that crashed
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        for (const auto &[k, v] : env)
            setenv(k.c_str(), v.c_str(), 1);
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    return {pid, fdopen(fds[0], "r")};
}

// A child process with its standard output discarded, as benchmarks start the daemon and their
// peers; `node`, when given, names its node.
inline pid_t spawn_quiet(const std::vector<std::string> &args, const char *node)
{
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (node != nullptr)
            setenv("PTP_NODE", node, 1);
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        if (freopen("/dev/null", "w", stdout) == nullptr)
            _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

inline std::string read_line(const child_type &c)
{
    char buf[256];
    if (c.out == nullptr || fgets(buf, sizeof buf, c.out) == nullptr)
        return "";
    std::string s(buf);
    if (!s.empty() && s.back() == '\n')
        s.pop_back();
    return s;
}

inline void stop(child_type &c)
{
    if (c.pid > 0) {
        kill(c.pid, SIGKILL);
        waitpid(c.pid, nullptr, 0);
    }
    if (c.out != nullptr)
        fclose(c.out);
    c = {};
}

// Removes the shared-memory objects whose names start with `prefix`: the node clocks and counters
// windows a chassis of a test leaves (they outlive their processes by design).
inline void shm_remove_prefixed(const std::string &prefix)
{
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
        const std::string name = entry.path().filename().string();
        if (!prefix.empty() && name.rfind(prefix, 0) == 0)
            shm_unlink(("/" + name).c_str());
    }
}

// Waits until the daemon accepts connections on its socket (at most about 5 s).
inline bool wait_for_daemon(const std::string &socket)
{
    // A limit on failure only: a sanitizer build's daemon on a loaded machine can take seconds.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < end) {
        sockmsg_client_type *c = nullptr;
        if (sockmsg_client_connect(socket.c_str(), nullptr, nullptr, nullptr, nullptr, &c) == 0) {
            sockmsg_client_close(c);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// Copies a chassis file up to its programs, so that the test itself is the node's process.
inline void copy_chassis_without_programs(const std::string &from, std::ofstream &out)
{
    std::ifstream in(from);
    for (std::string line; std::getline(in, line) && line.rfind("# The programs", 0) != 0;)
        out << line << "\n";
}

// Runs the event manager until the condition holds (real time, at most 10 s).
template <typename F>
bool run_until(event_mgr_type *evm, F done)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        if (evm_run_until_idle(evm) == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
