#include "zerrno.h"

#include <dlfcn.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

namespace {

std::mutex registry_lock;
std::map<uint32_t, const zerr_data_type *> &registry()
{
    static std::map<uint32_t, const zerr_data_type *> tables;
    return tables;
}

// The facility codes of the platform itself (event manager, messaging, ...) are not registered by
// anyone here; their codes fall through to the unknown text.
constexpr zerrno zerr_platform_facility = 0x7ff0;

} // namespace

zerrno zerr_register(const zerr_data_type *data)
{
    if (data == nullptr || data->rows == nullptr || data->count == 0)
        return zerr_make(zerr_platform_facility, 1, EINVAL);
    std::lock_guard guard(registry_lock);
    registry()[data->facility & 0x7fffu] = data;
    return ZERR_OK;
}

zerrno zerr_load_library(const char *path)
{
    void *lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr)
        return zerr_make(zerr_platform_facility, 2, ENOENT);
    auto *data = static_cast<const zerr_data_type *>(dlsym(lib, "zerr_data"));
    if (data == nullptr) {
        dlclose(lib);
        return zerr_make(zerr_platform_facility, 2, ENOENT);
    }
    // The library stays loaded: its rows are referenced from the registry.
    return zerr_register(data);
}

const char *zerr_strerror(zerrno code)
{
    if (code == ZERR_OK)
        return "Success";
    // Anything above the errno bits names a facility and row, whatever its top bits say
    // (some platform codes carry bit 31 instead of bit 30).
    if (code < 512)
        return strerror(static_cast<int>(code));
    {
        std::lock_guard guard(registry_lock);
        auto it = registry().find(zerr_facility(code));
        if (it != registry().end()) {
            const zerr_data_type *data = it->second;
            for (uint32_t i = 0; i < data->count; ++i)
                if (data->rows[i].number == zerr_number(code))
                    return data->rows[i].text;
        }
    }
    thread_local char unknown[32];
    snprintf(unknown, sizeof unknown, "Unknown error 0x%08x", code);
    return unknown;
}

void zerr_registry_reset()
{
    std::lock_guard guard(registry_lock);
    registry().clear();
}
