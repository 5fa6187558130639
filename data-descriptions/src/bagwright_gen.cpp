// Writes the source of libbagwright, the PTP bags' description library, from the bag catalogue
// (ptp_bag_table.h through ptp_bags.h): the bag list, each bag's schema text and version, and one
// description table with its fetch function per described type. Nothing in the output is written
// by hand; run at build time, so the library follows every change of the catalogue.
//
//   bagwright_gen OUTPUT.cpp
#include "ptp_bags.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct row {
    std::string name;
    std::string description;
};

struct table {
    std::string type; // the described type; the fetch function is bag_fetch_<type>_2_6
    std::vector<row> rows;
};

// Help texts that read better written out than derived from the name.
struct help_override {
    const char *type;
    const char *name;
    const char *text;
};
constexpr help_override help_overrides[] = {
    {"ptp_bag_gl_config_errors", "ptp_bag_gl_config_errors", "Global Configuration Errors"},
    {"ptp_bag_gl_config_errors", "Domain", "Domain not compatible with configured profile"},
    {"ptp_bag_config_errors", "ptp_bag_config_errors", "Interface Configuration Errors"},
};

const char *override_for(const std::string &type, const std::string &name)
{
    for (const help_override &o : help_overrides)
        if (type == o.type && name == o.name)
            return o.text;
    return nullptr;
}

bool is_upper(char c)
{
    return c >= 'A' && c <= 'Z';
}
bool is_lower(char c)
{
    return c >= 'a' && c <= 'z';
}
bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// A field's or enumerator's name as words: "OffsetFromMaster" -> "Offset from master",
// "PRE_MASTER" -> "Pre master", "IPv4Address" -> "IPv4 address", "PTSFLossSync" -> "PTSF loss sync".
std::string words_of(const std::string &name)
{
    std::vector<std::string> words;
    std::string w;
    for (size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c == '_') {
            if (!w.empty())
                words.push_back(w);
            w.clear();
            continue;
        }
        bool split = false;
        if (!w.empty() && is_upper(c)) {
            char prev = w.back();
            char next = i + 1 < name.size() ? name[i + 1] : '\0';
            if (is_lower(prev) || is_digit(prev))
                split = true;
            // The last capital of an acronym starts the next word ("PTSFLoss"), except "IPv4".
            // A single capital before a word belongs to it ("PDelay").
            else if (is_upper(prev) && w.size() > 1 && is_lower(next) &&
                     !(next == 'v' && i + 2 < name.size() && is_digit(name[i + 2])))
                split = true;
        }
        if (split) {
            words.push_back(w);
            w.clear();
        }
        w += c;
    }
    if (!w.empty())
        words.push_back(w);
    // An enumerator spelt in capitals reads as a sentence ("PRE_MASTER" -> "Pre master"); a short
    // one is an abbreviation and stays ("E2E", "GPS").
    bool capitals = std::none_of(name.begin(), name.end(), is_lower);
    bool sentence = capitals && (name.find('_') != std::string::npos || name.size() > 4);
    std::string out;
    for (size_t i = 0; i < words.size(); ++i) {
        std::string word = words[i];
        if (sentence) {
            for (size_t k = (i == 0 ? 1 : 0); k < word.size(); ++k)
                if (is_upper(word[k]))
                    word[k] = static_cast<char>(word[k] - 'A' + 'a');
        } else if (i > 0 && is_upper(word[0]) && std::count_if(word.begin(), word.end(), is_upper) == 1) {
            word[0] = static_cast<char>(word[0] - 'A' + 'a'); // "Offset" but not "IPv4" or "PTSF"
        }
        if (i > 0)
            out += ' ';
        out += word;
    }
    return out;
}

