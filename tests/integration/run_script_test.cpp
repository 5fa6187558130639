// The main job's script: it brings up the chassis and its peers, and on Ctrl-C (SIGINT to its
// process group, as a terminal sends it) or SIGTERM (to the script alone) it stops every process
// it started and leaves no network namespace, veth or clock object behind. Left to run, the
// chassis locks to the grandmaster and serves the slave.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "interop_env.h"
#include "scenario.h"

namespace {

// The processes whose environment carries the run's folder (every process the run started).
std::vector<pid_t> processes_of_run(const std::string &run_dir)
{
    const std::string mark = "PTP_RUN_DIR=" + run_dir;
    std::vector<pid_t> found;
    for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos || std::stoi(name) == getpid()) {
            continue;
        }
        std::ifstream in(entry.path() / "environ", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        const std::string env = s.str();
        for (size_t at = 0; at < env.size();) {
            const size_t end = env.find('\0', at);
            if (env.compare(at, (end == std::string::npos ? env.size() : end) - at, mark) == 0) {
                found.push_back(std::stoi(name));
                break;
            }
            at = end == std::string::npos ? env.size() : end + 1;
        }
    }
    return found;
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

struct run_type {
    pid_t pid = -1;
    FILE *out = nullptr;
    std::string text; // everything it printed so far
};

run_type start_run(const std::string &run_dir, bool simulated, const char *seconds = "600",
                   const char *phase_seconds = "600", const std::vector<std::string> &more = {})
{
    int fds[2];
    if (pipe(fds) != 0) {
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0); // its own group, as a job of a terminal
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        setenv("PTP_RUN_DIR", run_dir.c_str(), 1);
        std::vector<const char *> argv = {"/bin/bash", RUN_SCRIPT, "--build-dir",     BUILD_DIR,
                                          "--seconds", seconds,    "--phase-seconds", phase_seconds};
        if (simulated) {
            argv.push_back("--simulated");
        }
        for (const std::string &arg : more) {
            argv.push_back(arg.c_str());
        }
        argv.push_back(nullptr);
        execv(argv[0], const_cast<char **>(argv.data()));
        _exit(127);
    }
    close(fds[1]);
    setpgid(pid, pid);
    return {pid, fdopen(fds[0], "r"), ""};
}

// Reads until a line starts with prefix (true) or the output ends (false).
bool read_until(run_type &r, const std::string &prefix)
{
    char buf[1024];
    while (fgets(buf, sizeof buf, r.out) != nullptr) {
        r.text += buf;
        if (std::string(buf).rfind(prefix, 0) == 0) {
            return true;
        }
    }
    return false;
}

struct case_type {
    const char *name;
    bool simulated;
    bool whole_group; // SIGINT to the group (Ctrl-C), else SIGTERM to the script alone
};

class RunScriptTest : public ::testing::TestWithParam<case_type> {};

