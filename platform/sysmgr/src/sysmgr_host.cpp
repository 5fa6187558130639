// The process manager of the platform daemon. Processes are started with their node, the
// chassis and the daemon's socket in their environment, their output in a log of their own; a
// thread waits for their deaths and hands each to the daemon's event manager, where the restart
// is scheduled, later each time a process keeps dying soon after its start, until it is given up.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "evm_alarm.h"
#include "plat_clock.h"
#include "proc_log.h"
#include "sysmgr.h"
#include "sysmgr_chassis.h"
#include "sysmgr_host.h"

namespace {

enum class proc_state {
    STARTING,
    READY,
    EXITING,
    STOPPED,
    RESTARTING,
    FAILED
};

const char *state_name(proc_state s)
{
    switch (s) {
    case proc_state::STARTING: return "starting";
    case proc_state::READY: return "ready";
    case proc_state::EXITING: return "exiting";
    case proc_state::STOPPED: return "stopped";
    case proc_state::RESTARTING: return "restarting";
    case proc_state::FAILED: return "failed";
    }
    return "?";
}

struct proc_type {
    std::string node_name;
    uint32_t node_id = 0;
    std::string name;
    std::string program;
    std::vector<std::string> args;
    pid_t pid = -1;
    proc_state state = proc_state::STOPPED;
    uint32_t restarts = 0;     // starts after a death it did not announce, or by the operator
    uint32_t quick_deaths = 0; // deaths in a row, each within SYSMGR_RESTART_STABLE_MS of its start
    uint64_t started_ns = 0;   // platform clock, monotonic
    int last_status = -1;      // wait status of its last death; -1 before any
    evm_alarm_type *restart = nullptr;
    bool restart_on_config = false;
    bool restart_on_global_config = false;
    bool config_pending = false;   // to be started again once dead, though it was leaving
    bool operator_restart = false; // the operator's restart: started again once dead
    uint32_t left_at = 0;          // the configuration's last commit when it said it was leaving
    std::string log_path;
    int log = -1; // its log, kept open for the manager's own lines about it
};

struct lr_interest_type {
    sockmsg_session_type *session;
    uint32_t node;
    uint32_t kind;
};

struct host_type {
    std::mutex lock; // the table: the daemon's loop and the reaper thread
    std::vector<lr_interest_type> lr;
    std::map<uint64_t, uint32_t> named; // session id: the node a client not started here named
    event_mgr_type *evm = nullptr;
    event_async_ctx_type death{};
    std::vector<proc_type *> procs;
    std::vector<std::pair<pid_t, int>> deaths;
    std::thread reaper;
    std::atomic<bool> stopping{false};
    uint32_t (*config_sequence)(void) = nullptr;
};

host_type &host()
{
    static host_type h;
    return h;
}

std::string resolve(const std::string &program)
{
    if (program.find('/') != std::string::npos)
        return program;
    const char *bin = getenv("PTP_BIN_DIR");
    return bin != nullptr && bin[0] != '\0' ? std::string(bin) + "/" + program : program;
}

// "exit=N", "signal=NAME", or "-" before the first death.
std::string status_text(int status)
{
    if (status < 0)
        return "-";
    if (WIFEXITED(status))
        return "exit=" + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) {
        const char *name = sigabbrev_np(WTERMSIG(status));
        return "signal=" + (name != nullptr ? std::string(name) : std::to_string(WTERMSIG(status)));
    }
    return "status=" + std::to_string(status);
}

// One line about the process, in its log and on the daemon's standard error (the main job's
// console).
void say(const proc_type *p, const std::string &text)
{
    const std::string line = "process manager: " + p->node_name + " " + p->name + " " + text;
    plat_proc_log_write(p->log, line);
    fprintf(stderr, "%s\n", line.c_str());
}

void log_stopped(const proc_type *p, int status)
{
    plat_proc_log_write(p->log,
                        "process manager: " + p->node_name + " " + p->name + " stopped (" + status_text(status) + ")");
}

