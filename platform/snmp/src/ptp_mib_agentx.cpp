// ptp_mib_agentx: the SNMP agent host as an AgentX subagent of a real SNMP agent. It loads the MIB
// plug-ins into the host, registers each module's root with the master agent, answers the
// master's GET, GETNEXT and SET through the host and sends the plug-ins' notifications.
//
//   ptp_mib_agentx [--agentx-socket PATH] [--mib-dir DIR] [--module NAME]...
//
// The master's socket: --agentx-socket, else $PTP_AGENTX_SOCKET, else the agent's default. The
// plug-ins: DIR/NAME.so for each module (default zelvoPtpmib and zelvoPtpmibv2), DIR from
// --mib-dir, else $PTP_MIB_DIR, else /pkg/lib/mib.
//
// One thread serves both: the SNMP library's loop, which is not thread-safe, and the plug-ins'
// event manager, run from an alarm of that loop every 20 ms (its timers, its database
// notifications), so that a request is answered on the thread it came in on, without a hand-off.
// Notifications raised meanwhile go out through a pipe the loop watches.
// The SNMP library's configuration comes before its other headers.
// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>
#include <net-snmp/library/fd_event_manager.h>
// clang-format on

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "evm.h"
#include "evm_test.h"
#include "snmp_host.h"
#include "sysmgr.h"

namespace {

constexpr const char *AGENT_NAME = "ptp_mib_agentx";

std::atomic<bool> stopping{false};

// ---- the event manager, served from the SNMP loop ----

event_mgr_type *evm = nullptr;

void serve_evm(unsigned int, void *)
{
    evm_run_until_idle(evm);
}

// ---- notifications, from the plug-ins to the SNMP thread ----

int trap_pipe[2] = {-1, -1};
std::mutex trap_lock;
std::deque<snmp_host_trap> pending_traps;

void trap_sink(const snmp_host_trap &trap)
{
    {
        std::lock_guard<std::mutex> g(trap_lock);
        pending_traps.push_back(trap);
    }
    const char byte = 1;
    (void)!write(trap_pipe[1], &byte, 1);
}

std::vector<oid> oid_of(const snmp_oid_arcs &arcs)
{
    return std::vector<oid>(arcs.begin(), arcs.end());
}

void add_value(netsnmp_variable_list **list, const snmp_host_binding &b)
{
    const std::vector<oid> name = oid_of(b.name);
    switch (b.value.type) {
    case SNMP_INTEGER_TYPE: {
        const long v = static_cast<long>(b.value.number);
        snmp_varlist_add_variable(list, name.data(), name.size(), ASN_INTEGER, &v, sizeof v);
        break;
    }
    case SNMP_OCTET_PRIM_TYPE:
        snmp_varlist_add_variable(list, name.data(), name.size(), ASN_OCTET_STR, b.value.bytes.data(),
                                  b.value.bytes.size());
        break;
    default: snmp_varlist_add_variable(list, name.data(), name.size(), ASN_NULL, nullptr, 0); break;
    }
}

void send_pending_traps(int fd, void *)
{
    char buf[64];
    while (read(fd, buf, sizeof buf) > 0) {
    }
    std::deque<snmp_host_trap> traps;
    {
        std::lock_guard<std::mutex> g(trap_lock);
        traps.swap(pending_traps);
    }
    static const oid trap_oid_name[] = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
    for (const snmp_host_trap &t : traps) {
        const std::vector<oid> trap_oid = oid_of(snmp_oid_parse(t.trap_oid.c_str()));
        netsnmp_variable_list *vars = nullptr;
        snmp_varlist_add_variable(&vars, trap_oid_name, OID_LENGTH(trap_oid_name), ASN_OBJECT_ID, trap_oid.data(),
                                  trap_oid.size() * sizeof(oid));
        for (const snmp_host_binding &b : t.bindings) {
            add_value(&vars, b);
        }
        send_v2trap(vars);
        snmp_free_varbind(vars);
    }
}

// ---- requests ----

bool within(const snmp_oid_arcs &name, const netsnmp_handler_registration *reg)
{
    if (name.size() < reg->rootoid_len) {
        return false;
    }
    for (size_t i = 0; i < reg->rootoid_len; ++i) {
        if (name[i] != reg->rootoid[i]) {
            return false;
        }
    }
    return true;
}

void set_value(netsnmp_variable_list *var, const snmp_host_value &v)
{
    switch (v.type) {
    case SNMP_INTEGER_TYPE: snmp_set_var_typed_integer(var, ASN_INTEGER, static_cast<long>(v.number)); break;
    case SNMP_COUNTER_TYPE: snmp_set_var_typed_integer(var, ASN_COUNTER, static_cast<long>(v.number)); break;
    case SNMP_GAUGE_TYPE: snmp_set_var_typed_integer(var, ASN_GAUGE, static_cast<long>(v.number)); break;
    case SNMP_COUNTER_64_TYPE: {
        struct counter64 c;
        c.high = static_cast<u_long>(v.counter >> 32);
        c.low = static_cast<u_long>(v.counter & 0xffffffffu);
        snmp_set_var_typed_value(var, ASN_COUNTER64, &c, sizeof c);
        break;
    }
    case SNMP_OCTET_PRIM_TYPE: snmp_set_var_typed_value(var, ASN_OCTET_STR, v.bytes.data(), v.bytes.size()); break;
    default: break;
    }
}

int handle_request(netsnmp_mib_handler *, netsnmp_handler_registration *reg, netsnmp_agent_request_info *reqinfo,
                   netsnmp_request_info *requests)
{
    for (netsnmp_request_info *r = requests; r != nullptr; r = r->next) {
        netsnmp_variable_list *var = r->requestvb;
        const snmp_oid_arcs name(var->name, var->name + var->name_length);
        snmp_host_binding b;
        int status = SNMP_NO_ERROR;
        switch (reqinfo->mode) {
        case MODE_GET:
            status = snmp_host_get(name, &b);
            if (status == SNMP_NO_ERROR) {
                set_value(var, b.value);
            } else {
                netsnmp_set_request_error(reqinfo, r,
                                          status == SNMP_HOST_NO_SUCH_OBJECT ? SNMP_NOSUCHOBJECT : SNMP_NOSUCHINSTANCE);
            }
            break;
        case MODE_GETNEXT:
            status = snmp_host_getnext(name, &b);
            // Past this root the master asks whoever serves what follows.
            if (status == SNMP_NO_ERROR && within(b.name, reg)) {
                const std::vector<oid> next = oid_of(b.name);
                snmp_set_var_objid(var, next.data(), next.size());
                set_value(var, b.value);
            }
            break;
        case MODE_SET_RESERVE1: {
            snmp_host_value v;
            v.type = var->type;
            if (var->type == ASN_INTEGER && var->val.integer != nullptr) {
                v.number = *var->val.integer;
            } else if (var->type == ASN_OCTET_STR && var->val.string != nullptr) {
                v.bytes.assign(reinterpret_cast<const char *>(var->val.string), var->val_len);
            }
            status = snmp_host_set(name, v);
            if (status != SNMP_NO_ERROR) {
                netsnmp_set_request_error(reqinfo, r, status);
            }
            break;
        }
        default: break;
        }
    }
    return SNMP_ERR_NOERROR;
}

void on_signal(int)
{
    stopping = true;
}

} // namespace