TEST_P(RunScriptTest, StopsEverythingItStartedAndLeavesNothingBehind)
{
    const case_type c = GetParam();
    if (!c.simulated) {
        if (const std::string missing = scenario::ptp4l_missing_prerequisite(); !missing.empty()) {
            GTEST_SKIP() << missing;
        }
    }
    char tmpl[] = "/tmp/run_script_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string run_dir = tmpl;
    run_type r = start_run(run_dir, c.simulated);
    ASSERT_GT(r.pid, 0);
    const bool running = read_until(r, "Running.");
    const std::string suffix = std::to_string(r.pid % 100000);
    const std::string namespaces = command_output("ip netns list 2>/dev/null");
    const std::vector<pid_t> during = processes_of_run(run_dir);

    kill(c.whole_group ? -r.pid : r.pid, c.whole_group ? SIGINT : SIGTERM);
    read_until(r, "\x01"); // to the end of its output
    int status = -1;
    waitpid(r.pid, &status, 0);
    fclose(r.out);
    ASSERT_TRUE(running) << r.text;

    // It was running: the daemon and both peers; in ptp4l mode its three namespaces.
    EXPECT_GE(during.size(), 3u) << r.text;
    if (!c.simulated) {
        EXPECT_NE(namespaces.find("ptprun" + suffix + "-chassis"), std::string::npos) << namespaces;
        EXPECT_NE(namespaces.find("ptprun" + suffix + "-gm"), std::string::npos) << namespaces;
        EXPECT_NE(namespaces.find("ptprun" + suffix + "-slave"), std::string::npos) << namespaces;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << r.text;
    EXPECT_NE(r.text.find("Summary after "), std::string::npos) << r.text;
    EXPECT_NE(r.text.find("Stopped: no process, namespace or veth of this run is left."), std::string::npos) << r.text;

    // Nothing is left: no process of the run, no namespace, no veth, no clock object or counters
    // window.
    EXPECT_TRUE(processes_of_run(run_dir).empty());
    EXPECT_EQ(command_output("ip netns list 2>/dev/null").find("ptprun" + suffix + "-"), std::string::npos);
    const std::string links = command_output("ip -o link show 2>/dev/null");
    EXPECT_EQ(links.find("prg" + suffix + "a"), std::string::npos) << links;
    EXPECT_EQ(links.find("prs" + suffix + "a"), std::string::npos) << links;
    for (const auto &entry : std::filesystem::directory_iterator("/dev/shm")) {
        for (const char *kind : {"ptpclock.run", "shmwin.run"}) {
            EXPECT_NE(entry.path().filename().string().rfind(kind + std::to_string(r.pid) + ".", 0), 0u)
                << entry.path();
        }
    }
    std::filesystem::remove_all(run_dir);
}

// The platform daemon killed with -9 takes the chassis' processes with it (their parent-death
// signal): the run says so in one line and stops everything it started, with exit status 1, and
// the configuration committed before the kill is in the database a new daemon opens.
TEST(RunScriptDaemonDeathTest, TheRunSaysSoStopsAndLosesNoCommit)
{
    char tmpl[] = "/tmp/run_script_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string run_dir = tmpl;
    const std::string nodractl = std::string(BUILD_DIR) + "/platform/nodra/nodractl --socket ";
    run_type r = start_run(run_dir, true, "60"); // a run that missed the death would end by itself
    ASSERT_GT(r.pid, 0);
    const bool running = read_until(r, "Running."); // after the configuration's commit answered
    const std::string committed = command_output(nodractl + run_dir + "/platform.sock show config");
    pid_t daemon = -1;
    for (const pid_t pid : processes_of_run(run_dir)) {
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        std::string name;
        if (std::getline(comm, name) && name == "platformd")
            daemon = pid;
    }
    if (daemon > 0)
        kill(daemon, SIGKILL);
    read_until(r, "\x01"); // to the end of its output
    int status = -1;
    waitpid(r.pid, &status, 0);
    fclose(r.out);
    ASSERT_TRUE(running) << r.text;
    ASSERT_GT(daemon, 0) << r.text;
    EXPECT_NE(committed.find("/cfg/if/act/Gi0/1/0/1/ptp/"), std::string::npos) << committed;

    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << r.text;
    EXPECT_NE(r.text.find("\nrun.sh: the platform daemon died (signal KILL), and the chassis' processes with it: "
                          "stopping the run\n"),
              std::string::npos)
        << r.text;
    EXPECT_NE(r.text.find("Stopped: no process, namespace or veth of this run is left."), std::string::npos) << r.text;
    EXPECT_TRUE(processes_of_run(run_dir).empty()) << r.text;

    // A daemon on the run's databases has every item of the commit.
    const std::string socket = run_dir + "/again.sock";
    const pid_t again = fork();
    ASSERT_GE(again, 0);
    if (again == 0) {
        unsetenv("PTP_CHASSIS");
        setenv("PTP_NODRA_DB", (run_dir + "/nodra.db").c_str(), 1);
        setenv("PTP_CHKPT_DB", (run_dir + "/chkpt.db").c_str(), 1);
        const std::string platformd = std::string(BUILD_DIR) + "/platform/daemon/platformd";
        execl(platformd.c_str(), platformd.c_str(), "--socket", socket.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    std::string reopened;
    for (int i = 0; i < 500 && reopened.empty(); ++i) {
        usleep(20000); // until it serves
        reopened = command_output(nodractl + socket + " show config 2>/dev/null");
        if (reopened.rfind("error: ", 0) == 0)
            reopened.clear(); // not serving yet: the command line says so on its standard output
    }
    kill(again, SIGTERM);
    waitpid(again, nullptr, 0);
    EXPECT_EQ(reopened, committed);
    std::filesystem::remove_all(run_dir);
}

// The number a pattern's first group captures in text, or -1.
double number_after(const std::string &text, const std::string &pattern)
{
    std::smatch m;
    return std::regex_search(text, m, std::regex(pattern)) ? std::stod(m[1].str()) : -1;
}

// Whether the lines appear in text in this order.
::testing::AssertionResult in_order(const std::string &text, const std::vector<std::string> &lines)
{
    size_t at = 0;
    for (const std::string &line : lines) {
        const size_t found = text.find(line, at);
        if (found == std::string::npos)
            return ::testing::AssertionFailure() << "missing, or out of order: \"" << line << "\"";
        at = found + line.size();
    }
    return ::testing::AssertionSuccess();
}

// The states a port went through as the watch saw them, once a second: a state held for less
// than that may be missing, none may come out of order. Whether they follow `path` in its order,
// the last one last.
::testing::AssertionResult port_went(const std::string &text, const std::string &port,
                                     const std::vector<std::string> &path)
{
    std::vector<std::string> seen;
    const std::regex line(R"(\[watch\] port )" + port + R"(: (?:\S+ -> )?(\S+))");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it)
        seen.push_back((*it)[1].str());
    size_t at = 0;
    for (const std::string &state : seen) {
        while (at < path.size() && path[at] != state)
            ++at;
        if (at == path.size())
            return ::testing::AssertionFailure() << port << ": " << state << " out of order";
    }
    if (seen.empty() || seen.back() != path.back())
        return ::testing::AssertionFailure() << port << " did not end " << path.back();
    return ::testing::AssertionSuccess();
}

// The part of text from the first line that starts with `from` (or the start) to the first after it
// that starts with `to` (or the end).
std::string between(const std::string &text, const std::string &from, const std::string &to)
{
    size_t begin = from.empty() ? 0 : text.find("\n" + from);
    if (begin == std::string::npos)
        return "";
    begin = from.empty() ? 0 : begin + 1;
    const size_t end = to.empty() ? std::string::npos : text.find("\n" + to, begin);
    return text.substr(begin, end == std::string::npos ? std::string::npos : end + 1 - begin);
}

// The show tools the run's summary shows of each step once it locked, as the run takes them.
const std::vector<std::string> step_views = {"ptp_show_interfaces -b -a", "ptp_show_grandmaster", "ptp_show_datasets"};

// A show tool's output against the running chassis of the run in run_dir, as an operator on line
// card 0/1 runs it (the grandmaster's interface is its, and its interface manager names it).
std::string show_tool(const std::string &run_dir, const std::string &command)
{
    return command_output("PTP_PLATFORM_SOCKET=" + run_dir + "/platform.sock PTP_NODRA_LIB=" + run_dir +
                          "/libnodra.so PTP_NODE=0x10 PTP_CHASSIS=" + run_dir + "/chassis.toml TZ=UTC " + BUILD_DIR +
                          "/l2protocols/ptp/mgmt/" + command + " 2>&1");
}

// Each tool's text in a step's summary ("      $ COMMAND" and its output, indented by six blanks).
std::map<std::string, std::string> summary_views(const std::string &step_summary)
{
    std::map<std::string, std::string> views;
    const std::string heading = "    the chassis once locked, as its show tools printed it:\n";
    const size_t at = step_summary.find(heading);
    if (at == std::string::npos)
        return views;
    std::istringstream in(step_summary.substr(at + heading.size()));
    std::string *view = nullptr;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("      $ ", 0) == 0)
            view = &views[line.substr(8)];
        else if (view != nullptr && line.empty())
            *view += "\n";
        else if (view != nullptr && line.rfind("      ", 0) == 0)
            *view += line.substr(6) + "\n";
        else
            break;
    }
    return views;
}

