// The database's client library: bindings, reads, commits and registrations, over the platform
// daemon's socket. One connection per event manager that registrations call back on (so that
// each callback runs on its own manager, in the order the database sent them), and one for calls
// that need no callbacks.
#include "nodra.h"

#include <fnmatch.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "nodra_test.h"
#include "nodra_wire.h"
#include "sockmsg.h"

struct nodra_conn_td {
    std::string path; // absolute, ends with "/", "&&" expanded
    uint32_t mode;
};

struct nodra_list_td {
    std::vector<std::string> names;
    size_t next;
};

struct nodra_datalist_td {
    struct entry {
        std::string name;
        uint32_t type;
        std::string value;
    };
    std::vector<entry> entries;
    size_t next;
};

struct nodra_notify_batch_td {
    std::vector<nodra_wire_item> items;
    std::vector<nodra_event_info_td> infos;
    size_t next;
};

struct nodra_commit_td {
    nodra_wire_writer ops;
    uint32_t count = 0;
};

namespace {

constexpr const char *default_client_library = "/pkg/lib/libnodra.so";

struct failure_type {
    zerrno err = ZERR_OK;
    uint32_t count = 0;
    uint32_t after = 0;
};

constexpr size_t op_count = 6;

// A registration as this process made it.
struct local_reg {
    uint32_t kind;
    std::string bind;
    nodra_vrfn_fns_td vrfn{};
    nodra_notify_fn notify = nullptr;
    nodra_edm_fns_td edm{};
    void *context = nullptr;
    const void *parse_data = nullptr;
    const void *item_table = nullptr;
    sockmsg_client_type *conn = nullptr;
};

// One batch's items as the callbacks see them; kept while an apply is parked.
struct batch_run {
    uint32_t seq = 0;
    uint32_t batch = 0;
    uint32_t reg = 0;
    bool answer = true; // a commit waits for this batch's answer
    bool answered = false;
    size_t next = 0;
    std::vector<nodra_wire_item> items;
    std::vector<nodra_event_info_td> infos;
    std::vector<std::tuple<uint32_t, uint32_t, std::string>> issues;
    nodra_vrfn_fns_td fns{};
    void *context = nullptr;
    sockmsg_client_type *conn = nullptr;
};

struct edm_work {
    nodra_edm_request_td request{};
    uint32_t id = 0;
    std::string path;
    std::string pattern;
    std::string set_value;
    sockmsg_client_type *conn = nullptr;
    bool has_reply = false;
    uint32_t reply_type = 0;
    std::string reply;
    bool listing = false;
    bool more = false;
    std::string start_key;
    std::vector<std::tuple<std::string, uint32_t, std::string>> entries;
};

struct manager_conn {
    event_mgr_type *evm = nullptr;
    sockmsg_client_type *conn = nullptr;
};

struct client_type {
    std::mutex lock;
    std::optional<std::string> library_override;
    std::optional<std::string> socket_override;
    std::array<failure_type, op_count> failures{};
    uint32_t calls = 0;
    uint32_t open_bindings = 0;
    uint32_t open_lists = 0;
    // By the manager's coid, never reused (a destroyed manager's address may be a new one's); -1:
    // the connection without callbacks.
    std::map<int32_t, manager_conn> conns;
    std::map<uint32_t, local_reg> regs;
    std::map<const nodra_event_info_td *, batch_run *> parked;
    std::vector<const batch_run *> notifying; // batches whose notify callbacks run now
};

client_type &client()
{
    static client_type *c = new client_type; // outlives every static user
    return *c;
}

void register_zerr_tables()
{
    static const zerr_info_type rows[] = {
        {1, "Invalid argument to the database"},    {2, "Database out of memory"},
        {3, "No such item in the database"},        {4, "Database client library is not available"},
        {5, "The database cannot be reached"},      {6, "The database store failed"},
        {7, "The database did not answer in time"}, {33, "Database client library is not available"},
    };
    static const zerr_data_type table{2, "nodra", NODRA_ZERR_FACILITY, static_cast<uint32_t>(std::size(rows)), rows,
                                      0, 0};
    static const zerr_info_type edm_rows[] = {
        {2, "Unsupported operational request option"},
        {3, "No such operational item"},
        {9, "Apply completes later"},
    };
    static const zerr_data_type edm_table{2, "nodra_edm", NODRA_EDM_ZERR_FACILITY, 3, edm_rows, 0, 0};
    zerr_register(&table);
    zerr_register(&edm_table);
}

void init_once()
{
    static std::once_flag once;
    std::call_once(once, register_zerr_tables);
}

// Takes one injected failure of op, if any. Lock held.
zerrno injected(client_type &s, nodra_test_op op)
{
    failure_type &f = s.failures[static_cast<size_t>(op)];
    if (f.count == 0)
        return ZERR_OK;
    if (f.after > 0) {
        --f.after;
        return ZERR_OK;
    }
    --f.count;
    return f.err;
}

// Counts the call and takes one injected failure of op, if any. Lock held.
zerrno enter(client_type &s, nodra_test_op op)
{
    ++s.calls;
    return injected(s, op);
}

bool dir_path_valid(std::string_view path)
{
    if (path.empty() || path.front() != '/' || path.back() != '/')
        return false;
    return path.find("//") == std::string_view::npos;
}

std::string node_path()
{
    const char *env = getenv("PTP_NODE_ID");
    unsigned long id = env != nullptr && env[0] != '\0' ? strtoul(env, nullptr, 16) : 0;
    char text[32];
    snprintf(text, sizeof text, "node/%lx", id);
    return text;
}

std::string expand(std::string_view path)
{
    std::string out;
    for (size_t i = 0; i < path.size(); ++i) {
        if (path.substr(i, 2) == "&&") {
            out += node_path();
            ++i;
        } else {
            out += path[i];
        }
    }
    return out;
}

void on_notice(sockmsg_client_type *conn, uint16_t service, uint16_t type, const uint8_t *data, uint32_t length,
               void *context);

// The connection that calls back on evm (null: none), made on first use.
zerrno connection(event_mgr_type *evm, sockmsg_client_type **out)
{
    client_type &s = client();
    std::lock_guard guard(s.lock);
    // A connection whose manager is gone can run none of its callbacks: closed, the database
    // drops its registrations instead of waiting for their answers.
    std::erase_if(s.conns, [](const auto &entry) {
        if (entry.first < 0 || event_manager_alive(entry.first))
            return false;
        sockmsg_client_close(entry.second.conn);
        return true;
    });
    const int32_t key = event_manager_coid(evm);
    auto it = s.conns.find(key);
    if (it != s.conns.end()) {
        if (sockmsg_client_is_open(it->second.conn)) {
            *out = it->second.conn;
            return ZERR_OK;
        }
        // The daemon went away; its registrations went with it.
        sockmsg_client_close(it->second.conn);
        s.conns.erase(it);
    }
    const std::string path = s.socket_override ? *s.socket_override : std::string(plat_socket_path());
    sockmsg_client_type *c = nullptr;
    const zerrno err = sockmsg_client_connect(path.c_str(), evm, on_notice, nullptr, evm, &c);
    if (err != ZERR_OK)
        return NODRA_ERR_UNREACHABLE | (err & 0x1ff);
    s.conns[key] = manager_conn{evm, c};
    *out = c;
    return ZERR_OK;
}

// A request and its reply. The reply's status is the result.
zerrno call(event_mgr_type *evm, uint16_t type, const nodra_wire_writer &w, std::vector<uint8_t> *reply)
{
    sockmsg_client_type *c = nullptr;
    if (zerrno err = connection(evm, &c); err != ZERR_OK)
        return err;
    uint32_t status = 0;
    std::vector<uint8_t> scratch;
    zerrno err = sockmsg_client_call(c, NODRA_SERVICE_ID, type, w.out.data(), static_cast<uint32_t>(w.out.size()),
                                     &status, reply != nullptr ? reply : &scratch);
    if (err == SOCKMSG_ERR_TIMEOUT)
        return NODRA_ERR_TIMEOUT;
    if (err != ZERR_OK)
        return NODRA_ERR_UNREACHABLE | (err & 0x1ff);
    return status;
}

std::string relative_join(const nodra_conn_td *conn, const char *path)
{
    std::string out = conn->path;
    if (path != nullptr)
        out += path;
    return out;
}

// ---- batches -----------------------------------------------------------------------------------

void run_fill(batch_run *run)
{
    run->infos.resize(run->items.size());
    for (size_t i = 0; i < run->items.size(); ++i) {
        const nodra_wire_item &item = run->items[i];
        nodra_event_info_td &e = run->infos[i];
        e = {};
        e.path = item.path.c_str();
        e.event = item.event;
        e.datatype = item.type;
        e.old_data = item.has_old ? item.old_value.data() : nullptr;
        e.old_length = static_cast<uint32_t>(item.old_value.size());
        e.new_data = item.has_new ? item.new_value.data() : nullptr;
        e.new_length = static_cast<uint32_t>(item.new_value.size());
        e.sequence = run->seq;
        e.index = static_cast<uint32_t>(i + 1);
        e.count = static_cast<uint32_t>(run->items.size());
        e.batch = i + 1 == run->items.size() ? 1 : 0;
        e.registration = run->reg;
    }
}

void put_issues(nodra_wire_writer &w, const batch_run *run)
{
    w.u32(static_cast<uint32_t>(run->issues.size()));
    for (const auto &[index, code, text] : run->issues) {
        w.u32(index);
        w.u32(code);
        w.str(text);
    }
}

// A parked batch that completed: the resumed item's result and the warnings of the items after it.
void run_resumed(batch_run *run)
{
    if (!run->answer)
        return; // a replay: no commit waits
    nodra_wire_writer w;
    w.u32(run->seq);
    w.u32(run->batch);
    put_issues(w, run);
    sockmsg_client_send(run->conn, NODRA_SERVICE_ID, NODRA_MSG_APPLY_RESUMED, w.out.data(),
                        static_cast<uint32_t>(w.out.size()));
}

void run_answer(batch_run *run, uint16_t type, bool pending)
{
    if (!run->answer || run->answered)
        return;
    run->answered = true;
    nodra_wire_writer w;
    w.u32(run->seq);
    w.u32(run->batch);
    if (type == NODRA_MSG_APPLY_DONE)
        w.u8(pending ? 1 : 0);
    put_issues(w, run);
    sockmsg_client_send(run->conn, NODRA_SERVICE_ID, type, w.out.data(), static_cast<uint32_t>(w.out.size()));
    run->issues.clear(); // reported; a resumed batch reports what comes after
}

// Applies from run->next on; stops at a parked item. Frees the run when done.
void run_apply(batch_run *run)
{
    while (run->next < run->infos.size()) {
        const nodra_event_info_td *e = &run->infos[run->next++];
        const zerrno rc = run->fns.apply != nullptr ? run->fns.apply(e, run->context) : ZERR_OK;
        if (rc == NODRA_ERR_APPLY_PENDING) {
            {
                client_type &s = client();
                std::lock_guard guard(s.lock);
                s.parked[e] = run;
            }
            run_answer(run, NODRA_MSG_APPLY_DONE, true);
            return;
        }
        if (rc != ZERR_OK)
            run->issues.emplace_back(e->index, rc, std::string());
    }
    if (run->answered)
        run_resumed(run);
    else
        run_answer(run, NODRA_MSG_APPLY_DONE, false);
    delete run;
}

void run_verify(batch_run *run)
{
    for (const nodra_event_info_td &e : run->infos) {
        char *text = nullptr;
        nodra_verify_result_td result{NODRA_VERIFY_RESULT_PASS};
        const zerrno rc = run->fns.verify != nullptr ? run->fns.verify(&e, &text, &result, run->context) : ZERR_OK;
        if (rc != ZERR_OK)
            run->issues.emplace_back(e.index, rc, text != nullptr ? text : "");
        free(text);
    }
    run_answer(run, NODRA_MSG_VERIFY_DONE, false);
    delete run;
}

// What a verifier is replayed was verified when it was committed, unless nobody could verify it
// then (its verifier had left by itself and is started on that very configuration, or an older
// verifier took a value this one refuses). Each item is verified again before anything is
// applied; one that is refused is left out of the apply and reported as a configuration error on
// the process's standard error, so that no stored value takes effect unverified.
void replay_verify(batch_run *run, const std::string &bind)
{
    if (run->fns.verify == nullptr)
        return;
    std::vector<nodra_wire_item> kept;
    for (const nodra_event_info_td &e : run->infos) {
        char *text = nullptr;
        nodra_verify_result_td result{NODRA_VERIFY_RESULT_PASS};
        const zerrno rc = run->fns.verify(&e, &text, &result, run->context);
        if (rc == ZERR_OK) {
            kept.push_back(run->items[e.index - 1]);
        } else {
            fprintf(stderr, "configuration error: %s%s: 0x%08x %s: stored, not applied\n", bind.c_str(), e.path, rc,
                    text != nullptr && text[0] != '\0' ? text : zerr_strerror(rc));
        }
        free(text);
    }
    if (kept.size() == run->items.size())
        return;
    run->items = std::move(kept);
    run_fill(run);
}

bool read_items(nodra_wire_reader &r, std::vector<nodra_wire_item> *items)
{
    const uint32_t n = r.count(NODRA_WIRE_ITEM_MIN);
    for (uint32_t i = 0; i < n && r.ok; ++i)
        items->push_back(nodra_wire_get_item(r));
    return r.done();
}

void run_notify(const local_reg &reg, uint32_t id, uint32_t seq, std::vector<nodra_wire_item> items)
{
    batch_run run;
    run.seq = seq;
    run.reg = id;
    run.items = std::move(items);
    run_fill(&run);
    client_type &s = client();
    {
        // The callbacks may ask for their whole batch (nodra_notify_batch_list_create).
        std::lock_guard guard(s.lock);
        s.notifying.push_back(&run);
    }
    for (const nodra_event_info_td &e : run.infos)
        reg.notify(&e, reg.context, reg.parse_data);
    std::lock_guard guard(s.lock);
    std::erase(s.notifying, &run);
}

std::optional<local_reg> reg_find(uint32_t id)
{
    client_type &s = client();
    std::lock_guard guard(s.lock);
    auto it = s.regs.find(id);
    if (it == s.regs.end())
        return std::nullopt;
    return it->second;
}

void edm_finish(edm_work *work, zerrno result)
{
    nodra_wire_writer w;
    w.u32(work->id);
    w.u32(result);
    if (result == ZERR_OK) {
        switch (work->request.op) {
        case NODRA_EDM_OP_GET:
            w.u32(work->reply_type);
            w.str(work->reply);
            break;
        case NODRA_EDM_OP_LIST:
            w.u32(static_cast<uint32_t>(work->entries.size()));
            for (const auto &[name, type, value] : work->entries)
                w.str(name);
            w.u8(work->more ? 1 : 0);
            break;
        case NODRA_EDM_OP_DATALIST:
            w.u32(static_cast<uint32_t>(work->entries.size()));
            for (const auto &[name, type, value] : work->entries) {
                w.str(name);
                w.u32(type);
                w.str(value);
            }
            w.u8(work->more ? 1 : 0);
            break;
        default: break;
        }
    }
    sockmsg_client_send(work->conn, NODRA_SERVICE_ID, NODRA_MSG_EDM_DONE, w.out.data(),
                        static_cast<uint32_t>(w.out.size()));
    delete work;
}

void edm_request(sockmsg_client_type *conn, nodra_wire_reader &r)
{
    auto *work = new edm_work;
    work->conn = conn;
    work->id = r.u32();
    const uint32_t reg_id = r.u32();
    work->request.op = r.u32();
    work->path = r.str();
    const uint32_t set_type = r.u32();
    std::string extra = r.str();
    work->request.options = r.u32();
    work->request.max_count = r.u32();
    const bool has_start = r.u8() != 0;
    work->start_key = r.str();
    work->request.start_key = has_start ? work->start_key.c_str() : nullptr;
    if (!r.done()) {
        delete work;
        return;
    }
    std::optional<local_reg> reg = reg_find(reg_id);
    nodra_edm_fn fn = nullptr;
    if (reg) {
        switch (work->request.op) {
        case NODRA_EDM_OP_GET: fn = reg->edm.get; break;
        case NODRA_EDM_OP_LIST: fn = reg->edm.list; break;
        case NODRA_EDM_OP_DATALIST: fn = reg->edm.datalist; break;
        case NODRA_EDM_OP_SET: fn = reg->edm.set; break;
        }
    }
    if (fn == nullptr) {
        edm_finish(work, NODRA_ERR_EDM_NOT_FOUND);
        return;
    }
    nodra_edm_request_td &q = work->request;
    q.path = work->path.c_str();
    if (q.op == NODRA_EDM_OP_SET) {
        work->set_value = std::move(extra);
        q.set_type = set_type;
        q.set_data = work->set_value.data();
        q.set_length = static_cast<uint32_t>(work->set_value.size());
        q.pattern = "";
    } else {
        work->pattern = std::move(extra);
        q.pattern = work->pattern.c_str();
    }
    q.item_table = reg->item_table;
    q.registration = reg_id;
    q.internal = work;
    const zerrno rc = fn(&q, reg->context);
    if (rc == NODRA_EDM_IN_PROGRESS)
        return; // answered by nodra_edm_resume
    edm_finish(work, rc == ZERR_OK && q.op == NODRA_EDM_OP_GET && !work->has_reply ? NODRA_ERR_EDM_NOT_FOUND : rc);
}

void on_notice(sockmsg_client_type *conn, uint16_t service, uint16_t type, const uint8_t *data, uint32_t length, void *)
{
    if (service != NODRA_SERVICE_ID)
        return;
    nodra_wire_reader r(data, length);
    if (type == NODRA_MSG_EDM_REQUEST) {
        edm_request(conn, r);
        return;
    }
    if (type == NODRA_MSG_ABORT) {
        nodra_abort_info_td info{r.u32(), r.u32()};
        std::optional<local_reg> reg = reg_find(info.registration);
        if (r.done() && reg && reg->vrfn.abort != nullptr)
            reg->vrfn.abort(&info, reg->context);
        return;
    }
    auto run = std::make_unique<batch_run>();
    run->seq = r.u32();
    run->batch = r.u32();
    run->reg = r.u32();
    run->conn = conn;
    if (!read_items(r, &run->items))
        return;
    std::optional<local_reg> reg = reg_find(run->reg);
    if (!reg) {
        // Unregistered meanwhile: a commit still waits for the answer.
        run_answer(run.get(), type == NODRA_MSG_VERIFY_BATCH ? NODRA_MSG_VERIFY_DONE : NODRA_MSG_APPLY_DONE, false);
        return;
    }
    run->fns = reg->vrfn;
    run->context = reg->context;
    run_fill(run.get());
    switch (type) {
    case NODRA_MSG_VERIFY_BATCH: run_verify(run.release()); break;
    case NODRA_MSG_APPLY_BATCH: run_apply(run.release()); break;
    case NODRA_MSG_NOTIFY_BATCH:
        if (reg->notify != nullptr)
            run_notify(*reg, run->reg, run->seq, std::move(run->items));
        break;
    default: break;
    }
}

zerrno do_register(nodra_conn_td *conn, local_reg reg, event_mgr_type *evm, const std::vector<std::string> &patterns,
                   uint32_t events, uint32_t options, int32_t order, uint32_t *registration)
{
    if (conn == nullptr || registration == nullptr || evm == nullptr)
        return NODRA_ERR_INVALID;
    {
        client_type &s = client();
        std::lock_guard guard(s.lock);
        if (zerrno err = injected(s, nodra_test_op::registration); err != ZERR_OK)
            return err;
    }
    sockmsg_client_type *c = nullptr;
    if (zerrno err = connection(evm, &c); err != ZERR_OK)
        return err;
    reg.conn = c;
    reg.bind = conn->path;
    nodra_wire_writer w;
    w.u32(reg.kind);
    w.str(conn->path);
    w.u32(static_cast<uint32_t>(patterns.size()));
    for (const std::string &p : patterns)
        w.str(p);
    w.u32(events);
    w.u32(options);
    w.i32(order);
    std::vector<uint8_t> reply;
    zerrno err = call(evm, NODRA_MSG_REGISTER, w, &reply);
    if (err != ZERR_OK)
        return err;
    nodra_wire_reader r(reply.data(), static_cast<uint32_t>(reply.size()));
    const uint32_t id = r.u32();
    const uint32_t seq = r.u32();
    std::vector<nodra_wire_item> items;
    if (!read_items(r, &items))
        return NODRA_ERR_INVALID;
    {
        client_type &s = client();
        std::lock_guard guard(s.lock);
        s.regs[id] = reg;
    }
    *registration = id;
    // The configuration as it stands, before the registration returns.
    if (items.empty())
        return ZERR_OK;
    if (reg.kind == NODRA_REG_NOTIFY) {
        run_notify(reg, id, seq, std::move(items));
    } else if (reg.kind == NODRA_REG_VERIFY) {
        auto *run = new batch_run;
        run->seq = seq;
        run->reg = id;
        run->answer = false;
        run->items = std::move(items);
        run->fns = reg.vrfn;
        run->context = reg.context;
        run->conn = c;
        run_fill(run);
        replay_verify(run, reg.bind);
        if (run->items.empty()) {
            delete run;
            return ZERR_OK;
        }
        run_apply(run);
    }
    return ZERR_OK;
}

zerrno do_unregister(uint32_t registration)
{
    event_mgr_type *evm = nullptr;
    {
        client_type &s = client();
        std::lock_guard guard(s.lock);
        auto it = s.regs.find(registration);
        if (it == s.regs.end())
            return NODRA_ERR_NOT_FOUND;
        // On the connection that made it; when that one is closed (its manager or the daemon
        // gone), the registration went with it and the database says so.
        for (auto &[coid, mc] : s.conns)
            if (mc.conn == it->second.conn && (coid < 0 || event_manager_alive(coid)))
                evm = mc.evm;
        s.regs.erase(it);
    }
    nodra_wire_writer w;
    w.u32(registration);
    return call(evm, NODRA_MSG_UNREGISTER, w, nullptr);
}

} // namespace

