#include "proc_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "jotlog.h"
#include "log_internal.h"

std::string plat_proc_log_path(const std::string &node, const std::string &process)
{
    std::string file = node;
    std::replace(file.begin(), file.end(), '/', '_');
    return jotlog_run_dir() + "/" + file + "." + process + ".log";
}

int plat_proc_log_open(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !log_internal::make_dirs(path.substr(0, slash)))
        return -1;
    return open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
}

std::string plat_proc_log_line(const std::string &text)
{
    return log_internal::format_time(log_internal::wall_ns()) + " " + text;
}

void plat_proc_log_write(int fd, const std::string &text)
{
    if (fd < 0)
        return;
    const std::string line = plat_proc_log_line(text) + "\n";
    // One write per line, so that the lines of the process and of its manager never mix.
    if (write(fd, line.data(), line.size()) < 0) {
        // A log that cannot be written loses the line; the process goes on.
    }
}
