// Checkpoint service over SQLite. Records of an application are keyed by the owner (the process
// name) and the application name, so that a restarted process, or a standby instance of the
// same process, finds them. Every write is its own transaction: what a call reported as done
// survives a kill of the process.
#include "chkpt.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "chkpt_host.h"
#include "chkpt_test.h"
#include "sockmsg.h"
#include "sysmgr_host.h"

struct chkpt_tbl_type {
    chkpt_instance_type *instance = nullptr;
    chkpt_tbldesc_type desc{};
};

struct chkpt_iter_type {
    chkpt_tbl_type *table = nullptr;
    chkpt_objid last = 0;
};

namespace {

enum class role_type {
    NONE,
    ACTIVE,
    PRIMARY_ACTIVE
};

// A notice waiting for its instance's event manager.
struct notice_type {
    bool idt = false;
    uint32_t idt_event = 0;
    chkpt_ndt_type ndt{};
    std::vector<uint8_t> bytes;
};

} // namespace

struct chkpt_instance_type {
    std::string owner;
    std::string app; // owner + "/" + application name, once initialised
    bool initialised = false;
    chkpt_appdesc_type desc{};
    event_mgr_type *evm = nullptr;
    event_async_ctx_type event{};
    role_type role = role_type::NONE;
    std::map<uint32_t, chkpt_tbl_type *> tables;
    std::map<uint32_t, int32_t> idt_counts;
    std::deque<notice_type> notices;
    sockmsg_session_type *session = nullptr; // in the daemon: the instance of that client
    sockmsg_client_type *client = nullptr;   // in a process of the chassis: the daemon holds it
};

namespace {

constexpr size_t OP_COUNT = static_cast<size_t>(chkpt_test_op::COUNT);

struct service_type {
    std::recursive_mutex lock;
    sqlite3 *db = nullptr;
    std::string path; // empty: chkpt_store_path()
    chkpt_instance_type *own = nullptr;
    std::vector<chkpt_instance_type *> instances;
    std::array<zerrno, OP_COUNT> fail{};
    std::array<uint32_t, OP_COUNT> fail_count{};
    bool hosting = false;
    // Prepared statements by their text, kept for the life of the store's connection: preparing
    // one again for each of a burst of writes was a good part of what a write cost.
    std::map<const char *, sqlite3_stmt *> stmts;
};

service_type &service()
{
    static service_type s;
    return s;
}

thread_local chkpt_instance_type *current_instance = nullptr;

std::string default_owner()
{
    const char *name = getenv("PTP_PROC_NAME");
    if (name != nullptr && name[0] != '\0')
        return name;
    return program_invocation_short_name;
}

// The calling thread's instance (caller holds the lock).
chkpt_instance_type *current(service_type &s)
{
    if (current_instance != nullptr)
        return current_instance;
    if (s.own == nullptr) {
        s.own = new chkpt_instance_type;
        s.own->owner = default_owner();
        s.instances.push_back(s.own);
    }
    return s.own;
}

zerrno injected(service_type &s, chkpt_test_op op)
{
    const size_t i = static_cast<size_t>(op);
    if (s.fail_count[i] == 0)
        return 0;
    s.fail_count[i]--;
    return s.fail[i];
}

// ---- Store ------------------------------------------------------------------------------------

const char *const schema = "PRAGMA journal_mode=WAL;"
                           "PRAGMA synchronous=NORMAL;"
                           "CREATE TABLE IF NOT EXISTS app (name TEXT PRIMARY KEY, next_id INTEGER NOT NULL);"
                           "CREATE TABLE IF NOT EXISTS tbl (app TEXT NOT NULL, id INTEGER NOT NULL,"
                           " PRIMARY KEY (app, id));"
                           "CREATE TABLE IF NOT EXISTS rec (app TEXT NOT NULL, tbl INTEGER NOT NULL,"
                           " objid INTEGER NOT NULL, key INTEGER NOT NULL, data BLOB,"
                           " PRIMARY KEY (app, objid));"
                           "CREATE INDEX IF NOT EXISTS rec_by_table ON rec (app, tbl, objid);";

// The run folder is private to the user that runs the chassis.
bool make_private_dir(const std::string &dir)
{
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st {};
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 077) == 0;
}

zerrno store_open(service_type &s)
{
    if (s.db != nullptr)
        return 0;
    std::string path = s.path.empty() ? chkpt_store_path() : s.path;
    if (s.path.empty() && getenv("PTP_CHKPT_DB") == nullptr) {
        const size_t slash = path.rfind('/');
        if (slash != std::string::npos && !make_private_dir(path.substr(0, slash)))
            return CHKPT_ERR_STORAGE;
    }
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return CHKPT_ERR_STORAGE;
    }
    sqlite3_busy_timeout(db, 5000);
    if (sqlite3_exec(db, schema, nullptr, nullptr, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return CHKPT_ERR_STORAGE;
    }
    if (path != ":memory:")
        chmod(path.c_str(), 0600);
    s.db = db;
    return 0;
}

// One prepared statement, reset on scope exit and kept for the next use of the same text; one
// whose kept statement is in use (a nested use) is prepared for the scope alone.
struct stmt_type {
    sqlite3_stmt *st = nullptr;
    const char *kept = nullptr; // the text it is kept under
    stmt_type(sqlite3 *db, const char *sql)
    {
        auto &stmts = service().stmts;
        const auto it = stmts.find(sql);
        if (it != stmts.end() && it->second != nullptr) {
            st = std::exchange(it->second, nullptr); // null while in use
            kept = sql;
            return;
        }
        const bool keep = it == stmts.end();
        if (sqlite3_prepare_v3(db, sql, -1, keep ? SQLITE_PREPARE_PERSISTENT : 0, &st, nullptr) != SQLITE_OK) {
            sqlite3_finalize(st);
            st = nullptr;
            return;
        }
        if (keep) {
            stmts.emplace(sql, nullptr);
            kept = sql;
        }
    }
    ~stmt_type()
    {
        if (kept == nullptr) {
            sqlite3_finalize(st);
            return;
        }
        sqlite3_reset(st);
        sqlite3_clear_bindings(st);
        service().stmts[kept] = st;
    }
    stmt_type(const stmt_type &) = delete;
    stmt_type &operator=(const stmt_type &) = delete;
    bool ok() const { return st != nullptr; }
    void text(int i, const std::string &v) { sqlite3_bind_text(st, i, v.c_str(), -1, SQLITE_TRANSIENT); }
    void integer(int i, uint64_t v) { sqlite3_bind_int64(st, i, static_cast<sqlite3_int64>(v)); }
    int step() { return sqlite3_step(st); }
};