// A view without what moves from one second to the next: the time since the grandmaster changed,
// and the offset and delay it is measured at.
std::string steady(const std::string &view)
{
    static const std::regex moving(
        R"(((?:Time since last grandmaster change: |offsetFromMaster = |meanPathDelay = )).*)");
    return std::regex_replace(view, moving, "$1...");
}

// The interface brief of the chassis: the grandmaster's port a slave, the slave's a master, over
// encapsulation encap.
std::regex chassis_brief(const std::string &encap)
{
    return std::regex("^Intf              Port         Port                  Line\n"
                      "Name              Number       State        Encap    State         Mechanism\n"
                      "-{80}\n"
                      "Gi0/1/0/1 +[0-9]+ +Slave +" +
                      encap + " +up +2-step DRRM\nGi0/2/0/1 +[0-9]+ +Master +" + encap + " +up +2-step DRRM\n$");
}

// One step of the job as the watch saw it (line card 0/1's port follows the grandmaster, Listen,
// Passive, Uncalibrated, Slave as far as a watch once a second sees them; the controller chooses it
// and its servo locks; the chassis advertises it one step removed; line card 0/2's port serves the
// slave as Master) and as the summary gives it (the lock, the chassis' and the slave's offsets).
// Bounds allow for software timestamps in a sanitizer build on a busy machine.
// In the second step the servo comes from a lock in the first, and Uncalibrated may last less
// than the watch's second.
void expect_step(const std::string &watch, const std::string &summary, bool simulated, bool uncalibrated_seen)
{
    EXPECT_TRUE(port_went(watch, "Gi0/1/0/1", {"Initializing", "Listen", "Passive", "Uncalibrated", "Slave"}));
    if (uncalibrated_seen) {
        EXPECT_NE(watch.find("[watch] port Gi0/1/0/1: Uncalibrated -> Slave"), std::string::npos);
    }
    EXPECT_TRUE(port_went(watch, "Gi0/2/0/1", {"Initializing", "Listen", "Master"}));
    std::smatch gm;
    ASSERT_TRUE(std::regex_search(
        watch, gm,
        std::regex(R"(\[watch\] controller's grandmaster: clock (\S+) class 6, heard on interface 0x01000101)")));
    EXPECT_TRUE(in_order(watch, {gm[0].str(), "-> PhaseAligned"}));
    EXPECT_NE(watch.find("[watch] advertised: clock " + gm[1].str() + " class 6, steps removed 1"), std::string::npos);

    const double lock_s = number_after(summary, R"(time to lock of the chassis clock: ([0-9.]+) s)");
    EXPECT_GE(lock_s, 0);
    EXPECT_LE(lock_s, 40);
    // From the step's commit: the choice comes after it.
    EXPECT_GE(
        number_after(summary,
                     R"(time to lock of the chassis clock: [0-9.]+ s after the grandmaster was chosen, ([0-9.]+) s)"),
        lock_s);
    const std::string chassis = R"(chassis clock against the grandmaster since the lock, \|offset\|: )";
    EXPECT_LE(number_after(summary, chassis + R"(p50 ([0-9]+) ns)"), 5000);
    EXPECT_LE(number_after(summary, chassis + R"(p50 [0-9]+ ns, p90 ([0-9]+) ns)"), 50000);
    if (simulated) {
        // The simulated slave runs 40 ms behind the host clock, the grandmaster 2.5 ms ahead.
        const double p50 =
            number_after(summary, R"(slave: summary: [0-9]+ exchanges; \|offset\| from master p50 ([0-9]+) ns)");
        EXPECT_NEAR(p50, 42500000, 50000);
    } else {
        EXPECT_LE(number_after(summary, R"(slave against the chassis, .* once settled .*: p50 ([0-9]+) ns)"), 20000);
    }
}

