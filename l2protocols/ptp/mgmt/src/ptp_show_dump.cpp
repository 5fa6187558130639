// What the two database dumps share.
#include "ptp_show_dump.h"

#include <cstdarg>
#include <cstdio>

#include "ptp_show_utils.h"

namespace dump {

void put(uint32_t level, const char *format, ...)
{
    ptp_show_print_indent(level);
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
}

const char *fmt(const char *format, ...)
{
    char *buf = ptp_show_get_str_buf();
    va_list args;
    va_start(args, format);
    vsnprintf(buf, PTP_SHOW_STR_BUF_SIZE, format, args);
    va_end(args);
    return buf;
}

const char *tf(uint32_t flag)
{
    return flag != 0 ? "TRUE" : "FALSE";
}

const char *hex_bytes(const bag_bytes &bytes)
{
    char *buf = ptp_show_get_str_buf();
    size_t used = 0;
    for (uint32_t i = 0; bytes.data != nullptr && i < bytes.length && used + 2 < PTP_SHOW_STR_BUF_SIZE; ++i)
        used += static_cast<size_t>(snprintf(buf + used, PTP_SHOW_STR_BUF_SIZE - used, "%02x", bytes.data[i]));
    return buf;
}

} // namespace dump