// Closes the store's connection and the statements kept on it.
void store_close(service_type &s)
{
    for (auto &[text, st] : s.stmts)
        sqlite3_finalize(st);
    s.stmts.clear();
    if (s.db != nullptr)
        sqlite3_close(s.db);
    s.db = nullptr;
}

zerrno store_exec(service_type &s, const char *sql)
{
    return sqlite3_exec(s.db, sql, nullptr, nullptr, nullptr) == SQLITE_OK ? 0 : CHKPT_ERR_STORAGE;
}

std::vector<uint32_t> store_tables(service_type &s, const std::string &app)
{
    std::vector<uint32_t> ids;
    stmt_type q(s.db, "SELECT id FROM tbl WHERE app = ?1 ORDER BY id");
    if (!q.ok())
        return ids;
    q.text(1, app);
    while (q.step() == SQLITE_ROW)
        ids.push_back(static_cast<uint32_t>(sqlite3_column_int64(q.st, 0)));
    return ids;
}

// A record's bytes (found: true).
bool store_read(service_type &s, const std::string &app, uint32_t table, chkpt_objid objid, std::vector<uint8_t> *out)
{
    stmt_type q(s.db, "SELECT data FROM rec WHERE app = ?1 AND tbl = ?2 AND objid = ?3");
    if (!q.ok())
        return false;
    q.text(1, app);
    q.integer(2, table);
    q.integer(3, objid);
    if (q.step() != SQLITE_ROW)
        return false;
    const auto *p = static_cast<const uint8_t *>(sqlite3_column_blob(q.st, 0));
    const int n = sqlite3_column_bytes(q.st, 0);
    out->assign(p, p + (p == nullptr ? 0 : n));
    return true;
}

// ---- Notices ----------------------------------------------------------------------------------

int notice_event(const event_async_ctx_type *, int32_t, void *context)
{
    auto *inst = static_cast<chkpt_instance_type *>(context);
    service_type &s = service();
    notice_type n;
    chkpt_idt_fn idt = nullptr;
    chkpt_ndt_fn ndt = nullptr;
    {
        std::lock_guard<std::recursive_mutex> g(s.lock);
        if (inst->notices.empty())
            return 0;
        n = std::move(inst->notices.front());
        inst->notices.pop_front();
        idt = inst->desc.idt_cb;
        ndt = inst->desc.ndt_cb;
    }
    if (n.idt) {
        if (idt != nullptr)
            idt(n.idt_event);
    } else if (ndt != nullptr) {
        n.ndt.data = n.bytes.empty() ? nullptr : n.bytes.data();
        n.ndt.length = static_cast<uint32_t>(n.bytes.size());
        ndt(&n.ndt);
    }
    return 0;
}

void be32(std::vector<uint8_t> &b, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        b.push_back(static_cast<uint8_t>(v >> shift));
}
void be64(std::vector<uint8_t> &b, uint64_t v)
{
    be32(b, static_cast<uint32_t>(v >> 32));
    be32(b, static_cast<uint32_t>(v));
}
uint32_t rd32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}
uint64_t rd64(const uint8_t *p)
{
    return static_cast<uint64_t>(rd32(p)) << 32 | rd32(p + 4);
}

void post(chkpt_instance_type *inst, notice_type n)
{
    if (inst->session != nullptr) {
        std::vector<uint8_t> b;
        if (n.idt) {
            be32(b, n.idt_event);
            sockmsg_notify(inst->session, CHKPT_SERVICE_ID, CHKPT_WIRE_IDT, b.data(), 4);
        } else {
            be32(b, n.ndt.type);
            be32(b, n.ndt.table_id);
            be64(b, n.ndt.objid);
            b.insert(b.end(), n.bytes.begin(), n.bytes.end());
            sockmsg_notify(inst->session, CHKPT_SERVICE_ID, CHKPT_WIRE_NDT, b.data(), static_cast<uint32_t>(b.size()));
        }
        return;
    }
    inst->notices.push_back(std::move(n));
    event_send_async(inst->event.coid, inst->event.code, 0);
}

void post_idt(chkpt_instance_type *inst, uint32_t table)
{
    notice_type n;
    n.idt = true;
    n.idt_event = table;
    post(inst, std::move(n));
    inst->idt_counts[table]++;
    notice_type end;
    end.idt = true;
    end.idt_event = CHKPT_IDT_END;
    post(inst, std::move(end));
}

// Change notices go to every standby (active, not primary) instance of the same application.
void post_ndt(service_type &s, const chkpt_instance_type *from, uint32_t type, uint32_t table, chkpt_objid objid,
              const void *data, size_t length)
{
    for (chkpt_instance_type *inst : s.instances) {
        if (inst == from || !inst->initialised || inst->app != from->app || inst->role != role_type::ACTIVE)
            continue;
        notice_type n;
        n.ndt.type = type;
        n.ndt.table_id = table;
        n.ndt.objid = objid;
        const auto *p = static_cast<const uint8_t *>(data);
        if (p != nullptr)
            n.bytes.assign(p, p + length);
        post(inst, std::move(n));
    }
}

// ---- Common checks ----------------------------------------------------------------------------

zerrno table_check(service_type &s, chkpt_tbl_type *table)
{
    if (table == nullptr || table->instance == nullptr || !table->instance->initialised)
        return CHKPT_ERR_INVALID;
    return store_open(s);
}