// A step's summary shows the chassis' interface brief, grandmaster and data sets whole, as the
// tools print them for it (`now`: the same tools run when the run took its views), the ports in
// their states over encapsulation encap.
void expect_views(const std::string &summary, const std::map<std::string, std::string> &now, const std::string &encap)
{
    const std::map<std::string, std::string> views = summary_views(summary);
    for (const std::string &command : step_views) {
        SCOPED_TRACE(command);
        ASSERT_EQ(views.count(command), 1u) << summary;
        ASSERT_EQ(now.count(command), 1u) << "the run did not say it had taken its views";
        EXPECT_EQ(steady(views.at(command)), steady(now.at(command)));
    }
    EXPECT_TRUE(std::regex_search(views.at(step_views[0]), chassis_brief(encap))) << views.at(step_views[0]);
}

class MainJobTest : public ::testing::TestWithParam<bool> {};

// The job's two steps: the G.8275.1-style configuration over Ethernet multicast, then the
// G.8275.2-style one over unicast UDP/IPv4, where the chassis relocks and the grants are
// negotiated both ways (its slave port holds them from the grandmaster, its master port gives
// them to the slave) at the intervals the profile's ports default to.
TEST_P(MainJobTest, TheChassisLocksToTheGrandmasterAndServesTheSlave)
{
    const bool simulated = GetParam();
    if (!simulated) {
        if (const std::string missing = scenario::ptp4l_missing_prerequisite(); !missing.empty()) {
            GTEST_SKIP() << missing;
        }
    }
    char tmpl[] = "/tmp/main_job_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string run_dir = tmpl;
    run_type r = start_run(run_dir, simulated, "140", "75");
    ASSERT_GT(r.pid, 0);
    // Each step's views as the tools print them when the run took its own, once locked.
    std::map<std::string, std::string> now[2];
    for (int step = 1; step <= 2; ++step) {
        if (read_until(r, "Locked (step " + std::to_string(step) + "): ")) {
            for (const std::string &command : step_views)
                now[step - 1][command] = show_tool(run_dir, command);
        }
    }
    read_until(r, "\x01"); // to the end of its output
    int status = -1;
    waitpid(r.pid, &status, 0);
    fclose(r.out);
    std::filesystem::remove_all(run_dir);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << r.text;

    const std::string summary = between(r.text, "Summary after ", "");
    {
        SCOPED_TRACE("step 1");
        const std::string summary1 = between(summary, "  step 1: ", "  step 2: ");
        expect_step(between(r.text, "", "Configuration 2: "), summary1, simulated, true);
        expect_views(summary1, now[0], "Ethernet");
    }
    {
        SCOPED_TRACE("step 2");
        const std::string step2 = between(r.text, "Configuration 2: ", "Summary after ");
        const std::string summary2 = between(summary, "  step 2: ", "");
        expect_step(step2, summary2, simulated, false);
        expect_views(summary2, now[1], "IPv4");
        EXPECT_TRUE(
            in_order(summary2, {"    unicast grants of Gi0/1/0/1: from 10.1.9.2: Announce every 2^1 s for 300 s, "
                                "Sync every 2^0 s for 300 s, Delay-Resp every 2^0 s for 300 s\n",
                                "    unicast grants of Gi0/2/0/1: to 10.2.9.2: Announce every 2^1 s for 300 s, "
                                "Sync every 2^0 s for 300 s, Delay-Resp every 2^0 s for 300 s\n"}));
    }
    if (HasFailure())
        ADD_FAILURE() << r.text;
    else
        std::printf("%s", summary.c_str()); // the measured run's figures
}

// A simulated main job, run until the chassis' servo locks; its show tools run from outside it as
// an operator on line card 0/1 runs them, where the grandmaster's interface is: the interface
// manager names that node's handles.
struct show_run_type {
    std::string dir;
    run_type run;
    bool locked = false;

    std::string tool(const std::string &command) const { return show_tool(dir, command); }
};

show_run_type start_show_run(const char *name, const std::vector<std::string> &more = {})
{
    show_run_type s;
    std::string tmpl = std::string("/tmp/") + name + ".XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr)
        return s;
    s.dir = tmpl;
    s.run = start_run(s.dir, true, "120", "600", more);
    if (s.run.pid <= 0)
        return s;
    while (!s.locked && read_until(s.run, "[watch] servo: "))
        s.locked = s.run.text.find("-> PhaseAligned") != std::string::npos;
    return s;
}

// Stops it as Ctrl-C does, and removes its folder.
void stop_show_run(show_run_type &s)
{
    if (s.run.pid > 0) {
        kill(-s.run.pid, SIGINT);
        read_until(s.run, "\x01");
        waitpid(s.run.pid, nullptr, 0);
        fclose(s.run.out);
    }
    if (!s.dir.empty())
        std::filesystem::remove_all(s.dir);
}

