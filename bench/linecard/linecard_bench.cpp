// One line card at full load, measured as it runs in the chassis. The line card's interfaces are
// veths into a namespace of the chassis, each with a simulated peer at its far end (in this
// process, on the packet-I/O Linux backend): on the first half a master (Announce 8/s, two-step
// Sync 16/s, Delay-Resp to each Delay-Req) whose port on the line card is slave only, on the
// other half a slave (a Delay-Req after each Sync) whose port on the line card is master only.
// The operator commits PTP on every interface at once (a G.8275.1-style profile over Ethernet
// multicast); then, for a window, the line card's agent `tessel` is measured: its CPU (all its
// threads), its resident memory per port, the intervals its ports missed (a Sync of a master
// port, a Delay-Req of a slave port, later than one and a half intervals after the one before, as
// the peers saw them), the announce timeouts (the peers' masters lost; ports not in their state
// at the end), the worst gap between two Syncs of one session, and the time from the commit to
// the last port in its state. Beside it, in the same run, ptp4l serves ports of its own as
// master on one core (pinned), to simulated slaves over veths of its own, at each of a series of
// port counts (until it takes its core), so that its CPU per port is seen as it grows.
//
//   linecard_bench [--ports N] [--seconds S] [--threads T] [--ptp4l-ports K,K,...] [--ptp4l-cpu C]
//
// Needs root and 'ip netns' (ptp4l for the comparison); without them it says why and exits 0.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_chassis.h"
#include "evm.h"
#include "pktio_linux.h"
#include "plat_clock.h"
#include "sim_peer.h"

