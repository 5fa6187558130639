// Test environment of the interoperation tests: a veth pair whose ends live in two network
// namespaces this process creates (and removes again, also when a test fails), the check that
// the machine can run them, and a capture with the packet analyser.
#pragma once

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace interop {

inline bool tool_found(const char *name)
{
    const std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

// Empty when the machine can run the interop tests, else why not.
inline std::string missing_prerequisite(bool need_ptp4l, bool need_tshark)
{
    if (geteuid() != 0) {
        return "interop tests need root (network namespaces, raw sockets)";
    }
    if (!tool_found("ip") || std::system("ip netns list >/dev/null 2>&1") != 0) {
        return "interop tests need 'ip netns' (iproute2)";
    }
    if (need_ptp4l && !tool_found("ptp4l")) {
        return "interop tests need ptp4l (linuxptp)";
    }
    if (need_tshark && !tool_found("tshark")) {
        return "interop tests need tshark";
    }
    return "";
}

inline std::vector<std::string> split_lines(const std::string &s)
{
    std::vector<std::string> out;
    std::stringstream in(s);
    std::string line;
    while (std::getline(in, line)) {
        out.push_back(line);
    }
    return out;
}

inline int run(const std::string &cmd)
{
    return std::system((cmd + " >/dev/null 2>&1").c_str());
}

inline std::string capture_output(const std::string &cmd)
{
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    if (p == nullptr) {
        return out;
    }
    char buf[4096];
    size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) {
        out.append(buf, n);
    }
    pclose(p);
    return out;
}

// Two namespaces joined by a veth pair: the agent's end "a" and the peer's end "b", with IPv4
// 10.99.0.1/.2 and IPv6 fd99::1/::2 (no duplicate detection, so they are usable at once).
struct veth_pair {
    std::string ns_a, ns_b, dev_a, dev_b;
    bool ok = false;
    static constexpr const char *MAC_A = "02:00:00:00:0a:01";
    static constexpr const char *MAC_B = "02:00:00:00:0b:02";

    veth_pair()
    {
        sweep_stale();
        const std::string id = std::to_string(getpid() % 100000);
        ns_a = "tslA" + id;
        ns_b = "tslB" + id;
        dev_a = "tsa" + id;
        dev_b = "tsb" + id;
        teardown();
        ok = run("ip netns add " + ns_a) == 0 && run("ip netns add " + ns_b) == 0 &&
             run("ip link add " + dev_a + " address " + MAC_A + " netns " + ns_a + " type veth peer name " + dev_b +
                 " address " + MAC_B + " netns " + ns_b) == 0 &&
             in_a("ip addr add 10.99.0.1/24 dev " + dev_a) == 0 &&
             in_a("ip -6 addr add fd99::1/64 dev " + dev_a + " nodad") == 0 &&
             in_b("ip addr add 10.99.0.2/24 dev " + dev_b) == 0 &&
             in_b("ip -6 addr add fd99::2/64 dev " + dev_b + " nodad") == 0 && in_a("ip link set lo up") == 0 &&
             in_b("ip link set lo up") == 0 && in_a("ip link set " + dev_a + " up") == 0 &&
             in_b("ip link set " + dev_b + " up") == 0;
        // Let the links come up before anything is sent.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    ~veth_pair() { teardown(); }
    void teardown()
    {
        run("ip netns del " + ns_a);
        run("ip netns del " + ns_b);
    }
    // Namespaces of test processes that died before their teardown (a sanitizer stop, a kill).
    static void sweep_stale()
    {
        for (const std::string &line : split_lines(capture_output("ip netns list 2>/dev/null"))) {
            const std::string name = line.substr(0, line.find(' '));
            if (name.size() > 4 && (name.compare(0, 4, "tslA") == 0 || name.compare(0, 4, "tslB") == 0) &&
                name.find_first_not_of("0123456789", 4) == std::string::npos) {
                const std::string pid = name.substr(4);
                if (kill(static_cast<pid_t>(std::stol(pid)), 0) != 0 && errno == ESRCH) {
                    run("ip netns del " + name);
                }
            }
        }
    }
    int in_a(const std::string &cmd) const { return run("ip netns exec " + ns_a + " " + cmd); }
    int in_b(const std::string &cmd) const { return run("ip netns exec " + ns_b + " " + cmd); }
};

// A program running in a namespace until stopped (SIGINT, then SIGKILL).
struct ns_process {
    pid_t pid = -1;
    std::string log;

    ns_process(const std::string &ns, const std::string &cmd, const std::string &logfile) : log(logfile)
    {
        pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            // Gone with the test, even when it dies without its teardown.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            const std::string full = "exec ip netns exec " + ns + " " + cmd + " >" + logfile + " 2>&1";
            execl("/bin/sh", "sh", "-c", full.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
    }
    ~ns_process() { stop(); }
    void stop()
    {
        if (pid <= 0) {
            return;
        }
        kill(-pid, SIGINT);
        for (int i = 0; i < 50; i++) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        kill(-pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
    std::string output() const
    {
        std::ifstream f(log);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    // Waits until the log holds the text (or the time is up).
    bool wait_for(const std::string &text, int ms) const
    {
        for (int waited = 0; waited < ms; waited += 100) {
            if (output().find(text) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }
};

inline std::string temp_path(const std::string &name)
{
    return "/tmp/tessel-interop-" + std::to_string(getpid()) + "-" + name;
}

// Removes the files of a passed test (kept with INTEROP_KEEP set, to look at what passed).
inline void remove_files(std::initializer_list<std::string> paths)
{
    if (std::getenv("INTEROP_KEEP") != nullptr) {
        return;
    }
    for (const std::string &p : paths) {
        std::remove(p.c_str());
    }
}

} // namespace interop
