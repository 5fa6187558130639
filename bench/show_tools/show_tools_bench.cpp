// The interface views of a chassis with 2000 PTP interfaces on one line card, as an operator runs
// them: ptp_show_interfaces and ptp_show_foreign_masters of the whole chassis (-a), brief and in
// detail, each run a program of its own that reads the running chassis through the database. The
// chassis is made of its real processes under the platform daemon: the agent on every node, the
// controller and the global verifier on the route processor, and line card 0/1's 2000 interfaces
// configured for PTP over unicast UDP/IPv4, each slave-only with one master in its master table
// (a master that never answers: each interface's foreign master is "Not known").
//
// The database asks an agent for a listing in pages; the agent's debug log (its "edm" area) has a
// line for every page it is asked for, so each run also counts the pages its listing took and the
// entries per page. Times are real (wall-clock) times of the whole tool run; tool_cpu_ms is the
// tool's own CPU time.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "chassis_test_util.h"
#include "daemon_test_child.h"

namespace {

constexpr int INTERFACES = 2000;
constexpr const char *LINE_CARD = "0x10"; // 0/1/CPU0, whose interface manager names the handles

std::string interface_name(int i)
{
    return "Gi0/1/" + std::to_string(i / 100) + "/" + std::to_string(i % 100);
}

// Interface i's subnet, "10.X.Y."; the interface is .1 of it, its master .2.
std::string subnet_of(int i)
{
    return "10." + std::to_string(100 + i / 250) + "." + std::to_string(i % 250) + ".";
}

std::string command_output(const std::string &command)
{
    std::string out;
    if (FILE *p = popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n = 0;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        pclose(p);
    }
    return out;
}

struct tool_run_type {
    std::string out;
    double cpu_ms = 0;
    bool exited_0 = false;
};

// One run of a show tool (args[0] in the tools' folder) as an operator on the line card runs it.
tool_run_type run_tool(const std::vector<std::string> &args, const std::string &socket, const std::string &library)
{
    tool_run_type r;
    int fds[2];
    if (pipe(fds) != 0)
        return r;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        setenv("PTP_PLATFORM_SOCKET", socket.c_str(), 1);
        setenv("PTP_NODRA_LIB", library.c_str(), 1);
        setenv("PTP_NODE", LINE_CARD, 1);
        setenv("TZ", "UTC", 1);
        const std::string program = std::string(SHOW_TOOLS_DIR) + "/" + args[0];
        std::vector<char *> argv{const_cast<char *>(program.c_str())};
        for (size_t i = 1; i < args.size(); ++i)
            argv.push_back(const_cast<char *>(args[i].c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    char buf[65536];
    ssize_t n = 0;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        r.out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = -1;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    r.exited_0 = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    r.cpu_ms =
        (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    return r;
}

// Lines of text that start with prefix.
int rows_of(const std::string &text, const std::string &prefix)
{
    int rows = 0;
    for (size_t at = 0; at < text.size();) {
        if (text.compare(at, prefix.size(), prefix) == 0)
            ++rows;
        const size_t end = text.find('\n', at);
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return rows;
}

// The chassis, set up once for every benchmark and stopped at exit.
struct chassis_type {
    std::string dir, socket, library, prefix, why;
    pid_t daemon = -1;
    std::string agent_log; // the line card's agent's debug log
    bool ok = false;

    chassis_type()
    {
        char tmpl[] = "/tmp/show_tools_bench.XXXXXX";
        if (mkdtemp(tmpl) == nullptr) {
            why = "no run folder";
            return;
        }
        dir = tmpl;
        socket = dir + "/platform.sock";
        library = dir + "/libnodra.so";
        prefix = "show_tools_bench." + std::to_string(getpid()) + ".";
        write_files();
        setenv("PTP_PLATFORM_SOCKET", socket.c_str(), 1);
        setenv("PTP_CHASSIS", (dir + "/chassis.toml").c_str(), 1);
        setenv("PTP_RUN_DIR", dir.c_str(), 1);
        setenv("PTP_NODRA_DB", (dir + "/nodra.db").c_str(), 1);
        setenv("PTP_CHKPT_DB", (dir + "/chkpt.db").c_str(), 1);
        setenv("PTP_NODRA_LIB", library.c_str(), 1);
        setenv("PTP_CLOCK_PREFIX", prefix.c_str(), 1);
        setenv("SHMWIN_PREFIX", prefix.c_str(), 1);
        setenv("PTP_SYSLOG", "0", 1);
        setenv("PTP_DEBUG", "/debug/ptp:edm", 1); // a line per page asked of an agent
        daemon = spawn_quiet({PLATFORMD_PATH, "--socket", socket}, nullptr);
        if (!wait_for_daemon(socket)) {
            why = "the platform daemon did not come up";
            return;
        }
        const auto started = std::chrono::steady_clock::now();
        if (!wait_for([&] { return processes_ready(); }, std::chrono::seconds(60))) {
            why = "the chassis' processes did not start: " + ctl("show processes");
            return;
        }
        const std::string committed = ctl("-f " + dir + "/config.txt");
        if (committed.find("applied") == std::string::npos) {
            why = "the configuration was not applied: " + committed;
            return;
        }
        // Every port has its number and has left Initializing.
        if (!wait_for(
                [&] {
                    const std::string brief = run_tool({"ptp_show_interfaces", "-b", "-a"}, socket, library).out;
                    return rows_of(brief, "Gi") == INTERFACES && brief.find(" None ") == std::string::npos &&
                           brief.find("Initializing") == std::string::npos;
                },
                std::chrono::seconds(120))) {
            why = "the line card's ports did not come up";
            return;
        }
        fprintf(stderr, "show_tools_bench: %d interfaces up %.1f s after the chassis started\n", INTERFACES,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        ok = true;
    }

    ~chassis_type()
    {
        if (daemon > 0) {
            kill(daemon, SIGTERM);
            waitpid(daemon, nullptr, 0);
        }
        shm_remove_prefixed(prefix);
        std::error_code ec;
        if (!dir.empty())
            std::filesystem::remove_all(dir, ec);
    }

    void write_files() const
    {
        std::ofstream chassis(dir + "/chassis.toml");
        chassis << "[chassis]\nlr_mac = \"02:00:5e:10:00:01\"\n"
                << "[[node]]\nname = \"0/RP0/CPU0\"\nid = 0x100\nrole = \"rp\"\nredundancy = \"active\"\nkvolm = true\n"
                << "[node.capabilities]\napi_version = 2\nflags = 0x03ff\nlog_max_rate = 7\n"
                << "[[node]]\nname = \"0/1/CPU0\"\nid = 0x010\nrole = \"lc\"\n"
                << "[node.capabilities]\napi_version = 2\nflags = 0x03ff\nlog_max_rate = 7\n";
        char line[512];
        for (int i = 0; i < INTERFACES; ++i) {
            snprintf(line, sizeof line,
                     "[[node.interface]]\nname = \"%s\"\nhandle = 0x%08x\ntype = 15\nstate = \"up\"\n"
                     "mac = \"02:00:5e:11:%02x:%02x\"\nipv4 = [\"%s1\"]\n",
                     interface_name(i).c_str(), 0x01000000u + static_cast<unsigned>(i), i >> 8, i & 0xff,
                     subnet_of(i).c_str());
            chassis << line;
        }
        chassis << "[[process]]\nname = \"tessel\"\nprogram = \"" << TESSEL_PATH << "\"\nnodes = \"all\"\n"
                << "[[process]]\nname = \"quorrin\"\nprogram = \"" << QUORRIN_PATH << "\"\nnodes = \"rp\"\n"
                << "[[process]]\nname = \"sardo\"\nprogram = \"" << SARDO_PATH << "\"\nnodes = \"rp\"\n";
        // A G.8275.2-style profile over unicast UDP/IPv4 (clock profile 3, clock type T-BC, its
        // default domain 44); each interface slave-only with its master at .2 of its subnet.
        std::ofstream config(dir + "/config.txt");
        config << "set /cfg/gl/ptp/pi/enable 1\nset /cfg/gl/ptp/pi/clock/profile (3,1)\n"
               << "set /cfg/gl/ptp/pi/clock/domain 44\nset /cfg/gl/ptp/pi/profile/unicast/transport 2\n"
               << "set /cfg/gl/ptp/pi/profile/unicast/multicast (0,0,)\n";
        for (int i = 0; i < INTERFACES; ++i) {
            const std::string item = "set /cfg/if/act/" + interface_name(i) + "/ptp/pi/";
            config << item << "enable 1\n"
                   << item << "profile unicast\n"
                   << item << "port-state 1\n"
                   << item << "master-table/2/-/" << subnet_of(i) << "2/enable 1\n";
        }
        config << "commit\n";
        std::ofstream(library) << "";
    }

    std::string ctl(const std::string &args) const
    {
        return command_output(std::string(NODRACTL_PATH) + " --socket " + socket + " " + args + " 2>&1");
    }

    // Every process ready; the line card's agent's debug log known.
    bool processes_ready()
    {
        const std::vector<proc_row> rows = processes(socket);
        for (const proc_row &r : rows) {
            if (r.state != "ready")
                return false;
            if (r.node == "0/1/CPU0" && r.name == "tessel")
                agent_log = dir + "/debug/tessel." + std::to_string(r.pid) + ".log";
        }
        return rows.size() == 4 && !agent_log.empty();
    }

    // The listing pages the line card's agent was asked for so far.
    int pages_asked() const
    {
        std::ifstream in(agent_log);
        int pages = 0;
        for (std::string line; std::getline(in, line);)
            if (line.find(" datalist request. ") != std::string::npos)
                ++pages;
        return pages;
    }
};

chassis_type &chassis()
{
    static chassis_type c;
    return c;
}

// One view of the whole chassis: every run must show each of the 2000 interfaces (a line that
// starts with row_prefix per interface).
void BM_View(benchmark::State &state, std::vector<std::string> args, std::string row_prefix)
{
    chassis_type &c = chassis();
    if (!c.ok) {
        state.SkipWithError(c.why.c_str());
        return;
    }
    int pages = 0;
    double cpu_ms = 0, bytes = 0;
    for (auto _ : state) {
        const int before = c.pages_asked();
        const tool_run_type r = run_tool(args, c.socket, c.library);
        const int rows = rows_of(r.out, row_prefix);
        if (!r.exited_0 || rows != INTERFACES) {
            const std::string why = "the view showed " + std::to_string(rows) + " interfaces: " + r.out.substr(0, 400);
            state.SkipWithError(why.c_str());
            return;
        }
        pages += c.pages_asked() - before;
        cpu_ms += r.cpu_ms;
        bytes += static_cast<double>(r.out.size());
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["interfaces"] = INTERFACES;
    state.counters["pages"] = pages / runs;
    state.counters["entries_per_page"] = pages > 0 ? INTERFACES * runs / pages : 0;
    state.counters["tool_cpu_ms"] = cpu_ms / runs;
    state.counters["output_kB"] = bytes / runs / 1000;
}

BENCHMARK_CAPTURE(BM_View, interfaces_brief, std::vector<std::string>{"ptp_show_interfaces", "-b", "-a"},
                  std::string("Gi"))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_View, interfaces_detail, std::vector<std::string>{"ptp_show_interfaces", "-a"}, std::string("Gi"))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_View, foreign_masters_brief, std::vector<std::string>{"ptp_show_foreign_masters", "-b", "-a"},
                  std::string("Gi"))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_View, foreign_masters_detail, std::vector<std::string>{"ptp_show_foreign_masters", "-a"},
                  std::string("Interface "))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
