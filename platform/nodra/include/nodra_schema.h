// A schema written as a table of items: each item once, as its path and its handler row. The node
// tree, its key parts and the row numbers are derived from the table when the program is compiled,
// so that an item added is one line of the table and a malformed path fails the build.
//
// A path is its elements joined by "/", relative to the registration's binding; a key part is
// written as its type: "<s>" a text (BGEN_ARG_STRING), "<u>" a number (BGEN_ARG_UINT), "<ip>" an IP
// address (BGEN_ARG_IPADDR). An item's row is its place in the table. Nodes are made in the order
// their paths first name them, each new one the last child of its parent.
//
//   constexpr backend_item_td items[] = {
//       {"ptp/pi/enable", {.kind = BACKEND_VALUE_NONE, .notify = enable_fn}},
//       {"ptp/pi/profile/<s>/transport", {.kind = BACKEND_VALUE_SINGLE, .notify = transport_fn}},
//   };
//   const backend_schema_td schema = backend_schema_of<items>::schema;
//
// A subtree that several schemas share is declared once, its paths relative to where it hangs,
// and mounted by each schema below its own prefix with its own handlers (backend_item_mount).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <tuple>
#include <type_traits>

#include "nodra_backend.h"

struct backend_item_td {
    const char *path = nullptr;
    backend_row_td row{};
    // Written before path (a mounted subtree's place); null: none.
    const char *prefix = nullptr;
    // The item's row when it is not its place in the table (a layout that others already number);
    // -1: its place.
    int32_t row_index = -1;
};

// How the tree is written out.
struct backend_schema_options_td {
    // An unnamed root (BACKEND_NODE_ROOT) above the top-level elements.
    bool root = false;
    uint32_t flags = 0; // BACKEND_SCHEMA_*
    // The container flag of a key part that ends a path (1 "the last key part", or 2 "a table").
    uint32_t leaf_key_container = 1;
};

// The item declared by a shared subtree, mounted below prefix with a schema's own handlers: the
// value kind, the identifier and the value's written form come from the declaration. A schema may
// ask for a stricter value kind than the declaration's (handlers.kind other than 0). row_index: as
// for any item.
constexpr backend_item_td backend_item_mount(const char *prefix, const backend_item_td &declared,
                                             backend_row_td handlers, int32_t row_index = -1)
{
    backend_row_td row = handlers;
    row.kind = handlers.kind != BACKEND_VALUE_NONE ? handlers.kind : declared.row.kind;
    row.bg_ident = declared.row.bg_ident;
    row.value_form = declared.row.value_form;
    return backend_item_td{declared.path, row, prefix, row_index};
}
// The same for a schema whose rows only notify: no written form, which only a verify's refusal
// shows.
constexpr backend_item_td backend_item_mount_notify(const char *prefix, const backend_item_td &declared,
                                                    backend_notify_fn notify, int32_t row_index = -1)
{
    const backend_row_td row{.kind = declared.row.kind, .bg_ident = declared.row.bg_ident, .notify = notify};
    return backend_item_td{declared.path, row, prefix, row_index};
}

