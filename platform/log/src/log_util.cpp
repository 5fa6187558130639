#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "log_internal.h"

namespace log_internal {

std::string format_time(uint64_t ns)
{
    time_t secs = static_cast<time_t>(ns / 1000000000u);
    tm t{};
    gmtime_r(&secs, &t);
    char buf[64];
    size_t n = strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &t);
    snprintf(buf + n, sizeof buf - n, ".%06u", static_cast<unsigned>(ns % 1000000000u / 1000u));
    return buf;
}

bool make_dirs(const std::string &dir)
{
    if (dir.empty())
        return false;
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') {
            std::string part = dir.substr(0, pos);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
                return false;
        }
    }
    struct stat st {};
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace log_internal
