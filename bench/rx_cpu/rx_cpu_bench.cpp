// CPU of the agent per received PTP message over veth, against ptp4l's in the same run. A sender
// in a namespace of its own sends one stream of Announce messages at a fixed rate into two veth
// pairs: one ends at a line card of a running chassis (the platform daemon with its route
// processor's controller and global verifier and the line card's agent `tessel`, the line card's
// interface bound to the veth in a namespace of the chassis, PTP committed on it by the operator
// as a slave-only port), the other at ptp4l as a slave-only port that never adjusts the host's
// clock. The agent process's CPU time (all its threads) over a window is divided by the messages
// its interface counted in that window, ptp4l's by its own count, at each rate; the ratio is the
// agent's figure over ptp4l's (the goal: at most a tenth).
//
//   rx_cpu_bench [--seconds N] [--rates R,R,...] [--pin AGENT_CPU,PTP4L_CPU]
//
// Needs root, 'ip netns' and ptp4l (pmc for ptp4l's own count); without them it says why and
// exits 0. It removes its namespaces, veths and files when it ends, also on Ctrl-C.
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_chassis.h"
#include "interop_env.h"
#include "ptp_types.h"

namespace {

using interop::capture_output;
using interop::run;

constexpr uint64_t SENDER_CLOCK_ID = 0x020000fffe005e01ull;
const uint8_t PTP_MCAST[6] = {0x01, 0x1b, 0x19, 0x00, 0x00, 0x00};
const uint8_t SENDER_MAC[6] = {0x02, 0x00, 0x00, 0x00, 0x5e, 0x01};

std::atomic<bool> interrupted{false};

void on_signal(int)
{
    interrupted = true;
}

// The run's names: three namespaces (sender, agent, ptp4l) and two veth pairs from the sender.
struct names {
    std::string ns_s, ns_a, ns_p, snd_a, agt, snd_p, p4l, conf, uds, log;
    explicit names(pid_t pid)
    {
        const std::string id = std::to_string(pid % 100000);
        ns_s = "rxcS" + id;
        ns_a = "rxcA" + id;
        ns_p = "rxcP" + id;
        snd_a = "rxs" + id + "a";
        agt = "rxa" + id;
        snd_p = "rxs" + id + "p";
        p4l = "rxp" + id;
        const std::string base = "/tmp/rx_cpu_bench-" + std::to_string(pid);
        conf = base + "-ptp4l.conf";
        uds = base + "-ptp4l.uds";
        log = base + "-ptp4l.log";
    }
};

// Namespaces of runs that died before their teardown.
void sweep_stale()
{
    for (const std::string &line : interop::split_lines(capture_output("ip netns list 2>/dev/null"))) {
        const std::string name = line.substr(0, line.find(' '));
        if (name.size() > 4 && name.compare(0, 3, "rxc") == 0 && std::strchr("SAP", name[3]) != nullptr &&
            name.find_first_not_of("0123456789", 4) == std::string::npos &&
            kill(static_cast<pid_t>(std::stol(name.substr(4))), 0) != 0 && errno == ESRCH) {
            run("ip netns del " + name);
        }
    }
}

void teardown(const names &n)
{
    for (const std::string &ns : {n.ns_s, n.ns_a, n.ns_p}) {
        run("ip netns del " + ns);
    }
    for (const std::string &f : {n.conf, n.uds, n.log}) {
        std::remove(f.c_str());
    }
}

bool setup(const names &n)
{
    bool ok = true;
    for (const std::string &ns : {n.ns_s, n.ns_a, n.ns_p}) {
        // No IPv6 on the links: nothing but the stream reaches the receivers.
        ok = ok && run("ip netns add " + ns) == 0 &&
             run("ip netns exec " + ns +
                 " sysctl -qw net.ipv6.conf.all.disable_ipv6=1 "
                 "net.ipv6.conf.default.disable_ipv6=1") == 0 &&
             run("ip -n " + ns + " link set lo up") == 0;
    }
    ok = ok &&
         run("ip link add " + n.snd_a + " netns " + n.ns_s + " type veth peer name " + n.agt + " netns " + n.ns_a) ==
             0 &&
         run("ip link add " + n.snd_p + " netns " + n.ns_s + " type veth peer name " + n.p4l + " netns " + n.ns_p) == 0;
    for (const auto &[ns, dev] :
         {std::pair{n.ns_s, n.snd_a}, std::pair{n.ns_s, n.snd_p}, std::pair{n.ns_a, n.agt}, std::pair{n.ns_p, n.p4l}}) {
        ok = ok && run("ip -n " + ns + " link set " + dev + " up") == 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return ok;
}

// ---- The chassis ----

constexpr const char *AGENT_NODE = "0/1/CPU0";
constexpr const char *AGENT_INTF = "Gi0/1/0/1";
constexpr uint8_t DOMAIN = 24;

// A route processor and one line card whose interface is the agent's end of its veth pair.
std::string chassis_toml(const names &n)
{
    return "[chassis]\nlr_mac = \"02:00:5e:10:00:01\"\n\n"
           "[[node]]\nname = \"0/RP0/CPU0\"\nid = 0x100\nrole = \"rp\"\nkvolm = true\n\n"
           "[[node]]\nname = \"0/1/CPU0\"\nid = 0x010\nrole = \"lc\"\n\n"
           "[[node.interface]]\nname = \"" +
           std::string(AGENT_INTF) +
           "\"\nhandle = 0x01000101\ntype = 15\nmac = \"02:00:5e:10:01:01\"\n"
           "device = \"" +
           n.agt + "\"\nnetns = \"" + n.ns_a +
           "\"\n\n"
           "[[process]]\nname = \"tessel\"\nprogram = \"tessel\"\nrestart_on_config = true\n\n"
           "[[process]]\nname = \"quorrin\"\nprogram = \"quorrin\"\nnodes = \"rp\"\n\n"
           "[[process]]\nname = \"sardo\"\nprogram = \"sardo\"\nnodes = \"rp\"\nrestart_on_global_config = true\n";
}

// The operator's configuration: a G.8275.1-style profile over Ethernet multicast, the line card's
// interface slave only.
std::string chassis_config()
{
    const std::string intf = std::string("/cfg/if/act/") + AGENT_INTF + "/ptp/pi/";
    return "set /cfg/gl/ptp/pi/enable 1\n"
           "set /cfg/gl/ptp/pi/clock/profile (2,1)\n"
           "set /cfg/gl/ptp/pi/clock/domain " +
           std::to_string(DOMAIN) +
           "\n"
           "set /cfg/gl/ptp/pi/profile/l2-8275-1/transport 1\n"
           "set /cfg/gl/ptp/pi/profile/l2-8275-1/multicast (2,0,)\n"
           "set " +
           intf + "enable 1\nset " + intf + "profile l2-8275-1\nset " + intf + "port-state 1\ncommit\n";
}

// The agent's count of PTP messages received on its interface; -1 when it cannot be read.
int64_t agent_received()
{
    uint64_t received = 0;
    uint64_t sent = 0;
    return bench_chassis_packet_counters(AGENT_INTF, &received, &sent) ? static_cast<int64_t>(received) : -1;
}

// ---- ptp4l ----

void write_ptp4l_conf(const names &n)
{
    std::ofstream f(n.conf);
    // Slave only, and its servo never touches the host's clock: it hands offsets to a
    // shared-memory segment (in an IPC namespace of its own) and never steps; no Sync comes anyway.
    f << "[global]\nslaveOnly 1\nclock_servo ntpshm\nstep_threshold 0.0\nfirst_step_threshold 0.0\n"
         "domainNumber "
      << int{DOMAIN} << "\nlogAnnounceInterval 0\n"
      << "uds_address " << n.uds << "\n";
}

// ptp4l's own count of the Announce messages it received; -1 when pmc cannot tell.
int64_t ptp4l_announce_count(const names &n)
{
    const std::string out = capture_output("ip netns exec " + n.ns_p + " pmc -u -b 0 -d " + std::to_string(DOMAIN) +
                                           " -s " + n.uds + " 'GET PORT_STATS_NP' 2>/dev/null");
    const size_t at = out.find("rx_Announce");
    if (at == std::string::npos) {
        return -1;
    }
    return std::strtoll(out.c_str() + at + std::strlen("rx_Announce"), nullptr, 10);
}

// The process of a pid, once it is ptp4l (the shell and 'ip netns exec' before it replace
// themselves).
bool is_ptp4l(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/comm");
    std::string comm;
    std::getline(f, comm);
    return comm == "ptp4l";
}

// ---- Measuring ----

std::vector<uint8_t> announce_frame()
{
    std::vector<uint8_t> f(14 + 64, 0);
    std::memcpy(f.data(), PTP_MCAST, 6);
    std::memcpy(f.data() + 6, SENDER_MAC, 6);
    f[12] = 0x88;
    f[13] = 0xF7;
    uint8_t *m = f.data() + 14;
    m[0] = PTP_MSG_ANNOUNCE;
    m[1] = 2;
    m[3] = 64;
    m[4] = DOMAIN;
    for (int i = 0; i < 8; i++) {
        m[20 + i] = static_cast<uint8_t>(SENDER_CLOCK_ID >> (56 - 8 * i));
        m[53 + i] = static_cast<uint8_t>(SENDER_CLOCK_ID >> (56 - 8 * i));
    }
    m[29] = 1;    // port 1
    m[32] = 5;    // control: other
    m[45] = 37;   // currentUtcOffset
    m[47] = 100;  // priority1
    m[48] = 6;    // clockClass
    m[49] = 0x21; // clockAccuracy
    m[50] = 0x4E; // offsetScaledLogVariance
    m[51] = 0x5D;
    m[52] = 128;  // priority2
    m[63] = 0xA0; // timeSource
    return f;
}

// Sends the stream into both pairs from the sender's namespace, at a fixed rate while running.
struct sender {
    int fds[2] = {-1, -1};
    std::string error;
    std::atomic<bool> running{false};
    std::atomic<uint64_t> sent[2] = {0, 0}; // towards the agent, towards ptp4l
    std::thread threads[2];

    bool open(const names &n)
    {
        // Entered by a helper thread only, so that this thread stays in the host's namespace.
        std::thread([&] {
            const std::string path = "/var/run/netns/" + n.ns_s;
            const int ns = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (ns < 0 || setns(ns, CLONE_NEWNET) != 0) {
                error = "entering " + n.ns_s;
                return;
            }
            close(ns);
            int i = 0;
            for (const std::string &dev : {n.snd_a, n.snd_p}) {
                fds[i] = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
                sockaddr_ll sll{};
                sll.sll_family = AF_PACKET;
                sll.sll_ifindex = static_cast<int>(if_nametoindex(dev.c_str()));
                if (fds[i] < 0 || sll.sll_ifindex == 0 ||
                    bind(fds[i], reinterpret_cast<sockaddr *>(&sll), sizeof sll) != 0) {
                    error = "a packet socket on " + dev;
                    return;
                }
                i++;
            }
        }).join();
        return error.empty();
    }
    // One thread per pair (a send on a veth runs the receiving side's kernel path in the sender's
    // context): each keeps the rate, so that neither receiver's stream is held up by the other's.
    void start(uint32_t rate)
    {
        running = true;
        for (int i = 0; i < 2; i++) {
            threads[i] = std::thread([this, rate, i] {
                prctl(PR_SET_TIMERSLACK, 1UL); // the default 50 us would be the whole period at 20,000/s
                std::vector<uint8_t> frame = announce_frame();
                uint8_t *seq = frame.data() + 14 + 30;
                const int64_t period = 1000000000 / rate;
                timespec next{};
                clock_gettime(CLOCK_MONOTONIC, &next);
                while (running) {
                    next.tv_nsec += period;
                    while (next.tv_nsec >= 1000000000) {
                        next.tv_nsec -= 1000000000;
                        next.tv_sec++;
                    }
                    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
                    const uint64_t n = sent[i].fetch_add(1, std::memory_order_relaxed);
                    seq[0] = static_cast<uint8_t>(n >> 8);
                    seq[1] = static_cast<uint8_t>(n);
                    ssize_t w = send(fds[i], frame.data(), frame.size(), 0);
                    (void)w;
                }
            });
        }
    }
    void stop()
    {
        running = false;
        for (std::thread &t : threads) {
            if (t.joinable()) {
                t.join();
            }
        }
    }
    ~sender()
    {
        stop();
        for (int fd : fds) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }
};

struct snapshot {
    int64_t agent_cpu, ptp4l_cpu;
    int64_t agent_rx, ptp4l_rx;
    uint64_t sent; // the smaller of the two streams
};

// Sleeps for ms unless interrupted; false when interrupted.
bool nap(int ms)
{
    for (int i = 0; i < ms / 10 && !interrupted; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !interrupted;
}

struct options {
    int seconds = 5;
    std::vector<uint32_t> rates{1000, 2000, 5000, 10000, 20000};
    int agent_cpu = -1;
    int ptp4l_cpu = -1;
};

bool parse(int argc, char **argv, options *o)
{
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        const char *v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--seconds" && v != nullptr) {
            o->seconds = std::max(1, std::atoi(v));
        } else if (a == "--rates" && v != nullptr) {
            o->rates.clear();
            std::stringstream s(v);
            std::string r;
            while (std::getline(s, r, ',')) {
                const long rate = std::atol(r.c_str());
                if (rate < 1 || rate > 1000000) {
                    return false;
                }
                o->rates.push_back(static_cast<uint32_t>(rate));
            }
        } else if (a == "--pin" && v != nullptr && std::sscanf(v, "%d,%d", &o->agent_cpu, &o->ptp4l_cpu) == 2) {
        } else {
            return false;
        }
        i++;
    }
    return !o->rates.empty();
}

} // namespace