zerrno write_check(service_type &s, chkpt_tbl_type *table, chkpt_test_op op)
{
    if (const zerrno rc = injected(s, op); rc != 0)
        return rc;
    if (const zerrno rc = table_check(s, table); rc != 0)
        return rc;
    return table->instance->role == role_type::PRIMARY_ACTIVE ? 0 : CHKPT_ERR_NOT_PRIMARY;
}

void instance_clear(chkpt_instance_type *inst)
{
    if (inst->client != nullptr)
        sockmsg_client_close(inst->client);
    inst->client = nullptr;
    if (inst->initialised && inst->evm != nullptr)
        event_async_attach(inst->evm, inst->event.code, nullptr, nullptr);
    for (auto &[id, t] : inst->tables) {
        t->instance = nullptr; // a handle kept by the caller is refused from now on
        delete t;
    }
    inst->tables.clear();
    inst->notices.clear();
    inst->idt_counts.clear();
    inst->initialised = false;
    inst->role = role_type::NONE;
}

} // namespace

// ---- Client side: an instance held by the daemon ---------------------------------------------------

namespace {

bool remote_wanted(service_type &s)
{
    if (s.hosting || current_instance != nullptr)
        return false;
    const char *node = getenv("PTP_NODE");
    return node != nullptr && node[0] != '\0';
}

// One request to the daemon; the reply's bytes in *reply when asked for.
zerrno remote_call(chkpt_instance_type *inst, uint16_t type, const std::vector<uint8_t> &req,
                   std::vector<uint8_t> *reply = nullptr)
{
    uint32_t status = 0;
    const zerrno rc = sockmsg_client_call(inst->client, CHKPT_SERVICE_ID, type, req.data(),
                                          static_cast<uint32_t>(req.size()), &status, reply);
    return rc != 0 ? CHKPT_ERR_STORAGE : status;
}

std::vector<uint8_t> table_req(const chkpt_tbl_type *t)
{
    std::vector<uint8_t> b;
    be32(b, t->desc.table_id);
    return b;
}

// Notices of the daemon, on the instance's event manager.
void remote_notice(sockmsg_client_type *, uint16_t service_id, uint16_t type, const uint8_t *data, uint32_t length,
                   void *context)
{
    auto *inst = static_cast<chkpt_instance_type *>(context);
    if (service_id != CHKPT_SERVICE_ID)
        return;
    if (type == CHKPT_WIRE_IDT && length == 4) {
        const uint32_t event = rd32(data);
        {
            service_type &s = service();
            std::lock_guard<std::recursive_mutex> g(s.lock);
            if (event != CHKPT_IDT_END)
                inst->idt_counts[event]++;
        }
        if (inst->desc.idt_cb != nullptr)
            inst->desc.idt_cb(event);
    } else if (type == CHKPT_WIRE_NDT && length >= 16) {
        chkpt_ndt_type n{};
        n.type = rd32(data);
        n.table_id = rd32(data + 4);
        n.objid = rd64(data + 8);
        n.data = length > 16 ? data + 16 : nullptr;
        n.length = length - 16;
        if (inst->desc.ndt_cb != nullptr)
            inst->desc.ndt_cb(&n);
    }
}

zerrno remote_init(chkpt_instance_type *inst, event_mgr_type *evm, const chkpt_appdesc_type *desc)
{
    if (sockmsg_client_connect(plat_socket_path(), evm, remote_notice, nullptr, inst, &inst->client) != 0) {
        inst->client = nullptr;
        return CHKPT_ERR_STORAGE;
    }
    std::vector<uint8_t> req;
    be32(req, desc->flags);
    be32(req, desc->word1);
    be32(req, desc->word2);
    req.insert(req.end(), desc->name, desc->name + sizeof desc->name);
    req.insert(req.end(), inst->owner.begin(), inst->owner.end());
    inst->desc = *desc;
    const zerrno rc = remote_call(inst, CHKPT_WIRE_INIT, req);
    if (rc != 0) {
        sockmsg_client_close(inst->client);
        inst->client = nullptr;
        return rc;
    }
    inst->evm = evm;
    inst->app = inst->owner + "/" + desc->name;
    inst->initialised = true;
    return 0;
}

// The record bytes of a reply into the caller's buffer.
zerrno remote_copy(const std::vector<uint8_t> &reply, size_t skip, void *buffer, uint32_t *length)
{
    const std::vector<uint8_t> bytes(reply.begin() + static_cast<long>(skip), reply.end());
    if (bytes.size() > *length) {
        *length = static_cast<uint32_t>(bytes.size());
        return CHKPT_ERR_TOO_BIG;
    }
    if (!bytes.empty())
        memcpy(buffer, bytes.data(), bytes.size());
    *length = static_cast<uint32_t>(bytes.size());
    return 0;
}

} // namespace

// ---- Descriptors and roles --------------------------------------------------------------------

void chkpt_appdesc_init(chkpt_appdesc_type *desc)
{
    if (desc != nullptr)
        *desc = chkpt_appdesc_type{};
}

void chkpt_tbldesc_init(chkpt_tbldesc_type *desc)
{
    if (desc != nullptr)
        *desc = chkpt_tbldesc_type{};
}

zerrno chkpt_init(event_mgr_type *evm, const chkpt_appdesc_type *desc)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (const zerrno rc = injected(s, chkpt_test_op::INIT); rc != 0)
        return rc;
    if (evm == nullptr || desc == nullptr || strnlen(desc->name, sizeof desc->name) == 0 ||
        strnlen(desc->name, sizeof desc->name) == sizeof desc->name)
        return CHKPT_ERR_INVALID;
    chkpt_instance_type *inst = current(s);
    if (inst->initialised)
        return CHKPT_ERR_EXISTS;
    if (remote_wanted(s))
        return remote_init(inst, evm, desc);
    if (const zerrno rc = store_open(s); rc != 0)
        return rc;
    if (event_async_attach_event(evm, 0, notice_event, inst, &inst->event) < 0)
        return CHKPT_ERR_NO_MEMORY;
    inst->desc = *desc;
    inst->evm = evm;
    inst->app = inst->owner + "/" + desc->name;
    inst->initialised = true;
    inst->role = role_type::NONE;
    return 0;
}

