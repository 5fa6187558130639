// The back-end dispatch: a path through a schema's node tree to a handler row.
#include "nodra_backend.h"
#include "nodra_schema.h"
#include "nodra_test.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

// One path element: [begin, end) of the path text.
struct span_type {
    size_t begin;
    size_t end;
};

std::vector<span_type> split(std::string_view path)
{
    std::vector<span_type> out;
    size_t i = 0;
    while (i < path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string_view::npos)
            j = path.size();
        out.push_back({i, j});
        i = j + 1;
    }
    return out;
}

bool node_valid(const backend_schema_td *schema, int32_t n)
{
    return n >= 0 && static_cast<uint32_t>(n) < schema->node_count;
}

bool is_key(const backend_node_td &node)
{
    return node.name == nullptr;
}

bool read_uint(std::string_view text, uint32_t *out)
{
    if (text.empty() || text.size() > 10 || text.front() == '-' || text.front() == '+')
        return false;
    std::string copy(text);
    errno = 0;
    char *end = nullptr;
    const unsigned long long v = strtoull(copy.c_str(), &end, copy.starts_with("0x") ? 16 : 10);
    if (errno != 0 || end == copy.c_str() || *end != '\0' || v > 0xffffffffull)
        return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

// The walk of one path through the tree; keys go to args from key index k on.
struct walk_type {
    const backend_schema_td *schema;
    std::string *text; // the path; key texts are cut out of it in place
    const std::vector<span_type> *spans;
    bgen_args_td *args;
    uint32_t k;
    uint32_t steps; // guards against a malformed table's cycles
};

zerrno key_set(walk_type &w, const backend_node_td &node, span_type s)
{
    if (w.k >= BGEN_ARGS_MAX)
        return NODRA_ERR_INVALID;
    const uint32_t k = w.k++;
    std::string_view text = std::string_view(*w.text).substr(s.begin, s.end - s.begin);
    if (text == "-") {
        // Absent: counted, its mask bit stays set.
        if (w.args->count <= k)
            w.args->count = k + 1;
        w.args->keys[k].kind = node.kind;
        return ZERR_OK;
    }
    switch (node.kind) {
    case BGEN_ARG_STRING:
        if (s.end < w.text->size())
            (*w.text)[s.end] = '\0';
        bgen_args_set_string(w.args, k, w.text->c_str() + s.begin);
        return ZERR_OK;
    case BGEN_ARG_UINT: {
        uint32_t v = 0;
        if (!read_uint(text, &v))
            return NODRA_ERR_INVALID;
        bgen_args_set_uint(w.args, k, v);
        return ZERR_OK;
    }
    case BGEN_ARG_IPADDR: {
        const std::string copy(text);
        uint8_t ip[16] = {};
        if (inet_pton(AF_INET, copy.c_str(), ip) == 1)
            bgen_args_set_ip(w.args, k, BGEN_IP_V4, ip);
        else if (inet_pton(AF_INET6, copy.c_str(), ip) == 1)
            bgen_args_set_ip(w.args, k, BGEN_IP_V6, ip);
        else
            return NODRA_ERR_INVALID;
        return ZERR_OK;
    }
    default: return NODRA_ERR_INVALID;
    }
}

// The key-part node among first and its siblings, or -1; INVALID on a malformed table.
zerrno level_find(walk_type &w, int32_t first, std::string_view name, int32_t *named, int32_t *key)
{
    *named = -1;
    *key = -1;
    for (int32_t c = first; c != -1; c = w.schema->nodes[c].next_sibling) {
        if (!node_valid(w.schema, c) || ++w.steps > w.schema->node_count * 4u + 64u)
            return NODRA_ERR_INVALID;
        const backend_node_td &n = w.schema->nodes[c];
        if (is_key(n)) {
            if (*key == -1)
                *key = c;
        } else if (*named == -1 && !name.empty() && name == n.name) {
            *named = c;
        }
    }
    return ZERR_OK;
}

// Walks spans [i, end) from the level whose first node is first; *row on success.
zerrno walk(walk_type &w, size_t i, int32_t first, uint32_t *row)
{
    const backend_schema_td *schema = w.schema;
    const std::vector<span_type> &spans = *w.spans;
    int32_t node = -1;
    while (i < spans.size()) {
        if (first == -1)
            return NODRA_ERR_NOT_FOUND;
        const span_type s = spans[i];
        int32_t named = -1;
        int32_t key = -1;
        if (zerrno err = level_find(w, first, std::string_view(*w.text).substr(s.begin, s.end - s.begin), &named, &key);
            err != ZERR_OK)
            return err;
        if (named != -1) {
            node = named;
            ++i;
        } else if (key != -1) {
            node = key;
            const backend_node_td &n = schema->nodes[key];
            // A text key without children takes the rest of the path.
            const bool rest = n.kind == BGEN_ARG_STRING && n.first_child == -1;
            const span_type taken{s.begin, rest ? spans.back().end : s.end};
            if (zerrno err = key_set(w, n, taken); err != ZERR_OK)
                return err;
            i = rest ? spans.size() : i + 1;
        } else {
            return NODRA_ERR_NOT_FOUND;
        }
        first = schema->nodes[node].first_child;
    }
    // The path ended: absent key levels lead on to a row.
    while (node == -1 || schema->nodes[node].row < 0) {
        int32_t named = -1;
        int32_t key = -1;
        if (first == -1)
            return NODRA_ERR_NOT_FOUND;
        if (zerrno err = level_find(w, first, {}, &named, &key); err != ZERR_OK)
            return err;
        if (key == -1)
            return NODRA_ERR_NOT_FOUND;
        node = key;
        if (w.k >= BGEN_ARGS_MAX)
            return NODRA_ERR_INVALID;
        const uint32_t k = w.k++;
        if (w.args->count <= k)
            w.args->count = k + 1;
        w.args->keys[k].kind = schema->nodes[key].kind;
        first = schema->nodes[node].first_child;
    }
    const int32_t r = schema->nodes[node].row;
    if (static_cast<uint32_t>(r) >= schema->row_count)
        return NODRA_ERR_INVALID;
    *row = static_cast<uint32_t>(r);
    return ZERR_OK;
}

int32_t top_level(const backend_schema_td *schema)
{
    const backend_node_td &n0 = schema->nodes[0];
    return n0.kind == BACKEND_NODE_ROOT && n0.name == nullptr ? n0.first_child : 0;
}

bool value_fits(const backend_row_td &row, const nodra_event_info_td *event)
{
    if ((event->event & (NODRA_EVENT_CREATE | NODRA_EVENT_SET)) == 0 || event->new_data == nullptr)
        return true;
    switch (row.kind) {
    case BACKEND_VALUE_SINGLE: return event->datatype == NODRA_ITEM_DATATYPE_UINT32 && event->new_length == 4;
    case BACKEND_VALUE_NAME:
        return event->datatype == NODRA_ITEM_DATATYPE_STRING || event->datatype == NODRA_ITEM_DATATYPE_NAME;
    case BACKEND_VALUE_TUPLE: return event->datatype == NODRA_ITEM_DATATYPE_PACKED;
    default: return true;
    }
}

// The row of an event's item, its value checked against the row's kind.
zerrno event_row(const backend_schema_td *schema, const nodra_event_info_td *event, const backend_row_td **row,
                 bgen_args_td *args, backend_path_storage_td *storage)
{
    if (event == nullptr || event->path == nullptr)
        return NODRA_ERR_INVALID;
    uint32_t r = 0;
    if (zerrno err = backend_lookup(schema, event->path, &r, args, storage); err != ZERR_OK)
        return err;
    *row = &schema->rows[r];
    return value_fits(**row, event) ? ZERR_OK : NODRA_ERR_INVALID;
}

// Why an item's path or value does not fit its row: what the value must be, so that an operator
// who gave a number where a tuple is wanted learns how to write it.
std::string malformed_text(const backend_row_td *row, const char *path)
{
    std::string text = std::string("Malformed configuration item '") + path + "': ";
    if (row == nullptr)
        return text + "a key part is not of the item's type";
    switch (row->kind) {
    case BACKEND_VALUE_SINGLE: return text + "the value must be a number";
    case BACKEND_VALUE_NAME: return text + "the value must be a text";
    case BACKEND_VALUE_TUPLE:
        return text + "the value must be a tuple " + (row->value_form != nullptr ? row->value_form : "(...)");
    default: return text + "the value is not of the item's type";
    }
}

char *text_dup(const char *fmt, const char *path)
{
    const int n = snprintf(nullptr, 0, fmt, path);
    if (n < 0)
        return nullptr;
    auto *out = static_cast<char *>(malloc(static_cast<size_t>(n) + 1));
    if (out != nullptr)
        snprintf(out, static_cast<size_t>(n) + 1, fmt, path);
    return out;
}

zerrno edm_dispatch(const backend_schema_td *schema, nodra_edm_request_td *request,
                    backend_edm_item_fn backend_row_td::*slot)
{
    if (request == nullptr)
        return NODRA_ERR_INVALID;
    uint32_t r = 0;
    bgen_args_td args;
    backend_path_storage_td storage;
    if (zerrno err = backend_lookup(schema, request->path != nullptr ? request->path : "", &r, &args, &storage);
        err != ZERR_OK)
        return err == NODRA_ERR_NOT_FOUND ? NODRA_ERR_EDM_NOT_FOUND : err;
    backend_edm_item_fn fn = schema->rows[r].*slot;
    if (fn == nullptr)
        return NODRA_ERR_EDM_NOT_FOUND;
    return fn(request, &args);
}

} // namespace

