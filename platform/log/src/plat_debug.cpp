#include "plat_debug.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>

#include "jotlog.h"
#include "log_internal.h"
#include "qor_log.h"

namespace {

constexpr uint64_t event_magic = 0x6465627567657674ull; // "debugevt"
constexpr size_t capture_limit = 4096;
constexpr size_t line_limit = 1024;

} // namespace

struct debug_registration_type {
    std::string path;
    void *evm;
    debug_event_type *table;
    uint32_t count;
    debug_parse_cb_fn parse_cb;
    void *context;
};

struct debug_facility_ref_type {
    debug_event_type *event;
    uint32_t type;
    const void *value;
    uint32_t len;
    void *app_reference; // the filter being released (op 2) or installed (op 1)
    debug_filter_match_fn match;
    bool installed;
};

namespace {

struct state_type {
    // Recursive: a parse callback may print while an operator call holds the lock.
    std::recursive_mutex lock;
    std::map<std::string, debug_registration_type *> paths;
    std::deque<std::string> captured;
    FILE *log = nullptr;
    std::string log_path;
};

state_type &state()
{
    static state_type *s = new state_type; // never destroyed: prints may come from exit paths
    return *s;
}

uint64_t load_enabled(const debug_event_type *e)
{
    return __atomic_load_n(&e->enabled, __ATOMIC_ACQUIRE);
}
void store_enabled(debug_event_type *e, uint64_t v)
{
    __atomic_store_n(&e->enabled, v, __ATOMIC_RELEASE);
}

// Hand the event's installed filter back to its owner and forget it.
void release_filter(debug_registration_type *reg, debug_event_type *e)
{
    if (e->filter != nullptr && reg->parse_cb != nullptr) {
        debug_facility_ref_type ref{e, DEBUG_VALUE_NONE, nullptr, 0, e->filter, e->match, true};
        reg->parse_cb(DEBUG_OP_RELEASE, &ref, reg->context);
    }
    e->filter = nullptr;
    e->match = nullptr;
}

zerrno enable_one(debug_registration_type *reg, debug_event_type *e, uint32_t type, const void *value, uint32_t len)
{
    if (type == DEBUG_VALUE_NONE) {
        release_filter(reg, e);
        store_enabled(e, 1);
        return ZERR_OK;
    }
    if (reg->parse_cb == nullptr)
        return EINVAL;
    debug_facility_ref_type ref{e, type, value, len, nullptr, nullptr, false};
    zerrno rc = reg->parse_cb(DEBUG_OP_PARSE, &ref, reg->context);
    if (rc != ZERR_OK) {
        // A callback that installed and then failed still owns what it installed.
        if (ref.installed && ref.app_reference != nullptr) {
            debug_facility_ref_type rel{e, DEBUG_VALUE_NONE, nullptr, 0, ref.app_reference, ref.match, true};
            reg->parse_cb(DEBUG_OP_RELEASE, &rel, reg->context);
        }
        return rc;
    }
    release_filter(reg, e);
    if (ref.installed) {
        e->filter = ref.app_reference;
        e->match = ref.match;
    }
    store_enabled(e, 1);
    return ZERR_OK;
}

// Runs fn on the named area, or on every area for "all".
template <typename Fn>
zerrno for_area(const char *path, const char *area, Fn fn)
{
    if (path == nullptr || area == nullptr)
        return EINVAL;
    auto &s = state();
    auto it = s.paths.find(path);
    if (it == s.paths.end())
        return ENOENT;
    debug_registration_type *reg = it->second;
    bool all = std::strcmp(area, "all") == 0;
    bool found = false;
    for (uint32_t i = 0; i < reg->count; ++i) {
        debug_event_type *e = &reg->table[i];
        if (all || std::strncmp(e->name, area, sizeof e->name) == 0) {
            found = true;
            if (zerrno rc = fn(reg, e); rc != ZERR_OK)
                return rc;
        }
    }
    return found ? ZERR_OK : ENOENT;
}

// PTP_DEBUG="/debug/ptp:fsm,bmc=internal:Gi0/0/0/1;/debug/other:all"
void apply_environment(const std::string &path)
{
    const char *env = std::getenv("PTP_DEBUG");
    if (env == nullptr)
        return;
    std::string settings = env;
    size_t start = 0;
    while (start <= settings.size()) {
        size_t end = settings.find(';', start);
        std::string part = settings.substr(start, end == std::string::npos ? std::string::npos : end - start);
        size_t colon = part.find(':');
        if (colon != std::string::npos && part.substr(0, colon) == path) {
            std::string areas = part.substr(colon + 1);
            size_t a = 0;
            while (a <= areas.size()) {
                size_t comma = areas.find(',', a);
                std::string item = areas.substr(a, comma == std::string::npos ? std::string::npos : comma - a);
                size_t eq = item.find('=');
                if (!item.empty()) {
                    std::string name = item.substr(0, eq);
                    if (eq == std::string::npos)
                        debug_set_area(path.c_str(), name.c_str(), nullptr);
                    else
                        debug_set_area(path.c_str(), name.c_str(), item.substr(eq + 1).c_str());
                }
                if (comma == std::string::npos)
                    break;
                a = comma + 1;
            }
        }
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
}

void write_line(state_type &s, const char *text)
{
    // The run directory or identity may change (a test, zq_openlog after the first print).
    std::string path = debug_log_path();
    if (s.log != nullptr && path != s.log_path) {
        std::fclose(s.log);
        s.log = nullptr;
    }
    if (s.log == nullptr) {
        size_t slash = path.rfind('/');
        if (log_internal::make_dirs(path.substr(0, slash)))
            s.log = std::fopen(path.c_str(), "a");
        if (s.log != nullptr)
            s.log_path = path;
    }
    if (s.log != nullptr) {
        std::fprintf(s.log, "%s %s\n", log_internal::format_time(log_internal::wall_ns()).c_str(), text);
        std::fflush(s.log); // readable at once, also after a crash
    }
    if (s.captured.size() == capture_limit)
        s.captured.pop_front();
    s.captured.emplace_back(text);
}

} // namespace

zerrno debug_init_event(debug_event_type *event, debug_event_type *table, uint64_t index, uint32_t level_mask,
                        const char *name, uint32_t params_len)
{
    if (event == nullptr || table == nullptr || name == nullptr || name[0] == '\0' ||
        std::strlen(name) >= sizeof event->name)
        return EINVAL;
    *event = debug_event_type{};
    event->magic = event_magic;
    event->index = index;
    event->level_mask = level_mask;
    event->params_len = params_len;
    std::strcpy(event->name, name);
    event->table = table;
    return ZERR_OK;
}

zerrno debug_register(void *evm, const char *path, debug_event_type *table, uint32_t count, debug_parse_cb_fn parse_cb,
                      void *context)
{
    if (path == nullptr || path[0] == '\0' || table == nullptr || count == 0)
        return EINVAL;
    auto &s = state();
    std::lock_guard g(s.lock);
    if (s.paths.count(path) != 0)
        return EEXIST;
    for (uint32_t i = 0; i < count; ++i)
        if (table[i].magic != event_magic || table[i].table != table || table[i].index != i ||
            table[i].registration != nullptr)
            return EINVAL;
    auto *reg = new debug_registration_type{path, evm, table, count, parse_cb, context};
    for (uint32_t i = 0; i < count; ++i)
        table[i].registration = reg;
    s.paths.emplace(reg->path, reg);
    apply_environment(reg->path);
    return ZERR_OK;
}

zerrno debug_get_type_value(debug_facility_ref_type *ref, uint32_t *type, const void **value, uint32_t *len)
{
    if (ref == nullptr)
        return EINVAL;
    if (type != nullptr)
        *type = ref->type;
    if (value != nullptr)
        *value = ref->value;
    if (len != nullptr)
        *len = ref->len;
    return ZERR_OK;
}

debug_event_type *debug_ref_event(debug_facility_ref_type *ref)
{
    return ref != nullptr ? ref->event : nullptr;
}

zerrno debug_install_filter(debug_facility_ref_type *ref, void *filter, debug_filter_match_fn match)
{
    if (ref == nullptr || filter == nullptr || match == nullptr)
        return EINVAL;
    ref->app_reference = filter;
    ref->match = match;
    ref->installed = true;
    return ZERR_OK;
}

zerrno debug_get_app_reference(debug_facility_ref_type *ref, void **filter)
{
    if (ref == nullptr || filter == nullptr)
        return EINVAL;
    *filter = ref->app_reference;
    return ZERR_OK;
}

zerrno debug_cleanup(const char *path)
{
    if (path == nullptr)
        return EINVAL;
    auto &s = state();
    std::lock_guard g(s.lock);
    auto it = s.paths.find(path);
    if (it == s.paths.end())
        return ENOENT;
    debug_registration_type *reg = it->second;
    for (uint32_t i = 0; i < reg->count; ++i) {
        store_enabled(&reg->table[i], 0);
        release_filter(reg, &reg->table[i]);
        reg->table[i].registration = nullptr;
    }
    s.paths.erase(it);
    delete reg;
    return ZERR_OK;
}

void vbuginf(const debug_event_type *event, const void *params, uint32_t params_len, const char *format, va_list args)
{
    if (event == nullptr || format == nullptr || load_enabled(event) == 0)
        return;
    auto &s = state();
    std::lock_guard g(s.lock);
    // Parameters shorter than the area declared cannot be matched safely: such a print (like
    // one without parameters) is not filtered.
    if (event->filter != nullptr && event->match != nullptr && params != nullptr && params_len >= event->params_len &&
        !event->match(params, event->filter))
        return;
    char text[line_limit];
    vsnprintf(text, sizeof text, format, args);
    size_t n = std::strlen(text);
    if (n > 0 && text[n - 1] == '\n')
        text[n - 1] = '\0';
    write_line(s, text);
}

void buginf(const debug_event_type *event, const void *params, uint32_t params_len, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    vbuginf(event, params, params_len, format, ap);
    va_end(ap);
}

zerrno debug_set_area_value(const char *path, const char *area, uint32_t type, const void *value, uint32_t len)
{
    auto &s = state();
    std::lock_guard g(s.lock);
    return for_area(path, area, [&](debug_registration_type *reg, debug_event_type *e) {
        return enable_one(reg, e, type, value, len);
    });
}

zerrno debug_set_area(const char *path, const char *area, const char *filter_text)
{
    if (filter_text == nullptr)
        return debug_set_area_value(path, area, DEBUG_VALUE_NONE, nullptr, 0);
    return debug_set_area_value(path, area, DEBUG_VALUE_TEXT, filter_text,
                                static_cast<uint32_t>(std::strlen(filter_text)));
}

zerrno debug_clear_area(const char *path, const char *area)
{
    auto &s = state();
    std::lock_guard g(s.lock);
    return for_area(path, area, [&](debug_registration_type *reg, debug_event_type *e) {
        store_enabled(e, 0);
        release_filter(reg, e);
        return ZERR_OK;
    });
}

std::vector<std::string> debug_captured()
{
    auto &s = state();
    std::lock_guard g(s.lock);
    return {s.captured.begin(), s.captured.end()};
}

void debug_capture_clear()
{
    auto &s = state();
    std::lock_guard g(s.lock);
    s.captured.clear();
}

std::string debug_log_path()
{
    return jotlog_run_dir() + "/debug/" + zq_log_ident() + "." + std::to_string(getpid()) + ".log";
}