// The show tools against the running simulated chassis, from outside it as an operator runs
// them: each view names the clocks and states the chassis has once it has locked.
TEST(MainJobShowToolsTest, TheViewsShowTheRunningChassis)
{
    show_run_type run = start_show_run("show_tools_test");
    const auto tool = [&](const std::string &command) { return run.tool(command); };
    std::map<std::string, std::string> out;
    const char *const commands[] = {"ptp_show_grandmaster",
                                    "ptp_show_advertised_clock",
                                    "ptp_show_local_clock",
                                    "ptp_show_datasets",
                                    "ptp_show_summary -a",
                                    "ptp_show_leap_seconds",
                                    "ptp_show_datasets -x",
                                    "ptp_show_unicast_peers -a",
                                    "ptp_show_interfaces -b -a",
                                    "ptp_show_foreign_masters -b -a",
                                    "ptp_show_interfaces -i Gi0/1/0/1",
                                    "ptp_show_config_errors",
                                    "ptp_show_idb -i Gi0/1/0/1",
                                    "ptp_show_controller_db",
                                    "ptp_show_interop_tool",
                                    "ptp_show_datasets -a"};
    if (run.locked) {
        for (const char *command : commands) {
            out[command] = tool(command);
        }
    }
    stop_show_run(run);
    ASSERT_TRUE(run.locked) << run.run.text;

    // The grandmaster is the simulated one on line card 0/1's Gi0/1/0/1, class 6.
    std::smatch gm;
    ASSERT_TRUE(std::regex_search(
        run.run.text, gm, std::regex(R"(\[watch\] controller's grandmaster: clock (\S+) class 6, heard on interface)")))
        << run.run.text;
    std::string id = gm[1].str(); // "aabbcc.ddee.ff0011"
    id.erase(std::remove(id.begin(), id.end(), '.'), id.end());
    while (id.size() > 1 && id[0] == '0') {
        id.erase(0, 1);
    }
    const std::string &grandmaster = out["ptp_show_grandmaster"];
    EXPECT_TRUE(
        std::regex_search(grandmaster, std::regex("^Used to set system frequency and time\nEthernet, Address "
                                                  "[0-9a-f]{4}\\.[0-9a-f]{4}\\.[0-9a-f]{4}\nReceived on interface "
                                                  "Gi0/1/0/1 \\(port number 0x[0-9a-f]{4}\\)\nClock ID: " +
                                                  id + "\n")))
        << grandmaster;
    EXPECT_NE(grandmaster.find("  Domain: 24, Priority1: 128, Priority2: 128, Class 6\n"), std::string::npos)
        << grandmaster;
    // The chassis advertises the grandmaster one step removed, and its servo is locked to it.
    const std::string &advertised = out["ptp_show_advertised_clock"];
    EXPECT_EQ(advertised.rfind("Clock ID: " + id + "\nClock properties:\n", 0), 0u) << advertised;
    EXPECT_NE(advertised.find(", Class: 6\n"), std::string::npos) << advertised;
    EXPECT_NE(out["ptp_show_local_clock"].find("Servo status: Phase aligned\n"), std::string::npos)
        << out["ptp_show_local_clock"];
    const std::string &datasets = out["ptp_show_datasets"];
    EXPECT_TRUE(in_order(datasets, {"currentDS:\n    stepsRemoved = 1\n", "defaultDS:\n", "parentDS:\n",
                                    "    grandmasterIdentity = 0x" + id + "\n", "timePropertiesDS:\n"}))
        << datasets;
    // One slave port (Gi0/1/0/1) and one master port (Gi0/2/0/1) in the whole chassis.
    const std::string &summary = out["ptp_show_summary -a"];
    EXPECT_NE(summary.find("         MASTER 1         \n"), std::string::npos) << summary;
    EXPECT_NE(summary.find("          SLAVE 1         \n"), std::string::npos) << summary;
    EXPECT_NE(summary.find("          Total 2         \n"), std::string::npos) << summary;
    EXPECT_EQ(out["ptp_show_leap_seconds"].rfind("Current offset: ", 0), 0u) << out["ptp_show_leap_seconds"];
    EXPECT_EQ(out["ptp_show_datasets -x"], "Unknown argument 'x'\n");
    // The chassis-wide walk: both line cards' agents, in name order.
    const std::string &peers = out["ptp_show_unicast_peers -a"];
    EXPECT_TRUE(in_order(peers, {"Interface Gi0/1/0/1\nDownstream Peers:\n  No known peers\n",
                                 "Interface Gi0/2/0/1\nDownstream Peers:\n  No known peers\n"}))
        << peers;
    // The interface brief names both line cards' ports with their states; the grandmaster is the
    // qualified foreign master of the slave port, heard with its class; the configuration is valid.
    const std::string &brief = out["ptp_show_interfaces -b -a"];
    EXPECT_TRUE(std::regex_search(brief, chassis_brief("Ethernet"))) << brief;
    EXPECT_EQ(out["ptp_show_interfaces -i Gi0/1/0/1"].rfind("Gi0/1/0/1 is in Slave state\n", 0), 0u)
        << out["ptp_show_interfaces -i Gi0/1/0/1"];
    const std::string &foreign = out["ptp_show_foreign_masters -b -a"];
    EXPECT_TRUE(std::regex_search(foreign, std::regex("\nGi0/1/0/1 +Ethernet +[0-9a-f]{4}\\.[0-9a-f]{4}\\.[0-9a-f]{4} +"
                                                      "[0-9]+ +6 +M,Q,GM\n$")))
        << foreign;
    EXPECT_EQ(out["ptp_show_config_errors"], "");
    // The dump of the slave port: both threads' records, the port in its real state, slaving to
    // the grandmaster, which is its best foreign master and heard at its address.
    std::smatch mac;
    ASSERT_TRUE(std::regex_search(grandmaster, mac, std::regex("Ethernet, Address (\\S+)\n"))) << grandmaster;
    const std::string &idb = out["ptp_show_idb -i Gi0/1/0/1"];
    EXPECT_TRUE(in_order(idb, {"\n------------------------------------------------------------------\nIPC Thread IDB\n",
                               "    Interface Name = Gi0/1/0/1\n", "Protocol Thread IDB\n", "FSM:\n",
                               "    Port state = Slave\n", "    Is best master = TRUE\n",
                               "    Best master MAC-address = " + mac[1].str() + "\n",
                               "    Slaving master MAC-address = " + mac[1].str() + "\n", "    Master 1 of ",
                               "        Peer MAC-address = " + mac[1].str() + "\n", "        Clock ID = 0x" + id + "\n",
                               "        Clock Class = 6\n", "        Is slaving = TRUE\n", "Offload Sessions:\n"}))
        << idb;
    // The controller's database of each node names the grandmaster as the one it selected.
    const std::string &db = out["ptp_show_controller_db"];
    EXPECT_TRUE(in_order(db, {"Node: 0/RP0/CPU0\n", "    Grandmaster Clock:\n",
                              "    ------------------------------------------------------------------\n\n"
                              "    Clock ID = 0x" +
                                  id + "\n",
                              "    Class = 6 \n", "    Advertised Clock:\n", "    Best Master Clocks:\n",
                              "        Clock ID = 0x" + id + "\n", "        PTP servo synced to Grandmaster = TRUE\n"}))
        << db;
    // No interface of the configuration interoperates with another profile.
    EXPECT_EQ(out["ptp_show_interop_tool"], "");
    // Each port's data set, both line cards' in name order, only the ports' (-a alone).
    EXPECT_TRUE(
        in_order(out["ptp_show_datasets -a"],
                 {"portDS[Gi0/1/0/1]:\n    portIdentity:\n", "    portState = Slave\n", "    masterOnly = FALSE\n",
                  "portDS[Gi0/2/0/1]:\n    portIdentity:\n", "    portState = Master\n", "    masterOnly = TRUE\n"}))
        << out["ptp_show_datasets -a"];
    EXPECT_EQ(out["ptp_show_datasets -a"].rfind("portDS[Gi0/1/0/1]:\n", 0), 0u) << out["ptp_show_datasets -a"];
}

