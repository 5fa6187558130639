// The database's item store, bindings and listings, in-process.
#include "nodra.h"

#include <fnmatch.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "nodra_test.h"

struct nodra_conn_td {
    std::string path; // absolute, ends with "/"
    uint32_t mode;
};

struct nodra_list_td {
    std::vector<std::string> names;
    size_t next;
};

namespace {

constexpr const char *default_client_library = "/pkg/lib/libnodra.so";

struct item_type {
    uint32_t type;
    std::vector<uint8_t> value;
};

struct failure_type {
    zerrno err = ZERR_OK;
    uint32_t count = 0;
    uint32_t after = 0;
};

constexpr size_t op_count = 4;

struct store_type {
    std::mutex lock;
    std::map<std::string, item_type> items; // by absolute path
    std::optional<std::string> library_override;
    std::array<failure_type, op_count> failures{};
    uint32_t calls = 0;
    uint32_t open_bindings = 0;
    uint32_t open_lists = 0;
};

store_type &store()
{
    static store_type s;
    return s;
}

void register_zerr_tables()
{
    static const zerr_info_type rows[] = {
        {1, "Invalid argument to the database"},
        {2, "Database out of memory"},
        {3, "No such item in the database"},
        {4, "Database client library is not available"},
        {33, "Database client library is not available"},
    };
    static const zerr_data_type table{2, "nodra", NODRA_ZERR_FACILITY, 5, rows, 0, 0};
    static const zerr_info_type edm_rows[] = {
        {3, "No such operational item"},
    };
    static const zerr_data_type edm_table{2, "nodra_edm", NODRA_EDM_ZERR_FACILITY, 1, edm_rows, 0, 0};
    zerr_register(&table);
    zerr_register(&edm_table);
}

void init_once()
{
    static std::once_flag once;
    std::call_once(once, register_zerr_tables);
}

// Counts the call and takes one injected failure of op, if any. Store lock held.
zerrno enter(store_type &s, nodra_test_op op)
{
    ++s.calls;
    failure_type &f = s.failures[static_cast<size_t>(op)];
    if (f.count == 0)
        return ZERR_OK;
    if (f.after > 0) {
        --f.after;
        return ZERR_OK;
    }
    --f.count;
    return f.err;
}

// An absolute item path: "/" first, no "/" last, no empty element.
bool item_path_valid(std::string_view path)
{
    if (path.size() < 2 || path.front() != '/' || path.back() == '/')
        return false;
    return path.find("//") == std::string_view::npos;
}

// An absolute directory path: "/" first and last, no empty element.
bool dir_path_valid(std::string_view path)
{
    if (path.empty() || path.front() != '/' || path.back() != '/')
        return false;
    return path.find("//") == std::string_view::npos;
}

} // namespace

// ---- client library guard ----------------------------------------------------------------------

const char *nodra_client_library_path()
{
    init_once();
    store_type &s = store();
    {
        std::lock_guard guard(s.lock);
        if (s.library_override)
            return s.library_override->c_str();
    }
    const char *env = getenv("PTP_NODRA_LIB");
    return env != nullptr && env[0] != '\0' ? env : default_client_library;
}

// ---- bindings ----------------------------------------------------------------------------------

zerrno _nodra_bind(nodra_conn_td **conn, const char *path, uint32_t mode)
{
    init_once();
    if (conn == nullptr)
        return NODRA_ERR_INVALID;
    *conn = nullptr;
    store_type &s = store();
    std::lock_guard guard(s.lock);
    if (zerrno err = enter(s, nodra_test_op::bind); err != ZERR_OK)
        return err;
    if (path == nullptr || !dir_path_valid(path))
        return NODRA_ERR_INVALID;
    auto *c = new (std::nothrow) nodra_conn_td{path, mode};
    if (c == nullptr)
        return NODRA_ERR_NO_MEMORY;
    ++s.open_bindings;
    *conn = c;
    return ZERR_OK;
}

zerrno _nodra_unbind(nodra_conn_td *conn)
{
    init_once();
    store_type &s = store();
    std::lock_guard guard(s.lock);
    if (zerrno err = enter(s, nodra_test_op::unbind); err != ZERR_OK)
        return err;
    if (conn == nullptr)
        return NODRA_ERR_INVALID;
    delete conn;
    if (s.open_bindings > 0)
        --s.open_bindings;
    return ZERR_OK;
}

// ---- lists -------------------------------------------------------------------------------------

