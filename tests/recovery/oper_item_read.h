// Reads one operational item of a running chassis as the operator's tools do: bound, fetched,
// decoded into its record and handed on. For the programs that watch a chassis from outside it.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include "bag.h"
#include "nodra.h"

// One item of dir decoded into its record and handed to use(); false when it could not be read.
template <typename Record, typename Use>
bool read_bag(const std::string &dir, const std::string &name, const bag_descriptor_type *bag, Use use)
{
    nodra_conn_td *conn = nullptr;
    if (_nodra_bind(&conn, dir.c_str(), 6) != 0) {
        return false;
    }
    uint32_t type = NODRA_ITEM_DATATYPE_BAG;
    void *data = nullptr;
    uint32_t length = 0;
    bool ok = false;
    if (nodra_item_get(conn, name.c_str(), &type, &data, &length, 0) == 0 && type == NODRA_ITEM_DATATYPE_BAG) {
        Record r{};
        if (bag_decode(static_cast<const uint8_t *>(data), length, &r, bag) == 0) {
            use(r);
            bag_free_indirections(&r, bag);
            ok = true;
        }
    }
    free(data);
    _nodra_unbind(conn);
    return ok;
}
