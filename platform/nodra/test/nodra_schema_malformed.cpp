// Item tables the builder must refuse at compile time, one per MALFORMED_CASE: each test compiles
// this file with its case and passes when the compiler stops.
#include "nodra_schema.h"

namespace {

constexpr auto items = std::to_array<backend_item_td>({
    {"a/enable", {}},
#if MALFORMED_CASE == 1
        {"a//priority", {}}, // an empty element
#elif MALFORMED_CASE == 2
        {"a/map/<x>", {}}, // a key part of no type
#elif MALFORMED_CASE == 3
        {"a/enable", {}}, // one path twice
#elif MALFORMED_CASE == 4
        {"a/priority/", {}}, // a path that ends with a slash
#elif MALFORMED_CASE == 5
        {"a/priority", {}, nullptr, 0}, // a row given twice (row 0 is a/enable's place)
#elif MALFORMED_CASE == 6
        {"a/map/<s>", {}}, // two key parts of different types at one level
        {"a/map/<u>", {}},
#endif
});

} // namespace

const backend_schema_td *schema = &backend_schema_of<items>::schema;