// ---- client library guard ----------------------------------------------------------------------

const char *nodra_client_library_path()
{
    init_once();
    client_type &s = client();
    {
        std::lock_guard guard(s.lock);
        if (s.library_override)
            return s.library_override->c_str();
    }
    const char *env = getenv("PTP_NODRA_LIB");
    return env != nullptr && env[0] != '\0' ? env : default_client_library;
}

// ---- bindings ----------------------------------------------------------------------------------

zerrno _nodra_bind(nodra_conn_td **conn, const char *path, uint32_t mode)
{
    init_once();
    if (conn == nullptr)
        return NODRA_ERR_INVALID;
    *conn = nullptr;
    client_type &s = client();
    std::lock_guard guard(s.lock);
    if (zerrno err = enter(s, nodra_test_op::bind); err != ZERR_OK)
        return err;
    if (path == nullptr)
        return NODRA_ERR_INVALID;
    std::string full = expand(path);
    if (!dir_path_valid(full))
        return NODRA_ERR_INVALID;
    auto *c = new (std::nothrow) nodra_conn_td{std::move(full), mode};
    if (c == nullptr)
        return NODRA_ERR_NO_MEMORY;
    ++s.open_bindings;
    *conn = c;
    return ZERR_OK;
}

zerrno _nodra_unbind(nodra_conn_td *conn)
{
    init_once();
    client_type &s = client();
    std::lock_guard guard(s.lock);
    if (zerrno err = enter(s, nodra_test_op::unbind); err != ZERR_OK)
        return err;
    if (conn == nullptr)
        return NODRA_ERR_INVALID;
    delete conn;
    if (s.open_bindings > 0)
        --s.open_bindings;
    return ZERR_OK;
}

