// Reads the chassis the way chassis_watch does (one bind, get and unbind per item), but every few
// milliseconds and with the time of each reading, so that a recovery's length is seen to a few
// tens of milliseconds rather than to the watch's second.
#include "recovery_probe.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "nodra.h"
#include "oper_item_read.h"
#include "ptp_bags.h"
#include "ptp_platform.h"
#include "ptp_strings.h"

const std::vector<std::string> recovery_ports = {"Gi0/1/0/1", "Gi0/2/0/1"};
const std::vector<std::string> recovery_processes = {"0/1/CPU0 tessel", "0/2/CPU0 tessel", "0/RP0/CPU0 quorrin",
                                                     "0/RP0/CPU0 sardo"};

namespace {

const char *servo_name(uint32_t status)
{
    static constexpr const char *names[] = {"Unknown",    "Freerun",      "Acquiring",
                                            "FreqLocked", "PhaseAligned", "Holdover"};
    return status < std::size(names) ? names[status] : "Invalid";
}

double now_s()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string command_output(const std::string &command)
{
    std::string out;
    if (FILE *p = popen(command.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p) != nullptr) {
            out += buf;
        }
        pclose(p);
    }
    return out;
}

std::string ctl(const recovery_run_type &run, const std::string &args)
{
    return command_output(run.build_dir + "/platform/nodra/nodractl --socket " + run.run_dir + "/platform.sock " +
                          args + " 2>/dev/null");
}

// "NODE NAME" -> "pid state", from the process table.
std::vector<std::string> process_pids(const recovery_run_type &run)
{
    std::vector<std::string> out(recovery_processes.size(), "- -");
    // One line a process: node, name, pid, state, then columns this does not need.
    std::istringstream table(ctl(run, "show processes"));
    for (std::string line; std::getline(table, line);) {
        std::istringstream words(line);
        std::string node, name, pid, state;
        if (!(words >> node >> name >> pid >> state)) {
            continue;
        }
        for (size_t i = 0; i < recovery_processes.size(); i++) {
            if (recovery_processes[i] == node + " " + name) {
                out[i] = pid + " " + state;
            }
        }
    }
    return out;
}

std::string controller_dir(const recovery_run_type &run)
{
    std::istringstream nodes(ctl(run, "show nodes"));
    std::string line;
    while (std::getline(nodes, line)) {
        std::istringstream words(line);
        std::string name, id, role, redundancy;
        if (words >> name >> id >> role >> redundancy && role == "rp" && redundancy == "active") {
            return "/oper/ptp/node/" + (id.rfind("0x", 0) == 0 ? id.substr(2) : id) + "/";
        }
    }
    return "/oper/ptp/node/100/";
}

// Adds value to path unless it is the last one there.
void follow(std::string &path, const std::string &value)
{
    const size_t at = path.rfind(' ');
    if (path.empty() || path.substr(at == std::string::npos ? 0 : at + 1) != value) {
        path += (path.empty() ? "" : " ") + value;
    }
}

} // namespace