zerrno nodra_list(nodra_conn_td *conn, const char *path, const char *pattern, uint32_t *count, nodra_list_td **list,
                  uint32_t flags)
{
    (void)flags;
    init_once();
    if (count != nullptr)
        *count = 0;
    if (list != nullptr)
        *list = nullptr;
    store_type &s = store();
    std::lock_guard guard(s.lock);
    if (zerrno err = enter(s, nodra_test_op::list); err != ZERR_OK)
        return err;
    if (conn == nullptr || count == nullptr || list == nullptr)
        return NODRA_ERR_INVALID;

    std::string dir = conn->path;
    if (path != nullptr && path[0] != '\0') {
        if (path[0] == '/')
            return NODRA_ERR_INVALID;
        dir += path;
        if (dir.back() != '/')
            dir += '/';
        if (!dir_path_valid(dir))
            return NODRA_ERR_INVALID;
    }
    const bool filtered = pattern != nullptr && pattern[0] != '\0';

    // A leaf and a subtree of one name may sit apart in path order, so collect into a set.
    std::set<std::string> names;
    for (auto it = s.items.lower_bound(dir); it != s.items.end(); ++it) {
        std::string_view rest(it->first);
        if (!rest.starts_with(dir))
            break;
        rest.remove_prefix(dir.size());
        std::string name(rest.substr(0, rest.find('/')));
        if (filtered && fnmatch(pattern, name.c_str(), 0) != 0)
            continue;
        names.insert(std::move(name));
    }
    if (names.empty())
        return NODRA_ERR_NOT_FOUND;

    auto *l = new (std::nothrow) nodra_list_td{{names.begin(), names.end()}, 0};
    if (l == nullptr)
        return NODRA_ERR_NO_MEMORY;
    ++s.open_lists;
    *count = static_cast<uint32_t>(l->names.size());
    *list = l;
    return ZERR_OK;
}

zerrno nodra_list_next(nodra_list_td *list, const char **name)
{
    init_once();
    if (name != nullptr)
        *name = nullptr;
    store_type &s = store();
    std::lock_guard guard(s.lock);
    if (zerrno err = enter(s, nodra_test_op::list_next); err != ZERR_OK)
        return err;
    if (list == nullptr || name == nullptr)
        return NODRA_ERR_INVALID;
    if (list->next >= list->names.size())
        return NODRA_ERR_NOT_FOUND;
    *name = list->names[list->next++].c_str();
    return ZERR_OK;
}

void nodra_list_free(nodra_list_td *list)
{
    init_once();
    store_type &s = store();
    std::lock_guard guard(s.lock);
    ++s.calls;
    if (list == nullptr)
        return;
    delete list;
    if (s.open_lists > 0)
        --s.open_lists;
}

// ---- test control ------------------------------------------------------------------------------

void nodra_test_reset()
{
    init_once();
    store_type &s = store();
    std::lock_guard guard(s.lock);
    s.items.clear();
    s.library_override.reset();
    s.failures = {};
    s.calls = 0;
}

zerrno nodra_test_item_set(const char *path, uint32_t type, const void *data, uint32_t length)
{
    init_once();
    if (path == nullptr || !item_path_valid(path) || (data == nullptr && length != 0))
        return NODRA_ERR_INVALID;
    const auto *bytes = static_cast<const uint8_t *>(data);
    item_type item{type, length != 0 ? std::vector<uint8_t>(bytes, bytes + length) : std::vector<uint8_t>{}};
    store_type &s = store();
    std::lock_guard guard(s.lock);
    s.items[path] = std::move(item);
    return ZERR_OK;
}

zerrno nodra_test_item_remove(const char *path)
{
    init_once();
    if (path == nullptr || path[0] != '/')
        return NODRA_ERR_INVALID;
    const std::string_view p(path);
    store_type &s = store();
    std::lock_guard guard(s.lock);
    if (p.back() != '/')
        return s.items.erase(std::string(p)) != 0 ? ZERR_OK : NODRA_ERR_NOT_FOUND;
    auto first = s.items.lower_bound(std::string(p));
    auto last = first;
    while (last != s.items.end() && std::string_view(last->first).starts_with(p))
        ++last;
    if (first == last)
        return NODRA_ERR_NOT_FOUND;
    s.items.erase(first, last);
    return ZERR_OK;
}

void nodra_test_set_client_library_path(const char *path)
{
    init_once();
    store_type &s = store();
    std::lock_guard guard(s.lock);
    if (path == nullptr)
        s.library_override.reset();
    else
        s.library_override = path;
}

void nodra_test_fail(nodra_test_op op, zerrno err, uint32_t count, uint32_t after)
{
    const auto i = static_cast<size_t>(op);
    if (i >= op_count)
        return;
    store_type &s = store();
    std::lock_guard guard(s.lock);
    s.failures[i] = {err, count, after};
}

uint32_t nodra_test_call_count()
{
    store_type &s = store();
    std::lock_guard guard(s.lock);
    return s.calls;
}

uint32_t nodra_test_open_bindings()
{
    store_type &s = store();
    std::lock_guard guard(s.lock);
    return s.open_bindings;
}

uint32_t nodra_test_open_lists()
{
    store_type &s = store();
    std::lock_guard guard(s.lock);
    return s.open_lists;
}
