// Recovery of a running chassis from a kill -9 of one of its processes, as an operator sees it:
// the main job (scripts/run.sh) is started in a folder of its own, and once the chassis is locked
// a process is killed and the chassis' operational data is read every few milliseconds until
// the process is back, its ports are in the states they had and the servo is locked again, and
// stay so. Shared by the recovery benchmark and the recovery integration test.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct recovery_options_type {
    std::string script;      // scripts/run.sh
    std::string build_dir;   // the tree whose programs run
    bool simulated = true;   // the simulated peers, else ptp4l (root, ip netns, ptp4l)
    int phase_seconds = 600; // when the second configuration (unicast UDP/IPv4) is committed
    int seconds = 600;       // the run stops by itself after this long
    std::string debug;       // $PTP_DEBUG of the chassis' processes (empty: none)
};

struct recovery_run_type {
    pid_t pid = -1;
    std::string run_dir;
    std::string build_dir;
};

// One reading of the chassis. A state is its name, or "-" when it could not be read (the
// process serving it is down).
struct recovery_reading_type {
    double at_s = 0;                       // since the kill
    std::vector<std::string> ports;        // in the order of recovery_ports
    std::string servo;                     // the controller's servo state
    std::string global;                    // "ok" when the global verifier answers, else "-"
    std::vector<std::string> process_pids; // "pid state" in the order of recovery_processes
};

struct recovery_result_type {
    std::string process; // "NODE NAME"
    bool restarted = false;
    double restarted_s = -1;        // the manager shows a new instance ready
    double recovered_s = -1;        // from then on the process is up, every port in its state and the servo locked
    std::vector<std::string> paths; // what each port, the servo and the verifier went through
    std::string restarted_log;      // the new instance's debug log (with recovery_options_type::debug)
};

// The ports the probe follows (line card 0/1's towards the grandmaster, 0/2's towards the
// slave) and the processes it can kill, as "NODE NAME".
extern const std::vector<std::string> recovery_ports;
extern const std::vector<std::string> recovery_processes;

// Starts the main job; false (with why) when it does not come up.
bool recovery_start(const recovery_options_type &options, recovery_run_type *run, std::string *why);
// Stops it (SIGTERM, as an operator would) and removes its folder unless kept; what it printed.
std::string recovery_stop(recovery_run_type *run, bool keep_folder = false);

recovery_reading_type recovery_read(const recovery_run_type &run);
// Waits until line card 0/1's port is Slave, 0/2's Master and the servo PhaseAligned, and have
// been for `stable_s`; false after `timeout_s`.
bool recovery_wait_locked(const recovery_run_type &run, double stable_s, double timeout_s);
// Kills "NODE NAME" with SIGKILL and reads the chassis for `window_s`.
recovery_result_type recovery_kill(const recovery_run_type &run, const std::string &process, double window_s);