zerrno chkpt_go_active(void)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (const zerrno rc = injected(s, chkpt_test_op::GO_ACTIVE); rc != 0)
        return rc;
    chkpt_instance_type *inst = current(s);
    if (!inst->initialised)
        return CHKPT_ERR_NOT_INIT;
    if (inst->client != nullptr)
        return remote_call(inst, CHKPT_WIRE_GO_ACTIVE, {});
    inst->role = role_type::ACTIVE;
    // The transfer: every table the application has, each followed by its end; with no table
    // at all one end tells the standby that nothing is coming.
    const std::vector<uint32_t> tables = store_tables(s, inst->app);
    for (uint32_t t : tables)
        post_idt(inst, t);
    if (tables.empty()) {
        notice_type end;
        end.idt = true;
        end.idt_event = CHKPT_IDT_END;
        post(inst, std::move(end));
    }
    return 0;
}

zerrno chkpt_go_primary_active(void)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (const zerrno rc = injected(s, chkpt_test_op::GO_PRIMARY_ACTIVE); rc != 0)
        return rc;
    chkpt_instance_type *inst = current(s);
    if (!inst->initialised)
        return CHKPT_ERR_NOT_INIT;
    if (inst->client != nullptr)
        return remote_call(inst, CHKPT_WIRE_GO_PRIMARY, {});
    inst->role = role_type::PRIMARY_ACTIVE;
    return 0;
}

// ---- Tables -----------------------------------------------------------------------------------

zerrno chkpt_register(const chkpt_tbldesc_type *desc, chkpt_tbl_type **out)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (const zerrno rc = injected(s, chkpt_test_op::REGISTER); rc != 0)
        return rc;
    if (desc == nullptr || out == nullptr || desc->record_size == 0)
        return CHKPT_ERR_INVALID;
    chkpt_instance_type *inst = current(s);
    if (!inst->initialised)
        return CHKPT_ERR_NOT_INIT;
    if (inst->tables.count(desc->table_id) != 0)
        return CHKPT_ERR_EXISTS;
    if (inst->client != nullptr) {
        std::vector<uint8_t> req;
        for (uint32_t w : {desc->table_id, desc->reserved0, desc->record_size, desc->flags, desc->max_records,
                           desc->role, desc->no_checkpoint})
            be32(req, w);
        if (const zerrno rc = remote_call(inst, CHKPT_WIRE_REGISTER, req); rc != 0)
            return rc;
        auto *t = new chkpt_tbl_type;
        t->instance = inst;
        t->desc = *desc;
        inst->tables[desc->table_id] = t;
        *out = t;
        return 0;
    }
    stmt_type q(s.db, "INSERT OR IGNORE INTO tbl (app, id) VALUES (?1, ?2)");
    if (!q.ok())
        return CHKPT_ERR_STORAGE;
    q.text(1, inst->app);
    q.integer(2, desc->table_id);
    if (q.step() != SQLITE_DONE)
        return CHKPT_ERR_STORAGE;
    const bool new_table = sqlite3_changes(s.db) > 0;
    auto *t = new chkpt_tbl_type;
    t->instance = inst;
    t->desc = *desc;
    inst->tables[desc->table_id] = t;
    // A table the primary adds later is transferred to the standbys that are already active.
    if (new_table && inst->role == role_type::PRIMARY_ACTIVE)
        for (chkpt_instance_type *other : s.instances)
            if (other != inst && other->initialised && other->app == inst->app && other->role == role_type::ACTIVE)
                post_idt(other, desc->table_id);
    *out = t;
    return 0;
}

zerrno chkpt_unregister(chkpt_tbl_type *table)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (table == nullptr || table->instance == nullptr)
        return CHKPT_ERR_INVALID;
    if (table->instance->client != nullptr)
        remote_call(table->instance, CHKPT_WIRE_UNREGISTER, table_req(table));
    table->instance->tables.erase(table->desc.table_id);
    delete table;
    return 0;
}

// ---- Writes -----------------------------------------------------------------------------------

zerrno chkpt_create(chkpt_tbl_type *table, uint32_t key, chkpt_objid *out)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (out == nullptr)
        return CHKPT_ERR_INVALID;
    if (table != nullptr && table->instance != nullptr && table->instance->client != nullptr) {
        std::vector<uint8_t> req = table_req(table), reply;
        be32(req, key);
        if (const zerrno rc = remote_call(table->instance, CHKPT_WIRE_CREATE, req, &reply); rc != 0)
            return rc;
        if (reply.size() != 8)
            return CHKPT_ERR_STORAGE;
        *out = rd64(reply.data());
        return 0;
    }
    if (const zerrno rc = write_check(s, table, chkpt_test_op::CREATE); rc != 0)
        return rc;
    chkpt_instance_type *inst = table->instance;
    if (table->desc.max_records != 0) {
        stmt_type q(s.db, "SELECT COUNT(*) FROM rec WHERE app = ?1 AND tbl = ?2");
        if (!q.ok())
            return CHKPT_ERR_STORAGE;
        q.text(1, inst->app);
        q.integer(2, table->desc.table_id);
        if (q.step() != SQLITE_ROW)
            return CHKPT_ERR_STORAGE;
        if (static_cast<uint64_t>(sqlite3_column_int64(q.st, 0)) >= table->desc.max_records)
            return CHKPT_ERR_FULL;
    }
    if (store_exec(s, "BEGIN IMMEDIATE") != 0)
        return CHKPT_ERR_STORAGE;
    chkpt_objid id = 0;
    bool ok = false;
    {
        stmt_type up(s.db, "INSERT INTO app (name, next_id) VALUES (?1, 2) "
                           "ON CONFLICT(name) DO UPDATE SET next_id = next_id + 1 RETURNING next_id - 1");
        if (up.ok()) {
            up.text(1, inst->app);
            if (up.step() == SQLITE_ROW)
                id = static_cast<chkpt_objid>(sqlite3_column_int64(up.st, 0));
        }
        if (id != 0) {
            stmt_type ins(s.db, "INSERT INTO rec (app, tbl, objid, key, data) VALUES (?1, ?2, ?3, ?4, NULL)");
            if (ins.ok()) {
                ins.text(1, inst->app);
                ins.integer(2, table->desc.table_id);
                ins.integer(3, id);
                ins.integer(4, key);
                ok = ins.step() == SQLITE_DONE;
            }
        }
    }
    if (!ok || store_exec(s, "COMMIT") != 0) {
        store_exec(s, "ROLLBACK");
        return CHKPT_ERR_STORAGE;
    }
    post_ndt(s, inst, CHKPT_NDT_SAVE, table->desc.table_id, id, nullptr, 0);
    *out = id;
    return 0;
}

