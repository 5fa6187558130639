// Test control of the trace buffers: a buffer's records as short lines, so that a test of any
// component compares what it traced with a list of strings.
#pragma once

#include <string>
#include <vector>

#include "jotlog.h"

// One record as "0x<id>(<arg>,<arg>,...)": the id in hexadecimal, number arguments in decimal
// (unsigned), text arguments as their text between two `quote`s ("'" shows leading and trailing
// spaces; "" leaves the text bare).
std::string jotlog_test_record_line(const jotlog_record_type *record, const char *quote = "");

// Every record of buffer `name`, oldest first, as jotlog_test_record_line gives them; empty when
// the buffer has no file.
std::vector<std::string> jotlog_test_records(const char *name, const char *quote = "");

// A fresh private directory "/tmp/<prefix>.XXXXXX", made the run directory, so that a test's
// buffers and debug logs start empty and stay its own. Returns its path; "" when it cannot be made
// (the run directory is then unchanged).
std::string jotlog_test_run_dir_create(const char *prefix);

// Back to the default run directory, and `dir` (made by jotlog_test_run_dir_create) removed with
// all it holds; "" does nothing but the first.
void jotlog_test_run_dir_remove(const std::string &dir);

// Runs a display tool's entry point with args after argv[0] = tool: what it printed through
// jotlog_show, each " <this process's id>:" shown as " PID:", its exit status in *status and what
// it wrote on standard error in *err.
std::string jotlog_test_run_tool(int (*tool_main)(int, char **), const char *tool, std::vector<std::string> args,
                                 int *status, std::string *err);