// The counts of a counter table, by row name: the first number after the name, or the one in
// `column` (0 the first); a name seen twice (the packet and drop-reason TOTALs) keeps its first.
std::map<std::string, uint64_t> counts_of(const std::string &table, size_t column = 0)
{
    std::map<std::string, uint64_t> counts;
    const std::regex row(R"(^  (\S.*?\S)((?: +[0-9]+)+)$)");
    std::istringstream in(table);
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (!std::regex_match(line, m, row))
            continue;
        std::istringstream numbers(m[2].str());
        std::vector<uint64_t> values;
        for (uint64_t v; numbers >> v;)
            values.push_back(v);
        if (column < values.size())
            counts.emplace(m[1].str(), values[column]);
    }
    return counts;
}

// The counter tools against the running simulated chassis: the slave port's packet counters rise
// while it runs; a clear resets what the next read shows, and only the group and scope asked for.
TEST(MainJobShowToolsTest, CountersRiseAndAClearResetsOnlyItsGroup)
{
    // The own node is line card 0/1; the controller runs on the route processor (0x100).
    show_run_type run = start_show_run("show_counters_test");
    const auto tool = [&](const std::string &command) { return run.tool(command); };
    const std::string port = "ptp_show_packets_tool -i Gi0/1/0/1", node = "ptp_show_packets_tool -h 0x10",
                      controller = "ptp_show_controller_events -h 0x100", node_events = "ptp_show_events_tool",
                      port_events = "ptp_show_events_tool -i Gi0/1/0/1";
    std::map<std::string, std::string> before, after;
    std::string risen, cleared_port, cleared_controller, cleared_node_events, all_controllers;
    if (run.locked) {
        before[port] = tool(port);
        const uint64_t first = counts_of(before[port], 1)["TOTAL"];
        for (int i = 0; i < 100 && counts_of(risen, 1)["TOTAL"] <= first; ++i) {
            usleep(100000);
            risen = tool(port);
        }
        for (const std::string &command : {node, controller, node_events, port_events})
            before[command] = tool(command);
        all_controllers = tool("ptp_show_controller_events");
        cleared_port = tool("ptp_clear_counters -p -i Gi0/1/0/1");
        after[port] = tool(port);
        after[node] = tool(node);
        cleared_controller = tool("ptp_clear_counters -g -h 0x100");
        after[controller] = tool(controller);
        cleared_node_events = tool("ptp_clear_counters -e -h 0x10");
        after[node_events] = tool(node_events);
        after[port_events] = tool(port_events);
    }
    stop_show_run(run);
    ASSERT_TRUE(run.locked) << run.run.text;

    // The slave port hears the grandmaster's Announce, Sync and Follow-Up, and answers with
    // Delay-Req: the counts rise from one read to the next.
    const auto port_received = counts_of(risen, 1);
    EXPECT_GT(port_received.at("TOTAL"), counts_of(before[port], 1).at("TOTAL")) << before[port] << risen;
    for (const char *kind : {"Announce", "Sync", "Follow-Up", "Delay-Resp"})
        EXPECT_GT(port_received.at(kind), 0u) << kind << "\n" << risen;
    EXPECT_GT(counts_of(risen, 0).at("Delay-Req"), 0u) << risen;
    const auto drops = counts_of(before[node]);
    EXPECT_TRUE(drops.count("Not ready for packets") == 1 && drops.count("Packet IPv4 checksum check failed") == 1)
        << before[node];

    // Every clear prints nothing. The port's counts start again from zero: the next read shows
    // only what came since, fewer than the run had counted; the node's are not cleared with them.
    EXPECT_EQ(cleared_port + cleared_controller + cleared_node_events, "");
    EXPECT_LT(counts_of(after[port], 1).at("TOTAL"), counts_of(risen, 1).at("TOTAL")) << after[port];
    EXPECT_GE(counts_of(after[node], 1).at("TOTAL"), counts_of(before[node], 1).at("TOTAL")) << after[node];

    // The controller's counters on the route processor: the configuration bind, counted once at
    // start, is gone after the clear; time messages count again from zero.
    const auto ctrl = counts_of(before[controller]), ctrl_after = counts_of(after[controller]);
    EXPECT_EQ(ctrl.at("Binded with Nodra for global config"), 1u) << before[controller];
    EXPECT_EQ(ctrl_after.at("Binded with Nodra for global config"), 0u) << after[controller];
    EXPECT_GT(ctrl.at("Time messages received"), 0u) << before[controller];
    EXPECT_LT(ctrl_after.at("Time messages received"), ctrl.at("Time messages received")) << after[controller];
    // Walking every node that runs the agent finds the controller's one table, without a heading.
    EXPECT_EQ(all_controllers.rfind("  Event ", 0), 0u) << all_controllers;
    EXPECT_EQ(all_controllers.find("  Event ", 1), std::string::npos) << all_controllers;
    EXPECT_EQ(counts_of(all_controllers).size(), 16u) << all_controllers;

    // The own node's agent events (the configuration applied at start) are cleared; the port's own
    // event records are not.
    EXPECT_GT(counts_of(before[node_events]).at("Received an apply batch"), 0u) << before[node_events];
    EXPECT_EQ(counts_of(after[node_events]).at("Received an apply batch"), 0u) << after[node_events];
    EXPECT_GT(counts_of(before[port_events]).at("Apply called for interface config"), 0u) << before[port_events];
    EXPECT_EQ(counts_of(after[port_events]).at("Apply called for interface config"),
              counts_of(before[port_events]).at("Apply called for interface config"))
        << after[port_events];
}

