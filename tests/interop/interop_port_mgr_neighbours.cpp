// The port manager's neighbours that are not built yet, for the interop programs: they link the
// real port manager and best-master list (through the real state machine's services), whose
// calls into these modules only need to succeed quietly here. A module that gets built replaces
// its lines here; linking both is a duplicate definition, never a silent choice.
#include <cstdint>

#include "evm.h"
#include "ptp_types.h"
#include "tessel_adjacency_types.h"
#include "tessel_port_mgr_deps.h"

struct tessel_peer_index_entry_type;

// Slave-lost trap.
zerrno tessel_proto_edm_trap_init(event_mgr_type *)
{
    return 0;
}
void tessel_proto_edm_trap_cleanup(void) {}
void tessel_proto_edm_trap_generate_slave_lost(const ptp_address_type *, const ptp_address_type *, int) {}
// Checkpoint.
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
// Interface capabilities, global configuration, interface manager.
bool tessel_intf_caps_supports_slave(void)
{
    return true;
}
bool tessel_intf_caps_supports_slave_ext(void)
{
    return true;
}
uint8_t tessel_cfg_get_fsync_ql_option(void)
{
    return 1;
}
const char *im_state_name(uint32_t state)
{
    static const char *names[] = {"unknown", "created", "down", "up"};
    return state < 4 ? names[state] : "admin-down";
}
