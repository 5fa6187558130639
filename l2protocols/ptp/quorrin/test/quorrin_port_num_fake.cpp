// Recording fake of port-number allocation.
#include "quorrin_fakes.h"
#include "quorrin_port_num.h"

namespace {

uint32_t active_count = 0;
const bool registered = quorrin_fake_on_reset([] { active_count = 0; });

} // namespace

uint32_t &quorrin_fake_port_num_active_count()
{
    (void)registered;
    return active_count;
}

uint32_t quorrin_port_num_get_active_count(void)
{
    return active_count;
}

zerrno quorrin_port_num_init(event_mgr_type *)
{
    quorrin_fake_record("quorrin_port_num_init");
    return quorrin_fake_result("quorrin_port_num_init");
}

void quorrin_port_num_restore(void)
{
    quorrin_fake_record("quorrin_port_num_restore");
}

void quorrin_port_num_shutdown(bool delete_entries)
{
    quorrin_fake_record(std::string("quorrin_port_num_shutdown ") + (delete_entries ? "1" : "0"));
}

void quorrin_port_num_chkpt_ndt(const chkpt_ndt_type *notice)
{
    quorrin_fake_record("quorrin_port_num_chkpt_ndt " + std::to_string(notice->table_id));
}

void quorrin_port_num_chkpt_delete_all(void)
{
    quorrin_fake_record("quorrin_port_num_chkpt_delete_all");
}
