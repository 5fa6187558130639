// Recording fakes of what the checkpoint writers call and these tests do not link: the record
// encoding (each record is "encoded" as a short text naming it, so the stored bytes show which
// record was written), the upgrade role, the agent-active flag, the state machine's best foreign
// master, the port counters, the inter-thread sends of the service's notices and the thread checks.
#include "tessel_chkpt_test_fake.h"

#include <cstring>

#include "tessel_fsm_types.h"
#include "tessel_stats.h"

chkpt_fake_state_type chkpt_fake;

void chkpt_fake_reset()
{
    chkpt_fake = chkpt_fake_state_type{};
}

namespace {

void encode_text(const std::string &text, uint8_t *buffer, size_t *len)
{
    chkpt_fake.encoded.push_back(text);
    std::memcpy(buffer, text.data(), text.size());
    *len = text.size();
}

} // namespace

std::string chkpt_fake_stored(uint32_t table_id, chkpt_objid objid)
{
    char buffer[TESSEL_CHKPT_RECORD_SIZE];
    uint32_t len = sizeof buffer;
    if (chkpt_get(tessel_chkpt_table(table_id), objid, buffer, &len) != 0) {
        return "<none>";
    }
    return std::string(buffer, len);
}

void tessel_gpb_if_encode(tessel_chkpt_if_type *rec, uint8_t *buffer, size_t *len)
{
    const size_t size = tessel_chkpt_if_size(rec->num_ipv4_addr, rec->num_ipv6_addr);
    const auto *bytes = reinterpret_cast<const uint8_t *>(rec);
    chkpt_fake.if_rec.assign(bytes, bytes + size);
    encode_text("if:" + std::string(rec->ifname) + ":" + std::to_string(rec->port_state), buffer, len);
    if (chkpt_fake.if_too_big) {
        *len = 0;
    }
}

void tessel_gpb_gl_encode(tessel_chkpt_gl_type *rec, uint8_t *buffer, size_t *len)
{
    chkpt_fake.gl = *rec;
    encode_text("gl:" + std::to_string(rec->profile), buffer, len);
}

void tessel_gpb_unicast_grant_encode(tessel_chkpt_unicast_grant_type *rec, uint8_t *buffer, size_t *len)
{
    chkpt_fake.grant = *rec;
    encode_text("grant:" + std::string(rec->ifname) + ":" + std::to_string(rec->grant_flags), buffer, len);
}

void tessel_gpb_peer_index_encode(tessel_chkpt_peer_index_type *rec, uint8_t *buffer, size_t *len)
{
    chkpt_fake.peer_index = *rec;
    encode_text("peer_index:" + std::string(rec->ifname) + ":" + std::to_string(rec->peer_index), buffer, len);
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