zerrno chkpt_save(chkpt_tbl_type *table, chkpt_objid objid, const void *data, size_t length)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (objid == 0 || (data == nullptr && length != 0))
        return CHKPT_ERR_INVALID;
    if (table != nullptr && table->instance != nullptr && table->instance->client != nullptr) {
        if (length > table->desc.record_size)
            return CHKPT_ERR_TOO_BIG;
        std::vector<uint8_t> req = table_req(table);
        be64(req, objid);
        const auto *p = static_cast<const uint8_t *>(data);
        if (length > 0)
            req.insert(req.end(), p, p + length);
        return remote_call(table->instance, CHKPT_WIRE_SAVE, req);
    }
    if (const zerrno rc = write_check(s, table, chkpt_test_op::SAVE); rc != 0)
        return rc;
    if (length > table->desc.record_size)
        return CHKPT_ERR_TOO_BIG;
    stmt_type q(s.db, "UPDATE rec SET data = ?4 WHERE app = ?1 AND tbl = ?2 AND objid = ?3");
    if (!q.ok())
        return CHKPT_ERR_STORAGE;
    q.text(1, table->instance->app);
    q.integer(2, table->desc.table_id);
    q.integer(3, objid);
    sqlite3_bind_blob(q.st, 4, length == 0 ? "" : data, static_cast<int>(length), SQLITE_TRANSIENT);
    if (q.step() != SQLITE_DONE)
        return CHKPT_ERR_STORAGE;
    if (sqlite3_changes(s.db) == 0)
        return CHKPT_ERR_NOT_FOUND;
    post_ndt(s, table->instance, CHKPT_NDT_SAVE, table->desc.table_id, objid, data, length);
    return 0;
}

zerrno chkpt_delete(chkpt_tbl_type *table, chkpt_objid objid)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (objid == 0)
        return CHKPT_ERR_INVALID;
    if (table != nullptr && table->instance != nullptr && table->instance->client != nullptr) {
        std::vector<uint8_t> req = table_req(table);
        be64(req, objid);
        return remote_call(table->instance, CHKPT_WIRE_DELETE, req);
    }
    if (const zerrno rc = write_check(s, table, chkpt_test_op::DELETE); rc != 0)
        return rc;
    stmt_type q(s.db, "DELETE FROM rec WHERE app = ?1 AND tbl = ?2 AND objid = ?3");
    if (!q.ok())
        return CHKPT_ERR_STORAGE;
    q.text(1, table->instance->app);
    q.integer(2, table->desc.table_id);
    q.integer(3, objid);
    if (q.step() != SQLITE_DONE)
        return CHKPT_ERR_STORAGE;
    if (sqlite3_changes(s.db) == 0)
        return CHKPT_ERR_NOT_FOUND;
    post_ndt(s, table->instance, CHKPT_NDT_DELETE, table->desc.table_id, objid, nullptr, 0);
    return 0;
}

// ---- Reads ------------------------------------------------------------------------------------

namespace {

zerrno copy_out(const std::vector<uint8_t> &bytes, void *buffer, uint32_t *length)
{
    if (bytes.size() > *length) {
        *length = static_cast<uint32_t>(bytes.size());
        return CHKPT_ERR_TOO_BIG;
    }
    if (!bytes.empty())
        memcpy(buffer, bytes.data(), bytes.size());
    *length = static_cast<uint32_t>(bytes.size());
    return 0;
}

} // namespace

zerrno chkpt_get(chkpt_tbl_type *table, chkpt_objid objid, void *buffer, uint32_t *length)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (length == nullptr || (buffer == nullptr && *length != 0))
        return CHKPT_ERR_INVALID;
    if (const zerrno rc = injected(s, chkpt_test_op::GET); rc != 0)
        return rc;
    if (table != nullptr && table->instance != nullptr && table->instance->client != nullptr) {
        std::vector<uint8_t> req = table_req(table), reply;
        be64(req, objid);
        if (const zerrno rc = remote_call(table->instance, CHKPT_WIRE_GET, req, &reply); rc != 0)
            return rc;
        return remote_copy(reply, 0, buffer, length);
    }
    if (const zerrno rc = table_check(s, table); rc != 0)
        return rc;
    std::vector<uint8_t> bytes;
    if (!store_read(s, table->instance->app, table->desc.table_id, objid, &bytes))
        return CHKPT_ERR_NOT_FOUND;
    return copy_out(bytes, buffer, length);
}