zerrno nodra_bind(nodra_conn_td **conn, const char *path, uint32_t mode)
{
    return _nodra_bind(conn, path, mode);
}

zerrno nodra_unbind(nodra_conn_td *conn)
{
    return _nodra_unbind(conn);
}

const char *nodra_conn_path(const nodra_conn_td *conn)
{
    return conn != nullptr ? conn->path.c_str() : "";
}

// ---- lists -------------------------------------------------------------------------------------

zerrno nodra_list(nodra_conn_td *conn, const char *path, const char *pattern, uint32_t *count, nodra_list_td **list,
                  uint32_t flags)
{
    (void)flags;
    init_once();
    if (count != nullptr)
        *count = 0;
    if (list != nullptr)
        *list = nullptr;
    client_type &s = client();
    {
        std::lock_guard guard(s.lock);
        if (zerrno err = enter(s, nodra_test_op::list); err != ZERR_OK)
            return err;
    }
    if (conn == nullptr || count == nullptr || list == nullptr)
        return NODRA_ERR_INVALID;
    std::string dir = conn->path;
    if (path != nullptr && path[0] != '\0') {
        if (path[0] == '/')
            return NODRA_ERR_INVALID;
        dir += path;
        if (dir.back() != '/')
            dir += '/';
        if (!dir_path_valid(dir))
            return NODRA_ERR_INVALID;
    }
    nodra_wire_writer w;
    w.str(dir);
    w.str(pattern != nullptr ? pattern : "");
    std::vector<uint8_t> reply;
    if (zerrno err = call(nullptr, NODRA_MSG_LIST, w, &reply); err != ZERR_OK)
        return err;
    nodra_wire_reader r(reply.data(), static_cast<uint32_t>(reply.size()));
    auto l = std::make_unique<nodra_list_td>();
    l->next = 0;
    const uint32_t n = r.count(4);
    for (uint32_t i = 0; i < n && r.ok; ++i)
        l->names.push_back(r.str());
    if (!r.done())
        return NODRA_ERR_INVALID;
    if (l->names.empty())
        return NODRA_ERR_NOT_FOUND;
    std::lock_guard guard(s.lock);
    ++s.open_lists;
    *count = static_cast<uint32_t>(l->names.size());
    *list = l.release();
    return ZERR_OK;
}

