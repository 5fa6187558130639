// Configuration items for the controller's tests: values as the database holds them, and item
// events handed to the real configuration module through its schema, as the database's
// notification would carry them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "nodra.h"
#include "nodra_backend.h"
#include "quorrin_cfg.h"
#include "tuple.h"

namespace {

// An item's value as the database holds it.
struct cfg_value_type {
    uint32_t type = 0; // 0: no value
    std::vector<uint8_t> bytes;
};

inline cfg_value_type cfg_none()
{
    return {};
}

inline cfg_value_type cfg_number(uint32_t v)
{
    cfg_value_type out{NODRA_ITEM_DATATYPE_UINT32, std::vector<uint8_t>(4)};
    std::memcpy(out.bytes.data(), &v, 4);
    return out;
}

template <typename... Args>
cfg_value_type cfg_tuple(const char *fmt, uint32_t mask, Args... args)
{
    tuple_type *t = nullptr;
    EXPECT_EQ(tuple_pack_mask(&t, fmt, mask, args...), 0u);
    const auto *p = reinterpret_cast<const uint8_t *>(t);
    cfg_value_type out{NODRA_ITEM_DATATYPE_PACKED, std::vector<uint8_t>(p, p + tuple_size(t))};
    tuple_free(t);
    return out;
}

// One item event through the controller's schema, as the database's notification would carry it.
inline void cfg_notify(const char *path, uint32_t event, const cfg_value_type &new_value,
                       const cfg_value_type &old_value = {})
{
    nodra_notify_event_info_td e{};
    e.path = path;
    e.event = event;
    e.datatype = new_value.type != 0 ? new_value.type : old_value.type;
    if (old_value.type != 0) {
        e.old_data = old_value.bytes.data();
        e.old_length = static_cast<uint32_t>(old_value.bytes.size());
    }
    if (new_value.type != 0 && (event & NODRA_EVENT_DELETE) == 0) {
        e.new_data = new_value.bytes.data();
        e.new_length = static_cast<uint32_t>(new_value.bytes.size());
    }
    uint32_t word = 0;
    EXPECT_EQ(backend_notify(quorrin_cfg_schema(), &e, &word), 0u) << path;
}

inline void cfg_create(const char *path, const cfg_value_type &v)
{
    cfg_notify(path, NODRA_EVENT_CREATE, v);
}

inline void cfg_remove(const char *path, const cfg_value_type &old_value)
{
    cfg_notify(path, NODRA_EVENT_DELETE, cfg_none(), old_value);
}

} // namespace