zerrno chkpt_get_bykey(chkpt_tbl_type *table, uint32_t key, chkpt_objid *objid, void *buffer, uint32_t *length)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (objid == nullptr || length == nullptr || (buffer == nullptr && *length != 0))
        return CHKPT_ERR_INVALID;
    if (const zerrno rc = injected(s, chkpt_test_op::GET); rc != 0)
        return rc;
    if (table != nullptr && table->instance != nullptr && table->instance->client != nullptr) {
        std::vector<uint8_t> req = table_req(table), reply;
        be32(req, key);
        if (const zerrno rc = remote_call(table->instance, CHKPT_WIRE_GET_BYKEY, req, &reply); rc != 0)
            return rc;
        if (reply.size() < 8)
            return CHKPT_ERR_STORAGE;
        *objid = rd64(reply.data());
        return remote_copy(reply, 8, buffer, length);
    }
    if (const zerrno rc = table_check(s, table); rc != 0)
        return rc;
    stmt_type q(s.db, "SELECT objid, data FROM rec WHERE app = ?1 AND tbl = ?2 AND key = ?3 ORDER BY objid LIMIT 1");
    if (!q.ok())
        return CHKPT_ERR_STORAGE;
    q.text(1, table->instance->app);
    q.integer(2, table->desc.table_id);
    q.integer(3, key);
    if (q.step() != SQLITE_ROW)
        return CHKPT_ERR_NOT_FOUND;
    const auto *p = static_cast<const uint8_t *>(sqlite3_column_blob(q.st, 1));
    std::vector<uint8_t> bytes(p, p + (p == nullptr ? 0 : sqlite3_column_bytes(q.st, 1)));
    *objid = static_cast<chkpt_objid>(sqlite3_column_int64(q.st, 0));
    return copy_out(bytes, buffer, length);
}

zerrno chkpt_iterate_start(chkpt_tbl_type *table, chkpt_iter_type **out)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (out == nullptr)
        return CHKPT_ERR_INVALID;
    if (const zerrno rc = injected(s, chkpt_test_op::ITERATE_START); rc != 0)
        return rc;
    if (table == nullptr || table->instance == nullptr)
        return CHKPT_ERR_INVALID;
    if (const zerrno rc = table->instance->client != nullptr ? 0 : table_check(s, table); rc != 0)
        return rc;
    *out = new chkpt_iter_type{table, 0};
    return 0;
}

zerrno chkpt_iterate_next(chkpt_iter_type *iter, chkpt_objid *objid, void *buffer, uint16_t *length)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (iter == nullptr || objid == nullptr || length == nullptr || (buffer == nullptr && *length != 0))
        return CHKPT_ERR_INVALID;
    *objid = 0;
    if (const zerrno rc = injected(s, chkpt_test_op::ITERATE_NEXT); rc != 0)
        return rc;
    if (iter->table != nullptr && iter->table->instance != nullptr && iter->table->instance->client != nullptr) {
        std::vector<uint8_t> req = table_req(iter->table), reply;
        be64(req, iter->last);
        if (const zerrno rc = remote_call(iter->table->instance, CHKPT_WIRE_NEXT, req, &reply); rc != 0)
            return rc;
        if (reply.size() < 8)
            return CHKPT_ERR_STORAGE;
        const chkpt_objid id = rd64(reply.data());
        if (id == 0) {
            *length = 0;
            return 0;
        }
        iter->last = id;
        uint32_t len = *length;
        const zerrno rc = remote_copy(reply, 8, buffer, &len);
        *length = static_cast<uint16_t>(len > UINT16_MAX ? UINT16_MAX : len);
        if (rc == 0)
            *objid = id;
        return rc;
    }
    if (const zerrno rc = table_check(s, iter->table); rc != 0)
        return rc;
    stmt_type q(s.db, "SELECT objid, data FROM rec WHERE app = ?1 AND tbl = ?2 AND objid > ?3 ORDER BY objid LIMIT 1");
    if (!q.ok())
        return CHKPT_ERR_STORAGE;
    q.text(1, iter->table->instance->app);
    q.integer(2, iter->table->desc.table_id);
    q.integer(3, iter->last);
    const int step = q.step();
    if (step == SQLITE_DONE) {
        *length = 0;
        return 0;
    }
    if (step != SQLITE_ROW)
        return CHKPT_ERR_STORAGE;
    const chkpt_objid id = static_cast<chkpt_objid>(sqlite3_column_int64(q.st, 0));
    const auto *p = static_cast<const uint8_t *>(sqlite3_column_blob(q.st, 1));
    std::vector<uint8_t> bytes(p, p + (p == nullptr ? 0 : sqlite3_column_bytes(q.st, 1)));
    iter->last = id;
    uint32_t len = *length;
    const zerrno rc = copy_out(bytes, buffer, &len);
    *length = static_cast<uint16_t>(len > UINT16_MAX ? UINT16_MAX : len);
    if (rc == 0)
        *objid = id;
    return rc;
}

void chkpt_iterate_end(chkpt_iter_type *iter)
{
    delete iter;
}

zerrno chkpt_get_stby_idt_count(uint32_t table_id, int32_t *count)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (count == nullptr)
        return CHKPT_ERR_INVALID;
    chkpt_instance_type *inst = current(s);
    if (!inst->initialised)
        return CHKPT_ERR_NOT_INIT;
    // A client of the daemon counts the transfers as their notices arrive.
    const auto it = inst->idt_counts.find(table_id);
    *count = it == inst->idt_counts.end() ? 0 : it->second;
    return 0;
}

const char *chkpt_store_path(void)
{
    static thread_local std::string path;
    const char *db = getenv("PTP_CHKPT_DB");
    if (db != nullptr && db[0] != '\0')
        return db;
    const char *run = getenv("PTP_RUN_DIR");
    path = run != nullptr && run[0] != '\0' ? std::string(run) : std::string("/run/ptp");
    path += "/chkpt.db";
    return path.c_str();
}

// ---- Test control -----------------------------------------------------------------------------

void chkpt_test_reset(const char *path)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    for (chkpt_instance_type *inst : s.instances) {
        instance_clear(inst);
        delete inst;
    }
    s.instances.clear();
    s.own = nullptr;
    current_instance = nullptr;
    store_close(s);
    s.path = path == nullptr ? "" : path;
    s.fail = {};
    s.fail_count = {};
}

void chkpt_test_fail(chkpt_test_op op, zerrno code, uint32_t count)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    const size_t i = static_cast<size_t>(op);
    if (i >= OP_COUNT)
        return;
    s.fail[i] = code;
    s.fail_count[i] = count;
}