// The group-services tools against the running simulated chassis, from outside it: a show request
// to the daemon's own end point, which prints the directory in the daemon's output, and the trace
// records the request left, read back by the trace tool.
TEST(MainJobGroupServicesToolsTest, BothToolsAgainstTheRunningChassis)
{
    char tmpl[] = "/tmp/dgs_tools_run.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string run_dir = tmpl;
    run_type r = start_run(run_dir, true, "60");
    ASSERT_GT(r.pid, 0);
    const bool running = read_until(r, "Running.");
    const std::string env = "PTP_PLATFORM_SOCKET=" + run_dir + "/platform.sock PTP_RUN_DIR=" + run_dir + " TZ=UTC " +
                            BUILD_DIR + "/group-services-tools/";
    const std::string show =
        running ? command_output(env + "dgs_endpoint_show -d -s -e platformd 2>&1; echo status $?") : "";
    const bool printed = running && read_until(r, "[platformd] group services: ");
    const std::string traces = running ? command_output(env + "dgs_trace_show 2>&1") : "";
    const std::string errors = running ? command_output(env + "dgs_trace_show -E 2>&1") : "";
    kill(-r.pid, SIGINT);
    read_until(r, "\x01");
    int status = -1;
    waitpid(r.pid, &status, 0);
    fclose(r.out);
    std::filesystem::remove_all(run_dir);
    ASSERT_TRUE(running) << r.text;

    EXPECT_EQ(show, "status 0\n");
    EXPECT_TRUE(printed) << r.text;
    EXPECT_TRUE(in_order(r.text, {"[platformd] platformd: show request 0x203 from '" + std::string(BUILD_DIR) +
                                      "/group-services-tools/dgs_endpoint_show'\n",
                                  "[platformd] group services: 1 end points, 2 binds\n",
                                  "[platformd]   end point 1 'platformd': pid "}))
        << r.text;
    const std::string lines =
        std::regex_replace(traces, std::regex(R"(^\S+ \S+ dgs [0-9]+: )", std::regex::multiline), "");
    EXPECT_TRUE(
        std::regex_match(lines, std::regex("dgs_bind: platformd\n"
                                           "dgs_bind: platformd created hdl 0x0:0x([0-9a-f]+) Lo-port 0 Hi-port 0\n"
                                           "dgs_endp_to_hdl: created platformd node 0 owner hdl 0x0:0x\\1 hdl "
                                           "0x0:0x1 refcnt 1\n"
                                           "dgs_destroy: platformd remote hdl 0x0:0x1 refcnt 0\n"
                                           "dgs_unbind: platformd local hdl 0x0:0x\\1 refcnt 0\n")))
        << traces;
    EXPECT_EQ(errors, "");
}

INSTANTIATE_TEST_SUITE_P(Runs, MainJobTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool> &i) {
                             return std::string(i.param ? "Simulated" : "Ptp4l");
                         });

