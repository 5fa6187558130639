// Recording fakes of the agent's neighbours that are not built yet (see scenario_neighbours.h).
// Weak, so that a module's real definition takes precedence once it is linked.
#include "scenario_neighbours.h"

#include <cstddef>

#include "evm.h"
#include "ptp_types.h"
#include "tessel_adjacency_types.h"
#include "zerrno.h"

struct tessel_proto_idb_type;
struct ptp_fsm_foreign_master_type;
struct ptp_fsm_peer_entry_type;
struct tessel_peer_index_entry_type;

scn_neighbours_type scn_nb;

void scn_neighbours_reset()
{
    scn_nb = scn_neighbours_type{};
}

uint32_t scn_neighbours_count(const std::string &call)
{
    uint32_t n = 0;
    for (const std::string &c : scn_nb.calls) {
        n += c == call ? 1 : 0;
    }
    return n;
}

namespace {
void rec(const char *what)
{
    scn_nb.calls.emplace_back(what);
}
} // namespace

// ---- The packet-counter reader of the operational data, which answers through the IPC thread ----
void tessel_edm_resume_packet_counters_request(void) {}

// ---- Checkpoint: nothing to recover, every write noted ----
uint32_t tessel_chkpt_recovering = 0;
void tessel_chkpt_peer_index_update(tessel_proto_idb_type *, tessel_peer_index_entry_type *) {}
void tessel_chkpt_peer_index_delete(tessel_proto_idb_type *, tessel_peer_index_entry_type *) {}
void tessel_chkpt_if_update(tessel_proto_idb_type *)
{
    rec("chkpt_if_update");
}
void tessel_chkpt_if_delete(tessel_proto_idb_type *)
{
    rec("chkpt_if_delete");
}
zerrno tessel_chkpt_if_fsm_restore(tessel_proto_idb_type *)
{
    return 0;
}
void tessel_chkpt_unicast_grant_update(ptp_fsm_peer_entry_type *) {}
void tessel_chkpt_unicast_grant_delete(ptp_fsm_peer_entry_type *) {}
void tessel_chkpt_gl_local_clock_update(uint64_t, uint32_t)
{
    rec("chkpt_gl_local_clock");
}
void tessel_chkpt_gl_bmc_update(const ptp_clock_type *, const ptp_clock_type *, uint32_t, uint32_t, uint32_t)
{
    rec("chkpt_gl_bmc");
}
void tessel_chkpt_gl_profile_update(uint32_t, uint32_t) {}
void tessel_chkpt_gl_min_clock_class_update(uint8_t) {}
zerrno tessel_chkpt_tables_register(void)
{
    return 0;
}
void tessel_chkpt_read(void) {}
zerrno tessel_chkpt_idt_timer_start(event_mgr_type *)
{
    return 0;
}
uint32_t tessel_chkpt_is_idt_timer_expired(void)
{
    return 0;
}
void tessel_chkpt_sweep_stale(void) {}
void tessel_chkpt_shutdown(void) {}

// ---- Interface capabilities, global configuration, thread control, interface manager ----
bool tessel_intf_caps_supports_slave(void)
{
    return true;
}
bool tessel_intf_caps_supports_slave_ext(void)
{
    return false;
}
bool tessel_intf_caps_supports_platform_adjacency(void)
{
    return scn_nb.platform_adjacency;
}
uint8_t tessel_cfg_get_fsync_ql_option(void)
{
    return 1;
}
bool tessel_cfg_get_verify_checksum(void)
{
    return false;
}
// One thread plays both agent threads here.
bool tessel_thread_ctrl_is_proto_thread()
{
    return true;
}
bool tessel_thread_ctrl_is_ipc_thread_blocked()
{
    return true;
}
const char *im_state_name(uint32_t state)
{
    static const char *names[] = {"unknown", "created", "down", "up"};
    return state < 4 ? names[state] : "admin-down";
}
uint32_t imc_ifhandle_to_hash(ifhtype ifhandle, uint32_t key_bits)
{
    return key_bits == 0 ? 0 : (ifhandle * 0x9E3779B1u) >> (32 - key_bits);
}
