// Recovery of the main job from a kill -9 while the chassis is locked: for each of its processes
// (line card 0/1's agent, line card 0/2's, the controller, the global verifier), kills it N times
// and reports how long until the process manager shows it ready again, and until it is up with
// every port in the state it had and the servo locked again, for good (the chassis read every few
// milliseconds). Runs scripts/run.sh with this tree's programs.
//
//   recovery_bench [--ptp4l] [--rounds N] [--window S] [--keep] [--build-dir DIR]
//
//   --ptp4l     against ptp4l over unicast UDP/IPv4 (the main job's second configuration; as root
//               with ip netns and ptp4l), else the simulated peers over Ethernet
//   --rounds N  kills of each process (3)
//   --window S  how long the chassis is read after each kill (8 s)
//   --keep      leave the run's folder (its logs; with $PTP_DEBUG set, the processes' debug logs)
//   --build-dir DIR  run another tree's programs (this one's by default), to compare
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "recovery_probe.h"

namespace {

pid_t script_pid = -1;

// Interrupted: the main job stops (and cleans up) as it does at an operator's Ctrl-C.
void on_signal(int)
{
    if (script_pid > 0) {
        kill(script_pid, SIGTERM);
    }
    _exit(1);
}

} // namespace

int main(int argc, char **argv)
{
    recovery_options_type options;
    options.script = RUN_SCRIPT;
    options.build_dir = BUILD_DIR;
    int rounds = 3;
    bool keep = false;
    double window_s = 8;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--ptp4l") == 0) {
            options.simulated = false;
            options.phase_seconds = 1;
        } else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--window") == 0 && i + 1 < argc) {
            window_s = std::max(1.0, std::atof(argv[++i]));
        } else if (std::strcmp(argv[i], "--keep") == 0) {
            keep = true;
        } else if (std::strcmp(argv[i], "--build-dir") == 0 && i + 1 < argc) {
            options.build_dir = argv[++i];
        } else {
            fprintf(stderr, "usage: recovery_bench [--ptp4l] [--rounds N] [--window S] [--keep] [--build-dir DIR]\n");
            return 2;
        }
    }
    recovery_run_type run;
    std::string why;
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
    const bool started = recovery_start(options, &run, &why);
    script_pid = run.pid;
    if (!started) {
        fprintf(stderr, "recovery_bench: %s\n%s", why.c_str(), recovery_stop(&run).c_str());
        return 1;
    }
    std::map<std::string, std::vector<double>> restarted, back;
    int failures = 0;
    for (int round = 0; round < rounds; round++) {
        for (const std::string &process : recovery_processes) {
            if (!recovery_wait_locked(run, 3, 120)) {
                fprintf(stderr, "recovery_bench: the chassis did not lock\n%s", recovery_stop(&run).c_str());
                return 1;
            }
            const recovery_result_type r = recovery_kill(run, process, window_s);
            printf("%s: restarted after %.3f s, back after %.3f s\n", process.c_str(), r.restarted_s, r.recovered_s);
            for (const std::string &path : r.paths) {
                printf("  %s\n", path.c_str());
            }
            fflush(stdout);
            if (!r.restarted || r.recovered_s < 0) {
                failures++;
                continue;
            }
            restarted[process].push_back(r.restarted_s);
            back[process].push_back(r.recovered_s);
        }
    }
    recovery_stop(&run, keep);
    if (keep) {
        printf("the run's folder: %s\n", run.run_dir.c_str());
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? -1.0 : v[v.size() / 2];
    };
    auto worst = [](const std::vector<double> &v) { return v.empty() ? -1.0 : *std::max_element(v.begin(), v.end()); };
    printf("\n%s peers, %d rounds: process | restarted (median, worst) | back in state and locked (median, worst)\n",
           options.simulated ? "simulated" : "ptp4l unicast", rounds);
    for (const std::string &process : recovery_processes) {
        printf("%-20s | %.3f s, %.3f s | %.3f s, %.3f s\n", process.c_str(), median(restarted[process]),
               worst(restarted[process]), median(back[process]), worst(back[process]));
    }
    if (failures > 0) {
        printf("%d kills not recovered within the window\n", failures);
    }
    return failures == 0 ? 0 : 1;
}