// A type's title: "ptp_bag_leap_seconds_entry" -> "Leap Seconds Entry".
std::string title_of(const std::string &type)
{
    std::string t = type;
    for (const char *prefix : {"ptp_bag_", "ptp_"})
        if (t.rfind(prefix, 0) == 0) {
            t = t.substr(strlen(prefix));
            break;
        }
    // Abbreviations of type names, as operators read them.
    static const std::map<std::string, std::string> spelt = {
        {"ds", "DS"},   {"idb", "IDB"}, {"ip", "IP"},   {"ipv4", "IPv4"},    {"ipv6", "IPv6"}, {"utc", "UTC"},
        {"bmc", "BMC"}, {"mac", "MAC"}, {"fsm", "FSM"}, {"ipc", "IPC"},      {"gl", "Global"}, {"if", "Interface"},
        {"gm", "GM"},   {"api", "API"}, {"ql", "QL"},   {"addr", "Address"},
    };
    std::string out;
    for (size_t pos = 0; pos <= t.size();) {
        size_t end = t.find('_', pos);
        if (end == std::string::npos)
            end = t.size();
        std::string word = t.substr(pos, end - pos);
        pos = end + 1;
        if (word.empty())
            continue;
        auto it = spelt.find(word);
        if (it != spelt.end())
            word = it->second;
        else if (is_lower(word[0]))
            word[0] = static_cast<char>(word[0] - 'a' + 'A');
        out += (out.empty() ? "" : " ") + word;
    }
    return out;
}

std::string help(const std::string &type, const std::string &name, bool is_type_row)
{
    if (const char *o = override_for(type, name))
        return o;
    return is_type_row ? title_of(type) : words_of(name);
}

// The field names of a definition's text, in schema order ("{Name}" runs; union arms included).
// Only names in capitals are shown to operators and described; lower-case ones are internal.
std::vector<std::string> field_names(const char *text)
{
    std::vector<std::string> names;
    for (const char *p = strchr(text, '{'); p != nullptr; p = strchr(p, '{')) {
        const char *end = strchr(p, '}');
        if (end == nullptr)
            break;
        names.emplace_back(p + 1, end);
        p = end;
    }
    return names;
}

int32_t signed_key(const std::string &name)
{
    return static_cast<int32_t>(bag_description_key(name.c_str()));
}