namespace backend_schema_detail {

// Called only where a table is malformed: it is not constexpr, so the compiler stops there and
// names the reason.
void malformed_schema_table(const char *reason);

inline constexpr size_t MAX_DEPTH = 16;

struct elements_type {
    std::array<std::string_view, MAX_DEPTH> at{};
    size_t count = 0;
};

constexpr void split_into(elements_type &out, std::string_view text)
{
    while (!text.empty()) {
        const size_t slash = text.find('/');
        const std::string_view element = text.substr(0, slash);
        if (element.empty()) {
            malformed_schema_table("an empty path element");
        }
        if (out.count == MAX_DEPTH) {
            malformed_schema_table("a path deeper than the builder takes");
        }
        out.at[out.count++] = element;
        if (slash == std::string_view::npos) {
            break;
        }
        text.remove_prefix(slash + 1);
        if (text.empty()) {
            malformed_schema_table("a path that ends with a slash");
        }
    }
}

constexpr elements_type elements_of(const backend_item_td &item)
{
    if (item.path == nullptr || item.path[0] == '\0') {
        malformed_schema_table("an item without a path");
    }
    elements_type out;
    if (item.prefix != nullptr) {
        std::string_view prefix = item.prefix;
        if (!prefix.ends_with('/')) {
            malformed_schema_table("a prefix that does not end with a slash");
        }
        prefix.remove_suffix(1);
        split_into(out, prefix);
    }
    split_into(out, item.path);
    return out;
}

constexpr uint32_t kind_of(std::string_view element)
{
    if (element == "<s>") {
        return BGEN_ARG_STRING;
    }
    if (element == "<u>") {
        return BGEN_ARG_UINT;
    }
    if (element == "<ip>") {
        return BGEN_ARG_IPADDR;
    }
    if (element.starts_with('<') || element.ends_with('>')) {
        malformed_schema_table("a key part that is none of <s>, <u>, <ip>");
    }
    return BACKEND_NODE_NAMED;
}

// A node while the tree is built: its name is an element of an item's path.
struct draft_node_type {
    std::string_view name;
    uint32_t kind = BACKEND_NODE_NAMED;
    int32_t first_child = -1;
    int32_t last_child = -1;
    int32_t next_sibling = -1;
    int32_t row = -1;
};

template <size_t Capacity>
struct draft_type {
    std::array<draft_node_type, Capacity> nodes{};
    size_t count = 0;
    size_t name_chars = 0; // each named node's name and its terminating zero
};

// The child of parent for element, made when missing (parent -1: the top level).
template <size_t Capacity>
constexpr int32_t child_of(draft_type<Capacity> &d, int32_t parent, std::string_view element)
{
    const uint32_t kind = kind_of(element);
    int32_t first = parent < 0 ? (d.count > 0 ? 0 : -1) : d.nodes[static_cast<size_t>(parent)].first_child;
    int32_t last = -1;
    for (int32_t c = first; c >= 0; c = d.nodes[static_cast<size_t>(c)].next_sibling) {
        const draft_node_type &n = d.nodes[static_cast<size_t>(c)];
        if (n.kind == kind && (kind != BACKEND_NODE_NAMED || n.name == element)) {
            return c;
        }
        if (kind != BACKEND_NODE_NAMED && n.kind != BACKEND_NODE_NAMED) {
            malformed_schema_table("two key parts of different types at one level");
        }
        last = c;
    }
    const auto index = static_cast<int32_t>(d.count);
    draft_node_type &node = d.nodes[d.count++];
    node.name = element;
    node.kind = kind;
    if (kind == BACKEND_NODE_NAMED) {
        d.name_chars += element.size() + 1;
    }
    if (last >= 0) {
        d.nodes[static_cast<size_t>(last)].next_sibling = index;
    } else if (parent >= 0) {
        d.nodes[static_cast<size_t>(parent)].first_child = index;
    }
    return index;
}

template <size_t Capacity, typename Table>
constexpr draft_type<Capacity> draft(const Table &items, bool root)
{
    draft_type<Capacity> d;
    int32_t top = -1;
    if (root) {
        d.nodes[d.count++].kind = BACKEND_NODE_ROOT;
        top = 0;
    }
    constexpr size_t N = std::tuple_size_v<Table>;
    std::array<bool, N> row_taken{};
    for (size_t i = 0; i < N; i++) {
        const elements_type path = elements_of(items[i]);
        int32_t node = top;
        for (size_t e = 0; e < path.count; e++) {
            node = child_of(d, node, path.at[e]);
        }
        const int32_t row = items[i].row_index >= 0 ? items[i].row_index : static_cast<int32_t>(i);
        if (static_cast<size_t>(row) >= N || row_taken[static_cast<size_t>(row)]) {
            malformed_schema_table("a row number out of the table or given twice");
        }
        row_taken[static_cast<size_t>(row)] = true;
        if (d.nodes[static_cast<size_t>(node)].row >= 0) {
            malformed_schema_table("two items of one path");
        }
        d.nodes[static_cast<size_t>(node)].row = row;
    }
    return d;
}

template <typename Table>
constexpr size_t capacity_for(const Table &items)
{
    size_t elements = 1;
    for (const backend_item_td &item : items) {
        elements += elements_of(item).count;
    }
    return elements;
}

// The node table and the names it points to, built from the table at Items.
template <const auto &Items, backend_schema_options_td Options>
struct built_type {
    static constexpr size_t N = std::tuple_size_v<std::remove_cvref_t<decltype(Items)>>;
    static constexpr size_t CAPACITY = capacity_for(Items);
    static constexpr auto DRAFT = draft<CAPACITY>(Items, Options.root);
    static constexpr size_t NODE_COUNT = DRAFT.count;

    static constexpr std::array<char, DRAFT.name_chars + 1> make_names()
    {
        std::array<char, DRAFT.name_chars + 1> out{};
        size_t at = 0;
        for (size_t i = 0; i < DRAFT.count; i++) {
            const draft_node_type &n = DRAFT.nodes[i];
            if (n.kind == BACKEND_NODE_NAMED) {
                for (char c : n.name) {
                    out[at++] = c;
                }
                out[at++] = '\0';
            }
        }
        return out;
    }
    static constexpr auto NAMES = make_names();