namespace {

std::atomic<bool> interrupted{false};
void on_signal(int)
{
    interrupted = true;
}

constexpr uint8_t DOMAIN = 24;
constexpr const char *NODE = "0/1/CPU0";

int sh(const std::string &cmd)
{
    return std::system((cmd + " >/dev/null 2>&1").c_str());
}

double now_s()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool nap(double s)
{
    const double end = now_s() + s;
    while (now_s() < end && !interrupted) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !interrupted;
}

std::string intf_name(int i)
{
    return "Gi0/1/0/" + std::to_string(i);
}

// veth pairs between two namespaces, made in one batch: "<prefix>c<i>" in the first, "<prefix>p<i>"
// in the second.
bool make_veths(const std::string &prefix, const std::string &ns_c, const std::string &ns_p, int count)
{
    const std::string file = "/tmp/" + prefix + ".batch";
    {
        std::ofstream f(file);
        for (int i = 0; i < count; i++) {
            f << "link add " << prefix << "c" << i << " netns " << ns_c << " type veth peer name " << prefix << "p" << i
              << " netns " << ns_p << "\n";
        }
    }
    std::ofstream(file + "c") << [&] {
        std::string s;
        for (int i = 0; i < count; i++) {
            s += "link set " + prefix + "c" + std::to_string(i) + " up\n";
        }
        return s;
    }();
    std::ofstream(file + "p") << [&] {
        std::string s;
        for (int i = 0; i < count; i++) {
            s += "link set " + prefix + "p" + std::to_string(i) + " up\n";
        }
        return s;
    }();
    const bool ok = sh("ip -batch " + file) == 0 && sh("ip -n " + ns_c + " -batch " + file + "c") == 0 &&
                    sh("ip -n " + ns_p + " -batch " + file + "p") == 0;
    std::remove(file.c_str());
    std::remove((file + "c").c_str());
    std::remove((file + "p").c_str());
    return ok;
}

bool make_ns(const std::string &ns)
{
    return sh("ip netns add " + ns) == 0 &&
           sh("ip netns exec " + ns +
              " sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1") == 0 &&
           sh("ip -n " + ns + " link set lo up") == 0;
}

// ---- The peers: simulated endpoints on a few event managers, each served by a thread ----

struct peer_type {
    simpeer::endpoint_type *endpoint = nullptr;
    bool master = false; // a master of the line card's slave port, else a slave of its master port
};

struct worker_type {
    event_mgr_type *evm = nullptr;
    std::vector<size_t> peers; // indices into peers_type::all
    event_async_ctx_type snapshot{};
    event_async_ctx_type stop{};
    event_async_ctx_type stop_peers{};
    std::thread thread;
    bool stopping = false;
};

struct peers_type {
    std::vector<peer_type> all;
    std::vector<worker_type *> workers;
    std::mutex mu;
    std::condition_variable cv;
    std::vector<simpeer::counts_type> counts; // filled by the snapshot events
    size_t pending = 0;
    bool reset_gaps = false;
};
peers_type peers;

int on_snapshot(const event_async_ctx_type *, int32_t, void *ctx)
{
    auto *w = static_cast<worker_type *>(ctx);
    std::lock_guard<std::mutex> lock(peers.mu);
    for (size_t i : w->peers) {
        if (peers.reset_gaps) {
            simpeer::endpoint_gaps_reset(peers.all[i].endpoint);
        }
        peers.counts[i] = simpeer::endpoint_counts(peers.all[i].endpoint);
    }
    if (--peers.pending == 0) {
        peers.cv.notify_all();
    }
    return 0;
}

// Stops the worker's peers (on its thread, where they run), so that a later phase has the
// process to itself.
int on_stop_peers(const event_async_ctx_type *, int32_t, void *ctx)
{
    auto *w = static_cast<worker_type *>(ctx);
    std::lock_guard<std::mutex> lock(peers.mu);
    for (size_t i : w->peers) {
        simpeer::endpoint_stop(peers.all[i].endpoint);
        peers.all[i].endpoint = nullptr;
    }
    w->peers.clear();
    if (--peers.pending == 0) {
        peers.cv.notify_all();
    }
    return 0;
}

void stop_peers()
{
    std::unique_lock<std::mutex> lock(peers.mu);
    peers.pending = peers.workers.size();
    for (worker_type *w : peers.workers) {
        event_send_async(w->stop_peers.coid, w->stop_peers.code, 0);
    }
    peers.cv.wait(lock, [] { return peers.pending == 0; });
}

int on_stop(const event_async_ctx_type *, int32_t, void *ctx)
{
    static_cast<worker_type *>(ctx)->stopping = true;
    return 0;
}

// Every peer's counts, taken on its own thread; with reset, the gaps start again from there.
std::vector<simpeer::counts_type> snapshot(bool reset)
{
    std::unique_lock<std::mutex> lock(peers.mu);
    peers.counts.assign(peers.all.size(), {});
    peers.pending = peers.workers.size();
    peers.reset_gaps = reset;
    for (worker_type *w : peers.workers) {
        event_send_async(w->snapshot.coid, w->snapshot.code, 0);
    }
    peers.cv.wait(lock, [] { return peers.pending == 0; });
    return peers.counts;
}

// Binds the far ends (prefix "p" devices of the namespace) and starts a peer on each: masters on
// [0, masters), slaves on the rest. Handles from base.
bool start_peers(const std::string &prefix, const std::string &ns, int count, int masters, uint32_t base, int threads,
                 uint64_t id_base, std::string *why)
{
    const size_t first = peers.all.size();
    if (peers.workers.empty()) {
        for (int t = 0; t < threads; t++) {
            auto *w = new worker_type;
            w->evm = event_create_manager(nullptr, nullptr, 0);
            event_async_attach_event(w->evm, 0, on_snapshot, w, &w->snapshot);
            event_async_attach_event(w->evm, 0, on_stop, w, &w->stop);
            event_async_attach_event(w->evm, 0, on_stop_peers, w, &w->stop_peers);
            peers.workers.push_back(w);
        }
    }
    // Bound by several threads at once, as the agent binds its own (each binding waits for the
    // kernel, and overlapping waits are one).
    std::vector<zerrno> bound(static_cast<size_t>(count), 0);
    std::atomic<int> next{0};
    std::vector<std::thread> binders;
    for (int t = 0; t < 32; t++) {
        binders.emplace_back([&] {
            for (int i = next++; i < count; i = next++) {
                const std::string dev = prefix + "p" + std::to_string(i);
                bound[static_cast<size_t>(i)] =
                    pktio_linux_intf_add(dev.c_str(), base + static_cast<uint32_t>(i), ns.c_str());
            }
        });
    }
    for (std::thread &t : binders) {
        t.join();
    }
    for (int i = 0; i < count; i++) {
        const std::string dev = prefix + "p" + std::to_string(i);
        const uint32_t handle = base + static_cast<uint32_t>(i);
        zerrno rc = bound[static_cast<size_t>(i)];
        uint8_t mac[6] = {};
        if (rc == 0) {
            rc = pktio_linux_intf_mac(handle, mac);
        }
        worker_type *w = peers.workers[static_cast<size_t>(i) % peers.workers.size()];
        peer_type p;
        p.master = i < masters;
        const uint64_t clock_id = id_base + static_cast<uint64_t>(i);
        auto quiet = [](const std::string &) {};
        if (rc == 0 && p.master) {
            simpeer::gm_config_type c;
            c.clock_id = clock_id;
            c.domain = DOMAIN;
            rc = simpeer::gm_start(w->evm, handle, mac, c, quiet, &p.endpoint);
        } else if (rc == 0) {
            simpeer::slave_config_type c;
            c.clock_id = clock_id;
            c.domain = DOMAIN;
            rc = simpeer::slave_start(w->evm, handle, mac, c, quiet, &p.endpoint);
        }
        if (rc != 0) {
            *why = "peer on " + dev + ": " + zerr_strerror(rc);
            return false;
        }
        w->peers.push_back(first + static_cast<size_t>(i));
        peers.all.push_back(p);
    }
    return true;
}

void run_workers()
{
    for (worker_type *w : peers.workers) {
        if (w->thread.joinable()) {
            continue;
        }
        w->thread = std::thread([w] {
            while (!w->stopping) {
                if (event_type *e = event_block(w->evm)) {
                    zq_event_dispatch(e);
                }
            }
        });
    }
}

void stop_workers()
{
    for (worker_type *w : peers.workers) {
        if (w->thread.joinable()) {
            event_send_async(w->stop.coid, w->stop.code, 0);
            w->thread.join();
        }
    }
}

// ---- The chassis ----

std::string chassis_toml(int ports, const std::string &prefix, const std::string &ns)
{
    std::string s = "[chassis]\nlr_mac = \"02:00:5e:10:00:01\"\n\n"
                    "[[node]]\nname = \"0/RP0/CPU0\"\nid = 0x100\nrole = \"rp\"\nkvolm = true\n\n"
                    "[[node]]\nname = \"0/1/CPU0\"\nid = 0x010\nrole = \"lc\"\n\n";
    char mac[32];
    for (int i = 0; i < ports; i++) {
        std::snprintf(mac, sizeof mac, "02:00:5e:11:%02x:%02x", i >> 8, i & 0xff);
        s += "[[node.interface]]\nname = \"" + intf_name(i) + "\"\nhandle = " + std::to_string(0x01010000 + i) +
             "\ntype = 15\nmac = \"" + mac + "\"\ndevice = \"" + prefix + "c" + std::to_string(i) + "\"\nnetns = \"" +
             ns + "\"\n\n";
    }
    s += "[[process]]\nname = \"tessel\"\nprogram = \"tessel\"\nnodes = \"lc\"\nrestart_on_config = true\n\n"
         "[[process]]\nname = \"quorrin\"\nprogram = \"quorrin\"\nnodes = \"rp\"\n\n"
         "[[process]]\nname = \"sardo\"\nprogram = \"sardo\"\nnodes = \"rp\"\nrestart_on_global_config = true\n";
    return s;
}

// Every interface in one commit: the first half slave only (their peers are masters), the rest
// master only.
std::string chassis_config(int ports, int slaves)
{
    std::string s = "set /cfg/gl/ptp/pi/enable 1\n"
                    "set /cfg/gl/ptp/pi/clock/profile (2,1)\n"
                    "set /cfg/gl/ptp/pi/clock/domain " +
                    std::to_string(DOMAIN) +
                    "\n"
                    "set /cfg/gl/ptp/pi/profile/l2-8275-1/transport 1\n"
                    "set /cfg/gl/ptp/pi/profile/l2-8275-1/multicast (2,0,)\n";
    for (int i = 0; i < ports; i++) {
        const std::string p = "/cfg/if/act/" + intf_name(i) + "/ptp/pi/";
        s += "set " + p + "enable 1\nset " + p + "profile l2-8275-1\nset " + p + "port-state " +
             (i < slaves ? "1" : "2") + "\n";
    }
    return s + "commit\n";
}

// The ports not (yet) in their state: master ports Master; the slave-only ports, each with a
// master of its own, one Slave (the boundary clock follows the best of them) and the others
// Passive. *slave: the port that is Slave.
int ports_out_of_state(int ports, int slaves, std::string *first, std::string *slave)
{
    int out = 0;
    int slave_ports = 0;
    for (int i = 0; i < ports && !interrupted; i++) {
        const std::string state = bench_chassis_port_state(intf_name(i));
        const bool in_state = i < slaves ? state == "Slave" || state == "Passive" : state == "Master";
        if (state == "Slave") {
            slave_ports++;
            *slave = intf_name(i);
        }
        if (!in_state && out++ == 0) {
            *first = intf_name(i) + " " + state;
        }
    }
    return out + (slave_ports == 1 ? 0 : 1);
}

// ---- ptp4l ----

// ptp4l as the master of count ports on one core, to simulated slaves; CPU per second over the
// window, and what its slaves saw. Returns false when it could not be run.
struct ptp4l_result_type {
    int ports = 0;
    double cpu = 0; // of one core
    int64_t worst_gap_ns = 0;
    uint64_t late = 0;
    uint64_t losses = 0;
    int silent = 0; // slaves that never heard it
};

bool ptp4l_run(int count, int cpu, double seconds, int threads, uint32_t handle_base, ptp4l_result_type *r,
               std::string *why)
{
    const std::string id = std::to_string(getpid() % 10000) + "k" + std::to_string(count);
    const std::string prefix = "q" + id;
    const std::string ns_4 = "lcb4" + id, ns_q = "lcbQ" + id;
    const std::string conf = "/tmp/linecard_bench-" + id + ".conf", log = "/tmp/linecard_bench-" + id + ".log";
    bool ok = make_ns(ns_4) && make_ns(ns_q) && make_veths(prefix, ns_4, ns_q, count);
    {
        std::ofstream f(conf);
        f << "[global]\nmasterOnly 1\ndomainNumber " << int{DOMAIN}
          << "\nlogAnnounceInterval -3\nlogSyncInterval -4\nlogMinDelayReqInterval -4\n"
             "network_transport L2\ntime_stamping software\nboundary_clock_jbod 1\npriority1 100\n"
             "clockClass 6\nuds_address /tmp/linecard_bench-"
          << id << ".uds\n";
        for (int i = 0; i < count; i++) {
            f << "[" << prefix << "c" << i << "]\n";
        }
    }
    pid_t pid = -1;
    std::vector<size_t> mine;
    if (ok) {
        pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            const std::string cmd = "exec ip netns exec " + ns_4 + " unshare --ipc taskset -c " + std::to_string(cpu) +
                                    " ptp4l -f " + conf + " >" + log + " 2>&1";
            execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        const size_t first = peers.all.size();
        ok = pid > 0 && start_peers(prefix, ns_q, count, 0, handle_base, threads, 0x020000fffe400000ull, why);
        for (size_t i = first; i < peers.all.size(); i++) {
            mine.push_back(i);
        }
        run_workers();
    }
    pid_t ptp4l = -1;
    for (int i = 0; ok && i < 100 && ptp4l < 0; i++) {
        nap(0.1);
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        std::string name;
        std::getline(comm, name);
        ptp4l = name == "ptp4l" ? pid : -1;
    }
    if (ok && ptp4l < 0) {
        *why = "ptp4l did not start (see " + log + ")";
        ok = false;
    }
    if (ok) {
        // Until every slave hears it (opening its sockets takes it a while with hundreds of
        // ports), and its ports are past Pre-Master.
        for (int i = 0; i < 120 && !interrupted; i++) {
            const std::vector<simpeer::counts_type> heard = snapshot(false);
            if (std::all_of(mine.begin(), mine.end(), [&](size_t k) { return heard[k].followed > 0; })) {
                break;
            }
            nap(0.5);
        }
        nap(2);
        snapshot(true);
        const int64_t cpu_a = bench_process_cpu_ns(ptp4l);
        const double t_a = now_s();
        nap(seconds);
        const std::vector<simpeer::counts_type> c = snapshot(false);
        const int64_t cpu_b = bench_process_cpu_ns(ptp4l);
        r->ports = count;
        r->cpu = static_cast<double>(cpu_b - cpu_a) / 1e9 / (now_s() - t_a);
        for (size_t i : mine) {
            r->worst_gap_ns = std::max(r->worst_gap_ns, c[i].worst_gap_ns);
            r->late += c[i].late;
            r->losses += c[i].master_losses;
            r->silent += c[i].followed == 0 ? 1 : 0;
        }
    }
    if (pid > 0) {
        kill(-pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    // Its slaves stay (stopped with the rest at the end); their devices go with the namespaces.
    sh("ip netns del " + ns_4);
    sh("ip netns del " + ns_q);
    std::remove(conf.c_str());
    if (ok) {
        std::remove(log.c_str());
    }
    return ok;
}

struct options {
    int ports = 2000;
    double seconds = 20;
    int threads = 4;
    std::vector<int> ptp4l_ports{100, 200, 400, 800};
    int ptp4l_cpu = 7;
};

bool parse(int argc, char **argv, options *o)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const char *v = argv[i + 1];
        if (a == "--ports") {
            o->ports = std::max(2, std::atoi(v));
        } else if (a == "--seconds") {
            o->seconds = std::max(1.0, std::atof(v));
        } else if (a == "--threads") {
            o->threads = std::max(1, std::atoi(v));
        } else if (a == "--ptp4l-cpu") {
            o->ptp4l_cpu = std::atoi(v);
        } else if (a == "--ptp4l-ports") {
            o->ptp4l_ports.clear();
            std::stringstream s(v);
            for (std::string k; std::getline(s, k, ',');) {
                if (std::atoi(k.c_str()) > 0) {
                    o->ptp4l_ports.push_back(std::atoi(k.c_str()));
                }
            }
        } else {
            return false;
        }
    }
    return argc % 2 == 1;
}

} // namespace