std::string c_string(const std::string &s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: bagwright_gen OUTPUT.cpp\n");
        return 2;
    }

    uint32_t def_count = 0, enum_count = 0;
    const ptp_bag_definition_type *defs = ptp_bag_definitions(&def_count);
    const ptp_bag_enum_type *enums = ptp_bag_enums(&enum_count);
    const bag_descriptor_type *const *bags = ptp_bag_catalogue();
    std::map<uint32_t, const ptp_bag_definition_type *> by_id;
    for (uint32_t i = 0; i < def_count; ++i)
        by_id[defs[i].id] = &defs[i];

    std::vector<table> tables;
    // Record types: every field, then the type itself.
    for (uint32_t i = 0; i < def_count; ++i) {
        std::vector<std::string> names = field_names(defs[i].text);
        if (names.empty())
            continue; // an unnamed definition (a bare address or string) has nothing to describe
        table t{defs[i].type_name, {}};
        for (const std::string &n : names)
            if (is_upper(n[0]) && std::none_of(t.rows.begin(), t.rows.end(), [&](const row &r) { return r.name == n; }))
                t.rows.push_back({n, help(t.type, n, false)});
        t.rows.push_back({t.type, help(t.type, t.type, true)});
        tables.push_back(std::move(t));
    }
    // Enumerations: every enumerator, the type, and the value list.
    for (uint32_t i = 0; i < enum_count; ++i) {
        table t{enums[i].name, {}};
        std::string ids;
        for (uint32_t k = 0; k < enums[i].count; ++k) {
            const ptp_bag_enumerator_type &e = enums[i].enumerators[k];
            t.rows.push_back({e.name, help(t.type, e.name, false)});
            ids += std::to_string(e.value) + ":" + e.name + ";";
        }
        t.rows.push_back({t.type, help(t.type, t.type, true)});
        t.rows.push_back({"%ids%", ids});
        tables.push_back(std::move(t));
    }
    // Per bag with nested types: type id -> type name.
    for (uint32_t b = 0; b < PTP_BAG_COUNT; ++b) {
        const char *schema = bags[b]->schema;
        table t{std::string(bags[b]->name) + "_subtypes", {}};
        for (const char *p = strchr(schema, ';'); p != nullptr && p[1] == '$'; p = strchr(p + 1, ';')) {
            uint32_t id = static_cast<uint32_t>(strtoul(p + 2, nullptr, 10));
            auto d = by_id.find(id);
            if (d == by_id.end()) {
                fprintf(stderr, "bagwright_gen: %s uses $%u, which the catalogue does not define\n", bags[b]->name, id);
                return 1;
            }
            t.rows.push_back({std::to_string(id), d->second->type_name});
        }
        if (!t.rows.empty())
            tables.push_back(std::move(t));
    }

    for (table &t : tables) {
        std::stable_sort(t.rows.begin(), t.rows.end(),
                         [](const row &a, const row &b) { return signed_key(a.name) < signed_key(b.name); });
        for (size_t i = 1; i < t.rows.size(); ++i)
            if (signed_key(t.rows[i].name) == signed_key(t.rows[i - 1].name)) {
                fprintf(stderr, "bagwright_gen: %s: \"%s\" and \"%s\" share a key\n", t.type.c_str(),
                        t.rows[i - 1].name.c_str(), t.rows[i].name.c_str());
                return 1;
            }
    }
    std::sort(tables.begin(), tables.end(), [](const table &a, const table &b) { return a.type < b.type; });

    FILE *out = fopen(argv[1], "w");
    if (out == nullptr) {
        perror(argv[1]);
        return 1;
    }
    fprintf(out, "// Generated by bagwright_gen from the bag catalogue. Do not edit.\n");
    fprintf(out, "#include \"bag.h\"\n\n#include <cstdint>\n\n");
    fprintf(out, "#define EXPORT extern \"C\" __attribute__((visibility(\"default\")))\n\n");
    fprintf(out, "EXPORT const char *const bag_filename = \"ptp\";\n");
    fprintf(out, "EXPORT const uint32_t bag_ptp_bag_count = %u;\n", PTP_BAG_COUNT);
    fprintf(out, "EXPORT const char *const bag_ptp_bags[%u] = {\n", PTP_BAG_COUNT);
    for (uint32_t b = 0; b < PTP_BAG_COUNT; ++b)
        fprintf(out, "    \"%s\",\n", bags[b]->name);
    fprintf(out, "};\n\n");
    for (uint32_t b = 0; b < PTP_BAG_COUNT; ++b) {
        fprintf(out, "EXPORT const char *const bag_bytecode_%s = %s;\n", bags[b]->name,
                c_string(bags[b]->schema).c_str());
        fprintf(out, "EXPORT const uint32_t bag_major_version_%s = %u;\n", bags[b]->name, bags[b]->major);
        fprintf(out, "EXPORT const uint32_t bag_minor_version_%s = %u;\n", bags[b]->name, bags[b]->minor);
    }
    fprintf(out, "\n");
    for (const table &t : tables) {
        const char *suffix = "_2_6";
        fprintf(out, "\nEXPORT const uint32_t bag_row_count_%s%s = %zu;\n", t.type.c_str(), suffix, t.rows.size());
        fprintf(out, "EXPORT const bag_description_row bag_rows_%s%s[%zu] = {\n", t.type.c_str(), suffix,
                t.rows.size());
        for (const row &r : t.rows)
            fprintf(out, "    {0x%08xu, %s, %s},\n", bag_description_key(r.name.c_str()), c_string(r.name).c_str(),
                    c_string(r.description).c_str());
        fprintf(out, "};\n");
        fprintf(
            out,
            "EXPORT zerrno bag_fetch_%s%s(const char *name, const bag_description_row *, uint32_t, "
            "const char **description)\n{\n    return bag_fetch_string(name, bag_rows_%s%s, %zu, description);\n}\n",
            t.type.c_str(), suffix, t.type.c_str(), suffix, t.rows.size());
    }
    if (fclose(out) != 0) {
        perror(argv[1]);
        return 1;
    }
    return 0;
}
