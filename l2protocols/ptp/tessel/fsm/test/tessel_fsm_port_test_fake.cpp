// Recording fakes around the state machine's frame: its services table, and the receive path,
// foreign-master and unicast modules, which this test program does not link (the build links
// only the frame's real modules into it, so a fake here can never stand in silently).

#include "tessel_fsm_port_test_fake.h"

#include "tessel_fsm.h"
#include "tessel_fsm_announce.h"
#include "tessel_fsm_peer_entry.h"
#include "tessel_fsm_proto.h"
#include "tessel_fsm_services.h"
#include "tessel_fsm_test_services.h"
#include "tessel_fsm_types.h"
#include "tessel_fsm_unicast.h"

fsm_fake_state_type fsm_fake;

namespace {
void rec(const char *what)
{
    fsm_fake.calls.emplace_back(what);
}
} // namespace

void fsm_fake_install_services();

void fsm_fake_reset()
{
    fsm_fake = fsm_fake_state_type{};
    fsm_fake_install_services();
}

// The services the state machine asks for, answered from fsm_fake and recorded.
void fsm_fake_install_services()
{
    ptp_fsm_services_type s = ptp_fsm_test_services_quiet();
    s.get_profile = [] { return fsm_fake.profile; };
    s.get_telecom_clock_type = [] { return fsm_fake.telecom_clock_type; };
    s.get_issu_role = [] { return fsm_fake.issu_role; };
    s.bmc_if_update = [](tessel_proto_idb_type *) { rec("bmc_if_update"); };
    s.fib_idb_unregister = [](tessel_proto_idb_type *) { rec("fib_unreg"); };
    s.offload_if_session_update = [](tessel_proto_idb_type *) { rec("if_session"); };
    s.offload_foreign_master_session_update = [](ptp_fsm_foreign_master_type *) { rec("fm_session"); };
    s.offload_unicast_peer_session_update = [](ptp_fsm_peer_entry_type *) { rec("peer_session"); };
    s.offload_idb_sessions_update = [](tessel_proto_idb_type *) { rec("sessions_update"); };
    s.count_packet_drop = [](tessel_proto_idb_type *, uint32_t cls, uint32_t n) {
        fsm_fake.calls.push_back("drop_class:" + std::to_string(cls) + "x" + std::to_string(n));
    };
    s.count_drop_reason = [](uint32_t reason, uint32_t n) {
        fsm_fake.calls.push_back("drop_reason:" + std::to_string(reason) + "x" + std::to_string(n));
    };
    ptp_fsm_services_set(&s);
}

// Unicast peers.
zerrno ptp_fsm_proto_module_init(void)
{
    return 0;
}
void ptp_fsm_proto_module_deinit(void) {}
zerrno ptp_fsm_unicast_port_init(tessel_proto_idb_type *port)
{
    avl2_init(&port->fsm.unicast_peer_tree, avl2_builtin_compare(AVL2_CMP_U32), nullptr);
    return 0;
}
void ptp_fsm_unicast_port_shutdown(tessel_proto_idb_type *) {}
void ptp_fsm_unicast_allow_grants(tessel_proto_idb_type *)
{
    rec("allow_grants");
}
void ptp_fsm_unicast_end_grants(tessel_proto_idb_type *)
{
    rec("end_grants");
}
void ptp_fsm_unicast_peer_sweep(tessel_proto_idb_type *)
{
    rec("sweep");
}
void ptp_fsm_unicast_delete_all_peers(tessel_proto_idb_type *)
{
    rec("delete_all_peers");
}
ptp_fsm_peer_entry_type *ptp_fsm_unicast_peer_entry_find(tessel_proto_idb_type *, const ptp_address_type *)
{
    return nullptr;
}
void ptp_fsm_unicast_peer_entry_delete(ptp_fsm_peer_entry_type *, uint32_t)
{
    rec("peer_delete");
}

// Receive dispatch and foreign masters.
bool ptp_fsm_proto_foreign_master_tree_init(tessel_proto_idb_type *)
{
    return true;
}
void ptp_fsm_proto_foreign_master_tree_destroy(tessel_proto_idb_type *) {}
void ptp_fsm_proto_start_listening(tessel_proto_idb_type *port)
{
    rec("listen");
    port->fsm.is_listening = 1;
    port->fsm.announce_timer_running = 1;
}
void ptp_fsm_proto_end_listening(tessel_proto_idb_type *port)
{
    rec("end_listen");
    port->fsm.is_listening = 0;
    port->fsm.announce_timer_running = 0;
}
void ptp_fsm_proto_start_slave(tessel_proto_idb_type *)
{
    rec("slave_start");
}
void ptp_fsm_proto_reset_slave(tessel_proto_idb_type *)
{
    rec("slave_reset");
}
void ptp_fsm_proto_stop_slave(tessel_proto_idb_type *port)
{
    rec("slave_stop");
    for (int i = 0; i < fsm_fake.fmc_postpones_in_slave_stop; i++) {
        ptp_fsm_announce_best_foreign_master_changed(port);
    }
}
void ptp_fsm_proto_slave_config_change(tessel_proto_idb_type *)
{
    rec("slave_table");
}
void ptp_fsm_proto_master_config_change(tessel_proto_idb_type *)
{
    rec("master_table");
}
void ptp_fsm_proto_foreign_master_relisten(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *, bool slaving)
{
    rec(slaving ? "relisten:slaving" : "relisten");
}
zerrno ptp_fsm_proto_best_foreign_master_restore(tessel_proto_idb_type *, const tessel_chkpt_foreign_master_type *,
                                                 bool slaving, bool start_listening)
{
    fsm_fake.calls.push_back(std::string("restore") + (slaving ? ":slaving" : "") +
                             (start_listening ? ":listening" : ""));
    return fsm_fake.restore_result;
}
void ptp_fsm_proto_foreign_master_delete(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *, uint32_t options)
{
    fsm_fake.calls.push_back("fm_delete:" + std::to_string(options));
}

// Foreign-master data set.
zerrno ptp_fsm_announce_timers_create(tessel_proto_idb_type *)
{
    return 0;
}
void ptp_fsm_announce_timers_destroy(tessel_proto_idb_type *) {}
void ptp_fsm_announce_best_foreign_master_changed(tessel_proto_idb_type *port)
{
    if (ptp_fsm_postpone_if_locked(port, PTP_FSM_SCHEDULED_FUNCTION_FMC)) {
        return;
    }
    rec("fmc");
}
void ptp_fsm_announce_foreign_master_qualify(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *, int no_rank)
{
    rec(no_rank ? "qualify:no_rank" : "qualify");
}
void ptp_fsm_announce_foreign_master_unrank(tessel_proto_idb_type *, ptp_fsm_foreign_master_type *)
{
    rec("unrank");
}
