#include "bench_chassis.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "nodra.h"
#include "oper_item_read.h"
#include "ptp_bags.h"
#include "ptp_strings.h"

namespace {

std::string command_output(const std::string &command)
{
    std::string out;
    if (FILE *p = popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n = 0;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) {
            out.append(buf, n);
        }
        pclose(p);
    }
    return out;
}

} // namespace

bool bench_chassis_start(const std::string &chassis_toml, bench_chassis_type *chassis, std::string *why)
{
    char tmpl[] = "/tmp/ptp-bench.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
        *why = "no run folder";
        return false;
    }
    chassis->run_dir = tmpl;
    const std::string &dir = chassis->run_dir;
    std::filesystem::create_directory(dir + "/bin");
    for (const char *program :
         {"l2protocols/ptp/tessel/src/tessel", "l2protocols/ptp/quorrin/quorrin", "l2protocols/ptp/sardo/sardo"}) {
        const std::string path = std::string(BUILD_DIR) + "/" + program;
        symlink(path.c_str(), (dir + "/bin/" + std::filesystem::path(path).filename().string()).c_str());
    }
    std::ofstream(dir + "/chassis.toml") << chassis_toml;
    std::ofstream(dir + "/libnodra.so").close(); // the agent binds to the database when this is readable
    const std::string id = std::to_string(getpid());
    setenv("PTP_RUN_DIR", dir.c_str(), 1);
    setenv("PTP_PLATFORM_SOCKET", (dir + "/platform.sock").c_str(), 1);
    setenv("PTP_CHASSIS", (dir + "/chassis.toml").c_str(), 1);
    setenv("PTP_BIN_DIR", (dir + "/bin").c_str(), 1);
    setenv("PTP_NODRA_DB", (dir + "/nodra.db").c_str(), 1);
    setenv("PTP_CHKPT_DB", (dir + "/chkpt.db").c_str(), 1);
    setenv("PTP_CLOCK_PREFIX", ("ptpclock.bench" + id + ".").c_str(), 1);
    setenv("SHMWIN_PREFIX", ("shmwin.bench" + id + ".").c_str(), 1);
    setenv("PTP_NODRA_LIB", (dir + "/libnodra.so").c_str(), 1);
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        const int fd = open((dir + "/platformd.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        dup2(fd, 2);
        const std::string daemon = std::string(BUILD_DIR) + "/platform/daemon/platformd";
        const std::string socket = dir + "/platform.sock";
        execl(daemon.c_str(), daemon.c_str(), "--socket", socket.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    chassis->daemon = pid;
    if (pid < 0) {
        *why = "fork failed";
        return false;
    }
    for (int i = 0; i < 100 && bench_chassis_ctl(*chassis, "show nodes").empty(); i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (bench_chassis_ctl(*chassis, "show nodes").empty()) {
        *why = "the platform daemon did not come up (see " + dir + "/platformd.log)";
        return false;
    }
    // A commit before a process registered with the database is refused as unknown items. An
    // agent binding thousands of devices takes a while.
    for (int i = 0; i < 1200; i++) {
        const std::string table = bench_chassis_ctl(*chassis, "show processes");
        if (table.find(" tessel ") != std::string::npos && table.find(" starting") == std::string::npos) {
            return bag_register_all_ptp_bags() == 0 || (*why = "the PTP bags could not be registered", false);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    *why = "the chassis' processes did not start";
    return false;
}

void bench_chassis_stop(bench_chassis_type *chassis)
{
    if (chassis->daemon > 0) {
        kill(chassis->daemon, SIGTERM);
        for (int i = 0; i < 50; i++) {
            if (waitpid(chassis->daemon, nullptr, WNOHANG) == chassis->daemon) {
                chassis->daemon = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (chassis->daemon > 0) {
            kill(-chassis->daemon, SIGKILL);
            waitpid(chassis->daemon, nullptr, 0);
            chassis->daemon = -1;
        }
    }
    const std::string id = std::to_string(getpid());
    for (const std::string &prefix : {"ptpclock.bench" + id + ".", "shmwin.bench" + id + "."}) {
        std::error_code ec;
        for (const auto &e : std::filesystem::directory_iterator("/dev/shm", ec)) {
            if (e.path().filename().string().rfind(prefix, 0) == 0) {
                std::filesystem::remove(e.path(), ec);
            }
        }
    }
    if (!chassis->run_dir.empty() && getenv("PTP_BENCH_KEEP") == nullptr) {
        std::error_code ec;
        std::filesystem::remove_all(chassis->run_dir, ec);
    }
}

std::string bench_chassis_ctl(const bench_chassis_type &chassis, const std::string &args, const std::string &input)
{
    const std::string ctl =
        std::string(BUILD_DIR) + "/platform/nodra/nodractl --socket " + chassis.run_dir + "/platform.sock ";
    if (input.empty()) {
        return command_output(ctl + args + " 2>&1");
    }
    const std::string file = chassis.run_dir + "/input.txt";
    std::ofstream(file) << input;
    return command_output(ctl + args + " <" + file + " 2>&1");
}

pid_t bench_chassis_pid(const bench_chassis_type &chassis, const std::string &node, const std::string &process)
{
    std::istringstream table(bench_chassis_ctl(chassis, "show processes"));
    for (std::string line; std::getline(table, line);) {
        std::istringstream words(line);
        std::string n, name, pid, state;
        if (words >> n >> name >> pid >> state && n == node && name == process && state == "ready") {
            return static_cast<pid_t>(std::atol(pid.c_str()));
        }
    }
    return -1;
}

bool bench_chassis_packet_counters(const std::string &ifname, uint64_t *received, uint64_t *sent)
{
    return read_bag<ptp_if_packet_counter_info>("/oper/ptp/packet-counters/if/", ifname,
                                                ptp_if_packet_counter_info_bag_getfn(),
                                                [&](const ptp_if_packet_counter_info &info) {
                                                    // Sent, received and dropped per class, then the three totals.
                                                    uint32_t values[sizeof info.Counters / 4];
                                                    std::memcpy(values, &info.Counters, sizeof values);
                                                    *sent = values[std::size(values) - 3];
                                                    *received = values[std::size(values) - 2];
                                                });
}

std::string bench_chassis_port_state(const std::string &ifname)
{
    std::string state = "-";
    read_bag<ptp_if_info>("/oper/ptp/interface/if/", ifname, ptp_if_info_bag_getfn(),
                          [&](const ptp_if_info &info) { state = ptp_port_state_to_str(info.PortState); });
    return state;
}

int64_t bench_process_cpu_ns(pid_t pid)
{
    clockid_t clock{};
    timespec ts{};
    if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &ts) != 0) {
        return -1;
    }
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t bench_process_rss_bytes(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/statm");
    int64_t size = 0;
    int64_t resident = 0;
    if (!(f >> size >> resident)) {
        return -1;
    }
    return resident * sysconf(_SC_PAGESIZE);
}

std::string bench_loadavg()
{
    std::ifstream f("/proc/loadavg");
    std::string line;
    std::getline(f, line);
    return line;
}
