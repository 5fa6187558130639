// One line card at full load, measured as it runs in the chassis. The line card's interfaces are
// veths into a namespace of the chassis, each with simulated peers at its far end (on the
// packet-I/O Linux backend, in worker processes of their own so that no one thread reads every
// ring): on the first half of the Ethernet interfaces a master (Announce 8/s, two-step Sync 16/s,
// Delay-Resp to each Delay-Req) whose port on the line card is slave only, on the other half a
// slave (a Delay-Req after each Sync) whose port on the line card is master only; and on the
// unicast interfaces, master only over UDP/IPv4, several unicast slaves each (an address of its
// own on the far end's veth) that ask their port for Announce (1/s), Sync and Delay-Resp (16/s)
// grants and renew them. The operator commits PTP on every interface at once (a G.8275.1-style
// profile over Ethernet multicast, a unicast profile over UDP/IPv4); then, for a window, the line
// card's agent `tessel` is measured: its CPU (all its threads), its resident memory per port, the
// intervals its ports missed (a Sync of a master port, a Delay-Req of a slave port, later than one
// and a half intervals after the one before, as the peers saw them), the announce timeouts (the
// peers' masters lost; ports not in their state at the end), the grants the unicast slaves hold,
// the worst gap between two Syncs of one session, and the time from the commit to the last master
// port's first Sync at its slave, as the peers stamped it. Beside it, in the same run, ptp4l serves
// ports of its own as master on one core (pinned), to simulated slaves over veths of its own, at
// each of a series of port counts (until it takes its core), so that its CPU per port is seen as
// it grows.
//
//   linecard_bench [--ports N] [--seconds S] [--unicast-peers U] [--unicast-per-port K]
//                  [--peer-processes P] [--ptp4l-ports K,K,...] [--ptp4l-cpu C]
//
//   --ports N             interfaces (2000): half slave only, the rest master only, the last U/K
//                         of those over UDP/IPv4
//   --seconds S           the measured window (20 s; ptp4l's at most 10 s each)
//   --unicast-peers U     unicast slaves (2500), K on each of U/K interfaces
//   --unicast-per-port K  unicast slaves per interface (10)
//   --peer-processes P    worker processes of the simulated peers (6)
//   --ptp4l-ports K,...   ptp4l's port counts (100,200,400,800; 0 for none)
//   --ptp4l-cpu C         ptp4l's core (7)
//
// Needs root and 'ip netns' (ptp4l for the comparison); without them it says why and exits 0.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
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
#include <functional>
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

// The kernel's neighbour table is one for every namespace, and its default hard limit (1024 entries)
// is below the unicast slaves' addresses the line card resolves: past it the kernel drops what it
// sends to an unresolved one. The run raises the limits and puts them back after.
struct neigh_limits_type {
    static constexpr const char *DIR = "/proc/sys/net/ipv4/neigh/default/gc_thresh";
    std::string saved[3];
    void raise(int entries)
    {
        for (int i = 0; i < 3; i++) {
            const std::string path = DIR + std::to_string(i + 1);
            std::ifstream(path) >> saved[i];
            std::ofstream(path) << entries * (1 << i);
        }
    }
    ~neigh_limits_type()
    {
        for (int i = 2; i >= 0; i--) {
            if (!saved[i].empty()) {
                std::ofstream(DIR + std::to_string(i + 1)) << saved[i];
            }
        }
    }
};

bool make_ns(const std::string &ns)
{
    return sh("ip netns add " + ns) == 0 &&
           sh("ip netns exec " + ns +
              " sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1") == 0 &&
           sh("ip -n " + ns + " link set lo up") == 0;
}

// ---- The peers: simulated endpoints in worker processes of their own ----
//
// Each worker process binds its share of the far ends (every peer of one device in one process)
// and serves their endpoints on an event manager of its own thread, so that no one thread reads
// every ring and the peers do not starve the measured agent of one core. The benchmark's process
// speaks to each over a socket pair: a batch of peers to start, a snapshot of their counts, a stop.

// One peer as the benchmark hands it to a worker.
struct peer_desc_type {
    uint32_t index = 0; // in the benchmark's list of every peer
    uint32_t handle = 0;
    char dev[16] = {};
    char ns[32] = {};
    uint64_t clock_id = 0;
    uint8_t master = 0;  // a master of the line card's slave port, else a slave of its master port
    uint8_t unicast = 0; // UDP/IPv4 with negotiated grants, else Ethernet multicast
    simpeer::ipv4_type ipv4{};
    simpeer::ipv4_type master_ipv4{};
    int8_t log_announce = 0, log_sync = 0, log_delay_req = 0; // what a unicast slave asks for
};

// A peer's figures as its worker reports them.
struct peer_counts_type {
    uint32_t index = 0;
    uint32_t grants = 0; // unicast: the grants the peer holds
    simpeer::counts_type counts;
};