INSTANTIATE_TEST_SUITE_P(Runs, RunScriptTest,
                         ::testing::Values(case_type{"SimulatedCtrlC", true, true},
                                           case_type{"SimulatedTerm", true, false},
                                           case_type{"Ptp4lCtrlC", false, true}, case_type{"Ptp4lTerm", false, false}),
                         [](const ::testing::TestParamInfo<case_type> &i) { return std::string(i.param.name); });

} // namespace

// The MIB plug-ins through a real SNMP agent: the run's route processor runs ptp_mib_agentx as a
// subagent of snmpd; snmpwalk lists both modules of the locked chassis, and a clock-class
// notification enabled by the operator reaches snmptrapd.
TEST(MainJobSnmpTest, BothModulesAreWalkedThroughSnmpdAndANotificationReachesTheReceiver)
{
    for (const char *tool : {"snmpd", "snmpwalk", "snmptrapd"}) {
        if (command_output(std::string("command -v ") + tool).empty()) {
            GTEST_SKIP() << tool << " is not installed";
        }
    }
    char tmpl[] = "/tmp/snmp_main_job_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string snmp_dir = tmpl;
    const int agent_port = 20000 + static_cast<int>(getpid() % 20000);
    const int trap_port = agent_port + 1;
    const std::string agent = "127.0.0.1:" + std::to_string(agent_port);
    const std::string socket = snmp_dir + "/agentx.sock";
    std::ofstream(snmp_dir + "/snmpd.conf")
        << "master agentx\nagentXSocket " << socket << "\nagentXPerms 0700 0700\nrocommunity public 127.0.0.1\n"
        << "trap2sink 127.0.0.1:" << trap_port << " public\n";
    std::ofstream(snmp_dir + "/snmptrapd.conf") << "disableAuthorization yes\n";
    const std::string traps = snmp_dir + "/traps.log";
    command_output("snmpd -Lf " + snmp_dir + "/snmpd.log -C -c " + snmp_dir + "/snmpd.conf -p " + snmp_dir +
                   "/snmpd.pid udp:" + agent);
    command_output("snmptrapd -m '' -On -Lf " + traps + " -C -c " + snmp_dir + "/snmptrapd.conf -p " + snmp_dir +
                   "/snmptrapd.pid udp:127.0.0.1:" + std::to_string(trap_port));

    show_run_type s = start_show_run("snmp_main_job_test", {"--snmp-agentx", socket});
    const std::string walk = "snmpwalk -v2c -c public -On " + agent + " ";
    std::string v1;
    std::string v2;
    std::string raised;
    if (s.locked) {
        // The port table is built from both line cards' agents: wait for the second one's port.
        for (int i = 0; i < 40 && v1.find("\"Gi0/2/0/1\"") == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            v1 = command_output(walk + "1.3.6.1.4.1.47071.9.760 2>&1");
        }
        v2 = command_output(walk + "1.3.6.1.4.1.47071.9.1052 2>&1");
        // Two commits: whichever of the enable item and the controller's record comes first, the
        // class differs from the configured one once both are there.
        const std::string config = snmp_dir + "/traps.cfg";
        std::ofstream(config) << "set /cfg/gl/snmp/enable/traps/ptp/clock-class 255\ncommit\n"
                              << "set /cfg/gl/snmp/enable/traps/ptp/clock-class 254\ncommit\n";
        std::cout << command_output(std::string(BUILD_DIR) + "/platform/nodra/nodractl --socket " + s.dir +
                                    "/platform.sock -f " + config + " 2>&1");
        for (int i = 0; i < 40 && raised.find(".1.3.6.1.4.1.47071.9.1052.0.1") == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            raised = command_output("cat " + traps);
        }
    }
    const bool locked = s.locked;
    const std::string text = s.run.text;
    stop_show_run(s);
    command_output("kill $(cat " + snmp_dir + "/snmpd.pid) $(cat " + snmp_dir + "/snmptrapd.pid)");
    std::filesystem::remove_all(snmp_dir);
    std::cout << "snmpwalk of zelvoPtpMIB:\n" << v1 << "snmpwalk of zelvoPtpMIBv2:\n" << v2 << "snmptrapd:\n" << raised;
    ASSERT_TRUE(locked) << text;

    // Both line cards' ports in domain 24, the grandmaster of class 6, the clock phase-aligned.
    const std::string root = ".1.3.6.1.4.1.47071.9.760.";
    EXPECT_TRUE(in_order(v1, {root + "1.1.2.1.2.2 = Gauge32: 1", root + "1.1.4.0 = INTEGER: 3",
                              root + "1.2.2.1.11.24.2.0 = Gauge32: 6", root + "1.2.4.1.4.24.2.0 = INTEGER: 5",
                              "\"Gi0/1/0/1\"", "\"Gi0/2/0/1\""}))
        << v1;
    EXPECT_NE(v2.find(".1.3.6.1.4.1.47071.9.1052.1.2.2.1.11.24.2.0 = Gauge32: 6"), std::string::npos) << v2;
    // The clock-class notification of each module, with the grandmaster's class.
    EXPECT_TRUE(in_order(raised, {".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.4.1.47071.9.760.0.1",
                                  ".1.3.6.1.4.1.47071.9.760.1.2.2.1.11 = INTEGER: 6"}))
        << raised;
    EXPECT_NE(raised.find(".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.4.1.47071.9.1052.0.1"), std::string::npos) << raised;
}