zerrno nodra_list_next(nodra_list_td *list, const char **name)
{
    init_once();
    if (name != nullptr)
        *name = nullptr;
    client_type &s = client();
    std::lock_guard guard(s.lock);
    if (zerrno err = enter(s, nodra_test_op::list_next); err != ZERR_OK)
        return err;
    if (list == nullptr || name == nullptr)
        return NODRA_ERR_INVALID;
    if (list->next >= list->names.size())
        return NODRA_ERR_NOT_FOUND;
    *name = list->names[list->next++].c_str();
    return ZERR_OK;
}

void nodra_list_free(nodra_list_td *list)
{
    init_once();
    client_type &s = client();
    std::lock_guard guard(s.lock);
    ++s.calls;
    if (list == nullptr)
        return;
    delete list;
    if (s.open_lists > 0)
        --s.open_lists;
}

// ---- items -------------------------------------------------------------------------------------

zerrno nodra_item_get(nodra_conn_td *conn, const char *path, uint32_t *type, void **data, uint32_t *length,
                      uint32_t flags)
{
    (void)flags;
    init_once();
    if (data != nullptr)
        *data = nullptr;
    if (length != nullptr)
        *length = 0;
    if (conn == nullptr || data == nullptr || length == nullptr)
        return NODRA_ERR_INVALID;
    nodra_wire_writer w;
    w.str(relative_join(conn, path));
    std::vector<uint8_t> reply;
    if (zerrno err = call(nullptr, NODRA_MSG_ITEM_GET, w, &reply); err != ZERR_OK)
        return err;
    nodra_wire_reader r(reply.data(), static_cast<uint32_t>(reply.size()));
    const uint32_t t = r.u32();
    std::string_view value = r.bytes();
    if (!r.done())
        return NODRA_ERR_INVALID;
    void *copy = malloc(value.size() + 1);
    if (copy == nullptr)
        return NODRA_ERR_NO_MEMORY;
    memcpy(copy, value.data(), value.size());
    static_cast<char *>(copy)[value.size()] = '\0';
    if (type != nullptr)
        *type = t;
    *data = copy;
    *length = static_cast<uint32_t>(value.size());
    return ZERR_OK;
}