enum command_type : uint32_t {
    CMD_START,    // peer_desc_type[]: reply 0 or an error text
    CMD_SNAPSHOT, // uint32 reset: reply peer_counts_type[]
    CMD_STOP,     // stops every peer and unbinds its devices: reply empty
};

bool write_all(int fd, const void *data, size_t len)
{
    const auto *p = static_cast<const uint8_t *>(data);
    while (len > 0) {
        const ssize_t n = write(fd, p, len);
        if (n <= 0) {
            return false;
        }
        p += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

bool read_all(int fd, void *data, size_t len)
{
    auto *p = static_cast<uint8_t *>(data);
    while (len > 0) {
        const ssize_t n = read(fd, p, len);
        if (n <= 0) {
            return false;
        }
        p += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

// A message: its code and length, then its bytes; the length is checked against a bound, since a
// worker that died mid-write would leave anything behind it.
constexpr uint32_t MESSAGE_MAX = 64u << 20;

bool send_message(int fd, uint32_t code, const void *data, size_t len)
{
    const uint32_t head[2] = {code, static_cast<uint32_t>(len)};
    return write_all(fd, head, sizeof head) && write_all(fd, data, len);
}

bool receive_message(int fd, uint32_t *code, std::vector<uint8_t> *data)
{
    uint32_t head[2] = {};
    if (!read_all(fd, head, sizeof head) || head[1] > MESSAGE_MAX) {
        return false;
    }
    *code = head[0];
    data->resize(head[1]);
    return read_all(fd, data->data(), data->size());
}

template <typename T>
std::vector<T> records_of(const std::vector<uint8_t> &data)
{
    std::vector<T> out(data.size() / sizeof(T));
    std::memcpy(out.data(), data.data(), out.size() * sizeof(T));
    return out;
}

// The worker's side: its peers on one event manager and the thread that serves it; commands that
// touch the peers run on that thread.
struct worker_side_type {
    event_mgr_type *evm = nullptr;
    std::thread thread;
    event_async_ctx_type call{};
    event_async_ctx_type quit{};
    bool stopping = false;
    std::vector<std::pair<peer_desc_type, simpeer::endpoint_type *>> peers;
    std::vector<uint32_t> bound; // handles
    std::mutex mu;
    std::condition_variable cv;
    std::function<void()> job; // run on the thread, then cleared
};
worker_side_type worker_side;

int on_call(const event_async_ctx_type *, int32_t, void *)
{
    std::lock_guard<std::mutex> lock(worker_side.mu);
    worker_side.job();
    worker_side.job = nullptr;
    worker_side.cv.notify_all();
    return 0;
}

int on_quit(const event_async_ctx_type *, int32_t, void *)
{
    worker_side.stopping = true;
    return 0;
}

void on_worker_thread(std::function<void()> job)
{
    std::unique_lock<std::mutex> lock(worker_side.mu);
    worker_side.job = std::move(job);
    event_send_async(worker_side.call.coid, worker_side.call.code, 0);
    worker_side.cv.wait(lock, [] { return !worker_side.job; });
}

// Binds the devices of the peers not bound yet (by several threads at once, as the agent binds its
// own: each binding waits for the kernel, and overlapping waits are one) and starts their peers.
std::string worker_start(const std::vector<peer_desc_type> &descs)
{
    std::vector<const peer_desc_type *> devices;
    for (const peer_desc_type &s : descs) {
        if (std::find(worker_side.bound.begin(), worker_side.bound.end(), s.handle) == worker_side.bound.end() &&
            std::none_of(devices.begin(), devices.end(),
                         [&](const peer_desc_type *d) { return d->handle == s.handle; })) {
            devices.push_back(&s);
        }
    }
    std::vector<zerrno> rc(devices.size(), 0);
    std::atomic<size_t> next{0};
    std::vector<std::thread> binders;
    for (int t = 0; t < 16; t++) {
        binders.emplace_back([&] {
            for (size_t i = next++; i < devices.size(); i = next++) {
                rc[i] = pktio_linux_intf_add(devices[i]->dev, devices[i]->handle, devices[i]->ns);
            }
        });
    }
    for (std::thread &t : binders) {
        t.join();
    }
    for (size_t i = 0; i < devices.size(); i++) {
        if (rc[i] != 0) {
            return std::string("binding ") + devices[i]->dev + ": " + zerr_strerror(rc[i]);
        }
        worker_side.bound.push_back(devices[i]->handle);
    }
    std::string why;
    on_worker_thread([&] {
        auto quiet = [](const std::string &) {};
        for (const peer_desc_type &s : descs) {
            uint8_t mac[6] = {};
            zerrno r = pktio_linux_intf_mac(s.handle, mac);
            simpeer::endpoint_type *e = nullptr;
            const simpeer::transport_type transport =
                s.unicast != 0 ? simpeer::transport_type::UDP_IPV4 : simpeer::transport_type::ETHERNET;
            if (r == 0 && s.master != 0) {
                simpeer::gm_config_type c;
                c.clock_id = s.clock_id;
                c.domain = DOMAIN;
                c.transport = transport;
                c.ipv4 = s.ipv4;
                r = simpeer::gm_start(worker_side.evm, s.handle, mac, c, quiet, &e);
            } else if (r == 0) {
                simpeer::slave_config_type c;
                c.clock_id = s.clock_id;
                c.domain = DOMAIN;
                c.transport = transport;
                c.ipv4 = s.ipv4;
                c.master_ipv4 = s.master_ipv4;
                c.log_announce_interval = s.log_announce;
                c.log_sync_interval = s.log_sync;
                c.log_delay_req_interval = s.log_delay_req;
                r = simpeer::slave_start(worker_side.evm, s.handle, mac, c, quiet, &e);
            }
            if (r != 0) {
                why = std::string("peer on ") + s.dev + ": " + zerr_strerror(r);
                return;
            }
            worker_side.peers.emplace_back(s, e);
        }
    });
    return why;
}

std::vector<peer_counts_type> worker_snapshot(bool reset)
{
    std::vector<peer_counts_type> out;
    on_worker_thread([&] {
        for (const auto &[desc, e] : worker_side.peers) {
            if (reset) {
                simpeer::endpoint_gaps_reset(e);
            }
            out.push_back(
                {desc.index, static_cast<uint32_t>(simpeer::endpoint_grants(e).size()), simpeer::endpoint_counts(e)});
        }
    });
    return out;
}

void worker_stop()
{
    on_worker_thread([] {
        for (auto &[desc, e] : worker_side.peers) {
            simpeer::endpoint_stop(e);
        }
        worker_side.peers.clear();
    });
    for (uint32_t h : worker_side.bound) {
        pktio_linux_intf_remove(h);
    }
    worker_side.bound.clear();
}

// A worker process's life: commands from fd until it closes.
[[noreturn]] void worker_main(int fd)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    std::signal(SIGINT, SIG_IGN); // the benchmark stops its workers itself
    worker_side.evm = event_create_manager(nullptr, nullptr, 0);
    event_async_attach_event(worker_side.evm, 0, on_call, nullptr, &worker_side.call);
    event_async_attach_event(worker_side.evm, 0, on_quit, nullptr, &worker_side.quit);
    worker_side.thread = std::thread([] {
        while (!worker_side.stopping) {
            if (event_type *e = event_block(worker_side.evm)) {
                zq_event_dispatch(e);
            }
        }
    });
    uint32_t code = 0;
    std::vector<uint8_t> data;
    while (receive_message(fd, &code, &data)) {
        bool ok = true;
        if (code == CMD_START) {
            const std::string why = worker_start(records_of<peer_desc_type>(data));
            ok = send_message(fd, code, why.data(), why.size());
        } else if (code == CMD_SNAPSHOT) {
            const std::vector<peer_counts_type> c = worker_snapshot(!data.empty() && data[0] != 0);
            ok = send_message(fd, code, c.data(), c.size() * sizeof c[0]);
        } else if (code == CMD_STOP) {
            worker_stop();
            ok = send_message(fd, code, nullptr, 0);
        }
        if (!ok) {
            break;
        }
    }
    worker_stop();
    event_send_async(worker_side.quit.coid, worker_side.quit.code, 0);
    worker_side.thread.join();
    _exit(0);
}

// The benchmark's side: its workers, and what it knows of every peer.
struct peer_type {
    bool master = false;
    bool unicast = false;
};

struct peers_type {
    std::vector<peer_type> all;
    std::vector<int> workers; // their sockets
    std::vector<pid_t> pids;
};
peers_type peers;

// Forks the workers, before the benchmark has any thread of its own.
bool start_workers(int count)
{
    for (int i = 0; i < count; i++) {
        int fds[2] = {-1, -1};
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
            return false;
        }
        const pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            for (int fd : peers.workers) {
                close(fd);
            }
            worker_main(fds[1]);
        }
        close(fds[1]);
        if (pid < 0) {
            close(fds[0]);
            return false;
        }
        peers.workers.push_back(fds[0]);
        peers.pids.push_back(pid);
    }
    return true;
}

void stop_workers()
{
    for (int fd : peers.workers) {
        close(fd);
    }
    for (pid_t pid : peers.pids) {
        waitpid(pid, nullptr, 0);
    }
    peers.workers.clear();
    peers.pids.clear();
}

// Asks every worker the same (or each its own) and gathers the answers.
bool ask_workers(uint32_t code, const std::vector<std::vector<uint8_t>> &each,
                 std::vector<std::vector<uint8_t>> *answers)
{
    answers->assign(peers.workers.size(), {});
    for (size_t w = 0; w < peers.workers.size(); w++) {
        const std::vector<uint8_t> &d = each[each.size() == 1 ? 0 : w];
        if (!send_message(peers.workers[w], code, d.data(), d.size())) {
            return false;
        }
    }
    for (size_t w = 0; w < peers.workers.size(); w++) {
        uint32_t got = 0;
        if (!receive_message(peers.workers[w], &got, &(*answers)[w]) || got != code) {
            return false;
        }
    }
    return true;
}

// Every peer's counts (indexed as peers.all), taken on its worker's thread; with reset, the gaps
// start again from there. grants: each peer's grants held.
std::vector<simpeer::counts_type> snapshot(bool reset, std::vector<uint32_t> *grants = nullptr)
{
    std::vector<std::vector<uint8_t>> answers;
    std::vector<simpeer::counts_type> out(peers.all.size());
    if (grants != nullptr) {
        grants->assign(peers.all.size(), 0);
    }
    if (!ask_workers(CMD_SNAPSHOT, {{static_cast<uint8_t>(reset ? 1 : 0)}}, &answers)) {
        return out;
    }
    for (const std::vector<uint8_t> &a : answers) {
        for (const peer_counts_type &c : records_of<peer_counts_type>(a)) {
            if (c.index < out.size()) {
                out[c.index] = c.counts;
                if (grants != nullptr) {
                    (*grants)[c.index] = c.grants;
                }
            }
        }
    }
    return out;
}

// Stops every peer and unbinds its devices, so that a later phase has the workers to itself.
void stop_peers()
{
    std::vector<std::vector<uint8_t>> answers;
    ask_workers(CMD_STOP, {{}}, &answers);
}

// Starts the peers (their index set here), each device's peers in one worker.
bool start_peers(std::vector<peer_desc_type> descs, std::string *why)
{
    std::vector<std::vector<uint8_t>> each(peers.workers.size());
    for (peer_desc_type &s : descs) {
        s.index = static_cast<uint32_t>(peers.all.size());
        peers.all.push_back({s.master != 0, s.unicast != 0});
        std::vector<uint8_t> &d = each[s.handle % peers.workers.size()];
        const auto *p = reinterpret_cast<const uint8_t *>(&s);
        d.insert(d.end(), p, p + sizeof s);
    }
    std::vector<std::vector<uint8_t>> answers;
    if (!ask_workers(CMD_START, each, &answers)) {
        *why = "a peer worker is gone";
        return false;
    }
    for (const std::vector<uint8_t> &a : answers) {
        if (!a.empty()) {
            *why = std::string(a.begin(), a.end());
            return false;
        }
    }
    return true;
}

// The Ethernet peers on the far ends "<prefix>p<i>" of the namespace, i in [first,
// first + count): masters below `masters`, slaves from there.
std::vector<peer_desc_type> ethernet_peers(const std::string &prefix, const std::string &ns, int first, int count,
                                           int masters, uint32_t handle_base, uint64_t id_base)
{
    std::vector<peer_desc_type> out;
    for (int i = first; i < first + count; i++) {
        peer_desc_type s;
        std::snprintf(s.dev, sizeof s.dev, "%sp%d", prefix.c_str(), i);
        std::snprintf(s.ns, sizeof s.ns, "%s", ns.c_str());
        s.handle = handle_base + static_cast<uint32_t>(i);
        s.clock_id = id_base + static_cast<uint64_t>(i);
        s.master = i < masters ? 1 : 0;
        out.push_back(s);
    }
    return out;
}

// ---- The chassis ----

// The line card's interfaces: the Ethernet ones [0, ports), then the unicast ones (each serving
// unicast_per_port slaves over UDP/IPv4), each on the veth "<prefix>c<i>".
struct layout_type {
    int ports = 0;
    int slaves = 0; // the Ethernet ports in [0, slaves) are slave only, their peers masters
    int unicast_ports = 0;
    int unicast_per_port = 0;
    int unicast_peers = 0;
    int interfaces() const { return ports + unicast_ports; }
};

// Unicast interface j's subnet "10.X.Y.": the interface is .1 of it, its slaves .2 on.
simpeer::ipv4_type unicast_address(int j, int host)
{
    return {10, static_cast<uint8_t>(100 + j / 250), static_cast<uint8_t>(j % 250), static_cast<uint8_t>(host)};
}

std::string address_text(const simpeer::ipv4_type &a)
{
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." + std::to_string(a[3]);
}

std::string chassis_toml(const layout_type &l, const std::string &prefix, const std::string &ns)
{
    std::string s = "[chassis]\nlr_mac = \"02:00:5e:10:00:01\"\n\n"
                    "[[node]]\nname = \"0/RP0/CPU0\"\nid = 0x100\nrole = \"rp\"\nkvolm = true\n\n"
                    "[[node]]\nname = \"0/1/CPU0\"\nid = 0x010\nrole = \"lc\"\n\n";
    char mac[32];
    for (int i = 0; i < l.interfaces(); i++) {
        std::snprintf(mac, sizeof mac, "02:00:5e:11:%02x:%02x", i >> 8, i & 0xff);
        s += "[[node.interface]]\nname = \"" + intf_name(i) + "\"\nhandle = " + std::to_string(0x01010000 + i) +
             "\ntype = 15\nmac = \"" + mac + "\"\ndevice = \"" + prefix + "c" + std::to_string(i) + "\"\nnetns = \"" +
             ns + "\"\n";
        if (i >= l.ports) {
            s += "ipv4 = [\"" + address_text(unicast_address(i - l.ports, 1)) + "\"]\n";
        }
        s += "\n";
    }
    s += "[[process]]\nname = \"tessel\"\nprogram = \"tessel\"\nnodes = \"lc\"\nrestart_on_config = true\n\n"
         "[[process]]\nname = \"quorrin\"\nprogram = \"quorrin\"\nnodes = \"rp\"\n\n"
         "[[process]]\nname = \"sardo\"\nprogram = \"sardo\"\nnodes = \"rp\"\nrestart_on_global_config = true\n";
    return s;
}

// Every interface in one commit: the first half of the Ethernet ones slave only (their peers are
// masters), the rest master only; the unicast ones master only over UDP/IPv4 unicast, granting
// what their slaves ask.
std::string chassis_config(const layout_type &l)
{
    std::string s = "set /cfg/gl/ptp/pi/enable 1\n"
                    "set /cfg/gl/ptp/pi/clock/profile (2,1)\n"
                    "set /cfg/gl/ptp/pi/clock/domain " +
                    std::to_string(DOMAIN) +
                    "\n"
                    "set /cfg/gl/ptp/pi/profile/l2-8275-1/transport 1\n"
                    "set /cfg/gl/ptp/pi/profile/l2-8275-1/multicast (2,0,)\n"
                    "set /cfg/gl/ptp/pi/profile/ipv4-unicast/transport 2\n"
                    "set /cfg/gl/ptp/pi/profile/ipv4-unicast/multicast (0,0,)\n";
    for (int i = 0; i < l.interfaces(); i++) {
        const std::string p = "/cfg/if/act/" + intf_name(i) + "/ptp/pi/";
        s += "set " + p + "enable 1\nset " + p + "profile " + (i < l.ports ? "l2-8275-1" : "ipv4-unicast") + "\nset " +
             p + "port-state " + (i < l.slaves ? "1" : "2") + "\n";
    }
    return s + "commit\n";
}

// The ports not (yet) in their state: master ports Master; the slave-only ports, each with a
// master of its own, one Slave (the boundary clock follows the best of them) and the others
// Passive. *slave: the port that is Slave.
int ports_out_of_state(const layout_type &l, std::string *first, std::string *slave)
{
    // A sweep of an agent that answers slowly is cut short: the ports it did not read count as out.
    constexpr double SWEEP_LIMIT_S = 30;
    const double t_end = now_s() + SWEEP_LIMIT_S;
    int out = 0;
    int slave_ports = 0;
    for (int i = 0; i < l.interfaces() && !interrupted; i++) {
        if (now_s() > t_end) {
            if (out == 0) {
                *first = intf_name(i) + " not read within " + std::to_string(static_cast<int>(SWEEP_LIMIT_S)) + " s";
            }
            out += l.interfaces() - i;
            break;
        }
        const std::string state = bench_chassis_port_state(intf_name(i));
        const bool in_state = i < l.slaves ? state == "Slave" || state == "Passive" : state == "Master";
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

bool ptp4l_run(int count, int cpu, double seconds, uint32_t handle_base, ptp4l_result_type *r, std::string *why)
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
        ok = pid > 0 && start_peers(ethernet_peers(prefix, ns_q, 0, count, 0, handle_base, 0x020000fffe400000ull), why);
        for (size_t i = first; i < peers.all.size(); i++) {
            mine.push_back(i);
        }
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
    stop_peers(); // its slaves, before their devices go with the namespaces
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
    int unicast_peers = 2500;
    int unicast_per_port = 10;
    int peer_processes = 6;
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
        } else if (a == "--unicast-peers") {
            o->unicast_peers = std::max(0, std::atoi(v));
        } else if (a == "--unicast-per-port") {
            o->unicast_per_port = std::clamp(std::atoi(v), 1, 250);
        } else if (a == "--peer-processes") {
            o->peer_processes = std::clamp(std::atoi(v), 1, 64);
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

// What the unicast slaves ask their port for: Announce every second, Sync and Delay-Resp 16 a
// second, as the Ethernet sessions run.
constexpr int8_t UNICAST_LOG_ANNOUNCE = 0, UNICAST_LOG_SYNC = -4, UNICAST_LOG_DELAY_REQ = -4;

// The kernel carries the UDP/IPv4 side (its raw sockets send, it resolves the neighbours), so each
// unicast veth has its addresses: the line card's end .1 of its subnet, the far end every slave's.
bool add_unicast_addresses(const layout_type &l, const std::string &prefix, const std::string &ns_c,
                           const std::string &ns_p)
{
    std::string c, p;
    for (int j = 0; j < l.unicast_ports; j++) {
        const std::string n = std::to_string(l.ports + j);
        c += "address add " + address_text(unicast_address(j, 1)) + "/24 dev " + prefix + "c" + n + "\n";
    }
    for (int k = 0; k < l.unicast_peers; k++) {
        const int j = k / l.unicast_per_port;
        p += "address add " + address_text(unicast_address(j, 2 + k % l.unicast_per_port)) + "/24 dev " + prefix + "p" +
             std::to_string(l.ports + j) + "\n";
    }
    const std::string file = "/tmp/" + prefix + ".addresses";
    std::ofstream(file + "c") << c;
    std::ofstream(file + "p") << p;
    const bool ok =
        sh("ip -n " + ns_c + " -batch " + file + "c") == 0 && sh("ip -n " + ns_p + " -batch " + file + "p") == 0;
    std::remove((file + "c").c_str());
    std::remove((file + "p").c_str());
    return ok;
}

std::vector<peer_desc_type> unicast_peers_of(const layout_type &l, const std::string &prefix, const std::string &ns)
{
    std::vector<peer_desc_type> out;
    for (int k = 0; k < l.unicast_peers; k++) {
        const int j = k / l.unicast_per_port, i = l.ports + j;
        peer_desc_type s;
        std::snprintf(s.dev, sizeof s.dev, "%sp%d", prefix.c_str(), i);
        std::snprintf(s.ns, sizeof s.ns, "%s", ns.c_str());
        s.handle = 0x100 + static_cast<uint32_t>(i);
        s.clock_id = 0x020000fffe500000ull + static_cast<uint64_t>(k);
        s.unicast = 1;
        s.ipv4 = unicast_address(j, 2 + k % l.unicast_per_port);
        s.master_ipv4 = unicast_address(j, 1);
        s.log_announce = UNICAST_LOG_ANNOUNCE;
        s.log_sync = UNICAST_LOG_SYNC;
        s.log_delay_req = UNICAST_LOG_DELAY_REQ;
        out.push_back(s);
    }
    return out;
}

int64_t workers_cpu_ns()
{
    int64_t sum = 0;
    for (pid_t pid : peers.pids) {
        sum += std::max<int64_t>(0, bench_process_cpu_ns(pid));
    }
    return sum;
}

// The figures of one kind of session over the window, as the peers saw them.
struct stream_figures_type {
    uint64_t followed = 0;
    int64_t worst_gap_ns = 0;
    uint64_t late = 0;
    uint64_t losses = 0;
    int silent = 0;
    int short_of_grants = 0; // unicast: peers without their three grants
    void add(const simpeer::counts_type &k, uint32_t grants, bool unicast)
    {
        followed += k.followed;
        worst_gap_ns = std::max(worst_gap_ns, k.worst_gap_ns);
        late += k.late;
        losses += k.master_losses;
        silent += k.followed == 0 ? 1 : 0;
        short_of_grants += unicast && grants < 3 ? 1 : 0;
    }
};

} // namespace

int main(int argc, char **argv)
{
    options opt;
    if (!parse(argc, argv, &opt)) {
        std::fprintf(stderr,
                     "usage: linecard_bench [--ports N] [--seconds S] [--unicast-peers U] [--unicast-per-port K] "
                     "[--peer-processes P] [--ptp4l-ports K,K,...] [--ptp4l-cpu C]\n");
        return 2;
    }
    if (geteuid() != 0 || sh("ip netns list") != 0) {
        std::printf("linecard_bench skipped: needs root and 'ip netns'\n");
        return 0;
    }
    const bool with_ptp4l = sh("command -v ptp4l") == 0;
    // Each bound device holds a handful of sockets, in the agent and in the peers' workers.
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (!start_workers(opt.peer_processes)) {
        std::printf("linecard_bench: could not start the peers' worker processes\n");
        stop_workers();
        return 1;
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);

    layout_type l;
    // The agent takes at most 2000 PTP interfaces, so the unicast interfaces are of the N: the last
    // of the master-only half.
    l.slaves = opt.ports / 2; // the line card's slave ports: their peers are masters
    l.unicast_per_port = opt.unicast_per_port;
    l.unicast_ports =
        std::min((opt.unicast_peers + opt.unicast_per_port - 1) / opt.unicast_per_port, opt.ports - l.slaves);
    l.unicast_peers = std::min(opt.unicast_peers, l.unicast_ports * l.unicast_per_port);
    l.ports = opt.ports - l.unicast_ports;
    const int ports = l.interfaces();
    neigh_limits_type neigh_limits;
    neigh_limits.raise(std::max(1024, 2 * (l.unicast_peers + ports)));
    const std::string id = std::to_string(getpid() % 10000);
    const std::string prefix = "l" + id;
    const std::string ns_c = "lcbC" + id, ns_p = "lcbP" + id;
    bench_chassis_type chassis;
    int rc = 1;
    std::printf("linecard_bench: %d interfaces on line card %s: %d over Ethernet (%d slave only, %d master only), %d "
                "master only over UDP/IPv4 unicast serving %d unicast slaves (%d each); veths; peers in %d processes; "
                "%u CPUs, load average %s\n",
                ports, NODE, l.ports, l.slaves, l.ports - l.slaves, l.unicast_ports, l.unicast_peers,
                l.unicast_per_port, opt.peer_processes, std::thread::hardware_concurrency(), bench_loadavg().c_str());
    [&] {
        std::string why;
        const double t_setup = now_s();
        if (!make_ns(ns_c) || !make_ns(ns_p) || !make_veths(prefix, ns_c, ns_p, ports) ||
            !add_unicast_addresses(l, prefix, ns_c, ns_p)) {
            std::printf("linecard_bench: could not make the namespaces and veths\n");
            return;
        }
        std::printf("veths made in %.1f s\n", now_s() - t_setup);
        const double t_start = now_s();
        if (!bench_chassis_start(chassis_toml(l, prefix, ns_c), &chassis, &why)) {
            std::printf("linecard_bench: %s\n", why.c_str());
            return;
        }
        std::printf("chassis up, its processes ready, %.1f s after the daemon's start\n", now_s() - t_start);
        const pid_t agent = bench_chassis_pid(chassis, NODE, "tessel");
        if (agent < 0) {
            std::printf("linecard_bench: the line card's agent is not running\n");
            return;
        }
        std::vector<peer_desc_type> descs =
            ethernet_peers(prefix, ns_p, 0, l.ports, l.slaves, 0x100, 0x020000fffe300000ull);
        for (const peer_desc_type &s : unicast_peers_of(l, prefix, ns_p)) {
            descs.push_back(s);
        }
        if (!start_peers(descs, &why)) {
            std::printf("linecard_bench: %s\n", why.c_str());
            return;
        }
        nap(1);
        const int64_t rss_before = bench_process_rss_bytes(agent);
        std::printf("agent (tessel, pid %d) before the commit: resident %.1f MB\n", static_cast<int>(agent),
                    static_cast<double>(rss_before) / 1e6);

        // The commit, and each port's first message as its peer sees it: a master port's first
        // Sync at its slave (a unicast slave's once it was granted), a slave port's first Delay-Req.
        const std::string config = chassis_config(l);
        const double t_commit = now_s();
        const uint64_t mono_commit = plat_clock_mono_ns();
        const std::string said = bench_chassis_ctl(chassis, "-f -", config);
        const double t_acked = now_s();
        std::printf("commit of %d interfaces acknowledged after %.3f s%s%s\n", ports, t_acked - t_commit,
                    said.empty() ? "" : "; nodractl said: ", said.substr(0, 300).c_str());
        // From the peers' side: until every master port's slave (Ethernet and unicast) has its first
        // Sync, polled every 50 ms (to the millisecond, each peer stamps its first).
        const auto heard_of = [&](const std::vector<simpeer::counts_type> &c, bool unicast, int *heard,
                                  uint64_t *last) {
            *heard = 0;
            *last = 0;
            int of = 0;
            for (size_t i = 0; i < c.size(); i++) {
                if (peers.all[i].master || peers.all[i].unicast != unicast) {
                    continue;
                }
                of++;
                if (c[i].followed > 0) {
                    (*heard)++;
                    *last = std::max(*last, c[i].first_followed_mono_ns);
                }
            }
            return of;
        };
        int heard_e = 0, heard_u = 0, of_e = 0, of_u = 0;
        uint64_t last_e = 0, last_u = 0;
        while (!interrupted && now_s() - t_commit < 20) {
            const std::vector<simpeer::counts_type> c = snapshot(false);
            of_e = heard_of(c, false, &heard_e, &last_e);
            of_u = heard_of(c, true, &heard_u, &last_u);
            if (heard_e == of_e && heard_u == of_u) {
                break;
            }
            nap(0.05);
        }
        const auto since_commit = [&](uint64_t t) {
            return t > mono_commit ? static_cast<double>(t - mono_commit) / 1e9 : 0.0;
        };
        std::printf("from the commit to the last Ethernet master port's first Sync at its slave: %.3f s (%d of %d "
                    "heard)\n",
                    since_commit(last_e), heard_e, of_e);
        std::printf("from the commit to the last unicast slave's first Sync from its port: %.3f s (%d of %d heard)\n",
                    since_commit(last_u), heard_u, of_u);
        // The ports' states through the database, once (a sweep of every port takes a while).
        std::string first_out, slave_port;
        const double t_sweep = now_s();
        int out = ports_out_of_state(l, &first_out, &slave_port);
        std::printf("ports not in their state %.1f s after the commit: %d%s%s (Slave: %s; the sweep took %.2f s)\n",
                    t_sweep - t_commit, out, out != 0 ? ", first: " : "", out != 0 ? first_out.c_str() : "",
                    slave_port.empty() ? "none" : slave_port.c_str(), now_s() - t_sweep);

        // The window.
        nap(2);
        snapshot(true);
        const int64_t cpu_a = bench_process_cpu_ns(agent);
        const int64_t peers_a = workers_cpu_ns();
        const double t_a = now_s();
        const std::string load_a = bench_loadavg();
        if (!nap(opt.seconds)) {
            return;
        }
        std::vector<uint32_t> grants;
        const std::vector<simpeer::counts_type> c = snapshot(false, &grants);
        const int64_t cpu_b = bench_process_cpu_ns(agent);
        const int64_t peers_b = workers_cpu_ns();
        const double window = now_s() - t_a;
        const int64_t rss = bench_process_rss_bytes(agent);
        stream_figures_type e_sync, e_delay_req, u_sync;
        for (size_t i = 0; i < c.size(); i++) {
            const peer_type &p = peers.all[i];
            (p.master ? e_delay_req : p.unicast ? u_sync : e_sync).add(c[i], grants[i], p.unicast);
        }
        out = ports_out_of_state(l, &first_out, &slave_port);
        const double cpu = static_cast<double>(cpu_b - cpu_a) / 1e9 / window;
        std::printf("window of %.1f s (load average %s at its start, %s at its end):\n", window, load_a.c_str(),
                    bench_loadavg().c_str());
        std::printf("  agent CPU (all threads): %.1f%% of a core, %.1f us/s per port\n", 100 * cpu, cpu * 1e6 / ports);
        std::printf("  agent resident memory: %.1f MB, %.1f KB per port over the %.1f MB before the commit\n",
                    static_cast<double>(rss) / 1e6, static_cast<double>(rss - rss_before) / 1e3 / ports,
                    static_cast<double>(rss_before) / 1e6);
        std::printf("  Ethernet master ports: %" PRIu64 " Syncs at their slaves, worst gap between two Syncs of one "
                    "session %.1f ms, %" PRIu64 " intervals missed, %" PRIu64 " masters lost at the slaves, %d "
                    "silent\n",
                    e_sync.followed, static_cast<double>(e_sync.worst_gap_ns) / 1e6, e_sync.late, e_sync.losses,
                    e_sync.silent);
        std::printf("  unicast slaves: %" PRIu64 " Syncs, worst gap %.1f ms, %" PRIu64 " intervals missed, %" PRIu64
                    " masters lost, %d silent, %d without their three grants at the end\n",
                    u_sync.followed, static_cast<double>(u_sync.worst_gap_ns) / 1e6, u_sync.late, u_sync.losses,
                    u_sync.silent, u_sync.short_of_grants);
        std::printf("  the Slave port: %" PRIu64 " Delay-Reqs at its master, worst gap %.1f ms, %" PRIu64
                    " intervals missed\n",
                    e_delay_req.followed, static_cast<double>(e_delay_req.worst_gap_ns) / 1e6, e_delay_req.late);
        std::printf("  ports not in their state at its end: %d%s%s\n", out, out != 0 ? ", first: " : "",
                    out != 0 ? first_out.c_str() : "");
        std::printf("  the peers (%zu worker processes): %.1f%% of a core\n", peers.pids.size(),
                    100.0 * static_cast<double>(peers_b - peers_a) / 1e9 / window);
        const double agent_per_port = cpu / ports;

        // The line card's peers and the chassis go, so that ptp4l and its slaves have the machine
        // as the line card had it.
        stop_peers();
        bench_chassis_stop(&chassis);
        if (with_ptp4l) {
            std::printf("ptp4l as master on one core (CPU %d), to simulated slaves over veths of its own:\n",
                        opt.ptp4l_cpu);
            uint32_t base = 0x10000;
            for (int k : opt.ptp4l_ports) {
                ptp4l_result_type r;
                if (!ptp4l_run(k, opt.ptp4l_cpu, std::min(opt.seconds, 10.0), base, &r, &why)) {
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
