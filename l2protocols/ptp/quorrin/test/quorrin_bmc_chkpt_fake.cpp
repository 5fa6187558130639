// Recording fake of best-master selection's checkpoint half.
#include "quorrin_fakes.h"

zerrno quorrin_bmc_chkpt_register(void)
{
    quorrin_fake_record("quorrin_bmc_chkpt_register");
    return quorrin_fake_result("quorrin_bmc_chkpt_register");
}

void quorrin_bmc_chkpt_clock_save(quorrin_bmc_clock_type *record)
{
    quorrin_fake_record("quorrin_bmc_chkpt_clock_save " + std::to_string(record->node_id));
}

void quorrin_bmc_chkpt_clock_delete(quorrin_bmc_clock_type *record)
{
    quorrin_fake_record("quorrin_bmc_chkpt_clock_delete " + std::to_string(record->node_id));
}

void quorrin_bmc_chkpt_global_write(void)
{
    quorrin_fake_record("quorrin_bmc_chkpt_global_write");
}

void quorrin_bmc_chkpt_shutdown(void)
{
    quorrin_fake_record("quorrin_bmc_chkpt_shutdown");
}

void quorrin_bmc_go_primary_active(void)
{
    quorrin_fake_record("quorrin_bmc_go_primary_active");
}

void quorrin_bmc_chkpt_global_recover(void)
{
    quorrin_fake_record("quorrin_bmc_chkpt_global_recover");
}

void quorrin_bmc_chkpt_global_ndt(const chkpt_ndt_type *notice)
{
    quorrin_fake_record("quorrin_bmc_chkpt_global_ndt " + std::to_string(notice->table_id));
}

void quorrin_bmc_chkpt_clock_ndt(const chkpt_ndt_type *notice)
{
    quorrin_fake_record("quorrin_bmc_chkpt_clock_ndt " + std::to_string(notice->table_id));
}