zerrno nodra_item_set(nodra_conn_td *conn, const char *path, uint32_t type, const void *data, uint32_t length,
                      uint32_t flags)
{
    (void)flags;
    init_once();
    if (conn == nullptr || (data == nullptr && length > 0))
        return NODRA_ERR_INVALID;
    nodra_wire_writer w;
    w.str(relative_join(conn, path));
    w.u32(type);
    w.bytes(data, length);
    return call(nullptr, NODRA_MSG_ITEM_SET, w, nullptr);
}

zerrno nodra_datalist(nodra_conn_td *conn, const char *path, const char *pattern, uint32_t *count,
                      nodra_datalist_td **list, uint32_t flags)
{
    (void)flags;
    init_once();
    if (count != nullptr)
        *count = 0;
    if (list != nullptr)
        *list = nullptr;
    if (conn == nullptr || count == nullptr || list == nullptr)
        return NODRA_ERR_INVALID;
    std::string dir = relative_join(conn, path);
    if (dir.back() != '/')
        dir += '/';
    nodra_wire_writer w;
    w.str(dir);
    w.str(pattern != nullptr ? pattern : "");
    std::vector<uint8_t> reply;
    if (zerrno err = call(nullptr, NODRA_MSG_DATALIST, w, &reply); err != ZERR_OK)
        return err;
    nodra_wire_reader r(reply.data(), static_cast<uint32_t>(reply.size()));
    auto l = std::make_unique<nodra_datalist_td>();
    l->next = 0;
    const uint32_t n = r.count(12);
    for (uint32_t i = 0; i < n && r.ok; ++i) {
        nodra_datalist_td::entry e;
        e.name = r.str();
        e.type = r.u32();
        e.value = r.str();
        l->entries.push_back(std::move(e));
    }
    if (!r.done())
        return NODRA_ERR_INVALID;
    if (l->entries.empty())
        return NODRA_ERR_NOT_FOUND;
    *count = static_cast<uint32_t>(l->entries.size());
    *list = l.release();
    return ZERR_OK;
}

zerrno nodra_datalist_next(nodra_datalist_td *list, const char **name, uint32_t *type, const void **data,
                           uint32_t *length, uint32_t flags)
{
    (void)flags;
    if (list == nullptr)
        return NODRA_ERR_INVALID;
    if (list->next >= list->entries.size())
        return NODRA_ERR_NOT_FOUND;
    const nodra_datalist_td::entry &e = list->entries[list->next++];
    if (name != nullptr)
        *name = e.name.c_str();
    if (type != nullptr)
        *type = e.type;
    if (data != nullptr)
        *data = e.value.data();
    if (length != nullptr)
        *length = static_cast<uint32_t>(e.value.size());
    return ZERR_OK;
}