int main(int argc, char **argv)
{
    const char *socket_path = getenv("PTP_AGENTX_SOCKET");
    const char *mib_dir = getenv("PTP_MIB_DIR");
    std::vector<std::string> modules;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--agentx-socket" && i + 1 < argc) {
            socket_path = argv[++i];
        } else if (arg == "--mib-dir" && i + 1 < argc) {
            mib_dir = argv[++i];
        } else if (arg == "--module" && i + 1 < argc) {
            modules.emplace_back(argv[++i]);
        } else {
            fprintf(stderr, "usage: %s [--agentx-socket PATH] [--mib-dir DIR] [--module NAME]...\n", AGENT_NAME);
            return 2;
        }
    }
    if (modules.empty()) {
        modules = {"zelvoPtpmib", "zelvoPtpmibv2"};
    }
    const std::string dir = mib_dir != nullptr && mib_dir[0] != 0 ? mib_dir : "/pkg/lib/mib";

    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    evm = event_create_manager(nullptr, nullptr, 0);
    if (pipe2(trap_pipe, O_NONBLOCK | O_CLOEXEC) != 0 || evm == nullptr) {
        fprintf(stderr, "%s: cannot start: %s\n", AGENT_NAME, strerror(errno));
        return 1;
    }

    zerrno rc = snmp_host_init(evm);
    {
        if (rc == 0) {
            snmp_host_set_trap_sink(trap_sink);
            rc = snmp_host_follow_trap_config();
            if (rc != 0) {
                fprintf(stderr, "%s: cannot follow the trap-enable items: %s\n", AGENT_NAME, zerr_strerror(rc));
            }
        }
        for (const std::string &m : modules) {
            const std::string path = dir + "/" + m + ".so";
            if (snmp_host_load(path.c_str(), m.c_str()) != 0) {
                fprintf(stderr, "%s: cannot load %s\n", AGENT_NAME, path.c_str());
            }
        }
    }

    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 1);
    if (socket_path != nullptr && socket_path[0] != 0) {
        netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_X_SOCKET, socket_path);
    }
    // A master that is not there yet, or restarts, is found again.
    netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_PING_INTERVAL, 1);
    snmp_disable_log();
    snmp_enable_stderrlog();
    init_agent(AGENT_NAME);
    const std::vector<snmp_oid_arcs> roots = snmp_host_roots();
    for (const snmp_oid_arcs &root : roots) {
        const std::vector<oid> o = oid_of(root);
        netsnmp_handler_registration *reg =
            netsnmp_create_handler_registration(AGENT_NAME, handle_request, o.data(), o.size(), HANDLER_CAN_RWRITE);
        if (reg == nullptr || netsnmp_register_handler(reg) != MIB_REGISTERED_OK) {
            fprintf(stderr, "%s: cannot register %s\n", AGENT_NAME, snmp_oid_text(root).c_str());
        }
    }
    init_snmp(AGENT_NAME);
    register_readfd(trap_pipe[0], send_pending_traps, nullptr);
    struct timeval every = {0, 20000};
    snmp_alarm_register_hr(every, SA_REPEAT, serve_evm, nullptr);
    (void)sysmgr_proc_ready();

    while (!stopping.load()) {
        agent_check_and_process(1);
    }

    snmp_shutdown(AGENT_NAME);
    snmp_host_shutdown();
    evm_run_until_idle(evm);
    event_manager_destroy(evm);
    return 0;
}