chkpt_instance_type *chkpt_test_instance_new(const char *owner)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    auto *inst = new chkpt_instance_type;
    inst->owner = owner == nullptr ? default_owner() : owner;
    s.instances.push_back(inst);
    return inst;
}

void chkpt_test_instance_use(chkpt_instance_type *instance)
{
    current_instance = instance;
}

void chkpt_test_instance_free(chkpt_instance_type *instance)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    for (auto it = s.instances.begin(); it != s.instances.end(); ++it) {
        if (*it == instance) {
            s.instances.erase(it);
            break;
        }
    }
    if (current_instance == instance)
        current_instance = nullptr;
    if (s.own == instance)
        s.own = nullptr;
    instance_clear(instance);
    delete instance;
}

size_t chkpt_test_record_count(uint32_t table_id)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    chkpt_instance_type *inst = current(s);
    if (!inst->initialised || store_open(s) != 0)
        return 0;
    stmt_type q(s.db, "SELECT COUNT(*) FROM rec WHERE app = ?1 AND tbl = ?2");
    if (!q.ok())
        return 0;
    q.text(1, inst->app);
    q.integer(2, table_id);
    return q.step() == SQLITE_ROW ? static_cast<size_t>(sqlite3_column_int64(q.st, 0)) : 0;
}

// ---- Daemon side: one instance per client ----------------------------------------------------------