zerrno backend_lookup(const backend_schema_td *schema, const char *path, uint32_t *row, bgen_args_td *args,
                      backend_path_storage_td *storage)
{
    if (schema == nullptr || schema->nodes == nullptr || schema->node_count == 0 || path == nullptr || row == nullptr ||
        args == nullptr || storage == nullptr)
        return NODRA_ERR_INVALID;
    storage->text = path;
    const std::vector<span_type> spans = split(storage->text);
    for (const span_type &s : spans)
        if (s.begin == s.end)
            return NODRA_ERR_INVALID; // an empty element
    const int32_t top = top_level(schema);

    if ((schema->flags & BACKEND_SCHEMA_NAME_PREFIX) == 0) {
        bgen_args_init(args, 0);
        walk_type w{schema, &storage->text, &spans, args, 0, 0};
        zerrno err = walk(w, 0, top, row);
        if (err == ZERR_OK)
            args->bg_ident = schema->rows[*row].bg_ident;
        return err;
    }
    // The name is everything before the schema's own elements: the first split that leads to a row.
    zerrno first_err = NODRA_ERR_NOT_FOUND;
    for (size_t split_at = 1; split_at < spans.size(); ++split_at) {
        storage->text = path;
        bgen_args_init(args, 0);
        walk_type w{schema, &storage->text, &spans, args, 1, 0};
        zerrno err = walk(w, split_at, top, row);
        if (err == ZERR_OK) {
            const span_type name{spans[0].begin, spans[split_at - 1].end};
            if (std::string_view(storage->text).substr(name.begin, name.end - name.begin) != "-") {
                storage->text[name.end] = '\0';
                bgen_args_set_string(args, 0, storage->text.c_str());
            } else if (args->count == 0) {
                args->count = 1;
            }
            args->keys[0].kind = BGEN_ARG_STRING;
            args->bg_ident = schema->rows[*row].bg_ident;
            return ZERR_OK;
        }
        if (first_err == NODRA_ERR_NOT_FOUND)
            first_err = err;
    }
    return first_err;
}

