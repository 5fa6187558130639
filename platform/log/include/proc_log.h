// The log of a process the process manager runs: one file per process in the run folder, named
// after its node and process, "<run>/<node>.<process>.log" with the node's '/' as '_' (e.g.
// "/tmp/ptp/0_1_CPU0.tessel.log"); the run folder is jotlog_run_dir(). The manager makes it the
// process's standard output and error and names it in the process's $PTP_PROC_LOG, where
// qor_errmsg appends each message it delivers (besides syslog).
#pragma once

#include <string>

std::string plat_proc_log_path(const std::string &node, const std::string &process);
// Opens (creating the run folder and the file) for appending, close-on-exec; -1 on failure.
int plat_proc_log_open(const std::string &path);
// "<YYYY-mm-dd HH:MM:SS.uuuuuu> <text>" (UTC, platform clock), a line without its newline.
std::string plat_proc_log_line(const std::string &text);
// Appends plat_proc_log_line(text) and a newline in one write.
void plat_proc_log_write(int fd, const std::string &text);