bool recovery_start(const recovery_options_type &options, recovery_run_type *run, std::string *why)
{
    char tmpl[] = "/tmp/ptp-recovery.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
        *why = "no run folder";
        return false;
    }
    run->run_dir = tmpl;
    run->build_dir = options.build_dir;
    setenv("PTP_PLATFORM_SOCKET", (run->run_dir + "/platform.sock").c_str(), 1);
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        const int fd = open((run->run_dir + "/run.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        dup2(fd, 2);
        setenv("PTP_RUN_DIR", run->run_dir.c_str(), 1);
        if (!options.debug.empty()) {
            setenv("PTP_DEBUG", options.debug.c_str(), 1);
        }
        const std::string phase = std::to_string(options.phase_seconds);
        const std::string seconds = std::to_string(options.seconds);
        std::vector<const char *> argv = {
            "/bin/bash", options.script.c_str(), "--build-dir",     options.build_dir.c_str(),
            "--seconds", seconds.c_str(),        "--phase-seconds", phase.c_str()};
        if (options.simulated) {
            argv.push_back("--simulated");
        }
        argv.push_back(nullptr);
        execv(argv[0], const_cast<char **>(argv.data()));
        _exit(127);
    }
    run->pid = pid;
    if (pid < 0) {
        *why = "fork failed";
        return false;
    }
    // Up once the process table lists the controller.
    for (int i = 0; i < 300; i++) {
        if (ctl(*run, "show processes").find(" quorrin ") != std::string::npos) {
            return bag_register_all_ptp_bags() == 0 || (*why = "the PTP bags could not be registered", false);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    *why = "the chassis did not come up";
    return false;
}

std::string recovery_stop(recovery_run_type *run, bool keep_folder)
{
    if (run->pid > 0) {
        kill(run->pid, SIGTERM);
        int status = 0;
        waitpid(run->pid, &status, 0);
        run->pid = -1;
    }
    std::ifstream in(run->run_dir + "/run.out");
    std::stringstream text;
    text << in.rdbuf();
    if (!keep_folder) {
        std::error_code ec;
        std::filesystem::remove_all(run->run_dir, ec);
    }
    return text.str();
}

recovery_reading_type recovery_read(const recovery_run_type &run)
{
    static std::string controller;
    if (controller.empty()) {
        controller = controller_dir(run);
    }
    recovery_reading_type r;
    for (const std::string &port : recovery_ports) {
        std::string state = "-";
        read_bag<ptp_if_info>("/oper/ptp/interface/if/", port, ptp_if_info_bag_getfn(),
                              [&](const ptp_if_info &info) { state = ptp_port_state_to_str(info.PortState); });
        r.ports.push_back(state);
    }
    r.servo = "-";
    read_bag<ptp_local_clock_info>(controller, "local-clock", ptp_local_clock_info_bag_getfn(),
                                   [&](const ptp_local_clock_info &local) { r.servo = servo_name(local.ServoStatus); });
    r.global = read_bag<ptp_local_clock_info>("/oper/ptp/gl/", "local-clock", ptp_local_clock_info_bag_getfn(),
                                              [](const ptp_local_clock_info &) {})
                   ? "ok"
                   : "-";
    r.process_pids = process_pids(run);
    return r;
}

namespace {

bool locked(const recovery_reading_type &r)
{
    return r.ports.size() == 2 && r.ports[0] == "Slave" && r.ports[1] == "Master" && r.servo == "PhaseAligned" &&
           r.global == "ok";
}

} // namespace

bool recovery_wait_locked(const recovery_run_type &run, double stable_s, double timeout_s)
{
    const double start = now_s();
    double since = -1;
    while (now_s() - start < timeout_s) {
        if (locked(recovery_read(run))) {
            if (since < 0) {
                since = now_s();
            } else if (now_s() - since >= stable_s) {
                return true;
            }
        } else {
            since = -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

recovery_result_type recovery_kill(const recovery_run_type &run, const std::string &process, double window_s)
{
    recovery_result_type result;
    result.process = process;
    size_t which = 0;
    while (which < recovery_processes.size() && recovery_processes[which] != process) {
        which++;
    }
    const recovery_reading_type before = recovery_read(run);
    if (which == recovery_processes.size()) {
        return result;
    }
    const std::string old_pid = before.process_pids[which].substr(0, before.process_pids[which].find(' '));
    const double t0 = now_s();
    if (old_pid == "-" || kill(std::stoi(old_pid), SIGKILL) != 0) {
        return result;
    }
    std::vector<std::string> paths(recovery_ports.size() + 2);
    std::string new_pid;
    bool back = false; // the last reading had everything back
    double since = -1; // the reading from which everything was back, for good
    while (now_s() - t0 < window_s) {
        recovery_reading_type r = recovery_read(run);
        r.at_s = now_s() - t0;
        const std::string &entry = r.process_pids[which];
        const std::string pid = entry.substr(0, entry.find(' '));
        const bool up = pid != old_pid && pid != "-" && entry.find(" ready") != std::string::npos;
        if (up && !result.restarted) {
            result.restarted = true;
            result.restarted_s = r.at_s;
            new_pid = pid;
        }
        for (size_t i = 0; i < recovery_ports.size(); i++) {
            follow(paths[i], r.ports[i]);
        }
        follow(paths[recovery_ports.size()], r.servo);
        follow(paths[recovery_ports.size() + 1], r.global);
        const bool now_back = up && r.ports == before.ports && r.servo == before.servo && r.global == before.global;
        if (now_back && !back) {
            since = r.at_s;
        }
        back = now_back;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.recovered_s = back ? since : -1;
    for (size_t i = 0; i < recovery_ports.size(); i++) {
        result.paths.push_back("port " + recovery_ports[i] + ": " + paths[i]);
    }
    result.paths.push_back("servo: " + paths[recovery_ports.size()]);
    result.paths.push_back("global verifier: " + paths[recovery_ports.size() + 1]);
    const std::string name = process.substr(process.find(' ') + 1);
    std::ifstream log(run.run_dir + "/debug/" + name + "." + new_pid + ".log");
    std::stringstream text;
    text << log.rdbuf();
    result.restarted_log = text.str();
    return result;
}