namespace {

event_mgr_type *host_evm = nullptr;

void reply(sockmsg_call_type *call, zerrno status, const std::vector<uint8_t> &data = {})
{
    if (call != nullptr)
        sockmsg_reply(call, status, data.empty() ? nullptr : data.data(), static_cast<uint32_t>(data.size()));
}

chkpt_tbl_type *session_table(chkpt_instance_type *inst, const uint8_t *data)
{
    const auto it = inst->tables.find(rd32(data));
    return it == inst->tables.end() ? nullptr : it->second;
}

void host_init(sockmsg_session_type *session, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (length < 12 + 24 + 1 || length > 12 + 24 + 64)
        return reply(call, CHKPT_ERR_INVALID);
    if (sockmsg_session_state(session, CHKPT_SERVICE_ID) != nullptr)
        return reply(call, CHKPT_ERR_EXISTS);
    std::string owner(reinterpret_cast<const char *>(data + 36), length - 36);
    if (owner.find('\0') != std::string::npos || owner.find('/') != std::string::npos)
        return reply(call, CHKPT_ERR_INVALID);
    // A process the daemon started is the process it started, whatever name it gives.
    sysmgr_host_owner_of(sockmsg_session_peer(session)->pid, &owner);
    chkpt_appdesc_type desc{};
    desc.flags = rd32(data);
    desc.word1 = rd32(data + 4);
    desc.word2 = rd32(data + 8);
    memcpy(desc.name, data + 12, sizeof desc.name);
    auto *inst = chkpt_test_instance_new(owner.c_str());
    inst->session = session;
    current_instance = inst;
    const zerrno rc = chkpt_init(host_evm, &desc);
    current_instance = nullptr;
    if (rc != 0) {
        chkpt_test_instance_free(inst);
        return reply(call, rc);
    }
    sockmsg_session_set_state(session, CHKPT_SERVICE_ID, inst);
    reply(call, 0);
}

// Runs a call of chkpt.h as the client's instance.
void host_request(chkpt_instance_type *inst, sockmsg_call_type *call, const uint8_t *data, uint32_t length,
                  uint16_t type)
{
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    current_instance = inst;
    zerrno rc = 0;
    std::vector<uint8_t> out;
    if (inst == nullptr) {
        rc = CHKPT_ERR_NOT_INIT;
    } else if (type == CHKPT_WIRE_GO_ACTIVE) {
        rc = chkpt_go_active();
    } else if (type == CHKPT_WIRE_GO_PRIMARY) {
        rc = chkpt_go_primary_active();
    } else if (type == CHKPT_WIRE_REGISTER) {
        if (length != 28) {
            rc = CHKPT_ERR_INVALID;
        } else {
            chkpt_tbldesc_type d{rd32(data),      rd32(data + 4),  rd32(data + 8), rd32(data + 12),
                                 rd32(data + 16), rd32(data + 20), rd32(data + 24)};
            chkpt_tbl_type *t = nullptr;
            rc = chkpt_register(&d, &t);
        }
    } else if (length < 4) {
        rc = CHKPT_ERR_INVALID;
    } else if (chkpt_tbl_type *t = session_table(inst, data); t == nullptr) {
        rc = CHKPT_ERR_INVALID; // not a table this client registered
    } else if (type == CHKPT_WIRE_UNREGISTER) {
        rc = length == 4 ? chkpt_unregister(t) : CHKPT_ERR_INVALID;
    } else if (type == CHKPT_WIRE_CREATE) {
        chkpt_objid id = 0;
        rc = length == 8 ? chkpt_create(t, rd32(data + 4), &id) : CHKPT_ERR_INVALID;
        if (rc == 0)
            be64(out, id);
    } else if (type == CHKPT_WIRE_SAVE) {
        rc = length >= 12 ? chkpt_save(t, rd64(data + 4), data + 12, length - 12) : CHKPT_ERR_INVALID;
    } else if (type == CHKPT_WIRE_DELETE) {
        rc = length == 12 ? chkpt_delete(t, rd64(data + 4)) : CHKPT_ERR_INVALID;
    } else if (type == CHKPT_WIRE_GET || type == CHKPT_WIRE_NEXT || type == CHKPT_WIRE_GET_BYKEY) {
        std::vector<uint8_t> buf(t->desc.record_size);
        uint32_t len = t->desc.record_size;
        if (type == CHKPT_WIRE_GET) {
            rc = length == 12 ? chkpt_get(t, rd64(data + 4), buf.data(), &len) : CHKPT_ERR_INVALID;
        } else if (type == CHKPT_WIRE_GET_BYKEY) {
            chkpt_objid id = 0;
            rc = length == 8 ? chkpt_get_bykey(t, rd32(data + 4), &id, buf.data(), &len) : CHKPT_ERR_INVALID;
            if (rc == 0)
                be64(out, id);
        } else if (length != 12) {
            rc = CHKPT_ERR_INVALID;
        } else {
            // Stateless for the daemon: the client says which record it had last.
            chkpt_iter_type it{t, rd64(data + 4)};
            chkpt_objid id = 0;
            uint16_t len16 = static_cast<uint16_t>(std::min<uint32_t>(len, UINT16_MAX));
            rc = chkpt_iterate_next(&it, &id, buf.data(), &len16);
            if (rc == CHKPT_ERR_TOO_BIG)
                rc = 0, id = it.last, len16 = 0; // the client moves past it
            len = len16;
            be64(out, id);
        }
        if (rc == 0)
            out.insert(out.end(), buf.begin(), buf.begin() + len);
    } else if (type == CHKPT_WIRE_IDT_COUNT) {
        int32_t count = 0;
        rc = chkpt_get_stby_idt_count(rd32(data), &count);
        be32(out, static_cast<uint32_t>(count));
    } else {
        rc = CHKPT_ERR_INVALID;
    }
    current_instance = nullptr;
    reply(call, rc, out);
}

// The store's work runs on a thread of its own, in the order the requests came, so that a burst
// of checkpoint writes does not hold the daemon's event loop (and with it the configuration
// commits and the group messages the chassis waits for). A client's instance is freed there too,
// after its last request.
struct host_job {
    chkpt_instance_type *inst;
    bool free_instance;
    sockmsg_call_type *call; // null for a send: nothing is answered
    uint16_t type;
    std::vector<uint8_t> data;
};

struct host_worker_type {
    std::mutex lock;
    std::condition_variable wake;
    std::deque<host_job> jobs;
    bool stopping = false;
    std::thread thread;
};

host_worker_type *worker = nullptr; // set and cleared on the daemon's thread

void worker_run(host_worker_type *w)
{
    set_thread_name("chkpt-store");
    std::unique_lock<std::mutex> g(w->lock);
    for (;;) {
        w->wake.wait(g, [w] { return w->stopping || !w->jobs.empty(); });
        if (w->jobs.empty())
            return; // stopping, and every job done
        host_job job = std::move(w->jobs.front());
        w->jobs.pop_front();
        g.unlock();
        if (job.free_instance)
            chkpt_test_instance_free(job.inst);
        else
            host_request(job.inst, job.call, job.data.data(), static_cast<uint32_t>(job.data.size()), job.type);
        g.lock();
    }
}

void worker_push(host_job job)
{
    {
        std::lock_guard<std::mutex> g(worker->lock);
        worker->jobs.push_back(std::move(job));
    }
    worker->wake.notify_one();
}

template <uint16_t TYPE>
void host_handler(sockmsg_session_type *session, sockmsg_call_type *call, const uint8_t *data, uint32_t length, void *)
{
    auto *inst = static_cast<chkpt_instance_type *>(sockmsg_session_state(session, CHKPT_SERVICE_ID));
    if (inst == nullptr || worker == nullptr)
        return host_request(inst, call, data, length, TYPE);
    worker_push({inst, false, call, TYPE, std::vector<uint8_t>(data, data + length)});
}

void host_disconnect(sockmsg_session_type *, void *state, void *)
{
    if (state == nullptr)
        return;
    auto *inst = static_cast<chkpt_instance_type *>(state);
    if (worker == nullptr)
        return chkpt_test_instance_free(inst);
    worker_push({inst, true, nullptr, 0, {}});
}

const sockmsg_handler_row host_rows[] = {
    {CHKPT_WIRE_INIT, host_init},
    {CHKPT_WIRE_GO_ACTIVE, host_handler<CHKPT_WIRE_GO_ACTIVE>},
    {CHKPT_WIRE_GO_PRIMARY, host_handler<CHKPT_WIRE_GO_PRIMARY>},
    {CHKPT_WIRE_REGISTER, host_handler<CHKPT_WIRE_REGISTER>},
    {CHKPT_WIRE_UNREGISTER, host_handler<CHKPT_WIRE_UNREGISTER>},
    {CHKPT_WIRE_CREATE, host_handler<CHKPT_WIRE_CREATE>},
    {CHKPT_WIRE_SAVE, host_handler<CHKPT_WIRE_SAVE>},
    {CHKPT_WIRE_DELETE, host_handler<CHKPT_WIRE_DELETE>},
    {CHKPT_WIRE_GET, host_handler<CHKPT_WIRE_GET>},
    {CHKPT_WIRE_GET_BYKEY, host_handler<CHKPT_WIRE_GET_BYKEY>},
    {CHKPT_WIRE_NEXT, host_handler<CHKPT_WIRE_NEXT>},
    {CHKPT_WIRE_IDT_COUNT, host_handler<CHKPT_WIRE_IDT_COUNT>},
};
const sockmsg_service_type host_service = {CHKPT_SERVICE_ID, "chkpt", host_rows, sizeof host_rows / sizeof host_rows[0],
                                           host_disconnect,  nullptr};

} // namespace

zerrno chkpt_host_init(event_mgr_type *evm, sockmsg_server_type *server)
{
    service_type &s = service();
    {
        std::lock_guard<std::recursive_mutex> g(s.lock);
        s.hosting = true;
        host_evm = evm;
        if (const zerrno rc = store_open(s); rc != 0)
            return rc;
    }
    if (worker == nullptr) {
        worker = new host_worker_type;
        worker->thread = std::thread(worker_run, worker);
    }
    return sockmsg_server_register(server, &host_service);
}

void chkpt_host_shutdown(void)
{
    // The requests taken before the server stopped are answered, and every instance freed.
    if (worker != nullptr) {
        {
            std::lock_guard<std::mutex> g(worker->lock);
            worker->stopping = true;
        }
        worker->wake.notify_one();
        worker->thread.join();
        delete worker;
        worker = nullptr;
    }
    service_type &s = service();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    s.hosting = false;
    host_evm = nullptr;
}