zerrno backend_verifyonly(const backend_schema_td *schema, const nodra_verify_event_info_td *event, char **error_text,
                          nodra_verify_result_td *result, void *context)
{
    const backend_row_td *row = nullptr;
    bgen_args_td args;
    backend_path_storage_td storage;
    zerrno err = event_row(schema, event, &row, &args, &storage);
    if (err != ZERR_OK) {
        if (result != nullptr)
            result->result = NODRA_VERIFY_RESULT_FAIL;
        if (error_text != nullptr && *error_text == nullptr && event != nullptr && event->path != nullptr)
            *error_text = err == NODRA_ERR_NOT_FOUND ? text_dup("Unknown configuration item '%s'", event->path)
                                                     : strdup(malformed_text(row, event->path).c_str());
        return err;
    }
    if (row->verify == nullptr)
        return ZERR_OK;
    return row->verify(event, error_text, result, context, &args);
}

zerrno backend_apply(const backend_schema_td *schema, const nodra_verify_event_info_td *event, void *context)
{
    const backend_row_td *row = nullptr;
    bgen_args_td args;
    backend_path_storage_td storage;
    if (zerrno err = event_row(schema, event, &row, &args, &storage); err != ZERR_OK)
        return err;
    if (row->apply != nullptr)
        return row->apply(event, context, &args);
    if (row->apply_verify_form != nullptr)
        return row->apply_verify_form(event, nullptr, nullptr, context, &args);
    return ZERR_OK;
}

