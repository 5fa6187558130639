// The database service: the durable item store, registrations, the commit engine and the routing
// of operational requests. Everything runs on the serving event manager, one message at a time;
// a commit waits for its verifiers' answers without blocking anyone.
#include "nodra_service.h"

#include <fnmatch.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "evm_alarm.h"
#include "nodra.h"
#include "nodra_wire.h"
#include "plat_clock.h"

namespace {

// ---- patterns ----------------------------------------------------------------------------------

// A registration pattern, relative to its binding: elements between "/"; ".*" stands for one or
// more elements, "a|b" for either name; a trailing "/" takes the whole subtree below.
struct pattern_type {
    std::vector<std::string> elements;
    bool subtree = false;
    bool any = false; // the empty pattern: everything below the binding
};

std::vector<std::string_view> split(std::string_view path)
{
    std::vector<std::string_view> out;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t slash = path.find('/', start);
        const size_t end = slash == std::string_view::npos ? path.size() : slash;
        if (end > start)
            out.push_back(path.substr(start, end - start));
        if (slash == std::string_view::npos)
            break;
        start = slash + 1;
    }
    return out;
}

pattern_type pattern_parse(std::string_view text)
{
    pattern_type p;
    if (text.empty()) {
        p.any = true;
        return p;
    }
    p.subtree = text.back() == '/';
    for (std::string_view e : split(text))
        p.elements.emplace_back(e);
    return p;
}

bool element_match(std::string_view pat, std::string_view name)
{
    size_t start = 0;
    for (;;) {
        const size_t bar = pat.find('|', start);
        if (pat.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start) == name)
            return true;
        if (bar == std::string_view::npos)
            return false;
        start = bar + 1;
    }
}

bool elements_match(const pattern_type &p, size_t i, const std::vector<std::string_view> &path, size_t j)
{
    if (i == p.elements.size())
        return p.subtree ? j < path.size() : j == path.size();
    if (j >= path.size())
        return false;
    if (p.elements[i] == ".*") {
        for (size_t k = j + 1; k <= path.size(); ++k)
            if (elements_match(p, i + 1, path, k))
                return true;
        return false;
    }
    return element_match(p.elements[i], path[j]) && elements_match(p, i + 1, path, j + 1);
}

bool pattern_match(const pattern_type &p, std::string_view relative)
{
    if (p.any)
        return !relative.empty();
    return elements_match(p, 0, split(relative), 0);
}

// Higher is more specific: a leaf before a subtree, then more named elements, then longer names.
std::tuple<int, size_t, size_t> pattern_specificity(const pattern_type &p)
{
    size_t named = 0, chars = 0;
    for (const std::string &e : p.elements)
        if (e != ".*") {
            ++named;
            chars += e.size();
        }
    return {p.any ? 0 : (p.subtree ? 1 : 2), named, chars};
}

// ---- state -------------------------------------------------------------------------------------

struct item_rec {
    uint32_t type;
    std::string value;
};

struct reg_rec {
    uint32_t id;
    sockmsg_session_type *session; // null for a verifier that is down
    int32_t pid;
    uint32_t kind;
    std::string bind; // absolute, ends with "/"
    std::vector<pattern_type> patterns;
    std::vector<std::string> pattern_texts; // as registered: a verifier coming back names the same
    uint32_t events;
    uint32_t options;
    int32_t order;
    bool scoped = false; // a process of the manager's: it takes its node's items only
    uint32_t node = 0;
    std::string name; // the process's, for the texts that name it
};

struct batch_rec {
    uint32_t reg;
    std::string verifier;           // its process's name, for the texts
    std::vector<std::string> paths; // absolute, in batch order
    std::vector<nodra_wire_item> items;
};

struct failure_rec {
    std::string path;
    uint32_t code;
    std::string text;
};

struct change_rec {
    std::string path;
    uint32_t event;
    std::optional<item_rec> old_item; // none for a create
    item_rec new_item;                // unused for a delete
};

enum class phase_type {
    verify,
    apply
};

struct commit_rec {
    sockmsg_call_type *call;
    std::vector<uint8_t> request;
    uint32_t seq = 0;
    std::vector<change_rec> changes;
    std::vector<batch_rec> batches;
    phase_type phase = phase_type::verify;
    size_t next = 0;      // batch being answered
    bool waiting = false; // for the answer to batches[next]
    std::vector<failure_rec> failures;
    std::vector<failure_rec> warnings;
    bool pending = false;
    std::set<uint32_t> asked; // registrations sent (or found gone before) this commit's verify batch
};

// A commit's outcome as it stands, kept for the last commits: a parked apply batch keeps it
// pending until the client resumes it.
struct status_rec {
    bool answered = false; // the commit itself has finished
    uint32_t outcome = NODRA_COMMIT_APPLIED;
    uint32_t parked = 0;
    std::vector<failure_rec> failures;
    std::vector<failure_rec> warnings;
};

// An apply batch parked by its client, until it is resumed.
struct parked_rec {
    sockmsg_session_type *session;
    std::vector<std::string> paths; // absolute, in batch order
};

constexpr size_t status_kept = 64;

struct edm_entry {
    std::string name;
    uint32_t type;
    std::string value;
};

// An operational request waiting for its provider. A list or data list is asked for in pages of
// at most edm_page_size entries; while the provider says there are more, the next page starts
// after the last name received.
struct edm_wait {
    sockmsg_call_type *call = nullptr;
    sockmsg_session_type *provider = nullptr;
    uint32_t op = 0;
    uint32_t reg = 0;
    std::string path; // relative to the provider's binding
    uint32_t type = 0;
    std::string value; // set: the value; list and data list: the pattern
    bool paging = false;
    std::vector<edm_entry> entries;
    std::set<std::string> names;
    size_t bytes = 0;   // of the answer so far
    uint32_t group = 0; // one provider's part of a chassis-wide listing (0: the asker's own)
};

// A listing of a path that several nodes serve (each agent its own interfaces): every provider
// lists its part, and the asker gets the union in name order. A provider that has not finished
// when the wait runs out is left out, so that one stuck node does not hold up the view.
struct edm_group {
    sockmsg_call_type *call = nullptr;
    uint32_t op = 0;
    uint32_t outstanding = 0;
    std::map<std::string, edm_entry> entries;
    size_t bytes = 0;
    zerrno failure = ZERR_OK; // the first answer other than "not found"
    evm_alarm_type *alarm = nullptr;
};

constexpr uint32_t edm_group_wait_default_ms = 3000;
std::atomic<uint32_t> edm_group_wait_ms{edm_group_wait_default_ms};

// A listing that outgrows one answer (a provider that never stops, say) fails instead.
constexpr size_t edm_listing_bytes_max = SOCKMSG_MAX_PAYLOAD - (1u << 20);

constexpr uint32_t edm_page_default = 256;
std::atomic<uint32_t> edm_page_size{edm_page_default};

struct service_type {
    event_mgr_type *evm = nullptr;
    sqlite3 *db = nullptr;
    std::map<std::string, item_rec> items;
    uint32_t seq = 0;
    uint32_t next_reg = 1;
    std::map<uint32_t, reg_rec> regs;
    std::deque<std::unique_ptr<commit_rec>> commits; // front is running
    uint32_t next_edm = 1;
    std::map<uint32_t, edm_wait> edm_waits;
    uint32_t next_group = 1;
    std::map<uint32_t, edm_group> edm_groups;
    std::map<uint32_t, status_rec> statuses;                            // by sequence
    std::map<std::pair<uint32_t, uint32_t>, parked_rec> parked_batches; // by sequence and batch
    std::vector<reg_rec> down; // verifiers the manager started that ended without unregistering
};

