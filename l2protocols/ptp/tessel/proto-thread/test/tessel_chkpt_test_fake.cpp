// Recording fakes of what the checkpoint writers call and their tests do not link: the upgrade
// role, the agent-active flag, the state machine's best foreign master, the port counters, the inter-thread sends of the service's notices and the thread checks.
#include "tessel_chkpt_test_fake.h"

#include <cstring>

#include "tessel_fsm_types.h"
#include "tessel_stats.h"

chkpt_fake_state_type chkpt_fake;

void chkpt_fake_reset()
{
    chkpt_fake = chkpt_fake_state_type{};
}

std::string chkpt_fake_stored(uint32_t table_id, chkpt_objid objid)
{
    char buffer[TESSEL_CHKPT_RECORD_SIZE];
    uint32_t len = sizeof buffer;
    if (chkpt_get(tessel_chkpt_table(table_id), objid, buffer, &len) != 0) {
        return "<none>";
    }
    return std::string(buffer, len);
}

uint32_t tessel_issu_get_issu_role(void)
{
    return chkpt_fake.role;
}

bool tessel_main_is_active(void)
{
    return chkpt_fake.active;
}

void ptp_fsm_proto_best_foreign_master_get_chkpt(tessel_proto_idb_type *, int *present,
                                                 tessel_chkpt_foreign_master_type *rec)
{
    *present = chkpt_fake.fm_present;
    if (chkpt_fake.fm_present != 0) {
        *rec = chkpt_fake.fm;
    }
}

void tessel_stats_increment_proto_idb_event_counter(tessel_proto_idb_type *idb, uint32_t type)
{
    idb->event_counters[type]++;
}

void tessel_thread_ctrl_send_idt(uint32_t notice)
{
    chkpt_fake.idt_sent.push_back(notice);
    if (chkpt_fake.idt_forward != nullptr) {
        chkpt_fake.idt_forward(notice);
    }
}

void tessel_thread_ctrl_send_ndt(const void *notice)
{
    chkpt_ndt_type ndt;
    std::memcpy(&ndt, notice, sizeof ndt);
    chkpt_fake.ndt_sent.push_back(ndt.type);
    if (chkpt_fake.ndt_forward != nullptr) {
        chkpt_fake.ndt_forward(notice);
    }
}

// The counters' thread checks: the test is the protocol thread.
bool tessel_thread_ctrl_is_proto_thread()
{
    return true;
}
bool tessel_thread_ctrl_is_ipc_thread_blocked()
{
    return false;
}
