// The schema builder: the tree, key parts and rows it derives from an item table, and the dispatch
// through what it derives.
#include "nodra_schema.h"

#include <gtest/gtest.h>

#include "nodra_test.h"

namespace {

zerrno verify_a(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *, const bgen_args_td *)
{
    return 0;
}
zerrno verify_b(const nodra_verify_event_info_td *, char **, nodra_verify_result_td *, void *, const bgen_args_td *)
{
    return 0;
}
void notify_a(const nodra_notify_event_info_td *, void *, const bgen_args_td *) {}

// A subtree two schemas share, declared once below where it hangs.
constexpr auto shared_items = std::to_array<backend_item_td>({
    {"table/<u>/<s>/<ip>/enable", {.kind = BACKEND_VALUE_NONE, .bg_ident = 7}},
    {"table/<u>/<s>/<ip>/delay", {.kind = BACKEND_VALUE_TUPLE, .value_form = "(unit,value)"}},
});

constexpr auto items = std::to_array<backend_item_td>({
    {"a/enable", {.kind = BACKEND_VALUE_SINGLE, .verify = verify_a}},
    {"a/clock/profile", {.kind = BACKEND_VALUE_TUPLE}, nullptr, 5}, // swapped with a/map/<u>
    {"a/date/<s>", {.verify = verify_b}},
    backend_item_mount("a/profile/<s>/", shared_items[0], {.kind = BACKEND_VALUE_SINGLE, .verify = verify_a}),
    backend_item_mount("a/profile/<s>/", shared_items[1], {.verify = verify_b}),
    {"a/map/<u>", {.kind = BACKEND_VALUE_SINGLE}, nullptr, 1}, // swapped with a/clock/profile
    backend_item_mount_notify("b/", shared_items[1], notify_a),
});
using built = backend_schema_of<items>;
using built_rooted = backend_schema_of<items, backend_schema_options_td{.root = true, .leaf_key_container = 2}>;

constexpr int32_t NONE = -1;
constexpr uint32_t NAMED = BACKEND_NODE_NAMED;

// clang-format off
const backend_node_td want_nodes[] = {
    // name, 0, kind, first child, next sibling, row, key, container
    {"a", 0, NAMED, 1, 16, NONE, 0, 1},                 // 0
    {"enable", 0, NAMED, NONE, 2, 0, 0, 0},             // 1
    {"clock", 0, NAMED, 3, 4, NONE, 0, 1},              // 2
    {"profile", 0, NAMED, NONE, NONE, 5, 0, 0},         // 3
    {"date", 0, NAMED, 5, 6, NONE, 0, 1},               // 4
    {nullptr, 0, BGEN_ARG_STRING, NONE, NONE, 2, 1, 1}, // 5 a key that ends a path
    {"profile", 0, NAMED, 7, 14, NONE, 0, 1},           // 6
    {nullptr, 0, BGEN_ARG_STRING, 8, NONE, NONE, 1, 1}, // 7 a key above named nodes
    {"table", 0, NAMED, 9, NONE, NONE, 0, 1},           // 8
    {nullptr, 0, BGEN_ARG_UINT, 10, NONE, NONE, 1, 2},  // 9 a key above a key
    {nullptr, 0, BGEN_ARG_STRING, 11, NONE, NONE, 1, 2},// 10
    {nullptr, 0, BGEN_ARG_IPADDR, 12, NONE, NONE, 1, 1},// 11
    {"enable", 0, NAMED, NONE, 13, 3, 0, 0},            // 12
    {"delay", 0, NAMED, NONE, NONE, 4, 0, 0},           // 13
    {"map", 0, NAMED, 15, NONE, NONE, 0, 1},            // 14
    {nullptr, 0, BGEN_ARG_UINT, NONE, NONE, 1, 1, 1},   // 15
    {"b", 0, NAMED, 17, NONE, NONE, 0, 1},              // 16
    {"table", 0, NAMED, 18, NONE, NONE, 0, 1},          // 17
    {nullptr, 0, BGEN_ARG_UINT, 19, NONE, NONE, 1, 2},  // 18
    {nullptr, 0, BGEN_ARG_STRING, 20, NONE, NONE, 1, 2},// 19
    {nullptr, 0, BGEN_ARG_IPADDR, 21, NONE, NONE, 1, 1},// 20
    {"delay", 0, NAMED, NONE, NONE, 6, 0, 0},           // 21
};
const backend_row_td want_rows[] = {
    {.kind = BACKEND_VALUE_SINGLE, .verify = verify_a},                // 0 a/enable
    {.kind = BACKEND_VALUE_SINGLE},                                    // 1 a/map/<u>, numbered 1
    {.verify = verify_b},                                              // 2 a/date/<s>
    {.kind = BACKEND_VALUE_SINGLE, .bg_ident = 7, .verify = verify_a}, // 3 the stricter kind asked for
    {.kind = BACKEND_VALUE_TUPLE, .verify = verify_b, .value_form = "(unit,value)"}, // 4
    {.kind = BACKEND_VALUE_TUPLE},                                     // 5 a/clock/profile, numbered 5
    {.kind = BACKEND_VALUE_TUPLE, .notify = notify_a},                 // 6 notify: no written form
};
// clang-format on

TEST(NodraSchema, DerivesTheTreeKeyPartsAndRowsFromTheItemTable)
{
    const backend_schema_td want{want_nodes, std::size(want_nodes), want_rows, std::size(want_rows), 0};
    EXPECT_EQ(backend_schema_differences(built::schema, want), "");

    // With a root: the same tree one node down, below an unnamed root; a key that ends a path
    // marked as a table.
    const backend_schema_td &rooted = built_rooted::schema;
    ASSERT_EQ(rooted.node_count, std::size(want_nodes) + 1);
    const backend_node_td root{nullptr, 0, BACKEND_NODE_ROOT, 1, NONE, NONE, 0, 1};
    const backend_schema_td want_root{&root, 1, want_rows, std::size(want_rows), 0};
    const backend_schema_td got_root{rooted.nodes, 1, rooted.rows, rooted.row_count, 0};
    EXPECT_EQ(backend_schema_differences(got_root, want_root), "");
    EXPECT_EQ(rooted.nodes[6].container, 2u);
    EXPECT_EQ(rooted.nodes[16].container, 2u);
    EXPECT_EQ(rooted.nodes[12].container, 1u);

    EXPECT_STREQ(built::paths[3], "a/profile/<s>/table/<u>/<s>/<ip>/enable");
    EXPECT_STREQ(built::paths[6], "b/table/<u>/<s>/<ip>/delay");
}

TEST(NodraSchema, EveryItemPathLeadsToItsRowWithItsKeys)
{
    struct case_type {
        const char *path;
        uint32_t row;
        uint32_t key_count;
    } const cases[] = {
        {"a/enable", 0, 0},
        {"a/clock/profile", 5, 0},
        {"a/date/2026-12-31", 2, 1},
        {"a/profile/p1/table/2/-/10.0.0.1/enable", 3, 4},
        {"a/profile/p1/table/3/-/2001:db8::1/delay", 4, 4},
        {"a/map/6", 1, 1},
        {"b/table/1/0.0.0/-/delay", 6, 3},
    };
    for (const backend_schema_td *schema : {&built::schema, &built_rooted::schema}) {
        for (const case_type &c : cases) {
            uint32_t row = 99;
            bgen_args_td args;
            backend_path_storage_td storage;
            ASSERT_EQ(backend_lookup(schema, c.path, &row, &args, &storage), 0u) << c.path;
            EXPECT_EQ(row, c.row) << c.path;
            EXPECT_EQ(args.count, c.key_count) << c.path;
            EXPECT_EQ(args.bg_ident, schema->rows[row].bg_ident) << c.path;
        }
    }
}

} // namespace