service_type *svc = nullptr;

// ---- store -------------------------------------------------------------------------------------

bool sql_exec(const char *sql)
{
    return sqlite3_exec(svc->db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Makes the directories above a file (0700), as a fresh machine has none of them.
void parents_make(const std::string &file)
{
    for (size_t slash = file.find('/', 1); slash != std::string::npos; slash = file.find('/', slash + 1))
        mkdir(file.substr(0, slash).c_str(), 0700);
}

zerrno store_open(const char *path)
{
    parents_make(path);
    if (sqlite3_open_v2(path, &svc->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr) !=
        SQLITE_OK)
        return NODRA_ERR_STORE;
    if (!sql_exec("PRAGMA journal_mode=WAL") || !sql_exec("PRAGMA synchronous=FULL") ||
        !sql_exec("CREATE TABLE IF NOT EXISTS items (path TEXT PRIMARY KEY, type INTEGER NOT NULL, value BLOB)") ||
        !sql_exec("CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value INTEGER NOT NULL)"))
        return NODRA_ERR_STORE;
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(svc->db, "SELECT path, type, value FROM items", -1, &st, nullptr) != SQLITE_OK)
        return NODRA_ERR_STORE;
    while (sqlite3_step(st) == SQLITE_ROW) {
        const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
        const auto *v = static_cast<const char *>(sqlite3_column_blob(st, 2));
        const int n = sqlite3_column_bytes(st, 2);
        svc->items[p] = item_rec{static_cast<uint32_t>(sqlite3_column_int64(st, 1)),
                                 v != nullptr ? std::string(v, static_cast<size_t>(n)) : std::string()};
    }
    sqlite3_finalize(st);
    if (sqlite3_prepare_v2(svc->db, "SELECT value FROM meta WHERE key='seq'", -1, &st, nullptr) != SQLITE_OK)
        return NODRA_ERR_STORE;
    if (sqlite3_step(st) == SQLITE_ROW)
        svc->seq = static_cast<uint32_t>(sqlite3_column_int64(st, 0));
    sqlite3_finalize(st);
    return ZERR_OK;
}

// Writes a set of changes (a null item deletes) and the sequence number in one transaction.
zerrno store_write(const std::vector<std::pair<std::string, const item_rec *>> &changes, uint32_t seq)
{
    if (!sql_exec("BEGIN IMMEDIATE"))
        return NODRA_ERR_STORE;
    sqlite3_stmt *put = nullptr, *del = nullptr, *meta = nullptr;
    bool ok = sqlite3_prepare_v2(svc->db, "INSERT OR REPLACE INTO items (path, type, value) VALUES (?, ?, ?)", -1, &put,
                                 nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(svc->db, "DELETE FROM items WHERE path = ?", -1, &del, nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(svc->db, "INSERT OR REPLACE INTO meta (key, value) VALUES ('seq', ?)", -1, &meta,
                                 nullptr) == SQLITE_OK;
    for (const auto &[path, item] : changes) {
        if (!ok)
            break;
        sqlite3_stmt *st = item != nullptr ? put : del;
        sqlite3_reset(st);
        sqlite3_bind_text(st, 1, path.data(), static_cast<int>(path.size()), SQLITE_TRANSIENT);
        if (item != nullptr) {
            sqlite3_bind_int64(st, 2, item->type);
            sqlite3_bind_blob(st, 3, item->value.data(), static_cast<int>(item->value.size()), SQLITE_TRANSIENT);
        }
        ok = sqlite3_step(st) == SQLITE_DONE;
    }
    if (ok) {
        sqlite3_bind_int64(meta, 1, seq);
        ok = sqlite3_step(meta) == SQLITE_DONE;
    }
    sqlite3_finalize(put);
    sqlite3_finalize(del);
    sqlite3_finalize(meta);
    if (!ok || !sql_exec("COMMIT")) {
        sql_exec("ROLLBACK");
        return NODRA_ERR_STORE;
    }
    return ZERR_OK;
}

// ---- helpers -----------------------------------------------------------------------------------

void reply(sockmsg_call_type *call, zerrno status, const nodra_wire_writer *w = nullptr)
{
    if (call == nullptr)
        return;
    sockmsg_reply(call, status, w != nullptr ? w->out.data() : nullptr,
                  w != nullptr ? static_cast<uint32_t>(w->out.size()) : 0);
}

void notice(sockmsg_session_type *s, uint16_t type, const nodra_wire_writer &w)
{
    sockmsg_notify(s, NODRA_SERVICE_ID, type, w.out.data(), static_cast<uint32_t>(w.out.size()));
}

bool item_path_valid(std::string_view path)
{
    return path.size() >= 2 && path.size() <= NODRA_ITEM_PATH_MAX && path.front() == '/' && path.back() != '/' &&
           path.find("//") == std::string_view::npos;
}

bool dir_path_valid(std::string_view path)
{
    return !path.empty() && path.front() == '/' && path.back() == '/' && path.find("//") == std::string_view::npos;
}

std::atomic<const nodra_service_scope_td *> item_scope{nullptr};

bool reg_matches(const reg_rec &r, std::string_view path)
{
    if (!path.starts_with(r.bind))
        return false;
    if (const nodra_service_scope_td *scope = item_scope.load();
        r.scoped && scope != nullptr && !scope->takes(r.node, path))
        return false;
    std::string_view rel = path.substr(r.bind.size());
    for (const pattern_type &p : r.patterns)
        if (pattern_match(p, rel))
            return true;
    return false;
}

std::tuple<int, size_t, size_t> reg_specificity(const reg_rec &r, std::string_view path)
{
    std::tuple<int, size_t, size_t> best{-1, 0, 0};
    std::string_view rel = path.substr(r.bind.size());
    for (const pattern_type &p : r.patterns)
        if (pattern_match(p, rel))
            best = std::max(best, std::tuple<int, size_t, size_t>(std::get<0>(pattern_specificity(p)),
                                                                  r.bind.size() + std::get<1>(pattern_specificity(p)),
                                                                  std::get<2>(pattern_specificity(p))));
    return best;
}

// The verify registration that takes path among those of r's client: the most specific one.
bool verify_owner(const reg_rec &r, std::string_view path)
{
    if (!reg_matches(r, path))
        return false;
    const auto mine = reg_specificity(r, path);
    for (const auto &[id, o] : svc->regs) {
        if (o.id == r.id || o.kind != NODRA_REG_VERIFY || o.session != r.session || !reg_matches(o, path))
            continue;
        const auto theirs = reg_specificity(o, path);
        if (theirs > mine || (theirs == mine && o.id < r.id))
            return false;
    }
    return true;
}

nodra_wire_item wire_item(const std::string &rel, uint32_t event, const item_rec *old_item, const item_rec *new_item)
{
    nodra_wire_item w;
    w.path = rel;
    w.event = event;
    w.type = new_item != nullptr ? new_item->type : (old_item != nullptr ? old_item->type : 0);
    if (old_item != nullptr) {
        w.has_old = true;
        w.old_value = old_item->value;
    }
    if (new_item != nullptr) {
        w.has_new = true;
        w.new_value = new_item->value;
    }
    return w;
}

void put_failures(nodra_wire_writer &w, const std::vector<failure_rec> &list)
{
    w.u32(static_cast<uint32_t>(list.size()));
    for (const failure_rec &f : list) {
        w.str(f.path);
        w.u32(f.code);
        w.str(f.text);
    }
}

// ---- commits -----------------------------------------------------------------------------------

void commit_advance();
void commit_start();
void commit_batches(commit_rec *c);

std::string verifier_named(const std::string &name)
{
    return name.empty() ? "its verifier" : "its verifier " + name;
}

// A verify batch that nobody will answer: its items were verified by nobody, so the commit is
// refused rather than applied unverified. An apply batch goes on without it: what it applies was
// verified and is stored, and the client's next registration replays it.
void batch_unanswered(commit_rec *c, const batch_rec &b)
{
    if (c->phase != phase_type::verify)
        return;
    for (const std::string &path : b.paths)
        c->failures.push_back({path, NODRA_ERR_UNREACHABLE,
                               "The item was not verified: " + verifier_named(b.verifier) + " ended before answering"});
}

// The items nobody can verify now are refused before any verifier is asked: those a verifier that
// is down would take, and, in a chassis, those that no registration takes at all (a path that no
// process's schema knows).
void refuse_unverifiable(commit_rec *c)
{
    const bool chassis = item_scope.load() != nullptr;
    for (const change_rec &ch : c->changes) {
        if (ch.event == NODRA_EVENT_DELETE)
            continue;
        const auto down = std::find_if(svc->down.begin(), svc->down.end(), [&](const reg_rec &r) {
            return (r.events & ch.event) != 0 && reg_matches(r, ch.path);
        });
        if (down != svc->down.end()) {
            c->failures.push_back(
                {ch.path, NODRA_ERR_UNREACHABLE,
                 "The item cannot be verified while " + verifier_named(down->name) + " is not running"});
            continue;
        }
        const bool taken = std::any_of(svc->regs.begin(), svc->regs.end(), [&](const auto &entry) {
            return entry.second.kind != NODRA_REG_EDM && reg_matches(entry.second, ch.path);
        });
        if (chassis && !taken)
            c->failures.push_back({ch.path, NODRA_ERR_NOT_FOUND, "Unknown configuration item '" + ch.path + "'"});
    }
    if (!c->failures.empty())
        c->batches.clear(); // refused as it stands: no verifier is asked
}

// In a chassis, an item that no running verifier took is stored unverified: the process that
// takes it verifies it when it starts (its registration's replay), and the operator is told so.
void warn_unverified(commit_rec *c)
{
    if (item_scope.load() == nullptr)
        return;
    std::set<std::string_view> verified;
    for (const batch_rec &b : c->batches)
        verified.insert(b.paths.begin(), b.paths.end());
    for (const change_rec &ch : c->changes)
        if (ch.event != NODRA_EVENT_DELETE && verified.count(ch.path) == 0)
            c->warnings.push_back({ch.path, NODRA_ERR_UNREACHABLE,
                                   "Stored without verification: no process that verifies the item is running; the "
                                   "one that takes it verifies it when it starts"});
}

status_rec &status_of(uint32_t seq)
{
    auto [it, added] = svc->statuses.try_emplace(seq);
    if (added && svc->statuses.size() > status_kept && svc->statuses.begin() != it)
        svc->statuses.erase(svc->statuses.begin()); // the oldest
    return it->second;
}

void put_status(nodra_wire_writer &w, uint32_t seq, const status_rec &st)
{
    w.u32(seq);
    w.u32(st.outcome);
    put_failures(w, st.failures);
    put_failures(w, st.warnings);
}

void commit_finish(zerrno status)
{
    std::unique_ptr<commit_rec> c = std::move(svc->commits.front());
    svc->commits.pop_front();
    status_rec &st = status_of(c->seq);
    st.answered = true;
    // Verifiers that refuse one item alike (the agents of several nodes, say) are one reason.
    std::set<std::tuple<std::string_view, uint32_t, std::string_view>> seen;
    st.failures.clear();
    for (const failure_rec &f : c->failures)
        if (seen.emplace(f.path, f.code, f.text).second)
            st.failures.push_back(f);
    // Warnings of the applies, then of any parked batch already resumed.
    c->warnings.insert(c->warnings.end(), st.warnings.begin(), st.warnings.end());
    st.warnings = c->warnings;
    st.outcome =
        !st.failures.empty() ? NODRA_COMMIT_REJECTED : (st.parked > 0 ? NODRA_COMMIT_PENDING : NODRA_COMMIT_APPLIED);
    nodra_wire_writer w;
    put_status(w, c->seq, st);
    reply(c->call, status, status == ZERR_OK ? &w : nullptr);
    commit_start();
}

void batch_send(commit_rec *c)
{
    const batch_rec &b = c->batches[c->next];
    if (c->phase == phase_type::verify && !c->asked.insert(b.reg).second) {
        ++c->next; // verified in an earlier round
        return;
    }
    auto it = svc->regs.find(b.reg);
    if (it == svc->regs.end()) { // its client went away: nobody to ask
        batch_unanswered(c, b);
        ++c->next;
        return;
    }
    nodra_wire_writer w;
    w.u32(c->seq);
    w.u32(static_cast<uint32_t>(c->next));
    w.u32(b.reg);
    w.u32(static_cast<uint32_t>(b.items.size()));
    for (const nodra_wire_item &item : b.items)
        nodra_wire_put_item(w, item);
    notice(it->second.session, c->phase == phase_type::verify ? NODRA_MSG_VERIFY_BATCH : NODRA_MSG_APPLY_BATCH, w);
    c->waiting = true;
}

// Tells every notification registration what a commit (or a provider) changed.
void notify_changes(uint32_t seq,
                    const std::vector<std::tuple<std::string, uint32_t, const item_rec *, const item_rec *>> &changes)
{
    for (const auto &[id, r] : svc->regs) {
        if (r.kind != NODRA_REG_NOTIFY)
            continue;
        std::vector<nodra_wire_item> items;
        for (const auto &[path, event, old_item, new_item] : changes)
            if ((r.events & event) != 0 && reg_matches(r, path))
                items.push_back(wire_item(path.substr(r.bind.size()), event, old_item, new_item));
        if (items.empty())
            continue;
        nodra_wire_writer w;
        w.u32(seq);
        w.u32(0);
        w.u32(r.id);
        w.u32(static_cast<uint32_t>(items.size()));
        for (const nodra_wire_item &item : items)
            nodra_wire_put_item(w, item);
        notice(r.session, NODRA_MSG_NOTIFY_BATCH, w);
    }
}

// Verified: store in one transaction, then the apply batches in the verify order.
bool commit_store(commit_rec *c)
{
    std::vector<std::pair<std::string, const item_rec *>> writes;
    for (const change_rec &ch : c->changes)
        writes.emplace_back(ch.path, ch.event == NODRA_EVENT_DELETE ? nullptr : &ch.new_item);
    if (store_write(writes, c->seq) != ZERR_OK)
        return false;
    svc->seq = c->seq;
    return true;
}

void commit_advance()
{
    commit_rec *c = svc->commits.front().get();
    for (;;) {
        if (c->waiting)
            return;
        if (c->next < c->batches.size()) {
            batch_send(c);
            continue;
        }
        if (c->phase == phase_type::verify) {
            if (!c->failures.empty()) {
                for (const batch_rec &b : c->batches) {
                    auto it = svc->regs.find(b.reg);
                    if (it == svc->regs.end())
                        continue;
                    nodra_wire_writer w;
                    w.u32(c->seq);
                    w.u32(b.reg);
                    notice(it->second.session, NODRA_MSG_ABORT, w);
                }
                // A rejected commit keeps its number: its verifiers saw it.
                if (store_write({}, c->seq) == ZERR_OK)
                    svc->seq = c->seq;
                commit_finish(ZERR_OK);
                return;
            }
            // A verifier that registered while this commit was verified verifies it too, before
            // anything is stored: it applies the commit, so it must have seen it.
            commit_batches(c);
            if (std::any_of(c->batches.begin(), c->batches.end(),
                            [c](const batch_rec &b) { return c->asked.count(b.reg) == 0; })) {
                c->next = 0;
                continue;
            }
            warn_unverified(c);
            if (!commit_store(c)) {
                c->failures.clear();
                commit_finish(NODRA_ERR_STORE);
                return;
            }
            c->phase = phase_type::apply;
            c->next = 0;
            continue;
        }
        // Applied everywhere: memory follows the store, then the notifications.
        std::vector<item_rec> olds;
        olds.reserve(c->changes.size());
        std::vector<std::tuple<std::string, uint32_t, const item_rec *, const item_rec *>> notes;
        for (change_rec &ch : c->changes) {
            olds.push_back(ch.old_item.value_or(item_rec{}));
            if (ch.event == NODRA_EVENT_DELETE)
                svc->items.erase(ch.path);
            else
                svc->items[ch.path] = ch.new_item;
        }
        for (size_t i = 0; i < c->changes.size(); ++i) {
            change_rec &ch = c->changes[i];
            notes.emplace_back(ch.path, ch.event, ch.event == NODRA_EVENT_CREATE ? nullptr : &olds[i],
                               ch.event == NODRA_EVENT_DELETE ? nullptr : &ch.new_item);
        }
        notify_changes(c->seq, notes);
        commit_finish(ZERR_OK);
        return;
    }
}

// Builds the commit's changes and batches from its request; false for a request to refuse.
zerrno commit_prepare(commit_rec *c)
{
    nodra_wire_reader r(c->request.data(), static_cast<uint32_t>(c->request.size()));
    const uint32_t n = r.count(4 + 4 + 4 + 4);
    std::map<std::string, std::optional<item_rec>> ops; // last operation per path wins
    for (uint32_t i = 0; i < n && r.ok; ++i) {
        std::string path = r.str();
        const uint32_t op = r.u32();
        const uint32_t type = r.u32();
        std::string value = r.str();
        if (!r.ok || !item_path_valid(path) || (op != 1 && op != 2))
            return NODRA_ERR_INVALID;
        if (op == 1)
            ops[path] = item_rec{type, std::move(value)};
        else
            ops[path] = std::nullopt;
    }
    if (!r.done())
        return NODRA_ERR_INVALID;
    for (auto &[path, value] : ops) {
        auto it = svc->items.find(path);
        const item_rec *old_item = it != svc->items.end() ? &it->second : nullptr;
        if (!value) {
            if (old_item == nullptr)
                continue; // created and deleted in one commit, or never there
            c->changes.push_back({path, NODRA_EVENT_DELETE, *old_item, {}});
        } else {
            c->changes.push_back({path, old_item != nullptr ? NODRA_EVENT_SET : NODRA_EVENT_CREATE,
                                  old_item != nullptr ? std::optional<item_rec>(*old_item) : std::nullopt, *value});
        }
    }
    c->seq = svc->seq + 1;
    commit_batches(c);
    refuse_unverifiable(c);
    return ZERR_OK;
}

// The commit's batches for the verify registrations there are now: made when it starts, and again
// when its verification has passed, so that a client that registered meanwhile applies it too.
void commit_batches(commit_rec *c)
{
    c->batches.clear();
    std::vector<const reg_rec *> verifiers;
    for (const auto &[id, reg] : svc->regs)
        if (reg.kind == NODRA_REG_VERIFY)
            verifiers.push_back(&reg);
    std::stable_sort(verifiers.begin(), verifiers.end(),
                     [](const reg_rec *a, const reg_rec *b) { return a->order < b->order; });
    for (const reg_rec *reg : verifiers) {
        batch_rec b{reg->id, reg->name, {}, {}};
        for (const change_rec &ch : c->changes) {
            if ((reg->events & ch.event) == 0 || !verify_owner(*reg, ch.path))
                continue;
            b.paths.push_back(ch.path);
            b.items.push_back(wire_item(ch.path.substr(reg->bind.size()), ch.event,
                                        ch.old_item ? &*ch.old_item : nullptr,
                                        ch.event == NODRA_EVENT_DELETE ? nullptr : &ch.new_item));
        }
        if (!b.items.empty())
            c->batches.push_back(std::move(b));
    }
}

// Starts the next queued commit; each is prepared when it starts, against the store as the
// previous one left it.
void commit_start()
{
    while (!svc->commits.empty()) {
        commit_rec *front = svc->commits.front().get();
        const zerrno err = commit_prepare(front);
        if (err == ZERR_OK) {
            commit_advance();
            return;
        }
        reply(front->call, err);
        svc->commits.pop_front();
    }
}

void handle_commit(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *data, uint32_t len, void *)
{
    auto c = std::make_unique<commit_rec>();
    c->call = call;
    c->request.assign(data, data + len);
    svc->commits.push_back(std::move(c));
    if (svc->commits.size() == 1)
        commit_start();
}

// The answer to the batch a commit waits for; answers from anyone else are ignored.
commit_rec *answered(sockmsg_session_type *s, nodra_wire_reader &r, phase_type phase)
{
    const uint32_t seq = r.u32();
    const uint32_t batch = r.u32();
    if (!r.ok || svc->commits.empty())
        return nullptr;
    commit_rec *c = svc->commits.front().get();
    if (c->seq != seq || c->phase != phase || !c->waiting || batch != c->next)
        return nullptr;
    auto it = svc->regs.find(c->batches[batch].reg);
    if (it == svc->regs.end() || it->second.session != s)
        return nullptr;
    return c;
}

void collect(nodra_wire_reader &r, const batch_rec &b, std::vector<failure_rec> *out)
{
    const uint32_t n = r.count(12);
    for (uint32_t i = 0; i < n && r.ok; ++i) {
        const uint32_t index = r.u32();
        const uint32_t code = r.u32();
        std::string text = r.str();
        if (r.ok && index >= 1 && index <= b.paths.size())
            out->push_back({b.paths[index - 1], code, std::move(text)});
    }
}

void handle_verify_done(sockmsg_session_type *s, sockmsg_call_type *, const uint8_t *data, uint32_t len, void *)
{
    nodra_wire_reader r(data, len);
    commit_rec *c = answered(s, r, phase_type::verify);
    if (c == nullptr)
        return;
    collect(r, c->batches[c->next], &c->failures);
    c->waiting = false;
    ++c->next;
    commit_advance();
}

void handle_apply_done(sockmsg_session_type *s, sockmsg_call_type *, const uint8_t *data, uint32_t len, void *)
{
    nodra_wire_reader r(data, len);
    commit_rec *c = answered(s, r, phase_type::apply);
    if (c == nullptr)
        return;
    if (r.u8() != 0) {
        c->pending = true;
        ++status_of(c->seq).parked;
        svc->parked_batches[{c->seq, static_cast<uint32_t>(c->next)}] = parked_rec{s, c->batches[c->next].paths};
    }
    collect(r, c->batches[c->next], &c->warnings);
    c->waiting = false;
    ++c->next;
    commit_advance();
}

void handle_apply_resumed(sockmsg_session_type *s, sockmsg_call_type *, const uint8_t *data, uint32_t len, void *)
{
    nodra_wire_reader r(data, len);
    const uint32_t seq = r.u32();
    const uint32_t batch = r.u32();
    auto it = svc->parked_batches.find({seq, batch});
    if (!r.ok || it == svc->parked_batches.end() || it->second.session != s)
        return;
    batch_rec paths{0, {}, std::move(it->second.paths), {}};
    svc->parked_batches.erase(it);
    auto st = svc->statuses.find(seq);
    if (st == svc->statuses.end())
        return; // long forgotten
    collect(r, paths, &st->second.warnings);
    if (st->second.parked > 0 && --st->second.parked == 0 && st->second.answered &&
        st->second.outcome == NODRA_COMMIT_PENDING)
        st->second.outcome = NODRA_COMMIT_APPLIED;
}

void handle_commit_status(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *data, uint32_t len, void *)
{
    nodra_wire_reader r(data, len);
    const uint32_t seq = r.u32();
    if (!r.done()) {
        reply(call, NODRA_ERR_INVALID);
        return;
    }
    auto st = svc->statuses.find(seq);
    if (st == svc->statuses.end() || !st->second.answered) {
        reply(call, NODRA_ERR_NOT_FOUND);
        return;
    }
    nodra_wire_writer w;
    put_status(w, seq, st->second);
    reply(call, ZERR_OK, &w);
}

// Does another batch of this sequence still come to this process: a verify batch not yet sent,
// or, while verifying, the apply batches that follow an accepted commit.
void handle_batch_follows(sockmsg_session_type *s, sockmsg_call_type *call, const uint8_t *data, uint32_t len, void *)
{
    nodra_wire_reader r(data, len);
    const uint32_t seq = r.u32();
    if (!r.done()) {
        reply(call, NODRA_ERR_INVALID);
        return;
    }
    const int32_t pid = sockmsg_session_peer(s)->pid;
    bool follows = false;
    if (!svc->commits.empty() && svc->commits.front()->seq == seq) {
        const commit_rec *c = svc->commits.front().get();
        for (size_t i = 0; i < c->batches.size(); ++i) {
            auto it = svc->regs.find(c->batches[i].reg);
            if (it == svc->regs.end() || it->second.pid != pid)
                continue;
            // While verifying, each batch of this process still has its apply batch to come.
            if (c->phase == phase_type::verify || i > c->next)
                follows = true;
        }
    }
    nodra_wire_writer w;
    w.u8(follows ? 1 : 0);
    reply(call, ZERR_OK, &w);
}

// ---- registrations -----------------------------------------------------------------------------

// A verifier coming back: the same process (name and node) registering the same patterns.
bool same_verifier(const reg_rec &a, const reg_rec &b)
{
    return a.node == b.node && a.name == b.name && a.bind == b.bind && a.pattern_texts == b.pattern_texts;
}

void handle_register(sockmsg_session_type *s, sockmsg_call_type *call, const uint8_t *data, uint32_t len, void *)
{
    nodra_wire_reader r(data, len);
    reg_rec reg{};
    reg.kind = r.u32();
    reg.bind = r.str();
    const uint32_t n = r.count(4);
    for (uint32_t i = 0; i < n && r.ok; ++i) {
        reg.pattern_texts.push_back(r.str());
        reg.patterns.push_back(pattern_parse(reg.pattern_texts.back()));
    }
    reg.events = r.u32();
    reg.options = r.u32();
    reg.order = r.i32();
    if (!r.done() || !dir_path_valid(reg.bind) || reg.patterns.empty() || reg.kind < NODRA_REG_NOTIFY ||
        reg.kind > NODRA_REG_EDM) {
        reply(call, NODRA_ERR_INVALID);
        return;
    }
    reg.id = svc->next_reg++;
    reg.session = s;
    reg.pid = sockmsg_session_peer(s)->pid;
    if (const nodra_service_scope_td *scope = item_scope.load(); scope != nullptr && scope->client != nullptr)
        reg.scoped = scope->client(reg.pid, &reg.node, &reg.name);
    if (reg.kind == NODRA_REG_VERIFY && reg.scoped)
        std::erase_if(svc->down, [&](const reg_rec &d) { return same_verifier(d, reg); }); // it is back
    const reg_rec &stored = svc->regs.emplace(reg.id, std::move(reg)).first->second;

    // The new client learns the configuration it registered for as it stands. A verifier that
    // comes while a commit is being applied takes that commit too: it is stored, and its apply
    // batches were made before this client came (a notification registration hears of it when
    // the commit's notifications go out).
    std::map<std::string, const item_rec *> current;
    for (auto it = svc->items.lower_bound(stored.bind); it != svc->items.end() && it->first.starts_with(stored.bind);
         ++it)
        current[it->first] = &it->second;
    if (stored.kind == NODRA_REG_VERIFY && !svc->commits.empty() && svc->commits.front()->phase == phase_type::apply)
        for (const change_rec &ch : svc->commits.front()->changes) {
            if (!ch.path.starts_with(stored.bind))
                continue;
            if (ch.event == NODRA_EVENT_DELETE)
                current.erase(ch.path);
            else
                current[ch.path] = &ch.new_item;
        }
    nodra_wire_writer w;
    w.u32(stored.id);
    w.u32(svc->seq);
    std::vector<nodra_wire_item> replay;
    if (stored.kind != NODRA_REG_EDM)
        for (const auto &[path, item] : current) {
            const bool mine = stored.kind == NODRA_REG_VERIFY ? verify_owner(stored, path) : reg_matches(stored, path);
            if (mine && (stored.events & NODRA_EVENT_CREATE) != 0)
                replay.push_back(wire_item(path.substr(stored.bind.size()), NODRA_EVENT_CREATE, nullptr, item));
        }
    w.u32(static_cast<uint32_t>(replay.size()));
    for (const nodra_wire_item &item : replay)
        nodra_wire_put_item(w, item);
    reply(call, ZERR_OK, &w);
}

void registration_drop(uint32_t id)
{
    svc->regs.erase(id);
    if (svc->commits.empty())
        return;
    // A commit waiting for an answer from a registration that is gone goes on without it (a verify
    // batch's items refused).
    commit_rec *c = svc->commits.front().get();
    if (c->waiting && c->next < c->batches.size() && c->batches[c->next].reg == id) {
        batch_unanswered(c, c->batches[c->next]);
        c->waiting = false;
        ++c->next;
        commit_advance();
    }
}

void handle_unregister(sockmsg_session_type *s, sockmsg_call_type *call, const uint8_t *data, uint32_t len, void *)
{
    nodra_wire_reader r(data, len);
    const uint32_t id = r.u32();
    auto it = svc->regs.find(id);
    if (!r.done() || it == svc->regs.end() || it->second.session != s) {
        reply(call, NODRA_ERR_NOT_FOUND);
        return;
    }
    registration_drop(id);
    reply(call, ZERR_OK);
}

void edm_finish(edm_wait &wait, zerrno status);

void disconnect(sockmsg_session_type *s, void *, void *)
{
    std::vector<uint32_t> mine;
    for (const auto &[id, reg] : svc->regs)
        if (reg.session == s)
            mine.push_back(id);
    // A verifier of the manager's that did not unregister ended unexpectedly: it is started again,
    // and until it is back nobody verifies its items.
    for (uint32_t id : mine) {
        const reg_rec &r = svc->regs.at(id);
        if (r.kind != NODRA_REG_VERIFY || !r.scoped)
            continue;
        std::erase_if(svc->down, [&](const reg_rec &d) { return same_verifier(d, r); });
        svc->down.push_back(r);
        svc->down.back().session = nullptr;
    }
    for (uint32_t id : mine)
        registration_drop(id);
    // Its parked applies never complete: their commits stay pending.
    std::erase_if(svc->parked_batches, [s](const auto &entry) { return entry.second.session == s; });
    // Requests waiting on this provider are answered as not found (its part of a chassis-wide
    // listing is empty). Finishing one may answer a whole listing and drop its other waits.
    std::vector<uint32_t> waiting;
    for (const auto &[id, wait] : svc->edm_waits)
        if (wait.provider == s)
            waiting.push_back(id);
    for (uint32_t id : waiting) {
        auto it = svc->edm_waits.find(id);
        if (it == svc->edm_waits.end())
            continue;
        edm_wait wait = std::move(it->second);
        svc->edm_waits.erase(it);
        edm_finish(wait, NODRA_ERR_EDM_NOT_FOUND);
    }
}

// ---- reads -------------------------------------------------------------------------------------

// The operational provider for an absolute path: the one with the longest binding.
const reg_rec *provider_for(std::string_view path)
{
    const reg_rec *best = nullptr;
    for (const auto &[id, reg] : svc->regs)
        if (reg.kind == NODRA_REG_EDM && reg_matches(reg, path) &&
            (best == nullptr || reg.bind.size() > best->bind.size()))
            best = &reg;
    return best;
}

// Every provider of a listing of dir: the registrations with the longest binding that holds dir,
// one per client (each node's agent serves its own interfaces below one shared binding).
std::vector<const reg_rec *> listing_providers(const std::string &dir)
{
    std::vector<const reg_rec *> found;
    const reg_rec *best = provider_for(dir + "x");
    if (best == nullptr || dir.size() < best->bind.size())
        return found;
    std::set<sockmsg_session_type *> clients;
    for (const auto &[id, reg] : svc->regs)
        if (reg.kind == NODRA_REG_EDM && reg.bind == best->bind && reg_matches(reg, dir + "x") &&
            clients.insert(reg.session).second)
            found.push_back(&reg);
    return found;
}

void edm_send(edm_wait wait, const std::string *start_key)
{
    const uint32_t id = svc->next_edm++;
    nodra_wire_writer w;
    w.u32(id);
    w.u32(wait.reg);
    w.u32(wait.op);
    w.str(wait.path);
    w.u32(wait.type);
    w.str(wait.value);
    w.u32(0); // options
    const bool listing = wait.op == NODRA_EDM_OP_LIST || wait.op == NODRA_EDM_OP_DATALIST;
    w.u32(listing ? edm_page_size.load() : 0);
    w.u8(start_key != nullptr ? 1 : 0);
    w.str(start_key != nullptr ? *start_key : std::string());
    sockmsg_session_type *provider = wait.provider;
    svc->edm_waits[id] = std::move(wait);
    notice(provider, NODRA_MSG_EDM_REQUEST, w);
}

void edm_forward(const reg_rec *p, sockmsg_call_type *call, uint32_t op, std::string_view path, uint32_t type,
                 std::string_view value, uint32_t group = 0)
{
    edm_wait wait;
    wait.group = group;
    wait.call = call;
    wait.provider = p->session;
    wait.op = op;
    wait.reg = p->id;
    wait.path = path.substr(p->bind.size());
    wait.type = type;
    wait.value = value;
    edm_send(std::move(wait), nullptr);
}

// A listing, in the form the asker reads.
template <typename Entries>
void edm_list_reply(sockmsg_call_type *call, uint32_t op, const Entries &entries, auto entry_of)
{
    nodra_wire_writer w;
    w.u32(static_cast<uint32_t>(entries.size()));
    for (const auto &item : entries) {
        const edm_entry &e = entry_of(item);
        w.str(e.name);
        if (op == NODRA_EDM_OP_DATALIST) {
            w.u32(e.type);
            w.str(e.value);
        }
    }
    reply(call, ZERR_OK, &w);
}

bool edm_absent(zerrno status)
{
    return status == NODRA_ERR_EDM_NOT_FOUND || status == NODRA_ERR_NOT_FOUND;
}

// Answers a chassis-wide listing with what its providers gave so far; a provider still listing
// is left out, its later pages dropped.
void edm_group_answer(uint32_t id)
{
    auto it = svc->edm_groups.find(id);
    if (it == svc->edm_groups.end())
        return;
    edm_group g = std::move(it->second);
    svc->edm_groups.erase(it);
    evm_alarm_free(g.alarm);
    std::erase_if(svc->edm_waits, [id](const auto &entry) { return entry.second.group == id; });
    if (g.bytes > edm_listing_bytes_max)
        reply(g.call, NODRA_ERR_NO_MEMORY);
    else if (!g.entries.empty())
        edm_list_reply(g.call, g.op, g.entries, [](const auto &item) -> const edm_entry & { return item.second; });
    else
        reply(g.call, g.failure != ZERR_OK ? g.failure : NODRA_ERR_EDM_NOT_FOUND);
}

void edm_group_expired(evm_alarm_type *, void *context)
{
    edm_group_answer(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(context)));
}

// One provider's request is over: status 0 with its (listing's) entries, or why not.
void edm_finish(edm_wait &wait, zerrno status)
{
    if (wait.group == 0) {
        if (status != ZERR_OK)
            reply(wait.call, status);
        else
            edm_list_reply(wait.call, wait.op, wait.entries, [](const edm_entry &e) -> const edm_entry & { return e; });
        return;
    }
    auto it = svc->edm_groups.find(wait.group);
    if (it == svc->edm_groups.end())
        return;
    edm_group &g = it->second;
    if (status == ZERR_OK) {
        for (edm_entry &e : wait.entries) {
            g.bytes += e.name.size() + e.value.size() + 12;
            g.entries.emplace(e.name, std::move(e));
        }
    } else if (!edm_absent(status) && g.failure == ZERR_OK) {
        g.failure = status;
    }
    if (--g.outstanding == 0)
        edm_group_answer(wait.group);
}

void handle_edm_done(sockmsg_session_type *s, sockmsg_call_type *, const uint8_t *data, uint32_t len, void *)
{
    nodra_wire_reader r(data, len);
    const uint32_t id = r.u32();
    const uint32_t status = r.u32();
    auto it = svc->edm_waits.find(id);
    if (!r.ok || it == svc->edm_waits.end() || it->second.provider != s)
        return;
    edm_wait wait = std::move(it->second);
    svc->edm_waits.erase(it);
    const bool listing = wait.op == NODRA_EDM_OP_LIST || wait.op == NODRA_EDM_OP_DATALIST;
    if (!listing) {
        // The provider's answer is in the form the asker expects; pass it on as it is.
        sockmsg_reply(wait.call, status, r.p, r.left);
        return;
    }
    if (status != ZERR_OK) {
        // A later page that finds nothing ends the listing.
        edm_finish(wait, wait.paging && edm_absent(status) ? ZERR_OK : status);
        return;
    }
    const uint32_t n = r.count(wait.op == NODRA_EDM_OP_DATALIST ? 12 : 4);
    std::vector<edm_entry> page;
    for (uint32_t i = 0; i < n && r.ok; ++i) {
        edm_entry e{r.str(), 0, {}};
        if (wait.op == NODRA_EDM_OP_DATALIST) {
            e.type = r.u32();
            e.value = r.str();
        }
        page.push_back(std::move(e));
    }
    const bool more = r.u8() != 0;
    if (!r.done()) {
        edm_finish(wait, NODRA_ERR_INVALID);
        return;
    }
    // A provider that starts a page at the start key itself repeats it: each name counts once.
    const std::string *last = nullptr;
    for (edm_entry &e : page) {
        if (!wait.names.insert(e.name).second)
            continue;
        wait.bytes += e.name.size() + e.value.size() + 12;
        wait.entries.push_back(std::move(e));
        last = &wait.entries.back().name;
    }
    if (wait.bytes > edm_listing_bytes_max) {
        edm_finish(wait, NODRA_ERR_NO_MEMORY);
        return;
    }
    if (!more || last == nullptr) {
        edm_finish(wait, ZERR_OK);
        return;
    }
    wait.paging = true;
    const std::string start = *last;
    edm_send(std::move(wait), &start);
}

// A list or data list of dir from its providers: one provider's listing as it gives it, several
// providers' as their union.
void edm_forward_listing(const std::vector<const reg_rec *> &providers, sockmsg_call_type *call, uint32_t op,
                         const std::string &dir, const std::string &pattern)
{
    if (providers.size() == 1) {
        edm_forward(providers.front(), call, op, dir, 0, pattern);
        return;
    }
    const uint32_t id = svc->next_group++;
    edm_group &g = svc->edm_groups[id];
    g.call = call;
    g.op = op;
    g.outstanding = static_cast<uint32_t>(providers.size());
    g.alarm = evm_alarm_new(svc->evm, edm_group_expired, reinterpret_cast<void *>(static_cast<uintptr_t>(id)));
    if (g.alarm != nullptr)
        evm_alarm_set(g.alarm, plat_clock_mono_ns() + uint64_t{edm_group_wait_ms.load()} * 1000000u);
    for (const reg_rec *p : providers)
        edm_forward(p, call, op, dir, 0, pattern, id);
}

// The names directly below dir: stored items, and bindings of providers below it.
std::set<std::string> names_below(const std::string &dir)
{
    std::set<std::string> names;
    for (auto it = svc->items.lower_bound(dir); it != svc->items.end() && it->first.starts_with(dir); ++it) {
        std::string_view rest = std::string_view(it->first).substr(dir.size());
        names.emplace(rest.substr(0, rest.find('/')));
    }
    for (const auto &[id, reg] : svc->regs)
        if (reg.kind == NODRA_REG_EDM && reg.bind.size() > dir.size() && reg.bind.starts_with(dir)) {
            std::string_view rest = std::string_view(reg.bind).substr(dir.size());
            names.emplace(rest.substr(0, rest.find('/')));
        }
    return names;
}

void handle_list(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *data, uint32_t len, void *)
{
    nodra_wire_reader r(data, len);
    std::string dir = r.str();
    std::string pattern = r.str();
    if (!r.done() || !dir_path_valid(dir)) {
        reply(call, NODRA_ERR_INVALID);
        return;
    }
    // A path inside a provider's binding is the provider's to list, unless providers are bound
    // below it (the nodes under "node/", say): then their bindings are the names.
    bool bound_below = false;
    for (const auto &[id, reg] : svc->regs)
        bound_below =
            bound_below || (reg.kind == NODRA_REG_EDM && reg.bind.size() > dir.size() && reg.bind.starts_with(dir));
    if (const std::vector<const reg_rec *> providers = listing_providers(dir); !bound_below && !providers.empty()) {
        edm_forward_listing(providers, call, NODRA_EDM_OP_LIST, dir, pattern);
        return;
    }
    nodra_wire_writer w;
    std::vector<std::string> names;
    for (const std::string &name : names_below(dir))
        if (pattern.empty() || fnmatch(pattern.c_str(), name.c_str(), 0) == 0)
            names.push_back(name);
    if (names.empty()) {
        reply(call, NODRA_ERR_NOT_FOUND);
        return;
    }
    w.u32(static_cast<uint32_t>(names.size()));
    for (const std::string &name : names)
        w.str(name);
    reply(call, ZERR_OK, &w);
}

void handle_item_get(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *data, uint32_t len, void *)
{
    nodra_wire_reader r(data, len);
    std::string path = r.str();
    if (!r.done() || path.empty() || path.front() != '/') {
        reply(call, NODRA_ERR_INVALID);
        return;
    }
    if (const reg_rec *p = provider_for(path)) {
        edm_forward(p, call, NODRA_EDM_OP_GET, path, 0, {});
        return;
    }
    auto it = svc->items.find(path);
    if (it == svc->items.end()) {
        reply(call, NODRA_ERR_NOT_FOUND);
        return;
    }
    nodra_wire_writer w;
    w.u32(it->second.type);
    w.str(it->second.value);
    reply(call, ZERR_OK, &w);
}

void handle_datalist(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *data, uint32_t len, void *)
{
    nodra_wire_reader r(data, len);
    std::string dir = r.str();
    std::string pattern = r.str();
    if (!r.done() || !dir_path_valid(dir)) {
        reply(call, NODRA_ERR_INVALID);
        return;
    }
    if (const std::vector<const reg_rec *> providers = listing_providers(dir); !providers.empty()) {
        edm_forward_listing(providers, call, NODRA_EDM_OP_DATALIST, dir, pattern);
        return;
    }
    std::vector<std::pair<std::string, const item_rec *>> entries;
    for (auto it = svc->items.lower_bound(dir); it != svc->items.end() && it->first.starts_with(dir); ++it) {
        std::string name = it->first.substr(dir.size());
        if (name.find('/') == std::string::npos && (pattern.empty() || fnmatch(pattern.c_str(), name.c_str(), 0) == 0))
            entries.emplace_back(std::move(name), &it->second);
    }
    if (entries.empty()) {
        reply(call, NODRA_ERR_NOT_FOUND);
        return;
    }
    nodra_wire_writer w;
    w.u32(static_cast<uint32_t>(entries.size()));
    for (const auto &[name, item] : entries) {
        w.str(name);
        w.u32(item->type);
        w.str(item->value);
    }
    reply(call, ZERR_OK, &w);
}

void handle_item_set(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *data, uint32_t len, void *)
{
    nodra_wire_reader r(data, len);
    std::string path = r.str();
    const uint32_t type = r.u32();
    std::string value = r.str();
    if (!r.done() || !item_path_valid(path)) {
        reply(call, NODRA_ERR_INVALID);
        return;
    }
    if (const reg_rec *p = provider_for(path)) {
        edm_forward(p, call, NODRA_EDM_OP_SET, path, type, value);
        return;
    }
    reply(call, NODRA_ERR_NOT_FOUND);
}

void handle_show(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *data, uint32_t len, void *)
{
    nodra_wire_reader r(data, len);
    std::string prefix = r.str();
    if (!r.done()) {
        reply(call, NODRA_ERR_INVALID);
        return;
    }
    nodra_wire_writer w;
    std::vector<const std::pair<const std::string, item_rec> *> found;
    for (auto it = svc->items.lower_bound(prefix); it != svc->items.end() && it->first.starts_with(prefix); ++it)
        if (it->first.starts_with("/cfg/"))
            found.push_back(&*it);
    w.u32(svc->seq);
    w.u32(static_cast<uint32_t>(found.size()));
    for (const auto *e : found) {
        w.str(e->first);
        w.u32(e->second.type);
        w.str(e->second.value);
    }
    reply(call, ZERR_OK, &w);
}

// A provider's notifications: each record is an item below its binding.
void handle_generate(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *data, uint32_t len, void *)
{
    nodra_wire_reader r(data, len);
    std::string bind = r.str();
    const uint32_t n = r.count(16);
    std::vector<std::pair<std::string, item_rec>> records;
    std::vector<uint32_t> kinds;
    for (uint32_t i = 0; i < n && r.ok; ++i) {
        std::string item = r.str();
        kinds.push_back(r.u32());
        const uint32_t type = r.u32();
        records.emplace_back(bind + item, item_rec{type, r.str()});
    }
    if (!r.done() || !dir_path_valid(bind)) {
        reply(call, NODRA_ERR_INVALID);
        return;
    }
    std::vector<std::tuple<std::string, uint32_t, const item_rec *, const item_rec *>> notes;
    for (size_t i = 0; i < records.size(); ++i)
        notes.emplace_back(records[i].first, kinds[i] != 0 ? kinds[i] : NODRA_EVENT_SET, nullptr, &records[i].second);
    notify_changes(svc->seq, notes);
    reply(call, ZERR_OK);
}

// ---- test control ------------------------------------------------------------------------------

void handle_test_set(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *data, uint32_t len, void *)
{
    nodra_wire_reader r(data, len);
    std::string path = r.str();
    item_rec item{r.u32(), {}};
    item.value = r.str();
    if (!r.done() || !item_path_valid(path)) {
        reply(call, NODRA_ERR_INVALID);
        return;
    }
    zerrno err = store_write({{path, &item}}, svc->seq);
    if (err == ZERR_OK)
        svc->items[path] = std::move(item);
    reply(call, err);
}

void handle_test_remove(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *data, uint32_t len, void *)
{
    nodra_wire_reader r(data, len);
    std::string path = r.str();
    if (!r.done() || path.empty()) {
        reply(call, NODRA_ERR_INVALID);
        return;
    }
    std::vector<std::string> gone;
    if (path.back() == '/') {
        for (auto it = svc->items.lower_bound(path); it != svc->items.end() && it->first.starts_with(path); ++it)
            gone.push_back(it->first);
    } else if (svc->items.count(path) != 0) {
        gone.push_back(path);
    }
    if (gone.empty()) {
        reply(call, NODRA_ERR_NOT_FOUND);
        return;
    }
    std::vector<std::pair<std::string, const item_rec *>> writes;
    for (const std::string &p : gone)
        writes.emplace_back(p, nullptr);
    zerrno err = store_write(writes, svc->seq);
    if (err == ZERR_OK)
        for (const std::string &p : gone)
            svc->items.erase(p);
    reply(call, err);
}

void handle_test_reset(sockmsg_session_type *, sockmsg_call_type *call, const uint8_t *, uint32_t, void *)
{
    edm_page_size = edm_page_default;
    std::vector<std::pair<std::string, const item_rec *>> writes;
    for (const auto &[path, item] : svc->items)
        writes.emplace_back(path, nullptr);
    zerrno err = store_write(writes, svc->seq);
    if (err == ZERR_OK)
        svc->items.clear();
    reply(call, err);
}

constexpr sockmsg_handler_row rows[] = {
    {NODRA_MSG_LIST, handle_list},
    {NODRA_MSG_ITEM_GET, handle_item_get},
    {NODRA_MSG_DATALIST, handle_datalist},
    {NODRA_MSG_ITEM_SET, handle_item_set},
    {NODRA_MSG_COMMIT, handle_commit},
    {NODRA_MSG_SHOW, handle_show},
    {NODRA_MSG_REGISTER, handle_register},
    {NODRA_MSG_UNREGISTER, handle_unregister},
    {NODRA_MSG_BATCH_FOLLOWS, handle_batch_follows},
    {NODRA_MSG_GENERATE, handle_generate},
    {NODRA_MSG_TEST_SET, handle_test_set},
    {NODRA_MSG_TEST_REMOVE, handle_test_remove},
    {NODRA_MSG_TEST_RESET, handle_test_reset},
    {NODRA_MSG_VERIFY_DONE, handle_verify_done},
    {NODRA_MSG_APPLY_DONE, handle_apply_done},
    {NODRA_MSG_EDM_DONE, handle_edm_done},
    {NODRA_MSG_APPLY_RESUMED, handle_apply_resumed},
    {NODRA_MSG_COMMIT_STATUS, handle_commit_status},
};

const sockmsg_service_type service = {NODRA_SERVICE_ID, "nodra", rows, sizeof rows / sizeof rows[0],
                                      disconnect,       nullptr};

} // namespace

void nodra_test_set_list_page_size(uint32_t entries)
{
    edm_page_size = entries != 0 ? entries : edm_page_default;
}

void nodra_test_set_listing_wait_ms(uint32_t ms)
{
    edm_group_wait_ms = ms != 0 ? ms : edm_group_wait_default_ms;
}

const char *nodra_store_path()
{
    const char *env = getenv("PTP_NODRA_DB");
    return env != nullptr && env[0] != '\0' ? env : "/var/lib/ptp/nodra.db";
}

zerrno nodra_service_init(event_mgr_type *evm, sockmsg_server_type *server)
{
    return nodra_service_init_at(evm, server, nodra_store_path());
}

zerrno nodra_service_init_at(event_mgr_type *evm, sockmsg_server_type *server, const char *store_path)
{
    if (svc != nullptr)
        return NODRA_ERR_INVALID;
    svc = new service_type;
    svc->evm = evm;
    zerrno err = store_open(store_path);
    if (err == ZERR_OK)
        err = sockmsg_server_register(server, &service);
    if (err != ZERR_OK)
        nodra_service_shutdown();
    return err;
}

void nodra_service_set_scope(const nodra_service_scope_td *scope)
{
    item_scope.store(scope);
}

uint32_t nodra_service_sequence()
{
    return svc != nullptr ? svc->seq : 0;
}

void nodra_service_shutdown()
{
    if (svc == nullptr)
        return;
    for (auto &c : svc->commits)
        reply(c->call, NODRA_ERR_STORE);
    for (auto &[id, w] : svc->edm_waits)
        if (w.group == 0)
            reply(w.call, NODRA_ERR_EDM_NOT_FOUND);
    for (auto &[id, g] : svc->edm_groups) {
        evm_alarm_free(g.alarm);
        reply(g.call, NODRA_ERR_EDM_NOT_FOUND);
    }
    if (svc->db != nullptr)
        sqlite3_close(svc->db);
    delete svc;
    svc = nullptr;
}