int main(int argc, char **argv)
{
    options opt;
    if (!parse(argc, argv, &opt)) {
        std::fprintf(stderr, "usage: linecard_bench [--ports N] [--seconds S] [--threads T] [--ptp4l-ports K,K,...] "
                             "[--ptp4l-cpu C]\n");
        return 2;
    }
    if (geteuid() != 0 || sh("ip netns list") != 0) {
        std::printf("linecard_bench skipped: needs root and 'ip netns'\n");
        return 0;
    }
    const bool with_ptp4l = sh("command -v ptp4l") == 0;
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    // Each bound device holds a handful of sockets, in the agent and here.
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    setvbuf(stdout, nullptr, _IOLBF, 0);

    const int ports = opt.ports;
    const int slaves = ports / 2; // the line card's slave ports: their peers are masters
    const std::string id = std::to_string(getpid() % 10000);
    const std::string prefix = "l" + id;
    const std::string ns_c = "lcbC" + id, ns_p = "lcbP" + id;
    bench_chassis_type chassis;
    int rc = 1;
    std::printf("linecard_bench: %d interfaces on line card %s (%d slave only, %d master only), veths; %u CPUs, load "
                "average %s\n",
                ports, NODE, slaves, ports - slaves, std::thread::hardware_concurrency(), bench_loadavg().c_str());
    [&] {
        std::string why;
        const double t_setup = now_s();
        if (!make_ns(ns_c) || !make_ns(ns_p) || !make_veths(prefix, ns_c, ns_p, ports)) {
            std::printf("linecard_bench: could not make the namespaces and veths\n");
            return;
        }
        std::printf("veths made in %.1f s\n", now_s() - t_setup);
        const double t_start = now_s();
        if (!bench_chassis_start(chassis_toml(ports, prefix, ns_c), &chassis, &why)) {
            std::printf("linecard_bench: %s\n", why.c_str());
            return;
        }
        std::printf("chassis up, its processes ready, %.1f s after the daemon's start\n", now_s() - t_start);
        const pid_t agent = bench_chassis_pid(chassis, NODE, "tessel");
        if (agent < 0) {
            std::printf("linecard_bench: the line card's agent is not running\n");
            return;
        }
        if (!start_peers(prefix, ns_p, ports, slaves, 0x100, opt.threads, 0x020000fffe300000ull, &why)) {
            std::printf("linecard_bench: %s\n", why.c_str());
            return;
        }
        run_workers();
        nap(1);
        const int64_t rss_before = bench_process_rss_bytes(agent);
        std::printf("agent (tessel, pid %d) before the commit: resident %.1f MB\n", static_cast<int>(agent),
                    static_cast<double>(rss_before) / 1e6);

        // The commit, and each port's first message as its peer sees it: a master port's first
        // Sync, a slave port's first Delay-Req (sent once it follows its master).
        const std::string config = chassis_config(ports, slaves);
        const double t_commit = now_s();
        const uint64_t mono_commit = plat_clock_mono_ns();
        const std::string said = bench_chassis_ctl(chassis, "-f -", config);
        const double t_acked = now_s();
        std::printf("commit of %d interfaces acknowledged after %.3f s%s%s\n", ports, t_acked - t_commit,
                    said.empty() ? "" : "; nodractl said: ", said.substr(0, 300).c_str());
        // Until every port is in its state, read through the database (a sweep of every port
        // takes a while: the time is the end of the first sweep that found them all in state),
        // and the master ports' first Sync at their slaves (to the millisecond).
        std::string first_out, slave_port;
        int out = ports;
        double in_state_s = -1;
        int sweeps = 0;
        while (!interrupted && now_s() - t_commit < 20) {
            out = ports_out_of_state(ports, slaves, &first_out, &slave_port);
            sweeps++;
            if (out == 0) {
                in_state_s = now_s() - t_commit;
                break;
            }
        }
        const std::vector<simpeer::counts_type> first = snapshot(false);
        uint64_t last_sync = 0;
        int heard = 0;
        for (int i = slaves; i < ports; i++) {
            if (first[static_cast<size_t>(i)].followed > 0) {
                heard++;
                last_sync = std::max(last_sync, first[static_cast<size_t>(i)].first_followed_mono_ns);
            }
        }
        if (in_state_s < 0) {
            std::printf("linecard_bench: after 20 s %d ports are still not in their state, first: %s\n", out,
                        first_out.c_str());
        } else {
            std::printf("from the commit to every port in its state (%s Slave, %d Passive, %d Master): %.3f s (%d "
                        "sweeps of the %d ports' states through the database, %.3f s each)\n",
                        slave_port.c_str(), slaves - 1, ports - slaves, in_state_s, sweeps, ports, in_state_s / sweeps);
        }
        std::printf("from the commit to the last master port's first Sync at its slave: %.3f s (%d of %d heard)\n",
                    static_cast<double>(last_sync - mono_commit) / 1e9, heard, ports - slaves);

        // The window.
        nap(2);
        snapshot(true);
        const int64_t cpu_a = bench_process_cpu_ns(agent);
        const int64_t self_a = bench_process_cpu_ns(getpid());
        const double t_a = now_s();
        const std::string load_a = bench_loadavg();
        if (!nap(opt.seconds)) {
            return;
        }
        const std::vector<simpeer::counts_type> c = snapshot(false);
        const int64_t cpu_b = bench_process_cpu_ns(agent);
        const int64_t self_b = bench_process_cpu_ns(getpid());
        const double window = now_s() - t_a;
        const int64_t rss = bench_process_rss_bytes(agent);
        int64_t worst_sync_gap = 0, worst_delay_req_gap = 0;
        uint64_t late_sync = 0, late_delay_req = 0, losses = 0, syncs = 0, delay_reqs = 0;
        int silent = 0; // master ports whose slave heard no Sync
        for (int i = 0; i < ports; i++) {
            const simpeer::counts_type &k = c[static_cast<size_t>(i)];
            if (peers.all[static_cast<size_t>(i)].master) {
                worst_delay_req_gap = std::max(worst_delay_req_gap, k.worst_gap_ns);
                late_delay_req += k.late;
                delay_reqs += k.followed;
            } else {
                silent += k.followed == 0 ? 1 : 0;
                worst_sync_gap = std::max(worst_sync_gap, k.worst_gap_ns);
                late_sync += k.late;
                syncs += k.followed;
                losses += k.master_losses;
            }
        }
        out = ports_out_of_state(ports, slaves, &first_out, &slave_port);
        const double cpu = static_cast<double>(cpu_b - cpu_a) / 1e9 / window;
        std::printf("window of %.1f s (load average %s at its start, %s at its end):\n", window, load_a.c_str(),
                    bench_loadavg().c_str());
        std::printf("  agent CPU (all threads): %.1f%% of a core, %.1f us/s per port\n", 100 * cpu, cpu * 1e6 / ports);
        std::printf("  agent resident memory: %.1f MB, %.1f KB per port over the %.1f MB before the commit\n",
                    static_cast<double>(rss) / 1e6, static_cast<double>(rss - rss_before) / 1e3 / ports,
                    static_cast<double>(rss_before) / 1e6);
        std::printf("  master ports: %" PRIu64 " Syncs at their slaves, worst gap between two Syncs of one session "
                    "%.1f ms, %" PRIu64 " intervals missed, %" PRIu64 " masters lost at the slaves\n",
                    syncs, static_cast<double>(worst_sync_gap) / 1e6, late_sync, losses);
        std::printf("  the Slave port: %" PRIu64 " Delay-Reqs at its master, worst gap %.1f ms, %" PRIu64
                    " intervals missed\n",
                    delay_reqs, static_cast<double>(worst_delay_req_gap) / 1e6, late_delay_req);
        std::printf("  master ports silent in the window: %d; ports not in their state at its end: %d%s%s\n", silent,
                    out, out != 0 ? ", first: " : "", out != 0 ? first_out.c_str() : "");
        std::printf("  the peers (this process, %zu threads and the one that reads their rings): %.1f%% of a core\n",
                    peers.workers.size(), 100.0 * static_cast<double>(self_b - self_a) / 1e9 / window);
        const double agent_per_port = cpu / ports;

        // The line card's peers and the chassis go, so that ptp4l and its slaves have the machine
        // as the line card had it.
        stop_peers();
        bench_chassis_stop(&chassis);
        for (int i = 0; i < ports; i++) {
            pktio_linux_intf_remove(0x100 + static_cast<uint32_t>(i)); // their sockets, for ptp4l's peers
        }
        if (with_ptp4l) {
            std::printf("ptp4l as master on one core (CPU %d), to simulated slaves over veths of its own:\n",
                        opt.ptp4l_cpu);
            uint32_t base = 0x10000;
            for (int k : opt.ptp4l_ports) {
                ptp4l_result_type r;
                if (!ptp4l_run(k, opt.ptp4l_cpu, std::min(opt.seconds, 10.0), opt.threads, base, &r, &why)) {
                    std::printf("  %d ports: %s\n", k, why.c_str());
                    break;
                }
                base += static_cast<uint32_t>(k);
                const bool keeps_up = r.late == 0 && r.losses == 0 && r.silent == 0;
                std::printf("  %4d ports: %.1f%% of its core, %.1f us/s per port (agent/ptp4l per port %.3f); worst "
                            "Sync gap %.1f ms, %" PRIu64 " intervals missed, %" PRIu64 " masters lost, %d slaves "
                            "silent%s\n",
                            k, 100 * r.cpu, r.cpu * 1e6 / k, agent_per_port / (r.cpu / k),
                            static_cast<double>(r.worst_gap_ns) / 1e6, r.late, r.losses, r.silent,
                            keeps_up ? "" : " (does not keep up)");
                if (r.cpu > 0.95 || r.silent != 0 || interrupted) {
                    break;
                }
            }
        }
        rc = 0;
    }();
    stop_workers();
    bench_chassis_stop(&chassis);
    sh("ip netns del " + ns_c);
    sh("ip netns del " + ns_p);
    std::printf("load average at the end: %s\n", bench_loadavg().c_str());
    return rc;
}