// In a child before exec: writes head and the child's pid as one line to fd, with nothing that
// could wait for a lock another thread of the daemon held at the fork.
void log_started(int fd, const std::string &head)
{
    char line[512];
    size_t n = std::min(head.size(), sizeof line - 16);
    memcpy(line, head.data(), n);
    char digits[16];
    size_t d = 0;
    for (pid_t pid = getpid(); pid > 0 && d < sizeof digits; pid /= 10)
        digits[d++] = static_cast<char>('0' + pid % 10);
    while (d > 0)
        line[n++] = digits[--d];
    line[n++] = '\n';
    if (write(fd, line, n) < 0) {
        // The log is the child's only record of its start; without it the process still runs.
    }
}

// Caller holds the lock.
void start(proc_type *p)
{
    if (p->log < 0)
        p->log = plat_proc_log_open(p->log_path);
    p->started_ns = plat_clock_mono_ns();
    // The child writes its first line, before anything it writes itself.
    const std::string started =
        plat_proc_log_line("process manager: " + p->node_name + " " + p->name + " started, pid ");
    // Everything the child needs is made here: between fork and exec the child may only make
    // async-signal-safe calls, since another thread of the daemon may have held the allocator's
    // lock at the fork (a setenv there hung the child for good).
    const std::string path = resolve(p->program);
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(path.c_str()));
    for (const std::string &a : p->args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    char node_id[16];
    snprintf(node_id, sizeof node_id, "%x", p->node_id);
    // The database's node-relative paths ("&&") name the node by its id.
    std::map<std::string, std::string> env_set = {
        {"PTP_NODE", p->node_name}, {"PTP_NODE_ID", node_id}, {"PTP_PROC_NAME", p->name}};
    if (p->log >= 0)
        env_set["PTP_PROC_LOG"] = p->log_path;
    std::vector<std::string> env_text;
    for (char **e = environ; *e != nullptr; e++) {
        const char *eq = strchr(*e, '=');
        if (eq == nullptr || env_set.count(std::string(*e, static_cast<size_t>(eq - *e))) == 0)
            env_text.emplace_back(*e);
    }
    for (const auto &[name, value] : env_set)
        env_text.push_back(name + "=" + value);
    std::vector<char *> envp;
    for (std::string &e : env_text)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        p->state = proc_state::FAILED;
        say(p, std::string("cannot be started: ") + strerror(errno));
        return;
    }
    if (pid == 0) {
        // Its output goes to its log; without one it keeps the daemon's.
        if (p->log >= 0) {
            log_started(p->log, started);
            dup2(p->log, STDOUT_FILENO);
            dup2(p->log, STDERR_FILENO);
        }
        // The daemon blocks its stop signals for its signal thread; a process gets them back.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (strchr(argv[0], '/') != nullptr)
            execve(argv[0], argv.data(), envp.data());
        else
            execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    p->pid = pid;
    p->state = proc_state::STARTING;
}

void restart_alarm(evm_alarm_type *, void *context)
{
    host_type &h = host();
    std::lock_guard<std::mutex> g(h.lock);
    auto *p = static_cast<proc_type *>(context);
    if (p->state == proc_state::RESTARTING && !h.stopping) {
        p->restarts++;
        start(p);
    }
}

// A death the process did not announce (or the operator's restart): started again after a
// delay that doubles with each death soon after its start, and given up after too many.
void schedule_restart(proc_type *p)
{
    const bool quick = plat_clock_mono_ns() - p->started_ns < SYSMGR_RESTART_STABLE_MS * 1000000ull;
    p->quick_deaths = quick ? p->quick_deaths + 1 : 1;
    const std::string how = status_text(p->last_status);
    if (p->quick_deaths > SYSMGR_RESTART_LIMIT) {
        p->state = proc_state::FAILED;
        say(p, "failed (" + how + "): " + std::to_string(p->quick_deaths) + " deaths in a row, each within " +
                   std::to_string(SYSMGR_RESTART_STABLE_MS / 1000) +
                   " s of its start; not started again until the operator's restart");
        return;
    }
    const uint64_t delay_ms = std::min(SYSMGR_RESTART_DELAY_MS << (p->quick_deaths - 1), SYSMGR_RESTART_DELAY_MAX_MS);
    p->state = proc_state::RESTARTING;
    say(p, "died (" + how + "); started again in " + std::to_string(delay_ms) + " ms");
    evm_alarm_set(p->restart, plat_clock_mono_ns() + delay_ms * 1000000ull);
}