int main(int argc, char **argv)
{
    options opt;
    if (!parse(argc, argv, &opt)) {
        std::fprintf(stderr, "usage: rx_cpu_bench [--seconds N] [--rates R,R,...] [--pin AGENT_CPU,PTP4L_CPU]\n");
        return 2;
    }
    std::string why;
    if (geteuid() != 0) {
        why = "needs root (network namespaces, packet sockets)";
    } else if (!interop::tool_found("ip") || run("ip netns list") != 0) {
        why = "needs 'ip netns' (iproute2)";
    } else if (!interop::tool_found("ptp4l") || !interop::tool_found("pmc")) {
        why = "needs ptp4l and pmc (linuxptp)";
    }
    if (!why.empty()) {
        std::printf("rx_cpu_bench skipped: %s\n", why.c_str());
        return 0;
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    const names n(getpid());
    sweep_stale();
    teardown(n);
    int rc = 1;
    bench_chassis_type chassis;
    [&] {
        if (!setup(n)) {
            std::printf("rx_cpu_bench: could not create the namespaces and veth pairs\n");
            return;
        }
        if (!bench_chassis_start(chassis_toml(n), &chassis, &why)) {
            std::printf("rx_cpu_bench: %s\n", why.c_str());
            return;
        }
        const std::string committed = bench_chassis_ctl(chassis, "-f -", chassis_config());
        pid_t agent = -1;
        for (int i = 0; i < 100 && !interrupted; i++) {
            agent = bench_chassis_pid(chassis, AGENT_NODE, "tessel");
            if (agent > 0 && agent_received() >= 0) {
                break;
            }
            agent = -1;
            nap(100);
        }
        if (agent < 0) {
            std::printf("rx_cpu_bench: the line card's agent does not serve its interface; the commit said:\n%s\n",
                        committed.c_str());
            return;
        }
        if (opt.agent_cpu >= 0) {
            run("taskset -a -p -c " + std::to_string(opt.agent_cpu) + " " + std::to_string(agent));
        }
        write_ptp4l_conf(n);
        const std::string pin = opt.ptp4l_cpu >= 0 ? "taskset -c " + std::to_string(opt.ptp4l_cpu) + " " : "";
        interop::ns_process ptp4l(n.ns_p, "unshare --ipc " + pin + "ptp4l -i " + n.p4l + " -2 -S -f " + n.conf, n.log);
        sender snd;
        for (int i = 0; i < 50 && (!is_ptp4l(ptp4l.pid) || ptp4l_announce_count(n) < 0); i++) {
            nap(100);
        }
        if (!is_ptp4l(ptp4l.pid) || ptp4l_announce_count(n) < 0) {
            std::printf("rx_cpu_bench: ptp4l did not start or does not answer pmc; it said:\n%s\n",
                        ptp4l.output().c_str());
            return;
        }
        if (!snd.open(n)) {
            std::printf("rx_cpu_bench: %s\n", snd.error.c_str());
            return;
        }
        // Taken while the sender is still, so that both counts and the CPU cover the same messages.
        auto take = [&] {
            snapshot s{};
            s.agent_rx = agent_received();
            s.ptp4l_rx = ptp4l_announce_count(n);
            s.agent_cpu = bench_process_cpu_ns(agent);
            s.ptp4l_cpu = bench_process_cpu_ns(ptp4l.pid);
            s.sent = std::min(snd.sent[0].load(), snd.sent[1].load());
            return s;
        };
        // Sends at a rate for ms, then waits for what is on its way; *sending: how long it sent (s).
        auto burst = [&](uint32_t rate, int ms, double *sending) {
            const auto begin = std::chrono::steady_clock::now();
            snd.start(rate);
            const bool ok = nap(ms);
            snd.stop();
            *sending = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
            return ok && nap(200);
        };

        std::printf("Announce over veth to the line card's agent (tessel, pid %d, under the platform daemon) and to "
                    "ptp4l, %d s per rate; %u CPUs, load average %s; agent pinned: %s, ptp4l pinned: %s\n",
                    static_cast<int>(agent), opt.seconds, std::thread::hardware_concurrency(), bench_loadavg().c_str(),
                    opt.agent_cpu >= 0 ? std::to_string(opt.agent_cpu).c_str() : "no",
                    opt.ptp4l_cpu >= 0 ? std::to_string(opt.ptp4l_cpu).c_str() : "no");
        std::fflush(stdout); // the pid, for a profiler
        // Idle: what each spends with nothing to receive (the agent's port listening, its timers).
        {
            const snapshot a = take();
            if (!nap(opt.seconds * 1000)) {
                return;
            }
            const snapshot b = take();
            std::printf("idle CPU: agent %.1f us/s, ptp4l %.1f us/s\n",
                        static_cast<double>(b.agent_cpu - a.agent_cpu) / 1000.0 / opt.seconds,
                        static_cast<double>(b.ptp4l_cpu - a.ptp4l_cpu) / 1000.0 / opt.seconds);
        }
        std::printf("%9s %9s %10s %10s %13s %13s %7s\n", "rate/s", "sent/s", "agent rx", "ptp4l rx", "agent us/msg",
                    "ptp4l us/msg", "ratio");
        for (uint32_t rate : opt.rates) {
            // A first burst makes the sender's clock a known, qualified master on both sides.
            double sending = 0;
            if (!burst(rate, 500, &sending)) {
                return;
            }
            const snapshot a = take();
            if (!burst(rate, opt.seconds * 1000, &sending)) {
                return;
            }
            const snapshot b = take();
            if (b.agent_cpu < 0 || b.ptp4l_cpu < 0 || a.agent_rx < 0 || b.agent_rx < 0) {
                std::printf("rx_cpu_bench: the %s process ended\n", b.ptp4l_cpu < 0 ? "ptp4l" : "agent");
                return;
            }
            const int64_t agent_rx = b.agent_rx - a.agent_rx;
            const int64_t ptp4l_rx = b.ptp4l_rx - a.ptp4l_rx;
            const double agent_us =
                agent_rx > 0 ? static_cast<double>(b.agent_cpu - a.agent_cpu) / 1000.0 / static_cast<double>(agent_rx)
                             : 0;
            const double ptp4l_us =
                ptp4l_rx > 0 ? static_cast<double>(b.ptp4l_cpu - a.ptp4l_cpu) / 1000.0 / static_cast<double>(ptp4l_rx)
                             : 0;
            std::printf("%9u %9" PRIu64 " %10" PRId64 " %10" PRId64 " %13.2f %13.2f %7.3f\n", rate,
                        static_cast<uint64_t>(static_cast<double>(b.sent - a.sent) / sending), agent_rx, ptp4l_rx,
                        agent_us, ptp4l_us, ptp4l_us > 0 ? agent_us / ptp4l_us : 0.0);
            std::fflush(stdout);
        }
        std::printf("goal: ratio at most 0.10 (the agent's CPU per message at most a tenth of ptp4l's); load average "
                    "at the end %s\n",
                    bench_loadavg().c_str());
        rc = 0;
    }();
    bench_chassis_stop(&chassis);
    teardown(n);
    if (interrupted) {
        std::printf("rx_cpu_bench: interrupted\n");
    }
    return rc;
}
