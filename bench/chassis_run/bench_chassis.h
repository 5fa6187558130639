// A chassis of this tree's programs under the platform daemon, in a run folder of its own: the
// daemon started with a chassis description, its processes under the process manager, the
// operator's commits through nodractl, each process's pid from the process table, and the agents'
// operational items read through the database. Shared by the benchmarks that measure the running
// system rather than a program of its modules.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

struct bench_chassis_type {
    std::string run_dir;
    pid_t daemon = -1;
};

// Starts the daemon with the description (TOML text; relative programs are this tree's tessel,
// quorrin and sardo) and waits until it serves and no process is still starting; false with why.
// The calling process's environment names the daemon from then on ($PTP_PLATFORM_SOCKET).
bool bench_chassis_start(const std::string &chassis_toml, bench_chassis_type *chassis, std::string *why);
// Stops the daemon (and with it the chassis' processes) and removes the run folder.
void bench_chassis_stop(bench_chassis_type *chassis);

// nodractl with these arguments (standard input from `input` when it is not empty): its output.
std::string bench_chassis_ctl(const bench_chassis_type &chassis, const std::string &args,
                              const std::string &input = "");
// The pid of a process of the chassis ("0/1/CPU0", "tessel"), -1 when it is not running.
pid_t bench_chassis_pid(const bench_chassis_type &chassis, const std::string &node, const std::string &process);

// An interface's counters as its agent reports them: PTP messages received and sent (every class),
// false when they could not be read.
bool bench_chassis_packet_counters(const std::string &ifname, uint64_t *received, uint64_t *sent);
// An interface's port state as its agent reports it ("Slave", "Master", ...), "-" when unread.
std::string bench_chassis_port_state(const std::string &ifname);

// CPU time of a whole process (every thread), in nanoseconds; -1 when it is gone.
int64_t bench_process_cpu_ns(pid_t pid);
// Resident memory of a process in bytes; -1 when it is gone.
int64_t bench_process_rss_bytes(pid_t pid);
// The first line of /proc/loadavg.
std::string bench_loadavg();
