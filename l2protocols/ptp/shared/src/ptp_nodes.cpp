// The list of nodes that run the agent, read from the database.
#include "ptp_nodes.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <optional>

#include "nodra.h"
#include "ptp_debug.h"

namespace {

// Set once the client library was found readable. An absent library is looked for again at the
// next call, so a database that comes up later is seen.
std::atomic<bool> nodes_library_present{false};

bool nodes_library_check()
{
    if (nodes_library_present.load(std::memory_order_relaxed))
        return true;
    if (access(nodra_client_library_path(), R_OK) != 0)
        return false;
    nodes_library_present.store(true, std::memory_order_relaxed);
    return true;
}

// A node id from an entry name: hexadecimal digits only (no sign, prefix or blanks), at most 32
// bits. The names come from other processes, so anything else is not a node of ours.
std::optional<uint32_t> node_id_parse(const char *name)
{
    if (name == nullptr || name[0] == '\0')
        return std::nullopt;
    uint64_t value = 0;
    for (const char *p = name; *p != '\0'; ++p) {
        const char c = *p;
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<uint32_t>(c - 'A' + 10);
        else
            return std::nullopt;
        value = value << 4 | digit;
        if (value > UINT32_MAX)
            return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

// Reads the listing into a new array; on failure frees it and leaves nothing.
zerrno nodes_read(nodra_conn_td *conn, uint32_t **nodes, uint32_t *count)
{
    uint32_t listed = 0;
    nodra_list_td *list = nullptr;
    zerrno err = nodra_list(conn, "", "", &listed, &list, 0);
    if (err == NODRA_ERR_NOT_FOUND)
        return ZERR_OK;
    if (err != ZERR_OK)
        return err;

    uint32_t *ids = nullptr;
    uint32_t found = 0;
    if (listed > 0) {
        ids = static_cast<uint32_t *>(calloc(listed, sizeof *ids));
        if (ids == nullptr)
            err = PTP_ZERR_NOMEM;
    }
    for (uint32_t i = 0; err == ZERR_OK && i < listed; ++i) {
        const char *name = nullptr;
        err = nodra_list_next(list, &name);
        if (err != ZERR_OK)
            break;
        if (std::optional<uint32_t> id = node_id_parse(name))
            ids[found++] = *id;
    }
    nodra_list_free(list);

    if (err != ZERR_OK || found == 0) {
        free(ids);
        return err;
    }
    *nodes = ids;
    *count = found;
    return ZERR_OK;
}

} // namespace

zerrno ptp_nodes_list(uint32_t **nodes, uint32_t *count)
{
    if (nodes == nullptr || count == nullptr)
        return EINVAL;
    *nodes = nullptr;
    *count = 0;
    if (!nodes_library_check())
        return NODRA_ERR_BIND_NO_LIBRARY;

    nodra_conn_td *conn = nullptr;
    zerrno err = _nodra_bind(&conn, "/oper/ptp/node/", 4);
    if (err != ZERR_OK)
        return err;
    err = nodes_read(conn, nodes, count);
    // The list is complete by now; a failed unbind leaves nothing for us to undo.
    (void)_nodra_unbind(conn);
    return err;
}