void nodra_datalist_free(nodra_datalist_td *list)
{
    delete list;
}

// ---- registrations -----------------------------------------------------------------------------

zerrno nodra_vrfn_fns_init(nodra_vrfn_fns_td *fns)
{
    if (fns == nullptr)
        return NODRA_ERR_INVALID;
    *fns = {};
    return ZERR_OK;
}

zerrno nodra_vrfn_fns_verify_init(nodra_vrfn_fns_td *fns, nodra_vrfn_verify_fn fn)
{
    if (fns == nullptr)
        return NODRA_ERR_INVALID;
    fns->verify = fn;
    return ZERR_OK;
}

zerrno nodra_vrfn_fns_apply_init(nodra_vrfn_fns_td *fns, nodra_vrfn_apply_fn fn)
{
    if (fns == nullptr)
        return NODRA_ERR_INVALID;
    fns->apply = fn;
    return ZERR_OK;
}

zerrno nodra_vrfn_fns_abort_init(nodra_vrfn_fns_td *fns, nodra_vrfn_abort_fn fn)
{
    if (fns == nullptr)
        return NODRA_ERR_INVALID;
    fns->abort = fn;
    return ZERR_OK;
}

zerrno nodra_register_verification4(nodra_conn_td *conn, const char *const *paths, uint32_t path_count, uint32_t events,
                                    const nodra_vrfn_fns_td *fns, void *context, uint32_t flags, int32_t order,
                                    uint32_t options, uint32_t *registration)
{
    (void)flags;
    init_once();
    if (fns == nullptr || paths == nullptr || path_count == 0)
        return NODRA_ERR_INVALID;
    std::vector<std::string> patterns;
    for (uint32_t i = 0; i < path_count; ++i) {
        if (paths[i] == nullptr || paths[i][0] == '\0')
            return NODRA_ERR_INVALID;
        patterns.emplace_back(paths[i]);
    }
    local_reg reg;
    reg.kind = NODRA_REG_VERIFY;
    reg.vrfn = *fns;
    reg.context = context;
    return do_register(conn, reg, static_cast<event_mgr_type *>(context), patterns, events, options, order,
                       registration);
}

zerrno nodra_verification_unregister(uint32_t registration)
{
    return do_unregister(registration);
}

zerrno nodra_verification_batch_follows(uint32_t sequence, bool *follows)
{
    if (follows == nullptr)
        return NODRA_ERR_INVALID;
    nodra_wire_writer w;
    w.u32(sequence);
    std::vector<uint8_t> reply;
    if (zerrno err = call(nullptr, NODRA_MSG_BATCH_FOLLOWS, w, &reply); err != ZERR_OK)
        return err;
    nodra_wire_reader r(reply.data(), static_cast<uint32_t>(reply.size()));
    const uint8_t v = r.u8();
    if (!r.done())
        return NODRA_ERR_INVALID;
    *follows = v != 0;
    return ZERR_OK;
}

zerrno nodra_resume_apply(const nodra_verify_event_info_td *event, zerrno result)
{
    batch_run *run = nullptr;
    {
        client_type &s = client();
        std::lock_guard guard(s.lock);
        auto it = s.parked.find(event);
        if (it == s.parked.end())
            return NODRA_ERR_NOT_FOUND;
        run = it->second;
        s.parked.erase(it);
    }
    // The parked item's own result is its apply's: a warning of the commit when not 0.
    if (result != ZERR_OK && result != NODRA_ERR_APPLY_PENDING)
        run->issues.emplace_back(event->index, result, std::string());
    run_apply(run);
    return ZERR_OK;
}

zerrno _nodra_register_notification(nodra_conn_td *conn, const char *pattern, uint32_t events, uint32_t options,
                                    nodra_notify_fn callback, event_mgr_type *evm, void *context,
                                    const void *parse_data, uint32_t flags, uint32_t *registration)
{
    (void)flags;
    init_once();
    if (callback == nullptr || pattern == nullptr || pattern[0] == '\0')
        return NODRA_ERR_INVALID;
    local_reg reg;
    reg.kind = NODRA_REG_NOTIFY;
    reg.notify = callback;
    reg.context = context;
    reg.parse_data = parse_data;
    return do_register(conn, reg, evm, {pattern}, events, options, 0, registration);
}

zerrno nodra_register_notification(nodra_conn_td *conn, const char *pattern, uint32_t events, uint32_t options,
                                   nodra_notify_fn callback, event_mgr_type *evm, void *context, const void *parse_data,
                                   uint32_t flags, uint32_t *registration)
{
    return _nodra_register_notification(conn, pattern, events, options, callback, evm, context, parse_data, flags,
                                        registration);
}

zerrno nodra_notification_unregister(uint32_t registration)
{
    return do_unregister(registration);
}

zerrno nodra_notify_batch_list_create(const nodra_notify_event_info_td *event, nodra_notify_batch_td **list)
{
    if (list == nullptr)
        return NODRA_ERR_INVALID;
    *list = nullptr;
    if (event == nullptr)
        return NODRA_ERR_INVALID;
    client_type &s = client();
    std::lock_guard guard(s.lock);
    for (const batch_run *run : s.notifying) {
        if (run->infos.empty() || event < run->infos.data() || event >= run->infos.data() + run->infos.size())
            continue;
        auto *l = new (std::nothrow) nodra_notify_batch_td;
        if (l == nullptr)
            return NODRA_ERR_NO_MEMORY;
        batch_run copy;
        copy.seq = run->seq;
        copy.reg = run->reg;
        copy.items = run->items;
        run_fill(&copy);
        l->items = std::move(copy.items);
        l->infos = std::move(copy.infos);
        // The infos point into the items, which moved with their buffers.
        for (size_t i = 0; i < l->items.size(); ++i) {
            l->infos[i].path = l->items[i].path.c_str();
            if (l->infos[i].old_data != nullptr)
                l->infos[i].old_data = l->items[i].old_value.data();
            if (l->infos[i].new_data != nullptr)
                l->infos[i].new_data = l->items[i].new_value.data();
        }
        l->next = 0;
        *list = l;
        return ZERR_OK;
    }
    return NODRA_ERR_NOT_FOUND;
}

zerrno nodra_notify_batch_list_start(nodra_notify_batch_td *list)
{
    if (list == nullptr)
        return NODRA_ERR_INVALID;
    list->next = 0;
    return ZERR_OK;
}

