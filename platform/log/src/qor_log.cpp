#include "qor_log.h"

#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>

#include "log_internal.h"
#include "proc_log.h"

namespace {

constexpr size_t capture_limit = 4096;
constexpr size_t text_limit = 1024;

struct state_type {
    std::mutex lock;
    std::string ident;
    bool ident_set = false;
    bool to_syslog = true;
    int proc_log = -1; // the process manager's log of this process ($PTP_PROC_LOG), or -1
    std::deque<qor_captured_msg> captured;
};

state_type &state()
{
    static state_type *s = [] {
        auto *st = new state_type; // never destroyed: messages may be raised from exit paths
        const char *env = std::getenv("PTP_SYSLOG");
        st->to_syslog = !(env != nullptr && std::strcmp(env, "0") == 0);
        if (const char *log = std::getenv("PTP_PROC_LOG"); log != nullptr && log[0] != '\0')
            st->proc_log = plat_proc_log_open(log);
        return st;
    }();
    return *s;
}

// Caller holds the lock.
const char *ident_locked(const state_type &s)
{
    if (s.ident_set && !s.ident.empty())
        return s.ident.c_str();
    return program_invocation_short_name != nullptr ? program_invocation_short_name : "process";
}

const char *or_empty(const char *s)
{
    return s != nullptr ? s : "";
}

} // namespace

void zq_openlog(const char *ident, int options, int facility)
{
    auto &s = state();
    std::lock_guard g(s.lock);
    s.ident = or_empty(ident);
    s.ident_set = true;
    // openlog keeps the pointer: the string lives in the process-lifetime state.
    openlog(s.ident.c_str(), options, facility);
}

const char *zq_log_ident()
{
    auto &s = state();
    std::lock_guard g(s.lock);
    return ident_locked(s);
}

zerrno qor_verrmsg(const qor_msg_rec_type *msg, int severity, va_list args)
{
    if (msg == nullptr || msg->format == nullptr)
        return EINVAL;
    severity &= 7;
    auto &s = state();
    std::lock_guard g(s.lock);

    if (qor_msg_limit_type *limit = msg->limit) {
        uint64_t now = log_internal::mono_ns();
        uint64_t interval = static_cast<uint64_t>(limit->interval_s) * 1000000000u;
        if (interval != 0 && (limit->flags & 1u) != 0 && now - limit->last_ns < interval) {
            if (limit->suppressed != UINT32_MAX)
                ++limit->suppressed;
            return EAGAIN;
        }
        limit->flags |= 1u;
        limit->last_ns = now;
        limit->suppressed = 0;
    }

    char text[text_limit];
    vsnprintf(text, sizeof text, msg->format, args);
    qor_captured_msg m;
    m.mnemonic = or_empty(msg->mnemonic);
    m.facility = or_empty(msg->facility);
    m.category = or_empty(msg->category);
    m.severity = severity;
    m.msg_id = msg->msg_id;
    m.text = text;
    m.line = "%" + m.category + "-" + m.facility + "-" + std::to_string(severity) + "-" + m.mnemonic + " : " + m.text;
    if (s.to_syslog)
        syslog(severity, "%s", m.line.c_str());
    // Where no syslog daemon listens, the process's own log still has it.
    if (s.proc_log >= 0)
        plat_proc_log_write(s.proc_log, std::string(ident_locked(s)) + "[" + std::to_string(getpid()) + "]: " + m.line);
    if (s.captured.size() == capture_limit)
        s.captured.pop_front();
    s.captured.push_back(std::move(m));
    return ZERR_OK;
}

zerrno qor_errmsg(const qor_msg_rec_type *msg, int severity, ...)
{
    va_list ap;
    va_start(ap, severity);
    zerrno rc = qor_verrmsg(msg, severity, ap);
    va_end(ap);
    return rc;
}

std::vector<qor_captured_msg> qor_errmsg_captured()
{
    auto &s = state();
    std::lock_guard g(s.lock);
    return {s.captured.begin(), s.captured.end()};
}

void qor_errmsg_capture_clear()
{
    auto &s = state();
    std::lock_guard g(s.lock);
    s.captured.clear();
}

void qor_errmsg_set_syslog(bool on)
{
    auto &s = state();
    std::lock_guard g(s.lock);
    s.to_syslog = on;
}