// Deaths, on the daemon's loop. One that left as it said it would stays stopped, unless
// configuration wants it again (a start, not a restart); any other is restarted.
int death_event(const event_async_ctx_type *, int32_t, void *)
{
    host_type &h = host();
    std::lock_guard<std::mutex> g(h.lock);
    for (const auto &[pid, status] : h.deaths) {
        for (proc_type *p : h.procs) {
            if (p->pid != pid)
                continue;
            p->pid = -1;
            p->last_status = status;
            const bool left = p->state == proc_state::EXITING;
            if (h.stopping || (left && !p->config_pending && !p->operator_restart)) {
                p->state = proc_state::STOPPED;
                log_stopped(p, status);
            } else if (left && !p->operator_restart) {
                p->config_pending = false;
                start(p);
            } else {
                p->config_pending = false;
                p->operator_restart = false;
                schedule_restart(p);
            }
        }
    }
    h.deaths.clear();
    return 0;
}

void reap_loop()
{
    host_type &h = host();
    while (!h.stopping) {
        int status = 0;
        const pid_t pid = waitpid(-1, &status, WNOHANG);
        if (pid > 0) {
            std::lock_guard<std::mutex> g(h.lock);
            h.deaths.emplace_back(pid, status);
            event_send_async(h.death.coid, h.death.code, 0);
            continue;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

proc_type *by_pid(host_type &h, pid_t pid)
{
    for (proc_type *p : h.procs)
        if (p->pid == pid)
            return p;
    return nullptr;
}

// The process leaves, on the configuration as it stands. Caller holds the lock.
void leaving(host_type &h, proc_type *p)
{
    p->state = proc_state::EXITING;
    p->left_at = h.config_sequence != nullptr ? h.config_sequence() : 0;
}

// The caller is the process the kernel says it is: its pid, never a name it gives.
void mark(sockmsg_session_type *session, sockmsg_call_type *call, proc_state state)
{
    host_type &h = host();
    zerrno rc = 0;
    {
        std::lock_guard<std::mutex> g(h.lock);
        proc_type *p = by_pid(h, sockmsg_session_peer(session)->pid);
        if (p == nullptr)
            rc = SYSMGR_ERR_NO_NODE;
        else if (state == proc_state::EXITING)
            leaving(h, p);
        else
            p->state = state;
    }
    if (call != nullptr)
        sockmsg_reply(call, rc, nullptr, 0);
}

void on_ready(sockmsg_session_type *session, sockmsg_call_type *call, const uint8_t *, uint32_t, void *)
{
    mark(session, call, proc_state::READY);
}

void on_exiting(sockmsg_session_type *session, sockmsg_call_type *call, const uint8_t *, uint32_t, void *)
{
    mark(session, call, proc_state::EXITING);
}

void on_list(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *, uint32_t, void *)
{
    const std::string table = sysmgr_host_process_table();
    if (call != nullptr)
        sockmsg_reply(call, 0, table.data(), static_cast<uint32_t>(table.size()));
}

// The operator's requests on one process: u32 node, then its name (1 to 64 bytes).
enum class op_type {
    KILL,    // kill -9: the manager starts it again, as after any death
    STOP,    // kill -9 and leave it stopped
    RESTART, // kill -9 and start again, also one that is stopped
};

void on_process(sockmsg_call_type *call, const uint8_t *data, uint32_t length, op_type op)
{
    host_type &h = host();
    zerrno rc = SYSMGR_ERR_INVALID;
    if (length > 4 && length <= 4 + 64) {
        const uint32_t node = static_cast<uint32_t>(data[0]) << 24 | static_cast<uint32_t>(data[1]) << 16 |
                              static_cast<uint32_t>(data[2]) << 8 | data[3];
        const std::string name(reinterpret_cast<const char *>(data + 4), length - 4);
        std::lock_guard<std::mutex> g(h.lock);
        rc = SYSMGR_ERR_NO_NODE;
        for (proc_type *p : h.procs) {
            if (p->node_id != node || p->name != name)
                continue;
            rc = 0;
            // The operator's kill is no sign of a process that keeps dying.
            p->quick_deaths = 0;
            if (p->pid > 0) {
                kill(p->pid, SIGKILL);
                // Its death decides: one leaving stays stopped unless a start is pending.
                if (op == op_type::STOP)
                    leaving(h, p);
                p->config_pending = false;
                p->operator_restart = op == op_type::RESTART;
            } else if (op == op_type::RESTART && h.evm != nullptr && !h.stopping) {
                p->state = proc_state::RESTARTING;
                evm_alarm_set(p->restart, plat_clock_mono_ns());
            }
        }
    }
    if (call != nullptr)
        sockmsg_reply(call, rc, nullptr, 0);
}

void on_kill(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    on_process(call, data, length, op_type::KILL);
}

void on_stop(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    on_process(call, data, length, op_type::STOP);
}

void on_restart(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    on_process(call, data, length, op_type::RESTART);
}

void on_nodes(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *, uint32_t, void *)
{
    const std::string table = sysmgr_host_node_table();
    if (call != nullptr)
        sockmsg_reply(call, 0, table.data(), static_cast<uint32_t>(table.size()));
}

uint32_t be32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}

// See sysmgr_host_client_node. Caller holds the lock.
zerrno client_node_locked(host_type &h, sockmsg_session_type *session, uint32_t requested, uint32_t *node)
{
    if (const proc_type *p = by_pid(h, sockmsg_session_peer(session)->pid)) {
        *node = p->node_id;
        return 0;
    }
    const chassis_desc_type *chassis = sysmgr_chassis();
    if (chassis != nullptr && chassis_find_node(chassis, requested) == nullptr)
        return SYSMGR_ERR_NO_NODE;
    const auto [it, added] = h.named.try_emplace(sockmsg_session_id(session), requested);
    if (!added && it->second != requested)
        return SYSMGR_ERR_INVALID;
    *node = requested;
    return 0;
}

// A process the manager started gets the events of its own node, whatever node it names.
void on_lr_register(sockmsg_session_type *session, sockmsg_call_type *call, const uint8_t *data, uint32_t length,
                    void *)
{
    host_type &h = host();
    zerrno rc = SYSMGR_ERR_INVALID;
    if (length == 8) {
        std::lock_guard<std::mutex> g(h.lock);
        uint32_t node = 0;
        rc = client_node_locked(h, session, be32(data), &node);
        if (rc == 0)
            h.lr.push_back({session, node, be32(data + 4)});
    }
    if (call != nullptr)
        sockmsg_reply(call, rc, nullptr, 0);
}

void on_lr_fire(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    host_type &h = host();
    if (length != 8) {
        if (call != nullptr)
            sockmsg_reply(call, SYSMGR_ERR_INVALID, nullptr, 0);
        return;
    }
    const uint32_t node = be32(data), kind = be32(data + 4);
    uint32_t told = 0;
    {
        std::lock_guard<std::mutex> g(h.lock);
        for (const lr_interest_type &i : h.lr) {
            if (i.kind != kind || (node != UINT32_MAX && i.node != node))
                continue;
            const uint8_t event[8] = {static_cast<uint8_t>(kind >> 24),   static_cast<uint8_t>(kind >> 16),
                                      static_cast<uint8_t>(kind >> 8),    static_cast<uint8_t>(kind),
                                      static_cast<uint8_t>(i.node >> 24), static_cast<uint8_t>(i.node >> 16),
                                      static_cast<uint8_t>(i.node >> 8),  static_cast<uint8_t>(i.node)};
            if (sockmsg_notify(i.session, SYSMGR_SERVICE_ID, SYSMGR_WIRE_LR_EVENT, event, sizeof event) == 0)
                told++;
        }
    }
    const uint8_t out[4] = {static_cast<uint8_t>(told >> 24), static_cast<uint8_t>(told >> 16),
                            static_cast<uint8_t>(told >> 8), static_cast<uint8_t>(told)};
    if (call != nullptr)
        sockmsg_reply(call, 0, out, sizeof out);
}

void on_disconnect(sockmsg_session_type *session, void *, void *)
{
    host_type &h = host();
    std::lock_guard<std::mutex> g(h.lock);
    std::erase_if(h.lr, [session](const lr_interest_type &i) { return i.session == session; });
    h.named.erase(sockmsg_session_id(session));
}

const sockmsg_handler_row rows[] = {
    {SYSMGR_WIRE_READY, on_ready},
    {SYSMGR_WIRE_EXITING, on_exiting},
    {SYSMGR_WIRE_LIST, on_list},
    {SYSMGR_WIRE_KILL, on_kill},
    {SYSMGR_WIRE_LR_REGISTER, on_lr_register},
    {SYSMGR_WIRE_LR_FIRE, on_lr_fire},
    {SYSMGR_WIRE_NODES, on_nodes},
    {SYSMGR_WIRE_STOP, on_stop},
    {SYSMGR_WIRE_RESTART, on_restart},
};
const sockmsg_service_type service = {SYSMGR_SERVICE_ID, "sysmgr", rows, sizeof rows / sizeof rows[0],
                                      on_disconnect,     nullptr};

} // namespace

zerrno sysmgr_host_init(event_mgr_type *evm, sockmsg_server_type *server)
{
    host_type &h = host();
    if (const zerrno rc = sockmsg_server_register(server, &service); rc != 0)
        return rc;
    std::lock_guard<std::mutex> g(h.lock);
    h.evm = evm;
    h.stopping = false;
    if (event_async_attach_event(evm, 0, death_event, nullptr, &h.death) < 0)
        return SYSMGR_ERR_NO_MEMORY;
    const chassis_desc_type *chassis = sysmgr_chassis();
    if (chassis == nullptr) {
        // A chassis that was named but could not be read (its error line is printed) stops the
        // daemon; without one it only serves.
        const char *path = getenv("PTP_CHASSIS");
        return path != nullptr && path[0] != '\0' ? SYSMGR_ERR_NO_CHASSIS : 0;
    }
    for (const chassis_node_type &node : chassis->nodes) {
        for (const chassis_process_type &cp : chassis->processes) {
            if (!(node.is_rp ? cp.on_rp : cp.on_lc))
                continue;
            auto *p = new proc_type;
            p->node_name = node.name;
            p->node_id = node.node_id;
            p->name = cp.name;
            p->program = cp.program;
            p->args = cp.args;
            p->restart_on_config = cp.restart_on_config;
            p->restart_on_global_config = cp.restart_on_global_config;
            p->log_path = plat_proc_log_path(node.name, cp.name);
            p->restart = evm_alarm_new(evm, restart_alarm, p);
            h.procs.push_back(p);
            start(p);
        }
    }
    h.reaper = std::thread(reap_loop);
    return 0;
}

void sysmgr_host_shutdown(void)
{
    host_type &h = host();
    std::vector<pid_t> pids;
    {
        std::lock_guard<std::mutex> g(h.lock);
        h.stopping = true;
        for (proc_type *p : h.procs)
            if (p->pid > 0)
                pids.push_back(p->pid);
    }
    for (pid_t pid : pids)
        kill(pid, SIGTERM);
    if (h.reaper.joinable())
        h.reaper.join();
    std::lock_guard<std::mutex> g(h.lock);
    // Each has SYSMGR_STOP_GRACE_MS in all to end by itself (deaths the reaper saw are queued);
    // what is left is killed.
    const auto grace = std::chrono::steady_clock::now() + std::chrono::milliseconds(SYSMGR_STOP_GRACE_MS);
    for (proc_type *p : h.procs) {
        if (p->pid > 0) {
            int status = -1;
            const auto seen = std::find_if(h.deaths.begin(), h.deaths.end(),
                                           [p](const std::pair<pid_t, int> &d) { return d.first == p->pid; });
            if (seen != h.deaths.end())
                status = seen->second;
            while (status < 0 && waitpid(p->pid, &status, WNOHANG) == 0) {
                status = -1;
                if (std::chrono::steady_clock::now() > grace) {
                    kill(p->pid, SIGKILL);
                    waitpid(p->pid, &status, 0);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            log_stopped(p, status);
        }
        evm_alarm_free(p->restart);
        if (p->log >= 0)
            close(p->log);
        delete p;
    }
    h.procs.clear();
    h.deaths.clear();
    if (h.evm != nullptr)
        event_async_attach(h.evm, h.death.code, nullptr, nullptr);
    h.evm = nullptr;
}

std::string sysmgr_host_process_table(void)
{
    host_type &h = host();
    std::lock_guard<std::mutex> g(h.lock);
    std::string out;
    for (const proc_type *p : h.procs) {
        char line[256];
        snprintf(line, sizeof line, "%s %s %d %s %u %s\n", p->node_name.c_str(), p->name.c_str(), p->pid,
                 state_name(p->state), p->restarts, status_text(p->last_status).c_str());
        out += line;
    }
    return out;
}

zerrno sysmgr_host_client_node(sockmsg_session_type *session, uint32_t requested, uint32_t *node)
{
    host_type &h = host();
    if (session == nullptr || node == nullptr)
        return SYSMGR_ERR_INVALID;
    std::lock_guard<std::mutex> g(h.lock);
    return client_node_locked(h, session, requested, node);
}

// Starts again the processes that left by themselves and that the configuration of commit
// `sequence` wants. A commit a process had seen when it said it was leaving is what it left on:
// its notification, come late, is no reason to start it.
template <typename Wanted>
uint32_t start_wanted(uint32_t sequence, Wanted wanted)
{
    host_type &h = host();
    std::lock_guard<std::mutex> g(h.lock);
    uint32_t started = 0;
    for (proc_type *p : h.procs) {
        if (!wanted(*p) || h.stopping || sequence <= p->left_at)
            continue;
        if (p->state == proc_state::STOPPED) {
            // It left by design: starting it again is no restart.
            start(p);
            started++;
        } else if (p->state == proc_state::EXITING) {
            p->config_pending = true;
            started++;
        }
    }
    return started;
}

uint32_t sysmgr_host_config_appeared(uint32_t node, uint32_t sequence)
{
    return start_wanted(sequence, [node](const proc_type &p) { return p.node_id == node && p.restart_on_config; });
}

uint32_t sysmgr_host_global_config_appeared(uint32_t sequence)
{
    return start_wanted(sequence, [](const proc_type &p) { return p.restart_on_global_config; });
}

void sysmgr_host_set_config_sequence(uint32_t (*sequence)(void))
{
    host_type &h = host();
    std::lock_guard<std::mutex> g(h.lock);
    h.config_sequence = sequence;
}

std::string sysmgr_host_node_table(void)
{
    const chassis_desc_type *chassis = sysmgr_chassis();
    std::string out;
    for (size_t i = 0; chassis != nullptr && i < chassis->nodes.size(); ++i) {
        const chassis_node_type &n = chassis->nodes[i];
        char line[160];
        snprintf(line, sizeof line, "%s 0x%x %s %s %s\n", n.name.c_str(), n.node_id, n.is_rp ? "rp" : "lc",
                 n.standby ? "standby" : "active", n.kvolm ? "kvolm" : "-");
        out += line;
    }
    return out;
}

bool sysmgr_host_node_of(int32_t pid, uint32_t *node)
{
    host_type &h = host();
    std::lock_guard<std::mutex> g(h.lock);
    const proc_type *p = by_pid(h, pid);
    if (p == nullptr || node == nullptr)
        return false;
    *node = p->node_id;
    return true;
}

bool sysmgr_host_owner_of(int32_t pid, std::string *owner)
{
    host_type &h = host();
    std::lock_guard<std::mutex> g(h.lock);
    const proc_type *p = by_pid(h, pid);
    if (p == nullptr || owner == nullptr)
        return false;
    *owner = p->name;
    // Each line card runs its own instance; the route processors' instances (active and standby)
    // are one, so that a standby finds what its active wrote.
    const chassis_desc_type *chassis = sysmgr_chassis();
    const chassis_node_type *node = chassis == nullptr ? nullptr : chassis_find_node(chassis, p->node_id);
    if (node != nullptr && !node->is_rp) {
        char suffix[16];
        snprintf(suffix, sizeof suffix, "@%x", p->node_id);
        *owner += suffix;
    }
    return true;
}