    static constexpr uint32_t container_of(const draft_node_type &n)
    {
        if (n.kind == BACKEND_NODE_ROOT) {
            return 1;
        }
        if (n.kind == BACKEND_NODE_NAMED) {
            return n.first_child >= 0 ? 1 : 0;
        }
        if (n.first_child < 0) {
            return Options.leaf_key_container;
        }
        return DRAFT.nodes[static_cast<size_t>(n.first_child)].kind == BACKEND_NODE_NAMED ? 1 : 2;
    }

    static constexpr std::array<backend_node_td, NODE_COUNT> make_nodes()
    {
        std::array<backend_node_td, NODE_COUNT> out{};
        size_t at = 0;
        for (size_t i = 0; i < NODE_COUNT; i++) {
            const draft_node_type &n = DRAFT.nodes[i];
            const bool named = n.kind == BACKEND_NODE_NAMED;
            out[i] = backend_node_td{named ? &NAMES[at] : nullptr,
                                     0,
                                     n.kind,
                                     n.first_child,
                                     n.next_sibling,
                                     n.row,
                                     n.kind != BACKEND_NODE_NAMED && n.kind != BACKEND_NODE_ROOT ? 1u : 0u,
                                     container_of(n)};
            if (named) {
                at += n.name.size() + 1;
            }
        }
        return out;
    }
    static constexpr auto NODES = make_nodes();

    static constexpr std::array<backend_row_td, N> make_rows()
    {
        std::array<backend_row_td, N> out{};
        for (size_t i = 0; i < N; i++) {
            out[Items[i].row_index >= 0 ? static_cast<size_t>(Items[i].row_index) : i] = Items[i].row;
        }
        return out;
    }
    static constexpr auto ROWS = make_rows();

    // Each item's whole path, prefix and path in one text, in table order.
    static constexpr size_t path_chars()
    {
        size_t n = 0;
        for (const backend_item_td &item : Items) {
            n += (item.prefix != nullptr ? std::string_view(item.prefix).size() : 0) +
                 std::string_view(item.path).size() + 1;
        }
        return n;
    }
    static constexpr std::array<char, path_chars()> make_path_text()
    {
        std::array<char, path_chars()> out{};
        size_t at = 0;
        for (const backend_item_td &item : Items) {
            for (const char *part : {item.prefix, item.path}) {
                for (const char *c = part; c != nullptr && *c != '\0'; c++) {
                    out[at++] = *c;
                }
            }
            out[at++] = '\0';
        }
        return out;
    }
    static constexpr auto PATH_TEXT = make_path_text();
    static constexpr std::array<const char *, N> make_paths()
    {
        std::array<const char *, N> out{};
        size_t at = 0;
        for (size_t i = 0; i < N; i++) {
            out[i] = &PATH_TEXT[at];
            at += (Items[i].prefix != nullptr ? std::string_view(Items[i].prefix).size() : 0) +
                  std::string_view(Items[i].path).size() + 1;
        }
        return out;
    }
    static constexpr auto PATHS = make_paths();
};

} // namespace backend_schema_detail

// The schema of the item table at Items (a constexpr std::array<backend_item_td, N> of static
// storage, std::to_array or backend_items_join): ::schema, and ::nodes, ::rows and ::paths.
template <const auto &Items, backend_schema_options_td Options = backend_schema_options_td{}>
struct backend_schema_of {
    using built = backend_schema_detail::built_type<Items, Options>;
    static constexpr const auto &nodes = built::NODES;
    static constexpr const auto &rows = built::ROWS;
    // paths[i]: item i's whole path (its prefix and path), as a text.
    static constexpr const auto &paths = built::PATHS;
    static constexpr backend_schema_td schema{nodes.data(), static_cast<uint32_t>(nodes.size()), rows.data(),
                                              static_cast<uint32_t>(rows.size()), Options.flags};
};

// Concatenates item tables (a schema's own items and the subtrees it mounts), in order.
template <size_t... N>
constexpr std::array<backend_item_td, (N + ...)> backend_items_join(const std::array<backend_item_td, N> &...parts)
{
    std::array<backend_item_td, (N + ...)> out{};
    size_t at = 0;
    (([&] {
         for (const backend_item_td &item : parts) {
             out[at++] = item;
         }
     }()),
     ...);
    return out;
}

// items with item `at` numbered `row` (a layout numbered otherwise than in table order).
template <size_t N>
constexpr std::array<backend_item_td, N> backend_items_renumber(std::array<backend_item_td, N> items, size_t at,
                                                                int32_t row)
{
    items[at].row_index = row;
    return items;
}