zerrno backend_notify(const backend_schema_td *schema, const nodra_notify_event_info_td *event, void *context)
{
    const backend_row_td *row = nullptr;
    bgen_args_td args;
    backend_path_storage_td storage;
    if (zerrno err = event_row(schema, event, &row, &args, &storage); err != ZERR_OK)
        return err;
    if (row->notify != nullptr)
        row->notify(event, context, &args);
    return ZERR_OK;
}

zerrno backend_notification(const nodra_notify_event_info_td *event, void *context, const void *parse_data)
{
    return backend_notify(static_cast<const backend_schema_td *>(parse_data), event, context);
}

zerrno backend_edm_get(const backend_schema_td *schema, nodra_edm_request_td *request)
{
    return edm_dispatch(schema, request, &backend_row_td::edm_get);
}

zerrno backend_edm_list(const backend_schema_td *schema, nodra_edm_request_td *request)
{
    return edm_dispatch(schema, request, &backend_row_td::edm_list);
}

zerrno backend_edm_datalist(const backend_schema_td *schema, nodra_edm_request_td *request)
{
    return edm_dispatch(schema, request, &backend_row_td::edm_datalist);
}

zerrno backend_edm_set(const backend_schema_td *schema, nodra_edm_request_td *request)
{
    return edm_dispatch(schema, request, &backend_row_td::edm_set);
}

zerrno backend_edm_get_cb(nodra_edm_request_td *request, void *)
{
    return request != nullptr ? backend_edm_get(static_cast<const backend_schema_td *>(request->item_table), request)
                              : NODRA_ERR_INVALID;
}

zerrno backend_edm_list_cb(nodra_edm_request_td *request, void *)
{
    return request != nullptr ? backend_edm_list(static_cast<const backend_schema_td *>(request->item_table), request)
                              : NODRA_ERR_INVALID;
}

zerrno backend_edm_datalist_cb(nodra_edm_request_td *request, void *)
{
    return request != nullptr
               ? backend_edm_datalist(static_cast<const backend_schema_td *>(request->item_table), request)
               : NODRA_ERR_INVALID;
}

zerrno backend_edm_set_cb(nodra_edm_request_td *request, void *)
{
    return request != nullptr ? backend_edm_set(static_cast<const backend_schema_td *>(request->item_table), request)
                              : NODRA_ERR_INVALID;
}

