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
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "chkpt_test.h"

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

// One prepared statement, finalised on scope exit.
struct stmt_type {
    sqlite3_stmt *st = nullptr;
    stmt_type(sqlite3 *db, const char *sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK)
            st = nullptr;
    }
    ~stmt_type() { sqlite3_finalize(st); }
    stmt_type(const stmt_type &) = delete;
    stmt_type &operator=(const stmt_type &) = delete;
    bool ok() const { return st != nullptr; }
    void text(int i, const std::string &v) { sqlite3_bind_text(st, i, v.c_str(), -1, SQLITE_TRANSIENT); }
    void integer(int i, uint64_t v) { sqlite3_bind_int64(st, i, static_cast<sqlite3_int64>(v)); }
    int step() { return sqlite3_step(st); }
};

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

void post(chkpt_instance_type *inst, notice_type n)
{
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
    if (const zerrno rc = table_check(s, table); rc != 0)
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
    if (s.db != nullptr)
        sqlite3_close(s.db);
    s.db = nullptr;
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
