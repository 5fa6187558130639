// The operator's command language: set, delete, commit, show config, get, list, datalist, action.
#include "nodra_cli.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "bag.h"
#include "nodra.h"
#include "plat_cli.h"
#include "tuple.h"

namespace {

struct value_type {
    uint32_t type;
    std::vector<uint8_t> bytes;
};

// The length of the well-formed UTF-8 sequence at text[i], 0 when there is none.
size_t utf8_length(std::string_view text, size_t i)
{
    const auto at = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = at(i);
    if (c < 0x80)
        return 1;
    size_t n = 0;
    uint32_t code = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        code = c & 0x1Fu;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        code = c & 0x0Fu;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        code = c & 0x07u;
    } else {
        return 0;
    }
    if (i + n > text.size())
        return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((at(i + k) & 0xC0u) != 0x80)
            return 0;
        code = code << 6 | (at(i + k) & 0x3Fu);
    }
    // No overlong form, no surrogate, nothing above the last code point.
    constexpr uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[n] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return 0;
    return n;
}

bool utf8_valid(std::string_view text)
{
    for (size_t i = 0; i < text.size();) {
        const size_t n = utf8_length(text, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

// At most this many bytes of the input are echoed in an error line.
constexpr size_t ECHO_MAX = 200;

// Input as an error line shows it: control characters and bytes that are not UTF-8 as \xNN, and
// a long input cut, with its length, so that an error never echoes back more than a line.
std::string echo(std::string_view text)
{
    std::string out;
    char hex[8];
    size_t i = 0;
    while (i < text.size() && i < ECHO_MAX) {
        const size_t n = utf8_length(text, i);
        const auto c = static_cast<unsigned char>(text[i]);
        if (n == 0 || c < 0x20 || c == 0x7F) {
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
            ++i;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    if (i < text.size())
        out += "... (" + std::to_string(text.size()) + " bytes)";
    return out;
}

// A command's words: blanks separate them, except inside "..." and a (...) tuple.
bool tokenize(const std::string &line, std::vector<std::string> *words, std::string *error)
{
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t') {
            ++i;
            continue;
        }
        std::string word;
        int depth = 0;
        bool quoted = false;
        for (; i < line.size(); ++i) {
            const char c = line[i];
            if (quoted) {
                word += c;
                if (c == '\\' && i + 1 < line.size())
                    word += line[++i];
                else if (c == '"')
                    quoted = false;
                continue;
            }
            if ((c == ' ' || c == '\t') && depth == 0)
                break;
            if (c == '"')
                quoted = true;
            else if (c == '(')
                ++depth;
            else if (c == ')' && depth > 0)
                --depth;
            word += c;
        }
        if (quoted) {
            *error = "unterminated text";
            return false;
        }
        if (depth > 0) {
            *error = "unterminated tuple";
            return false;
        }
        words->push_back(std::move(word));
    }
    return true;
}

// A decimal or 0x number up to 32 bits; nullopt for anything else.
std::optional<uint32_t> parse_number(const std::string &text)
{
    if (text.empty())
        return std::nullopt;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    uint64_t v = 0;
    for (size_t i = hex ? 2 : 0; i < text.size(); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        v = v * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (v > UINT32_MAX)
            return std::nullopt;
    }
    return static_cast<uint32_t>(v);
}

bool unquote(const std::string &text, std::string *out)
{
    if (text.size() < 2 || text.front() != '"' || text.back() != '"')
        return false;
    out->clear();
    for (size_t i = 1; i + 1 < text.size(); ++i) {
        if (text[i] == '\\' && i + 2 < text.size())
            ++i;
        else if (text[i] == '"')
            return false;
        *out += text[i];
    }
    return true;
}

// A scalar: number, quoted text or bare text. Anything that starts like a number must be one.
bool parse_scalar(const std::string &text, tuple_field_type *field, std::string *error)
{
    if (text.front() == '"') {
        field->kind = 2;
        if (!unquote(text, &field->text)) {
            *error = "malformed text " + echo(text);
            return false;
        }
        return true;
    }
    if (text.front() >= '0' && text.front() <= '9') {
        const std::optional<uint32_t> v = parse_number(text);
        if (!v) {
            *error = "malformed number " + echo(text);
            return false;
        }
        *field = {1, *v, {}};
        return true;
    }
    if (text.find_first_of("(),\"") != std::string::npos) {
        *error = "malformed value " + echo(text);
        return false;
    }
    *field = {2, 0, text};
    return true;
}

bool parse_value(const std::string &text, value_type *value, std::string *error)
{
    if (text.front() == '(') {
        if (text.back() != ')') {
            *error = "malformed tuple " + echo(text);
            return false;
        }
        std::vector<tuple_field_type> fields;
        const std::string inner = text.substr(1, text.size() - 2);
        size_t start = 0;
        bool quoted = false;
        for (size_t i = 0; i <= inner.size(); ++i) {
            if (i < inner.size() && inner[i] == '"' && (i == 0 || inner[i - 1] != '\\'))
                quoted = !quoted;
            if (i < inner.size() && (quoted || inner[i] != ','))
                continue;
            std::string part = inner.substr(start, i - start);
            while (!part.empty() && part.front() == ' ')
                part.erase(part.begin());
            while (!part.empty() && part.back() == ' ')
                part.pop_back();
            tuple_field_type f{0, 0, {}};
            if (!part.empty() && !parse_scalar(part, &f, error))
                return false;
            fields.push_back(std::move(f));
            start = i + 1;
        }
        value->type = NODRA_ITEM_DATATYPE_PACKED;
        if (tuple_pack_fields(fields, &value->bytes) != ZERR_OK) {
            *error = "malformed tuple " + echo(text);
            return false;
        }
        return true;
    }
    tuple_field_type f{0, 0, {}};
    if (!parse_scalar(text, &f, error))
        return false;
    if (f.kind == 1) {
        value->type = NODRA_ITEM_DATATYPE_UINT32;
        value->bytes.resize(4);
        memcpy(value->bytes.data(), &f.number, 4);
    } else {
        value->type = NODRA_ITEM_DATATYPE_STRING;
        value->bytes.assign(f.text.begin(), f.text.end());
    }
    return true;
}

std::string text_form(const std::string &text)
{
    bool bare = !text.empty() && !(text.front() >= '0' && text.front() <= '9');
    for (char c : text)
        if (c == ' ' || c == '\t' || c == '"' || c == '(' || c == ')' || c == ',' || c == '\\')
            bare = false;
    if (bare)
        return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// A value in the syntax it is written in.
std::string value_form(uint32_t type, const void *data, uint32_t length)
{
    const auto *b = static_cast<const uint8_t *>(data);
    if (type == NODRA_ITEM_DATATYPE_UINT32 && length == 4) {
        uint32_t v;
        memcpy(&v, data, 4);
        return std::to_string(v);
    }
    if (type == NODRA_ITEM_DATATYPE_STRING)
        return text_form(std::string(reinterpret_cast<const char *>(b), length));
    std::vector<tuple_field_type> fields;
    if (type == NODRA_ITEM_DATATYPE_PACKED && tuple_read_fields(data, length, &fields) == ZERR_OK) {
        std::string out = "(";
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i > 0)
                out += ",";
            if (fields[i].kind == 1)
                out += std::to_string(fields[i].number);
            else if (fields[i].kind == 2)
                out += text_form(fields[i].text);
        }
        return out + ")";
    }
    std::string hex = "0x";
    char buf[4];
    for (uint32_t i = 0; i < length; ++i) {
        snprintf(buf, sizeof buf, "%02x", b[i]);
        hex += buf;
    }
    return "<type " + std::to_string(type) + " " + hex + ">";
}

std::string code_text(zerrno code)
{
    char buf[16];
    snprintf(buf, sizeof buf, "0x%08x", code);
    return buf;
}

bool item_path_ok(const std::string &path)
{
    return path.size() >= 2 && path.front() == '/' && path.back() != '/' && path.find("//") == std::string::npos;
}

// Bags as their bytes instead of their fields (nodra_cli_show_bags_as_hex).
bool bags_as_hex = false;

// An operational value as text: a bag through its description, anything else as written.
std::string oper_form(uint32_t type, const void *data, uint32_t length, const std::string &indent)
{
    std::string text;
    if (type == NODRA_ITEM_DATATYPE_BAG && !bags_as_hex &&
        bag_to_text(static_cast<const uint8_t *>(data), length, &text) == ZERR_OK) {
        std::string out;
        size_t start = 0;
        while (start < text.size()) {
            const size_t nl = text.find('\n', start);
            out += indent + text.substr(start, nl - start) + "\n";
            start = nl + 1;
        }
        return out;
    }
    return indent + value_form(type, data, length) + "\n";
}

// Splits an absolute path into its directory (bound) and last element.
bool split_path(const std::string &path, std::string *dir, std::string *name)
{
    if (path.size() < 2 || path.front() != '/')
        return false;
    std::string p = path;
    if (p.back() == '/')
        p.pop_back();
    const size_t slash = p.rfind('/');
    *dir = p.substr(0, slash + 1);
    *name = p.substr(slash + 1);
    return !name->empty();
}

} // namespace

struct nodra_cli_type {
    nodra_commit_td *staged = nullptr;
    std::vector<std::string> staged_sets; // paths set in the staged commit
    std::string *out;
};

namespace {

void error_line(nodra_cli_type *cli, const std::string &input, const std::string &reason)
{
    *cli->out += "error: " + echo(input) + ": " + reason + "\n";
}

// Why a path cannot name an item; empty when it can.
std::string item_path_fault(const std::string &path)
{
    if (path.size() > NODRA_ITEM_PATH_MAX)
        return "item path longer than " + std::to_string(NODRA_ITEM_PATH_MAX) + " bytes";
    return item_path_ok(path) ? std::string() : "not an absolute item path";
}

bool stage(nodra_cli_type *cli)
{
    if (cli->staged == nullptr && nodra_commit_create(&cli->staged) != ZERR_OK)
        return false;
    return true;
}

bool exists(const std::string &path)
{
    std::vector<nodra_config_item_td> items;
    if (nodra_config_show(path.c_str(), &items) != ZERR_OK)
        return false;
    for (const auto &i : items)
        if (i.path == path)
            return true;
    return false;
}

bool do_commit(nodra_cli_type *cli, const std::string &input)
{
    if (cli->staged == nullptr || nodra_commit_count(cli->staged) == 0) {
        *cli->out += "commit: nothing to commit\n";
        return true;
    }
    nodra_commit_result_td result{};
    const zerrno err = nodra_commit_apply(cli->staged, &result);
    nodra_commit_free(cli->staged);
    cli->staged = nullptr;
    cli->staged_sets.clear();
    if (err != ZERR_OK) {
        error_line(cli, input, zerr_strerror(err));
        return false;
    }
    static constexpr const char *words[] = {"applied", "applied (completion pending)", "rejected"};
    *cli->out +=
        "commit " + std::to_string(result.sequence) + ": " + words[result.outcome <= 2 ? result.outcome : 2] + "\n";
    for (const auto &i : result.outcome == NODRA_COMMIT_RESULT_REJECTED ? result.failures : result.warnings)
        *cli->out += "  " + i.path + ": " + code_text(i.code) + " " +
                     (i.text.empty() ? std::string(zerr_strerror(i.code)) : i.text) + "\n";
    return result.outcome != NODRA_COMMIT_RESULT_REJECTED;
}

bool do_oper(nodra_cli_type *cli, const std::string &cmd, const std::string &path, const std::string &input)
{
    std::string dir, name;
    if (!split_path(path, &dir, &name)) {
        error_line(cli, input, "not an absolute path");
        return false;
    }
    nodra_conn_td *conn = nullptr;
    zerrno err = _nodra_bind(&conn, cmd == "get" ? dir.c_str() : (dir + name + "/").c_str(), 6);
    if (err != ZERR_OK) {
        error_line(cli, input, zerr_strerror(err));
        return false;
    }
    if (cmd == "get") {
        uint32_t type = NODRA_ITEM_DATATYPE_BAG;
        void *data = nullptr;
        uint32_t length = 0;
        err = nodra_item_get(conn, name.c_str(), &type, &data, &length, 0);
        if (err == ZERR_OK)
            *cli->out += oper_form(type, data, length, "");
        free(data);
    } else if (cmd == "list") {
        uint32_t count = 0;
        nodra_list_td *list = nullptr;
        err = nodra_list(conn, "", "", &count, &list, 0);
        const char *entry = nullptr;
        while (err == ZERR_OK && nodra_list_next(list, &entry) == ZERR_OK)
            *cli->out += std::string(entry) + "\n";
        nodra_list_free(list);
    } else {
        uint32_t count = 0;
        nodra_datalist_td *list = nullptr;
        err = nodra_datalist(conn, "", "", &count, &list, 0);
        const char *entry = nullptr;
        uint32_t type = 0, length = 0;
        const void *data = nullptr;
        while (err == ZERR_OK && nodra_datalist_next(list, &entry, &type, &data, &length, 0) == ZERR_OK)
            *cli->out += std::string(entry) + ":\n" + oper_form(type, data, length, "  ");
        nodra_datalist_free(list);
    }
    _nodra_unbind(conn);
    if (err != ZERR_OK) {
        error_line(cli, input, zerr_strerror(err));
        return false;
    }
    return true;
}

bool run_line(nodra_cli_type *cli, const std::string &line)
{
    std::vector<std::string> w;
    std::string error;
    // Item paths and texts are UTF-8: anything else would be stored as bytes no tool can show.
    if (!utf8_valid(line)) {
        error_line(cli, line, "bytes that are not UTF-8");
        return false;
    }
    if (!tokenize(line, &w, &error)) {
        error_line(cli, line, error);
        return false;
    }
    if (w.empty() || w[0].front() == '#')
        return true;
    const std::string &cmd = w[0];
    if (cmd == "set" && w.size() == 3) {
        value_type v;
        if (const std::string fault = item_path_fault(w[1]); !fault.empty()) {
            error_line(cli, line, fault);
            return false;
        }
        if (!parse_value(w[2], &v, &error)) {
            error_line(cli, line, error);
            return false;
        }
        if (!stage(cli))
            return false;
        nodra_commit_set(cli->staged, w[1].c_str(), v.type, v.bytes.data(), static_cast<uint32_t>(v.bytes.size()));
        cli->staged_sets.push_back(w[1]);
        return true;
    }
    if (cmd == "delete" && w.size() == 2) {
        bool staged = false;
        for (const std::string &p : cli->staged_sets)
            staged = staged || p == w[1];
        if (const std::string fault = item_path_fault(w[1]); !fault.empty()) {
            error_line(cli, line, fault);
            return false;
        }
        if (!staged && !exists(w[1])) {
            error_line(cli, line, "no such item");
            return false;
        }
        if (!stage(cli))
            return false;
        nodra_commit_delete(cli->staged, w[1].c_str());
        return true;
    }
    if (cmd == "commit" && w.size() == 1)
        return do_commit(cli, line);
    if (cmd == "show" && (w.size() == 2 || w.size() == 3) && w[1] == "config") {
        std::vector<nodra_config_item_td> items;
        const zerrno err = nodra_config_show(w.size() == 3 ? w[2].c_str() : "/cfg/", &items);
        if (err != ZERR_OK) {
            error_line(cli, line, zerr_strerror(err));
            return false;
        }
        for (const auto &i : items)
            *cli->out +=
                i.path + " " + value_form(i.type, i.value.data(), static_cast<uint32_t>(i.value.size())) + "\n";
        return true;
    }
    if ((cmd == "get" || cmd == "list" || cmd == "datalist") && w.size() == 2)
        return do_oper(cli, cmd, w[1], line);
    if (cmd == "action" && w.size() == 3) {
        value_type v;
        std::string dir, name;
        if (const std::string fault = item_path_fault(w[1]); !fault.empty() || !split_path(w[1], &dir, &name)) {
            error_line(cli, line, fault.empty() ? "not an absolute item path" : fault);
            return false;
        }
        if (!parse_value(w[2], &v, &error)) {
            error_line(cli, line, error);
            return false;
        }
        nodra_conn_td *conn = nullptr;
        zerrno err = _nodra_bind(&conn, dir.c_str(), 0);
        if (err == ZERR_OK) {
            err = nodra_item_set(conn, name.c_str(), v.type, v.bytes.data(), static_cast<uint32_t>(v.bytes.size()), 0);
            _nodra_unbind(conn);
        }
        if (err != ZERR_OK) {
            error_line(cli, line, zerr_strerror(err));
            return false;
        }
        return true;
    }
    // The chassis' own commands (processes, nodes, interfaces, platform events).
    if (const int rc = plat_cli_run(w, cli->out, &error); rc >= 0) {
        if (rc != 0)
            error_line(cli, line, error);
        return rc == 0;
    }
    error_line(cli, line, "unknown command");
    return false;
}

} // namespace

int nodra_cli_run(const std::vector<std::string> &lines, std::string *out)
{
    nodra_cli_type cli;
    cli.out = out;
    bool ok = true;
    for (const std::string &line : lines) {
        std::string l = line;
        while (!l.empty() && (l.back() == '\r' || l.back() == '\n'))
            l.pop_back();
        if (!run_line(&cli, l)) {
            ok = false;
            break; // nothing after a bad line runs, and what it would have committed is dropped
        }
    }
    // Changes left at the end of the input are committed, as a configuration file expects.
    if (ok && cli.staged != nullptr && nodra_commit_count(cli.staged) > 0)
        ok = do_commit(&cli, "commit");
    nodra_commit_free(cli.staged);
    return ok ? 0 : 1;
}

void nodra_cli_show_bags_as_hex(bool hex)
{
    bags_as_hex = hex;
}