zerrno nodra_notify_batch_list_next(nodra_notify_batch_td *list, const nodra_notify_event_info_td **item)
{
    if (item != nullptr)
        *item = nullptr;
    if (list == nullptr || item == nullptr)
        return NODRA_ERR_INVALID;
    if (list->next >= list->infos.size())
        return NODRA_ERR_NOT_FOUND;
    *item = &list->infos[list->next++];
    return ZERR_OK;
}

zerrno nodra_notify_batch_list_free(nodra_notify_batch_td *list)
{
    if (list == nullptr)
        return NODRA_ERR_INVALID;
    delete list;
    return ZERR_OK;
}

// ---- operational data --------------------------------------------------------------------------

zerrno nodra_edm_fns_init(nodra_edm_fns_td *fns)
{
    if (fns == nullptr)
        return NODRA_ERR_INVALID;
    *fns = {};
    return ZERR_OK;
}

zerrno nodra_edm_fns_get_init(nodra_edm_fns_td *fns, nodra_edm_fn fn)
{
    if (fns == nullptr)
        return NODRA_ERR_INVALID;
    fns->get = fn;
    return ZERR_OK;
}

zerrno nodra_edm_fns_list_init(nodra_edm_fns_td *fns, nodra_edm_fn fn)
{
    if (fns == nullptr)
        return NODRA_ERR_INVALID;
    fns->list = fn;
    return ZERR_OK;
}

zerrno nodra_edm_fns_datalist_init(nodra_edm_fns_td *fns, nodra_edm_fn fn)
{
    if (fns == nullptr)
        return NODRA_ERR_INVALID;
    fns->datalist = fn;
    return ZERR_OK;
}

zerrno nodra_edm_fns_set_init(nodra_edm_fns_td *fns, nodra_edm_fn fn)
{
    if (fns == nullptr)
        return NODRA_ERR_INVALID;
    fns->set = fn;
    return ZERR_OK;
}

zerrno nodra_register_edm2(nodra_conn_td *conn, const char *pattern, const nodra_edm_fns_td *fns, event_mgr_type *evm,
                           const void *item_table, uint32_t flags, uint32_t *registration)
{
    (void)flags;
    init_once();
    if (fns == nullptr)
        return NODRA_ERR_INVALID;
    local_reg reg;
    reg.kind = NODRA_REG_EDM;
    reg.edm = *fns;
    reg.context = evm;
    reg.item_table = item_table;
    return do_register(conn, reg, evm, {pattern != nullptr ? pattern : ""}, 0, 0, 0, registration);
}

zerrno nodra_edm_unregister(uint32_t registration)
{
    return do_unregister(registration);
}

zerrno nodra_edm_reply_set(nodra_edm_request_td *request, uint32_t type, const void *data, uint32_t length)
{
    if (request == nullptr || request->internal == nullptr || (data == nullptr && length > 0))
        return NODRA_ERR_INVALID;
    auto *work = static_cast<edm_work *>(request->internal);
    work->has_reply = true;
    work->reply_type = type;
    work->reply.assign(static_cast<const char *>(data), length);
    return ZERR_OK;
}

zerrno nodra_edm_list_create(nodra_edm_request_td *request)
{
    if (request == nullptr || request->internal == nullptr)
        return NODRA_ERR_INVALID;
    static_cast<edm_work *>(request->internal)->listing = true;
    return ZERR_OK;
}

zerrno nodra_edm_list_add(nodra_edm_request_td *request, const char *name, uint32_t type)
{
    return nodra_edm_datalist_add(request, name, type, nullptr, 0);
}

zerrno nodra_edm_list_set_more_flag(nodra_edm_request_td *request)
{
    if (request == nullptr || request->internal == nullptr)
        return NODRA_ERR_INVALID;
    auto *work = static_cast<edm_work *>(request->internal);
    if (!work->listing)
        return NODRA_ERR_INVALID;
    work->more = true;
    return ZERR_OK;
}

zerrno nodra_edm_datalist_create(nodra_edm_request_td *request)
{
    return nodra_edm_list_create(request);
}

zerrno nodra_edm_datalist_add(nodra_edm_request_td *request, const char *name, uint32_t type, const void *data,
                              uint32_t length)
{
    if (request == nullptr || request->internal == nullptr || name == nullptr || (data == nullptr && length > 0))
        return NODRA_ERR_INVALID;
    auto *work = static_cast<edm_work *>(request->internal);
    if (!work->listing)
        return NODRA_ERR_INVALID;
    work->entries.emplace_back(name, type, std::string(static_cast<const char *>(data), length));
    return ZERR_OK;
}

zerrno nodra_edm_datalist_set_more_flag(nodra_edm_request_td *request)
{
    return nodra_edm_list_set_more_flag(request);
}

zerrno nodra_edm_resume(nodra_edm_request_td *request, zerrno result)
{
    if (request == nullptr || request->internal == nullptr)
        return NODRA_ERR_INVALID;
    auto *work = static_cast<edm_work *>(request->internal);
    edm_finish(work, result == ZERR_OK && request->op == NODRA_EDM_OP_GET && !work->has_reply ? NODRA_ERR_EDM_NOT_FOUND
                                                                                              : result);
    return ZERR_OK;
}

zerrno nodra_edm_generate_notifications(nodra_conn_td *conn, const nodra_edm_notification_td *records, uint32_t count)
{
    if (conn == nullptr || (records == nullptr && count > 0))
        return NODRA_ERR_INVALID;
    {
        client_type &s = client();
        std::lock_guard guard(s.lock);
        if (zerrno err = injected(s, nodra_test_op::generate_notifications); err != ZERR_OK)
            return err;
    }
    nodra_wire_writer w;
    w.str(conn->path);
    w.u32(count);
    for (uint32_t i = 0; i < count; ++i) {
        const nodra_edm_notification_td &n = records[i];
        if (n.item == nullptr || n.item[0] == '\0' || (n.data == nullptr && n.length > 0))
            return NODRA_ERR_INVALID;
        w.str(n.item);
        w.u32(n.kind);
        w.u32(n.type);
        w.bytes(n.data, n.length);
    }
    return call(nullptr, NODRA_MSG_GENERATE, w, nullptr);
}

// ---- commits -----------------------------------------------------------------------------------

