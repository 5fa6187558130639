// Helpers shared by the log service's sources.
#pragma once

#include <cstdint>
#include <string>

namespace log_internal {

// Times from the platform clock (so virtual time drives rate limits and stamps in tests):
// wall-clock ns since the epoch for stamps, monotonic ns for intervals.
uint64_t wall_ns();
uint64_t mono_ns();

// "YYYY-mm-dd HH:MM:SS.uuuuuu" (UTC) of a time in ns since the epoch.
std::string format_time(uint64_t ns);
// mkdir -p; true when the directory exists afterwards.
bool make_dirs(const std::string &dir);

} // namespace log_internal