namespace backend_schema_detail {

void malformed_schema_table(const char *reason)
{
    // Reached only by a table the compiler has already refused; kept for the link.
    fprintf(stderr, "malformed schema table: %s\n", reason);
    abort();
}

} // namespace backend_schema_detail

namespace {

std::string name_text(const char *name)
{
    return name != nullptr ? std::string("\"") + name + "\"" : "key";
}

template <typename T>
void differ(std::string *out, const std::string &where, const char *field, T got, T want)
{
    if (got != want) {
        *out += where + " " + field + ": " + std::to_string(got) + ", want " + std::to_string(want) + "\n";
    }
}

void differ_ptr(std::string *out, const std::string &where, const char *field, const void *got, const void *want)
{
    if (got != want) {
        *out += where + " " + field + ": another function or none\n";
    }
}

void differ_text(std::string *out, const std::string &where, const char *field, const char *got, const char *want)
{
    const bool same = (got == nullptr || want == nullptr) ? got == want : std::strcmp(got, want) == 0;
    if (!same) {
        *out += where + " " + field + ": " + name_text(got) + ", want " + name_text(want) + "\n";
    }
}

} // namespace

std::string backend_schema_differences(const backend_schema_td &got, const backend_schema_td &want)
{
    std::string out;
    differ(&out, "schema", "node count", got.node_count, want.node_count);
    differ(&out, "schema", "row count", got.row_count, want.row_count);
    differ(&out, "schema", "flags", got.flags, want.flags);
    for (uint32_t i = 0; i < got.node_count && i < want.node_count; i++) {
        const backend_node_td &g = got.nodes[i];
        const backend_node_td &w = want.nodes[i];
        const std::string where = "node " + std::to_string(i) + " " + name_text(w.name);
        differ_text(&out, where, "name", g.name, w.name);
        differ(&out, where, "reserved", g.reserved, w.reserved);
        differ(&out, where, "kind", g.kind, w.kind);
        differ(&out, where, "first child", g.first_child, w.first_child);
        differ(&out, where, "next sibling", g.next_sibling, w.next_sibling);
        differ(&out, where, "row", g.row, w.row);
        differ(&out, where, "key", g.key, w.key);
        differ(&out, where, "container", g.container, w.container);
    }
    for (uint32_t i = 0; i < got.row_count && i < want.row_count; i++) {
        const backend_row_td &g = got.rows[i];
        const backend_row_td &w = want.rows[i];
        const std::string where = "row " + std::to_string(i);
        differ(&out, where, "kind", g.kind, w.kind);
        differ(&out, where, "bg_ident", g.bg_ident, w.bg_ident);
        differ_ptr(&out, where, "verify", reinterpret_cast<const void *>(g.verify),
                   reinterpret_cast<const void *>(w.verify));
        differ_ptr(&out, where, "apply", reinterpret_cast<const void *>(g.apply),
                   reinterpret_cast<const void *>(w.apply));
        differ_ptr(&out, where, "apply (verify form)", reinterpret_cast<const void *>(g.apply_verify_form),
                   reinterpret_cast<const void *>(w.apply_verify_form));
        differ_ptr(&out, where, "notify", reinterpret_cast<const void *>(g.notify),
                   reinterpret_cast<const void *>(w.notify));
        differ_ptr(&out, where, "edm get", reinterpret_cast<const void *>(g.edm_get),
                   reinterpret_cast<const void *>(w.edm_get));
        differ_ptr(&out, where, "edm list", reinterpret_cast<const void *>(g.edm_list),
                   reinterpret_cast<const void *>(w.edm_list));
        differ_ptr(&out, where, "edm data list", reinterpret_cast<const void *>(g.edm_datalist),
                   reinterpret_cast<const void *>(w.edm_datalist));
        differ_ptr(&out, where, "edm set", reinterpret_cast<const void *>(g.edm_set),
                   reinterpret_cast<const void *>(w.edm_set));
        differ_text(&out, where, "value form", g.value_form, w.value_form);
    }
    return out;
}