namespace {
zerrno read_commit_result(const std::vector<uint8_t> &reply, nodra_commit_result_td *result);
} // namespace

zerrno nodra_commit_create(nodra_commit_td **commit)
{
    if (commit == nullptr)
        return NODRA_ERR_INVALID;
    *commit = new (std::nothrow) nodra_commit_td;
    return *commit != nullptr ? ZERR_OK : NODRA_ERR_NO_MEMORY;
}

zerrno nodra_commit_set(nodra_commit_td *commit, const char *path, uint32_t type, const void *data, uint32_t length)
{
    if (commit == nullptr || path == nullptr || (data == nullptr && length > 0))
        return NODRA_ERR_INVALID;
    commit->ops.str(path);
    commit->ops.u32(1);
    commit->ops.u32(type);
    commit->ops.bytes(data, length);
    ++commit->count;
    return ZERR_OK;
}

zerrno nodra_commit_delete(nodra_commit_td *commit, const char *path)
{
    if (commit == nullptr || path == nullptr)
        return NODRA_ERR_INVALID;
    commit->ops.str(path);
    commit->ops.u32(2);
    commit->ops.u32(0);
    commit->ops.str("");
    ++commit->count;
    return ZERR_OK;
}

uint32_t nodra_commit_count(const nodra_commit_td *commit)
{
    return commit != nullptr ? commit->count : 0;
}

zerrno nodra_commit_apply(nodra_commit_td *commit, nodra_commit_result_td *result)
{
    init_once();
    if (commit == nullptr || result == nullptr)
        return NODRA_ERR_INVALID;
    nodra_wire_writer w;
    w.u32(commit->count);
    w.out.insert(w.out.end(), commit->ops.out.begin(), commit->ops.out.end());
    std::vector<uint8_t> reply;
    if (zerrno err = call(nullptr, NODRA_MSG_COMMIT, w, &reply); err != ZERR_OK)
        return err;
    return read_commit_result(reply, result);
}

namespace {

zerrno read_commit_result(const std::vector<uint8_t> &reply, nodra_commit_result_td *result)
{
    nodra_wire_reader r(reply.data(), static_cast<uint32_t>(reply.size()));
    *result = {};
    result->sequence = r.u32();
    result->outcome = r.u32();
    for (auto *list : {&result->failures, &result->warnings}) {
        const uint32_t n = r.count(12);
        for (uint32_t i = 0; i < n && r.ok; ++i) {
            nodra_commit_issue_td issue;
            issue.path = r.str();
            issue.code = r.u32();
            issue.text = r.str();
            list->push_back(std::move(issue));
        }
    }
    return r.done() ? ZERR_OK : NODRA_ERR_INVALID;
}

} // namespace

zerrno nodra_commit_status(uint32_t sequence, nodra_commit_result_td *result)
{
    init_once();
    if (result == nullptr)
        return NODRA_ERR_INVALID;
    nodra_wire_writer w;
    w.u32(sequence);
    std::vector<uint8_t> reply;
    if (zerrno err = call(nullptr, NODRA_MSG_COMMIT_STATUS, w, &reply); err != ZERR_OK)
        return err;
    return read_commit_result(reply, result);
}

void nodra_commit_free(nodra_commit_td *commit)
{
    delete commit;
}

zerrno nodra_config_show(const char *prefix, std::vector<nodra_config_item_td> *items)
{
    init_once();
    if (items == nullptr)
        return NODRA_ERR_INVALID;
    items->clear();
    nodra_wire_writer w;
    w.str(prefix != nullptr ? prefix : "");
    std::vector<uint8_t> reply;
    if (zerrno err = call(nullptr, NODRA_MSG_SHOW, w, &reply); err != ZERR_OK)
        return err;
    nodra_wire_reader r(reply.data(), static_cast<uint32_t>(reply.size()));
    r.u32();
    const uint32_t n = r.count(12);
    for (uint32_t i = 0; i < n && r.ok; ++i) {
        nodra_config_item_td item;
        item.path = r.str();
        item.type = r.u32();
        item.value = r.str();
        items->push_back(std::move(item));
    }
    return r.done() ? ZERR_OK : NODRA_ERR_INVALID;
}

// ---- test control ------------------------------------------------------------------------------

void nodra_test_use_socket(const char *path)
{
    client_type &s = client();
    std::lock_guard guard(s.lock);
    if (path == nullptr)
        s.socket_override.reset();
    else
        s.socket_override = path;
    for (auto &[coid, mc] : s.conns)
        sockmsg_client_close(mc.conn);
    s.conns.clear();
}

void nodra_test_client_reset()
{
    client_type &s = client();
    std::lock_guard guard(s.lock);
    s.library_override.reset();
    s.failures = {};
    s.calls = 0;
}

zerrno nodra_test_request(uint16_t type, const void *payload, uint32_t length)
{
    nodra_wire_writer w;
    w.out.assign(static_cast<const uint8_t *>(payload), static_cast<const uint8_t *>(payload) + length);
    return call(nullptr, type, w, nullptr);
}

zerrno nodra_test_sync(event_mgr_type *evm)
{
    // A round trip on evm's connection: the daemon's answer follows every notice it sent before.
    nodra_wire_writer w;
    w.u32(0);
    return call(evm, NODRA_MSG_BATCH_FOLLOWS, w, nullptr);
}

void nodra_test_set_client_library_path(const char *path)
{
    init_once();
    client_type &s = client();
    std::lock_guard guard(s.lock);
    if (path == nullptr)
        s.library_override.reset();
    else
        s.library_override = path;
}

void nodra_test_fail(nodra_test_op op, zerrno err, uint32_t count, uint32_t after)
{
    const auto i = static_cast<size_t>(op);
    if (i >= op_count)
        return;
    client_type &s = client();
    std::lock_guard guard(s.lock);
    s.failures[i] = {err, count, after};
}

uint32_t nodra_test_call_count()
{
    client_type &s = client();
    std::lock_guard guard(s.lock);
    return s.calls;
}

uint32_t nodra_test_open_bindings()
{
    client_type &s = client();
    std::lock_guard guard(s.lock);
    return s.open_bindings;
}

uint32_t nodra_test_open_lists()
{
    client_type &s = client();
    std::lock_guard guard(s.lock);
    return s.open_lists;
}
