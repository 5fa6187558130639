// Recording fakes of the agent's neighbours that are not built yet (see tessel_agent_neighbours.h).
#include "tessel_agent_neighbours.h"

#include <algorithm>
#include <cstddef>

#include "evm.h"
#include "ptp_types.h"
#include "tessel_adjacency_types.h"

struct tessel_proto_idb_type;
struct ptp_fsm_foreign_master_type;
struct ptp_fsm_peer_entry_type;
struct tessel_peer_index_entry_type;

namespace {
std::mutex nb_mutex;
agent_nb_state_type nb_state;

void rec(const char *what)
{
    std::lock_guard<std::mutex> g(nb_mutex);
    nb_state.calls.emplace_back(what);
}

} // namespace

agent_nb_lock::agent_nb_lock() : guard(nb_mutex), state(nb_state) {}

void agent_nb_reset()
{
    std::lock_guard<std::mutex> g(nb_mutex);
    nb_state = agent_nb_state_type{};
}

std::vector<std::string> agent_nb_calls()
{
    std::lock_guard<std::mutex> g(nb_mutex);
    return nb_state.calls;
}

uint32_t agent_nb_count(const std::string &call)
{
    std::lock_guard<std::mutex> g(nb_mutex);
    return static_cast<uint32_t>(std::count(nb_state.calls.begin(), nb_state.calls.end(), call));
}

// ---- The protocol thread's checkpoint code ----
uint32_t tessel_chkpt_recovering = 0;
void tessel_chkpt_peer_index_update(tessel_proto_idb_type *, tessel_peer_index_entry_type *) {}
void tessel_chkpt_peer_index_delete(tessel_proto_idb_type *, tessel_peer_index_entry_type *) {}
void tessel_chkpt_if_update(tessel_proto_idb_type *) {}
void tessel_chkpt_if_delete(tessel_proto_idb_type *) {}
zerrno tessel_chkpt_if_fsm_restore(tessel_proto_idb_type *)
{
    return 0;
}
void tessel_chkpt_unicast_grant_update(ptp_fsm_peer_entry_type *) {}
void tessel_chkpt_unicast_grant_delete(ptp_fsm_peer_entry_type *) {}
void tessel_chkpt_gl_local_clock_update(uint64_t, uint32_t) {}
void tessel_chkpt_gl_bmc_update(const ptp_clock_type *, const ptp_clock_type *, uint32_t, uint32_t, uint32_t) {}
void tessel_chkpt_gl_profile_update(uint32_t, uint32_t) {}
void tessel_chkpt_gl_min_clock_class_update(uint8_t) {}
zerrno tessel_chkpt_tables_register(void)
{
    rec("chkpt_tables_register");
    return 0;
}
void tessel_chkpt_read(void)
{
    rec("chkpt_read");
}
zerrno tessel_chkpt_idt_timer_start(event_mgr_type *)
{
    return 0;
}
uint32_t tessel_chkpt_is_idt_timer_expired(void)
{
    return 0;
}
void tessel_chkpt_sweep_stale(void)
{
    rec("chkpt_sweep_stale");
}
void tessel_chkpt_shutdown(void)
{
    rec("chkpt_shutdown");
}
